#include "physics/collision/collision_detection.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/physics/collision/collision_test_shapes.h"

using namespace collision_test;

namespace {

struct Scene {
  CollisionDetection* cd = CollisionDetection_Construct(0.1f);
  ~Scene() { PhysObject_Destroy(cd); }
  // The body in the holder in group 1, paired with itself; a sphere of the
  // radius added first when one is given.
  int Add(CollisionBody* b, float radius = 0)
  {
      if (radius > 0) CollisionBody_AddPrimitive(b, SphereDesc(radius));
      CollisionBody_SetGroup(b, 1);
      CollisionDetection_EnableGroupPair(cd, 1, 1);
      return CollisionDetection_AddBody(cd, b);
  }
};

int Pairs(CollisionDetection* cd) {
  const CollisionPair* p;
  return CollisionDetection_FindPairs(cd, &p);
}

}  // namespace

TEST(CollisionDetection, GroupWordsAndExcludedPairsFilterCandidates) {
  Scene s;
  CollisionBody a, b;
  CollisionBody_AddPrimitive(&a, SphereDesc(1));
  CollisionBody_AddPrimitive(&b, SphereDesc(1));
  CollisionBody_Place(&b, Pose(1.5f, 0, 0));
  CollisionDetection_AddBody(s.cd, &a);
  CollisionDetection_AddBody(s.cd, &b);
  // A new primitive's word is 0: it collides with nothing, even with a
  // partner whose group is paired with every group.
  CollisionBody_SetGroup(&b, 1u << 0);
  for (int g = 1; g <= 32; ++g) CollisionDetection_EnableGroupPair(s.cd, g, 1);
  EXPECT_EQ(Pairs(s.cd), 0);
  for (int g = 1; g <= 32; ++g) CollisionDetection_DisableGroupPair(s.cd, g, 1);
  CollisionBody_SetGroup(&a, 1u << 1);  // group 2
  CollisionBody_SetGroup(&b, 1u << 0);  // group 1
  EXPECT_EQ(Pairs(s.cd), 0);
  CollisionDetection_EnableGroupPair(s.cd, 2, 1);
  CollisionDetection_EnableGroupPair(s.cd, 0, 1);   // ignored
  CollisionDetection_EnableGroupPair(s.cd, 33, 1);  // ignored
  ASSERT_EQ(Pairs(s.cd), 1);
  EXPECT_EQ(s.cd->pairs[0].a, a.primitives[0]);
  EXPECT_EQ(s.cd->pairs[0].phantom, 0);
  // Every group of a word counts, on either side: (a's word, b's word, pairs).
  const std::tuple<uint32_t, uint32_t, int> words[] = {
      {0x2, 0x101, 1},        // one of b's groups is paired
      {0x3, 0x1, 1},          // a's lowest group is not, its next one is
      {0x80000000u, 0x1, 0},  // group 32 is not paired with 1
      {0x200, 0x1, 0},        // nor is group 10
      {0x2, 0x100, 0},        // nor group 9 with 2
  };
  for (const auto& [wordA, wordB, pairs] : words) {
      CollisionBody_SetGroup(&a, wordA);
      CollisionBody_SetGroup(&b, wordB);
      EXPECT_EQ(Pairs(s.cd), pairs) << std::hex << wordA << " " << wordB;
  }
  CollisionBody_SetGroup(&a, 1u << 1);
  CollisionBody_SetGroup(&b, 1u << 0);

  CollisionDetection_DisableBodyPair(s.cd, &b, &a);
  CollisionDetection_DisableBodyPair(s.cd, &a, &b);  // once in the set
  EXPECT_EQ(s.cd->excluded.Count(), 1);
  EXPECT_EQ(Pairs(s.cd), 0);
  CollisionDetection_EnableBodyPair(s.cd, &a, &b);
  EXPECT_EQ(Pairs(s.cd), 1);

  CollisionBody_SetPhantom(&b, 1);
  ASSERT_EQ(Pairs(s.cd), 1);
  EXPECT_EQ(s.cd->pairs[0].phantom, 1);
  // Two resting bodies (fixed or asleep) need no test.
  a.collisionFlags = COLLISION_BODY_FIXED;
  b.collisionFlags = COLLISION_BODY_ASLEEP;
  EXPECT_EQ(Pairs(s.cd), 0);
  b.collisionFlags = 0;
  EXPECT_EQ(Pairs(s.cd), 1);
}

TEST(CollisionDetection, AddingIsIdempotentAndRemovalOrDestructionLeavesNoProxy) {
  Scene s;
  CollisionBody a;
  EXPECT_EQ(s.Add(&a, 1), 1);
  EXPECT_EQ(CollisionDetection_AddBody(s.cd, &a), 1);
  EXPECT_EQ(s.cd->bodies.Count(), 1);
  {
    CollisionBody b;
    CollisionDetection_AddBody(s.cd, &b);
    CollisionPrimitive* late = CollisionBody_AddPrimitive(&b, SphereDesc(1));  // joins while in
    late->group = 1;
    EXPECT_GE(late->proxy, 0);
    EXPECT_EQ(Pairs(s.cd), 1);
  }  // destroyed while in the holder
  EXPECT_EQ(s.cd->bodies.Count(), 1);
  EXPECT_EQ(Pairs(s.cd), 0);
  CollisionDetection_RemoveBody(s.cd, &a);
  CollisionDetection_RemoveBody(s.cd, &a);
  EXPECT_EQ(a.primitives[0]->proxy, -1);
  EXPECT_EQ(a.detection, nullptr);
}

TEST(CollisionDetection, NonFinitePlacementIsQuarantinedUntilPlacedAgain) {
  Scene s;
  CollisionBody a, b;
  s.Add(&a, 1);
  s.Add(&b, 1);
  CollisionBody_Place(&a, Pose(NAN, 0, 0));
  EXPECT_EQ(Pairs(s.cd), 0);
  EXPECT_NE(a.collisionFlags & COLLISION_BODY_QUARANTINED, 0u);
  CollisionRecordList lists[3];
  EXPECT_EQ(CollisionDetection_GetContacts(s.cd, &a, lists), 0);
  CollisionBody_Place(&a, Pose(0.5f, 0, 0));
  EXPECT_EQ(Pairs(s.cd), 1);
}

TEST(CollisionDetection, OverlapQuerySeesMovesAtOnceButNotRestingTouches) {
  Scene s;
  CollisionBody ground, ball, ghost, stone;
  AddShape(&ground, GroundMesh(4, 1));
  ground.collisionFlags = COLLISION_BODY_FIXED;
  s.Add(&ground);
  for (CollisionBody* b : {&ball, &ghost, &stone}) s.Add(b, 0.5f);
  CollisionBody_SetPhantom(&ghost, 1);
  CollisionBody_Place(&ghost, Pose(0, 0.5f, 0));
  CollisionBody_Place(&stone, Pose(3, 0.5f, 3));
  stone.collisionFlags = COLLISION_BODY_ASLEEP;
  CollisionRecordList lists[3];

  // Resting exactly on the ground (and inside the phantom): no overlap.
  ball.pose = Pose(0, 0.5f, 0);
  EXPECT_EQ(CollisionDetection_GetContacts(s.cd, &ball, lists), 0);
  ball.pose = Pose(0, 0.495f, 0);  // within resting slop
  EXPECT_EQ(CollisionDetection_GetContacts(s.cd, &ball, lists), 0);
  // Moved into the ground without a step: seen at once.
  ball.pose = Pose(0, 0.3f, 0);
  ASSERT_EQ(CollisionDetection_GetContacts(s.cd, &ball, lists), 1);
  ASSERT_EQ(lists[COLLISION_RECORDS_FIXED].Count(), 1);
  EXPECT_EQ(lists[COLLISION_RECORDS_FIXED][0].a, ball.primitives[0]);
  EXPECT_NEAR(lists[COLLISION_RECORDS_FIXED][0].normal.y, 1.0f, 1e-5f);
  EXPECT_NEAR(lists[COLLISION_RECORDS_FIXED][0].depth, 0.2f, 1e-5f);
  // Into the sleeping stone: listed apart.
  ball.pose = Pose(2.5f, 1.2f, 3);
  ASSERT_EQ(CollisionDetection_GetContacts(s.cd, &ball, lists), 1);
  EXPECT_EQ(lists[COLLISION_RECORDS_ASLEEP].Count(), 1);
  EXPECT_EQ(lists[COLLISION_RECORDS_FIXED].Count(), 0);
  // The query neither uses nor disturbs what the step remembers of mesh
  // sides: a body pressed through the ground in a step and then lifted just
  // clear of it does not overlap.
  ContactManifold m;
  CollisionBody_Place(&ball, Pose(0, 0.45f, 0));
  ASSERT_EQ(NarrowPhase_Collide(ball.primitives[0], ground.primitives[0], 0.1f, &m), 1);
  CollisionBody_Place(&ball, Pose(0, -0.2f, 0));
  ASSERT_EQ(NarrowPhase_Collide(ball.primitives[0], ground.primitives[0], 0.1f, &m), 1);
  EXPECT_NEAR(m.points[0].normal.y, 1.0f, 1e-6f);  // the step still pushes it up
  int remembered = ball.primitives[0]->sideMemoCount;
  ASSERT_GT(remembered, 0);
  ball.pose = Pose(0, -0.6f, 0);  // wholly under the ground: not touching it
  EXPECT_EQ(CollisionDetection_GetContacts(s.cd, &ball, lists), 0);
  ball.pose = Pose(0, 0.51f, 0);  // just above it
  EXPECT_EQ(CollisionDetection_GetContacts(s.cd, &ball, lists), 0);
  EXPECT_EQ(ball.primitives[0]->sideMemoCount, remembered);
  // Excluded pairs do not count either.
  CollisionDetection_DisableBodyPair(s.cd, &ball, &stone);
  EXPECT_EQ(CollisionDetection_GetContacts(s.cd, &ball, lists), 0);
}

TEST(CollisionDetection, FastSmallSphereSweepStopsAtThinWall) {
  Scene s;
  CollisionBody wall, bullet;
  AddShape(&wall, WallMesh());
  CollisionBody_Place(&wall,
                      Pose(10, 0, 0, Quat_FromAxisAngle(V3(0, 1, 0), 3.14159265f)));  // the hit normal turns back
  s.Add(&wall);
  s.Add(&bullet, 0.05f);
  CollisionPrimitive* b = bullet.primitives[0];
  SweepHit hit;
  CollisionDetection_DisableGroupPair(s.cd, 1, 1);
  EXPECT_EQ(CollisionDetection_SweepSphere(s.cd, b, V3(9, 0, 0), V3(11, 0, 0), &hit), 0);  // groups not paired
  CollisionDetection_EnableGroupPair(s.cd, 1, 1);
  ASSERT_EQ(CollisionDetection_SweepSphere(s.cd, b, V3(9, 0, 0), V3(11, 0, 0), &hit), 1);
  EXPECT_NEAR(hit.fraction, 0.475f, 1e-4f);
  EXPECT_NEAR(hit.normal.x, -1.0f, 1e-5f);
  EXPECT_EQ(hit.primitive, wall.primitives[0]);
}

TEST(CollisionDetection, MeshSidesRememberedOnlyFromTheLastStep) {
  Scene s;
  CollisionBody ground, ball;
  AddShape(&ground, GroundMesh(4, 1));
  CollisionPrimitive* b = CollisionBody_AddPrimitive(&ball, SphereDesc(0.5f));
  ground.collisionFlags = COLLISION_BODY_FIXED;
  CollisionDetection_AddBody(s.cd, &ground);
  CollisionDetection_AddBody(s.cd, &ball);
  ContactManifold m;
  Pairs(s.cd);
  CollisionBody_Place(&ball, Pose(0.3f, 0.45f, 0.2f));
  ASSERT_EQ(NarrowPhase_Collide(b, ground.primitives[0], 0.1f, &m), 1);
  Pairs(s.cd);
  CollisionBody_Place(&ball, Pose(0.3f, -0.1f, 0.2f));  // pressed through in one step
  ASSERT_EQ(NarrowPhase_Collide(b, ground.primitives[0], 0.1f, &m), 1);
  EXPECT_NEAR(m.points[0].normal.y, 1.0f, 1e-6f);
  // Steps without a test of the pair (the ball was away): the memory is stale.
  Pairs(s.cd);
  Pairs(s.cd);
  ASSERT_EQ(NarrowPhase_Collide(b, ground.primitives[0], 0.1f, &m), 1);
  EXPECT_NEAR(m.points[0].normal.y, -1.0f, 1e-6f);
}
