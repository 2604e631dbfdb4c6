// Spring-like actions applied by a subspace each sub-step as forces:
// a dashpot (damped spring between two anchors), a suspension dashpot (the
// same along one direction of body A) and an angular spring (pulls a body's
// orientation towards a target). Strength is the spring rate per unit mass
// (1/s^2) and damping the damping rate (1/s), so that the same values suit a
// light and a heavy body; the force is scaled by the bodies' reduced mass.
#pragma once

#include "physics/base/phys_math.h"
#include "physics/dynamics/action.h"

class RigidBody;

class Dashpot : public Action {
public:
  Dashpot(RigidBody* a, Vec3 anchorA, RigidBody* b, Vec3 anchorB, float strength, float damping);
  ~Dashpot() override;
  void Apply(Subspace* subspace, float h) override;
  int Notify(PhysObject* source, uint32_t id, int mode) override;
  RigidBody* bodyA;
  RigidBody* bodyB;
  Vec3 anchorA, anchorB;  // body-space anchors
  float strength, damping;
  float restLength = 0.0f;  // length when built (or recomputed)
};

class SuspensionDashpot : public Dashpot {
public:
  SuspensionDashpot(RigidBody* a, Vec3 anchorA, RigidBody* b, Vec3 anchorB, Vec3 direction, float value);
  void Apply(Subspace* subspace, float h) override;
  Vec3 direction;       // in body A's space; (0, 0, 0) means along the anchors
  float value;          // the spring rate (strength), damping derived from it
};

class AngularSpring : public Action {
public:
  AngularSpring(RigidBody* a, Quat target, float strength, float damping);
  ~AngularSpring() override;
  void Apply(Subspace* subspace, float h) override;
  int Notify(PhysObject* source, uint32_t id, int mode) override;
  RigidBody* body;
  Quat target;
  float strength, damping;
};

// Constructors: null when a required body is none or on exhaustion.
Dashpot* Dashpot_Construct(RigidBody* a, Vec3 anchorA, RigidBody* b, Vec3 anchorB, float strength,
                           float damping);
SuspensionDashpot* SuspensionDashpot_Construct(RigidBody* a, Vec3 anchorA, RigidBody* b, Vec3 anchorB,
                                               Vec3 direction, float value);
// Recomputes the derived values (rest length, damping) after value changed.
void SuspensionDashpot_Recompute(SuspensionDashpot* s);
AngularSpring* AngularSpring_Construct(RigidBody* a, Quat target, float strength, float damping);
