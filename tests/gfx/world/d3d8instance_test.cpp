#include "gfx/world/d3d8instance.h"

#include <functional>

#include "gfx/core/arena.h"
#include "gfx/core/camera.h"
#include "gfx/core/pipeline.h"
#include "gfx/driver/d3d8/d3d8camera.h"
#include "gfx/driver/d3d8/d3d8vbmanager.h"
#include "gfx/world/d3d8pipelines.h"
#include "tests/gfx/world/same_writes.h"
#include "tests/gfx/world/world_fixture.h"

using namespace worldtest;

namespace {

class NativeDataTest : public WorldTest {
protected:
    Material* red = nullptr;
    Material* blue = nullptr;
    void SetUp() override
    {
        WorldTest::SetUp();
        red = MakeMaterial(255, 0, 0);
        blue = MakeMaterial(0, 0, 255);
    }
    void TearDown() override
    {
        Material_Destroy(red);
        Material_Destroy(blue);
        WorldTest::TearDown();
    }
    // A 3 x 3 grid with two materials (two meshes), instanced on the device
    // and turned native.
    Geometry* NativeGrid(uint32_t flags = GEOMETRY_POSITIONS | GEOMETRY_PRELIT | GEOMETRY_TEXTURED)
    {
        Geometry* g = MakeGrid(3, 2.0f, flags, red, 4.0f);
        for (int t = 0; t < g->numTriangles; t += 3) Geometry_SetTriangleMaterial(g, &g->triangles[t], blue);
        Geometry_Lock(g, GEOMETRY_LOCK_POLYGONS);
        Geometry_Unlock(g);
        Atomic* a = Atomic_Create();
        Atomic_SetGeometry(a, g, 0);
        EXPECT_EQ(Atomic_Render(a), a);
        Atomic_Destroy(a);
        TakeOutOfArena(&g->instanceData);
        g->flags |= GEOMETRY_NATIVE;
        return g;
    }
    // Native data lives outside the arena: moves the block out of it.
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
    // The geometry chunk followed by an empty marker chunk.
    static Bytes Write(const Geometry* g)
    {
        Bytes bytes = WriteGeometry(g);
        const uint32_t marker[3] = {0x99, 0, Stream_EncodeStamp(0x35000, 0xFFFF)};
        bytes.insert(bytes.end(), (const uint8_t*)marker, (const uint8_t*)(marker + 3));
        return bytes;
    }
    static Geometry* Read(Bytes& bytes) { return ReadGeometry(bytes); }
    static D3D8MeshInstance* Records(const Geometry* g)
    {
        return D3D8InstanceData_Records(D3D8InstanceData_Get(g->instanceData));
    }
    static Bytes VertexBytes(const D3D8MeshInstance& r)
    {
        const uint8_t* p = r.vertexBuffer->bytes.data() + (size_t)r.baseIndex * r.stride;
        return Bytes(p, p + (size_t)r.numVertices * r.stride);
    }
    static uint32_t FreeBytes(uint32_t key)
    {
        VertexBufferRange ranges[64];
        const int32_t n = VertexBufferManager_GetFreeRanges(key, ranges, 64);
        uint32_t total = 0;
        for (int32_t i = 0; i < std::min(n, 64); i++) total += ranges[i].size;
        return total;
    }
};

TEST_F(NativeDataTest, NativeGeometryRoundTripsWithEveryChunkSizeMatchingItsBytes)
{
    Geometry* g = NativeGrid();
    ASSERT_EQ(D3D8InstanceData_Get(g->instanceData)->numMeshes, 2);
    Bytes bytes = Write(g);
    const size_t total = bytes.size() - 12;  // without the marker
    // Every level: geometry, struct, material list, extensions, sub-chunks.
    EXPECT_EQ(U32(bytes, 4) + 12, total);
    EXPECT_EQ((int32_t)U32(bytes, 4), Geometry_StreamGetSize(g));
    const size_t list = 24 + U32(bytes, 16), ext = list + 12 + U32(bytes, list + 4);
    ASSERT_EQ(U32(bytes, ext), (uint32_t)CHUNK_EXTENSION);
    EXPECT_EQ(ext + 12 + U32(bytes, ext + 4), total);
    size_t at = ext + 12, native = 0;
    while (at < total) {
        if (U32(bytes, at) == PLUGIN_NATIVE_DATA) native = at;
        at += 12 + U32(bytes, at + 4);
    }
    EXPECT_EQ(at, total);
    ASSERT_NE(native, 0u);
    EXPECT_EQ((int32_t)U32(bytes, native + 4), D3D8NativeData_GeometryGetSize(g, 0, 0));
    EXPECT_EQ(U32(bytes, native + 12), (uint32_t)CHUNK_STRUCT);
    EXPECT_EQ(U32(bytes, native + 16) + 12, U32(bytes, native + 4));
    EXPECT_EQ(U32(bytes, native + 24), 8u);
    EXPECT_EQ(U32(bytes, native + 28), 4u + 44 * 2);
    {  // skipping by sizes lands on the marker
        Stream* s = OpenRead(bytes);
        EXPECT_TRUE(Stream_FindChunk(s, 0x99, nullptr, nullptr));
        Stream_Close(s, nullptr);
    }
    Geometry* back = Read(bytes);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->triangles, nullptr);
    for (int m = 0; m < 2; m++) {
        const D3D8MeshInstance &a = Records(g)[m], &b = Records(back)[m];
        EXPECT_EQ(MaterialList_FindMaterialIndex(&back->matList, b.material),
                  MaterialList_FindMaterialIndex(&g->matList, a.material));
        EXPECT_EQ(b.managed, 1);
        EXPECT_EQ(a.indexBuffer->bytes, b.indexBuffer->bytes);
        EXPECT_EQ(VertexBytes(a), VertexBytes(b));
    }
    Geometry_Destroy(back);
    Geometry_Destroy(g);
}

TEST_F(NativeDataTest, EmptyBlockIsTwentyFourBytesAndNonNativeGeometryWritesNothing)
{
    Geometry* plain = MakeGrid(1, 1.0f, GEOMETRY_POSITIONS, red);
    EXPECT_EQ(D3D8NativeData_GeometryGetSize(plain, 0, 0), 0);
    Stream* s = OpenWrite();
    EXPECT_EQ(D3D8NativeData_GeometryWrite(s, 0, plain, 0, 0), s);
    EXPECT_EQ(CloseWrite(s).size(), 0u);
    Atomic* a = Atomic_Create();
    Atomic_SetGeometry(a, plain, 0);
    ASSERT_NE(D3D8_InstanceMeshes(a, plain, &plain->instanceData, MeshHeader_Empty(), D3D8AtomicNode_Instance, 1),
              nullptr);
    plain->flags |= GEOMETRY_NATIVE;
    EXPECT_EQ(D3D8NativeData_GeometryGetSize(plain, 0, 0), 24);
    s = OpenWrite();
    D3D8NativeData_GeometryWrite(s, 0, plain, 0, 0);
    Bytes bytes = CloseWrite(s);
    ASSERT_EQ(bytes.size(), 24u);
    EXPECT_EQ(U32(bytes, 4), 12u);
    EXPECT_EQ(U32(bytes, 12), 8u);
    EXPECT_EQ(U32(bytes, 16), 4u);
    Atomic_Destroy(a);
    Geometry_Destroy(plain);
}

TEST_F(NativeDataTest, FailedReadsGiveEveryRangeBackAndLeaveNothing)
{
    Geometry* g = NativeGrid();
    const Bytes good = Write(g);
    const uint32_t key = Records(g)[0].vertexShader;
    size_t native = 0;
    for (size_t at = 0; at + 4 <= good.size(); at += 4)
        if (U32(good, at) == PLUGIN_NATIVE_DATA && U32(good, at + 12) == CHUNK_STRUCT) native = at;
    ASSERT_NE(native, 0u);
    // A wrong platform code fails before anything is allocated, with no
    // error of the native reader's own (the geometry reader then reports it).
    {
        Bytes bytes(good.begin() + native + 12, good.begin() + native + 12 + U32(good, native + 4));
        PutU32(bytes, 12, 9);
        ResourceArenaEntry* kept = g->instanceData;
        const long before = Live();
        TakeError();
        Stream* s = OpenRead(bytes);
        EXPECT_EQ(D3D8NativeData_GeometryRead(s, (int32_t)bytes.size(), g, 0, 0), nullptr);
        Stream_Close(s, nullptr);
        EXPECT_EQ(TakeError(), (int32_t)ERR_NO_ERROR);
        EXPECT_EQ(Live(), before);
        EXPECT_EQ(g->instanceData, kept);
        Bytes whole = good;
        PutU32(whole, native + 24, 9);
        EXPECT_EQ(Read(whole), nullptr);
        EXPECT_EQ(TakeError(), (int32_t)ERR_SHORT_READ);
    }
    // A lock failure while the second mesh is read, and a stream cut off in
    // the second mesh's vertex bytes: the ranges taken go back.
    for (int variant = 0; variant < 2; variant++) {
        SCOPED_TRACE(variant);
        Bytes bytes = good;
        if (variant == 0) D3D8Test_InjectFault(D3D8_FAULT_LOCK, 3, 1, D3DERR_INVALIDCALL);
        else bytes.erase(bytes.end() - (12 + 60), bytes.end());
        const uint32_t free = FreeBytes(key);
        const long before = Live();
        EXPECT_EQ(Read(bytes), nullptr);
        EXPECT_EQ(FreeBytes(key), free);
        EXPECT_EQ(Live(), before);
        D3D8Test_InjectFault(D3D8_FAULT_LOCK, 0, 0, D3D_OK);
    }
    // Blocks that contradict their owner.
    struct Case {
        const char* what;
        size_t at;  // from the native sub-chunk
        uint32_t value;
    } cases[] = {
        {"block size", 28, 4 + 44},   {"mesh count", 32, 1u << 16}, {"stride", 40, 20},
        {"shader handle", 52, 0x153}, {"material", 48, 7},          {"index count", 44, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = good;
        PutU32(bytes, native + c.at, c.value);
        const long before = Live();
        TakeError();
        EXPECT_EQ(Read(bytes), nullptr);
        EXPECT_EQ(Live(), before);
    }
    Geometry_Destroy(g);
}

// A leaf of 4 vertices and 2 triangles in a world of its own over `list`.
struct SectorWorld {
    World* world;
    WorldSector* leaf;
};
SectorWorld MakeSectorWorld(const MaterialList* list, uint32_t flags)
{
    const WorldBox box = {{-10, -10, -10}, {10, 10, 10}};
    WorldSector* leaf = WorldSector_CreateLeaf(&box, 4, 2, flags);
    for (int v = 0; v < 4; v++) {
        leaf->vertices[v] = Vec3{(float)(v % 2), (float)(v / 2), 5};
        leaf->preLitLum[v] = RGBA{(uint8_t)(60 * v), 10, 20, 255};
    }
    leaf->triangles[0] = SectorTriangle{0, {0, 2, 1}};
    leaf->triangles[1] = SectorTriangle{1, {1, 2, 3}};
    return SectorWorld{World_CreateWithTree(&box, leaf, list, flags), leaf};
}

TEST_F(NativeDataTest, WrittenObjectsReadBackAndWriteTheSameBytesAgain)
{
    MaterialList list;
    MaterialList_Initialize(&list);
    MaterialList_AppendMaterial(&list, red);
    MaterialList_AppendMaterial(&list, blue);
    std::vector<World*> worlds;
    // Each kind: its chunk bytes, and an object read from bytes (null when refused).
    struct Kind {
        std::function<Bytes(void*)> write;
        std::function<void*(Bytes&)> read;
        std::function<void(void*)> destroy;
    };
    const Kind geometry = {[](void* g) { return WriteGeometry((Geometry*)g); },
                           [](Bytes& b) -> void* { return ReadGeometry(b); },
                           [](void* g) { Geometry_Destroy((Geometry*)g); }};
    const Kind atomic = {[](void* a) {
                             Stream* s = OpenWrite();
                             EXPECT_NE(Atomic_StreamWrite((Atomic*)a, s), nullptr);
                             return CloseWrite(s);
                         },
                         [](Bytes& b) -> void* {
                             Stream* s = OpenRead(b);
                             Atomic* a =
                                 Stream_FindChunk(s, CHUNK_ATOMIC, nullptr, nullptr) ? Atomic_StreamRead(s) : nullptr;
                             Stream_Close(s, nullptr);
                             return a;
                         },
                         [](void* a) { Atomic_Destroy((Atomic*)a); }};
    // Sectors travel as their extension chunk, read into a leaf of a new world.
    uint32_t sectorFlags = 0;
    const Kind sector = {
        [](void* leaf) {
            Stream* s = OpenWrite();
            EXPECT_NE(PluginRegistry_StreamWriteExtensions(WorldSector_GetRegistry(), s, leaf), nullptr);
            return CloseWrite(s);
        },
        [&](Bytes& b) -> void* {
            const SectorWorld into = MakeSectorWorld(&list, sectorFlags);
            worlds.push_back(into.world);
            Stream* s = OpenRead(b);
            void* read =
                PluginRegistry_StreamReadExtensions(WorldSector_GetRegistry(), s, into.leaf) ? into.leaf : nullptr;
            Stream_Close(s, nullptr);
            return read;
        },
        [](void*) {}};
    auto nativeSector = [&](bool native) -> void* {
        sectorFlags = WORLD_POSITIONS | WORLD_PRELIT;
        const SectorWorld made = MakeSectorWorld(&list, sectorFlags);
        worlds.push_back(made.world);
        if (native) {
            EXPECT_EQ(WorldSector_Render(made.world, made.leaf), made.leaf);
            TakeOutOfArena(&made.leaf->instanceData);
            made.world->flags |= WORLD_NATIVE;
            sectorFlags |= WORLD_NATIVE;
        }
        return made.leaf;
    };
    auto atomicOf = [](Geometry* g) -> void* {
        Atomic* a = Atomic_Create();
        Atomic_SetGeometry(a, g, 0);
        Geometry_Destroy(g);
        return a;
    };
    const struct Row {
        const char* what;
        const Kind& kind;
        std::function<void*()> make;
    } rows[] = {
        {"native geometry", geometry, [&]() -> void* { return NativeGrid(); }},
        {"geometry of strips and two targets", geometry,
         [&]() -> void* {
             Geometry* g = MakeGrid(2, 1.0f, GEOMETRY_POSITIONS | GEOMETRY_TRISTRIP, red);
             Geometry_AddMorphTarget(g);
             return g;
         }},
        {"atomic of a native geometry", atomic, [&] { return atomicOf(NativeGrid()); }},
        {"atomic", atomic, [&] { return atomicOf(MakeGrid(2, 1.0f, GEOMETRY_POSITIONS | GEOMETRY_PRELIT, blue)); }},
        {"native sector", sector, [&] { return nativeSector(true); }},
        {"sector", sector, [&] { return nativeSector(false); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        void* object = row.make();
        const Bytes first = row.kind.write(object);
        Bytes bytes = first;
        for (int round = 0; round < 2; round++) {
            void* read = row.kind.read(bytes);
            ASSERT_NE(read, nullptr) << round;
            bytes = row.kind.write(read);
            EXPECT_TRUE(samewrites::Same(first, bytes)) << round;
            row.kind.destroy(read);
        }
        row.kind.destroy(object);
    }
    for (World* w : worlds) World_Destroy(w);
    MaterialList_Deinitialize(&list);
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
    const uint32_t flags = GEOMETRY_POSITIONS | GEOMETRY_PRELIT;
    Geometry* g = MakeGrid(3, 2.0f, flags, red, 4.0f);
    Geometry_AddMorphTarget(g);
    for (int v = 0; v < g->numVertices; v++) g->morphTarget[1].verts[v] = g->morphTarget[0].verts[v];
    // A range taken first puts the geometry's vertices at a base index > 0;
    // a pipeline word 0x12E keeps it in shared ranges on this device.
    IDirect3DVertexBuffer8* vb = nullptr;
    uint32_t base = 0;
    ASSERT_EQ(VertexBufferManager_Alloc(0x42, 16 * 10, &vb, &base), 1);
    Pipeline skin = {};
    skin.pluginId = 0x12E;
    Atomic* a = Atomic_Create();
    Atomic_SetGeometry(a, g, 0);
    a->pipeline = &skin;
    ASSERT_NE(D3D8_InstanceMeshes(a, g, &g->instanceData, g->mesh, D3D8AtomicNode_Instance, 1), nullptr);
    a->pipeline = nullptr;
    ASSERT_GT(Records(g)[0].baseIndex, 0u);
    g->flags |= GEOMETRY_NATIVE;
    Bytes bytes = Write(g);
    Atomic_Destroy(a);
    Geometry_Destroy(g);

    Geometry* back = Read(bytes);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->numMorphTargets, 2);
    EXPECT_EQ(Records(back)[0].managed, 1);
    Atomic* shown = Atomic_Create();
    Atomic_SetGeometry(shown, back, 0);
    Frame* f = Frame_Create();
    Atomic_SetFrame(shown, f);
    Camera* camera = MakeCamera();
    auto draw = [&] { Atomic_Render(shown); };
    const std::vector<uint32_t> before = Snapshot(camera, draw);
    EndFrame();
    D3D8Test_LoseDevice(device, 0);
    ASSERT_EQ(D3D8_BeginScene(), 1);
    EndFrame();
    const std::vector<uint32_t> after = Snapshot(camera, draw);
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(before, after);
    const uint32_t centre = before[(size_t)240 * 640 + 320];
    EXPECT_EQ(centre & 0xFFFFFF, 0xFFFFFFu);  // the white prelit grid covers the middle
    DestroyCamera(camera);
    Atomic_SetFrame(shown, nullptr);
    Frame_Destroy(f);
    Atomic_Destroy(shown);
    Geometry_Destroy(back);
}

}  // namespace
