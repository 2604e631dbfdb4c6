// Skinning: the bone weights of a geometry's vertices and the pipeline that
// draws skinned atomics.
//
// A Skin binds each vertex of a geometry to up to four bones with weights
// (slot 0 first, sorted heaviest first once the skin is set on a geometry)
// and holds one inverse bone matrix per bone, taking the geometry's space
// into the bone's. Geometries carry the skin in an extension (plugin 0x116)
// that owns it and streams it with the geometry; atomics carry the
// BoneHierarchy (gfx/plugin/hanim/hanim.h) that poses them. A skinned atomic
// is drawn by the skinned-atomic pipeline (gfx/plugin/skin/d3d8skin.h).
//
// The engine content layer builds a skinned model with Skin_Create (or finds
// the skin with Skin_GeometryGetSkin), HAnim_HierarchyCreate,
// Skin_AtomicSetHierarchy, Skin_GeometrySetSkin and Skin_AtomicSetType(1), in
// that order.
//
// Stream form (sub-chunk 0x116 of a geometry's extension chunk), all
// little-endian: u32 header (bone count B in bits 0-7, used-bone count U in
// 8-15, maximum weights in 16-23); U used-bone bytes; per vertex one u32 of
// four bone-index bytes (slot 0 lowest); per vertex four f32 weights; B
// matrices of 16 f32 (right, flags word, up, pad, at, pad, pos, pad); i32
// bone limit, split mesh count M, split run count R; and, when M != 0, the
// B + 2(M + R) bytes of bone-split data. A header whose maximum-weights byte
// is 0 is the older layout (no used-bone bytes, four skipped bytes before
// each matrix, no split data). A native geometry's chunk holds a struct
// chunk of {i32 platform 8, i32 B}.
#pragma once
#include <cstdint>

#include "gfx/core/matrix.h"

struct Atomic;
struct BoneHierarchy;
struct Geometry;

enum : uint32_t {
    PLUGIN_SKIN = 0x116,
    SKIN_MAX_WEIGHTS = 4,
    SKIN_MAX_USED_BONES = 256,
    SKIN_MAX_STREAM_BONES = 255,  // bone and used-bone counts a stream can carry
    SKIN_NATIVE_PLATFORM = 8,
    SKIN_ERR_BAD_DATA = 1,  // a skin chunk whose counts or bone indices contradict it or its geometry
};

struct Skin {
    uint32_t numBones;  // inverse matrices
    uint32_t numUsedBones;
    uint8_t* usedBones;           // the bones that carry weight (ascending once set on a geometry)
    Matrix* inverseMatrices;      // numBones, 16-byte aligned
    uint32_t maxWeights;          // weights per vertex in use, 1..4 (0 for a native skin)
    uint32_t* vertexBoneIndices;  // per vertex four bone bytes, slot 0 in the low byte
    float* vertexWeights;         // per vertex four weights, slot 0 first
    uint32_t numVertices;         // entries of the two per-vertex arrays (0 for a native skin)
    // Bone-split data: carried, streamed and freed; nothing builds or uses it.
    int32_t boneLimit;
    int32_t numMeshes;
    int32_t numRLE;
    uint8_t* splitBlock;     // numBones + 2 (numMeshes + numRLE) bytes, or null
    uint8_t* meshBoneRemap;  // splitBlock + numBones
    uint8_t* meshRLE;        // after the mesh entries
    void* arrayBlock;        // the one allocation holding usedBones, inverseMatrices, indices and weights
};

// Skinned-atomic types of Skin_AtomicSetType; all draw with the one skinned pipeline.
enum : uint32_t {
    SKIN_TYPE_GENERIC = 1,
    SKIN_TYPE_MATFX = 2,
    SKIN_TYPE_TOON = 3,
};

// Registers the engine extension (open: skinned pipeline, skin free list and
// bone palette), the atomic hierarchy extension with its legacy stream
// reader, always and rights callbacks, and the geometry skin extension with
// its stream. 1, or 0 when a registration is refused. Between Engine_Init
// and Engine_Open, after Random_PluginAttach.
int32_t Skin_PluginAttach(void);

// A skin for numVertices vertices and numBones bones (both >= 0; pointers
// may be null only when their count is 0): weights holds 4 per vertex,
// boneIndices one packed word per vertex, inverseMatrices numBones matrices
// (their flags words are kept: give MATRIX_IDENTITY_FLAGS only to a true
// identity). Maximum weights and the used bones are found from the weights;
// weights are not sorted here. Null with 0x80000013 when memory runs out.
// The caller owns it until Skin_GeometrySetSkin gives it to a geometry.
Skin* Skin_Create(int32_t numVertices, int32_t numBones, const float* weights, const uint32_t* boneIndices,
                  const Matrix* inverseMatrices);
// Frees a skin no geometry holds (a geometry destroys its own skin).
void Skin_Destroy(Skin* skin);

Skin* Skin_GeometryGetSkin(const Geometry* geometry);
// Stores skin (null clears) and sorts its weights; the skin already set does
// nothing. The previous skin is neither destroyed nor released: whoever
// holds it keeps it. A skin with weights must have been made for the
// geometry's vertex count. Returns geometry.
Geometry* Skin_GeometrySetSkin(Geometry* geometry, Skin* skin);
// Sorts every vertex's weights heaviest first (indices moved along), unless
// its slot-0 weight is 1.0 or more, then the used-bone list ascending.
void Skin_SortWeights(Geometry* geometry);

// The hierarchy that poses the atomic (not owned; null clears).
Atomic* Skin_AtomicSetHierarchy(Atomic* atomic, BoneHierarchy* hierarchy);
BoneHierarchy* Skin_AtomicGetHierarchy(const Atomic* atomic);
// Gives the atomic the skinned-atomic pipeline (types 2 and 3 become 1 when
// their plugins are not attached; every type draws the same way).
Atomic* Skin_AtomicSetType(Atomic* atomic, uint32_t type);

// The engine's open count of the plugin (for tests of the engine lifecycle).
int32_t Skin_GetOpenCount(void);
