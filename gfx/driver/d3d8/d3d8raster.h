// Direct3D 8 rasters: the driver's raster extension, create, destroy, locks,
// palettes, mip levels, sub-rasters and device loss (the driver's raster
// standard functions). Formats and their resolution are in
// d3d8rasterformat.h, clearing, drawing and showing in d3d8rasterdraw.h.
#pragma once

#include <cstdint>

#include "gfx/core/engine.h"
#include "platform/direct3d/d3d8.h"

struct Raster;
struct Texture;

enum : uint32_t {
    D3D8_RASTER_PLUGIN_ID = 0x40C,  // also the plugin id of the driver's error 2
    D3D8_ERR_MESSAGE = 2,           // an error that the text of the failing step describes
    D3D8_ERR_FORMAT = 0x8000000d,   // format or type not supported
    D3D8_ERR_LOCKED = 0x8000000e,   // already locked, or cannot be locked
    D3D8_ERR_NOT_LOCKED = 0x80000011,
    D3D8_ERR_DEPTH = 0x8000000c,    // raster depth without a transfer
};

// A palette record: the entries as sent to the device and its palette number.
struct D3D8Palette {
    PALETTEENTRY entries[256];
    uint32_t number;
};

// The driver's extension of every raster.
struct D3D8RasterExt {
    union {
        IDirect3DTexture8 *texture;  // normal, texture and camera-texture rasters
        IDirect3DSurface8 *surface;  // Z buffers; camera rasters with a swap chain
    };
    D3D8Palette *palette;
    uint8_t alpha;                   // 1 when the pixel format has alpha
    uint8_t cube;                    // 1 for a cube texture (nothing sets it)
    uint8_t face;
    IDirect3DSurface8 *lockSurface;  // the surface locked at present
    IDirect3DSurface8 *targetSurface;  // camera locks: the render target copied from
    D3DLOCKED_RECT lockedRect;
    uint32_t lockedLevel;            // 0xff when none
    uint32_t compressed;             // "DXT1".."DXT5" four-character code, or 0
    void *window;
    IDirect3DSwapChain8 *swapChain;
};

// Registers the extension on rasters (the driver's attach at Engine_Init).
int32_t D3D8_RasterPluginAttach(void);
D3D8RasterExt *D3D8_RasterExt(const Raster *raster);
// Creates and frees the tracked-raster list, palette records and numbers;
// the device system calls them when the device starts and stops.
int32_t D3D8_RasterListOpen(void);
void D3D8_RasterListClose(void);
// Puts the raster standard functions (2-9, 11-20, 23-28) into table.
void D3D8_FillRasterStandardFunctions(StandardFunction *table);

// Types whose rasters are device textures (and so may have palettes and levels).
int32_t D3D8_RasterIsTextureType(uint32_t type);
int32_t D3D8_TextureHasAlpha(const Texture *texture);
int32_t D3D8_RasterIsCubeMap(const Raster *raster);
int32_t D3D8_RasterIsCompressed(const Raster *raster);
// The raster that drawing goes to (standard function 11).
Raster *D3D8_GetCurrentContext(void);

// Standard functions.
int32_t D3D8_RasterCreate(void *, void *raster, int32_t creationWord);
int32_t D3D8_RasterDestroy(void *, void *raster, int32_t);
int32_t D3D8_TextureSetRaster(void *texture, void *raster, int32_t);
int32_t D3D8_RasterSetContext(void *, void *raster, int32_t);
int32_t D3D8_RasterSubRaster(void *raster, void *parent, int32_t);
int32_t D3D8_RasterLock(void *pixels, void *raster, int32_t lockWord);
int32_t D3D8_RasterUnlock(void *, void *raster, int32_t);
int32_t D3D8_RasterLockPalette(void *palette, void *raster, int32_t mode);
int32_t D3D8_RasterUnlockPalette(void *, void *raster, int32_t);
int32_t D3D8_RasterGetNumLevels(void *count, void *raster, int32_t);

// Device resets: release what does not survive one, and rebuild it after.
void D3D8_ReleaseDeviceRasters(void);
int32_t D3D8_RestoreDeviceRasters(void);
// Raises the driver's error 2 (the message names the failing step).
void D3D8_RaiseMessage(const char *message);
