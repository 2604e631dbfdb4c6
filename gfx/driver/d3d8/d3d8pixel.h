// Pixel format conversion of the Direct3D 8 driver: packing colours into
// raster pixel formats and unpacking them, and the transfers between images
// and locked rasters.
#pragma once

#include <cstdint>

struct Image;
struct Raster;

// Packs an RGBA colour (bytes in memory order) into one pixel of a format.
typedef uint32_t (*D3D8PackFunc)(const uint8_t *rgba);

// The packing function of a format word's pixel code (code 0 packs as 8888),
// or null for codes without one (Z codes, for instance).
D3D8PackFunc D3D8_PackFunctionFor(uint32_t formatWord);
// Packs rgba into *pixel by the format word; 0 (nothing written, no error
// raised) for codes without a rule.
int D3D8_PackPixel(uint32_t* pixel, const uint8_t* rgba, uint32_t formatWord);
// Unpacks pixel into rgba by the format word. A palettised word returns the
// value itself as the colour word. Returns 0 for codes without a rule.
int D3D8_UnpackPixel(uint8_t rgba[4], uint32_t pixel, uint32_t formatWord);

// Colour (RGBA bytes) to pixel; 0 with 0x8000000d for codes without a rule.
int D3D8_ColourToPixel(uint32_t *pixel, const uint8_t *rgba, uint32_t formatWord);
// Pixel to colour (RGBA bytes); 0 with 0x8000000d likewise.
int D3D8_PixelToColour(uint8_t *rgba, uint32_t pixel, uint32_t formatWord);
// Fills image (depth 32, or 8 from an 8-bit raster) from level 0 of raster,
// or from the level that is locked. 0 with the error for refused transfers
// (compressed rasters, 4-bit images, 8-bit images of other rasters).
int D3D8_ImageFromRaster(Image *image, Raster *raster);
// Fills raster (level 0, or the level that is locked) from image in the
// raster's own format, resampling a copy when the sizes differ and
// quantising for palettised rasters. 0 when a lock fails or the format has
// no transfer (the raster is then unchanged).
int D3D8_RasterFromImage(Raster *raster, Image *image);

// The same as standard functions 2, 3, 6 and 7: (out pixel, RGBA bytes,
// format), (out RGBA bytes, pixel pointer, format), (image, raster) and
// (raster, image).
int32_t D3D8_ColourToPixelStd(void *pixel, void *rgba, int32_t formatWord);
int32_t D3D8_PixelToColourStd(void *rgba, void *pixel, int32_t formatWord);
int32_t D3D8_ImageFromRasterStd(void *image, void *raster, int32_t);
int32_t D3D8_RasterFromImageStd(void *raster, void *image, int32_t);
