#include "engine/skincache.h"

#include <cstdio>

#include "app/binfile.h"
#include "app/cache.h"
#include "app/file.h"
#include "common/bytes.h"
#include "common/memory.h"
#include "engine/loaderror.h"
#include "engine/nodeextra.h"
#include "engine/renderobj.h"
#include "gfx/world/atomic.h"
#include "gfx/core/stream.h"
#include "gfx/world/geometry.h"

namespace {

constexpr uint32_t ENTRY_BYTES = 12;

void CacheName(const char* objectPath, char* out)
{
    char source[300];
    snprintf(source, sizeof source, "%s.lwo", objectPath);
    Cache_NameFromSource(out, source, 0, "bwl");
}

}  // namespace

int ObjectCache_Write(const NodeExtra* e, const char* objectPath)
{
    char name[CACHE_NAME_MAX];
    CacheName(objectPath, name);
    Stream* out = BinFile_Open(name, "w");
    if (!out) return 0;
    const uint32_t vertices = e->weights ? e->vertexCount : 0;
    const uint32_t counts[2] = {vertices, e->boneCount};
    int ok = BinFile_WriteInt32s(out, counts, 2);
    for (uint64_t i = 0; ok && i < (uint64_t)vertices * e->boneCount; i++) {
        const NodeWeight& w = e->weights[i];
        uint8_t entry[ENTRY_BYTES];
        Bytes_StoreU32(entry, w.remapped);
        Bytes_StoreF32(entry + 4, w.weight);
        Bytes_StoreU32(entry + 8, w.bone);
        ok = Stream_Write(out, entry, ENTRY_BYTES) != nullptr;
    }
    return BinFile_Close(out) && ok;
}

int ObjectCache_Read(NodeExtra* e, RenderObj* object, const char* objectPath)
{
    char name[CACHE_NAME_MAX];
    CacheName(objectPath, name);
    const Geometry* g = object && object->atomic ? Atomic_GetGeometry(object->atomic) : nullptr;
    if (!g) return 0;
    const long size = File_GetSize(name, 1);
    if (size < 8) return 0;
    void* file = File_Open(name, "rb");
    if (!file) return 0;
    uint8_t* bytes = (uint8_t*)Mem_Alloc((size_t)size, 8);
    const int read = bytes && File_Read(bytes, 1, (size_t)size, file) == (size_t)size;
    File_Close(file);
    int ok = 0;
    if (read) {
        ByteReader in = ByteReader_Init(bytes, (size_t)size);
        const uint32_t vertices = ByteReader_U32(&in), bones = ByteReader_U32(&in);
        // Another mesh or another skeleton: the cache does not apply.
        ok = vertices == (uint32_t)g->numVertices && bones == e->boneCount &&
             (uint64_t)vertices * bones * ENTRY_BYTES == in.left && NodeExtra_AllocWeightTable(e, vertices);
        for (uint64_t i = 0; ok && i < (uint64_t)vertices * bones; i++) {
            NodeWeight& w = e->weights[i];
            w.remapped = ByteReader_U32(&in);
            w.weight = ByteReader_F32(&in);
            w.bone = ByteReader_U32(&in);
            ok = w.bone < bones;
        }
        if (!ok) {
            NodeExtra_AllocWeightTable(e, 0);
            LoadError_Set("%s: skin weights do not fit the mesh", name);
        }
    }
    Mem_Free(bytes);
    if (ok) object->skin = e;
    return ok;
}
