#include "engine/sceneplay.h"

#include <cmath>

#include "engine/node.h"
#include "engine/scene.h"
#include "engine/scenelight.h"

namespace {

constexpr float ZERO_SCALE = 0.00001f;
constexpr float INTENSITY_SCALE = 5.0f;

Vec3 Rotate(Vec3 v, const Vec3& angles)
{
    const float h = angles.x, p = angles.y, b = angles.z;  // heading, pitch, bank
    // About z by bank.
    v = {v.x * std::cos(b) - v.y * std::sin(b), v.x * std::sin(b) + v.y * std::cos(b), v.z};
    // About x by pitch.
    v = {v.x, v.y * std::cos(p) - v.z * std::sin(p), v.y * std::sin(p) + v.z * std::cos(p)};
    // About y by heading.
    v = {v.x * std::cos(h) + v.z * std::sin(h), v.y, -v.x * std::sin(h) + v.z * std::cos(h)};
    return v;
}

float Span(float from, float to, float t)
{
    const float span = to - from;
    if (span == 0.0f) return 0.0f;
    const float u = (t - from) / span;
    return u < 0.0f ? 0.0f : u > 1.0f ? 1.0f : u;
}

Vec3 Lerp(const Vec3& a, const Vec3& b, float u)
{
    return {a.x + (b.x - a.x) * u, a.y + (b.y - a.y) * u, a.z + (b.z - a.z) * u};
}

// Poses node from keys at time t.
void PoseAt(Node* node, const SceneKey* keys, uint32_t count, float t, const Vec3* pivotRotation, const Vec3* pivot)
{
    uint32_t i;
    const float u = SceneChannel_SampleSorted(keys, count, t, &i);
    const SceneKey& a = keys[i];
    const SceneKey& b = keys[i + 1 < count ? i + 1 : i];
    const Vec3 position = Lerp(a.position, b.position, u);
    const Vec3 rotation = Lerp(a.rotation, b.rotation, u);
    const Vec3 scale = Lerp(a.scale, b.scale, u);
    const int zero = std::fabs(scale.x) <= ZERO_SCALE && std::fabs(scale.y) <= ZERO_SCALE &&
                     std::fabs(scale.z) <= ZERO_SCALE;
    Node_SetFlags(node, NODE_ZERO_SCALE, zero);
    Mat4 m;
    Scene_ComposeItemMatrix(&m, &position, &rotation, &scale, pivotRotation, pivot);
    Node_SetMatrix(node, &m);
}

float Envelope(const float* values, const float* times, uint32_t count, float t)
{
    uint32_t i;
    const float u = SceneChannel_Sample(times, count, t, &i);
    const float a = values[i];
    const float b = values[i + 1 < count ? i + 1 : i];
    return a + (b - a) * u;
}

}  // namespace

void Scene_ComposeItemMatrix(Mat4* out, const Vec3* position, const Vec3* rotation, const Vec3* scale,
                             const Vec3* pivotRotation, const Vec3* pivot)
{
    const Vec3 zero = {0, 0, 0};
    const Vec3& pr = pivotRotation ? *pivotRotation : zero;
    const Vec3& pv = pivot ? *pivot : zero;
    auto r = [&](Vec3 v) { return Rotate(Rotate(v, *rotation), pr); };
    const Vec3 right = r({scale->x, 0, 0});
    const Vec3 up = r({0, scale->y, 0});
    const Vec3 at = r({0, 0, scale->z});
    Vec3 pos = r({pv.x * scale->x, pv.y * scale->y, pv.z * scale->z});
    pos = {pos.x + position->x, pos.y + position->y, pos.z + position->z};
    const Vec3* rows[4] = {&right, &up, &at, &pos};
    for (int i = 0; i < 4; i++) {
        out->m[i][0] = rows[i]->x;
        out->m[i][1] = rows[i]->y;
        out->m[i][2] = rows[i]->z;
        out->m[i][3] = i == 3 ? 1.0f : 0.0f;
    }
}

void Scene_PoseItem(Node* node, const SceneKey* keys, uint32_t index, const Vec3* pivotRotation, const Vec3* pivot)
{
    const SceneKey& k = keys[index];
    Mat4 m;
    Scene_ComposeItemMatrix(&m, &k.position, &k.rotation, &k.scale, pivotRotation, pivot);
    Node_SetMatrix(node, &m);
}

float SceneChannel_Sample(const float* times, uint32_t count, float t, uint32_t* index)
{
    for (uint32_t k = 1; k < count; k++) {
        if (times[k] > t) {
            *index = k - 1;
            return Span(times[k - 1], times[k], t);
        }
    }
    *index = count ? count - 1 : 0;
    return 0.0f;
}

float SceneChannel_SampleSorted(const SceneKey* keys, uint32_t count, float t, uint32_t* index)
{
    uint32_t lo = 0, hi = count ? count - 1 : 0;
    for (;;) {
        const uint32_t mid = (lo + hi) / 2;
        if (mid == lo) break;
        if (t >= keys[mid].time)
            lo = mid;
        else
            hi = mid;
    }
    *index = lo;
    if (lo + 1 >= count) return 0.0f;
    return Span(keys[lo].time, keys[lo + 1].time, t);
}

int Scene_SetTime(Scene* s, float t)
{
    s->previousTime = s->time;
    const int reached = t >= s->duration;
    if (reached) {
        if (s->flags & SCENE_LOOP)
            t = s->duration > 0.0f ? std::fmod(t, s->duration) : 0.0f;
        else
            t = s->duration;
    }
    s->time = t;
    if (!s->nodes) return reached;
    for (uint32_t b = 0; b < s->boneCount; b++) {
        const SceneBone& bone = s->bones[b];
        Node* node = s->nodes[s->itemCount + b];
        if (bone.keyCount > 1 && node) PoseAt(node, bone.keys, bone.keyCount, t, &bone.pivotRotation, &bone.pivot);
    }
    for (uint32_t i = 0; i < s->itemCount; i++) {
        const SceneItem& item = s->items[i];
        Node* node = item.nodeIndex < s->itemCount ? s->nodes[item.nodeIndex] : nullptr;
        if (!node) continue;
        if (item.keyCount > 1) PoseAt(node, item.keys, item.keyCount, t, &item.pivotRotation, &item.pivot);
        if (item.intensityCount > 1 && s->lights) {
            const int32_t light = (int32_t)i - s->firstLight;
            if (light >= 0 && light < s->lightCount && s->lights[light])
                SceneLight_SetIntensity(s->lights[light],
                                        Envelope(item.intensityValues, item.intensityTimes, item.intensityCount, t) *
                                            INTENSITY_SCALE);
        }
        if (item.dissolveCount > 1)
            Node_SetAlpha(node, 1.0f - Envelope(item.dissolveValues, item.dissolveTimes, item.dissolveCount, t));
    }
    return reached;
}

int Scene_Advance(Scene* scene, float dt) { return Scene_SetTime(scene, scene->time + dt); }
