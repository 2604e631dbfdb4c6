// CollisionBody: the part of a body that collision detection works with. The
// dynamics' RigidBody derives from it (next to PhysObject), so the detection
// holder, the broad and narrow phases and the queries need nothing else of
// the dynamics.
//
// Whoever moves a body (integration, teleports) calls CollisionBody_Place, so
// that the primitives' world frames and bounds follow at once: the overlap
// query reads them at the moment it is called.
#pragma once

#include <cstdint>

#include "physics/base/phys_array.h"
#include "physics/collision/collision_primitive.h"

class CollisionDetection;

enum CollisionBodyFlags {
  COLLISION_BODY_FIXED = 1,        // immovable (mass 0, pinned): fixed-fixed pairs are skipped
  COLLISION_BODY_ASLEEP = 2,       // deactivated: pairs of two sleeping or fixed bodies are skipped
  COLLISION_BODY_QUARANTINED = 4,  // placed at a non-finite pose: kept out of the broad phase
};

class CollisionBody {
public:
  CollisionBody();
  // Destroys the primitives (each sends its own destruction notice) after
  // leaving any detection holder.
  ~CollisionBody();
  CollisionBody(const CollisionBody&) = delete;
  CollisionBody& operator=(const CollisionBody&) = delete;

  PhysArray<CollisionPrimitive*, PHYS_MEM_PRIMITIVE> primitives;  // insertion order, owned
  Transform pose;              // world placement of the body origin
  uint32_t collisionId;        // stable id, from a counter at construction
  uint32_t collisionFlags = 0; // CollisionBodyFlags
  CollisionDetection* detection = nullptr;  // holder the body is in, or null
  void* user = nullptr;        // the deriving object (the RigidBody), for code that only sees primitives
  // What a fast body may close in a step, set by the dynamics before each
  // FindPairs (zero for none): the broad phase grows its bounds by `reach`
  // when more than the holder's tolerance, and stretches them along `sweep`.
  float reach = 0.0f;
  Vec3 sweep{0, 0, 0};
};

// Creates a primitive from desc, appends it and places it at the body's pose.
// If the body is in a detection holder the primitive joins it too. Returns
// the primitive or null (body unchanged).
CollisionPrimitive* CollisionBody_AddPrimitive(CollisionBody* body, const PrimitiveDesc& desc);
// Moves the body: stores the pose and places every primitive. A non-finite
// pose quarantines the body (it leaves the broad phase until placed again at
// a finite pose).
void CollisionBody_Place(CollisionBody* body, const Transform& pose);
// Sets the phantom flag / group word of every primitive.
void CollisionBody_SetPhantom(CollisionBody* body, int on);
void CollisionBody_SetGroup(CollisionBody* body, uint32_t group);
