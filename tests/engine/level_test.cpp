// A level-like scene built from configuration files and a placement map,
// stepped for ten seconds with the real physics engine: a static mesh
// ground, crates with hull bodies and a ball dropped on it, a door on a
// motored hinge, a point-to-point pendulum and a phantom zone the ball
// falls through.
#include <cmath>
#include <cstring>
#include <map>

#include "engine/joints.h"
#include "engine/node.h"
#include "engine/physconstraint.h"
#include "objects_fixture.h"
#include "physics/dynamics/constraint.h"
#include "physics/dynamics/rigid_body.h"

using namespace phys_test;

namespace {

constexpr float kPi = 3.14159265f;

struct Hit {
    std::string self, other;
    uint32_t type, extra;
    float speed;
};
std::vector<Hit> g_hits;
PhysWorld* g_phys = nullptr;

// The level's placing Constructor: nothing else places an object.
uint32_t Place(Object* o, uint32_t, void*)
{
    Object_PlaceAtItemNode(o);
    if (o->body) PhysWorld_RegisterBodyEvents(g_phys, o->body);
    return 0;
}

uint32_t Collide(Object* self, Object* other, uint32_t)
{
    g_hits.push_back({self->name, other ? other->name : "", ObjectCollision_GetEventType(),
                      ObjectCollision_GetEventExtra(), ObjectCollision_GetImpactSpeed()});
    return 0;
}


class LevelTest : public ObjectTest {
protected:
    void SetUp() override
    {
        ObjectTest::SetUp();
        g_hits.clear();
        g_phys = phys;
        Point2Point_Register();
        Hinge_Register();
        CallbackRegistry_AddFn("Level_Place", Place);
        CallbackRegistry_AddFn("Level_Collide", Collide);
        ObjectCollision_Init();
        PhysWorld_PairCollisionGroups(phys, 2, 2);

        InstallShapes("Objects\\Ground.lwo", {Rbs_Grid(10, 2.0f, 0.0f)});
        InstallShapes("Objects\\Crate.lwo", {Rbs_Box(1.0f, 0.5f, 0.5f, 0.5f)});
        InstallShapes("Objects\\Door.lwo", {Rbs_Box(1.0f, 0.5f, 1.0f, 0.05f)});
        const std::string common = "VisualModel = NOVISUAL\n Constructor = Level_Place\n Collision = Level_Collide\n";
        InstallObject("Level\\Ground.cfg", "Name = Ground\n PhysicalModel = Objects\\Ground.lwo\n Concave = yes\n"
                                           "CollisionGroup = 1\n" + common);
        InstallObject("Level\\Crate.cfg", "Name = Crate\n PhysicalModel = Objects\\Crate.lwo\n Mass = 2\n"
                                          "Active = yes\n Restitution = 0.1\n CollisionGroup = 1\n" + common);
        InstallObject("Level\\Ball.cfg", "Name = Ball\n PhysicalModel = SPHERE0.5\n Mass = 1\n Active = yes\n"
                                         "CollisionGroup = 1\n" + common);
        InstallObject("Level\\Zone.cfg", "Name = Zone\n PhysicalModel = SPHERE0.75\n Phantom = yes\n"
                                         "CollisionGroup = 1\n" + common);
        // The door and the pendulum are in group 2, apart from the ground.
        InstallObject("Level\\Door.cfg", "Name = Door\n PhysicalModel = Objects\\Door.lwo\n Mass = 5\n Active = yes\n"
                                         "CollisionGroup = 2\n" + common);
        InstallObject("Level\\Hinge.cfg", "Name = Hinge\n Constructor = Hinge_Constructor\n Update = Hinge_Update\n"
                                          "Destructor = Hinge_Destructor\n FPVal0 = -60\n FPVal1 = 60\n FPVal3 = 1.5\n");
        InstallObject("Level\\Bob.cfg", "Name = Bob\n PhysicalModel = SPHERE0.25\n Mass = 1\n Active = yes\n"
                                        "CollisionGroup = 2\n" + common);
        InstallObject("Level\\Rope.cfg", "Name = Rope\n Constructor = Point2Point_Constructor\n"
                                         "Destructor = Point2Point_Destructor\n FPVal0 = 1\n FPVal2 = 0.999\n");
        LwsWriterScene map;
        map.items = {
            ScenePlace("Ground", {0, 0, 0}),      ScenePlace("Crate", {0, 2, 0}),         ScenePlace("Crate", {0.2f, 3.5f, 0.1f}),
            ScenePlace("Crate", {4, 1, 4}),       ScenePlace("Ball", {-4, 6, -4}),        ScenePlace("Zone", {-4, 3, -4}),
            ScenePlace("Door", {8, 4, 0}),        ScenePlace("Hinge", {0, 1, 0}, 6),      ScenePlace("Bob", {-8, 6, 2}),
            ScenePlace("Rope", {1.5f, 1.5f, 0}, 8),
        };
        map.items[7].keys[0].rotation[0] = kPi / 2;  // the hinge's at axis along x
        InstallScene("Level\\Map.lws", map);
        ObjectScene_Load("Level\\Map.lws", "Level", pool);
        for (Object* o : PoolObjects()) objects_.insert({o->name, o});
    }
    Object* One(const char* name) { return objects_.find(name)->second; }
    std::multimap<std::string, Object*> objects_;
};

TEST_F(LevelTest, TenSecondsOfALevelSettleSwingAndReport)
{
    ASSERT_EQ(objects_.count("Crate"), 3u);
    ASSERT_EQ(objects_.size(), 10u);
    EXPECT_EQ(ObjectTemplate_Count(), 8u);
    Object* door = One("Door");
    Object* bob = One("Bob");
    Object* ball = One("Ball");
    ASSERT_NE(Joint_GetConstraint(One("Hinge")), nullptr);
    ASSERT_NE(Joint_GetConstraint(One("Rope")), nullptr);
    HingeConstraint* hinge = static_cast<HingeConstraint*>(Joint_GetConstraint(One("Hinge"))->object);

    float maxDoor = 0.0f, bobMinX = 1e9f, bobMaxX = -1e9f;
    int bobCrossings = 0;
    float lastBobX = -8.0f;
    const float dt = 1.0f / 60.0f;
    for (int frame = 0; frame < 600; ++frame) {
        Step(1, dt);
        maxDoor = std::max(maxDoor, std::fabs(hinge->Angle()));
        Vec3 p;
        PhysBody_GetPosition(bob->body, &p);
        bobMinX = std::min(bobMinX, p.x);
        bobMaxX = std::max(bobMaxX, p.x);
        if ((lastBobX - (-6.5f)) * (p.x - (-6.5f)) < 0.0f) ++bobCrossings;
        lastBobX = p.x;
    }
    // The crates came to rest on the ground or on each other.
    for (auto it = objects_.lower_bound("Crate"); it != objects_.upper_bound("Crate"); ++it) {
        Vec3 p;
        PhysBody_GetPosition(it->second->body, &p);
        EXPECT_LT(PhysBody_GetSpeed(it->second->body), 0.05f);
        EXPECT_GT(p.y, 0.45f);
        EXPECT_LT(p.y, 1.6f);
        Vec3 nodePosition;
        Node_GetPosition(it->second->node, &nodePosition);
        EXPECT_EQ(Dist(nodePosition, p), 0.0f);  // their nodes followed
    }
    Vec3 ballAt;
    PhysBody_GetPosition(ball->body, &ballAt);
    EXPECT_NEAR(ballAt.y, 0.5f, 0.05f);
    // The door swung open on its motor and stayed within its limits.
    EXPECT_GT(maxDoor, 0.8f);
    EXPECT_LT(maxDoor, kPi / 3 + 0.05f);
    Vec3 doorAt;
    PhysBody_GetPosition(door->body, &doorAt);
    EXPECT_NEAR(doorAt.x, 8.0f, 0.05f);
    // The pendulum (pivot at x = -6.5) swings through its lowest point, and
    // barely loses energy with a factor of 0.999.
    EXPECT_GE(bobCrossings, 4);
    EXPECT_LT(bobMinX, -7.5f);
    EXPECT_GT(bobMaxX, -5.5f);

    // Contacts: crates on the ground with plausible speeds; the ball through the zone.
    float crateImpact = 0.0f, ballImpact = 0.0f;
    bool zoneBegin = false, zoneEnd = false;
    for (const Hit& h : g_hits) {
        if (h.type == OBJECT_EVENT_CONTACT && h.self == "Crate" && h.other == "Ground")
            crateImpact = std::max(crateImpact, h.speed);
        if (h.type == OBJECT_EVENT_CONTACT && h.self == "Ball" && h.other == "Ground")
            ballImpact = std::max(ballImpact, h.speed);
        if (h.type == OBJECT_EVENT_OVERLAP && h.self == "Zone" && h.other == "Ball") (h.extra ? zoneEnd : zoneBegin) = true;
    }
    EXPECT_GT(crateImpact, 4.5f);   // the first crate falls 1.5 m: 5.4 m/s
    EXPECT_LT(crateImpact, 6.0f);
    EXPECT_GT(ballImpact, 9.0f);    // 5.5 m: about 10.4 m/s
    EXPECT_LT(ballImpact, 11.5f);
    EXPECT_TRUE(zoneBegin);
    EXPECT_TRUE(zoneEnd);

    // The end of the level: joints go first, nothing is left behind.
    ObjectPool_Destroy(pool);
    pool = nullptr;
    EXPECT_EQ(List_Count(phys->constraintPool), 0u);
    EXPECT_EQ(List_Count(phys->bodyPool), 0u);
}

}  // namespace
