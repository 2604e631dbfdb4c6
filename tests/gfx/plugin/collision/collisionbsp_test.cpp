#include "gfx/plugin/collision/collisionbsp.h"

#include "tests/gfx/plugin/collision/collision_shapes.h"
#include "tests/gfx/plugin/plugin_fixture.h"

using namespace plugintest;

namespace {

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
    collisionshapes::Soup bad = collisionshapes::RandomSoup(10, 3);
    bad.positions[4].y = std::numeric_limits<float>::quiet_NaN();
    map.resize(bad.triangles.size());
    EXPECT_EQ(CollisionBsp_Build((int32_t)bad.positions.size(), bad.positions.data(), (int32_t)bad.triangles.size(),
                                 bad.triangles.data(), map.data()),
              nullptr);
    EXPECT_EQ(TakeErrorOf().first, (int32_t)PLUGIN_COLLISION);
}

}  // namespace
