#include "physics/collision/convex_hull.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "physics/base/phys_warning.h"
#include "tests/physics/collision/collision_test_shapes.h"

using namespace collision_test;

namespace {

const float kParams[4] = {0.001f, 0.01f, 0.02f, 0.992f};

// Builds from (x, y, z) triples and expects no hull and one warning.
void ExpectRefused(std::vector<float> xyz) {
  std::vector<float> p;
  for (size_t i = 0; i + 2 < xyz.size(); i += 3) p.insert(p.end(), {xyz[i], xyz[i + 1], xyz[i + 2], 0});
  int before = Warnings::count;
  EXPECT_EQ(ConvexHull_Build(p.data(), int(p.size() / 4), kParams, 0.01f), nullptr);
  EXPECT_EQ(Warnings::count, before + 1);
}

}  // namespace

TEST(ConvexHull, BoxRegroupsTrianglesIntoSixFacesWithExactMassProperties) {
  ConvexHull* box = BoxHull(0.5f, 1.0f, 1.5f);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(std::make_tuple(box->vertices.Count(), box->faces.Count(), box->edges.Count()), std::make_tuple(8, 6, 12));
  for (const HullFace& f : box->faces) {
    EXPECT_EQ(f.count, 4);
    EXPECT_NEAR(Vec3_Norm(f.normal), 1.0f, 1e-5f);
    // Counter-clockwise about the outward normal.
    Vec3 a = box->vertices[box->faceVertices[f.first]], b = box->vertices[box->faceVertices[f.first + 1]],
         c = box->vertices[box->faceVertices[f.first + 2]];
    EXPECT_GT(Vec3_Dot(Vec3_Cross(b - a, c - b), f.normal), 0.0f);
  }
  for (const HullEdge& e : box->edges) EXPECT_NE(e.f0, e.f1);
  EXPECT_NEAR(box->volume, 6.0f, 1e-4f);
  EXPECT_NEAR(Vec3_Norm(box->centroid), 0.0f, 1e-5f);
  // Unit-mass box inertia: (b^2 + c^2) / 12 with full sides 1, 2, 3.
  const float diagonal[3] = {box->unitInertia.r[0].x, box->unitInertia.r[1].y, box->unitInertia.r[2].z};
  for (int a = 0; a < 3; a++) EXPECT_NEAR(diagonal[a], (14.0f - float((a + 1) * (a + 1))) / 12.0f, 1e-4f) << a;
  EXPECT_NEAR(box->unitInertia.r[0].y, 0.0f, 1e-5f);
  EXPECT_EQ(box->vertices[ConvexHull_Support(box, V3(1, 1, 1))].x, 0.5f);
  CollisionShape_Release(box);
}

TEST(ConvexHull, EachParameterMergesWhatItNamesAndNoMore) {
  // A 2 x 2 x 2 box with a point above the middle of its top face (whose
  // four triangles are then a low pyramid), given twice or with a second
  // point beside it.
  struct Case {
    float height, beside;
    float params[4];
    int faces;
  } cases[] = {
      {1.3f, 0.0005f, {0, 0, 0, 1}, 11},
      {1.3f, 0.0005f, {0.001f, 0, 0, 1}, 9},  // the two points welded
      {1.005f, 0, {0, 0, 0, 1}, 9},
      {1.005f, 0, {0, 0.01f, 0, 1}, 6},  // merged while the hull is built
      {1.03f, 0, {0, 0.01f, 0, 1}, 9},
      {1.03f, 0, {0, 0, 0.02f, 1}, 6},  // merged once it is built
      {1.05f, 0, {0, 0, 0.02f, 1}, 9},
      {1.05f, 0, {0, 0, 0, 0.992f}, 6},  // normals within about 7 degrees
      {1.1f, 0, {0.001f, 0.01f, 0.02f, 0.992f}, 9},
  };
  for (const Case& c : cases) {
    std::vector<float> p;
    for (int i = 0; i < 8; ++i) p.insert(p.end(), {i & 1 ? 1.f : -1.f, i & 2 ? 1.f : -1.f, i & 4 ? 1.f : -1.f, 0});
    p.insert(p.end(), {0, c.height, 0, 0, c.beside, c.height, c.beside, 0});
    ConvexHull* h = ConvexHull_Build(p.data(), 10, c.params, 0.01f);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->faces.Count(), c.faces) << c.height << " " << c.params[0] << " " << c.params[1] << " "
                                         << c.params[2] << " " << c.params[3];
    EXPECT_EQ(h->vertices.Count() - h->edges.Count() + h->faces.Count(), 2);  // a closed polyhedron
    CollisionShape_Release(h);
  }
}

TEST(ConvexHull, DegenerateInputGivesNoHullAndAWarning) {
  Warnings warnings;
  ExpectRefused({0, 0, 0, 1, 0, 0, 0, 1, 0});                             // too few points
  ExpectRefused({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0, 0.5f, 0.3f, 0});    // coplanar
  ExpectRefused({0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, -1, -1, -1});       // collinear
  ExpectRefused({1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3});          // one point repeated
  ExpectRefused({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, NAN, 1, 1, 1});        // not finite
  ExpectRefused({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, INFINITY});
  ExpectRefused({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0.5f, 0.5f, 4.6e27f});  // beyond any world: qhull would spin
  EXPECT_EQ(ConvexHull_Build(nullptr, 10, kParams, 0.01f), nullptr);
  // Parameters out of range are refused.
  const float box[] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
  const float bad[][4] = {{-1, 0, 0, 1}, {0, NAN, 0, 1}, {0, 0, 0, 1.5f}};
  for (const float* b : bad) EXPECT_EQ(ConvexHull_Build(box, 4, b, 0.01f), nullptr);
  EXPECT_EQ(ConvexHull_Build(box, 4, nullptr, 0.01f), nullptr);
}
