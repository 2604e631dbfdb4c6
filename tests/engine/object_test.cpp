// Objects: the object world and its pools, objects made from descriptions
// and configuration files (templates) with their named callbacks, the
// collision dispatch and object scenes.
#include <cstring>
#include <tuple>

#include "content_fixture.h"
#include "engine/billboard.h"
#include "engine/joints.h"
#include "engine/mesh.h"
#include "physics/collision/collision_primitive.h"
#include "physics/collision/primitive_collector.h"
#include "physics/dynamics/events.h"

namespace {

// What the recording callbacks saw, as text ("construct thing", ...).
std::vector<std::string> g_seen;
std::vector<Object*> g_updated;
Object* g_victim = nullptr;  // destroyed by the next Update or Collision call that sees it set
std::vector<ObjectTemplate*> g_templates;

uint32_t Construct(Object* o, uint32_t, void* t)
{
    g_templates.push_back((ObjectTemplate*)t);
    g_seen.push_back(std::string("construct ") + o->name);
    return 0;
}
uint32_t Destruct(Object* o, uint32_t, void*)
{
    g_seen.push_back(std::string("destruct ") + o->name);
    return 0;
}
uint32_t Update(Object* o, uint32_t, void*)
{
    g_updated.push_back(o);
    return 0;
}
uint32_t Kill(Object* o, uint32_t, void*)
{
    g_updated.push_back(o);
    if (Object* v = g_victim) g_victim = nullptr, Object_Destroy(v);
    return 0;
}
// One Collision call with the queries' answers.
struct Hit {
    Object *self, *other;
    uint32_t side, touching, type, extra, inContact;
    Vec3 normal;
    float speed;
};
std::vector<Hit> g_hits;
uint32_t Collide(Object* self, Object* other, uint32_t side)
{
    Hit h{self,
          other,
          side,
          ObjectCollision_IsTouching(),
          ObjectCollision_GetEventType(),
          ObjectCollision_GetEventExtra(),
          ObjectCollision_InContact(),
          {},
          ObjectCollision_GetImpactSpeed()};
    ObjectCollision_GetContactNormal(&h.normal);
    g_hits.push_back(h);
    if (Object* v = g_victim) g_victim = nullptr, Object_Destroy(v);
    return 0;
}

class ObjectWorldTest : public ObjectTest {
protected:
    void SetUp() override
    {
        ObjectTest::SetUp();
        g_seen.clear();
        g_updated.clear();
        g_hits.clear();
        g_templates.clear();
        g_victim = nullptr;
        CallbackRegistry_AddFn("Test_Constructor", Construct);
        CallbackRegistry_AddFn("Test_Update", Update);
        CallbackRegistry_AddFn("Test_Destructor", Destruct);
        CallbackRegistry_AddFn("Test_Collision", Collide);
        WriteModel("Objects\\Box.lwo", BoxModel(0.5f));
        WriteScene("Scenes\\Spin.lws", SceneOf({Placed("Spinner")}, 30));
    }
    Object* Thing(const char* name, float mass = 1.0f)
    {
        ObjectDescription d = Describe("NOVISUAL", "SPHERE0.5", mass, name);
        d.active = 1, d.collision = Collide;
        return Make(d);
    }
    static CollisionPrimitive* Prim(PhysBody* b) { return PhysBody_Unwrap(b)->primitives[0]; }
    static PhysPairEvent Contact(PhysBody* a, PhysBody* b, uint32_t kind = PHYS_EVENT_CONTACT)
    {
        PhysPairEvent e{};
        e.kind = kind, e.primitiveA = Prim(a), e.primitiveB = Prim(b), e.normal = Vec3{0, 1, 0};
        return e;
    }
};

TEST_F(ObjectWorldTest, VisualAndPhysicalModelsAreChosenByTheirTextAndTheObjectIsAlwaysMade)
{
    // The visual and physical texts; a mesh made, a scene made, the body's radius (0: no body).
    const std::tuple<const char*, const char*, bool, bool, float> cases[] = {
        {"Objects\\Box.lwo", "NOCOLLISION", true, false, 0.0f},
        {"OBJECTS\\BOX.LWO", "sphere1", true, false, 1.0f},
        {"Scenes\\Spin.lws", "SPHERE2.5", false, true, 2.5f},
        {"NOVISUAL", "NOCOLLISION", false, false, 0.0f},
        {"novisual", "", false, false, 0.0f},
        {"", "SPHERE", false, false, 0.0f},  // no radius: no body
        {"Objects\\Missing.lwo", "Objects\\Missing.lwo", false, false, 0.0f},
        {"Hero", "NOCOLLISION", false, false, 0.0f},  // a missing animation set
    };
    int record = 0;
    for (const auto& [visual, physical, mesh, scene, radius] : cases) {
        SCOPED_TRACE(std::string(visual) + " / " + physical);
        g_templates.clear();
        ObjectDescription d = Describe(visual, physical, 1.0f);
        d.constructor = Construct, d.templateRecord = reinterpret_cast<ObjectTemplate*>(&record);
        Object* o = Make(d);
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(g_templates, std::vector<ObjectTemplate*>{d.templateRecord});
        EXPECT_TRUE((o->visual != nullptr) == mesh && (mesh ? Node_GetVisual(o->node) : nullptr) == o->visual);
        EXPECT_TRUE((o->scene != nullptr) == scene &&
                    (scene ? Node_GetParent(o->sceneNode) : nullptr) == (scene ? o->node : nullptr));
        float r = 0.0f;
        EXPECT_TRUE(PhysBody_GetFirstPrimitiveValue(o->body, &r) == (radius > 0.0f) && r == radius);
        EXPECT_TRUE(Node_GetObject(o->node) == o && PhysBody_GetOwner(o->body) == (o->body ? o : nullptr) &&
                    Node_GetParent(o->node) == ObjectWorld_GetRootNode() && !o->animSet);
        EXPECT_EQ(Object_AdvanceAnimation(o, 0.01f), 0);
        Object_Destroy(o);
    }
    EXPECT_EQ(Object_AdvanceAnimation(nullptr, 1.0f), 0);
    ObjectTemplate shared{};
    snprintf(shared.visualModel, sizeof shared.visualModel, "Objects\\Box.lwo");
    for (uint32_t flags : {0u, 1u}) {
        shared.visualFlags = flags;
        ObjectDescription d = Describe("Objects\\Box.lwo");
        d.visualFlags = flags;
        Object* o = Make(d);
        Object* copy = Object_CreateFromTemplate(nullptr, o, &shared, ObjectWorld_GetRootNode(), nullptr);
        EXPECT_TRUE(copy->visual && (copy->visual == o->visual) == (flags == 0)) << flags;
        Object_Destroy(o);
        Object_Destroy(copy);
    }
    WriteModel("Objects\\Tree.lwo", BoxModel(1.0f));
    for (const char* lod : {"Objects\\Tree_LOD0.lwo", "Objects\\Tree_LOD1.lwo", "Objects\\Tree_LOD3.lwo"})
        WriteModel(lod, BoxModel(0.5f));
    Object* tree = Make(Describe("Objects\\Tree.lwo"));
    EXPECT_TRUE(tree->lodCount == 2 && tree->lodVisuals[1] && !tree->lodVisuals[2]);
    for (int before : {0, 1}) {
        Mesh_SetPerObjectDictionaries(before);
        ObjectDescription d = Describe("Objects\\Box.lwo");
        d.noTextureSharing = 1, d.visualFlags = 1;
        EXPECT_TRUE(Make(d)->visual && Mesh_GetPerObjectDictionaries() == before);
    }
    Mesh_SetPerObjectDictionaries(0);
}

TEST_F(ObjectWorldTest, BodySettingsFollowTheDescriptionAndSpinLocksSurviveInInstances)
{
    ObjectDescription d = Describe("NOVISUAL", "SPHERE0.5", 2.0f);
    d.collisionGroup = 5, d.restitution = 0.3f, d.friction = 0.7f, d.active = d.phantom = d.pinned = 1;
    d.limitSpin[2] = 1, d.removeFromPickList = 1;
    Object* o = Make(d);
    const RigidBody* rb = PhysBody_Unwrap(o->body);
    EXPECT_EQ(Str({rb->mass, rb->restitution, rb->friction}), "2 0.3 0.7");
    EXPECT_TRUE(PhysBody_GetCollisionGroup(o->body) == 5 && PhysBody_IsActive(o->body) && PhysBody_IsPhantom(o->body) &&
                rb->pinned && rb->lockedAxes == 4);
    EXPECT_EQ(o->flags,
              uint32_t(OBJECT_PHANTOM | OBJECT_ACTIVE | OBJECT_PINNED | OBJECT_LIMIT_SPIN_Z | OBJECT_NO_PICK));
    const Vec3 zero{0, 0, 0};
    PhysWorld_SetGravity(phys, &zero);
    ObjectDescription spin = Describe("NOVISUAL", "SPHERE0.5", 1.0f);
    spin.active = 1, spin.limitSpin[1] = 1, spin.centreOfMassShift = Vec3{0, -0.2f, 0};
    Object* s = Make(spin);
    Object* copy = Copy(s);
    ASSERT_TRUE(copy && copy->body != s->body && copy->nameHash == 0);
    for (Object* x : {s, copy}) {
        EXPECT_EQ(PhysBody_Unwrap(x->body)->comOffset.y, -0.2f);
        Object_Sync(x, OBJECT_SYNC_ADD);
        PhysBody_Unwrap(x->body)->torque = Vec3{0, 3, 3};
    }
    Step(1);
    for (Object* x : {s, copy}) {
        Vec3 w;
        PhysBody_GetAngularVelocity(x->body, &w);
        EXPECT_TRUE(w.y == 0.0f && w.z != 0.0f);
    }
    Object* st = Make(Describe("NOVISUAL", "SPHERE0.5"));
    EXPECT_TRUE(st->flags == OBJECT_STATIC && !PhysBody_Unwrap(st->body)->pinned && !PhysBody_IsActive(st->body));
    WriteShapes("Objects\\Crate.lwo", {Rbs_Box(1.0f, 0.5f, 0.5f, 0.5f)});
    ObjectDescription scalable = Describe("NOVISUAL", "Objects\\Crate.lwo", 3.0f);
    scalable.scalable = 1;
    Object* crate = Make(scalable);
    EXPECT_TRUE(crate->body && PhysBody_GetMass(crate->body) == 3.0f &&
                PhysBody_GetPrimitiveKind(crate->body, 0) == PRIMITIVE_KIND_CONVEX);
    ObjectDescription picked = Describe("NOVISUAL", "SPHERE1");
    picked.constructor = [](Object* x, uint32_t, void*) -> uint32_t { return Object_Sync(x, OBJECT_SYNC_ALL), 0; };
    picked.removeFromPickList = 1;
    Object* hidden = Make(picked);
    picked.removeFromPickList = 0;
    EXPECT_TRUE(!PhysContacts_Holds(hidden->body, 0) && PhysContacts_Holds(Make(picked)->body, 0));
}

TEST_F(ObjectWorldTest, UpdatesDampByClampedFactorsAndStopForAnObjectDestroyedMeanwhile)
{
    const float cases[][2] = {{0.0f, 1.0f}, {1.5f, 0.0f}, {-0.5f, 1.0f}, {0.25f, 0.75f}};
    for (const auto& [damping, factor] : cases) {
        ObjectDescription d = Describe("NOVISUAL", "SPHERE0.5", 1.0f);
        d.motionDamping = d.rotationDamping = damping;
        Object* o = Make(d);
        EXPECT_TRUE(o->motionFactor == factor && o->rotationFactor == factor) << damping;
        const Vec3 v{0.1f, -0.3f, 1.0f / 3.0f}, w{0.7f, 0.2f, -1.1f};
        PhysBody_SetLinearVelocity(o->body, &v);
        PhysBody_SetAngularVelocity(o->body, &w);
        const float dt = 0.02f;
        Object_Update(o, &dt);
        Vec3 gv, gw;
        PhysBody_GetLinearVelocity(o->body, &gv);
        PhysBody_GetAngularVelocity(o->body, &gw);
        EXPECT_EQ(gv.z, v.z * factor) << damping;  // bit-exact for factor 1
        EXPECT_EQ(gw.x, w.x * factor) << damping;
        Object_Destroy(o);
    }
    ObjectDescription d = Describe("NOVISUAL", "SPHERE0.5", 1.0f);
    d.motionDamping = 1.0f;  // zeroes the velocity whenever the update gets that far
    d.update = Update;
    for (int i = 0; i < 4; i++) Make(d);
    const std::vector<Object*> order = PoolObjects();
    const Vec3 v{1, 0, 0};
    for (Object* o : order) PhysBody_SetLinearVelocity(o->body, &v);
    order[1]->update = Kill;
    g_victim = order[2];
    const float dt = 0.02f;
    ObjectPool_Update(pool, &dt);
    EXPECT_EQ(g_updated, (std::vector<Object*>{order[0], order[1], order[3]}));
    EXPECT_EQ(Str({PhysBody_GetSpeed(order[0]->body), PhysBody_GetSpeed(order[1]->body), (float)List_Count(pool)}) +
                  " " + Str({PhysBody_GetSpeed(order[3]->body), 0, 0}),
              "0 1 3 0 0 0");
}

TEST_F(ObjectWorldTest, DestroyReleasesByOwnershipAlwaysUnlinksAndPoolsAreLimited)
{
    Node* node = Node_Create(ObjectWorld_GetRootNode());
    PhysBody* body = PhysBody_Create(phys, 0.5f, 1.0f);
    ObjectDescription d = Describe();
    d.node = node, d.body = body, d.ownership = OBJECT_OWNS_VISUALS, d.destructor = Destruct;
    Object* o = Make(d);
    const uint32_t serial = Object_GetSerial(o);
    EXPECT_TRUE(Node_GetObject(node) == o && PhysBody_GetOwner(body) == o && serial &&
                Object_FromBody(body, serial) == o);
    Object_Destroy(o);
    Object_Destroy(o);  // a destroyed record is ignored
    EXPECT_EQ(g_seen, std::vector<std::string>{"destruct thing"});
    EXPECT_FALSE(Node_GetObject(node) || PhysBody_GetOwner(body) || Object_FromBody(body, serial));
    EXPECT_EQ(List_Count(phys->bodyPool), 1u);  // not its to destroy
    Object* owner = Make(Describe("NOVISUAL", "SPHERE1", 1.0f));
    Object_Sync(owner, OBJECT_SYNC_ALL);
    EXPECT_EQ(owner->body->node, owner->node);
    Object_Destroy(owner);
    EXPECT_EQ(List_Count(phys->bodyPool) * 10 + PhysContacts_GetPickList()->primitives.Count(), 10u);
    Step(2);  // the body list holds nothing that was freed
    d = Describe();
    d.destructor = [](Object* x, uint32_t, void*) -> uint32_t { return Object_Destroy(x), 0; };
    Object_Destroy(Make(d));
    EXPECT_EQ(List_Count(pool), 0u);
    std::vector<List*> pools;
    for (int i = 1; i < OBJECT_POOL_SLOTS; ++i) pools.push_back(ObjectPool_Create());
    EXPECT_TRUE(std::count(pools.begin(), pools.end(), nullptr) == 0 && !ObjectPool_Create());
    ObjectPool_Destroy(pools[3]);
    ObjectPool_Destroy(reinterpret_cast<List*>(&g_seen));
    EXPECT_NE(ObjectPool_Create(), nullptr);
}

TEST_F(ObjectWorldTest, ShadowsLieOnTheGroundTheRayFindsOrOnlyWithTheAlwaysFlagWhenItMisses)
{
    WriteImage("shadow.png", 0, 0, 0);
    PhysRay_SetCastFunction(ScriptedRay);
    auto shadowed = [&](uint32_t extraFlags, Vec3 p) {
        ObjectDescription d = Describe();
        snprintf(d.shadowName, sizeof d.shadowName, "shadow.png");
        d.shadowPixelHeight = 4, d.shadowSize[0] = 2.0f, d.shadowSize[1] = 3.0f;
        Object* o = Make(d);
        o->flags |= extraFlags;
        Node_SetPosition(o->node, &p);
        return o;
    };
    const BillboardBatch* batch = Billboard_GetBatch();
    const float dt = 0.02f;
    Object* o = shadowed(0, V(3, 10, 4));
    ASSERT_TRUE(o->shadow && (o->flags & OBJECT_SHADOW));
    PhysRayResult hit{};
    hit.hit = 1, hit.point = V(3, 1, 4), hit.normal = V(0, 0.6f, 0.8f);
    g_rayScript = {hit};
    Object_Update(o, &dt);
    ASSERT_EQ(g_rays.size(), 1u);
    EXPECT_EQ(Str(g_rays[0].from) + ", " + Str(g_rays[0].to), "3 10 4, 3 -1990 4");
    EXPECT_EQ(Str(o->shadowPosition) + ", " + Str(o->shadowAxis), "3 1.05 4, 0 -0.48 0.36");
    ASSERT_TRUE(batch->quadCount == 1 && batch->quads[0].oriented);
    Object_Update(o, &dt);
    ASSERT_TRUE(g_rays.size() * 10 + batch->quadCount == 12 &&
                Str(batch->quads[1].centre) == Str(batch->quads[0].centre));
    Object* plain = shadowed(0, V(0, 0, 0));
    Object_Update(plain, &dt);  // at the origin: the first update casts all the same
    Object_Update(plain, &dt);
    EXPECT_EQ(g_rays.size() * 10 + batch->quadCount, 22u);
    Object* always = shadowed(OBJECT_SHADOW_ALWAYS, V(1, 2, 3));
    Object_Update(always, &dt);
    EXPECT_EQ(Str(always->shadowPosition) + ", " + Str(always->shadowNormal) + ", " + Str(always->shadowAxis),
              "1 -1997.8 3, 0 1 0, 0 0 1");
    EXPECT_EQ(batch->quadCount, 3u);
    PhysRay_SetCastFunction(nullptr);
    PhysBody* ground = PhysBody_Create(phys, 5.0f, 0.0f);
    const Vec3 g{0, -5, 0};
    PhysWorld_AddBody(phys, ground, &g, nullptr, nullptr);
    PhysContacts_AddBody(ground);
    Object* real = shadowed(0, V(0, 3, 0));
    Object_Update(real, &dt);
    EXPECT_NEAR(real->shadowPosition.y, 0.05f, 1e-4);
    Object* copy = Copy(real);
    EXPECT_TRUE(copy->shadow && copy->shadow != real->shadow);
}

TEST_F(ObjectWorldTest, ConfigurationFilesReadEveryKeyIntoTheObjectAndItsTemplate)
{
    WriteImage("shadow.png", 0, 0, 0);
    WriteObject("Objects\\Full.cfg",
                "Name = Full\n VisualModel = NOVISUAL\n PhysicalModel = SPHERE0.75\n ShadowName = shadow.png\n"
                "ShadowPixelHeight = 4\n ShadowSize = 1.5,2.5\n Mass = 3\n Friction = 0.25\n Restitution = -1\n"
                "Active = yes\n Phantom = TRUE\n Pinned = on\n limitSpinXAxis = 1\n limitSpinZAxis = true\n"
                "centreOfMassShift = 0,-0.25,0\n CollisionGroup = -2147483647\n RemoveFromPickList = 1\n"
                "MotionDamping = 0.5\n RotationDamping = 2\n Constructor = Test_Constructor\n Update = test_update\n"
                "Destructor = Test_Destructor\n Collision = Test_Collision\n FPVal0 = 1.5\n FPVal9 = -2\n"
                "U32Val3 = 7\n S32Val4 = -9\n Vector3dVal2 = 1,2,3\n StringVal5 = Routes\\Path.lws\n"
                "BoolVal0 = yes\n BoolVal31 = 1\n BoolVal7 = no");
    Object* o = ObjectTemplate_Load("Objects\\Full.cfg", nullptr, pool, 0);
    ASSERT_TRUE(o && g_templates.size() == 1);
    ObjectTemplate* t = g_templates[0];
    EXPECT_EQ(Str({t->fpVal[0], t->fpVal[9], (float)t->u32Val[3]}) + ", " + Str({(float)t->s32Val[4], 0, 0}) + ", " +
                  Str(t->vector3dVal[2]),
              "1.5 -2 7, -9 0 0, 1 2 3");
    EXPECT_TRUE(!strcmp(t->stringVal[5], "Routes\\Path.lws") && t->boolVals == 0x80000001u);
    EXPECT_EQ(std::vector<int>({ObjectTemplate_GetBool(t, 31), ObjectTemplate_GetBool(t, 7),
                                ObjectTemplate_GetBool(t, 32), ObjectTemplate_GetBool(t, -1)}),
              std::vector<int>({1, 0, 0, 0}));
    const RigidBody* rb = PhysBody_Unwrap(o->body);
    float r;
    PhysBody_GetFirstPrimitiveValue(o->body, &r);
    EXPECT_EQ(Str({r, rb->mass, rb->friction}) + ", " + Str({rb->restitution, rb->comOffset.y, o->shadowSize[1]}),
              "0.75 3 0.25, 0 -0.25 2.5");  // a restitution below 0 is 0
    EXPECT_EQ(PhysBody_GetCollisionGroup(o->body), 0x80000001u);
    EXPECT_EQ(o->flags, uint32_t(OBJECT_SHADOW | OBJECT_PHANTOM | OBJECT_ACTIVE | OBJECT_PINNED | OBJECT_LIMIT_SPIN_X |
                                 OBJECT_LIMIT_SPIN_Z | OBJECT_NO_PICK));
    EXPECT_TRUE(rb->lockedAxes == 5 &&
                Str({o->motionFactor, o->rotationFactor, (float)o->removeFromPickList}) == "0.5 0 1");
    EXPECT_TRUE(o->constructor == Construct && o->update == Update && o->destructor == Destruct &&
                o->collision == Collide);

    WriteObject("Objects\\Empty.cfg", "Name = Empty\n Update = Nobody_Update\n Destructor =");
    Object* e = ObjectTemplate_Load("Objects\\Empty.cfg", nullptr, pool, 0);
    ASSERT_TRUE(e && !strcmp(e->name, "Empty") && !e->visual && !e->body && !e->shadow && !e->constructor &&
                !e->update && !e->destructor);
    // Ownership 0 stands for all three.
    EXPECT_EQ(Str({e->motionFactor, e->rotationFactor, (float)e->flags}) + " " + std::to_string(e->ownership),
              "1 1 0 " + std::to_string(OBJECT_OWNS_ALL));
    ObjectTemplate* empty = ObjectTemplate_Find("Objects\\Empty.cfg");
    ASSERT_TRUE(empty && empty->object == e && ObjectTemplate_Find("empty") == empty);  // by Name too
    for (int i = 0; i < TEMPLATE_VALUES; ++i)
        EXPECT_EQ(empty->fpVal[i] + (float)empty->u32Val[i] + (float)empty->s32Val[i] + empty->vector3dVal[i].y +
                      (float)empty->stringVal[i][0],
                  0.0f);
    EXPECT_EQ(ObjectTemplate_Load("Objects\\Nothing.cfg", nullptr, pool, 0), nullptr);
    EXPECT_EQ(empty->boolVals + ObjectTemplate_Count(), 2u);
    const std::tuple<const char*, int, int, int, uint32_t> kinds[] = {{"a.lwo", 1, 1, 1, 3},  {"A.LWO", 0, 1, 0, 2},
                                                                      {"a.lws", 1, 1, 1, 11}, {"a.LWS", 0, 0, 1, 1},
                                                                      {"Hero", 1, 1, 1, 0},   {"NOVISUAL", 1, 1, 1, 0}};
    for (const auto& [model, writeable, lit, looping, flags] : kinds)
        EXPECT_EQ(ObjectTemplate_VisualFlags(model, writeable, lit, looping), flags) << model;
}

TEST_F(ObjectWorldTest, LaterLoadsOfAFileInstanceItsTemplateUnlessItsVisualCannotBeShared)
{
    WriteObject("Objects\\Crate.cfg",
                "Name = Crate\n PhysicalModel = SPHERE1\n Mass = 2\n Constructor = Test_Constructor\n FPVal1 = 4");
    Node* given = Node_Create(nullptr);
    Object* first = ObjectTemplate_Load("Objects\\Crate.cfg", nullptr, pool, 0);
    std::filesystem::remove(DataPath(Cfgc_OutputPath("Objects\\Crate.cfg")));  // no file is read again
    Object* second = ObjectTemplate_Load("OBJECTS\\CRATE.CFG", given, pool, 0);
    ASSERT_TRUE(first && second && g_templates.size() == 2);
    EXPECT_TRUE(g_templates[0] == g_templates[1] && g_templates[1]->fpVal[1] == 4.0f && ObjectTemplate_Count() == 1);
    EXPECT_TRUE(second->node == given && Node_GetParent(given) == Node_GetParent(first->node) &&
                second->body != first->body && PhysBody_GetMass(second->body) == 2.0f);
    EXPECT_TRUE(!strcmp(second->name, "Crate") && second->nameHash == 0);
    WriteObject("Objects\\Crate.cfg", "Name = Crate\n PhysicalModel = SPHERE1");
    ObjectPool_Destroy(pool);  // the level ends; the templates stay
    pool = ObjectPool_Create();
    EXPECT_EQ(ObjectTemplate_Find("Objects\\Crate.cfg")->object, nullptr);
    Object* again = ObjectTemplate_Load("Objects\\Crate.cfg", nullptr, pool, 0);
    ASSERT_TRUE(again && again->body && ObjectTemplate_Find("Objects\\Crate.cfg")->object == again);
    const std::pair<const char*, bool> cases[] = {
        {"VisualModel = Objects\\Box.lwo", false}, {"VisualModel = Objects\\Box.lwo\n VisualIsWriteable = yes", true},
        {"VisualModel = Scenes\\Spin.lws", false}, {"VisualModel = Scenes\\Spin.lws\n VisualIsWriteable = yes", true},
        {"VisualModel = Scenes\\Boned.lws", true},  // an instance has no skin bindings of its own
    };
    LwsWriterItem arm = Placed("Arm");
    arm.bones.resize(1), arm.bones[0].name = "Root";
    WriteScene("Scenes\\Boned.lws", SceneOf({arm}));
    int i = 0;
    for (const auto& [keys, afresh] : cases) {
        const std::string name = "Objects\\Fresh" + std::to_string(i++) + ".cfg";
        const std::string text = std::string(keys) + "\n Constructor = Test_Constructor\n FPVal0 = ";
        WriteObject(name, text + "1");
        Object* one = ObjectTemplate_Load(name.c_str(), nullptr, pool, 0);
        ASSERT_TRUE(one && ((one->flags & OBJECT_MADE_WHILE_LOADING) != 0) == afresh) << keys;
        WriteObject(name, text + "2");  // only a fresh read sees the change
        Object* two = ObjectTemplate_Load(name.c_str(), nullptr, pool, 0);
        ASSERT_TRUE(two && g_templates.back()->fpVal[0] == (afresh ? 2.0f : 1.0f)) << keys;
        EXPECT_TRUE(!one->scene || (two->scene->source == nullptr) == afresh) << keys;
    }
    const uint32_t templates = ObjectTemplate_Count();
    const std::pair<const char*, bool> statics[] = {
        {"VisualModel = Objects\\Rock.lwo\n PhysicalModel = NOCOLLISION", false},
        {"VisualModel = NOVISUAL\n PhysicalModel = NOCOLLISION", true},
        {"VisualModel = Objects\\Rock.lwo\n PhysicalModel = nocollision\n Mass = 1", true},
        {"VisualModel = Objects\\Rock.lwo\n PhysicalModel = SPHERE1", true},
    };
    for (const auto& [keys, made] : statics) {
        const std::string name = "Objects\\Static" + std::to_string(i++) + ".cfg";
        WriteObject(name, keys);
        EXPECT_TRUE((ObjectTemplate_Load(name.c_str(), nullptr, pool, 1) != nullptr) == made &&
                    ObjectTemplate_Load(name.c_str(), nullptr, pool, 0))
            << keys;
    }
    EXPECT_EQ(ObjectTemplate_Count(), templates + 4);
    CallbackRegistry_AddFn(
        "Self_Destroy", +[](Object* o, uint32_t, void*) -> uint32_t { return Object_Destroy(o), 0; });
    WriteObject("Objects\\B.cfg", "Name = B\n Constructor = Self_Destroy");
    EXPECT_TRUE(!ObjectTemplate_Load("Objects\\B.cfg", nullptr, pool, 0) && !ObjectTemplate_Find("Objects\\B.cfg") &&
                ObjectTemplate_Count() == templates + 4);
}

TEST(CallbackRegistry, TheEarliestOfEqualNamesWinsWhateverTheCaseAndAnyTypeComesBackCallable)
{
    ASSERT_EQ(CallbackRegistry_Init(), 1);
    void (*first)(void) = [] {}, (*second)(void) = [] {};
    CallbackRegistry_Add("Hinge_Update", first);
    CallbackRegistry_Add("HINGE_UPDATE", second);
    CallbackRegistry_Add("Hinge_Destructor", second);
    CallbackRegistry_Add(nullptr, first);
    CallbackRegistry_Add("Nothing", nullptr);
    EXPECT_TRUE(CallbackRegistry_Count() == 3 && CallbackRegistry_Find("hinge_update") == first &&
                CallbackRegistry_Find("Hinge_Destructor") == second);
    for (const char* unknown : {"Hinge_Updat", "Hinge _Update", "", (const char*)nullptr})
        EXPECT_EQ(CallbackRegistry_Find(unknown), nullptr);
    CallbackRegistry_AddFn(
        "Typed", +[](int x) { return x + 1; });
    EXPECT_EQ(reinterpret_cast<int (*)(int)>(CallbackRegistry_Find("typed"))(41), 42);
    CallbackRegistry_Shutdown();
    CallbackRegistry_Add("Late", first);
    EXPECT_EQ(CallbackRegistry_Find("Late"), first);
    CallbackRegistry_Shutdown();
    EXPECT_EQ(CallbackRegistry_Find("Late"), nullptr);
}

TEST_F(ObjectWorldTest, ContactsReachBothSidesWithOneNormalAndAreNewUntilBothUpdate)
{
    Object* a = Thing("a");
    Object* b = Thing("b");
    const Vec3 va{3, -2, 0}, vb{1, 1, 0};
    PhysBody_SetLinearVelocity(a->body, &va);
    PhysBody_SetLinearVelocity(b->body, &vb);
    PhysPairEvent e = Contact(a->body, b->body);
    for (int i = 0; i < 3; ++i) ObjectCollision_OnContact(&e);
    ASSERT_EQ(g_hits.size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
        const Hit& h = g_hits[i];
        EXPECT_TRUE(h.self == (i % 2 ? b : a) && h.other == (i % 2 ? a : b) && h.side == i % 2) << i;
        EXPECT_EQ(std::vector<uint32_t>({h.touching, h.type, h.inContact}),
                  std::vector<uint32_t>({i >= 2 ? 1u : 0u, OBJECT_EVENT_CONTACT, 1}))
            << i;
        EXPECT_EQ(Str(h.normal) + " " + Str({h.speed, 0, 0}), "0 1 0 3 0 0");
    }
    EXPECT_EQ(a->partnerCount + b->partnerCount, 2u);
    Vec3 p, n;
    ObjectCollision_GetContactPoint(&p);
    ObjectCollision_GetContactNormal(&n);
    EXPECT_EQ(Str(p) + ", " + Str(n), "0 0 0, 0 1 0");
    EXPECT_TRUE(ObjectCollision_InContact() + ObjectCollision_IsTouching() + ObjectCollision_GetImpactSpeed() == 0.0f &&
                ObjectCollision_GetEventType() == OBJECT_EVENT_CONTACT);
    ObjectCollision_ClearEvent();
    EXPECT_EQ(ObjectCollision_GetEventType(), 0u);
    const float dt = 0.01f;
    Object_Update(a, &dt);
    Object_Update(b, &dt);
    ObjectCollision_OnContact(&e);
    EXPECT_EQ(g_hits.back().touching, 0u);

    Object* full = Thing("full");
    full->collision = nullptr;
    std::vector<Object*> partners;
    for (int i = 0; i < 16; ++i) partners.push_back(Thing("p"));
    for (int i = 0; i < 15; ++i) {
        PhysPairEvent pe = Contact(full->body, partners[i]->body);
        ObjectCollision_OnContact(&pe);
    }
    EXPECT_EQ(full->partnerCount, 15u);
    g_hits.clear();
    PhysPairEvent asA = Contact(full->body, partners[15]->body), asB = Contact(a->body, full->body);
    for (PhysPairEvent* pe : {&asA, &asA, &asB, &asB}) ObjectCollision_OnContact(pe);
    ASSERT_EQ(g_hits.size(), 4u);
    EXPECT_EQ(std::vector<uint32_t>({g_hits[0].touching, g_hits[1].touching, g_hits[2].touching, g_hits[3].touching}),
              std::vector<uint32_t>({0, 0, 0, 1}));
    EXPECT_EQ(partners[15]->partnerCount, 2u);
}

TEST_F(ObjectWorldTest, OverlapsOwnerlessBodiesAndCallbacksThatDestroyObjects)
{
    Object* a = Thing("a");
    Object* b = Thing("b");
    for (uint32_t flag : {0u, 1u}) {
        PhysPairEvent e = Contact(a->body, b->body, PHYS_EVENT_PHANTOM);
        e.flag = flag;
        ObjectCollision_OnEvent(&e);
    }
    ASSERT_EQ(g_hits.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(g_hits[i].self, i % 2 ? b : a);
        EXPECT_EQ(std::vector<uint32_t>(
                      {g_hits[i].side, g_hits[i].type, g_hits[i].extra, g_hits[i].inContact, g_hits[i].touching}),
                  std::vector<uint32_t>({0, OBJECT_EVENT_OVERLAP, uint32_t(i / 2), 0, 0}))
            << i;
    }
    EXPECT_EQ(a->partnerCount, 0u);
    g_hits.clear();
    PhysBody* wall = PhysBody_Create(phys, 1.0f, 0.0f);
    PhysPairEvent events[] = {Contact(a->body, wall), Contact(wall, a->body),
                              Contact(wall, b->body, PHYS_EVENT_PHANTOM)};
    ObjectCollision_OnContact(&events[0]);
    ObjectCollision_OnContact(&events[1]);
    ObjectCollision_OnEvent(&events[2]);
    ASSERT_EQ(g_hits.size(), 3u);
    EXPECT_EQ(std::vector<Object*>({g_hits[0].other, g_hits[1].other, g_hits[2].other, g_hits[2].self}),
              std::vector<Object*>({nullptr, nullptr, nullptr, b}));
    EXPECT_TRUE(g_hits[0].side + g_hits[1].side == 1 && a->partnerCount == 0);
    events[0].primitiveB = nullptr;
    ObjectCollision_OnContact(&events[0]);
    ObjectCollision_OnEvent(&events[0]);
    events[1].primitiveA->kind = 0;
    ObjectCollision_OnContact(&events[1]);
    ObjectCollision_OnEvent(&events[1]);
    events[1].primitiveA->kind = Prim(b->body)->kind;
    EXPECT_EQ(g_hits.size(), 3u);
    for (uint32_t kind : {PHYS_EVENT_CONTACT, PHYS_EVENT_PHANTOM}) {
        g_hits.clear();
        Object* c = Thing("c");
        Object* d = Thing("d");
        g_victim = d;
        PhysPairEvent e = Contact(c->body, d->body, kind);
        kind == PHYS_EVENT_CONTACT ? ObjectCollision_OnContact(&e) : ObjectCollision_OnEvent(&e);
        EXPECT_EQ(g_hits.size(), 1u);
        Object* f = Thing("f");
        Object* g = Thing("g");
        g_victim = f;
        e = Contact(f->body, g->body, kind);
        kind == PHYS_EVENT_CONTACT ? ObjectCollision_OnContact(&e) : ObjectCollision_OnEvent(&e);
        ASSERT_EQ(g_hits.size(), 3u);
        EXPECT_TRUE(g_hits[2].self == g && !g_hits[2].other &&
                    g_hits[2].speed == 0.0f);  // read without the destroyed body
    }
}

TEST_F(ObjectWorldTest, ObjectScenesMakeAnObjectPerItemFromTheFileOfItsBaseName)
{
    const std::pair<const char*, const char*> names[] = {{"Crate_01", "Crate"}, {"A_B_01", "A_B"}, {"Crate", "Crate"},
                                                         {"ab", "ab"},          {"_01", "_01"},    {"x_", "x_"},
                                                         {"Lamp_1", "Lamp_1"},  {"", ""}};
    char out[64];
    for (const auto& [name, base] : names) {
        ObjectScene_BaseName(name, out, sizeof out);
        EXPECT_STREQ(out, base) << name;
    }
    ObjectScene_BaseName("Longer_00", out, 4);
    EXPECT_STREQ(out, "Lon");
    static Node* current = nullptr;
    CallbackRegistry_AddFn(
        "Place", +[](Object* o, uint32_t, void*) -> uint32_t {
            current = ObjectScene_GetCurrentItemNode();
            return Object_PlaceAtItemNode(o), 0;
        });
    WriteObject("Level\\Crate.cfg", "Name = Crate\n PhysicalModel = SPHERE0.5\n Mass = 1\n Constructor = Place");
    for (const char* name : {"Level\\Claimed.cfg", "Level\\Skip.cfg", "Level\\Keep.cfg"})
        WriteObject(name, std::string("Name = ") + name);
    WriteScene("Level\\Map.lws", SceneOf({Placed("Crate", {1, 0, 0}), Placed("Crate", {-1, 0, 0}), Placed("Missing"),
                                          Placed("Claimed"), Placed("Skip"), Placed("Keep")}));
    static std::vector<std::string> hooked;
    ObjectScene_SetCreateHook(
        [](Node*, const char* base) { return hooked.push_back(base), (int)(strcmp(base, "Claimed") == 0); });
    ObjectScene_SetAfterLoadHook([](Node* root, void*) {
        Node_FindByName(root, "Skip_00")->flags |= 2u << 24;
        Node_FindByName(root, "Keep_00")->flags |= 1u << 24;
    });
    char folder[] = "Level\\";  // a trailing back-slash: not doubled, not written to
    EXPECT_TRUE(ObjectScene_Load("Level\\Map.lws", folder, pool) == 0 && !strcmp(folder, "Level\\"));
    std::string made;
    for (Object* o : PoolObjects()) made += std::string(o->name) + " ";
    EXPECT_EQ(made, "Level\\Keep.cfg Crate Crate ");  // the walk takes the newest sibling first
    EXPECT_EQ(hooked, (std::vector<std::string>{"Keep", "Claimed", "Missing", "Crate", "Crate"}));
    EXPECT_FALSE(ObjectTemplate_Find("Level\\Claimed.cfg"));
    const std::vector<Object*> crates = {PoolObjects()[1], PoolObjects()[2]};
    EXPECT_NE(crates[0]->nameHash == 0, crates[1]->nameHash == 0);
    for (Object* o : {crates[0], crates[1]})  // synced: the node follows
        EXPECT_TRUE(std::fabs(Position(o->body).x) == 1.0f && o->body->node == o->node &&
                    PhysContacts_Holds(o->body, 0));
    EXPECT_TRUE(current && !ObjectScene_GetCurrentItemNode());  // cleared after the walk
    EXPECT_TRUE(ObjectScene_Load("Level\\Nowhere.lws", "Level", pool) == 0 && List_Count(pool) == 3);
    Object* o = Make(Describe("NOVISUAL", "SPHERE0.5", 1.0f));
    const Vec3 p{4, 5, 6};
    Node_SetPosition(o->node, &p);
    Object_PlaceAtItemNode(o);
    EXPECT_TRUE(Str(Position(o->body)) == "4 5 6" && o->body->node == o->node && PhysContacts_Holds(o->body, 0));
}

}  // namespace
