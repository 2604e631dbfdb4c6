#include "gfx/core/renderstate.h"

#include <cstring>

#include "gfx/core/pipeline.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"

namespace {

class RenderStateEntryTest : public D3D8DriverTest {
protected:
    void SetUp() override { StartEngine(0); }
    void TearDown() override
    {
        EndFrame();
        D3D8DriverTest::TearDown();
    }
};

TEST_F(RenderStateEntryTest, SetsNeedAnOpenCameraUpdate)
{
    Error_Get(nullptr);
    EXPECT_EQ(RenderState_Set(20, (void *)(uintptr_t)1), 0);
    EXPECT_EQ(Error_TakeCode(), ERR_NO_CAMERA_UPDATE);
    Camera *camera = MakeCamera();
    ASSERT_NE(Camera_BeginUpdate(camera), nullptr);
    EXPECT_EQ(RenderState_Set(20, (void *)(uintptr_t)1), 1);
    uint32_t cull = 0;
    EXPECT_EQ(RenderState_Get(20, &cull), 1);
    EXPECT_EQ(cull, 1u);
    Camera_EndUpdate(camera);
    DestroyCamera(camera);
}

TEST_F(RenderStateEntryTest, TheStartedEngineLoadsThePipelineRenderStatesFromTheDevice)
{
    Camera* camera = MakeCamera();
    ASSERT_NE(Camera_BeginUpdate(camera), nullptr);
    const struct {
        int32_t state;
        uintptr_t value;
    } sets[] = {{6, 0}, {12, 1}, {7, 1},           {10, 2}, {11, 1}, {3, 3},
                {4, 4}, {9, 1},  {13, 0xFF102030}, {14, 1}, {16, 2}, {15, 0x80405060}};
    for (const auto& s : sets) ASSERT_EQ(RenderState_Set(s.state, (void*)s.value), 1) << s.state;
    PipelineRenderStateVector mine = {};
    ASSERT_EQ(Pipeline_LoadRenderStateVector(&mine), &mine);
    PipelineRenderStateVector expected = {0, 1, 2, 1, nullptr, 3, 4, 1, 0xFF102030, 2, 0x80405060};
    expected.flags = PIPELINE_RSV_PERSPECTIVE | PIPELINE_RSV_ZWRITE | PIPELINE_RSV_VERTEXALPHA;  // no Z test
    EXPECT_EQ(memcmp(&mine, &expected, sizeof expected), 0);
    Camera_EndUpdate(camera);
    DestroyCamera(camera);
}

}  // namespace
