#include "physics/dynamics/simulation.h"

#include <gtest/gtest.h>

#include "tests/physics/dynamics/dyn_test_scene.h"

TEST(Simulation, FreeFallFollowsGravityAndStepsOnlyForward) {
  DynTestScene s;
  RigidBody* b = s.Sphere(0.5f, 1.0f, V3(0, 10, 0), 0);
  s.Add(b);
  s.Run(1.0f);
  EXPECT_NEAR(b->linearVelocity.y, -9.81f, 0.01f);
  EXPECT_NEAR(b->pose.position.y, 10.0f - 0.5f * 9.81f, 0.15f);
  // No sub-steps, or a target in the past, move nothing.
  Vec3 before = b->pose.position;
  DynWorld_Step(s.world, PhysTime_FromSeconds(s.time + 1.0), 0);
  EXPECT_EQ(b->pose.position.y, before.y);
  DynWorld_Step(s.world, PhysTime_FromSeconds(s.time - 0.5), 1);
  EXPECT_EQ(b->pose.position.y, before.y);
  // The clock followed the target backwards: the next frame advances again.
  DynWorld_Step(s.world, PhysTime_FromSeconds(s.time - 0.48), 1);
  EXPECT_LT(b->pose.position.y, before.y);
}
