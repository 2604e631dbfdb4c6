// Narrow phase: the contact manifold of two primitives at their current
// world frames.
//
// Pairs handled: sphere-sphere, sphere-hull, sphere-mesh, hull-hull and
// hull-mesh (in either order). Mesh-mesh gives nothing: meshes are static.
// Meshes are two-sided; each triangle pushes a body back out on the side its
// centre is on, which is the side it came from unless it tunnelled (the
// dynamics sweeps fast small bodies to prevent that).
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

// Fills out with the contacts of a and b where the gap is at most margin.
// Returns the point count (0 for no contact or an unsupported pair).
int NarrowPhase_Collide(const CollisionPrimitive* a, const CollisionPrimitive* b, float margin,
                        ContactManifold* out);
