// Fuzzes the world's and the graphics plugins' readers over the engine and
// the Direct3D 8 stand-in, with the whole plugin chain attached. The first
// byte chooses what the rest is read as: 0 an atomic chunk (materials,
// textures, geometry, meshes, native data, skin, collision, effects),
// 1 a frame's extension chunk, 2 a world sector's extension chunk for a leaf
// of 4 triangles, 3 standard key frames (the next byte is the key count).
// Whatever reads is drawn, queried, written, read back and written again
// (the same bytes but for what native data may move, same_writes.h);
// whatever fails must say why; either way no block may be left behind.
// HELM_PLUGIN_SEEDS=<folder> makes the target write its seeds there first.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/core/arena.h"
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
#include "tests/gfx/world/same_writes.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The engine's memory: live blocks are counted (an input must leave as many
// as it found) and blocks above a bound refused, so that a huge count no
// chunk size bounds ends as a clean out-of-memory failure. The header keeps
// the caller's block 16-byte aligned.
constexpr size_t kLimit = 32u << 20, kHeader = 16;
long g_live = 0;

void* Alloc(size_t n)
{
    char* p = n <= kLimit ? (char*)malloc(n + kHeader) : nullptr;
    if (p) g_live++;
    return p ? p + kHeader : nullptr;
}
void Free(void* p)
{
    if (p) g_live--, free((char*)p - kHeader);
}
void* Realloc(void* p, size_t n)
{
    if (!p || n > kLimit) return p ? nullptr : Alloc(n);
    char* q = (char*)realloc((char*)p - kHeader, n + kHeader);
    return q ? q + kHeader : nullptr;
}
void* Calloc(size_t count, size_t size)
{
    void* p = size && count > kLimit / size ? nullptr : Alloc(count * size);
    if (p) memset(p, 0, count * size);
    return p;
}
const MemoryFunctions kMemory = {Alloc, Free, Realloc, Calloc};

// Any texture name reads as a small texture.
Texture* ReadTexture(const char* name, const char*)
{
    Texture* t = Texture_Create(Raster_Create(4, 4, 0, RASTERTYPETEXTURE | RASTERFORMAT8888));
    if (t) Texture_SetName(t, name);
    return t;
}

Camera* g_camera = nullptr;

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

void Save(const char* folder, const char* name, uint8_t selector, Bytes bytes)
{
    bytes.insert(bytes.begin(), selector);
    if (FILE* f = fopen((std::string(folder) + "/" + name).c_str(), "wb")) {
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
}

// Moves a rendered geometry's instance into a block of its own, as a read
// native geometry holds it.
void MakeNative(Geometry* g)
{
    ResourceArenaEntry* e = g->instanceData;
    ResourceArenaEntry* copy = (ResourceArenaEntry*)Engine_Malloc(sizeof(ResourceArenaEntry) + e->size);
    memcpy(copy, e, sizeof(ResourceArenaEntry) + e->size);
    copy->link.next = copy->link.prev = nullptr;
    copy->ownerRef = &g->instanceData;
    e->destroyNotify = nullptr;
    ResourceArena_FreeEntry(e);
    g->instanceData = copy;
    g->flags |= GEOMETRY_NATIVE;
}

// Textured, prelit 3x3 grids with two materials (plain, with strips and two
// morph targets, native, or skinned, collidable and environment-mapped), a
// frame holding a hierarchy, a sector's collision data and three key frames.
void WriteSeeds(const char* folder)
{
    const struct {
        const char* name;
        uint32_t flags;
        bool morph, native, fx;
    } atomics[] = {{"list.atomic", GEOMETRY_LIGHT, false, false, false},
                   {"strips_morph.atomic", GEOMETRY_LIGHT | GEOMETRY_TRISTRIP, true, false, false},
                   {"native.atomic", GEOMETRY_LIGHT, false, true, false},
                   {"skinned_env.atomic", 0, false, false, true}};
    for (const auto& seed : atomics) {
        Geometry* g = Geometry_Create(
            9, 8, seed.flags | GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT | GEOMETRY_TEXTURED);
        Material* a = Material_Create();
        Material* b = Material_Create();
        b->colour[3] = 128;
        Texture* t = ReadTexture("brick", "");
        Material_SetTexture(a, t);
        if (seed.fx) MatFX_SetMaterialEffects(b, MATFX_ENVMAP), MatFX_SetEnvMap(b, t, nullptr, 1, 0.5f);
        Texture_Destroy(t);
        float weights[36] = {};
        uint32_t bones[9];
        for (int v = 0; v < 9; v++) {
            g->morphTarget[0].verts[v] = Vec3{(float)(v % 3), (float)(v / 3), 1};
            g->morphTarget[0].normals[v] = Vec3{0, 0, -1};
            g->preLitLum[v] = RGBA{(uint8_t)(20 * v), 200, 100, 255};
            g->texCoords[0][v] = TexCoords{0.5f * (v % 3), 0.5f * (v / 3)};
            weights[4 * v] = 0.75f, weights[4 * v + 1] = 0.25f;
            bones[v] = v % 2 ? 0x0001u : 0x0100u;
        }
        for (int t = 0; t < 8; t++) {  // two per quad, the last on b
            const int c = t / 2 % 2 + 3 * (t / 4), odd = t % 2;
            Geometry_SetTriangleVertexIndices(g, &g->triangles[t], c + odd, c + 3, c + 1 + 3 * odd);
            Geometry_SetTriangleMaterial(g, &g->triangles[t], t == 7 ? b : a);
        }
        if (seed.morph) Geometry_AddMorphTarget(g);
        MorphTarget_CalcBoundingSphere(&g->morphTarget[0], &g->morphTarget[0].boundingSphere);
        Geometry_Unlock(g);
        if (seed.fx) {
            Matrix inverse[2];
            for (Matrix& m : inverse) Matrix_SetIdentity(&m);
            inverse[1].pos = Vec3{0, 1, 0};
            inverse[1].flags = 0;
            Skin_GeometrySetSkin(g, Skin_Create(9, 2, weights, bones, inverse));
            GeomCollision_BuildGeometryData(g);
        }
        Atomic* atomic = Atomic_Create();
        Atomic_SetGeometry(atomic, g, 0);
        if (seed.fx) MatFX_EnableAtomicEffects(atomic);
        if (seed.native) Atomic_Render(atomic), MakeNative(g);
        Save(folder, seed.name, 0, Written([&](Stream* s) { Atomic_StreamWrite(atomic, s); }));
        Atomic_Destroy(atomic);
        Geometry_Destroy(g);
        Material_Destroy(a);
        Material_Destroy(b);
    }

    Frame* frame = Frame_Create();
    const int32_t ids[3] = {4, 5, 6};
    BoneHierarchy* h = HAnim_HierarchyCreate(3, nullptr, ids, 0, 36);
    h->parentFrame = frame;
    HAnim_FrameGetExtension(frame)->hierarchy = h;
    HAnim_FrameGetExtension(frame)->nodeID = 2;
    Save(folder, "hierarchy.frame", 1,
         Written([&](Stream* s) { PluginRegistry_StreamWriteExtensions(Frame_GetRegistry(), s, frame); }));
    Frame_Destroy(frame);

    const uint32_t stamp = Stream_EncodeStamp(STREAM_VERSION, STREAM_BUILD);
    const uint32_t words[] = {CHUNK_EXTENSION, 40, stamp, PLUGIN_COLLISION, 28, stamp, 1, 4, 4u << 16, 0, 1, 2, 3};
    Save(folder, "collision.sector", 2, Bytes((const uint8_t*)words, (const uint8_t*)words + sizeof words));

    StdKeyFrame keys[3] = {};
    for (int i = 0; i < 3; i++) keys[i].time = (float)i, keys[i].q.w = 1, keys[i].prevFrame = &keys[i > 0 ? i - 1 : 0];
    const Animation animation = {3, keys};
    const uint8_t count = 3;
    Save(folder, "three.keys", 3,
         Written([&](Stream* s) { StdKeyFrame_StreamWrite(&animation, Stream_Write(s, &count, 1)); }));
}

bool FailedWithReason()
{
    ErrorRecord e;
    Error_Get(&e);
    return e.code != (int32_t)ERR_NO_ERROR;
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
    if (!ok) __builtin_trap();
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
        if (!FailedWithReason()) __builtin_trap();
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

// What extensions are read into: a frame, or a leaf of 6 vertices and 4
// triangles in a world of its own (which takes the leaf, constructs its
// extensions and frees them with it); owner is what is destroyed after.
struct Holder {
    void* object;
    void* owner;
};

Holder NewFrame()
{
    Frame* frame = Frame_Create();
    return {frame, frame};
}
void DropFrame(Holder h) { Frame_Destroy((Frame*)h.owner); }

Holder NewLeaf()
{
    const WorldBox box = {{-1, -1, -1}, {1, 1, 1}};
    WorldSector* leaf = WorldSector_CreateLeaf(&box, 6, 4, 0);
    if (!leaf) return {nullptr, nullptr};
    MaterialList list;
    MaterialList_Initialize(&list);
    Material* material = Material_Create();
    MaterialList_AppendMaterial(&list, material);
    Material_Destroy(material);
    World* world = World_CreateWithTree(&box, leaf, &list, 0);
    MaterialList_Deinitialize(&list);
    return {leaf, world};
}
void DropLeaf(Holder h) { World_Destroy((World*)h.owner); }

// Reads an extension chunk into a new holder's object; what reads is
// written, read into a second one and written again.
void ReadExtensions(PluginRegistry* registry, Holder (*make)(), void (*drop)(Holder), Stream* s)
{
    auto write = [&](void* object) {
        return Written([&](Stream* w) { PluginRegistry_StreamWriteExtensions(registry, w, object); });
    };
    const Holder first = make();
    if (!first.owner) return;
    Error_Get(nullptr);
    if (PluginRegistry_StreamReadExtensions(registry, s, first.object)) {
        const Bytes bytes = write(first.object);
        if (const Holder again = make(); again.owner) {
            MustRead(bytes, [&](Stream* r) { return PluginRegistry_StreamReadExtensions(registry, r, again.object); });
            if (!samewrites::Same(bytes, write(again.object))) __builtin_trap();
            drop(again);
        }
    } else if (!FailedWithReason()) {
        __builtin_trap();
    }
    drop(first);
}

void ReadFrame(Stream* s) { ReadExtensions(Frame_GetRegistry(), NewFrame, DropFrame, s); }
void ReadSector(Stream* s) { ReadExtensions(WorldSector_GetRegistry(), NewLeaf, DropLeaf, s); }

void ReadKeys(Stream* s)
{
    uint8_t count = 0;
    if (Stream_Read(s, &count, 1) != 1) return;
    StdKeyFrame keys[16] = {};
    Animation animation = {count & 15, keys};
    Error_Get(nullptr);
    if (StdKeyFrame_StreamRead(s, &animation)) {
        for (int32_t i = 0; i < animation.numFrames; i++)
            if (keys[i].prevFrame < keys || keys[i].prevFrame >= keys + animation.numFrames) __builtin_trap();
        Written([&](Stream* w) {
            if (!StdKeyFrame_StreamWrite(&animation, w)) __builtin_trap();  // what reads writes back
        });
    } else if (!FailedWithReason()) {
        __builtin_trap();
    }
}

// The shared vertex buffers are a cache that grows with every new vertex
// format an input brings; it is emptied around each input so that only
// real leaks count.
void ResetBufferCache()
{
    VertexBufferManager_Close();
    VertexBufferManager_Open();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static Window* window = Window_Create("plugin fuzz", 64, 48, WINDOW_HEADLESS);
    Image_InstallModule();
    Raster_InstallModule();
    Texture_InstallModule();
    D3D8_InstallDriver();
    if (!Engine_Init(&kMemory, 0, 8u << 20) || !World_PluginAttach() || !Random_PluginAttach() ||
        !Skin_PluginAttach() || !HAnim_PluginAttach() || !GeomCollision_PluginAttach() || !MatFX_PluginAttach() ||
        !Engine_Open(&window) || !Engine_Start())
        abort();
    Texture_SetReadCallback(ReadTexture);
    g_camera = Camera_Create();
    Camera_SetFrame(g_camera, Frame_Create());
    Camera_SetRaster(g_camera, Raster_Create(64, 48, 0, RASTERTYPECAMERA));
    if (const char* folder = getenv("HELM_PLUGIN_SEEDS")) WriteSeeds(folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    static void (*const kReaders[4])(Stream*) = {ReadAtomic, ReadFrame, ReadSector, ReadKeys};
    ResetBufferCache();
    const long before = g_live;
    StreamMemory m = {(uint8_t*)data + 1, (uint32_t)(size - 1)};
    if (Stream* s = Stream_Open(STREAM_MEMORY, STREAM_READ, &m)) {
        kReaders[data[0] & 3](s);
        Stream_Close(s, nullptr);
    }
    Error_Get(nullptr);
    ResetBufferCache();
    if (g_live != before) __builtin_trap();  // something was left half-built
    return 0;
}
