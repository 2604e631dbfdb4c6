// The engine: lifecycle, registry, error slot, strings; the immediate modes and render states.
#include "gfx/core/engine.h"

#include "gfx/core/cpu.h"
#include "gfx/core/im2d.h"
#include "gfx/core/pipeline.h"
#include "gfx/core/renderstate.h"
#include "tests/gfx/core/image_fixture.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"

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

TEST(Engine, OutOfOrderCallsARefusedOpenAndAModuleThatFailsLeaveTheStateAsItWasAndReopen)
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
    EXPECT_EQ(std::tuple(Engine_Instance(), Engine_GetStatus()), std::tuple(staticBlock, 1u));
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
    EXPECT_EQ(std::tuple(Engine_Instance(), Engine_GetStatus()), std::tuple(openBlock, 2u));
    ASSERT_EQ(Engine_Close(), 1);
    EXPECT_EQ(Engine_Instance(), staticBlock);
    ASSERT_EQ(Engine_Term(), 1);
    Error_Get(nullptr);
    OpenWithModules(3);
    requests.clear();
    EXPECT_EQ(Engine_Start(), 0);
    EXPECT_EQ(std::tuple(Engine_GetStatus(), moduleLog, requests),
              std::tuple(2u, (std::vector<int>{1, 2, 3, -2, -1}), (std::vector<int32_t>{REQ_START, REQ_STOP})));
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

TEST(Engine, CoreAnswersSubSystemQueriesStringsCompareFoldedAndTheFirstErrorStaysUntilRead)
{
    EngineScope scope;
    EXPECT_EQ(std::tuple(Engine_GetNumSubSystems(), Engine_GetCurrentSubSystem()), std::tuple(1, 0));
    char name[80] = {};
    EXPECT_STREQ(Engine_GetSubSystemInfo(name, 0), "Only rendering sub system");
    Error_Get(nullptr);
    EXPECT_EQ(Engine_GetSubSystemInfo(name, 1), nullptr);
    ErrorRecord r;
    Error_Get(&r);
    EXPECT_EQ(std::tuple(r.code, r.pluginId), std::tuple(24, 1));
    EXPECT_EQ(Engine_SetSubSystem(0), 0);  // started: too late to choose
    EXPECT_EQ(Engine_Stop(), 1);
    EXPECT_EQ(Engine_SetSubSystem(0), 1);
    EXPECT_EQ(Engine_SetSubSystem(1), 0);
    EXPECT_EQ(Engine_Start(), 1);
    EXPECT_EQ(std::tuple(Engine_QueryDeviceInt(), Engine_GetNumVideoModes(), Engine_GetMaxTextureSize()),
              std::tuple(-1, -1, -1));
    Error_Get(nullptr);
    EXPECT_EQ(String_CompareNoCase("Texture", "tEXTURE"), 0);
    EXPECT_LT(String_CompareNoCase("tex", "texture"), 0);  // compared through the end
    EXPECT_GT(String_CompareNoCase("texture", "tex"), 0);
    EXPECT_EQ(String_CompareNoCase(nullptr, "a"), 0);
    EXPECT_GT(String_CompareNoCase("[", "a"), 0);  // folded to upper case: 0x5B above 0x41
    const char* path = "a\\b\\c.png";
    EXPECT_EQ(std::tuple(String_FindLastChar(path, '\\'), String_FindChar(path, '\\'), String_FindLastChar(path, '/')),
              std::tuple(path + 3, path + 1, nullptr));
    char text[] = "MiXeD 1", empty[] = "";
    EXPECT_STREQ(String_ToUpper(text), "MIXED 1");
    EXPECT_STREQ(String_ToLower(text), "mixed 1");
    EXPECT_EQ(std::tuple(String_ToUpper(empty), String_ToLower(nullptr)), std::tuple(empty, nullptr));
    const std::pair<const char*, int32_t> paths[] = {
        {"\\textures\\a.png", 1}, {"c:\\a.png", 1}, {"textures\\a.png", 0}, {"1:", 0}, {"", 0}};
    for (const auto& [p, absolute] : paths) EXPECT_EQ(Path_IsAbsolute(p), absolute) << p;
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
        EXPECT_EQ(std::tuple(r.pluginId, r.code), std::tuple(c.expected.pluginId, c.expected.code));
    }
}

namespace {

// Started on mode 0, with a camera update open where a test begins one.
class EntryTest : public D3D8DriverTest {
protected:
    Camera* camera = nullptr;
    void SetUp() override { StartEngine(0); }
    void Begin()
    {
        camera = MakeCamera(0, 0, -10);
        ASSERT_NE(Camera_BeginUpdate(camera), nullptr);
    }
    void TearDown() override
    {
        if (camera) {
            Camera_EndUpdate(camera);
            DestroyCamera(camera);
        }
        EndFrame();
        D3D8DriverTest::TearDown();
    }
};

TEST_F(EntryTest, Im3DRenderingNeedsABatchAndAKnownTypePipelinesCanBeReplacedAndIm2DCallsReachTheDevice)
{
    std::vector<Im3DVertex> v(3);
    Error_Get(nullptr);
    const struct {
        bool batch;
        int32_t type, error;
    } refused[] = {{false, 3, ERR_IM3D_NO_BATCH}, {true, 7, ERR_BAD_PRIMITIVE}, {true, 6, ERR_BAD_PRIMITIVE}};
    for (const auto& r : refused) {  // point lists (6) have no render path of their own
        if (r.batch) {
            ASSERT_NE(Im3D_Transform(v.data(), 3, nullptr, 0), nullptr);
        }
        EXPECT_EQ(Im3D_RenderPrimitive(r.type), 0) << r.type;
        EXPECT_EQ(Error_TakeCode(), r.error) << r.type;
    }
    EXPECT_EQ(Im3D_End(), 1);
    EXPECT_EQ(Im3D_End(), 0);
    ASSERT_NE(Im3D_SetTransformPipeline(nullptr), nullptr);
    Pipeline* triangles = Im3D_SetRenderPipeline(nullptr, 3);
    ASSERT_NE(triangles, nullptr);
    EXPECT_EQ(Im3D_SetRenderPipeline(nullptr, 6), nullptr);  // point lists have no default
    EXPECT_EQ(Im3D_SetRenderPipeline(triangles, 7), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_BAD_PRIMITIVE);
    EXPECT_EQ(Im3D_SetRenderPipeline(triangles, 6), triangles);
    ASSERT_NE(Im3D_Transform(v.data(), 3, nullptr, 0), nullptr);
    EXPECT_EQ(Im3D_RenderPrimitive(6), 1);
    Im3D_End();
    Im3D_SetRenderPipeline(nullptr, 6);
    BeginFrame();
    float quad[3][7] = {{10, 10, 0.5f, 1, 0, 0, 0}, {50, 10, 0.5f, 1, 0, 0, 0}, {10, 50, 0.5f, 1, 0, 0, 0}};
    uint16_t indices[3] = {0, 1, 2};
    std::string log = Record([&] {
        EXPECT_EQ(Im2D_RenderPrimitive(3, quad, 3), 1);
        EXPECT_EQ(Im2D_RenderIndexedPrimitive(3, quad, 3, indices, 3), 1);
        EXPECT_EQ(Im2D_RenderLine(quad, 3, 0, 1), 1);
        EXPECT_EQ(Im2D_RenderTriangle(quad, 3, 0, 1, 2), 1);
    });
    EXPECT_EQ(std::tuple(Count(log, "DrawPrimitive(4,"), Count(log, "DrawIndexedPrimitive(4,"),
                         Count(log, "DrawPrimitive(2,")),
              std::tuple(2, 1, 1))
        << log;
    EXPECT_EQ(std::tuple(Im2D_GetNearScreenZ(), Im2D_GetFarScreenZ()), std::tuple(0.0f, 1.0f));
}

// A driver of the test's own: the kernel knows the Im3D nodes only from its record.
struct RecordingDriver {
    static inline std::vector<Im3DBatch> transformed, drawn;
    static inline int opens = 0, closes = 0, refuseOpen = 0;
    template <std::vector<Im3DBatch>& log>
    static int32_t Note(PipelineNode*, const PipelineExecuteParams* params)
    {
        return log.push_back(*(const Im3DBatch*)params->data), 1;
    }
    static int32_t Open(void) { return ++opens, !refuseOpen; }
    static void Close(void) { ++closes; }
    static PipelineNodeDefinition Node(const char* name, PipelineNodeBodyFn body)
    {
        PipelineNodeDefinition node = {};
        node.name = name, node.body = body;
        return node;
    }
    static inline PipelineNodeDefinition transformNode = Node("record", Note<transformed>),
                                         drawNode = Node("draw", Note<drawn>);
    explicit RecordingDriver(int refuse)
    {
        transformed.clear(), drawn.clear();
        opens = closes = 0, refuseOpen = refuse;
        const Im3DDriver driver = {&transformNode, &drawNode, Open, Close};
        EXPECT_EQ(Im3D_InstallModule(&driver), 1);
    }
    ~RecordingDriver() { Engine_SetCoreModule(MODULE_IM3D, 0, nullptr, nullptr); }
};

TEST(Im3DDriverTest, BatchesRunThroughTheNodesTheDriverInstalledWhichMayRefuseTheStart)
{
    {
        RecordingDriver driver(0);
        {
            testdriver::EngineScope engine;
            EXPECT_EQ(RecordingDriver::opens, 1);
            std::vector<Im3DVertex> v(5);
            const uint16_t indices[5] = {0, 1, 2, 3, 4};
            ASSERT_EQ(Im3D_Transform(v.data(), 5, nullptr, IM3D_TEXTURED), v.data());
            ASSERT_EQ(RecordingDriver::transformed.size(), 1u);
            const Im3DBatch& batch = RecordingDriver::transformed[0];
            EXPECT_EQ(std::tuple(batch.vertexCount, batch.flags),
                      std::tuple(5u, IM3D_TEXTURED | IM3D_ALLOPAQUE | IM3D_NOFOG));
            EXPECT_EQ(Im3D_RenderIndexedPrimitive(1, indices, 5), 1);  // a line list keeps whole lines
            EXPECT_EQ(Im3D_RenderPrimitive(4), 1);
            ASSERT_EQ(RecordingDriver::drawn.size(), 2u);
            const Im3DBatch &lines = RecordingDriver::drawn[0], &list = RecordingDriver::drawn[1];
            EXPECT_EQ(std::tuple(lines.primType, lines.indices, lines.indexCount, list.primType, list.indices),
                      std::tuple(1, indices, 4u, 4, nullptr));
            EXPECT_EQ(Im3D_End(), 1);
        }
        EXPECT_EQ(RecordingDriver::closes, 1);
    }
    RecordingDriver driver(1);
    testdriver::InitScope scope;
    int window = 0;
    ASSERT_EQ(Engine_Open(&window), 1);
    EXPECT_EQ(Engine_Start(), 0);
    EXPECT_EQ(RecordingDriver::opens, 1);
    EXPECT_EQ(Engine_Close(), 1);
}

}  // namespace

TEST_F(EntryTest, RenderStatesNeedAnOpenCameraUpdateAndLoadThePipelinesVectorFromTheDevice)
{
    Error_Get(nullptr);
    EXPECT_EQ(RenderState_Set(20, (void*)(uintptr_t)1), 0);
    EXPECT_EQ(Error_TakeCode(), ERR_NO_CAMERA_UPDATE);
    Begin();
    const struct {
        int32_t state;
        uintptr_t value;
    } sets[] = {{6, 0}, {12, 1}, {7, 1},           {10, 2}, {11, 1}, {3, 3},
                {4, 4}, {9, 1},  {13, 0xFF102030}, {14, 1}, {16, 2}, {15, 0x80405060}};
    for (const auto& s : sets) ASSERT_EQ(RenderState_Set(s.state, (void*)s.value), 1) << s.state;
    uint32_t value = 0;
    EXPECT_EQ(RenderState_Get(14, &value), 1);
    EXPECT_EQ(value, 1u);
    PipelineRenderStateVector mine = {};
    ASSERT_EQ(Pipeline_LoadRenderStateVector(&mine), &mine);
    PipelineRenderStateVector expected = {0, 1, 2, 1, nullptr, 3, 4, 1, 0xFF102030, 2, 0x80405060};
    expected.flags = PIPELINE_RSV_PERSPECTIVE | PIPELINE_RSV_ZWRITE | PIPELINE_RSV_VERTEXALPHA;  // no Z test
    EXPECT_EQ(memcmp(&mine, &expected, sizeof expected), 0);
}
