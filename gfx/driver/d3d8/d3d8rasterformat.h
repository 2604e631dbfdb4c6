// Direct3D 8 raster formats: pixel codes (the format word's bits 8-11) and
// device formats, what the present device holds, and the format and size a
// requested raster resolves to on it.
#pragma once

#include <cstdint>

struct Image;

// Device format of a pixel code (0 for none), its depth and alpha.
uint32_t D3D8_FormatOfCode(uint32_t formatWord);
int32_t D3D8_DepthOfCode(uint32_t formatWord);
int32_t D3D8_AlphaOfCode(uint32_t formatWord);
// Pixel code of a device format; 0 with 0x8000000d for formats not in the table.
int32_t D3D8_CodeOfFormat(uint32_t d3dFormat, uint32_t* formatWord);

// What the present device holds, asked of it each time (0 without one):
// textures of a code's format; render-target textures of it that match the
// depth format; palettised (P8) textures; palettes with alpha.
int32_t D3D8_TextureCodeOk(uint32_t code);
int32_t D3D8_RenderTargetCodeOk(uint32_t code);
int32_t D3D8_PaletteTexturesOk(void);
int32_t D3D8_AlphaPalettesOk(void);
// The pixel code of the display format (0 when the table lacks it).
uint32_t D3D8_DisplayCode(void);
// The code for alpha: 8888 when the display is deeper than 16 bits and the
// device has it, else 4444 when it has that, else 1555.
uint32_t D3D8_BestAlphaCode(void);

// Clamps a size to the device's maximum, to powers of two and to squares as
// its caps ask (normal rasters and rasters without levels keep other sizes
// where the caps allow them conditionally).
void D3D8_ClampRasterSize(int32_t* width, int32_t* height, uint32_t creationWord);
// The pixel code an image is best held in: by its alpha values and the
// display depth for 32-bit images, a palette code for 4- and 8-bit ones.
uint32_t D3D8_ImageChooseFormat(const Image* image);
// The format word a raster of the type gets for the creation word on this
// device; 0 with 0x8000000d for an impossible type or code.
int32_t D3D8_ResolveRasterFormat(uint32_t type, uint32_t creationWord, uint32_t* resolved);
// Standard function: fills raster (size, depth, type, flags, format) for
// image under the creation word; 0 with 0x8000000d for an unknown type.
int32_t D3D8_ImageFindRasterFormat(void* raster, void* image, int32_t creationWord);
