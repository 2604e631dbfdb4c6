// MeshContainer: a static triangle soup shape with a bounding-volume tree.
//
// Vertices and triangles are added in batches; every batch rebuilds the tree
// so that queries (which are const and allocation-free) always see a
// consistent mesh. Triangles whose indices pass the vertex count or that have
// no area are dropped with a warning when added. Triangles are stored again,
// with their corners and normal, in tree-leaf order: the queries walk
// contiguous memory instead of chasing indices.
#pragma once

#include <cstdint>

#include "physics/base/phys_array.h"
#include "physics/collision/collision_shape.h"

struct MeshTriangle {
  Vec3 a, b, c;    // corners in shape space
  Vec3 normal;     // unit normal of (b - a) x (c - a); meshes collide two-sided
  uint32_t index;  // index of the triangle in the order it was accepted
};

// Tree node: an internal node's left child follows it directly and `right`
// holds the right child; a leaf holds `count` triangles from `first`.
struct MeshNode {
  Aabb box;
  int32_t first;  // leaf: first triangle; internal: index of the right child
  int32_t count;  // leaf: triangles (>= 1); internal: 0
};

struct MeshIndexTriangle {
  uint32_t v[3];
};

class MeshContainer : public CollisionShape {
public:
  MeshContainer() : CollisionShape(COLLISION_SHAPE_MESH) {}

  PhysArray<Vec3, PHYS_MEM_SHAPE> vertices;
  PhysArray<MeshIndexTriangle, PHYS_MEM_SHAPE> indexTriangles;  // accepted triangles
  PhysArray<MeshTriangle, PHYS_MEM_SHAPE> triangles;            // leaf order
  PhysArray<MeshNode, PHYS_MEM_SHAPE> nodes;
  int refusedTriangles = 0;  // dropped as degenerate or out of range, in total
};

// A new empty mesh holding one reference (null on exhaustion).
MeshContainer* MeshContainer_Construct();
// Appends count vertices of four floats (x, y, z, unused). Refuses the whole
// batch (returns 0, mesh unchanged) when a coordinate is not finite or the
// count is negative or above 2^24.
int MeshContainer_AddVertices(MeshContainer* mesh, const float* vertices, int count);
// Appends count triangles of three 16-bit vertex indices; triangles with an
// index past the vertices or without area are dropped (warning). Returns the
// number of triangles accepted.
int MeshContainer_AddTriangles(MeshContainer* mesh, const uint16_t* indices, int count);
// Triangle count (accepted triangles).
inline int MeshContainer_TriangleCount(const MeshContainer* mesh) { return mesh->triangles.Count(); }

// Depth-first walk of the tree: calls visit(const MeshTriangle&) for every
// triangle in a leaf whose nodes all pass near(const Aabb&) and whose own box
// passes it too. Allocation-free; the build keeps the depth well under the
// fixed stack.
template <typename Near, typename Visit>
void MeshContainer_Walk(const MeshContainer* mesh, Near&& near, Visit&& visit) {
  if (mesh->nodes.Empty()) return;
  const MeshNode* nodes = mesh->nodes.Data();
  const MeshTriangle* tris = mesh->triangles.Data();
  int stack[64];
  int top = 0;
  stack[top++] = 0;
  while (top) {
    const MeshNode& n = nodes[stack[--top]];
    if (!near(n.box)) continue;
    if (n.count) {
      for (int i = 0; i < n.count; ++i) {
        const MeshTriangle& t = tris[n.first + i];
        Aabb tb{Vec3_Min(Vec3_Min(t.a, t.b), t.c), Vec3_Max(Vec3_Max(t.a, t.b), t.c)};
        if (near(tb)) visit(t);
      }
    } else if (top + 2 <= 64) {
      int self = int(&n - nodes);
      stack[top++] = n.first;
      stack[top++] = self + 1;
    }
  }
}

// Calls visit(const MeshTriangle&) for every triangle whose box meets box
// (shape space). Allocation-free.
template <typename Visit>
void MeshContainer_Query(const MeshContainer* mesh, const Aabb& box, Visit&& visit) {
  MeshContainer_Walk(mesh, [&](const Aabb& b) { return Aabb_Overlaps(b, box); }, visit);
}

// Calls visit(const MeshTriangle&) for every triangle whose box comes within
// radius of centre (shape space): the sphere prunes the corners that a
// box query would visit. Allocation-free.
template <typename Visit>
void MeshContainer_QuerySphere(const MeshContainer* mesh, Vec3 centre, float radius, Visit&& visit) {
  const float r2 = radius * radius;
  // Plain comparisons, not fmax: this is the innermost test of the walk.
  auto gap = [](float lo, float hi, float v) { return v < lo ? lo - v : (v > hi ? v - hi : 0.0f); };
  auto near = [&](const Aabb& b) {
    float dx = gap(b.min.x, b.max.x, centre.x), dy = gap(b.min.y, b.max.y, centre.y);
    float dz = gap(b.min.z, b.max.z, centre.z);
    return dx * dx + dy * dy + dz * dz <= r2;
  };
  MeshContainer_Walk(mesh, near, visit);
}

// Nearest triangle hit by the ray o + t d (d unit) for t in (0, maxT], from
// either side. Returns 1 and writes t and the triangle's normal turned
// towards the ray's origin; 0 when nothing is hit.
int MeshContainer_RayCast(const MeshContainer* mesh, Vec3 o, Vec3 d, float maxT, float* tHit, Vec3* normal);

// Earliest time of impact in [0, 1] of a sphere of radius r moving from
// `from` to `to` (shape space) against the triangles, approached from the side
// the sphere starts on. Triangles the sphere already touches at the start are
// left to the contact test, and so are impacts where less than `steepness`
// of the path goes into the surface (a graze). Returns 1 with the fraction
// and the normal of the surface at impact (pointing at the sphere); 0 when
// the path is clear.
int MeshContainer_SweepSphere(const MeshContainer* mesh, Vec3 from, Vec3 to, float r, float* fraction, Vec3* normal,
                              float steepness = 0.0f);
