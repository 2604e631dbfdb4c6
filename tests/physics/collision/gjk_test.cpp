#include "physics/collision/gjk.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<Vec3> BoxPoints(float h) {
  std::vector<Vec3> p;
  for (int i = 0; i < 8; ++i) p.push_back(V3(i & 1 ? h : -h, i & 2 ? h : -h, i & 4 ? h : -h));
  return p;
}

Frame3 At(Vec3 pos, Quat q = Quat{0, 0, 0, 1}) { return {Mat3_FromQuat(q), pos}; }

}  // namespace

TEST(Gjk, DistanceBetweenApartShapesWithTheirClosestPoints) {
  std::vector<Vec3> box = BoxPoints(0.5f);
  GjkShape a{box.data(), 8, At(V3(0, 0, 0)), 0};
  GjkShape b{box.data(), 8, At(V3(3, 0.2f, 0.1f)), 0};
  GjkResult r;
  Gjk_Distance(a, b, &r);
  EXPECT_EQ(r.overlap, 0);
  EXPECT_NEAR(r.distance, 2.0f, 1e-5f);
  EXPECT_NEAR(r.pointA.x, 0.5f, 1e-5f);
  EXPECT_NEAR(r.pointB.x, 2.5f, 1e-5f);

  // Corner to corner along the diagonal, one box turned.
  GjkShape c{box.data(), 8, At(V3(2, 2, 2)), 0};
  Gjk_Distance(a, c, &r);
  EXPECT_NEAR(r.distance, std::sqrt(3.0f), 1e-4f);

  // A single point (a sphere's core) against the box face.
  Vec3 origin{0, 0, 0};
  GjkShape p{&origin, 1, At(V3(0.2f, 1.7f, -0.1f)), 0.3f};
  Gjk_Distance(p, a, &r);
  EXPECT_NEAR(r.distance, 1.2f, 1e-5f);
  EXPECT_NEAR(r.pointB.y, 0.5f, 1e-5f);
  EXPECT_NEAR(r.pointB.x, 0.2f, 1e-5f);
}

TEST(Gjk, OverlappingCoresAreReportedWithZeroDistance) {
  std::vector<Vec3> box = BoxPoints(0.5f);
  GjkShape a{box.data(), 8, At(V3(0, 0, 0)), 0};
  GjkShape b{box.data(), 8, At(V3(0.7f, 0.3f, 0), Quat_FromAxisAngle(V3(0, 0, 1), 0.6f)), 0};
  GjkResult r;
  Gjk_Distance(a, b, &r);
  EXPECT_EQ(r.overlap, 1);
  EXPECT_EQ(r.distance, 0.0f);
  // Identical placement (every support direction degenerate) still ends.
  Gjk_Distance(a, a, &r);
  EXPECT_EQ(r.overlap, 1);
}

TEST(Gjk, SearchStopsEarlyOnlyForPairsProvenFartherThanAsked) {
  std::vector<Vec3> box = BoxPoints(0.5f);
  GjkShape a{box.data(), 8, At(V3(0, 0, 0)), 0};
  GjkShape b{box.data(), 8, At(V3(2, 2, 2), Quat_FromAxisAngle(V3(0, 1, 0), 0.4f)), 0};
  GjkResult full, early;
  Gjk_Distance(a, b, &full);
  // Far beyond the bound: the early answer is a lower bound above it.
  Gjk_Distance(a, b, &early, 0.1f);
  EXPECT_EQ(early.overlap, 0);
  EXPECT_GT(early.distance, 0.1f);
  EXPECT_LE(early.distance, full.distance + 1e-5f);
  // A bound beyond the true distance never stops the search: the full answer.
  Gjk_Distance(a, b, &early, full.distance + 0.01f);
  EXPECT_EQ(std::make_tuple(early.distance, early.pointA.x, early.pointB.z),
            std::make_tuple(full.distance, full.pointA.x, full.pointB.z));
  // Overlapping cores are still found whatever the bound.
  GjkShape c{box.data(), 8, At(V3(0.6f, 0.1f, 0)), 0};
  Gjk_Distance(a, c, &early, 0.1f);
  EXPECT_EQ(early.overlap, 1);
}
