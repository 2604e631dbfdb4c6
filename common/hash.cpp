#include "common/hash.h"

#include "common/strings.h"

namespace {

// White space of the "C" locale, fixed here so that a locale change can never
// change a hash.
bool IsSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

uint32_t Name_Hash(const char* name, int skipSpaces, int upperCase)
{
    if (!name)
        return 0;
    uint32_t h = 0;
    uint32_t i = 1;
    uint32_t m = NAME_HASH_K;
    for (const char* p = name;; ++p) {
        if (skipSpaces)
            while (IsSpace(*p))
                ++p;
        if (*p == 0)
            break;
        int32_t ch = (signed char)(upperCase ? String_UpperAscii(*p) : *p);
        h += (uint32_t)ch * i * m;
        m *= NAME_HASH_K;
        ++i;
    }
    return h;
}

uint32_t Bytes_Hash(const void* data, size_t length)
{
    const unsigned char* bytes = (const unsigned char*)data;
    uint32_t h = 0;
    uint32_t m = NAME_HASH_K;
    for (size_t i = 0; i < length; ++i) {
        h += ((uint32_t)bytes[i] + 1) * (uint32_t)(i + 1) * m;
        m *= NAME_HASH_K;
    }
    return h;
}
