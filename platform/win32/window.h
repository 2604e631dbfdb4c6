// Windows of the Win32 stand-in: the application window as the graphics
// driver sees it (client size, minimised state, style words, menu, the outer
// rectangle for a client size, resizing without moving, showing and hiding),
// and the window classes, procedures, activation and foreground order that
// the shell, the device dialog and the video player use.
//
// A window is either backed by an SDL window or headless. A headless window
// keeps the same answers in its record, so that tests (and runs without a
// display) can play the user: resize it, minimise it, maximise it.
// The handle is what the graphics driver receives as its window.
//
// Handles are checked: destroying, showing or sending to a handle that is no
// longer a live window does nothing, so a second destroy is harmless.
// Main thread only.
#pragma once

#include <cstdint>

struct SDL_Surface;
struct SDL_Window;
struct Window;

// A window procedure: (window, message, wParam, lParam) -> result.
typedef intptr_t (*WindowProc)(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Style bits the driver reads and changes (the Win32 numbering).
enum : uint32_t {
    WINDOW_STYLE_MAXIMIZE = 0x1000000,   // the window is maximised
    WINDOW_STYLE_CAPTION = 0xC00000,     // title bar (and thin border)
    WINDOW_STYLE_THICKFRAME = 0x40000,   // sizing border
    WINDOW_STYLE_OVERLAPPED = WINDOW_STYLE_CAPTION | WINDOW_STYLE_THICKFRAME,
    WINDOW_EXSTYLE_CLIENTEDGE = 0x200,   // sunken client edge
    WINDOW_STYLE_POPUP = 0x80000000,     // no frame of its own
    WINDOW_STYLE_CHILD = 0x40000000,     // a control inside a dialog
    WINDOW_STYLE_VISIBLE = 0x10000000,   // shown at creation
    WINDOW_EXSTYLE_TOPMOST = 0x8,        // above all other windows
};

// Window_CreateEx position meaning "where the system puts new windows".
constexpr int32_t WINDOW_USEDEFAULT = (int32_t)0x80000000;

// Messages (the Win32 numbering).
enum : uint32_t {
    WM_NULL = 0x0,
    WM_DESTROY = 0x2,
    WM_SIZE = 0x5,
    WM_ACTIVATE = 0x6,        // wParam low word 1 active, 0 inactive
    WM_PAINT = 0xF,
    WM_CLOSE = 0x10,          // default processing destroys the window
    WM_QUIT = 0x12,           // wParam: the exit code
    WM_ERASEBKGND = 0x14,     // wParam: the drawing context (gdi.h)
    WM_ACTIVATEAPP = 0x1C,    // wParam 1 the application is active, 0 not
    WM_KEYDOWN = 0x100,       // wParam the virtual-key code
    WM_KEYUP = 0x101,
    WM_SYSKEYDOWN = 0x104,    // key messages while Alt is held
    WM_SYSKEYUP = 0x105,
    WM_INITDIALOG = 0x110,
    WM_COMMAND = 0x111,       // wParam low word the control id, high word the notification
    WM_MOUSEMOVE = 0x200,     // lParam x | y << 16 in client pixels
    WM_LBUTTONDOWN = 0x201,
    WM_LBUTTONUP = 0x202,
    WM_RBUTTONDOWN = 0x204,
    WM_RBUTTONUP = 0x205,
    WM_MBUTTONDOWN = 0x207,
    WM_MBUTTONUP = 0x208,
    WM_HOTKEY = 0x312,
    WM_USER = 0x400,
};

// A window class: its procedure and what windows of it share.
struct WindowClassInfo {
    uint32_t style;
    WindowProc procedure;  // must not be null
    void* instance;        // the module instance (any value; only compared)
    int32_t cursor;        // cursor id (32512 the arrow) or 0
    const char* name;      // compared without regard to case
};

// Registers a class; 0 when the name exists already, or the name or the
// procedure is missing.
int32_t WindowClass_Register(const WindowClassInfo* info);
// Removes a class; 0 when there is none of that name. Windows of the class
// keep their procedure.
int32_t WindowClass_Unregister(const char* name, void* instance);

// A window of a registered class with an outer size of width x height (the
// client area is what the style's frame leaves). A window with a positive
// size that is not a control gets an SDL window, shown at once with
// WINDOW_STYLE_VISIBLE and hidden until Window_Show otherwise; any other
// window is a record that only takes messages. WINDOW_STYLE_CAPTION makes a
// title bar, a style without it a borderless window; WINDOW_STYLE_THICKFRAME
// makes it resizable. Null for an unknown class, or when SDL can't make the
// window (the caller may switch to headless windows and try again).
Window* Window_CreateEx(uint32_t exStyle, const char* className, const char* title, uint32_t style, int32_t x,
                        int32_t y, int32_t width, int32_t height, Window* parent, void* instance);
// While set, windows are created headless: no SDL window, whatever the style.
void Window_SetHeadless(int32_t headless);
int32_t Window_GetHeadless();

// Window_Create flags.
enum : uint32_t {
    WINDOW_HEADLESS = 1,  // no SDL window: the record answers alone
};

struct WindowRect {  // left, top, right, bottom; right and bottom exclusive
    int32_t left, top, right, bottom;
};

// A window with a client area of width x height and an overlapped style,
// without class or procedure (the graphics driver's tests use these).
// Null when the size is not positive or SDL cannot make the window (the
// caller may retry headless). The caller destroys it with Window_Destroy.
Window* Window_Create(const char* title, int32_t width, int32_t height, uint32_t flags);
// Sends WM_DESTROY to the procedure, destroys the window's controls, drops
// its queued messages and frees it. 0 for null or a handle that is no
// longer live (a second destroy), 1 otherwise.
int32_t Window_Destroy(Window* window);

// Client rectangle: (0, 0, width, height); zero size while minimised.
// 0 for a null window (out untouched).
int32_t Window_GetClientRect(Window* window, WindowRect* out);
// Outer rectangle on the desktop (client area plus decorations).
int32_t Window_GetWindowRect(Window* window, WindowRect* out);
int32_t Window_IsIconic(Window* window);
uint32_t Window_GetStyle(Window* window);
uint32_t Window_GetExStyle(Window* window);
// Replaces the style word; clearing WINDOW_STYLE_MAXIMIZE restores a
// maximised window. Returns the previous style. The SDL window takes the new
// frame at the next Window_SetPos with WINDOW_POS_FRAMECHANGED.
uint32_t Window_SetStyle(Window* window, uint32_t style);

// Window_SetPos flags (the Win32 numbering).
enum : uint32_t {
    WINDOW_POS_NOSIZE = 0x1,
    WINDOW_POS_NOMOVE = 0x2,
    WINDOW_POS_NOZORDER = 0x4,
    WINDOW_POS_FRAMECHANGED = 0x20,
};
// Moves and sizes (outer size) unless told not to; FRAMECHANGED applies the
// style: the SDL window gets or loses its title bar, and the client area
// keeps its size. 0 for a window that is not live.
int32_t Window_SetPos(Window* window, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags);
const char* Window_GetTitle(Window* window);
const char* Window_GetClassName(Window* window);
int32_t Window_HasMenu(Window* window);
// Grows a client rectangle into the outer rectangle of a window with that
// style, extended style and menu. 0 for a null rectangle.
int32_t Window_AdjustRect(WindowRect* rect, uint32_t style, int32_t hasMenu, uint32_t exStyle);
// Gives the window an outer size of width x height, keeping its position
// and stacking order. 0 for a null window or a negative size.
int32_t Window_SetOuterSize(Window* window, int32_t width, int32_t height);
// show 1 restores (and un-minimises) the window, raises it and makes it the
// foreground window; 0 hides it.
int32_t Window_Show(Window* window, int32_t show);
int32_t Window_IsVisible(Window* window);
// Raises the window and makes it the one that takes key events which no SDL
// window claims (pushed events of tests, headless runs). 0 when not live.
int32_t Window_SetForeground(Window* window);
// The window that receives key events no SDL window claims (the one last
// shown, raised or brought to the foreground), or null.
Window* Window_GetForeground();
// 1 when `window` is a live window of this process (never dereferenced).
int32_t Window_IsLive(const Window* window);
// 1 from creation until SDL reports that the window lost its focus, and
// again once it gains it; 0 for a window that is not live.
int32_t Window_IsActive(Window* window);
// Controls: enabled state (a disabled control ignores the user).
int32_t Window_Enable(Window* window, int32_t enable);
int32_t Window_IsEnabled(Window* window);

// The SDL window behind a handle (null for headless windows and null handles);
// the presentation layer registers it as its window resolver.
SDL_Window* Window_SdlWindow(void* handle);

// Writes into an SDL window's surface from other threads: the presentation
// layer copies a frame into it while the game goes on. Its fence (null:
// none) is called before a window's surface is taken (Window_Surface), its
// size set or the window destroyed, and returns once those writes are done,
// so that the surface's memory never changes or goes under them.
void Window_SetSurfaceFence(void (*fence)());
// The SDL window's surface to draw into, after the fence; null when SDL
// has none for it.
SDL_Surface* Window_Surface(SDL_Window* window);

// Acting as the user (the SDL window is changed too when there is one):
// resize the client area, minimise or restore, maximise.
void Window_UserResize(Window* window, int32_t width, int32_t height);
void Window_UserMinimise(Window* window, int32_t minimised);
void Window_UserMaximise(Window* window, int32_t maximised);
