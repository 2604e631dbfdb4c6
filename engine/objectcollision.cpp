#include "engine/objectcollision.h"

#include <cmath>

#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physworld.h"
#include "physics/collision/collision_detection.h"
#include "physics/collision/collision_primitive.h"
#include "physics/dynamics/events.h"
#include "physics/dynamics/rigid_body.h"
#include "physics/dynamics/simulation.h"

namespace {

// The dispatch state: one set for the whole program, valid while a
// Collision callback runs.
struct Dispatch {
    const PhysPairEvent* contact;  // current contact event, or null
    const PhysPairEvent* overlap;  // current overlap event, or null
    uint32_t type;                 // OBJECT_EVENT_*
    uint32_t extra;                // the overlap event's flag
    uint32_t touching;             // "already touching", set and cleared per event
    float speed;                   // impact speed of the current contact event
    uint32_t events;               // statistics
    uint32_t calls;
};
Dispatch g_dispatch;

RigidBody* BodyOf(const CollisionPrimitive* p)
{
    return p && p->body ? static_cast<RigidBody*>(p->body->user) : nullptr;
}

Object* OwnerOf(const CollisionPrimitive* p)
{
    RigidBody* b = BodyOf(p);
    return b ? static_cast<Object*>(b->owner) : nullptr;
}

// |(vA - vB) . n| at the contact point, taken before the callbacks run: a
// callback may destroy either body.
float ImpactSpeed(const PhysPairEvent* e)
{
    RigidBody* a = BodyOf(e->primitiveA);
    RigidBody* b = BodyOf(e->primitiveB);
    if (!a || !b) return 0.0f;
    Vec3 va, vb;
    RigidBody_GetPointVelocity(a, &va, e->point);
    RigidBody_GetPointVelocity(b, &vb, e->point);
    return std::fabs(Vec3_Dot(va - vb, e->normal));
}

uintptr_t PairKey(const Object* a, const Object* b) { return uintptr_t(a) + uintptr_t(b); }

int HasKey(const Object* o, uintptr_t key)
{
    for (uint32_t i = 0; i < o->partnerCount && i < OBJECT_MAX_PARTNERS; ++i)
        if (o->partnerKeys[i] == key) return 1;
    return 0;
}

void AddKey(Object* o, uintptr_t key)
{
    if (o->partnerCount < OBJECT_MAX_PARTNERS) o->partnerKeys[o->partnerCount++] = key;
}

// Calls the two callbacks of one event. The first may destroy objects (its
// own included): the serials taken before it tell which are still there,
// so a destroyed B gets no call and a B whose A went gets null as the other.
void CallBoth(Object* a, Object* b, uint32_t sideB)
{
    const uint32_t serialA = Object_GetSerial(a), serialB = Object_GetSerial(b);
    if (a && a->collision) {
        ObjectWorld_ClearDestroyedFlag();
        ++g_dispatch.calls;
        a->collision(a, b, 0);
        if (ObjectWorld_GetDestroyedFlag()) {
            if (b && b->serial != serialB) b = nullptr;
            if (a->serial != serialA) a = nullptr;
            if (!b) return;
        }
    }
    if (b && b->collision) {
        ++g_dispatch.calls;
        b->collision(b, a, sideB);
    }
}

}  // namespace

void ObjectCollision_Init(void)
{
    PhysWorldObject* w = PhysWorld_GetWorldObject(ObjectWorld_GetPhysicsWorld());
    if (!w) return;
    EventDispatcher* dispatcher = Simulation_GetDispatcher(w->simulation);
    EventDispatcher_AddCallback(dispatcher, ObjectCollision_OnContact, PHYS_EVENT_CONTACT);
    Simulation_SetPhantomListener(w->simulation, dispatcher);
    EventDispatcher_AddCallback(dispatcher, ObjectCollision_OnEvent, PHYS_EVENT_PHANTOM);
}

void ObjectCollision_OnContact(const PhysPairEvent* e)
{
    if (!e || !e->primitiveA || !e->primitiveB) return;
    if (e->primitiveA->kind == 0 || e->primitiveB->kind == 0) return;
    Object* a = OwnerOf(e->primitiveA);
    Object* b = OwnerOf(e->primitiveB);
    g_dispatch.contact = e;
    g_dispatch.speed = ImpactSpeed(e);
    g_dispatch.overlap = nullptr;
    g_dispatch.type = OBJECT_EVENT_CONTACT;
    ++g_dispatch.events;
    if (a && b) {
        uintptr_t key = PairKey(a, b);
        if (a->partnerCount > 0 && HasKey(a, key)) {
            g_dispatch.touching = 1;
        } else {
            AddKey(a, key);
            AddKey(b, key);
        }
    }
    CallBoth(a, b, 1);
    g_dispatch.touching = 0;
    g_dispatch.contact = nullptr;
}

void ObjectCollision_OnEvent(const PhysPairEvent* e)
{
    if (!e || !e->primitiveA || !e->primitiveB) return;
    if (e->primitiveA->kind == 0 || e->primitiveB->kind == 0) return;
    Object* a = OwnerOf(e->primitiveA);
    Object* b = OwnerOf(e->primitiveB);
    g_dispatch.type = OBJECT_EVENT_OVERLAP;
    g_dispatch.extra = uint32_t(e->flag);
    g_dispatch.overlap = e;
    g_dispatch.contact = nullptr;
    ++g_dispatch.events;
    CallBoth(a, b, 0);
}

void ObjectCollision_GetContactPoint(Vec3* out)
{
    if (out) *out = g_dispatch.contact ? g_dispatch.contact->point : Vec3{0, 0, 0};
}

void ObjectCollision_GetContactNormal(Vec3* out)
{
    if (out) *out = g_dispatch.contact ? g_dispatch.contact->normal : Vec3{0, 1, 0};
}

float ObjectCollision_GetImpactSpeed(void) { return g_dispatch.contact ? g_dispatch.speed : 0.0f; }

uint32_t ObjectCollision_GetEventType(void) { return g_dispatch.type; }

uint32_t ObjectCollision_GetEventExtra(void) { return g_dispatch.extra; }

uint32_t ObjectCollision_IsTouching(void) { return g_dispatch.touching; }

void ObjectCollision_SetTouching(uint32_t touching) { g_dispatch.touching = touching; }

void ObjectCollision_ClearEvent(void)
{
    g_dispatch.type = OBJECT_EVENT_NONE;
    g_dispatch.contact = nullptr;
    g_dispatch.overlap = nullptr;
}

uint32_t ObjectCollision_InContact(void) { return g_dispatch.contact != nullptr; }

int ObjectCollision_TestOverlap(PhysBody* body)
{
    RigidBody* rb = PhysBody_Unwrap(body);
    if (!rb || !rb->detection) return 0;
    CollisionRecordList lists[3];
    return CollisionDetection_GetContacts(rb->detection, rb, lists) > 0 ? 1 : 0;
}

uint32_t ObjectCollision_GetEventCount(void) { return g_dispatch.events; }

uint32_t ObjectCollision_GetCallbackCount(void) { return g_dispatch.calls; }
