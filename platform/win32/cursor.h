// The mouse cursor of the Win32 stand-in: the display counter, the position
// in screen pixels, conversion to a window's client area and clip release.
//
// The position is the stand-in's own record: SDL's mouse motion updates it
// while messages are pumped, and Cursor_SetPos sets it without moving the
// real pointer (SDL clamps a warped pointer to the window, which would hide
// the cases where the cursor lies outside it). Main thread only.
#pragma once

#include <cstdint>

#include "platform/win32/window.h"

struct CursorPoint {
    int32_t x, y;
};

// Adds 1 (show) or -1 (hide) to the display counter and returns the new
// count; the cursor is shown while the count is >= 0 (it starts at 0).
int32_t Cursor_Show(int32_t show);
int32_t Cursor_GetShowCount();
// The cursor position in screen pixels. 0 for a null point.
int32_t Cursor_GetPos(CursorPoint* out);
// Sets the recorded position (tests play the mouse with it). Returns 1.
int32_t Cursor_SetPos(int32_t x, int32_t y);
// Screen pixels to the window's client pixels (may be negative or beyond the
// client size). 0, point untouched, for a window that is not live.
int32_t Window_ScreenToClient(Window* window, CursorPoint* point);
// Screen position of the client area's top left corner; 0 when not live.
int32_t Window_GetClientOrigin(Window* window, CursorPoint* out);
// Confines the cursor to a rectangle, or releases any confinement (null).
// Only the release is carried out; a rectangle is accepted and ignored.
int32_t Cursor_Clip(const WindowRect* rect);

// Called by the message pump with SDL mouse motion (client pixels of the
// window, or of no known window).
void Cursor_NoteMotion(Window* window, int32_t x, int32_t y);
// Counter 0, position 0, 0.
void Cursor_ResetAll();
