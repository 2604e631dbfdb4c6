// Collision dispatch to objects: contact events (kind 2) and phantom overlap
// events (kind 5) of the physics step become calls of the two objects'
// Collision callbacks, Collision (object, other object or null, side).
//
// Contacts: side 0 goes to the owner of the event's first primitive (A),
// side 1 to the owner of the second (B); both read the same contact normal,
// which points from B towards A. Each object keeps the keys of the partners
// met since its last update (at most 15): the first contact of a pair in
// that time reads "already touching" 0, later ones 1. Overlaps: both calls
// get side 0 and the event extra says whether the overlap began (0) or
// ended (1); partner lists are not used.
//
// The queries below are meaningful only while a Collision callback runs:
// outside a contact event the point is (0, 0, 0), the normal (0, 1, 0) and
// the impact speed 0. A callback may destroy objects, its own included: a
// partner destroyed by the first callback gets no call, and the second
// callback gets null as the other object when the first one's object went.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct Object;
struct PhysBody;
struct PhysPairEvent;

enum : uint32_t {
    OBJECT_EVENT_NONE = 0,
    OBJECT_EVENT_CONTACT = 1,
    OBJECT_EVENT_OVERLAP = 2,
};

// Registers the two handlers with the object world's physics world's
// dispatcher and makes the dispatcher the simulation's phantom listener.
// Call after the physics world exists.
void ObjectCollision_Init(void);
// Handlers of the dispatcher; tests feed them hand-built records.
void ObjectCollision_OnContact(const PhysPairEvent* event);
void ObjectCollision_OnEvent(const PhysPairEvent* event);

void ObjectCollision_GetContactPoint(Vec3* out);
void ObjectCollision_GetContactNormal(Vec3* out);
// |(vA - vB) . n| of the two bodies' velocities at the contact point; 0
// outside a contact event or when a primitive or body is missing.
float ObjectCollision_GetImpactSpeed(void);
// OBJECT_EVENT_*: the kind of the last event dispatched.
uint32_t ObjectCollision_GetEventType(void);
// The overlap event's flag (0 began, 1 ended).
uint32_t ObjectCollision_GetEventExtra(void);
uint32_t ObjectCollision_IsTouching(void);
void ObjectCollision_SetTouching(uint32_t touching);
// Forgets the current event: type 0, no contact or overlap event.
void ObjectCollision_ClearEvent(void);
// 1 only while the Collision callback of a contact event runs.
uint32_t ObjectCollision_InContact(void);
// 1 when collision detection reports at least one real penetration of the
// body at its current placement with a body it may collide with.
int ObjectCollision_TestOverlap(PhysBody* body);
// Events and callback calls dispatched since start (statistics).
uint32_t ObjectCollision_GetEventCount(void);
uint32_t ObjectCollision_GetCallbackCount(void);
