// Object world and objects: creation from a description, instancing from a
// template, the per-frame update with its damping and ground shadow, sync
// with the physics world and destruction by ownership.
//
// Visual and body are chosen from the description's texts, case ignored:
//   VisualModel: empty or "NOVISUAL" none; ".lwo" a mesh (with levels of
//   detail "<stem>_LOD<i>.lwo"); ".lws" a scene under a node of its own
//   (levels of detail "<stem>_LOD<i>.lws"); anything else names an
//   animation set ("<text>ANIM" in the cache).
//   PhysicalModel: "SPHERE<r>" a sphere of radius r; ".lwo" a body from the
//   model (its shape file first); anything else ("NOCOLLISION") none.
//
// The ground shadow is an oriented quad laid where a ray straight down from
// the node meets the pickable world; the ray is cast again only when the
// node has moved, and nothing is drawn before a placement exists.
#include "engine/objectworld.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/namecache.h"
#include "common/hash.h"
#include "common/list.h"
#include "common/memory.h"
#include "common/strings.h"
#include "engine/animset.h"
#include "engine/billboard.h"
#include "engine/joints.h"
#include "engine/mesh.h"
#include "engine/node.h"
#include "engine/objectscene.h"
#include "engine/objecttemplate.h"
#include "engine/physbody.h"
#include "engine/physray.h"
#include "engine/physshape.h"
#include "engine/physworld.h"
#include "engine/renderobj.h"
#include "engine/scene.h"
#include "engine/sceneplay.h"
#include "engine/sprite3d.h"

namespace {

constexpr float kShadowRayLength = 2000.0f;
constexpr float kShadowLiftOnHit = 0.05f;
constexpr float kShadowLiftOnMiss = 0.2f;
constexpr uint32_t kShadowBlendMode = 1;  // subtractive
constexpr uint32_t kShadowCast = 1;       // shadowState: a ray was cast
constexpr uint32_t kShadowPlaced = 2;     // shadowState: a placement exists

struct ObjectWorld {
    List* pools[OBJECT_POOL_SLOTS];
    uint32_t destroyedFlag;  // cleared before each Update callback, set by Object_Destroy
    PhysWorld* physWorld;
    Node* root;
    AnimEventLookup eventLookup;  // handed to every animation-set load
};
ObjectWorld* g_world;
uint32_t g_loadingFlag;      // module-level, as the loaders see it
uint32_t g_nextSerial = 1;

int Contains(const char* text, const char* part) { return text && String_FindNoCase(text, part) != nullptr; }

float Clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

// The path without its extension (the text before the last '.' of its file
// part).
void Stem(const char* path, char* out, size_t size)
{
    snprintf(out, size, "%s", path);
    char* dot = strrchr(out, '.');
    char* slash = strrchr(out, '\\');
    if (dot && (!slash || dot > slash)) *dot = 0;
}

void NoteLoad(Object* o)
{
    if (!g_loadingFlag) return;
    o->flags |= OBJECT_MADE_WHILE_LOADING;
    g_loadingFlag = 0;
}

// The levels of detail of a ".lwo" or ".lws" visual: "<stem>_LOD<i>" for i =
// 0..4, stopping at the first that does not load.
void LoadLods(Object* o, const ObjectDescription* d, int isScene)
{
    char stem[OBJECT_MODEL_MAX];
    char path[OBJECT_MODEL_MAX + 32];
    Stem(d->visualModel, stem, sizeof stem);
    o->lodCount = 0;
    for (int i = 0; i < OBJECT_MAX_LODS; ++i) {
        if (!isScene) {
            snprintf(path, sizeof path, "%s_LOD%d.lwo", stem, i);
            o->lodVisuals[i] = Mesh_Load(path, d->visualFlags, nullptr);
            if (!o->lodVisuals[i]) break;
        } else {
            snprintf(path, sizeof path, "%s_LOD%d.lws", stem, i);
            o->lodNodes[i] = Node_Create(nullptr);
            o->lodScenes[i] = o->lodNodes[i] ? Scene_Load(path, o->lodNodes[i], d->visualFlags, nullptr) : nullptr;
            if (!o->lodScenes[i]) {
                Node_DestroyRef(&o->lodNodes[i]);
                break;
            }
        }
        o->lodCount = uint32_t(i + 1);
    }
}

void LoadVisual(Object* o, const ObjectDescription* d)
{
    if (d->animSet) {
        o->animSet = d->animSet;
        return;
    }
    if (d->scene) {
        o->scene = d->scene;
        return;
    }
    if (d->visual) {
        o->visual = d->visual;
        Node_SetVisual(o->node, d->visual);
        return;
    }
    const char* model = d->visualModel;
    if (!model[0] || Contains(model, "NOVISUAL")) return;
    // The flag tells of this object's own loads only.
    ObjectWorld_ClearLoadingFlag();
    if (Contains(model, ".lwo")) {
        const int sharing = Mesh_GetPerObjectDictionaries();
        if (d->noTextureSharing) Mesh_SetPerObjectDictionaries(1);
        o->visual = Mesh_Load(model, d->visualFlags, nullptr);
        NoteLoad(o);
        if (o->visual) Node_SetVisual(o->node, o->visual);
        LoadLods(o, d, 0);
        NoteLoad(o);
        Mesh_SetPerObjectDictionaries(sharing);
    } else if (Contains(model, ".lws")) {
        o->sceneNode = Node_Create(o->node);
        if (o->sceneNode) o->scene = Scene_Load(model, o->sceneNode, d->visualFlags, nullptr);
        NoteLoad(o);
        LoadLods(o, d, 1);
        NoteLoad(o);
    } else {
        o->animSet = AnimSet_Load(model, "ANIM", o->node, ObjectWorld_GetEventLookup());
        NoteLoad(o);
    }
}

// The scale a Scalable body takes: the lengths of the axis rows of the
// world matrix of the scene item being turned into an object.
void ItemScale(float* sx, float* sy, float* sz)
{
    *sx = *sy = *sz = 1.0f;
    Node* item = ObjectScene_GetCurrentItemNode();
    if (!item) return;
    Mat4 m;
    Node_GetWorldMatrix(item, &m);
    float* out[3] = {sx, sy, sz};
    for (int r = 0; r < 3; ++r) {
        Vec3 row{m.m[r][0], m.m[r][1], m.m[r][2]};
        *out[r] = std::sqrt(row.x * row.x + row.y * row.y + row.z * row.z);
    }
}

PhysBody* LoadBody(const ObjectDescription* d)
{
    if (d->body) return d->body;
    PhysWorld* world = ObjectWorld_GetPhysicsWorld();
    const char* model = d->physicalModel;
    if (!world || !model[0]) return nullptr;
    if (String_FindNoCase(model, "SPHERE") == model) return PhysBody_Create(world, float(atof(model + 6)), d->mass);
    if (!Contains(model, ".lwo")) return nullptr;
    int mode = d->composite ? PHYS_MODEL_COMPOSITE : (d->convex ? PHYS_MODEL_HULL : PHYS_MODEL_MESH);
    float sx = 1.0f, sy = 1.0f, sz = 1.0f;
    if (d->scalable) ItemScale(&sx, &sy, &sz);
    return PhysBody_CreateFromModel(model, world, d->mass, mode, sx, sy, sz);
}

void SetUpBody(Object* o, const ObjectDescription* d)
{
    PhysBody* b = o->body;
    PhysBody_SetMass(b, d->mass);
    PhysBody_SetCollisionGroup(b, d->collisionGroup);
    o->collisionGroup = d->collisionGroup;
    PhysBody_SetRestitution(b, d->restitution);
    PhysBody_SetFriction(b, d->friction);
    PhysBody_SetActive(b, d->active ? 1 : 0);
    PhysBody_SetPhantom(b, d->phantom ? 1 : 0);
    for (int axis = 0; axis < 3; ++axis) {
        if (!d->limitSpin[axis]) continue;
        PhysBody_LimitSpinAxis(b, axis);
        o->flags |= OBJECT_LIMIT_SPIN_X << axis;
    }
    if (d->phantom) o->flags |= OBJECT_PHANTOM;
    if (d->active) o->flags |= OBJECT_ACTIVE;
    if (d->removeFromPickList) o->flags |= OBJECT_NO_PICK;
    if (d->mass > 0.0f) {
        if (d->pinned) {
            PhysBody_ResetMotion(b, 1);
            o->flags |= OBJECT_PINNED;
        }
    } else {
        o->flags |= OBJECT_STATIC;
    }
    const Vec3& s = d->centreOfMassShift;
    if (s.x != 0.0f || s.y != 0.0f || s.z != 0.0f) PhysBody_ShiftCentreOfMass(b, s.x, s.y, s.z);
}

void CopyCommon(Object* o, const ObjectDescription* d)
{
    o->userInt = d->userInt;
    o->userWord = d->userWord;
    o->userData = d->userData;
    snprintf(o->name, sizeof o->name, "%s", d->name);
    o->nameHash = Name_Hash(o->name, 0, 1);
    o->motionFactor = Clamp01(1.0f - d->motionDamping);
    o->rotationFactor = Clamp01(1.0f - d->rotationDamping);
    o->removeFromPickList = d->removeFromPickList;
    o->ownership = d->ownership ? d->ownership : OBJECT_OWNS_ALL;
    o->constructor = d->constructor;
    o->destructor = d->destructor;
    o->update = d->update;
    o->collision = d->collision;
}

int IsJoint(const Object* o) { return o->constructor == Hinge_Constructor || o->constructor == Point2Point_Constructor; }

int DestroyJointItem(void* item, void*)
{
    Object* o = static_cast<Object*>(item);
    if (IsJoint(o)) Object_Destroy(o);
    return 0;
}

int DestroyItem(void* item, void*)
{
    Object_Destroy(static_cast<Object*>(item));
    return 0;
}

int UpdateItem(void* item, void* dt)
{
    Object_Update(static_cast<Object*>(item), static_cast<const float*>(dt));
    return 0;
}

int SlotOf(const List* pool)
{
    if (!g_world || !pool) return -1;
    for (int i = 0; i < OBJECT_POOL_SLOTS; ++i)
        if (g_world->pools[i] == pool) return i;
    return -1;
}

// A visual shared with a second instance: one more reference on a shared
// mesh; a mesh in no registry (a writeable copy) would be freed by the first
// release, so the instance loads a copy of its own.
RenderObj* ShareVisual(RenderObj* visual, const char* path, uint32_t flags)
{
    if (!visual) return nullptr;
    if (NameCache_AddRef(RenderObj_GetCache(), visual)) return visual;
    return path && path[0] ? Mesh_Load(path, flags, nullptr) : nullptr;
}

void Shadow(Object* o)
{
    if (!o->shadow || !(o->flags & OBJECT_SHADOW)) return;
    Vec3 p;
    Node_GetPosition(o->node, &p);
    const Vec3& last = o->lastShadowOrigin;
    if (!(o->shadowState & kShadowCast) || p.x != last.x || p.y != last.y || p.z != last.z) {
        o->lastShadowOrigin = p;
        o->shadowState |= kShadowCast;
        Vec3 end{p.x, p.y - kShadowRayLength, p.z};
        PhysRayResult hit{};
        if (PhysWorld_CastRayHit(g_world ? g_world->physWorld : nullptr, &p, &end, &hit)) {
            const Vec3 n = hit.normal;
            const Vec3 z{0, 0, 1};
            Vec3 side;
            Vec3_Cross(&side, &n, &z);
            Vec3_Cross(&o->shadowAxis, &side, &n);
            o->shadowPosition = Vec3{hit.point.x, hit.point.y + kShadowLiftOnHit, hit.point.z};
            o->shadowNormal = n;
            o->shadowState |= kShadowPlaced;
        } else if (o->flags & OBJECT_SHADOW_ALWAYS) {
            o->shadowPosition = Vec3{end.x, end.y + kShadowLiftOnMiss, end.z};
            o->shadowNormal = Vec3{0, 1, 0};
            o->shadowAxis = Vec3{0, 0, 1};
            o->shadowState |= kShadowPlaced;
        }
    }
    if (!(o->shadowState & kShadowPlaced)) return;
    const float colour[4] = {1.0f, 1.0f, 1.0f, 0.25f};
    Billboard_AddOriented(o->shadow, &o->shadowPosition, &o->shadowNormal, &o->shadowAxis, colour, o->shadowSize, 0);
}

}  // namespace

// ---------------------------------------------------------------- World

int ObjectWorld_Init(void)
{
    if (g_world) return 1;
    g_world = static_cast<ObjectWorld*>(Mem_Calloc(sizeof(ObjectWorld), 16));
    if (!g_world) return 0;
    g_world->root = Node_Create(nullptr);
    if (!g_world->root) {
        Mem_Free(g_world);
        g_world = nullptr;
        return 0;
    }
    return 1;
}

void ObjectWorld_Shutdown(void)
{
    if (!g_world) return;
    ObjectWorld_DestroyAllPools();
    Node_Destroy(g_world->root);
    Mem_Free(g_world);
    g_world = nullptr;
}

List* ObjectPool_Create(void)
{
    if (!ObjectWorld_Init()) return nullptr;
    for (int i = 0; i < OBJECT_POOL_SLOTS; ++i) {
        if (g_world->pools[i]) continue;
        g_world->pools[i] = List_Create(sizeof(Object), 16);
        return g_world->pools[i];
    }
    return nullptr;
}

void ObjectPool_Destroy(List* pool)
{
    int slot = SlotOf(pool);
    if (slot < 0) return;
    // Joints first: they hold other objects' bodies.
    List_ForEach(pool, DestroyJointItem, nullptr);
    List_ForEach(pool, DestroyItem, nullptr);
    List_Destroy(pool);
    g_world->pools[slot] = nullptr;
}

void ObjectWorld_DestroyAllPools(void)
{
    if (!g_world) return;
    for (int i = 0; i < OBJECT_POOL_SLOTS; ++i)
        if (g_world->pools[i]) ObjectPool_Destroy(g_world->pools[i]);
}

void ObjectPool_Update(List* pool, const float* dt)
{
    if (pool && dt) List_ForEach(pool, UpdateItem, const_cast<float*>(dt));
}

Node* ObjectWorld_GetRootNode(void) { return g_world ? g_world->root : nullptr; }

void ObjectWorld_SetRootNode(Node* node)
{
    if (ObjectWorld_Init()) g_world->root = node;
}

PhysWorld* ObjectWorld_GetPhysicsWorld(void) { return g_world ? g_world->physWorld : nullptr; }

void ObjectWorld_SetPhysicsWorld(PhysWorld* world)
{
    if (ObjectWorld_Init()) g_world->physWorld = world;
}

void ObjectWorld_SetEventLookup(AnimEventLookup lookup)
{
    if (ObjectWorld_Init()) g_world->eventLookup = lookup;
}

AnimEventLookup ObjectWorld_GetEventLookup(void) { return g_world ? g_world->eventLookup : nullptr; }

void ObjectWorld_SetLoadingFlag(void) { g_loadingFlag = 1; }
void ObjectWorld_ClearLoadingFlag(void) { g_loadingFlag = 0; }
uint32_t ObjectWorld_GetLoadingFlag(void) { return g_loadingFlag; }

uint32_t ObjectWorld_GetDestroyedFlag(void) { return g_world ? g_world->destroyedFlag : 0; }

void ObjectWorld_ClearDestroyedFlag(void)
{
    if (g_world) g_world->destroyedFlag = 0;
}

// ---------------------------------------------------------------- Objects

Object* Object_Create(List* pool, const ObjectDescription* d)
{
    if (!pool || !d || !ObjectWorld_Init()) return nullptr;
    Object* o = static_cast<Object*>(List_Alloc(pool));
    if (!o) return nullptr;
    o->pool = pool;
    o->serial = g_nextSerial++;
    o->node = d->node ? d->node : Node_Create(d->parent);
    if (!o->node) {
        List_Free(pool, o);
        return nullptr;
    }
    LoadVisual(o, d);
    o->body = LoadBody(d);
    if (d->shadowName[0] && d->shadowPixelHeight) {
        const char* mask = d->shadowMask[0] ? d->shadowMask : nullptr;
        o->shadow = Sprite3d_LoadSprite(d->shadowName, mask, uint32_t(d->shadowPixelHeight), kShadowBlendMode);
        o->shadowSize[0] = d->shadowSize[0];
        o->shadowSize[1] = d->shadowSize[1];
        if (o->shadow) o->flags |= OBJECT_SHADOW;
    }
    if (o->body) SetUpBody(o, d);
    Object_LinkNodeAndBody(o);
    CopyCommon(o, d);
    const uint32_t serial = o->serial;
    if (o->constructor) o->constructor(o, 0, d->templateRecord);
    // The Constructor may have destroyed the object: nothing of it is used
    // then.
    if (o->serial != serial) return nullptr;
    if (o->removeFromPickList && o->body) PhysContacts_RemoveBody(o->body);
    return o;
}

Object* Object_CreateFromTemplate(Node* node, Object* t, ObjectTemplate* record, Node* parent, List* pool)
{
    if (!t || !ObjectWorld_Init()) return nullptr;
    if (!pool) pool = t->pool;
    Object* o = static_cast<Object*>(List_Alloc(pool));
    if (!o) return nullptr;
    o->pool = pool;
    o->serial = g_nextSerial++;
    if (node) {
        Node_SetParent(node, parent);
        o->node = node;
    } else {
        o->node = Node_Create(parent);
    }
    if (!o->node) {
        List_Free(pool, o);
        return nullptr;
    }
    PhysWorld* world = ObjectWorld_GetPhysicsWorld();
    if (t->body && world) o->body = PhysBody_Clone(world, t->body);
    const char* model = record ? record->visualModel : nullptr;
    uint32_t flags = record ? record->visualFlags : 0;
    o->visual = ShareVisual(t->visual, model, flags);
    if (o->visual) Node_SetVisual(o->node, o->visual);
    char stem[OBJECT_MODEL_MAX], path[OBJECT_MODEL_MAX + 32];
    Stem(model ? model : "", stem, sizeof stem);
    o->lodCount = 0;
    for (uint32_t i = 0; i < t->lodCount; ++i) {
        snprintf(path, sizeof path, "%s_LOD%u.lwo", stem, i);
        o->lodVisuals[i] = ShareVisual(t->lodVisuals[i], path, flags);
        if (t->lodScenes[i]) {
            o->lodNodes[i] = Node_Create(nullptr);
            o->lodScenes[i] = o->lodNodes[i] ? Scene_Instance(t->lodScenes[i], o->lodNodes[i]) : nullptr;
        }
        o->lodCount = i + 1;
    }
    if (t->scene) {
        o->sceneNode = Node_Create(o->node);
        if (o->sceneNode) o->scene = Scene_Instance(t->scene, o->sceneNode);
    }
    if (t->animSet) o->animSet = AnimSet_Instance(t->animSet, o->node);
    if (t->shadow) {
        o->shadow = Sprite3d_Clone(t->shadow);
        o->shadowSize[0] = t->shadowSize[0];
        o->shadowSize[1] = t->shadowSize[1];
    }
    Object_LinkNodeAndBody(o);
    o->userInt = t->userInt;
    o->flags = t->flags;
    o->ownership = t->ownership;
    snprintf(o->name, sizeof o->name, "%s", t->name);
    o->collisionGroup = t->collisionGroup;
    o->userWord = t->userWord;
    o->userData = t->userData;
    o->motionFactor = t->motionFactor;
    o->rotationFactor = t->rotationFactor;
    o->removeFromPickList = t->removeFromPickList;
    o->constructor = t->constructor;
    o->destructor = t->destructor;
    o->update = t->update;
    o->collision = t->collision;
    if (!o->shadow) o->flags &= ~uint32_t(OBJECT_SHADOW);
    const uint32_t serial = o->serial;
    if (o->constructor) o->constructor(o, 0, record);
    if (o->serial != serial) return nullptr;
    if (o->removeFromPickList && o->body) PhysContacts_RemoveBody(o->body);
    return o;
}

void Object_Update(Object* o, const float* dt)
{
    if (!o || !g_world) return;
    float local = dt ? *dt : 0.0f;
    const uint32_t serial = o->serial;
    g_world->destroyedFlag = 0;
    if (o->update) o->update(o, 0, &local);
    if (o->serial == serial) o->partnerCount = 0;
    // The callback destroyed this object or another: the rest of this update
    // is skipped (the record may be gone).
    if (g_world->destroyedFlag) return;
    if (o->body) {
        if (o->motionFactor < 1.0f || o->rotationFactor < 1.0f) {
            Vec3 v, w;
            PhysBody_GetLinearVelocity(o->body, &v);
            PhysBody_GetAngularVelocity(o->body, &w);
            if (o->motionFactor < 1.0f) {
                Vec3_Scale(&v, &v, o->motionFactor);
                PhysBody_SetLinearVelocity(o->body, &v);
            }
            if (o->rotationFactor < 1.0f) {
                Vec3_Scale(&w, &w, o->rotationFactor);
                PhysBody_SetAngularVelocity(o->body, &w);
            }
        }
    }
    Shadow(o);
}

void Object_Destroy(Object* o)
{
    if (!o || !o->serial || o->destroying) return;
    o->destroying = 1;
    if (o->destructor) o->destructor(o, 0, nullptr);
    PhysWorld* world = ObjectWorld_GetPhysicsWorld();
    if (o->ownership & OBJECT_OWNS_VISUALS) {
        for (uint32_t i = 0; i < o->lodCount; ++i) {
            RenderObj_Release(&o->lodVisuals[i]);
            Scene_Release(o->lodScenes[i]);
            o->lodScenes[i] = nullptr;
            Node_DestroyRef(&o->lodNodes[i]);
        }
        o->lodCount = 0;
        Scene_Release(o->scene);
        o->scene = nullptr;
        Node_DestroyRef(&o->sceneNode);
        if (o->node && Node_GetVisual(o->node) == o->visual) Node_SetVisual(o->node, nullptr);
        RenderObj_Release(&o->visual);
        AnimSet_Release(o->animSet);
        o->animSet = nullptr;
    }
    if (o->body) {
        // Whatever the flags: the body must not name a record that is gone,
        // nor follow a node that is about to be destroyed.
        if (PhysBody_GetOwner(o->body) == o) PhysBody_SetOwner(o->body, nullptr);
        if ((o->ownership & OBJECT_OWNS_NODE) && o->body->node == o->node) o->body->node = nullptr;
        if ((o->ownership & OBJECT_OWNS_BODY) && world) {
            PhysContacts_RemoveBody(o->body);
            PhysWorld_RemoveBody(world, o->body);
            PhysBody_Destroy(world, o->body);
        }
        o->body = nullptr;
    }
    if (o->node && Node_GetObject(o->node) == o) Node_SetObject(o->node, nullptr);
    if (o->ownership & OBJECT_OWNS_NODE) Node_DestroyRef(&o->node);
    Sprite3d_Release(o->shadow);
    o->shadow = nullptr;
    if (o->templateOf) ObjectTemplate_ForgetObject(o->templateOf);
    o->serial = 0;
    o->destroying = 0;
    List_Free(o->pool, o);
    if (g_world) g_world->destroyedFlag = 1;
}

void Object_Sync(Object* o, uint32_t flags)
{
    if (!o) return;
    PhysWorld* world = ObjectWorld_GetPhysicsWorld();
    if ((flags & OBJECT_SYNC_FOLLOW) && o->body && PhysBody_GetMass(o->body) > 0.0f) o->body->node = o->node;
    if ((flags & OBJECT_SYNC_ADD) && o->body && world && o->node) {
        Vec3 p, at, up;
        Node_GetWorldPosition(o->node, &p);
        Node_GetWorldOrientation(o->node, &at, &up);
        PhysWorld_AddBody(world, o->body, &p, &at, &up);
    }
    if ((flags & OBJECT_SYNC_PICK) && o->body) PhysContacts_AddBody(o->body);
    if ((flags & OBJECT_SYNC_ROOT) && o->node && g_world && g_world->root && o->node != g_world->root)
        Node_SetParent(o->node, g_world->root);
}

void Object_GetTransform(Object* o, Vec3* position, Vec3* up, Vec3* at)
{
    if (!o) return;
    if (o->body) {
        if (position) PhysBody_GetPosition(o->body, position);
        if (up && at) PhysBody_GetAxes(o->body, at, up);
        return;
    }
    if (!o->node) return;
    if (position) Node_GetWorldPosition(o->node, position);
    if (up && at) Node_GetWorldOrientation(o->node, at, up);
}

int Object_AdvanceAnimation(Object* o, float dt)
{
    if (!o) return 0;
    if (o->scene) return Scene_Advance(o->scene, dt) ? 1 : 0;
    // The set reports its end with 0.
    if (o->animSet) return AnimSet_Advance(o->animSet, dt, ANIMSET_ADVANCE_SCENE) ? 0 : 1;
    return 0;
}

void Object_LinkNodeAndBody(Object* o)
{
    if (!o) return;
    if (o->node) Node_SetObject(o->node, o);
    if (o->body) PhysBody_SetOwner(o->body, o);
}

void Object_SetFlags(Object* o, uint32_t bits, int on)
{
    if (o) o->flags = Flags_Set(o->flags, bits, on);
}

uint32_t Object_GetFlags(const Object* o) { return o ? o->flags : 0; }

void Object_SetUserInt(Object* o, uint32_t value)
{
    if (o) o->userInt = value;
}

uint32_t Object_GetUserInt(const Object* o) { return o ? o->userInt : 0; }

void Object_SetUserData(Object* o, void* data)
{
    if (o) o->userData = data;
}

void* Object_GetUserData(const Object* o) { return o ? o->userData : nullptr; }

uint32_t Object_GetSerial(const Object* o) { return o ? o->serial : 0; }

Object* Object_FromBody(const PhysBody* body, uint32_t serial)
{
    Object* o = static_cast<Object*>(PhysBody_GetOwner(body));
    return o && serial && o->serial == serial ? o : nullptr;
}
