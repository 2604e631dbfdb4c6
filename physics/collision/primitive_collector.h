// PrimitiveCollector: a set of primitives that a ray is cast against. The
// collector registers as a dependent of every primitive it holds, so a
// primitive's destruction removes it from the set.
#pragma once

#include "physics/base/phys_array.h"
#include "physics/base/phys_object.h"
#include "physics/collision/ray_query.h"

class CollisionPrimitive;
class CollisionDetection;
class Simulation;

class PrimitiveCollector : public PhysObject {
public:
  PHYS_DECLARE_MEMCLASS(PHYS_MEM_COLLECTOR)
  PrimitiveCollector() = default;
  // Unregisters from its primitives before the base sends its own notices.
  ~PrimitiveCollector() override;

  int GetChildCount() const override { return primitives.Count(); }
  PhysObject* GetChild(int i) const override;
  // A destroyed primitive (mode 1) leaves the set.
  int Notify(PhysObject* source, uint32_t id, int mode) override;
  // The walk's per-primitive test: true skips it. The default skips nothing.
  virtual bool Skip(const CollisionPrimitive* primitive) const;

  PhysArray<CollisionPrimitive*, PHYS_MEM_COLLECTOR> primitives;
};

PrimitiveCollector* PrimitiveCollector_Construct();
// Adds a primitive not yet held (registering as its dependent); 1 when added.
int PrimitiveCollector_Add(PrimitiveCollector* c, CollisionPrimitive* primitive);
// Removes a held primitive (the last entry moves into its place) and
// unregisters from it; 1 when it was held.
int PrimitiveCollector_Remove(PrimitiveCollector* c, CollisionPrimitive* primitive);
// Adds every primitive of every body in the detection holder.
void PrimitiveCollector_GatherDetection(PrimitiveCollector* c, CollisionDetection* cd);
// Adds every primitive of the simulation (the bodies of its detection
// holder); `flags` is reserved and must be 0.
void PrimitiveCollector_GatherAll(PrimitiveCollector* c, Simulation* sim, int flags);
// The skip test of collectors that do not override it: false.
bool PrimitiveCollector_SkipDefault(const PrimitiveCollector* c, const CollisionPrimitive* primitive);
// Walks the primitives (skipping what Skip asks to) with each one's ray test;
// returns the nearest hit's primitive (also in query) or null.
CollisionPrimitive* PrimitiveCollector_CastRay(PrimitiveCollector* c, RayQuery* query);
