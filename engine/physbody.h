// Physics body handles: game code never touches the physics engine's rigid
// bodies; it holds a PhysBody handle from its world's body-handle pool and
// calls the operations below. A handle wraps one rigid body and can carry
// the scene-graph node that follows the body after each step (PhysWorld_Step).
//
// Every operation takes the handle first and does nothing (or returns 0) for
// a null handle. Velocities written to a sleeping body in a world wake it at
// the next sub-step (the physics engine's rule).
#pragma once

#include <cstdint>

#include "common/maths.h"

class RigidBody;
struct Node;
struct PhysShape;
struct PhysWorld;

// Sync flags: which parts of the body's pose are not copied to the node.
enum : uint32_t {
    PHYS_SYNC_NO_ROTATION = 1,
    PHYS_SYNC_NO_POSITION = 2,
};

struct PhysBody {
    RigidBody* body;     // owned by the world object (its owned set)
    Node* node;          // follows the body after each step, or null; not owned
    PhysShape* shape;    // the shape record the body was built from, or null; the world's
    uint32_t syncFlags;  // PHYS_SYNC_*
};

// A handle for a rigid body made by the caller: the body joins the world
// object's owned set. On failure (pool full, no memory) the body is deleted
// and null returned.
PhysBody* PhysBody_Wrap(PhysWorld* world, RigidBody* body);
// sizeof(PhysBody) (32 bytes on x86-64).
uint32_t PhysBody_HandleSize(void);

// A rigid body with one sphere primitive of that radius and mass (identity
// placement, the sphere's free value 0), restitution 0.5 and friction 1.0,
// not yet in the world (PhysWorld_AddBody). Mass 0 makes it fixed. Null for a
// radius that is not above 0 or when the pool or memory is exhausted.
PhysBody* PhysBody_Create(PhysWorld* world, float radius, float mass);
// A new handle on a copy of the rigid body (its clone operation: the same
// primitives, shapes shared, mass, materials and state; not in any world, at
// rest). The node and owner are not copied. Null on exhaustion.
PhysBody* PhysBody_Clone(PhysWorld* world, PhysBody* handle);
// Clears the node link, takes the body off the body list and out of every
// field action (dropping it as an anchor), out of the owned set, deletes it
// (its dependents are told of the destruction: constraints let go of it,
// the pick list and the listener forget its primitives) and returns the
// handle to the pool. Null is ignored.
void PhysBody_Destroy(PhysWorld* world, PhysBody* handle);

float PhysBody_GetMass(const PhysBody* handle);
// RigidBody_SetMass: 0 makes the body fixed.
void PhysBody_SetMass(PhysBody* handle, float mass);
void PhysBody_SetRestitution(PhysBody* handle, float restitution);
void PhysBody_SetFriction(PhysBody* handle, float friction);
// The rigid body's owner word: the engine object that owns the body, or null.
void PhysBody_SetOwner(PhysBody* handle, void* owner);
void* PhysBody_GetOwner(const PhysBody* handle);

void PhysBody_GetLinearVelocity(const PhysBody* handle, Vec3* out);
void PhysBody_SetLinearVelocity(PhysBody* handle, const Vec3* v);
void PhysBody_GetAngularVelocity(const PhysBody* handle, Vec3* out);
void PhysBody_SetAngularVelocity(PhysBody* handle, const Vec3* w);
// Length of the linear velocity.
float PhysBody_GetSpeed(const PhysBody* handle);
void PhysBody_ZeroVelocities(PhysBody* handle);
// Both velocities x factor.
void PhysBody_ScaleVelocities(PhysBody* handle, float factor);
// Linear velocity += J / mass (nothing for a fixed body).
void PhysBody_ApplyImpulse(PhysBody* handle, const Vec3* impulse);
// When max^2 < |v|^2: v = max along v. The same for the angular velocity.
void PhysBody_ClampLinearSpeed(PhysBody* handle, float max);
void PhysBody_ClampAngularSpeed(PhysBody* handle, float max);
// Phys_DampVector on the body's linear velocity.
void PhysBody_DampLinearVelocity(PhysBody* handle, const Vec3* k, float dt);
// Per-axis velocity times factor (Phys_DampVector): v[i] = f x v[i] with f = 1 - dt x k[i]
// held within 0..1, so a damping never reverses an axis nor speeds it up.
void Phys_DampVector(Vec3* v, const Vec3* k, float dt);
// Slows the body along the weighted axes without reversing it: with n the
// direction of v, v[i] -= n[i] x d[i] x rate, and a component that reaches or
// crosses 0 becomes 0. Nothing for a null d or a zero velocity.
void PhysBody_ApplyFriction(PhysBody* handle, const Vec3* d, float rate);
// The rigid body's reset: velocities to zero, then its pin state.
void PhysBody_ResetMotion(PhysBody* handle, int pinned);
// Activates or deactivates the body; ignored for a fixed body.
void PhysBody_SetActive(PhysBody* handle, int active);
// State flag 2 (active) and state flag 4 (not settled) as 0/1.
int PhysBody_IsActive(const PhysBody* handle);
int PhysBody_TestStateFlag4(const PhysBody* handle);
// Adds (1) or drops (0) a keep-active reference; the first one wakes the body.
void PhysBody_HoldActive(PhysBody* handle, int hold);

// Position of the body origin.
void PhysBody_GetPosition(const PhysBody* handle, Vec3* out);
// New origin position, orientation kept.
void PhysBody_SetPosition(PhysBody* handle, const Vec3* position);
// CAREFUL: (a, b) = (up, at), the other way round from PhysWorld_AddBody and
// the node calls. The rotation has rows (a x b, a, b); the position is kept.
void PhysBody_SetOrientation(PhysBody* handle, const Vec3* up, const Vec3* at);
// Rows 2 (at) and 1 (up) of the body's rotation; either output may be null.
void PhysBody_GetAxes(const PhysBody* handle, Vec3* at, Vec3* up);
// The body's orientation quaternion (identity for a null handle).
Quat PhysBody_GetRotation(const PhysBody* handle);

// Phantom byte of every primitive; 1 when any primitive is a phantom.
void PhysBody_SetPhantom(PhysBody* handle, int on);
int PhysBody_IsPhantom(const PhysBody* handle);
// Collision-group word of every primitive (bit g - 1 = group g).
void PhysBody_SetCollisionGroup(PhysBody* handle, uint32_t groups);
uint32_t PhysBody_GetCollisionGroup(const PhysBody* handle);
// No spin about the body axis (0, 1 or 2): that row and column of the
// body-space inverse inertia are cleared. Later mass updates keep the lock.
void PhysBody_LimitSpinAxis(PhysBody* handle, int axis);
// Recomputes the mass properties from the primitives, then moves the centre
// of mass by (x, y, z) in body space.
void PhysBody_ShiftCentreOfMass(PhysBody* handle, float x, float y, float z);
// When the first primitive is a sphere: its radius in *out and 1; else 0
// (also for a null out).
int PhysBody_GetFirstPrimitiveValue(const PhysBody* handle, float* out);
RigidBody* PhysBody_Unwrap(const PhysBody* handle);
// Number of primitives and the kind code of primitive i (0 past the end).
int PhysBody_GetPrimitiveCount(const PhysBody* handle);
uint32_t PhysBody_GetPrimitiveKind(const PhysBody* handle, int i);
