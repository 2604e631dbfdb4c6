// The skinned-atomic pipeline on Direct3D 8.
//
// Instancing goes through the all-in-one node's mesh instancing (index
// buffers relative to each mesh's first vertex); every mesh record then
// points into one vertex range for the whole geometry, so a vertex is
// deformed once however many meshes use it. The range's vertex count is
// kept in the instance header's spare word for the destroy notify, which
// gives the range back once and leaves the rotating buffers of the
// hardware path alone.
//
// One blending routine set serves every processor: a slot-0 weight is
// compared with 1.0 as unsigned bits, so a negative weight takes the
// single-bone path.
#include "gfx/plugin/skin/d3d8skin.h"

#include <algorithm>
#include <cstring>

#include "common/assert.h"
#include "gfx/core/arena.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/pipeline.h"
#include "gfx/driver/d3d8/d3d8cache.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "gfx/driver/d3d8/d3d8vbmanager.h"
#include "gfx/plugin/hanim/hanim.h"
#include "gfx/plugin/skin/skin.h"
#include "gfx/world/atomic.h"
#include "gfx/world/d3d8instance.h"
#include "gfx/world/d3d8lighting.h"
#include "gfx/world/d3d8pipelines.h"
#include "gfx/world/geometry.h"
#include "gfx/world/mesh.h"

namespace {

constexpr uint32_t kPaletteSize = 256;
constexpr uint32_t kPipelineSlots = 4;
constexpr uint32_t kOneBits = 0x3F800000u;  // 1.0f

struct SkinDrawModule {
    Pipeline* pipelines[kPipelineSlots];  // only the first is made
    uint32_t hardwareTnL;                 // read when the pipeline is made
    void* paletteBlock;
    Matrix* palette;  // kPaletteSize entries, 16-byte aligned
    // The palette's key: the hierarchy (and its serial, which a new
    // hierarchy at a freed one's address does not share), the drawn atomic
    // and the render frame it was built in.
    bool cached;
    const BoneHierarchy* hierarchy;
    uint32_t serial;
    const Atomic* atomic;
    uint16_t renderFrame;
    uint32_t builds;
};

SkinDrawModule sDraw;

// ---- instancing ----

// Vertex format and stride of every mesh record, as the all-in-one node
// gives them; the vertex range is set up once all records exist.
int32_t SetVertexFormat(void* object, D3D8MeshInstance* r, int32_t)
{
    const Geometry* g = ((const Atomic*)object)->geometry;
    uint32_t format = D3DFVF_XYZ, stride = 12;
    if (g->flags & GEOMETRY_NORMALS) format |= D3DFVF_NORMAL, stride += 12;
    if (g->flags & GEOMETRY_PRELIT) format |= D3DFVF_DIFFUSE, stride += 4;
    format |= (uint32_t)g->numTexCoordSets << D3DFVF_TEXCOUNT_SHIFT;
    stride += 8 * (uint32_t)g->numTexCoordSets;
    r->vertexShader = format;
    r->stride = stride;
    return 1;
}

// Gives the shared range back (once for all records) and forgets every
// record's vertex buffer, then lets the instance data's own notify release
// the index buffers.
void DestroyInstance(ResourceArenaEntry* entry)
{
    D3D8InstanceData* data = D3D8InstanceData_Get(entry);
    D3D8MeshInstance* records = D3D8InstanceData_Records(data);
    if (data->numMeshes && records[0].managed && records[0].vertexBuffer)
        VertexBufferManager_Free(records[0].vertexShader, data->pad * records[0].stride, records[0].vertexBuffer,
                                 records[0].baseIndex - records[0].minVertexIndex);
    for (uint32_t i = 0; i < data->numMeshes; i++) records[i].vertexBuffer = nullptr;
    data->pad = 0;
    D3D8InstanceData_Destroy(entry);
}

// One range of the shared buffers for the geometry's vertices.
bool TakeRange(D3D8InstanceData* data, uint32_t numVertices)
{
    D3D8MeshInstance* records = D3D8InstanceData_Records(data);
    IDirect3DVertexBuffer8* buffer = nullptr;
    uint32_t base = 0;
    if (!VertexBufferManager_Alloc(records[0].vertexShader, numVertices * records[0].stride, &buffer, &base))
        return false;
    for (uint32_t i = 0; i < data->numMeshes; i++) {
        records[i].managed = 1;
        records[i].vertexBuffer = buffer;
        records[i].baseIndex = records[i].minVertexIndex + base;
    }
    data->pad = numVertices;
    return true;
}

void GiveRangeBack(D3D8InstanceData* data)
{
    D3D8MeshInstance* records = D3D8InstanceData_Records(data);
    if (!records[0].managed || !records[0].vertexBuffer) return;
    VertexBufferManager_Free(records[0].vertexShader, data->pad * records[0].stride, records[0].vertexBuffer,
                             records[0].baseIndex - records[0].minVertexIndex);
    for (uint32_t i = 0; i < data->numMeshes; i++) {
        records[i].managed = 0;
        records[i].vertexBuffer = nullptr;
    }
    data->pad = 0;
}

// A prelit colour as the device takes it, modulated by a material colour
// that is not white when the geometry asks for it.
uint32_t DeviceColour(RGBA c, const Material* material, bool modulate)
{
    if (modulate && material) {
        uint8_t* channel[4] = {&c.red, &c.green, &c.blue, &c.alpha};
        const uint8_t* m = material->colour;
        if (m[0] != 255 || m[1] != 255 || m[2] != 255 || m[3] != 255)
            for (int i = 0; i < 4; i++) *channel[i] = (uint8_t)(((m[i] + 1u) * *channel[i]) >> 8);
    }
    return (uint32_t)c.alpha << 24 | (uint32_t)c.red << 16 | (uint32_t)c.green << 8 | c.blue;
}

// Prelit colours and texture coordinates of every record's vertices into
// locked (vertex 0 of the geometry at its start).
void WriteColoursAndCoordinates(const Geometry* g, D3D8InstanceData* data, uint8_t* locked)
{
    D3D8MeshInstance* records = D3D8InstanceData_Records(data);
    const bool prelit = (g->flags & GEOMETRY_PRELIT) != 0;
    const uint32_t offset = (g->flags & GEOMETRY_NORMALS) ? 24 : 12;
    for (uint32_t m = 0; m < data->numMeshes; m++) {
        D3D8MeshInstance& r = records[m];
        bool alpha = false;
        for (uint32_t i = 0; i < r.numVertices; i++) {
            const uint32_t v = r.minVertexIndex + i;
            uint8_t* out = locked + (size_t)v * r.stride + offset;
            if (prelit) {
                const RGBA c = g->preLitLum[v];
                alpha |= c.alpha < 255;
                const uint32_t packed = DeviceColour(c, r.material, (g->flags & GEOMETRY_MODULATE_MATERIAL_COLOR) != 0);
                memcpy(out, &packed, 4);
                out += 4;
            }
            for (int32_t s = 0; s < g->numTexCoordSets; s++, out += 8)
                if (g->texCoords[s]) memcpy(out, &g->texCoords[s][v], 8);
        }
        r.vertexAlpha = alpha ? 1 : 0;
    }
}

// Undeformed positions and normals of the first morph target.
void WriteRestPose(const Geometry* g, uint32_t stride, uint8_t* locked)
{
    const MorphTarget& t = g->morphTarget[0];
    for (int32_t v = 0; v < g->numVertices; v++) {
        uint8_t* out = locked + (size_t)v * stride;
        memcpy(out, &t.verts[v], 12);
        if ((g->flags & GEOMETRY_NORMALS) && t.normals) memcpy(out + 12, &t.normals[v], 12);
    }
}

bool LockRange(D3D8InstanceData* data, uint8_t** out)
{
    const D3D8MeshInstance& r = D3D8InstanceData_Records(data)[0];
    const uint32_t first = r.baseIndex - r.minVertexIndex;
    return r.vertexBuffer->Lock(first * r.stride, data->pad * r.stride, out, D3DLOCK_NOSYSLOCK) >= 0;
}

// ---- palette and blending ----

void BuildPalette(const Atomic* atomic, BoneHierarchy* h, const Skin* skin)
{
    Matrix* palette = sDraw.palette;
    Matrix worldInverse;
    Frame* frame = Atomic_GetFrame(atomic);
    if (frame) Matrix_Invert(&worldInverse, Frame_GetWorldMatrix(frame));
    else Matrix_SetIdentity(&worldInverse);
    // Bones the skin or the hierarchy lacks, and anything past the palette,
    // are left at the identity.
    const uint32_t count = std::min({(uint32_t)std::max(h->numNodes, 0), skin->numBones, kPaletteSize});
    for (uint32_t i = 0; i < count; i++) {
        const Matrix& s = skin->inverseMatrices[i];
        Matrix step;
        if (h->flags & HANIM_NO_MATRICES) {
            Frame* node = h->nodeInfo ? h->nodeInfo[i].frame : nullptr;
            if (!node) {
                Matrix_SetIdentity(&palette[i]);
                continue;
            }
            Matrix_Multiply(&step, &s, Frame_GetWorldMatrix(node));
            Matrix_Multiply(&palette[i], &step, &worldInverse);
        } else if (!h->matrixArray) {
            Matrix_SetIdentity(&palette[i]);
        } else if (h->flags & HANIM_LOCAL_SPACE) {
            Matrix_Multiply(&palette[i], &s, &h->matrixArray[i]);
        } else {
            Matrix_Multiply(&step, &s, &h->matrixArray[i]);
            Matrix_Multiply(&palette[i], &step, &worldInverse);
        }
    }
    for (uint32_t i = count; i < kPaletteSize; i++) Matrix_SetIdentity(&palette[i]);
    sDraw.builds++;
}

struct Blended {
    Vec3 p, n;
};

void Accumulate(Blended& out, const Matrix& m, const Vec3& p, const Vec3& n, float w)
{
    out.p.x += w * (p.x * m.right.x + p.y * m.up.x + p.z * m.at.x + m.pos.x);
    out.p.y += w * (p.x * m.right.y + p.y * m.up.y + p.z * m.at.y + m.pos.y);
    out.p.z += w * (p.x * m.right.z + p.y * m.up.z + p.z * m.at.z + m.pos.z);
    out.n.x += w * (n.x * m.right.x + n.y * m.up.x + n.z * m.at.x);
    out.n.y += w * (n.x * m.right.y + n.y * m.up.y + n.z * m.at.y);
    out.n.z += w * (n.x * m.right.z + n.y * m.up.z + n.z * m.at.z);
}

// Deforms every vertex into locked: positions, and normals when the
// geometry has them (not renormalised).
void BlendVertices(const Skin* skin, const Geometry* g, uint32_t stride, uint8_t* locked)
{
    const Matrix* palette = sDraw.palette;
    const Vec3* positions = g->morphTarget[0].verts;
    const Vec3* normals = (g->flags & GEOMETRY_NORMALS) ? g->morphTarget[0].normals : nullptr;
    const uint32_t maxWeights = skin->maxWeights;
    const bool oneBone = maxWeights == 1 && skin->numUsedBones == 1;
    static const Vec3 kZero = {0, 0, 0};
    for (int32_t v = 0; v < g->numVertices; v++) {
        const Vec3& p = positions[v];
        const Vec3& n = normals ? normals[v] : kZero;
        const float* w = &skin->vertexWeights[4 * v];
        const uint32_t bones = skin->vertexBoneIndices[v];
        Blended out = {};
        uint32_t w0;
        memcpy(&w0, &w[0], 4);
        if (oneBone) {
            Accumulate(out, palette[skin->usedBones[0]], p, n, 1.0f);
        } else if (maxWeights == 1 || w0 >= kOneBits) {
            Accumulate(out, palette[bones & 0xFF], p, n, 1.0f);
        } else {
            Accumulate(out, palette[bones & 0xFF], p, n, w[0]);
            Accumulate(out, palette[(bones >> 8) & 0xFF], p, n, w[1]);
            if (maxWeights >= 3 && w[2] > 0) Accumulate(out, palette[(bones >> 16) & 0xFF], p, n, w[2]);
            if (maxWeights >= 4 && w[3] > 0) Accumulate(out, palette[bones >> 24], p, n, w[3]);
        }
        uint8_t* dst = locked + (size_t)v * stride;
        memcpy(dst, &out.p, 12);
        if (normals) memcpy(dst + 12, &out.n, 12);
    }
}

// ---- the node ----

bool NeedsNormalize(const Matrix* m)
{
    uint32_t lighting = 0;
    D3D8_GetRenderState(D3DRS_LIGHTING, &lighting);
    if (!lighting) return false;
    if (sDraw.hardwareTnL) return true;
    if (m->flags & (MATRIX_IDENTITY | MATRIX_UNIT_ROWS)) return false;
    for (const Vec3* axis : {&m->right, &m->up, &m->at}) {
        const float lengthSq = Vec3_LengthSq(axis);
        if (lengthSq < 0.9f || lengthSq > 1.1f) return true;
    }
    return false;
}

ResourceArenaEntry* Instance(Atomic* atomic, Geometry* g)
{
    const bool perAtomic = g->numMorphTargets > 1;
    ResourceArenaEntry** slot = perAtomic ? &atomic->instanceData : &g->instanceData;
    ResourceArenaEntry* entry = *slot;
    // Data the plain atomic pipeline made for the same geometry is laid out
    // differently (compacted per mesh): it is dropped, not reused.
    if (entry && (entry->destroyNotify != DestroyInstance ||
                  D3D8InstanceData_Get(entry)->serialNumber != g->mesh->serialNumber)) {
        ResourceArena_FreeEntry(entry);
        entry = nullptr;
    }
    if (entry) {
        ResourceArena_MoveToFront(entry);
        return entry;
    }
    entry = D3D8_InstanceMeshes(atomic, perAtomic ? (void*)atomic : (void*)g, slot, g->mesh, SetVertexFormat, 0);
    if (!entry) return nullptr;
    entry->destroyNotify = DestroyInstance;
    D3D8InstanceData* data = D3D8InstanceData_Get(entry);
    if (!Skin_AtomicGetHierarchy(atomic) || !sDraw.hardwareTnL) {
        uint8_t* locked = nullptr;
        if (!TakeRange(data, (uint32_t)g->numVertices) || !LockRange(data, &locked)) {
            ResourceArena_FreeEntry(entry);
            return nullptr;
        }
        WriteRestPose(g, D3D8InstanceData_Records(data)[0].stride, locked);
        WriteColoursAndCoordinates(g, data, locked);
        D3D8InstanceData_Records(data)[0].vertexBuffer->Unlock();
    }
    g->lockedSinceLastInst = 0;
    return entry;
}

int32_t SkinNodeBody(PipelineNode* node, const PipelineExecuteParams* params)
{
    const D3D8AllInOneNodeData* cb = (const D3D8AllInOneNodeData*)node->privateData;
    Atomic* atomic = (Atomic*)params->data;
    Geometry* g = atomic->geometry;
    if (!g || g->numVertices == 0 || !g->mesh || g->mesh->numMeshes == 0) return 1;
    // Native geometry keeps no positions to deform.
    if ((g->flags & GEOMETRY_NATIVE) || !g->morphTarget[0].verts) return 1;
    ResourceArenaEntry* entry = Instance(atomic, g);
    if (!entry) return 0;
    Skin_UpdateVertices(atomic);
    if (cb->lighting) cb->lighting(atomic);
    Frame* frame = Atomic_GetFrame(atomic);
    const Matrix* m = frame ? Frame_GetWorldMatrix(frame) : nullptr;
    D3D8_SetTransformWorld(m);
    D3D8_SetRenderState(D3DRS_NORMALIZENORMALS, m && NeedsNormalize(m) ? 1 : 0);
    cb->render(entry, atomic, D3D8_OBJECT_ATOMIC, g->flags);
    return 1;
}

int32_t SkinNodeInit(PipelineNode* node)
{
    *(D3D8AllInOneNodeData*)node->privateData =
        D3D8AllInOneNodeData{SetVertexFormat, nullptr, D3D8AtomicNode_Lighting, D3D8_DefaultRenderCallback};
    return 1;
}

PipelineNodeDefinition MakeNodeDefinition(void)
{
    PipelineNodeDefinition d = {};
    d.name = "nodeD3D8SkinAtomicAllInOne.csl";
    d.body = SkinNodeBody;
    d.init = SkinNodeInit;
    d.privateDataSize = (uint32_t)sizeof(D3D8AllInOneNodeData);
    return d;
}

PipelineNodeDefinition sNode = MakeNodeDefinition();

}  // namespace

int32_t Skin_CreateD3D8Pipeline(void)
{
    Skin_DestroyD3D8Pipelines();
    sDraw.hardwareTnL = D3D8_HasHardwareTnL() ? 1 : 0;
    sDraw.paletteBlock = Engine_Calloc(1, sizeof(Matrix) * kPaletteSize + 15);
    if (!sDraw.paletteBlock) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return 0;
    }
    sDraw.palette = (Matrix*)(((uintptr_t)sDraw.paletteBlock + 15) & ~(uintptr_t)15);
    Pipeline* p = Pipeline_Create();
    if (p) {
        p->pluginId = PLUGIN_SKIN;
        p->pluginData = 1;
        if (!Pipeline_BeginEdit(p) || !Pipeline_AddNodeChain(p, nullptr, &sNode, (PipelineNodeDefinition*)nullptr) ||
            !Pipeline_Compile(p)) {
            Pipeline_Destroy(p);
            p = nullptr;
        }
    }
    if (!p) {
        Skin_DestroyD3D8Pipelines();
        return 0;
    }
    sDraw.pipelines[0] = p;
    return 1;
}

void Skin_DestroyD3D8Pipelines(void)
{
    for (Pipeline*& p : sDraw.pipelines) {
        if (p) Pipeline_Destroy(p);
        p = nullptr;
    }
    if (sDraw.paletteBlock) Engine_Free(sDraw.paletteBlock);
    sDraw.paletteBlock = nullptr;
    sDraw.palette = nullptr;
    sDraw.cached = false;
    sDraw.builds = 0;
}

Pipeline* Skin_GetD3D8Pipeline(void) { return sDraw.pipelines[0]; }

uint32_t Skin_GetPaletteBuildCount(void) { return sDraw.builds; }

int32_t Skin_UpdateVertices(Atomic* atomic)
{
    HELM_ASSERT(atomic);
    Geometry* g = atomic->geometry;
    const Skin* skin = g ? Skin_GeometryGetSkin(g) : nullptr;
    BoneHierarchy* h = Skin_AtomicGetHierarchy(atomic);
    if (!skin || !h || !sDraw.palette) return 1;
    ResourceArenaEntry* entry = g->numMorphTargets > 1 ? atomic->instanceData : g->instanceData;
    if (!entry || entry->destroyNotify != DestroyInstance || !skin->maxWeights ||
        skin->numVertices != (uint32_t)g->numVertices || !g->morphTarget[0].verts)
        return 1;
    D3D8InstanceData* data = D3D8InstanceData_Get(entry);
    D3D8MeshInstance* records = D3D8InstanceData_Records(data);
    const uint32_t numVertices = (uint32_t)g->numVertices, stride = records[0].stride;
    bool refill = (g->flags & GEOMETRY_PRELIT) || g->numTexCoordSets > 0;
    uint8_t* locked = nullptr;
    IDirect3DVertexBuffer8* buffer = nullptr;
    if (sDraw.hardwareTnL) {
        GiveRangeBack(data);
        uint32_t first = 0;
        if (!D3D8_DynamicVertexBufferLock(stride, numVertices, &buffer, &locked, &first)) return 0;
        for (uint32_t i = 0; i < data->numMeshes; i++) {
            records[i].managed = 0;
            records[i].vertexBuffer = buffer;
            records[i].baseIndex = records[i].minVertexIndex + first;
        }
    } else {
        if (!records[0].managed || !records[0].vertexBuffer) {
            if (!TakeRange(data, numVertices)) return 0;
        } else {
            refill = (g->lockedSinceLastInst & (GEOMETRY_LOCK_PRELIGHT | GEOMETRY_LOCK_TEXCOORDS)) != 0;
        }
        buffer = records[0].vertexBuffer;
        if (!LockRange(data, &locked)) return 0;
    }
    const uint16_t frame = Engine_Instance()->renderFrame;
    if (!sDraw.cached || sDraw.hierarchy != h || sDraw.serial != h->serial || sDraw.atomic != atomic ||
        sDraw.renderFrame != frame) {
        BuildPalette(atomic, h, skin);
        sDraw.cached = true;
        sDraw.hierarchy = h;
        sDraw.serial = h->serial;
        sDraw.atomic = atomic;
        sDraw.renderFrame = frame;
    }
    BlendVertices(skin, g, stride, locked);
    if (refill) WriteColoursAndCoordinates(g, data, locked);
    g->lockedSinceLastInst = 0;
    if (sDraw.hardwareTnL) D3D8_VertexBufferUnlock(buffer);
    else buffer->Unlock();
    atomic->interpolator.flags &= ~INTERPOLATOR_DIRTY_INSTANCE;
    return 1;
}
