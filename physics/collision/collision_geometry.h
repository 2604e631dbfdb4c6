// Geometry helpers of collision detection on top of the engine's maths:
// axis-aligned boxes, a rotation-matrix frame for the hot loops, and the
// closest-point and segment routines that several pair tests share.
#pragma once

#include <cmath>

#include "physics/base/phys_math.h"

// Axis-aligned box.
struct Aabb {
  Vec3 min, max;
};

// Evaluated without early exits: one branch on the result predicts better
// than six on its parts in the tree walks and the sweep.
inline bool Aabb_Overlaps(const Aabb& a, const Aabb& b) {
  return (a.min.x <= b.max.x) & (b.min.x <= a.max.x) & (a.min.y <= b.max.y) & (b.min.y <= a.max.y) &
         (a.min.z <= b.max.z) & (b.min.z <= a.max.z);
}
inline Aabb Aabb_Inflate(const Aabb& a, float d) {
  return {a.min - V3(d, d, d), a.max + V3(d, d, d)};
}
inline Aabb Aabb_Union(const Aabb& a, const Aabb& b) {
  return {Vec3_Min(a.min, b.min), Vec3_Max(a.max, b.max)};
}
inline bool Aabb_IsFinite(const Aabb& a) { return Vec3_IsFinite(a.min) && Vec3_IsFinite(a.max); }
inline Aabb Aabb_Empty() { return {V3(1e30f, 1e30f, 1e30f), V3(-1e30f, -1e30f, -1e30f)}; }
inline void Aabb_AddPoint(Aabb* a, Vec3 p) {
  a->min = Vec3_Min(a->min, p);
  a->max = Vec3_Max(a->max, p);
}
inline Vec3 Vec3_Abs(Vec3 a) { return {std::fabs(a.x), std::fabs(a.y), std::fabs(a.z)}; }

// A rigid transform with its rotation as a matrix: collision tests apply the
// same rotation to many vertices, where a matrix is cheaper than a quaternion.
struct Frame3 {
  Mat3 rot;  // column-vector rotation, world = rot * local + pos
  Vec3 pos;
};

// a * b and a^T * b, inline: the pair tests build frames for every pair.
inline Mat3 Frame3_MulMat(const Mat3& a, const Mat3& b) {
  Mat3 o;
  for (int i = 0; i < 3; ++i) o.r[i] = b.r[0] * a.r[i].x + b.r[1] * a.r[i].y + b.r[2] * a.r[i].z;
  return o;
}
inline Mat3 Frame3_MulTransposedMat(const Mat3& a, const Mat3& b) {
  Mat3 o;
  o.r[0] = b.r[0] * a.r[0].x + b.r[1] * a.r[1].x + b.r[2] * a.r[2].x;
  o.r[1] = b.r[0] * a.r[0].y + b.r[1] * a.r[1].y + b.r[2] * a.r[2].y;
  o.r[2] = b.r[0] * a.r[0].z + b.r[1] * a.r[1].z + b.r[2] * a.r[2].z;
  return o;
}

inline Frame3 Frame3_FromTransform(const Transform& t) { return {Mat3_FromQuat(t.rotation), t.position}; }
inline Frame3 Frame3_Identity() { return {Mat3_Identity(), V3(0, 0, 0)}; }
inline Vec3 Frame3_Apply(const Frame3& f, Vec3 p) { return Mat3_Mul(f.rot, p) + f.pos; }
// rot^T * v: a world direction in the frame's local axes.
inline Vec3 Frame3_RotateInv(const Frame3& f, Vec3 v) {
  return f.rot.r[0] * v.x + f.rot.r[1] * v.y + f.rot.r[2] * v.z;
}
inline Vec3 Frame3_ApplyInv(const Frame3& f, Vec3 p) { return Frame3_RotateInv(f, p - f.pos); }
// a^-1 * b: frame b expressed in frame a.
inline Frame3 Frame3_InverseTimes(const Frame3& a, const Frame3& b) {
  return {Frame3_MulTransposedMat(a.rot, b.rot), Frame3_RotateInv(a, b.pos - a.pos)};
}
inline Frame3 Frame3_Mul(const Frame3& a, const Frame3& b) {
  return {Frame3_MulMat(a.rot, b.rot), Mat3_Mul(a.rot, b.pos) + a.pos};
}
// World box of a local box (exact bound of its eight corners).
inline Aabb Frame3_TransformAabb(const Frame3& f, const Aabb& local) {
  Vec3 c = (local.min + local.max) * 0.5f, e = (local.max - local.min) * 0.5f;
  Vec3 wc = Frame3_Apply(f, c);
  Vec3 we = {Vec3_Dot(Vec3_Abs(f.rot.r[0]), e), Vec3_Dot(Vec3_Abs(f.rot.r[1]), e),
             Vec3_Dot(Vec3_Abs(f.rot.r[2]), e)};
  return {wc - we, wc + we};
}

// Closest point of triangle (a, b, c) to p. *region tells which feature holds
// it: 0 the face interior, 1..3 the edges ab, bc, ca, 4..6 the vertices a, b, c.
Vec3 Geometry_ClosestOnTriangle(Vec3 p, Vec3 a, Vec3 b, Vec3 c, int* region);
// Closest points of segments p1-q1 and p2-q2 (written to c1, c2).
void Geometry_ClosestSegmentSegment(Vec3 p1, Vec3 q1, Vec3 p2, Vec3 q2, Vec3* c1, Vec3* c2);
// Ray o + t d (d unit) against a sphere: the entering t in (0, maxT], or -1.
// A ray starting inside or on the sphere does not enter it.
float Geometry_RaySphere(Vec3 o, Vec3 d, float maxT, Vec3 centre, float radius);
// Ray against triangle, either side: t in (0, maxT] or -1.
float Geometry_RayTriangle(Vec3 o, Vec3 d, float maxT, Vec3 a, Vec3 b, Vec3 c);
// Slab test of a ray with precomputed inverse direction against a box: 1 when
// the ray's [0, maxT] part meets the box.
inline bool Geometry_RayAabb(Vec3 o, Vec3 invD, float maxT, const Aabb& box) {
  // NaN from 0 * inf (a ray in a slab's face) fails the comparisons below and
  // leaves the bounds as they are.
  float t0 = 0.0f, t1 = maxT;
  float lo = (box.min.x - o.x) * invD.x, hi = (box.max.x - o.x) * invD.x;
  if (lo > hi) { float s = lo; lo = hi; hi = s; }
  if (lo > t0) t0 = lo;
  if (hi < t1) t1 = hi;
  lo = (box.min.y - o.y) * invD.y;
  hi = (box.max.y - o.y) * invD.y;
  if (lo > hi) { float s = lo; lo = hi; hi = s; }
  if (lo > t0) t0 = lo;
  if (hi < t1) t1 = hi;
  lo = (box.min.z - o.z) * invD.z;
  hi = (box.max.z - o.z) * invD.z;
  if (lo > hi) { float s = lo; lo = hi; hi = s; }
  if (lo > t0) t0 = lo;
  if (hi < t1) t1 = hi;
  return t0 <= t1;
}
