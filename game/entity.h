// The entity system: every player's character and every scene item named
// "entity_..." is an entity, an engine object (node, physics body, the four
// named callbacks "Entity_Constructor", "Entity_Destructor", "Entity_Update"
// and "Entity_Collision") whose user data is an EntityRecord. The record
// says which control mode moves it (control_mode.h) and holds that mode's
// slots and its zero-filled data block, the entity's animation and HUD
// slots, health, clocks, speed bookkeeping and water state.
//
// Each frame Entity_Update runs, in this order: the clock, the animation and
// HUD slots, the speed bookkeeping, the mode's rules slot (with an all-zero
// input), then its route slot or the player's copied input, its update slot
// (or idle damping), the ground flag, buoyancy, the speed clamps, and the
// respawn event. Entity_Collision runs the mode's collision slot first and
// then, only inside a contact event, the ground test.
//
// Lifetime: one EntitySystem per level state (EntitySystem_Init ..
// EntitySystem_Free). The entities of a level live in the system's object
// pool from Entity_CreateFromLevel to EntitySystem_Unload. A player's record
// (flag ENTITY_PLAYER_RECORD) is created once and re-attached to the new
// object of every reloaded level: at EntitySystem_Unload(0) it is detached
// from its object and drops every pointer into the old level (water and
// air-stream objects, possession links, the cut-scene hold and freeze, and
// whatever the mode's detach slot forgets). EntitySystem_Unload(1) frees
// every record. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/maths.h"
#include "game/control_mode.h"

struct AnimSet;
struct ConfigNode;
struct Font;
struct List;
struct Node;
struct Object;
struct Scene;

constexpr int ENTITY_PLAYERS = 4;            // saved player records, one per player slot
constexpr uint32_t ENTITY_USER_INT = 12;     // the user integer of entity objects
constexpr uint32_t WATER_USER_INT = 15;
constexpr uint32_t AIRSTREAM_USER_INT = 16;

// Entity flag bits.
enum : uint32_t {
    ENTITY_ALIVE = 0x1,           // alive and placed (creation and respawn)
    ENTITY_FLAGGED = 0x4,         // flagged by another object: the skating modes' lose flag
    ENTITY_FROZEN = 0x8,          // a player's clock stops; no route or movement slot runs
    ENTITY_TOUCHED = 0x10,        // touched something this frame (cleared at the end of the update)
    ENTITY_ON_GROUND = 0x20,      // a contact within hitGroundAngle of up; cleared above speed^2 0.7
    ENTITY_IDLE = 0x40,           // no movement slot ran this frame
    ENTITY_PLAYER_RECORD = 0x100, // the record survives the level's objects
    ENTITY_ROUTE_DRIVEN = 0x200,  // the route slot fills the input record instead of a pad
    ENTITY_MOVING = 0x400,        // the movement slot runs this frame
    ENTITY_NO_QUERY = 0x800,      // not a query target (Entity_Query skips it)
    ENTITY_RESPAWNED = 0x1000,    // cleared at load and at every respawn
    ENTITY_HELD = 0x2000,         // held by a cut-scene: its input stays zero
};

// Animation slot flags.
enum : uint32_t {
    ANIMSLOT_SHOWN = 0x1,
    ANIMSLOT_PLAYING = 0x2,
    ANIMSLOT_PAUSED = 0x4,
    ANIMSLOT_ALPHA = 0x8,  // the entity's animation alpha applies ("Anim%dGlobalTransSet")
};

// How an animation slot's root follows the body ("Anim%dRBRelMode").
enum : int32_t {
    ANIMSLOT_FOLLOW = 0,           // position and orientation
    ANIMSLOT_FOLLOW_POSITION = 1,  // position only
    ANIMSLOT_COPY_ORIENTATION = 2, // position, and the world orientation of slot "Anim%dRBRelCopyNum"
    ANIMSLOT_FREE = 3,             // does not follow
};

// One animated model of an entity ("Anim%d").
// A slot's last request time before its first: so long ago that no minimum
// interval refuses the first play.
constexpr float ENTITY_ANIM_NEVER_REQUESTED = -1.0e30f;

struct EntityAnimSlot {
    int32_t current;       // current animation id (-1 none)
    float startTime;       // entity clock when the current id was set
    float lastRequest;     // entity clock of the last play request (ENTITY_ANIM_NEVER_REQUESTED before the first)
    uint32_t flags;        // ANIMSLOT_*
    Node* root;            // child of the object world's root node; owned
    Node* offset;          // child of root, placed at "Anim%dOffset"; owned
    AnimSet* set;          // one reference
    int32_t rbRelMode;     // ANIMSLOT_FOLLOW ..
    uint32_t viewInMode;   // view-mode mask ("Anim%dViewInMode", all bits when missing)
    int32_t copyNum;       // the slot copied in ANIMSLOT_COPY_ORIENTATION
    const char* const* names;  // animation-name table from the name cache, or null
    uint32_t nameCount;
};

// An animated HUD item ("HudAnim%d"): a free node parented to the player's
// viewport HUD frame while the view mask allows.
struct EntityHudAnimSlot {
    Node* node;         // owned
    AnimSet* set;       // one reference
    uint32_t viewMask;  // all bits when missing
};

// A HUD text line ("HudText%d"); slot n draws on screen-text line n.
struct EntityHudTextSlot {
    Font* font;            // not owned
    uint32_t textId;       // "HudText%dLocalName" (0: none)
    uint32_t currentText;  // id of the text last shown (0: none)
    float position[2];     // fractions of the viewport
    uint32_t viewMask;     // all bits when missing
    float scale;           // 1.0 when missing
    uint32_t colour;       // packed a r g b; opaque white when missing
    uint32_t centred;
};

// Buoyancy tuning (the configuration's "Water" group) and the water volume
// the entity is in.
struct EntityWater {
    float velStep;          // BuoyancyVelStep: upward speed gained per second under water
    float velMax;           // BuoyancyVelMax
    float settleY;          // BuoyancySettleY: depth below which the rise slows down
    float settleVelRange;   // BuoyancySettleVelRange
    Vec3 damping;           // WaterDamping, per second, scaled by depth / VehicleHeight when shallower
    Object* water;          // the water object overlapped, or null
};

struct EntityRecord {
    uint32_t kind;              // 0 player entity, 1 scene entity; possession needs a larger kind
    uint32_t mode;              // ControlModeIndex
    ControlModeSlots slots;
    void* modeData;             // owned, zero-filled, ControlMode_GetDataSize(mode) bytes
    uint32_t flags;             // ENTITY_*
    uint32_t typeMask;          // bit v - 1 for each "EntityType%d" value v in 1..32
    uint32_t typeControlMask;   // likewise from "EntityTypeControl%d"
    uint32_t player;            // player number + 1 (0: none)
    float health;               // 0..100
    uint32_t viewMask;          // current view-mode bits (Entity_SetViewMask)
    uint32_t animSlotCount;
    EntityAnimSlot* animSlots;  // owned
    uint32_t hudAnimCount;
    EntityHudAnimSlot* hudAnims;  // owned
    uint32_t hudTextCount;
    EntityHudTextSlot* hudTexts;  // owned
    float vehicleHeight;
    float maxVelocity;          // a missing key clamps the speed to 0
    float maxAngularVelocity;   // 10000 when missing
    float cosHitGroundAngle;    // cos(hitGroundAngle); cos 45 degrees when missing
    float waterDepth;           // this frame's depth below the water plane (0: not in water)
    float worldFov, skyDomeFov, hudFov;  // 0.55 each when missing
    EntityWater* water;         // owned; null without a "Water" group
    Vec3 startPosition, startAt, startUp;
    float landingTime;          // entity clock of the last frame on the ground
    Vec3 lastPosition;          // body position at the end of the last update
    float clock;                // seconds
    float hSpeed, vSpeed;       // horizontal speed and |vertical speed| of the last update
    float hSpeedChange, vSpeedChange;
    Object* heldFrom;           // the entity this one's player came from, or null
    Object* takeOverTarget;     // found by the last Entity_FindTakeOverTarget, or null
    float animAlpha, animAlphaTarget;  // the current alpha moves to the target by dt per second
    Object* airStream;          // the air-stream object overlapped, or null
    float takeOverTime;         // the possessed entity's clock when the player left this entity
    uint32_t soundGroup;        // sound-bank group of "SOUND%d"
};

// Animation-name cache entry (entity_anim.h).
struct ControlDataCacheEntry {
    const char** names;  // copied table of name pointers (the strings are the modes' static ones)
    uint32_t nameCount;
    uint32_t key;        // sum of the names' hashes
    uint32_t refCount;
};

struct EntitySystem {
    List* pool;                            // the level's entity objects; created on first use
    EntityRecord* saved[ENTITY_PLAYERS];   // player records kept across reloads
    uint32_t modeHashes[CONTROL_MODES];
    ControlDataCacheEntry* cache;
    uint32_t cacheCount, cacheCapacity;
};

// ---------------------------------------------------------------- System

// Creates the system (once), hashes the mode names and registers the entity,
// water and air-stream callbacks by name. 1, or 0 when memory fails.
int EntitySystem_Init(void);
// Frees the system and every record still held. Safe without Init.
void EntitySystem_Free(void);
// The system, or null before Init.
EntitySystem* EntitySystem_Get(void);
// final 0 (a reload follows): every player record is detached from its
// object and drops its pointers into the old level, then the pool is
// destroyed. final 1: the pool is destroyed with every record, saved ones
// included, and the name cache is cleared.
void EntitySystem_Unload(int final);
// The entity pool's Update callbacks, in pool order.
void Level_UpdateObjects(float dt);

// Builds the level's player entities (the slots with a viewport, as many as
// Level_GetNumPlayerEntities; the one drawn in viewport n stands at the
// scene's start n) and the entities of the scene's "entity_" items; the
// players' views start at the scene's first camera. The scene is loaded
// nodes-only and released afterwards. Returns the number of entities made.
int Entity_CreateFromLevel(const char* sceneName);
// Makes an entity object from the configuration file at path, in the
// entity pool: with an existing record that record is attached again (and
// takes the player number and kind given), else a new record is loaded.
// The start node (may be null: the object's own placement) gives the start
// position and orientation. Returns the object, a bare object without a
// record when the file's configuration does not open, or null when no
// object could be made.
Object* Entity_LoadData(EntityRecord* existing, const char* path, Node* startNode, uint32_t player, uint32_t kind,
                        uint32_t flags);
// Reads the "vehicle::vehicleData" keys (mode, FOVs, speeds, ground angle,
// type masks), the "vehicle::Water" group, and sets the mode's slots and a
// new zero-filled data block. 0 (nothing changed beyond the keys read) when
// the mode is out of range or memory fails.
int EntityType_Load(ConfigNode* reader, EntityRecord* record);
// Calls the record's load slot with the pass when there is one.
void Entity_CallModeLoad(ConfigNode* reader, EntityRecord* record, Object* object, int32_t pass);
// The path of the entity configuration Entity_LoadData is reading, for the
// log lines of the mode loaders ("entity configuration" outside a load).
const char* Entity_GetLoadingPath(void);
// "carddata\entityconfigs\<name>.cfg" / "<level folder>\<name>.cfg" of an
// "entity_<name>_NN" item name (the duplicate number cut as object scenes cut
// base names). out holds size bytes.
void Entity_PlayerConfigPath(const char* character, char* out, size_t size);
void Entity_SceneConfigPath(const char* itemName, char* out, size_t size);

// ---------------------------------------------------------------- Callbacks

uint32_t Entity_Constructor(Object* object, uint32_t zero, void* templateRecord);
uint32_t Entity_Destructor(Object* object, uint32_t zero, void* unused);
uint32_t Entity_Update(Object* object, uint32_t zero, void* dt);
uint32_t Entity_Collision(Object* object, Object* other, uint32_t side);

// ---------------------------------------------------------------- Records

// The record of an entity object (user integer 12 with a record), or null.
EntityRecord* Entity_GetRecord(const Object* object);
// Health 100; a player with usePlayerStart reads its start from the level;
// the body is put at the start (raised by its first primitive's value and
// then by 0.5 while it overlaps a body, at most 20 times), made solid and
// active; its node and animation slots are shown (what Entity_Hide hid);
// the mode's restart slot runs.
void Entity_Respawn(Object* object, int32_t usePlayerStart);
// Freezes (1) or unfreezes (0) the entity; unfreezing wakes the body with a
// velocity of (0, -1, 0). The body's motion is reset when its state differs.
void Entity_SetPhysicsActive(Object* object, int frozen);
int Entity_TestFlags(const EntityRecord* record, uint32_t bits);
void Entity_SetFlags(EntityRecord* record, uint32_t bits, int on);
// Out-of-range slots read 0 and are ignored.
int Entity_TestAnimFlags(const EntityRecord* record, uint32_t slot, uint32_t bits);
void Entity_SetAnimFlags(EntityRecord* record, uint32_t slot, uint32_t bits, int on);
float Entity_GetTime(const EntityRecord* record);
// 0.0 for a null record.
float Entity_GetHealth(const EntityRecord* record);
// health = min(value, maximum), and 0 when that is negative.
void Entity_SetHealth(EntityRecord* record, float value, float maximum);
// The new health, clamped to 0..100.
float Entity_AddHealth(EntityRecord* record, float delta);

// The animation-set event handler of every entity set: finds the set's
// owning object and calls its record's message slot.
void Entity_MessageDispatch(AnimSet* set, const char* event, Node* item, int32_t phase, float time, float span);
