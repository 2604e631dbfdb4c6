#include "platform/win32/com.h"

namespace {
int32_t g_initCount = 0;  // main thread only, like every caller
}

HResult Com_Initialize(void*) { return g_initCount++ == 0 ? S_OK : S_FALSE; }

void Com_Uninitialize()
{
    if (g_initCount > 0) g_initCount--;
}

int32_t Com_GetInitCount() { return g_initCount; }

uint32_t ComObject::AddRef() { return ++refs; }

uint32_t ComObject::Release()
{
    uint32_t left = --refs;
    if (left == 0) delete this;
    return left;
}
