#include "gfx/driver/d3d8/d3d8im2d.h"

#include <cstring>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/raster.h"
#include "gfx/driver/d3d8/d3d8cache.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"

namespace {

struct Im2DState {
    IDirect3DVertexBuffer8 *vertexBuffer;  // own buffer, null when the rotating buffers serve
    IDirect3DIndexBuffer8 *indexBuffer;
    uint32_t vertexPosition;  // next free vertex
    uint32_t indexPosition;   // next free index
};

Im2DState s = {};

constexpr uint32_t kOwnUsage = D3DUSAGE_WRITEONLY | D3DUSAGE_DONOTCLIP | D3DUSAGE_DYNAMIC;  // 0x228

// Space for n vertices: the buffer, its memory and the first vertex.
struct Reservation {
    IDirect3DVertexBuffer8 *buffer;
    uint8_t *data;
    uint32_t first;
    bool own;
};

// Batches larger than the own buffer go to the rotating buffers, which
// grow; the own buffer is never locked past its end.
bool Reserve(uint32_t n, Reservation *r)
{
    r->own = s.vertexBuffer && n <= D3D8_IM2D_BUFFER_VERTICES;
    if (!r->own) return D3D8_DynamicVertexBufferLock(D3D8_IM2D_VERTEX_SIZE, n, &r->buffer, &r->data, &r->first);
    uint32_t flags = D3DLOCK_NOOVERWRITE | D3DLOCK_NOSYSLOCK;
    r->first = s.vertexPosition;
    if (r->first + n > D3D8_IM2D_BUFFER_VERTICES) {
        r->first = 0;
        flags = D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK;
    }
    r->buffer = s.vertexBuffer;
    return r->buffer->Lock(r->first * D3D8_IM2D_VERTEX_SIZE, n * D3D8_IM2D_VERTEX_SIZE, &r->data, flags) >= 0;
}

// Sub-raster offsets of the raster being drawn into.
void DrawOffset(float *dx, float *dy)
{
    Camera *camera = g_engineInstance ? (Camera *)g_engineInstance->currentCamera : nullptr;
    const Raster *raster = camera ? camera->frameBuffer : Raster_GetCurrentContext();
    *dx = raster ? (float)raster->offsetX : 0.0f;
    *dy = raster ? (float)raster->offsetY : 0.0f;
}

// Copies one vertex, moved by the draw offset.
void CopyVertex(uint8_t *dst, const uint8_t *src, float dx, float dy)
{
    memcpy(dst, src, D3D8_IM2D_VERTEX_SIZE);
    float xy[2];
    memcpy(xy, src, sizeof(xy));
    xy[0] += dx;
    xy[1] += dy;
    memcpy(dst, xy, sizeof(xy));
}

// Copies n consecutive vertices into the reservation, moved by the draw
// offset; without an offset (the common case) it is one block copy.
void CopyVertices(uint8_t *dst, const uint8_t *src, uint32_t n)
{
    float dx, dy;
    DrawOffset(&dx, &dy);
    if (dx == 0.0f && dy == 0.0f) {
        memcpy(dst, src, (size_t)n * D3D8_IM2D_VERTEX_SIZE);
        return;
    }
    for (uint32_t i = 0; i < n; i++)
        CopyVertex(dst + (size_t)i * D3D8_IM2D_VERTEX_SIZE, src + (size_t)i * D3D8_IM2D_VERTEX_SIZE, dx, dy);
}

void PrepareDraw(IDirect3DVertexBuffer8 *buffer)
{
    D3D8_SetVertexShader(D3D8_IM2D_FVF);
    D3D8_SetPixelShader(0);
    D3D8_SetRenderState(D3DRS_CLIPPING, 0);
    D3D8_SetRenderState(D3DRS_LIGHTING, 0);
    D3D8_SetStreamSource(0, buffer, D3D8_IM2D_VERTEX_SIZE);
}

// Draws the reserved vertices after the caller filled them.
int32_t Submit(const Reservation &r, uint32_t d3dType, uint32_t n)
{
    r.buffer->Unlock();
    PrepareDraw(r.buffer);
    if (!D3D8_DrawPrimitive(d3dType, r.first, n)) return 0;
    if (r.own) s.vertexPosition = r.first + n;
    return 1;
}

// Copies the listed vertices and draws them; the callers have checked every
// index against the vertex count.
int32_t DrawGathered(uint32_t d3dType, const uint8_t *vertices, const uint16_t *indices, const int32_t *indices32,
                     uint32_t n)
{
    if (!D3D8_GetDevice() || !vertices || n == 0 || D3D8_PrimitiveCount(d3dType, n, 0) == 0) return 0;
    Reservation r;
    if (!Reserve(n, &r)) return 0;
    float dx, dy;
    DrawOffset(&dx, &dy);
    for (uint32_t i = 0; i < n; i++) {
        uint32_t index = indices ? indices[i] : (uint32_t)indices32[i];
        CopyVertex(r.data + i * D3D8_IM2D_VERTEX_SIZE, vertices + (size_t)index * D3D8_IM2D_VERTEX_SIZE, dx, dy);
    }
    return Submit(r, d3dType, n);
}

}  // namespace

uint32_t D3D8_PrimitiveTypeOf(int32_t engineType)
{
    static const uint32_t kTypes[7] = {0, D3DPT_LINELIST, D3DPT_LINESTRIP, D3DPT_TRIANGLELIST, D3DPT_TRIANGLESTRIP,
                                       D3DPT_TRIANGLEFAN, D3DPT_POINTLIST};
    return engineType >= 1 && engineType <= 6 ? kTypes[engineType] : 0;
}

int32_t D3D8_Im2DOpen(void)
{
    IDirect3DDevice8 *device = D3D8_GetDevice();
    s.vertexPosition = 0;
    s.indexPosition = 0;
    if (!device || s.vertexBuffer) return 1;
    // Only a device without hardware T&L (one rotating buffer) and with room
    // to spare gets buffers of its own.
    if (D3D8_HasHardwareTnL() || device->GetAvailableTextureMem() <= 0x800000) return 1;
    if (device->CreateVertexBuffer(D3D8_IM2D_BUFFER_BYTES, kOwnUsage, D3D8_IM2D_FVF, D3DPOOL_DEFAULT,
                                   &s.vertexBuffer) < 0) {
        s.vertexBuffer = nullptr;
        return 1;
    }
    if (device->CreateIndexBuffer(D3D8_IM2D_INDEX_COUNT * 2, kOwnUsage, D3DFMT_INDEX16, D3DPOOL_DEFAULT,
                                  &s.indexBuffer) < 0) {
        s.indexBuffer = nullptr;
        D3D8_Im2DClose();
        return 0;
    }
    return 1;
}

void D3D8_Im2DClose(void)
{
    if (s.vertexBuffer) s.vertexBuffer->Release();
    if (s.indexBuffer) s.indexBuffer->Release();
    s.vertexBuffer = nullptr;
    s.indexBuffer = nullptr;
    s.vertexPosition = 0;
    s.indexPosition = 0;
}

int32_t D3D8_Im2DRenderPrimitive(int32_t primType, void *vertices, int32_t count)
{
    uint32_t d3dType = D3D8_PrimitiveTypeOf(primType);
    if (!D3D8_GetDevice() || !vertices || count <= 0 || D3D8_PrimitiveCount(d3dType, (uint32_t)count, 0) == 0)
        return 0;
    uint32_t n = (uint32_t)count;
    Reservation r;
    if (!Reserve(n, &r)) return 0;
    CopyVertices(r.data, (const uint8_t *)vertices, n);
    return Submit(r, d3dType, n);
}

int32_t D3D8_Im2DRenderLine(void *vertices, int32_t count, int32_t index1, int32_t index2)
{
    if (index1 < 0 || index2 < 0 || index1 >= count || index2 >= count) return 0;
    const int32_t indices[2] = {index1, index2};
    return DrawGathered(D3DPT_LINELIST, (const uint8_t *)vertices, nullptr, indices, 2);
}

int32_t D3D8_Im2DRenderTriangle(void *vertices, int32_t count, int32_t index1, int32_t index2, int32_t index3)
{
    if (index1 < 0 || index2 < 0 || index3 < 0 || index1 >= count || index2 >= count || index3 >= count) return 0;
    const int32_t indices[3] = {index1, index2, index3};
    return DrawGathered(D3DPT_TRIANGLELIST, (const uint8_t *)vertices, nullptr, indices, 3);
}

int32_t D3D8_Im2DRenderIndexedPrimitive(int32_t primType, void *vertices, int32_t vertexCount, uint16_t *indices,
                                        int32_t indexCount)
{
    uint32_t d3dType = D3D8_PrimitiveTypeOf(primType);
    if (!D3D8_GetDevice() || !vertices || !indices || vertexCount <= 0 || indexCount <= 0) return 0;
    uint32_t n = (uint32_t)vertexCount, k = (uint32_t)indexCount;
    if (D3D8_PrimitiveCount(d3dType, k, 1) == 0) return 0;
    for (uint32_t i = 0; i < k; i++)
        if (indices[i] >= n) return 0;
    if (!s.indexBuffer || k > D3D8_IM2D_INDEX_COUNT)
        return DrawGathered(d3dType, (const uint8_t *)vertices, indices, nullptr, k);

    Reservation r;
    if (!Reserve(n, &r)) return 0;
    CopyVertices(r.data, (const uint8_t *)vertices, n);
    r.buffer->Unlock();
    uint32_t start = s.indexPosition, flags = D3DLOCK_NOOVERWRITE | D3DLOCK_NOSYSLOCK;
    if (start + k > D3D8_IM2D_INDEX_COUNT) {
        start = 0;
        flags = D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK;
    }
    uint8_t *data = nullptr;
    if (s.indexBuffer->Lock(start * 2, k * 2, &data, flags) < 0) return 0;
    memcpy(data, indices, (size_t)k * 2);
    s.indexBuffer->Unlock();
    PrepareDraw(r.buffer);
    D3D8_SetIndices(s.indexBuffer, r.first);
    if (!D3D8_DrawIndexedPrimitive(d3dType, 0, n, start, k)) return 0;
    if (r.own) s.vertexPosition = r.first + n;
    s.indexPosition = start + k;
    return 1;
}

uint32_t D3D8_Im2DVertexPosition(void) { return s.vertexPosition; }
uint32_t D3D8_Im2DIndexPosition(void) { return s.indexPosition; }
int32_t D3D8_Im2DHasOwnBuffers(void) { return s.vertexBuffer != nullptr; }
