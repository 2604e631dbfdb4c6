// The Direct3D 8 driver's seam for rasters.
//
// The device system (device, caps, display mode, depth format, back buffer)
// and the render-state cache belong to the driver's device issue, which
// replaces this file's placeholders: the device state record is filled by
// whoever creates the device (today the tests), and stage unbinding talks
// to the device directly instead of through the stage cache.
#pragma once

#include <cstdint>

#include "platform/direct3d/d3d8.h"

struct Raster;
struct RasterRect;

struct D3D8DeviceState {
    IDirect3D8 *d3d;
    IDirect3DDevice8 *device;
    uint32_t adapter;
    uint32_t deviceType;            // D3DDEVTYPE_HAL
    D3DCAPS8 caps;
    uint32_t displayFormat;         // format of the current display mode
    int32_t displayDepth;           // its bits per pixel
    int32_t zBufferDepth;           // 16 or 32
    uint32_t depthFormat;           // the device's depth-stencil format
    IDirect3DSurface8 *backBuffer;  // the device's back buffer (not referenced)
    IDirect3DSurface8 *depthSurface;  // the device's own depth surface (not referenced)
    void *window;                   // the main window
    int32_t windowWidth;            // its client size
    int32_t windowHeight;
};

// The one device state record of the driver.
D3D8DeviceState *D3D8_DeviceState(void);
// Takes raster's device texture off every texture stage that holds it, in
// the stage cache and on the device.
void D3D8_UnbindRasterFromStages(IDirect3DBaseTexture8 *texture);

// Placeholders of the device system's scene and presentation state.
// 1 while a scene is open (between BeginScene and the show's EndScene).
int32_t D3D8_SeamInScene(void);
void D3D8_SeamEndScene(void);
// The vertical-retrace wait the device presents with; changing it resets the
// device. Returns 1 on success.
int32_t D3D8_SeamGetVSync(void);
int32_t D3D8_SeamSetVSync(int32_t wait);
// Resets a lost device that is ready to be reset; 1 when it was.
int32_t D3D8_SeamResetDevice(void);
// Placeholder of the textured-quad draw of one raster into a camera or
// camera-texture context (it needs the 2D immediate mode and the stage
// cache): refuses with the combination error until the driver provides it.
int32_t D3D8_RasterRenderQuad(Raster *source, const RasterRect *rect, int32_t scaled, int32_t blend);
