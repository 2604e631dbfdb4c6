#include "game/players.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "game/level_input.h"
#include "menu_input_fixture.h"

namespace {

class PlayersTest : public PadTest {
protected:
    // Attaches the controllers and opens the pads; false when the platform
    // has no virtual joysticks.
    static bool OpenPads(int joysticks, bool keyboard)
    {
        for (int i = 0; i < joysticks; i++)
            if (DInputTest_AttachController(1) < 0) return false;
        // With as many input users as controllers, none is left for the keyboard.
        if (!keyboard) Pad_SetJoysticksEnabled((uint32_t)joysticks);
        return Pad_Init() == 1;
    }

    // "J<n>" for controller n, "K" for the keyboard, "-" for none.
    static std::string Device(int slot)
    {
        Pad* pad = Player_GetInputDevice(slot);
        if (!pad) return "-";
        if (pad == Pad_Get(PAD_KEYBOARD, 0)) return "K";
        for (uint32_t j = 0; j < Pad_GetCount(PAD_CONTROLLER); j++)
            if (pad == Pad_Get(PAD_CONTROLLER, j)) return "J" + std::to_string(j);
        return "?";
    }
};

TEST_F(PlayersTest, DevicesGoToSlotsByJoystickCountKeyboardAndMaxPlayers)
{
    struct Case {
        int joysticks;
        bool keyboard;
        int maxPlayers;
        const char* devices[8];  // slots below maxPlayers
    } cases[] = {
        {0, true, 2, {"K", "K"}},
        {0, true, 8, {"K", "K", "K", "K", "K", "K", "K", "K"}},
        {0, false, 4, {"-", "-", "-", "-"}},
        {2, true, 4, {"J0", "J1", "K", "K"}},
        {2, false, 4, {"J0", "J1", "-", "-"}},
        {2, true, 2, {"J0", "J1"}},
        {4, true, 4, {"J0", "J1", "J2", "J3"}},
        {4, true, 8, {"J0", "J1", "J2", "J3", "-", "-", "-", "-"}},  // four joysticks: no keyboard
        {5, true, 8, {"J0", "J1", "J2", "J3", "J4", "K", "K", "K"}},
        {5, true, 4, {"J0", "J1", "J2", "J3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.joysticks) + " joysticks, keyboard " + std::to_string(c.keyboard) + ", max " +
                     std::to_string(c.maxPlayers));
        if (!OpenPads(c.joysticks, c.keyboard)) GTEST_SKIP() << "no virtual joysticks";
        ASSERT_EQ(Pad_GetCount(PAD_CONTROLLER), (uint32_t)c.joysticks);
        Game_SetMaxPlayers(c.maxPlayers);
        Player_AssignDevices();
        for (int s = 0; s < c.maxPlayers; s++) {
            EXPECT_EQ(Device(s), c.devices[s]) << "slot " << s;
            EXPECT_EQ(Player_GetControlPreset(s), 0);
            bool onController = Device(s)[0] == 'J';
            for (int a = 0; a < PLAYER_ACTIONS; a++) {
                uint16_t want = onController ? Binding_GetController(a, 0) : Binding_GetKeyboard(s, a, 0);
                if (Device(s) != "-") {
                    EXPECT_EQ(Player_GetBinding(s, a), want) << s << "," << a;
                }
            }
        }
        Pad_Shutdown();
        DInputTest_DetachAll();
    }
}

TEST_F(PlayersTest, KeyboardTablesKeepPlayersApartAndLeaveEscapeAndF1Free)
{
    std::set<uint16_t> used;
    for (int p = 0; p < 4; p++) {
        for (int preset = 0; preset < PLAYER_PRESETS; preset++) {
            std::set<uint16_t> column;
            for (int a = 0; a < PLAYER_ACTIONS; a++) column.insert(Binding_GetKeyboard(p, a, preset));
            EXPECT_EQ(column.size(), (size_t)PLAYER_ACTIONS) << "player " << p << " preset " << preset;
        }
        for (int a = 0; a < PLAYER_ACTIONS; a++) {
            uint16_t key = Binding_GetKeyboard(p, a, 0);
            EXPECT_TRUE(used.insert(key).second) << "player " << p << " action " << a << " key " << key;
            EXPECT_NE(key, 1);   // Escape opens the pause menu
            EXPECT_NE(key, 59);  // F1 is a fixed input bit
        }
    }
    for (int a = 0; a < PLAYER_ACTIONS; a++) EXPECT_EQ(Binding_GetKeyboard(6, a, 1), Binding_GetKeyboard(2, a, 1));
    // Player 0 plays with the arrow keys and Return.
    const uint16_t arrows[] = {0xC8, 0xD0, 0xCB, 0xCD, 0x1C};
    for (int a = 0; a < 5; a++) EXPECT_EQ(Binding_GetKeyboard(0, a, 0), arrows[a]);
}

TEST_F(PlayersTest, DirectionsUseTheStickClampsInEveryPresetAndPresetsMoveTheFaceButtons)
{
    for (int preset = 0; preset < PLAYER_PRESETS; preset++) {
        EXPECT_EQ(Binding_GetController(0, preset), 2);
        EXPECT_EQ(Binding_GetController(1, preset), 3);
        EXPECT_EQ(Binding_GetController(2, preset), 0);
        EXPECT_EQ(Binding_GetController(3, preset), 1);
        for (int a = 8; a < PLAYER_ACTIONS; a++)
            EXPECT_EQ(Binding_GetController(a, preset), Binding_GetController(a, 0));
    }
    // The control of action 4 in the default layout does action 5 in preset
    // 1 and action 6 in preset 2.
    EXPECT_EQ(Binding_FindInPreset(1, 4), 5);
    EXPECT_EQ(Binding_FindInPreset(2, 4), 6);
    EXPECT_EQ(Binding_FindInPreset(2, 7), 5);
    EXPECT_EQ(Binding_FindInPreset(0, 10), 10);
    EXPECT_EQ(Binding_FindInPreset(3, 4), -1);
    EXPECT_EQ(Binding_FindInPreset(1, 14), -1);
    EXPECT_EQ(Binding_GetController(14, 0), 0);
}

TEST_F(PlayersTest, AStickPushedUpOnAControllerReadsUpThroughTheControllerTable)
{
    int32_t handle = DInputTest_AttachController(1);
    if (handle < 0) GTEST_SKIP() << "no virtual joysticks";
    ASSERT_EQ(Pad_Init(), 1);
    Player_AssignDevices();
    Game_GetContext()->playerKinds[0] = PLAYER_KIND_HUMAN;
    Level_GetSession()->stampDuration = -1.0f;
    DInputTest_SetAxis(handle, DINPUT_TEST_LEFTY, -32768);
    Pad_Update(0.016f);
    Level_UpdatePlayerInput();
    const PlayerInputRecord* in = Player_GetInputRecord(0);
    EXPECT_EQ(in->pad, Pad_Get(PAD_CONTROLLER, 0));
    EXPECT_FLOAT_EQ(in->stickY, 1.0f);
    EXPECT_EQ(in->stickX, 0.0f);
    EXPECT_EQ(in->buttons, (uint32_t)INPUT_UP);

    DInputTest_SetAxis(handle, DINPUT_TEST_LEFTY, 32767);
    DInputTest_SetButton(handle, 0, 1);  // button 1: action 4
    Pad_Update(0.016f);
    Level_UpdatePlayerInput();
    EXPECT_NEAR(in->stickY, -1.0f, 0.01f);
    EXPECT_EQ(in->buttons, (uint32_t)(INPUT_DOWN | Input_ActionBit(4)));
    EXPECT_EQ(in->oldButtons, (uint32_t)INPUT_UP);
}

}  // namespace
