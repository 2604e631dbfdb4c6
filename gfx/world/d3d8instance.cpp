// Instance data blocks and the native-data stream.
//
// The stream form of a block is fixed whatever the machine: a u16 serial
// number and a u16 mesh count, then per mesh eleven little-endian 32-bit
// words. Records are written and read field by field; the writer converts
// materials to list indices in its word buffer, so the live records are
// never touched by a write. The reader checks the block against its owner
// (mesh count, strides, materials, index values, byte counts against the
// chunk) before it trusts any of it, and every shared range it took goes
// back when it fails.
#include "gfx/world/d3d8instance.h"

#include <cstring>

#include "common/bytes.h"
#include "gfx/core/arena.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/stream.h"
#include "gfx/driver/d3d8/d3d8cache.h"
#include "gfx/driver/d3d8/d3d8vbmanager.h"
#include "gfx/world/geometry.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"

namespace {

constexpr uint32_t kNoMaterial = 0xFFFFFFFFu;

void RaiseBadData(void)
{
    ErrorRecord record = {(int32_t)WORLD_PLUGIN_ID, (int32_t)WORLD_ERR_BAD_DATA};
    Error_Set(&record);
}

// What the stream needs to know of the owner.
struct Owner {
    void* object;
    ResourceArenaEntry** slot;
    const MaterialList* list;
    const MeshHeader* mesh;
    bool native;
};

bool Unindexed(const MeshHeader* mesh) { return mesh && (mesh->flags & MESH_UNINDEXED); }

uint32_t IndexBytes(const Owner& o, const D3D8MeshInstance& r) { return Unindexed(o.mesh) ? 0 : 2 * r.numIndices; }

int32_t BlockSize(uint32_t meshes) { return 4 + (int32_t)D3D8_NATIVE_RECORD_BYTES * (int32_t)meshes; }

int32_t Size(const Owner& o)
{
    if (!o.native || !*o.slot) return 0;
    D3D8InstanceData* data = D3D8InstanceData_Get(*o.slot);
    const D3D8MeshInstance* r = D3D8InstanceData_Records(data);
    uint64_t bytes = CHUNK_HEADER_SIZE + 8 + (uint64_t)BlockSize(data->numMeshes);
    for (uint32_t i = 0; i < data->numMeshes; i++)
        bytes += IndexBytes(o, r[i]) + (uint64_t)r[i].numVertices * r[i].stride;
    return bytes > 0x7FFFFFFF ? 0 : (int32_t)bytes;
}

bool WriteRange(Stream* stream, D3D8Buffer* buffer, uint32_t offset, uint32_t bytes, uint32_t flags)
{
    if (bytes == 0) return true;
    uint8_t* p = nullptr;
    if (!buffer || buffer->Lock(offset, bytes, &p, flags) < 0) return false;
    const bool ok = Stream_Write(stream, p, bytes) != nullptr;
    buffer->Unlock();
    return ok;
}

Stream* Write(Stream* stream, const Owner& o)
{
    const int32_t size = Size(o);
    if (size == 0) return stream;
    D3D8InstanceData* data = D3D8InstanceData_Get(*o.slot);
    D3D8MeshInstance* records = D3D8InstanceData_Records(data);
    const uint32_t n = data->numMeshes;
    uint32_t head[3] = {D3D8_NATIVE_PLATFORM, (uint32_t)BlockSize(n), (uint32_t)data->serialNumber | n << 16};
    if (!Stream_WriteChunkHeaderDefault(stream, CHUNK_STRUCT, (uint32_t)size - CHUNK_HEADER_SIZE) ||
        !Stream_WriteInt32(stream, head, 12))
        return nullptr;
    for (uint32_t i = 0; i < n; i++) {
        const D3D8MeshInstance& r = records[i];
        const int32_t index = r.material ? MaterialList_FindMaterialIndex(o.list, r.material) : -1;
        const uint32_t words[11] = {r.minVertexIndex,
                                    r.stride,
                                    r.numVertices,
                                    r.numIndices,
                                    index < 0 ? kNoMaterial : (uint32_t)index,
                                    r.vertexShader,
                                    r.primitiveType,
                                    0,
                                    0,
                                    r.baseIndex,
                                    (uint32_t)r.vertexAlpha | (uint32_t)r.managed << 8 | (uint32_t)r.remapped << 16};
        if (!Stream_WriteInt32(stream, words, sizeof(words))) return nullptr;
    }
    for (uint32_t i = 0; i < n; i++) {
        const D3D8MeshInstance& r = records[i];
        const uint32_t indexBytes = IndexBytes(o, r);
        if (indexBytes && r.indexBuffer) {
            if (!WriteRange(stream, r.indexBuffer, 0, indexBytes, 0)) return nullptr;
        } else if (indexBytes) {
            // An indexed mesh without a buffer has no indices to give.
            static const uint8_t zeros[256] = {};
            for (uint32_t left = indexBytes; left;) {
                const uint32_t take = left < sizeof(zeros) ? left : (uint32_t)sizeof(zeros);
                if (!Stream_Write(stream, zeros, take)) return nullptr;
                left -= take;
            }
        }
        if (!WriteRange(stream, r.vertexBuffer, r.baseIndex * r.stride, r.numVertices * r.stride, D3DLOCK_NOSYSLOCK))
            return nullptr;
    }
    return stream;
}

// Reads the record words into a record; false when they contradict the owner.
bool DecodeRecord(const uint32_t w[11], const Owner& o, uint32_t meshIndex, D3D8MeshInstance* r)
{
    *r = D3D8MeshInstance{};
    r->minVertexIndex = w[0];
    r->stride = w[1];
    r->numVertices = w[2];
    r->numIndices = w[3];
    r->vertexShader = w[5];
    r->primitiveType = w[6];
    r->baseIndex = w[9];
    r->vertexAlpha = (uint8_t)(w[10] & 1);
    r->remapped = (uint8_t)((w[10] >> 16) & 1);
    const Mesh& mesh = MeshHeader_Meshes(o.mesh)[meshIndex];
    if ((r->vertexShader & 1) || r->stride == 0 || r->stride != D3D8_GetFVFStride(r->vertexShader) ||
        r->primitiveType < D3DPT_POINTLIST || r->primitiveType > D3DPT_TRIANGLEFAN ||
        r->numIndices != mesh.numIndices || (uint64_t)r->numVertices * r->stride > 0x7FFFFFFF)
        return false;
    if (w[4] != kNoMaterial) {
        if (w[4] >= (uint32_t)o.list->count) return false;
        r->material = o.list->materials[w[4]];
    }
    return true;
}

// A buffer the device would not give or lock; 0 for the caller's return.
bool DeviceRefused(void)
{
    Error_Raise(ERR_DEVICE_REFUSED);
    return false;
}

bool ReadIndices(Stream* stream, D3D8MeshInstance* r)
{
    if (!D3D8_CreateIndexBuffer(r->numIndices, &r->indexBuffer)) return DeviceRefused();
    uint8_t* p = nullptr;
    if (r->indexBuffer->Lock(0, 0, &p, 0) < 0) return DeviceRefused();
    bool ok = Stream_Read(stream, p, 2 * r->numIndices) == 2 * r->numIndices;
    for (uint32_t i = 0; ok && i < r->numIndices; i++) {
        const uint16_t index = Bytes_LoadU16(p + 2 * i);
        if (index >= r->numVertices) {
            RaiseBadData();
            ok = false;
        }
    }
    r->indexBuffer->Unlock();
    return ok;
}

bool ReadVertices(Stream* stream, D3D8MeshInstance* r)
{
    const uint32_t bytes = r->numVertices * r->stride;
    if (bytes == 0) return true;
    if (!VertexBufferManager_Alloc(r->vertexShader, bytes, &r->vertexBuffer, &r->baseIndex)) return DeviceRefused();
    r->managed = 1;
    uint8_t* p = nullptr;
    if (r->vertexBuffer->Lock(r->baseIndex * r->stride, bytes, &p, D3DLOCK_NOSYSLOCK) < 0) return DeviceRefused();
    const bool ok = Stream_Read(stream, p, bytes) == bytes;
    r->vertexBuffer->Unlock();
    return ok;
}

Stream* Read(Stream* stream, int32_t length, const Owner& o)
{
    uint32_t chunkLength = 0, version = 0;
    if (!Stream_FindChunk(stream, CHUNK_STRUCT, &chunkLength, &version)) return nullptr;
    // The chunk holds at least the platform, the block size and the first
    // block word, and fits the extension that carries it.
    if (chunkLength < 12 || (uint64_t)chunkLength + CHUNK_HEADER_SIZE > (uint32_t)length) {
        RaiseBadData();
        return nullptr;
    }
    uint32_t head[2];
    if (!Stream_ReadInt32(stream, head, 8)) return nullptr;
    // Data of another platform is refused without a reason of its own: the
    // reader of the owner says why.
    if (head[0] != D3D8_NATIVE_PLATFORM) return nullptr;
    // Native data belongs to a native owner whose mesh header came first.
    const uint32_t meshes = o.mesh ? o.mesh->numMeshes : 0xFFFFFFFFu;
    if (!o.native || !o.mesh || head[1] != (uint32_t)BlockSize(meshes) || head[1] > chunkLength - 8) {
        RaiseBadData();
        return nullptr;
    }
    uint32_t first = 0;
    if (!Stream_ReadInt32(stream, &first, 4)) return nullptr;
    if ((first >> 16) != meshes) {
        RaiseBadData();
        return nullptr;
    }
    const uint32_t dataSize = D3D8InstanceData_Size(meshes);
    ResourceArenaEntry* entry = (ResourceArenaEntry*)Engine_Malloc(sizeof(ResourceArenaEntry) + dataSize);
    if (!entry) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    memset(entry, 0, sizeof(ResourceArenaEntry) + dataSize);
    entry->size = dataSize;
    entry->owner = o.object;
    entry->ownerRef = o.slot;
    entry->destroyNotify = D3D8InstanceData_Destroy;
    if (*o.slot) ResourceArena_FreeEntry(*o.slot);
    *o.slot = entry;
    D3D8InstanceData* data = D3D8InstanceData_Get(entry);
    data->serialNumber = o.mesh->serialNumber;
    data->numMeshes = (uint16_t)meshes;
    data->deviceResets = D3D8_GetDeviceResetCount();
    D3D8MeshInstance* records = D3D8InstanceData_Records(data);
    bool ok = true;
    uint64_t payload = 0;
    for (uint32_t i = 0; ok && i < meshes; i++) {
        uint32_t words[11];
        ok = Stream_ReadInt32(stream, words, sizeof(words)) != nullptr;
        if (ok && !DecodeRecord(words, o, i, &records[i])) {
            RaiseBadData();
            ok = false;
        }
        if (ok) payload += IndexBytes(o, records[i]) + (uint64_t)records[i].numVertices * records[i].stride;
    }
    // The buffer bytes must fill the rest of the chunk exactly, which bounds
    // every buffer the reader is about to create.
    if (ok && payload != (uint64_t)chunkLength - 8 - head[1]) {
        RaiseBadData();
        ok = false;
    }
    for (uint32_t i = 0; ok && i < meshes; i++) {
        D3D8MeshInstance* r = &records[i];
        if (IndexBytes(o, *r)) ok = ReadIndices(stream, r);
        if (ok) ok = ReadVertices(stream, r);
    }
    if (!ok) {
        ResourceArena_FreeEntry(entry);
        return nullptr;
    }
    return stream;
}

Owner GeometryOwner(const void* object)
{
    Geometry* g = (Geometry*)object;
    return Owner{g, &g->instanceData, &g->matList, g->mesh, (g->flags & GEOMETRY_NATIVE) != 0};
}

Owner SectorOwner(const void* object)
{
    WorldSector* s = (WorldSector*)object;
    const World* world = WorldSector_GetWorld(s);
    static const MaterialList kEmpty = {nullptr, 0, 0};
    return Owner{s, &s->instanceData, world ? &world->matList : &kEmpty, s->mesh,
                 world && (world->flags & WORLD_NATIVE) != 0};
}

}  // namespace

D3D8InstanceData* D3D8InstanceData_Get(ResourceArenaEntry* entry)
{
    return (D3D8InstanceData*)ResourceArenaEntry_Data(entry);
}

void D3D8InstanceData_Destroy(ResourceArenaEntry* entry)
{
    D3D8InstanceData* data = D3D8InstanceData_Get(entry);
    D3D8MeshInstance* records = D3D8InstanceData_Records(data);
    for (uint32_t i = 0; i < data->numMeshes; i++) {
        D3D8MeshInstance& r = records[i];
        if (r.indexBuffer) r.indexBuffer->Release();
        r.indexBuffer = nullptr;
        if (r.vertexBuffer) {
            const uint32_t bytes = r.numVertices * r.stride;
            if (!r.managed) D3D8_DestroyDynamicVertexBuffer(r.vertexBuffer);
            else if (r.vertexShader & 1) VertexBufferManager_FreeByStride(r.stride, bytes, r.vertexBuffer, r.baseIndex);
            else VertexBufferManager_Free(r.vertexShader, bytes, r.vertexBuffer, r.baseIndex);
        }
        r.vertexBuffer = nullptr;
        if (r.remap) Engine_Free(r.remap);
        r.remap = nullptr;
    }
}

uint32_t D3D8_PrimitiveTypeFromKind(uint32_t kind)
{
    static const uint32_t kTypes[7] = {0,
                                       D3DPT_LINELIST,
                                       D3DPT_LINESTRIP,
                                       D3DPT_TRIANGLELIST,
                                       D3DPT_TRIANGLESTRIP,
                                       D3DPT_TRIANGLEFAN,
                                       D3DPT_POINTLIST};
    return kind < 7 ? kTypes[kind] : 0;
}

int32_t D3D8NativeData_GeometryGetSize(const void* geometry, int32_t, int32_t) { return Size(GeometryOwner(geometry)); }

Stream* D3D8NativeData_GeometryWrite(Stream* stream, int32_t, const void* geometry, int32_t, int32_t)
{
    return Write(stream, GeometryOwner(geometry));
}

Stream* D3D8NativeData_GeometryRead(Stream* stream, int32_t length, void* geometry, int32_t, int32_t)
{
    return Read(stream, length, GeometryOwner(geometry));
}

int32_t D3D8NativeData_SectorGetSize(const void* sector, int32_t, int32_t) { return Size(SectorOwner(sector)); }

Stream* D3D8NativeData_SectorWrite(Stream* stream, int32_t, const void* sector, int32_t, int32_t)
{
    return Write(stream, SectorOwner(sector));
}

Stream* D3D8NativeData_SectorRead(Stream* stream, int32_t length, void* sector, int32_t, int32_t)
{
    // A sector's extensions are read on their own, with no reader of the
    // owner around them to say why a refusal happened (the first reason
    // raised is the one kept).
    Stream* read = Read(stream, length, SectorOwner(sector));
    if (!read) RaiseBadData();
    return read;
}
