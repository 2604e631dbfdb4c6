// Four floats worked on together, through the compiler's vector extension
// (SSE on x86-64, the target's vector unit elsewhere). The solvers keep the
// up-to-four points of a contact side by side, one per lane, and a body's
// velocity as (x, y, z, unused).
//
// Arithmetic (+ - * /, comparisons giving a LaneMask) is the extension's
// own; a lane is read and written with [i].
#pragma once
#include <cstdint>
#include <cstring>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "physics/base/phys_math.h"

typedef float Lanes __attribute__((vector_size(16)));
typedef int32_t LaneMask __attribute__((vector_size(16)));  // per lane all ones (true) or zero

inline Lanes Lanes_Splat(float x) { return Lanes{x, x, x, x}; }
// a where m is true, else b.
inline Lanes Lanes_Select(LaneMask m, Lanes a, Lanes b) { return (Lanes)(((LaneMask)a & m) | ((LaneMask)b & ~m)); }
// Lane-wise minimum and maximum; where a is NaN the result is b.
inline Lanes Lanes_Min(Lanes a, Lanes b) { return Lanes_Select(a < b, a, b); }
inline Lanes Lanes_Max(Lanes a, Lanes b) { return Lanes_Select(a > b, a, b); }

// Bit i set when lane i of m is true.
inline int LaneMask_Bits(LaneMask m) {
#if defined(__SSE__)
  return _mm_movemask_ps((__m128)m);
#else
  return (m[0] & 1) | (m[1] & 2) | (m[2] & 4) | (m[3] & 8);
#endif
}

// The lane sums of four vectors: lane i of the result is the sum of the
// lanes of the i-th argument.
inline Lanes Lanes_Sums(Lanes a, Lanes b, Lanes c, Lanes d) {
  Lanes ab = __builtin_shufflevector(a, b, 0, 4, 1, 5) + __builtin_shufflevector(a, b, 2, 6, 3, 7);
  Lanes cd = __builtin_shufflevector(c, d, 0, 4, 1, 5) + __builtin_shufflevector(c, d, 2, 6, 3, 7);
  return __builtin_shufflevector(ab, cd, 0, 1, 4, 5) + __builtin_shufflevector(ab, cd, 2, 3, 6, 7);
}

// A Vec3 in lanes 0..2 (lane 3 zero), and back.
inline Lanes Lanes_FromVec3(Vec3 v) { return Lanes{v.x, v.y, v.z, 0.0f}; }
inline Vec3 Lanes_ToVec3(Lanes l) { return Vec3{l[0], l[1], l[2]}; }

// Vectors as lanes (x, y, z, 0): lane 3 of the results below stays zero
// while that of the arguments is.
inline Lanes Lanes_Cross(Lanes a, Lanes b) {
  Lanes c = a * __builtin_shufflevector(b, b, 1, 2, 0, 3) - __builtin_shufflevector(a, a, 1, 2, 0, 3) * b;
  return __builtin_shufflevector(c, c, 1, 2, 0, 3);
}
inline float Lanes_Dot3(Lanes a, Lanes b) {
  Lanes p = a * b;
  return (p[0] + p[1]) + p[2];
}
// A quaternion (x, y, z, w) as lanes turning v.
inline Lanes Lanes_Rotate(Lanes q, Lanes v) {
  Lanes t = Lanes_Cross(q, v) * 2.0f;
  return v + t * q[3] + Lanes_Cross(q, t);
}
// The matrix of columns c times v.
inline Lanes Lanes_MulColumns(const Lanes* c, Lanes v) { return c[0] * v[0] + c[1] * v[1] + c[2] * v[2]; }
// The columns of m.
inline void Lanes_Columns(const Mat3& m, Lanes* c) {
  for (int j = 0; j < 3; ++j) c[j] = Lanes{Vec3_Get(m.r[0], j), Vec3_Get(m.r[1], j), Vec3_Get(m.r[2], j), 0.0f};
}
inline Lanes Lanes_FromQuat(const Quat& q) {
  Lanes l;
  std::memcpy(&l, &q, sizeof l);
  return l;
}
