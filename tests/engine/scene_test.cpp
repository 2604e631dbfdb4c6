// Scenes: the text parser, the cache, loading with nodes and visuals,
// sharing, playback and lights; and the nodes themselves.
#include "engine/scene.h"

#include <cmath>
#include <cstring>
#include <tuple>

#include "app/namecache.h"
#include "common/hash.h"
#include "content_fixture.h"
#include "engine/loaderror.h"
#include "engine/scenecache.h"
#include "engine/scenedata.h"
#include "engine/sceneplay.h"
#include "engine/scenetext.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"

namespace {

constexpr float kDeg = (float)(M_PI / 180.0), kPi = (float)M_PI;

// A number rounded to four decimals, without a sign on zero.
std::string F(float v)
{
    char text[32];
    snprintf(text, sizeof text, "%g", std::round(v * 1e4f) / 1e4f + 0.0f);
    return text;
}
// A key as "time: position rotation scale mask".
std::string K(const SceneKey& k)
{
    std::string s = F(k.time) + ":";
    for (const Vec3* v : {&k.position, &k.rotation, &k.scale}) s += " " + F(v->x) + " " + F(v->y) + " " + F(v->z);
    char mask[16];
    snprintf(mask, sizeof mask, " %x", k.mask);
    return s + mask;
}

// The parser and the cache on their own: a scene text (written, or from
// the writer) parsed into `scene`.
class SceneTextTest : public EngineFileTest {
protected:
    void TearDown() override
    {
        SceneData_Free(&scene);
        SceneData_Free(&read);
        EngineFileTest::TearDown();
    }
    int Parse(const std::string& text)
    {
        SceneData_Free(&scene);
        scene = Scene{};
        LoadError_Clear();
        WriteData("Scenes\\Test.lws", text);
        void* file = File_Open("Scenes\\Test.lws", "r");
        int version = 0;
        const int ok = SceneText_ReadVersion(file, &version) && SceneText_Parse(&scene, file, version);
        File_Close(file);
        return ok;
    }
    int Parse(const LwsWriterScene& s) { return Parse(LwsWriter_Write(s)); }
    std::string Keys(uint32_t item) const
    {
        std::string s;
        for (uint32_t k = 0; k < scene.items[item].keyCount; k++) s += (k ? " | " : "") + K(scene.items[item].keys[k]);
        return s;
    }
    int ReadBack(const std::vector<uint8_t>& bytes)
    {
        SceneData_Free(&read);
        read = Scene{};
        LoadError_Clear();
        WriteData(kCache, bytes);
        return SceneCache_Read(&read, kCache);
    }
    static constexpr const char* kCache = "Cache\\00\\test.lsf";
    Scene scene{}, read{};
};

TEST_F(SceneTextTest, VersionThreeChannelsFillEqualTimesInsertEarlierKeysAndInterpolateGaps)
{
    ASSERT_EQ(
        Parse("LWSC\n3\n\nPreviewFirstFrame 0\nPreviewLastFrame 30\nFramesPerSecond 30\n\n"
              "AddNullObject Pivot\nObjectMotion\nNumChannels 9\n"
              "Channel 0\n{ Envelope\n  2\n  Key 10 1 0 0 0 0 0 0 0\n  Key 4 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n"
              "Channel 1\n{ Envelope\n  2\n  Key 7 0.5 0\n  Key 8 1 0\n  Behaviors 1 1\n}\n"
              "Channel 6\n{ Envelope\n  1\n  Key 3 1 0\n  Behaviors 1 1\n}\n"
              "Channel 8\n{ Envelope\n  1\n  Key 5 0 0\n  Behaviors 1 1\n}\n"
              "}\n\n"),
        1)
        << LoadError_Get();
    EXPECT_EQ(Keys(0), "0: 4 0 0 0 0 0 1 1 5 101 | 0.5: 7 7 0 0 0 0 2 1 5 2 | 1: 10 8 0 0 0 0 3 1 5 43");
    ASSERT_EQ(Parse("LWSC\n3\n\nAddCamera\nCameraMotion\nNumChannels 1\nChannel 0\n{ Envelope\n  1\n"
                    "  Key 5 0 0\n  Behaviors 1 1\n}\n\nZoomFactor 7\nParentItem 10000000\n\n"),
              1);
    EXPECT_EQ(std::vector<float>(
                  {(float)scene.itemCount, scene.zoom, (float)scene.parentCodes[0], scene.items[0].keys[0].position.x}),
              std::vector<float>({1, 0, 0, 5}));
    ASSERT_EQ(Parse("LWSC\n3\n\nAddNullObject Kept\n\nAddCamera\nZoomFactor 2"), 1);
    EXPECT_EQ(std::vector<int>({scene.itemCount, scene.cameraCount, scene.firstCamera}), std::vector<int>({1, 0, -1}));
    EXPECT_TRUE(Parse("LWSC\n3\n\nAddNullObject A\nAddNullObject B\n\n") && scene.itemCount == 2);
}

TEST_F(SceneTextTest, ParentsResolveByKindAndBadOnesBecomeRoots)
{
    LwsWriterScene s;
    for (int i = 0; i < 10; i++)
        s.items.push_back(Item(i == 0 || i >= 6 ? LwsWriterItem::NUL : LwsWriterItem::OBJECT, "I" + std::to_string(i)));
    s.items.push_back(Item(LwsWriterItem::LIGHT, ""));
    s.items.push_back(Item(LwsWriterItem::CAMERA, ""));
    const int parents[][4] = {{1, LWS_PARENT_ITEM, 0, 0}, {2, LWS_PARENT_LIGHT, 0, 0}, {3, LWS_PARENT_CAMERA, 0, 0},
                              {4, LWS_PARENT_BONE, 5, 1}, {6, LWS_PARENT_ITEM, 6, 0},  {7, LWS_PARENT_ITEM, 8, 0},
                              {8, LWS_PARENT_ITEM, 7, 0}, {9, LWS_PARENT_ITEM, 40, 0}};
    for (const auto& p : parents) {
        s.items[p[0]].parentKind = (LwsWriterParent)p[1];
        s.items[p[0]].parentIndex = p[2];
        s.items[p[0]].parentBone = p[3];
    }
    s.items[5].bones.resize(2);
    s.items[5].bones[0].name = "Root", s.items[5].bones[1].name = "Tip", s.items[5].bones[1].parent = 0;
    ASSERT_TRUE(Parse(s) && scene.itemCount == 12) << LoadError_Get();
    auto at = [&](const SceneRecord* r) { return r ? (int)(r - scene.records) : -1; };
    std::vector<int> parentOf, roots;
    for (int i = 0; i < 12; i++) parentOf.push_back(at(scene.records[i].parent));
    EXPECT_EQ(parentOf, (std::vector<int>{-1, 0, 10, 11, 5, -1, -1, -1, -1, -1, -1, -1}));
    EXPECT_TRUE(scene.records[4].parentBone == 1 && scene.records[1].parentBone == SCENE_NONE);
    for (const SceneRecord* r = scene.root; r; r = r->next) roots.push_back(at(r));
    ASSERT_TRUE(roots == (std::vector<int>{0, 5, 6, 7, 8, 9, 10, 11}) && scene.boneCount == 2);
    EXPECT_TRUE(scene.items[5].firstBone == &scene.bones[0] && scene.bones[0].next == &scene.bones[1] &&
                scene.bones[0].firstChild == &scene.bones[1] && scene.boneParents[1] == 1);
    EXPECT_TRUE(!strcmp(scene.bones[1].name, "Tip") && scene.bones[1].boneNumber == 1);
    s = SceneOf({Item(LwsWriterItem::NUL, "Top"), Placed("Child", {0, 0, 0}, 0), Placed("Bad", {0, 0, 0}, 0)});
    s.version = 1, s.items[2].parentIndex = -1;
    ASSERT_EQ(Parse(s), 1);
    EXPECT_TRUE(scene.records[1].parent == &scene.records[0] && !scene.records[2].parent &&
                scene.parentCodes[1] == 0x10000001u);
}

TEST_F(SceneTextTest, MalformedTextsFailWithAReasonAndNothingLeft)
{
    std::string bones = "LWSC\n3\n\nLoadObjectLayer 1 Skin.lwo\n";
    for (int i = 0; i < 101; i++) bones += "AddBone\nBoneName B" + std::to_string(i) + "\n";
    const std::pair<std::string, const char*> cases[] = {
        {"LWSC\n2\n\nAddNullObject N\n\n", "neither 1 nor 3"},
        {"LWSC\n", "before its version"},
        {"LWSC\n3\n\nAddNullObject N\nObjectMotion\nNumChannels 9\nChannel 0\n{ Envelope\n  1\n", "inside a motion"},
        {"LWSC\n1\n\nAddNullObject N\nObjDissolve (envelope)\n  1\n  2\n  0\n", "inside an envelope"},
        {"LWSC\n1\n\nAddNullObject N\nObjectMotion\n  9\n  70000\n", "out of range"},
        {"LWSC\n3\n\nAddNullObject N\nObjectMotion\nNumChannels 9\nChannel 0\n{ Envelope\n  1\n  Key 1 nan\n",
         "not a number"},
        {"LWSC\n3\n\nAddNullObject " + std::string(1100, 'x') + "\n\n", "longer than 1024"},
        {bones + "\n", "100 bones"},
    };
    for (const auto& [text, reason] : cases) {
        EXPECT_EQ(Parse(text), 0) << text.substr(0, 60);
        EXPECT_TRUE(strstr(LoadError_Get(), reason) && !scene.items && !scene.itemNames) << LoadError_Get();
    }
}

// Everything the cache holds, with bones, pivots, envelopes, a light and a camera.
LwsWriterScene RichScene()
{
    LwsWriterItem root = Item(LwsWriterItem::NUL, "Root"), skin = Item(LwsWriterItem::OBJECT, "Skin.lwo"),
                  light = Item(LwsWriterItem::LIGHT, ""), camera = Item(LwsWriterItem::CAMERA, "");
    root.keys = {Key(0, 0), Key(1, 0)}, root.keys[1].position[2] = 4.0f, root.dissolve = {{0.0f, 0.0f}, {0.5f, 1.0f}};
    root.hasPivotRotation = true, root.pivotRotation[0] = 0.5f;
    skin.parentKind = LWS_PARENT_ITEM, skin.hasPivot = true, skin.pivot[1] = 1.0f;
    skin.bones.resize(2);
    skin.bones[0].name = "Upper", skin.bones[0].weightMap = "UpperMap", skin.bones[0].falloffType = 2;
    skin.bones[0].keys = {Key(0, 0), Key(2, 0)}, skin.bones[1].name = "Lower", skin.bones[1].parent = 0;
    skin.bones[1].restDirection[2] = 0.25f;
    light.lightName = "Lamp", light.lightType = 2, light.lightColour[1] = 0.5f;
    light.intensityEnvelope = {{1.0f, 0.0f}, {0.0f, 1.0f}};
    camera.zoom = 2.0f;
    return SceneOf({root, skin, light, camera});
}

TEST_F(SceneTextTest, TheCacheWritesBackWhatItReadsAndEveryTruncationFailsWithNothingLeft)
{
    std::filesystem::create_directories(DataPath("Cache\\00"));
    ASSERT_TRUE(Parse(RichScene()) && SceneCache_Write(&scene, kCache));
    const std::vector<uint8_t> full = ReadData(kCache);
    ASSERT_EQ(ReadBack(full), 1) << LoadError_Get();
    EXPECT_EQ(read.items[1].firstBone, &read.bones[0]);
    ASSERT_EQ(SceneCache_Write(&read, "Cache\\00\\again.lsf"), 1);
    EXPECT_EQ(ReadData("Cache\\00\\again.lsf"), full);
    for (size_t n = 0; n < full.size(); n++) {
        EXPECT_EQ(ReadBack(std::vector<uint8_t>(full.begin(), full.begin() + (long)n)), 0) << n;
        EXPECT_TRUE(!read.items && !read.bones && !read.itemNames) << n;
    }
    std::vector<uint8_t> bytes = full;
    bytes[bytes.size() - 8] = 2;
    EXPECT_TRUE(ReadBack(bytes) == 0 && strstr(LoadError_Get(), "bone links")) << LoadError_Get();
    bytes[bytes.size() - 4] = 6;
    EXPECT_EQ(ReadBack(bytes), 0);
}

TEST_F(SceneTextTest, CachedPoolsCarryOneLengthWordAndLyingCountsAndIndicesAreRefused)
{
    std::filesystem::create_directories(DataPath("Cache\\00"));
    ASSERT_TRUE(Parse("LWSC\n3\n\nAddNullObject A\n\nAddNullObject B\nParentItem 10000000\n\n") &&
                SceneCache_Write(&scene, kCache));
    const std::vector<uint8_t> good = ReadData(kCache);
    ASSERT_EQ(good.size(), 70u + 2 * 44 + 2 * 60 + 2 * 4 + 4);
    EXPECT_EQ(std::vector<uint8_t>(good.begin() + 36, good.begin() + 52),
              (std::vector<uint8_t>{0, 0, 0, 0, 4, 0, 0, 0, 'A', 0, 'B', 0, 0, 0, 0, 0}));
    EXPECT_EQ(good[good.size() - 4], 0u);  // the root is record 0
    ASSERT_EQ(ReadBack(good), 1) << LoadError_Get();
    const size_t items = 70, records = items + 2 * 44;
    auto put = [&](size_t at, uint32_t v, int bytes = 4) {
        std::vector<uint8_t> b = good;
        for (int i = 0; i < bytes; i++) b.at(at + i) = (uint8_t)(v >> (8 * i));
        return b;
    };
    // What is wrong, the bytes, the reason given.
    const std::tuple<const char*, std::vector<uint8_t>, const char*> cases[] = {
        {"item count", put(66, 900, 2), "larger than the file"},
        {"bone count", put(68, 101, 2), "100 bones"},
        {"name pool size", put(40, 4000), "pool runs past"},
        {"camera range", put(24, 3), "camera or light"},
        {"key count", put(items + 28, 5000, 2), "run past"},
        {"first bone", put(items + 34, 0), "first bone"},
        {"name offset", put(records, 99), "name offset"},
        {"parent index", put(records + 60 + 40, 7), "link out of range"},
        {"record item", put(records + 56, 1), "link out of range"},
        {"child loop", put(records + 60 + 48, 0), "tree"},  // B's first child is A
        {"root", put(good.size() - 4, 1), "tree"},          // B is not a root
    };
    for (const auto& [what, bytes, reason] : cases) {
        EXPECT_TRUE(ReadBack(bytes) == 0 && strstr(LoadError_Get(), reason)) << what << ": " << LoadError_Get();
    }
}

// Loaded scenes with nodes, visuals and lights.
class SceneTest : public ContentTest {
protected:
    void SetUp() override
    {
        ContentTest::SetUp();
        WriteModel("Scenes\\Box.lwo", Model({"S"}, {Strip(1)}));
    }
    // Each scene under a name of its own: a cache written in the same
    // second as the text would count as fresh.
    Scene* Load(const LwsWriterScene& s, uint32_t flags = SCENE_NO_SHARING | SCENE_NODES_ONLY)
    {
        const std::string name = "Scenes\\Play" + std::to_string(loads++);
        WriteScene(name + ".lws", s);
        Scene* scene = Scene_Load(name.c_str(), nullptr, flags, nullptr);
        EXPECT_NE(scene, nullptr) << LoadError_Get();
        return scene;
    }
    int loads = 0;
    static std::string NameOf(const Node* n) { return n && Node_GetNameText(n) ? Node_GetNameText(n) : ""; }
    // The subtree's names: "A(B C(D))", children in list order.
    static std::string Tree(const Node* n)
    {
        std::string s = NameOf(n);
        if (n->child) {
            s += "(";
            for (const Node* c = n->child; c; c = c->next) s += Tree(c) + (c->next ? " " : "");
            s += ")";
        }
        return s;
    }
    int LightsInWorld() const
    {
        int n = 0;
        for (const EngineLink* list : {&world->localLights, &world->globalLights})
            for (const EngineLink* l = list->next; l && l != list; l = l->next) n++;
        return n;
    }
};

TEST_F(SceneTest, ItemNodesAreNamedByNameAndNumberAndObjectsComeFromTheScenesFolder)
{
    for (int version : {1, 3}) {
        LwsWriterScene s;
        s.version = version;
        const std::string box = version == 1 ? "C:\\Work\\Box.lwo" : "C:/Work/Box.lwo";
        s.items = {Item(LwsWriterItem::OBJECT, box),     Item(LwsWriterItem::OBJECT, box),
                   Item(LwsWriterItem::NUL, "Box"),      Item(LwsWriterItem::NUL, "Odd\x01Name"),
                   Item(LwsWriterItem::LIGHT, ""),       Item(LwsWriterItem::LIGHT, ""),
                   Item(LwsWriterItem::NUL, "SFX,Boom"), Item(LwsWriterItem::CAMERA, "")};
        s.items[4].lightName = "Sun";
        Scene* scene = Load(s, SCENE_NO_SHARING);
        ASSERT_NE(scene, nullptr);
        std::string names;
        for (uint32_t i = 0; i < 8; i++)
            names += NameOf(Scene_GetItemNode(scene, i)) + "/" + std::to_string(scene->items[i].kind) + " ";
        EXPECT_EQ(names + SceneData_Name(scene->itemNames, scene->itemNameSize, scene->records[4].lightNameOffset),
                  "Box_00/0 Box_01/0 Box_00/1 Odd_Name_00/1 Light_00/9 Light_01/9 SFX,Boom_00/3 Camera_00/5 Sun");
        EXPECT_EQ(std::vector<int>({scene->soundNullCount, scene->firstLight, scene->lightCount, scene->firstCamera,
                                    scene->cameraCount}),
                  std::vector<int>({1, 4, 2, 7, 1}));
        EXPECT_TRUE(Node_GetVisual(Scene_FindItem(scene, "Box", 1)) && !Node_GetVisual(Scene_GetItemNode(scene, 2)) &&
                    Node_GetVisual(Scene_GetItemNode(scene, 0)) == Node_GetVisual(Scene_GetItemNode(scene, 1)));
        // Nulls have no visual; the prefix's case counts.
        EXPECT_TRUE(Scene_FindNthItemByPrefix(scene, "Light", 5, 1) == Scene_GetItemNode(scene, 5) &&
                    !Scene_FindNthItemByPrefix(scene, "light", 5, 0));
        Scene_Release(scene);
    }
    EXPECT_EQ(List_Count(RenderObj_GetPool()) * 10 + List_Count(Node_GetPool()), 1u);  // the camera's node

    LwsWriterScene tree = SceneOf({Placed("Top"), Placed("First", {2, 0, 0}, 0), Placed("Second", {0, 0, 0}, 0),
                                   Placed("Grand", {0, 0, 0}, 1), Placed("Other")});
    WriteScene("Scenes\\Tree.lws", tree);
    Node* parent = Node_Create(nullptr);
    Scene* scene = Scene_Load("Scenes\\Tree", parent, SCENE_NO_SHARING, nullptr);
    ASSERT_NE(scene, nullptr) << LoadError_Get();
    std::string order;
    for (uint32_t i = 0; i < 5; i++) order += NameOf(Scene_GetItemNode(scene, i)) + " ";
    EXPECT_EQ(order, "Top_00 First_00 Grand_00 Second_00 Other_00 ");  // depth first
    EXPECT_EQ(Tree(parent), "(Other_00 Top_00(Second_00 First_00(Grand_00)))");
    Vec3 p;
    Node_GetWorldPosition(Scene_FindItem(scene, "Grand", 0), &p);
    EXPECT_TRUE(p.x == 2.0f && Node_Validate(parent));
    Scene_Release(scene);
    EXPECT_EQ(parent->child, nullptr);
}

TEST_F(SceneTest, SharedLoadsGiveInstancesThatPlayOnTheirOwnAndEverythingIsFreedOnce)
{
    LwsWriterItem box = Item(LwsWriterItem::OBJECT, "Box.lwo");
    box.keys = {Key(0, 3), Key(1, 13)};
    WriteScene("Scenes\\Shared.lws", SceneOf({box, Item(LwsWriterItem::LIGHT, "")}));
    for (int releaseFirstFirst : {0, 1}) {
        Scene* first = Scene_Load("Scenes\\Shared", nullptr, 0, nullptr);
        ASSERT_TRUE(first && Scene_CreateLights(first));
        Scene* second = Scene_Load("Scenes\\Shared.lws", nullptr, 0, nullptr);
        ASSERT_TRUE(second && second->lights);
        Node* a = Scene_GetItemNode(first, 0);
        Node* b = Scene_GetItemNode(second, 0);
        EXPECT_TRUE(second->source == first && second->items == first->items && a != b && NameOf(a) == NameOf(b) &&
                    Node_GetVisual(a) == Node_GetVisual(b) && second->lights[0] != first->lights[0]);
        Scene_SetTime(second, 0.5f);
        EXPECT_EQ(Str({b->local.m[3][0], a->local.m[3][0], 0}), "8 3 0");
        Scene_Release(releaseFirstFirst ? first : second);
        EXPECT_EQ(List_Count(Scene_GetPool()) * 10 + List_Count(RenderObj_GetPool()), 11u + 10 * releaseFirstFirst);
        Scene_Release(releaseFirstFirst ? second : first);
        EXPECT_EQ(std::vector<uint32_t>({List_Count(Scene_GetPool()), List_Count(RenderObj_GetPool()),
                                         SceneLight_GetCount(), List_Count(Node_GetPool())}),
                  std::vector<uint32_t>({0, 0, 0, 1}));
    }
    Scene* source = Scene_Load("Scenes\\Shared", nullptr, 0, nullptr);
    Scene* instance = Scene_Load("Scenes\\Shared", nullptr, SCENE_LOOP, nullptr);
    EXPECT_TRUE(instance->source == source && instance->flags == SCENE_LOOP && source->flags == 0);
    Scene_ReleaseAll();
    EXPECT_EQ(List_Count(Scene_GetPool()) + List_Count(RenderObj_GetPool()), 0u);
    Scene_DisableSharing();
    Scene* one = Scene_Load("Scenes\\Shared", nullptr, SCENE_NODES_ONLY, nullptr);
    Scene* two = Scene_Load("Scenes\\Shared", nullptr, SCENE_TWO_SIDED, nullptr);
    Scene_EnableSharing();
    EXPECT_TRUE(!two->source && !Node_GetVisual(Scene_GetItemNode(one, 0)) &&
                Scene_GetItemNode(one, 0)->local.m[3][0] == 3.0f);
    EXPECT_EQ(Atomic_GetGeometry(Node_GetVisual(Scene_GetItemNode(two, 0))->atomic)->numTriangles, 2);
    Scene_Release(one);
    EXPECT_EQ(List_Count(RenderObj_GetPool()), 1u);
    Scene_Release(two);
}

TEST_F(SceneTest, ZeroScaleHidesAnItemAndALoopOfNoLengthStaysAtZero)
{
    LwsWriterItem pop = Placed("Pop");
    pop.keys = {Key(0, 0, 0, 0), Key(1, 0, 0, 0), Key(2, 0, 0, 1)};
    Scene* scene = Load(SceneOf({pop}), SCENE_NO_SHARING | SCENE_NODES_ONLY);
    ASSERT_NE(scene, nullptr);
    Node* zero = Scene_FindItem(scene, "Pop", 0);
    EXPECT_TRUE(Scene_SetTime(scene, 0.5f) == 0 && (zero->flags & NODE_ZERO_SCALE));
    EXPECT_TRUE(Scene_SetTime(scene, 3.0f) == 1 && !(zero->flags & NODE_ZERO_SCALE));
    Scene_Release(scene);
    LwsWriterScene twin = SceneOf({Placed("Twin")});
    twin.firstFrame = twin.lastFrame = 10, twin.items[0].keys = {Key(0, 1), Key(0, 2)};
    scene = Load(twin, SCENE_NO_SHARING | SCENE_NODES_ONLY | SCENE_LOOP);
    for (float t : {0.0f, 7.0f}) {
        Scene_SetTime(scene, t);
        EXPECT_TRUE(Scene_GetTime(scene) == 0.0f && !std::isnan(Scene_GetItemNode(scene, 0)->local.m[3][0])) << t;
    }
    Scene_Release(scene);
}

TEST_F(SceneTest, DissolvesFadeTheSubtreeAndIntensityEnvelopesDriveLightsFiveFold)
{
    for (int version : {1, 3}) {
        LwsWriterItem fade = Placed("Ghost"), lamp = Item(LwsWriterItem::LIGHT, "");
        fade.dissolve = {{0.0f, 0.0f}, {1.0f, 1.0f}};
        lamp.intensityEnvelope = {{0.3f, 0.0f}, {0.5f, 1.0f}};
        LwsWriterScene s = SceneOf({fade, Placed("Child", {0, 0, 0}, 0), lamp}, 60);
        s.version = version;
        s.firstFrame = 30;  // times count from the start
        Scene* scene = Load(s);
        ASSERT_TRUE(scene && Scene_CreateLights(scene));
        Node* ghost = Scene_FindItem(scene, "Ghost", 0);
        Node* under = Scene_FindItem(scene, "Child", 0);
        std::vector<float> alphas;
        for (float t : {0.0f, 0.5f, 1.0f}) {
            Scene_SetTime(scene, t);
            alphas.insert(alphas.end(), {ghost->alpha, under->alpha});
        }
        EXPECT_EQ(alphas, (std::vector<float>{255, 255, 127, 127, 0, 0})) << version;
        Scene_SetTime(scene, 0.5f);
        EXPECT_NEAR(scene->lights[0]->intensity, version == 3 ? 2.0f : 1.0f, 1e-5f);
        Scene_Release(scene);
    }
}

TEST_F(SceneTest, LightItemsBecomeLightsOfTheirKindThatAddToTheWorldWhileEnabled)
{
    auto light = [](int type, float r, float g, float b) {
        LwsWriterItem item = Item(LwsWriterItem::LIGHT, "");
        item.lightType = type, item.lightColour[0] = r, item.lightColour[1] = g, item.lightColour[2] = b;
        return item;
    };
    LwsWriterScene s =
        SceneOf({light(0, 1, 1, 1), light(1, 1, 0, 0), light(2, 1, 1, 1), light(7, 1, 1, 1), light(1, .5f, .5f, .5f)});
    s.items[2].coneAngle = 30.0f, s.items[2].range = 25.0f, s.items[4].intensity = 0.5f;
    Scene* scene = Load(s);
    ASSERT_TRUE(scene && Scene_CreateLights(scene));
    SceneLight** l = scene->lights;
    ASSERT_TRUE(l[0] && !l[1] && l[2] && !l[3] && l[4]);
    EXPECT_EQ(std::vector<int>({Light_GetType(l[0]->light), Light_GetType(l[2]->light), Light_GetType(l[4]->light)}),
              std::vector<int>({LIGHT_DIRECTIONAL, LIGHT_SOFT_SPOT, LIGHT_POINT}));
    EXPECT_EQ(F(SceneLight_GetConeAngle(l[2])) + " " + F(SceneLight_GetRadius(l[2])) + " " + F(l[4]->light->colour.red),
              F(kPi / 6) + " 25 " + F(127 / 255.0f * 0.5f));
    EXPECT_TRUE(LightsInWorld() * 10 + l[0]->enabled + l[2]->enabled + l[4]->enabled == 33 &&
                l[2]->node->parent == Scene_GetItemNode(scene, scene->items[2].nodeIndex));
    Scene_Release(scene);
    EXPECT_EQ(LightsInWorld(), 0);

    SceneLight* spot = SceneLight_Create(nullptr, SCENELIGHT_SPOT);
    ASSERT_TRUE(spot && spot->enabled == 0 && !SceneLight_Create(nullptr, 9));
    SceneLight_SetEnabled(spot, 1);
    SceneLight_SetEnabled(spot, 1);
    EXPECT_TRUE(LightsInWorld() == 1 && spot->light->object.header.flags == LIGHT_LIGHT_ATOMICS);
    SceneLight_SetColour(spot, 255, 128, 0);
    SceneLight_SetIntensity(spot, 2.0f);
    SceneLight_SetMultiplier(spot, 0.5f);
    const LightColour& c = spot->light->colour;
    EXPECT_EQ(F(c.red) + " " + F(c.green) + " " + F(c.alpha), "1 0.502 1");
    SceneLight_SetRadius(spot, 33.0f);
    EXPECT_EQ(SceneLight_SetConeAngle(spot, 0.3f) * 10 + SceneLight_SetConeAngle(spot, 2.0f), 10);  // 2 is above pi / 2
    Node* parent = Node_Create(nullptr);
    SceneLight* copy = SceneLight_Clone(spot, parent);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(F(copy->green) + " " + F(copy->intensity) + " " + F(copy->multiplier) + " " +
                  F(SceneLight_GetRadius(copy)) + " " + F(SceneLight_GetConeAngle(copy)) + " " +
                  F(copy->light->colour.green),
              "0.502 2 0.5 33 0.3 0.502");
    EXPECT_TRUE(copy->kind == SCENELIGHT_SPOT && copy->enabled == 1 && copy->node->parent == parent &&
                LightsInWorld() == 2);
    const Vec3 at = {1, 2, 3};
    Node_SetPosition(parent, &at);
    parent->world = parent->local, parent->flags &= ~NODE_DIRTY;
    SceneLight_UpdateAll();
    EXPECT_EQ(Frame_GetWorldMatrix(copy->frame)->pos.y, 2.0f);
    SceneLight_Destroy(copy);
    SceneLight_SetEnabled(spot, 0);
    SceneLight_SetEnabled(spot, 0);
    EXPECT_EQ(LightsInWorld() + spot->light->object.header.flags, 0);
    SceneLight_Destroy(spot);
    testing::internal::CaptureStdout();
    SceneLight_Shutdown();  // says how many lights are left: none
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Light Count: 0\n");
    ASSERT_EQ(SceneLight_Init(), 1);
}

class NodeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Node_Init(), 1); }
    void TearDown() override { Node_Shutdown(); }
};

TEST_F(NodeTest, NamesSurviveCompactionsAndThePoolGrowing)
{
    Node* keep = Node_Create(nullptr);
    Node* other = Node_Create(nullptr);
    Node_SetName(keep, "Keeper_00");
    Node_SetName(other, "Other");
    Node_SetName(other, "Renamed");  // the old copy stays until compaction
    const uint32_t before = Node_GetCompactionCount();
    for (int i = 0; i < 1002; i++) {
        Node* n = Node_Create(nullptr);
        Node_SetName(n, ("Temp" + std::to_string(i)).c_str());
        Node_Destroy(n);
    }
    EXPECT_EQ(Node_GetCompactionCount() - before, 1u);
    char name[32];
    ASSERT_TRUE(Node_GetName(keep, name, sizeof name) &&
                std::string(name) + " " + Node_GetNameText(other) == "Keeper_00 Renamed");
    EXPECT_TRUE(Node_GetNameHash(keep) == Name_Hash("Keeper_00", 0, 1) &&
                Node_GetNameHash(other) == Name_Hash("RENAMED", 0, 1));
    Node_SetName(other, nullptr);  // the hash stays
    EXPECT_TRUE(!Node_GetNameText(other) && Node_GetName(other, name, sizeof name) + name[0] == 0 &&
                Node_GetNameHash(other) == Name_Hash("Renamed", 0, 1));
    const std::string longName(3000, 'L');
    ASSERT_EQ(Node_SetName(other, longName.c_str()), 1);
    Node_CompactNames();
    EXPECT_EQ(std::string(Node_GetNameText(other)) + Node_GetNameText(keep), longName + "Keeper_00");
    for (int i = 0; i < 400; ++i) {
        Node* copy = Node_Create(nullptr);
        ASSERT_TRUE(Node_SetName(copy, Node_GetNameText(keep)) && !strcmp(Node_GetNameText(copy), "Keeper_00")) << i;
    }
}

TEST_F(NodeTest, ValidationCatchesBrokenLinksAndAChildLeftAsARootKeepsItsWorld)
{
    Node *root = Node_Create(nullptr), *a = Node_Create(root), *a1 = Node_Create(a), *other = Node_Create(nullptr);
    EXPECT_EQ(Node_FindByHash(root, 0), nullptr);
    Node_SetAlpha(root, 2.0f);
    Node_UpdateWorld(a1);
    Node_SetParent(a, other);
    int valid = Node_Validate(other);
    a->parent = root;
    valid = valid * 10 + Node_Validate(other);
    a->parent = other, a->flags &= ~NODE_DIRTY;
    other->flags |= NODE_DIRTY;
    EXPECT_EQ(valid * 10 + Node_Validate(other), 100);  // a wrong parent link, a clean child of a dirty parent
    const Vec3 at = {4, 0, 0}, moved = {5, 0, 0};
    Node_SetPosition(a, &at);
    Node_Destroy(a);
    Vec3 p, q;
    Node_GetWorldPosition(a1, &p);
    Node_SetPosition(a1, &moved);  // a root moved locally reads back where it now is, before any draw
    Node_GetWorldPosition(a1, &q);
    EXPECT_EQ(std::vector<float>({p.x, q.x, (float)Node_Validate(a1)}), std::vector<float>({4, 5, 1}));
    Node_DestroyRef(&a1);
    Node_DestroyRef(&a1);
    EXPECT_EQ(a1, nullptr);
}

TEST_F(NodeTest, ScalingByRowsKeepsThePositionAndByColumnsScalesIt)
{
    const Vec3 p{1, 1, 1}, s{2, 3, 4}, z{0, 0, 1};
    for (int mode : {0, 1}) {
        Node* n = Node_Create(nullptr);
        Node_SetPosition(n, &p);
        Node_SetRotation(n, &z, kPi / 2);  // turned: the node's own axes (rows) are not the world's
        Node_Scale(n, &s, mode);
        Mat4 m;
        Node_GetMatrix(n, &m);
        EXPECT_EQ(std::vector<float>({m.m[0][1], m.m[1][0], m.m[3][0], m.m[3][2]}),
                  mode ? std::vector<float>({-3, 2, 2, 4}) : std::vector<float>({-2, 3, 1, 1}));
    }
}

}  // namespace
