#include "physics/dynamics/dyn_world.h"

#include <gtest/gtest.h>

#include "tests/physics/dynamics/dyn_test_scene.h"

TEST(DynWorld, PartsMayBeDestroyedInAnyOrderWithBodiesStillInside) {
  BaseSystem_Init();
  DynWorld* world = DynWorld_Construct(4545);
  Simulation* sim = Simulation_Construct(world);
  DynWorld_AddSimulation(world, sim);
  Subspace* sub = RigidSubspace_Construct();
  Simulation_AddSubspace(sim, sub);
  ConstraintManager* cm = ConstraintManager_Construct();
  Subspace_AddAction(sub, cm, 0);
  CollisionDetection* cd = CollisionDetection_Construct(0.1f);
  Simulation_SetCollisionDetection(sim, cd);
  RigidBody* b = RigidBody_Construct();
  PrimitiveDesc d = collision_test::SphereDesc(0.5f);
  RigidBody_AddPrimitive(b, &d);
  Subspace_AttachEntity(sub, b);
  CollisionDetection_AddBody(cd, b);
  DynWorld_Step(world, PhysTime{0, 0.02f}, 1);
  PhysObject_Destroy(world);
  PhysObject_Destroy(cd);
  PhysObject_Destroy(sim);
  EXPECT_EQ(sub->simulation, nullptr);
  PhysObject_Destroy(cm);
  EXPECT_TRUE(sub->actions.Empty());
  PhysObject_Destroy(sub);
  EXPECT_EQ(b->subspace, nullptr);
  PhysObject_Destroy(b);
  BaseSystem_Quit();
}
