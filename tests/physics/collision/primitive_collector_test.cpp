#include "physics/collision/primitive_collector.h"

#include <gtest/gtest.h>

#include "physics/collision/collision_detection.h"
#include "tests/physics/collision/collision_test_shapes.h"

using namespace collision_test;

TEST(PrimitiveCollector, HoldsEachPrimitiveOnceAndForgetsDestroyedOnes) {
  PrimitiveCollector* c = PrimitiveCollector_Construct();
  CollisionBody kept;
  CollisionPrimitive* k = CollisionBody_AddPrimitive(&kept, SphereDesc(1));
  {
    CollisionBody gone;
    CollisionBody_Place(&gone, Pose(0, 0, 5));
    CollisionPrimitive* g = CollisionBody_AddPrimitive(&gone, SphereDesc(1));
    EXPECT_EQ(PrimitiveCollector_Add(c, g), 1);
    EXPECT_EQ(PrimitiveCollector_Add(c, g), 0);
    EXPECT_EQ(PrimitiveCollector_Add(c, k), 1);
    EXPECT_EQ(c->GetChildCount(), 2);
    EXPECT_EQ(g->dependents.Count(), 1);
    RayQuery q;
    RayQuery_Init(&q, V3(0, 0, 20), V3(0, 0, -20));
    EXPECT_EQ(PrimitiveCollector_CastRay(c, &q), g);  // the nearer one
  }
  EXPECT_EQ(c->GetChildCount(), 1);
  EXPECT_EQ(c->GetChild(0), k);
  RayQuery q;
  RayQuery_Init(&q, V3(0, 0, 20), V3(0, 0, -20));
  EXPECT_EQ(PrimitiveCollector_CastRay(c, &q), k);
  EXPECT_NEAR(q.best, 19.0f, 1e-5f);
  EXPECT_FALSE(PrimitiveCollector_SkipDefault(c, k));

  // Unlinking before deletion leaves the primitive without the dependent.
  PhysObject_UnlinkChildren(c);
  EXPECT_EQ(k->dependents.Count(), 0);
  PhysObject_Destroy(c);
}

TEST(PrimitiveCollector, GathersEveryPrimitiveOfAHolderAndRemovesOnRequest) {
  CollisionDetection* cd = CollisionDetection_Construct(0.1f);
  CollisionBody a, b;
  CollisionBody_AddPrimitive(&a, SphereDesc(1));
  CollisionBody_AddPrimitive(&a, SphereDesc(2));
  CollisionBody_AddPrimitive(&b, SphereDesc(1));
  CollisionDetection_AddBody(cd, &a);
  CollisionDetection_AddBody(cd, &b);
  PrimitiveCollector* c = PrimitiveCollector_Construct();
  PrimitiveCollector_GatherDetection(c, cd);
  PrimitiveCollector_GatherDetection(c, cd);
  EXPECT_EQ(c->GetChildCount(), 3);
  EXPECT_EQ(PrimitiveCollector_Remove(c, a.primitives[1]), 1);
  EXPECT_EQ(PrimitiveCollector_Remove(c, a.primitives[1]), 0);
  EXPECT_EQ(a.primitives[1]->dependents.Count(), 0);
  EXPECT_EQ(c->GetChildCount(), 2);
  PhysObject_Destroy(c);  // its primitives forget it
  EXPECT_EQ(a.primitives[0]->dependents.Count(), 0);
  PhysObject_Destroy(cd);
}
