#include "gfx/plugin/skin/skin.h"

#include <cstring>

#include "gfx/core/pipeline.h"
#include "gfx/plugin/skin/d3d8skin.h"
#include "tests/gfx/plugin/plugin_fixture.h"

using namespace worldtest;

namespace {

class SkinTest : public PluginTest {
protected:
    static uint32_t Pack(uint8_t a, uint8_t b = 0, uint8_t c = 0, uint8_t d = 0)
    {
        return a | (uint32_t)b << 8 | (uint32_t)c << 16 | (uint32_t)d << 24;
    }
    // A geometry of v vertices (positions only, no triangles).
    static Geometry* Points(int32_t v)
    {
        Geometry* g = Geometry_Create(v, 0, GEOMETRY_POSITIONS);
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
        const Matrix inverse[2] = {Identity(), Translation(0, 2, 0)};
        return Skin_Create(2, 2, weights, bones, inverse);
    }
    static Bytes WriteWithSkin(Geometry* g) { return WriteGeometry(g); }
};

TEST_F(SkinTest, CreationFindsTheWeightsInUseAndTheWeightedBonesInFirstAppearanceOrder)
{
    const float slot0Only[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    const uint32_t bones[3] = {Pack(7, 2), Pack(3), Pack(7)};  // slot 1 of vertex 0 weighs nothing
    Skin* s = Skin_Create(3, 8, slot0Only, bones, std::vector<Matrix>(8, Identity()).data());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->maxWeights, 1u);
    ASSERT_EQ(s->numUsedBones, 2u);
    EXPECT_EQ(s->usedBones[0], 7);
    EXPECT_EQ(s->usedBones[1], 3);
    EXPECT_EQ((uintptr_t)s->inverseMatrices % 16, 0u);
    Geometry* g = Points(3);
    Skin_GeometrySetSkin(g, s);
    EXPECT_EQ(s->usedBones[0], 3);  // sorted once set
    EXPECT_EQ(s->usedBones[1], 7);
    Geometry_Destroy(g);

    // The scan stops at four and never looks at slot 0.
    const float mixed[12] = {0, 0.5f, 0, 0, 0.5f, 0.2f, 0.3f, 0, 0.1f, 0.1f, 0.1f, 0.7f};
    s = Skin_Create(3, 8, mixed, bones, std::vector<Matrix>(8, Identity()).data());
    EXPECT_EQ(s->maxWeights, 4u);
    Skin_Destroy(s);
    const float two[8] = {0.5f, 0.5f, 0, 0.9f, 1, 0, 0, 0};
    s = Skin_Create(2, 8, two, bones, std::vector<Matrix>(8, Identity()).data());
    EXPECT_EQ(s->maxWeights, 2u);  // vertex 0 stops at its zero slot 2
    Skin_Destroy(s);
}

TEST_F(SkinTest, SortingOrdersWeightsHeaviestFirstAndMovesTheirBonesAlong)
{
    const float weights[8] = {0.2f, 0.5f, 0.3f, 0, 1.0f, 0.4f, 0.5f, 0};
    const uint32_t bones[2] = {Pack(1, 2, 3, 4), Pack(5, 6, 7, 8)};
    Skin* s = Skin_Create(2, 9, weights, bones, std::vector<Matrix>(9, Identity()).data());
    Geometry* g = Points(2);
    Skin_GeometrySetSkin(g, s);
    EXPECT_EQ(s->vertexWeights[0], 0.5f);
    EXPECT_EQ(s->vertexWeights[1], 0.3f);
    EXPECT_EQ(s->vertexWeights[2], 0.2f);
    EXPECT_EQ(s->vertexWeights[3], 0.0f);
    EXPECT_EQ(s->vertexBoneIndices[0], Pack(2, 3, 1, 4));
    // A slot-0 weight of 1.0 marks a vertex as done.
    EXPECT_EQ(s->vertexWeights[5], 0.4f);
    EXPECT_EQ(s->vertexBoneIndices[1], Pack(5, 6, 7, 8));
    // Setting the same skin again does nothing; none clears; the old skin
    // stays its holder's.
    Skin_GeometrySetSkin(g, s);
    EXPECT_EQ(Skin_GeometryGetSkin(g), s);
    Skin_GeometrySetSkin(g, nullptr);
    EXPECT_EQ(Skin_GeometryGetSkin(g), nullptr);
    Geometry_Destroy(g);
    EXPECT_EQ(s->vertexWeights[0], 0.5f);  // still alive
    Skin_Destroy(s);
}

TEST_F(SkinTest, TheExampleSkinChunkIsWrittenByteForByteAndReadsBackEqual)
{
    Geometry* g = Points(2);
    Skin_GeometrySetSkin(g, Example());
    Bytes chunk = WriteGeometry(g);
    const Bytes payload = SubChunk(chunk, PLUGIN_SKIN);
    ASSERT_EQ(payload.size(), 186u);  // 64 B + 20 V + U + 16
    EXPECT_EQ(U32(payload, 0), 0x00020202u);
    EXPECT_EQ(payload[4], 0);
    EXPECT_EQ(payload[5], 1);
    EXPECT_EQ(U32(payload, 6), 0x100u);
    EXPECT_EQ(U32(payload, 10), 0x1u);
    EXPECT_EQ(U32(payload, 14), FloatBits(0.75f));
    EXPECT_EQ(U32(payload, 30), FloatBits(1.0f));
    EXPECT_EQ(U32(payload, 46 + 12), 0x20003u);  // bone 0 is a true identity
    EXPECT_EQ(U32(payload, 110 + 12), (uint32_t)MATRIX_ORTHONORMAL);
    EXPECT_EQ(U32(payload, 110 + 52), FloatBits(2.0f));
    for (int i = 0; i < 3; i++) EXPECT_EQ(U32(payload, 174 + 4 * (size_t)i), 0u);

    Geometry* back = ReadGeometry(chunk);
    ASSERT_NE(back, nullptr);
    const Skin* a = Skin_GeometryGetSkin(g);
    const Skin* b = Skin_GeometryGetSkin(back);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->numBones, 2u);
    EXPECT_EQ(b->maxWeights, 2u);
    EXPECT_EQ(b->numUsedBones, 2u);
    EXPECT_EQ(memcmp(b->vertexWeights, a->vertexWeights, 32), 0);
    EXPECT_EQ(memcmp(b->vertexBoneIndices, a->vertexBoneIndices, 8), 0);
    EXPECT_EQ(memcmp(b->inverseMatrices, a->inverseMatrices, 128), 0);
    EXPECT_EQ(b->splitBlock, nullptr);
    Geometry_Destroy(back);
    Geometry_Destroy(g);
}

TEST_F(SkinTest, BoneSplitDataTravelsWithTheSkinAndCountsInItsSize)
{
    Geometry* g = Points(2);
    Skin* s = Example();
    s->boneLimit = 12;
    s->numMeshes = 2;
    s->numRLE = 1;
    s->splitBlock = (uint8_t*)Engine_Malloc(2 + 2 * 3);
    for (int i = 0; i < 8; i++) s->splitBlock[i] = (uint8_t)(10 + i);
    Skin_GeometrySetSkin(g, s);
    Bytes chunk = WriteGeometry(g);
    EXPECT_EQ(SubChunk(chunk, PLUGIN_SKIN).size(), 186u + 8u);
    Geometry* back = ReadGeometry(chunk);
    ASSERT_NE(back, nullptr);
    const Skin* b = Skin_GeometryGetSkin(back);
    EXPECT_EQ(b->boneLimit, 12);
    EXPECT_EQ(b->numMeshes, 2);
    EXPECT_EQ(b->numRLE, 1);
    ASSERT_NE(b->splitBlock, nullptr);
    EXPECT_EQ(b->meshBoneRemap, b->splitBlock + 2);
    EXPECT_EQ(b->meshRLE, b->splitBlock + 6);
    EXPECT_EQ(b->splitBlock[7], 17);
    Geometry_Destroy(back);
    Geometry_Destroy(g);
}

TEST_F(SkinTest, TheOlderLayoutAndTheLegacyAtomicChunkReadToTheSameSkin)
{
    Geometry* g = Points(2);
    Skin* expected = Example();
    Skin_GeometrySetSkin(g, expected);
    const Bytes current = SubChunk(WriteGeometry(g), PLUGIN_SKIN);
    // Older: no maximum weights, no used bones, four bytes before each matrix.
    Bytes older;
    Words(older, {0x00000002u, 0x100u, 0x1u});
    older.insert(older.end(), current.begin() + 14, current.begin() + 46);
    for (int b = 0; b < 2; b++) {
        Words(older, {0xEEEEEEEEu});
        older.insert(older.end(), current.begin() + 46 + 64 * b, current.begin() + 110 + 64 * b);
    }
    Skin_GeometrySetSkin(g, nullptr);
    Bytes plain = WriteGeometry(g);
    Skin_GeometrySetSkin(g, expected);
    Bytes chunk = AppendSubChunk(plain, PLUGIN_SKIN, older);
    Geometry* back = ReadGeometry(chunk);
    ASSERT_NE(back, nullptr);
    const Skin* s = Skin_GeometryGetSkin(back);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->maxWeights, 2u);
    EXPECT_EQ(s->numUsedBones, 2u);
    EXPECT_EQ(memcmp(s->inverseMatrices, expected->inverseMatrices, 128), 0);
    EXPECT_EQ(memcmp(s->vertexWeights, expected->vertexWeights, 32), 0);
    Geometry_Destroy(back);

    // Legacy atomic chunk: a whole i32 bone count, four skipped bytes, the
    // vertex arrays, and twelve skipped bytes before each matrix.
    Bytes legacy;
    Words(legacy, {2, 0, 0x100u, 0x1u});
    legacy.insert(legacy.end(), current.begin() + 14, current.begin() + 46);
    for (int b = 0; b < 2; b++) {
        Words(legacy, {1, 2, 3});
        legacy.insert(legacy.end(), current.begin() + 46 + 64 * b, current.begin() + 110 + 64 * b);
    }
    Skin_GeometrySetSkin(g, nullptr);
    Atomic* atomic = Atomic_Create();
    Atomic_SetGeometry(atomic, g, 0);
    Bytes atomicChunk = AppendSubChunk(WriteAtomic(atomic), PLUGIN_SKIN, legacy);
    Atomic_Destroy(atomic);
    Atomic* read = ReadAtomic(atomicChunk);
    ASSERT_NE(read, nullptr);
    s = Skin_GeometryGetSkin(read->geometry);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->maxWeights, 2u);
    EXPECT_EQ(memcmp(s->inverseMatrices, expected->inverseMatrices, 128), 0);
    EXPECT_EQ(read->pipeline, Skin_GetD3D8Pipeline());  // the always callback saw the skin
    Atomic_Destroy(read);
    Skin_GeometrySetSkin(g, expected);
    Geometry_Destroy(g);
}

TEST_F(SkinTest, ANativeGeometrysStubCarriesOnlyTheBoneCount)
{
    Geometry* g = Geometry_Create(2, 0, GEOMETRY_POSITIONS | GEOMETRY_NATIVE);
    Geometry_Unlock(g);
    Bytes plain = WriteGeometry(g);
    Geometry_Destroy(g);
    auto stub = [](uint32_t version, uint32_t platform, uint32_t bones) {
        Bytes b;
        Words(b, {CHUNK_STRUCT, 8, Stream_EncodeStamp(version, STREAM_BUILD), platform, bones});
        return b;
    };
    auto native = [&](const Bytes& payload) { return AppendSubChunk(plain, PLUGIN_SKIN, payload); };
    Bytes chunk = native(stub(STREAM_VERSION, 8, 17));
    Geometry* back = ReadGeometry(chunk);
    ASSERT_NE(back, nullptr);
    const Skin* s = Skin_GeometryGetSkin(back);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->numBones, 17u);
    EXPECT_EQ(s->maxWeights, 0u);
    Geometry_Destroy(back);
    for (const Bytes& bad : {stub(0x30000, 8, 17), stub(STREAM_VERSION, 9, 17)}) {
        Bytes c = native(bad);
        EXPECT_EQ(ReadGeometry(c), nullptr);
    }
    Error_Get(nullptr);
}

// Every count is compared with the sub-chunk's length before anything is
// allocated, and every weighted slot must name one of the skin's bones.
TEST_F(SkinTest, MalformedSkinChunksFailTheGeometryWithNothingLeftBehind)
{
    Geometry* g = Points(2);
    Skin* example = Example();
    Skin_GeometrySetSkin(g, example);
    const Bytes good = SubChunk(WriteGeometry(g), PLUGIN_SKIN);
    Skin_GeometrySetSkin(g, nullptr);
    const Bytes plain = WriteGeometry(g);
    Skin_Destroy(example);
    Geometry_Destroy(g);
    struct Case {
        const char* what;
        Bytes payload;
    };
    auto edit = [&](size_t at, uint32_t value) { return Edited(good, at, value); };
    const std::vector<Case> cases = {
        {"five weights", edit(0, 0x00050202u)},
        {"more bones than the chunk holds", edit(0, 0x000202FFu)},
        {"more used bones than the chunk holds", edit(0, 0x0002FF02u)},
        {"weighted slot past the bones", edit(6, 0x00000200u)},
        {"slot past the weights in use weighted on a bone past the bones",
         Edited(edit(10, Pack(1, 0, 0, 5)), 42, FloatBits(0.5f))},
        {"negative split meshes", edit(178, 0xFFFFFFFFu)},
        {"split block past the chunk", edit(178, 4)},
        {"cut short", Bytes(good.begin(), good.begin() + 100)},
        {"older layout past the chunk", edit(0, 0x00000009u)},
    };
    for (const Case& c : cases) {
        Bytes chunk = AppendSubChunk(plain, PLUGIN_SKIN, c.payload);
        const long before = Live();
        Error_Get(nullptr);
        EXPECT_EQ(ReadGeometry(chunk), nullptr) << c.what;
        EXPECT_EQ(Live(), before) << c.what;
        ErrorRecord e;
        Error_Get(&e);
        EXPECT_NE(e.code, (int32_t)ERR_NO_ERROR) << c.what;
    }
    // A zero-weight slot may name any bone.
    Bytes chunk = AppendSubChunk(plain, PLUGIN_SKIN, edit(10, 0x0000FF01u));
    Geometry* back = ReadGeometry(chunk);
    EXPECT_NE(back, nullptr);
    if (back) Geometry_Destroy(back);
}

TEST_F(SkinTest, ASkinOfMoreBonesThanAStreamCarriesIsKeptButNotWritten)
{
    const float weights[4] = {1, 0, 0, 0};
    const uint32_t bones[1] = {Pack(255)};
    Skin* s = Skin_Create(1, 256, weights, bones, std::vector<Matrix>(256, Identity()).data());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->numBones, 256u);
    Geometry* g = Points(1);
    Skin_GeometrySetSkin(g, s);
    Stream* out = OpenWrite();
    EXPECT_EQ(Geometry_StreamWrite(g, out), nullptr);
    CloseWrite(out);
    ErrorRecord e;
    Error_Get(&e);
    EXPECT_EQ(e.pluginId, (int32_t)PLUGIN_SKIN);
    EXPECT_EQ(e.code, (int32_t)SKIN_ERR_BAD_DATA);
    Geometry_Destroy(g);
}

TEST_F(SkinTest, SkinnedAtomicsTakeTheSkinnedPipelineWhateverTheirEffectsFlag)
{
    Geometry* g = MakeGrid(1, 1, GEOMETRY_POSITIONS, nullptr);
    const float weights[16] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    const uint32_t bones[4] = {0, 0, 0, 0};
    const Matrix identity = Identity();
    Skin_GeometrySetSkin(g, Skin_Create(4, 1, weights, bones, &identity));
    Atomic* atomic = Atomic_Create();
    Atomic_SetGeometry(atomic, g, 0);
    MatFX_EnableAtomicEffects(atomic);
    ASSERT_NE(atomic->pipeline, Skin_GetD3D8Pipeline());
    Bytes bytes = WriteAtomic(atomic);
    Atomic* read = ReadAtomic(bytes);
    ASSERT_NE(read, nullptr);
    EXPECT_TRUE(MatFX_AtomicEffectsEnabled(read));
    EXPECT_EQ(read->pipeline, Skin_GetD3D8Pipeline());
    EXPECT_EQ(Skin_GetD3D8Pipeline()->pluginId, (uint32_t)PLUGIN_SKIN);
    EXPECT_EQ(Skin_GetD3D8Pipeline()->pluginData, 1u);
    // Every type gives the one pipeline; the hierarchy is shared by copies.
    for (uint32_t type : {SKIN_TYPE_GENERIC, SKIN_TYPE_MATFX, SKIN_TYPE_TOON}) {
        atomic->pipeline = nullptr;
        EXPECT_EQ(Skin_AtomicSetType(atomic, type)->pipeline, Skin_GetD3D8Pipeline());
    }
    BoneHierarchy* h = HAnim_HierarchyCreate(1, nullptr, nullptr, 0, 0);
    Skin_AtomicSetHierarchy(atomic, h);
    for (const PluginEntry* e = Atomic_GetRegistry()->first; e; e = e->next)
        if (e->pluginId == PLUGIN_SKIN) e->copy(read, atomic, e->offset, e->size);
    EXPECT_EQ(Skin_AtomicGetHierarchy(read), h);
    Atomic_Destroy(read);
    Atomic_Destroy(atomic);
    HAnim_HierarchyDestroy(h);
    Geometry_Destroy(g);
}

}  // namespace
