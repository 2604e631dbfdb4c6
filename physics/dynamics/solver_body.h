// Solver bodies: the compact copy of the moving bodies that one step's
// solver works on.
//
// Hot data apart from cold: SolverBodyState holds what every solver pass
// reads and writes (velocities and the motion since the step began, 64
// bytes), in one array walked by index; SolverBodySim holds what the step
// reads once per sub-step or less (mass, inertia, start pose, accelerations,
// the body). Index 0 of both is the immovable body: every fixed, pinned,
// sleeping, quarantined or absent body maps to it, so contact and joint
// solves need no branch on mobility. Its state stays at rest (zero velocity,
// no motion), whatever impulses of zero weight are applied to it.
//
// One set serves one step: Begin, Add every moving body, then sub-steps of
// IntegrateVelocities / (solves) / IntegratePositions, then WriteBack and End.
#pragma once
#include <cstdint>

#include <cstring>

#include "physics/base/phys_array.h"
#include "physics/base/phys_lanes.h"
#include "physics/base/phys_math.h"

class RigidBody;

// v and w take 16 bytes each, so that the solvers load and store them as
// lanes (SolverBody_Load / SolverBody_Store). The pads stay zero: what the
// solvers add to v and w as lanes has a zero lane 3.
struct alignas(16) SolverBodyState {
  Vec3 v;   // linear velocity of the centre of mass
  float vPad;
  Vec3 w;   // angular velocity (world)
  float wPad;
  Vec3 dp;  // displacement of the centre of mass since the step began
  Quat dq;  // rotation since the step began (world axes): orientation = dq * q0
};
static_assert(sizeof(SolverBodyState) == 64, "the solver's hot per-body record: one cache line");

// v or w (&state.v, &state.w) as lanes (lane 3: the pad), and back (the
// pad is overwritten).
inline Lanes SolverBody_Load(const Vec3* vw) {
  Lanes l;
  std::memcpy(&l, vw, sizeof l);
  return l;
}
inline void SolverBody_Store(Vec3* vw, Lanes l) { std::memcpy(vw, &l, sizeof l); }

struct SolverBodySim {
  RigidBody* body;  // null for the immovable body 0
  float invMass;    // 0 for body 0
  Mat3 invInertia;  // world inverse inertia at the step's start (zero for body 0)
  Vec3 com0;        // centre of mass at the step's start
  Quat q0;          // orientation at the step's start
  Vec3 accel;       // gravity plus force / mass, per second
  Vec3 angAccel;    // inverse inertia times torque, per second
  bool jointed;     // a joint of the step holds it
};

struct SolverSet {
  PhysArray<SolverBodyState, PHYS_MEM_SOLVER> states;
  PhysArray<SolverBodySim, PHYS_MEM_SOLVER> sims;
};

// A soft constraint: a spring of the given stiffness and damping ratio
// applied implicitly over a sub-step. A position error C becomes the target
// velocity -biasRate * C; an iteration applies massScale of the rigid impulse
// less impulseScale of the impulse accumulated so far, which makes the
// constraint converge to the spring's behaviour instead of overshooting.
struct SolverSoftness {
  float biasRate;
  float massScale;
  float impulseScale;
};
SolverSoftness SolverSoftness_Make(float hertz, float dampingRatio, float dt);

// Empties the set and makes the immovable body 0. 0 on exhaustion.
int SolverSet_Begin(SolverSet* set);
// Adds a moving body (once, after Begin) with its velocities, pose and this
// step's accelerations (gravity plus its accumulated force and torque), and
// records its index in the body. Returns the index, or 0 on exhaustion (the
// body then does not move this step).
int SolverSet_Add(SolverSet* set, RigidBody* body, Vec3 gravity);
// The body's index in the set, 0 when it was not added (immovable).
int SolverSet_IndexOf(const SolverSet* set, const RigidBody* body);
// One sub-step of dt: velocities gain the accelerations / positions follow
// the velocities (orientation renormalised).
void SolverSet_IntegrateVelocities(SolverSet* set, float dt);
void SolverSet_IntegratePositions(SolverSet* set, float dt);
// The body origin's pose at the end of the step (index >= 1).
Transform SolverSet_EndPose(const SolverSet* set, int index);
// Writes the solved velocities back to the bodies (poses are the caller's:
// it may set a fast body back, see the simulation).
void SolverSet_WriteVelocities(SolverSet* set);
// Forgets the bodies' indices and empties the set (while the bodies are
// alive: right after the step's solve).
void SolverSet_End(SolverSet* set);
