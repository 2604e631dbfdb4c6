// Event dispatch: the simulation hands contact events (kind 2) and phantom
// overlap events (kind 5) to the callbacks of an EventDispatcher, synchronously
// inside the step. A CollisionListener decides which contacts become events:
// those of the primitives registered with it.
#pragma once
#include <cstdint>

#include "physics/base/phys_math.h"
#include "physics/base/phys_object.h"

class CollisionPrimitive;
class Simulation;

enum PhysEventKind {
  PHYS_EVENT_CONTACT = 2,  // a contact of a registered primitive
  PHYS_EVENT_PAIR = 3,     // a plain primitive-pair record
  PHYS_EVENT_PHANTOM = 5,  // a phantom overlap began (flag 0) or ended (flag 1)
};

// The record handed to callbacks. Contact events fill point and normal: the
// point in world space, the unit normal pointing from B towards A (the way A
// is pushed out of B), distance < 0 for penetration. Phantom events fill flag.
struct PhysPairEvent {
  int kind;
  CollisionPrimitive* primitiveA;
  CollisionPrimitive* primitiveB;
  int flag;
  Vec3 point;
  Vec3 normal;
  float distance;
};

// Fills a pair record: kind 3, the two primitives, everything else zero.
void PhysPairEvent_Construct(PhysPairEvent* record, CollisionPrimitive* a, CollisionPrimitive* b);

typedef void (*PhysEventCallback)(const PhysPairEvent* event);

class EventDispatcher : public PhysObject {
public:
  PHYS_DECLARE_MEMCLASS(PHYS_MEM_EVENT)
  struct Entry {
    PhysEventCallback fn;
    int kind;
  };
  PhysArray<Entry, PHYS_MEM_EVENT> callbacks;  // in registration order
};

// -> an empty dispatcher (owned by the caller, or by its simulation).
EventDispatcher* EventDispatcher_Construct();
// Adds fn for events of kind; the same (fn, kind) twice is kept once. 0 on failure.
int EventDispatcher_AddCallback(EventDispatcher* dispatcher, PhysEventCallback fn, int kind);
int EventDispatcher_RemoveCallback(EventDispatcher* dispatcher, PhysEventCallback fn, int kind);
// Calls every callback of the event's kind in registration order.
void EventDispatcher_Dispatch(EventDispatcher* dispatcher, const PhysPairEvent* event);

// The listener turns contacts of registered primitives into kind-2 events of
// its dispatcher. It depends on each registered primitive: a destroyed
// primitive is forgotten. Registrations survive the body leaving its world.
class CollisionListener : public PhysObject {
public:
  PHYS_DECLARE_MEMCLASS(PHYS_MEM_EVENT)
  ~CollisionListener() override;
  int Notify(PhysObject* source, uint32_t id, int mode) override;
  int GetChildCount() const override { return registered.Count(); }
  PhysObject* GetChild(int i) const override;

  struct Registration {
    CollisionPrimitive* primitive;
    float threshold;  // events only when the approach speed is at least this
  };
  EventDispatcher* dispatcher = nullptr;
  Simulation* simulation = nullptr;
  PhysArray<Registration, PHYS_MEM_EVENT> registered;
};

// -> a listener on dispatcher for simulation; null on exhaustion.
CollisionListener* CollisionListener_Construct(EventDispatcher* dispatcher, Simulation* simulation);
// Registers a primitive (once); the unused arguments are kept for callers'
// sake (the second primitive 0 means "with anything", kind 2 = contacts).
int CollisionListener_RegisterPair(CollisionListener* listener, CollisionPrimitive* primitive,
                                   CollisionPrimitive* other, float threshold, int flags, int kind);
// Forgets a primitive's registration; 1 when it was registered.
int CollisionListener_UnregisterPrimitive(CollisionListener* listener, CollisionPrimitive* primitive);
// The registration of a primitive, or null.
const CollisionListener::Registration* CollisionListener_Find(const CollisionListener* listener,
                                                              const CollisionPrimitive* primitive);
