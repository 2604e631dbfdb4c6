#include "physics/collision/narrow_phase.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "physics/collision/collision_body.h"
#include "physics/collision/convex_hull.h"
#include "tests/physics/collision/collision_test_shapes.h"

using namespace collision_test;

namespace {

Quat AboutY(float angle) { return Quat_FromAxisAngle(V3(0, 1, 0), angle); }
Quat AboutAxis(Vec3 axis, float angle) { return Quat_FromAxisAngle(Vec3_Unit(axis), angle); }

// Collides a with b into m: `count` points,
// each along the normal, and each of the depth unless it is NAN.
::testing::AssertionResult Touch(CollisionPrimitive* a, CollisionPrimitive* b, ContactManifold* m, int count,
                                 Vec3 normal, float depth = NAN, float tol = 1e-4f, float margin = 0.1f) {
  const int n = NarrowPhase_Collide(a, b, margin, m);
  if (n != count) return ::testing::AssertionFailure() << n << " points, not " << count;
  for (int i = 0; i < n; ++i) {
    const ContactPoint& p = m->points[i];
    const Vec3 off = p.normal - normal;
    if (std::fmax(std::fabs(off.x), std::fmax(std::fabs(off.y), std::fabs(off.z))) > tol ||
        (depth == depth && std::fabs(p.depth - depth) > tol))
      return ::testing::AssertionFailure() << "point " << i << ": normal " << p.normal.x << "," << p.normal.y << ","
                                           << p.normal.z << " depth " << p.depth;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST(NarrowPhase, BoxRestingOnBoxGivesFourCornersWithNormalFromBToA) {
  CollisionBody top, floor;
  CollisionBody_Place(&top, Pose(0.1f, 0.99f, 0.0f, AboutY(0.3f)));
  CollisionPrimitive* a = AddShape(&top, BoxHull(0.5f, 0.5f, 0.5f));
  CollisionPrimitive* b = AddShape(&floor, BoxHull(3, 0.5f, 3));
  ContactManifold m;
  ASSERT_TRUE(Touch(a, b, &m, 4, V3(0, 1, 0), 0.01f));
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(m.points[i].position.y, 0.5f, 1e-4f);  // on B's top face
    // The points are the four bottom corners of the turned box: distinct features.
    for (int j = i + 1; j < 4; ++j) EXPECT_NE(m.points[i].feature, m.points[j].feature);
  }
  // Asked the other way round, the normal turns and the points move onto the top box.
  ASSERT_TRUE(Touch(b, a, &m, 4, V3(0, -1, 0)));
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(m.points[i].position.y, 0.49f, 1e-4f);
  // Sizes 1 and 40, sunk a hair (a column's bottom box reached this pose):
  // GJK may stop short and call the pair apart with a normal along which the
  // boxes overlap by 20 m. Pushed up, not out the side.
  CollisionPrimitive* huge = AddShape(&floor, BoxHull(20, 0.5f, 20));
  CollisionBody_Place(&floor, Pose(0, -0.5f, 0));
  Quat q{4.06891268e-05f, 2.43602756e-08f, 0.000138092873f, 1.0f};
  CollisionBody_Place(&top, Pose(8.44108581e-06f, 0.498134673f, -0.000152898821f, Quat_Normalize(q)));
  EXPECT_TRUE(Touch(a, huge, &m, 4, V3(0, 1, 0), 0.0019f, 1e-3f));
}

TEST(NarrowPhase, HullPairsReportGapsWithinTheMarginOnlyAndEdgeCrossings) {
  CollisionBody upper, lower;
  CollisionPrimitive* a = AddShape(&upper, BoxHull(0.5f, 0.5f, 0.5f));
  CollisionPrimitive* b = AddShape(&lower, BoxHull(0.5f, 0.5f, 0.5f));
  ContactManifold m;
  CollisionBody_Place(&upper, Pose(0, 1.05f, 0));
  EXPECT_TRUE(Touch(a, b, &m, 4, V3(0, 1, 0), -0.05f));
  CollisionBody_Place(&upper, Pose(0, 1.2f, 0));
  EXPECT_EQ(NarrowPhase_Collide(a, b, 0.1f, &m), 0);

  // Two boxes turned so that an edge of one crosses an edge of the other.
  Quat edgeDown = AboutAxis(V3(1, 0, 0), 0.785398f);
  Quat edgeUp = AboutAxis(V3(0, 0, 1), 0.785398f);
  CollisionBody_Place(&upper, Pose(0, 1.404f, 0, edgeDown));
  CollisionBody_Place(&lower, Pose(0, 0, 0, edgeUp));
  EXPECT_TRUE(Touch(a, b, &m, 1, V3(0, 1, 0), 1.41421f - 1.404f, 1e-3f));
  // The same edges just apart: one point at the gap, from the closest points.
  CollisionBody_Place(&upper, Pose(0, 1.45f, 0, edgeDown));
  ASSERT_TRUE(Touch(a, b, &m, 1, V3(0, 1, 0), 1.41421f - 1.45f, 1e-3f));
  ExpectNear(m.points[0].position, V3(0, 0.70711f, 0), 1e-3f);
}

TEST(NarrowPhase, RandomHullPairsAgreeInBothOrdersAndPushApart) {
  std::vector<float> cloud;
  for (int i = 0; i < 16; ++i) {
    Vec3 p = V3(std::sin(i * 2.7f) * 0.6f, std::cos(i * 1.9f) * 0.4f, std::sin(i * 1.1f + 0.5f) * 0.5f);
    cloud.insert(cloud.end(), {p.x, p.y, p.z, 0});
  }
  const float params[4] = {0.001f, 0.01f, 0.02f, 0.992f};
  CollisionBody one, two;
  CollisionPrimitive* a = AddShape(&one, ConvexHull_Build(cloud.data(), 16, params, 0.01f));
  CollisionPrimitive* b = AddShape(&two, BoxHull(0.3f, 0.5f, 0.4f));
  ContactManifold ab, ba;
  int touching = 0;
  for (int i = 0; i < 300; ++i) {
    SCOPED_TRACE(i);
    Vec3 offset = V3(std::sin(i * 0.37f), std::cos(i * 0.23f), std::sin(i * 0.71f)) * 0.9f;
    CollisionBody_Place(&one, Pose(offset.x, offset.y, offset.z, AboutAxis(V3(1, 2, 3), i * 0.11f)));
    CollisionBody_Place(&two, Pose(0, 0, 0, AboutAxis(V3(-2, 1, 0.5f), i * 0.05f)));
    int n = NarrowPhase_Collide(a, b, 0.05f, &ab);
    int m = NarrowPhase_Collide(b, a, 0.05f, &ba);
    ASSERT_EQ(n > 0, m > 0);
    if (!n) continue;
    ++touching;
    float deepAB = -1e9f, deepBA = -1e9f;
    for (int k = 0; k < n; ++k) {
      // The normal pushes a away from b's side.
      EXPECT_GT(Vec3_Dot(ab.points[k].normal, a->world.pos - b->world.pos), -0.2f);
      EXPECT_NEAR(Vec3_Norm(ab.points[k].normal), 1.0f, 1e-4f);
      deepAB = std::fmax(deepAB, ab.points[k].depth);
    }
    for (int k = 0; k < m; ++k) deepBA = std::fmax(deepBA, ba.points[k].depth);
    EXPECT_NEAR(deepAB, deepBA, 0.02f);
    EXPECT_LE(deepAB, 1.2f);
  }
  EXPECT_GT(touching, 100);
}

TEST(NarrowPhase, SphereAgainstHullUsesNearestFeature) {
  CollisionBody ball, box;
  CollisionPrimitive* s = CollisionBody_AddPrimitive(&ball, SphereDesc(0.5f));
  CollisionPrimitive* h = AddShape(&box, BoxHull(1, 1, 1));
  ContactManifold m;
  const std::tuple<const char*, Vec3, Vec3, float> cases[] = {
      {"above the top face", V3(0.2f, 1.45f, 0), V3(0, 1, 0), 0.05f},
      {"off a corner: from the corner to the centre", V3(1.2f, 1.2f, 1.2f), Vec3_Unit(V3(1, 1, 1)),
       0.5f - std::sqrt(3 * 0.04f)},
      {"centre inside, nearest to the +x face", V3(0.8f, 0.1f, 0), V3(1, 0, 0), 0.7f},
  };
  for (const auto& [what, at, normal, depth] : cases) {
    CollisionBody_Place(&ball, Pose(at.x, at.y, at.z));
    EXPECT_TRUE(Touch(s, h, &m, 1, normal, depth, 1e-3f)) << what;
    EXPECT_TRUE(Touch(h, s, &m, 1, V3(0, 0, 0) - normal, NAN, 1e-3f)) << what << ", reversed";
  }
}

TEST(NarrowPhase, AMeshIsTwoSidedAndBodiesPressedThroughItArePushedBackTheWayTheyCame)
{
    CollisionBody ball, box, ground;
    CollisionPrimitive* s = CollisionBody_AddPrimitive(&ball, SphereDesc(0.5f));
    CollisionPrimitive* h = AddShape(&box, BoxHull(0.3f, 0.3f, 0.3f));
    CollisionPrimitive* g = AddShape(&ground, GroundMesh(4, 1.0f));
    ContactManifold m;
    // Touching from above, then pressed until the centre is under the surface.
    CollisionBody_Place(&ball, Pose(0.3f, 0.45f, 0.2f));
    ASSERT_EQ(NarrowPhase_Collide(s, g, 0.1f, &m), 1);
    CollisionBody_Place(&ball, Pose(0.3f, -0.1f, 0.2f));
    EXPECT_TRUE(Touch(s, g, &m, 1, V3(0, 1, 0), 0.6f, 1e-5f));
    CollisionBody_Place(&box, Pose(-0.4f, 0.28f, -0.3f));
    ASSERT_EQ(NarrowPhase_Collide(h, g, 0.1f, &m), 4);
    CollisionBody_Place(&box, Pose(-0.4f, -0.05f, -0.3f));
    EXPECT_TRUE(Touch(h, g, &m, 4, V3(0, 1, 0), 0.35f));
    // A body that arrives with its centre already below (no memory of the
    // triangles) is resolved downwards, like one touching a ceiling from below.
    CollisionBody other;
    CollisionPrimitive* t = CollisionBody_AddPrimitive(&other, SphereDesc(0.5f));
    CollisionBody_Place(&other, Pose(0.3f, -0.1f, 0.2f));
    EXPECT_TRUE(Touch(t, g, &m, 1, V3(0, -1, 0), 0.4f, 1e-5f));
    EXPECT_TRUE(Touch(g, t, &m, 1, V3(0, 1, 0)));  // the mesh as a: from the sphere into the mesh's side
    CollisionBody under;                           // a box arriving below gets a full face manifold downwards
    CollisionPrimitive* u = AddShape(&under, BoxHull(0.2f, 0.2f, 0.2f));
    CollisionBody_Place(&under, Pose(0.3f, -0.19f, -0.7f));
    EXPECT_TRUE(Touch(u, g, &m, 4, V3(0, -1, 0), 0.01f));
    CollisionBody_Place(&other, Pose(0.3f, 0.3f, 0.2f));  // and stays below when pushed up through
    EXPECT_TRUE(Touch(t, g, &m, 1, V3(0, -1, 0), 0.8f, 1e-5f));
    // Leaving the mesh forgets the sides.
    CollisionBody_Place(&other, Pose(0.3f, 3.0f, 0.2f));
    EXPECT_EQ(NarrowPhase_Collide(t, g, 0.1f, &m), 0);
    EXPECT_EQ(t->sideMemoCount, 0);
}

TEST(NarrowPhase, DeepestPointIsKeptWhereItLiesInsideTheContactPatch) {
  // A flat box pressed onto a low ridge: the ridge is the deepest contact,
  // in the middle of the patch whose outline the box's far corners make.
  MeshContainer* tent = MeshContainer_Construct();
  const float v[] = {-1, 0, -1, 0, 0, 0.1f, -1, 0, 1, 0, -1, 0, -1, 0, 1, 0, 0, 0.1f, 1, 0, 1, 0, 1, 0};
  const uint16_t t[] = {0, 1, 2, 1, 4, 2, 1, 3, 4, 3, 5, 4};
  MeshContainer_AddVertices(tent, v, 6);
  MeshContainer_AddTriangles(tent, t, 4);
  CollisionBody box, ground;
  CollisionPrimitive* h = AddShape(&box, BoxHull(0.8f, 0.2f, 0.3f));
  CollisionPrimitive* g = AddShape(&ground, tent);
  CollisionBody_Place(&box, Pose(0, 0.25f, 0));
  ContactManifold m;
  int n = NarrowPhase_Collide(h, g, 0.1f, &m);
  ASSERT_GE(n, 1);
  float deepest = -1.0f;
  for (int i = 0; i < n; ++i) deepest = std::fmax(deepest, m.points[i].depth);
  EXPECT_NEAR(deepest, 0.05f, 2e-3f);
}

TEST(NarrowPhase, CachedHullPairsAgreeWithTheFullTestAndAreRecomputedWhenTheyMove) {
  CollisionBody top, floor;
  CollisionPrimitive* a = AddShape(&top, BoxHull(0.5f, 0.5f, 0.5f));
  CollisionPrimitive* b = AddShape(&floor, BoxHull(2, 0.5f, 2));
  NarrowPhaseCache cache{};
  ContactManifold cached, full;
  auto same = [&](const char* what) {
    int n = NarrowPhase_Collide(a, b, 0.1f, &cached, &cache);
    ASSERT_EQ(n, NarrowPhase_CollideStateless(a, b, 0.1f, &full)) << what;
    for (int i = 0; i < n; ++i) {
      ExpectNear(cached.points[i].normal, full.points[i].normal, 1e-4f);
      EXPECT_NEAR(cached.points[i].depth, full.points[i].depth, 1e-4f) << what;
      ExpectNear(cached.points[i].position, full.points[i].position, 1e-4f);
    }
  };
  // Resting on its face, then a millimetre further: the cached face is clipped again.
  CollisionBody_Place(&top, Pose(0.2f, 0.99f, 0.1f, AboutY(0.3f)));
  same("first full test");
  EXPECT_NE(cache.kind, NARROW_CACHE_NONE);
  CollisionBody_Place(&top, Pose(0.201f, 0.989f, 0.1f, AboutY(0.3f)));
  same("small move");
  // Tipped onto an edge: a feature of a pose so far away must not be reused.
  CollisionBody_Place(&top, Pose(0.2f, 1.19f, 0.1f, AboutAxis(V3(1, 0, 0), 0.785f)));
  same("tipped onto an edge");
  // Lifted clear: the axis found apart is kept, and is checked again when it
  // no longer separates.
  CollisionBody_Place(&top, Pose(0.2f, 2.0f, 0.1f));
  EXPECT_EQ(NarrowPhase_Collide(a, b, 0.1f, &cached, &cache), 0);
  EXPECT_EQ(cache.kind, NARROW_CACHE_APART);
  CollisionBody_Place(&top, Pose(0.2f, 0.995f, 0.1f));
  same("set down again");
}

TEST(NarrowPhase, BoxOnMeshAcrossTrianglesKeepsAtMostFourUpwardPoints) {
  CollisionBody box, ground;
  CollisionPrimitive* h = AddShape(&box, BoxHull(0.7f, 0.3f, 0.7f));
  CollisionPrimitive* g = AddShape(&ground, GroundMesh(8, 0.5f));
  CollisionBody_Place(&box, Pose(0.1f, 0.295f, -0.2f, AboutY(0.4f)));
  ContactManifold m;
  ASSERT_TRUE(Touch(h, g, &m, 4, V3(0, 1, 0), 0.005f));
  // Spread: the chosen points span the box's footprint.
  float spread = 0;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) spread = std::fmax(spread, Vec3_Norm(m.points[i].position - m.points[j].position));
  EXPECT_GT(spread, 1.9f);
  // Mesh first: normals turn, points move onto the box.
  ASSERT_TRUE(Touch(g, h, &m, 4, V3(0, -1, 0)));
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(m.points[i].position.y, -0.005f, 1e-4f);
  // Tilted, one long edge 1 mm in, the other 14 mm up: the points that bear
  // come before the gaps under the raised edge (a gap taken for the spread
  // of the patch let the load jump between points).
  CollisionBody_Place(&box, Pose(0.03f, 0.7f * std::sin(0.02f) + 0.3f * std::cos(0.02f) - 0.001f, 0.07f,
                                 AboutAxis(V3(0, 0, 1), 0.02f)));
  ASSERT_GE(NarrowPhase_Collide(h, g, 0.05f, &m), 3);
  for (int i = 0; i < m.count; ++i) EXPECT_GT(m.points[i].depth, -0.002f) << i;
}

TEST(NarrowPhase, BodiesOnAFlatMeshNeverGetTiltedNormalsFromInternalEdges) {
  CollisionBody box, ball, ground;
  CollisionPrimitive* h = AddShape(&box, BoxHull(0.3f, 0.2f, 0.45f));
  CollisionPrimitive* s = CollisionBody_AddPrimitive(&ball, SphereDesc(0.25f));
  CollisionPrimitive* g = AddShape(&ground, GroundMesh(10, 0.5f));
  std::vector<float> cloud;
  for (int i = 0; i < 20; ++i) {
    Vec3 p = Vec3_Unit(V3(std::sin(i * 2.1f), std::cos(i * 1.3f), std::sin(i * 0.7f + 1))) * 0.4f;
    cloud.insert(cloud.end(), {p.x, p.y, p.z, 0});
  }
  const float params[4] = {0.001f, 0.01f, 0.02f, 0.992f};
  ConvexHull* rock = ConvexHull_Build(cloud.data(), 20, params, 0.01f);
  ASSERT_NE(rock, nullptr);
  CollisionBody stone;
  CollisionPrimitive* r = CollisionBody_AddPrimitive(&stone, ShapeDesc(rock));
  CollisionShape_Release(rock);
  ContactManifold m;
  // Exactly over a grid vertex, where six triangles meet: one contact.
  CollisionBody_Place(&ball, Pose(0, 0.24f, 0));
  EXPECT_TRUE(Touch(s, g, &m, 1, V3(0, 1, 0), 0.01f));
  for (int i = 0; i < 200; ++i) {
    SCOPED_TRACE(i);
    float x = -1.5f + 0.0153f * float(i), z = 1.2f - 0.0117f * float(i), turn = 0.07f * float(i);
    CollisionBody_Place(&box, Pose(x, 0.195f, z, Quat_FromAxisAngle(V3(0, 1, 0), turn)));
    int n = NarrowPhase_Collide(h, g, 0.1f, &m);
    ASSERT_GE(n, 3) << i;
    for (int k = 0; k < n; ++k) {
      ExpectNear(m.points[k].normal, V3(0, 1, 0), 1e-4f);
      EXPECT_NEAR(m.points[k].depth, 0.005f, 1e-4f);
    }
    // A rounder hull (a point cloud), lowest vertex 0.005 into the mesh.
    Quat q = Quat_FromAxisAngle(Vec3_Unit(V3(0.3f, 1, -0.2f)), turn);
    float low = 1e9f;
    for (Vec3 v : rock->vertices) low = std::fmin(low, Quat_Rotate(q, v).y);
    CollisionBody_Place(&stone, Pose(x, -low - 0.005f, z, q));
    n = NarrowPhase_Collide(r, g, 0.1f, &m);
    ASSERT_GE(n, 1);
    for (int k = 0; k < n; ++k) ExpectNear(m.points[k].normal, V3(0, 1, 0), 1e-4f);
    SCOPED_TRACE("sphere");
    CollisionBody_Place(&ball, Pose(z, 0.245f, x));
    n = NarrowPhase_Collide(s, g, 0.1f, &m);
    ASSERT_GE(n, 1) << i;
    for (int k = 0; k < n; ++k) ExpectNear(m.points[k].normal, V3(0, 1, 0), 1e-4f);
  }
}

TEST(NarrowPhase, RidgesAndGroovesKeepTheirRealNormals) {
  // Two 30-degree slopes meeting at x = 0: a ridge (peak up) or a groove.
  auto slopes = [](float peak) {
    MeshContainer* m = MeshContainer_Construct();
    float h = 0.57735f * peak;  // tan 30 per unit of x
    float v[] = {-1, -h, -1, 0, 0, 0, -1, 0, -1, -h, 1, 0, 0, 0, 1, 0, 1, -h, -1, 0, 1, -h, 1, 0};
    MeshContainer_AddVertices(m, v, 6);
    uint16_t t[] = {0, 2, 1, 1, 2, 3, 1, 3, 4, 4, 3, 5};
    MeshContainer_AddTriangles(m, t, 4);
    return m;
  };
  CollisionBody ridge, groove, ball;
  CollisionPrimitive* top = AddShape(&ridge, slopes(1.0f));
  CollisionPrimitive* valley = AddShape(&groove, slopes(-1.0f));
  CollisionPrimitive* s = CollisionBody_AddPrimitive(&ball, SphereDesc(0.2f));
  ContactManifold m;
  // On the ridge line: pushed straight up by the edge.
  CollisionBody_Place(&ball, Pose(0, 0.19f, 0.3f));
  EXPECT_TRUE(Touch(s, top, &m, 1, V3(0, 1, 0), NAN, 1e-4f, 0.0f));
  // In the groove: one contact on each slope, along each slope's normal.
  CollisionBody_Place(&ball, Pose(0, 0.2f / 0.866025f - 0.01f, 0.3f));
  ASSERT_EQ(NarrowPhase_Collide(s, valley, 0.0f, &m), 2);
  float nx0 = m.points[0].normal.x, nx1 = m.points[1].normal.x;
  EXPECT_NEAR(std::fabs(nx0), 0.5f, 1e-3f);
  EXPECT_NEAR(nx0 + nx1, 0.0f, 1e-3f);
  EXPECT_NEAR(m.points[0].normal.y, 0.866025f, 1e-3f);
}
