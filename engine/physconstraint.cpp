#include "engine/physconstraint.h"

#include "common/list.h"
#include "engine/physbody.h"
#include "engine/physworld.h"
#include "physics/dynamics/constraint.h"
#include "physics/dynamics/rigid_body.h"
#include "physics/dynamics/simulation.h"
#include "physics/dynamics/spring_actions.h"
#include "physics/dynamics/subspace.h"

namespace {

constexpr float kActionStrength = 1.0f;
constexpr float kActionDamping = 0.1f;
constexpr float kSuspensionValue = 1.0f;

int NeedsBodyB(int kind)
{
    return kind == PHYS_JOINT_DASHPOT || kind == PHYS_JOINT_FRAME || kind == PHYS_JOINT_TWOAXIS ||
           kind == PHYS_JOINT_DISTANCE || kind == PHYS_JOINT_SUSPENSION_DASHPOT;
}

PhysObject* MakeObject(int kind, RigidBody* a, RigidBody* b)
{
    const Vec3 zero{0, 0, 0};
    switch (kind) {
    case PHYS_JOINT_HINGE: return HingeConstraint_Construct(a, b);
    case PHYS_JOINT_DASHPOT: return Dashpot_Construct(a, zero, b, zero, kActionStrength, kActionDamping);
    case PHYS_JOINT_POINT2POINT: return Point2PointConstraint_Construct(a, b);
    case PHYS_JOINT_FRAME: return FrameConstraint_Construct(a, b);
    case PHYS_JOINT_TWOAXIS: return TwoAxisConstraint_Construct(a, b);
    case PHYS_JOINT_DISTANCE: return DistanceConstraint_Construct(a, b);
    case PHYS_JOINT_SUSPENSION_DASHPOT:
        return SuspensionDashpot_Construct(a, zero, b, zero, zero, kSuspensionValue);
    case PHYS_JOINT_ANGULAR_SPRING: {
        Vec3 position;
        Quat rotation;
        RigidBody_GetPositionAndRotation(a, &position, &rotation);
        return AngularSpring_Construct(a, rotation, kActionStrength, kActionDamping);
    }
    default: return nullptr;
    }
}

Constraint* AsJoint(PhysConstraint* c)
{
    return c && c->object && PhysConstraint_IsJoint(c->kind) ? static_cast<Constraint*>(c->object) : nullptr;
}

Subspace* SubspaceOf(PhysWorld* world, int index)
{
    if (!world || !world->object || !world->object->simulation) return nullptr;
    Simulation* sim = world->object->simulation;
    if (index < 0 || index >= sim->subspaces.Count()) return nullptr;
    return sim->subspaces[index];
}

}  // namespace

int PhysConstraint_IsJoint(int kind)
{
    return kind == PHYS_JOINT_HINGE || (kind >= PHYS_JOINT_POINT2POINT && kind <= PHYS_JOINT_DISTANCE);
}

PhysConstraint* PhysConstraint_Create(PhysWorld* world, PhysBody* a, PhysBody* b, int kind)
{
    if (!world || !world->constraintPool || kind < 0 || kind >= PHYS_JOINT_KIND_COUNT) return nullptr;
    RigidBody* ra = PhysBody_Unwrap(a);
    RigidBody* rb = PhysBody_Unwrap(b);
    if (!ra || (NeedsBodyB(kind) && !rb)) return nullptr;
    PhysObject* object = MakeObject(kind, ra, rb);
    if (!object) return nullptr;
    PhysConstraint* c = static_cast<PhysConstraint*>(List_Alloc(world->constraintPool));
    if (!c || !PhysWorld_Own(world, object)) {
        if (c) List_Free(world->constraintPool, c);
        PhysObject_Destroy(object);
        return nullptr;
    }
    c->kind = kind;
    c->object = object;
    return c;
}

int PhysConstraint_Attach(PhysWorld* world, PhysConstraint* c, int subspace)
{
    if (!world || !world->object || !c || !c->object) return 0;
    if (PhysConstraint_IsJoint(c->kind)) {
        if (!ConstraintManager_AddConstraint(world->object->constraints, static_cast<Constraint*>(c->object)))
            return 0;
    } else {
        Subspace* sub = SubspaceOf(world, subspace);
        if (!sub || !Subspace_AddAction(sub, static_cast<Action*>(c->object), 0)) return 0;
        c->subspace = subspace;
    }
    c->attached = 1;
    return 1;
}

void PhysConstraint_Detach(PhysWorld* world, PhysConstraint* c)
{
    if (!world || !world->object || !c || !c->object) return;
    if (PhysConstraint_IsJoint(c->kind)) {
        ConstraintManager_RemoveConstraint(world->object->constraints, static_cast<Constraint*>(c->object));
    } else if (Subspace* sub = SubspaceOf(world, c->subspace)) {
        Subspace_RemoveAction(sub, static_cast<Action*>(c->object));
    }
    c->attached = 0;
}

void PhysConstraint_Destroy(PhysWorld* world, PhysConstraint* c)
{
    if (!world || !c) return;
    if (c->attached) PhysConstraint_Detach(world, c);
    if (c->object) {
        // Every kind, dashpots included: a deleted action must not outlive
        // the bodies it points at inside the owned set.
        PhysWorld_Disown(world, c->object);
        PhysObject_Destroy(c->object);
        c->object = nullptr;
    }
    List_Free(world->constraintPool, c);
}

void PhysConstraint_SetStrength(PhysConstraint* c, float strength)
{
    if (!c || !c->object) return;
    if (Constraint* j = AsJoint(c)) {
        j->strength = strength;
        Constraint_Rebuild(j);
        return;
    }
    switch (c->kind) {
    case PHYS_JOINT_DASHPOT: static_cast<Dashpot*>(c->object)->strength = strength; break;
    case PHYS_JOINT_SUSPENSION_DASHPOT: {
        SuspensionDashpot* s = static_cast<SuspensionDashpot*>(c->object);
        s->value = strength;
        SuspensionDashpot_Recompute(s);
        break;
    }
    case PHYS_JOINT_ANGULAR_SPRING: static_cast<AngularSpring*>(c->object)->strength = strength; break;
    default: break;
    }
}

void PhysConstraint_SetDamping(PhysConstraint* c, float damping)
{
    if (Constraint* j = AsJoint(c)) {
        j->damping = damping;
        Constraint_Rebuild(j);
    }
}

void PhysConstraint_SetPivot(PhysConstraint* c, const Vec3* pivot)
{
    if (!c || c->kind != PHYS_JOINT_POINT2POINT || !c->object || !pivot) return;
    Point2PointConstraint_SetPivotWorld(static_cast<Point2PointConstraint*>(c->object), *pivot);
}

void PhysConstraint_SetHingePivotAxis(PhysConstraint* c, const Vec3* pivot, const Vec3* axis)
{
    if (!c || c->kind != PHYS_JOINT_HINGE || !c->object || !pivot || !axis) return;
    HingeConstraint_SetPivotAxisWorld(static_cast<HingeConstraint*>(c->object), *pivot, *axis);
}

void PhysConstraint_SetHingeLimits(PhysConstraint* c, float a, float b)
{
    if (!c || c->kind != PHYS_JOINT_HINGE || !c->object) return;
    HingeConstraint* h = static_cast<HingeConstraint*>(c->object);
    h->limitOn = 1;
    h->limit[0] = b;
    h->limit[1] = a;
    Constraint_Rebuild(h);
}

void PhysConstraint_SetHingeMotor(PhysConstraint* c, float v)
{
    if (!c || c->kind != PHYS_JOINT_HINGE || !c->object) return;
    HingeConstraint* h = static_cast<HingeConstraint*>(c->object);
    h->motorOn = v != 0.0f;
    h->motor[0] = v;
    h->motor[1] = 0.0f;
    Constraint_Rebuild(h);
}
