// What the Direct3D 8 rasters share with the driver's device system: the
// device state record (object, device, caps, display mode, depth format,
// back buffer, window), filled by the device system when it starts the
// device (or by tests that make a device of their own), and the unbinding
// of a dying raster's texture from every stage.
#pragma once

#include <cstdint>

#include "platform/direct3d/d3d8.h"

struct Raster;

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

