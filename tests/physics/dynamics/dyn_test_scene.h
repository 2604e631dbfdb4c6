// A small world for the dynamics tests and the physics benchmark, put
// together the way the engine layer does it: one simulation, a rigid subspace
// with a constraint manager, a detection holder with margin 0.1 and a
// collision listener. Bodies made through the scene are destroyed with it.
#pragma once
#include <cmath>
#include <vector>

#include "physics/base/base_system.h"
#include "physics/collision/collision_detection.h"
#include "physics/collision/collision_primitive.h"
#include "physics/collision/convex_hull.h"
#include "physics/collision/mesh_container.h"
#include "physics/dynamics/constraint.h"
#include "physics/dynamics/dyn_world.h"
#include "physics/dynamics/events.h"
#include "physics/dynamics/rigid_body.h"
#include "physics/dynamics/simulation.h"
#include "physics/dynamics/subspace.h"
#include "tests/physics/dynamics/dyn_scene_recipes.h"

struct DynTestScene {
  DynWorld* world;
  Simulation* sim;
  Subspace* sub;
  ConstraintManager* cm;
  CollisionDetection* cd;
  CollisionListener* listener;
  double time = 0.0;
  std::vector<RigidBody*> bodies;
  std::vector<Constraint*> joints;  // made by Build; destroyed after the bodies, as the engine layer does

  DynTestScene() {
    BaseSystem_Init();
    world = DynWorld_Construct(4545);
    sim = Simulation_Construct(world);
    DynWorld_AddSimulation(world, sim);
    Simulation_SetResolver(sim, 2);
    sub = RigidSubspace_Construct();
    RigidSubspace_SetIntegrator(sub, 0);
    Simulation_AddSubspace(sim, sub);
    cm = ConstraintManager_Construct();
    Subspace_AddAction(sub, cm, 0);
    cd = CollisionDetection_Construct(0.1f);
    Simulation_SetCollisionDetection(sim, cd);
    listener = CollisionListener_Construct(Simulation_GetDispatcher(sim), sim);
    Simulation_SetCollisionListener(sim, listener);
    Simulation_SetPhantomListener(sim, Simulation_GetDispatcher(sim));
    CollisionDetection_EnableGroupPair(cd, 1, 1);
  }
  ~DynTestScene() {
    for (RigidBody* b : bodies) PhysObject_Destroy(b);
    for (Constraint* c : joints) PhysObject_Destroy(c);
    PhysObject_Destroy(listener);
    PhysObject_Destroy(cm);
    PhysObject_Destroy(sub);
    PhysObject_Destroy(sim);
    PhysObject_Destroy(cd);
    PhysObject_Destroy(world);
    BaseSystem_Quit();
  }

  RigidBody* Keep(RigidBody* b, Vec3 pos, uint32_t group) {
    RigidBody_SetCollisionGroup(b, group);
    RigidBody_SetPositionAndRotation(b, pos, Quat_Identity());
    bodies.push_back(b);
    return b;
  }
  // A body of one primitive of the given mass.
  RigidBody* Body(PrimitiveDesc d, float mass) {
    RigidBody* b = RigidBody_Construct();
    d.mass = mass;
    RigidBody_AddPrimitive(b, &d);
    RigidBody_SetMass(b, mass);
    return b;
  }
  // A body of the shape (the body takes its own reference).
  RigidBody* Shaped(CollisionShape* shape, float mass, Vec3 pos, uint32_t group) {
    RigidBody* b = Body(collision_test::ShapeDesc(shape), mass);
    CollisionShape_Release(shape);
    return Keep(b, pos, group);
  }
  RigidBody* Sphere(float r, float mass, Vec3 pos, uint32_t group = 1) {
    return Keep(Body(collision_test::SphereDesc(r), mass), pos, group);
  }
  RigidBody* Box(Vec3 half, float mass, Vec3 pos, uint32_t group = 1) {
    return Shaped(collision_test::BoxHull(half.x, half.y, half.z), mass, pos, group);
  }
  RigidBody* Hull(const std::vector<Vec3>& points, float mass, Vec3 pos, uint32_t group = 1) {
    return Shaped(collision_test::HullOf(points), mass, pos, group);
  }
  // A fixed mesh body, added to the world.
  RigidBody* Mesh(const SceneMesh& m, Vec3 pos, Quat rot = Quat_Identity(), uint32_t group = 1) {
    RigidBody* b = Shaped(collision_test::MeshOf(m), 0.0f, pos, group);
    RigidBody_SetPositionAndRotation(b, pos, rot);
    Add(b);
    return b;
  }
  // A fixed mesh in the world: a square of side 2 * half in the plane through `pos` with
  // the given normal direction (two triangles per cell, cells x cells).
  RigidBody* Plane(float half, Vec3 pos, Quat rot = Quat_Identity(), int cells = 4, uint32_t group = 1) {
    return Mesh(Grid_Mesh(cells, half, [](float, float) { return 0.0f; }), pos, rot, group);
  }
  // Builds a recipe's bodies in its order, each added to the world (group 1),
  // then its hinges (kept in `joints`).
  std::vector<RigidBody*> Build(const SceneRecipe& r) {
    std::vector<RigidBody*> out;
    for (const SceneBody& d : r.bodies) {
      RigidBody* b = nullptr;
      switch (d.kind) {
        case SceneBody::kSphere: b = Sphere(d.radius, d.mass, d.position); break;
        case SceneBody::kBox: b = Box(d.half, d.mass, d.position); break;
        case SceneBody::kHull: b = Hull(d.points, d.mass, d.position); break;
        case SceneBody::kMesh: b = Mesh(r.meshes[size_t(d.mesh)], d.position, d.rotation); break;
      }
      if (d.kind != SceneBody::kMesh) {
        if (d.rotation.w != 1.0f) RigidBody_SetPositionAndRotation(b, d.position, d.rotation);
        Add(b);
      }
      out.push_back(b);
    }
    for (const SceneHinge& h : r.hinges) {
      RigidBody* a = out[size_t(h.a)];
      RigidBody* b = h.b >= 0 ? out[size_t(h.b)] : nullptr;
      HingeConstraint* c = HingeConstraint_Construct(a, b);
      HingeConstraint_SetPivotAxisWorld(c, h.pivot, h.axis);
      ConstraintManager_AddConstraint(cm, c);
      joints.push_back(c);
      if (b) CollisionDetection_DisableBodyPair(cd, a, b);
    }
    return out;
  }
  // As the engine layer's AddBody / RemoveBody.
  void Add(RigidBody* b) {
    Subspace_AttachEntity(sub, b);
    CollisionDetection_AddBody(cd, b);
  }
  RigidBody* Added(RigidBody* b) { return Add(b), b; }
  void Remove(RigidBody* b) { PhysObject_NotifyDependents(b, PHYS_NOTIFY_DESTROYED); }
  // The engine layer's stepping rule: one sub-step per started 1/50 s, at
  // most three, and at most 0.1 s of simulated time per frame.
  void Frame(float dt) {
    int n = int(std::ceil(dt * 50.0f - 1e-4f));
    if (n > 3) n = 3;
    time += dt < 0.1f ? dt : 0.1f;
    DynWorld_Step(world, PhysTime_FromSeconds(time), n);
  }
  // One sub-step of h.
  void Step(float h) {
    time += h;
    DynWorld_Step(world, PhysTime_FromSeconds(time), 1);
  }
  void Run(float seconds, float dt = 0.02f) {
    int frames = int(seconds / dt + 0.5f);
    for (int i = 0; i < frames; ++i) Frame(dt);
  }
};
