// Chase camera: places a player's viewport camera node behind and around a
// followed node (the entity's animation root) at a distance. Angles turn
// towards targets at limited speeds; the followed point and the camera
// itself may lag; a tilt and a roll may be added; a distance limit (the
// "rail") closes in when the physics world blocks the view behind the
// followed point and opens again when it clears; and optional slides turn
// the camera sideways or up and away from an obstacle.
//
// Angles are radians. Angle X is the elevation (pi/2 level; below pi/2 the
// camera is above its target and looks down), angle Y the heading (0 looks
// along +z), angle Z the roll. A mode loads the record once
// (ChaseCamera_LoadConfig), resets it on restart, and each frame sets its
// target angles, follows its node and updates the camera node.
//
// The record is owned by the mode's data block through a slot pointer:
// ChaseCamera_LoadConfig allocates it there and Mem_FreeSlot releases it
// and clears the slot. Every operation accepts a null camera (and does
// nothing, or reads 0). Main thread only.
#pragma once

#include <cstdint>

#include "common/maths.h"
#include "common/memory.h"  // Mem_FreeSlot frees the record

struct ConfigNode;
struct Node;

enum : uint32_t {
    CHASECAM_MOVE_TO_PICK_HIT = 0x1,      // run the rail step
    CHASECAM_X_SLIDE = 0x2,               // elevation slides (also runs the rail step)
    CHASECAM_Y_SLIDE = 0x4,               // heading slides (also runs the rail step)
    CHASECAM_FOLLOWING = 0x8,             // the view-object position was initialised by a follow
    CHASECAM_VIEW_OBJ_LAG = 0x10,         // the followed point lags
    CHASECAM_CAM_LAG = 0x20,              // the camera lags
    CHASECAM_X_SLIDING = 0x40,            // an X slide runs: ChaseCamera_SetAngleX leaves the target alone
    CHASECAM_Y_SLIDING = 0x80,            // a Y slide runs: ChaseCamera_SetAngleY leaves the target alone
    CHASECAM_X_SPEED_LOCKED = 0x100,      // ChaseCamera_SetRotateSpeedX does nothing
    CHASECAM_Y_SPEED_LOCKED = 0x200,      // ChaseCamera_SetRotateSpeedY does nothing
    CHASECAM_HIT_SPEED_GAP = 0x400,       // the hit move-in speed is multiplied by the gap
    CHASECAM_X_SLIDE_OFF = 0x800,         // no X slide until the end of the next rail step (set by modes)
    CHASECAM_Y_SLIDE_OFF = 0x1000,        // no Y slide likewise
    CHASECAM_X_PLUS_HELD = 0x2000,
    CHASECAM_X_MINUS_HELD = 0x4000,
    CHASECAM_Y_MINUS_HELD = 0x8000,
    CHASECAM_Y_PLUS_HELD = 0x10000,
    CHASECAM_SNAPPED = 0x20000,           // the distance limit jumped to the hit at the last update
    CHASECAM_X_PLUS_NEW = 0x40000,        // records made at the last rail step: measure their turn
    CHASECAM_X_MINUS_NEW = 0x80000,
    CHASECAM_Y_MINUS_NEW = 0x100000,
    CHASECAM_Y_PLUS_NEW = 0x200000,
    CHASECAM_X_BEYOND_SLIDE = 0x400000,   // the last hit lies beyond the slide maximum distance
    CHASECAM_Y_BEYOND_SLIDE = 0x800000,
    CHASECAM_SNAP_REQUEST = 0x1000000,    // set by modes; cleared at the end of every update
};

// Lag tuning of the followed point or of the camera. Positive and negative
// mean the sign of the offset along each axis (x side, y height, z forward).
struct ChaseCameraLag {
    Vec3 posSpeed;
    Vec3 negSpeed;
    Vec3 posDistMax;     // offsets beyond these are taken up at once
    Vec3 negDistMax;     // stored negative
    uint32_t relative;   // speeds multiplied by the offset: 0x1 x+, 0x8 x-, 0x2 y+, 0x10 y-, 0x4 z+, 0x20 z-
};

// A slide away from an obstacle, kept while its drop tests hold.
struct ChaseCameraSlide {
    Vec3 hitPoint;   // the ray hit that started it
    float turn;      // how far the view turned in the update after the recording
    float angle;     // the view's heading (X records) or pitch (Y records) at the recording
    float arcLimit;  // the clamp limit derived from the hit point and the turn
};

enum : int { CHASECAM_X_PLUS, CHASECAM_X_MINUS, CHASECAM_Y_MINUS, CHASECAM_Y_PLUS };

struct ChaseCamera {
    uint32_t flags;  // CHASECAM_*
    // Configured ("default") values.
    Vec3 defaultAngles;
    Vec3 rotationSpeeds;     // rad/s
    Vec3 viewObjOffset;      // along the followed node's side, up and at axes
    Vec3 defaultTilt;
    Vec3 defaultTiltSpeed;
    float defaultDistance;
    Vec3 defaultMinLimits, defaultMaxLimits;
    ChaseCameraLag defaultViewObjLag;
    ChaseCameraLag defaultCamLag;
    // State.
    Vec3 angles;             // current
    float distance;          // current
    Vec3 targetAngles;
    float targetDistance;
    Vec3 minLimits, maxLimits;  // in force; a clamp applies only where they differ
    Vec3 tilt, targetTilt, tiltSpeed;
    Vec3 laggedViewObj;      // the followed point after the view-object lag
    ChaseCameraLag viewObjLag;  // in force
    ChaseCameraLag camLag;      // in force
    Vec3 currentRotationSpeeds;
    // Rail.
    float railMoveInSpeed, railMoveOutSpeed, railHitMoveInSpeed, railHitSlideMoveInSpeed;
    float railMinDistance;
    float distanceLimit;
    Vec3 viewObjPosition;    // the followed point before the lag
    Vec3 currentViewObjOffset;
    // Slides: rotate speed (rad/s), minimum speed, distance multipliers close, far and power; X then Y.
    float slideX[5];
    float slideY[5];
    float slideMaxDist;
    float snapDist;          // moveToPickSnapDist
    float scaledHitDist;     // the last ray's hit distance x the multiplier
    float hitDistMultiply;
    ChaseCameraSlide slides[4];  // CHASECAM_X_PLUS .. CHASECAM_Y_PLUS
    float lastPitch, lastHeading;
};

// Reads "<section>::<key>" for the keys of the tuning table (angles in
// degrees). The record begins as a copy of the one in *slot, or all zero with
// the hit distance multiplier 1.0 and the slide maximum distance 1000.0. The
// default angles are clamped through the setters and become the current
// ones. The record is stored in *slot (allocated when empty) only when at
// least one key was found; returns 1 then, 0 otherwise (or when memory
// fails, the slot unchanged).
int ChaseCamera_LoadConfig(ConfigNode* reader, ChaseCamera** slot, const char* section);

// Back to the configured state with the given angles and distance (null:
// the defaults); with a node, the camera is placed at once, as close as the
// world behind the followed point allows. The slide maximum distance becomes
// 0, which blocks slides until a mode sets it.
void ChaseCamera_Reset(ChaseCamera* camera, Node* cameraNode, const Vec3* angles, const float* distance);
// The followed point: the node's local position plus the view-object offset
// along its axes. The first follow also starts the lagged point there.
void ChaseCamera_FollowObject(ChaseCamera* camera, Node* followed);
// One frame: lags, angles, distance, camera lag, tilt and roll, the rail and
// slides; places the camera node (its local position and orientation).
// Nothing without a camera or node.
void ChaseCamera_Update(ChaseCamera* camera, Node* cameraNode, float dt);

// Target angle setters; each returns the target in force (unchanged while
// the axis slides, else the clamped angle).
float ChaseCamera_SetAngleX(ChaseCamera* camera, float angle);
float ChaseCamera_SetAngleY(ChaseCamera* camera, float angle);
float ChaseCamera_SetAngleZ(ChaseCamera* camera, float angle);
// All three; out (may be null) receives the results.
void ChaseCamera_SetAngles(ChaseCamera* camera, const Vec3* angles, Vec3* out);
// Target = current angle + delta, through the setter.
float ChaseCamera_AddAngleX(ChaseCamera* camera, float delta);
float ChaseCamera_AddAngleY(ChaseCamera* camera, float delta);
float ChaseCamera_AddAngleZ(ChaseCamera* camera, float delta);
// The angle clamped into the held slide arcs and the limits in force.
float ChaseCamera_ClampAngleX(ChaseCamera* camera, float angle);
float ChaseCamera_ClampAngleY(ChaseCamera* camera, float angle);
float ChaseCamera_ClampAngleZ(ChaseCamera* camera, float angle);

void ChaseCamera_SetDistance(ChaseCamera* camera, float distance);
// Current rotation speeds (rad/s); X and Y are ignored while locked.
void ChaseCamera_SetRotateSpeedX(ChaseCamera* camera, float speed);
void ChaseCamera_SetRotateSpeedY(ChaseCamera* camera, float speed);
void ChaseCamera_SetRotateSpeedZ(ChaseCamera* camera, float speed);
void ChaseCamera_RestoreRotateSpeeds(ChaseCamera* camera);
void ChaseCamera_SetViewObjOffset(ChaseCamera* camera, const Vec3* offset);
void ChaseCamera_SetTiltTarget(ChaseCamera* camera, const Vec3* tilt);
void ChaseCamera_SetSlideMaxDist(ChaseCamera* camera, float distance);
float ChaseCamera_GetSlideMaxDist(const ChaseCamera* camera);
// In-force view-object lag speeds; each turns the view-object lag on.
void ChaseCamera_SetViewObjLagPosSpeed(ChaseCamera* camera, const Vec3* speed);
void ChaseCamera_SetViewObjLagNegSpeed(ChaseCamera* camera, const Vec3* speed);
// In-force camera-lag speeds. CAREFUL: they turn on the view-object lag
// (0x10), not the camera lag (0x20), as the tuned modes expect: the camera
// lag runs only when the "defaultCamLag..." keys configure it.
void ChaseCamera_SetCamLagPosSpeed(ChaseCamera* camera, const Vec3* speed);
void ChaseCamera_SetCamLagNegSpeed(ChaseCamera* camera, const Vec3* speed);
// Each output is written only for a camera.
void ChaseCamera_GetViewObjLagNegSpeed(const ChaseCamera* camera, Vec3* out);
void ChaseCamera_GetVector(const ChaseCamera* camera, Vec3* out);          // the default angles
void ChaseCamera_GetRotationSpeeds(const ChaseCamera* camera, Vec3* out);  // the configured speeds
float ChaseCamera_GetAngleY(const ChaseCamera* camera);                     // current
// Shortest difference from the current to the target angle; its size when
// isSigned is 0.
float ChaseCamera_GetAngleXError(const ChaseCamera* camera, int isSigned);
float ChaseCamera_GetAngleYError(const ChaseCamera* camera, int isSigned);
// Distance from the lagged followed point to the node's world position.
float ChaseCamera_GetDistanceTo(const ChaseCamera* camera, Node* node);
void ChaseCamera_SetFlags(ChaseCamera* camera, uint32_t bits, int on);

// Direction from the camera towards its target for elevation X and heading
// Y: (0, 0, 1) turned about +y by -Y, then about the side axis by X - pi/2.
Vec3* Math_AnglesToDir(Vec3* out, float angleX, float angleY);
// The inverse: X = pi - pitch, Y = heading. Either output may be null.
void Math_DirToAngles(float* angleX, float* angleY, const Vec3* direction);
// The vector turned about +y by -angle to (x, y, z); the heading of (x, y, y).
// Modes read a roll from an up vector with it. 0 for a null vector.
float Math_RotatedElevation(float angle, const Vec3* vector);
// current moved by at most |step| along the shortest way to target, the result
// taken modulo 2 pi (sign kept); current itself for step 0 or current == target.
float Angle_MoveTowards(float target, float current, float step);
