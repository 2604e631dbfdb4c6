#include "gfx/core/pipeline.h"

#include <cstddef>
#include <cstring>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/freelist.h"
#include "gfx/core/pipelineheap.h"
#include "gfx/core/renderstate.h"

namespace {

struct Scratch {
    uint8_t* block;
    uint8_t* low;   // next free byte from the bottom
    uint8_t* high;  // first used byte from the top
};

const PipelineRenderStateVector kDefaultRenderStates = {
    .flags = PIPELINE_RSV_PERSPECTIVE | PIPELINE_RSV_ZTEST | PIPELINE_RSV_ZWRITE,
    .shadeMode = 2,
    .srcBlend = 5,
    .destBlend = 6,
    .textureRaster = nullptr,
    .addressU = 1,
    .addressV = 1,
    .filterMode = 2,
    .borderColour = 0xFFFFFFFFu,
    .fogType = 0,
    .fogColour = 0xFFFFFFFFu,
};

struct PipelineModule {
    FreeList* pipelines;
    PipelineHeap* heap;
    Scratch scratch;
    // Answered before the first start too, so it holds the defaults from the
    // beginning; module open fills it again.
    PipelineRenderStateVector renderStates = kDefaultRenderStates;
};

PipelineModule g_pipes;

// One entry of a node's requirements table while resolving clusters.
struct Requirement {
    uint32_t key;  // the cluster's index in the node's own list, else 0xFFFFFFFF
    const PipelineClusterDefinition* cluster;
    uint32_t requirement;  // CLUSTER_REQUIRED or CLUSTER_OPTIONAL
    int32_t needer;        // the node that asked for it
    uint32_t outputMask;
    int32_t id;            // index among all entries (joins instances)
};

struct Table {
    Requirement* entries;
    uint32_t count;
};

struct Resolver {
    Pipeline* p;
    Table* tables;
    uint32_t capacity;  // entries per table
};

void Unref(PipelineNodeDefinition* def)
{
    if (--def->refCount == 0) {
        if (def->close) def->close(def);
        if (def->allocated) Engine_Free(def);
    }
}

void TermNode(PipelineNode* n)
{
    if (n->definition->term) n->definition->term(n);
    Unref(n->definition);
}

bool EnsureCapacity(Pipeline* p)
{
    if (p->nodeCapacity >= PIPELINE_MAX_NODES) return true;
    PipelineNode* grown = (PipelineNode*)Engine_Realloc(p->nodes, sizeof(PipelineNode) * PIPELINE_MAX_NODES);
    if (!grown) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return false;
    }
    p->nodes = grown;
    p->nodeCapacity = PIPELINE_MAX_NODES;
    return true;
}

int32_t ListIndex(const PipelineNodeDefinition* def, const PipelineClusterDefinition* c)
{
    for (uint32_t k = 0; k < def->numClusters; k++)
        if (def->clusters[k].cluster == c) return (int32_t)k;
    return -1;
}

// The node's validity flag for a cluster on one of its outputs.
uint32_t Flag(const PipelineNode* n, uint32_t output, const PipelineClusterDefinition* c)
{
    const PipelineNodeDefinition* def = n->definition;
    if (!def->outputs || output >= def->numOutputs) return CLUSTER_PASS_THROUGH;
    const PipelineOutputSpec& port = def->outputs[output];
    int32_t k = ListIndex(def, c);
    uint32_t f = (k >= 0 && port.clusterFlags) ? port.clusterFlags[k] : port.otherClusters;
    return f <= CLUSTER_INVALID ? f : CLUSTER_PASS_THROUGH;
}

Requirement* Find(Table& t, const PipelineClusterDefinition* c)
{
    for (uint32_t i = 0; i < t.count; i++)
        if (t.entries[i].cluster == c) return &t.entries[i];
    return nullptr;
}

Requirement* Add(Resolver& r, uint32_t node, const PipelineClusterDefinition* c, uint32_t requirement, int32_t needer)
{
    Table& t = r.tables[node];
    if (Requirement* e = Find(t, c)) {
        if (requirement == CLUSTER_REQUIRED) e->requirement = CLUSTER_REQUIRED;
        return e;
    }
    if (t.count >= r.capacity) return nullptr;
    int32_t k = ListIndex(r.p->nodes[node].definition, c);
    Requirement* e = &t.entries[t.count++];
    *e = Requirement{k >= 0 ? (uint32_t)k : 0xFFFFFFFFu, c, requirement, needer, 0, -1};
    return e;
}

// Drops an optional cluster from a node's table and from the tables
// downstream that it would have reached by passing through.
void RemoveDownstream(Resolver& r, uint32_t node, const PipelineClusterDefinition* c)
{
    Table& t = r.tables[node];
    Requirement* e = Find(t, c);
    if (!e || e->requirement == CLUSTER_REQUIRED) return;
    memmove(e, e + 1, sizeof(Requirement) * (size_t)(t.entries + t.count - (e + 1)));
    t.count--;
    const PipelineNode& n = r.p->nodes[node];
    for (uint32_t o = 0; o < n.numOutputs; o++)
        if (n.outputs[o] >= 0 && Flag(&n, o, c) == CLUSTER_PASS_THROUGH) RemoveDownstream(r, (uint32_t)n.outputs[o], c);
}

int32_t RootOf(int32_t* parent, int32_t i)
{
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
}

// Returns 0, or the error code (already raised).
int32_t Resolve(Pipeline* p)
{
    const uint32_t n = p->numNodes;
    uint32_t capacity = 1;
    for (uint32_t i = 0; i < n; i++) capacity += p->nodes[i].definition->numClusters;
    Resolver r = {p, (Table*)Pipeline_ScratchAllocHigh(sizeof(Table) * n), capacity};
    if (!r.tables) {
        Error_Raise((uint32_t)ERR_PIPE_SCRATCH);
        return ERR_PIPE_SCRATCH;
    }

    // Pass 1, last node first: requirements flow upstream until a node
    // provides the cluster.
    for (uint32_t i = n; i-- > 0;) {
        PipelineNode& node = p->nodes[i];
        const PipelineNodeDefinition* def = node.definition;
        for (uint32_t k = 0; k < def->numClusters; k++) {
            if (!def->clusters[k].cluster) {
                Error_Raise((uint32_t)ERR_PIPE_CLUSTER_NULL);
                return ERR_PIPE_CLUSTER_NULL;
            }
            for (uint32_t j = 0; j < k; j++)
                if (def->clusters[j].cluster == def->clusters[k].cluster) {
                    Error_Raise((uint32_t)ERR_PIPE_CLUSTER_TWICE);
                    return ERR_PIPE_CLUSTER_TWICE;
                }
        }
        r.tables[i].entries = (Requirement*)Pipeline_ScratchAllocLow(sizeof(Requirement) * capacity);
        r.tables[i].count = 0;
        if (!r.tables[i].entries) {
            Error_Raise((uint32_t)ERR_PIPE_SCRATCH);
            return ERR_PIPE_SCRATCH;
        }
        for (uint32_t o = 0; o < node.numOutputs; o++) {
            if (node.outputs[o] < 0) continue;
            uint32_t s = (uint32_t)node.outputs[o];
            Table& st = r.tables[s];
            for (uint32_t j = 0; j < st.count;) {
                Requirement e = st.entries[j];
                uint32_t f = Flag(&node, o, e.cluster);
                if (f == CLUSTER_INVALID) {
                    if (e.requirement == CLUSTER_REQUIRED) {
                        Error_Raise((uint32_t)ERR_PIPE_CLUSTER_MISSING);
                        return ERR_PIPE_CLUSTER_MISSING;
                    }
                    RemoveDownstream(r, s, e.cluster);
                    continue;
                }
                if (f == CLUSTER_PASS_THROUGH && !Add(r, i, e.cluster, e.requirement, e.needer)) {
                    Error_Raise((uint32_t)ERR_PIPE_SCRATCH);
                    return ERR_PIPE_SCRATCH;
                }
                j++;
            }
        }
        for (uint32_t k = 0; k < def->numClusters; k++) {
            uint32_t req = def->requirements ? def->requirements[k] : CLUSTER_NOT_NEEDED;
            if (req == CLUSTER_NOT_NEEDED) continue;
            if (!Add(r, i, def->clusters[k].cluster, req == CLUSTER_REQUIRED ? CLUSTER_REQUIRED : CLUSTER_OPTIONAL,
                     (int32_t)i)) {
                Error_Raise((uint32_t)ERR_PIPE_SCRATCH);
                return ERR_PIPE_SCRATCH;
            }
        }
    }

    // Pass 2, first node first: which clusters each node carries out of
    // which outputs.
    for (uint32_t i = 0; i < n; i++) {
        PipelineNode& node = p->nodes[i];
        const PipelineNodeDefinition* def = node.definition;
        for (uint32_t k = 0; k < def->numClusters; k++)
            if (def->clusters[k].touched && !Add(r, i, def->clusters[k].cluster, CLUSTER_OPTIONAL, (int32_t)i)) {
                Error_Raise((uint32_t)ERR_PIPE_SCRATCH);
                return ERR_PIPE_SCRATCH;
            }
        for (uint32_t o = 0; o < node.numOutputs; o++) {
            if (node.outputs[o] < 0) continue;
            Table& st = r.tables[node.outputs[o]];
            for (uint32_t j = 0; j < st.count; j++) {
                const PipelineClusterDefinition* c = st.entries[j].cluster;
                uint32_t f = Flag(&node, o, c);
                Requirement* e = nullptr;
                if (f == CLUSTER_VALID) e = Add(r, i, c, CLUSTER_OPTIONAL, (int32_t)i);
                else if (f == CLUSTER_PASS_THROUGH) e = Find(r.tables[i], c);
                else continue;
                if (f == CLUSTER_VALID && !e) {
                    Error_Raise((uint32_t)ERR_PIPE_SCRATCH);
                    return ERR_PIPE_SCRATCH;
                }
                if (e) e->outputMask |= 1u << o;
            }
        }
    }

    // Number the entries and join those that are one cluster flowing along
    // an edge into cluster instances.
    int32_t total = 0;
    for (uint32_t i = 0; i < n; i++)
        for (uint32_t j = 0; j < r.tables[i].count; j++) r.tables[i].entries[j].id = total++;
    int32_t* parent = (int32_t*)Pipeline_ScratchAllocLow(sizeof(int32_t) * (uint32_t)(total + 1));
    int32_t* slotOf = (int32_t*)Pipeline_ScratchAllocLow(sizeof(int32_t) * (uint32_t)(total + 1));
    uint32_t words = (uint32_t)(total + 32) / 32;
    uint32_t* used = (uint32_t*)Pipeline_ScratchAllocLow(sizeof(uint32_t) * words * n);
    uint8_t* touches = (uint8_t*)Pipeline_ScratchAllocLow(n);
    if (!parent || !slotOf || !used || !touches) {
        Error_Raise((uint32_t)ERR_PIPE_SCRATCH);
        return ERR_PIPE_SCRATCH;
    }
    memset(used, 0, sizeof(uint32_t) * words * n);
    for (int32_t i = 0; i < total; i++) parent[i] = i, slotOf[i] = -1;
    for (uint32_t i = 0; i < n; i++) {
        const PipelineNode& node = p->nodes[i];
        for (uint32_t j = 0; j < r.tables[i].count; j++) {
            const Requirement& e = r.tables[i].entries[j];
            for (uint32_t o = 0; o < node.numOutputs; o++) {
                if (!(e.outputMask & (1u << o)) || node.outputs[o] < 0) continue;
                if (Requirement* d = Find(r.tables[node.outputs[o]], e.cluster))
                    parent[RootOf(parent, e.id)] = RootOf(parent, d->id);
            }
        }
    }

    // Slots: each instance, in the order met, takes the lowest slot that no
    // node it touches uses yet; instances that never share a node may share
    // a slot.
    int32_t highest = -1;
    for (uint32_t i = 0; i < n; i++) {
        for (uint32_t j = 0; j < r.tables[i].count; j++) {
            int32_t root = RootOf(parent, r.tables[i].entries[j].id);
            if (slotOf[root] >= 0) continue;
            memset(touches, 0, n);
            for (uint32_t a = 0; a < n; a++)
                for (uint32_t b = 0; b < r.tables[a].count; b++)
                    if (RootOf(parent, r.tables[a].entries[b].id) == root) touches[a] = 1;
            int32_t slot = 0;
            for (;; slot++) {
                bool free = true;
                for (uint32_t a = 0; a < n && free; a++)
                    if (touches[a] && (used[a * words + slot / 32] & (1u << (slot % 32)))) free = false;
                if (free) break;
            }
            for (uint32_t a = 0; a < n; a++)
                if (touches[a]) used[a * words + slot / 32] |= 1u << (slot % 32);
            slotOf[root] = slot;
            if (slot > highest) highest = slot;
        }
    }
    p->packetNumClusterSlots = (uint32_t)(highest + 1);

    // Each node keeps, per entry of its cluster list, the slot and the mask.
    for (uint32_t i = 0; i < n; i++) {
        PipelineNode& node = p->nodes[i];
        Table& t = r.tables[i];
        Pipeline_RadixSort(t.entries, t.count, sizeof(Requirement), offsetof(Requirement, key), 0, 0xFFFFFFFFu);
        for (uint32_t k = 0; k < PIPELINE_MAX_CLUSTERS; k++) {
            node.slotIndex[k] = -1;
            node.outputMask[k] = 0;
        }
        for (uint32_t j = 0; j < t.count && t.entries[j].key != 0xFFFFFFFFu; j++) {
            node.slotIndex[t.entries[j].key] = slotOf[RootOf(parent, t.entries[j].id)];
            node.outputMask[t.entries[j].key] = t.entries[j].outputMask;
        }
    }
    return 0;
}

// Topological order from the entry node, depth first: a node is placed once
// all its inputs are.
void Place(Pipeline* p, uint32_t index, uint32_t* order, uint32_t& count)
{
    order[count++] = index;
    PipelineNode& node = p->nodes[index];
    for (uint32_t o = 0; o < node.numOutputs; o++) {
        if (node.outputs[o] < 0) continue;
        PipelineNode& s = p->nodes[node.outputs[o]];
        if (++s.placed == s.inputs) Place(p, (uint32_t)node.outputs[o], order, count);
    }
}

void Fail(uint32_t code) { Error_Raise(code); }

// A pipeline that may be edited: not null (0x80000016) and locked (52).
bool Editable(const Pipeline* p)
{
    if (!p) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return false;
    }
    if (!p->locked) {
        Fail((uint32_t)ERR_PIPE_NOT_LOCKED);
        return false;
    }
    return true;
}

}  // namespace

Pipeline* Pipeline_Create(void)
{
    Pipeline* p = g_pipes.pipelines ? (Pipeline*)FreeList_Alloc(g_pipes.pipelines) : nullptr;
    if (!p) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    memset(p, 0, sizeof(*p));
    return p;
}

void Pipeline_Destroy(Pipeline* p)
{
    if (!p) return;
    for (uint32_t i = 0; i < p->numNodes; i++) {
        PipelineNode& n = p->nodes[i];
        // A locked pipeline (being edited, or whose compile failed) has
        // already termed its nodes and released their definitions.
        if (!p->locked) TermNode(&n);
        Engine_Free(n.privateData);
    }
    Engine_Free(p->nodes);
    FreeList_Free(g_pipes.pipelines, p);
}

Pipeline* Pipeline_BeginEdit(Pipeline* p)
{
    if (!p) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return nullptr;
    }
    if (p->locked) return p;
    if (!EnsureCapacity(p)) return nullptr;
    p->locked = 1;
    for (uint32_t i = 0; i < p->numNodes; i++) TermNode(&p->nodes[i]);
    return p;
}

Pipeline* Pipeline_AddNodeChainV(Pipeline* p, int32_t* outFirstIndex, va_list args)
{
    if (!Editable(p)) return nullptr;
    PipelineNodeDefinition* defs[PIPELINE_MAX_NODES + 1];
    uint32_t count = 0;
    bool tooMany = false;
    for (PipelineNodeDefinition* d; (d = va_arg(args, PipelineNodeDefinition*)) != nullptr;) {
        if (count < PIPELINE_MAX_NODES + 1) defs[count] = d;
        else tooMany = true;
        count++;
    }
    if (count == 0) return nullptr;
    if (tooMany || p->numNodes + count > PIPELINE_MAX_NODES) {
        Fail((uint32_t)ERR_PIPE_NODES);
        return nullptr;
    }
    if (!EnsureCapacity(p)) return nullptr;
    uint32_t first = p->numNodes;
    for (uint32_t i = 0; i < count; i++) {
        PipelineNodeDefinition* def = defs[i];
        uint32_t code = 0;
        if (def->numOutputs > PIPELINE_MAX_OUTPUTS) code = ERR_PIPE_OUTPUTS;
        else if (def->numClusters > PIPELINE_MAX_CLUSTERS) code = ERR_PIPE_CLUSTERS;
        PipelineNode& n = p->nodes[p->numNodes];
        memset(&n, 0, sizeof(n));
        if (!code && def->privateDataSize) {
            n.privateData = Engine_Calloc(1, def->privateDataSize);
            if (!n.privateData) code = ERR_OUT_OF_MEMORY;
        }
        if (code) {
            Fail(code);
            while (p->numNodes > first) Engine_Free(p->nodes[--p->numNodes].privateData);
            return nullptr;
        }
        n.definition = def;
        n.numOutputs = def->numOutputs;
        n.privateDataSize = def->privateDataSize;
        for (uint32_t k = 0; k < PIPELINE_MAX_OUTPUTS; k++) n.outputs[k] = -1;
        for (uint32_t k = 0; k < PIPELINE_MAX_CLUSTERS; k++) n.slotIndex[k] = -1;
        if (i > 0 && p->nodes[p->numNodes - 1].numOutputs > 0) p->nodes[p->numNodes - 1].outputs[0] = (int32_t)p->numNodes;
        p->numNodes++;
    }
    if (outFirstIndex) *outFirstIndex = (int32_t)first;
    return p;
}

Pipeline* Pipeline_AddNodeChain(Pipeline* p, int32_t* outFirstIndex, ...)
{
    va_list args;
    va_start(args, outFirstIndex);
    Pipeline* result = Pipeline_AddNodeChainV(p, outFirstIndex, args);
    va_end(args);
    return result;
}

PipelineNode* Pipeline_FindNodeByName(Pipeline* p, const char* name, PipelineNode* afterNode, int32_t* outIndex)
{
    if (outIndex) *outIndex = -1;
    if (!p || !name) return nullptr;
    uint32_t start = afterNode ? (uint32_t)(afterNode - p->nodes) + 1 : 0;
    int (*compare)(const char*, const char*) = g_engineInstance->stringFunctions.compare;
    if (!compare) compare = strcmp;
    for (uint32_t i = start; i < p->numNodes; i++) {
        const char* nodeName = p->nodes[i].definition->name;
        if (nodeName && compare(nodeName, name) == 0) {
            if (outIndex) *outIndex = (int32_t)i;
            return &p->nodes[i];
        }
    }
    return nullptr;
}

Pipeline* Pipeline_Compile(Pipeline* p)
{
    if (!Editable(p)) return nullptr;
    const uint32_t n = p->numNodes;
    if (n == 0) {
        p->locked = 0;
        return p;
    }
    if (p->entryNode >= n) {
        Fail((uint32_t)ERR_PIPE_ENTRY);
        return nullptr;
    }
    for (uint32_t i = 0; i < n; i++) p->nodes[i].inputs = p->nodes[i].placed = 0;
    for (uint32_t i = 0; i < n; i++)
        for (uint32_t o = 0; o < p->nodes[i].numOutputs; o++) {
            int32_t s = p->nodes[i].outputs[o];
            if (s >= (int32_t)n) {
                Fail((uint32_t)ERR_PIPE_TOPOLOGY);
                return nullptr;
            }
            if (s >= 0) p->nodes[s].inputs++;
        }
    for (uint32_t i = 0; i < n; i++) {
        if (i == p->entryNode && p->nodes[i].inputs != 0) {
            Fail((uint32_t)ERR_PIPE_ENTRY);
            return nullptr;
        }
        if (i != p->entryNode && p->nodes[i].inputs == 0) {
            Fail((uint32_t)ERR_PIPE_NO_INPUT);
            return nullptr;
        }
    }

    uint32_t order[PIPELINE_MAX_NODES];
    uint32_t count = 0;
    Place(p, p->entryNode, order, count);
    if (count != n) {
        Fail((uint32_t)ERR_PIPE_TOPOLOGY);
        return nullptr;
    }
    // Reorder the records to the topological order and rewrite the outputs.
    int32_t newIndex[PIPELINE_MAX_NODES];
    for (uint32_t i = 0; i < n; i++) newIndex[order[i]] = (int32_t)i;
    PipelineNode* sorted = (PipelineNode*)Engine_Malloc(sizeof(PipelineNode) * PIPELINE_MAX_NODES);
    if (!sorted) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    for (uint32_t i = 0; i < n; i++) {
        sorted[i] = p->nodes[order[i]];
        for (uint32_t o = 0; o < sorted[i].numOutputs; o++)
            if (sorted[i].outputs[o] >= 0) sorted[i].outputs[o] = newIndex[sorted[i].outputs[o]];
    }
    Engine_Free(p->nodes);
    p->nodes = sorted;
    p->nodeCapacity = PIPELINE_MAX_NODES;
    p->entryNode = 0;

    // Resolution works in a scratch block sized for the worst case.
    uint32_t clusters = 1;
    for (uint32_t i = 0; i < n; i++) clusters += p->nodes[i].definition->numClusters;
    size_t entries = (size_t)clusters * n;
    size_t bytes = sizeof(Requirement) * entries + 16 * n + 12 * (entries + 1) + 4 * ((entries + 32) / 32) * n + n + 256;
    bytes = (bytes + 7) & ~(size_t)7;  // both ends of the scratch stay 8-byte aligned
    g_pipes.scratch.block = (uint8_t*)Engine_Malloc(bytes);
    if (!g_pipes.scratch.block) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    g_pipes.scratch.low = g_pipes.scratch.block;
    g_pipes.scratch.high = g_pipes.scratch.block + bytes;
    int32_t failed = Resolve(p);
    Engine_Free(g_pipes.scratch.block);
    g_pipes.scratch = Scratch{};
    if (failed) return nullptr;

    // Open, init and configure, last node first; undo everything on failure.
    uint32_t done = 0;  // nodes, counted from the last, that are initialised
    bool ok = true;
    for (uint32_t i = n; i-- > 0 && ok;) {
        PipelineNode& node = p->nodes[i];
        PipelineNodeDefinition* def = node.definition;
        if (def->refCount++ == 0 && def->open && !def->open(def)) {
            def->refCount--;  // never opened: nothing to close
            ok = false;
            break;
        }
        if (def->init && !def->init(&node)) {
            Unref(def);
            ok = false;
            break;
        }
        done++;
    }
    for (uint32_t i = n; ok && i-- > 0;)
        if (p->nodes[i].definition->configure && !p->nodes[i].definition->configure(&p->nodes[i], p)) ok = false;
    if (!ok) {
        for (uint32_t i = n - done; i < n; i++) TermNode(&p->nodes[i]);
        return nullptr;
    }
    PipelineNode* shrunk = (PipelineNode*)Engine_Realloc(p->nodes, sizeof(PipelineNode) * n);
    if (shrunk) {
        p->nodes = shrunk;
        p->nodeCapacity = n;
    }
    p->locked = 0;
    return p;
}

int32_t Pipeline_SendPacket(PipelineNode* node, const PipelineExecuteParams* params, uint32_t output)
{
    if (output >= node->numOutputs || node->outputs[output] < 0) return 1;
    PipelineNode* next = &params->pipeline->nodes[node->outputs[output]];
    return next->definition->body ? next->definition->body(next, params) : 1;
}

Pipeline* Pipeline_Execute(Pipeline* p, void* data, int32_t resetHeap)
{
    if (!p) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return nullptr;
    }
    if (p->locked) {
        Fail((uint32_t)ERR_PIPE_NOT_LOCKED);
        return nullptr;
    }
    if (p->numNodes == 0) return p;
    PipelineHeap* heap = g_pipes.heap;
    if (resetHeap && heap && heap->resetNeeded) PipelineHeap_Reset(heap);
    PipelinePacket* packet = nullptr;
    if (p->packetNumClusterSlots && heap) {
        packet = (PipelinePacket*)PipelineHeap_Alloc(heap, sizeof(PipelinePacket) +
                                                              sizeof(PipelineCluster) * p->packetNumClusterSlots);
        if (!packet) return nullptr;
        packet->numSlots = p->packetNumClusterSlots;
        packet->slots = (PipelineCluster*)(packet + 1);
        memset(packet->slots, 0, sizeof(PipelineCluster) * packet->numSlots);
        p->numPackets = 1;
    }
    p->packet = packet;
    PipelineExecuteParams params = {p, data, heap, packet};
    PipelineNode* first = &p->nodes[0];
    int32_t ok = first->definition->body ? first->definition->body(first, &params) : 1;
    if (packet) {
        for (uint32_t i = 0; i < packet->numSlots; i++)
            if (packet->slots[i].data && !(packet->slots[i].flags & PIPELINE_CLUSTER_EXTERNAL))
                PipelineHeap_Free(heap, packet->slots[i].data);
        PipelineHeap_Free(heap, packet);
    }
    p->packet = nullptr;
    p->numPackets = 0;
    return ok ? p : nullptr;
}

void* Pipeline_ScratchAllocLow(uint32_t size)
{
    size = (size + 7) & ~7u;  // keep pointer fields of scratch records aligned
    Scratch& s = g_pipes.scratch;
    if (!s.block || (size_t)(s.high - s.low) < size) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    void* p = s.low;
    s.low += size;
    return p;
}

void* Pipeline_ScratchAllocHigh(uint32_t size)
{
    size = (size + 7) & ~7u;
    Scratch& s = g_pipes.scratch;
    if (!s.block || (size_t)(s.high - s.low) < size) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    s.high -= size;
    return s.high;
}

namespace {

inline uint32_t KeyAt(uint8_t* base, uint32_t i, uint32_t size, uint32_t offset)
{
    uint32_t k;
    memcpy(&k, base + (size_t)i * size + offset, 4);
    return k;
}

void SwapRecords(uint8_t* base, uint32_t a, uint32_t b, uint32_t size)
{
    uint8_t* x = base + (size_t)a * size;
    uint8_t* y = base + (size_t)b * size;
    for (uint32_t i = 0; i < size; i++) {
        uint8_t t = x[i];
        x[i] = y[i];
        y[i] = t;
    }
}

void InsertionSort(uint8_t* base, uint32_t lo, uint32_t hi, uint32_t size, uint32_t offset)
{
    for (uint32_t i = lo + 1; i < hi; i++)
        for (uint32_t j = i; j > lo && KeyAt(base, j - 1, size, offset) > KeyAt(base, j, size, offset); j--)
            SwapRecords(base, j - 1, j, size);
}

}  // namespace

void Pipeline_RadixSort(void* records, uint32_t count, uint32_t recordSize, uint32_t keyOffset, uint32_t minKey,
                        uint32_t maxKey)
{
    if (!records || (uint64_t)keyOffset + 4 > recordSize || minKey >= maxKey || count < 2) return;
    uint8_t* base = (uint8_t*)records;
    int topBit = 31;
    while (topBit > 0 && !(maxKey & (1u << topBit))) topBit--;
    struct Range {
        uint32_t lo, hi;
        int bit;
    };
    Range stack[2 * 33];
    int depth = 0;
    stack[depth++] = {0, count, topBit};
    while (depth > 0) {
        Range r = stack[--depth];
        if (r.hi - r.lo <= 5 || r.bit < 0) {
            InsertionSort(base, r.lo, r.hi, recordSize, keyOffset);
            continue;
        }
        // Radix exchange: keys with the bit clear to the front.
        uint32_t i = r.lo, j = r.hi;
        while (i < j) {
            if (!(KeyAt(base, i, recordSize, keyOffset) & (1u << r.bit))) i++;
            else SwapRecords(base, i, --j, recordSize);
        }
        if (i - r.lo > 1) stack[depth++] = {r.lo, i, r.bit - 1};
        if (r.hi - i > 1) stack[depth++] = {i, r.hi, r.bit - 1};
    }
}

PipelineHeap* Pipeline_GetHeap(void) { return g_pipes.heap; }

PipelineRenderStateVector* Pipeline_GetDefaultRenderStateVector(void) { return &g_pipes.renderStates; }

PipelineRenderStateVector* Pipeline_LoadRenderStateVector(PipelineRenderStateVector* vector)
{
    if (!vector) {
        Error_Raise(ERR_NULL_ARGUMENT);
        return nullptr;
    }
    const EngineInstance* instance = Engine_Instance();
    if (!instance || instance->status != ENGINE_STATUS_STARTED) {
        if (vector == &g_pipes.renderStates) return vector;
        Error_Raise(ERR_BAD_BLOCK);
        return nullptr;
    }
    PipelineRenderStateVector v = kDefaultRenderStates;
    auto get = [](int32_t state, uint32_t* value) {
        uint32_t answer = 0;
        if (RenderState_Get(state, &answer)) *value = answer;
    };
    uint32_t zTest = 1, zWrite = 1, vertexAlpha = 0, fog = 0;
    get(6, &zTest);
    get(8, &zWrite);
    get(12, &vertexAlpha);
    v.flags = PIPELINE_RSV_PERSPECTIVE;
    if (zTest) v.flags |= PIPELINE_RSV_ZTEST;
    if (zWrite) v.flags |= PIPELINE_RSV_ZWRITE;
    if (vertexAlpha) v.flags |= PIPELINE_RSV_VERTEXALPHA;
    get(7, &v.shadeMode);
    get(10, &v.srcBlend);
    get(11, &v.destBlend);
    Raster* raster = nullptr;
    if (RenderState_Get(1, &raster)) v.textureRaster = raster;
    get(3, &v.addressU);
    get(4, &v.addressV);
    get(9, &v.filterMode);
    get(13, &v.borderColour);
    get(14, &fog);
    if (fog) get(16, &v.fogType);
    get(15, &v.fogColour);
    *vector = v;
    return vector;
}

void* Pipeline_ModuleOpen(void* instance, int32_t, int32_t)
{
    g_pipes.renderStates = kDefaultRenderStates;
    g_pipes.pipelines = FreeList_CreateEx(sizeof(Pipeline), 64, 8, 1, nullptr);
    if (!g_pipes.pipelines) return nullptr;
    g_pipes.heap = PipelineHeap_Create(4096);
    if (!g_pipes.heap) {
        FreeList_Destroy(g_pipes.pipelines);
        g_pipes.pipelines = nullptr;
        return nullptr;
    }
    return instance;
}

void* Pipeline_ModuleClose(void* instance, int32_t, int32_t)
{
    PipelineHeap_Destroy(g_pipes.heap);
    g_pipes.heap = nullptr;
    FreeList_Destroy(g_pipes.pipelines);
    g_pipes.pipelines = nullptr;
    return instance;
}
