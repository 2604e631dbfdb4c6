// Islands and sleeping. Moving bodies joined by touching contacts or by a
// joint form an island; a body is ready to sleep when it has stayed under the
// rest speeds for the first check period (or under the looser slow speeds for
// the second), and an island sleeps when every one of its bodies is ready, so
// a stack never sleeps from the top while its base still moves. A body's
// speeds are judged smoothed over a few steps (kRestSmoothing), so that a
// resting pile's trembles of a single step do not keep it awake.
//
// Islands are found afresh each step by union-find over the step's bodies,
// the lower index always becoming the root, so the result does not depend
// on the order of contacts or joints. An island put to sleep gives its bodies
// a number of their own (RigidBody::sleepIsland; sleepers it touched, and
// every body asleep with theirs, join it), by which the first of them woken
// wakes them all (Island_WakeWoken): sleeping bodies are not collided, and
// one woken alone would be pressed into neighbours that stay immovable.
#pragma once
#include <cstdint>

#include "physics/base/phys_array.h"

class Constraint;
class RigidBody;
struct FreezeManager;
struct SolverManifold;

// Scratch kept between steps so that a step allocates nothing.
struct IslandScratch {
  PhysArray<int, PHYS_MEM_SOLVER> parent;
  PhysArray<float, PHYS_MEM_SOLVER> rest;
  PhysArray<uint32_t, PHYS_MEM_SOLVER> numbers;  // per root: the number its island sleeps with
  PhysArray<uint32_t, PHYS_MEM_SOLVER> merged;   // pairs (old number, new number) of sleepers that joined
  PhysArray<uint32_t, PHYS_MEM_SOLVER> waking;   // numbers of islands being woken
  uint32_t lastNumber = 0;
};

// Updates the bodies' rest timers and settled flags for a step of h, then
// puts every island whose bodies are all ready to sleep. `bodies` are the
// step's bodies (null entries: left during the step); manifolds and
// constraints are those of the step. Returns the number of islands of
// moving bodies.
int Island_Sleep(IslandScratch* scratch, RigidBody* const* bodies, int count, const SolverManifold* manifolds,
                 int manifoldCount, Constraint* const* constraints, int constraintCount, const FreezeManager& freeze,
                 float h);
// Wakes every sleeping body whose island has a body awake again (woken by a
// touch, a joint, a write or a request since), and forgets those islands.
// Returns the number of bodies woken.
int Island_WakeWoken(IslandScratch* scratch, RigidBody* const* bodies, int count);
