#include "gfx/core/palquant.h"

#include <cstring>
#include <set>

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
};

TEST_F(PaletteQuantiserTest, FewColoursGetExactEntriesAndTheRestStayZero)
{
    const uint8_t colours[3][4] = {{255, 0, 0, 255}, {0, 128, 64, 255}, {16, 16, 16, 0}};
    Image *image = MakeImage(3, 2, 32, [&](int32_t x, int32_t, uint8_t *p) { memcpy(p, colours[x], 4); });
    ASSERT_EQ(PaletteQuantiser_AddImage(&q, image, 1.0f), 1);
    memset(palette, 0x55, sizeof(palette));
    ASSERT_EQ(PaletteQuantiser_MakePalette(palette, 256, &q), 3);
    std::set<uint32_t> entries;
    for (int i = 0; i < 3; i++) entries.insert((uint32_t)palette[4 * i] << 24 | palette[4 * i + 1] << 16 | palette[4 * i + 2] << 8 | palette[4 * i + 3]);
    // truncate(c / 255 x 255.9999): 255 -> 255, 128 -> 128, 64 -> 64, 16 -> 16.
    EXPECT_EQ(entries, (std::set<uint32_t>{0xff0000ffu, 0x008040ffu, 0x10101000u}));
    for (int i = 12; i < 1024; i++) ASSERT_EQ(palette[i], 0);
    uint8_t indices[6 * 4] = {};
    ASSERT_EQ(PaletteQuantiser_MapImage(indices, 4, 8, 0, &q, image), 1);
    for (int x = 0; x < 3; x++) EXPECT_EQ(memcmp(palette + 4 * indices[x], colours[x], 4), 0);
    Image_Destroy(image);
}

TEST_F(PaletteQuantiserTest, SingleColourGivesOneExactEntry)
{
    // A large solid image keeps its exact colour: the leaf's sums of a
    // quarter of a million equal pixels must not drift past the rounding.
    Image *image = MakeImage(512, 512, 32, [](int32_t, int32_t, uint8_t *p) { memset(p, 254, 4); });
    PaletteQuantiser_AddImage(&q, image, 1.0f);
    EXPECT_EQ(PaletteQuantiser_MakePalette(palette, 256, &q), 1);
    for (int c = 0; c < 4; c++) EXPECT_EQ(palette[c], 254) << c;
    Image_Destroy(image);
}

TEST_F(PaletteQuantiserTest, ManyColoursMakeExactlyNEntriesWithBoundedErrorDeterministically)
{
    Image *image = MakeImage(64, 64, 32, [](int32_t x, int32_t y, uint8_t *p) {
        const uint8_t c[4] = {(uint8_t)(x * 4), (uint8_t)(y * 4), (uint8_t)((x + y) * 2), 255};
        memcpy(p, c, 4);
    });
    PaletteQuantiser_AddImage(&q, image, 1.0f);
    ASSERT_EQ(PaletteQuantiser_MakePalette(palette, 16, &q), 16);
    std::vector<uint8_t> indices(64 * 64);
    ASSERT_EQ(PaletteQuantiser_MapImage(indices.data(), 64, 8, 0, &q, image), 1);
    double error = 0;
    for (int32_t y = 0; y < 64; y++)
        for (int32_t x = 0; x < 64; x++) {
            const uint8_t index = indices[y * 64 + x];
            ASSERT_LT(index, 16);
            for (int c = 0; c < 3; c++) error += std::abs(palette[4 * index + c] - image->pixels[y * image->stride + 4 * x + c]);
        }
    EXPECT_LT(error / (64 * 64 * 3), 24.0);
    // A second quantiser over the same image makes the same palette.
    PaletteQuantiser again = {};
    ASSERT_EQ(PaletteQuantiser_Create(&again), 1);
    PaletteQuantiser_AddImage(&again, image, 1.0f);
    uint8_t second[256 * 4] = {};
    PaletteQuantiser_MakePalette(second, 16, &again);
    EXPECT_EQ(memcmp(palette, second, 64), 0);
    PaletteQuantiser_Destroy(&again);
    Image_Destroy(image);
}

TEST_F(PaletteQuantiserTest, SplittingMakesExactlyNEntriesAndOneBoxIsTheMean)
{
    // Four colours, each on its own grid point, weighed unevenly; asking for
    // three entries splits until every box is one point.
    const uint8_t colours[4][4] = {{0, 0, 0, 255}, {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}};
    Image *image = MakeImage(4, 1, 32, [&](int32_t x, int32_t, uint8_t *p) { memcpy(p, colours[x], 4); });
    PaletteQuantiser_AddImage(&q, image, 1.0f);
    PaletteQuantiser_AddImage(&q, image, 1.0f);
    EXPECT_EQ(PaletteQuantiser_MakePalette(palette, 3, &q), 3);
    Image_Destroy(image);
    PaletteQuantiser_Destroy(&q);
    ASSERT_EQ(PaletteQuantiser_Create(&q), 1);
    const uint8_t two[2][4] = {{0, 0, 0, 255}, {255, 255, 255, 255}};
    image = MakeImage(2, 1, 32, [&](int32_t x, int32_t, uint8_t *p) { memcpy(p, two[x], 4); });
    for (int i = 0; i < 3; i++) PaletteQuantiser_AddImage(&q, image, 1.0f);
    // Two leaves but one entry asked for: box splitting with N = 1 makes one
    // box over everything.
    EXPECT_EQ(PaletteQuantiser_MakePalette(palette, 1, &q), 1);
    EXPECT_EQ(palette[0], 127);
    Image_Destroy(image);
}

TEST_F(PaletteQuantiserTest, FourBitPixelsAreTheLowBitsOfTheirBytes)
{
    Image *image = MakeImage(2, 1, 4, [](int32_t x, int32_t, uint8_t *p) { *p = (uint8_t)(0x90 | x); });
    memset(image->palette, 0, 64);
    memset(image->palette + 4, 200, 4);
    PaletteQuantiser_AddImage(&q, image, 1.0f);
    ASSERT_EQ(PaletteQuantiser_MakePalette(palette, 16, &q), 2);
    uint8_t indices[4] = {};
    ASSERT_EQ(PaletteQuantiser_MapImage(indices, 4, 8, 0, &q, image), 1);
    EXPECT_EQ(palette[4 * indices[0]], 0);
    EXPECT_EQ(palette[4 * indices[1]], 200);
    Image_Destroy(image);
}

TEST_F(PaletteQuantiserTest, ColourNeverAddedMapsToNearestEntry)
{
    Image *image = MakeImage(2, 1, 32, [](int32_t x, int32_t, uint8_t *p) { memset(p, x ? 250 : 0, 4); });
    PaletteQuantiser_AddImage(&q, image, 1.0f);
    PaletteQuantiser_MakePalette(palette, 256, &q);
    Image *other = MakeImage(2, 1, 32, [](int32_t x, int32_t, uint8_t *p) { memset(p, x ? 200 : 40, 4); });
    uint8_t indices[4] = {};
    ASSERT_EQ(PaletteQuantiser_MapImage(indices, 4, 8, 0, &q, other), 1);
    EXPECT_EQ(palette[4 * indices[0]], 0);
    EXPECT_EQ(palette[4 * indices[1]], 250);
    Image_Destroy(other);
    Image_Destroy(image);
}

TEST_F(PaletteQuantiserTest, PackedFourBitMappingLeavesLastHighNibbleOfOddWidth)
{
    Image *image = MakeImage(3, 1, 8, [](int32_t x, int32_t, uint8_t *p) { *p = (uint8_t)x; });
    for (int i = 0; i < 3; i++) memset(image->palette + 4 * i, 100 * i, 4);
    PaletteQuantiser_AddImage(&q, image, 1.0f);
    PaletteQuantiser_MakePalette(palette, 16, &q);
    uint8_t packed[2] = {0xff, 0xff};
    ASSERT_EQ(PaletteQuantiser_MapImage(packed, 2, 4, 1, &q, image), 1);
    EXPECT_EQ(packed[1] & 0xf0, 0xf0);
    for (int x = 0; x < 3; x++) {
        const int index = (x & 1) ? packed[x / 2] >> 4 : packed[x / 2] & 15;
        EXPECT_EQ(palette[4 * index], 100 * x);
    }
    Image_Destroy(image);
}

}  // namespace
