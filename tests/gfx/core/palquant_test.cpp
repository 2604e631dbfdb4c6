#include "gfx/core/palquant.h"

#include "tests/gfx/core/image_fixture.h"

namespace {

class PaletteQuantiserTest : public ImageEngineTest {
protected:
    PaletteQuantiser q = {};
    uint8_t palette[256 * 4] = {};
    void SetUp() override
    {
        ImageEngineTest::SetUp();
        ASSERT_EQ(PaletteQuantiser_Create(&q), 1);
    }
    void TearDown() override
    {
        PaletteQuantiser_Destroy(&q);
        ImageEngineTest::TearDown();
    }
    // A fresh quantiser fed `times` times with image; the palette's size for n entries.
    int32_t Quantise(Image* image, int32_t n, int times = 1)
    {
        PaletteQuantiser_Destroy(&q);
        EXPECT_EQ(PaletteQuantiser_Create(&q), 1);
        for (int i = 0; i < times; i++) EXPECT_EQ(PaletteQuantiser_AddImage(&q, image, 1.0f), 1);
        return PaletteQuantiser_MakePalette(palette, n, &q);
    }
    // The first channel of the palette entry each pixel of the w x 1 image maps to.
    std::vector<int> MappedReds(Image* image, int32_t w)
    {
        std::vector<uint8_t> indices(w);
        EXPECT_EQ(PaletteQuantiser_MapImage(indices.data(), w, 8, 0, &q, image), 1);
        std::vector<int> reds;
        for (uint8_t i : indices) reds.push_back(palette[4 * i]);
        return reds;
    }
};

TEST_F(PaletteQuantiserTest, FewColoursGetExactEntriesAndTheRestStayZero)
{
    const uint8_t colours[3][4] = {{255, 0, 0, 255}, {0, 128, 64, 255}, {16, 16, 16, 0}};
    Image* image = Img(3, 2, 32, [&](int32_t x, int32_t, uint8_t* p) { memcpy(p, colours[x], 4); });
    memset(palette, 0x55, sizeof(palette));
    ASSERT_EQ(Quantise(image, 256), 3);
    std::set<uint32_t> entries;
    for (int i = 0; i < 3; i++)
        entries.insert((uint32_t)palette[4 * i] << 24 | palette[4 * i + 1] << 16 | palette[4 * i + 2] << 8 |
                       palette[4 * i + 3]);
    // truncate(c / 255 x 255.9999): 255 -> 255, 128 -> 128, 64 -> 64, 16 -> 16.
    EXPECT_EQ(entries, (std::set<uint32_t>{0xff0000ffu, 0x008040ffu, 0x10101000u}));
    for (int i = 12; i < 1024; i++) ASSERT_EQ(palette[i], 0);
    uint8_t indices[6 * 4] = {};
    ASSERT_EQ(PaletteQuantiser_MapImage(indices, 4, 8, 0, &q, image), 1);
    for (int x = 0; x < 3; x++) EXPECT_EQ(memcmp(palette + 4 * indices[x], colours[x], 4), 0);
    // A quarter of a million equal pixels must not drift past the rounding.
    EXPECT_EQ(Quantise(Img(512, 512, 32, 254), 256), 1);
    for (int c = 0; c < 4; c++) EXPECT_EQ(palette[c], 254) << c;
}

TEST_F(PaletteQuantiserTest, ManyColoursMakeExactlyNEntriesWithBoundedErrorDeterministically)
{
    Image* image = Img(64, 64, 32, [](int32_t x, int32_t y, uint8_t* p) {
        const uint8_t c[4] = {(uint8_t)(x * 4), (uint8_t)(y * 4), (uint8_t)((x + y) * 2), 255};
        memcpy(p, c, 4);
    });
    ASSERT_EQ(Quantise(image, 16), 16);
    std::vector<uint8_t> indices(64 * 64);
    ASSERT_EQ(PaletteQuantiser_MapImage(indices.data(), 64, 8, 0, &q, image), 1);
    double error = 0;
    for (int32_t y = 0; y < 64; y++)
        for (int32_t x = 0; x < 64; x++) {
            const uint8_t index = indices[y * 64 + x];
            ASSERT_LT(index, 16);
            for (int c = 0; c < 3; c++) error += std::abs(palette[4 * index + c] - Pixel(image, x, y)[c]);
        }
    EXPECT_LT(error / (64 * 64 * 3), 24.0);
    // A second quantiser over the same image makes the same palette.
    const std::vector<uint8_t> first(palette, palette + 64);
    Quantise(image, 16);
    EXPECT_EQ(std::vector<uint8_t>(palette, palette + 64), first);
    // Four colours weighed unevenly, three asked for: splits until a box is one point.
    const uint8_t four[4][4] = {{0, 0, 0, 255}, {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}};
    EXPECT_EQ(Quantise(Img(4, 1, 32, [&](int32_t x, int32_t, uint8_t* p) { memcpy(p, four[x], 4); }), 3, 2), 3);
    // Two leaves but one entry asked for: one box over everything, its mean.
    Image* two = Img(2, 1, 32, [](int32_t x, int32_t, uint8_t* p) { memset(p, x ? 255 : 0, 3), p[3] = 255; });
    EXPECT_EQ(Quantise(two, 1, 3), 1);
    EXPECT_EQ(palette[0], 127);
}

TEST_F(PaletteQuantiserTest, FourBitPixelsAreTheLowBitsAndUnseenColoursMapToTheNearestEntry)
{
    Image* four = Img(2, 1, 4, [](int32_t x, int32_t, uint8_t* p) { *p = (uint8_t)(0x90 | x); });
    memset(four->palette, 0, 64);
    memset(four->palette + 4, 200, 4);
    ASSERT_EQ(Quantise(four, 16), 2);
    EXPECT_EQ(MappedReds(four, 2), (std::vector<int>{0, 200}));
    Quantise(Img(2, 1, 32, [](int32_t x, int32_t, uint8_t* p) { memset(p, x ? 250 : 0, 4); }), 256);
    EXPECT_EQ(MappedReds(Img(2, 1, 32, [](int32_t x, int32_t, uint8_t* p) { memset(p, x ? 200 : 40, 4); }), 2),
              (std::vector<int>{0, 250}));
    // Packed 4-bit indices leave the last high nibble of an odd width alone.
    Image* three = Img(3, 1, 8, [](int32_t x, int32_t, uint8_t* p) { *p = (uint8_t)x; });
    for (int i = 0; i < 3; i++) memset(three->palette + 4 * i, 100 * i, 4);
    Quantise(three, 16);
    uint8_t packed[2] = {0xff, 0xff};
    ASSERT_EQ(PaletteQuantiser_MapImage(packed, 2, 4, 1, &q, three), 1);
    EXPECT_EQ(packed[1] & 0xf0, 0xf0);
    for (int x = 0; x < 3; x++) EXPECT_EQ(palette[4 * ((x & 1) ? packed[x / 2] >> 4 : packed[x / 2] & 15)], 100 * x);
}

}  // namespace
