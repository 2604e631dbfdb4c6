#include "gfx/world/d3d8pipelines.h"
#include "gfx/core/arena.h"
#include "gfx/core/camera.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "gfx/world/d3d8instance.h"
#include "tests/gfx/world/world_fixture.h"

using namespace worldtest;

namespace {

class D3D8PipelineTest : public WorldTest {
protected:
    std::vector<Frame*> frames;
    void TearDown() override
    {
        for (Frame* f : frames) Frame_Destroy(f);
        WorldTest::TearDown();
    }
    Atomic* Place(Geometry* g, float x = 0, float y = 0, float z = 0)
    {
        Atomic* a = Atomic_Create();
        Atomic_SetGeometry(a, g, 0);
        Frame* f = Frame_Create();
        const Vec3 p = {x, y, z};
        Matrix_Translate(&f->modelling, &p, COMBINE_REPLACE);
        Frame_MarkDirty(f);
        Atomic_SetFrame(a, f);
        frames.push_back(f);
        return a;
    }
    static void Drop(Atomic* a)
    {
        Atomic_SetFrame(a, nullptr);
        Atomic_Destroy(a);
    }
    static D3D8InstanceData* Data(ResourceArenaEntry* e) { return D3D8InstanceData_Get(e); }
    static D3D8MeshInstance& Mesh0(ResourceArenaEntry* e, int i = 0) { return D3D8InstanceData_Records(Data(e))[i]; }
    static const float* Vertex(const D3D8MeshInstance& r, uint32_t i)
    {
        return (const float*)(r.vertexBuffer->bytes.data() + (size_t)(r.baseIndex + i) * r.stride);
    }
    static const uint16_t* Indices(const D3D8MeshInstance& r) { return (const uint16_t*)r.indexBuffer->bytes.data(); }
    static uint32_t Colour(const D3D8MeshInstance& r, uint32_t i, int at)
    {
        uint32_t c;
        memcpy(&c, Vertex(r, i) + at, 4);
        return c;
    }
    static uint32_t State(uint32_t s)
    {
        uint32_t v = 0;
        D3D8_GetRenderState(s, &v);
        return v;
    }
    static uint32_t Stage(uint32_t t)
    {
        uint32_t v = 0;
        D3D8_GetTextureStageState(0, t, &v);
        return v;
    }
};

TEST_F(D3D8PipelineTest, InstancingWritesPositionNormalModulatedColourAndCoordinates)
{
    Material* m = MakeMaterial(128, 64, 255, 255);
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
    Atomic* a = Place(g);
    ASSERT_EQ(Atomic_Render(a), a);
    ASSERT_NE(g->instanceData, nullptr);
    const D3D8MeshInstance& r = Mesh0(g->instanceData);
    EXPECT_EQ(r.vertexShader, 0x152u);
    EXPECT_EQ(r.stride, 36u);
    EXPECT_EQ(r.managed, 1);
    EXPECT_EQ(r.vertexAlpha, 1);
    EXPECT_EQ(r.primitiveType, (uint32_t)D3DPT_TRIANGLELIST);
    for (uint32_t i = 0; i < 3; i++) {
        const float* v = Vertex(r, i);
        EXPECT_EQ(v[0], (float)i);
        EXPECT_EQ(v[1], 2.0f * i);
        EXPECT_EQ(v[5], -1.0f);
        const RGBA c = colours[i];
        const uint32_t expected = (uint32_t)((256 * c.alpha) >> 8) << 24 | (uint32_t)((129 * c.red) >> 8) << 16 |
                                  (uint32_t)((65 * c.green) >> 8) << 8 | (uint32_t)((256 * c.blue) >> 8);
        EXPECT_EQ(Colour(r, i, 6), expected) << i;
        EXPECT_EQ(v[7], 0.5f * i);
        EXPECT_EQ(v[8], 1.0f - i);
    }
    Drop(a);
    Geometry_Destroy(g);
    Material_Destroy(m);
}

TEST_F(D3D8PipelineTest, CompactedMeshesRefillOnlyLockedPartsThroughTheirReverseTable)
{
    Material* m = MakeMaterial();
    Geometry* g = Geometry_Create(12, 2, GEOMETRY_POSITIONS | GEOMETRY_PRELIT);
    for (int i = 0; i < 12; i++) {
        g->morphTarget[0].verts[i] = Vec3{(float)i, 0, 0};
        g->preLitLum[i] = RGBA{(uint8_t)i, 0, 0, 255};
    }
    Geometry_SetTriangleVertexIndices(g, &g->triangles[0], 7, 9, 8);
    Geometry_SetTriangleVertexIndices(g, &g->triangles[1], 5, 11, 6);
    for (int t = 0; t < 2; t++) Geometry_SetTriangleMaterial(g, &g->triangles[t], m);
    Geometry_Unlock(g);
    Atomic* a = Place(g);
    ASSERT_EQ(Atomic_Render(a), a);
    const D3D8MeshInstance& r = Mesh0(g->instanceData);
    // Relative (2,4,3),(0,6,1) sorted to (0,6,1),(2,4,3); first use 0,6,1,2,4,3.
    EXPECT_EQ(r.minVertexIndex, 5u);
    EXPECT_EQ(r.numVertices, 6u);
    EXPECT_EQ(r.remapped, 1);
    const uint16_t expected[6] = {0, 1, 2, 3, 4, 5};
    EXPECT_TRUE(std::equal(expected, expected + 6, Indices(r)));
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
    EXPECT_EQ(g->instanceData, before);
    EXPECT_EQ(g->lockedSinceLastInst, 0);
    for (uint32_t i = 0; i < 6; i++) {
        EXPECT_EQ(Vertex(r, i)[1], 100.0f + sources[i]);
        EXPECT_EQ(Colour(r, i, 3) >> 16 & 0xFF, (uint32_t)sources[i]);
    }
    Drop(a);
    Geometry_Destroy(g);
    Material_Destroy(m);
}

TEST_F(D3D8PipelineTest, MorphBlendsBetweenTargetsAndFallsBackToTheStartOrTargetZero)
{
    Material* m = MakeMaterial();
    Geometry* g = MakeGrid(1, 2.0f, GEOMETRY_POSITIONS, m);
    Geometry_AddMorphTarget(g);
    for (int v = 0; v < 4; v++) g->morphTarget[1].verts[v] = Vec3{10, 20, 30};
    Atomic* a = Place(g);
    struct Case {
        int16_t start, end;
        float position;
        float x;  // of vertex 0, which is at -1 in target 0
    } cases[] = {
        {0, 1, 0.5f, 4.5f}, {0, 1, 0.0f, -1.0f}, {1, 1, 0.5f, 10.0f}, {1, 7, 0.5f, -1.0f}, {1, 0, 1.0f, -1.0f}};
    for (const Case& c : cases) {
        Atomic_SetMorphBlend(a, c.start, c.end, c.position, 1.0f);
        ASSERT_EQ(Atomic_Render(a), a);
        ASSERT_NE(a->instanceData, nullptr);  // per atomic: it has its own blend
        const D3D8MeshInstance& r = Mesh0(a->instanceData);
        ASSERT_EQ(r.minVertexIndex, 0u);  // morphing meshes are not compacted
        EXPECT_EQ(Vertex(r, 0)[0], c.x) << c.start << " " << c.end << " " << c.position;
    }
    Drop(a);
    Geometry_Destroy(g);
    Material_Destroy(m);
}

TEST_F(D3D8PipelineTest, ALockSeenByOneAtomicOfAMorphingGeometryStillRefreshesTheOthers)
{
    Material* m = MakeMaterial();
    Geometry* g = MakeGrid(1, 2.0f, GEOMETRY_POSITIONS, m);
    Geometry_AddMorphTarget(g);
    for (int v = 0; v < 4; v++) g->morphTarget[1].verts[v] = g->morphTarget[0].verts[v];
    Atomic* a = Place(g);
    Atomic* b = Place(g);
    Atomic_Render(a);
    Atomic_Render(b);
    Geometry_Lock(g, GEOMETRY_LOCK_VERTICES);
    for (int t = 0; t < 2; t++)
        for (int v = 0; v < 4; v++) g->morphTarget[t].verts[v].z = 7.0f;
    Geometry_Unlock(g);
    Atomic_Render(a);  // clears the geometry's lock flags
    EXPECT_EQ(g->lockedSinceLastInst, 0);
    Atomic_Render(b);
    for (Atomic* x : {a, b}) EXPECT_EQ(Vertex(Mesh0(x->instanceData), 0)[2], 7.0f);
    Drop(a);
    Drop(b);
    Geometry_Destroy(g);
    Material_Destroy(m);
}

TEST_F(D3D8PipelineTest, UnlitUnprelitObjectsDrawBlackAndRestoreShadingButNotAlphaOp)
{
    Material* m = MakeMaterial();
    Geometry* g = MakeGrid(1, 1.0f, GEOMETRY_POSITIONS, m);
    Atomic* a = Place(g, 0, 0, 5);
    const uint32_t shade = State(D3DRS_SHADEMODE), dither = State(D3DRS_DITHERENABLE);
    std::string log = Record([&] { Atomic_Render(a); });
    EXPECT_TRUE(Before(log, "SetRenderState(60, 0xff000000)", "DrawIndexedPrimitive(")) << log;
    EXPECT_TRUE(Before(log, "SetRenderState(9, 0x1)", "DrawIndexedPrimitive(")) << log;
    EXPECT_TRUE(Before(log, "SetTextureStageState(0, 3, 0x3)", "DrawIndexedPrimitive(")) << log;
    EXPECT_EQ(State(D3DRS_SHADEMODE), shade);
    EXPECT_EQ(State(D3DRS_DITHERENABLE), dither);
    EXPECT_EQ(Stage(D3DTSS_COLOROP), (uint32_t)D3DTOP_SELECTARG2);
    EXPECT_EQ(Stage(D3DTSS_COLORARG2), (uint32_t)D3DTA_DIFFUSE);
    EXPECT_EQ(Stage(D3DTSS_ALPHAOP), (uint32_t)D3DTOP_DISABLE);
    EXPECT_EQ(State(D3DRS_TEXTUREFACTOR), 0xFF000000u);
    // Drawn again, the same buffer and format are not sent again.
    log = Record([&] { Atomic_Render(a); });
    EXPECT_EQ(Count(log, "SetStreamSource("), 0) << log;
    EXPECT_EQ(Count(log, "SetVertexShader("), 0) << log;
    EXPECT_EQ(Count(log, "DrawIndexedPrimitive("), 1) << log;
    Drop(a);
    Geometry_Destroy(g);
    Material_Destroy(m);
}

TEST_F(D3D8PipelineTest, ClippingIsTurnedOffForObjectsWhollyInsideTheFrustum)
{
    Material* m = MakeMaterial();
    Geometry* g = MakeGrid(1, 1.0f, GEOMETRY_POSITIONS, m);
    Atomic* inside = Place(g, 0, 0, 5);
    Atomic* straddling = Place(g, 0, 0, 0.05f);
    Camera* camera = MakeCamera();
    EndFrame();
    ASSERT_NE(Camera_BeginUpdate(camera), nullptr);
    Atomic_Render(inside);
    EXPECT_EQ(State(D3DRS_CLIPPING), 0u);
    Atomic_Render(straddling);
    EXPECT_EQ(State(D3DRS_CLIPPING), 1u);
    Camera_EndUpdate(camera);
    DestroyCamera(camera);
    Drop(inside);
    Drop(straddling);
    Geometry_Destroy(g);
    Material_Destroy(m);
}

TEST_F(D3D8PipelineTest, NewSerialNumbersAndEvictionRebuildTheInstanceData)
{
    Material* m = MakeMaterial();
    Geometry* g = MakeGrid(2, 1.0f, GEOMETRY_POSITIONS, m);
    Atomic* a = Place(g);
    Atomic_Render(a);
    ASSERT_NE(g->instanceData, nullptr);
    const uint16_t serial = Data(g->instanceData)->serialNumber;
    std::string log = Record([&] { Atomic_Render(a); });
    EXPECT_EQ(Count(log, "CreateIndexBuffer("), 0);
    Geometry_Lock(g, GEOMETRY_LOCK_POLYGONS);
    Geometry_Unlock(g);
    log = Record([&] { Atomic_Render(a); });
    EXPECT_EQ(Count(log, "CreateIndexBuffer("), 1) << log;
    EXPECT_NE(Data(g->instanceData)->serialNumber, serial);
    ResourceArena_Empty();  // everything evicted
    EXPECT_EQ(g->instanceData, nullptr);
    ASSERT_EQ(Atomic_Render(a), a);
    EXPECT_NE(g->instanceData, nullptr);
    Drop(a);
    Geometry_Destroy(g);
    Material_Destroy(m);
}

TEST_F(D3D8PipelineTest, EmptyGeometryAndZeroIndexMeshesDrawNothingAndSucceed)
{
    Geometry* empty = Geometry_Create(0, 0, GEOMETRY_POSITIONS);
    Geometry_Unlock(empty);
    Atomic* a = Place(empty);
    std::string log = Record([&] { EXPECT_EQ(Atomic_Render(a), a); });
    EXPECT_EQ(Count(log, "Draw"), 0);
    Drop(a);
    Geometry_Destroy(empty);
    // A crafted binary mesh: one indexed mesh with no indices.
    Material* m = MakeMaterial();
    Geometry* g = MakeGrid(1, 1.0f, GEOMETRY_POSITIONS, m);
    MeshHeader* header = MeshHeader_Alloc(sizeof(MeshHeader) + sizeof(Mesh));
    *header = MeshHeader{MESH_TRIANGLE_LIST, 1, 999, 0, 0};
    MeshHeader_Meshes(header)[0] = Mesh{nullptr, 0, m};
    MeshHeader_Destroy(g->mesh);
    g->mesh = header;
    Atomic* b = Place(g);
    log = Record([&] { EXPECT_EQ(Atomic_Render(b), b); });
    EXPECT_EQ(Count(log, "Draw"), 0);
    Drop(b);
    Geometry_Destroy(g);
    Material_Destroy(m);
}

}  // namespace

namespace {

class D3D8SectorTest : public D3D8PipelineTest {};

TEST_F(D3D8SectorTest, SectorsInstanceTheirByteNormalsAndReadTheirNativeDataIntoSharedRanges)
{
    Material* m = MakeMaterial(255, 255, 255, 255);
    const uint32_t flags = WORLD_POSITIONS | WORLD_NORMALS | WORLD_PRELIT | WORLD_TEXTURED;
    WorldBox box = {{-10, -10, -10}, {10, 10, 10}};
    WorldSector* leaf = WorldSector_CreateLeaf(&box, 4, 2, flags);
    for (int v = 0; v < 4; v++) {
        leaf->vertices[v] = Vec3{(float)(v % 2), (float)(v / 2), 5};
        leaf->normals[v] = SectorNormal{0, 64, -128, 0};
        leaf->preLitLum[v] = RGBA{(uint8_t)(60 * v), 10, 20, 255};
        leaf->texCoords[0][v] = TexCoords{(float)(v % 2), (float)(v / 2)};
    }
    leaf->triangles[0] = SectorTriangle{0, {0, 2, 1}};
    leaf->triangles[1] = SectorTriangle{0, {1, 2, 3}};
    MaterialList list;
    MaterialList_Initialize(&list);
    MaterialList_AppendMaterial(&list, m);
    World* world = World_CreateWithTree(&box, leaf, &list, flags);
    MaterialList_Deinitialize(&list);
    ASSERT_NE(world, nullptr);
    Engine_Instance()->currentWorld = world;
    std::string log = Record([&] { EXPECT_EQ(WorldSector_Render(world, leaf), leaf); });
    EXPECT_EQ(Count(log, "DrawIndexedPrimitive("), 1) << log;
    ASSERT_NE(leaf->instanceData, nullptr);
    const D3D8MeshInstance& r = Mesh0(leaf->instanceData);
    EXPECT_EQ(r.vertexShader, 0x152u);
    EXPECT_EQ(r.managed, 1);
    EXPECT_EQ(Vertex(r, 0)[4], 0.5f);  // 64 / 128
    EXPECT_EQ(Vertex(r, 0)[5], -1.0f);
    EXPECT_EQ(Colour(r, 3, 6), 0xFF000000u | 180u << 16 | 10u << 8 | 20u);
    const Bytes indices = r.indexBuffer->bytes;
    const Bytes vertices(r.vertexBuffer->bytes.begin() + (size_t)r.baseIndex * r.stride,
                         r.vertexBuffer->bytes.begin() + (size_t)(r.baseIndex + r.numVertices) * r.stride);

    world->flags |= WORLD_NATIVE;
    const int32_t size = D3D8NativeData_SectorGetSize(leaf, 0, 0);
    Stream* s = OpenWrite();
    ASSERT_EQ(D3D8NativeData_SectorWrite(s, size, leaf, 0, 0), s);
    Bytes bytes = CloseWrite(s);
    ASSERT_EQ((size_t)size, bytes.size());
    ResourceArena_FreeEntry(leaf->instanceData);
    Stream* in = OpenRead(bytes);
    ASSERT_EQ(D3D8NativeData_SectorRead(in, size, leaf, 0, 0), in);
    Stream_Close(in, nullptr);
    const D3D8MeshInstance& back = Mesh0(leaf->instanceData);
    EXPECT_EQ(back.managed, 1);
    EXPECT_EQ(back.material, m);
    EXPECT_EQ(back.indexBuffer->bytes, indices);
    EXPECT_EQ(Bytes(back.vertexBuffer->bytes.begin() + (size_t)back.baseIndex * back.stride,
                    back.vertexBuffer->bytes.begin() + (size_t)(back.baseIndex + back.numVertices) * back.stride),
              vertices);
    log = Record([&] { EXPECT_EQ(WorldSector_Render(world, leaf), leaf); });
    EXPECT_EQ(Count(log, "DrawIndexedPrimitive("), 1) << log;
    Engine_Instance()->currentWorld = nullptr;
    World_Destroy(world);
    Material_Destroy(m);
}

}  // namespace
