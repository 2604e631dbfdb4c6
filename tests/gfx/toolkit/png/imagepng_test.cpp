#include "gfx/toolkit/png/imagepng.h"

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/gfx/core/image_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

// What the test writer puts in a file; rows are given as libpng stores them
// (packed below 8 bits, big-endian at 16).
struct PngLayout {
    int32_t width = 1;
    int32_t height = 1;
    int colourType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<Bytes> rows;
    std::vector<png_color> palette;
    Bytes alphas;             // tRNS of a palette image
    bool hasKey = false;      // tRNS of a grey image
    png_color_16 key = {};
};

// A test-only PNG writer over libpng's write API.
bool WritePng(const std::string &path, const PngLayout &s)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows;
    for (const Bytes &row : s.rows) rows.push_back(const_cast<png_bytep>(row.data()));
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, (png_uint_32)s.width, (png_uint_32)s.height, s.bitDepth, s.colourType,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), (int)s.palette.size());
    if (!s.alphas.empty()) png_set_tRNS(png, info, s.alphas.data(), (int)s.alphas.size(), nullptr);
    if (s.hasKey) png_set_tRNS(png, info, nullptr, 0, &s.key);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return true;
}

class ImagePngTest : public ImageEngineTest {
protected:
    std::string folder;
    void SetUp() override
    {
        ImageEngineTest::SetUp();
        folder = imagetest::TestFolder();
    }
    std::string Save(const Bytes &bytes, const char *name) { return imagetest::WriteBytes(folder + name, bytes); }
    // The bytes of a file written from the layout.
    Bytes Encode(const PngLayout &layout)
    {
        const std::string path = folder + "whole.png";
        EXPECT_TRUE(WritePng(path, layout));
        FILE *f = fopen(path.c_str(), "rb");
        Bytes whole(4096);
        whole.resize(fread(whole.data(), 1, whole.size(), f));
        fclose(f);
        return whole;
    }
    Image *Read(const PngLayout &layout)
    {
        const std::string path = folder + "t.png";
        EXPECT_TRUE(WritePng(path, layout));
        return ImagePng_Read(path.c_str());
    }
};

TEST_F(ImagePngTest, SmallPaletteBecomesDepthFourWithGreyEntriesBeyondTheFilesPalette)
{
    PngLayout s;
    s.width = 4;
    s.colourType = PNG_COLOR_TYPE_PALETTE;
    s.bitDepth = 2;
    s.palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    s.alphas = {10, 20};
    s.rows = {{0x1b}};  // indices 0 1 2 3
    Image *image = Read(s);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->depth, 4);
    for (int x = 0; x < 4; x++) EXPECT_EQ(image->pixels[x], x);
    const uint8_t red[4] = {255, 0, 0, 10}, green[4] = {0, 255, 0, 20}, blue[4] = {0, 0, 255, 255},
                  grey[4] = {9, 9, 9, 255};
    EXPECT_EQ(memcmp(image->palette, red, 4), 0);
    EXPECT_EQ(memcmp(image->palette + 4, green, 4), 0);
    EXPECT_EQ(memcmp(image->palette + 8, blue, 4), 0);
    EXPECT_EQ(memcmp(image->palette + 36, grey, 4), 0);
    Image_Destroy(image);
    s.bitDepth = 8;
    s.rows = {{2, 0, 1, 0}};
    image = Read(s);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->depth, 8);
    EXPECT_EQ(image->pixels[0], 2);
    Image_Destroy(image);
}

TEST_F(ImagePngTest, ColourTypesAndDepthsDecodeToTheirRgba)
{
    // Grey becomes indices over a grey ramp (a key's entry transparent up to
    // 8 bits); 16-bit grey with a key becomes depth 32 with the alpha of a
    // full 16-bit match, so 0x12FF stays opaque under the key 0x1234. Rows
    // hold two pixels; RGBA is read through the palette below depth 32.
    const int G = PNG_COLOR_TYPE_GRAY;
    const struct {
        int colourType, bits;
        Bytes row;
        int key;  // grey tRNS key, -1 for none
        int32_t depth;
        uint8_t rgba[2][4];
    } cases[] = {
        {G, 1, {0x80}, -1, 8, {{255, 255, 255, 255}, {0, 0, 0, 255}}},
        {G, 2, {0x40}, -1, 8, {{85, 85, 85, 255}, {0, 0, 0, 255}}},
        {G, 4, {0x1f}, -1, 8, {{17, 17, 17, 255}, {255, 255, 255, 255}}},
        {G, 8, {200, 3}, -1, 8, {{200, 200, 200, 255}, {3, 3, 3, 255}}},
        {G, 16, {0xab, 0xcd, 0x12, 0x34}, -1, 8, {{0xab, 0xab, 0xab, 255}, {0x12, 0x12, 0x12, 255}}},
        {G, 4, {0x35}, 3, 8, {{51, 51, 51, 0}, {85, 85, 85, 255}}},
        {G, 8, {0x34, 0x35}, 0x34, 8, {{0x34, 0x34, 0x34, 0}, {0x35, 0x35, 0x35, 255}}},
        {G, 16, {0x12, 0x34, 0x12, 0xff}, 0x1234, 32, {{0x12, 0x12, 0x12, 0}, {0x12, 0x12, 0x12, 255}}},
        {G, 16, {0x12, 0xff, 0x12, 0x34}, 0x1234, 32, {{0x12, 0x12, 0x12, 255}, {0x12, 0x12, 0x12, 0}}},
        {PNG_COLOR_TYPE_RGB, 8, {4, 5, 6, 7, 8, 9}, -1, 32, {{4, 5, 6, 255}, {7, 8, 9, 255}}},
        {PNG_COLOR_TYPE_RGB, 16, {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 1, 2, 3, 4, 5, 6}, -1, 32,
         {{0x12, 0x56, 0x9a, 255}, {1, 3, 5, 255}}},
        {PNG_COLOR_TYPE_GRAY_ALPHA, 8, {90, 30, 7, 255}, -1, 32, {{90, 90, 90, 30}, {7, 7, 7, 255}}},
        {PNG_COLOR_TYPE_RGB_ALPHA, 8, {9, 8, 7, 6, 1, 2, 3, 4}, -1, 32, {{9, 8, 7, 6}, {1, 2, 3, 4}}},
    };
    for (const auto &c : cases) {
        PngLayout s;
        s.width = 2;
        s.colourType = c.colourType;
        s.bitDepth = c.bits;
        s.hasKey = c.key >= 0;
        s.key.gray = (uint16_t)c.key;
        s.rows = {c.row};
        Image *image = Read(s);
        ASSERT_NE(image, nullptr) << c.colourType << "/" << c.bits;
        ASSERT_EQ(image->depth, c.depth) << c.colourType << "/" << c.bits;
        for (int x = 0; x < 2; x++) {
            const uint8_t *p = c.depth == 32 ? Pixel(image, x, 0) : image->palette + 4 * *Pixel(image, x, 0);
            EXPECT_EQ(memcmp(p, c.rgba[x], 4), 0) << c.colourType << "/" << c.bits << " key " << c.key << " pixel " << x;
        }
        Image_Destroy(image);
    }
}

TEST_F(ImagePngTest, InterlacedFilesOfEveryColourTypeReadLikePlainOnes)
{
    const struct {
        int colourType, bitDepth, channels;
        bool key;
    } cases[] = {{PNG_COLOR_TYPE_GRAY, 2, 1, false},       {PNG_COLOR_TYPE_GRAY, 8, 1, true},
                 {PNG_COLOR_TYPE_GRAY, 16, 1, true},       {PNG_COLOR_TYPE_PALETTE, 4, 1, false},
                 {PNG_COLOR_TYPE_PALETTE, 8, 1, false},    {PNG_COLOR_TYPE_RGB, 8, 3, false},
                 {PNG_COLOR_TYPE_RGB, 16, 3, false},       {PNG_COLOR_TYPE_GRAY_ALPHA, 8, 2, false},
                 {PNG_COLOR_TYPE_GRAY_ALPHA, 16, 2, false}, {PNG_COLOR_TYPE_RGB_ALPHA, 8, 4, false}};
    uint32_t seed = 3;
    for (const auto &c : cases) {
        PngLayout s;
        s.width = 9;
        s.height = 7;
        s.colourType = c.colourType;
        s.bitDepth = c.bitDepth;
        const size_t rowBytes = ((size_t)s.width * c.channels * c.bitDepth + 7) / 8;
        for (int y = 0; y < s.height; y++) {
            Bytes row(rowBytes);
            for (uint8_t &b : row) b = (uint8_t)((seed = seed * 1664525u + 1013904223u) >> 24);
            s.rows.push_back(row);
        }
        if (c.colourType == PNG_COLOR_TYPE_PALETTE)
            for (int i = 0; i < (1 << c.bitDepth); i++) s.palette.push_back({(uint8_t)i, (uint8_t)(i * 7), 9});
        s.hasKey = c.key;
        s.key.gray = c.bitDepth == 16 ? (uint16_t)(s.rows[0][0] << 8 | s.rows[0][1]) : s.rows[0][0];
        Image *plain = Read(s);
        s.interlaced = true;
        Image *interlaced = Read(s);
        ASSERT_NE(plain, nullptr) << c.colourType << "/" << c.bitDepth;
        ASSERT_NE(interlaced, nullptr) << c.colourType << "/" << c.bitDepth;
        ASSERT_EQ(plain->depth, interlaced->depth);
        for (int y = 0; y < s.height; y++)
            EXPECT_EQ(memcmp(Pixel(plain, 0, y), Pixel(interlaced, 0, y), (size_t)(plain->depth == 32 ? 36 : 9)), 0)
                << c.colourType << "/" << c.bitDepth << " row " << y;
        Image_Destroy(plain);
        Image_Destroy(interlaced);
    }
}

TEST_F(ImagePngTest, WrittenImagesReadBackEqual)
{
    for (int32_t depth : {4, 8, 32}) {
        Image *image = MakeImage(5, 3, depth, [depth](int32_t x, int32_t y, uint8_t *p) {
            if (depth == 32) {
                const uint8_t c[4] = {(uint8_t)x, (uint8_t)y, (uint8_t)(x * y), (uint8_t)(100 + x)};
                memcpy(p, c, 4);
            } else {
                *p = (uint8_t)((x + 5 * y) % (depth == 4 ? 16 : 256));
            }
        });
        if (image->palette)
            for (int i = 0; i < (1 << depth); i++) {
                const uint8_t e[4] = {(uint8_t)i, (uint8_t)(255 - i), (uint8_t)(i * 3), (uint8_t)(i * 7)};
                memcpy(image->palette + 4 * i, e, 4);
            }
        const std::string path = folder + "out" + std::to_string(depth) + ".png";
        ASSERT_EQ(ImagePng_Write(image, path.c_str()), image);
        Image *back = ImagePng_Read(path.c_str());
        ASSERT_NE(back, nullptr) << depth;
        EXPECT_EQ(back->depth, depth);
        for (int32_t y = 0; y < 3; y++)
            EXPECT_EQ(memcmp(Pixel(back, 0, y), Pixel(image, 0, y), depth == 32 ? 20 : 5), 0) << depth;
        if (image->palette) {
            EXPECT_EQ(memcmp(back->palette, image->palette, 4u << depth), 0);
        }
        Image_Destroy(back);
        Image_Destroy(image);
    }
    EXPECT_EQ(ImagePng_Write(nullptr, "x.png"), nullptr);
}

TEST_F(ImagePngTest, MissingTruncatedAndForeignFilesFailCleanly)
{
    EXPECT_EQ(ImagePng_Read(nullptr), nullptr);
    EXPECT_EQ(TakeError(), 0x80000016u);
    EXPECT_EQ(ImagePng_Read((folder + "missing.png").c_str()), nullptr);
    PngLayout s;
    s.width = 16;
    s.height = 16;
    s.rows.assign(16, Bytes(48, 7));
    const Bytes whole = Encode(s);
    for (size_t length : {(size_t)0, (size_t)8, (size_t)20, (size_t)40, whole.size() - 13, whole.size() - 1}) {
        const Bytes cut(whole.begin(), whole.begin() + (long)length);
        EXPECT_EQ(ImagePng_Read(Save(cut, "cut.png").c_str()), nullptr) << length;
    }
    Bytes corrupt = whole;
    corrupt[16] = 0xff;  // width past libpng's limits, the header's CRC now wrong too
    EXPECT_EQ(ImagePng_Read(Save(corrupt, "bad.png").c_str()), nullptr);
    Error_Get(nullptr);
}

TEST_F(ImagePngTest, ChunkLengthsPastTheReadersBoundsAreRefusedBeforeAllocating)
{
    PngLayout s;
    s.rows = {{1, 2, 3}};
    const Bytes whole = Encode(s);
    // A text chunk claiming 1.8 GB right behind the header, in a file of a
    // few dozen bytes.
    Bytes bytes(whole.begin(), whole.begin() + 33);
    const uint8_t text[] = {0x6b, 0x49, 0xd2, 0x00, 't', 'E', 'X', 't', 'k', 'e', 'y', 0, 'x'};
    bytes.insert(bytes.end(), text, text + sizeof text);
    EXPECT_EQ(ImagePng_Read(Save(bytes, "text.png").c_str()), nullptr);
    EXPECT_LT(imagetest::g_largest, (size_t)16 << 20);
    // A header of 8000 x 8000 pixels over one compressed row: more than the
    // file could inflate to.
    bytes = whole;
    for (size_t at : {16, 20}) bytes[at + 2] = 8000 >> 8, bytes[at + 3] = 8000 & 0xff;
    const uint32_t crc = (uint32_t)crc32(0, bytes.data() + 12, 17);
    for (int i = 0; i < 4; i++) bytes[29 + i] = (uint8_t)(crc >> (24 - 8 * i));
    imagetest::g_largest = 0;
    EXPECT_EQ(ImagePng_Read(Save(bytes, "tall.png").c_str()), nullptr);
    EXPECT_LT(imagetest::g_largest, (size_t)16 << 20);
    Error_Get(nullptr);
}

TEST_F(ImagePngTest, MutatedFilesFailOrReadWithoutOverruns)
{
    PngLayout s;
    s.width = 5;
    s.height = 4;
    s.colourType = PNG_COLOR_TYPE_PALETTE;
    s.bitDepth = 2;
    s.palette = {{1, 2, 3}, {4, 5, 6}};
    s.alphas = {9};
    s.rows.assign(4, Bytes{0x1b, 0x40});
    const Bytes whole = Encode(s);
    uint32_t seed = 7;
    for (int round = 0; round < 200; round++) {
        Bytes bytes = whole;
        seed = seed * 1664525u + 1013904223u;
        // Past the signature, so that libpng gets to the chunks.
        bytes[8 + (seed >> 8) % (bytes.size() - 8)] ^= (uint8_t)(1 + (seed >> 24) % 255);
        Image *image = ImagePng_Read(Save(bytes, "mutated.png").c_str());
        if (image) Image_Destroy(image);
    }
    Error_Get(nullptr);
}

}  // namespace
