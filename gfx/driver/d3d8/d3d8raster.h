// Direct3D 8 rasters: the driver's raster extension, pixel format choice and
// resolution on the present device, create, destroy, locks, palettes, mip
// levels and sub-rasters (the driver's raster standard functions).
#pragma once

#include <cstdint>

#include "gfx/core/engine.h"
#include "platform/direct3d/d3d8.h"

struct Image;
struct Raster;
struct Texture;
struct RasterRect;

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

// Device format of a pixel code (0 for none), its depth and alpha.
uint32_t D3D8_FormatOfCode(uint32_t formatWord);
int32_t D3D8_DepthOfCode(uint32_t formatWord);
int32_t D3D8_AlphaOfCode(uint32_t formatWord);
// Pixel code of a device format; 0 with 0x8000000d for formats not in the table.
int32_t D3D8_CodeOfFormat(uint32_t d3dFormat, uint32_t *formatWord);

void D3D8_ClampRasterSize(int32_t *width, int32_t *height, uint32_t creationWord);
uint32_t D3D8_ImageChooseFormat(const Image *image);
// The format word a raster of the type gets for the creation word on this
// device; 0 with 0x8000000d for an impossible type or code.
int32_t D3D8_ResolveRasterFormat(uint32_t type, uint32_t creationWord, uint32_t *resolved);

int32_t D3D8_TextureHasAlpha(const Texture *texture);
int32_t D3D8_RasterIsCubeMap(const Raster *raster);
int32_t D3D8_RasterIsCompressed(const Raster *raster);
// The raster that drawing goes to (standard function 11).
Raster *D3D8_GetCurrentContext(void);

// Standard functions.
int32_t D3D8_RasterCreate(void *, void *raster, int32_t creationWord);
int32_t D3D8_RasterDestroy(void *, void *raster, int32_t);
int32_t D3D8_TextureSetRaster(void *texture, void *raster, int32_t);
int32_t D3D8_ImageFindRasterFormat(void *raster, void *image, int32_t creationWord);
int32_t D3D8_RasterSetContext(void *, void *raster, int32_t);
int32_t D3D8_RasterSubRaster(void *raster, void *parent, int32_t);
int32_t D3D8_RasterLock(void *pixels, void *raster, int32_t lockWord);
int32_t D3D8_RasterUnlock(void *, void *raster, int32_t);
int32_t D3D8_RasterLockPalette(void *palette, void *raster, int32_t mode);
int32_t D3D8_RasterUnlockPalette(void *, void *raster, int32_t);
int32_t D3D8_RasterGetNumLevels(void *count, void *raster, int32_t);
// Clear a rectangle of (RasterRect) or the whole current context raster to a
// pixel value in the context's format.
int32_t D3D8_RasterClearRect(void *, void *rect, int32_t value);
int32_t D3D8_RasterClear(void *, void *, int32_t value);
// Draw a raster into the current context at a RasterPoint (with blending,
// or fast without), or scaled into a RasterRect.
int32_t D3D8_RasterRender(void *raster, void *point, int32_t);
int32_t D3D8_RasterRenderScaled(void *raster, void *rect, int32_t);
int32_t D3D8_RasterRenderFast(void *raster, void *point, int32_t);
// Present a camera raster (flags bit 0: wait for the vertical retrace; a
// change resets the device).
int32_t D3D8_RasterShow(void *raster, void *window, int32_t flags);
// Draws source as a textured quad into the camera or camera-texture context
// at area (its size, or area's when scaled), blending by source alpha.
int32_t D3D8_RasterRenderQuad(Raster *source, const RasterRect *area, int32_t scaled, int32_t blend);

// Device resets: release what does not survive one, and rebuild it after.
void D3D8_ReleaseDeviceRasters(void);
int32_t D3D8_RestoreDeviceRasters(void);
// Raises the driver's error 2 (the message names the failing step).
void D3D8_RaiseMessage(const char *message);
