#include "gfx/core/vector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "gfx/core/error.h"
#include "gfx/core/matrix.h"

namespace {

Matrix Make(Vec3 r, Vec3 u, Vec3 a, Vec3 p)
{
    Matrix m = {};
    m.right = r;
    m.up = u;
    m.at = a;
    m.pos = p;
    return m;
}

}  // namespace

TEST(Vector, TableSquareRootsAreExactOnSquaresAndCloseElsewhere)
{
    EXPECT_EQ(Math_SqrtTable(1.0f), 1.0f);
    EXPECT_EQ(Math_SqrtTable(4.0f), 2.0f);
    EXPECT_EQ(Math_SqrtTable(2.0f), std::sqrt(2.0f));
    EXPECT_EQ(Math_SqrtTable(0.0f), 0.0f);
    EXPECT_EQ(Math_InvSqrtTable(4.0f), 0.5f);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> exp(-30.0f, 30.0f);
    float worst = 0.0f;
    for (int i = 0; i < 20000; i++) {
        float x = std::exp2(exp(rng));  // normal floats across many binades
        float s = Math_SqrtTable(x), is = Math_InvSqrtTable(x);
        worst = std::max(worst, std::fabs(s / std::sqrt(x) - 1.0f));
        worst = std::max(worst, std::fabs(is * std::sqrt(x) - 1.0f));
    }
    EXPECT_LT(worst, std::exp2(-12.0f));
}

TEST(Vector, NormalizeReportsTheLengthAndRefusesZero)
{
    Error_Get(nullptr);
    Vec3 v = {3, 0, 4}, out;
    EXPECT_NEAR(Vector3_Normalize(&out, &v), 5.0f, 1e-3f);
    EXPECT_NEAR(out.x, 0.6f, 1e-3f);
    EXPECT_NEAR(out.z, 0.8f, 1e-3f);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_NO_ERROR);
    Vec3 zero = {0, 0, 0};
    EXPECT_EQ(Vector3_Normalize(&out, &zero), 0.0f);
    EXPECT_EQ(out.x, 0.0f);
    EXPECT_EQ(Error_TakeCode(), ERR_ZERO_VECTOR);
}

TEST(Vector, TransformsPointsAndDirectionsAndBoundsThem)
{
    Matrix m = Make({0, 1, 0}, {-1, 0, 0}, {0, 0, 1}, {10, 20, 30});
    Vec3 in[2] = {{1, 0, 0}, {0, 2, 0}}, out[2];
    Vector3_TransformPoints(out, in, 2, &m);
    EXPECT_EQ(out[0].x, 10.0f);
    EXPECT_EQ(out[0].y, 21.0f);
    EXPECT_EQ(out[1].x, 8.0f);
    Vector3_TransformVectors(out, in, 2, &m);
    EXPECT_EQ(out[0].y, 1.0f);
    EXPECT_EQ(out[1].x, -2.0f);
    BoundingBox box;
    Vec3 pts[3] = {{1, 5, -1}, {-2, 0, 3}, {0, 1, 0}};
    BoundingBox_Calculate(&box, pts, 1);
    EXPECT_EQ(box.sup.y, 5.0f);
    EXPECT_EQ(box.inf.y, 5.0f);
    BoundingBox_Calculate(&box, pts, 3);
    EXPECT_EQ(box.sup.x, 1.0f);
    EXPECT_EQ(box.inf.x, -2.0f);
    EXPECT_EQ(box.sup.z, 3.0f);
    EXPECT_EQ(box.inf.z, -1.0f);
}
