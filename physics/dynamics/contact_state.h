// The simulation's contact state between and within sub-steps: this
// sub-step's manifolds, the previous sub-step's impulses for warm starting,
// the hull pairs' narrow-phase caches, the phantom overlaps in progress, the
// events queued for dispatch, the body snapshot the sub-step walks and the
// solver's working sets. Internal to the dynamics (the simulation, the
// contact solver and the islands); tests read it for diagnostics.
#pragma once
#include <cstdint>

#include "physics/base/phys_array.h"
#include "physics/collision/narrow_phase.h"
#include "physics/dynamics/constraint.h"
#include "physics/dynamics/contact_solver.h"
#include "physics/dynamics/events.h"
#include "physics/dynamics/island.h"
#include "physics/dynamics/solver_body.h"

class Action;
class CollisionPrimitive;
class RigidBody;

struct SolverManifold {
  uint64_t key;  // (lower primitive id << 32) | higher id
  CollisionPrimitive* pa;
  CollisionPrimitive* pb;
  RigidBody* a;  // owning bodies (a of pa, b of pb)
  RigidBody* b;
  ContactManifold m;
  Vec3 onA[4];                // each point in a's body space: the place a warm start belongs to
  float impulses[4];          // normal impulse per point, for the next step's warm start
  float loads[4];             // the load per point the soft push relaxes to (impulse per sub-step)
  Vec3 frictionImpulse;       // the manifold's friction impulse across its normal (world)
  float twistImpulse;         // and about its normal
  Vec3 frictionNormal;        // the normal they were taken about
  float friction;             // combined coefficients
  float restitution;
  int32_t constraint;         // its contact constraint this step, -1 when not solved
  bool hasFriction;           // the friction impulses hold a solve's result
  bool dead;                  // a body left during the sub-step: skip
};

// What the narrow phase found for a hull pair, kept from one sub-step to the
// next (see NarrowPhaseCache).
struct PairCacheEntry {
  uint64_t key;
  NarrowPhaseCache cache;
};

struct PhantomOverlap {
  uint64_t key;
  CollisionPrimitive* pa;
  CollisionPrimitive* pb;
  RigidBody* a;
  RigidBody* b;
};

struct ContactSolverState {
  PhysArray<SolverManifold, PHYS_MEM_CONTACT> manifolds;      // this sub-step, ordered by key
  PhysArray<SolverManifold, PHYS_MEM_CONTACT> previous;       // last sub-step, ordered by key
  // Pairs that went to sleep, ordered by key: their impulses and loads warm
  // start the pair again when it wakes (a pile woken by a blow then carries
  // its weight from the first pass, as it did before it slept).
  PhysArray<SolverManifold, PHYS_MEM_CONTACT> resting;
  PhysArray<SolverManifold, PHYS_MEM_CONTACT> restingNext;    // scratch
  PhysArray<PairCacheEntry, PHYS_MEM_CONTACT> pairCache;      // hull pairs' narrow-phase caches, ordered by key
  PhysArray<PairCacheEntry, PHYS_MEM_CONTACT> pairCacheNext;  // scratch
  SolverSet solverSet;                                        // the moving bodies as the solver sees them
  ContactSolver contactSolver;                                // this sub-step's contact constraints
  PhysArray<Action*, PHYS_MEM_SOLVER> actions;                // snapshot of a subspace's actions
  PhysArray<PhantomOverlap, PHYS_MEM_CONTACT> overlaps;       // in progress, ordered by key
  PhysArray<PhantomOverlap, PHYS_MEM_CONTACT> overlapsNext;   // scratch
  PhysArray<PhysPairEvent, PHYS_MEM_EVENT> pending;           // queued phantom end events
  PhysArray<RigidBody*, PHYS_MEM_SOLVER> stepBodies;          // the sub-step's bodies (null: left)
  PhysArray<Constraint*, PHYS_MEM_SOLVER> stepConstraints;    // constraints solved this sub-step
  IslandScratch islands;
  PhysArray<const CollisionPrimitive*, PHYS_MEM_SOLVER> meshes;  // mesh primitives, gathered for sweeps
  bool meshesGathered = false;                                // meshes is this sub-step's
};
