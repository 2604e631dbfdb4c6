#include "gfx/core/im2d.h"

#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"

namespace {

using Im2DEntryTest = D3D8SceneTest;

TEST_F(Im2DEntryTest, CallsReachTheDevicesIm2DFunctions)
{
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

}  // namespace
