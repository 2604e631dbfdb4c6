#include "engine/sceneplay.h"

#include <cmath>

#include "content_fixture.h"
#include "engine/loaderror.h"
#include "tools/lib/lwswrite.h"

namespace {

constexpr float kPi = (float)M_PI;

void ExpectRow(const Mat4& m, int row, float x, float y, float z)
{
    EXPECT_NEAR(m.m[row][0], x, 1e-5f) << "row " << row;
    EXPECT_NEAR(m.m[row][1], y, 1e-5f) << "row " << row;
    EXPECT_NEAR(m.m[row][2], z, 1e-5f) << "row " << row;
}

TEST(ScenePlay, ComposedMatrixAppliesPivotScaleThenBankPitchHeading)
{
    Mat4 m;
    const Vec3 position = {0, 0, 5}, heading90 = {kPi / 2, 0, 0}, one = {1, 1, 1}, pivot = {1, 0, 0};
    Scene_ComposeItemMatrix(&m, &position, &heading90, &one, nullptr, &pivot);
    // Heading turns +x to -z and +z to +x; the pivot (1, 0, 0) turned lands
    // at (0, 0, -1) before the position is added.
    ExpectRow(m, 0, 0, 0, -1);
    ExpectRow(m, 1, 0, 1, 0);
    ExpectRow(m, 2, 1, 0, 0);
    ExpectRow(m, 3, 0, 0, 4);
    EXPECT_EQ(m.m[3][3], 1.0f);
    EXPECT_EQ(m.m[0][3], 0.0f);

    // Bank first, then pitch: (0, 1, 0) banked 90 becomes (-1, 0, 0), which
    // pitch leaves alone; scale applies before any rotation.
    const Vec3 bankPitch = {0, kPi / 2, kPi / 2}, scale = {2, 3, 4}, origin = {0, 0, 0};
    Scene_ComposeItemMatrix(&m, &origin, &bankPitch, &scale, nullptr, nullptr);
    ExpectRow(m, 1, -3, 0, 0);
    ExpectRow(m, 0, 0, 0, 2);   // (2, 0, 0) banked: (0, 2, 0); pitched: (0, 0, 2)
    // The pivot rotation applies after the key's rotation.
    const Vec3 none = {0, 0, 0}, pivotHeading = {kPi / 2, 0, 0};
    Scene_ComposeItemMatrix(&m, &origin, &none, &one, &pivotHeading, nullptr);
    ExpectRow(m, 0, 0, 0, -1);
}

TEST(ScenePlay, SpansClampAndNeverDivideByZero)
{
    SceneKey keys[4] = {};
    const float times[4] = {0, 1, 1, 2};
    for (int i = 0; i < 4; i++) keys[i].time = times[i];
    uint32_t index;
    EXPECT_FLOAT_EQ(SceneChannel_SampleSorted(keys, 4, 0.5f, &index), 0.5f);
    EXPECT_EQ(index, 0u);
    EXPECT_FLOAT_EQ(SceneChannel_SampleSorted(keys, 4, 1.5f, &index), 0.5f);
    EXPECT_EQ(index, 2u);
    const float u = SceneChannel_SampleSorted(keys, 3, 1.0f, &index);  // keys 1 and 2 share a time
    EXPECT_FALSE(std::isnan(u));
    EXPECT_FLOAT_EQ(SceneChannel_SampleSorted(keys, 4, -3.0f, &index), 0.0f);  // before the first key
    EXPECT_EQ(index, 0u);
    EXPECT_FLOAT_EQ(SceneChannel_SampleSorted(keys, 4, 9.0f, &index), 1.0f);

    EXPECT_FLOAT_EQ(SceneChannel_Sample(times, 4, 0.25f, &index), 0.25f);
    EXPECT_EQ(index, 0u);
    EXPECT_FLOAT_EQ(SceneChannel_Sample(times, 4, 5.0f, &index), 0.0f);
    EXPECT_EQ(index, 3u);
    EXPECT_FLOAT_EQ(SceneChannel_Sample(times, 4, 1.0f, &index), 0.0f);
    EXPECT_EQ(index, 2u);
}

class ScenePlayTest : public ContentTest {
protected:
    Scene* Load(const LwsWriterScene& s, uint32_t flags)
    {
        WriteData("Scenes\\Play.lws", LwsWriter_Write(s));
        Scene* scene = Scene_Load("Scenes\\Play", nullptr, flags | SCENE_NO_SHARING | SCENE_NODES_ONLY, nullptr);
        EXPECT_NE(scene, nullptr) << LoadError_Get();
        return scene;
    }
};

TEST_F(ScenePlayTest, PlaybackClampsOrLoopsAndStillItemsStay)
{
    LwsWriterScene s;
    s.lastFrame = 60;  // two seconds
    LwsWriterItem mover, still;
    mover.name = "Mover";
    mover.keys = {Key(0, 0), Key(2, 8, kPi)};
    still.name = "Still";
    still.keys = {Key(0, 3)};
    s.items = {mover, still};
    for (uint32_t loop : {0u, (uint32_t)SCENE_LOOP}) {
        Scene* scene = Load(s, loop);
        ASSERT_NE(scene, nullptr);
        Node* m = Scene_FindItem(scene, "Mover", 0);
        Node* fixed = Scene_FindItem(scene, "Still", 0);
        const Vec3 elsewhere = {9, 9, 9};
        Node_SetPosition(fixed, &elsewhere);  // moved by someone else
        EXPECT_EQ(Scene_SetTime(scene, 1.0f), 0);
        EXPECT_FLOAT_EQ(m->local.m[3][0], 4.0f);
        EXPECT_NEAR(m->local.m[0][2], -1.0f, 1e-5f);  // heading pi / 2 halfway
        EXPECT_EQ(Scene_SetTime(scene, 3.0f), 1);
        if (loop) {
            EXPECT_FLOAT_EQ(Scene_GetTime(scene), 1.0f);
            EXPECT_FLOAT_EQ(m->local.m[3][0], 4.0f);
        } else {
            EXPECT_FLOAT_EQ(Scene_GetTime(scene), 2.0f);
            EXPECT_FLOAT_EQ(m->local.m[3][0], 8.0f);
        }
        EXPECT_EQ(Scene_Advance(scene, 0.5f), loop ? 0 : 1);
        EXPECT_EQ(fixed->local.m[3][0], 9.0f);  // one key: never moved by playback
        Scene_Release(scene);
    }
}

TEST_F(ScenePlayTest, LoopingAZeroLengthSceneWithEqualKeyTimesGivesNoNaN)
{
    LwsWriterScene s;
    s.firstFrame = s.lastFrame = 10;
    LwsWriterItem item;
    item.name = "Twin";
    item.keys = {Key(0, 1), Key(0, 2)};
    s.items = {item};
    Scene* scene = Load(s, SCENE_LOOP);
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(Scene_GetDuration(scene), 0.0f);
    for (float t : {0.0f, 0.5f, 7.0f}) {
        Scene_SetTime(scene, t);
        EXPECT_EQ(Scene_GetTime(scene), 0.0f);
        const Mat4& m = Scene_GetItemNode(scene, 0)->local;
        for (int r = 0; r < 4; r++)
            for (int c = 0; c < 4; c++) EXPECT_FALSE(std::isnan(m.m[r][c]));
    }
    Scene_Release(scene);
}

TEST_F(ScenePlayTest, ZeroScaleHidesTheVisualWhileItLasts)
{
    LwsWriterScene s;
    s.lastFrame = 60;
    LwsWriterItem item;
    item.name = "Pop";
    item.keys = {Key(0, 0, 0, 0), Key(1, 0, 0, 0), Key(2, 0, 0, 1)};
    s.items = {item};
    Scene* scene = Load(s, 0);
    ASSERT_NE(scene, nullptr);
    Node* n = Scene_GetItemNode(scene, 0);
    Scene_SetTime(scene, 0.5f);
    EXPECT_NE(n->flags & NODE_ZERO_SCALE, 0u);
    Scene_SetTime(scene, 1.5f);
    EXPECT_EQ(n->flags & NODE_ZERO_SCALE, 0u);
    Scene_Release(scene);
}

TEST_F(ScenePlayTest, DissolvesFadeTheSubtreeAndBothVersionsAgree)
{
    for (int version : {1, 3}) {
        LwsWriterScene s;
        s.version = version;
        s.lastFrame = 30;
        LwsWriterItem fade, child;
        fade.name = "Ghost";
        fade.dissolve = {{0.0f, 0.0f}, {1.0f, 1.0f}};
        child.name = "Child";
        child.parentKind = LWS_PARENT_ITEM;
        s.items = {fade, child};
        Scene* scene = Load(s, 0);
        ASSERT_NE(scene, nullptr);
        Node* ghost = Scene_FindItem(scene, "Ghost", 0);
        Node* under = Scene_FindItem(scene, "Child", 0);
        Scene_SetTime(scene, 0.0f);
        EXPECT_EQ(ghost->alpha, 255.0f) << version;
        Scene_SetTime(scene, 0.5f);
        EXPECT_EQ(ghost->alpha, 127.0f) << version;
        EXPECT_EQ(under->alpha, 127.0f);
        Scene_SetTime(scene, 1.0f);
        EXPECT_EQ(ghost->alpha, 0.0f) << version;
        Scene_Release(scene);
    }
}

TEST_F(ScenePlayTest, IntensityEnvelopesDriveTheLightsFiveFold)
{
    LwsWriterScene s;
    s.lastFrame = 30;
    LwsWriterItem lamp;
    lamp.kind = LwsWriterItem::LIGHT;
    lamp.lightType = 1;
    lamp.intensityEnvelope = {{0.1f, 0.0f}, {0.3f, 1.0f}};
    s.items = {lamp};
    Scene* scene = Load(s, 0);
    ASSERT_NE(scene, nullptr);
    ASSERT_EQ(Scene_CreateLights(scene), 1);
    ASSERT_NE(scene->lights[0], nullptr);
    Scene_SetTime(scene, 0.5f);
    EXPECT_NEAR(scene->lights[0]->intensity, 1.0f, 1e-5f);
    Scene_Release(scene);
}

}  // namespace
