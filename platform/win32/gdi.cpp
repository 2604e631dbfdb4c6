#include "platform/win32/gdi.h"

#include <SDL2/SDL.h>

#include "platform/win32/system.h"
#include "platform/win32/window_internal.h"

struct GdiContext {
    Window* window;  // null for the screen
};

GdiContext* Gdi_GetDC(Window* window)
{
    if (window && !Window_IsLive(window)) return nullptr;
    return new GdiContext{window};
}

int32_t Gdi_ReleaseDC(Window* /*window*/, GdiContext* dc)
{
    if (!dc) return 0;
    delete dc;
    return 1;
}

int32_t Gdi_GetDeviceCaps(GdiContext* dc, int32_t index)
{
    if (!dc) return 0;
    if (index == GDI_HORZRES) return System_GetMetrics(SYSTEM_CXSCREEN);
    if (index == GDI_VERTRES) return System_GetMetrics(SYSTEM_CYSCREEN);
    return 0;
}

int32_t Gdi_PatBlt(GdiContext* dc, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t rop)
{
    if (!dc || (rop != GDI_BLACKNESS && rop != GDI_WHITENESS)) return 0;
    Window* window = dc->window;
    if (!window || !Window_IsLive(window)) return 1;
    uint32_t rgb = rop == GDI_BLACKNESS ? 0 : 0xFFFFFF;
    window->lastFill = 0xFF000000u | rgb;
    if (!window->sdl) return 1;
    SDL_Surface* surface = Window_Surface(window->sdl);
    if (!surface) return 1;
    SDL_Rect rect = {x, y, width, height};
    SDL_FillRect(surface, &rect, SDL_MapRGB(surface->format, (uint8_t)(rgb >> 16), (uint8_t)(rgb >> 8), (uint8_t)rgb));
    SDL_UpdateWindowSurface(window->sdl);
    return 1;
}

uint32_t Gdi_GetLastFill(Window* window)
{
    return Window_IsLive(window) ? window->lastFill : 0;
}
