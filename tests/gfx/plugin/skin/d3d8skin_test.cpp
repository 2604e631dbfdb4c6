#include "gfx/plugin/skin/d3d8skin.h"

#include "gfx/plugin/skin/skin.h"
#include "tests/gfx/plugin/plugin_fixture.h"

using namespace plugintest;

namespace {

// Skinned grids drawn by the skinned pipeline; the deformed vertices are
// read back from the vertex buffer the draw used.
class D3D8SkinTest : public PluginSceneTest {
protected:
    std::vector<BoneHierarchy*> hierarchies;
    void TearDown() override
    {
        for (Atomic* a : atomics) Skin_AtomicSetHierarchy(a, nullptr);
        for (BoneHierarchy* h : hierarchies) HAnim_HierarchyDestroy(h);
        PluginSceneTest::TearDown();
    }
    // A 2 x 2 grid (9 vertices) whose every vertex has the same weights and
    // bones, skinned over `bones` bones with identity inverse matrices, at z
    // (on frame when given), in the world.
    Atomic* Skinned(uint32_t flags, std::vector<float> weights, uint32_t packedBones, int32_t bones,
                    BoneHierarchy* hierarchy, Frame* frame = nullptr)
    {
        Geometry* g = MakeGrid(2, 2, flags, white);
        weights.resize(4, 0.0f);
        std::vector<float> w;
        for (int32_t v = 0; v < g->numVertices; v++) w.insert(w.end(), weights.begin(), weights.end());
        const std::vector<uint32_t> b((size_t)g->numVertices, packedBones);
        Matrix identity;
        Matrix_SetIdentity(&identity);
        const std::vector<Matrix> inverse((size_t)bones, identity);
        Skin_GeometrySetSkin(g, Skin_Create(g->numVertices, bones, w.data(), b.data(), inverse.data()));
        Atomic* a = Add(g);
        if (frame) Atomic_SetFrame(a, frame);
        Skin_AtomicSetHierarchy(a, hierarchy);
        Skin_AtomicSetType(a, SKIN_TYPE_GENERIC);
        return a;
    }
    BoneHierarchy* Hierarchy(int32_t nodes, uint32_t flags = 0)
    {
        BoneHierarchy* h = HAnim_HierarchyCreate(nodes, nullptr, nullptr, flags, 0);
        for (int32_t i = 0; h->matrixArray && i < nodes; i++) Matrix_SetIdentity(&h->matrixArray[i]);
        hierarchies.push_back(h);
        return h;
    }
    static const D3D8MeshInstance& Record(Atomic* a) { return Records(a->geometry->instanceData)[0]; }
    // The vertex range the atomic's last draw used.
    static std::vector<float> Vertices(Atomic* a)
    {
        const D3D8MeshInstance& r = Record(a);
        uint8_t* p = nullptr;
        const uint32_t first = r.baseIndex - r.minVertexIndex, bytes = (uint32_t)a->geometry->numVertices * r.stride;
        EXPECT_GE(r.vertexBuffer->Lock(first * r.stride, bytes, &p, D3DLOCK_READONLY), 0);
        std::vector<float> out((float*)p, (float*)(p + bytes));
        r.vertexBuffer->Unlock();
        return out;
    }
    // Drawn, every vertex moved from the rest grid by d.
    void ExpectMoved(Atomic* a, Vec3 d, bool draw = true)
    {
        if (draw) Draw({a});
        const std::vector<float> v = Vertices(a);
        const size_t floats = Record(a).stride / 4;
        const Vec3* rest = a->geometry->morphTarget[0].verts;
        for (int32_t i = 0; i < 3 * a->geometry->numVertices; i++)
            EXPECT_NEAR(v[i / 3 * floats + i % 3], (&rest[i / 3].x)[i % 3] + (&d.x)[i % 3], 1e-5f) << i;
    }
};

TEST_F(D3D8SkinTest, AtomicsSharingAHierarchyArePosedSeparatelyAndOneAtomicBuildsOncePerUpdate)
{
    BoneHierarchy* h = Hierarchy(1);
    Atomic* a = Skinned(GEOMETRY_POSITIONS, {1}, 0, 1, h);
    Atomic* b = Skinned(GEOMETRY_POSITIONS, {1}, 0, 1, h);
    const uint32_t builds = Skin_GetPaletteBuildCount();
    Snapshot(camera, [&] {
        // The owner poses the shared hierarchy for each instance before its draw.
        h->matrixArray[0] = Translation(1, 0, 0);
        Atomic_Render(a);
        ExpectMoved(a, {1, 0, 0}, false);
        h->matrixArray[0] = Translation(0, 3, 0);
        Atomic_Render(b);
        ExpectMoved(b, {0, 3, 0}, false);
        Atomic_Render(b);  // the same atomic again in this update: the palette stands
        EXPECT_EQ(Skin_GetPaletteBuildCount(), builds + 2);
    });
    Draw({b});  // the next camera update rebuilds
    EXPECT_EQ(Skin_GetPaletteBuildCount(), builds + 3);
    // A hierarchy destroyed and another made at its address is a new key.
    Snapshot(camera, [&] {
        Atomic_Render(b);
        HAnim_HierarchyDestroy(h);
        hierarchies.clear();
        BoneHierarchy* fresh = Hierarchy(1);
        ASSERT_EQ(fresh, h);
        fresh->matrixArray[0] = Translation(0, 0, 4);
        Atomic_Render(b);
        ExpectMoved(b, {0, 0, 4}, false);
    });
}

TEST_F(D3D8SkinTest, HierarchyFlagsChooseWorldLocalOrFrameMatricesAndThePaletteEndsAtTheBonesOrNodes)
{
    Frame* placed = Own(worldshapes::FrameAt(0, 0, 5));
    Atomic* a = Skinned(GEOMETRY_POSITIONS, {1}, 0, 1, Hierarchy(1), placed);
    ExpectMoved(a, {0, 0, -5});  // world-space bone matrices are taken back into the atomic's space
    Skin_AtomicSetHierarchy(a, Hierarchy(1, HANIM_LOCAL_SPACE));
    ExpectMoved(a, {0, 0, 0});  // matrices in the atomic's space already skip the inverse
    // Without matrices each node's frame is the bone; a node without one is the identity.
    BoneHierarchy* byFrame = Hierarchy(2, HANIM_NO_MATRICES);
    byFrame->nodeInfo[0].frame = Own(worldshapes::FrameAt(2, 0, 5));
    Skin_AtomicSetHierarchy(a, byFrame);
    ExpectMoved(a, {2, 0, 0});
    ExpectMoved(Skinned(GEOMETRY_POSITIONS, {1}, 0x01, 2, byFrame, placed), {0, 0, 0});
    // The palette covers min(nodes, bones, 256): indices past it, and an
    // inverse matrix that claims to be the identity, are the identity.
    BoneHierarchy* three = Hierarchy(3);
    for (int i = 0; i < 3; i++) three->matrixArray[i] = Translation(1, 1, 1);
    ExpectMoved(Skinned(GEOMETRY_POSITIONS, {1}, 0x02, 2, three), {0, 0, 0});  // bone 2 of a 2-bone skin
    BoneHierarchy* one = Hierarchy(1);
    one->matrixArray[0] = Translation(1, 1, 1);
    ExpectMoved(Skinned(GEOMETRY_POSITIONS, {1}, 0x01, 4, one), {0, 0, 0});  // 4 bones, 1 node
    Atomic* flagged = Skinned(GEOMETRY_POSITIONS, {1}, 0, 1, one);
    Skin* s = Skin_GeometryGetSkin(flagged->geometry);
    s->inverseMatrices[0] = Translation(5, 5, 5);
    s->inverseMatrices[0].flags = MATRIX_IDENTITY_FLAGS;  // the flag wins over the words
    ExpectMoved(flagged, {1, 1, 1});
}

class D3D8SkinHardwareTest : public D3D8SkinTest {
protected:
    void SetUp() override
    {
        answers.hardwareTnL = true;
        D3D8SkinTest::SetUp();
    }
};

TEST_F(D3D8SkinHardwareTest, WithHardwareLightingVerticesGoToDynamicBuffersAndNormalsAreRenormalised)
{
    BoneHierarchy* h = Hierarchy(1);
    h->matrixArray[0] = Translation(0, 0, 1);
    Atomic* a = Skinned(GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT | GEOMETRY_LIGHT, {1}, 0, 1, h);
    Light_SetFlags(AddLight(LIGHT_AMBIENT, {1, 1, 1, 1}), LIGHT_LIGHT_ATOMICS);  // lighting on for the draw
    uint32_t normalize = 0;
    Snapshot(camera, [&] {
        Atomic_Render(a);
        normalize = State(D3DRS_NORMALIZENORMALS);
    });
    EXPECT_EQ(normalize, 1u);  // the identity frame would not need it without hardware lighting
    EXPECT_EQ(Record(a).managed, 0);
    ExpectMoved(a, {0, 0, 1}, false);
}

}  // namespace
