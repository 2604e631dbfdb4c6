// Simulation: steps its subspaces' bodies from its current time to a target
// time in sub-steps. One sub-step of length h:
//   1. wake requests and quarantine of non-finite bodies;
//   2. actions (forces);
//   3. collision detection at the current placement (contacts persist: hull
//      pairs re-validate what they found last time, see NarrowPhaseCache);
//   4. contact events (kind 2, pre-solve velocities) and phantom overlap
//      events (kind 5), then the structural changes callbacks deferred;
//   5. the soft step (contact_solver.cpp): contacts and joints solved over a
//      few solver sub-steps that integrate gravity, forces and positions,
//      warm started from the last sub-step's impulses;
//   6. bodies placed, fast ones backstepped at their first hit of a mesh;
//   7. deactivation of resting islands (island.h).
#pragma once
#include <cstdint>

#include "physics/base/phys_array.h"
#include "physics/base/phys_math.h"
#include "physics/base/phys_object.h"
#include "physics/dynamics/phys_time.h"

class CollisionDetection;
class CollisionListener;
class CollisionPrimitive;
class ConstraintManager;
class DynWorld;
class EventDispatcher;
class RigidBody;
class Subspace;
struct ContactSolverState;

// Deactivation. A body is at rest when its speeds (smoothed over a few
// steps, see island.h) stay below the rest speeds;
// an island of touching bodies sleeps when all its bodies have rested for
// checkPeriod[0], or moved only below the slow speeds for checkPeriod[1].
struct FreezeManager {
  float checkPeriod[2] = {0.2f, 10.0f};
  float restLinear = 0.08f;   // m/s
  float restAngular = 0.12f;  // rad/s
  float slowLinear = 0.4f;
  float slowAngular = 0.5f;
};

// Per-step counts for statistics monitors.
struct SimulationStats {
  int subSteps;
  int activeBodies;
  int pairs;
  int contacts;
  int islands;
  int contactEvents;
  int phantomEvents;
  float maxPenetration;
};

class Simulation : public PhysObject {
public:
  PHYS_DECLARE_MEMCLASS(PHYS_MEM_WORLD)
  Simulation();
  ~Simulation() override;
  int Notify(PhysObject* source, uint32_t id, int mode) override;

  DynWorld* world = nullptr;
  Vec3 gravity{0, -9.81f, 0};
  int resolver = 2;
  FreezeManager freeze;
  int solverIterations = 10;   // velocity passes per sub-step: half solve, half relax
  // Hull pairs that barely moved since their last full narrow-phase test
  // re-validate its feature instead of searching again (see
  // NarrowPhaseCache); off, every pair runs the full test every sub-step.
  bool cacheContacts = true;
  double time = 0.0;           // seconds reached
  float lastSubStep = 0.0f;    // length of the previous sub-step (warm-start scaling)
  bool stepping = false;       // inside a sub-step (callbacks run)
  EventDispatcher* dispatcher = nullptr;          // owned
  CollisionListener* collisionListener = nullptr; // not owned
  EventDispatcher* phantomListener = nullptr;     // not owned
  CollisionDetection* detection = nullptr;        // not owned
  PhysArray<Subspace*, PHYS_MEM_WORLD> subspaces; // not owned
  ContactSolverState* contacts = nullptr;         // owned: manifolds, warm starts, overlaps
  SimulationStats stats{};
};

// -> a simulation on world (not added to it: DynWorld_AddSimulation).
Simulation* Simulation_Construct(DynWorld* world);
// Resolution strategy 2 (sequential impulses) is the only one; others refused.
int Simulation_SetResolver(Simulation* sim, int resolver);
void Simulation_SetGravity(Simulation* sim, Vec3 gravity);
EventDispatcher* Simulation_GetDispatcher(Simulation* sim);
void Simulation_SetCollisionListener(Simulation* sim, CollisionListener* listener);
void Simulation_SetPhantomListener(Simulation* sim, EventDispatcher* dispatcher);
void Simulation_SetCollisionDetection(Simulation* sim, CollisionDetection* detection);
CollisionDetection* Simulation_GetCollisionDetection(const Simulation* sim);
int Simulation_AddSubspace(Simulation* sim, Subspace* subspace);
// Velocity passes per sub-step (1..1000, default 10; others ignored): the
// solver runs (iterations + 1) / 2 sub-steps, each solving once with bias and
// relaxing once.
void Simulation_SetSolverIterations(Simulation* sim, int iterations);
// Advances to target in n equal sub-steps. n <= 0, or a target not after the
// current time, does nothing except that a target moved backwards becomes the
// clock (so the world does not freeze). At most 64 sub-steps of at most 0.1 s
// are taken; the clock moves to the target all the same.
void Simulation_StepTo(Simulation* sim, double target, int n);
// One sub-step of length h (h <= 0 does nothing).
void Simulation_SubStep(Simulation* sim, float h);
// A body leaves the world (removed or destroyed): it leaves the detection
// holder, its contacts, warm starts and overlaps are dropped and the bodies
// it supported woken. A removed body's overlaps end with kind-5 events
// queued for the next event phase (within the current sub-step when called
// from a callback); a destroyed body's primitives are purged from the queue.
void Simulation_BodyLeaves(Simulation* sim, RigidBody* body, bool destroyed);
// Wakes the sleeping bodies within the contact margin of body (its support
// was removed or moved).
void Simulation_WakeTouching(Simulation* sim, RigidBody* body);
// Every body attached to the simulation's subspaces, in id order (a snapshot).
int Simulation_GetBodies(const Simulation* sim, PhysArray<RigidBody*, PHYS_MEM_SOLVER>* out);
