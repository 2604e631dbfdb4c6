#include "gfx/plugin/collision/collisionbsp.h"

#include "tests/gfx/plugin/collision/collision_shapes.h"
#include "tests/gfx/plugin/plugin_fixture.h"

using namespace plugintest;
using collisionshapes::RandomSoup;
using collisionshapes::Soup;

namespace {

struct Built {
    CollisionBsp* tree;
    std::vector<uint16_t> map;
};
Built Build(const Soup& s)
{
    Built b = {nullptr, std::vector<uint16_t>(s.triangles.size())};
    b.tree = CollisionBsp_Build((int32_t)s.positions.size(), s.positions.data(), (int32_t)s.triangles.size(),
                                s.triangles.data(), b.map.data());
    return b;
}
// The first triangles of the leaves a walk visits, in order; it stops after
// stopAfter leaves (-1: never).
struct Visit {
    std::vector<int32_t> firsts;
    int32_t stopAfter = -1;
    static int32_t Record(int32_t, int32_t first, void* data)
    {
        Visit* v = (Visit*)data;
        v->firsts.push_back(first);
        return v->stopAfter < 0 || (int32_t)v->firsts.size() < v->stopAfter;
    }
};

using CollisionBspTest = PluginTest;

TEST_F(CollisionBspTest, ASquareGridSplitsOnXFirstAndAPositionNotFiniteGetsNoTree)
{
    // A square grid splits equally well on x and y: x comes first.
    Geometry* grid = Own(MakeGrid(4, 4.0f, GEOMETRY_POSITIONS, nullptr));
    std::vector<uint16_t> map((size_t)grid->numTriangles);
    CollisionBsp* tree = CollisionBsp_Build(grid->numVertices, grid->morphTarget[0].verts, grid->numTriangles,
                                            grid->triangles, map.data());
    ASSERT_NE(tree->nodes, nullptr);
    EXPECT_EQ(tree->nodes[0].axis, 0);
    CollisionBsp_Destroy(tree);
    Soup bad = RandomSoup(10, 3);
    bad.positions[4].y = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(Build(bad).tree, nullptr);
    EXPECT_EQ(TakeErrorOf().first, (int32_t)PLUGIN_COLLISION);
}

// One node on x with the left side reaching 1 and the right starting at 0;
// and trees of a few triangles: one leaf, reached once by each walker.
TEST_F(CollisionBspTest, WalkersFollowTheOverlappingSlabsOfANodeAndStopWhenTold)
{
    CollisionBsp* tree = CollisionBsp_Create(2);
    tree->nodes[0] = CollisionBspNode{0, COLLISION_BSP_LEAF, COLLISION_BSP_LEAF, 0, 1, 1.0f, 0.0f};
    tree->leaves[0] = CollisionBspLeaf{1, 0};
    tree->leaves[1] = CollisionBspLeaf{1, 1};
    const struct {
        const char* what;
        CollisionLine line;
        std::vector<int32_t> firsts;
    } lines[] = {
        {"lying in the left plane: right only", {{1, -5, 0}, {1, 5, 0}}, {1}},
        {"below both planes: left only", {{-1, -5, 0}, {-0.5f, 5, 0}}, {0}},
        {"inside the overlap: both, nearer first", {{0.5f, 0, 0}, {0.6f, 5, 0}}, {0, 1}},
        {"crossing both from the left", {{-3, 0, 0}, {3, 1, 0}}, {0, 1}},
        {"crossing both from the right", {{3, 0, 0}, {-3, 1, 0}}, {1, 0}},
    };
    for (const auto& c : lines) {
        Visit v;
        CollisionGradients g;
        CollisionLine_Gradients(&c.line, &g);
        CollisionBsp_ForAllLineLeaves(tree, &c.line, &g, Visit::Record, &v);
        EXPECT_EQ(v.firsts, c.firsts) << c.what;
    }
    const BoundingBox straddling = {{0.2f, 1, 1}, {-0.2f, 0, 0}}, pastLeft = {{3, 1, 1}, {1.5f, 0, 0}};
    Visit both, right, stop;
    CollisionBsp_ForAllSphereLeaves(tree, &straddling, Visit::Record, &both);
    EXPECT_EQ(both.firsts, (std::vector<int32_t>{0, 1}));
    CollisionBsp_ForAllSphereLeaves(tree, &pastLeft, Visit::Record, &right);
    EXPECT_EQ(right.firsts, (std::vector<int32_t>{1}));
    stop.stopAfter = 1;  // a leaf callback that returns 0 ends the walk and the walker says so
    EXPECT_EQ(CollisionBsp_ForAllSphereLeaves(tree, &straddling, Visit::Record, &stop), nullptr);
    EXPECT_EQ(stop.firsts.size(), 1u);
    CollisionBsp_Destroy(tree);
    for (int32_t n = 1; n <= 3; n++) {
        Built b = Build(RandomSoup(n, 7));
        ASSERT_EQ(b.tree->numLeaves, 1u);
        EXPECT_EQ(std::tuple(b.tree->nodes, b.tree->leaves[0].numTriangles, CollisionBsp_StreamGetSize(b.tree)),
                  std::tuple(nullptr, n, 4));
        Visit v;
        const CollisionLine line = {{-100, 0, 0}, {100, 0, 0}};
        CollisionGradients g;
        CollisionLine_Gradients(&line, &g);
        EXPECT_EQ(CollisionBsp_ForAllLineLeaves(b.tree, &line, &g, Visit::Record, &v), b.tree);
        const BoundingBox box = {{1, 1, 1}, {0, 0, 0}};
        EXPECT_EQ(CollisionBsp_ForAllSphereLeaves(b.tree, &box, Visit::Record, &v), b.tree);
        EXPECT_EQ(v.firsts.size(), 2u);
        CollisionBsp_Destroy(b.tree);
    }
}

}  // namespace
