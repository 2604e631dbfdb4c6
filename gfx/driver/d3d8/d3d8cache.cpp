#include "gfx/driver/d3d8/d3d8cache.h"

#include <cstring>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/matrix.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"

namespace {

struct TransformSlot {
    D3DMATRIX matrix;
    uint32_t present;  // the device was given this matrix
};

struct CacheState {
    uint32_t vertexShader;
    uint32_t vertexShaderValid;
    uint32_t pixelShader;
    uint32_t pixelShaderValid;
    IDirect3DVertexBuffer8 *streamBuffer;
    uint32_t streamStride;
    uint32_t streamValid;
    IDirect3DIndexBuffer8 *indexBuffer;
    uint32_t baseVertexIndex;
    uint32_t indicesValid;
    // The transform cache is a fixed table: 260 slots of 64 bytes are less
    // than a page of free-list blocks and need no allocation per frame.
    TransformSlot transforms[D3D8_TRANSFORM_SLOTS];
    uint32_t worldIsIdentity;
    float material[8];  // diffuse, ambient (r g b a); specular and emissive are always (0, 0, 0, 1)
    uint32_t materialValid;
    float ambientLight[4];
    D3D8LightRecord *lights;
    uint32_t lightCount;
    D3D8DynamicVertexBuffer *vertexBufferPool;
    D3D8RotatingBuffer rotating[D3D8_ROTATING_BUFFER_COUNT];
    uint32_t currentRotating;
    D3D8PixelShaderRecord *pixelShaders;
};

CacheState s = {};

const D3DMATRIX kIdentity = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};

inline IDirect3DDevice8 *Device() { return D3D8_GetDevice(); }

D3D8DynamicVertexBuffer *FindPoolRecord(const IDirect3DVertexBuffer8 *buffer)
{
    if (!buffer) return nullptr;
    for (D3D8DynamicVertexBuffer *r = s.vertexBufferPool; r; r = r->next)
        if (r->buffer == buffer) return r;
    return nullptr;
}

void FreePoolRecord(D3D8DynamicVertexBuffer *record)
{
    if (!record) return;
    record->inUse = 0;
    record->owner = nullptr;
}

}  // namespace

uint32_t D3D8_PrimitiveCount(uint32_t d3dType, uint32_t n, int32_t indexed)
{
    switch (d3dType) {
    case D3DPT_POINTLIST: return indexed ? 0 : n;
    case D3DPT_LINELIST: return n / 2;
    case D3DPT_LINESTRIP: return n >= 1 ? n - 1 : 0;
    case D3DPT_TRIANGLELIST: return n / 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return n >= 2 ? n - 2 : 0;
    default: return 0;
    }
}


int32_t D3D8_SetVertexShader(uint32_t handleOrFormat)
{
    if (s.vertexShaderValid && s.vertexShader == handleOrFormat) return 1;
    if (!Device() || Device()->SetVertexShader(handleOrFormat) < 0) {
        s.vertexShaderValid = 0;
        return 0;
    }
    s.vertexShader = handleOrFormat;
    s.vertexShaderValid = 1;
    return 1;
}

int32_t D3D8_SetPixelShader(uint32_t handle)
{
    if (s.pixelShaderValid && s.pixelShader == handle) return 1;
    if (!Device() || Device()->SetPixelShader(handle) < 0) {
        s.pixelShaderValid = 0;
        return 0;
    }
    s.pixelShader = handle;
    s.pixelShaderValid = 1;
    return 1;
}

int32_t D3D8_SetStreamSource(uint32_t stream, IDirect3DVertexBuffer8 *buffer, uint32_t stride)
{
    if (s.streamValid && s.streamBuffer == buffer && s.streamStride == stride) return 1;
    if (!Device() || Device()->SetStreamSource(stream, buffer, stride) < 0) {
        s.streamValid = 0;
        return 0;
    }
    s.streamBuffer = buffer;
    s.streamStride = stride;
    s.streamValid = 1;
    return 1;
}

int32_t D3D8_SetIndices(IDirect3DIndexBuffer8 *buffer, uint32_t baseVertexIndex)
{
    if (s.indicesValid && s.indexBuffer == buffer && s.baseVertexIndex == baseVertexIndex) return 1;
    if (!Device() || Device()->SetIndices(buffer, baseVertexIndex) < 0) {
        s.indicesValid = 0;
        return 0;
    }
    s.indexBuffer = buffer;
    s.baseVertexIndex = baseVertexIndex;
    s.indicesValid = 1;
    return 1;
}

int32_t D3D8_DrawPrimitive(uint32_t d3dType, uint32_t startVertex, uint32_t vertexCount)
{
    if (!Device()) return 0;
    D3D8_FlushRenderStates();
    return Device()->DrawPrimitive(d3dType, startVertex, D3D8_PrimitiveCount(d3dType, vertexCount, 0)) >= 0;
}

int32_t D3D8_DrawIndexedPrimitive(uint32_t d3dType, uint32_t minIndex, uint32_t vertexCount, uint32_t startIndex,
                                  uint32_t indexCount)
{
    if (!Device()) return 0;
    D3D8_FlushRenderStates();
    return Device()->DrawIndexedPrimitive(d3dType, minIndex, vertexCount, startIndex,
                                          D3D8_PrimitiveCount(d3dType, indexCount, 1)) >= 0;
}

// Sends m to the slot's state unless the slot already holds it bit for bit.
static int32_t SendTransform(uint32_t state, const D3DMATRIX *m)
{
    TransformSlot *slot = &s.transforms[state];
    if (slot->present && memcmp(&slot->matrix, m, sizeof(D3DMATRIX)) == 0) return 1;
    if (!Device() || Device()->SetTransform(state, m) < 0) {
        slot->present = 0;
        return 0;
    }
    slot->matrix = *m;
    slot->present = 1;
    return 1;
}

int32_t D3D8_SetTransform(uint32_t state, const D3DMATRIX *matrix)
{
    if (state >= D3D8_TRANSFORM_SLOTS) return 0;
    int32_t result = SendTransform(state, matrix ? matrix : &kIdentity);
    if (state == D3DTS_WORLD) s.worldIsIdentity = result && !matrix;
    return result;
}

void D3D8_GetTransform(uint32_t state, D3DMATRIX *out)
{
    if (!out) return;
    if (state < D3D8_TRANSFORM_SLOTS && s.transforms[state].present)
        *out = s.transforms[state].matrix;
    else
        *out = kIdentity;
}

int32_t D3D8_SetTransformWorld(const Matrix *m)
{
    TransformSlot *slot = &s.transforms[D3DTS_WORLD];
    if (!m || (m->flags & MATRIX_IDENTITY)) {
        if (s.worldIsIdentity) return 1;
        slot->present = 0;  // the identity must be sent even when the slot holds it
        int32_t result = SendTransform(D3DTS_WORLD, &kIdentity);
        s.worldIsIdentity = result;
        return result;
    }
    D3DMATRIX d = {{{m->right.x, m->right.y, m->right.z, 0},
                    {m->up.x, m->up.y, m->up.z, 0},
                    {m->at.x, m->at.y, m->at.z, 0},
                    {m->pos.x, m->pos.y, m->pos.z, 1}}};
    if (s.worldIsIdentity) slot->present = 0;
    int32_t result = SendTransform(D3DTS_WORLD, &d);
    s.worldIsIdentity = 0;
    return result;
}

void D3D8_SetAmbientLight(float r, float g, float b)
{
    s.ambientLight[0] = r;
    s.ambientLight[1] = g;
    s.ambientLight[2] = b;
    s.ambientLight[3] = 1.0f;
}

int32_t D3D8_SetMaterialFromColor(const uint8_t *colour, const float *surface, int32_t useColour)
{
    if (!surface || (useColour && !colour)) return 0;
    const float ambient = surface[0], diffuse = surface[2];
    const float *light = s.ambientLight;
    float m[8];
    bool white = !useColour || (colour[0] == 255 && colour[1] == 255 && colour[2] == 255 && colour[3] == 255);
    if (white) {
        m[0] = m[1] = m[2] = diffuse;
        m[3] = 1.0f;
        m[4] = light[0] * ambient;
        m[5] = light[1] * ambient;
        m[6] = light[2] * ambient;
        m[7] = 1.0f;
    } else {
        const float k = 1.0f / 255.0f;
        m[0] = colour[0] * diffuse * k;
        m[1] = colour[1] * diffuse * k;
        m[2] = colour[2] * diffuse * k;
        m[3] = colour[3] * k;
        m[4] = colour[0] * light[0] * ambient * k;
        m[5] = colour[1] * light[1] * ambient * k;
        m[6] = colour[2] * light[2] * ambient * k;
        m[7] = colour[3] * k;
    }
    if (s.materialValid && memcmp(m, s.material, sizeof(m)) == 0) return 1;
    D3DMATERIAL8 material = {{m[0], m[1], m[2], m[3]}, {m[4], m[5], m[6], m[7]}, {0, 0, 0, 1}, {0, 0, 0, 1}, 0};
    if (!Device() || Device()->SetMaterial(&material) < 0) {
        s.materialValid = 0;
        return 0;
    }
    memcpy(s.material, m, sizeof(m));
    s.materialValid = 1;
    return 1;
}

int32_t D3D8_LightsEqual(const D3DLIGHT8* a, const D3DLIGHT8* b)
{
    // Every field, bit for bit: a light whose attenuation, falloff, specular
    // or ambient changed lights differently, so it must reach the device too
    // (D3DLIGHT8 has no padding).
    return memcmp(a, b, sizeof(D3DLIGHT8)) == 0;
}

int32_t D3D8_SetLight(uint32_t index, const D3DLIGHT8 *light)
{
    if (!light) return 0;
    if (index < s.lightCount) {
        if (D3D8_LightsEqual(&s.lights[index].light, light)) return 1;
    } else {
        if (index >= 0x10000) return 0;
        D3D8LightRecord *grown = (D3D8LightRecord *)Engine_Realloc(s.lights, (index + 1) * sizeof(D3D8LightRecord));
        if (!grown) return 0;
        memset(grown + s.lightCount, 0, (index + 1 - s.lightCount) * sizeof(D3D8LightRecord));
        s.lights = grown;
        s.lightCount = index + 1;
    }
    D3D8LightRecord *record = &s.lights[index];
    if (!Device() || Device()->SetLight(index, light) < 0) {
        // Forget the light so that the next identical set is sent again.
        memset(&record->light, 0, sizeof(D3DLIGHT8));
        record->light.Type = 0;
        return 0;
    }
    record->light = *light;
    return 1;
}

int32_t D3D8_EnableLight(uint32_t index, int32_t enable)
{
    if (index >= s.lightCount) return 1;
    D3D8LightRecord *record = &s.lights[index];
    uint32_t flag = enable ? 1u : 0u;
    if (record->enabled == flag) return 1;
    if (!Device() || Device()->LightEnable(index, (int32_t)flag) < 0) {
        record->enabled = 0xFFFFFFFFu;  // unknown: the next enable or disable is sent
        return 0;
    }
    record->enabled = flag;
    return 1;
}

int32_t D3D8_ValidateDevice(uint32_t *passes)
{
    uint32_t local = 0;
    if (!Device()) return 0;
    D3D8_FlushRenderStates();
    return Device()->ValidateDevice(passes ? passes : &local) >= 0;
}

// ---- dynamic vertex buffers -------------------------------------------------

static uint32_t PoolForDynamicBuffers(void)
{
    return D3D8_HasHardwareTnL() ? D3DPOOL_DEFAULT : D3DPOOL_SYSTEMMEM;
}

int32_t D3D8_CreateDynamicVertexBuffer(uint32_t format, uint32_t size, IDirect3DVertexBuffer8 **outHandle)
{
    if (!outHandle) return 0;
    *outHandle = nullptr;
    D3D8DynamicVertexBuffer *largestFree = nullptr;
    for (D3D8DynamicVertexBuffer *r = s.vertexBufferPool; r; r = r->next) {
        if (r->inUse) continue;
        if (r->format == format && r->size == size && r->buffer) {
            r->inUse = 1;
            r->owner = outHandle;
            *outHandle = r->buffer;
            return 1;
        }
        if (!largestFree || r->size > largestFree->size) largestFree = r;
    }
    D3D8DynamicVertexBuffer *record = largestFree;
    if (record) {
        if (record->buffer) record->buffer->Release();
        record->buffer = nullptr;
    } else {
        record = (D3D8DynamicVertexBuffer *)Engine_Calloc(1, sizeof(D3D8DynamicVertexBuffer));
        if (!record) return 0;
        record->next = s.vertexBufferPool;
        s.vertexBufferPool = record;
    }
    // A record whose creation failed stays free with no buffer and size 0,
    // so that it is reused first and never handed out empty.
    record->format = format;
    record->size = 0;
    record->inUse = 0;
    record->owner = nullptr;
    IDirect3DVertexBuffer8 *buffer = nullptr;
    if (!Device() ||
        Device()->CreateVertexBuffer(size, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, format, PoolForDynamicBuffers(),
                                     &buffer) < 0)
        return 0;
    record->size = size;
    record->inUse = 1;
    record->buffer = buffer;
    record->owner = outHandle;
    *outHandle = buffer;
    return 1;
}

void D3D8_DestroyDynamicVertexBuffer(IDirect3DVertexBuffer8 *buffer) { FreePoolRecord(FindPoolRecord(buffer)); }

int32_t D3D8_CreateIndexBuffer(uint32_t count, IDirect3DIndexBuffer8 **outBuffer)
{
    if (!outBuffer) return 0;
    *outBuffer = nullptr;
    if (!Device() || count == 0 || count > 0x7FFFFFFFu / 2) return 0;
    return Device()->CreateIndexBuffer(count * 2, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, outBuffer) >= 0;
}

// ---- rotating buffers ----------------------------------------------------------

int32_t D3D8_CreateRotatingVertexBuffers(void)
{
    s.currentRotating = 0;
    uint32_t used = D3D8_HasHardwareTnL() ? (uint32_t)D3D8_ROTATING_BUFFER_COUNT : 1u;
    for (uint32_t i = 0; i < D3D8_ROTATING_BUFFER_COUNT; i++) {
        D3D8RotatingBuffer *r = &s.rotating[i];
        // A buffer still held goes back to the pool first, so that running
        // this over live buffers reuses their records instead of leaking them.
        FreePoolRecord(FindPoolRecord(r->buffer));
        r->fill = 0;
        r->capacity = 0;
        r->buffer = nullptr;
        if (i >= used) continue;
        if (!D3D8_CreateDynamicVertexBuffer(0, D3D8_ROTATING_BUFFER_SIZE, &r->buffer)) return 0;
        r->capacity = D3D8_ROTATING_BUFFER_SIZE;
    }
    return 1;
}

void D3D8_ReleaseRotatingVertexBuffers(void)
{
    s.currentRotating = 0;
    for (D3D8RotatingBuffer &r : s.rotating) {
        FreePoolRecord(FindPoolRecord(r.buffer));
        r.fill = 0;
        r.capacity = 0;
        r.buffer = nullptr;
    }
}

static uint32_t RoundUp(uint32_t value, uint32_t stride) { return (value + stride - 1) / stride * stride; }

int32_t D3D8_DynamicVertexBufferLock(uint32_t stride, uint32_t count, IDirect3DVertexBuffer8 **outBuffer,
                                     uint8_t **outData, uint32_t *outFirst)
{
    if (!Device() || stride == 0 || count == 0 || count > 0xFFFFFFFFu / stride) return 0;
    uint32_t size = stride * count;
    uint32_t offset = 0;
    if (D3D8_HasHardwareTnL()) {
        D3D8RotatingBuffer *cur = &s.rotating[s.currentRotating];
        uint64_t o = RoundUp(cur->fill, stride);
        if (o + size <= cur->capacity) {
            offset = (uint32_t)o;
        } else {
            bool found = false;
            for (uint32_t i = 0; i < D3D8_ROTATING_BUFFER_COUNT && !found; i++) {
                if (i == s.currentRotating) continue;
                uint64_t oi = RoundUp(s.rotating[i].fill, stride);
                if (oi + size <= s.rotating[i].capacity) {
                    s.currentRotating = i;
                    offset = (uint32_t)oi;
                    found = true;
                }
            }
            if (!found) {
                s.currentRotating = (s.currentRotating + 1) % D3D8_ROTATING_BUFFER_COUNT;
                offset = 0;
            }
        }
    } else {
        s.currentRotating = 0;
    }
    D3D8RotatingBuffer *r = &s.rotating[s.currentRotating];
    if (size > r->capacity) {
        // Grow: give the old buffer back to the pool first, so that a failed
        // creation leaves the slot empty (capacity 0) and the next lock retries.
        FreePoolRecord(FindPoolRecord(r->buffer));
        r->buffer = nullptr;
        r->capacity = 0;
        r->fill = 0;
        if (!D3D8_CreateDynamicVertexBuffer(0, size, &r->buffer)) {
            r->buffer = nullptr;
            return 0;
        }
        r->capacity = size;
        offset = 0;
    }
    uint8_t *data = nullptr;
    uint32_t flags = offset == 0 ? (D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK) : (D3DLOCK_NOOVERWRITE | D3DLOCK_NOSYSLOCK);
    if (r->buffer->Lock(offset, size, &data, flags) < 0) return 0;
    r->fill = offset + size;
    if (outBuffer) *outBuffer = r->buffer;
    if (outData) *outData = data;
    if (outFirst) *outFirst = offset / stride;
    return 1;
}

int32_t D3D8_VertexBufferUnlock(IDirect3DVertexBuffer8 *buffer) { return buffer && buffer->Unlock() >= 0; }

void D3D8_ReleaseDynamicVertexBuffers(void)
{
    for (D3D8DynamicVertexBuffer *r = s.vertexBufferPool; r; r = r->next) {
        if (r->buffer) r->buffer->Release();
        r->buffer = nullptr;
        if (r->owner) *r->owner = nullptr;
    }
}

namespace {
// Counts recreations of the dynamic buffers: their contents are lost then.
uint32_t sDynamicBufferRecreations = 0;
}  // namespace

uint32_t D3D8_GetDeviceResetCount(void) { return sDynamicBufferRecreations; }

int32_t D3D8_RecreateDynamicVertexBuffers(void)
{
    sDynamicBufferRecreations++;
    for (D3D8DynamicVertexBuffer *r = s.vertexBufferPool; r; r = r->next) {
        if (r->buffer || r->size == 0) continue;
        if (!Device() || Device()->CreateVertexBuffer(r->size, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, r->format,
                                                      D3DPOOL_DEFAULT, &r->buffer) < 0) {
            r->buffer = nullptr;
            return 0;
        }
        if (r->owner) *r->owner = r->buffer;
    }
    return 1;
}

void D3D8_DestroyDynamicVertexBuffers(void)
{
    D3D8DynamicVertexBuffer *r = s.vertexBufferPool;
    while (r) {
        D3D8DynamicVertexBuffer *next = r->next;
        if (r->buffer) r->buffer->Release();
        if (r->owner) *r->owner = nullptr;
        Engine_Free(r);
        r = next;
    }
    s.vertexBufferPool = nullptr;
    for (D3D8RotatingBuffer &rb : s.rotating) rb = D3D8RotatingBuffer{};
    s.currentRotating = 0;
}

// ---- pixel shaders --------------------------------------------------------------

int32_t D3D8_CreatePixelShader(const uint32_t *function, uint32_t *outHandle)
{
    if (!function || !outHandle || !Device()) return 0;
    uint32_t handle = 0;
    if (Device()->CreatePixelShader(function, &handle) < 0) return 0;
    D3D8PixelShaderRecord *record = (D3D8PixelShaderRecord *)Engine_Calloc(1, sizeof(D3D8PixelShaderRecord));
    if (!record) {
        Device()->DeletePixelShader(handle);
        return 0;
    }
    *outHandle = handle;
    record->function = function;
    record->handle = outHandle;
    record->next = s.pixelShaders;
    s.pixelShaders = record;
    return 1;
}

int32_t D3D8_DeletePixelShader(uint32_t handle)
{
    // 0 names no shader. While the shaders are released for a reset every
    // owner's handle reads 0, so matching records by it would free some other
    // owner's record (that shader would never come back) and keep the
    // caller's, whose handle variable the restore would then write through.
    if (!Device() || handle == 0) return 0;
    int32_t result = Device()->DeletePixelShader(handle) >= 0;
    if (s.pixelShaderValid && s.pixelShader == handle) s.pixelShaderValid = 0;
    for (D3D8PixelShaderRecord **link = &s.pixelShaders; *link; link = &(*link)->next) {
        if (*(*link)->handle == handle) {
            D3D8PixelShaderRecord *dead = *link;
            *link = dead->next;
            Engine_Free(dead);
            break;
        }
    }
    return result;
}

int32_t D3D8_SetPixelShaderConstant(uint32_t reg, const void *data, uint32_t count)
{
    return Device() && Device()->SetPixelShaderConstant(reg, data, count) >= 0;
}

void D3D8_ReleasePixelShaders(void)
{
    for (D3D8PixelShaderRecord *r = s.pixelShaders; r; r = r->next) {
        if (*r->handle == 0) continue;  // already released (a second release is harmless)
        if (Device()) Device()->DeletePixelShader(*r->handle);
        *r->handle = 0;
    }
    s.pixelShaderValid = 0;
}

int32_t D3D8_RecreatePixelShaders(void)
{
    for (D3D8PixelShaderRecord *r = s.pixelShaders; r; r = r->next) {
        if (*r->handle != 0) continue;
        if (!Device() || Device()->CreatePixelShader(r->function, r->handle) < 0) {
            *r->handle = 0;
            return 0;
        }
    }
    return 1;
}

void D3D8_DestroyPixelShaders(void)
{
    D3D8PixelShaderRecord *r = s.pixelShaders;
    while (r) {
        D3D8PixelShaderRecord *next = r->next;
        if (*r->handle != 0 && Device()) Device()->DeletePixelShader(*r->handle);
        *r->handle = 0;
        Engine_Free(r);
        r = next;
    }
    s.pixelShaders = nullptr;
}

// ---- lights -------------------------------------------------------------------------

int32_t D3D8_ResendLights(void)
{
    // After a reset the device holds no lights: send every cached one and
    // its enable flag directly, whatever the cache believes.
    int32_t result = 1;
    for (uint32_t i = 0; i < s.lightCount; i++) {
        D3D8LightRecord *r = &s.lights[i];
        if (r->light.Type != 0 && Device()) Device()->SetLight(i, &r->light);
        if (r->enabled == 0xFFFFFFFFu) r->enabled = 0;
        result = Device() && Device()->LightEnable(i, (int32_t)r->enabled) >= 0;
    }
    return result;
}

// ---- format checks -------------------------------------------------------------------

int32_t D3D8_CheckZBufferFormat(uint32_t format)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    uint32_t modeFormat = D3D8_System()->currentMode.format;
    if (!st->d3d) return 0;
    return st->d3d->CheckDeviceFormat(st->adapter, D3DDEVTYPE_HAL, modeFormat, D3DUSAGE_DEPTHSTENCIL,
                                      D3DRTYPE_SURFACE, format) >= 0 &&
           st->d3d->CheckDepthStencilMatch(st->adapter, D3DDEVTYPE_HAL, modeFormat, modeFormat, format) >= 0;
}

int32_t D3D8_CheckTextureFormat(uint32_t format)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    if (!st->d3d) return 0;
    return st->d3d->CheckDeviceFormat(st->adapter, D3DDEVTYPE_HAL, D3D8_System()->currentMode.format, 0,
                                      D3DRTYPE_TEXTURE, format) >= 0;
}

int32_t D3D8_CheckRenderTargetFormat(uint32_t format)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    uint32_t modeFormat = D3D8_System()->currentMode.format;
    if (!st->d3d) return 0;
    return st->d3d->CheckDeviceFormat(st->adapter, D3DDEVTYPE_HAL, modeFormat, D3DUSAGE_RENDERTARGET,
                                      D3DRTYPE_TEXTURE, format) >= 0 &&
           st->d3d->CheckDepthStencilMatch(st->adapter, D3DDEVTYPE_HAL, modeFormat, format, st->depthFormat) >= 0;
}

// ---- frustum tests ------------------------------------------------------------------------

int32_t D3D8_CameraIsSphereFullyInside(const Camera *camera, const float centre[3], float radius)
{
    for (const FrustumPlane &p : camera->frustumPlanes) {
        float d = p.normal.x * centre[0] + p.normal.y * centre[1] + p.normal.z * centre[2] - p.distance;
        if (d > -radius) return 0;
    }
    return 1;
}

int32_t D3D8_CameraIsBoxFullyInside(const Camera *camera, const float maximum[3], const float minimum[3])
{
    for (const FrustumPlane &p : camera->frustumPlanes) {
        float x = p.closestX ? maximum[0] : minimum[0];
        float y = p.closestY ? maximum[1] : minimum[1];
        float z = p.closestZ ? maximum[2] : minimum[2];
        if (p.normal.x * x + p.normal.y * y + p.normal.z * z > p.distance) return 0;
    }
    return 1;
}

// ---- lifecycle --------------------------------------------------------------------------------

void D3D8_ForgetDeviceCalls(void)
{
    s.vertexShaderValid = 0;
    s.pixelShaderValid = 0;
    s.streamValid = 0;
    s.streamBuffer = nullptr;
    s.streamStride = 0;
    s.indicesValid = 0;
    s.indexBuffer = nullptr;
    memset(s.material, 0, sizeof(s.material));
    s.materialValid = 0;
    D3D8_ResetTransformCache();
}

void D3D8_ResetTransformCache(void)
{
    s.worldIsIdentity = 0;
    for (TransformSlot &slot : s.transforms) slot.present = 0;
    // The world slot starts as the identity while worldIsIdentity is 0, so
    // that the first identity world set is still sent.
    s.transforms[D3DTS_WORLD].matrix = kIdentity;
    s.transforms[D3DTS_WORLD].present = 1;
}

void D3D8_CacheOpen(void)
{
    D3D8_ForgetDeviceCalls();
    Engine_Free(s.lights);
    s.lights = nullptr;
    s.lightCount = 0;
    s.ambientLight[0] = s.ambientLight[1] = s.ambientLight[2] = 0.0f;
    s.ambientLight[3] = 1.0f;
}

void D3D8_CacheClose(void)
{
    D3D8_ForgetDeviceCalls();
    Engine_Free(s.lights);
    s.lights = nullptr;
    s.lightCount = 0;
    D3D8_ReleaseRotatingVertexBuffers();
    D3D8_DestroyPixelShaders();
    D3D8_DestroyDynamicVertexBuffers();
}

const D3D8RotatingBuffer *D3D8_GetRotatingBuffer(uint32_t index)
{
    return index < D3D8_ROTATING_BUFFER_COUNT ? &s.rotating[index] : nullptr;
}
uint32_t D3D8_GetCurrentRotatingBuffer(void) { return s.currentRotating; }
const D3D8DynamicVertexBuffer *D3D8_GetVertexBufferPool(void) { return s.vertexBufferPool; }
uint32_t D3D8_GetLightCount(void) { return s.lightCount; }
