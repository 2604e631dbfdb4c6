#include "gfx/toolkit/2d/font2d.h"

#include "gfx/core/arraylist.h"
#include "gfx/core/raster.h"
#include "gfx/core/vector.h"
#include "gfx/toolkit/pickray/pickray.h"
#include "tests/gfx/toolkit/2d/toolkit2d_fixture.h"

namespace toolkit2dtest {
namespace {

constexpr uint32_t kClear = 0x00000000, kInk = 0xFFFFFFFF, kDelimiter = 0xFFFF00FF;

// METRICS1: three 16 x 32 glyphs side by side in a 64 x 32 image, lines the
// reader must skip (a comment, a negative code, a code past 16 bits, a
// number past 32 bits, rectangles without height) and a rectangle of
// extreme sides whose width must still be a number.
const char* const kMetrics1 =
    "METRICS1\nabc.png\n24\n65 0 0 16 32\n66 16 0 32 32\n# a comment\n-5 0 0 16 32\n70000 0 0 16 32\n"
    "68 0 0 16 99999999999\n68 0 5 16 5\n68 0 10 16 4\n67 2147483647 0 -2147483648 8\n0x12C 32 0 48 32\n";
// METRICS2: a 40 x 24 image of 12-pixel cell rows: "ABC" on the first row
// (delimiters at x = 0, 10, 20, 30, 31), "D" on the second (0, 12, 13).
const char* const kMetrics2 = "METRICS2\ncells.png\n10\nABC\nD\n";
// METRICS3: a triangle 'A' whose last move gives the advance, and a space.
const char* const kMetrics3 =
    "METRICS3\nTestOutline\n A\nbegin\nmoveto 0 0\nlineto 0.5 1\nlineto 1 0\nclosepath\n"
    "moveto 1.2 0\nend\n  \nbegin\nmoveto 0.4 0\nend\n";

// A blocky glyph for cell (gx, gy) of w x h pixels: a frame with one
// diagonal, varied by `seed` so that neighbouring glyphs differ.
bool GlyphPixel(int32_t gx, int32_t gy, int32_t w, int32_t h, int32_t seed)
{
    if (gx <= 1 || gx >= w - 2 || gy <= 1 || gy >= h - 2) return false;  // clear margin
    const int32_t d = (gy - 2) * (w - 5) / (h > 5 ? h - 5 : 1) + 2;
    return gx == 2 || gx == w - 3 || gy == 2 || gy == h - 3 || (seed % 2 ? gx == d : gx == w - 1 - d) ||
           (seed % 3 == 0 && gy == h / 2);
}

class Font2DTest : public Toolkit2DTest {
protected:
    void WriteMetrics1Image()
    {
        WriteImage(folder + "abc.png", 64, 32, [](int32_t x, int32_t y) {
            return x < 48 && GlyphPixel(x % 16, y, 16, 32, x / 16) ? kInk : kClear;
        });
    }
    // A cell image of two rows of `cell` pixels with the given delimiters.
    void WriteCells(const std::string& name, int32_t w, int32_t cell, const std::vector<int>& row0,
                    const std::vector<int>& row1)
    {
        WriteImage(folder + name, w, 2 * cell, [&](int32_t x, int32_t y) {
            const std::vector<int>& row = y < cell ? row0 : row1;
            if (y % cell == 0 && std::count(row.begin(), row.end(), x)) return kDelimiter;
            for (size_t i = 0; i + 1 < row.size(); i++)
                if (x > row[i] && x < row[i + 1])
                    return GlyphPixel(x - row[i], y % cell, row[i + 1] - row[i], cell, (int)i) ? kInk : kClear;
            return kClear;
        });
    }
    void WriteMetrics2Image() { WriteCells("cells.png", 40, 12, {0, 10, 20, 30, 31}, {0, 12, 13}); }
    // The font of a metrics file of text, its line ends LF, CR LF or CR LF
    // without the last one.
    Font2D* ReadText(const std::string& name, const std::string& text, int ends = 0)
    {
        std::string out;
        for (char c : text) out += ends && c == '\n' ? "\r\n" : std::string(1, c);
        if (ends == 2) out.resize(out.size() - 2);
        Write(folder + name + ".met", out);
        return Font2D_Read(name.c_str());
    }
    // The font of a metrics file, checked whole, with `glyphs` glyphs (-1: any).
    Font2D* ReadValid(const std::string& name, const std::string& text, int ends = 0, int32_t glyphs = -1)
    {
        Font2D* font = ReadText(name, text, ends);
        EXPECT_TRUE(font && Font2D_Validate(font) && (glyphs < 0 || font->glyphs->count == glyphs)) << name;
        return font;
    }
    static const Font2DGlyph* GlyphOf(const Font2D* font, int32_t code)
    {
        const int32_t i = Font2D_FindGlyph(font, code);
        return i < 0 ? nullptr : (const Font2DGlyph*)ArrayList_GetEntry(font->glyphs, i);
    }
};

TEST_F(Font2DTest, EveryKindOfMetricsFileGivesItsGlyphsTablesHeightAndBaseLineWhateverTheLineEnds)
{
    WriteMetrics1Image();
    WriteMetrics2Image();
    for (int ends : {0, 1, 2}) {
        SCOPED_TRACE(ends);
        Font2D* font = ReadValid("sample", kMetrics1, ends, 4);
        ASSERT_NE(font, nullptr);
        const int32_t found[][2] = {{'A', 0}, {'B', 1}, {'C', 2}, {'D', -1}, {300, 3}};
        for (const auto& f : found) EXPECT_EQ(Font2D_FindGlyph(font, f[0]), f[1]) << f[0];
        EXPECT_TRUE(std::isfinite(GlyphOf(font, 'C')->width));
        for (int16_t entry : font->map) EXPECT_LT(entry, 3);
        const Font2DGlyph* a = GlyphOf(font, 'A');
        Font2D_SetIntergap(font, 0.25f);  // 'z' has no glyph: it neither draws nor advances
        EXPECT_FLOAT_EQ(Font2D_GetStringWidth(font, u"AzB\u012C", 10), 3 * 0.75f * 10);
        EXPECT_FLOAT_EQ(Font2D_GetHeight(font), 32);
        // Code 300 makes strings 16-bit and is looked up in the range table.
        const float rects[][2] = {{(float)(font->flags & FONT2D_WIDE), FONT2D_WIDE},
                                  {a->width, 0.5f},
                                  {a->uMax, 0.25f},
                                  {a->vMax, 1},
                                  {(float)font->rangeBase, 300},
                                  {(float)font->rangeCount, 1},
                                  {font->height, 32},
                                  {font->baseline, 0.75f}};
        for (const auto& v : rects) EXPECT_EQ(v[0], v[1]) << &v - rects;
        Texture* page = TextureDictionary_FindNamedTexture(font->dictionary, "a");
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(page->raster, a->raster);
        EXPECT_GT(Raster_GetNumLevels(a->raster), 1);
        // Drawn through a brush whose colours vary along the string.
        BrushScope b;
        const Brush2DColour c1 = {255, 0, 0, 255}, c2 = {0, 0, 255, 255};
        Brush2D_SetColours(b.brush, &c1, &c2, &c2, &c1);
        Vec2 anchor = {-0.5f, 0};
        const std::u16string text = std::u16string(70, u'A') + u"B\u012C";  // past a batch
        DrawFrame([&] {
            EXPECT_GE(Draws([&] { EXPECT_EQ(Font2D_DrawString(font, text.c_str(), 0.2f, &anchor, b.brush), font); }),
                      1);
        });
        EXPECT_GT(anchor.x, -0.5f);
        Font2D_Destroy(font);

        font = ReadValid("cells", kMetrics2, ends, 4);
        ASSERT_NE(font, nullptr);
        a = GlyphOf(font, 'A');
        const Font2DGlyph* d = GlyphOf(font, 'D');
        ASSERT_TRUE(a && d);
        const float inset[][2] = {
            {a->uMin, 2 / 40.0f}, {a->uMax, 8 / 40.0f},  {a->vMin, 2 / 24.0f},          {a->vMax, 10 / 24.0f},
            {a->width, 0.6f},     {d->uMax, 10 / 40.0f}, {d->vMin, 14 / 24.0f},         {d->width, 0.8f},
            {font->height, 10},   {font->baseline, 1},   {(float)a->raster->width, 32}, {(float)a->raster->height, 16}};
        for (const auto& v : inset) EXPECT_FLOAT_EQ(v[0], v[1]) << &v - inset;  // rasters: the device's power of two
        Font2D_Destroy(font);

        font = ReadValid("outline", kMetrics3, ends);
        ASSERT_NE(font, nullptr);
        EXPECT_EQ(font->draw, Font2D_DrawStringOutline);
        a = GlyphOf(font, 'A');
        const Font2DGlyph* space = GlyphOf(font, ' ');  // keeps its advance, nothing to draw
        ASSERT_TRUE(a && a->path && space);
        // The advance move is gone.
        EXPECT_EQ(
            std::tuple(a->width, a->path->next, a->path->lockedCount * 10 + a->path->closed, space->width, space->path),
            std::tuple(1.2f, nullptr, 41, 0.4f, nullptr));
        Font2D_Destroy(font);
    }
}

TEST_F(Font2DTest, ThePathIsTriedFolderByFolderRefusalsLeaveNothingAndValidationCatchesBrokenTables)
{
    std::filesystem::create_directories(folder + "one");
    std::filesystem::create_directories(folder + "two");
    Write(folder + "two/late.met", "METRICS3\nLate\n");
    Write(folder + "one/both.met", "METRICS3\nFirst\n");
    Write(folder + "two/both.met", "METRICS1\n");
    static std::vector<std::string> tried;
    static void* (*open)(const char*, const char*);
    FileInterface* io = FileSystem_GetInterface();
    open = io->open;
    io->open = [](const char* path, const char* mode) {
        tried.push_back(path);
        return open(path, mode);
    };
    ASSERT_NE(Font2D_SetPath((folder + "one/;" + folder + "two/").c_str()), nullptr);
    Font2D* late = Font2D_Read("late");
    EXPECT_EQ(tried, (std::vector<std::string>{folder + "one/late.met", folder + "two/late.met"}));
    Font2D* both = Font2D_Read("both");
    ASSERT_TRUE(late && both);
    EXPECT_EQ(both->kind, FONT2D_OUTLINE);  // the first folder's
    EXPECT_EQ(Font2D_Read("missing"), nullptr);
    io->open = open;
    Font2D_Destroy(late);
    Font2D_Destroy(both);

    EXPECT_EQ(Font2D_SetPath(nullptr), nullptr);
    const float bad[][4] = {{0, 0, 0, 100}, {0, 0, 100, -1}, {0, 0, NAN, 100}, {INFINITY, 0, 10, 10}};
    for (const auto& r : bad) EXPECT_EQ(Toolkit2D_SetDeviceRect(r[0], r[1], r[2], r[3]), 0);
    Camera* bare = Camera_Create();
    EXPECT_EQ(Toolkit2D_SetDeviceCamera(bare), 0);
    Line ray;
    const Vec2 pixel = {1, 1};
    EXPECT_EQ(Camera_CalcPixelRay(bare, &ray, &pixel), nullptr);  // no raster to divide
    Camera_Destroy(bare);
    ASSERT_NE(Font2D_SetPath(folder.c_str()), nullptr);
    WriteImage(folder + "cells.png", 20, 12,
               [](int32_t x, int32_t y) { return x == 0 && y == 0 ? kDelimiter : kClear; });
    WriteImage(folder + "tiny.png", 20, 8,
               [](int32_t x, int32_t y) { return x == 0 && y % 2 == 0 ? kDelimiter : kClear; });
    for (const char* text : {"METRICS4\n", "metrics1\n", "\n",
                             "METRICS1\nnone.png\n24\n65 0 0 16 32\n",  // no image
                             "METRICS2\ncells.png\n10\nAB\n",           // one row only: no cell height
                             "METRICS2\ntiny.png\n10\nAB\n"})           // cells under 3 pixels high
        EXPECT_EQ(ReadText("bad", text), nullptr) << text;
    Font2D* empty = ReadValid("empty", "METRICS1\n", 0, 0);  // no image line: a font without glyphs
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->height, 1);
    Font2D_Destroy(empty);

    WriteMetrics1Image();
    Font2D* font = ReadText("sample", kMetrics1);
    ASSERT_EQ(Font2D_Validate(font), 1);
    Font2DGlyph* glyph = (Font2DGlyph*)ArrayList_GetEntry(font->glyphs, 1);
    const std::function<void(Font2D*)> breaks[] = {
        [](Font2D* f) { f->map['A'] = 9; },
        [](Font2D* f) { f->range[0] = 4; },
        [](Font2D* f) { f->rangeBase = 100; },  // codes below 128 belong to the map
        [](Font2D* f) { f->flags = 0; },        // a range table in a byte-string font
        [&](Font2D*) { glyph->raster = camera->frameBuffer; },
    };
    for (const auto& broken : breaks) {
        const Font2D saved = *font;
        const int16_t range = font->range[0];
        const Font2DGlyph kept = *glyph;
        broken(font);
        EXPECT_EQ(Font2D_Validate(font), 0) << &broken - breaks;
        *font = saved, font->range[0] = range, *glyph = kept;
    }
    Font2D_Destroy(font);
}

TEST_F(Font2DTest, OddOutlineLinesAndCutShortUtf8StillGiveUsableGlyphs)
{
    Font2D* font = ReadText("odd",
                            "METRICS3\nOdd\n"
                            "x\n"    // nothing after the first byte: code 0
                            "end\n"  // no glyph begun: code 0 is an empty glyph
                            " Z\nbegin\n"
                            "begin\n"       // the open path stays
                            "lineto 0 0\n"  // a line first moves
                            "lineto 1 nan\nlineto 1e9 0\n"
                            "closepath\n"  // one node: nothing to close
                            "lineto 1 1\njunk\nend\n"
                            " B\nbegin\nend\n"  // no commands: width 0
                            " C\nbegin\ncurveto 0 1 1 1 1 0\ncurveto 1 -1 2 -1 2 0\nend\n"
                            " D\nbegin\nmoveto 0 0\nlineto 1 1\n");  // left open at the end: dropped
    ASSERT_NE(font, nullptr);
    EXPECT_TRUE(Font2D_Validate(font) && font->glyphs->count == 4);
    const Font2DGlyph *zero = GlyphOf(font, 0), *z = GlyphOf(font, 'Z'), *c = GlyphOf(font, 'C');
    ASSERT_TRUE(zero && z && c && z->path);
    EXPECT_EQ(std::tuple(zero->width, zero->path, z->width, GlyphOf(font, 'B')->width),
              std::tuple(0.0f, nullptr, 1.0f, 0.0f));
    EXPECT_EQ(std::tuple(Path2D_GetNodeCount(z->path), Path2D_GetNodes(z->path)[0].type), std::tuple(2, PATH2D_MOVE));
    // A curve after "begin" moves to its end; the second is flattened.
    EXPECT_EQ(std::tuple(c->width, Path2D_GetNodeCount(c->path) > 2, Path2D_GetNodes(c->path)[0].x, GlyphOf(font, 'D')),
              std::tuple(1.0f, true, 1.0f, nullptr));
    Font2D_Destroy(font);

    // Four cells on the first row, one on the second: cut by 'A', by the
    // line end, a lone continuation; then e-acute and a dropped rest.
    WriteCells("utf.png", 48, 12, {0, 10, 20, 30, 40, 41}, {0, 12, 13});
    font = ReadValid("utf",
                     "METRICS2\nutf.png\n10\n\xC3"
                     "A\xE2\x82\n\xC3\xA9"
                     "extra\n",
                     0, 5);
    ASSERT_NE(font, nullptr);
    const int32_t codes[] = {0xC3, 'A', 0xE2, 0x82, 0xE9};
    for (int32_t i = 0; i < 5; i++) EXPECT_EQ(Font2D_FindGlyph(font, codes[i]), i);
    EXPECT_EQ(Font2D_FindGlyph(font, 'e'), -1);
    EXPECT_TRUE(font->flags & FONT2D_WIDE);
    Font2D_Destroy(font);
    // Outline text at a full stack, a varying brush left open for the close.
    font = ReadText("outline", kMetrics3);
    ASSERT_NE(font, nullptr);
    Brush2D* brush = Brush2D_Create();
    Brush2D_SetTexture(brush, Own(Texture_Create(nullptr)));
    const Brush2DColour c1 = {1, 2, 3, 255}, c2 = {200, 200, 200, 255};
    const Vec2 t1 = {0, 0}, t2 = {1, 0};
    Brush2D_SetHalfWidth(Brush2D_SetUVs(Brush2D_SetColours(brush, &c1, &c2, &c2, &c1), &t1, &t2, &t2, &t1), 0.05f);
    EXPECT_EQ(Brush2D_SetUVs(Brush2D_SetColours(Brush2D_Create(), &c1, &c1, &c1, &c1), &t1, &t1, &t2, &t2)->flags &
                  (BRUSH2D_COLOURS_VARY | BRUSH2D_UVS_VARY),
              0u);
    for (int i = 1; i < TOOLKIT2D_CTM_DEPTH; i++) ASSERT_EQ(Ctm2D_Push(), 1);
    EXPECT_EQ(Ctm2D_Push(), 0);
    Ctm2D_Translate(3, 4);
    const Matrix before = *Ctm2D_GetCombined();
    Vec2 anchor = {10, 10};
    int letters = -1;
    DrawFrame([&] { letters = Draws([&] { Font2D_DrawString(font, "A A", 20, &anchor, brush); }); });
    EXPECT_EQ(std::tuple(letters, anchor.x), std::tuple(2, 10.0f));
    EXPECT_EQ(memcmp(&before.pos, &Ctm2D_GetCombined()->pos, sizeof before.pos), 0);
    ASSERT_EQ(Ctm2D_SetIdentity(), 1);
    Font2D_Destroy(font);
    // Without a camera the curves cannot be flattened: refused.
    Toolkit2D_SetDeviceCamera(nullptr);
    EXPECT_EQ(ReadText("outline", kMetrics3), nullptr);
    Vec2 axes[3];
    EXPECT_EQ(Ctm2D_GetCombined(), nullptr);
    EXPECT_EQ(Toolkit2D_GetDeviceAxes(&axes[0], &axes[1], &axes[2]), 0);
    Path2D* line = Path2D_LineTo(Path2D_Create(), 1, 1);
    EXPECT_EQ(Path2D_Stroke(line, brush), nullptr);
    Path2D_Destroy(line);
    EXPECT_EQ(Toolkit2D_Open(camera), 0);  // already open
    while (Ctm2D_Pop()) {}
    Toolkit2D_Close();
    EXPECT_EQ(Ctm2D_Pop() + Ctm2D_Push() + Toolkit2D_SetDeviceCamera(camera), 0);
}

TEST_F(Font2DTest, PaddingAddedForTheDeviceIsTransparentBlack)
{
    // 24 x 16 on a power-of-two device: padded to a 32 x 32 square. New
    // memory starts as 0xA5 here, so uncleared padding shows.
    WriteImage(folder + "odd.png", 24, 16, [](int32_t, int32_t) { return 0xFF808080u; });
    Font2D* font = ReadText("odd", "METRICS1\nodd.png\n12\n65 8 0 24 16\n");
    ASSERT_NE(font, nullptr);
    const Font2DGlyph* a = GlyphOf(font, 'A');
    Raster* raster = a->raster;
    ASSERT_EQ(std::tuple(raster->width, raster->height, a->uMax), std::tuple(32, 32, 24 / 32.0f));
    const uint8_t* pixels = Raster_Lock(raster, 0, RASTERLOCKREAD);
    ASSERT_NE(pixels, nullptr);
    int dirty = 0, inked = 0;
    for (int32_t y = 0; y < 32; y++)
        for (int32_t x = 0; x < 32 * raster->depth / 8; x++)
            (x >= 24 * raster->depth / 8 || y >= 16 ? dirty : inked) += pixels[(size_t)y * raster->stride + x] != 0;
    Raster_Unlock(raster);
    EXPECT_TRUE(dirty == 0 && inked > 0) << dirty << " " << inked;
    Font2D_Destroy(font);
    // A masked cell page is padded the same way, its coordinates rescaled.
    WriteMetrics2Image();
    WriteImage(folder + "mask.png", 40, 24, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
    font = ReadText("masked", "METRICS2\ncells.png mask.png\n10\nABC\nD\n");
    ASSERT_NE(font, nullptr);
    a = GlyphOf(font, 'A');
    EXPECT_EQ(std::tuple(a->raster->width, a->uMin, a->vMax), std::tuple(64, 2 / 64.0f, 10 / 64.0f));
    Font2D_Destroy(font);
}

}  // namespace
}  // namespace toolkit2dtest
