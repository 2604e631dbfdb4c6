// CollisionShape: the shared geometry behind collision primitives (convex
// hulls and triangle meshes). Several primitives, and the primitives of
// cloned bodies, use one shape, so a shape is reference counted: whoever
// builds it holds the first reference, each primitive takes one more, and the
// last release destroys it.
#pragma once

#include <cstdint>

#include "physics/base/phys_object.h"
#include "physics/collision/collision_geometry.h"

enum CollisionShapeKind {
  COLLISION_SHAPE_MESH = 4,
  COLLISION_SHAPE_CONVEX = 1024,
};

class CollisionShape : public PhysObject {
public:
  PHYS_DECLARE_MEMCLASS(PHYS_MEM_SHAPE)
  explicit CollisionShape(uint32_t k) : kind(k) {}

  uint32_t kind;          // CollisionShapeKind
  int32_t references = 1; // the builder's reference counts as one
  Aabb localBounds{};     // bounds in the shape's own space
};

// Takes one more reference (null ignored).
void CollisionShape_Retain(CollisionShape* shape);
// Drops one reference; the last one destroys the shape (null ignored).
void CollisionShape_Release(CollisionShape* shape);
