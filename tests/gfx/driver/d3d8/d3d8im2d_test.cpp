#include "gfx/driver/d3d8/d3d8im2d.h"

#include <vector>

#include "gfx/driver/d3d8/d3d8cache.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"

namespace {

struct V2 {
    float x, y, z, rhw;
    uint32_t colour;
    float u, v;
};

std::vector<V2> Fan(uint32_t n)
{
    std::vector<V2> v(n);
    for (uint32_t i = 0; i < n; i++) v[i] = V2{(float)(i % 600), (float)((i * 7) % 400), 0.5f, 1, 0xFFFFFFFF, 0, 0};
    return v;
}

using Im2DTest = D3D8SceneTest;

TEST_F(Im2DTest, LargeBatchesGoThroughTheRotatingBuffersAndIndexedDrawsUseTheIndexBufferOrExpand)
{
    auto huge = Fan(10000);
    std::string log = Record([&] { EXPECT_EQ(D3D8_Im2DRenderPrimitive(3, huge.data(), 9999), 1); });
    EXPECT_NE(log.find("CreateVertexBuffer(279972,"), std::string::npos) << log;  // the rotating buffer grew
    EXPECT_EQ(D3D8_Im2DVertexPosition(), 0u);                                     // the own buffer was not touched
    auto v = Fan(4);
    uint16_t quad[6] = {0, 1, 2, 2, 1, 3};
    log = Record([&] { EXPECT_EQ(D3D8_Im2DRenderIndexedPrimitive(3, v.data(), 4, quad, 6), 1); });
    EXPECT_NE(log.find("DrawIndexedPrimitive(4, 0, 4, 0, 2)"), std::string::npos) << log;
    EXPECT_EQ(D3D8_Im2DIndexPosition(), 6u);
    // Indices that no longer fit behind the others restart the index buffer.
    std::vector<uint16_t> many(10001);
    for (size_t i = 0; i < many.size(); i++) many[i] = (uint16_t)(i % 4);
    ASSERT_EQ(D3D8_Im2DRenderIndexedPrimitive(3, v.data(), 4, many.data(), 9990), 1);
    EXPECT_EQ(D3D8_Im2DIndexPosition(), 9996u);
    log = Record([&] { EXPECT_EQ(D3D8_Im2DRenderIndexedPrimitive(3, v.data(), 4, quad, 6), 1); });
    EXPECT_NE(log.find(", 0, 12, 0x2800)"), std::string::npos) << log;
    EXPECT_EQ(D3D8_Im2DIndexPosition(), 6u);
    log = Record([&] { EXPECT_EQ(D3D8_Im2DRenderIndexedPrimitive(1, v.data(), 4, many.data(), 10001), 1); });
    EXPECT_EQ(Count(log, "DrawIndexedPrimitive("), 0) << log;
    EXPECT_NE(log.find("DrawPrimitive(2, 0, 5000)"), std::string::npos) << log;  // expanded line list
}

TEST_F(Im2DTest, IndicesPastTheVerticesAreRefusedAndAFailedDrawLeavesTheWritePositionAlone)
{
    auto v = Fan(3);
    uint16_t bad[3] = {0, 1, 3};
    std::string log = Record([&] {
        EXPECT_EQ(D3D8_Im2DRenderIndexedPrimitive(3, v.data(), 3, bad, 3), 0);
        EXPECT_EQ(D3D8_Im2DRenderTriangle(v.data(), 3, 0, 1, 3), 0);
        EXPECT_EQ(D3D8_Im2DRenderLine(v.data(), 3, -1, 1), 0);
        EXPECT_EQ(D3D8_Im2DRenderLine(v.data(), 3, 0, 3), 0);
        EXPECT_EQ(D3D8_Im2DRenderPrimitive(3, nullptr, 3) + D3D8_Im2DRenderPrimitive(3, v.data(), 0), 0);
        EXPECT_EQ(D3D8_Im2DRenderPrimitive(3, v.data(), 2), 0);  // short of a triangle
    });
    EXPECT_EQ(Count(log, "Draw"), 0);
    EXPECT_EQ(D3D8_Im2DRenderLine(v.data(), 3, 0, 2), 1);
    EXPECT_EQ(D3D8_Im2DRenderTriangle(v.data(), 3, 2, 1, 0), 1);
    ASSERT_EQ(D3D8_Im2DRenderPrimitive(3, v.data(), 3), 1);
    const uint32_t position = D3D8_Im2DVertexPosition();
    D3D8Test_InjectFault(D3D8_FAULT_DRAW, 0, 1, D3DERR_INVALIDCALL);
    EXPECT_EQ(D3D8_Im2DRenderPrimitive(3, v.data(), 3), 0);
    EXPECT_EQ(D3D8_Im2DVertexPosition(), position);
}

class Im2DHardwareTest : public D3D8SceneTest {
protected:
    void SetUp() override
    {
        answers.hardwareTnL = true;
        D3D8SceneTest::SetUp();
    }
};

TEST_F(Im2DHardwareTest, WithHardwareTnLTheRotatingBuffersServe)
{
    EXPECT_EQ(D3D8_Im2DHasOwnBuffers(), 0);
    auto v = Fan(4);
    uint16_t fan[4] = {0, 1, 2, 3};
    std::string log = Record([&] {
        EXPECT_EQ(D3D8_Im2DRenderPrimitive(1, v.data(), 4), 1);
        EXPECT_EQ(D3D8_Im2DRenderIndexedPrimitive(5, v.data(), 4, fan, 4), 1);
    });
    ExpectInOrder(log, {"DrawPrimitive(2, 0, 2)", "DrawPrimitive(6, 4, 2)"});  // expanded fan, appended
}

}  // namespace
