// Physics world: the engine layer's function interface over the physics
// engine. One PhysWorld is one simulated world: the physics engine's world
// object (a dynamics world with one simulation, one rigid subspace, a
// constraint manager acting in it and a collision-detection holder), a
// collision listener that turns contacts of registered bodies into events,
// and the pools of the engine layer's handles (bodies, constraints, field
// actions, shapes) with the list of bodies whose scene-graph node follows
// them. The game makes one world per level from the built-in defaults, sets
// it as the object world's physics world and steps it once per frame; after
// each step every listed body's node is moved to its body.
//
// Memory: the physics engine allocates through the hooks Phys_Init installs
// (PhysMem_*, over Mem_Alloc). They stay installed for the rest of the
// process, since blocks must be freed through the hooks that made them.
//
// Lifetime: a world lives from PhysWorld_Create to PhysWorld_Destroy; its
// handles, shapes, constraints and field actions go with it. The physics
// engine's base system runs while at least one world is alive. Main thread
// only.
#pragma once

#include <cstdint>

#include "common/maths.h"
#include "physics/base/phys_array.h"
#include "physics/dynamics/action.h"
#include "physics/dynamics/phys_time.h"

struct List;
struct PhysBody;
class CollisionDetection;
class CollisionListener;
class ConstraintManager;
class DynWorld;
class PhysObject;
class Simulation;
class Subspace;

// Block parameters of PhysWorld_Create, and those of PhysWorld_CreateDefault.
enum PhysWorldParam {
    PHYS_PARAM_BODIES = 0,      // body handles (fixed capacity)
    PHYS_PARAM_BODY_LIST = 1,   // bodies whose node follows them (fixed capacity)
    PHYS_PARAM_SHAPES = 2,      // shape records (fixed capacity)
    PHYS_PARAM_LARGE = 3,       // large records (fixed capacity)
    PHYS_PARAM_COUNT = 4
};
constexpr uint32_t kPhysDefaultParams[PHYS_PARAM_COUNT] = {1024, 1024, 768, 8};

// The physics engine's objects of one world. The first five are made with
// the world and deleted with it; `owned` holds every further engine object
// made through this layer (rigid bodies, constraints and actions), which
// deleting the world object deletes too.
struct PhysWorldObject {
    DynWorld* dynWorld;             // version stamp 4545
    Simulation* simulation;         // resolver 2, gravity (0, -9.81, 0), freeze periods 0.2 s and 10 s
    Subspace* subspace;             // the rigid subspace, integrator 0
    CollisionDetection* detection;  // tolerance 0.1
    ConstraintManager* constraints; // an action of the subspace, priority 0
    PhysArray<PhysObject*, PHYS_MEM_WORLD> owned;
};

struct PhysWorld {
    List* bodyPool;        // PhysBody handles
    List* constraintPool;  // PhysConstraint handles (grows without limit)
    List* fieldPool;       // PhysField* (grows without limit)
    List* shapePool;       // PhysShape records
    List* largePool;       // large records: emptied and destroyed with the world, filled by nothing here
    PhysWorldObject* object;
    CollisionListener* listener;  // on the simulation's dispatcher
    List* bodyList;        // PhysBody*: the bodies whose node follows them after each step
    double time;           // accumulated simulation time in seconds (double: hours of play keep ms steps)
};

// ---------------------------------------------------------------- Module

// Installs the memory hooks (once per process), checks them with a trial
// allocation and creates the world pool. 1, or 0 when memory fails.
int Phys_Init(void);
// Creates the world pool (Phys_Init does it). 1 on success.
int PhysWorlds_Init(void);
// Destroys every live world and the world pool; the base system stops.
void PhysWorlds_DestroyAll(void);

// Allocation glue handed to the physics engine and used by this layer:
// PhysMem_Alloc16 (size) = Mem_Alloc (size, 16); PhysMem_Alloc and
// PhysMem_Free are Mem_Alloc / Mem_Free. While tracking is on, every block
// is recorded in the tracking list and forgotten when freed.
void* PhysMem_Alloc16(size_t size);
void* PhysMem_Alloc(size_t size, size_t alignment);
void PhysMem_Free(void* block);
// Switches tracking on or off; switching it off forgets the recorded blocks.
void PhysMem_SetTracking(int on);
// Blocks allocated while tracking was on and not freed since.
uint32_t PhysMem_GetTrackedCount(void);

// ---------------------------------------------------------------- Worlds

// A world whose pools have the given block parameters (PhysWorldParam; 0
// leaves a pool growing without limit), or null when memory fails. The
// first live world starts the physics engine's base system.
PhysWorld* PhysWorld_Create(const uint32_t params[PHYS_PARAM_COUNT]);
// PhysWorld_Create with 1024 body handles, 1024 followed bodies, 768
// shapes and 8 large records.
PhysWorld* PhysWorld_CreateDefault(void);
// Destroys, in this order: the large records, the body list, every body
// handle, field action, constraint (detached first) and shape, the
// listener and the world object. The last live world stops the base system.
// Null is ignored.
void PhysWorld_Destroy(PhysWorld* world);
// Number of live worlds.
int PhysWorld_GetLiveCount(void);

// One frame: dt <= 0 (or NaN) gives no sub-step and no time change; else
// ceil(dt x 50) sub-steps, at most 3, and the time advances by min(dt, 0.1).
// Contact and overlap events are dispatched inside. Then every listed
// body's node is moved to its body (even at dt = 0).
void PhysWorld_Step(PhysWorld* world, float dt);
// PhysWorld_Step.
void PhysWorld_Update(PhysWorld* world, float dt);
// The sub-step count PhysWorld_Step asks for at frame time dt.
int PhysWorld_SubStepCount(float dt);

// The stepping seam: every PhysWorld_Step ends in this call (DynWorld_Step
// by default). Tests install a recording stand-in to read the time and
// sub-step count handed down; null restores DynWorld_Step.
typedef void (*PhysStepFn)(DynWorld* world, PhysTime time, int subSteps);
void PhysWorld_SetStepFunction(PhysStepFn fn);

// The rotation of a body's quaternion as the node sync applies it: returns
// the angle (0 when not finite or below 0.01 rad, the snap of near-identity
// rotations) and writes the unit axis ((0, 1, 0) for angle 0).
float PhysWorld_QuatToAxisAngle(Quat q, Vec3* axis);

// Puts the body on the body list (once), zeroes its velocities, places it
// at position with the orientation built from at and up (identity when
// either is null), attaches it to the rigid subspace and adds its
// primitives to collision detection. Placing comes first: the body keeps
// its stored activation state.
void PhysWorld_AddBody(PhysWorld* world, PhysBody* body, const Vec3* position, const Vec3* at, const Vec3* up);
// Takes the body off the body list and tells the rigid body's dependents
// that it leaves its world (it leaves the subspace and collision detection;
// its constraints and event registrations stay, dormant).
void PhysWorld_RemoveBody(PhysWorld* world, PhysBody* body);
void PhysWorld_SetGravity(PhysWorld* world, const Vec3* gravity);
// Groups a and b (1..32) collide with each other; other numbers are ignored.
void PhysWorld_PairCollisionGroups(PhysWorld* world, int a, int b);
// The two bodies stop (Ignore) or start again (Unignore) colliding.
void PhysWorld_IgnoreBodyPair(PhysWorld* world, PhysBody* a, PhysBody* b);
void PhysWorld_UnignoreBodyPair(PhysWorld* world, PhysBody* a, PhysBody* b);
// Registers every primitive of the body with the world's collision listener
// (threshold: the event parameter), so that its contacts become events.
void PhysWorld_RegisterBodyEvents(PhysWorld* world, PhysBody* body);
// Forgets the registrations of every primitive of the body.
void PhysWorld_UnregisterBodyEvents(PhysWorld* world, PhysBody* body);
// The approach-speed threshold of later registrations (0 at start).
void PhysWorld_SetEventParam(float value);
PhysWorldObject* PhysWorld_GetWorldObject(PhysWorld* world);
// 1 when the world object's owned set holds the engine object.
int PhysWorld_Owns(const PhysWorld* world, const PhysObject* object);
// Adds an engine object to / takes it out of the owned set (this layer's
// modules; the object is then deleted with the world).
int PhysWorld_Own(PhysWorld* world, PhysObject* object);
void PhysWorld_Disown(PhysWorld* world, PhysObject* object);

// ---------------------------------------------------------- Field actions

// An action of the rigid subspace that pulls the bodies of its list towards
// a point within a cone: each sub-step, for a body at d = (its centre of mass
// - the centre), r = |d|, n = d / r: when r < radius and the angle between n
// and the axis is below half the cone angle, the body is woken and gets the
// force -n x strength x (1 - r / radius)^exponent; the anchor body, when
// there is one, gets the opposite force, and the centre and axis move with
// it.
class PhysField : public Action {
public:
    ~PhysField() override;
    void Apply(Subspace* subspace, float h) override;

    uint8_t enabled = 1;
    float strength = 0.0f;
    float radius = 0.0f;
    float halfCone = 0.0f;  // radians
    Vec3 centre{0, 0, 0};   // in the anchor's space when there is one
    Vec3 axis{0, 1, 0};     // unit
    float exponent = 1.0f;
    PhysBody* anchor = nullptr;
    PhysArray<PhysBody*, PHYS_MEM_CONSTRAINT> bodies;
    void** slot = nullptr;  // the field pool item that holds this field
};

// A field added to the rigid subspace (priority 0), or null when memory
// fails. coneAngle is the full cone angle in radians; a zero axis points
// nowhere (only bodies at a right angle or less pass then).
PhysField* PhysField_Create(PhysWorld* world, float strength, float exponent, float coneAngle, float radius,
                            const Vec3* centre, const Vec3* axis, PhysBody* anchor);
// on = 1 adds the body (once), 0 removes it.
void PhysField_SetBodyInside(PhysField* field, PhysBody* body, int on);
void PhysField_RemoveBody(PhysField* field, PhysBody* body);
// Removes the body from every field of the world, and drops it as the
// anchor of any field (PhysBody_Destroy does this).
void PhysField_RemoveBodyFromAll(PhysWorld* world, PhysBody* body);
// Takes the field out of the subspace and deletes it. Null is ignored.
void PhysField_Destroy(PhysWorld* world, PhysField* field);
