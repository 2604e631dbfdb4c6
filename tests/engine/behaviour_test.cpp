// The behaviours objects get through their callbacks: hinges and
// point-to-point joints, objects that follow animated routes, and a level
// that puts them together on the real physics engine.
#include <cstring>
#include <map>
#include <tuple>

#include "content_fixture.h"
#include "engine/animpath.h"
#include "engine/joints.h"
#include "engine/physconstraint.h"
#include "physics/dynamics/constraint.h"
#include "physics/dynamics/events.h"

namespace {

constexpr float kPi = 3.14159265f;

uint32_t Place(Object* o, uint32_t, void*) { return Object_PlaceAtItemNode(o), 0; }

class JointTest : public ObjectTest {
protected:
    void SetUp() override
    {
        ObjectTest::SetUp();
        Point2Point_Register();
        Hinge_Register();
        CallbackRegistry_AddFn("Place", Place);
        WriteShapes("Objects\\Door.lwo", {Rbs_Box(1.0f, 0.5f, 1.0f, 0.05f)});
        WriteObject("Level\\Door.cfg",
                    "Name = Door\n PhysicalModel = Objects\\Door.lwo\n Mass = 5\n Active = yes\n"
                    "CollisionGroup = 1\n Constructor = Place");
        WriteObject("Level\\Ghost.cfg", "Name = Ghost\n Constructor = Place");
    }
    // A scene of a held object at y = 2 with a joint item as its child 1
    // above, in a fresh pool (the old one's objects go).
    void Load(const char* held, const std::string& jointKeys)
    {
        ObjectPool_Destroy(pool);
        pool = ObjectPool_Create();
        WriteObject("Level\\Joint.cfg", "Name = Joint\n" + jointKeys);
        // One map per held object: a rewrite in the same clock tick would leave the old scene cache fresh.
        const std::string map = std::string("Level\\Map") + held + ".lws";
        WriteScene(map, SceneOf({Placed(held, {0, 2, 0}), Placed("Joint", {0, 1, 0}, 0)}));
        ObjectScene_Load(map.c_str(), "Level", pool);
        held_ = joint_ = nullptr;
        for (Object* o : PoolObjects()) (strcmp(o->name, "Joint") == 0 ? joint_ : held_) = o;
        ASSERT_TRUE(held_ && joint_);
    }
    Object* held_ = nullptr;
    Object* joint_ = nullptr;
};

const std::string kHinge =
                      "Constructor = Hinge_Constructor\n Update = Hinge_Update\n Destructor = Hinge_Destructor\n"
                      "Collision = Hinge_Collision\n",
                  kRope = "Constructor = Point2Point_Constructor\n Destructor = Point2Point_Destructor\n";

TEST_F(JointTest, HingesTakeTheirLimitsInDegreesAndJointsNeedAHeldBody)
{
    Load("Door", kHinge + "FPVal0 = -45\n FPVal1 = 45\n FPVal3 = 2\n FPVal4 = 0.5\n FPVal5 = 0.25");
    PhysConstraint* c = Joint_GetConstraint(joint_);
    ASSERT_TRUE(c && c->attached == 1);
    const HingeConstraint* h = static_cast<const HingeConstraint*>(c->object);
    EXPECT_EQ(Str({(float)h->limitOn, h->limit[0], h->limit[1]}), "1 -0.7854 0.7854");
    EXPECT_EQ(Str({(float)h->motorOn, h->motor[0], 0}) + ", " + Str({h->damping, h->strength, 0}), "1 2 0, 0.5 0.25 0");
    Load("Door", kHinge);
    h = static_cast<const HingeConstraint*>(Joint_GetConstraint(joint_)->object);
    EXPECT_EQ(Str({(float)h->limitOn, (float)h->motorOn, h->damping}), "0 0 1");
    Load("Ghost", kHinge);
    EXPECT_FALSE(held_->body || Joint_GetConstraint(joint_) || Object_GetUserData(joint_));
    Step(3);
    Object_Destroy(joint_);
    ObjectDescription d = Describe();
    d.constructor = Point2Point_Constructor, d.destructor = Point2Point_Destructor;
    Object* loose = Make(d);
    EXPECT_EQ(Joint_GetConstraint(loose), nullptr);
    Object_Destroy(loose);
}

TEST_F(JointTest, APointToPointFactorOfOneKeepsVelocitiesAndJointsLetGoOfADestroyedObject)
{
    Load("Door", kRope + "FPVal0 = 1\n FPVal2 = 1");
    ASSERT_TRUE(Joint_GetConstraint(joint_) && joint_->update == Point2Point_Update);
    const Vec3 v{0.3f, 0.0f, 0.7f};
    PhysBody_SetActive(held_->body, 0);
    PhysBody_SetLinearVelocity(held_->body, &v);
    const float dt = 0.0f;
    Object_Update(joint_, &dt);
    EXPECT_EQ(Str(Velocity(held_->body)) + (PhysBody_IsActive(held_->body) ? " awake" : ""), Str(v) + " awake");
    for (const std::string& keys : {kHinge, kRope}) {
        Load("Door", keys + "FPVal2 = 1\n");
        ASSERT_NE(Joint_GetConstraint(joint_), nullptr) << keys;
        Object_Destroy(held_);
        Step(2);  // the Update finds the serial gone
        EXPECT_TRUE(!Joint_GetConstraint(joint_) && List_Count(phys->constraintPool) == 0) << keys;
        Make(Describe("NOVISUAL", "SPHERE1"));
        Step(1);
    }
}

int g_nextRoute = 0;

// Followers of a route whose item moves from x = 0 to x = 10 in 5 s and
// back, or stands at x = 500.
class AnimPathTest : public ObjectTest {
protected:
    void SetUp() override
    {
        ObjectTest::SetUp();
        AnimPath_Register();
        ObjectCollision_Init();
        g_nextRoute = 0;
        LwsWriterItem route = Placed("Route");
        route.keys = {Key(0, 0), Key(5, 10), Key(10, 0)};
        WriteScene("Routes\\Line.lws", SceneOf({route}, 300));
        WriteScene("Routes\\Far.lws", SceneOf({Placed("Route", {500, 0, 0})}));
    }
    void TearDown() override
    {
        ObjectWorld_DestroyAllPools();
        AnimPath_Shutdown();
        ObjectTest::TearDown();
    }
    void Start()
    {
        ASSERT_EQ(AnimPath_Init(), 1);
        AnimPath_SetRandom([] { return g_nextRoute++; });
    }
    // A follower from a configuration file with extra keys.
    Object* Follower(const std::string& extra, const std::string& name = "Runner")
    {
        const std::string file = "Level\\" + name + ".cfg";
        WriteObject(file, "Name = " + name +
                              "\n PhysicalModel = SPHERE0.5\n Mass = 1\n Active = yes\n CollisionGroup = 1\n"
                              "Constructor = AnimPath_Constructor\n Update = AnimPath_Update\n"
                              "Destructor = AnimPath_Destructor\n Collision = AnimPath_Collision\n" +
                              extra);
        return ObjectTemplate_Load(file.c_str(), nullptr, pool, 0);
    }
    Object* Target(Vec3 p, bool phantom = false, float mass = 1.0f)
    {
        ObjectDescription d = Describe("NOVISUAL", "SPHERE0.5", mass);
        d.active = 1, d.collisionGroup = 1, d.phantom = phantom;
        Object* o = Make(d);
        Node_SetPosition(o->node, &p);
        Object_Sync(o, OBJECT_SYNC_ALL);
        return o;
    }
    Vec3 RoutePoint(Object* o)
    {
        Vec3 p;
        Node_GetWorldPosition(AnimPath_GetRouteItem(o), &p);
        return p;
    }
    static Vec3 At(Object* o) { return Position(o->body); }
    static bool Has(Object* o, uint32_t flag) { return (AnimPath_GetFlags(o) & flag) != 0; }
    void Update(Object* o)
    {
        const float dt = 1.0f / 60.0f;
        Object_Update(o, &dt);
    }
};

TEST_F(AnimPathTest, TuningComesFromItsFileOnceAndTheFollowVelocityIsTheDistanceTimesTheGainClamped)
{
    Start();
    const AnimPathTuning* t = AnimPath_GetTuning();
    EXPECT_EQ(Str({t->physicalClipSq, t->followGain, t->visionLength}), "1e+06 7 25");
    AnimPath_Shutdown();
    WriteConfig("Configs\\AnimPath.cfg",
                "AnimPath {\n physicalClipDist = 30\n notShownClipDist = 50\n"
                "visionPicksPerUpdate = 2\n followAnimsStoppedToStopAll = 3\n"
                "defaultVisionStartAreaUpper = 1,2,3\n distRelFollowVelocity = 4\n"
                "VisionPickLine = yes\n}\n");
    Start();
    t = AnimPath_GetTuning();
    EXPECT_EQ(Str({t->physicalClipSq, t->notShownClipSq, t->animUpdateClipSq}), "900 2500 1e+06");
    EXPECT_EQ(Str({(float)t->picksPerRound, (float)t->stopAllThreshold, t->visionUpper.z}) + " " +
                  Str({t->followGain, (float)t->debugFlags, 0}),
              "2 3 3 4 2 0");
    EXPECT_EQ(AnimPath_SetTarget(8, nullptr) * 2 + AnimPath_SetTarget(7, nullptr), 1);
    AnimPath_Shutdown();
    EXPECT_EQ(AnimPath_SetTarget(0, nullptr), 0);
    Start();
    const std::pair<const char*, float> cases[] = {{"Routes\\Far.lws\n", 1000.0f},
                                                   {"Routes\\Far.lws\n FPVal5 = -3\n", 3.0f},
                                                   {"Routes\\Line.lws\n FPVal5 = 100\n", 4.0f}};
    int i = 0;
    for (const auto& [keys, speed] : cases) {
        Object* o = Follower(std::string("StringVal0 = ") + keys + "BoolVal11 = yes\n", "F" + std::to_string(i++));
        ASSERT_NE(AnimPath_GetRouteItem(o), nullptr);
        AnimPath_SetTarget(0, o);  // near itself: physical
        Vec3 p = RoutePoint(o);
        p.x -= p.x > 100.0f ? p.x : 1.0f;  // at the origin, or 1 short of the route point
        PhysBody_SetPosition(o->body, &p);
        Update(o);  // towards the route point
        EXPECT_TRUE(std::fabs(PhysBody_GetSpeed(o->body) - speed) < 1e-3f && Velocity(o->body).x > 0.0f) << keys;
        Object_Destroy(o);
    }
    Object* o = Follower("StringVal0 = Routes\\Missing.lws\n BoolVal11 = yes\n");
    EXPECT_EQ(AnimPath_GetRouteItem(o), nullptr);
    AnimPath_SetTarget(0, o);
    const Vec3 v{1, 2, 3};
    PhysBody_SetLinearVelocity(o->body, &v);
    Update(o);
    EXPECT_EQ(Str(Velocity(o->body)), "1 2 3");
}

TEST_F(AnimPathTest, AFollowerKeepsToItsRouteNearATargetAndIsParkedOnItFarFromAll)
{
    WriteConfig("Configs\\AnimPath.cfg", "AnimPath {\n physicalClipDist = 20\n}\n");
    Start();
    Object* o = Follower("StringVal0 = Routes\\Line.lws\n FPVal0 = 1.5\n BoolVal11 = yes\n");
    for (int i = 0; i < 120; ++i) {
        Step();
        ASSERT_TRUE(Dist(At(o), RoutePoint(o)) == 0.0f && !PhysBody_IsActive(o->body)) << i;
    }
    EXPECT_TRUE(Has(o, ANIMPATH_PARKED) && PhysBody_GetCollisionGroup(o->body) == ANIMPATH_PARKED_GROUP &&
                PhysBody_GetSpeed(o->body) == 0.0f);
    Object* player = Target(RoutePoint(o), true, 0.0f);
    AnimPath_SetTarget(3, player);
    Step();
    EXPECT_TRUE(!Has(o, ANIMPATH_PARKED) && PhysBody_GetCollisionGroup(o->body) == 1 && PhysBody_IsActive(o->body));
    for (int i = 0; i < 60; ++i) Step();
    // Three seconds along the line.
    EXPECT_TRUE(RoutePoint(o).x > 3.0f && std::fabs(At(o).x - RoutePoint(o).x) < 1.5f && Has(o, ANIMPATH_FOLLOWING));
    const Vec3 back{-20, 0, 0};
    PhysBody_SetPosition(player->body, &back);
    PhysBody_SetPosition(o->body, &back);
    PhysBody_SetMass(o->body, 0.0f);  // cannot move
    const float before = RoutePoint(o).x;
    for (int i = 0; i < 30; ++i) Step();
    EXPECT_EQ(RoutePoint(o).x, before);
    PhysBody_SetMass(o->body, 1.0f);
    Object_Destroy(player);
    Step();
    EXPECT_TRUE(Has(o, ANIMPATH_PARKED));
    Object* rider = Follower("StringVal0 = Routes\\Line.lws\n FPVal0 = 1\n", "Rider");
    EXPECT_TRUE(Has(rider, ANIMPATH_PARKED) && List_Count(AnimPath_GetLinkPool()) == 1);
    for (int i = 0; i < 60; ++i) Step();
    EXPECT_TRUE(Dist(At(rider), RoutePoint(rider)) == 0.0f && At(rider).x > 0.5f);
}

TEST_F(AnimPathTest, ARouteSetPlaysItsNextAnimationAtTheEndAndTheRouteItemIsFoundAgain)
{
    Start();
    for (int a = 0; a < 2; ++a) {
        LwsWriterItem item = Placed("Route");
        item.keys.push_back(Key(1, a == 0 ? 5.0f : 0.0f));
        item.keys[1].position[2] = a == 0 ? 0.0f : 5.0f;
        WriteScene(a == 0 ? "Routes\\AlongX.lws" : "Routes\\AlongZ.lws", SceneOf({item}, 30));
    }
    WriteAnimSet("Runner", {{"X", "Routes\\AlongX.lws"}, {"Z", "Routes\\AlongZ.lws"}});
    Object* o = Follower("StringVal0 = Runner\n FPVal0 = 100\n BoolVal1 = yes\n");
    Node* first = AnimPath_GetRouteItem(o);
    ASSERT_NE(first, nullptr);
    Step(50);
    EXPECT_TRUE(At(o).x > 3.0f && At(o).z == 0.0f);
    Step(40);
    EXPECT_TRUE(AnimPath_GetRouteItem(o) != first && At(o).z > 1.0f);  // the next animation's item
}

TEST_F(AnimPathTest, OnlyHitsAboveTwoFromTheRightObjectsKnockAFollower)
{
    Start();
    // The follower's switches, hit by its target, at a speed; knocked.
    const std::tuple<const char*, bool, float, bool> cases[] = {
        {"BoolVal12 = yes\n", true, 2.0f, false}, {"BoolVal12 = yes\n", true, 2.1f, true},   {"", true, 2.1f, false},
        {"BoolVal13 = yes\n", false, 2.1f, true}, {"BoolVal12 = yes\n", false, 2.1f, false},
    };
    int i = 0;
    for (const auto& [bools, fromTarget, speed, knocked] : cases) {
        SCOPED_TRACE(std::string(bools) + std::to_string(speed));
        Object* o = Follower(std::string("StringVal0 = Routes\\Line.lws\n BoolVal11 = yes\n") + bools,
                             "K" + std::to_string(i++));
        Object* other = fromTarget ? Target(Vec3{0, 5, 0}) : Follower("StringVal0 = Routes\\Line.lws\n", "Other");
        AnimPath_SetTarget(0, fromTarget ? other : nullptr);
        const Vec3 down{0, -speed, 0};
        PhysBody_SetLinearVelocity(o->body, &down);
        PhysBody_ZeroVelocities(other->body);
        PhysPairEvent e{};
        e.kind = PHYS_EVENT_CONTACT;
        e.primitiveA = PhysBody_Unwrap(o->body)->primitives[0],
        e.primitiveB = PhysBody_Unwrap(other->body)->primitives[0], e.normal = Vec3{0, 1, 0};
        ObjectCollision_OnContact(&e);
        EXPECT_TRUE(Has(o, ANIMPATH_KNOCKED) == knocked && !Has(o, ANIMPATH_FOLLOWING) == knocked);
        Object_Destroy(o);
        Object_Destroy(other);
    }
}

TEST_F(AnimPathTest, VisionRaysHaveABudgetPerRoundAndOneThatSeesSomethingKnocksTheFollower)
{
    Start();
    PhysRay_SetCastFunction(ScriptedRay);
    std::vector<Object*> followers;
    for (int i = 0; i < 3; ++i)
        followers.push_back(Follower("StringVal0 = Routes\\Line.lws\n BoolVal14 = yes\n Vector3dVal3 = 1,1,1\n",
                                     "V" + std::to_string(i)));
    for (int round = 1; round <= 6; ++round) {
        for (Object* o : followers) Update(o);
        EXPECT_EQ(g_rays.size(), size_t(round)) << round;
    }
    for (const RayCall& r : g_rays) EXPECT_NEAR(Dist(r.from, r.to), 25.0f, 1e-3);
    ObjectWorld_DestroyAllPools();
    pool = ObjectPool_Create();
    g_rays.clear();
    Object* o = Follower("StringVal0 = Routes\\Line.lws\n BoolVal14 = yes\n");
    PhysRayResult hit{};
    hit.hit = 1, hit.object = Target(Vec3{0, 0, -30});
    g_rayScript = {hit};
    Update(o);
    ASSERT_EQ(g_rays.size(), 1u);
    EXPECT_TRUE(Has(o, ANIMPATH_SAW_SOMETHING) && Has(o, ANIMPATH_KNOCKED) && !Has(o, ANIMPATH_FOLLOWING));
    for (int i = 0; i < 2; ++i) {
        const Vec3 before = RoutePoint(o);
        Update(o);
        EXPECT_NE(RoutePoint(o).x, before.x) << i;
    }
}

TEST_F(AnimPathTest, SteeringTurnsABodyTowardsItsTargetFromEitherSide)
{
    Start();
    const Vec3 zero{0, 0, 0};
    PhysWorld_SetGravity(phys, &zero);
    auto headingError = [](Object* o) {
        Vec3 at, up;
        PhysBody_GetAxes(o->body, &at, &up);
        return std::fabs(Angle_Diff(Vec3_Heading(&at), 0.0f, 1, 1)) + std::fabs(Vec3_Pitch(&at) - kPi / 2);
    };
    const float cases[][2] = {{kPi / 6, 0}, {-kPi / 6, 0}, {0, 0.4f}, {0, -0.4f}, {0.3f, 0.3f}};
    int i = 0;
    for (const auto& [heading, pitch] : cases) {
        Object* o = Follower(
            "StringVal0 = Routes\\Far.lws\n BoolVal4 = yes\n BoolVal11 = yes\n FPVal5 = 0.001\n"
            "Vector3dVal1 = 5,5,5\n",
            "S" + std::to_string(i++));
        AnimPath_SetTarget(0, o);
        const Vec3 at{std::sin(heading) * std::cos(pitch), -std::sin(pitch), std::cos(heading) * std::cos(pitch)};
        Vec3 side{at.z, 0, -at.x}, up;
        Vec3_Normalise(&side);
        Vec3_Cross(&up, &at, &side);
        PhysBody_SetOrientation(o->body, &up, &at);
        const float first = headingError(o);
        Step(40);
        EXPECT_TRUE(first > 0.3f && headingError(o) < first * 0.2f) << heading << " " << pitch;
        Object_Destroy(o);
    }
    const Vec3 z{0, 0, 1}, y{0, 1, 0}, x{1, 0, 0}, down{0, -0.6f, 0.8f}, pole{0.05f, -0.998f, 0.0f};
    EXPECT_EQ(Str(AnimPath_OrientationError(&z, &y, &z, &y)), "0 0 0");
    EXPECT_EQ(Str(AnimPath_OrientationError(&z, &y, &x, &y)), "0 1.5708 0");
    EXPECT_TRUE(AnimPath_OrientationError(&z, &y, &down, &y).x > 0.0f &&
                AnimPath_OrientationError(&pole, &z, &x, &y).y == 0.0f);
}

}  // namespace
