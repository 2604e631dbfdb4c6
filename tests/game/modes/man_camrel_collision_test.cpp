// Man_CamRel's collision slot and the shared helpers: health and score
// shots, pickups by proximity and by phantom overlap, checkpoints, hits
// and stun protection, points, and riding a turning platform.
#include <cmath>

#include "engine/objecttemplate.h"
#include "game/race_setup.h"
#include "modes_fixture.h"

using namespace modestest;
using entitytest::Item;
using entitytest::V;

namespace {

class ManCamRelCollisionTest : public ModesTest {};

TEST_F(ManCamRelCollisionTest, HealthShotsAddUpToTheTotalOrGiveALife)
{
    Object* hero = CamRelHero();
    EntityRecord* r = Record(hero);
    struct Case {
        float health;
        int32_t lives;
        float amount;
        float healthAfter;
        int32_t livesAfter;
    } cases[] = {
        {100.0f, 99, 20.0f, 100.0f, 99},  // 99 lives: added, clamped
        {90.0f, 3, 20.0f, 100.0f, 4},     // beyond the total: initHealth and a life
        {70.0f, 3, 20.0f, 90.0f, 3},
    };
    for (const Case& c : cases) {
        r->health = c.health;
        d->lives = c.lives;
        Object* shot = PurposeShot(hero, "HEALTH", c.amount);
        ASSERT_NE(shot, nullptr);
        ManCamRelMode_Collision(hero, r, shot, 0);
        EXPECT_EQ(Entity_GetHealth(r), c.healthAfter) << c.health;
        EXPECT_EQ(d->lives, c.livesAfter) << c.health;
        Projectile_Release(shot, hero);
    }
    // Scores from data are truncated and held within the int32 range.
    const struct {
        int32_t before;
        float value;
        int32_t after;
    } scores[] = {{0, 12.9f, 12}, {2147483000, 1e6f, INT32_MAX}, {0, 5e9f, INT32_MAX}, {-5, -5e9f, INT32_MIN}};
    for (const auto& c : scores) {
        Object* shot = PurposeShot(hero, "SCORE", c.value);
        d->score = c.before;
        ManCamRelMode_Collision(hero, r, shot, 0);
        EXPECT_EQ(d->score, c.after) << c.value;
        Projectile_Release(shot, hero);
    }
    // Awarded points float up while a text is free, then go straight to the score.
    d->score = 0;
    ControlMode_AreaHelper(0, hero, nullptr, 0, 0);  // no points, nothing to show
    for (int i = 0; i <= MCR_FLOAT_TEXTS; ++i) ControlMode_AreaHelper(7, hero, nullptr, 1, 1);
    EXPECT_EQ(d->score, 7);
    EXPECT_EQ(d->killCount, MCR_FLOAT_TEXTS + 1);
}

TEST_F(ManCamRelCollisionTest, AmmunitionFillsTheWeaponsOfItsTypeAndASpringboardLaunches)
{
    WriteShot("Shots\\Bolt.cfg", "STRAIGHT");
    WriteProp("Ammo", "StringVal0 = PICKUP\n FPVal1 = 11\n FPVal2 = 2\n FPVal3 = 5\n BoolVal10 = TRUE");
    WriteProp("Spring", "StringVal0 = SPRINGBOARD\n FPVal1 = 12");
    PlaceProps({Item("Ammo", V(10, 0.5f, 10)), Item("Spring", V(-10, 0.5f, 10))});
    Object* hero = CamRelHero(
        " projectiles {\n  ProjType0Config = Shots\\Bolt.cfg\n  ProjType0Ammo = 3\n  ProjType0PickupTypeReq = 2\n"
        "  ProjType1Config = Shots\\Bolt.cfg\n  ProjType1Ammo = 3\n  ProjType1PickupTypeReq = 1\n }\n");
    WeaponList* weapons = &CamRel(hero)->weapons;
    Place(hero, V(10, 0.5f, 10));
    Step(3);
    EXPECT_EQ(ProjType_GetAmmo(weapons, 0), 8) << "once";
    EXPECT_EQ(ProjType_GetAmmo(weapons, 1), 3) << "another type";
    Place(hero, V(-10, 0.5f, 10));
    float top = 0.0f;
    for (int i = 0; i < 40; ++i) {
        Step();
        top = std::fmax(top, BodyPosition(hero).y);
    }
    EXPECT_GT(top, 4.0f);
}

// A heavy ball of radius 20 spinning about +y under the rider, kept in place
// every frame: its surface under the rider moves along w x r.
class TurningPlatformTest : public ManCamRelCollisionTest,
                            public ::testing::WithParamInterface<bool> {};

TEST_P(TurningPlatformTest, ARiderIsCarriedAlongThePlatformSurface)
{
    WriteObject("Levels\\Test\\Wheel.cfg",
                "VisualModel = NOVISUAL\n PhysicalModel = SPHERE20\n Mass = 100000\n CollisionGroup = 1");
    const bool platformFirst = GetParam();
    Object* wheel = nullptr;
    auto makeWheel = [&] {
        wheel = ObjectTemplate_Load("Levels\\Test\\Wheel.cfg", nullptr, objects, 0);
        ASSERT_NE(wheel, nullptr);
        Object_Sync(wheel, OBJECT_SYNC_ALL);
        PhysWorld_RegisterBodyEvents(phys, wheel->body);
    };
    if (platformFirst) makeWheel();
    WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Man_CamRel",
                   " forwardVelStep = 64\n maxRunSpeed = 10\n jumpTimeSinceGroundAllow = 0.1\n dieInAirTime = 50\n"
                   " noInputDamping = 10, 0, 10\n camMode0RailDist = 4\n");
    Object* hero = StartPlayer({}, 40.0f);
    if (!platformFirst) makeWheel();
    const Vec3 centre = V(0, -19.6f, 0), spin = V(0, 1, 0), still = V(0, 0, 0);
    Place(hero, V(3, 0.5f, 0));
    for (int i = 0; i < 50; ++i) {
        PhysBody_SetPosition(wheel->body, &centre);
        PhysBody_SetLinearVelocity(wheel->body, &still);
        PhysBody_SetAngularVelocity(wheel->body, &spin);
        Step();
    }
    const Vec3 p = BodyPosition(hero);
    EXPECT_LT(p.z, -0.5f) << "w x r at (3, 0, 0) points to -z";
    EXPECT_LT(std::fabs(CamRel(hero)->platformVel.z + 3.0f), 1.0f);
}

INSTANTIATE_TEST_SUITE_P(BothSides, TurningPlatformTest, ::testing::Bool());

// Key events of the hero's own animations: a "ProjType" event fires the
// weapon it names, or the current one when it names none or one the list
// lacks; a "Message" event queues object events for the hero's player.
TEST_F(ManCamRelCollisionTest, KeyEventsFireTheNamedOrCurrentWeaponAndQueueMessages)
{
    WriteShot("Shots\\Bolt.cfg", "STRAIGHT", "U32Val0 = 4");  // four shots may fly
    Object* hero = CamRelHero(
        " projectiles {\n  ProjType0Config = Shots\\Bolt.cfg\n  ProjType0FiringDelay = 0\n"
        "  ProjType0Ammo = 9\n  ProjType1Config = Shots\\Bolt.cfg\n  ProjType1FiringDelay = 0\n"
        "  ProjType1Ammo = 9\n }\n");
    WriteProp("Gate", "StringVal0 = DOOR\n StringVal1 = GATES");
    PlaceProps({Item("Gate", V(30, 0.5f, 30))});
    EntityRecord* r = Record(hero);
    ASSERT_EQ(d->weapons.count, 2u);
    AnimSet* set = r->animSlots[0].set;
    Node* root = r->animSlots[0].root;
    struct Case {
        const char* event;
        int32_t ammo0, ammo1;
    } cases[] = {
        {"ProjType, 1", 9, 8},  {"ProjType,7", 8, 8},  // no weapon 7: the current one
        {"ProjType", 7, 8},     {"ProjType,x", 6, 8},  // not a number: weapon 0
        {"Projectile,1", 6, 8},                        // not a shot
    };
    for (const Case& c : cases) {
        Step();  // past the firing delay of 0
        ManCamRelMode_Message(set, c.event, root, 0, 0.0f, 0.1f);
        EXPECT_EQ(d->weapons.weapons[0].ammo, c.ammo0) << c.event;
        EXPECT_EQ(d->weapons.weapons[1].ammo, c.ammo1) << c.event;
    }
    ManCamRelMode_Message(set, "Message,0,activate,GATES", root, 0, 0.0f, 0.1f);
    ASSERT_EQ(ObjectEvent_GetCount(), 1u);
    EXPECT_EQ(ObjectEvent_Get(0)->group, ObjectEvent_GroupHash("GATES"));
    EXPECT_EQ(ObjectEvent_Get(0)->player, r->player);
}

}  // namespace
