// Scene playback: setting a scene's time poses every animated item and bone
// from its keys, drives light intensities and dissolves from their
// envelopes. Keys are interpolated linearly per channel (rotations as plain
// angles, without wrapping).
#pragma once

#include <cstdint>

#include "common/maths.h"

struct Node;
struct Scene;
struct SceneKey;

// Sets the scene's time: at or past the duration a looping scene wraps
// (fmod; a duration of 0 or less plays time 0) and another stays at its end.
// Items and bones with more than one key are posed, envelopes of more than
// one key sampled (light intensity = value x 5, alpha = 1 - dissolve). 1 when
// t reached or passed the end.
int Scene_SetTime(Scene* scene, float t);
// Scene_SetTime(scene, time + dt).
int Scene_Advance(Scene* scene, float dt);

// The node's local matrix = the composed matrix of keys[index].
void Scene_PoseItem(Node* node, const SceneKey* keys, uint32_t index, const Vec3* pivotRotation, const Vec3* pivot);
// Row-vector matrix mapping a point v of the item to ((v + pivot) x scale) x R
// + position, R rotating about z by bank, x by pitch, y by heading of
// `rotation`, then the same with pivotRotation's angles.
void Scene_ComposeItemMatrix(Mat4* out, const Vec3* position, const Vec3* rotation, const Vec3* scale,
                             const Vec3* pivotRotation, const Vec3* pivot);
// Envelope span: the key before the first key later than t (the last key,
// factor 0, when none is later); the factor within the span.
float SceneChannel_Sample(const float* times, uint32_t count, float t, uint32_t* index);
// Motion key span by binary search over the key times; the factor, clamped
// to 0..1 (0 for keys at equal times).
float SceneChannel_SampleSorted(const SceneKey* keys, uint32_t count, float t, uint32_t* index);
