// Skin bindings, the skin-weight cache and the bones of loaded scenes.
#include <cmath>
#include <cstring>

#include "app/cache.h"
#include "content_fixture.h"
#include "engine/loaderror.h"
#include "engine/nodeextra.h"
#include "engine/sceneplay.h"
#include "engine/skincache.h"
#include "gfx/plugin/hanim/hanim.h"
#include "gfx/plugin/skin/skin.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"
#include "tools/lib/lwowrite.h"
#include "tools/lib/lwswrite.h"

namespace {

// A strip of n triangles along +z from z = 0 to z = n, with a weight map
// "Tip" that is 1 on the points at z >= n - 1.
std::vector<uint8_t> Arm(int n)
{
    LwoWriterObject o;
    o.tags = {"Skin"};
    LwoWriterSurface s;
    s.name = "Skin";
    o.surfaces = {s};
    LwoWriterLayer layer;
    LwoWriterVertexMap tip = {"WGHT", 1, "Tip", {}};
    for (int i = 0; i < n; i++) {
        const float z = (float)i;
        const float p[9] = {0, 0, z, 0, 1, z, 0, 0, z + 1};
        layer.points.insert(layer.points.end(), p, p + 9);
        const uint32_t b = (uint32_t)(3 * i);
        layer.polygons.push_back({{b, b + 1, b + 2}, 0});
        for (uint32_t k = 0; k < 3; k++)
            if (p[3 * k + 2] >= n - 1) tip.entries.push_back({b + k, -1, {1.0f}});
    }
    layer.maps = {tip};
    o.layers = {layer};
    return LwoWriter_Write(o);
}

class SkinTest : public ContentTest {};

TEST_F(SkinTest, PackingKeepsTheFourLargestWeightsScaledToOne)
{
    Node* node = Node_Create(nullptr);
    NodeExtra* e = NodeExtra_Create(node, 5, 0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->maxWeights, 4u);
    EXPECT_EQ(Node_GetExtra(node), e);
    ASSERT_EQ(NodeExtra_AllocWeightTable(e, 2), 1);
    const float weights[5] = {0.06f, 0.5f, 0.04f, 0.3f, 0.1f};
    for (uint32_t b = 0; b < 5; b++) NodeExtra_SetWeight(e, 0, b, weights[b]);
    // Vertex 1 is reached by no bone at all: it follows the first one.
    NodeExtra_SortWeights(e);
    ASSERT_EQ(NodeExtra_PackWeights(e), 1);
    const float sum = 0.5f + 0.3f + 0.1f + 0.06f;
    EXPECT_NEAR(e->packedWeights[0], 0.5f / sum, 1e-6f);
    EXPECT_NEAR(e->packedWeights[1], 0.3f / sum, 1e-6f);
    EXPECT_NEAR(e->packedWeights[3], 0.06f / sum, 1e-6f);
    EXPECT_NEAR(e->packedWeights[0] + e->packedWeights[1] + e->packedWeights[2] + e->packedWeights[3], 1.0f, 1e-6f);
    EXPECT_EQ(e->packedIndices[0], 1u | 3u << 8 | 4u << 16 | 0u << 24);
    EXPECT_EQ(e->packedWeights[4], 1.0f);
    EXPECT_FALSE(std::isnan(e->packedWeights[5]));

    // Bones take slots in the order they are added; their entries follow.
    Node* bone = Node_Create(node);
    Mat4 rest;
    Mat4_Identity(&rest);
    rest.m[3][1] = 2.0f;
    ASSERT_EQ(NodeExtra_AddBone(e, 3, bone, &rest, 0, 1), 1);
    EXPECT_EQ(e->boneNodes[0], bone);
    EXPECT_EQ(e->boneFlags[0], (uint32_t)NODEEXTRA_PUSH);
    EXPECT_EQ(e->inverseRest[0].m[3][1], 2.0f);
    EXPECT_EQ(e->weights[1].bone, 0u);  // vertex 0's bone 3 (second largest) now slot 0
    EXPECT_EQ(e->weights[1].remapped, 1u);
    NodeExtra_Destroy(node);
    EXPECT_EQ(Node_GetExtra(node), nullptr);
    EXPECT_EQ(List_Count(NodeExtra_GetPool()), 0u);
}

TEST_F(SkinTest, ClonesShareAndInheritTheSkinOfTheirSource)
{
    Node* a = Node_Create(nullptr);
    Node* b = Node_Create(nullptr);
    Node* c = Node_Create(nullptr);
    NodeExtra* source = NodeExtra_Create(a, 2, 9);
    EXPECT_EQ(source->maxWeights, 4u);
    NodeExtra* one = NodeExtra_Clone(source, b, 1);
    NodeExtra* two = NodeExtra_Clone(source, c, 1);
    EXPECT_EQ(one->boneCount, 2u);
    EXPECT_EQ(NodeExtra_GetRoot(two), source);
    // The first clone in pool order takes over; the other now shares it.
    NodeExtra* heir = NodeExtra_Destroy(a);
    ASSERT_TRUE(heir == one || heir == two);
    NodeExtra* other = heir == one ? two : one;
    EXPECT_EQ(heir->source, nullptr);
    EXPECT_EQ(other->source, heir);
    NodeExtra_Destroy(b);
    NodeExtra_Destroy(c);
    // The pool holds 289 bindings.
    Node* n = Node_Create(nullptr);
    for (uint32_t i = 0; i < NODEEXTRA_POOL_SIZE; i++) ASSERT_NE(NodeExtra_Create(n, 1, 1), nullptr);
    EXPECT_EQ(NodeExtra_Create(n, 1, 1), nullptr);
}

TEST_F(SkinTest, WeightCacheRoundTripsAndIsIgnoredForAnotherMeshOrSkeleton)
{
    WriteData("Chars\\Arm.lwo", Arm(2));
    RenderObj* o = Mesh_Load("Chars\\Arm", 0, nullptr);
    ASSERT_NE(o, nullptr);
    Node* node = Node_Create(nullptr);
    NodeExtra* e = NodeExtra_Create(node, 3, 4);
    ASSERT_EQ(NodeExtra_AllocWeights(e, o), 1);
    ASSERT_EQ(e->vertexCount, 6u);
    for (uint32_t v = 0; v < 6; v++)
        for (uint32_t b = 0; b < 3; b++) NodeExtra_SetWeight(e, v, b, (float)(v * 10 + b));
    ASSERT_EQ(ObjectCache_Write(e, "Chars\\Arm"), 1);
    char name[CACHE_NAME_MAX];
    Cache_NameFromSource(name, "Chars\\Arm.lwo", 0, "bwl");
    std::ifstream in(DataPath(name), std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.size(), 8u + 6 * 3 * 12);

    NodeExtra* back = NodeExtra_Clone(e, Node_Create(nullptr), 0);
    ASSERT_EQ(ObjectCache_Read(back, o, "Chars\\Arm"), 1);
    EXPECT_EQ(back->vertexCount, 6u);
    EXPECT_EQ(memcmp(back->weights, e->weights, 6 * 3 * sizeof(NodeWeight)), 0);
    EXPECT_EQ(o->skin, back);

    // Another skeleton: two bones where the file has three.
    NodeExtra* other = NodeExtra_Create(Node_Create(nullptr), 2, 4);
    EXPECT_EQ(ObjectCache_Read(other, o, "Chars\\Arm"), 0);
    EXPECT_EQ(other->weights, nullptr);
    // Another mesh: the same cache against a mesh of other vertex count.
    WriteData("Chars\\Leg.lwo", Arm(3));
    RenderObj* leg = Mesh_Load("Chars\\Leg", 0, nullptr);
    EXPECT_EQ(ObjectCache_Read(back, leg, "Chars\\Arm"), 0);
    // A bone index past the bones, and a short file.
    std::vector<uint8_t> bad = bytes;
    bad[8 + 8] = 7;
    WriteData(name, bad);
    EXPECT_EQ(ObjectCache_Read(back, o, "Chars\\Arm"), 0);
    WriteData(name, std::vector<uint8_t>(bytes.begin(), bytes.end() - 1));
    EXPECT_EQ(ObjectCache_Read(back, o, "Chars\\Arm"), 0);
    RenderObj_Release(&leg);
    RenderObj_Release(&o);
}

// A skinned arm: two bones along +z (the second hanging from the first),
// the second with the weight map "Tip".
LwsWriterScene ArmScene()
{
    LwsWriterScene s;
    LwsWriterItem arm;
    arm.kind = LwsWriterItem::OBJECT;
    arm.name = "Arm.lwo";
    arm.bones.resize(2);
    arm.bones[0].name = "Upper";
    arm.bones[0].restLength = 2.0f;
    arm.bones[0].falloffType = 2;
    arm.bones[1].name = "Lower";
    arm.bones[1].parent = 0;
    arm.bones[1].restPosition[2] = 2.0f;
    arm.bones[1].restLength = 2.0f;
    arm.bones[1].weightMap = "Tip";
    arm.bones[1].keys.resize(2);
    arm.bones[1].keys[0].position[2] = 2.0f;
    arm.bones[1].keys[1].position[2] = 2.0f;
    arm.bones[1].keys[1].rotation[1] = 0.5f;
    arm.bones[1].keys[1].time = 2.0f;
    s.items = {arm};
    return s;
}

TEST_F(SkinTest, SceneBonesGetNodesBindingsAndWeightsTheCacheKeeps)
{
    WriteData("Chars\\Arm.lwo", Arm(4));
    WriteData("Chars\\Arm.lws", LwsWriter_Write(ArmScene()));
    Scene* scene = Scene_Load("Chars\\Arm", nullptr, SCENE_NO_SHARING, nullptr);
    ASSERT_NE(scene, nullptr) << LoadError_Get();
    ASSERT_EQ(scene->boneCount, 2);
    Node* item = Scene_GetItemNode(scene, 0);
    Node* upper = Scene_GetBoneNode(scene, 0);
    Node* lower = Scene_GetBoneNode(scene, 1);
    ASSERT_TRUE(upper && lower);
    EXPECT_STREQ(Node_GetNameText(upper), "Upper_00");
    EXPECT_STREQ(Node_GetNameText(lower), "Lower_01");
    EXPECT_EQ(upper->parent, item);
    EXPECT_EQ(lower->parent, upper);
    Vec3 p;
    Node_GetWorldPosition(lower, &p);
    EXPECT_FLOAT_EQ(p.z, 2.0f);
    NodeExtra* e = Node_GetExtra(item);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->boneCount, 2u);
    EXPECT_EQ(e->bonesAdded, 2u);
    EXPECT_EQ(e->boneNodes[1], lower);
    // The lower bone's inverse rest undoes its place in the item.
    EXPECT_FLOAT_EQ(e->inverseRest[1].m[3][2], -2.0f);
    ASSERT_EQ(e->vertexCount, 12u);
    // Vertices: triangle 3 lies at z 3..4, past the lower bone's start and on
    // its map; triangle 0 lies on the upper bone without the map.
    auto weightOf = [&](uint32_t v, uint32_t slot) {
        float w = 0;
        for (uint32_t b = 0; b < 2; b++)
            if (e->weights[v * 2 + b].bone == slot) w = e->weights[v * 2 + b].weight;
        return w;
    };
    EXPECT_GT(weightOf(9, 0), 0.0f);
    EXPECT_EQ(weightOf(0, 1), 0.0f);     // off the map
    EXPECT_GT(weightOf(11, 1), weightOf(11, 0));
    // Weights are sorted largest first for every vertex.
    for (uint32_t v = 0; v < e->vertexCount; v++) EXPECT_GE(e->weights[v * 2].weight, e->weights[v * 2 + 1].weight);
    // Playback poses the bone.
    Scene_SetTime(scene, 2.0f);
    EXPECT_NEAR(lower->local.m[2][1], std::sin(0.5f) * -1.0f, 1e-5f);
    char bwl[CACHE_NAME_MAX];
    Cache_NameFromSource(bwl, "Chars\\Arm.lwo", 0, "bwl");
    EXPECT_TRUE(DataExists(bwl));
    const std::vector<NodeWeight> computed(e->weights, e->weights + 24);
    Mat4 inverse[2] = {e->inverseRest[0], e->inverseRest[1]};
    Scene_Release(scene);

    // From the scene cache and the weight cache: the same bones and weights.
    scene = Scene_Load("Chars\\Arm", nullptr, SCENE_NO_SHARING, nullptr);
    ASSERT_NE(scene, nullptr);
    e = Node_GetExtra(Scene_GetItemNode(scene, 0));
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(e->vertexCount, 12u);
    EXPECT_EQ(memcmp(e->weights, computed.data(), 24 * sizeof(NodeWeight)), 0);
    EXPECT_EQ(memcmp(e->inverseRest, inverse, sizeof inverse), 0);
    EXPECT_STREQ(Node_GetNameText(Scene_GetBoneNode(scene, 1)), "Lower_01");
    Scene_Release(scene);
    EXPECT_EQ(List_Count(NodeExtra_GetPool()), 0u);
    EXPECT_EQ(List_Count(RenderObj_GetPool()), 0u);
}

TEST_F(SkinTest, ASecondSkinnedSceneClonesTheBindingOfTheSharedMesh)
{
    WriteData("Chars\\Arm.lwo", Arm(4));
    WriteData("Chars\\Arm.lws", LwsWriter_Write(ArmScene()));
    Scene* first = Scene_Load("Chars\\Arm", nullptr, 0, nullptr);
    Scene* second = Scene_Load("Chars\\Arm", nullptr, 0, nullptr);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(second->source, nullptr);  // scenes with bones load afresh
    NodeExtra* a = Node_GetExtra(Scene_GetItemNode(first, 0));
    NodeExtra* b = Node_GetExtra(Scene_GetItemNode(second, 0));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b->source, a);
    EXPECT_EQ(b->weights, nullptr);
    EXPECT_EQ(b->boneNodes[0], Scene_GetBoneNode(second, 0));
    RenderObj* mesh = Node_GetVisual(Scene_GetItemNode(first, 0));
    EXPECT_EQ(mesh, Node_GetVisual(Scene_GetItemNode(second, 0)));
    // Releasing the first hands the binding over; the mesh stays.
    Scene_Release(first);
    EXPECT_EQ(b->source, nullptr);
    EXPECT_EQ(mesh->skin, b);
    Scene_Release(second);
    EXPECT_EQ(List_Count(RenderObj_GetPool()), 0u);
}

TEST_F(SkinTest, RefreshingAttachmentsBindsTheSkinAndDrawsPoseTheBones)
{
    WriteData("Chars\\Arm.lwo", Arm(4));
    WriteData("Chars\\Arm.lws", LwsWriter_Write(ArmScene()));
    Node* root = Node_Create(nullptr);
    Scene* first = Scene_Load("Chars\\Arm", root, 0, nullptr);
    Scene* second = Scene_Load("Chars\\Arm", root, 0, nullptr);
    ASSERT_TRUE(first && second);
    Node* item = Scene_GetItemNode(first, 0);
    RenderObj* mesh = Node_GetVisual(item);
    NodeExtra* a = Node_GetExtra(item);
    NodeExtra* b = Node_GetExtra(Scene_GetItemNode(second, 0));
    Node_RefreshAttachments(nullptr);
    Geometry* g = Atomic_GetGeometry(mesh->atomic);
    Skin* skin = Skin_GeometryGetSkin(g);
    ASSERT_NE(skin, nullptr);
    EXPECT_EQ(a->skin, skin);
    EXPECT_EQ(skin->numBones, 2u);
    EXPECT_EQ(skin->numVertices, 12u);
    // Each vertex's weights were kept, scaled to one.
    for (uint32_t v = 0; v < 12; v++)
        EXPECT_NEAR(skin->vertexWeights[v * 4] + skin->vertexWeights[v * 4 + 1], 1.0f, 1e-5f) << v;
    EXPECT_FLOAT_EQ(skin->inverseMatrices[1].pos.z, -2.0f);
    BoneHierarchy* h = (BoneHierarchy*)a->hierarchy;
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Skin_AtomicGetHierarchy(mesh->atomic), h);
    EXPECT_EQ(h->numNodes, 2);
    EXPECT_EQ(a->weights, nullptr);  // the table is freed once bound
    EXPECT_EQ(b->skin, skin);        // the clone shares it
    EXPECT_EQ(b->hierarchy, h);
    Node_RefreshAttachments(nullptr);  // a second refresh binds nothing new
    EXPECT_EQ(Skin_GeometryGetSkin(g), skin);

    // A draw writes the bone nodes' world matrices into the hierarchy.
    PlaceCamera({0, 0, -10});
    Scene_SetTime(first, 2.0f);
    const std::string text = Draw([&] {
        Node_Render(&view, cameraNode, Scene_GetItemNode(first, 0));
        RenderObj_FlushTransparent();
    });
    EXPECT_EQ(Count(text, "DrawIndexedPrimitive") + Count(text, "DrawPrimitive"), 1) << text;
    Mat4 lower;
    Node_GetWorldMatrix(Scene_GetBoneNode(first, 1), &lower);
    EXPECT_FLOAT_EQ(h->matrixArray[1].pos.z, lower.m[3][2]);
    EXPECT_FLOAT_EQ(h->matrixArray[1].at.y, lower.m[2][1]);
    Scene_Release(first);
    Scene_Release(second);
    EXPECT_EQ(List_Count(RenderObj_GetPool()), 0u);
}

}  // namespace
