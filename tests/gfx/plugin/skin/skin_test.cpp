#include "gfx/plugin/skin/skin.h"

#include "gfx/core/pipeline.h"
#include "gfx/plugin/skin/d3d8skin.h"
#include "tests/gfx/plugin/plugin_fixture.h"

using namespace plugintest;

namespace {

uint32_t Pack(uint8_t a, uint8_t b = 0, uint8_t c = 0, uint8_t d = 0)
{
    return a | (uint32_t)b << 8 | (uint32_t)c << 16 | (uint32_t)d << 24;
}
std::vector<Matrix> Identities(size_t n)
{
    Matrix m;
    Matrix_SetIdentity(&m);
    return std::vector<Matrix>(n, m);
}

class SkinTest : public PluginTest {
protected:
    // An owned geometry of v vertices (positions only, no triangles).
    Geometry* Points(int32_t v)
    {
        Geometry* g = Own(Geometry_Create(v, 0, GEOMETRY_POSITIONS));
        for (int32_t i = 0; i < v; i++) g->morphTarget[0].verts[i] = Vec3{(float)i, 0, 0};
        Geometry_Unlock(g);
        return g;
    }
    // The skin of the worked example: vertex 0 on bones 0 and 1 (0.75,
    // 0.25), vertex 1 on bone 1 alone; bone 1 moved by (0, 2, 0).
    static Skin* Example()
    {
        const float weights[8] = {0.75f, 0.25f, 0, 0, 1, 0, 0, 0};
        const uint32_t bones[2] = {0x00000100u, 0x00000001u};
        const Matrix inverse[2] = {Identities(1)[0], Translation(0, 2, 0)};
        return Skin_Create(2, 2, weights, bones, inverse);
    }
};

TEST_F(SkinTest, TheExampleSkinChunkIsWrittenByteForByteAndReadsBackWithItsBoneSplitData)
{
    Geometry* g = Points(2);
    Skin* example = Example();
    Skin_GeometrySetSkin(g, example);
    const Bytes payload = SubChunk(WriteGeometry(g), PLUGIN_SKIN);
    ASSERT_EQ(payload.size(), 186u);  // 64 B + 20 V + U + 16
    // clang-format off
    const uint32_t words[][2] = {{0, 0x00020202u}, {6, 0x100}, {10, 1}, {14, FloatBits(0.75f)}, {30, FloatBits(1)},
                                 {46 + 12, 0x20003u}, {110 + 12, MATRIX_ORTHONORMAL}, {110 + 52, FloatBits(2)},
                                 {174, 0}, {178, 0}, {182, 0}};
    // clang-format on
    for (const auto& w : words) EXPECT_EQ(U32(payload, w[0]), w[1]) << w[0];
    EXPECT_EQ(payload[4] * 10 + payload[5], 1);  // the used bones 0 and 1
    // Bone-split data travels with the skin and counts in its size.
    example->boneLimit = 12, example->numMeshes = 2, example->numRLE = 1;
    example->splitBlock = (uint8_t*)Engine_Malloc(2 + 2 * 3);
    for (int i = 0; i < 8; i++) example->splitBlock[i] = (uint8_t)(10 + i);
    Bytes chunk = WriteGeometry(g);
    EXPECT_EQ(SubChunk(chunk, PLUGIN_SKIN).size(), 186u + 8u);
    Geometry* back = Own(ReadGeometry(chunk));
    ASSERT_NE(back, nullptr);
    const Skin* b = Skin_GeometryGetSkin(back);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(std::make_tuple(std::tuple(b->numBones, b->maxWeights, b->numUsedBones),
                              memcmp(b->vertexWeights, example->vertexWeights, 32),
                              memcmp(b->vertexBoneIndices, example->vertexBoneIndices, 8),
                              memcmp(b->inverseMatrices, example->inverseMatrices, 128),
                              b->boneLimit * 100 + b->numMeshes * 10 + b->numRLE),
              std::make_tuple(std::tuple(2u, 2u, 2u), 0, 0, 0, 1221));
    ASSERT_NE(b->splitBlock, nullptr);
    EXPECT_EQ(std::tuple(b->meshBoneRemap, b->meshRLE, b->splitBlock[7]),
              std::tuple(b->splitBlock + 2, b->splitBlock + 6, 17));
}

TEST_F(SkinTest, TheOlderLayoutTheLegacyAtomicChunkAndANativeStubReadBack)
{
    Geometry* g = Points(2);
    const Bytes plain = WriteGeometry(g);
    Skin* expected = Example();
    Skin_GeometrySetSkin(g, expected);
    const Bytes current = SubChunk(WriteGeometry(g), PLUGIN_SKIN);
    // Older: no maximum weights, no used bones, four bytes before each
    // matrix. Legacy atomic chunk: a whole i32 bone count, four skipped
    // bytes, the vertex arrays, twelve skipped bytes before each matrix.
    Bytes older, legacy;
    Words(older, {2, 0x100u, 0x1u});
    Words(legacy, {2, 0, 0x100u, 0x1u});
    for (Bytes* b : {&older, &legacy}) b->insert(b->end(), current.begin() + 14, current.begin() + 46);
    for (int bone = 0; bone < 2; bone++) {
        Words(older, {0xEEEEEEEEu});
        Words(legacy, {1, 2, 3});
        for (Bytes* b : {&older, &legacy})
            b->insert(b->end(), current.begin() + 46 + 64 * bone, current.begin() + 110 + 64 * bone);
    }
    Bytes chunk = AppendSubChunk(plain, PLUGIN_SKIN, older);
    Geometry* back = Own(ReadGeometry(chunk));
    Bytes atomicChunk = AppendSubChunk(WriteAtomic(Own(MakeAtomic(Points(2)))), PLUGIN_SKIN, legacy);
    Atomic* read = Own(ReadAtomic(atomicChunk));
    ASSERT_TRUE(back && read);
    for (const Skin* s : {Skin_GeometryGetSkin(back), Skin_GeometryGetSkin(read->geometry)}) {
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->maxWeights * 10 + s->numUsedBones, 22u);
        EXPECT_EQ(memcmp(s->inverseMatrices, expected->inverseMatrices, 128), 0);
        EXPECT_EQ(memcmp(s->vertexWeights, expected->vertexWeights, 32), 0);
    }
    EXPECT_EQ(read->pipeline, Skin_GetD3D8Pipeline());  // the always callback saw the skin

    // A native geometry's stub carries only the bone count.
    Geometry* native = Own(Geometry_Create(2, 0, GEOMETRY_POSITIONS | GEOMETRY_NATIVE));
    Geometry_Unlock(native);
    const Bytes nativePlain = WriteGeometry(native);
    auto stub = [&](uint32_t version, uint32_t platform) {
        Bytes b;
        Words(b, {CHUNK_STRUCT, 8, Stream_EncodeStamp(version, STREAM_BUILD), platform, 17});
        return AppendSubChunk(nativePlain, PLUGIN_SKIN, b);
    };
    chunk = stub(STREAM_VERSION, 8);
    back = Own(ReadGeometry(chunk));
    ASSERT_NE(back, nullptr);
    ASSERT_NE(Skin_GeometryGetSkin(back), nullptr);
    EXPECT_EQ(std::tuple(Skin_GeometryGetSkin(back)->numBones, Skin_GeometryGetSkin(back)->maxWeights),
              std::tuple(17u, 0u));
    ExpectRefused(stub(0x30000, 8), {{"old native version", kKeep, 0, 0}}, ReadGeometry);
    ExpectRefused(stub(STREAM_VERSION, 9), {{"another platform", kKeep, 0, 0}}, ReadGeometry);
}

// Every count is compared with the sub-chunk's length before anything is
// allocated, and every weighted slot must name one of the skin's bones.
TEST_F(SkinTest, MalformedSkinChunksFailTheGeometryWithNothingLeftBehind)
{
    Geometry* g = Points(2);
    const Bytes plain = WriteGeometry(g);
    Skin_GeometrySetSkin(g, Example());
    const Bytes good = SubChunk(WriteGeometry(g), PLUGIN_SKIN);
    auto with = [&](size_t at, uint32_t value) { return AppendSubChunk(plain, PLUGIN_SKIN, Edited(good, at, value)); };
    for (const auto& [what, chunk] : std::vector<std::pair<const char*, Bytes>>{
             {"five weights", with(0, 0x00050202u)},
             {"more bones than the chunk holds", with(0, 0x000202FFu)},
             {"more used bones than the chunk holds", with(0, 0x0002FF02u)},
             {"weighted slot past the bones", with(6, 0x00000200u)},
             {"slot past the weights in use weighted on a bone past the bones",
              AppendSubChunk(plain, PLUGIN_SKIN, Edited(Edited(good, 10, Pack(1, 0, 0, 5)), 42, FloatBits(0.5f)))},
             {"negative split meshes", with(178, 0xFFFFFFFFu)},
             {"split block past the chunk", with(178, 4)},
             {"cut short", AppendSubChunk(plain, PLUGIN_SKIN, Bytes(good.begin(), good.begin() + 100))},
             {"older layout past the chunk", with(0, 0x00000009u)}})
        ExpectRefused(chunk, {{what, kKeep, 0, 0}}, ReadGeometry);
    Bytes anyBone = with(10, 0x0000FF01u);  // a zero-weight slot may name any bone
    EXPECT_NE(Own(ReadGeometry(anyBone)), nullptr);
    // A skin of more bones than a stream carries is kept but not written.
    const float one[4] = {1, 0, 0, 0};
    const uint32_t last = Pack(255);
    Geometry* big = Points(1);
    Skin_GeometrySetSkin(big, Skin_Create(1, 256, one, &last, Identities(256).data()));
    EXPECT_EQ(Skin_GeometryGetSkin(big)->numBones, 256u);
    Stream* out = OpenWrite();
    EXPECT_EQ(Geometry_StreamWrite(big, out), nullptr);
    CloseWrite(out);
    EXPECT_EQ(TakeErrorOf(), std::pair((int32_t)PLUGIN_SKIN, (int32_t)SKIN_ERR_BAD_DATA));
}

}  // namespace
