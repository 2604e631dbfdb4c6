// Fuzzes the readers of the graphics plugins over the engine and the
// Direct3D 8 stand-in, with the world and the whole plugin chain attached.
// The first byte chooses what the rest is read as:
//   0  an atomic chunk: its geometry's skin and collision sub-chunks, its
//      materials' effects, the atomic's effects flag and legacy skin chunk;
//   1  a frame's extension chunk (the hierarchy sub-chunk);
//   2  a world sector's extension chunk (collision data, effects flag) for
//      a leaf of 4 triangles;
//   3  standard key frames: the next byte is the key count (0..15).
// Whatever reads is drawn (with a hierarchy for a skinned atomic), queried,
// written back, read into a new object and written again (the bytes must
// not change but for what native data may move, same_writes.h) and
// destroyed; whatever fails must say why. Either way no block may be left
// behind. Memory comes from functions that refuse blocks
// above a bound, so a huge count ends as a clean out-of-memory failure.
//
// With HELM_PLUGIN_SEEDS=<folder> in the environment the target first writes
// its seed inputs there.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/frame.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/driver/d3d8/d3d8vbmanager.h"
#include "gfx/plugin/collision/collision.h"
#include "gfx/plugin/hanim/hanim.h"
#include "gfx/plugin/matfx/matfx.h"
#include "gfx/plugin/random/random.h"
#include "gfx/plugin/skin/skin.h"
#include "gfx/toolkit/anim/stdkey.h"
#include "gfx/world/atomic.h"
#include "gfx/world/world.h"
#include "platform/win32/window.h"
#include "tests/fuzz/engine_memory.h"
#include "tests/gfx/world/same_writes.h"

namespace {

using enginefuzz::g_live;
using enginefuzz::ReadTexture;

Window* g_window = nullptr;
Camera* g_camera = nullptr;

bool Start()
{
    g_window = Window_Create("plugin fuzz", 64, 48, WINDOW_HEADLESS);
    Image_InstallModule();
    Raster_InstallModule();
    Texture_InstallModule();
    D3D8_InstallDriver();
    if (!Engine_Init(&enginefuzz::kMemory, 0, 8u << 20) || !World_PluginAttach() || !Random_PluginAttach() ||
        !Skin_PluginAttach() || !HAnim_PluginAttach() || !GeomCollision_PluginAttach() || !MatFX_PluginAttach() ||
        !Engine_Open(&g_window) || !Engine_Start())
        return false;
    Texture_SetReadCallback(ReadTexture);
    return true;
}

void Save(const char* folder, const char* name, uint8_t selector, const uint8_t* data, size_t size)
{
    const std::string path = std::string(folder) + "/" + name;
    if (FILE* f = fopen(path.c_str(), "wb")) {
        fwrite(&selector, 1, 1, f);
        fwrite(data, 1, size, f);
        fclose(f);
    }
}

template <typename Fn>
void SaveStream(const char* folder, const char* name, uint8_t selector, Fn write)
{
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    write(s);
    StreamMemory m = {};
    Stream_Close(s, &m);
    Save(folder, name, selector, m.start, m.length);
    Engine_Free(m.start);
}

// A skinned, collidable grid with an environment-mapped material, a frame
// holding a hierarchy, and three key frames.
void WriteSeeds(const char* folder)
{
    Geometry* g = Geometry_Create(9, 8, GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT | GEOMETRY_TEXTURED);
    Material* m = Material_Create();
    Texture* t = ReadTexture("chrome", "");
    MatFX_SetMaterialEffects(m, MATFX_ENVMAP);
    MatFX_SetEnvMap(m, t, nullptr, 1, 0.5f);
    Texture_Destroy(t);
    std::vector<float> weights;
    std::vector<uint32_t> bones;
    for (int v = 0; v < 9; v++) {
        g->morphTarget[0].verts[v] = Vec3{(float)(v % 3), (float)(v / 3), 1};
        g->morphTarget[0].normals[v] = Vec3{0, 0, -1};
        g->preLitLum[v] = RGBA{255, 255, 255, 255};
        g->texCoords[0][v] = TexCoords{0.5f * (v % 3), 0.5f * (v / 3)};
        weights.insert(weights.end(), {0.75f, 0.25f, 0, 0});
        bones.push_back(v % 2 ? 0x0001u : 0x0100u);
    }
    for (int q = 0, tri = 0; q < 4; q++) {
        const uint16_t c = (uint16_t)(q % 2 + 3 * (q / 2));
        Geometry_SetTriangleVertexIndices(g, &g->triangles[tri], c, (uint16_t)(c + 3), (uint16_t)(c + 1));
        Geometry_SetTriangleMaterial(g, &g->triangles[tri++], m);
        Geometry_SetTriangleVertexIndices(g, &g->triangles[tri], (uint16_t)(c + 1), (uint16_t)(c + 3),
                                          (uint16_t)(c + 4));
        Geometry_SetTriangleMaterial(g, &g->triangles[tri++], m);
    }
    MorphTarget_CalcBoundingSphere(&g->morphTarget[0], &g->morphTarget[0].boundingSphere);
    Geometry_Unlock(g);
    Matrix inverse[2];
    Matrix_SetIdentity(&inverse[0]);
    Matrix_SetIdentity(&inverse[1]);
    inverse[1].pos = Vec3{0, 1, 0};
    inverse[1].flags = 0;
    Skin_GeometrySetSkin(g, Skin_Create(9, 2, weights.data(), bones.data(), inverse));
    GeomCollision_BuildGeometryData(g);
    Atomic* atomic = Atomic_Create();
    Atomic_SetGeometry(atomic, g, 0);
    MatFX_EnableAtomicEffects(atomic);
    SaveStream(folder, "skinned_env.atomic", 0, [&](Stream* s) { Atomic_StreamWrite(atomic, s); });
    Atomic_Destroy(atomic);
    Geometry_Destroy(g);
    Material_Destroy(m);

    Frame* frame = Frame_Create();
    const int32_t ids[3] = {4, 5, 6};
    BoneHierarchy* h = HAnim_HierarchyCreate(3, nullptr, ids, 0, 36);
    h->parentFrame = frame;
    HAnim_FrameGetExtension(frame)->hierarchy = h;
    HAnim_FrameGetExtension(frame)->nodeID = 2;
    SaveStream(folder, "hierarchy.frame", 1,
               [&](Stream* s) { PluginRegistry_StreamWriteExtensions(Frame_GetRegistry(), s, frame); });
    Frame_Destroy(frame);

    const uint32_t words[] = {CHUNK_EXTENSION,
                              40,
                              Stream_EncodeStamp(STREAM_VERSION, STREAM_BUILD),
                              PLUGIN_COLLISION,
                              28,
                              Stream_EncodeStamp(STREAM_VERSION, STREAM_BUILD),
                              1,
                              4,
                              4u << 16,
                              0,
                              1,
                              2,
                              3};
    Save(folder, "collision.sector", 2, (const uint8_t*)words, sizeof(words));

    StdKeyFrame keys[3] = {};
    for (int i = 0; i < 3; i++) keys[i].time = (float)i, keys[i].q.w = 1, keys[i].prevFrame = &keys[i > 0 ? i - 1 : 0];
    const Animation animation = {3, keys};
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    StdKeyFrame_StreamWrite(&animation, s);
    StreamMemory mem = {};
    Stream_Close(s, &mem);
    std::vector<uint8_t> keyBytes = {3};
    keyBytes.insert(keyBytes.end(), mem.start, mem.start + mem.length);
    Engine_Free(mem.start);
    Save(folder, "three.keys", 3, keyBytes.data(), keyBytes.size());
}

using Bytes = std::vector<uint8_t>;

template <typename Fn>
Bytes Written(Fn write)
{
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    write(s);
    StreamMemory m = {};
    Stream_Close(s, &m);
    Bytes bytes(m.start, m.start + m.length);
    Engine_Free(m.start);
    return bytes;
}

// Reads bytes with read (stream -> success) and traps unless it succeeds.
template <typename Fn>
void MustRead(Bytes bytes, Fn read)
{
    StreamMemory m = {bytes.data(), (uint32_t)bytes.size()};
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_READ, &m);
    Error_Get(nullptr);
    const bool ok = s && read(s);
    if (s) Stream_Close(s, nullptr);
    if (!ok) {
        ErrorRecord e;
        Error_Get(&e);
        fprintf(stderr, "what was written did not read back: error {%d, 0x%x}\n", e.pluginId, (unsigned)e.code);
        __builtin_trap();
    }
}

void ResetBufferCache()
{
    VertexBufferManager_Close();
    VertexBufferManager_Open();
}

bool FailedWithReason()
{
    ErrorRecord e;
    Error_Get(&e);
    return e.code != (int32_t)ERR_NO_ERROR;
}

int32_t CountHit(const GeomCollisionQuery*, const GeomCollisionTriangle*, float, void* data)
{
    ++*(int*)data;
    return 1;
}

void ReadAtomic(Stream* s)
{
    if (!Stream_FindChunk(s, CHUNK_ATOMIC, nullptr, nullptr)) return;
    Error_Get(nullptr);
    Atomic* atomic = Atomic_StreamRead(s);
    if (!atomic) {
        if (!FailedWithReason()) __builtin_trap();  // a failure must say why
        return;
    }
    // More nodes than any palette, so that a read skin's bones meet both
    // limits of the palette.
    BoneHierarchy* h = HAnim_HierarchyCreate(300, nullptr, nullptr, 0, 0);
    if (h) {
        for (int32_t i = 0; i < h->numNodes; i++) Matrix_SetIdentity(&h->matrixArray[i]);
        Skin_AtomicSetHierarchy(atomic, h);
    }
    Camera_BeginUpdate(g_camera);
    Atomic_Render(atomic);
    Camera_EndUpdate(g_camera);
    int hits = 0;
    GeomCollisionQuery q = {};
    q.type = GEOMCOLLISION_LINE;
    q.line = CollisionLine{{-50, -40, -30}, {50, 40, 30}};
    GeomCollision_ForAllGeometryIntersections(atomic, &q, CountHit, &hits);
    q.type = GEOMCOLLISION_SPHERE;
    q.sphere = Sphere{{0.5f, 0.5f, 1}, 2};
    GeomCollision_ForAllGeometryIntersections(atomic, &q, CountHit, &hits);
    const Bytes first = Written([&](Stream* w) { Atomic_StreamWrite(atomic, w); });
    Atomic_Destroy(atomic);
    if (h) HAnim_HierarchyDestroy(h);
    MustRead(first, [&](Stream* r) {
        Atomic* again = Stream_FindChunk(r, CHUNK_ATOMIC, nullptr, nullptr) ? Atomic_StreamRead(r) : nullptr;
        if (!again) return false;
        if (!samewrites::Same(first, Written([&](Stream* w) { Atomic_StreamWrite(again, w); }))) __builtin_trap();
        Atomic_Destroy(again);
        return true;
    });
}

// Reads an extension chunk into object; what reads is written, read into a
// second object (made and given back by the caller's functions) and
// written again.
template <typename Make, typename Drop>
void ReadExtensionsOf(PluginRegistry* registry, void* object, Stream* s, Make make, Drop drop)
{
    Error_Get(nullptr);
    if (!PluginRegistry_StreamReadExtensions(registry, s, object)) {
        if (!FailedWithReason()) __builtin_trap();
        return;
    }
    const Bytes first = Written([&](Stream* w) { PluginRegistry_StreamWriteExtensions(registry, w, object); });
    void* again = make();
    if (!again) return;
    MustRead(first, [&](Stream* r) { return PluginRegistry_StreamReadExtensions(registry, r, again) != nullptr; });
    const Bytes second = Written([&](Stream* w) { PluginRegistry_StreamWriteExtensions(registry, w, again); });
    if (!samewrites::Same(first, second)) __builtin_trap();
    drop(again);
}

// A leaf of 6 vertices and 4 triangles in a world of its own, which takes
// the leaf, constructs its extensions and frees them with it.
World* SectorWorld(WorldSector** leaf)
{
    const WorldBox box = {{-1, -1, -1}, {1, 1, 1}};
    *leaf = WorldSector_CreateLeaf(&box, 6, 4, 0);
    if (!*leaf) return nullptr;
    MaterialList list;
    MaterialList_Initialize(&list);
    Material* material = Material_Create();
    MaterialList_AppendMaterial(&list, material);
    Material_Destroy(material);
    World* world = World_CreateWithTree(&box, *leaf, &list, 0);
    MaterialList_Deinitialize(&list);
    return world;
}

void ReadSector(Stream* s)
{
    WorldSector* leaf = nullptr;
    World* world = SectorWorld(&leaf);
    if (!world) return;
    World* second = nullptr;
    ReadExtensionsOf(
        WorldSector_GetRegistry(), leaf, s,
        [&]() -> void* {
            WorldSector* again = nullptr;
            second = SectorWorld(&again);
            return second ? again : nullptr;
        },
        [&](void*) { World_Destroy(second); });
    World_Destroy(world);
}

void ReadKeys(const uint8_t* data, size_t size)
{
    if (size < 1) return;
    StdKeyFrame keys[16] = {};
    Animation animation = {data[0] & 15, keys};
    StreamMemory m = {(uint8_t*)data + 1, (uint32_t)(size - 1)};
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_READ, &m);
    if (!s) return;
    Error_Get(nullptr);
    if (StdKeyFrame_StreamRead(s, &animation)) {
        for (int32_t i = 0; i < animation.numFrames; i++)
            if (keys[i].prevFrame < keys || keys[i].prevFrame >= keys + animation.numFrames) __builtin_trap();
        Stream* w = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
        if (!StdKeyFrame_StreamWrite(&animation, w)) __builtin_trap();  // what reads writes back
        Stream_Close(w, nullptr);
    } else if (!FailedWithReason()) {
        __builtin_trap();
    }
    Stream_Close(s, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!Start()) abort();
    g_camera = Camera_Create();
    Camera_SetFrame(g_camera, Frame_Create());
    Camera_SetRaster(g_camera, Raster_Create(64, 48, 0, RASTERTYPECAMERA));
    if (const char* folder = getenv("HELM_PLUGIN_SEEDS")) WriteSeeds(folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    ResetBufferCache();
    const long before = g_live;
    const uint8_t selector = data[0] & 3;
    if (selector == 3) {
        ReadKeys(data + 1, size - 1);
    } else {
        StreamMemory m = {(uint8_t*)data + 1, (uint32_t)(size - 1)};
        Stream* s = Stream_Open(STREAM_MEMORY, STREAM_READ, &m);
        if (s && selector == 0) {
            ReadAtomic(s);
        } else if (s && selector == 1) {
            Frame* frame = Frame_Create();
            if (frame) {
                ReadExtensionsOf(
                    Frame_GetRegistry(), frame, s, []() -> void* { return Frame_Create(); },
                    [](void* again) { Frame_Destroy((Frame*)again); });
                Frame_Destroy(frame);
            }
        } else if (s) {
            ReadSector(s);
        }
        if (s) Stream_Close(s, nullptr);
    }
    Error_Get(nullptr);
    ResetBufferCache();
    if (g_live != before) __builtin_trap();  // something was left half-built
    return 0;
}
