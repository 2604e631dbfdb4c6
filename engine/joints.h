// Point-to-point and hinge behaviours: a scene item that turns into a
// physics joint holding its parent item's object to the world (a swinging
// sign, a door, a flap, a wheel with a motor). Both are ordinary object
// callbacks registered by name and named in an object configuration file
// placed as a child item of the object it holds; their parameters are the
// template's FPVal values:
//   Point2Point: FPVal0 strength, FPVal1 damping, FPVal2 the factor applied
//     to the held body's velocities every frame (1 keeps them; the body is
//     kept awake).
//   Hinge: FPVal0, FPVal1 the limits in degrees (none when both are 0),
//     FPVal2 a motor speed: the held body's angular velocity is kept at the
//     hinge axis x FPVal2 every frame when not 0; FPVal3 the hinge motor's
//     value, FPVal4 damping and FPVal5 strength, each when above 0.
// The hinge axis is the item's at axis (the first output of
// Node_GetWorldOrientation); the pivot is the item's world position.
//
// A joint keeps the held body handle and the held object's serial; when the
// held object is gone it detaches and destroys its constraint. Outside an
// object-scene walk, or when the parent item has no object with a body, the
// Constructors make no joint.
#pragma once

#include <cstdint>

struct Object;
struct PhysConstraint;

uint32_t Point2Point_Constructor(Object* object, uint32_t zero, void* templateRecord);
uint32_t Point2Point_Destructor(Object* object, uint32_t zero, void* unused);
uint32_t Point2Point_Update(Object* object, uint32_t zero, void* dt);
uint32_t Hinge_Constructor(Object* object, uint32_t zero, void* templateRecord);
uint32_t Hinge_Destructor(Object* object, uint32_t zero, void* unused);
uint32_t Hinge_Update(Object* object, uint32_t zero, void* dt);
uint32_t Hinge_Collision(Object* object, Object* other, uint32_t side);

// Register the callbacks by name ("Point2Point_Constructor", ...).
void Point2Point_Register(void);
void Hinge_Register(void);

// The joint's constraint, or null (no joint, or let go of).
PhysConstraint* Joint_GetConstraint(const Object* object);
