// The message queue of the Win32 stand-in: one queue of {window, message,
// wParam, lParam} for the process, fed by posts and by SDL's events.
//
// Pumping turns SDL events into the messages window procedures handle:
//   - focus gained / lost: WM_ACTIVATE (1 / 0) and WM_ACTIVATEAPP (1 / 0) to
//     the window that owns the SDL window (and its active flag follows);
//   - the close request: WM_CLOSE, whose default processing destroys the
//     window (so WM_DESTROY follows);
//   - a size change: WM_SIZE; an expose: WM_PAINT;
//   - keys: WM_KEYDOWN / WM_KEYUP with virtual-key codes, or WM_SYSKEYDOWN /
//     WM_SYSKEYUP while Alt is held;
//   - mouse motion and buttons: WM_MOUSEMOVE and the button messages.
// Events that name no live window (pushed by tests, or headless runs) go to
// the foreground window (window.h). Main thread only.
#pragma once

#include <cstdint>

#include "platform/win32/window.h"

struct WindowMessage {
    Window* window;    // null for thread messages (WM_QUIT)
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

// Message_Peek flags.
enum : uint32_t {
    MESSAGE_NOREMOVE = 0x0,
    MESSAGE_REMOVE = 0x1,
    MESSAGE_NOYIELD = 0x2,  // accepted, no effect
};

// Pumps SDL's events into the queue, lets the idle hook run, then looks for
// the first message for `filter` (null: any message, thread messages
// included; a window: only that window's and its controls' messages) whose
// number lies in first..last (0, 0: all). 1 and *out filled when one was
// found (and removed with MESSAGE_REMOVE), 0 when none.
int32_t Message_Peek(WindowMessage* out, Window* filter, uint32_t first, uint32_t last, uint32_t flags);
// Key messages need no translation here (nothing reads characters): 1 for a
// key message, 0 otherwise.
int32_t Message_Translate(const WindowMessage* message);
// Calls the window's procedure; 0 for thread messages and dead windows.
intptr_t Message_Dispatch(const WindowMessage* message);
// Calls the procedure at once, bypassing the queue; 0 for a dead window.
intptr_t Message_Send(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Queues a message and wakes a waiting Message_Wait. 0 for a window that is
// not live (null posts a thread message).
int32_t Message_Post(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Posts WM_QUIT with the exit code.
void Message_PostQuit(int32_t exitCode);
// Blocks until a message or an SDL event waits (SDL_WaitEvent, which removes
// nothing) or a quit signal came. With a wait hook set, calls the hook
// instead.
int32_t Message_Wait();
// SIGINT and SIGTERM end the program promptly in any state. The first asks
// the main window to close at the next pump (WM_QUIT without one), as the
// window manager's close does, so a program that takes its messages shuts
// down as usual; one that takes no WM_QUIT within a second (a load, a long
// frame, a clip) ends by the signal then, and a second signal ends it at
// once. Installed by the program's main before anything else.
void Message_HandleQuitSignals();
// Default processing: WM_CLOSE destroys the window; WM_PAINT sends
// WM_ERASEBKGND; everything else returns 0.
intptr_t Window_DefProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Sends WM_ERASEBKGND with the window's drawing context (a shown window
// paints its background at once).
void Message_Paint(Window* window);

// Called at every peek and during System_Sleep (the video stand-in shows its
// due frames there); null removes it.
typedef void (*MessageIdleHook)(void* arg);
void Message_SetIdleHook(MessageIdleHook hook, void* arg);
// Test hook: replaces the blocking wait (tests post the next message from
// it); null restores SDL's wait.
typedef void (*MessageWaitHook)(void* arg);
void Message_SetWaitHook(MessageWaitHook hook, void* arg);

// Drops every queued message of a window (it is being destroyed).
void Message_DropWindow(Window* window);
// Empties the queue and removes both hooks.
void Message_ResetAll();
// Number of queued messages (for tests).
int32_t Message_QueueLength();

// The virtual-key code of an SDL keycode (0 for keys without one).
uint32_t Message_VirtualKey(int32_t sdlKeycode);
