// The all-in-one atomic and world-sector pipelines.
//
// Device data is kept per geometry (one morph target: every atomic of the
// geometry draws the same vertices) or per atomic (morphing: each atomic has
// its own blend). The lock flags live on the geometry and the first draw
// after a lock clears them, so per-atomic data also records the geometry's
// lock serial and the driver's device-reset count it was filled at; a
// difference refills every part of it.
//
// Compaction renumbers a mesh's vertices in the order its (sorted) indices
// first use them; the record keeps the table back to the source vertices,
// so that a refill after a lock writes the same order.
#include "gfx/world/d3d8pipelines.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "gfx/core/arena.h"
#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/pipeline.h"
#include "gfx/driver/d3d8/d3d8cache.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "gfx/driver/d3d8/d3d8vbmanager.h"
#include "gfx/world/atomic.h"
#include "gfx/world/d3d8instance.h"
#include "gfx/world/d3d8lighting.h"
#include "gfx/world/geometry.h"
#include "gfx/world/mesh.h"
#include "gfx/world/pipelines.h"
#include "gfx/world/world.h"

namespace {

constexpr uint32_t kPluginWordSkin = 0x12E;  // no pipeline of this program carries it
constexpr uint32_t kOrthonormalOrIdentity = 0x20001;
constexpr uint32_t kLowBound = 0x3F666666u;   // 0.9f
constexpr uint32_t kHighBound = 0x3F8CCCCDu;  // 1.1f
constexpr float kNormalScale = 0.0078125f;    // sector normals are bytes / 128

struct PipelineSlots {
    Pipeline* atomic;
    Pipeline* sector;
};

PipelineSlots sPipes;
// Parts of the vertex data the current refill writes (GEOMETRY_LOCK_*), and
// kBlendChanged when a morphing atomic's blend moved.
uint32_t sLockMask = 0;
constexpr uint32_t kBlendChanged = 0x01000000u;
// The world of the sector being instanced.
const World* sSectorWorld = nullptr;

int32_t D3D8AtomicNode_Init(PipelineNode* node)
{
    *(D3D8AllInOneNodeData*)node->privateData = D3D8AllInOneNodeData{
        D3D8AtomicNode_Instance, D3D8AtomicNode_Reinstance, D3D8AtomicNode_Lighting, D3D8_DefaultRenderCallback};
    return 1;
}

int32_t D3D8WorldSectorNode_Init(PipelineNode* node)
{
    *(D3D8AllInOneNodeData*)node->privateData = D3D8AllInOneNodeData{
        D3D8WorldSectorNode_Instance, nullptr, D3D8WorldSectorNode_Lighting, D3D8_DefaultRenderCallback};
    return 1;
}

int32_t D3D8AtomicNode_Body(PipelineNode* node, const PipelineExecuteParams* params);
int32_t D3D8WorldSectorNode_Body(PipelineNode* node, const PipelineExecuteParams* params);

PipelineNodeDefinition AllInOneNode(const char* name, PipelineNodeBodyFn body, PipelineNodeInitFn init)
{
    PipelineNodeDefinition d = {};
    d.name = name;
    d.body = body;
    d.init = init;
    d.privateDataSize = (uint32_t)sizeof(D3D8AllInOneNodeData);
    return d;
}

PipelineNodeDefinition sAtomicNode =
    AllInOneNode("nodeD3D8AtomicAllInOne.csl", D3D8AtomicNode_Body, D3D8AtomicNode_Init);
PipelineNodeDefinition sSectorNode =
    AllInOneNode("nodeD3D8WorldSectorAllInOne.csl", D3D8WorldSectorNode_Body, D3D8WorldSectorNode_Init);

Pipeline* MakePipeline(PipelineNodeDefinition* definition)
{
    Pipeline* p = Pipeline_Create();
    if (!p) return nullptr;
    p->pluginId = D3D8_PIPELINE_PLUGIN;
    if (!Pipeline_BeginEdit(p) || !Pipeline_AddNodeChain(p, nullptr, definition, (PipelineNodeDefinition*)nullptr) ||
        !Pipeline_Compile(p)) {
        Pipeline_Destroy(p);
        return nullptr;
    }
    return p;
}

void FreeEntry(ResourceArenaEntry* entry) { ResourceArena_FreeEntry(entry); }

// Direct3D colour of a prelit colour, modulated by a non-white material
// colour when the owner asks for it.
uint32_t PackColour(const RGBA& c, const Material* material, bool modulate)
{
    uint32_t r = c.red, g = c.green, b = c.blue, a = c.alpha;
    if (modulate && material) {
        const uint8_t* m = material->colour;
        if (!(m[0] == 255 && m[1] == 255 && m[2] == 255 && m[3] == 255)) {
            r = ((m[0] + 1u) * r) >> 8;
            g = ((m[1] + 1u) * g) >> 8;
            b = ((m[2] + 1u) * b) >> 8;
            a = ((m[3] + 1u) * a) >> 8;
        }
    }
    return a << 24 | r << 16 | g << 8 | b;
}

bool Lock(IDirect3DVertexBuffer8* buffer, uint32_t offset, uint32_t bytes, uint32_t flags, uint8_t** out)
{
    return buffer && bytes && buffer->Lock(offset, bytes, out, flags) >= 0;
}

// Compacts the record's vertices to the ones its indices use (one morph
// target, first instancing). The table back to the sources stays with it.
bool Compact(D3D8MeshInstance* r)
{
    if (!r->indexBuffer || r->numIndices > r->numVertices || r->numVertices == 0) return true;
    uint8_t* p = nullptr;
    if (r->indexBuffer->Lock(0, 0, &p, 0) < 0) return false;
    uint16_t* indices = (uint16_t*)p;
    uint16_t* map = (uint16_t*)Engine_Malloc(sizeof(uint16_t) * r->numVertices);
    uint16_t* reverse = (uint16_t*)Engine_Malloc(sizeof(uint16_t) * r->numVertices);
    if (!map || !reverse) {
        Engine_Free(map);
        Engine_Free(reverse);
        r->indexBuffer->Unlock();
        Error_Raise(ERR_OUT_OF_MEMORY);
        return false;
    }
    memset(map, 0xFF, sizeof(uint16_t) * r->numVertices);
    uint32_t used = 0;
    for (uint32_t i = 0; i < r->numIndices; i++)
        if (map[indices[i]] == 0xFFFF) {
            reverse[used] = indices[i];
            map[indices[i]] = (uint16_t)used++;
        }
    if (used < r->numVertices) {
        for (uint32_t i = 0; i < r->numIndices; i++) indices[i] = map[indices[i]];
        r->numVertices = used;
        r->remapped = 1;
        if (r->remap) Engine_Free(r->remap);
        r->remap = reverse;
        reverse = nullptr;
    } else {
        r->remapped = 0;
    }
    Engine_Free(map);
    Engine_Free(reverse);
    r->indexBuffer->Unlock();
    return true;
}

void BlendTargets(const Geometry* g, const Interpolator& in, const Vec3** a, const Vec3** an, const Vec3** b,
                  const Vec3** bn, float* t)
{
    const int32_t n = g->numMorphTargets, s = in.startMorphTarget, e = in.endMorphTarget;
    const bool valid = s >= 0 && e >= 0 && s < n && e < n;
    const MorphTarget& start = g->morphTarget[valid ? s : 0];
    *a = start.verts;
    *an = start.normals;
    *t = valid && s != e && n > 1 ? in.position * in.recipTime : 0.0f;
    if (*t == 0.0f) {
        *b = *bn = nullptr;
        return;
    }
    *b = g->morphTarget[e].verts;
    *bn = g->morphTarget[e].normals;
}

Vec3 Lerp(const Vec3& a, const Vec3& b, float t)
{
    return Vec3{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
}

// Writes the parts of mask for every vertex of the record.
bool FillAtomic(Atomic* atomic, D3D8MeshInstance* r, uint32_t mask, uint32_t lockFlags)
{
    const Geometry* g = atomic->geometry;
    uint8_t* p = nullptr;
    if (!Lock(r->vertexBuffer, r->baseIndex * r->stride, r->numVertices * r->stride, lockFlags, &p))
        return r->numVertices == 0;
    const Vec3 *a, *an, *b, *bn;
    float t;
    BlendTargets(g, atomic->interpolator, &a, &an, &b, &bn, &t);
    const bool normals = (g->flags & GEOMETRY_NORMALS) != 0, prelit = (g->flags & GEOMETRY_PRELIT) != 0;
    const bool modulate = (g->flags & GEOMETRY_MODULATE_MATERIAL_COLOR) != 0;
    bool alpha = false;
    for (uint32_t i = 0; i < r->numVertices; i++) {
        const uint32_t v = r->minVertexIndex + (r->remapped && r->remap ? r->remap[i] : i);
        float* out = (float*)(p + (size_t)i * r->stride);
        if (mask & GEOMETRY_LOCK_VERTICES) {
            const Vec3 pos = b ? Lerp(a[v], b[v], t) : a[v];
            out[0] = pos.x, out[1] = pos.y, out[2] = pos.z;
        }
        out += 3;
        if (normals) {
            if ((mask & GEOMETRY_LOCK_NORMALS) && an) {
                const Vec3 n = b && bn ? Lerp(an[v], bn[v], t) : an[v];
                out[0] = n.x, out[1] = n.y, out[2] = n.z;
            }
            out += 3;
        }
        if (prelit) {
            const RGBA& c = g->preLitLum[v];
            if (c.alpha < 255) alpha = true;
            if (mask & GEOMETRY_LOCK_PRELIGHT) {
                const uint32_t packed = PackColour(c, r->material, modulate);
                memcpy(out, &packed, 4);
            }
            out += 1;
        }
        for (int32_t s = 0; s < g->numTexCoordSets; s++) {
            if ((mask & (GEOMETRY_LOCK_TEXCOORDS1 << s)) && g->texCoords[s])
                out[0] = g->texCoords[s][v].u, out[1] = g->texCoords[s][v].v;
            out += 2;
        }
    }
    if (mask & GEOMETRY_LOCK_PRELIGHT) r->vertexAlpha = alpha ? 1 : 0;
    r->vertexBuffer->Unlock();
    return true;
}

// Refills a morphing atomic's record after a blend change or a lock: the
// blended positions and normals always, the other locked parts, or every
// part of a buffer of its own (locked with discard, which leaves its
// contents undefined).
bool MorphRefill(Atomic* atomic, D3D8MeshInstance* r)
{
    uint32_t mask = (sLockMask & GEOMETRY_LOCK_ALL) | GEOMETRY_LOCK_VERTICES | GEOMETRY_LOCK_NORMALS;
    uint32_t lockFlags = D3DLOCK_NOSYSLOCK;
    if (!r->managed) {
        mask = GEOMETRY_LOCK_ALL;
        lockFlags = D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK;
    }
    return FillAtomic(atomic, r, mask, lockFlags);
}

int32_t D3D8AtomicNode_MorphReinstance(Atomic* atomic, ResourceArenaEntry* entry)
{
    D3D8InstanceData* data = D3D8InstanceData_Get(entry);
    D3D8MeshInstance* records = D3D8InstanceData_Records(data);
    for (uint32_t i = 0; i < data->numMeshes; i++)
        if (!MorphRefill(atomic, &records[i])) return 0;
    return 1;
}

void ReleaseVertexBuffer(D3D8MeshInstance* r)
{
    if (!r->vertexBuffer) return;
    if (r->managed)
        VertexBufferManager_Free(r->vertexShader, r->numVertices * r->stride, r->vertexBuffer, r->baseIndex);
    else D3D8_DestroyDynamicVertexBuffer(r->vertexBuffer);
    r->vertexBuffer = nullptr;
}

bool NeedsNormalize(const Matrix* m)
{
    uint32_t lighting = 0;
    D3D8_GetRenderState(D3DRS_LIGHTING, &lighting);
    if (!lighting || (m->flags & kOrthonormalOrIdentity)) return false;
    for (const Vec3* axis : {&m->right, &m->up, &m->at}) {
        const float lengthSq = Vec3_LengthSq(axis);
        uint32_t bits;
        memcpy(&bits, &lengthSq, 4);
        if (bits < kLowBound || bits > kHighBound) return true;
    }
    return false;
}

void StampData(ResourceArenaEntry* entry, const Geometry* g)
{
    D3D8InstanceData* data = D3D8InstanceData_Get(entry);
    data->lockSerial = g ? g->lockSerial : 0;
    data->deviceResets = D3D8_GetDeviceResetCount();
}

int32_t D3D8AtomicNode_Body(PipelineNode* node, const PipelineExecuteParams* params)
{
    const D3D8AllInOneNodeData* cb = (const D3D8AllInOneNodeData*)node->privateData;
    Atomic* atomic = (Atomic*)params->data;
    Geometry* g = atomic->geometry;
    if (!g || g->numVertices == 0 || !g->mesh || g->mesh->numMeshes == 0) return 1;
    ResourceArenaEntry* entry = nullptr;
    if (!(g->flags & GEOMETRY_NATIVE)) {
        const bool perAtomic = g->numMorphTargets > 1;
        void* owner = perAtomic ? (void*)atomic : (void*)g;
        ResourceArenaEntry** slot = perAtomic ? &atomic->instanceData : &g->instanceData;
        entry = *slot;
        if (entry && D3D8InstanceData_Get(entry)->serialNumber != g->mesh->serialNumber) {
            FreeEntry(entry);
            entry = nullptr;
        }
        if (entry) {
            const D3D8InstanceData* data = D3D8InstanceData_Get(entry);
            const bool stale = data->lockSerial != g->lockSerial || data->deviceResets != D3D8_GetDeviceResetCount();
            sLockMask = g->lockedSinceLastInst | (perAtomic && stale ? GEOMETRY_LOCK_ALL : 0u);
            if (perAtomic && (atomic->interpolator.flags & INTERPOLATOR_DIRTY_INSTANCE)) sLockMask |= kBlendChanged;
            if ((sLockMask || perAtomic) && cb->reinstance && !cb->reinstance(atomic, entry, g->mesh, cb->instance)) {
                FreeEntry(entry);
                return 0;
            }
            atomic->interpolator.flags &= ~INTERPOLATOR_DIRTY_INSTANCE;
            g->lockedSinceLastInst = 0;
            StampData(entry, g);
            ResourceArena_MoveToFront(entry);
        } else {
            sLockMask = GEOMETRY_LOCK_ALL;
            entry = D3D8_InstanceMeshes(atomic, owner, slot, g->mesh, cb->instance,
                                        (g->flags & GEOMETRY_NATIVE_INSTANCE) ? 1 : 0);
            if (!entry) return 0;
            atomic->interpolator.flags &= ~INTERPOLATOR_DIRTY_INSTANCE;
            g->lockedSinceLastInst = 0;
            StampData(entry, g);
        }
    } else {
        entry = g->instanceData;
        if (!entry) return 1;
    }
    if (g->flags & GEOMETRY_NATIVE_INSTANCE) return 1;
    if (cb->lighting) cb->lighting(atomic);
    Frame* frame = Atomic_GetFrame(atomic);
    const Matrix* m = frame ? Frame_GetWorldMatrix(frame) : nullptr;
    D3D8_SetTransformWorld(m);
    D3D8_SetRenderState(D3DRS_NORMALIZENORMALS, m && NeedsNormalize(m) ? 1 : 0);
    cb->render(entry, atomic, D3D8_OBJECT_ATOMIC, g->flags);
    return 1;
}

int32_t D3D8WorldSectorNode_Body(PipelineNode* node, const PipelineExecuteParams* params)
{
    const D3D8AllInOneNodeData* cb = (const D3D8AllInOneNodeData*)node->privateData;
    WorldSector* sector = (WorldSector*)params->data;
    if (sector->numTriangles == 0 || !sector->mesh || sector->mesh->numMeshes == 0) return 1;
    const World* world = WorldSector_GetWorld(sector);
    if (!world) return 0;
    ResourceArenaEntry* entry = sector->instanceData;
    if (!(world->flags & WORLD_NATIVE)) {
        if (entry && D3D8InstanceData_Get(entry)->serialNumber != sector->mesh->serialNumber) {
            FreeEntry(entry);
            entry = nullptr;
        }
        if (entry) {
            ResourceArena_MoveToFront(entry);
        } else {
            sSectorWorld = world;
            entry = D3D8_InstanceMeshes(sector, sector, &sector->instanceData, sector->mesh, cb->instance,
                                        (world->flags & WORLD_NATIVE_INSTANCE) ? 1 : 0);
            sSectorWorld = nullptr;
            if (!entry) return 0;
        }
    } else if (!entry) {
        return 1;
    }
    if (world->flags & WORLD_NATIVE_INSTANCE) return 1;
    if (cb->lighting) cb->lighting(sector);
    D3D8_SetTransformWorld(nullptr);
    D3D8_SetRenderState(D3DRS_NORMALIZENORMALS, 0);
    cb->render(entry, sector, D3D8_OBJECT_WORLD_SECTOR, world->flags);
    return 1;
}

// Triangle order of an instanced list: by the sorted corners of each triangle.
bool TriangleBefore(const uint16_t* a, const uint16_t* b)
{
    uint16_t x[3] = {a[0], a[1], a[2]}, y[3] = {b[0], b[1], b[2]};
    std::sort(x, x + 3);
    std::sort(y, y + 3);
    return std::lexicographical_compare(x, x + 3, y, y + 3);
}

void SortTriangles(uint16_t* indices, uint32_t count)
{
    const uint32_t triangles = count / 3;
    struct Tri {
        uint16_t v[3];
    };
    Tri* t = (Tri*)indices;
    std::stable_sort(t, t + triangles, [](const Tri& a, const Tri& b) { return TriangleBefore(a.v, b.v); });
}

}  // namespace

PipelineNodeDefinition* D3D8AtomicNode_GetDefinition(void) { return &sAtomicNode; }
PipelineNodeDefinition* D3D8WorldSectorNode_GetDefinition(void) { return &sSectorNode; }

int32_t Pipeline_CreateAtomicD3D8(void)
{
    Pipeline* p = MakePipeline(&sAtomicNode);
    if (!p) return 0;
    if (!VertexBufferManager_Open() || !D3D8Lights_Open()) {
        VertexBufferManager_Close();
        Pipeline_Destroy(p);
        return 0;
    }
    sPipes.atomic = p;
    Pipeline_SetBuiltInAtomicPipeline(p);
    Pipeline_SetDefaultAtomicPipeline(p);
    return 1;
}

int32_t Pipeline_CreateWorldSectorD3D8(void)
{
    Pipeline* p = MakePipeline(&sSectorNode);
    if (!p) return 0;
    sPipes.sector = p;
    Pipeline_SetBuiltInWorldSectorPipeline(p);
    Pipeline_SetDefaultWorldSectorPipeline(p);
    return 1;
}

void Pipeline_DestroyAtomicD3D8(void)
{
    D3D8Lights_Close();
    VertexBufferManager_Close();
    Pipeline_SetBuiltInAtomicPipeline(nullptr);
    Pipeline_SetDefaultAtomicPipeline(nullptr);
    if (sPipes.atomic) Pipeline_Destroy(sPipes.atomic);
    sPipes.atomic = nullptr;
}

void Pipeline_DestroyWorldSectorD3D8(void)
{
    Pipeline_SetBuiltInWorldSectorPipeline(nullptr);
    Pipeline_SetDefaultWorldSectorPipeline(nullptr);
    if (sPipes.sector) Pipeline_Destroy(sPipes.sector);
    sPipes.sector = nullptr;
}

ResourceArenaEntry* D3D8_InstanceMeshes(void* object, void* owner, ResourceArenaEntry** ownerSlot,
                                        const MeshHeader* header, D3D8InstanceCallback instance, int32_t outsideArena)
{
    const uint32_t size = D3D8InstanceData_Size(header->numMeshes);
    ResourceArenaEntry* entry = nullptr;
    if (!outsideArena) {
        entry = ResourceArena_AllocateEntry(owner, ownerSlot, size, D3D8InstanceData_Destroy);
        if (!entry) return nullptr;
    } else {
        entry = (ResourceArenaEntry*)Engine_Malloc(sizeof(ResourceArenaEntry) + size);
        if (!entry) {
            Error_Raise(ERR_OUT_OF_MEMORY);
            return nullptr;
        }
        memset(entry, 0, sizeof(ResourceArenaEntry));
        entry->size = size;
        entry->owner = owner;
        entry->ownerRef = ownerSlot;
        entry->destroyNotify = D3D8InstanceData_Destroy;
        *ownerSlot = entry;
    }
    D3D8InstanceData* data = D3D8InstanceData_Get(entry);
    memset(data, 0, size);
    data->serialNumber = header->serialNumber;
    data->numMeshes = header->numMeshes;
    D3D8MeshInstance* records = D3D8InstanceData_Records(data);
    const Mesh* meshes = MeshHeader_Meshes(header);
    const bool unindexed = (header->flags & MESH_UNINDEXED) != 0;
    const uint32_t type = D3D8_PrimitiveTypeFromKind(MeshHeader_PrimitiveType(header->flags));
    uint32_t running = 0;
    bool ok = true;
    for (uint32_t m = 0; ok && m < header->numMeshes; m++) {
        D3D8MeshInstance& r = records[m];
        const uint32_t n = meshes[m].numIndices;
        r.numIndices = n;
        r.material = meshes[m].material;
        r.primitiveType = type;
        if (unindexed) {
            r.minVertexIndex = running;
            r.numVertices = n;
            running += n;
        } else {
            D3D8_GetIndexRange(meshes[m].indices, n, &r.numVertices, &r.minVertexIndex);
        }
        // An indexed mesh of no indices (only a crafted binary mesh has
        // one) gets no index buffer and draws nothing.
        if (!unindexed && n > 0) {
            uint8_t* p = nullptr;
            ok = D3D8_CreateIndexBuffer(n, &r.indexBuffer) && r.indexBuffer->Lock(0, 0, &p, 0) >= 0;
            if (ok) {
                uint16_t* out = (uint16_t*)p;
                for (uint32_t i = 0; i < n; i++) out[i] = (uint16_t)(meshes[m].indices[i] - r.minVertexIndex);
                if (type == D3DPT_TRIANGLELIST && n >= 3 && out[0] != 0 && out[1] != 0 && out[2] != 0)
                    SortTriangles(out, n);
                r.indexBuffer->Unlock();
            }
        }
        if (ok) ok = instance(object, &r, 0) != 0;
    }
    if (!ok) {
        FreeEntry(entry);
        return nullptr;
    }
    return entry;
}

int32_t D3D8_ReinstanceMeshes(void* object, ResourceArenaEntry* entry, const MeshHeader*, D3D8InstanceCallback instance)
{
    if (!instance) return 1;
    D3D8InstanceData* data = D3D8InstanceData_Get(entry);
    D3D8MeshInstance* records = D3D8InstanceData_Records(data);
    for (uint32_t i = 0; i < data->numMeshes; i++)
        if (!instance(object, &records[i], 1)) return 0;
    return 1;
}

int32_t D3D8AtomicNode_Instance(void* object, D3D8MeshInstance* r, int32_t reinstance)
{
    Atomic* atomic = (Atomic*)object;
    const Geometry* g = atomic->geometry;
    const bool morphing = g->numMorphTargets > 1;
    uint32_t mask = GEOMETRY_LOCK_ALL;
    uint32_t lockFlags = D3DLOCK_NOSYSLOCK;
    if (!reinstance) {
        if (!morphing && !Compact(r)) return 0;
        uint32_t format = D3DFVF_XYZ, stride = 12;
        if (g->flags & GEOMETRY_NORMALS) format |= D3DFVF_NORMAL, stride += 12;
        if (g->flags & GEOMETRY_PRELIT) format |= D3DFVF_DIFFUSE, stride += 4;
        format |= (uint32_t)g->numTexCoordSets << D3DFVF_TEXCOUNT_SHIFT;
        stride += 8 * (uint32_t)g->numTexCoordSets;
        ReleaseVertexBuffer(r);
        r->vertexShader = format;
        r->stride = stride;
        const bool shared =
            !morphing || !D3D8_HasHardwareTnL() || (atomic->pipeline && atomic->pipeline->pluginId == kPluginWordSkin);
        const uint32_t bytes = r->numVertices * stride;
        if (bytes == 0) return 1;
        if (shared) {
            r->managed = 1;
            if (!VertexBufferManager_Alloc(format, bytes, &r->vertexBuffer, &r->baseIndex)) return 0;
        } else {
            r->managed = 0;
            r->baseIndex = 0;
            if (!D3D8_CreateDynamicVertexBuffer(format, bytes, &r->vertexBuffer)) return 0;
        }
    } else {
        if (morphing) return MorphRefill(atomic, r) ? 1 : 0;
        mask = sLockMask & GEOMETRY_LOCK_ALL;
        if (!mask) return 1;
    }
    return FillAtomic(atomic, r, mask, lockFlags) ? 1 : 0;
}

int32_t D3D8AtomicNode_Reinstance(void* object, ResourceArenaEntry* entry, const MeshHeader* header,
                                  D3D8InstanceCallback instance)
{
    Atomic* atomic = (Atomic*)object;
    if (atomic->geometry->numMorphTargets <= 1) return D3D8_ReinstanceMeshes(object, entry, header, instance);
    if (!(sLockMask & (GEOMETRY_LOCK_ALL | kBlendChanged))) return 1;
    return D3D8AtomicNode_MorphReinstance(atomic, entry);
}

int32_t D3D8WorldSectorNode_Instance(void* object, D3D8MeshInstance* r, int32_t)
{
    WorldSector* sector = (WorldSector*)object;
    const World* world = sSectorWorld ? sSectorWorld : WorldSector_GetWorld(sector);
    if (!world) return 0;
    const uint32_t flags = world->flags;
    uint32_t format = D3DFVF_XYZ, stride = 12;
    if (flags & WORLD_NORMALS) format |= D3DFVF_NORMAL, stride += 12;
    if (flags & WORLD_PRELIT) format |= D3DFVF_DIFFUSE, stride += 4;
    int32_t sets = 0;
    if (flags & WORLD_TEXTURED) sets = 1;
    else if (flags & WORLD_TEXTURED2) sets = 2;
    format |= (uint32_t)sets << D3DFVF_TEXCOUNT_SHIFT;
    stride += 8 * (uint32_t)sets;
    r->vertexShader = format;
    r->stride = stride;
    r->managed = 1;
    const uint32_t bytes = r->numVertices * stride;
    if (bytes == 0) return 1;
    if (!VertexBufferManager_Alloc(format, bytes, &r->vertexBuffer, &r->baseIndex)) return 0;
    uint8_t* p = nullptr;
    if (!Lock(r->vertexBuffer, r->baseIndex * stride, bytes, D3DLOCK_NOSYSLOCK, &p)) return 0;
    bool alpha = false;
    for (uint32_t i = 0; i < r->numVertices; i++) {
        const uint32_t v = r->minVertexIndex + i;
        float* out = (float*)(p + (size_t)i * stride);
        const Vec3 pos = sector->vertices ? sector->vertices[v] : Vec3{0, 0, 0};
        out[0] = pos.x, out[1] = pos.y, out[2] = pos.z;
        out += 3;
        if (flags & WORLD_NORMALS) {
            const SectorNormal n = sector->normals ? sector->normals[v] : SectorNormal{0, 0, 0, 0};
            out[0] = n.x * kNormalScale, out[1] = n.y * kNormalScale, out[2] = n.z * kNormalScale;
            out += 3;
        }
        if (flags & WORLD_PRELIT) {
            const RGBA c = sector->preLitLum ? sector->preLitLum[v] : RGBA{255, 255, 255, 255};
            if (c.alpha < 255) alpha = true;
            const uint32_t packed = PackColour(c, r->material, (flags & WORLD_MODULATE_MATERIAL_COLOR) != 0);
            memcpy(out, &packed, 4);
            out += 1;
        }
        for (int32_t s = 0; s < sets; s++) {
            const TexCoords uv = sector->texCoords[s] ? sector->texCoords[s][v] : TexCoords{0, 0};
            out[0] = uv.u, out[1] = uv.v;
            out += 2;
        }
    }
    r->vertexAlpha = alpha ? 1 : 0;
    r->vertexBuffer->Unlock();
    return 1;
}

void D3D8_DefaultRenderCallback(ResourceArenaEntry* entry, void* object, uint8_t type, uint32_t flags)
{
    D3D8InstanceData* data = D3D8InstanceData_Get(entry);
    D3D8MeshInstance* records = D3D8InstanceData_Records(data);
    if (data->numMeshes == 0) return;
    uint32_t lighting = 0, dither = 0, shade = 0;
    D3D8_GetRenderState(D3DRS_LIGHTING, &lighting);
    const bool prelit = (flags & GEOMETRY_PRELIT) != 0;
    const bool black = !lighting && !prelit;  // such objects draw opaque black
    if (lighting) {
        D3D8_SetRenderState(D3DRS_COLORVERTEX, prelit ? 1 : 0);
        D3D8_SetRenderState(D3DRS_EMISSIVEMATERIALSOURCE, prelit ? 1 : 0);
    } else if (black) {
        D3D8_GetRenderState(D3DRS_DITHERENABLE, &dither);
        D3D8_GetRenderState(D3DRS_SHADEMODE, &shade);
        D3D8_SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF000000u);
        D3D8_SetRenderState(D3DRS_DITHERENABLE, 0);
        D3D8_SetRenderState(D3DRS_SHADEMODE, 1);
    }
    const Camera* camera = (const Camera*)Engine_Instance()->currentCamera;
    int32_t inside = 0;
    if (camera && type == D3D8_OBJECT_ATOMIC) {
        const Sphere* s = Atomic_GetWorldBoundingSphere((Atomic*)object);
        inside = D3D8_CameraIsSphereFullyInside(camera, &s->center.x, s->radius);
    } else if (camera) {
        const WorldSector* sector = (const WorldSector*)object;
        inside = D3D8_CameraIsBoxFullyInside(camera, &sector->box.maximum.x, &sector->box.minimum.x);
    }
    D3D8_SetRenderState(D3DRS_CLIPPING, inside ? 0 : 1);
    const bool textured = (flags & (GEOMETRY_TEXTURED | GEOMETRY_TEXTURED2)) != 0;
    if (!textured) {
        D3D8_SetTexture(nullptr, 0);
        if (black) {
            D3D8_SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
            D3D8_SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
            D3D8_SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        }
    }
    D3D8_SetPixelShader(0);
    D3D8_SetVertexShader(records[0].vertexShader);
    IDirect3DVertexBuffer8* lastBuffer = nullptr;
    uint32_t lastStride = 0;
    static const uint8_t kWhite[4] = {255, 255, 255, 255};
    static const float kUnit[3] = {1.0f, 1.0f, 1.0f};
    for (uint32_t i = 0; i < data->numMeshes; i++) {
        const D3D8MeshInstance& r = records[i];
        const Material* material = r.material;
        if (textured) {
            D3D8_SetTexture(material ? material->texture : nullptr, 0);
            if (black) {
                D3D8_SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
                D3D8_SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
            }
        }
        const bool blend = r.vertexAlpha || (material && material->colour[3] < 255);
        if ((D3D8_GetAlphaBlend() != 0) != blend) D3D8_SetAlphaBlend(blend ? 1 : 0);
        if (lighting) {
            D3D8_SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, r.vertexAlpha ? 1 : 0);
            D3D8_SetMaterialFromColor(material ? material->colour : kWhite,
                                      material ? material->surfaceProperties : kUnit,
                                      (flags & GEOMETRY_MODULATE_MATERIAL_COLOR) ? 1 : 0);
        }
        if (!r.vertexBuffer) continue;
        if (r.vertexBuffer != lastBuffer || r.stride != lastStride) {
            D3D8_SetStreamSource(0, r.vertexBuffer, r.stride);
            lastBuffer = r.vertexBuffer;
            lastStride = r.stride;
        }
        if (r.indexBuffer) {
            D3D8_SetIndices(r.indexBuffer, r.baseIndex);
            D3D8_DrawIndexedPrimitive(r.primitiveType, 0, r.numVertices, 0, r.numIndices);
        } else if (r.numIndices > 0) {
            D3D8_DrawPrimitive(r.primitiveType, r.baseIndex, r.numVertices);
        }
    }
    if (black) {
        D3D8_SetRenderState(D3DRS_DITHERENABLE, dither);
        D3D8_SetRenderState(D3DRS_SHADEMODE, shade);
        const bool stageTexture = D3D8_GetStageRaster(0) != nullptr;
        D3D8_SetTextureStageState(0, D3DTSS_COLOROP, stageTexture ? D3DTOP_MODULATE : D3DTOP_SELECTARG2);
        D3D8_SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    }
}

void D3D8_SetRenderCallback(PipelineNode* node, D3D8RenderCallback callback)
{
    ((D3D8AllInOneNodeData*)node->privateData)->render = callback;
}
