#include "physics/collision/primitive_collector.h"

#include "physics/collision/collision_detection.h"
#include "physics/collision/collision_primitive.h"
#include "physics/dynamics/simulation.h"

PrimitiveCollector::~PrimitiveCollector() {
  for (CollisionPrimitive* p : primitives) PhysObject_RemoveDependent(p, this);
  primitives.Release();
}

PhysObject* PrimitiveCollector::GetChild(int i) const {
  return (i >= 0 && i < primitives.Count()) ? primitives[i] : nullptr;
}

int PrimitiveCollector::Notify(PhysObject* source, uint32_t, int mode) {
  if (mode != PHYS_NOTIFY_DESTROYED) return 2;
  for (int i = 0; i < primitives.Count(); ++i)
    if (primitives[i] == source) {
      primitives.RemoveSwap(i);
      PhysObject_RemoveDependent(source, this);
      return 1;
    }
  return 2;
}

bool PrimitiveCollector::Skip(const CollisionPrimitive* primitive) const {
  return PrimitiveCollector_SkipDefault(this, primitive);
}

PrimitiveCollector* PrimitiveCollector_Construct() { return new PrimitiveCollector(); }

int PrimitiveCollector_Add(PrimitiveCollector* c, CollisionPrimitive* p) {
  if (!c || !p || c->primitives.Find(p) >= 0) return 0;
  if (!c->primitives.Push(p)) return 0;
  if (!PhysObject_HasDependent(p, c) && !PhysObject_AddDependent(p, c, 0, 0)) {
    c->primitives.Pop();
    return 0;
  }
  return 1;
}

int PrimitiveCollector_Remove(PrimitiveCollector* c, CollisionPrimitive* p) {
  if (!c || !p) return 0;
  int i = c->primitives.Find(p);
  if (i < 0) return 0;
  c->primitives.RemoveSwap(i);
  PhysObject_RemoveDependent(p, c);
  return 1;
}

void PrimitiveCollector_GatherDetection(PrimitiveCollector* c, CollisionDetection* cd) {
  if (!c || !cd) return;
  for (CollisionBody* body : cd->bodies)
    for (CollisionPrimitive* p : body->primitives) PrimitiveCollector_Add(c, p);
}

void PrimitiveCollector_GatherAll(PrimitiveCollector* c, Simulation* sim, int flags) {
  (void)flags;
  if (sim) PrimitiveCollector_GatherDetection(c, Simulation_GetCollisionDetection(sim));
}

bool PrimitiveCollector_SkipDefault(const PrimitiveCollector*, const CollisionPrimitive*) { return false; }

CollisionPrimitive* PrimitiveCollector_CastRay(PrimitiveCollector* c, RayQuery* q) {
  if (!c || !q || !(q->length > 0.0f)) return nullptr;
  // Walk by index and re-read the count: a ray test never changes the set,
  // but an overriding Skip might.
  for (int i = 0; i < c->primitives.Count(); ++i) {
    CollisionPrimitive* p = c->primitives[i];
    if (c->Skip(p)) continue;
    // Cheap rejection: the ray's box against the primitive's.
    if (!Aabb_Overlaps(q->bounds, p->bounds)) continue;
    p->RayTest(q);
  }
  return q->hitPrimitive;
}
