// What the content layer draws outside the scene graph: 2D sprites, fonts,
// the billboard batch of 3D sprites and the quad batch, and a HUD over
// billboards pinned by a golden image.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>

#include "app/shell.h"
#include "common/list.h"
#include "engine/billboard.h"
#include "engine/font.h"
#include "engine/fontglyphs.h"
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
    f.right = {m.m[0][0], m.m[0][1], m.m[0][2]};
    f.up = {m.m[1][0], m.m[1][1], m.m[1][2]};
    f.at = {m.m[2][0], m.m[2][1], m.m[2][2]};
    f.pos = {m.m[3][0], m.m[3][1], m.m[3][2]};
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
        ASSERT_EQ(Toolkit2D_Open(camera), 1);
        ASSERT_EQ(Toolkit2D_SetDeviceRect(0, 0, (float)width, (float)height), 1);
        ASSERT_EQ(Sprite_Init(), 1);
        ASSERT_EQ(Font_Init(), 1);
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
    // The box of the white pixels drawn by fn: "left right top bottom".
    std::string Lit(const std::function<void()>& fn)
    {
        Draw(fn);
        int32_t l = -1, r = -1, t = -1, b = -1;
        for (int32_t y = 0; y < height; y++)
            for (int32_t x = 0; x < width; x++) {
                if (Pixel(x, y) != 0xFFFFFF) continue;
                if (t < 0) t = y;
                b = y;
                if (l < 0 || x < l) l = x;
                r = std::max(r, x);
            }
        return std::to_string(l) + " " + std::to_string(r) + " " + std::to_string(t) + " " + std::to_string(b);
    }
};

TEST_F(SpriteTest, SharedLoadsShareOneSpriteAndLargeImagesAreHalvedUntilTheyFit)
{
    Solid("a.png", 8, 8, 0xFFFF0000);
    Sprite* first = Sprite_Load("Art\\a.png", 1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Sprite_Load("ART\\A.PNG", 1), first);
    EXPECT_EQ(first->flags, (uint32_t)SPRITE_LOADED);
    Sprite* own = Sprite_Load("Art\\a.png", 0);
    EXPECT_NE(own, first);
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

    struct Case {
        const char* name;
        int32_t w, h;
        uint32_t fitW, fitH;
        int32_t depth;
    } cases[] = {{"big.png", 2048, 2048, 1024, 1024, 16},
                 {"long.png", 4100, 300, 512, 37, 16},
                 {"fits.bmp", 1024, 8, 1024, 8, 32},
                 {"odd.png", 100, 50, 100, 50, 32}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Solid(c.name, c.w, c.h, 0xFF00FF00);
        Sprite* s = Sprite_Load((std::string("Art\\") + c.name).c_str(), 0);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(std::vector<int64_t>({s->pixelWidth, s->pixelHeight, (int64_t)Sprite_GetWidth(s), s->raster->depth}),
                  std::vector<int64_t>({c.fitW, c.fitH, c.fitW, c.depth}));
        EXPECT_EQ(s->image, nullptr);
        Sprite_Release(s);
    }
}

TEST_F(SpriteTest, EdgeModeTexelCentresBlendModesAndColoursReachThePixels)
{
    // Edge mode counts negative positions from the right and lower edges.
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
    // Two texels, black and white, stretched over 200 pixels: with texel-
    // centre coordinates the ramp runs from the left edge to the right one.
    WriteImage("data/Art/ramp.png", 2, 1, [](int32_t x, int32_t) { return x ? 0xFFFFFFFFu : 0xFF000000u; });
    Sprite* ramp = Sprite_Load("Art\\ramp.png", 0);
    Sprite_SetVirtualScreen(0);
    const float whole[4] = {0, 0, 200, 10}, rightHalf[4] = {1, 0, 1, 1}, below[4] = {0, 20, 200, 10};
    Draw([&] {
        Sprite_DrawSimple(ramp, whole);
        Sprite_Draw(ramp, 0, rightHalf, below);
    });
    Sprite_SetVirtualScreen(1);
    EXPECT_LE(Channel(Pixel(0, 5), 0), 3);
    EXPECT_NEAR(Channel(Pixel(50, 5), 0), 64, 4);
    EXPECT_NEAR(Channel(Pixel(100, 5), 0), 128, 4);
    EXPECT_GE(Channel(Pixel(199, 5), 0), 252);
    EXPECT_GE(Channel(Pixel(5, 25), 0), 252);  // the source rectangle's one texel
    Sprite_Release(ramp);
    // A sprite of colour (64, 128, 255), alpha 128, over 50 % grey.
    Solid("tint.png", 8, 8, 0x804080FF);
    Sprite* tint = Sprite_Load("Art\\tint.png", 0);
    const int modes[][4] = {{SPRITE_BLEND_ALPHA, 96, 128, 191},
                            {SPRITE_BLEND_SUBTRACTIVE, 96, 64, 0},
                            {SPRITE_BLEND_ADDITIVE, 192, 255, 255}};
    for (const auto& [mode, r, g, b] : modes) {
        Sprite_SetBlendMode(tint, (uint32_t)mode);
        const float rect[4] = {0, 0, 64, 64};
        Draw([&] { Sprite_DrawSimple(tint, rect); }, 0x808080);
        EXPECT_NEAR(Channel(Pixel(10, 10), 16), r, 3) << mode;
        EXPECT_NEAR(Channel(Pixel(10, 10), 8), g, 3) << mode;
        EXPECT_NEAR(Channel(Pixel(10, 10), 0), b, 3) << mode;
    }
    Sprite_Release(tint);
    // A blank sprite draws its colour; the alpha setter keeps it.
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

TEST_F(SpriteTest, FontsComeFromTheirFolderOrFallBackToTheLineFontAndStandOnTheBaseLine)
{
    Font* block = Font_Load("Block", "Sub");
    Font* missing = Font_Load("Block", nullptr);  // not in "Fonts\"
    Font* line = Font_Load(nullptr, nullptr);
    ASSERT_TRUE(block && missing && line);
    EXPECT_EQ(std::vector<uint32_t>({block->flags, missing->flags, line->flags}),
              std::vector<uint32_t>({FONT_TOOLKIT, FONT_BUILTIN, FONT_BUILTIN}));
    EXPECT_STREQ(block->name, "Block");
    EXPECT_EQ(missing->name, nullptr);
    EXPECT_EQ(List_Count(Font_GetPool()), 3u);
    Font_Release(missing);
    EXPECT_EQ(List_Count(Font_GetPool()), 2u);
    // Glyphs of 16 x 32 pixels whose base line lies 24 pixels above their
    // lower edge; line-font glyphs (20 pixels at size 3) stand upright on it,
    // leave out their last pixel, and edge mode counts from the right.
    EXPECT_EQ(Lit([&] { Font_Printf(block, 100, 200, "AB"); }), "100 131 192 223");
    Font_SetSize(line, 3.0f);
    EXPECT_EQ(Lit([&] { Font_Printf(line, -100, 200, "T"); }), "540 559 180 199");
    EXPECT_EQ(Pixel(541, 180), 0xFFFFFFu);  // the bar of the "T" is at the top
    EXPECT_EQ(Pixel(541, 190), 0x000000u);

    // Sizes carry the screen factor while measures stay on the virtual screen.
    App_SetScreenSize(800, 600);
    Font_SetSize(line, 2.0f);
    Font_SetSize(block, 2.0f);
    EXPECT_FLOAT_EQ(line->size, 2.5f);
    EXPECT_FLOAT_EQ(Font_GetHeight(line), 20.0f);
    EXPECT_FLOAT_EQ(Font_MeasureF(line, "%d%s", 42, "ab"), 4 * 10 * 2.0f);
    EXPECT_FLOAT_EQ(Font_GetHeight(block), 32 * 2.0f);
    EXPECT_FLOAT_EQ(Font_MeasureF(block, "AB"), 32 * 2.0f);
    const uint8_t red[4] = {255, 0, 0, 128};
    Font_SetColour(line, red);
    EXPECT_EQ(line->lines->colour, 0x80FF0000u);
    Font_SetAlpha(line, 0.65f);
    EXPECT_EQ(line->lines->colour, 0xA5FF0000u);
    // Line-font letters never overlap at any size: A's 3 lines, B's 8.
    Font_SetSize(line, 1.0f);
    for (int32_t w : {640, 1280, 320}) {
        App_SetScreenSize(w, w * 3 / 4);
        Font_SetSize(line, 1.0f);
        Draw([&] { Font_DrawString(line, 0, 100, "AB", 0); });
        const ScreenVertex* v = line->lines->vertices;
        float aMax = 0, bMin = 1e9f;
        for (int i = 0; i < 6; i++) aMax = std::max(aMax, v[i].x);
        for (int i = 6; i < 22; i++) bMin = std::min(bMin, v[i].x);
        EXPECT_LT(aMax, bMin) << w;
        EXPECT_FLOAT_EQ(bMin - v[0].x, 10.0f * (float)w / 640.0f) << w;
    }
    // "8" has 5 segments: 60 of them make 300 lines, drawn in two lists.
    App_SetScreenSize(640, 480);
    Font_SetSize(line, 1.0f);
    const std::string log =
        Record([&] { Draw([&] { Font_DrawString(line, 0, 100, std::string(60, '8').c_str(), 0); }); });
    EXPECT_EQ(Count(log, ", 256) = "), 1) << log;
    EXPECT_EQ(Count(log, "DrawPrimitive(2, "), 2) << log;
    // The glyph table holds every code from "!" to "Z", each within the grid
    // and with room for its end marker.
    const FontGlyph* table = FontGlyphs_GetTable();
    for (uint32_t i = 0; i < FONT_GLYPH_COUNT; i++) {
        EXPECT_EQ(table[i].code, (char)('!' + i));
        uint32_t n = 0;
        for (const FontGlyphSegment* s = table[i].segments;
             n < FONT_GLYPH_MAX_SEGMENTS && (s->x0 | s->y0 | s->x1 | s->y1); s++, n++)
            EXPECT_LE(std::max({s->x0, s->y0, s->x1, s->y1}), 128) << table[i].code;
        EXPECT_GT(n, 0u) << table[i].code;
        EXPECT_LT(n, (uint32_t)FONT_GLYPH_MAX_SEGMENTS) << table[i].code;
    }
}

TEST_F(SpriteTest, BoxLinesBreakAtBlanksAndAfterHyphensAndAlwaysMoveOn)
{
    Font* font = Font_Load(nullptr, nullptr);  // 10 virtual pixels a character
    struct Case {
        const char* text;
        float width;
        size_t length, skip;
    } cases[] = {{"one two three", 75, 7, 1}, {"one two", 200, 7, 0}, {"well-known fact", 80, 5, 0},
                 {"unbreakable", 50, 5, 0},   {"ab\ncd", 200, 2, 1},  {"abc def", 30, 3, 1},
                 {"wide", 5, 1, 0},           {"\nx", 50, 0, 1}};
    for (const Case& c : cases) {
        size_t skip = 9;
        EXPECT_EQ(Font_LayoutLine(font, c.text, c.width, &skip), c.length) << c.text;
        EXPECT_EQ(skip, c.skip) << c.text;
    }
    // One character wider than the box still ends: one line per character;
    // a height above 0 stops the drawing.
    Draw([&] { EXPECT_FLOAT_EQ(Font_PrintfBox(font, 10, 50, 5, 0, 0, "%s", "wide"), 4.5f * 10.0f); });
    Draw([&] { EXPECT_FLOAT_EQ(Font_PrintfBox(font, 10, 50, 5, 15, 0, "wide"), 2.5f * 10.0f); });
}

// A wide target (the game's 1280 x 720, three quarters of it): a text
// stretches as a sprite does. The block glyph "A" and a blank sprite of its
// virtual rectangle light the same pixels, and so, but for the lines' last
// pixel, do a line-font "T" and a sprite of its cell; whatever user space the
// 2D toolkit was given (the window's pixels, as the shell leaves it, or the
// game's 640 x 480).
class WideSpriteTest : public SpriteTest {
protected:
    WideSpriteTest() { width = 960, height = 540; }
};

TEST_F(WideSpriteTest, TextsStretchOntoTheTargetAsSpritesDo)
{
    const uint32_t white = 0xFFFFFFFFu;
    Sprite* blank = Sprite_CreateBlank(&white, 1, 1);
    Font* block = Font_Load("Block", "Sub");
    Font* line = Font_Load(nullptr, nullptr);
    Font_SetSize(line, 3.0f);  // a 20 x 20 virtual cell
    const float glyphA[4] = {100, 192, 16, 32}, cellT[4] = {540, 180, 20, 20};
    for (const float userWidth : {(float)width, 640.0f}) {
        ASSERT_EQ(Toolkit2D_SetDeviceRect(0, 0, userWidth, userWidth * 0.75f), 1);
        const std::string sprite = Lit([&] { Sprite_Draw(blank, 0, nullptr, glyphA); });
        EXPECT_EQ(sprite, "150 173 216 251");  // x 1.5, y 1.125
        EXPECT_EQ(Lit([&] { Font_Printf(block, 100, 200, "A"); }), sprite) << userWidth;
        EXPECT_EQ(Lit([&] { Sprite_Draw(blank, 0, nullptr, cellT); }), "810 839 203 224");
        EXPECT_EQ(Lit([&] { Font_Printf(line, -100, 200, "T"); }), "810 839 203 224") << userWidth;
    }
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
    uint32_t DrawWith(const Mat4& cam)
    {
        PlaceCamera(camera, cam);
        uint32_t drawn = 0;
        DrawFrame([&] { drawn = Billboard_Draw(&cam); });
        return drawn;
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

TEST_F(BillboardTest, SpriteFramesDivideTheImageAndBlendModesFollowTheTable)
{
    const uint32_t frames[][3] = {{64, 1, 4}, {256, 1, 1}, {60, 0, 0}, {0, 0, 0}};
    for (const auto& [frameHeight, loads, count] : frames) {
        Sprite3d* s = Sprite3d_LoadSprite("strip.png", nullptr, frameHeight, 0);
        ASSERT_EQ(s != nullptr, loads == 1) << frameHeight;
        if (!s) continue;
        EXPECT_EQ(s->frameCount, count);
        EXPECT_FLOAT_EQ(s->frameFraction, 1.0f / (float)count);
        EXPECT_EQ(Str({s->width, s->height, (float)s->renderValue}), "64 256 3");
        Sprite3d_Release(s);
    }
    EXPECT_EQ(Sprite3d_LoadSprite("missing.png", nullptr, 64, 0), nullptr);
    EXPECT_EQ(List_Count(Sprite3d_GetPool()), 2u);
    // Mode: source, destination, Z write, Z test.
    const uint32_t modes[][5] = {{0, 2, 2, 0, 1}, {1, 1, 4, 0, 1}, {2, 5, 6, 0, 1}, {3, 2, 2, 0, 0}, {4, 2, 1, 1, 1},
                                 {5, 5, 6, 1, 1}, {6, 5, 6, 1, 0}, {7, 2, 1, 1, 1}, {99, 2, 1, 1, 1}};
    for (const auto& [mode, src, dest, zWrite, zTest] : modes) {
        Sprite3d_SetBlendMode(white, mode);
        EXPECT_EQ(std::vector<uint32_t>({white->srcBlend, white->destBlend, white->zWrite, white->zTest}),
                  std::vector<uint32_t>({src, dest, zWrite, zTest}))
            << mode;
    }
    // A clone shares the texture and keeps it alive after the original goes.
    Sprite3d* copy = Sprite3d_Clone(white);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->texture, white->texture);
    EXPECT_EQ(white->texture->refCount, 2);
    Sprite3d_Release(white);
    EXPECT_EQ(copy->texture->refCount, 1);
}

TEST_F(BillboardTest, AFullBatchDropsOrOverwritesTheRingSlotAndAFrameOutOfRangeIsTheFirst)
{
    BillboardBatch* b = Billboard_GetBatch();
    ASSERT_EQ(b->capacity, 500u);
    for (int i = 0; i < 500; i++) ASSERT_EQ(Facing(white, {0, 0, (float)i}), 1);
    EXPECT_EQ(Facing(white, {9, 9, 9}), 0);
    EXPECT_EQ(b->quadCount, 500u);
    // 502 overwrites: slots 0 .. 499, then 0 and 1 again; nothing is added
    // to the sort list twice.
    Billboard_SetWrap(1);
    for (int i = 0; i < 502; i++) ASSERT_EQ(Facing(white, {1, 2, (float)i}), 1);
    EXPECT_EQ(b->quadCount + b->vertexCount + b->ringPosition, 500u + 2000u + 2u);
    EXPECT_EQ(Str(b->quads[0].centre) + ", " + Str(b->quads[2].centre), "1 2 500, 1 2 2");
    for (uint32_t i = 0; i < 500; i++) EXPECT_EQ(b->sortList[i], i);
    Billboard_ResetCounts();
    EXPECT_EQ(b->quadCount + b->vertexCount + b->ringPosition, 0u);

    // The corners, colours and frames of both kinds are in the HUD golden;
    // here a frame past the sprite's last draws frame 0, under a key of its own.
    const uint8_t rgba[4] = {10, 20, 30, 40};
    const float size[2] = {2, 4}, colour[4] = {1.0f, 0.5f, 0.25f, 0.65f};
    const Vec3 centre = {5, 6, 7}, normal = {0, 1, 0}, forward = {0, 0, 1};
    ASSERT_EQ(Billboard_AddFacing(strip, &centre, rgba, nullptr, size, 3), 1);
    ASSERT_EQ(Billboard_AddOriented(strip, &centre, &normal, &forward, colour, size, 4), 1);
    const BillboardQuad &f = b->quads[0], &o = b->quads[1];
    EXPECT_EQ(Str({f.vertices[0].v, f.vertices[3].v, (float)o.frame}), "0.7525 0.9975 0");
    EXPECT_FLOAT_EQ(o.vertices[0].v, 0.01f * 0.25f);
    EXPECT_EQ(o.vertices[2].colour, 0xA5FF7F3Fu);  // each x 255 truncated
    EXPECT_EQ(o.indices[0], 4);
    EXPECT_NE(o.sortKey, f.sortKey);  // other frame, other key
}

TEST_F(BillboardTest, TheDrawFacesEachViewAndSkipsFarOrInactiveQuads)
{
    // Added facing the camera that looks along +z, then drawn from one that
    // looks along +x at a quad 5 units ahead: edge-on unless turned to it.
    Facing(white, {5, 0, 0}, 0xFFFFFFFF, &front);
    EXPECT_EQ(DrawWith(Looking({0, 0, 0}, {1, 0, 0})), 1u);
    EXPECT_GT(CountColour(0xFFFFFF), 1000);
    EXPECT_EQ(Pixel(width / 2, height / 2), 0xFFFFFFu);
    Billboard_SetActive(0);
    EXPECT_EQ(DrawWith(Looking({0, 0, 0}, {1, 0, 0})), 0u);
    EXPECT_EQ(CountColour(0xFFFFFF), 0);
    Billboard_SetActive(1);
    // 300 from the camera is drawn, beyond it not.
    for (const float z : {300.0f, 300.5f}) {
        Billboard_ResetCounts();
        Facing(white, {0, 0, z}, 0xFFFFFFFF, nullptr, 40.0f);
        EXPECT_EQ(DrawWith(front), z == 300.0f ? 1u : 0u);
    }
}

TEST_F(BillboardTest, MaterialsDrawInTheOrderAddedAndFarthestFirstWithinOne)
{
    // Alpha blending with Z test and no Z write: what is drawn last shows.
    Facing(white, {0, 0, 4}, 0xFFFF0000);  // near red first
    Facing(white, {0, 0, 6}, 0xFF0000FF);  // far blue second
    EXPECT_EQ(DrawWith(front), 2u);
    EXPECT_EQ(Pixel(width / 2, height / 2), 0xFF0000u);
    // Whatever the keys' values, the material added first is drawn first:
    // the strip's top frame is red, the white sprite white.
    for (bool stripFirst : {false, true}) {
        Billboard_ResetCounts();
        Facing(stripFirst ? strip : white, {0, 0, 5});
        Facing(stripFirst ? white : strip, {0, 0, 5});
        EXPECT_EQ(DrawWith(front), 2u);
        EXPECT_EQ(Pixel(width / 2, height / 2), stripFirst ? 0xFFFFFFu : 0xFF0000u) << stripFirst;
    }
}

TEST_F(BillboardTest, AShadowDarkensByItsAlphaAndTheDrawsPutTheStatesBack)
{
    Sprite3d_SetBlendMode(white, 1);
    const Vec3 centre = {0, 0, 5}, normal = {0, 0, -1}, forward = {0, 1, 0};
    const float colour[4] = {1, 1, 1, 0.25f}, size[2] = {4, 4};
    ASSERT_EQ(Billboard_AddOriented(white, &centre, &normal, &forward, colour, size, 0), 1);
    PlaceCamera(camera, front);
    const int32_t names[3] = {20, 8, 14};  // cull, Z write, fog
    uint32_t states[3] = {0, 0, 1};
    DrawFrame(
        [&] {
            RenderState_Set(20, (void*)3);
            RenderState_Set(8, (void*)1);
            RenderState_Set(14, (void*)0);
            EXPECT_EQ(Billboard_Draw(&front), 1u);
            for (int i = 0; i < 3; i++) RenderState_Get(names[i], &states[i]);
        },
        0xFFFFFF);
    EXPECT_NEAR(Channel(Pixel(width / 2, height / 2), 8), 191, 2);
    EXPECT_EQ(std::vector<uint32_t>(states, states + 3), (std::vector<uint32_t>{3, 1, 0}));
    // A quad batch flushes its second pass first and empties.
    QuadBatch* q = QuadBatch_Create(2, 1);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(QuadBatch_AddQuad(q, 10, 10, 100, 100, 0xFF0000FF, 0), 1);
    EXPECT_EQ(QuadBatch_AddQuad(q, 50, 50, 150, 150, 0xFFFF0000, QUADBATCH_SECOND_PASS), 1);
    EXPECT_EQ(QuadBatch_AddQuad(q, 0, 0, 1, 1, 0xFFFF0000, QUADBATCH_SECOND_PASS), 0);  // full
    uint32_t zTest = 0;
    DrawFrame([&] {
        RenderState_Set(20, (void*)2);
        QuadBatch_Flush(q);
        RenderState_Get(6, &zTest);
    });
    // The first pass lies over the second.
    EXPECT_EQ(std::vector<uint32_t>({Pixel(75, 75), Pixel(120, 120), Pixel(20, 20), zTest}),
              std::vector<uint32_t>({0x0000FF, 0xFF0000, 0x0000FF, 1}));
    EXPECT_EQ(q->count[0] + q->count[1], 0u);
    QuadBatch_Destroy(q);
}

// A blocky glyph of cell (x, y) in an 8 x 12 cell: a frame with a diagonal
// or a bar chosen by the glyph's number.
bool GlyphPixel(int32_t x, int32_t y, int32_t n)
{
    if (x < 1 || x > 6 || y < 2 || y > 10) return false;
    const bool frame = x == 1 || x == 6 || y == 2 || y == 10;
    const bool diagonal = n % 2 ? x == 1 + (y - 2) * 5 / 8 : x == 6 - (y - 2) * 5 / 8;
    return n % 3 == 0 ? frame : frame != diagonal || y == 6;
}

// A HUD-like overlay over a small 3D scene: a ground quad with an object's
// shadow on it and camera-facing flares and smoke from the billboard batch,
// then a translucent panel, an icon with an alpha ramp, text in a bitmap
// font and in the line font, drawn by a camera of the 2D toolkit into the 3D
// camera's rasters.
TEST_F(BillboardTest, GoldenHudOverBillboardsAndAShadow)
{
    std::filesystem::create_directories("data/Fonts");
    std::filesystem::create_directories("data/Hud");
    ASSERT_EQ(Sprite_Init(), 1);
    Camera* hud = Camera_Create();
    Camera_SetFrame(hud, Frame_Create());
    Camera_SetRaster(hud, camera->frameBuffer);
    Camera_SetZRaster(hud, camera->zBuffer);
    const Vec2 window = {1.0f, 0.75f};
    Camera_SetViewWindow(hud, &window);
    ASSERT_EQ(Toolkit2D_Open(hud), 1);
    ASSERT_EQ(Toolkit2D_SetDeviceRect(0, 0, (float)width, (float)height), 1);
    ASSERT_EQ(Font_Init(), 1);
    WriteImage("data/ground.png", 16, 16,
               [](int32_t x, int32_t y) { return ((x / 4 + y / 4) % 2) ? 0xFF3C7830u : 0xFF48903Au; });
    WriteImage("data/blob.png", 32, 32, [](int32_t x, int32_t y) {
        return (x - 16) * (x - 16) + (y - 16) * (y - 16) < 196 ? 0xFFFFFFFFu : 0xFF000000u;
    });
    WriteImage("data/flare.png", 32, 64, [](int32_t x, int32_t y) {  // two frames: a yellow glow and a cyan one
        const int32_t d = (x - 16) * (x - 16) + (y % 32 - 16) * (y % 32 - 16);
        const uint32_t level = d < 256 ? (uint32_t)(255 - d) : 0;
        return y < 32 ? 0xFF000000u | level << 16 | level << 8 : 0xFF000000u | level << 8 | level;
    });
    WriteImage("data/smoke.png", 16, 16, [](int32_t x, int32_t y) {
        const int32_t d = (x - 8) * (x - 8) + (y - 8) * (y - 8);
        return (d < 64 ? (uint32_t)(200 - d * 3) : 0u) << 24 | 0xC0C0C0u;
    });
    Sprite3d* ground = Sprite3d_LoadSprite("ground.png", nullptr, 16, 7);
    Sprite3d* shadow = Sprite3d_LoadSprite("blob.png", nullptr, 32, 1);
    Sprite3d* flare = Sprite3d_LoadSprite("flare.png", nullptr, 32, 0);
    Sprite3d* smoke = Sprite3d_LoadSprite("smoke.png", nullptr, 16, 2);
    ASSERT_TRUE(ground && shadow && flare && smoke);
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
    const Mat4 cam = Looking({0, 2, 0}, {0, -0.3f, 1});
    PlaceCamera(camera, cam);
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
            const uint8_t glow[4] = {255, 255, 255, 255};
            const float flareSize[2] = {1.5f, 1.5f}, puff[2] = {1, 1};
            for (int i = 0; i < 3; i++) {
                const Vec3 p = {1.5f - (float)i * 0.8f, 1.2f + (float)i * 0.3f, 7 + (float)i};
                Billboard_AddFacing(flare, &p, glow, &cam, flareSize, (uint32_t)i % 2);
                const Vec3 q = {-1.2f + (float)i * 0.3f, 0.6f + (float)i * 0.5f, 6.5f};
                Billboard_AddFacing(smoke, &q, glow, &cam, puff, 0);
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
    Font_Shutdown();
    Toolkit2D_Close();
    Camera_SetRaster(hud, nullptr);
    Camera_SetZRaster(hud, nullptr);
    DestroyCamera(hud);
    Sprite_Shutdown();
}

}  // namespace
