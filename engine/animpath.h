// AnimPath: a physics object that follows an animated route. The route is a
// LightWave scene (or an animation set) whose item "Route" moves along a
// path; each update the object's body is steered towards that item with a
// velocity (distance x gain, clamped), so it still collides, can be knocked
// off the route by a hard hit, and is parked (moved along the route without
// colliding) when no target is near. The route advances only while the body
// keeps within its follow radius of the item.
//
// Up to eight target objects (the players) decide what is near: with
// distance clipping a follower is physical near a target and parked far from
// all of them, its animation stops beyond one distance and its node is
// hidden beyond another. Vision rays (25 units forward from a random point
// of a box about the body) let followers see what is ahead, a few per round
// of updates. Global tuning comes from "Configs\AnimPath.cfg" (section
// "AnimPath"); a missing file leaves every default.
//
// The behaviour's parameters are the template values of the object's
// configuration file: StringVal0 the route, StringVal1 the group, FPVal0
// the follow radius, FPVal5 the maximum speed (0: 1000), FPVal6 the speed
// reference of the own animation, FPVal7 the start time, Vector3dVal0 the
// per-axis damping, Vector3dVal1 the per-axis angular gain, Vector3dVal2/3
// the vision box, BoolVal0-16 the flags below.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct List;
struct Node;
struct Object;

constexpr int ANIMPATH_TARGETS = 8;

// Flags of a follower (the low ones from BoolVal n; see animpath.cpp).
enum : uint32_t {
    ANIMPATH_RANDOM_NEXT = 1,             // BoolVal0: a random animation when the route set ends
    ANIMPATH_NEXT = 2,                    // BoolVal1: the next animation (wrapping); before bit 1
    ANIMPATH_KEPT_4 = 4,                  // BoolVal2
    ANIMPATH_HORIZONTAL = 8,              // BoolVal3: follow in the horizontal plane
    ANIMPATH_STEER = 16,                  // BoolVal4: turn the body with angular velocity
    ANIMPATH_ORIENT_NODE = 32,            // BoolVal5: the node takes the target orientation
    ANIMPATH_NODE_FREE = 64,              // 32 without 16: the node is placed from the body
    ANIMPATH_SCALED_ANIMATION = 128,      // BoolVal6 (and 256)
    ANIMPATH_FORWARD_SPEED = 256,         // BoolVal7
    ANIMPATH_KEPT_512 = 512,              // BoolVal8
    ANIMPATH_LOOK_AT_ROUTE = 1024,        // BoolVal9
    ANIMPATH_FACE_TRAVEL = 2048,          // BoolVal10
    ANIMPATH_CLIP = 4096,                 // BoolVal11: distance clipping against the targets
    ANIMPATH_KNOCK_BY_TARGET = 8192,      // BoolVal12
    ANIMPATH_KNOCK_BY_FOLLOWER = 16384,   // BoolVal13
    ANIMPATH_FOLLOWING = 0x8000,
    ANIMPATH_FREE = 0x10000,
    ANIMPATH_KNOCKED = 0x20000,
    ANIMPATH_PARKED = 0x40000,            // collision group 0x80000000, body inactive
    ANIMPATH_TOO_FAR_TO_ANIMATE = 0x80000,
    ANIMPATH_TOO_FAR_TO_SEE = 0x100000,
    ANIMPATH_GROUPED = 0x200000,          // BoolVal15
    ANIMPATH_KEPT_400000 = 0x400000,      // BoolVal16
    ANIMPATH_VISION = 0x800000,           // BoolVal14
    ANIMPATH_SAW_SOMETHING = 0x1000000,
    ANIMPATH_GROUP_STOPPED = 0x4000000,
    ANIMPATH_RANDOM_TIME = 0x8000000,
};

// The collision group of a parked follower (group 32 alone).
constexpr uint32_t ANIMPATH_PARKED_GROUP = 0x80000000u;

// Global tuning, as read from "Configs\AnimPath.cfg" (distances squared).
struct AnimPathTuning {
    uint32_t debugFlags;         // 1 TargetLine, 2 VisionPickLine
    float physicalClipSq;        // a parked follower nearer than this to a target wakes
    float animUpdateClipSq;      // beyond this the own animation is not advanced
    float physicalClipWhenHitSq; // a knocked follower stays physical while this near
    float notShownClipSq;        // beyond this the node is hidden
    float visionPickMaxSq;       // beyond this no vision picks
    int32_t picksPerRound;       // visionPicksPerUpdate
    int32_t stopAllThreshold;    // followAnimsStoppedToStopAll (0 never)
    Vec3 visionLower, visionUpper;  // default vision box
    float followGain;            // distRelFollowVelocity
    float visionLength;          // 25
    float cosines[2];            // cos 15 and cos 5 degrees (kept)
};

// Reads the tuning file once and makes the module state (1, or 0 when memory
// fails). Shutdown frees it; the followers must be gone by then.
int AnimPath_Init(void);
void AnimPath_Shutdown(void);
// Registers "AnimPath_Constructor", "AnimPath_Destructor", "AnimPath_Update"
// and "AnimPath_Collision".
void AnimPath_Register(void);
// Slot 0..7: the target object (null clears). 0 for a slot of 8 or more, or
// before AnimPath_Init.
int AnimPath_SetTarget(int slot, Object* object);
// The tuning in force (null before Init).
const AnimPathTuning* AnimPath_GetTuning(void);
// The random generator of the vision offsets and knocked route times
// (rand() by default; null restores it).
void AnimPath_SetRandom(int (*random)(void));
// The pool of PhysBody* that vision rays are cast against.
List* AnimPath_GetLinkPool(void);
// The follower's flags (0 for an object without AnimPath data).
uint32_t AnimPath_GetFlags(const Object* object);
// The follower's "Route" item node, or null (no route: it does not follow).
Node* AnimPath_GetRouteItem(const Object* object);

uint32_t AnimPath_Constructor(Object* object, uint32_t zero, void* templateRecord);
uint32_t AnimPath_Destructor(Object* object, uint32_t zero, void* unused);
uint32_t AnimPath_Update(Object* object, uint32_t zero, void* dt);
uint32_t AnimPath_Collision(Object* object, Object* other, uint32_t side);

// The angular velocity that turns a body with at A and up U towards the
// target at A' and up U' (yaw about y, pitch and roll about horizontal
// axes; near pointing straight down the yaw is left out).
Vec3 AnimPath_OrientationError(const Vec3* at, const Vec3* up, const Vec3* targetAt, const Vec3* targetUp);
