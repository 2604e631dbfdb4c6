// The 2D and 3D immediate modes and the render states.

#include "gfx/core/im2d.h"
#include "gfx/core/pipeline.h"
#include "gfx/core/renderstate.h"
#include "tests/gfx/core/image_fixture.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"

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

TEST_F(EntryTest, Im2DCallsReachTheDevicesIm2DFunctions)
{
    BeginFrame();
    float v[3][7] = {{10, 10, 0.5f, 1, 0, 0, 0}, {50, 10, 0.5f, 1, 0, 0, 0}, {10, 50, 0.5f, 1, 0, 0, 0}};
    uint16_t indices[3] = {0, 1, 2};
    std::string log = Record([&] {
        EXPECT_EQ(Im2D_RenderPrimitive(3, v, 3), 1);
        EXPECT_EQ(Im2D_RenderIndexedPrimitive(3, v, 3, indices, 3), 1);
        EXPECT_EQ(Im2D_RenderLine(v, 3, 0, 1), 1);
        EXPECT_EQ(Im2D_RenderTriangle(v, 3, 0, 1, 2), 1);
    });
    EXPECT_EQ(Count(log, "DrawPrimitive(4,"), 2) << log;
    EXPECT_EQ(Count(log, "DrawIndexedPrimitive(4,"), 1) << log;
    EXPECT_EQ(Count(log, "DrawPrimitive(2,"), 1) << log;
    EXPECT_EQ(Im2D_GetNearScreenZ(), 0.0f);
    EXPECT_EQ(Im2D_GetFarScreenZ(), 1.0f);
}

TEST_F(EntryTest, Im3DRenderingNeedsABatchAndAKnownTypeAndPipelinesCanBeReplaced)
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
    // A pipeline given to point lists makes them drawable.
    EXPECT_EQ(Im3D_SetRenderPipeline(triangles, 6), triangles);
    ASSERT_NE(Im3D_Transform(v.data(), 3, nullptr, 0), nullptr);
    EXPECT_EQ(Im3D_RenderPrimitive(6), 1);
    Im3D_End();
    Im3D_SetRenderPipeline(nullptr, 6);
}

// A driver of the test's own: the kernel knows the Im3D nodes only from its record.
struct RecordingDriver {
    static inline std::vector<Im3DBatch> transformed, drawn;
    static inline int opens = 0, closes = 0, refuseOpen = 0;
    static int32_t Transform(PipelineNode*, const PipelineExecuteParams* params)
    {
        return transformed.push_back(*(const Im3DBatch*)params->data), 1;
    }
    static int32_t Draw(PipelineNode*, const PipelineExecuteParams* params)
    {
        return drawn.push_back(*(const Im3DBatch*)params->data), 1;
    }
    static int32_t Open(void) { return ++opens, !refuseOpen; }
    static void Close(void) { ++closes; }
    static PipelineNodeDefinition Node(const char* name, PipelineNodeBodyFn body)
    {
        PipelineNodeDefinition node = {};
        node.name = name, node.body = body;
        return node;
    }
    static inline PipelineNodeDefinition transformNode = Node("record", Transform), drawNode = Node("draw", Draw);
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
            EXPECT_EQ(RecordingDriver::transformed[0].vertexCount, 5u);
            EXPECT_EQ(RecordingDriver::transformed[0].flags, IM3D_TEXTURED | IM3D_ALLOPAQUE | IM3D_NOFOG);
            EXPECT_EQ(Im3D_RenderIndexedPrimitive(1, indices, 5), 1);  // a line list keeps whole lines
            EXPECT_EQ(Im3D_RenderPrimitive(4), 1);
            ASSERT_EQ(RecordingDriver::drawn.size(), 2u);
            EXPECT_EQ(RecordingDriver::drawn[0].primType, 1);
            EXPECT_EQ(RecordingDriver::drawn[0].indices, indices);
            EXPECT_EQ(RecordingDriver::drawn[0].indexCount, 4u);
            EXPECT_EQ(RecordingDriver::drawn[1].primType, 4);
            EXPECT_EQ(RecordingDriver::drawn[1].indices, nullptr);
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
