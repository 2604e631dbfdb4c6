#include "gfx/toolkit/png/imagepng.h"

#include <png.h>
#include <zlib.h>

#include <fstream>
#include <iterator>

#include "tests/gfx/toolkit/image_files.h"

using namespace gfxtest;

namespace {

// What the test writer puts in a file; rows as libpng stores them (packed
// below 8 bits, big-endian at 16).
struct Png {
    int32_t width = 1, height = 1;
    int colourType = PNG_COLOR_TYPE_RGB, bitDepth = 8;
    std::vector<Bytes> rows = {};
    std::vector<png_color> palette = {};
    Bytes alphas = {};  // tRNS of a palette image
    int key = -1;       // tRNS of a grey image (-1: none)
    bool interlaced = false;
};

class ImagePngTest : public ImageFileTest {
protected:
    // The bytes of a file written by libpng's own writer.
    Bytes Encode(const Png& s)
    {
        const std::string path = folder + "whole.png";
        FILE* f = fopen(path.c_str(), "wb");
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        std::vector<png_bytep> rows;
        for (const Bytes& row : s.rows) rows.push_back(const_cast<png_bytep>(row.data()));
        if (!setjmp(png_jmpbuf(png))) {
            png_init_io(png, f);
            png_set_IHDR(png, info, (png_uint_32)s.width, (png_uint_32)s.height, s.bitDepth, s.colourType,
                         s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                         PNG_FILTER_TYPE_DEFAULT);
            if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), (int)s.palette.size());
            if (!s.alphas.empty()) png_set_tRNS(png, info, s.alphas.data(), (int)s.alphas.size(), nullptr);
            png_color_16 key = {};
            key.gray = (png_uint_16)s.key;
            if (s.key >= 0) png_set_tRNS(png, info, nullptr, 0, &key);
            png_write_info(png, info);
            png_write_image(png, rows.data());
            png_write_end(png, nullptr);
        }
        png_destroy_write_struct(&png, &info);
        fclose(f);
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    Image* Read(const Png& s) { return ImagePng_Read(Save(Encode(s)).c_str()); }
};

TEST_F(ImagePngTest, ColourTypesAndDepthsDecodeToTheirRgbaAndInterlacedFilesReadLikePlainOnes)
{
    // Palettes of up to 16 entries give depth 4, the entries past the file's
    // grey; grey becomes indices over a grey ramp (a key's entry transparent
    // up to 8 bits); 16-bit grey with a key becomes depth 32 with the alpha of
    // a full 16-bit match (0x12FF stays opaque under the key 0x1234).
    const int G = PNG_COLOR_TYPE_GRAY, P = PNG_COLOR_TYPE_PALETTE, GA = PNG_COLOR_TYPE_GRAY_ALPHA,
              RGBA = PNG_COLOR_TYPE_RGB_ALPHA;
    const std::vector<png_color> rgb = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    const struct {
        Png png;
        int32_t depth;
        std::vector<std::array<uint8_t, 4>> rgba;  // of the first pixels
    } cases[] = {
        // clang-format off
        {{.width = 4, .colourType = P, .bitDepth = 2, .rows = {{0x1b}}, .palette = rgb, .alphas = {10, 20}}, 4,
         {{255, 0, 0, 10}, {0, 255, 0, 20}, {0, 0, 255, 255}, {3, 3, 3, 255}}},
        {{.width = 4, .colourType = P, .bitDepth = 8, .rows = {{2, 0, 1, 0}}, .palette = rgb}, 8, {{0, 0, 255, 255}}},
        {{.width = 2, .colourType = G, .bitDepth = 1, .rows = {{0x80}}}, 8, {{255, 255, 255, 255}, {0, 0, 0, 255}}},
        {{.width = 2, .colourType = G, .bitDepth = 2, .rows = {{0x40}}}, 8, {{85, 85, 85, 255}, {0, 0, 0, 255}}},
        {{.width = 2, .colourType = G, .bitDepth = 4, .rows = {{0x1f}}}, 8, {{17, 17, 17, 255}, {255, 255, 255, 255}}},
        {{.width = 2, .colourType = G, .bitDepth = 8, .rows = {{200, 3}}}, 8, {{200, 200, 200, 255}, {3, 3, 3, 255}}},
        {{.width = 2, .colourType = G, .bitDepth = 16, .rows = {{0xab, 0xcd, 0x12, 0x34}}}, 8,
         {{0xab, 0xab, 0xab, 255}, {0x12, 0x12, 0x12, 255}}},
        {{.width = 2, .colourType = G, .bitDepth = 4, .rows = {{0x35}}, .key = 3}, 8,
         {{51, 51, 51, 0}, {85, 85, 85, 255}}},
        {{.width = 2, .colourType = G, .bitDepth = 8, .rows = {{0x34, 0x35}}, .key = 0x34}, 8,
         {{0x34, 0x34, 0x34, 0}, {0x35, 0x35, 0x35, 255}}},
        {{.width = 2, .colourType = G, .bitDepth = 16, .rows = {{0x12, 0x34, 0x12, 0xff}}, .key = 0x1234}, 32,
         {{0x12, 0x12, 0x12, 0}, {0x12, 0x12, 0x12, 255}}},
        {{.width = 2, .bitDepth = 8, .rows = {{4, 5, 6, 7, 8, 9}}}, 32, {{4, 5, 6, 255}, {7, 8, 9, 255}}},
        {{.width = 2, .bitDepth = 16, .rows = {{0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 1, 2, 3, 4, 5, 6}}}, 32,
         {{0x12, 0x56, 0x9a, 255}, {1, 3, 5, 255}}},
        {{.width = 2, .colourType = GA, .rows = {{90, 30, 7, 255}}}, 32, {{90, 90, 90, 30}, {7, 7, 7, 255}}},
        {{.colourType = GA, .bitDepth = 16, .rows = {{0x5a, 0x11, 0x1e, 0x22}}}, 32, {{90, 90, 90, 30}}},
        {{.width = 2, .colourType = RGBA, .rows = {{9, 8, 7, 6, 1, 2, 3, 4}}}, 32, {{9, 8, 7, 6}, {1, 2, 3, 4}}},
        // clang-format on
    };
    uint32_t seed = 3;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.png.colourType * 100 + c.png.bitDepth);
        Image* image = Read(c.png);
        ASSERT_NE(image, nullptr);
        ASSERT_EQ(image->depth, c.depth);
        for (size_t x = 0; x < c.rgba.size(); x++)
            EXPECT_EQ(memcmp(Rgba(image, (int32_t)x, 0), c.rgba[x].data(), 4), 0) << x;
        Image_Destroy(image);
        // The same kind, 9 x 7 random pixels, interlaced and not.
        Png s = c.png;
        s.width = 9, s.height = 7, s.rows.clear();
        const int channels =
            s.colourType == P ? 1 : (s.colourType & PNG_COLOR_MASK_COLOR ? 3 : 1) + (s.colourType >> 2);
        for (int y = 0; y < s.height; y++) {
            s.rows.emplace_back((9 * channels * s.bitDepth + 7) / 8);
            for (uint8_t& b : s.rows.back()) b = (uint8_t)((seed = seed * 1664525u + 1013904223u) >> 24);
            for (uint8_t& b : s.rows.back())
                b = s.colourType != P ? b : s.bitDepth == 2 ? b & 0x55 : b % 3;  // indices below 3
        }
        if (s.key >= 0) s.key = s.bitDepth == 16 ? s.rows[0][0] << 8 | s.rows[0][1] : s.rows[0][0] >> (8 - s.bitDepth);
        Image* plain = Read(s);
        s.interlaced = true;
        Image* interlaced = Read(s);
        ASSERT_TRUE(plain && interlaced);
        ASSERT_EQ(plain->depth, interlaced->depth);
        for (int y = 0; y < s.height; y++)
            EXPECT_EQ(memcmp(Pixel(plain, 0, y), Pixel(interlaced, 0, y), plain->depth == 32 ? 36 : 9), 0) << y;
        Image_Destroy(plain);
        Image_Destroy(interlaced);
    }
}

TEST_F(ImagePngTest, MissingCutCorruptAndOversizedFilesFailCleanlyBeforeAllocating)
{
    Image* empty = Image_Create(2, 2, 8);  // no pixels, no palette: nothing written
    EXPECT_EQ(ImagePng_Write(empty, (folder + "out.png").c_str()), nullptr);
    EXPECT_EQ((uint32_t)TakeError(), (uint32_t)ERR_NULL_ARGUMENT);
    Image_Destroy(empty);
    EXPECT_EQ(ImagePng_Write(nullptr, "x.png"), nullptr);
    EXPECT_EQ(ImagePng_Read(nullptr), nullptr);
    EXPECT_EQ((uint32_t)TakeError(), 0x80000016u);
    EXPECT_EQ(ImagePng_Read((folder + "missing.png").c_str()), nullptr);
    const Bytes whole = Encode({.width = 16, .height = 16, .rows = std::vector<Bytes>(16, Bytes(48, 7))});
    for (size_t length : {(size_t)0, (size_t)8, (size_t)20, (size_t)40, whole.size() - 13, whole.size() - 1})
        EXPECT_EQ(ImagePng_Read(Save(Bytes(whole.begin(), whole.begin() + (long)length)).c_str()), nullptr) << length;
    Bytes bytes = whole;
    bytes[16] = 0xff;  // width past libpng's limits, the header's CRC now wrong too
    EXPECT_EQ(ImagePng_Read(Save(bytes).c_str()), nullptr);
    // A text chunk claiming 1.8 GB right behind the header, in a file of a
    // few dozen bytes; a header of 8000 x 8000 pixels over one compressed row.
    const Bytes small = Encode({.rows = {{1, 2, 3}}});
    bytes.assign(small.begin(), small.begin() + 33);
    bytes.insert(bytes.end(), {0x6b, 0x49, 0xd2, 0x00, 't', 'E', 'X', 't', 'k', 'e', 'y', 0, 'x'});
    Bytes huge = small;
    for (size_t at : {16, 20}) huge[at + 2] = 8000 >> 8, huge[at + 3] = 8000 & 0xff;
    const uint32_t crc = (uint32_t)crc32(0, huge.data() + 12, 17);
    for (int i = 0; i < 4; i++) huge[29 + i] = (uint8_t)(crc >> (24 - 8 * i));
    for (const Bytes& claim : {bytes, huge}) {
        gfxtest::Count().largest = 0;
        EXPECT_EQ(ImagePng_Read(Save(claim).c_str()), nullptr);
        EXPECT_LT(gfxtest::Count().largest, (size_t)16 << 20);
    }
    ExpectMutationsSurvive(Encode({.width = 5,
                                   .height = 4,
                                   .colourType = PNG_COLOR_TYPE_PALETTE,
                                   .bitDepth = 2,
                                   .rows = std::vector<Bytes>(4, Bytes{0x1b, 0x40}),
                                   .palette = {{1, 2, 3}, {4, 5, 6}},
                                   .alphas = {9}}),
                           ImagePng_Read, 8);  // past the signature, so that libpng gets to the chunks
}

}  // namespace
