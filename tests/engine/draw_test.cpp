// What the content layer draws outside the scene graph: 2D sprites, fonts,
// the billboard batch of 3D sprites and the quad batch.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <tuple>

#include "app/shell.h"
#include "common/list.h"
#include "engine/billboard.h"
#include "engine/font.h"
#include "engine/quadbatch.h"
#include "engine/sprite.h"
#include "engine/sprite3d.h"
#include "gfx/core/raster.h"
#include "gfx/toolkit/2d/toolkit2d.h"
#include "tests/engine/drawing_fixture.h"

namespace {

using drawingtest::DrawingTest;
using drawingtest::WriteImage;

// Places the camera's frame on m.
void PlaceCamera(Camera* camera, const Mat4& m)
{
    Matrix& f = Camera_GetFrame(camera)->modelling;
    f.right = {m.m[0][0], m.m[0][1], m.m[0][2]}, f.up = {m.m[1][0], m.m[1][1], m.m[1][2]};
    f.at = {m.m[2][0], m.m[2][1], m.m[2][2]}, f.pos = {m.m[3][0], m.m[3][1], m.m[3][2]};
    Matrix_RecomputeFlags(&f, nullptr);
    Frame_MarkDirty(Camera_GetFrame(camera));
}

// A camera matrix at eye looking along at with up (0, 1, 0).
Mat4 Looking(Vec3 eye, Vec3 at)
{
    Mat4 m;
    const Vec3 up = {0, 1, 0};
    Mat4_FromAtUp(&m, &eye, &at, &up);
    return m;
}

// Sprites and fonts through the 2D toolkit over a 640 x 480 window (one
// virtual pixel a device pixel), textures of at most 1024 pixels. Images
// and fonts are read from "data/Art/" and "data/Fonts/".
class SpriteTest : public DrawingTest {
protected:
    SpriteTest() { width = 640, height = 480; }
    void SetUp() override
    {
        answers.maxTextureSize = 1024;
        DrawingTest::SetUp();
        const Vec2 window = {1.0f, 0.75f};  // the 2D toolkit's view window has a positive x
        Camera_SetViewWindow(camera, &window);
        std::filesystem::create_directories("data/Art");
        std::filesystem::create_directories("data/Fonts/Sub");
        ASSERT_TRUE(Toolkit2D_Open(camera) && Toolkit2D_SetDeviceRect(0, 0, (float)width, (float)height) &&
                    Sprite_Init() && Font_Init());
        // "Block": glyphs A and B, 16 x 32 pixels each, solid, base line 24.
        WriteImage("data/Fonts/Sub/block.png", 32, 32, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
        std::ofstream("data/Fonts/Sub/Block.met") << "METRICS1\nblock.png\n24\n65 0 0 16 32\n66 16 0 32 32\n";
    }
    void TearDown() override
    {
        Font_Shutdown();
        Sprite_Shutdown();
        Toolkit2D_Close();
        DrawingTest::TearDown();
    }
    static void Solid(const char* name, int32_t w, int32_t h, uint32_t colour)
    {
        WriteImage(std::string("data/Art/") + name, w, h, [=](int32_t, int32_t) { return colour; });
    }
    // Draws fn over a background of `clear` with the default culling on.
    void Draw(const std::function<void()>& fn, uint32_t clear = 0x000000)
    {
        DrawFrame(
            [&] {
                RenderState_Set(20, (void*)2);
                fn();
            },
            clear);
    }
};

TEST_F(SpriteTest, SharedLoadsShareOneSpriteAndLargeImagesAreHalvedUntilTheyFit)
{
    Solid("a.png", 8, 8, 0xFFFF0000);
    Sprite* first = Sprite_Load("Art\\a.png", 1);
    ASSERT_NE(first, nullptr);
    Sprite* own = Sprite_Load("Art\\a.png", 0);
    EXPECT_TRUE(Sprite_Load("ART\\A.PNG", 1) == first && first->flags == SPRITE_LOADED && own != first);
    Sprite_Release(first);
    EXPECT_EQ(List_Count(Sprite_GetPool()), 2u);
    Sprite_Release(first);
    Sprite_Release(own);
    EXPECT_TRUE(List_Count(Sprite_GetPool()) == 0 && !Sprite_Load("Art\\missing.png", 1));
    const uint32_t black = 0xFF000000;
    Sprite* blank = Sprite_CreateBlank(&black, 640, 480);
    ASSERT_TRUE(blank && blank->flags == SPRITE_BLANK && !blank->raster);
    Sprite_Release(blank);
    EXPECT_EQ(List_Count(Sprite_GetPool()), 0u);

    // The picture and its size; the size and depth it is drawn with.
    const std::tuple<const char*, int32_t, int32_t, uint32_t, uint32_t, int32_t> cases[] = {
        {"big.png", 2048, 2048, 1024, 1024, 16},
        {"long.png", 4100, 300, 512, 37, 16},
        {"fits.bmp", 1024, 8, 1024, 8, 32},
        {"odd.png", 100, 50, 100, 50, 32}};
    for (const auto& [name, w, h, fitW, fitH, depth] : cases) {
        SCOPED_TRACE(name);
        Solid(name, w, h, 0xFF00FF00);
        Sprite* s = Sprite_Load((std::string("Art\\") + name).c_str(), 0);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(std::vector<int64_t>({s->pixelWidth, s->pixelHeight, (int64_t)Sprite_GetWidth(s), s->raster->depth,
                                        s->image != nullptr}),
                  std::vector<int64_t>({fitW, fitH, fitW, depth, 0}));
        Sprite_Release(s);
    }
}

TEST_F(SpriteTest, EdgeModeTexelCentresBlendModesAndColoursReachThePixels)
{
    Solid("red.png", 64, 32, 0xFFFF0000);
    Sprite* red = Sprite_Load("Art\\red.png", 0);
    Draw([&] {
        Sprite_DrawAt(red, -64, -32, 1);
        Sprite_DrawAt(red, 0, 0, 1);
    });
    const uint32_t edges[][3] = {{577, 449, 0xFF0000}, {639, 479, 0xFF0000}, {574, 449, 0}, {577, 446, 0},
                                 {1, 1, 0xFF0000},     {63, 31, 0xFF0000},   {65, 33, 0}};
    for (const auto& [x, y, colour] : edges) EXPECT_EQ(Pixel(x, y), colour) << x << " " << y;
    Sprite_Release(red);
    WriteImage("data/Art/ramp.png", 2, 1, [](int32_t x, int32_t) { return x ? 0xFFFFFFFFu : 0xFF000000u; });
    Sprite* ramp = Sprite_Load("Art\\ramp.png", 0);
    Sprite_SetVirtualScreen(0);
    const float whole[4] = {0, 0, 200, 10}, rightHalf[4] = {1, 0, 1, 1}, below[4] = {0, 20, 200, 10};
    Draw([&] {
        Sprite_DrawSimple(ramp, whole);
        Sprite_Draw(ramp, 0, rightHalf, below);
    });
    Sprite_SetVirtualScreen(1);
    // Texel centres at the ends; below, the source rectangle's one texel.
    const int ramps[][4] = {{0, 5, 0, 3}, {50, 5, 60, 68}, {100, 5, 124, 132}, {199, 5, 252, 255}, {5, 25, 252, 255}};
    for (const auto& [x, y, low, high] : ramps) {
        const int level = Channel(Pixel(x, y), 0);
        EXPECT_TRUE(level >= low && level <= high) << x << " " << y << ": " << level;
    }
    Sprite_Release(ramp);
    Solid("tint.png", 8, 8, 0x804080FF);
    Sprite* tint = Sprite_Load("Art\\tint.png", 0);
    const int modes[][4] = {{SPRITE_BLEND_ALPHA, 96, 128, 191},
                            {SPRITE_BLEND_SUBTRACTIVE, 96, 64, 0},
                            {SPRITE_BLEND_ADDITIVE, 192, 255, 255}};
    for (const auto& [mode, r, g, b] : modes) {
        Sprite_SetBlendMode(tint, (uint32_t)mode);
        const float rect[4] = {0, 0, 64, 64};
        Draw([&] { Sprite_DrawSimple(tint, rect); }, 0x808080);
        EXPECT_LE(drawingtest::ColourDistance(Pixel(10, 10), (uint32_t)(r << 16 | g << 8 | b)), 3) << mode;
    }
    Sprite_Release(tint);
    const uint32_t green = 0xFF00FF00;
    Sprite* blank = Sprite_CreateBlank(&green, 64, 64);
    Sprite_SetAlpha(blank, 0.5f);
    EXPECT_EQ(blank->colours[1], 0x7F00FF00u);
    Draw([&] { Sprite_DrawAt(blank, 0, 0, 0); });
    EXPECT_NEAR(Channel(Pixel(10, 10), 8), 127, 2);
    Sprite_SetColour(blank, 2.0f, -1.0f, 0.5f, 1.0f);
    EXPECT_EQ(blank->colours[0], 0xFFFF007Fu);
    Sprite_Release(blank);
}

TEST_F(SpriteTest, BoxLinesBreakAtBlanksAndAfterHyphensAndAlwaysMoveOn)
{
    Font* font = Font_Load(nullptr, nullptr);  // 10 virtual pixels a character
    // The text and the width; the characters of its first line and those skipped after it.
    const std::tuple<const char*, float, size_t, size_t> cases[] = {
        {"one two three", 75, 7, 1}, {"one two", 200, 7, 0}, {"well-known fact", 80, 5, 0},
        {"unbreakable", 50, 5, 0},   {"ab\ncd", 200, 2, 1},  {"abc def", 30, 3, 1},
        {"wide", 5, 1, 0},           {"\nx", 50, 0, 1}};
    for (const auto& [text, width, length, skipped] : cases) {
        size_t skip = 9;
        EXPECT_TRUE(Font_LayoutLine(font, text, width, &skip) == length && skip == skipped) << text << " " << skip;
    }
    Draw([&] { EXPECT_FLOAT_EQ(Font_PrintfBox(font, 10, 50, 5, 0, 0, "%s", "wide"), 4.5f * 10.0f); });
    Draw([&] { EXPECT_FLOAT_EQ(Font_PrintfBox(font, 10, 50, 5, 15, 0, "wide"), 2.5f * 10.0f); });
    const uint8_t grey[4] = {9, 9, 9, 9};
    Font_SetColour(font, grey);
    Font_SetAlpha(font, 2.0f);
    EXPECT_EQ(font->colour[3], 255);
    Font_SetAlpha(font, -1.0f);
    EXPECT_EQ(font->colour[3] + font->colour[0], 9);
}

// The billboard batch over a 320 x 240 window and the test's 3D camera.
class BillboardTest : public DrawingTest {
protected:
    void SetUp() override
    {
        DrawingTest::SetUp();
        ASSERT_EQ(Sprite3d_Init(), 1);
        WriteImage("data/white.png", 16, 16, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
        WriteImage("data/strip.png", 64, 256, [](int32_t, int32_t y) { return y < 64 ? 0xFFFF0000u : 0xFF00FF00u; });
        white = Sprite3d_LoadSprite("white.png", nullptr, 16, 2);
        strip = Sprite3d_LoadSprite("strip.png", nullptr, 64, 2);
        ASSERT_TRUE(white && strip);
    }
    void TearDown() override
    {
        Sprite3d_Shutdown();
        DrawingTest::TearDown();
    }
    // A 2 x 2 quad facing the camera (colour 0xAARRGGBB).
    static int Facing(Sprite3d* s, Vec3 at, uint32_t colour = 0xFFFFFFFF, const Mat4* cam = nullptr, float size = 2.0f)
    {
        const uint8_t rgba[4] = {(uint8_t)(colour >> 16), (uint8_t)(colour >> 8), (uint8_t)colour,
                                 (uint8_t)(colour >> 24)};
        const float wh[2] = {size, size};
        return Billboard_AddFacing(s, &at, rgba, cam, wh, 0);
    }
    static std::string Str(const Vec3& v)
    {
        char text[64];
        snprintf(text, sizeof text, "%g %g %g", v.x + 0.0f, v.y + 0.0f, v.z + 0.0f);
        return text;
    }
    Sprite3d* white = nullptr;
    Sprite3d* strip = nullptr;
    const Mat4 front = Looking({0, 0, 0}, {0, 0, 1});
};

TEST_F(BillboardTest, AFullBatchDropsOrOverwritesTheRingSlotAndAFrameOutOfRangeIsTheFirst)
{
    BillboardBatch* b = Billboard_GetBatch();
    ASSERT_EQ(b->capacity, 500u);
    for (int i = 0; i < 500; i++) ASSERT_EQ(Facing(white, {0, 0, (float)i}), 1);
    EXPECT_TRUE(Facing(white, {9, 9, 9}) == 0 && b->quadCount == 500);
    Billboard_SetWrap(1);
    for (int i = 0; i < 502; i++) ASSERT_EQ(Facing(white, {1, 2, (float)i}), 1);
    EXPECT_EQ(b->quadCount + b->vertexCount + b->ringPosition, 500u + 2000u + 2u);
    EXPECT_EQ(Str(b->quads[0].centre) + ", " + Str(b->quads[2].centre), "1 2 500, 1 2 2");
    for (uint32_t i = 0; i < 500; i++) EXPECT_EQ(b->sortList[i], i);
    Billboard_ResetCounts();
    EXPECT_EQ(b->quadCount + b->vertexCount + b->ringPosition, 0u);

    const uint8_t rgba[4] = {10, 20, 30, 40};
    const float size[2] = {2, 4}, colour[4] = {1.0f, 0.5f, 0.25f, 0.65f};
    const Vec3 centre = {5, 6, 7}, normal = {0, 1, 0}, forward = {0, 0, 1};
    ASSERT_TRUE(Billboard_AddFacing(strip, &centre, rgba, nullptr, size, 3) &&
                Billboard_AddOriented(strip, &centre, &normal, &forward, colour, size, 4));
    const BillboardQuad &f = b->quads[0], &o = b->quads[1];
    EXPECT_EQ(Str({f.vertices[0].v, f.vertices[3].v, (float)o.frame}), "0.7525 0.9975 0");
    EXPECT_FLOAT_EQ(o.vertices[0].v, 0.01f * 0.25f);
    EXPECT_EQ(o.vertices[2].colour, 0xA5FF7F3Fu);  // each x 255 truncated
    EXPECT_TRUE(o.indices[0] == 4 && o.sortKey != f.sortKey);  // other frame, other key
}

TEST_F(BillboardTest, AShadowDarkensByItsAlphaAndTheDrawsPutTheStatesBack)
{
    Sprite3d_SetBlendMode(white, 1);
    const Vec3 centre = {0, 0, 5}, normal = {0, 0, -1}, forward = {0, 1, 0};
    const float colour[4] = {1, 1, 1, 0.25f}, size[2] = {4, 4};
    ASSERT_EQ(Billboard_AddOriented(white, &centre, &normal, &forward, colour, size, 0), 1);
    for (float z : {-5.0f, -8.0f, -6.0f, 5000.0f}) Facing(white, {0, 0, z});
    Facing(strip, {0, 0, -7});
    PlaceCamera(camera, front);
    const int32_t names[3] = {20, 8, 14};  // cull, Z write, fog
    const uintptr_t set[3] = {3, 1, 0};
    uint32_t states[3] = {0, 0, 1};
    DrawFrame(
        [&] {
            for (int i = 0; i < 3; i++) RenderState_Set(names[i], (void*)set[i]);
            EXPECT_EQ(Billboard_Draw(&front), 5u);
            for (int i = 0; i < 3; i++) RenderState_Get(names[i], &states[i]);
        },
        0xFFFFFF);
    EXPECT_NEAR(Channel(Pixel(width / 2, height / 2), 8), 191, 2);
    EXPECT_EQ(std::vector<uint32_t>(states, states + 3), (std::vector<uint32_t>{3, 1, 0}));
    QuadBatch* q = QuadBatch_Create(2, 1);
    ASSERT_NE(q, nullptr);  // the third is one too many
    EXPECT_EQ(std::vector<int>({QuadBatch_AddQuad(q, 10, 10, 100, 100, 0xFF0000FF, 0),
                                QuadBatch_AddQuad(q, 50, 50, 150, 150, 0xFFFF0000, QUADBATCH_SECOND_PASS),
                                QuadBatch_AddQuad(q, 0, 0, 1, 1, 0xFFFF0000, QUADBATCH_SECOND_PASS)}),
              std::vector<int>({1, 1, 0}));
    uint32_t zTest = 0;
    DrawFrame([&] {
        RenderState_Set(20, (void*)2);
        QuadBatch_Flush(q);
        RenderState_Get(6, &zTest);
    });
    EXPECT_EQ(std::vector<uint32_t>({Pixel(75, 75), Pixel(120, 120), Pixel(20, 20), zTest}),
              std::vector<uint32_t>({0x0000FF, 0xFF0000, 0x0000FF, 1}));
    EXPECT_EQ(q->count[0] + q->count[1], 0u);
    QuadBatch_Destroy(q);
}

}  // namespace
