// What the skating, rolling, flying and battling control modes share beyond
// the entity system: a key table reader for their configuration sections,
// safe conversions of values that come from data (floats to integers,
// entity-type numbers to mask bits), the player's viewport camera frame and
// world view, animation starts that treat a missing animation as one that
// has already ended, and the entity's sound entries.
//
// Randomness: every random draw of these modes (sound entries, the tops'
// AI) goes through Game_Rand (game_context.h), the game's one generator,
// which tests seed or replace with Game_SetRandomSource.
//
// Nothing here keeps state. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/maths.h"

struct ConfigNode;
struct EntityRecord;
struct Node;
struct Object;
struct View;

constexpr float VEHICLE_DEG_TO_RAD = 0.0027777778f * 6.2831855f;  // x 1/360, then x 2 pi, as the data was tuned

// How a key's value is stored into its field.
enum VehicleKeyKind : uint32_t {
    VKEY_FLOAT,             // float as read
    VKEY_FLOAT_ABS,         // |float|
    VKEY_DEGREES,           // float degrees -> radians
    VKEY_DEGREES_ABS,       // |float| degrees -> radians
    VKEY_PERCENT,           // float x 0.01
    VKEY_QUARTER,           // float x 0.25
    VKEY_HALF_DEGREES,      // float degrees, halved -> radians (a full angle stored as its half)
    VKEY_COS_DEGREES,       // cosine of the angle clamped to 0..180 degrees
    VKEY_INT,               // int32
    VKEY_VEC3,              // three floats
    VKEY_VEC3_ABS,          // three floats, each |value|
    VKEY_VEC2_DEGREES_ABS,  // two floats, each |value| degrees -> radians
    VKEY_VEC2_DEGREES,      // two floats, degrees -> radians
    VKEY_FLAG,              // boolean: sets or clears `bit` of the uint32 field
};

struct VehicleKey {
    const char* name;  // key under the section ("forwardVelStep")
    VehicleKeyKind kind;
    size_t offset;  // of the field in the mode's data block
    uint32_t bit;   // VKEY_FLAG only
};

// Reads every key of the table from "<section>::<name>" into the block. A
// missing key leaves its field as it was; a value that is not a finite
// number (NaN, infinities, numbers beyond the float range) is refused with
// a log line naming the mode and key, and also leaves the field. Returns the
// number of keys stored.
int VehicleKeys_Read(ConfigNode* reader, const char* section, const VehicleKey* keys, size_t count, void* data,
                     const char* modeName);

// "controlData" for pass 0, "controlData_<pass>" otherwise (out holds size bytes).
void Vehicle_SectionName(int32_t pass, char* out, size_t size);

// A value that is not finite becomes `fallback`.
float Vehicle_Finite(float value, float fallback);

// Bit n - 1 of an entity-type mask for n in 1..32. Any other number sets
// nothing and is logged with the key that gave it (never used as a shift).
// Returns 1 when a bit was set.
int Vehicle_AddTypeBit(uint32_t* mask, int32_t n, const char* modeName, const char* key);
// Reads "<section>::<prefix><i>" for i = 0..31 until the first missing key,
// adding each value's type bit. Returns the number of bits set (valid values).
int Vehicle_ReadTypeList(ConfigNode* reader, const char* section, const char* prefix, uint32_t* mask,
                         const char* modeName);

// The player's (record->player - 1) viewport camera frame and world view,
// or null for a record without a player or a player without a viewport.
Node* Vehicle_CameraFrame(const EntityRecord* record);
View* Vehicle_WorldView(const EntityRecord* record);

// Plays animation `id` on the entity's animation slot unless it is the
// current one. When the set cannot start it (no such animation, no set) the
// id still becomes current and the slot reads as not playing, so a path
// that waits for the animation to end goes on at once. 1 when started.
int Vehicle_PlayAnim(EntityRecord* record, int32_t id, uint32_t slot);
// The slot's current animation id, or -1 for a missing slot.
int32_t Vehicle_CurrentAnim(const EntityRecord* record, uint32_t slot);
// 1 while the slot's current animation plays.
int Vehicle_AnimPlaying(const EntityRecord* record, uint32_t slot);

// Plays entry Game_Rand() mod count of the entity's sound-bank entries named
// `name` (count from SoundBank_CountName at load); nothing when count is 0.
// The sound is placed at the node of animation slot 0.
void Vehicle_PlayRandomSound(EntityRecord* record, const char* name, uint32_t count);
void Vehicle_PlaySound(EntityRecord* record, const char* name, uint32_t index);

// A player touches a checkpoint (a hit-mode object): unless it is the
// player's current one, it plays animation 1 and then 2, its place becomes
// the entity's start, it becomes the player's checkpoint (the session's
// per-player word) and the previous one goes back to animation 0.
void Vehicle_TakeCheckpoint(EntityRecord* record, Object* checkpoint);
// A full restart: the player's checkpoint goes back to animation 0 and is
// forgotten, so that it can be taken again.
void Vehicle_ClearCheckpoint(EntityRecord* record);

// The object's body position (0 without a body).
Vec3 Vehicle_BodyPosition(const Object* object);
Vec3 Vehicle_BodyVelocity(const Object* object);
// The world up axis of a hit-mode object (its node's; the recorded one without a node).
Vec3 Vehicle_ObjectUp(const Object* object);
