// Name hashes. Every name in the system (configuration keys, callbacks,
// nodes, sounds, text keys, cache files, save folders) is compared through
// Name_Hash, and cache and save file names are built from it, so its value is
// fixed forever: h = sum over the counted characters c_i (i from 1) of
// c_i x i x 0x600937^i, modulo 2^32.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t NAME_HASH_K = 0x600937u;

// Hash of a NUL-terminated name; 0 for "" or null. Characters count as
// signed bytes (0x80 and above are negative). skipSpaces: white space is not
// counted at all. upperCase: ASCII letters are upper-cased first; other bytes
// are left as they are, whatever the locale.
uint32_t Name_Hash(const char* name, int skipSpaces = 0, int upperCase = 0);

// Hash of `length` bytes: each byte counts as unsigned value + 1, so zero
// bytes change the result. 0 for length 0.
uint32_t Bytes_Hash(const void* data, size_t length);
