// Affine matrices of the graphics engine: rows right, up, at, pos with flags
// that let multiplication and inversion skip work, and building operations
// that replace, pre-concatenate or post-concatenate. Every function accepts
// its output as one of its inputs.
#pragma once
#include <cstdint>

#include "common/maths.h"

struct Matrix {
    Vec3 right;
    uint32_t flags;  // MATRIX_*
    Vec3 up;
    uint32_t pad1;
    Vec3 at;
    uint32_t pad2;
    Vec3 pos;
    uint32_t pad3;
};

enum : uint32_t {
    MATRIX_UNIT_ROWS = 1,       // right, up and at have unit length
    MATRIX_PERPENDICULAR = 2,   // right, up and at are mutually perpendicular
    MATRIX_ORTHONORMAL = 3,
    MATRIX_IDENTITY = 0x20000,
    MATRIX_IDENTITY_FLAGS = 0x20003,
};

enum MatrixCombine : uint32_t {
    COMBINE_REPLACE = 0,
    COMBINE_PRECONCAT = 1,   // the new transform applies first: m = new x m
    COMBINE_POSTCONCAT = 2,  // m = m x new
};

struct MatrixTolerance {
    float normal;
    float orthogonal;
    float identity;
};

// Sets m to the identity with flags 0x20003.
Matrix* Matrix_SetIdentity(Matrix* m);
// A new identity matrix from the matrix free list, or null; Matrix_Destroy
// gives it back.
Matrix* Matrix_Create(void);
int32_t Matrix_Destroy(Matrix* m);
Matrix* Matrix_Copy(Matrix* dst, const Matrix* src);

typedef void (*MatrixMultiplyFn)(Matrix* out, const Matrix* a, const Matrix* b);
// out = a x b. An identity operand copies the other (flags included);
// otherwise out.flags = a.flags & b.flags.
Matrix* Matrix_Multiply(Matrix* out, const Matrix* a, const Matrix* b);
// The product without flags: rows of a times the 3 x 3 of b, pos plus b.pos.
// out must not alias a or b (Matrix_Multiply takes care of that for
// installed multiply functions).
void Matrix_MultiplyPortable(Matrix* out, const Matrix* a, const Matrix* b);
void Matrix_SetMultiplyFunction(MatrixMultiplyFn multiply);  // null restores the portable one

// Identity copies; orthonormal transposes (flags 3); otherwise the general
// inverse (flags 0), where a zero determinant of either sign divides by 1.
Matrix* Matrix_Invert(Matrix* out, const Matrix* in);

// Rotation about axis (normalised here) by degrees; null and 0x80000003 for a
// bad combination (m unchanged).
Matrix* Matrix_Rotate(Matrix* m, const Vec3* axis, float degrees, uint32_t combine);
Matrix* Matrix_RotateOneMinusCosineSine(Matrix* m, const Vec3* unitAxis, float oneMinusCos, float sin,
                                        uint32_t combine);
Matrix* Matrix_Scale(Matrix* m, const Vec3* scale, uint32_t combine);
Matrix* Matrix_Translate(Matrix* m, const Vec3* translation, uint32_t combine);

// Sets bits 0, 1 and the identity flag from the rows (tolerances null: the
// module's 0.01 each); keeps other bits.
Matrix* Matrix_RecomputeFlags(Matrix* m, const MatrixTolerance* tolerance);
// For callers that edit the words directly: clears 0x20003.
void Matrix_MarkChanged(Matrix* m);

void* Matrix_ModuleOpen(void* instance, int32_t offset, int32_t size);
void* Matrix_ModuleClose(void* instance, int32_t offset, int32_t size);
