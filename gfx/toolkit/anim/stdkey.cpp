#include "gfx/toolkit/anim/stdkey.h"

#include <cmath>
#include <cstring>

#include "common/assert.h"
#include "gfx/core/error.h"
#include "gfx/core/matrix.h"
#include "gfx/core/stream.h"

namespace {

constexpr float kLinearAbove = 0.999f;  // slerp turns to lerp from this dot product on
constexpr uint32_t kWords = STDKEYFRAME_STREAM_SIZE / 4;

const AnimScheme kScheme = {
    (int32_t)STDKEYFRAME_TYPE_ID,
    (int32_t)sizeof(StdKeyFrame),
    (int32_t)sizeof(StdKeyFrame),
    StdKeyFrame_Apply,
    StdKeyFrame_Blend,
    StdKeyFrame_Interpolate,
    StdKeyFrame_Add,
    StdKeyFrame_MulRecip,
    StdKeyFrame_StreamRead,
    StdKeyFrame_StreamWrite,
    StdKeyFrame_StreamGetSize,
    0,
};

// a x b with a on the left.
Quat Hamilton(const Quat& a, const Quat& b)
{
    return Quat{a.w * b.x + b.w * a.x + (a.y * b.z - a.z * b.y), a.w * b.y + b.w * a.y + (a.z * b.x - a.x * b.z),
                a.w * b.z + b.w * a.z + (a.x * b.y - a.y * b.x), a.w * b.w - (a.x * b.x + a.y * b.y + a.z * b.z)};
}

void RaiseBadData(void)
{
    const ErrorRecord e = {(int32_t)PLUGIN_ANIM_TOOLKIT, (int32_t)ANIM_ERR_BAD_DATA};
    Error_Set(&e);
}

}  // namespace

const AnimScheme* StdKeyFrame_Scheme(void) { return &kScheme; }

void StdKeyFrame_Apply(Matrix* out, const void* frame)
{
    const StdKeyFrame* k = (const StdKeyFrame*)frame;
    const float x = k->q.x, y = k->q.y, z = k->q.z, w = k->q.w;
    out->right = Vec3{1 - 2 * (y * y + z * z), 2 * (x * y + w * z), 2 * (x * z - w * y)};
    out->up = Vec3{2 * (x * y - w * z), 1 - 2 * (x * x + z * z), 2 * (y * z + w * x)};
    out->at = Vec3{2 * (x * z + w * y), 2 * (y * z - w * x), 1 - 2 * (x * x + y * y)};
    out->pos = k->t;
    out->flags = MATRIX_ORTHONORMAL;
    out->pad1 = out->pad2 = out->pad3 = 0;
}

void StdKeyFrame_Blend(void* out, const void* a, void* b, float weight)
{
    StdKeyFrame* o = (StdKeyFrame*)out;
    const StdKeyFrame* ka = (const StdKeyFrame*)a;
    StdKeyFrame* kb = (StdKeyFrame*)b;
    const float t = weight;
    o->t =
        Vec3{ka->t.x + (kb->t.x - ka->t.x) * t, ka->t.y + (kb->t.y - ka->t.y) * t, ka->t.z + (kb->t.z - ka->t.z) * t};
    float d = ka->q.x * kb->q.x + ka->q.y * kb->q.y + ka->q.z * kb->q.z + ka->q.w * kb->q.w;
    if (d < 0) {
        d = -d;
        kb->q = Quat{-kb->q.x, -kb->q.y, -kb->q.z, -kb->q.w};
    }
    float wa = 1 - t, wb = t;
    if (d < kLinearAbove) {
        const float theta = acosf(d), s = 1.0f / sinf(theta);
        wa = sinf((1 - t) * theta) * s;
        wb = sinf(t * theta) * s;
    }
    o->q = Quat{wa * ka->q.x + wb * kb->q.x, wa * ka->q.y + wb * kb->q.y, wa * ka->q.z + wb * kb->q.z,
                wa * ka->q.w + wb * kb->q.w};
}

void StdKeyFrame_Interpolate(void* out, const void* a, void* b, float time)
{
    const float ta = ((const StdKeyFrame*)a)->time, tb = ((StdKeyFrame*)b)->time;
    // Two keys at one time would divide by zero: a's pose is the answer.
    const float t = tb != ta ? (time - ta) / (tb - ta) : 0.0f;
    StdKeyFrame_Blend(out, a, b, t);
}

void StdKeyFrame_Add(void* out, const void* a, const void* b)
{
    StdKeyFrame* o = (StdKeyFrame*)out;
    const StdKeyFrame* ka = (const StdKeyFrame*)a;
    const StdKeyFrame* kb = (const StdKeyFrame*)b;
    const Quat q = Hamilton(ka->q, kb->q);
    o->t = Vec3{ka->t.x + kb->t.x, ka->t.y + kb->t.y, ka->t.z + kb->t.z};
    o->q = q;
}

void StdKeyFrame_MulRecip(void* frame, const void* start)
{
    StdKeyFrame* k = (StdKeyFrame*)frame;
    const StdKeyFrame* s = (const StdKeyFrame*)start;
    const float n = s->q.x * s->q.x + s->q.y * s->q.y + s->q.z * s->q.z + s->q.w * s->q.w;
    // A zero quaternion has no reciprocal: the rotation is left as it is.
    if (n > 0) k->q = Hamilton(Quat{-s->q.x / n, -s->q.y / n, -s->q.z / n, s->q.w / n}, k->q);
    k->t = Vec3{k->t.x - s->t.x, k->t.y - s->t.y, k->t.z - s->t.z};
}

Animation* StdKeyFrame_StreamRead(Stream* stream, Animation* animation)
{
    HELM_ASSERT(stream && animation && (animation->frames || animation->numFrames == 0));
    StdKeyFrame* frames = (StdKeyFrame*)animation->frames;
    const int64_t limit = (int64_t)animation->numFrames * STDKEYFRAME_STREAM_SIZE;
    for (int32_t i = 0; i < animation->numFrames; i++) {
        uint32_t w[kWords];
        if (!Stream_ReadInt32(stream, w, sizeof(w))) return nullptr;
        const int32_t offset = (int32_t)w[8];
        // The offset names a key of this animation (an offset inside a key
        // rounds down to it); anything else would point outside the array.
        if (offset < 0 || offset >= limit) {
            RaiseBadData();
            return nullptr;
        }
        StdKeyFrame& k = frames[i];
        memcpy(&k.time, &w[0], 4);
        memcpy(&k.q, &w[1], 16);
        memcpy(&k.t, &w[5], 12);
        k.prevFrame = &frames[offset / (int32_t)STDKEYFRAME_STREAM_SIZE];
    }
    return animation;
}

const Animation* StdKeyFrame_StreamWrite(const Animation* animation, Stream* stream)
{
    HELM_ASSERT(stream && animation && (animation->frames || animation->numFrames == 0));
    const StdKeyFrame* frames = (const StdKeyFrame*)animation->frames;
    const int32_t n = animation->numFrames;
    for (int32_t i = 0; i < n; i++) {
        const StdKeyFrame* p = frames[i].prevFrame;
        if (!p || p < frames || p >= frames + n) {
            RaiseBadData();
            return nullptr;
        }
    }
    for (int32_t i = 0; i < n; i++) {
        const StdKeyFrame& k = frames[i];
        const float reals[8] = {k.time, k.q.x, k.q.y, k.q.z, k.q.w, k.t.x, k.t.y, k.t.z};
        const int32_t offset = (int32_t)(k.prevFrame - frames) * (int32_t)STDKEYFRAME_STREAM_SIZE;
        if (!Stream_WriteReal(stream, reals, sizeof(reals)) || !Stream_WriteInt32(stream, &offset, 4)) return nullptr;
    }
    return animation;
}

int32_t StdKeyFrame_StreamGetSize(const Animation* animation)
{
    return animation->numFrames * (int32_t)STDKEYFRAME_STREAM_SIZE;
}
