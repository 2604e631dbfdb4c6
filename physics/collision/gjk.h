// GJK: distance between two convex shapes given by their support points.
//
// A shape is a point cloud in its own frame (a single point for a sphere)
// grown by a radius. Gjk_Distance works on the cores; a result with
// overlapping cores reports distance 0 and leaves the penetration to the
// separating-axis test of the caller.
#pragma once

#include "physics/collision/collision_geometry.h"

struct GjkShape {
  const Vec3* points;  // core vertices, local space
  int count;
  Frame3 frame;        // local -> world
  float radius;        // added around the core (sphere radius, or 0)
};

struct GjkResult {
  float distance;  // between the cores (0 when they overlap)
  Vec3 pointA;     // closest core point of A (world)
  Vec3 pointB;     // closest core point of B (world)
  int overlap;     // 1 when the cores intersect
  Vec3 axis;       // not overlapping: unit direction from B towards A along which
                   // the cores are at least `distance` apart (world)
};

// Computes the core distance; always fills result. With farEnough >= 0 the
// search may stop as soon as the cores are proven farther apart than that:
// the result then holds a lower bound above farEnough as the distance and
// closest points that are only approximate (for callers that drop such pairs).
void Gjk_Distance(const GjkShape& a, const GjkShape& b, GjkResult* result, float farEnough = -1.0f);
