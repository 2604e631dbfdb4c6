// Subspaces: the part of a simulation that integrates a set of entities
// (rigid bodies) and runs its actions. A subspace is a dependent of each
// attached body: the body's notice (leaving the world, or destruction)
// detaches it, and of each action (a destroyed action is dropped).
#pragma once
#include <cstdint>

#include "physics/base/phys_object.h"

class Action;
class RigidBody;
class Simulation;

class Subspace : public PhysObject {
public:
  PHYS_DECLARE_MEMCLASS(PHYS_MEM_WORLD)
  ~Subspace() override;
  int Notify(PhysObject* source, uint32_t id, int mode) override;

  struct ActionEntry {
    Action* action;
    int priority;
    uint32_t order;  // addition order, breaks priority ties
  };
  Simulation* simulation = nullptr;
  int integrator = 0;
  PhysArray<RigidBody*, PHYS_MEM_WORLD> entities;  // attached bodies, ordered by body id
  PhysArray<ActionEntry, PHYS_MEM_WORLD> actions;   // sorted by (priority, order)
  uint32_t nextOrder = 0;
};

// -> a rigid-body subspace with integrator 0 (semi-implicit Euler).
Subspace* RigidSubspace_Construct();
// Integrator 0 is the only one; other numbers are refused (0 returned).
int RigidSubspace_SetIntegrator(Subspace* subspace, int integrator);
// Adds an action (once) at a priority; 0 on failure.
int Subspace_AddAction(Subspace* subspace, Action* action, int priority);
int Subspace_RemoveAction(Subspace* subspace, Action* action);
// Attaches a body; idempotent. A body attached elsewhere is moved here. The
// body's stored activation state is kept.
int Subspace_AttachEntity(Subspace* subspace, RigidBody* body);
// Detaches a body (harmless when not attached); see Simulation_BodyLeaves.
void Subspace_DetachEntity(Subspace* subspace, RigidBody* body);
