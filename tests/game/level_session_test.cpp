#include "game/level_session.h"

#include <gtest/gtest.h>

#include <cmath>

#include "menu_input_fixture.h"

namespace {

class LevelSessionTest : public PadTest {
protected:
    void SetUp() override
    {
        PadTest::SetUp();
        Rules_Init();
    }
    void TearDown() override
    {
        Rules_Shutdown();
        PadTest::TearDown();
    }
};

TEST_F(LevelSessionTest, PlayerIndicesBeyondTheSessionOrMaxPlayersReadZeroAndWriteNothing)
{
    Game_SetMaxPlayers(8);
    LevelSession before;
    memcpy(&before, Level_GetSession(), sizeof before);
    Vec3 v{1, 2, 3};
    int dummy;
    for (int p : {-1, 4, 5, 7}) {
        Player_SetStart(p, &v, &v, &v);
        Player_SetHudState(p, 3);
        Player_SetUserWord(p, &v);
        Player_SetWorldFov(p, 2.0f);
        Player_SetViewportIndex(p, 1);
        Level_SetPlayerEntity(p, (Object*)&v);
        EXPECT_EQ(Player_GetInputRecord(p), nullptr);
        EXPECT_EQ(Player_GetHudState(p), 0u);
        EXPECT_EQ(Player_GetUserWord(p), nullptr);
        EXPECT_EQ(Player_GetHudFov(p), 0.0f);
        EXPECT_EQ(Level_GetPlayerEntity(p), nullptr);
        EXPECT_EQ(Player_GetViewportIndex(p, &dummy), 0);
    }
    EXPECT_EQ(memcmp(&before, Level_GetSession(), sizeof before), 0);
    Game_SetMaxPlayers(2);  // GameMaxPlayers bounds them too
    Player_SetHudState(2, 5);
    EXPECT_EQ(Player_GetHudState(2), 0u);

    // The second per-player word holds a pointer whole.
    Player_SetUserWord(1, &v);
    EXPECT_EQ(Player_GetUserWord(1), &v);
    Player_SetViewportIndex(1, 3);
    ASSERT_EQ(Player_GetViewportIndex(1, &dummy), 1);
    EXPECT_EQ(dummy, 3);
    Player_SetViewportIndex(1, -1);
    EXPECT_EQ(Player_GetViewportIndex(1, &dummy), 0);
}

}  // namespace
