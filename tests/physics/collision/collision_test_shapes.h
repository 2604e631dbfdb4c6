// Shapes and bodies shared by the collision tests.
#pragma once

#include <vector>

#include "physics/collision/collision_body.h"
#include "physics/collision/convex_hull.h"
#include "physics/collision/mesh_container.h"

namespace collision_test {

inline Transform Pose(float x, float y, float z, Quat q = Quat{0, 0, 0, 1}) {
  Transform t;
  t.rotation = q;
  t.position = V3(x, y, z);
  return t;
}

// A box hull with half extents (hx, hy, hz); the caller releases it.
inline ConvexHull* BoxHull(float hx, float hy, float hz) {
  std::vector<float> p;
  for (int i = 0; i < 8; ++i) {
    p.push_back(i & 1 ? hx : -hx);
    p.push_back(i & 2 ? hy : -hy);
    p.push_back(i & 4 ? hz : -hz);
    p.push_back(0);
  }
  const float params[4] = {0.001f, 0.01f, 0.02f, 0.992f};
  return ConvexHull_Build(p.data(), 8, params, 0.01f);
}

// A flat square grid at height y, cells x cells of size `cell`, centred on
// the origin; the caller releases it.
inline MeshContainer* GroundMesh(int cells, float cell, float y) {
  MeshContainer* m = MeshContainer_Construct();
  std::vector<float> v;
  float half = cells * cell * 0.5f;
  for (int j = 0; j <= cells; ++j)
    for (int i = 0; i <= cells; ++i) {
      v.push_back(-half + i * cell);
      v.push_back(y);
      v.push_back(-half + j * cell);
      v.push_back(0);
    }
  MeshContainer_AddVertices(m, v.data(), (cells + 1) * (cells + 1));
  std::vector<uint16_t> t;
  for (int j = 0; j < cells; ++j)
    for (int i = 0; i < cells; ++i) {
      uint16_t a = uint16_t(j * (cells + 1) + i), b = uint16_t(a + 1), c = uint16_t(a + cells + 1),
               d = uint16_t(c + 1);
      t.insert(t.end(), {a, c, b, b, c, d});
    }
  MeshContainer_AddTriangles(m, t.data(), cells * cells * 2);
  return m;
}

inline PrimitiveDesc SphereDesc(float r) {
  PrimitiveDesc d{};
  d.type = PRIMITIVE_TYPE_SPHERE;
  d.radius = r;
  Transform_SetIdentity(&d.transform);
  d.mass = 1;
  return d;
}

inline PrimitiveDesc ShapeDesc(CollisionShape* shape) {
  PrimitiveDesc d{};
  d.type = PRIMITIVE_TYPE_SHAPE;
  d.shape = shape;
  d.convex = shape->kind == COLLISION_SHAPE_CONVEX;
  Transform_SetIdentity(&d.transform);
  d.mass = 1;
  return d;
}

// Adds a shape to a body and drops the test's own reference to it.
inline CollisionPrimitive* AddShape(CollisionBody* body, CollisionShape* shape) {
  CollisionPrimitive* p = CollisionBody_AddPrimitive(body, ShapeDesc(shape));
  CollisionShape_Release(shape);
  return p;
}

}  // namespace collision_test
