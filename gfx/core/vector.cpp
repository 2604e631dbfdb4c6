#include "gfx/core/vector.h"

#include "gfx/core/error.h"
#include "gfx/core/matrix.h"

namespace {

struct VectorModule {
    VectorTransformFn points;
    VectorTransformFn vectors;
};

VectorModule g_vector = {Vector3_TransformPointsPortable, Vector3_TransformVectorsPortable};

}  // namespace

float Vector3_Length(const Vec3* v) { return Vec3_Length(v); }
float Vector2_Length(const Vec2* v) { return Vec2_Length(v); }

float Vector3_Normalize(Vec3* out, const Vec3* in)
{
    float length = Vec3_NormaliseTo(out, in);
    if (!(length > 0.0f)) Error_Raise(ERR_ZERO_VECTOR);
    return length;
}

Vec3* Vector3_TransformPointsPortable(Vec3* out, const Vec3* in, int32_t n, const Matrix* m)
{
    for (int32_t i = 0; i < n; i++) {
        Vec3 p = in[i];
        out[i].x = p.x * m->right.x + p.y * m->up.x + p.z * m->at.x + m->pos.x;
        out[i].y = p.x * m->right.y + p.y * m->up.y + p.z * m->at.y + m->pos.y;
        out[i].z = p.x * m->right.z + p.y * m->up.z + p.z * m->at.z + m->pos.z;
    }
    return out;
}

Vec3* Vector3_TransformVectorsPortable(Vec3* out, const Vec3* in, int32_t n, const Matrix* m)
{
    for (int32_t i = 0; i < n; i++) {
        Vec3 p = in[i];
        out[i].x = p.x * m->right.x + p.y * m->up.x + p.z * m->at.x;
        out[i].y = p.x * m->right.y + p.y * m->up.y + p.z * m->at.y;
        out[i].z = p.x * m->right.z + p.y * m->up.z + p.z * m->at.z;
    }
    return out;
}

Vec3* Vector3_TransformPoints(Vec3* out, const Vec3* in, int32_t n, const Matrix* m)
{
    return g_vector.points(out, in, n, m);
}

Vec3* Vector3_TransformVectors(Vec3* out, const Vec3* in, int32_t n, const Matrix* m)
{
    return g_vector.vectors(out, in, n, m);
}

void Vector_SetTransformFunctions(VectorTransformFn points, VectorTransformFn vectors)
{
    g_vector.points = points ? points : Vector3_TransformPointsPortable;
    g_vector.vectors = vectors ? vectors : Vector3_TransformVectorsPortable;
}

BoundingBox* BoundingBox_Initialize(BoundingBox* box, const Vec3* point)
{
    box->sup = box->inf = *point;
    return box;
}

BoundingBox* BoundingBox_AddPoint(BoundingBox* box, const Vec3* p)
{
    if (p->x < box->inf.x) box->inf.x = p->x;
    if (p->y < box->inf.y) box->inf.y = p->y;
    if (p->z < box->inf.z) box->inf.z = p->z;
    if (p->x > box->sup.x) box->sup.x = p->x;
    if (p->y > box->sup.y) box->sup.y = p->y;
    if (p->z > box->sup.z) box->sup.z = p->z;
    return box;
}

BoundingBox* BoundingBox_Calculate(BoundingBox* box, const Vec3* points, int32_t n)
{
    BoundingBox_Initialize(box, &points[0]);
    for (int32_t i = 1; i < n; i++) BoundingBox_AddPoint(box, &points[i]);
    return box;
}

void* Vector_ModuleOpen(void* instance, int32_t, int32_t)
{
    Vector_SetTransformFunctions(nullptr, nullptr);
    return instance;
}

void* Vector_ModuleClose(void* instance, int32_t, int32_t) { return instance; }
