// Images: pictures in system memory (depth 4, 8 or 32), their pixel blocks,
// masks, gamma tables and the registry of image file formats by extension.
#pragma once

#include <cstdint>

#include "gfx/core/plugin.h"

// An image. 32-bit pixels and palette entries hold the bytes red, green,
// blue, alpha in memory order; a 4-bit image keeps one index byte per pixel
// (indices 0-15), exactly like an 8-bit one.
struct Image {
    uint32_t flags;    // IMAGE_OWNSPIXELS, IMAGE_GAMMACORRECTED
    int32_t width;     // pixels
    int32_t height;    // pixels
    int32_t depth;     // bits per pixel: 4, 8 or 32
    int32_t stride;    // bytes from one row to the next
    uint8_t *pixels;   // first row, or null
    uint8_t *palette;  // 2^depth RGBA entries for depths 4 and 8, else null
};

enum : uint32_t {
    IMAGE_OWNSPIXELS = 0x1,      // pixels and palette came from Image_AllocatePixels
    IMAGE_GAMMACORRECTED = 0x2,  // colours went through the correction table
};

// Reads the file at path into a new image; null when it cannot.
typedef Image *(*ImageReadFunc)(const char *path);
// Writes image to path; returns image, or null when it cannot.
typedef Image *(*ImageWriteFunc)(Image *image, const char *path);

// A registered image file format (one per extension).
struct ImageFileFormat {
    char lowerExtension[20];  // ".bmp": a dot, at most 18 characters, NUL
    char upperExtension[20];  // ".BMP"
    ImageReadFunc read;       // may be null
    ImageWriteFunc write;     // may be null
    ImageFileFormat *next;    // next older format
};

// Installs the image module (engine module 1030) and the gamma hook in the
// engine; call before Engine_Init. Returns 1, or 0 in the wrong engine state.
int32_t Image_InstallModule(void);
// Module open/close, run by Engine_Start and Engine_Stop. Open fails (null)
// leaving nothing allocated; close drops every registered format.
void *Image_ModuleOpen(void *instance, int32_t offset, int32_t size);
void *Image_ModuleClose(void *instance, int32_t offset, int32_t size);
// Adds an extension to every image record (between Engine_Init and
// Engine_Open); its offset, or -1.
int32_t Image_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                             PluginDestructor destructor, PluginCopy copy);

// A new image record without pixels (flags 0, stride 0); null when the free
// list is exhausted. The caller destroys it with Image_Destroy.
Image *Image_Create(int32_t width, int32_t height, int32_t depth);
// Frees the pixel block when the image owns it, then the record. Returns 1.
int Image_Destroy(Image *image);
// Allocates stride x height bytes (+ palette for depths 4 and 8) owned by the
// image. Null with 0x80000013 on failure, the image unchanged.
Image *Image_AllocatePixels(Image *image);
// Frees an owned block and clears pixels, palette and IMAGE_OWNSPIXELS.
Image *Image_FreePixels(Image *image);
// Changes the size, keeping the overlapping rectangle of an owned block.
// Null with 0x80000013 when memory runs out; the image is then unchanged.
Image *Image_Resize(Image *image, int32_t width, int32_t height);
// Makes alpha the brightness (largest of red, green, blue) of each palette
// entry (depths 4, 8) or pixel (depth 32).
Image *Image_MakeMask(Image *image);
// Copies the mask's alpha into image, turning a 4- or 8-bit image into a
// 32-bit one. Null with an error when sizes or depths do not fit; on failure
// the image is left exactly as it was.
Image *Image_ApplyMask(Image *image, const Image *mask);

// Replaces the ';'-separated search path. Null with 0x80000013 when the
// buffer cannot grow; the old path is kept then.
const char *Image_SetPath(const char *path);
// Registers or updates the format for an extension given without its dot
// ("bmp"). A null function keeps the earlier one. Returns 1, or 0 when no
// record is left.
int Image_RegisterFileFormat(const char *extension, ImageReadFunc read, ImageWriteFunc write);
// Reads an image file through its format along the search path; null when no
// candidate yields an image. The caller destroys the image.
Image *Image_Read(const char *fileName);
// Reads the image and, with a non-empty mask name, applies the mask's
// brightness as alpha. Null when either cannot be read (nothing leaks).
Image *Image_ReadMasked(const char *fileName, const char *maskFileName);
// The registered extension (".png", ".PNG", ...) under which baseName exists
// along the search path; null when none does. Points into the registry.
const char *Image_FindFileExtension(const char *baseName);

// Copies palette and rows of equal-depth images (each with its own stride).
int Image_CopySameDepth(Image *destination, const Image *source);
// Fills a destination of another depth (4->8, 4/8->32); equal depths do
// nothing. Other pairs: 0 with 0x80000009.
int Image_ConvertInto(Image *destination, const Image *source);
// Same-depth copy or conversion; carries IMAGE_GAMMACORRECTED over.
Image *Image_CopyConverted(Image *destination, const Image *source);

// Builds the correction and inverse tables for gamma. Returns 1.
int Image_BuildGammaTables(float gamma);
// Runs red, green and blue of the palette (depths 4, 8) or pixels (32)
// through the correction table and sets IMAGE_GAMMACORRECTED.
Image *Image_GammaCorrect(Image *image);
const uint8_t *Image_GetGammaTable(void);
const uint8_t *Image_GetInverseGammaTable(void);
float Image_GetGamma(void);

// Bytes per row that Image_AllocatePixels gives: whole bytes per pixel times
// width, rounded up to a multiple of 4.
int32_t Image_StrideFor(int32_t width, int32_t depth);

