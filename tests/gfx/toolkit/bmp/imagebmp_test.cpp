#include "gfx/toolkit/bmp/imagebmp.h"

#include "tests/gfx/toolkit/image_files.h"

using namespace gfxtest;

namespace {

// A BMP file built field by field.
struct Bmp {
    uint32_t info = 40;  // info header size (12: the core header)
    int32_t w = 1, h = 1;
    uint16_t bits = 24;
    uint32_t compression = 0, used = 0;  // colours used
    Bytes palette = {};                  // as stored (3 or 4 bytes per entry)
    Bytes extra = {};                    // after the 40-byte header (masks, larger headers)
    int32_t at = -1;                     // the pixels' offset; -1: right after the palette
    Bytes px = {};
    Bytes File() const
    {
        const uint32_t offset =
            at >= 0 ? (uint32_t)at : 14 + (info == 12 ? 12 : 40) + (uint32_t)(extra.size() + palette.size());
        Bytes b = {'B', 'M'};
        Words(b, {offset + (uint32_t)px.size(), 0, offset, info});
        if (info == 12) Words(b, {(uint32_t)w | (uint32_t)h << 16, 1u | (uint32_t)bits << 16});
        else Words(b, {(uint32_t)w, (uint32_t)h, 1u | (uint32_t)bits << 16, compression, 0, 0, 0, used, 0});
        for (const Bytes* part : {&extra, &palette}) b.insert(b.end(), part->begin(), part->end());
        b.resize(std::max<size_t>(b.size(), offset));
        b.insert(b.end(), px.begin(), px.end());
        return b;
    }
};

class ImageBmpTest : public ImageFileTest {
protected:
    Image* Read(const Bmp& bmp) { return ImageBmp_Read(Save(bmp.File()).c_str()); }
};

TEST_F(ImageBmpTest, EveryBitCountHeaderKindAndRle8StreamDecodesBottomUp)
{
    Bytes sixteen(64, 0), ramp, core;  // entry 12 red 200; red = index; B = index, G = index / 2, R = 7
    sixteen[4 * 12 + 2] = 200;
    for (int i = 0; i < 256; i++)
        ramp.insert(ramp.end(), {0, 0, (uint8_t)i, 0}), core.insert(core.end(), {(uint8_t)i, (uint8_t)(i / 2), 7});
    const struct {
        const char* what;
        Bmp bmp;
        std::vector<std::array<uint32_t, 3>> seen;  // x, y and the 0xRRGGBBAA there (through any palette)
        std::vector<uint8_t> indices;               // below depth 32, of the bottom row
    } cases[] = {
        // clang-format off
        {"1 bit, 4 entries filled black", {.w = 10, .h = 2, .bits = 1, .palette = {0, 0, 0, 0, 255, 255, 255, 0},
          .px = {0xA0, 0x40, 0, 0, 0x80, 0, 0, 0}}, {{1, 1, 0xff}, {0, 0, 0xffffffff}}, {1, 0, 1, 0, 0, 0, 0, 0, 0, 1}},
        {"4 bit", {.w = 3, .bits = 4, .used = 16, .palette = sixteen, .px = {0xC1, 0xF0, 0, 0}},
          {{0, 0, 0xc80000ff}}, {12, 1, 15}},
        {"8 bit, 2 colours used, the rest opaque black", {.w = 2, .bits = 8, .used = 2,
          .palette = {0, 0, 1, 0, 0, 0, 2, 0}, .px = {1, 5, 0, 0}}, {{0, 0, 0x020000ff}, {1, 0, 0xff}}, {1, 5}},
        {"8 bit, colours used past 256", {.w = 2, .bits = 8, .used = 300, .palette = ramp, .px = {1, 255, 0, 0}},
          {{1, 0, 0xff0000ff}}, {1, 255}},
        {"core header, 3-byte entries", {.info = 12, .w = 3, .bits = 8, .palette = core, .px = {3, 250, 9, 0}},
          {{1, 0, 0x077dfaff}}, {3, 250, 9}},
        {"16 bit is 5:6:5", {.bits = 16, .px = {0xff, 0xff, 0, 0}}, {{0, 0, 0xf8fcf8ff}}, {}},
        {"16 bit fields with green mask 0x3e0 are 5:5:5", {.bits = 16, .compression = 3,
          .extra = {0, 0x7c, 0, 0, 0xe0, 3, 0, 0, 0x1f, 0, 0, 0}, .px = {0xff, 0x7f, 0, 0}}, {{0, 0, 0xf8f8f8ff}}, {}},
        {"15 bit", {.bits = 15, .px = {0x1f, 0x7c, 0, 0}}, {{0, 0, 0xf800f8ff}}, {}},
        {"24 bit, compression ignored", {.h = 2, .compression = 7, .px = {1, 2, 3, 0, 4, 5, 6, 0}},
          {{0, 0, 0x060504ff}, {0, 1, 0x030201ff}}, {}},
        {"32 bit behind a larger header", {.info = 124, .bits = 32, .extra = Bytes(84, 0xee), .px = {10, 20, 30, 40}},
          {{0, 0, 0x1e140aff}}, {}},
        // A literal with pad, a run clipped at the row, row ends; the end of
        // the bitmap keeps what the row buffer held behind it.
        {"RLE8", {.w = 6, .h = 3, .bits = 8, .compression = 1, .palette = ramp,
          .px = {3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 9, 4, 0, 0, 2, 5, 0, 1}},
          {{0, 1, 0x040000ff}, {0, 0, 0x050000ff}, {2, 0, 0x040000ff}}, {7, 7, 7, 1, 2, 3}},
        {"RLE8 ending on the middle row", {.w = 6, .h = 3, .bits = 8, .compression = 1, .palette = ramp,
          .px = {3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 2, 5, 0, 1}},
          {{0, 1, 0x050000ff}, {2, 1, 0x070000ff}, {5, 1, 0x030000ff}}, {7, 7, 7, 1, 2, 3}},
        {"RLE8 runs and literals far past a 2-pixel row", {.w = 2, .bits = 8, .compression = 1, .palette = ramp,
          .px = {255, 1, 0, 255}}, {}, {1, 1}},
        // clang-format on
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.what);
        if (c.bmp.w == 2 && c.bmp.compression) c.bmp.px.resize(4 + 256, 3), c.bmp.px.insert(c.bmp.px.end(), {0, 1});
        Image* image = Read(c.bmp);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->depth, c.bmp.bits > 8 ? 32 : c.bmp.bits > 4 ? 8 : 4);
        for (const auto& e : c.seen) EXPECT_EQ(RgbaWord(image, e[0], e[1]), e[2]) << e[0] << "," << e[1];
        for (size_t x = 0; x < c.indices.size(); x++)
            EXPECT_EQ(*Pixel(image, (int32_t)x, image->height - 1), c.indices[x]) << x;
        Image_Destroy(image);
    }
}

TEST_F(ImageBmpTest, RefusedKindsAndMalformedFilesFailCleanlyWithoutAskingForTheMemoryTheyClaim)
{
    const Bytes none(1024, 0), rows(48, 9), pixel(4, 0);
    const struct {
        const char* what;
        Bmp bmp;
        uint32_t code;
    } cases[] = {
        // clang-format off
        {"RLE4", {.bits = 4, .compression = 2, .palette = Bytes(64, 0), .px = pixel}, 0x80000009u},
        {"top-down", {.h = -1, .px = pixel}, 0x80000009u},
        {"palette behind a larger header", {.info = 108, .bits = 8, .palette = none, .extra = Bytes(68, 0),
          .px = pixel}, 0x80000009u},
        {"RLE8 delta", {.bits = 8, .compression = 1, .palette = none, .px = {0, 2, 1, 1}}, 0x80000009u},
        {"12 bits", {.bits = 12, .px = pixel}, 0x80000008u},
        {"pixels overlapping the palette", {.bits = 8, .palette = none, .at = 100, .px = pixel}, 0x80000009u},
        {"huge", {.w = 100000, .h = 100000, .px = rows}, 0x80000013u},
        {"rows past the file", {.w = 8000, .h = 8000, .px = rows}, ERR_END_OF_STREAM},
        {"header past the file", {.info = 0x7fffffff, .w = 4, .h = 4, .px = rows}, 0},
        {"header within the limits past the file", {.info = 188, .w = 4, .h = 4, .px = rows}, 0},
        // clang-format on
    };
    for (const auto& c : cases) {
        gfxtest::Count().largest = 0;
        Error_Get(nullptr);
        EXPECT_EQ(Read(c.bmp), nullptr) << c.what;
        EXPECT_TRUE(!c.code || (uint32_t)TakeError() == c.code) << c.what;
        EXPECT_LT(gfxtest::Count().largest, (size_t)1 << 20) << c.what;
    }
    const Bytes whole = Bmp{.w = 4, .h = 4, .px = rows}.File();
    for (size_t length = 0; length < whole.size(); length++)  // every truncation, without reading past the data
        EXPECT_EQ(ImageBmp_Read(Save(Bytes(whole.begin(), whole.begin() + (long)length)).c_str()), nullptr) << length;
    Bytes pastFile = whole;
    pastFile[10] = (uint8_t)(whole.size() - 4);  // the rows would start in the last row's bytes
    for (const Bytes& bad : {pastFile, Bytes{'P', 'K', 3, 4}}) EXPECT_EQ(ImageBmp_Read(Save(bad).c_str()), nullptr);
    EXPECT_EQ(ImageBmp_Read((folder + "missing.bmp").c_str()), nullptr);
    const Bytes rle = {3, 1, 0, 3, 4, 5, 6, 0, 0, 0, 5, 9, 0, 0, 2, 2, 0, 1};
    ExpectMutationsSurvive(
        Bmp{.w = 5, .h = 4, .bits = 8, .compression = 1, .palette = Bytes(1024, 7), .px = rle}.File(), ImageBmp_Read,
        0);
    ExpectMutationsSurvive(Bmp{.w = 7, .h = 3, .bits = 4, .palette = Bytes(64, 1), .px = Bytes(12, 0x5a)}.File(),
                           ImageBmp_Read, 0);
}

TEST_F(ImageBmpTest, WrittenImagesReadBackAsTwentyFourBitsWithOpaqueAlpha)
{
    const std::string path = folder + "out.bmp";
    Image* image = MakeImage(3, 2, 32, [](int32_t x, int32_t y, uint8_t* p) {
        Bytes_StoreU32(p, 0x11000000u | (x + y) << 16 | y * 90 << 8 | x * 80);
    });
    Image* four = MakeImage(2, 1, 4, [](int32_t x, int32_t, uint8_t* p) { *p = (uint8_t)(0xb0 | x); });
    memset(four->palette, 0, 64);
    Bytes_StoreU32(four->palette + 4, 0xff1e140a);  // written through its 16 entries by each byte's low bits
    for (Image* written : {image, four}) {
        ASSERT_EQ(ImageBmp_Write(written, path.c_str()), written);
        EXPECT_EQ(std::filesystem::file_size(path), written == image ? 78u : 62u);
        Image* back = ImageBmp_Read(path.c_str());
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->depth, 32);
        for (int32_t i = 0; i < written->width * written->height; i++) {
            const int32_t x = i % written->width, y = i / written->width;
            const uint8_t* want = written == four ? four->palette + 4 * (*Pixel(four, x, y) & 15) : Rgba(written, x, y);
            EXPECT_EQ(RgbaWord(back, x, y), (uint32_t)want[0] << 24 | want[1] << 16 | want[2] << 8 | 255) << i;
        }
        Image_Destroy(back);
        Image_Destroy(written);
    }
    EXPECT_EQ(ImageBmp_HeadersSize(IMAGEBMP_OS2) + ImageBmp_HeadersSize(IMAGEBMP_WINDOWS) + ImageBmp_RowSize(3, 24, 1),
              26 + 54);  // an unknown kind has no rows
}

}  // namespace
