// Hit-mode objects and the object event queue. A hit-mode object is the
// game's general typed prop (pickups, checkpoints, death areas, springboards,
// end areas, doors, switches, told apart by the type name in StringVal0):
// active or inactive (inactive objects are hidden and out of the physics
// world), playing indexed animations, moving the players' cameras through
// an animation's camera (a cut-scene), clipped by distance from the camera
// of the player on viewport 0, and reacting to hits by deactivating,
// stepping its animation, or queueing activate, deactivate, hide and show
// events for the groups named by its targets.
//
// The queue is shared by every hit-mode object of the level: an event is
// seen exactly once by every live hit-mode object (a clipped object counts
// its visit without acting on it), then it leaves the queue.
//
// The shared record (live count, queue, magnet list, clipping distances, the
// player objects that collect body-less objects by proximity) lives from
// VavadUtils_Register to VavadUtils_Shutdown, the level state's entry and
// exit; HitModeObject_LoadConfig starts it afresh for each level's content
// and HitModeObject_FreeConfig drops its per-level lists.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct Object;
struct Sound;

constexpr uint32_t HITMODE_USER_INT = 20;

// Option bits (template booleans).
enum : uint32_t {
    HITMODE_TRIGGER_ON_HIT = 0x1,     // BoolVal1: a hit triggers the targets
    HITMODE_TRIGGER_AT_END = 0x2,     // BoolVal2: ... when the current animation ends
    HITMODE_SWITCH_ON_ACTIVATE = 0x4, // BoolVal3: after activation switch to animation 1
    HITMODE_DEACTIVATE_PLAYS = 0x8,   // BoolVal4: deactivation plays the last animation first
    HITMODE_CUT_FLAG = 0x10,          // BoolVal5: a cut-scene sets level flag 0x80 (no physics step)
    HITMODE_CUT_EVENT = 0x20,         // BoolVal6: a cut-scene raises level event 2 (animations stand still)
    HITMODE_SHOW_HIDE = 0x40,         // BoolVal7: targets are hidden/shown instead of deactivated/activated
    HITMODE_SKIP_ONE = 0x80,          // BoolVal8: one watching player may skip the cut-scene
    HITMODE_SKIP_SEVERAL = 0x100,     // BoolVal9: several may
    HITMODE_HIT_DEACTIVATES = 0x200,  // BoolVal10
    HITMODE_HIT_STEPS = 0x400,        // BoolVal11: a hit steps the animation forward once
    HITMODE_CLIPPING = 0x800,         // BoolVal12: clipped by distance
    HITMODE_TARGET_ACTIVATES = 0x1000,  // BoolVal22..25: target i (0x1000 << i) is activated, not deactivated
};

// State bits.
enum : uint32_t {
    HITSTATE_DEACTIVATE_AT_END = 0x1,
    HITSTATE_ACTIVE = 0x2,
    HITSTATE_SWITCH_AT_END = 0x4,
    HITSTATE_ACTIVATE_REQUEST = 0x8,
    HITSTATE_DEACTIVATE_REQUEST = 0x10,
    HITSTATE_WATCHED = 0x20,          // 0x20 << p: player p (0..3) watches the cut-scene
    HITSTATE_IN_WORLD = 0x200,
    HITSTATE_STEPPED = 0x400,
    HITSTATE_TRIGGER_PENDING = 0x800,
    HITSTATE_EVENT_ACTIVATED = 0x1000,
    HITSTATE_FINISHED = 0x2000,       // the current animation ended this update
    HITSTATE_HIDDEN = 0x4000,
    HITSTATE_CLIPPED = 0x8000,
};

// Event bits of the queue.
enum : uint32_t {
    OBJECT_EVENT_ACTIVATE = 0x8,
    OBJECT_EVENT_DEACTIVATE = 0x10,
    OBJECT_EVENT_HIDE = 0x4000,
};

struct HitModeRecord {
    uint32_t typeHash;     // Name_Hash (StringVal0, 1, 1)
    uint32_t groupHash;    // of StringVal1, or StringVal1 + the item name less "_NN" for names "_..."
    uint32_t targets[4];   // of StringVal2..5 (0: none)
    float threshold;       // FPVal0: hits must be faster
    float values[5];       // FPVal1..5
    float startValues[5];
    uint32_t watchMask;    // animations during which a triggering player watches
    uint32_t hitMask;      // entity-type bits that may hit it (0: any)
    uint32_t options;      // HITMODE_*
    uint32_t holdByFlag;   // BoolVal13: watchers are held by ENTITY_HELD instead of a freeze
    uint32_t state;        // HITSTATE_*
    uint32_t startState;
    uint32_t lastState;
    int32_t chosen;        // animation switched to at the end of the current one
    uint32_t player;       // the player (1-based) that triggered the pending targets
    Vec3 position, at, up; // at creation
};

struct ObjectEventEntry {
    uint32_t group;
    uint32_t framesLeft;   // live hit-mode objects that have yet to see it
    uint32_t bits;         // OBJECT_EVENT_*
    uint32_t value;        // 1 set, 0 clear
    uint32_t player;       // 1-based; 0 none
};

// ---------------------------------------------------------------- Shared record

// The first call registers the fourteen callbacks of the hit-mode, magnet,
// hinge velocity changer and generic objects and creates the shared record;
// later calls do nothing while it exists. 1, or 0 when memory fails.
int VavadUtils_Register(void);
void VavadUtils_Shutdown(void);
// Per level: live count 0, queue emptied, magnet list made, clipping
// distances from "HitModeObject.cfg" (defaults 10, 20, 17, 50).
void HitModeObject_LoadConfig(void);
// Drops the magnet list and the player objects.
void HitModeObject_FreeConfig(void);
// A player object that collects body-less objects by proximity (once each).
void VavadUtils_AddPlayerObject(Object* object);
uint32_t HitModeObject_GetLiveCount(void);
// The clipping distances in force (unclipped, clipped and visual squared).
void HitModeObject_GetClipDistances(float* unclippedSq, float* clippedSq, float* vertical, float* visualSq);

// Magnet list of the shared record (phys_utils.cpp).
void VavadUtils_AddMagnet(Object* magnet);
void VavadUtils_RemoveMagnet(Object* magnet);
uint32_t VavadUtils_GetMagnetCount(void);
Object* VavadUtils_GetMagnet(uint32_t i);

// ---------------------------------------------------------------- Events

// Name_Hash (group, 1, 1): the hash groups and targets are compared by.
uint32_t ObjectEvent_GroupHash(const char* group);
// Queues an event for a group: 0 when no hit-mode object lives or an
// identical entry (group, bits, value, player) waits; else 1.
int ObjectEvent_Queue(uint32_t group, uint32_t bits, uint32_t value, uint32_t player);
// A "Message" key event split into words: words[0] is "Message", words[1] a
// player number (0: the default player), words[2] "activate" or
// "deactivate", words[3..] group names, each queued with value 1. Needs at
// least four words. Returns the number of events queued.
int ObjectEvent_ParseMessage(const char* const* words, int count, uint32_t defaultPlayer);
uint32_t ObjectEvent_GetCount(void);
const ObjectEventEntry* ObjectEvent_Get(uint32_t i);

// ---------------------------------------------------------------- Objects

HitModeRecord* HitModeObject_GetRecord(const Object* object);
// 1 when the entity (player number 1-based, entity-type mask) hits the
// object at this impact speed: not clipped, a hit mask sharing a type bit,
// active without a pending request, faster than the threshold. A hit
// deactivates or steps the object by its options and triggers its targets.
int HitModeObject_TestHit(Object* object, float impactSpeed, uint32_t player, uint32_t typeMask);
void HitModeObject_SetState(Object* object, uint32_t player);
// Into the world (shown, body back at its start place, listening for
// contacts, values reset) / out of it (hidden, body out, watchers released,
// every state bit but in-world, finished, hidden and clipped cleared).
void HitModeObject_Activate(Object* object, HitModeRecord* record);
void HitModeObject_Deactivate(Object* object, HitModeRecord* record);

// Queries and commands of the modes (0 / nothing for other objects).
uint32_t HitModeObject_GetTypeHash(const Object* object);
float HitModeObject_GetValue(const Object* object, uint32_t i);  // value i < 5
int HitModeObject_TestState(const Object* object, uint32_t bits);
void HitModeObject_SetStateBits(Object* object, uint32_t bits, int on);
// Plays animation `index` (from time 0 with fromStart) and lets the player
// (1-based; 0 none) watch when the index is in the watch mask. 1 when played.
int HitModeObject_PlayIndex(Object* object, int32_t index, int fromStart, uint32_t player);
int HitModeObject_PlayNamed(Object* object, const char* name);
int32_t HitModeObject_GetAnimIndex(const Object* object);
uint32_t HitModeObject_GetAnimCount(const Object* object);
// The animation a typed object stands on, for the modes' "untouched" test
// (index 0): an object without animations (a plain mesh) stands on its
// first. Read it before the hit test, which may step the animation.
int32_t HitModeObject_GetStandingIndex(const Object* object);
// 1 when the collision callback running was called by the proximity walk
// that collects body-less objects: outside any collision event, so there is
// no impact speed (the modes count it as a touch at speed 1).
int HitModeObject_ByProximity(void);
float HitModeObject_GetAnimLength(const Object* object);
// The animation switched to when the current one ends (index below the count).
void HitModeObject_ChooseNext(Object* object, int32_t index);

// Named callbacks.
uint32_t VavadUtils_HitModeObject_Constructor(Object* object, uint32_t zero, void* templateRecord);
uint32_t VavadUtils_HitModeObject_Destructor(Object* object, uint32_t zero, void* unused);
uint32_t VavadUtils_HitModeObject_Update(Object* object, uint32_t zero, void* dt);
