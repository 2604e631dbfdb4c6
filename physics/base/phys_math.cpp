#include "physics/base/phys_math.h"

Quat Quat_FromAxisAngle(Vec3 axis, float angle) {
  Vec3 a = Vec3_Unit(axis);
  float s = std::sin(angle * 0.5f);
  return Quat_Normalize({a.x * s, a.y * s, a.z * s, std::cos(angle * 0.5f)});
}

Mat3 Mat3_Identity() { return Mat3{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}; }
Mat3 Mat3_Zero() { return Mat3{{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}}; }
Mat3 Mat3_Diagonal(Vec3 d) { return Mat3{{{d.x, 0, 0}, {0, d.y, 0}, {0, 0, d.z}}}; }

Mat3 Mat3_Transpose(const Mat3& m) {
  return Mat3{{{m.r[0].x, m.r[1].x, m.r[2].x},
               {m.r[0].y, m.r[1].y, m.r[2].y},
               {m.r[0].z, m.r[1].z, m.r[2].z}}};
}

Mat3 Mat3_MulMat(const Mat3& a, const Mat3& b) {
  Mat3 bt = Mat3_Transpose(b);
  Mat3 out;
  for (int i = 0; i < 3; ++i)
    out.r[i] = {Vec3_Dot(a.r[i], bt.r[0]), Vec3_Dot(a.r[i], bt.r[1]), Vec3_Dot(a.r[i], bt.r[2])};
  return out;
}

Mat3 Mat3_Add(const Mat3& a, const Mat3& b) {
  return Mat3{{a.r[0] + b.r[0], a.r[1] + b.r[1], a.r[2] + b.r[2]}};
}
Mat3 Mat3_Scale(const Mat3& a, float s) { return Mat3{{a.r[0] * s, a.r[1] * s, a.r[2] * s}}; }

Mat3 Mat3_FromQuat(Quat q) {
  float xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
  float xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
  float wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
  return Mat3{{{1 - 2 * (yy + zz), 2 * (xy - wz), 2 * (xz + wy)},
               {2 * (xy + wz), 1 - 2 * (xx + zz), 2 * (yz - wx)},
               {2 * (xz - wy), 2 * (yz + wx), 1 - 2 * (xx + yy)}}};
}

int Mat3_Invert(const Mat3& m, Mat3* out) {
  Vec3 c0 = Vec3_Cross(m.r[1], m.r[2]);
  Vec3 c1 = Vec3_Cross(m.r[2], m.r[0]);
  Vec3 c2 = Vec3_Cross(m.r[0], m.r[1]);
  float det = Vec3_Dot(m.r[0], c0);
  if (!std::isfinite(det) || std::fabs(det) < 1e-30f) return 0;
  float k = 1.0f / det;
  *out = Mat3_Transpose(Mat3{{c0 * k, c1 * k, c2 * k}});
  return 1;
}

Mat3 Mat3_RotateTensor(Quat q, const Mat3& m) {
  // (r m) r^T, row by row, without the temporaries of two products.
  Mat3 r = Mat3_FromQuat(q);
  Vec3 c0{m.r[0].x, m.r[1].x, m.r[2].x}, c1{m.r[0].y, m.r[1].y, m.r[2].y}, c2{m.r[0].z, m.r[1].z, m.r[2].z};
  Mat3 out;
  for (int i = 0; i < 3; ++i) {
    Vec3 t{Vec3_Dot(r.r[i], c0), Vec3_Dot(r.r[i], c1), Vec3_Dot(r.r[i], c2)};
    out.r[i] = {Vec3_Dot(t, r.r[0]), Vec3_Dot(t, r.r[1]), Vec3_Dot(t, r.r[2])};
  }
  return out;
}

void Mat3_EigenSymmetric(const Mat3& m, Vec3* eigenvalues, Mat3* eigenvectors) {
  double a[3][3], v[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a[i][j] = Vec3_Get(m.r[i], j);
  for (int sweep = 0; sweep < 32; ++sweep) {
    double off = a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
    if (off < 1e-24) break;
    for (int p = 0; p < 2; ++p) {
      for (int q = p + 1; q < 3; ++q) {
        if (std::fabs(a[p][q]) < 1e-30) continue;
        double theta = (a[q][q] - a[p][p]) / (2 * a[p][q]);
        double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
        double c = 1 / std::sqrt(t * t + 1), s = t * c;
        for (int k = 0; k < 3; ++k) {  // a = J^T a J
          double akp = a[k][p], akq = a[k][q];
          a[k][p] = c * akp - s * akq;
          a[k][q] = s * akp + c * akq;
        }
        for (int k = 0; k < 3; ++k) {
          double apk = a[p][k], aqk = a[q][k];
          a[p][k] = c * apk - s * aqk;
          a[q][k] = s * apk + c * aqk;
        }
        for (int k = 0; k < 3; ++k) {
          double vkp = v[k][p], vkq = v[k][q];
          v[k][p] = c * vkp - s * vkq;
          v[k][q] = s * vkp + c * vkq;
        }
      }
    }
  }
  *eigenvalues = {float(a[0][0]), float(a[1][1]), float(a[2][2])};
  for (int i = 0; i < 3; ++i)
    eigenvectors->r[i] = {float(v[i][0]), float(v[i][1]), float(v[i][2])};
}

void Matrix3_FromQuaternion(Mat3* out, Quat q) {
  if (out) *out = Mat3_Transpose(Mat3_FromQuat(Quat_Normalize(q)));
}

void Quaternion_FromMatrix3(Quat* out, const Mat3* rows) {
  if (!out || !rows) return;
  Mat3 m = Mat3_Transpose(*rows);  // column-vector rotation
  float tr = m.r[0].x + m.r[1].y + m.r[2].z;
  Quat q;
  if (tr > 0) {
    float s = std::sqrt(tr + 1.0f) * 2;
    q = {(m.r[2].y - m.r[1].z) / s, (m.r[0].z - m.r[2].x) / s, (m.r[1].x - m.r[0].y) / s, 0.25f * s};
  } else if (m.r[0].x > m.r[1].y && m.r[0].x > m.r[2].z) {
    float s = std::sqrt(1.0f + m.r[0].x - m.r[1].y - m.r[2].z) * 2;
    q = {0.25f * s, (m.r[0].y + m.r[1].x) / s, (m.r[0].z + m.r[2].x) / s, (m.r[2].y - m.r[1].z) / s};
  } else if (m.r[1].y > m.r[2].z) {
    float s = std::sqrt(1.0f + m.r[1].y - m.r[0].x - m.r[2].z) * 2;
    q = {(m.r[0].y + m.r[1].x) / s, 0.25f * s, (m.r[1].z + m.r[2].y) / s, (m.r[0].z - m.r[2].x) / s};
  } else {
    float s = std::sqrt(1.0f + m.r[2].z - m.r[0].x - m.r[1].y) * 2;
    q = {(m.r[0].z + m.r[2].x) / s, (m.r[1].z + m.r[2].y) / s, 0.25f * s, (m.r[1].x - m.r[0].y) / s};
  }
  *out = Quat_Normalize(q);
}

void Transform_SetIdentity(Transform* t) {
  if (!t) return;
  t->rotation = Quat_Identity();
  t->position = {0, 0, 0};
}

Transform Transform_Mul(const Transform& a, const Transform& b) {
  return Transform{Quat_Normalize(a.rotation * b.rotation), Transform_Apply(a, b.position)};
}
