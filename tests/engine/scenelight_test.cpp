#include "engine/scenelight.h"

#include <cmath>

#include "content_fixture.h"
#include "engine/loaderror.h"
#include "gfx/world/light.h"
#include "tools/lib/lwswrite.h"

namespace {

class SceneLightTest : public ContentTest {
protected:
    static int LinkCount(const EngineLink* list)
    {
        int n = 0;
        for (const EngineLink* l = list->next; l && l != list; l = l->next) n++;
        return n;
    }
    int LightsInWorld() const { return LinkCount(&world->localLights) + LinkCount(&world->globalLights); }
};

TEST_F(SceneLightTest, LightItemsBecomeLightsOfTheirKind)
{
    LwsWriterScene s;
    auto light = [](int type, float r, float g, float b) {
        LwsWriterItem item;
        item.kind = LwsWriterItem::LIGHT;
        item.lightType = type;
        item.lightColour[0] = r, item.lightColour[1] = g, item.lightColour[2] = b;
        return item;
    };
    s.items = {light(0, 1, 1, 1), light(1, 1, 0, 0), light(2, 1, 1, 1), light(7, 1, 1, 1), light(1, 0.5f, 0.5f, 0.5f)};
    s.items[2].coneAngle = 30.0f;
    s.items[2].range = 25.0f;
    s.items[4].intensity = 0.5f;
    WriteData("Scenes\\Lights.lws", LwsWriter_Write(s));
    Scene* scene = Scene_Load("Scenes\\Lights", nullptr, SCENE_NODES_ONLY | SCENE_NO_SHARING, nullptr);
    ASSERT_NE(scene, nullptr) << LoadError_Get();
    ASSERT_EQ(Scene_CreateLights(scene), 1);
    SceneLight** l = scene->lights;
    ASSERT_NE(l[0], nullptr);
    EXPECT_EQ(Light_GetType(l[0]->light), LIGHT_DIRECTIONAL);
    EXPECT_EQ(l[1], nullptr);  // green 0: no light
    ASSERT_NE(l[2], nullptr);
    EXPECT_EQ(Light_GetType(l[2]->light), LIGHT_SOFT_SPOT);
    EXPECT_NEAR(SceneLight_GetConeAngle(l[2]), (float)M_PI / 6, 1e-3f);
    EXPECT_EQ(SceneLight_GetRadius(l[2]), 25.0f);
    EXPECT_EQ(l[3], nullptr);  // a type that names no kind
    ASSERT_NE(l[4], nullptr);
    EXPECT_EQ(Light_GetType(l[4]->light), LIGHT_POINT);
    EXPECT_NEAR(l[4]->light->colour.red, 127 / 255.0f * 0.5f, 1e-5f);
    EXPECT_EQ(LightsInWorld(), 3);
    for (SceneLight* each : {l[0], l[2], l[4]}) EXPECT_EQ(each->enabled, 1u);
    // The light hangs below its item's node.
    EXPECT_EQ(l[2]->node->parent, Scene_GetItemNode(scene, scene->items[2].nodeIndex));
    Scene_Release(scene);
    EXPECT_EQ(LightsInWorld(), 0);
    testing::internal::CaptureStdout();
    SceneLight_Shutdown();  // says how many lights are left: none
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Light Count: 0\n");
    ASSERT_EQ(SceneLight_Init(), 1);
}

TEST_F(SceneLightTest, EnablingTwiceAddsOnceAndDisablingTwiceRemovesOnce)
{
    SceneLight* l = SceneLight_Create(nullptr, SCENELIGHT_POINT);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->enabled, 0u);
    EXPECT_EQ(SceneLight_GetRadius(l), 10.0f);
    EXPECT_NEAR(SceneLight_GetConeAngle(l), (float)M_PI / 4, 1e-3f);
    SceneLight_SetEnabled(l, 1);
    SceneLight_SetEnabled(l, 1);
    EXPECT_EQ(LightsInWorld(), 1);
    EXPECT_EQ(l->light->object.header.flags, LIGHT_LIGHT_ATOMICS);
    SceneLight_SetEnabled(l, 0);
    SceneLight_SetEnabled(l, 0);
    EXPECT_EQ(LightsInWorld(), 0);
    EXPECT_EQ(l->light->object.header.flags, 0);
    EXPECT_EQ(SceneLight_Create(nullptr, 9), nullptr);
    SceneLight_Destroy(l);
}

TEST_F(SceneLightTest, IntensityAndMultiplierReachTheColourAndClonesCopyEverything)
{
    SceneLight* l = SceneLight_Create(nullptr, SCENELIGHT_SPOT);
    ASSERT_NE(l, nullptr);
    SceneLight_SetColour(l, 255, 128, 0);
    SceneLight_SetIntensity(l, 2.0f);
    SceneLight_SetMultiplier(l, 0.5f);
    EXPECT_NEAR(l->light->colour.red, 1.0f, 1e-6f);
    EXPECT_NEAR(l->light->colour.green, 128 / 255.0f, 1e-6f);
    EXPECT_EQ(l->light->colour.alpha, 1.0f);
    SceneLight_SetRadius(l, 33.0f);
    EXPECT_EQ(SceneLight_SetConeAngle(l, 0.3f), 1);
    EXPECT_EQ(SceneLight_SetConeAngle(l, 2.0f), 0);  // above pi / 2
    SceneLight_SetEnabled(l, 1);
    Node* parent = Node_Create(nullptr);
    SceneLight* copy = SceneLight_Clone(l, parent);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->kind, (uint32_t)SCENELIGHT_SPOT);
    EXPECT_NEAR(copy->green, 128 / 255.0f, 1e-6f);
    EXPECT_EQ(copy->intensity, 2.0f);
    EXPECT_EQ(copy->multiplier, 0.5f);
    EXPECT_EQ(SceneLight_GetRadius(copy), 33.0f);
    EXPECT_NEAR(SceneLight_GetConeAngle(copy), 0.3f, 1e-3f);
    EXPECT_EQ(copy->enabled, 1u);
    EXPECT_NEAR(copy->light->colour.green, l->light->colour.green, 1e-6f);
    EXPECT_EQ(copy->node->parent, parent);
    EXPECT_EQ(LightsInWorld(), 2);
    // The frame follows the node.
    const Vec3 at = {1, 2, 3};
    Node_SetPosition(parent, &at);
    parent->world = parent->local;
    parent->flags &= ~NODE_DIRTY;
    SceneLight_UpdateAll();
    EXPECT_EQ(Frame_GetWorldMatrix(copy->frame)->pos.y, 2.0f);
    SceneLight_Destroy(copy);
    SceneLight_Destroy(l);
    EXPECT_EQ(LightsInWorld(), 0);
}

}  // namespace
