#include "engine/loaderror.h"

#include <cstdarg>
#include <cstdio>

namespace {

struct LoadErrorModule {
    char text[256];
};

LoadErrorModule g_loadError;

}  // namespace

void LoadError_Set(const char* format, ...)
{
    if (g_loadError.text[0]) return;
    va_list args;
    va_start(args, format);
    vsnprintf(g_loadError.text, sizeof g_loadError.text, format, args);
    va_end(args);
}

const char* LoadError_Get(void) { return g_loadError.text; }

void LoadError_Clear(void) { g_loadError.text[0] = 0; }
