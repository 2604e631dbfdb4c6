// The animation toolkit: a registry of keyframe interpolation schemes and the
// keyframe interpolator that every bone hierarchy owns.
//
// A scheme is a record of a type id, key-frame sizes and the callbacks that
// work on its key frames (to a matrix, blend, interpolate, add, multiply by a
// reciprocal, stream). Up to 16 schemes can be registered; the registry lives
// for the whole program (engine close leaves it as it is). Playback of
// animations is not part of the system: the interpolator only carries one
// key frame per node for its owner, and its reserved header words keep the
// values they got at creation.
//
// Errors of this toolkit are raised under plugin id 0x1B7.
#pragma once
#include <cstddef>
#include <cstdint>

struct Matrix;
struct Stream;

enum : uint32_t {
    PLUGIN_ANIM_TOOLKIT = 0x1B7,
    ANIM_MAX_SCHEMES = 16,
    ANIM_ERR_DUPLICATE_SCHEME = 0,  // the type id is registered already
    ANIM_ERR_REGISTRY_FULL = 1,     // 16 schemes are registered
    ANIM_ERR_BAD_DATA = 2,          // a key-frame stream names a key outside its animation
};

// An animation as the scheme's stream callbacks see it: a count of key
// frames and the array holding them (numFrames x the scheme's key-frame
// size). The caller owns both; the stream read fills an array of the given
// count.
struct Animation {
    int32_t numFrames;
    void* frames;
};

typedef void (*AnimApplyFn)(Matrix* out, const void* frame);
// Blend and interpolate may change b: a standard key frame's quaternion is
// negated in place when it lies in the other hemisphere from a's.
typedef void (*AnimBlendFn)(void* out, const void* a, void* b, float weight);
typedef void (*AnimInterpolateFn)(void* out, const void* a, void* b, float time);
typedef void (*AnimAddFn)(void* out, const void* a, const void* b);
typedef void (*AnimMulRecipFn)(void* frame, const void* start);
typedef Animation* (*AnimStreamReadFn)(Stream* stream, Animation* animation);
typedef const Animation* (*AnimStreamWriteFn)(const Animation* animation, Stream* stream);
typedef int32_t (*AnimStreamGetSizeFn)(const Animation* animation);

// One interpolation scheme, copied whole into the registry.
struct AnimScheme {
    int32_t typeId;         // the registry's key
    int32_t keyFrameSize;   // bytes of one key frame in memory
    int32_t keyFrameSize2;  // stored, never read back
    AnimApplyFn apply;
    AnimBlendFn blend;
    AnimInterpolateFn interpolate;
    AnimAddFn add;
    AnimMulRecipFn mulRecip;
    AnimStreamReadFn streamRead;
    AnimStreamWriteFn streamWrite;
    AnimStreamGetSizeFn streamGetSize;
    int32_t extraDataSize;  // stored, never read back
};

// Copies the scheme into the next free slot; 1. Refused (0, table unchanged)
// with {0x1B7, 1} when 16 are registered, {0x1B7, 0} when the type id is
// present already.
int32_t AnimScheme_Register(const AnimScheme* scheme);
// The registered scheme of a type id, or null.
const AnimScheme* AnimScheme_Get(int32_t typeId);
int32_t AnimScheme_Count(void);

// The keyframe interpolator: this header, then numNodes key frames of
// currentKeyFrameSize bytes each (not initialised). Fields marked reserved
// belong to animation playback, which the system does not have; they keep
// their creation values.
struct AnimInterpolator {
    void* reserved1[4];       // 0
    int32_t reserved5;        // 0
    float reserved6;          // -1.0
    int32_t reserved7[2];     // 0
    int32_t maxKeyFrameSize;  // the size hierarchies stream and copy
    int32_t currentKeyFrameSize;
    int32_t reserved11;  // -1
    int32_t numNodes;
    void* reserved13[2];       // null
    AnimInterpolator* parent;  // the interpolator itself
    void* reserved16[4];       // null
};

// One allocation of the header and numNodes x keyFrameSize bytes (both >= 0)
// through the engine's memory functions; null with 0x80000013 when memory
// runs out. Interpolator_Destroy frees it.
AnimInterpolator* Interpolator_Create(int32_t numNodes, int32_t keyFrameSize);
void Interpolator_Destroy(AnimInterpolator* interpolator);
// Node i's key frame (0 <= i < numNodes).
inline void* Interpolator_KeyFrame(AnimInterpolator* interpolator, int32_t i)
{
    return (char*)(interpolator + 1) + (size_t)i * (size_t)interpolator->currentKeyFrameSize;
}
