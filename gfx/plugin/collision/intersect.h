// Sphere against triangle: the test the collision queries run for every
// candidate triangle. Cheap rejections come first (per axis on the corners'
// signs, then the triangle's plane slab), then exact tests against the
// corners and the edges' regions.
#pragma once
#include <cstdint>

#include "common/maths.h"

struct Sphere;

// 1 when the sphere touches the triangle p0 p1 p2, else 0. Once the
// triangle's plane is known (it is not degenerate) *normal holds its unit
// normal ((p1 - p0) x (p2 - p0) normalised); *distance is written once the
// sphere reaches the plane: the centre's signed distance from it, positive on
// the normal's side. A degenerate triangle never touches.
int32_t Intersect_TriangleTest(const Sphere* sphere, const Vec3* p0, const Vec3* p1, const Vec3* p2, Vec3* normal,
                               float* distance);
