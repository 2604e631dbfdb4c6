// Test harness for the content layer's drawing: the graphics engine started
// on the Direct3D 8 driver over a small headless window (X8R8G8B8, power-of-
// two textures), the BMP and PNG formats registered, a folder of the test's
// own as the working folder (data files under "data/", through the file
// layer), the shell's screen size set to the window's,
// and optionally a camera over the whole window.
// Helpers write images, draw a frame and read the back buffer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/file.h"
#include "app/shell.h"
#include "gfx/core/camera.h"
#include "gfx/core/renderstate.h"
#include "gfx/toolkit/bmp/imagebmp.h"
#include "gfx/toolkit/png/imagepng.h"
#include "platform/direct3d/d3d8_present.h"
#include "platform/direct3d/d3d8_test.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"
#include "tests/platform/direct3d/golden_match.h"
#include "tests/test_env.h"

namespace drawingtest {

using ::WriteImage;

// The back buffer with every draw made so far in it, and a pixel as 0xRRGGBB.
inline const D3D8DrawSurface& BackBuffer() { return BackBufferSurface(); }
inline uint32_t Pixel(int32_t x, int32_t y) { return BackBufferPixel(x, y); }
inline int Channel(uint32_t colour, int shift) { return (int)(colour >> shift & 255); }
using raster_test::ColourDistance;  // the largest per-channel difference
// Pixels of the back buffer's rectangle whose colour is within 8 of c.
inline int CountColour(uint32_t c, int32_t x0 = 0, int32_t y0 = 0, int32_t x1 = 1 << 20, int32_t y1 = 1 << 20)
{
    const D3D8DrawSurface& s = BackBuffer();
    int n = 0;
    for (int32_t y = std::max(0, y0); y < std::min<int32_t>(s.height, y1); y++)
        for (int32_t x = std::max(0, x0); x < std::min<int32_t>(s.width, x1); x++)
            n += ColourDistance(Pixel(x, y), c) <= 8;
    return n;
}

class DrawingTest : public D3D8DriverTest {
protected:
    int32_t width = 320, height = 240;
    Camera* camera = nullptr;
    std::string folder;  // the test's own, with a trailing slash
    std::filesystem::path previous;

    // Tests that make no camera of their own (the views make theirs) answer false.
    virtual bool WantsCamera() { return true; }

    void SetUp() override
    {
        answers.desktopWidth = (uint32_t)width, answers.desktopHeight = (uint32_t)height;
        answers.displayFormat = D3DFMT_X8R8G8B8, answers.pow2 = true;
        StartEngine(0);
        ASSERT_EQ(Image_RegisterFileFormat("png", ImagePng_Read, ImagePng_Write), 1);
        ASSERT_EQ(Image_RegisterFileFormat("bmp", ImageBmp_Read, ImageBmp_Write), 1);
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = TestTmp().string() + "/drawing_" + info->test_suite_name() + "_" + info->name() + "/";
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        previous = std::filesystem::current_path();
        std::filesystem::current_path(folder);
        std::filesystem::create_directories("data");
        ASSERT_EQ(File_Init(), 1);
        App_SetScreenSize(width, height);
        if (WantsCamera()) {
            camera = MakeCamera(0, 0, 0);
            const Vec2 view = {-1.0f, 0.75f};
            Camera_SetViewWindow(camera, &view);
            Camera_SetNearClipPlane(camera, 0.1f);
            Camera_SetFarClipPlane(camera, 1000.0f);
        }
    }

    void TearDown() override
    {
        if (camera) DestroyCamera(camera);
        camera = nullptr;
        EndFrame();
        File_Shutdown();
        D3D8DriverTest::TearDown();
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(folder);
    }

    // One frame into the test's camera, cleared to `clear` (0xRRGGBB) with
    // depth; draw() runs inside the update.
    void DrawFrame(const std::function<void()>& draw, uint32_t clear = 0x202030)
    {
        uint8_t rgba[4] = {(uint8_t)(clear >> 16), (uint8_t)(clear >> 8), (uint8_t)clear, 255};
        ASSERT_NE(Camera_BeginUpdate(camera), nullptr);
        Camera_Clear(camera, rgba, 3);
        draw();
        ASSERT_NE(Camera_EndUpdate(camera), nullptr);
    }

    static const D3D8DrawSurface& BackBuffer() { return drawingtest::BackBuffer(); }
    static uint32_t Pixel(int32_t x, int32_t y) { return drawingtest::Pixel(x, y); }
    static int Channel(uint32_t colour, int shift) { return drawingtest::Channel(colour, shift); }
    static int CountColour(uint32_t c, int32_t x0 = 0, int32_t y0 = 0, int32_t x1 = 1 << 20, int32_t y1 = 1 << 20)
    {
        return drawingtest::CountColour(c, x0, y0, x1, y1);
    }
};

}  // namespace drawingtest
