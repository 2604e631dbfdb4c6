#include "physics/collision/narrow_phase.h"

#include "physics/collision/collision_primitive.h"

int NarrowPhase_Collide(const CollisionPrimitive* a, const CollisionPrimitive* b, float margin,
                        ContactManifold* out) {
  out->count = 0;
  if (a->kind == PRIMITIVE_KIND_SPHERE && b->kind == PRIMITIVE_KIND_SPHERE) {
    Vec3 d = a->world.pos - b->world.pos;
    float dist = Vec3_Length(d), rs = a->radius + b->radius;
    if (dist - rs > margin) return 0;
    Vec3 n = dist > 1e-9f ? d * (1.0f / dist) : V3(0, 1, 0);
    out->points[0] = {b->world.pos + n * b->radius, n, rs - dist, 0};
    out->count = 1;
  }
  return out->count;
}
