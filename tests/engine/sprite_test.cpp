#include <gtest/gtest.h>

#include "common/list.h"
#include "engine/sprite.h"
#include "gfx/core/raster.h"
#include "tests/engine/drawing_fixture.h"

namespace {

using drawingtest::DrawingTest;
using drawingtest::WriteImage;

class SpriteTest : public DrawingTest {
protected:
    void SetUp() override
    {
        answers.maxTextureSize = 1024;
        DrawingTest::SetUp();
        ASSERT_EQ(Sprite_Init(), 1);
        std::filesystem::create_directories("data/Art");
    }
    void TearDown() override
    {
        Sprite_Shutdown();
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

TEST_F(SpriteTest, SharedLoadsShareOneSpriteThatTheLastReleaseFrees)
{
    Solid("a.png", 8, 8, 0xFFFF0000);
    Sprite* first = Sprite_Load("Art\\a.png", 1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Sprite_Load("ART\\A.PNG", 1), first);
    EXPECT_EQ(first->flags, (uint32_t)SPRITE_LOADED);
    Sprite* own = Sprite_Load("Art\\a.png", 0);
    ASSERT_NE(own, nullptr);
    EXPECT_NE(own, first);
    EXPECT_EQ(List_Count(Sprite_GetPool()), 2u);
    Sprite_Release(first);
    EXPECT_EQ(List_Count(Sprite_GetPool()), 2u);
    Sprite_Release(first);
    Sprite_Release(own);
    EXPECT_EQ(List_Count(Sprite_GetPool()), 0u);
    EXPECT_EQ(Sprite_Load("Art\\missing.png", 1), nullptr);
    const uint32_t black = 0xFF000000;
    Sprite* blank = Sprite_CreateBlank(&black, 640, 480);
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(blank->flags, (uint32_t)SPRITE_BLANK);
    EXPECT_EQ(blank->raster, nullptr);
    Sprite_Release(blank);
    EXPECT_EQ(List_Count(Sprite_GetPool()), 0u);
}

TEST_F(SpriteTest, ImagesLargerThanTheDeviceAreHalvedUntilTheyFit)
{
    struct Case {
        const char* name;
        int32_t w, h;
        uint32_t fitW, fitH;
        int32_t depth;
    };
    for (const Case c : {Case{"big.png", 2048, 2048, 1024, 1024, 16}, Case{"long.png", 4100, 300, 512, 37, 16},
                         Case{"fits.bmp", 1024, 8, 1024, 8, 32}, Case{"odd.png", 100, 50, 100, 50, 32}}) {
        SCOPED_TRACE(c.name);
        Solid(c.name, c.w, c.h, 0xFF00FF00);
        Sprite* s = Sprite_Load((std::string("Art\\") + c.name).c_str(), 0);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->pixelWidth, c.fitW);
        EXPECT_EQ(s->pixelHeight, c.fitH);
        EXPECT_FLOAT_EQ(Sprite_GetWidth(s), (float)c.fitW);
        EXPECT_EQ(s->raster->depth, c.depth);
        EXPECT_EQ(s->image, nullptr);
        Sprite_Release(s);
    }
}

TEST_F(SpriteTest, EdgeModeCountsNegativePositionsFromTheRightAndLowerEdges)
{
    // 320 x 240: virtual pixels are half a device pixel.
    Solid("red.png", 64, 32, 0xFFFF0000);
    Sprite* s = Sprite_Load("Art\\red.png", 0);
    Draw([&] {
        Sprite_DrawAt(s, -64, -32, 1);
        Sprite_DrawAt(s, 0, 0, 1);
    });
    EXPECT_EQ(Pixel(290, 226), 0xFF0000u);
    EXPECT_EQ(Pixel(319, 239), 0xFF0000u);
    EXPECT_EQ(Pixel(286, 226), 0x000000u);
    EXPECT_EQ(Pixel(290, 222), 0x000000u);
    EXPECT_EQ(Pixel(1, 1), 0xFF0000u);  // y = 0 stays at the top
    EXPECT_EQ(Pixel(31, 15), 0xFF0000u);
    EXPECT_EQ(Pixel(33, 17), 0x000000u);
    Sprite_Release(s);
}

TEST_F(SpriteTest, TexelsAreSampledAtTheirCentres)
{
    // Two texels, black and white, stretched over 200 pixels: with texel-
    // centre coordinates the ramp runs from the left edge to the right one.
    WriteImage("data/Art/ramp.png", 2, 1, [](int32_t x, int32_t) { return x ? 0xFFFFFFFFu : 0xFF000000u; });
    Sprite* s = Sprite_Load("Art\\ramp.png", 0);
    Sprite_SetVirtualScreen(0);
    const float whole[4] = {0, 0, 200, 10};
    const float rightHalf[4] = {1, 0, 1, 1}, below[4] = {0, 20, 200, 10};
    Draw([&] {
        Sprite_DrawSimple(s, whole);
        Sprite_Draw(s, 0, rightHalf, below);
    });
    Sprite_SetVirtualScreen(1);
    EXPECT_LE(Channel(Pixel(0, 5), 0), 3);
    EXPECT_NEAR(Channel(Pixel(50, 5), 0), 64, 4);
    EXPECT_NEAR(Channel(Pixel(100, 5), 0), 128, 4);
    EXPECT_GE(Channel(Pixel(199, 5), 0), 252);
    EXPECT_GE(Channel(Pixel(5, 25), 0), 252);  // the source rectangle's one texel
    Sprite_Release(s);
}

TEST_F(SpriteTest, BlendModesAndColoursReachThePixels)
{
    // A 50 % grey background and a sprite of colour (64, 128, 255), alpha 128.
    Solid("tint.png", 8, 8, 0x804080FF);
    Sprite* s = Sprite_Load("Art\\tint.png", 0);
    struct Case {
        uint32_t mode;
        int r, g, b;
    };
    for (const Case c : {Case{SPRITE_BLEND_ALPHA, 96, 128, 191}, Case{SPRITE_BLEND_SUBTRACTIVE, 96, 64, 0},
                         Case{SPRITE_BLEND_ADDITIVE, 192, 255, 255}}) {
        Sprite_SetBlendMode(s, c.mode);
        const float rect[4] = {0, 0, 64, 64};
        Draw([&] { Sprite_DrawSimple(s, rect); }, 0x808080);
        const uint32_t p = Pixel(10, 10);
        EXPECT_NEAR(Channel(p, 16), c.r, 3) << c.mode;
        EXPECT_NEAR(Channel(p, 8), c.g, 3) << c.mode;
        EXPECT_NEAR(Channel(p, 0), c.b, 3) << c.mode;
    }
    // A blank sprite draws its colour; the alpha setter keeps it.
    const uint32_t green = 0xFF00FF00;
    Sprite* blank = Sprite_CreateBlank(&green, 64, 64);
    Sprite_SetAlpha(blank, 0.5f);
    EXPECT_EQ(blank->colours[0], 0x7F00FF00u);
    EXPECT_EQ(blank->colours[1], 0x7F00FF00u);
    Draw([&] { Sprite_DrawAt(blank, 0, 0, 0); });
    EXPECT_NEAR(Channel(Pixel(10, 10), 8), 127, 2);
    Sprite_SetColour(blank, 2.0f, -1.0f, 0.5f, 1.0f);
    EXPECT_EQ(blank->colours[0], 0xFFFF007Fu);
    Sprite_Release(blank);
    Sprite_Release(s);
}

}  // namespace
