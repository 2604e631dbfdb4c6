#include "physics/collision/gjk.h"

#include <cmath>

namespace {

struct SimplexVertex {
  Vec3 w;  // a - b
  Vec3 a;  // support point of A (world)
  Vec3 b;  // support point of B (world)
};

struct Simplex {
  SimplexVertex v[4];
  float bary[4];
  int count;
};

// Farthest point of the core along d (the core's own space).
Vec3 SupportLocal(const GjkShape& s, Vec3 d) {
  const Vec3* p = s.points;
  int best = 0;
  float bestDot = Vec3_Dot(p[0], d);
  for (int i = 1; i < s.count; ++i) {
    float x = Vec3_Dot(p[i], d);
    if (x > bestDot) {
      bestDot = x;
      best = i;
    }
  }
  return p[best];
}

Vec3 SupportWorld(const GjkShape& s, Vec3 dirWorld) {
  return Frame3_Apply(s.frame, SupportLocal(s, Frame3_RotateInv(s.frame, dirWorld)));
}

// Closest point of the segment v0-v1 to the origin; keeps the vertices that
// support it.
void SolveSegment(Simplex* s) {
  Vec3 a = s->v[0].w, b = s->v[1].w, ab = b - a;
  float t = -Vec3_Dot(a, ab);
  float len2 = Vec3_Dot(ab, ab);
  if (t <= 0.0f || len2 <= 1e-30f) {
    s->count = 1;
    s->bary[0] = 1;
    return;
  }
  if (t >= len2) {
    s->v[0] = s->v[1];
    s->count = 1;
    s->bary[0] = 1;
    return;
  }
  t /= len2;
  s->bary[0] = 1 - t;
  s->bary[1] = t;
}

// Closest point of triangle v0 v1 v2 to the origin (Voronoi regions).
void SolveTriangle(Simplex* s) {
  Vec3 a = s->v[0].w, b = s->v[1].w, c = s->v[2].w;
  Vec3 ab = b - a, ac = c - a, ap = -a;
  float d1 = Vec3_Dot(ab, ap), d2 = Vec3_Dot(ac, ap);
  if (d1 <= 0 && d2 <= 0) { s->count = 1; s->bary[0] = 1; return; }
  Vec3 bp = -b;
  float d3 = Vec3_Dot(ab, bp), d4 = Vec3_Dot(ac, bp);
  if (d3 >= 0 && d4 <= d3) { s->v[0] = s->v[1]; s->count = 1; s->bary[0] = 1; return; }
  float vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0) {
    float v = d1 / (d1 - d3);
    s->count = 2; s->bary[0] = 1 - v; s->bary[1] = v;
    return;
  }
  Vec3 cp = -c;
  float d5 = Vec3_Dot(ab, cp), d6 = Vec3_Dot(ac, cp);
  if (d6 >= 0 && d5 <= d6) { s->v[0] = s->v[2]; s->count = 1; s->bary[0] = 1; return; }
  float vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0) {
    float w = d2 / (d2 - d6);
    s->v[1] = s->v[2]; s->count = 2; s->bary[0] = 1 - w; s->bary[1] = w;
    return;
  }
  float va = d3 * d6 - d5 * d4;
  if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
    float w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
    s->v[0] = s->v[1]; s->v[1] = s->v[2]; s->count = 2; s->bary[0] = 1 - w; s->bary[1] = w;
    return;
  }
  float denom = va + vb + vc;
  if (!(denom > 1e-30f || denom < -1e-30f)) { s->count = 1; s->bary[0] = 1; return; }
  float inv = 1.0f / denom;
  s->bary[1] = vb * inv;
  s->bary[2] = vc * inv;
  s->bary[0] = 1 - s->bary[1] - s->bary[2];
  s->count = 3;
}

// Tetrahedron: the origin inside means overlap (returns 1); otherwise the
// nearest face's solution replaces the simplex.
int SolveTetrahedron(Simplex* s) {
  static const int faces[4][4] = {{0, 1, 2, 3}, {0, 2, 3, 1}, {0, 3, 1, 2}, {1, 3, 2, 0}};
  float bestD2 = 3.4e38f;
  Simplex best{};
  bool outside = false;
  for (const auto& f : faces) {
    Vec3 a = s->v[f[0]].w, b = s->v[f[1]].w, c = s->v[f[2]].w, d = s->v[f[3]].w;
    Vec3 n = Vec3_Cross(b - a, c - a);
    float sideOrigin = -Vec3_Dot(n, a), sideD = Vec3_Dot(n, d - a);
    if (sideOrigin * sideD >= 0.0f) continue;  // origin on the inner side of this face
    outside = true;
    Simplex t{};
    t.v[0] = s->v[f[0]]; t.v[1] = s->v[f[1]]; t.v[2] = s->v[f[2]];
    t.count = 3;
    SolveTriangle(&t);
    Vec3 p{0, 0, 0};
    for (int i = 0; i < t.count; ++i) p += t.v[i].w * t.bary[i];
    float d2 = Vec3_Dot(p, p);
    if (d2 < bestD2) {
      bestD2 = d2;
      best = t;
    }
  }
  if (!outside) return 1;
  *s = best;
  return 0;
}

}  // namespace

void Gjk_Distance(const GjkShape& worldA, const GjkShape& worldB, GjkResult* r, float farEnough) {
  // A proven gap must clear farEnough by more than rounding, so that a full
  // search could not have found the pair within it.
  const float stopBeyond = farEnough >= 0.0f ? farEnough + 1e-5f : -1.0f;
  // Work in A's space: A's supports need no transform, B's one.
  GjkShape A = worldA, B = worldB;
  A.frame = Frame3_Identity();
  B.frame = Frame3_InverseTimes(worldA.frame, worldB.frame);
  auto supportA = [&A](Vec3 d) { return SupportLocal(A, d); };
  auto supportB = [&B](Vec3 d) { return SupportWorld(B, d); };
  Simplex s{};
  Vec3 dir = -B.frame.pos;
  if (Vec3_LengthSq(dir) < 1e-12f) dir = V3(1, 0, 0);
  Vec3 sa = supportA(-dir), sb = supportB(dir);
  s.v[0] = {sa - sb, sa, sb};
  s.bary[0] = 1;
  s.count = 1;
  Vec3 v = s.v[0].w;
  r->overlap = 0;
  for (int iter = 0; iter < 64; ++iter) {
    float vv = Vec3_Dot(v, v);
    if (vv < 1e-12f) {
      r->overlap = 1;
      break;
    }
    Vec3 a = supportA(-v), b = supportB(v);
    Vec3 w = a - b;
    // Every point of the difference lies beyond the plane through w normal
    // to v: (v . w) / |v| bounds the distance from below.
    float vw = Vec3_Dot(v, w);
    if (stopBeyond >= 0.0f && vw > 0.0f && vw * vw > stopBeyond * stopBeyond * vv) {
      r->distance = vw / std::sqrt(vv);
      r->pointA = Frame3_Apply(worldA.frame, a);
      r->pointB = Frame3_Apply(worldA.frame, b);
      r->axis = Mat3_Mul(worldA.frame.rot, v * (1.0f / std::sqrt(vv)));
      return;
    }
    // No progress towards the origin: v is the closest point.
    if (vv - Vec3_Dot(v, w) <= 1e-6f * vv) break;
    bool duplicate = false;
    for (int i = 0; i < s.count; ++i)
      if (Vec3_LengthSq(s.v[i].w - w) < 1e-14f) duplicate = true;
    if (duplicate) break;
    s.v[s.count++] = {w, a, b};
    if (s.count == 2) SolveSegment(&s);
    else if (s.count == 3) SolveTriangle(&s);
    else if (SolveTetrahedron(&s)) {
      r->overlap = 1;
      break;
    }
    Vec3 nv{0, 0, 0};
    for (int i = 0; i < s.count; ++i) nv += s.v[i].w * s.bary[i];
    if (Vec3_Dot(nv, nv) >= vv) break;  // numerical stall
    v = nv;
  }
  Vec3 pa{0, 0, 0}, pb{0, 0, 0};
  for (int i = 0; i < s.count; ++i) {
    pa += s.v[i].a * s.bary[i];
    pb += s.v[i].b * s.bary[i];
  }
  r->distance = r->overlap ? 0.0f : Vec3_Norm(pa - pb);
  float len2 = Vec3_LengthSq(v);
  r->axis = len2 > 0.0f ? Mat3_Mul(worldA.frame.rot, v * (1.0f / std::sqrt(len2))) : V3(0, 1, 0);
  r->pointA = Frame3_Apply(worldA.frame, pa);
  r->pointB = Frame3_Apply(worldA.frame, pb);
}
