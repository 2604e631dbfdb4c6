#include "physics/collision/collision_shape.h"

void CollisionShape_Retain(CollisionShape* shape) {
  if (shape) ++shape->references;
}

void CollisionShape_Release(CollisionShape* shape) {
  if (!shape) return;
  if (--shape->references <= 0) PhysObject_Destroy(shape);
}
