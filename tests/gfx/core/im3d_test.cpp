#include "gfx/core/im3d.h"

#include <vector>

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

}  // namespace
