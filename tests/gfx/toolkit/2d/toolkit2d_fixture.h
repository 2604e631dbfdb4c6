// The layers' harness on a 160 x 120 window (power-of-two textures, memory
// filled with 0xA5), the toolkit open on a camera, a scratch font folder.
#pragma once

#include <filesystem>
#include <string>

#include "gfx/core/renderstate.h"
#include "gfx/toolkit/2d/brush2d.h"
#include "gfx/toolkit/2d/font2d.h"
#include "gfx/toolkit/2d/path2d.h"
#include "gfx/toolkit/2d/toolkit2d.h"
#include "gfx/toolkit/png/imagepng.h"
#include "tests/gfx/layer_fixture.h"

namespace toolkit2dtest {

inline void Write(const std::string& path, const std::string& text)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

struct PathScope {
    Path2D* path = Path2D_Create();
    ~PathScope() { Path2D_Destroy(path); }
};
struct BrushScope {
    Brush2D* brush = Brush2D_Create();
    ~BrushScope() { Brush2D_Destroy(brush); }
};

class Toolkit2DTest : public WorldTest {
protected:
    static constexpr int32_t kWidth = 160, kHeight = 120;
    Camera* camera = nullptr;
    std::string folder;

    void SetUp() override
    {
        answers.desktopWidth = kWidth, answers.desktopHeight = kHeight;
        answers.displayFormat = D3DFMT_X8R8G8B8;
        answers.pow2 = true;
        gfxtest::Count().poison = true;
        WorldTest::SetUp();
        EndFrame();
        ASSERT_EQ(Image_RegisterFileFormat("png", ImagePng_Read, ImagePng_Write), 1);
        camera = Own(MakeCamera());
        const Vec2 window = {1.0f, 0.75f};
        Camera_SetViewWindow(camera, &window);
        ASSERT_EQ(Toolkit2D_Open(camera), 1);
        owned.push_back([] { Toolkit2D_Close(); });
        ASSERT_EQ(Toolkit2D_SetDeviceRect(0, 0, kWidth, kHeight), 1);
        folder =
            TestTmp().string() + "/toolkit2d_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        Font2D_SetPath(folder.c_str());
    }
    // One frame: cleared to dark grey, Z off, no culling, the stage-0 filter
    // pinned to linear; draw() runs inside the update.
    template <typename Fn>
    void DrawFrame(Fn draw)
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
    // The device draws fn makes.
    template <typename Fn>
    static int Draws(Fn fn)
    {
        return Count("\n" + Record(fn), "\nDraw");
    }
    // The vertices of the last immediate-mode batch a stroke or text drew.
    static const Im3DVertex* LastBatch() { return Brush2D_GetVertexBuffer(); }
};

}  // namespace toolkit2dtest
