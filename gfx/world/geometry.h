// Geometry: the shareable shape that atomics draw.
//
// A geometry holds a vertex count, triangles with a material index each,
// per-vertex prelit colours and texture coordinates, one or more morph
// targets (key shapes with positions, normals and a bounding sphere), a
// material list and the mesh header that groups the triangles for drawing.
// It is one allocation: the record, the registered extensions, then (unless
// the geometry is native) prelit colours, texture-coordinate sets and
// triangles. Morph targets live in a second block: the records first, then
// each target's positions and normals.
//
// Editing: Geometry_Lock with the parts to change (GEOMETRY_LOCK_*), change
// them, Geometry_Unlock. Locking the triangles drops the mesh header and
// unlocking rebuilds it; the drawing code reads the lock flags to refresh
// only the changed parts of its device copy, then clears them.
#pragma once
#include <cstdint>

#include "common/maths.h"
#include "gfx/core/plugin.h"
#include "gfx/world/material.h"

struct MeshHeader;
struct ResourceArenaEntry;
struct Stream;
struct Geometry;

enum : uint32_t {
    MODULE_GEOMETRY = 0x503,
    CHUNK_GEOMETRY = 0x0F,
    OBJECT_GEOMETRY = 8,
    GEOMETRY_MAX_VERTICES = 65535,
    GEOMETRY_MAX_TEXCOORD_SETS = 8,
    GEOMETRY_ERR_TOO_MANY_VERTICES = 6,  // plugin id 2
};

// Format flags.
enum : uint32_t {
    GEOMETRY_TRISTRIP = 0x01,
    GEOMETRY_POSITIONS = 0x02,
    GEOMETRY_TEXTURED = 0x04,  // exactly one texture-coordinate set
    GEOMETRY_PRELIT = 0x08,
    GEOMETRY_NORMALS = 0x10,
    GEOMETRY_LIGHT = 0x20,
    GEOMETRY_MODULATE_MATERIAL_COLOR = 0x40,
    GEOMETRY_TEXTURED2 = 0x80,  // two or more sets
    GEOMETRY_NATIVE = 0x01000000,
    GEOMETRY_NATIVE_INSTANCE = 0x02000000,  // instance data kept outside the arena, nothing drawn
};

// Lock flags.
enum : uint32_t {
    GEOMETRY_LOCK_POLYGONS = 0x01,
    GEOMETRY_LOCK_VERTICES = 0x02,
    GEOMETRY_LOCK_NORMALS = 0x04,
    GEOMETRY_LOCK_PRELIGHT = 0x08,
    GEOMETRY_LOCK_TEXCOORDS = 0xFF0,  // GEOMETRY_LOCK_TEXCOORDS1 << i for set i
    GEOMETRY_LOCK_TEXCOORDS1 = 0x10,
    GEOMETRY_LOCK_ALL = 0xFFF,
};

struct Sphere {
    Vec3 center;
    float radius;
};

struct TexCoords {
    float u, v;
};

struct RGBA {
    uint8_t red, green, blue, alpha;
};

// material index -1: no material (drawn white, untextured, opaque).
struct Triangle {
    uint16_t vertIndex[3];
    int16_t matIndex;
};

struct MorphTarget {
    Geometry* parentGeom;
    Sphere boundingSphere;
    Vec3* verts;    // null on a native geometry
    Vec3* normals;  // present with GEOMETRY_NORMALS
};

struct Geometry {
    uint8_t type;  // OBJECT_GEOMETRY
    uint8_t subType;
    uint8_t objectFlags;
    uint8_t privateFlags;
    void* parent;                  // always null
    uint32_t flags;                // GEOMETRY_* format flags
    uint16_t lockedSinceLastInst;  // GEOMETRY_LOCK_* bits not yet seen by the drawing code
    int16_t refCount;
    int32_t numTriangles;
    int32_t numVertices;
    int32_t numMorphTargets;
    int32_t numTexCoordSets;
    MaterialList matList;
    Triangle* triangles;  // null without triangles or when native
    RGBA* preLitLum;      // with GEOMETRY_PRELIT
    TexCoords* texCoords[GEOMETRY_MAX_TEXCOORD_SETS];
    MeshHeader* mesh;                  // owned; null while the triangles are locked
    ResourceArenaEntry* instanceData;  // device data of the drawing code
    MorphTarget* morphTarget;          // numMorphTargets records
    // Advanced by every Geometry_Lock; device data made per atomic (morphing
    // geometry) records it, so that a lock already seen (and cleared) by
    // another atomic's draw still refreshes this one.
    uint32_t lockSerial;
    // registered extensions follow at their offsets
};

// Null for a negative count, for 65536 vertices or more (error 6 of plugin
// 2), for more than 8 texture-coordinate sets (bits 16-23 of the flags) or
// when memory runs out. One reference, one morph target, lock flags 0.
Geometry* Geometry_Create(int32_t numVertices, int32_t numTriangles, uint32_t flags);
inline Geometry* Geometry_AddRef(Geometry* geometry)
{
    geometry->refCount++;
    return geometry;
}
// Drops a reference; the last one frees the instance data, the mesh header,
// the extensions, the morph targets and the material list. Returns 1.
int32_t Geometry_Destroy(Geometry* geometry);
// Index of the first new target, or -1 (0x80000013, geometry unchanged).
int32_t Geometry_AddMorphTargets(Geometry* geometry, int32_t count);
inline int32_t Geometry_AddMorphTarget(Geometry* geometry) { return Geometry_AddMorphTargets(geometry, 1); }
inline MorphTarget* Geometry_GetMorphTarget(Geometry* geometry, int32_t index) { return &geometry->morphTarget[index]; }
Geometry* Geometry_Lock(Geometry* geometry, uint32_t lockFlags);
// Builds the mesh header when there is none; null when that fails.
Geometry* Geometry_Unlock(Geometry* geometry);
Geometry* Geometry_SetTriangleVertexIndices(Geometry* geometry, Triangle* triangle, uint16_t v0, uint16_t v1,
                                            uint16_t v2);
// Null material stores -1; otherwise the material's (highest) index in the
// list, appended with a reference when absent. Null when the append fails.
Geometry* Geometry_SetTriangleMaterial(Geometry* geometry, Triangle* triangle, Material* material);
typedef Material* (*MaterialCallback)(Material* material, void* data);
Geometry* Geometry_ForAllMaterials(Geometry* geometry, MaterialCallback callback, void* data);
// Centre of the vertices' box, radius the largest distance to it x 1.001.
MorphTarget* MorphTarget_CalcBoundingSphere(MorphTarget* target, Sphere* out);

// Called by Geometry_SortVerticesByMaterial with the map of new vertex
// index -> old vertex index.
typedef void (*GeometrySortCallback)(Geometry* source, Geometry* result, const uint16_t* map, int32_t numVertices);
// A new geometry whose vertices are used by one material each and grouped by
// material; extensions are copied through their copy callbacks. The source is
// unchanged. Null when memory runs out.
Geometry* Geometry_SortVerticesByMaterial(Geometry* geometry, GeometrySortCallback callback);
// Returns geometry unchanged (tolerance unused); null geometry: 0x80000016
// under plugin 0x185, null.
Geometry* Geometry_Condition(Geometry* geometry, float tolerance);

int32_t Geometry_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                                PluginDestructor destructor, PluginCopy copy);
int32_t Geometry_RegisterPluginStream(uint32_t pluginId, PluginStreamRead read, PluginStreamWrite write,
                                      PluginStreamGetSize getSize);
int32_t Geometry_GetPluginOffset(uint32_t pluginId);
PluginRegistry* Geometry_GetRegistry(void);
const PluginEntry* Geometry_GetFirstPluginEntry(void);

// The geometry chunk (type 0x0F): payload size, write (header included),
// read (the caller has found the chunk header). Read checks every count and
// index against the chunk and the geometry and refuses (null, nothing left
// allocated) what does not fit; the caller gets one reference.
int32_t Geometry_StreamGetSize(const Geometry* geometry);
const Geometry* Geometry_StreamWrite(const Geometry* geometry, Stream* stream);
Geometry* Geometry_StreamRead(Stream* stream);

// Binary-mesh extension callbacks (registered by the world ties).
int32_t Geometry_MeshGetSize(const void* geometry, int32_t offset, int32_t size);
Stream* Geometry_MeshWrite(Stream* stream, int32_t length, const void* geometry, int32_t offset, int32_t size);
Stream* Geometry_MeshRead(Stream* stream, int32_t length, void* geometry, int32_t offset, int32_t size);

void* Geometry_ModuleOpen(void* instance, int32_t offset, int32_t size);
void* Geometry_ModuleClose(void* instance, int32_t offset, int32_t size);
