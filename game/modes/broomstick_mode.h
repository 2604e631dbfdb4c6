// The BroomStick control mode (mode 13): a player flying a broom through a
// level. The stick leans and pitches the broom, two buttons raise and lower
// a forward speed, and the body's velocity is steered toward the broom's
// heading. The mode carries the player's score, lives, pickup counters, a
// lock-on target for the weapon, camera presets, the reactions to the
// level's typed objects and to damaging, healing and scoring projectiles.
// Its rules slot (broomstick_run.cpp) keeps the HUD, the run's time limit,
// the end-area sequence with best scores and unlocks, the score pop-ups, the
// lock-on scan, the camera, and ends with the flight step.
//
// Everything the mode keeps of the level it plays in (held projectiles,
// targets, the completion pickups, the end area) is dropped by its detach
// slot when a kept player record leaves its level, and found again by the
// load of the next.
//
// A computer player's broom is flown by its route slot along the route of
// its configuration, with the stick and speed buttons a player would use.
//
// Slots: load, update, restart, rules, collision, route, free, hook,
// message, detach.
#pragma once

#include <cstdint>

#include "common/maths.h"
#include "game/ai_route.h"
#include "game/col_area.h"
#include "game/projectile.h"

struct AnimSet;
struct ChaseCamera;
struct ConfigNode;
struct EntityRecord;
struct Node;
struct Object;
struct PlayerInputRecord;

constexpr uint32_t BROOM_TARGETS = 20;
constexpr uint32_t BROOM_POPUPS = 10;
constexpr uint32_t BROOM_HELD = 4;

enum : int32_t { BROOM_ANIM_FLY = 0, BROOM_ANIM_FIRE, BROOM_ANIM_STUNNED, BROOM_ANIM_COUNT };

// Mode flags.
enum : uint32_t {
    BROOM_ATTACK_TYPES = 2,      // entityTypeToAttack gave a type: the lock-on needs a shared type bit
    BROOM_LOCK_TIMER = 4,        // the lock on the current target expires at lockExpiry
    BROOM_RESTORE_CAMERA = 8,    // frozen: the camera frame is put back when play goes on
    BROOM_REQUIREMENT = 16,      // the score fraction or all hidden pickups were collected
    BROOM_NO_SPECIAL_AMMO = 64,  // noSpecialAmmo: the special move starts without ammunition
    BROOM_SPEED_INPUT = 256,     // a speed button this frame
    BROOM_STICK_INPUT = 512,     // the stick moved this frame
};

// Run-state bits (BroomStickData::runState).
enum : uint32_t {
    BROOM_RUN_COMPLETE = 0x2,  // the end area's last animation has been acted on
    BROOM_STUN_HIDDEN = 0x4,   // the stun blink left the model hidden
    BROOM_PUSHING = 0x8,       // the push velocity is in force
};

enum : uint32_t {
    BROOM_BUTTON_ACCELERATE = 0x10,
    BROOM_BUTTON_BRAKE = 0x20,
    BROOM_BUTTON_FIRE = 0x40,
    BROOM_BUTTON_CAMERA = 0x100,
    BROOM_BUTTON_NEARER = 0x400,
    BROOM_BUTTON_FARTHER = 0x800,
};

enum : uint32_t { BROOM_POPUP_ACTIVE = 1, BROOM_POPUP_PROJECT = 2 };

struct BroomCamPreset {
    float railDist;
    float slideMaxDist;
    float xRotation;       // radians above the broom's own elevation
    Vec3 viewObjLagSpeed;  // absolute values
    Vec3 camLagSpeed;      // absolute values
};

struct BroomHeld {
    Object* projectile;  // a FRAME_FOLLOW shot following `node`
    AnimSet* set;        // the animation set whose key event fired it
    Node* node;
};

struct BroomTarget {
    Object* object;
    float distanceSq;
    uint32_t visible;
};

struct BroomPopup {
    uint32_t flags;  // BROOM_POPUP_*
    int32_t value;
    char text[16];
    float x, y, depth;  // 640 x 480 screen and depth
    float vx, vy;       // per frame
    Vec3 world;
    uint32_t serial;  // opening order: each keeps clear of those opened before it
};

struct BroomStickData {
    // Keys.
    float scoreFraction[3];  // easy, medium, hard: "...ScorePickupPercentReq" x 0.01
    float initHealth;        // 100
    int32_t initNumLifes;    // 10
    float totalHealth;       // 100
    int32_t levelCompPickupTotal;
    float targetViewAngle[2];  // pitch and heading half-widths, radians
    float targetViewRadius;
    float levelCompArrowSpeed[2];                              // arrow pitch and yaw rates, radians per second
    float stunColVelVer, stunColVelHor, stunPlayerAtRelAngle;  // read and kept
    float stunDuration;                                        // seconds of stun protection
    int32_t specialMoveProjectileNum;
    BroomCamPreset presets[4];
    uint32_t attackMask;
    float accelStart, accelEnd, accelPower;  // acceleration at speed 0 and at full speed, curve exponent (1)
    float brakeDec, speedMax, noInputDec;
    float maxXRotation, minXRotation, maxZRotation;           // radians
    float leanOuter, leanInner, pitchOuter, pitchInner;       // input rates per second
    float descentMaxVel, descentVelPower, descentSpeedRange;  // sink at rest, exponent (1), speed below which it sinks
    float yRotateSpeed, xRotateNegSpeed, xRotatePosSpeed;     // radians per second
    float levelOffRotateSpeedMax;                             // radians per second
    float levelOffPower;                                      // 1, or the key x 2 pi / 360
    float levelOffTimeAfterNoInput, levelOffSpeedMaxVel;
    float rotateDistRelYCamSpeed;
    // Owned.
    ChaseCamera* camera;
    WeaponList weapons;
    ColAreaList areas;
    Object** compPickups;  // the level's kind-4 pickups (the array is owned, the objects are not)
    uint32_t compPickupCount, compPickupCapacity;
    uint32_t typeHashes[OBJTYPE_COUNT];
    uint32_t endTriggerHash;  // Name_Hash ("ENDAREATRIGGER", 1, 1)
    // Level (dropped by the detach slot).
    Object* endArea;  // the "ENDAREA" object (four animations or more), or null
    BroomHeld held[BROOM_HELD];
    Object* target;
    BroomTarget pending[BROOM_TARGETS], live[BROOM_TARGETS];
    // Run state.
    uint32_t flags;     // BROOM_* mode flags
    uint32_t runState;  // BROOM_TIME_UP ..
    uint32_t camPreset;
    float cameraButtonTime;
    float lastStunTime;
    int32_t lives;
    int32_t compCollected;
    float lockExpiry, targetDistanceSq;
    uint32_t scanIndex;
    float arrowPitch, arrowYaw;
    int32_t score;
    int32_t scorePresent, scoreCollected, hiddenPresent, hiddenCollected;
    float scoreFractionRequired;
    int32_t hitCount;
    float stopTime;
    BroomPopup popups[BROOM_POPUPS];
    uint32_t popupSerial;  // the last pop-up's serial
    Vec3 savedCameraPosition, savedCameraAt, savedCameraUp;
    Vec3 smoothVelocity, targetVelocity;
    float speed, pitch, yaw, roll;
    float lean, pitchInput;  // -1..1
    float lastInputTime;
    Vec3 pushVelocity;
    float pushTime;
    AiRoute route;  // a computer player's (owned)
};

void BroomStickMode_Load(ConfigNode* reader, void* modeData, EntityRecord* record, Object* object, int32_t pass);
void BroomStickMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input);
void BroomStickMode_Restart(Object* object, EntityRecord* record, int32_t fullRestart);
void BroomStickMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord* input);
void BroomStickMode_Collision(Object* object, EntityRecord* record, Object* other, uint32_t side);
// A computer player's input: lean towards the route, pitch to its height,
// speed up while it runs ahead and brake once it is caught up.
void BroomStickMode_Route(Object* object, EntityRecord* record, PlayerInputRecord* input);
void BroomStickMode_Free(EntityRecord* record);
void BroomStickMode_Message(AnimSet* set, const char* message, Node* node, int32_t phase, float time, float span);
void BroomStickMode_Detach(EntityRecord* record);

// The entity takes a hit: outside the stun protection the health change
// applies; while it lives a non-zero push sets the push velocity (direction
// x push, vertical part limited to verticalLimit); a real hit (protection
// over, change not 0, still alive) stuns it and steps the weapon back.
void BroomStickMode_TakeHit(Object* object, EntityRecord* record, float healthChange, const Vec3* direction, float push,
                            float verticalLimit);
// A player broom scores a hit on another object: counts it, with
// weaponEvent steps the weapon on, and a non-zero score flies from the
// other object into the score as a pop-up (at once when all ten fly).
void BroomStickMode_CountHit(int32_t score, Object* object, Object* other, int count, int weaponEvent);

// The flight step and its parts, shared with the rules slot.
void BroomStick_Fly(Object* object, EntityRecord* record, BroomStickData* data, float dt);
// The broom's frame from its yaw, pitch and roll.
void BroomStick_Frame(const BroomStickData* data, Vec3* at, Vec3* up);
// Opens a pop-up of `value` at a world position; 0 when all are in use.
int BroomStick_OpenPopup(BroomStickData* data, int32_t value, const Vec3* world);
// Applies preset i to the chase camera (distance, slide distance, lags).
void BroomStick_ApplyPreset(BroomStickData* data, uint32_t preset);
