// Set-up of the content-layer tests that draw: the engine opened and
// started through the Direct3D 8 driver with the world plugins and the
// render objects' material extension attached, the file layer over a test
// folder of its own, the hashed cache, image formats, and every module of
// the content layer, with a world, a camera and a View record filled by
// hand (the drawing module that makes views is not part of this layer yet).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/cache.h"
#include "app/config.h"
#include "app/file.h"
#include "engine/materialanim.h"
#include "engine/mesh.h"
#include "engine/node.h"
#include "engine/nodeextra.h"
#include "engine/renderobj.h"
#include "engine/scene.h"
#include "engine/scenelight.h"
#include "engine/view.h"
#include "gfx/core/camera.h"
#include "gfx/core/image.h"
#include "gfx/toolkit/bmp/imagebmp.h"
#include "gfx/toolkit/png/imagepng.h"
#include "gfx/core/renderstate.h"
#include "gfx/world/world.h"
#include "gfx/world/worldties.h"
#include "common/list.h"
#include "platform/win32/path.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"
#include "tools/lib/cfgc.h"

class ContentTest : public D3D8DriverTest {
protected:
    World* world = nullptr;
    Camera* camera = nullptr;
    Node* cameraNode = nullptr;
    View view{};

    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::filesystem::path(HELM_TEST_TMP) /
                  (std::string("content_") + info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_ / "data");
        std::filesystem::current_path(folder_);
        base_ = std::filesystem::file_time_type::clock::now();
        Path_Shutdown();

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
        ASSERT_EQ(World_PluginAttach(), 1);
        ASSERT_EQ(RenderObj_RegisterPlugin(), 1);
        ASSERT_EQ(Engine_Open(&window), 1);
        opened = true;
        StartEngine(0);
        ASSERT_EQ(File_Init(), 1);
        Image_RegisterFileFormat("bmp", ImageBmp_Read, ImageBmp_Write);
        Image_RegisterFileFormat("png", ImagePng_Read, ImagePng_Write);
        Cache_Init(6);
        ASSERT_EQ(ConfigSys_Init(), 1);
        ASSERT_EQ(Node_Init(), 1);
        ASSERT_EQ(NodeExtra_Init(), 1);
        ASSERT_EQ(RenderObj_Init(), 1);
        ASSERT_EQ(MaterialAnim_Init(), 1);
        ASSERT_EQ(Mesh_Init(), 1);
        ASSERT_EQ(SceneLight_Init(), 1);
        ASSERT_EQ(Scene_Init(), 1);
        const WorldBox box = {{-200, -200, -200}, {200, 200, 200}};
        world = World_Create(&box);
        ASSERT_NE(world, nullptr);
        View_SetWorld(world);

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
        Scene_Shutdown();
        SceneLight_Shutdown();
        Mesh_Shutdown();
        RenderObj_Shutdown();
        MaterialAnim_Shutdown();
        NodeExtra_Shutdown();
        Node_Shutdown();
        if (camera) {
            World_RemoveCamera(world, camera);
            DestroyCamera(camera);
        }
        if (world) World_Destroy(world);
        View_SetWorld(nullptr);
        ConfigSys_Shutdown();
        File_Shutdown();
        D3D8DriverTest::TearDown();
        Path_Shutdown();
        std::filesystem::current_path(HELM_TEST_TMP);
        std::filesystem::remove_all(folder_);
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

    // Disk path of a data name: "Objects\Box.lwo" -> "data/Objects/Box.lwo".
    static std::filesystem::path DataPath(const std::string& name)
    {
        std::string p = "data/" + name;
        for (char& c : p)
            if (c == '\\') c = '/';
        return p;
    }
    static void WriteData(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        const std::filesystem::path p = DataPath(name);
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
    }
    static void WriteData(const std::string& name, const std::string& text)
    {
        WriteData(name, std::vector<uint8_t>(text.begin(), text.end()));
    }
    static bool DataExists(const std::string& name) { return std::filesystem::exists(DataPath(name)); }
    void Touch(const std::string& name, int offsetSeconds)
    {
        std::filesystem::last_write_time(DataPath(name), base_ + std::chrono::seconds(offsetSeconds));
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

    std::filesystem::path folder_;
    std::filesystem::file_time_type base_;
};
