// The Direct3D 8 atomic and world-sector pipelines: one all-in-one node each
// that, per object, builds or refreshes the object's instance data
// (d3d8instance.h) from its mesh header, runs the lighting callback, sets the
// world transform and calls a render callback that draws every mesh.
//
// Instancing happens only when the mesh header's serial number changes, the
// geometry was locked, or a morph blend changed; otherwise the cached entry
// is reused and moved to the front of the resource arena. The four callbacks
// live in the node's private data so that a plugin can reuse the node with
// its own render callback.
#pragma once
#include <cstdint>

struct Atomic;
struct D3D8MeshInstance;
struct MeshHeader;
struct PipelineNode;
struct PipelineNodeDefinition;
struct ResourceArenaEntry;
struct WorldSector;

enum : uint32_t {
    D3D8_PIPELINE_PLUGIN = 2,  // plugin word of both pipelines
    D3D8_OBJECT_ATOMIC = 1,    // render callback object types
    D3D8_OBJECT_WORLD_SECTOR = 255,
};

// Fills one record's vertex range; reinstance 1 refreshes only locked parts.
typedef int32_t (*D3D8InstanceCallback)(void* object, D3D8MeshInstance* record, int32_t reinstance);
typedef int32_t (*D3D8ReinstanceCallback)(void* object, ResourceArenaEntry* entry, const MeshHeader* header,
                                          D3D8InstanceCallback instance);
typedef void (*D3D8LightingCallback)(void* object);
typedef void (*D3D8RenderCallback)(ResourceArenaEntry* entry, void* object, uint8_t type, uint32_t flags);

struct D3D8AllInOneNodeData {
    D3D8InstanceCallback instance;
    D3D8ReinstanceCallback reinstance;  // may be null
    D3D8LightingCallback lighting;
    D3D8RenderCallback render;
};

PipelineNodeDefinition* D3D8AtomicNode_GetDefinition(void);
PipelineNodeDefinition* D3D8WorldSectorNode_GetDefinition(void);

// Creates the pipeline, makes it the built-in and default one; the atomic
// form also opens the vertex-buffer manager and the lighting tables. 1 or 0
// (nothing left behind).
int32_t Pipeline_CreateAtomicD3D8(void);
int32_t Pipeline_CreateWorldSectorD3D8(void);
void Pipeline_DestroyAtomicD3D8(void);
void Pipeline_DestroyWorldSectorD3D8(void);

// Builds the instance data of a mesh header: index buffers relative to each
// mesh's first vertex, triangle lists sorted, then instance(object, record,
// 0) per record. outsideArena: the entry is made with the engine's memory
// functions and stored in *ownerSlot. Null (nothing left) on failure.
ResourceArenaEntry* D3D8_InstanceMeshes(void* object, void* owner, ResourceArenaEntry** ownerSlot,
                                        const MeshHeader* header, D3D8InstanceCallback instance, int32_t outsideArena);
// instance(object, record, 1) for every record; 0 at the first failure.
int32_t D3D8_ReinstanceMeshes(void* object, ResourceArenaEntry* entry, const MeshHeader* header,
                              D3D8InstanceCallback instance);

int32_t D3D8AtomicNode_Instance(void* atomic, D3D8MeshInstance* record, int32_t reinstance);
int32_t D3D8AtomicNode_Reinstance(void* atomic, ResourceArenaEntry* entry, const MeshHeader* header,
                                  D3D8InstanceCallback instance);
int32_t D3D8WorldSectorNode_Instance(void* sector, D3D8MeshInstance* record, int32_t reinstance);

// Draws every record of the entry (type D3D8_OBJECT_*; flags the owner's
// format flags).
void D3D8_DefaultRenderCallback(ResourceArenaEntry* entry, void* object, uint8_t type, uint32_t flags);
// Replaces the render callback in a node's private data.
void D3D8_SetRenderCallback(PipelineNode* node, D3D8RenderCallback callback);
