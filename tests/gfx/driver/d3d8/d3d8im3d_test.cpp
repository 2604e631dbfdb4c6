#include "gfx/driver/d3d8/d3d8im3d.h"

#include <vector>

#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"

namespace {

std::vector<Im3DVertex> Vertices(uint32_t n)
{
    std::vector<Im3DVertex> v(n);
    for (uint32_t i = 0; i < n; i++) v[i] = Im3DVertex{(float)i, (float)(i % 3), 5, 0, 0, 1, 0xFF00FF00, 0.5f, 0.25f};
    return v;
}

class Im3DNodeTest : public D3D8SceneTest {
protected:
    static std::string Submit(std::vector<Im3DVertex> &v, int32_t type, const uint16_t *indices, uint32_t k,
                              uint32_t flags = 0)
    {
        Im3DBatch batch = {(uint32_t)v.size(), v.data(), 36, flags, nullptr, type, indices, k};
        return Record([&] { EXPECT_EQ(D3D8_Im3DSubmit(&batch), 1); });
    }
};

TEST_F(Im3DNodeTest, LargerIndexedBatchesGoThroughTheIndexBufferAndWrap)
{
    auto v = Vertices(4);
    const uint16_t indices[9] = {0, 1, 2, 1, 2, 3, 2, 3, 0};
    std::string log = Submit(v, 3, indices, 9);
    EXPECT_NE(log.find("DrawIndexedPrimitive(4, 0, 4, 0, 3)"), std::string::npos) << log;
    EXPECT_EQ(D3D8_Im3DIndexCursor(), 9u);

    // Push the cursor close to the end: the next batch restarts with discard.
    std::vector<uint16_t> many(65520);
    for (size_t i = 0; i < many.size(); i++) many[i] = (uint16_t)(i % 4);
    Submit(v, 3, many.data(), (uint32_t)many.size());
    EXPECT_EQ(D3D8_Im3DIndexCursor(), 65529u);
    log = Submit(v, 3, indices, 9);
    EXPECT_NE(log.find(", 0, 18, 0x2800)"), std::string::npos) << log;
    EXPECT_EQ(D3D8_Im3DIndexCursor(), 9u);
}

TEST_F(Im3DNodeTest, BadIndicesAreSkippedAndAFailedDrawOrAMissingIndexBufferDrawsFromUserMemory)
{
    auto v = Vertices(3);
    // Expanded and through the index buffer.
    const std::vector<uint16_t> lists[] = {{0, 1, 3}, {0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 9}};
    for (const auto& indices : lists) {
        std::string log = Submit(v, 3, indices.data(), (uint32_t)indices.size());
        EXPECT_EQ(Count(log, "Draw"), 0) << log;
    }
    D3D8Test_InjectFault(D3D8_FAULT_DRAW, 0, 1, D3DERR_INVALIDCALL);
    std::string log = Submit(v, 5, nullptr, 0);
    EXPECT_NE(log.find("DrawPrimitiveUP(6, 1, 36)"), std::string::npos) << log;
    D3D8_Im3DClose();
    v = Vertices(6);
    const uint16_t indices[12] = {0, 1, 2, 2, 1, 3, 3, 4, 5, 5, 4, 0};
    ExpectInOrder(Submit(v, 3, indices, 12), {"SetVertexShader(0x152)", "DrawIndexedPrimitiveUP(4, 0, 6, 4, 101, 36)"});
    ASSERT_EQ(D3D8_Im3DOpen(), 1);
}

}  // namespace
