// The screen machine (its history, the Credits sequences), the controller and sound options.
#include "frontend/screen_machine.h"
#include "frontend/option_screens.h"

#include <cstring>
#include <tuple>

#include "app/sound.h"
#include "frontend_fixture.h"
#include "game/memcard_ui.h"
#include "game/race_setup.h"
#include "platform/dsound/dsound.h"

namespace {

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

// Left alone, the title starts the attract demo after DemoWaitTime; a key there starts the count again.
// The demo draws its character among the unlocked ones, each of them in time, whichever are locked
// (a new game's last four, or others).
TEST_F(FrontEndTest, AKeyOnTheTitleRestartsTheAttractCountdown)
{
    WriteFrontEnd("", 5.0f);
    RunFrontEnd([] {
        fetest::StartFrontEnd();
        Wait(4.0f);
        Press(kLeft);
        Wait(4.0f);
        ASSERT_TRUE(Fe() && Fe()->requested == FRONTEND_TITLE) << "the demo started while a player pressed keys";
        Wait(1.5f);
        EXPECT_EQ(Fe()->requested, FRONTEND_LAUNCH);
        for (const uint32_t locks : {0xF0u, 0x5Au, 0u}) {
            for (int c = 0; c < GAME_CHARACTERS; c++) Character_SetLocked(c, (int)(locks >> c & 1));
            uint32_t drawn = 0;
            for (int i = 0; i < 100; i++) {
                Fe()->current = FRONTEND_TITLE;
                FrontEnd_UpdateAttractTimer(6.0f);  // past DemoWaitTime: a demo starts
                drawn |= 1u << Game_GetContext()->characters[0];
            }
            EXPECT_EQ(drawn, ~locks & 0xFFu) << "locks " << locks;
        }
    });
}

// The letters' keys: U D L R, A select, B action 5.
void Enter(const char* sequence, float gap = 0.0f)
{
    const char* letters = "UDLRAB";
    const uint8_t keys[] = {kUp, kDown, kLeft, kRight, kSelect, kAction5};
    for (const char* c = sequence; *c; c++) {
        Press(keys[strchr(letters, *c) - letters]);
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

            // The sequence; it opens the completed-game screen.
            const std::tuple<const char*, bool> cases[] = {{"LRUDBADULRBA", true},
                                                           {"RLBAUDRLDUAB", true},
                                                           {"ABRDULBARLDU", true},
                                                           {"DLURABDLURBA", false},
                                                           {"LDRUBALDRUAB", true}};
            for (const auto& [sequence, completedScreen] : cases) {
                ClearSounds();
                Enter(sequence);
                EXPECT_TRUE(Heard("Cheat")) << sequence;
                Wait(1.0f);
                EXPECT_EQ(Current(), completedScreen ? FRONTEND_COMPLETEDGAME : FRONTEND_CREDITS) << sequence;
                if (completedScreen) {
                    // Back from CompletedGame: Credits, then Main (fading in).
                    for (int32_t screen : {FRONTEND_CREDITS, FRONTEND_MAIN}) {
                        Press(kBack);
                        Wait(0.5f);
                        EXPECT_EQ(Current(), screen);
                    }
                    Choose(3);
                }
            }
            EXPECT_EQ(Progress_IsLocked(7), 0);
            EXPECT_EQ(Game_GetHiddenFlag(), 1u);
            EXPECT_EQ(Progress_TestFlags(100, PROGRESS_HIDDEN_RULE), 1);
        });
}

// From Options (reached from Main), the option item n.
void OpenOption(int n)
{
    Open(FRONTEND_OPTIONS);
    for (int i = 0; i < n; i++) Press(kDown);
    Press(kSelect);
}

TEST_F(FrontEndTest, ControllerOptionsKeepTheLayoutInRangeAndApplyItOnConfirm)
{
    WriteFrontEnd(fedata::Screen("FrontEnd_GameOptions", " TextFile_PC = Game.tdf\n" + fedata::Items(3, "Pos = 1, 1")));
    WriteConfig("Game.tdf",
                "Section0 {\n DisplayTime = 0.2\n}\nSection1 {\n DisplayTime = 0.2\n}\n"
                "Section2 {\n DisplayTime = 0.2\n}\n");
    RunFrontEnd([] {
        Player_SetControlPreset(0, 1);
        StartFrontEnd();
        OpenOption(0);
        ASSERT_EQ(Current(), FRONTEND_CONTROLLEROPTIONS);
        const FrontEndModelScreen& m = Fe()->model;
        EXPECT_EQ(m.cursor, 1);  // the player's preset
        EXPECT_EQ(Game_GetContext()->controllingPlayer, 0);
        const struct {
            uint8_t key;
            int cursor;
        } steps[] = {{kRight, 2}, {kRight, 2}, {kLeft, 1}, {kLeft, 0}, {kLeft, 0}, {kRight, 1}, {kRight, 2}};
        for (const auto& s : steps) {
            Press(s.key);
            EXPECT_EQ(m.cursor, s.cursor);
        }
        Step({kSelect});
        EXPECT_EQ(Player_GetControlPreset(0), 1);  // not yet
        EXPECT_EQ(Current(), FRONTEND_CONTROLLEROPTIONS);
        Step({});
        EXPECT_EQ(Player_GetControlPreset(0), 2);
        Step({});
        EXPECT_EQ(Current(), FRONTEND_OPTIONS);
        EXPECT_EQ(Game_GetContext()->controllingPlayer, GAME_ANY_PLAYER);
        // The second controller screen shows its items in turn, one a second.
        OpenOption(1);
        ASSERT_EQ(Current(), FRONTEND_CONTROLLEROPTIONS2);
        for (int shown : {1, 2, 0}) {
            Wait(1.0f);
            EXPECT_EQ(m.shown, shown);
        }
        // The game options store the focused difficulty on a select only, and show the one set.
        Game_SetDifficulty(1);
        OpenOption(2);
        ASSERT_EQ(Current(), FRONTEND_GAMEOPTIONS);
        const TextFile& shown = FrontEnd_CurrentScreen()->text;
        Press(kDown);
        Wait(0.5f);
        EXPECT_EQ(std::make_pair(Game_GetDifficulty(), shown.current), std::make_pair(1u, 1));
        Press(kSelect);
        Wait(0.5f);
        EXPECT_EQ(std::make_pair(Game_GetDifficulty(), shown.current), std::make_pair(2u, 2));
    });
}

// Holds the key on SoundOptions until `done` or 3 s; the seconds taken.
template <typename Done>
float Hold(uint8_t key, Done done)
{
    float t = 0;
    while (!done() && t < 3.0f) {
        Step({key});
        t += kDt;
    }
    Step({});
    return t;
}

TEST_F(FrontEndTest, SoundOptionsStepInSixteenthsRestoreOnBackAndSaveOnConfirm)
{
    // The screen's text file shows the two-state option: a section per value.
    WriteFrontEnd(
        fedata::Screen("FrontEnd_SoundOptions", " TextFile_PC = Sound.tdf\n" + fedata::Items(3, "Pos = 1, 1")));
    WriteConfig("Sound.tdf", "Section0 {\n DisplayTime = 100\n}\nSection1 {\n DisplayTime = 100\n}\n");
    RunFrontEnd([] {
        GameContext* ctx = Game_GetContext();
        ctx->musicVolume = 0.0f;
        ctx->effectsVolume = 0.5f;
        StartFrontEnd();
        OpenOption(3);
        ASSERT_EQ(Current(), FRONTEND_SOUNDOPTIONS);
        // Music from 0 to 1: 16 steps, one every 0.1 s.
        float t = Hold(kRight, [&] { return ctx->musicVolume >= 1.0f; });
        EXPECT_EQ(ctx->musicVolume, 1.0f);
        EXPECT_NEAR(t, 1.6f, kDt + 0.001f);
        Press(kDown);
        Press(kLeft);
        EXPECT_EQ(ctx->effectsVolume, 0.4375f);
        EXPECT_EQ(Sound_GetMasterVolume(), 0.4375f);
        Press(kDown);
        ClearSounds();
        const TextFile& state = FrontEnd_CurrentScreen()->text;
        EXPECT_EQ(state.current, 0);
        Press(kLeft);
        EXPECT_EQ(ctx->twoStateOption, 1u);
        EXPECT_EQ(state.current, 1);
        EXPECT_TRUE(Heard("Generic"));
        Wait(0.2f);
        Press(kRight);
        EXPECT_EQ(state.current, 0);
        // Back restores both.
        Press(kBack);
        EXPECT_EQ(std::make_tuple(Current(), ctx->musicVolume, ctx->effectsVolume, Sound_GetMasterVolume()),
                  std::make_tuple(FRONTEND_OPTIONS, 0.0f, 0.5f, 0.5f));

        // Confirm without a save: no autosave.
        Press(kSelect);
        ASSERT_EQ(Current(), FRONTEND_SOUNDOPTIONS);
        Press(kSelect);
        Step({});
        EXPECT_EQ(Current(), FRONTEND_OPTIONS);
        EXPECT_EQ(MemCardUI_GetPendingMode(), (uint32_t)MEMCARD_MODE_NONE);
        EXPECT_EQ(MemCardUITest_GetAutosaveRequests(), 1u);

        // Effects down to 0: the master volume stays until the confirm sets it. The autosave it starts waits
        // until Options have faded in: its panel stands on them, not on the fade's white.
        MemCardUI* card = MemCardUI_Get();
        card->autosaveEnabled = 1;
        card->autosaveLetter = 'A';
        card->autosaveFile = 0;
        Press(kSelect);
        Press(kDown);
        Hold(kLeft, [&] { return ctx->effectsVolume == 0.0f; });
        EXPECT_EQ(Sound_GetMasterVolume(), 0.0625f);
        Fe()->screens[FRONTEND_OPTIONS].fadeEntry = 1;
        Step({kSelect});
        for (int i = 0; i < 40 && State_GetCurrent() != card->state; i++) Step({});
        ASSERT_EQ(State_GetCurrent(), card->state);
        EXPECT_EQ(Fe()->screens[FRONTEND_OPTIONS].fade, 0.0f);
        EXPECT_EQ(Sound_GetMasterVolume(), 0.0f);
        EXPECT_EQ(MemCardUITest_GetAutosaveRequests(), 2u);
    });
}

}  // namespace
