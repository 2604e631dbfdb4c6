#include "physics/collision/collision_geometry.h"

Vec3 Geometry_ClosestOnTriangle(Vec3 p, Vec3 a, Vec3 b, Vec3 c, int* region) {
  // Voronoi-region walk: vertex regions, then edges, then the face.
  Vec3 ab = b - a, ac = c - a, ap = p - a;
  float d1 = Vec3_Dot(ab, ap), d2 = Vec3_Dot(ac, ap);
  if (d1 <= 0.0f && d2 <= 0.0f) { *region = 4; return a; }
  Vec3 bp = p - b;
  float d3 = Vec3_Dot(ab, bp), d4 = Vec3_Dot(ac, bp);
  if (d3 >= 0.0f && d4 <= d3) { *region = 5; return b; }
  float vc = d1 * d4 - d3 * d2;
  if (vc <= 0.0f && d1 >= 0.0f && d3 <= 0.0f) {
    float v = d1 / (d1 - d3);
    *region = 1;
    return a + ab * v;
  }
  Vec3 cp = p - c;
  float d5 = Vec3_Dot(ab, cp), d6 = Vec3_Dot(ac, cp);
  if (d6 >= 0.0f && d5 <= d6) { *region = 6; return c; }
  float vb = d5 * d2 - d1 * d6;
  if (vb <= 0.0f && d2 >= 0.0f && d6 <= 0.0f) {
    float w = d2 / (d2 - d6);
    *region = 3;
    return a + ac * w;
  }
  float va = d3 * d6 - d5 * d4;
  if (va <= 0.0f && (d4 - d3) >= 0.0f && (d5 - d6) >= 0.0f) {
    float w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
    *region = 2;
    return b + (c - b) * w;
  }
  float denom = va + vb + vc;
  if (!(std::fabs(denom) > 1e-30f)) { *region = 4; return a; }
  float inv = 1.0f / denom;
  *region = 0;
  return a + ab * (vb * inv) + ac * (vc * inv);
}

void Geometry_ClosestSegmentSegment(Vec3 p1, Vec3 q1, Vec3 p2, Vec3 q2, Vec3* c1, Vec3* c2) {
  Vec3 d1 = q1 - p1, d2 = q2 - p2, r = p1 - p2;
  float a = Vec3_Dot(d1, d1), e = Vec3_Dot(d2, d2), f = Vec3_Dot(d2, r);
  float s = 0.0f, t = 0.0f;
  const float eps = 1e-12f;
  auto clamp01 = [](float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); };
  if (a <= eps && e <= eps) {
    *c1 = p1;
    *c2 = p2;
    return;
  }
  if (a <= eps) {
    t = clamp01(f / e);
  } else {
    float c = Vec3_Dot(d1, r);
    if (e <= eps) {
      s = clamp01(-c / a);
    } else {
      float b = Vec3_Dot(d1, d2), denom = a * e - b * b;
      s = denom > eps * a * e ? clamp01((b * f - c * e) / denom) : 0.0f;
      t = (b * s + f) / e;
      if (t < 0.0f) {
        t = 0.0f;
        s = clamp01(-c / a);
      } else if (t > 1.0f) {
        t = 1.0f;
        s = clamp01((b - c) / a);
      }
    }
  }
  *c1 = p1 + d1 * s;
  *c2 = p2 + d2 * t;
}

float Geometry_RaySphere(Vec3 o, Vec3 d, float maxT, Vec3 centre, float radius) {
  Vec3 m = o - centre;
  float c = Vec3_Dot(m, m) - radius * radius;
  if (c <= 0.0f) return -1.0f;  // inside or on the surface: no entering hit
  float b = Vec3_Dot(m, d);
  if (b >= 0.0f) return -1.0f;  // outside and pointing away
  float disc = b * b - c;
  if (disc < 0.0f) return -1.0f;
  float t = -b - std::sqrt(disc);
  if (!(t > 0.0f) || t > maxT) return -1.0f;
  return t;
}

float Geometry_RayTriangle(Vec3 o, Vec3 d, float maxT, Vec3 a, Vec3 b, Vec3 c) {
  Vec3 e1 = b - a, e2 = c - a;
  Vec3 p = Vec3_Cross(d, e2);
  float det = Vec3_Dot(e1, p);
  if (std::fabs(det) < 1e-20f) return -1.0f;  // parallel or degenerate
  float inv = 1.0f / det;
  Vec3 s = o - a;
  float u = Vec3_Dot(s, p) * inv;
  if (u < 0.0f || u > 1.0f) return -1.0f;
  Vec3 q = Vec3_Cross(s, e1);
  float v = Vec3_Dot(d, q) * inv;
  if (v < 0.0f || u + v > 1.0f) return -1.0f;
  float t = Vec3_Dot(e2, q) * inv;
  // A ray starting on the surface does not hit it.
  if (!(t > 1e-6f) || t > maxT) return -1.0f;
  return t;
}
