#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/file.h"
#include "app/shell.h"
#include "common/list.h"
#include "engine/font.h"
#include "engine/fontglyphs.h"
#include "engine/sprite.h"
#include "gfx/toolkit/2d/toolkit2d.h"
#include "tests/engine/drawing_fixture.h"

namespace {

using drawingtest::DrawingTest;
using drawingtest::WriteImage;

// Fonts are read from "data/Fonts/" under the test's folder, which becomes
// the working folder; the toolkit's user space is the window in pixels.
class FontTest : public DrawingTest {
protected:
    FontTest()
    {
        width = 640;
        height = 480;
    }
    void SetUp() override
    {
        DrawingTest::SetUp();
        // The 2D toolkit's view window has a positive x.
        const Vec2 window = {1.0f, (float)height / (float)width};
        Camera_SetViewWindow(camera, &window);
        std::filesystem::create_directories("data/Fonts/Sub");
        ASSERT_EQ(Toolkit2D_Open(camera), 1);
        ASSERT_EQ(Toolkit2D_SetDeviceRect(0, 0, (float)width, (float)height), 1);
        ASSERT_EQ(Font_Init(), 1);
        // "Block": glyphs A and B, 16 x 32 pixels each, solid.
        WriteImage("data/Fonts/Sub/block.png", 32, 32, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
        Write("data/Fonts/Sub/Block.met", "METRICS1\nblock.png\n24\n65 0 0 16 32\n66 16 0 32 32\n");
    }
    void TearDown() override
    {
        Font_Shutdown();
        Toolkit2D_Close();
        DrawingTest::TearDown();
    }
    static void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

    // The box of the white pixels of the back buffer: first and last column,
    // first and last row (-1 when none is white).
    struct Box {
        int32_t left = -1, right = -1, top = -1, bottom = -1;
    };
    static Box Lit()
    {
        Box b;
        const D3D8DrawSurface& s = BackBuffer();
        for (int32_t y = 0; y < s.height; y++)
            for (int32_t x = 0; x < s.width; x++) {
                if (Pixel(x, y) != 0xFFFFFF) continue;
                if (b.top < 0) b.top = y;
                b.bottom = y;
                if (b.left < 0 || x < b.left) b.left = x;
                if (x > b.right) b.right = x;
            }
        return b;
    }
};

TEST_F(FontTest, NamedFontsComeFromTheirFolderAndMissingOnesFallBackToTheLineFont)
{
    Font* block = Font_Load("Block", "Sub");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->flags, (uint32_t)FONT_TOOLKIT);
    EXPECT_STREQ(block->name, "Block");
    Font* missing = Font_Load("Block", nullptr);  // not in "Fonts\"
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->flags, (uint32_t)FONT_BUILTIN);
    EXPECT_EQ(missing->name, nullptr);
    Font* none = Font_Load(nullptr, nullptr);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->flags, (uint32_t)FONT_BUILTIN);
    EXPECT_EQ(List_Count(Font_GetPool()), 3u);
    Font_Release(missing);
    EXPECT_EQ(List_Count(Font_GetPool()), 2u);
}

TEST_F(FontTest, ToolkitTextStandsOnItsBaseLine)
{
    Font* block = Font_Load("Block", "Sub");
    DrawFrame([&] { Font_Printf(block, 100, 200, "AB"); });
    // Glyphs of 16 x 32 pixels whose base line lies 24 pixels above their
    // lower edge.
    const Box lit = Lit();
    EXPECT_EQ(lit.left, 100);
    EXPECT_EQ(lit.right, 131);
    EXPECT_EQ(lit.top, 200 - 8);
    EXPECT_EQ(lit.bottom, 200 + 23);
}

TEST_F(FontTest, SizesCarryTheScreenFactorWhileMeasuresStayOnTheVirtualScreen)
{
    Font* line = Font_Load(nullptr, nullptr);
    Font* block = Font_Load("Block", "Sub");
    App_SetScreenSize(800, 600);
    Font_SetSize(line, 2.0f);
    Font_SetSize(block, 2.0f);
    EXPECT_FLOAT_EQ(line->size, 2.5f);
    EXPECT_FLOAT_EQ(Font_GetHeight(line), 20.0f);
    EXPECT_FLOAT_EQ(Font_MeasureF(line, "%d%s", 42, "ab"), 4 * 10 * 2.0f);
    // The toolkit font is 32 pixels high and its glyphs half as wide.
    EXPECT_FLOAT_EQ(Font_GetHeight(block), 32 * 2.0f);
    EXPECT_FLOAT_EQ(Font_MeasureF(block, "AB"), 32 * 2.0f);
    const uint8_t red[4] = {255, 0, 0, 128};
    Font_SetColour(line, red);
    EXPECT_EQ(line->lines->colour, 0x80FF0000u);
    Font_SetAlpha(line, 0.65f);
    EXPECT_EQ(line->lines->colour, 0xA5FF0000u);
}

TEST_F(FontTest, LineFontGlyphsStandUprightOnTheBaseLineAndEdgeModeCountsFromTheRight)
{
    Font* font = Font_Load(nullptr, nullptr);
    Font_SetSize(font, 3.0f);  // a glyph is 128 x 30 / 192 = 20 pixels
    DrawFrame([&] { Font_Printf(font, -100, 200, "T"); });
    // Lines leave out their last pixel.
    const Box lit = Lit();
    EXPECT_EQ(lit.left, 540);
    EXPECT_EQ(lit.right, 559);
    EXPECT_EQ(lit.top, 180);
    EXPECT_EQ(lit.bottom, 199);
    // The bar of the "T" is at the top.
    EXPECT_EQ(Pixel(541, 180), 0xFFFFFFu);
    EXPECT_EQ(Pixel(541, 190), 0x202030u);
}

TEST_F(FontTest, LineFontLettersNeverOverlapAtAnySize)
{
    Font* font = Font_Load(nullptr, nullptr);
    for (int32_t w : {640, 1280, 320}) {
        App_SetScreenSize(w, w * 3 / 4);
        Font_SetSize(font, 1.0f);
        DrawFrame([&] { Font_DrawString(font, 0, 100, "AB", 0); });
        // The batch keeps the last string's vertices: A's 3 lines, B's 8.
        const ScreenVertex* v = font->lines->vertices;
        float aMax = 0, bMin = 1e9f;
        for (int i = 0; i < 6; i++) aMax = std::max(aMax, v[i].x);
        for (int i = 6; i < 22; i++) bMin = std::min(bMin, v[i].x);
        EXPECT_LT(aMax, bMin) << w;
        EXPECT_FLOAT_EQ(bMin - v[0].x, 10.0f * (float)w / 640.0f) << w;
    }
}

// A wide target (the game's 1280 x 720, three quarters of it): a text
// stretches as a sprite does. The block glyph "A" and a blank sprite of its
// virtual rectangle light the same pixels, and so, but for the lines' last
// pixel, do a line-font "T" and a sprite of its cell; whatever user space the
// 2D toolkit was given (the window's pixels, as the shell leaves it, or the
// game's 640 x 480).
class WideFontTest : public FontTest {
protected:
    WideFontTest()
    {
        width = 960;
        height = 540;
    }
};

TEST_F(WideFontTest, TextsStretchOntoTheTargetAsSpritesDo)
{
    ASSERT_EQ(Sprite_Init(), 1);
    const uint32_t white = 0xFFFFFFFFu;
    Sprite* blank = Sprite_CreateBlank(&white, 1, 1);
    Font* block = Font_Load("Block", "Sub");
    Font* line = Font_Load(nullptr, nullptr);
    Font_SetSize(line, 3.0f);  // a 20 x 20 virtual cell
    const float glyphA[4] = {100, 192, 16, 32}, cellT[4] = {540, 180, 20, 20};
    // The lit box of a drawing, and its distance from the lit box of another.
    auto litBy = [&](const std::function<void()>& draw) {
        DrawFrame(draw);
        return Lit();
    };
    auto off = [](const Box& a, const Box& b) {
        return std::max({std::abs(a.left - b.left), std::abs(a.right - b.right), std::abs(a.top - b.top),
                         std::abs(a.bottom - b.bottom)});
    };
    for (const float userWidth : {(float)width, 640.0f}) {
        ASSERT_EQ(Toolkit2D_SetDeviceRect(0, 0, userWidth, userWidth * 0.75f), 1);
        const Box sprite = litBy([&] { Sprite_Draw(blank, 0, nullptr, glyphA); });
        ASSERT_EQ(sprite.left, 150);  // x 1.5, y 1.125
        ASSERT_EQ(sprite.top, 216);
        EXPECT_EQ(off(litBy([&] { Font_Printf(block, 100, 200, "A"); }), sprite), 0) << userWidth;
        const Box cell = litBy([&] { Sprite_Draw(blank, 0, nullptr, cellT); });
        EXPECT_LE(off(litBy([&] { Font_Printf(line, -100, 200, "T"); }), cell), 1) << userWidth;
    }
    Sprite_Shutdown();
}

TEST_F(FontTest, MoreThan256LinesAreDrawnInSeveralLists)
{
    Font* font = Font_Load(nullptr, nullptr);
    // "8" has 5 segments: 60 of them make 300 lines.
    const std::string eights(60, '8');
    const std::string log = Record([&] { DrawFrame([&] { Font_DrawString(font, 0, 100, eights.c_str(), 0); }); });
    EXPECT_EQ(Count(log, "DrawPrimitive(2, 0, 256)"), 1) << log;
    EXPECT_EQ(Count(log, "DrawPrimitive(2, "), 2) << log;
}

TEST_F(FontTest, BoxLinesBreakAtBlanksAndAfterHyphensAndAlwaysMoveOn)
{
    Font* font = Font_Load(nullptr, nullptr);  // 10 virtual pixels a character
    struct Case {
        const char* text;
        float width;
        size_t length, skip;
    };
    for (const Case c : {Case{"one two three", 75, 7, 1}, Case{"one two", 200, 7, 0}, Case{"well-known fact", 80, 5, 0},
                         Case{"unbreakable", 50, 5, 0}, Case{"ab\ncd", 200, 2, 1}, Case{"abc def", 30, 3, 1},
                         Case{"wide", 5, 1, 0}, Case{"\nx", 50, 0, 1}}) {
        size_t skip = 9;
        EXPECT_EQ(Font_LayoutLine(font, c.text, c.width, &skip), c.length) << c.text;
        EXPECT_EQ(skip, c.skip) << c.text;
    }
    // One character wider than the box still ends: one line per character.
    DrawFrame([&] { EXPECT_FLOAT_EQ(Font_PrintfBox(font, 10, 50, 5, 0, 0, "%s", "wide"), 4.5f * 10.0f); });
    // A height above 0 stops the drawing.
    DrawFrame([&] { EXPECT_FLOAT_EQ(Font_PrintfBox(font, 10, 50, 5, 15, 0, "wide"), 2.5f * 10.0f); });
}

TEST_F(FontTest, GlyphTableHoldsEveryCodeFromBangToZWithinTheGrid)
{
    const FontGlyph* table = FontGlyphs_GetTable();
    for (uint32_t i = 0; i < FONT_GLYPH_COUNT; i++) {
        EXPECT_EQ(table[i].code, (char)('!' + i));
        uint32_t n = 0;
        while (n < FONT_GLYPH_MAX_SEGMENTS &&
               (table[i].segments[n].x0 | table[i].segments[n].y0 | table[i].segments[n].x1 | table[i].segments[n].y1))
            n++;
        EXPECT_GT(n, 0u) << table[i].code;
        EXPECT_LT(n, (uint32_t)FONT_GLYPH_MAX_SEGMENTS) << table[i].code;  // room for the end marker
        for (uint32_t k = 0; k < n; k++) {
            const FontGlyphSegment& s = table[i].segments[k];
            EXPECT_LE(std::max({s.x0, s.y0, s.x1, s.y1}), 128) << table[i].code;
        }
    }
}

}  // namespace
