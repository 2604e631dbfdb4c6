// Set-up of the content-layer tests that draw: the engine opened and
// started through the Direct3D 8 driver with the world plugins and the
// render objects' material extension attached, the file layer over a test
// folder of its own, the hashed cache, image formats, and every module of
// the content layer, with a world, a camera and a View record filled by
// hand (the drawing module that makes views is not part of this layer yet).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/file.h"
#include "common/list.h"
#include "content_modules.h"
#include "engine_fixture.h"
#include "gfx/core/camera.h"
#include "gfx/core/image.h"
#include "gfx/core/renderstate.h"
#include "gfx/toolkit/bmp/imagebmp.h"
#include "gfx/toolkit/png/imagepng.h"
#include "gfx/world/worldties.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"
#include "tools/lib/cfgc.h"

class ContentTest : public D3D8DriverTest, protected enginetest::TestFolder {
protected:
    World* world = nullptr;
    Camera* camera = nullptr;
    Node* cameraNode = nullptr;
    View view{};

    void SetUp() override
    {
        EnterFolder("content_");
        answers.desktopWidth = 640;
        answers.desktopHeight = 480;
        D3D8Test_SetAnswers(&answers);
        window = Window_Create("content test", 640, 480, WINDOW_HEADLESS);
        ASSERT_NE(window, nullptr);
        Image_InstallModule();
        Raster_InstallModule();
        Texture_InstallModule();
        D3D8_InstallDriver();
        ASSERT_EQ(Engine_Init(nullptr, 0, 4u << 20), 1);
        ASSERT_EQ(ContentModules_Attach(), 1);
        ASSERT_EQ(Engine_Open(&window), 1);
        opened = true;
        StartEngine(0);
        ASSERT_EQ(File_Init(), 1);
        Image_RegisterFileFormat("bmp", ImageBmp_Read, ImageBmp_Write);
        Image_RegisterFileFormat("png", ImagePng_Read, ImagePng_Write);
        ASSERT_EQ(ContentModules_Start(&world), 1);

        camera = MakeCamera(0, 0, 0);
        World_AddCamera(world, camera);
        cameraNode = Node_Create(nullptr);
        view.camera = camera;
        view.frame = Camera_GetFrame(camera);
        view.width = 640;
        view.height = 480;
        view.aspect = 0.75f;
        view.fov = 0.5f;
        SetCameraWindow(0.5f, 0.375f);
    }

    void TearDown() override
    {
        if (camera) {
            World_RemoveCamera(world, camera);
            DestroyCamera(camera);
        }
        ContentModules_Stop(world);
        File_Shutdown();
        D3D8DriverTest::TearDown();
        LeaveFolder();
    }

    // A normal (not mirrored) view window: x negative, as views make it.
    void SetCameraWindow(float x, float y)
    {
        const Vec2 window = {-x, y};
        Camera_SetViewWindow(camera, &window);
        Camera_SetNearClipPlane(camera, 0.1f);
        Camera_SetFarClipPlane(camera, 1000.0f);
    }

    // Places the camera (node and frame) and derives the render objects'
    // frustum from it.
    void PlaceCamera(const Vec3& position)
    {
        Node_SetPosition(cameraNode, &position);
        Node_GetWorldFrameMatrix(cameraNode, &view.frame->modelling);
        // A root node's world is set by the draw walk; do it here.
        cameraNode->world = cameraNode->local;
        cameraNode->flags &= ~NODE_DIRTY;
        Frame_MarkDirty(view.frame);
        Frame_GetWorldMatrix(view.frame);
        Camera_SyncFrustum(&camera->object);
        RenderObj_SetReferenceNode(cameraNode);
        RenderObj_SetViewFrustum(&view);
    }

    // Runs fn inside a camera update (render states can be set and read,
    // atomics drawn) and returns the device calls it made.
    template <typename Fn>
    std::string Draw(Fn fn)
    {
        EndFrame();
        std::string text;
        if (Camera_BeginUpdate(camera)) {
            text = Record(fn);
            Camera_EndUpdate(camera);
        }
        return text;
    }

    static int32_t State(int32_t state)
    {
        uint32_t value = 0xFFFFFFFFu;
        RenderState_Get(state, &value);
        return (int32_t)value;
    }

    // A solid 4 x 4 image file (".png" or ".bmp" by the name) of colour r, g, b.
    static void WriteImage(const std::string& name, uint8_t r, uint8_t g, uint8_t b)
    {
        const std::filesystem::path p = DataPath(name);
        std::filesystem::create_directories(p.parent_path());
        Image* image = Image_Create(4, 4, 32);
        Image_AllocatePixels(image);
        for (int y = 0; y < 4; y++)
            for (int x = 0; x < 4; x++) {
                uint8_t* px = image->pixels + y * image->stride + x * 4;
                px[0] = r, px[1] = g, px[2] = b, px[3] = 255;
            }
        const std::string path = p.string();
        if (path.size() > 4 && path.substr(path.size() - 4) == ".png")
            ImagePng_Write(image, path.c_str());
        else
            ImageBmp_Write(image, path.c_str());
        Image_Destroy(image);
    }
    // Compiles configuration text for the source name the game opens.
    static void WriteConfig(const std::string& sourceName, const std::string& text)
    {
        std::vector<uint8_t> compiled;
        CfgcError error;
        ASSERT_EQ(Cfgc_Compile(text.data(), text.size(), &compiled, &error), 1) << error.message;
        WriteData(Cfgc_OutputPath(sourceName.c_str()), compiled);
    }
};
