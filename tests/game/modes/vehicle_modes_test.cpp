// Every mode's life: registered, a player entity made,
// played, re-attached to a reloaded level and destroyed (the sanitizer build
// checks that nothing leaks or is used after it is freed), and configurations
// with bad values loaded and played with a line in the log.
#include <gtest/gtest.h>

#include "game/modes/battleblades_mode.h"
#include "game/modes/broomstick_mode.h"
#include "game/modes/faketilt_mode.h"
#include "game/modes/skater_mode.h"
#include "vehicle_fixture.h"

using namespace entitytest;
using namespace vehicletest;

namespace {

struct ModeCase {
    const char* name;
    uint32_t mode;
};

const ModeCase kModes[] = {{"Skater", MODE_SKATER},   {"FakeTilt", MODE_FAKETILT},
                           {"BattleBlades", MODE_BATTLEBLADES}, {"Ball", MODE_BALL},
                           {"AirPlane", MODE_AIRPLANE}, {"CameraMode", MODE_CAMERAMODE},
                           {"BroomStick", MODE_BROOMSTICK}};

class ModeRowTest : public VehicleTest {
protected:
    // Animations of every mode's slot 0 names (sets may hold more than a mode plays).
    Anims AllAnims()
    {
        Anims out;
        for (const char* n : {"rolling", "lose", "startlevel", "stand", "walk", "fall", "longfall", "land", "nearedge",
                              "iceBlade", "changeBlade", "iceBladeDying", "fly", "fire", "stunned"})
            out.push_back({n, 0.2f, false});
        return out;
    }
    // The player character of the mode `name`, with the keys given first.
    void WriteCharacter(const char* name, const std::string& keys)
    {
        WriteMode("carddata\\entityconfigs\\Hero.cfg", name, AllAnims(),
                  keys +
                      "\n dieInAirVel = -100\n dieInAirTime = 100\n genCamData {\n defaultDistance = 4\n}\n"
                      " projectiles {\n ProjType0Config = Shots\\Bolt.cfg\n}\n colAreas {\n Area0Val1 = 1\n}\n");
        WriteConfig("Shots\\Bolt.cfg",
                    "Object {\n Description {\n VisualModel = NOVISUAL\n PhysicalModel = SPHERE0.1\n"
                    " Mass = 1\n StringVal0 = STRAIGHT\n Constructor = Projectile_Type_Constructor\n"
                    " Destructor = Projectile_Type_Destructor\n Update = Projectile_Type_Update\n"
                    " Collision = Projectile_Type_Collision\n }\n}\n");
    }
};

class VehicleModeTest : public ModeRowTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(VehicleModeTest, APlayerOfEachModeLivesThroughAReload)
{
    const ModeCase m = GetParam();
    ASSERT_NE(ControlMode_GetSlots(m.mode), nullptr);
    Floor();
    WriteCharacter(m.name, "");
    Level_SetLevelToUnlock(2);
    WriteLevel();
    Object* hero = Build();
    ASSERT_NE(hero, nullptr);
    EntityRecord* kept = Entity_GetRecord(hero);
    Pad(0.5f, 0.5f, 0x10);
    Frame(20);
    ReloadLevel("Levels\\Test\\Level.lws");
    Floor();
    hero = Level_GetPlayerEntity(0);
    ASSERT_NE(hero, nullptr);
    EXPECT_EQ(Entity_GetRecord(hero), kept);
    Frame(20);
}

// Bad values: not numbers, beyond any range, a speed limit of 0, a health
// maximum of 0, elements outside 0..2 and entity types outside 1..32. Each
// bad number is logged; the entity loads and plays.
TEST_P(VehicleModeTest, BadValuesAreLoggedAndTheEntityPlaysOn)
{
    const ModeCase m = GetParam();
    Floor();
    g_log.clear();
    WriteCharacter(m.name,
                   "forwardVelStep = nan\n runDamping = inf, 1, 1\n orientToFloorSpeed = 1e39\n"
                   " totalHealth = 0\n initType = -1\n entityTypeToAttack0 = 33\n entityTypeToAttack1 = 0\n"
                   " aiEntityTypeToAttack0 = -1\n forwardSpeedMax = -5\n forwardSpeedAccelRangePower = -2\n"
                   " levelOffPower = nan\n engineSpeedUpRate = 1e39\n forwardToSidePower = -3\n sideVelStep = 1e30\n"
                   " leanRangePerVel = 1e30\n");
    WriteLevel();
    Object* hero = Build();
    ASSERT_NE(hero, nullptr);
    Entity_GetRecord(hero)->maxVelocity = 0.0f;
    if (m.mode != MODE_CAMERAMODE) {
        EXPECT_FALSE(g_log.empty()) << "CameraMode reads only camera keys";
    }
    Pad(1.0f, -1.0f, 0x30);
    Frame(30);
    const Vec3 p = BodyPosition(hero);
    EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
    if (m.mode == MODE_BATTLEBLADES) {
        EXPECT_EQ(BattleBlades_GetData(hero)->initType, BLADE_ICE);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, VehicleModeTest, ::testing::ValuesIn(kModes),
                         [](const ::testing::TestParamInfo<ModeCase>& i) { return std::string(i.param.name); });

// Deaths of the rolling and walking players: a long fall (or a death area's
// time run out) plays the lose animation, frozen, then restarts the level
// once with the player back at its start; a death area's later contacts keep
// the first die time.
struct DeathCase {
    const char* name;
    int32_t lose;      // the mode's lose animation, -1: none
    int32_t fallLose;  // its animation after a long fall (frozen), -1: none
    const char* area;  // the type name of its death areas
};
const DeathCase kDeaths[] = {{"Skater", SKATER_ANIM_LOSE, SKATER_ANIM_LOSE, "DEATHAREA"},
                             {"FakeTilt", FAKETILT_ANIM_LOSE, -1, "DEATH_AREA"},
                             {"Ball", -1, -1, ""}};

class VehicleDeathTest : public ModeRowTest, public ::testing::WithParamInterface<DeathCase> {
protected:
    Object* Hero(const std::string& keys, float y)
    {
        WriteCharacter(GetParam().name, keys + "\n initHealth = 100\n totalHealth = 100\n");
        WriteLevel({}, y);
        return Build();
    }
    int32_t Current(Object* o) { return Entity_GetRecord(o)->animSlots[0].current; }
};

TEST_P(VehicleDeathTest, ALongFallLosesAndRestartsTheLevelOnceBackAtTheStart)
{
    Object* hero = Hero("dieInAirVel = -1\n dieInAirTime = 0.3", 50.0f);
    ASSERT_NE(hero, nullptr);
    EntityRecord* r = Entity_GetRecord(hero);
    bool lost = false;
    for (int i = 0; i < 200 && g_restarts == 0; ++i) {
        Frame();
        if (GetParam().fallLose >= 0 && Current(hero) == GetParam().fallLose) {
            lost = true;
            EXPECT_TRUE(r->flags & ENTITY_FROZEN);
        }
    }
    EXPECT_EQ(lost, GetParam().fallLose >= 0);
    ASSERT_EQ(g_restarts, 1);
    Frame();  // the respawn event
    EXPECT_NEAR(BodyPosition(hero).y, 50.5f, 0.1f);
    EXPECT_FALSE(r->flags & ENTITY_FROZEN);
    EXPECT_FLOAT_EQ(r->health, 100.0f);
    for (int i = 0; i < 10; ++i) {  // less than the next fall's time
        Frame();
        if (lost) {
            ASSERT_NE(Current(hero), GetParam().fallLose) << "one death, one lose, one restart";
        }
    }
    EXPECT_EQ(g_restarts, 1);
}

TEST_P(VehicleDeathTest, ADeathAreaLosesAfterItsValueInSecondsCountedFromTheFirstContact)
{
    if (GetParam().lose < 0) GTEST_SKIP() << "no death areas";
    Floor();
    WriteProp("Pit", std::string("StringVal0 = ") + GetParam().area + "\n FPVal0 = -1\n FPVal1 = 0.4", 0, "SPHERE0.5");
    Object* hero = Hero("dieInAirTime = 100", 1.5f);
    PlaceProps({Item("Pit", V(0, 0.5f, 0))});
    ASSERT_NE(hero, nullptr);
    EntityRecord* r = Entity_GetRecord(hero);
    SkateCommon* common = (SkateCommon*)r->modeData;  // first in both modes' data
    float setAt = 0.0f;
    for (int i = 0; i < 100 && common->dieTime == 0.0f; ++i) {
        Frame();
        setAt = r->clock;
    }
    const float first = common->dieTime;
    ASSERT_NE(first, 0.0f);
    EXPECT_NEAR(first, setAt + 0.4f, dt + 1e-4f);
    float loseAt = -1.0f;
    for (int i = 0; i < 100 && g_restarts == 0; ++i) {
        Frame();
        if (loseAt < 0.0f && Current(hero) == GetParam().lose) loseAt = r->clock;
        if (loseAt < 0.0f) {
            EXPECT_EQ(common->dieTime, first) << "later contacts keep the first die time";
        }
    }
    EXPECT_GE(loseAt, setAt + 0.4f - 1e-4f);
    EXPECT_EQ(g_restarts, 1);
}

INSTANTIATE_TEST_SUITE_P(Modes, VehicleDeathTest, ::testing::ValuesIn(kDeaths),
                         [](const ::testing::TestParamInfo<DeathCase>& i) { return std::string(i.param.name); });

// A blade pickup for no element gives only spin (logged); pickups as large
// as an int holds stop the stock at its limit (the sanitizer build would
// stop at an overflow).
TEST_F(VehicleTest, BladePickupsOfNoElementGiveOnlySpinAndHugeOnesHoldTheStockAtItsLimit)
{
    WriteProp("Spin", "StringVal0 = PICKUP\n FPVal0 = -1\n FPVal1 = 1\n FPVal2 = -1\n FPVal3 = 5", 2);
    WriteProp("Blade", "StringVal0 = PICKUP\n FPVal0 = -1\n FPVal1 = 1\n FPVal2 = 0\n FPVal3 = 3e9", 2);
    WriteMode("carddata\\entityconfigs\\Hero.cfg", "BattleBlades", {{"iceBlade", 1.0f, true}},
              "pickupCollectOn = TRUE\n initNumIce = 2000000000\n initNumWater = 1\n initNumFire = 1\n"
              " dieInAirVel = -100");
    WriteLevel();
    PlaceProps({Item("Spin", V(4, 0, 5)), Item("Blade", V(5, 0, 5)), Item("Blade", V(6, 0, 5))});
    Object* top = Build();
    ASSERT_NE(top, nullptr);
    BattleBladesData* d = BattleBlades_GetData(top);
    d->spin = 0.5f;
    g_log.clear();
    BattleBladesMode_Collision(top, Entity_GetRecord(top), PropAt(V(4, 0, 5)), 0);
    EXPECT_EQ(d->blades[0], 2000000000);
    EXPECT_EQ(d->blades[1] + d->blades[2], 2) << "no element -1";
    EXPECT_EQ(g_log.size(), 1u);
    EXPECT_FLOAT_EQ(d->spin, 0.0f) << "value 1 goes to the spin, which stays within 0..1";
    for (float x : {5.0f, 6.0f}) BattleBladesMode_Collision(top, Entity_GetRecord(top), PropAt(V(x, 0, 5)), 0);
    EXPECT_EQ(d->blades[BLADE_ICE], INT32_MAX);
}

}  // namespace
