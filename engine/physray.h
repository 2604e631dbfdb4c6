// Ray queries and the pick list. Game code asks what lies below a point,
// what a line of sight hits and where a probe meets the ground by casting
// rays against the pick list: one module-level collector of the physics
// engine holding the collision primitives of every pickable body. Objects
// join it through Object_Sync flag 4 and leave it when destroyed or when
// their configuration sets RemoveFromPickList. The collector depends on each
// primitive it holds, so a destroyed primitive drops out by itself.
//
// A cast keeps the nearest entering hit whose distance along the ray is below
// a best distance that starts at 1000: nothing farther than 1000 from the
// origin is ever reported, whatever the ray's length. Meshes are hit from
// either side; a ray that starts inside or on a shape does not hit it;
// phantoms, groups and activity play no part (only membership decides).
#pragma once

#include <cstdint>

#include "common/maths.h"

class PrimitiveCollector;
struct List;
struct PhysBody;
struct PhysWorld;

// Result of PhysWorld_CastRayDir.
struct PhysRayHit {
    Vec3 point;       // hit point; the ray's end on a miss
    Vec3 normal;      // surface normal at the hit; (0, 1, 0) on a miss
    float distanceSq; // from the origin to the hit; the squared ray length on a miss
    void* object;     // owner word of the hit body, or null
};

// What the cast seam hands back: whether a primitive was hit (an ownerless
// body counts), where, and its owner word.
struct PhysRayResult {
    int hit;
    Vec3 point;
    Vec3 normal;
    float distance;  // along the ray
    void* object;    // owner word of the hit primitive's body, or null
};

// Creates / deletes the pick list. Init returns 1, or 0 when memory fails.
int PhysContacts_Init(void);
void PhysContacts_Shutdown(void);
// The pick list (null before Init).
PrimitiveCollector* PhysContacts_GetPickList(void);
// Every primitive of the body not yet in the list is added.
void PhysContacts_AddBody(PhysBody* body);
// Every primitive of the body found in the list is removed.
void PhysContacts_RemoveBody(PhysBody* body);
// 1 when the list holds the primitive i of the body.
int PhysContacts_Holds(const PhysBody* body, int primitive);

// The ray from `from` to `to` against the pick list. The outputs (either may
// be null) start as point (0, 0, 0) and normal (0, 1, 0) and keep them on a
// miss; on a hit they get the hit point and the surface normal. Returns the
// hit body's owner word, or null (also for a hit on an ownerless body).
// The world argument is not used: the pick list is global.
void* PhysWorld_CastRay(PhysWorld* world, const Vec3* from, const Vec3* to, Vec3* point, Vec3* normal);
// The same cast reporting whether anything was hit (1) into *result.
int PhysWorld_CastRayHit(PhysWorld* world, const Vec3* from, const Vec3* to, PhysRayResult* result);
// The ray origin + direction x length (the direction is not normalised;
// null means (0, 1, 0)). Returns 0 at once, the record untouched, for a null
// origin or length 0. A hit fills the record with the point, normal, squared
// distance from the origin and object and returns 1; a miss fills it with
// the ray's end, (0, 1, 0), length^2 and null and returns 0.
int PhysWorld_CastRayDir(PhysWorld* world, PhysRayHit* hit, const Vec3* origin, const Vec3* direction,
                         float length);
// The same query against a temporary collector of the primitives of: the
// bodies of a pool of PhysBody* items (a link pool), an array of handles, or
// every body of the world's simulation. The collector lets go of its
// primitives before it is deleted. Outputs and result as PhysWorld_CastRay.
void* PhysWorld_CastRayAgainst(const Vec3* from, const Vec3* to, List* bodies, Vec3* point, Vec3* normal);
void* PhysWorld_CastRayAgainstHandles(const Vec3* from, const Vec3* to, PhysBody* const* handles, int count,
                                      Vec3* point, Vec3* normal);
void* PhysWorld_CastRayAgainstAll(PhysWorld* world, const Vec3* from, const Vec3* to, Vec3* point, Vec3* normal);

// The cast seam: every query above ends in this call, which walks the
// collector with the ray (the physics engine's walk by default). Tests
// install a recording stand-in to count casts and script hits; null
// restores the walk. The function fills *result (hit 0 on a miss).
typedef void (*PhysRayFn)(PrimitiveCollector* collector, const Vec3* from, const Vec3* to, PhysRayResult* result);
void PhysRay_SetCastFunction(PhysRayFn fn);
