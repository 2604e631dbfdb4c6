#include "physics/collision/collision_detection.h"

#include <algorithm>
#include <cmath>

#include "physics/collision/mesh_container.h"

namespace {

uint64_t PairKey(const CollisionPrimitive* a, const CollisionPrimitive* b) {
  uint32_t lo = a->id < b->id ? a->id : b->id, hi = a->id < b->id ? b->id : a->id;
  return (uint64_t(lo) << 32) | hi;
}

int FindBody(const CollisionDetection* cd, const CollisionBody* body) {
  for (int i = 0; i < cd->bodies.Count(); ++i)
    if (cd->bodies[i] == body) return i;
  return -1;
}

const uint32_t kInactive = COLLISION_BODY_FIXED | COLLISION_BODY_ASLEEP;

}  // namespace

CollisionDetection::~CollisionDetection() {
  while (!bodies.Empty()) CollisionDetection_RemoveBody(this, bodies[bodies.Count() - 1]);
}

CollisionDetection* CollisionDetection_Construct(float tolerance) {
  CollisionDetection* cd = new CollisionDetection();
  if (!cd) return nullptr;
  cd->tolerance = (std::isfinite(tolerance) && tolerance >= 0.0f) ? tolerance : 0.1f;
  return cd;
}

int CollisionDetection_AddPrimitive(CollisionDetection* cd, CollisionPrimitive* p) {
  if (!cd || !p || p->proxy >= 0) return p && p->proxy >= 0;
  p->proxy = BroadPhase_Add(&cd->broadPhase, p, p->id, Aabb_Inflate(p->bounds, cd->tolerance));
  return p->proxy >= 0;
}

void CollisionDetection_RemovePrimitive(CollisionDetection* cd, CollisionPrimitive* p) {
  if (!cd || !p || p->proxy < 0) return;
  BroadPhase_Remove(&cd->broadPhase, p->proxy);
  p->proxy = -1;
}

int CollisionDetection_AddBody(CollisionDetection* cd, CollisionBody* body) {
  if (!cd || !body) return 0;
  if (body->detection && body->detection != cd) CollisionDetection_RemoveBody(body->detection, body);
  if (!body->detection) {
    if (!cd->bodies.Push(body)) return 0;
    body->detection = cd;
  }
  CollisionBody_Place(body, body->pose);
  int ok = 1;
  for (CollisionPrimitive* p : body->primitives) ok &= CollisionDetection_AddPrimitive(cd, p);
  return ok;
}

void CollisionDetection_RemoveBody(CollisionDetection* cd, CollisionBody* body) {
  if (!cd || !body || body->detection != cd) return;
  for (CollisionPrimitive* p : body->primitives) CollisionDetection_RemovePrimitive(cd, p);
  int i = FindBody(cd, body);
  if (i >= 0) cd->bodies.RemoveAt(i);  // keep the order of addition
  body->detection = nullptr;
  cd->pairs.Clear();
  cd->broadPhase.pairs.Clear();
}

void CollisionDetection_EnableGroupPair(CollisionDetection* cd, int a, int b) {
  if (!cd || a < 1 || a > 32 || b < 1 || b > 32) return;
  cd->groupMasks[a - 1] |= 1u << (b - 1);
  cd->groupMasks[b - 1] |= 1u << (a - 1);
}

void CollisionDetection_DisableGroupPair(CollisionDetection* cd, int a, int b) {
  if (!cd || a < 1 || a > 32 || b < 1 || b > 32) return;
  cd->groupMasks[a - 1] &= ~(1u << (b - 1));
  cd->groupMasks[b - 1] &= ~(1u << (a - 1));
}

void CollisionDetection_DisableBodyPair(CollisionDetection* cd, CollisionBody* a, CollisionBody* b) {
  if (!cd || !a || !b || a == b) return;
  for (CollisionPrimitive* pa : a->primitives)
    for (CollisionPrimitive* pb : b->primitives) {
      uint64_t key = PairKey(pa, pb);
      uint64_t* at = std::lower_bound(cd->excluded.begin(), cd->excluded.end(), key);
      if (at != cd->excluded.end() && *at == key) continue;
      int index = int(at - cd->excluded.begin());
      if (!cd->excluded.Push(key)) return;
      // Shift into place to keep the set sorted.
      for (int i = cd->excluded.Count() - 1; i > index; --i) cd->excluded[i] = cd->excluded[i - 1];
      cd->excluded[index] = key;
    }
}

void CollisionDetection_EnableBodyPair(CollisionDetection* cd, CollisionBody* a, CollisionBody* b) {
  if (!cd || !a || !b) return;
  for (CollisionPrimitive* pa : a->primitives)
    for (CollisionPrimitive* pb : b->primitives) {
      uint64_t key = PairKey(pa, pb);
      uint64_t* at = std::lower_bound(cd->excluded.begin(), cd->excluded.end(), key);
      if (at != cd->excluded.end() && *at == key) cd->excluded.RemoveAt(int(at - cd->excluded.begin()));
    }
}

int CollisionDetection_IsExcluded(const CollisionDetection* cd, const CollisionPrimitive* a,
                                  const CollisionPrimitive* b) {
  if (cd->excluded.Empty()) return 0;
  return std::binary_search(cd->excluded.begin(), cd->excluded.end(), PairKey(a, b)) ? 1 : 0;
}

int CollisionDetection_ShouldCollide(const CollisionDetection* cd, const CollisionPrimitive* a,
                                     const CollisionPrimitive* b) {
  if (!cd || !a || !b || a->body == b->body) return 0;
  if (!CollisionPrimitive_GroupsPaired(cd->groupMasks, a->group, b->group)) return 0;
  return !CollisionDetection_IsExcluded(cd, a, b);
}

int CollisionDetection_FindPairs(CollisionDetection* cd, const CollisionPair** pairs) {
  cd->pairs.Clear();
  ++cd->step;
  const Aabb quarantine = {V3(NAN, NAN, NAN), V3(NAN, NAN, NAN)};
  for (CollisionBody* body : cd->bodies) {
    bool out = (body->collisionFlags & COLLISION_BODY_QUARANTINED) != 0;
    uint32_t resting = (body->collisionFlags & kInactive) ? 1u : 0u;
    float grow = body->reach > cd->tolerance ? body->reach : cd->tolerance;
    Vec3 sweep = body->sweep;
    bool swept = sweep.x != 0.0f || sweep.y != 0.0f || sweep.z != 0.0f;
    for (CollisionPrimitive* p : body->primitives) {
      if (p->proxy < 0) continue;
      Aabb box = Aabb_Inflate(p->bounds, grow);
      if (swept) box = Aabb_Union(box, {box.min + sweep, box.max + sweep});
      BroadPhase_Update(&cd->broadPhase, p->proxy, out ? quarantine : box, resting);
    }
  }
  int n = BroadPhase_FindPairs(&cd->broadPhase);
  if (!cd->pairs.Reserve(n)) n = 0;
  for (int i = 0; i < n; ++i) {
    const BroadPhasePair& bp = cd->broadPhase.pairs[i];
    if (!CollisionDetection_ShouldCollide(cd, bp.a, bp.b)) continue;
    cd->pairs.Push(CollisionPair{bp.a, bp.b, uint8_t(bp.a->phantom || bp.b->phantom)});
  }
  if (pairs) *pairs = cd->pairs.Data();
  return cd->pairs.Count();
}

int CollisionDetection_GetContacts(CollisionDetection* cd, CollisionBody* body, CollisionRecordList out[3]) {
  for (int i = 0; i < 3; ++i) out[i].Clear();
  if (!cd || !body) return 0;
  CollisionBody_Place(body, body->pose);
  if (body->collisionFlags & COLLISION_BODY_QUARANTINED) return 0;
  int total = 0;
  for (CollisionBody* other : cd->bodies) {
    if (other == body) continue;
    CollisionBody_Place(other, other->pose);
    if (other->collisionFlags & COLLISION_BODY_QUARANTINED) continue;
    int list = (other->collisionFlags & COLLISION_BODY_FIXED)    ? COLLISION_RECORDS_FIXED
               : (other->collisionFlags & COLLISION_BODY_ASLEEP) ? COLLISION_RECORDS_ASLEEP
                                                                 : COLLISION_RECORDS_MOVING;
    for (CollisionPrimitive* pa : body->primitives) {
      if (pa->phantom) continue;
      for (CollisionPrimitive* pb : other->primitives) {
        if (pb->phantom || !Aabb_Overlaps(pa->bounds, pb->bounds)) continue;
        if (!CollisionDetection_ShouldCollide(cd, pa, pb)) continue;
        int n = NarrowPhase_CollideStateless(pa, pb, 0.0f, &cd->scratch);
        for (int k = 0; k < n; ++k) {
          const ContactPoint& c = cd->scratch.points[k];
          if (!(c.depth > kCollisionOverlapEpsilon)) continue;
          if (out[list].Push(CollisionRecord{pa, pb, c.position, c.normal, c.depth})) ++total;
        }
      }
    }
  }
  return total;
}

int CollisionDetection_SweepSphere(CollisionDetection* cd, const CollisionPrimitive* sphere, Vec3 from,
                                   Vec3 to, SweepHit* hit) {
  if (!cd || !sphere || sphere->kind != PRIMITIVE_KIND_SPHERE || sphere->phantom) return 0;
  if (!Vec3_IsFinite(from) || !Vec3_IsFinite(to)) return 0;
  float r = sphere->radius;
  Aabb path = Aabb_Inflate({Vec3_Min(from, to), Vec3_Max(from, to)}, r);
  float best = 2.0f;
  Vec3 bestNormal{0, 1, 0};
  CollisionPrimitive* bestPrim = nullptr;
  for (CollisionBody* other : cd->bodies) {
    if (other == sphere->body || (other->collisionFlags & COLLISION_BODY_QUARANTINED)) continue;
    for (CollisionPrimitive* p : other->primitives) {
      if (p->kind != PRIMITIVE_KIND_MESH || p->phantom || !Aabb_Overlaps(path, p->bounds)) continue;
      if (!CollisionDetection_ShouldCollide(cd, sphere, p)) continue;
      float f;
      Vec3 n;
      const MeshContainer* mesh = static_cast<const MeshPrimitive*>(p)->Mesh();
      if (MeshContainer_SweepSphere(mesh, Frame3_ApplyInv(p->world, from), Frame3_ApplyInv(p->world, to), r, &f,
                                    &n) &&
          f < best) {
        best = f;
        bestNormal = Mat3_Mul(p->world.rot, n);
        bestPrim = p;
      }
    }
  }
  if (!bestPrim) return 0;
  if (hit) *hit = SweepHit{best, bestNormal, bestPrim};
  return 1;
}
