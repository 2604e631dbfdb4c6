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
}

// The world offset of a body-space point from the body's centre of mass.
Vec3 Arm(const RigidBody* body, Quat q, Vec3 local) { return Quat_Rotate(q, local - body->comOffset); }

// One body's share of a point block at arm r: its spin, the world inverse
// inertia times [r]x (the cross-product matrix of r), which gives the
// angular velocity of a linear impulse p as Mat3_Mul(spin, p) ==
// Mat3_Mul(inv, r x p); and its part of the effective mass,
// [r]x^T inv [r]x, symmetric, as (1,1), (2,1), (3,1), (2,2), (3,2), (3,3).
void PointShare(const Mat3& inv, Vec3 r, Mat3* spin, float* k) {
  const Vec3 u[3] = {V3(0, r.z, -r.y), V3(-r.z, 0, r.x), V3(r.y, -r.x, 0)};  // the columns of [r]x
  Vec3 c[3];
  for (int j = 0; j < 3; ++j) c[j] = Mat3_Mul(inv, u[j]);
  *spin = Mat3{{V3(c[0].x, c[1].x, c[2].x), V3(c[0].y, c[1].y, c[2].y), V3(c[0].z, c[1].z, c[2].z)}};
  k[0] = Vec3_Dot(u[0], c[0]);
  k[1] = Vec3_Dot(u[1], c[0]);
  k[2] = Vec3_Dot(u[2], c[0]);
  k[3] = Vec3_Dot(u[1], c[1]);
  k[4] = Vec3_Dot(u[2], c[1]);
  k[5] = Vec3_Dot(u[2], c[2]);
}

// Inverse of the symmetric matrix [[a, b, c], [b, d, e], [c, e, f]] by its
// adjugate; zero when singular (as Mat3_Invert refuses).
Mat3 InvertSymmetric(float a, float b, float c, float d, float e, float f) {
  float a11 = d * f - e * e, a12 = c * e - b * f, a13 = b * e - c * d;
  float det = a * a11 + b * a12 + c * a13;
  if (!std::isfinite(det) || std::fabs(det) < 1e-30f) return Mat3_Zero();
  float k = 1.0f / det;
  float a22 = a * f - c * c, a23 = b * c - a * e, a33 = a * d - b * b;
  return Mat3{{V3(a11 * k, a12 * k, a13 * k), V3(a12 * k, a22 * k, a23 * k), V3(a13 * k, a23 * k, a33 * k)}};
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
  jp->rA = Arm(c->bodyA, c->bodies.qA, pivotA);
  jp->rB = Arm(c->bodyB, c->bodies.qB, pivotB);
  jp->impulse = jp->impulse * scale;
  return scale;
}

// The point part's sub-step set-up with its warm start, and one pass.

void PointWarmStart(JointPoint* jp, const JointStep& step, const JointBodies& jb) {
  SolverBodyState& A = step.states[jb.a];
  SolverBodyState& B = step.states[jb.b];
  // Anchors turn with the bodies within the step.
  jp->armA = Quat_Rotate(A.dq, jp->rA);
  jp->armB = Quat_Rotate(B.dq, jp->rB);
  // The effective mass: (mA + mB) I plus both bodies' shares.
  float kA[6], kB[6];
  PointShare(jb.iA, jp->armA, &jp->spinA, kA);
  PointShare(jb.iB, jp->armB, &jp->spinB, kB);
  float m = jb.mA + jb.mB;
  jp->invMass = InvertSymmetric(m + kA[0] + kB[0], kA[1] + kB[1], kA[2] + kB[2], m + kA[3] + kB[3], kA[4] + kB[4],
                                m + kA[5] + kB[5]);
  Vec3 p = jp->impulse;
  A.v += p * jb.mA;
  A.w += Mat3_Mul(jp->spinA, p);
  B.v -= p * jb.mB;
  B.w -= Mat3_Mul(jp->spinB, p);
}

void PointSolve(JointPoint* jp, const JointStep& step, const JointBodies& jb, bool useBias, float strength,
                float damping) {
  SolverBodyState& A = step.states[jb.a];
  SolverBodyState& B = step.states[jb.b];
  if (!useBias) {
    Vec3 rA = Quat_Rotate(A.dq, jp->rA), rB = Quat_Rotate(B.dq, jp->rB);
    Vec3 cdot = A.v + Vec3_Cross(A.w, rA) - B.v - Vec3_Cross(B.w, rB);
    Vec3 p = -Mat3_Mul(jp->invMass, cdot) * damping;
    jp->impulse += p;
    ApplyLinear(step, jb, rA, rB, p);
    return;
  }
  Vec3 cdot = A.v + Vec3_Cross(A.w, jp->armA) - B.v - Vec3_Cross(B.w, jp->armB);
  Soft soft{1.0f, 0.0f};
  if (useBias) {
    // The bodies have not moved since the set-up: the arms are current.
    Vec3 c = (jb.comA + A.dp + jp->armA) - (jb.comB + B.dp + jp->armB);
    cdot += c * (step.soft.biasRate * strength);
    soft = SoftOf(step, true);
  }
  Vec3 p = (-Mat3_Mul(jp->invMass, cdot) * soft.massScale - jp->impulse * soft.impulseScale) * damping;
  jp->impulse += p;
  A.v += p * jb.mA;
  A.w += Mat3_Mul(jp->spinA, p);
  B.v -= p * jb.mB;
  B.w -= Mat3_Mul(jp->spinB, p);
}

// One scalar angular row along unit axis u, A against B: the impulse that
// drives u . (wA - wB) to target (with the given softness), bounded to
// [lo, hi] accumulated. uA, uB: the inverse inertias times u; invK: the
// inverse of the row's effective mass, 0 for none.
float AxialSolve(const JointStep& step, const JointBodies& jb, Vec3 u, Vec3 uA, Vec3 uB, float invK, float target,
                 Soft soft, float* accumulated, float lo, float hi, float damping) {
  SolverBodyState& A = step.states[jb.a];
  SolverBodyState& B = step.states[jb.b];
  if (invK == 0.0f) return 0.0f;
  float cdot = Vec3_Dot(u, A.w - B.w);
  float impulse = (-(cdot - target) * soft.massScale * invK - *accumulated * soft.impulseScale) * damping;
  float next = std::fmax(lo, std::fmin(*accumulated + impulse, hi));
  impulse = next - *accumulated;
  *accumulated = next;
  A.w += uA * impulse;
  B.w -= uB * impulse;
  return impulse;
}

// The inverse of the effective mass of an angular row along u, 0 for none.
float AxialInvMass(const JointBodies& jb, Vec3 u, Vec3* uA, Vec3* uB) {
  *uA = Mat3_Mul(jb.iA, u);
  *uB = Mat3_Mul(jb.iB, u);
  float k = Vec3_Dot(u, *uA) + Vec3_Dot(u, *uB);
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
  worldAxisA = Quat_Rotate(bodies.qA, axisA);
  worldAxisB = Quat_Rotate(bodies.qB, axisB);
  angularImpulse = angularImpulse * scale;
  // An unused limit or motor keeps no impulse, so that it starts from zero
  // when it engages again.
  lowerImpulse = limitOn ? lowerImpulse * scale : 0.0f;
  upperImpulse = limitOn ? upperImpulse * scale : 0.0f;
  motorImpulse = motorOn ? motorImpulse * scale : 0.0f;
}

void HingeConstraint::WarmStart(const JointStep& step) {
  PointWarmStart(&point, step, bodies);
  subAxisA = Quat_Rotate(step.states[bodies.a].dq, worldAxisA);
  subAxisB = Quat_Rotate(step.states[bodies.b].dq, worldAxisB);
  // The axes held together: the two rows across the axis as one 2x2 block,
  // so that correcting one direction does not undo the other.
  Vec3_PlaneSpace(subAxisA, &across[0], &across[1]);
  for (int i = 0; i < 2; ++i) {
    acrossA[i] = Mat3_Mul(bodies.iA, across[i]);
    acrossB[i] = Mat3_Mul(bodies.iB, across[i]);
  }
  float k11 = Vec3_Dot(across[0], acrossA[0] + acrossB[0]);
  float k12 = Vec3_Dot(across[0], acrossA[1] + acrossB[1]);
  float k22 = Vec3_Dot(across[1], acrossA[1] + acrossB[1]);
  float det = k11 * k22 - k12 * k12;
  acrossValid = det > 1e-20f * (k11 * k22) && det > 0.0f;
  if (acrossValid) {
    acrossInv[0] = k22 / det;
    acrossInv[1] = -k12 / det;
    acrossInv[2] = k11 / det;
  }
  alongMass = limitOn || motorOn ? AxialInvMass(bodies, subAxisA, &alongA, &alongB) : 0.0f;
  ApplyAngular(step, bodies, angularImpulse + subAxisA * (lowerImpulse - upperImpulse + motorImpulse));
}

void HingeConstraint::Solve(const JointStep& step, bool useBias) {
  SolverBodyState& A = step.states[bodies.a];
  SolverBodyState& B = step.states[bodies.b];
  float damping = stepDamping, strength = stepStrength;
  Soft soft = SoftOf(step, useBias);
  const Vec3 aA = subAxisA;
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
        ApplyAngular(step, bodies, aA * -motorImpulse);
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
        float cdot = sign * Vec3_Dot(aA, A.w - B.w);
        float impulse = (-(cdot - target) * s.massScale * alongMass - *acc * s.impulseScale) * damping;
        float next = std::fmax(*acc + impulse, 0.0f);
        impulse = (next - *acc) * sign;
        *acc = next;
        A.w += alongA * impulse;
        B.w -= alongB * impulse;
      }
    }
  }
  if (acrossValid) {
    const Vec3 b1 = across[0], b2 = across[1];
    Vec3 w = A.w - B.w;
    float c1 = Vec3_Dot(b1, w), c2 = Vec3_Dot(b2, w);
    if (useBias) {
      // Turning (wA - wB) about b moves aB relative to aA by -b x ...: the
      // error aA x aB shrinks when (wA - wB) . b follows it. The bodies
      // have not turned since the set-up: its axes are current.
      Vec3 err = Vec3_Cross(aA, subAxisB);
      float rate = step.soft.biasRate * strength;
      c1 -= rate * Vec3_Dot(b1, err);
      c2 -= rate * Vec3_Dot(b2, err);
    }
    float l1 = acrossInv[0] * c1 + acrossInv[1] * c2, l2 = acrossInv[1] * c1 + acrossInv[2] * c2;
    float i1 = (-l1 * soft.massScale - Vec3_Dot(b1, angularImpulse) * soft.impulseScale) * damping;
    float i2 = (-l2 * soft.massScale - Vec3_Dot(b2, angularImpulse) * soft.impulseScale) * damping;
    angularImpulse += b1 * i1 + b2 * i2;
    A.w += acrossA[0] * i1 + acrossA[1] * i2;
    B.w -= acrossB[0] * i1 + acrossB[1] * i2;
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
  Mat3 k = Mat3_Add(bodies.iA, bodies.iB);
  angularInvMass = InvertSymmetric(k.r[0].x, k.r[1].x, k.r[2].x, k.r[1].y, k.r[2].y, k.r[2].z);
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
    Vec3 uA, uB;
    float invK = AxialInvMass(bodies, u, &uA, &uB);
    AxialSolve(step, bodies, u, uA, uB, invK, target, SoftOf(step, useBias), &axisImpulse, -1e30f, 1e30f, damping);
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
