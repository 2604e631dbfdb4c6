#include "game/level_session.h"

#include <gtest/gtest.h>

#include <cmath>

#include "game/level_input.h"
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

    // Player 0 on the keyboard with the default keys.
    static void KeyboardPlayer()
    {
        ASSERT_EQ(Pad_Init(), 1);
        Game_SetMaxPlayers(1);
        Player_AssignDevices();
        Game_GetContext()->playerKinds[0] = PLAYER_KIND_HUMAN;
        ASSERT_EQ(Player_GetInputDevice(0), Pad_Get(PAD_KEYBOARD, 0));
    }

    // One frame with these keys of player 0 held (and every other up).
    static const PlayerInputRecord* Frame(std::initializer_list<uint16_t> keys)
    {
        DInputTest_ResetState();
        for (uint16_t key : keys) DInputTest_PushKey((uint8_t)key, 1);
        Pad_Update(0.016f);
        Rules_Update(0.016f);
        return Player_GetInputRecord(0);
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
        EXPECT_EQ(Player_GetInputRecord(p), nullptr);
        EXPECT_EQ(Player_GetHudState(p), 0u);
        EXPECT_EQ(Player_GetUserWord(p), nullptr);
        EXPECT_EQ(Player_GetHudFov(p), 0.0f);
        EXPECT_EQ(Level_GetPlayerEntity(p), nullptr);
        EXPECT_EQ(Player_GetViewportIndex(p, &dummy), 0);
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

TEST_F(LevelSessionTest, KeysMapToTheStickAndTheButtonBits)
{
    KeyboardPlayer();
    const PlayerInputRecord* in = Frame({0xC8, 0xCD});  // up and right: a diagonal
    EXPECT_NEAR(in->stickX, 0.70710677f, 1e-6f);
    EXPECT_NEAR(in->stickY, 0.70710677f, 1e-6f);
    EXPECT_EQ(in->buttons, (uint32_t)(INPUT_UP | INPUT_RIGHT));
    in = Frame({0xD0, 0xCB});
    EXPECT_NEAR(in->stickX, -0.70710677f, 1e-6f);
    EXPECT_NEAR(in->stickY, -0.70710677f, 1e-6f);
    EXPECT_EQ(in->oldButtons, (uint32_t)(INPUT_UP | INPUT_RIGHT));
    in = Frame({0xCB, 0xCD});  // left and right cancel, both bits stay
    EXPECT_EQ(in->stickX, 0.0f);
    EXPECT_EQ(in->buttons, (uint32_t)(INPUT_LEFT | INPUT_RIGHT));

    const uint32_t bits[] = {16, 32, 64, 128, 256, 512, 4096, 8192, 1024, 2048};
    for (int a = 4; a < PLAYER_ACTIONS; a++) {
        in = Frame({Player_GetBinding(0, a)});
        EXPECT_EQ(in->buttons, bits[a - 4]) << "action " << a;
        EXPECT_EQ(in->stickX, 0.0f);
    }
    EXPECT_EQ(Frame({59})->buttons, 8192u);  // F1
    EXPECT_EQ(Frame({})->oldButtons, 8192u);
}

TEST_F(LevelSessionTest, TheStampClearsButtonsButKeepsTheStick)
{
    KeyboardPlayer();
    Frame({});
    Level_StampTime(0.2f);
    float start = Level_GetClock();
    const PlayerInputRecord* in = nullptr;
    while (Level_GetClock() - start < 0.19f) {
        in = Frame({0xC8, 0x1C});
        EXPECT_EQ(in->buttons, 0u);
        EXPECT_FLOAT_EQ(in->stickY, 1.0f);
    }
    for (int f = 0; f < 3; f++) in = Frame({0xC8, 0x1C});
    EXPECT_EQ(in->buttons, (uint32_t)(INPUT_UP | Input_ActionBit(4)));
}

TEST_F(LevelSessionTest, TheSecondStickReadsZeroUntilItHasBeenCentred)
{
    int32_t handle = DInputTest_AttachController(1);
    if (handle < 0) GTEST_SKIP() << "no virtual joysticks";
    ASSERT_EQ(Pad_Init(), 1);
    Game_SetMaxPlayers(1);
    Player_AssignDevices();
    Game_GetContext()->playerKinds[0] = PLAYER_KIND_HUMAN;
    auto frame = [&](int32_t x) {
        DInputTest_SetAxis(handle, DINPUT_TEST_RIGHTX, x);
        Pad_Update(0.016f);
        Rules_Update(0.016f);
        return Player_GetInputRecord(0)->stick2X;
    };
    EXPECT_EQ(frame(20000), 0.0f);  // resting off-centre from the start
    EXPECT_EQ(frame(32767), 0.0f);
    EXPECT_EQ(frame(0), 0.0f);  // centred once
    EXPECT_NEAR(frame(32767), 1.0f, 1e-3f);
    EXPECT_NEAR(frame(-16384), -0.5f, 1e-3f);
}

TEST_F(LevelSessionTest, PlayersWithoutAPadOrAKindReadNothing)
{
    Game_SetMaxPlayers(4);
    Game_GetContext()->playerKinds[1] = PLAYER_KIND_COMPUTER;  // no device assigned
    Player_GetInputRecord(2)->buttons = 77;                    // kind 0: not a player, left alone
    Rules_Update(0.1f);
    const PlayerInputRecord* computer = Player_GetInputRecord(1);
    EXPECT_EQ(computer->pad, nullptr);
    EXPECT_EQ(computer->buttons, 0u);
    EXPECT_EQ(Player_GetInputRecord(2)->buttons, 77u);
    EXPECT_EQ(Player_ReadAction(nullptr, 0, 4), 0.0f);
    EXPECT_EQ(Player_ReadAction(Pad_Get(PAD_KEYBOARD, 0), 0, -1), 0.0f);
}

}  // namespace
