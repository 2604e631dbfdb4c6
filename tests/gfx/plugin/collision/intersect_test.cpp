#include "gfx/plugin/collision/intersect.h"

#include <gtest/gtest.h>

#include "gfx/world/geometry.h"

namespace {

// The triangle (0,0,0) (4,0,0) (0,4,0); its normal is +z.
const Vec3 kP0 = {0, 0, 0}, kP1 = {4, 0, 0}, kP2 = {0, 4, 0};

struct Result {
    int32_t hit;
    Vec3 normal;
    float distance;
};

Result Touch(Vec3 centre, float radius, Vec3 p0 = kP0, Vec3 p1 = kP1, Vec3 p2 = kP2)
{
    const Sphere s = {centre, radius};
    Result r = {0, {9, 9, 9}, 99};
    r.hit = Intersect_TriangleTest(&s, &p0, &p1, &p2, &r.normal, &r.distance);
    return r;
}

// Which step decides is told by what the outputs hold: the normal is
// written from step 2 on, the distance from step 3 on.
TEST(IntersectTest, EachStepDecidesWhatItShould)
{
    struct Case {
        const char* what;
        Vec3 centre;
        float radius;
        int32_t hit;
        bool normalWritten, distanceWritten;
        float distance;
    };
    const Case cases[] = {
        {"beyond x by more than r: step 1", {7, 1, 0}, 2, 0, false, false, 0},
        {"below every coordinate: step 1", {-3, -3, 0}, 2, 0, false, false, 0},
        {"centre in the plane inside: step 4 or later", {1, 1, 0}, 0.5f, 1, true, true, 0},
        {"a corner inside the sphere: step 4", {4.5f, 0, 0.5f}, 1, 1, true, true, 0.5f},
        {"nearest corner's region, outside: step 5", {4.9f, -0.9f, 0}, 1.2f, 0, true, true, 0},
        {"past the long edge, missing it: step 6", {2.8f, 2.8f, 0}, 0.6f, 0, true, true, 0},
        {"touching the long edge: step 7", {2.2f, 2.2f, 0}, 0.6f, 1, true, true, 0},
        {"below the plane, touching: distance negative", {1, 1, -0.5f}, 1, 1, true, true, -0.5f},
    };
    for (const Case& c : cases) {
        const Result r = Touch(c.centre, c.radius);
        EXPECT_EQ(r.hit, c.hit) << c.what;
        EXPECT_EQ(r.normal.x == 9, !c.normalWritten) << c.what;
        EXPECT_EQ(r.distance == 99, !c.distanceWritten) << c.what;
        if (c.normalWritten) {
            EXPECT_NEAR(r.normal.z, 1, 1e-3f) << c.what;
        }
        if (c.hit) {
            EXPECT_NEAR(r.distance, c.distance, 1e-6f) << c.what;
        }
    }
    // Off a tilted triangle's plane by more than r while every axis overlaps: step 3.
    const Result tilted = Touch({3, 1, 0}, 1, {0, 0, 0}, {4, 0, 4}, {0, 4, 0});
    EXPECT_EQ(tilted.hit, 0);
    EXPECT_NEAR(tilted.normal.x, -0.70710678f, 1e-3f);
    EXPECT_EQ(tilted.distance, 99);
    // The sign of the distance follows the normal's side.
    EXPECT_GT(Touch({1, 1, 0.5f}, 1).distance, 0);
    // A triangle with two equal corners never touches, however big the sphere.
    EXPECT_EQ(Touch({0, 0, 0}, 100, kP0, kP1, kP1).hit, 0);
}

}  // namespace
