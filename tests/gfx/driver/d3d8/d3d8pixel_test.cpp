#include "gfx/driver/d3d8/d3d8pixel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "common/bytes.h"
#include "gfx/core/raster.h"
#include "tests/gfx/driver/d3d8/d3d8_fixture.h"

namespace {

TEST(D3D8PixelTest, PackingAndUnpackingFollowEachFormatsMasksWithoutBitReplication)
{
    const uint8_t white128[4] = {255, 255, 255, 128}, mixed[4] = {0x12, 0x34, 0x56, 0x78};
    const struct {
        const uint8_t* rgba;
        uint32_t format, packed;
    } cases[] = {
        // clang-format off
        {white128, RASTERFORMAT1555, 0xffffu}, {white128, RASTERFORMAT4444, 0x8fffu},
        {white128, RASTERFORMAT565, 0xffffu}, {white128, RASTERFORMATLUM8, 128u},
        {white128, RASTERFORMAT8888, 0x80ffffffu}, {white128, RASTERFORMATDEFAULT, 0x80ffffffu},
        {white128, RASTERFORMAT888, 0xffffffffu}, {white128, RASTERFORMAT555, 0x7fffu},
        {mixed, RASTERFORMAT565, (0x10u << 8) | (0x34u << 3) | (0x56u >> 3)},
        {mixed, RASTERFORMAT888 | RASTERFORMATPAL8, 0xff123456u},
        // LUM8: integer divisions in order: (52*59 + 86*11 + 18*30) / 100 = 45, then 45 * 120 / 255 = 21.
        {mixed, RASTERFORMATLUM8, 21u},
        // clang-format on
    };
    for (const auto& c : cases) {
        uint32_t pixel = 0;
        ASSERT_EQ(D3D8_PackPixel(&pixel, c.rgba, c.format), 1) << std::hex << c.format;
        EXPECT_EQ(std::tuple(pixel, D3D8_PackFunctionFor(c.format)(c.rgba)), std::tuple(c.packed, c.packed))
            << std::hex << c.format;
    }
    uint32_t untouched = 7;
    EXPECT_EQ(D3D8_PackPixel(&untouched, mixed, RASTERFORMAT16), 0);
    EXPECT_EQ(std::tuple(untouched, D3D8_PackFunctionFor(RASTERFORMAT32)), std::tuple(7u, nullptr));
    // Unpacking uses the masks without bit replication.
    // clang-format off
    const struct {
        uint32_t value, format;
        uint8_t rgba[4];
    } unpacked[] = {
        {0xffff, RASTERFORMAT565, {248, 252, 248, 255}}, {0xf123, RASTERFORMAT4444, {16, 32, 48, 255}},
        {0x7123, RASTERFORMAT4444, {16, 32, 48, 112}}, {0x7fff, RASTERFORMAT1555, {248, 248, 248, 0}},
        {0x8000, RASTERFORMAT1555, {0, 0, 0, 255}}, {0xffff, RASTERFORMAT555, {248, 248, 248, 255}},
        {0x9a, RASTERFORMATLUM8, {0x9a, 0x9a, 0x9a, 255}}, {0x80123456, RASTERFORMAT8888, {0x12, 0x34, 0x56, 0x80}},
        {0x80123456, RASTERFORMATDEFAULT, {0x12, 0x34, 0x56, 0x80}}, {0x00123456, RASTERFORMAT888, {0x12, 0x34, 0x56, 255}},
        {0x44332211, RASTERFORMAT565 | RASTERFORMATPAL8, {0x11, 0x22, 0x33, 0x44}}};
    // clang-format on
    for (const auto& c : unpacked) {
        uint8_t out[4] = {};
        EXPECT_EQ(D3D8_UnpackPixel(out, c.value, c.format), 1);
        EXPECT_EQ(memcmp(out, c.rgba, 4), 0) << std::hex << c.value << " " << c.format;
    }
    uint8_t none[4];
    EXPECT_EQ(D3D8_UnpackPixel(none, 0, RASTERFORMAT16), 0);
}

class D3D8TransferTest : public D3D8RasterTest {};

TEST_F(D3D8TransferTest, RefusedTransfersRaiseTheirCodeAndWriteNothing)
{
    const uint8_t colour[4] = {255, 255, 255, 128};
    uint32_t pixel = 0;
    uint8_t out[4];
    EXPECT_EQ(D3D8_ColourToPixel(&pixel, colour, RASTERFORMAT4444), 1);
    EXPECT_EQ(pixel, 0x8fffu);
    EXPECT_EQ(D3D8_PixelToColour(out, 0x7fff, RASTERFORMAT1555), 1);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(AndError(D3D8_ColourToPixel(&pixel, colour, RASTERFORMAT16)), std::tuple(0, 0x8000000du));
    EXPECT_EQ(AndError(D3D8_PixelToColour(out, 0, RASTERFORMAT32)), std::tuple(0, 0x8000000du));

    answers.palettes = true;
    OpenDevice();
    Raster* raster = Keep(Raster_Create(2, 2, 0, RASTERTYPETEXTURE | RASTERFORMAT565));
    Image *eight = Img(2, 2, 8, 42), *four = Img(2, 2, 4, 3), *wide = Img(2, 2, 32, 9);
    for (Image* image : {eight, four}) {
        EXPECT_EQ(AndError(D3D8_ImageFromRaster(image, raster)), std::tuple(0, 2u));
    }
    D3D8_RasterExt(raster)->compressed = D3DFMT_DXT1;
    EXPECT_EQ(D3D8_ImageFromRaster(wide, raster), 0);
    EXPECT_EQ(eight->pixels[0] * 100 + four->pixels[0] * 10 + wide->pixels[0], 4239);
    D3D8_RasterExt(raster)->compressed = 0;
    EXPECT_EQ(D3D8_RasterFromImage(Keep(Raster_Create(0, 0, 0, RASTERTYPEZBUFFER)), wide), 0);
    Error_Get(nullptr);
    // An indexed image without a palette, or of a depth images do not have,
    // is refused before the raster is touched.
    Raster* grey = Keep(Raster_Create(2, 2, 0, RASTERTYPETEXTURE | RASTERFORMATLUM8));
    uint8_t *kept = eight->palette;
    eight->palette = nullptr;
    for (Raster *target : {raster, grey}) {
        EXPECT_EQ(AndError(D3D8_RasterFromImage(target, eight)), std::tuple(0, 0x80000016u));
    }
    eight->palette = kept;
    wide->depth = 16;
    EXPECT_EQ(D3D8_RasterFromImage(grey, wide), 0);
    wide->depth = 32;
    Error_Get(nullptr);
    // 4-bit images are refused from palettised and 32-bit rasters too.
    for (uint32_t word : {RASTERFORMATPAL8 | RASTERFORMAT888, (uint32_t)RASTERFORMAT8888}) {
        Raster* other = Keep(Raster_Create(2, 2, 0, RASTERTYPETEXTURE | word));
        ASSERT_NE(other, nullptr) << std::hex << word;
        EXPECT_EQ(AndError(D3D8_ImageFromRaster(four, other)), std::tuple(0, 2u)) << std::hex << word;
        EXPECT_EQ(four->pixels[0], 3);
    }
}

TEST_F(D3D8TransferTest, PalettisedImagesGoThroughPackedPaletteAndSetTheAlphaByte)
{
    Image* image = Img(2, 1, 8, [](int32_t x, int32_t, uint8_t* p) { *p = (uint8_t)(x + 1); });
    const uint8_t one[4] = {255, 0, 0, 255}, two[4] = {0, 0, 255, 128};
    memcpy(image->palette + 4, one, 4);
    memcpy(image->palette + 8, two, 4);
    Raster* sixteen = Keep(Raster_Create(2, 1, 0, RASTERTYPETEXTURE | RASTERFORMAT4444));
    ASSERT_EQ(D3D8_RasterFromImage(sixteen, image), 1);
    const uint8_t* pixels = Raster_Lock(sixteen, 0, RASTERLOCKREAD);
    EXPECT_EQ(Bytes_LoadU16(pixels) << 16 | Bytes_LoadU16(pixels + 2), 0xff00800fu);
    Raster_Unlock(sixteen);
    Image* back16 = Img(2, 1, 32, 0);
    ASSERT_EQ(D3D8_ImageFromRaster(back16, sixteen), 1);
    const uint8_t twoBack[4] = {0, 0, 240, 128};
    EXPECT_EQ(memcmp(back16->pixels + 4, twoBack, 4), 0);
    Raster* x888 = Keep(Raster_Create(2, 1, 0, RASTERTYPETEXTURE | RASTERFORMAT888));
    ASSERT_EQ(D3D8_RasterFromImage(x888, image), 1);
    EXPECT_EQ(D3D8_RasterExt(x888)->alpha, 0);
    EXPECT_EQ(Bytes_LoadU32(Raster_Lock(x888, 0, RASTERLOCKREAD) + 4), 0xff0000ffu);
    Raster_Unlock(x888);
    Raster* top = Keep(Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMAT8888));
    D3D8_RasterExt(top)->alpha = 0;
    Raster* sub = Keep(Raster_Create(0, 0, 0, RASTERTYPETEXTURE | RASTERDONTALLOCATE));
    const RasterRect rect = {1, 1, 2, 1};
    Raster_SubRaster(sub, top, &rect);
    ASSERT_EQ(D3D8_RasterFromImage(sub, image), 1);
    EXPECT_EQ(D3D8_RasterExt(sub)->alpha + D3D8_RasterExt(top)->alpha, 2);
    Image* back = Img(4, 4, 32, 0);
    ASSERT_EQ(D3D8_ImageFromRaster(back, top), 1);
    EXPECT_EQ(memcmp(back->pixels + back->stride + 8, two, 4), 0);
}

TEST_F(D3D8TransferTest, PalettisedRastersQuantiseWideImagesAndCopyPaletteImages)
{
    answers.palettes = true;
    OpenDevice();
    Raster* raster = Keep(Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMATPAL8 | RASTERFORMAT8888));
    ASSERT_NE(raster, nullptr);
    ASSERT_EQ(D3D8_RasterFromImage(
                  raster, Img(4, 4, 32, [](int32_t x, int32_t, uint8_t* p) { memset(p, x < 2 ? 0 : 255, 4); })),
              1);
    Image* back = Img(4, 4, 32, 0);
    ASSERT_EQ(D3D8_ImageFromRaster(back, raster), 1);
    EXPECT_EQ(back->pixels[0] + back->pixels[12], 255);
    // Every alpha is 0 or 255 after quantising: still an alpha format.
    EXPECT_EQ(Format(raster) & RASTERFORMATPIXELFORMATMASK, (uint32_t)RASTERFORMAT8888);
    Image* indexed = Img(4, 4, 8, [](int32_t x, int32_t, uint8_t* p) { *p = (uint8_t)x; });
    for (int i = 0; i < 256; i++) memset(indexed->palette + 4 * i, i, 3), indexed->palette[4 * i + 3] = 255;
    ASSERT_EQ(D3D8_RasterFromImage(raster, indexed), 1);
    Image* eight = Img(4, 4, 8, 0);
    ASSERT_EQ(D3D8_ImageFromRaster(eight, raster), 1);
    EXPECT_EQ(eight->pixels[3] * 10 + eight->palette[4 * 3], 33);
}

}  // namespace

TEST_F(D3D8TransferTest, LuminanceRastersReadBackAsGrey)
{
    Raster* raster = Keep(Raster_Create(2, 1, 0, RASTERTYPETEXTURE | RASTERFORMATLUM8));
    Image* image = Img(2, 1, 32, [](int32_t x, int32_t, uint8_t* p) {
        const uint8_t c[4] = {100, (uint8_t)(x ? 200 : 0), 50, 255};
        memcpy(p, c, 4);
    });
    ASSERT_EQ(D3D8_RasterFromImage(raster, image), 1);
    Image* eight = Img(2, 1, 8, 0);
    ASSERT_EQ(D3D8_ImageFromRaster(eight, raster), 1);
    EXPECT_EQ(std::make_tuple(eight->pixels[0], eight->pixels[1], eight->palette[4 * 77]),
              std::make_tuple((0 * 59 + 50 * 11 + 100 * 30) / 100, (200 * 59 + 50 * 11 + 100 * 30) / 100, 77));
    // A 4-bit image goes through its 16-entry palette by each byte's low bits.
    Image* four = Img(2, 1, 4, [](int32_t x, int32_t, uint8_t* p) { *p = (uint8_t)(0xc0 | x); });
    memset(four->palette, 0, 64);
    memset(four->palette + 4, 100, 4);
    ASSERT_EQ(D3D8_RasterFromImage(raster, four), 1);
    ASSERT_EQ(D3D8_ImageFromRaster(eight, raster), 1);
    EXPECT_EQ(eight->pixels[0] * 1000 + eight->pixels[1], 100 * 100 / 255);
}
