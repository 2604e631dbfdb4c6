#include "gfx/core/im3d.h"

#include <vector>

#include "gfx/core/pipeline.h"
#include "tests/gfx/core/test_driver.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"

namespace {

class Im3DTest : public D3D8DriverTest {
protected:
    void SetUp() override { StartEngine(0); }
    void TearDown() override
    {
        EndFrame();
        D3D8DriverTest::TearDown();
    }
};

TEST_F(Im3DTest, BatchesHoldUpTo65536Vertices)
{
    Camera *camera = MakeCamera(0, 0, -10);
    ASSERT_NE(Camera_BeginUpdate(camera), nullptr);
    std::vector<Im3DVertex> v(65537);
    EXPECT_EQ(Im3D_Transform(v.data(), 65536, nullptr, 0), v.data());
    // All of them are drawn: a count that wrapped would draw nothing.
    std::string log = Record([] { EXPECT_EQ(Im3D_RenderPrimitive(3), 1); });
    EXPECT_NE(log.find("DrawPrimitive(4, 0, 21845)"), std::string::npos) << log.substr(0, 2000);
    EXPECT_EQ(Im3D_End(), 1);
    Camera_EndUpdate(camera);
    DestroyCamera(camera);
    Error_Get(nullptr);
    EXPECT_EQ(Im3D_Transform(v.data(), 65537, nullptr, 0), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_IM3D_VERTICES);
}

TEST_F(Im3DTest, RenderingNeedsABatchAndAKnownType)
{
    std::vector<Im3DVertex> v(3);
    Error_Get(nullptr);
    EXPECT_EQ(Im3D_RenderPrimitive(3), 0);
    EXPECT_EQ(Error_TakeCode(), ERR_IM3D_NO_BATCH);
    ASSERT_NE(Im3D_Transform(v.data(), 3, nullptr, 0), nullptr);
    EXPECT_EQ(Im3D_RenderPrimitive(7), 0);
    EXPECT_EQ(Error_TakeCode(), ERR_BAD_PRIMITIVE);
    EXPECT_EQ(Im3D_RenderPrimitive(6), 0);  // point lists have no render path
    EXPECT_EQ(Error_TakeCode(), ERR_BAD_PRIMITIVE);
    EXPECT_EQ(Im3D_End(), 1);
    EXPECT_EQ(Im3D_End(), 0);
    EXPECT_EQ(Im3D_RenderPrimitive(3), 0);
    EXPECT_EQ(Error_TakeCode(), ERR_IM3D_NO_BATCH);
}

TEST_F(Im3DTest, PipelinesCanBeReplacedAndRestored)
{
    Pipeline *transform = Im3D_SetTransformPipeline(nullptr);
    ASSERT_NE(transform, nullptr);
    Pipeline *triangles = Im3D_SetRenderPipeline(nullptr, 3);
    ASSERT_NE(triangles, nullptr);
    EXPECT_EQ(Im3D_SetRenderPipeline(nullptr, 6), nullptr);  // point lists have no default
    Error_Get(nullptr);
    EXPECT_EQ(Im3D_SetRenderPipeline(triangles, 7), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_BAD_PRIMITIVE);
    // A pipeline given to point lists makes them drawable.
    EXPECT_EQ(Im3D_SetRenderPipeline(triangles, 6), triangles);
    std::vector<Im3DVertex> v(3);
    ASSERT_NE(Im3D_Transform(v.data(), 3, nullptr, 0), nullptr);
    EXPECT_EQ(Im3D_RenderPrimitive(6), 1);
    Im3D_End();
    Im3D_SetRenderPipeline(nullptr, 6);
}

TEST_F(Im3DTest, IndexedTriangleListsRoundDownToWholeTriangles)
{
    Camera *camera = MakeCamera(0, 0, -10);
    ASSERT_NE(Camera_BeginUpdate(camera), nullptr);
    std::vector<Im3DVertex> v(8);
    for (int i = 0; i < 8; i++) v[i] = Im3DVertex{(float)(i % 3), (float)(i / 3), 0, 0, 0, 1, 0xFFFFFFFF, 0, 0};
    const uint16_t indices[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    ASSERT_NE(Im3D_Transform(v.data(), 8, nullptr, 0), nullptr);
    std::string log = Record([&] { EXPECT_EQ(Im3D_RenderIndexedPrimitive(3, indices, 8), 1); });
    EXPECT_NE(log.find("DrawPrimitive(4, 0, 2)"), std::string::npos) << log;  // 6 indices, 2 triangles
    log = Record([&] { EXPECT_EQ(Im3D_RenderPrimitive(5), 1); });
    EXPECT_NE(log.find("DrawPrimitive(6, "), std::string::npos) << log;  // fan
    Im3D_End();
    Camera_EndUpdate(camera);
    DestroyCamera(camera);
}

// A driver of the test's own: the kernel knows the nodes only through the
// record the driver installs.
struct RecordingDriver {
    static inline std::vector<Im3DBatch> transformed, drawn;
    static inline int opens = 0, closes = 0, refuseOpen = 0;
    static int32_t Transform(PipelineNode *, const PipelineExecuteParams *params)
    {
        transformed.push_back(*(const Im3DBatch *)params->data);
        return 1;
    }
    static int32_t Draw(PipelineNode *, const PipelineExecuteParams *params)
    {
        drawn.push_back(*(const Im3DBatch *)params->data);
        return 1;
    }
    static int32_t Open(void) { return ++opens, !refuseOpen; }
    static void Close(void) { ++closes; }
    static PipelineNodeDefinition Node(const char *name, PipelineNodeBodyFn body)
    {
        PipelineNodeDefinition node = {};
        node.name = name;
        node.body = body;
        return node;
    }
    static inline PipelineNodeDefinition transformNode = Node("record", Transform);
    static inline PipelineNodeDefinition drawNode = Node("draw", Draw);

    RecordingDriver(int refuse)
    {
        transformed.clear(), drawn.clear();
        opens = closes = 0, refuseOpen = refuse;
        const Im3DDriver driver = {&transformNode, &drawNode, Open, Close};
        EXPECT_EQ(Im3D_InstallModule(&driver), 1);
    }
    ~RecordingDriver() { Engine_SetCoreModule(MODULE_IM3D, 0, nullptr, nullptr); }
};

TEST(Im3DDriverTest, BatchesRunThroughTheNodesTheDriverInstalled)
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

TEST(Im3DDriverTest, ADriverThatCannotOpenItsResourcesStopsTheEngineStart)
{
    RecordingDriver driver(1);
    testdriver::Install();
    int window = 0;
    ASSERT_EQ(Engine_Init(nullptr, 0, 0), 1);
    ASSERT_EQ(Engine_Open(&window), 1);
    EXPECT_EQ(Engine_Start(), 0);
    EXPECT_EQ(RecordingDriver::opens, 1);
    EXPECT_EQ(Engine_Close(), 1);
    EXPECT_EQ(Engine_Term(), 1);
    Error_Get(nullptr);
}

}  // namespace
