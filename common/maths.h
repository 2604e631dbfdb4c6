// Maths for every layer: vectors, 4 x 4 matrices, the table square roots the
// graphics engine uses for lengths, and the angle helpers of game movement.
//
// Conventions: matrices hold four rows (right, up, at, position) and points
// are row vectors multiplied from the left. Headings are measured in the x-z
// plane from +z towards +x. A positive angle about +y turns +z towards -x
// (Vec3_RotateAxis, Mat4_FromAxisAngle and Vec3_RotatedHeading agree on it).
// Outputs may alias inputs everywhere. No function keeps state.
#pragma once
#include <cstdint>

struct Vec3 {
    float x, y, z;
};

struct Vec2 {
    float x, y;
};

struct Quat {
    float x, y, z, w;
};

// m[row][column]; rows right, up, at, position.
struct Mat4 {
    float m[4][4];
};

// Square root and inverse square root from 4096-entry tables (relative error
// about 2^-13 for normal floats; denormals are not supported). 0 gives 0.
float Math_SqrtTable(float x);
float Math_InvSqrtTable(float x);

// rand()-based randoms in steps of 0.0001: [-1, 1) and [a, b).
float Math_RandomUnit(void);
float Math_RandomRange(float a, float b);
// Each component Math_RandomUnit (x, then y, then z): not normalised.
Vec3* Vec3_Random(Vec3* out);

float Vec3_LengthSq(const Vec3* v);
float Vec3_Length(const Vec3* v);  // table square root
float Vec3_DistanceSq(const Vec3* a, const Vec3* b);
float Vec3_Distance(const Vec3* a, const Vec3* b);
Vec3* Vec3_Add(Vec3* out, const Vec3* a, const Vec3* b);
Vec3* Vec3_Sub(Vec3* out, const Vec3* a, const Vec3* b);
Vec3* Vec3_Scale(Vec3* out, const Vec3* a, float s);
Vec3* Vec3_Cross(Vec3* out, const Vec3* a, const Vec3* b);
float Vec3_Dot(const Vec3* a, const Vec3* b);
Vec3* Vec3_Lerp(Vec3* out, const Vec3* a, const Vec3* b, float t);
// Normalises in place with the table inverse square root; a zero vector
// stays zero. Returns v.
Vec3* Vec3_Normalise(Vec3* v);
// out = in normalised (zero stays zero); returns the former length.
float Vec3_NormaliseTo(Vec3* out, const Vec3* in);

Vec2* Vec2_Add(Vec2* out, const Vec2* a, const Vec2* b);
Vec2* Vec2_Lerp(Vec2* out, const Vec2* a, const Vec2* b, float t);
float Vec2_Length(const Vec2* v);  // table square root
Vec2* Vec2_Normalise(Vec2* v);

float Math_Lerp(float a, float b, float t);
// (v - a) / (b - a); 0 when a == b.
float Math_InvLerp(float v, float a, float b);
float Math_Pow(float x, float y);

// Normalised (p1 - p0) x (p2 - p1).
Vec3* Triangle_Normal(Vec3* out, const Vec3* p0, const Vec3* p1, const Vec3* p2);

Mat4* Mat4_Identity(Mat4* out);
Mat4* Mat4_Multiply(Mat4* out, const Mat4* a, const Mat4* b);  // a x b
// (x, y, z, 1) x m divided by the resulting w (not divided when w is 0).
Vec3* Mat4_TransformPoint(Vec3* out, const Vec3* point, const Mat4* m);
float Mat4_Determinant(const Mat4* m);
// General inverse; a zero determinant (either sign) divides by 1 instead, so
// a singular matrix gives the adjugate rather than infinities.
Mat4* Mat4_Invert(Mat4* out, const Mat4* m);
// Inverse of a rotation-and-translation matrix (3 x 3 by cofactors, position
// by back-substitution); the last column is set to (0, 0, 0, 1).
Mat4* Mat4_InvertAffine(Mat4* out, const Mat4* m);
// Rotation about the (normalised) axis; position row from translation or 0.
Mat4* Mat4_FromAxisAngle(Mat4* out, const Vec3* axis, float angle, const Vec3* translation);
Vec3* Vec3_RotateAxis(Vec3* out, const Vec3* v, const Vec3* axis, float angle);
void Mat4_GetAtUp(const Mat4* m, Vec3* at, Vec3* up);
// Orthonormal frame: at normalised, right = up x at, up = at x right.
Mat4* Mat4_FromAtUp(Mat4* out, const Vec3* position, const Vec3* at, const Vec3* up);
Quat* Quat_FromMatrix(Quat* out, const Mat4* m);

// Distance from p to the segment a-b (|p - a| when a == b).
float Vec3_DistanceToLine(const Vec3* p, const Vec3* a, const Vec3* b);
// t with point + t x normal on the plane through planePoint; -1 for a zero normal.
float Plane_RayParam(const Vec3* planePoint, const Vec3* point, const Vec3* normal);

float Vec3_Heading(const Vec3* v);  // [0, 2 pi)
float Vec3_Pitch(const Vec3* v);    // acos(y) of a unit vector, clamped
// Heading of v turned by angle about +y; 0 for a null vector.
float Vec3_RotatedHeading(float angle, const Vec3* v);
// Shortest difference from a to b in one turn (2 pi or 360); signed gives
// -half for exactly half a turn.
float Angle_Diff(float a, float b, int32_t isSigned, int32_t radians);
float Angle_ClampToArc(float angle, float a, float b);
float Math_MoveTowards(float value, float target, float step);
// A float from data as an integer: truncated toward zero, NaN as 0, values
// beyond the int32 range clamped (a plain cast of those is undefined).
int32_t Math_TruncToInt(float value);
// a + b held within the int32 range: scores and stocks grow by values from
// data, which may be as large as an int32 holds.
int32_t Math_AddClamped(int32_t a, int32_t b);
// from + (to - from) x min(|to - from|, t): the difference is not normalised.
Vec3* Vec3_MoveTowards(Vec3* out, const Vec3* from, const Vec3* to, float t);
