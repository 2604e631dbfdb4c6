#include "gfx/toolkit/pickray/pickray.h"

#include "common/assert.h"
#include "gfx/core/camera.h"
#include "gfx/core/error.h"
#include "gfx/core/raster.h"

namespace {

// a + (b - a) x t, each product and sum rounded to single precision.
Vec3 Along(const Vec3& a, const Vec3& b, float t)
{
    return Vec3{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
}

// The point at (u, v) of the quad c0 c1 c2 c3 (c0 -> c1 along x, c3 -> c2
// along x, edge c0-c1 -> edge c3-c2 along y).
Vec3 Bilinear(const Vec3* c, float u, float v) { return Along(Along(c[0], c[1], u), Along(c[3], c[2], u), v); }

}  // namespace

const Camera* Camera_CalcPixelRay(const Camera* camera, Line* line, const Vec2* pixel)
{
    HELM_ASSERT(camera && line && pixel);
    const Raster* raster = camera->frameBuffer;
    if (!raster || raster->width <= 0 || raster->height <= 0) {
        const ErrorRecord e = {0, (int32_t)ERR_NULL_ARGUMENT};
        Error_Set(&e);
        return nullptr;
    }
    const float u = pixel->x / (float)raster->width, v = pixel->y / (float)raster->height;
    line->start = Bilinear(&camera->frustumCorners[0], u, v);
    line->end = Bilinear(&camera->frustumCorners[4], u, v);
    return camera;
}
