// Test harness of the graphics kernel: a recording stand-in driver, engine scopes, and the
// image, raster and texture fixture with an allocator that can be told to fail.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/maths.h"
#include "gfx/core/arena.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "tests/test_env.h"

namespace testdriver {

// What the driver was asked, and the request codes and standard functions it
// refuses (a test fills these after Install).
inline std::vector<int32_t> requests, standardCalls;
inline std::set<int32_t> refusedRequests, refusedStandard;
// A driver's own standard functions (instead of the recording ones when any is set), its
// extension attached at Engine_Init, and hooks run when the device starts (their answer) and stops.
inline StandardFunction g_standard[ENGINE_NUM_STANDARD_FUNCTIONS] = {};
inline int32_t (*g_attach)(void) = nullptr;
inline int32_t (*g_onStart)(void) = nullptr;
inline void (*g_onStop)(void) = nullptr;

template <int N>
int32_t Standard(void*, void*, int32_t)
{
    standardCalls.push_back(N);
    return refusedStandard.count(N) ? 0 : 1;
}
template <size_t... I>
void FillStandard(StandardFunction* out, std::index_sequence<I...>)
{
    ((out[I] = Standard<(int)I>), ...);
}

int32_t Request(int32_t code, void* out, void* inOut, int32_t arg);
inline const EngineDevice kDevice = {1.0f,    Request, 0.0f,    1.0f,    nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, {}};
inline int32_t Request(int32_t code, void* out, void*, int32_t)
{
    requests.push_back(code);
    if (refusedRequests.count(code)) return 0;
    switch (code) {
    case REQ_GET_DEVICE: *(EngineDevice*)out = kDevice; return 1;
    case REQ_OPEN:
    case REQ_CLOSE: return 1;
    case REQ_START: return g_onStart ? g_onStart() : 1;
    case REQ_STOP:
        if (g_onStop) g_onStop();
        return 1;
    case REQ_STANDARD_FUNCTIONS: {
        bool own = false;
        for (StandardFunction f : g_standard) own = own || f;
        if (own) memcpy(out, g_standard, sizeof g_standard);
        else FillStandard((StandardFunction*)out, std::make_index_sequence<ENGINE_NUM_STANDARD_FUNCTIONS>());
        return 1;
    }
    default: return 0;  // everything else is left to the engine's own answers
    }
}
inline int32_t Attach(void) { return g_attach ? g_attach() : 1; }

// Makes this driver the engine's and clears the logs and refusals.
inline void Install()
{
    static const EngineDriver driver = {&kDevice, Attach};
    Engine_SetDriver(&driver);
    requests.clear(), refusedRequests.clear(), standardCalls.clear(), refusedStandard.clear();
}

// Only initialised (plugins may still be attached); terminated at the end.
struct InitScope {
    explicit InitScope(uint32_t flags = 0)
    {
        Install();
        Error_Get(nullptr);
        EXPECT_EQ(Engine_Init(nullptr, flags, 0), 1);
    }
    ~InitScope()
    {
        EXPECT_EQ(Engine_Term(), 1);
        Error_Get(nullptr);
    }
};
// Also given an arena of `arena` bytes (unless 0), opened and started; stopped and closed at the end.
struct EngineScope : InitScope {
    int window = 0;
    explicit EngineScope(uint32_t flags = 0, size_t arena = 0) : InitScope(flags)
    {
        EXPECT_EQ(arena ? ResourceArena_SetSize(arena) : 1, 1);
        EXPECT_EQ(Engine_Open(&window), 1);
        EXPECT_EQ(Engine_Start(), 1);
    }
    ~EngineScope()
    {
        EXPECT_EQ(Engine_Stop(), 1);
        EXPECT_EQ(Engine_Close(), 1);
    }
};

// The bytes write(stream) put in a memory stream; Open reads them again.
struct MemoryBytes {
    StreamMemory mem = {nullptr, 0};
    MemoryBytes() = default;
    template <typename Write>
    explicit MemoryBytes(Write write)
    {
        Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
        write(s);
        EXPECT_EQ(Stream_Close(s, &mem), 1);
    }
    ~MemoryBytes() { Engine_Free(mem.start); }
    Stream* Open() { return Stream_Open(STREAM_MEMORY, STREAM_READ, &mem); }
};

inline void ExpectNear(const Vec3& v, Vec3 expected, float tolerance = 1e-6f)
{
    for (const auto& [got, want] : {std::pair{v.x, expected.x}, {v.y, expected.y}, {v.z, expected.z}})
        EXPECT_NEAR(got, want, tolerance);
}

}  // namespace testdriver

namespace imagetest {

// Allocations fail while failAfter reaches 0 (-1: never).
inline int g_failAfter = -1;
// The largest single request since the engine started (0 at SetUp).
inline size_t g_largest = 0;
inline bool Refuse(size_t size)
{
    if (size > g_largest) g_largest = size;
    if (g_failAfter < 0) return false;
    if (g_failAfter == 0) return true;
    g_failAfter--;
    return false;
}
inline void* Alloc(size_t size) { return Refuse(size) ? nullptr : malloc(size); }
inline void Free(void* block) { free(block); }
inline void* Realloc(void* block, size_t size) { return Refuse(size) ? nullptr : realloc(block, size); }
inline void* Calloc(size_t count, size_t size) { return Refuse(count * size) ? nullptr : calloc(count, size); }

// A fresh folder under the test folder, named after the running test.
inline std::string TestFolder()
{
    const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::string folder = TestTmp().string() + "/image_" + name;
    std::filesystem::create_directories(folder);
    return folder + "/";
}

}  // namespace imagetest

// The engine with the image module (and InstallModules') on the recording driver and allocator.
class ImageEngineTest : public ::testing::Test {
protected:
    virtual void InstallModules() { Image_InstallModule(); }
    void SetUp() override
    {
        imagetest::g_failAfter = -1;
        imagetest::g_largest = 0;
        // Only the modules these tests install run (other suites may have left theirs).
        for (uint32_t id : {MODULE_IMAGE, MODULE_RASTER, MODULE_TEXTURE, MODULE_IM3D})
            Engine_SetCoreModule(id, 0, nullptr, nullptr);
        InstallModules();
        testdriver::Install();
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
        while (!owned.empty()) owned.back()(), owned.pop_back();
        Engine_Stop(), Engine_Close(), Engine_Term();
        Engine_SetDriver(nullptr);
        for (uint32_t id : {MODULE_IMAGE, MODULE_RASTER, MODULE_TEXTURE}) Engine_SetCoreModule(id, 0, nullptr, nullptr);
        Engine_SetGammaHook(nullptr);
        for (auto& f : testdriver::g_standard) f = nullptr;
        testdriver::g_attach = nullptr, testdriver::g_onStart = nullptr, testdriver::g_onStop = nullptr;
        Error_Get(nullptr);
    }
    static uint32_t TakeError() { return (uint32_t)Error_TakeCode(); }
    // Where pixel (x, y) starts: four bytes a pixel at depth 32, one below.
    static uint8_t* Pixel(const Image* image, int32_t x, int32_t y)
    {
        return image->pixels + (size_t)y * image->stride + (image->depth == 32 ? 4 * x : x);
    }
    // A new image with owned pixels, filled by fill(x, y, pixel).
    template <typename Fill>
    static Image* MakeImage(int32_t w, int32_t h, int32_t depth, Fill fill)
    {
        Image* image = Image_Create(w, h, depth);
        if (!image || !Image_AllocatePixels(image)) return nullptr;
        for (int32_t y = 0; y < h; y++)
            for (int32_t x = 0; x < w; x++) fill(x, y, Pixel(image, x, y));
        return image;
    }
    // Objects destroyed, newest first, when the test ends.
    template <typename T>
    T* Keep(T* object)
    {
        owned.push_back([object] { Destroy(object); });
        return object;
    }
    static void Destroy(Image* image) { Image_Destroy(image); }
    static void Destroy(Raster* raster) { Raster_Destroy(raster); }
    // A kept image filled by fill(x, y, pixel), or with all bytes `fill` when that is a number.
    template <typename Fill>
    Image* Img(int32_t w, int32_t h, int32_t depth, Fill fill)
    {
        if constexpr (std::is_invocable_v<Fill, int32_t, int32_t, uint8_t*>) {
            return Keep(MakeImage(w, h, depth, fill));
        } else {
            const size_t n = depth == 32 ? 4 : 1;
            return Keep(MakeImage(w, h, depth, [fill, n](int32_t, int32_t, uint8_t* p) { memset(p, fill, n); }));
        }
    }
    std::vector<std::function<void()>> owned;
};
