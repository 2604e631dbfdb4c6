// Physics world: pools, the world object, stepping and the node sync, body
// registration, group pairs and field actions.
//
// Stepping follows the level's frame rule: one sub-step per started 1/50 s
// of the frame, at most three, and at most 0.1 s of simulated time per
// frame, so a slow frame makes the world run slower than real time instead
// of taking long steps. The time is accumulated in double and handed down
// as whole seconds plus a fraction.
#include "engine/physworld.h"

#include <cmath>
#include <new>

#include "common/list.h"
#include "common/memory.h"
#include "engine/node.h"
#include "engine/physbody.h"
#include "engine/physconstraint.h"
#include "engine/physshape.h"
#include "physics/base/base_system.h"
#include "physics/base/phys_math.h"
#include "physics/base/phys_memory.h"
#include "physics/collision/collision_detection.h"
#include "physics/collision/collision_shape.h"
#include "physics/dynamics/constraint.h"
#include "physics/dynamics/dyn_world.h"
#include "physics/dynamics/events.h"
#include "physics/dynamics/rigid_body.h"
#include "physics/dynamics/simulation.h"
#include "physics/dynamics/subspace.h"

namespace {

constexpr int kDynWorldVersion = 4545;
constexpr float kDetectionTolerance = 0.1f;
constexpr float kSubStepsPerSecond = 50.0f;
constexpr int kMaxSubSteps = 3;
constexpr float kMaxFrameTime = 0.1f;
constexpr float kSnapAngle = 0.01f;
constexpr uint32_t kTrackingBlock = 16384;

struct PhysModule {
    List* worlds;          // PhysWorld entries
    int liveWorlds;        // the base system runs while this is above 0
    int hooksInstalled;
    float eventParam;      // threshold of contact-event registrations
    int tracking;
    List* tracked;         // void* of the blocks allocated while tracking
    PhysStepFn step;       // the stepping seam
};
PhysModule g_phys;

void* TrackBlock(void* block)
{
    if (!block || !g_phys.tracking) return block;
    if (!g_phys.tracked) {
        g_phys.tracked = List_Create(sizeof(void*));
        if (!g_phys.tracked) return block;
        List_SetBlockSize(g_phys.tracked, kTrackingBlock);
    }
    void** slot = static_cast<void**>(List_Alloc(g_phys.tracked));
    if (slot) *slot = block;
    return block;
}

int MatchBlock(void* item, void* arg) { return *static_cast<void**>(item) == arg; }

void InstallHooks(void)
{
    if (g_phys.hooksInstalled) return;
    PhysMemHooks hooks{PhysMem_Alloc16, PhysMem_Alloc, PhysMem_Free};
    Physics_SetMemHooks(&hooks);
    g_phys.hooksInstalled = 1;
}

PhysStepFn StepFunction(void) { return g_phys.step ? g_phys.step : DynWorld_Step; }

// Frees everything of a half-built or dying world that exists, in the order
// PhysWorld_Destroy gives.
void TearDown(PhysWorld* w);

int MatchPointer(void* item, void* arg) { return *static_cast<void**>(item) == arg; }

int DestroyBodyItem(void* item, void* arg)
{
    PhysBody_Destroy(static_cast<PhysWorld*>(arg), static_cast<PhysBody*>(item));
    return 0;
}

int DestroyFieldItem(void* item, void* arg)
{
    PhysField_Destroy(static_cast<PhysWorld*>(arg), *static_cast<PhysField**>(item));
    return 0;
}

int DestroyConstraintItem(void* item, void* arg)
{
    PhysWorld* w = static_cast<PhysWorld*>(arg);
    PhysConstraint* c = static_cast<PhysConstraint*>(item);
    PhysConstraint_Detach(w, c);
    PhysConstraint_Destroy(w, c);
    return 0;
}

int DestroyShapeItem(void* item, void* arg)
{
    PhysShape_Free(static_cast<PhysWorld*>(arg), static_cast<PhysShape*>(item));
    return 0;
}

void DestroyWorldObject(PhysWorldObject* o)
{
    if (!o) return;
    // Whatever this layer made and did not destroy goes first, newest first,
    // then the core objects from the most dependent on: every deletion tells
    // its dependents, so none keeps a pointer to a deleted object.
    while (o->owned.Count() > 0) {
        PhysObject* last = o->owned.Back();
        o->owned.Pop();
        PhysObject_Destroy(last);
    }
    o->owned.Release();
    PhysObject_Destroy(o->constraints);
    PhysObject_Destroy(o->subspace);
    PhysObject_Destroy(o->detection);
    PhysObject_Destroy(o->simulation);
    PhysObject_Destroy(o->dynWorld);
    o->~PhysWorldObject();
    Mem_Free(o);
}

PhysWorldObject* BuildWorldObject(void)
{
    PhysWorldObject* o = static_cast<PhysWorldObject*>(Mem_Calloc(sizeof(PhysWorldObject), 16));
    if (!o) return nullptr;
    new (o) PhysWorldObject{};
    o->dynWorld = DynWorld_Construct(kDynWorldVersion);
    o->simulation = o->dynWorld ? Simulation_Construct(o->dynWorld) : nullptr;
    o->subspace = RigidSubspace_Construct();
    o->constraints = ConstraintManager_Construct();
    o->detection = CollisionDetection_Construct(kDetectionTolerance);
    if (!o->dynWorld || !o->simulation || !o->subspace || !o->constraints || !o->detection ||
        !DynWorld_AddSimulation(o->dynWorld, o->simulation)) {
        DestroyWorldObject(o);
        return nullptr;
    }
    Simulation* sim = o->simulation;
    Simulation_SetResolver(sim, 2);
    Simulation_SetGravity(sim, Vec3{0.0f, -9.81f, 0.0f});
    sim->freeze.checkPeriod[0] = 0.2f;
    sim->freeze.checkPeriod[1] = 10.0f;
    RigidSubspace_SetIntegrator(o->subspace, 0);
    if (!Simulation_AddSubspace(sim, o->subspace) || !Subspace_AddAction(o->subspace, o->constraints, 0)) {
        DestroyWorldObject(o);
        return nullptr;
    }
    Simulation_SetCollisionDetection(sim, o->detection);
    return o;
}

List* MakePool(size_t itemSize, uint32_t fixed)
{
    List* pool = List_Create(itemSize, 16);
    if (pool && fixed && !List_SetBlockSize(pool, fixed)) {
        List_Destroy(pool);
        return nullptr;
    }
    return pool;
}

// A large record: what a level-wide holder would release with the world
// (bodies, render objects, nodes, scenes, animation sets). Nothing in this
// layer fills the pool; its records are only cleared.
struct PhysLargeRecord {
    void* items[64];
};

void TearDown(PhysWorld* w)
{
    if (w->largePool) {
        List_Clear(w->largePool, 1);
        List_Destroy(w->largePool);
        w->largePool = nullptr;
    }
    List_Destroy(w->bodyList);
    w->bodyList = nullptr;
    if (w->bodyPool) {
        List_ForEach(w->bodyPool, DestroyBodyItem, w);
        List_Destroy(w->bodyPool);
        w->bodyPool = nullptr;
    }
    if (w->fieldPool) {
        List_ForEach(w->fieldPool, DestroyFieldItem, w);
        List_Destroy(w->fieldPool);
        w->fieldPool = nullptr;
    }
    if (w->constraintPool) {
        List_ForEach(w->constraintPool, DestroyConstraintItem, w);
        List_Destroy(w->constraintPool);
        w->constraintPool = nullptr;
    }
    if (w->shapePool) {
        List_ForEach(w->shapePool, DestroyShapeItem, w);
        List_Destroy(w->shapePool);
        w->shapePool = nullptr;
    }
    PhysObject_Destroy(w->listener);
    w->listener = nullptr;
    DestroyWorldObject(w->object);
    w->object = nullptr;
}

int SyncNode(void* item, void*)
{
    PhysBody* handle = *static_cast<PhysBody**>(item);
    if (!handle || !handle->node || !handle->body) return 0;
    Vec3 position;
    Quat rotation;
    RigidBody_GetPositionAndRotation(handle->body, &position, &rotation);
    if (!(handle->syncFlags & PHYS_SYNC_NO_ROTATION)) {
        Vec3 axis;
        float angle = PhysWorld_QuatToAxisAngle(rotation, &axis);
        // A node's rotation turns the other way round from the quaternion's
        // for the same angle (a positive angle about +y turns +z towards -x).
        Node_SetRotation(handle->node, &axis, -angle);
    }
    if (!(handle->syncFlags & PHYS_SYNC_NO_POSITION)) Node_SetPosition(handle->node, &position);
    return 0;
}

}  // namespace

// ---------------------------------------------------------------- Memory

void* PhysMem_Alloc16(size_t size) { return TrackBlock(Mem_Alloc(size, 16)); }

void* PhysMem_Alloc(size_t size, size_t alignment) { return TrackBlock(Mem_Alloc(size, alignment)); }

void PhysMem_Free(void* block)
{
    if (!block) return;
    if (g_phys.tracked) {
        void* item = List_ForEach(g_phys.tracked, MatchBlock, block);
        if (item) List_Free(g_phys.tracked, item);
    }
    Mem_Free(block);
}

void PhysMem_SetTracking(int on)
{
    g_phys.tracking = on != 0;
    if (!on && g_phys.tracked) {
        List_Destroy(g_phys.tracked);
        g_phys.tracked = nullptr;
    }
}

uint32_t PhysMem_GetTrackedCount(void) { return g_phys.tracked ? List_Count(g_phys.tracked) : 0; }

// ---------------------------------------------------------------- Module

int Phys_Init(void)
{
    InstallHooks();
    void* trial = PhysMem_Alloc(32, 4);
    if (!trial) return 0;
    PhysMem_Free(trial);
    return PhysWorlds_Init();
}

int PhysWorlds_Init(void)
{
    InstallHooks();
    if (!g_phys.worlds) g_phys.worlds = List_Create(sizeof(PhysWorld), 16);
    g_phys.eventParam = 0.0f;
    return g_phys.worlds != nullptr;
}

namespace {
int DestroyWorldItem(void* item, void*)
{
    PhysWorld_Destroy(static_cast<PhysWorld*>(item));
    return 0;
}
}  // namespace

void PhysWorlds_DestroyAll(void)
{
    if (g_phys.worlds) {
        List_ForEach(g_phys.worlds, DestroyWorldItem, nullptr);
        List_Destroy(g_phys.worlds);
        g_phys.worlds = nullptr;
    }
    BaseSystem_Quit();
}

// ---------------------------------------------------------------- Worlds

PhysWorld* PhysWorld_Create(const uint32_t params[PHYS_PARAM_COUNT])
{
    if (!params || !PhysWorlds_Init()) return nullptr;
    PhysWorld* w = static_cast<PhysWorld*>(List_Alloc(g_phys.worlds));
    if (!w) return nullptr;
    if (g_phys.liveWorlds == 0) BaseSystem_Init();
    ++g_phys.liveWorlds;
    w->bodyPool = MakePool(sizeof(PhysBody), params[PHYS_PARAM_BODIES]);
    w->bodyList = MakePool(sizeof(PhysBody*), params[PHYS_PARAM_BODY_LIST]);
    w->fieldPool = MakePool(sizeof(PhysField*), 0);
    w->constraintPool = MakePool(sizeof(PhysConstraint), 0);
    w->shapePool = MakePool(sizeof(PhysShape), params[PHYS_PARAM_SHAPES]);
    w->largePool = MakePool(sizeof(PhysLargeRecord), params[PHYS_PARAM_LARGE]);
    w->object = BuildWorldObject();
    if (w->object) {
        Simulation* sim = w->object->simulation;
        w->listener = CollisionListener_Construct(Simulation_GetDispatcher(sim), sim);
        if (w->listener) Simulation_SetCollisionListener(sim, w->listener);
    }
    w->time = 0.0;
    if (!w->bodyPool || !w->bodyList || !w->fieldPool || !w->constraintPool || !w->shapePool || !w->largePool ||
        !w->object || !w->listener) {
        PhysWorld_Destroy(w);
        return nullptr;
    }
    return w;
}

PhysWorld* PhysWorld_CreateDefault(void) { return PhysWorld_Create(kPhysDefaultParams); }

void PhysWorld_Destroy(PhysWorld* world)
{
    if (!world || !g_phys.worlds) return;
    TearDown(world);
    List_Free(g_phys.worlds, world);
    // The base system runs as long as any world does: a level that keeps a
    // second world alive must not lose the engine's timers under it.
    if (g_phys.liveWorlds > 0 && --g_phys.liveWorlds == 0) BaseSystem_Quit();
}

int PhysWorld_GetLiveCount(void) { return g_phys.liveWorlds; }

int PhysWorld_SubStepCount(float dt)
{
    if (!(dt > 0.0f)) return 0;  // also NaN
    double n = std::ceil(double(dt) * kSubStepsPerSecond);
    return n >= kMaxSubSteps ? kMaxSubSteps : int(n);
}

void PhysWorld_Step(PhysWorld* world, float dt)
{
    if (!world || !world->object) return;
    int subSteps = PhysWorld_SubStepCount(dt);
    if (subSteps > 0) {
        world->time += double(dt < kMaxFrameTime ? dt : kMaxFrameTime);
        StepFunction()(world->object->dynWorld, PhysTime_FromSeconds(world->time), subSteps);
    }
    List_ForEach(world->bodyList, SyncNode, nullptr);
}

void PhysWorld_Update(PhysWorld* world, float dt) { PhysWorld_Step(world, dt); }

void PhysWorld_SetStepFunction(PhysStepFn fn) { g_phys.step = fn; }

float PhysWorld_QuatToAxisAngle(Quat q, Vec3* axis)
{
    float w = q.w;
    float angle = 2.0f * std::acos(std::fabs(w) > 1.0f ? 1.0f : std::fabs(w));
    Vec3 up{0.0f, 1.0f, 0.0f};
    if (!std::isfinite(angle) || !std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z) ||
        angle < kSnapAngle) {
        if (axis) *axis = up;
        return 0.0f;
    }
    // q and -q are the same rotation: the angle comes from |w|, so the axis
    // turns round with the sign of w.
    float s = std::sqrt(1.0f - w * w);
    if (w < 0.0f) s = -s;
    Vec3 a{q.x / s, q.y / s, q.z / s};
    float len = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
    if (!(len > 0.0f) || !std::isfinite(len)) {
        a = up;
    } else {
        a = Vec3{a.x / len, a.y / len, a.z / len};
    }
    if (axis) *axis = a;
    return angle;
}

void PhysWorld_AddBody(PhysWorld* world, PhysBody* body, const Vec3* position, const Vec3* at, const Vec3* up)
{
    if (!world || !world->object || !body || !body->body) return;
    if (!List_ForEach(world->bodyList, MatchPointer, body)) {
        PhysBody** slot = static_cast<PhysBody**>(List_Alloc(world->bodyList));
        if (slot) *slot = body;
    }
    RigidBody* rb = body->body;
    rb->linearVelocity = Vec3{0, 0, 0};
    rb->angularVelocity = Vec3{0, 0, 0};
    Quat q = Quat_Identity();
    if (at && up) {
        // Rows right, up, at of the node convention: right = up x at, then
        // up = at x right, all normalised.
        Vec3 a = Vec3_Unit(*at);
        Vec3 r = Vec3_Unit(Vec3_Cross(*up, a));
        Vec3 u = Vec3_Cross(a, r);
        Mat3 m{{r, u, a}};
        Quaternion_FromMatrix3(&q, &m);
        q = Quat_Normalize(q);
    }
    RigidBody_SetPositionAndRotation(rb, position ? *position : Vec3{0, 0, 0}, q);
    Subspace_AttachEntity(world->object->subspace, rb);
    CollisionDetection_AddBody(world->object->detection, rb);
}

void PhysWorld_RemoveBody(PhysWorld* world, PhysBody* body)
{
    if (!world || !body) return;
    if (void* item = List_ForEach(world->bodyList, MatchPointer, body)) List_Free(world->bodyList, item);
    if (body->body) PhysObject_NotifyDependents(body->body, PHYS_NOTIFY_DESTROYED);
}

void PhysWorld_SetGravity(PhysWorld* world, const Vec3* gravity)
{
    if (world && world->object && gravity) Simulation_SetGravity(world->object->simulation, *gravity);
}

void PhysWorld_PairCollisionGroups(PhysWorld* world, int a, int b)
{
    if (!world || !world->object) return;
    if (a < 1 || a > 32 || b < 1 || b > 32) return;
    CollisionDetection_EnableGroupPair(world->object->detection, a, b);
}

void PhysWorld_IgnoreBodyPair(PhysWorld* world, PhysBody* a, PhysBody* b)
{
    if (world && world->object && a && b && a->body && b->body)
        CollisionDetection_DisableBodyPair(world->object->detection, a->body, b->body);
}

void PhysWorld_UnignoreBodyPair(PhysWorld* world, PhysBody* a, PhysBody* b)
{
    if (world && world->object && a && b && a->body && b->body)
        CollisionDetection_EnableBodyPair(world->object->detection, a->body, b->body);
}

void PhysWorld_RegisterBodyEvents(PhysWorld* world, PhysBody* body)
{
    if (!world || !world->listener || !body || !body->body) return;
    for (CollisionPrimitive* p : body->body->primitives)
        CollisionListener_RegisterPair(world->listener, p, nullptr, g_phys.eventParam, 0, PHYS_EVENT_CONTACT);
}

void PhysWorld_UnregisterBodyEvents(PhysWorld* world, PhysBody* body)
{
    if (!world || !world->listener || !body || !body->body) return;
    for (CollisionPrimitive* p : body->body->primitives) CollisionListener_UnregisterPrimitive(world->listener, p);
}

void PhysWorld_SetEventParam(float value) { g_phys.eventParam = value; }

PhysWorldObject* PhysWorld_GetWorldObject(PhysWorld* world) { return world ? world->object : nullptr; }

int PhysWorld_Owns(const PhysWorld* world, const PhysObject* object)
{
    if (!world || !world->object || !object) return 0;
    for (PhysObject* o : world->object->owned)
        if (o == object) return 1;
    return 0;
}

int PhysWorld_Own(PhysWorld* world, PhysObject* object)
{
    if (!world || !world->object || !object) return 0;
    return world->object->owned.Push(object);
}

void PhysWorld_Disown(PhysWorld* world, PhysObject* object)
{
    if (!world || !world->object || !object) return;
    PhysArray<PhysObject*, PHYS_MEM_WORLD>& owned = world->object->owned;
    // Newest first: what is destroyed soon after it was made is found at once.
    for (int i = owned.Count() - 1; i >= 0; --i) {
        if (owned[i] == object) {
            owned.RemoveSwap(i);
            return;
        }
    }
}

// ---------------------------------------------------------- Field actions

PhysField::~PhysField() { bodies.Release(); }

void PhysField::Apply(Subspace*, float)
{
    if (!enabled || !(radius > 0.0f)) return;
    Vec3 c = centre;
    Vec3 ax = axis;
    RigidBody* anchorBody = anchor ? anchor->body : nullptr;
    if (anchorBody) {
        c = Transform_Apply(anchorBody->pose, centre);
        ax = Quat_Rotate(anchorBody->pose.rotation, axis);
    }
    for (PhysBody* handle : bodies) {
        RigidBody* b = handle ? handle->body : nullptr;
        if (!b) continue;
        Vec3 d = RigidBody_GetCentreOfMassWorld(b) - c;
        float r = Vec3_Norm(d);
        Vec3 n = r > 0.0f ? d * (1.0f / r) : Vec3{0, 0, 0};
        if (!(r < radius)) continue;
        float cosine = Vec3_Dot(n, ax);
        cosine = cosine > 1.0f ? 1.0f : (cosine < -1.0f ? -1.0f : cosine);
        if (!(std::acos(cosine) < halfCone)) continue;
        if (!(b->stateFlags & RB_STATE_ACTIVE)) b->SetActive(1, 0);
        float f = strength * std::pow(1.0f - r / radius, exponent);
        RigidBody_AddForce(b, n * -f);
        if (anchorBody) RigidBody_AddForce(anchorBody, n * f);
    }
}

PhysField* PhysField_Create(PhysWorld* world, float strength, float exponent, float coneAngle, float radius,
                            const Vec3* centre, const Vec3* axis, PhysBody* anchor)
{
    if (!world || !world->object || !world->fieldPool) return nullptr;
    void** slot = static_cast<void**>(List_Alloc(world->fieldPool));
    if (!slot) return nullptr;
    PhysField* f = new PhysField();
    if (!f) {
        List_Free(world->fieldPool, slot);
        return nullptr;
    }
    f->strength = strength;
    f->exponent = exponent;
    f->halfCone = coneAngle * 0.5f;
    f->radius = radius;
    if (centre) f->centre = *centre;
    f->axis = axis ? Vec3_Unit(*axis) : Vec3{0, 1, 0};
    f->anchor = anchor;
    f->slot = slot;
    *slot = f;
    if (!Subspace_AddAction(world->object->subspace, f, 0)) {
        PhysObject_Destroy(f);
        List_Free(world->fieldPool, slot);
        return nullptr;
    }
    return f;
}

void PhysField_SetBodyInside(PhysField* field, PhysBody* body, int on)
{
    if (!field || !body) return;
    if (!on) {
        PhysField_RemoveBody(field, body);
        return;
    }
    if (field->bodies.Find(body) < 0) field->bodies.Push(body);
}

void PhysField_RemoveBody(PhysField* field, PhysBody* body)
{
    if (!field || !body) return;
    int i = field->bodies.Find(body);
    if (i >= 0) field->bodies.RemoveAt(i);
}

namespace {
int DropBodyFromField(void* item, void* arg)
{
    PhysField* f = *static_cast<PhysField**>(item);
    PhysBody* body = static_cast<PhysBody*>(arg);
    PhysField_RemoveBody(f, body);
    if (f->anchor == body) f->anchor = nullptr;
    return 0;
}
}  // namespace

void PhysField_RemoveBodyFromAll(PhysWorld* world, PhysBody* body)
{
    if (world && world->fieldPool && body) List_ForEach(world->fieldPool, DropBodyFromField, body);
}

void PhysField_Destroy(PhysWorld* world, PhysField* field)
{
    if (!world || !field) return;
    if (world->object) Subspace_RemoveAction(world->object->subspace, field);
    void** slot = field->slot;
    PhysObject_Destroy(field);
    if (slot && world->fieldPool) List_Free(world->fieldPool, slot);
}
