// Physics constraints and actions: joints and spring-like forces between two
// bodies, or between a body and the fixed world, made through one
// constructor that takes a kind number. Kinds 0 and 2-5 are constraints
// solved by the constraint manager; kinds 1, 6 and 7 are actions applied by
// a subspace each sub-step. Every object made here goes into the world
// object's owned set until it is destroyed.
//
// Lifecycle: created -> attached -> detached -> destroyed. Nothing is
// simulated before PhysConstraint_Attach. The world's destruction detaches
// and destroys every constraint left in its pool. When a body of a joint is
// destroyed first, the joint lets go of it (the physics engine's notice) and
// stays safe to detach and destroy.
#pragma once

#include <cstdint>

#include "common/maths.h"

class PhysObject;
struct PhysBody;
struct PhysWorld;

enum PhysConstraintKind {
    PHYS_JOINT_HINGE = 0,
    PHYS_JOINT_DASHPOT = 1,             // action; both bodies required
    PHYS_JOINT_POINT2POINT = 2,
    PHYS_JOINT_FRAME = 3,               // both bodies required
    PHYS_JOINT_TWOAXIS = 4,             // both bodies required
    PHYS_JOINT_DISTANCE = 5,            // both bodies required
    PHYS_JOINT_SUSPENSION_DASHPOT = 6,  // action; both bodies required
    PHYS_JOINT_ANGULAR_SPRING = 7,      // action on body A
    PHYS_JOINT_KIND_COUNT = 8
};

struct PhysConstraint {
    int32_t subspace;     // actions: the subspace index it was attached to
    int32_t kind;         // PhysConstraintKind
    PhysObject* object;   // the Constraint or Action; owned by the world object
    int32_t attached;     // 1 between Attach and Detach
};

// 1 for the kinds solved by the constraint manager (0, 2-5), 0 for actions.
int PhysConstraint_IsJoint(int kind);

// Makes the physics object of the kind between bodies A and B (B null: the
// fixed world, for kinds 0, 2 and 7). Initial values: strength 1.0, damping
// 0.1 for dashpots and the angular spring (whose target is A's orientation
// now), both constraint parameters 1.0, hinge limits and motor off, anchors
// at the bodies' origins. Null (nothing taken from the pool) for a kind of 8
// or more, a missing required body, or exhaustion.
PhysConstraint* PhysConstraint_Create(PhysWorld* world, PhysBody* a, PhysBody* b, int kind);
// Constraints join the constraint manager; actions join the world object's
// subspace of that index (0 = the rigid subspace) at priority 0. 0 when the
// index names no subspace.
int PhysConstraint_Attach(PhysWorld* world, PhysConstraint* constraint, int subspace);
// The reverse of Attach (harmless when not attached).
void PhysConstraint_Detach(PhysWorld* world, PhysConstraint* constraint);
// Takes the object out of the owned set, deletes it (detaching it first if
// it is still attached) and returns the handle to the pool, for every kind.
// Null is ignored.
void PhysConstraint_Destroy(PhysWorld* world, PhysConstraint* constraint);

// Setters; a kind they do not name ignores them.
// Kinds 0, 2-5: the second constraint parameter (the share of the joint's
// error corrected per sub-step), then a rebuild. Kind 1: dashpot strength;
// kind 6: the suspension's value, its derived values recomputed; kind 7:
// the spring's strength.
void PhysConstraint_SetStrength(PhysConstraint* constraint, float strength);
// Kinds 0, 2-5: the first constraint parameter, then a rebuild.
void PhysConstraint_SetDamping(PhysConstraint* constraint, float damping);
// Kind 2: the pivot in world space (each body's anchor from its current pose).
void PhysConstraint_SetPivot(PhysConstraint* constraint, const Vec3* pivot);
// Kind 0: the pivot and axis in world space.
void PhysConstraint_SetHingePivotAxis(PhysConstraint* constraint, const Vec3* pivot, const Vec3* axis);
// Kind 0: limits on, stored as (b, a) in the hinge's order (radians), rebuild.
void PhysConstraint_SetHingeLimits(PhysConstraint* constraint, float a, float b);
// Kind 0: the motor on with target speed v (rad/s) when v is not 0, off at 0;
// its second field 0; rebuild.
void PhysConstraint_SetHingeMotor(PhysConstraint* constraint, float v);
