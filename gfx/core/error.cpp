#include "gfx/core/error.h"

namespace {
ErrorRecord g_pending = {0, (int32_t)ERR_NO_ERROR};
}

void Error_Set(const ErrorRecord* record)
{
    if (!record) return;
    if (g_pending.pluginId != 0 || g_pending.code != (int32_t)ERR_NO_ERROR) return;
    g_pending.pluginId = record->code >= 0 ? record->pluginId : 0;
    g_pending.code = record->code;
}

ErrorRecord* Error_Get(ErrorRecord* out)
{
    if (out) *out = g_pending;
    g_pending.pluginId = 0;
    g_pending.code = (int32_t)ERR_NO_ERROR;
    return out;
}

int32_t Error_PassCode(int32_t code) { return code; }

void Error_Raise(uint32_t code)
{
    ErrorRecord r = {1, Error_PassCode((int32_t)code)};
    Error_Set(&r);
}

int32_t Error_TakeCode(void)
{
    ErrorRecord r;
    Error_Get(&r);
    return r.code;
}

void* Error_ModuleOpen(void* instance, int32_t, int32_t) { return instance; }

void* Error_ModuleClose(void* instance, int32_t, int32_t) { return instance; }
