// Constraints and the constraint manager. A constraint binds two bodies (B
// none stands for the fixed world) and is solved with the contacts by the
// soft step (see contact_solver.cpp): each solver sub-step warm starts it,
// solves it with bias and relaxes it. Its position error is corrected as a
// stiff damped spring (JointStep::soft), its parts solved as blocks (a
// hinge's point as 3x3, its two axis rows as 2x2), and its impulses are kept
// from step to step for warm starting, scaled when the step length changes.
//
// What a block needs besides the velocities (anchors, axes, effective masses
// and their inverses, the turn an impulse gives each body) is set up once
// per solver sub-step, by the warm start, and shared by the sub-step's two
// passes: the solve with bias sees the bodies as they stand then, and the
// relaxation after the positions moved uses the same rows (a sub-step turns
// a body by a fraction of a degree; the next sub-step's set-up follows).
// The passes themselves only read those and the solver body states.
//
// The two base parameters: `damping` (first) relaxes every impulse the
// constraint applies (1 = full impulse) and `strength` (second) is the share
// of the position-correcting speed applied (1 = the full spring). Values <= 0
// fall back to the construction default 1.0 and values above 1 are clamped
// to 1, so a joint from data without those keys still holds.
#pragma once
#include <cstdint>

#include "physics/base/phys_lanes.h"
#include "physics/base/phys_math.h"
#include "physics/dynamics/action.h"
#include "physics/dynamics/rigid_body.h"
#include "physics/dynamics/solver_body.h"

class RigidBody;
class ConstraintManager;

// What a joint needs of the step being solved. Vectors the passes work on
// are held as lanes (x, y, z, 0), matrices as three columns of lanes.
struct JointStep {
  const SolverSet* set;    // the step's solver bodies
  SolverBodyState* states;
  float dt;                // sub-step length
  float invDt;
  float hRatio;            // this step's length over the last one's: warm starts scale by it
  SolverSoftness soft;     // joint stiffness at this sub-step length
};

// A joint's two bodies as the solver sees them in one step.
struct JointBodies {
  int32_t a, b;            // solver bodies (0: immovable)
  float mA, mB;            // inverse masses
  Mat3 iA, iB;             // world inverse inertias
  Vec3 comA, comB;         // centres of mass at the step's start
  Quat qA, qB;             // orientations at the step's start
  Lanes inertiaA[3], inertiaB[3];  // iA, iB by columns
};

// The point part shared by most joints: a point of A held on a point of B,
// solved as one 3x3 block.
struct JointPoint {
  Lanes rA, rB;   // anchors from the centres of mass at the step's start (world)
  Lanes impulse;  // accumulated (world), kept for warm starting
  // The anchors turned with the bodies as they stand: set at the step's
  // start, then by each relaxation pass (the positions move only just
  // before it), so that the next sub-step's set-up finds them current.
  Lanes armA, armB;
  // Set up for the sub-step by the warm start:
  Lanes spinA[3], spinB[3];  // inverse inertia times [arm]x, by columns: angular velocity per unit impulse
  Lanes invMass[3];          // inverse of the block's effective mass, symmetric (rows or columns; zero when singular)
};

enum ConstraintKind {
  CONSTRAINT_HINGE = 0,
  CONSTRAINT_POINT2POINT = 2,
  CONSTRAINT_FRAME = 3,
  CONSTRAINT_TWOAXIS = 4,
  CONSTRAINT_DISTANCE = 5,
};

class Constraint : public PhysObject {
public:
  PHYS_DECLARE_MEMCLASS(PHYS_MEM_CONSTRAINT)
  Constraint(RigidBody* a, RigidBody* b, int kind);
  ~Constraint() override;
  // Forgets a destroyed body, A or B: the constraint becomes inactive and
  // the other body moves freely. A body that only leaves its world keeps the
  // constraint, dormant until it is added back.
  int Notify(PhysObject* source, uint32_t id, int mode) override;
  int GetChildCount() const override { return 2; }
  PhysObject* GetChild(int i) const override;

  // Once per step, after the solver bodies are set up: fixes anchors and
  // axes in world space and scales the kept impulses (zeroed when not valid).
  virtual void Prepare(const JointStep& step) = 0;
  // Once per sub-step before the solve: applies the accumulated impulses.
  virtual void WarmStart(const JointStep& step) = 0;
  // One pass: with bias the position error is corrected, without only the
  // velocity error (relaxation).
  virtual void Solve(const JointStep& step, bool useBias) = 0;
  // Recomputes derived data after parameters changed.
  virtual void Rebuild();

  int kind;
  RigidBody* bodyA;
  RigidBody* bodyB;         // the world body for "none"; null once B was destroyed
  float damping = 1.0f;     // first parameter
  float strength = 1.0f;    // second parameter
  ConstraintManager* manager = nullptr;
  bool warmValid = false;   // the kept impulses belong to the current set-up
  JointBodies bodies{};     // this step's solver view of the two bodies
  float stepDamping = 1.0f;  // EffectiveDamping() and EffectiveStrength() for the step
  float stepStrength = 1.0f;

  // Effective parameters after the fallback rule.
  float EffectiveDamping() const;
  float EffectiveStrength() const;
  // 1 when both bodies take part in the step (in a world, not quarantined)
  // and at least one of them can move.
  int IsSolvable() const;
};

// Pivot held at one point of both bodies.
class Point2PointConstraint : public Constraint {
public:
  Point2PointConstraint(RigidBody* a, RigidBody* b);
  void Prepare(const JointStep& step) override;
  void WarmStart(const JointStep& step) override;
  void Solve(const JointStep& step, bool useBias) override;
  Vec3 pivotA{0, 0, 0};  // in A's body space (relative to its origin)
  Vec3 pivotB{0, 0, 0};  // in B's body space
  JointPoint point{};
};

// Pivot plus a common axis; the angle about the axis, measured from the pose
// when the axis was set, may be limited and driven by a velocity motor.
class HingeConstraint : public Constraint {
public:
  HingeConstraint(RigidBody* a, RigidBody* b);
  void Prepare(const JointStep& step) override;
  void WarmStart(const JointStep& step) override;
  void Solve(const JointStep& step, bool useBias) override;
  // Relative angle about the axis (radians), 0 at the pose of SetPivotAxisWorld.
  float Angle() const;
  Vec3 pivotA{0, 0, 0}, pivotB{0, 0, 0};
  Vec3 axisA{0, 1, 0}, axisB{0, 1, 0};  // unit axis in each body's space
  Vec3 refA{1, 0, 0}, refB{1, 0, 0};    // perpendicular references, equal at angle 0
  int limitOn = 0;
  float limit[2] = {0, 0};  // the two limit angles (any order: min and max are used)
  int motorOn = 0;
  float motor[2] = {0, 0};  // target angular speed (rad/s, about the axis, A relative to B); maximum impulse per second (0 = unbounded)
  // Solver state: the step's world axes and the impulses kept for warm starting.
  JointPoint point{};
  Lanes worldAxisA{0, 1, 0, 0}, worldAxisB{0, 1, 0, 0};
  Lanes angularImpulse{0, 0, 0, 0};  // holds the axes together (world, across the axis)
  float lowerImpulse = 0, upperImpulse = 0, motorImpulse = 0;
  // Set up for the step: the two directions across A's axis (b1, b2) with
  // the angular velocity a unit impulse about each gives A and B, and the
  // inverse of their 2x2 effective mass (none when singular); for a limit
  // or motor, the same about A's axis. For the sub-step, by the warm start:
  // the axes as they stand.
  Lanes subAxisA{0, 1, 0, 0}, subAxisB{0, 1, 0, 0};
  Lanes across[2]{}, acrossA[2]{}, acrossB[2]{};
  float acrossInv[3] = {0, 0, 0};  // (1,1), (1,2), (2,2)
  bool acrossValid = false;
  Lanes alongA{0, 0, 0, 0}, alongB{0, 0, 0, 0};
  float alongMass = 0;  // 1 / (effective mass about the axis), 0 when none
};

// All six relative degrees of freedom held at the pose of construction.
class FrameConstraint : public Constraint {
public:
  FrameConstraint(RigidBody* a, RigidBody* b);
  void Prepare(const JointStep& step) override;
  void WarmStart(const JointStep& step) override;
  void Solve(const JointStep& step, bool useBias) override;
  void Rebuild() override;  // takes the current relative pose as the held one
  Vec3 pivotA{0, 0, 0}, pivotB{0, 0, 0};
  Quat relative{0, 0, 0, 1};  // qB^-1 * qA held
  JointPoint point{};
  Vec3 angularImpulse{0, 0, 0};
  Mat3 angularInvMass{};  // inverse of iA + iB, fixed for the step (zero when singular)
};

// A universal joint: a common pivot, and A's axis kept perpendicular to B's.
class TwoAxisConstraint : public Constraint {
public:
  TwoAxisConstraint(RigidBody* a, RigidBody* b);
  void Prepare(const JointStep& step) override;
  void WarmStart(const JointStep& step) override;
  void Solve(const JointStep& step, bool useBias) override;
  Vec3 pivotA{0, 0, 0}, pivotB{0, 0, 0};
  Vec3 axisA{1, 0, 0}, axisB{0, 0, 1};
  JointPoint point{};
  Vec3 worldAxisA{1, 0, 0}, worldAxisB{0, 0, 1};
  float axisImpulse = 0;
};

// Keeps the distance between the two anchors (centres of mass at
// construction) at its length when built or rebuilt.
class DistanceConstraint : public Constraint {
public:
  DistanceConstraint(RigidBody* a, RigidBody* b);
  void Prepare(const JointStep& step) override;
  void WarmStart(const JointStep& step) override;
  void Solve(const JointStep& step, bool useBias) override;
  void Rebuild() override;
  Vec3 anchorA{0, 0, 0}, anchorB{0, 0, 0};
  float length = 0.0f;
  Vec3 rA{0, 0, 0}, rB{0, 0, 0};  // the step's anchors from the centres of mass (world)
  float impulse = 0;
};

// The action of the constraint solve. Its Apply does nothing: the subspace
// solves every constraint manager after all force-producing actions.
class ConstraintManager : public Action {
public:
  ~ConstraintManager() override;
  void Apply(Subspace*, float) override {}
  int IsConstraintManager() const override { return 1; }
  int Notify(PhysObject* source, uint32_t id, int mode) override;
  PhysArray<Constraint*, PHYS_MEM_CONSTRAINT> constraints;  // not owned
};

// Constructors (B none = the fixed world). Each returns null on exhaustion
// or when A is none.
HingeConstraint* HingeConstraint_Construct(RigidBody* a, RigidBody* b);
Point2PointConstraint* Point2PointConstraint_Construct(RigidBody* a, RigidBody* b);
FrameConstraint* FrameConstraint_Construct(RigidBody* a, RigidBody* b);
TwoAxisConstraint* TwoAxisConstraint_Construct(RigidBody* a, RigidBody* b);
DistanceConstraint* DistanceConstraint_Construct(RigidBody* a, RigidBody* b);
void Constraint_Rebuild(Constraint* c);
// Pivot and axis in world space; the bodies' anchors and the angle reference
// come from their current poses. Ignored for an inactive joint (a body destroyed).
void HingeConstraint_SetPivotAxisWorld(HingeConstraint* h, Vec3 pivot, Vec3 axis);
void Point2PointConstraint_SetPivotWorld(Point2PointConstraint* c, Vec3 pivot);

ConstraintManager* ConstraintManager_Construct();
// Adds a constraint (once; a constraint belongs to one manager at a time).
int ConstraintManager_AddConstraint(ConstraintManager* m, Constraint* c);
int ConstraintManager_RemoveConstraint(ConstraintManager* m, Constraint* c);
