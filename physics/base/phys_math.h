// Small maths of the physics engine, single precision, on the base library's
// Vec3 and Quat (common/maths.h): value operators, quaternion algebra, 3x3
// matrices and rigid transforms.
//
// The base library's pointer functions (Vec3_Length, Vec3_Normalise) use its
// table square root; the physics engine needs the exact root, so its
// by-value length and direction are named apart: Vec3_Norm and Vec3_Unit.
// Same-named by-value overloads (Vec3_Dot, Vec3_Cross, Vec3_LengthSq) compute
// exactly what the pointer versions compute.
//
// The quaternion is the base library's (x, y, z, w): bodies hand their
// orientation to frames and back without conversion.
//
// Conventions. Internally a Mat3 acts on column vectors: Mat3_Mul(m, v) has
// components dot(row i, v). A rigid transform maps a body-space point p to
// q * p + t. The engine layer's matrices are row-vector matrices whose rows
// are the rotated right, up and at axes; Matrix3_FromQuaternion and
// Quaternion_FromMatrix3 convert to and from that layout (the transpose of
// the column-vector rotation).
#pragma once
#include <cmath>
#include <cstdint>

#include "common/maths.h"

struct Mat3 {
  Vec3 r[3];  // rows
};
struct Transform {
  Quat rotation;
  Vec3 position;
};

inline Vec3 V3(float x, float y, float z) { return Vec3{x, y, z}; }
inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator-(Vec3 a) { return {-a.x, -a.y, -a.z}; }
inline Vec3 operator*(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3 operator*(float s, Vec3 a) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3& operator+=(Vec3& a, Vec3 b) { a = a + b; return a; }
inline Vec3& operator-=(Vec3& a, Vec3 b) { a = a - b; return a; }
inline Vec3& operator*=(Vec3& a, float s) { a = a * s; return a; }
inline float Vec3_Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 Vec3_Cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline Vec3 Vec3_Mul(Vec3 a, Vec3 b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
inline float Vec3_LengthSq(Vec3 a) { return Vec3_Dot(a, a); }
// Exact length (std::sqrt).
inline float Vec3_Norm(Vec3 a) { return std::sqrt(Vec3_Dot(a, a)); }
inline Vec3 Vec3_Min(Vec3 a, Vec3 b) {
  return {a.x < b.x ? a.x : b.x, a.y < b.y ? a.y : b.y, a.z < b.z ? a.z : b.z};
}
inline Vec3 Vec3_Max(Vec3 a, Vec3 b) {
  return {a.x > b.x ? a.x : b.x, a.y > b.y ? a.y : b.y, a.z > b.z ? a.z : b.z};
}
inline float Vec3_Get(Vec3 a, int i) { return i == 0 ? a.x : (i == 1 ? a.y : a.z); }
inline void Vec3_Set(Vec3& a, int i, float v) { (i == 0 ? a.x : (i == 1 ? a.y : a.z)) = v; }
inline bool Vec3_IsFinite(Vec3 a) {
  return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}
// a / |a| (exact root), or (0, 0, 0) when |a|^2 is below 1e-20.
inline Vec3 Vec3_Unit(Vec3 a) {
  float l2 = Vec3_Dot(a, a);
  if (!(l2 > 1e-20f)) return {0, 0, 0};
  return a * (1.0f / std::sqrt(l2));
}
// Two unit vectors completing n (unit) to an orthonormal basis.
inline void Vec3_PlaneSpace(Vec3 n, Vec3* t1, Vec3* t2) {
  if (std::fabs(n.z) > 0.7071067f) {
    float a = n.y * n.y + n.z * n.z, k = 1.0f / std::sqrt(a);
    *t1 = {0, -n.z * k, n.y * k};
    *t2 = {a * k, -n.x * t1->z, n.x * t1->y};
  } else {
    float a = n.x * n.x + n.y * n.y, k = 1.0f / std::sqrt(a);
    *t1 = {-n.y * k, n.x * k, 0};
    *t2 = {-n.z * t1->y, n.z * t1->x, a * k};
  }
}

inline Quat Quat_Identity() { return {0, 0, 0, 1}; }
// Hamilton product: a * b rotates by b, then by a.
inline Quat operator*(Quat a, Quat b) {
  Quat q;
  q.w = a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z;
  q.x = a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y;
  q.y = a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x;
  q.z = a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w;
  return q;
}
inline Quat Quat_Conjugate(Quat q) { return {-q.x, -q.y, -q.z, q.w}; }
// q / |q|, or the identity for a zero or non-finite q.
inline Quat Quat_Normalize(Quat q) {
  float l2 = q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z;
  if (!(l2 > 1e-30f) || !std::isfinite(l2)) return Quat_Identity();
  float k = 1.0f / std::sqrt(l2);
  return {q.x * k, q.y * k, q.z * k, q.w * k};
}
// Rotation of angle radians about a unit axis.
Quat Quat_FromAxisAngle(Vec3 axis, float angle);
inline Vec3 Quat_Rotate(Quat q, Vec3 v) {
  Vec3 u{q.x, q.y, q.z};
  Vec3 t = Vec3_Cross(u, v) * 2.0f;
  return v + t * q.w + Vec3_Cross(u, t);
}
inline Vec3 Quat_RotateInv(Quat q, Vec3 v) { return Quat_Rotate(Quat_Conjugate(q), v); }
// q advanced by angular velocity w over dt (first order, renormalised).
inline Quat Quat_Integrate(Quat q, Vec3 w, float dt) {
  Quat dq{w.x, w.y, w.z, 0};
  Quat d = dq * q;
  float h = 0.5f * dt;
  return Quat_Normalize({q.x + d.x * h, q.y + d.y * h, q.z + d.z * h, q.w + d.w * h});
}
inline bool Quat_IsFinite(Quat q) {
  return std::isfinite(q.w) && std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z);
}

Mat3 Mat3_Identity();
Mat3 Mat3_Zero();
Mat3 Mat3_Diagonal(Vec3 d);
inline Vec3 Mat3_Mul(const Mat3& m, Vec3 v) {
  return {Vec3_Dot(m.r[0], v), Vec3_Dot(m.r[1], v), Vec3_Dot(m.r[2], v)};
}
Mat3 Mat3_MulMat(const Mat3& a, const Mat3& b);
Mat3 Mat3_Transpose(const Mat3& m);
Mat3 Mat3_Add(const Mat3& a, const Mat3& b);
Mat3 Mat3_Scale(const Mat3& a, float s);
// Column-vector rotation matrix of q (Mat3_Mul(R, v) == Quat_Rotate(q, v)).
Mat3 Mat3_FromQuat(Quat q);
// Inverse of m; 0 (out untouched) when m is singular.
int Mat3_Invert(const Mat3& m, Mat3* out);
// R * m * R^T for the rotation q: a body-space tensor in world space.
Mat3 Mat3_RotateTensor(Quat q, const Mat3& m);
// Eigen decomposition of a symmetric matrix (Jacobi sweeps): m = V diag(d) V^T
// with V's columns the unit eigenvectors (a rotation).
void Mat3_EigenSymmetric(const Mat3& m, Vec3* eigenvalues, Mat3* eigenvectors);

// Engine-layer conversions: rows of the matrix are the rotated right, up and
// at axes (row vectors).
void Matrix3_FromQuaternion(Mat3* out, Quat q);
void Quaternion_FromMatrix3(Quat* out, const Mat3* m);
void Transform_SetIdentity(Transform* t);
inline Vec3 Transform_Apply(const Transform& t, Vec3 p) {
  return Quat_Rotate(t.rotation, p) + t.position;
}
inline Vec3 Transform_ApplyInv(const Transform& t, Vec3 p) {
  return Quat_RotateInv(t.rotation, p - t.position);
}
// a * b: first b, then a.
Transform Transform_Mul(const Transform& a, const Transform& b);
