#include "physics/dynamics/spring_actions.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/physics/dynamics/dyn_test_scene.h"

TEST(SpringActions, DashpotPullsBackToItsRestLengthAndSettles) {
  DynTestScene s;
  Simulation_SetGravity(s.sim, V3(0, 0, 0));
  RigidBody* a = s.Added(s.Sphere(0.2f, 1.0f, V3(0, 0, 0), 0));
  RigidBody* b = s.Added(s.Sphere(0.2f, 1.0f, V3(2, 0, 0), 0));
  Dashpot* d = Dashpot_Construct(a, V3(0, 0, 0), b, V3(0, 0, 0), 20.0f, 4.0f);
  ASSERT_NE(d, nullptr);
  Subspace_AddAction(s.sub, d, 0);
  b->linearVelocity = V3(3, 0, 0);
  s.Run(5.0f);
  EXPECT_NEAR(Vec3_Norm(b->pose.position - a->pose.position), 2.0f, 0.05f);
  EXPECT_LT(Vec3_Norm(b->linearVelocity - a->linearVelocity), 0.05f);
  PhysObject_Destroy(d);
  EXPECT_EQ(Dashpot_Construct(a, V3(0, 0, 0), nullptr, V3(0, 0, 0), 1, 0.1f), nullptr);
}

TEST(SpringActions, SuspensionHoldsALoadAlongItsDirection) {
  DynTestScene s;
  RigidBody* ground = s.Added(s.Sphere(0.2f, 0.0f, V3(0, 0, 0), 0));
  RigidBody* car = s.Added(s.Sphere(0.2f, 1.0f, V3(0, 1, 0), 0));
  SuspensionDashpot* spring =
      SuspensionDashpot_Construct(car, V3(0, 0, 0), ground, V3(0, 0, 0), V3(0, 1, 0), 100.0f);
  Subspace_AddAction(s.sub, spring, 0);
  s.Run(4.0f);
  // Sags by g / k and comes to rest there (critically damped).
  EXPECT_NEAR(car->pose.position.y, 1.0f - 9.81f / 100.0f, 0.01f);
  spring->value = 400.0f;
  SuspensionDashpot_Recompute(spring);
  EXPECT_FLOAT_EQ(spring->strength, 400.0f);
  PhysObject_Destroy(spring);
}

TEST(SpringActions, AngularSpringTurnsTheBodyToItsTarget) {
  DynTestScene s;
  Simulation_SetGravity(s.sim, V3(0, 0, 0));
  RigidBody* box = s.Added(s.Box(V3(0.5f, 0.2f, 0.3f), 2.0f, V3(0, 0, 0), 0));
  Quat target = Quat_FromAxisAngle(V3(0, 1, 0), 1.0f);
  AngularSpring* spring = AngularSpring_Construct(box, target, 30.0f, 10.0f);
  Subspace_AddAction(s.sub, spring, 0);
  s.Run(4.0f);
  Quat q = box->pose.rotation;
  EXPECT_GT(std::fabs(q.w * target.w + q.x * target.x + q.y * target.y + q.z * target.z), 0.999f);
  // Destroying the body leaves the spring inert.
  s.bodies.pop_back();
  PhysObject_Destroy(box);
  EXPECT_EQ(spring->body, nullptr);
  s.Run(0.1f);
  PhysObject_Destroy(spring);
}
