#include "engine/animpath.h"

#include <cmath>

#include "engine/node.h"
#include "engine/scene.h"
#include "objects_fixture.h"
#include "physics/dynamics/events.h"
#include "physics/dynamics/rigid_body.h"

using namespace phys_test;

namespace {

constexpr float kPi = 3.14159265f;

int g_nextRandom = 0;
int CountingRandom() { return g_nextRandom++; }

class AnimPathTest : public ObjectTest {
protected:
    void SetUp() override
    {
        ObjectTest::SetUp();
        AnimPath_Register();
        ObjectCollision_Init();
        g_nextRandom = 0;
        // A route whose item moves from x = 0 to x = 10 in 5 s and back.
        LwsWriterScene route;
        route.lastFrame = 300;
        LwsWriterItem item;
        item.name = "Route";
        LwsWriterKey k0, k1, k2;
        k1.time = 5.0f;
        k1.position[0] = 10.0f;
        k2.time = 10.0f;
        item.keys = {k0, k1, k2};
        route.items.push_back(item);
        InstallScene("Routes\\Line.lws", route);
        LwsWriterScene still;
        LwsWriterItem far;
        far.name = "Route";
        LwsWriterKey f;
        f.position[0] = 500.0f;
        far.keys.push_back(f);
        still.items.push_back(far);
        InstallScene("Routes\\Far.lws", still);
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
        AnimPath_SetRandom(CountingRandom);
    }
    // A follower from a configuration file with extra keys.
    Object* Follower(const std::string& extra, const char* name = "Runner")
    {
        std::string file = std::string("Level\\") + name + ".cfg";
        InstallObject(file, std::string("Name = ") + name +
                                "\n PhysicalModel = SPHERE0.5\n Mass = 1\n Active = yes\n CollisionGroup = 1\n"
                                "Constructor = AnimPath_Constructor\n Update = AnimPath_Update\n"
                                "Destructor = AnimPath_Destructor\n Collision = AnimPath_Collision\n" +
                                extra);
        return ObjectTemplate_Load(file.c_str(), nullptr, pool, 0);
    }
    Object* Target(Vec3 p)
    {
        ObjectDescription d = Describe("NOVISUAL", "SPHERE0.5");
        d.mass = 1.0f;
        d.active = 1;
        d.collisionGroup = 1;
        return PlaceObject(d, p, OBJECT_SYNC_ALL);
    }
    Vec3 RoutePoint(Object* o)
    {
        Vec3 p;
        Node_GetWorldPosition(AnimPath_GetRouteItem(o), &p);
        return p;
    }
    void Update(Object* o, float dt = 1.0f / 60.0f) { Object_Update(o, &dt); }
};

TEST_F(AnimPathTest, TuningDefaultsAndTheFileAreReadOnceAndDistancesSquared)
{
    Start();
    const AnimPathTuning* t = AnimPath_GetTuning();
    EXPECT_EQ(t->physicalClipSq, 1.0e6f);
    EXPECT_EQ(t->notShownClipSq, 1.0e6f);
    EXPECT_EQ(t->picksPerRound, 1);
    EXPECT_EQ(t->stopAllThreshold, 0);
    EXPECT_EQ(t->followGain, 7.0f);
    EXPECT_EQ(t->visionLength, 25.0f);
    AnimPath_Shutdown();
    InstallConfig("Configs\\AnimPath.cfg", "AnimPath {\n physicalClipDist = 30\n notShownClipDist = 50\n"
                                           "visionPicksPerUpdate = 2\n followAnimsStoppedToStopAll = 3\n"
                                           "defaultVisionStartAreaUpper = 1,2,3\n distRelFollowVelocity = 4\n"
                                           "VisionPickLine = yes\n}\n");
    Start();
    t = AnimPath_GetTuning();
    EXPECT_EQ(t->physicalClipSq, 900.0f);
    EXPECT_EQ(t->notShownClipSq, 2500.0f);
    EXPECT_EQ(t->animUpdateClipSq, 1.0e6f);
    EXPECT_EQ(t->picksPerRound, 2);
    EXPECT_EQ(t->stopAllThreshold, 3);
    EXPECT_EQ(t->visionUpper.z, 3.0f);
    EXPECT_EQ(t->followGain, 4.0f);
    EXPECT_EQ(t->debugFlags, 2u);
    EXPECT_EQ(AnimPath_SetTarget(8, nullptr), 0);
    EXPECT_EQ(AnimPath_SetTarget(7, nullptr), 1);
    AnimPath_Shutdown();
    EXPECT_EQ(AnimPath_SetTarget(0, nullptr), 0);
}

TEST_F(AnimPathTest, TheFollowVelocityIsTheDistanceTimesTheGainClampedByTheMaximumSpeed)
{
    Start();
    struct Case {
        const char* keys;
        float speed;
    } cases[] = {
        {"StringVal0 = Routes\\Far.lws\n", 1000.0f},              // FPVal5 = 0: at most 1000
        {"StringVal0 = Routes\\Far.lws\n FPVal5 = -3\n", 3.0f},   // absolute value
        {"StringVal0 = Routes\\Line.lws\n FPVal5 = 100\n", 7.0f}, // 1 from the route point: 1 x 7
    };
    int i = 0;
    for (const Case& c : cases) {
        Object* o = Follower(std::string(c.keys) + "BoolVal11 = yes\n", ("F" + std::to_string(i++)).c_str());
        ASSERT_NE(o, nullptr);
        ASSERT_NE(AnimPath_GetRouteItem(o), nullptr);
        AnimPath_SetTarget(0, o);  // near itself: physical
        Vec3 p = RoutePoint(o);
        p.x -= p.x > 100.0f ? p.x : 1.0f;  // at the origin, or 1 short of the route point
        PhysBody_SetPosition(o->body, &p);
        Update(o);
        Vec3 v;
        PhysBody_GetLinearVelocity(o->body, &v);
        EXPECT_NEAR(PhysBody_GetSpeed(o->body), c.speed, 1e-3) << c.keys;
        EXPECT_GT(v.x, 0.0f) << c.keys;  // towards the route point
        Object_Destroy(o);
    }
}

TEST_F(AnimPathTest, AFollowerKeepsToAnAnimatedRouteAndTheRouteWaitsForIt)
{
    Start();
    Object* o = Follower("StringVal0 = Routes\\Line.lws\n FPVal0 = 1.5\n BoolVal11 = yes\n");
    ASSERT_NE(o, nullptr);
    Object* player = Target(Vec3{5, 10, 0});
    AnimPath_SetTarget(0, player);
    PhysBody_SetPhantom(player->body, 1);
    for (int i = 0; i < 180; ++i) Step();
    Vec3 p, r = RoutePoint(o);
    PhysBody_GetPosition(o->body, &p);
    EXPECT_GT(r.x, 4.0f);                           // three seconds along the line
    EXPECT_LT(std::fabs(p.x - r.x), 1.5f);           // within the follow radius
    EXPECT_TRUE(AnimPath_GetFlags(o) & ANIMPATH_FOLLOWING);
    EXPECT_FALSE(AnimPath_GetFlags(o) & ANIMPATH_PARKED);
    // Held back, the route does not go on without it.
    const Vec3 back{-20, 0, 0};
    PhysBody_SetPosition(o->body, &back);
    PhysBody_SetMass(o->body, 0.0f);  // cannot move
    float before = RoutePoint(o).x;
    for (int i = 0; i < 30; ++i) Step();
    EXPECT_EQ(RoutePoint(o).x, before);
}

TEST_F(AnimPathTest, AFollowerFarFromEveryTargetIsParkedAtItsRoutePointAndWakesWhenOneComesNear)
{
    InstallConfig("Configs\\AnimPath.cfg", "AnimPath {\n physicalClipDist = 20\n}\n");
    Start();
    Object* o = Follower("StringVal0 = Routes\\Line.lws\n FPVal0 = 1\n BoolVal11 = yes\n");
    ASSERT_NE(o, nullptr);
    for (int i = 0; i < 600; ++i) {
        Step();
        Vec3 p;
        PhysBody_GetPosition(o->body, &p);
        ASSERT_EQ(Dist(p, RoutePoint(o)), 0.0f) << i;  // exactly there: it neither falls nor lags
        ASSERT_EQ(PhysBody_IsActive(o->body), 0) << i;
    }
    EXPECT_TRUE(AnimPath_GetFlags(o) & ANIMPATH_PARKED);
    EXPECT_EQ(PhysBody_GetCollisionGroup(o->body), ANIMPATH_PARKED_GROUP);
    EXPECT_EQ(PhysBody_GetSpeed(o->body), 0.0f);
    Object* player = Target(RoutePoint(o));
    PhysBody_SetPhantom(player->body, 1);
    AnimPath_SetTarget(3, player);
    Step();
    EXPECT_FALSE(AnimPath_GetFlags(o) & ANIMPATH_PARKED);
    EXPECT_EQ(PhysBody_GetCollisionGroup(o->body), 1u);
    EXPECT_EQ(PhysBody_IsActive(o->body), 1);
    // A destroyed target counts as no target: parked again.
    Object_Destroy(player);
    Step();
    EXPECT_TRUE(AnimPath_GetFlags(o) & ANIMPATH_PARKED);
}

TEST_F(AnimPathTest, WithoutDistanceClippingAFollowerRidesItsRouteParked)
{
    Start();
    Object* o = Follower("StringVal0 = Routes\\Line.lws\n FPVal0 = 1\n");
    EXPECT_TRUE(AnimPath_GetFlags(o) & ANIMPATH_PARKED);
    EXPECT_EQ(List_Count(AnimPath_GetLinkPool()), 1u);  // seen by vision rays all the same
    for (int i = 0; i < 60; ++i) Step();
    Vec3 p;
    PhysBody_GetPosition(o->body, &p);
    EXPECT_EQ(Dist(p, RoutePoint(o)), 0.0f);
    EXPECT_GT(p.x, 0.5f);
}

TEST_F(AnimPathTest, ARouteSetPlaysItsNextAnimationAtTheEndAndTheRouteItemIsFoundAgain)
{
    Start();
    // Animation 0 runs the Route item along x for one second, animation 1
    // along z; neither scene loops.
    const char* axes[2] = {"Routes\\AlongX.lws", "Routes\\AlongZ.lws"};
    for (int a = 0; a < 2; ++a) {
        LwsWriterScene scene;
        scene.lastFrame = 30;
        LwsWriterItem item;
        item.name = "Route";
        LwsWriterKey k0, k1;
        k1.time = 1.0f;
        k1.position[a == 0 ? 0 : 2] = 5.0f;
        item.keys = {k0, k1};
        scene.items.push_back(item);
        InstallScene(axes[a], scene);
    }
    InstallAnimSet("Runner", {{"X", axes[0]}, {"Z", axes[1]}});
    Object* o = Follower("StringVal0 = Runner\n FPVal0 = 100\n BoolVal1 = yes\n");
    ASSERT_NE(AnimPath_GetRouteItem(o), nullptr);
    Node* first = AnimPath_GetRouteItem(o);
    for (int i = 0; i < 50; ++i) Step();
    Vec3 p;
    PhysBody_GetPosition(o->body, &p);
    EXPECT_GT(p.x, 3.0f);
    EXPECT_EQ(p.z, 0.0f);
    for (int i = 0; i < 40; ++i) Step();
    EXPECT_NE(AnimPath_GetRouteItem(o), first);  // the next animation's item
    PhysBody_GetPosition(o->body, &p);
    EXPECT_GT(p.z, 1.0f);
}

TEST_F(AnimPathTest, AFollowerWithoutARouteIsLeftAlone)
{
    Start();
    Object* o = Follower("StringVal0 = Routes\\Missing.lws\n BoolVal11 = yes\n");
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(AnimPath_GetRouteItem(o), nullptr);
    AnimPath_SetTarget(0, o);
    const Vec3 v{1, 2, 3};
    PhysBody_SetLinearVelocity(o->body, &v);
    Update(o);
    Vec3 got;
    PhysBody_GetLinearVelocity(o->body, &got);
    EXPECT_EQ(Dist(got, v), 0.0f);
}

TEST_F(AnimPathTest, OnlyHitsAboveTwoFromTheRightObjectsKnockAFollower)
{
    Start();
    struct Case {
        const char* bools;
        bool fromTarget;
        float speed;
        bool knocked;
    } cases[] = {
        {"BoolVal12 = yes\n", true, 2.0f, false}, {"BoolVal12 = yes\n", true, 2.1f, true},
        {"", true, 2.1f, false},                  {"BoolVal13 = yes\n", false, 2.1f, true},
        {"BoolVal12 = yes\n", false, 2.1f, false},
    };
    int i = 0;
    for (const Case& c : cases) {
        std::string name = "K" + std::to_string(i++);
        Object* o = Follower(std::string("StringVal0 = Routes\\Line.lws\n BoolVal11 = yes\n") + c.bools, name.c_str());
        Object* other = c.fromTarget ? Target(Vec3{0, 5, 0}) : Follower("StringVal0 = Routes\\Line.lws\n", "Other");
        AnimPath_SetTarget(0, c.fromTarget ? other : nullptr);
        const Vec3 down{0, -c.speed, 0};
        PhysBody_SetLinearVelocity(o->body, &down);
        PhysBody_ZeroVelocities(other->body);
        PhysPairEvent e{};
        e.kind = PHYS_EVENT_CONTACT;
        e.primitiveA = PhysBody_Unwrap(o->body)->primitives[0];
        e.primitiveB = PhysBody_Unwrap(other->body)->primitives[0];
        e.normal = Vec3{0, 1, 0};
        ObjectCollision_OnContact(&e);
        EXPECT_EQ((AnimPath_GetFlags(o) & ANIMPATH_KNOCKED) != 0, c.knocked) << c.bools << c.speed;
        EXPECT_EQ((AnimPath_GetFlags(o) & ANIMPATH_FOLLOWING) == 0, c.knocked) << c.bools << c.speed;
        Object_Destroy(o);
        Object_Destroy(other);
    }
}

TEST_F(AnimPathTest, ATargetThrownAtAFollowerKnocksItOffItsRoute)
{
    Start();
    const Vec3 zero{0, 0, 0};
    PhysWorld_SetGravity(phys, &zero);
    Object* o = Follower("StringVal0 = Routes\\Line.lws\n FPVal0 = 2\n BoolVal11 = yes\n BoolVal12 = yes\n");
    Object* player = Target(Vec3{0, 0, -4});
    AnimPath_SetTarget(0, player);
    for (int i = 0; i < 5; ++i) Step();
    EXPECT_FALSE(AnimPath_GetFlags(o) & ANIMPATH_KNOCKED);
    Vec3 at;
    PhysBody_GetPosition(o->body, &at);
    Vec3 p;
    PhysBody_GetPosition(player->body, &p);
    Vec3 throwAt{(at.x - p.x) * 3.0f, (at.y - p.y) * 3.0f, (at.z - p.z) * 3.0f};  // about 12 m/s
    PhysBody_SetLinearVelocity(player->body, &throwAt);
    for (int i = 0; i < 40 && !(AnimPath_GetFlags(o) & ANIMPATH_KNOCKED); ++i) Step();
    EXPECT_TRUE(AnimPath_GetFlags(o) & ANIMPATH_KNOCKED);
    EXPECT_FALSE(AnimPath_GetFlags(o) & ANIMPATH_FOLLOWING);
}

TEST_F(AnimPathTest, OneVisionRayPerRoundWithABudgetOfOne)
{
    Start();
    PhysRay_SetCastFunction(ScriptedRay);
    std::vector<Object*> followers;
    for (int i = 0; i < 3; ++i)
        followers.push_back(Follower("StringVal0 = Routes\\Line.lws\n BoolVal14 = yes\n Vector3dVal3 = 1,1,1\n",
                                     ("V" + std::to_string(i)).c_str()));
    for (int round = 1; round <= 6; ++round) {
        for (Object* o : followers) Update(o);
        EXPECT_EQ(g_rays.size(), size_t(round)) << round;
    }
    // Each follower had its turns.
    for (const RayCall& r : g_rays) EXPECT_NEAR(Dist(r.from, r.to), 25.0f, 1e-3);
}

TEST_F(AnimPathTest, ARayThatSeesSomethingBehindKnocksTheFollower)
{
    Start();
    PhysRay_SetCastFunction(ScriptedRay);
    Object* o = Follower("StringVal0 = Routes\\Line.lws\n BoolVal14 = yes\n");
    Object* behind = Target(Vec3{0, 0, -30});
    PhysRayResult hit{};
    hit.hit = 1;
    hit.object = behind;
    g_rayScript = {hit};
    Update(o);
    ASSERT_EQ(g_rays.size(), 1u);
    EXPECT_TRUE(AnimPath_GetFlags(o) & ANIMPATH_SAW_SOMETHING);
    EXPECT_TRUE(AnimPath_GetFlags(o) & ANIMPATH_KNOCKED);
    EXPECT_FALSE(AnimPath_GetFlags(o) & ANIMPATH_FOLLOWING);
    // While knocked, every update moves the route to another random time.
    Vec3 before = RoutePoint(o);
    for (int i = 0; i < 2; ++i) {
        Update(o);
        const Vec3 now = RoutePoint(o);
        EXPECT_NE(now.x, before.x) << i;
        before = now;
    }
}

// The yaw and pitch terms turn a steered body towards the route item's
// orientation on the real engine.
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
    struct Case {
        float heading, pitch;
    } cases[] = {{kPi / 6, 0}, {-kPi / 6, 0}, {0, 0.4f}, {0, -0.4f}, {0.3f, 0.3f}};
    int i = 0;
    for (const Case& c : cases) {
        Object* o = Follower("StringVal0 = Routes\\Far.lws\n BoolVal4 = yes\n BoolVal11 = yes\n FPVal5 = 0.001\n"
                             "Vector3dVal1 = 5,5,5\n",
                             ("S" + std::to_string(i++)).c_str());
        AnimPath_SetTarget(0, o);
        // at along (sin h cos p, -sin p, cos h cos p): heading h, pitched by p.
        Vec3 at{std::sin(c.heading) * std::cos(c.pitch), -std::sin(c.pitch), std::cos(c.heading) * std::cos(c.pitch)};
        Vec3 side = Vec3{at.z, 0, -at.x};
        Vec3_Normalise(&side);
        Vec3 up;
        Vec3_Cross(&up, &at, &side);
        PhysBody_SetOrientation(o->body, &up, &at);
        float first = headingError(o);
        EXPECT_GT(first, 0.3f);
        for (int f = 0; f < 40; ++f) Step();
        EXPECT_LT(headingError(o), first * 0.2f) << c.heading << " " << c.pitch;
        Object_Destroy(o);
    }
}

TEST(AnimPathOrientation, TheErrorVanishesAtTheTargetAndPointsTowardsIt)
{
    const Vec3 z{0, 0, 1}, y{0, 1, 0};
    Vec3 w = AnimPath_OrientationError(&z, &y, &z, &y);
    EXPECT_NEAR(w.x, 0.0f, 1e-6);
    EXPECT_NEAR(w.y, 0.0f, 1e-6);
    EXPECT_NEAR(w.z, 0.0f, 1e-6);
    const Vec3 x{1, 0, 0};
    w = AnimPath_OrientationError(&z, &y, &x, &y);  // the target lies a quarter turn to +x
    EXPECT_NEAR(w.y, kPi / 2, 1e-5);                 // +y turns +z towards +x
    const Vec3 down{0, -0.6f, 0.8f};
    w = AnimPath_OrientationError(&z, &y, &down, &y);
    EXPECT_GT(w.x, 0.0f);  // +x turns +z down
    // Pointing almost straight down, no yaw term.
    const Vec3 pole{0.05f, -0.998f, 0.0f};
    w = AnimPath_OrientationError(&pole, &z, &x, &y);
    EXPECT_EQ(w.y, 0.0f);
}

}  // namespace
