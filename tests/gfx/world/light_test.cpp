#include <cmath>
#include <limits>

#include "gfx/world/d3d8lighting.h"
#include "tests/gfx/world/world_fixture.h"

namespace {

class LightTest : public WorldTest {};

TEST_F(LightTest, ConeAngleSetterRefusesOutOfRangeAndGetterFollowsTheArcCosine)
{
    Light* light = Light_Create(LIGHT_SPOT);
    EXPECT_EQ(Light_GetConeAngle(light), 3.1415927f);  // a new light
    ASSERT_NE(Light_SetConeAngle(light, 0.0f), nullptr);
    EXPECT_EQ(light->minusCosAngle, -1.0f);
    EXPECT_EQ(Light_GetConeAngle(light), 0.0f);
    ASSERT_NE(Light_SetConeAngle(light, 1.5707964f), nullptr);
    EXPECT_EQ(Light_GetConeAngle(light), 1.5707964f);
    for (float bad : {1.6f, -0.1f, std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_EQ(Light_SetConeAngle(light, bad), nullptr);
        EXPECT_EQ(Light_GetConeAngle(light), 1.5707964f);
    }
    // Table square roots keep the getter within a few hundred ulp of acos in
    // every branch of the algorithm.
    for (float c = -1.0f; c <= 1.0f; c += 1.0f / 512) {
        light->minusCosAngle = -c;
        const float expected = acosf(c);
        EXPECT_NEAR(Light_GetConeAngle(light), expected, 4e-5f + expected * 1e-5f) << c;
    }
    Light_Destroy(light);
}

TEST_F(LightTest, ColourSetsTheGreyFlagAndRadiusMarksOnlyAnAttachedFrame)
{
    Light* light = Light_Create(LIGHT_POINT);
    EXPECT_EQ(light->object.header.privateFlags, LIGHT_PRIVATE_GREY);
    LightColour grey = {0.5f, 0.5f, 0.5f, 1}, tinted = {0.5f, 0.4f, 0.5f, 1};
    Light_SetColour(light, &tinted);
    EXPECT_EQ(light->object.header.privateFlags, 0);
    Light_SetColour(light, &grey);
    EXPECT_EQ(light->object.header.privateFlags, LIGHT_PRIVATE_GREY);
    Light_SetRadius(light, 3.0f);  // no frame: nothing to mark
    Frame* f = Frame_Create();
    Light_SetFrame(light, f);
    Frame_SyncDirtyList();
    EXPECT_EQ(Frame_IsDirty(f), 0u);
    Light_SetRadius(light, 4.0f);
    EXPECT_NE(Frame_IsDirty(f), 0u);
    Light_SetFrame(light, nullptr);
    Frame_Destroy(f);
    Light_Destroy(light);
}

TEST_F(LightTest, DestroyingALightStillInAWorldTakesItOutOfTheWorldsLists)
{
    WorldBox box = {{-10, -10, -10}, {10, 10, 10}};
    World* world = World_Create(&box);
    Light* ambient = Light_Create(LIGHT_AMBIENT);
    Light* point = Light_Create(LIGHT_POINT);
    Frame* f = Frame_Create();
    Light_SetFrame(point, f);
    Light_SetRadius(point, 2);
    World_AddLight(world, ambient);
    World_AddLight(world, point);
    Frame_SyncDirtyList();
    EXPECT_EQ(WorldTies_LightTiesInUse(), 1);
    Light_Destroy(ambient);
    Light_Destroy(point);
    EXPECT_TRUE(EngineLink_Empty(&world->globalLights));
    EXPECT_TRUE(EngineLink_Empty(&world->localLights));
    EXPECT_EQ(WorldTies_LightTiesInUse(), 0);
    Frame_Destroy(f);
    World_Destroy(world);
}

TEST_F(LightTest, CopiedLightGetsItsOwnDeviceIndex)
{
    Light* a = Light_Create(LIGHT_POINT);
    Light* b = Light_Create(LIGHT_POINT);
    D3D8Lights_GetData(a)->index = 3;
    for (const PluginEntry* e = Light_GetRegistry()->first; e; e = e->next)
        if (e->pluginId == D3D8_PLUGIN_LIGHTS) e->copy(b, a, e->offset, e->size);
    EXPECT_EQ(D3D8Lights_GetData(b)->index, -1);
    EXPECT_EQ(D3D8Lights_GetData(b)->attenuation[2], 5.0f);
    Light_Destroy(a);
    Light_Destroy(b);
}

}  // namespace
