#include "engine/nodeextra.h"

#include <algorithm>
#include <cstring>

#include "common/assert.h"
#include "common/list.h"
#include "common/memory.h"
#include "engine/node.h"
#include "engine/renderobj.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"

namespace {

struct NodeExtraModule {
    List* pool;
};

NodeExtraModule g_extra;

}  // namespace

void NodeExtra_FreeBindingBuffers(NodeExtra* e)
{
    Mem_Free(e->weights);
    Mem_Free(e->packedWeights);
    Mem_Free(e->packedIndices);
    Mem_Free(e->inverseRest);
    e->weights = nullptr;
    e->packedWeights = nullptr;
    e->packedIndices = nullptr;
    e->inverseRest = nullptr;
}

namespace {

struct Heir {
    NodeExtra* dying;
    NodeExtra* heir;
};

// The first clone of the dying binding becomes the source of the others.
int PassOn(void* item, void* arg)
{
    NodeExtra* e = (NodeExtra*)item;
    Heir* h = (Heir*)arg;
    if (e->source != h->dying) return 0;
    if (!h->heir) {
        h->heir = e;
        e->source = nullptr;
    } else {
        e->source = h->heir;
    }
    return 0;
}

int FreeLive(void* item, void*)
{
    NodeExtra* e = (NodeExtra*)item;
    NodeExtra_FreeBindingBuffers(e);
    Mem_Free(e->boneFlags);
    Mem_Free(e->boneNodes);
    return 0;
}

}  // namespace

int NodeExtra_Init(void)
{
    if (g_extra.pool) return 1;
    g_extra.pool = List_Create(sizeof(NodeExtra), 16);
    if (!g_extra.pool) return 0;
    if (!List_SetBlockSize(g_extra.pool, NODEEXTRA_POOL_SIZE)) {
        List_Destroy(g_extra.pool);
        g_extra.pool = nullptr;
        return 0;
    }
    return 1;
}

void NodeExtra_Shutdown(void)
{
    // Bindings still alive lose their buffers with the pool.
    if (g_extra.pool) List_ForEach(g_extra.pool, FreeLive, nullptr);
    List_Destroy(g_extra.pool);
    g_extra.pool = nullptr;
}

List* NodeExtra_GetPool(void) { return g_extra.pool; }

NodeExtra* NodeExtra_Create(Node* node, uint32_t boneCount, uint32_t maxWeights)
{
    HELM_ASSERT(g_extra.pool && node);
    NodeExtra* e = (NodeExtra*)List_Alloc(g_extra.pool);
    if (!e) return nullptr;
    e->boneCount = boneCount;
    e->maxWeights = maxWeights == 0 || maxWeights > NODEEXTRA_MAX_WEIGHTS ? NODEEXTRA_MAX_WEIGHTS : maxWeights;
    const uint32_t slots = boneCount ? boneCount : 1;
    e->boneFlags = (uint32_t*)Mem_Calloc(slots * sizeof(uint32_t), 8);
    e->boneNodes = (Node**)Mem_Calloc(slots * sizeof(Node*), 8);
    if (!e->boneFlags || !e->boneNodes) {
        Mem_Free(e->boneFlags);
        Mem_Free(e->boneNodes);
        List_Free(g_extra.pool, e);
        return nullptr;
    }
    e->node = node;
    Node_SetExtra(node, e);
    return e;
}

NodeExtra* NodeExtra_Clone(NodeExtra* source, Node* node, int share)
{
    NodeExtra* e = NodeExtra_Create(node, source->boneCount, source->maxWeights);
    if (!e) return nullptr;
    if (share) {
        e->source = source;
        NodeExtra* root = NodeExtra_GetRoot(source);
        e->skin = root->skin;
        e->hierarchy = root->hierarchy;
    }
    return e;
}

NodeExtra* NodeExtra_GetRoot(NodeExtra* extra)
{
    NodeExtra* e = extra;
    for (uint32_t steps = 0; e->source && steps < NODEEXTRA_POOL_SIZE; steps++) e = e->source;
    return e;
}

NodeExtra* NodeExtra_Destroy(Node* node)
{
    NodeExtra* e = node ? Node_GetExtra(node) : nullptr;
    if (!e) return nullptr;
    Heir h = {e, nullptr};
    List_ForEach(g_extra.pool, PassOn, &h);
    if (!h.heir && !e->source) NodeExtra_ReleaseHierarchy(e);
    NodeExtra_FreeBindingBuffers(e);
    Mem_Free(e->boneFlags);
    Mem_Free(e->boneNodes);
    Node_SetExtra(node, nullptr);
    List_Free(g_extra.pool, e);
    return h.heir;
}

int NodeExtra_AllocWeightTable(NodeExtra* e, uint32_t vertexCount)
{
    Mem_Free(e->weights);
    e->weights = nullptr;
    e->vertexCount = 0;
    const uint64_t entries = (uint64_t)vertexCount * e->boneCount;
    if (entries == 0 || entries > (1u << 28)) return vertexCount == 0 || e->boneCount == 0;
    e->weights = (NodeWeight*)Mem_Calloc((size_t)entries * sizeof(NodeWeight), 16);
    if (!e->weights) return 0;
    for (uint32_t v = 0; v < vertexCount; v++)
        for (uint32_t b = 0; b < e->boneCount; b++) e->weights[(size_t)v * e->boneCount + b].bone = b;
    e->vertexCount = vertexCount;
    return 1;
}

int NodeExtra_AllocWeights(NodeExtra* e, RenderObj* visual)
{
    const Geometry* g = visual && visual->atomic ? Atomic_GetGeometry(visual->atomic) : nullptr;
    if (!g) return 0;
    return NodeExtra_AllocWeightTable(e, (uint32_t)g->numVertices);
}

float NodeExtra_GetWeight(const NodeExtra* e, uint32_t vertex, uint32_t bone)
{
    HELM_ASSERT(vertex < e->vertexCount && bone < e->boneCount);
    return e->weights[(size_t)vertex * e->boneCount + bone].weight;
}

void NodeExtra_SetWeight(NodeExtra* e, uint32_t vertex, uint32_t bone, float weight)
{
    HELM_ASSERT(vertex < e->vertexCount && bone < e->boneCount);
    e->weights[(size_t)vertex * e->boneCount + bone].weight = weight;
}

int NodeExtra_AddBone(NodeExtra* e, uint32_t bone, Node* node, const Mat4* rest, int noPush, int noPop)
{
    if (e->bonesAdded >= e->boneCount) return 0;
    const uint32_t slot = e->bonesAdded++;
    e->boneNodes[slot] = node;
    if (!e->inverseRest) {
        e->inverseRest = (Mat4*)Mem_Alloc(e->boneCount * sizeof(Mat4), 16);
        if (!e->inverseRest) return 0;
        for (uint32_t i = 0; i < e->boneCount; i++) Mat4_Identity(&e->inverseRest[i]);
    }
    Mat4& m = e->inverseRest[slot];
    Mat4_Identity(&m);
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 3; c++) m.m[r][c] = rest->m[r][c];
    for (uint32_t v = 0; v < e->vertexCount && e->weights; v++) {
        for (uint32_t b = 0; b < e->boneCount; b++) {
            NodeWeight& w = e->weights[(size_t)v * e->boneCount + b];
            if (w.bone == bone && !w.remapped) {
                w.bone = slot;
                w.remapped = 1;
            }
        }
    }
    e->boneFlags[slot] = (noPush ? 0u : NODEEXTRA_PUSH) | (noPop ? 0u : NODEEXTRA_POP);
    return 1;
}

void NodeExtra_SortWeights(NodeExtra* e)
{
    if (!e->weights) return;
    for (uint32_t v = 0; v < e->vertexCount; v++) {
        NodeWeight* row = &e->weights[(size_t)v * e->boneCount];
        std::stable_sort(row, row + e->boneCount, [](const NodeWeight& a, const NodeWeight& b) {
            return a.weight > b.weight;
        });
    }
}

int NodeExtra_PackWeights(NodeExtra* e)
{
    Mem_Free(e->packedWeights);
    Mem_Free(e->packedIndices);
    const uint32_t vertices = e->vertexCount ? e->vertexCount : 1;
    e->packedWeights = (float*)Mem_Calloc(vertices * 4 * sizeof(float), 16);
    e->packedIndices = (uint32_t*)Mem_Calloc(vertices * sizeof(uint32_t), 8);
    if (!e->packedWeights || !e->packedIndices) return 0;
    const uint32_t kept = e->boneCount < NODEEXTRA_MAX_WEIGHTS ? e->boneCount : NODEEXTRA_MAX_WEIGHTS;
    for (uint32_t v = 0; v < e->vertexCount && e->weights; v++) {
        const NodeWeight* row = &e->weights[(size_t)v * e->boneCount];
        float sum = 0.0f;
        for (uint32_t k = 0; k < kept; k++) sum += row[k].weight;
        // A vertex no bone reaches follows the first one fully.
        const float scale = sum > 0.0f ? 1.0f / sum : 0.0f;
        uint32_t indices = 0;
        for (uint32_t k = 0; k < kept; k++) {
            e->packedWeights[v * 4 + k] = sum > 0.0f ? row[k].weight * scale : (k == 0 ? 1.0f : 0.0f);
            indices |= (row[k].bone & 0xFF) << (8 * k);
        }
        e->packedIndices[v] = indices;
    }
    return 1;
}

