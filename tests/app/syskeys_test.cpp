#include "app/syskeys.h"

#include <gtest/gtest.h>

#include "platform/win32/system.h"
#include "platform/win32/win32_test.h"

namespace {

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
    EXPECT_EQ(System_GetHookCount(), 1);
    EXPECT_EQ(App_SystemKeysSuppressed(), 1);
    // The keys the window gets pass the hook: Alt+Tab and the Windows key
    // are swallowed before anything else sees them, other keys go on.
    auto pressed = [](uint32_t vk, int alt) {
        Win32Test_PushKey(vk, 1, alt);
        const bool down = System_GetAsyncKeyState((int32_t)vk) != 0;
        Win32Test_PushKey(vk, 0, alt);
        return down;
    };
    EXPECT_FALSE(pressed(0x09, 1));
    EXPECT_FALSE(pressed(0x5B, 0));
    EXPECT_TRUE(pressed('A', 1));
    App_SuppressSystemKeys(1);
    EXPECT_EQ(System_GetHookCount(), 0);
    EXPECT_TRUE(pressed(0x09, 1));
    App_SuppressSystemKeys(1);  // nothing left to restore
    EXPECT_EQ(App_SystemKeysSuppressed(), 0);
    Win32Test_ResetAll();
}

}  // namespace
