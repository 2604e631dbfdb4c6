// Narrow phase: the contact manifold of two primitives at their current
// world frames.
//
// Pairs handled: sphere-sphere, sphere-hull, sphere-mesh, hull-hull and
// hull-mesh (in either order). Mesh-mesh gives nothing: meshes are static.
// Meshes are two-sided; each triangle pushes a body back out on the side it
// came from: the side it was on when it last touched that triangle, else the
// side its centre is on (the dynamics sweeps fast small bodies so that they
// do not tunnel).
//
// Hulls: GJK rejects pairs apart by more than the margin and gives the normal
// of pairs apart within it; overlapping pairs take the separating-axis test
// (face normals, and edge pairs pruned on the Gauss map). The manifold is the
// incident face clipped against the reference face, reduced to the outline
// of the contact patch and at most four points. Against a mesh, a triangle
// whose plane the hull clears by more than the margin is dropped before GJK.
#pragma once

#include <cstdint>

#include "physics/collision/collision_geometry.h"

class CollisionPrimitive;

struct ContactPoint {
  Vec3 position;     // world point on b's surface; a's surface point is position - normal * depth
  Vec3 normal;       // unit, from b towards a: the direction a is pushed out of b
  float depth;       // penetration (> 0) or gap (< 0, at most the margin)
  uint32_t feature;  // identifies the pair of features that made the point, for warm starting
};

struct ContactManifold {
  int count;  // 0..4
  ContactPoint points[4];
};

enum NarrowPhaseCacheKind {
  NARROW_CACHE_NONE = 0,
  NARROW_CACHE_APART = 1,   // `axis` separated the pair by more than the margin
  NARROW_CACHE_FACE_A = 2,  // contact on a's face `index`
  NARROW_CACHE_FACE_B = 3,  // contact on b's face `index`
  NARROW_CACHE_EDGES = 4,   // contact of a's edge `index` with b's edge `index2`
  NARROW_CACHE_MESH = 5,    // a hull against a mesh: only the manifold is kept, for replay
};

// What the last full test of a hull pair found, kept by the caller from one
// sub-step to the next. A separating axis is checked again first (one pass
// over the vertices instead of GJK); a contact feature is clipped again
// without the separating-axis search while b has moved relative to a by less
// than about 2% of the smaller hull's size and one degree since that test.
// Beyond that, or when the feature no longer touches, the full test runs and
// rewrites the cache. Hull pairs and hulls against meshes use it; other
// pairs leave it NONE.
//
// A face contact's manifold is kept too, and while b stays within a hair of
// where it was at that clip (0.02% of the smaller hull's size, about 0.01
// degree: a resting pair) it is replayed instead of clipped again: each
// point stays on its body and its depth is measured afresh. Against a mesh
// the whole manifold is kept and replayed so (each point's two ends stay on
// their bodies, its depth measured along its normal, which stays with the
// mesh), and the sides the hull remembers of the mesh's triangles are kept
// as they are.
struct NarrowPhaseCache {
  Frame3 relative;  // b in a's local frame at the full test
  Vec3 axis;        // APART: unit direction in a's frame, from a towards b
  int32_t kind;     // NarrowPhaseCacheKind
  int32_t index;
  int32_t index2;
  int32_t replayCount;    // points of the kept manifold (0: none)
  Frame3 replayRelative;  // b in a's local frame at the clip it comes from
  Vec3 replayPoint[4];    // incident points: in b's frame for FACE_A, in a's for FACE_B; the hull's for MESH
  uint32_t replayFeature[4];
  Vec3 replayOn[4];  // MESH: the points' ends on the mesh, and their normals (towards the hull), mesh frame
  Vec3 replayNormal[4];
};

// Fills out with the contacts of a and b where the gap is at most margin.
// Returns the point count (0 for no contact or an unsupported pair). Against
// a mesh, the body primitive remembers which side of each touched triangle
// it was on (see MeshSideMemo): call this once per pair and step. With a
// cache (zeroed for a new pair, then kept for the same a and b in the same
// order), hull pairs that barely moved skip the search (see above); null
// runs the full test.
int NarrowPhase_Collide(const CollisionPrimitive* a, const CollisionPrimitive* b, float margin,
                        ContactManifold* out, NarrowPhaseCache* cache = nullptr);
// The same test for queries: mesh sides come from the bodies' centres alone
// and nothing is remembered.
int NarrowPhase_CollideStateless(const CollisionPrimitive* a, const CollisionPrimitive* b, float margin,
                                 ContactManifold* out);
