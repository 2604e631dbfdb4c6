// Images: pixels, masks, gamma, conversion, file search and resampling.
#include "gfx/core/image.h"

#include <tuple>

#include "gfx/core/imageresample.h"
#include "gfx/core/palquant.h"
#include "tests/gfx/core/image_fixture.h"

namespace {

using ImageTest = ImageEngineTest;

std::vector<uint8_t> Bytes(const uint8_t* p, size_t n) { return std::vector<uint8_t>(p, p + n); }

TEST_F(ImageTest, MasksTurnBrightnessIntoAlphaWidenPalettisedImagesAndNeverLoseOrFreeCallersPixels)
{
    Image* palettised = Img(1, 1, 8, 0);
    memcpy(palettised->palette, "\x0a\xc8\x1e\x00", 4);
    Image_MakeMask(palettised);
    EXPECT_EQ(palettised->palette[3], 200);
    Image* wide = Img(2, 1, 32, [](int32_t x, int32_t, uint8_t* p) {
        const uint8_t c[4] = {(uint8_t)(x ? 5 : 90), 60, (uint8_t)(x ? 7 : 20), 255};
        memcpy(p, c, 4);
    });
    Image_MakeMask(wide);
    EXPECT_EQ(std::tuple(wide->pixels[3], wide->pixels[7]), std::tuple(90, 60));

    Image* image = Img(2, 2, 8, [](int32_t x, int32_t, uint8_t* p) { *p = (uint8_t)x; });
    memcpy(image->palette, "\xff\0\0\xff\0\0\xff\xff", 8);  // red, blue
    image->flags |= IMAGE_GAMMACORRECTED;
    Image* mask = Img(2, 2, 32, [](int32_t x, int32_t y, uint8_t* p) { p[3] = (uint8_t)(10 * x + 100 * y); });
    ASSERT_EQ(Image_ApplyMask(image, mask), image);
    EXPECT_EQ(std::tuple(image->depth, image->palette), std::tuple(32, nullptr));
    EXPECT_TRUE(image->flags & IMAGE_GAMMACORRECTED);
    EXPECT_EQ(Bytes(image->pixels, 8), (std::vector<uint8_t>{255, 0, 0, 0, 0, 0, 255, 10}));
    EXPECT_EQ(image->pixels[image->stride + 7], 110);
    // A 4-bit mask's pixel is its byte's low four bits (16 palette entries).
    mask = Img(2, 2, 4, [](int32_t x, int32_t, uint8_t* p) { *p = (uint8_t)(0xe0 | x); });
    mask->palette[3] = 5, mask->palette[7] = 66;
    ASSERT_EQ(Image_ApplyMask(image, mask), image);
    EXPECT_EQ(std::tuple(image->pixels[3], image->pixels[7]), std::tuple(5, 66));
    image = Img(2, 2, 8, 0);
    EXPECT_EQ(Image_ApplyMask(image, Img(1, 2, 32, 0)), nullptr);
    EXPECT_EQ(TakeError(), 0x8000000au);
    mask = Img(2, 2, 32, [](int32_t, int32_t, uint8_t* p) { p[3] = 33; });
    uint8_t* pixels = image->pixels;
    imagetest::g_failAfter = 0;
    EXPECT_EQ(Image_ApplyMask(image, mask), nullptr);
    imagetest::g_failAfter = -1;
    EXPECT_EQ(std::tuple(image->depth, image->pixels), std::tuple(8, pixels));
    EXPECT_NE(image->palette, nullptr);
    uint8_t own[4] = {0, 1, 1, 0}, palette[8 * 4] = {};
    Image* borrowed = Keep(Image_Create(2, 2, 8));
    borrowed->pixels = own, borrowed->palette = palette, borrowed->stride = 2;
    ASSERT_EQ(Image_ApplyMask(borrowed, mask), borrowed);
    EXPECT_TRUE(borrowed->flags & IMAGE_OWNSPIXELS);  // frees the new block only (ASan would flag the stack array)
    EXPECT_EQ(borrowed->pixels[3], 33);
    // Gamma correction refuses an image without the palette or pixels it changes.
    EXPECT_EQ(Image_GammaCorrect(Keep(Image_Create(2, 2, 8))), nullptr);
    EXPECT_EQ(Image_GammaCorrect(Keep(Image_Create(2, 2, 32))), nullptr);
}

TEST_F(ImageTest, ConvertIntoAcceptsTheListedDepthPairsAndResizeKeepsTheTopLeftOrTheImage)
{
    const int32_t depths[] = {4, 8, 32};
    for (int32_t from : depths)
        for (int32_t to : depths) {
            const bool allowed = from == to || (from == 4 && to == 8) || (from != 32 && to == 32);
            EXPECT_EQ(Image_ConvertInto(Img(2, 1, to, 0), Img(2, 1, from, 0)), allowed ? 1 : 0) << from << to;
            EXPECT_EQ(TakeError(), allowed ? (uint32_t)ERR_NO_ERROR : 0x80000009u);
        }
    Image* source = Img(3, 1, 4, [](int32_t x, int32_t, uint8_t* p) { *p = (uint8_t)(x + 13); });
    for (int i = 0; i < 64; i++) source->palette[i] = (uint8_t)(i + 1);
    Image* destination = Img(3, 1, 8, 0);
    memset(destination->palette, 0xee, 1024);
    ASSERT_EQ(Image_ConvertInto(destination, source), 1);
    EXPECT_EQ(std::tuple(destination->pixels[2], memcmp(destination->palette, source->palette, 64)), std::tuple(15, 0));
    for (int i = 64; i < 1024; i++) ASSERT_EQ(destination->palette[i], 0);
    Image* wide = Img(3, 1, 32, 0);
    source->flags |= IMAGE_GAMMACORRECTED;
    ASSERT_EQ(Image_CopyConverted(wide, source), wide);
    EXPECT_EQ(memcmp(wide->pixels + 4, source->palette + 4 * 14, 4), 0);
    EXPECT_TRUE(wide->flags & IMAGE_GAMMACORRECTED);
    Image* image = Img(4, 4, 8, [](int32_t x, int32_t y, uint8_t* p) { *p = (uint8_t)(y * 4 + x); });
    image->palette[4 * 9] = 99;
    ASSERT_NE(Image_Resize(image, 2, 6), nullptr);
    EXPECT_EQ(std::tie(image->width, image->height, image->stride), std::make_tuple(2, 6, 4));
    for (int32_t y = 0; y < 4; y++)
        for (int32_t x = 0; x < 2; x++) EXPECT_EQ(image->pixels[y * image->stride + x], y * 4 + x);
    EXPECT_EQ(image->palette[4 * 9], 99);
    uint8_t* pixels = image->pixels;
    imagetest::g_failAfter = 0;
    EXPECT_EQ(Image_Resize(image, 8, 8), nullptr);
    imagetest::g_failAfter = -1;
    EXPECT_EQ(TakeError(), 0x80000013u);
    EXPECT_EQ(std::tie(image->pixels, image->width, image->stride), std::make_tuple(pixels, 2, 4));
}

// A file system of names only; exists() and the readers record what they are asked.
std::set<std::string> g_present;
std::vector<std::string> g_asked, g_read;
std::string g_failing;  // a present file whose reader fails
int FakeExists(const char* path)
{
    g_asked.push_back(path);
    return g_present.count(path) ? 1 : 0;
}
Image* FakeRead(const char* path)
{
    g_read.push_back(path);
    if (g_failing == path) return nullptr;
    Image* image = Image_Create(1, 1, 32);
    Image_AllocatePixels(image);
    memset(image->pixels, 200, 4);
    return image;
}

Image* OtherRead(const char*) { return Image_Create(2, 2, 32); }

class ImageFileTest : public ImageTest {
protected:
    void SetUp() override
    {
        ImageTest::SetUp();
        g_present.clear(), g_asked.clear(), g_read.clear(), g_failing.clear();
        Engine_Instance()->fileFunctions.exists = FakeExists;
        Image_RegisterFileFormat("bmp", FakeRead, nullptr);
    }
    bool Read(const char* name) { return Keep(Image_Read(name)) != nullptr; }
};

TEST_F(ImageFileTest, SearchPathIsTriedInOrderPastFailingReadersAndReadMaskedNeedsItsMask)
{
    g_present = {"a.bmp"};
    EXPECT_EQ(Image_ReadMasked("a.bmp", "missing.bmp"), nullptr);
    g_present = {"a.bmp", "m.bmp"};
    Image* image = Keep(Image_ReadMasked("a.bmp", "m.bmp"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixels[3], 200);
    EXPECT_NE(Keep(Image_ReadMasked("a.bmp", "")), nullptr);
    ASSERT_NE(Image_SetPath("a\\;b\\"), nullptr);
    g_present = {"a\\tex.bmp", "b\\tex.bmp"};
    g_failing = "a\\tex.bmp";
    g_asked.clear(), g_read.clear();
    EXPECT_TRUE(Read("tex.bmp"));
    EXPECT_EQ(g_asked, (std::vector<std::string>{"a\\tex.bmp", "b\\tex.bmp"}));
    EXPECT_EQ(g_read, g_asked);
    g_asked.clear();
    EXPECT_FALSE(Read("c:tex.bmp"));
    EXPECT_FALSE(Read("\\tex.bmp"));
    EXPECT_EQ(g_asked, (std::vector<std::string>{"c:tex.bmp", "\\tex.bmp"}));
    const std::string folder(600, 'd');
    ASSERT_NE(Image_SetPath((folder + "/").c_str()), nullptr);
    g_present = {folder + "/tex.bmp"};
    EXPECT_TRUE(Read("tex.bmp"));
    EXPECT_STREQ(Image_FindFileExtension("tex"), ".bmp");
}

TEST_F(ImageTest, ResamplingAwkwardRatiosStaysInsideTheSourceAndRefusesZeroOrOverwideSizes)
{
    const std::pair<int32_t, int32_t> ratios[] = {{3, 2},   {1023, 7},   {7, 1023},  {1, 300},
                                                  {300, 1}, {1000, 999}, {999, 1000}};
    for (auto [from, to] : ratios) {
        // Exact-size rows let ASan see a read past a row; gradients stay monotone.
        Image* source = Img(from, 2, 32, [w = from](int32_t x, int32_t, uint8_t* p) {
            memset(p, (uint8_t)(w > 1 ? x * 255 / (w - 1) : 9), 4);
        });
        Image* out = Img(to, 3, 32, 0);
        ASSERT_NE(Image_Resample(out, source), nullptr) << from << " -> " << to;
        for (int32_t x = 1; x < to; x++) ASSERT_GE(out->pixels[4 * x], out->pixels[4 * (x - 1)]) << from << to;
    }
    Image* source = Img(1, 1, 32, 0);
    const struct {
        int32_t width;
        uint32_t error;
    } sizes[] = {{0, 0x80000016u}, {65537, 0x80000009u}, {65536, ERR_NO_ERROR}};
    for (const auto& s : sizes) {
        Image* out = Keep(Image_Create(s.width, 1, 32));
        Image_AllocatePixels(out);
        EXPECT_EQ(Image_Resample(out, source), s.error != ERR_NO_ERROR ? nullptr : out) << s.width;
        EXPECT_EQ(TakeError(), s.error);
    }
    Image* indexed = Img(2, 2, 8, 3);
    memcpy(indexed->palette + 12, "\x09\x08\x07\x06", 4);
    indexed->flags |= IMAGE_GAMMACORRECTED;
    Image* out = Keep(Image_CreateResampled(indexed, 3, 3));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->depth, 32);
    EXPECT_EQ(memcmp(Pixel(out, 1, 1), "\x09\x08\x07\x06", 4), 0);
    EXPECT_TRUE(out->flags & IMAGE_GAMMACORRECTED);
}

}  // namespace

TEST_F(ImageFileTest, ExtensionsMatchInLowerOrUpperCaseOnlyAndRegisteringAgainKeepsOneFormat)
{
    g_present = {"tex.bmp", "tex.BMP", "tex.Bmp"};
    const std::pair<const char*, bool> names[] = {
        {"tex.bmp", true}, {"tex.BMP", true}, {"tex.Bmp", false}, {"dir.old/tex", false}, {"dir.old\\tex", false}};
    for (auto [name, found] : names) EXPECT_EQ(Read(name), found) << name;
    EXPECT_EQ(g_read.size(), 2u);
    // The newest reader of a format wins; registering without one keeps it.
    Image_RegisterFileFormat("BMP", OtherRead, nullptr);
    Image_RegisterFileFormat("bmp", nullptr, nullptr);
    Image* image = Keep(Image_Read("tex.bmp"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 2);
    Image_RegisterFileFormat("png", FakeRead, nullptr);
    // Newest first: the search for an extension tries png before bmp.
    g_present = {"b.bmp"};
    g_asked.clear();
    EXPECT_STREQ(Image_FindFileExtension("b"), ".bmp");
    EXPECT_EQ(g_asked, (std::vector<std::string>{"b.png", "b.PNG", "b.bmp"}));
}

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

TEST_F(PaletteQuantiserTest, FewColoursAreExactManyMakeNEntriesWithBoundedErrorAndUnseenColoursMapNearest)
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
    image = Img(64, 64, 32, [](int32_t x, int32_t y, uint8_t* p) {
        const uint8_t c[4] = {(uint8_t)(x * 4), (uint8_t)(y * 4), (uint8_t)((x + y) * 2), 255};
        memcpy(p, c, 4);
    });
    ASSERT_EQ(Quantise(image, 16), 16);
    std::vector<uint8_t> mapped(64 * 64);
    ASSERT_EQ(PaletteQuantiser_MapImage(mapped.data(), 64, 8, 0, &q, image), 1);
    double error = 0;
    for (int32_t y = 0; y < 64; y++)
        for (int32_t x = 0; x < 64; x++) {
            const uint8_t index = mapped[y * 64 + x];
            ASSERT_LT(index, 16);
            for (int c = 0; c < 3; c++) error += std::abs(palette[4 * index + c] - Pixel(image, x, y)[c]);
        }
    EXPECT_LT(error / (64 * 64 * 3), 24.0);
    const std::vector<uint8_t> first(palette, palette + 64);
    Quantise(image, 16);
    EXPECT_EQ(std::vector<uint8_t>(palette, palette + 64), first);
    // Four colours weighed unevenly, three asked for: splits until a box is one point.
    const uint8_t corners[4][4] = {{0, 0, 0, 255}, {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}};
    EXPECT_EQ(Quantise(Img(4, 1, 32, [&](int32_t x, int32_t, uint8_t* p) { memcpy(p, corners[x], 4); }), 3, 2), 3);
    // Two leaves but one entry asked for: one box over everything, its mean.
    Image* two = Img(2, 1, 32, [](int32_t x, int32_t, uint8_t* p) { memset(p, x ? 255 : 0, 3), p[3] = 255; });
    EXPECT_EQ(Quantise(two, 1, 3), 1);
    EXPECT_EQ(palette[0], 127);
}

}  // namespace
