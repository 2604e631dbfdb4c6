// Pixel formats of the software rasteriser: one pixel read or written as
// A8R8G8B8, texels of every texture format, and the depth encoding.
#include "platform/direct3d/rasteriser_format.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

inline uint32_t Rd16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline uint32_t Rd32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}
inline void Wr16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void Wr32(uint8_t* p, uint32_t v) { memcpy(p, &v, 4); }

// Widening replicates the top bits into the low ones so that full scale stays
// full scale (31 -> 255, 63 -> 255).
inline uint32_t Expand5(uint32_t v) { return (v << 3) | (v >> 2); }
inline uint32_t Expand6(uint32_t v) { return (v << 2) | (v >> 4); }

uint32_t From565(uint32_t c) {
  return 0xFF000000u | Expand5((c >> 11) & 31) << 16 | Expand6((c >> 5) & 63) << 8 | Expand5(c & 31);
}

// A DXT colour block: two 565 end points and sixteen 2-bit indices.
uint32_t DxtColour(const uint8_t* block, int i, bool threeColourAllowed) {
  uint32_t c0 = Rd16(block), c1 = Rd16(block + 2);
  uint32_t a = From565(c0), b = From565(c1);
  uint32_t sel = (Rd32(block + 4) >> (2 * i)) & 3;
  if (sel == 0) return a;
  if (sel == 1) return b;
  uint32_t out = 0xFF000000u;
  bool four = !threeColourAllowed || c0 > c1;
  for (int sh = 0; sh < 24; sh += 8) {
    uint32_t ca = (a >> sh) & 255, cb = (b >> sh) & 255, v;
    if (four)
      v = sel == 2 ? (2 * ca + cb) / 3 : (ca + 2 * cb) / 3;
    else
      v = sel == 2 ? (ca + cb) / 2 : 0;
    out |= v << sh;
  }
  if (!four && sel == 3) out = 0;  // transparent black
  return out;
}

uint32_t DxtTexel(const D3D8DrawSurface* s, int x, int y) {
  uint32_t f = s->format;
  int blockBytes = f == D3DFMT_DXT1 ? 8 : 16;
  const uint8_t* block = s->pixels + size_t(y >> 2) * size_t(s->pitch) + size_t(x >> 2) * blockBytes;
  int i = (y & 3) * 4 + (x & 3);
  if (f == D3DFMT_DXT1) return DxtColour(block, i, true);
  uint32_t rgb = DxtColour(block + 8, i, false) & 0xFFFFFFu;
  uint32_t alpha;
  if (f == D3DFMT_DXT2 || f == D3DFMT_DXT3) {
    alpha = (block[i >> 1] >> ((i & 1) * 4)) & 15;
    alpha *= 17;
  } else {
    uint32_t a0 = block[0], a1 = block[1];
    uint64_t bits = 0;
    for (int k = 0; k < 6; ++k) bits |= uint64_t(block[2 + k]) << (8 * k);
    uint32_t sel = uint32_t(bits >> (3 * i)) & 7;
    if (sel == 0) alpha = a0;
    else if (sel == 1) alpha = a1;
    else if (a0 > a1) alpha = ((8 - sel) * a0 + (sel - 1) * a1) / 7;
    else if (sel == 6) alpha = 0;
    else if (sel == 7) alpha = 255;
    else alpha = ((6 - sel) * a0 + (sel - 1) * a1) / 5;
  }
  return alpha << 24 | rgb;
}

}  // namespace

int RasteriserFormat_BytesPerPixel(uint32_t format) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_D32:
    case D3DFMT_D24S8:
    case D3DFMT_D24X8:
    case D3DFMT_D24X4S4:
      return 4;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_D16:
    case D3DFMT_D15S1:
      return 2;
    case D3DFMT_L8:
    case D3DFMT_P8:
      return 1;
    default:
      return 0;
  }
}

uint32_t RasteriserFormat_Load(uint32_t format, const uint8_t* p) {
  switch (format) {
    case D3DFMT_A8R8G8B8: return Rd32(p);
    case D3DFMT_X8R8G8B8: return Rd32(p) | 0xFF000000u;
    case D3DFMT_R5G6B5: return From565(Rd16(p));
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: {
      uint32_t c = Rd16(p);
      uint32_t a = format == D3DFMT_X1R5G5B5 || (c & 0x8000) ? 0xFF000000u : 0;
      return a | Expand5((c >> 10) & 31) << 16 | Expand5((c >> 5) & 31) << 8 | Expand5(c & 31);
    }
    case D3DFMT_A4R4G4B4: {
      uint32_t c = Rd16(p);
      return ((c >> 12) & 15) * 17u << 24 | ((c >> 8) & 15) * 17u << 16 | ((c >> 4) & 15) * 17u << 8 |
             (c & 15) * 17u;
    }
    case D3DFMT_L8: return 0xFF000000u | p[0] * 0x010101u;
    default: return 0xFF000000u;
  }
}

void RasteriserFormat_Store(uint32_t format, uint8_t* p, uint32_t c) {
  uint32_t a = c >> 24, r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
  switch (format) {
    case D3DFMT_A8R8G8B8: Wr32(p, c); break;
    case D3DFMT_X8R8G8B8: Wr32(p, c | 0xFF000000u); break;
    case D3DFMT_R5G6B5: Wr16(p, (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3)); break;
    case D3DFMT_X1R5G5B5: Wr16(p, 0x8000u | (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3)); break;
    case D3DFMT_A1R5G5B5:
      Wr16(p, (a >= 128 ? 0x8000u : 0) | (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
      break;
    case D3DFMT_A4R4G4B4: Wr16(p, (a >> 4) << 12 | (r >> 4) << 8 | (g >> 4) << 4 | (b >> 4)); break;
    case D3DFMT_L8: p[0] = uint8_t((r * 77 + g * 150 + b * 29 + 128) >> 8); break;
    default: break;
  }
}

uint32_t RasteriserFormat_Texel(const D3D8DrawSurface* s, const PALETTEENTRY* palette, int x, int y) {
  switch (s->format) {
    case D3DFMT_P8: {
      uint32_t i = s->pixels[size_t(y) * size_t(s->pitch) + size_t(x)];
      if (!palette) return 0xFF000000u;
      const PALETTEENTRY& e = palette[i];
      return uint32_t(e.peFlags) << 24 | uint32_t(e.peRed) << 16 | uint32_t(e.peGreen) << 8 | e.peBlue;
    }
    case D3DFMT_DXT1:
    case D3DFMT_DXT2:
    case D3DFMT_DXT3:
    case D3DFMT_DXT4:
    case D3DFMT_DXT5:
      return DxtTexel(s, x, y);
    default: {
      int bpp = RasteriserFormat_BytesPerPixel(s->format);
      return RasteriserFormat_Load(s->format, s->pixels + size_t(y) * size_t(s->pitch) + size_t(x) * bpp);
    }
  }
}

int RasteriserFormat_PlainColour(uint32_t format) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_L8:
      return 1;
    default:
      return 0;
  }
}

size_t RasteriserFormat_TiledWords(int width, int height) {
  return 2 * size_t((width + 3) / 4) * size_t((height + 3) / 4) * 16;
}

void RasteriserFormat_Tile(const D3D8DrawSurface* s, uint32_t* tiled) {
  const int blocksPerRow = (s->width + 3) / 4;
  std::vector<uint32_t> row(size_t(s->width));
  for (int y = 0; y < s->height; ++y) {
    if (s->format == D3DFMT_A8R8G8B8) {
      memcpy(row.data(), s->pixels + size_t(y) * size_t(s->pitch), size_t(s->width) * 4);
    } else {
      for (int x = 0; x < s->width; ++x) row[size_t(x)] = RasteriserFormat_Texel(s, nullptr, x, y);
    }
    uint32_t* blockRow = tiled + 2 * (size_t(y >> 2) * size_t(blocksPerRow) * 16 + size_t(y & 3) * 4);
    for (int x = 0; x < s->width; ++x) {
      uint32_t* pair = blockRow + 2 * (size_t(x >> 2) * 16 + size_t(x & 3));
      pair[0] = row[size_t(x)];
      pair[1] = row[size_t(x + 1 < s->width ? x + 1 : 0)];
    }
  }
}

float RasteriserFormat_DepthDecode(uint32_t format, uint32_t v) {
  switch (format) {
    case D3DFMT_D16: return float(v & 0xFFFF) / 65535.0f;
    case D3DFMT_D15S1: return float((v & 0xFFFF) >> 1) / 32767.0f;
    case D3DFMT_D32: return float(double(v) / 4294967295.0);
    default: return float(double(v >> 8) / 16777215.0);
  }
}

uint32_t RasteriserFormat_StencilMask(uint32_t format) {
  switch (format) {
    case D3DFMT_D24S8: return 0xFFu;
    case D3DFMT_D24X4S4: return 0x0Fu;
    case D3DFMT_D15S1: return 0x01u;
    default: return 0;
  }
}

uint32_t RasteriserFormat_DepthMask(uint32_t format) {
  switch (format) {
    case D3DFMT_D16: return 0xFFFFu;
    case D3DFMT_D15S1: return 0xFFFEu;
    case D3DFMT_D32: return 0xFFFFFFFFu;
    default: return 0xFFFFFF00u;
  }
}
