// The world's drawing pipelines: instanced buffers, the states a draw sets and leaves, and lit pictures.
#include "gfx/world/d3d8pipelines.h"

#include <limits>

#include "gfx/world/d3d8lighting.h"
#include "tests/gfx/layer_fixture.h"

using namespace gfxtest;

namespace {

using D3D8PipelineTest = SceneTest;

uint32_t Colour(const D3D8MeshInstance& r, uint32_t i, int at)
{
    uint32_t c;
    memcpy(&c, WorldTest::Vertex(r, i) + at, 4);
    return c;
}

TEST_F(D3D8PipelineTest, InstancingWritesPositionNormalModulatedColourAndCoordinates)
{
    Material* m = Own(MakeMaterial(128, 64, 255, 255));
    Geometry* g = Geometry_Create(
        3, 1,
        GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT | GEOMETRY_MODULATE_MATERIAL_COLOR | GEOMETRY_TEXTURED);
    const RGBA colours[3] = {{100, 150, 200, 255}, {10, 20, 30, 128}, {255, 255, 255, 255}};
    for (int i = 0; i < 3; i++) {
        g->morphTarget[0].verts[i] = Vec3{(float)i, 2.0f * i, 3.0f};
        g->morphTarget[0].normals[i] = Vec3{0, 0, -1};
        g->preLitLum[i] = colours[i];
        g->texCoords[0][i] = TexCoords{0.5f * i, 1.0f - i};
    }
    Geometry_SetTriangleVertexIndices(g, &g->triangles[0], 0, 1, 2);
    Geometry_SetTriangleMaterial(g, &g->triangles[0], m);
    Geometry_Unlock(g);
    Atomic* a = Add(g);
    ASSERT_EQ(Atomic_Render(a), a);
    ASSERT_NE(g->instanceData, nullptr);
    const D3D8MeshInstance& r = Records(g->instanceData)[0];
    EXPECT_EQ(std::tuple(r.vertexShader, r.stride, r.managed, r.vertexAlpha, r.primitiveType),
              std::tuple(0x152u, 36u, 1, 1, (uint32_t)D3DPT_TRIANGLELIST));
    for (uint32_t i = 0; i < 3; i++) {
        const float* v = Vertex(r, i);
        const RGBA c = colours[i];
        const uint32_t expected = (uint32_t)((256 * c.alpha) >> 8) << 24 | (uint32_t)((129 * c.red) >> 8) << 16 |
                                  (uint32_t)((65 * c.green) >> 8) << 8 | (uint32_t)((256 * c.blue) >> 8);
        EXPECT_EQ(std::tuple(v[0], v[1], v[5], Colour(r, i, 6), v[7], v[8]),
                  std::tuple((float)i, 2.0f * i, -1.0f, expected, 0.5f * i, 1.0f - i))
            << i;
    }
}

TEST_F(D3D8PipelineTest, CompactedMeshesRefillOnlyLockedPartsThroughTheirReverseTable)
{
    Geometry* g = Geometry_Create(12, 2, GEOMETRY_POSITIONS | GEOMETRY_PRELIT);
    for (int i = 0; i < 12; i++) {
        g->morphTarget[0].verts[i] = Vec3{(float)i, 0, 0};
        g->preLitLum[i] = RGBA{(uint8_t)i, 0, 0, 255};
    }
    Geometry_SetTriangleVertexIndices(g, &g->triangles[0], 7, 9, 8);
    Geometry_SetTriangleVertexIndices(g, &g->triangles[1], 5, 11, 6);
    for (int t = 0; t < 2; t++) Geometry_SetTriangleMaterial(g, &g->triangles[t], white);
    Geometry_Unlock(g);
    Atomic* a = Add(g);
    ASSERT_EQ(Atomic_Render(a), a);
    const D3D8MeshInstance& r = Records(g->instanceData)[0];
    // Relative (2,4,3),(0,6,1) sorted to (0,6,1),(2,4,3); first use 0,6,1,2,4,3.
    EXPECT_EQ(std::tuple(r.minVertexIndex, r.numVertices, r.remapped), std::tuple(5u, 6u, 1));
    const uint16_t expected[6] = {0, 1, 2, 3, 4, 5};
    EXPECT_TRUE(std::equal(expected, expected + 6, (const uint16_t*)r.indexBuffer->bytes.data()));
    const float sources[6] = {5, 11, 6, 7, 9, 8};
    for (uint32_t i = 0; i < 6; i++) EXPECT_EQ(Vertex(r, i)[0], sources[i]);

    Geometry_Lock(g, GEOMETRY_LOCK_VERTICES);
    for (int i = 0; i < 12; i++) {
        g->morphTarget[0].verts[i].y = 100.0f + i;
        g->preLitLum[i].red = 200;  // not locked: must not reach the buffer
    }
    Geometry_Unlock(g);
    ResourceArenaEntry* before = g->instanceData;
    ASSERT_EQ(Atomic_Render(a), a);
    EXPECT_EQ(std::tuple(g->instanceData, g->lockedSinceLastInst), std::tuple(before, 0));
    for (uint32_t i = 0; i < 6; i++)
        EXPECT_EQ(std::tuple(Vertex(r, i)[1], Colour(r, i, 3) >> 16 & 0xFF),
                  std::tuple(100.0f + sources[i], (uint32_t)sources[i]));
}

TEST_F(D3D8PipelineTest, MorphBlendsPerAtomicFallsBackToTheStartOrTargetZeroAndEveryAtomicSeesALock)
{
    Geometry* g = MakeGrid(1, 2.0f, GEOMETRY_POSITIONS, white);
    Geometry_AddMorphTarget(g);
    for (int v = 0; v < 4; v++) g->morphTarget[1].verts[v] = Vec3{10, 20, 30};
    Atomic* a = Add(Geometry_AddRef(g));
    const struct {
        int16_t start, end;
        float position;
        float x;  // of vertex 0, which is at -1 in target 0
    } cases[] = {
        {0, 1, 0.5f, 4.5f}, {0, 1, 0.0f, -1.0f}, {1, 1, 0.5f, 10.0f}, {1, 7, 0.5f, -1.0f}, {1, 0, 1.0f, -1.0f}};
    for (const auto& c : cases) {
        Atomic_SetMorphBlend(a, c.start, c.end, c.position, 1.0f);
        ASSERT_EQ(Atomic_Render(a), a);
        ASSERT_NE(a->instanceData, nullptr);  // per atomic: it has its own blend
        const D3D8MeshInstance& r = Records(a->instanceData)[0];
        ASSERT_EQ(r.minVertexIndex, 0u);  // morphing meshes are not compacted
        EXPECT_EQ(Vertex(r, 0)[0], c.x) << c.start << " " << c.end << " " << c.position;
    }
    // A lock seen (and cleared) by one atomic's draw still refreshes another's.
    Atomic_SetMorphBlend(a, 0, 1, 0, 1.0f);
    Atomic* b = Place(g);
    Geometry_Destroy(g);
    Atomic_Render(b);
    Geometry_Lock(g, GEOMETRY_LOCK_VERTICES);
    for (int t = 0; t < 2; t++)
        for (int v = 0; v < 4; v++) g->morphTarget[t].verts[v].z = 7.0f;
    Geometry_Unlock(g);
    Atomic_Render(a);
    EXPECT_EQ(g->lockedSinceLastInst, 0);
    Atomic_Render(b);
    for (Atomic* x : {a, b}) EXPECT_EQ(Vertex(Records(x->instanceData)[0], 0)[2], 7.0f);
}

TEST_F(D3D8PipelineTest, UnlitUnprelitObjectsDrawOpaqueBlackRestoreShadingSendNothingTwiceAndClipOnlyWhenOutside)
{
    Atomic* a = Add(MakeGrid(1, 4.0f, GEOMETRY_POSITIONS, Own(MakeMaterial(200, 100, 50, 128))), 0, 0, 6);
    Atomic* straddling = Add(MakeGrid(1, 1.0f, GEOMETRY_POSITIONS, white), 6, 0, 6);  // across the frustum side
    const uint32_t shade = State(D3DRS_SHADEMODE), dither = State(D3DRS_DITHERENABLE);
    std::string log, again;
    const std::vector<uint32_t> pixels = Snapshot(camera, [&] {
        log = Record([&] { Atomic_Render(a); });
        EXPECT_EQ(State(D3DRS_CLIPPING), 0u);  // wholly inside the frustum
        again = Record([&] { Atomic_Render(a); });
        Atomic_Render(straddling);
        EXPECT_EQ(State(D3DRS_CLIPPING), 1u);
    });
    EXPECT_TRUE(Before(log, "SetRenderState(60, 0xff000000)", "DrawIndexedPrimitive(")) << log;
    EXPECT_TRUE(Before(log, "SetRenderState(9, 0x1)", "DrawIndexedPrimitive(")) << log;
    EXPECT_TRUE(Before(log, "SetTextureStageState(0, 3, 0x3)", "DrawIndexedPrimitive(")) << log;
    EXPECT_EQ(
        std::tuple(State(D3DRS_SHADEMODE), State(D3DRS_DITHERENABLE), StageState(0, D3DTSS_COLOROP),
                   StageState(0, D3DTSS_COLORARG2), StageState(0, D3DTSS_ALPHAOP)),
        std::tuple(shade, dither, (uint32_t)D3DTOP_SELECTARG2, (uint32_t)D3DTA_DIFFUSE, (uint32_t)D3DTOP_DISABLE));
    // Drawn again, the same buffer and format are not sent again.
    EXPECT_EQ(Count(again, "SetStreamSource("), 0) << again;
    EXPECT_EQ(Count(again, "SetVertexShader("), 0) << again;
    EXPECT_EQ(Count(again, "DrawIndexedPrimitive("), 1) << again;
    ASSERT_FALSE(pixels.empty());
    EXPECT_EQ(pixels[(size_t)240 * 640 + 320] & 0xFFFFFF, 0u);
    EXPECT_EQ(pixels[10] & 0xFFFFFF, 0x404040u);  // the clear colour around it
}

TEST_F(D3D8PipelineTest, NewSerialNumbersAndEvictionRebuildTheInstanceDataAndEmptyMeshesDrawNothing)
{
    Geometry* g = MakeGrid(2, 1.0f, GEOMETRY_POSITIONS, white);
    Atomic* a = Add(g);
    Atomic_Render(a);
    ASSERT_NE(g->instanceData, nullptr);
    const uint16_t serial = D3D8InstanceData_Get(g->instanceData)->serialNumber;
    EXPECT_EQ(Count(Record([&] { Atomic_Render(a); }), "CreateIndexBuffer("), 0);
    Geometry_Lock(g, GEOMETRY_LOCK_POLYGONS);
    Geometry_Unlock(g);
    EXPECT_EQ(Count(Record([&] { Atomic_Render(a); }), "CreateIndexBuffer("), 1);
    EXPECT_NE(D3D8InstanceData_Get(g->instanceData)->serialNumber, serial);
    ResourceArena_Empty();  // everything evicted
    EXPECT_EQ(g->instanceData, nullptr);
    ASSERT_EQ(Atomic_Render(a), a);
    EXPECT_NE(g->instanceData, nullptr);
    // Empty geometry and meshes of no indices draw nothing and succeed.
    Geometry* empty = Geometry_Create(0, 0, GEOMETRY_POSITIONS);
    Geometry_Unlock(empty);
    a = Add(empty);
    EXPECT_EQ(Count(Record([&] { EXPECT_EQ(Atomic_Render(a), a); }), "Draw"), 0);
    g = MakeGrid(1, 1.0f, GEOMETRY_POSITIONS, white);
    MeshHeader* header = MeshHeader_Alloc(sizeof(MeshHeader) + sizeof(Mesh));
    *header = MeshHeader{MESH_TRIANGLE_LIST, 1, 999, 0, 0};
    MeshHeader_Meshes(header)[0] = Mesh{nullptr, 0, white};
    MeshHeader_Destroy(g->mesh);
    g->mesh = header;
    Atomic* b = Add(g);
    EXPECT_EQ(Count(Record([&] { EXPECT_EQ(Atomic_Render(b), b); }), "Draw"), 0);
}

TEST_F(D3D8PipelineTest, SectorsInstanceByteNormalsAndAQuadAtSixtyDegreesToTheLightShowsAmbientPlusHalfTheDiffuse)
{
    WorldSector* leaf = QuadLeaf(WORLD_POSITIONS | WORLD_NORMALS | WORLD_PRELIT | WORLD_TEXTURED, {white});
    World* sectorWorld = WorldSector_GetWorld(leaf);
    Engine_Instance()->currentWorld = sectorWorld;
    EXPECT_EQ(Count(Record([&] { EXPECT_EQ(WorldSector_Render(sectorWorld, leaf), leaf); }), "DrawIndexedPrimitive("),
              1);
    ASSERT_NE(leaf->instanceData, nullptr);
    const D3D8MeshInstance& r = Records(leaf->instanceData)[0];
    EXPECT_EQ(std::tuple(r.vertexShader, r.managed), std::tuple(0x152u, 1));
    EXPECT_EQ(Vertex(r, 0)[4], 0.5f);  // 64 / 128
    EXPECT_EQ(Vertex(r, 0)[5], -1.0f);
    EXPECT_EQ(Colour(r, 3, 6), 0xFF000000u | 180u << 16 | 10u << 8 | 20u);
    Engine_Instance()->currentWorld = nullptr;
    Add(MakeGrid(1, 4.0f, GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_LIGHT, white), 0, 0, 6);
    const Vec3 sixty = {0, -0.8660254f, 0.5f};  // the light travels up-and-in; N . -at = 0.5
    AddLight(LIGHT_DIRECTIONAL, LightColour{1, 1, 1, 1}, 0, 0, 0, &sixty);
    AddLight(LIGHT_AMBIENT, LightColour{0.2f, 0.2f, 0.2f, 1}, 0, 0, 0, nullptr);
    const std::vector<uint32_t> pixels = Draw();
    ASSERT_FALSE(pixels.empty());
    const uint32_t centre = pixels[(size_t)240 * 640 + 320];
    for (int shift : {0, 8, 16}) EXPECT_NEAR((centre >> shift) & 255, 0.7 * 255, 2) << std::hex << centre;
}

TEST_F(D3D8PipelineTest, LitTexturedPrelitAndMorphingAtomicsUnderEveryKindOfLightMatchTheGolden)
{
    Material* textured = Own(MakeMaterial());
    Material_SetTexture(textured, Own(worldshapes::Checker(8, 2, 0xFFFFC040u, 0xFF4060FFu)));
    Material* tinted = Own(MakeMaterial(255, 200, 120, 255));
    // Lit and textured, left; prelit and textured, right; morphing and lit, middle.
    Add(MakeGrid(4, 3.0f, GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_LIGHT | GEOMETRY_TEXTURED, textured), -3,
        1.5f, 10);
    Geometry* prelit = MakeGrid(4, 3.0f, GEOMETRY_POSITIONS | GEOMETRY_PRELIT | GEOMETRY_TEXTURED, textured);
    for (int v = 0; v < prelit->numVertices; v++) prelit->preLitLum[v] = RGBA{(uint8_t)(40 * (v % 5)), 255, 128, 255};
    Add(prelit, 3, 1.5f, 10);
    Geometry* morph = MakeGrid(
        4, 3.0f, GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_LIGHT | GEOMETRY_MODULATE_MATERIAL_COLOR, tinted);
    Geometry_AddMorphTarget(morph);
    for (int v = 0; v < morph->numVertices; v++) {
        const Vec3 p = morph->morphTarget[0].verts[v];
        morph->morphTarget[1].verts[v] = Vec3{p.x * 0.5f, p.y * 1.5f, p.z - 1};
        morph->morphTarget[1].normals[v] = Vec3{0, 0, -1};
    }
    MorphTarget_CalcBoundingSphere(&morph->morphTarget[1], &morph->morphTarget[1].boundingSphere);
    Atomic_SetMorphBlend(Add(morph, 0, -2, 10), 0, 1, 0.5f, 1.0f);
    const Vec3 down = {0, -0.6f, 0.8f}, spotAt = {0, 0, 1};
    AddLight(LIGHT_AMBIENT, LightColour{0.15f, 0.15f, 0.15f, 1}, 0, 0, 0, nullptr);
    AddLight(LIGHT_DIRECTIONAL, LightColour{0.5f, 0.5f, 0.6f, 1}, 0, 0, 0, &down);
    AddLight(LIGHT_POINT, LightColour{1.0f, 0.2f, 0.2f, 1}, -3, 1.5f, 8.5f, nullptr, 4);
    Light_SetConeAngle(AddLight(LIGHT_SPOT, LightColour{0.2f, 1.0f, 0.2f, 1}, 0, -2, 5, &spotAt, 12), 0.3f);
    ASSERT_FALSE(Draw().empty());
    EXPECT_EQ(MatchGolden("gfx/world/golden/world_lights"), "");
}

class LightTest : public WorldTest {
protected:
    World* world = nullptr;
    void TearDown() override
    {
        Engine_Instance()->currentWorld = nullptr;
        WorldTest::TearDown();
    }
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

TEST_F(LightTest, ConeAnglesFollowTheArcCosineAndSpotConesPointLightsAndColoursBecomeDeviceFields)
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
    Light* spot = Make(LIGHT_SPOT, 4.0f, 1, 2, 3);
    Light_SetConeAngle(spot, 1.5707964f);
    const LightColour half = {0.5f, 0.25f, 1.0f, 0.5f};
    Light_SetColour(spot, &half);
    Light *unset = Make(LIGHT_SPOT, 4.0f), *soft = Make(LIGHT_SOFT_SPOT, 4.0f);
    Light_SetConeAngle(soft, 0.5f);
    Light *point = Make(LIGHT_POINT, 2.0f), *dark = Make(LIGHT_POINT, 0.0f);
    for (Light* l : {spot, unset, soft, point}) EXPECT_EQ(D3D8Lights_ConvertLight(l), 1);
    EXPECT_EQ(D3D8Lights_ConvertLight(dark), 0);
    EXPECT_EQ(D3D8Lights_GetData(dark)->index, -1);
    const D3DLIGHT8 s = DeviceLight(spot);
    EXPECT_EQ(std::tuple(s.Type, s.Phi, s.Theta), std::tuple((uint32_t)D3DLIGHT_SPOT, 3.1415927f, 3.1415927f - 0.001f));
    EXPECT_EQ(s.Diffuse.a, 0.5f);  // positional lights keep their alpha
    EXPECT_EQ(std::tuple(s.Position.z, s.Range, s.Attenuation2), std::tuple(3.0f, 4.0f, 5.0f / 16));
    EXPECT_EQ(DeviceLight(unset).Phi, 3.1415927f);  // never set: clamped to pi
    EXPECT_EQ(DeviceLight(soft).Theta, 0.0f);
    EXPECT_NEAR(DeviceLight(soft).Phi, 1.0f, 1e-4f);
    const D3DLIGHT8 p = DeviceLight(point);
    EXPECT_EQ(std::tuple(p.Type, p.Attenuation0, p.Attenuation1), std::tuple((uint32_t)D3DLIGHT_POINT, 1.0f, 0.0f));
    D3D8Lights_Commit(1);
}

TEST_F(LightTest, DeviceIndicesGrowAndReuseAndCommitDisablesOnlyThePreviousObjectsUnusedLights)
{
    Light* a = Make(LIGHT_POINT);
    Light* b = Light_Create(LIGHT_POINT);  // destroyed below
    Light_SetFrame(b, Own(Frame_Create()));
    Light_SetRadius(b, 1);
    Light* c = Make(LIGHT_POINT);
    for (Light* l : {a, b, c}) EXPECT_EQ(D3D8Lights_ConvertLight(l), 1);
    EXPECT_EQ(std::tuple(D3D8Lights_GetData(a)->index, D3D8Lights_GetData(c)->index), std::tuple(0, 2));
    D3D8Lights_Commit(1);
    Light_Destroy(b);
    Light *d = Make(LIGHT_POINT), *e = Make(LIGHT_POINT);
    D3D8Lights_ConvertLight(d);
    D3D8Lights_ConvertLight(e);
    EXPECT_EQ(std::tuple(D3D8Lights_GetData(d)->index, D3D8Lights_GetData(e)->index), std::tuple(1, 3));
    D3D8Lights_Commit(1);
    Light* copy = Make(LIGHT_POINT);
    for (const PluginEntry* p = Light_GetRegistry()->first; p; p = p->next)
        if (p->pluginId == D3D8_PLUGIN_LIGHTS) p->copy(copy, a, p->offset, p->size);
    EXPECT_EQ(D3D8Lights_GetData(copy)->index, -1);
    EXPECT_EQ(D3D8Lights_GetData(copy)->attenuation[2], 5.0f);
    std::vector<Light*> many;
    for (int i = 0; i < 10; i++) many.push_back(Make(LIGHT_POINT));
    for (int i = 0; i < 3; i++) D3D8Lights_ConvertLight(many[i]);
    D3D8Lights_Commit(1);
    D3D8Lights_ConvertLight(many[1]);
    std::string log = Record([&] { D3D8Lights_Commit(1); });
    EXPECT_EQ(Count(log, "LightEnable("), 2) << log;
    for (Light* l : {many[0], many[2]})
        EXPECT_NE(log.find("LightEnable(" + std::to_string(D3D8Lights_GetData(l)->index) + ", 0)"), std::string::npos);
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
    Light *sun = Make(LIGHT_DIRECTIONAL), *sky = Make(LIGHT_AMBIENT);
    const LightColour blue = {0.1f, 0.2f, 0.3f, 1};
    Light_SetColour(sky, &blue);
    D3D8AtomicNode_Lighting(b);
    EXPECT_EQ(std::tuple(D3D8Lights_GetEnabled(nullptr), D3D8Lights_GetData(sun)->index, State(D3DRS_AMBIENT)),
              std::tuple(0, -1, 0xFFFFFFFFu));
    float ambient[3];
    D3D8Lights_GetAmbient(ambient);
    EXPECT_EQ(ambient[2], 0.3f);
}

}  // namespace
