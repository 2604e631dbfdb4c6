#include "gfx/world/d3d8instance.h"

#include "gfx/core/pipeline.h"
#include "gfx/driver/d3d8/d3d8camera.h"
#include "gfx/driver/d3d8/d3d8vbmanager.h"
#include "gfx/world/d3d8pipelines.h"
#include "tests/gfx/layer_fixture.h"
#include "tests/gfx/world/same_writes.h"

using namespace gfxtest;

namespace {

class NativeDataTest : public WorldTest {
protected:
    Material* blue = nullptr;
    void SetUp() override
    {
        WorldTest::SetUp();
        blue = Own(MakeMaterial(0, 0, 255));
    }
    // A 3 x 3 grid of two meshes, instanced and turned native (its block out of the arena).
    Geometry* NativeGrid()
    {
        Geometry* g = MakeGrid(3, 2.0f, GEOMETRY_POSITIONS | GEOMETRY_PRELIT | GEOMETRY_TEXTURED, white, 4.0f);
        for (int t = 0; t < g->numTriangles; t += 3) Geometry_SetTriangleMaterial(g, &g->triangles[t], blue);
        Geometry_Lock(g, GEOMETRY_LOCK_POLYGONS);
        Geometry_Unlock(g);
        Atomic* a = MakeAtomic(g);
        EXPECT_EQ(Atomic_Render(a), a);
        Atomic_Destroy(a);
        TakeOutOfArena(&g->instanceData);
        g->flags |= GEOMETRY_NATIVE;
        return g;
    }
    static void TakeOutOfArena(ResourceArenaEntry** slot)
    {
        ResourceArenaEntry* e = *slot;
        ResourceArenaEntry* copy = (ResourceArenaEntry*)Engine_Malloc(sizeof(ResourceArenaEntry) + e->size);
        memcpy(copy, e, sizeof(ResourceArenaEntry) + e->size);
        copy->link.next = copy->link.prev = nullptr;
        e->destroyNotify = nullptr;  // the buffers moved to the copy
        ResourceArena_FreeEntry(e);
        *slot = copy;
    }
    static Bytes VertexBytes(const D3D8MeshInstance& r)
    {
        return Bytes((const uint8_t*)Vertex(r, 0), (const uint8_t*)Vertex(r, r.numVertices));
    }
    // Read back and written again, twice, an object writes the same bytes.
    template <typename R, typename W, typename D>
    static void ExpectSameWrites(const Bytes& first, R read, W write, D destroy)
    {
        Bytes bytes = first;
        for (int round = 0; round < 2; round++) {
            auto back = read(bytes);
            ASSERT_NE(back, nullptr) << round;
            bytes = write(back);
            EXPECT_TRUE(samewrites::Same(first, bytes)) << round;
            destroy(back);
        }
    }
};

TEST_F(NativeDataTest, NativeGeometryAndItsAtomicRoundTripWithSizesMatchingTheirBytesAndFailedReadsLeaveNothing)
{
    Geometry* g = Own(NativeGrid());
    Bytes bytes = WriteGeometry(g);
    EXPECT_EQ(std::tuple(U32(bytes, 4) + 12, (int32_t)U32(bytes, 4)),
              std::tuple(bytes.size(), Geometry_StreamGetSize(g)));
    size_t native = 0;  // the native sub-chunk
    while (U32(bytes, native) != PLUGIN_NATIVE_DATA || U32(bytes, native + 12) != CHUNK_STRUCT) native += 4;
    EXPECT_EQ(std::tuple((int32_t)U32(bytes, native + 4), U32(bytes, native + 16) + 12, U32(bytes, native + 24),
                         U32(bytes, native + 28)),
              std::tuple(D3D8NativeData_GeometryGetSize(g, 0, 0), U32(bytes, native + 4), 8u, 4u + 44 * 2));
    Geometry* back = Own(ReadGeometry(bytes));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->triangles, nullptr);
    for (int m = 0; m < 2; m++) {
        const D3D8MeshInstance &a = Records(g->instanceData)[m], &b = Records(back->instanceData)[m];
        EXPECT_EQ(MaterialList_FindMaterialIndex(&back->matList, b.material),
                  MaterialList_FindMaterialIndex(&g->matList, a.material));
        EXPECT_EQ(std::tuple(b.managed, a.indexBuffer->bytes, VertexBytes(a)),
                  std::tuple(1, b.indexBuffer->bytes, VertexBytes(b)));
    }
    ExpectSameWrites(bytes, ReadGeometry, WriteGeometry, Geometry_Destroy);
    ExpectSameWrites(WriteAtomic(Own(MakeAtomic(g))), ReadAtomic, WriteAtomic, Atomic_Destroy);

    // A plain geometry writes no block; an instanced one without meshes an empty one.
    auto write = [](const Geometry* p, Stream* s) { return D3D8NativeData_GeometryWrite(s, 0, p, 0, 0); };
    Geometry* plain = Own(MakeGrid(1, 1.0f, GEOMETRY_POSITIONS, white));
    EXPECT_EQ(std::tuple(D3D8NativeData_GeometryGetSize(plain, 0, 0), Written(write, plain).size()), std::tuple(0, 0u));
    Atomic* a = Own(MakeAtomic(plain));
    ASSERT_NE(D3D8_InstanceMeshes(a, plain, &plain->instanceData, MeshHeader_Empty(), D3D8AtomicNode_Instance, 1),
              nullptr);
    plain->flags |= GEOMETRY_NATIVE;
    EXPECT_EQ(D3D8NativeData_GeometryGetSize(plain, 0, 0), 24);
    const Bytes empty = Written(write, plain);
    ASSERT_EQ(empty.size(), 24u);
    EXPECT_EQ(std::tuple(U32(empty, 4), U32(empty, 12), U32(empty, 16)), std::tuple(12u, 8u, 4u));
    const Bytes& good = bytes;
    // A wrong platform fails before allocating, with no error of its own (the caller's).
    Bytes block(good.begin() + native + 12, good.begin() + native + 12 + U32(good, native + 4));
    PutU32(block, 12, 9);
    ResourceArenaEntry* kept = g->instanceData;
    const long before = Live();
    Stream* s = OpenRead(block);
    EXPECT_EQ(D3D8NativeData_GeometryRead(s, (int32_t)block.size(), g, 0, 0), nullptr);
    Stream_Close(s, nullptr);
    EXPECT_EQ(TakeError(), (int32_t)ERR_NO_ERROR);
    EXPECT_EQ(std::tuple(Live(), g->instanceData), std::tuple(before, kept));
    // Every other refusal gives the vertex ranges it took back.
    auto freeBytes = [key = Records(g->instanceData)[0].vertexShader] {
        VertexBufferRange ranges[64];
        uint32_t total = 0;
        for (int32_t i = 0, n = VertexBufferManager_GetFreeRanges(key, ranges, 64); i < std::min(n, 64); i++)
            total += ranges[i].size;
        return total;
    };
    const uint32_t free = freeBytes();
    D3D8Test_InjectFault(D3D8_FAULT_LOCK, 3, 1, D3DERR_INVALIDCALL);  // while the second mesh is read
    ExpectRefused(good, {{"lock failure", kKeep, 0, (int32_t)ERR_DEVICE_REFUSED}}, ReadGeometry);
    D3D8Test_InjectFault(D3D8_FAULT_LOCK, 0, 0, D3D_OK);
    ExpectRefused(good,
                  {{"platform", native + 24, 9, (int32_t)ERR_SHORT_READ},
                   {"cut in the second mesh's vertex bytes", kKeep, 0, 0, good.size() - 60},
                   {"struct chunk too short for its words", native + 16, 4, (int32_t)WORLD_ERR_BAD_DATA},
                   {"block size", native + 28, 4 + 44, 0},
                   {"mesh count", native + 32, 1u << 16, 0},
                   {"stride", native + 40, 20, 0},
                   {"shader handle", native + 52, 0x153, 0},
                   {"material", native + 48, 7, 0},
                   {"index count", native + 44, 5, 0}},
                  ReadGeometry);
    EXPECT_EQ(freeBytes(), free);
}

TEST_F(NativeDataTest, OtherGeometriesAtomicsAndSectorsWriteTheSameBytesAgain)
{
    Geometry* g = Own(MakeGrid(2, 1.0f, GEOMETRY_POSITIONS | GEOMETRY_TRISTRIP, white));
    Geometry_AddMorphTarget(g);
    ExpectSameWrites(WriteGeometry(g), ReadGeometry, WriteGeometry, Geometry_Destroy);
    ExpectSameWrites(WriteAtomic(Own(MakeAtomic(g))), ReadAtomic, WriteAtomic, Atomic_Destroy);
    // Sectors travel as their extension chunk, read into a leaf of a new world.
    uint32_t flags = WORLD_POSITIONS | WORLD_PRELIT;
    auto sector = [&] { return QuadLeaf(flags, {white, blue}, 1); };
    auto write = [](WorldSector* leaf) {
        return Written([](const void* o,
                          Stream* s) { return PluginRegistry_StreamWriteExtensions(WorldSector_GetRegistry(), s, o); },
                       leaf);
    };
    auto read = [&](Bytes& b) {
        WorldSector* into = sector();
        Stream* s = OpenRead(b);
        const bool ok = PluginRegistry_StreamReadExtensions(WorldSector_GetRegistry(), s, into);
        Stream_Close(s, nullptr);
        return ok ? into : nullptr;
    };
    Bytes good;
    for (bool native : {false, true}) {
        SCOPED_TRACE(native);
        WorldSector* leaf = sector();
        if (native) {
            EXPECT_EQ(WorldSector_Render(WorldSector_GetWorld(leaf), leaf), leaf);
            TakeOutOfArena(&leaf->instanceData);
            WorldSector_GetWorld(leaf)->flags |= WORLD_NATIVE;
            flags |= WORLD_NATIVE;
        }
        ExpectSameWrites(good = write(leaf), read, write, [](WorldSector* s) {  // read back, it draws
            EXPECT_EQ(WorldSector_Render(WorldSector_GetWorld(s), s), s);
        });
    }
    // Read on their own, a sector's refused extensions say why, native data
    // of another platform included.
    size_t native = 0;
    while (U32(good, native) != PLUGIN_NATIVE_DATA || U32(good, native + 12) != CHUNK_STRUCT) native += 4;
    WorldSector* into = sector();
    auto readInto = [&](Bytes& b) {
        Stream* s = OpenRead(b);
        const bool ok = PluginRegistry_StreamReadExtensions(WorldSector_GetRegistry(), s, into);
        Stream_Close(s, nullptr);
        return ok ? into : nullptr;
    };
    D3D8Test_InjectFault(D3D8_FAULT_LOCK, 0, 1, D3DERR_INVALIDCALL);
    ExpectRefused(good, {{"lock failure", kKeep, 0, (int32_t)ERR_DEVICE_REFUSED}}, readInto);
    ExpectRefused(good,
                  {{"struct chunk too short for its words", native + 16, 4, (int32_t)WORLD_ERR_BAD_DATA},
                   {"platform", native + 24, 9, (int32_t)WORLD_ERR_BAD_DATA}},
                  readInto);
}

class NativeMorphTest : public NativeDataTest {
protected:
    void SetUp() override
    {
        answers.hardwareTnL = true;
        NativeDataTest::SetUp();
    }
};

TEST_F(NativeMorphTest, MorphingNativeDataReadsIntoSharedRangesAndSurvivesADeviceReset)
{
    Geometry* g = MakeGrid(3, 2.0f, GEOMETRY_POSITIONS | GEOMETRY_PRELIT, white, 4.0f);
    Geometry_AddMorphTarget(g);
    for (int v = 0; v < g->numVertices; v++) g->morphTarget[1].verts[v] = g->morphTarget[0].verts[v];
    // A range taken first puts the vertices at a base index > 0; pipeline 0x12E shares ranges.
    IDirect3DVertexBuffer8* vb = nullptr;
    uint32_t base = 0;
    ASSERT_EQ(VertexBufferManager_Alloc(0x42, 16 * 10, &vb, &base), 1);
    Pipeline skin = {};
    skin.pluginId = 0x12E;
    Atomic* a = MakeAtomic(g);
    a->pipeline = &skin;
    ASSERT_NE(D3D8_InstanceMeshes(a, g, &g->instanceData, g->mesh, D3D8AtomicNode_Instance, 1), nullptr);
    ASSERT_GT(Records(g->instanceData)[0].baseIndex, 0u);
    g->flags |= GEOMETRY_NATIVE;
    Bytes bytes = WriteGeometry(g);
    Atomic_Destroy(a);
    Geometry_Destroy(g);

    Geometry* back = Own(ReadGeometry(bytes));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->numMorphTargets, 2);
    EXPECT_EQ(Records(back->instanceData)[0].managed, 1);
    Atomic* shown = Place(back);
    Camera* camera = Own(MakeCamera());
    auto draw = [&] { Atomic_Render(shown); };
    const std::vector<uint32_t> before = Snapshot(camera, draw);
    EndFrame();
    D3D8Test_LoseDevice(device, 0);
    ASSERT_EQ(D3D8_BeginScene(), 1);
    EndFrame();
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(Snapshot(camera, draw), before);
    EXPECT_EQ(before[(size_t)240 * 640 + 320] & 0xFFFFFF, 0xFFFFFFu);  // the white prelit grid covers the middle
}

}  // namespace
