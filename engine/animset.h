// Animation sets: the named animations of one model ("idle", "run",
// "jump"), each a LightWave scene instanced under a node of its own, read
// from an ".atf" file of the hashed cache (engine/animfile.h).
//
// One animation is current; its node hangs under the set's node, the others
// are out of the tree. Switching animations can blend: for the blend time,
// the current scene's animated item and bone matrices are mixed with those
// of the same names in the previous animation (whose scene stays frozen),
// each of the 16 values lerped by blend clock / blend time.
//
// Key events attach handlers to a scene item between a start and an end
// time: triggers (engine/trigger.h) or the game's handlers found through the
// event lookup given at load. Setting the time fires an event's start
// (phase 0) and end (phase 1) as they are crossed: a time x is crossed when
// previous < x <= t (right after a restart at time 0, previous counts as
// before 0), so an event on a frame boundary fires once and one shorter
// than a frame gets both phases; the times crossed in one step fire in time
// order. Going backwards fires nothing.
// When an animation is left, and when it wraps, its events that started and
// did not end get phase 1 (looping trigger sounds stop); after a wrap the
// crossing runs on from the start of the scene.
//
// Whole-animation events (start below 1e-5 and end within 1e-5 of the
// scene's duration) fire only on switches: phase 1 when their animation
// becomes current, phase 0 when it stops being current.
//
// Instances share the loaded set's names and event table; each has its own
// scene instances, nodes, key events and triggers, and holds a reference on
// the source. Main thread only.
#pragma once

#include <cstdint>

struct AnimSet;
struct List;
struct Node;
struct Scene;

// A key-event handler: phase 0 at the start time (time past it, span = end -
// start), 1 at the end time (time past it, span 0); whole-animation events
// get time and span 0.
typedef void (*AnimEventHandler)(AnimSet* set, const char* name, Node* item, int32_t phase, float time, float span);
// The game's handler of an event name, or null.
typedef AnimEventHandler (*AnimEventLookup)(AnimSet* set, const char* name);

enum : uint32_t {
    ANIMSET_ADVANCE_ONCE = 0,   // AnimSet_Advance: the animation ends at its end
    ANIMSET_ADVANCE_LOOP = 1,   // it loops
    ANIMSET_ADVANCE_SCENE = 2,  // the scene's own looping bit decides
};

struct AnimSetAnimation {
    uint32_t nameOffset;  // into the set's name block
    Node* node;           // owned; the scene's parent
    Scene* scene;         // one reference
    uint32_t valueA;      // from the file; kept, not used
    float blendClock;     // seconds into the blend into this animation
    float blendTime;      // seconds; 0: switched to at once
    int32_t previous;     // the animation blended from, -1 none
    uint32_t noBlend;     // never blended into
    uint32_t hasLights;   // the scene's lights were created
};

struct AnimSetEvent {
    uint32_t nameOffset;       // into the set's event-name block
    AnimEventHandler handler;  // null: the event does nothing
};

struct AnimSetKeyEvent {
    Node* item;          // the scene item's node
    uint32_t itemIndex;  // in node creation order (Scene_GetItemNode)
    uint32_t animation;  // into the set's animations
    uint32_t event;      // into the event table
    float start, end;    // seconds
    uint32_t open;       // phase 0 fired, phase 1 not yet
};

struct AnimSet {
    Node* node;        // the model's node; the current animation's node hangs under it
    char* names;       // animation names, NUL-separated (the loaded set's)
    char* eventNames;  // event names, NUL-separated (the loaded set's)
    uint32_t namesSize, eventNamesSize;
    AnimSetAnimation* animations;
    uint32_t animationCount;
    int32_t current;       // -1 none
    uint32_t restarted;    // the current animation was set to time 0: the next crossing starts before 0
    AnimSetEvent* events;  // the loaded set's
    uint32_t eventCount;
    uint32_t user;
    AnimSetKeyEvent* keyEvents;
    uint32_t keyEventCount;
    AnimSet* source;  // the loaded set an instance shares; null for a loaded set
    uint32_t refCount;
    void* object;       // the owning object
    uint32_t started;   // AnimSet_SetTime ran once
    Node** blendPairs;  // per node of the current scene, the previous scene's node of its name
    uint32_t blendPairCount;
};

// The set pool (capacity set by the caller before the first set), the
// module flag on, the trigger type names. 1, or 0 when memory runs out.
int AnimSet_Init(void);
// Releases every set (whatever references remain) and the pool.
void AnimSet_Shutdown(void);
void AnimSet_ReleaseAll(void);
List* AnimSet_GetPool(void);
// The module flag: blending on (1, at start) or off.
void AnimSet_SetModuleFlag(int on);
int AnimSet_GetModuleFlag(void);

// The set of the cache file of "<name><extension>" ("ANIM" for the game's):
// AnimSet_Read of its cache name.
AnimSet* AnimSet_Load(const char* name, const char* extension, Node* node, AnimEventLookup lookup);
// Reads the file and loads each animation's scene under a node of its own;
// animations whose scene fails to load are left out (with their events).
// Event names become trigger handlers, or the lookup's (may be null). Key
// events whose event or item lies outside what was loaded are skipped.
// Animation 0 is played when there is one. Null for a missing or refused
// file (LoadError_Get says why) or a full pool.
AnimSet* AnimSet_Read(const char* cacheName, Node* node, AnimEventLookup lookup);
// A new set on node sharing source's blocks and event table, with its own
// scene instance per animation, key events on its own item nodes and copies
// of the triggers; animation 0 current. Null when the pools are exhausted.
AnimSet* AnimSet_Instance(AnimSet* source, Node* node);
// One more reference.
AnimSet* AnimSet_AddRef(AnimSet* set);
// Drops one reference; the last frees the set (an instance then drops its
// reference on the source). Null is ignored.
void AnimSet_Release(AnimSet* set);

// Makes the named (exact text) animation current; 1 found, 0 not. Playing
// the current one fires nothing. The time is left as it was.
int AnimSet_Play(AnimSet* set, const char* name);
int AnimSet_PlayIndex(AnimSet* set, int32_t index);
// Makes the animation current from time 0; 1 when the current animation
// changed, 0 for the current one or an index out of range.
int AnimSet_PlayFromStart(AnimSet* set, const char* name);
int AnimSet_PlayIndexFromStart(AnimSet* set, int32_t index);

const char* AnimSet_GetCurrentName(const AnimSet* set);  // null without animations
int32_t AnimSet_GetCurrentIndex(const AnimSet* set);
uint32_t AnimSet_GetCount(const AnimSet* set);
const char* AnimSet_GetName(const AnimSet* set, uint32_t index);
Scene* AnimSet_GetAnimScene(const AnimSet* set, uint32_t index);
Scene* AnimSet_GetCurrentScene(const AnimSet* set);
float AnimSet_GetLength(const AnimSet* set);  // the current scene's duration
float AnimSet_GetTime(const AnimSet* set);

// Sets the current scene's time, firing the key events crossed, and blends.
void AnimSet_SetTime(AnimSet* set, float t);
// AnimSet_SetTime(time + dt) with the looping of `mode` (ANIMSET_ADVANCE_*)
// when the end is reached, runs the set's triggers and moves the blend on.
// 0 when the animation reached or passed its end, else 1.
int AnimSet_Advance(AnimSet* set, float dt, uint32_t mode);

// Alpha (0..1) of every node of every animation.
void AnimSet_SetAlpha(AnimSet* set, float alpha);
// Render-object flag 4 (alpha fading) on every visual of every animation
// that has neither flag 1 nor 2.
void AnimSet_FlagVisuals(AnimSet* set);
// Node_RefreshAttachments of every animation's node.
void AnimSet_RefreshAttachments(AnimSet* set);
void AnimSet_SetObject(AnimSet* set, void* object);
void* AnimSet_GetObject(const AnimSet* set);
