#include "physics/dynamics/rigid_body.h"

#include <cmath>

#include "physics/base/phys_warning.h"
#include "physics/collision/collision_primitive.h"
#include "physics/dynamics/simulation.h"
#include "physics/dynamics/subspace.h"

namespace {

bool IsFixed(const RigidBody* b) { return (b->stateFlags & RB_STATE_FIXED) != 0; }

void ApplyLockedAxes(RigidBody* b) {
  for (int i = 0; i < 3; ++i) {
    if (!(b->lockedAxes & (1u << i))) continue;
    Vec3_Set(b->invInertiaLocal.r[i], 0, 0.0f);
    Vec3_Set(b->invInertiaLocal.r[i], 1, 0.0f);
    Vec3_Set(b->invInertiaLocal.r[i], 2, 0.0f);
    for (int r = 0; r < 3; ++r) Vec3_Set(b->invInertiaLocal.r[r], i, 0.0f);
  }
}

void MakeFixed(RigidBody* b) {
  b->mass = 0.0f;
  b->invMass = 0.0f;
  b->invInertiaLocal = Mat3_Zero();
  b->invInertiaWorld = Mat3_Zero();
  b->stateFlags = RB_STATE_FIXED;
  b->linearVelocity = b->angularVelocity = V3(0, 0, 0);
  RigidBody_SyncCollisionFlags(b);
}

// Centre of mass and inverse inertia of the primitives for a total mass m,
// each primitive weighted by its own mass share (equal shares when none has
// one).
void ComputeDistribution(RigidBody* b, float m) {
  int n = b->primitives.Count();
  if (n == 0) {
    b->comOffset = V3(0, 0, 0);
    // A body without shapes gets the inertia of a unit sphere of its mass.
    float i = 0.4f * m;
    b->invInertiaLocal = i > 0 ? Mat3_Diagonal(V3(1 / i, 1 / i, 1 / i)) : Mat3_Zero();
    return;
  }
  float shares = 0.0f;
  for (CollisionPrimitive* p : b->primitives) shares += p->mass > 0 ? p->mass : 0.0f;
  Vec3 com{0, 0, 0};
  Vec3 centres[64];
  Mat3 inertias[64];
  float masses[64];
  int used = n < 64 ? n : 64;
  for (int i = 0; i < used; ++i) {
    CollisionPrimitive* p = b->primitives[i];
    float w = shares > 0 ? (p->mass > 0 ? p->mass / shares : 0.0f) : 1.0f / float(used);
    masses[i] = m * w;
    p->MassProperties(masses[i], &centres[i], &inertias[i]);
    com += centres[i] * w;
  }
  Mat3 inertia = Mat3_Zero();
  for (int i = 0; i < used; ++i) {
    Vec3 d = centres[i] - com;
    float d2 = Vec3_Dot(d, d);
    Mat3 shift{{{d2 - d.x * d.x, -d.x * d.y, -d.x * d.z},
                {-d.y * d.x, d2 - d.y * d.y, -d.y * d.z},
                {-d.z * d.x, -d.z * d.y, d2 - d.z * d.z}}};
    inertia = Mat3_Add(inertia, Mat3_Add(inertias[i], Mat3_Scale(shift, masses[i])));
  }
  b->comOffset = com;
  Mat3 inv;
  if (Mat3_Invert(inertia, &inv) && Vec3_IsFinite(inv.r[0]) && Vec3_IsFinite(inv.r[1]) &&
      Vec3_IsFinite(inv.r[2])) {
    b->invInertiaLocal = inv;
  } else {
    // Degenerate shapes (a flat mesh): fall back to the sphere around them.
    float i = 0.4f * m;
    b->invInertiaLocal = i > 0 ? Mat3_Diagonal(V3(1 / i, 1 / i, 1 / i)) : Mat3_Zero();
  }
}

void WakeInWorld(RigidBody* b) {
  if (IsFixed(b) || !b->subspace) return;
  if (!(b->stateFlags & RB_STATE_ACTIVE)) b->wakeRequested = true;
}

}  // namespace

RigidBody::RigidBody() {
  id = collisionId;
  user = this;
  RigidBody_SyncCollisionFlags(this);
}

RigidBody::~RigidBody() {
  // Tell the dependents while the primitives still exist (the CollisionBody
  // part destroys them after this), and only once.
  destroying = true;
  PhysObject_NotifyDependents(this, PHYS_NOTIFY_DESTROYED);
  dependents.Clear();
}

void RigidBody::SetActive(int active, int) {
  if (active) {
    if (IsFixed(this)) return;
    stateFlags |= RB_STATE_ACTIVE | RB_STATE_NOT_SETTLED;
    sleepTime = slowTime = 0.0f;
    wakeRequested = false;
  } else {
    stateFlags &= ~uint32_t(RB_STATE_ACTIVE | RB_STATE_NOT_SETTLED);
    linearVelocity = angularVelocity = V3(0, 0, 0);
    wakeRequested = false;
  }
  RigidBody_SyncCollisionFlags(this);
}

void RigidBody::ResetMotion(int pin) {
  linearVelocity = angularVelocity = V3(0, 0, 0);
  force = torque = V3(0, 0, 0);
  pinned = pin != 0;
  if (pinned) stateFlags &= ~uint32_t(RB_STATE_NOT_SETTLED);
  RigidBody_SyncCollisionFlags(this);
}

RigidBody* RigidBody::Clone() const {
  RigidBody* c = new RigidBody();
  if (!c) return nullptr;
  for (CollisionPrimitive* p : primitives) {
    PrimitiveDesc d{};
    d.type = p->kind == PRIMITIVE_KIND_SPHERE ? PRIMITIVE_TYPE_SPHERE : PRIMITIVE_TYPE_SHAPE;
    d.shape = p->shape;
    d.radius = p->radius;
    d.transform = p->local;
    d.mass = p->mass;
    d.convex = p->kind == PRIMITIVE_KIND_CONVEX ? 1 : 0;
    CollisionPrimitive* q = CollisionBody_AddPrimitive(c, d);
    if (!q) continue;
    q->phantom = p->phantom;
    q->group = p->group;
    q->sphereValue = p->sphereValue;
  }
  c->mass = mass;
  c->invMass = invMass;
  c->restitution = restitution;
  c->friction = friction;
  c->invInertiaLocal = invInertiaLocal;
  c->comOffset = comOffset;
  c->pinned = pinned;
  c->massFromShapes = massFromShapes;
  c->lockedAxes = lockedAxes;
  c->hasMesh = hasMesh;
  c->stateFlags = stateFlags;
  c->pose = pose;
  CollisionBody_Place(c, c->pose);
  RigidBody_UpdateWorldInertia(c);
  RigidBody_SyncCollisionFlags(c);
  return c;
}

RigidBody* RigidBody_Construct() { return new RigidBody(); }

void RigidBody_SyncCollisionFlags(RigidBody* b) {
  uint32_t f = b->collisionFlags & ~uint32_t(COLLISION_BODY_FIXED | COLLISION_BODY_ASLEEP);
  if (IsFixed(b) || b->pinned) f |= COLLISION_BODY_FIXED;
  if (!(b->stateFlags & RB_STATE_ACTIVE)) f |= COLLISION_BODY_ASLEEP;
  b->collisionFlags = f;
}

CollisionPrimitive* RigidBody_AddPrimitive(RigidBody* body, const PrimitiveDesc* desc) {
  if (!body || !desc) return nullptr;
  CollisionPrimitive* p = CollisionBody_AddPrimitive(body, *desc);
  if (!p) return nullptr;
  if (p->kind == PRIMITIVE_KIND_MESH) body->hasMesh = true;
  if (body->massFromShapes) {
    // The total is still the primitives' sum: rebuild everything from them
    // (through the fixed state, so SetMass takes the shapes' distribution).
    float total = 0.0f;
    for (CollisionPrimitive* q : body->primitives) total += q->mass > 0 ? q->mass : 0.0f;
    bool wasAsleep = !(body->stateFlags & (RB_STATE_FIXED | RB_STATE_ACTIVE));
    body->stateFlags |= RB_STATE_FIXED;
    RigidBody_SetMass(body, total);
    if (wasAsleep && !(body->stateFlags & RB_STATE_FIXED)) body->SetActive(0, 0);
    body->massFromShapes = true;
  } else {
    RigidBody_UpdateMassProperties(body);
  }
  return p;
}

void RigidBody_SetMass(RigidBody* body, float m) {
  if (!body) return;
  body->massFromShapes = false;
  if (!(m > 0.0f) || !std::isfinite(m)) {
    MakeFixed(body);
    return;
  }
  if (body->hasMesh) {
    PHYS_WARNING("RigidBody_SetMass", "a body with a mesh shape is fixed whatever its mass");
    MakeFixed(body);
    return;
  }
  float old = body->mass;
  if (IsFixed(body) || !(old > 0.0f)) {
    ComputeDistribution(body, m);
    ApplyLockedAxes(body);
    body->stateFlags = (body->stateFlags & ~uint32_t(RB_STATE_FIXED)) | RB_STATE_ACTIVE;
  } else {
    body->invInertiaLocal = Mat3_Scale(body->invInertiaLocal, old / m);
  }
  body->mass = m;
  body->invMass = 1.0f / m;
  RigidBody_UpdateWorldInertia(body);
  RigidBody_SyncCollisionFlags(body);
}

void RigidBody_SetInertiaTensor(RigidBody* body, const Mat3* invInertia) {
  if (!body || !invInertia) return;
  for (int i = 0; i < 3; ++i)
    if (!Vec3_IsFinite(invInertia->r[i])) return;
  body->invInertiaLocal = *invInertia;
  body->lockedAxes = 0;
  for (int i = 0; i < 3; ++i) {
    const Vec3& r = invInertia->r[i];
    if (r.x == 0.0f && r.y == 0.0f && r.z == 0.0f) body->lockedAxes |= uint8_t(1u << i);
  }
  RigidBody_UpdateWorldInertia(body);
}

void RigidBody_UpdateMassProperties(RigidBody* body) {
  if (!body) return;
  if (IsFixed(body)) {
    ComputeDistribution(body, 1.0f);
    body->invInertiaLocal = Mat3_Zero();
    return;
  }
  ComputeDistribution(body, body->mass);
  ApplyLockedAxes(body);
  RigidBody_UpdateWorldInertia(body);
}

void RigidBody_UpdateWorldInertia(RigidBody* body) {
  if (IsFixed(body)) {
    body->invInertiaWorld = Mat3_Zero();
    return;
  }
  body->invInertiaWorld = Mat3_RotateTensor(body->pose.rotation, body->invInertiaLocal);
}

void RigidBody_SetCentreOfMass(RigidBody* body, Vec3 localCom) {
  if (!body || !Vec3_IsFinite(localCom)) return;
  body->comOffset = localCom;
}

void RigidBody_GetPositionAndRotation(const RigidBody* body, Vec3* position, Quat* rotation) {
  if (!body) return;
  if (position) *position = body->pose.position;
  if (rotation) *rotation = body->pose.rotation;
}

void RigidBody_SetPositionAndRotation(RigidBody* body, Vec3 position, Quat rotation) {
  if (!body) return;
  Transform t{Quat_IsFinite(rotation) ? Quat_Normalize(rotation) : rotation, position};
  Simulation* sim = RigidBody_GetSimulation(body);
  // Wake what rested on the body where it was, and what it lands among.
  if (sim) Simulation_WakeTouching(sim, body);
  body->pose = t;
  CollisionBody_Place(body, t);
  body->quarantined = (body->collisionFlags & COLLISION_BODY_QUARANTINED) != 0;
  RigidBody_UpdateWorldInertia(body);
  if (sim) Simulation_WakeTouching(sim, body);
  WakeInWorld(body);
}

void RigidBody_ScaleVelocities(RigidBody* body, float linearFactor, float angularFactor) {
  if (!body) return;
  body->linearVelocity *= linearFactor;
  body->angularVelocity *= angularFactor;
}

void RigidBody_SetPhantom(RigidBody* body, int on) {
  if (body) CollisionBody_SetPhantom(body, on);
}

int RigidBody_IsPhantom(const RigidBody* body) {
  if (!body) return 0;
  for (const CollisionPrimitive* p : body->primitives)
    if (p->phantom) return 1;
  return 0;
}

void RigidBody_SetCollisionGroup(RigidBody* body, uint32_t groupBits) {
  if (body) CollisionBody_SetGroup(body, groupBits);
}

void RigidBody_HoldActive(RigidBody* body) {
  if (!body) return;
  if (body->keepActiveCount++ == 0) body->SetActive(1, 0);
}

void RigidBody_ReleaseActive(RigidBody* body) {
  if (body && body->keepActiveCount > 0) --body->keepActiveCount;
}

Vec3 RigidBody_GetCentreOfMassWorld(const RigidBody* body) {
  return Transform_Apply(body->pose, body->comOffset);
}

void RigidBody_GetPointVelocity(const RigidBody* body, Vec3* velocity, Vec3 worldPoint) {
  if (!body || !velocity) return;
  *velocity = body->linearVelocity +
              Vec3_Cross(body->angularVelocity, worldPoint - RigidBody_GetCentreOfMassWorld(body));
}

void RigidBody_ApplyImpulse(RigidBody* body, Vec3 impulse, Vec3 worldPoint) {
  if (!body || IsFixed(body) || !Vec3_IsFinite(impulse)) return;
  body->linearVelocity += impulse * body->invMass;
  Vec3 r = worldPoint - RigidBody_GetCentreOfMassWorld(body);
  body->angularVelocity += Mat3_Mul(body->invInertiaWorld, Vec3_Cross(r, impulse));
  WakeInWorld(body);
}

void RigidBody_AddForce(RigidBody* body, Vec3 f) {
  if (body && Vec3_IsFinite(f)) body->force += f;
}

void RigidBody_AddForceAtPoint(RigidBody* body, Vec3 f, Vec3 worldPoint) {
  if (!body || !Vec3_IsFinite(f)) return;
  body->force += f;
  body->torque += Vec3_Cross(worldPoint - RigidBody_GetCentreOfMassWorld(body), f);
}

Simulation* RigidBody_GetSimulation(const RigidBody* body) {
  return (body && body->subspace) ? body->subspace->simulation : nullptr;
}

RigidBody* RigidBody_GetWorldBody() {
  static RigidBody* world = [] {
    // Lives in static storage, outside the allocation hooks, for the whole run.
    alignas(RigidBody) static unsigned char storage[sizeof(RigidBody)];
    return new (storage) RigidBody();
  }();
  return world;
}
