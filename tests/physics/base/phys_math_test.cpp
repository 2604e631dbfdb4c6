#include "physics/base/phys_math.h"

#include <gtest/gtest.h>

namespace {
void ExpectNear(Vec3 a, Vec3 b, float eps = 1e-5f) {
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}
}  // namespace

TEST(PhysMath, MatrixRowsAreTheRotatedAxesAndConvertBack) {
  Quat q = Quat_FromAxisAngle(V3(0, 1, 0), 1.5707963f);  // x turns to -z
  Mat3 m;
  Matrix3_FromQuaternion(&m, q);
  ExpectNear(m.r[0], Quat_Rotate(q, V3(1, 0, 0)));
  ExpectNear(m.r[0], V3(0, 0, -1));
  ExpectNear(m.r[1], V3(0, 1, 0));
  ExpectNear(m.r[2], V3(1, 0, 0));
  for (Quat in : {q, Quat_FromAxisAngle(V3(1, 2, 3), 2.9f), Quat_FromAxisAngle(V3(-1, 0, 1), 3.1f),
                  Quat_Identity()}) {
    Matrix3_FromQuaternion(&m, in);
    Quat back;
    Quaternion_FromMatrix3(&back, &m);
    for (Vec3 v : {V3(1, 0, 0), V3(0, 1, 0), V3(0.3f, -2, 5)})
      ExpectNear(Quat_Rotate(back, v), Quat_Rotate(in, v), 1e-4f);
  }
}

TEST(PhysMath, InverseEigenAndTransformsAgree) {
  Mat3 a{{{4, 1, 0}, {1, 3, 1}, {0, 1, 2}}};
  Mat3 inv;
  ASSERT_TRUE(Mat3_Invert(a, &inv));
  Mat3 id = Mat3_MulMat(a, inv);
  ExpectNear(id.r[0], V3(1, 0, 0));
  ExpectNear(id.r[2], V3(0, 0, 1));
  EXPECT_FALSE(Mat3_Invert(Mat3_Zero(), &inv));
  Vec3 d;
  Mat3 v;
  Mat3_EigenSymmetric(a, &d, &v);
  for (int i = 0; i < 3; ++i) {
    Vec3 col{v.r[0].x, v.r[1].x, v.r[2].x};
    if (i == 1) col = {v.r[0].y, v.r[1].y, v.r[2].y};
    if (i == 2) col = {v.r[0].z, v.r[1].z, v.r[2].z};
    ExpectNear(Mat3_Mul(a, col), col * Vec3_Get(d, i), 1e-4f);
  }
  Transform t{Quat_FromAxisAngle(V3(0, 0, 1), 0.7f), V3(1, 2, 3)};
  Vec3 p{0.5f, -1, 2};
  ExpectNear(Transform_ApplyInv(t, Transform_Apply(t, p)), p);
  Transform_SetIdentity(&t);
  ExpectNear(Transform_Apply(t, p), p);
  // Degenerate input stays finite.
  Quat n = Quat_Normalize({0, 0, 0, 0});
  EXPECT_EQ(n.w, 1.0f);
  ExpectNear(Vec3_Unit(V3(0, 0, 0)), V3(0, 0, 0));
}
