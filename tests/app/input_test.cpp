#include "app/input.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/pad.h"
#include "app/shell.h"
#include "app/syskeys.h"
#include "platform/dinput/dinput.h"
#include "platform/dinput/dinput_test.h"
#include "platform/win32/system.h"
#include "platform/win32/win32_test.h"

namespace {

class InputTest : public ::testing::Test {
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
        Input_Destroy();
        DInputTest_DetachAll();
        DInputTest_ResetState();
        Win32Test_ResetAll();
    }
    // Runs `frames` updates of dt, pressing the key during [downFrom,
    // downTo), and returns the frames on which the action triggered.
    static std::vector<int> Triggers(ActionMap* map, uint32_t action, int frames, float dt, int downFrom, int downTo)
    {
        std::vector<int> fired;
        for (int f = 0; f < frames; f++) {
            if (f == downFrom) DInputTest_PushKey(DIK_UP, 1);
            if (f == downTo) DInputTest_PushKey(DIK_UP, 0);
            ActionMap_Update(map, dt);
            if (ActionMap_GetState(map, action) == ACTION_TRIGGERED) fired.push_back(f);
        }
        return fired;
    }
    static ActionMap* MapWith(uint32_t repeatKind, uint32_t afterTrigger, uint32_t trigger = TRIGGER_KEY_DOWN)
    {
        ActionMap* map = ActionMap_Create(1, INPUT_TYPE_KEYBOARD);
        InputAction* a = ActionMap_GetAction(map, 0);
        a->key = DIK_UP, a->trigger = trigger, a->repeatKind = repeatKind, a->afterTrigger = afterTrigger;
        a->repeatDelay = 0.5f;
        return map;
    }
};

// True when the frames lie within one frame of the expected ones.
::testing::AssertionResult Near(const std::vector<int>& got, const std::vector<int>& want)
{
    bool ok = got.size() == want.size();
    for (size_t i = 0; ok && i < got.size(); i++) ok = std::abs(got[i] - want[i]) <= 1;
    if (ok) return ::testing::AssertionSuccess();
    auto text = [](const std::vector<int>& v) {
        std::string s;
        for (int f : v) s += std::to_string(f) + " ";
        return s;
    };
    return ::testing::AssertionFailure() << "got " << text(got) << "want " << text(want);
}

TEST_F(InputTest, RepeatKindsAndAfterTriggerTimeTheirTriggers)
{
    ASSERT_EQ(Input_Create(6), 1);
    // Held for 1.2 s at 10 ms frames with a 0.5 s repeat: at 0, 0.5 and 1.0 s.
    ActionMap* always = MapWith(REPEAT_ALWAYS, 0);
    EXPECT_TRUE(Near(Triggers(always, 0, 130, 0.01f, 0, 120), {0, 51, 102}));
    // Held until released: once per press.
    ActionMap* held = MapWith(REPEAT_ALWAYS, 1);
    EXPECT_TRUE(Near(Triggers(held, 0, 130, 0.01f, 0, 120), {0}));
    // Counting after the release: nothing while held, and a press 0.2 s
    // after the release is still too early, one 0.6 s after is not.
    ActionMap* afterRelease = MapWith(REPEAT_AFTER_RELEASE, 0);
    EXPECT_TRUE(Near(Triggers(afterRelease, 0, 100, 0.01f, 0, 80), {0}));
    EXPECT_TRUE(Triggers(afterRelease, 0, 30, 0.01f, 20, 29).empty());
    EXPECT_TRUE(Near(Triggers(afterRelease, 0, 80, 0.01f, 60, 70), {60}));
    // Counting while down: the timer is cleared at the release, so a new
    // press triggers at once.
    ActionMap* whileDown = MapWith(REPEAT_WHILE_DOWN, 0);
    EXPECT_TRUE(Near(Triggers(whileDown, 0, 40, 0.01f, 0, 20), {0}));
    EXPECT_TRUE(Near(Triggers(whileDown, 0, 10, 0.01f, 2, 9), {2}));
    // The release trigger fires once, on the poll after the release.
    ActionMap* release = MapWith(REPEAT_NONE, 0, TRIGGER_RELEASED);
    EXPECT_TRUE(Near(Triggers(release, 0, 20, 0.01f, 2, 10), {10}));
    for (ActionMap* map : {always, held, afterRelease, whileDown, release}) ActionMap_Destroy(&map);
}

TEST_F(InputTest, VirtualIdsAddressTheBuiltInActionsBehindTheCallersOnes)
{
    ASSERT_EQ(Input_Create(2), 1);
    ActionMap* map = ActionMap_Create(5, INPUT_TYPE_KEYBOARD);
    ASSERT_NE(map, nullptr);
    EXPECT_TRUE(ActionMap_GetAction(map, 4) != ActionMap_GetAction(map, INPUT_VIRTUAL_ID) &&
                !ActionMap_GetAction(map, INPUT_VIRTUAL_ID + 12) && !ActionMap_GetAction(map, 17));
    EXPECT_TRUE(ActionMap_GetKey(map, INPUT_VIRTUAL_ID) == DIK_ESCAPE &&
                ActionMap_GetKey(map, INPUT_VIRTUAL_ID + 11) == DIK_RIGHT);
    ActionMap_SetKey(map, INPUT_VIRTUAL_ID + 12, 5);  // ignored
    float delay = -1;
    EXPECT_TRUE(ActionMap_GetRepeat(map, INPUT_VIRTUAL_ID + 12, &delay) == 0 && delay == 0.0f);
    // The built-in Escape key-down action fires on every update while held.
    DInputTest_PushKey(DIK_ESCAPE, 1);
    for (int i = 0; i < 3; i++) {
        ActionMap_Update(map, 0.01f);
        EXPECT_EQ(ActionMap_GetState(map, INPUT_VIRTUAL_ID), ACTION_TRIGGERED) << i;
    }
    ActionMap_Destroy(&map);
    EXPECT_EQ(map, nullptr);
}

TEST_F(InputTest, UsersShareTheKeyboardBySixTheMouseByOneAndControllersByOne)
{
    int32_t first = DInputTest_AttachController(1);
    int32_t second = DInputTest_AttachController(1);
    if (first < 0 || second < 0) GTEST_SKIP() << "no virtual joysticks";
    ASSERT_TRUE(Input_Create(12) && Input_GetDeviceCount() == 4);
    for (int i = 0; i < 6; i++) EXPECT_NE(Input_AllocUser(INPUT_TYPE_KEYBOARD), INPUT_NO_USER) << i;
    EXPECT_EQ(Input_AllocUser(INPUT_TYPE_KEYBOARD), INPUT_NO_USER);
    uint8_t mouse = Input_AllocUser(INPUT_TYPE_MOUSE);
    EXPECT_TRUE(mouse != INPUT_NO_USER && Input_AllocUser(INPUT_TYPE_MOUSE) == INPUT_NO_USER);
    uint8_t pad1 = Input_AllocUser(INPUT_TYPE_CONTROLLER), pad2 = Input_AllocUser(INPUT_TYPE_CONTROLLER);
    EXPECT_TRUE(Input_GetUser(pad1)->slot == 2 && Input_GetUser(pad2)->slot == 3 &&
                Input_AllocUser(INPUT_TYPE_CONTROLLER) == INPUT_NO_USER);
    Input_FreeUser(pad1);
    uint8_t again = Input_AllocUser(INPUT_TYPE_CONTROLLER);
    EXPECT_EQ(Input_GetUser(again)->slot, 2);               // the first free controller slot
    // Bound to that type already; no type 5.
    EXPECT_EQ(std::vector<int>({Input_BindUser(mouse, INPUT_TYPE_MOUSE), Input_BindUser(mouse, 5),
                                Input_BindUser(mouse, INPUT_TYPE_NONE)}),
              std::vector<int>({0, 0, 1}));
    EXPECT_NE(Input_AllocUser(INPUT_TYPE_MOUSE), INPUT_NO_USER);
    EXPECT_EQ(Input_IsKeyUp(mouse, 300) + Input_GetKeyValue(mouse, 256), 0);  // beyond the keys
}

TEST_F(InputTest, ALostDeviceIsAcquiredAgainAndItsMapSkipsThatFrame)
{
    ASSERT_EQ(Input_Create(2), 1);
    ActionMap* map = MapWith(REPEAT_NONE, 1);
    EXPECT_EQ(ActionMap_Update(map, 0.01f), 1);
    DInputTest_LoseDevices();
    EXPECT_TRUE(ActionMap_Update(map, 0.01f) == 0 && !(Input_GetUser(map->user)->flags & INPUT_USER_ACQUIRED));
    EXPECT_EQ(ActionMap_Update(map, 0.01f), 1);
    // Deactivation gives every device up until the activation.
    Input_SetActive(0);
    EXPECT_EQ(ActionMap_Update(map, 0.01f), 0);
    Input_SetActive(1);
    EXPECT_EQ(ActionMap_Update(map, 0.01f), 1);
    ActionMap_Destroy(&map);
}

TEST(SystemKeysTest, TheHookSwallowsExactlyTheTaskSwitchingCombinations)
{
    Win32Test_ResetAll();
    const std::tuple<uint32_t, bool, bool, intptr_t> cases[] = {
        {0x1B, false, true, 1},  // Ctrl+Esc
        {0x09, true, false, 1},  // Alt+Tab
        {0x1B, true, false, 1},  // Alt+Esc
        {0x5B, false, false, 1}, // the Windows keys
        {0x5C, false, false, 1},
        {0x1B, false, false, 0}, // Escape alone
        {0x09, false, true, 0},  // Ctrl+Tab
        {0x73, true, false, 0},  // Alt+F4 is the window's business
        {'A', true, true, 0},
    };
    for (const auto& [vk, alt, control, swallowed] : cases) {
        Win32Test_PushKey(0x11, control, 0);
        KeyboardHookRecord key = {vk, 0, alt ? (uint32_t)SYSTEM_LLKHF_ALTDOWN : 0u, 0, 0};
        EXPECT_EQ(App_LowLevelKeyboardProc(SYSTEM_HC_ACTION, 0x100, (intptr_t)&key), swallowed) << vk;
        EXPECT_EQ(App_LowLevelKeyboardProc(1, 0x100, (intptr_t)&key), 0) << vk;  // not a keyboard action
    }
    Win32Test_PushKey(0x11, 0, 0);
}

TEST(SystemKeysTest, SuppressingInstallsOneHookAndRestoringRemovesIt)
{
    Win32Test_ResetAll();
    App_ResetSystemKeys();
    App_SuppressSystemKeys(0);
    App_SuppressSystemKeys(0);
    EXPECT_TRUE(System_GetHookCount() == 1 && App_SystemKeysSuppressed());
    // The keys the window gets pass the hook: Alt+Tab and the Windows key
    // are swallowed before anything else sees them, other keys go on.
    auto pressed = [](uint32_t vk, int alt) {
        Win32Test_PushKey(vk, 1, alt);
        const bool down = System_GetAsyncKeyState((int32_t)vk) != 0;
        Win32Test_PushKey(vk, 0, alt);
        return down;
    };
    EXPECT_TRUE(!pressed(0x09, 1) && !pressed(0x5B, 0) && pressed('A', 1));
    App_SuppressSystemKeys(1);
    EXPECT_TRUE(System_GetHookCount() == 0 && pressed(0x09, 1));
    App_SuppressSystemKeys(1);  // nothing left to restore
    EXPECT_EQ(App_SystemKeysSuppressed(), 0);
    Win32Test_ResetAll();
}

}  // namespace
