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

namespace {

// A strip of n triangles along +z from z = 0 to z = n, with a weight map
// "Tip" that is 1 on the points at z >= n - 1.
LwoWriterObject Arm(int n)
{
    LwoWriterLayer layer;
    LwoWriterVertexMap tip = {"WGHT", 1, "Tip", {}};
    for (int i = 0; i < n; i++) {
        const float z = (float)i;
        layer.points.insert(layer.points.end(), {0, 0, z, 0, 1, z, 0, 0, z + 1});
        const uint32_t b = (uint32_t)(3 * i);
        layer.polygons.push_back({{b, b + 1, b + 2}, 0});
        for (uint32_t k = 0; k < 3; k++)
            if (layer.points[b * 3 + k * 3 + 2] >= n - 1) tip.entries.push_back({b + k, -1, {1.0f}});
    }
    layer.maps = {tip};
    return Model({"Skin"}, {layer});
}

// A skinned arm of two bones along +z (the second hanging from the first,
// with the weight map "Tip"), the second turning by 0.5 in two seconds.
LwsWriterScene ArmScene()
{
    LwsWriterItem arm = Item(LwsWriterItem::OBJECT, "Arm.lwo");
    arm.bones.resize(2);
    arm.bones[0].name = "Upper", arm.bones[0].restLength = 2.0f, arm.bones[0].falloffType = 2;
    LwsWriterBone& lower = arm.bones[1];
    lower.name = "Lower", lower.parent = 0, lower.restPosition[2] = 2.0f, lower.restLength = 2.0f;
    lower.weightMap = "Tip", lower.keys = {Key(0, 0), Key(2, 0)};
    lower.keys[0].position[2] = lower.keys[1].position[2] = 2.0f, lower.keys[1].rotation[1] = 0.5f;
    return SceneOf({arm});
}

class SkinTest : public ContentTest {};

TEST_F(SkinTest, TheWeightCacheRoundTripsAndIsIgnoredForAnotherMeshSkeletonOrDamage)
{
    WriteModel("Chars\\Arm.lwo", Arm(2));
    WriteModel("Chars\\Leg.lwo", Arm(3));
    RenderObj* o = Mesh_Load("Chars\\Arm", 0, nullptr);
    RenderObj* leg = Mesh_Load("Chars\\Leg", 0, nullptr);
    ASSERT_TRUE(o && leg);
    NodeExtra* e = NodeExtra_Create(Node_Create(nullptr), 3, 4);
    ASSERT_TRUE(NodeExtra_AllocWeights(e, o) && e->vertexCount == 6);
    for (uint32_t v = 0; v < 6; v++)
        for (uint32_t b = 0; b < 3; b++) NodeExtra_SetWeight(e, v, b, (float)(v * 10 + b));
    ASSERT_EQ(ObjectCache_Write(e, "Chars\\Arm"), 1);
    char name[CACHE_NAME_MAX];
    Cache_NameFromSource(name, "Chars\\Arm.lwo", 0, "bwl");
    const std::vector<uint8_t> bytes = ReadData(name);
    EXPECT_EQ(bytes.size(), 8u + 6 * 3 * 12);
    NodeExtra* back = NodeExtra_Clone(e, Node_Create(nullptr), 0);
    ASSERT_TRUE(ObjectCache_Read(back, o, "Chars\\Arm") && back->vertexCount == 6 && o->skin == back);
    EXPECT_EQ(memcmp(back->weights, e->weights, 6 * 3 * sizeof(NodeWeight)), 0);
    NodeExtra* twoBones = NodeExtra_Create(Node_Create(nullptr), 2, 9);
    EXPECT_TRUE(twoBones->maxWeights == 4 && !ObjectCache_Read(twoBones, o, "Chars\\Arm") && !twoBones->weights);
    EXPECT_EQ(ObjectCache_Read(back, leg, "Chars\\Arm"), 0);  // another vertex count
    std::vector<uint8_t> bad = bytes;
    bad[8 + 8] = 7;  // a bone index past the bones
    WriteData(name, bad);
    EXPECT_EQ(ObjectCache_Read(back, o, "Chars\\Arm"), 0);
    WriteData(name, std::vector<uint8_t>(bytes.begin(), bytes.end() - 1));
    EXPECT_EQ(ObjectCache_Read(back, o, "Chars\\Arm"), 0);
    RenderObj_Release(&leg);
    RenderObj_Release(&o);
    Node* lone = Node_Create(nullptr);
    NodeExtra* unweighted = NodeExtra_Create(lone, 5, 9);
    ASSERT_EQ(NodeExtra_AllocWeightTable(unweighted, 1), 1);
    NodeExtra_SortWeights(unweighted);
    ASSERT_EQ(NodeExtra_PackWeights(unweighted), 1);
    EXPECT_EQ(std::vector<float>(unweighted->packedWeights, unweighted->packedWeights + 4),
              std::vector<float>({1, 0, 0, 0}));
    EXPECT_EQ(NodeExtra_Destroy(lone), nullptr);
}

TEST_F(SkinTest, SceneBonesAreBoundSharedByInstancesPosedByDrawsAndCached)
{
    WriteModel("Chars\\Arm.lwo", Arm(4));
    WriteScene("Chars\\Arm.lws", ArmScene());
    Node* root = Node_Create(nullptr);
    Scene* first = Scene_Load("Chars\\Arm", root, 0, nullptr);
    ASSERT_TRUE(first && first->boneCount == 2) << LoadError_Get();
    Node* item = Scene_GetItemNode(first, 0);
    Node* upper = Scene_GetBoneNode(first, 0);
    Node* lower = Scene_GetBoneNode(first, 1);
    EXPECT_TRUE(std::string(Node_GetNameText(upper)) + " " + Node_GetNameText(lower) == "Upper_00 Lower_01" &&
                upper->parent == item && lower->parent == upper);
    Vec3 p;
    Node_GetWorldPosition(lower, &p);
    NodeExtra* a = Node_GetExtra(item);
    ASSERT_TRUE(a && a->bonesAdded == 2 && a->boneNodes[1] == lower);
    // The inverse rest pose undoes the lower bone's place in the item.
    ASSERT_TRUE(Str({p.z, a->inverseRest[1].m[3][2], 0}) == "2 -2 0" && a->vertexCount == 12);
    auto weightOf = [&](uint32_t v, uint32_t slot) {
        for (uint32_t b = 0; b < 2; b++)
            if (a->weights[v * 2 + b].bone == slot) return a->weights[v * 2 + b].weight;
        return 0.0f;
    };
    EXPECT_TRUE(weightOf(9, 0) > 0.0f && weightOf(0, 1) == 0.0f && weightOf(11, 1) > weightOf(11, 0));
    for (uint32_t v = 0; v < 12; v++) EXPECT_GE(a->weights[v * 2].weight, a->weights[v * 2 + 1].weight);
    const std::vector<NodeWeight> computed(a->weights, a->weights + 24);
    const Mat4 inverse = a->inverseRest[1];

    Scene* second = Scene_Load("Chars\\Arm", root, 0, nullptr);
    NodeExtra* b = second ? Node_GetExtra(Scene_GetItemNode(second, 0)) : nullptr;
    ASSERT_NE(b, nullptr);
    RenderObj* mesh = Node_GetVisual(item);
    EXPECT_TRUE(!second->source && b->source == a && !b->weights && b->boneNodes[0] == Scene_GetBoneNode(second, 0) &&
                Node_GetVisual(Scene_GetItemNode(second, 0)) == mesh);

    Node_RefreshAttachments(nullptr);
    Node_RefreshAttachments(nullptr);
    Geometry* g = Atomic_GetGeometry(mesh->atomic);
    Skin* skin = Skin_GeometryGetSkin(g);
    ASSERT_TRUE(skin && a->skin == skin && skin->numBones == 2 && skin->numVertices == 12);
    for (uint32_t v = 0; v < 12; v++)
        EXPECT_NEAR(skin->vertexWeights[v * 4] + skin->vertexWeights[v * 4 + 1], 1.0f, 1e-5f) << v;
    EXPECT_FLOAT_EQ(skin->inverseMatrices[1].pos.z, -2.0f);
    BoneHierarchy* h = (BoneHierarchy*)a->hierarchy;
    ASSERT_TRUE(h && Skin_AtomicGetHierarchy(mesh->atomic) == h && h->numNodes == 2 && b->skin == skin &&
                b->hierarchy == h);
    EXPECT_EQ(a->weights, nullptr);  // the table is freed once bound

    PlaceCamera({0, 0, -10});
    Scene_SetTime(first, 2.0f);
    EXPECT_NEAR(lower->local.m[2][1], -std::sin(0.5f), 1e-5f);
    const std::string text = Draw([&] {
        Node_Render(&view, cameraNode, item);
        RenderObj_FlushTransparent();
    });
    EXPECT_EQ(Count(text, "DrawIndexedPrimitive") + Count(text, "DrawPrimitive"), 1) << text;
    Mat4 world;
    Node_GetWorldMatrix(lower, &world);
    EXPECT_EQ(Str({h->matrixArray[1].pos.z, h->matrixArray[1].at.y, 0}), Str({world.m[3][2], world.m[2][1], 0}));

    Scene_Release(first);
    EXPECT_TRUE(!b->source && mesh->skin == b);
    Scene_Release(second);
    EXPECT_EQ(List_Count(NodeExtra_GetPool()) + List_Count(RenderObj_GetPool()), 0u);

    char bwl[CACHE_NAME_MAX];
    Cache_NameFromSource(bwl, "Chars\\Arm.lwo", 0, "bwl");
    EXPECT_TRUE(std::filesystem::exists(DataPath(bwl)));
    Scene* cached = Scene_Load("Chars\\Arm", nullptr, SCENE_NO_SHARING, nullptr);
    ASSERT_NE(cached, nullptr);
    NodeExtra* e = Node_GetExtra(Scene_GetItemNode(cached, 0));
    ASSERT_TRUE(e && e->vertexCount == 12);
    EXPECT_TRUE(!memcmp(e->weights, computed.data(), 24 * sizeof(NodeWeight)) &&
                !memcmp(&e->inverseRest[1], &inverse, sizeof inverse));
    EXPECT_STREQ(Node_GetNameText(Scene_GetBoneNode(cached, 1)), "Lower_01");
    Scene_Release(cached);
}

}  // namespace
