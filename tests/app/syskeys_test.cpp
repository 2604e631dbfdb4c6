#include "app/syskeys.h"

#include <gtest/gtest.h>

#include "platform/win32/system.h"
#include "platform/win32/win32_test.h"

namespace {

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
