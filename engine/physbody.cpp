#include "engine/physbody.h"

#include <algorithm>
#include <cmath>

#include "common/list.h"
#include "engine/physworld.h"
#include "physics/base/phys_math.h"
#include "physics/collision/collision_primitive.h"
#include "physics/dynamics/rigid_body.h"

namespace {

constexpr float kSphereRestitution = 0.5f;
constexpr float kSphereFriction = 1.0f;

RigidBody* Rb(const PhysBody* h) { return h ? h->body : nullptr; }

int MatchPointer(void* item, void* arg) { return *static_cast<void**>(item) == arg; }

// A rigid body of one sphere primitive (type 1) of that radius and mass at
// the identity, the sphere's per-primitive value 0; null when memory fails.
RigidBody* PhysBody_Construct(float radius, float mass)
{
    RigidBody* rb = RigidBody_Construct();
    if (!rb) return nullptr;
    PrimitiveDesc d{};
    d.type = PRIMITIVE_TYPE_SPHERE;
    d.radius = radius;
    Transform_SetIdentity(&d.transform);
    d.mass = mass > 0.0f ? mass : 0.0f;
    CollisionPrimitive* p = RigidBody_AddPrimitive(rb, &d);
    if (!p) {
        PhysObject_Destroy(rb);
        return nullptr;
    }
    p->sphereValue = 0.0f;
    return rb;
}

}  // namespace

PhysBody* PhysBody_Wrap(PhysWorld* world, RigidBody* rb)
{
    if (!rb) return nullptr;
    PhysBody* h = world && world->bodyPool ? static_cast<PhysBody*>(List_Alloc(world->bodyPool)) : nullptr;
    if (!h || !PhysWorld_Own(world, rb)) {
        if (h) List_Free(world->bodyPool, h);
        PhysObject_Destroy(rb);
        return nullptr;
    }
    h->body = rb;
    return h;
}

uint32_t PhysBody_HandleSize(void) { return sizeof(PhysBody); }

PhysBody* PhysBody_Create(PhysWorld* world, float radius, float mass)
{
    if (!world || !world->bodyPool || !(radius > 0.0f) || !std::isfinite(radius)) return nullptr;
    RigidBody* rb = PhysBody_Construct(radius, mass);
    if (!rb) return nullptr;
    rb->restitution = kSphereRestitution;
    rb->friction = kSphereFriction;
    return PhysBody_Wrap(world, rb);
}

PhysBody* PhysBody_Clone(PhysWorld* world, PhysBody* handle)
{
    if (!world || !world->bodyPool || !Rb(handle)) return nullptr;
    PhysBody* h = PhysBody_Wrap(world, handle->body->Clone());
    if (h) {
        h->shape = handle->shape;
        h->syncFlags = handle->syncFlags;
    }
    return h;
}

void PhysBody_Destroy(PhysWorld* world, PhysBody* handle)
{
    if (!world || !handle) return;
    handle->node = nullptr;
    if (void* item = List_ForEach(world->bodyList, MatchPointer, handle)) List_Free(world->bodyList, item);
    PhysField_RemoveBodyFromAll(world, handle);
    if (handle->body) {
        PhysWorld_Disown(world, handle->body);
        // The destructor tells the dependents (subspace, constraints,
        // collectors and the listener through the primitives) first.
        PhysObject_Destroy(handle->body);
        handle->body = nullptr;
    }
    List_Free(world->bodyPool, handle);
}

float PhysBody_GetMass(const PhysBody* handle) { return Rb(handle) ? handle->body->mass : 0.0f; }

void PhysBody_SetMass(PhysBody* handle, float mass)
{
    if (Rb(handle)) RigidBody_SetMass(handle->body, mass);
}

void PhysBody_SetRestitution(PhysBody* handle, float restitution)
{
    if (Rb(handle)) handle->body->restitution = restitution;
}

void PhysBody_SetFriction(PhysBody* handle, float friction)
{
    if (Rb(handle)) handle->body->friction = friction;
}

void PhysBody_SetOwner(PhysBody* handle, void* owner)
{
    if (Rb(handle)) handle->body->owner = owner;
}

void* PhysBody_GetOwner(const PhysBody* handle) { return Rb(handle) ? handle->body->owner : nullptr; }

void PhysBody_GetLinearVelocity(const PhysBody* handle, Vec3* out)
{
    if (out) *out = Rb(handle) ? handle->body->linearVelocity : Vec3{0, 0, 0};
}

void PhysBody_SetLinearVelocity(PhysBody* handle, const Vec3* v)
{
    if (Rb(handle) && v) handle->body->linearVelocity = *v;
}

void PhysBody_GetAngularVelocity(const PhysBody* handle, Vec3* out)
{
    if (out) *out = Rb(handle) ? handle->body->angularVelocity : Vec3{0, 0, 0};
}

void PhysBody_SetAngularVelocity(PhysBody* handle, const Vec3* w)
{
    if (Rb(handle) && w) handle->body->angularVelocity = *w;
}

float PhysBody_GetSpeed(const PhysBody* handle) { return Rb(handle) ? Vec3_Norm(handle->body->linearVelocity) : 0.0f; }

void PhysBody_ZeroVelocities(PhysBody* handle)
{
    if (!Rb(handle)) return;
    handle->body->linearVelocity = Vec3{0, 0, 0};
    handle->body->angularVelocity = Vec3{0, 0, 0};
}

void PhysBody_ScaleVelocities(PhysBody* handle, float factor)
{
    if (Rb(handle)) RigidBody_ScaleVelocities(handle->body, factor, factor);
}

void PhysBody_ApplyImpulse(PhysBody* handle, const Vec3* impulse)
{
    RigidBody* b = Rb(handle);
    if (!b || !impulse || (b->stateFlags & RB_STATE_FIXED)) return;
    b->linearVelocity += *impulse * b->invMass;
}

namespace {
void ClampSpeed(Vec3* v, float max)
{
    float l2 = Vec3_LengthSq(*v);
    if (!(max * max < l2)) return;
    *v = Vec3_Unit(*v) * max;
}
}  // namespace

void PhysBody_ClampLinearSpeed(PhysBody* handle, float max)
{
    if (Rb(handle)) ClampSpeed(&handle->body->linearVelocity, max);
}

void PhysBody_ClampAngularSpeed(PhysBody* handle, float max)
{
    if (Rb(handle)) ClampSpeed(&handle->body->angularVelocity, max);
}

void Phys_DampVector(Vec3* v, const Vec3* k, float dt)
{
    if (!v || !k) return;
    // A damping stops an axis at most: a rate beyond 1 / dt (a large value
    // from data, or a long frame) would reverse the motion and amplify it,
    // frame after frame, up to infinity; a negative one would speed it up.
    v->x *= std::clamp(1.0f - dt * k->x, 0.0f, 1.0f);
    v->y *= std::clamp(1.0f - dt * k->y, 0.0f, 1.0f);
    v->z *= std::clamp(1.0f - dt * k->z, 0.0f, 1.0f);
}

void PhysBody_DampLinearVelocity(PhysBody* handle, const Vec3* k, float dt)
{
    if (Rb(handle)) Phys_DampVector(&handle->body->linearVelocity, k, dt);
}

void PhysBody_ApplyFriction(PhysBody* handle, const Vec3* d, float rate)
{
    RigidBody* b = Rb(handle);
    if (!b || !d) return;
    Vec3 v = b->linearVelocity;
    float len = Vec3_Norm(v);
    if (!(len > 0.0f)) return;
    Vec3 n = v * (1.0f / len);
    for (int i = 0; i < 3; ++i) {
        float before = Vec3_Get(v, i);
        float after = before - Vec3_Get(n, i) * Vec3_Get(*d, i) * rate;
        // Friction stops a component; it never turns it round.
        if ((before >= 0.0f && after <= 0.0f) || (before < 0.0f && after >= 0.0f)) after = 0.0f;
        Vec3_Set(v, i, after);
    }
    b->linearVelocity = v;
}

void PhysBody_ResetMotion(PhysBody* handle, int pinned)
{
    if (Rb(handle)) handle->body->ResetMotion(pinned);
}

void PhysBody_SetActive(PhysBody* handle, int active)
{
    RigidBody* b = Rb(handle);
    if (!b || (b->stateFlags & RB_STATE_FIXED)) return;
    b->SetActive(active ? 1 : 0, 0);
}

int PhysBody_IsActive(const PhysBody* handle) { return Rb(handle) && (handle->body->stateFlags & RB_STATE_ACTIVE) ? 1 : 0; }

int PhysBody_TestStateFlag4(const PhysBody* handle)
{
    return Rb(handle) && (handle->body->stateFlags & RB_STATE_NOT_SETTLED) ? 1 : 0;
}

void PhysBody_HoldActive(PhysBody* handle, int hold)
{
    if (!Rb(handle)) return;
    if (hold)
        RigidBody_HoldActive(handle->body);
    else
        RigidBody_ReleaseActive(handle->body);
}

void PhysBody_GetPosition(const PhysBody* handle, Vec3* out)
{
    if (out) *out = Rb(handle) ? handle->body->pose.position : Vec3{0, 0, 0};
}

void PhysBody_SetPosition(PhysBody* handle, const Vec3* position)
{
    if (Rb(handle) && position) RigidBody_SetPositionAndRotation(handle->body, *position, handle->body->pose.rotation);
}

void PhysBody_SetOrientation(PhysBody* handle, const Vec3* up, const Vec3* at)
{
    if (!Rb(handle) || !up || !at) return;
    Mat3 m{{Vec3_Cross(*up, *at), *up, *at}};
    Quat q;
    Quaternion_FromMatrix3(&q, &m);
    RigidBody_SetPositionAndRotation(handle->body, handle->body->pose.position, q);
}

void PhysBody_GetAxes(const PhysBody* handle, Vec3* at, Vec3* up)
{
    Mat3 m;
    Matrix3_FromQuaternion(&m, PhysBody_GetRotation(handle));
    if (at) *at = m.r[2];
    if (up) *up = m.r[1];
}

Quat PhysBody_GetRotation(const PhysBody* handle) { return Rb(handle) ? handle->body->pose.rotation : Quat_Identity(); }

void PhysBody_SetPhantom(PhysBody* handle, int on)
{
    if (Rb(handle)) RigidBody_SetPhantom(handle->body, on);
}

int PhysBody_IsPhantom(const PhysBody* handle) { return Rb(handle) ? RigidBody_IsPhantom(handle->body) : 0; }

void PhysBody_SetCollisionGroup(PhysBody* handle, uint32_t groups)
{
    if (Rb(handle)) RigidBody_SetCollisionGroup(handle->body, groups);
}

uint32_t PhysBody_GetCollisionGroup(const PhysBody* handle)
{
    if (!Rb(handle) || handle->body->primitives.Empty()) return 0;
    return handle->body->primitives[0]->group;
}

void PhysBody_LimitSpinAxis(PhysBody* handle, int axis)
{
    if (!Rb(handle) || axis < 0 || axis > 2) return;
    Mat3 inv = handle->body->invInertiaLocal;
    for (int i = 0; i < 3; ++i) {
        Vec3_Set(inv.r[axis], i, 0.0f);
        Vec3_Set(inv.r[i], axis, 0.0f);
    }
    RigidBody_SetInertiaTensor(handle->body, &inv);
}

void PhysBody_ShiftCentreOfMass(PhysBody* handle, float x, float y, float z)
{
    if (!Rb(handle)) return;
    RigidBody_UpdateMassProperties(handle->body);
    RigidBody_SetCentreOfMass(handle->body, handle->body->comOffset + Vec3{x, y, z});
}

int PhysBody_GetFirstPrimitiveValue(const PhysBody* handle, float* out)
{
    if (!out || !Rb(handle) || handle->body->primitives.Empty()) return 0;
    const CollisionPrimitive* p = handle->body->primitives[0];
    if (p->kind != PRIMITIVE_KIND_SPHERE) return 0;
    *out = p->radius;
    return 1;
}

RigidBody* PhysBody_Unwrap(const PhysBody* handle) { return Rb(handle); }

int PhysBody_GetPrimitiveCount(const PhysBody* handle) { return Rb(handle) ? handle->body->primitives.Count() : 0; }

uint32_t PhysBody_GetPrimitiveKind(const PhysBody* handle, int i)
{
    if (!Rb(handle) || i < 0 || i >= handle->body->primitives.Count()) return 0;
    return handle->body->primitives[i]->kind;
}
