#include "engine/scenetext.h"

#include <cmath>
#include <cstring>

#include "engine/loaderror.h"
#include "engine/scene.h"
#include "engine/scenedata.h"
#include "engine_fixture.h"
#include "tools/lib/lwswrite.h"

namespace {

constexpr float kDeg = (float)(M_PI / 180.0);

class SceneTextTest : public EngineFileTest {
protected:
    void TearDown() override
    {
        SceneData_Free(&scene);
        EngineFileTest::TearDown();
    }
    // Parses the text into `scene`: 1 on success.
    int Parse(const std::string& text)
    {
        SceneData_Free(&scene);
        scene = Scene{};
        LoadError_Clear();
        WriteData("Scenes\\Test.lws", text);
        void* file = File_Open("Scenes\\Test.lws", "r");
        EXPECT_NE(file, nullptr);
        int version = 0;
        int ok = SceneText_ReadVersion(file, &version) && SceneText_Parse(&scene, file, version);
        File_Close(file);
        return ok;
    }
    int Parse(const LwsWriterScene& s) { return Parse(LwsWriter_Write(s)); }
    std::string Name(uint32_t item) const
    {
        return SceneData_Name(scene.itemNames, scene.itemNameSize, scene.records[item].nameOffset);
    }
    Scene scene{};
};

TEST_F(SceneTextTest, DuplicateNumbersCountSameNamesOfTheSameNullBit)
{
    for (int version : {1, 3}) {
        LwsWriterScene s;
        s.version = version;
        s.items = {Item(LwsWriterItem::OBJECT, "Objects\\Box.lwo"), Item(LwsWriterItem::NUL, "Box"),
                   Item(LwsWriterItem::OBJECT, "Objects\\Box.LWO"), Item(LwsWriterItem::NUL, "SFX,Boom"),
                   Item(LwsWriterItem::LIGHT, ""), Item(LwsWriterItem::LIGHT, ""), Item(LwsWriterItem::CAMERA, "")};
        if (version == 3)
            for (int i : {0, 2}) s.items[i].name = "Objects/Box.lwo";
        s.items[4].lightName = "Sun";
        s.items[5].lightName = "Moon";
        ASSERT_EQ(Parse(s), 1) << LoadError_Get();
        ASSERT_EQ(scene.itemCount, 7);
        const char* names[] = {"Box", "Box", "Box", "SFX,Boom", "Light", "Light", "Camera"};
        const uint32_t duplicates[] = {0, 0, 1, 0, 0, 1, 0};
        const uint16_t kinds[] = {0, 1, 0, 3, 9, 9, 5};
        for (int i = 0; i < 7; i++) {
            EXPECT_EQ(Name(i), names[i]) << version << " " << i;
            EXPECT_EQ(scene.records[i].duplicate, duplicates[i]) << version << " " << i;
            EXPECT_EQ(scene.items[i].kind, kinds[i]) << version << " " << i;
        }
        EXPECT_STREQ(SceneData_Name(scene.itemNames, scene.itemNameSize, scene.records[5].lightNameOffset), "Moon");
        EXPECT_EQ(scene.soundNullCount, 1);
        EXPECT_EQ(scene.firstLight, 4);
        EXPECT_EQ(scene.lightCount, 2);
        EXPECT_EQ(scene.firstCamera, 6);
        EXPECT_EQ(scene.cameraCount, 1);
    }
}

TEST_F(SceneTextTest, KeyTimesComeFromFramesOrSecondsRelativeToTheStart)
{
    for (int version : {1, 3}) {
        LwsWriterScene s;
        s.version = version;
        s.firstFrame = 15;  // start 0.5 s
        s.lastFrame = 75;   // duration 2 s
        LwsWriterItem box = Item(LwsWriterItem::OBJECT, version == 1 ? "Box.lwo" : "Box.lwo");
        box.keys = {Key(0.0f, 1, 90 * kDeg), Key(1.0f, 2, 45 * kDeg, 2)};
        s.items = {box};
        ASSERT_EQ(Parse(s), 1) << LoadError_Get();
        EXPECT_FLOAT_EQ(scene.fps, 30.0f);
        EXPECT_FLOAT_EQ(scene.start, 0.5f);
        EXPECT_FLOAT_EQ(scene.duration, 2.0f);
        const SceneItem& item = scene.items[0];
        ASSERT_EQ(item.keyCount, 3) << version;  // the end key at the duration
        EXPECT_NEAR(item.keys[0].time, 0.0f, 1e-6f);
        EXPECT_NEAR(item.keys[1].time, 1.0f, 1e-6f);
        EXPECT_FLOAT_EQ(item.keys[2].time, 2.0f);
        EXPECT_NEAR(item.keys[0].rotation.x, 90 * kDeg, 1e-6f);
        EXPECT_EQ(item.keys[1].scale.y, 2.0f);
        EXPECT_EQ(item.keys[2].position.x, 2.0f);
        EXPECT_EQ(item.keys[0].mask, 0x1FFu);
    }
}

TEST_F(SceneTextTest, VersionOneMotionWithFramesZeroAndThirtyGivesZeroAndOneSecond)
{
    ASSERT_EQ(Parse("LWSC\n1\n\nPreviewFirstFrame 0\nPreviewLastFrame 30\nFramesPerSecond 30\n\n"
                    "LoadObject Objects\\Box.lwo\nObjectMotion (unnamed)\n  9\n  2\n"
                    "  0 0 0 0 0 0 1 1 1\n  0 0 0 0 0\n  5 0 0 180 0 0 1 1 1\n  30 0 0 0 0\n"
                    "  9 9 9 9 9 9 9 9 9\n  60 0 0 0 0\nEndBehavior 1\n\n"),
              1)
        << LoadError_Get();
    const SceneItem& item = scene.items[0];
    ASSERT_EQ(item.keyCount, 2);  // a third pair past the announced two is ignored
    EXPECT_EQ(item.keys[0].time, 0.0f);
    EXPECT_EQ(item.keys[1].time, 1.0f);
    EXPECT_NEAR(item.keys[1].rotation.x, (float)M_PI, 1e-6f);
}

TEST_F(SceneTextTest, VersionThreeKeysFillEqualTimesInsertEarlierOnesAndInterpolateGaps)
{
    // Channel 0 has keys at 1 and 0 (inserted before), channel 1 at 0.5 and
    // 1 (equal time fills), channel 6 (scale x) only at 1: the first key gets
    // 1 for scale, a middle key is interpolated, a missing later one copied.
    const std::string text =
        "LWSC\n3\n\nPreviewFirstFrame 0\nPreviewLastFrame 30\nFramesPerSecond 30\n\n"
        "AddNullObject Pivot\nObjectMotion\nNumChannels 9\n"
        "Channel 0\n{ Envelope\n  2\n  Key 10 1 0 0 0 0 0 0 0\n  Key 4 0 0 0 0 0 0 0 0\n  Behaviors 1 1\n}\n"
        "Channel 1\n{ Envelope\n  2\n  Key 7 0.5 0\n  Key 8 1 0\n  Behaviors 1 1\n}\n"
        "Channel 6\n{ Envelope\n  1\n  Key 3 1 0\n  Behaviors 1 1\n}\n"
        "Channel 8\n{ Envelope\n  1\n  Key 5 0 0\n  Behaviors 1 1\n}\n"
        "}\n\n";
    ASSERT_EQ(Parse(text), 1) << LoadError_Get();
    const SceneItem& item = scene.items[0];
    ASSERT_EQ(item.keyCount, 3);
    const SceneKey* k = item.keys;
    EXPECT_EQ(k[0].time, 0.0f);
    EXPECT_EQ(k[1].time, 0.5f);
    EXPECT_EQ(k[2].time, 1.0f);
    EXPECT_EQ(k[0].position.x, 4.0f);
    EXPECT_EQ(k[1].position.x, 7.0f);  // interpolated between 4 at 0 and 10 at 1
    EXPECT_EQ(k[2].position.x, 10.0f);
    EXPECT_EQ(k[0].position.y, 0.0f);  // first key, not a scale channel
    EXPECT_EQ(k[1].position.y, 7.0f);
    EXPECT_EQ(k[2].position.y, 8.0f);
    EXPECT_EQ(k[0].scale.x, 1.0f);     // first key of a scale channel
    EXPECT_EQ(k[1].scale.x, 2.0f);
    EXPECT_EQ(k[2].scale.x, 3.0f);
    EXPECT_EQ(k[1].scale.z, 5.0f);     // copied from the key before
    EXPECT_EQ(k[0].mask, 1u | 1u << 8);
    EXPECT_EQ(k[2].mask, 1u | 2u | 1u << 6);
}

TEST_F(SceneTextTest, ParentsResolveByKindAndBadOnesBecomeRoots)
{
    // Items: 0 null, 1 object under 0, 2 object under light 0, 3 object
    // under camera 0, 4 object under bone 1 of item 5, 5 skinned object,
    // 6 null parented to itself, 7 and 8 parented to each other, 9 null
    // under item 40 (no such item), 10 light, 11 camera.
    LwsWriterScene s;
    for (int i = 0; i < 10; i++) s.items.push_back(Item(i == 0 || i >= 6 ? LwsWriterItem::NUL : LwsWriterItem::OBJECT, "I" + std::to_string(i)));
    s.items.push_back(Item(LwsWriterItem::LIGHT, ""));
    s.items.push_back(Item(LwsWriterItem::CAMERA, ""));
    auto parent = [&](int item, LwsWriterParent kind, int index, int bone = 0) {
        s.items[item].parentKind = kind;
        s.items[item].parentIndex = index;
        s.items[item].parentBone = bone;
    };
    parent(1, LWS_PARENT_ITEM, 0);
    parent(2, LWS_PARENT_LIGHT, 0);
    parent(3, LWS_PARENT_CAMERA, 0);
    parent(4, LWS_PARENT_BONE, 5, 1);
    s.items[5].bones.resize(2);
    s.items[5].bones[0].name = "Root";
    s.items[5].bones[1].name = "Tip";
    s.items[5].bones[1].parent = 0;
    parent(6, LWS_PARENT_ITEM, 6);
    parent(7, LWS_PARENT_ITEM, 8);
    parent(8, LWS_PARENT_ITEM, 7);
    parent(9, LWS_PARENT_ITEM, 40);
    ASSERT_EQ(Parse(s), 1) << LoadError_Get();
    ASSERT_EQ(scene.itemCount, 12);
    auto parentOf = [&](int i) -> int {
        const SceneRecord* p = scene.records[i].parent;
        return p ? (int)(p - scene.records) : -1;
    };
    const int expected[12] = {-1, 0, 10, 11, 5, -1, -1, -1, -1, -1, -1, -1};
    for (int i = 0; i < 12; i++) EXPECT_EQ(parentOf(i), expected[i]) << i;
    EXPECT_EQ(scene.records[4].parentBone, 1u);
    EXPECT_EQ(scene.records[1].parentBone, SCENE_NONE);
    // Root and child lists in item order.
    std::vector<int> roots;
    for (const SceneRecord* r = scene.root; r; r = r->next) roots.push_back((int)(r - scene.records));
    EXPECT_EQ(roots, (std::vector<int>{0, 5, 6, 7, 8, 9, 10, 11}));
    // Bones: the tip hangs from the root bone, the root from the item.
    ASSERT_EQ(scene.boneCount, 2);
    EXPECT_EQ(scene.items[5].firstBone, &scene.bones[0]);
    EXPECT_EQ(scene.bones[0].next, &scene.bones[1]);
    EXPECT_EQ(scene.boneParents[0], 0u);
    EXPECT_EQ(scene.boneParents[1], 1u);
    EXPECT_EQ(scene.bones[0].firstChild, &scene.bones[1]);
    EXPECT_STREQ(scene.bones[1].name, "Tip");
    EXPECT_EQ(scene.bones[1].boneNumber, 1u);
}

TEST_F(SceneTextTest, VersionOneParentsCountObjectsFromOne)
{
    LwsWriterScene s;
    s.version = 1;
    s.items = {Item(LwsWriterItem::NUL, "Top"), Item(LwsWriterItem::NUL, "Child"), Item(LwsWriterItem::NUL, "Bad")};
    s.items[1].parentKind = LWS_PARENT_ITEM;
    s.items[1].parentIndex = 0;
    s.items[2].parentKind = LWS_PARENT_ITEM;
    s.items[2].parentIndex = -1;  // "ParentObject 0": no object 0
    ASSERT_EQ(Parse(s), 1);
    EXPECT_EQ(scene.records[1].parent, &scene.records[0]);
    EXPECT_EQ(scene.records[2].parent, nullptr);
    EXPECT_EQ(scene.parentCodes[1], 0x10000001u);
}

TEST_F(SceneTextTest, FramesPerSecondMissingOrNotPositiveMeansThirty)
{
    for (const char* fps : {"", "FramesPerSecond 0\n", "FramesPerSecond -5\n"}) {
        const std::string text = std::string("LWSC\n1\n\nPreviewFirstFrame 30\nPreviewLastFrame 90\n") + fps +
                                 "\nAddNullObject N\nObjectMotion (unnamed)\n  9\n  1\n  0 0 0 0 0 0 1 1 1\n"
                                 "  60 0 0 0 0\nEndBehavior 1\n\n";
        ASSERT_EQ(Parse(text), 1) << fps;
        EXPECT_EQ(scene.fps, 30.0f);
        EXPECT_EQ(scene.start, 1.0f);
        EXPECT_EQ(scene.duration, 2.0f);
        EXPECT_EQ(scene.items[0].keys[0].time, 1.0f);
        EXPECT_EQ(scene.items[0].keyCount, 1);  // one key: no end key
    }
}

TEST_F(SceneTextTest, DissolvesKeepTheFileValueAndTakeMotionKeyTimes)
{
    for (int version : {1, 3}) {
        LwsWriterScene s;
        s.version = version;
        s.firstFrame = 30;
        s.lastFrame = 120;
        LwsWriterItem fade = Item(LwsWriterItem::NUL, "Fade");
        fade.dissolve = {{0.0f, 0.0f}, {1.0f, 1.5f}};
        LwsWriterItem light = Item(LwsWriterItem::LIGHT, "");
        light.intensityEnvelope = {{0.5f, 0.0f}, {1.0f, 3.0f}};
        s.items = {fade, light};
        ASSERT_EQ(Parse(s), 1) << LoadError_Get();
        const SceneItem& item = scene.items[0];
        ASSERT_EQ(item.dissolveCount, 3) << version;  // the end key at the duration 3
        EXPECT_EQ(item.dissolveValues[1], 1.0f);
        EXPECT_NEAR(item.dissolveTimes[1], 1.5f, 1e-5f);
        EXPECT_EQ(item.dissolveTimes[2], 3.0f);
        // Intensity envelopes exist in version 3 only.
        EXPECT_EQ(scene.items[1].intensityCount, version == 3 ? 2 : 0);
        if (version == 3) {
            EXPECT_NEAR(scene.items[1].intensityTimes[1], 3.0f, 1e-5f);
        }
    }
    // Version 1 values are clamped to 0..1.
    ASSERT_EQ(Parse("LWSC\n1\n\nFramesPerSecond 10\n\nAddNullObject N\nObjDissolve (envelope)\n  1\n  2\n  1.5\n"
                    "  0 0 0 0 0\n  nan\n  10 0 0 0 0\nEndBehavior 1\n\n"),
              1);
    EXPECT_EQ(scene.items[0].dissolveValues[0], 1.0f);
    EXPECT_EQ(scene.items[0].dissolveValues[1], 0.0f);
}

TEST_F(SceneTextTest, EmptyLineAfterAMotionEndsTheItemAndLaterLinesAreIgnored)
{
    ASSERT_EQ(Parse("LWSC\n3\n\nAddCamera\nCameraMotion\nNumChannels 1\nChannel 0\n{ Envelope\n  1\n"
                    "  Key 5 0 0\n  Behaviors 1 1\n}\n\nZoomFactor 7\nParentItem 10000000\n\n"),
              1);
    EXPECT_EQ(scene.itemCount, 1);
    EXPECT_EQ(scene.zoom, 0.0f);
    EXPECT_EQ(scene.parentCodes[0], 0u);
    EXPECT_EQ(scene.items[0].keys[0].position.x, 5.0f);
}

TEST_F(SceneTextTest, AnItemNotEndedByAnEmptyLineDoesNotCount)
{
    ASSERT_EQ(Parse("LWSC\n3\n\nAddNullObject Kept\n\nAddCamera\nZoomFactor 2"), 1);
    EXPECT_EQ(scene.itemCount, 1);
    EXPECT_EQ(scene.cameraCount, 0);
    EXPECT_EQ(scene.firstCamera, -1);
    // A new item's first line ends the one before.
    ASSERT_EQ(Parse("LWSC\n3\n\nAddNullObject A\nAddNullObject B\n\n"), 1);
    EXPECT_EQ(scene.itemCount, 2);
}

TEST_F(SceneTextTest, MalformedTextsFailWithAReason)
{
    struct Case {
        std::string text;
        const char* reason;
    } cases[] = {
        {"LWSC\n2\n\nAddNullObject N\n\n", "neither 1 nor 3"},
        {"LWSC\n", "before its version"},
        {"LWSC\n3\n\nAddNullObject N\nObjectMotion\nNumChannels 9\nChannel 0\n{ Envelope\n  1\n", "inside a motion"},
        {"LWSC\n1\n\nAddNullObject N\nObjDissolve (envelope)\n  1\n  2\n  0\n", "inside an envelope"},
        {"LWSC\n1\n\nAddNullObject N\nObjectMotion\n  9\n  70000\n", "out of range"},
        {"LWSC\n3\n\nAddNullObject N\nObjectMotion\nNumChannels 9\nChannel 0\n{ Envelope\n  1\n  Key 1 nan\n",
         "not a number"},
        {"LWSC\n3\n\nAddNullObject " + std::string(1100, 'x') + "\n\n", "longer than 1024"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Parse(c.text), 0) << c.text.substr(0, 60);
        EXPECT_NE(std::string(LoadError_Get()).find(c.reason), std::string::npos) << LoadError_Get();
        EXPECT_EQ(scene.items, nullptr);
        EXPECT_EQ(scene.itemNames, nullptr);
    }
    // More than 100 bones.
    std::string many = "LWSC\n3\n\nLoadObjectLayer 1 Skin.lwo\n";
    for (int i = 0; i < 101; i++) many += "AddBone\nBoneName B" + std::to_string(i) + "\n";
    EXPECT_EQ(Parse(many + "\n"), 0);
    EXPECT_NE(std::string(LoadError_Get()).find("100 bones"), std::string::npos);
}

TEST_F(SceneTextTest, BonesTakeTheirOwnPivotsAndFalloffGoesToTheItem)
{
    LwsWriterScene s;
    LwsWriterItem skin = Item(LwsWriterItem::OBJECT, "Skin.lwo");
    skin.hasPivot = true;
    skin.pivot[1] = 2;
    LwsWriterBone bone;
    bone.name = "Arm Bone";
    bone.restDirection[0] = 90 * kDeg;
    bone.restLength = 2.5f;
    bone.falloffType = 3;
    bone.weightMap = "ArmMap";
    bone.scaleStrength = true;
    bone.keys = {Key(0, 1), Key(2, 3)};
    skin.bones = {bone};
    s.items = {skin};
    ASSERT_EQ(Parse(s), 1) << LoadError_Get();
    const SceneBone& b = scene.bones[0];
    EXPECT_STREQ(b.name, "Arm Bone");
    EXPECT_NEAR(b.restDirection.x, 90 * kDeg, 1e-5f);
    EXPECT_EQ(b.restLength, 2.5f);
    EXPECT_EQ(b.flags, 3u);
    EXPECT_STREQ(SceneData_Name(scene.weightMapNames, scene.weightMapSize, b.weightMapOffset), "ArmMap");
    EXPECT_EQ(b.keyCount, 2);  // last key at the duration: no end key
    EXPECT_EQ(scene.items[0].falloff, 4.0f);
    EXPECT_EQ(scene.items[0].pivot.y, -2.0f);  // negated
}

}  // namespace
