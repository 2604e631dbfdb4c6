// Actions: objects a subspace calls once per sub-step, in priority order
// (lower first, then in order of addition), before velocities are integrated.
// An action adds forces to bodies (RigidBody_AddForce) or adjusts them.
#pragma once
#include "physics/base/phys_object.h"

class Subspace;

class Action : public PhysObject {
public:
  PHYS_DECLARE_MEMCLASS(PHYS_MEM_CONSTRAINT)
  // Called every sub-step of length h > 0 while the action is added.
  virtual void Apply(Subspace* subspace, float h) = 0;
  // The constraint manager answers 1: the subspace solves it after every
  // force-producing action, whatever their order.
  virtual int IsConstraintManager() const { return 0; }
};
