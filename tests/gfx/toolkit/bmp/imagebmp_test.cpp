#include "gfx/toolkit/bmp/imagebmp.h"

#include "tests/gfx/toolkit/image_files.h"

using namespace gfxtest;

namespace {

struct Bmp {
    uint32_t infoSize = 40;
    int32_t width = 1, height = 1;
    uint16_t bits = 24;
    uint32_t compression = 0, coloursUsed = 0;
    Bytes palette = {};        // as stored (3 or 4 bytes per entry)
    Bytes extraHeader = {};    // after the 40 bytes (masks, larger headers)
    int32_t pixelOffset = -1;  // -1: right after the palette
    Bytes pixels = {};
    // The bytes of the file, built field by field.
    Bytes File() const
    {
        const uint32_t headers = 14 + (infoSize == 12 ? 12 : 40) + (uint32_t)extraHeader.size();
        const uint32_t offset = pixelOffset >= 0 ? (uint32_t)pixelOffset : headers + (uint32_t)palette.size();
        Bytes b = {'B', 'M'};
        Words(b, {offset + (uint32_t)pixels.size(), 0, offset, infoSize});
        if (infoSize == 12) Words(b, {(uint32_t)width | (uint32_t)height << 16, 1u | (uint32_t)bits << 16});
        else
            Words(b,
                  {(uint32_t)width, (uint32_t)height, 1u | (uint32_t)bits << 16, compression, 0, 0, 0, coloursUsed, 0});
        for (const Bytes* part : {&extraHeader, &palette}) b.insert(b.end(), part->begin(), part->end());
        b.resize(std::max<size_t>(b.size(), offset));
        b.insert(b.end(), pixels.begin(), pixels.end());
        return b;
    }
};

Bytes Entries(int n, int size, uint8_t (*entry)(int, int))  // palette bytes: entry(i, byte)
{
    Bytes out;
    for (int i = 0; i < n * size; i++) out.push_back(entry(i / size, i % size));
    return out;
}

class ImageBmpTest : public ImageFileTest {
protected:
    Image* Read(const Bmp& bmp) { return ImageBmp_Read(Save(bmp.File()).c_str()); }
};

TEST_F(ImageBmpTest, EveryBitCountHeaderKindAndRle8StreamDecodesBottomUp)
{
    const uint8_t W = 255;
    const Bytes sixteen = Entries(16, 4, [](int i, int b) { return (uint8_t)(i == 12 && b == 2 ? 200 : 0); });
    const Bytes grey = Entries(256, 4, [](int i, int b) { return (uint8_t)(b == 2 ? i : 0); });  // red = index
    const struct {
        const char* what;
        Bmp bmp;
        int32_t depth;
        std::vector<std::array<int, 6>> seen;  // x, y and the RGBA there (through the palette below depth 32)
        std::vector<uint8_t> indices;          // below depth 32: the first row's, bottom first
    } cases[] = {
        {"1 bit, 4 entries filled black",
         {.width = 10,
          .height = 2,
          .bits = 1,
          .palette = {0, 0, 0, 0, W, W, W, 0},
          .pixels = {0xA0, 0x40, 0, 0, 0x80, 0, 0, 0}},
         4,
         {{1, 1, 0, 0, 0, W}, {9, 1, W, W, W, W}},
         {1, 0, 1, 0, 0, 0, 0, 0, 0, 1}},
        {"4 bit",
         {.width = 3, .bits = 4, .coloursUsed = 16, .palette = sixteen, .pixels = {0xC1, 0xF0, 0, 0}},
         4,
         {{0, 0, 200, 0, 0, W}},
         {12, 1, 15}},
        {"8 bit, colours used in range, the rest opaque black",
         {.width = 2, .bits = 8, .coloursUsed = 2, .palette = {0, 0, 1, 0, 0, 0, 2, 0}, .pixels = {1, 5, 0, 0}},
         8,
         {{0, 0, 2, 0, 0, W}, {1, 0, 0, 0, 0, W}},
         {1, 5}},
        {"8 bit, colours used past 256",
         {.width = 2, .bits = 8, .coloursUsed = 300, .palette = grey, .pixels = {1, 255, 0, 0}},
         8,
         {{1, 0, 255, 0, 0, W}},
         {1, 255}},
        {"core header, 3-byte entries",
         {.infoSize = 12,
          .width = 3,
          .bits = 8,
          .palette = Entries(256, 3, [](int i, int b) { return (uint8_t)(b == 0   ? i
                                                                         : b == 1 ? i / 2
                                                                                  : 7); }),
          .pixels = {3, 250, 9, 0}},
         8,
         {{1, 0, 7, 125, 250, W}},
         {3, 250, 9}},
        {"16 bit is 5:6:5", {.bits = 16, .pixels = {0xff, 0xff, 0, 0}}, 32, {{0, 0, 248, 252, 248, W}}, {}},
        {"16 bit fields with green mask 0x3e0 are 5:5:5",
         {.bits = 16,
          .compression = 3,
          .extraHeader = {0, 0x7c, 0, 0, 0xe0, 3, 0, 0, 0x1f, 0, 0, 0},
          .pixels = {0xff, 0x7f, 0, 0}},
         32,
         {{0, 0, 248, 248, 248, W}},
         {}},
        {"15 bit", {.bits = 15, .pixels = {0x1f, 0x7c, 0, 0}}, 32, {{0, 0, 248, 0, 248, W}}, {}},
        {"24 bit, compression ignored",
         {.height = 2, .compression = 7, .pixels = {1, 2, 3, 0, 4, 5, 6, 0}},
         32,
         {{0, 0, 6, 5, 4, W}, {0, 1, 3, 2, 1, W}},
         {}},
        {"32 bit behind a larger header",
         {.infoSize = 124, .bits = 32, .extraHeader = Bytes(84, 0xee), .pixels = {10, 20, 30, 40}},
         32,
         {{0, 0, 30, 20, 10, W}},
         {}},
        // RLE8: a literal with pad, a run clipped at the row, row ends; the end
        // of the bitmap on the top row keeps what the row buffer held behind it.
        {"RLE8",
         {.width = 6,
          .height = 3,
          .bits = 8,
          .compression = 1,
          .palette = grey,
          .pixels = {3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 9, 4, 0, 0, 2, 5, 0, 1}},
         8,
         {{0, 1, 4, 0, 0, W}, {0, 0, 5, 0, 0, W}, {2, 0, 4, 0, 0, W}},
         {7, 7, 7, 1, 2, 3}},
        {"RLE8 ending on the middle row",
         {.width = 6,
          .height = 3,
          .bits = 8,
          .compression = 1,
          .palette = grey,
          .pixels = {3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 2, 5, 0, 1}},
         8,
         {{0, 1, 5, 0, 0, W}, {2, 1, 7, 0, 0, W}, {5, 1, 3, 0, 0, W}},
         {7, 7, 7, 1, 2, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Image* image = Read(c.bmp);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->depth, c.depth);
        for (const auto& e : c.seen)
            EXPECT_EQ(std::vector<int>(Rgba(image, e[0], e[1]), Rgba(image, e[0], e[1]) + 4),
                      std::vector<int>(e.begin() + 2, e.end()))
                << e[0] << "," << e[1];
        const int32_t bottom = image->height - 1;
        for (size_t x = 0; x < c.indices.size(); x++) EXPECT_EQ(*Pixel(image, (int32_t)x, bottom), c.indices[x]) << x;
        Image_Destroy(image);
    }
    // A run and a literal far past a 2-pixel row are clipped to it.
    Bmp overrun = {.width = 2, .bits = 8, .compression = 1, .palette = grey, .pixels = {255, 1, 0, 255}};
    overrun.pixels.resize(4 + 256, 3);
    overrun.pixels.insert(overrun.pixels.end(), {0, 1});
    Image* image = Read(overrun);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(*Pixel(image, 1, 0), 1);
    Image_Destroy(image);
}

TEST_F(ImageBmpTest, RefusedKindsAndMalformedFilesFailCleanlyWithoutAskingForTheMemoryTheyClaim)
{
    const Bytes none(1024, 0), rows(48, 9);
    const struct {
        const char* what;
        Bmp bmp;
        uint32_t code;
    } cases[] = {
        {"RLE4", {.bits = 4, .compression = 2, .palette = Bytes(64, 0), .pixels = {0, 0, 0, 0}}, 0x80000009u},
        {"top-down", {.height = -1, .pixels = {1, 2, 3, 0}}, 0x80000009u},
        {"palette behind a larger header",
         {.infoSize = 108, .bits = 8, .palette = none, .extraHeader = Bytes(68, 0), .pixels = {0, 0, 0, 0}},
         0x80000009u},
        {"RLE8 delta", {.bits = 8, .compression = 1, .palette = none, .pixels = {0, 2, 1, 1}}, 0x80000009u},
        {"12 bits", {.bits = 12, .pixels = {0, 0, 0, 0}}, 0x80000008u},
        {"pixels overlapping the palette",
         {.bits = 8, .palette = none, .pixelOffset = 100, .pixels = {0, 0, 0, 0}},
         0x80000009u},
        {"huge", {.width = 100000, .height = 100000, .pixels = rows}, 0x80000013u},
        {"rows past the file", {.width = 8000, .height = 8000, .pixels = rows}, ERR_END_OF_STREAM},
        {"header past the file", {.infoSize = 0x7fffffff, .width = 4, .height = 4, .pixels = rows}, 0},
        {"header within the limits past the file", {.infoSize = 188, .width = 4, .height = 4, .pixels = rows}, 0},
    };
    for (const auto& c : cases) {
        gfxtest::Count().largest = 0;
        Error_Get(nullptr);
        EXPECT_EQ(Read(c.bmp), nullptr) << c.what;
        EXPECT_TRUE(!c.code || (uint32_t)TakeError() == c.code) << c.what;
        EXPECT_LT(gfxtest::Count().largest, (size_t)1 << 20) << c.what;
    }
    const Bytes whole = Bmp{.width = 4, .height = 4, .pixels = rows}.File();
    for (size_t length = 0; length < whole.size(); length++)  // every truncation, without reading past the data
        EXPECT_EQ(ImageBmp_Read(Save(Bytes(whole.begin(), whole.begin() + (long)length)).c_str()), nullptr) << length;
    Bytes pixelsPastFile = whole;
    pixelsPastFile[10] = (uint8_t)(whole.size() - 4);  // the rows would start in the last row's bytes
    EXPECT_EQ(ImageBmp_Read(Save(pixelsPastFile).c_str()), nullptr);
    EXPECT_EQ(ImageBmp_Read(Save({'P', 'K', 3, 4}).c_str()), nullptr);
    EXPECT_EQ(ImageBmp_Read((folder + "missing.bmp").c_str()), nullptr);
    ExpectMutationsSurvive(Bmp{.width = 5,
                               .height = 4,
                               .bits = 8,
                               .compression = 1,
                               .palette = Bytes(1024, 7),
                               .pixels = {3, 1, 0, 3, 4, 5, 6, 0, 0, 0, 5, 9, 0, 0, 2, 2, 0, 1}}
                               .File(),
                           ImageBmp_Read, 0);
    ExpectMutationsSurvive(
        Bmp{.width = 7, .height = 3, .bits = 4, .palette = Bytes(64, 1), .pixels = Bytes(12, 0x5a)}.File(),
        ImageBmp_Read, 0);
}

TEST_F(ImageBmpTest, WrittenImagesReadBackAsTwentyFourBitsWithOpaqueAlpha)
{
    const std::string path = folder + "out.bmp";
    Image* image = MakeImage(3, 2, 32, [](int32_t x, int32_t y, uint8_t* p) {
        p[0] = (uint8_t)(x * 80), p[1] = (uint8_t)(y * 90), p[2] = (uint8_t)(x + y), p[3] = 17;
    });
    ASSERT_EQ(ImageBmp_Write(image, path.c_str()), image);
    EXPECT_EQ(std::filesystem::file_size(path), 78u);
    Image* back = ImageBmp_Read(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->depth, 32);
    for (int32_t i = 0; i < 6; i++) {
        EXPECT_EQ(memcmp(Rgba(back, i % 3, i / 3), Rgba(image, i % 3, i / 3), 3), 0) << i;
        EXPECT_EQ(Rgba(back, i % 3, i / 3)[3], 255);
    }
    Image_Destroy(back);
    Image_Destroy(image);
    // A 4-bit image is written through its 16 entries by each byte's low bits.
    image = MakeImage(2, 1, 4, [](int32_t x, int32_t, uint8_t* p) { *p = (uint8_t)(0xb0 | x); });
    memset(image->palette, 0, 64);
    const uint8_t entry1[4] = {10, 20, 30, 255};
    memcpy(image->palette + 4, entry1, 4);
    ASSERT_EQ(ImageBmp_Write(image, path.c_str()), image);
    back = ImageBmp_Read(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(memcmp(Rgba(back, 1, 0), entry1, 4), 0);
    EXPECT_EQ(Rgba(back, 0, 0)[0], 0);
    Image_Destroy(back);
    Image_Destroy(image);
    EXPECT_EQ(ImageBmp_RowSize(3, 24, 1), 0);  // an unknown header kind
}

}  // namespace
