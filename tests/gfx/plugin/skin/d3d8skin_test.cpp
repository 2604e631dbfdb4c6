#include "gfx/plugin/skin/d3d8skin.h"

#include <cstring>

#include "gfx/core/camera.h"
#include "gfx/core/pipeline.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "gfx/plugin/skin/skin.h"
#include "gfx/world/d3d8instance.h"
#include "tests/gfx/plugin/plugin_fixture.h"

using namespace worldtest;

namespace {

// Skinned grids drawn by the skinned pipeline; the deformed vertices are
// read back from the vertex buffer the draw used.
class D3D8SkinTest : public PluginTest {
protected:
    Camera* camera = nullptr;
    Material* material = nullptr;
    std::vector<Atomic*> atomics;
    std::vector<Frame*> frames;
    std::vector<BoneHierarchy*> hierarchies;

    void SetUp() override
    {
        PluginTest::SetUp();
        camera = MakeCamera(0, 0, -10);
        material = MakeMaterial();
    }
    void TearDown() override
    {
        for (Atomic* a : atomics) Atomic_Destroy(a);
        for (BoneHierarchy* h : hierarchies) HAnim_HierarchyDestroy(h);
        for (Frame* f : frames) Frame_Destroy(f);
        DestroyCamera(camera);
        Material_Destroy(material);
        PluginTest::TearDown();
    }
    // A 2 x 2 grid (9 vertices) whose every vertex has the same weights and
    // bones, skinned over `bones` bones with identity inverse matrices.
    Atomic* Skinned(uint32_t flags, std::vector<float> weights, uint32_t packedBones, int32_t bones,
                    BoneHierarchy* hierarchy, Frame* frame = nullptr)
    {
        Geometry* g = MakeGrid(2, 2, flags, material);
        std::vector<float> w;
        std::vector<uint32_t> b;
        weights.resize(4, 0.0f);
        for (int32_t v = 0; v < g->numVertices; v++) {
            w.insert(w.end(), weights.begin(), weights.end());
            b.push_back(packedBones);
        }
        std::vector<Matrix> inverse((size_t)bones, Identity());
        Skin_GeometrySetSkin(g, Skin_Create(g->numVertices, bones, w.data(), b.data(), inverse.data()));
        Atomic* a = Atomic_Create();
        Atomic_SetGeometry(a, g, 0);
        Geometry_Destroy(g);
        if (!frame) {
            frame = Frame_Create();
            frames.push_back(frame);
        }
        Atomic_SetFrame(a, frame);
        Skin_AtomicSetHierarchy(a, hierarchy);
        Skin_AtomicSetType(a, SKIN_TYPE_GENERIC);
        atomics.push_back(a);
        return a;
    }
    BoneHierarchy* Hierarchy(int32_t nodes, uint32_t flags = 0)
    {
        BoneHierarchy* h = HAnim_HierarchyCreate(nodes, nullptr, nullptr, flags, 0);
        for (int32_t i = 0; h->matrixArray && i < nodes; i++) Matrix_SetIdentity(&h->matrixArray[i]);
        hierarchies.push_back(h);
        return h;
    }
    void Draw(std::initializer_list<Atomic*> list)
    {
        Snapshot(camera, [&] {
            for (Atomic* a : list) Atomic_Render(a);
        });
    }
    // The vertex range the atomic's last draw used: count vertices of its
    // stride from the range's first vertex.
    static std::vector<float> Vertices(Atomic* a)
    {
        const Geometry* g = a->geometry;
        D3D8InstanceData* data = D3D8InstanceData_Get(g->instanceData);
        const D3D8MeshInstance& r = D3D8InstanceData_Records(data)[0];
        uint8_t* p = nullptr;
        const uint32_t first = r.baseIndex - r.minVertexIndex, bytes = (uint32_t)g->numVertices * r.stride;
        EXPECT_GE(r.vertexBuffer->Lock(first * r.stride, bytes, &p, D3DLOCK_READONLY), 0);
        std::vector<float> out((float*)p, (float*)(p + bytes));
        r.vertexBuffer->Unlock();
        return out;
    }
    static uint32_t Stride(Atomic* a)
    {
        return D3D8InstanceData_Records(D3D8InstanceData_Get(a->geometry->instanceData))[0].stride;
    }
    // Every vertex moved from the rest grid by d (positions at the start of
    // each vertex).
    static void ExpectMoved(Atomic* a, Vec3 d)
    {
        const std::vector<float> v = Vertices(a);
        const size_t floats = Stride(a) / 4;
        const MorphTarget& t = a->geometry->morphTarget[0];
        for (int32_t i = 0; i < a->geometry->numVertices; i++) {
            EXPECT_NEAR(v[i * floats + 0], t.verts[i].x + d.x, 1e-5f) << i;
            EXPECT_NEAR(v[i * floats + 1], t.verts[i].y + d.y, 1e-5f) << i;
            EXPECT_NEAR(v[i * floats + 2], t.verts[i].z + d.z, 1e-5f) << i;
        }
    }
};

TEST_F(D3D8SkinTest, TwoWeightedBonesBlendPositionsButDoNotTranslateNormals)
{
    BoneHierarchy* h = Hierarchy(2);
    h->matrixArray[1] = Translation(1, 0, 0);
    Atomic* a = Skinned(GEOMETRY_POSITIONS | GEOMETRY_NORMALS, {0.25f, 0.75f}, 0x0100, 2, h);
    Draw({a});
    ExpectMoved(a, {0.75f, 0, 0});
    const std::vector<float> v = Vertices(a);
    EXPECT_EQ(Stride(a), 24u);
    EXPECT_NEAR(v[3], 0, 1e-6f);
    EXPECT_NEAR(v[5], -1, 1e-6f);  // the grid's normal (0, 0, -1), untouched
}

// One used bone, a slot-0 weight of 1.0 and the general blend of the same
// bone twice all move every vertex by that bone alone.
TEST_F(D3D8SkinTest, TheSingleBoneShortcutsMatchTheGeneralBlend)
{
    BoneHierarchy* h = Hierarchy(2);
    h->matrixArray[1] = Translation(0, 2, 0);
    Atomic* oneBone = Skinned(GEOMETRY_POSITIONS, {1}, 0x01, 2, h);
    Atomic* fullWeight = Skinned(GEOMETRY_POSITIONS, {1, 0.5f}, 0x0001, 2, h);  // slot 1 never read
    Atomic* general = Skinned(GEOMETRY_POSITIONS, {0.5f, 0.25f, 0.25f, 0}, 0x010101, 2, h);
    EXPECT_EQ(Skin_GeometryGetSkin(oneBone->geometry)->maxWeights, 1u);
    EXPECT_EQ(Skin_GeometryGetSkin(fullWeight->geometry)->maxWeights, 2u);
    for (Atomic* a : {oneBone, fullWeight}) {
        Draw({a});
        ExpectMoved(a, {0, 2, 0});
    }
    Draw({general});
    EXPECT_EQ(Skin_GeometryGetSkin(general->geometry)->maxWeights, 3u);
    ExpectMoved(general, {0, 2, 0});
    // A negative slot-0 weight compares as unsigned bits: the single-bone
    // path (set after the sort, which would move it down).
    Atomic* negative = Skinned(GEOMETRY_POSITIONS, {0.75f, 0.25f}, 0x0001, 2, h);
    Skin* s = Skin_GeometryGetSkin(negative->geometry);
    for (uint32_t v = 0; v < s->numVertices; v++) s->vertexWeights[4 * v] = -0.5f;
    Draw({negative});
    ExpectMoved(negative, {0, 2, 0});
}

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
        ExpectMoved(a, {1, 0, 0});
        h->matrixArray[0] = Translation(0, 3, 0);
        Atomic_Render(b);
        ExpectMoved(b, {0, 3, 0});
        EXPECT_EQ(Skin_GetPaletteBuildCount(), builds + 2);
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
        Skin_AtomicSetHierarchy(a, fresh);
        Skin_AtomicSetHierarchy(b, fresh);
        Atomic_Render(b);
        ExpectMoved(b, {0, 0, 4});
    });
}

TEST_F(D3D8SkinTest, HierarchyFlagsChooseWorldLocalOrFrameMatrices)
{
    Frame* placed = worldshapes::FrameAt(0, 0, 5);
    frames.push_back(placed);
    // World-space bone matrices are taken back into the atomic's space.
    BoneHierarchy* world = Hierarchy(1);
    Atomic* a = Skinned(GEOMETRY_POSITIONS, {1}, 0, 1, world, placed);
    Draw({a});
    ExpectMoved(a, {0, 0, -5});
    // Matrices already in the atomic's space skip the inverse.
    BoneHierarchy* local = Hierarchy(1, HANIM_LOCAL_SPACE);
    Skin_AtomicSetHierarchy(a, local);
    Draw({a});
    ExpectMoved(a, {0, 0, 0});
    // Without matrices each node's frame is the bone; a node without one
    // is the identity.
    BoneHierarchy* byFrame = Hierarchy(2, HANIM_NO_MATRICES);
    Frame* bone = worldshapes::FrameAt(2, 0, 5);
    frames.push_back(bone);
    byFrame->nodeInfo[0].frame = bone;
    Skin_AtomicSetHierarchy(a, byFrame);
    Draw({a});
    ExpectMoved(a, {2, 0, 0});
    Atomic* unposed = Skinned(GEOMETRY_POSITIONS, {1}, 0x01, 2, byFrame, placed);
    Draw({unposed});
    ExpectMoved(unposed, {0, 0, 0});
}

// The palette covers min(nodes, bones, 256): indices past it, and an
// inverse matrix that claims to be the identity, are the identity.
TEST_F(D3D8SkinTest, BonesOutsideThePaletteAndIdentityFlaggedMatricesAreTheIdentity)
{
    BoneHierarchy* h = Hierarchy(3);
    for (int i = 0; i < 3; i++) h->matrixArray[i] = Translation(1, 1, 1);
    Atomic* fewerBones = Skinned(GEOMETRY_POSITIONS, {1}, 0x02, 2, h);  // bone 2 of a 2-bone skin
    Draw({fewerBones});
    ExpectMoved(fewerBones, {0, 0, 0});
    BoneHierarchy* small = Hierarchy(1);
    small->matrixArray[0] = Translation(1, 1, 1);
    Atomic* fewerNodes = Skinned(GEOMETRY_POSITIONS, {1}, 0x01, 4, small);  // 4 bones, 1 node
    Draw({fewerNodes});
    ExpectMoved(fewerNodes, {0, 0, 0});
    Atomic* flagged = Skinned(GEOMETRY_POSITIONS, {1}, 0, 1, small);
    Skin* s = Skin_GeometryGetSkin(flagged->geometry);
    s->inverseMatrices[0] = Translation(5, 5, 5);
    s->inverseMatrices[0].flags = MATRIX_IDENTITY_FLAGS;  // the flag wins over the words
    Draw({flagged});
    ExpectMoved(flagged, {1, 1, 1});
}

TEST_F(D3D8SkinTest, PrelitColoursAndCoordinatesAreWrittenOnlyWhenTheGeometryHasThem)
{
    BoneHierarchy* h = Hierarchy(1);
    h->matrixArray[0] = Translation(0, 1, 0);
    Atomic* plain = Skinned(GEOMETRY_POSITIONS, {1}, 0, 1, h);
    Draw({plain});
    EXPECT_EQ(Stride(plain), 12u);
    ExpectMoved(plain, {0, 1, 0});
    Atomic* rich = Skinned(GEOMETRY_POSITIONS | GEOMETRY_PRELIT | GEOMETRY_TEXTURED, {1}, 0, 1, h);
    rich->geometry->preLitLum[4] = RGBA{10, 20, 30, 40};
    Draw({rich});
    EXPECT_EQ(Stride(rich), 24u);
    const std::vector<float> v = Vertices(rich);
    uint32_t colour;
    memcpy(&colour, &v[4 * 6 + 3], 4);
    EXPECT_EQ(colour, 0x280A141Eu);
    EXPECT_EQ(v[4 * 6 + 4], rich->geometry->texCoords[0][4].u);
    EXPECT_EQ(v[4 * 6 + 5], rich->geometry->texCoords[0][4].v);
    EXPECT_TRUE(D3D8InstanceData_Records(D3D8InstanceData_Get(rich->geometry->instanceData))[0].vertexAlpha);
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
    // Lit by a world's ambient light, so that lighting is on for the draw.
    WorldBox box = {{-100, -100, -100}, {100, 100, 100}};
    World* world = World_Create(&box);
    World_AddCamera(world, camera);
    World_AddAtomic(world, a);
    Light* ambient = Light_Create(LIGHT_AMBIENT);
    Light_SetFlags(ambient, LIGHT_LIGHT_ATOMICS);
    World_AddLight(world, ambient);
    uint32_t normalize = 0;
    Snapshot(camera, [&] {
        Atomic_Render(a);
        D3D8_GetRenderState(D3DRS_NORMALIZENORMALS, &normalize);
    });
    EXPECT_EQ(normalize, 1u);  // the identity frame would not need it without hardware lighting
    const D3D8MeshInstance& r = D3D8InstanceData_Records(D3D8InstanceData_Get(a->geometry->instanceData))[0];
    EXPECT_EQ(r.managed, 0);
    ExpectMoved(a, {0, 0, 1});
    World_RemoveLight(world, ambient);
    Light_Destroy(ambient);
    World_RemoveAtomic(world, a);
    World_RemoveCamera(world, camera);
    World_Destroy(world);
}

}  // namespace
