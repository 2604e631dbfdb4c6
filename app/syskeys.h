// Suppressing the system keys: while the game runs, the key combinations
// that would take the player out of it (Ctrl+Esc, Alt+Tab, Alt+Esc and the
// Windows keys) are swallowed. On the NT family a low-level keyboard hook
// does it; the 9x family is told that a screen saver runs. The window
// procedure restores the keys when the main window is destroyed.
#pragma once

#include <cstdint>

// 0 suppresses, 1 restores. A second suppress keeps the one hook.
void App_SuppressSystemKeys(int restore);
// The low-level keyboard hook: for keyboard actions it swallows (returns 1)
// Escape while Control is held, Tab or Escape with Alt held, and the left
// and right Windows keys; everything else goes to the next hook.
intptr_t App_LowLevelKeyboardProc(int32_t code, uintptr_t wParam, intptr_t lParam);
// 1 while the hook is installed.
int App_SystemKeysSuppressed(void);
void App_ResetSystemKeys(void);
