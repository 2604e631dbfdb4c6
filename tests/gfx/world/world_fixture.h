// Test harness for the world library: the engine opened and started through
// the Direct3D 8 driver with the world plugins attached, a resource arena, and
// memory functions that count live blocks (leak checks compare counts around
// an operation) and can refuse blocks above a bound. Helpers write objects to
// memory streams and open them again for reading.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/bytes.h"
#include "gfx/core/error.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/material.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"
#include "gfx/world/worldties.h"
#include "platform/direct3d/d3d8_test.h"
#include "platform/direct3d/rasteriser_format.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"
#include "tests/gfx/world/world_shapes.h"

namespace worldtest {

struct Counter {
    long live = 0;
    size_t limit = (size_t)-1;  // larger blocks are refused
};
inline Counter& Count()
{
    static Counter c;
    return c;
}

constexpr size_t kHeader = 16;  // keeps the caller's block 16-byte aligned

inline void* Alloc(size_t n)
{
    if (n > Count().limit) return nullptr;
    char* p = (char*)malloc(n + kHeader);
    if (!p) return nullptr;
    Count().live++;
    return p + kHeader;
}
inline void Free(void* p)
{
    if (!p) return;
    Count().live--;
    free((char*)p - kHeader);
}
inline void* Realloc(void* p, size_t n)
{
    if (!p) return Alloc(n);
    if (n > Count().limit) return nullptr;
    char* q = (char*)realloc((char*)p - kHeader, n + kHeader);
    return q ? q + kHeader : nullptr;
}
inline void* Calloc(size_t count, size_t size)
{
    if (size && count > Count().limit / size) return nullptr;
    void* p = Alloc(count * size);
    if (p) memset(p, 0, count * size);
    return p;
}

// A memory stream's bytes.
using Bytes = std::vector<uint8_t>;

inline Stream* OpenWrite() { return Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr); }
inline Bytes CloseWrite(Stream* s)
{
    StreamMemory m = {};
    Stream_Close(s, &m);
    Bytes out(m.start, m.start + m.length);
    Engine_Free(m.start);
    return out;
}
// The stream reads from `bytes`, which must outlive it.
inline Stream* OpenRead(Bytes& bytes)
{
    StreamMemory m = {bytes.data(), (uint32_t)bytes.size()};
    return Stream_Open(STREAM_MEMORY, STREAM_READ, &m);
}
inline uint32_t U32(const Bytes& b, size_t at) { return Bytes_LoadU32(b.data() + at); }
inline void PutU32(Bytes& b, size_t at, uint32_t v) { Bytes_StoreU32(b.data() + at, v); }

}  // namespace worldtest

class WorldTest : public D3D8DriverTest {
protected:
    size_t arenaSize = 4u << 20;

    void SetUp() override { StartWorld(); }
    void TearDown() override
    {
        EndFrame();
        D3D8DriverTest::TearDown();
        worldtest::Count().limit = (size_t)-1;
    }
    // Opens and starts the engine with the world attached (answers first).
    void StartWorld()
    {
        if (answers.desktopWidth == 0) {
            answers.desktopWidth = 640;
            answers.desktopHeight = 480;
        }
        D3D8Test_SetAnswers(&answers);
        window =
            Window_Create("world test", (int32_t)answers.desktopWidth, (int32_t)answers.desktopHeight, WINDOW_HEADLESS);
        ASSERT_NE(window, nullptr);
        Image_InstallModule();
        Raster_InstallModule();
        Texture_InstallModule();
        D3D8_InstallDriver();
        MemoryFunctions memory = {worldtest::Alloc, worldtest::Free, worldtest::Realloc, worldtest::Calloc};
        ASSERT_EQ(Engine_Init(&memory, 0, arenaSize), 1);
        ASSERT_EQ(World_PluginAttach(), 1);
        RegisterPlugins();
        ASSERT_EQ(Engine_Open(&window), 1);
        opened = true;
        StartEngine(0);
        BeginFrame();
    }
    // The picture fn draws with camera: cleared to `clear` (r, g, b, a), the
    // back buffer's pixels (0xAARRGGBB) returned row by row.
    template <typename Fn>
    std::vector<uint32_t> Snapshot(Camera* camera, Fn fn, const uint8_t* clear = nullptr)
    {
        static const uint8_t kGrey[4] = {64, 64, 64, 255};
        EndFrame();
        if (!Camera_BeginUpdate(camera)) return {};
        Camera_Clear(camera, (void*)(clear ? clear : kGrey), 3);
        fn();
        Camera_EndUpdate(camera);
        D3D8Test_Finish();  // the device draws deferred
        const D3D8DrawSurface& s = D3D8_DeviceState()->backBuffer->surface;
        std::vector<uint32_t> out((size_t)s.width * s.height);
        const int bpp = RasteriserFormat_BytesPerPixel(s.format);
        for (int y = 0; y < s.height; y++)
            for (int x = 0; x < s.width; x++)
                out[(size_t)y * s.width + x] =
                    RasteriserFormat_Load(s.format, s.pixels + (size_t)y * s.pitch + (size_t)x * bpp);
        if (!D3D8_System()->inScene) BeginFrame();
        return out;
    }
    // Tests that need plugins of their own register them here.
    virtual void RegisterPlugins() {}
    static long Live() { return worldtest::Count().live; }
    static int32_t TakeError() { return Error_TakeCode(); }

    // A material with the given colour (caller releases).
    static Material* MakeMaterial(uint8_t r = 255, uint8_t g = 255, uint8_t b = 255, uint8_t a = 255)
    {
        Material* m = Material_Create();
        m->colour[0] = r, m->colour[1] = g, m->colour[2] = b, m->colour[3] = a;
        return m;
    }
    // The geometry chunk of g, and g read back from such bytes (null on failure).
    static worldtest::Bytes WriteGeometry(const Geometry* g)
    {
        Stream* s = worldtest::OpenWrite();
        EXPECT_NE(Geometry_StreamWrite(g, s), nullptr);
        return worldtest::CloseWrite(s);
    }
    static Geometry* ReadGeometry(worldtest::Bytes& bytes)
    {
        Stream* s = worldtest::OpenRead(bytes);
        Geometry* g = Stream_FindChunk(s, CHUNK_GEOMETRY, nullptr, nullptr) ? Geometry_StreamRead(s) : nullptr;
        Stream_Close(s, nullptr);
        return g;
    }
    // A grid of n x n quads (world_shapes.h) with every triangle on material.
    static Geometry* MakeGrid(int n, float size, uint32_t flags, Material* material, float z = 0)
    {
        return worldshapes::Grid(n, n, size, flags, material, z);
    }
};

// With a current texture dictionary and a texture reader that knows "brick"
// and "stone" (4 x 4 rasters) and nothing else.
class WorldTextureTest : public WorldTest {
protected:
    TextureDictionary* dictionary = nullptr;
    static Texture* ReadTexture(const char* name, const char*)
    {
        if (strcmp(name, "brick") && strcmp(name, "stone")) return nullptr;
        Texture* t = Texture_Create(Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMAT8888));
        Texture_SetName(t, name);
        return t;
    }
    void SetUp() override
    {
        WorldTest::SetUp();
        dictionary = TextureDictionary_Create();
        TextureDictionary_SetCurrent(dictionary);
        Texture_SetReadCallback(ReadTexture);
    }
    void TearDown() override
    {
        TextureDictionary_SetCurrent(nullptr);
        TextureDictionary_Destroy(dictionary);
        WorldTest::TearDown();
    }
};
