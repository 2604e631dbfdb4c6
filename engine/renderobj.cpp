#include "engine/renderobj.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "app/input.h"
#include "app/namecache.h"
#include "common/assert.h"
#include "common/list.h"
#include "common/memory.h"
#include "engine/materialanim.h"
#include "engine/mesh.h"
#include "engine/node.h"
#include "engine/view.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/renderstate.h"
#include "gfx/core/texture.h"
#include "gfx/plugin/collision/collision.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "gfx/world/atomic.h"
#include "gfx/world/material.h"
#include "gfx/world/worldties.h"

namespace {

// Blend factors of the graphics engine's render states 10 and 11.
enum : uint32_t { BLEND_ZERO = 1, BLEND_ONE = 2, BLEND_INVSRCCOLOR = 4, BLEND_SRCALPHA = 5, BLEND_INVSRCALPHA = 6 };

struct Plane {
    Vec3 point;
    Vec3 normal;  // towards the inside of the frustum
};

struct QueueEntry {
    RenderObj* object;
    Node* node;
    float depth;
};

struct RenderObjModule {
    List* pool;
    NameCache* cache;
    Frame* drawFrame;       // shared by the objects without a frame of their own, one draw at a time
    Frame* referenceFrame;  // follows the reference node
    Node* referenceNode;
    int32_t materialOffset; // of the material extension; -1 before it is registered
    Vec3 corners[8];
    Vec3 centre;
    Plane planes[6];
    float distanceScale;
    QueueEntry queue[RENDEROBJ_QUEUE_SIZE];
    uint32_t queued;
    FuncSlotFn* raySlot;
};

RenderObjModule g_ro = {nullptr, nullptr, nullptr, nullptr, nullptr, -1, {}, {}, {}, 0.0f, {}, 0, nullptr};

char** NameSlot(const Material* material)
{
    HELM_ASSERT(g_ro.materialOffset >= 0);
    return (char**)((uint8_t*)material + g_ro.materialOffset);
}

void* ConstructName(void* object, int32_t offset, int32_t)
{
    *(char**)((uint8_t*)object + offset) = nullptr;
    return object;
}

void* DestroyName(void* object, int32_t offset, int32_t)
{
    char** slot = (char**)((uint8_t*)object + offset);
    Mem_Free(*slot);
    *slot = nullptr;
    return object;
}

void* CopyName(void* dst, const void* src, int32_t offset, int32_t)
{
    const char* name = *(char* const*)((const uint8_t*)src + offset);
    *(char**)((uint8_t*)dst + offset) = name ? String_Dup(name) : nullptr;
    return dst;
}

void SetState(int32_t state, uint32_t value) { RenderState_Set(state, (void*)(uintptr_t)value); }

// Puts the node's world matrix on the object's frame, or on the shared draw
// frame attached for this draw.
void PlaceFrame(RenderObj* o, Node* node)
{
    Frame* frame = o->frame ? o->frame : g_ro.drawFrame;
    Node_GetWorldFrameMatrix(node, &frame->modelling);
    Frame_MarkDirty(frame);
    if (!o->frame) Atomic_SetFrame(o->atomic, frame);
    Frame_GetWorldMatrix(frame);
}

void DetachFrame(RenderObj* o)
{
    if (!o->frame) Atomic_SetFrame(o->atomic, nullptr);
}

struct Fade {
    float alpha;
    uint32_t blendFlags;
};

Material* FadeMaterial(Material* m, void* data)
{
    const Fade* f = (const Fade*)data;
    const int value = (int)(f->alpha * 255.0f);
    const uint8_t byte = (uint8_t)(value < 0 ? 0 : value > 255 ? 255 : value);
    const uint8_t alpha = byte > 254 ? 254 : byte;
    if (f->blendFlags & (RENDEROBJ_BLEND_ADD | RENDEROBJ_BLEND_MULTIPLY)) {
        m->colour[0] = m->colour[1] = m->colour[2] = byte;
        m->colour[3] = alpha;
    } else if (f->blendFlags & RENDEROBJ_BLEND_ALPHA) {
        m->colour[3] = alpha;
    }
    return m;
}

// The effective alpha goes to the materials only when it changed; an
// invisible object is not drawn.
void DrawWithAlpha(RenderObj* o, Node* node)
{
    const float a = node->alpha * (1.0f / 255.0f) * o->alpha * o->fade;
    if ((o->state & RENDEROBJ_INVISIBLE) && a == o->lastAlpha) return;
    if (a != o->lastAlpha) {
        Fade fade = {a, o->blendFlags};
        Geometry* g = Atomic_GetGeometry(o->atomic);
        if (g && (o->blendFlags & (RENDEROBJ_BLEND_ADD | RENDEROBJ_BLEND_MULTIPLY | RENDEROBJ_BLEND_ALPHA)))
            Geometry_ForAllMaterials(g, FadeMaterial, &fade);
        o->state = (o->state & ~(RENDEROBJ_TRANSPARENT | RENDEROBJ_INVISIBLE)) |
                   (a < 1.0f ? RENDEROBJ_TRANSPARENT : 0u) | ((int)(a * 255.0f) == 0 ? RENDEROBJ_INVISIBLE : 0u);
        o->lastAlpha = a;
    }
    if (o->state & RENDEROBJ_INVISIBLE) return;
    Atomic_Render(o->atomic);
}

Material* DropTexture(Material* m, void*)
{
    Material_SetTexture(m, nullptr);
    return m;
}

Material* DropName(Material* m, void*)
{
    RenderObj_SetMaterialName(m, nullptr);
    return m;
}

void Free(RenderObj* o)
{
    Mem_Free(o->name);
    for (TexSeq* seq = o->sequences; seq;) {
        TexSeq* next = seq->next;
        TexSeq_Destroy(seq);
        seq = next;
    }
    Geometry* g = o->atomic ? Atomic_GetGeometry(o->atomic) : nullptr;
    if (g) {
        if (!o->sharesTextures) Geometry_ForAllMaterials(g, DropTexture, nullptr);
        if (g_ro.materialOffset >= 0) Geometry_ForAllMaterials(g, DropName, nullptr);
    }
    for (uint32_t i = 0; i < o->envCount; i++) Texture_Destroy(o->envTextures[i]);
    if (o->atomic) {
        if (World* world = Atomic_GetWorld(o->atomic)) World_RemoveAtomic(world, o->atomic);
        Atomic_SetFrame(o->atomic, nullptr);
        Atomic_Destroy(o->atomic);
    }
    if (o->frame) Frame_Destroy(o->frame);
    if (o->dictionary) {
        if (TextureDictionary_GetCurrent() == o->dictionary) TextureDictionary_SetCurrent(nullptr);
        TextureDictionary_Destroy(o->dictionary);
    }
    Mem_Free(o->extra);
    List_Free(g_ro.pool, o);
}

int FreeEach(void* item, void*)
{
    Free((RenderObj*)item);
    return 0;
}

Vec3 Sub(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

}  // namespace

int RenderObj_Init(void)
{
    if (g_ro.pool) return 1;
    g_ro.pool = List_Create(sizeof(RenderObj), 16);
    g_ro.cache = NameCache_Create();
    g_ro.drawFrame = Frame_Create();
    g_ro.referenceFrame = Frame_Create();
    g_ro.queued = 0;
    g_ro.distanceScale = 0.0f;
    if (!g_ro.raySlot) g_ro.raySlot = FuncSlot_Add((FuncSlotFn)RenderObj_RayTest);
    if (g_ro.pool && g_ro.cache && g_ro.drawFrame && g_ro.referenceFrame && MaterialAnim_Init() && Mesh_Init()) return 1;
    RenderObj_Shutdown();
    return 0;
}

void RenderObj_Shutdown(void)
{
    if (g_ro.pool) RenderObj_DestroyAll();
    Mesh_Shutdown();
    MaterialAnim_Shutdown();
    List_Destroy(g_ro.pool);
    NameCache_Destroy(g_ro.cache);
    if (g_ro.drawFrame) Frame_Destroy(g_ro.drawFrame);
    if (g_ro.referenceFrame) Frame_Destroy(g_ro.referenceFrame);
    g_ro.pool = nullptr;
    g_ro.cache = nullptr;
    g_ro.drawFrame = g_ro.referenceFrame = nullptr;
    g_ro.referenceNode = nullptr;
    g_ro.queued = 0;
}

void RenderObj_DestroyAll(void)
{
    List_ForEach(g_ro.pool, FreeEach, nullptr);
    // Every entry of the registry named an object just freed.
    NameCache_Destroy(g_ro.cache);
    g_ro.cache = NameCache_Create();
    g_ro.queued = 0;
}

List* RenderObj_GetPool(void) { return g_ro.pool; }

NameCache* RenderObj_GetCache(void) { return g_ro.cache; }

int RenderObj_RegisterPlugin(void)
{
    const int32_t offset = Material_RegisterPlugin((int32_t)sizeof(char*), RENDEROBJ_MATERIAL_PLUGIN_ID, ConstructName,
                                                   DestroyName, CopyName);
    if (offset < 0) return 0;
    g_ro.materialOffset = offset;
    return 1;
}

const char* RenderObj_GetMaterialName(const Material* material)
{
    return g_ro.materialOffset >= 0 ? *NameSlot(material) : nullptr;
}

int RenderObj_SetMaterialName(Material* material, const char* name)
{
    if (g_ro.materialOffset < 0) return 0;
    char* copy = nullptr;
    if (name && !(copy = String_Dup(name))) return 0;
    char** slot = NameSlot(material);
    Mem_Free(*slot);
    *slot = copy;
    return 1;
}

RenderObj* RenderObj_Create(Atomic* atomic)
{
    HELM_ASSERT(g_ro.pool && atomic);
    RenderObj* o = (RenderObj*)List_Alloc(g_ro.pool);
    if (!o) return nullptr;
    o->atomic = atomic;
    o->alpha = 1.0f;
    o->fade = 1.0f;
    o->lastAlpha = -1.0f;  // no alpha applied yet: the first draw applies one
    return o;
}

RenderObj* RenderObj_AddRef(RenderObj* object)
{
    NameCache_AddRef(g_ro.cache, object);
    return object;
}

void RenderObj_Release(RenderObj** object)
{
    if (!object || !*object) return;
    RenderObj* o = *object;
    *object = nullptr;
    if (!NameCache_Release(g_ro.cache, o)) return;
    Free(o);
}

int RenderObj_FrustumTest(const Sphere* sphere)
{
    for (const Plane& p : g_ro.planes) {
        const float d = Dot(Sub(sphere->center, p.point), p.normal);
        if (d <= 0.0f && d + sphere->radius <= 0.0f) return 0;
    }
    return 1;
}

int RenderObj_DistanceCull(const Sphere* sphere, Node* cameraNode)
{
    if (!cameraNode) return 0;
    Vec3 eye;
    Node_GetWorldPosition(cameraNode, &eye);
    const Vec3 d = Sub(sphere->center, eye);
    return std::sqrt(Dot(d, d)) > sphere->radius * RENDEROBJ_CULL_DISTANCE;
}

int RenderObj_Render(View* view, Node* cameraNode, RenderObj* o, Node* node)
{
    PlaceFrame(o, node);
    const Sphere* sphere = Atomic_GetWorldBoundingSphere(o->atomic);
    int drawn = 1;
    if (!RenderObj_FrustumTest(sphere)) {
        drawn = 0;
    } else if (o->distanceCull && RenderObj_DistanceCull(sphere, cameraNode)) {
        // Too far to matter: not drawn, but not reported as culled either.
    } else if (!(o->blendFlags & RENDEROBJ_BLENDED) && !(o->state & RENDEROBJ_TRANSPARENT)) {
        RenderObj_SetBlendMode(o->blendFlags);
        DrawWithAlpha(o, node);
    } else {
        RenderObj_QueueTransparent(view, cameraNode, o, node);
    }
    DetachFrame(o);
    return drawn;
}

int RenderObj_QueueTransparent(View* view, Node* cameraNode, RenderObj* object, Node* node)
{
    if (g_ro.queued >= RENDEROBJ_QUEUE_SIZE) return 1;
    Vec3 screen = {0, 0, 0};
    if (view) View_ProjectPoint(view, cameraNode, node, &screen, nullptr);
    g_ro.queue[g_ro.queued++] = QueueEntry{object, node, screen.z};
    return 0;
}

void RenderObj_ResetTransparent(void) { g_ro.queued = 0; }

uint32_t RenderObj_GetQueueCount(void) { return g_ro.queued; }

void RenderObj_FlushTransparent(void)
{
    QueueEntry* q = g_ro.queue;
    std::sort(q, q + g_ro.queued, [](const QueueEntry& a, const QueueEntry& b) { return a.depth > b.depth; });
    for (uint32_t i = 0; i < g_ro.queued; i++) {
        RenderObj* o = q[i].object;
        PlaceFrame(o, q[i].node);
        RenderObj_SetBlendMode(o->blendFlags);
        DrawWithAlpha(o, q[i].node);
        DetachFrame(o);
    }
    g_ro.queued = 0;
}

namespace {

struct RayTest {
    RenderObj* object;
    const Matrix* world;
    Vec3 start, end;
    RenderObjRayHit hit;
    void* data;
    uint32_t count;
};

int32_t RayHit(const GeomCollisionQuery*, const GeomCollisionTriangle* triangle, float fraction, void* arg)
{
    RayTest* t = (RayTest*)arg;
    t->count++;
    if (!t->hit) return 1;
    const Vec3 point = {t->start.x + (t->end.x - t->start.x) * fraction, t->start.y + (t->end.y - t->start.y) * fraction,
                        t->start.z + (t->end.z - t->start.z) * fraction};
    // The normal turned into the world (rotation rows only).
    const Vec3& n = triangle->normal;
    const Matrix* m = t->world;
    Vec3 normal = {n.x * m->right.x + n.y * m->up.x + n.z * m->at.x, n.x * m->right.y + n.y * m->up.y + n.z * m->at.y,
                   n.x * m->right.z + n.y * m->up.z + n.z * m->at.z};
    Vec3_NormaliseTo(&normal, &normal);
    return t->hit(t->object, fraction, &point, &normal, t->data) ? 1 : 0;
}

}  // namespace

uint32_t RenderObj_RayTest(RenderObj* object, Node* node, const Vec3* start, const Vec3* end, RenderObjRayHit hit,
                           void* data)
{
    if (!object || !object->atomic || !node) return 0;
    Frame* frame = Frame_Create();
    if (!frame) return 0;
    Frame* previous = Atomic_GetFrame(object->atomic);
    Node_GetWorldFrameMatrix(node, &frame->modelling);
    Frame_MarkDirty(frame);
    Atomic_SetFrame(object->atomic, frame);
    RayTest test = {object, Frame_GetWorldMatrix(frame), *start, *end, hit, data, 0};
    GeomCollisionQuery query = {};
    query.type = GEOMCOLLISION_LINE;
    query.line.start = *start;
    query.line.end = *end;
    GeomCollision_ForAllGeometryIntersections(object->atomic, &query, RayHit, &test);
    Atomic_SetFrame(object->atomic, previous);
    Frame_Destroy(frame);
    return test.count;
}

void* RenderObj_GetRaySlot(void) { return (void*)g_ro.raySlot; }

void RenderObj_SetFlags(RenderObj* object, uint32_t bits, int on)
{
    object->blendFlags = on ? object->blendFlags | bits : object->blendFlags & ~bits;
}

void RenderObj_SetBlendMode(uint32_t flags)
{
    if (flags & RENDEROBJ_BLENDED) {
        SetState(RS_VERTEXALPHAENABLE, 1);
        if (flags & RENDEROBJ_BLEND_ADD) {
            SetState(RS_SRCBLEND, BLEND_ONE);
            SetState(RS_DESTBLEND, BLEND_ONE);
        } else if (flags & RENDEROBJ_BLEND_MULTIPLY) {
            SetState(RS_SRCBLEND, BLEND_ZERO);
            SetState(RS_DESTBLEND, BLEND_INVSRCCOLOR);
        } else if (flags & RENDEROBJ_BLEND_ALPHA) {
            SetState(RS_SRCBLEND, BLEND_SRCALPHA);
            SetState(RS_DESTBLEND, BLEND_INVSRCALPHA);
        }
    } else {
        SetState(RS_VERTEXALPHAENABLE, 0);
        SetState(RS_SRCBLEND, BLEND_SRCALPHA);
        SetState(RS_DESTBLEND, BLEND_INVSRCALPHA);
    }
    SetState(RS_ZTESTENABLE, (flags & RENDEROBJ_NO_ZTEST) ? 0 : 1);
    SetState(RS_ZWRITEENABLE, (flags & RENDEROBJ_NO_ZWRITE) ? 0 : 1);
    SetState(RS_FOGENABLE, (flags & RENDEROBJ_FOG) ? 1 : 0);
}

void RenderObj_SetAlpha(RenderObj* object, float alpha) { object->alpha = alpha; }

void RenderObj_SetFade(RenderObj* object, float fade) { object->fade = fade; }

void RenderObj_SetDistanceCull(RenderObj* object, int on) { object->distanceCull = on; }

void RenderObj_SetViewFrustum(const View* view)
{
    const Vec3* k = view->camera->frustumCorners;
    Vec3 centre = {0, 0, 0};
    for (int i = 0; i < 8; i++) {
        g_ro.corners[i] = k[i];
        centre = {centre.x + k[i].x, centre.y + k[i].y, centre.z + k[i].z};
    }
    g_ro.centre = {centre.x * 0.125f, centre.y * 0.125f, centre.z * 0.125f};
    // Near, far, then the four sides: three corners of each face. The
    // normal is turned towards the centre, so mirrored views (a positive
    // view-window x) get the same inside as normal ones.
    static const int faces[6][3] = {{0, 1, 2}, {4, 6, 5}, {0, 4, 5}, {1, 5, 6}, {2, 6, 7}, {3, 7, 4}};
    for (int f = 0; f < 6; f++) {
        const Vec3 &a = k[faces[f][0]], &b = k[faces[f][1]], &c = k[faces[f][2]];
        const Vec3 e1 = Sub(b, a), e2 = Sub(c, a);
        Vec3 n = {e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
        const float length = std::sqrt(Dot(n, n));
        if (length > 0.0f) n = {n.x / length, n.y / length, n.z / length};
        if (Dot(Sub(g_ro.centre, a), n) < 0.0f) n = {-n.x, -n.y, -n.z};
        g_ro.planes[f] = Plane{a, n};
    }
    if (g_ro.distanceScale <= 0.0f && g_ro.referenceFrame) {
        const Vec3 r = Frame_GetWorldMatrix(g_ro.referenceFrame)->pos;
        const Vec3 d = Sub(g_ro.centre, r);
        g_ro.distanceScale = std::sqrt(Dot(d, d)) / 3.0f;
    }
}

void RenderObj_SetReferenceNode(Node* node)
{
    g_ro.referenceNode = node;
    if (!node || !g_ro.referenceFrame) return;
    Node_GetWorldFrameMatrix(node, &g_ro.referenceFrame->modelling);
    Frame_MarkDirty(g_ro.referenceFrame);
}

Frame* RenderObj_GetReferenceFrame(void) { return g_ro.referenceFrame; }

float RenderObj_GetDistanceScale(void) { return g_ro.distanceScale; }

void RenderObj_SetDistanceScale(float scale) { g_ro.distanceScale = scale; }
