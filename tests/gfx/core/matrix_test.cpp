// Matrices and vectors.
#include "gfx/core/matrix.h"

#include <algorithm>
#include <cmath>

#include "gfx/core/vector.h"
#include "tests/gfx/core/image_fixture.h"

using testdriver::ExpectNear;

namespace {

Matrix Make(Vec3 r, Vec3 u, Vec3 a, Vec3 p, uint32_t flags = 0)
{
    Matrix m = {};
    m.right = r, m.up = u, m.at = a, m.pos = p, m.flags = flags;
    return m;
}

Matrix RandomAffine(std::mt19937& rng)
{
    std::uniform_real_distribution<float> d(-2.0f, 2.0f);
    return Make({d(rng), d(rng), d(rng)}, {d(rng), d(rng), d(rng)}, {d(rng), d(rng), d(rng)}, {d(rng), d(rng), d(rng)});
}

// Expects the rows of m to be the rows of the double-precision product a x b.
void ExpectProduct(const Matrix& m, const Matrix& a, const Matrix& b)
{
    const Vec3 *ar[4] = {&a.right, &a.up, &a.at, &a.pos}, *mr[4] = {&m.right, &m.up, &m.at, &m.pos};
    for (int i = 0; i < 4; i++) {
        const double x = ar[i]->x, y = ar[i]->y, z = ar[i]->z, w = i == 3;
        EXPECT_NEAR(mr[i]->x, x * b.right.x + y * b.up.x + z * b.at.x + w * b.pos.x, 1e-4);
        EXPECT_NEAR(mr[i]->y, x * b.right.y + y * b.up.y + z * b.at.y + w * b.pos.y, 1e-4);
        EXPECT_NEAR(mr[i]->z, x * b.right.z + y * b.up.z + z * b.at.z + w * b.pos.z, 1e-4);
    }
}

}  // namespace

TEST(Matrix, MultiplyMatchesADoubleReferenceAliasesSafelyAndCopiesIdentityOperands)
{
    std::mt19937 rng(3);
    for (int i = 0; i < 50; i++) {
        Matrix a = RandomAffine(rng), b = RandomAffine(rng), out;
        const Matrix original = a;
        Matrix_Multiply(&out, &a, &b);
        ExpectProduct(out, original, b);
        Matrix_Multiply(&a, &a, &b);  // output is the first input
        ExpectProduct(a, original, b);
    }
    // An identity operand copies the other one, flags included.
    Matrix id, other = Make({2, 0, 0}, {0, 3, 0}, {0, 0, 4}, {1, 2, 3}, 0x40), out;
    Matrix_SetIdentity(&id);
    for (bool idFirst : {true, false}) {
        Matrix_Multiply(&out, idFirst ? &id : &other, idFirst ? &other : &id);
        EXPECT_EQ(out.flags, 0x40u);
        EXPECT_EQ(memcmp(&out.right, &other.right, sizeof(Vec3)), 0);
        EXPECT_EQ(out.pos.z, 3.0f);
    }
}

TEST(Matrix, RotateScaleAndTranslateCombineInTheStatedOrder)
{
    Matrix m, post, pre;
    Matrix_SetIdentity(&m);
    Vec3 z = {0, 0, 2}, y = {0, 1, 0}, t = {1, 0, 0}, s = {2, 3, 4};  // axes are normalised inside
    Matrix_Rotate(&m, &z, 90.0f, COMBINE_REPLACE);
    ExpectNear(m.right, {0, 1, 0});
    EXPECT_EQ(m.flags, 3u);
    // About +y it takes at (+z) to +x (the engine layer's Vec3_RotateAxis: to -x).
    Matrix_Rotate(&m, &y, 90.0f, COMBINE_REPLACE);
    ExpectNear(m.at, {1, 0, 0});
    // Pre: the new transform applies first, so it leaves the translation alone.
    for (Matrix* r : {&post, &pre}) {
        Matrix_SetIdentity(r);
        Matrix_Translate(r, &t, COMBINE_REPLACE);
        Matrix_Rotate(r, &z, 90.0f, r == &pre ? COMBINE_PRECONCAT : COMBINE_POSTCONCAT);
    }
    ExpectNear(post.pos, {0, 1, 0});
    ExpectNear(pre.pos, {1, 0, 0});
    ExpectNear(pre.right, {0, 1, 0});
    Matrix_Scale(&pre, &s, COMBINE_POSTCONCAT);
    EXPECT_NEAR(pre.pos.x, 2.0f, 1e-6f);
    EXPECT_EQ(pre.flags & MATRIX_IDENTITY_FLAGS, 0u);
    Matrix_Translate(&pre, &t, COMBINE_PRECONCAT);  // along the scaled, rotated right
    EXPECT_NEAR(pre.pos.y, 3.0f, 1e-5f);
    // Another combination is refused and changes nothing.
    const Matrix before = pre;
    Error_Get(nullptr);
    EXPECT_EQ(Matrix_Translate(&pre, &t, 7), nullptr);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_BAD_COMBINATION);
    EXPECT_EQ(Matrix_Scale(&pre, &s, 3), nullptr);
    EXPECT_EQ(Matrix_Rotate(&pre, &z, 1.0f, 3), nullptr);
    EXPECT_EQ(memcmp(&before, &pre, sizeof(Matrix)), 0);
    Error_Get(nullptr);
}

TEST(Vector, NormalizeTransformAndBound)
{
    Error_Get(nullptr);
    Vec3 v = {3, 0, 4}, zero = {0, 0, 0}, out[2];
    EXPECT_NEAR(Vector3_Normalize(out, &v), 5.0f, 1e-3f);
    ExpectNear(out[0], {0.6f, 0, 0.8f}, 1e-3f);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_NO_ERROR);
    EXPECT_EQ(Vector3_Normalize(out, &zero), 0.0f);
    EXPECT_EQ(out[0].x, 0.0f);
    EXPECT_EQ(Error_TakeCode(), ERR_ZERO_VECTOR);
    const Matrix m = Make({0, 1, 0}, {-1, 0, 0}, {0, 0, 1}, {10, 20, 30});
    const Vec3 in[2] = {{1, 0, 0}, {0, 2, 0}};
    Vector3_TransformPoints(out, in, 2, &m);
    ExpectNear(out[0], {10, 21, 30}, 0);
    ExpectNear(out[1], {8, 20, 30}, 0);
    Vector3_TransformVectors(out, in, 2, &m);
    ExpectNear(out[0], {0, 1, 0}, 0);
    ExpectNear(out[1], {-2, 0, 0}, 0);
    BoundingBox box;
    const Vec3 pts[3] = {{1, 5, -1}, {-2, 0, 3}, {0, 1, 0}};
    BoundingBox_Calculate(&box, pts, 1);
    ExpectNear(box.inf, pts[0], 0);
    ExpectNear(box.sup, pts[0], 0);
    BoundingBox_Calculate(&box, pts, 3);
    ExpectNear(box.inf, {-2, 0, -1}, 0);
    ExpectNear(box.sup, {1, 5, 3}, 0);
}
