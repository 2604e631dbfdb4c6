#include <limits>

#include "gfx/world/d3d8lighting.h"
#include "tests/gfx/layer_fixture.h"

namespace {

class LightTest : public WorldTest {
protected:
    World* world = nullptr;
    void TearDown() override
    {
        Engine_Instance()->currentWorld = nullptr;
        WorldTest::TearDown();
    }
    // A light on a frame at (x, y, z), added to the world when there is one.
    Light* Make(uint8_t kind, float radius = 1.0f, float x = 0, float y = 0, float z = 0)
    {
        Frame* f = Own(worldshapes::FrameAt(x, y, z));
        Light* l = Own(Light_Create(kind));
        Light_SetFrame(l, f);
        Light_SetRadius(l, radius);
        if (world) World_AddLight(world, l);
        return l;
    }
    D3DLIGHT8 DeviceLight(Light* l)
    {
        D3DLIGHT8 out = {};
        device->GetLight((uint32_t)D3D8Lights_GetData(l)->index, &out);
        return out;
    }
};

TEST_F(LightTest, ConeAngleSetterRefusesOutOfRangeAndGetterFollowsTheArcCosine)
{
    Light* light = Make(LIGHT_SPOT);
    EXPECT_EQ(Light_GetConeAngle(light), 3.1415927f);  // a new light
    ASSERT_NE(Light_SetConeAngle(light, 0.0f), nullptr);
    EXPECT_EQ(Light_GetConeAngle(light), 0.0f);
    ASSERT_NE(Light_SetConeAngle(light, 1.5707964f), nullptr);
    EXPECT_EQ(Light_GetConeAngle(light), 1.5707964f);
    for (float bad : {1.6f, -0.1f, std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_EQ(Light_SetConeAngle(light, bad), nullptr);
        EXPECT_EQ(Light_GetConeAngle(light), 1.5707964f);
    }
    // Table square roots keep the getter near acos in every branch.
    for (float c = -1.0f; c <= 1.0f; c += 1.0f / 512) {
        light->minusCosAngle = -c;
        EXPECT_NEAR(Light_GetConeAngle(light), acosf(c), 4e-5f + acosf(c) * 1e-5f) << c;
    }
}

TEST_F(LightTest, DeviceIndicesGrowReuseADestroyedLightsFirstAndAreNotCopied)
{
    Light* a = Make(LIGHT_POINT);
    Light* b = Light_Create(LIGHT_POINT);  // destroyed below
    Light_SetFrame(b, Own(Frame_Create()));
    Light_SetRadius(b, 1);
    Light* c = Make(LIGHT_POINT);
    for (Light* l : {a, b, c}) EXPECT_EQ(D3D8Lights_ConvertLight(l), 1);
    EXPECT_EQ(D3D8Lights_GetData(a)->index, 0);
    EXPECT_EQ(D3D8Lights_GetData(c)->index, 2);
    D3D8Lights_Commit(1);
    Light_Destroy(b);
    Light* d = Make(LIGHT_POINT);
    Light* e = Make(LIGHT_POINT);
    D3D8Lights_ConvertLight(d);
    D3D8Lights_ConvertLight(e);
    EXPECT_EQ(D3D8Lights_GetData(d)->index, 1);
    EXPECT_EQ(D3D8Lights_GetData(e)->index, 3);
    D3D8Lights_Commit(1);
    Light* copy = Make(LIGHT_POINT);
    for (const PluginEntry* p = Light_GetRegistry()->first; p; p = p->next)
        if (p->pluginId == D3D8_PLUGIN_LIGHTS) p->copy(copy, a, p->offset, p->size);
    EXPECT_EQ(D3D8Lights_GetData(copy)->index, -1);
    EXPECT_EQ(D3D8Lights_GetData(copy)->attenuation[2], 5.0f);
}

TEST_F(LightTest, CommitDisablesOnlyThePreviousObjectsUnusedLightsUpToTheMaximum)
{
    std::vector<Light*> many;
    for (int i = 0; i < 10; i++) many.push_back(Make(LIGHT_POINT));
    for (int i = 0; i < 3; i++) D3D8Lights_ConvertLight(many[i]);
    D3D8Lights_Commit(1);
    D3D8Lights_ConvertLight(many[1]);
    std::string log = Record([&] { D3D8Lights_Commit(1); });
    EXPECT_EQ(Count(log, "LightEnable("), 2) << log;
    EXPECT_NE(log.find("LightEnable(0, 0)"), std::string::npos) << log;
    EXPECT_NE(log.find("LightEnable(2, 0)"), std::string::npos) << log;
    EXPECT_EQ(State(D3DRS_LIGHTING), 1u);
    for (Light* l : many) D3D8Lights_ConvertLight(l);
    D3D8Lights_Commit(1);
    EXPECT_EQ(D3D8Lights_GetEnabled(nullptr), 8);
    int32_t on = -1;
    device->GetLightEnable((uint32_t)D3D8Lights_GetData(many[9])->index, &on);
    EXPECT_EQ(on, 0);
    D3D8Lights_Commit(0);
    EXPECT_EQ(State(D3DRS_LIGHTING), 0u);
}

TEST_F(LightTest, SpotConesPointLightsAndColoursBecomeDeviceFields)
{
    Light* spot = Make(LIGHT_SPOT, 4.0f, 1, 2, 3);
    Light_SetConeAngle(spot, 1.5707964f);
    const LightColour half = {0.5f, 0.25f, 1.0f, 0.5f};
    Light_SetColour(spot, &half);
    Light* unset = Make(LIGHT_SPOT, 4.0f);
    Light* soft = Make(LIGHT_SOFT_SPOT, 4.0f);
    Light_SetConeAngle(soft, 0.5f);
    Light* point = Make(LIGHT_POINT, 2.0f);
    Light* dark = Make(LIGHT_POINT, 0.0f);
    for (Light* l : {spot, unset, soft, point}) EXPECT_EQ(D3D8Lights_ConvertLight(l), 1);
    EXPECT_EQ(D3D8Lights_ConvertLight(dark), 0);
    EXPECT_EQ(D3D8Lights_GetData(dark)->index, -1);
    const D3DLIGHT8 s = DeviceLight(spot);
    EXPECT_EQ(s.Type, (uint32_t)D3DLIGHT_SPOT);
    EXPECT_EQ(s.Phi, 3.1415927f);
    EXPECT_EQ(s.Theta, 3.1415927f - 0.001f);
    EXPECT_EQ(s.Diffuse.a, 0.5f);  // positional lights keep their alpha
    EXPECT_EQ(s.Position.z, 3.0f);
    EXPECT_EQ(s.Range, 4.0f);
    EXPECT_EQ(s.Attenuation2, 5.0f / 16);
    EXPECT_EQ(DeviceLight(unset).Phi, 3.1415927f);  // never set: clamped to pi
    EXPECT_EQ(DeviceLight(soft).Theta, 0.0f);
    EXPECT_NEAR(DeviceLight(soft).Phi, 1.0f, 1e-4f);
    const D3DLIGHT8 p = DeviceLight(point);
    EXPECT_EQ(p.Type, (uint32_t)D3DLIGHT_POINT);
    EXPECT_EQ(p.Attenuation0, 1.0f);
    EXPECT_EQ(p.Attenuation1, 0.0f);
    D3D8Lights_Commit(1);
}

TEST_F(LightTest, AnAtomicIsLitByTheLightsReachingItsSectorsOnceEachAndWithoutNormalsByAmbientOnly)
{
    world = TwoLeafWorld();
    Engine_Instance()->currentWorld = world;
    Geometry* g = Own(MakeGrid(1, 2.0f, GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_LIGHT, white));
    Atomic* a = Own(MakeAtomic(g));
    World_AddAtomic(world, a);
    Light* lamp = Make(LIGHT_POINT, 5.0f);  // reaches both leaves the atomic overlaps
    Light* far = Make(LIGHT_POINT, 5.0f, 50, 0, 0);
    Frame_SyncDirtyList();
    a->object.sync(&a->object);  // no frame: tie it by hand
    D3D8AtomicNode_Lighting(a);
    EXPECT_EQ(D3D8Lights_GetEnabled(nullptr), 1);
    EXPECT_GE(D3D8Lights_GetData(lamp)->index, 0);
    EXPECT_EQ(D3D8Lights_GetData(far)->index, -1);

    Atomic* b = Own(MakeAtomic(Own(MakeGrid(1, 2.0f, GEOMETRY_POSITIONS | GEOMETRY_LIGHT, white))));
    Light* sun = Make(LIGHT_DIRECTIONAL);
    Light* sky = Make(LIGHT_AMBIENT);
    const LightColour blue = {0.1f, 0.2f, 0.3f, 1};
    Light_SetColour(sky, &blue);
    D3D8AtomicNode_Lighting(b);
    EXPECT_EQ(D3D8Lights_GetEnabled(nullptr), 0);
    EXPECT_EQ(D3D8Lights_GetData(sun)->index, -1);
    EXPECT_EQ(State(D3DRS_AMBIENT), 0xFFFFFFFFu);
    float ambient[3];
    D3D8Lights_GetAmbient(ambient);
    EXPECT_EQ(ambient[2], 0.3f);
}

}  // namespace
