#include "gfx/core/platform.h"

namespace {
PlatformFunctions g_platform = {};
}

void Platform_Install(const PlatformFunctions* functions) { g_platform = functions ? *functions : PlatformFunctions{}; }

uint32_t Platform_GetTimeMs(void) { return g_platform.getTimeMs ? g_platform.getTimeMs() : 0; }
int32_t Platform_IsPAL(void) { return g_platform.isPAL ? g_platform.isPAL() : 0; }
int32_t Platform_GetLanguage(void) { return g_platform.getLanguage ? g_platform.getLanguage() : 0; }

void Platform_Terminate(void)
{
    if (g_platform.terminate) g_platform.terminate();
}

char** Platform_GetCommandLine(int32_t* count)
{
    if (g_platform.getCommandLine) return g_platform.getCommandLine(count);
    if (count) *count = 0;
    return nullptr;
}
