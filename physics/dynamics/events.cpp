#include "physics/dynamics/events.h"

#include "physics/collision/collision_primitive.h"

void PhysPairEvent_Construct(PhysPairEvent* record, CollisionPrimitive* a, CollisionPrimitive* b) {
  if (!record) return;
  *record = PhysPairEvent{};
  record->kind = PHYS_EVENT_PAIR;
  record->primitiveA = a;
  record->primitiveB = b;
}

EventDispatcher* EventDispatcher_Construct() { return new EventDispatcher(); }

int EventDispatcher_AddCallback(EventDispatcher* dispatcher, PhysEventCallback fn, int kind) {
  if (!dispatcher || !fn) return 0;
  for (const EventDispatcher::Entry& e : dispatcher->callbacks)
    if (e.fn == fn && e.kind == kind) return 1;
  return dispatcher->callbacks.Push(EventDispatcher::Entry{fn, kind});
}

int EventDispatcher_RemoveCallback(EventDispatcher* dispatcher, PhysEventCallback fn, int kind) {
  if (!dispatcher) return 0;
  for (int i = 0; i < dispatcher->callbacks.Count(); ++i) {
    if (dispatcher->callbacks[i].fn == fn && dispatcher->callbacks[i].kind == kind) {
      dispatcher->callbacks.RemoveAt(i);
      return 1;
    }
  }
  return 0;
}

void EventDispatcher_Dispatch(EventDispatcher* dispatcher, const PhysPairEvent* event) {
  if (!dispatcher || !event) return;
  // Callbacks may add or remove callbacks: walk by index over a fixed count.
  int n = dispatcher->callbacks.Count();
  for (int i = 0; i < n && i < dispatcher->callbacks.Count(); ++i) {
    EventDispatcher::Entry e = dispatcher->callbacks[i];
    if (e.kind == event->kind) e.fn(event);
  }
}

CollisionListener::~CollisionListener() {
  for (Registration& r : registered) PhysObject_RemoveDependent(r.primitive, this);
  registered.Release();
}

int CollisionListener::Notify(PhysObject* source, uint32_t, int mode) {
  if (mode != PHYS_NOTIFY_DESTROYED || !source->destroying) return 2;
  for (int i = 0; i < registered.Count(); ++i) {
    if (registered[i].primitive == source) {
      registered.RemoveAt(i);
      return 1;
    }
  }
  return 2;
}

PhysObject* CollisionListener::GetChild(int i) const {
  return (i >= 0 && i < registered.Count()) ? registered[i].primitive : nullptr;
}

CollisionListener* CollisionListener_Construct(EventDispatcher* dispatcher, Simulation* simulation) {
  CollisionListener* l = new CollisionListener();
  if (!l) return nullptr;
  l->dispatcher = dispatcher;
  l->simulation = simulation;
  return l;
}

int CollisionListener_RegisterPair(CollisionListener* listener, CollisionPrimitive* primitive,
                                   CollisionPrimitive*, float threshold, int, int) {
  if (!listener || !primitive) return 0;
  for (CollisionListener::Registration& r : listener->registered) {
    if (r.primitive == primitive) {
      r.threshold = threshold;
      return 1;
    }
  }
  if (!listener->registered.Push(CollisionListener::Registration{primitive, threshold})) return 0;
  PhysObject_AddDependent(primitive, listener, 0, 0);
  return 1;
}

int CollisionListener_UnregisterPrimitive(CollisionListener* listener, CollisionPrimitive* primitive) {
  if (!listener || !primitive) return 0;
  for (int i = 0; i < listener->registered.Count(); ++i) {
    if (listener->registered[i].primitive == primitive) {
      listener->registered.RemoveAt(i);
      PhysObject_RemoveDependent(primitive, listener);
      return 1;
    }
  }
  return 0;
}

const CollisionListener::Registration* CollisionListener_Find(const CollisionListener* listener,
                                                              const CollisionPrimitive* primitive) {
  if (!listener) return nullptr;
  for (const CollisionListener::Registration& r : listener->registered)
    if (r.primitive == primitive) return &r;
  return nullptr;
}
