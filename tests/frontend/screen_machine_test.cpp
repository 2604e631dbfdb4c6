// The screen machine: change timing and fades, focus moves, the history,
// the attract timer, the Credits sequences and Escape on Main.
#include "frontend/screen_machine.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/sound.h"
#include "frontend_fixture.h"
#include "game/memcard_ui.h"
#include "game/race_setup.h"
#include "platform/dsound/dsound.h"

namespace {

using namespace fetest;

// Title, then Main.
void ToMain()
{
    ASSERT_EQ(Current(), FRONTEND_TITLE);
    Press(kSelect);
    ASSERT_EQ(Current(), FRONTEND_MAIN);
}

// From Main (whatever its focus), the item `n` of Main (0 PlayGame, 1 Options, 2 LoadSave, 3
// Credits, 4 Tutorial_Levels).
void Choose(int n)
{
    for (int i = 0; i < 4; i++) Press(kUp);
    for (int i = 0; i < n; i++) Press(kDown);
    Press(kSelect);
}

TEST_F(FrontEndTest, WithoutFadesAChoiceChangesTheScreenOnTheNextFrame)
{
    PlayFrontEnd([] {
        // Title's select asks for Main; the change step of the next frame makes it.
        Step({kSelect});
        EXPECT_EQ(Current(), FRONTEND_TITLE);
        EXPECT_EQ(Fe()->requested, FRONTEND_MAIN);
        Step({});
        EXPECT_EQ(Current(), FRONTEND_MAIN);
        Step({kSelect});
        EXPECT_EQ(Current(), FRONTEND_MAIN);
        Step({});
        EXPECT_EQ(Current(), FRONTEND_PLAYGAME);
        EXPECT_TRUE(Heard("ScreenChange"));
    });
}

TEST_F(FrontEndTest, AFadeEntryScreenFadesOutThenInAndIgnoresInputMeanwhile)
{
    PlayFrontEnd(fedata::Screen("FrontEnd_Options", " FadeEntry = TRUE\n" + fedata::Items(4, "Pos = 1, 1")), [] {
        ToMain();
        Choose(1);  // the select frame and one more: the fade-out has begun
        float out = kDt;
        while (Current() == FRONTEND_MAIN && out < 2.0f) {
            Step({});
            out += kDt;
        }
        EXPECT_GE(out, 1.25f / 4.0f);
        EXPECT_LE(out, 1.25f / 4.0f + 3 * kDt);
        ASSERT_EQ(Current(), FRONTEND_OPTIONS);
        FrontEndScreen* options = FrontEnd_CurrentScreen();
        EXPECT_GT(options->fade, 1.0f);
        // Fading in: focus moves and back are ignored.
        Press(kDown);
        EXPECT_EQ(Focus(), 0);
        Press(kBack);
        EXPECT_EQ(Current(), FRONTEND_OPTIONS);
        Wait(0.4f);
        EXPECT_EQ(options->fade, 0.0f);
        Press(kDown);
        EXPECT_EQ(Focus(), 1);
    });
}

TEST_F(FrontEndTest, FocusSkipsIgnoredItemsStopsAtTheEndsAndIsSilentThen)
{
    PlayFrontEnd(fedata::Screen("FrontEnd_Options",
                                " Item0 {\n }\n Item1 {\n  Style = Ignore\n }\n Item2 {\n }\n"
                                " Item3 {\n  Style = Ignore\n }\n"),
                 [] {
                     ToMain();
                     Choose(1);
                     ASSERT_EQ(Current(), FRONTEND_OPTIONS);
                     struct Step {
                         uint8_t key;
                         int focus;
                         bool sound;
                     } steps[] = {{kDown, 2, true}, {kDown, 2, false}, {kUp, 0, true}, {kUp, 0, false}};
                     for (const Step& s : steps) {
                         ClearSounds();
                         Press(s.key);
                         EXPECT_EQ(Focus(), s.focus);
                         EXPECT_EQ(Heard("MoveFocus"), s.sound) << (int)s.key;
                     }
                 });
}

TEST_F(FrontEndTest, BackWalksTheHistoryAndAnEmptyOneOnlyPlaysTheSound)
{
    PlayFrontEnd([] {
        ToMain();
        EXPECT_EQ(FrontEnd_HistoryCount(), 0);  // Title's select remembers nothing
        Choose(1);
        Press(kDown);
        Press(kDown);
        Press(kSelect);  // GameOptions
        ASSERT_EQ(Current(), FRONTEND_GAMEOPTIONS);
        EXPECT_EQ(FrontEnd_HistoryCount(), 2);
        const int32_t expected[] = {FRONTEND_OPTIONS, FRONTEND_MAIN, FRONTEND_MAIN};
        for (int32_t screen : expected) {
            ClearSounds();
            Press(kBack);
            EXPECT_EQ(Current(), screen);
            EXPECT_TRUE(Heard("ScreenChange"));
        }
        EXPECT_EQ(FrontEnd_HistoryCount(), 0);
    });
}

TEST_F(FrontEndTest, AFullHistoryDropsItsOldestEntryAndBackStillReturns)
{
    PlayFrontEnd([] {
        // Twenty nested pushes from screens 3, 4, 5, ...: the last 16 stay.
        for (int i = 0; i < 20; i++) {
            Fe()->current = 3 + i % 17;
            FrontEnd_PushScreen(FRONTEND_OPTIONS, 1);
        }
        EXPECT_EQ(FrontEnd_HistoryCount(), FRONTEND_HISTORY);
        for (int i = 19; i >= 4; i--) {
            FrontEnd_PopScreen();
            EXPECT_EQ(Fe()->requested, 3 + i % 17) << i;
        }
        Fe()->requested = FRONTEND_OPTIONS;
        FrontEnd_PopScreen();
        EXPECT_EQ(Fe()->requested, FRONTEND_OPTIONS);  // empty: nothing changes
    });
}

TEST_F(FrontEndTest, TheHistoryLivesAcrossALevelAndOnlyThere)
{
    WriteFrontEnd(fedata::Screen("Tutorial_Levels",
                                 " Item0 {\n  UserData = level1.cfg\n  Link = FrontEnd_Launch\n }\n"
                                 " Item1 {\n  UserData = level2.cfg\n  Link = FrontEnd_Launch\n }\n"));
    // An earlier run's history is cleared on entry.
    for (int i = 0; i < 5; i++) FrontEnd_GetMemory()->history[i] = 4;
    RunFrontEnd([] {
        StartFrontEnd();
        EXPECT_EQ(FrontEnd_HistoryCount(), 0);
        ToMain();
        Choose(4);
        ASSERT_EQ(Current(), FRONTEND_TUTORIAL_LEVELS);
        Press(kDown);
        Press(kSelect);
        Wait(2.0f);
        EXPECT_EQ(Fe(), nullptr);  // Launch left the front end
        EXPECT_STREQ(GameSetup_GetLevel(0), "level2.cfg");
        EXPECT_EQ(Game_GetRequestedState(), (uint32_t)GAME_REQUEST_LEVEL);
        ASSERT_EQ(FrontEnd_HasSavedHistory(), 1);

        EnterAgain();
        ASSERT_NE(Fe(), nullptr);
        EXPECT_EQ(Current(), FRONTEND_TUTORIAL_LEVELS);
        EXPECT_EQ(Focus(), 1);  // the restored screen keeps its focus
        EXPECT_EQ(FrontEnd_HasSavedHistory(), 0);
        Press(kBack);
        EXPECT_EQ(Current(), FRONTEND_MAIN);

        // A full history whose last entry is the current screen: that entry
        // is left out of the saved copy.
        FrontEndMemory* m = FrontEnd_GetMemory();
        for (int i = 0; i < FRONTEND_HISTORY; i++) m->history[i] = i == FRONTEND_HISTORY - 1 ? FRONTEND_MAIN : 4;
        FrontEnd_SaveHistory();
        EXPECT_EQ(m->savedHistory[FRONTEND_HISTORY - 1], -1);
        EXPECT_EQ(m->savedHistory[FRONTEND_HISTORY - 2], 4);
        EXPECT_EQ(m->savedCurrent, FRONTEND_MAIN);
    });
}

int FixedRandom() { return 7; }

TEST_F(FrontEndTest, TheAttractDemoStartsOnlyOnTitleAfterItsWaitWithoutInput)
{
    WriteFrontEnd("", 2.0f);
    RunFrontEnd([] {
        Game_SetRandomSource(FixedRandom);
        for (int c = 0; c < GAME_CHARACTERS; c++) Character_SetLocked(c, c != 2 && c != 5);  // two unlocked
        StartFrontEnd();
        Wait(1.5f);
        Press(kDown);  // menu input: the countdown starts again
        Wait(1.5f);
        EXPECT_EQ(Current(), FRONTEND_TITLE);
        Wait(0.7f);
        EXPECT_EQ(Fe()->requested, FRONTEND_LAUNCH);
        // list[rand() % unlocked], literally: 7 % 2 = 1, "Rusk"; track 7 % 5 + 1.
        EXPECT_STREQ(GameSetup_Get()->vehicleConfig[0], "Vehicles\\Config\\50cc\\Rusk.cfg");
        EXPECT_STREQ(GameSetup_GetLevel(0), "LandScape\\Track03\\T03_Day_Forwards.cfg");
        EXPECT_STREQ(GameSetup_GetLevel(1), "NONE");
        EXPECT_EQ(FrontEnd_GetMemory()->visited, 0u);  // the front end comes back on Title
        // Player 0 alone, computer-driven with the drawn character, in a list
        // marked as the demo's.
        EXPECT_EQ(GameSetup_IsDemo(), 1);
        const GameContext* ctx = Game_GetContext();
        EXPECT_EQ(ctx->playerKinds[0], (uint32_t)PLAYER_KIND_COMPUTER);
        EXPECT_EQ(ctx->playerKinds[1], (uint32_t)PLAYER_KIND_NONE);
        EXPECT_EQ(ctx->characters[0], 1);
        EXPECT_EQ(ctx->playerCount, 1u);
    });
}

TEST_F(FrontEndTest, WithEveryCharacterLockedTheDemoTakesTheFirst)
{
    WriteFrontEnd("", 1.0f);
    RunFrontEnd([] {
        for (int c = 0; c < GAME_CHARACTERS; c++) Character_SetLocked(c, 1);
        StartFrontEnd();
        Wait(1.2f);
        EXPECT_STREQ(GameSetup_Get()->vehicleConfig[0], "Vehicles\\Config\\50cc\\Wenna.cfg");
        // Main has no demo.
        FrontEnd_GetMemory()->visited = 1;
    });
}

// The letters' keys: U D L R, A select, B action 5.
void Enter(const char* sequence, float gap = 0.0f)
{
    for (const char* c = sequence; *c; c++) {
        uint8_t key = *c == 'U'   ? kUp
                      : *c == 'D' ? kDown
                      : *c == 'L' ? kLeft
                      : *c == 'R' ? kRight
                      : *c == 'A' ? kSelect
                                  : kAction5;
        Press(key);
        if (gap > 0 && c == sequence + 5) Wait(gap);
    }
}

// CompletedGame as shipped: it fades in and its item leads on to Credits,
// so a sequence's last select must not also select there.
TEST_F(FrontEndTest, CreditsSequencesWorkOnlyWithinASecondBetweenPressesAndTheirLastPressIsSpent)
{
    PlayFrontEnd(
        fedata::Screen("FrontEnd_CompletedGame", " FadeEntry = TRUE\n Item0 {\n  Link = FrontEnd_Credits\n }\n"), [] {
            ToMain();
            Choose(3);
            ASSERT_EQ(Current(), FRONTEND_CREDITS);
            Progress_SetLocked(7, 1);
            Enter("LRUDBADULRBA", 1.1f);  // a gap: lost
            EXPECT_EQ(Progress_IsLocked(7), 1);
            EXPECT_EQ(Current(), FRONTEND_CREDITS);

            struct Case {
                const char* sequence;
                bool completedScreen;
            } cases[] = {{"LRUDBADULRBA", true},
                         {"RLBAUDRLDUAB", true},
                         {"ABRDULBARLDU", true},
                         {"DLURABDLURBA", false},
                         {"LDRUBALDRUAB", true}};
            for (const Case& c : cases) {
                ClearSounds();
                Enter(c.sequence);
                EXPECT_TRUE(Heard("Cheat")) << c.sequence;
                Wait(1.0f);
                EXPECT_EQ(Current(), c.completedScreen ? FRONTEND_COMPLETEDGAME : FRONTEND_CREDITS) << c.sequence;
                if (c.completedScreen) {
                    // Back from CompletedGame: Main, then Credits again.
                    Press(kBack);
                    Wait(0.5f);
                    EXPECT_EQ(Current(), FRONTEND_CREDITS);
                    Press(kBack);
                    Wait(0.5f);  // Main fades in
                    EXPECT_EQ(Current(), FRONTEND_MAIN);
                    Choose(3);
                }
            }
            EXPECT_EQ(Progress_IsLocked(7), 0);
            EXPECT_EQ(Game_GetHiddenFlag(), 1u);
            EXPECT_EQ(Progress_TestFlags(100, PROGRESS_HIDDEN_RULE), 1);
        });
}

TEST_F(FrontEndTest, ASaveScreenItemPushesTheSaveScreensOverTheFrontEnd)
{
    WriteFrontEnd();
    // The title music, a stream in the working folder.
    Write("Streams/Title.wav", wavefile::Make(wavefile::Layout{}, wavefile::Samples16(std::vector<int16_t>(44100, 0))));
    RunFrontEnd([] {
        StartFrontEnd();
        ToMain();
        Choose(2);
        ASSERT_EQ(Current(), FRONTEND_LOADSAVE);
        Game_GetContext()->lastInputPlayer = 0;
        Press(kSelect);  // "MemCardUIMode_Save": a mode, no screen
        EXPECT_EQ(Current(), FRONTEND_LOADSAVE);
        ASSERT_EQ(State_GetCurrent()->update, MemCardUI_StateUpdate);
        EXPECT_EQ(Fe()->musicWaiting, 1u);
        EXPECT_EQ(Game_GetContext()->controllingPlayer, 0);
        Game_GetContext()->musicVolume = 0.25f;  // as a load brings it
        MemCardUI_SetMode(MEMCARD_MODE_NONE);
        Step({});
        Step({});
        EXPECT_EQ(State_GetCurrent()->update, FrontEnd_Update);
        EXPECT_EQ(Fe()->musicWaiting, 0u);  // the music goes on, at the volume the saves left
        ASSERT_NE(Fe()->music, nullptr);
        int32_t level = 1;
        ASSERT_EQ(Fe()->music->buffer->GetVolume(&level), DS_OK);
        EXPECT_EQ(level, Sound_LevelFromVolume(0.25f));
        EXPECT_EQ(Game_GetContext()->controllingPlayer, GAME_ANY_PLAYER);
    });
}

TEST_F(FrontEndTest, EscapeOnMainLeavesWithNoStateToFollow)
{
    PlayFrontEnd([] {
        Step({kEscape});  // on Title: nothing
        EXPECT_EQ(Current(), FRONTEND_TITLE);
        Step({});
        ToMain();
        Game_GetContext()->gameStateType = GAMESTATE_FRONTEND;
        Game_GetContext()->inputLocked = 1;
        Step({kEscape});
        EXPECT_NE(Fe(), nullptr);  // input locked
        Step({});
        Game_GetContext()->inputLocked = 0;
        Step({kEscape});
        EXPECT_EQ(Fe(), nullptr);
        EXPECT_EQ(Game_GetContext()->gameStateType, (uint32_t)GAMESTATE_NONE);
        EXPECT_EQ(Game_GetRequestedState(), (uint32_t)GAME_REQUEST_NONE);
    });
}

}  // namespace
