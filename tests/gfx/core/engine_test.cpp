// The engine's lifecycle and registry, its error slot and its string services.
#include "gfx/core/engine.h"

#include "gfx/core/cpu.h"
#include "tests/gfx/core/image_fixture.h"

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

}  // namespace

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
