#include "engine/physray.h"

#include "common/list.h"
#include "engine/physbody.h"
#include "engine/physworld.h"
#include "physics/collision/collision_primitive.h"
#include "physics/collision/primitive_collector.h"
#include "physics/collision/ray_query.h"
#include "physics/dynamics/rigid_body.h"

namespace {

struct PickModule {
    PrimitiveCollector* pickList;
    PhysRayFn cast;  // the seam; null = the engine's walk
};
PickModule g_pick;

void* OwnerOf(const CollisionPrimitive* p)
{
    if (!p || !p->body || !p->body->user) return nullptr;
    return static_cast<RigidBody*>(p->body->user)->owner;
}

void EngineCast(PrimitiveCollector* collector, const Vec3* from, const Vec3* to, PhysRayResult* result)
{
    *result = PhysRayResult{};
    if (!collector) return;
    RayQuery q;
    RayQuery_Init(&q, *from, *to);
    CollisionPrimitive* hit = PrimitiveCollector_CastRay(collector, &q);
    if (!hit) return;
    result->hit = 1;
    result->distance = q.best;
    result->point = q.hitPoint;
    result->normal = q.hitNormal;
    result->object = OwnerOf(hit);
}

void Cast(PrimitiveCollector* collector, const Vec3* from, const Vec3* to, PhysRayResult* result)
{
    (g_pick.cast ? g_pick.cast : EngineCast)(collector, from, to, result);
}

void* Report(const PhysRayResult& r, Vec3* point, Vec3* normal)
{
    if (point) *point = r.hit ? r.point : Vec3{0, 0, 0};
    if (normal) *normal = r.hit ? r.normal : Vec3{0, 1, 0};
    return r.hit ? r.object : nullptr;
}

void AddBodyTo(PrimitiveCollector* c, const PhysBody* body)
{
    RigidBody* rb = PhysBody_Unwrap(body);
    if (!rb) return;
    for (CollisionPrimitive* p : rb->primitives) PrimitiveCollector_Add(c, p);
}

// Casts against a temporary collector, which lets go of its primitives
// (they forget it as a dependent) before it is deleted.
void* CastTemporary(PrimitiveCollector* c, const Vec3* from, const Vec3* to, Vec3* point, Vec3* normal)
{
    PhysRayResult r{};
    if (from && to) Cast(c, from, to, &r);
    PhysObject_UnlinkChildren(c);
    c->primitives.Clear();
    PhysObject_Destroy(c);
    return Report(r, point, normal);
}

int AddLinkedBody(void* item, void* arg)
{
    AddBodyTo(static_cast<PrimitiveCollector*>(arg), *static_cast<PhysBody**>(item));
    return 0;
}

}  // namespace

int PhysContacts_Init(void)
{
    if (g_pick.pickList) return 1;
    // The collector's memory comes from the physics hooks: install them
    // before the first physics allocation.
    if (!Phys_Init()) return 0;
    g_pick.pickList = PrimitiveCollector_Construct();
    return g_pick.pickList != nullptr;
}

void PhysContacts_Shutdown(void)
{
    PhysObject_Destroy(g_pick.pickList);
    g_pick.pickList = nullptr;
}

PrimitiveCollector* PhysContacts_GetPickList(void) { return g_pick.pickList; }

void PhysContacts_AddBody(PhysBody* body)
{
    if (g_pick.pickList) AddBodyTo(g_pick.pickList, body);
}

void PhysContacts_RemoveBody(PhysBody* body)
{
    RigidBody* rb = PhysBody_Unwrap(body);
    if (!g_pick.pickList || !rb) return;
    for (CollisionPrimitive* p : rb->primitives) PrimitiveCollector_Remove(g_pick.pickList, p);
}

int PhysContacts_Holds(const PhysBody* body, int primitive)
{
    RigidBody* rb = PhysBody_Unwrap(body);
    if (!g_pick.pickList || !rb || primitive < 0 || primitive >= rb->primitives.Count()) return 0;
    return g_pick.pickList->primitives.Find(rb->primitives[primitive]) >= 0;
}

int PhysWorld_CastRayHit(PhysWorld*, const Vec3* from, const Vec3* to, PhysRayResult* result)
{
    PhysRayResult r{};
    if (from && to) Cast(g_pick.pickList, from, to, &r);
    if (result) *result = r;
    return r.hit;
}

void* PhysWorld_CastRay(PhysWorld* world, const Vec3* from, const Vec3* to, Vec3* point, Vec3* normal)
{
    PhysRayResult r{};
    PhysWorld_CastRayHit(world, from, to, &r);
    return Report(r, point, normal);
}

int PhysWorld_CastRayDir(PhysWorld* world, PhysRayHit* hit, const Vec3* origin, const Vec3* direction, float length)
{
    if (!hit || !origin || length == 0.0f) return 0;
    Vec3 dir = direction ? *direction : Vec3{0, 1, 0};
    Vec3 end{origin->x + dir.x * length, origin->y + dir.y * length, origin->z + dir.z * length};
    PhysRayResult r{};
    PhysWorld_CastRayHit(world, origin, &end, &r);
    if (r.hit) {
        Vec3 d{r.point.x - origin->x, r.point.y - origin->y, r.point.z - origin->z};
        hit->point = r.point;
        hit->normal = r.normal;
        hit->distanceSq = d.x * d.x + d.y * d.y + d.z * d.z;
        hit->object = r.object;
        return 1;
    }
    hit->point = end;
    hit->normal = Vec3{0, 1, 0};
    hit->distanceSq = length * length;
    hit->object = nullptr;
    return 0;
}

void* PhysWorld_CastRayAgainst(const Vec3* from, const Vec3* to, List* bodies, Vec3* point, Vec3* normal)
{
    PrimitiveCollector* c = PrimitiveCollector_Construct();
    if (!c) return Report(PhysRayResult{}, point, normal);
    if (bodies) List_ForEach(bodies, AddLinkedBody, c);
    return CastTemporary(c, from, to, point, normal);
}

void* PhysWorld_CastRayAgainstHandles(const Vec3* from, const Vec3* to, PhysBody* const* handles, int count,
                                      Vec3* point, Vec3* normal)
{
    PrimitiveCollector* c = PrimitiveCollector_Construct();
    if (!c) return Report(PhysRayResult{}, point, normal);
    for (int i = 0; handles && i < count; ++i) AddBodyTo(c, handles[i]);
    return CastTemporary(c, from, to, point, normal);
}

void* PhysWorld_CastRayAgainstAll(PhysWorld* world, const Vec3* from, const Vec3* to, Vec3* point, Vec3* normal)
{
    PrimitiveCollector* c = PrimitiveCollector_Construct();
    if (!c) return Report(PhysRayResult{}, point, normal);
    if (world && world->object) PrimitiveCollector_GatherAll(c, world->object->simulation, 0);
    return CastTemporary(c, from, to, point, normal);
}

void PhysRay_SetCastFunction(PhysRayFn fn) { g_pick.cast = fn; }
