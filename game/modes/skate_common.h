// The part of the Skater and FakeTilt control modes that the two share: the
// model's frame (turned to the floor and to the travel direction), the
// chase camera with its four presets and the look-around, the falling-death
// timer, the rules step (lose path, collision noises, HUD, placement, the
// restart's "start" animation) and the restart.
//
// Both modes' data blocks begin with a SkateCommon, so these helpers work on
// either. A frame runs SkateCommon_BeginFrame (floor, model frame, turn,
// camera controls), then the mode's own push (which may roll and pitch the
// camera through SkateCommon_PushCamera), SkateCommon_SlowDown, and
// SkateCommon_EndFrame (camera targets); the rules slot calls
// SkateCommon_Rules.
//
// Angles are radians; headings are measured from +z towards +x.
#pragma once

#include <cstdint>

#include "common/maths.h"
#include "game/ai_route.h"

struct ChaseCamera;
struct ConfigNode;
struct EntityRecord;
struct Node;
struct Object;
struct PlayerInputRecord;

// Action bits of the input record's buttons that these modes read.
enum : uint32_t {
    SKATE_BUTTON_LOOK = 0x10,     // action 4: the stick looks around
    SKATE_BUTTON_CAMERA = 0x100,  // action 8: next camera preset
};

struct SkateCamMode {
    float railDist;   // "camMode%dRailDist": the camera distance (0 puts it inside the model)
    float xRotation;  // "camMode%dXRotation", radians: taken off the floor pitch
};

// Run-state bits of SkateCommon::state.
enum : uint32_t {
    SKATE_DEATH_HANDLED = 0x1,  // this death restarted the level or respawned: not again until the restart slot
    SKATE_START_PLAYING = 0x2,  // the restart after a death plays "start" on HUD slot 7 while frozen
};

struct SkateCommon {
    // Keys.
    float dieInAirTime;         // seconds falling faster than dieInAirVel before the fall kills
    float dieInAirVel;          // vertical velocity (negative)
    float forwardVelStep;       // acceleration per unit stick
    Vec3 noInputDamping;        // per-axis damping per second without a push
    Vec3 runDamping;            // per-axis damping per second while pushing
    float stunColVelHor;        // FakeTilt: horizontal speed change per second that is a bump
    float distForEdgePanic;     // read and kept
    float orientToFloorSpeed;   // per second
    float faintNoiseColChange;  // speed changes per second (negative: blows); -1000 before each read
    float mediumNoiseColChange;
    float loudNoiseColChange;
    float landColChangeReq;
    float fallingLagDistMultiply;  // read and kept
    AiRoute route;
    SkateCamMode camModes[4];
    ChaseCamera* camera;  // owned
    // Run state.
    float fallStamp;                                       // entity clock of the last frame not falling fast
    uint32_t loseCount, winCount, impactCount, fallCount;  // sound-bank entries of those names
    uint32_t respawnCount;                                 // restarts after a death since the last full restart
    uint32_t scratch[2];                                   // cleared on restart
    uint32_t noiseLatch;     // a blow played (or would have): none again until a frame without one
    uint32_t camMode;        // 0..3
    uint32_t deathAreaHash;  // Name_Hash ("DEATH_AREA", 1, 1)
    float dieTime;           // entity clock at which the lose path starts; 0 = none
    Vec3 modelAt, modelUp;   // the model's frame, written to animation slot 0
    uint32_t state;          // SKATE_*
};

// Per-frame scratch of the movement step.
struct SkateFrame {
    float dt;
    Node* cameraFrame;    // the player's viewport camera, or null
    float cameraHeading;  // of the viewport camera's forward (the chase camera's heading without one)
    int floorHit;
    Vec3 floorPoint;   // the floor ray's hit (the body position when it missed)
    Vec3 floorNormal;  // (0, 1, 0) when it missed
    Vec3 velocity;     // the body's, at the start of the frame
    float speed;       // horizontal speed, 0 below 0.01
    float stickLength;
    int looking;        // action 4 held: the stick looks around instead of pushing
    float pitch, roll;  // camera targets before the preset's X rotation
};

// Load steps common to both modes, in order, for pass 0 ("controlData",
// route loaded with its defaults, chase camera freed first) or pass N
// ("controlData_N", route keys only): the animation-name list of slot 0,
// the shared keys, the four noise thresholds reset to -1000 and read, the
// chase camera from "<section>::genCamData", the camera presets, the
// sound counts.
void SkateCommon_Load(ConfigNode* reader, SkateCommon* data, EntityRecord* record, Object* object, int32_t pass,
                      const char* const* animNames, uint32_t animCount, const char* modeName);
// Frees the chase camera and the route.
void SkateCommon_Free(SkateCommon* data);

// Movement steps: floor ray, model frame turned to the floor (world up after
// 0.25 s in the air) and toward the travel direction, angular y damping,
// the camera preset button, the look-around and the follow heading.
void SkateCommon_BeginFrame(Object* object, EntityRecord* record, SkateCommon* data, const PlayerInputRecord* input,
                            SkateFrame* frame);
// The push direction: the stick turned by minus the camera heading (a
// route-driven entity's stick is a world direction already), normalised.
Vec3 SkateCommon_PushDirection(const EntityRecord* record, const PlayerInputRecord* input, const SkateFrame* frame);
// A push along `direction` (SkateCommon_PushDirection): velocity +=
// direction x dt x step x |stick|, then the per-axis run damping; a player's
// push also rolls the camera by stick x x -25 degrees and raises its pitch by
// stick y x 10 degrees.
void SkateCommon_Push(Object* object, const EntityRecord* record, const SkateCommon* data,
                      const PlayerInputRecord* input, const Vec3* direction, float step, SkateFrame* frame);
// Slows the horizontal velocity by 1.5 x dt along its own direction.
void SkateCommon_SlowDown(Object* object, float dt);
// The camera's roll and pitch targets.
void SkateCommon_EndFrame(SkateCommon* data, const SkateFrame* frame);
// The falling death: 1 (and health 0) when the entity fell faster than
// dieInAirVel for more than dieInAirTime. On the ground the stamp follows
// the clock.
int SkateCommon_FallingDeath(Object* object, EntityRecord* record, float* fallStamp, float dieInAirVel,
                             float dieInAirTime);

// The rules step of a player entity: camera follow, die time -> lose flag,
// speed gauge, collision noise, HUD text, lose path, placement
// (`placedSlots` animation slots take the start orientation: 2 for Skater,
// 1 for FakeTilt) and the lose animation's camera and level restart. The
// "start" animation of a restart after a death runs here for every entity.
void SkateCommon_Rules(Object* object, EntityRecord* record, SkateCommon* data, int32_t loseAnim, uint32_t placedSlots);

// The restart shared by both: after a death (usePlayerStart 0) the respawn
// count rises and HUD slot 7 plays "start" with the entity frozen; with 1
// the count is 0 and that slot is hidden. Then the timers, the "startlevel"
// animation (`startAnim`), the level's flag 1, the object's shadow flag, the
// death-area hash, no die time, and the route back to its start.
void SkateCommon_Restart(Object* object, EntityRecord* record, SkateCommon* data, int32_t usePlayerStart,
                         int32_t startAnim);

// The camera roll of an up vector seen along a heading: signed, radians,
// 0 for world up, positive when up leans to the camera's right.
float SkateCommon_CameraRoll(float heading, const Vec3* up);
// The route step of both modes: the route's direction x and z as the stick.
void SkateCommon_RouteStick(Object* object, SkateCommon* data, PlayerInputRecord* input);
