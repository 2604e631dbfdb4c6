// Constraints and the constraint manager. A constraint binds two bodies (B
// none stands for the fixed world) and is solved by sequential impulses on
// one-dimensional rows, warm started from the previous sub-step's impulses.
//
// The two base parameters: `damping` (first) relaxes every impulse the
// constraint applies (1 = full impulse) and `strength` (second) is the share
// of the position error corrected per sub-step. Values <= 0 fall back to the
// construction default 1.0 and values above 1 are clamped to 1, so a joint
// from data without those keys still holds.
#pragma once
#include <cstdint>

#include "physics/base/phys_math.h"
#include "physics/dynamics/action.h"
#include "physics/dynamics/rigid_body.h"

class RigidBody;
class ConstraintManager;

// The solver's copy of a body's velocities for one sub-step: rows work on
// this dense array (indices, not body pointers), which stays in cache where
// the bodies themselves would not; the results are written back after the solve.
struct SolverBody {
  Vec3 v, w;          // linear and angular velocity
  Vec3 pushV, pushW;  // split-impulse push velocities
};

// The solver bodies of the sub-step being built, with the body each came from.
struct SolverBodies {
  PhysArray<SolverBody, PHYS_MEM_SOLVER> bodies;
  PhysArray<RigidBody*, PHYS_MEM_SOLVER> owners;
};

// Makes set the one rows are built against and empties it.
void SolverBodies_Begin(SolverBodies* set);
// Index of body's solver body in the current set, added on first use with
// the body's velocities (-1 on exhaustion: the row is then left inert).
int SolverBodies_IndexOf(RigidBody* body);
// Writes the solved velocities back to the bodies that can move.
void SolverBodies_WriteBack(SolverBodies* set);
// Forgets the set (while its bodies are all alive: right after the solve).
void SolverBodies_End(SolverBodies* set);

// One scalar velocity row: J . v stays within [lo, hi] impulses, driven to
// the target velocity `bias`.
struct SolverRow {
  int32_t a, b;                 // solver bodies
  Vec3 linA, angA, linB, angB;  // Jacobian
  Vec3 wA, wB;                  // I^-1 * angular Jacobian of each body
  float invMassA, invMassB;
  float effMass;    // 1 / (J M^-1 J^T)
  float bias;       // target velocity of the row
  float lo, hi;     // impulse bounds (accumulated)
  float impulse;    // accumulated impulse, kept for warm starting
  float relax;      // impulse relaxation (damping parameter)
  float friction;   // contact friction rows: coefficient (times the twist radius for
                    // the twist row); the bound is it times the manifold's normal impulses
  float pushBias;   // contacts: separation speed wanted from the position pass
  float pushImpulse;  // accumulated impulse of the position pass (>= 0)
};

// Sets up a row's effective mass from its Jacobian (bodies' solver masses),
// against the current solver bodies.
void SolverRow_Setup(SolverRow* row, RigidBody* a, RigidBody* b, Vec3 linA, Vec3 angA, Vec3 linB,
                     Vec3 angB);
// The inverse mass / world inverse inertia a body has in the solver (zero for
// fixed, pinned, sleeping or absent bodies).
float Solver_InvMass(const RigidBody* body);
Mat3 Solver_InvInertia(const RigidBody* body);

// The per-iteration row operations, inline: they are the solver's inner loop.
// Applies an impulse along a row to the solver bodies' velocities.
inline void SolverRow_ApplyImpulse(const SolverRow* row, SolverBody* bodies, float impulse) {
  if (row->invMassA != 0.0f) {
    SolverBody& a = bodies[row->a];
    a.v += row->linA * (row->invMassA * impulse);
    a.w += row->wA * impulse;
  }
  if (row->invMassB != 0.0f) {
    SolverBody& b = bodies[row->b];
    b.v += row->linB * (row->invMassB * impulse);
    b.w += row->wB * impulse;
  }
}

// One Gauss-Seidel iteration of a row with the given impulse bounds.
inline void SolverRow_SolveBounded(SolverRow* row, SolverBody* bodies, float lo, float hi) {
  if (row->effMass == 0.0f) return;
  const SolverBody& a = bodies[row->a];
  const SolverBody& b = bodies[row->b];
  float cdot = Vec3_Dot(row->linA, a.v) + Vec3_Dot(row->angA, a.w) + Vec3_Dot(row->linB, b.v) +
               Vec3_Dot(row->angB, b.w);
  float delta = row->effMass * (row->bias - cdot) * row->relax;
  float old = row->impulse;
  float next = old + delta;
  if (next < lo) next = lo;
  if (next > hi) next = hi;
  row->impulse = next;
  SolverRow_ApplyImpulse(row, bodies, next - old);
}

// One Gauss-Seidel iteration of a row within its own bounds.
inline void SolverRow_Solve(SolverRow* row, SolverBody* bodies) {
  SolverRow_SolveBounded(row, bodies, row->lo, row->hi);
}

// One iteration of the position pass of a contact row: pushes the bodies
// apart through their push velocities only (split impulse), so penetration is
// resolved without adding kinetic energy.
inline void SolverRow_SolvePush(SolverRow* row, SolverBody* bodies) {
  if (row->effMass == 0.0f || row->pushBias <= 0.0f) return;
  SolverBody& a = bodies[row->a];
  SolverBody& b = bodies[row->b];
  float cdot = Vec3_Dot(row->linA, a.pushV) + Vec3_Dot(row->angA, a.pushW) +
               Vec3_Dot(row->linB, b.pushV) + Vec3_Dot(row->angB, b.pushW);
  float old = row->pushImpulse;
  float next = old + row->effMass * (row->pushBias - cdot);
  if (next < 0.0f) next = 0.0f;
  row->pushImpulse = next;
  float d = next - old;
  if (row->invMassA != 0.0f) {
    a.pushV += row->linA * (row->invMassA * d);
    a.pushW += row->wA * d;
  }
  if (row->invMassB != 0.0f) {
    b.pushV += row->linB * (row->invMassB * d);
    b.pushW += row->wB * d;
  }
}

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

  // Builds this sub-step's rows (appended to rows; warm-start impulses are
  // taken from the constraint's own row store, scaled by hRatio).
  virtual void BuildRows(float h, float hRatio) = 0;
  // Recomputes derived data after parameters changed.
  virtual void Rebuild();

  int kind;
  RigidBody* bodyA;
  RigidBody* bodyB;         // the world body for "none"; null once B was destroyed
  float damping = 1.0f;     // first parameter
  float strength = 1.0f;    // second parameter
  ConstraintManager* manager = nullptr;
  SolverRow rows[8];
  int rowCount = 0;
  float warm[8] = {};       // impulses of the last solve, per row slot
  bool warmValid = false;

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
  void BuildRows(float h, float hRatio) override;
  Vec3 pivotA{0, 0, 0};  // in A's body space (relative to its origin)
  Vec3 pivotB{0, 0, 0};  // in B's body space
};

// Pivot plus a common axis; the angle about the axis, measured from the pose
// when the axis was set, may be limited and driven by a velocity motor.
class HingeConstraint : public Constraint {
public:
  HingeConstraint(RigidBody* a, RigidBody* b);
  void BuildRows(float h, float hRatio) override;
  // Relative angle about the axis (radians), 0 at the pose of SetPivotAxisWorld.
  float Angle() const;
  Vec3 pivotA{0, 0, 0}, pivotB{0, 0, 0};
  Vec3 axisA{0, 1, 0}, axisB{0, 1, 0};  // unit axis in each body's space
  Vec3 refA{1, 0, 0}, refB{1, 0, 0};    // perpendicular references, equal at angle 0
  int limitOn = 0;
  float limit[2] = {0, 0};  // the two limit angles (any order: min and max are used)
  int motorOn = 0;
  float motor[2] = {0, 0};  // target angular speed (rad/s, about the axis, A relative to B); maximum impulse per second (0 = unbounded)
};

// All six relative degrees of freedom held at the pose of construction.
class FrameConstraint : public Constraint {
public:
  FrameConstraint(RigidBody* a, RigidBody* b);
  void BuildRows(float h, float hRatio) override;
  void Rebuild() override;  // takes the current relative pose as the held one
  Vec3 pivotA{0, 0, 0}, pivotB{0, 0, 0};
  Quat relative{0, 0, 0, 1};  // qB^-1 * qA held
};

// A universal joint: a common pivot, and A's axis kept perpendicular to B's.
class TwoAxisConstraint : public Constraint {
public:
  TwoAxisConstraint(RigidBody* a, RigidBody* b);
  void BuildRows(float h, float hRatio) override;
  Vec3 pivotA{0, 0, 0}, pivotB{0, 0, 0};
  Vec3 axisA{1, 0, 0}, axisB{0, 0, 1};
};

// Keeps the distance between the two anchors (centres of mass at
// construction) at its length when built or rebuilt.
class DistanceConstraint : public Constraint {
public:
  DistanceConstraint(RigidBody* a, RigidBody* b);
  void BuildRows(float h, float hRatio) override;
  void Rebuild() override;
  Vec3 anchorA{0, 0, 0}, anchorB{0, 0, 0};
  float length = 0.0f;
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
