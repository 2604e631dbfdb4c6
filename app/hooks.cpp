#include "app/hooks.h"

namespace {
AppHooks g_hooks = {};
}

void AppHooks_Install(const AppHooks* hooks) { g_hooks = hooks ? *hooks : AppHooks{}; }

const AppHooks* AppHooks_Get(void) { return &g_hooks; }

void AppHooks_Trace(const char* step)
{
    if (g_hooks.trace) g_hooks.trace(step);
}

void AppHooks_FrameTick(void)
{
    if (g_hooks.frameTick) g_hooks.frameTick();
}
