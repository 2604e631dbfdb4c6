#include "physics/dynamics/spring_actions.h"

#include <cmath>

#include "physics/dynamics/rigid_body.h"

namespace {

Vec3 AnchorWorld(const RigidBody* b, Vec3 local) { return Transform_Apply(b->pose, local); }

bool Awake(const RigidBody* b) {
  return b && b->subspace && !(b->stateFlags & RB_STATE_FIXED) && !b->pinned;
}

// Mass that a force between the two bodies acts on (one side may be fixed).
float ReducedMass(const RigidBody* a, const RigidBody* b) {
  float ia = Awake(a) ? a->invMass : 0.0f, ib = Awake(b) ? b->invMass : 0.0f;
  float s = ia + ib;
  return s > 0.0f ? 1.0f / s : 0.0f;
}

void WakeIfNeeded(RigidBody* b, float forceSq) {
  if (Awake(b) && !(b->stateFlags & RB_STATE_ACTIVE) && forceSq > 1e-8f) b->SetActive(1, 0);
}

// Spring-damper force along unit n with extension x and closing speed v.
void ApplyAlong(RigidBody* a, Vec3 pa, RigidBody* b, Vec3 pb, Vec3 n, float x, float v, float k,
                float c) {
  float m = ReducedMass(a, b);
  Vec3 f = n * (-(k * x + c * v) * m);
  float f2 = Vec3_LengthSq(f);
  if (!std::isfinite(f2)) return;
  WakeIfNeeded(a, f2);
  WakeIfNeeded(b, f2);
  if (Awake(a)) RigidBody_AddForceAtPoint(a, f, pa);
  if (Awake(b)) RigidBody_AddForceAtPoint(b, -f, pb);
}

}  // namespace

Dashpot::Dashpot(RigidBody* a, Vec3 anchorA_, RigidBody* b, Vec3 anchorB_, float s, float d)
    : bodyA(a), bodyB(b), anchorA(anchorA_), anchorB(anchorB_), strength(s), damping(d) {
  PhysObject_AddDependent(a, this, 0, 0);
  if (b != a) PhysObject_AddDependent(b, this, 1, 0);
  restLength = Vec3_Norm(AnchorWorld(a, anchorA) - AnchorWorld(b, anchorB));
}

Dashpot::~Dashpot() {
  if (bodyA) PhysObject_RemoveDependent(bodyA, this);
  if (bodyB) PhysObject_RemoveDependent(bodyB, this);
}

int Dashpot::Notify(PhysObject* source, uint32_t, int mode) {
  if (mode != PHYS_NOTIFY_DESTROYED || !source->destroying) return 2;
  if (source == bodyA) bodyA = nullptr;
  if (source == bodyB) bodyB = nullptr;
  return 1;
}

void Dashpot::Apply(Subspace*, float) {
  if (!bodyA || !bodyB || !bodyA->subspace || !bodyB->subspace) return;
  Vec3 pa = AnchorWorld(bodyA, anchorA), pb = AnchorWorld(bodyB, anchorB);
  Vec3 d = pa - pb;
  float len = Vec3_Norm(d);
  Vec3 n = len > 1e-6f ? d * (1.0f / len) : V3(0, 1, 0);
  Vec3 va, vb;
  RigidBody_GetPointVelocity(bodyA, &va, pa);
  RigidBody_GetPointVelocity(bodyB, &vb, pb);
  ApplyAlong(bodyA, pa, bodyB, pb, n, len - restLength, Vec3_Dot(va - vb, n), strength, damping);
}

SuspensionDashpot::SuspensionDashpot(RigidBody* a, Vec3 anchorA_, RigidBody* b, Vec3 anchorB_,
                                     Vec3 dir, float v)
    : Dashpot(a, anchorA_, b, anchorB_, v, 0.0f), direction(dir), value(v) {
  SuspensionDashpot_Recompute(this);
}

void SuspensionDashpot::Apply(Subspace* subspace, float h) {
  if (Vec3_LengthSq(direction) == 0.0f) {
    Dashpot::Apply(subspace, h);
    return;
  }
  if (!bodyA || !bodyB || !bodyA->subspace || !bodyB->subspace) return;
  Vec3 n = Vec3_Unit(Quat_Rotate(bodyA->pose.rotation, direction));
  Vec3 pa = AnchorWorld(bodyA, anchorA), pb = AnchorWorld(bodyB, anchorB);
  Vec3 va, vb;
  RigidBody_GetPointVelocity(bodyA, &va, pa);
  RigidBody_GetPointVelocity(bodyB, &vb, pb);
  ApplyAlong(bodyA, pa, bodyB, pb, n, Vec3_Dot(pa - pb, n) - restLength, Vec3_Dot(va - vb, n),
             strength, damping);
}

void SuspensionDashpot_Recompute(SuspensionDashpot* s) {
  if (!s) return;
  s->strength = std::isfinite(s->value) && s->value > 0.0f ? s->value : 0.0f;
  // Critical damping of the spring rate: a suspension settles without ringing.
  s->damping = 2.0f * std::sqrt(s->strength);
  if (!s->bodyA || !s->bodyB) return;
  Vec3 d = AnchorWorld(s->bodyA, s->anchorA) - AnchorWorld(s->bodyB, s->anchorB);
  if (Vec3_LengthSq(s->direction) == 0.0f) {
    s->restLength = Vec3_Norm(d);
  } else {
    Vec3 n = Vec3_Unit(Quat_Rotate(s->bodyA->pose.rotation, s->direction));
    s->restLength = Vec3_Dot(d, n);
  }
}

AngularSpring::AngularSpring(RigidBody* a, Quat t, float s, float d)
    : body(a), target(Quat_Normalize(t)), strength(s), damping(d) {
  PhysObject_AddDependent(a, this, 0, 0);
}

AngularSpring::~AngularSpring() {
  if (body) PhysObject_RemoveDependent(body, this);
}

int AngularSpring::Notify(PhysObject* source, uint32_t, int mode) {
  if (mode == PHYS_NOTIFY_DESTROYED && source->destroying && source == body) body = nullptr;
  return 1;
}

void AngularSpring::Apply(Subspace*, float) {
  if (!body || !Awake(body)) return;
  // Rotation that takes the body to the target, as axis * angle.
  Quat d = target * Quat_Conjugate(body->pose.rotation);
  if (d.w < 0) d = {-d.x, -d.y, -d.z, -d.w};
  Vec3 v{d.x, d.y, d.z};
  float s = Vec3_Norm(v);
  Vec3 err = s > 1e-7f ? v * (2.0f * std::atan2(s, d.w) / s) : V3(0, 0, 0);
  Vec3 accel = err * strength - body->angularVelocity * damping;
  // Torque = I * accel, with I from the world inverse inertia (locked axes
  // get nothing).
  Mat3 inertia;
  if (!Mat3_Invert(body->invInertiaWorld, &inertia)) return;
  Vec3 torque = Mat3_Mul(inertia, accel);
  if (!Vec3_IsFinite(torque)) return;
  WakeIfNeeded(body, Vec3_LengthSq(torque));
  body->torque += torque;
}

Dashpot* Dashpot_Construct(RigidBody* a, Vec3 anchorA, RigidBody* b, Vec3 anchorB, float strength,
                           float damping) {
  if (!a || !b) return nullptr;
  return new Dashpot(a, anchorA, b, anchorB, strength, damping);
}

SuspensionDashpot* SuspensionDashpot_Construct(RigidBody* a, Vec3 anchorA, RigidBody* b, Vec3 anchorB,
                                               Vec3 direction, float value) {
  if (!a || !b) return nullptr;
  return new SuspensionDashpot(a, anchorA, b, anchorB, direction, value);
}

AngularSpring* AngularSpring_Construct(RigidBody* a, Quat target, float strength, float damping) {
  if (!a) return nullptr;
  return new AngularSpring(a, target, strength, damping);
}
