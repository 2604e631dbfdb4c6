#include "engine/scene.h"

#include <cmath>
#include <cstring>

#include "app/namecache.h"
#include "common/hash.h"
#include "content_fixture.h"
#include "engine/loaderror.h"
#include "engine/scenedata.h"
#include "engine/sceneplay.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"
#include "tools/lib/lwowrite.h"
#include "tools/lib/lwswrite.h"

namespace {

// A one-triangle object.
std::vector<uint8_t> Triangle()
{
    LwoWriterObject o;
    o.tags = {"S"};
    LwoWriterSurface s;
    s.name = "S";
    o.surfaces = {s};
    LwoWriterLayer layer;
    layer.points = {0, 0, 0, 0, 1, 0, 1, 0, 0};
    layer.polygons = {{{0, 1, 2}, 0}};
    o.layers = {layer};
    return LwoWriter_Write(o);
}

class SceneTest : public ContentTest {
protected:
    void WriteScene(const std::string& name, const LwsWriterScene& scene) { WriteData(name, LwsWriter_Write(scene)); }
    static std::string NameOf(const Node* n) { return Node_GetNameText(n) ? Node_GetNameText(n) : ""; }
    static std::vector<std::string> ChildNames(const Node* n)
    {
        std::vector<std::string> names;
        for (const Node* c = n->child; c; c = c->next) names.push_back(NameOf(c));
        return names;
    }
};

TEST_F(SceneTest, ItemNodesAreNamedByNameAndDuplicateNumber)
{
    WriteData("Scenes\\Box.lwo", Triangle());
    for (int version : {1, 3}) {
        LwsWriterScene s;
        s.version = version;
        const std::string box = version == 1 ? "C:\\Work\\Box.lwo" : "C:/Work/Box.lwo";
        s.items = {Item(LwsWriterItem::OBJECT, box), Item(LwsWriterItem::OBJECT, box), Item(LwsWriterItem::NUL, "Box"),
                   Item(LwsWriterItem::NUL, "Odd\x01Name"), Item(LwsWriterItem::LIGHT, ""),
                   Item(LwsWriterItem::LIGHT, "")};
        s.items[4].lightName = "Sun";
        const std::string path = "Scenes\\Names" + std::to_string(version);
        WriteScene(path + ".lws", s);
        Scene* scene = Scene_Load(path.c_str(), nullptr, SCENE_NO_SHARING, nullptr);
        ASSERT_NE(scene, nullptr) << LoadError_Get();
        ASSERT_EQ(scene->itemCount, 6);
        std::vector<std::string> names;
        for (uint32_t i = 0; i < 6; i++) names.push_back(NameOf(Scene_GetItemNode(scene, i)));
        EXPECT_EQ(names, (std::vector<std::string>{"Box_00", "Box_01", "Box_00", "Odd_Name_00", "Light_00", "Light_01"}));
        // Objects are loaded from the scene's folder whatever path the file names.
        EXPECT_NE(Node_GetVisual(Scene_FindItem(scene, "Box", 1)), nullptr);
        EXPECT_EQ(Node_GetVisual(Scene_GetItemNode(scene, 2)), nullptr);  // a null
        // The two objects share one mesh.
        EXPECT_EQ(Node_GetVisual(Scene_GetItemNode(scene, 0)), Node_GetVisual(Scene_GetItemNode(scene, 1)));
        EXPECT_EQ(Scene_FindNthItemByPrefix(scene, "Light", 5, 1), Scene_GetItemNode(scene, 5));
        EXPECT_EQ(Scene_FindNthItemByPrefix(scene, "light", 5, 0), nullptr);  // case counts
        Scene_Release(scene);
    }
    EXPECT_EQ(List_Count(RenderObj_GetPool()), 0u);
    EXPECT_EQ(List_Count(Node_GetPool()), 1u);  // the camera's
}

TEST_F(SceneTest, NodesFollowTheParentsInItemOrderWithSiblingsNewestFirst)
{
    LwsWriterScene s;
    s.items = {Item(LwsWriterItem::NUL, "Top"), Item(LwsWriterItem::NUL, "First"), Item(LwsWriterItem::NUL, "Second"),
               Item(LwsWriterItem::NUL, "Grand"), Item(LwsWriterItem::NUL, "Other")};
    for (int i : {1, 2}) s.items[i].parentKind = LWS_PARENT_ITEM, s.items[i].parentIndex = 0;
    s.items[3].parentKind = LWS_PARENT_ITEM;
    s.items[3].parentIndex = 1;
    s.items[1].keys.resize(1);
    s.items[1].keys[0].position[0] = 2.0f;
    WriteScene("Scenes\\Tree.lws", s);
    Node* parent = Node_Create(nullptr);
    Scene* scene = Scene_Load("Scenes\\Tree", parent, SCENE_NO_SHARING, nullptr);
    ASSERT_NE(scene, nullptr) << LoadError_Get();
    // Depth-first node order: Top, First, Grand, Second, Other.
    std::vector<std::string> order;
    for (uint32_t i = 0; i < 5; i++) order.push_back(NameOf(Scene_GetItemNode(scene, i)));
    EXPECT_EQ(order, (std::vector<std::string>{"Top_00", "First_00", "Grand_00", "Second_00", "Other_00"}));
    EXPECT_EQ(ChildNames(parent), (std::vector<std::string>{"Other_00", "Top_00"}));
    Node* top = Scene_FindItem(scene, "Top", 0);
    EXPECT_EQ(ChildNames(top), (std::vector<std::string>{"Second_00", "First_00"}));
    EXPECT_EQ(Node_FindByName(parent, "Second_00"), Scene_FindItem(scene, "Second", 0));
    Vec3 p;
    Node_GetWorldPosition(Scene_FindItem(scene, "Grand", 0), &p);
    EXPECT_FLOAT_EQ(p.x, 2.0f);
    EXPECT_EQ(Node_Validate(parent), 1);
    Scene_Release(scene);
    EXPECT_EQ(parent->child, nullptr);
}

TEST_F(SceneTest, TextAndCacheGiveTheSameScene)
{
    WriteData("Scenes\\Box.lwo", Triangle());
    LwsWriterScene s;
    LwsWriterItem box = Item(LwsWriterItem::OBJECT, "Box.lwo"), pivot = Item(LwsWriterItem::NUL, "Pivot"),
                  camera = Item(LwsWriterItem::CAMERA, "");
    pivot.keys.resize(3);
    for (int k = 0; k < 3; k++) {
        pivot.keys[k].time = 0.5f * (float)k;
        pivot.keys[k].position[1] = (float)k;
        pivot.keys[k].rotation[0] = 0.1f * (float)k;
    }
    box.parentKind = LWS_PARENT_ITEM;
    box.hasPivot = true;
    box.pivot[0] = 1.0f;
    box.dissolve = {{0.0f, 0.0f}, {1.0f, 1.0f}};
    camera.zoom = 1.0f;
    s.items = {pivot, box, camera};
    WriteScene("Scenes\\Same.lws", s);
    Scene* text = Scene_Load("Scenes\\Same", nullptr, SCENE_NO_SHARING, nullptr);
    ASSERT_NE(text, nullptr) << LoadError_Get();
    char cache[CACHE_NAME_MAX];
    Cache_NameFromSource(cache, "Scenes\\Same.lws", 0, "lsf");
    ASSERT_TRUE(DataExists(cache));
    Scene* cached = Scene_Load("Scenes\\Same", nullptr, SCENE_NO_SHARING, nullptr);
    ASSERT_NE(cached, nullptr) << LoadError_Get();
    ASSERT_EQ(text->itemCount, cached->itemCount);
    for (uint32_t i = 0; i < text->itemCount; i++) {
        Node* a = Scene_GetItemNode(text, i);
        Node* b = Scene_GetItemNode(cached, i);
        EXPECT_EQ(NameOf(a), NameOf(b));
        EXPECT_EQ(memcmp(&a->local, &b->local, sizeof(Mat4)), 0) << i;
        EXPECT_EQ(a->alpha, b->alpha);
        EXPECT_EQ(Node_GetVisual(a) != nullptr, Node_GetVisual(b) != nullptr);
        ASSERT_EQ(text->items[i].keyCount, cached->items[i].keyCount);
        if (text->items[i].keyCount) {
            EXPECT_EQ(memcmp(text->items[i].keys, cached->items[i].keys, text->items[i].keyCount * sizeof(SceneKey)), 0);
        }
        EXPECT_EQ((a->parent ? NameOf(a->parent) : ""), (b->parent ? NameOf(b->parent) : ""));
    }
    float fov = 0;
    EXPECT_EQ(Scene_GetCamera(cached, 0, &fov), Scene_FindItem(cached, "Camera", 0));
    EXPECT_FLOAT_EQ(fov, 2.0f * std::atan(1.0f));
    EXPECT_EQ(Scene_GetCamera(cached, 1, &fov), nullptr);
    Scene_Release(text);
    Scene_Release(cached);
}

TEST_F(SceneTest, StaleCacheIsRebuiltAndARefusedOneFallsBackToTheText)
{
    LwsWriterScene s;
    s.items = {Item(LwsWriterItem::NUL, "Before")};
    WriteScene("Scenes\\Edit.lws", s);
    char cache[CACHE_NAME_MAX];
    Cache_NameFromSource(cache, "Scenes\\Edit.lws", 0, "lsf");
    Scene* scene = Scene_Load("Scenes\\Edit", nullptr, SCENE_NO_SHARING, nullptr);
    ASSERT_NE(scene, nullptr);
    Scene_Release(scene);
    // An edit with the same time as the cache is not seen; a newer one is.
    s.items[0].name = "After";
    WriteScene("Scenes\\Edit.lws", s);
    Touch("Scenes\\Edit.lws", 0);
    Touch(cache, 0);
    scene = Scene_Load("Scenes\\Edit", nullptr, SCENE_NO_SHARING, nullptr);
    EXPECT_NE(Scene_FindItem(scene, "Before", 0), nullptr);
    Scene_Release(scene);
    Touch("Scenes\\Edit.lws", 5);
    scene = Scene_Load("Scenes\\Edit", nullptr, SCENE_NO_SHARING, nullptr);
    EXPECT_NE(Scene_FindItem(scene, "After", 0), nullptr);
    Scene_Release(scene);
    // A cache that lies is refused; the text is read again.
    Touch(cache, 50);
    std::vector<uint8_t> bytes;
    {
        std::ifstream in(DataPath(cache), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bytes[66] = 0xFF;  // item count
    WriteData(cache, bytes);
    Touch(cache, 50);
    scene = Scene_Load("Scenes\\Edit", nullptr, SCENE_NO_SHARING, nullptr);
    ASSERT_NE(scene, nullptr);
    EXPECT_NE(Scene_FindItem(scene, "After", 0), nullptr);
    Scene_Release(scene);
    // Without the text a refused cache fails the load.
    WriteData(cache, bytes);
    std::filesystem::remove(DataPath("Scenes\\Edit.lws"));
    EXPECT_EQ(Scene_Load("Scenes\\Edit", nullptr, SCENE_NO_SHARING, nullptr), nullptr);
    EXPECT_EQ(List_Count(Scene_GetPool()), 0u);
    EXPECT_EQ(Scene_Load("Scenes\\Nothing", nullptr, 0, nullptr), nullptr);
}

TEST_F(SceneTest, SharedLoadsGiveInstancesAndEverythingIsFreedOnce)
{
    WriteData("Scenes\\Box.lwo", Triangle());
    LwsWriterScene s;
    LwsWriterItem box = Item(LwsWriterItem::OBJECT, "Box.lwo"), light = Item(LwsWriterItem::LIGHT, "");
    box.keys.resize(2);
    box.keys[1].time = 1.0f;
    box.keys[1].position[0] = 10.0f;
    s.items = {box, light};
    WriteScene("Scenes\\Shared.lws", s);
    for (int releaseFirstFirst : {0, 1}) {
        Scene* first = Scene_Load("Scenes\\Shared", nullptr, 0, nullptr);
        ASSERT_NE(first, nullptr);
        ASSERT_EQ(Scene_CreateLights(first), 1);
        Scene* second = Scene_Load("Scenes\\Shared.lws", nullptr, 0, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(second->source, first);
        EXPECT_EQ(second->items, first->items);
        Node* a = Scene_GetItemNode(first, 0);
        Node* b = Scene_GetItemNode(second, 0);
        EXPECT_NE(a, b);
        EXPECT_EQ(NameOf(a), NameOf(b));
        EXPECT_EQ(Node_GetVisual(a), Node_GetVisual(b));
        ASSERT_NE(second->lights, nullptr);
        EXPECT_NE(second->lights[0], first->lights[0]);
        // Instances play on their own.
        Scene_SetTime(second, 0.5f);
        EXPECT_FLOAT_EQ(b->local.m[3][0], 5.0f);
        EXPECT_FLOAT_EQ(a->local.m[3][0], 0.0f);
        Scene_Release(releaseFirstFirst ? first : second);
        EXPECT_EQ(List_Count(Scene_GetPool()), 1u + (uint32_t)releaseFirstFirst);
        EXPECT_EQ(List_Count(RenderObj_GetPool()), 1u);
        Scene_Release(releaseFirstFirst ? second : first);
        EXPECT_EQ(List_Count(Scene_GetPool()), 0u);
        EXPECT_EQ(List_Count(RenderObj_GetPool()), 0u);
        EXPECT_EQ(SceneLight_GetCount(), 0u);
        EXPECT_EQ(List_Count(Node_GetPool()), 1u);
    }
    // Shutting down with an instance alive frees the instance before its
    // source, whatever their order in the pool.
    Scene* source = Scene_Load("Scenes\\Shared", nullptr, 0, nullptr);
    Scene* instance = Scene_Load("Scenes\\Shared", nullptr, SCENE_LOOP, nullptr);
    ASSERT_EQ(instance->source, source);
    EXPECT_EQ(instance->flags, (uint32_t)SCENE_LOOP);
    EXPECT_EQ(source->flags, 0u);
    Scene_ReleaseAll();
    EXPECT_EQ(List_Count(Scene_GetPool()), 0u);
    EXPECT_EQ(List_Count(RenderObj_GetPool()), 0u);
    // Sharing switched off: two loads, two scenes.
    Scene_DisableSharing();
    Scene* one = Scene_Load("Scenes\\Shared", nullptr, 0, nullptr);
    Scene* two = Scene_Load("Scenes\\Shared", nullptr, 0, nullptr);
    EXPECT_EQ(two->source, nullptr);
    Scene_EnableSharing();
    Scene_Release(one);
    Scene_Release(two);
}

TEST_F(SceneTest, NodesOnlyLoadsPoseAtTheFirstKeyWithoutVisuals)
{
    WriteData("Scenes\\Box.lwo", Triangle());
    LwsWriterScene s;
    LwsWriterItem box = Item(LwsWriterItem::OBJECT, "Box.lwo");
    box.keys.resize(1);
    box.keys[0].position[2] = 3.0f;
    s.items = {box};
    WriteScene("Scenes\\Map.lws", s);
    Scene* scene = Scene_Load("Scenes\\Map", nullptr, SCENE_NODES_ONLY | SCENE_NO_SHARING, nullptr);
    ASSERT_NE(scene, nullptr);
    Node* node = Scene_GetItemNode(scene, 0);
    EXPECT_EQ(Node_GetVisual(node), nullptr);
    EXPECT_EQ(node->local.m[3][2], 3.0f);
    EXPECT_EQ(List_Count(RenderObj_GetPool()), 0u);
    Scene_Release(scene);
}

TEST_F(SceneTest, ObjectsLoadTwoSidedWhenTheSceneAsks)
{
    WriteData("Scenes\\Box.lwo", Triangle());
    LwsWriterScene s;
    s.items = {Item(LwsWriterItem::OBJECT, "Box.lwo")};
    WriteScene("Scenes\\Sides.lws", s);
    Scene* scene = Scene_Load("Scenes\\Sides", nullptr, SCENE_TWO_SIDED | SCENE_NO_SHARING, nullptr);
    ASSERT_NE(scene, nullptr);
    RenderObj* o = Node_GetVisual(Scene_GetItemNode(scene, 0));
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(Atomic_GetGeometry(o->atomic)->numTriangles, 2);
    Scene_Release(scene);
}

}  // namespace
