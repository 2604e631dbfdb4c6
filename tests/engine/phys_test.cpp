// The physics interface: worlds and their stepping, body handles, shapes
// from shape files and models, rays and the pick list, constraints and
// field actions.
#include <limits>

#include "content_fixture.h"
#include "engine/lwo.h"
#include "engine/physconstraint.h"
#include "engine/physshape.h"
#include "physics/base/base_system.h"
#include "physics/base/phys_math.h"
#include "physics/collision/collision_detection.h"
#include "physics/collision/collision_primitive.h"
#include "physics/collision/mesh_container.h"
#include "physics/collision/primitive_collector.h"
#include "physics/dynamics/constraint.h"
#include "physics/dynamics/events.h"
#include "physics/dynamics/simulation.h"
#include "physics/dynamics/spring_actions.h"
#include "physics/dynamics/subspace.h"

namespace {

const float kNan = std::numeric_limits<float>::quiet_NaN();

TEST_F(PhysTest, WorldsListBodiesOnceHoldAThousandAndTwentyFourAndKeepTheBaseSystemRunning)
{
    PhysBody* b = PhysBody_Create(phys, 0.5f, 1.0f);
    const Vec3 v{3, 0, 0}, p{1, 2, 3}, at{1, 0, 0}, up{0, 1, 0};
    PhysBody_SetLinearVelocity(b, &v);
    PhysWorld_AddBody(phys, b, &p, &at, &up);
    PhysWorld_AddBody(phys, b, &p, &at, &up);
    Vec3 gotAt, gotUp;
    PhysBody_GetAxes(b, &gotAt, &gotUp);
    EXPECT_EQ(Str({(float)List_Count(phys->bodyList), PhysBody_GetSpeed(b), 0}) + ", " + Str(Position(b)) + ", " +
                  Str(gotAt) + ", " + Str(gotUp),
              "1 0 0, 1 2 3, 1 0 0, 0 1 0");
    PhysWorld_RemoveBody(phys, b);
    EXPECT_EQ(List_Count(phys->bodyList), 0u);
    Step(10);
    EXPECT_EQ(Position(b).y, 2.0f);
    PhysBody* ball = Sphere(V(0, 10, 0));
    Step(30);
    const float fallen = Position(ball).y;
    EXPECT_LT(fallen, 9.0f);
    const Vec3 upwards{0, 9.81f, 0};
    PhysWorld_SetGravity(phys, &upwards);
    PhysBody_ZeroVelocities(ball);
    Step(30);
    EXPECT_GT(Position(ball).y, fallen);
    for (int i = 2; i < 1024; ++i) ASSERT_NE(PhysBody_Create(phys, 0.5f, 1.0f), nullptr) << i;
    EXPECT_EQ(PhysBody_Create(phys, 0.5f, 1.0f), nullptr);
    PhysWorld* second = PhysWorld_CreateDefault();
    EXPECT_EQ(PhysWorld_GetLiveCount(), 2);
    PhysWorld_Destroy(second);
    const int started = BaseSystem_IsStarted();
    PhysWorld_Destroy(phys);
    EXPECT_EQ(started * 10 + BaseSystem_IsStarted(), 10);
    phys = PhysWorld_CreateDefault();
    EXPECT_EQ(BaseSystem_IsStarted(), 1);
    Vec3 axis;
    const Quat q = Quat_FromAxisAngle(Vec3{0, 0, 1}, 1.0f), minus{-q.x, -q.y, -q.z, -q.w};
    EXPECT_EQ(Str({PhysWorld_QuatToAxisAngle(minus, &axis), axis.z, 0}), "1 1 0");
    EXPECT_EQ(std::vector<float>({PhysWorld_QuatToAxisAngle(Quat_FromAxisAngle(Vec3{1, 0, 0}, 0.005f), &axis),
                                  PhysWorld_QuatToAxisAngle(Quat{kNan, 0, 0, 0.5f}, &axis)}),
              std::vector<float>(2, 0.0f));
    EXPECT_EQ(axis.y, 1.0f);
}

TEST_F(PhysTest, FieldsPullInsideTheirConeWakeSleepersPushTheAnchorAndForgetDestroyedBodies)
{
    const Vec3 zero{0, 0, 0}, centre{0, 0, 0}, axis{0, 1, 0};
    PhysWorld_SetGravity(phys, &zero);
    PhysField* f = PhysField_Create(phys, 10.0f, 1.0f, 3.0f, 4.0f, &centre, &axis, nullptr);
    PhysBody* inside = Sphere(V(0, 2, 0));   // r = radius / 2 on the axis
    PhysBody* outside = Sphere(V(2, 0, 0));  // 90 degrees off the axis, cone half angle 1.5
    PhysBody* far = Sphere(V(0, 5, 0));      // beyond the radius
    PhysBody* middle = Sphere(V(0, 0, 0));   // r = 0
    for (PhysBody* b : {inside, outside, far, middle, inside}) PhysField_SetBodyInside(f, b, 1);
    EXPECT_EQ(f->bodies.Count(), 4);
    f->Apply(nullptr, 0.01f);
    auto force = [](PhysBody* b) { return Str(PhysBody_Unwrap(b)->force); };
    EXPECT_EQ(force(inside) + ", " + force(outside) + ", " + force(far) + ", " + force(middle),
              "0 -5 0, 0 0 0, 0 0 0, 0 0 0");
    Step(30);
    EXPECT_LT(Position(inside).y, 1.9f);
    PhysBody* anchor = Sphere(V(10, 0, 0));
    PhysField* g = PhysField_Create(phys, 10.0f, 2.0f, 6.3f, 4.0f, &centre, &axis, anchor);
    PhysBody* b = Sphere(V(10, -1, 0));  // r = 1 from the moved centre
    PhysBody_SetActive(b, 0);
    PhysField_SetBodyInside(g, b, 1);
    g->Apply(nullptr, 0.01f);
    EXPECT_EQ(force(b) + ", " + force(anchor) + (PhysBody_IsActive(b) ? " awake" : ""),
              "0 5.625 0, 0 -5.625 0 awake");  // 10 x 0.75 x 0.75
    PhysField_SetBodyInside(g, b, 0);
    EXPECT_EQ(g->bodies.Count(), 0);
    PhysField_SetBodyInside(g, b, 1);
    PhysField_SetBodyInside(f, b, 1);
    PhysField_SetBodyInside(f, anchor, 1);
    PhysBody_Destroy(phys, b);
    PhysBody_Destroy(phys, anchor);
    EXPECT_TRUE(g->bodies.Count() == 0 && f->bodies.Count() == 4 && !g->anchor);
    Step(5);  // the fields run over nothing that was freed
    PhysField_Destroy(phys, f);
    EXPECT_EQ(List_Count(phys->fieldPool), 1u);
}

TEST_F(PhysTest, EventRegistrationsFollowTheBodyAndMemoryTrackingCountsLiveBlocks)
{
    PhysBody* b = Sphere(V(0, 0, 0));
    PhysWorld_SetEventParam(1.5f);
    PhysWorld_RegisterBodyEvents(phys, b);
    ASSERT_TRUE(phys->listener->registered.Count() == 1 && phys->listener->registered[0].threshold == 1.5f);
    PhysWorld_UnregisterBodyEvents(phys, b);
    EXPECT_EQ(phys->listener->registered.Count(), 0);
    PhysWorld_SetEventParam(0.0f);
    PhysWorld_RegisterBodyEvents(phys, b);
    PhysBody_Destroy(phys, b);
    EXPECT_EQ(phys->listener->registered.Count(), 0);  // a destroyed primitive is forgotten
    PhysMem_SetTracking(1);
    void* a = PhysMem_Alloc16(40);
    void* c = PhysMem_Alloc(24, 8);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
    const uint32_t two = PhysMem_GetTrackedCount();
    PhysMem_Free(a);
    const uint32_t one = PhysMem_GetTrackedCount();
    PhysMem_SetTracking(0);
    EXPECT_EQ(std::vector<uint32_t>({two, one, PhysMem_GetTrackedCount()}), std::vector<uint32_t>({2, 1, 0}));
    PhysMem_Free(c);
}

TEST_F(PhysTest, BodyHandlesTakeDefaultsVelocityOperationsAndActivationRules)
{
    PhysBody* b = PhysBody_Create(phys, 2.5f, 2.0f);
    ASSERT_NE(b, nullptr);
    RigidBody* rb = PhysBody_Unwrap(b);
    float r = 0;
    EXPECT_TRUE(PhysBody_GetMass(b) == 2.0f && PhysWorld_Owns(phys, rb) && PhysBody_GetFirstPrimitiveValue(b, &r) &&
                r == 2.5f && !PhysBody_GetFirstPrimitiveValue(b, nullptr) &&
                PhysBody_GetPrimitiveKind(b, 0) == PRIMITIVE_KIND_SPHERE);
    const uint32_t before = List_Count(phys->bodyPool);
    EXPECT_FALSE(PhysBody_Create(phys, 0.0f, 1.0f) || PhysBody_Create(phys, -1.0f, 1.0f));  // no radius
    EXPECT_EQ(List_Count(phys->bodyPool), before);
    const Vec3 j{4, -2, 0}, k{1, 2, 0}, w{0, 0, -10};
    PhysBody_ApplyImpulse(b, &j);
    EXPECT_EQ(Str(Velocity(b)) + " " + Str({PhysBody_GetSpeed(b), 0, 0}), "2 -1 0 " + Str({std::sqrt(5.0f), 0, 0}));
    PhysBody_DampLinearVelocity(b, &k, 0.25f);
    EXPECT_EQ(Str(Velocity(b)), "1.5 -0.5 0");
    PhysBody_SetAngularVelocity(b, &w);
    PhysBody_ScaleVelocities(b, 0.5f);
    PhysBody_ClampAngularSpeed(b, 2.0f);
    Vec3 spin;
    PhysBody_GetAngularVelocity(b, &spin);
    EXPECT_EQ(Str(spin), "0 0 -2");
    const Vec3 six{0, 3.6f, 4.8f}, five{3, 4, 0};
    for (const Vec3& v : {five, six}) {
        PhysBody_SetLinearVelocity(b, &v);
        PhysBody_ClampLinearSpeed(b, 5.0f);
        EXPECT_EQ(Str(Velocity(b)), v.x ? "3 4 0" : "0 3 4");  // the limit itself is left alone
    }
    const Vec3 d{1, 1, 1}, onlyX{1, 0, 0}, v{3, 0, -4};
    const std::pair<const Vec3*, float> frictions[] = {{&d, 1.0f}, {&d, 100.0f}, {&onlyX, 100.0f}};
    const char* slowed[] = {"2.4 0 -3.2", "0 0 0", "0 0 -4"};
    for (int i = 0; i < 3; i++) {
        PhysBody_SetLinearVelocity(b, &v);
        PhysBody_ApplyFriction(b, frictions[i].first, frictions[i].second);
        EXPECT_EQ(Str(Velocity(b)), slowed[i]) << i;
    }
    PhysBody_ZeroVelocities(b);
    PhysBody_ApplyFriction(b, &d, 1.0f);
    PhysBody_ApplyFriction(b, nullptr, 1.0f);
    EXPECT_EQ(Str(Velocity(b)), "0 0 0");
    PhysBody* fixed = Sphere(V(0, 0, 0), 0.5f, 0.0f);
    PhysBody_ApplyImpulse(fixed, &j);
    PhysBody_SetActive(fixed, 1);
    EXPECT_EQ(PhysBody_IsActive(fixed) + PhysBody_GetSpeed(fixed), 0.0f);
    PhysBody* held = Sphere(V(5, 0, 0));
    PhysBody_SetActive(held, 0);
    const int asleep = !PhysBody_IsActive(held);
    PhysBody_HoldActive(held, 1);
    EXPECT_EQ(asleep + PhysBody_IsActive(held) + PhysBody_TestStateFlag4(held), 3);
    PhysBody_HoldActive(held, 0);
    PhysBody_HoldActive(held, 0);
    EXPECT_EQ(PhysBody_Unwrap(held)->keepActiveCount, 0);
    PhysBody_ResetMotion(held, 1);
    const bool pinned = PhysBody_Unwrap(held)->pinned;
    PhysBody_ResetMotion(held, 0);
    EXPECT_TRUE(pinned && !PhysBody_Unwrap(held)->pinned);
    PhysBody_Destroy(phys, b);
    EXPECT_FALSE(PhysWorld_Owns(phys, rb));
    Vec3 out{9, 9, 9};
    PhysBody_SetLinearVelocity(nullptr, &v);
    PhysBody_GetLinearVelocity(nullptr, &out);
    EXPECT_EQ(Str(out), "0 0 0");
    EXPECT_EQ(PhysBody_GetMass(nullptr) + PhysBody_IsActive(nullptr) + (PhysBody_GetOwner(nullptr) != nullptr), 0.0f);
    PhysBody_Destroy(phys, nullptr);
    PhysBody_SetActive(nullptr, 1);
    PhysBody_ApplyImpulse(nullptr, &v);
    PhysBody_LimitSpinAxis(nullptr, 1);
}

const char* const kModel = "Objects\\Crate.lwo";
float Extent(PhysBody* b)
{
    const RigidBody* rb = PhysBody_Unwrap(b);
    return rb->primitives[0]->bounds.max.x - rb->primitives[0]->bounds.min.x;
}
int Triangles(const void* mesh) { return MeshContainer_TriangleCount(static_cast<const MeshContainer*>(mesh)); }

TEST_F(PhysTest, ShapeFilesGiveOneBodyOfAPrimitivePerBlockOrNothingAtAll)
{
    auto install = [](const std::vector<RbsBlock>& blocks) { WriteData(Rbs_OutputPath(kModel), Rbs_Write(blocks)); };
    auto shapes = [&] { return List_Count(phys->shapePool); };
    RbsBlock grid = Rbs_Grid(2, 1.0f);
    grid.mass = 5.0f;
    install({grid, Rbs_Box(2.0f, 0.5f, 0.5f, 0.5f, 0, 1, 0)});
    PhysBody* b = PhysShape_LoadRbs(kModel, phys);
    ASSERT_TRUE(b && PhysBody_GetPrimitiveCount(b) == 2);
    EXPECT_EQ(std::vector<uint32_t>({PhysBody_GetPrimitiveKind(b, 0), PhysBody_GetPrimitiveKind(b, 1), shapes(),
                                     (uint32_t)b->shape->convex, (uint32_t)Triangles(b->shape->shape)}),
              std::vector<uint32_t>({PRIMITIVE_KIND_MESH, PRIMITIVE_KIND_CONVEX, 2, 0, 8}));
    EXPECT_NE(PhysShape_LoadRbs("OBJECTS\\crate.LWO", phys), nullptr);  // the path's case does not matter
    install({Rbs_Box(2.0f, 0.5f, 0.5f, 0.5f), Rbs_Box(6.0f, 0.5f, 0.5f, 0.5f, 0, 2, 0)});
    b = PhysShape_LoadRbs(kModel, phys);
    ASSERT_TRUE(b && Str({PhysBody_GetMass(b), PhysBody_Unwrap(b)->comOffset.y, 0}) == "8 1.5 0");
    PhysWorld_Destroy(phys);

    phys = PhysWorld_CreateDefault();
    EXPECT_EQ(PhysShape_LoadRbs(nullptr, phys), nullptr);
    RbsBlock box = Rbs_Box(1.0f, 0.5f, 0.5f, 0.5f), other = box, flat, lyingPoints = box, hugePoints = box,
             lyingTriangles = grid, pastVertices = grid, nanMass = box, nanPoint = grid;
    other.type = 7;
    flat.points = {0, 0, 0, 1, 0, 0, 0, 0, 1, 1, 0, 1};  // four points in one plane: no hull
    lyingPoints.countOverride = 1000;
    hugePoints.countOverride = 0x40000000;
    lyingTriangles.triangleOverride = 9;
    pastVertices.indices[4] = 9;  // a 3 x 3 grid has vertices 0..8
    nanMass.mass = kNan;
    nanPoint.points[1] = kNan;
    std::vector<uint8_t> lying = Rbs_Write({box});
    lying[8] = 2;  // a block count that lies
    const std::vector<uint8_t> files[] = {Rbs_Write({other}),
                                          Rbs_Write({box, other}),
                                          Rbs_Write({flat}),
                                          Rbs_Write({box, flat}),
                                          Rbs_Write({lyingPoints}),
                                          Rbs_Write({hugePoints}),
                                          Rbs_Write({lyingTriangles}),
                                          Rbs_Write({grid, pastVertices}),
                                          Rbs_Write({nanMass}),
                                          Rbs_Write({nanPoint}),
                                          Rbs_Write({}),
                                          lying,
                                          {}};
    for (size_t i = 0; i < std::size(files); ++i) {
        if (!files[i].empty()) WriteData(Rbs_OutputPath(kModel), files[i]);
        if (files[i].empty()) std::filesystem::remove(DataPath(Rbs_OutputPath(kModel)));
        EXPECT_TRUE(!PhysShape_LoadRbs(kModel, phys) && shapes() + List_Count(phys->bodyPool) == 0) << i;
    }
    std::vector<uint8_t> bytes = Rbs_Write({Rbs_Grid(1, 1.0f), box});
    for (size_t n = 0; n < bytes.size(); ++n) {
        ASSERT_TRUE(!PhysShape_ParseRbs(bytes.data(), n, phys) && shapes() == 0) << n;
    }
    bytes.push_back(0);
    EXPECT_NE(PhysShape_ParseRbs(bytes.data(), bytes.size(), phys), nullptr);
    PhysWorld_Destroy(phys);
    const uint32_t params[4] = {16, 16, 1, 1};
    phys = PhysWorld_Create(params);
    const std::vector<uint8_t> two = Rbs_Write({box, box}), one = Rbs_Write({box});
    EXPECT_TRUE(!PhysShape_ParseRbs(two.data(), two.size(), phys) && shapes() + List_Count(phys->bodyPool) == 0 &&
                PhysShape_ParseRbs(one.data(), one.size(), phys));
}

TEST_F(PhysTest, ModelsGiveAHullAHullPerLayerOrTheirMeshScaledUnlessAShapeFileWins)
{
    WriteModel("Objects\\Three.lwo", BoxModel(0.5f, {{0, 0, 0}, {2, 0, 0}, {4, 0, 0}}));
    PhysBody* hull = PhysBody_CreateFromModelUnscaled("Objects\\Three.lwo", phys, 3.0f, PHYS_MODEL_HULL);
    ASSERT_NE(hull, nullptr);  // one hull round all three boxes
    EXPECT_EQ(Str({(float)PhysBody_GetPrimitiveCount(hull), (float)PhysBody_GetPrimitiveKind(hull, 0), Extent(hull)}),
              Str({1, (float)PRIMITIVE_KIND_CONVEX, 5}));
    PhysBody* parts = PhysBody_CreateFromModelUnscaled("Objects\\Three.lwo", phys, 3.0f, PHYS_MODEL_COMPOSITE);
    ASSERT_TRUE(parts && PhysBody_GetPrimitiveCount(parts) == 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(PhysBody_GetPrimitiveKind(parts, i), uint32_t(PRIMITIVE_KIND_CONVEX));
    PhysBody* mesh = PhysBody_CreateFromModelUnscaled("Objects\\Three.lwo", phys, 0.0f, PHYS_MODEL_MESH);
    ASSERT_TRUE(mesh && PhysBody_GetPrimitiveKind(mesh, 0) == PRIMITIVE_KIND_MESH &&
                Triangles(mesh->shape->shape) == 36);
    EXPECT_EQ(PhysBody_CreateFromModelUnscaled("Objects\\Nothing.lwo", phys, 1.0f, PHYS_MODEL_HULL), nullptr);
    WriteModel(kModel, BoxModel(0.5f));
    PhysBody* scaled = PhysBody_CreateFromModel(kModel, phys, 1.0f, PHYS_MODEL_HULL, 2.0f, 1.0f, 1.0f);
    ASSERT_TRUE(scaled && std::fabs(Extent(scaled) - 2.0f) < 1e-4f);
    WriteData(Rbs_OutputPath(kModel), Rbs_Write({Rbs_Box(1.0f, 0.25f, 0.25f, 0.25f)}));
    PhysBody* fromFile = PhysBody_CreateFromModel(kModel, phys, 1.0f, PHYS_MODEL_HULL, 2.0f, 1.0f, 1.0f);
    ASSERT_TRUE(fromFile && std::fabs(Extent(fromFile) - 0.5f) < 1e-4f);
    const uint32_t shapes = List_Count(phys->shapePool);
    RbsBlock flat;
    flat.points = {0, 0, 0, 1, 0, 0, 0, 0, 1, 1, 0, 1};
    WriteData(Rbs_OutputPath(kModel), Rbs_Write({flat}));
    PhysBody* fallback = PhysBody_CreateFromModelUnscaled(kModel, phys, 1.0f, PHYS_MODEL_HULL);
    ASSERT_TRUE(fallback && Str({Extent(fallback), (float)(List_Count(phys->shapePool) - shapes), 0}) == "1 1 0");

    std::vector<Vec3> points(65537);
    for (size_t i = 0; i < points.size(); ++i) points[i] = Vec3{float(i % 256), float(i / 256), 0.0f};
    uint32_t indices[6] = {0, 1, 256, 1, 257, 256};
    LwoPolygon polygons[2] = {{3, 0, 0}, {3, 3, 0}};
    LwoObject model{};
    model.points = points.data(), model.pointCount = 258, model.polygons = polygons, model.polygonCount = 2;
    model.indices = indices, model.indexCount = 6;
    EXPECT_EQ(PhysShape_FromLwo(phys, &model, 1, "flat", 1, 1, 1), nullptr);
    PhysShape* two = PhysShape_FromLwo(phys, &model, 0, "flat", 1, 1, 1);
    ASSERT_TRUE(two && Triangles(two->shape) == 2);
    uint32_t quad[4] = {0, 1, 257, 256};
    LwoPolygon four{4, 0, 0};
    model.indices = quad, model.indexCount = 4, model.polygons = &four, model.polygonCount = 1;
    PhysShape* cut = PhysShape_FromLwo(phys, &model, 0, "quad", 1, 1, 1);
    ASSERT_TRUE(cut && Triangles(cut->shape) == 1 &&
                static_cast<const MeshContainer*>(cut->shape)->indexTriangles[0].v[2] == 257);
    const uint32_t before = List_Count(phys->shapePool);
    uint32_t far[3] = {0, 1, 65536};
    model.indices = far, model.indexCount = 3;
    polygons[0] = {3, 0, 0};
    model.polygons = polygons, model.pointCount = 65537;
    EXPECT_TRUE(!PhysShape_FromLwo(phys, &model, 0, "big", 1, 1, 1) && List_Count(phys->shapePool) == before);
    model.pointCount = 65536;
    far[2] = 65535;
    EXPECT_NE(PhysShape_FromLwo(phys, &model, 0, "big", 1, 1, 1), nullptr);
}

TEST_F(PhysTest, RaysHitTheNearestPickableBodyWithinAThousand)
{
    int owners[3] = {};
    auto target = [&](Vec3 p, void* owner) {
        PhysBody* b = Sphere(p, 1.0f, 0.0f);
        PhysBody_SetOwner(b, owner);
        PhysContacts_AddBody(b);
        return b;
    };
    PhysBody* far = target(V(0, 0, 30), &owners[0]);
    PhysBody* near = target(V(0, 0, 10), &owners[1]);
    target(V(0, 0, 20), &owners[2]);
    const Vec3 from{0, 0, 0}, to{0, 0, 100};
    Vec3 point, normal;
    EXPECT_TRUE(PhysWorld_CastRay(phys, &from, &to, &point, &normal) == &owners[1] &&
                Str(point) + ", " + Str(normal) == "0 0 9, 0 0 -1");
    EXPECT_EQ(PhysWorld_CastRay(phys, &to, &from, &point, &normal), &owners[0]);  // from the far side
    PhysContacts_AddBody(near);
    EXPECT_EQ(PhysContacts_GetPickList()->primitives.Count() * 10 + PhysContacts_Holds(near, 0), 31);
    PhysContacts_RemoveBody(near);
    EXPECT_EQ(PhysWorld_CastRay(phys, &from, &to, nullptr, nullptr), &owners[2]);
    PhysBody* ball = Sphere(V(0, 0, 8.8f));
    RigidBody* rb = PhysBody_Unwrap(ball);
    CollisionRecordList lists[3];
    EXPECT_GT(CollisionDetection_GetContacts(rb->detection, rb, lists), 0);
    PhysBody_Destroy(phys, ball);
    CollisionPrimitive* nearPrimitive = PhysBody_Unwrap(near)->primitives[0];
    const int dependents = nearPrimitive->dependents.Count();
    PhysBody* handles[] = {far};
    EXPECT_TRUE(PhysWorld_CastRayAgainstHandles(&from, &to, handles, 1, &point, nullptr) == &owners[0] &&
                Str(point) == "0 0 29");
    List* links = List_Create(sizeof(PhysBody*));
    *static_cast<PhysBody**>(List_Alloc(links)) = far;
    *static_cast<PhysBody**>(List_Alloc(links)) = near;
    EXPECT_TRUE(PhysWorld_CastRayAgainst(&from, &to, links, nullptr, nullptr) == &owners[1] &&
                PhysWorld_CastRayAgainstAll(phys, &from, &to, nullptr, nullptr) == &owners[1] &&
                nearPrimitive->dependents.Count() == dependents);
    List_Destroy(links);
    PhysBody_Destroy(phys, far);
    EXPECT_EQ(PhysContacts_GetPickList()->primitives.Count(), 1);
    target(V(0, 0, 1501), &owners[0]);
    const Vec3 beyond{0, 0, 3000}, within{0, 0, 1000}, down{0, -100, 0};
    point = normal = V(5, 5, 5);
    PhysRayResult r;
    EXPECT_TRUE(!PhysWorld_CastRay(phys, &to, &beyond, &point, &normal) &&
                Str(point) + ", " + Str(normal) == "0 0 0, 0 1 0");
    EXPECT_TRUE(PhysWorld_CastRayHit(phys, &to, &beyond, &r) == 0 &&
                PhysWorld_CastRay(phys, &within, &beyond, nullptr, nullptr) == &owners[0]);
    target(V(0, -5, 0), nullptr);
    EXPECT_TRUE(PhysWorld_CastRayHit(phys, &from, &down, &r) == 1 &&
                !PhysWorld_CastRay(phys, &from, &down, &point, nullptr));
    EXPECT_TRUE(!r.object && Str(r.point) == "0 -4 0" && Str(point) == "0 -4 0");  // the outputs still get the hit
    PhysRayHit h{};
    EXPECT_EQ(PhysWorld_CastRayDir(phys, nullptr, &from, nullptr, 9) +
                  PhysWorld_CastRayDir(phys, &h, nullptr, nullptr, 9) +
                  PhysWorld_CastRayDir(phys, &h, &from, nullptr, 0) + PhysWorld_CastRayDir(phys, &h, &from, nullptr, 9),
              0);
    EXPECT_EQ(Str(h.point) + ", " + Str({h.distanceSq, 0, 0}), "0 9 0, 81 0 0");
    EXPECT_TRUE(PhysWorld_CastRayDir(phys, &h, &from, &down, 0.1f) == 1 &&
                Str(h.point) + ", " + Str({h.distanceSq, 0, 0}) == "0 -4 0, 16 0 0");
    PhysWorld_Destroy(phys);
    phys = PhysWorld_CreateDefault();
    EXPECT_EQ(PhysContacts_GetPickList()->primitives.Count(), 0);
}

TEST_F(PhysTest, EveryConstraintKindAttachesHoldsAndGoesSafely)
{
    PhysBody* a = Sphere(V(0, 0, 0));
    PhysBody* b = Sphere(V(2, 0, 0));
    auto attached = [&](PhysObject* o) {
        int n = 0;
        for (Constraint* c : phys->object->constraints->constraints) n += c == o;
        for (const Subspace::ActionEntry& e : phys->object->subspace->actions) n += 2 * (e.action == o);
        return n;  // 1 with the joints, 2 among the actions
    };
    for (int kind = 0; kind < PHYS_JOINT_KIND_COUNT; ++kind) {
        PhysConstraint* c = PhysConstraint_Create(phys, a, b, kind);
        ASSERT_NE(c, nullptr) << kind;
        PhysObject* o = c->object;
        EXPECT_TRUE(PhysWorld_Owns(phys, o) && PhysConstraint_Attach(phys, c, 0)) << kind;
        EXPECT_EQ(attached(o), PhysConstraint_IsJoint(kind) ? 1 : 2) << kind;
        PhysConstraint_SetStrength(c, 0.25f);
        PhysConstraint_SetDamping(c, 0.75f);
        const Constraint* j = PhysConstraint_IsJoint(kind) ? static_cast<const Constraint*>(c->object) : nullptr;
        const float kept = j                                       ? j->strength + j->damping * 10
                           : kind == PHYS_JOINT_DASHPOT            ? static_cast<Dashpot*>(c->object)->strength
                           : kind == PHYS_JOINT_SUSPENSION_DASHPOT ? static_cast<SuspensionDashpot*>(c->object)->value
                                                                   : static_cast<AngularSpring*>(c->object)->strength;
        EXPECT_FLOAT_EQ(kept, PhysConstraint_IsJoint(kind) ? 7.75f : 0.25f) << kind;
        Step(2);
        PhysConstraint_Detach(phys, c);
        const int left = attached(o);
        PhysConstraint_Destroy(phys, c);
        EXPECT_TRUE(left == 0 && !PhysWorld_Owns(phys, o)) << kind;
    }
    EXPECT_EQ(List_Count(phys->constraintPool), 0u);
    EXPECT_FALSE(PhysConstraint_Create(phys, a, b, 8) || PhysConstraint_Create(phys, a, b, -1) ||
                 PhysConstraint_Create(phys, nullptr, b, 0));
    for (int kind : {1, 3, 4, 5, 6}) EXPECT_EQ(PhysConstraint_Create(phys, a, nullptr, kind), nullptr) << kind;
    for (int kind : {0, 2, 7}) EXPECT_NE(PhysConstraint_Create(phys, a, nullptr, kind), nullptr) << kind;
    EXPECT_EQ(PhysConstraint_Attach(phys, PhysConstraint_Create(phys, a, b, 1), 5), 0);  // no subspace 5
    PhysBody* bob = Sphere(V(10, 0, 0));
    PhysConstraint* p2p = PhysConstraint_Create(phys, bob, nullptr, PHYS_JOINT_POINT2POINT);
    PhysConstraint* hinge = PhysConstraint_Create(phys, a, nullptr, PHYS_JOINT_HINGE);
    const Point2PointConstraint* pc = static_cast<const Point2PointConstraint*>(p2p->object);
    const HingeConstraint* hc = static_cast<const HingeConstraint*>(hinge->object);
    const Vec3 pivotBefore = pc->pivotA, pivot{10, 1, 0}, axis{1, 0, 0};
    PhysConstraint_SetHingeLimits(p2p, 0.5f, -0.5f);
    PhysConstraint_SetHingeMotor(p2p, 2.0f);
    PhysConstraint_SetHingePivotAxis(p2p, &pivot, &axis);
    EXPECT_EQ(Str(pc->pivotA), Str(pivotBefore));
    PhysConstraint_SetPivot(hinge, &pivot);
    PhysConstraint_SetHingeLimits(hinge, 0.5f, -0.25f);
    PhysConstraint_SetHingeMotor(hinge, 3.0f);
    EXPECT_EQ(Str({(float)hc->limitOn, hc->limit[0], hc->limit[1]}) + ", " +
                  Str({(float)hc->motorOn, hc->motor[0], hc->motor[1]}),
              "1 -0.25 0.5, 1 3 0");
    PhysConstraint_SetHingeMotor(hinge, 0.0f);
    EXPECT_EQ(hc->motorOn, 0);
    PhysConstraint_SetPivot(p2p, &pivot);
    EXPECT_EQ(Str(pc->pivotA), "0 1 0");  // the body's space
    PhysConstraint_Attach(phys, p2p, 0);
    const Vec3 sideways{3, 0, 0};
    PhysBody_SetLinearVelocity(bob, &sideways);
    for (int i = 0; i < 120; ++i) {
        Step(1);
        ASSERT_NEAR(Dist(Position(bob), pivot), 1.0f, 0.05f) << i;
    }
    std::vector<PhysConstraint*> joints;
    for (int kind = 0; kind < PHYS_JOINT_KIND_COUNT; ++kind) {
        joints.push_back(PhysConstraint_Create(phys, a, b, kind));
        PhysConstraint_Attach(phys, joints.back(), 0);
    }
    PhysBody_Destroy(phys, a);
    Step(3);
    for (size_t i = 0; i < joints.size(); i += 2) {
        PhysConstraint_SetStrength(joints[i], 0.5f);
        PhysConstraint_Destroy(phys, joints[i]);
    }
    Step(3);
}

}  // namespace
