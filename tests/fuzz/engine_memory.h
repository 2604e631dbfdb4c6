// The graphics engine's memory for the fuzz targets that open it: functions
// that count live blocks (an input must leave as many as it found) and
// refuse blocks above a bound, so that a huge count no chunk size bounds
// ends as a clean out-of-memory failure; and a texture reader that turns any
// name into a small texture.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"

namespace enginefuzz {

constexpr size_t kLimit = 32u << 20;  // larger blocks are refused
constexpr size_t kHeader = 16;        // keeps the caller's block 16-byte aligned
inline long g_live = 0;

inline void* Alloc(size_t n)
{
    if (n > kLimit) return nullptr;
    char* p = (char*)malloc(n + kHeader);
    if (!p) return nullptr;
    g_live++;
    return p + kHeader;
}
inline void Free(void* p)
{
    if (!p) return;
    g_live--;
    free((char*)p - kHeader);
}
inline void* Realloc(void* p, size_t n)
{
    if (!p) return Alloc(n);
    if (n > kLimit) return nullptr;
    char* q = (char*)realloc((char*)p - kHeader, n + kHeader);
    return q ? q + kHeader : nullptr;
}
inline void* Calloc(size_t count, size_t size)
{
    if (size && count > kLimit / size) return nullptr;
    void* p = Alloc(count * size);
    if (p) memset(p, 0, count * size);
    return p;
}
inline const MemoryFunctions kMemory = {Alloc, Free, Realloc, Calloc};

// Any texture name reads as a small texture.
inline Texture* ReadTexture(const char* name, const char*)
{
    Texture* t = Texture_Create(Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMAT8888));
    if (t) Texture_SetName(t, name);
    return t;
}

}  // namespace enginefuzz
