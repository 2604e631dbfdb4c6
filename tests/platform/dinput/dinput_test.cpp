#include "platform/dinput/dinput.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/dinput/dinput_test.h"
#include "platform/win32/message.h"
#include "platform/win32/win32_test.h"

namespace {

class DInputTest : public ::testing::Test {
protected:
    IDirectInput7* di = nullptr;
    std::vector<IDirectInputDevice7*> devices;

    void SetUp() override
    {
        Win32Test_ResetAll();
        DInputTest_ResetState();
        ASSERT_EQ(DirectInputCreateEx(nullptr, 0x0700, IID_IDirectInput7, (void**)&di, nullptr), S_OK);
    }
    void TearDown() override
    {
        for (IDirectInputDevice7* d : devices) d->Release();
        di->Release();
        DInputTest_DetachAll();
        Win32Test_ResetAll();
    }
    IDirectInputDevice7* Open(const Guid& guid, const DIDATAFORMAT* format, Window* window = nullptr)
    {
        IDirectInputDevice7* d = nullptr;
        if (di->CreateDeviceEx(guid, IID_IDirectInputDevice7, (void**)&d, nullptr) != S_OK) return nullptr;
        devices.push_back(d);
        EXPECT_EQ(d->SetDataFormat(format), S_OK);
        EXPECT_EQ(d->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND), S_OK);
        return d;
    }
    std::vector<DIDEVICEINSTANCE> Enumerate(uint32_t flags)
    {
        std::vector<DIDEVICEINSTANCE> found;
        di->EnumDevices(DIDEVTYPE_JOYSTICK,
                        [](const DIDEVICEINSTANCE* i, void* ctx) -> int32_t {
                            ((std::vector<DIDEVICEINSTANCE>*)ctx)->push_back(*i);
                            return DIENUM_CONTINUE;
                        },
                        &found, flags);
        return found;
    }
    static void SetAxisProperties(IDirectInputDevice7* d)
    {
        for (uint32_t offset : {DIJOFS_X, DIJOFS_Y}) {
            DIPROPRANGE range = {{sizeof range, sizeof(DIPROPHEADER), offset, DIPH_BYOFFSET}, -128, 127};
            ASSERT_EQ(d->SetProperty(DIPROP_RANGE, &range.header), S_OK);
            DIPROPDWORD zone = {{sizeof zone, sizeof(DIPROPHEADER), offset, DIPH_BYOFFSET}, 2500};
            ASSERT_EQ(d->SetProperty(DIPROP_DEADZONE, &zone.header), S_OK);
        }
    }
    static DIJOYSTATE Read(IDirectInputDevice7* d)
    {
        DIJOYSTATE state = {};
        EXPECT_EQ(d->Poll(), S_OK);
        EXPECT_EQ(d->GetDeviceState(sizeof state, &state), S_OK);
        return state;
    }
};

TEST_F(DInputTest, KeyboardStateFollowsKeyEventsAndTheWindowsFocus)
{
    Window* window = Window_Create("keys", 64, 64, 0);
    if (!window) GTEST_SKIP() << "no SDL video";
    IDirectInputDevice7* keyboard = Open(GUID_SysKeyboard, &c_dfDIKeyboard, window);
    ASSERT_NE(keyboard, nullptr);
    uint8_t keys[256];
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
    ASSERT_EQ(keyboard->Acquire(), S_OK);
    EXPECT_EQ(keyboard->GetDeviceState(255, keys), DIERR_INVALIDPARAM);
    ASSERT_EQ(DInputTest_PushKey(DIK_ESCAPE, 1), 1);
    ASSERT_EQ(DInputTest_PushKey(DIK_RCONTROL, 1), 1);
    ASSERT_EQ(keyboard->GetDeviceState(256, keys), S_OK);
    EXPECT_EQ(keys[DIK_ESCAPE], 0x80);
    EXPECT_EQ(keys[DIK_RCONTROL], 0x80);
    DInputTest_PushKey(DIK_ESCAPE, 0);
    keyboard->GetDeviceState(256, keys);
    EXPECT_EQ(keys[DIK_ESCAPE], 0);

    // An inactive window takes the acquisition away, and gives none back.
    Win32Test_PushFocus(window, 0);
    Message_Peek(nullptr, nullptr, 0, 0, MESSAGE_NOREMOVE);
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), DIERR_NOTACQUIRED);
    EXPECT_EQ(keyboard->Acquire(), DIERR_OTHERAPPHASPRIO);
    Win32Test_PushFocus(window, 1);
    Message_Peek(nullptr, nullptr, 0, 0, MESSAGE_NOREMOVE);
    EXPECT_EQ(keyboard->Acquire(), S_OK);
    EXPECT_EQ(keyboard->GetDeviceState(256, keys), S_OK);
}

TEST_F(DInputTest, ALostDeviceReportsItOnceAndReadsAgainAfterAcquire)
{
    IDirectInputDevice7* mouse = Open(GUID_SysMouse, &c_dfDIMouse2);
    ASSERT_NE(mouse, nullptr);
    DIPROPDWORD buffer = {{sizeof buffer, sizeof(DIPROPHEADER), 0, DIPH_DEVICE}, 16};
    EXPECT_EQ(mouse->SetProperty(DIPROP_BUFFERSIZE, &buffer.header), S_OK);
    EXPECT_EQ(mouse->SetProperty(DIPROP_RANGE, &buffer.header), DIERR_INVALIDPARAM);
    ASSERT_EQ(mouse->Acquire(), S_OK);
    EXPECT_EQ(mouse->Acquire(), S_FALSE);
    DIMOUSESTATE2 state;
    EXPECT_EQ(mouse->GetDeviceState(sizeof state, &state), S_OK);
    DInputTest_LoseDevices();
    EXPECT_EQ(mouse->GetDeviceState(sizeof state, &state), DIERR_INPUTLOST);
    EXPECT_EQ(mouse->GetDeviceState(sizeof state, &state), DIERR_NOTACQUIRED);
    ASSERT_EQ(mouse->Acquire(), S_OK);
    EXPECT_EQ(mouse->GetDeviceState(sizeof state, &state), S_OK);
    uint32_t count = 5;
    EXPECT_EQ(mouse->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), nullptr, &count, 0), S_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(DInputTest, GameControllerAxesButtonsAndDeadZone)
{
    int32_t pad = DInputTest_AttachController(1);
    if (pad < 0) GTEST_SKIP() << "no virtual joysticks";
    std::vector<DIDEVICEINSTANCE> all = Enumerate(DIEDFL_ATTACHEDONLY);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_TRUE(Enumerate(DIEDFL_ATTACHEDONLY | DIEDFL_FORCEFEEDBACK).empty());
    IDirectInputDevice7* d = Open(all[0].guidInstance, &c_dfDIJoystick);
    ASSERT_NE(d, nullptr);
    SetAxisProperties(d);
    ASSERT_EQ(d->Acquire(), S_OK);

    DIJOYSTATE rest = Read(d);
    EXPECT_EQ(rest.lX, 0);
    EXPECT_EQ(rest.lY, 0);
    EXPECT_EQ(rest.lZ, 32768);  // other axes keep 0..65535
    EXPECT_EQ(rest.lRz, 32768);
    EXPECT_EQ(rest.rgdwPOV[0], 0xFFFFFFFFu);

    struct Case {
        int32_t raw;
        int32_t x;
    } cases[] = {{32767, 127}, {-32768, -128}, {8000, 0}, {-8191, 0}, {16384, 42}, {-16384, -43}};
    for (const Case& c : cases) {
        DInputTest_SetAxis(pad, DINPUT_TEST_LEFTX, c.raw);
        EXPECT_EQ(Read(d).lX, c.x) << c.raw;
    }
    DInputTest_SetAxis(pad, DINPUT_TEST_RIGHTX, 32767);
    DInputTest_SetAxis(pad, DINPUT_TEST_RIGHTY, -32768);
    DInputTest_SetAxis(pad, DINPUT_TEST_LEFTY, 32767);  // y positive down, as in DirectInput
    DInputTest_SetButton(pad, 4, 1);
    DIJOYSTATE moved = Read(d);
    EXPECT_EQ(moved.lZ, 65535);
    EXPECT_EQ(moved.lRz, 0);
    EXPECT_EQ(moved.lY, 127);
    EXPECT_EQ(moved.rgbButtons[4], 0x80);
    EXPECT_EQ(moved.rgbButtons[5], 0);
    EXPECT_EQ(DInputTest_SetButton(pad, 11, 1), 0);
}

TEST_F(DInputTest, RawJoysticksMapAxesHatsAndButtonsInOrder)
{
    int32_t stick = DInputTest_AttachController(0);
    if (stick < 0) GTEST_SKIP() << "no virtual joysticks";
    std::vector<DIDEVICEINSTANCE> all = Enumerate(DIEDFL_ATTACHEDONLY);
    ASSERT_EQ(all.size(), 1u);
    IDirectInputDevice7* d = Open(all[0].guidInstance, &c_dfDIJoystick);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->Acquire(), S_OK);
    DInputTest_SetAxis(stick, 3, 32767);  // the fourth axis is Rx
    DInputTest_SetButton(stick, 11, 1);
    DIJOYSTATE state = Read(d);
    EXPECT_EQ(state.lRx, 65535);
    EXPECT_EQ(state.lX, 32768);
    EXPECT_EQ(state.rgbButtons[11], 0x80);
    EXPECT_EQ(state.rgdwPOV[0], 0xFFFFFFFFu);  // the hat is centred
    EXPECT_EQ(state.rgdwPOV[1], 0xFFFFFFFFu);  // and there is only one
}

TEST(DInputKeysTest, TheKeysTheGameNamesMapBothWays)
{
    for (uint8_t key : {DIK_ESCAPE, DIK_RETURN, DIK_SPACE, DIK_RCONTROL, DIK_UP, DIK_DOWN, DIK_LEFT, DIK_RIGHT}) {
        int32_t scancode = DInput_ScancodeFromKey(key);
        EXPECT_NE(scancode, 0) << (int)key;
        EXPECT_EQ(DInput_KeyFromScancode(scancode), key);
    }
    EXPECT_EQ(DInput_ScancodeFromKey(0xF0), 0);
    EXPECT_EQ(DInput_KeyFromScancode(0), 0);
}

}  // namespace
