// Every mode's life: registered, a player entity made from a configuration
// with bad values (not numbers, beyond any range, a speed limit of 0, a
// health maximum of 0, elements outside 0..2, entity types outside 1..32:
// each logged) or, for the walking modes, with every key missing (each
// missing key logged once, naming the file), played on random input with a
// finite state, re-attached to a reloaded level and destroyed (the
// sanitizer build checks that nothing leaks or is used after it is freed).

#include "game/modes/battleblades_mode.h"
#include "game/modes/broomstick_mode.h"
#include "game/modes/faketilt_mode.h"
#include "game/modes/skater_mode.h"
#include "vehicle_fixture.h"

namespace {

struct ModeCase {
    const char* name;
    uint32_t mode;
    int warnings;  // with every key missing; -1: bad values instead
};

const ModeCase kModes[] = {{"Skater", MODE_SKATER, -1},
                           {"FakeTilt", MODE_FAKETILT, -1},
                           {"BattleBlades", MODE_BATTLEBLADES, -1},
                           {"Ball", MODE_BALL, -1},
                           {"AirPlane", MODE_AIRPLANE, -1},
                           {"CameraMode", MODE_CAMERAMODE, -1},
                           {"BroomStick", MODE_BROOMSTICK, -1},
                           {"Man_CamRel", MODE_MAN_CAMREL, 10},
                           {"Man", MODE_MAN, 6},
                           {"Skitter", MODE_SKITTER, 4},
                           {"Flitter", MODE_FLITTER, 4},
                           {"Butterfly", MODE_BUTTERFLY, 1}};

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
    void WriteRow(const char* name, const std::string& keys)
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

TEST_P(VehicleModeTest, BadOrMissingKeysAreLoggedAndAPlayerPlaysOnThroughAReload)
{
    const ModeCase m = GetParam();
    ASSERT_NE(ControlMode_GetSlots(m.mode), nullptr);
    Floor();
    g_log.clear();
    if (m.warnings >= 0) {
        WriteCharacter("carddata\\entityconfigs\\Hero.cfg", m.name, "", "maxAngularVelocity = 0");
    } else {
        WriteRow(m.name,
                 "forwardVelStep = nan\n runDamping = inf, 1, 1\n orientToFloorSpeed = 1e39\n"
                 " totalHealth = 0\n initType = -1\n entityTypeToAttack0 = 33\n entityTypeToAttack1 = 0\n"
                 " aiEntityTypeToAttack0 = -1\n forwardSpeedMax = -5\n forwardSpeedAccelRangePower = -2\n"
                 " levelOffPower = nan\n engineSpeedUpRate = 1e39\n forwardToSidePower = -3\n sideVelStep = 1e30\n"
                 " leanRangePerVel = 1e30\n");
        Level_SetLevelToUnlock(2);
    }
    WriteLevel();
    Object* hero = Build();
    ASSERT_NE(hero, nullptr);
    EntityRecord* kept = Entity_GetRecord(hero);
    if (m.warnings >= 0) {
        EXPECT_EQ((int)g_log.size(), m.warnings);
        for (const std::string& line : g_log) EXPECT_NE(line.find("Hero.cfg"), std::string::npos) << line;
    } else {
        kept->maxVelocity = 0.0f;
        EXPECT_TRUE(m.mode == MODE_CAMERAMODE || !g_log.empty()) << "CameraMode reads only camera keys";
    }
    if (m.mode == MODE_BATTLEBLADES) {
        EXPECT_EQ(BattleBlades_GetData(hero)->initType, BLADE_ICE);
    }
    for (int i = 0; i < 500 && Level_GetPlayerEntity(0) == hero; ++i) {  // until taken over or given back
        script[0].stickX = std::sin(i * 0.05f);
        script[0].stickY = std::cos(i * 0.03f);
        script[0].stick2X = std::sin(i * 0.11f);
        script[0].buttons = (uint32_t)(i * 2654435761u) >> 20 & 0xFFF;
        Frame();
        const Vec3 p = BodyPosition(hero), v = Velocity(hero);
        Vec3 at, up;
        Node_GetWorldOrientation(hero->node, &at, &up);
        ASSERT_TRUE(Mode_IsFinite(p) && Mode_IsFinite(v) && Mode_IsFinite(at) && Mode_IsFinite(up)) << i;
    }
    script[0] = PlayerInputRecord{};
    ReloadLevel("Levels\\Test\\Level.lws");
    Floor();
    hero = Level_GetPlayerEntity(0);
    ASSERT_NE(hero, nullptr);
    EXPECT_EQ(Entity_GetRecord(hero), kept);
    Frame(20);
}

INSTANTIATE_TEST_SUITE_P(Modes, VehicleModeTest, ::testing::ValuesIn(kModes),
                         [](const ::testing::TestParamInfo<ModeCase>& i) {
                             std::string name = i.param.name;
                             for (char& ch : name)
                                 if (ch == '_') ch = 'X';
                             return name;
                         });

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
        WriteRow(GetParam().name, keys + "\n initHealth = 100\n totalHealth = 100\n");
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
