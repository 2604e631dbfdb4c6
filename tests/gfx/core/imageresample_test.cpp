#include "gfx/core/imageresample.h"

#include <cstring>

#include "tests/gfx/core/image_fixture.h"

namespace {

class ImageResampleTest : public ImageEngineTest {
protected:
    static Image *Wide(int32_t w, int32_t h) { return MakeImage(w, h, 32, [](int32_t, int32_t, uint8_t *) {}); }
};

TEST_F(ImageResampleTest, SameSizeIsExactAndSolidColourStaysExact)
{
    Image *source = MakeImage(7, 5, 32, [](int32_t x, int32_t y, uint8_t *p) {
        const uint8_t c[4] = {(uint8_t)(x * 37), (uint8_t)(y * 51), (uint8_t)(x ^ y), 200};
        memcpy(p, c, 4);
    });
    Image *same = Wide(7, 5);
    ASSERT_EQ(Image_Resample(same, source), same);
    for (int32_t y = 0; y < 5; y++) ASSERT_EQ(memcmp(same->pixels + y * same->stride, source->pixels + y * source->stride, 28), 0);
    Image *solid = MakeImage(13, 9, 32, [](int32_t, int32_t, uint8_t *p) {
        const uint8_t c[4] = {17, 130, 254, 3};
        memcpy(p, c, 4);
    });
    for (auto size : {std::pair{5, 3}, std::pair{29, 31}, std::pair{1, 1}}) {
        Image *out = Wide(size.first, size.second);
        ASSERT_NE(Image_Resample(out, solid), nullptr);
        for (int32_t y = 0; y < out->height; y++)
            for (int32_t x = 0; x < out->width; x++) ASSERT_EQ(memcmp(out->pixels + y * out->stride + 4 * x, solid->pixels, 4), 0);
        Image_Destroy(out);
    }
    Image_Destroy(solid);
    Image_Destroy(same);
    Image_Destroy(source);
}

TEST_F(ImageResampleTest, HalvingWeighsSecondPixelByAlmostOne)
{
    Image *source = MakeImage(2, 1, 32, [](int32_t x, int32_t, uint8_t *p) { memset(p, x ? 255 : 0, 4); });
    Image *half = Wide(1, 1);
    ASSERT_NE(Image_Resample(half, source), nullptr);
    // (0 x 1 + 1 x 65535/65536) / (131071/65536) x 255 + 0.5 = 127.998 -> 127.
    EXPECT_EQ(half->pixels[0], 127);
    Image_Destroy(half);
    Image_Destroy(source);
}

TEST_F(ImageResampleTest, EnlargingRepeatsAndBlendsAcrossBoundaries)
{
    Image *source = MakeImage(2, 1, 32, [](int32_t x, int32_t, uint8_t *p) { memset(p, x ? 200 : 100, 4); });
    Image *twice = Wide(4, 1);
    ASSERT_NE(Image_Resample(twice, source), nullptr);
    EXPECT_EQ(twice->pixels[0], 100);
    EXPECT_EQ(twice->pixels[4], 100);
    EXPECT_EQ(twice->pixels[8], 200);
    EXPECT_EQ(twice->pixels[12], 200);
    Image *threeHalves = Wide(3, 1);
    ASSERT_NE(Image_Resample(threeHalves, source), nullptr);
    EXPECT_EQ(threeHalves->pixels[0], 100);
    EXPECT_GT(threeHalves->pixels[4], 100);
    EXPECT_LT(threeHalves->pixels[4], 200);
    EXPECT_EQ(threeHalves->pixels[8], 200);
    Image_Destroy(threeHalves);
    Image_Destroy(twice);
    Image_Destroy(source);
}

TEST_F(ImageResampleTest, AwkwardRatiosStayInsideTheSourceAndGradientsStayMonotone)
{
    const std::pair<int32_t, int32_t> ratios[] = {{3, 2}, {1023, 7}, {7, 1023}, {1, 300}, {300, 1}, {1000, 999}, {999, 1000}};
    for (auto [from, to] : ratios) {
        // Exact-size rows (stride = width x 4) make ASan see any read past a row's end.
        Image *source = MakeImage(from, 2, 32, [from](int32_t x, int32_t, uint8_t *p) {
            memset(p, (uint8_t)(from > 1 ? x * 255 / (from - 1) : 9), 4);
        });
        Image *out = Wide(to, 3);
        ASSERT_NE(Image_Resample(out, source), nullptr) << from << " -> " << to;
        for (int32_t x = 1; x < to; x++) ASSERT_GE(out->pixels[4 * x], out->pixels[4 * (x - 1)]) << from << " -> " << to;
        Image_Destroy(out);
        Image_Destroy(source);
    }
}

TEST_F(ImageResampleTest, RefusesZeroSizesAndWidthsBeyond65536TimesTheSource)
{
    Image *source = Wide(1, 1);
    Image *empty = Image_Create(0, 1, 32);
    Image_AllocatePixels(empty);
    EXPECT_EQ(Image_Resample(empty, source), nullptr);
    EXPECT_EQ(TakeError(), 0x80000016u);
    Image *huge = Image_Create(65537, 1, 32);
    Image_AllocatePixels(huge);
    EXPECT_EQ(Image_Resample(huge, source), nullptr);
    EXPECT_EQ(TakeError(), 0x80000009u);
    Image *limit = Image_Create(65536, 1, 32);
    Image_AllocatePixels(limit);
    EXPECT_EQ(Image_Resample(limit, source), limit);
    Image_Destroy(limit);
    Image_Destroy(huge);
    Image_Destroy(empty);
    Image_Destroy(source);
}

TEST_F(ImageResampleTest, CreateResampledConvertsPalettisedSourceFirst)
{
    Image *source = MakeImage(2, 2, 8, [](int32_t, int32_t, uint8_t *p) { *p = 3; });
    const uint8_t entry[4] = {9, 8, 7, 6};
    memcpy(source->palette + 12, entry, 4);
    source->flags |= IMAGE_GAMMACORRECTED;
    Image *out = Image_CreateResampled(source, 3, 3);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->depth, 32);
    EXPECT_EQ(memcmp(out->pixels + out->stride + 4, entry, 4), 0);
    EXPECT_TRUE(out->flags & IMAGE_GAMMACORRECTED);
    Image_Destroy(out);
    Image_Destroy(source);
}

}  // namespace
