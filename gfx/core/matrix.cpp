#include "gfx/core/matrix.h"

#include <cmath>
#include <initializer_list>
#include <cstring>

#include "common/assert.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/freelist.h"

namespace {

struct MatrixModule {
    FreeList* matrices;  // null until the module opens; then Matrix_Create takes from it
    uint32_t identityMask;
    MatrixMultiplyFn multiply;
    MatrixTolerance tolerance;
};

MatrixModule g_matrix = {nullptr, MATRIX_IDENTITY, Matrix_MultiplyPortable, {0.01f, 0.01f, 0.01f}};

inline float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

inline Vec3 RowTimes3x3(const Vec3& r, const Matrix* b)
{
    return {r.x * b->right.x + r.y * b->up.x + r.z * b->at.x, r.x * b->right.y + r.y * b->up.y + r.z * b->at.y,
            r.x * b->right.z + r.y * b->up.z + r.z * b->at.z};
}

// Multiply through the module function; through a temporary only when out
// aliases an input.
void ModuleMultiply(Matrix* out, const Matrix* a, const Matrix* b)
{
    if (out != a && out != b) {
        g_matrix.multiply(out, a, b);
        return;
    }
    Matrix r;
    r.flags = out->flags;
    r.pad1 = r.pad2 = r.pad3 = 0;
    g_matrix.multiply(&r, a, b);
    uint32_t flags = out->flags;
    *out = r;
    out->flags = flags;
}

bool ValidCombine(uint32_t combine)
{
    if (combine <= COMBINE_POSTCONCAT) return true;
    Error_Raise(ERR_BAD_COMBINATION);
    return false;
}

}  // namespace

Matrix* Matrix_SetIdentity(Matrix* m)
{
    memset(m, 0, sizeof(*m));
    m->right.x = m->up.y = m->at.z = 1.0f;
    m->flags = MATRIX_IDENTITY_FLAGS;
    return m;
}

Matrix* Matrix_Create(void)
{
    Matrix* m = g_matrix.matrices ? (Matrix*)FreeList_Alloc(g_matrix.matrices) : nullptr;
    if (!m) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    return Matrix_SetIdentity(m);
}

int32_t Matrix_Destroy(Matrix* m)
{
    if (m && g_matrix.matrices) FreeList_Free(g_matrix.matrices, m);
    return 1;
}

Matrix* Matrix_Copy(Matrix* dst, const Matrix* src)
{
    *dst = *src;
    return dst;
}

void Matrix_MultiplyPortable(Matrix* out, const Matrix* a, const Matrix* b)
{
    HELM_ASSERT(out != a && out != b);  // Matrix_Multiply goes through a temporary then
    out->right = RowTimes3x3(a->right, b);
    out->up = RowTimes3x3(a->up, b);
    out->at = RowTimes3x3(a->at, b);
    Vec3 p = RowTimes3x3(a->pos, b);
    out->pos = {p.x + b->pos.x, p.y + b->pos.y, p.z + b->pos.z};
}

void Matrix_SetMultiplyFunction(MatrixMultiplyFn multiply)
{
    g_matrix.multiply = multiply ? multiply : Matrix_MultiplyPortable;
}

Matrix* Matrix_Multiply(Matrix* out, const Matrix* a, const Matrix* b)
{
    if (a->flags & g_matrix.identityMask) {
        *out = *b;
    } else if (b->flags & g_matrix.identityMask) {
        *out = *a;
    } else {
        uint32_t flags = a->flags & b->flags;
        ModuleMultiply(out, a, b);
        out->flags = flags;
    }
    return out;
}

Matrix* Matrix_Invert(Matrix* out, const Matrix* in)
{
    if (in->flags & MATRIX_IDENTITY) {
        *out = *in;
        return out;
    }
    Matrix r;
    memset(&r, 0, sizeof(r));
    if ((in->flags & MATRIX_ORTHONORMAL) == MATRIX_ORTHONORMAL) {
        r.right = {in->right.x, in->up.x, in->at.x};
        r.up = {in->right.y, in->up.y, in->at.y};
        r.at = {in->right.z, in->up.z, in->at.z};
        r.pos = {-Dot(in->pos, in->right), -Dot(in->pos, in->up), -Dot(in->pos, in->at)};
        r.flags = MATRIX_ORTHONORMAL;
    } else {
        const Vec3 &x = in->right, &y = in->up, &z = in->at;
        // Adjugate (transposed cofactors) of the 3 x 3 part.
        r.right = {y.y * z.z - y.z * z.y, x.z * z.y - x.y * z.z, x.y * y.z - x.z * y.y};
        r.up = {y.z * z.x - y.x * z.z, x.x * z.z - x.z * z.x, x.z * y.x - x.x * y.z};
        r.at = {y.x * z.y - y.y * z.x, x.y * z.x - x.x * z.y, x.x * y.y - x.y * y.x};
        float det = x.x * r.right.x + x.y * r.up.x + x.z * r.at.x;
        float inv = det == 0.0f ? 1.0f : 1.0f / det;  // == also catches -0
        for (Vec3* row : {&r.right, &r.up, &r.at}) *row = {row->x * inv, row->y * inv, row->z * inv};
        Vec3 p = RowTimes3x3(in->pos, &r);
        r.pos = {-p.x, -p.y, -p.z};
        r.flags = 0;
    }
    *out = r;
    return out;
}

Matrix* Matrix_RotateOneMinusCosineSine(Matrix* m, const Vec3* axis, float c1, float s, uint32_t combine)
{
    if (!ValidCombine(combine)) return nullptr;
    float x = axis->x, y = axis->y, z = axis->z;
    Matrix r;
    memset(&r, 0, sizeof(r));
    r.right = {1.0f - (1.0f - x * x) * c1, x * y * c1 + z * s, z * x * c1 - y * s};
    r.up = {x * y * c1 - z * s, 1.0f - (1.0f - y * y) * c1, y * z * c1 + x * s};
    r.at = {z * x * c1 + y * s, y * z * c1 - x * s, 1.0f - (1.0f - z * z) * c1};
    r.flags = MATRIX_ORTHONORMAL;
    if (combine == COMBINE_REPLACE || (m->flags & MATRIX_IDENTITY)) {
        *m = r;
        return m;
    }
    uint32_t flags = m->flags & MATRIX_ORTHONORMAL;
    if (combine == COMBINE_PRECONCAT) ModuleMultiply(m, &r, m);
    else ModuleMultiply(m, m, &r);
    m->flags = flags;
    return m;
}

Matrix* Matrix_Rotate(Matrix* m, const Vec3* axis, float degrees, uint32_t combine)
{
    if (!ValidCombine(combine)) return nullptr;
    float inv = Math_InvSqrtTable(Vec3_LengthSq(axis));
    Vec3 unit = {axis->x * inv, axis->y * inv, axis->z * inv};
    float theta = degrees * 0.017453292f;
    return Matrix_RotateOneMinusCosineSine(m, &unit, 1.0f - std::cos(theta), std::sin(theta), combine);
}

Matrix* Matrix_Scale(Matrix* m, const Vec3* s, uint32_t combine)
{
    if (!ValidCombine(combine)) return nullptr;
    if (combine == COMBINE_REPLACE) {
        uint32_t flags = m->flags & ~MATRIX_IDENTITY_FLAGS;
        Matrix_SetIdentity(m);
        m->right.x = s->x;
        m->up.y = s->y;
        m->at.z = s->z;
        m->flags = flags;
    } else if (combine == COMBINE_PRECONCAT) {
        m->right = {m->right.x * s->x, m->right.y * s->x, m->right.z * s->x};
        m->up = {m->up.x * s->y, m->up.y * s->y, m->up.z * s->y};
        m->at = {m->at.x * s->z, m->at.y * s->z, m->at.z * s->z};
        m->flags &= ~MATRIX_IDENTITY_FLAGS;
    } else {
        for (Vec3* row : {&m->right, &m->up, &m->at, &m->pos}) *row = {row->x * s->x, row->y * s->y, row->z * s->z};
        m->flags &= ~MATRIX_IDENTITY_FLAGS;
    }
    return m;
}

Matrix* Matrix_Translate(Matrix* m, const Vec3* t, uint32_t combine)
{
    if (!ValidCombine(combine)) return nullptr;
    if (combine == COMBINE_REPLACE) {
        uint32_t flags = (m->flags | MATRIX_ORTHONORMAL) & ~MATRIX_IDENTITY;
        Matrix_SetIdentity(m);
        m->pos = *t;
        m->flags = flags;
    } else if (combine == COMBINE_PRECONCAT) {
        m->pos.x += t->x * m->right.x + t->y * m->up.x + t->z * m->at.x;
        m->pos.y += t->x * m->right.y + t->y * m->up.y + t->z * m->at.y;
        m->pos.z += t->x * m->right.z + t->y * m->up.z + t->z * m->at.z;
        m->flags &= ~MATRIX_IDENTITY;
    } else {
        m->pos = {m->pos.x + t->x, m->pos.y + t->y, m->pos.z + t->z};
        m->flags &= ~MATRIX_IDENTITY;
    }
    return m;
}

Matrix* Matrix_RecomputeFlags(Matrix* m, const MatrixTolerance* tolerance)
{
    const MatrixTolerance* tol = tolerance ? tolerance : &g_matrix.tolerance;
    float nr = Dot(m->right, m->right) - 1.0f, nu = Dot(m->up, m->up) - 1.0f, na = Dot(m->at, m->at) - 1.0f;
    float normalError = nr * nr + nu * nu + na * na;
    float au = Dot(m->at, m->up), ar = Dot(m->at, m->right), ur = Dot(m->up, m->right);
    float orthoError = au * au + ar * ar + ur * ur;
    uint32_t flags = m->flags & ~MATRIX_IDENTITY_FLAGS;
    if (normalError <= tol->normal) flags |= MATRIX_UNIT_ROWS;
    if (orthoError <= tol->orthogonal) flags |= MATRIX_PERPENDICULAR;
    if ((flags & MATRIX_ORTHONORMAL) == MATRIX_ORTHONORMAL) {
        const float id[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
        const float v[12] = {m->right.x, m->right.y, m->right.z, m->up.x,  m->up.y,  m->up.z,
                             m->at.x,    m->at.y,    m->at.z,    m->pos.x, m->pos.y, m->pos.z};
        float identityError = 0.0f;
        for (int i = 0; i < 12; i++) identityError += (v[i] - id[i]) * (v[i] - id[i]);
        if (identityError <= tol->identity) flags |= MATRIX_IDENTITY;
    }
    m->flags = flags;
    return m;
}

void Matrix_MarkChanged(Matrix* m) { m->flags &= ~MATRIX_IDENTITY_FLAGS; }

void* Matrix_ModuleOpen(void* instance, int32_t, int32_t)
{
    g_matrix.matrices = FreeList_CreateEx(sizeof(Matrix), 50, 16, 0, nullptr);
    if (!g_matrix.matrices) return nullptr;
    g_matrix.identityMask = MATRIX_IDENTITY;
    g_matrix.multiply = Matrix_MultiplyPortable;
    g_matrix.tolerance = {0.01f, 0.01f, 0.01f};
    return instance;
}

void* Matrix_ModuleClose(void* instance, int32_t, int32_t)
{
    FreeList_Destroy(g_matrix.matrices);
    g_matrix.matrices = nullptr;
    return instance;
}
