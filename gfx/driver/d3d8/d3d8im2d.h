// Immediate-mode 2D on Direct3D 8: pre-transformed 28-byte vertices
// (x, y, z, 1/w, colour, u, v; vertex format 0x144) drawn from the driver's
// own dynamic vertex and index buffers, or from the rotating buffers of the
// call cache when those are missing or a batch does not fit them.
//
// Primitive types are the engine's: 1 line list, 2 polyline, 3 triangle
// list, 4 strip, 5 fan, 6 point list. Every function returns 1 when the
// device drew, 0 otherwise (write positions unchanged then).
#pragma once

#include <cstdint>

enum : uint32_t {
    D3D8_IM2D_VERTEX_SIZE = 28,
    D3D8_IM2D_FVF = 0x144,
    D3D8_IM2D_BUFFER_BYTES = 0x40000,
    D3D8_IM2D_BUFFER_VERTICES = D3D8_IM2D_BUFFER_BYTES / D3D8_IM2D_VERTEX_SIZE,  // 9362
    D3D8_IM2D_INDEX_COUNT = 10000,
};

// Creates the own buffers when the device suits them (no hardware T&L and
// more than 8 MB of texture memory). 0 only when the vertex buffer was
// made and the index buffer failed (both are released then).
int32_t D3D8_Im2DOpen(void);
// Releases the own buffers; safe to call twice.
void D3D8_Im2DClose(void);

int32_t D3D8_Im2DRenderLine(void *vertices, int32_t count, int32_t index1, int32_t index2);
int32_t D3D8_Im2DRenderTriangle(void *vertices, int32_t count, int32_t index1, int32_t index2, int32_t index3);
int32_t D3D8_Im2DRenderPrimitive(int32_t primType, void *vertices, int32_t count);
int32_t D3D8_Im2DRenderIndexedPrimitive(int32_t primType, void *vertices, int32_t vertexCount, uint16_t *indices,
                                        int32_t indexCount);

// The Direct3D primitive type of an engine type (0 for none).
uint32_t D3D8_PrimitiveTypeOf(int32_t engineType);
// Write positions of the own buffers (vertices, indices); for tests.
uint32_t D3D8_Im2DVertexPosition(void);
uint32_t D3D8_Im2DIndexPosition(void);
int32_t D3D8_Im2DHasOwnBuffers(void);
