#include "game/player_input.h"

#include <gtest/gtest.h>

#include "menu_input_fixture.h"

namespace {

class PlayerInputTest : public MenuInputTest {
protected:
    static void Frame(std::initializer_list<uint8_t> keys) { Keys(keys); }
};

TEST_F(PlayerInputTest, EligibilityGatesEveryTest)
{
    struct Case {
        uint32_t listOn;
        uint8_t slotByte;
        uint8_t holder;
        bool device;
        bool answers;
    } cases[] = {
        {0, 255, GAME_ANY_PLAYER, true, true},   // list off: the slot byte does not matter
        {1, 255, GAME_ANY_PLAYER, true, false},  // list on, player not on it
        {1, 1, GAME_ANY_PLAYER, true, true},
        {0, 255, 0, true, true},                  // player 0 holds the menus
        {0, 255, 1, true, false},                 // another player holds them
        {0, 255, GAME_ANY_PLAYER, false, false},  // no device
    };
    GameContext* ctx = Game_GetContext();
    Pad* keyboard = ctx->inputDevices[0];
    for (const Case& c : cases) {
        ctx->eligibilityOn = c.listOn;
        ctx->eligible[0] = c.slotByte;
        ctx->controllingPlayer = c.holder;
        ctx->inputDevices[0] = c.device ? keyboard : nullptr;
        Frame({});
        Frame({kKeySelect});
        EXPECT_EQ(PlayerInput_SelectPressed(0), c.answers ? 1 : 0)
            << c.listOn << " " << (int)c.slotByte << " " << (int)c.holder << " " << c.device;
        EXPECT_EQ(PlayerInput_IsEligible(0), c.answers ? 1 : 0);
    }
    ctx->inputDevices[0] = keyboard;
    ctx->controllingPlayer = GAME_ANY_PLAYER;
    ctx->eligibilityOn = 0;
    ctx->inputLocked = 1;
    Frame({kKeySelect, kKeyUp, 1});
    EXPECT_EQ(PlayerInput_SelectPressed(PLAYER_INPUT_ANY), 0);
    EXPECT_EQ(PlayerInput_UpHeld(0), 0);
    EXPECT_EQ(PlayerInput_EscapePressed(0), 0);
    EXPECT_EQ(PlayerInput_IsEligible(8), 0);
}

TEST_F(PlayerInputTest, AnyPlayerScansTheSlotsBelowTheMaximumAndRecordsWhoAnswered)
{
    GameContext* ctx = Game_GetContext();
    ctx->lastInputPlayer = 0;
    Frame({kKeySelect1});
    EXPECT_EQ(PlayerInput_SelectPressed(0), 0);  // player 0's key is Return
    EXPECT_EQ(PlayerInput_SelectPressed(PLAYER_INPUT_ANY), 1);
    EXPECT_EQ(ctx->lastInputPlayer, 1);
    // With one player the second slot is never asked.
    Game_SetMaxPlayers(1);
    ctx->lastInputPlayer = 0;
    Frame({});
    Frame({kKeySelect1});
    EXPECT_EQ(PlayerInput_SelectPressed(PLAYER_INPUT_ANY), 0);
    EXPECT_EQ(ctx->lastInputPlayer, 0);
}

TEST_F(PlayerInputTest, PressesNeedANewPressAndHeldControlsNeedMoreThanThreeQuarters)
{
    Frame({kKeySelect, kKeyUp});
    EXPECT_EQ(PlayerInput_SelectPressed(0), 1);
    EXPECT_EQ(PlayerInput_UpPressed(0), 1);
    EXPECT_EQ(PlayerInput_UpHeld(0), 1);
    EXPECT_EQ(PlayerInput_AnyPressed(0), 1);
    Frame({kKeySelect, kKeyUp});  // still down: no new press, still held
    EXPECT_EQ(PlayerInput_SelectPressed(0), 0);
    EXPECT_EQ(PlayerInput_UpPressed(0), 0);
    EXPECT_EQ(PlayerInput_UpHeld(0), 1);
    EXPECT_EQ(PlayerInput_AnyPressed(0), 0);

    Pad* keyboard = Game_GetContext()->inputDevices[0];
    keyboard->values[kKeyUp] = 0.75f;
    EXPECT_EQ(PlayerInput_UpHeld(0), 0);
    keyboard->values[kKeyUp] = 0.76f;
    EXPECT_EQ(PlayerInput_UpHeld(0), 1);
    EXPECT_EQ(PlayerInput_NeverPressed(PLAYER_INPUT_ANY), 0);
}

TEST_F(PlayerInputTest, BackAnswersForEitherOfItsActionsAndEscapeReadsTheKeyboardPadAndNeedsOne)
{
    for (uint8_t key : {kKeyBack, kKeyStart}) {
        Frame({});
        Frame({key});
        EXPECT_EQ(PlayerInput_BackPressed(0), 1) << (int)key;
        EXPECT_EQ(PlayerInput_SelectPressed(0), 0);
    }
    Frame({1});
    EXPECT_EQ(PlayerInput_EscapePressed(PLAYER_INPUT_ANY), 1);
    Frame({1});
    EXPECT_EQ(PlayerInput_EscapePressed(0), 0);  // held, not newly pressed

    // Without a keyboard pad nobody presses Escape, even with a device.
    Pad fake = {};
    fake.kind = PAD_CONTROLLER;
    Pad_Shutdown();
    GameContext* ctx = Game_GetContext();
    for (int p = 0; p < GAME_PLAYER_SLOTS; p++) ctx->inputDevices[p] = &fake;
    EXPECT_EQ(PlayerInput_EscapePressed(PLAYER_INPUT_ANY), 0);
}

}  // namespace
