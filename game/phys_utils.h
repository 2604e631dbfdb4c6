// Physics utility objects, built from named callbacks that
// VavadUtils_Register registers:
//   magnets (user integer 21): a field action of the physics world anchored
//     on the magnet's body pulls the bodies put into it with
//     VavadUtils_MagnetSetBody, and a hinge-velocity block may turn the body;
//   hinge velocity changers (22): drive the body's angular velocity through
//     a cycle of timed states with optional angle limits, a movement sound
//     "movement" and an animation switch;
//   generic objects (19): ordinary physics props that return to their start
//     on the level's restart event.
// Each reads its data from "<level folder>\<base name>.cfg", the file its
// object was made from (the scene item's name without "_NN"): section
// "MagnetData" or "HingeVelChangeData".
#pragma once

#include <cstdint>

#include "common/maths.h"

struct ConfigNode;
struct Object;
struct PhysBody;
class PhysField;
struct Sound;

constexpr uint32_t GENERIC_USER_INT = 19;
constexpr uint32_t MAGNET_USER_INT = 21;
constexpr uint32_t HINGEVEL_USER_INT = 22;

struct HingeVelState {
    Vec3 targetAngle;     // axis x HingeVel_TargetAngle%d (radians)
    Vec3 targetVelocity;  // axis x HingeVel_TargetVel%d (its size with limits)
    float velPerSec;      // HingeVel_VelPerSec%d: change of angular velocity per second
    float time;           // HingeVel_TimeInState%d (seconds)
};

// The hinge-velocity block: the whole record of a hinge velocity changer,
// part of a magnet's.
struct HingeVelBlock {
    Object* object;
    uint32_t stateCount;
    HingeVelState* states;  // owned
    uint32_t current;
    float timeInState;
    Vec3 axis;              // the scene item's world at at creation
    uint32_t limits;        // HingeVel_HingeLimits
    Vec3 startPosition;
    Quat startRotation;
    Vec3 startAt, startUp;
    float triggerVel;       // HingeVel_SoundTriggerVel: above it the movement starts
    float untriggerVel;     // HingeVel_SoundUnTriggerVel: below it the movement stops
    uint32_t soundGroup;
    float lastBelowTrigger;   // level clock
    float lastAboveUntrigger;
    uint32_t moving;        // the movement sound plays (or would, without a sound group)
    Sound* sound;           // the movement sound's instance, or null
};

// The field of a magnet: section "MagnetData" of its file.
struct MagnetParams {
    float strength;   // "strength", 40
    float falloff;    // "falloff" (exponent), 2
    float angle;      // "angle" in degrees, stored in radians; 360 degrees
    float distance;   // "distance" (reach), 20
    Vec3 direction;   // "direction", (0, 0, 1)
    Vec3 position;    // "position", (0, 0, 0)
};

struct MagnetRecord {
    PhysField* field;
    uint32_t typeHash;      // Name_Hash (StringVal0, 1, 1)
    HingeVelBlock hinge;
};

struct GenericObjectRecord {
    Vec3 position, at, up;
};

// The defaults, then the keys of "MagnetData" when the reader is given.
void Magnet_ReadParams(ConfigNode* reader, MagnetParams* params);

// Registers the magnet, hinge velocity changer and generic object callbacks.
void VavadUtils_RegisterPhysicsObjects(void);

// Reads a hinge-velocity block from `section` of the reader for the object
// (axis and start pose from it). 1, or 0 when memory fails (the block is
// then empty).
int HingeVel_Load(ConfigNode* reader, const char* section, Object* object, HingeVelBlock* block);
// One frame of sound, animation, states and angular velocity.
void HingeVel_Step(HingeVelBlock* block, float dt);
// The body back at its start at rest, state 0, the movement sound released.
void HingeVel_Reset(HingeVelBlock* block);
// Releases the states, the sound and the sound group.
void HingeVel_Free(HingeVelBlock* block);

// For every magnet of the type hash: the body joins (inside 1) or leaves its field.
void VavadUtils_MagnetSetBody(uint32_t typeHash, PhysBody* body, int inside);

uint32_t VavadUtils_Magnet_Constructor(Object* object, uint32_t zero, void* templateRecord);
uint32_t VavadUtils_Magnet_Destructor(Object* object, uint32_t zero, void* unused);
uint32_t VavadUtils_Magnet_Update(Object* object, uint32_t zero, void* dt);
uint32_t VavadUtils_HingeVelChange_Constructor(Object* object, uint32_t zero, void* templateRecord);
uint32_t VavadUtils_HingeVelChange_Destructor(Object* object, uint32_t zero, void* unused);
uint32_t VavadUtils_HingeVelChange_Update(Object* object, uint32_t zero, void* dt);
// The collision callback of magnets and hinge velocity changers: nothing.
uint32_t VavadUtils_EmptyCollision(Object* object, Object* other, uint32_t side);
uint32_t VavadUtils_GenericObject_Constructor(Object* object, uint32_t zero, void* templateRecord);
// Also the destructor of water and air-stream volumes; accepts an object without a record.
uint32_t VavadUtils_GenericObject_Destructor(Object* object, uint32_t zero, void* unused);
uint32_t VavadUtils_GenericObject_Update(Object* object, uint32_t zero, void* dt);
