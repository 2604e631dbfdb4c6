#include "game/race_setup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class RaceSetupTest : public ::testing::Test {
protected:
    void SetUp() override { GameSetup_Reset(); }
};

TEST_F(RaceSetupTest, ResetEndsEveryListAtNoneAndRestoresTheTuningDefaults)
{
    GameSetup_SetLevel("level4.cfg", 0);
    GameSetup_SetPlayerTuning3(5, 9.0f);
    GameSetup_SetEngineClass(2);
    GameSetup_Reset();
    const GameSetupRecord* r = GameSetup_Get();
    for (int i = 0; i < GAMESETUP_LEVELS; i++) EXPECT_STREQ(r->levels[i], "NONE") << i;
    const float tuning[] = {10.0f, 2.0f, 0.2f, 3.0f, 0.25f, -0.2f};
    for (int p = 0; p < GAMESETUP_PLAYERS; p++) {
        EXPECT_STREQ(r->vehicleConfig[p], "NONE");
        for (int t = 0; t < GAMESETUP_TUNINGS; t++) EXPECT_EQ(r->tuning[p][t], tuning[t]) << p << "," << t;
        EXPECT_EQ(r->playerWord[p], 0u);
    }
    EXPECT_EQ(GameSetup_GetEngineClass(), 0u);
    EXPECT_TRUE(GameSetup_IsListEnd(0));
}

TEST_F(RaceSetupTest, AFourTrackListEndsAtIndexFour)
{
    for (int i = 0; i < 4; i++) GameSetup_SetLevel(("LandScape\\Track0" + std::to_string(i) + ".cfg").c_str(), i);
    GameSetup_SetLevel("NONE", 4);
    int played = 0;
    while (!GameSetup_IsListEnd(played)) played++;
    EXPECT_EQ(played, 4);
    EXPECT_STREQ(GameSetup_GetLevel(3), "LandScape\\Track03.cfg");
}

TEST_F(RaceSetupTest, LongTextsAreCutAndOutOfRangeIndicesChangeNothing)
{
    std::string longText(2000, 'x');
    GameSetup_SetLevel(longText.c_str(), 7);
    GameSetup_SetVehicleConfig(longText.c_str(), 7);
    EXPECT_EQ(strlen(GameSetup_GetLevel(7)), 1023u);
    EXPECT_EQ(strlen(GameSetup_Get()->vehicleConfig[7]), 1023u);

    GameSetupRecord before;
    memcpy(&before, GameSetup_Get(), sizeof before);
    for (int bad : {-1, 35, 1000}) GameSetup_SetLevel("level1.cfg", bad);
    for (int bad : {-1, 8, 1000}) {
        GameSetup_SetVehicleConfig("kart", bad);
        GameSetup_SetPlayerFlag(1, bad);
        GameSetup_SetPlayerTuning6(bad, 1.0f);
        GameSetup_SetPlayerDifficulty(bad, 2);
        GameSetup_SetPlayerWord(bad, 3);
        EXPECT_EQ(GameSetup_GetPlayerDifficulty(bad), 0u);
    }
    EXPECT_EQ(memcmp(&before, GameSetup_Get(), sizeof before), 0);
    // Reading past the list's end counts as its end, so a full list stops.
    for (int i = 0; i < GAMESETUP_LEVELS; i++) GameSetup_SetLevel("level1.cfg", i);
    EXPECT_FALSE(GameSetup_IsListEnd(34));
    EXPECT_TRUE(GameSetup_IsListEnd(35));
    EXPECT_STREQ(GameSetup_GetLevel(35), "NONE");
}

TEST_F(RaceSetupTest, PlayerFlagsSetAndClearBitZeroOnly)
{
    GameSetup_SetPlayerFlag(1, 3);
    GameSetup_SetPlayerFlag(1, 3);
    EXPECT_EQ(GameSetup_Get()->playerFlags[3], 1u);
    GameSetup_SetPlayerFlag(0, 3);
    EXPECT_EQ(GameSetup_Get()->playerFlags[3], 0u);
}

}  // namespace
