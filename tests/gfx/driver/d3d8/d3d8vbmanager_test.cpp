#include "gfx/driver/d3d8/d3d8vbmanager.h"

#include <tuple>

#include "tests/gfx/world/world_fixture.h"

namespace {

class VertexBufferManagerTest : public WorldTest {
protected:
    static constexpr uint32_t kKey = 0x112;  // position, normal, one texture set: 32 bytes
    void SetUp() override
    {
        WorldTest::SetUp();
        VertexBufferManager_Open();  // a fresh manager
    }
    std::vector<VertexBufferRange> Ranges(uint32_t key = kKey)
    {
        VertexBufferRange out[16];
        const int32_t n = VertexBufferManager_GetFreeRanges(key, out, 16);
        return std::vector<VertexBufferRange>(out, out + std::min(n, 16));
    }
};

TEST_F(VertexBufferManagerTest, UnalignedRangesNeverHandOutMoreThanTheyHold)
{
    // Leave a free range [34, 74): 40 bytes, but only 26 from the first whole
    // vertex at 48. A 30-byte request must not be carved from it.
    const uint32_t key = 0x18 << 16;
    IDirect3DVertexBuffer8* vb = nullptr;
    uint32_t a, b, c, d, e;
    VertexBufferManager_AllocStride(key, 24, 10, &vb, &a);
    VertexBufferManager_AllocStride(key, 24, 50, &vb, &b);
    VertexBufferManager_AllocStride(key, 24, 10, &vb, &c);
    ASSERT_EQ(b, 1u);
    VertexBufferManager_FreeStride(key, 24, 50, vb, b);
    VertexBufferManager_AllocStride(key, 24, 10, &vb, &d);
    EXPECT_EQ(d, 1u);
    ASSERT_EQ(VertexBufferManager_AllocStride(key, 24, 30, &vb, &e), 1);
    EXPECT_GE(e * 24, 106u);
    for (const VertexBufferRange& r : Ranges(key)) EXPECT_LE(r.offset + r.size, 5462u * 24);
}

TEST_F(VertexBufferManagerTest, FreedNeighboursMergeWithinOneBufferOnly)
{
    IDirect3DVertexBuffer8 *vb = nullptr, *vb2 = nullptr;
    uint32_t a, b, c, d;
    ASSERT_EQ(VertexBufferManager_Alloc(kKey, 320, &vb, &a), 1);
    VertexBufferManager_Alloc(kKey, 320, &vb, &b);
    VertexBufferManager_Alloc(kKey, 320, &vb, &c);
    VertexBufferManager_Alloc(kKey, 131072 - 960, &vb, &d);  // fills the first buffer
    EXPECT_EQ(Ranges().size(), 0u);
    VertexBufferManager_Free(kKey, 320, vb, a);
    VertexBufferManager_Free(kKey, 320, vb, c);
    EXPECT_EQ(Ranges().size(), 2u);
    VertexBufferManager_Free(kKey, 320, vb, b);
    auto ranges = Ranges();
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(std::tuple(ranges[0].offset, ranges[0].size), std::tuple(0u, 960u));
    // A second buffer's range that starts where the first buffer's ends stays apart.
    uint32_t e;
    ASSERT_EQ(VertexBufferManager_Alloc(kKey, 131072, &vb2, &e), 1);
    ASSERT_NE(vb2, vb);
    VertexBufferManager_Free(kKey, 131072 - 960, vb, d);
    VertexBufferManager_Free(kKey, 131072, vb2, e);
    ranges = Ranges();
    ASSERT_EQ(ranges.size(), 2u);
    for (const VertexBufferRange& r : ranges) EXPECT_EQ(r.size, 131072u);
    // A request past the default size gets a buffer of its own.
    uint32_t f;
    ASSERT_EQ(VertexBufferManager_Alloc(kKey, 200000, &vb, &f), 1);
    EXPECT_EQ(std::tuple(f, VertexBufferManager_GetBufferCount(kKey), VertexBufferManager_GetBufferCount(0x18 << 16)),
              std::tuple(0u, 3, 0));
}

}  // namespace

TEST_F(VertexBufferManagerTest, StridesAndIndexRangesFollowTheFormatCodes)
{
    // clang-format off
    const uint32_t cases[][2] = {{0x002, 12}, {0x012, 24}, {0x052, 28}, {0x142, 24}, {0x252, 44}, {0x144, 28},
                                 {0x152, 36}, {0x102 | 3u << 16, 16}, {0x102 | 1u << 16, 24}, {0x00E, 32}, {0x0A2, 20},
                                 {0xF02, 0}};
    // clang-format on
    for (const auto& c : cases) EXPECT_EQ(D3D8_GetFVFStride(c[0]), c[1]) << std::hex << c[0];
    const uint16_t indices[] = {7, 3, 9};
    uint32_t count = 0, first = 0;
    D3D8_GetIndexRange(indices, 3, &count, &first);
    EXPECT_EQ(std::tuple(count, first), std::tuple(7u, 3u));
    D3D8_GetIndexRange(indices, 0, &count, &first);
    EXPECT_EQ(std::tuple(count, first), std::tuple(0u, 0u));
}
