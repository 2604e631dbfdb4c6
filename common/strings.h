// Small string functions shared by the configuration, text and command-line
// code: truth words, a case-insensitive search, an in-place tokeniser and a
// hexadecimal reader. White space is that of the "C" locale whatever the
// current locale is.
#pragma once

#include <cstdint>

// The one case folding of names (archive paths, saves, data paths, texture
// names): the ASCII letters 'a'-'z' become upper case, every other byte stays
// as it is, whatever the locale.
inline char String_UpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

// 1 when the two strings are equal after String_UpperAscii, else 0.
int String_EqualNoCase(const char* a, const char* b);

// 1 for "TRUE", "YES", "ON" or "1" in any case; 0 for anything else (null too).
int String_ToBool(const char* text);

// The first place in `haystack` where `needle` matches without regard to
// ASCII case, or null. An empty needle matches at the start of a non-empty
// haystack; an empty haystack never matches.
const char* String_FindNoCase(const char* haystack, const char* needle);
inline char* String_FindNoCase(char* haystack, const char* needle)
{
    return (char*)String_FindNoCase((const char*)haystack, needle);
}

// Splits `text` in place, writing a terminator over the first character of
// each separator, and stores at most `maxParts` part pointers in `parts`
// (which may be null to count only). `separator` null: runs of white space
// separate; otherwise the exact string does. `quotes`: double quotes group,
// and are cut off the part that starts with them. Returns the number of parts
// in the text, which can exceed maxParts: callers must not index past
// maxParts. "" gives 0; a separator at either end gives an empty part.
int String_Tokenise(char* text, char** parts, int maxParts, const char* separator = nullptr,
                    int quotes = 0);

// String_Tokenise at runs of white space.
int String_TokeniseWhitespace(char* text, char** parts, int maxParts, int quotes = 0);

// Reads up to eight significant hexadecimal digits (leading zeros do not
// count) and stops at the first other character, or where one more digit
// would overflow 32 bits. `end`, when given, receives the first character not
// used. Null or "" gives 0.
uint32_t String_ParseHex(const char* text, const char** end = nullptr);

// `flags` with `bits` set when `on` is non-zero, cleared otherwise.
uint32_t Flags_Set(uint32_t flags, uint32_t bits, int on);
