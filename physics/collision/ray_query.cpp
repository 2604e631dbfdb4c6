#include "physics/collision/ray_query.h"

void RayQuery_Init(RayQuery* q, Vec3 from, Vec3 to) {
  q->origin = from;
  q->end = to;
  Vec3 d = to - from;
  float len = Vec3_Norm(d);
  bool ok = Vec3_IsFinite(from) && Vec3_IsFinite(to) && std::isfinite(len) && len > 0.0f;
  q->length = ok ? len : 0.0f;
  q->direction = ok ? d * (1.0f / len) : V3(0, 0, 0);
  q->bounds = {Vec3_Min(from, to), Vec3_Max(from, to)};
  q->best = 1000.0f;
  q->hitPoint = V3(0, 0, 0);
  q->hitNormal = V3(0, 1, 0);
  q->hitPrimitive = nullptr;
}

int RayQuery_Offer(RayQuery* q, float t, Vec3 normal, CollisionPrimitive* primitive) {
  if (!(t > 0.0f) || !(t < q->best) || t > q->length) return 0;
  q->best = t;
  q->hitPoint = q->origin + q->direction * t;
  q->hitNormal = normal;
  q->hitPrimitive = primitive;
  return 1;
}
