// Test harness for the Direct3D 8 driver's device side: the engine opened
// and started through the driver itself, on a headless window and a
// stand-in device with chosen capability answers, with helpers to record
// the device calls a piece of code makes.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/frame.h"
#include "gfx/core/im3d.h"
#include "gfx/core/image.h"
#include "gfx/core/matrix.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/toolkit/bmp/imagebmp.h"
#include "gfx/toolkit/png/imagepng.h"
#include "platform/direct3d/d3d8_test.h"
#include "platform/win32/window.h"

// A 32-bit image filled by fn(x, y) -> 0xAARRGGBB, written as PNG or BMP
// by the extension of path.
inline void WriteImage(const std::string& path, int32_t w, int32_t h,
                       const std::function<uint32_t(int32_t, int32_t)>& fn)
{
    Image* image = Image_Create(w, h, 32);
    ASSERT_NE(image, nullptr);
    Image_AllocatePixels(image);
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
            const uint32_t c = fn(x, y);
            uint8_t* p = image->pixels + (size_t)y * image->stride + 4 * (size_t)x;
            p[0] = (uint8_t)(c >> 16), p[1] = (uint8_t)(c >> 8), p[2] = (uint8_t)c, p[3] = (uint8_t)(c >> 24);
        }
    const bool bmp = path.size() > 4 && path.compare(path.size() - 4, 4, ".bmp") == 0;
    ASSERT_NE(bmp ? ImageBmp_Write(image, path.c_str()) : ImagePng_Write(image, path.c_str()), nullptr) << path;
    Image_Destroy(image);
}

// The device's 32-bit back buffer with every draw made so far (the device
// draws deferred), and the colour (0xRRGGBB) of one of its pixels.
inline const D3D8DrawSurface& BackBufferSurface()
{
    D3D8Test_Finish();
    return D3D8_DeviceState()->backBuffer->surface;
}
inline uint32_t BackBufferPixel(int x, int y)
{
    const D3D8DrawSurface& s = BackBufferSurface();
    uint32_t v = 0;
    memcpy(&v, s.pixels + (size_t)y * s.pitch + 4 * (size_t)x, 4);
    return v & 0xFFFFFF;
}

class D3D8DriverTest : public ::testing::Test {
protected:
    D3D8Answers answers;
    Window *window = nullptr;
    IDirect3DDevice8 *device = nullptr;
    bool opened = false, started = false;

    // Opens the engine on the driver; tests change `answers` first.
    void OpenEngine()
    {
        if (answers.desktopWidth == 0 || answers.desktopHeight == 0) {
            answers.desktopWidth = 640;
            answers.desktopHeight = 480;
        }
        D3D8Test_SetAnswers(&answers);
        window = Window_Create("driver test", (int32_t)answers.desktopWidth, (int32_t)answers.desktopHeight,
                               WINDOW_HEADLESS);
        ASSERT_NE(window, nullptr);
        Image_InstallModule();
        Raster_InstallModule();
        Texture_InstallModule();
        D3D8_InstallDriver();
        ASSERT_EQ(Engine_Init(nullptr, 0, 0), 1);
        ASSERT_EQ(Engine_Open(&window), 1);
        opened = true;
    }
    // Opens (when needed) and starts the engine with mode `mode` (-1: keep).
    void StartEngine(int32_t mode = -1)
    {
        if (!opened) OpenEngine();
        if (mode >= 0) {
            ASSERT_EQ(Engine_SetVideoMode(mode), 1);
        }
        ASSERT_EQ(Engine_Start(), 1);
        started = true;
        device = D3D8_GetDevice();
        ASSERT_NE(device, nullptr);
        Error_Get(nullptr);
    }
    void StopEngine()
    {
        if (started) {
            EXPECT_EQ(Engine_Stop(), 1);
        }
        started = false;
        device = nullptr;
    }
    void TearDown() override
    {
        StopEngine();
        if (opened) {
            Engine_Close();
            Engine_Term();
        }
        opened = false;
        Engine_SetDriver(nullptr);
        // Tests of other modules run engines on drivers without Im3D support.
        Engine_SetCoreModule(MODULE_IM3D, 0, nullptr, nullptr);
        Window_Destroy(window);
        window = nullptr;
        D3D8_SetCpuProbe(nullptr);
        D3D8Test_ResetAll();
        Error_Get(nullptr);
    }

    // The device calls fn makes, one per line.
    template <typename Fn>
    static std::string Record(Fn fn)
    {
        D3D8Test_StartRecording();
        fn();
        std::string text = D3D8Test_Recording();
        D3D8Test_StopRecording();
        return text;
    }
    static int Count(const std::string &text, const std::string &what)
    {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
        return n;
    }
    static bool Before(const std::string &text, const std::string &first, const std::string &second)
    {
        size_t a = text.find(first), b = text.find(second);
        return a != std::string::npos && b != std::string::npos && a < b;
    }
    // Each of steps appears in text, each after the one before it.
    static void ExpectInOrder(const std::string& text, std::initializer_list<std::string> steps)
    {
        size_t at = 0;
        for (const std::string& step : steps) {
            at = text.find(step, at);
            ASSERT_NE(at, std::string::npos) << step << " missing or out of order in\n" << text;
        }
    }

    // A camera on a frame at `position`, drawing into a camera raster of the
    // window's size (or `w` x `h`) with a Z raster. Freed by DestroyCamera.
    Camera *MakeCamera(float x = 0, float y = 0, float z = 0, int32_t w = -1, int32_t h = -1, bool zRaster = true)
    {
        Camera *camera = Camera_Create();
        Frame *frame = Frame_Create();
        Vec3 pos = {x, y, z};
        Matrix_Translate(&frame->modelling, &pos, COMBINE_REPLACE);
        Frame_MarkDirty(frame);
        Camera_SetFrame(camera, frame);
        if (w < 0) w = (int32_t)D3D8_System()->currentMode.width;
        if (h < 0) h = (int32_t)D3D8_System()->currentMode.height;
        Camera_SetRaster(camera, Raster_Create(w, h, 0, RASTERTYPECAMERA));
        if (zRaster) Camera_SetZRaster(camera, Raster_Create(w, h, 0, RASTERTYPEZBUFFER));
        return camera;
    }
    static void DestroyCamera(Camera *camera)
    {
        Frame *frame = Camera_GetFrame(camera);
        Raster *fb = camera->frameBuffer, *zb = camera->zBuffer;
        Camera_SetFrame(camera, nullptr);
        Camera_Destroy(camera);
        if (frame) Frame_Destroy(frame);
        if (fb) Raster_Destroy(fb);
        if (zb) Raster_Destroy(zb);
    }
    // Opens a device scene the way camera begin update does.
    void BeginFrame()
    {
        ASSERT_GE(device->BeginScene(), 0);
        D3D8_System()->inScene = 1;
    }
    // Ends the frame the way the raster show does.
    void EndFrame()
    {
        if (D3D8_System()->inScene) device->EndScene();
        D3D8_System()->inScene = 0;
    }
};

// Started on mode 0 with a scene open for the whole test.
class D3D8SceneTest : public D3D8DriverTest {
protected:
    void SetUp() override
    {
        StartEngine(0);
        BeginFrame();
    }
    void TearDown() override
    {
        EndFrame();
        D3D8DriverTest::TearDown();
    }
};
