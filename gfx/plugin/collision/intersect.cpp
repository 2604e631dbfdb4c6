#include "gfx/plugin/collision/intersect.h"

#include <cmath>

#include "common/assert.h"
#include "gfx/world/geometry.h"

namespace {

float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Sub(const Vec3& a, const Vec3& b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 Cross(const Vec3& a, const Vec3& b)
{
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// All three coordinates beyond +r, or all beyond -r, on one axis: the
// sphere's slab on that axis misses the triangle. Signs come from the bit
// patterns (-0 is negative), so this costs no comparisons of magnitudes.
bool OutsideOnAxis(float a, float b, float d, float r)
{
    if (!std::signbit(a) && !std::signbit(b) && !std::signbit(d))
        return !std::signbit(a - r) && !std::signbit(b - r) && !std::signbit(d - r);
    if (std::signbit(a) && std::signbit(b) && std::signbit(d))
        return std::signbit(r + a) && std::signbit(r + b) && std::signbit(r + d);
    return false;
}

}  // namespace

int32_t Intersect_TriangleTest(const Sphere* sphere, const Vec3* p0, const Vec3* p1, const Vec3* p2, Vec3* normal,
                               float* distance)
{
    HELM_ASSERT(sphere && p0 && p1 && p2 && normal && distance);
    const Vec3& c = sphere->center;
    const float r = sphere->radius;
    const Vec3 a = Sub(*p0, c), b = Sub(*p1, c), d = Sub(*p2, c);
    if (OutsideOnAxis(a.x, b.x, d.x, r) || OutsideOnAxis(a.y, b.y, d.y, r) || OutsideOnAxis(a.z, b.z, d.z, r)) return 0;

    Vec3 n = Cross(Sub(*p1, *p0), Sub(*p2, *p0));
    const float lengthSq = Dot(n, n);
    if (!(lengthSq > 0)) return 0;
    const float inv = Math_InvSqrtTable(lengthSq);
    n = Vec3{n.x * inv, n.y * inv, n.z * inv};
    *normal = n;

    const float h = Dot(n, a);
    if (h < -r || h > r) return 0;
    *distance = -h;

    const float rr = r * r, aa = Dot(a, a), bb = Dot(b, b), dd = Dot(d, d);
    if (aa <= rr || bb <= rr || dd <= rr) return 1;

    // The nearest corner: when both other corners lie beyond it as seen from
    // the centre, the triangle's nearest point is that corner, which step 4
    // found outside the sphere.
    const Vec3 *v = &a, *u = &b, *w = &d;
    float vv = aa;
    if (bb <= aa && bb <= dd) v = &b, u = &a, w = &d, vv = bb;
    else if (dd < aa) v = &d, u = &a, w = &b, vv = dd;
    if (Dot(*v, *u) > vv && Dot(*v, *w) > vv) return 0;

    // Each edge's line: when the sphere misses it and the third corner lies
    // on its far side, the centre is outside that edge.
    const Vec3* corners[3] = {&a, &b, &d};
    for (int i = 0; i < 3; i++) {
        const Vec3& start = *corners[i];
        const Vec3& end = *corners[(i + 1) % 3];
        const Vec3& third = *corners[(i + 2) % 3];
        const Vec3 e = Sub(end, start);
        const float t = Dot(e, start) / Dot(e, e);
        const Vec3 q = {start.x - e.x * t, start.y - e.y * t, start.z - e.z * t};
        const float qq = Dot(q, q);
        if (qq > rr && qq < Dot(q, third)) return 0;
    }
    return 1;
}
