// Harness of the image file readers' tests: the layers' harness with a
// scratch folder for the files, pixel access and a mutation loop.
#pragma once

#include <filesystem>
#include <string>

#include "gfx/core/image.h"
#include "tests/gfx/layer_fixture.h"

class ImageFileTest : public WorldTest {
protected:
    std::string folder;
    void SetUp() override
    {
        WorldTest::SetUp();
        folder = TestTmp().string() + "/image_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        std::filesystem::create_directories(folder);
    }
    // Writes bytes to folder/name; the path.
    std::string Save(const gfxtest::Bytes& bytes, const char* name = "t")
    {
        const std::string path = folder + name;
        FILE* f = fopen(path.c_str(), "wb");
        if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        return path;
    }
    // Where pixel (x, y) starts (four bytes at depth 32, one below), and its
    // RGBA (through the palette below depth 32).
    static uint8_t* Pixel(const Image* image, int32_t x, int32_t y)
    {
        return image->pixels + (size_t)y * image->stride + (image->depth == 32 ? 4 * x : x);
    }
    static const uint8_t* Rgba(const Image* image, int32_t x, int32_t y)
    {
        return image->depth == 32 ? Pixel(image, x, y) : image->palette + 4 * *Pixel(image, x, y);
    }
    static uint32_t RgbaWord(const Image* image, int32_t x, int32_t y)  // 0xRRGGBBAA
    {
        const uint8_t* p = Rgba(image, x, y);
        return (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3];
    }
    // A new image with owned pixels, filled by fill(x, y, pixel).
    template <typename Fill>
    static Image* MakeImage(int32_t w, int32_t h, int32_t depth, Fill fill)
    {
        Image* image = Image_Create(w, h, depth);
        Image_AllocatePixels(image);
        for (int32_t y = 0; y < h; y++)
            for (int32_t x = 0; x < w; x++) fill(x, y, Pixel(image, x, y));
        return image;
    }
    // 300 copies of good with one to four random bytes changed from `from`
    // on: each read fails or reads, never past its data (the sanitizer build
    // watches).
    template <typename Read>
    void ExpectMutationsSurvive(const gfxtest::Bytes& good, Read read, size_t from)
    {
        uint32_t seed = 99;
        for (int round = 0; round < 300; round++) {
            gfxtest::Bytes bytes = good;
            for (int k = 0; k < 1 + round % 4; k++) {
                seed = seed * 1664525u + 1013904223u;
                bytes[from + (seed >> 8) % (bytes.size() - from)] = (uint8_t)(seed >> 24);
            }
            if (Image* image = read(Save(bytes).c_str())) Image_Destroy(image);
        }
        Error_Get(nullptr);
    }
};
