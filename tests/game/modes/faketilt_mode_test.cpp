#include "game/modes/faketilt_mode.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "vehicle_fixture.h"

using namespace entitytest;
using namespace vehicletest;

namespace {

class FakeTiltTest : public VehicleTest {
protected:
    Anims ModeAnims()
    {
        return {{"stand", 1.0f, true}, {"walk", 1.0f, true},     {"run", 1.0f, true},   {"tumble", 1.0f, true},
                {"fall", 0.2f, false}, {"longfall", 1.0f, true}, {"land", 0.2f, false}, {"startlevel", 0.1f, false},
                {"bump", 0.2f, false}, {"nearedge", 1.0f, true}, {"lose", 0.2f, false}};
    }
    // A player walker at (0, y, z) with vehicle height 1; keys given first count.
    Object* Walker(const std::string& keys, float y = 0.0f, float z = 0.0f, const std::string& vehicleData = "")
    {
        const Vec3 start = V(0, y, z), at = V(0, 0, 1), up = V(0, 1, 0);
        WriteScene("Levels\\Test\\Level.lws", 1.0f,
                   {Item("PlayerStart_Null", start), Item("PlayerStart_Null", V(20, y, 0))});
        Player_SetStart(0, &start, &at, &up);
        WriteHero("FakeTilt", ModeAnims(),
                  keys +
                      "\n forwardVelStep = 10\n runDamping = 0, 0, 0\n noInputDamping = 0, 0, 0\n"
                      " orientToFloorSpeed = 5\n dieInAirVel = -1\n dieInAirTime = 0.6\n stunColVelHor = -1000\n"
                      " genCamData {\n defaultDistance = 4\n}\n",
                  vehicleData + "\n VehicleHeight = 1\n maxVelocity = 50");
        return Build();
    }
};

TEST_F(FakeTiltTest, AWalkerThatStopsStandsOnlyAfterHalfASecond)
{
    Floor();
    Object* hero = Walker("");
    ASSERT_TRUE(Settle(hero));
    const Vec3 walking = V(0, 0, 2), still = V(0, 0, 0);
    for (int i = 0; i < 5; ++i) {
        PhysBody_SetLinearVelocity(hero->body, &walking);
        Frame();
    }
    ASSERT_EQ(Anim(hero), FAKETILT_ANIM_WALK);
    const float stopped = Entity_GetRecord(hero)->clock;
    float stoodAt = -1.0f;
    for (int i = 0; i < 50 && stoodAt < 0.0f; ++i) {
        PhysBody_SetLinearVelocity(hero->body, &still);
        Frame();
        if (Anim(hero) == FAKETILT_ANIM_STAND) stoodAt = Entity_GetRecord(hero)->clock;
    }
    EXPECT_GT(stoodAt - stopped, 0.5f - dt);
    EXPECT_LT(stoodAt - stopped, 0.5f + 2.0f * dt);
}

// The edge probe looks down and ahead: at a ledge whose drop is exactly
// twice the vehicle height, over nothing, and over a slope too steep ahead,
// the walker plays "nearedge"; back on safe ground it holds it 0.5 s.
enum Ahead { LEDGE, VOID, STEEP };
class FakeTiltEdgeTest : public FakeTiltTest, public ::testing::WithParamInterface<Ahead> {};

TEST_P(FakeTiltEdgeTest, TheEdgeProbeWarnsAndHoldsTheWarningHalfASecond)
{
    Box({5, 1, 5}, V(0, -1, -5));                          // the walker's ground ends at z = 0
    if (GetParam() == LEDGE) Box({5, 1, 5}, V(0, -3, 5));  // top at -2 = 2 x VehicleHeight below
    if (GetParam() == STEEP) {
        // A 45-degree slope down from the edge: its top face starts at (0, 0, 0).
        const float a = 45.0f * VEHICLE_DEG_TO_RAD, s = std::sin(a), c = std::cos(a);
        Box({5, 0.5f, 5}, V(0, -0.5f * c - 5.0f * s, -0.5f * s + 5.0f * c), V(0, -s, c), V(0, c, s));
    }
    Box({5, 1, 5}, V(30, -1, 0));  // safe ground away from the edge
    Object* hero = Walker("", 0.0f, -0.1f);
    ASSERT_TRUE(Settle(hero));
    EXPECT_EQ(Anim(hero), FAKETILT_ANIM_NEAREDGE);
    const Vec3 safe = V(30, 0.5f, 0);
    PhysBody_SetPosition(hero->body, &safe);
    const float left = Entity_GetRecord(hero)->clock;
    float cleared = -1.0f;
    for (int i = 0; i < 60 && cleared < 0.0f; ++i) {
        Frame();
        if (Anim(hero) != FAKETILT_ANIM_NEAREDGE) cleared = Entity_GetRecord(hero)->clock;
    }
    EXPECT_GE(cleared - left, 0.5f - 1e-4f);
    EXPECT_LT(cleared - left, 0.5f + 3.0f * dt);
}

INSTANTIATE_TEST_SUITE_P(Ahead, FakeTiltEdgeTest, ::testing::Values(LEDGE, VOID, STEEP));

TEST_F(FakeTiltTest, FallingOffALedgeGoesThroughFallAndLongfallToOneRestart)
{
    Box({5, 1, 5}, V(0, -1, 0));
    Object* hero = Walker("", 0.0f, 0.0f);
    ASSERT_TRUE(Settle(hero));
    const Vec3 off = V(0, 0, 8);
    PhysBody_SetLinearVelocity(hero->body, &off);
    std::vector<int32_t> seen;
    for (int i = 0; i < 300 && g_restarts == 0; ++i) {
        Frame();
        if (seen.empty() || seen.back() != Anim(hero)) seen.push_back(Anim(hero));
    }
    ASSERT_EQ(g_restarts, 1);
    auto at = [&](int32_t a) { return std::find(seen.begin(), seen.end(), a) - seen.begin(); };
    EXPECT_LT(at(FAKETILT_ANIM_FALL), (long)seen.size());
    EXPECT_LT(at(FAKETILT_ANIM_FALL), at(FAKETILT_ANIM_LONGFALL));
    EXPECT_LT(at(FAKETILT_ANIM_LONGFALL), (long)seen.size());
    Frame(2);
    EXPECT_EQ(g_restarts, 1) << "one restart for one death";
    EXPECT_NEAR(BodyPosition(hero).z, 0.0f, 0.1f) << "back at the start";
}

TEST_F(FakeTiltTest, WithTwoPlayersTheWalkerRespawnsFrozenWhileStartPlays)
{
    SetPlayers({1, 1});
    WriteConfig("Huds\\Walker.cfg", "HUD1 {\n}\nHUD2 {\n}\n");
    for (int i = 0; i < 8; ++i) {
        WriteAnimSet("Huds\\Walker.cfg", ("HudAnim" + std::to_string(i)).c_str(),
                     {{"idle", 1.0f, true}, {"start", 0.3f, false}});
    }
    Box({5, 1, 5}, V(0, -1, 0));
    Object* hero = Walker("", 0.0f, 0.0f, "HudPath = Huds\\Walker.cfg");
    EntityRecord* r = Entity_GetRecord(hero);
    ASSERT_EQ(r->hudAnimCount, 8u);
    ASSERT_TRUE(Settle(hero));
    const Vec3 off = V(0, 0, 8);
    PhysBody_SetLinearVelocity(hero->body, &off);
    for (int i = 0; i < 300 && !(r->flags & ENTITY_FROZEN); ++i) Frame();
    ASSERT_TRUE(r->flags & ENTITY_FROZEN);
    EXPECT_EQ(g_restarts, 0);
    EXPECT_EQ(Data<FakeTiltData>(hero)->common.respawnCount, 1u);
    EXPECT_NEAR(BodyPosition(hero).z, 0.0f, 0.1f) << "respawned where it was started";
    EXPECT_FALSE(r->hudAnims[7].node->flags & NODE_HIDDEN);
    Frame(10);
    EXPECT_TRUE(r->flags & ENTITY_FROZEN) << "while start plays";
    Frame(10);
    EXPECT_FALSE(r->flags & ENTITY_FROZEN) << "free to move after it";
    EXPECT_TRUE(r->hudAnims[7].node->flags & NODE_HIDDEN);
    // Free to move indeed: a push moves it.
    ASSERT_TRUE(Settle(hero));
    Pad(0.0f, 1.0f);
    Frame(10);
    EXPECT_GT(BodyPosition(hero).z, 0.05f);
}

}  // namespace
