#include "platform/win32/window.h"

#include <SDL2/SDL.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>

#include "platform/win32/message.h"
#include "platform/win32/system.h"
#include "platform/win32/window_internal.h"

// The decorations the outer rectangle adds to a client area. They are fixed
// numbers rather than the desktop's theme so that sizes are reproducible.
namespace {
constexpr int32_t kCaptionHeight = 23;
constexpr int32_t kSizingBorder = 4;
constexpr int32_t kThinBorder = 1;
constexpr int32_t kMenuHeight = 20;
constexpr int32_t kClientEdge = 2;

struct WindowClass {
    std::string name;
    WindowClassInfo info;
};

// Module record of the window side of the stand-in.
struct WindowModule {
    std::vector<Window*> live;        // creation order
    std::vector<WindowClass> classes;
    Window* foreground = nullptr;
    uint64_t nextSerial = 1;
    int32_t headless = 0;
    bool eventsStarted = false;
};

WindowModule& M()
{
    static WindowModule m;
    return m;
}

// Window_SetSurfaceFence's fence; kept by Window_ResetAll, as it belongs to
// the presentation layer, not to the windows.
void (*g_surfaceFence)() = nullptr;

void FenceSurface()
{
    if (g_surfaceFence) g_surfaceFence();
}

WindowClass* FindClass(const char* name)
{
    if (!name) return nullptr;
    for (WindowClass& c : M().classes)
        if (strcasecmp(c.name.c_str(), name) == 0) return &c;
    return nullptr;
}

uint32_t SdlFlagsFor(uint32_t style, uint32_t exStyle)
{
    uint32_t flags = (style & WINDOW_STYLE_VISIBLE) ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
    if ((style & WINDOW_STYLE_CAPTION) != WINDOW_STYLE_CAPTION) flags |= SDL_WINDOW_BORDERLESS;
    if (style & WINDOW_STYLE_THICKFRAME) flags |= SDL_WINDOW_RESIZABLE;
    if (exStyle & WINDOW_EXSTYLE_TOPMOST) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
    return flags;
}

// Gives the record an SDL window of its client size; false when SDL fails.
bool MakeSdlWindow(Window* window, int32_t x, int32_t y, uint32_t sdlFlags)
{
    // Pictures are made in memory everywhere (the rasteriser, the video
    // frames, the cover's fill): window surfaces are plain framebuffers, never
    // a GL renderer behind them, which would load a GL stack for nothing.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // Each SDL window holds one reference on the video subsystem.
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    int sx = x == WINDOW_USEDEFAULT ? (int)SDL_WINDOWPOS_UNDEFINED : x;
    int sy = y == WINDOW_USEDEFAULT ? (int)SDL_WINDOWPOS_UNDEFINED : y;
    window->sdl = SDL_CreateWindow(window->title.c_str(), sx, sy, window->clientWidth, window->clientHeight, sdlFlags);
    if (!window->sdl) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    window->sdlId = SDL_GetWindowID(window->sdl);
    return true;
}

// A record that is active and enabled, numbered in creation order.
Window* NewRecord(const char* className, const char* title, uint32_t style, WindowProc procedure, Window* parent)
{
    Window* window = new Window{};
    window->className = className ? className : "";
    window->title = title ? title : "";
    window->style = style;
    window->procedure = procedure;
    window->parent = parent;
    window->active = 1;
    window->enabled = 1;
    window->serial = M().nextSerial++;
    return window;
}

void FreeWindow(Window* window)
{
    if (window->sdl) {
        FenceSurface();
        SDL_DestroyWindow(window->sdl);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    if (window->freeExtra) window->freeExtra(window->extra);
    delete window;
}

}  // namespace

std::vector<Window*>& Window_LiveList() { return M().live; }

int32_t Window_IsLive(const Window* window)
{
    if (!window) return 0;
    const std::vector<Window*>& live = M().live;
    return std::find(live.begin(), live.end(), window) != live.end() ? 1 : 0;
}

Window* Window_FromSdlId(uint32_t id)
{
    if (id == 0) return nullptr;
    for (Window* w : M().live)
        if (w->sdlId == id) return w;
    return nullptr;
}

Window* Window_GetForeground() { return M().foreground; }

int32_t Window_InitEvents()
{
    if (!M().eventsStarted) {
        if (SDL_InitSubSystem(SDL_INIT_EVENTS) != 0) return 0;
        M().eventsStarted = true;
        System_WatchKeys();  // the asynchronous key state sees every key from now on
    }
    return 1;
}

int32_t WindowClass_Register(const WindowClassInfo* info)
{
    if (!info || !info->name || !*info->name || !info->procedure || FindClass(info->name)) return 0;
    WindowClass c;
    c.name = info->name;
    c.info = *info;
    c.info.name = nullptr;  // the copy above owns the name
    M().classes.push_back(c);
    return 1;
}

int32_t WindowClass_Unregister(const char* name, void* /*instance*/)
{
    std::vector<WindowClass>& classes = M().classes;
    for (size_t i = 0; i < classes.size(); i++) {
        if (strcasecmp(classes[i].name.c_str(), name ? name : "") == 0) {
            classes.erase(classes.begin() + (ptrdiff_t)i);
            return 1;
        }
    }
    return 0;
}

void Window_SetHeadless(int32_t headless) { M().headless = headless != 0; }
int32_t Window_GetHeadless() { return M().headless; }

Window* Window_CreateEx(uint32_t exStyle, const char* className, const char* title, uint32_t style, int32_t x,
                        int32_t y, int32_t width, int32_t height, Window* parent, void* instance)
{
    WindowClass* wc = FindClass(className);
    if (!wc || width < 0 || height < 0) return nullptr;
    if (parent && !Window_IsLive(parent)) return nullptr;
    Window* window = NewRecord(wc->name.c_str(), title, style, wc->info.procedure, parent);
    window->instance = instance;
    window->exStyle = exStyle;
    window->visible = (style & WINDOW_STYLE_VISIBLE) != 0;
    window->x = x == WINDOW_USEDEFAULT ? 32 : x;
    window->y = y == WINDOW_USEDEFAULT ? 32 : y;
    WindowRect frame = {0, 0, 0, 0};
    Window_AdjustRect(&frame, style, 0, exStyle);
    window->clientWidth = std::max(0, width - (frame.right - frame.left));
    window->clientHeight = std::max(0, height - (frame.bottom - frame.top));
    bool wantsSdl = !M().headless && !(style & WINDOW_STYLE_CHILD) && !parent && window->clientWidth > 0 &&
                    window->clientHeight > 0;
    if (wantsSdl && !MakeSdlWindow(window, x, y, SdlFlagsFor(style, exStyle))) {
        delete window;
        return nullptr;
    }
    Window_InitEvents();
    M().live.push_back(window);
    if (window->visible && !parent) {
        Window_SetForeground(window);
        Message_Paint(window);
    }
    return window;
}

Window* Window_CreateRecord(const char* className, const char* title, uint32_t style, WindowProc procedure,
                            Window* parent)
{
    Window* window = NewRecord(className, title, style, procedure, parent);
    M().live.push_back(window);
    return window;
}

Window* Window_Create(const char* title, int32_t width, int32_t height, uint32_t flags)
{
    if (width <= 0 || height <= 0) return nullptr;
    Window* window = NewRecord(nullptr, title, WINDOW_STYLE_OVERLAPPED, nullptr, nullptr);
    window->x = 32;
    window->y = 32;
    window->clientWidth = width;
    window->clientHeight = height;
    window->visible = 1;
    if (!(flags & WINDOW_HEADLESS) && !MakeSdlWindow(window, WINDOW_USEDEFAULT, WINDOW_USEDEFAULT, SDL_WINDOW_RESIZABLE)) {
        delete window;
        return nullptr;
    }
    M().live.push_back(window);
    return window;
}

int32_t Window_Destroy(Window* window)
{
    if (!Window_IsLive(window) || window->destroying) return 0;
    window->destroying = 1;
    if (window->procedure) window->procedure(window, WM_DESTROY, 0, 0);
    // Controls go with their dialog (copied: destroying changes the list).
    std::vector<Window*> children;
    for (Window* w : M().live)
        if (w->parent == window) children.push_back(w);
    for (Window* child : children) Window_Destroy(child);
    Message_DropWindow(window);
    std::vector<Window*>& live = M().live;
    live.erase(std::find(live.begin(), live.end(), window));
    if (M().foreground == window) M().foreground = nullptr;
    FreeWindow(window);
    return 1;
}

// Reads the live size of an SDL window into the record (the user may have
// resized or minimised it since).
static void SyncFromSdl(Window* window)
{
    if (!window->sdl) return;
    uint32_t sdlFlags = SDL_GetWindowFlags(window->sdl);
    window->iconic = (sdlFlags & SDL_WINDOW_MINIMIZED) != 0;
    if (sdlFlags & SDL_WINDOW_MAXIMIZED) window->style |= WINDOW_STYLE_MAXIMIZE;
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

int32_t Window_SetPos(Window* window, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags)
{
    if (!Window_IsLive(window)) return 0;
    if (!(flags & WINDOW_POS_NOMOVE)) {
        window->x = x;
        window->y = y;
        if (window->sdl) SDL_SetWindowPosition(window->sdl, x, y);
    }
    if (!(flags & WINDOW_POS_NOSIZE)) Window_SetOuterSize(window, width, height);
    if ((flags & WINDOW_POS_FRAMECHANGED) && window->sdl) {
        bool caption = (window->style & WINDOW_STYLE_CAPTION) == WINDOW_STYLE_CAPTION;
        SDL_SetWindowBordered(window->sdl, caption ? SDL_TRUE : SDL_FALSE);
        SDL_SetWindowResizable(window->sdl, (window->style & WINDOW_STYLE_THICKFRAME) ? SDL_TRUE : SDL_FALSE);
    }
    return 1;
}

const char* Window_GetTitle(Window* window) { return Window_IsLive(window) ? window->title.c_str() : nullptr; }
const char* Window_GetClassName(Window* window)
{
    return Window_IsLive(window) ? window->className.c_str() : nullptr;
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
    if (window->sdl && window->clientWidth > 0 && window->clientHeight > 0) {
        FenceSurface();
        SDL_SetWindowSize(window->sdl, window->clientWidth, window->clientHeight);
    }
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
    if (show && Window_IsLive(window)) {
        Window_SetForeground(window);
        Message_Paint(window);
    }
    return 1;
}

int32_t Window_IsVisible(Window* window) { return window ? window->visible : 0; }

int32_t Window_SetForeground(Window* window)
{
    if (!Window_IsLive(window)) return 0;
    if (window->sdl) SDL_RaiseWindow(window->sdl);
    M().foreground = window;
    return 1;
}

int32_t Window_IsActive(Window* window) { return Window_IsLive(window) ? window->active : 0; }

int32_t Window_Enable(Window* window, int32_t enable)
{
    if (!Window_IsLive(window)) return 0;
    int32_t wasDisabled = !window->enabled;
    window->enabled = enable != 0;
    return wasDisabled;
}

int32_t Window_IsEnabled(Window* window) { return Window_IsLive(window) ? window->enabled : 0; }

SDL_Window* Window_SdlWindow(void* handle) { return handle ? ((Window*)handle)->sdl : nullptr; }

void Window_SetSurfaceFence(void (*fence)()) { g_surfaceFence = fence; }

SDL_Surface* Window_Surface(SDL_Window* window)
{
    if (!window) return nullptr;
    FenceSurface();
    return SDL_GetWindowSurface(window);
}

void Window_UserResize(Window* window, int32_t width, int32_t height)
{
    if (!window || width < 0 || height < 0) return;
    window->clientWidth = width;
    window->clientHeight = height;
    if (window->sdl && width > 0 && height > 0) {
        FenceSurface();
        SDL_SetWindowSize(window->sdl, width, height);
    }
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

void Window_ResetAll()
{
    WindowModule& m = M();
    // Windows left over are freed without messages: their owners are gone.
    std::vector<Window*> live = m.live;
    m.live.clear();
    for (Window* w : live) FreeWindow(w);
    m.classes.clear();
    m.foreground = nullptr;
    m.headless = 0;
}
