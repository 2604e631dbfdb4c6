#include "physics/collision/mesh_container.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "physics/base/phys_warning.h"
#include "tests/physics/collision/collision_test_shapes.h"

using namespace collision_test;

TEST(MeshContainer, OutOfRangeAndDegenerateTrianglesAreDroppedWithAWarning) {
  Warnings warnings;
  MeshContainer* m = MeshContainer_Construct();
  float v[] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 2, 0, 0, 0};  // the last one is collinear with 0 and 1
  ASSERT_EQ(MeshContainer_AddVertices(m, v, 4), 1);
  uint16_t t[] = {0, 1, 2,  0, 1, 3,  0, 0, 2,  0, 1, 4,  65535, 1, 2};
  EXPECT_EQ(MeshContainer_AddTriangles(m, t, 5), 1);
  EXPECT_EQ(MeshContainer_TriangleCount(m), 1);
  EXPECT_EQ(m->refusedTriangles, 4);
  EXPECT_EQ(warnings.count, 1);
  // Non-finite vertices refuse the whole batch.
  float bad[] = {0, NAN, 0, 0, 1, 1, 1, 0};
  EXPECT_EQ(MeshContainer_AddVertices(m, bad, 2), 0);
  EXPECT_EQ(m->vertices.Count(), 4);
  EXPECT_EQ(MeshContainer_AddTriangles(m, nullptr, 3), 0);
  CollisionShape_Release(m);
}

TEST(MeshContainer, TreeRayCastFindsTheSameNearestHitAsBruteForce) {
  // A bumpy terrain of 2 * 40 * 40 triangles.
  MeshContainer* m = MeshContainer_Construct();
  std::vector<float> v;
  for (int j = 0; j <= 40; ++j)
    for (int i = 0; i <= 40; ++i) v.insert(v.end(), {i * 0.5f, std::sin(i * 0.7f) * std::cos(j * 0.4f), j * 0.5f, 0});
  MeshContainer_AddVertices(m, v.data(), 41 * 41);
  std::vector<uint16_t> t;
  for (int j = 0; j < 40; ++j)
    for (int i = 0; i < 40; ++i) {
      uint16_t a = uint16_t(j * 41 + i), b = uint16_t(a + 1), c = uint16_t(a + 41), d = uint16_t(c + 1);
      t.insert(t.end(), {a, c, b, b, c, d});
    }
  ASSERT_EQ(MeshContainer_AddTriangles(m, t.data(), 3200), 3200);
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-2.0f, 22.0f);
  int hits = 0;
  for (int k = 0; k < 300; ++k) {
    Vec3 o = V3(u(rng), 3.0f + u(rng) * 0.1f, u(rng));
    Vec3 d = Vec3_Unit(V3(u(rng) * 0.05f, -1.0f, u(rng) * 0.05f));
    if (k % 3 == 0) d = Vec3_Unit(V3(u(rng) - 10.0f, -3.0f, u(rng) - 10.0f));
    float best = 100.0f;
    Vec3 bestN{0, 0, 0};
    for (const MeshTriangle& tri : m->triangles) {
      float th = Geometry_RayTriangle(o, d, best, tri.a, tri.b, tri.c);
      if (th >= 0.0f && th < best) {
        best = th;
        bestN = tri.normal;
      }
    }
    float th;
    Vec3 n;
    int hit = MeshContainer_RayCast(m, o, d, 100.0f, &th, &n);
    ASSERT_EQ(hit, best < 100.0f ? 1 : 0) << k;
    if (hit) {
      ++hits;
      EXPECT_NEAR(th, best, 1e-4f);
      EXPECT_LT(Vec3_Dot(n, d), 0.0f);  // turned towards the origin
      EXPECT_NEAR(std::fabs(Vec3_Dot(n, bestN)), 1.0f, 1e-4f);
    }
  }
  EXPECT_GT(hits, 100);
  CollisionShape_Release(m);
}

TEST(MeshContainer, ThousandsOfCoincidentTrianglesStillBuildABoundedTree) {
  MeshContainer* m = MeshContainer_Construct();
  float v[] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0};
  MeshContainer_AddVertices(m, v, 3);
  std::vector<uint16_t> t;
  for (int i = 0; i < 5000; ++i) t.insert(t.end(), {0, 1, 2});
  ASSERT_EQ(MeshContainer_AddTriangles(m, t.data(), 5000), 5000);
  int seen = 0;
  MeshContainer_Query(m, {V3(-1, -1, -1), V3(2, 2, 1)}, [&](const MeshTriangle&) { ++seen; });
  EXPECT_EQ(seen, 5000);  // every one found: the walk never ran out of stack
  float th;
  Vec3 n;
  EXPECT_EQ(MeshContainer_RayCast(m, V3(0.2f, 0.2f, 1), V3(0, 0, -1), 5, &th, &n), 1);
  CollisionShape_Release(m);
}
