// Textures (named rasters with a mask name, a filter and addressing word and
// a reference count) and texture dictionaries, the default texture reader
// over image files with masks and mip levels, and the texture chunk.
#pragma once

#include <cstdint>

#include "gfx/core/engine.h"
#include "gfx/core/plugin.h"

struct Image;
struct Raster;
struct Stream;
struct TextureDictionary;

struct Texture {
    Raster *raster;                 // owned: destroyed with the texture; may be null
    TextureDictionary *dictionary;  // the dictionary holding it, or null
    EngineLink link;                // in the dictionary's texture list
    char name[32];                  // at most 31 characters
    char mask[32];                  // mask image name; empty without a mask
    uint32_t filterAddressing;      // bits 0-7 filter 1-6, 8-11 address U, 12-15 address V
    int32_t refCount;               // 1 after creation; each holder owns one
};

struct TextureDictionary {
    uint8_t type;          // 6
    uint8_t subType;
    uint8_t flags;
    uint8_t privateFlags;
    void *parent;          // always null
    EngineLink textures;   // newest first
    EngineLink link;       // in the module's list of dictionaries
};

enum : uint32_t {
    TEXTUREFILTERNEAREST = 1,
    TEXTUREFILTERLINEAR = 2,
    TEXTUREFILTERMIPNEAREST = 3,
    TEXTUREFILTERMIPLINEAR = 4,
    TEXTUREFILTERLINEARMIPNEAREST = 5,
    TEXTUREFILTERLINEARMIPLINEAR = 6,
    TEXTUREDEFAULTFILTERADDRESSING = 0x1101,
    TEXTURE_ERR_NOT_FOUND = 22,  // core plugin id
};

typedef Texture *(*TextureReadFunc)(const char *name, const char *maskName);
typedef Texture *(*TextureFindFunc)(const char *name);
typedef Raster *(*TextureMipGenerationFunc)(Raster *raster, Image *image);
typedef int (*TextureMipNameFunc)(char *name, char *maskName, uint32_t level, uint32_t rasterFlags);
typedef Texture *(*TextureCallback)(Texture *texture, void *data);

// Installs the texture module (engine module 1032); call before Engine_Init.
int32_t Texture_InstallModule(void);
void *Texture_ModuleOpen(void *instance, int32_t offset, int32_t size);
void *Texture_ModuleClose(void *instance, int32_t offset, int32_t size);
int32_t Texture_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                               PluginDestructor destructor, PluginCopy copy);
int32_t Texture_RegisterPluginStream(uint32_t pluginId, PluginStreamRead read, PluginStreamWrite write,
                                     PluginStreamGetSize getSize);
int32_t TextureDictionary_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                                         PluginDestructor destructor, PluginCopy copy);

int Texture_SetReadCallback(TextureReadFunc read);
TextureReadFunc Texture_GetReadCallback(void);
int Texture_SetMipmapping(int enable);
int Texture_GetMipmapping(void);
int Texture_SetAutoMipmapping(int enable);
int Texture_GetAutoMipmapping(void);

// A texture holding raster (may be null) with one reference; null when the
// free list is exhausted.
Texture *Texture_Create(Raster *raster);
// Drops one reference; the last one unlinks the texture and destroys it with
// its raster. Returns 1.
int Texture_Destroy(Texture *texture);
// Copy at most 31 characters; a longer name raises 0x8000001e and is cut.
Texture *Texture_SetName(Texture *texture, const char *name);
Texture *Texture_SetMaskName(Texture *texture, const char *name);
// Through the driver with a raster; clears the field without one.
Texture *Texture_SetRaster(Texture *texture, Raster *raster);
// Rebuilds the lower mip levels (from image, or from level 0 when null).
int Texture_RasterGenerateMipLevels(Raster *raster, Image *image);

// The texture named name (found, with one more reference, or read from image
// files and put in the current dictionary). Null with error 22 when neither.
Texture *Texture_Read(const char *name, const char *maskName);
Texture *Texture_DefaultFind(const char *name);
Texture *Texture_DefaultRead(const char *name, const char *maskName);
Texture *Texture_ReadMipmapped(const char *name, const char *maskName);
int Texture_DefaultMipLevelName(char *name, char *maskName, uint32_t level, uint32_t rasterFlags);
Raster *Texture_DefaultGenerateMipLevels(Raster *raster, Image *image);
// Reads name (and mask) with the extension found along the image path and
// brings it to the raster size asked for (0 x 0: the size, depth and format
// the driver chooses for rasterFlags, returned through the pointers). Null
// when the files cannot be read; the caller destroys the image.
Image *Texture_ReadImageForRaster(const char *name, const char *maskName, uint32_t rasterFlags, int32_t *width,
                                  int32_t *height, int32_t *depth, int32_t *format);
// Gives count images one shared palette of 2^depth entries in palette (256
// entries of room). Images replaced by palettised copies are destroyed unless
// they are keep. 1, or 0 when the quantiser or an image cannot be made.
int Image_PalettiseSet(uint8_t *palette, Image *keep, Image **images, int32_t count, int32_t depth);

TextureDictionary *TextureDictionary_Create(void);
// Drops one reference of every texture (textures that survive lose their
// dictionary) and frees the dictionary. Returns 1.
int TextureDictionary_Destroy(TextureDictionary *dictionary);
TextureDictionary *TextureDictionary_AddTexture(TextureDictionary *dictionary, Texture *texture);
Texture *TextureDictionary_RemoveTexture(Texture *texture);
// The newest texture whose name equals name with a-z folded to upper case.
Texture *TextureDictionary_FindNamedTexture(TextureDictionary *dictionary, const char *name);
// Calls callback for each texture (it may destroy the one it is given) until
// one returns null.
TextureDictionary *TextureDictionary_ForAllTextures(TextureDictionary *dictionary, TextureCallback callback,
                                                    void *data);
TextureDictionary *TextureDictionary_SetCurrent(TextureDictionary *dictionary);
TextureDictionary *TextureDictionary_GetCurrent(void);

// The texture chunk (type 6): payload size, write, and read (the stream is
// at the texture chunk's payload). Read returns a texture with one reference
// of the caller's, or null.
int32_t Texture_StreamGetSize(const Texture *texture);
const Texture *Texture_StreamWrite(const Texture *texture, Stream *stream);
Texture *Texture_StreamRead(Stream *stream);
