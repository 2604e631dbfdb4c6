// BroadPhase: sort and sweep over primitive bounds.
//
// Proxies keep their boxes in a slot array; every FindPairs sorts the slots
// by their lower bound along the axis where the boxes spread most (insertion
// sort: between steps the order barely changes) and sweeps once, testing the
// other two axes. Pairs come out ordered by the primitives' stable ids, so
// the result does not depend on memory addresses or on insertion history.
// Boxes that are not finite are kept out of the sort (NaN has no order).
// Nothing is allocated per call once the arrays have grown.
#pragma once

#include <cstdint>

#include "physics/base/phys_array.h"
#include "physics/collision/collision_geometry.h"

class CollisionPrimitive;

struct BroadPhaseProxy {
  Aabb box;
  CollisionPrimitive* primitive;  // null for a free slot
  uint32_t id;                    // the primitive's stable id
  int32_t nextFree;               // free-list link of a free slot
  uint32_t resting;               // 1: cannot move (asleep or fixed); two resting proxies never pair
};

struct BroadPhasePair {
  uint64_t key;  // (lower id << 32) | higher id
  CollisionPrimitive* a;  // the primitive with the lower id
  CollisionPrimitive* b;
};

// A proxy's box packed in sweep order: the sweep reads memory in sequence.
struct BroadPhaseSweepEntry {
  float minA, maxA;  // along the sweep axis
  float min1, max1;  // along the next axis
  float min2, max2;  // along the last axis
  int32_t slot;
  uint32_t id;
  uint32_t resting;
};

class BroadPhase {
public:
  PhysArray<BroadPhaseProxy, PHYS_MEM_BROADPHASE> proxies;
  PhysArray<int32_t, PHYS_MEM_BROADPHASE> order;  // live, finite slots sorted along `axis`
  PhysArray<BroadPhasePair, PHYS_MEM_BROADPHASE> pairs;  // result of the last FindPairs
  // Scratch of FindPairs, kept between calls so that a step allocates nothing.
  PhysArray<BroadPhaseSweepEntry, PHYS_MEM_BROADPHASE> sweep;
  PhysArray<int32_t, PHYS_MEM_BROADPHASE> rank;     // per slot: rank of its id among live proxies
  PhysArray<int32_t, PHYS_MEM_BROADPHASE> buckets;  // pairs per lower-id rank, then offsets
  PhysArray<BroadPhasePair, PHYS_MEM_BROADPHASE> found;
  PhysArray<int32_t, PHYS_MEM_BROADPHASE> foundRank;
  int32_t freeList = -1;
  int axis = 0;
  int quarantined = 0;  // live proxies left out of the last sweep for non-finite boxes
  bool orderDirty = true;
};

// Adds a proxy for primitive with its box; returns the slot or -1 on exhaustion.
int BroadPhase_Add(BroadPhase* bp, CollisionPrimitive* primitive, uint32_t id, const Aabb& box);
// Frees a slot (ignored when not live).
void BroadPhase_Remove(BroadPhase* bp, int slot);
// Replaces a slot's box and its resting mark.
inline void BroadPhase_Update(BroadPhase* bp, int slot, const Aabb& box, uint32_t resting = 0) {
  bp->proxies[slot].box = box;
  bp->proxies[slot].resting = resting;
}
// Finds every pair of live, finite proxies whose boxes overlap and of which
// at least one is not resting, ordered by key. The array stays valid until
// the next call or change.
int BroadPhase_FindPairs(BroadPhase* bp);
