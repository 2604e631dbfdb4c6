#include "gfx/toolkit/bmp/imagebmp.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "tests/gfx/core/image_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes &b, uint32_t v)
{
    b.resize(b.size() + 2);
    Bytes_StoreU16(&b[b.size() - 2], v);
}
void Put32(Bytes &b, uint32_t v)
{
    b.resize(b.size() + 4);
    Bytes_StoreU32(&b[b.size() - 4], v);
}

struct BmpLayout {
    uint32_t infoSize = 40;
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t coloursUsed = 0;
    Bytes palette;      // as stored (3 or 4 bytes per entry)
    Bytes extraHeader;  // after the 40 bytes (masks, larger headers)
    int32_t pixelOffset = -1;  // -1: right after the palette
    Bytes pixels;
};

// The bytes of a BMP file built field by field.
Bytes MakeBmp(const BmpLayout &s)
{
    Bytes b = {0x42, 0x4D};
    const uint32_t headers = 14 + (s.infoSize == 12 ? 12 : 40) + (uint32_t)s.extraHeader.size();
    const uint32_t offset = s.pixelOffset >= 0 ? (uint32_t)s.pixelOffset : headers + (uint32_t)s.palette.size();
    Put32(b, offset + (uint32_t)s.pixels.size());
    Put32(b, 0);
    Put32(b, offset);
    Put32(b, s.infoSize);
    if (s.infoSize == 12) {
        Put16(b, (uint32_t)s.width);
        Put16(b, (uint32_t)s.height);
        Put16(b, 1);
        Put16(b, s.bits);
    } else {
        Put32(b, (uint32_t)s.width);
        Put32(b, (uint32_t)s.height);
        Put16(b, 1);
        Put16(b, s.bits);
        Put32(b, s.compression);
        Put32(b, 0);
        Put32(b, 0);
        Put32(b, 0);
        Put32(b, s.coloursUsed);
        Put32(b, 0);
    }
    b.insert(b.end(), s.extraHeader.begin(), s.extraHeader.end());
    b.insert(b.end(), s.palette.begin(), s.palette.end());
    while (b.size() < offset) b.push_back(0);
    b.insert(b.end(), s.pixels.begin(), s.pixels.end());
    return b;
}

class ImageBmpTest : public ImageEngineTest {
protected:
    std::string folder;
    void SetUp() override
    {
        ImageEngineTest::SetUp();
        folder = imagetest::TestFolder();
    }
    std::string Save(const Bytes &bytes, const char *name = "t.bmp") { return imagetest::WriteBytes(folder + name, bytes); }
    Image *Read(const BmpLayout &layout) { return ImageBmp_Read(Save(MakeBmp(layout)).c_str()); }
    // A default layout changed by `set`.
    Image *Read(const std::function<void(BmpLayout &)> &set)
    {
        BmpLayout layout;
        set(layout);
        return Read(layout);
    }
};

TEST_F(ImageBmpTest, EveryBitCountAndHeaderKindDecodesBottomUp)
{
    Bytes sixteen(64, 0), core;
    sixteen[4 * 12 + 2] = 200;  // B, G, R: entry 12 is red 200
    for (int i = 0; i < 256; i++) core.insert(core.end(), {(uint8_t)i, (uint8_t)(i / 2), 7});
    // What the image shows at a pixel: its RGBA, through the palette below depth 32.
    struct Seen {
        int32_t x, y;
        uint8_t rgba[4];
    };
    const uint8_t W = 255;
    const struct {
        const char *what;
        std::function<void(BmpLayout &)> layout;
        int32_t depth;
        std::vector<Seen> seen;
        int32_t index;  // index expected at (2, 0) for depth 4 and 8, else -1
    } cases[] = {
        {"1 bit, 4 entries filled black",
         [&](BmpLayout &s) {
             s.width = 10, s.height = 2, s.bits = 1;
             s.palette = {0, 0, 0, 0, W, W, W, 0};
             s.pixels = {0xA0, 0x40, 0, 0, /* top */ 0x80, 0x00, 0, 0};
         },
         4,
         {{0, 1, {W, W, W, W}}, {1, 1, {0, 0, 0, W}}, {2, 1, {W, W, W, W}}, {9, 1, {W, W, W, W}}, {0, 0, {W, W, W, W}}},
         0},
        {"4 bit",
         [&](BmpLayout &s) {
             s.width = 3, s.bits = 4, s.coloursUsed = 16;
             s.palette = sixteen;
             s.pixels = {0xC1, 0xF0, 0, 0};
         },
         4, {{0, 0, {200, 0, 0, W}}}, 15},
        {"16 bit is 5:6:5", [](BmpLayout &s) { s.bits = 16, s.pixels = {0xff, 0xff, 0, 0}; }, 32,
         {{0, 0, {248, 252, 248, W}}}, -1},
        {"16 bit fields with green mask 0x3e0 are 5:5:5",
         [](BmpLayout &s) {
             s.bits = 16, s.compression = 3;
             s.extraHeader = {0x00, 0x7c, 0, 0, 0xe0, 0x03, 0, 0, 0x1f, 0, 0, 0};
             s.pixels = {0xff, 0x7f, 0, 0};
         },
         32, {{0, 0, {248, 248, 248, W}}}, -1},
        {"15 bit", [](BmpLayout &s) { s.bits = 15, s.pixels = {0x1f, 0x7c, 0, 0}; }, 32, {{0, 0, {248, 0, 248, W}}},
         -1},
        {"24 bit, compression ignored",
         [](BmpLayout &s) { s.height = 2, s.bits = 24, s.compression = 7, s.pixels = {1, 2, 3, 0, 4, 5, 6, 0}; }, 32,
         {{0, 0, {6, 5, 4, W}}, {0, 1, {3, 2, 1, W}}}, -1},
        {"32 bit behind a larger header",
         [](BmpLayout &s) {
             s.infoSize = 124, s.bits = 32, s.extraHeader.assign(84, 0xee);
             s.pixels = {10, 20, 30, 40};
         },
         32, {{0, 0, {30, 20, 10, W}}}, -1},
        {"core header, 3-byte entries",
         [&](BmpLayout &s) {
             s.infoSize = 12, s.width = 3, s.bits = 8;
             s.palette = core;
             s.pixels = {3, 250, 9, 0};
         },
         8, {{1, 0, {7, 125, 250, W}}}, 9},
    };
    for (const auto &c : cases) {
        Image *image = Read(c.layout);
        ASSERT_NE(image, nullptr) << c.what;
        EXPECT_EQ(image->depth, c.depth) << c.what;
        for (const Seen &e : c.seen) {
            const uint8_t *p =
                image->depth == 32 ? Pixel(image, e.x, e.y) : image->palette + 4 * *Pixel(image, e.x, e.y);
            EXPECT_EQ(memcmp(p, e.rgba, 4), 0) << c.what << " at " << e.x << "," << e.y;
        }
        if (c.index >= 0) {
            EXPECT_EQ(*Pixel(image, 2, 0), c.index) << c.what;
        }
        Image_Destroy(image);
    }
}

TEST_F(ImageBmpTest, EightBitPaletteLengthComesFromColoursUsedWhenInRange)
{
    for (uint32_t used : {0u, 300u, 2u}) {
        BmpLayout s;
        s.width = 2;
        s.bits = 8;
        s.coloursUsed = used;
        const uint32_t stored = used == 2 ? 2 : 256;
        for (uint32_t i = 0; i < stored; i++) s.palette.insert(s.palette.end(), {(uint8_t)i, 0, 0, 0});
        s.pixels = {1, (uint8_t)(stored - 1), 0, 0};
        Image *image = Read(s);
        ASSERT_NE(image, nullptr) << used;
        EXPECT_EQ(image->depth, 8);
        EXPECT_EQ(image->palette[4 * 1 + 2], 1);
        EXPECT_EQ(image->palette[4 * (stored - 1) + 2], stored - 1);
        EXPECT_EQ(image->palette[4 * 255 + 3], 255);
        Image_Destroy(image);
    }
}

TEST_F(ImageBmpTest, Rle8DecodesRunsLiteralsRowEndsAndEndOfBitmapIntoOwnRows)
{
    // Rows are given bottom first, as stored. A row ended by the end of the
    // bitmap lands in its own row (not the image's top one), keeping what
    // the row buffer held behind the pixels it got.
    const struct {
        std::vector<uint8_t> stream;
        std::vector<std::vector<uint8_t>> rows;  // bottom first; rows the stream never reaches are not listed
    } cases[] = {
        {{3, 7, 0, 3, 1, 2, 3, 0, 0, 0,  // 7 7 7 1 2 3 (literal with pad), end of row
          9, 4, 0, 0,                    // a run clipped at the row, end of row
          2, 5, 0, 1},                   // 5 5, end of bitmap on the top row
         {{7, 7, 7, 1, 2, 3}, {4, 4, 4, 4, 4, 4}, {5, 5, 4, 4, 4, 4}}},
        {{3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 2, 5, 0, 1},  // end of bitmap on the middle row
         {{7, 7, 7, 1, 2, 3}, {5, 5, 7, 1, 2, 3}}},
    };
    for (const auto &c : cases) {
        BmpLayout s;
        s.width = 6;
        s.height = 3;
        s.bits = 8;
        s.compression = 1;
        for (int i = 0; i < 256; i++) s.palette.insert(s.palette.end(), {0, 0, (uint8_t)i, 0});
        s.pixels = c.stream;
        Image *image = Read(s);
        ASSERT_NE(image, nullptr);
        for (size_t r = 0; r < c.rows.size(); r++)
            EXPECT_EQ(memcmp(Pixel(image, 0, 2 - (int32_t)r), c.rows[r].data(), 6), 0) << c.rows.size() << " row " << r;
        Image_Destroy(image);
    }
}

TEST_F(ImageBmpTest, RefusedKindsRaiseTheirCodes)
{
    const struct {
        const char *what;
        std::function<void(BmpLayout &)> layout;
        uint32_t code;
    } cases[] = {
        {"RLE4", [](BmpLayout &s) { s.bits = 4, s.compression = 2, s.palette.assign(64, 0), s.pixels = {0, 0, 0, 0}; },
         0x80000009u},
        {"top-down", [](BmpLayout &s) { s.height = -1, s.pixels = {1, 2, 3, 0}; }, 0x80000009u},
        {"palette behind a larger header",
         [](BmpLayout &s) {
             s.infoSize = 108, s.bits = 8, s.palette.assign(1024, 0), s.extraHeader.assign(68, 0);
             s.pixels = {0, 0, 0, 0};
         },
         0x80000009u},
        {"RLE8 delta",
         [](BmpLayout &s) { s.bits = 8, s.compression = 1, s.palette.assign(1024, 0), s.pixels = {0, 2, 1, 1}; },
         0x80000009u},
        {"12 bits", [](BmpLayout &s) { s.bits = 12, s.pixels = {0, 0, 0, 0}; }, 0x80000008u},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Read(c.layout), nullptr) << c.what;
        EXPECT_EQ(TakeError(), c.code) << c.what;
    }
}

TEST_F(ImageBmpTest, MalformedFilesFailCleanly)
{
    Image_RegisterFileFormat("bmp", ImageBmp_Read, nullptr);
    BmpLayout good;
    good.width = 4;
    good.height = 4;
    good.pixels.assign(4 * 12, 9);
    const Bytes whole = MakeBmp(good);
    // Every truncation of a good file fails without reading past the data.
    for (size_t length = 0; length < whole.size(); length++) {
        const Bytes cut(whole.begin(), whole.begin() + (long)length);
        EXPECT_EQ(ImageBmp_Read(Save(cut).c_str()), nullptr) << length;
    }
    Error_Get(nullptr);
    BmpLayout huge = good;
    huge.width = 100000;
    huge.height = 100000;
    EXPECT_EQ(Read(huge), nullptr);
    EXPECT_EQ(TakeError(), 0x80000013u);
    // Within those limits, rows the file does not hold are refused before
    // the image is made.
    huge.width = huge.height = 8000;
    imagetest::g_largest = 0;
    EXPECT_EQ(Read(huge), nullptr);
    EXPECT_EQ(TakeError(), ERR_END_OF_STREAM);
    EXPECT_LT(imagetest::g_largest, (size_t)1 << 20);
    BmpLayout headerPastFile = good;
    headerPastFile.infoSize = 0x7fffffff;
    EXPECT_EQ(Read(headerPastFile), nullptr);
    Error_Get(nullptr);
    // Sizes that pass the sanity limits but reach past the end of the file.
    headerPastFile.infoSize = 40 + 4 * 12 + 100;
    EXPECT_EQ(Read(headerPastFile), nullptr);
    Bytes pixelsPastFile = whole;
    pixelsPastFile[10] = (uint8_t)(whole.size() - 4);  // the rows would start in the last row's bytes
    EXPECT_EQ(ImageBmp_Read(Save(pixelsPastFile).c_str()), nullptr);
    Error_Get(nullptr);
    BmpLayout overlapping;
    overlapping.bits = 8;
    overlapping.palette.assign(1024, 0);
    overlapping.pixelOffset = 100;
    overlapping.pixels = {0, 0, 0, 0};
    EXPECT_EQ(Read(overlapping), nullptr);
    EXPECT_EQ(TakeError(), 0x80000009u);
    BmpLayout rleOverrun;
    rleOverrun.width = 2;
    rleOverrun.bits = 8;
    rleOverrun.compression = 1;
    rleOverrun.palette.assign(1024, 0);
    rleOverrun.pixels = {255, 1, 0, 255};  // a run and a literal far past a 2-pixel row
    rleOverrun.pixels.resize(4 + 256, 3);
    rleOverrun.pixels.insert(rleOverrun.pixels.end(), {0, 1});
    Image *image = Read(rleOverrun);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixels[0], 1);
    EXPECT_EQ(image->pixels[1], 1);
    Image_Destroy(image);
    const Bytes notBmp = {'P', 'K', 3, 4};
    EXPECT_EQ(ImageBmp_Read(Save(notBmp).c_str()), nullptr);
    EXPECT_EQ(ImageBmp_Read((folder + "missing.bmp").c_str()), nullptr);
}

TEST_F(ImageBmpTest, WrittenTwentyFourBitFileReadsBackWithOpaqueAlpha)
{
    Image *image = MakeImage(3, 2, 32, [](int32_t x, int32_t y, uint8_t *p) {
        const uint8_t c[4] = {(uint8_t)(x * 80), (uint8_t)(y * 90), (uint8_t)(x + y), 17};
        memcpy(p, c, 4);
    });
    const std::string path = folder + "out.bmp";
    ASSERT_EQ(ImageBmp_Write(image, path.c_str()), image);
    FILE *f = fopen(path.c_str(), "rb");
    fseek(f, 0, SEEK_END);
    EXPECT_EQ(ftell(f), 78);
    fclose(f);
    Image *back = ImageBmp_Read(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->depth, 32);
    for (int32_t y = 0; y < 2; y++)
        for (int32_t x = 0; x < 3; x++) {
            EXPECT_EQ(memcmp(Pixel(back, x, y), Pixel(image, x, y), 3), 0);
            EXPECT_EQ(Pixel(back, x, y)[3], 255);
        }
    Image_Destroy(back);
    Image_Destroy(image);
    // A 4-bit image is written through its 16 entries by each byte's low bits.
    image = MakeImage(2, 1, 4, [](int32_t x, int32_t, uint8_t *p) { *p = (uint8_t)(0xb0 | x); });
    memset(image->palette, 0, 64);
    const uint8_t entry1[4] = {10, 20, 30, 0};
    memcpy(image->palette + 4, entry1, 4);
    ASSERT_EQ(ImageBmp_Write(image, path.c_str()), image);
    back = ImageBmp_Read(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(memcmp(Pixel(back, 1, 0), entry1, 3), 0);
    EXPECT_EQ(Pixel(back, 0, 0)[0], 0);
    Image_Destroy(back);
    Image_Destroy(image);
    EXPECT_EQ(ImageBmp_RowSize(IMAGEBMP_WINDOWS, 24, 1), 4);
    EXPECT_EQ(ImageBmp_HeadersSize(IMAGEBMP_WINDOWS), 54);
    EXPECT_EQ(ImageBmp_HeadersSize(IMAGEBMP_OS2), 26);
    EXPECT_EQ(ImageBmp_RowSize(3, 24, 1), 0);
}

TEST_F(ImageBmpTest, MutatedFilesNeverReadOutOfBounds)
{
    BmpLayout rle;
    rle.width = 5;
    rle.height = 4;
    rle.bits = 8;
    rle.compression = 1;
    rle.palette.assign(1024, 7);
    rle.pixels = {3, 1, 0, 3, 4, 5, 6, 0, 0, 0, 5, 9, 0, 0, 2, 2, 0, 1};
    BmpLayout four;
    four.width = 7;
    four.height = 3;
    four.bits = 4;
    four.palette.assign(64, 1);
    four.pixels.assign(12, 0x5a);
    uint32_t seed = 99;
    for (const BmpLayout *layout : {&rle, &four}) {
        const Bytes original = MakeBmp(*layout);
        for (int round = 0; round < 300; round++) {
            Bytes bytes = original;
            for (int k = 0; k < 1 + round % 4; k++) {
                seed = seed * 1664525u + 1013904223u;
                bytes[(seed >> 8) % bytes.size()] = (uint8_t)(seed >> 24);
            }
            Image *image = ImageBmp_Read(Save(bytes).c_str());
            if (image) Image_Destroy(image);
        }
    }
    Error_Get(nullptr);
}

}  // namespace
