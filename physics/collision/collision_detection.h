// CollisionDetection: the detection holder of a world. It keeps the bodies
// that take part in collision, the broad phase over their primitives, the 32
// group-pair masks and the excluded primitive pairs, and answers the overlap
// query and the swept test of fast spheres.
//
// The step of the dynamics uses it as: place the moved bodies
// (CollisionBody_Place), CollisionDetection_FindPairs for the candidate pairs
// that pass every filter, then NarrowPhase_Collide on each.
#pragma once

#include <cstdint>

#include "physics/base/phys_array.h"
#include "physics/base/phys_object.h"
#include "physics/collision/broad_phase.h"
#include "physics/collision/collision_body.h"
#include "physics/collision/narrow_phase.h"

struct CollisionPair {
  CollisionPrimitive* a;  // the lower id
  CollisionPrimitive* b;
  uint8_t phantom;        // 1 when either primitive is a phantom: overlap events only, no response
};

// Contact record of the overlap query: a belongs to the queried body.
struct CollisionRecord {
  CollisionPrimitive* a;
  CollisionPrimitive* b;
  Vec3 point;   // on b's surface
  Vec3 normal;  // from b towards a
  float depth;  // penetration (> the overlap epsilon)
};

typedef PhysArray<CollisionRecord, PHYS_MEM_CONTACT> CollisionRecordList;

// The three record lists of CollisionDetection_GetContacts, by the state of
// the other body.
enum CollisionRecordListIndex {
  COLLISION_RECORDS_MOVING = 0,  // awake, movable bodies
  COLLISION_RECORDS_FIXED = 1,   // fixed bodies (the level)
  COLLISION_RECORDS_ASLEEP = 2,  // deactivated bodies
};

// Penetration that the overlap query counts: resting contacts sit within the
// solver's slop and must not read as overlaps.
constexpr float kCollisionOverlapEpsilon = 0.02f;

class CollisionDetection : public PhysObject {
public:
  PHYS_DECLARE_MEMCLASS(PHYS_MEM_WORLD)
  CollisionDetection() = default;
  // Takes every body out (their primitives stay with them).
  ~CollisionDetection() override;

  float tolerance = 0.1f;     // contact margin: pairs closer than this produce contacts
  uint32_t groupMasks[32]{};  // bit b-1 of mask g-1: groups g and b collide
  PhysArray<uint64_t, PHYS_MEM_BROADPHASE> excluded;  // sorted (lower id << 32 | higher id)
  PhysArray<CollisionBody*, PHYS_MEM_BROADPHASE> bodies;  // in order of addition
  BroadPhase broadPhase;
  PhysArray<CollisionPair, PHYS_MEM_BROADPHASE> pairs;  // result of the last FindPairs
  ContactManifold scratch{};  // manifold used by the overlap query
  uint32_t step = 0;          // FindPairs calls so far: dates what primitives remember of mesh sides
};

// A new holder with the contact margin (a non-finite or negative margin falls
// back to 0.1); null on exhaustion. Destroy with PhysObject_Destroy.
CollisionDetection* CollisionDetection_Construct(float tolerance);
// Puts the body in (idempotent: a body already in is re-synchronised with its
// primitive list and pose). A body in another holder is moved. Returns 1, or
// 0 on exhaustion or null arguments.
int CollisionDetection_AddBody(CollisionDetection* cd, CollisionBody* body);
// Takes the body out; harmless when it is not in. Excluded pairs stay recorded.
void CollisionDetection_RemoveBody(CollisionDetection* cd, CollisionBody* body);
// Adds or drops one primitive of a body that is in the holder (used when a
// body gains or loses primitives while in a world).
int CollisionDetection_AddPrimitive(CollisionDetection* cd, CollisionPrimitive* primitive);
void CollisionDetection_RemovePrimitive(CollisionDetection* cd, CollisionPrimitive* primitive);

// Pairs groups a and b (1..32, symmetric); other numbers are ignored.
void CollisionDetection_EnableGroupPair(CollisionDetection* cd, int a, int b);
void CollisionDetection_DisableGroupPair(CollisionDetection* cd, int a, int b);
// Puts every primitive pair of the two bodies into / out of the excluded set.
void CollisionDetection_DisableBodyPair(CollisionDetection* cd, CollisionBody* a, CollisionBody* b);
void CollisionDetection_EnableBodyPair(CollisionDetection* cd, CollisionBody* a, CollisionBody* b);
// 1 when the pair is in the excluded set.
int CollisionDetection_IsExcluded(const CollisionDetection* cd, const CollisionPrimitive* a,
                                  const CollisionPrimitive* b);
// 1 when two primitives may interact at all: different bodies, groups paired,
// not excluded. Phantom and activity are not considered here.
int CollisionDetection_ShouldCollide(const CollisionDetection* cd, const CollisionPrimitive* a,
                                     const CollisionPrimitive* b);

// Refreshes the broad phase from the primitives' current bounds (grown by
// the margin, or by the body's reach when larger, and stretched along its
// sweep) and returns the candidate pairs ordered by ids: overlapping
// boxes, ShouldCollide, not both fixed or asleep-or-fixed, not quarantined.
// The array (also cd->pairs) stays valid until the next call or change.
int CollisionDetection_FindPairs(CollisionDetection* cd, const CollisionPair** pairs);

// The overlap query: contacts of body, at its current placement, deeper than
// kCollisionOverlapEpsilon, with every other body in the holder that it may
// collide with (phantoms on either side, filtered and excluded pairs do not
// count). The body's and the others' primitives are placed from their poses
// first, so moves made since the last step are seen; against meshes the
// side of each triangle is the side of the body's centre (what the step
// remembers of mesh sides is neither used nor changed). The three lists are
// cleared and filled (see CollisionRecordListIndex). Returns the total.
int CollisionDetection_GetContacts(CollisionDetection* cd, CollisionBody* body, CollisionRecordList out[3]);

struct SweepHit {
  float fraction;                // of the path from -> to, in [0, 1]
  Vec3 normal;                   // surface normal at impact, pointing at the sphere
  CollisionPrimitive* primitive; // the mesh primitive hit
};
// Sweeps a sphere primitive from `from` to `to` (centre positions, world)
// against the mesh primitives of the holder it may collide with. Returns 1
// with the earliest impact, 0 when the path is clear.
int CollisionDetection_SweepSphere(CollisionDetection* cd, const CollisionPrimitive* sphere, Vec3 from,
                                   Vec3 to, SweepHit* hit);
