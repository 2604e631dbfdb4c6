// The window record and the registry of live windows, shared by the window,
// message, cursor, drawing and dialog modules of the Win32 stand-in. Not for
// callers of the stand-in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/window.h"

struct SDL_Window;

struct Window {
    SDL_Window* sdl;        // null when headless, for never-shown windows and for controls
    uint32_t sdlId;         // SDL's window id, 0 without an SDL window
    int32_t x, y;           // outer position on the desktop
    int32_t clientWidth;    // client size while not minimised
    int32_t clientHeight;
    uint32_t style;
    uint32_t exStyle;
    int32_t hasMenu;
    int32_t iconic;
    int32_t visible;
    int32_t active;         // 1 from creation until the window loses its focus
    int32_t enabled;        // controls: 0 when disabled
    int32_t destroying;     // set while WM_DESTROY runs, so a nested destroy does nothing
    WindowProc procedure;   // the class's procedure; null for Window_Create windows
    void* instance;
    std::string className;
    std::string title;
    Window* parent;         // the dialog of a control, else null
    int32_t controlId;      // a control's id
    void* extra;            // the owning module's data (dialog and control records)
    void (*freeExtra)(void* extra);
    uint64_t serial;        // creation order, oldest first
    uint32_t lastFill;      // colour of the last background fill (gdi.h), 0 none
};

// Every live window, in creation order.
std::vector<Window*>& Window_LiveList();
// The live window that owns the SDL window with this id, or null.
Window* Window_FromSdlId(uint32_t id);
// Makes sure SDL's event system runs (1), so messages can be pumped and
// posted without a window.
int32_t Window_InitEvents();
// A window record without an SDL window and without a registered class
// (dialogs and their controls), made live.
Window* Window_CreateRecord(const char* className, const char* title, uint32_t style, WindowProc procedure,
                            Window* parent);
// Frees every window without messages and forgets classes, the foreground
// window and the headless switch.
void Window_ResetAll();
