#include "engine/physshape.h"

#include "common/list.h"
#include "engine/lwo.h"
#include "phys_fixture.h"
#include "physics/collision/collision_primitive.h"
#include "physics/collision/mesh_container.h"
#include "tools/lib/lwowrite.h"
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

// Bodies from LightWave models: the shape file first, else the model's own
// geometry, hulls per layer or the triangle mesh, scaled per axis.

namespace {

class PhysModelTest : public PhysShapeTest {
protected:
    void InstallModel(const char* name, float h, const std::vector<Vec3>& centres)
    {
        WriteData(name, LwoWriter_Write(BoxModel(h, centres)));
    }
    static float Extent(PhysBody* b)
    {
        RigidBody* rb = PhysBody_Unwrap(b);
        return rb->primitives[0]->bounds.max.x - rb->primitives[0]->bounds.min.x;
    }
};

TEST_F(PhysModelTest, ModelsGiveOneHullAHullPerLayerOrTheirMesh)
{
    InstallModel("Objects\\Three.lwo", 0.5f, {{0, 0, 0}, {2, 0, 0}, {4, 0, 0}});
    PhysBody* hull = PhysBody_CreateFromModelUnscaled("Objects\\Three.lwo", world_, 3.0f, PHYS_MODEL_HULL);
    ASSERT_NE(hull, nullptr);
    EXPECT_EQ(PhysBody_GetPrimitiveCount(hull), 1);
    EXPECT_EQ(PhysBody_GetPrimitiveKind(hull, 0), uint32_t(PRIMITIVE_KIND_CONVEX));
    EXPECT_NEAR(Extent(hull), 5.0f, 1e-4);  // one hull round all three boxes
    PhysBody* parts = PhysBody_CreateFromModelUnscaled("Objects\\Three.lwo", world_, 3.0f, PHYS_MODEL_COMPOSITE);
    ASSERT_NE(parts, nullptr);
    ASSERT_EQ(PhysBody_GetPrimitiveCount(parts), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(PhysBody_GetPrimitiveKind(parts, i), uint32_t(PRIMITIVE_KIND_CONVEX));
    PhysBody* mesh = PhysBody_CreateFromModelUnscaled("Objects\\Three.lwo", world_, 0.0f, PHYS_MODEL_MESH);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(PhysBody_GetPrimitiveKind(mesh, 0), uint32_t(PRIMITIVE_KIND_MESH));
    EXPECT_EQ(MeshContainer_TriangleCount(static_cast<const MeshContainer*>(mesh->shape->shape)), 36);
    EXPECT_EQ(PhysBody_CreateFromModelUnscaled("Objects\\Nothing.lwo", world_, 1.0f, PHYS_MODEL_HULL), nullptr);
}

TEST_F(PhysModelTest, TheScaleAppliesToModelsButNotToShapeFiles)
{
    InstallModel("Objects\\Crate.lwo", 0.5f, {{0, 0, 0}});
    PhysBody* scaled = PhysBody_CreateFromModel("Objects\\Crate.lwo", world_, 1.0f, PHYS_MODEL_HULL, 2.0f, 1.0f, 1.0f);
    ASSERT_NE(scaled, nullptr);
    EXPECT_NEAR(Extent(scaled), 2.0f, 1e-4);
    Install({Rbs_Box(1.0f, 0.25f, 0.25f, 0.25f)});  // a shape file now exists: it wins, unscaled
    PhysBody* fromFile = PhysBody_CreateFromModel("Objects\\Crate.lwo", world_, 1.0f, PHYS_MODEL_HULL, 2.0f, 1.0f, 1.0f);
    ASSERT_NE(fromFile, nullptr);
    EXPECT_NEAR(Extent(fromFile), 0.5f, 1e-4);
}

TEST_F(PhysModelTest, ARefusedShapeFileFallsBackToTheModel)
{
    InstallModel("Objects\\Crate.lwo", 0.5f, {{0, 0, 0}});
    RbsBlock flat;
    flat.points = {0, 0, 0, 1, 0, 0, 0, 0, 1, 1, 0, 1};
    Install({flat});
    PhysBody* b = PhysBody_CreateFromModelUnscaled("Objects\\Crate.lwo", world_, 1.0f, PHYS_MODEL_HULL);
    ASSERT_NE(b, nullptr);
    EXPECT_NEAR(Extent(b), 1.0f, 1e-4);
    EXPECT_EQ(Shapes(), 1u);  // the refused file's shape went
}

TEST_F(PhysModelTest, AFlatModelGivesNoHull)
{
    // One layer, all in the plane y = 0: two triangles.
    LwoObject model{};
    Vec3 points[4] = {{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {1, 0, 1}};
    uint32_t indices[6] = {0, 1, 2, 1, 3, 2};
    LwoPolygon polygons[2] = {{3, 0, 0}, {3, 3, 0}};
    model.points = points;
    model.pointCount = 4;
    model.polygons = polygons;
    model.polygonCount = 2;
    model.indices = indices;
    model.indexCount = 6;
    EXPECT_EQ(PhysShape_FromLwo(world_, &model, 1, "flat", 1, 1, 1), nullptr);
    PhysShape* mesh = PhysShape_FromLwo(world_, &model, 0, "flat", 1, 1, 1);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(MeshContainer_TriangleCount(static_cast<const MeshContainer*>(mesh->shape)), 2);
    // A quad of a hand-built parse gives its first three corners.
    uint32_t quad[4] = {0, 1, 3, 2};
    LwoPolygon one{4, 0, 0};
    model.indices = quad;
    model.indexCount = 4;
    model.polygons = &one;
    model.polygonCount = 1;
    mesh = PhysShape_FromLwo(world_, &model, 0, "quad", 1, 1, 1);
    ASSERT_NE(mesh, nullptr);
    const MeshContainer* m = static_cast<const MeshContainer*>(mesh->shape);
    ASSERT_EQ(MeshContainer_TriangleCount(m), 1);
    EXPECT_EQ(m->indexTriangles[0].v[2], 3u);
}

TEST_F(PhysModelTest, AMeshShapeRefusesMorePointsThanSixteenBitIndicesReach)
{
    std::vector<Vec3> points(65537);
    for (size_t i = 0; i < points.size(); ++i) points[i] = Vec3{float(i % 256), float(i / 256), 0.0f};
    uint32_t indices[3] = {0, 1, 65536};
    LwoPolygon polygon{3, 0, 0};
    LwoObject model{};
    model.points = points.data();
    model.pointCount = uint32_t(points.size());
    model.polygons = &polygon;
    model.polygonCount = 1;
    model.indices = indices;
    model.indexCount = 3;
    EXPECT_EQ(PhysShape_FromLwo(world_, &model, 0, "big", 1, 1, 1), nullptr);
    EXPECT_EQ(Shapes(), 0u);
    model.pointCount = 65536;
    indices[2] = 65535;
    EXPECT_NE(PhysShape_FromLwo(world_, &model, 0, "big", 1, 1, 1), nullptr);
}

}  // namespace
