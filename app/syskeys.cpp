#include "app/syskeys.h"

#include "app/shell.h"
#include "platform/win32/system.h"

namespace {

enum : uint32_t {
    VK_TAB = 0x09,
    VK_CONTROL = 0x11,
    VK_ESCAPE = 0x1B,
    VK_LWIN = 0x5B,
    VK_RWIN = 0x5C,
    SPI_SETSCREENSAVERRUNNING = 97,
};

SystemHook* g_keyboardHook = nullptr;

}  // namespace

void App_SuppressSystemKeys(int restore)
{
    SystemVersionInfo version = {};
    System_GetVersion(&version);
    if (version.platformId == 1) {
        System_ParametersInfo(SPI_SETSCREENSAVERRUNNING, restore ? 0 : 1, nullptr, 0);
        return;
    }
    if (!restore) {
        if (!g_keyboardHook)
            g_keyboardHook = System_SetWindowsHook(SYSTEM_WH_KEYBOARD_LL, App_LowLevelKeyboardProc, App_GetInstance(), 0);
    } else if (g_keyboardHook) {
        System_UnhookWindowsHook(g_keyboardHook);
        g_keyboardHook = nullptr;
    }
}

intptr_t App_LowLevelKeyboardProc(int32_t code, uintptr_t wParam, intptr_t lParam)
{
    if (code == SYSTEM_HC_ACTION && lParam) {
        const KeyboardHookRecord* key = (const KeyboardHookRecord*)lParam;
        bool control = (System_GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
        bool alt = (key->flags & SYSTEM_LLKHF_ALTDOWN) != 0;
        uint32_t vk = key->vkCode;
        if ((vk == VK_ESCAPE && control) || (vk == VK_TAB && alt) || (vk == VK_ESCAPE && alt) || vk == VK_LWIN ||
            vk == VK_RWIN)
            return 1;
    }
    return System_CallNextHook(g_keyboardHook, code, wParam, lParam);
}

int App_SystemKeysSuppressed(void) { return g_keyboardHook != nullptr; }

void App_ResetSystemKeys(void) { g_keyboardHook = nullptr; }
