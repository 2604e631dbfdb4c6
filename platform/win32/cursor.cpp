#include "platform/win32/cursor.h"

#include <SDL2/SDL.h>

#include "platform/win32/window_internal.h"

namespace {

struct CursorModule {
    int32_t showCount = 0;
    CursorPoint position = {0, 0};
};

CursorModule& M()
{
    static CursorModule m;
    return m;
}

}  // namespace

int32_t Cursor_Show(int32_t show)
{
    CursorModule& m = M();
    m.showCount += show ? 1 : -1;
    if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_ShowCursor(m.showCount >= 0 ? SDL_ENABLE : SDL_DISABLE);
    return m.showCount;
}

int32_t Cursor_GetShowCount() { return M().showCount; }

int32_t Cursor_GetPos(CursorPoint* out)
{
    if (!out) return 0;
    *out = M().position;
    return 1;
}

int32_t Cursor_SetPos(int32_t x, int32_t y)
{
    M().position = CursorPoint{x, y};
    return 1;
}

int32_t Window_GetClientOrigin(Window* window, CursorPoint* out)
{
    if (!Window_IsLive(window) || !out) return 0;
    if (window->sdl) {
        int x = 0, y = 0;
        SDL_GetWindowPosition(window->sdl, &x, &y);
        *out = CursorPoint{x, y};
        return 1;
    }
    WindowRect frame = {0, 0, 0, 0};
    Window_AdjustRect(&frame, window->style, window->hasMenu, window->exStyle);
    *out = CursorPoint{window->x - frame.left, window->y - frame.top};
    return 1;
}

int32_t Window_ScreenToClient(Window* window, CursorPoint* point)
{
    CursorPoint origin;
    if (!point || !Window_GetClientOrigin(window, &origin)) return 0;
    point->x -= origin.x;
    point->y -= origin.y;
    return 1;
}

int32_t Cursor_Clip(const WindowRect* rect)
{
    if (rect) return 1;
    if (SDL_WasInit(SDL_INIT_VIDEO)) {
        for (Window* w : Window_LiveList())
            if (w->sdl) SDL_SetWindowGrab(w->sdl, SDL_FALSE);
        SDL_SetRelativeMouseMode(SDL_FALSE);
    }
    return 1;
}

void Cursor_NoteMotion(Window* window, int32_t x, int32_t y)
{
    CursorPoint origin = {0, 0};
    if (window) Window_GetClientOrigin(window, &origin);
    M().position = CursorPoint{origin.x + x, origin.y + y};
}

void Cursor_ResetAll()
{
    M().showCount = 0;
    M().position = CursorPoint{0, 0};
}
