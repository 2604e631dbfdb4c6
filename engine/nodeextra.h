// Skin bindings: what ties a skinned render object to the bone nodes that
// pose it. A binding collects, per vertex of the object's geometry, a weight
// for every bone; bones are added with their nodes and rest matrices; binding
// the skin keeps each vertex's four largest weights, normalised to sum 1,
// makes the graphics engine's skin and bone hierarchy, and from then on every
// draw copies the bone nodes' world matrices into the hierarchy.
//
// Bindings come from a pool of 289. A clone shares its source's skin and
// hierarchy once the source is bound (instances of one skinned mesh). A
// binding lives from NodeExtra_Create or NodeExtra_Clone to
// NodeExtra_Destroy.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct List;
struct Node;
struct RenderObj;

enum : uint32_t {
    NODEEXTRA_POOL_SIZE = 289,
    NODEEXTRA_MAX_WEIGHTS = 4,
    NODEEXTRA_PUSH = 1,  // slot flags of the bone hierarchy
    NODEEXTRA_POP = 2,
};

// One vertex's weight for one bone.
struct NodeWeight {
    uint32_t remapped;  // 1 once bone holds the bone's slot rather than its index
    float weight;
    uint32_t bone;
};

struct NodeExtra {
    void* skin;            // the graphics engine's skin, once bound
    void* hierarchy;       // the bone hierarchy, once bound (shared by clones)
    Mat4* inverseRest;     // one per bone, 16-byte aligned; freed at binding
    uint32_t boneCount;
    uint32_t maxWeights;   // 1..4
    NodeWeight* weights;   // vertexCount x boneCount, vertex by vertex; freed at binding
    uint32_t vertexCount;
    uint32_t bonesAdded;
    float* packedWeights;     // 4 per vertex, during binding
    uint32_t* packedIndices;  // 4 bytes per vertex, first in the low byte, during binding
    uint32_t* boneFlags;      // per slot: NODEEXTRA_PUSH, NODEEXTRA_POP
    Node** boneNodes;         // per slot: the node whose world matrix drives the bone
    NodeExtra* source;        // the binding whose skin and hierarchy a clone shares
    Node* node;               // the node it is attached to
};

// The pool of bindings (fixed at 289).
int NodeExtra_Init(void);
void NodeExtra_Shutdown(void);
List* NodeExtra_GetPool(void);

// A binding of boneCount bones (maxWeights 0 means 4, more is cut to 4)
// attached to node; null when the pool is exhausted or memory runs out.
NodeExtra* NodeExtra_Create(Node* node, uint32_t boneCount, uint32_t maxWeights);
// A binding with source's bone count and maximum weights attached to node;
// with share, it takes source's skin and hierarchy once source is bound.
NodeExtra* NodeExtra_Clone(NodeExtra* source, Node* node, int share);
// Frees the node's binding and its buffers. A binding whose skin others
// share hands skin and hierarchy to the first of them, which becomes the
// source of the rest; otherwise the hierarchy goes with it unless it was
// shared from a source. The node's extra becomes null. Returns the binding
// that took over, or null.
NodeExtra* NodeExtra_Destroy(Node* node);
// One weight array per vertex of the visual's geometry (all zero, bone
// indices in order). 0 when the visual has no geometry or memory runs out.
int NodeExtra_AllocWeights(NodeExtra* extra, RenderObj* visual);
// Allocates the table for a vertex count directly (the weight cache's reader).
int NodeExtra_AllocWeightTable(NodeExtra* extra, uint32_t vertexCount);
float NodeExtra_GetWeight(const NodeExtra* extra, uint32_t vertex, uint32_t bone);
void NodeExtra_SetWeight(NodeExtra* extra, uint32_t vertex, uint32_t bone, float weight);
// Gives the next slot to bone index `bone` driven by node: its inverse rest
// matrix from rest's rows, the weights naming the bone remapped to the slot,
// and the hierarchy flags (push unless noPush, pop unless noPop).
int NodeExtra_AddBone(NodeExtra* extra, uint32_t bone, Node* node, const Mat4* rest, int noPush, int noPop);
// Sorts each vertex's entries by weight, largest first.
void NodeExtra_SortWeights(NodeExtra* extra);
// Per vertex the first four weights scaled to sum 1 and their bone slots,
// into the packed arrays (made here). 0 when memory runs out.
int NodeExtra_PackWeights(NodeExtra* extra);
// Makes the skin and the bone hierarchy for the visual (nothing when this
// binding or the source it shares is bound already), then frees the
// weight table, packed arrays and inverse matrices and hands skin and
// hierarchy to the clones sharing this binding. 1 when bound.
int NodeExtra_BindSkin(NodeExtra* extra, RenderObj* visual);
// Frees the weight table, the packed arrays and the inverse rest matrices.
void NodeExtra_FreeBindingBuffers(NodeExtra* extra);
// Destroys the binding's bone hierarchy (NodeExtra_Destroy calls it for a
// binding that shares no source's and leaves no heir); skin and hierarchy
// become null.
void NodeExtra_ReleaseHierarchy(NodeExtra* extra);
// Copies every bone node's world matrix into the hierarchy (each draw).
void NodeExtra_UpdateBones(NodeExtra* extra);
// The binding this one shares (itself when it shares none).
NodeExtra* NodeExtra_GetRoot(NodeExtra* extra);
