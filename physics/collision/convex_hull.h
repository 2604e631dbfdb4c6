// ConvexHull: a convex polyhedron shape built from a point cloud with qhull.
//
// qhull triangulates its output; coplanar triangles are regrouped here into
// polygonal faces (a box has 6 faces, not 12), because contact manifolds are
// built by clipping faces and a triangulated face would give the wrong
// reference polygon. Edges are kept once each with their two faces, for the
// edge-edge axes of the separating-axis test.
#pragma once

#include <cstdint>

#include "physics/base/phys_array.h"
#include "physics/collision/collision_shape.h"

struct HullFace {
  Vec3 normal;     // outward unit normal
  float offset;    // plane: dot(normal, x) == offset
  uint16_t first;  // first index in faceVertices
  uint16_t count;  // vertices of the polygon, counter-clockwise about normal
};

struct HullEdge {
  uint16_t v0, v1;  // vertex indices
  uint16_t f0, f1;  // the two faces that share the edge
};

// The arc an edge spans on the Gauss map: its two face normals, and their
// cross product, used to prune edge pairs in the separating-axis test.
struct HullEdgeArc {
  Vec3 a, b;  // normals of faces f0 and f1
  Vec3 bxa;   // b x a
};

class ConvexHull : public CollisionShape {
public:
  ConvexHull() : CollisionShape(COLLISION_SHAPE_CONVEX) {}

  PhysArray<Vec3, PHYS_MEM_SHAPE> vertices;  // hull vertices only (interior points dropped)
  PhysArray<HullFace, PHYS_MEM_SHAPE> faces;
  PhysArray<uint16_t, PHYS_MEM_SHAPE> faceVertices;
  PhysArray<HullEdge, PHYS_MEM_SHAPE> edges;
  PhysArray<HullEdgeArc, PHYS_MEM_SHAPE> edgeArcs;  // one per edge
  Vec3 centroid{};      // centre of volume
  float boundingRadius = 0;  // largest distance of a vertex from the centroid
  float volume = 0;
  Mat3 unitInertia{};   // inertia about the centroid for a mass of 1
  float margin = 0;     // the margin given at build time (kept, not added to the shape)
};

// Largest coordinate magnitude ConvexHull_Build accepts.
constexpr float kHullMaxCoordinate = 1.0e6f;

// Builds a hull of count points given as four floats each (x, y, z, unused).
// params are the build's tolerances (the game's shapes use 0.001, 0.01,
// 0.02, 0.992):
//   [0] weld: a point closer than this to a point before it is that point;
//   [1] while the hull is built, neighbouring facets whose centres lie
//       within this of each other's planes merge (a point that near a facet
//       is no vertex);
//   [2] the same once the hull is built;
//   [3] once it is built, neighbouring facets whose normals agree to this
//       cosine merge.
// The merging only chooses the points that stay vertices; the hull of those
// is then built exactly (qhull "Qt Pp W1e-7 E1e-7"), so its faces are
// planar and it is convex. Returns a new hull holding one reference, or
// null (with a warning) for missing or out-of-range params (negative or not
// finite, [3] above 1), fewer than 4 points, non-finite points or
// coordinates beyond +-kHullMaxCoordinate, coplanar, collinear or
// coincident input, or more than 65535 hull vertices.
ConvexHull* ConvexHull_Build(const float* points, int count, const float params[4], float margin);

// Farthest hull vertex along dir (local space), and its index.
int ConvexHull_Support(const ConvexHull* hull, Vec3 dir);
