#include "platform/win32/entry.h"

#include <SDL2/SDL.h>

#include <cstring>

namespace {

bool NeedsQuotes(const char* arg)
{
    if (!*arg)
        return true;
    for (const char* c = arg; *c; ++c)
        if (*c == ' ' || (*c >= '\t' && *c <= '\r'))
            return true;
    return false;
}

void Put(char c, char* out, size_t size, size_t* length)
{
    if (out && *length + 1 < size)
        out[*length] = c;
    ++*length;
}

}  // namespace

size_t Entry_BuildCommandLine(int argc, const char* const* argv, char* out, size_t size)
{
    size_t length = 0;
    for (int i = 1; i < argc && argv && argv[i]; ++i) {
        if (i > 1)
            Put(' ', out, size, &length);
        bool quote = NeedsQuotes(argv[i]);
        if (quote)
            Put('"', out, size, &length);
        for (const char* c = argv[i]; *c; ++c)
            Put(*c, out, size, &length);
        if (quote)
            Put('"', out, size, &length);
    }
    if (out && size > 0)
        out[length < size ? length : size - 1] = 0;
    return length;
}

void Entry_Shutdown() { SDL_Quit(); }
