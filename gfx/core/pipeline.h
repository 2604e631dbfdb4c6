// Pipelines: small graphs of processing nodes that draw one kind of object.
//
// A pipeline is created, locked for editing, given chains of nodes, then
// compiled (which unlocks it): compiling checks the graph, orders the nodes
// topologically (node records move, so find nodes by name afterwards),
// resolves which data clusters every node needs from its predecessors and
// gives each cluster a slot in the packet that flows through the nodes.
// Executing runs the first node's body, which hands the packet on.
#pragma once
#include <cstdarg>
#include <cstdint>

struct Pipeline;
struct PipelineNode;
struct PipelineNodeDefinition;
struct PipelineHeap;

enum : uint32_t {
    PIPELINE_MAX_NODES = 64,
    PIPELINE_MAX_OUTPUTS = 32,
    PIPELINE_MAX_CLUSTERS = 32,
};

// Identity of a kind of data flowing through a pipeline (vertices, indices...).
struct PipelineClusterDefinition {
    const char* name;
    uint32_t stride;
    uint32_t attributes;
};

// One entry of a node definition's cluster list.
struct PipelineClusterRef {
    const PipelineClusterDefinition* cluster;
    uint32_t touched;  // the node reads or writes the cluster
    uint32_t reserved;
};

enum : uint32_t {
    CLUSTER_PASS_THROUGH = 0,  // the cluster leaves the node as it came
    CLUSTER_VALID = 1,         // the node provides it on this output
    CLUSTER_INVALID = 2,       // the node drops it on this output
};

enum : uint32_t {
    CLUSTER_NOT_NEEDED = 0,
    CLUSTER_REQUIRED = 1,
    // any other value: optional
    CLUSTER_OPTIONAL = 2,
};

struct PipelineOutputSpec {
    const uint32_t* clusterFlags;  // one per cluster-list entry (null: all like otherClusters)
    uint32_t otherClusters;        // the flag of every cluster not in the list
};

// One cluster of a packet.
struct PipelineCluster {
    void* data;
    uint32_t numElements;
    uint32_t flags;  // PIPELINE_CLUSTER_EXTERNAL: data not owned by the pipeline heap
};

enum : uint32_t { PIPELINE_CLUSTER_EXTERNAL = 1 };

struct PipelinePacket {
    uint32_t numSlots;
    PipelineCluster* slots;
};

struct PipelineExecuteParams {
    Pipeline* pipeline;
    void* data;  // the object being drawn
    PipelineHeap* heap;
    PipelinePacket* packet;  // null when the pipeline has no cluster slots
};

typedef int32_t (*PipelineNodeBodyFn)(PipelineNode* node, const PipelineExecuteParams* params);
typedef int32_t (*PipelineDefinitionFn)(PipelineNodeDefinition* definition);
typedef int32_t (*PipelineNodeInitFn)(PipelineNode* node);
typedef int32_t (*PipelineNodeTermFn)(PipelineNode* node);
typedef int32_t (*PipelineNodeConfigFn)(PipelineNode* node, Pipeline* pipeline);

// Supplied by the code that implements a node (usually a static record).
struct PipelineNodeDefinition {
    const char* name;
    PipelineNodeBodyFn body;
    PipelineDefinitionFn open;   // when the first compiled pipeline starts using it
    PipelineDefinitionFn close;  // when the last stops
    PipelineNodeInitFn init;
    PipelineNodeTermFn term;
    PipelineNodeConfigFn configure;
    uint32_t numClusters;
    const PipelineClusterRef* clusters;
    const uint32_t* requirements;  // one per cluster-list entry
    uint32_t numOutputs;
    const PipelineOutputSpec* outputs;
    uint32_t privateDataSize;
    int32_t allocated;  // freed with Engine_Free when no pipeline uses it any more
    int32_t refCount;
};

struct PipelineNode {
    PipelineNodeDefinition* definition;
    uint32_t numOutputs;
    int32_t outputs[PIPELINE_MAX_OUTPUTS];     // successor indices, -1 unconnected
    int32_t slotIndex[PIPELINE_MAX_CLUSTERS];  // per cluster-list entry: packet slot, -1 none
    uint32_t outputMask[PIPELINE_MAX_CLUSTERS];  // per cluster-list entry: outputs it leaves by
    uint32_t inputs;     // compile: number of inputs
    uint32_t placed;     // compile: inputs already placed
    void* privateData;
    uint32_t privateDataSize;
};

struct Pipeline {
    int32_t locked;  // 1 while editable
    uint32_t numNodes;
    PipelineNode* nodes;
    uint32_t packetNumClusterSlots;
    uint32_t numPackets;      // execution: packets produced
    PipelinePacket* packet;   // execution: the current packet
    uint32_t nodeCapacity;    // node records the block holds
    uint32_t entryNode;
    uint32_t pluginId;        // 1 for the immediate-mode pipelines
    uint32_t pluginData;      // the owning plugin's extra word (streamed with pluginId); 0 from Pipeline_Create
};

// An empty, unlocked pipeline, or null (0x80000013).
Pipeline* Pipeline_Create(void);
// Terms the nodes of a compiled pipeline (a locked one already did), frees
// private data and the record.
void Pipeline_Destroy(Pipeline* pipeline);
// Locks for editing; the nodes of a compiled pipeline are termed. Null when
// memory for the editable layout runs out.
Pipeline* Pipeline_BeginEdit(Pipeline* pipeline);
// Appends a chain of definitions (null-terminated), connecting each node's
// first output to the next; *outFirstIndex (when not null) gets the first new
// index. Null and nothing added on failure (52 not locked, 42 too many nodes,
// 41 too many outputs, 40 too many clusters).
Pipeline* Pipeline_AddNodeChain(Pipeline* pipeline, int32_t* outFirstIndex, ...);
Pipeline* Pipeline_AddNodeChainV(Pipeline* pipeline, int32_t* outFirstIndex, va_list definitions);
// First node after afterNode (or from the first) whose definition's name
// matches; *outIndex -1 when none.
PipelineNode* Pipeline_FindNodeByName(Pipeline* pipeline, const char* name, PipelineNode* afterNode,
                                      int32_t* outIndex);
// Checks, sorts and resolves the graph, then opens, inits and configures the
// nodes (last node first) and unlocks. Null on failure; the pipeline stays
// locked and no node is left initialised.
Pipeline* Pipeline_Compile(Pipeline* pipeline);
// Runs the first node's body; null when it fails.
Pipeline* Pipeline_Execute(Pipeline* pipeline, void* data, int32_t resetHeap);
// Hands the packet to the successor on the given output (nodes call this);
// 1 when there is no successor.
int32_t Pipeline_SendPacket(PipelineNode* node, const PipelineExecuteParams* params, uint32_t output);

// The compile-time scratch allocator (valid while a compile runs): blocks
// from the low end or the high end of one block; null and 0x80000013 when the
// ends would cross.
void* Pipeline_ScratchAllocHigh(uint32_t size);
void* Pipeline_ScratchAllocLow(uint32_t size);

// Sorts records by the unsigned 32-bit key at keyOffset (keys in [minKey, maxKey]).
void Pipeline_RadixSort(void* records, uint32_t count, uint32_t recordSize, uint32_t keyOffset, uint32_t minKey,
                        uint32_t maxKey);

PipelineHeap* Pipeline_GetHeap(void);

struct Raster;

// The render states a pipeline starts its drawing from, in engine values
// (the render-state numbers of renderstate.h). Eleven words in this order.
struct PipelineRenderStateVector {
    uint32_t flags;      // PIPELINE_RSV_* bits
    uint32_t shadeMode;  // 1 flat, 2 Gouraud
    uint32_t srcBlend;   // blend modes 1-11
    uint32_t destBlend;
    Raster* textureRaster;  // stage 0's raster; null for none (not owned)
    uint32_t addressU;      // addressing modes 1-4
    uint32_t addressV;
    uint32_t filterMode;    // texture filter modes 0-6
    uint32_t borderColour;  // packed A8R8G8B8
    uint32_t fogType;       // 0 no fog, else the fog type 1-3
    uint32_t fogColour;     // packed A8R8G8B8
};
enum : uint32_t {
    PIPELINE_RSV_PERSPECTIVE = 1,  // textures are mapped perspective-correct (always, on this device)
    PIPELINE_RSV_ZTEST = 2,
    PIPELINE_RSV_ZWRITE = 4,
    PIPELINE_RSV_VERTEXALPHA = 8,  // alpha blending by vertex alpha
};

// The module's own vector: perspective, Z test and Z write, Gouraud, source
// alpha over inverse source alpha, no raster, wrapped, linear, white border,
// no fog, white fog. Filled at module open; callers may change it.
PipelineRenderStateVector* Pipeline_GetDefaultRenderStateVector(void);
// While the engine is started, fills vector from the device's current
// render states (a state the device does not answer keeps the default) and
// returns it. Before the start only the module's own vector can be asked
// for, and it is returned as it is; any other block is refused with null
// and 0x80000018 (null: 0x80000016).
PipelineRenderStateVector* Pipeline_LoadRenderStateVector(PipelineRenderStateVector* vector);

void* Pipeline_ModuleOpen(void* instance, int32_t offset, int32_t size);
void* Pipeline_ModuleClose(void* instance, int32_t offset, int32_t size);
