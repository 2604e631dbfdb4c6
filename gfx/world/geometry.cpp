#include "gfx/world/geometry.h"

#include <algorithm>
#include <cstring>

#include "gfx/core/arena.h"
#include "gfx/core/engine.h"
#include "gfx/core/texture.h"
#include "gfx/core/vector.h"
#include "gfx/world/mesh.h"
#include "gfx/world/worldinternal.h"

using namespace worldinternal;

namespace {

constexpr uint32_t kStoredFlagsMask = 0x7B;
constexpr uint32_t kKeptHighFlags = 0x0F000000;
constexpr uint32_t kOldSurfaceVersion = 0x34001;  // earlier structs carry surface properties
constexpr uint32_t kConditionPluginId = 0x185;

PluginRegistry sRegistry = PLUGIN_REGISTRY_INIT(sizeof(Geometry));
int32_t sOffset = -1;

bool Native(const Geometry* g) { return (g->flags & GEOMETRY_NATIVE) != 0; }

size_t TargetDataSize(const Geometry* g)
{
    if (Native(g)) return 0;
    const size_t perArray = 12 * (size_t)g->numVertices;
    return (g->flags & GEOMETRY_NORMALS) ? 2 * perArray : perArray;
}

// Points every morph target's arrays into the block behind the records.
void LinkTargets(Geometry* g, MorphTarget* block, int32_t count)
{
    uint8_t* data = (uint8_t*)(block + count);
    const bool native = Native(g);
    const size_t perArray = 12 * (size_t)g->numVertices;
    for (int32_t i = 0; i < count; i++) {
        block[i].verts = native ? nullptr : (Vec3*)data;
        if (!native) data += perArray;
        block[i].normals = !native && (g->flags & GEOMETRY_NORMALS) ? (Vec3*)data : nullptr;
        if (block[i].normals) data += perArray;
    }
}

}  // namespace

namespace worldinternal {

bool TriangleKeys_Begin(TriangleKeyCollector* c, int32_t materials)
{
    c->textures.count = c->rasters.count = c->pipelines.count = 0;
    c->count = materials;
    c->perMaterial = (MaterialKeys*)Engine_Calloc((size_t)materials + 1, sizeof(MaterialKeys));
    if (!c->perMaterial) RaiseError(ERR_OUT_OF_MEMORY);
    return c->perMaterial != nullptr;
}

void TriangleKeys_End(TriangleKeyCollector* c) { Engine_Free(c->perMaterial); }

// Adds one triangle; index < 0 (or outside the list) means no material.
BuildMesh* TriangleKeys_Add(TriangleKeyCollector* c, BuildMesh* mesh, const MaterialList* list, int32_t index,
                            uint16_t v0, uint16_t v1, uint16_t v2)
{
    const bool none = index < 0 || index >= list->count;
    Material* material = none ? nullptr : list->materials[index];
    MaterialKeys& k = c->perMaterial[none ? c->count : index];
    if (!k.known) {
        Texture* texture = material ? material->texture : nullptr;
        k.texture = c->textures.Key(texture);
        k.raster = c->rasters.Key(texture ? texture->raster : nullptr);
        k.pipeline = c->pipelines.Key(material ? material->pipeline : nullptr);
        k.known = true;
    }
    return BuildMesh_AddTriangle(mesh, material, v0, v1, v2, none ? 0xFFFF : (uint16_t)index, k.texture, k.raster,
                                 k.pipeline);
}

}  // namespace worldinternal

Geometry* Geometry_Create(int32_t numVertices, int32_t numTriangles, uint32_t flags)
{
    if (numVertices < 0 || numTriangles < 0) return nullptr;
    if (numVertices > (int32_t)GEOMETRY_MAX_VERTICES) {
        RaiseError(GEOMETRY_ERR_TOO_MANY_VERTICES);
        return nullptr;
    }
    int32_t sets;
    uint32_t setFlag;
    const uint32_t stored = (flags >> 16) & 0xFF;
    if (stored == 0 && (flags & GEOMETRY_TEXTURED2)) {
        sets = 2;
        setFlag = GEOMETRY_TEXTURED2;
    } else {
        sets = stored ? (int32_t)stored : ((flags & GEOMETRY_TEXTURED) ? 1 : 0);
        setFlag = sets == 1 ? (uint32_t)GEOMETRY_TEXTURED : sets > 1 ? (uint32_t)GEOMETRY_TEXTURED2 : 0u;
    }
    if (sets > (int32_t)GEOMETRY_MAX_TEXCOORD_SETS) {
        RaiseError(WORLD_ERR_BAD_DATA);
        return nullptr;
    }
    const uint32_t formatFlags = (flags & kStoredFlagsMask) | setFlag | (flags & kKeptHighFlags);
    const bool native = (formatFlags & GEOMETRY_NATIVE) != 0;
    size_t size = (size_t)sRegistry.size;
    if (!native) {
        if (formatFlags & GEOMETRY_PRELIT) size += 4 * (size_t)numVertices;
        size += 8 * (size_t)numVertices * (size_t)sets + 8 * (size_t)numTriangles;
    }
    Geometry* g = (Geometry*)Engine_Malloc(size);
    if (!g) {
        RaiseError(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    memset(g, 0, (size_t)sRegistry.size);
    g->type = OBJECT_GEOMETRY;
    g->flags = formatFlags;
    g->refCount = 1;
    g->numTriangles = numTriangles;
    g->numVertices = numVertices;
    g->numTexCoordSets = sets;
    MaterialList_Initialize(&g->matList);
    if (!native) {
        uint8_t* tail = (uint8_t*)g + sRegistry.size;
        if ((formatFlags & GEOMETRY_PRELIT) && numVertices > 0) {
            g->preLitLum = (RGBA*)tail;
            tail += 4 * (size_t)numVertices;
        }
        for (int32_t i = 0; i < sets && numVertices > 0; i++) {
            g->texCoords[i] = (TexCoords*)tail;
            tail += 8 * (size_t)numVertices;
        }
        if (numTriangles > 0) {
            g->triangles = (Triangle*)tail;
            for (int32_t i = 0; i < numTriangles; i++) g->triangles[i] = Triangle{{0, 0, 0}, -1};
        }
    }
    if (Geometry_AddMorphTargets(g, 1) < 0) {
        MaterialList_Deinitialize(&g->matList);
        Engine_Free(g);
        return nullptr;
    }
    PluginRegistry_RunConstructors(&sRegistry, g);
    return g;
}

int32_t Geometry_Destroy(Geometry* g)
{
    HELM_ASSERT(g && g->refCount > 0);
    if (--g->refCount > 0) return 1;
    if (g->instanceData) ResourceArena_FreeEntry(g->instanceData);
    g->lockedSinceLastInst |= GEOMETRY_LOCK_ALL;
    if (g->mesh) MeshHeader_Destroy(g->mesh);
    g->mesh = nullptr;
    PluginRegistry_RunDestructors(&sRegistry, g);
    Engine_Free(g->morphTarget);
    MaterialList_Deinitialize(&g->matList);
    Engine_Free(g);
    return 1;
}

int32_t Geometry_AddMorphTargets(Geometry* g, int32_t count)
{
    HELM_ASSERT(count > 0);
    const int32_t old = g->numMorphTargets;
    const size_t data = TargetDataSize(g);
    const size_t bytes = ((size_t)old + (size_t)count) * (sizeof(MorphTarget) + data);
    MorphTarget* block = (MorphTarget*)Engine_Malloc(bytes);
    if (!block) {
        RaiseError(ERR_OUT_OF_MEMORY);
        return -1;
    }
    memset(block, 0, bytes);
    if (old) {
        memcpy(block, g->morphTarget, (size_t)old * sizeof(MorphTarget));
        memcpy(block + old + count, g->morphTarget + old, (size_t)old * data);
        Engine_Free(g->morphTarget);
    }
    for (int32_t i = old; i < old + count; i++) block[i].parentGeom = g;
    g->morphTarget = block;
    g->numMorphTargets = old + count;
    LinkTargets(g, block, g->numMorphTargets);
    return old;
}

Geometry* Geometry_Lock(Geometry* g, uint32_t lockFlags)
{
    g->lockedSinceLastInst |= (uint16_t)lockFlags;
    g->lockSerial++;
    if ((lockFlags & GEOMETRY_LOCK_POLYGONS) && g->mesh) {
        MeshHeader_Destroy(g->mesh);
        g->mesh = nullptr;
    }
    return g;
}

Geometry* Geometry_Unlock(Geometry* g)
{
    if (g->mesh) return g;
    // Without materials (or without triangle data: a native geometry) nothing
    // is meshed: such a geometry draws nothing.
    const bool meshed = g->matList.count > 0 && g->triangles;
    BuildMesh* build = BuildMesh_Create(meshed ? g->numTriangles : 0);
    if (!build) return nullptr;
    if (meshed) {
        TriangleKeyCollector keys;
        if (!TriangleKeys_Begin(&keys, g->matList.count)) {
            BuildMesh_Destroy(build);
            return nullptr;
        }
        for (int32_t i = 0; i < g->numTriangles; i++) {
            const Triangle& t = g->triangles[i];
            if (!TriangleKeys_Add(&keys, build, &g->matList, t.matIndex, t.vertIndex[0], t.vertIndex[1],
                                  t.vertIndex[2])) {
                TriangleKeys_End(&keys);
                BuildMesh_Destroy(build);
                return nullptr;
            }
        }
        TriangleKeys_End(&keys);
    }
    MeshHeader* header = Mesh_BuildFromTriangles(build, (g->flags & GEOMETRY_TRISTRIP) ? 1 : 0);
    if (!header) {
        BuildMesh_Destroy(build);
        return nullptr;
    }
    g->mesh = header;
    return g;
}

Geometry* Geometry_SetTriangleVertexIndices(Geometry* g, Triangle* t, uint16_t v0, uint16_t v1, uint16_t v2)
{
    t->vertIndex[0] = v0;
    t->vertIndex[1] = v1;
    t->vertIndex[2] = v2;
    return g;
}

Geometry* Geometry_SetTriangleMaterial(Geometry* g, Triangle* t, Material* material)
{
    if (!material) {
        t->matIndex = -1;
        return g;
    }
    int32_t index = MaterialList_FindMaterialIndex(&g->matList, material);
    if (index < 0) index = MaterialList_AppendMaterial(&g->matList, material);
    if (index < 0) return nullptr;
    t->matIndex = (int16_t)index;
    return g;
}

Geometry* Geometry_ForAllMaterials(Geometry* g, MaterialCallback callback, void* data)
{
    for (int32_t i = 0; i < g->matList.count; i++)
        if (!callback(g->matList.materials[i], data)) break;
    return g;
}

MorphTarget* MorphTarget_CalcBoundingSphere(MorphTarget* target, Sphere* out)
{
    const Geometry* g = target->parentGeom;
    const int32_t n = g ? g->numVertices : 0;
    if (n <= 0 || !target->verts) {
        *out = Sphere{{0, 0, 0}, 0};
        return target;
    }
    BoundingBox box;
    BoundingBox_Calculate(&box, target->verts, n);
    const Vec3 c = {(box.sup.x + box.inf.x) * 0.5f, (box.sup.y + box.inf.y) * 0.5f, (box.sup.z + box.inf.z) * 0.5f};
    float largest = 0;
    for (int32_t i = 0; i < n; i++) {
        const Vec3& v = target->verts[i];
        const float dx = v.x - c.x, dy = v.y - c.y, dz = v.z - c.z;
        largest = std::max(largest, dx * dx + dy * dy + dz * dz);
    }
    out->center = c;
    out->radius = (largest > 0 ? Math_SqrtTable(largest) : 0.0f) * 1.001f;
    return target;
}

Geometry* Geometry_SortVerticesByMaterial(Geometry* g, GeometrySortCallback callback)
{
    // One 8-byte record per triangle corner: corner << 30 | triangle, material, vertex.
    struct Corner {
        uint32_t where;
        int16_t material;
        uint16_t vertex;
    };
    const int32_t corners = 3 * g->numTriangles;
    Corner* records = (Corner*)Engine_Malloc(sizeof(Corner) * (size_t)std::max(corners, 1));
    uint16_t* map = (uint16_t*)Engine_Malloc(sizeof(uint16_t) * (size_t)std::max(corners, 1));
    if (!records || !map || !g->triangles) {
        Engine_Free(records);
        Engine_Free(map);
        if (!records || !map) RaiseError(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    for (int32_t t = 0; t < g->numTriangles; t++)
        for (uint32_t k = 0; k < 3; k++)
            records[3 * t + k] = {k << 30 | (uint32_t)t, g->triangles[t].matIndex, g->triangles[t].vertIndex[k]};
    std::sort(records, records + corners, [](const Corner& a, const Corner& b) {
        return a.material != b.material ? a.material < b.material : a.vertex < b.vertex;
    });
    int32_t vertices = 0;
    uint32_t* newIndex = (uint32_t*)Engine_Malloc(sizeof(uint32_t) * (size_t)std::max(corners, 1));
    if (!newIndex) {
        Engine_Free(records);
        Engine_Free(map);
        RaiseError(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    for (int32_t i = 0; i < corners; i++) {
        if (i == 0 || records[i].material != records[i - 1].material || records[i].vertex != records[i - 1].vertex)
            map[vertices++] = records[i].vertex;
        newIndex[i] = (uint32_t)(vertices - 1);
    }
    Geometry* out =
        vertices <= (int32_t)GEOMETRY_MAX_VERTICES
            ? Geometry_Create(vertices, g->numTriangles, (g->flags & ~0x00FF0000u) | (uint32_t)g->numTexCoordSets << 16)
            : nullptr;
    if (out) {
        Geometry_Lock(out, GEOMETRY_LOCK_ALL);
        for (int32_t i = 0; i < corners; i++) {
            const uint32_t t = records[i].where & 0x3FFFFFFF, k = records[i].where >> 30;
            out->triangles[t].vertIndex[k] = (uint16_t)newIndex[i];
        }
        for (int32_t t = 0; t < g->numTriangles; t++) out->triangles[t].matIndex = g->triangles[t].matIndex;
        if (g->numMorphTargets > 1 && Geometry_AddMorphTargets(out, g->numMorphTargets - 1) < 0) {
            Geometry_Destroy(out);
            out = nullptr;
        }
    }
    Engine_Free(records);
    Engine_Free(newIndex);
    if (out && out->numMorphTargets != g->numMorphTargets) {
        Geometry_Destroy(out);
        out = nullptr;
    }
    if (out) {
        for (int32_t m = 0; m < g->numMorphTargets; m++) {
            const MorphTarget& src = g->morphTarget[m];
            MorphTarget& dst = out->morphTarget[m];
            for (int32_t v = 0; v < vertices; v++) {
                if (src.verts) dst.verts[v] = src.verts[map[v]];
                if (src.normals && dst.normals) dst.normals[v] = src.normals[map[v]];
            }
            MorphTarget_CalcBoundingSphere(&dst, &dst.boundingSphere);
        }
        for (int32_t v = 0; v < vertices; v++) {
            if (g->preLitLum && out->preLitLum) out->preLitLum[v] = g->preLitLum[map[v]];
            for (int32_t s = 0; s < g->numTexCoordSets; s++)
                if (g->texCoords[s] && out->texCoords[s]) out->texCoords[s][v] = g->texCoords[s][map[v]];
        }
        if (!MaterialList_Copy(&out->matList, &g->matList)) {
            Geometry_Destroy(out);
            out = nullptr;
        }
    }
    if (out) {
        // Extensions may own data (skins, collision trees): each is copied by
        // its own copy callback, never as raw bytes.
        for (const PluginEntry* e = sRegistry.first; e; e = e->next)
            if (e->copy) e->copy(out, g, e->offset, e->size);
        if (callback) callback(g, out, map, vertices);
        if (!Geometry_Unlock(out)) {
            Geometry_Destroy(out);
            out = nullptr;
        }
    }
    Engine_Free(map);
    return out;
}

Geometry* Geometry_Condition(Geometry* g, float)
{
    if (!g) {
        ErrorRecord record = {(int32_t)kConditionPluginId, (int32_t)ERR_NULL_ARGUMENT};
        Error_Set(&record);
    }
    return g;
}

int32_t Geometry_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                                PluginDestructor destructor, PluginCopy copy)
{
    return PluginRegistry_AddPlugin(&sRegistry, size, pluginId, constructor, destructor, copy);
}

int32_t Geometry_RegisterPluginStream(uint32_t pluginId, PluginStreamRead read, PluginStreamWrite write,
                                      PluginStreamGetSize getSize)
{
    return PluginRegistry_AddPluginStream(&sRegistry, pluginId, read, write, getSize);
}

int32_t Geometry_GetPluginOffset(uint32_t pluginId) { return PluginRegistry_GetPluginOffset(&sRegistry, pluginId); }
PluginRegistry* Geometry_GetRegistry(void) { return &sRegistry; }
const PluginEntry* Geometry_GetFirstPluginEntry(void) { return sRegistry.first; }

// ---- geometry chunk ----

namespace {

bool PerVertexData(const Geometry* g) { return !Native(g) && g->numVertices > 0; }

uint64_t StructSize(const Geometry* g)
{
    if (Native(g)) return 16 + 24ull * (uint64_t)g->numMorphTargets;
    uint64_t size = 16;
    const uint64_t v = (uint64_t)g->numVertices;
    if (PerVertexData(g)) {
        if (g->flags & GEOMETRY_PRELIT) size += 4 * v;
        size += 8 * ((uint64_t)g->numTexCoordSets * v + (uint64_t)g->numTriangles);
    }
    for (int32_t m = 0; m < g->numMorphTargets; m++) {
        size += 24;
        if (g->morphTarget[m].verts) size += 12 * v;
        if (g->morphTarget[m].normals) size += 12 * v;
    }
    return size;
}

uint32_t StoredFlags(const Geometry* g) { return (g->flags & ~0x00FF0000u) | (uint32_t)g->numTexCoordSets << 16; }

}  // namespace

int32_t Geometry_StreamGetSize(const Geometry* g)
{
    return (int32_t)(CHUNK_HEADER_SIZE + StructSize(g)) + (int32_t)CHUNK_HEADER_SIZE +
           MaterialList_StreamGetSize(&g->matList) + (int32_t)CHUNK_HEADER_SIZE +
           PluginRegistry_StreamGetExtensionsSize(&sRegistry, g);
}

const Geometry* Geometry_StreamWrite(const Geometry* g, Stream* stream)
{
    int32_t header[4] = {(int32_t)StoredFlags(g), g->numTriangles, g->numVertices, g->numMorphTargets};
    if (!Stream_WriteChunkHeaderDefault(stream, CHUNK_GEOMETRY, (uint32_t)Geometry_StreamGetSize(g)) ||
        !Stream_WriteChunkHeaderDefault(stream, CHUNK_STRUCT, (uint32_t)StructSize(g)) ||
        !Stream_WriteInt32(stream, header, 16))
        return nullptr;
    const uint32_t v = (uint32_t)g->numVertices;
    if (PerVertexData(g)) {
        if ((g->flags & GEOMETRY_PRELIT) && !Stream_Write(stream, g->preLitLum, 4 * v)) return nullptr;
        for (int32_t s = 0; s < g->numTexCoordSets; s++)
            if (!Stream_WriteReal(stream, (const float*)g->texCoords[s], 8 * v)) return nullptr;
        for (int32_t t = 0; t < g->numTriangles; t++) {
            const Triangle& tri = g->triangles[t];
            uint32_t words[2] = {(uint32_t)tri.vertIndex[0] << 16 | tri.vertIndex[1],
                                 (uint32_t)tri.vertIndex[2] << 16 | (uint16_t)tri.matIndex};
            if (!Stream_WriteInt32(stream, words, 8)) return nullptr;
        }
    }
    for (int32_t m = 0; m < g->numMorphTargets; m++) {
        const MorphTarget& target = g->morphTarget[m];
        // A native geometry's vertices live in its device data only.
        int32_t has[2] = {!Native(g) && target.verts ? 1 : 0, !Native(g) && target.normals ? 1 : 0};
        if (!Stream_WriteReal(stream, &target.boundingSphere.center.x, 16) || !Stream_WriteInt32(stream, has, 8))
            return nullptr;
        if (has[0] && !Stream_WriteReal(stream, &target.verts[0].x, 12 * v)) return nullptr;
        if (has[1] && !Stream_WriteReal(stream, &target.normals[0].x, 12 * v)) return nullptr;
    }
    if (!MaterialList_StreamWrite(&g->matList, stream) || !PluginRegistry_StreamWriteExtensions(&sRegistry, stream, g))
        return nullptr;
    return g;
}

Geometry* Geometry_StreamRead(Stream* stream)
{
    uint32_t length = 0, version = 0;
    if (!Stream_FindChunk(stream, CHUNK_STRUCT, &length, &version)) return nullptr;
    int32_t header[4];
    float surface[3] = {1, 1, 1};
    const bool oldStruct = version < kOldSurfaceVersion;
    const uint32_t fixed = 16 + (oldStruct ? 12 : 0);
    if (length < fixed) {
        RaiseError(WORLD_ERR_BAD_DATA);
        return nullptr;
    }
    if (!Stream_ReadInt32(stream, header, 16) || (oldStruct && !Stream_ReadReal(stream, surface, 12))) return nullptr;
    const uint32_t flags = (uint32_t)header[0];
    const int32_t numTriangles = header[1], numVertices = header[2], numTargets = header[3];
    const bool native = (flags & GEOMETRY_NATIVE) != 0;
    const uint32_t sets = (flags >> 16) & 0xFF           ? (flags >> 16) & 0xFF
                          : (flags & GEOMETRY_TEXTURED2) ? 2
                          : (flags & GEOMETRY_TEXTURED)  ? 1
                                                         : 0;
    // Everything the counts promise must fit in the struct before anything
    // is allocated: the per-vertex arrays, the triangles and every target's
    // positions (a geometry with vertices allocates them for each target;
    // the arrays of each target are checked again as they come). Triangles
    // need vertices: without them no triangle data is stored, so their count
    // would be bounded by nothing.
    uint64_t need = fixed + 24ull * (uint64_t)std::max(numTargets, 0);
    if (!native && numVertices > 0 && numTriangles >= 0)
        need += ((flags & GEOMETRY_PRELIT) ? 4ull * (uint64_t)numVertices : 0) +
                8ull * ((uint64_t)sets * (uint64_t)numVertices + (uint64_t)numTriangles) +
                12ull * (uint64_t)numVertices * (uint64_t)std::max(numTargets, 0);
    if (numTargets < 1 || numTriangles < 0 || numVertices < 0 || (numTriangles > 0 && numVertices == 0) ||
        sets > GEOMETRY_MAX_TEXCOORD_SETS || need > length) {
        RaiseError(WORLD_ERR_BAD_DATA);
        return nullptr;
    }
    Geometry* g = Geometry_Create(numVertices, numTriangles, flags);
    if (!g) return nullptr;
    bool ok = numTargets == 1 || Geometry_AddMorphTargets(g, numTargets - 1) >= 0;
    const uint32_t v = (uint32_t)numVertices;
    uint64_t used = fixed;
    if (ok && PerVertexData(g)) {
        if (g->flags & GEOMETRY_PRELIT) ok = Stream_Read(stream, g->preLitLum, 4 * v) == 4 * v;
        for (int32_t s = 0; ok && s < g->numTexCoordSets; s++)
            ok = Stream_ReadReal(stream, (float*)g->texCoords[s], 8 * v) != nullptr;
        for (int32_t t = 0; ok && t < numTriangles; t++) {
            uint32_t words[2];
            ok = Stream_ReadInt32(stream, words, 8) != nullptr;
            Triangle& tri = g->triangles[t];
            tri.vertIndex[0] = (uint16_t)(words[0] >> 16);
            tri.vertIndex[1] = (uint16_t)words[0];
            tri.vertIndex[2] = (uint16_t)(words[1] >> 16);
            tri.matIndex = (int16_t)(uint16_t)words[1];
            if (ok && (tri.vertIndex[0] >= v || tri.vertIndex[1] >= v || tri.vertIndex[2] >= v || tri.matIndex < -1)) {
                RaiseError(WORLD_ERR_BAD_DATA);
                ok = false;
            }
        }
        used =
            fixed + ((flags & GEOMETRY_PRELIT) ? 4ull * v : 0) + 8ull * ((uint64_t)sets * v + (uint64_t)numTriangles);
    }
    for (int32_t m = 0; ok && m < numTargets; m++) {
        MorphTarget& target = g->morphTarget[m];
        int32_t has[2];
        ok = Stream_ReadReal(stream, &target.boundingSphere.center.x, 16) && Stream_ReadInt32(stream, has, 8);
        used += 24;
        if (!ok) break;
        // A flag for an array the geometry lacks (native, or no normals) is refused.
        const uint64_t arrays = (has[0] ? 1 : 0) + (has[1] ? 1 : 0);
        if ((has[0] && !target.verts) || (has[1] && !target.normals) || used + arrays * 12 * v > length) {
            RaiseError(WORLD_ERR_BAD_DATA);
            ok = false;
            break;
        }
        if (has[0] && has[1]) ok = Stream_ReadReal(stream, &target.verts[0].x, 24 * v) != nullptr;
        else if (has[0]) ok = Stream_ReadReal(stream, &target.verts[0].x, 12 * v) != nullptr;
        else if (has[1]) ok = Stream_ReadReal(stream, &target.normals[0].x, 12 * v) != nullptr;
        used += arrays * 12 * v;
    }
    if (ok && used < length) ok = Stream_Skip(stream, (uint32_t)(length - used)) != nullptr;
    uint32_t listLength = 0, listVersion = 0;
    if (ok) ok = Stream_FindChunk(stream, CHUNK_MATERIAL_LIST, &listLength, &listVersion) != 0;
    if (ok) {
        const bool oldDefaults = oldStruct && listVersion < kOldSurfaceVersion;
        if (oldDefaults) Material_SetDefaultSurfaceProperties(surface);
        ok = MaterialList_StreamRead(stream, &g->matList) != nullptr;
        if (oldDefaults) Material_SetDefaultSurfaceProperties(nullptr);
    }
    for (int32_t t = 0; ok && g->triangles && PerVertexData(g) && t < numTriangles; t++)
        if (g->triangles[t].matIndex >= g->matList.count) {
            RaiseError(WORLD_ERR_BAD_DATA);
            ok = false;
        }
    if (ok) {
        // A plugin may refuse its data silently (native data of another
        // platform); the geometry's failure still says why.
        ok = PluginRegistry_StreamReadExtensions(&sRegistry, stream, g) != nullptr;
        if (!ok) RaiseError(ERR_SHORT_READ);
    }
    if (ok && !g->mesh) ok = Geometry_Unlock(g) != nullptr;
    if (!ok) {
        Geometry_Destroy(g);
        return nullptr;
    }
    return g;
}

int32_t Geometry_MeshGetSize(const void* object, int32_t, int32_t)
{
    const Geometry* g = (const Geometry*)object;
    return g->mesh ? MeshHeader_StreamGetSize(g->mesh, Native(g)) : 0;
}

Stream* Geometry_MeshWrite(Stream* stream, int32_t, const void* object, int32_t, int32_t)
{
    const Geometry* g = (const Geometry*)object;
    return MeshHeader_StreamWrite(g->mesh, Native(g), stream, &g->matList) ? stream : nullptr;
}

Stream* Geometry_MeshRead(Stream* stream, int32_t length, void* object, int32_t, int32_t)
{
    Geometry* g = (Geometry*)object;
    MeshHeader* header = MeshHeader_StreamRead(stream, length, Native(g), &g->matList, g->numVertices);
    if (!header) return nullptr;
    if (g->mesh) MeshHeader_Destroy(g->mesh);
    g->mesh = header;
    return stream;
}

void* Geometry_ModuleOpen(void* instance, int32_t offset, int32_t)
{
    sOffset = offset;
    return instance;
}

void* Geometry_ModuleClose(void* instance, int32_t, int32_t) { return instance; }

int32_t worldinternal::GeometryModule_GlobalsSize(void) { return (int32_t)sizeof(int32_t); }
