#include "gfx/core/im2d.h"

#include "gfx/core/engine.h"

int32_t Im2D_RenderLine(void *vertices, int32_t count, int32_t index1, int32_t index2)
{
    Im2DRenderLineFn f = Engine_Instance()->device.im2DRenderLine;
    return f ? f(vertices, count, index1, index2) : 0;
}

int32_t Im2D_RenderTriangle(void *vertices, int32_t count, int32_t index1, int32_t index2, int32_t index3)
{
    Im2DRenderTriangleFn f = Engine_Instance()->device.im2DRenderTriangle;
    return f ? f(vertices, count, index1, index2, index3) : 0;
}

int32_t Im2D_RenderPrimitive(int32_t primType, void *vertices, int32_t count)
{
    Im2DRenderPrimitiveFn f = Engine_Instance()->device.im2DRenderPrimitive;
    return f ? f(primType, vertices, count) : 0;
}

int32_t Im2D_RenderIndexedPrimitive(int32_t primType, void *vertices, int32_t vertexCount, uint16_t *indices,
                                    int32_t indexCount)
{
    Im2DRenderIndexedPrimitiveFn f = Engine_Instance()->device.im2DRenderIndexedPrimitive;
    return f ? f(primType, vertices, vertexCount, indices, indexCount) : 0;
}

float Im2D_GetNearScreenZ(void) { return Engine_Instance()->device.zBufferNear; }
float Im2D_GetFarScreenZ(void) { return Engine_Instance()->device.zBufferFar; }
