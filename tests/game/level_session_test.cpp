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
        EXPECT_FALSE(Player_GetInputRecord(p) || Player_GetHudState(p) || Player_GetUserWord(p) ||
                     Player_GetHudFov(p) != 0.0f || Level_GetPlayerEntity(p) || Player_GetViewportIndex(p, &dummy))
            << p;
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

// Devices go to slots by joystick count, keyboard and the player count; presets use the slot's own device table.
TEST_F(LevelSessionTest, DevicesGoToSlotsByJoystickCountKeyboardAndMaxPlayers)
{
    // Joysticks, keyboard, maximum players, then per slot: J controller, K keyboard, - none.
    const std::tuple<int, bool, int, const char*> cases[] = {
        {0, true, 2, "KK"},       {0, false, 4, "----"},    {2, true, 4, "JJKK"}, {2, false, 4, "JJ--"},
        {4, true, 8, "JJJJ----"}, {5, true, 8, "JJJJJKKK"}, {1, true, 2, "JK"},
    };
    for (auto [joysticks, keyboard, maxPlayers, devices] : cases) {
        SCOPED_TRACE(devices);
        for (int i = 0; i < joysticks; i++)
            if (DInputTest_AttachController(1) < 0) GTEST_SKIP() << "no virtual joysticks";
        if (!keyboard) Pad_SetJoysticksEnabled((uint32_t)joysticks);
        ASSERT_EQ(Pad_Init(), 1);
        Game_SetMaxPlayers(maxPlayers);
        Player_AssignDevices();
        char text[64];
        for (int s = 0; s < maxPlayers; s++) {
            Pad* pad = Player_GetInputDevice(s);
            char kind = !pad ? '-' : pad == Pad_Get(PAD_KEYBOARD, 0) ? 'K' : 'J';
            EXPECT_EQ(kind, devices[s]) << s;
            Player_SetControlPreset(s, s % PLAYER_PRESETS);
            EXPECT_STREQ(Player_GetControllerText(s, text, sizeof text),
                         kind == '-' ? "LS_CONTROLLER_NONE"
                         : kind == 'K' ? "LS_CONTROLLER_KEYBOARD" : "LS_CONTROLLER_JOYPAD");
            for (int a = 0; a < PLAYER_ACTIONS && pad; a++) {
                EXPECT_EQ(Player_GetBinding(s, a), kind == 'J' ? Binding_GetController(a, s % PLAYER_PRESETS)
                                                               : Binding_GetKeyboard(s, a, s % PLAYER_PRESETS));
                EXPECT_EQ(Player_GetDefaultBinding(s, a),
                          kind == 'J' ? Binding_GetController(a, 0) : Binding_GetKeyboard(s, a, 0));
            }
        }
        Pad_Shutdown();
        DInputTest_DetachAll();
    }
    // The control of action 4 in the default layout does action 5 in preset 1 and 6 in preset 2.
    EXPECT_EQ(std::vector<int>({Binding_FindInPreset(1, 4), Binding_FindInPreset(2, 7), Binding_FindInPreset(3, 4),
                                Binding_FindInPreset(1, 14)}),
              std::vector<int>({5, 5, -1, -1}));
    EXPECT_EQ(Binding_GetController(14, 0) + Binding_GetKeyboard(9, 0, 0) + Binding_GetKeyboard(0, 0, 3), 0);
    Player_SetControlPreset(9, 0);  // no such slot, no such preset: ignored
    Player_SetControlPreset(0, 3);
    EXPECT_EQ(Player_GetControlPreset(-1) + Player_GetControlPreset(0) + Player_GetBinding(9, 0), 0);
}

}  // namespace
