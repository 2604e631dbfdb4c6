// Shapes and bodies shared by the physics tests (and the physics benchmark
// through its scenes): meshes as plain grids, box hulls, primitive
// descriptions.
#pragma once

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "physics/base/phys_warning.h"
#include "physics/collision/collision_body.h"
#include "physics/collision/convex_hull.h"
#include "physics/collision/mesh_container.h"

// A static triangle mesh: vertices of four floats (x, y, z, unused) and
// triples of 16-bit indices.
struct SceneMesh {
  std::vector<float> vertices;
  std::vector<uint16_t> indices;
};

// A square grid of cells x cells over [-half, half]^2 in x and z, its
// corners at the given heights, two triangles per cell.
inline SceneMesh Grid_Mesh(int cells, float half, float (*height)(float x, float z)) {
  SceneMesh m;
  for (int j = 0; j <= cells; ++j)
    for (int i = 0; i <= cells; ++i) {
      float x = -half + 2 * half * float(i) / float(cells);
      float z = -half + 2 * half * float(j) / float(cells);
      m.vertices.insert(m.vertices.end(), {x, height(x, z), z, 0.0f});
    }
  for (int j = 0; j < cells; ++j)
    for (int i = 0; i < cells; ++i) {
      uint16_t a = uint16_t(j * (cells + 1) + i), b = uint16_t(a + 1);
      uint16_t c = uint16_t(a + cells + 1), d = uint16_t(c + 1);
      m.indices.insert(m.indices.end(), {a, c, b, b, c, d});
    }
  return m;
}

namespace collision_test {

inline void ExpectNear(Vec3 a, Vec3 b, float tol = 1e-5f) {
    for (const auto& [got, want] : {std::pair{a.x, b.x}, {a.y, b.y}, {a.z, b.z}}) EXPECT_NEAR(got, want, tol);
}

// Counts the engine's warnings while it lives, and keeps them off the output.
struct Warnings {
  Warnings() : old(Physics_SetWarningHook([](const char*, const char*, const char*, int) { ++count; })) { count = 0; }
  ~Warnings() { Physics_SetWarningHook(old); }
  static inline int count = 0;
  PhysWarningHook old;
};

inline Transform Pose(float x, float y, float z, Quat q = Quat{0, 0, 0, 1}) {
  Transform t;
  t.rotation = q;
  t.position = V3(x, y, z);
  return t;
}

// The mesh as a container; the caller releases it.
inline MeshContainer* MeshOf(const SceneMesh& m) {
  MeshContainer* mesh = MeshContainer_Construct();
  MeshContainer_AddVertices(mesh, m.vertices.data(), int(m.vertices.size() / 4));
  MeshContainer_AddTriangles(mesh, m.indices.data(), int(m.indices.size() / 3));
  return mesh;
}

// A flat square grid in y = 0, cells x cells of size `cell`, centred on the
// origin; the caller releases it.
inline MeshContainer* GroundMesh(int cells, float cell) {
  return MeshOf(Grid_Mesh(cells, cells * cell * 0.5f, [](float, float) { return 0.0f; }));
}

// A wall in the plane x = 0, 4 x 4, as two triangles; the caller releases it.
inline MeshContainer* WallMesh()
{
    return MeshOf({{0, -2, -2, 0, 0, 2, -2, 0, 0, -2, 2, 0, 0, 2, 2, 0}, {0, 1, 2, 1, 3, 2}});
}

// A hull of the points (qhull keeps the outer ones) with the engine layer's
// merge parameters; the caller releases it.
inline ConvexHull* HullOf(const std::vector<Vec3>& points) {
  std::vector<float> pts;
  for (const Vec3& p : points) pts.insert(pts.end(), {p.x, p.y, p.z, 0.0f});
  const float params[4] = {0.001f, 0.01f, 0.02f, 0.992f};
  return ConvexHull_Build(pts.data(), int(points.size()), params, 0.01f);
}

// A box hull with half extents (hx, hy, hz); the caller releases it.
inline ConvexHull* BoxHull(float hx, float hy, float hz) {
  std::vector<Vec3> p;
  for (int i = 0; i < 8; ++i) p.push_back(V3(i & 1 ? hx : -hx, i & 2 ? hy : -hy, i & 4 ? hz : -hz));
  return HullOf(p);
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
