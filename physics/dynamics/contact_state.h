// The simulation's contact state between and within sub-steps: this
// sub-step's manifolds with their solver rows, the previous sub-step's
// impulses for warm starting, the phantom overlaps in progress, the events
// queued for dispatch and the body snapshot the sub-step walks. Internal to
// the dynamics (simulation.cpp); tests read it for diagnostics.
#pragma once
#include <cstdint>

#include "physics/base/phys_array.h"
#include "physics/collision/narrow_phase.h"
#include "physics/dynamics/constraint.h"
#include "physics/dynamics/events.h"

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
  float impulses[4];     // normal impulse per point (warm starts)
  float frictionImpulses[3];  // the manifold's two tangent and twist impulses
  Vec3 frictionNormal;   // the normal the friction rows were built about
  int normalCount;       // normal rows from rowStart; the three friction rows follow
  float friction;
  float restitution;
  int rowStart;  // first row in ContactSolverState::rows, -1 when not solved
  int8_t pointRows[4];  // per point: its row triple after rowStart, -1 when left out
  bool dead;     // a body left during the sub-step: skip
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
  PhysArray<SolverRow, PHYS_MEM_SOLVER> rows;                 // contact rows of this sub-step
  SolverBodies solverBodies;                                  // velocities the rows work on
  PhysArray<int, PHYS_MEM_SOLVER> pushRows;                   // normal rows with penetration to push out
  PhysArray<Action*, PHYS_MEM_SOLVER> actions;                // snapshot of a subspace's actions
  PhysArray<PhantomOverlap, PHYS_MEM_CONTACT> overlaps;       // in progress, ordered by key
  PhysArray<PhantomOverlap, PHYS_MEM_CONTACT> overlapsNext;   // scratch
  PhysArray<PhysPairEvent, PHYS_MEM_EVENT> pending;           // queued phantom end events
  PhysArray<RigidBody*, PHYS_MEM_SOLVER> stepBodies;          // the sub-step's bodies (null: left)
  PhysArray<Constraint*, PHYS_MEM_SOLVER> stepConstraints;    // constraints solved this sub-step
  PhysArray<int, PHYS_MEM_SOLVER> islandParent;               // union-find scratch
  PhysArray<float, PHYS_MEM_SOLVER> islandRest;               // scratch
  PhysArray<const CollisionPrimitive*, PHYS_MEM_SOLVER> meshes;  // mesh primitives, gathered for sweeps
  bool meshesGathered = false;                                // meshes is this sub-step's
};
