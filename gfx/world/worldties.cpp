#include "gfx/world/worldties.h"

#include <cstring>
#include <initializer_list>

#include "gfx/core/arena.h"
#include "gfx/core/camera.h"
#include "gfx/core/freelist.h"
#include "gfx/core/matrix.h"
#include "gfx/world/atomic.h"
#include "gfx/world/d3d8instance.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/material.h"
#include "gfx/world/world.h"
#include "gfx/world/worldinternal.h"

using namespace worldinternal;

namespace {

constexpr int32_t kVisibleGrowth = 50;
constexpr int32_t kStandardCameraSectors = 22;  // the device's notice of the visible sectors

struct TieGlobals {
    FreeList* atomicTies;
    FreeList* lightTies;
    uint32_t clumpWord;  // copied by every new clump
    // The atomics and cameras that are in a world (AtomicExt and CameraExt
    // inWorld), so that a world being destroyed can let go of them.
    EngineLink atomics;
    EngineLink cameras;
};

struct CameraExt {
    WorldSector** leaves;
    int32_t capacity;
    int32_t count;
    World* world;
    CameraUpdateFn beginUpdate;
    CameraUpdateFn endUpdate;
    FrameObjectSyncFn sync;
    EngineLink inWorld;  // in TieGlobals.cameras while world is set (next null otherwise)
};

struct AtomicExt {
    World* world;
    FrameObjectSyncFn sync;
    EngineLink inWorld;  // in TieGlobals.atomics while world is set (next null otherwise)
};

struct ClumpExt {
    World* world;
    uint32_t word;
};

struct LightExt {
    World* world;
    FrameObjectSyncFn sync;
};

int32_t sEngineOffset = -1;
int32_t sCameraOffset = -1;
int32_t sAtomicOffset = -1;
int32_t sClumpOffset = -1;
int32_t sLightOffset = -1;
int32_t sAtomicTiesInUse = 0;
int32_t sLightTiesInUse = 0;

TieGlobals* Globals(void) { return (TieGlobals*)Engine_ModuleGlobals(sEngineOffset); }
CameraExt* Ext(const Camera* c) { return (CameraExt*)((char*)c + sCameraOffset); }
AtomicExt* Ext(const Atomic* a) { return (AtomicExt*)((char*)a + sAtomicOffset); }
ClumpExt* Ext(const Clump* c) { return (ClumpExt*)((char*)c + sClumpOffset); }
LightExt* Ext(const Light* l) { return (LightExt*)((char*)l + sLightOffset); }

// ---- membership ----

// Links or unlinks an object's world link as its world is set or cleared.
void SetMember(EngineLink* head, EngineLink* link, bool member)
{
    if (link->next && !member) {
        EngineLink_Remove(link);
        link->next = link->prev = nullptr;
    } else if (!link->next && member && head) {
        EngineLink_InsertHead(head, link);
    }
}

bool Open(void) { return sEngineOffset >= 0 && Globals()->atomicTies; }

void SetAtomicWorld(Atomic* atomic, World* world)
{
    AtomicExt* ext = Ext(atomic);
    ext->world = world;
    SetMember(Open() ? &Globals()->atomics : nullptr, &ext->inWorld, world != nullptr);
}

void SetCameraWorld(Camera* camera, World* world)
{
    CameraExt* ext = Ext(camera);
    ext->world = world;
    SetMember(Open() ? &Globals()->cameras : nullptr, &ext->inWorld, world != nullptr);
}

// Members still linked when the module closes are let go without touching
// the list heads again.
void ClearMembers(EngineLink* head)
{
    while (!EngineLink_Empty(head)) {
        EngineLink* link = head->next;
        EngineLink_Remove(link);
        link->next = link->prev = nullptr;
    }
}

// ---- ties ----

void Untie(EngineLink* objectTies, FreeList* list, int32_t* inUse)
{
    while (!EngineLink_Empty(objectTies)) {
        SectorTie* tie = SectorTie_FromObjectLink(objectTies->next);
        EngineLink_Remove(&tie->inSector);
        EngineLink_Remove(&tie->inObject);
        FreeList_Free(list, tie);
        (*inUse)--;
    }
}

bool Tie(FreeList* list, int32_t* inUse, void* object, EngineLink* objectTies, WorldSector* sector,
         EngineLink* sectorList)
{
    SectorTie* tie = (SectorTie*)FreeList_Alloc(list);
    if (!tie) {
        RaiseError(ERR_OUT_OF_MEMORY);
        return false;
    }
    tie->object = object;
    tie->sector = sector;
    EngineLink_InsertHead(sectorList, &tie->inSector);
    EngineLink_InsertHead(objectTies, &tie->inObject);
    (*inUse)++;
    return true;
}

float Axis(const Vec3& v, int32_t type) { return type == SECTOR_PLANE_X ? v.x : type == SECTOR_PLANE_Y ? v.y : v.z; }

// Calls fn for every leaf the box [lo, hi] reaches.
template <typename Fn>
void WalkBox(World* world, const Vec3& lo, const Vec3& hi, Fn fn)
{
    WorldSector* stack[WORLD_MAX_TREE_DEPTH];
    int32_t depth = 0;
    WorldSector* s = world->rootSector;
    while (s) {
        if (s->type < 0) {
            fn(s);
            s = depth > 0 ? stack[--depth] : nullptr;
            continue;
        }
        PlaneSector* p = (PlaneSector*)s;
        const float a = Axis(lo, p->type), b = Axis(hi, p->type);
        if (a < p->leftValue) {
            if (b > p->rightValue && depth < (int32_t)WORLD_MAX_TREE_DEPTH) stack[depth++] = p->right;
            s = p->left;
        } else if (b > p->rightValue) {
            s = p->right;
        } else {
            s = depth > 0 ? stack[--depth] : nullptr;
        }
    }
}

FrameLinkedObject* Atomic_WorldSyncCallback(FrameLinkedObject* object)
{
    Atomic* atomic = (Atomic*)object;
    AtomicExt* ext = Ext(atomic);
    if (ext->sync && !ext->sync(object)) return nullptr;
    if (!ext->world) return object;
    TieGlobals* g = Globals();
    Untie(&atomic->sectorTies, g->atomicTies, &sAtomicTiesInUse);
    const Sphere* sphere = Atomic_GetWorldBoundingSphere(atomic);
    const Vec3 lo = {sphere->center.x - sphere->radius, sphere->center.y - sphere->radius,
                     sphere->center.z - sphere->radius};
    const Vec3 hi = {sphere->center.x + sphere->radius, sphere->center.y + sphere->radius,
                     sphere->center.z + sphere->radius};
    const bool first = (atomic->object.header.flags & ATOMIC_COLLISION_TEST) != 0;
    WalkBox(ext->world, lo, hi, [&](WorldSector* leaf) {
        Tie(g->atomicTies, &sAtomicTiesInUse, atomic, &atomic->sectorTies, leaf,
            first ? &leaf->collAtomics : &leaf->atomics);
    });
    return object;
}

FrameLinkedObject* Light_WorldSyncCallback(FrameLinkedObject* object)
{
    Light* light = (Light*)object;
    LightExt* ext = Ext(light);
    if (ext->sync && !ext->sync(object)) {
        RaiseError(ERR_NULL_ARGUMENT);
        return object;
    }
    Frame* frame = Light_GetFrame(light);
    if (Light_GetType(light) < LIGHT_POSITIONAL_FIRST || !ext->world || !frame) return object;
    TieGlobals* g = Globals();
    Untie(&light->sectorTies, g->lightTies, &sLightTiesInUse);
    const Vec3& pos = Frame_GetWorldMatrix(frame)->pos;
    const float r = light->radius;
    const Vec3 lo = {pos.x - r, pos.y - r, pos.z - r}, hi = {pos.x + r, pos.y + r, pos.z + r};
    WalkBox(ext->world, lo, hi, [&](WorldSector* leaf) {
        Tie(g->lightTies, &sLightTiesInUse, light, &light->sectorTies, leaf, &leaf->lights);
    });
    return object;
}

Camera* CameraBeginHook(Camera* camera)
{
    CameraExt* ext = Ext(camera);
    Engine_Instance()->currentWorld = ext->world;
    Engine_Instance()->renderFrame++;
    return ext->beginUpdate ? ext->beginUpdate(camera) : camera;
}

Camera* CameraEndHook(Camera* camera)
{
    CameraExt* ext = Ext(camera);
    Engine_Instance()->currentWorld = nullptr;
    return ext->endUpdate ? ext->endUpdate(camera) : camera;
}

// The corner of the box nearest the inside along the plane's normal: the
// minimum for a component that points outwards (sign byte 1). A leaf is
// outside only when even that corner is.
bool LeafOutside(const Camera* camera, const WorldSector* leaf)
{
    for (const FrustumPlane& plane : camera->frustumPlanes) {
        const Vec3 c = {plane.closestX ? leaf->box.minimum.x : leaf->box.maximum.x,
                        plane.closestY ? leaf->box.minimum.y : leaf->box.maximum.y,
                        plane.closestZ ? leaf->box.minimum.z : leaf->box.maximum.z};
        if (plane.normal.x * c.x + plane.normal.y * c.y + plane.normal.z * c.z - plane.distance > 0) return true;
    }
    return false;
}

FrameLinkedObject* Camera_WorldSyncCallback(FrameLinkedObject* object)
{
    Camera* camera = (Camera*)object;
    CameraExt* ext = Ext(camera);
    if (ext->sync && !ext->sync(object)) return nullptr;
    World* world = ext->world;
    if (!world) return object;
    ext->count = 0;
    Frame* frame = Camera_GetFrame(camera);
    const Vec3 eye = frame ? Frame_GetWorldMatrix(frame)->pos : Vec3{0, 0, 0};
    const Vec3& lo = camera->frustumBox.inf;
    const Vec3& hi = camera->frustumBox.sup;
    WorldSector* stack[WORLD_MAX_TREE_DEPTH];
    int32_t depth = 0;
    WorldSector* s = world->rootSector;
    while (s) {
        if (s->type >= 0) {
            PlaneSector* p = (PlaneSector*)s;
            const bool left = Axis(lo, p->type)<p->leftValue, right = Axis(hi, p->type)> p->rightValue;
            if (left && right) {
                // Render order 2 visits the far side first.
                const bool cameraRight = Axis(eye, p->type) > p->value;
                const bool leftFirst = world->renderOrder == 2 ? cameraRight : !cameraRight;
                if (depth < (int32_t)WORLD_MAX_TREE_DEPTH) stack[depth++] = leftFirst ? p->right : p->left;
                s = leftFirst ? p->left : p->right;
            } else {
                s = left ? p->left : p->right;
            }
            continue;
        }
        if (!LeafOutside(camera, s)) {
            if (ext->count == ext->capacity) {
                const int32_t capacity = ext->capacity + kVisibleGrowth;
                WorldSector** grown =
                    (WorldSector**)Engine_Realloc(ext->leaves, sizeof(WorldSector*) * (size_t)capacity);
                if (!grown) {
                    RaiseError(ERR_OUT_OF_MEMORY);
                    break;
                }
                ext->leaves = grown;
                ext->capacity = capacity;
            }
            ext->leaves[ext->count++] = s;
        }
        s = depth > 0 ? stack[--depth] : nullptr;
    }
    StandardFunction notify = Engine_Instance()->standardFunctions[kStandardCameraSectors];
    if (notify) notify(nullptr, nullptr, world->renderOrder == 1 ? 1 : 0);
    return object;
}

// ---- extensions ----

void* TiesOpen(void* instance, int32_t offset, int32_t)
{
    sEngineOffset = offset;
    TieGlobals* g = Globals();
    g->atomicTies = FreeList_CreateEx((int32_t)sizeof(SectorTie), 256, 8, 1, nullptr);
    g->lightTies = FreeList_CreateEx((int32_t)sizeof(SectorTie), 32, 8, 1, nullptr);
    g->clumpWord = 0;
    EngineLink_Init(&g->atomics);
    EngineLink_Init(&g->cameras);
    sAtomicTiesInUse = sLightTiesInUse = 0;
    Engine_Instance()->renderFrame = 1;
    if (!g->atomicTies || !g->lightTies) {
        if (g->atomicTies) FreeList_Destroy(g->atomicTies);
        if (g->lightTies) FreeList_Destroy(g->lightTies);
        g->atomicTies = g->lightTies = nullptr;
        return nullptr;
    }
    return instance;
}

void* TiesClose(void* instance, int32_t, int32_t)
{
    TieGlobals* g = Globals();
    if (g->atomicTies) {
        ClearMembers(&g->atomics);
        ClearMembers(&g->cameras);
    }
    if (g->atomicTies) FreeList_Destroy(g->atomicTies);
    if (g->lightTies) FreeList_Destroy(g->lightTies);
    g->atomicTies = g->lightTies = nullptr;
    return instance;
}

void* CameraConstruct(void* object, int32_t, int32_t)
{
    Camera* camera = (Camera*)object;
    CameraExt* ext = Ext(camera);
    *ext = CameraExt{nullptr, 0, 0, nullptr, camera->beginUpdate, camera->endUpdate, camera->object.sync, {}};
    camera->beginUpdate = CameraBeginHook;
    camera->endUpdate = CameraEndHook;
    camera->object.sync = Camera_WorldSyncCallback;
    return object;
}

void* CameraDestruct(void* object, int32_t, int32_t)
{
    Camera* camera = (Camera*)object;
    CameraExt* ext = Ext(camera);
    Engine_Free(ext->leaves);
    SetCameraWorld(camera, nullptr);
    camera->beginUpdate = ext->beginUpdate;
    camera->endUpdate = ext->endUpdate;
    camera->object.sync = ext->sync;
    *ext = CameraExt{};
    return object;
}

void* CameraCopy(void* dst, const void* src, int32_t, int32_t)
{
    CameraExt* to = Ext((Camera*)dst);
    const CameraExt* from = Ext((const Camera*)src);
    to->leaves = nullptr;
    to->capacity = to->count = 0;
    to->world = nullptr;
    to->inWorld = EngineLink{};
    if (from->world) {
        SetCameraWorld((Camera*)dst, from->world);
        if (Frame* frame = Camera_GetFrame((Camera*)dst)) Frame_MarkDirty(frame);
    }
    return dst;
}

void* AtomicConstruct(void* object, int32_t, int32_t)
{
    Atomic* atomic = (Atomic*)object;
    AtomicExt* ext = Ext(atomic);
    ext->world = nullptr;
    ext->inWorld = EngineLink{};
    atomic->renderFrame = (uint16_t)(Engine_Instance()->renderFrame - 1);
    ext->sync = atomic->object.sync;
    atomic->object.sync = Atomic_WorldSyncCallback;
    return object;
}

void* AtomicDestruct(void* object, int32_t, int32_t)
{
    Atomic* atomic = (Atomic*)object;
    if (Open()) Untie(&atomic->sectorTies, Globals()->atomicTies, &sAtomicTiesInUse);
    SetAtomicWorld(atomic, nullptr);
    atomic->object.sync = Ext(atomic)->sync;
    return object;
}

void* ClumpConstruct(void* object, int32_t, int32_t)
{
    ClumpExt* ext = Ext((Clump*)object);
    ext->world = nullptr;
    ext->word = sEngineOffset >= 0 ? Globals()->clumpWord : 0;
    return object;
}

void* ClumpCopy(void* dst, const void* src, int32_t, int32_t)
{
    if (World* world = Ext((const Clump*)src)->world) World_AddClump(world, (Clump*)dst);
    return dst;
}

void* LightConstruct(void* object, int32_t, int32_t)
{
    Light* light = (Light*)object;
    LightExt* ext = Ext(light);
    ext->world = nullptr;
    ext->sync = light->object.sync;
    light->object.sync = Light_WorldSyncCallback;
    return object;
}

void* LightDestruct(void* object, int32_t, int32_t)
{
    Light* light = (Light*)object;
    // A light destroyed while still in a world leaves the world's light
    // list too; otherwise the lighting would walk a freed record.
    WorldTies_DetachLight(light);
    light->object.sync = Ext(light)->sync;
    return object;
}

void* LightCopy(void* dst, const void* src, int32_t, int32_t)
{
    if (World* world = Ext((const Light*)src)->world) World_AddLight(world, (Light*)dst);
    return dst;
}

}  // namespace

int32_t WorldObject_RegisterExtensions(void)
{
    sEngineOffset = Engine_RegisterPlugin((int32_t)sizeof(TieGlobals), PLUGIN_WORLD_TIES, TiesOpen, TiesClose);
    if (sEngineOffset < 0) return 0;
    sCameraOffset = Camera_RegisterPlugin((int32_t)sizeof(CameraExt), PLUGIN_WORLD_TIES, CameraConstruct,
                                          CameraDestruct, CameraCopy);
    sAtomicOffset =
        Atomic_RegisterPlugin((int32_t)sizeof(AtomicExt), PLUGIN_WORLD_TIES, AtomicConstruct, AtomicDestruct, nullptr);
    sClumpOffset =
        Clump_RegisterPlugin((int32_t)sizeof(ClumpExt), PLUGIN_WORLD_TIES, ClumpConstruct, nullptr, ClumpCopy);
    sLightOffset =
        Light_RegisterPlugin((int32_t)sizeof(LightExt), PLUGIN_WORLD_TIES, LightConstruct, LightDestruct, LightCopy);
    if (sCameraOffset < 0 || sAtomicOffset < 0 || sClumpOffset < 0 || sLightOffset < 0) return 0;
    // Stream-only extensions. Binary meshes come before native data, so
    // they are read first.
    const struct {
        PluginRegistry* registry;
        uint32_t id;
        PluginStreamRead read;
        PluginStreamWrite write;
        PluginStreamGetSize size;
    } streams[] = {
        {Geometry_GetRegistry(), PLUGIN_BINARY_MESH, Geometry_MeshRead, Geometry_MeshWrite, Geometry_MeshGetSize},
        {Geometry_GetRegistry(), PLUGIN_NATIVE_DATA, D3D8NativeData_GeometryRead, D3D8NativeData_GeometryWrite,
         D3D8NativeData_GeometryGetSize},
        {WorldSector_GetRegistry(), PLUGIN_BINARY_MESH, WorldSector_MeshRead, WorldSector_MeshWrite,
         WorldSector_MeshGetSize},
        {WorldSector_GetRegistry(), PLUGIN_NATIVE_DATA, D3D8NativeData_SectorRead, D3D8NativeData_SectorWrite,
         D3D8NativeData_SectorGetSize},
        {Atomic_GetRegistry(), PLUGIN_RIGHT_TO_RENDER, Atomic_RightsRead, Atomic_RightsWrite, Atomic_RightsGetSize},
        {World_GetRegistry(), PLUGIN_RIGHT_TO_RENDER, World_RightsRead, World_RightsWrite, World_RightsGetSize},
        {WorldSector_GetRegistry(), PLUGIN_RIGHT_TO_RENDER, WorldSector_RightsRead, WorldSector_RightsWrite,
         WorldSector_RightsGetSize},
        {Material_GetRegistry(), PLUGIN_RIGHT_TO_RENDER, Material_RightsRead, Material_RightsWrite,
         Material_RightsGetSize},
    };
    for (const auto& e : streams)
        if (PluginRegistry_AddPlugin(e.registry, 0, e.id, nullptr, nullptr, nullptr) < 0 ||
            PluginRegistry_AddPluginStream(e.registry, e.id, e.read, e.write, e.size) < 0)
            return 0;
    return 1;
}

World* World_AddAtomic(World* world, Atomic* atomic)
{
    if (Frame* frame = Atomic_GetFrame(atomic)) Frame_MarkDirty(frame);
    SetAtomicWorld(atomic, world);
    return world;
}

World* World_RemoveAtomic(World* world, Atomic* atomic)
{
    if (atomic->instanceData) ResourceArena_FreeEntry(atomic->instanceData);
    WorldTies_UntieAtomic(atomic);
    SetAtomicWorld(atomic, nullptr);
    return world;
}

World* Atomic_GetWorld(const Atomic* atomic) { return sAtomicOffset >= 0 ? Ext(atomic)->world : nullptr; }

World* World_AddLight(World* world, Light* light)
{
    if (Ext(light)->world) WorldTies_DetachLight(light);
    Ext(light)->world = world;
    const bool positional = Light_GetType(light) >= LIGHT_POSITIONAL_FIRST;
    if (positional) {
        if (Frame* frame = Light_GetFrame(light)) Frame_MarkDirty(frame);
    }
    EngineLink_InsertHead(positional ? &world->localLights : &world->globalLights, &light->inWorld);
    return world;
}

World* World_RemoveLight(World* world, Light* light)
{
    WorldTies_DetachLight(light);
    return world;
}

World* Light_GetWorld(const Light* light) { return sLightOffset >= 0 ? Ext(light)->world : nullptr; }

World* World_AddCamera(World* world, Camera* camera)
{
    if (Frame* frame = Camera_GetFrame(camera)) Frame_MarkDirty(frame);
    SetCameraWorld(camera, world);
    return world;
}

World* World_RemoveCamera(World* world, Camera* camera)
{
    CameraExt* ext = Ext(camera);
    if (!ext->world) return nullptr;
    Engine_Free(ext->leaves);
    ext->leaves = nullptr;
    ext->capacity = ext->count = 0;
    SetCameraWorld(camera, nullptr);
    return world;
}

World* Camera_GetWorld(const Camera* camera) { return sCameraOffset >= 0 ? Ext(camera)->world : nullptr; }

World* World_AddClump(World* world, Clump* clump)
{
    EngineLink_InsertHead(&world->clumpList, &clump->inWorldLink);
    world->numClumps++;
    Ext(clump)->world = world;
    for (EngineLink* l = clump->atomics.next; l != &clump->atomics; l = l->next)
        World_AddAtomic(world, (Atomic*)((char*)l - offsetof(Atomic, inClumpLink)));
    Clump_ForAllLights(
        clump, [](Light* light, void* w) { return World_AddLight((World*)w, light) ? light : nullptr; }, world);
    Clump_ForAllCameras(
        clump, [](Camera* camera, void* w) { return World_AddCamera((World*)w, camera) ? camera : nullptr; }, world);
    if (Frame* frame = (Frame*)clump->header.parent) {
        MatrixTolerance none = {0, 0, 0};
        Matrix_RecomputeFlags(&frame->modelling, &none);
        Frame_MarkDirty(frame);
    }
    Ext(clump)->word = Globals()->clumpWord;
    return world;
}

World* Clump_GetWorld(const Clump* clump) { return sClumpOffset >= 0 ? Ext(clump)->world : nullptr; }

WorldSector** Camera_GetVisibleSectors(const Camera* camera, int32_t* count)
{
    const CameraExt* ext = Ext(camera);
    if (count) *count = ext->count;
    return ext->leaves;
}

int32_t WorldTies_AtomicTiesInUse(void) { return sAtomicTiesInUse; }
int32_t WorldTies_LightTiesInUse(void) { return sLightTiesInUse; }

void WorldTies_UntieAtomic(Atomic* atomic)
{
    if (sEngineOffset >= 0 && Globals()->atomicTies)
        Untie(&atomic->sectorTies, Globals()->atomicTies, &sAtomicTiesInUse);
}

void WorldTies_UntieLight(Light* light)
{
    if (sEngineOffset >= 0 && Globals()->lightTies) Untie(&light->sectorTies, Globals()->lightTies, &sLightTiesInUse);
}

void WorldTies_UntieSector(WorldSector* sector)
{
    if (sEngineOffset < 0 || !Globals()->atomicTies) return;
    TieGlobals* g = Globals();
    const struct {
        EngineLink* head;
        FreeList* list;
        int32_t* inUse;
    } lists[] = {{&sector->collAtomics, g->atomicTies, &sAtomicTiesInUse},
                 {&sector->atomics, g->atomicTies, &sAtomicTiesInUse},
                 {&sector->lights, g->lightTies, &sLightTiesInUse}};
    for (const auto& l : lists)
        while (!EngineLink_Empty(l.head)) {
            SectorTie* tie = SectorTie_FromSectorLink(l.head->next);
            EngineLink_Remove(&tie->inSector);
            EngineLink_Remove(&tie->inObject);
            FreeList_Free(l.list, tie);
            (*l.inUse)--;
        }
}

void WorldTies_DetachLight(Light* light)
{
    WorldTies_UntieLight(light);
    if (light->inWorld.next) {
        EngineLink_Remove(&light->inWorld);
        light->inWorld.next = light->inWorld.prev = nullptr;
    }
    if (sLightOffset >= 0) Ext(light)->world = nullptr;
}

void WorldTies_DetachWorld(World* world)
{
    if (Open()) {
        TieGlobals* g = Globals();
        for (EngineLink* l = g->atomics.next; l != &g->atomics;) {
            AtomicExt* ext = (AtomicExt*)((char*)l - offsetof(AtomicExt, inWorld));
            l = l->next;
            if (ext->world != world) continue;
            Atomic* atomic = (Atomic*)((char*)ext - sAtomicOffset);
            WorldTies_UntieAtomic(atomic);
            SetAtomicWorld(atomic, nullptr);
        }
        for (EngineLink* l = g->cameras.next; l != &g->cameras;) {
            CameraExt* ext = (CameraExt*)((char*)l - offsetof(CameraExt, inWorld));
            l = l->next;
            if (ext->world == world) World_RemoveCamera(world, (Camera*)((char*)ext - sCameraOffset));
        }
    }
    while (!EngineLink_Empty(&world->clumpList)) {
        Clump* clump = (Clump*)((char*)world->clumpList.next - offsetof(Clump, inWorldLink));
        EngineLink_Remove(&clump->inWorldLink);
        clump->inWorldLink.next = clump->inWorldLink.prev = nullptr;
        if (sClumpOffset >= 0) Ext(clump)->world = nullptr;
    }
    world->numClumps = 0;
    for (EngineLink* head : {&world->localLights, &world->globalLights})
        while (!EngineLink_Empty(head)) WorldTies_DetachLight((Light*)((char*)head->next - offsetof(Light, inWorld)));
    if (Engine_Instance()->currentWorld == world) Engine_Instance()->currentWorld = nullptr;
}
