// Drawing contexts of the Win32 stand-in: just enough GDI for a window to
// paint its background (the black cover window) and for the video player to
// read the screen's resolution.
#pragma once

#include <cstdint>

struct Window;
struct GdiContext;

// Device-capability indices (the Win32 numbering).
enum : int32_t {
    GDI_HORZRES = 8,   // screen width in pixels
    GDI_VERTRES = 10,  // screen height in pixels
};

// Raster operations of Gdi_PatBlt.
enum : uint32_t {
    GDI_BLACKNESS = 0x42,
    GDI_WHITENESS = 0xFF0062,
};

// The context of a window's client area, or of the screen for null. Null
// only when the window is not live. Give it back with Gdi_ReleaseDC.
GdiContext* Gdi_GetDC(Window* window);
// 1 when the context was released.
int32_t Gdi_ReleaseDC(Window* window, GdiContext* dc);
// HORZRES and VERTRES: the screen size (System_GetMetrics); 0 for others.
int32_t Gdi_GetDeviceCaps(GdiContext* dc, int32_t index);
// Fills a rectangle of the context with black or white; the window's SDL
// window shows it at once. A headless window or the screen context draws
// nothing and succeeds. 0 for an unknown operation or a null context.
int32_t Gdi_PatBlt(GdiContext* dc, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t rop);
// The colour last filled into a window (0xFF000000 | rgb), or 0 when none
// was: lets tests see what a headless window painted.
uint32_t Gdi_GetLastFill(Window* window);
