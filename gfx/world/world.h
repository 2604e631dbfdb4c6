// Worlds and sectors.
//
// A world is the scene container: a bounding box divided by a binary tree of
// axis-aligned planes into leaf sectors, a material list for the sectors'
// own static triangles, the lights and clumps in it, and the pipeline and
// render callback of its sectors. Atomics, lights and cameras are tied to the
// leaves they overlap (worldties.h). The game makes one world of one empty
// leaf; deeper trees are built by hand (WorldSector_CreateLeaf,
// WorldSector_CreatePlane, World_CreateWithTree) and checked when made.
//
// This module also holds World_PluginAttach, which registers every module and
// extension of the world library; call it after Engine_Init and before
// Engine_Open.
#pragma once
#include <cstdint>

#include "common/maths.h"
#include "gfx/core/engine.h"
#include "gfx/core/plugin.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"

struct MeshHeader;
struct Pipeline;
struct ResourceArenaEntry;
struct Stream;
struct World;
struct WorldSector;

enum : uint32_t {
    MODULE_WORLD_RESERVED_A = 0x50A,
    MODULE_WORLD = 0x507,
    MODULE_WORLD_RESERVED_B = 0x50B,
    OBJECT_WORLD = 7,
    WORLD_MAX_TREE_DEPTH = 64,  // pending nodes of a tree walk
};

// World format flags.
enum : uint32_t {
    WORLD_TRISTRIP = 0x01,
    WORLD_POSITIONS = 0x02,
    WORLD_TEXTURED = 0x04,
    WORLD_PRELIT = 0x08,
    WORLD_NORMALS = 0x10,
    WORLD_LIGHT = 0x20,
    WORLD_MODULATE_MATERIAL_COLOR = 0x40,
    WORLD_TEXTURED2 = 0x80,
    WORLD_NATIVE = 0x01000000,
    WORLD_NATIVE_INSTANCE = 0x02000000,
};

// Private flag: the world and its sectors are one allocation.
enum : uint8_t { WORLD_SINGLE_ALLOCATION = 0x01 };

enum : int32_t {
    SECTOR_LEAF = -1,
    SECTOR_EMPTY_SLOT = -2,
    SECTOR_PLANE_X = 0,  // the split axis as the byte offset of the coordinate
    SECTOR_PLANE_Y = 4,
    SECTOR_PLANE_Z = 8,
};

struct WorldBox {
    Vec3 minimum;
    Vec3 maximum;
};

// A sector triangle: the material is the world's list entry at the leaf's
// window base + matIndex.
struct SectorTriangle {
    uint16_t matIndex;
    uint16_t vertIndex[3];
};

// Sector normals: signed bytes scaled by 1/128; the fourth byte is unused.
struct SectorNormal {
    int8_t x, y, z, pad;
};

// Every node starts with its type; leaves are WorldSector, plane nodes
// PlaneSector.
struct WorldSector {
    int32_t type;  // SECTOR_LEAF
    SectorTriangle* triangles;
    Vec3* vertices;
    SectorNormal* normals;
    TexCoords* texCoords[GEOMETRY_MAX_TEXCOORD_SETS];
    RGBA* preLitLum;
    ResourceArenaEntry* instanceData;
    EngineLink collAtomics;  // ties of atomics with ATOMIC_COLLISION_TEST
    EngineLink atomics;      // ties of the other atomics
    EngineLink lights;       // ties of positional lights
    WorldBox box;
    WorldBox tightBox;
    MeshHeader* mesh;    // owned (or the shared empty header)
    Pipeline* pipeline;  // not owned; null = the world's, else the default
    uint16_t matListWindowBase;
    uint16_t numVertices;
    uint16_t numTriangles;
    // registered extensions follow at their offsets
};

struct PlaneSector {
    int32_t type;        // SECTOR_PLANE_*
    float value;         // the plane
    WorldSector* left;   // below the plane
    WorldSector* right;  // above
    float leftValue;     // how far the left side reaches along the axis
    float rightValue;    // where the right side begins
};

typedef WorldSector* (*WorldSectorRenderCallback)(WorldSector* sector);

struct World {
    uint8_t type;  // OBJECT_WORLD
    uint8_t subType;
    uint8_t objectFlags;
    uint8_t privateFlags;  // WORLD_SINGLE_ALLOCATION
    void* parent;
    uint32_t flags;       // WORLD_* format flags
    int32_t renderOrder;  // 2 at creation: far side first; 1: near side first
    MaterialList matList;
    WorldSector* rootSector;
    int32_t numClumps;
    EngineLink clumpList;     // Clump.inWorldLink
    EngineLink localLights;   // Light.inWorld, kinds >= 128
    EngineLink globalLights;  // Light.inWorld, other kinds
    WorldBox box;
    WorldSectorRenderCallback renderCallBack;
    Pipeline* pipeline;  // not owned; null = the default sector pipeline
    // registered extensions follow at their offsets
};

// One empty leaf over box; null when memory runs out (0x80000013).
World* World_Create(const WorldBox* box);
// A world over a hand-built tree (ownership of every node passes to it, also
// on failure, when the nodes are freed). Refused (null, 0x80000016) when the
// tree is deeper than the walks can follow or a leaf triangle names a vertex
// or material (window base + index) that does not exist; matList is copied.
World* World_CreateWithTree(const WorldBox* box, WorldSector* root, const MaterialList* matList, uint32_t flags);
// Frees the sectors, unties what is still tied, runs the destructors. Returns 1.
int32_t World_Destroy(World* world);
// Builds the mesh header of every leaf without one; null when one fails.
World* World_BuildSectorMeshes(World* world);
// The world holding sector, or null.
World* WorldSector_GetWorld(const WorldSector* sector);
WorldSector* WorldSector_DefaultRenderCallback(WorldSector* sector);
inline WorldSector* WorldSector_Render(World* world, WorldSector* sector) { return world->renderCallBack(sector); }

// Hand-built trees. A leaf with room for the given vertices and triangles
// (arrays per the format flags: normals, prelit colours, one or two
// texture-coordinate sets); null on no memory. A plane node joining two
// subtrees along axis (SECTOR_PLANE_*).
WorldSector* WorldSector_CreateLeaf(const WorldBox* box, int32_t numVertices, int32_t numTriangles, uint32_t flags);
PlaneSector* WorldSector_CreatePlane(int32_t axis, float value, float leftValue, float rightValue, WorldSector* left,
                                     WorldSector* right);
typedef WorldSector* (*WorldSectorCallback)(WorldSector* sector, void* data);
// Calls callback for every leaf, depth first, left before right.
World* World_ForAllWorldSectors(World* world, WorldSectorCallback callback, void* data);

int32_t World_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                             PluginDestructor destructor, PluginCopy copy);
int32_t World_RegisterPluginStream(uint32_t pluginId, PluginStreamRead read, PluginStreamWrite write,
                                   PluginStreamGetSize getSize);
int32_t WorldSector_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                                   PluginDestructor destructor, PluginCopy copy);
int32_t WorldSector_RegisterPluginStream(uint32_t pluginId, PluginStreamRead read, PluginStreamWrite write,
                                         PluginStreamGetSize getSize);
int32_t World_GetPluginOffset(uint32_t pluginId);
int32_t WorldSector_GetPluginOffset(uint32_t pluginId);
PluginRegistry* World_GetRegistry(void);
PluginRegistry* WorldSector_GetRegistry(void);

// Right-to-render stream callbacks of worlds and sectors.
int32_t World_RightsGetSize(const void* world, int32_t offset, int32_t size);
Stream* World_RightsWrite(Stream* stream, int32_t length, const void* world, int32_t offset, int32_t size);
Stream* World_RightsRead(Stream* stream, int32_t length, void* world, int32_t offset, int32_t size);
int32_t WorldSector_RightsGetSize(const void* sector, int32_t offset, int32_t size);
Stream* WorldSector_RightsWrite(Stream* stream, int32_t length, const void* sector, int32_t offset, int32_t size);
Stream* WorldSector_RightsRead(Stream* stream, int32_t length, void* sector, int32_t offset, int32_t size);
// Binary-mesh extension callbacks of sectors.
int32_t WorldSector_MeshGetSize(const void* sector, int32_t offset, int32_t size);
Stream* WorldSector_MeshWrite(Stream* stream, int32_t length, const void* sector, int32_t offset, int32_t size);
Stream* WorldSector_MeshRead(Stream* stream, int32_t length, void* sector, int32_t offset, int32_t size);

// Registers, in order, the engine modules 0x501, 0x502, 0x503, 0x504, 0x505,
// 0x50A, 0x507, 0x50B, then the world-tie extensions, the clump links and the
// Direct3D 8 light extension. 1, or 0 at the first refusal.
int32_t World_PluginAttach(void);

void* World_ModuleOpen(void* instance, int32_t offset, int32_t size);
void* World_ModuleClose(void* instance, int32_t offset, int32_t size);
