#include "game/modes/faketilt_mode.h"

#include "vehicle_fixture.h"

namespace {

class FakeTiltTest : public VehicleTest {
protected:
    Anims ModeAnims()
    {
        return {{"stand", 1.0f, true}, {"walk", 1.0f, true},     {"run", 1.0f, true},   {"tumble", 1.0f, true},
                {"fall", 0.2f, false}, {"longfall", 1.0f, true}, {"land", 0.2f, false}, {"startlevel", 0.1f, false},
                {"bump", 0.2f, false}, {"nearedge", 1.0f, true}, {"lose", 0.2f, false}};
    }
    // Player 0's walker at the origin with vehicle height 1 (player 1 at (20, 0, 0)).
    Object* Walker(const std::string& vehicleData)
    {
        const Vec3 start = V(0, 0, 0), at = V(0, 0, 1), up = V(0, 1, 0);
        WriteScene("Levels\\Test\\Level.lws", 1.0f,
                   {Item("PlayerStart_Null", start), Item("PlayerStart_Null", V(20, 0, 0))});
        Player_SetStart(0, &start, &at, &up);
        WriteMode(
            "carddata\\entityconfigs\\Hero.cfg", "FakeTilt", ModeAnims(),
            "forwardVelStep = 10\n runDamping = 0, 0, 0\n noInputDamping = 0, 0, 0\n orientToFloorSpeed = 5\n"
            " dieInAirVel = -1\n dieInAirTime = 0.6\n stunColVelHor = -1000\n genCamData {\n defaultDistance = 4\n}\n",
            vehicleData + "\n VehicleHeight = 1\n maxVelocity = 50");
        return Build();
    }
};

TEST_F(FakeTiltTest, WithTwoPlayersTheWalkerRespawnsFrozenWhileStartPlays)
{
    SetPlayers({1, 1});
    WriteConfig("Huds\\Walker.cfg", "HUD1 {\n}\nHUD2 {\n}\n");
    for (int i = 0; i < 8; ++i) {
        WriteAnimSet("Huds\\Walker.cfg", ("HudAnim" + std::to_string(i)).c_str(),
                     {{"idle", 1.0f, true}, {"start", 0.3f, false}});
    }
    Box({5, 1, 5}, V(0, -1, 0));
    Object* hero = Walker("HudPath = Huds\\Walker.cfg");
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
