// The engine's lifecycle and registry, its error slot, its string and file
// services, and the processor probe.
#include "gfx/core/engine.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "gfx/core/cpu.h"
#include "gfx/core/error.h"
#include "tests/gfx/core/image_fixture.h"
#include "tests/test_env.h"

using namespace testdriver;

namespace {

std::vector<int> moduleLog;
template <int N>
void* OpenModule(void* o, int32_t, int32_t)
{
    moduleLog.push_back(N);
    return N == 3 ? nullptr : o;  // module 3 fails to open
}
template <int N>
void* CloseModule(void* o, int32_t, int32_t)
{
    moduleLog.push_back(-N);
    return o;
}

// Initialises the engine with modules 1..n added and opens it.
void OpenWithModules(int n)
{
    Install();
    moduleLog.clear();
    static int window = 0;
    ASSERT_EQ(Engine_Init(nullptr, 0, 0), 1);
    const std::pair<PluginConstructor, PluginDestructor> modules[] = {
        {OpenModule<1>, CloseModule<1>}, {OpenModule<2>, CloseModule<2>}, {OpenModule<3>, CloseModule<3>}};
    for (int i = 0; i < n; i++) ASSERT_GE(Engine_RegisterPlugin(8, 0x100 + i, modules[i].first, modules[i].second), 0);
    ASSERT_EQ(Engine_Open(&window), 1);
}

int g_allocs, g_frees;
void* CountAlloc(size_t n) { return g_allocs++, malloc(n); }
void CountFree(void* p)
{
    if (p) g_frees++;
    free(p);
}
void* CountRealloc(void* p, size_t n)
{
    if (!p) g_allocs++;
    return realloc(p, n);
}
void* CountCalloc(size_t c, size_t n) { return g_allocs++, calloc(c, n); }

}  // namespace

TEST(Engine, LifecycleWalksTheStatusesAndSendsTheRequestsInOrder)
{
    // With and without free-list blocks, every allocation goes through the
    // given memory functions and is returned by the end.
    for (uint32_t flags : {0u, (uint32_t)ENGINE_INIT_NO_FREELIST_BLOCKS}) {
        Install();
        g_allocs = g_frees = 0;
        MemoryFunctions counting = {CountAlloc, CountFree, CountRealloc, CountCalloc};
        int window = 0;
        const std::pair<std::function<int32_t()>, uint32_t> steps[] = {
            {[&] { return Engine_Init(&counting, flags, 0); }, 1},
            {[&] { return Engine_Open(&window); }, 2},
            {Engine_Start, 3},
            {Engine_Stop, 2},
            {Engine_Close, 1},
            {Engine_Term, 0}};
        EXPECT_EQ(Engine_GetStatus(), 0u);
        for (const auto& [call, status] : steps) {
            ASSERT_EQ(call(), 1) << status;
            EXPECT_EQ(Engine_GetStatus(), status);
            EXPECT_EQ(Engine_GetOpenCount(), status >= 2 ? 1 : 0) << status;
            if (status == 3) {
                // The device block was copied from the driver's record.
                EXPECT_EQ(Engine_Instance()->device.request, kDevice.request);
                EXPECT_FLOAT_EQ(Engine_Instance()->device.zBufferFar, 1.0f);
                EXPECT_EQ(Engine_GetInitFlags(), flags);
                EXPECT_GT(g_allocs, 0);
            }
        }
        EXPECT_EQ(g_allocs, g_frees) << flags;
        const std::vector<int32_t> expected = {REQ_GET_DEVICE, REQ_OPEN,           REQ_STANDARD_FUNCTIONS,
                                               REQ_START,      REQ_START_FINISHED, REQ_STOP_BEGINS,
                                               REQ_STOP,       REQ_CLOSE};
        EXPECT_EQ(requests, expected);
    }
    Error_Get(nullptr);
}

TEST(Engine, OutOfOrderCallsAndARefusedOpenLeaveTheStateAsItWas)
{
    Install();
    static const EngineDriver plain = {&kDevice, nullptr};  // no extensions to attach
    Engine_SetDriver(&plain);
    Error_Get(nullptr);
    int window = 0;
    EXPECT_EQ(Engine_Open(&window), 0);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_BAD_ENGINE_STATE);
    EXPECT_EQ(Engine_GetStatus(), 0u);

    ASSERT_EQ(Engine_Init(nullptr, 0, 0), 1);
    EngineInstance* staticBlock = Engine_Instance();
    EXPECT_EQ(Engine_Open(nullptr), 0);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_NULL_ARGUMENT);
    // A refused device open leaves the static block current.
    refusedRequests.insert(REQ_OPEN);
    EXPECT_EQ(Engine_Open(&window), 0);
    EXPECT_EQ(Engine_Instance(), staticBlock);
    EXPECT_EQ(Engine_GetStatus(), 1u);
    EXPECT_EQ(Engine_GetOpenCount(), 0);
    refusedRequests.clear();
    ASSERT_EQ(Engine_Open(&window), 1);
    EngineInstance* openBlock = Engine_Instance();
    EXPECT_NE(openBlock, staticBlock);
    Error_Get(nullptr);
    EXPECT_EQ(Engine_Open(&window), 0);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_BAD_ENGINE_STATE);
    EXPECT_EQ(Engine_Instance(), openBlock);
    // A second init or a term while open must not drop the open instance.
    EXPECT_EQ(Engine_Init(nullptr, 0, 0), 0);
    EXPECT_EQ(Engine_Term(), 0);
    EXPECT_EQ(Engine_Instance(), openBlock);
    EXPECT_EQ(Engine_GetStatus(), 2u);
    ASSERT_EQ(Engine_Close(), 1);
    EXPECT_EQ(Engine_Instance(), staticBlock);
    ASSERT_EQ(Engine_Term(), 1);
    Error_Get(nullptr);
}

TEST(Engine, CoreModulesRegisterInTheFixedOrderAndPluginsFollow)
{
    InitScope scope;
    const uint32_t order[] = {1039, 1025, 1037, 1026, 1027, 1028, 1029, 1030, 1031, 1032, 1033, 1034, 1035};
    const PluginEntry* e = Engine_GetRegistry()->first;
    for (uint32_t id : order) {
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->pluginId, id);
        e = e->next;
    }
    int32_t before = Engine_GetRegistry()->size;
    EXPECT_EQ(Engine_RegisterPlugin(12, 0x1234, nullptr, nullptr), before);
    EXPECT_EQ(Engine_GetPluginOffset(0x1234), before);
    EXPECT_EQ(Engine_GetPluginOffset(0x9999), -1);
}

TEST(Engine, AModuleThatFailsToOpenUndoesTheOthersAndARefusedStopReopensThem)
{
    OpenWithModules(3);
    requests.clear();
    EXPECT_EQ(Engine_Start(), 0);
    EXPECT_EQ(Engine_GetStatus(), 2u);
    EXPECT_EQ(moduleLog, (std::vector<int>{1, 2, 3, -2, -1}));
    EXPECT_EQ(requests, (std::vector<int32_t>{REQ_START, REQ_STOP}));
    ASSERT_EQ(Engine_Close(), 1);
    ASSERT_EQ(Engine_Term(), 1);

    OpenWithModules(1);
    ASSERT_EQ(Engine_Start(), 1);
    refusedRequests.insert(REQ_STOP);
    EXPECT_EQ(Engine_Stop(), 0);
    EXPECT_EQ(Engine_GetStatus(), 3u);
    EXPECT_EQ(moduleLog, (std::vector<int>{1, -1, 1}));  // closed before the device, opened again
    refusedRequests.clear();
    ASSERT_EQ(Engine_Stop(), 1);
    EXPECT_EQ(moduleLog, (std::vector<int>{1, -1, 1, -1}));
    ASSERT_EQ(Engine_Close(), 1);
    ASSERT_EQ(Engine_Term(), 1);
    Error_Get(nullptr);
}

TEST(Engine, TermResetsTheRegistrySoPluginsAttachAgainAtTheSameOffsets)
{
    int32_t offsets[2];
    {
        EngineScope scope;
    }
    for (int32_t& offset : offsets) {
        InitScope scope;
        offset = Engine_RegisterPlugin(24, 0x777, nullptr, nullptr);
        EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_NO_ERROR);  // not a duplicate
    }
    EXPECT_EQ(offsets[0], offsets[1]);
}

TEST(Engine, CoreAnswersSubSystemQueriesTheDriverLeavesOpen)
{
    EngineScope scope;
    EXPECT_EQ(Engine_GetNumSubSystems(), 1);
    EXPECT_EQ(Engine_GetCurrentSubSystem(), 0);
    char name[80] = {};
    EXPECT_STREQ(Engine_GetSubSystemInfo(name, 0), "Only rendering sub system");
    Error_Get(nullptr);
    EXPECT_EQ(Engine_GetSubSystemInfo(name, 1), nullptr);
    ErrorRecord r;
    Error_Get(&r);
    EXPECT_EQ(r.code, 24);
    EXPECT_EQ(r.pluginId, 1);
    EXPECT_EQ(Engine_SetSubSystem(0), 0);  // started: too late to choose
    EXPECT_EQ(Engine_Stop(), 1);
    EXPECT_EQ(Engine_SetSubSystem(0), 1);
    EXPECT_EQ(Engine_SetSubSystem(1), 0);
    EXPECT_EQ(Engine_Start(), 1);
    EXPECT_EQ(Engine_QueryDeviceInt(), -1);
    EXPECT_EQ(Engine_GetNumVideoModes(), -1);
    EXPECT_EQ(Engine_GetMaxTextureSize(), -1);
    Error_Get(nullptr);
}

TEST(Engine, StringsCompareFoldedFindCharactersAndTellAbsolutePaths)
{
    EXPECT_EQ(String_CompareNoCase("Texture", "tEXTURE"), 0);
    EXPECT_LT(String_CompareNoCase("tex", "texture"), 0);  // compared through the end
    EXPECT_GT(String_CompareNoCase("texture", "tex"), 0);
    EXPECT_EQ(String_CompareNoCase(nullptr, "a"), 0);
    EXPECT_GT(String_CompareNoCase("[", "a"), 0);  // folded to upper case: 0x5B above 0x41
    const char* path = "a\\b\\c.png";
    EXPECT_EQ(String_FindLastChar(path, '\\'), path + 3);
    EXPECT_EQ(String_FindChar(path, '\\'), path + 1);
    EXPECT_EQ(String_FindLastChar(path, '/'), nullptr);
    char text[] = "MiXeD 1", empty[] = "";
    EXPECT_STREQ(String_ToUpper(text), "MIXED 1");
    EXPECT_STREQ(String_ToLower(text), "mixed 1");
    EXPECT_EQ(String_ToUpper(empty), empty);
    EXPECT_EQ(String_ToLower(nullptr), nullptr);
    const std::pair<const char*, int32_t> paths[] = {
        {"\\textures\\a.png", 1}, {"c:\\a.png", 1}, {"textures\\a.png", 0}, {"1:", 0}, {"", 0}};
    for (const auto& [p, absolute] : paths) EXPECT_EQ(Path_IsAbsolute(p), absolute) << p;
}

TEST(Engine, InstalledFileTableReachesTheDisk)
{
    InitScope scope;
    FileInterface* files = FileSystem_GetInterface();
    const std::string path = (TestTmp() / "engine_files.bin").string();
    void* f = files->open(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(files->write("abcd", 1, 4, f), 4u);
    EXPECT_EQ(files->close(f), 0);
    EXPECT_EQ(files->exists(path.c_str()), 1);
    EXPECT_EQ(files->exists((TestTmp() / "no_such_file.bin").c_str()), 0);
    f = files->open(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(files->seek(f, 2, 1), 0);
    EXPECT_EQ(files->tell(f), 2);
    files->close(f);
}

TEST(Error, FirstErrorStaysUntilReadAndGeneralCodesAreStoredWithPluginZero)
{
    Error_Get(nullptr);
    const ErrorRecord first = {7, 25}, second = {9, 30}, general = {5, (int32_t)ERR_OUT_OF_MEMORY};
    const struct {
        std::function<void()> raise;
        ErrorRecord expected;
    } cases[] = {
        {[&] { Error_Set(&first), Error_Set(&second); }, first},
        {[&] { Error_Set(&general); }, {0, (int32_t)ERR_OUT_OF_MEMORY}},
        {[] { Error_Raise(ERR_ZERO_VECTOR); }, {1, 25}},
        {[] {}, {0, (int32_t)ERR_NO_ERROR}},  // reading reset the slot
    };
    for (const auto& c : cases) {
        c.raise();
        ErrorRecord r;
        Error_Get(&r);
        EXPECT_EQ(r.pluginId, c.expected.pluginId);
        EXPECT_EQ(r.code, c.expected.code);
    }
}

TEST(Cpu, SseBitsAnswerYesAndFlushToZeroTurnsDenormalResultsIntoZero)
{
    EXPECT_EQ(Cpu_HasSSEFromEdx(1u << 25), 1);
    EXPECT_EQ(Cpu_HasSSEFromEdx(1u << 26), 1);  // SSE2 reported without SSE
    EXPECT_EQ(Cpu_HasSSEFromEdx(~0x6000000u), 0);
#if defined(__x86_64__)
    EXPECT_EQ(Cpu_HasSSE(), 1);
    volatile float tiny = 1e-30f;
    int32_t was = Cpu_SetFlushToZero(1);
    volatile float product = tiny * 1e-10f;
    EXPECT_EQ(product, 0.0f);
    EXPECT_EQ(Cpu_GetFlushToZero(), 1);
    Cpu_SetFlushToZero(0);
    product = tiny * 1e-10f;
    EXPECT_GT(product, 0.0f);
    Cpu_SetFlushToZero(was);
#endif
}
