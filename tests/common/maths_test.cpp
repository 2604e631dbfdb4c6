#include "common/maths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

const float kPi = 3.1415927f;

void ExpectVec(const Vec3& v, float x, float y, float z, float tol = 1e-5f)
{
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

void ExpectIdentity(const Mat4& m, float tol = 1e-4f)
{
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) EXPECT_NEAR(m.m[i][j], i == j ? 1.0f : 0.0f, tol) << i << "," << j;
}

Mat4 Rotation(const Vec3& axis, float angle, Vec3 pos = {0, 0, 0})
{
    Mat4 m;
    Mat4_FromAxisAngle(&m, &axis, angle, &pos);
    return m;
}

// q and -q are the same rotation.
void ExpectQuat(const Quat& q, float x, float y, float z, float w)
{
    float s = (q.w * w + q.x * x + q.y * y + q.z * z) < 0 ? -1.0f : 1.0f;
    EXPECT_NEAR(q.x * s, x, 1e-5f);
    EXPECT_NEAR(q.y * s, y, 1e-5f);
    EXPECT_NEAR(q.z * s, z, 1e-5f);
    EXPECT_NEAR(q.w * s, w, 1e-5f);
}

}  // namespace

TEST(Maths, HeadingCoversAllQuadrantsAndTheAxes)
{
    Vec3 v[] = {{0, 0, 1}, {1, 0, 0}, {0, 0, -1}, {-1, 0, 0}, {1, 0, 1}, {1, 0, -1}, {-1, 0, -1}, {-1, 0, 1}, {0, 5, 0}};
    float expected[] = {0, kPi / 2, kPi, 3 * kPi / 2, kPi / 4, 3 * kPi / 4, 5 * kPi / 4, 7 * kPi / 4, 0};
    for (int i = 0; i < 9; i++) EXPECT_NEAR(Vec3_Heading(&v[i]), expected[i], 1e-5f) << i;
    Vec3 up = {0, 1, 0}, down = {0, -1, 0}, side = {1, 0, 0};
    EXPECT_EQ(Vec3_Pitch(&up), 0.0f);
    EXPECT_NEAR(Vec3_Pitch(&down), kPi, 1e-6f);
    EXPECT_NEAR(Vec3_Pitch(&side), kPi / 2, 1e-6f);
}

TEST(Maths, AngleDiffTakesTheShortWayAndHalfATurnIsNegative)
{
    EXPECT_NEAR(Angle_Diff(350, 10, 1, 0), 20.0f, 1e-4f);
    EXPECT_NEAR(Angle_Diff(10, 350, 1, 0), -20.0f, 1e-4f);
    EXPECT_NEAR(Angle_Diff(10, 350, 0, 0), 20.0f, 1e-4f);
    EXPECT_NEAR(Angle_Diff(0, 180, 1, 0), -180.0f, 1e-4f);
    EXPECT_NEAR(Angle_Diff(0, 180, 0, 0), 180.0f, 1e-4f);
    EXPECT_NEAR(Angle_Diff(-kPi / 2, kPi / 2 + 0.1f, 1, 1), -(kPi - 0.1f), 1e-4f);
}

TEST(Maths, ClampToArcKeepsInsideAnglesAndSnapsToTheNearerEnd)
{
    EXPECT_NEAR(Angle_ClampToArc(0.5f, 0.2f, 1.0f), 0.5f, 1e-6f);
    EXPECT_NEAR(Angle_ClampToArc(1.3f, 0.2f, 1.0f), 1.0f, 1e-6f);
    EXPECT_NEAR(Angle_ClampToArc(0.0f, 0.2f, 1.0f), 0.2f, 1e-6f);
    // An arc across 0: from 350 to 10 degrees.
    float a = 350 * kPi / 180, b = 10 * kPi / 180;
    EXPECT_NEAR(Angle_ClampToArc(0.05f, a, b), 0.05f, 1e-6f);
    EXPECT_NEAR(Angle_ClampToArc(0.5f, a, b), b, 1e-6f);
    EXPECT_NEAR(Angle_ClampToArc(5.8f, a, b), a, 1e-6f);
    EXPECT_EQ(Angle_ClampToArc(3.0f, 1.0f, 1.0f), 1.0f);
}

TEST(Maths, MoveTowardsStepsAndStopsAtTheTarget)
{
    EXPECT_EQ(Math_MoveTowards(0, 10, 3), 3.0f);
    EXPECT_EQ(Math_MoveTowards(0, 10, 30), 10.0f);
    EXPECT_EQ(Math_MoveTowards(5, 0, -2), 3.0f);
    EXPECT_EQ(Math_MoveTowards(5, 0, 0), 5.0f);
    // The vector form scales the difference by min(|d|, t) without normalising.
    Vec3 from = {0, 0, 0}, to = {0, 0, 4}, out;
    Vec3_MoveTowards(&out, &from, &to, 0.5f);
    ExpectVec(out, 0, 0, 2);
    Vec3 near = {0, 0, 0.5f};
    Vec3_MoveTowards(&out, &from, &near, 3.0f);
    ExpectVec(out, 0, 0, 0.25f);
}

TEST(Maths, QuaternionFromEveryBranch)
{
    Vec3 x = {1, 0, 0}, y = {0, 1, 0}, z = {0, 0, 1};
    Quat q;
    Mat4 id;
    Quat_FromMatrix(&q, Mat4_Identity(&id));  // trace > 0
    ExpectQuat(q, 0, 0, 0, 1);
    // Half turns have trace -1: the largest diagonal picks the branch.
    Mat4 m = Rotation(x, kPi);
    Quat_FromMatrix(&q, &m);
    ExpectQuat(q, 1, 0, 0, 0);
    m = Rotation(y, kPi);
    Quat_FromMatrix(&q, &m);
    ExpectQuat(q, 0, 1, 0, 0);
    m = Rotation(z, kPi);
    Quat_FromMatrix(&q, &m);
    ExpectQuat(q, 0, 0, 1, 0);
    // A quarter turn about y: |sin(pi/4)| along y and cos(pi/4) in w.
    m = Rotation(y, kPi / 2);
    Quat_FromMatrix(&q, &m);
    EXPECT_NEAR(std::fabs(q.y), std::sqrt(0.5f), 1e-5f);
    EXPECT_NEAR(std::fabs(q.w), std::sqrt(0.5f), 1e-5f);
}

TEST(Maths, InversesGiveTheIdentity)
{
    Vec3 axis = {1, 2, 3};
    Mat4 m = Rotation(axis, 0.7f, {4, -5, 6});
    Mat4 inv, prod;
    Mat4_InvertAffine(&inv, &m);
    ExpectIdentity(*Mat4_Multiply(&prod, &m, &inv));
    Mat4 general = m;
    general.m[0][3] = 0.25f;  // projective column
    general.m[1][0] *= 2.0f;
    Mat4_Invert(&inv, &general);
    ExpectIdentity(*Mat4_Multiply(&prod, &general, &inv));
    EXPECT_NEAR(Mat4_Determinant(&m), 1.0f, 1e-5f);
    // Singular: no infinities.
    Mat4 zero = {};
    Mat4_Invert(&inv, &zero);
    EXPECT_TRUE(std::isfinite(inv.m[0][0]));
}

TEST(Maths, TransformPointDividesByW)
{
    Mat4 m;
    Mat4_Identity(&m);
    m.m[3][0] = 1;
    m.m[2][3] = 1;  // w = z + 1
    Vec3 p = {1, 2, 1}, out;
    Mat4_TransformPoint(&out, &p, &m);
    ExpectVec(out, 1.0f, 1.0f, 0.5f);
}

TEST(Maths, PositiveTurnAboutUpTakesZTowardsMinusX)
{
    Vec3 up = {0, 1, 0}, z = {0, 0, 1}, out;
    Vec3_RotateAxis(&out, &z, &up, kPi / 2);
    ExpectVec(out, -1, 0, 0);
    // The matrix turns the same way (rows are the turned basis vectors).
    Mat4 m = Rotation(up, kPi / 2);
    Vec3 moved;
    Mat4_TransformPoint(&moved, &z, &m);
    ExpectVec(moved, -1, 0, 0);
    // The heading decreases.
    Vec3 diag = {1, 0, 1};
    EXPECT_NEAR(Vec3_RotatedHeading(0.25f, &diag), kPi / 4 - 0.25f, 1e-5f);
    Vec3 none = {0, 0, 0};
    EXPECT_EQ(Vec3_RotatedHeading(1.0f, &none), 0.0f);
}

TEST(Maths, FrameFromAtAndUpHasRightEqualUpCrossAt)
{
    Vec3 pos = {1, 2, 3}, at = {0, 0, 2}, up = {0, 1, 0.2f};
    Mat4 m;
    Mat4_FromAtUp(&m, &pos, &at, &up);
    EXPECT_NEAR(m.m[0][0], 1.0f, 1e-3f);  // right = +x for at = +z, up = +y
    EXPECT_NEAR(m.m[1][1], 1.0f, 1e-3f);
    EXPECT_NEAR(m.m[1][2], 0.0f, 1e-3f);  // up made perpendicular to at
    EXPECT_EQ(m.m[3][2], 3.0f);
    Vec3 a, u;
    Mat4_GetAtUp(&m, &a, &u);
    ExpectVec(a, 0, 0, 1, 1e-3f);
    ExpectVec(u, 0, 1, 0, 1e-3f);
}

TEST(Maths, DistancesToSegmentsAndPlanes)
{
    Vec3 a = {0, 0, 0}, b = {10, 0, 0};
    Vec3 mid = {5, 3, 0}, before = {-3, 4, 0}, beyond = {13, 4, 0};
    EXPECT_NEAR(Vec3_DistanceToLine(&mid, &a, &b), 3.0f, 1e-2f);
    EXPECT_NEAR(Vec3_DistanceToLine(&before, &a, &b), 5.0f, 1e-2f);
    EXPECT_NEAR(Vec3_DistanceToLine(&beyond, &a, &b), 5.0f, 1e-2f);
    EXPECT_NEAR(Vec3_DistanceToLine(&mid, &a, &a), std::sqrt(34.0f), 1e-2f);
    Vec3 onLine = {4, 0, 0};
    EXPECT_TRUE(std::isfinite(Vec3_DistanceToLine(&onLine, &a, &b)));

    Vec3 planePoint = {0, 2, 0}, point = {1, 5, 1}, normal = {0, 2, 0}, zero = {0, 0, 0};
    float t = Plane_RayParam(&planePoint, &point, &normal);
    EXPECT_NEAR(point.y + t * normal.y, 2.0f, 1e-6f);
    EXPECT_EQ(Plane_RayParam(&planePoint, &point, &zero), -1.0f);
}

TEST(Maths, ScalarsRandomsAndVectors)
{
    EXPECT_EQ(Math_Lerp(2, 4, 0.5f), 3.0f);
    EXPECT_EQ(Math_InvLerp(3, 2, 4), 0.5f);
    EXPECT_EQ(Math_InvLerp(3, 2, 2), 0.0f);
    EXPECT_NEAR(Math_Pow(2, 10), 1024.0f, 1e-3f);
    srand(1);
    for (int i = 0; i < 1000; i++) {
        float u = Math_RandomUnit();
        EXPECT_GE(u, -1.0f);
        EXPECT_LE(u, 0.9999f + 1e-6f);
        float r = Math_RandomRange(5, 7);
        EXPECT_GE(r, 5.0f);
        EXPECT_LT(r, 7.0f);
    }
    Vec3 p0 = {0, 0, 0}, p1 = {1, 0, 0}, p2 = {1, 0, 1}, n;
    Triangle_Normal(&n, &p0, &p1, &p2);
    ExpectVec(n, 0, -1, 0, 1e-3f);
    Vec3 v = {3, 4, 0};
    EXPECT_NEAR(Vec3_Length(&v), 5.0f, 1e-3f);
    Vec3 c;
    Vec3_Cross(&c, &v, &v);  // aliasing inputs
    ExpectVec(c, 0, 0, 0);
    Vec2 w = {0, 2};
    Vec2_Normalise(&w);
    EXPECT_NEAR(w.y, 1.0f, 1e-3f);
}

TEST(Maths, TableSquareRootOnNormalFloats)
{
    float worst = 0.0f;
    for (float x = 1.17549435e-38f; x < 1e30f; x *= 1.37f) {
        worst = std::fmax(worst, std::fabs(Math_SqrtTable(x) / std::sqrt(x) - 1.0f));
        worst = std::fmax(worst, std::fabs(Math_InvSqrtTable(x) * std::sqrt(x) - 1.0f));
    }
    EXPECT_LT(worst, std::exp2(-12.0f));  // about 2^-13 in practice
}
