#include "gfx/world/atomic.h"

#include <algorithm>
#include <cstring>

#include "gfx/core/arena.h"
#include "gfx/core/camera.h"
#include "gfx/core/freelist.h"
#include "gfx/core/matrix.h"
#include "gfx/core/pipeline.h"
#include "gfx/core/vector.h"
#include "gfx/world/light.h"
#include "gfx/world/pipelines.h"
#include "gfx/world/worldinternal.h"
#include "gfx/world/worldties.h"

using namespace worldinternal;

namespace {

constexpr uint32_t kStructSize = 16;
constexpr uint8_t kClumpType = 2;

struct AtomicGlobals {
    FreeList* atomics;
    FreeList* clumps;
};

PluginRegistry sRegistry = PLUGIN_REGISTRY_INIT(sizeof(Atomic));
PluginRegistry sClumpRegistry = PLUGIN_REGISTRY_INIT(sizeof(Clump));
int32_t sOffset = -1;
int32_t sLightLinkOffset = -1;
int32_t sCameraLinkOffset = -1;
RightsSlots sRights;

AtomicGlobals* Globals(void) { return (AtomicGlobals*)Engine_ModuleGlobals(sOffset); }

Atomic* AtomicOfClumpLink(EngineLink* l) { return (Atomic*)((char*)l - offsetof(Atomic, inClumpLink)); }
template <typename T>
T* OwnerOfLink(EngineLink* l, int32_t offset)
{
    return (T*)((char*)l - offsetof(ClumpLink, link) - offset);
}

void FlagFrameDirtyInWorld(Atomic* atomic)
{
    Frame* frame = Atomic_GetFrame(atomic);
    if (frame && Atomic_GetWorld(atomic)) Frame_MarkDirty(frame);
}

void* ConstructClumpLink(void* object, int32_t offset, int32_t)
{
    ClumpLink* link = (ClumpLink*)((char*)object + offset);
    link->clump = nullptr;
    link->link.next = link->link.prev = nullptr;
    return object;
}

void* DestructClumpLink(void* object, int32_t offset, int32_t)
{
    ClumpLink* link = (ClumpLink*)((char*)object + offset);
    if (link->link.next) EngineLink_Remove(&link->link);
    link->link.next = link->link.prev = nullptr;
    link->clump = nullptr;
    return object;
}

void* CopyClumpLink(void* dst, const void*, int32_t offset, int32_t size)
{
    return ConstructClumpLink(dst, offset, size);
}

// An atomic's own destruction apart from giving the record back.
void Teardown(Atomic* atomic)
{
    const bool inWorld = Atomic_GetWorld(atomic) != nullptr;
    Frame* frame = Atomic_GetFrame(atomic);
    PluginRegistry_RunDestructors(&sRegistry, atomic);
    if (atomic->instanceData) ResourceArena_FreeEntry(atomic->instanceData);
    if (atomic->geometry) Geometry_Destroy(atomic->geometry);
    atomic->geometry = nullptr;
    if (frame && inWorld) Frame_MarkDirty(frame);
    if (atomic->clump) EngineLink_Remove(&atomic->inClumpLink);
    atomic->clump = nullptr;
    FrameObject_ReleaseFrame(&atomic->object);
}

}  // namespace

Atomic* Atomic_Create(void)
{
    if (sOffset < 0 || !Globals()->atomics) return nullptr;
    Atomic* a = (Atomic*)FreeList_Alloc(Globals()->atomics);
    if (!a) {
        RaiseError(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    memset(a, 0, (size_t)sRegistry.size);
    a->object.header.type = FRAMEOBJECT_ATOMIC;
    a->object.header.flags = ATOMIC_COLLISION_TEST | ATOMIC_RENDER;
    a->object.header.privateFlags = ATOMIC_WORLD_SPHERE_DIRTY;
    EngineLink_Init(&a->object.inFrame);
    a->object.sync = Atomic_SyncCallback;
    EngineLink_Init(&a->inClumpLink);
    a->renderCallback = Atomic_DefaultRenderCallback;
    a->interpolator = Interpolator{INTERPOLATOR_DIRTY_INSTANCE | INTERPOLATOR_DIRTY_SPHERE, 0, 0, 1.0f, 1.0f, 0.0f};
    EngineLink_Init(&a->sectorTies);
    PluginRegistry_RunConstructors(&sRegistry, a);
    return a;
}

int32_t Atomic_Destroy(Atomic* atomic)
{
    HELM_ASSERT(atomic);
    Teardown(atomic);
    FreeList_Free(Globals()->atomics, atomic);
    return 1;
}

Atomic* Atomic_SetGeometry(Atomic* atomic, Geometry* geometry, uint32_t flags)
{
    if (atomic->geometry == geometry) return atomic;
    if (geometry) Geometry_AddRef(geometry);
    if (atomic->geometry) Geometry_Destroy(atomic->geometry);
    atomic->geometry = geometry;
    if (flags & ATOMIC_SETGEOMETRY_KEEP_SPHERE) return atomic;
    if (geometry) atomic->boundingSphere = geometry->morphTarget[0].boundingSphere;
    atomic->object.header.privateFlags |= ATOMIC_WORLD_SPHERE_DIRTY;
    FlagFrameDirtyInWorld(atomic);
    return atomic;
}

Atomic* Atomic_SetFrame(Atomic* atomic, Frame* frame)
{
    FrameObject_SetFrame(&atomic->object, frame);
    atomic->object.header.privateFlags |= ATOMIC_WORLD_SPHERE_DIRTY;
    return atomic;
}

void Atomic_InterpolateSphere(Atomic* atomic)
{
    const Geometry* g = atomic->geometry;
    if (!g) return;
    const Interpolator& in = atomic->interpolator;
    const int32_t s = in.startMorphTarget, e = in.endMorphTarget, n = g->numMorphTargets;
    const bool valid = s >= 0 && e >= 0 && s < n && e < n;
    if (s == e || !valid) {
        atomic->boundingSphere = g->morphTarget[valid ? s : 0].boundingSphere;
    } else {
        const Sphere& a = g->morphTarget[s].boundingSphere;
        const Sphere& b = g->morphTarget[e].boundingSphere;
        const float t = in.position * in.recipTime;
        atomic->boundingSphere.radius = a.radius + (b.radius - a.radius) * t;
        atomic->boundingSphere.center.x = a.center.x + (b.center.x - a.center.x) * t;
        atomic->boundingSphere.center.y = a.center.y + (b.center.y - a.center.y) * t;
        atomic->boundingSphere.center.z = a.center.z + (b.center.z - a.center.z) * t;
    }
    atomic->interpolator.flags &= ~INTERPOLATOR_DIRTY_SPHERE;
    atomic->object.header.privateFlags |= ATOMIC_WORLD_SPHERE_DIRTY;
}

const Sphere* Atomic_GetWorldBoundingSphere(Atomic* atomic)
{
    if (atomic->interpolator.flags & INTERPOLATOR_DIRTY_SPHERE) Atomic_InterpolateSphere(atomic);
    Frame* frame = Atomic_GetFrame(atomic);
    if (!frame) {
        atomic->worldBoundingSphere = atomic->boundingSphere;
        atomic->object.header.privateFlags &= ~ATOMIC_WORLD_SPHERE_DIRTY;
        return &atomic->worldBoundingSphere;
    }
    if (!Frame_IsDirty(frame) && !(atomic->object.header.privateFlags & ATOMIC_WORLD_SPHERE_DIRTY))
        return &atomic->worldBoundingSphere;
    const Matrix* m = Frame_GetWorldMatrix(frame);
    Vector3_TransformPoints(&atomic->worldBoundingSphere.center, &atomic->boundingSphere.center, 1, m);
    float radius = atomic->boundingSphere.radius;
    if ((m->flags & MATRIX_ORTHONORMAL) != MATRIX_ORTHONORMAL) {
        const float longest = std::max({Vec3_LengthSq(&m->right), Vec3_LengthSq(&m->up), Vec3_LengthSq(&m->at)});
        radius *= Math_SqrtTable(longest);
    }
    atomic->worldBoundingSphere.radius = radius;
    atomic->object.header.privateFlags &= ~ATOMIC_WORLD_SPHERE_DIRTY;
    return &atomic->worldBoundingSphere;
}

Atomic* Atomic_SetMorphBlend(Atomic* atomic, int16_t start, int16_t end, float position, float time)
{
    HELM_ASSERT(time > 0);
    Interpolator& in = atomic->interpolator;
    in.startMorphTarget = start;
    in.endMorphTarget = end;
    in.position = position;
    in.time = time;
    in.recipTime = 1.0f / time;
    in.flags |= INTERPOLATOR_DIRTY_INSTANCE | INTERPOLATOR_DIRTY_SPHERE;
    atomic->object.header.privateFlags |= ATOMIC_WORLD_SPHERE_DIRTY;
    FlagFrameDirtyInWorld(atomic);
    return atomic;
}

Atomic* Atomic_DefaultRenderCallback(Atomic* atomic)
{
    Pipeline* pipeline = Atomic_GetRenderPipeline(atomic);
    if (!pipeline || !Pipeline_Execute(pipeline, atomic, 1)) return nullptr;
    return atomic;
}

FrameLinkedObject* Atomic_SyncCallback(FrameLinkedObject* object)
{
    Atomic* atomic = (Atomic*)object;
    if (atomic->interpolator.flags & INTERPOLATOR_DIRTY_SPHERE) Atomic_InterpolateSphere(atomic);
    atomic->object.header.privateFlags |= ATOMIC_WORLD_SPHERE_DIRTY;
    return object;
}

int32_t Atomic_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                              PluginDestructor destructor, PluginCopy copy)
{
    return PluginRegistry_AddPlugin(&sRegistry, size, pluginId, constructor, destructor, copy);
}

int32_t Atomic_RegisterPluginStream(uint32_t pluginId, PluginStreamRead read, PluginStreamWrite write,
                                    PluginStreamGetSize getSize)
{
    return PluginRegistry_AddPluginStream(&sRegistry, pluginId, read, write, getSize);
}

int32_t Atomic_SetStreamAlwaysCallback(uint32_t pluginId, PluginStreamAlways callback)
{
    return PluginRegistry_SetStreamAlwaysCallback(&sRegistry, pluginId, callback);
}

int32_t Atomic_SetStreamRightsCallback(uint32_t pluginId, PluginStreamRights callback)
{
    return PluginRegistry_SetStreamRightsCallback(&sRegistry, pluginId, callback);
}

int32_t Atomic_GetPluginOffset(uint32_t pluginId) { return PluginRegistry_GetPluginOffset(&sRegistry, pluginId); }
PluginRegistry* Atomic_GetRegistry(void) { return &sRegistry; }

// ---- atomic chunk ----

int32_t Atomic_StreamGetSize(const Atomic* atomic)
{
    int32_t size = (int32_t)(CHUNK_HEADER_SIZE + kStructSize);
    if (atomic->geometry) size += (int32_t)CHUNK_HEADER_SIZE + Geometry_StreamGetSize(atomic->geometry);
    return size + (int32_t)CHUNK_HEADER_SIZE + PluginRegistry_StreamGetExtensionsSize(&sRegistry, atomic);
}

const Atomic* Atomic_StreamWrite(const Atomic* atomic, Stream* stream)
{
    int32_t record[4] = {0, 0, atomic->object.header.flags, 0};
    if (!Stream_WriteChunkHeaderDefault(stream, CHUNK_ATOMIC, (uint32_t)Atomic_StreamGetSize(atomic)) ||
        !Stream_WriteChunkHeaderDefault(stream, CHUNK_STRUCT, kStructSize) || !Stream_WriteInt32(stream, record, 16))
        return nullptr;
    if (atomic->geometry && !Geometry_StreamWrite(atomic->geometry, stream)) return nullptr;
    return PluginRegistry_StreamWriteExtensions(&sRegistry, stream, atomic) ? atomic : nullptr;
}

Atomic* Atomic_StreamRead(Stream* stream)
{
    const FrameList frames = {nullptr, 0};
    const GeometryList geometries = {nullptr, 0};
    return Atomic_StreamReadWithContext(stream, &frames, &geometries);
}

Atomic* Atomic_StreamReadWithContext(Stream* stream, const FrameList* frames, const GeometryList* geometries)
{
    uint32_t length = 0, version = 0;
    uint8_t record[kStructSize];
    if (!Stream_FindChunk(stream, CHUNK_STRUCT, &length, &version)) {
        RaiseError(ERR_SHORT_READ);
        return nullptr;
    }
    if (length < kStructSize) {
        RaiseError(ERR_SHORT_READ);
        return nullptr;
    }
    if (!ReadStruct(stream, length, record, kStructSize)) {
        RaiseError(ERR_SHORT_READ);
        return nullptr;
    }
    const int32_t frameIndex = (int32_t)Bytes_LoadU32(record), geometryIndex = (int32_t)Bytes_LoadU32(record + 4);
    const bool haveFrames = frames && frames->count > 0, haveGeometries = geometries && geometries->count > 0;
    if ((haveFrames && (frameIndex < 0 || frameIndex >= frames->count)) ||
        (haveGeometries && (geometryIndex < 0 || geometryIndex >= geometries->count))) {
        RaiseError(WORLD_ERR_BAD_DATA);
        return nullptr;
    }
    Atomic* atomic = Atomic_Create();
    if (!atomic) return nullptr;
    atomic->object.header.flags = record[8];
    if (haveFrames) {
        Atomic_SetFrame(atomic, frames->frames[frameIndex]);
        atomic->object.header.privateFlags |= ATOMIC_WORLD_SPHERE_DIRTY;
    }
    if (!haveGeometries) {
        uint32_t geometryLength = 0, geometryVersion = 0;
        Geometry* geometry = nullptr;
        if (!Stream_FindChunk(stream, CHUNK_GEOMETRY, &geometryLength, &geometryVersion)) {
            RaiseError(ERR_SHORT_READ);
        } else {
            geometry = Geometry_StreamRead(stream);
        }
        if (!geometry) {
            Atomic_Destroy(atomic);
            return nullptr;
        }
        Atomic_SetGeometry(atomic, geometry, 0);
        Geometry_Destroy(geometry);
    } else {
        Atomic_SetGeometry(atomic, geometries->geometries[geometryIndex], 0);
    }
    sRights = RightsSlots{};
    if (!PluginRegistry_StreamReadExtensions(&sRegistry, stream, atomic)) {
        RaiseError(ERR_SHORT_READ);
        Atomic_Destroy(atomic);
        return nullptr;
    }
    if (sRights.pluginId) PluginRegistry_CallRightsCallback(&sRegistry, sRights.pluginId, atomic, sRights.extraData);
    return atomic;
}

int32_t Atomic_RightsGetSize(const void* atomic, int32_t, int32_t)
{
    return RightsSize(((const Atomic*)atomic)->pipeline);
}

Stream* Atomic_RightsWrite(Stream* stream, int32_t, const void* atomic, int32_t, int32_t)
{
    return RightsWrite(stream, ((const Atomic*)atomic)->pipeline);
}

Stream* Atomic_RightsRead(Stream* stream, int32_t length, void*, int32_t, int32_t)
{
    return RightsRead(stream, length, &sRights);
}

// ---- clumps ----

Clump* Clump_Create(void)
{
    if (sOffset < 0 || !Globals()->clumps) return nullptr;
    Clump* c = (Clump*)FreeList_Alloc(Globals()->clumps);
    if (!c) {
        RaiseError(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    memset(c, 0, (size_t)sClumpRegistry.size);
    c->header.type = kClumpType;
    EngineLink_Init(&c->atomics);
    EngineLink_Init(&c->lights);
    EngineLink_Init(&c->cameras);
    c->inWorldLink.next = c->inWorldLink.prev = nullptr;
    PluginRegistry_RunConstructors(&sClumpRegistry, c);
    return c;
}

int32_t Clump_Destroy(Clump* clump)
{
    PluginRegistry_RunDestructors(&sClumpRegistry, clump);
    while (!EngineLink_Empty(&clump->atomics)) {
        Atomic* atomic = AtomicOfClumpLink(clump->atomics.next);
        Teardown(atomic);
        FreeList_Free(Globals()->atomics, atomic);
    }
    while (!EngineLink_Empty(&clump->lights)) {
        Light* light = OwnerOfLink<Light>(clump->lights.next, sLightLinkOffset);
        DestructClumpLink(light, sLightLinkOffset, 0);
        Light_Destroy(light);
    }
    while (!EngineLink_Empty(&clump->cameras)) {
        Camera* camera = OwnerOfLink<Camera>(clump->cameras.next, sCameraLinkOffset);
        DestructClumpLink(camera, sCameraLinkOffset, 0);
        Camera_Destroy(camera);
    }
    if (clump->inWorldLink.next) EngineLink_Remove(&clump->inWorldLink);
    Frame* frame = (Frame*)clump->header.parent;
    if (frame) Frame_DestroyHierarchy(frame);
    FreeList_Free(Globals()->clumps, clump);
    return 1;
}

Clump* Clump_AddAtomic(Clump* clump, Atomic* atomic)
{
    if (atomic->clump) EngineLink_Remove(&atomic->inClumpLink);
    EngineLink_InsertHead(&clump->atomics, &atomic->inClumpLink);
    atomic->clump = clump;
    return clump;
}

Clump* Clump_AddLight(Clump* clump, Light* light)
{
    ClumpLink* link = Clump_LightLink(light);
    if (link->link.next) EngineLink_Remove(&link->link);
    EngineLink_InsertHead(&clump->lights, &link->link);
    link->clump = clump;
    return clump;
}

Clump* Clump_AddCamera(Clump* clump, Camera* camera)
{
    ClumpLink* link = Clump_CameraLink(camera);
    if (link->link.next) EngineLink_Remove(&link->link);
    EngineLink_InsertHead(&clump->cameras, &link->link);
    link->clump = clump;
    return clump;
}

Clump* Clump_ForAllAtomics(Clump* clump, AtomicCallback callback, void* data)
{
    for (EngineLink *l = clump->atomics.next, *next; l != &clump->atomics; l = next) {
        next = l->next;
        if (!callback(AtomicOfClumpLink(l), data)) break;
    }
    return clump;
}

Clump* Clump_ForAllLights(Clump* clump, LightCallback callback, void* data)
{
    for (EngineLink *l = clump->lights.next, *next; l != &clump->lights; l = next) {
        next = l->next;
        if (!callback(OwnerOfLink<Light>(l, sLightLinkOffset), data)) break;
    }
    return clump;
}

Clump* Clump_ForAllCameras(Clump* clump, CameraCallback callback, void* data)
{
    for (EngineLink *l = clump->cameras.next, *next; l != &clump->cameras; l = next) {
        next = l->next;
        if (!callback(OwnerOfLink<Camera>(l, sCameraLinkOffset), data)) break;
    }
    return clump;
}

int32_t Clump_RegisterPlugin(int32_t size, uint32_t pluginId, PluginConstructor constructor,
                             PluginDestructor destructor, PluginCopy copy)
{
    return PluginRegistry_AddPlugin(&sClumpRegistry, size, pluginId, constructor, destructor, copy);
}

ClumpLink* Clump_LightLink(Light* light) { return (ClumpLink*)((char*)light + sLightLinkOffset); }
ClumpLink* Clump_CameraLink(Camera* camera) { return (ClumpLink*)((char*)camera + sCameraLinkOffset); }

int32_t Clump_RegisterExtensions(void)
{
    sLightLinkOffset = Light_RegisterPlugin((int32_t)sizeof(ClumpLink), PLUGIN_CLUMP_LINK, ConstructClumpLink,
                                            DestructClumpLink, CopyClumpLink);
    sCameraLinkOffset = Camera_RegisterPlugin((int32_t)sizeof(ClumpLink), PLUGIN_CLUMP_LINK, ConstructClumpLink,
                                              DestructClumpLink, CopyClumpLink);
    return sLightLinkOffset >= 0 && sCameraLinkOffset >= 0 ? 1 : 0;
}

// ---- module ----

void* Atomic_ModuleOpen(void* instance, int32_t offset, int32_t)
{
    sOffset = offset;
    AtomicGlobals* g = Globals();
    g->atomics = FreeList_CreateEx(sRegistry.size, 128, 16, 1, nullptr);
    g->clumps = FreeList_CreateEx(sClumpRegistry.size, 128, 16, 1, nullptr);
    if (!g->atomics || !g->clumps) {
        if (g->atomics) FreeList_Destroy(g->atomics);
        if (g->clumps) FreeList_Destroy(g->clumps);
        g->atomics = g->clumps = nullptr;
        return nullptr;
    }
    return instance;
}

void* Atomic_ModuleClose(void* instance, int32_t, int32_t)
{
    AtomicGlobals* g = Globals();
    if (g->clumps) {
        FreeList_ForAllUsed(
            g->clumps, [](void* clump, void*) { Clump_Destroy((Clump*)clump); }, nullptr);
        FreeList_Destroy(g->clumps);
    }
    if (g->atomics) {
        FreeList_ForAllUsed(
            g->atomics, [](void* atomic, void*) { Atomic_Destroy((Atomic*)atomic); }, nullptr);
        FreeList_Destroy(g->atomics);
    }
    g->atomics = g->clumps = nullptr;
    return instance;
}

int32_t worldinternal::AtomicModule_GlobalsSize(void) { return (int32_t)sizeof(AtomicGlobals); }
