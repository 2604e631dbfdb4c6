#include "platform/win32/window.h"

#include <SDL2/SDL.h>

#include <cstdlib>

// The decorations the outer rectangle adds to a client area. They are fixed
// numbers rather than the desktop's theme so that sizes are reproducible.
namespace {
constexpr int32_t kCaptionHeight = 23;
constexpr int32_t kSizingBorder = 4;
constexpr int32_t kThinBorder = 1;
constexpr int32_t kMenuHeight = 20;
constexpr int32_t kClientEdge = 2;
}  // namespace

struct Window {
    SDL_Window* sdl;      // null when headless
    int32_t x, y;         // outer position on the desktop
    int32_t clientWidth;  // client size while not minimised
    int32_t clientHeight;
    uint32_t style;
    uint32_t exStyle;
    int32_t hasMenu;
    int32_t iconic;
    int32_t visible;
};

Window* Window_Create(const char* title, int32_t width, int32_t height, uint32_t flags)
{
    if (width <= 0 || height <= 0) return nullptr;
    Window* window = (Window*)calloc(1, sizeof(Window));
    if (!window) return nullptr;
    window->x = 32;
    window->y = 32;
    window->clientWidth = width;
    window->clientHeight = height;
    window->style = WINDOW_STYLE_OVERLAPPED;
    window->visible = 1;
    if (!(flags & WINDOW_HEADLESS)) {
        // Each SDL window holds one reference on the video subsystem.
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            free(window);
            return nullptr;
        }
        window->sdl = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                       width, height, SDL_WINDOW_RESIZABLE);
        if (!window->sdl) {
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
            free(window);
            return nullptr;
        }
    }
    return window;
}

void Window_Destroy(Window* window)
{
    if (!window) return;
    if (window->sdl) {
        SDL_DestroyWindow(window->sdl);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    free(window);
}

// Reads the live size of an SDL window into the record (the user may have
// resized or minimised it since).
static void SyncFromSdl(Window* window)
{
    if (!window->sdl) return;
    uint32_t sdlFlags = SDL_GetWindowFlags(window->sdl);
    window->iconic = (sdlFlags & SDL_WINDOW_MINIMIZED) != 0;
    if (sdlFlags & SDL_WINDOW_MAXIMIZED)
        window->style |= WINDOW_STYLE_MAXIMIZE;
    int w = 0, h = 0;
    SDL_GetWindowSize(window->sdl, &w, &h);
    if (!window->iconic) {
        window->clientWidth = w;
        window->clientHeight = h;
    }
}

int32_t Window_GetClientRect(Window* window, WindowRect* out)
{
    if (!window || !out) return 0;
    SyncFromSdl(window);
    out->left = out->top = 0;
    out->right = window->iconic ? 0 : window->clientWidth;
    out->bottom = window->iconic ? 0 : window->clientHeight;
    return 1;
}

int32_t Window_GetWindowRect(Window* window, WindowRect* out)
{
    if (!window || !out) return 0;
    SyncFromSdl(window);
    WindowRect rect = {0, 0, window->iconic ? 0 : window->clientWidth, window->iconic ? 0 : window->clientHeight};
    if (!window->iconic) Window_AdjustRect(&rect, window->style, window->hasMenu, window->exStyle);
    out->left = window->x;
    out->top = window->y;
    out->right = window->x + (rect.right - rect.left);
    out->bottom = window->y + (rect.bottom - rect.top);
    return 1;
}

int32_t Window_IsIconic(Window* window)
{
    if (!window) return 0;
    SyncFromSdl(window);
    return window->iconic;
}

uint32_t Window_GetStyle(Window* window)
{
    if (!window) return 0;
    SyncFromSdl(window);
    return window->style;
}

uint32_t Window_GetExStyle(Window* window) { return window ? window->exStyle : 0; }

uint32_t Window_SetStyle(Window* window, uint32_t style)
{
    if (!window) return 0;
    uint32_t previous = window->style;
    window->style = style;
    if (window->sdl && (previous & WINDOW_STYLE_MAXIMIZE) && !(style & WINDOW_STYLE_MAXIMIZE))
        SDL_RestoreWindow(window->sdl);
    return previous;
}

int32_t Window_HasMenu(Window* window) { return window ? window->hasMenu : 0; }

int32_t Window_AdjustRect(WindowRect* rect, uint32_t style, int32_t hasMenu, uint32_t exStyle)
{
    if (!rect) return 0;
    int32_t border = 0;
    if (style & WINDOW_STYLE_THICKFRAME)
        border = kSizingBorder;
    else if (style & WINDOW_STYLE_CAPTION)
        border = kThinBorder;
    if (exStyle & WINDOW_EXSTYLE_CLIENTEDGE) border += kClientEdge;
    int32_t top = border;
    if ((style & WINDOW_STYLE_CAPTION) == WINDOW_STYLE_CAPTION) top += kCaptionHeight;
    if (hasMenu) top += kMenuHeight;
    rect->left -= border;
    rect->right += border;
    rect->top -= top;
    rect->bottom += border;
    return 1;
}

int32_t Window_SetOuterSize(Window* window, int32_t width, int32_t height)
{
    if (!window || width < 0 || height < 0) return 0;
    WindowRect frame = {0, 0, 0, 0};
    Window_AdjustRect(&frame, window->style, window->hasMenu, window->exStyle);
    int32_t clientWidth = width - (frame.right - frame.left);
    int32_t clientHeight = height - (frame.bottom - frame.top);
    window->clientWidth = clientWidth > 0 ? clientWidth : 0;
    window->clientHeight = clientHeight > 0 ? clientHeight : 0;
    if (window->sdl && window->clientWidth > 0 && window->clientHeight > 0)
        SDL_SetWindowSize(window->sdl, window->clientWidth, window->clientHeight);
    return 1;
}

int32_t Window_Show(Window* window, int32_t show)
{
    if (!window) return 0;
    window->visible = show != 0;
    if (show) window->iconic = 0;
    if (window->sdl) {
        if (show) {
            SDL_ShowWindow(window->sdl);
            SDL_RestoreWindow(window->sdl);
        } else {
            SDL_HideWindow(window->sdl);
        }
    }
    return 1;
}

int32_t Window_IsVisible(Window* window) { return window ? window->visible : 0; }

SDL_Window* Window_SdlWindow(void* handle) { return handle ? ((Window*)handle)->sdl : nullptr; }

void Window_UserResize(Window* window, int32_t width, int32_t height)
{
    if (!window || width < 0 || height < 0) return;
    window->clientWidth = width;
    window->clientHeight = height;
    if (window->sdl && width > 0 && height > 0) SDL_SetWindowSize(window->sdl, width, height);
}

void Window_UserMinimise(Window* window, int32_t minimised)
{
    if (!window) return;
    window->iconic = minimised != 0;
    if (window->sdl) {
        if (minimised)
            SDL_MinimizeWindow(window->sdl);
        else
            SDL_RestoreWindow(window->sdl);
    }
}

void Window_UserMaximise(Window* window, int32_t maximised)
{
    if (!window) return;
    if (maximised)
        window->style |= WINDOW_STYLE_MAXIMIZE;
    else
        window->style &= ~WINDOW_STYLE_MAXIMIZE;
    if (window->sdl) {
        if (maximised)
            SDL_MaximizeWindow(window->sdl);
        else
            SDL_RestoreWindow(window->sdl);
    }
}
