#include "engine/objectworld.h"

#include "engine/joints.h"
#include "engine/mesh.h"
#include "engine/node.h"
#include "engine/renderobj.h"
#include "engine/scene.h"
#include "objects_fixture.h"
#include "physics/collision/primitive_collector.h"
#include "physics/dynamics/rigid_body.h"

using namespace phys_test;

namespace {

// What the recording callbacks saw.
struct Seen {
    std::vector<std::pair<Object*, void*>> constructed;
    std::vector<std::string> destroyed;  // names, in order
    std::vector<Object*> updated;
    Object* victim = nullptr;            // destroyed by the next Update of a "killer"
};
Seen g_seen;

uint32_t RecordConstructor(Object* o, uint32_t, void* t)
{
    g_seen.constructed.push_back({o, t});
    return 0;
}
uint32_t RecordDestructor(Object* o, uint32_t, void*)
{
    g_seen.destroyed.push_back(o->name);
    return 0;
}
uint32_t RecordUpdate(Object* o, uint32_t, void*)
{
    g_seen.updated.push_back(o);
    return 0;
}
uint32_t KillerUpdate(Object* o, uint32_t, void*)
{
    g_seen.updated.push_back(o);
    if (g_seen.victim) Object_Destroy(g_seen.victim);
    g_seen.victim = nullptr;
    return 0;
}

class ObjectWorldTest : public ObjectTest {
protected:
    void SetUp() override
    {
        ObjectTest::SetUp();
        g_seen = Seen{};
    }
    Object* Make(ObjectDescription d, const char* name = "thing")
    {
        snprintf(d.name, sizeof d.name, "%s", name);
        return Object_Create(pool, &d);
    }
    void WriteShadowImage() { WriteImage("shadow.png", 0, 0, 0); }
};

TEST_F(ObjectWorldTest, VisualAndPhysicalModelsAreChosenByTheirTextAndTheObjectIsAlwaysMade)
{
    InstallModel("Objects\\Box.lwo", BoxModel(0.5f));
    LwsWriterScene scene;
    scene.items.push_back(LwsWriterItem{});
    scene.items[0].name = "Spinner";
    InstallScene("Scenes\\Spin.lws", scene);
    struct Case {
        const char* visual;
        const char* physical;
        bool mesh, sceneVisual;
        float radius;  // 0: no body
    } cases[] = {
        {"Objects\\Box.lwo", "NOCOLLISION", true, false, 0.0f},
        {"OBJECTS\\BOX.LWO", "sphere1", true, false, 1.0f},
        {"Scenes\\Spin.lws", "SPHERE2.5", false, true, 2.5f},
        {"NOVISUAL", "NOCOLLISION", false, false, 0.0f},
        {"novisual", "", false, false, 0.0f},
        {"", "SPHERE", false, false, 0.0f},  // no radius: no body
        {"Objects\\Missing.lwo", "Objects\\Missing.lwo", false, false, 0.0f},
        {"Hero", "NOCOLLISION", false, false, 0.0f},
    };
    int templateRecord = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.visual) + " / " + c.physical);
        g_seen.constructed.clear();
        ObjectDescription d = Describe(c.visual, c.physical);
        d.mass = 1.0f;
        d.constructor = RecordConstructor;
        d.templateRecord = reinterpret_cast<ObjectTemplate*>(&templateRecord);
        Object* o = Make(d);
        ASSERT_NE(o, nullptr);
        ASSERT_EQ(g_seen.constructed.size(), 1u);
        EXPECT_EQ(g_seen.constructed[0].first, o);
        EXPECT_EQ(g_seen.constructed[0].second, &templateRecord);
        EXPECT_EQ(o->visual != nullptr, c.mesh);
        if (c.mesh) {
            EXPECT_EQ(Node_GetVisual(o->node), o->visual);
        }
        EXPECT_EQ(o->scene != nullptr, c.sceneVisual);
        if (c.sceneVisual) {
            EXPECT_EQ(Node_GetParent(o->sceneNode), o->node);
        }
        float r = 0.0f;
        EXPECT_EQ(PhysBody_GetFirstPrimitiveValue(o->body, &r), c.radius > 0.0f ? 1 : 0);
        EXPECT_EQ(r, c.radius);
        EXPECT_EQ(Node_GetObject(o->node), o);
        if (o->body) {
            EXPECT_EQ(PhysBody_GetOwner(o->body), o);
        }
        EXPECT_EQ(Node_GetParent(o->node), ObjectWorld_GetRootNode());
        Object_Destroy(o);
    }
}

TEST_F(ObjectWorldTest, NoTextureSharingHoldsOnlyForItsOwnLoad)
{
    InstallModel("Objects\\Box.lwo", BoxModel(0.5f));
    for (int before : {0, 1}) {
        Mesh_SetPerObjectDictionaries(before);
        ObjectDescription d = Describe("Objects\\Box.lwo");
        d.noTextureSharing = 1;
        d.visualFlags = 1;  // a copy of its own: not taken from the registry
        Object* o = Make(d);
        EXPECT_NE(o->visual, nullptr);
        EXPECT_EQ(Mesh_GetPerObjectDictionaries(), before);
        Object_Destroy(o);
    }
    Mesh_SetPerObjectDictionaries(0);
}

TEST_F(ObjectWorldTest, AnyOtherVisualTextNamesAnAnimationSet)
{
    LwsWriterScene walk;
    walk.lastFrame = 30;
    LwsWriterItem item = ScenePlace("Hip");
    LwsWriterKey end;
    end.time = 1.0f;
    item.keys.push_back(end);
    walk.items.push_back(item);
    InstallScene("Anims\\Walk.lws", walk);
    InstallAnimSet("Hero", {{"Walk", "Anims\\Walk.lws"}});
    Object* o = Make(Describe("Hero"));
    ASSERT_NE(o->animSet, nullptr);
    EXPECT_EQ(AnimSet_GetCount(o->animSet), 1u);
    Object* copy = Object_CreateFromTemplate(nullptr, o, nullptr, ObjectWorld_GetRootNode(), nullptr);
    ASSERT_NE(copy->animSet, nullptr);
    EXPECT_NE(copy->animSet, o->animSet);
    EXPECT_EQ(Object_AdvanceAnimation(o, 0.5f), 0);
    EXPECT_EQ(Object_AdvanceAnimation(o, 0.6f), 1);  // the set reports its end
    Object_Destroy(o);
    EXPECT_EQ(Object_AdvanceAnimation(copy, 0.25f), 0);  // the source lives on in its instance
    Object_Destroy(copy);
    EXPECT_EQ(Make(Describe("Nobody"))->animSet, nullptr);  // a missing set: no visual, the object is made
}

TEST_F(ObjectWorldTest, LevelsOfDetailStopAtTheFirstMissingOne)
{
    InstallModel("Objects\\Tree.lwo", BoxModel(1.0f));
    InstallModel("Objects\\Tree_LOD0.lwo", BoxModel(0.8f));
    InstallModel("Objects\\Tree_LOD1.lwo", BoxModel(0.6f));
    InstallModel("Objects\\Tree_LOD3.lwo", BoxModel(0.2f));
    Object* o = Make(Describe("Objects\\Tree.lwo"));
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->lodCount, 2u);
    EXPECT_NE(o->lodVisuals[1], nullptr);
    EXPECT_EQ(o->lodVisuals[2], nullptr);
    Object_Destroy(o);
}

TEST_F(ObjectWorldTest, BodySettingsFollowTheDescription)
{
    ObjectDescription d = Describe("NOVISUAL", "SPHERE0.5");
    d.mass = 2.0f;
    d.collisionGroup = 5;
    d.restitution = 0.3f;
    d.friction = 0.7f;
    d.active = 1;
    d.phantom = 1;
    d.pinned = 1;
    d.limitSpin[2] = 1;
    d.removeFromPickList = 1;
    Object* o = Make(d);
    ASSERT_NE(o, nullptr);
    RigidBody* rb = PhysBody_Unwrap(o->body);
    EXPECT_EQ(rb->mass, 2.0f);
    EXPECT_EQ(PhysBody_GetCollisionGroup(o->body), 5u);
    EXPECT_EQ(o->collisionGroup, 5u);
    EXPECT_EQ(rb->restitution, 0.3f);
    EXPECT_EQ(rb->friction, 0.7f);
    EXPECT_EQ(PhysBody_IsActive(o->body), 1);
    EXPECT_EQ(PhysBody_IsPhantom(o->body), 1);
    EXPECT_TRUE(rb->pinned);
    EXPECT_EQ(rb->lockedAxes, 4);
    EXPECT_EQ(o->flags, uint32_t(OBJECT_PHANTOM | OBJECT_ACTIVE | OBJECT_PINNED | OBJECT_LIMIT_SPIN_Z | OBJECT_NO_PICK));
    EXPECT_EQ(o->ownership, uint32_t(OBJECT_OWNS_ALL));  // 0 stands for all three

    ObjectDescription s = Describe("NOVISUAL", "SPHERE0.5");
    s.pinned = 1;  // a static body is never pinned
    Object* st = Make(s);
    EXPECT_EQ(st->flags, uint32_t(OBJECT_STATIC));
    EXPECT_FALSE(PhysBody_Unwrap(st->body)->pinned);
    EXPECT_EQ(PhysBody_IsActive(st->body), 0);
}

TEST_F(ObjectWorldTest, RemoveFromPickListTakesTheBodyOutAfterTheConstructor)
{
    // The Constructor places the object, putting its body in the pick list.
    ObjectDescription d = Describe("NOVISUAL", "SPHERE1");
    d.constructor = [](Object* o, uint32_t, void*) -> uint32_t {
        Object_Sync(o, OBJECT_SYNC_ALL);
        return 0;
    };
    d.removeFromPickList = 1;
    Object* hidden = Make(d);
    d.removeFromPickList = 0;
    Object* seen = Make(d);
    EXPECT_EQ(PhysContacts_Holds(hidden->body, 0), 0);
    EXPECT_EQ(PhysContacts_Holds(seen->body, 0), 1);
}

TEST_F(ObjectWorldTest, DampingFactorsClampAndFactorOneLeavesVelocitiesExact)
{
    struct Case {
        float damping;
        float factor;
    } cases[] = {{0.0f, 1.0f}, {1.5f, 0.0f}, {-0.5f, 1.0f}, {0.25f, 0.75f}};
    for (const Case& c : cases) {
        ObjectDescription d = Describe("NOVISUAL", "SPHERE0.5");
        d.mass = 1.0f;
        d.motionDamping = c.damping;
        d.rotationDamping = c.damping;
        Object* o = Make(d);
        EXPECT_EQ(o->motionFactor, c.factor) << c.damping;
        EXPECT_EQ(o->rotationFactor, c.factor) << c.damping;
        const Vec3 v{0.1f, -0.3f, 1.0f / 3.0f}, w{0.7f, 0.2f, -1.1f};
        PhysBody_SetLinearVelocity(o->body, &v);
        PhysBody_SetAngularVelocity(o->body, &w);
        float dt = 0.02f;
        Object_Update(o, &dt);
        Vec3 gv, gw;
        PhysBody_GetLinearVelocity(o->body, &gv);
        PhysBody_GetAngularVelocity(o->body, &gw);
        EXPECT_EQ(gv.z, v.z * c.factor) << c.damping;  // bit-exact for factor 1
        EXPECT_EQ(gw.x, w.x * c.factor) << c.damping;
        Object_Destroy(o);
    }
}

TEST_F(ObjectWorldTest, AnUpdateThatDestroysAnotherObjectSkipsTheRestOfItsOwnUpdate)
{
    ObjectDescription d = Describe("NOVISUAL", "SPHERE0.5");
    d.mass = 1.0f;
    d.motionDamping = 1.0f;  // zeroes the velocity whenever the update gets that far
    d.update = RecordUpdate;
    for (const char* name : {"a", "b", "c", "d"}) Make(d, name);
    // Roles by pool order: the second destroys the third.
    std::vector<Object*> order = PoolObjects();
    ASSERT_EQ(order.size(), 4u);
    Object* killer = order[1];
    killer->update = KillerUpdate;
    g_seen.victim = order[2];
    const Vec3 v{1, 0, 0};
    for (Object* o : order) PhysBody_SetLinearVelocity(o->body, &v);
    float dt = 0.02f;
    ObjectPool_Update(pool, &dt);
    ASSERT_EQ(g_seen.updated.size(), 3u);  // the victim is gone before its turn
    EXPECT_EQ(g_seen.updated[0], order[0]);
    EXPECT_EQ(g_seen.updated[1], killer);
    EXPECT_EQ(g_seen.updated[2], order[3]);
    EXPECT_EQ(PhysBody_GetSpeed(order[0]->body), 0.0f);
    EXPECT_EQ(PhysBody_GetSpeed(killer->body), 1.0f);  // its damping was skipped
    EXPECT_EQ(PhysBody_GetSpeed(order[3]->body), 0.0f);
    EXPECT_EQ(List_Count(pool), 3u);
}

TEST_F(ObjectWorldTest, DestroyReleasesByOwnershipAndAlwaysUnlinks)
{
    // Shared node and body: ownership of the visuals only.
    Node* node = Node_Create(ObjectWorld_GetRootNode());
    PhysBody* body = PhysBody_Create(phys, 0.5f, 1.0f);
    ObjectDescription d = Describe();
    d.node = node;
    d.body = body;
    d.ownership = OBJECT_OWNS_VISUALS;
    d.destructor = RecordDestructor;
    Object* o = Make(d, "borrower");
    EXPECT_EQ(Node_GetObject(node), o);
    EXPECT_EQ(PhysBody_GetOwner(body), o);
    const uint32_t serial = Object_GetSerial(o);
    EXPECT_NE(serial, 0u);
    Object_Destroy(o);
    EXPECT_EQ(g_seen.destroyed.size(), 1u);
    EXPECT_EQ(Node_GetObject(node), nullptr);
    EXPECT_EQ(PhysBody_GetOwner(body), nullptr);
    EXPECT_EQ(Object_FromBody(body, serial), nullptr);
    EXPECT_EQ(List_Count(phys->bodyPool), 1u);  // not its to destroy
    Object_Destroy(o);                          // a destroyed record is ignored
    EXPECT_EQ(g_seen.destroyed.size(), 1u);

    // Owning everything: the body handle and the node go with the object.
    ObjectDescription all = Describe("NOVISUAL", "SPHERE1");
    all.mass = 1.0f;
    Object* owner = Make(all, "owner");
    Object_Sync(owner, OBJECT_SYNC_ALL);
    EXPECT_EQ(owner->body->node, owner->node);
    Object_Destroy(owner);
    EXPECT_EQ(List_Count(phys->bodyPool), 1u);
    EXPECT_EQ(PhysContacts_GetPickList()->primitives.Count(), 0);
    Step(2);  // the body list holds nothing that was freed
}

TEST_F(ObjectWorldTest, ADestructorMayDestroyItsOwnObject)
{
    ObjectDescription d = Describe();
    d.destructor = [](Object* o, uint32_t, void*) -> uint32_t {
        Object_Destroy(o);  // ignored while it is being destroyed
        return 0;
    };
    Object* o = Make(d);
    Object_Destroy(o);
    EXPECT_EQ(List_Count(pool), 0u);
}

TEST_F(ObjectWorldTest, PoolsDestroyJointsBeforeTheBodiesTheyHold)
{
    ObjectDescription held = Describe("NOVISUAL", "SPHERE1");
    held.destructor = RecordDestructor;
    Make(held, "door");
    ObjectDescription hinge = Describe();
    hinge.constructor = Hinge_Constructor;  // outside a scene walk: no joint
    hinge.destructor = RecordDestructor;
    Make(hinge, "hinge");
    ObjectDescription p2p = hinge;
    p2p.constructor = Point2Point_Constructor;
    Make(p2p, "rope");
    ObjectPool_Destroy(pool);
    pool = nullptr;
    ASSERT_EQ(g_seen.destroyed.size(), 3u);
    EXPECT_EQ(g_seen.destroyed[2], "door");
    ObjectPool_Destroy(reinterpret_cast<List*>(&g_seen));  // an unknown pool is ignored
}

TEST_F(ObjectWorldTest, TenPoolsAtMost)
{
    std::vector<List*> pools;
    for (int i = 1; i < OBJECT_POOL_SLOTS; ++i) pools.push_back(ObjectPool_Create());
    for (List* p : pools) EXPECT_NE(p, nullptr);
    EXPECT_EQ(ObjectPool_Create(), nullptr);
    ObjectPool_Destroy(pools[3]);
    EXPECT_NE(ObjectPool_Create(), nullptr);
}

TEST_F(ObjectWorldTest, SyncAddsTheBodyAtTheNodeAndTransformsComeFromTheBody)
{
    ObjectDescription d = Describe("NOVISUAL", "SPHERE0.5");
    d.mass = 1.0f;
    d.active = 1;
    Object* o = Make(d);
    const Vec3 p{1, 5, 2}, at{1, 0, 0}, up{0, 1, 0};
    Node_SetPosition(o->node, &p);
    Node_SetOrientation(o->node, &at, &up);
    Object_Sync(o, OBJECT_SYNC_ADD | OBJECT_SYNC_FOLLOW);
    Vec3 pos, gotUp, gotAt;
    Object_GetTransform(o, &pos, &gotUp, &gotAt);  // up first
    EXPECT_LT(Dist(pos, p), 1e-5f);
    EXPECT_LT(Dist(gotAt, at), 1e-5f);
    EXPECT_LT(Dist(gotUp, up), 1e-5f);
    Step(30);
    Vec3 nodePos, bodyPos;
    Node_GetPosition(o->node, &nodePos);
    PhysBody_GetPosition(o->body, &bodyPos);
    EXPECT_LT(bodyPos.y, 5.0f);
    EXPECT_EQ(Dist(nodePos, bodyPos), 0.0f);  // the node follows

    // Without a body the node's world matrix answers.
    Object* plain = Make(Describe());
    Node_SetPosition(plain->node, &p);
    Object_GetTransform(plain, &pos, nullptr, &gotAt);
    EXPECT_EQ(Dist(pos, p), 0.0f);
}

TEST_F(ObjectWorldTest, AScalableBodyWithoutAnItemKeepsItsScale)
{
    InstallShapes("Objects\\Crate.lwo", {Rbs_Box(1.0f, 0.5f, 0.5f, 0.5f)});
    ObjectDescription d = Describe("NOVISUAL", "Objects\\Crate.lwo");
    d.scalable = 1;
    d.mass = 3.0f;
    Object* o = Make(d);
    ASSERT_NE(o->body, nullptr);
    EXPECT_EQ(PhysBody_GetMass(o->body), 3.0f);  // the configured mass overrides the file's
    EXPECT_EQ(PhysBody_GetPrimitiveKind(o->body, 0), uint32_t(PRIMITIVE_KIND_CONVEX));
}

TEST_F(ObjectWorldTest, SpinLocksSurviveTheCentreOfMassShiftInObjectsAndTheirInstances)
{
    Vec3 zero{0, 0, 0};
    PhysWorld_SetGravity(phys, &zero);
    ObjectDescription d = Describe("NOVISUAL", "SPHERE0.5");
    d.mass = 1.0f;
    d.active = 1;
    d.limitSpin[1] = 1;
    d.centreOfMassShift = Vec3{0, -0.2f, 0};
    Object* o = Make(d);
    Object* copy = Object_CreateFromTemplate(nullptr, o, nullptr, ObjectWorld_GetRootNode(), nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->body, o->body);
    EXPECT_EQ(copy->nameHash, 0u);
    for (Object* x : {o, copy}) {
        RigidBody* rb = PhysBody_Unwrap(x->body);
        EXPECT_EQ(rb->comOffset.y, -0.2f);
        Object_Sync(x, OBJECT_SYNC_ADD);
        rb->torque = Vec3{0, 3, 3};
    }
    Step(1);
    for (Object* x : {o, copy}) {
        Vec3 w;
        PhysBody_GetAngularVelocity(x->body, &w);
        EXPECT_EQ(w.y, 0.0f);
        EXPECT_NE(w.z, 0.0f);
    }
}

// The shadow ray goes through the recording seam: the hits are scripted.
class ObjectShadowTest : public ObjectWorldTest {
protected:
    void SetUp() override
    {
        ObjectWorldTest::SetUp();
        WriteShadowImage();
        PhysRay_SetCastFunction(ScriptedRay);
    }
    Object* Shadowed(uint32_t extraFlags = 0)
    {
        ObjectDescription d = Describe();
        snprintf(d.shadowName, sizeof d.shadowName, "shadow.png");
        d.shadowPixelHeight = 4;
        d.shadowSize[0] = 2.0f;
        d.shadowSize[1] = 3.0f;
        Object* o = Make(d);
        o->flags |= extraFlags;
        return o;
    }
    uint32_t Quads() { return Billboard_GetBatch()->quadCount; }
    const BillboardQuad& LastQuad() { return Billboard_GetBatch()->quads[Quads() - 1]; }
    float dt_ = 0.02f;
};

TEST_F(ObjectShadowTest, AHitLaysTheShadowOnTheGroundAlongItsNormal)
{
    Object* o = Shadowed();
    ASSERT_NE(o->shadow, nullptr);
    EXPECT_TRUE(o->flags & OBJECT_SHADOW);
    const Vec3 p{3, 10, 4};
    Node_SetPosition(o->node, &p);
    PhysRayResult hit{};
    hit.hit = 1;
    hit.point = V(3, 1, 4);
    hit.normal = V(0, 0.6f, 0.8f);
    g_rayScript.push_back(hit);
    Object_Update(o, &dt_);
    ASSERT_EQ(g_rays.size(), 1u);
    EXPECT_EQ(Dist(g_rays[0].from, p), 0.0f);
    EXPECT_EQ(Dist(g_rays[0].to, V(3, -1990, 4)), 0.0f);
    EXPECT_LT(Dist(o->shadowPosition, V(3, 1.05f, 4)), 1e-6f);
    // (n x z) x n for n = (0, 0.6, 0.8).
    EXPECT_LT(Dist(o->shadowAxis, V(0, -0.48f, 0.36f)), 1e-5f);
    ASSERT_EQ(Quads(), 1u);
    EXPECT_TRUE(LastQuad().oriented);
    // An unmoved node casts no second ray and draws where it was.
    Object_Update(o, &dt_);
    EXPECT_EQ(g_rays.size(), 1u);
    EXPECT_EQ(Quads(), 2u);
    EXPECT_EQ(Dist(LastQuad().centre, Billboard_GetBatch()->quads[0].centre), 0.0f);
}

TEST_F(ObjectShadowTest, AMissPlacesTheShadowOnlyWithTheAlwaysFlag)
{
    Object* plain = Shadowed();
    Object_Update(plain, &dt_);  // at the origin: the first update casts all the same
    EXPECT_EQ(g_rays.size(), 1u);
    EXPECT_EQ(Quads(), 0u);      // nothing to draw before a placement exists
    Object_Update(plain, &dt_);
    EXPECT_EQ(g_rays.size(), 1u);
    EXPECT_EQ(Quads(), 0u);

    Object* always = Shadowed(OBJECT_SHADOW_ALWAYS);
    const Vec3 p{1, 2, 3};
    Node_SetPosition(always->node, &p);
    Object_Update(always, &dt_);
    EXPECT_LT(Dist(always->shadowPosition, V(1, 2 - 2000 + 0.2f, 3)), 1e-3f);
    EXPECT_EQ(Dist(always->shadowNormal, V(0, 1, 0)), 0.0f);
    EXPECT_EQ(Dist(always->shadowAxis, V(0, 0, 1)), 0.0f);
    EXPECT_EQ(Quads(), 1u);
}

TEST_F(ObjectShadowTest, AnOwnerlessGroundIsAHit)
{
    PhysRay_SetCastFunction(nullptr);
    PhysBody* ground = PhysBody_Create(phys, 5.0f, 0.0f);
    const Vec3 g{0, -5, 0};
    PhysWorld_AddBody(phys, ground, &g, nullptr, nullptr);
    PhysContacts_AddBody(ground);
    Object* o = Shadowed();
    const Vec3 p{0, 3, 0};
    Node_SetPosition(o->node, &p);
    Object_Update(o, &dt_);
    EXPECT_NEAR(o->shadowPosition.y, 0.05f, 1e-4);
    EXPECT_EQ(Quads(), 1u);
    // The copy of an instance has a shadow of its own.
    Object* copy = Object_CreateFromTemplate(nullptr, o, nullptr, ObjectWorld_GetRootNode(), nullptr);
    EXPECT_NE(copy->shadow, nullptr);
    EXPECT_NE(copy->shadow, o->shadow);
}

TEST_F(ObjectWorldTest, SceneVisualsAdvanceAndReportTheirEnd)
{
    LwsWriterScene scene;
    scene.lastFrame = 30;  // one second
    LwsWriterItem item;
    item.name = "Spinner";
    LwsWriterKey k0, k1;
    k1.time = 1.0f;
    k1.position[0] = 2.0f;
    item.keys = {k0, k1};
    scene.items.push_back(item);
    InstallScene("Scenes\\Spin.lws", scene);
    Object* o = Make(Describe("Scenes\\Spin.lws"));
    ASSERT_NE(o->scene, nullptr);
    // An instance shares the scene's data with nodes of its own.
    Object* copy = Object_CreateFromTemplate(nullptr, o, nullptr, ObjectWorld_GetRootNode(), nullptr);
    ASSERT_NE(copy->scene, nullptr);
    EXPECT_EQ(Object_AdvanceAnimation(o, 0.5f), 0);
    EXPECT_EQ(Object_AdvanceAnimation(o, 0.6f), 1);
    Object* plain = Make(Describe());
    EXPECT_EQ(Object_AdvanceAnimation(plain, 5.0f), 0);
    EXPECT_NE(copy->scene, o->scene);
    EXPECT_EQ(Node_GetParent(copy->sceneNode), copy->node);
    Object_Destroy(o);
    EXPECT_EQ(Object_AdvanceAnimation(copy, 0.25f), 0);  // the source lives on in its instance
}

TEST_F(ObjectWorldTest, InstancesShareMeshesAndLoadWriteableOnesAfresh)
{
    InstallModel("Objects\\Box.lwo", BoxModel(0.5f));
    ObjectTemplate record{};
    snprintf(record.visualModel, sizeof record.visualModel, "Objects\\Box.lwo");
    for (uint32_t flags : {0u, 1u}) {
        record.visualFlags = flags;
        ObjectDescription d = Describe("Objects\\Box.lwo");
        d.visualFlags = flags;
        Object* o = Make(d);
        ASSERT_NE(o->visual, nullptr);
        Object* copy = Object_CreateFromTemplate(nullptr, o, &record, ObjectWorld_GetRootNode(), nullptr);
        ASSERT_NE(copy->visual, nullptr) << flags;
        EXPECT_EQ(copy->visual == o->visual, flags == 0) << flags;
        EXPECT_EQ(Node_GetVisual(copy->node), copy->visual) << flags;
        // Both release their visual: under the sanitizers nothing is freed twice.
        Object_Destroy(o);
        Object_Destroy(copy);
    }
}

}  // namespace

namespace {

// The node sync and the body's placement agree in both directions: a body
// added from a node's (at, up) and stepped without gravity or velocity
// writes the node's own matrix back. Catches quaternion sign and order
// faults; rotations below 0.01 rad snap to the identity by design.
TEST_F(ObjectWorldTest, ABodyPlacedFromItsNodeWritesTheSameMatrixBack)
{
    const Vec3 zero{0, 0, 0};
    PhysWorld_SetGravity(phys, &zero);
    struct Case {
        Vec3 axis;
        float angle;
    } cases[] = {{{0, 1, 0}, 0.5f}, {{1, 0, 0}, -1.2f}, {{0, 0, 1}, 2.5f}, {{1, 1, 0}, 0.02f},
                 {{0.3f, -0.8f, 0.5f}, 3.0f}, {{0, 1, 0}, -3.1f}};
    for (const Case& c : cases) {
        PhysBody* b = PhysBody_Create(phys, 0.5f, 1.0f);
        Node* node = Node_Create(ObjectWorld_GetRootNode());
        Vec3 axis = c.axis;
        Vec3_Normalise(&axis);
        Node_SetRotation(node, &axis, c.angle);
        const Vec3 p{1, 2, 3};
        Node_SetPosition(node, &p);
        Mat4 before;
        Node_GetMatrix(node, &before);
        Vec3 at, up;
        Node_GetOrientation(node, &at, &up);
        PhysWorld_AddBody(phys, b, &p, &at, &up);
        b->node = node;
        PhysWorld_Step(phys, 1.0f / 60.0f);
        Mat4 after;
        Node_GetMatrix(node, &after);
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(after.m[r][k], before.m[r][k], 1e-4) << c.angle << " row " << r << " col " << k;
        PhysBody_Destroy(phys, b);
        Node_Destroy(node);
    }
}

TEST_F(ObjectWorldTest, SyncFlagsLeaveRotationOrPositionToTheNode)
{
    PhysBody* b = PhysBody_Create(phys, 0.5f, 1.0f);
    Node* node = Node_Create(ObjectWorld_GetRootNode());
    const Vec3 p{0, 5, 0};
    PhysWorld_AddBody(phys, b, &p, nullptr, nullptr);
    b->node = node;
    const Vec3 w{0, 2, 0};
    PhysBody_SetAngularVelocity(b, &w);
    b->syncFlags = PHYS_SYNC_NO_ROTATION | PHYS_SYNC_NO_POSITION;
    Step(10);
    Mat4 m;
    Node_GetMatrix(node, &m);
    EXPECT_EQ(m.m[3][1], 0.0f);
    EXPECT_EQ(m.m[0][0], 1.0f);
    b->syncFlags = PHYS_SYNC_NO_ROTATION;
    Step(1);
    Node_GetMatrix(node, &m);
    EXPECT_LT(m.m[3][1], 5.0f);
    EXPECT_GT(m.m[3][1], 4.0f);
    EXPECT_EQ(m.m[0][0], 1.0f);
    b->syncFlags = 0;
    Step(1);
    Node_GetMatrix(node, &m);
    EXPECT_LT(m.m[0][0], 0.999f);  // turned about y
    Node_Destroy(node);
}

}  // namespace
