#include "game/game_setup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
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

// The race set-up record: lists end at "NONE", texts are cut, indices outside the tables change nothing.
TEST_F(GameSetupTest, TheRaceSetUpListsEndAtNoneCutLongTextsAndIgnoreBadIndices)
{
    GameSetup_SetLevel("level4.cfg", 0);
    GameSetup_SetPlayerTuning3(5, 9.0f);
    GameSetup_SetEngineClass(2);
    GameSetup_Reset();
    const GameSetupRecord* r = GameSetup_Get();
    for (int i = 0; i < GAMESETUP_LEVELS; i++) EXPECT_STREQ(r->levels[i], "NONE") << i;
    for (int p = 0; p < GAMESETUP_PLAYERS; p++) EXPECT_STREQ(r->vehicleConfig[p], "NONE");
    EXPECT_EQ(r->tuning[5][3], r->tuning[0][3]);  // the tuning set on player 5 went
    EXPECT_EQ(GameSetup_GetEngineClass(), 0u);
    EXPECT_TRUE(GameSetup_IsListEnd(0));
    for (int i = 0; i < 2; i++) GameSetup_SetPlayerFlag(1, 3);
    EXPECT_EQ(GameSetup_Get()->playerFlags[3], 1u);  // bit 0 only
    GameSetup_SetPlayerFlag(0, 3);
    EXPECT_EQ(GameSetup_Get()->playerFlags[3], 0u);
    std::string longText(2000, 'x');
    GameSetup_SetLevel(longText.c_str(), 7);
    GameSetup_SetVehicleConfig(longText.c_str(), 7);
    EXPECT_EQ(strlen(GameSetup_GetLevel(7)) + strlen(GameSetup_Get()->vehicleConfig[7]), 2 * 1023u);
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
    const std::tuple<const char*, const char*, bool, bool> cases[] = {
        // line, standard, plays with PAL on, off
        {"intro,TRUE,PAL", "PAL", true, false},    {"intro,TRUE,PAL2x", "PAL", true, false},
        {"intro,FALSE,NTSC", "NTSC", false, true}, {"intro,TRUE", "", true, true},
        {"intro,TRUE,SECAM", "SECAM", true, true}, {"intro,TRUE,2PAL", "", true, true},
    };
    for (auto [line, standard, palOn, palOff] : cases) {
        std::string text = line;
        GameMovie movie;
        ASSERT_EQ(Game_ParseMovieLine(text.data(), &movie), 1) << line;
        EXPECT_STREQ(movie.name, "intro");
        EXPECT_STREQ(movie.standard, standard) << line;
        EXPECT_EQ(Game_MovieShouldPlay(&movie, 1), palOn ? 1 : 0) << line;
        EXPECT_EQ(Game_MovieShouldPlay(&movie, 0), palOff ? 1 : 0) << line;
    }
}

// Logo lines: name, time, then two flags with their defaults; every logo of the list goes to the shell.
TEST_F(GameSetupTest, LogoLinesGiveNameTimeAndTwoFlagsWithTheirDefaults)
{
    struct Case {  // name "" when refused
        const char *line, *name;
        float time;
        int fade, skippable;
    } cases[] = {
        {"Logos\\Studio.bmp,3.5,FALSE,TRUE", "Logos\\Studio.bmp", 3.5f, 0, 1},
        {"Logos\\Maker.bmp", "Logos\\Maker.bmp", 0, 1, 0},
        {" Logos\\X.png , 2 , yes", "Logos\\X.png", 2.0f, 1, 0},
        {"", "", 0, 0, 0},
        {" ,4", "", 0, 0, 0},
    };
    for (const Case& c : cases) {
        std::string text = c.line;
        GameLogo logo{};
        ASSERT_EQ(Game_ParseLogoLine(text.data(), &logo), c.name[0] ? 1 : 0) << c.line;
        EXPECT_STREQ(logo.name, c.name);
        EXPECT_EQ(std::make_tuple(logo.time, logo.fade, logo.skippable), std::make_tuple(c.time, c.fade, c.skippable));
    }
    static std::vector<std::string> shown;
    shown.clear();
    AppHooks hooks = {};
    hooks.spriteLoad = [](const char* name, int32_t) -> Sprite* {
        shown.push_back(name);
        return nullptr;
    };
    AppHooks_Install(&hooks);
    WriteData("configs/logos.cfg", "One.bmp,1\r\n\r\nTwo.bmp,2,TRUE,TRUE\nThree.bmp");
    Game_LoadLogos();
    EXPECT_EQ(shown, (std::vector<std::string>{"One.bmp", "Two.bmp", "Three.bmp"}));
    // The unlocked list opens only valid entries; the character list cuts a long line and skips its rest.
    // "Character N STARS" locks character N until that many stars; bad lines lock nothing and a new read
    // starts every character open.
    Character_SetLocked(1, 1);
    WriteData("Unlocked.cfg",
              "0,3,x,7\r\n-1,150, 149 ,99999999999\nCharacter 5 500\r\ncharacter 8 20\n"
              "Character 9 5\nCharacter 3 0\nCharacter 4\n");
    Game_InitProgress();
    for (int e = 0; e < GAME_PROGRESS_ENTRIES; e++)
        EXPECT_EQ(Progress_IsLocked(e), e == 3 || e == 7 || e == 149 ? 0 : 1) << e;
    for (int c = 0; c < GAME_CHARACTERS; c++) {
        EXPECT_EQ(Character_IsLocked(c), c == 4 || c == 7) << c;
        EXPECT_EQ(Character_GetStarsNeeded(c), c == 4 ? 500u : c == 7 ? 20u : 0u) << c;
    }
    Character_UnlockEarned(499);  // the stars open what they reach
    EXPECT_EQ(Character_CountUnlocked(), 7);
    Character_UnlockEarned(500);
    EXPECT_EQ(Character_CountUnlocked(), 8);
    WriteData("CharList.txt", "Frog\r\n\nToad\n" + std::string(400, 'Z') + "\nA\nB\nC\nD\nE\nF\nG\n");
    Game_LoadCharacterList();
    GameContext* ctx = Game_GetContext();
    EXPECT_STREQ(ctx->characterNames[1], "Toad");
    EXPECT_EQ(strlen(ctx->characterNames[2]), (size_t)GAME_CHARACTER_NAME - 1);
    EXPECT_STREQ(ctx->characterNames[3], "A");
}

// Switches are read without being removed; a direct start chooses the request, the type and the level list.
TEST_F(GameSetupTest, DirectStartsChooseTheRequestTheTypeAndTheLevelList)
{
    App_ParseCommandLine("-WadProcess -PlayerConfig p.cfg -LevelConfig l.cfg -TestProcess");
    Game_ReadSwitches();
    EXPECT_EQ(Game_GetWadProcess() + Game_GetTestProcess() * 2 + Game_GetPlatformProcess() * 4, 3);
    EXPECT_STREQ(Game_GetPlayerConfig(), "p.cfg");
    EXPECT_STREQ(Game_GetLevelConfig(), "l.cfg");
    int32_t count = 0;
    App_GetCommandLine(&count);
    EXPECT_EQ(count, 6);
    const std::tuple<const char*, uint32_t, uint32_t, const char*> cases[] = {
        // command line, request, type, entry 0
        {"-leveltype Glim -levelnumber 3", GAME_REQUEST_LEVEL, GAMESTATE_GLIM, "level3.cfg"},
        {"-leveltype glim -levelnumber 12 -levelvariant 2", GAME_REQUEST_LEVEL, GAMESTATE_GLIM, "level12.cfg"},
        {"-leveltype Start -levelnumber 0", GAME_REQUEST_NONE, GAMESTATE_START, ""},
        {"-leveltype OPTIONS -levelnumber 0", GAME_REQUEST_NONE, GAMESTATE_OPTIONS, ""},
        {"-leveltype FrontEnd -levelnumber 1", GAME_REQUEST_FRONTEND, GAMESTATE_START, ""},
        {"-leveltype Nowhere -levelnumber 1", GAME_REQUEST_FRONTEND, GAMESTATE_START, ""},
        {"-leveltype Glim", GAME_REQUEST_FRONTEND, GAMESTATE_START, ""},
        {"-focus -playerset 1", GAME_REQUEST_FRONTEND, GAMESTATE_START, ""},
        {"-focus 1 -playerset 2", GAME_REQUEST_FRONTEND, GAMESTATE_START, ""},
    };
    for (auto [commandLine, request, type, entry0] : cases) {
        ResetGame();
        Game_LoadCharacterList();
        Game_GetContext()->gameStateType = GAMESTATE_START;
        App_ParseCommandLine(commandLine);
        Game_ApplyStartArguments();
        EXPECT_EQ(Game_GetRequestedState(), request) << commandLine;
        EXPECT_EQ(Game_GetContext()->gameStateType, type) << commandLine;
        EXPECT_STREQ(GameSetup_GetLevel(0), entry0) << commandLine;
        EXPECT_STREQ(GameSetup_GetLevel(1), type == GAMESTATE_GLIM ? "NONE" : "") << commandLine;
    }
    // Player set 2 is past the eight characters: character 0 stays.
    EXPECT_EQ(std::make_tuple(App_GetState()->runWhenInactive, Game_GetContext()->characters[0],
                              Game_FindStateType("GameState_Type_Glim"), Game_GetStateTypeName(0)),
              std::make_tuple(1u, 0, -1, nullptr));
}

}  // namespace

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
