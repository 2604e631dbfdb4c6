#include "gfx/driver/d3d8/d3d8im3d.h"

#include <cstring>

#include "gfx/core/pipeline.h"
#include "gfx/driver/d3d8/d3d8cache.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/driver/d3d8/d3d8im2d.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"

namespace {

struct Im3DState {
    Im3DBatch *currentBatch;
    IDirect3DIndexBuffer8 *indexBuffer;  // 65535 indices
    uint32_t indexCursor;                // next free index
};

Im3DState s = {};

constexpr uint32_t kTexturedFormat = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;  // 0x142, 24 bytes
constexpr uint32_t kPlainFormat = D3DFVF_XYZ | D3DFVF_DIFFUSE;                   // 0x42, 16 bytes
constexpr uint32_t kIm3DFormat = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;  // 0x152

// Re-packs one Im3D vertex into the 16- or 24-byte device layout.
inline void Pack(uint8_t *dst, const Im3DVertex &v, bool textured)
{
    float xyz[3] = {v.x, v.y, v.z};
    memcpy(dst, xyz, 12);
    memcpy(dst + 12, &v.colour, 4);
    if (textured) {
        float uv[2] = {v.u, v.v};
        memcpy(dst + 16, uv, 8);
    }
}

// Streams the vertices (all of them, or those the indices name) into the
// rotating buffers. 1 with the buffer and the first vertex.
bool StreamVertices(const Im3DBatch *b, const uint16_t *gather, uint32_t n, uint32_t stride, bool textured,
            IDirect3DVertexBuffer8 **buffer, uint32_t *first)
{
    uint8_t *data = nullptr;
    if (!D3D8_DynamicVertexBufferLock(stride, n, buffer, &data, first)) return false;
    for (uint32_t i = 0; i < n; i++) Pack(data + i * stride, b->vertices[gather ? gather[i] : i], textured);
    D3D8_VertexBufferUnlock(*buffer);
    return true;
}

bool DrawIndexedThroughBuffer(const Im3DBatch *b, uint32_t d3dType, uint32_t stride, bool textured)
{
    uint32_t n = b->vertexCount, k = b->indexCount;
    IDirect3DVertexBuffer8 *buffer = nullptr;
    uint32_t first = 0;
    if (!StreamVertices(b, nullptr, n, stride, textured, &buffer, &first)) return false;
    uint32_t flags = D3DLOCK_NOOVERWRITE | D3DLOCK_NOSYSLOCK;
    if (s.indexCursor + k > D3D8_IM3D_INDEX_CAPACITY) {
        s.indexCursor = 0;
        flags = D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK;
    }
    uint8_t *data = nullptr;
    if (s.indexBuffer->Lock(s.indexCursor * 2, k * 2, &data, flags) < 0) return false;
    memcpy(data, b->indices, (size_t)k * 2);
    s.indexBuffer->Unlock();
    D3D8_SetStreamSource(0, buffer, stride);
    D3D8_SetIndices(s.indexBuffer, first);
    if (!D3D8_DrawIndexedPrimitive(d3dType, 0, n, s.indexCursor, k)) return false;
    s.indexCursor += k;
    return true;
}

// Draws straight from the caller's vertices (stride 36) when the buffers fail.
void DrawFromUserMemory(const Im3DBatch *b, uint32_t d3dType)
{
    IDirect3DDevice8 *device = D3D8_GetDevice();
    D3D8_SetVertexShader(kIm3DFormat);
    D3D8_SetStreamSource(0, nullptr, 0);
    D3D8_SetIndices(nullptr, 0);
    D3D8_FlushRenderStates();
    if (!device) return;
    if (b->indices && b->indexCount > 0)
        device->DrawIndexedPrimitiveUP(d3dType, 0, b->vertexCount, D3D8_PrimitiveCount(d3dType, b->indexCount, 1),
                                       b->indices, D3DFMT_INDEX16, b->vertices, sizeof(Im3DVertex));
    else
        device->DrawPrimitiveUP(d3dType, D3D8_PrimitiveCount(d3dType, b->vertexCount, 0), b->vertices,
                                sizeof(Im3DVertex));
}

PipelineNodeDefinition sImmInstance = {"ImmInstance.csl", D3D8_ImmInstanceNode, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, 0, nullptr, nullptr, 0, nullptr, 0, 0, 0};
PipelineNodeDefinition sSubmitNoLight = {"nodeD3D8SubmitNoLight.csl", D3D8_SubmitNoLightNode, nullptr, nullptr,
                                         nullptr, nullptr, nullptr, 0, nullptr, nullptr, 0, nullptr, 0, 0, 0};

const Im3DDriver kIm3DDriver = {&sImmInstance, &sSubmitNoLight, D3D8_Im3DOpen, D3D8_Im3DClose};

}  // namespace

const Im3DDriver *D3D8_Im3DDriver(void) { return &kIm3DDriver; }

PipelineNodeDefinition *D3D8_GetImmInstanceNodeDefinition(void) { return &sImmInstance; }
PipelineNodeDefinition *D3D8_GetSubmitNoLightNodeDefinition(void) { return &sSubmitNoLight; }

int32_t D3D8_ImmInstanceNode(PipelineNode *, const PipelineExecuteParams *params)
{
    s.currentBatch = params ? (Im3DBatch *)params->data : nullptr;
    return 1;
}

int32_t D3D8_SubmitNoLightNode(PipelineNode *, const PipelineExecuteParams *params)
{
    const Im3DBatch *record = params ? (const Im3DBatch *)params->data : nullptr;
    if (!s.currentBatch || !record) return 1;
    // The vertices come from the batch the transform recorded, the primitive
    // and indices from the render record.
    Im3DBatch b = *s.currentBatch;
    b.primType = record->primType;
    b.indices = record->indices;
    b.indexCount = record->indexCount;
    return D3D8_Im3DSubmit(&b);
}

int32_t D3D8_Im3DSubmit(const Im3DBatch *b)
{
    if (!b) return 1;
    bool textured = (b->flags & IM3D_TEXTURED) != 0;
    uint32_t format = textured ? kTexturedFormat : kPlainFormat;
    uint32_t stride = textured ? 24 : 16;
    // Blending goes on unless the batch asks to leave it as it is.
    if (!(b->flags & IM3D_NOALPHABLEND)) D3D8_SetAlphaBlend(1);
    D3D8_SetTransformWorld(b->matrix);
    D3D8_SetRenderState(D3DRS_LIGHTING, 0);
    D3D8_SetRenderState(D3DRS_NORMALIZENORMALS, 0);
    D3D8_SetRenderState(D3DRS_CLIPPING, (b->flags & IM3D_NOCLIP) ? 0 : 1);
    D3D8_SetPixelShader(0);
    D3D8_SetVertexShader(format);

    uint32_t n = b->vertexCount;
    uint32_t d3dType = D3D8_PrimitiveTypeOf(b->primType);
    if (n == 0 || !b->vertices || d3dType == 0 || d3dType == D3DPT_POINTLIST) return 1;
    const bool indexed = b->indices && b->indexCount > 0;
    if (indexed) {
        // An index past the batch's vertices would read outside the
        // caller's array: the batch is not drawn.
        for (uint32_t i = 0; i < b->indexCount; i++)
            if (b->indices[i] >= n) return 1;
    }
    if (D3D8_PrimitiveCount(d3dType, indexed ? b->indexCount : n, indexed) == 0) return 1;

    IDirect3DVertexBuffer8 *buffer = nullptr;
    uint32_t first = 0;
    if (!indexed) {
        if (StreamVertices(b, nullptr, n, stride, textured, &buffer, &first) && D3D8_SetStreamSource(0, buffer, stride) &&
            D3D8_DrawPrimitive(d3dType, first, n))
            return 1;
    } else if (b->indexCount <= n && b->indexCount <= 8) {
        // Small batches are expanded rather than paying for an index lock.
        uint32_t k = b->indexCount;
        if (StreamVertices(b, b->indices, k, stride, textured, &buffer, &first) && D3D8_SetStreamSource(0, buffer, stride) &&
            D3D8_DrawPrimitive(d3dType, first, k))
            return 1;
    } else if (s.indexBuffer && b->indexCount <= D3D8_IM3D_INDEX_CAPACITY) {
        if (DrawIndexedThroughBuffer(b, d3dType, stride, textured)) return 1;
    }
    DrawFromUserMemory(b, d3dType);
    return 1;
}

int32_t D3D8_Im3DOpen(void)
{
    IDirect3DDevice8 *device = D3D8_GetDevice();
    s.indexCursor = 0;
    if (s.indexBuffer) return 1;
    if (!device) return 0;
    uint32_t pool = D3D8_HasHardwareTnL() ? D3DPOOL_DEFAULT : D3DPOOL_SYSTEMMEM;
    if (device->CreateIndexBuffer(D3D8_IM3D_INDEX_CAPACITY * 2, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                                  pool, &s.indexBuffer) < 0) {
        s.indexBuffer = nullptr;
        return 0;
    }
    return 1;
}

void D3D8_Im3DClose(void)
{
    if (s.indexBuffer) s.indexBuffer->Release();
    s.indexBuffer = nullptr;
    s.indexCursor = 0;
}

uint32_t D3D8_Im3DIndexCursor(void) { return s.indexCursor; }
