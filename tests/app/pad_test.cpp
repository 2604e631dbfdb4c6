#include "app/pad.h"

#include <gtest/gtest.h>

#include "app/input.h"
#include "app/shell.h"
#include "platform/dinput/dinput.h"
#include "platform/dinput/dinput_test.h"
#include "platform/win32/cursor.h"
#include "platform/win32/win32_test.h"

namespace {

class PadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Win32Test_ResetAll();
        DInputTest_ResetState();
        App_ResetState();  // a 640 x 480 screen
    }
    void TearDown() override
    {
        Pad_Shutdown();
        DInputTest_DetachAll();
        DInputTest_ResetState();
        Win32Test_ResetAll();
    }
};

TEST_F(PadTest, JustPressedOnTheFirstOfThreeHeldFramesOnly)
{
    ASSERT_EQ(Pad_Init(), 1);
    Pad* keyboard = Pad_Get(PAD_KEYBOARD, 0);
    ASSERT_NE(keyboard, nullptr);
    EXPECT_EQ(Pad_GetKind(keyboard), (uint32_t)PAD_KEYBOARD);
    EXPECT_EQ(Pad_GetKind(nullptr), (uint32_t)PAD_NONE);
    DInputTest_PushKey(DIK_RETURN, 1);
    int just[3], down[3];
    for (int f = 0; f < 3; f++) {
        Pad_Update(0.016f);
        just[f] = Pad_JustPressed(keyboard, DIK_RETURN);
        down[f] = Pad_IsDown(keyboard, DIK_RETURN);
    }
    EXPECT_EQ(just[0] + just[1] * 2 + just[2] * 4, 1);
    EXPECT_EQ(down[0] + down[1] + down[2], 3);
    EXPECT_EQ(Pad_GetValue(keyboard, DIK_RETURN), 1.0f);
    // The keyboard pad's row ends at code 237: higher codes never read as down.
    DInputTest_SetKey(237, 1);
    DInputTest_SetKey(238, 1);
    DInputTest_SetKey(255, 1);
    Pad_Update(0.016f);
    EXPECT_EQ(Pad_GetValue(keyboard, 237), 1.0f);
    EXPECT_EQ(Pad_IsDown(keyboard, 238) + Pad_IsDown(keyboard, 255), 0);
    // Indices beyond the row and null pads read 0.
    EXPECT_EQ(Pad_GetValue(keyboard, 256), 0.0f);
    EXPECT_EQ(Pad_IsDown(nullptr, DIK_RETURN), 0);
    EXPECT_EQ(Pad_JustPressed(keyboard, 1000), 0);
}

TEST_F(PadTest, ControllerAxesScaleToTheirValuesAndClamps)
{
    int32_t handle = DInputTest_AttachController(1);
    if (handle < 0) GTEST_SKIP() << "no virtual joysticks";
    ASSERT_EQ(Pad_Init(), 1);
    ASSERT_EQ(Pad_GetCount(PAD_CONTROLLER), 1u);
    Pad* pad = Pad_Get(PAD_CONTROLLER, 0);
    Pad_Update(0.016f);
    for (uint32_t v : {0u, 1u, 2u, 3u, 4u, 5u, 14u, 15u}) EXPECT_EQ(Pad_GetValue(pad, v), 0.0f) << v;  // at rest: exactly 0

    struct Case {
        int32_t x, y, z;         // SDL's raw left stick x, y and right stick x
        float v0, v1, v2, v3, v4, v5, v14;
    } cases[] = {
        {32767, 0, 32767, 0, 1, 0, 0, 1, 0, 1},           // x 127: values 4 and 1 are 1.0; z 65535 about +1
        {-32768, 0, -32768, 1, 0, 0, 0, -1, 0, -1},       // x -128: value 4 -1.0, value 0 1.0
        // The stored y is the negated axis, 128 up and -127 down, scaled like x.
        {0, -32768, 0, 0, 0, 1, 0, 0, 128.0f / 127, 0},             // pushed up: value 2
        {0, 32767, 0, 0, 0, 0, 127.0f / 128, 0, -127.0f / 128, 0},  // pulled down: value 3
    };
    for (const Case& c : cases) {
        DInputTest_SetAxis(handle, DINPUT_TEST_LEFTX, c.x);
        DInputTest_SetAxis(handle, DINPUT_TEST_LEFTY, c.y);
        DInputTest_SetAxis(handle, DINPUT_TEST_RIGHTX, c.z);
        Pad_Update(0.016f);
        const float want[] = {c.v0, c.v1, c.v2, c.v3, c.v4, c.v5, c.v14};
        const uint32_t index[] = {0, 1, 2, 3, 4, 5, 14};
        for (int i = 0; i < 7; i++) EXPECT_NEAR(Pad_GetValue(pad, index[i]), want[i], 1e-4f) << c.x << "," << c.y << " value " << index[i];
    }
    // Buttons scaled by 1/255: above 0 while held, just pressed once.
    DInputTest_SetButton(handle, 0, 1);
    Pad_Update(0.016f);
    EXPECT_NEAR(Pad_GetValue(pad, 16), 1.0f / 255, 1e-6f);
    EXPECT_EQ(Pad_JustPressed(pad, 16), 1);
    Pad_Update(0.016f);
    EXPECT_EQ(Pad_JustPressed(pad, 16), 0);
    EXPECT_EQ(Pad_IsDown(pad, 16), 1);
}

TEST_F(PadTest, SwitchingJoysticksOffFreesTheControllerPadsAndKeepsTheOthers)
{
    for (int i = 0; i < 6; i++)
        if (DInputTest_AttachController(1) < 0) GTEST_SKIP() << "no virtual joysticks";
    ASSERT_EQ(Pad_Init(), 1);
    EXPECT_EQ(Pad_GetCount(PAD_CONTROLLER), 6u);
    EXPECT_NE(Pad_Get(PAD_KEYBOARD, 0), nullptr);  // six controllers leave the keyboard its user
    EXPECT_NE(Pad_Get(PAD_MOUSE, 0), nullptr);
    EXPECT_EQ(Pad_GetJoystickLimit(), 8u);
    Pad_SetJoysticksEnabled(0);
    EXPECT_EQ(Pad_GetJoystickLimit(), 0u);
    EXPECT_EQ(Pad_GetCount(PAD_CONTROLLER), 0u);
    EXPECT_EQ(Pad_Get(PAD_CONTROLLER, 0), nullptr);
    Pad_Update(0.016f);  // nothing left that reads a freed pad; the leak check runs at exit
    EXPECT_NE(Pad_Get(PAD_KEYBOARD, 0), nullptr);
}

TEST_F(PadTest, WithoutControllersThereAreNoControllerPads)
{
    ASSERT_EQ(Pad_Init(), 1);
    EXPECT_EQ(Pad_GetCount(PAD_CONTROLLER), 0u);
    EXPECT_EQ(Pad_Get(PAD_CONTROLLER, 0), nullptr);
    EXPECT_EQ(Pad_Init(), 1);  // a second call does nothing
    EXPECT_EQ(Pad_GetCount(PAD_MOUSE), 1u);
}

TEST_F(PadTest, TheMousePadClampsTheCursorToTheScreenAndReadsTheButtonFlags)
{
    ASSERT_EQ(Pad_Init(), 1);
    Pad* mouse = Pad_Get(PAD_MOUSE, 0);
    struct Case {
        int32_t x, y;
        float wantX, wantY;
    } cases[] = {{-50, 100, 0, 100}, {5000, -3, 640, 0}, {320, 9999, 320, 480}};
    for (const Case& c : cases) {
        Cursor_SetPos(c.x, c.y);
        Pad_Update(0.016f);
        EXPECT_EQ(Pad_GetValue(mouse, 0), c.wantX);
        EXPECT_EQ(Pad_GetValue(mouse, 1), c.wantY);
    }
    App_WndProc(nullptr, WM_RBUTTONDOWN, 0, 0);
    Pad_Update(0.016f);
    EXPECT_EQ(Pad_GetValue(mouse, 2), 0.0f);
    EXPECT_EQ(Pad_GetValue(mouse, 3), 1.0f);
    App_WndProc(nullptr, WM_RBUTTONUP, 0, 0);
}

}  // namespace
