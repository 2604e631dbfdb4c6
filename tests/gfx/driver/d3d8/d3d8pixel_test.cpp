#include "gfx/driver/d3d8/d3d8pixel.h"

#include <gtest/gtest.h>

#include "gfx/core/raster.h"

namespace {

struct Rgba {
    uint8_t c[4];
};

Rgba Unpack(uint32_t v, uint32_t format)
{
    Rgba out = {{0, 0, 0, 0}};
    EXPECT_EQ(D3D8_UnpackPixel(out.c, v, format), 1);
    return out;
}

#define EXPECT_RGBA(value, r, g, b, a)  \
    do {                                \
        const Rgba got = (value);       \
        EXPECT_EQ(got.c[0], r);         \
        EXPECT_EQ(got.c[1], g);         \
        EXPECT_EQ(got.c[2], b);         \
        EXPECT_EQ(got.c[3], a);         \
    } while (0)

TEST(D3D8PixelTest, PackingFollowsEachFormatsMasksAndShifts)
{
    const uint8_t white128[4] = {255, 255, 255, 128};
    EXPECT_EQ(D3D8_PackFunctionFor(RASTERFORMAT1555)(white128), 0xffffu);
    EXPECT_EQ(D3D8_PackFunctionFor(RASTERFORMAT4444)(white128), 0x8fffu);
    EXPECT_EQ(D3D8_PackFunctionFor(RASTERFORMAT565)(white128), 0xffffu);
    EXPECT_EQ(D3D8_PackFunctionFor(RASTERFORMATLUM8)(white128), 128u);
    EXPECT_EQ(D3D8_PackFunctionFor(RASTERFORMAT8888)(white128), 0x80ffffffu);
    EXPECT_EQ(D3D8_PackFunctionFor(RASTERFORMATDEFAULT)(white128), 0x80ffffffu);
    EXPECT_EQ(D3D8_PackFunctionFor(RASTERFORMAT888)(white128), 0xffffffffu);
    EXPECT_EQ(D3D8_PackFunctionFor(RASTERFORMAT555)(white128), 0x7fffu);
    const uint8_t mixed[4] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(D3D8_PackFunctionFor(RASTERFORMAT565)(mixed), (0x10u << 8) | (0x34u << 3) | (0x56u >> 3));
    EXPECT_EQ(D3D8_PackFunctionFor(RASTERFORMAT888 | RASTERFORMATPAL8)(mixed), 0xff123456u);
    // LUM8: integer divisions in order: (52*59 + 86*11 + 18*30) / 100 = 45, then 45 * 120 / 255 = 21.
    EXPECT_EQ(D3D8_PackFunctionFor(RASTERFORMATLUM8)(mixed), 21u);
    EXPECT_EQ(D3D8_PackFunctionFor(RASTERFORMAT16), nullptr);
    EXPECT_EQ(D3D8_PackFunctionFor(RASTERFORMAT32), nullptr);
}

TEST(D3D8PixelTest, UnpackingUsesMasksWithoutBitReplication)
{
    EXPECT_RGBA(Unpack(0xffff, RASTERFORMAT565), 248, 252, 248, 255);
    EXPECT_RGBA(Unpack(0xf123, RASTERFORMAT4444), 16, 32, 48, 255);
    EXPECT_RGBA(Unpack(0x7123, RASTERFORMAT4444), 16, 32, 48, 112);
    EXPECT_RGBA(Unpack(0x7fff, RASTERFORMAT1555), 248, 248, 248, 0);
    EXPECT_RGBA(Unpack(0x8000, RASTERFORMAT1555), 0, 0, 0, 255);
    EXPECT_RGBA(Unpack(0xffff, RASTERFORMAT555), 248, 248, 248, 255);
    EXPECT_RGBA(Unpack(0x9a, RASTERFORMATLUM8), 0x9a, 0x9a, 0x9a, 255);
    EXPECT_RGBA(Unpack(0x80123456, RASTERFORMAT8888), 0x12, 0x34, 0x56, 0x80);
    EXPECT_RGBA(Unpack(0x80123456, RASTERFORMATDEFAULT), 0x12, 0x34, 0x56, 0x80);
    EXPECT_RGBA(Unpack(0x00123456, RASTERFORMAT888), 0x12, 0x34, 0x56, 255);
    EXPECT_RGBA(Unpack(0x44332211, RASTERFORMAT565 | RASTERFORMATPAL8), 0x11, 0x22, 0x33, 0x44);
    uint8_t out[4];
    EXPECT_EQ(D3D8_UnpackPixel(out, 0, RASTERFORMAT16), 0);
}

TEST(D3D8PixelTest, SixteenBitFormatsRoundTripEveryValue)
{
    const struct {
        uint32_t format;
        uint32_t mask;
    } cases[] = {{RASTERFORMAT565, 0xffff}, {RASTERFORMAT1555, 0xffff}, {RASTERFORMAT4444, 0xffff},
                 {RASTERFORMAT555, 0x7fff}};
    for (const auto &c : cases) {
        const D3D8PackFunc pack = D3D8_PackFunctionFor(c.format);
        for (uint32_t v = 0; v < 0x10000; v++) {
            uint8_t rgba[4];
            D3D8_UnpackPixel(rgba, v, c.format);
            ASSERT_EQ(pack(rgba), v & c.mask) << std::hex << c.format << " " << v;
        }
    }
}

}  // namespace
