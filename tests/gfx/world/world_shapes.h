// Shapes of the world tests and benchmarks (a grid, a checker texture, a placed frame); each
// needs the engine started with the world attached.
#pragma once

#include <cstring>

#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/world/geometry.h"

namespace worldshapes {

// cols x rows quads (wound towards -z) in the x-y plane at z, side `size`, centred on the origin;
// normals -z, prelit white, coordinates 0..1, every triangle on material (may be null). The caller's.
inline Geometry* Grid(int cols, int rows, float size, uint32_t flags, Material* material, float z = 0)
{
    const int w = cols + 1, h = rows + 1;
    Geometry* g = Geometry_Create(w * h, 2 * cols * rows, flags);
    MorphTarget* t = &g->morphTarget[0];
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const int v = y * w + x;
            t->verts[v] = Vec3{size * x / cols - size / 2, size * y / rows - size / 2, z};
            if (t->normals) t->normals[v] = Vec3{0, 0, -1};
            if (g->preLitLum) g->preLitLum[v] = RGBA{255, 255, 255, 255};
            for (int s = 0; s < g->numTexCoordSets; s++)
                g->texCoords[s][v] = TexCoords{(float)x / cols, (float)y / rows};
        }
    int tri = 0;
    for (int y = 0; y < rows; y++)
        for (int x = 0; x < cols; x++) {
            const uint16_t a = (uint16_t)(y * w + x), b = (uint16_t)(a + 1), c = (uint16_t)(a + w),
                           d = (uint16_t)(c + 1);
            Geometry_SetTriangleVertexIndices(g, &g->triangles[tri], a, c, b);
            Geometry_SetTriangleMaterial(g, &g->triangles[tri++], material);
            Geometry_SetTriangleVertexIndices(g, &g->triangles[tri], b, c, d);
            Geometry_SetTriangleMaterial(g, &g->triangles[tri++], material);
        }
    MorphTarget_CalcBoundingSphere(t, &t->boundingSphere);
    Geometry_Unlock(g);
    return g;
}

// A size x size texture of `square`-texel squares in colours a and b (0xAARRGGBB). The caller's.
inline Texture* Checker(int size, int square, uint32_t a, uint32_t b)
{
    Raster* r = Raster_Create(size, size, 0, RASTERTYPETEXTURE | RASTERFORMAT8888);
    uint8_t* p = Raster_Lock(r, 0, RASTERLOCKWRITE);
    for (int y = 0; y < size; y++)
        for (int x = 0; x < size; x++) {
            const uint32_t c = ((x / square + y / square) & 1) ? a : b;
            memcpy(p + y * r->stride + 4 * x, &c, 4);
        }
    Raster_Unlock(r);
    return Texture_Create(r);
}

// A root frame at (x, y, z) looking along `at` (unit length; null: the identity's). The caller's.
inline Frame* FrameAt(float x, float y, float z, const Vec3* at = nullptr)
{
    Frame* f = Frame_Create();
    if (at) {
        Vec3 a = *at, up0 = {0, 1, 0}, right, up;
        if (a.y > 0.9f || a.y < -0.9f) up0 = Vec3{0, 0, 1};
        Vec3_Cross(&right, &up0, &a);
        Vec3_Normalise(&right);
        Vec3_Cross(&up, &a, &right);
        f->modelling.right = right, f->modelling.up = up, f->modelling.at = a;
    }
    f->modelling.pos = Vec3{x, y, z};
    Matrix_MarkChanged(&f->modelling);
    Matrix_RecomputeFlags(&f->modelling, nullptr);
    Frame_MarkDirty(f);
    return f;
}

}  // namespace worldshapes
