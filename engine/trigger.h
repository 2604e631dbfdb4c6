// Animation triggers: built-in handlers of animation-set key events whose
// names follow the trigger syntax
//   "&AnimCommonTriggerType_<Sound|Particle|Flare|Rumble>_<argument>,token,..."
// (at most 10 comma-separated tokens, the first holding the argument):
//   Sound     <file>[,True|Looping3D|Looping2D][,gain a-b][,pitch a-b][,pitch scale a-b]
//             "<N>" in the file name loads the variants 1 to 5 (up to the
//             first that fails), one picked at random at each start. A
//             looping sound plays from the key event's start to its end, in
//             3D at the item or, with Looping2D, unplaced; gain and pitch
//             follow the item's speed through the ranges;
//   Particle  <sprite>,Smoke|Spinkle,<pixel height>: particles spawned at
//             the item, one update in three;
//   Flare     <sprite>,<pixel height>,<size>: a camera-facing quad at the item;
//   Rumble    <value>[,<value>,<strength>[,<bool>]]: values the game reads
//             from the instance (the item's scale drives it).
// A trigger is identified by the name's hash (case and blanks ignored).
// Each set keeps its own list of triggers; each trigger one instance per
// item node between a key event's start (phase 0) and its end (phase 1).
//
// Sounds go through the trigger sound table (engine/triggersound.h).
// Random choices use the generator set with Trigger_SetRandom (rand() at
// start). Main thread only.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct AnimSet;
struct Node;
struct Sound;
struct Sprite3d;

enum : uint32_t {
    TRIGGER_SOUND = 0,
    TRIGGER_PARTICLE = 1,
    TRIGGER_FLARE = 2,
    TRIGGER_RUMBLE = 3,
};

enum : uint32_t {
    TRIGGER_LOOPING = 1,       // the sound loops from phase 0 to phase 1
    TRIGGER_GAIN_RANGE = 2,    // the gain follows the item's speed
    TRIGGER_PITCH_RANGE = 4,   // the pitch follows the item's speed
    TRIGGER_2D = 8,            // unplaced
    TRIGGER_PITCH_SCALE = 16,  // a pitch scale was given (frequencies are set)
    TRIGGER_MAX_SOUNDS = 5,
    TRIGGER_MAX_TOKENS = 10,
};

struct AnimTrigger;

// One running use of a trigger by one item node.
struct TriggerInstance {
    Node* item;
    AnimTrigger* trigger;
    uint32_t active;  // 1 from phase 0 until its start is done, then 2
    uint32_t looping;
    Sound* sound;        // the variant picked (not owned)
    Node* positionNode;  // where the sound plays; null for 2D
    Sound* loop;         // the looping instance (owned), or null
    Vec3 lastPosition;   // the item's world position at the last update
    float gain;          // smoothed, 0..1
    float pitch;         // smoothed, 0..1
    int32_t rumble[5];   // the trigger's values, none below 0
    float rumbleLevel;   // the item's scale length - 1
    TriggerInstance* next;
};

struct AnimTrigger {
    uint32_t flags;  // TRIGGER_LOOPING ...
    uint32_t key;    // Name_Hash(event name, 1, 1)
    uint32_t type;   // TRIGGER_SOUND ...
    TriggerInstance* instances;
    Sound* sounds[TRIGGER_MAX_SOUNDS];  // one reference each
    uint32_t soundCount;
    float gainRange[2];
    float pitchRange[2];
    float pitchScale[2];       // frequency = smoothed pitch x [1] + [0]
    Sprite3d* particleSprite;  // owned
    uint32_t particleKind;     // name hash of "Smoke" or "Spinkle"
    Sprite3d* flareSprite;     // owned
    float flareSize;
    // [0] the first value, [1] the second, [2] the strength (x 255 when
    // written as 0..1), [3] the flag, [4] 1 for the three- and four-token form.
    int32_t rumble[5];
    AnimTrigger* next;
};

// The handler type of animation-set key events (engine/animset.h).
typedef void (*TriggerHandler)(AnimSet* set, const char* name, Node* item, int32_t phase, float time, float span);

// The four type names.
void Trigger_InitTypeNames(void);
const char* Trigger_GetTypeName(uint32_t type);
// The pools of trigger lists, triggers and instances. 1, or 0 when memory
// runs out.
int Trigger_Init(void);
// Frees every list, trigger and instance (sounds and sprites released).
void Trigger_Shutdown(void);
// The random generator of variant picks, start frequencies and particles
// (null restores rand()).
void Trigger_SetRandom(int (*generator)(void));

// Trigger_Fire when name defines a trigger (added to the set's list, or
// found there), else null: not the syntax, a sound that loads no variant, a
// sprite that can't be read, or a rumble of two tokens or more than four.
TriggerHandler Trigger_Parse(AnimSet* set, const char* name);
// The key-event handler: phase 0 makes (or finds) the item's instance and
// starts it; phase 1 stops and frees it (a looping sound is released).
void Trigger_Fire(AnimSet* set, const char* name, Node* item, int32_t phase, float time, float span);
// Copies every trigger of source into a list of copy's (sounds gain a
// reference, sprites are cloned); instances are not copied. 1, or 0 when
// memory runs out.
int Trigger_InstanceForSet(AnimSet* source, AnimSet* copy);
// Stops and frees every instance and trigger of the set, releases their
// sounds and sprites and frees the set's list.
void Trigger_ReleaseForSet(AnimSet* set);
// Stops and frees every instance of the set's triggers.
void Trigger_ResetForAnimSet(AnimSet* set);
// Runs every instance of the set's triggers for a frame of dt seconds.
void Trigger_UpdateAll(AnimSet* set, float dt);

// The set's trigger of that event name, or null.
AnimTrigger* Trigger_Find(AnimSet* set, const char* name);
// The first trigger of the set's list (follow ->next), or null.
AnimTrigger* Trigger_GetFirst(AnimSet* set);
