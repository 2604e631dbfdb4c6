// Direct3D 8 instance data: the device copy of an object's meshes, and the
// native-data stream that writes an instanced geometry or sector with its
// buffer contents so that it reads back without instancing.
//
// One block per drawn geometry, atomic (morphing geometry) or world sector,
// held in a resource-arena entry (or, for native and instance-only data, an
// entry made outside the arena): a small header and one D3D8MeshInstance per
// mesh of the mesh header, in mesh order. The records are C++ structs with
// pointers; the stream form is fixed: eleven little-endian 32-bit words per
// record (pointer words 0, the material as its index in the owner's material
// list), N = 4 + 44 x meshes.
#pragma once
#include <cstdint>

#include "gfx/driver/d3d8/d3d8texstream.h"  // D3D8_NATIVE_PLATFORM, the native chunks' platform code
#include "platform/direct3d/d3d8.h"

struct Geometry;
struct Material;
struct ResourceArenaEntry;
struct Stream;
struct WorldSector;

enum : uint32_t {
    D3D8_NATIVE_RECORD_BYTES = 44,  // stream size of one record
};

struct D3D8MeshInstance {
    uint32_t minVertexIndex;  // first object vertex of the mesh; indices are relative to it
    uint32_t stride;          // bytes per vertex
    uint32_t numVertices;
    uint32_t numIndices;
    Material* material;                    // not owned; null = no material
    uint32_t vertexShader;                 // flexible vertex format, or a shader handle (bit 0 set)
    uint32_t primitiveType;                // D3DPT_*
    IDirect3DIndexBuffer8* indexBuffer;    // owned; null for an unindexed mesh
    IDirect3DVertexBuffer8* vertexBuffer;  // a shared range (managed) or a pooled dynamic buffer
    uint32_t baseIndex;                    // first vertex in the vertex buffer
    uint8_t vertexAlpha;                   // a prelit colour has alpha below 255
    uint8_t managed;                       // vertexBuffer is a range of the shared buffers
    uint8_t remapped;                      // vertices were compacted: remap gives their sources
    uint8_t reserved;
    uint16_t* remap;  // compacted vertex -> source vertex (minVertexIndex-relative); owned, may be null
};

struct D3D8InstanceData {
    uint16_t serialNumber;  // of the mesh header instanced; a different one makes the block stale
    uint16_t numMeshes;
    uint32_t lockSerial;    // the geometry's lockSerial when the block was last filled
    uint32_t deviceResets;  // D3D8_GetDeviceResetCount when the block was last filled
    uint32_t pad;
    // numMeshes D3D8MeshInstance records follow
};

inline D3D8MeshInstance* D3D8InstanceData_Records(D3D8InstanceData* data) { return (D3D8MeshInstance*)(data + 1); }
inline uint32_t D3D8InstanceData_Size(uint32_t numMeshes)
{
    return (uint32_t)(sizeof(D3D8InstanceData) + numMeshes * sizeof(D3D8MeshInstance));
}
// The block inside an arena entry.
D3D8InstanceData* D3D8InstanceData_Get(ResourceArenaEntry* entry);

// Destroy notify of every block: releases index buffers, gives vertex ranges
// back (or dynamic buffers to the pool) and frees the reverse tables.
void D3D8InstanceData_Destroy(ResourceArenaEntry* entry);

// Direct3D 8 primitive type of a mesh-header kind (table index 0..6).
uint32_t D3D8_PrimitiveTypeFromKind(uint32_t kind);

// Native-data stream callbacks (plugin 0x510) of geometries and sectors. The
// size is the whole struct chunk the writer writes (header included), 0 for
// an owner without native data. Reads check the block against the owner
// (counts, strides, materials, index values) and fail cleanly, with a
// reason in the error slot; only data of another platform leaves the reason
// to the geometry's reader (a sector's read gives it itself).
int32_t D3D8NativeData_GeometryGetSize(const void* geometry, int32_t offset, int32_t size);
Stream* D3D8NativeData_GeometryWrite(Stream* stream, int32_t length, const void* geometry, int32_t offset,
                                     int32_t size);
Stream* D3D8NativeData_GeometryRead(Stream* stream, int32_t length, void* geometry, int32_t offset, int32_t size);
int32_t D3D8NativeData_SectorGetSize(const void* sector, int32_t offset, int32_t size);
Stream* D3D8NativeData_SectorWrite(Stream* stream, int32_t length, const void* sector, int32_t offset, int32_t size);
Stream* D3D8NativeData_SectorRead(Stream* stream, int32_t length, void* sector, int32_t offset, int32_t size);
