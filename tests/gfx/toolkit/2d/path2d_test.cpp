#include "gfx/toolkit/2d/path2d.h"

#include "gfx/core/arraylist.h"
#include "gfx/core/raster.h"
#include "tests/gfx/toolkit/2d/toolkit2d_fixture.h"

namespace toolkit2dtest {
namespace {

std::vector<Path2DNode> NodesOf(const Path2D* sub)
{
    return std::vector<Path2DNode>(Path2D_GetNodes(sub), Path2D_GetNodes(sub) + Path2D_GetNodeCount(sub));
}
bool Finite(const Path2DNode& n)
{
    return std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.nx) && std::isfinite(n.ny) &&
           std::isfinite(n.length);
}
Path2D* Polyline(Path2D* p, std::initializer_list<Vec2> points)
{
    for (const Vec2& v : points) Path2D_LineTo(p, v.x, v.y);  // the first on an empty sub-path moves
    return p;
}

using Path2DTest = Toolkit2DTest;

TEST_F(Path2DTest, ClosingAddsTheClosingNodeAndSharedMitersAndDegenerateTurnsStayFinite)
{
    PathScope square;
    Polyline(square.path, {{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    ASSERT_NE(Path2D_ClosePath(square.path), nullptr);
    EXPECT_EQ(Path2D_Validate(square.path), 1);
    auto n = NodesOf(square.path);
    ASSERT_EQ(n.size(), 5u);
    EXPECT_EQ(std::tuple(n[0].type, n[4].type, n[4].x, n[4].y, n[4].length, square.path->closed),
              std::tuple(PATH2D_MOVE, PATH2D_LINE, 0.0f, 0.0f, 40.0f, 1u));
    // The start's miter projects to 1 on the normals it joins, (0, -1) and
    // (-1, 0); every corner has its miter.
    EXPECT_EQ(std::tie(n[0].nx, n[0].ny), std::tie(n[4].nx, n[4].ny));
    EXPECT_TRUE(std::fabs(n[0].nx + 1) < 1e-6 && std::fabs(n[0].ny + 1) < 1e-6) << n[0].nx << "," << n[0].ny;
    for (int i = 1; i < 4; i++) EXPECT_NEAR(std::fabs(n[i].nx) + std::fabs(n[i].ny), 2, 1e-6) << i;

    // Straight back and standing still: the turn takes the returning segment's
    // normal, the still segment keeps it and adds no length; closed where it
    // doubled back, the start joins two opposite segments.
    PathScope back, closed;
    n = NodesOf(Polyline(back.path, {{0, 0}, {10, 0}, {0, 0}, {0, 0}, {0, 10}}));
    ASSERT_EQ(n.size(), 5u);
    for (const auto& node : n) EXPECT_TRUE(Finite(node));
    EXPECT_TRUE(std::fabs(n[1].nx) < 1e-6 && std::fabs(n[1].ny - 1) < 1e-6 && n[3].length == n[2].length);
    Path2D_ClosePath(Polyline(closed.path, {{0, 0}, {10, 0}, {0, 0}}));
    n = NodesOf(closed.path);
    ASSERT_EQ(n.size(), 3u);
    for (const auto& node : n) EXPECT_TRUE(Finite(node));
    EXPECT_NEAR(n[0].ny, 1, 1e-6);
    PathScope zigzag;  // more nodes than a batch holds, ending on a curve the stroke flattens
    for (int i = 0; i < 200; i++) Path2D_LineTo(zigzag.path, (float)i * 0.5f, (float)(i % 2) * 40 + 20);
    Path2D_CurveTo(zigzag.path, 100, 0, 110, 0, 110, 20);
    BrushScope b;
    DrawFrame([&] {
        EXPECT_GE(Draws([&] { EXPECT_EQ(Path2D_Stroke(zigzag.path, b.brush), zigzag.path); }), 2);
        for (Path2D* path : {back.path, closed.path}) {
            Path2D_Stroke(path, b.brush);
            for (int i = 0; i < 2 * Path2D_GetNodeCount(path); i++)
                EXPECT_TRUE(std::isfinite(LastBatch()[i].x) && std::isfinite(LastBatch()[i].y)) << i;
        }
        // Texture coordinates run corner 4 to 3 along the left side, 1 to 2 along the right.
        const Vec2 t[4] = {{0, 0.25f}, {1, 0.5f}, {0.75f, 1}, {0.25f, 0.75f}};
        const Brush2DColour c1 = {255, 0, 0, 255}, c2 = {0, 255, 0, 255};
        Path2D_Stroke(closed.path,
                      Brush2D_SetColours(Brush2D_SetUVs(b.brush, &t[0], &t[1], &t[2], &t[3]), &c1, &c1, &c2, &c2));
        const Im3DVertex* v = LastBatch();
        for (int i : {0, 1, 4, 5}) {
            const Vec2 want = t[i == 0 ? 3 : i == 1 ? 0 : i == 4 ? 2 : 1];
            EXPECT_TRUE(std::fabs(v[i].u - want.x) < 1e-5 && std::fabs(v[i].v - want.y) < 1e-5) << i;
        }
    });
}

Vec2 Bezier(const Vec2 p[4], float t)
{
    const float s = 1 - t, a = s * s * s, b = 3 * s * s * t, c = 3 * s * t * t, d = t * t * t;
    return {a * p[0].x + b * p[1].x + c * p[2].x + d * p[3].x, a * p[0].y + b * p[1].y + c * p[2].y + d * p[3].y};
}
float DistanceToSegment(Vec2 p, const Path2DNode& a, const Path2DNode& b)
{
    const float dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    const float t = std::clamp(len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0.0f, 0.0f, 1.0f);
    return std::hypot(a.x + t * dx - p.x, a.y + t * dy - p.y);
}

TEST_F(Path2DTest, CurvesFlattenWithinHalfAPixelWithRisingLengthsAndTheMiterOfTheirLastSegment)
{
    // The fixture maps one user unit to one pixel: the tolerance is 0.25.
    ASSERT_NEAR(Toolkit2D_GetFlatness(), 0.25f, 1e-6f);
    const struct {
        Vec2 p[4];
        int segments;                                            // -1: only followed within the tolerance
    } cases[] = {{{{0, 0}, {10, 0}, {20, 0}, {30, 0}}, 1},       // on the chord
                 {{{5, 5}, {5, 5}, {5, 5}, {5, 5}}, 128},        // never flat: full depth
                 {{{0, 0}, {100, 0}, {100, 100}, {0, 0}}, 16},   // a loop back to its start
                 {{{0, 0}, {1, 0}, {1, 1}, {0, 0}}, 2},          //
                 {{{0, 0}, {40, 60}, {80, -60}, {120, 0}}, -1},  // an S
                 {{{0, 0}, {0, 50}, {50, 50}, {50, 0}}, -1}};    // an arch
    for (const auto& c : cases) {
        SCOPED_TRACE(c.p[1].x);
        PathScope p;
        Path2D_MoveTo(p.path, c.p[0].x, c.p[0].y);
        Path2D_CurveTo(p.path, c.p[1].x, c.p[1].y, c.p[2].x, c.p[2].y, c.p[3].x, c.p[3].y);
        EXPECT_EQ(Path2D_Validate(p.path), 1);
        ASSERT_NE(Path2D_FlattenInPlace(p.path), nullptr);
        EXPECT_EQ(Path2D_Validate(p.path) * 10 + p.path->flat, 11u);
        const auto n = NodesOf(p.path);
        EXPECT_TRUE(c.segments < 0 || (int)n.size() - 1 == c.segments) << n.size();
        for (size_t i = 0; i < n.size(); i++) {
            EXPECT_TRUE(Finite(n[i])) << i;
            EXPECT_EQ(n[i].type, i ? PATH2D_LINE : PATH2D_MOVE);
        }
        EXPECT_EQ(std::tie(n.back().x, n.back().y), std::tie(c.p[3].x, c.p[3].y));
        for (int k = 0; k <= 400; k++) {
            float best = INFINITY;
            for (size_t i = 1; i < n.size(); i++)
                best = std::min(best, DistanceToSegment(Bezier(c.p, k / 400.0f), n[i - 1], n[i]));
            EXPECT_LE(best, 0.5f + 1e-3f) << "t = " << k / 400.0f;
        }
    }
    // A curve on an empty sub-path moves to its end; lines after a curve.
    PathScope moved, curve, flat;
    Path2D_CurveTo(moved.path, 1, 1, 2, 2, 9, 9);
    ASSERT_EQ(std::tuple(Path2D_GetNodeCount(moved.path), Path2D_GetNodes(moved.path)[0].x), std::tuple(1, 9.0f));
    Path2D_MoveTo(curve.path, 0, 0);
    Path2D_CurveTo(curve.path, 0, 40, 40, 40, 40, 0);
    Polyline(curve.path, {{60, 0}, {60, 20}});
    ASSERT_NE(Path2D_Flatten(flat.path, curve.path), nullptr);
    const auto n = NodesOf(flat.path);
    ASSERT_GT(n.size(), 4u);
    float sum = 0;
    for (size_t i = 1; i < n.size(); i++) {
        sum += std::hypot(n[i].x - n[i - 1].x, n[i].y - n[i - 1].y);
        EXPECT_NEAR(n[i].length, sum, 1e-3f) << i;
        EXPECT_GT(n[i].length, n[i - 1].length) << i;
    }
    // The corner after the curve joins its last segment and the line: not the line's bare normal.
    EXPECT_EQ(n[n.size() - 3].x, 40);
    EXPECT_GT(std::fabs(n[n.size() - 3].nx) + std::fabs(n[n.size() - 3].ny), 1.01f);
}

TEST_F(Path2DTest, LockingKeepsTheNodesSinglePointsGoAndValidationCatchesEveryBrokenChain)
{
    Path2D* path = Path2D_Create();
    Path2D_MoveTo(path, 1, 1);  // alone: removed
    Path2D_MoveTo(path, 0, 0);
    Path2D_LineTo(path, 4, 0);
    Path2D_MoveTo(path, 9, 9);  // alone: removed
    path = Path2D_RemoveSinglePoints(path);
    ASSERT_NE(path, nullptr);
    Path2D_Lock(path);
    EXPECT_EQ(std::tuple(path->next, path->lockedCount, Path2D_Validate(path), Path2D_LineTo(path, 5, 5)),
              std::tuple(nullptr, 2, 1, nullptr));
    Path2D_Unlock(path);
    ASSERT_NE(Path2D_LineTo(path, 4, 3), nullptr);
    EXPECT_EQ(Path2D_GetNodeCount(path), 3);  // the surviving sub-path is the current one
    Path2D_Destroy(path);
    Path2D* lone = Path2D_Create();
    Path2D_MoveTo(lone, 1, 1);
    EXPECT_EQ(Path2D_RemoveSinglePoints(lone), nullptr);

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
    for (const auto& broken : breaks) {
        PathScope p, spare;
        Polyline(p.path, {{0, 0}, {10, 0}, {20, 5}});
        Path2D_MoveTo(p.path, 0, 10);
        Path2D_CurveTo(p.path, 1, 11, 2, 11, 3, 10);
        ASSERT_EQ(Path2D_Validate(p.path), 1);
        Path2D* second = p.path->next;
        second->next = spare.path;  // room for the breaks that need a third
        broken(p.path);
        EXPECT_EQ(Path2D_Validate(p.path), 0) << &broken - breaks;
        second->next = nullptr;  // together again, so that it can be destroyed
        p.path->next = second;
        p.path->lockedCount = -1;
    }
}

}  // namespace
}  // namespace toolkit2dtest
