#include "physics/collision/collision_body.h"

#include "physics/base/phys_warning.h"
#include "physics/collision/collision_detection.h"

namespace {
uint32_t g_nextBodyId = 1;
}

CollisionBody::CollisionBody() : collisionId(g_nextBodyId++) { Transform_SetIdentity(&pose); }

CollisionBody::~CollisionBody() {
  if (detection) CollisionDetection_RemoveBody(detection, this);
  for (CollisionPrimitive* p : primitives) PhysObject_Destroy(p);
  primitives.Release();
}

CollisionPrimitive* CollisionBody_AddPrimitive(CollisionBody* body, const PrimitiveDesc& desc) {
  if (!body) return nullptr;
  CollisionPrimitive* p = CollisionPrimitive_Create(desc, body);
  if (!p) return nullptr;
  if (!body->primitives.Push(p)) {
    PhysObject_Destroy(p);
    return nullptr;
  }
  CollisionPrimitive_Place(p, body->pose);
  if (body->detection) CollisionDetection_AddPrimitive(body->detection, p);
  return p;
}

void CollisionBody_Place(CollisionBody* body, const Transform& pose) {
  if (!body) return;
  body->pose = pose;
  bool finite = Vec3_IsFinite(pose.position) && Quat_IsFinite(pose.rotation);
  if (!finite) {
    if (!(body->collisionFlags & COLLISION_BODY_QUARANTINED))
      PHYS_WARNING("CollisionBody_Place", "non-finite body placement: body kept out of collision");
    body->collisionFlags |= COLLISION_BODY_QUARANTINED;
  } else {
    body->collisionFlags &= ~uint32_t(COLLISION_BODY_QUARANTINED);
  }
  for (CollisionPrimitive* p : body->primitives) CollisionPrimitive_Place(p, pose);
}

void CollisionBody_SetPhantom(CollisionBody* body, int on) {
  if (!body) return;
  for (CollisionPrimitive* p : body->primitives) p->phantom = on ? 1 : 0;
}

void CollisionBody_SetGroup(CollisionBody* body, uint32_t group) {
  if (!body) return;
  for (CollisionPrimitive* p : body->primitives) p->group = group;
}
