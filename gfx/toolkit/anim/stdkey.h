// Standard key frames: a rotation quaternion and a translation per key, with
// the eight callbacks of the standard interpolation scheme (type id 1).
//
// In memory a key frame starts with a pointer to the key before it in the
// same animation; in a stream every key frame is 36 bytes, that pointer
// written as the byte offset of the key inside the animation's array
// (index x 36), so streams are the same on every platform.
#pragma once
#include <cstdint>

#include "common/maths.h"
#include "gfx/toolkit/anim/anim.h"

enum : uint32_t {
    STDKEYFRAME_TYPE_ID = 1,
    STDKEYFRAME_STREAM_SIZE = 36,  // bytes of one key frame in a stream
};

struct StdKeyFrame {
    StdKeyFrame* prevFrame;  // the key before this one in its animation (an element of the same array)
    float time;
    Quat q;  // rotation, vector part first; taken as unit length, never normalised
    Vec3 t;  // translation
};

// The scheme record {1, sizeof(StdKeyFrame) twice, the callbacks below, 0}.
const AnimScheme* StdKeyFrame_Scheme(void);

// Rotation matrix of q with position t; matrix flags 3 (unit, perpendicular
// rows) and the fourth words of the other rows 0.
void StdKeyFrame_Apply(Matrix* out, const void* frame);
// Translation lerped; rotation slerped (linear weights once the quaternions'
// dot product reaches 0.999), taking b's quaternion into a's hemisphere by
// negating it in place. out's time and previous key are not written.
void StdKeyFrame_Blend(void* out, const void* a, void* b, float weight);
// Blend with weight (time - a.time) / (b.time - a.time); 0 when the two
// times are equal.
void StdKeyFrame_Interpolate(void* out, const void* a, void* b, float time);
// out.q = a.q x b.q (Hamilton product), out.t = a.t + b.t.
void StdKeyFrame_Add(void* out, const void* a, const void* b);
// frame.q = start.q^-1 x frame.q, frame.t -= start.t. A zero start
// quaternion leaves the rotation as it is.
void StdKeyFrame_MulRecip(void* frame, const void* start);

// The animation's key frames as 36-byte records. Read fills the animation's
// array (numFrames keys) and returns it, or null at a short read or with
// {0x1B7, 2} for a previous-key offset outside 0 .. numFrames x 36 - 1 (an
// offset inside a key rounds down to it). Write returns the animation, or
// null when a write fails or, with {0x1B7, 2} and nothing written, when a
// key's previous pointer is not an element of the array.
Animation* StdKeyFrame_StreamRead(Stream* stream, Animation* animation);
const Animation* StdKeyFrame_StreamWrite(const Animation* animation, Stream* stream);
int32_t StdKeyFrame_StreamGetSize(const Animation* animation);
