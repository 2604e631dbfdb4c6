// Four floats worked on together, through the compiler's vector extension
// (SSE on x86-64, the target's vector unit elsewhere). The solvers keep the
// up-to-four points of a contact side by side, one per lane, and a body's
// velocity as (x, y, z, unused).
//
// Arithmetic (+ - * /, comparisons giving a LaneMask) is the extension's
// own; a lane is read and written with [i].
#pragma once
#include <cstdint>

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
