// Pixel formats as the software rasteriser and the device read and write
// them: one pixel as A8R8G8B8, texels of every texture format, and the
// integer encoding of depth.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/direct3d/d3d8_draw.h"

// Bytes per pixel of a colour, depth or texture format; 0 for block (DXT)
// formats and for formats the layer does not know.
int RasteriserFormat_BytesPerPixel(uint32_t format);

// One pixel read or written as 0xAARRGGBB. Formats without alpha read alpha
// 255; unknown formats read opaque black and are not written.
uint32_t RasteriserFormat_Load(uint32_t format, const uint8_t* pixel);
void RasteriserFormat_Store(uint32_t format, uint8_t* pixel, uint32_t argb);

// One texel (x, y) of a texture level of any texture format, including P8
// (through `palette`, opaque black when null) and DXT1-5. (x, y) must lie
// inside the level.
uint32_t RasteriserFormat_Texel(const D3D8DrawSurface* level, const PALETTEENTRY* palette, int x, int y);

// The colour formats whose pixels decode alone: every stored colour format
// but P8 (its colours depend on the palette at the draw) and the block
// formats. The rasteriser draws into these, and textures of these formats
// keep a tiled copy of their texels for the sampler (the layout is in
// d3d8_draw.h; TiledWords is the copy's size in uint32 words).
int RasteriserFormat_PlainColour(uint32_t format);
size_t RasteriserFormat_TiledWords(int width, int height);
// Decodes every texel of `level` (a tileable format) into the tiled copy.
void RasteriserFormat_Tile(const D3D8DrawSurface* level, uint32_t* tiled);

// Depth surfaces hold depth as an unsigned integer in the format's top bits
// (D16 all 16, D15S1 bits 15-1, D24X8/D24S8/D24X4S4 bits 31-8, D32 all 32);
// the rest is stencil and is left alone. Encode gives the stored bits for z
// (clamped to [0, 1], NaN as 0); Decode the z that stored bits stand for.
inline uint32_t RasteriserFormat_DepthEncode(uint32_t format, float z) {
  if (!(z > 0.0f)) z = 0.0f;
  if (z > 1.0f) z = 1.0f;
  switch (format) {
    case D3DFMT_D16: return uint32_t(z * 65535.0f + 0.5f);
    case D3DFMT_D15S1: return uint32_t(z * 32767.0f + 0.5f) << 1;
    case D3DFMT_D32: return uint32_t(double(z) * 4294967295.0 + 0.5);
    default: {
      // Float rounding can carry z close to 1 up to 2^24; keep it in 24 bits.
      uint32_t v = uint32_t(z * 16777215.0f + 0.5f);
      return (v > 0xFFFFFFu ? 0xFFFFFFu : v) << 8;
    }
  }
}
float RasteriserFormat_DepthDecode(uint32_t format, uint32_t stored);
// Mask of the depth bits inside a stored value.
uint32_t RasteriserFormat_DepthMask(uint32_t format);
// Mask of the stencil bits inside a stored value, which sit at the bottom
// (D24S8 eight bits, D24X4S4 four, D15S1 one); 0 for formats without stencil.
uint32_t RasteriserFormat_StencilMask(uint32_t format);
