// The option screens: controller presets, the turning model, the
// difficulty and the sound options with their confirm step.
#include "frontend/option_screens.h"

#include <gtest/gtest.h>

#include "app/sound.h"
#include "frontend_fixture.h"
#include "game/ingame_menu.h"
#include "game/memcard_ui.h"

namespace {

using namespace fetest;

// From Options (reached from Main), the option item n.
void OpenOption(int n)
{
    Fe()->current = FRONTEND_MAIN;
    FrontEnd_PushScreen(FRONTEND_OPTIONS, 1);
    Step({});
    for (int i = 0; i < n; i++) Press(kDown);
    Press(kSelect);
}

TEST_F(FrontEndTest, ControllerOptionsKeepTheLayoutInRangeAndApplyItOnConfirm)
{
    WriteFrontEnd();
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
    });
}

TEST_F(FrontEndTest, ModelScreensRunWithoutModelsOrItems)
{
    WriteFrontEnd(fedata::Screen("FrontEnd_ControllerOptions2", ""));
    RunFrontEnd([] {
        StartFrontEnd();
        OpenOption(1);
        ASSERT_EQ(Current(), FRONTEND_CONTROLLEROPTIONS2);
        Wait(2.5f);  // each second the next item: none to show
        EXPECT_EQ(Fe()->model.shown, 0);
        Press(kBack);
        EXPECT_EQ(Current(), FRONTEND_OPTIONS);
    });
}

TEST_F(FrontEndTest, ControllerOptions2ShowsItsItemsInTurn)
{
    WriteFrontEnd();
    RunFrontEnd([] {
        StartFrontEnd();
        OpenOption(1);
        const int expected[] = {1, 2, 0};
        for (int shown : expected) {
            Wait(1.0f);
            EXPECT_EQ(Fe()->model.shown, shown);
        }
    });
}

TEST_F(FrontEndTest, GameOptionsStoreTheDifficulty)
{
    WriteFrontEnd();
    RunFrontEnd([] {
        Game_SetDifficulty(1);
        StartFrontEnd();
        OpenOption(2);
        ASSERT_EQ(Current(), FRONTEND_GAMEOPTIONS);
        EXPECT_EQ(Focus(), 1);
        Press(kDown);
        EXPECT_EQ(Game_GetDifficulty(), 1u);  // a move alone stores nothing
        Press(kSelect);
        EXPECT_EQ(Game_GetDifficulty(), 2u);
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
    WriteFrontEnd();
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
        Press(kLeft);
        EXPECT_EQ(ctx->twoStateOption, 1u);
        EXPECT_TRUE(Heard("Generic"));
        // Back restores both.
        Press(kBack);
        EXPECT_EQ(Current(), FRONTEND_OPTIONS);
        EXPECT_EQ(ctx->musicVolume, 0.0f);
        EXPECT_EQ(ctx->effectsVolume, 0.5f);
        EXPECT_EQ(Sound_GetMasterVolume(), 0.5f);

        // Confirm without a save: no autosave.
        Press(kSelect);
        ASSERT_EQ(Current(), FRONTEND_SOUNDOPTIONS);
        Press(kSelect);
        Step({});
        EXPECT_EQ(Current(), FRONTEND_OPTIONS);
        EXPECT_EQ(MemCardUI_GetPendingMode(), (uint32_t)MEMCARD_MODE_NONE);
        EXPECT_EQ(MemCardUITest_GetAutosaveRequests(), 1u);

        // Effects down to 0: the master volume stays until the confirm sets it.
        MemCardUI* card = MemCardUI_Get();
        card->autosaveEnabled = 1;
        card->autosaveLetter = 'A';
        card->autosaveFile = 0;
        Press(kSelect);
        Press(kDown);
        Hold(kLeft, [&] { return ctx->effectsVolume == 0.0f; });
        EXPECT_EQ(Sound_GetMasterVolume(), 0.0625f);
        Step({kSelect});
        Step({});
        EXPECT_EQ(Sound_GetMasterVolume(), 0.0f);
        EXPECT_EQ(MemCardUITest_GetAutosaveRequests(), 2u);
        EXPECT_EQ(MemCardUI_GetPendingMode(), (uint32_t)MEMCARD_MODE_AUTOSAVE);
    });
}

// With a fade the change to the screen a confirm pops to takes several
// frames; the confirm pops once, to the screen the options came from. The
// autosave it starts waits for the fade, so its panel stands on Options as
// they are drawn, not on the fade's white.
TEST_F(FrontEndTest, SoundOptionsConfirmedDuringAFadeReturnOnlyOneScreen)
{
    WriteFrontEnd(fedata::Screen("FrontEnd_SoundOptions", " FadeEntry = TRUE\n" + fedata::Items(3, "Pos = 1, 1")));
    RunFrontEnd([] {
        StartFrontEnd();
        OpenOption(3);
        Wait(1.0f);
        ASSERT_EQ(Current(), FRONTEND_SOUNDOPTIONS);
        MemCardUI* card = MemCardUI_Get();
        card->autosaveEnabled = 1;
        card->autosaveLetter = 'A';
        card->autosaveFile = 0;
        Press(kSelect);
        for (int i = 0; i < 40 && State_GetCurrent()->update == FrontEnd_Update; i++) Step({});
        ASSERT_EQ(State_GetCurrent()->update, MemCardUI_StateUpdate);
        EXPECT_EQ(Current(), FRONTEND_OPTIONS);
        EXPECT_EQ(Fe()->screens[FRONTEND_OPTIONS].fade, 0.0f);
        MemCardUI_SetMode(MEMCARD_MODE_NONE);
        Wait(1.0f);
        EXPECT_EQ(Current(), FRONTEND_OPTIONS);
        Press(kBack);
        Wait(0.2f);
        EXPECT_EQ(Current(), FRONTEND_MAIN);  // the history still holds Main
    });
}

TEST_F(FrontEndTest, VolumesStepAndTruncateToSixteenths)
{
    struct Case {
        float from;
        int steps;
        float to;
    } cases[] = {
        {0.5f, -1, 0.4375f},  {0.0f, -1, 0.0f},   {1.0f, 1, 1.0f},   {0.65f, 1, 0.6875f},
        {0.65f, -1, 0.5625f}, {0.9375f, 1, 1.0f}, {0.03f, -1, 0.0f},
    };
    for (const Case& c : cases) EXPECT_EQ(Volume_StepSixteenth(c.from, c.steps), c.to) << c.from << " " << c.steps;
}

}  // namespace
