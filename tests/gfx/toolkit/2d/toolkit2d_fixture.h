// Test harness for the 2D toolkit: the engine started on the Direct3D 8
// driver over a small headless window, with the picture-changing answers
// pinned (power-of-two textures, an X8R8G8B8 display), the PNG format
// registered, a camera on the whole window and the toolkit open on it with
// the window's pixels as user space. Helpers write font files and images,
// draw a frame and compare the back buffer with a golden image.
//
// Golden images live in tests/gfx/toolkit/2d/golden/. After an intended
// change in rendering, regenerate them with
//   HELM_REGEN_GOLDEN=1 build/tests/gfx_tests --gtest_filter='*Golden*'
// and look at every rewritten PNG before committing it.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gfx/core/camera.h"
#include "gfx/core/renderstate.h"
#include "gfx/driver/d3d8/d3d8rasterseam.h"
#include "gfx/toolkit/2d/brush2d.h"
#include "gfx/toolkit/2d/font2d.h"
#include "gfx/toolkit/2d/path2d.h"
#include "gfx/toolkit/2d/toolkit2d.h"
#include "gfx/toolkit/png/imagepng.h"
#include "platform/direct3d/d3d8_test.h"
#include "platform/direct3d/d3d8_present.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"
#include "tests/platform/direct3d/golden_match.h"
#include "tests/test_env.h"

namespace toolkit2dtest {

// Allocations through the engine come back filled with 0xA5 (also the part
// a reallocation adds), so that a read of memory nobody wrote shows.
struct Block {
    size_t size;
    size_t pad;
};
static_assert(sizeof(Block) == 16, "keeps 16-byte alignment");
inline void* Alloc(size_t size)
{
    Block* b = (Block*)malloc(sizeof(Block) + size);
    if (!b) return nullptr;
    b->size = size;
    memset(b + 1, 0xA5, size);
    return b + 1;
}
inline void Free(void* p)
{
    if (p) free((Block*)p - 1);
}
inline void* Realloc(void* p, size_t size)
{
    if (!p) return Alloc(size);
    void* q = Alloc(size);
    if (!q) return nullptr;
    const size_t old = ((Block*)p - 1)->size;
    memcpy(q, p, old < size ? old : size);
    Free(p);
    return q;
}
inline void* Calloc(size_t count, size_t size)
{
    void* p = Alloc(count * size);
    if (p) memset(p, 0, count * size);
    return p;
}
inline const MemoryFunctions kPoisoned = {Alloc, Free, Realloc, Calloc};

inline void Write(const std::string& path, const std::string& text)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

// Line-end styles of the metrics files the tests write.
enum class Ends { LF, CRLF, CRLFNoFinal };

inline std::string WithEnds(const std::string& text, Ends ends)
{
    if (ends == Ends::LF) return text;
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    if (ends == Ends::CRLFNoFinal && out.size() >= 2) out.resize(out.size() - 2);
    return out;
}

// A 32-bit image filled by fn(x, y) -> 0xAARRGGBB.
inline Image* MakeImage(int32_t w, int32_t h, const std::function<uint32_t(int32_t, int32_t)>& fn)
{
    Image* image = Image_Create(w, h, 32);
    Image_AllocatePixels(image);
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
            const uint32_t c = fn(x, y);
            uint8_t* p = image->pixels + (size_t)y * image->stride + 4 * (size_t)x;
            p[0] = (uint8_t)(c >> 16);
            p[1] = (uint8_t)(c >> 8);
            p[2] = (uint8_t)c;
            p[3] = (uint8_t)(c >> 24);
        }
    return image;
}

inline void WritePng(const std::string& path, int32_t w, int32_t h, const std::function<uint32_t(int32_t, int32_t)>& fn)
{
    Image* image = MakeImage(w, h, fn);
    ASSERT_NE(ImagePng_Write(image, path.c_str()), nullptr) << path;
    Image_Destroy(image);
}

// A blocky glyph for cell (gx, gy) of w x h pixels: a frame with one
// diagonal, varied by `seed` so that neighbouring glyphs differ.
inline bool GlyphPixel(int32_t gx, int32_t gy, int32_t w, int32_t h, int32_t seed)
{
    if (gx <= 1 || gx >= w - 2 || gy <= 1 || gy >= h - 2) return false;  // clear margin
    const bool frame = gx == 2 || gx == w - 3 || gy == 2 || gy == h - 3;
    const int32_t d = (gy - 2) * (w - 5) / (h > 5 ? h - 5 : 1) + 2;
    const bool diagonal = seed % 2 ? gx == d : gx == w - 1 - d;
    const bool bar = seed % 3 == 0 && gy == h / 2;
    return frame || diagonal || bar;
}

struct PathScope {
    Path2D* path = Path2D_Create();
    ~PathScope() { Path2D_Destroy(path); }
};

struct BrushScope {
    Brush2D* brush = Brush2D_Create();
    ~BrushScope()
    {
        if (brush) Brush2D_Destroy(brush);
    }
};

class Toolkit2DTest : public D3D8DriverTest {
protected:
    static constexpr int32_t kWidth = 160, kHeight = 120;
    Camera* camera = nullptr;
    std::string folder;

    void SetUp() override
    {
        answers.desktopWidth = kWidth;
        answers.desktopHeight = kHeight;
        answers.displayFormat = D3DFMT_X8R8G8B8;
        answers.pow2 = true;
        D3D8Test_SetAnswers(&answers);
        window = Window_Create("toolkit2d test", kWidth, kHeight, WINDOW_HEADLESS);
        ASSERT_NE(window, nullptr);
        Image_InstallModule();
        Raster_InstallModule();
        Texture_InstallModule();
        D3D8_InstallDriver();
        ASSERT_EQ(Engine_Init(&kPoisoned, 0, 0), 1);
        ASSERT_EQ(Engine_Open(&window), 1);
        opened = true;
        StartEngine(0);
        ASSERT_EQ(Image_RegisterFileFormat("png", ImagePng_Read, ImagePng_Write), 1);
        camera = MakeCamera(0, 0, 0);
        const Vec2 window = {1.0f, 0.75f};
        Camera_SetViewWindow(camera, &window);
        ASSERT_EQ(Toolkit2D_Open(camera), 1);
        ASSERT_EQ(Toolkit2D_SetDeviceRect(0, 0, kWidth, kHeight), 1);
        const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder = TestTmp().string() + "/toolkit2d_" + name + "/";
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        Font2D_SetPath(folder.c_str());
    }
    void TearDown() override
    {
        Toolkit2D_Close();
        if (camera) DestroyCamera(camera);
        camera = nullptr;
        EndFrame();
        D3D8DriverTest::TearDown();
    }

    // One frame: cleared to dark grey, Z off, no culling, the stage-0 filter
    // pinned to linear; draw() runs inside the update.
    void DrawFrame(const std::function<void()>& draw)
    {
        uint8_t clear[4] = {32, 32, 48, 255};
        ASSERT_NE(Camera_BeginUpdate(camera), nullptr);
        Camera_Clear(camera, clear, 3);
        RenderState_Set(6, (void*)0);
        RenderState_Set(8, (void*)0);
        RenderState_Set(20, (void*)1);
        RenderState_Set(9, (void*)2);
        draw();
        ASSERT_NE(Camera_EndUpdate(camera), nullptr);
    }

    // The back buffer with every draw made so far in it (the device draws deferred).
    static const D3D8DrawSurface& BackBuffer()
    {
        D3D8Test_Finish();
        return D3D8_DeviceState()->backBuffer->surface;
    }
    // The back buffer pixel as 0xRRGGBB.
    static uint32_t Pixel(int32_t x, int32_t y)
    {
        const D3D8DrawSurface& s = BackBuffer();
        uint32_t v;
        memcpy(&v, s.pixels + (size_t)y * s.pitch + 4 * (size_t)x, 4);
        return v & 0xFFFFFF;
    }

    // Largest per-channel difference between two 0xRRGGBB colours.
    static int ColourDistance(uint32_t a, uint32_t b)
    {
        int d = 0;
        for (int sh = 0; sh < 24; sh += 8) d = std::max(d, std::abs(int((a >> sh) & 255) - int((b >> sh) & 255)));
        return d;
    }

    // Compares the back buffer with golden/<name>.png: every channel within
    // `tolerance` on all but `allowedOff` pixels. Empty on success.
    static std::string MatchGolden(const char* name, int tolerance = 2, int allowedOff = 0)
    {
        return raster_test::MatchGoldenSurface(
            BackBuffer(), std::string(HELM_SOURCE_DIR) + "/tests/gfx/toolkit/2d/golden/" + name + ".png",
            TestTmp().string() + "/" + name + "_actual.png", tolerance, allowedOff);
    }

    // A camera at the origin whose raster is a record of the given size
    // without pixels: enough for the toolkit's measurements, never drawn.
    static Camera* MeasuringCamera(int32_t w, int32_t h, float windowX, float windowY)
    {
        Camera* c = Camera_Create();
        Camera_SetFrame(c, Frame_Create());
        Camera_SetRaster(c, Raster_Create(w, h, 0, RASTERTYPENORMAL | RASTERDONTALLOCATE));
        const Vec2 window = {windowX, windowY};
        Camera_SetViewWindow(c, &window);
        return c;
    }

    // The device draws fn makes.
    template <typename Fn>
    static int Draws(Fn fn)
    {
        const std::string log = "\n" + Record(fn);
        return Count(log, "\nDraw");
    }

    // The vertices of the last immediate-mode batch a stroke or text drew.
    static const Im3DVertex* LastBatch() { return Brush2D_GetVertexBuffer(); }
};

}  // namespace toolkit2dtest
