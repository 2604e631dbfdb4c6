// The control-mode table: the fourteen ways an entity can be moved (walking,
// camera-relative walking, skating, rolling, spinning tops, planes,
// broomsticks, ...). Each row has a fixed name (the value of the entity
// configuration's "ControlMode" key) and the slots its mode fills: ten
// callbacks that the entity system calls at their places each frame and
// event, and the size of the zero-filled data block each entity of the mode
// owns.
//
// The rows' names are fixed here; their slots are filled by the modes
// themselves through ControlMode_Register, called from the game's set-up, so
// this module depends on no mode. A row nobody registered has empty slots and
// no data block: an entity in it stands still.
//
// Rows live for the process. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

struct AnimSet;
struct ConfigNode;
struct EntityRecord;
struct Node;
struct Object;
struct PlayerInputRecord;

constexpr uint32_t CONTROL_MODES = 14;

// Row numbers, in table order.
enum ControlModeIndex : uint32_t {
    MODE_MAN = 0,
    MODE_MAN_CAMREL = 1,
    MODE_SKITTER = 2,
    MODE_FLITTER = 3,
    MODE_BUTTERFLY = 4,
    MODE_THRUSTING = 5,
    MODE_SCREENREL = 6,
    MODE_AIRPLANE = 7,
    MODE_BALL = 8,
    MODE_FAKETILT = 9,
    MODE_BATTLEBLADES = 10,
    MODE_CAMERAMODE = 11,
    MODE_SKATER = 12,
    MODE_BROOMSTICK = 13,
};

// The slots, in the table's order. Any may be null. Results are ignored.
struct ControlModeSlots {
    // Called twice when an entity is created or re-attached, with the
    // reader's section "vehicle": pass 0 (the mode's own keys under
    // "controlData"), then pass = the level's levelToUnlock number.
    void (*load)(ConfigNode* reader, void* modeData, EntityRecord* record, Object* object, int32_t pass);
    // The movement step: runs only while flag ENTITY_MOVING is set this frame.
    void (*update)(Object* object, EntityRecord* record, PlayerInputRecord* input);
    // Once at creation with 1, and by every respawn with its argument.
    void (*restart)(Object* object, EntityRecord* record, int32_t usePlayerStart);
    // The game-rule step, first in every update, with an all-zero input.
    void (*rules)(Object* object, EntityRecord* record, PlayerInputRecord* input);
    // First in Entity_Collision, for every collision event of the entity.
    void (*collision)(Object* object, EntityRecord* record, Object* other, uint32_t side);
    // Fills the input record of a route-driven entity (ENTITY_ROUTE_DRIVEN).
    void (*route)(Object* object, EntityRecord* record, PlayerInputRecord* input);
    // Frees what the mode allocated beyond its data block; first in the destructor.
    void (*free)(EntityRecord* record);
    // Once per frame for each viewport's player while its world view draws.
    void (*hook)(Object* playerEntity);
    // Key events of the entity's animation sets (phase 0 at an event's
    // start, 1 at its end; a whole-animation event gets 1 when its animation
    // becomes current and 0 when it stops).
    void (*message)(AnimSet* set, const char* event, Node* item, int32_t phase, float time, float span);
    // A player record that survives a level reload drops every pointer into
    // the old level here (projectiles, targets, objects). Called before the
    // level's objects are destroyed; it must not release them, since the
    // projectile pool is already gone.
    void (*detach)(EntityRecord* record);
};

// Fills row `mode`'s slots (copied; null empties them) and its data size.
// Registering a row again replaces it. 0 for a mode of CONTROL_MODES or more.
int ControlMode_Register(uint32_t mode, const ControlModeSlots* slots, size_t dataSize);
// The row's name ("Man", "Man_CamRel", ...), or null out of range.
const char* ControlMode_GetName(uint32_t mode);
// Name_Hash (name, 1, 1) of each row's name, in table order (the entity
// system keeps them). Returns the count written (CONTROL_MODES).
uint32_t ControlMode_BuildNameList(uint32_t* hashes);
// The row whose name has this hash, or -1.
int32_t ControlMode_FindByHash(uint32_t hash);
// The row's slots (all null for an unregistered row), or null out of range.
const ControlModeSlots* ControlMode_GetSlots(uint32_t mode);
// The row's data-block size (0: none).
size_t ControlMode_GetDataSize(uint32_t mode);
