#include "common/maths.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

const float kPi = 3.1415927f;
const float kHalfPi = 1.5707964f;
const float kThreeHalfPi = 4.712389f;
const float kTwoPi = 6.2831855f;

inline uint32_t Bits(float f)
{
    uint32_t u;
    memcpy(&u, &f, 4);
    return u;
}

inline float FromBits(uint32_t u)
{
    float f;
    memcpy(&f, &u, 4);
    return f;
}

// Indexed by bits 12-23 of the float: the lowest exponent bit selects [2, 4)
// (entries 0-2047) or [1, 2) (entries 2048-4095), the next 11 bits are the
// leading mantissa bits. Each entry holds the root's bits minus the exponent
// part that the look-up adds back from the argument's exponent.
struct SqrtTables {
    uint32_t sqrt[4096];
    uint32_t invSqrt[4096];
    SqrtTables()
    {
        for (uint32_t i = 0; i < 2048; i++) {
            double one = FromBits(0x3F800000u + i * 0x1000u);  // [1, 2)
            double two = FromBits(0x40000000u + i * 0x1000u);  // [2, 4)
            sqrt[2048 + i] = Bits((float)std::sqrt(one)) - 0x1FC00000u;
            sqrt[i] = Bits((float)std::sqrt(two)) - 0x20000000u;
            invSqrt[2048 + i] = Bits((float)(1.0 / std::sqrt(one))) - 0x20000000u;
            invSqrt[i] = Bits((float)(1.0 / std::sqrt(two))) - 0x1FC00000u;
        }
    }
};

const SqrtTables& Tables()
{
    static const SqrtTables tables;
    return tables;
}

inline float Clamp(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }

inline float PositiveMod(float x, float full)
{
    float r = std::fmod(x, full);
    return r < 0.0f ? r + full : r;
}

// 3 x 3 determinant of the upper-left block.
float Det3(const Mat4* a)
{
    const float(*m)[4] = a->m;
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// Rodrigues' rotation turned so that a positive angle about +y takes +z
// towards -x: the game's headings grow from +z towards +x, and a positive
// turn here decreases the heading.
Vec3 Rotate(const Vec3& v, const Vec3& k, float angle)
{
    float c = std::cos(angle), s = -std::sin(angle);
    Vec3 kxv = {k.y * v.z - k.z * v.y, k.z * v.x - k.x * v.z, k.x * v.y - k.y * v.x};
    float kv = (k.x * v.x + k.y * v.y + k.z * v.z) * (1.0f - c);
    return {v.x * c + kxv.x * s + k.x * kv, v.y * c + kxv.y * s + k.y * kv, v.z * c + kxv.z * s + k.z * kv};
}

}  // namespace

float Math_SqrtTable(float x)
{
    uint32_t b = Bits(x);
    if (b == 0) return 0.0f;
    uint32_t v = b + 2048;
    return FromBits(Tables().sqrt[(v >> 12) & 0xFFF] + ((v >> 1) & 0x3FC00000u));
}

float Math_InvSqrtTable(float x)
{
    uint32_t b = Bits(x);
    if (b == 0) return 0.0f;
    uint32_t v = b + 2048;
    return FromBits(Tables().invSqrt[(v >> 12) & 0xFFF] + ((~v >> 1) & 0x3FC00000u));
}

float Math_RandomUnit(void) { return (float)(rand() % 20000) * 0.0001f - 1.0f; }

float Math_RandomRange(float a, float b) { return a + (float)(rand() % 20000) * 0.00005f * (b - a); }

Vec3* Vec3_Random(Vec3* out)
{
    out->x = Math_RandomUnit();
    out->y = Math_RandomUnit();
    out->z = Math_RandomUnit();
    return out;
}

float Vec3_LengthSq(const Vec3* v) { return v->x * v->x + v->y * v->y + v->z * v->z; }
float Vec3_Length(const Vec3* v) { return Math_SqrtTable(Vec3_LengthSq(v)); }

float Vec3_DistanceSq(const Vec3* a, const Vec3* b)
{
    float dx = a->x - b->x, dy = a->y - b->y, dz = a->z - b->z;
    return dx * dx + dy * dy + dz * dz;
}

float Vec3_Distance(const Vec3* a, const Vec3* b) { return std::sqrt(Vec3_DistanceSq(a, b)); }

Vec3* Vec3_Add(Vec3* out, const Vec3* a, const Vec3* b)
{
    *out = {a->x + b->x, a->y + b->y, a->z + b->z};
    return out;
}

Vec3* Vec3_Sub(Vec3* out, const Vec3* a, const Vec3* b)
{
    *out = {a->x - b->x, a->y - b->y, a->z - b->z};
    return out;
}

Vec3* Vec3_Scale(Vec3* out, const Vec3* a, float s)
{
    *out = {a->x * s, a->y * s, a->z * s};
    return out;
}

Vec3* Vec3_Cross(Vec3* out, const Vec3* a, const Vec3* b)
{
    *out = {a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x};
    return out;
}

float Vec3_Dot(const Vec3* a, const Vec3* b) { return a->x * b->x + a->y * b->y + a->z * b->z; }

Vec3* Vec3_Lerp(Vec3* out, const Vec3* a, const Vec3* b, float t)
{
    *out = {a->x + (b->x - a->x) * t, a->y + (b->y - a->y) * t, a->z + (b->z - a->z) * t};
    return out;
}

float Vec3_NormaliseTo(Vec3* out, const Vec3* in)
{
    float sq = Vec3_LengthSq(in);
    float length = Math_SqrtTable(sq);
    float inv = Math_InvSqrtTable(sq);
    *out = {in->x * inv, in->y * inv, in->z * inv};
    return length;
}

Vec3* Vec3_Normalise(Vec3* v)
{
    Vec3_NormaliseTo(v, v);
    return v;
}

Vec2* Vec2_Add(Vec2* out, const Vec2* a, const Vec2* b)
{
    *out = {a->x + b->x, a->y + b->y};
    return out;
}

Vec2* Vec2_Lerp(Vec2* out, const Vec2* a, const Vec2* b, float t)
{
    *out = {a->x + (b->x - a->x) * t, a->y + (b->y - a->y) * t};
    return out;
}

float Vec2_Length(const Vec2* v) { return Math_SqrtTable(v->x * v->x + v->y * v->y); }

Vec2* Vec2_Normalise(Vec2* v)
{
    float inv = Math_InvSqrtTable(v->x * v->x + v->y * v->y);
    *v = {v->x * inv, v->y * inv};
    return v;
}

float Math_Lerp(float a, float b, float t) { return a + (b - a) * t; }

float Math_InvLerp(float v, float a, float b) { return a == b ? 0.0f : (v - a) / (b - a); }

float Math_Pow(float x, float y) { return std::pow(x, y); }

Vec3* Triangle_Normal(Vec3* out, const Vec3* p0, const Vec3* p1, const Vec3* p2)
{
    Vec3 e0, e1;
    Vec3_Sub(&e0, p1, p0);
    Vec3_Sub(&e1, p2, p1);
    Vec3_Cross(out, &e0, &e1);
    return Vec3_Normalise(out);
}

Mat4* Mat4_Identity(Mat4* out)
{
    *out = Mat4{};
    out->m[0][0] = out->m[1][1] = out->m[2][2] = out->m[3][3] = 1.0f;
    return out;
}

Mat4* Mat4_Multiply(Mat4* out, const Mat4* a, const Mat4* b)
{
    Mat4 r;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            r.m[i][j] = a->m[i][0] * b->m[0][j] + a->m[i][1] * b->m[1][j] + a->m[i][2] * b->m[2][j] +
                        a->m[i][3] * b->m[3][j];
    *out = r;
    return out;
}

Vec3* Mat4_TransformPoint(Vec3* out, const Vec3* p, const Mat4* m)
{
    float r[4];
    for (int j = 0; j < 4; j++) r[j] = p->x * m->m[0][j] + p->y * m->m[1][j] + p->z * m->m[2][j] + m->m[3][j];
    if (r[3] != 0.0f) {
        float inv = 1.0f / r[3];
        r[0] *= inv;
        r[1] *= inv;
        r[2] *= inv;
    }
    *out = {r[0], r[1], r[2]};
    return out;
}

namespace {
// Cofactor (i, j) of a 4 x 4 matrix.
float Cofactor(const Mat4* a, int row, int col)
{
    float s[3][3];
    for (int i = 0, si = 0; i < 4; i++) {
        if (i == row) continue;
        for (int j = 0, sj = 0; j < 4; j++) {
            if (j == col) continue;
            s[si][sj++] = a->m[i][j];
        }
        si++;
    }
    float d = s[0][0] * (s[1][1] * s[2][2] - s[1][2] * s[2][1]) - s[0][1] * (s[1][0] * s[2][2] - s[1][2] * s[2][0]) +
              s[0][2] * (s[1][0] * s[2][1] - s[1][1] * s[2][0]);
    return ((row + col) & 1) ? -d : d;
}
}  // namespace

float Mat4_Determinant(const Mat4* m)
{
    float d = 0.0f;
    for (int j = 0; j < 4; j++) d += m->m[0][j] * Cofactor(m, 0, j);
    return d;
}

Mat4* Mat4_Invert(Mat4* out, const Mat4* m)
{
    Mat4 r;
    float det = 0.0f;
    for (int j = 0; j < 4; j++) det += m->m[0][j] * Cofactor(m, 0, j);
    float inv = det == 0.0f ? 1.0f : 1.0f / det;  // == also catches -0
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) r.m[j][i] = Cofactor(m, i, j) * inv;
    *out = r;
    return out;
}

Mat4* Mat4_InvertAffine(Mat4* out, const Mat4* a)
{
    const float(*m)[4] = a->m;
    float det = Det3(a);
    float inv = det == 0.0f ? 1.0f : 1.0f / det;
    Mat4 r = {};
    r.m[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) * inv;
    r.m[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) * inv;
    r.m[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) * inv;
    r.m[1][0] = (m[1][2] * m[2][0] - m[1][0] * m[2][2]) * inv;
    r.m[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) * inv;
    r.m[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) * inv;
    r.m[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) * inv;
    r.m[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) * inv;
    r.m[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) * inv;
    for (int j = 0; j < 3; j++)
        r.m[3][j] = -(m[3][0] * r.m[0][j] + m[3][1] * r.m[1][j] + m[3][2] * r.m[2][j]);
    r.m[3][3] = 1.0f;
    *out = r;
    return out;
}

Vec3* Vec3_RotateAxis(Vec3* out, const Vec3* v, const Vec3* axis, float angle)
{
    Vec3 k = *axis;
    Vec3_Normalise(&k);
    *out = Rotate(*v, k, angle);
    return out;
}

Mat4* Mat4_FromAxisAngle(Mat4* out, const Vec3* axis, float angle, const Vec3* translation)
{
    Vec3 k = *axis;
    Vec3_Normalise(&k);
    const Vec3 basis[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    Mat4 r = {};
    for (int i = 0; i < 3; i++) {
        Vec3 row = Rotate(basis[i], k, angle);
        r.m[i][0] = row.x;
        r.m[i][1] = row.y;
        r.m[i][2] = row.z;
    }
    if (translation) {
        r.m[3][0] = translation->x;
        r.m[3][1] = translation->y;
        r.m[3][2] = translation->z;
    }
    r.m[3][3] = 1.0f;
    *out = r;
    return out;
}

void Mat4_GetAtUp(const Mat4* m, Vec3* at, Vec3* up)
{
    if (at) {
        *at = {m->m[2][0], m->m[2][1], m->m[2][2]};
        Vec3_Normalise(at);
    }
    if (up) {
        *up = {m->m[1][0], m->m[1][1], m->m[1][2]};
        Vec3_Normalise(up);
    }
}

Mat4* Mat4_FromAtUp(Mat4* out, const Vec3* position, const Vec3* at, const Vec3* up)
{
    Vec3 a = *at, u = *up, r;
    Vec3_Normalise(&a);
    Vec3_Cross(&r, &u, &a);
    Vec3_Normalise(&r);
    Vec3_Cross(&u, &a, &r);
    Mat4 m = {};
    const Vec3* rows[4] = {&r, &u, &a, position};
    for (int i = 0; i < 4; i++) {
        m.m[i][0] = rows[i]->x;
        m.m[i][1] = rows[i]->y;
        m.m[i][2] = rows[i]->z;
    }
    m.m[3][3] = 1.0f;
    *out = m;
    return out;
}

Quat* Quat_FromMatrix(Quat* out, const Mat4* a)
{
    const float(*m)[4] = a->m;
    float trace = m[0][0] + m[1][1] + m[2][2];
    float q[4];  // x, y, z, w
    if (trace > 0.0f) {
        float s = std::sqrt(trace + 1.0f);
        q[3] = s * 0.5f;
        s = 0.5f / s;
        q[0] = (m[1][2] - m[2][1]) * s;
        q[1] = (m[2][0] - m[0][2]) * s;
        q[2] = (m[0][1] - m[1][0]) * s;
    } else {
        int i = 0;
        if (m[1][1] > m[0][0]) i = 1;
        if (m[2][2] > m[i][i]) i = 2;
        int j = (i + 1) % 3, k = (i + 2) % 3;
        float s = std::sqrt(m[i][i] - (m[j][j] + m[k][k]) + 1.0f);
        q[i] = s * 0.5f;
        if (s != 0.0f) s = 0.5f / s;
        q[3] = (m[j][k] - m[k][j]) * s;
        q[j] = (m[i][j] + m[j][i]) * s;
        q[k] = (m[i][k] + m[k][i]) * s;
    }
    *out = {q[0], q[1], q[2], q[3]};
    return out;
}

float Vec3_DistanceToLine(const Vec3* p, const Vec3* a, const Vec3* b)
{
    Vec3 u, v, w;
    Vec3_Sub(&u, b, a);
    Vec3_Sub(&v, p, a);
    float lu = Vec3_Length(&u);
    float lv = Vec3_Length(&v);
    if (lu == 0.0f) return lv;  // a == b: the segment is a point
    float proj = Vec3_Dot(&v, &u) / lu;
    if (proj <= 0.0f) return lv;
    if (proj >= lu) return Vec3_Length(Vec3_Sub(&w, b, p));
    // Table lengths can push the cosine just past 1.
    float k = Clamp(Vec3_Dot(&v, &u) / (lu * lv), -1.0f, 1.0f);
    return std::tan(std::acos(k)) * proj;
}

float Plane_RayParam(const Vec3* planePoint, const Vec3* point, const Vec3* normal)
{
    float n2 = Vec3_LengthSq(normal);
    if (n2 == 0.0f) return -1.0f;
    Vec3 d;
    Vec3_Sub(&d, point, planePoint);
    return -Vec3_Dot(&d, normal) / n2;
}

float Vec3_Heading(const Vec3* v)
{
    float x = v->x, z = v->z;
    if (x == 0.0f) return z < 0.0f ? kPi : 0.0f;
    if (z == 0.0f) return x > 0.0f ? kHalfPi : kThreeHalfPi;
    if (x < 0.0f) return std::atan(-z / x) + kThreeHalfPi;
    return kHalfPi - std::atan(z / x);
}

float Vec3_Pitch(const Vec3* v)
{
    if (v->y >= 1.0f) return 0.0f;
    if (v->y <= -1.0f) return kPi;
    return std::acos(v->y);
}

float Vec3_RotatedHeading(float angle, const Vec3* v)
{
    if (v->x == 0.0f && v->y == 0.0f && v->z == 0.0f) return 0.0f;
    const Vec3 up = {0.0f, 1.0f, 0.0f};
    Vec3 r = Rotate(*v, up, angle);
    return Vec3_Heading(&r);
}

float Angle_Diff(float a, float b, int32_t isSigned, int32_t radians)
{
    float full = radians ? kTwoPi : 360.0f;
    a = PositiveMod(a, full);
    b = PositiveMod(b, full);
    float forward = PositiveMod(b - a, full);
    float backward = PositiveMod(a - b, full);
    if (!isSigned) return forward < backward ? forward : backward;
    return forward < backward ? forward : -backward;
}

float Angle_ClampToArc(float angle, float a, float b)
{
    if (a == b) return a;
    float d = Angle_Diff(a, b, 1, 1);
    if (d == 0.0f) return angle;
    if (d < 0.0f) d += kTwoPi;
    float half = d * 0.5f;
    float e = Angle_Diff(a + half, angle, 1, 1);
    if (e < -half) return a;
    if (e > half) return b;
    return angle;
}

float Math_MoveTowards(float value, float target, float step)
{
    float s = std::fabs(step);
    if (!(s > 0.0f)) return value;
    if (s > std::fabs(target - value)) return target;
    return target >= value ? value + s : value - s;
}

int32_t Math_TruncToInt(float value)
{
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0f) return INT32_MAX;
    if (value <= -2147483648.0f) return INT32_MIN;
    return (int32_t)value;
}

int32_t Math_AddClamped(int32_t a, int32_t b)
{
    const int64_t sum = (int64_t)a + (int64_t)b;
    return sum > INT32_MAX ? INT32_MAX : (sum < INT32_MIN ? INT32_MIN : (int32_t)sum);
}

Vec3* Vec3_MoveTowards(Vec3* out, const Vec3* from, const Vec3* to, float t)
{
    Vec3 d;
    Vec3_Sub(&d, to, from);
    float length = Vec3_Length(&d);
    float s = length < t ? length : t;
    *out = {from->x + d.x * s, from->y + d.y * s, from->z + d.z * s};
    return out;
}
