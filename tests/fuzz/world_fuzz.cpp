// Fuzzes the atomic chunk reader with everything it reads inside it:
// materials and material lists, textures, geometry, binary meshes and native
// device data, with the world plugins attached and the Direct3D 8 stand-in
// open. Memory comes from functions that refuse blocks above a bound, so a
// huge count that no chunk size bounds ends as a clean out-of-memory failure.
// Every input must either read (and then draw, write and destroy cleanly) or
// fail with an error set; either way no block may be left behind. What reads
// is written, read back and written again: the second write must give the
// same bytes (but for what native data may move, tests/gfx/world/same_writes.h).
//
// With HELM_WORLD_SEEDS=<folder> in the environment the target first writes
// its seed chunks there.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/core/arena.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/driver/d3d8/d3d8vbmanager.h"
#include "gfx/world/atomic.h"
#include "gfx/world/d3d8instance.h"
#include "gfx/world/world.h"
#include "platform/win32/window.h"
#include "tests/fuzz/engine_memory.h"
#include "tests/gfx/world/same_writes.h"

namespace {

using enginefuzz::g_live;
using enginefuzz::ReadTexture;

Window* g_window = nullptr;

bool Start()
{
    g_window = Window_Create("world fuzz", 64, 48, WINDOW_HEADLESS);
    Image_InstallModule();
    Raster_InstallModule();
    Texture_InstallModule();
    D3D8_InstallDriver();
    if (!Engine_Init(&enginefuzz::kMemory, 0, 8u << 20) || !World_PluginAttach() || !Engine_Open(&g_window) ||
        !Engine_Start())
        return false;
    Texture_SetReadCallback(ReadTexture);
    return true;
}

void WriteSeed(const char* folder, const char* name, const Atomic* atomic)
{
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    Atomic_StreamWrite(atomic, s);
    StreamMemory m = {};
    Stream_Close(s, &m);
    const std::string path = std::string(folder) + "/" + name;
    if (FILE* f = fopen(path.c_str(), "wb")) {
        fwrite(m.start, 1, m.length, f);
        fclose(f);
    }
    Engine_Free(m.start);
}

// A small textured, prelit grid with two materials; strips and two morph
// targets on request; native (instanced on the device first) on request.
Atomic* SeedAtomic(bool strips, bool morph, bool native)
{
    const uint32_t flags = GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT | GEOMETRY_TEXTURED |
                           GEOMETRY_LIGHT | (strips ? GEOMETRY_TRISTRIP : 0);
    Geometry* g = Geometry_Create(9, 8, flags);
    Material* a = Material_Create();
    Material* b = Material_Create();
    b->colour[3] = 128;
    Texture* t = ReadTexture("brick", "");
    Material_SetTexture(a, t);
    Texture_Destroy(t);
    for (int v = 0; v < 9; v++) {
        g->morphTarget[0].verts[v] = Vec3{(float)(v % 3), (float)(v / 3), 1};
        g->morphTarget[0].normals[v] = Vec3{0, 0, -1};
        g->preLitLum[v] = RGBA{(uint8_t)(20 * v), 200, 100, 255};
        g->texCoords[0][v] = TexCoords{0.5f * (v % 3), 0.5f * (v / 3)};
    }
    for (int q = 0, tri = 0; q < 4; q++) {
        const uint16_t c = (uint16_t)(q % 2 + 3 * (q / 2));
        Geometry_SetTriangleVertexIndices(g, &g->triangles[tri], c, (uint16_t)(c + 3), (uint16_t)(c + 1));
        Geometry_SetTriangleMaterial(g, &g->triangles[tri++], a);
        Geometry_SetTriangleVertexIndices(g, &g->triangles[tri], (uint16_t)(c + 1), (uint16_t)(c + 3),
                                          (uint16_t)(c + 4));
        Geometry_SetTriangleMaterial(g, &g->triangles[tri++], q == 3 ? b : a);
    }
    if (morph) Geometry_AddMorphTarget(g);
    MorphTarget_CalcBoundingSphere(&g->morphTarget[0], &g->morphTarget[0].boundingSphere);
    Geometry_Unlock(g);
    Atomic* atomic = Atomic_Create();
    Atomic_SetGeometry(atomic, g, 0);
    if (native) {
        Atomic_Render(atomic);
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
    Geometry_Destroy(g);
    Material_Destroy(a);
    Material_Destroy(b);
    return atomic;
}

void WriteSeeds(const char* folder)
{
    const struct {
        const char* name;
        bool strips, morph, native;
    } seeds[] = {{"list.atomic", false, false, false},
                 {"strips_morph.atomic", true, true, false},
                 {"native.atomic", false, false, true}};
    for (const auto& s : seeds) {
        Atomic* a = SeedAtomic(s.strips, s.morph, s.native);
        WriteSeed(folder, s.name, a);
        Atomic_Destroy(a);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!Start()) abort();
    if (const char* folder = getenv("HELM_WORLD_SEEDS")) WriteSeeds(folder);
    return 0;
}

std::vector<uint8_t> Write(const Atomic* atomic)
{
    Stream* w = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    Atomic_StreamWrite(atomic, w);
    StreamMemory m = {};
    Stream_Close(w, &m);
    std::vector<uint8_t> bytes(m.start, m.start + m.length);
    Engine_Free(m.start);
    return bytes;
}

// The shared vertex buffers are a cache that grows with every new vertex
// format an input brings; it is emptied around each input so that only
// real leaks count.
void ResetBufferCache()
{
    VertexBufferManager_Close();
    VertexBufferManager_Open();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ResetBufferCache();
    const long before = g_live;
    StreamMemory m = {(uint8_t*)data, (uint32_t)size};
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_READ, &m);
    uint32_t length = 0, version = 0;
    Error_Get(nullptr);
    if (s && Stream_FindChunk(s, CHUNK_ATOMIC, &length, &version)) {
        Error_Get(nullptr);
        Atomic* atomic = Atomic_StreamRead(s);
        if (atomic) {
            Atomic_Render(atomic);
            const std::vector<uint8_t> first = Write(atomic);
            Atomic_Destroy(atomic);
            // What was written reads back and writes the same bytes again.
            std::vector<uint8_t> copy = first;
            StreamMemory back = {copy.data(), (uint32_t)copy.size()};
            Stream* r = Stream_Open(STREAM_MEMORY, STREAM_READ, &back);
            Atomic* again = r && Stream_FindChunk(r, CHUNK_ATOMIC, nullptr, nullptr) ? Atomic_StreamRead(r) : nullptr;
            if (r) Stream_Close(r, nullptr);
            if (!again || !samewrites::Same(first, Write(again))) __builtin_trap();
            Atomic_Destroy(again);
        } else {
            ErrorRecord e;
            Error_Get(&e);
            if (e.code == (int32_t)ERR_NO_ERROR) __builtin_trap();  // a failure must say why
        }
    }
    if (s) Stream_Close(s, nullptr);
    Error_Get(nullptr);
    ResetBufferCache();
    if (g_live != before) __builtin_trap();  // something was left half-built
    return 0;
}
