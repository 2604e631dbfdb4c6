// Skins, their extensions on geometries and atomics, and their streams.
//
// A skin's arrays live in one cleared block: the used bones first, then the
// inverse matrices from the next 16-byte boundary, the packed bone indices
// and the weights. The bone-split data of older tools is carried in a block
// of its own and written back as it came.
//
// Stream readers compare every count with the sub-chunk's length before the
// block is allocated, and check that each weighted slot names one of the
// skin's bones: the older layouts rebuild the used-bone list into room for
// B entries, which more distinct bones would overrun.
#include "gfx/plugin/skin/skin.h"

#include <algorithm>
#include <cstring>

#include "common/assert.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/freelist.h"
#include "gfx/core/pipeline.h"
#include "gfx/core/stream.h"
#include "gfx/plugin/hanim/hanim.h"
#include "gfx/plugin/matfx/matfx.h"
#include "gfx/plugin/skin/d3d8skin.h"
#include "gfx/world/atomic.h"
#include "gfx/world/geometry.h"

namespace {

constexpr int32_t kSkinsPerBlock = 20;
constexpr uint32_t kOneBits = 0x3F800000u;  // 1.0f
constexpr int64_t kMatrixBytes = 64;

struct SkinModule {
    int32_t atomicOffset;
    int32_t geometryOffset;
    int32_t openCount;
    FreeList* skins;
};

SkinModule sModule = {-1, -1, 0, nullptr};

Skin*& GeometrySlot(void* g) { return *(Skin**)((char*)g + sModule.geometryOffset); }
BoneHierarchy*& AtomicSlot(void* a) { return *(BoneHierarchy**)((char*)a + sModule.atomicOffset); }

void Raise(uint32_t code)
{
    const ErrorRecord e = {(code & 0x80000000u) ? 0 : (int32_t)PLUGIN_SKIN, (int32_t)code};
    Error_Set(&e);
}

int32_t WeightBits(float w)
{
    int32_t bits;
    memcpy(&bits, &w, 4);
    return bits;
}

// A cleared record with its array block for B bones, U used bones and V
// vertices; null with nothing left when memory runs out.
Skin* NewSkin(int64_t numBones, int64_t numUsed, int64_t numVertices)
{
    HELM_ASSERT(sModule.skins);
    Skin* s = (Skin*)FreeList_Alloc(sModule.skins);
    if (!s) {
        Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    memset(s, 0, sizeof(*s));
    const size_t bytes = (size_t)(numBones * kMatrixBytes + numVertices * 20 + numUsed + 15);
    uint8_t* block = (uint8_t*)Engine_Calloc(1, bytes);
    if (!block) {
        FreeList_Free(sModule.skins, s);
        Raise(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    s->arrayBlock = block;
    s->numBones = (uint32_t)numBones;
    s->numVertices = (uint32_t)numVertices;
    s->usedBones = block;
    s->inverseMatrices = (Matrix*)(((uintptr_t)block + (uintptr_t)numUsed + 15) & ~(uintptr_t)15);
    s->vertexBoneIndices = (uint32_t*)(s->inverseMatrices + numBones);
    s->vertexWeights = (float*)(s->vertexBoneIndices + numVertices);
    return s;
}

// Weights in use: slots past slot 0 up to the first zero weight, over every
// vertex, until all four are in use.
uint32_t FindMaxWeights(const float* weights, uint32_t numVertices)
{
    uint32_t max = 1;
    for (uint32_t v = 0; v < numVertices && max < SKIN_MAX_WEIGHTS; v++)
        for (uint32_t k = max; k < SKIN_MAX_WEIGHTS && weights[4 * v + k] != 0; k++) max++;
    return max;
}

uint8_t BoneOf(uint32_t packed, uint32_t slot) { return (uint8_t)(packed >> (8 * slot)); }

// The distinct weighted bones in first-appearance order, into out (room for
// capacity entries); their count.
uint32_t CollectUsedBones(const Skin* s, uint8_t* out, uint32_t capacity)
{
    bool listed[256] = {};
    uint32_t count = 0;
    for (uint32_t v = 0; v < s->numVertices; v++)
        for (uint32_t k = 0; k < s->maxWeights; k++) {
            if (s->vertexWeights[4 * v + k] == 0) continue;
            const uint8_t bone = BoneOf(s->vertexBoneIndices[v], k);
            if (listed[bone]) continue;
            listed[bone] = true;
            HELM_ASSERT(count < capacity);
            out[count++] = bone;
        }
    return count;
}

// Every weighted slot names one of the skin's bones: the slots past the
// weights in use too, since sorting a vertex's weights can move one of them
// into use.
bool WeightedBonesInRange(const Skin* s)
{
    for (uint32_t v = 0; v < s->numVertices; v++)
        for (uint32_t k = 0; k < SKIN_MAX_WEIGHTS; k++)
            if (s->vertexWeights[4 * v + k] != 0 && BoneOf(s->vertexBoneIndices[v], k) >= s->numBones) return false;
    return true;
}

void DecodeMatrix(const uint32_t w[16], Matrix* m)
{
    memcpy(&m->right, &w[0], 12);
    m->flags = w[3];
    memcpy(&m->up, &w[4], 12);
    m->pad1 = w[7];
    memcpy(&m->at, &w[8], 12);
    m->pad2 = w[11];
    memcpy(&m->pos, &w[12], 12);
    m->pad3 = w[15];
}

void EncodeMatrix(const Matrix* m, uint32_t w[16])
{
    memcpy(&w[0], &m->right, 12);
    w[3] = m->flags;
    memcpy(&w[4], &m->up, 12);
    w[7] = m->pad1;
    memcpy(&w[8], &m->at, 12);
    w[11] = m->pad2;
    memcpy(&w[12], &m->pos, 12);
    w[15] = m->pad3;
}

// Reads the per-vertex arrays, then the matrices, each preceded by `skip`
// bytes (the older layouts' padding).
bool ReadArrays(Stream* stream, Skin* s, uint32_t skip)
{
    const uint32_t v = s->numVertices;
    if (v &&
        (!Stream_ReadInt32(stream, s->vertexBoneIndices, 4 * v) || !Stream_ReadReal(stream, s->vertexWeights, 16 * v)))
        return false;
    for (uint32_t b = 0; b < s->numBones; b++) {
        uint32_t w[16];
        if ((skip && !Stream_Skip(stream, skip)) || !Stream_ReadInt32(stream, w, sizeof(w))) return false;
        DecodeMatrix(w, &s->inverseMatrices[b]);
    }
    return true;
}

// The older layouts carry no maximum weights and no used-bone list.
bool DeriveWeights(Skin* s)
{
    s->maxWeights = FindMaxWeights(s->vertexWeights, s->numVertices);
    if (!WeightedBonesInRange(s)) return false;
    s->numUsedBones = CollectUsedBones(s, s->usedBones, s->numBones);
    return true;
}

// Gives the geometry a skin read from its stream; a second skin chunk
// replaces the first.
void StoreReadSkin(Geometry* g, Skin* s)
{
    Skin* old = GeometrySlot(g);
    if (old && old != s) Skin_Destroy(old);
    GeometrySlot(g) = nullptr;
    Skin_GeometrySetSkin(g, s);
}

// Refusals: raise code (0: the failed call raised already), free the skin.
Skin* Fail(Skin* s, uint32_t code)
{
    if (code) Raise(code);
    if (s) Skin_Destroy(s);
    return nullptr;
}
Stream* Refuse(Skin* s, uint32_t code)
{
    Fail(s, code);
    return nullptr;
}

Skin* ReadCurrentLayout(Stream* stream, int64_t length, uint32_t header, int64_t v)
{
    const int64_t b = header & 0xFF, u = (header >> 8) & 0xFF, w = (header >> 16) & 0xFF;
    const int64_t base = 16 + u + 20 * v + kMatrixBytes * b;
    if (w > SKIN_MAX_WEIGHTS || length < base) return Fail(nullptr, SKIN_ERR_BAD_DATA);
    Skin* s = NewSkin(b, u, v);
    if (!s) return nullptr;
    s->numUsedBones = (uint32_t)u;
    s->maxWeights = (uint32_t)w;
    if ((u && Stream_Read(stream, s->usedBones, (uint32_t)u) != (uint32_t)u) || !ReadArrays(stream, s, 0))
        return Fail(s, 0);
    int32_t split[3];
    if (!Stream_ReadInt32(stream, split, sizeof(split))) return Fail(s, 0);
    s->boneLimit = split[0];
    s->numMeshes = split[1];
    s->numRLE = split[2];
    if (s->numMeshes < 0 || s->numRLE < 0 || !WeightedBonesInRange(s)) return Fail(s, SKIN_ERR_BAD_DATA);
    if (s->numMeshes != 0) {
        const int64_t bytes = b + 2 * ((int64_t)s->numMeshes + s->numRLE);
        if (length < base + bytes) return Fail(s, SKIN_ERR_BAD_DATA);
        s->splitBlock = (uint8_t*)Engine_Calloc(1, (size_t)bytes);
        if (!s->splitBlock) return Fail(s, ERR_OUT_OF_MEMORY);
        s->meshBoneRemap = s->splitBlock + b;
        s->meshRLE = s->meshBoneRemap + 2 * (int64_t)s->numMeshes;
        if (Stream_Read(stream, s->splitBlock, (uint32_t)bytes) != (uint32_t)bytes) return Fail(s, 0);
    }
    return s;
}

Skin* ReadOlderLayout(Stream* stream, int64_t length, uint32_t header, int64_t v)
{
    const int64_t b = header & 0xFF;
    if (length < 4 + 20 * v + (kMatrixBytes + 4) * b) return Fail(nullptr, SKIN_ERR_BAD_DATA);
    Skin* s = NewSkin(b, b, v);
    if (!s) return nullptr;
    if (!ReadArrays(stream, s, 4)) return Fail(s, 0);
    if (!DeriveWeights(s)) return Fail(s, SKIN_ERR_BAD_DATA);
    return s;
}

Skin* ReadNative(Stream* stream, int32_t length)
{
    uint32_t type = 0, size = 0, version = 0;
    if (length < (int32_t)CHUNK_HEADER_SIZE + 8) return Fail(nullptr, ERR_SHORT_READ);
    if (!Stream_ReadChunkHeader(stream, &type, &size, &version, nullptr)) return nullptr;
    if (type != CHUNK_STRUCT || size < 8) return Fail(nullptr, SKIN_ERR_BAD_DATA);
    if (version < STREAM_VERSION_MIN || version > STREAM_VERSION_MAX) return Fail(nullptr, ERR_BAD_VERSION);
    int32_t words[2];
    if (!Stream_ReadInt32(stream, words, sizeof(words))) return nullptr;
    if (words[0] != (int32_t)SKIN_NATIVE_PLATFORM || words[1] < 0) return Fail(nullptr, SKIN_ERR_BAD_DATA);
    Skin* s = NewSkin(0, 0, 0);
    if (s) s->numBones = (uint32_t)words[1];
    return s;
}

Stream* GeometryRead(Stream* stream, int32_t length, void* object, int32_t, int32_t)
{
    Geometry* g = (Geometry*)object;
    Skin* s = nullptr;
    if (g->flags & GEOMETRY_NATIVE) {
        s = ReadNative(stream, length);
    } else {
        uint32_t header = 0;
        if (length < 4) return Refuse(nullptr, ERR_SHORT_READ);
        if (!Stream_ReadInt32(stream, &header, 4)) return nullptr;
        s = ((header >> 16) & 0xFF) ? ReadCurrentLayout(stream, length, header, g->numVertices)
                                    : ReadOlderLayout(stream, length, header, g->numVertices);
    }
    if (!s) return nullptr;
    StoreReadSkin(g, s);
    return stream;
}

int32_t GeometryGetSize(const void* object, int32_t, int32_t)
{
    const Geometry* g = (const Geometry*)object;
    const Skin* s = *(Skin* const*)((const char*)g + sModule.geometryOffset);
    if (!s || (g->flags & GEOMETRY_NATIVE) || s->numVertices != (uint32_t)g->numVertices || !s->maxWeights) return 0;
    int32_t size = (int32_t)(64 * s->numBones + 20 * s->numVertices + s->numUsedBones + 16);
    if (s->numMeshes != 0) size += (int32_t)s->numBones + 2 * (s->numMeshes + s->numRLE);
    return size;
}

// A stream carries the bone and used-bone counts in one byte each: a skin
// of more would read back corrupt, so its write fails.
Stream* GeometryWrite(Stream* stream, int32_t, const void* object, int32_t, int32_t)
{
    const Geometry* g = (const Geometry*)object;
    const Skin* s = *(Skin* const*)((const char*)g + sModule.geometryOffset);
    if (s->numBones > SKIN_MAX_STREAM_BONES || s->numUsedBones > SKIN_MAX_STREAM_BONES) {
        Raise(SKIN_ERR_BAD_DATA);
        return nullptr;
    }
    const uint32_t header = s->numBones | s->numUsedBones << 8 | s->maxWeights << 16;
    const uint32_t v = s->numVertices;
    if (!Stream_WriteInt32(stream, &header, 4) ||
        (s->numUsedBones && !Stream_Write(stream, s->usedBones, s->numUsedBones)) ||
        (v && (!Stream_WriteInt32(stream, s->vertexBoneIndices, 4 * v) ||
               !Stream_WriteReal(stream, s->vertexWeights, 16 * v))))
        return nullptr;
    for (uint32_t b = 0; b < s->numBones; b++) {
        uint32_t w[16];
        EncodeMatrix(&s->inverseMatrices[b], w);
        if (!Stream_WriteInt32(stream, w, sizeof(w))) return nullptr;
    }
    const int32_t split[3] = {s->boneLimit, s->numMeshes, s->numRLE};
    if (!Stream_WriteInt32(stream, split, sizeof(split))) return nullptr;
    if (s->numMeshes != 0) {
        const uint32_t bytes = s->numBones + 2 * (uint32_t)(s->numMeshes + s->numRLE);
        if (!Stream_Write(stream, s->splitBlock, bytes)) return nullptr;
    }
    return stream;
}

void* GeometryConstruct(void* g, int32_t, int32_t)
{
    GeometrySlot(g) = nullptr;
    return g;
}

void* GeometryDestruct(void* g, int32_t, int32_t)
{
    if (GeometrySlot(g)) Skin_Destroy(GeometrySlot(g));
    GeometrySlot(g) = nullptr;
    return g;
}

void* GeometryCopy(void* dst, const void*, int32_t, int32_t)
{
    GeometrySlot(dst) = nullptr;
    return dst;
}

void* AtomicConstruct(void* a, int32_t, int32_t)
{
    AtomicSlot(a) = nullptr;
    return a;
}

void* AtomicCopy(void* dst, const void* src, int32_t, int32_t)
{
    AtomicSlot(dst) = *(BoneHierarchy* const*)((const char*)src + sModule.atomicOffset);
    return dst;
}

// The skin chunk older files put in the atomic: read only into a geometry
// that has no skin yet.
Stream* AtomicLegacyRead(Stream* stream, int32_t length, void* object, int32_t, int32_t)
{
    Geometry* g = ((Atomic*)object)->geometry;
    if (!g || Skin_GeometryGetSkin(g) || (g->flags & GEOMETRY_NATIVE)) return stream;
    int32_t b = 0;
    if (length < 8) return Refuse(nullptr, ERR_SHORT_READ);
    if (!Stream_ReadInt32(stream, &b, 4)) return nullptr;
    const int64_t v = g->numVertices;
    if (b < 0 || (int64_t)length < 8 + 20 * v + (kMatrixBytes + 12) * (int64_t)b)
        return Refuse(nullptr, SKIN_ERR_BAD_DATA);
    if (!Stream_Skip(stream, 4)) return nullptr;
    Skin* s = NewSkin(b, b, v);
    if (!s) return nullptr;
    if (!ReadArrays(stream, s, 12)) return Refuse(s, 0);
    if (!DeriveWeights(s)) return Refuse(s, SKIN_ERR_BAD_DATA);
    StoreReadSkin(g, s);
    return stream;
}

Stream* AtomicWriteNothing(Stream* stream, int32_t, const void*, int32_t, int32_t) { return stream; }
int32_t AtomicSizeNothing(const void*, int32_t, int32_t) { return 0; }

bool MatFXAttached(void) { return Atomic_GetPluginOffset(PLUGIN_MATFX) >= 0; }

int32_t AtomicAlways(void* object, int32_t, int32_t)
{
    Atomic* a = (Atomic*)object;
    const uint32_t type = MatFXAttached() && MatFX_AtomicEffectsEnabled(a) ? SKIN_TYPE_MATFX : SKIN_TYPE_GENERIC;
    if (a->geometry && Skin_GeometryGetSkin(a->geometry)) Skin_AtomicSetType(a, type);
    return 1;
}

int32_t AtomicRights(void* object, int32_t, int32_t, uint32_t extraData)
{
    Atomic* a = (Atomic*)object;
    if (a->geometry && Skin_GeometryGetSkin(a->geometry)) Skin_AtomicSetType(a, extraData);
    return 1;
}

void* EngineOpen(void* engine, int32_t, int32_t)
{
    if (sModule.openCount == 0) {
        sModule.skins = FreeList_CreateEx((int32_t)sizeof(Skin), kSkinsPerBlock, 4, 1, nullptr);
        if (!sModule.skins || !Skin_CreateD3D8Pipeline()) {
            if (sModule.skins) FreeList_Destroy(sModule.skins);
            sModule.skins = nullptr;
            return nullptr;
        }
    }
    sModule.openCount++;
    return engine;
}

void* EngineClose(void* engine, int32_t, int32_t)
{
    if (--sModule.openCount == 0) {
        Skin_DestroyD3D8Pipelines();
        if (sModule.skins) FreeList_Destroy(sModule.skins);
        sModule.skins = nullptr;
    }
    return engine;
}

}  // namespace

int32_t Skin_PluginAttach(void)
{
    const int32_t engine = Engine_RegisterPlugin(0, PLUGIN_SKIN, EngineOpen, EngineClose);
    sModule.atomicOffset = Atomic_RegisterPlugin((int32_t)sizeof(BoneHierarchy*), PLUGIN_SKIN, AtomicConstruct,
                                                 AtomicConstruct, AtomicCopy);
    const int32_t atomicStream =
        Atomic_RegisterPluginStream(PLUGIN_SKIN, AtomicLegacyRead, AtomicWriteNothing, AtomicSizeNothing);
    const int32_t always = Atomic_SetStreamAlwaysCallback(PLUGIN_SKIN, AtomicAlways);
    const int32_t rights = Atomic_SetStreamRightsCallback(PLUGIN_SKIN, AtomicRights);
    sModule.geometryOffset =
        Geometry_RegisterPlugin((int32_t)sizeof(Skin*), PLUGIN_SKIN, GeometryConstruct, GeometryDestruct, GeometryCopy);
    const int32_t geometryStream =
        Geometry_RegisterPluginStream(PLUGIN_SKIN, GeometryRead, GeometryWrite, GeometryGetSize);
    return engine >= 0 && sModule.atomicOffset >= 0 && atomicStream >= 0 && always >= 0 && rights >= 0 &&
                   sModule.geometryOffset >= 0 && geometryStream >= 0
               ? 1
               : 0;
}

int32_t Skin_GetOpenCount(void) { return sModule.openCount; }

Skin* Skin_Create(int32_t numVertices, int32_t numBones, const float* weights, const uint32_t* boneIndices,
                  const Matrix* inverseMatrices)
{
    HELM_ASSERT(numVertices >= 0 && numBones >= 0);
    HELM_ASSERT((weights && boneIndices) || numVertices == 0);
    HELM_ASSERT(inverseMatrices || numBones == 0);
    const uint32_t v = (uint32_t)numVertices;
    // The used bones are found before the block is sized: a probe record
    // over the caller's arrays.
    Skin probe = {};
    probe.numVertices = v;
    probe.maxWeights = v ? FindMaxWeights(weights, v) : 1;
    probe.vertexWeights = (float*)weights;
    probe.vertexBoneIndices = (uint32_t*)boneIndices;
    uint8_t used[SKIN_MAX_USED_BONES];
    const uint32_t numUsed = CollectUsedBones(&probe, used, SKIN_MAX_USED_BONES);
    Skin* s = NewSkin(numBones, numUsed, numVertices);
    if (!s) return nullptr;
    s->maxWeights = probe.maxWeights;
    s->numUsedBones = numUsed;
    memcpy(s->usedBones, used, numUsed);
    if (numBones) memcpy(s->inverseMatrices, inverseMatrices, sizeof(Matrix) * (size_t)numBones);
    if (v) {
        memcpy(s->vertexBoneIndices, boneIndices, 4 * (size_t)v);
        memcpy(s->vertexWeights, weights, 16 * (size_t)v);
    }
    return s;
}

void Skin_Destroy(Skin* skin)
{
    if (!skin) return;
    if (skin->arrayBlock) Engine_Free(skin->arrayBlock);
    if (skin->splitBlock) Engine_Free(skin->splitBlock);
    FreeList_Free(sModule.skins, skin);
}

Skin* Skin_GeometryGetSkin(const Geometry* geometry)
{
    HELM_ASSERT(geometry && sModule.geometryOffset >= 0);
    return *(Skin* const*)((const char*)geometry + sModule.geometryOffset);
}

Geometry* Skin_GeometrySetSkin(Geometry* geometry, Skin* skin)
{
    HELM_ASSERT(geometry && sModule.geometryOffset >= 0);
    if (GeometrySlot(geometry) == skin) return geometry;
    HELM_ASSERT(!skin || !skin->maxWeights || skin->numVertices == (uint32_t)geometry->numVertices);
    GeometrySlot(geometry) = skin;
    if (skin) Skin_SortWeights(geometry);
    return geometry;
}

void Skin_SortWeights(Geometry* geometry)
{
    Skin* s = Skin_GeometryGetSkin(geometry);
    if (!s) return;
    const uint32_t n = std::min((uint32_t)geometry->numVertices, s->numVertices);
    for (uint32_t v = 0; v < n; v++) {
        float* w = &s->vertexWeights[4 * v];
        if (WeightBits(w[0]) >= (int32_t)kOneBits) continue;
        const uint32_t packed = s->vertexBoneIndices[v];
        uint8_t index[4] = {BoneOf(packed, 0), BoneOf(packed, 1), BoneOf(packed, 2), BoneOf(packed, 3)};
        for (bool swapped = true; swapped;) {
            swapped = false;
            for (int k = 0; k < 3; k++)
                if (WeightBits(w[k]) < WeightBits(w[k + 1])) {
                    std::swap(w[k], w[k + 1]);
                    std::swap(index[k], index[k + 1]);
                    swapped = true;
                }
        }
        s->vertexBoneIndices[v] =
            index[0] | (uint32_t)index[1] << 8 | (uint32_t)index[2] << 16 | (uint32_t)index[3] << 24;
    }
    if (s->numUsedBones) std::sort(s->usedBones, s->usedBones + s->numUsedBones);
}

Atomic* Skin_AtomicSetHierarchy(Atomic* atomic, BoneHierarchy* hierarchy)
{
    HELM_ASSERT(atomic && sModule.atomicOffset >= 0);
    AtomicSlot(atomic) = hierarchy;
    return atomic;
}

BoneHierarchy* Skin_AtomicGetHierarchy(const Atomic* atomic)
{
    HELM_ASSERT(atomic && sModule.atomicOffset >= 0);
    return *(BoneHierarchy* const*)((const char*)atomic + sModule.atomicOffset);
}

// The types name variants for the effects and toon plugins, which fall back
// to the generic one without them; only the generic pipeline exists, so
// every type draws with it.
Atomic* Skin_AtomicSetType(Atomic* atomic, uint32_t)
{
    HELM_ASSERT(atomic);
    atomic->pipeline = Skin_GetD3D8Pipeline();
    return atomic;
}
