// System services of the Win32 stand-in that belong to no window: screen
// metrics, message boxes, the version query, the low-level keyboard hook,
// the asynchronous key state, Sleep, the headless test and the code-page
// conversion. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

struct Window;

// System_GetMetrics indices (the Win32 numbering).
enum : int32_t {
    SYSTEM_CXSCREEN = 0,
    SYSTEM_CYSCREEN = 1,
};

// The screen's width or height in pixels: SDL's desktop mode (the offscreen
// and dummy drivers report 1024 x 768; 1024 x 768 too when SDL's video can't
// start). 0 for other indices.
int32_t System_GetMetrics(int32_t index);
// Forgets the screen size read (read again at the next call).
void System_ResetMetrics();

// Message-box result and button set (only OK exists here).
enum : int32_t {
    SYSTEM_MB_OK = 0,
    SYSTEM_IDOK = 1,
};
// Writes "caption: text" to standard error and returns SYSTEM_IDOK: the
// stand-in has nobody to ask.
int32_t System_MessageBox(Window* owner, const char* text, const char* caption, uint32_t type);

struct SystemVersionInfo {
    uint32_t majorVersion;
    uint32_t minorVersion;
    uint32_t buildNumber;
    uint32_t platformId;  // 1 the 9x family, 2 the NT family
};
// Always the NT family (5.1). 0 for a null record.
int32_t System_GetVersion(SystemVersionInfo* info);

// The low-level keyboard hook. Every key event a window of this process
// receives goes through the installed hooks, the newest first, before the
// message queue, the key state and DirectInput see it (wParam: WM_KEYDOWN,
// WM_KEYUP, or WM_SYSKEYDOWN / WM_SYSKEYUP while Alt is held; lParam: a
// KeyboardHookRecord). A procedure that returns non-zero swallows the key:
// nothing else sees it. Keys the desktop takes before the window sees them
// (the window manager's own combinations) never reach a hook.
enum : int32_t {
    SYSTEM_WH_KEYBOARD_LL = 13,
    SYSTEM_HC_ACTION = 0,
};
enum : uint32_t {
    SYSTEM_LLKHF_ALTDOWN = 0x20,
    SYSTEM_LLKHF_UP = 0x80,  // a release
};
// The record a low-level keyboard hook receives through lParam.
struct KeyboardHookRecord {
    uint32_t vkCode;
    uint32_t scanCode;
    uint32_t flags;  // SYSTEM_LLKHF_ALTDOWN while Alt is held
    uint32_t time;
    uintptr_t extraInfo;
};
struct SystemHook;
typedef intptr_t (*SystemHookProc)(int32_t code, uintptr_t wParam, intptr_t lParam);
// A handle for WH_KEYBOARD_LL with a procedure; null for other kinds.
SystemHook* System_SetWindowsHook(int32_t kind, SystemHookProc procedure, void* instance, uint32_t threadId);
// 1 for a handle of System_SetWindowsHook (released), 0 otherwise.
int32_t System_UnhookWindowsHook(SystemHook* hook);
// Passes the key on to the hook installed before `hook`; 0 when there is none.
intptr_t System_CallNextHook(SystemHook* hook, int32_t code, uintptr_t wParam, intptr_t lParam);
// Number of hooks installed and not removed (for tests).
int32_t System_GetHookCount();

// SystemParametersInfo: the 9x family's switch that makes the system ignore
// its task-switching keys (action 97, "a screen saver runs"). The stand-in
// reports the NT family, so nothing sets it; accepted and kept. 1.
int32_t System_ParametersInfo(uint32_t action, uint32_t param, void* value, uint32_t flags);
// The last value action 97 was given (for tests).
uint32_t System_GetScreenSaverRunning();

// 0x8000 while the key with that virtual-key code is held (as seen in SDL's
// key events, pushed ones included), else 0. VK 0x10-0x12 (Shift, Control,
// Alt) count either side.
int16_t System_GetAsyncKeyState(int32_t virtualKey);

// Waits `ms` milliseconds, running the message idle hook meanwhile (so a
// playing clip keeps showing its frames).
void System_Sleep(uint32_t ms);

// 1 when there is no display: SDL's video driver is "offscreen" or "dummy",
// or windows are made headless.
int32_t System_IsHeadless();

// Starts SDL's audio for a stand-in that opens an output (sound buffers, a
// clip's sound): 1 when it runs (SDL_QuitSubSystem ends it as usual). The
// first call quiets the sound library below SDL (ALSA), which reports every
// failed probe of a machine without a sound card on standard error, a dozen
// lines a start: a start without sound says so in one line of its own.
int32_t System_StartAudio();

// Code pages: CP_ACP is UTF-8 here. Converts `length` bytes of `text` (-1:
// up to and with its NUL) into UTF-16 units. With size 0 returns the units
// needed; else the units written, or 0 when `out` is too small or the text
// is not valid UTF-8.
enum : uint32_t { SYSTEM_CP_ACP = 0 };
int32_t System_MultiByteToWideChar(uint32_t codePage, uint32_t flags, const char* text, int32_t length,
                                   char16_t* out, int32_t size);
// The reverse; the same rules (bytes instead of units).
int32_t System_WideCharToMultiByte(uint32_t codePage, uint32_t flags, const char16_t* text, int32_t length,
                                   char* out, int32_t size);

// Watches SDL's key events for the asynchronous key state (once).
void System_WatchKeys();
// Key state, hooks and metrics forgotten.
void System_ResetAll();
