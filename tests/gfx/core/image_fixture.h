// Test harness for the image, raster and texture modules: an engine started
// on a recording driver, with an allocator that can be told to fail.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/image.h"
#include "tests/test_env.h"

namespace imagetest {

// Allocations fail while failAfter reaches 0 (-1: never).
inline int g_failAfter = -1;
inline bool ShouldFail()
{
    if (g_failAfter < 0) return false;
    if (g_failAfter == 0) return true;
    g_failAfter--;
    return false;
}
// The largest single request since the engine started (0 at SetUp).
inline size_t g_largest = 0;
inline bool Refuse(size_t size)
{
    if (size > g_largest) g_largest = size;
    return ShouldFail();
}
inline void *Alloc(size_t size) { return Refuse(size) ? nullptr : malloc(size); }
inline void Free(void *block) { free(block); }
inline void *Realloc(void *block, size_t size) { return Refuse(size) ? nullptr : realloc(block, size); }
inline void *Calloc(size_t count, size_t size) { return Refuse(count * size) ? nullptr : calloc(count, size); }

// Standard functions the test driver hands out (request 11).
inline StandardFunction g_standard[ENGINE_NUM_STANDARD_FUNCTIONS] = {};
// Extensions attached at Engine_Init (the driver's raster extension).
inline int32_t (*g_attach)(void) = nullptr;
// Run when the device starts and stops (requests 2 and 3).
inline int32_t (*g_onStart)(void) = nullptr;
inline void (*g_onStop)(void) = nullptr;

inline int32_t Request(int32_t code, void *out, void *, int32_t);
inline const EngineDevice kDevice = {1.0f, Request, 0.0f, 1.0f, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, {}};
inline int32_t Request(int32_t code, void *out, void *, int32_t)
{
    switch (code) {
    case REQ_GET_DEVICE: *(EngineDevice *)out = kDevice; return 1;
    case REQ_OPEN:
    case REQ_CLOSE: return 1;
    case REQ_START: return g_onStart ? g_onStart() : 1;
    case REQ_STOP:
        if (g_onStop) g_onStop();
        return 1;
    case REQ_STANDARD_FUNCTIONS:
        for (int i = 0; i < ENGINE_NUM_STANDARD_FUNCTIONS; i++) ((StandardFunction *)out)[i] = g_standard[i];
        return 1;
    default: return 0;
    }
}
inline int32_t Attach(void) { return g_attach ? g_attach() : 1; }

// A fresh folder under the test folder, named after the running test.
inline std::string TestFolder()
{
    const char *name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::string folder = TestTmp().string() + "/image_" + name;
    std::filesystem::create_directories(folder);
    return folder + "/";
}

// Writes bytes to a file and returns its path.
inline std::string WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    return path;
}

}  // namespace imagetest

// Starts the engine with the image module (and whatever SetUpModules adds).
class ImageEngineTest : public ::testing::Test {
protected:
    virtual void InstallModules() { Image_InstallModule(); }
    void SetUp() override
    {
        imagetest::g_failAfter = -1;
        imagetest::g_largest = 0;
        // Only the modules these tests install run: other suites may have
        // left theirs (the immediate-mode module, say) installed.
        for (uint32_t id : {MODULE_IMAGE, MODULE_RASTER, MODULE_TEXTURE, MODULE_IM3D})
            Engine_SetCoreModule(id, 0, nullptr, nullptr);
        InstallModules();
        static const EngineDriver driver = {&imagetest::kDevice, imagetest::Attach};
        Engine_SetDriver(&driver);
        static const MemoryFunctions memory = {imagetest::Alloc, imagetest::Free, imagetest::Realloc,
                                               imagetest::Calloc};
        ASSERT_EQ(Engine_Init(&memory, 0, 0), 1);
        int window = 0;
        ASSERT_EQ(Engine_Open(&window), 1);
        ASSERT_EQ(Engine_Start(), 1);
        Error_Get(nullptr);
    }
    void TearDown() override
    {
        imagetest::g_failAfter = -1;
        Engine_Stop();
        Engine_Close();
        Engine_Term();
        Engine_SetDriver(nullptr);
        for (uint32_t id : {MODULE_IMAGE, MODULE_RASTER, MODULE_TEXTURE}) Engine_SetCoreModule(id, 0, nullptr, nullptr);
        Engine_SetGammaHook(nullptr);
        for (auto &f : imagetest::g_standard) f = nullptr;
        imagetest::g_attach = nullptr;
        imagetest::g_onStart = nullptr;
        imagetest::g_onStop = nullptr;
        Error_Get(nullptr);
    }
    static uint32_t TakeError() { return (uint32_t)Error_TakeCode(); }
    // Where pixel (x, y) starts: four bytes a pixel at depth 32, one below.
    static uint8_t *Pixel(const Image *image, int32_t x, int32_t y)
    {
        return image->pixels + (size_t)y * image->stride + (image->depth == 32 ? 4 * x : x);
    }
    // A new image with owned pixels, filled by fill(x, y, pixel).
    template <typename Fill>
    static Image *MakeImage(int32_t w, int32_t h, int32_t depth, Fill fill)
    {
        Image *image = Image_Create(w, h, depth);
        if (!image || !Image_AllocatePixels(image)) return nullptr;
        for (int32_t y = 0; y < h; y++)
            for (int32_t x = 0; x < w; x++) fill(x, y, Pixel(image, x, y));
        return image;
    }
};
