// Camera updates on Direct3D 8 (the driver's standard functions 1, 10 and
// 21), the scene bracket, and the recovery of a lost or resized device:
// every device resource the driver owns is released, the device reset and
// everything rebuilt, by one release/restore pair that the raster show
// uses around its own resets too.
#pragma once

#include <cstdint>

struct Camera;
struct Window;

// Standard function 1 (out, camera, arg): the window checks and the scene
// (either may reset the device), then view and projection transforms,
// render target and viewport, so that they hold on the frame of a reset
// too. 1 when drawing may start, 0 when the frame must be skipped
// (minimised window, lost device, failed resize).
int32_t D3D8_CameraBeginUpdate(void *out, void *camera, int32_t arg);
// Standard function 10: copies a camera texture drawn in the back buffer
// into its texture and restores the device's render target. 1.
int32_t D3D8_CameraEndUpdate(void *out, void *camera, int32_t arg);
// Standard function 21 (camera, colour as r, g, b, a bytes, flags: 1 frame
// buffer, 2 Z buffer, 4 stencil). 0 when the window is minimised or empty;
// a device that can be reset is reset first, and on a device still lost the
// clear waits for the camera's next begin update, which resets the device.
int32_t D3D8_CameraClear(void *camera, void *colour, int32_t flags);

// Resets a lost device that can be reset now and rebuilds what a release
// left behind. 1 when the device can be drawn into (always inside a scene).
int32_t D3D8_RecoverDevice(void);
// Opens the device scene once per frame, after D3D8_RecoverDevice. 1 when a
// scene is open.
int32_t D3D8_BeginScene(void);
// Releases everything that does not survive a reset; safe to run twice.
void D3D8_ReleaseDeviceResources(void);
// Rebuilds it after a successful reset; 0 at the first failing step.
int32_t D3D8_RestoreDeviceResources(void);
// Fetches the back buffer and depth surface pointers (no references kept).
void D3D8_FetchDeviceSurfaces(void);
// Makes the camera draw into a second window (windowed devices only, and
// not the device window): an additional swap chain with a camera raster
// over its back buffer and a Z raster of the same size. Existing rasters of
// the camera are rebuilt in place, so whoever holds them keeps valid
// pointers. 1, or 0 when the swap chain cannot be made.
int32_t D3D8_CreateWindowSwapChain(Camera *camera, Window *window);
// The device window's client area changed to width x height: reset the
// device to it, or put the window back. 1 when drawing may go on.
int32_t D3D8_WindowResize(uint32_t width, uint32_t height);
