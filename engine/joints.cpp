#include "engine/joints.h"

#include <cstdio>

#include "common/memory.h"
#include "engine/callbacks.h"
#include "engine/node.h"
#include "engine/objectscene.h"
#include "engine/objecttemplate.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physconstraint.h"
#include "engine/physworld.h"

namespace {

constexpr float kDegreesToRadians = 6.28318530718f / 360.0f;

// The private data of both behaviours: the joint and what it holds. The held
// object is known by its body handle and serial, never by a bare pointer
// (it may be destroyed during play).
struct JointData {
    PhysConstraint* constraint;  // null once let go of
    PhysBody* heldBody;
    uint32_t heldSerial;
    float factor;                // point-to-point: velocity factor per frame
    Vec3 motor;                  // hinge: angular velocity kept every frame
    uint32_t motorOn;
};

// The object of the current item's parent, when it has a body.
Object* HeldObject(const char* behaviour)
{
    Node* item = ObjectScene_GetCurrentItemNode();
    if (!item) return nullptr;  // outside an object-scene walk: no joint
    Node* parent = Node_GetParent(item);
    Object* held = parent ? static_cast<Object*>(Node_GetObject(parent)) : nullptr;
    if (!held || !held->body) {
        const char* name = parent ? Node_GetNameText(parent) : nullptr;
        fprintf(stderr, "%s: parent item \"%s\" has no object with a body; no joint\n", behaviour,
                name ? name : "");
        return nullptr;
    }
    return held;
}

JointData* MakeData(Object* object, Object* held, int kind)
{
    PhysWorld* world = ObjectWorld_GetPhysicsWorld();
    JointData* d = static_cast<JointData*>(Mem_Calloc(sizeof(JointData), 16));
    if (!d) return nullptr;
    d->constraint = PhysConstraint_Create(world, held->body, nullptr, kind);
    if (!d->constraint) {
        Mem_Free(d);
        return nullptr;
    }
    d->heldBody = held->body;
    d->heldSerial = held->serial;
    Object_SetUserData(object, d);
    return d;
}

void LetGo(JointData* d)
{
    if (!d->constraint) return;
    PhysWorld* world = ObjectWorld_GetPhysicsWorld();
    PhysConstraint_Detach(world, d->constraint);
    PhysConstraint_Destroy(world, d->constraint);
    d->constraint = nullptr;
}

// The held body while its object lives; otherwise the joint lets go and
// null is returned.
PhysBody* Held(JointData* d)
{
    if (!d) return nullptr;
    if (!d->constraint || !Object_FromBody(d->heldBody, d->heldSerial)) {
        LetGo(d);
        return nullptr;
    }
    return d->heldBody;
}

uint32_t Destroy(Object* object)
{
    JointData* d = static_cast<JointData*>(Object_GetUserData(object));
    if (!d) return 0;
    LetGo(d);
    Mem_Free(d);
    Object_SetUserData(object, nullptr);
    return 0;
}

}  // namespace

uint32_t Point2Point_Constructor(Object* object, uint32_t, void* templateRecord)
{
    Object_SetUserData(object, nullptr);
    const ObjectTemplate* t = static_cast<const ObjectTemplate*>(templateRecord);
    Object* held = HeldObject("Point2Point");
    if (!held || !t) return 0;
    JointData* d = MakeData(object, held, PHYS_JOINT_POINT2POINT);
    if (!d) return 0;
    Vec3 pivot;
    Node_GetWorldPosition(ObjectScene_GetCurrentItemNode(), &pivot);
    PhysConstraint_SetPivot(d->constraint, &pivot);
    PhysConstraint_SetStrength(d->constraint, t->fpVal[0]);
    PhysConstraint_SetDamping(d->constraint, t->fpVal[1]);
    d->factor = t->fpVal[2];
    PhysConstraint_Attach(ObjectWorld_GetPhysicsWorld(), d->constraint, 0);
    object->update = Point2Point_Update;
    return 0;
}

uint32_t Point2Point_Destructor(Object* object, uint32_t, void*) { return Destroy(object); }

uint32_t Point2Point_Update(Object* object, uint32_t, void*)
{
    JointData* d = static_cast<JointData*>(Object_GetUserData(object));
    PhysBody* body = Held(d);
    if (!body) return 0;
    PhysBody_SetActive(body, 1);
    PhysBody_ScaleVelocities(body, d->factor);
    return 0;
}

uint32_t Hinge_Constructor(Object* object, uint32_t, void* templateRecord)
{
    Object_SetUserData(object, nullptr);
    const ObjectTemplate* t = static_cast<const ObjectTemplate*>(templateRecord);
    Object* held = HeldObject("Hinge");
    if (!held || !t) return 0;
    JointData* d = MakeData(object, held, PHYS_JOINT_HINGE);
    if (!d) return 0;
    Node* item = ObjectScene_GetCurrentItemNode();
    Vec3 pivot, axis, up;
    Node_GetWorldPosition(item, &pivot);
    Node_GetWorldOrientation(item, &axis, &up);
    PhysConstraint_SetHingePivotAxis(d->constraint, &pivot, &axis);
    const float* fp = t->fpVal;
    if (fp[0] != 0.0f || fp[1] != 0.0f)
        PhysConstraint_SetHingeLimits(d->constraint, fp[1] * kDegreesToRadians, fp[0] * kDegreesToRadians);
    if (fp[2] != 0.0f) {
        d->motor = Vec3{axis.x * fp[2], axis.y * fp[2], axis.z * fp[2]};
        d->motorOn = 1;
    }
    if (fp[3] > 0.0f) PhysConstraint_SetHingeMotor(d->constraint, fp[3]);
    if (fp[4] > 0.0f) PhysConstraint_SetDamping(d->constraint, fp[4]);
    if (fp[5] > 0.0f) PhysConstraint_SetStrength(d->constraint, fp[5]);
    PhysConstraint_Attach(ObjectWorld_GetPhysicsWorld(), d->constraint, 0);
    return 0;
}

uint32_t Hinge_Destructor(Object* object, uint32_t, void*) { return Destroy(object); }

uint32_t Hinge_Update(Object* object, uint32_t, void*)
{
    JointData* d = static_cast<JointData*>(Object_GetUserData(object));
    PhysBody* body = Held(d);
    if (!body) return 0;
    if (d->motorOn) PhysBody_SetAngularVelocity(body, &d->motor);
    PhysBody_SetActive(body, 1);
    return 0;
}

uint32_t Hinge_Collision(Object*, Object*, uint32_t) { return 0; }

void Point2Point_Register(void)
{
    CallbackRegistry_AddFn("Point2Point_Constructor", Point2Point_Constructor);
    CallbackRegistry_AddFn("Point2Point_Destructor", Point2Point_Destructor);
    CallbackRegistry_AddFn("Point2Point_Update", Point2Point_Update);
}

void Hinge_Register(void)
{
    CallbackRegistry_AddFn("Hinge_Constructor", Hinge_Constructor);
    CallbackRegistry_AddFn("Hinge_Destructor", Hinge_Destructor);
    CallbackRegistry_AddFn("Hinge_Update", Hinge_Update);
    CallbackRegistry_AddFn("Hinge_Collision", Hinge_Collision);
}

PhysConstraint* Joint_GetConstraint(const Object* object)
{
    const JointData* d = static_cast<const JointData*>(Object_GetUserData(object));
    return d ? d->constraint : nullptr;
}
