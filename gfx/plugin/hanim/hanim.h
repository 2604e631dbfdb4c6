// Hierarchical animation: bone hierarchies and the frame extension that
// carries them.
//
// A BoneHierarchy has one node per bone: an id, its index, flags its owner
// gives meaning to, and an optional frame; an array of one matrix per node
// (16-byte aligned) that the owner fills before a skinned atomic is drawn
// (gfx/plugin/skin/d3d8skin.h reads it); and a keyframe interpolator with one
// key frame per node. Every frame gets an extension {node id, hierarchy}; a
// frame that holds a hierarchy is its parent frame and destroys it with
// itself. The extension streams with the frame (sub-chunk 0x11E: version
// 256, the node id, the node count and, for a hierarchy, its flags, its
// key-frame size and every node's id, index and flags; matrices and frames
// are never streamed).
//
// Records come from the plugin's free list, which lives from engine open to
// engine close. The engine content layer creates one hierarchy per skinned
// model, hands it to the skinned atomic (Skin_AtomicSetHierarchy) and
// destroys it with HAnim_HierarchyDestroy.
#pragma once
#include <cstdint>

struct AnimInterpolator;
struct Frame;
struct Matrix;

enum : uint32_t {
    PLUGIN_HANIM = 0x11E,
    HANIM_STREAM_VERSION = 256,
    HANIM_MAX_KEYFRAME_SIZE = 4096,  // the largest key-frame size a stream may carry
    HANIM_ERR_BAD_DATA = 1,          // a frame sub-chunk whose sizes or fields contradict each other
};

// Hierarchy flags; no other bit is interpreted (all are stored and streamed).
enum : uint32_t {
    HANIM_SHARED_ARRAYS = 0x1,   // the arrays belong to another hierarchy: never freed, streamed or copied
    HANIM_NO_MATRICES = 0x2,     // no matrix array: the skinned renderer takes each node's frame
    HANIM_LOCAL_SPACE = 0x4000,  // the matrices are in the skinned atomic's own space already
};

struct HAnimNodeInfo {
    int32_t nodeID;
    int32_t nodeIndex;  // the node's position, 0 .. numNodes - 1
    uint32_t flags;     // the owner's; carried, copied and streamed unchanged
    Frame* frame;       // not owned; set by the owner (only read under HANIM_NO_MATRICES)
};

struct BoneHierarchy {
    uint32_t flags;  // HANIM_*
    int32_t numNodes;
    Matrix* matrixArray;             // numNodes matrices, 16-byte aligned; null under HANIM_NO_MATRICES
    void* matrixBlock;               // the allocation matrixArray lies in (owned unless shared)
    HAnimNodeInfo* nodeInfo;         // numNodes records (owned unless shared)
    Frame* parentFrame;              // the frame whose extension holds it; null when made by HAnim_HierarchyCreate
    BoneHierarchy* parentHierarchy;  // itself
    AnimInterpolator* interpolator;  // owned; one key frame of the given size per node
    // Given at creation from a counter that never repeats while the program
    // runs, so that a cache keyed on a hierarchy is not fooled by a new
    // hierarchy at a destroyed one's address.
    uint32_t serial;
};

// The extension every frame carries.
struct HAnimFrameExtension {
    int32_t nodeID;            // -1 = none
    BoneHierarchy* hierarchy;  // null = none
};

// Registers the engine extension (open: hierarchy free list and the standard
// key-frame scheme), the frame extension and its stream. 1, or 0 when a
// registration is refused. Between Engine_Init and Engine_Open, after
// Skin_PluginAttach.
int32_t HAnim_PluginAttach(void);

// A hierarchy of numNodes (>= 0) nodes: node i gets index i, id nodeIDs[i]
// and flags nodeFlags[i] (each array may be null: that field is left 0 for
// the caller to fill), frame none. The matrix array (unless flags has
// HANIM_NO_MATRICES) is not initialised. Under HANIM_SHARED_ARRAYS no arrays
// are made: the caller points them at another hierarchy's, which keeps
// owning them. Null with 0x80000013 when memory
// runs out (nothing is left allocated). The caller destroys it with
// HAnim_HierarchyDestroy.
BoneHierarchy* HAnim_HierarchyCreate(int32_t numNodes, const uint32_t* nodeFlags, const int32_t* nodeIDs,
                                     uint32_t flags, int32_t keyFrameSize);
// Frees the arrays (unless shared) and the interpolator, gives the record
// back and, when a frame holds it, clears that frame's hierarchy pointer.
void HAnim_HierarchyDestroy(BoneHierarchy* hierarchy);

// The extension of a frame (never null for a frame of an engine with the
// plugin attached).
HAnimFrameExtension* HAnim_FrameGetExtension(Frame* frame);

// The frame extension's callbacks (registered by HAnim_PluginAttach), public
// so that tests and tools can drive them.
void* HAnim_FrameConstruct(void* frame, int32_t offset, int32_t size);
void* HAnim_FrameDestruct(void* frame, int32_t offset, int32_t size);
// Copies the node id; a hierarchy that is not shared is duplicated (ids,
// indices and flags; frames none) and parented to dst. A failed duplicate
// leaves dst without one and returns null.
void* HAnim_FrameCopy(void* dst, const void* src, int32_t offset, int32_t size);
