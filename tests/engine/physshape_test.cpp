#include "engine/physshape.h"

#include "common/list.h"
#include "phys_fixture.h"
#include "physics/collision/collision_primitive.h"
#include "physics/collision/mesh_container.h"
#include "tools/lib/rbswrite.h"

using namespace phys_test;

namespace {

const char* const kModel = "Objects\\Crate.lwo";

class PhysShapeTest : public PhysDataTest {
protected:
    void Install(const std::vector<RbsBlock>& blocks) { WriteData(Rbs_OutputPath(kModel), Rbs_Write(blocks)); }
    uint32_t Shapes() { return List_Count(world_->shapePool); }
    uint32_t Bodies() { return List_Count(world_->bodyPool); }
};

TEST_F(PhysShapeTest, AMeshThenAHullMakeOneBodyOfTwoPrimitives)
{
    RbsBlock grid = Rbs_Grid(2, 1.0f);
    grid.mass = 5.0f;
    Install({grid, Rbs_Box(2.0f, 0.5f, 0.5f, 0.5f, 0, 1, 0)});
    PhysBody* b = PhysShape_LoadRbs(kModel, world_);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(PhysBody_GetPrimitiveCount(b), 2);
    EXPECT_EQ(PhysBody_GetPrimitiveKind(b, 0), uint32_t(PRIMITIVE_KIND_MESH));
    EXPECT_EQ(PhysBody_GetPrimitiveKind(b, 1), uint32_t(PRIMITIVE_KIND_CONVEX));
    EXPECT_EQ(Shapes(), 2u);
    ASSERT_NE(b->shape, nullptr);
    EXPECT_EQ(b->shape->convex, 0);
    EXPECT_EQ(MeshContainer_TriangleCount(static_cast<const MeshContainer*>(b->shape->shape)), 8);
    // The model path's case does not matter to the cache name.
    EXPECT_NE(PhysShape_LoadRbs("OBJECTS\\crate.LWO", world_), nullptr);
}

TEST_F(PhysShapeTest, HullBodiesTakeTheirBlocksMasses)
{
    Install({Rbs_Box(2.0f, 0.5f, 0.5f, 0.5f), Rbs_Box(6.0f, 0.5f, 0.5f, 0.5f, 0, 2, 0)});
    PhysBody* b = PhysShape_LoadRbs(kModel, world_);
    ASSERT_NE(b, nullptr);
    EXPECT_FLOAT_EQ(PhysBody_GetMass(b), 8.0f);
    // The heavier box pulls the centre of mass towards it.
    EXPECT_NEAR(PhysBody_Unwrap(b)->comOffset.y, 1.5f, 1e-4);
}

TEST_F(PhysShapeTest, AMissingFileGivesNoBody)
{
    EXPECT_EQ(PhysShape_LoadRbs(kModel, world_), nullptr);
    EXPECT_EQ(PhysShape_LoadRbs(nullptr, world_), nullptr);
}

// Every refused file leaves no body and no shape record behind.
TEST_F(PhysShapeTest, BadFilesAreRefusedWhole)
{
    RbsBlock box = Rbs_Box(1.0f, 0.5f, 0.5f, 0.5f);
    RbsBlock grid = Rbs_Grid(2, 1.0f);
    RbsBlock other = box;
    other.type = 7;
    RbsBlock flat;  // four points in one plane: no hull
    flat.points = {0, 0, 0, 1, 0, 0, 0, 0, 1, 1, 0, 1};
    RbsBlock lyingPoints = box;
    lyingPoints.countOverride = 1000;
    RbsBlock hugePoints = box;
    hugePoints.countOverride = 0x40000000;
    RbsBlock lyingTriangles = grid;
    lyingTriangles.triangleOverride = 9;
    RbsBlock pastVertices = grid;
    pastVertices.indices[4] = 9;  // a 3 x 3 grid has vertices 0..8
    RbsBlock nanMass = box;
    nanMass.mass = std::nanf("");
    RbsBlock nanPoint = grid;
    nanPoint.points[1] = std::nanf("");
    const std::vector<RbsBlock> files[] = {
        {other},        {box, other},       {flat},         {box, flat},   {lyingPoints}, {hugePoints},
        {lyingTriangles}, {grid, pastVertices}, {nanMass}, {nanPoint},
    };
    for (size_t i = 0; i < std::size(files); ++i) {
        Install(files[i]);
        EXPECT_EQ(PhysShape_LoadRbs(kModel, world_), nullptr) << i;
        EXPECT_EQ(Shapes(), 0u) << i;
        EXPECT_EQ(Bodies(), 0u) << i;
    }
    // No blocks at all, and a count that lies about the blocks.
    std::vector<uint8_t> empty = Rbs_Write({});
    WriteData(Rbs_OutputPath(kModel), empty);
    EXPECT_EQ(PhysShape_LoadRbs(kModel, world_), nullptr);
    std::vector<uint8_t> lying = Rbs_Write({box});
    lying[8] = 2;
    WriteData(Rbs_OutputPath(kModel), lying);
    EXPECT_EQ(PhysShape_LoadRbs(kModel, world_), nullptr);
    EXPECT_EQ(Shapes(), 0u);
}

TEST_F(PhysShapeTest, EveryTruncationIsRefused)
{
    std::vector<uint8_t> bytes = Rbs_Write({Rbs_Grid(1, 1.0f), Rbs_Box(1.0f, 0.5f, 0.5f, 0.5f)});
    for (size_t n = 0; n < bytes.size(); ++n) {
        EXPECT_EQ(PhysShape_ParseRbs(bytes.data(), n, world_), nullptr) << n;
        ASSERT_EQ(Shapes(), 0u) << n;
    }
    EXPECT_NE(PhysShape_ParseRbs(bytes.data(), bytes.size(), world_), nullptr);
    bytes.push_back(0);  // bytes after the last block are not read
    EXPECT_NE(PhysShape_ParseRbs(bytes.data(), bytes.size(), world_), nullptr);
}

TEST_F(PhysShapeTest, AFullShapePoolRefusesTheFile)
{
    PhysWorld_Destroy(world_);
    const uint32_t params[4] = {16, 16, 1, 1};
    world_ = PhysWorld_Create(params);
    ASSERT_NE(world_, nullptr);
    std::vector<uint8_t> two = Rbs_Write({Rbs_Box(1.0f, 0.5f, 0.5f, 0.5f), Rbs_Box(1.0f, 0.5f, 0.5f, 0.5f)});
    EXPECT_EQ(PhysShape_ParseRbs(two.data(), two.size(), world_), nullptr);
    EXPECT_EQ(Shapes(), 0u);
    EXPECT_EQ(Bodies(), 0u);
    std::vector<uint8_t> one = Rbs_Write({Rbs_Box(1.0f, 0.5f, 0.5f, 0.5f)});
    EXPECT_NE(PhysShape_ParseRbs(one.data(), one.size(), world_), nullptr);
}

}  // namespace
