// RayQuery: one ray cast, handed from primitive to primitive while a
// collector walks them. Each primitive's ray test reports a hit only when it
// is nearer than the best so far, so after the walk the record holds the
// nearest hit of all.
#pragma once

#include "physics/collision/collision_geometry.h"

class CollisionPrimitive;

struct RayQuery {
  Vec3 origin;
  Vec3 end;
  Vec3 direction;  // unit, origin -> end
  float length;    // |end - origin|
  Aabb bounds;     // per-axis min and max of origin and end
  float best;      // distance of the nearest hit so far (starts at 1000)
  Vec3 hitPoint;   // world point of the nearest hit
  Vec3 hitNormal;  // outward surface normal there (facing the origin)
  CollisionPrimitive* hitPrimitive;  // null until something is hit
};

// Prepares a query from `from` to `to`; best starts at 1000, so nothing
// farther than that is reported even on a longer ray. A zero-length or
// non-finite ray gets length 0 and hits nothing.
void RayQuery_Init(RayQuery* q, Vec3 from, Vec3 to);
// Records a hit at distance t if it beats the best so far; returns 1 if so.
int RayQuery_Offer(RayQuery* q, float t, Vec3 normal, CollisionPrimitive* primitive);
