#include "physics/dynamics/constraint.h"

#include <cmath>

#include "physics/dynamics/rigid_body.h"
#include "physics/dynamics/subspace.h"

namespace {

// Largest share of a position error removed per sub-step at strength 1:
// correcting all of it at once overshoots when rows interact.
constexpr float kMaxCorrection = 0.2f;
constexpr float kInfinity = 1e30f;

Vec3 ComWorld(const RigidBody* b) { return Transform_Apply(b->pose, b->comOffset); }

// World offset of a body-space point from the body's centre of mass.
Vec3 ArmOf(const RigidBody* b, Vec3 local) {
  return Quat_Rotate(b->pose.rotation, local - b->comOffset);
}

void PushPointRows(Constraint* c, Vec3 pivotA, Vec3 pivotB, float beta, float h, int* n) {
  RigidBody* a = c->bodyA;
  RigidBody* b = c->bodyB;
  Vec3 rA = ArmOf(a, pivotA), rB = ArmOf(b, pivotB);
  Vec3 err = (ComWorld(a) + rA) - (ComWorld(b) + rB);
  static const Vec3 axes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int i = 0; i < 3; ++i) {
    SolverRow* r = &c->rows[(*n)++];
    Vec3 e = axes[i];
    SolverRow_Setup(r, a, b, e, Vec3_Cross(rA, e), -e, -Vec3_Cross(rB, e));
    r->bias = -beta * Vec3_Dot(err, e) / h;
  }
}

void FinishRows(Constraint* c, int n, float hRatio) {
  float relax = c->EffectiveDamping();
  for (int i = 0; i < n; ++i) {
    SolverRow* r = &c->rows[i];
    r->relax = relax;
    r->impulse = c->warmValid ? c->warm[i] * hRatio : 0.0f;
    if (r->impulse < r->lo) r->impulse = r->lo;
    if (r->impulse > r->hi) r->impulse = r->hi;
  }
  for (int i = n; i < 8; ++i) c->warm[i] = 0.0f;
  c->rowCount = n;
}

}  // namespace

float Solver_InvMass(const RigidBody* body) {
  if (!body || !body->subspace || body->pinned || body->quarantined) return 0.0f;
  if ((body->stateFlags & RB_STATE_FIXED) || !(body->stateFlags & RB_STATE_ACTIVE)) return 0.0f;
  return body->invMass;
}

Mat3 Solver_InvInertia(const RigidBody* body) {
  if (Solver_InvMass(body) == 0.0f) return Mat3_Zero();
  return body->invInertiaWorld;
}

namespace {
// The set rows are being built against (one sub-step at a time).
SolverBodies* g_solverBodies = nullptr;
}  // namespace

void SolverBodies_Begin(SolverBodies* set) {
  g_solverBodies = set;
  if (!set) return;
  set->bodies.Clear();
  set->owners.Clear();
}

void SolverBodies_End(SolverBodies* set) {
  if (set) {
    for (RigidBody* b : set->owners) b->solverIndex = -1;
    set->bodies.Clear();
    set->owners.Clear();
  }
  g_solverBodies = nullptr;
}

int SolverBodies_IndexOf(RigidBody* body) {
  SolverBodies* set = g_solverBodies;
  if (!set || !body) return -1;
  int i = body->solverIndex;
  if (i >= 0 && i < set->owners.Count() && set->owners[i] == body) return i;
  SolverBody sb{body->linearVelocity, body->angularVelocity, body->pushLinear, body->pushAngular};
  if (!set->bodies.Reserve(set->bodies.Count() + 1) || !set->owners.Reserve(set->owners.Count() + 1)) return -1;
  set->bodies.Push(sb);
  set->owners.Push(body);
  body->solverIndex = set->owners.Count() - 1;
  return body->solverIndex;
}

void SolverBodies_WriteBack(SolverBodies* set) {
  if (!set) return;
  for (int i = 0; i < set->owners.Count(); ++i) {
    RigidBody* b = set->owners[i];
    if (Solver_InvMass(b) == 0.0f) continue;
    b->linearVelocity = set->bodies[i].v;
    b->angularVelocity = set->bodies[i].w;
    b->pushLinear = set->bodies[i].pushV;
    b->pushAngular = set->bodies[i].pushW;
  }
}

void SolverRow_Setup(SolverRow* row, RigidBody* a, RigidBody* b, Vec3 linA, Vec3 angA, Vec3 linB,
                     Vec3 angB) {
  row->a = SolverBodies_IndexOf(a);
  row->b = SolverBodies_IndexOf(b);
  row->linA = linA;
  row->angA = angA;
  row->linB = linB;
  row->angB = angB;
  row->invMassA = Solver_InvMass(a);
  row->invMassB = Solver_InvMass(b);
  row->wA = Mat3_Mul(Solver_InvInertia(a), angA);
  row->wB = Mat3_Mul(Solver_InvInertia(b), angB);
  float k = row->invMassA * Vec3_Dot(linA, linA) + Vec3_Dot(angA, row->wA) +
            row->invMassB * Vec3_Dot(linB, linB) + Vec3_Dot(angB, row->wB);
  row->effMass = (k > 1e-12f && std::isfinite(k) && row->a >= 0 && row->b >= 0) ? 1.0f / k : 0.0f;
  if (row->a < 0 || row->b < 0) {
    // No solver body: an inert row that touches nothing.
    row->a = row->b = 0;
    row->invMassA = row->invMassB = 0.0f;
  }
  row->bias = 0.0f;
  row->lo = -kInfinity;
  row->hi = kInfinity;
  row->impulse = 0.0f;
  row->relax = 1.0f;
  row->friction = 0.0f;
  row->pushBias = 0.0f;
  row->pushImpulse = 0.0f;
}

// ---------------------------------------------------------------- Constraint

Constraint::Constraint(RigidBody* a, RigidBody* b, int k)
    : kind(k), bodyA(a), bodyB(b ? b : RigidBody_GetWorldBody()) {
  if (bodyA) PhysObject_AddDependent(bodyA, this, 0, 0);
  if (bodyB && bodyB != RigidBody_GetWorldBody() && bodyB != bodyA)
    PhysObject_AddDependent(bodyB, this, 1, 0);
}

Constraint::~Constraint() {
  if (manager) ConstraintManager_RemoveConstraint(manager, this);
  if (bodyA) PhysObject_RemoveDependent(bodyA, this);
  if (bodyB) PhysObject_RemoveDependent(bodyB, this);
}

int Constraint::Notify(PhysObject* source, uint32_t, int mode) {
  if (mode != PHYS_NOTIFY_DESTROYED || !source->destroying) return 2;
  // The body is going away: keep no pointer to it. Without either body the
  // joint is inactive and the survivor moves freely (holding it to the
  // world instead would pin it at the lost body's anchor, read as world
  // coordinates). An inactive joint stays safe to detach and destroy.
  if (source == bodyA) bodyA = nullptr;
  if (source == bodyB) bodyB = nullptr;
  warmValid = false;
  return 1;
}

PhysObject* Constraint::GetChild(int i) const {
  if (i == 0) return bodyA;
  if (i == 1 && bodyB != RigidBody_GetWorldBody()) return bodyB;
  return nullptr;
}

void Constraint::Rebuild() { warmValid = false; }

float Constraint::EffectiveDamping() const {
  if (!(damping > 0.0f)) return 1.0f;
  return damping > 1.0f ? 1.0f : damping;
}

float Constraint::EffectiveStrength() const {
  if (!(strength > 0.0f)) return 1.0f;
  return strength > 1.0f ? 1.0f : strength;
}

int Constraint::IsSolvable() const {
  if (!bodyA || !bodyB) return 0;
  auto present = [](const RigidBody* b) {
    return b == RigidBody_GetWorldBody() || (b->subspace && !b->quarantined);
  };
  if (!present(bodyA) || !present(bodyB)) return 0;
  return (Solver_InvMass(bodyA) != 0.0f || Solver_InvMass(bodyB) != 0.0f) ? 1 : 0;
}

// ------------------------------------------------------------ Point to point

Point2PointConstraint::Point2PointConstraint(RigidBody* a, RigidBody* b)
    : Constraint(a, b, CONSTRAINT_POINT2POINT) {
  if (a) Point2PointConstraint_SetPivotWorld(this, a->pose.position);
}

void Point2PointConstraint::BuildRows(float h, float hRatio) {
  int n = 0;
  PushPointRows(this, pivotA, pivotB, kMaxCorrection * EffectiveStrength(), h, &n);
  FinishRows(this, n, hRatio);
}

void Point2PointConstraint_SetPivotWorld(Point2PointConstraint* c, Vec3 pivot) {
  if (!c || !c->bodyA || !c->bodyB || !Vec3_IsFinite(pivot)) return;
  c->pivotA = Transform_ApplyInv(c->bodyA->pose, pivot);
  c->pivotB = Transform_ApplyInv(c->bodyB->pose, pivot);
  c->warmValid = false;
}

// --------------------------------------------------------------------- Hinge

HingeConstraint::HingeConstraint(RigidBody* a, RigidBody* b) : Constraint(a, b, CONSTRAINT_HINGE) {
  if (a) HingeConstraint_SetPivotAxisWorld(this, a->pose.position, V3(0, 1, 0));
}

float HingeConstraint::Angle() const {
  if (!bodyA || !bodyB) return 0.0f;
  Vec3 axis = Quat_Rotate(bodyA->pose.rotation, axisA);
  Vec3 ra = Quat_Rotate(bodyA->pose.rotation, refA);
  Vec3 rb = Quat_Rotate(bodyB->pose.rotation, refB);
  return std::atan2(Vec3_Dot(Vec3_Cross(rb, ra), axis), Vec3_Dot(rb, ra));
}

void HingeConstraint::BuildRows(float h, float hRatio) {
  float beta = kMaxCorrection * EffectiveStrength();
  int n = 0;
  PushPointRows(this, pivotA, pivotB, beta, h, &n);
  Vec3 aA = Quat_Rotate(bodyA->pose.rotation, axisA);
  Vec3 aB = Quat_Rotate(bodyB->pose.rotation, axisB);
  Vec3 b1, b2;
  Vec3_PlaneSpace(aA, &b1, &b2);
  Vec3 err = Vec3_Cross(aA, aB);
  SolverRow* r = &rows[n++];
  SolverRow_Setup(r, bodyA, bodyB, V3(0, 0, 0), b1, V3(0, 0, 0), -b1);
  r->bias = beta * Vec3_Dot(b1, err) / h;
  r = &rows[n++];
  SolverRow_Setup(r, bodyA, bodyB, V3(0, 0, 0), b2, V3(0, 0, 0), -b2);
  r->bias = beta * Vec3_Dot(b2, err) / h;

  // Slots 5 and 6 are the limit and the motor; an unused slot keeps no
  // warm start, so a limit that engages again starts from zero.
  if (limitOn) {
    float lo = std::fmin(limit[0], limit[1]), hi = std::fmax(limit[0], limit[1]);
    float angle = Angle();
    // Engage a little before the stop and let the joint approach it exactly
    // (speculatively), so that a fast swing does not pass through.
    const float margin = 0.1f;
    r = &rows[n];
    if (angle < lo + margin) {
      SolverRow_Setup(r, bodyA, bodyB, V3(0, 0, 0), aA, V3(0, 0, 0), -aA);
      r->lo = 0.0f;
      r->bias = angle >= lo ? (lo - angle) / h : beta * (lo - angle) / h;
      ++n;
    } else if (angle > hi - margin) {
      SolverRow_Setup(r, bodyA, bodyB, V3(0, 0, 0), aA, V3(0, 0, 0), -aA);
      r->hi = 0.0f;
      r->bias = angle <= hi ? (hi - angle) / h : beta * (hi - angle) / h;
      ++n;
    } else {
      SolverRow_Setup(r, bodyA, bodyB, V3(0, 0, 0), aA, V3(0, 0, 0), -aA);
      r->effMass = 0.0f;  // inactive slot, keeps the motor in slot 6
      ++n;
    }
  }
  if (motorOn) {
    if (!limitOn) {
      SolverRow_Setup(&rows[n], bodyA, bodyB, V3(0, 0, 0), aA, V3(0, 0, 0), -aA);
      rows[n].effMass = 0.0f;
      ++n;
    }
    r = &rows[n++];
    SolverRow_Setup(r, bodyA, bodyB, V3(0, 0, 0), aA, V3(0, 0, 0), -aA);
    r->bias = motor[0];
    if (motor[1] > 0.0f) {
      r->lo = -motor[1] * h;
      r->hi = motor[1] * h;
    }
  }
  FinishRows(this, n, hRatio);
  // The limit row must not start pulling from a stale impulse of the other stop.
  if (limitOn && rows[5].effMass == 0.0f) rows[5].impulse = 0.0f;
}

void HingeConstraint_SetPivotAxisWorld(HingeConstraint* h, Vec3 pivot, Vec3 axis) {
  if (!h || !h->bodyA || !h->bodyB || !Vec3_IsFinite(pivot) || !Vec3_IsFinite(axis)) return;
  Vec3 a = Vec3_Unit(axis);
  if (Vec3_LengthSq(a) == 0.0f) return;
  const Transform& ta = h->bodyA->pose;
  const Transform& tb = h->bodyB->pose;
  h->pivotA = Transform_ApplyInv(ta, pivot);
  h->pivotB = Transform_ApplyInv(tb, pivot);
  h->axisA = Quat_RotateInv(ta.rotation, a);
  h->axisB = Quat_RotateInv(tb.rotation, a);
  Vec3 ref, unused;
  Vec3_PlaneSpace(a, &ref, &unused);
  h->refA = Quat_RotateInv(ta.rotation, ref);
  h->refB = Quat_RotateInv(tb.rotation, ref);
  h->warmValid = false;
}

// --------------------------------------------------------------------- Frame

FrameConstraint::FrameConstraint(RigidBody* a, RigidBody* b) : Constraint(a, b, CONSTRAINT_FRAME) {
  Rebuild();
}

void FrameConstraint::Rebuild() {
  warmValid = false;
  if (!bodyA || !bodyB) return;
  Vec3 pivot = ComWorld(bodyA);
  pivotA = Transform_ApplyInv(bodyA->pose, pivot);
  pivotB = Transform_ApplyInv(bodyB->pose, pivot);
  relative = Quat_Normalize(Quat_Conjugate(bodyB->pose.rotation) * bodyA->pose.rotation);
}

void FrameConstraint::BuildRows(float h, float hRatio) {
  float beta = kMaxCorrection * EffectiveStrength();
  int n = 0;
  PushPointRows(this, pivotA, pivotB, beta, h, &n);
  Quat cur = Quat_Conjugate(bodyB->pose.rotation) * bodyA->pose.rotation;
  Quat d = cur * Quat_Conjugate(relative);
  float s = d.w < 0 ? -2.0f : 2.0f;
  Vec3 err = Quat_Rotate(bodyB->pose.rotation, V3(d.x * s, d.y * s, d.z * s));
  static const Vec3 axes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int i = 0; i < 3; ++i) {
    SolverRow* r = &rows[n++];
    SolverRow_Setup(r, bodyA, bodyB, V3(0, 0, 0), axes[i], V3(0, 0, 0), -axes[i]);
    r->bias = -beta * Vec3_Dot(err, axes[i]) / h;
  }
  FinishRows(this, n, hRatio);
}

// ------------------------------------------------------------------ Two-axis

TwoAxisConstraint::TwoAxisConstraint(RigidBody* a, RigidBody* b)
    : Constraint(a, b, CONSTRAINT_TWOAXIS) {
  if (!a) return;
  Vec3 pivot = a->pose.position;
  pivotA = Transform_ApplyInv(a->pose, pivot);
  pivotB = Transform_ApplyInv(bodyB->pose, pivot);
  axisA = Quat_RotateInv(a->pose.rotation, V3(1, 0, 0));
  axisB = Quat_RotateInv(bodyB->pose.rotation, V3(0, 0, 1));
}

void TwoAxisConstraint::BuildRows(float h, float hRatio) {
  float beta = kMaxCorrection * EffectiveStrength();
  int n = 0;
  PushPointRows(this, pivotA, pivotB, beta, h, &n);
  Vec3 aA = Quat_Rotate(bodyA->pose.rotation, axisA);
  Vec3 aB = Quat_Rotate(bodyB->pose.rotation, axisB);
  Vec3 c = Vec3_Cross(aA, aB);
  SolverRow* r = &rows[n++];
  SolverRow_Setup(r, bodyA, bodyB, V3(0, 0, 0), c, V3(0, 0, 0), -c);
  r->bias = -beta * Vec3_Dot(aA, aB) / h;
  FinishRows(this, n, hRatio);
}

// ------------------------------------------------------------------ Distance

DistanceConstraint::DistanceConstraint(RigidBody* a, RigidBody* b)
    : Constraint(a, b, CONSTRAINT_DISTANCE) {
  if (!a) return;
  anchorA = a->comOffset;
  anchorB = Transform_ApplyInv(bodyB->pose, ComWorld(bodyB));
  Rebuild();
}

void DistanceConstraint::Rebuild() {
  warmValid = false;
  if (!bodyA || !bodyB) return;
  length = Vec3_Norm(Transform_Apply(bodyA->pose, anchorA) -
                       Transform_Apply(bodyB->pose, anchorB));
}

void DistanceConstraint::BuildRows(float h, float hRatio) {
  float beta = kMaxCorrection * EffectiveStrength();
  Vec3 rA = ArmOf(bodyA, anchorA), rB = ArmOf(bodyB, anchorB);
  Vec3 d = (ComWorld(bodyA) + rA) - (ComWorld(bodyB) + rB);
  float len = Vec3_Norm(d);
  Vec3 n = len > 1e-6f ? d * (1.0f / len) : V3(0, 1, 0);
  SolverRow_Setup(&rows[0], bodyA, bodyB, n, Vec3_Cross(rA, n), -n, -Vec3_Cross(rB, n));
  rows[0].bias = -beta * (len - length) / h;
  FinishRows(this, 1, hRatio);
}

// -------------------------------------------------------------- Constructors

template <typename T>
static T* ConstructConstraint(RigidBody* a, RigidBody* b) {
  if (!a) return nullptr;
  return new T(a, b);
}

HingeConstraint* HingeConstraint_Construct(RigidBody* a, RigidBody* b) {
  return ConstructConstraint<HingeConstraint>(a, b);
}
Point2PointConstraint* Point2PointConstraint_Construct(RigidBody* a, RigidBody* b) {
  return ConstructConstraint<Point2PointConstraint>(a, b);
}
FrameConstraint* FrameConstraint_Construct(RigidBody* a, RigidBody* b) {
  return ConstructConstraint<FrameConstraint>(a, b);
}
TwoAxisConstraint* TwoAxisConstraint_Construct(RigidBody* a, RigidBody* b) {
  return ConstructConstraint<TwoAxisConstraint>(a, b);
}
DistanceConstraint* DistanceConstraint_Construct(RigidBody* a, RigidBody* b) {
  return ConstructConstraint<DistanceConstraint>(a, b);
}

void Constraint_Rebuild(Constraint* c) {
  if (c) c->Rebuild();
}

// --------------------------------------------------------------- The manager

ConstraintManager::~ConstraintManager() {
  while (!constraints.Empty()) ConstraintManager_RemoveConstraint(this, constraints.Back());
  constraints.Release();
}

int ConstraintManager::Notify(PhysObject* source, uint32_t, int mode) {
  if (mode == PHYS_NOTIFY_DESTROYED && source->destroying) {
    // A constraint detaches itself in its destructor; this catches objects
    // destroyed through the base only. Compare as PhysObject: the derived
    // part is gone.
    for (int i = 0; i < constraints.Count(); ++i) {
      if (static_cast<PhysObject*>(constraints[i]) == source) {
        constraints.RemoveAt(i);
        return 1;
      }
    }
  }
  return 2;
}

ConstraintManager* ConstraintManager_Construct() { return new ConstraintManager(); }

int ConstraintManager_AddConstraint(ConstraintManager* m, Constraint* c) {
  if (!m || !c) return 0;
  if (c->manager == m) return 1;
  if (c->manager) ConstraintManager_RemoveConstraint(c->manager, c);
  if (!m->constraints.Push(c)) return 0;
  PhysObject_AddDependent(c, m, 0, 0);
  c->manager = m;
  c->warmValid = false;
  return 1;
}

int ConstraintManager_RemoveConstraint(ConstraintManager* m, Constraint* c) {
  if (!m || !c) return 0;
  int i = m->constraints.Find(c);
  if (i < 0) return 0;
  m->constraints.RemoveAt(i);
  PhysObject_RemoveDependent(c, m);
  c->manager = nullptr;
  return 1;
}
