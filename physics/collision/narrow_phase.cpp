#include "physics/collision/narrow_phase.h"

#include <algorithm>
#include <cmath>

#include "physics/collision/collision_body.h"
#include "physics/collision/collision_detection.h"
#include "physics/collision/collision_primitive.h"
#include "physics/collision/convex_hull.h"
#include "physics/collision/gjk.h"
#include "physics/collision/mesh_container.h"

namespace {

constexpr int kMaxClip = 64;           // polygon vertices during clipping
constexpr int kMaxCandidates = 64;     // contacts gathered before reduction
constexpr float kFaceTolerance = 0.005f;  // prefer A's face over B's within this separation
constexpr float kEdgeTolerance = 0.01f;   // prefer faces over edges within this separation
// Below this gap GJK's closest points are too close for a trustworthy
// normal; the separating-axis test takes over.
constexpr float kGjkNormalGap = 1e-3f;
// Penetration into a mesh triangle's plane beyond which a hull is pushed out
// along the triangle's normal whatever the other axes say.
constexpr float kDeepIntoTriangle = 0.02f;
// Against a mesh triangle, its normal is preferred over a hull face that
// separates by up to this much more.
constexpr float kMeshFaceBias = 0.02f;
// Edge pairs the separating-axis test examines at most (about 200 edges a side).
constexpr int kMaxEdgePairs = 40000;
// A hull pair's cached feature is used again while b has moved relative to a
// by less than this share of the smaller hull's bounding radius, and turned
// by less than this in any rotation-matrix element (about one degree).
constexpr float kCacheMove = 0.02f;
constexpr float kCacheTurn = 0.02f;
// A hull pair's last face manifold is replayed (see NarrowPhaseCache) while
// b stays within this share of the smaller hull's bounding radius, and this
// turn in any rotation-matrix element (about 0.01 degree), of where it was
// when the manifold was clipped: a resting pair moves far less between
// steps, and a point placed by a clip moves by no more than that.
constexpr float kReplayMove = 2e-4f;
constexpr float kReplayTurn = 2e-4f;
// A candidate point within this gap bears (see Reduce): resting points lie
// within the solver's slop of touching.
constexpr float kBearingGap = 0.002f;

struct ClipVertex {
  Vec3 p;
  uint32_t id;  // which incident vertex or which clipping edge produced it
};

// Keeps the part of the polygon with dot(n, p) <= d (Sutherland-Hodgman).
int ClipPolygon(const ClipVertex* in, int count, Vec3 n, float d, uint32_t tag, ClipVertex* out) {
  int m = 0;
  if (count == 0) return 0;
  ClipVertex prev = in[count - 1];
  float prevDist = Vec3_Dot(n, prev.p) - d;
  for (int i = 0; i < count; ++i) {
    ClipVertex cur = in[i];
    float dist = Vec3_Dot(n, cur.p) - d;
    if ((prevDist <= 0.0f) != (dist <= 0.0f) && m < kMaxClip) {
      float t = prevDist / (prevDist - dist);
      out[m++] = {prev.p + (cur.p - prev.p) * t, tag ^ cur.id ^ (prev.id << 8)};
    }
    if (dist <= 0.0f && m < kMaxClip) out[m++] = cur;
    prev = cur;
    prevDist = dist;
  }
  return m;
}

// One contact in the working space of a pair test.
struct Candidate {
  Vec3 position;  // on B's surface
  Vec3 normal;    // B towards A
  float depth;
  uint32_t feature;
  bool faceOfB;   // the normal is a face normal of B (used against ghost edges on meshes)
  Vec3 incident;  // a face contact's clipped incident point, in the working space (see Replay)
};

// A cache of what a full test found, with nothing to replay.
NarrowPhaseCache CacheOf(const Frame3& relative, Vec3 axis, int kind, int index, int index2) {
  NarrowPhaseCache c{};
  c.relative = relative;
  c.axis = axis;
  c.kind = kind;
  c.index = index;
  c.index2 = index2;
  return c;
}

struct CandidateSet {
  Candidate c[kMaxCandidates];
  int count = 0;
  void Add(const Candidate& x) {
    if (count < kMaxCandidates) {
      c[count++] = x;
      return;
    }
    // Full: replace the shallowest if the new one is deeper.
    int worst = 0;
    for (int i = 1; i < count; ++i)
      if (c[i].depth < c[worst].depth) worst = i;
    if (x.depth > c[worst].depth) c[worst] = x;
  }
};

// Clips the incident polygon against the side planes of the reference face
// and keeps the points within margin of the reference plane. Writes the
// surviving incident points and their separations (negative = penetration).
int ClipAgainstReference(const Vec3* ref, int refCount, Vec3 refN, float refD, const ClipVertex* incident,
                         int incCount, float margin, ClipVertex* out, float* sep) {
  ClipVertex bufA[kMaxClip], bufB[kMaxClip];
  int n = incCount < kMaxClip ? incCount : kMaxClip;
  for (int i = 0; i < n; ++i) bufA[i] = incident[i];
  ClipVertex* src = bufA;
  ClipVertex* dst = bufB;
  // Side planes face outwards for a polygon counter-clockwise about refN;
  // a triangle turned to face the body may wind the other way.
  Vec3 winding{0, 0, 0};
  for (int e = 1; e + 1 < refCount; ++e) winding += Vec3_Cross(ref[e] - ref[0], ref[e + 1] - ref[0]);
  float sign = Vec3_Dot(winding, refN) < 0.0f ? -1.0f : 1.0f;
  for (int e = 0; e < refCount && n > 0; ++e) {
    Vec3 p = ref[e], q = ref[(e + 1) % refCount];
    Vec3 side = Vec3_Unit(Vec3_Cross(q - p, refN)) * sign;
    n = ClipPolygon(src, n, side, Vec3_Dot(side, p), uint32_t(e + 1) << 16, dst);
    ClipVertex* t = src;
    src = dst;
    dst = t;
  }
  int m = 0;
  for (int i = 0; i < n; ++i) {
    float s = Vec3_Dot(refN, src[i].p) - refD;
    if (s <= margin) {
      out[m] = src[i];
      sep[m] = s;
      ++m;
    }
  }
  return m;
}

// Picks at most four of the candidates. Points inside the contact patch
// (or on a straight stretch of its outline) add no support, so the patch's
// outline is taken first (a convex hull in the plane across the normal);
// the deepest outline point is kept, then the ones that spread the four
// widest. On ties in depth the point farthest out of the patch wins, so a
// face resting on two mesh triangles keeps its corners, not the points where
// the triangles' shared edge crosses it.
// Points that bear (touch or press, within kBearingGap) come before gaps:
// with three or more of them the gaps are left out, since a gap taken for
// the spread of the patch in place of a point that carries load, and given
// up again the next step, makes the load jump between points (a hull at
// rest on a curved mesh never stops trembling).
// `chosen` (may be null) receives the candidates kept, in the manifold's order.
int Reduce(const CandidateSet& set, ContactManifold* out, int* chosen = nullptr) {
  int n = set.count;
  auto emit = [&](const int* idx, int k) {
    for (int i = 0; i < k; ++i) {
      const Candidate& c = set.c[idx[i]];
      out->points[i] = {c.position, c.normal, c.depth, c.feature};
      if (chosen) chosen[i] = idx[i];
    }
    out->count = k;
    return k;
  };
  int all[kMaxCandidates];
  for (int i = 0; i < n; ++i) all[i] = i;
  if (n <= 4) return emit(all, n);
  CandidateSet bearing;
  int from[kMaxCandidates];
  for (int i = 0; i < n; ++i)
    if (set.c[i].depth > -kBearingGap) {
      from[bearing.count] = i;
      bearing.c[bearing.count++] = set.c[i];
    }
  if (bearing.count >= 3 && bearing.count < n) {
    int picked[4];
    int k = Reduce(bearing, out, picked);
    if (chosen)
      for (int i = 0; i < k; ++i) chosen[i] = from[picked[i]];
    return k;
  }

  // Outline: monotone-chain hull of the points projected across the normal.
  int deepest = 0;
  for (int i = 1; i < n; ++i)
    if (set.c[i].depth > set.c[deepest].depth) deepest = i;
  Vec3 t1, t2;
  Vec3_PlaneSpace(set.c[deepest].normal, &t1, &t2);
  float u[kMaxCandidates], v[kMaxCandidates];
  for (int i = 0; i < n; ++i) {
    u[i] = Vec3_Dot(set.c[i].position, t1);
    v[i] = Vec3_Dot(set.c[i].position, t2);
  }
  std::sort(all, all + n, [&](int a, int b) { return u[a] < u[b] || (u[a] == u[b] && v[a] < v[b]); });
  auto turn = [&](int o, int a, int b) { return (u[a] - u[o]) * (v[b] - v[o]) - (v[a] - v[o]) * (u[b] - u[o]); };
  int hull[2 * kMaxCandidates];
  int h = 0;
  const float eps = 1e-7f;
  for (int i = 0; i < n; ++i) {
    while (h >= 2 && turn(hull[h - 2], hull[h - 1], all[i]) <= eps) --h;
    hull[h++] = all[i];
  }
  for (int i = n - 2, lower = h + 1; i >= 0; --i) {
    while (h >= lower && turn(hull[h - 2], hull[h - 1], all[i]) <= eps) --h;
    hull[h++] = all[i];
  }
  --h;  // the first point closes the loop
  if (h < 3) {
    // Degenerate (points on a line): its two ends and the deepest.
    h = 0;
    hull[h++] = all[0];
    if (all[n - 1] != all[0]) hull[h++] = all[n - 1];
    if (deepest != all[0] && deepest != all[n - 1]) hull[h++] = deepest;
  }
  // The deepest point is kept whatever the outline: on a curved mesh it may
  // lie inside it, and a manifold without it lets the body sink.
  bool deepestOnOutline = false;
  for (int i = 0; i < h; ++i) deepestOnOutline |= set.c[hull[i]].depth >= set.c[deepest].depth - 1e-4f;
  if (h <= 4 && deepestOnOutline) {
    // Deepest first, then round the outline.
    int first = 0;
    for (int i = 1; i < h; ++i)
      if (set.c[hull[i]].depth > set.c[hull[first]].depth + 1e-6f) first = i;
    int order[4];
    for (int i = 0; i < h; ++i) order[i] = hull[(first + i) % h];
    return emit(order, h);
  }

  float cu = 0, cv = 0;
  for (int i = 0; i < h; ++i) {
    cu += u[hull[i]];
    cv += v[hull[i]];
  }
  cu /= float(h);
  cv /= float(h);
  auto spread = [&](int i) { return (u[i] - cu) * (u[i] - cu) + (v[i] - cv) * (v[i] - cv); };
  int pick[4];
  pick[0] = hull[0];
  for (int k = 1; k < h; ++k) {
    int i = hull[k];
    float d = set.c[i].depth - set.c[pick[0]].depth;
    if (d > 1e-4f || (d > -1e-4f && spread(i) > spread(pick[0]))) pick[0] = i;
  }
  if (!deepestOnOutline) pick[0] = deepest;
  auto dist2 = [&](int a, int b) { return (u[a] - u[b]) * (u[a] - u[b]) + (v[a] - v[b]) * (v[a] - v[b]); };
  pick[1] = -1;
  float best = -1;
  for (int k = 0; k < h; ++k)
    if (hull[k] != pick[0] && dist2(hull[k], pick[0]) > best) { best = dist2(hull[k], pick[0]); pick[1] = hull[k]; }
  // Third and fourth: the largest triangle on each side of the first two.
  float most = 0, least = 0;
  pick[2] = pick[3] = -1;
  for (int k = 0; k < h; ++k) {
    int i = hull[k];
    if (i == pick[0] || i == pick[1]) continue;
    float a = turn(pick[0], pick[1], i);
    if (a > most) { most = a; pick[2] = i; }
    if (a < least) { least = a; pick[3] = i; }
  }
  int k = 2;
  if (pick[2] >= 0) pick[k++] = pick[2];
  if (pick[3] >= 0) pick[k++] = pick[3];
  return emit(pick, k);
}

// ---- Gauss-map pruning for edge-edge axes --------------------------------

// An edge of the other polytope, in the working space, with the arc its two
// faces span on the Gauss map (normals negated: the Minkowski difference
// A - B). A triangle's edge spans a half circle and is entered as two
// quarter arcs.
struct EdgeArc {
  Vec3 p, dir;  // edge start and p -> end
  Vec3 c, d;    // arc ends (negated face normals)
  Vec3 dxc;     // d x c
  int32_t edge;      // edge index (hull edge or triangle side)
  int32_t unpaired;  // 1: no second face known, test without pruning
};

// The other side of a hull test, expressed in the hull's local space.
struct Polytope {
  const Vec3* verts;  // working space
  int vertCount;
  const Vec3* faceN;  // face normals (working space); a triangle has one, its front
  const float* faceD; // plane offsets
  int faceCount;
  const HullFace* faces;  // hull faces for incident polygons (null for a triangle)
  const uint16_t* faceVerts;
  const EdgeArc* arcs;
  int arcCount;
  bool triangle;
};

struct SatResult {
  float separation;
  int kind;  // 0 face of A, 1 face of B, 2 edge pair
  int index;  // face index, or edge A index
  int index2; // arc index of B
  Vec3 axis;  // working space: face normal, or from A towards B (edge pairs)
};

float SupportMin(const Vec3* v, int n, Vec3 dir) {
  float best = Vec3_Dot(v[0], dir);
  for (int i = 1; i < n; ++i) {
    float d = Vec3_Dot(v[i], dir);
    if (d < best) best = d;
  }
  return best;
}

// Separating-axis test of hull A (local space = working space) against B.
// Returns false as soon as an axis separates by more than margin. Edge pairs
// are pruned on the Gauss map: only pairs whose arcs cross span a face of
// the Minkowski difference and can give the axis of least penetration.
bool Sat(const ConvexHull* A, const Polytope& B, float margin, SatResult* faceA, SatResult* faceB,
         SatResult* edge) {
  const Vec3* av = A->vertices.Data();
  int an = A->vertices.Count();
  faceA->separation = -3.4e38f;
  for (int f = 0; f < A->faces.Count(); ++f) {
    const HullFace& face = A->faces[f];
    float s = SupportMin(B.verts, B.vertCount, face.normal) - face.offset;
    if (s > faceA->separation) *faceA = {s, 0, f, 0, face.normal};
    if (s > margin) return false;
  }
  faceB->separation = -3.4e38f;
  for (int f = 0; f < B.faceCount; ++f) {
    float s = SupportMin(av, an, B.faceN[f]) - B.faceD[f];
    if (s > faceB->separation) *faceB = {s, 1, f, 0, B.faceN[f]};
    if (s > margin) return false;
  }
  edge->separation = -3.4e38f;
  // Two large hulls would cost the product of their edge counts; past a
  // bound the face axes alone decide (the normal may then be a little off
  // where an edge crosses an edge, never the side).
  if (A->edges.Count() * B.arcCount > kMaxEdgePairs) return true;
  // Against a mesh triangle the edges only count when one of the hull's
  // faces beats the triangle's own normal (see HullPolytope): a hull resting
  // on a mesh, slightly sunk into it, skips them.
  if (B.triangle && (faceB->separation < -kDeepIntoTriangle || faceB->separation >= faceA->separation - kMeshFaceBias))
    return true;
  const HullEdgeArc* aArcs = A->edgeArcs.Data();
  for (int i = 0; i < A->edges.Count(); ++i) {
    const HullEdge& ea = A->edges[i];
    const HullEdgeArc& arc = aArcs[i];
    Vec3 pa = av[ea.v0], da = av[ea.v1] - av[ea.v0];
    bool unpairedA = ea.f0 == ea.f1;
    for (int j = 0; j < B.arcCount; ++j) {
      const EdgeArc& eb = B.arcs[j];
      if (!unpairedA && !eb.unpaired) {
        float cba = Vec3_Dot(eb.c, arc.bxa), dba = Vec3_Dot(eb.d, arc.bxa);
        if (cba * dba >= 0.0f) continue;
        float adc = Vec3_Dot(arc.a, eb.dxc), bdc = Vec3_Dot(arc.b, eb.dxc);
        if (adc * bdc >= 0.0f || cba * bdc <= 0.0f) continue;
      }
      Vec3 axis = Vec3_Cross(da, eb.dir);
      float len2 = Vec3_LengthSq(axis);
      if (len2 < 1e-10f * Vec3_LengthSq(da) * Vec3_LengthSq(eb.dir)) continue;  // parallel edges
      axis = axis * (1.0f / std::sqrt(len2));
      if (Vec3_Dot(axis, pa - A->centroid) < 0.0f) axis = -axis;
      float s = Vec3_Dot(axis, eb.p - pa);
      if (s > edge->separation) *edge = {s, 2, i, j, axis};
      if (s > margin) return false;
    }
  }
  return true;
}

// Adds a contact found in a hull test, in the caller's terms: with `swap`
// the caller's a is the test's B, so the normal turns and the point moves to
// the other surface.
void AddContact(CandidateSet* set, Vec3 onA, Vec3 onB, Vec3 normalBA, float depth, uint32_t feature, bool faceOfB,
                bool swap, Vec3 incident = V3(0, 0, 0)) {
  Candidate c;
  c.depth = depth;
  c.feature = feature;
  c.faceOfB = faceOfB;
  c.normal = swap ? -normalBA : normalBA;
  c.position = swap ? onA : onB;
  c.incident = incident;
  set->Add(c);
}

// Face contact: clips the incident face (of the other side) against the
// reference face (of A, or of B when useB) and adds the points within margin.
void FaceContact(const ConvexHull* A, const Polytope& B, bool useB, int refFace, const Frame3& toWorld,
                 float margin, bool swap, uint32_t featureSalt, CandidateSet* set) {
  const Vec3* av = A->vertices.Data();
  Vec3 refPoly[kMaxClip];
  int refCount = 0;
  ClipVertex incident[kMaxClip];
  int incCount = 0;
  Vec3 refN;
  float refD;
  if (!useB) {
    // Reference face on A; incident face of B most against its normal.
    const HullFace& rf = A->faces[refFace];
    refN = rf.normal;
    refD = rf.offset;
    for (int k = 0; k < rf.count && k < kMaxClip; ++k) refPoly[refCount++] = av[A->faceVertices[rf.first + k]];
    if (B.triangle) {
      for (int k = 0; k < 3; ++k) incident[incCount++] = {B.verts[k], uint32_t(k)};
    } else {
      int inc = 0;
      float most = 3.4e38f;
      for (int f = 0; f < B.faceCount; ++f) {
        float d = Vec3_Dot(B.faceN[f], refN);
        if (d < most) { most = d; inc = f; }
      }
      const HullFace& iff = B.faces[inc];
      for (int k = 0; k < iff.count && k < kMaxClip; ++k)
        incident[incCount++] = {B.verts[B.faceVerts[iff.first + k]], uint32_t(B.faceVerts[iff.first + k])};
    }
  } else {
    // Reference face on B; incident face of A.
    refN = B.faceN[refFace];
    refD = B.faceD[refFace];
    if (B.triangle) {
      for (int k = 0; k < 3; ++k) refPoly[refCount++] = B.verts[k];
    } else {
      const HullFace& rf = B.faces[refFace];
      for (int k = 0; k < rf.count && k < kMaxClip; ++k) refPoly[refCount++] = B.verts[B.faceVerts[rf.first + k]];
    }
    int inc = 0;
    float most = 3.4e38f;
    for (int f = 0; f < A->faces.Count(); ++f) {
      float d = Vec3_Dot(A->faces[f].normal, refN);
      if (d < most) { most = d; inc = f; }
    }
    const HullFace& iff = A->faces[inc];
    for (int k = 0; k < iff.count && k < kMaxClip; ++k)
      incident[incCount++] = {av[A->faceVertices[iff.first + k]], uint32_t(A->faceVertices[iff.first + k])};
  }
  ClipVertex clipped[kMaxClip];
  float sep[kMaxClip];
  int m = ClipAgainstReference(refPoly, refCount, refN, refD, incident, incCount, margin, clipped, sep);
  uint32_t refTag = (useB ? 0x40000000u : 0u) | (uint32_t(refFace) << 20);
  Vec3 nRef = Mat3_Mul(toWorld.rot, refN);
  Vec3 nBA = useB ? nRef : -nRef;  // from B towards A
  for (int k = 0; k < m; ++k) {
    Vec3 x = clipped[k].p;
    Vec3 onIncident = Frame3_Apply(toWorld, x);
    Vec3 onReference = Frame3_Apply(toWorld, x - refN * sep[k]);
    AddContact(set, useB ? onIncident : onReference, useB ? onReference : onIncident, nBA, -sep[k],
               featureSalt ^ (refTag | (clipped[k].id & 0xFFFFF)), useB, swap, x);
  }
}

// Builds the candidates of a hull (A, working space = A's local space, frame
// `toWorld`) against polytope B by the separating-axis test. `swap` tells
// that the caller's primitive a is B. Returns false when separated by more
// than margin.
bool HullPolytope(const ConvexHull* A, const Polytope& B, const Frame3& toWorld, float margin, bool swap,
                  uint32_t featureSalt, CandidateSet* set, NarrowPhaseCache* choice = nullptr) {
  SatResult fa{}, fb{}, ed{};
  if (!Sat(A, B, margin, &fa, &fb, &ed)) return false;
  const Vec3* av = A->vertices.Data();
  if (B.triangle && fb.separation < -kDeepIntoTriangle) {
    // Deep into a mesh triangle's plane: the least-penetration axis of one
    // small triangle may point sideways or down, and a body pressed into a
    // fine mesh would be pushed through it. Out along the triangle's front.
    FaceContact(A, B, true, 0, toWorld, margin, swap, featureSalt, set);
    return true;
  }
  bool useB;
  if (B.triangle) {
    // Meshes: resolve along the triangle's normal unless clearly wrong, so
    // that bodies slide over internal edges without catching.
    useB = fb.separation >= fa.separation - kMeshFaceBias;
  } else {
    useB = fb.separation > fa.separation + kFaceTolerance;
  }
  float bestFace = useB ? fb.separation : fa.separation;
  if (ed.separation > bestFace + kEdgeTolerance && !(B.triangle && useB && fb.separation > -kDeepIntoTriangle)) {
    // Edge-edge: one point, the closest points of the two edges.
    const HullEdge& ea = A->edges[ed.index];
    const EdgeArc& eb = B.arcs[ed.index2];
    Vec3 ca, cb;
    Geometry_ClosestSegmentSegment(av[ea.v0], av[ea.v1], eb.p, eb.p + eb.dir, &ca, &cb);
    AddContact(set, Frame3_Apply(toWorld, ca), Frame3_Apply(toWorld, cb), Mat3_Mul(toWorld.rot, -ed.axis),
               -ed.separation, featureSalt ^ (0x80000000u | (uint32_t(ed.index) << 12) | uint32_t(eb.edge)), false,
               swap);
    if (choice) *choice = CacheOf({}, V3(0, 0, 0), NARROW_CACHE_EDGES, ed.index, ed.index2);
    return true;
  }
  FaceContact(A, B, useB, useB ? fb.index : fa.index, toWorld, margin, swap, featureSalt, set);
  if (choice)
    *choice = CacheOf({}, V3(0, 0, 0), useB ? NARROW_CACHE_FACE_B : NARROW_CACHE_FACE_A, useB ? fb.index : fa.index, 0);
  return true;
}

// The edge-edge contact of A's edge ia and B's arc ib (working space), as the
// separating-axis test makes it; false when the edges are parallel or apart
// by more than margin along their common normal.
bool EdgeContact(const ConvexHull* A, const Polytope& B, int ia, int ib, const Frame3& toWorld, float margin,
                 uint32_t featureSalt, CandidateSet* set) {
  const Vec3* av = A->vertices.Data();
  const HullEdge& ea = A->edges[ia];
  const EdgeArc& eb = B.arcs[ib];
  Vec3 pa = av[ea.v0], da = av[ea.v1] - av[ea.v0];
  Vec3 axis = Vec3_Cross(da, eb.dir);
  float len2 = Vec3_LengthSq(axis);
  if (len2 < 1e-10f * Vec3_LengthSq(da) * Vec3_LengthSq(eb.dir)) return false;
  axis = axis * (1.0f / std::sqrt(len2));
  if (Vec3_Dot(axis, pa - A->centroid) < 0.0f) axis = -axis;
  float separation = Vec3_Dot(axis, eb.p - pa);
  if (separation > margin) return false;
  Vec3 ca, cb;
  Geometry_ClosestSegmentSegment(pa, pa + da, eb.p, eb.p + eb.dir, &ca, &cb);
  AddContact(set, Frame3_Apply(toWorld, ca), Frame3_Apply(toWorld, cb), Mat3_Mul(toWorld.rot, -axis), -separation,
             featureSalt ^ (0x80000000u | (uint32_t(ia) << 12) | uint32_t(eb.edge)), false, false);
  return true;
}

// Separation of A and B (both in the working space) along n, pointing from B
// towards A: how far A's lowest point lies above B's highest.
float SeparationAlong(const Vec3* av, int an, const Vec3* bv, int bn, Vec3 n) {
  return SupportMin(av, an, n) + SupportMin(bv, bn, -n);
}

// The same with B's vertices in B's own frame, placed by rel in A's.
float SeparationAlong(const Vec3* av, int an, const Vec3* bv, int bn, const Frame3& rel, Vec3 n) {
  return SupportMin(av, an, n) + SupportMin(bv, bn, -Frame3_RotateInv(rel, n)) - Vec3_Dot(n, rel.pos);
}

// GJK may stop short on nearly touching or slightly overlapping shapes and
// report a distance, and an axis, that the shapes do not have: its answers
// are used only as far as the supports along its axis confirm them. A pair
// is apart when `proven` (the separation along GJK's axis, by the supports)
// exceeds the margin; its normal is used within the margin when the proven
// separation matches GJK's distance; otherwise the separating-axis test
// decides.
bool GjkNormalHolds(const GjkResult& g, float proven) {
  return !g.overlap && g.distance > kGjkNormalGap && proven >= 0.9f * g.distance - 1e-4f;
}

// ---- Pair tests ------------------------------------------------------------

// Whether p lies in the plane of face contact f, within a tolerance that
// grows with the coordinates (float spacing far from the origin).
bool OnPlaneOf(const Candidate& f, Vec3 p, float tolerance) {
  Vec3 a = Vec3_Abs(f.position);
  float largest = a.x > a.y ? a.x : a.y;
  float scale = 1.0f + (largest > a.z ? largest : a.z) * 1e-3f;
  return std::fabs(Vec3_Dot(f.normal, p - f.position)) < tolerance * scale;
}

// Cleans the contacts of a body against mesh triangles: drops edge or corner
// contacts lying in the plane of a face contact with a tilted normal (ghosts
// of internal edges, on which sliding bodies would catch), and merges points
// closer than sqrt(mergeDistance2) with the same normal, keeping the deeper.
void FilterMeshCandidates(CandidateSet* set, float planeTolerance, float mergeDistance2) {
  // A single contact is neither a ghost of another nor merged with one.
  if (set->count <= 1) return;
  // The face contacts are copied out first: the loop compacts in place.
  Candidate faces[kMaxCandidates];
  int faceCount = 0;
  for (int i = 0; i < set->count; ++i)
    if (set->c[i].faceOfB) faces[faceCount++] = set->c[i];
  int kept = 0;
  for (int i = 0; i < set->count; ++i) {
    const Candidate x = set->c[i];
    bool ghost = false;
    if (!x.faceOfB)
      for (int j = 0; j < faceCount && !ghost; ++j) {
        float along = Vec3_Dot(faces[j].normal, x.normal);
        if (std::fabs(along) < 1.0f - 1e-5f && OnPlaneOf(faces[j], x.position, planeTolerance)) ghost = true;
      }
    if (ghost) continue;
    int same = -1;
    for (int k = 0; k < kept && same < 0; ++k)
      if (Vec3_LengthSq(set->c[k].position - x.position) < mergeDistance2 &&
          Vec3_Dot(set->c[k].normal, x.normal) > 0.999f)
        same = k;
    if (same >= 0) {
      if (x.depth > set->c[same].depth) set->c[same] = x;
      continue;
    }
    set->c[kept++] = x;
  }
  set->count = kept;
}

// The side memory of one body primitive against one mesh during a test: the
// sides remembered from the last test, and the sides of the triangles
// touched now, which replace them when the test ends.
class SideMemory {
public:
  // A memory that is not `used` reads and writes nothing (queries).
  SideMemory(const CollisionPrimitive* body, const CollisionPrimitive* mesh, bool used)
      : body_(body), mesh_(mesh->id), used_(used) {
    // Memos are dated by the holder's step: one not renewed at the last step
    // (the pair went untested: the body was away or asleep) is stale.
    const CollisionDetection* cd = body->body ? body->body->detection : nullptr;
    step_ = cd ? cd->step : 0;
  }
  // Side of the triangle to push the body out on: the remembered one, else
  // the side the reference point is on.
  int Side(uint32_t triangle, float signedDistance) {
    // Triangles come in the tree's order, as they were stored last time, so
    // the search resumes after the last match.
    int n = used_ ? body_->sideMemoCount : 0;
    for (int k = 0; k < n; ++k) {
      int i = cursor_ + k < n ? cursor_ + k : cursor_ + k - n;
      const MeshSideMemo& m = body_->sideMemo[i];
      if (m.triangle == triangle && m.mesh == mesh_ && m.step + 1 >= step_) {
        cursor_ = i + 1 < n ? i + 1 : 0;
        return m.side;
      }
    }
    return signedDistance >= 0.0f ? 1 : -1;
  }
  // Records a touched triangle at a distance; when full, the nearest ones are kept.
  void Touched(uint32_t triangle, int side, float distance) {
    if (count_ < kMeshSideMemos) {
      distance_[count_] = distance;
      now_[count_++] = {mesh_, triangle, side, step_};
      return;
    }
    int farthest = 0;
    for (int i = 1; i < count_; ++i)
      if (distance_[i] > distance_[farthest]) farthest = i;
    if (distance < distance_[farthest]) {
      distance_[farthest] = distance;
      now_[farthest] = {mesh_, triangle, side, step_};
    }
  }
  // Dates this mesh's memos to the current test, as they are (a manifold
  // replayed touches what it touched).
  void Renew() {
    for (int i = 0; i < body_->sideMemoCount; ++i)
      if (body_->sideMemo[i].mesh == mesh_) body_->sideMemo[i].step = step_;
  }
  // Keeps the memos of other meshes, then this mesh's new ones, within capacity.
  void Commit() {
    if (!used_) return;
    MeshSideMemo merged[kMeshSideMemos];
    int m = 0;
    for (int i = 0; i < count_; ++i) merged[m++] = now_[i];
    for (int i = 0; i < body_->sideMemoCount && m < kMeshSideMemos; ++i)
      if (body_->sideMemo[i].mesh != mesh_) merged[m++] = body_->sideMemo[i];
    for (int i = 0; i < m; ++i) body_->sideMemo[i] = merged[i];
    body_->sideMemoCount = m;
  }

private:
  const CollisionPrimitive* body_;
  uint32_t mesh_;
  bool used_;
  uint32_t step_;
  MeshSideMemo now_[kMeshSideMemos];
  float distance_[kMeshSideMemos];
  int count_ = 0;
  int cursor_ = 0;
};


int SphereSphere(const CollisionPrimitive* a, const CollisionPrimitive* b, float margin, ContactManifold* out) {
  Vec3 d = a->world.pos - b->world.pos;
  float dist = Vec3_Norm(d), rs = a->radius + b->radius;
  if (dist - rs > margin) return 0;
  Vec3 n = dist > 1e-9f ? d * (1.0f / dist) : V3(0, 1, 0);
  out->points[0] = {b->world.pos + n * b->radius, n, rs - dist, 0};
  out->count = 1;
  return 1;
}

// Whether p, in the plane of the hull's face f, lies inside that face.
bool InsideFace(const ConvexHull* hull, int f, Vec3 p) {
  const HullFace& face = hull->faces[f];
  const Vec3* v = hull->vertices.Data();
  const uint16_t* idx = hull->faceVertices.Data() + face.first;
  for (int k = 0; k < face.count; ++k) {
    Vec3 a = v[idx[k]], b = v[idx[k + 1 < face.count ? k + 1 : 0]];
    if (Vec3_Dot(Vec3_Cross(b - a, p - a), face.normal) < 0.0f) return false;
  }
  return true;
}

// Sphere s against hull h; the normal points from h to s, flipped when the
// sphere is the caller's b. A centre over a face has the face's normal;
// beside the faces, GJK finds the nearest edge or corner.
int SphereHull(const CollisionPrimitive* s, const CollisionPrimitive* h, float margin, bool sphereIsB,
               ContactManifold* out) {
  const ConvexHull* hull = static_cast<const ConvexPrimitive*>(h)->Hull();
  Vec3 c = Frame3_ApplyInv(h->world, s->world.pos);
  float r = s->radius;
  // Deepest face: decides whether the centre is inside.
  int bestFace = 0;
  float bestSep = -3.4e38f;
  for (int f = 0; f < hull->faces.Count(); ++f) {
    float d = Vec3_Dot(hull->faces[f].normal, c) - hull->faces[f].offset;
    if (d > bestSep) { bestSep = d; bestFace = f; }
  }
  if (bestSep - r > margin) return 0;
  // Outside: the closest hull point (GJK) gives the normal. Inside, or
  // touching within rounding: pushed out through the nearest face.
  Vec3 n = hull->faces[bestFace].normal, onHull = c - n * bestSep;
  float depth = r - bestSep;
  uint32_t feature = uint32_t(bestFace);
  if (bestSep > 0.0f && !InsideFace(hull, bestFace, onHull)) {
    // Beside the face: an edge or a corner is nearest.
    Vec3 zero{0, 0, 0};
    GjkShape gs{&zero, 1, Frame3{Mat3_Identity(), c}, 0.0f};
    GjkShape gh{hull->vertices.Data(), hull->vertices.Count(), Frame3_Identity(), 0.0f};
    GjkResult g;
    Gjk_Distance(gs, gh, &g);
    float proven = g.overlap ? -1.0f : Vec3_Dot(g.axis, c) + SupportMin(hull->vertices.Data(), hull->vertices.Count(), -g.axis);
    if (!g.overlap && proven - r > margin) return 0;
    if (GjkNormalHolds(g, proven)) {
      n = (c - g.pointB) * (1.0f / g.distance);
      onHull = g.pointB;
      depth = r - g.distance;
    }
  }
  if (bestSep > 0.0f) feature |= 0x100u;
  Vec3 nw = Mat3_Mul(h->world.rot, n);
  Vec3 pw = Frame3_Apply(h->world, onHull);
  if (sphereIsB)
    out->points[0] = {pw - nw * depth, -nw, depth, feature};  // on the sphere's (b's) surface
  else
    out->points[0] = {pw, nw, depth, feature};
  out->count = 1;
  return 1;
}

// Sphere s against mesh m (two-sided: each triangle pushes towards the side
// of the sphere's centre).
int SphereMesh(const CollisionPrimitive* s, const CollisionPrimitive* mp, float margin, bool sphereIsB,
               bool remember, ContactManifold* out) {
  const MeshContainer* mesh = static_cast<const MeshPrimitive*>(mp)->Mesh();
  Vec3 c = Frame3_ApplyInv(mp->world, s->world.pos);
  float r = s->radius, reach = r + margin;
  CandidateSet set;
  SideMemory memory(s, mp, remember);
  MeshContainer_QuerySphere(mesh, c, reach, [&](const MeshTriangle& t) {
    int region;
    Vec3 q = Geometry_ClosestOnTriangle(c, t.a, t.b, t.c, &region);
    Vec3 d = c - q;
    float dist2 = Vec3_LengthSq(d);
    if (dist2 > reach * reach) return;
    float dist = std::sqrt(dist2);
    float planeDist = Vec3_Dot(c - t.a, t.normal);
    int side = memory.Side(t.index, planeDist);
    memory.Touched(t.index, side, dist);
    Vec3 front = t.normal * float(side);
    Vec3 n;
    float depth;
    if (planeDist * float(side) < 0.0f) {
      // The centre went through the plane: out the way it came in, through
      // the triangle it went through (its neighbours are remembered too).
      if (region != 0 && Vec3_LengthSq(c - t.normal * planeDist - q) > 1e-8f * (1.0f + Vec3_LengthSq(q))) return;
      n = front;
      depth = r - Vec3_Dot(d, front);
    } else if (dist > 1e-6f) {
      n = d * (1.0f / dist);
      depth = r - dist;
    } else {
      n = front;  // centre on the triangle
      depth = r;
    }
    // Straight above an edge or corner the normal is the face's own: that
    // contact counts as a face contact for the ghost filter below.
    bool face = region == 0 || std::fabs(Vec3_Dot(n, t.normal)) > 1.0f - 1e-5f;
    set.Add({q, n, depth, t.index * 8u + uint32_t(region), face, V3(0, 0, 0)});
  });
  memory.Commit();
  // A flat continuation of a face contact must not add a tilted edge
  // contact (the sphere would bump at internal edges).
  FilterMeshCandidates(&set, 1e-4f, 1e-6f);
  for (int i = 0; i < set.count; ++i) {
    Candidate& x = set.c[i];
    Vec3 nw = Mat3_Mul(mp->world.rot, x.normal);
    Vec3 pw = Frame3_Apply(mp->world, x.position);
    if (sphereIsB) {
      x.position = pw - nw * x.depth;
      x.normal = -nw;
    } else {
      x.position = pw;
      x.normal = nw;
    }
  }
  return Reduce(set, out);
}

// Whether b has moved relative to a so little since the cache was written
// that the feature found then still holds: a few millimetres and about one
// degree. Farther, the features may change and the full test runs again.
bool CloseToCached(const Frame3& rel, const NarrowPhaseCache& c, float size) {
  Vec3 d = rel.pos - c.relative.pos;
  if (Vec3_LengthSq(d) > (kCacheMove * size) * (kCacheMove * size)) return false;
  for (int i = 0; i < 3; ++i) {
    Vec3 r = rel.rot.r[i] - c.relative.rot.r[i];
    if (std::fabs(r.x) > kCacheTurn || std::fabs(r.y) > kCacheTurn || std::fabs(r.z) > kCacheTurn) return false;
  }
  return true;
}

// Whether b stands within the replay tolerances of where it stood at the
// clip the cache's manifold comes from.
bool CloseToReplay(const Frame3& rel, const NarrowPhaseCache& c, float size) {
  Vec3 d = rel.pos - c.replayRelative.pos;
  if (Vec3_LengthSq(d) > (kReplayMove * size) * (kReplayMove * size)) return false;
  for (int i = 0; i < 3; ++i) {
    Vec3 r = rel.rot.r[i] - c.replayRelative.rot.r[i];
    if (std::fabs(r.x) > kReplayTurn || std::fabs(r.y) > kReplayTurn || std::fabs(r.z) > kReplayTurn) return false;
  }
  return true;
}

// The cache's face manifold at b's pose rel (in a's frame): each incident
// point stays where it is on its body, its separation from the reference
// face is measured afresh (a point beyond the margin is dropped), as a clip
// of the same feature would place it. Returns the point count.
int Replay(const ConvexHull* ha, const ConvexHull* hb, const Frame3& aWorld, const Frame3& rel, float margin,
           const NarrowPhaseCache& c, ContactManifold* out) {
  int n = 0;
  if (c.kind == NARROW_CACHE_FACE_A) {
    // Reference face on A; the incident points are b's (kept in b's frame).
    const HullFace& f = ha->faces[c.index];
    Vec3 nBA = -Mat3_Mul(aWorld.rot, f.normal);
    for (int k = 0; k < c.replayCount; ++k) {
      Vec3 x = Frame3_Apply(rel, c.replayPoint[k]);
      float sep = Vec3_Dot(f.normal, x) - f.offset;
      if (sep <= margin) out->points[n++] = {Frame3_Apply(aWorld, x), nBA, -sep, c.replayFeature[k]};
    }
  } else {
    // Reference face on B; the incident points are a's.
    const HullFace& f = hb->faces[c.index];
    Vec3 refN = Mat3_Mul(rel.rot, f.normal);
    float refD = f.offset + Vec3_Dot(refN, rel.pos);
    Vec3 nBA = Mat3_Mul(aWorld.rot, refN);
    for (int k = 0; k < c.replayCount; ++k) {
      Vec3 x = c.replayPoint[k];
      float sep = Vec3_Dot(refN, x) - refD;
      if (sep <= margin) out->points[n++] = {Frame3_Apply(aWorld, x - refN * sep), nBA, -sep, c.replayFeature[k]};
    }
  }
  out->count = n;
  return n;
}

int HullHull(const CollisionPrimitive* a, const CollisionPrimitive* b, float margin, ContactManifold* out,
             NarrowPhaseCache* cache) {
  const ConvexHull* ha = static_cast<const ConvexPrimitive*>(a)->Hull();
  const ConvexHull* hb = static_cast<const ConvexPrimitive*>(b)->Hull();
  Frame3 rel = Frame3_InverseTimes(a->world, b->world);
  const Vec3* av = ha->vertices.Data();
  int an = ha->vertices.Count();
  if (cache && cache->kind == NARROW_CACHE_APART) {
    // A separating axis stays one as long as it separates: one pass over
    // the vertices instead of GJK (no motion limit needed).
    Vec3 inB = Frame3_RotateInv(rel, cache->axis);
    float gap = SupportMin(hb->vertices.Data(), hb->vertices.Count(), inB) + Vec3_Dot(cache->axis, rel.pos) +
                SupportMin(av, an, -cache->axis);
    if (gap > margin) return 0;
  }
  float size = std::fmin(ha->boundingRadius, hb->boundingRadius);
  bool faceCached = cache && (cache->kind == NARROW_CACHE_FACE_A || cache->kind == NARROW_CACHE_FACE_B);
  if (faceCached && cache->replayCount > 0 && CloseToReplay(rel, *cache, size) &&
      Replay(ha, hb, a->world, rel, margin, *cache, out) > 0)
    return out->count;
  bool reuse = cache && (faceCached || cache->kind == NARROW_CACHE_EDGES) && CloseToCached(rel, *cache, size);
  GjkResult g{};
  float proven = -1.0f;  // separation along GJK's axis, checked on the supports
  if (!reuse) {
    // GJK first: most candidate pairs of the broad phase are apart.
    GjkShape ga{av, an, a->world, 0.0f};
    GjkShape gb{hb->vertices.Data(), hb->vertices.Count(), b->world, 0.0f};
    Gjk_Distance(ga, gb, &g, margin);
    if (!g.overlap) {
      Vec3 toB = Frame3_RotateInv(a->world, -g.axis);
      proven = SeparationAlong(av, an, hb->vertices.Data(), hb->vertices.Count(), rel, -toB);
      if (proven > margin) {
        if (cache) *cache = CacheOf(rel, toB, NARROW_CACHE_APART, 0, 0);
        return 0;
      }
    }
  }
  // Separating axes and clipping in A's local space: B's vertices, face
  // planes and edge arcs are moved there once.
  int bn = hb->vertices.Count(), bf = hb->faces.Count(), be = hb->edges.Count();
  size_t bytes = sizeof(Vec3) * size_t(bn + bf) + sizeof(float) * size_t(bf) + sizeof(EdgeArc) * size_t(be);
  alignas(16) unsigned char local[16384];
  void* block = bytes <= sizeof local ? local : Physics_Allocate(bytes, PHYS_MEM_CONTACT);
  if (!block) return 0;
  EdgeArc* arcs = static_cast<EdgeArc*>(block);
  Vec3* verts = reinterpret_cast<Vec3*>(arcs + be);
  Vec3* faceN = verts + bn;
  float* faceD = reinterpret_cast<float*>(faceN + bf);
  const Vec3* bv = hb->vertices.Data();
  for (int i = 0; i < bn; ++i) verts[i] = Frame3_Apply(rel, bv[i]);
  for (int f = 0; f < bf; ++f) {
    faceN[f] = Mat3_Mul(rel.rot, hb->faces[f].normal);
    faceD[f] = hb->faces[f].offset + Vec3_Dot(faceN[f], rel.pos);
  }
  Polytope B{verts, bn, faceN, faceD, bf, hb->faces.Data(), hb->faceVertices.Data(), arcs, be, false};
  // The edge arcs serve the separating-axis search and edge contacts only:
  // a face contact clipped again (the usual case between resting hulls)
  // goes without them.
  auto withArcs = [&]() -> const Polytope& {
    for (int e = 0; e < be; ++e) {
      const HullEdge& he = hb->edges[e];
      EdgeArc& arc = arcs[e];
      arc.p = verts[he.v0];
      arc.dir = verts[he.v1] - verts[he.v0];
      arc.c = -faceN[he.f0];
      arc.d = -faceN[he.f1];
      arc.dxc = Vec3_Cross(arc.d, arc.c);
      arc.edge = e;
      arc.unpaired = he.f0 == he.f1;
    }
    return B;
  };
  CandidateSet set;
  if (reuse) {
    // Barely moved since the last full test: the same feature again.
    if (cache->kind == NARROW_CACHE_EDGES)
      EdgeContact(ha, withArcs(), cache->index, cache->index2, a->world, margin, 0, &set);
    else
      FaceContact(ha, B, cache->kind == NARROW_CACHE_FACE_B, cache->index, a->world, margin, false, 0, &set);
    if (set.count == 0) {
      // The feature no longer touches: search afresh.
      GjkShape ga{av, an, a->world, 0.0f};
      GjkShape gb{hb->vertices.Data(), hb->vertices.Count(), b->world, 0.0f};
      Gjk_Distance(ga, gb, &g, margin);
      reuse = false;
      if (!g.overlap) {
        Vec3 toB = Frame3_RotateInv(a->world, -g.axis);
        proven = SeparationAlong(av, an, verts, bn, -toB);
        if (proven > margin) {
          if (block != local) Physics_FreeSized(block, bytes, PHYS_MEM_CONTACT);
          *cache = CacheOf(rel, toB, NARROW_CACHE_APART, 0, 0);
          return 0;
        }
      }
    }
  }
  NarrowPhaseCache found = CacheOf(rel, V3(0, 0, 0), NARROW_CACHE_NONE, 0, 0);
  Vec3 nBA = g.axis;
  Vec3 toB = Frame3_RotateInv(a->world, -nBA);
  if (!reuse && GjkNormalHolds(g, proven)) {
    // Apart within the margin: GJK's closest points give the normal, so the
    // separating-axis search is not needed. The reference face is the one
    // most aligned with that normal; if clipping keeps nothing (a corner or
    // an edge is nearest), the closest points themselves are the contact.
    int fa = 0, fb = 0;
    float da = -2.0f, db = -2.0f;
    for (int f = 0; f < ha->faces.Count(); ++f) {
      float d = Vec3_Dot(ha->faces[f].normal, toB);
      if (d > da) { da = d; fa = f; }
    }
    for (int f = 0; f < bf; ++f) {
      float d = -Vec3_Dot(faceN[f], toB);
      if (d > db) { db = d; fb = f; }
    }
    bool useB = db > da + 1e-3f;
    FaceContact(ha, B, useB, useB ? fb : fa, a->world, margin, false, 0, &set);
    if (set.count == 0)
      AddContact(&set, g.pointA, g.pointB, nBA, -g.distance, 0xC0000000u, false, false);
    else
      found = CacheOf(rel, V3(0, 0, 0), useB ? NARROW_CACHE_FACE_B : NARROW_CACHE_FACE_A, useB ? fb : fa, 0);
  } else if (!reuse) {
    HullPolytope(ha, withArcs(), a->world, margin, false, 0, &set, &found);
    found.relative = rel;
  }
  if (cache && !reuse) *cache = found;
  if (block != local) Physics_FreeSized(block, bytes, PHYS_MEM_CONTACT);
  int chosen[4];
  int n = Reduce(set, out, chosen);
  if (cache) {
    // A face manifold is kept for replay: its incident points on their own
    // bodies (b's for a reference face on A, else a's).
    cache->replayCount = 0;
    if (cache->kind == NARROW_CACHE_FACE_A || cache->kind == NARROW_CACHE_FACE_B) {
      for (int k = 0; k < n; ++k) {
        Vec3 x = set.c[chosen[k]].incident;
        cache->replayPoint[k] = cache->kind == NARROW_CACHE_FACE_A ? Frame3_ApplyInv(rel, x) : x;
        cache->replayFeature[k] = out->points[k].feature;
      }
      cache->replayCount = n;
      cache->replayRelative = rel;
    }
  }
  return n;
}

// The manifold a cache keeps of a hull against a mesh at the hull's pose
// rel (in the mesh's frame), as ReplayMesh reads it back.
void KeepMesh(const ContactManifold& out, const CollisionPrimitive* h, const CollisionPrimitive* mp, bool hullIsB,
              const Frame3& rel, NarrowPhaseCache* cache) {
  *cache = NarrowPhaseCache{};
  cache->kind = NARROW_CACHE_MESH;
  cache->replayRelative = rel;
  cache->replayCount = out.count;
  for (int k = 0; k < out.count; ++k) {
    // A point on b's surface, its normal from b towards a: a's end lies
    // its depth back along the normal.
    const ContactPoint& c = out.points[k];
    Vec3 onA = c.position - c.normal * c.depth;
    Vec3 onHull = hullIsB ? c.position : onA, onMesh = hullIsB ? onA : c.position;
    cache->replayPoint[k] = Frame3_ApplyInv(h->world, onHull);
    cache->replayOn[k] = Frame3_ApplyInv(mp->world, onMesh);
    cache->replayNormal[k] = Frame3_RotateInv(mp->world, hullIsB ? -c.normal : c.normal);
    cache->replayFeature[k] = c.feature;
  }
}

// The kept manifold of a hull against a mesh at the hull's pose rel (see
// KeepMesh; points beyond the margin dropped). Returns the point count.
int ReplayMesh(const NarrowPhaseCache& c, const CollisionPrimitive* mp, bool hullIsB, const Frame3& rel, float margin,
               ContactManifold* out) {
  int n = 0;
  for (int k = 0; k < c.replayCount; ++k) {
    Vec3 onHull = Frame3_Apply(rel, c.replayPoint[k]);
    float sep = Vec3_Dot(c.replayNormal[k], onHull - c.replayOn[k]);
    if (sep > margin) continue;
    Vec3 normal = Mat3_Mul(mp->world.rot, c.replayNormal[k]);
    Vec3 onB = Frame3_Apply(mp->world, hullIsB ? onHull : c.replayOn[k]);
    out->points[n++] = {onB, hullIsB ? -normal : normal, -sep, c.replayFeature[k]};
  }
  out->count = n;
  return n;
}

int HullMesh(const CollisionPrimitive* h, const CollisionPrimitive* mp, float margin, bool hullIsB, bool remember,
             ContactManifold* out, NarrowPhaseCache* cache) {
  const ConvexHull* hull = static_cast<const ConvexPrimitive*>(h)->Hull();
  const MeshContainer* mesh = static_cast<const MeshPrimitive*>(mp)->Mesh();
  const Vec3* hv = hull->vertices.Data();
  int hn = hull->vertices.Count();
  // The hull's bounding sphere in mesh space selects the triangles, which
  // are then moved into hull space.
  Frame3 hullInMesh = Frame3_InverseTimes(mp->world, h->world);
  if (cache && cache->kind == NARROW_CACHE_MESH && cache->replayCount > 0 &&
      CloseToReplay(hullInMesh, *cache, hull->boundingRadius) &&
      ReplayMesh(*cache, mp, hullIsB, hullInMesh, margin, out) > 0) {
    if (remember) SideMemory(h, mp, true).Renew();
    return out->count;
  }
  Frame3 meshInHull = Frame3_InverseTimes(h->world, mp->world);
  CandidateSet set;
  Vec3 centroid = hull->centroid;
  float reach = hull->boundingRadius + margin;
  GjkShape gh{hv, hn, Frame3_Identity(), 0.0f};
  SideMemory memory(h, mp, remember);
  MeshContainer_QuerySphere(mesh, Frame3_Apply(hullInMesh, centroid), reach, [&](const MeshTriangle& t) {
    Vec3 v[3] = {Frame3_Apply(meshInHull, t.a), Frame3_Apply(meshInHull, t.b), Frame3_Apply(meshInHull, t.c)};
    // Bounding-sphere cull: cheaper than GJK for the corners of the query box.
    int region;
    Vec3 near = Geometry_ClosestOnTriangle(centroid, v[0], v[1], v[2], &region);
    if (Vec3_LengthSq(near - centroid) > reach * reach) return;
    // The direction from the hull's centre to the triangle's nearest point
    // separates most triangles beside the hull: past the triangle's nearest
    // point nothing of it lies closer along it.
    Vec3 toward = near - centroid;
    float len2 = Vec3_LengthSq(toward);
    if (len2 > 1e-12f) {
      toward = toward * (1.0f / std::sqrt(len2));
      if (Vec3_Dot(toward, near) + SupportMin(hv, hn, -toward) > margin) return;
    }
    Vec3 n = Mat3_Mul(meshInHull.rot, t.normal);
    // Two-sided: the front is the side the hull was on when it last touched
    // the triangle, else the side of its centre.
    float centreSide = Vec3_Dot(n, centroid - v[0]);
    int side = memory.Side(t.index, centreSide);
    bool crossed = centreSide * float(side) < 0.0f;
    n = n * float(side);
    // One test against the triangle's plane before GJK: most triangles near
    // a hull resting on a mesh lie under it, clear of it by more than the
    // margin (the bounding sphere first, then the hull's lowest vertex).
    float d = Vec3_Dot(n, v[0]);
    float above = Vec3_Dot(n, centroid) - d;
    if (above - hull->boundingRadius > margin) return;
    if (above > margin && SupportMin(hv, hn, n) - d > margin) return;
    // GJK first: most triangles of the query box are apart, and for those
    // within the margin its closest points give the normal.
    GjkShape gt{v, 3, Frame3_Identity(), 0.0f};
    GjkResult g;
    Gjk_Distance(gh, gt, &g, margin);
    float proven = g.overlap ? -1.0f : SeparationAlong(hv, hn, v, 3, g.axis);
    if (proven > margin) return;
    memory.Touched(t.index, side, g.distance);
    // The triangle as a polytope, only for the triangles within the margin.
    // Each side spans the half circle from n through its outward normal m to
    // -n; negated for the difference, and cut in two quarter arcs.
    EdgeArc arcs[6];
    for (int e = 0; e < 3; ++e) {
      Vec3 dir = v[(e + 1) % 3] - v[e];
      Vec3 m = Vec3_Cross(dir, n);
      if (Vec3_Dot(m, v[(e + 2) % 3] - v[e]) > 0.0f) m = -m;
      m = Vec3_Unit(m);
      arcs[2 * e] = {v[e], dir, -n, -m, Vec3_Cross(-m, -n), e, 0};
      arcs[2 * e + 1] = {v[e], dir, -m, n, Vec3_Cross(n, -m), e, 0};
    }
    Polytope B{v, 3, &n, &d, 1, nullptr, nullptr, arcs, 6, true};
    uint32_t salt = t.index * 2654435761u;
    if (crossed) {
      // Pressed through the plane: back out along the remembered front.
      FaceContact(hull, B, true, 0, h->world, margin, hullIsB, salt, &set);
      return;
    }
    Vec3 nBA = g.axis;  // hull space, triangle -> hull
    if (!GjkNormalHolds(g, proven)) {
      HullPolytope(hull, B, h->world, margin, hullIsB, salt, &set);
      return;
    }
    if (Vec3_Dot(nBA, n) > 0.7f) {
      FaceContact(hull, B, true, 0, h->world, margin, hullIsB, salt, &set);
      return;
    }
    int before = set.count;
    int fa = 0;
    float da = -2.0f;
    for (int f = 0; f < hull->faces.Count(); ++f) {
      float dd = -Vec3_Dot(hull->faces[f].normal, nBA);
      if (dd > da) { da = dd; fa = f; }
    }
    FaceContact(hull, B, false, fa, h->world, margin, hullIsB, salt, &set);
    if (set.count == before)
      AddContact(&set, Frame3_Apply(h->world, g.pointA), Frame3_Apply(h->world, g.pointB),
                 Mat3_Mul(h->world.rot, nBA), -g.distance, salt ^ 0xC0000000u, false, hullIsB);
  });
  memory.Commit();
  // Edge contacts flat in the plane of a triangle-face contact are ghosts;
  // the same hull corner on two triangles sharing an edge counts once.
  FilterMeshCandidates(&set, 1e-3f, 1e-8f);
  int n = Reduce(set, out);
  if (cache) KeepMesh(*out, h, mp, hullIsB, hullInMesh, cache);
  return n;
}

}  // namespace

namespace {

int Collide(const CollisionPrimitive* a, const CollisionPrimitive* b, float margin, bool remember,
            ContactManifold* out, NarrowPhaseCache* cache) {
  out->count = 0;
  if (!a || !b || !(margin >= 0.0f)) return 0;
  uint32_t ka = a->kind, kb = b->kind;
  if (ka == PRIMITIVE_KIND_SPHERE) {
    if (kb == PRIMITIVE_KIND_SPHERE) return SphereSphere(a, b, margin, out);
    if (kb == PRIMITIVE_KIND_CONVEX) return SphereHull(a, b, margin, false, out);
    if (kb == PRIMITIVE_KIND_MESH) return SphereMesh(a, b, margin, false, remember, out);
  } else if (ka == PRIMITIVE_KIND_CONVEX) {
    if (kb == PRIMITIVE_KIND_SPHERE) return SphereHull(b, a, margin, true, out);
    if (kb == PRIMITIVE_KIND_CONVEX) return HullHull(a, b, margin, out, cache);
    if (kb == PRIMITIVE_KIND_MESH) return HullMesh(a, b, margin, false, remember, out, cache);
  } else if (ka == PRIMITIVE_KIND_MESH) {
    if (kb == PRIMITIVE_KIND_SPHERE) return SphereMesh(b, a, margin, true, remember, out);
    if (kb == PRIMITIVE_KIND_CONVEX) return HullMesh(b, a, margin, true, remember, out, cache);
  }
  return 0;
}

}  // namespace

int NarrowPhase_Collide(const CollisionPrimitive* a, const CollisionPrimitive* b, float margin,
                        ContactManifold* out, NarrowPhaseCache* cache) {
  return Collide(a, b, margin, true, out, cache);
}

int NarrowPhase_CollideStateless(const CollisionPrimitive* a, const CollisionPrimitive* b, float margin,
                                 ContactManifold* out) {
  return Collide(a, b, margin, false, out, nullptr);
}
