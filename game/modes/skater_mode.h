// The Skater control mode (mode 12): a character rolling over the ground on
// a physics body, pushed by the stick relative to the camera. Its model
// turns toward the travel direction, tilts to the floor and leans into
// turns; the chase camera follows with four presets and a look-around. A
// long fall or a death area starts the lose path: "lose" plays, the entity
// freezes, and when the animation has ended the level restarts (once per
// death). Typed level objects give health, count pickups, push
// (springboards), move the start (checkpoints) and switch animations.
//
// Slots: load, update, restart, rules, collision, route, free. The data
// block is SkaterData, zero-filled by the entity system.
#pragma once

#include <cstdint>

#include "common/maths.h"
#include "game/col_area.h"
#include "game/modes/skate_common.h"

struct ConfigNode;
struct EntityRecord;
struct Object;
struct PlayerInputRecord;

// Animation ids of slot 0.
enum : int32_t {
    SKATER_ANIM_ROLLING = 0,
    SKATER_ANIM_PUSHGROUND,
    SKATER_ANIM_STARTJUMP,
    SKATER_ANIM_JUMP,
    SKATER_ANIM_LAND,
    SKATER_ANIM_STUNNED,
    SKATER_ANIM_FALLOFF,
    SKATER_ANIM_THROW,
    SKATER_ANIM_CELEBRATE,
    SKATER_ANIM_LOSE,
    SKATER_ANIM_STARTLEVEL,
    SKATER_ANIM_COUNT
};

// SkaterData::flags.
enum : uint32_t {
    SKATER_TIMED_PICKUP = 0x1000,    // a kind-10 pickup with a value 2 was taken
    SKATER_QUOTA_REACHED = 0x10000,  // a pickup count reached its total
    SKATER_KILL_AREA = 0x20000,      // a kill area was entered
};

struct SkaterData {
    SkateCommon common;  // first: the shared helpers work on it
    uint32_t flags;      // SKATER_*
    float initHealth;    // health after a restart (clamped to 0..totalHealth)
    int32_t initNumLifes;
    float totalHealth;
    int32_t levelCompPickupTotal;
    float sideVelStep;         // acceleration of a push across the model's forward
    float forwardToSidePower;  // exponent of the blend from forward to side (1 by default)
    float leanRangeMax, leanRangePerVel, leanSpeed, leanToMiddleSpeed;  // radians (per second)
    float stunColVelHor;                                                // read and kept, as the shared block's
    // Records of the collision step that nothing in this mode reads.
    int32_t timedPickup[3];  // a kind-10 pickup's values 1..3
    int32_t pickups4;        // completion pickups counted
    int32_t pickups5, total5;
    float fraction5;
    int32_t pickups7, total7;
    Object* gauge;  // a hit-mode object showing a count; none in this mode's data
    float gaugeLength;
    Vec3 springboardPush;
    float springboardTime;
    float lean;                          // radians; positive tilts the model's up to its left
    uint32_t typeHashes[OBJTYPE_COUNT];  // ObjectType_GetHash of each type name
};

void SkaterMode_Load(ConfigNode* reader, void* modeData, EntityRecord* record, Object* object, int32_t pass);
void SkaterMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input);
void SkaterMode_Restart(Object* object, EntityRecord* record, int32_t usePlayerStart);
void SkaterMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord* input);
void SkaterMode_Collision(Object* object, EntityRecord* record, Object* other, uint32_t side);
void SkaterMode_RouteUpdate(Object* object, EntityRecord* record, PlayerInputRecord* input);
void SkaterMode_Free(EntityRecord* record);

// The share of a push across the model's forward: 1 - |direction . f| for
// f the horizontal part of the forward, normalised (0 straight along it,
// 1 at right angles), clamped to 0..1.
float SkaterMode_Sideness(const Vec3* direction, const Vec3* modelForward);
