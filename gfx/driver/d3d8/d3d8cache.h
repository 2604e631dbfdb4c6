// The Direct3D 8 device call cache: wrappers that remember what the device
// was last given and drop calls that would change nothing, plus the device
// resources the driver must rebuild around a reset (pooled dynamic vertex
// buffers, rotating stream buffers, pixel shaders, lights, transforms).
//
// Rules shared by every wrapper: a device call succeeds when its result is
// not negative; a wrapper returns 1 on success and 0 on failure; after a
// failed call the cache entry is forgotten so that the next set is sent.
#pragma once

#include <cstdint>

#include "platform/direct3d/d3d8.h"

struct Camera;
struct Matrix;

// A light as the cache keeps it: the device light and whether it is on.
struct D3D8LightRecord {
    D3DLIGHT8 light;
    uint32_t enabled;  // 0 for a record that was only grown into
};

// A dynamic vertex buffer of the pool. The owner's handle variable is
// rewritten whenever the buffer is released or recreated around a reset.
struct D3D8DynamicVertexBuffer {
    uint32_t format;                 // vertex format, 0 for none
    uint32_t size;                   // bytes
    uint32_t inUse;
    IDirect3DVertexBuffer8 *buffer;  // null while released
    IDirect3DVertexBuffer8 **owner;  // the holder's handle, null when free
    D3D8DynamicVertexBuffer *next;
};

// A pixel shader created through the cache: its token array (owned by the
// caller, kept alive while the shader exists) and the caller's handle.
struct D3D8PixelShaderRecord {
    const uint32_t *function;
    uint32_t *handle;  // 0 while released
    D3D8PixelShaderRecord *next;
};

enum : uint32_t {
    D3D8_ROTATING_BUFFER_COUNT = 4,
    D3D8_ROTATING_BUFFER_SIZE = 0x40000,
    D3D8_TRANSFORM_SLOTS = 260,
};

struct D3D8RotatingBuffer {
    uint32_t fill;      // bytes used
    uint32_t capacity;  // bytes; 0 when the slot has no buffer
    IDirect3DVertexBuffer8 *buffer;
};

// Number of primitives that n vertices (or indices) make for a Direct3D
// primitive type: point list n (0 indexed), line list n/2, strip n-1,
// triangle list n/3, strip and fan n-2, other 0.
uint32_t D3D8_PrimitiveCount(uint32_t d3dType, uint32_t n, int32_t indexed);

// ---- state wrappers ----
int32_t D3D8_SetVertexShader(uint32_t handleOrFormat);
int32_t D3D8_SetPixelShader(uint32_t handle);
// The stream number is not compared: every caller uses stream 0.
int32_t D3D8_SetStreamSource(uint32_t stream, IDirect3DVertexBuffer8 *buffer, uint32_t stride);
int32_t D3D8_SetIndices(IDirect3DIndexBuffer8 *buffer, uint32_t baseVertexIndex);
// Draws flush the render-state cache first. Types and counts are Direct3D's
// (vertex count, or index count for the indexed draw).
int32_t D3D8_DrawPrimitive(uint32_t d3dType, uint32_t startVertex, uint32_t vertexCount);
int32_t D3D8_DrawIndexedPrimitive(uint32_t d3dType, uint32_t minIndex, uint32_t vertexCount, uint32_t startIndex,
                                  uint32_t indexCount);
// Bit-exact cache per transform state 0-259; null matrix = identity.
int32_t D3D8_SetTransform(uint32_t state, const D3DMATRIX *matrix);
// The cached matrix, or the identity for a state with none; nothing for null out.
void D3D8_GetTransform(uint32_t state, D3DMATRIX *out);
// World transform from an engine matrix (null or identity-flagged = identity).
int32_t D3D8_SetTransformWorld(const Matrix *matrix);
// colour: r, g, b, a bytes (read only with useColour); surface: ambient,
// specular, diffuse coefficients. 0 for a missing argument or a failed call.
int32_t D3D8_SetMaterialFromColor(const uint8_t *colour, const float *surface, int32_t useColour);
// The ambient light the material is multiplied by (lighting writes it).
void D3D8_SetAmbientLight(float r, float g, float b);
// 1 when the two lights are the same in every field (type, colours,
// position, direction, range, falloff, attenuation and cone angles).
int32_t D3D8_LightsEqual(const D3DLIGHT8* a, const D3DLIGHT8* b);
// Lights are sent unless D3D8_LightsEqual to the cached copy; the cache
// grows to the highest index set (indices above 65535 are refused with 0).
int32_t D3D8_SetLight(uint32_t index, const D3DLIGHT8 *light);
// Sent only when the flag changes; an index never set is accepted (1) unsent.
int32_t D3D8_EnableLight(uint32_t index, int32_t enable);
// Flushes the queued states, then asks the device whether the stage set-up
// draws in one pass (passes may be null).
int32_t D3D8_ValidateDevice(uint32_t *passes);

// ---- resources ----
// A pooled dynamic buffer into *outHandle; 0 (handle null) when creation fails.
int32_t D3D8_CreateDynamicVertexBuffer(uint32_t format, uint32_t size, IDirect3DVertexBuffer8 **outHandle);
// Gives the buffer back to the pool (it stays alive for reuse).
void D3D8_DestroyDynamicVertexBuffer(IDirect3DVertexBuffer8 *buffer);
// A managed write-only 16-bit index buffer of count indices; 0 on failure.
int32_t D3D8_CreateIndexBuffer(uint32_t count, IDirect3DIndexBuffer8 **outBuffer);
// The shader is rebuilt from function (kept alive by the caller until the
// delete) into *outHandle after every reset; *outHandle reads 0 meanwhile.
// 0 (handle untouched) when the device refuses it.
int32_t D3D8_CreatePixelShader(const uint32_t *function, uint32_t *outHandle);
// Deletes the shader and forgets its record. Handle 0 deletes nothing (0):
// a shader released for a reset stays recorded until the device stops.
int32_t D3D8_DeletePixelShader(uint32_t handle);
int32_t D3D8_SetPixelShaderConstant(uint32_t reg, const void *data, uint32_t count);
// Space for count vertices of stride bytes in the rotating buffers: the
// buffer, the locked memory and the first vertex to draw from. 0 when no
// buffer could be had or locked (nothing is left locked then).
int32_t D3D8_DynamicVertexBufferLock(uint32_t stride, uint32_t count, IDirect3DVertexBuffer8 **outBuffer,
                                     uint8_t **outData, uint32_t *outFirst);
int32_t D3D8_VertexBufferUnlock(IDirect3DVertexBuffer8 *buffer);

// ---- format checks on the current mode ----
int32_t D3D8_CheckZBufferFormat(uint32_t format);
int32_t D3D8_CheckTextureFormat(uint32_t format);
int32_t D3D8_CheckRenderTargetFormat(uint32_t format);

// ---- frustum tests on a camera's planes ----
int32_t D3D8_CameraIsSphereFullyInside(const Camera *camera, const float centre[3], float radius);
// Box given by its maximum and minimum points.
int32_t D3D8_CameraIsBoxFullyInside(const Camera *camera, const float maximum[3], const float minimum[3]);

// ---- device lifecycle (device system and reset only) ----
// Forgets shaders, stream, indices, transforms and material (start and reset).
void D3D8_CacheOpen(void);
// Frees everything the cache holds (stop): lights, records, buffers, shaders.
void D3D8_CacheClose(void);
void D3D8_ForgetDeviceCalls(void);
void D3D8_ResetTransformCache(void);
int32_t D3D8_CreateRotatingVertexBuffers(void);
void D3D8_ReleaseRotatingVertexBuffers(void);
void D3D8_ReleaseDynamicVertexBuffers(void);
int32_t D3D8_RecreateDynamicVertexBuffers(void);
// Advanced by every recreation of the dynamic buffers (device resets), whose
// contents are then undefined: their owners refill them when it changed.
uint32_t D3D8_GetDeviceResetCount(void);
void D3D8_DestroyDynamicVertexBuffers(void);
void D3D8_ReleasePixelShaders(void);
int32_t D3D8_RecreatePixelShaders(void);
void D3D8_DestroyPixelShaders(void);
int32_t D3D8_ResendLights(void);

// Read-only views for tests and benchmarks.
const D3D8RotatingBuffer *D3D8_GetRotatingBuffer(uint32_t index);
uint32_t D3D8_GetCurrentRotatingBuffer(void);
const D3D8DynamicVertexBuffer *D3D8_GetVertexBufferPool(void);
uint32_t D3D8_GetLightCount(void);
