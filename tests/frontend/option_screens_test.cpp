// The option screens: controller presets, the turning model, the
// difficulty and the sound options with their confirm step.
#include "frontend/option_screens.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "app/sound.h"
#include "engine/scene.h"
#include "frontend_fixture.h"
#include "game/ingame_menu.h"
#include "game/memcard_ui.h"
#include "tests/game/frame_capture.h"
#include "tools/lib/atfwrite.h"
#include "tools/lib/lwowrite.h"
#include "tools/lib/lwswrite.h"

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

// The controller as the shipped data makes it: an animation set "Pad"
// whose scene holds a blue box 1.6 wide and the nulls the screens look
// for, the left end's "Move" and "Item1", the right end's "Action_1" and
// "Item2". The two controller screens use it, with items like the shipped
// ones (a label slot each; the Controls screen's items name the nulls).
std::string PadScreens()
{
    return fedata::Screen("FrontEnd_ControllerOptions", " ScreenAnim0 = Pad\n" + fedata::Items(9, "Pos = 560, 100")) +
           fedata::Screen("FrontEnd_ControllerOptions2", " ScreenAnim0 = Pad\n" + fedata::Items(2, "Pos = 20, 100", 1));
}

void WritePad()
{
    LwoWriterObject box;
    box.tags = {"Blue"};
    box.surfaces.resize(1);
    box.surfaces[0].name = "Blue";
    box.surfaces[0].colour[0] = box.surfaces[0].colour[1] = 0.1f;
    box.layers.resize(1);
    for (int i = 0; i < 8; ++i)
        box.layers[0].points.insert(box.layers[0].points.end(),
                                    {i & 1 ? 0.8f : -0.8f, i & 2 ? 0.4f : -0.4f, i & 4 ? 0.2f : -0.2f});
    for (const auto& f :
         {std::array<uint32_t, 4>{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}}) {
        box.layers[0].polygons.push_back({{f[0], f[1], f[2]}, 0});
        box.layers[0].polygons.push_back({{f[0], f[2], f[3]}, 0});
    }
    const std::vector<uint8_t> lwo = LwoWriter_Write(box);
    gametest::WriteData("Pad.lwo", std::string(lwo.begin(), lwo.end()));
    LwsWriterScene scene;
    auto item = [&](LwsWriterItem::Kind kind, const char* name, float x) {
        LwsWriterItem it;
        it.kind = kind;
        it.name = name;
        it.keys.resize(1);
        it.keys[0].position[0] = x;
        it.keys[0].position[2] = -0.3f;
        scene.items.push_back(it);
    };
    item(LwsWriterItem::OBJECT, "Pad.lwo", 0.0f);
    for (const char* name : {"Move", "Item1"}) item(LwsWriterItem::NUL, name, -0.7f);
    for (const char* name : {"Action_1", "Item2"}) item(LwsWriterItem::NUL, name, 0.7f);
    item(LwsWriterItem::LIGHT, "", 0.0f);
    gametest::WriteData("Pad.lws", LwsWriter_Write(scene));
    AtfWriterSet set;
    set.animations.push_back({SCENE_TWO_SIDED, 0, "Pad.lws", "pad", 0, 0.0f});
    const std::vector<uint8_t> atf = AtfWriter_Encode(set);
    gametest::WriteData(AtfWriter_CacheName("Pad", "anim"), std::string(atf.begin(), atf.end()));
}

// The blue model's pixels: how many, and the mean x of them.
struct Shown {
    int count = 0;
    float x = 0;
};
Shown Model()
{
    Shown shown;
    for (int y = 0; y < 480; y += 2)
        for (int x = 0; x < 640; x += 2) {
            const uint32_t p = capture::Pixel(x, y);
            if ((int)(p & 255) > (int)(p >> 16 & 255) + 60 && (int)(p & 255) > (int)(p >> 8 & 255) + 60) {
                shown.count++;
                shown.x += (float)x;
            }
        }
    if (shown.count) shown.x /= (float)shown.count;
    return shown;
}

// Each screen shows its model from a camera of its own, which turns to the
// focused label's button (ControllerOptions) or to the control shown
// (ControllerOptions2): the model moves across the screen as they change.
TEST_F(FrontEndTest, ControllerModelsShowFromTheirOwnCamerasTurnedToTheFocusedControl)
{
    WriteFrontEnd(PadScreens());
    RunFrontEnd([] {
        WritePad();
        StartFrontEnd();
        int size[2] = {};
        for (int screen : {0, 1, 1}) {
            if (screen) Press(kBack);
            OpenOption(screen);
            Wait(0.6f);
            const Shown first = Model();
            EXPECT_GT(first.count, 400) << screen;
            // A second visit shows the model at the size of the first.
            if (size[screen]) {
                EXPECT_NEAR(first.count, size[screen], size[screen] / 10) << screen;
            }
            size[screen] = first.count;
            if (screen == 0) Press(kDown);  // ControllerOptions2 shows its next item by itself
            Wait(1.0f);
            const Shown next = Model();
            EXPECT_GT(next.count, 400) << screen;
            EXPECT_GT(std::fabs(next.x - first.x), 40.0f) << screen;
        }
    });
}

// ControllerOptions2 shows its items in turn, one a second; without items
// it shows none and still leaves.
TEST_F(FrontEndTest, ControllerOptions2ShowsItsItemsInTurn)
{
    for (bool items : {true, false}) {
        PlayFrontEnd(items ? "" : fedata::Screen("FrontEnd_ControllerOptions2", ""), [items] {
            OpenOption(1);
            ASSERT_EQ(Current(), FRONTEND_CONTROLLEROPTIONS2);
            for (int shown : {1, 2, 0}) {
                Wait(1.0f);
                EXPECT_EQ(Fe()->model.shown, items ? shown : 0);
            }
            Press(kBack);
            EXPECT_EQ(Current(), FRONTEND_OPTIONS);
        });
    }
}

TEST_F(FrontEndTest, GameOptionsStoreTheDifficulty)
{
    PlayFrontEnd([] {
        Game_SetDifficulty(1);
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
    PlayFrontEnd(fedata::Screen("FrontEnd_SoundOptions", " FadeEntry = TRUE\n" + fedata::Items(3, "Pos = 1, 1")), [] {
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

}  // namespace
