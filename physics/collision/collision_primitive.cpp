#include "physics/collision/collision_primitive.h"

#include "physics/base/phys_warning.h"
#include "physics/collision/convex_hull.h"
#include "physics/collision/mesh_container.h"
#include "physics/collision/ray_query.h"

namespace {

uint32_t g_nextPrimitiveId = 1;

bool TransformIsFinite(const Transform& t) {
  return Vec3_IsFinite(t.position) && Quat_IsFinite(t.rotation);
}

// Inertia tensor of a body-space tensor `local` (about the primitive's own
// centre, primitive axes) turned into body axes.
Mat3 ToBodyAxes(const Frame3& f, const Mat3& local) {
  return Mat3_MulMat(Mat3_MulMat(f.rot, local), Mat3_Transpose(f.rot));
}

}  // namespace

CollisionPrimitive::CollisionPrimitive(uint32_t k, CollisionBody* b, const Transform& l, float m)
    : kind(k), body(b), local(l), mass(m), id(g_nextPrimitiveId++) {
  local.rotation = Quat_Normalize(local.rotation);
  localFrame = Frame3_FromTransform(local);
  world = localFrame;
}

CollisionPrimitive::~CollisionPrimitive() {
  // Tell dependents (collectors) now, while the primitive is still whole; the
  // base destructor then finds the list empty or already told.
  destroying = true;
  PhysObject_NotifyDependents(this, PHYS_NOTIFY_DESTROYED);
  dependents.Clear();
  CollisionShape_Release(shape);
  shape = nullptr;
  kind = PRIMITIVE_KIND_NONE;
}

SpherePrimitive::SpherePrimitive(CollisionBody* b, const Transform& l, float m, float r)
    : CollisionPrimitive(PRIMITIVE_KIND_SPHERE, b, l, m) {
  radius = r;
}

Aabb SpherePrimitive::ComputeBounds() const {
  return {world.pos - V3(radius, radius, radius), world.pos + V3(radius, radius, radius)};
}

int SpherePrimitive::RayTest(RayQuery* q) {
  if (!(q->length > 0.0f)) return 0;
  float t = Geometry_RaySphere(q->origin, q->direction, q->length, world.pos, radius);
  if (t < 0.0f) return 0;
  Vec3 n = Vec3_Unit(q->origin + q->direction * t - world.pos);
  return RayQuery_Offer(q, t, n, this);
}

void SpherePrimitive::MassProperties(float m, Vec3* centre, Mat3* inertia) const {
  *centre = localFrame.pos;
  float i = 0.4f * m * radius * radius;
  *inertia = Mat3_Diagonal(V3(i, i, i));
}

ConvexPrimitive::ConvexPrimitive(CollisionBody* b, const Transform& l, float m, ConvexHull* hull)
    : CollisionPrimitive(PRIMITIVE_KIND_CONVEX, b, l, m) {
  shape = hull;
  CollisionShape_Retain(shape);
}

const ConvexHull* ConvexPrimitive::Hull() const { return static_cast<const ConvexHull*>(shape); }

Aabb ConvexPrimitive::ComputeBounds() const { return Frame3_TransformAabb(world, shape->localBounds); }

int ConvexPrimitive::RayTest(RayQuery* q) {
  if (!(q->length > 0.0f)) return 0;
  const ConvexHull* hull = Hull();
  Vec3 o = Frame3_ApplyInv(world, q->origin);
  Vec3 d = Frame3_RotateInv(world, q->direction);
  // Clip the ray by every face plane (Cyrus-Beck). A ray starting inside or
  // on the surface has its last entering plane at t <= 0: no hit.
  float tEnter = -3.4e38f, tExit = q->length;
  int enterFace = -1;
  for (int f = 0; f < hull->faces.Count(); ++f) {
    const HullFace& face = hull->faces[f];
    float dist = Vec3_Dot(face.normal, o) - face.offset;
    float rate = Vec3_Dot(face.normal, d);
    if (rate == 0.0f) {
      if (dist > 0.0f) return 0;  // parallel and outside this face
      continue;
    }
    float t = -dist / rate;
    if (rate < 0.0f) {
      if (t > tEnter) {
        tEnter = t;
        enterFace = f;
      }
    } else if (t < tExit) {
      tExit = t;
    }
  }
  if (enterFace < 0 || !(tEnter > 0.0f) || tEnter > tExit) return 0;
  return RayQuery_Offer(q, tEnter, Mat3_Mul(world.rot, hull->faces[enterFace].normal), this);
}

void ConvexPrimitive::MassProperties(float m, Vec3* centre, Mat3* inertia) const {
  const ConvexHull* hull = Hull();
  *centre = Frame3_Apply(localFrame, hull->centroid);
  *inertia = ToBodyAxes(localFrame, Mat3_Scale(hull->unitInertia, m));
}

MeshPrimitive::MeshPrimitive(CollisionBody* b, const Transform& l, float m, MeshContainer* mesh)
    : CollisionPrimitive(PRIMITIVE_KIND_MESH, b, l, m) {
  shape = mesh;
  CollisionShape_Retain(shape);
}

const MeshContainer* MeshPrimitive::Mesh() const { return static_cast<const MeshContainer*>(shape); }

Aabb MeshPrimitive::ComputeBounds() const { return Frame3_TransformAabb(world, shape->localBounds); }

int MeshPrimitive::RayTest(RayQuery* q) {
  if (!(q->length > 0.0f)) return 0;
  Vec3 o = Frame3_ApplyInv(world, q->origin);
  Vec3 d = Frame3_RotateInv(world, q->direction);
  float limit = q->best < q->length ? q->best : q->length;
  float t;
  Vec3 n;
  if (!MeshContainer_RayCast(Mesh(), o, d, limit, &t, &n)) return 0;
  return RayQuery_Offer(q, t, Mat3_Mul(world.rot, n), this);
}

void MeshPrimitive::MassProperties(float m, Vec3* centre, Mat3* inertia) const {
  const Aabb& b = shape->localBounds;
  Vec3 e = b.max - b.min;
  *centre = Frame3_Apply(localFrame, (b.min + b.max) * 0.5f);
  float k = m / 12.0f;
  *inertia = ToBodyAxes(localFrame, Mat3_Diagonal(V3(k * (e.y * e.y + e.z * e.z), k * (e.x * e.x + e.z * e.z),
                                                     k * (e.x * e.x + e.y * e.y))));
}

CollisionPrimitive* CollisionPrimitive_Create(const PrimitiveDesc& desc, CollisionBody* body) {
  if (!TransformIsFinite(desc.transform) || !std::isfinite(desc.mass)) {
    PHYS_WARNING("RigidBody_AddPrimitive", "non-finite transform or mass");
    return nullptr;
  }
  if (desc.type == PRIMITIVE_TYPE_SPHERE) {
    if (!(desc.radius > 0.0f) || !std::isfinite(desc.radius)) {
      PHYS_WARNING("RigidBody_AddPrimitive", "sphere radius must be positive");
      return nullptr;
    }
    return new SpherePrimitive(body, desc.transform, desc.mass, desc.radius);
  }
  if (desc.type != PRIMITIVE_TYPE_SHAPE || !desc.shape) {
    PHYS_WARNING("RigidBody_AddPrimitive", "unknown primitive type or no shape");
    return nullptr;
  }
  if (desc.shape->kind == COLLISION_SHAPE_CONVEX) {
    return new ConvexPrimitive(body, desc.transform, desc.mass, static_cast<ConvexHull*>(desc.shape));
  }
  if (desc.shape->kind == COLLISION_SHAPE_MESH) {
    if (MeshContainer_TriangleCount(static_cast<MeshContainer*>(desc.shape)) == 0) {
      PHYS_WARNING("RigidBody_AddPrimitive", "mesh without triangles");
      return nullptr;
    }
    return new MeshPrimitive(body, desc.transform, desc.mass, static_cast<MeshContainer*>(desc.shape));
  }
  PHYS_WARNING("RigidBody_AddPrimitive", "unknown shape kind");
  return nullptr;
}

void CollisionPrimitive_Place(CollisionPrimitive* p, const Transform& bodyPose) {
  Frame3 body = Frame3_FromTransform(bodyPose);
  p->world = Frame3_Mul(body, p->localFrame);
  p->bounds = p->ComputeBounds();
}
