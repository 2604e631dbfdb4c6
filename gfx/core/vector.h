// Vectors and bounding boxes of the graphics engine. Lengths use the table
// square roots of common/maths.h (no divide or square-root instruction).
// Point and direction transforms go through replaceable functions so that a
// driver can install its own.
#pragma once
#include <cstdint>

#include "common/maths.h"

struct Matrix;

// sup is the maximum corner, inf the minimum.
struct BoundingBox {
    Vec3 sup;
    Vec3 inf;
};

float Vector3_Length(const Vec3* v);
float Vector2_Length(const Vec2* v);
// out = in normalised; returns the former length. A zero vector gives
// out = 0, result 0 and error 25.
float Vector3_Normalize(Vec3* out, const Vec3* in);

typedef Vec3* (*VectorTransformFn)(Vec3* out, const Vec3* in, int32_t n, const Matrix* m);
// out[i] = in[i].x right + in[i].y up + in[i].z at + pos; out may equal in.
Vec3* Vector3_TransformPoints(Vec3* out, const Vec3* in, int32_t n, const Matrix* m);
// The same without pos.
Vec3* Vector3_TransformVectors(Vec3* out, const Vec3* in, int32_t n, const Matrix* m);
// Installs replacements; null restores the portable functions.
void Vector_SetTransformFunctions(VectorTransformFn points, VectorTransformFn vectors);
Vec3* Vector3_TransformPointsPortable(Vec3* out, const Vec3* in, int32_t n, const Matrix* m);
Vec3* Vector3_TransformVectorsPortable(Vec3* out, const Vec3* in, int32_t n, const Matrix* m);

// points: n >= 1.
BoundingBox* BoundingBox_Calculate(BoundingBox* box, const Vec3* points, int32_t n);
BoundingBox* BoundingBox_Initialize(BoundingBox* box, const Vec3* point);
BoundingBox* BoundingBox_AddPoint(BoundingBox* box, const Vec3* point);

// The square-root tables are immutable data shared with the maths library,
// so the module only restores the portable transforms.
void* Vector_ModuleOpen(void* instance, int32_t offset, int32_t size);
void* Vector_ModuleClose(void* instance, int32_t offset, int32_t size);
