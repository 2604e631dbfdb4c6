// A HUD-like overlay over a small 3D scene, pinned by a golden image: a
// ground quad with an object's shadow on it and camera-facing flares and
// smoke from the billboard batch, then a translucent panel, an icon with an
// alpha ramp, text in a bitmap font and in the line font.
#include <gtest/gtest.h>

#include <fstream>

#include "engine/billboard.h"
#include "engine/font.h"
#include "engine/sprite.h"
#include "engine/sprite3d.h"
#include "gfx/toolkit/2d/toolkit2d.h"
#include "tests/engine/drawing_fixture.h"

namespace {

using drawingtest::DrawingTest;
using drawingtest::WriteImage;

// A blocky glyph of cell (x, y) in an 8 x 12 cell: a frame with a diagonal
// or a bar chosen by the glyph's number.
bool GlyphPixel(int32_t x, int32_t y, int32_t n)
{
    if (x < 1 || x > 6 || y < 2 || y > 10) return false;
    const bool frame = x == 1 || x == 6 || y == 2 || y == 10;
    const bool diagonal = n % 2 ? x == 1 + (y - 2) * 5 / 8 : x == 6 - (y - 2) * 5 / 8;
    return n % 3 == 0 ? frame : frame != diagonal || y == 6;
}

class OverlayTest : public DrawingTest {
protected:
    void SetUp() override
    {
        DrawingTest::SetUp();
        std::filesystem::create_directories("data/Fonts");
        std::filesystem::create_directories("data/Hud");
        ASSERT_EQ(Sprite_Init(), 1);
        ASSERT_EQ(Sprite3d_Init(), 1);
        // The overlay's camera draws into the 3D camera's rasters with the
        // 2D toolkit's view window (x positive).
        hud = Camera_Create();
        Camera_SetFrame(hud, Frame_Create());
        Camera_SetRaster(hud, camera->frameBuffer);
        Camera_SetZRaster(hud, camera->zBuffer);
        const Vec2 window = {1.0f, 0.75f};
        Camera_SetViewWindow(hud, &window);
        ASSERT_EQ(Toolkit2D_Open(hud), 1);
        ASSERT_EQ(Toolkit2D_SetDeviceRect(0, 0, (float)width, (float)height), 1);
        ASSERT_EQ(Font_Init(), 1);
    }
    void TearDown() override
    {
        Font_Shutdown();
        Toolkit2D_Close();
        Camera_SetRaster(hud, nullptr);
        Camera_SetZRaster(hud, nullptr);
        DestroyCamera(hud);
        Sprite3d_Shutdown();
        Sprite_Shutdown();
        DrawingTest::TearDown();
    }

    Camera* hud = nullptr;
};

TEST_F(OverlayTest, GoldenHudOverBillboardsAndAShadow)
{
    // Textures of the 3D part, along the image path.
    WriteImage("data/ground.png", 16, 16,
               [](int32_t x, int32_t y) { return ((x / 4 + y / 4) % 2) ? 0xFF3C7830u : 0xFF48903Au; });
    WriteImage("data/blob.png", 32, 32, [](int32_t x, int32_t y) {
        const int32_t dx = x - 16, dy = y - 16, d = dx * dx + dy * dy;
        return d < 196 ? 0xFFFFFFFFu : 0xFF000000u;
    });
    WriteImage("data/flare.png", 32, 64, [](int32_t x, int32_t y) {
        // Two frames: a yellow glow and a cyan one.
        const int32_t dx = x - 16, dy = y % 32 - 16, d = dx * dx + dy * dy;
        const uint32_t level = d < 256 ? (uint32_t)(255 - d) : 0;
        return y < 32 ? 0xFF000000u | level << 16 | level << 8 : 0xFF000000u | level << 8 | level;
    });
    WriteImage("data/smoke.png", 16, 16, [](int32_t x, int32_t y) {
        const int32_t dx = x - 8, dy = y - 8, d = dx * dx + dy * dy;
        return (d < 64 ? (uint32_t)(200 - d * 3) : 0u) << 24 | 0xC0C0C0u;
    });
    Sprite3d* ground = Sprite3d_LoadSprite("ground.png", nullptr, 16, 7);
    Sprite3d* shadow = Sprite3d_LoadSprite("blob.png", nullptr, 32, 1);
    Sprite3d* flare = Sprite3d_LoadSprite("flare.png", nullptr, 32, 0);
    Sprite3d* smoke = Sprite3d_LoadSprite("smoke.png", nullptr, 16, 2);
    ASSERT_TRUE(ground && shadow && flare && smoke);

    // The 2D part, as data files.
    WriteImage("data/Hud/icon.png", 32, 32,
               [](int32_t x, int32_t y) { return (uint32_t)(x * 8) << 24 | (y < 16 ? 0xFF4020u : 0x2040FFu); });
    std::string metrics = "METRICS1\nglyphs.png\n10\n";
    const char* codes = "0123456789SCORE:";
    for (int i = 0; i < 16; i++)
        metrics +=
            std::to_string((int)codes[i]) + " " + std::to_string(i * 8) + " 0 " + std::to_string(i * 8 + 8) + " 12\n";
    WriteImage("data/Fonts/glyphs.png", 128, 12,
               [](int32_t x, int32_t y) { return GlyphPixel(x % 8, y, x / 8) ? 0xFFFFFFFFu : 0x00000000u; });
    std::ofstream("data/Fonts/Blocks.met") << metrics;
    Sprite* icon = Sprite_Load("Hud\\icon.png", 1);
    const uint32_t panelColour = 0x80102040;
    Sprite* panel = Sprite_CreateBlank(&panelColour, 220, 72);
    Font* blocks = Font_Load("Blocks", nullptr);
    Font* lines = Font_Load(nullptr, nullptr);
    ASSERT_TRUE(icon && panel && blocks && lines);
    ASSERT_EQ(blocks->flags, (uint32_t)FONT_TOOLKIT);
    Font_SetSize(blocks, 3.0f);
    Font_SetSize(lines, 2.0f);
    const uint8_t amber[4] = {255, 200, 64, 255};
    Font_SetColour(lines, amber);

    // The camera 2 up, looking down the +z axis a little.
    Mat4 cam;
    const Vec3 eye = {0, 2, 0}, at = {0, -0.3f, 1}, up = {0, 1, 0};
    Mat4_FromAtUp(&cam, &eye, &at, &up);
    Frame* frame = Camera_GetFrame(camera);
    frame->modelling.right = {cam.m[0][0], cam.m[0][1], cam.m[0][2]};
    frame->modelling.up = {cam.m[1][0], cam.m[1][1], cam.m[1][2]};
    frame->modelling.at = {cam.m[2][0], cam.m[2][1], cam.m[2][2]};
    frame->modelling.pos = eye;
    Matrix_RecomputeFlags(&frame->modelling, nullptr);
    Frame_MarkDirty(frame);

    DrawFrame(
        [&] {
            const Vec3 floor = {0, 0, 8}, normal = {0, 1, 0}, forward = {0, 0, 1};
            const float white[4] = {1, 1, 1, 1}, floorSize[2] = {12, 12};
            Billboard_AddOriented(ground, &floor, &normal, &forward, white, floorSize, 0);
            Billboard_Draw(&cam);
            Billboard_ResetCounts();

            const Vec3 spot = {-1, 0.05f, 6};
            const float shade[4] = {1, 1, 1, 0.5f}, shadowSize[2] = {2, 2};
            Billboard_AddOriented(shadow, &spot, &normal, &forward, shade, shadowSize, 0);
            const uint8_t glow[4] = {255, 255, 255, 255}, haze[4] = {255, 255, 255, 255};
            const float flareSize[2] = {1.5f, 1.5f}, puff[2] = {1, 1};
            for (int i = 0; i < 3; i++) {
                const Vec3 p = {1.5f - (float)i * 0.8f, 1.2f + (float)i * 0.3f, 7 + (float)i};
                Billboard_AddFacing(flare, &p, glow, &cam, flareSize, (uint32_t)i % 2);
                const Vec3 q = {-1.2f + (float)i * 0.3f, 0.6f + (float)i * 0.5f, 6.5f};
                Billboard_AddFacing(smoke, &q, haze, &cam, puff, 0);
            }
            Billboard_Draw(&cam);
        },
        0x5080C0);
    ASSERT_NE(Camera_BeginUpdate(hud), nullptr);
    RenderState_Set(20, (void*)2);
    Sprite_DrawAt(panel, 10, -78, 1);
    Sprite_DrawAt(icon, -42, 10, 1);
    Font_Printf(blocks, 20, -42, "SCORE:%d", 4210);
    Font_Printf(lines, 20, -12, "LAP 2/3 - 0:42.5");
    ASSERT_NE(Camera_EndUpdate(hud), nullptr);
    EXPECT_EQ(MatchGolden("hud_overlay"), "");
    Sprite_Release(icon);
    Sprite_Release(panel);
    Sprite3d_Release(ground);
    Sprite3d_Release(shadow);
    Sprite3d_Release(flare);
    Sprite3d_Release(smoke);
}

}  // namespace
