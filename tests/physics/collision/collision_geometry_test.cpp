#include "physics/collision/collision_geometry.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(CollisionGeometry, SegmentsAndRaysMeetWhereExpected) {
  Vec3 c1, c2;
  Geometry_ClosestSegmentSegment(V3(-1, 0, 0), V3(1, 0, 0), V3(0.5f, -1, 1), V3(0.5f, 1, 1), &c1, &c2);
  EXPECT_NEAR(c1.x, 0.5f, 1e-6f);
  EXPECT_NEAR(c2.z, 1.0f, 1e-6f);
  // Parallel segments and a degenerate one.
  Geometry_ClosestSegmentSegment(V3(0, 0, 0), V3(1, 0, 0), V3(0, 1, 0), V3(1, 1, 0), &c1, &c2);
  EXPECT_NEAR(c2.y - c1.y, 1.0f, 1e-6f);
  Geometry_ClosestSegmentSegment(V3(0, 0, 0), V3(0, 0, 0), V3(2, 1, 0), V3(2, -1, 0), &c1, &c2);
  EXPECT_NEAR(c2.y, 0.0f, 1e-6f);

  EXPECT_NEAR(Geometry_RaySphere(V3(0, 0, -5), V3(0, 0, 1), 10, V3(0, 0, 0), 1), 4.0f, 1e-6f);
  EXPECT_EQ(Geometry_RaySphere(V3(0, 0, -5), V3(0, 0, -1), 10, V3(0, 0, 0), 1), -1.0f);
  EXPECT_EQ(Geometry_RaySphere(V3(0, 2, -5), V3(0, 0, 1), 10, V3(0, 0, 0), 1), -1.0f);
  // Triangles are hit from either side, not from on them.
  Vec3 a{0, 0, 0}, b{1, 0, 0}, c{0, 1, 0};
  EXPECT_NEAR(Geometry_RayTriangle(V3(0.2f, 0.2f, 1), V3(0, 0, -1), 5, a, b, c), 1.0f, 1e-6f);
  EXPECT_NEAR(Geometry_RayTriangle(V3(0.2f, 0.2f, -1), V3(0, 0, 1), 5, a, b, c), 1.0f, 1e-6f);
  EXPECT_EQ(Geometry_RayTriangle(V3(0.2f, 0.2f, 0), V3(0, 0, -1), 5, a, b, c), -1.0f);
  EXPECT_EQ(Geometry_RayTriangle(V3(0.2f, 0.2f, 1), V3(1, 0, 0), 5, a, b, c), -1.0f);
  Vec3 inv = {INFINITY, INFINITY, 1.0f};  // ray along +z
  EXPECT_TRUE(Geometry_RayAabb(V3(0.5f, 0.5f, -3), inv, 10, {V3(0, 0, 0), V3(1, 1, 1)}));
  EXPECT_FALSE(Geometry_RayAabb(V3(1.5f, 0.5f, -3), inv, 10, {V3(0, 0, 0), V3(1, 1, 1)}));
}
