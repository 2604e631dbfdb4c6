#include "common/maths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <tuple>

namespace {

const float kPi = 3.1415927f;

void ExpectVec(const Vec3& v, float x, float y, float z, float tol = 1e-5f)
{
    for (const auto& [got, want] : {std::pair{v.x, x}, {v.y, y}, {v.z, z}}) EXPECT_NEAR(got, want, tol);
}

void ExpectIdentity(const Mat4& m)
{
    for (int i = 0; i < 16; i++) EXPECT_NEAR(m.m[i / 4][i % 4], i % 5 == 0 ? 1.0f : 0.0f, 1e-4f) << i;
}

Mat4 Rotation(Vec3 axis, float angle, Vec3 pos = {0, 0, 0})
{
    Mat4 m;
    Mat4_FromAxisAngle(&m, &axis, angle, &pos);
    return m;
}

Vec3 V(float x, float y, float z) { return Vec3{x, y, z}; }

}  // namespace

TEST(Maths, ScalarAngleAndDistanceHelpers)
{
    Vec3 a = {0, 0, 0}, b = {10, 0, 0}, mid = {5, 3, 0}, before = {-3, 4, 0}, beyond = {13, 4, 0};
    Vec3 diag = {1, 0, 1}, none = {0, 0, 0}, down = {0, -1, 0};
    const float arcA = 350 * kPi / 180, arcB = 10 * kPi / 180;  // an arc across 0
    const std::tuple<const char*, float, float> cases[] = {
        // what, the result, the answer
        {"diff signed short way", Angle_Diff(350, 10, 1, 0), 20},
        {"diff signed back", Angle_Diff(10, 350, 1, 0), -20},
        {"diff unsigned", Angle_Diff(10, 350, 0, 0), 20},
        {"diff signed half turn is negative", Angle_Diff(0, 180, 1, 0), -180},
        {"diff radians", Angle_Diff(-kPi / 2, kPi / 2 + 0.1f, 1, 1), -(kPi - 0.1f)},
        {"clamp above", Angle_ClampToArc(1.3f, 0.2f, 1.0f), 1.0f},
        {"clamp below", Angle_ClampToArc(0.0f, 0.2f, 1.0f), 0.2f},
        {"clamp inside across 0", Angle_ClampToArc(0.05f, arcA, arcB), 0.05f},
        {"clamp to the end across 0", Angle_ClampToArc(0.5f, arcA, arcB), arcB},
        {"clamp to the start across 0", Angle_ClampToArc(5.8f, arcA, arcB), arcA},
        {"clamp to an empty arc", Angle_ClampToArc(3.0f, 1.0f, 1.0f), 1.0f},
        {"move a step", Math_MoveTowards(0, 10, 3), 3},
        {"move stops at the target", Math_MoveTowards(0, 10, 30), 10},
        {"inverse lerp", Math_InvLerp(3, 2, 4), 0.5f},
        {"inverse lerp of an empty range", Math_InvLerp(3, 2, 2), 0},
        {"a positive turn lowers the heading", Vec3_RotatedHeading(0.25f, &diag), kPi / 4 - 0.25f},
        {"heading of a null vector", Vec3_RotatedHeading(1.0f, &none), 0},
        {"pitch down", Vec3_Pitch(&down), kPi},
        {"to the segment's middle", Vec3_DistanceToLine(&mid, &a, &b), 3},
        {"before the segment", Vec3_DistanceToLine(&before, &a, &b), 5},
        {"beyond the segment", Vec3_DistanceToLine(&beyond, &a, &b), 5},
        {"to an empty segment", Vec3_DistanceToLine(&mid, &a, &a), std::sqrt(34.0f)},
        {"plane of a zero normal", Plane_RayParam(&a, &mid, &none), -1},
    };
    for (const auto& [what, got, want] : cases)
        EXPECT_NEAR(got, want, 2e-4f * std::fmax(1.0f, std::fabs(want))) << what;
    Vec3 onLine = {4, 0, 0}, planePoint = {0, 2, 0}, point = {1, 5, 1}, normal = {0, 2, 0};
    EXPECT_TRUE(std::isfinite(Vec3_DistanceToLine(&onLine, &a, &b)));
    EXPECT_NEAR(point.y + Plane_RayParam(&planePoint, &point, &normal) * normal.y, 2.0f, 1e-6f);
}

TEST(Maths, VectorsRandomsAndTableRoots)
{
    Vec3 from = {0, 0, 0}, to = {0, 0, 4}, nearby = {0, 0, 0.5f}, out;
    // The difference is scaled by min(|d|, t), not normalised.
    ExpectVec(*Vec3_MoveTowards(&out, &from, &to, 0.5f), 0, 0, 2);
    ExpectVec(*Vec3_MoveTowards(&out, &from, &nearby, 3.0f), 0, 0, 0.25f);
    Vec3 p0 = {0, 0, 0}, p1 = {1, 0, 0}, p2 = {1, 0, 1}, v = {3, 4, 0};
    ExpectVec(*Triangle_Normal(&out, &p0, &p1, &p2), 0, -1, 0, 1e-3f);
    ExpectVec(*Vec3_Cross(&v, &v, &v), 0, 0, 0);  // aliasing inputs
    Vec2 w = {0, 2};
    EXPECT_NEAR(Vec2_Normalise(&w)->y, 1.0f, 1e-3f);
    srand(1);
    for (int i = 0; i < 1000; i++) {
        float u = Math_RandomUnit(), r = Math_RandomRange(5, 7);
        EXPECT_TRUE(u >= -1.0f && u <= 0.9999f + 1e-6f) << u;
        EXPECT_TRUE(r >= 5.0f && r < 7.0f) << r;
    }
    float worst = 0.0f;
    for (float x = 1.17549435e-38f; x < 1e30f; x *= 1.37f) {
        worst = std::fmax(worst, std::fabs(Math_SqrtTable(x) / std::sqrt(x) - 1.0f));
        worst = std::fmax(worst, std::fabs(Math_InvSqrtTable(x) * std::sqrt(x) - 1.0f));
    }
    EXPECT_LT(worst, std::exp2(-12.0f));  // about 2^-13 in practice
}

TEST(Maths, InversesGiveTheIdentityAndPointsDivideByW)
{
    Mat4 m = Rotation(V(1, 2, 3), 0.7f, {4, -5, 6});
    Mat4 inv, prod;
    ExpectIdentity(*Mat4_Multiply(&prod, &m, Mat4_InvertAffine(&inv, &m)));
    Mat4 general = m;
    general.m[0][3] = 0.25f;  // projective column
    general.m[1][0] *= 2.0f;
    ExpectIdentity(*Mat4_Multiply(&prod, &general, Mat4_Invert(&inv, &general)));
    EXPECT_NEAR(Mat4_Determinant(&m), 1.0f, 1e-5f);
    Mat4 zero = {};
    EXPECT_TRUE(std::isfinite(Mat4_Invert(&inv, &zero)->m[0][0]));  // singular: no infinities
    Mat4_Identity(&m);
    m.m[3][0] = 1;
    m.m[2][3] = 1;  // w = z + 1
    Vec3 p = {1, 2, 1}, out;
    ExpectVec(*Mat4_TransformPoint(&out, &p, &m), 1.0f, 1.0f, 0.5f);
}

TEST(Maths, PositiveTurnAboutUpTakesZTowardsMinusXAndFramesFollowAtAndUp)
{
    Vec3 up = {0, 1, 0}, z = {0, 0, 1}, out;
    ExpectVec(*Vec3_RotateAxis(&out, &z, &up, kPi / 2), -1, 0, 0);
    Mat4 m = Rotation(up, kPi / 2);  // rows are the turned basis vectors
    ExpectVec(*Mat4_TransformPoint(&out, &z, &m), -1, 0, 0);
    Vec3 pos = {1, 2, 3}, at = {0, 0, 2}, tilted = {0, 1, 0.2f};
    Mat4_FromAtUp(&m, &pos, &at, &tilted);
    EXPECT_NEAR(m.m[0][0], 1.0f, 1e-3f);  // right = up x at = +x
    EXPECT_NEAR(m.m[1][2], 0.0f, 1e-3f);  // up made perpendicular to at
    EXPECT_EQ(m.m[3][2], 3.0f);
    Vec3 a, u;
    Mat4_GetAtUp(&m, &a, &u);
    ExpectVec(a, 0, 0, 1, 1e-3f);
    ExpectVec(u, 0, 1, 0, 1e-3f);
}
