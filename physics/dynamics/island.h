// Islands and sleeping. Moving bodies joined by touching contacts or by a
// joint form an island; a body is ready to sleep when it has stayed under the
// rest speeds for the first check period (or under the looser slow speeds for
// the second), and an island sleeps when every one of its bodies is ready, so
// a stack never sleeps from the top while its base still moves.
//
// Islands are found afresh each step by union-find over the step's bodies,
// the lower index always becoming the root, so the result does not depend
// on the order of contacts or joints.
#pragma once
#include "physics/base/phys_array.h"

class Constraint;
class RigidBody;
struct FreezeManager;
struct SolverManifold;

// Scratch kept between steps so that a step allocates nothing.
struct IslandScratch {
  PhysArray<int, PHYS_MEM_SOLVER> parent;
  PhysArray<float, PHYS_MEM_SOLVER> rest;
};

// Updates the bodies' rest timers and settled flags for a step of h, then
// puts every island whose bodies are all ready to sleep. `bodies` are the
// step's bodies (null entries: left during the step); manifolds and
// constraints are those of the step. Returns the number of islands of
// moving bodies.
int Island_Sleep(IslandScratch* scratch, RigidBody* const* bodies, int count, const SolverManifold* manifolds,
                 int manifoldCount, Constraint* const* constraints, int constraintCount, const FreezeManager& freeze,
                 float h);
