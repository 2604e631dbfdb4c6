#include "gfx/core/renderstate.h"

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

}  // namespace
