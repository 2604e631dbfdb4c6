#include "physics/collision/collision_primitive.h"

#include <gtest/gtest.h>

#include "physics/base/phys_warning.h"
#include "physics/collision/ray_query.h"
#include "tests/physics/collision/collision_test_shapes.h"

using namespace collision_test;

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
  PrimitiveDesc bad[4] = {SphereDesc(0), SphereDesc(NAN), SphereDesc(1), SphereDesc(1)};
  bad[2].transform.position.x = INFINITY;
  bad[3].type = 7;
  for (const PrimitiveDesc& d : bad) EXPECT_EQ(CollisionBody_AddPrimitive(&body, d), nullptr);
  MeshContainer* empty = MeshContainer_Construct();
  EXPECT_EQ(CollisionBody_AddPrimitive(&body, ShapeDesc(empty)), nullptr);
  CollisionShape_Release(empty);
  EXPECT_EQ(body.primitives.Count(), 0);
  EXPECT_EQ(warnings.count, 5);  // one for each refusal

  PrimitiveDesc d = SphereDesc(2);
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
