// "Man" (control mode 0, the mode of an entity whose configuration names no
// ControlMode): a tank-style walker. The stick turns the character and
// drives it forwards or backwards along its own facing; it jumps, double
// jumps, wades and swims, bumps into things, dies by falling or drowning
// and respawns at its start without any count of lives.
//
// A player's character (or one a player took over) moves by its pad; a
// computer player by its route slot, which pushes the stick a player would
// to follow the route of its configuration. Its facing lives on the
// object's node; each frame the turn is written to the node and the body.
#pragma once

#include <cstdint>

#include "common/maths.h"
#include "game/ai_route.h"
#include "game/modes/mode_keys.h"

struct ConfigNode;
struct EntityRecord;
struct Object;
struct PlayerInputRecord;

enum : int32_t {
    MAN_STAND, MAN_WALK, MAN_WALK_BACK, MAN_RUN, MAN_JUMPIN, MAN_LAND, MAN_JUMP, MAN_POSSESS_IN, MAN_POSSESS_OUT,
    MAN_FIRE, MAN_RUNFIRE, MAN_DOUBLEJUMP, MAN_CLIMB_ROPE_STILL, MAN_CLIMB_ROPE_UP, MAN_CLIMB_ROPE_DOWN, MAN_STUNNED,
    MAN_STUN_RECOVER, MAN_DEAD, MAN_TURN_ON_SPOT, MAN_SIDE_STEP_LEFT, MAN_SIDE_STEP_RIGHT, MAN_WADING,
    MAN_SWIM_FORWARD, MAN_DROWN, MAN_SKID, MAN_DIE_IN_AIR, MAN_BUMP, MAN_ANIM_COUNT
};

enum : uint32_t {
    MAN_BUTTON_JUMP = 0x40,
    MAN_BUTTON_POSSESS = 0x80,
};

struct ManData {
    float jumpVel, forwardVelStep, reverseVelStep, turnVelMax, maxRunSpeed, maxWalkSpeed;
    Vec3 noInputDamping, runDamping;
    uint32_t doubleJumpAllow;
    float doubleJumpVel, doubleJumpAllowMaxYVel, doubleJumpAllowMinYVel;
    float sideStepVelStep, sideStepMaxVel, waterWadeHeight, waterDamageHeight;
    Vec3 joyDirIncFromCenter, joyDirIncToCenter;  // x for the turn, z for the drive
    float deathColVelVer, stunColVelVer, stunColVelHor, dieInAirTime, dieInAirVel;
    // State.
    float fallTime;            // last time the fall was slower than dieInAirVel
    uint32_t doubleJumpUsed;
    float turn;                // T: the smoothed stick x
    float drive;               // F: the smoothed stick y
    float flickTime, flickDirection;  // the last full sideways deflection
    uint32_t stickCentred;
    uint32_t sideStepActive;   // never started: nothing begins a side step
    float slowTime;            // last time the character stood slowly
    AiRoute route;             // a computer player's (owned)
    ModeLoadPass loadPass;
};

const ModeKeyTable* ManMode_GetKeyTable(void);
const char* const* ManMode_GetAnimNames(uint32_t* count);

void ManMode_Load(ConfigNode* reader, void* data, EntityRecord* record, Object* object, int32_t pass);
void ManMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input);
// A computer player's stick: turn towards the route, drive while it lies ahead.
void ManMode_Route(Object* object, EntityRecord* record, PlayerInputRecord* input);
void ManMode_Free(EntityRecord* record);

// The stick smoothing: value follows stick at fromCentre per second moving
// away from 0 and toCentre per second moving towards it, never past the stick.
float ManMode_Smooth(float value, float stick, float fromCentre, float toCentre, float dt);
