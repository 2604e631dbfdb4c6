// Rasters: device-independent records of device surfaces. Every real
// operation goes through the driver's standard functions.
#pragma once

#include <cstdint>

#include "gfx/core/plugin.h"

struct Image;
struct Texture;

// Raster types (bits 0-2 of the creation word).
enum : uint32_t {
    RASTERTYPENORMAL = 0,         // off-screen surface, held as a device texture
    RASTERTYPEZBUFFER = 1,
    RASTERTYPECAMERA = 2,         // a camera's colour buffer
    RASTERTYPETEXTURE = 4,
    RASTERTYPECAMERATEXTURE = 5,  // a texture that a camera renders into
    RASTERTYPEMASK = 0x7,
    RASTERDONTALLOCATE = 0x80,    // record without device pixels

    // Format word (bits 8-15 of the creation word; the record keeps them >> 8).
    RASTERFORMATDEFAULT = 0x000,
    RASTERFORMAT1555 = 0x100,
    RASTERFORMAT565 = 0x200,
    RASTERFORMAT4444 = 0x300,
    RASTERFORMATLUM8 = 0x400,
    RASTERFORMAT8888 = 0x500,
    RASTERFORMAT888 = 0x600,
    RASTERFORMAT16 = 0x700,   // 16-bit Z
    RASTERFORMAT24 = 0x800,   // 24-bit Z (never chosen)
    RASTERFORMAT32 = 0x900,   // 32-bit Z
    RASTERFORMAT555 = 0xa00,
    RASTERFORMATPIXELFORMATMASK = 0x0f00,
    RASTERFORMATAUTOMIPMAP = 0x1000,
    RASTERFORMATPAL8 = 0x2000,
    RASTERFORMATPAL4 = 0x4000,
    RASTERFORMATMIPMAP = 0x8000,

    // Lock modes (low byte of the lock word; the level is in bits 8-15).
    RASTERLOCKWRITE = 0x1,
    RASTERLOCKREAD = 0x2,
    RASTERLOCKNOFETCH = 0x4,  // no meaning to the Direct3D 8 driver
};

// Private flags.
enum : uint8_t {
    RASTERGAMMACORRECTED = 0x01,
    RASTERPIXELLOCKEDREAD = 0x02,
    RASTERPIXELLOCKEDWRITE = 0x04,
    RASTERPALETTELOCKEDREAD = 0x08,
    RASTERPALETTELOCKEDWRITE = 0x10,
};

struct Raster {
    Raster *parent;        // itself, or the top-level raster of a sub-raster
    uint8_t *pixels;       // locked pixels, null while unlocked
    uint8_t *palette;      // locked palette, null while unlocked
    int32_t width;         // pixels (a locked level's width while locked)
    int32_t height;
    int32_t depth;         // bits per pixel
    int32_t stride;        // bytes per locked row, 0 while unlocked
    int16_t offsetX;       // position of a sub-raster in its top-level raster
    int16_t offsetY;
    uint8_t type;          // RASTERTYPE*
    uint8_t flags;         // RASTERDONTALLOCATE
    uint8_t privateFlags;  // RASTERGAMMACORRECTED, RASTER*LOCKED*
    uint8_t format;        // format word >> 8
    int32_t savedWidth;    // top-level size while a level is locked
    int32_t savedHeight;
};

// The creation-word form of a raster's format byte.
inline uint32_t Raster_GetFormat(const Raster *raster) { return (uint32_t)raster->format << 8; }

// A rectangle of a sub-raster: position and size in pixels.
struct RasterRect {
    int32_t x;
    int32_t y;
    int32_t w;
    int32_t h;
};

// A position in pixels (the point at which a raster is drawn).
struct RasterPoint {
    int32_t x;
    int32_t y;
};

// Driver standard-function numbers that rasters and textures use.
enum : int32_t {
    STDFN_COLOURTOPIXEL = 2,
    STDFN_PIXELTOCOLOUR = 3,
    STDFN_RASTERCREATE = 4,
    STDFN_RASTERDESTROY = 5,
    STDFN_IMAGEFROMRASTER = 6,
    STDFN_RASTERFROMIMAGE = 7,
    STDFN_TEXTURESETRASTER = 8,
    STDFN_IMAGEFINDRASTERFORMAT = 9,
    STDFN_RASTERSETCONTEXT = 11,
    STDFN_RASTERSUBRASTER = 12,
    STDFN_RASTERCLEARRECT = 13,
    STDFN_RASTERCLEAR = 14,
    STDFN_RASTERLOCK = 15,
    STDFN_RASTERUNLOCK = 16,
    STDFN_RASTERRENDER = 17,
    STDFN_RASTERRENDERSCALED = 18,
    STDFN_RASTERRENDERFAST = 19,
    STDFN_RASTERSHOW = 20,
    STDFN_RASTERLOCKPALETTE = 23,
    STDFN_RASTERUNLOCKPALETTE = 24,
    STDFN_NATIVETEXTUREGETSIZE = 25,
    STDFN_NATIVETEXTUREREAD = 26,
    STDFN_NATIVETEXTUREWRITE = 27,
    STDFN_RASTERGETNUMLEVELS = 28,
};

// Installs the raster module (engine module 1031); call before Engine_Init.
int32_t Raster_InstallModule(void);
void *Raster_ModuleOpen(void *instance, int32_t offset, int32_t size);
void *Raster_ModuleClose(void *instance, int32_t offset, int32_t size);
// Adds an extension to every raster (between Engine_Init and Engine_Open).
int32_t Raster_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                              PluginDestructor destructor, PluginCopy copy);
int32_t Raster_GetPluginOffset(uint32_t pluginId);

// A raster of the given size and creation word (type | flags | format word);
// depth is only a hint. Null when the driver refuses (it raised the error).
Raster *Raster_Create(int32_t width, int32_t height, int32_t depth, uint32_t creationWord);
// Releases the device resources and the record. Returns 1.
int Raster_Destroy(Raster *raster);
// Locks a mip level (mode RASTERLOCK*); the record then shows the level's
// size and stride. Null when the driver refuses.
uint8_t *Raster_Lock(Raster *raster, uint32_t level, uint32_t mode);
Raster *Raster_Unlock(Raster *raster);
uint8_t *Raster_LockPalette(Raster *raster, uint32_t mode);
Raster *Raster_UnlockPalette(Raster *raster);
// 1 without mip levels; else the driver's count, or -1 when it fails.
int32_t Raster_GetNumLevels(Raster *raster);
// Makes raster (created with RASTERDONTALLOCATE) a window on parent's
// pixels. Null for a raster with pixels of its own.
Raster *Raster_SubRaster(Raster *raster, Raster *parent, const RasterRect *rect);
Raster *Raster_Show(Raster *raster, void *window, uint32_t flags);
// The bottom of the raster context stack: a dummy raster without pixels.
Raster *Raster_GetCurrentContext(void);
// Fills raster from image (gamma flag carried over); null on failure.
Raster *Raster_SetFromImage(Raster *raster, Image *image);
// Fills image from raster (gamma flag carried over); null on failure.
Image *Image_SetFromRaster(Image *image, Raster *raster);
// The raster the driver would make for image and the creation word: its
// size, depth and format byte x 256 + type. Null when the driver refuses.
Image *Image_FindRasterFormat(Image *image, uint32_t creationWord, int32_t *width, int32_t *height,
                              int32_t *depth, int32_t *format);
