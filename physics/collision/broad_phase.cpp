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
  bp->proxies[slot] = BroadPhaseProxy{box, primitive, id, -1, 0};
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
    if (bp->orderDirty) {
      // Ranks of the ids, for ordering the pairs by a counting sort.
      bp->order.Clear();
      for (int i = 0; i < n; ++i)
        if (px[i].primitive) bp->order.Push(i);
      std::sort(bp->order.begin(), bp->order.end(), [px](int32_t a, int32_t b) { return px[a].id < px[b].id; });
      if (!bp->rank.Resize(n)) return 0;
      for (int i = 0; i < bp->order.Count(); ++i) bp->rank[bp->order[i]] = i;
    }
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
  if (!bp->sweep.Resize(finite)) return 0;
  BroadPhaseSweepEntry* sw = bp->sweep.Data();
  for (int i = 0; i < finite; ++i) {
    const BroadPhaseProxy& p = px[ord[i]];
    sw[i] = {Vec3_Get(p.box.min, axis), Vec3_Get(p.box.max, axis), Vec3_Get(p.box.min, ax1),
             Vec3_Get(p.box.max, ax1), Vec3_Get(p.box.min, ax2), Vec3_Get(p.box.max, ax2), ord[i], p.id,
             p.resting};
  }
  bp->found.Clear();
  bp->foundRank.Clear();
  auto test = [&](const BroadPhaseSweepEntry& a, const BroadPhaseSweepEntry& b) {
    // One combined test: the single branch is well predicted (mostly "no").
    bool overlap =
        (a.min1 <= b.max1) & (b.min1 <= a.max1) & (a.min2 <= b.max2) & (b.min2 <= a.max2) & !(a.resting & b.resting);
    if (!overlap) return true;
    bool aLow = a.id < b.id;
    const BroadPhaseSweepEntry& lo = aLow ? a : b;
    const BroadPhaseSweepEntry& hi = aLow ? b : a;
    return bp->found.Push({(uint64_t(lo.id) << 32) | hi.id, px[lo.slot].primitive, px[hi.slot].primitive}) &&
           bp->foundRank.Push(bp->rank[lo.slot]);
  };
  int moving = 0;
  for (int i = 0; i < finite; ++i) moving += sw[i].resting ? 0 : 1;
  if (moving * 8 < finite) {
    // Nearly everything rests (a sleeping pile): a resting pair never
    // pairs, so each moving entry is tested against the others, the same
    // pairs that the sweep would find, for a few tests instead of all.
    for (int i = 0; i < finite; ++i) {
      if (sw[i].resting) continue;
      const BroadPhaseSweepEntry a = sw[i];
      for (int j = 0; j < finite; ++j) {
        const BroadPhaseSweepEntry& b = sw[j];
        if (j == i || (!b.resting && j < i) || b.minA > a.maxA || a.minA > b.maxA) continue;
        if (!test(a, b)) return 0;
      }
    }
  } else {
    for (int i = 0; i < finite; ++i) {
      const BroadPhaseSweepEntry a = sw[i];
      for (int j = i + 1; j < finite; ++j) {
        const BroadPhaseSweepEntry& b = sw[j];
        if (b.minA > a.maxA) break;
        if (!test(a, b)) return 0;
      }
    }
  }

  // Counting sort by the lower id's rank, then each (small) bucket by key.
  int found = bp->found.Count();
  int liveCount = bp->order.Count();
  if (!bp->buckets.Resize(liveCount + 1) || !bp->pairs.Resize(found)) return 0;
  int32_t* bucket = bp->buckets.Data();
  for (int i = 0; i <= liveCount; ++i) bucket[i] = 0;
  for (int i = 0; i < found; ++i) ++bucket[bp->foundRank[i] + 1];
  for (int i = 0; i < liveCount; ++i) bucket[i + 1] += bucket[i];
  for (int i = 0; i < found; ++i) bp->pairs[bucket[bp->foundRank[i]]++] = bp->found[i];
  BroadPhasePair* out = bp->pairs.Data();
  for (int b = 0, start = 0; b < liveCount; ++b) {
    int end = bucket[b];
    if (end - start > 16) {
      // A big proxy (a level mesh) pairs with everything: sort its bucket properly.
      std::sort(out + start, out + end, [](const BroadPhasePair& x, const BroadPhasePair& y) { return x.key < y.key; });
      start = end;
      continue;
    }
    for (int i = start + 1; i < end; ++i) {
      BroadPhasePair v = out[i];
      int j = i - 1;
      while (j >= start && out[j].key > v.key) {
        out[j + 1] = out[j];
        --j;
      }
      out[j + 1] = v;
    }
    start = end;
  }
  return found;
}
