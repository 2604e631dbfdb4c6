// CollisionPrimitive: one shape attached to a body (a sphere, a convex hull
// or a static triangle mesh) with its placement in body space, its collision
// group word and phantom flag, and its world placement and bounds as of the
// last time its body was placed.
//
// Primitives belong to their body (CollisionBody) and are made through
// CollisionBody_AddPrimitive. A primitive is a PhysObject: collectors that
// hold it register as dependents and are told when it is destroyed.
#pragma once

#include <cstdint>

#include "physics/base/phys_object.h"
#include "physics/collision/collision_geometry.h"
#include "physics/collision/collision_shape.h"

enum PrimitiveKind {
  PRIMITIVE_KIND_NONE = 0,  // never used by a live primitive ("ignore" in dispatch)
  PRIMITIVE_KIND_MESH = 4,
  PRIMITIVE_KIND_CONVEX = 1024,
  PRIMITIVE_KIND_SPHERE = 4096,
};

// Descriptor types of RigidBody_AddPrimitive.
enum PrimitiveDescType {
  PRIMITIVE_TYPE_SHAPE = 0,   // a shape object (convex hull or mesh)
  PRIMITIVE_TYPE_SPHERE = 1,  // a sphere of the given radius
};

struct PrimitiveDesc {
  int type;               // PrimitiveDescType
  CollisionShape* shape;  // type 0: the shape (the primitive takes a reference)
  float radius;           // type 1: sphere radius (> 0)
  Transform transform;    // placement of the primitive in body space
  float mass;             // this primitive's share of the body's mass
  int convex;             // type 0: 1 when the shape is a hull, 0 a mesh (checked against the shape)
};

class CollisionBody;
struct RayQuery;

// Which side of a mesh triangle a body was on when it last touched it.
// Meshes are two-sided: a body pressed through a triangle's plane must still
// be pushed back out on the side it came from, not out of the far side.
struct MeshSideMemo {
  uint32_t mesh;      // id of the mesh primitive
  uint32_t triangle;  // triangle index in the mesh
  int32_t side;       // +1 the triangle's front, -1 its back
  uint32_t step;      // detection step of the test that wrote it; older than the last step is stale
};
constexpr int kMeshSideMemos = 32;

class CollisionPrimitive : public PhysObject {
public:
  PHYS_DECLARE_MEMCLASS(PHYS_MEM_PRIMITIVE)
  CollisionPrimitive(uint32_t kind, CollisionBody* body, const Transform& local, float mass);
  ~CollisionPrimitive() override;

  // World bounds of the primitive at the world frame `world` (no margin).
  virtual Aabb ComputeBounds() const = 0;
  // Offers the nearest entering hit of the ray to the query (world space);
  // returns 1 when it became the best.
  virtual int RayTest(RayQuery* query) = 0;
  // Centre of mass in body space and inertia about it (body axes) for mass m.
  virtual void MassProperties(float m, Vec3* centre, Mat3* inertia) const = 0;

  uint32_t kind;          // PrimitiveKind
  CollisionBody* body;    // owning body
  uint8_t phantom = 0;    // 1: reports overlaps, takes and gives no response
  uint32_t group = 0;     // group bits: bit g-1 set means group g; 0 collides with nothing
  float radius = 0;       // sphere radius (spheres only)
  float sphereValue = 0;  // free per-primitive value of spheres (set by the engine layer)
  CollisionShape* shape = nullptr;  // hull or mesh (referenced), null for spheres
  Transform local;        // placement in body space
  float mass;             // mass share given at creation

  uint32_t id;            // stable id: pairs and events are ordered by it, never by address
  Frame3 localFrame;      // `local` as a matrix frame
  Frame3 world;           // world frame as of the last CollisionPrimitive_Place
  Aabb bounds{};          // world bounds as of the last placement
  int32_t proxy = -1;     // broad-phase slot while in a detection holder
  // Sides of the mesh triangles this primitive touched at its last contact
  // test against each mesh (written by the narrow phase).
  mutable MeshSideMemo sideMemo[kMeshSideMemos]{};
  mutable int32_t sideMemoCount = 0;
};

class SpherePrimitive : public CollisionPrimitive {
public:
  SpherePrimitive(CollisionBody* body, const Transform& local, float mass, float r);
  Aabb ComputeBounds() const override;
  int RayTest(RayQuery* query) override;
  void MassProperties(float m, Vec3* centre, Mat3* inertia) const override;
};

class ConvexHull;
class ConvexPrimitive : public CollisionPrimitive {
public:
  ConvexPrimitive(CollisionBody* body, const Transform& local, float mass, ConvexHull* hull);
  Aabb ComputeBounds() const override;
  int RayTest(RayQuery* query) override;
  void MassProperties(float m, Vec3* centre, Mat3* inertia) const override;
  const ConvexHull* Hull() const;
};

class MeshContainer;
class MeshPrimitive : public CollisionPrimitive {
public:
  MeshPrimitive(CollisionBody* body, const Transform& local, float mass, MeshContainer* mesh);
  Aabb ComputeBounds() const override;
  int RayTest(RayQuery* query) override;
  // A mesh has no volume: its bounding box stands in for the inertia.
  void MassProperties(float m, Vec3* centre, Mat3* inertia) const override;
  const MeshContainer* Mesh() const;
};

// A new primitive for the descriptor, owned by body, or null (warning) for a
// bad descriptor: unknown type, no or mismatched shape, radius not > 0, or a
// non-finite transform.
CollisionPrimitive* CollisionPrimitive_Create(const PrimitiveDesc& desc, CollisionBody* body);
// Updates the world frame and bounds from the body's world transform.
void CollisionPrimitive_Place(CollisionPrimitive* primitive, const Transform& bodyPose);
// Whether two group words may collide under the 32 pair masks: some group of
// a paired with some group of b.
inline bool CollisionPrimitive_GroupsPaired(const uint32_t masks[32], uint32_t a, uint32_t b) {
  while (a) {
    int g = __builtin_ctz(a);
    if (masks[g] & b) return true;
    a &= a - 1;
  }
  return false;
}
