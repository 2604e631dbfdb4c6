// Presentation of the Direct3D 8 stand-in: showing a back buffer in the
// window owner's SDL window, and writing presented frames (or any surface) as
// PNG images.
//
// The window belongs to the Win32 stand-in: the handles the driver passes as
// focus or device window are its Window records (platform/win32/window.h).
// A headless window, or a null handle, has no SDL window: presentation then
// goes nowhere (headless runs), while the window's record still gives the
// client size. With a null handle the client size is the desktop size.
#pragma once

#include <cstdint>

#include "platform/direct3d/d3d8_draw.h"
#include "platform/direct3d/rasteriser.h"

// The desktop the adapter reports in windowed mode (the window owner's
// screen or main window size). Applies to objects created afterwards;
// 0 x 0 goes back to 640 x 480.
void D3D8Present_SetDesktopSize(uint32_t width, uint32_t height);
void D3D8Present_DesktopSize(uint32_t* width, uint32_t* height);

// Client size of the window `windowHandle`; 0 (sizes untouched) for a null
// handle or an empty (minimised) client area.
int D3D8Present_ClientSize(void* windowHandle, uint32_t* width, uint32_t* height);

// Gives the window a client area of `width` x `height` (full-screen modes are
// shown as windows of the mode's size). Nothing happens for a null handle.
void D3D8Present_SizeWindow(void* windowHandle, uint32_t width, uint32_t height);

// Shows `image` in the window (scaled to its client area) and counts the
// frame; writes it as PNG when capture asks for this frame. Returns 1 when
// shown or there is no window, 0 when SDL failed. Begin and Finish at once.
int D3D8Present_Show(void* windowHandle, const D3D8DrawSurface* image);

// Showing a frame whose pixels are still being drawn, in two steps. Begin,
// at the present call: counts the frame, decides whether it is captured and
// keeps the window and the image (whose memory must stay until Finish);
// returns 0 when the window cannot show the image's format (Finish then
// only writes the capture). Finish, once the pixels are final: writes the
// capture and shows the image; returns 1 when shown, there is no window or
// it was closed meanwhile, 0 when SDL failed. One frame at a time: every
// Begin is followed by its Finish before the next Begin.
int D3D8Present_Begin(void* windowHandle, const D3D8DrawSurface* image);
int D3D8Present_Finish();

// Between Begin and Finish: the copy of the frame into its window as a job
// on the picture's tiles, for the flush that draws the frame to run on each
// tile once its pixels are final (Rasteriser_FlushAsync's `after`); Finish
// then only shows it. Returns 0 (Finish copies) when the window cannot take
// the frame that way (no window, another size, formats that differ).
int D3D8Present_TileCopy(RasteriserTileJob* job);

// Capture of presented frames. Frames are counted from 0 by D3D8Present_Show
// since the last call to one of these. `path` for one frame is the file name;
// for every frame it is a printf pattern with one %d (the frame number),
// e.g. "frame%04d.png". Null path stops capturing.
void D3D8Present_CaptureFrame(int frame, const char* path);
void D3D8Present_CaptureEveryFrame(const char* pattern);

// Writes a colour surface (any stored colour format; P8 through `palette`)
// as an 8-bit RGBA PNG. Returns 1, or 0 when the format cannot be read or
// the file cannot be written (no file is left behind then).
int D3D8Present_WritePng(const D3D8DrawSurface* image, const PALETTEENTRY* palette, const char* path);

// Reads a PNG into tightly packed A8R8G8B8 pixels (new[]; the caller frees
// with delete[]). Returns null for unreadable or damaged files and images
// larger than 8192 x 8192. For comparing renders with stored images.
uint32_t* D3D8Present_ReadPng(const char* path, int* width, int* height);
