#include "physics/collision/broad_phase.h"

#include <algorithm>

#include "physics/collision/collision_primitive.h"

int BroadPhase_Add(BroadPhase* bp, CollisionPrimitive* primitive, uint32_t id, const Aabb& box) {
  int slot;
  if (bp->freeList >= 0) {
    slot = bp->freeList;
    bp->freeList = bp->proxies[slot].nextFree;
  } else {
    if (!bp->proxies.Push(BroadPhaseProxy{})) return -1;
    slot = bp->proxies.Count() - 1;
  }
  // Reserve the order entry now so FindPairs never grows it.
  if (!bp->order.Reserve(bp->proxies.Count())) {
    bp->proxies[slot].primitive = nullptr;
    bp->proxies[slot].nextFree = bp->freeList;
    bp->freeList = slot;
    return -1;
  }
  bp->proxies[slot] = BroadPhaseProxy{box, primitive, id, -1};
  bp->orderDirty = true;
  return slot;
}

void BroadPhase_Remove(BroadPhase* bp, int slot) {
  if (slot < 0 || slot >= bp->proxies.Count() || !bp->proxies[slot].primitive) return;
  bp->proxies[slot].primitive = nullptr;
  bp->proxies[slot].nextFree = bp->freeList;
  bp->freeList = slot;
  bp->orderDirty = true;
}

int BroadPhase_FindPairs(BroadPhase* bp) {
  bp->pairs.Clear();
  BroadPhaseProxy* px = bp->proxies.Data();
  int n = bp->proxies.Count();

  // Sweep along the axis where the box centres spread most.
  double sum[3] = {0, 0, 0}, sum2[3] = {0, 0, 0};
  int live = 0;
  for (int i = 0; i < n; ++i) {
    if (!px[i].primitive || !Aabb_IsFinite(px[i].box)) continue;
    Vec3 c = (px[i].box.min + px[i].box.max) * 0.5f;
    for (int k = 0; k < 3; ++k) {
      double v = Vec3_Get(c, k);
      sum[k] += v;
      sum2[k] += v * v;
    }
    ++live;
  }
  int axis = 0;
  double bestVar = -1;
  for (int k = 0; k < 3; ++k) {
    double var = live ? sum2[k] - sum[k] * sum[k] / live : 0;
    if (var > bestVar * 1.0001 + 1e-12) {  // hysteresis-free but deterministic
      bestVar = var;
      axis = k;
    }
  }

  auto less = [px, axis](int32_t a, int32_t b) {
    float ma = Vec3_Get(px[a].box.min, axis), mb = Vec3_Get(px[b].box.min, axis);
    return ma < mb || (ma == mb && px[a].id < px[b].id);
  };

  // Rebuild the order when slots came or went or the axis changed; else it is
  // nearly sorted and an insertion sort costs about one pass.
  if (bp->orderDirty || axis != bp->axis) {
    bp->order.Clear();
    for (int i = 0; i < n; ++i)
      if (px[i].primitive) bp->order.Push(i);
    bp->axis = axis;
    bp->orderDirty = false;
  }
  int32_t* ord = bp->order.Data();
  int m = bp->order.Count();
  // Non-finite boxes would break the ordering: keep them at the end, out of the sweep.
  int finite = 0;
  for (int i = 0; i < m; ++i)
    if (Aabb_IsFinite(px[ord[i]].box)) ord[finite++] = ord[i];
  int tail = finite;
  for (int i = 0; i < n; ++i)
    if (px[i].primitive && !Aabb_IsFinite(px[i].box)) ord[tail++] = i;
  bp->quarantined = tail - finite;
  for (int i = 1; i < finite; ++i) {
    int32_t v = ord[i];
    int j = i - 1;
    while (j >= 0 && less(v, ord[j])) {
      ord[j + 1] = ord[j];
      --j;
    }
    ord[j + 1] = v;
  }

  int ax1 = (axis + 1) % 3, ax2 = (axis + 2) % 3;
  for (int i = 0; i < finite; ++i) {
    const BroadPhaseProxy& a = px[ord[i]];
    float maxA = Vec3_Get(a.box.max, axis);
    for (int j = i + 1; j < finite; ++j) {
      const BroadPhaseProxy& b = px[ord[j]];
      if (Vec3_Get(b.box.min, axis) > maxA) break;
      if (Vec3_Get(a.box.min, ax1) > Vec3_Get(b.box.max, ax1) || Vec3_Get(b.box.min, ax1) > Vec3_Get(a.box.max, ax1) ||
          Vec3_Get(a.box.min, ax2) > Vec3_Get(b.box.max, ax2) || Vec3_Get(b.box.min, ax2) > Vec3_Get(a.box.max, ax2))
        continue;
      BroadPhasePair pair;
      if (a.id < b.id)
        pair = {(uint64_t(a.id) << 32) | b.id, a.primitive, b.primitive};
      else
        pair = {(uint64_t(b.id) << 32) | a.id, b.primitive, a.primitive};
      if (!bp->pairs.Push(pair)) return bp->pairs.Count();
    }
  }
  std::sort(bp->pairs.begin(), bp->pairs.end(),
            [](const BroadPhasePair& x, const BroadPhasePair& y) { return x.key < y.key; });
  return bp->pairs.Count();
}
