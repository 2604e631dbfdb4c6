// The shared vertex-buffer manager: static geometry does not get a vertex
// buffer per mesh. Per vertex format (key: the flexible-vertex-format code,
// or stride << 16 for data drawn through a shader handle) the manager keeps
// large managed buffers and hands out ranges of them, first fit; freed
// ranges merge with their neighbours in the same buffer. Buffers are only
// released when the manager closes.
#pragma once
#include <cstdint>

#include "platform/direct3d/d3d8.h"

enum : uint32_t { D3D8_VB_DEFAULT_SIZE = 131072 };

// Closes any previous state and makes the free lists; 0 on no memory.
int32_t VertexBufferManager_Open(void);
// Releases every buffer and frees every record.
void VertexBufferManager_Close(void);
// A range of size bytes for vertices of fvf: the buffer and the first vertex
// (in strides) through the out pointers. 0 when the device refuses a buffer
// or memory runs out.
int32_t VertexBufferManager_Alloc(uint32_t fvf, uint32_t size, IDirect3DVertexBuffer8** outBuffer,
                                  uint32_t* outBaseIndex);
int32_t VertexBufferManager_AllocStride(uint32_t key, uint32_t stride, uint32_t size,
                                        IDirect3DVertexBuffer8** outBuffer, uint32_t* outBaseIndex);
// Gives a range back (nothing for an unknown key).
void VertexBufferManager_Free(uint32_t fvf, uint32_t size, IDirect3DVertexBuffer8* buffer, uint32_t baseIndex);
void VertexBufferManager_FreeByStride(uint32_t stride, uint32_t size, IDirect3DVertexBuffer8* buffer,
                                      uint32_t baseIndex);
void VertexBufferManager_FreeStride(uint32_t key, uint32_t stride, uint32_t size, IDirect3DVertexBuffer8* buffer,
                                    uint32_t baseIndex);

// For tests and statistics: the free ranges of a key, head first.
struct VertexBufferRange {
    uint32_t offset;  // bytes
    uint32_t size;    // bytes
    IDirect3DVertexBuffer8* buffer;
};
// Copies up to max ranges into out; returns how many the key has.
int32_t VertexBufferManager_GetFreeRanges(uint32_t key, VertexBufferRange* out, int32_t max);
// Buffers created for a key.
int32_t VertexBufferManager_GetBufferCount(uint32_t key);

// Bytes per vertex of a flexible vertex format; 0 for more than 8 texture sets.
uint32_t D3D8_GetFVFStride(uint32_t fvf);
// Over count 16-bit indices: max - min + 1 vertices from min (0, 0 for none).
void D3D8_GetIndexRange(const uint16_t* indices, uint32_t count, uint32_t* outNumVertices, uint32_t* outMinIndex);
