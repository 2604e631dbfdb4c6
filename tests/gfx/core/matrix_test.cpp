#include "gfx/core/matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "gfx/core/error.h"
#include "gfx/core/vector.h"

namespace {

Matrix Make(Vec3 r, Vec3 u, Vec3 a, Vec3 p, uint32_t flags = 0)
{
    Matrix m = {};
    m.right = r;
    m.up = u;
    m.at = a;
    m.pos = p;
    m.flags = flags;
    return m;
}

Matrix RandomAffine(std::mt19937& rng)
{
    std::uniform_real_distribution<float> d(-2.0f, 2.0f);
    return Make({d(rng), d(rng), d(rng)}, {d(rng), d(rng), d(rng)}, {d(rng), d(rng), d(rng)}, {d(rng), d(rng), d(rng)});
}

// Double-precision product of two affine matrices.
void Reference(double out[4][3], const Matrix& a, const Matrix& b)
{
    const Vec3* ar[4] = {&a.right, &a.up, &a.at, &a.pos};
    const Vec3* br[3] = {&b.right, &b.up, &b.at};
    const double add[4] = {0, 0, 0, 1};
    for (int i = 0; i < 4; i++) {
        double x = ar[i]->x, y = ar[i]->y, z = ar[i]->z;
        out[i][0] = x * br[0]->x + y * br[1]->x + z * br[2]->x + add[i] * b.pos.x;
        out[i][1] = x * br[0]->y + y * br[1]->y + z * br[2]->y + add[i] * b.pos.y;
        out[i][2] = x * br[0]->z + y * br[1]->z + z * br[2]->z + add[i] * b.pos.z;
    }
}

void ExpectRows(const Matrix& m, const double ref[4][3], double tol)
{
    const Vec3* r[4] = {&m.right, &m.up, &m.at, &m.pos};
    for (int i = 0; i < 4; i++) {
        EXPECT_NEAR(r[i]->x, ref[i][0], tol);
        EXPECT_NEAR(r[i]->y, ref[i][1], tol);
        EXPECT_NEAR(r[i]->z, ref[i][2], tol);
    }
}

}  // namespace

TEST(Matrix, MultiplyMatchesADoubleReferenceAndAliasesSafely)
{
    std::mt19937 rng(3);
    for (int i = 0; i < 50; i++) {
        Matrix a = RandomAffine(rng), b = RandomAffine(rng), out;
        double ref[4][3];
        Reference(ref, a, b);
        Matrix_Multiply(&out, &a, &b);
        ExpectRows(out, ref, 1e-4);
        Matrix_Multiply(&a, &a, &b);  // output is the first input
        ExpectRows(a, ref, 1e-4);
    }
}

TEST(Matrix, IdentityOperandsCopyTheOtherFlagsIncluded)
{
    Matrix id, other = Make({2, 0, 0}, {0, 3, 0}, {0, 0, 4}, {1, 2, 3}, 0x40), out;
    Matrix_SetIdentity(&id);
    Matrix_Multiply(&out, &id, &other);
    EXPECT_EQ(out.flags, 0x40u);
    EXPECT_EQ(out.up.y, 3.0f);
    Matrix_Multiply(&out, &other, &id);
    EXPECT_EQ(out.flags, 0x40u);
}

TEST(Matrix, InverseUndoesTheMatrix)
{
    Matrix m;
    Matrix_SetIdentity(&m);
    Vec3 t = {1, 2, 3};
    Matrix_Translate(&m, &t, COMBINE_REPLACE);
    Matrix inv;
    Matrix_Invert(&inv, &m);
    EXPECT_EQ(inv.flags, 3u);
    EXPECT_EQ(inv.pos.x, -1.0f);
    EXPECT_EQ(inv.pos.y, -2.0f);
    EXPECT_EQ(inv.pos.z, -3.0f);

    std::mt19937 rng(11);
    for (int i = 0; i < 20; i++) {
        Matrix a = RandomAffine(rng), ai, prod;
        Matrix_Invert(&ai, &a);
        EXPECT_EQ(ai.flags, 0u);
        Matrix_Multiply(&prod, &a, &ai);
        Matrix_RecomputeFlags(&prod, nullptr);
        EXPECT_EQ(prod.flags & MATRIX_IDENTITY, MATRIX_IDENTITY) << i;
        Matrix_Invert(&a, &a);  // in place
        EXPECT_FLOAT_EQ(a.pos.x, ai.pos.x);
    }
    // A singular matrix (negative zero determinant) gives finite numbers.
    Matrix s = Make({-0.0f, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1});
    Matrix_Invert(&inv, &s);
    EXPECT_TRUE(std::isfinite(inv.right.x) && std::isfinite(inv.pos.y));
}

TEST(Matrix, RotateScaleAndTranslateCombineInTheStatedOrder)
{
    Matrix m;
    Matrix_SetIdentity(&m);
    Vec3 z = {0, 0, 2};  // normalised inside
    Matrix_Rotate(&m, &z, 90.0f, COMBINE_REPLACE);
    EXPECT_NEAR(m.right.x, 0.0f, 1e-6f);
    EXPECT_NEAR(m.right.y, 1.0f, 1e-6f);
    EXPECT_EQ(m.flags, 3u);
    // About +y it takes at (+z) to +x: the other way from the engine layer's
    // Vec3_RotateAxis, which takes +z to -x.
    Vec3 y = {0, 1, 0};
    Matrix_Rotate(&m, &y, 90.0f, COMBINE_REPLACE);
    EXPECT_NEAR(m.at.x, 1.0f, 1e-6f);
    EXPECT_NEAR(m.at.z, 0.0f, 1e-6f);

    // Pre: the new transform applies first. Translate then rotate (post) moves
    // the translation; rotate then translate (pre) does not.
    Vec3 t = {1, 0, 0};
    Matrix post, pre;
    Matrix_SetIdentity(&post);
    Matrix_Translate(&post, &t, COMBINE_REPLACE);
    Matrix_Rotate(&post, &z, 90.0f, COMBINE_POSTCONCAT);
    EXPECT_NEAR(post.pos.x, 0.0f, 1e-6f);
    EXPECT_NEAR(post.pos.y, 1.0f, 1e-6f);
    Matrix_SetIdentity(&pre);
    Matrix_Translate(&pre, &t, COMBINE_REPLACE);
    Matrix_Rotate(&pre, &z, 90.0f, COMBINE_PRECONCAT);
    EXPECT_NEAR(pre.pos.x, 1.0f, 1e-6f);
    EXPECT_NEAR(pre.right.y, 1.0f, 1e-6f);

    Vec3 s = {2, 3, 4};
    Matrix_Scale(&pre, &s, COMBINE_POSTCONCAT);
    EXPECT_NEAR(pre.pos.x, 2.0f, 1e-6f);
    EXPECT_EQ(pre.flags & MATRIX_IDENTITY_FLAGS, 0u);
    Matrix_Translate(&pre, &t, COMBINE_PRECONCAT);  // along the scaled, rotated right
    EXPECT_NEAR(pre.pos.y, 3.0f, 1e-5f);

    Matrix before = pre;
    Error_Get(nullptr);
    EXPECT_EQ(Matrix_Translate(&pre, &t, 7), nullptr);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_BAD_COMBINATION);
    EXPECT_EQ(memcmp(&before, &pre, sizeof(Matrix)), 0);
    EXPECT_EQ(Matrix_Scale(&pre, &s, 3), nullptr);
    EXPECT_EQ(Matrix_Rotate(&pre, &z, 1.0f, 3), nullptr);
    Error_Get(nullptr);
}

TEST(Matrix, RecomputeFlagsBoundsTheSumsOfSquares)
{
    // Each row length squared 1.05: normal error 3 x 0.0025 = 0.0075 <= 0.01.
    float k = std::sqrt(1.05f);
    Matrix m = Make({k, 0, 0}, {0, k, 0}, {0, 0, k}, {0, 0, 0}, 0x100);
    Matrix_RecomputeFlags(&m, nullptr);
    EXPECT_EQ(m.flags & 3u, 3u);
    EXPECT_EQ(m.flags & 0x100u, 0x100u);  // other bits kept
    // Identity error 3 x (k - 1)^2 ~ 0.0018: identity too.
    EXPECT_EQ(m.flags & MATRIX_IDENTITY, MATRIX_IDENTITY);
    // Row lengths squared 1.1: 3 x 0.01 = 0.03 > 0.01.
    k = std::sqrt(1.1f);
    m = Make({k, 0, 0}, {0, k, 0}, {0, 0, k}, {0, 0, 0});
    Matrix_RecomputeFlags(&m, nullptr);
    EXPECT_EQ(m.flags & 3u, 2u);
    // Skewed: at.up = 0.2, squared 0.04 > 0.01.
    m = Make({1, 0, 0}, {0, 1, 0}, {0, 0.2f, std::sqrt(0.96f)}, {5, 0, 0});
    Matrix_RecomputeFlags(&m, nullptr);
    EXPECT_EQ(m.flags & 3u, 1u);
    EXPECT_EQ(m.flags & MATRIX_IDENTITY, 0u);
}
