#include "tools/lib/fontwrite.h"

#include <sstream>
#include <utility>

#include "gfx/core/arraylist.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "gfx/toolkit/bmp/imagebmp.h"
#include "tests/gfx/toolkit/2d/toolkit2d_fixture.h"
#include "tools/lib/strokefont.h"

namespace toolkit2dtest {
namespace {

// Fonts written by the tool and read back through the 2D toolkit's reader.
class FontWriterTest : public Toolkit2DTest {
protected:
    void SetUp() override
    {
        Toolkit2DTest::SetUp();
        ASSERT_EQ(Image_RegisterFileFormat("bmp", ImageBmp_Read, nullptr), 1);
    }
    static uint32_t Pixel(int32_t x, int32_t y) { return BackBufferPixel(x, y); }
};

// Every character the demo's texts use, from the table lines of a screen.
const char* const kScreenTexts =
    "LS_MEMCARD_FILENAME1=Slot 1 (empty)\n"
    "LS_INFOTEXT_INFO01=Save? <SIZE> KB free: 100% [A]/{B} #7 @home ~ok; \"quoted\" 'single' "
    "a+b=c-d*e/f\\g|h^i_j`k&l$m!?\n";

TEST_F(FontWriterTest, TheReaderGetsEveryCharacterAtTheWrittenHeightAndBaseLine)
{
    // Cell height, stroke, outline and picture width.
    const std::tuple<int32_t, float, int32_t, int32_t> cases[] = {{32, 3.0f, 0, 256}, {24, 2.0f, 1, 128}, {48, 4.5f, 2, 512}};
    for (const auto& [cellHeight, stroke, outline, imageWidth] : cases) {
        FontWriterStyle style;
        style.cellHeight = cellHeight;
        style.stroke = stroke;
        style.outline = outline;
        style.imageWidth = imageWidth;
        const std::string name = "Font" + std::to_string(cellHeight);
        std::string error;
        ASSERT_EQ(FontWriter_Write(folder.substr(0, folder.size() - 1), name, style, &error), 1) << error;
        FontWriterFiles files;
        ASSERT_EQ(FontWriter_Build(style, name, &files, &error), 1);

        Font2D* font = Font2D_Read(name.c_str());
        ASSERT_NE(font, nullptr) << name;
        EXPECT_EQ(Font2D_Validate(font), 1);
        EXPECT_EQ(std::make_pair(font->kind, font->height), std::make_pair((uint32_t)FONT2D_BITMAP, (float)cellHeight));
        EXPECT_FLOAT_EQ(font->baseline, (float)files.baseline / cellHeight);
        EXPECT_GT(font->baseline, 0.1f);  // room for descenders below the base line
        EXPECT_EQ(font->flags & FONT2D_WIDE, 0u);
        for (const char* p = kScreenTexts; *p; p++) {
            if (*p == '\n') continue;
            const int32_t index = Font2D_FindGlyph(font, (uint8_t)*p);
            ASSERT_GE(index, 0) << "no glyph for '" << *p << "'";
            const Font2DGlyph* g = (const Font2DGlyph*)font->glyphs->entries + index;
            // A glyph advances at least by the line font's advance.
            const float scale = (cellHeight - 2.0f * (1 + stroke / 2 + outline)) /
                                (STROKEFONT_ASCENT_UNITS + STROKEFONT_DESCENT_UNITS);
            EXPECT_GE(g->width * cellHeight, StrokeFont_Glyph((uint8_t)*p)->advance * scale - 0.5f) << *p;
            EXPECT_GT(g->uMax, g->uMin);
            EXPECT_LE(g->uMax, 1.0f);
            EXPECT_LE(g->vMax, 1.0f);
        }
        EXPECT_LT(Font2D_FindGlyph(font, 0xE9), 0);
        Font2D_Destroy(font);
    }
}

TEST_F(FontWriterTest, CellsHoldTheirInkAndNothingElse)
{
    FontWriterStyle style;
    style.outline = 1;
    FontWriterFiles files;
    std::string error;
    ASSERT_EQ(FontWriter_Build(style, "Cells", &files, &error), 1) << error;
    std::vector<bool> inCell((size_t)files.mask.width * (size_t)files.mask.height, false);
    std::istringstream lines(files.metrics);
    std::string line;
    for (int i = 0; i < 3; i++) std::getline(lines, line);
    int cells = 0;
    while (std::getline(lines, line)) {
        int code, x0, y0, x1, y1;
        ASSERT_EQ(sscanf(line.c_str(), "%d %d %d %d %d", &code, &x0, &y0, &x1, &y1), 5) << line;
        cells++;
        bool inked = false;
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++) {
                ASSERT_FALSE(inCell[(size_t)y * files.mask.width + x]) << "cells overlap at " << x << "," << y;
                inCell[(size_t)y * files.mask.width + x] = true;
                inked = inked || files.mask.At(x, y)[0] > 128;
            }
        EXPECT_EQ(inked, code != ' ') << (char)code;
    }
    EXPECT_EQ(cells, 95);
    for (int32_t y = 0; y < files.mask.height; y++)
        for (int32_t x = 0; x < files.mask.width; x++)
            if (!inCell[(size_t)y * files.mask.width + x]) {
                ASSERT_EQ(files.mask.At(x, y)[0], 0) << x << "," << y;
            }
}

TEST_F(FontWriterTest, DrawnTextShowsTheStrokesAndOnlyThem)
{
    FontWriterStyle style;
    style.characters = "I-";
    std::string error;
    ASSERT_EQ(FontWriter_Write(folder.substr(0, folder.size() - 1), "Bars", style, &error), 1) << error;
    Font2D* font = Font2D_Read("Bars");
    ASSERT_NE(font, nullptr);
    BrushScope brush;
    Vec2 anchor = {20, 20};
    DrawFrame([&] {
        RenderState_Set(RS_VERTEXALPHAENABLE, (void*)1);  // blending on: the mask is the alpha
        Font2D_DrawString(font, "I", 64.0f, &anchor, brush.brush);
    });
    const uint32_t background = 0x202030;
    // The stem of the I runs up the middle of its cell; beside it the
    // background shows through.
    const float left = 20, right = anchor.x;
    const int32_t middle = (int32_t)((left + right) / 2);
    const int32_t baseline = kHeight - 20;
    EXPECT_GT(raster_test::ColourDistance(Pixel(middle, baseline - 15), background), 150);
    EXPECT_LT(raster_test::ColourDistance(Pixel((int32_t)left + 1, baseline - 15), background), 8);
    EXPECT_LT(raster_test::ColourDistance(Pixel(middle, baseline - 60), background), 8);  // above the capital
    Font2D_Destroy(font);
}

TEST_F(FontWriterTest, BadStylesAndNamesAreRefused)
{
    auto refused = [](FontWriterStyle style, const std::string& name) {
        FontWriterFiles files;
        std::string error;
        const int ok = FontWriter_Build(style, name, &files, &error);
        return ok == 0 && !error.empty();
    };
    FontWriterStyle style;
    EXPECT_FALSE(refused(style, "Fine"));
    for (const char* name : {"", "Two words", "Fonts\\PC"}) EXPECT_TRUE(refused(style, name)) << name;
    // 95 cells of 256 pixels in a 64-wide picture are too tall.
    const std::tuple<const char*, int32_t, float, int32_t, const char*> styles[] = {
        {"Small", 4, 3, 256, nullptr},   {"Thin", 32, 0.5f, 256, nullptr}, {"Odd", 32, 3, 300, nullptr},
        {"Accent", 32, 3, 256, "AB\xE9"}, {"Twice", 32, 3, 256, "ABA"},     {"Huge", 256, 8, 64, nullptr}};
    for (const auto& [name, cellHeight, stroke, imageWidth, characters] : styles) {
        FontWriterStyle s = style;
        s.cellHeight = cellHeight, s.stroke = stroke, s.imageWidth = imageWidth;
        if (characters) s.characters = characters;
        EXPECT_TRUE(refused(s, name)) << name;
    }
}

}  // namespace
}  // namespace toolkit2dtest
