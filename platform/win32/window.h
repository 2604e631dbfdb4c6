// The application window as the graphics driver sees it: client size,
// minimised state, style words, menu, the outer rectangle for a client size,
// resizing without moving, showing and hiding.
//
// A window is either backed by an SDL window or headless. A headless window
// keeps the same answers in its record, so that tests (and runs without a
// display) can play the user: resize it, minimise it, maximise it.
// The handle is what the graphics driver receives as its window.
#pragma once

#include <cstdint>

struct SDL_Window;
struct Window;

// Style bits the driver reads and changes (the Win32 numbering).
enum : uint32_t {
    WINDOW_STYLE_MAXIMIZE = 0x1000000,   // the window is maximised
    WINDOW_STYLE_CAPTION = 0xC00000,     // title bar (and thin border)
    WINDOW_STYLE_THICKFRAME = 0x40000,   // sizing border
    WINDOW_STYLE_OVERLAPPED = WINDOW_STYLE_CAPTION | WINDOW_STYLE_THICKFRAME,
    WINDOW_EXSTYLE_CLIENTEDGE = 0x200,   // sunken client edge
};

// Window_Create flags.
enum : uint32_t {
    WINDOW_HEADLESS = 1,  // no SDL window: the record answers alone
};

struct WindowRect {  // left, top, right, bottom; right and bottom exclusive
    int32_t left, top, right, bottom;
};

// A window with a client area of width x height and an overlapped style.
// Null when the size is not positive or SDL cannot make the window (the
// caller may retry headless). The caller destroys it with Window_Destroy.
Window* Window_Create(const char* title, int32_t width, int32_t height, uint32_t flags);
void Window_Destroy(Window* window);

// Client rectangle: (0, 0, width, height); zero size while minimised.
// 0 for a null window (out untouched).
int32_t Window_GetClientRect(Window* window, WindowRect* out);
// Outer rectangle on the desktop (client area plus decorations).
int32_t Window_GetWindowRect(Window* window, WindowRect* out);
int32_t Window_IsIconic(Window* window);
uint32_t Window_GetStyle(Window* window);
uint32_t Window_GetExStyle(Window* window);
// Replaces the style word; clearing WINDOW_STYLE_MAXIMIZE restores a
// maximised window. Returns the previous style.
uint32_t Window_SetStyle(Window* window, uint32_t style);
int32_t Window_HasMenu(Window* window);
// Grows a client rectangle into the outer rectangle of a window with that
// style, extended style and menu. 0 for a null rectangle.
int32_t Window_AdjustRect(WindowRect* rect, uint32_t style, int32_t hasMenu, uint32_t exStyle);
// Gives the window an outer size of width x height, keeping its position
// and stacking order. 0 for a null window or a negative size.
int32_t Window_SetOuterSize(Window* window, int32_t width, int32_t height);
// show 1 restores (and un-minimises) the window, 0 hides it.
int32_t Window_Show(Window* window, int32_t show);
int32_t Window_IsVisible(Window* window);

// The SDL window behind a handle (null for headless windows and null handles);
// the presentation layer registers it as its window resolver.
SDL_Window* Window_SdlWindow(void* handle);

// Acting as the user (the SDL window is changed too when there is one):
// resize the client area, minimise or restore, maximise.
void Window_UserResize(Window* window, int32_t width, int32_t height);
void Window_UserMinimise(Window* window, int32_t minimised);
void Window_UserMaximise(Window* window, int32_t maximised);
