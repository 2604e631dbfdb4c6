// The 2D toolkit's shared state: the current transformation matrix (CTM)
// stack, the device matrix that maps the caller's 2D user space onto a
// camera's view, the device camera, and the opening and closing of the
// toolkit's modules (fonts, paths, brushes).
//
// A user point p reaches the camera as p x CTM x D x (scale, mirror and
// offset onto the view window), all kept in one cached matrix K; strokes and
// text are handed to immediate-mode 3D with W = K x the camera frame's world
// matrix, at camera-space depth 1. K, its inverse and the curve tolerance are
// rebuilt only after the CTM or the device changed.
//
// The state is one module record for the whole program (main thread only).
// Everything here refuses (0, null) while the toolkit is closed.
#pragma once

#include <cstdint>

#include "common/maths.h"
#include "gfx/core/matrix.h"

struct Camera;

enum : int32_t {
    TOOLKIT2D_CTM_DEPTH = 32,       // levels of the CTM stack
    TOOLKIT2D_MAX_SUBDIVISION = 7,  // curve halvings: at most 128 segments a curve
    TOOLKIT2D_INDEX_COUNT = 256,    // entries of the 0..255 strip index table
};

// Opens the path, brush and font modules and the state, then sets the device
// camera (which may be null: the toolkit is then open without one). 1, or 0
// when a module cannot open or the toolkit is open already (nothing is left
// open by a failure).
int32_t Toolkit2D_Open(Camera* camera);
// Closes the font, brush and path modules (fonts, brushes and paths still
// alive are destroyed with them) and forgets the camera. Safe when closed.
void Toolkit2D_Close(void);
// Resets the state: one identity CTM level, identity D, depth 1, half-pixel
// flatness, no camera, device rectangle (0, 0, 1, 1). Called by open.
int32_t Toolkit2D_StateOpen(void);

// Null sets no camera and returns 0; a camera without a frame-buffer raster
// (or with an empty one) is refused (0) and nothing changes. Otherwise 1: the camera's raster size
// and view window are taken now (set the camera again after changing them).
int32_t Toolkit2D_SetDeviceCamera(Camera* camera);
Camera* Toolkit2D_GetDeviceCamera(void);
// Maps the user rectangle (x, y, width, height) onto the whole view: (x, y)
// lands on the view-window corner (+x, -y) and (x + width, y + height) on the
// opposite one. The CTM takes no part and is left exactly as it was. 0 and
// nothing changed without a camera, for width or height <= 0, or for values
// that are not finite.
int32_t Toolkit2D_SetDeviceRect(float x, float y, float width, float height);

// 1 when a level was free: the new top starts as a copy of the old. On a full
// stack 0 and nothing changes (the caller goes on with the unchanged top).
int32_t Ctm2D_Push(void);
// Drops the top level; 0 (nothing done) at the lowest level.
int32_t Ctm2D_Pop(void);
// The new transform applies before the current top (pre-concatenation).
int32_t Ctm2D_Scale(float sx, float sy);
int32_t Ctm2D_Translate(float tx, float ty);
int32_t Ctm2D_SetIdentity(void);
// W: user space to world space, for Im3D. Null without a camera or without
// the camera's frame. The matrix is the toolkit's own; it stays valid until
// the next call that changes the CTM or the device.
const Matrix* Ctm2D_GetCombined(void);

// In user units: a, one raster pixel along the raster's x axis; b, one pixel
// along its y axis; o, the view corner (+view-window x, -view-window y). Any
// out pointer may be null. 0 (outputs untouched) without a camera.
int32_t Toolkit2D_GetDeviceAxes(Vec2* a, Vec2* b, Vec2* o);
// The curve tolerance: the square of half a raster pixel in user units. 0
// without a camera.
float Toolkit2D_GetFlatness(void);

// For the toolkit's own modules.

// A CTM level kept across a drawing: pushed when a level is free, otherwise
// the top matrix is copied and put back by Ctm2D_EndMark. Either way the
// caller's matrix and stack depth are what they were once it ends.
struct Ctm2DMark {
    int32_t pushed;
    Matrix saved;
};
void Ctm2D_BeginMark(Ctm2DMark* mark);
void Ctm2D_EndMark(const Ctm2DMark* mark);
// The z of every 2D vertex (1.0).
float Toolkit2D_GetDepth(void);
// 0, 1, ..., 255: the index table of strips.
const uint16_t* Toolkit2D_GetIndexTable(void);
// 1 while open.
int32_t Toolkit2D_IsOpen(void);
