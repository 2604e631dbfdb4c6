#include "gfx/toolkit/2d/path2d.h"

#include "gfx/core/arraylist.h"
#include "gfx/core/texture.h"
#include "tests/gfx/toolkit/2d/toolkit2d_fixture.h"

namespace toolkit2dtest {
namespace {

// The fixture maps one user unit to one pixel: the tolerance is 0.25.
constexpr float kTolerance = 0.25f;

std::vector<Path2DNode> NodesOf(const Path2D* sub)
{
    const Path2DNode* n = Path2D_GetNodes(sub);
    return std::vector<Path2DNode>(n, n + Path2D_GetNodeCount(sub));
}

bool Finite(const Path2DNode& n)
{
    return std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.nx) && std::isfinite(n.ny) &&
           std::isfinite(n.length);
}

Vec2 Bezier(const Vec2 p[4], float t)
{
    const float s = 1 - t;
    const float a = s * s * s, b = 3 * s * s * t, c = 3 * s * t * t, d = t * t * t;
    return {a * p[0].x + b * p[1].x + c * p[2].x + d * p[3].x, a * p[0].y + b * p[1].y + c * p[2].y + d * p[3].y};
}

float DistanceToSegment(Vec2 p, const Path2DNode& a, const Path2DNode& b)
{
    const float dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    float t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0;
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    const float ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
    return std::sqrt(ex * ex + ey * ey);
}

class Path2DTest : public Toolkit2DTest {};

TEST_F(Path2DTest, ClosingASquareAddsTheFifthNodeAndOneSharedMiter)
{
    PathScope p;
    Path2D_MoveTo(p.path, 0, 0);
    Path2D_LineTo(p.path, 10, 0);
    Path2D_LineTo(p.path, 10, 10);
    Path2D_LineTo(p.path, 0, 10);
    ASSERT_NE(Path2D_ClosePath(p.path), nullptr);
    EXPECT_EQ(Path2D_Validate(p.path), 1);
    const auto n = NodesOf(p.path);
    ASSERT_EQ(n.size(), 5u);
    EXPECT_EQ(n[4].type, PATH2D_LINE);
    EXPECT_EQ(n[4].x, 0);
    EXPECT_EQ(n[4].y, 0);
    EXPECT_EQ(n[4].length, 40);
    EXPECT_EQ(p.path->closed, 1u);
    EXPECT_EQ(n[0].nx, n[4].nx);
    EXPECT_EQ(n[0].ny, n[4].ny);
    // The miter projects to length 1 on both segment normals it joins:
    // the first segment's (0, -1) and the closing one's (-1, 0).
    EXPECT_NEAR(n[0].nx * 0 + n[0].ny * -1, 1, 1e-6);
    EXPECT_NEAR(n[0].nx * -1 + n[0].ny * 0, 1, 1e-6);
    // Every corner in between has its miter too.
    for (int i = 1; i < 4; i++) EXPECT_NEAR(std::fabs(n[i].nx) + std::fabs(n[i].ny), 2, 1e-6) << i;
}

TEST_F(Path2DTest, LinesAndCurvesOnAnEmptySubPathMove)
{
    PathScope p;
    Path2D_LineTo(p.path, 3, 4);
    Path2D_LineTo(p.path, 6, 8);
    auto n = NodesOf(p.path);
    ASSERT_EQ(n.size(), 2u);
    EXPECT_EQ(n[0].type, PATH2D_MOVE);
    EXPECT_EQ(n[1].length, 5);
    PathScope q;
    Path2D_CurveTo(q.path, 1, 1, 2, 2, 9, 9);
    n = NodesOf(q.path);
    ASSERT_EQ(n.size(), 1u);
    EXPECT_EQ(n[0].type, PATH2D_MOVE);
    EXPECT_EQ(n[0].x, 9);
    EXPECT_EQ(q.path->flat, 1u);
}

struct CurveCase {
    Vec2 p[4];
    int segments;  // -1: only check that the curve is followed within the tolerance
};

class CurveTest : public Path2DTest, public ::testing::WithParamInterface<CurveCase> {};

TEST_P(CurveTest, CurvesFlattenWithinTheToleranceWithoutNaN)
{
    const CurveCase& c = GetParam();
    ASSERT_NEAR(Toolkit2D_GetFlatness(), kTolerance, 1e-6f);
    PathScope p;
    Path2D_MoveTo(p.path, c.p[0].x, c.p[0].y);
    Path2D_CurveTo(p.path, c.p[1].x, c.p[1].y, c.p[2].x, c.p[2].y, c.p[3].x, c.p[3].y);
    EXPECT_EQ(Path2D_Validate(p.path), 1);
    ASSERT_NE(Path2D_FlattenInPlace(p.path), nullptr);
    EXPECT_EQ(Path2D_Validate(p.path), 1);
    EXPECT_EQ(p.path->flat, 1u);
    const auto n = NodesOf(p.path);
    ASSERT_GE(n.size(), 2u);
    if (c.segments >= 0) {
        EXPECT_EQ((int)n.size() - 1, c.segments);
    }
    for (size_t i = 0; i < n.size(); i++) {
        EXPECT_TRUE(Finite(n[i])) << i;
        EXPECT_EQ(n[i].type, i ? PATH2D_LINE : PATH2D_MOVE);
    }
    EXPECT_EQ(n.back().x, c.p[3].x);
    EXPECT_EQ(n.back().y, c.p[3].y);
    for (int k = 0; k <= 400; k++) {
        const Vec2 q = Bezier(c.p, k / 400.0f);
        float best = INFINITY;
        for (size_t i = 1; i < n.size(); i++) best = std::min(best, DistanceToSegment(q, n[i - 1], n[i]));
        EXPECT_LE(best, std::sqrt(kTolerance) + 1e-3f) << "t = " << k / 400.0f;
    }
}

INSTANTIATE_TEST_SUITE_P(Curves, CurveTest,
                         ::testing::Values(CurveCase{{{0, 0}, {10, 0}, {20, 0}, {30, 0}}, 1},  // on the chord
                                           CurveCase{{{5, 5}, {5, 5}, {5, 5}, {5, 5}}, 128},   // never flat: full depth
                                           CurveCase{{{0, 0}, {100, 0}, {100, 100}, {0, 0}},
                                                     16},                                   // a loop back to its start
                                           CurveCase{{{0, 0}, {1, 0}, {1, 1}, {0, 0}}, 2},  //
                                           CurveCase{{{0, 0}, {40, 60}, {80, -60}, {120, 0}}, -1},  // an S
                                           CurveCase{{{0, 0}, {0, 50}, {50, 50}, {50, 0}}, -1}));   // an arch

TEST_F(Path2DTest, RunningLengthsRiseAlongAFlattenedCurveAndTheLinesAfterIt)
{
    PathScope p;
    Path2D_MoveTo(p.path, 0, 0);
    Path2D_CurveTo(p.path, 0, 40, 40, 40, 40, 0);
    Path2D_LineTo(p.path, 60, 0);
    Path2D_LineTo(p.path, 60, 20);
    PathScope flat;
    ASSERT_NE(Path2D_Flatten(flat.path, p.path), nullptr);
    const auto n = NodesOf(flat.path);
    ASSERT_GT(n.size(), 4u);
    float sum = 0;
    for (size_t i = 1; i < n.size(); i++) {
        sum += std::hypot(n[i].x - n[i - 1].x, n[i].y - n[i - 1].y);
        EXPECT_NEAR(n[i].length, sum, 1e-3f) << i;
        EXPECT_GT(n[i].length, n[i - 1].length) << i;
    }
    // The corner after the curve carries the miter of the last curve
    // segment and the first line, so it is not the line's bare normal.
    const Path2DNode& corner = n[n.size() - 3];
    EXPECT_EQ(corner.x, 40);
    EXPECT_GT(std::fabs(corner.nx) + std::fabs(corner.ny), 1.01f);
}

TEST_F(Path2DTest, PathsThatDoubleBackOrStandStillGiveFiniteNormals)
{
    PathScope p;
    Path2D_MoveTo(p.path, 0, 0);
    Path2D_LineTo(p.path, 10, 0);
    Path2D_LineTo(p.path, 0, 0);  // straight back
    Path2D_LineTo(p.path, 0, 0);  // no length
    Path2D_LineTo(p.path, 0, 10);
    auto n = NodesOf(p.path);
    ASSERT_EQ(n.size(), 5u);
    for (const auto& node : n) EXPECT_TRUE(Finite(node));
    // The turn takes the returning segment's normal; the still segment
    // keeps that normal and adds no length.
    EXPECT_NEAR(n[1].nx, 0, 1e-6);
    EXPECT_NEAR(n[1].ny, 1, 1e-6);
    EXPECT_EQ(n[3].length, n[2].length);

    // Closed where it doubled back: the start joins two opposite segments.
    PathScope q;
    Path2D_MoveTo(q.path, 0, 0);
    Path2D_LineTo(q.path, 10, 0);
    Path2D_LineTo(q.path, 0, 0);
    Path2D_ClosePath(q.path);
    n = NodesOf(q.path);
    ASSERT_EQ(n.size(), 3u);
    for (const auto& node : n) EXPECT_TRUE(Finite(node));
    EXPECT_NEAR(n[0].ny, 1, 1e-6);

    BrushScope b;
    DrawFrame([&] {
        for (Path2D* path : {p.path, q.path}) {
            Path2D_Stroke(path, b.brush);
            for (int i = 0; i < 2 * Path2D_GetNodeCount(path); i++)
                EXPECT_TRUE(std::isfinite(LastBatch()[i].x) && std::isfinite(LastBatch()[i].y)) << i;
        }
    });
}

TEST_F(Path2DTest, LockingKeepsTheNodesAndSinglePointsAreRemoved)
{
    Path2D* path = Path2D_Create();
    Path2D_MoveTo(path, 1, 1);  // alone: removed
    Path2D_MoveTo(path, 0, 0);
    Path2D_LineTo(path, 4, 0);
    Path2D_MoveTo(path, 9, 9);  // alone: removed
    path = Path2D_RemoveSinglePoints(path);
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(path->next, nullptr);
    EXPECT_EQ(Path2D_Validate(path), 1);
    Path2D_Lock(path);
    EXPECT_EQ(path->lockedCount, 2);
    EXPECT_EQ(Path2D_Validate(path), 1);
    EXPECT_EQ(Path2D_LineTo(path, 5, 5), nullptr);
    Path2D_Unlock(path);
    // The current sub-path survived as the first one, so new nodes go there.
    ASSERT_NE(Path2D_LineTo(path, 4, 3), nullptr);
    EXPECT_EQ(Path2D_GetNodeCount(path), 3);
    Path2D_Destroy(path);
    Path2D* lone = Path2D_Create();
    Path2D_MoveTo(lone, 1, 1);
    EXPECT_EQ(Path2D_RemoveSinglePoints(lone), nullptr);
}

TEST_F(Path2DTest, ValidationCatchesEveryKindOfBrokenChain)
{
    const std::function<void(Path2D*)> breaks[] = {
        [](Path2D* p) { p->next->next = p; },                                    // a cycle
        [](Path2D* p) { p->current = p->next->next, p->next->next = nullptr; },  // current outside
        [](Path2D* p) { p->current = nullptr; },
        [](Path2D* p) { ((Path2DNode*)p->nodeList->entries)[1].type = PATH2D_MOVE; },
        [](Path2D* p) { ((Path2DNode*)p->nodeList->entries)[2].length = 1; },  // length falls
        [](Path2D* p) { p->next->flat = 1; },                                  // curves in a flat sub-path
        [](Path2D* p) { p->next->nodeList->count--; },                         // a curve cut short
        [](Path2D* p) { p->lockedCount = 3; },                                 // a count without an array
    };
    for (size_t i = 0; i < std::size(breaks); i++) {
        PathScope p, spare;
        Path2D_MoveTo(p.path, 0, 0);
        Path2D_LineTo(p.path, 10, 0);
        Path2D_LineTo(p.path, 20, 5);
        Path2D_MoveTo(p.path, 0, 10);
        Path2D_CurveTo(p.path, 1, 11, 2, 11, 3, 10);
        ASSERT_EQ(Path2D_Validate(p.path), 1);
        Path2D* second = p.path->next;
        second->next = spare.path;  // room for the breaks that need a third
        breaks[i](p.path);
        EXPECT_EQ(Path2D_Validate(p.path), 0) << i;
        // Put the chain back together so that it can be destroyed.
        second->next = nullptr;
        p.path->next = second;
        p.path->lockedCount = -1;
    }
}

TEST_F(Path2DTest, BrushColoursVaryOnlyWhenTheCornersDiffer)
{
    BrushScope b;
    const Brush2DColour red = {255, 0, 0, 255}, blue = {0, 0, 255, 255}, clear = {255, 0, 0, 0};
    struct Case {
        Brush2DColour c1, c2, c3, c4;
        bool vary;
    } cases[] = {
        {red, red, red, red, false},
        {red, blue, red, blue, true},  // same on each side, different along the length
        {red, red, blue, blue, true},  // the two sides differ
        {red, red, red, clear, true},  // only alpha
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Brush2D_SetColours(b.brush, &c.c1, &c.c2, &c.c3, &c.c4), b.brush);
        EXPECT_EQ((b.brush->flags & BRUSH2D_COLOURS_VARY) != 0, c.vary);
        EXPECT_EQ(b.brush->colour.blue, c.c4.blue);
    }
    const Vec2 a = {0, 0}, d = {1, 0};
    Brush2D_SetUVs(b.brush, &a, &a, &a, &d);  // side 1 runs from t4 to t3
    EXPECT_TRUE(b.brush->flags & BRUSH2D_UVS_VARY);
    Brush2D_SetUVs(b.brush, &a, &a, &d, &d);
    EXPECT_FALSE(b.brush->flags & BRUSH2D_UVS_VARY);  // the starts are not compared
}

TEST_F(Path2DTest, ABrushIsFreedByItsLastReferenceWithItsTexture)
{
    Brush2D* brush = Brush2D_Create();
    ASSERT_NE(brush, nullptr);
    Texture* first = Texture_Create(nullptr);
    Texture* second = Texture_Create(nullptr);
    Brush2D_SetTexture(brush, first);
    EXPECT_EQ(first->refCount, 2);
    Brush2D_SetTexture(brush, first);  // the same again keeps one reference
    EXPECT_EQ(first->refCount, 2);
    Brush2D_SetTexture(brush, second);
    EXPECT_EQ(first->refCount, 1);
    EXPECT_EQ(second->refCount, 2);
    brush->refCount++;  // a second holder
    EXPECT_EQ(Brush2D_Destroy(brush), 0);
    EXPECT_EQ(second->refCount, 2);
    EXPECT_EQ(Brush2D_Destroy(brush), 1);
    EXPECT_EQ(second->refCount, 1);
    Texture_Destroy(first);
    Texture_Destroy(second);
}

TEST_F(Path2DTest, LongStrokesGoInBatchesThatShareANode)
{
    PathScope p;
    for (int i = 0; i < 200; i++) Path2D_LineTo(p.path, (float)i * 0.5f, (float)(i % 2) * 40 + 20);
    BrushScope b;
    int draws = 0;
    DrawFrame([&] { draws = Draws([&] { EXPECT_EQ(Path2D_Stroke(p.path, b.brush), p.path); }); });
    EXPECT_EQ(draws, 2);
    // The buffer holds the second batch, which starts with the 127th node.
    const Path2DNode& n = Path2D_GetNodes(p.path)[126];
    EXPECT_NEAR(LastBatch()[0].x, n.x - n.nx * 0.5f, 1e-5f);
    EXPECT_NEAR(LastBatch()[0].y, n.y - n.ny * 0.5f, 1e-5f);
}

TEST_F(Path2DTest, StrokeVerticesFollowTheBrushAlongTheLength)
{
    PathScope p;
    Path2D_MoveTo(p.path, 10, 50);
    Path2D_LineTo(p.path, 40, 50);
    Path2D_LineTo(p.path, 110, 50);
    BrushScope b;
    const Brush2DColour c1 = {0, 0, 0, 255}, c2 = {200, 100, 0, 255}, c3 = {250, 255, 255, 255}, c4 = {0, 51, 101, 255};
    Brush2D_SetColours(b.brush, &c1, &c2, &c3, &c4);
    const Vec2 t1 = {0, 1}, t2 = {4, 1}, t3 = {4, 0}, t4 = {0, 0};
    Brush2D_SetUVs(b.brush, &t1, &t2, &t3, &t4);
    Brush2D_SetHalfWidth(b.brush, 3);
    DrawFrame([&] { Path2D_Stroke(p.path, b.brush); });
    const Im3DVertex* v = LastBatch();
    // The middle node is at t = 30 / 100: left takes side 1 (c4 -> c3), right side 2 (c1 -> c2).
    const auto channel = [](float start, float end) {
        return (uint32_t)std::floor(start + (end - start) * 0.3f + 0.5f);
    };
    const uint32_t left = 0xFF000000u | channel(0, 250) << 16 | channel(51, 255) << 8 | channel(101, 255);
    const uint32_t right = 0xFF000000u | channel(0, 200) << 16 | channel(0, 100) << 8 | channel(0, 0);
    EXPECT_EQ(v[2].colour, left);
    EXPECT_EQ(v[3].colour, right);
    EXPECT_NEAR(v[2].u, 1.2f, 1e-5f);
    EXPECT_NEAR(v[3].v, 1.0f, 1e-5f);
    // Half-width 3 to each side of a horizontal line.
    EXPECT_NEAR(std::fabs(v[2].y - v[3].y), 6, 1e-5f);
    EXPECT_EQ(v[2].z, 1.0f);
}

TEST_F(Path2DTest, AZeroLengthSubPathIsDrawnWithItsStartColours)
{
    PathScope p;
    Path2D_MoveTo(p.path, 30, 30);
    Path2D_LineTo(p.path, 30, 30);
    BrushScope b;
    const Brush2DColour c1 = {10, 20, 30, 255}, c2 = {250, 250, 250, 255}, c4 = {40, 50, 60, 255};
    Brush2D_SetColours(b.brush, &c1, &c2, &c2, &c4);
    DrawFrame([&] { Path2D_Stroke(p.path, b.brush); });
    const Im3DVertex* v = LastBatch();
    for (int i = 0; i < 4; i++) {
        EXPECT_TRUE(std::isfinite(v[i].x) && std::isfinite(v[i].y)) << i;
        EXPECT_EQ(v[i].colour, i % 2 ? 0xFF0A141Eu : 0xFF28323Cu) << i;
    }
}

// A 16 x 16 texture of 4 x 4 checks in two colours; one reference, the caller's.
Texture* Checks(uint32_t a, uint32_t b)
{
    Image* image = MakeImage(16, 16, [&](int32_t x, int32_t y) { return ((x / 4 + y / 4) % 2) ? a : b; });
    int32_t w, h, depth, format;
    Image_FindRasterFormat(image, RASTERTYPETEXTURE, &w, &h, &depth, &format);
    Raster* raster = Raster_Create(w, h, depth, (uint32_t)format);
    Raster_SetFromImage(raster, image);
    Image_Destroy(image);
    Texture* texture = Texture_Create(raster);
    // Filtered, so that the picture does not hang on which texel a pixel
    // centre on a texel edge takes.
    texture->filterAddressing = (texture->filterAddressing & ~0xFFu) | TEXTUREFILTERLINEAR;
    return texture;
}

TEST_F(Path2DTest, GoldenStrokes)
{
    // A zigzag in four corner colours, 2 wide.
    PathScope zigzag;
    for (int i = 0; i < 7; i++) Path2D_LineTo(zigzag.path, 12 + 22 * (float)i, i % 2 ? 20 : 44);
    BrushScope rainbow;
    const Brush2DColour c1 = {255, 0, 0, 255}, c2 = {0, 255, 0, 255}, c3 = {0, 0, 255, 255}, c4 = {255, 255, 0, 255};
    Brush2D_SetColours(rainbow.brush, &c1, &c2, &c3, &c4);
    Brush2D_SetHalfWidth(rainbow.brush, 2);
    // A textured arch, 12 wide, the checks repeated along it.
    PathScope arch;
    Path2D_MoveTo(arch.path, 14, 110);
    Path2D_CurveTo(arch.path, 14, 60, 80, 60, 80, 110);
    BrushScope checked;
    Texture* checks = Checks(0xFFFF8000, 0xFF2040FF);
    Brush2D_SetTexture(checked.brush, checks);
    Texture_Destroy(checks);
    const Vec2 t1 = {0, 1}, t2 = {6, 1}, t3 = {6, 0}, t4 = {0, 0};
    Brush2D_SetUVs(checked.brush, &t1, &t2, &t3, &t4);
    Brush2D_SetHalfWidth(checked.brush, 6);
    // A closed square in one colour, at the default half-width.
    PathScope square;
    Path2D_MoveTo(square.path, 100, 70);
    Path2D_LineTo(square.path, 140, 70);
    Path2D_LineTo(square.path, 140, 105);
    Path2D_LineTo(square.path, 100, 105);
    Path2D_ClosePath(square.path);
    BrushScope white;
    DrawFrame([&] {
        Path2D_Stroke(zigzag.path, rainbow.brush);
        Path2D_Stroke(arch.path, checked.brush);
        Path2D_Stroke(square.path, white.brush);
    });
    EXPECT_EQ(MatchGolden("strokes", 3, 8), "");
}

TEST_F(Path2DTest, AFlatStrokeShowsItsColourAtAKnownT)
{
    // Red to blue along a 100-unit line, 8 wide; the same on both sides.
    PathScope p;
    Path2D_MoveTo(p.path, 30, 60);
    Path2D_LineTo(p.path, 130, 60);
    BrushScope b;
    const Brush2DColour red = {255, 0, 0, 255}, blue = {0, 0, 255, 255};
    Brush2D_SetColours(b.brush, &red, &blue, &blue, &red);
    Brush2D_SetHalfWidth(b.brush, 4);
    DrawFrame([&] { Path2D_Stroke(p.path, b.brush); });
    for (int x : {40, 80, 120}) {
        const float t = (x + 0.5f - 30) / 100;
        const uint32_t expected = (uint32_t)std::lround(255 * (1 - t)) << 16 | (uint32_t)std::lround(255 * t);
        EXPECT_LE(ColourDistance(Pixel(x, 60), expected), 2) << x << ": " << std::hex << Pixel(x, 60);
    }
}

}  // namespace
}  // namespace toolkit2dtest
