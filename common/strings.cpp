#include "common/strings.h"

#include <cstring>
#include <strings.h>

namespace {

bool IsSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

int String_ToBool(const char* text)
{
    if (!text)
        return 0;
    static const char* const kTrue[] = {"TRUE", "YES", "ON", "1"};
    for (const char* word : kTrue)
        if (strcasecmp(text, word) == 0)
            return 1;
    return 0;
}

int String_EqualNoCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        if (String_UpperAscii(*a) != String_UpperAscii(*b))
            return 0;
        if (*a == 0)
            return 1;
    }
}

const char* String_FindNoCase(const char* haystack, const char* needle)
{
    if (!haystack || !needle || *haystack == 0)
        return nullptr;
    size_t length = strlen(needle);
    for (const char* at = haystack; *at; ++at) {
        size_t i = 0;
        while (i < length && at[i] && String_UpperAscii(at[i]) == String_UpperAscii(needle[i]))
            ++i;
        if (i == length)
            return at;
    }
    return nullptr;
}

int String_Tokenise(char* text, char** parts, int maxParts, const char* separator, int quotes)
{
    if (!text || *text == 0)
        return 0;
    if (parts && maxParts > 0)
        parts[0] = text;
    int count = 1;
    bool inQuote = false;
    size_t sepLength = separator ? strlen(separator) : 0;
    char* at = text;
    while (*at) {
        if (quotes && *at == '"') {
            if (!inQuote) {
                // A quote inside a part past the array has no pointer to move.
                if (parts && count <= maxParts)
                    ++parts[count - 1];
                inQuote = true;
            } else {
                *at = 0;
                inQuote = false;
            }
            ++at;
            continue;
        }
        if (inQuote) {
            ++at;
            continue;
        }
        char* behind = nullptr;
        if (!separator) {
            if (IsSpace(*at)) {
                behind = at;
                while (IsSpace(*behind))
                    ++behind;
            }
        } else if (sepLength > 0 && strncmp(at, separator, sepLength) == 0) {
            behind = at + sepLength;
        }
        if (!behind) {
            ++at;
            continue;
        }
        *at = 0;
        if (parts && count < maxParts)
            parts[count] = behind;
        ++count;
        at = behind;
    }
    return count;
}

int String_TokeniseWhitespace(char* text, char** parts, int maxParts, int quotes)
{
    return String_Tokenise(text, parts, maxParts, nullptr, quotes);
}

uint32_t String_ParseHex(const char* text, const char** end)
{
    uint32_t value = 0;
    const char* at = text;
    if (at) {
        while (value <= 0x0FFFFFFFu) {
            int digit = HexDigit(*at);
            if (digit < 0)
                break;
            value = value * 16 + (uint32_t)digit;
            ++at;
        }
    }
    if (end)
        *end = at;
    return value;
}

uint32_t Flags_Set(uint32_t flags, uint32_t bits, int on)
{
    return on ? (flags | bits) : (flags & ~bits);
}
