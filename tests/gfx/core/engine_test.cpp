#include "gfx/core/engine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gfx/core/error.h"
#include "tests/gfx/core/test_driver.h"
#include "tests/test_env.h"

using namespace testdriver;

namespace {

std::vector<int>& ModuleLog() { static std::vector<int> log; return log; }

void* OpenA(void* o, int32_t, int32_t) { ModuleLog().push_back(1); return o; }
void* CloseA(void* o, int32_t, int32_t) { ModuleLog().push_back(-1); return o; }
void* OpenB(void* o, int32_t, int32_t) { ModuleLog().push_back(2); return o; }
void* CloseB(void* o, int32_t, int32_t) { ModuleLog().push_back(-2); return o; }
void* OpenFails(void*, int32_t, int32_t) { ModuleLog().push_back(3); return nullptr; }
void* CloseFails(void* o, int32_t, int32_t) { ModuleLog().push_back(-3); return o; }

}  // namespace

TEST(Engine, FullLifecycleWalksTheStatusesAndSendsTheRequestsInOrder)
{
    Install();
    int window = 0;
    EXPECT_EQ(Engine_GetStatus(), 0u);
    ASSERT_EQ(Engine_Init(nullptr, 0, 0), 1);
    EXPECT_EQ(Engine_GetStatus(), 1u);
    ASSERT_EQ(Engine_Open(&window), 1);
    EXPECT_EQ(Engine_GetStatus(), 2u);
    EXPECT_EQ(Engine_GetOpenCount(), 1);
    ASSERT_EQ(Engine_Start(), 1);
    EXPECT_EQ(Engine_GetStatus(), 3u);
    // The device block was copied from the driver's record.
    EXPECT_EQ(Engine_Instance()->device.request, Record().request);
    EXPECT_FLOAT_EQ(Engine_Instance()->device.zBufferFar, 1.0f);
    ASSERT_EQ(Engine_Stop(), 1);
    EXPECT_EQ(Engine_GetStatus(), 2u);
    ASSERT_EQ(Engine_Close(), 1);
    EXPECT_EQ(Engine_GetStatus(), 1u);
    EXPECT_EQ(Engine_GetOpenCount(), 0);
    ASSERT_EQ(Engine_Term(), 1);
    EXPECT_EQ(Engine_GetStatus(), 0u);
    std::vector<int32_t> expected = {REQ_GET_DEVICE, REQ_OPEN,        REQ_STANDARD_FUNCTIONS,
                                     REQ_START,      REQ_START_FINISHED, REQ_STOP_BEGINS,
                                     REQ_STOP,       REQ_CLOSE};
    EXPECT_EQ(Requests(), expected);
    Error_Get(nullptr);
}

TEST(Engine, OutOfOrderCallsAreRefusedWithTheStateError)
{
    Install();
    Error_Get(nullptr);
    int window = 0;
    EXPECT_EQ(Engine_Open(&window), 0);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_BAD_ENGINE_STATE);
    EXPECT_EQ(Engine_GetStatus(), 0u);

    ASSERT_EQ(Engine_Init(nullptr, 0, 0), 1);
    EngineInstance* staticBlock = Engine_Instance();
    EXPECT_EQ(Engine_Open(nullptr), 0);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_NULL_ARGUMENT);
    ASSERT_EQ(Engine_Open(&window), 1);
    EngineInstance* openBlock = Engine_Instance();
    EXPECT_NE(openBlock, staticBlock);
    EXPECT_EQ(Engine_Open(&window), 0);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_BAD_ENGINE_STATE);
    EXPECT_EQ(Engine_Instance(), openBlock);
    EXPECT_EQ(Engine_GetStatus(), 2u);

    // A second init while open must not drop the open instance.
    EXPECT_EQ(Engine_Init(nullptr, 0, 0), 0);
    EXPECT_EQ(Engine_Instance(), openBlock);
    EXPECT_EQ(Engine_Term(), 0);
    EXPECT_EQ(Engine_GetStatus(), 2u);

    ASSERT_EQ(Engine_Close(), 1);
    EXPECT_EQ(Engine_Instance(), staticBlock);
    ASSERT_EQ(Engine_Term(), 1);
    Error_Get(nullptr);
}

TEST(Engine, RefusedDeviceOpenLeavesTheStaticBlockCurrent)
{
    Install();
    RefusedRequests().insert(REQ_OPEN);
    int window = 0;
    ASSERT_EQ(Engine_Init(nullptr, 0, 0), 1);
    EngineInstance* staticBlock = Engine_Instance();
    EXPECT_EQ(Engine_Open(&window), 0);
    EXPECT_EQ(Engine_Instance(), staticBlock);
    EXPECT_EQ(Engine_GetStatus(), 1u);
    EXPECT_EQ(Engine_GetOpenCount(), 0);
    EXPECT_EQ(Engine_Term(), 1);
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

namespace {
// Initialises the engine with the modules (open, close) added and opens it.
void OpenWithModules(std::initializer_list<std::pair<PluginConstructor, PluginDestructor>> modules)
{
    Install();
    ModuleLog().clear();
    static int window = 0;
    ASSERT_EQ(Engine_Init(nullptr, 0, 0), 1);
    uint32_t id = 0x100;
    for (auto [open, close] : modules) ASSERT_GE(Engine_RegisterPlugin(8, id++, open, close), 0);
    ASSERT_EQ(Engine_Open(&window), 1);
}
}  // namespace

TEST(Engine, ModuleThatFailsToOpenUndoesTheOthersAndStopsTheDevice)
{
    OpenWithModules({{OpenA, CloseA}, {OpenB, CloseB}, {OpenFails, CloseFails}});
    Requests().clear();
    EXPECT_EQ(Engine_Start(), 0);
    EXPECT_EQ(Engine_GetStatus(), 2u);
    EXPECT_EQ(ModuleLog(), (std::vector<int>{1, 2, 3, -2, -1}));
    EXPECT_EQ(Requests(), (std::vector<int32_t>{REQ_START, REQ_STOP}));
    ASSERT_EQ(Engine_Close(), 1);
    ASSERT_EQ(Engine_Term(), 1);
    Error_Get(nullptr);
}

TEST(Engine, ARefusedStopLeavesTheModulesOpenAndTheEngineStarted)
{
    OpenWithModules({{OpenA, CloseA}});
    ASSERT_EQ(Engine_Start(), 1);
    RefusedRequests().insert(REQ_STOP);
    EXPECT_EQ(Engine_Stop(), 0);
    EXPECT_EQ(Engine_GetStatus(), 3u);
    EXPECT_EQ(ModuleLog(), (std::vector<int>{1, -1, 1}));  // closed before the device, opened again
    RefusedRequests().clear();
    ASSERT_EQ(Engine_Stop(), 1);
    EXPECT_EQ(ModuleLog(), (std::vector<int>{1, -1, 1, -1}));
    ASSERT_EQ(Engine_Close(), 1);
    ASSERT_EQ(Engine_Term(), 1);
    Error_Get(nullptr);
}

TEST(Engine, TermResetsTheRegistrySoPluginsAttachAgainAtTheSameOffsets)
{
    int32_t first, second;
    {
        EngineScope scope;
    }
    {
        InitScope scope;
        first = Engine_RegisterPlugin(24, 0x777, nullptr, nullptr);
    }
    {
        InitScope scope;
        second = Engine_RegisterPlugin(24, 0x777, nullptr, nullptr);
        EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_NO_ERROR);  // not a duplicate
    }
    EXPECT_EQ(first, second);
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

TEST(Engine, WithoutFreeListBlocksTheLifecycleStillRuns)
{
    EngineScope scope(ENGINE_INIT_NO_FREELIST_BLOCKS);
    EXPECT_EQ(Engine_GetInitFlags() & ENGINE_INIT_NO_FREELIST_BLOCKS, 1u);
}

namespace {
int g_allocs, g_frees;
void* CountAlloc(size_t n) { g_allocs++; return malloc(n); }
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
void* CountCalloc(size_t c, size_t n) { g_allocs++; return calloc(c, n); }
}  // namespace

TEST(Engine, EveryAllocationGoesThroughTheGivenMemoryFunctionsAndIsReturned)
{
    Install();
    g_allocs = g_frees = 0;
    MemoryFunctions counting = {CountAlloc, CountFree, CountRealloc, CountCalloc};
    int window = 0;
    ASSERT_EQ(Engine_Init(&counting, 0, 0), 1);
    ASSERT_EQ(Engine_Open(&window), 1);
    ASSERT_EQ(Engine_Start(), 1);
    EXPECT_GT(g_allocs, 0);
    ASSERT_EQ(Engine_Stop(), 1);
    ASSERT_EQ(Engine_Close(), 1);
    ASSERT_EQ(Engine_Term(), 1);
    EXPECT_EQ(g_allocs, g_frees);
    Error_Get(nullptr);
}

TEST(EngineStrings, CaseInsensitiveCompareFoldsAndComparesThroughTheEnd)
{
    EXPECT_EQ(String_CompareNoCase("Texture", "tEXTURE"), 0);
    EXPECT_LT(String_CompareNoCase("tex", "texture"), 0);
    EXPECT_GT(String_CompareNoCase("texture", "tex"), 0);
    EXPECT_EQ(String_CompareNoCase(nullptr, "a"), 0);
    // Folding to upper case: '[' (0x5B) sorts above 'a' (folded to 0x41).
    EXPECT_GT(String_CompareNoCase("[", "a"), 0);
}

TEST(EngineStrings, SearchesAndCaseConversions)
{
    const char* path = "a\\b\\c.png";
    EXPECT_EQ(String_FindLastChar(path, '\\'), path + 3);
    EXPECT_EQ(String_FindChar(path, '\\'), path + 1);
    EXPECT_EQ(String_FindLastChar(path, '/'), nullptr);
    char text[] = "MiXeD 1";
    EXPECT_STREQ(String_ToUpper(text), "MIXED 1");
    EXPECT_STREQ(String_ToLower(text), "mixed 1");
    char empty[] = "";
    EXPECT_EQ(String_ToUpper(empty), empty);
    EXPECT_EQ(String_ToLower(nullptr), nullptr);
}

TEST(EngineStrings, AbsolutePaths)
{
    EXPECT_EQ(Path_IsAbsolute("\\textures\\a.png"), 1);
    EXPECT_EQ(Path_IsAbsolute("c:\\a.png"), 1);
    EXPECT_EQ(Path_IsAbsolute("textures\\a.png"), 0);
    EXPECT_EQ(Path_IsAbsolute("1:"), 0);
    EXPECT_EQ(Path_IsAbsolute(""), 0);
}

TEST(EngineFiles, InstalledTableReachesTheDisk)
{
    InitScope scope;
    FileInterface* files = FileSystem_GetInterface();
    const std::string path = (TestTmp() / "engine_files.bin").string();
    const char* name = path.c_str();
    void* f = files->open(name, "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(files->write("abcd", 1, 4, f), 4u);
    EXPECT_EQ(files->close(f), 0);
    EXPECT_EQ(files->exists(name), 1);
    EXPECT_EQ(files->exists((TestTmp() / "no_such_file.bin").c_str()), 0);
    f = files->open(name, "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(files->seek(f, 2, 1), 0);
    EXPECT_EQ(files->tell(f), 2);
    files->close(f);
}
