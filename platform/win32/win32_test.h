// Test hook of the Win32 stand-in: puts every window-side module back to its
// state at process start, so that tests can run the program's entry several
// times in one process.
#pragma once

#include <cstdint>

// Frees all windows (without messages), forgets window classes, dialog
// templates and scripts, empties the message queue, removes the idle and
// wait hooks, resets the cursor counter and position, the key state, the
// keyboard hooks and the screen size read. The single-instance lock is
// released separately (Mutex_Release).
void Win32Test_ResetAll();

struct Window;

// Pushes SDL events as the user would make them (null window: no SDL window
// claims the event, so it goes to the foreground window). Keys are given by
// their virtual-key code; alt sets the Alt modifier. Mouse buttons: 1 left,
// 2 middle, 3 right. Each returns 0 when SDL's events can't start.
int Win32Test_PushKey(uint32_t virtualKey, int down, int alt);
// The same by SDL scancode (what the key has on a US layout).
int Win32Test_PushScancode(int32_t scancode, int down, int alt);
int Win32Test_PushFocus(Window* window, int gained);
int Win32Test_PushClose(Window* window);
int Win32Test_PushMouseMotion(Window* window, int32_t x, int32_t y);
int Win32Test_PushMouseButton(Window* window, int button, int down);
