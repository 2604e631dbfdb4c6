// RigidBody: a body of the dynamics world. It owns its collision primitives
// (the CollisionBody part, built by collision detection from descriptors),
// carries its mass
// properties about the centre of mass, and moves under the simulation of the
// subspace it is attached to.
//
// Placement: `pose` (of CollisionBody) is the body origin (where primitives are defined);
// the centre of mass sits at `comOffset` in body space. Velocities are the
// world-space linear velocity of the centre of mass and the world-space
// angular velocity; the engine layer reads and writes them directly, and a
// write to an inactive body in a world wakes it at the next sub-step.
#pragma once
#include <cstdint>

#include "physics/base/phys_math.h"
#include "physics/base/phys_object.h"
#include "physics/collision/collision_body.h"

class Subspace;
class Simulation;

// State flags.
enum RigidBodyState : uint32_t {
  RB_STATE_FIXED = 1,        // never moves, infinite mass
  RB_STATE_ACTIVE = 2,       // integrated and colliding as a moving body
  RB_STATE_NOT_SETTLED = 4,  // moved above the rest speed within the last check period
};

class RigidBody : public PhysObject, public CollisionBody {
public:
  PHYS_DECLARE_MEMCLASS(PHYS_MEM_BODY)
  RigidBody();
  // Destroys the primitives (each with its own destruction notice) after the
  // body's dependents were told.
  ~RigidBody() override;

  // Activation operation: active 1 wakes the body (a fixed body stays
  // inactive), 0 puts it to sleep with zero velocities.
  virtual void SetActive(int active, int flags);
  // Reset operation: zero velocities, then store the pin state.
  virtual void ResetMotion(int pinned);
  // Clone operation: a new body, not in any world, at rest (see the .cpp).
  virtual RigidBody* Clone() const;

  // Fields the engine layer reads or writes directly.
  float mass = 0.0f;
  float invMass = 0.0f;
  float restitution = 0.0f;
  float friction = 0.5f;
  void* owner = nullptr;  // the engine layer's handle, never touched by the engine
  uint32_t stateFlags = RB_STATE_FIXED;
  int keepActiveCount = 0;
  Vec3 linearVelocity{0, 0, 0};
  Vec3 angularVelocity{0, 0, 0};
  Vec3 force{0, 0, 0};   // accumulated this sub-step, cleared after integration
  Vec3 torque{0, 0, 0};

  // Mass distribution.
  Mat3 invInertiaLocal = Mat3_Zero();  // body-space inverse inertia about the centre of mass
  Vec3 comOffset{0, 0, 0};             // centre of mass in body space
  bool pinned = false;                 // not integrated, immovable in contacts
  bool massFromShapes = true;          // total mass still the primitives' sum
  uint8_t lockedAxes = 0;              // body axes whose spin SetInertiaTensor cleared (bits 0..2)
  bool hasMesh = false;                // a mesh primitive: the body can only be fixed

  // Placement and bookkeeping (engine-internal).
  uint32_t id;                   // stable creation number (collisionId): orders pairs and islands
  Subspace* subspace = nullptr;  // the subspace the body is attached to, or none
  Mat3 invInertiaWorld = Mat3_Zero();
  float sleepTime = 0.0f;        // time spent below the rest speeds
  float slowTime = 0.0f;         // time spent below the looser speeds
  float smoothLinear = 0.0f;     // speed smoothed over the last steps (island.h)
  float smoothAngular = 0.0f;
  bool wakeRequested = false;    // teleport or impulse while asleep: wake at next sub-step
  bool quarantined = false;      // non-finite state seen: kept out of the step
  uint32_t sleepIsland = 0;      // the island it went to sleep with (0: none): woken together
  int islandIndex = -1;          // scratch of the step
  int solverIndex = -1;          // scratch of the step
  float speedBound = 0.0f;       // scratch of the step: fastest any of its points moves (0 at rest)
  float spinBound = 0.0f;        // scratch of the step: the part of it its spin gives
  bool inertiaCurrent = false;   // scratch of the step: invInertiaWorld was taken at the step's start
};

// -> a body with no primitives, fixed (mass 0), not in any world; null on exhaustion.
RigidBody* RigidBody_Construct();
// Adds a primitive built from desc (the body keeps ownership). Mass properties
// are recomputed from the primitives. Returns the primitive or null (bad desc).
CollisionPrimitive* RigidBody_AddPrimitive(RigidBody* body, const PrimitiveDesc* desc);
// m <= 0 or non-finite makes the body fixed. Otherwise the total becomes m and
// the inertia follows (from the shapes at mass m when the old total was 0).
void RigidBody_SetMass(RigidBody* body, float m);
// Stores a body-space inverse inertia as given (it may be singular: a cleared
// row and column lock spin about that axis).
void RigidBody_SetInertiaTensor(RigidBody* body, const Mat3* invInertia);
// Recomputes centre of mass and inertia shape from the primitives, keeping the
// total mass of SetMass, keeping fixed bodies fixed, and re-applying locked axes.
void RigidBody_UpdateMassProperties(RigidBody* body);
// Recomputes the world-space inverse inertia from the pose (the step does this
// for every moving body at the start of each sub-step).
void RigidBody_UpdateWorldInertia(RigidBody* body);
// Keeps the collision flags (fixed, asleep) in step with the body's state.
void RigidBody_SyncCollisionFlags(RigidBody* body);
// Moves the centre of mass to a body-space point (inertia kept).
void RigidBody_SetCentreOfMass(RigidBody* body, Vec3 localCom);
void RigidBody_GetPositionAndRotation(const RigidBody* body, Vec3* position, Quat* rotation);
// Teleports the origin; wakes a sleeping body in a world (and what rested on it).
void RigidBody_SetPositionAndRotation(RigidBody* body, Vec3 position, Quat rotation);
void RigidBody_ScaleVelocities(RigidBody* body, float linearFactor, float angularFactor);
// Sets / reads the phantom byte and group word of every primitive.
void RigidBody_SetPhantom(RigidBody* body, int on);
int RigidBody_IsPhantom(const RigidBody* body);
void RigidBody_SetCollisionGroup(RigidBody* body, uint32_t groupBits);
// Adds a keep-active reference (the first wakes the body); Release drops one.
void RigidBody_HoldActive(RigidBody* body);
void RigidBody_ReleaseActive(RigidBody* body);
// v = linear + angular x (point - centre of mass).
void RigidBody_GetPointVelocity(const RigidBody* body, Vec3* velocity, Vec3 worldPoint);
// World-space centre of mass.
Vec3 RigidBody_GetCentreOfMassWorld(const RigidBody* body);
// Applies an impulse at a world point (wakes the body).
void RigidBody_ApplyImpulse(RigidBody* body, Vec3 impulse, Vec3 worldPoint);
// Adds a force at the centre of mass / a world point for the current sub-step.
void RigidBody_AddForce(RigidBody* body, Vec3 force);
void RigidBody_AddForceAtPoint(RigidBody* body, Vec3 force, Vec3 worldPoint);
// The body's simulation, or none when it is not in a world.
Simulation* RigidBody_GetSimulation(const RigidBody* body);
// The shared fixed body that stands for the world in constraints (never in
// a world, never destroyed).
RigidBody* RigidBody_GetWorldBody();
