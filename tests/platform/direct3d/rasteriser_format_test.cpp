// Pixel formats of the rasteriser: colour load/store, texels of palette and
// block formats, depth encoding.
#include "platform/direct3d/rasteriser_format.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(RasterFormat, ColourFormatsKeepFullScaleAndRoundTripTheirOwnValues) {
  const uint32_t formats[] = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_X1R5G5B5,
                              D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4, D3DFMT_L8};
  for (uint32_t f : formats) {
    uint8_t px[4] = {};
    RasteriserFormat_Store(f, px, 0xFFFFFFFFu);
    EXPECT_EQ(RasteriserFormat_Load(f, px), 0xFFFFFFFFu) << f;
    RasteriserFormat_Store(f, px, 0xFF000000u);
    EXPECT_EQ(RasteriserFormat_Load(f, px), 0xFF000000u) << f;
    // Whatever a format holds reads back and stores unchanged.
    RasteriserFormat_Store(f, px, 0x9A5C3D71u);
    uint32_t once = RasteriserFormat_Load(f, px);
    uint8_t again[4] = {};
    RasteriserFormat_Store(f, again, once);
    EXPECT_EQ(RasteriserFormat_Load(f, again), once) << f;
  }
  uint8_t px[4] = {};
  RasteriserFormat_Store(D3DFMT_X8R8G8B8, px, 0x00123456u);
  EXPECT_EQ(RasteriserFormat_Load(D3DFMT_X8R8G8B8, px), 0xFF123456u);  // no alpha: reads 1.0
  RasteriserFormat_Store(D3DFMT_A1R5G5B5, px, 0x7FFFFFFFu);
  EXPECT_EQ(RasteriserFormat_Load(D3DFMT_A1R5G5B5, px) >> 24, 0u);
}

TEST(RasterFormat, PaletteAndBlockTexelsDecode) {
  uint8_t index = 7;
  PALETTEENTRY pal[256] = {};
  pal[7] = {0x11, 0x22, 0x33, 0x44};
  D3D8DrawSurface p8 = {D3DFMT_P8, 1, 1, 1, &index};
  EXPECT_EQ(RasteriserFormat_Texel(&p8, pal, 0, 0), 0x44112233u);
  EXPECT_EQ(RasteriserFormat_Texel(&p8, nullptr, 0, 0), 0xFF000000u);

  // DXT1 with c0 <= c1: three colours and transparent black for index 3.
  uint8_t dxt1[8] = {0x00, 0x00, 0xFF, 0xFF, 0x0F, 0, 0, 0};  // texels 0, 1: index 3
  D3D8DrawSurface s1 = {D3DFMT_DXT1, 4, 4, 8, dxt1};
  EXPECT_EQ(RasteriserFormat_Texel(&s1, nullptr, 0, 0), 0u);
  EXPECT_EQ(RasteriserFormat_Texel(&s1, nullptr, 2, 0), 0xFF000000u);

  // DXT3: explicit 4-bit alpha; DXT5: interpolated alpha between 255 and 0.
  uint8_t dxt3[16] = {0x5F, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
  D3D8DrawSurface s3 = {D3DFMT_DXT3, 4, 4, 16, dxt3};
  EXPECT_EQ(RasteriserFormat_Texel(&s3, nullptr, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(RasteriserFormat_Texel(&s3, nullptr, 1, 0), 0x55FFFFFFu);
  uint8_t dxt5[16] = {255, 0, 0x02, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};  // texel 0: index 2
  D3D8DrawSurface s5 = {D3DFMT_DXT5, 4, 4, 16, dxt5};
  EXPECT_EQ(RasteriserFormat_Texel(&s5, nullptr, 0, 0) >> 24, (6u * 255u) / 7u);
  EXPECT_EQ(RasteriserFormat_Texel(&s5, nullptr, 1, 0) >> 24, 255u);
}

TEST(RasterFormat, DepthEncodingStaysInItsBitsAndOrdered) {
  const uint32_t formats[] = {D3DFMT_D16, D3DFMT_D15S1, D3DFMT_D24X8, D3DFMT_D24S8, D3DFMT_D32};
  for (uint32_t f : formats) {
    uint32_t mask = RasteriserFormat_DepthMask(f);
    // z = 1.0 used to carry out of 24 bits and wrap to 0 (the nearest depth).
    EXPECT_EQ(RasteriserFormat_DepthEncode(f, 1.0f), mask) << f;
    EXPECT_EQ(RasteriserFormat_DepthEncode(f, 2.0f), mask) << f;
    EXPECT_EQ(RasteriserFormat_DepthEncode(f, -1.0f), 0u) << f;
    EXPECT_EQ(RasteriserFormat_DepthEncode(f, NAN), 0u) << f;
    uint32_t last = 0;
    for (float z = 0.0f; z <= 1.0f; z += 1.0f / 1024) {
      uint32_t v = RasteriserFormat_DepthEncode(f, z);
      EXPECT_EQ(v & ~mask, 0u);
      EXPECT_GE(v, last);
      EXPECT_NEAR(RasteriserFormat_DepthDecode(f, v), z, 1.0 / 32767);
      last = v;
    }
  }
}

}  // namespace
