#include "gfx/driver/d3d8/d3d8rasterformat.h"

#include <cstring>
#include <tuple>

#include "gfx/driver/d3d8/d3d8raster.h"
#include "tests/gfx/driver/d3d8/d3d8_fixture.h"

namespace {

TEST_F(D3D8RasterTest, PaletteImagesCountOnlyEntriesThatPixelsUseAndImagesFindTheirRasterFormat)
{
    Image* image = Img(2, 1, 8, 0);
    memset(image->palette, 255, 1024);
    image->palette[4 * 9 + 3] = 128;
    image->pixels[0] = 1;
    image->pixels[1] = 2;
    EXPECT_EQ(D3D8_ImageChooseFormat(image), (uint32_t)(RASTERFORMATPAL8 | RASTERFORMAT888));
    image->pixels[1] = 9;
    EXPECT_EQ(D3D8_ImageChooseFormat(image), (uint32_t)(RASTERFORMATPAL8 | RASTERFORMAT8888));
    image->depth = 4;
    EXPECT_EQ(D3D8_ImageChooseFormat(image), (uint32_t)(RASTERFORMATPAL4 | RASTERFORMAT8888));
    image->depth = 8;
    // A 4-bit pixel is its byte's low four bits, and its palette has 16 entries.
    Image* four = Img(2, 1, 4, [](int32_t, int32_t, uint8_t* p) { *p = 0xf1; });
    memset(four->palette, 255, 64);
    four->palette[4 * 2 + 3] = 0;
    EXPECT_EQ(D3D8_ImageChooseFormat(four), (uint32_t)(RASTERFORMATPAL4 | RASTERFORMAT888));
    four->pixels[1] = 0x72;
    EXPECT_EQ(D3D8_ImageChooseFormat(four), (uint32_t)(RASTERFORMATPAL4 | RASTERFORMAT8888));
    // Raster sizes, depth and format for an image.
    Image* wide = Img(2, 1, 32, [](int32_t x, int32_t, uint8_t* p) { memset(p, 255, 4), p[3] = x ? 128 : 255; });
    int32_t w = 0, h = 0, depth = 0, format = 0;
    ASSERT_EQ(Image_FindRasterFormat(wide, RASTERTYPETEXTURE | RASTERFORMATMIPMAP, &w, &h, &depth, &format), wide);
    EXPECT_EQ(std::tuple(w, h, depth, (uint32_t)format),
              std::tuple(2, 1, 32, RASTERFORMAT8888 | RASTERFORMATMIPMAP | RASTERTYPETEXTURE));
    ASSERT_EQ(Image_FindRasterFormat(wide, RASTERTYPENORMAL | RASTERFORMATMIPMAP, &w, &h, &depth, &format), wide);
    EXPECT_EQ((uint32_t)format, RASTERFORMAT8888);
}

TEST_F(D3D8RasterTest, FormatResolutionTable)
{
    const uint32_t T = RASTERTYPETEXTURE, P8 = RASTERFORMATPAL8, P4 = RASTERFORMATPAL4;
    const struct {
        bool shallow, palettes;
        uint32_t type, word, expected;
    } cases[] = {
        // clang-format off
        {false, false, T, 0, RASTERFORMAT8888}, {true, false, T, 0, RASTERFORMAT8888},
        {false, true, T, P8, P8 | RASTERFORMAT8888},  // the alpha-palette cap comes with palettes
        {false, false, T, P8, RASTERFORMAT8888}, {false, true, T, P4 | RASTERFORMAT888, P8 | RASTERFORMAT888},
        {false, false, T, P4 | RASTERFORMAT888, RASTERFORMAT888},
        {true, false, T, P8 | RASTERFORMAT888, RASTERFORMAT565},
        {true, false, T, P8 | RASTERFORMAT8888, RASTERFORMAT4444},
        {false, false, T, RASTERFORMAT4444 | RASTERFORMATMIPMAP, RASTERFORMAT4444 | RASTERFORMATMIPMAP},
        {false, false, T, RASTERFORMATLUM8, RASTERFORMATLUM8}, {false, false, RASTERTYPEZBUFFER, 0, RASTERFORMAT32},
        {true, false, RASTERTYPEZBUFFER, 0, RASTERFORMAT16}, {false, false, RASTERTYPECAMERA, 0, RASTERFORMAT888},
        {true, false, RASTERTYPECAMERA, 0, RASTERFORMAT565},
        {false, false, RASTERTYPECAMERATEXTURE, 0, RASTERFORMAT888},
        {true, false, RASTERTYPECAMERATEXTURE, 0, RASTERFORMAT565},
        {false, false, RASTERTYPECAMERATEXTURE, RASTERFORMAT4444, RASTERFORMAT8888},
        {true, false, RASTERTYPECAMERATEXTURE, RASTERFORMAT8888, RASTERFORMAT565},  // 4444, 1555 not render targets
        // clang-format on
    };
    for (const auto &c : cases) {
        answers.displayFormat = c.shallow ? D3DFMT_R5G6B5 : D3DFMT_X8R8G8B8;
        answers.palettes = c.palettes;
        OpenDevice();
        uint32_t resolved = 0;
        ASSERT_EQ(D3D8_ResolveRasterFormat(c.type, c.word, &resolved), 1);
        EXPECT_EQ(resolved, c.expected) << std::hex << c.type << " " << c.word << " " << c.shallow << c.palettes;
    }
    uint32_t resolved = 0;
    EXPECT_EQ(AndError(D3D8_ResolveRasterFormat(RASTERTYPEZBUFFER, RASTERFORMAT565, &resolved)),
              std::tuple(0, 0x8000000du));
    EXPECT_EQ(AndError(D3D8_ResolveRasterFormat(3, 0, &resolved)), std::tuple(0, 0x8000000du));
}

}  // namespace

TEST_F(D3D8RasterTest, SizeClampFollowsPowerOfTwoAndSquareCaps)
{
    const struct {
        bool pow2, squareOnly, nonPow2Conditional;
        uint32_t maxTextureSize;
        int32_t w, h;
        uint32_t creationWord;
        int32_t clampedW, clampedH;
    } cases[] = {
        {true, false, false, 4096, 300, 200, RASTERTYPETEXTURE, 256, 128},
        {true, true, false, 4096, 300, 200, RASTERTYPETEXTURE, 128, 128},
        // Conditional non-power-of-two sides: only textures with mip levels
        // are rounded down.
        {true, false, true, 4096, 300, 200, RASTERTYPETEXTURE, 300, 200},
        {true, false, true, 4096, 300, 200, RASTERTYPENORMAL | RASTERFORMATMIPMAP, 300, 200},
        {true, false, true, 4096, 300, 200, RASTERTYPETEXTURE | RASTERFORMATMIPMAP, 256, 128},
        {false, false, true, 64, 300, 20, RASTERTYPETEXTURE, 64, 20},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        const auto &c = cases[i];
        answers.pow2 = c.pow2, answers.squareOnly = c.squareOnly;
        answers.nonPow2Conditional = c.nonPow2Conditional, answers.maxTextureSize = c.maxTextureSize;
        OpenDevice();
        int32_t w = c.w, h = c.h;
        D3D8_ClampRasterSize(&w, &h, c.creationWord);
        EXPECT_EQ(std::tie(w, h), std::tie(c.clampedW, c.clampedH)) << "case " << i;
    }
}
