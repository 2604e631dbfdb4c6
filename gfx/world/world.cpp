#include "gfx/world/world.h"

#include <cstring>

#include "gfx/core/arena.h"
#include "gfx/core/freelist.h"
#include "gfx/core/pipeline.h"
#include "gfx/world/atomic.h"
#include "gfx/world/d3d8lighting.h"
#include "gfx/world/light.h"
#include "gfx/world/mesh.h"
#include "gfx/world/pipelines.h"
#include "gfx/world/worldinternal.h"
#include "gfx/world/worldties.h"

using namespace worldinternal;

namespace {

// One world of the engine's world list.
struct WorldEntry {
    World* world;
    size_t size;  // bytes of the world's allocation
    EngineLink link;
};

struct WorldGlobals {
    FreeList* entries;
    EngineLink worlds;
};

PluginRegistry sRegistry = PLUGIN_REGISTRY_INIT(sizeof(World));
PluginRegistry sSectorRegistry = PLUGIN_REGISTRY_INIT(sizeof(WorldSector));
int32_t sOffset = -1;
RightsSlots sWorldRights;
RightsSlots sSectorRights;

WorldGlobals* Globals(void) { return (WorldGlobals*)Engine_ModuleGlobals(sOffset); }
WorldEntry* EntryOf(EngineLink* l) { return (WorldEntry*)((char*)l - offsetof(WorldEntry, link)); }

bool IsLeaf(const WorldSector* s) { return s->type < 0; }
PlaneSector* AsPlane(WorldSector* s) { return (PlaneSector*)s; }

// Depth-first over the leaves with a stack of WORLD_MAX_TREE_DEPTH pending
// nodes (trees are checked against it when they are made). fn returns
// false to stop.
template <typename Fn>
bool ForEachLeaf(WorldSector* root, Fn fn)
{
    WorldSector* stack[WORLD_MAX_TREE_DEPTH];
    int32_t depth = 0;
    WorldSector* s = root;
    while (s) {
        if (IsLeaf(s)) {
            if (!fn(s)) return false;
            s = depth > 0 ? stack[--depth] : nullptr;
        } else {
            PlaneSector* p = AsPlane(s);
            if (depth < (int32_t)WORLD_MAX_TREE_DEPTH) stack[depth++] = p->right;
            s = p->left;
        }
    }
    return true;
}

void FreeLeafArrays(WorldSector* leaf)
{
    Engine_Free(leaf->triangles);
    Engine_Free(leaf->vertices);
    Engine_Free(leaf->normals);
    for (TexCoords* set : leaf->texCoords) Engine_Free(set);
    Engine_Free(leaf->preLitLum);
}

// Releases one leaf's device data and ties and runs its destructors.
void ReleaseLeaf(WorldSector* leaf)
{
    if (leaf->instanceData) ResourceArena_FreeEntry(leaf->instanceData);
    WorldTies_UntieSector(leaf);
    PluginRegistry_RunDestructors(&sSectorRegistry, leaf);
}

// Frees a (sub)tree; withDestructors for leaves whose constructors ran.
void FreeTree(WorldSector* s, bool withDestructors)
{
    if (!s) return;
    if (s->type == SECTOR_EMPTY_SLOT) {
        Engine_Free(s);
        return;
    }
    if (!IsLeaf(s)) {
        FreeTree(AsPlane(s)->left, withDestructors);
        FreeTree(AsPlane(s)->right, withDestructors);
        Engine_Free(s);
        return;
    }
    if (withDestructors) ReleaseLeaf(s);
    if (s->mesh) MeshHeader_Destroy(s->mesh);
    FreeLeafArrays(s);
    Engine_Free(s);
}

void InitLeaf(WorldSector* leaf, const WorldBox* box)
{
    memset(leaf, 0, (size_t)sSectorRegistry.size);
    leaf->type = SECTOR_LEAF;
    EngineLink_Init(&leaf->collAtomics);
    EngineLink_Init(&leaf->atomics);
    EngineLink_Init(&leaf->lights);
    leaf->box = *box;
    leaf->tightBox = *box;
}

// Checks a hand-built tree: every walk fits the pending-node stack, every
// node is present, and leaf triangles name existing vertices and materials.
bool ValidTree(WorldSector* root, const MaterialList* list)
{
    WorldSector* stack[WORLD_MAX_TREE_DEPTH];
    int32_t depth = 0;
    WorldSector* s = root;
    while (s) {
        if (IsLeaf(s)) {
            if (s->type != SECTOR_LEAF) return false;
            for (uint32_t t = 0; t < s->numTriangles; t++) {
                const SectorTriangle& tri = s->triangles[t];
                if ((int32_t)s->matListWindowBase + tri.matIndex >= list->count) return false;
                for (uint16_t v : tri.vertIndex)
                    if (v >= s->numVertices) return false;
            }
            s = depth > 0 ? stack[--depth] : nullptr;
            continue;
        }
        PlaneSector* p = AsPlane(s);
        if ((p->type != SECTOR_PLANE_X && p->type != SECTOR_PLANE_Y && p->type != SECTOR_PLANE_Z) || !p->left ||
            !p->right || depth == (int32_t)WORLD_MAX_TREE_DEPTH)
            return false;
        stack[depth++] = p->right;
        s = p->left;
    }
    return true;
}

World* AllocWorld(const WorldBox* box)
{
    World* world = (World*)Engine_Malloc((size_t)sRegistry.size);
    if (!world) {
        RaiseError(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    memset(world, 0, (size_t)sRegistry.size);
    world->type = OBJECT_WORLD;
    world->renderOrder = 2;
    MaterialList_Initialize(&world->matList);
    EngineLink_Init(&world->clumpList);
    EngineLink_Init(&world->localLights);
    EngineLink_Init(&world->globalLights);
    world->box = *box;
    world->renderCallBack = WorldSector_DefaultRenderCallback;
    return world;
}

// Links the world, runs the constructors and builds the meshes; on failure
// everything (tree included) is freed.
World* FinishWorld(World* world)
{
    WorldEntry* entry = sOffset >= 0 && Globals()->entries ? (WorldEntry*)FreeList_Alloc(Globals()->entries) : nullptr;
    if (!entry) {
        RaiseError(ERR_OUT_OF_MEMORY);
        FreeTree(world->rootSector, false);
        MaterialList_Deinitialize(&world->matList);
        Engine_Free(world);
        return nullptr;
    }
    entry->world = world;
    entry->size = (size_t)sRegistry.size;
    EngineLink_InsertHead(&Globals()->worlds, &entry->link);
    PluginRegistry_RunConstructors(&sRegistry, world);
    ForEachLeaf(world->rootSector, [](WorldSector* leaf) {
        PluginRegistry_RunConstructors(&sSectorRegistry, leaf);
        return true;
    });
    if (!World_BuildSectorMeshes(world)) {
        World_Destroy(world);
        return nullptr;
    }
    return world;
}

WorldEntry* FindEntry(const World* world)
{
    EngineLink* head = &Globals()->worlds;
    for (EngineLink* l = head->next; l != head; l = l->next)
        if (EntryOf(l)->world == world) return EntryOf(l);
    return nullptr;
}

}  // namespace

World* World_Create(const WorldBox* box)
{
    World* world = AllocWorld(box);
    if (!world) return nullptr;
    WorldSector* leaf = (WorldSector*)Engine_Malloc((size_t)sSectorRegistry.size);
    if (!leaf) {
        RaiseError(ERR_OUT_OF_MEMORY);
        Engine_Free(world);
        return nullptr;
    }
    InitLeaf(leaf, box);
    world->rootSector = leaf;
    return FinishWorld(world);
}

World* World_CreateWithTree(const WorldBox* box, WorldSector* root, const MaterialList* matList, uint32_t flags)
{
    if (!root || !ValidTree(root, matList)) {
        RaiseError(ERR_NULL_ARGUMENT);
        FreeTree(root, false);
        return nullptr;
    }
    World* world = AllocWorld(box);
    if (world && !MaterialList_Copy(&world->matList, matList)) {
        Engine_Free(world);
        world = nullptr;
    }
    if (!world) {
        FreeTree(root, false);
        return nullptr;
    }
    world->flags = flags;
    world->rootSector = root;
    return FinishWorld(world);
}

int32_t World_Destroy(World* world)
{
    if (WorldEntry* entry = FindEntry(world)) {
        EngineLink_Remove(&entry->link);
        FreeList_Free(Globals()->entries, entry);
    }
    // What is still in the world leaves it first, so that no atomic, camera,
    // clump or light points at it (or at its sectors) once it is freed.
    WorldTies_DetachWorld(world);
    MaterialList_Deinitialize(&world->matList);
    if (world->privateFlags & WORLD_SINGLE_ALLOCATION) {
        ForEachLeaf(world->rootSector, [](WorldSector* leaf) {
            if (leaf->mesh) MeshHeader_Destroy(leaf->mesh);
            leaf->mesh = nullptr;
            ReleaseLeaf(leaf);
            return true;
        });
    } else {
        FreeTree(world->rootSector, true);
    }
    world->rootSector = nullptr;
    PluginRegistry_RunDestructors(&sRegistry, world);
    Engine_Free(world);
    return 1;
}

World* World_BuildSectorMeshes(World* world)
{
    struct Context {
        World* world;
        bool ok;
    } context = {world, true};
    ForEachLeaf(world->rootSector, [&context](WorldSector* leaf) {
        if (leaf->mesh) return true;
        World* w = context.world;
        BuildMesh* build = BuildMesh_Create(leaf->numTriangles);
        if (!build) return context.ok = false;
        if (w->matList.count > 0 && leaf->triangles) {
            TriangleKeyCollector keys;
            bool ok = TriangleKeys_Begin(&keys, w->matList.count);
            for (uint32_t t = 0; ok && t < leaf->numTriangles; t++) {
                const SectorTriangle& tri = leaf->triangles[t];
                ok = TriangleKeys_Add(&keys, build, &w->matList, (int32_t)leaf->matListWindowBase + tri.matIndex,
                                      tri.vertIndex[0], tri.vertIndex[1], tri.vertIndex[2]) != nullptr;
            }
            if (keys.perMaterial) TriangleKeys_End(&keys);
            if (!ok) {
                BuildMesh_Destroy(build);
                return context.ok = false;
            }
        }
        MeshHeader* header = Mesh_BuildFromTriangles(build, (w->flags & WORLD_TRISTRIP) ? 1 : 0);
        if (!header) {
            BuildMesh_Destroy(build);
            return context.ok = false;
        }
        leaf->mesh = header;
        return true;
    });
    return context.ok ? world : nullptr;
}

World* WorldSector_GetWorld(const WorldSector* sector)
{
    if (sOffset < 0 || !Globals()->entries) return nullptr;
    EngineLink* head = &Globals()->worlds;
    for (EngineLink* l = head->next; l != head; l = l->next) {
        WorldEntry* entry = EntryOf(l);
        World* world = entry->world;
        if (world->privateFlags & WORLD_SINGLE_ALLOCATION) {
            const char* base = (const char*)world;
            if ((const char*)sector >= base && (const char*)sector < base + entry->size) return world;
            continue;
        }
        bool found = false;
        ForEachLeaf(world->rootSector, [&](WorldSector* leaf) { return !(found = leaf == sector); });
        if (found) return world;
    }
    return nullptr;
}

WorldSector* WorldSector_DefaultRenderCallback(WorldSector* sector)
{
    if (sector->numTriangles == 0) return sector;
    Pipeline* pipeline = WorldSector_GetRenderPipeline(sector);
    return pipeline && Pipeline_Execute(pipeline, sector, 1) ? sector : nullptr;
}

WorldSector* WorldSector_CreateLeaf(const WorldBox* box, int32_t numVertices, int32_t numTriangles, uint32_t flags)
{
    if (numVertices < 0 || numVertices > 0xFFFF || numTriangles < 0 || numTriangles > 0xFFFF) return nullptr;
    WorldSector* leaf = (WorldSector*)Engine_Malloc((size_t)sSectorRegistry.size);
    if (!leaf) {
        RaiseError(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    InitLeaf(leaf, box);
    leaf->numVertices = (uint16_t)numVertices;
    leaf->numTriangles = (uint16_t)numTriangles;
    const size_t v = (size_t)numVertices;
    bool ok = true;
    auto take = [&ok](size_t bytes) {
        void* p = bytes ? Engine_Calloc(1, bytes) : nullptr;
        if (bytes && !p) ok = false;
        return p;
    };
    leaf->triangles = (SectorTriangle*)take(sizeof(SectorTriangle) * (size_t)numTriangles);
    leaf->vertices = (Vec3*)take(sizeof(Vec3) * v);
    if (flags & WORLD_NORMALS) leaf->normals = (SectorNormal*)take(sizeof(SectorNormal) * v);
    if (flags & WORLD_PRELIT) leaf->preLitLum = (RGBA*)take(sizeof(RGBA) * v);
    const int32_t sets = (flags & WORLD_TEXTURED2) ? 2 : (flags & WORLD_TEXTURED) ? 1 : 0;
    for (int32_t s = 0; s < sets; s++) leaf->texCoords[s] = (TexCoords*)take(sizeof(TexCoords) * v);
    if (!ok) {
        RaiseError(ERR_OUT_OF_MEMORY);
        FreeLeafArrays(leaf);
        Engine_Free(leaf);
        return nullptr;
    }
    return leaf;
}

PlaneSector* WorldSector_CreatePlane(int32_t axis, float value, float leftValue, float rightValue, WorldSector* left,
                                     WorldSector* right)
{
    PlaneSector* plane = (PlaneSector*)Engine_Malloc(sizeof(PlaneSector));
    if (!plane) {
        RaiseError(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    *plane = PlaneSector{axis, value, left, right, leftValue, rightValue};
    return plane;
}

World* World_ForAllWorldSectors(World* world, WorldSectorCallback callback, void* data)
{
    ForEachLeaf(world->rootSector, [&](WorldSector* leaf) { return callback(leaf, data) != nullptr; });
    return world;
}

int32_t World_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                             PluginDestructor destructor, PluginCopy copy)
{
    return PluginRegistry_AddPlugin(&sRegistry, size, pluginId, constructor, destructor, copy);
}

int32_t World_RegisterPluginStream(uint32_t pluginId, PluginStreamRead read, PluginStreamWrite write,
                                   PluginStreamGetSize getSize)
{
    return PluginRegistry_AddPluginStream(&sRegistry, pluginId, read, write, getSize);
}

int32_t WorldSector_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                                   PluginDestructor destructor, PluginCopy copy)
{
    return PluginRegistry_AddPlugin(&sSectorRegistry, size, pluginId, constructor, destructor, copy);
}

int32_t WorldSector_RegisterPluginStream(uint32_t pluginId, PluginStreamRead read, PluginStreamWrite write,
                                         PluginStreamGetSize getSize)
{
    return PluginRegistry_AddPluginStream(&sSectorRegistry, pluginId, read, write, getSize);
}

int32_t World_GetPluginOffset(uint32_t pluginId) { return PluginRegistry_GetPluginOffset(&sRegistry, pluginId); }
int32_t WorldSector_GetPluginOffset(uint32_t pluginId)
{
    return PluginRegistry_GetPluginOffset(&sSectorRegistry, pluginId);
}
PluginRegistry* World_GetRegistry(void) { return &sRegistry; }
PluginRegistry* WorldSector_GetRegistry(void) { return &sSectorRegistry; }

int32_t World_RightsGetSize(const void* world, int32_t, int32_t) { return RightsSize(((const World*)world)->pipeline); }
Stream* World_RightsWrite(Stream* stream, int32_t, const void* world, int32_t, int32_t)
{
    return RightsWrite(stream, ((const World*)world)->pipeline);
}
Stream* World_RightsRead(Stream* stream, int32_t length, void*, int32_t, int32_t)
{
    return RightsRead(stream, length, &sWorldRights);
}
int32_t WorldSector_RightsGetSize(const void* sector, int32_t, int32_t)
{
    return RightsSize(((const WorldSector*)sector)->pipeline);
}
Stream* WorldSector_RightsWrite(Stream* stream, int32_t, const void* sector, int32_t, int32_t)
{
    return RightsWrite(stream, ((const WorldSector*)sector)->pipeline);
}
Stream* WorldSector_RightsRead(Stream* stream, int32_t length, void*, int32_t, int32_t)
{
    return RightsRead(stream, length, &sSectorRights);
}

int32_t WorldSector_MeshGetSize(const void* object, int32_t, int32_t)
{
    const WorldSector* sector = (const WorldSector*)object;
    const World* world = WorldSector_GetWorld(sector);
    if (!sector->mesh || !world) return 0;
    return MeshHeader_StreamGetSize(sector->mesh, (world->flags & WORLD_NATIVE) ? 1 : 0);
}

Stream* WorldSector_MeshWrite(Stream* stream, int32_t, const void* object, int32_t, int32_t)
{
    const WorldSector* sector = (const WorldSector*)object;
    const World* world = WorldSector_GetWorld(sector);
    if (!world) return nullptr;
    return MeshHeader_StreamWrite(sector->mesh, (world->flags & WORLD_NATIVE) ? 1 : 0, stream, &world->matList)
               ? stream
               : nullptr;
}

Stream* WorldSector_MeshRead(Stream* stream, int32_t length, void* object, int32_t, int32_t)
{
    WorldSector* sector = (WorldSector*)object;
    const World* world = WorldSector_GetWorld(sector);
    if (!world) {
        RaiseError(ERR_NULL_ARGUMENT);  // no material list to resolve the meshes with
        return nullptr;
    }
    MeshHeader* header = MeshHeader_StreamRead(stream, length, (world->flags & WORLD_NATIVE) ? 1 : 0, &world->matList,
                                               sector->numVertices);
    if (!header) return nullptr;
    if (sector->mesh) MeshHeader_Destroy(sector->mesh);
    sector->mesh = header;
    return stream;
}

namespace {

void* CountOnly(void* instance, int32_t, int32_t) { return instance; }

}  // namespace

int32_t World_PluginAttach(void)
{
    struct Module {
        int32_t size;
        uint32_t id;
        PluginConstructor open;
        PluginDestructor close;
    };
    const Module modules[] = {
        {MaterialModule_GlobalsSize(), MODULE_MATERIAL, Material_ModuleOpen, Material_ModuleClose},
        {MeshModule_GlobalsSize(), MODULE_MESH, Mesh_ModuleOpen, Mesh_ModuleClose},
        {GeometryModule_GlobalsSize(), MODULE_GEOMETRY, Geometry_ModuleOpen, Geometry_ModuleClose},
        {AtomicModule_GlobalsSize(), MODULE_ATOMIC, Atomic_ModuleOpen, Atomic_ModuleClose},
        {LightModule_GlobalsSize(), MODULE_LIGHT, Light_ModuleOpen, Light_ModuleClose},
        {0, MODULE_WORLD_RESERVED_A, CountOnly, CountOnly},
        {WorldModule_GlobalsSize(), MODULE_WORLD, World_ModuleOpen, World_ModuleClose},
        {0, MODULE_WORLD_RESERVED_B, CountOnly, CountOnly},
    };
    for (const Module& m : modules)
        if (Engine_RegisterPlugin(m.size, m.id, m.open, m.close) < 0) return 0;
    if (!WorldObject_RegisterExtensions() || !Clump_RegisterExtensions() || !D3D8Lights_RegisterExtension()) return 0;
    return 1;
}

void* World_ModuleOpen(void* instance, int32_t offset, int32_t)
{
    sOffset = offset;
    WorldGlobals* g = Globals();
    EngineLink_Init(&g->worlds);
    g->entries = FreeList_CreateEx((int32_t)sizeof(WorldEntry), 8, 8, 1, nullptr);
    if (!g->entries) return nullptr;
    if (!WorldPipes_Open()) {
        FreeList_Destroy(g->entries);
        g->entries = nullptr;
        return nullptr;
    }
    return instance;
}

void* World_ModuleClose(void* instance, int32_t, int32_t)
{
    WorldGlobals* g = Globals();
    if (g->entries) FreeList_Destroy(g->entries);
    g->entries = nullptr;
    EngineLink_Init(&g->worlds);
    WorldPipes_Close();
    return instance;
}

int32_t worldinternal::WorldModule_GlobalsSize(void) { return (int32_t)sizeof(WorldGlobals); }
