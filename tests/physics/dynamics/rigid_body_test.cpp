#include "physics/dynamics/rigid_body.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "physics/base/phys_warning.h"
#include "tests/physics/dynamics/dyn_test_scene.h"

TEST(RigidBody, MassFromPrimitivesDegenerateMassesMakeTheBodyFixedAndUpdatesKeepTheTotalAndLockedAxes) {
  DynTestScene s;
  RigidBody* b = s.Sphere(0.5f, 2.0f, V3(0, 0, 0));
  EXPECT_FLOAT_EQ(b->mass, 2.0f);
  EXPECT_FLOAT_EQ(b->invMass, 0.5f);
  EXPECT_NEAR(b->invInertiaLocal.r[0].x, 1.0f / (0.4f * 2.0f * 0.25f), 1e-4f);
  for (float bad : {0.0f, -1.0f, NAN, INFINITY}) {
    RigidBody_SetMass(b, bad);
    EXPECT_EQ(std::make_tuple(b->stateFlags & RB_STATE_FIXED, b->invMass, b->invInertiaLocal.r[1].y),
              std::make_tuple(RB_STATE_FIXED, 0.0f, 0.0f));
  }
  // From a total of 0 the inertia comes from the shapes at the new mass.
  RigidBody_SetMass(b, 4.0f);
  EXPECT_FALSE(b->stateFlags & RB_STATE_FIXED);
  EXPECT_NEAR(b->invInertiaLocal.r[0].x, 1.0f / (0.4f * 4.0f * 0.25f), 1e-4f);
  // A later mass scales the inertia with it.
  RigidBody_SetMass(b, 8.0f);
  EXPECT_NEAR(b->invInertiaLocal.r[2].z, 1.0f / (0.4f * 8.0f * 0.25f), 1e-4f);
  // Updating the mass properties keeps the total and the locked axes.
  RigidBody_SetMass(b, 3.0f);
  Mat3 inv = b->invInertiaLocal;
  inv.r[1] = V3(0, 0, 0);
  inv.r[0].y = inv.r[2].y = 0.0f;
  RigidBody_SetInertiaTensor(b, &inv);
  RigidBody_UpdateMassProperties(b);
  EXPECT_FLOAT_EQ(b->mass, 3.0f);
  EXPECT_EQ(b->invInertiaLocal.r[1].y, 0.0f);
  EXPECT_GT(b->invInertiaLocal.r[0].x, 0.0f);
  // A torque about the locked axis produces no spin.
  s.Add(b);
  Simulation_SetGravity(s.sim, V3(0, 0, 0));
  b->torque = V3(0, 10, 0);
  s.Frame(0.02f);
  EXPECT_EQ(b->angularVelocity.y, 0.0f);
  // Fixed stays fixed.
  RigidBody* f = s.Sphere(0.5f, 0.0f, V3(3, 0, 0));
  RigidBody_UpdateMassProperties(f);
  EXPECT_TRUE(f->stateFlags & RB_STATE_FIXED);
  EXPECT_EQ(f->invMass, 0.0f);
}

TEST(RigidBody, CompositeCentreOfMassAndMeshBodiesStayFixed) {
  DynTestScene s;
  RigidBody* b = RigidBody_Construct();
  PrimitiveDesc d = collision_test::SphereDesc(0.5f);  // of mass 1
  RigidBody_AddPrimitive(b, &d);
  d.transform.position = V3(2, 0, 0);
  d.mass = 3.0f;
  RigidBody_AddPrimitive(b, &d);
  EXPECT_FLOAT_EQ(b->mass, 4.0f);
  EXPECT_NEAR(b->comOffset.x, 1.5f, 1e-5f);
  EXPECT_EQ(b->primitives[0]->kind, uint32_t(PRIMITIVE_KIND_SPHERE));
  PhysObject_Destroy(b);

  collision_test::Warnings warnings;
  RigidBody* ground = s.Plane(2.0f, V3(0, 0, 0));
  RigidBody_SetMass(ground, 5.0f);
  EXPECT_TRUE(ground->stateFlags & RB_STATE_FIXED);
  EXPECT_EQ(warnings.count, 1);
}

TEST(RigidBody, CloneCopiesShapesMassAndSettingsButNotTheWorld) {
  DynTestScene s;
  RigidBody* b = s.Box(V3(0.5f, 0.2f, 0.3f), 2.0f, V3(1, 2, 3));
  b->restitution = 0.7f;
  b->friction = 0.2f;
  RigidBody_SetCollisionGroup(b, 0x6);
  RigidBody_SetPhantom(b, 1);
  RigidBody_SetCentreOfMass(b, V3(0.1f, 0, 0));
  b->ResetMotion(1);
  b->SetActive(0, 0);
  s.Add(b);
  RigidBody* c = b->Clone();
  ASSERT_NE(c, nullptr);
  s.bodies.push_back(c);
  EXPECT_EQ(std::make_tuple(c->subspace, c->primitives.Count(), c->primitives[0]->shape, c->primitives[0]->group),
            std::make_tuple(nullptr, 1, b->primitives[0]->shape, 0x6u));
  EXPECT_EQ(std::make_tuple(c->mass, c->comOffset.x, c->restitution, c->friction),
            std::make_tuple(2.0f, 0.1f, 0.7f, 0.2f));
  EXPECT_EQ(std::make_tuple(std::memcmp(&c->invInertiaLocal, &b->invInertiaLocal, sizeof(Mat3)),
                            (bool)(RigidBody_IsPhantom(c)), (bool)(c->pinned), (bool)(c->stateFlags & RB_STATE_ACTIVE)),
            std::make_tuple(0, true, true, false));
  EXPECT_NE(c->id, b->id);
}

TEST(RigidBody, PinnedBodiesHoldStillReadSettledAndActAsImmovable) {
  DynTestScene s;
  s.Plane(5.0f, V3(0, 0, 0));
  RigidBody* pinned = s.Added(s.Sphere(0.5f, 1.0f, V3(0, 3, 0)));
  pinned->ResetMotion(1);
  RigidBody* ball = s.Added(s.Sphere(0.25f, 1.0f, V3(0, 4, 0)));
  s.Run(1.0f);
  EXPECT_FLOAT_EQ(pinned->pose.position.y, 3.0f);
  EXPECT_FALSE(pinned->stateFlags & RB_STATE_NOT_SETTLED);
  EXPECT_NEAR(ball->pose.position.y, 3.75f, 0.02f);  // rests on the pinned body
  pinned->ResetMotion(0);
  ball->SetActive(1, 0);
  pinned->SetActive(1, 0);
  s.Run(1.0f);
  EXPECT_NEAR(pinned->pose.position.y, 0.5f, 0.02f);
}

TEST(RigidBody, WakingFollowsWritesImpulsesTeleportsAndHolds) {
  DynTestScene s;
  s.Plane(5.0f, V3(0, 0, 0));
  RigidBody* ball = s.Sphere(0.5f, 1.0f, V3(0, 0.5f, 0));
  ball->SetActive(0, 0);  // starts inactive, like an object configured Active 0
  s.Add(ball);
  EXPECT_FALSE(ball->stateFlags & RB_STATE_ACTIVE);
  s.Run(0.1f);
  EXPECT_FALSE(ball->stateFlags & RB_STATE_ACTIVE);
  ball->linearVelocity = V3(0, 2, 0);  // a hop: it lands and rests again
  s.Frame(0.02f);
  EXPECT_TRUE(ball->stateFlags & RB_STATE_ACTIVE);
  s.Run(3.0f);
  EXPECT_FALSE(ball->stateFlags & RB_STATE_ACTIVE);
  RigidBody_ApplyImpulse(ball, V3(0, 2, 0), RigidBody_GetCentreOfMassWorld(ball));
  s.Frame(0.02f);
  EXPECT_TRUE(ball->stateFlags & RB_STATE_ACTIVE);
  // A teleport wakes a sleeper too: lifted into the air, it falls.
  s.Run(3.0f);
  ASSERT_FALSE(ball->stateFlags & RB_STATE_ACTIVE);
  RigidBody_SetPositionAndRotation(ball, V3(0, 2.5f, 0), Quat_Identity());
  s.Run(0.2f);
  EXPECT_TRUE(ball->stateFlags & RB_STATE_ACTIVE);
  EXPECT_LT(ball->pose.position.y, 2.4f);
  // While held the body never sleeps.
  RigidBody_HoldActive(ball);
  s.Run(3.0f);
  EXPECT_TRUE(ball->stateFlags & RB_STATE_ACTIVE);
  RigidBody_ReleaseActive(ball);
  s.Run(1.0f);
  EXPECT_FALSE(ball->stateFlags & RB_STATE_ACTIVE);
  // Out of the world a wake does not insert the body.
  s.Remove(ball);
  ball->SetActive(1, 0);
  EXPECT_EQ(ball->subspace, nullptr);
  // A fixed body ignores activation.
  RigidBody* f = s.Sphere(1.0f, 0.0f, V3(5, 5, 5));
  f->SetActive(1, 0);
  EXPECT_FALSE(f->stateFlags & RB_STATE_ACTIVE);
}

TEST(RigidBody, ASleepingStackWakesWholeAndFallsWhenItsSupportGoes) {
  DynTestScene s;
  s.Plane(5.0f, V3(0, 0, 0));
  RigidBody* base = s.Added(s.Box(V3(0.5f, 0.5f, 0.5f), 1.0f, V3(0, 0.5f, 0)));
  RigidBody* top = s.Added(s.Box(V3(0.5f, 0.5f, 0.5f), 1.0f, V3(0, 1.5f, 0)));
  RigidBody* apart = s.Added(s.Box(V3(0.5f, 0.5f, 0.5f), 1.0f, V3(3, 0.5f, 0)));
  s.Run(2.0f);
  ASSERT_FALSE(top->stateFlags & RB_STATE_ACTIVE);
  // A nudge to the top wakes the stack it sleeps in, not the box apart.
  RigidBody_ApplyImpulse(top, V3(0.01f, 0, 0), RigidBody_GetCentreOfMassWorld(top));
  s.Frame(0.02f);
  EXPECT_TRUE(base->stateFlags & RB_STATE_ACTIVE);
  EXPECT_FALSE(apart->stateFlags & RB_STATE_ACTIVE);
  s.Run(2.0f);
  ASSERT_FALSE(top->stateFlags & RB_STATE_ACTIVE);
  s.Remove(base);
  s.Run(1.0f);
  EXPECT_NEAR(top->pose.position.y, 0.5f, 0.03f);
}
