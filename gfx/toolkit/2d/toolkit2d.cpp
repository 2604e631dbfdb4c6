#include "gfx/toolkit/2d/toolkit2d.h"

#include <cmath>
#include <cstring>

#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/raster.h"
#include "gfx/core/vector.h"
#include "gfx/toolkit/2d/brush2d.h"
#include "gfx/toolkit/2d/font2d.h"
#include "gfx/toolkit/2d/path2d.h"

// The CTM levels are kept in the record itself rather than made on first
// use: 32 matrices are small, and a push can then only fail on depth.

namespace {

struct Toolkit2DState {
    int32_t open;
    Matrix ctm[TOOLKIT2D_CTM_DEPTH];
    int32_t top;
    Matrix device;  // D: device rectangle to the unscaled view
    Camera* camera;
    float rasterWidth;
    float rasterHeight;
    Vec2 window2;  // 2 x the camera's view window
    float rectX, rectY, rectWidth, rectHeight;
    float depth;           // z of every 2D vertex; the scale of a perspective camera
    float flatnessFactor;  // half a pixel
    Matrix combined;       // K: user space to camera space
    Matrix inverse;        // K^-1
    int32_t combinedValid;
    Matrix world;  // W = K x the camera frame's world matrix
    float flatness;
    int32_t flatnessValid;
    uint16_t indices[TOOLKIT2D_INDEX_COUNT];
};

Toolkit2DState g_state;

void Invalidate()
{
    g_state.combinedValid = 0;
    g_state.flatnessValid = 0;
}

Matrix* Top() { return &g_state.ctm[g_state.top]; }

// s: 1 for a parallel camera, else the depth (perspective divides by it).
float Scale() { return g_state.camera->projection == CAMERA_PARALLEL ? 1.0f : g_state.depth; }

// Rebuilds K and its inverse when a change made them stale. Needs a camera.
void UpdateCombined()
{
    if (g_state.combinedValid) return;
    const float s = Scale();
    const Vec2 w2 = g_state.window2;
    Matrix* k = &g_state.combined;
    Matrix_Multiply(k, Top(), &g_state.device);
    const Vec3 scale = {s, s, 1.0f};
    Matrix_Scale(k, &scale, COMBINE_POSTCONCAT);
    const float m = w2.x < w2.y ? w2.x : w2.y;
    const Vec3 mirror = {-m, m, 1.0f};
    Matrix_Scale(k, &mirror, COMBINE_POSTCONCAT);
    const Vec3 corner = {w2.x * s * 0.5f, -(w2.y * s * 0.5f), 0.0f};
    Matrix_Translate(k, &corner, COMBINE_POSTCONCAT);
    Matrix_Invert(&g_state.inverse, k);
    g_state.combinedValid = 1;
}

bool HasCamera() { return g_state.open && g_state.camera; }

}  // namespace

int32_t Toolkit2D_StateOpen(void)
{
    g_state.top = 0;
    Matrix_SetIdentity(&g_state.ctm[0]);
    Matrix_SetIdentity(&g_state.device);
    g_state.depth = 1.0f;
    g_state.flatnessFactor = 0.5f;
    for (int32_t i = 0; i < TOOLKIT2D_INDEX_COUNT; i++) g_state.indices[i] = (uint16_t)i;
    g_state.camera = nullptr;
    g_state.rectX = g_state.rectY = 0.0f;
    g_state.rectWidth = g_state.rectHeight = 1.0f;
    Invalidate();
    return 1;
}

int32_t Toolkit2D_Open(Camera* camera)
{
    if (g_state.open) return 0;
    if (!Path2D_ModuleOpen()) return 0;
    if (!Brush2D_ModuleOpen()) {
        Path2D_ModuleClose();
        return 0;
    }
    if (!Font2D_ModuleOpen()) {
        Brush2D_ModuleClose();
        Path2D_ModuleClose();
        return 0;
    }
    Toolkit2D_StateOpen();
    g_state.open = 1;
    Toolkit2D_SetDeviceCamera(camera);
    return 1;
}

void Toolkit2D_Close(void)
{
    if (!g_state.open) return;
    Font2D_ModuleClose();
    Brush2D_ModuleClose();
    Path2D_ModuleClose();
    g_state.top = 0;
    g_state.camera = nullptr;
    g_state.open = 0;
    Invalidate();
}

int32_t Toolkit2D_IsOpen(void) { return g_state.open; }

int32_t Toolkit2D_SetDeviceCamera(Camera* camera)
{
    if (!g_state.open) return 0;
    if (!camera) {
        g_state.camera = nullptr;
        Invalidate();
        return 0;
    }
    // The raster's size divides the view window into pixels.
    const Raster* raster = camera->frameBuffer;
    if (!raster || raster->width <= 0 || raster->height <= 0) return 0;
    g_state.camera = camera;
    g_state.rasterWidth = (float)raster->width;
    g_state.rasterHeight = (float)raster->height;
    g_state.window2 = {2.0f * camera->viewWindow.x, 2.0f * camera->viewWindow.y};
    Invalidate();
    return 1;
}

Camera* Toolkit2D_GetDeviceCamera(void) { return g_state.open ? g_state.camera : nullptr; }

int32_t Toolkit2D_SetDeviceRect(float x, float y, float width, float height)
{
    // width and height divide below; NaN fails the comparisons too.
    if (!HasCamera() || !(width > 0.0f) || !(height > 0.0f) || !std::isfinite(x) || !std::isfinite(y) ||
        !std::isfinite(width) || !std::isfinite(height))
        return 0;
    // The axes are measured with identity CTM and D. The caller's top is put
    // aside and back rather than pushed, so a full stack changes nothing.
    const Matrix saved = *Top();
    Matrix_SetIdentity(Top());
    Matrix_SetIdentity(&g_state.device);
    Invalidate();
    Vec2 a, b, o;
    Toolkit2D_GetDeviceAxes(&a, &b, &o);
    *Top() = saved;
    a.x *= g_state.rasterWidth / width;
    a.y *= g_state.rasterWidth / width;
    b.x *= g_state.rasterHeight / height;
    b.y *= g_state.rasterHeight / height;
    Matrix* d = &g_state.device;
    const Vec3 toCorner = {o.x, o.y, 0.0f};
    Matrix_Translate(d, &toCorner, COMBINE_PRECONCAT);
    const Vec3 scale = {std::sqrt(a.x * a.x + a.y * a.y), std::sqrt(b.x * b.x + b.y * b.y), 1.0f};
    Matrix_Scale(d, &scale, COMBINE_PRECONCAT);
    const Vec3 fromOrigin = {-x, -y, 0.0f};
    Matrix_Translate(d, &fromOrigin, COMBINE_PRECONCAT);
    g_state.rectX = x;
    g_state.rectY = y;
    g_state.rectWidth = width;
    g_state.rectHeight = height;
    Invalidate();
    return 1;
}

int32_t Ctm2D_Push(void)
{
    if (!g_state.open || g_state.top >= TOOLKIT2D_CTM_DEPTH - 1) return 0;
    g_state.ctm[g_state.top + 1] = g_state.ctm[g_state.top];
    g_state.top++;
    return 1;
}

int32_t Ctm2D_Pop(void)
{
    if (!g_state.open || g_state.top == 0) return 0;
    g_state.top--;
    Invalidate();
    return 1;
}

int32_t Ctm2D_Scale(float sx, float sy)
{
    if (!g_state.open) return 0;
    const Vec3 scale = {sx, sy, 1.0f};
    Matrix_Scale(Top(), &scale, COMBINE_PRECONCAT);
    Invalidate();
    return 1;
}

int32_t Ctm2D_Translate(float tx, float ty)
{
    if (!g_state.open) return 0;
    const Vec3 translation = {tx, ty, 0.0f};
    Matrix_Translate(Top(), &translation, COMBINE_PRECONCAT);
    Invalidate();
    return 1;
}

int32_t Ctm2D_SetIdentity(void)
{
    if (!g_state.open) return 0;
    Matrix_SetIdentity(Top());
    Invalidate();
    return 1;
}

const Matrix* Ctm2D_GetCombined(void)
{
    if (!HasCamera()) return nullptr;
    Frame* frame = Camera_GetFrame(g_state.camera);
    if (!frame) return nullptr;
    UpdateCombined();
    Matrix_Multiply(&g_state.world, &g_state.combined, Frame_GetWorldMatrix(frame));
    return &g_state.world;
}

int32_t Toolkit2D_GetDeviceAxes(Vec2* a, Vec2* b, Vec2* o)
{
    if (!HasCamera()) return 0;
    UpdateCombined();
    const float s = Scale();
    const Vec2 w2 = g_state.window2;
    const Vec3 directions[2] = {{-(w2.x / g_state.rasterWidth) * s, 0.0f, 0.0f},
                                {0.0f, (w2.y / g_state.rasterHeight) * s, 0.0f}};
    const Vec3 corner = {w2.x * s * 0.5f, -(w2.y * s * 0.5f), 0.0f};
    Vec3 steps[2], origin;
    Vector3_TransformVectors(steps, directions, 2, &g_state.inverse);
    Vector3_TransformPoints(&origin, &corner, 1, &g_state.inverse);
    if (a) *a = {steps[0].x, steps[0].y};
    if (b) *b = {steps[1].x, steps[1].y};
    if (o) *o = {origin.x, origin.y};
    return 1;
}

float Toolkit2D_GetFlatness(void)
{
    if (!HasCamera()) return 0.0f;
    if (!g_state.flatnessValid) {
        UpdateCombined();
        const Vec3 pixel = {(g_state.window2.x / g_state.rasterWidth) * g_state.flatnessFactor * g_state.depth, 0.0f,
                            0.0f};
        Vec3 v;
        Vector3_TransformVectors(&v, &pixel, 1, &g_state.inverse);
        g_state.flatness = v.x * v.x + v.y * v.y + v.z * v.z;
        g_state.flatnessValid = 1;
    }
    return g_state.flatness;
}

void Ctm2D_BeginMark(Ctm2DMark* mark)
{
    mark->pushed = Ctm2D_Push();
    if (!mark->pushed && g_state.open) mark->saved = *Top();
}

void Ctm2D_EndMark(const Ctm2DMark* mark)
{
    if (mark->pushed) {
        Ctm2D_Pop();
    } else if (g_state.open) {
        *Top() = mark->saved;
        Invalidate();
    }
}

float Toolkit2D_GetDepth(void) { return g_state.depth; }

const uint16_t* Toolkit2D_GetIndexTable(void) { return g_state.indices; }
