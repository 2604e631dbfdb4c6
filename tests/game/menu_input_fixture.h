// Game tests with scripted keyboard input: the pads are up, every player slot is on the keyboard with the default keys
// (players.h), nobody holds the menus, and Frame() holds the listed keys for one pad update (every other key is up).
#pragma once

#include <initializer_list>

#include "app/pad.h"
#include "app/shell.h"
#include "game/game_context.h"
#include "game/game_setup.h"
#include "game/players.h"
#include "game_fixture.h"
#include "platform/dinput/dinput_test.h"
#include "platform/win32/win32_test.h"

// Player 0's keys.
constexpr uint8_t kKeyUp = 0xC8, kKeyDown = 0xD0, kKeyLeft = 0xCB, kKeyRight = 0xCD;
constexpr uint8_t kKeySelect = 0x1C, kKeyBack = 0x35, kKeyStart = 0x39, kKeyEscape = 0x01;
// Player 1's select.
constexpr uint8_t kKeySelect1 = 0x1D;

// Game tests over the pads: the window and input stand-ins reset; the test
// opens the pads (after attaching any controllers), they close at the end.
class PadTest : public GameTest {
protected:
    void SetUp() override
    {
        GameTest::SetUp();
        Win32Test_ResetAll();
        DInputTest_ResetState();
        App_ResetState();
    }
    void TearDown() override
    {
        Pad_Shutdown();
        DInputTest_DetachAll();
        Win32Test_ResetAll();
        GameTest::TearDown();
    }
};

class MenuInputTest : public PadTest {
protected:
    void SetUp() override
    {
        PadTest::SetUp();
        App_ParseCommandLine("");
        Game_ReadSwitches();  // no switch of an earlier test (the data-packing run) stays
        ASSERT_EQ(Pad_Init(), 1);
        Game_SetMaxPlayers(4);
        Player_AssignDevices();
        GameContext* ctx = Game_GetContext();
        for (int p = 0; p < GAME_PLAYER_SLOTS; p++) ctx->inputDevices[p] = Player_GetInputDevice(p);
        ctx->controllingPlayer = GAME_ANY_PLAYER;
    }

    // One pad update with these keys down.
    static void Keys(std::initializer_list<uint8_t> keys)
    {
        DInputTest_ResetState();
        for (uint8_t key : keys) DInputTest_PushKey(key, 1);
        Pad_Update(0.016f);
    }
};
