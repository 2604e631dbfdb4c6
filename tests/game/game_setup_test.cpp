#include "game/game_setup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/hooks.h"
#include "app/state.h"
#include "game_fixture.h"

namespace {

class GameSetupTest : public GameTest {
protected:
    void SetUp() override
    {
        GameTest::SetUp();
        ASSERT_EQ(State_Init(), 1);
    }
    void TearDown() override
    {
        State_Reset();
        AppHooks_Install(nullptr);
        App_ResetState();
        App_ScheduleTerminate(0);
        GameTest::TearDown();
    }
};

TEST_F(GameSetupTest, WithoutAFrontEndTheRootSaysSoOnceAndEnds)
{
    Game_CreateRootState();
    testing::internal::CaptureStdout();
    int alive = 1;
    for (int tick = 0; tick < 4 && alive; tick++) alive = State_Update(0.01f);
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(alive, 0);
    EXPECT_EQ(said, "The front end is not built yet: start a level with -leveltype Glim -levelnumber N\n");
}

// The race set-up record: lists end at "NONE", texts are cut, indices outside the tables change nothing.
TEST_F(GameSetupTest, TheRaceSetUpListsEndAtNoneCutLongTextsAndIgnoreBadIndices)
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
    GameSetup_SetPlayerFlag(1, 3);
    GameSetup_SetPlayerFlag(1, 3);
    EXPECT_EQ(GameSetup_Get()->playerFlags[3], 1u);  // bit 0 only
    GameSetup_SetPlayerFlag(0, 3);
    EXPECT_EQ(GameSetup_Get()->playerFlags[3], 0u);

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

TEST_F(GameSetupTest, MoviesPlayByTheirVideoStandard)
{
    struct Case {
        const char* line;
        const char* standard;
        bool palOn, palOff;
    } cases[] = {
        {"intro,TRUE,PAL", "PAL", true, false},    {"intro,TRUE,PAL2x", "PAL", true, false},
        {"intro,FALSE,NTSC", "NTSC", false, true}, {"intro,TRUE", "", true, true},
        {"intro,TRUE,SECAM", "SECAM", true, true}, {"intro,TRUE,2PAL", "", true, true},
    };
    for (const Case& c : cases) {
        std::string text = c.line;
        GameMovie movie;
        ASSERT_EQ(Game_ParseMovieLine(text.data(), &movie), 1) << c.line;
        EXPECT_STREQ(movie.name, "intro");
        EXPECT_STREQ(movie.standard, c.standard) << c.line;
        EXPECT_EQ(Game_MovieShouldPlay(&movie, 1), c.palOn ? 1 : 0) << c.line;
        EXPECT_EQ(Game_MovieShouldPlay(&movie, 0), c.palOff ? 1 : 0) << c.line;
    }
}

}  // namespace
