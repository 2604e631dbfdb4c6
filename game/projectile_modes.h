// Projectile fire modes: how a shot flies once launched. A projectile type
// names its mode in its template's StringVal0:
//   THROW (0)        ballistic: launched along its (turned) orientation,
//                    then moved by the physics world alone;
//   STRAIGHT (1)     constant velocity, aimed at the shooter's lock-on
//                    target when it lies within the aim limits, with spread;
//   HOMING (2)       turns towards its target node at limited, changing
//                    rates and speeds;
//   FRAME_FOLLOW (3) glued to an animation node of its shooter.
// Each mode has a data block, read per type from the sections
// "ProjectileModeData<N>" of the projectile's configuration (FRAME_FOLLOW
// reads none), and five callbacks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/maths.h"

struct ConfigNode;
struct Node;
struct Object;
struct ProjectileRecord;

enum ProjMode : uint32_t {
    PROJMODE_THROW = 0,
    PROJMODE_STRAIGHT = 1,
    PROJMODE_HOMING = 2,
    PROJMODE_FRAME_FOLLOW = 3,
    PROJMODE_COUNT = 4,
    PROJMODE_NONE = 5,  // a type whose StringVal0 names no mode, and every non-projectile
};

// Where and how a shot leaves: the fire callbacks may turn at and up.
struct ProjLaunch {
    Vec3 position;
    Vec3 at;
    Vec3 up;
    Node* node;  // the lock-on target's node, or the node a FRAME_FOLLOW shot follows
};

struct ProjThrowData {
    float pitchChange;    // launchAngleChange (radians): raises the launch direction
    float headingChange;  // turns it about the vertical
    float speed;          // velocity
};

struct ProjStraightData {
    float speed;              // velocity
    float aimLimit[2];        // maxAutoAngleChange: pitch, heading (radians; 0 = no aiming on that axis)
    float randomMin[2];       // minRandomRange (radians)
    float randomMax[2];       // maxRandomRange (radians)
    float randomMultiply[2];  // randomRangeMultiply: spread per radian of aim correction
    Vec3 velocity;            // computed at firing
};

struct ProjHomingData {
    float speed, startSpeed;  // velocity
    float turnRate[2];        // changeDirSpeed: pitch, heading (rad/s)
    float startTurnRate[2];
    float turnRateChange[2];  // changeDirSpeedChangePerSecond (rad/s per second, signed)
    float turnRateMaxChange[2];  // changeDirSpeedMaxChange: largest deviation from the start (0: none)
    float speedChange;        // velocityChangePerSecond
    float maxSpeedChange;     // maxVelocityChange: largest deviation from the start speed (0: none)
    Node* target;             // the launch node, or null
};

struct ProjFrameFollowData {
    Node* node;  // the followed node
};

struct ProjModeCallbacks {
    // Allocates the record's zero-filled mode block. 0 when memory fails.
    int (*init)(ProjectileRecord* record);
    void (*detach)(ProjectileRecord* record);
    void (*update)(Object* projectile, ProjectileRecord* record, float dt);
    void (*collision)(ProjectileRecord* record);
    void (*fire)(Object* projectile, ProjectileRecord* record, ProjLaunch* launch);
};

// Reads one "ProjectileModeData<N>" section (the reader's section is set)
// into a zero-filled block; 1 when at least one key was read.
typedef int (*ProjModeLoader)(ConfigNode* reader, void* block);

// The mode's callbacks, data-block size and loader; null / 0 for PROJMODE_COUNT
// or more (FRAME_FOLLOW has no loader).
const ProjModeCallbacks* ProjMode_GetCallbacks(uint32_t mode);
size_t ProjMode_GetDataSize(uint32_t mode);
ProjModeLoader ProjMode_GetLoader(uint32_t mode);

// The mode's blocks of sections "ProjectileModeData<N>", N = 0, 1, ... until
// a section gives no key: one array of count blocks of the mode's size in
// *blocks (Mem_Free; null when none). The reader's section is left changed.
// Returns count (0 for a mode without a loader, or when memory fails).
int ProjMode_ReadBlocks(ConfigNode* reader, uint32_t mode, void** blocks, uint32_t* count);

int ProjThrow_Load(ConfigNode* reader, void* block);
int ProjStraight_Load(ConfigNode* reader, void* block);
int ProjHoming_Load(ConfigNode* reader, void* block);
