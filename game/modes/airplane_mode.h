// The AirPlane control mode (mode 7): a flyer steered through target pitch,
// heading and roll angles that the stick moves; the rules step turns the
// body toward them through its angular velocity, with the chase camera
// locked to the plane's attitude. Two buttons set an engine power, which is
// clamped and kept but moves nothing: the lift and glide values have no
// keys, so the speed stays 0 and the plane turns where it is. Action 7
// hands control back to the character that took the plane over, put down
// beside it.
//
// Heading and roll are compared by their wrapped signed difference, so the
// plane turns the short way across heading 0 and back from a small roll to
// either side.
//
// Slots: load, update, restart, rules, free (the chase camera is the mode's).
#pragma once

#include <cstdint>

#include "common/maths.h"

struct ChaseCamera;
struct ConfigNode;
struct EntityRecord;
struct Object;
struct PlayerInputRecord;

enum : int32_t {
    AIRPLANE_ANIM_STAND = 0,
    AIRPLANE_ANIM_THRUST,
    AIRPLANE_ANIM_JUMPIN,
    AIRPLANE_ANIM_FLY,
    AIRPLANE_ANIM_LAND,
    AIRPLANE_ANIM_JUMP,
    AIRPLANE_ANIM_COUNT
};

enum : uint32_t {
    AIRPLANE_BUTTON_POWER_UP = 0x10,    // action 4
    AIRPLANE_BUTTON_POWER_DOWN = 0x20,  // action 5
    AIRPLANE_BUTTON_LEAVE = 0x80,       // action 7
};

struct AirPlaneData {
    Vec3 groundDamping, flightDamping, groundAngDamping, flightAngDamping;  // read and kept
    float engineRelYAngVelMult;                                             // 1.0 by default; kept
    float engineRelYAngVelMax;                                              // 100.0 by default; kept
    float enginePowerMin, enginePowerMax, engineSpeedUpRate, engineSlowDownRate;
    float liftOffset, liftMax, liftMin, glide;     // no keys: 0
    float targetPitch, targetHeading, targetRoll;  // radians
    float pitch, heading, roll;                    // the body's, stored by the rules step
    float enginePower;
    float speed;  // along the nose
    uint32_t pickupHash;
    ChaseCamera* camera;  // owned
};

void AirPlaneMode_Load(ConfigNode* reader, void* modeData, EntityRecord* record, Object* object, int32_t pass);
void AirPlaneMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input);
void AirPlaneMode_Restart(Object* object, EntityRecord* record, int32_t usePlayerStart);
void AirPlaneMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord* input);
void AirPlaneMode_Free(EntityRecord* record);

// The attitude of a frame: pitch pi - acos(at.y) (pi/2 level), heading
// Vec3_Heading(at), and the roll of up seen along that heading (signed).
void AirPlaneMode_Attitude(const Vec3* at, const Vec3* up, float* pitch, float* heading, float* roll);
