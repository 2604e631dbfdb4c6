// Object world and objects. Every placed thing of a level (crates, doors,
// pickups, the players' entities, behaviour-driven props) is an engine
// object: one fixed-size record that ties together a scene-graph node, an
// optional visual (a LightWave object, a LightWave scene or an animation set)
// with up to five levels of detail, an optional physics body, an optional
// ground shadow, a name, a flag word and four named callbacks (Constructor,
// Destructor, Update, Collision).
//
// Objects live in object pools held by the one ObjectWorld record, which
// also holds the physics world and the root node under which objects hang.
// The game creates the world, sets its physics world, makes the pools and
// the objects (through object configuration files or object scenes),
// updates each pool once per frame and destroys the pools at the end of a
// level.
//
// Lifetime: an object lives from Object_Create / Object_CreateFromTemplate
// (its Constructor runs last) to Object_Destroy (its Destructor runs first).
// Each object gets a serial number at creation, zeroed when it is
// destroyed: code that keeps a reference across frames (joints, targets)
// keeps the serial too and checks it before use. Main thread only; the
// callbacks run synchronously inside Object_Create, Object_Update,
// Object_Destroy and the physics step (Collision).
#pragma once

#include <cstdint>

#include "common/maths.h"
#include "engine/animset.h"

struct List;
struct Node;
struct Object;
struct ObjectTemplate;
struct PhysBody;
struct PhysWorld;
struct RenderObj;
struct Scene;
struct Sprite3d;

constexpr int OBJECT_POOL_SLOTS = 10;
constexpr int OBJECT_MAX_LODS = 5;
constexpr int OBJECT_MAX_PARTNERS = 15;
constexpr int OBJECT_NAME_MAX = 1024;
constexpr int OBJECT_MODEL_MAX = 1024;
constexpr int OBJECT_SPRITE_NAME_MAX = 256;

// Constructor (object, 0, template record), Update (object, 0, pointer to a
// private copy of the frame time in seconds, f32) and Destructor (object, 0,
// null). The result is not used.
typedef uint32_t (*ObjectFn)(Object* object, uint32_t zero, void* arg);
// Collision (object, the other object or null, side): see objectcollision.h.
typedef uint32_t (*ObjectCollisionFn)(Object* object, Object* other, uint32_t side);

// Object flags.
enum : uint32_t {
    OBJECT_SHADOW = 1,               // shadow on the ground (set when a shadow sprite is made)
    OBJECT_SHADOW_ALWAYS = 2,        // shadow placed even when no ground is found
    OBJECT_PHANTOM = 4,
    OBJECT_ACTIVE = 8,
    OBJECT_PINNED = 16,              // only for a body of mass above 0
    OBJECT_LIMIT_SPIN_X = 32,
    OBJECT_LIMIT_SPIN_Y = 64,
    OBJECT_LIMIT_SPIN_Z = 128,
    OBJECT_STATIC = 256,             // mass 0 or less
    OBJECT_NO_PICK = 512,            // RemoveFromPickList
    OBJECT_MADE_WHILE_LOADING = 1024 // its visual load set the loading flag: not instanced
};

// Ownership flags: what Object_Destroy releases.
enum : uint32_t {
    OBJECT_OWNS_VISUALS = 2,  // visuals, scenes, levels of detail, animation set
    OBJECT_OWNS_BODY = 4,
    OBJECT_OWNS_NODE = 8,
    OBJECT_OWNS_ALL = 14,     // what a description's 0 stands for
};

// Object_Sync flags.
enum : uint32_t {
    OBJECT_SYNC_FOLLOW = 1,  // the node follows the body after each step (mass above 0 only)
    OBJECT_SYNC_ADD = 2,     // the body joins the physics world at the node's world pose
    OBJECT_SYNC_PICK = 4,    // the body joins the pick list
    OBJECT_SYNC_ROOT = 8,    // the node moves under the world's root node
    OBJECT_SYNC_ALL = 15,
};

struct Object {
    Node* node;                               // the object's place in the scene graph
    PhysBody* body;                           // or null
    Node* sceneNode;                          // under which a scene visual is instanced, or null
    Scene* scene;                             // or null
    AnimSet* animSet;                         // or null
    RenderObj* visual;                        // mesh visual of a LightWave object, or null
    Node* lodNodes[OBJECT_MAX_LODS];          // scene levels of detail
    RenderObj* lodVisuals[OBJECT_MAX_LODS];   // object levels of detail
    Scene* lodScenes[OBJECT_MAX_LODS];
    List* pool;                               // the pool the record came from
    Sprite3d* shadow;                         // ground shadow, or null
    float shadowSize[2];
    float motionFactor;                       // 1 - MotionDamping, clamped to 0..1
    float rotationFactor;                     // 1 - RotationDamping, clamped to 0..1
    uint32_t removeFromPickList;
    Vec3 lastShadowOrigin;                    // where the last shadow ray started
    Vec3 shadowPosition, shadowNormal, shadowAxis;
    uintptr_t partnerKeys[OBJECT_MAX_PARTNERS];  // contact partners since the last update (sum keys)
    uint32_t partnerCount;
    uint32_t userInt;
    uint32_t flags;                           // OBJECT_* flags
    uint32_t lodCount;
    uint32_t ownership;                       // OBJECT_OWNS_*
    char name[OBJECT_NAME_MAX];
    uint32_t nameHash;                        // Name_Hash (name, 0, 1); 0 for instances of a template
    uint32_t collisionGroup;
    uintptr_t userWord;
    void* userData;                           // behaviour-private data
    ObjectFn constructor, destructor, update;
    ObjectCollisionFn collision;
    // Kept beside the Part's fields.
    uint32_t serial;                          // creation number; 0 once destroyed
    uint32_t shadowState;                     // bit 0 a ray was cast, bit 1 a placement exists
    ObjectTemplate* templateOf;               // the template this object is the template object of
    uint32_t destroying;                      // set while Object_Destroy runs its Destructor
};

// What Object_Create builds an object from; the template loader fills it
// from an object configuration file.
struct ObjectDescription {
    char name[OBJECT_NAME_MAX];
    char path[OBJECT_NAME_MAX];         // configuration path
    Node* node;                         // existing node, or null
    Node* parent;                       // parent of a new node
    char visualModel[OBJECT_MODEL_MAX]; // "" = none
    uint32_t visualFlags;               // visual load flags (see the template loader)
    Scene* scene;                       // existing scene visual
    RenderObj* visual;                  // existing mesh visual
    AnimSet* animSet;                   // existing animation set
    char physicalModel[OBJECT_MODEL_MAX];
    PhysBody* body;                     // existing body
    float mass, friction, restitution;
    uint32_t active;
    uint32_t convex;                    // 1 unless "Concave"
    uint32_t phantom, pinned;
    uint32_t limitSpin[3];
    Vec3 centreOfMassShift;
    uint32_t collisionGroup;
    uint32_t composite, scalable, noTextureSharing;
    uint32_t userInt;
    uint32_t ownership;                 // 0 = OBJECT_OWNS_ALL
    uintptr_t userWord;
    void* userData;
    ObjectFn constructor, destructor, update;
    ObjectCollisionFn collision;
    ObjectTemplate* templateRecord;     // handed to the Constructor
    char shadowName[OBJECT_SPRITE_NAME_MAX];
    char shadowMask[OBJECT_SPRITE_NAME_MAX];
    int32_t shadowPixelHeight;
    float shadowSize[2];
    float motionDamping, rotationDamping;
    uint32_t removeFromPickList;
};

// ---------------------------------------------------------------- World

// Creates the world record (once) and its root node. 1, or 0 when memory
// fails. ObjectWorld_Shutdown destroys every pool, the root node and the
// record.
int ObjectWorld_Init(void);
void ObjectWorld_Shutdown(void);
// A new pool in the first empty of the ten slots (the world is created when
// needed); null when all ten are in use.
List* ObjectPool_Create(void);
// Destroys the hinge and point-to-point objects first (their joints refer to
// other objects' bodies), then every other object, then the pool. An
// unknown pool is ignored.
void ObjectPool_Destroy(List* pool);
void ObjectWorld_DestroyAllPools(void);
// Object_Update for every object of the pool in pool order.
void ObjectPool_Update(List* pool, const float* dt);

Node* ObjectWorld_GetRootNode(void);
void ObjectWorld_SetRootNode(Node* node);
PhysWorld* ObjectWorld_GetPhysicsWorld(void);
void ObjectWorld_SetPhysicsWorld(PhysWorld* world);
// The event lookup handed to every animation-set load of an object visual.
void ObjectWorld_SetEventLookup(AnimEventLookup lookup);
AnimEventLookup ObjectWorld_GetEventLookup(void);
// The loading flag: set by the scene and mesh loaders when they make content
// that a second instance cannot share (a scene with bones, whose copies need
// skin bindings of their own; a scene or mesh kept out of the registry). An
// object whose visual load sets it gets OBJECT_MADE_WHILE_LOADING, and the
// template loader then reads that object's file afresh for every further
// instance instead of instancing it.
void ObjectWorld_SetLoadingFlag(void);
void ObjectWorld_ClearLoadingFlag(void);
uint32_t ObjectWorld_GetLoadingFlag(void);
// The destroyed-during-update flag: cleared before each Update callback (and
// each Collision dispatch), set by every Object_Destroy.
uint32_t ObjectWorld_GetDestroyedFlag(void);
void ObjectWorld_ClearDestroyedFlag(void);

// ---------------------------------------------------------------- Objects

// Builds an object from the description (see objectworld.cpp): node, visual
// (chosen by the VisualModel text, case ignored) and its levels of detail,
// body (chosen by the PhysicalModel text), shadow sprite, body settings,
// links, then the Constructor. A visual or body that fails to load leaves
// its field empty and the object is still made. Null only when the pool is
// full or a node cannot be made.
Object* Object_Create(List* pool, const ObjectDescription* description);
// A second instance of an object built from the same configuration file:
// node = the given one moved under parent, else a new node under parent;
// a clone of the body; the visuals shared (a writeable copy loaded afresh),
// scene and animation-set instances, a copy of the shadow sprite; the
// fields copied (the name hash stays 0); then the Constructor. pool null
// takes the template object's pool.
Object* Object_CreateFromTemplate(Node* node, Object* templateObject, ObjectTemplate* templateRecord, Node* parent,
                                  List* pool);
// Update callback, partner reset, damping and ground shadow of one object.
void Object_Update(Object* object, const float* dt);
// Destructor, then what the ownership flags name; the body's owner word and
// the node's object link are cleared when they still name this object,
// whatever the flags. The record returns to its pool. Null is ignored.
void Object_Destroy(Object* object);
// OBJECT_SYNC_* flags: follow, add, pick and root need what they name (a
// body for the first three).
void Object_Sync(Object* object, uint32_t flags);
// Position and axes from the body when there is one, else from the node's
// world matrix. CAREFUL: up comes before at. The axes are written only when
// both outputs are given; position may be null.
void Object_GetTransform(Object* object, Vec3* position, Vec3* up, Vec3* at);
// 1 when the object's animation ended with this advance: a scene visual's
// time reaches or passes its end; an animation set reports its end; else 0.
int Object_AdvanceAnimation(Object* object, float dt);
// The object becomes the owner of its node and of its body.
void Object_LinkNodeAndBody(Object* object);

void Object_SetFlags(Object* object, uint32_t bits, int on);
uint32_t Object_GetFlags(const Object* object);
void Object_SetUserInt(Object* object, uint32_t value);
uint32_t Object_GetUserInt(const Object* object);
void Object_SetUserData(Object* object, void* data);
void* Object_GetUserData(const Object* object);
// The object's serial (0 for null or a destroyed record).
uint32_t Object_GetSerial(const Object* object);
// The object that owns the body (its owner word) when its serial is still
// `serial`, else null: the safe way back from a kept body handle.
Object* Object_FromBody(const PhysBody* body, uint32_t serial);
