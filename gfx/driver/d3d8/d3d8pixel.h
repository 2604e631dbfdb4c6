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
// Unpacks pixel into rgba by the format word. A palettised word returns the
// value itself as the colour word. Returns 0 for codes without a rule.
int D3D8_UnpackPixel(uint8_t rgba[4], uint32_t pixel, uint32_t formatWord);

// Standard function 2: colour (RGBA bytes packed little-endian into a word)
// to pixel. 0 with 0x8000000d for codes without a packing rule.
int D3D8_ColourToPixel(uint32_t *pixel, uint32_t colour, uint32_t formatWord);
// Standard function 3: pixel to colour word. 0 with 0x8000000d likewise.
int D3D8_PixelToColour(uint32_t *colour, uint32_t pixel, uint32_t formatWord);
