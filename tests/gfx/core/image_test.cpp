#include "gfx/core/image.h"

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/gfx/core/image_fixture.h"

namespace {

class ImageTest : public ImageEngineTest {};

TEST_F(ImageTest, AllocatedPixelsHaveRoundedStrideAndPaletteAfterRows)
{
    Image *image = Image_Create(5, 3, 8);
    ASSERT_NE(Image_AllocatePixels(image), nullptr);
    EXPECT_EQ(image->stride, 8);
    EXPECT_EQ(image->palette, image->pixels + 24);
    EXPECT_TRUE(image->flags & IMAGE_OWNSPIXELS);
    image->palette[1023] = 7;  // the whole 1024-byte palette is inside the block (ASan)
    Image_Destroy(image);
    image = Image_Create(5, 3, 32);
    ASSERT_NE(Image_AllocatePixels(image), nullptr);
    EXPECT_EQ(image->stride, 20);
    EXPECT_EQ(image->palette, nullptr);
    Image_Destroy(image);
}

TEST_F(ImageTest, ResizeKeepsTopLeftRectangleAndPalette)
{
    Image *image = MakeImage(4, 4, 8, [](int32_t x, int32_t y, uint8_t *p) { *p = (uint8_t)(y * 4 + x); });
    image->palette[4 * 9] = 99;
    ASSERT_NE(Image_Resize(image, 2, 6), nullptr);
    EXPECT_EQ(image->width, 2);
    EXPECT_EQ(image->height, 6);
    EXPECT_EQ(image->stride, 4);
    for (int32_t y = 0; y < 4; y++)
        for (int32_t x = 0; x < 2; x++) EXPECT_EQ(image->pixels[y * image->stride + x], y * 4 + x);
    EXPECT_EQ(image->palette[4 * 9], 99);
    Image_Destroy(image);
}

TEST_F(ImageTest, FailedResizeRaisesOutOfMemoryAndLeavesImageUnchanged)
{
    Image *image = MakeImage(4, 4, 32, [](int32_t, int32_t, uint8_t *p) { memset(p, 1, 4); });
    uint8_t *pixels = image->pixels;
    imagetest::g_failAfter = 0;
    EXPECT_EQ(Image_Resize(image, 8, 8), nullptr);
    imagetest::g_failAfter = -1;
    EXPECT_EQ(TakeError(), 0x80000013u);
    EXPECT_EQ(image->pixels, pixels);
    EXPECT_EQ(image->width, 4);
    EXPECT_EQ(image->stride, 16);
    Image_Destroy(image);
}

TEST_F(ImageTest, MakeMaskTurnsBrightnessIntoAlpha)
{
    Image *palettised = MakeImage(1, 1, 8, [](int32_t, int32_t, uint8_t *p) { *p = 0; });
    const uint8_t entry[4] = {10, 200, 30, 0};
    memcpy(palettised->palette, entry, 4);
    Image_MakeMask(palettised);
    EXPECT_EQ(palettised->palette[3], 200);
    Image *wide = MakeImage(2, 1, 32, [](int32_t x, int32_t, uint8_t *p) {
        const uint8_t c[4] = {(uint8_t)(x ? 5 : 90), 60, (uint8_t)(x ? 7 : 20), 255};
        memcpy(p, c, 4);
    });
    Image_MakeMask(wide);
    EXPECT_EQ(wide->pixels[3], 90);
    EXPECT_EQ(wide->pixels[7], 60);
    Image_Destroy(palettised);
    Image_Destroy(wide);
}

TEST_F(ImageTest, ApplyMaskMakesPalettisedImageWideWithMaskAlpha)
{
    Image *image = MakeImage(2, 2, 8, [](int32_t x, int32_t, uint8_t *p) { *p = (uint8_t)x; });
    const uint8_t red[4] = {255, 0, 0, 255}, blue[4] = {0, 0, 255, 255};
    memcpy(image->palette, red, 4);
    memcpy(image->palette + 4, blue, 4);
    image->flags |= IMAGE_GAMMACORRECTED;
    Image *mask = MakeImage(2, 2, 32, [](int32_t x, int32_t y, uint8_t *p) { p[3] = (uint8_t)(10 * x + 100 * y); });
    ASSERT_EQ(Image_ApplyMask(image, mask), image);
    EXPECT_EQ(image->depth, 32);
    EXPECT_EQ(image->palette, nullptr);
    EXPECT_TRUE(image->flags & IMAGE_GAMMACORRECTED);
    EXPECT_EQ(image->pixels[0], 255);
    EXPECT_EQ(image->pixels[6], 255);  // blue of pixel (1, 0)
    EXPECT_EQ(image->pixels[3], 0);
    EXPECT_EQ(image->pixels[7], 10);
    EXPECT_EQ(image->pixels[image->stride + 7], 110);
    Image_Destroy(mask);
    // A 4-bit mask's pixel is its byte's low four bits (16 palette entries).
    mask = MakeImage(2, 2, 4, [](int32_t x, int32_t, uint8_t *p) { *p = (uint8_t)(0xe0 | x); });
    mask->palette[3] = 5;
    mask->palette[7] = 66;
    ASSERT_EQ(Image_ApplyMask(image, mask), image);
    EXPECT_EQ(image->pixels[3], 5);
    EXPECT_EQ(image->pixels[7], 66);
    Image_Destroy(mask);
    Image_Destroy(image);
}

TEST_F(ImageTest, ApplyMaskRefusesSizeMismatchAndKeepsImageWhenMemoryRunsOut)
{
    Image *image = MakeImage(2, 2, 8, [](int32_t, int32_t, uint8_t *p) { *p = 0; });
    Image *small = MakeImage(1, 2, 32, [](int32_t, int32_t, uint8_t *) {});
    EXPECT_EQ(Image_ApplyMask(image, small), nullptr);
    EXPECT_EQ(TakeError(), 0x8000000au);
    Image *mask = MakeImage(2, 2, 32, [](int32_t, int32_t, uint8_t *) {});
    uint8_t *pixels = image->pixels;
    imagetest::g_failAfter = 0;
    EXPECT_EQ(Image_ApplyMask(image, mask), nullptr);
    imagetest::g_failAfter = -1;
    EXPECT_EQ(image->depth, 8);
    EXPECT_EQ(image->pixels, pixels);
    EXPECT_NE(image->palette, nullptr);
    Image_Destroy(small);
    Image_Destroy(mask);
    Image_Destroy(image);
}

TEST_F(ImageTest, ApplyMaskNeverFreesCallerSuppliedPixels)
{
    uint8_t pixels[4] = {0, 1, 1, 0};
    uint8_t palette[8 * 4] = {};
    Image *image = Image_Create(2, 2, 8);
    image->pixels = pixels;
    image->palette = palette;
    image->stride = 2;
    Image *mask = MakeImage(2, 2, 32, [](int32_t, int32_t, uint8_t *p) { p[3] = 33; });
    ASSERT_EQ(Image_ApplyMask(image, mask), image);
    EXPECT_TRUE(image->flags & IMAGE_OWNSPIXELS);
    EXPECT_EQ(image->pixels[3], 33);
    Image_Destroy(mask);
    Image_Destroy(image);  // frees the new block only (ASan would flag the stack array)
}

TEST_F(ImageTest, GammaTablesAndCorrection)
{
    Image_BuildGammaTables(1.0f);
    for (int i = 0; i < 256; i++) ASSERT_EQ(Image_GetGammaTable()[i], i);
    Image_BuildGammaTables(2.0f);
    EXPECT_EQ(Image_GetGammaTable()[128], 181);
    EXPECT_EQ(Image_GetInverseGammaTable()[128], 64);
    Image *image = MakeImage(1, 1, 32, [](int32_t, int32_t, uint8_t *p) {
        const uint8_t c[4] = {128, 0, 255, 128};
        memcpy(p, c, 4);
    });
    ASSERT_EQ(Image_GammaCorrect(image), image);
    EXPECT_EQ(image->pixels[0], 181);
    EXPECT_EQ(image->pixels[2], 255);
    EXPECT_EQ(image->pixels[3], 128);
    EXPECT_TRUE(image->flags & IMAGE_GAMMACORRECTED);
    Image *noPalette = Image_Create(1, 1, 8);
    EXPECT_EQ(Image_GammaCorrect(noPalette), nullptr);
    EXPECT_EQ(TakeError(), 0x80000016u);
    Image *odd = Image_Create(1, 1, 16);
    EXPECT_EQ(Image_GammaCorrect(odd), nullptr);
    EXPECT_EQ(TakeError(), 0x80000008u);
    Image_Destroy(odd);
    Image_Destroy(noPalette);
    Image_Destroy(image);
}

TEST_F(ImageTest, ConvertIntoAcceptsExactlyTheListedDepthPairs)
{
    const int32_t depths[] = {4, 8, 32};
    for (int32_t from : depths)
        for (int32_t to : depths) {
            Image *source = MakeImage(2, 1, from, [](int32_t, int32_t, uint8_t *) {});
            Image *destination = MakeImage(2, 1, to, [](int32_t, int32_t, uint8_t *) {});
            const bool allowed = from == to || (from == 4 && to == 8) || (from != 32 && to == 32);
            EXPECT_EQ(Image_ConvertInto(destination, source), allowed ? 1 : 0) << from << " -> " << to;
            if (!allowed) {
                EXPECT_EQ(TakeError(), 0x80000009u);
            }
            Image_Destroy(source);
            Image_Destroy(destination);
        }
}

TEST_F(ImageTest, ConvertFourToEightCopiesIndicesAndSixteenEntriesAndClearsTheRest)
{
    Image *source = MakeImage(3, 1, 4, [](int32_t x, int32_t, uint8_t *p) { *p = (uint8_t)(x + 13); });
    for (int i = 0; i < 64; i++) source->palette[i] = (uint8_t)(i + 1);
    Image *destination = MakeImage(3, 1, 8, [](int32_t, int32_t, uint8_t *) {});
    memset(destination->palette, 0xee, 1024);
    ASSERT_EQ(Image_ConvertInto(destination, source), 1);
    EXPECT_EQ(destination->pixels[2], 15);
    EXPECT_EQ(memcmp(destination->palette, source->palette, 64), 0);
    for (int i = 64; i < 1024; i++) ASSERT_EQ(destination->palette[i], 0);
    Image *wide = MakeImage(3, 1, 32, [](int32_t, int32_t, uint8_t *) {});
    source->flags |= IMAGE_GAMMACORRECTED;
    ASSERT_EQ(Image_CopyConverted(wide, source), wide);
    EXPECT_EQ(memcmp(wide->pixels + 4, source->palette + 4 * 14, 4), 0);
    EXPECT_TRUE(wide->flags & IMAGE_GAMMACORRECTED);
    Image_Destroy(wide);
    Image_Destroy(source);
    Image_Destroy(destination);
}

// A file system of names only: exists() answers from a set and records
// every question; readers record the paths they are given.
std::set<std::string> g_present;
std::vector<std::string> g_asked;
std::vector<std::string> g_read;
std::string g_failing;  // a present file whose reader fails
int FakeExists(const char *path)
{
    g_asked.push_back(path);
    return g_present.count(path) ? 1 : 0;
}
Image *FakeRead(const char *path)
{
    g_read.push_back(path);
    if (g_failing == path) return nullptr;
    Image *image = Image_Create(1, 1, 32);
    Image_AllocatePixels(image);
    memset(image->pixels, 200, 4);
    return image;
}
Image *OtherRead(const char *) { return Image_Create(2, 2, 32); }

class ImageFileTest : public ImageTest {
protected:
    void SetUp() override
    {
        ImageTest::SetUp();
        g_present.clear();
        g_asked.clear();
        g_read.clear();
        g_failing.clear();
        Engine_Instance()->fileFunctions.exists = FakeExists;
    }
};

TEST_F(ImageFileTest, ExtensionsMatchInLowerOrUpperCaseOnly)
{
    Image_RegisterFileFormat("bmp", FakeRead, nullptr);
    g_present = {"tex.bmp", "tex.BMP", "tex.Bmp"};
    for (const char *name : {"tex.bmp", "tex.BMP"}) {
        Image *image = Image_Read(name);
        EXPECT_NE(image, nullptr) << name;
        Image_Destroy(image);
    }
    EXPECT_EQ(Image_Read("tex.Bmp"), nullptr);
    EXPECT_EQ(Image_Read("dir.old/tex"), nullptr);
    EXPECT_EQ(Image_Read("dir.old\\tex"), nullptr);
    EXPECT_EQ(g_read.size(), 2u);
}

TEST_F(ImageFileTest, RegisteringTwiceKeepsOneFormatAndEarlierReaderWhenNoneGiven)
{
    Image_RegisterFileFormat("bmp", FakeRead, nullptr);
    Image_RegisterFileFormat("BMP", OtherRead, nullptr);
    Image_RegisterFileFormat("bmp", nullptr, nullptr);
    g_present = {"a.bmp", "b.bmp"};
    Image *image = Image_Read("a.bmp");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 2);
    Image_Destroy(image);
    Image_RegisterFileFormat("png", FakeRead, nullptr);
    // Newest first: the search for an extension tries png before bmp.
    g_present = {"b.bmp"};
    g_asked.clear();
    EXPECT_STREQ(Image_FindFileExtension("b"), ".bmp");
    const std::vector<std::string> expected = {"b.png", "b.PNG", "b.bmp"};
    EXPECT_EQ(g_asked, expected);
}

TEST_F(ImageFileTest, SearchPathIsTriedElementByElementAndSkippedForAbsoluteNames)
{
    Image_RegisterFileFormat("png", FakeRead, nullptr);
    ASSERT_NE(Image_SetPath("a\\;b\\"), nullptr);
    g_present = {"b\\tex.png"};
    Image *image = Image_Read("tex.png");
    ASSERT_NE(image, nullptr);
    Image_Destroy(image);
    const std::vector<std::string> expected = {"a\\tex.png", "b\\tex.png"};
    EXPECT_EQ(g_asked, expected);
    g_asked.clear();
    EXPECT_EQ(Image_Read("c:tex.png"), nullptr);
    EXPECT_EQ(Image_Read("\\tex.png"), nullptr);
    const std::vector<std::string> absolute = {"c:tex.png", "\\tex.png"};
    EXPECT_EQ(g_asked, absolute);
}

TEST_F(ImageFileTest, FileThatFailsToReadLetsTheSearchGoOn)
{
    Image_RegisterFileFormat("png", FakeRead, nullptr);
    Image_SetPath("a/;b/");
    g_present = {"a/tex.png", "b/tex.png"};
    g_failing = "a/tex.png";
    Image *image = Image_Read("tex.png");
    ASSERT_NE(image, nullptr);
    Image_Destroy(image);
    const std::vector<std::string> expected = {"a/tex.png", "b/tex.png"};
    EXPECT_EQ(g_read, expected);
}

TEST_F(ImageFileTest, LongSearchPathGrowsItsBuffers)
{
    Image_RegisterFileFormat("png", FakeRead, nullptr);
    const std::string folder(600, 'd');
    ASSERT_NE(Image_SetPath((folder + "/").c_str()), nullptr);
    g_present = {folder + "/tex.png"};
    Image *image = Image_Read("tex.png");
    EXPECT_NE(image, nullptr);
    Image_Destroy(image);
    EXPECT_STREQ(Image_FindFileExtension("tex"), ".png");
}

TEST_F(ImageFileTest, ReadMaskedAppliesMaskBrightnessAndFailsWithoutMask)
{
    Image_RegisterFileFormat("png", FakeRead, nullptr);
    g_present = {"a.png"};
    EXPECT_EQ(Image_ReadMasked("a.png", "missing.png"), nullptr);
    g_present = {"a.png", "m.png"};
    Image *image = Image_ReadMasked("a.png", "m.png");
    EXPECT_NE(image, nullptr);
    Image_Destroy(image);
    image = Image_ReadMasked("a.png", "");
    EXPECT_NE(image, nullptr);
    Image_Destroy(image);
}

}  // namespace
