#include "physics/dynamics/constraint.h"

#include <cmath>

#include "physics/dynamics/rigid_body.h"
#include "physics/dynamics/subspace.h"

namespace {

Vec3 ComWorld(const RigidBody* b) { return Transform_Apply(b->pose, b->comOffset); }

// A body the solver moves: in a world, awake, not fixed, pinned or quarantined.
bool SolverMoves(const RigidBody* body) {
  if (!body || !body->subspace || body->pinned || body->quarantined) return false;
  return !(body->stateFlags & RB_STATE_FIXED) && (body->stateFlags & RB_STATE_ACTIVE);
}

void Bodies(JointBodies* jb, const JointStep& step, const RigidBody* a, const RigidBody* b) {
  jb->a = SolverSet_IndexOf(step.set, a);
  jb->b = SolverSet_IndexOf(step.set, b);
  const SolverBodySim& sa = step.set->sims[jb->a];
  const SolverBodySim& sb = step.set->sims[jb->b];
  jb->mA = sa.invMass;
  jb->mB = sb.invMass;
  jb->iA = sa.invInertia;
  jb->iB = sb.invInertia;
  jb->comA = jb->a ? sa.com0 : ComWorld(a);
  jb->comB = jb->b ? sb.com0 : ComWorld(b);
  jb->qA = jb->a ? sa.q0 : a->pose.rotation;
  jb->qB = jb->b ? sb.q0 : b->pose.rotation;
  Lanes_Columns(jb->iA, jb->inertiaA);
  Lanes_Columns(jb->iB, jb->inertiaB);
}

// The world offset of a body-space point from the body's centre of mass.
Vec3 Arm(const RigidBody* body, Quat q, Vec3 local) { return Quat_Rotate(q, local - body->comOffset); }

// v or w of a solver body state as lanes, and back.
inline Lanes Load(const Vec3& vw) { return SolverBody_Load(&vw); }
inline void Store(Vec3& vw, Lanes l) { SolverBody_Store(&vw, l); }

// A body's spin at arm r: its world inverse inertia (columns inertia) times
// [r]x, the cross-product matrix of r, by columns: the angular velocity of
// a linear impulse p is Lanes_MulColumns(spin, p) == inertia (r x p). Column
// j is inertia (r x e_j). Adds the body's share of the point block's
// effective mass, [r]x^T inertia [r]x, to the columns k: column j is
// spin_j x r.
void PointShare(const Lanes* inertia, Lanes r, Lanes* spin, Lanes* k) {
  spin[0] = inertia[1] * r[2] - inertia[2] * r[1];
  spin[1] = inertia[2] * r[0] - inertia[0] * r[2];
  spin[2] = inertia[0] * r[1] - inertia[1] * r[0];
  for (int j = 0; j < 3; ++j) k[j] += Lanes_Cross(spin[j], r);
}

// Inverse of the symmetric matrix of columns k (its rows are the cross
// products of the columns over the determinant); zero when singular (as
// Mat3_Invert refuses).
void InvertSymmetric(const Lanes* k, Lanes* inv) {
  Lanes r0 = Lanes_Cross(k[1], k[2]), r1 = Lanes_Cross(k[2], k[0]), r2 = Lanes_Cross(k[0], k[1]);
  float det = Lanes_Dot3(k[0], r0);
  if (!std::isfinite(det) || std::fabs(det) < 1e-30f) {
    inv[0] = inv[1] = inv[2] = Lanes{0, 0, 0, 0};
    return;
  }
  float s = 1.0f / det;
  inv[0] = r0 * s;
  inv[1] = r1 * s;
  inv[2] = r2 * s;
}

// Inverse of a symmetric 3x3 matrix; zero when singular.
Mat3 InvertSymmetric(const Mat3& m) {
  Lanes k[3], inv[3];
  Lanes_Columns(m, k);
  InvertSymmetric(k, inv);
  return Mat3{{Lanes_ToVec3(inv[0]), Lanes_ToVec3(inv[1]), Lanes_ToVec3(inv[2])}};
}

// Applies a linear impulse p at arms rA, rB (A gets +p, B gets -p).
void ApplyLinear(const JointStep& step, const JointBodies& jb, Vec3 rA, Vec3 rB, Vec3 p) {
  SolverBodyState& A = step.states[jb.a];
  SolverBodyState& B = step.states[jb.b];
  A.v += p * jb.mA;
  A.w += Mat3_Mul(jb.iA, Vec3_Cross(rA, p));
  B.v -= p * jb.mB;
  B.w -= Mat3_Mul(jb.iB, Vec3_Cross(rB, p));
}

// Applies an angular impulse l (A gets +l, B gets -l).
void ApplyAngular(const JointStep& step, const JointBodies& jb, Vec3 l) {
  step.states[jb.a].w += Mat3_Mul(jb.iA, l);
  step.states[jb.b].w -= Mat3_Mul(jb.iB, l);
}

// The soft-constraint terms of a pass: target velocity of the constraint for
// the position error c (none when relaxing), and the impulse scales.
struct Soft {
  float massScale, impulseScale;
};
Soft SoftOf(const JointStep& step, bool useBias) {
  return useBias ? Soft{step.soft.massScale, step.soft.impulseScale} : Soft{1.0f, 0.0f};
}

// The start of a joint's step: its bodies as the solver sees them, its
// parameters and its point part set up. Returns the factor its kept
// impulses are scaled by (0 when they do not belong to the current set-up).
float BeginStep(Constraint* c, JointPoint* jp, Vec3 pivotA, Vec3 pivotB, const JointStep& step) {
  Bodies(&c->bodies, step, c->bodyA, c->bodyB);
  c->stepDamping = c->EffectiveDamping();
  c->stepStrength = c->EffectiveStrength();
  float scale = c->warmValid ? step.hRatio : 0.0f;
  c->warmValid = true;
  jp->rA = jp->armA = Lanes_FromVec3(Arm(c->bodyA, c->bodies.qA, pivotA));
  jp->rB = jp->armB = Lanes_FromVec3(Arm(c->bodyB, c->bodies.qB, pivotB));
  jp->impulse = jp->impulse * scale;
  return scale;
}

// The point part's sub-step set-up with its warm start, and one pass.

void PointWarmStart(JointPoint* jp, const JointStep& step, const JointBodies& jb) {
  SolverBodyState& A = step.states[jb.a];
  SolverBodyState& B = step.states[jb.b];
  // The effective mass: (mA + mB) I plus both bodies' shares.
  float m = jb.mA + jb.mB;
  Lanes k[3] = {{m, 0, 0, 0}, {0, m, 0, 0}, {0, 0, m, 0}};
  PointShare(jb.inertiaA, jp->armA, jp->spinA, k);
  PointShare(jb.inertiaB, jp->armB, jp->spinB, k);
  InvertSymmetric(k, jp->invMass);
  Lanes p = jp->impulse;
  Store(A.v, Load(A.v) + p * jb.mA);
  Store(A.w, Load(A.w) + Lanes_MulColumns(jp->spinA, p));
  Store(B.v, Load(B.v) - p * jb.mB);
  Store(B.w, Load(B.w) - Lanes_MulColumns(jp->spinB, p));
}

void PointSolve(JointPoint* jp, const JointStep& step, const JointBodies& jb, bool useBias, float strength,
                float damping) {
  SolverBodyState& A = step.states[jb.a];
  SolverBodyState& B = step.states[jb.b];
  Lanes vA = Load(A.v), wA = Load(A.w), vB = Load(B.v), wB = Load(B.w);
  if (!useBias) {
    // The positions moved since the set-up: the anchors as they stand now
    // (kept for the next set-up), with the set-up's effective mass.
    Lanes rA = Lanes_Rotate(Lanes_FromQuat(A.dq), jp->rA), rB = Lanes_Rotate(Lanes_FromQuat(B.dq), jp->rB);
    jp->armA = rA;
    jp->armB = rB;
    Lanes cdot = vA + Lanes_Cross(wA, rA) - vB - Lanes_Cross(wB, rB);
    Lanes p = -Lanes_MulColumns(jp->invMass, cdot) * damping;
    jp->impulse += p;
    Store(A.v, vA + p * jb.mA);
    Store(A.w, wA + Lanes_MulColumns(jb.inertiaA, Lanes_Cross(rA, p)));
    Store(B.v, vB - p * jb.mB);
    Store(B.w, wB - Lanes_MulColumns(jb.inertiaB, Lanes_Cross(rB, p)));
    return;
  }
  // The bodies have not moved since the set-up: its anchors are current.
  Lanes cdot = vA + Lanes_Cross(wA, jp->armA) - vB - Lanes_Cross(wB, jp->armB);
  Lanes c = (Lanes_FromVec3(jb.comA + A.dp) + jp->armA) - (Lanes_FromVec3(jb.comB + B.dp) + jp->armB);
  cdot += c * (step.soft.biasRate * strength);
  Soft soft = SoftOf(step, true);
  Lanes p = (-Lanes_MulColumns(jp->invMass, cdot) * soft.massScale - jp->impulse * soft.impulseScale) * damping;
  jp->impulse += p;
  Store(A.v, vA + p * jb.mA);
  Store(A.w, wA + Lanes_MulColumns(jp->spinA, p));
  Store(B.v, vB - p * jb.mB);
  Store(B.w, wB - Lanes_MulColumns(jp->spinB, p));
}

// One scalar angular row along unit axis u, A against B: the impulse that
// drives u . (wA - wB) to target (with the given softness), bounded to
// [lo, hi] accumulated. uA, uB: the inverse inertias times u; invK: the
// inverse of the row's effective mass, 0 for none.
float AxialSolve(const JointStep& step, const JointBodies& jb, Lanes u, Lanes uA, Lanes uB, float invK, float target,
                 Soft soft, float* accumulated, float lo, float hi, float damping) {
  SolverBodyState& A = step.states[jb.a];
  SolverBodyState& B = step.states[jb.b];
  if (invK == 0.0f) return 0.0f;
  Lanes wA = Load(A.w), wB = Load(B.w);
  float cdot = Lanes_Dot3(u, wA - wB);
  float impulse = (-(cdot - target) * soft.massScale * invK - *accumulated * soft.impulseScale) * damping;
  float next = std::fmax(lo, std::fmin(*accumulated + impulse, hi));
  impulse = next - *accumulated;
  *accumulated = next;
  Store(A.w, wA + uA * impulse);
  Store(B.w, wB - uB * impulse);
  return impulse;
}

// The inverse of the effective mass of an angular row along u, 0 for none.
float AxialInvMass(const JointBodies& jb, Lanes u, Lanes* uA, Lanes* uB) {
  *uA = Lanes_MulColumns(jb.inertiaA, u);
  *uB = Lanes_MulColumns(jb.inertiaB, u);
  float k = Lanes_Dot3(u, *uA + *uB);
  return k > 1e-12f ? 1.0f / k : 0.0f;
}

}  // namespace

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
  return (SolverMoves(bodyA) || SolverMoves(bodyB)) ? 1 : 0;
}

// ------------------------------------------------------------ Point to point

Point2PointConstraint::Point2PointConstraint(RigidBody* a, RigidBody* b)
    : Constraint(a, b, CONSTRAINT_POINT2POINT) {
  if (a) Point2PointConstraint_SetPivotWorld(this, a->pose.position);
}

void Point2PointConstraint::Prepare(const JointStep& step) { BeginStep(this, &point, pivotA, pivotB, step); }

void Point2PointConstraint::WarmStart(const JointStep& step) { PointWarmStart(&point, step, bodies); }

void Point2PointConstraint::Solve(const JointStep& step, bool useBias) {
  PointSolve(&point, step, bodies, useBias, stepStrength, stepDamping);
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

namespace {

// The hinge angle for orientations qA and qB (see HingeConstraint::Angle).
float HingeAngle(const HingeConstraint* h, Quat qA, Quat qB) {
  Vec3 axis = Quat_Rotate(qA, h->axisA);
  Vec3 ra = Quat_Rotate(qA, h->refA);
  Vec3 rb = Quat_Rotate(qB, h->refB);
  return std::atan2(Vec3_Dot(Vec3_Cross(rb, ra), axis), Vec3_Dot(rb, ra));
}

}  // namespace

void HingeConstraint::Prepare(const JointStep& step) {
  float scale = BeginStep(this, &point, pivotA, pivotB, step);
  worldAxisA = Lanes_FromVec3(Quat_Rotate(bodies.qA, axisA));
  worldAxisB = Lanes_FromVec3(Quat_Rotate(bodies.qB, axisB));
  angularImpulse = angularImpulse * scale;
  // The axes held together: the two rows across the axis as one 2x2 block,
  // so that correcting one direction does not undo the other. The rows are
  // set for the step: A's axis turns within it only as far as the joint
  // lets it tilt, and the inverse inertias stay the step's.
  Vec3 b1, b2;
  Vec3_PlaneSpace(Lanes_ToVec3(worldAxisA), &b1, &b2);
  across[0] = Lanes_FromVec3(b1);
  across[1] = Lanes_FromVec3(b2);
  for (int i = 0; i < 2; ++i) {
    acrossA[i] = Lanes_MulColumns(bodies.inertiaA, across[i]);
    acrossB[i] = Lanes_MulColumns(bodies.inertiaB, across[i]);
  }
  Lanes k = Lanes_Sums(across[0] * (acrossA[0] + acrossB[0]), across[0] * (acrossA[1] + acrossB[1]),
                       across[1] * (acrossA[1] + acrossB[1]), Lanes{0, 0, 0, 0});
  float k11 = k[0], k12 = k[1], k22 = k[2];
  float det = k11 * k22 - k12 * k12;
  acrossValid = det > 1e-20f * (k11 * k22) && det > 0.0f;
  if (acrossValid) {
    float inv = 1.0f / det;
    acrossInv[0] = k22 * inv;
    acrossInv[1] = -k12 * inv;
    acrossInv[2] = k11 * inv;
  }
  // So are a limit's or motor's rows about the axis.
  alongMass = limitOn || motorOn ? AxialInvMass(bodies, worldAxisA, &alongA, &alongB) : 0.0f;
  // An unused limit or motor keeps no impulse, so that it starts from zero
  // when it engages again.
  lowerImpulse = limitOn ? lowerImpulse * scale : 0.0f;
  upperImpulse = limitOn ? upperImpulse * scale : 0.0f;
  motorImpulse = motorOn ? motorImpulse * scale : 0.0f;
}

void HingeConstraint::WarmStart(const JointStep& step) {
  SolverBodyState& A = step.states[bodies.a];
  SolverBodyState& B = step.states[bodies.b];
  PointWarmStart(&point, step, bodies);
  // The axes as they stand at the sub-step's start: their error is the
  // bias pass's position error.
  subAxisA = Lanes_Rotate(Lanes_FromQuat(A.dq), worldAxisA);
  subAxisB = Lanes_Rotate(Lanes_FromQuat(B.dq), worldAxisB);
  Lanes l = angularImpulse + subAxisA * (lowerImpulse - upperImpulse + motorImpulse);
  Store(A.w, Load(A.w) + Lanes_MulColumns(bodies.inertiaA, l));
  Store(B.w, Load(B.w) - Lanes_MulColumns(bodies.inertiaB, l));
}

void HingeConstraint::Solve(const JointStep& step, bool useBias) {
  SolverBodyState& A = step.states[bodies.a];
  SolverBodyState& B = step.states[bodies.b];
  float damping = stepDamping, strength = stepStrength;
  Soft soft = SoftOf(step, useBias);
  const Lanes aA = subAxisA;
  if (limitOn || motorOn) {
    float angle = limitOn ? HingeAngle(this, Quat_Normalize(A.dq * bodies.qA), Quat_Normalize(B.dq * bodies.qB)) : 0.0f;
    float lo = std::fmin(limit[0], limit[1]), hi = std::fmax(limit[0], limit[1]);
    if (motorOn) {
      // A velocity motor: no position error, so never soft. At the stop it
      // drives towards it does not drive: an unbounded motor would otherwise
      // push the joint through its limit, which is only as stiff as a spring.
      bool blocked = limitOn && ((motor[0] > 0.0f && angle >= hi) || (motor[0] < 0.0f && angle <= lo));
      float bound = motor[1] > 0.0f ? motor[1] * step.dt : 1e30f;
      if (!blocked) {
        AxialSolve(step, bodies, aA, alongA, alongB, alongMass, motor[0], Soft{1.0f, 0.0f}, &motorImpulse, -bound,
                   bound, damping);
      } else if (motorImpulse != 0.0f) {
        // Take back what the warm start applied for it.
        Store(A.w, Load(A.w) - alongA * motorImpulse);
        Store(B.w, Load(B.w) + alongB * motorImpulse);
        motorImpulse = 0.0f;
      }
    }
    if (limitOn && alongMass > 0.0f) {
      // Both stops at once, each only pushing. Short of a stop the row lets
      // the joint reach it exactly within the sub-step (speculatively), so a
      // fast swing does not pass through.
      for (int side = 0; side < 2; ++side) {
        float c = side == 0 ? angle - lo : hi - angle;  // > 0 inside the range
        float sign = side == 0 ? 1.0f : -1.0f;          // the row is sign * aA
        float target;
        Soft s{1.0f, 0.0f};
        if (c > 0.0f) {
          target = -c * step.invDt;
        } else {
          target = useBias ? -c * step.soft.biasRate * strength : 0.0f;
          s = soft;
        }
        float* acc = side == 0 ? &lowerImpulse : &upperImpulse;
        // u . (wA - wB) may not fall below target: the row only pushes.
        Lanes wA = Load(A.w), wB = Load(B.w);
        float cdot = sign * Lanes_Dot3(aA, wA - wB);
        float impulse = (-(cdot - target) * s.massScale * alongMass - *acc * s.impulseScale) * damping;
        float next = std::fmax(*acc + impulse, 0.0f);
        impulse = (next - *acc) * sign;
        *acc = next;
        Store(A.w, wA + alongA * impulse);
        Store(B.w, wB - alongB * impulse);
      }
    }
  }
  if (acrossValid) {
    const Lanes b1 = across[0], b2 = across[1];
    Lanes wA = Load(A.w), wB = Load(B.w);
    Lanes w = wA - wB;
    // Turning (wA - wB) about b moves aB relative to aA by -b x ...: the
    // error aA x aB shrinks when (wA - wB) . b follows it. The bodies have
    // not turned since the set-up: its axes are current.
    Lanes drive = useBias ? w - Lanes_Cross(aA, subAxisB) * (step.soft.biasRate * strength) : w;
    Lanes d = Lanes_Sums(b1 * drive, b2 * drive, b1 * angularImpulse, b2 * angularImpulse);
    float c1 = d[0], c2 = d[1];
    float l1 = acrossInv[0] * c1 + acrossInv[1] * c2, l2 = acrossInv[1] * c1 + acrossInv[2] * c2;
    float i1 = (-l1 * soft.massScale - d[2] * soft.impulseScale) * damping;
    float i2 = (-l2 * soft.massScale - d[3] * soft.impulseScale) * damping;
    angularImpulse += b1 * i1 + b2 * i2;
    Store(A.w, wA + acrossA[0] * i1 + acrossA[1] * i2);
    Store(B.w, wB - (acrossB[0] * i1 + acrossB[1] * i2));
  }
  PointSolve(&point, step, bodies, useBias, strength, damping);
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

void FrameConstraint::Prepare(const JointStep& step) {
  angularImpulse = angularImpulse * BeginStep(this, &point, pivotA, pivotB, step);
  // The inverse inertias stay the step's: so does the angular block.
  angularInvMass = InvertSymmetric(Mat3_Add(bodies.iA, bodies.iB));
}

void FrameConstraint::WarmStart(const JointStep& step) {
  PointWarmStart(&point, step, bodies);
  ApplyAngular(step, bodies, angularImpulse);
}

void FrameConstraint::Solve(const JointStep& step, bool useBias) {
  SolverBodyState& A = step.states[bodies.a];
  SolverBodyState& B = step.states[bodies.b];
  float damping = stepDamping, strength = stepStrength;
  Soft soft = SoftOf(step, useBias);
  Vec3 cdot = A.w - B.w;
  if (useBias) {
    // The rotation still to undo, as a world rotation vector.
    Quat qA = A.dq * bodies.qA, qB = B.dq * bodies.qB;
    Quat d = (Quat_Conjugate(qB) * qA) * Quat_Conjugate(relative);
    float sgn = d.w < 0 ? -2.0f : 2.0f;
    Vec3 err = Quat_Rotate(qB, V3(d.x * sgn, d.y * sgn, d.z * sgn));
    cdot += err * (step.soft.biasRate * strength);
  }
  Vec3 impulse = (-Mat3_Mul(angularInvMass, cdot) * soft.massScale - angularImpulse * soft.impulseScale) * damping;
  angularImpulse += impulse;
  ApplyAngular(step, bodies, impulse);
  PointSolve(&point, step, bodies, useBias, strength, damping);
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

void TwoAxisConstraint::Prepare(const JointStep& step) {
  axisImpulse *= BeginStep(this, &point, pivotA, pivotB, step);
  worldAxisA = Quat_Rotate(bodies.qA, axisA);
  worldAxisB = Quat_Rotate(bodies.qB, axisB);
}

void TwoAxisConstraint::WarmStart(const JointStep& step) {
  PointWarmStart(&point, step, bodies);
  Vec3 aA = Quat_Rotate(step.states[bodies.a].dq, worldAxisA);
  Vec3 aB = Quat_Rotate(step.states[bodies.b].dq, worldAxisB);
  ApplyAngular(step, bodies, Vec3_Unit(Vec3_Cross(aA, aB)) * axisImpulse);
}

void TwoAxisConstraint::Solve(const JointStep& step, bool useBias) {
  float damping = stepDamping, strength = stepStrength;
  Vec3 aA = Quat_Rotate(step.states[bodies.a].dq, worldAxisA);
  Vec3 aB = Quat_Rotate(step.states[bodies.b].dq, worldAxisB);
  // d/dt (aA . aB) = (aA x aB) . (wA - wB): the row keeps the axes square.
  Vec3 u = Vec3_Unit(Vec3_Cross(aA, aB));
  if (Vec3_LengthSq(u) > 0.0f) {
    float target = useBias ? -Vec3_Dot(aA, aB) * step.soft.biasRate * strength : 0.0f;
    Lanes row = Lanes_FromVec3(u), uA, uB;
    float invK = AxialInvMass(bodies, row, &uA, &uB);
    AxialSolve(step, bodies, row, uA, uB, invK, target, SoftOf(step, useBias), &axisImpulse, -1e30f, 1e30f, damping);
  }
  PointSolve(&point, step, bodies, useBias, strength, damping);
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

void DistanceConstraint::Prepare(const JointStep& step) {
  Bodies(&bodies, step, bodyA, bodyB);
  stepDamping = EffectiveDamping();
  stepStrength = EffectiveStrength();
  rA = Arm(bodyA, bodies.qA, anchorA);
  rB = Arm(bodyB, bodies.qB, anchorB);
  impulse = warmValid ? impulse * step.hRatio : 0.0f;
  warmValid = true;
}

namespace {

// The distance joint's current direction (B's anchor towards A's), length
// and anchors.
Vec3 DistanceDirection(const DistanceConstraint* c, const JointStep& step, Vec3* rA, Vec3* rB, float* len) {
  const SolverBodyState& A = step.states[c->bodies.a];
  const SolverBodyState& B = step.states[c->bodies.b];
  *rA = Quat_Rotate(A.dq, c->rA);
  *rB = Quat_Rotate(B.dq, c->rB);
  Vec3 d = (c->bodies.comA + A.dp + *rA) - (c->bodies.comB + B.dp + *rB);
  *len = Vec3_Norm(d);
  return *len > 1e-6f ? d * (1.0f / *len) : V3(0, 1, 0);
}

}  // namespace

void DistanceConstraint::WarmStart(const JointStep& step) {
  Vec3 a, b;
  float len;
  Vec3 n = DistanceDirection(this, step, &a, &b, &len);
  ApplyLinear(step, bodies, a, b, n * impulse);
}

void DistanceConstraint::Solve(const JointStep& step, bool useBias) {
  Vec3 a, b;
  float len;
  Vec3 n = DistanceDirection(this, step, &a, &b, &len);
  const SolverBodyState& A = step.states[bodies.a];
  const SolverBodyState& B = step.states[bodies.b];
  Vec3 angA = Vec3_Cross(a, n), angB = Vec3_Cross(b, n);
  float k = bodies.mA + bodies.mB + Vec3_Dot(angA, Mat3_Mul(bodies.iA, angA)) + Vec3_Dot(angB, Mat3_Mul(bodies.iB, angB));
  if (!(k > 1e-12f)) return;
  float cdot = Vec3_Dot(n, A.v - B.v) + Vec3_Dot(angA, A.w) - Vec3_Dot(angB, B.w);
  if (useBias) cdot += (len - length) * step.soft.biasRate * stepStrength;
  Soft soft = SoftOf(step, useBias);
  float p = (-cdot * soft.massScale / k - impulse * soft.impulseScale) * stepDamping;
  impulse += p;
  ApplyLinear(step, bodies, a, b, n * p);
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
