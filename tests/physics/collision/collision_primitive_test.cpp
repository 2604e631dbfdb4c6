#include "physics/collision/collision_primitive.h"

#include <gtest/gtest.h>

#include "physics/base/phys_warning.h"
#include "physics/collision/ray_query.h"
#include "tests/physics/collision/collision_test_shapes.h"

using namespace collision_test;

namespace {

// Casts from -> to against one primitive; returns the hit distance or -1.
float Cast(CollisionPrimitive* p, Vec3 from, Vec3 to, Vec3* normal = nullptr) {
  RayQuery q;
  RayQuery_Init(&q, from, to);
  if (!p->RayTest(&q)) return -1.0f;
  if (normal) *normal = q.hitNormal;
  EXPECT_EQ(q.hitPrimitive, p);
  return q.best;
}


}  // namespace

TEST(CollisionPrimitive, SphereRayEntersFromOutsideOnlyWithOutwardNormal) {
  CollisionBody body;
  CollisionBody_Place(&body, Pose(0, 2, 0));
  CollisionPrimitive* s = CollisionBody_AddPrimitive(&body, SphereDesc(1.0f));
  Vec3 n;
  EXPECT_NEAR(Cast(s, V3(0, 10, 0), V3(0, -10, 0), &n), 7.0f, 1e-5f);
  EXPECT_NEAR(n.y, 1.0f, 1e-5f);
  EXPECT_EQ(Cast(s, V3(0, 2.5f, 0), V3(0, -10, 0)), -1.0f);  // starts inside
  EXPECT_EQ(Cast(s, V3(0, 3, 0), V3(0, -10, 0)), -1.0f);     // starts on the surface
  EXPECT_EQ(Cast(s, V3(0, 10, 0), V3(0, 4, 0)), -1.0f);      // ends short
  EXPECT_EQ(Cast(s, V3(0, 10, 0), V3(0, 10, 0)), -1.0f);     // zero length
  EXPECT_EQ(s->kind, uint32_t(PRIMITIVE_KIND_SPHERE));
  EXPECT_EQ(s->bounds.min.y, 1.0f);
}

TEST(CollisionPrimitive, HullAndMeshRaysReportTheEnteredSurface) {
  CollisionBody boxBody, groundBody;
  CollisionBody_Place(&boxBody, Pose(5, 0, 0, Quat_FromAxisAngle(V3(0, 0, 1), 0.785398f)));
  CollisionPrimitive* h = AddShape(&boxBody, BoxHull(1, 1, 1));
  Vec3 n;
  // From +x the ray meets the turned box's corner edge region on a 45 degree face.
  float t = Cast(h, V3(10, 0.5f, 0), V3(0, 0.5f, 0), &n);
  EXPECT_NEAR(t, 10 - (5 + 1.41421f - 0.5f), 1e-4f);
  EXPECT_NEAR(n.x, 0.70711f, 1e-4f);
  EXPECT_NEAR(n.y, 0.70711f, 1e-4f);
  EXPECT_EQ(Cast(h, V3(5, 0, 0), V3(10, 0, 0)), -1.0f);  // from the inside out: no hit

  CollisionPrimitive* g = AddShape(&groundBody, GroundMesh(2, 1));
  EXPECT_NEAR(Cast(g, V3(0.3f, 2, 0.2f), V3(0.3f, -2, 0.2f), &n), 2.0f, 1e-5f);
  EXPECT_NEAR(n.y, 1.0f, 1e-5f);
  EXPECT_NEAR(Cast(g, V3(0.3f, -2, 0.2f), V3(0.3f, 2, 0.2f), &n), 2.0f, 1e-5f);
  EXPECT_NEAR(n.y, -1.0f, 1e-5f);  // the side facing the origin
  EXPECT_EQ(Cast(g, V3(0.3f, 0, 0.2f), V3(0.3f, -2, 0.2f)), -1.0f);  // starting on it
}

TEST(CollisionPrimitive, NearestOfSeveralHitsWinsAndNothingBeyondAThousand) {
  CollisionBody near, far;
  CollisionBody_Place(&near, Pose(0, 0, 5));
  CollisionBody_Place(&far, Pose(0, 0, 9));
  CollisionPrimitive* a = CollisionBody_AddPrimitive(&near, SphereDesc(1));
  CollisionPrimitive* b = CollisionBody_AddPrimitive(&far, SphereDesc(1));
  RayQuery q;
  RayQuery_Init(&q, V3(0, 0, 0), V3(0, 0, 20));
  b->RayTest(&q);
  a->RayTest(&q);
  EXPECT_EQ(q.hitPrimitive, a);
  EXPECT_NEAR(q.best, 4.0f, 1e-5f);
  EXPECT_EQ(b->RayTest(&q), 0);  // farther than the best: not reported again
  EXPECT_NEAR(q.hitPoint.z, 4.0f, 1e-5f);

  CollisionBody remote;
  CollisionBody_Place(&remote, Pose(0, 0, 1500));
  CollisionPrimitive* r = CollisionBody_AddPrimitive(&remote, SphereDesc(1));
  RayQuery_Init(&q, V3(0, 0, 0), V3(0, 0, 2000));
  EXPECT_EQ(r->RayTest(&q), 0);
  EXPECT_EQ(q.hitPrimitive, nullptr);
}

TEST(CollisionPrimitive, BadDescriptorsAreRefusedAndMassPropertiesFollowTheShape) {
  CollisionBody body;
  Warnings warnings;
  PrimitiveDesc d = SphereDesc(0);
  EXPECT_EQ(CollisionBody_AddPrimitive(&body, d), nullptr);
  d = SphereDesc(NAN);
  EXPECT_EQ(CollisionBody_AddPrimitive(&body, d), nullptr);
  d = SphereDesc(1);
  d.transform.position.x = INFINITY;
  EXPECT_EQ(CollisionBody_AddPrimitive(&body, d), nullptr);
  d = SphereDesc(1);
  d.type = 7;
  EXPECT_EQ(CollisionBody_AddPrimitive(&body, d), nullptr);
  MeshContainer* empty = MeshContainer_Construct();
  EXPECT_EQ(CollisionBody_AddPrimitive(&body, ShapeDesc(empty)), nullptr);
  CollisionShape_Release(empty);
  EXPECT_EQ(body.primitives.Count(), 0);
  EXPECT_EQ(warnings.count, 5);  // one for each refusal

  d = SphereDesc(2);
  d.transform.position = V3(1, 0, 0);
  CollisionPrimitive* s = CollisionBody_AddPrimitive(&body, d);
  Vec3 c;
  Mat3 inertia;
  s->MassProperties(5, &c, &inertia);
  EXPECT_NEAR(c.x, 1.0f, 1e-6f);
  EXPECT_NEAR(inertia.r[1].y, 0.4f * 5 * 4, 1e-5f);

  ConvexHull* box = BoxHull(0.5f, 1, 1.5f);
  PrimitiveDesc hd = ShapeDesc(box);
  hd.transform.rotation = Quat_FromAxisAngle(V3(0, 0, 1), 1.5707963f);  // x and y swap
  CollisionPrimitive* h = CollisionBody_AddPrimitive(&body, hd);
  CollisionShape_Release(box);
  h->MassProperties(12, &c, &inertia);
  EXPECT_NEAR(inertia.r[0].x, 12 * (1 + 9) / 12.0f, 1e-3f);  // the hull's y axis now lies along x
  EXPECT_NEAR(inertia.r[1].y, 12 * (4 + 9) / 12.0f, 1e-3f);
  EXPECT_EQ(body.primitives[0], s);  // insertion order
}
