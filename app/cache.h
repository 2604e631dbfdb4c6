// Hashed cache: converted data (compiled configuration, mesh and scene
// caches, ...) lives under "Data\Cache" in files named after the name hash of
// their source. The top hashBits bits of the hash choose the sub-folder.
#pragma once

#include <cstdint>

// Longest cache name the functions below write, NUL included.
constexpr int CACHE_NAME_MAX = 128;

// Sets the number of folder bits (1..16; 6 in the game) and creates
// "Data\Cache", its 2^bits folders and their four platform folders.
// Folders that exist already, or can't be made, are passed over.
void Cache_Init(int hashBits);

// Writes "Cache\%.2x\%.8x[.ext]" (with "Data\" in front when dataPrefix) into
// out, which holds CACHE_NAME_MAX bytes; the extension is cut to fit.
char* Cache_MakeName(char* out, uint32_t hash, int dataPrefix, const char* extension);
// Cache_MakeName for Name_Hash(source, 0, 1) (case ignored, blanks and
// back-slashes count), the extension formatted from its format and arguments.
char* Cache_NameFromSource(char* out, const char* source, int dataPrefix,
                           const char* extensionFormat, ...)
    __attribute__((format(printf, 4, 5)));

// 1 when the cache file must be rebuilt, 0 when it can be used. With an
// archive mounted the cache's presence decides; otherwise it is stale when
// missing or older than its source, and fresh when the source is missing.
int Cache_IsStale(const char* source, const char* cache);
