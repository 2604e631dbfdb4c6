// "Man_CamRel" (control mode 1): a walking, jumping, fighting character
// steered relative to its player's chase camera. It collects pickups, takes
// hits, scores, loses lives, runs out of time, completes levels and meets
// the die menu; its rules slot also drives the chase camera, the HUD and
// the target list of homing weapons.
//
// The mode is split over four files: loading, restart and free
// (man_camrel_load.cpp), the movement slot (man_camrel_move.cpp), the
// rules slot (man_camrel_rules.cpp) and the collision and message slots
// with the helpers shared with the enemy modes (man_camrel_collision.cpp).
//
// Frame contract: the movement slot of frame N writes the "this frame"
// state (flags 0x2, 0x4, 0x8000, the wanted direction and heading) and the
// rules slot of frame N + 1 reads it, then clears 0x2, 0x8000 and the
// wanted direction. 0x4 is set again at the start of every movement slot;
// the wanted heading keeps its value for the direction check.
//
// The data block is zero-filled and owned by the entity system; it holds
// pointers into the level (pending projectiles, targets, the completion
// pickups and the level-end object) that the detach slot drops when a
// player record survives a level reload.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/maths.h"
#include "game/ai_route.h"
#include "game/chase_camera.h"
#include "game/col_area.h"
#include "game/modes/mode_common.h"
#include "game/modes/mode_keys.h"
#include "game/projectile.h"

struct AnimSet;
struct ConfigNode;
struct EntityRecord;
struct Node;
struct Object;
struct PlayerInputRecord;

// Mode flag word.
enum : uint32_t {
    MCR_MOVING = 0x2,              // moving on the ground this frame
    MCR_NO_INPUT = 0x4,            // no movement input this frame
    MCR_DOUBLE_JUMP_ALLOW = 0x8,   // doubleJumpAllow
    MCR_JUMPED = 0x10,             // first jump made (cleared on the ground)
    MCR_DOUBLE_JUMPED = 0x20,      // double jump made (cleared on the ground)
    MCR_ATTACK_QUEUED = 0x40,      // second close attack queued
    MCR_VALID_TURN = 0x80,         // a valid turn was made in the last check interval
    MCR_HAS_ATTACK_TYPES = 0x100,
    MCR_TARGET_HIDDEN = 0x200,     // the current target is out of sight
    MCR_ORIENT_TO_GROUND = 0x400,  // orientToColNormal
    MCR_RESET_NORMAL = 0x800,      // ground normal reset pending
    MCR_SWIPE_ARMED = 0x1000,
    MCR_FORCED = 0x2000,           // velocity forced this frame (no damping)
    MCR_WAS_FROZEN = 0x4000,
    MCR_MANUAL_CAMERA = 0x8000,    // manual camera input this frame
    MCR_PICKUPS_MET = 0x10000,     // pickup requirement met
    MCR_KILLED_BY_AREA = 0x20000,
    MCR_CHARGE_ALLOW = 0x40000,    // allowCloseAttackCharge
    MCR_SWORD_ALLOW = 0x80000,
    MCR_WEAPONS_ALLOW = 0x100000,
    MCR_CAM_RESET_ALLOW = 0x200000,
    MCR_PUSH_ALLOW = 0x400000,
    MCR_TARGET_TO_CAMERA = 0x800000,  // orientateTargetToCam
    MCR_NO_SPECIAL_AMMO = 0x1000000,
};

// Animation ids of slot 0.
enum : int32_t {
    MCR_STAND, MCR_WALK, MCR_WALK_BACK, MCR_RUN, MCR_JUMPIN, MCR_LAND, MCR_JUMP, MCR_POSSESS_IN, MCR_POSSESS_OUT,
    MCR_FIRE, MCR_DOUBLEJUMP, MCR_STUNNED, MCR_DEAD, MCR_WADING, MCR_SWIM_FORWARD, MCR_DROWN, MCR_SKID,
    MCR_CHANGE_DIRECTION, MCR_DIE_IN_AIR, MCR_BUMP, MCR_CLOSE_ATTACK1, MCR_CLOSE_ATTACK1_FINISH, MCR_CLOSE_ATTACK2,
    MCR_CLOSE_ATTACK2_FINISH, MCR_CLOSE_ATTACK_IN_AIR, MCR_SWIPE1, MCR_SWIPE2, MCR_SWIPE3, MCR_PUSH,
    MCR_STUNNED_UPWARDS, MCR_SPECIAL_MOVE, MCR_CLOSE_ATTACK_CHARGE, MCR_CLOSE_ATTACK_CHARGE_RELEASE,
    MCR_ANIM_COUNT
};

// Buttons of the input record.
enum : uint32_t {
    MCR_BUTTON_JUMP = 0x10,
    MCR_BUTTON_SPECIAL = 0x20,
    MCR_BUTTON_FIRE = 0x40,
    MCR_BUTTON_ATTACK = 0x80,  // close attack and possess
    MCR_BUTTON_CAMERA = 0x100, // hold: the stick steers the camera; tap: next camera mode
    MCR_BUTTON_CAMERA_RESET = 0x200,
    MCR_BUTTON_TARGET_PREVIOUS = 0x400,
    MCR_BUTTON_TARGET_NEXT = 0x800,
};

// Type names the mode tells objects and projectiles apart by, in the order
// of the stored hashes.
enum : uint32_t {
    MCR_TYPE_PICKUP, MCR_TYPE_SPRINGBOARD, MCR_TYPE_CHECKPOINT, MCR_TYPE_DEATHAREA, MCR_TYPE_KILLAREA,
    MCR_TYPE_ENDAREA, MCR_TYPE_ENDAREATRIGGER, MCR_TYPE_HITANIMCHANGE, MCR_TYPE_DAMAGE, MCR_TYPE_HEALTH,
    MCR_TYPE_SCORE, MCR_TYPE_SPECIAL_DAMAGE, MCR_TYPE_COUNT
};

constexpr int MCR_CAMERA_MODES = 4;
constexpr int MCR_CANDIDATES = 20;
constexpr int MCR_PENDING_SHOTS = 4;
constexpr int MCR_FLOAT_TEXTS = 10;

// Floating score text flags.
enum : uint32_t {
    MCR_TEXT_ACTIVE = 0x1,
    MCR_TEXT_UNPROJECTED = 0x2,
};

struct ManCamRelCamMode {
    float railDist;
    float xRotation;  // radians
    Vec3 camTilt;     // radians
    Vec3 viewObjLagSpeedOnGround, viewObjLagSpeedInAir;
    Vec3 camLagSpeedOnGround, camLagSpeedInAir;
    float slideMaxDist;
};

struct ManCamRelCandidate {
    Object* object;
    float value;  // squared distance at the scan
};

using ManCamRelPendingShot = ModeHeldShot;

struct ManCamRelFloatText {
    int32_t value;
    char text[12];
    float x, y, depth;  // on the 640 x 480 virtual screen
    float vx, vy;       // per frame
    Vec3 world;
    uint32_t flags;     // MCR_TEXT_*
    uint32_t serial;    // adding order: each keeps clear of those added before it
};

struct ManCamRelData {
    float jumpVel, jumpTimeSinceGroundAllow, yVelChangePerSec;
    float forwardVelStep, forwardVelStepInAir, forwardVelStepInAirWithCol, reverseVelStep;
    float joyRelYCamSpeedMax, joyRelYCamSpeedMult, joyRelYCamSpeedPowerOf, turnVelMax;
    float maxWalkSpeed, walkMinAnimSpeedChange, walkMaxAnimSpeedChange, walkVelSpeedChange;
    float maxRunSpeed, runMinAnimSpeedChange, runMaxAnimSpeedChange, runVelSpeedChange;
    float pushMinAnimSpeedChange, pushMaxAnimSpeedChange, pushVelSpeedChange;
    float maxInAirSpeed, friction, frictionAngleRelPower;
    Vec3 noInputDamping, runDamping, inAirDamping;
    float closeAttackMoveStartTime, closeAttackMoveEndTime, closeAttackForwardVelStep, closeAttackMaxSpeed;
    float doubleJumpVel, doubleJumpAllowMaxYVel, doubleJumpAllowMinYVel, waterWadeHeight, waterDamageHeight;
    Vec3 joyDirIncFromCenter, joyDirIncToCenter;
    float deathColVelVer, stunColVelVer, stunColVelHor;
    float cosStunPlayerAtRelAngle;
    float dieInAirTime, dieInAirVel, skidVel, skidPowerVal, waterDamagePerSec;
    float changeDirTurnSpeed, changeDirHighVel, changeDirCheckIntervalTime, changeDirValidTurnMade;
    float changeDirTimeAfterHighVel, stunDuration;
    float initHealth;
    int32_t initNumLifes;
    float totalHealth;
    float levelCompArrowSpeed[2];  // pitch, heading (rad/s)
    int32_t levelCompPickupTotal;
    int32_t killCount;
    uint32_t flags;  // MCR_*
    float manualCamSpeed[2];
    uint32_t attackMask;
    ManCamRelCamMode camModes[MCR_CAMERA_MODES];
    ChaseCamera* camera;  // owned
    WeaponList weapons;   // owned
    ColAreaList areas;    // owned
    float targetViewAngle[2];  // pitch and heading half-widths (radians)
    float targetViewRadius;
    float cosColOrientMaxUpwardChange, colOrientSpeed, colOrientMinVel;
    float swordTurnStartTime, swordTurnEndTime;
    float cosFrontColAngle;
    float timeToChangeFromAirLag;
    float upVelRangeForAngleChange, upVelRangeForAngleChangeReducePerSec, upVelRangePowerVal, upVelRelAngleRange;
    float downVelRangeForAngleChange, downVelRangeForAngleChangeReducePerSec, downVelRangePowerVal,
        downVelRelAngleRange;
    float platformVelLoseSpeed;
    float easyScorePickupPercentReq, mediumScorePickupPercentReq, hardScorePickupPercentReq;
    int32_t specialMoveProjectileNum;
    // Timers (entity clock).
    float fallTime;        // last time the fall was slower than dieInAirVel
    float slowTime;        // last time the character moved slowly (skid test)
    float highVelTime;     // last high speed
    float dirCheckTime;    // last direction check
    float checkedHeading;  // the wanted heading at the last check
    float wantedHeading;   // the heading wanted this frame
    uint32_t typeHashes[MCR_TYPE_COUNT];
    Vec3 forcedVel;
    float forcedVelTime;
    Vec3 wantedDir;    // this frame's wanted move direction
    Vec3 platformVel;  // the velocity of what the character stands on
    int32_t camMode;
    float camButtonTime;
    float airLagTime;
    float stunStart;
    int32_t lives;
    int32_t levelCompCollected;
    ManCamRelPendingShot pending[MCR_PENDING_SHOTS];
    Object* target;
    float targetHoldUntil;
    float targetValue;
    uint32_t levelCompCount;
    Object** levelComp;  // owned array of level-completion pickups
    Object* levelEnd;
    Vec3 pushDir;
    float arrowPitch, arrowHeading;
    float camPitch, camPitchOffset;
    ManCamRelCandidate active[MCR_CANDIDATES];
    uint32_t activeVisible[MCR_CANDIDATES];
    ManCamRelCandidate scanned[MCR_CANDIDATES];
    uint32_t scannedVisible[MCR_CANDIDATES];
    int32_t scanIndex;  // 0..20
    Vec3 groundNormal;
    float bestUp;
    float slope;
    int32_t swipeSlot, swipesLeft, swipeVariant;
    int32_t score;
    int32_t scorePickupTotal, scorePickupsCollected, hiddenTotal, hiddenCollected;
    float requiredFraction;
    float freezeTime;
    ManCamRelFloatText texts[MCR_FLOAT_TEXTS];
    uint32_t textSerial;  // the last text's serial
    float frontContactTime;
    Vec3 savedCamPosition, savedCamAt, savedCamUp;
    AiRoute route;  // a computer player's (owned)
    // Bookkeeping of the loader.
    ModeLoadPass loadPass;
    uint32_t endChecked;  // the level-end object was checked at this level's first restart
};

// The key table (defaults, conversions, sections, needed keys).
const ModeKeyTable* ManCamRelMode_GetKeyTable(void);
// The 33 animation names of slot 0, in id order.
const char* const* ManCamRelMode_GetAnimNames(uint32_t* count);

// Slots.
void ManCamRelMode_Load(ConfigNode* reader, void* data, EntityRecord* record, Object* object, int32_t pass);
// List_ForEach callback over the level's objects: lists level-completion
// pickups, counts score and hidden pickups, takes the level-end object.
int ManCamRelMode_CollectObject(void* object, void* data);
void ManCamRelMode_Restart(Object* object, EntityRecord* record, int32_t usePlayerStart);
void ManCamRelMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input);
// A computer player's stick: along its route, relative to its camera.
void ManCamRelMode_Route(Object* object, EntityRecord* record, PlayerInputRecord* input);
void ManCamRelMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord* input);
void ManCamRelMode_Collision(Object* object, EntityRecord* record, Object* other, uint32_t side);
void ManCamRelMode_Free(EntityRecord* record);
void ManCamRelMode_Message(AnimSet* set, const char* event, Node* item, int32_t phase, float time, float span);
// Drops every pointer into the level (no release: the projectile pool is gone).
void ManCamRelMode_Detach(EntityRecord* record);

// ---- pieces shared by the slot files ----

// The mode data of an entity in this mode, or null.
ManCamRelData* ManCamRel_Data(EntityRecord* record);
// Awards points as a floating text flying into the score (or at once when
// all ten texts fly), from the position object's world position.
void ManCamRel_AddFloatingPoints(ManCamRelData* d, int32_t points, Object* positionObject);
// The weapon the special move fires, or null when the slot is unavailable.
Weapon* ManCamRel_SpecialWeapon(ManCamRelData* d);
// Scale of a floating text at screen depth z.
float ManCamRel_TextScale(float z);

// Opening an in-game menu page. The default calls the menu system;
// tests install a recording stand-in. Null restores the default.
struct ManCamRelMenuCalls {
    int (*goToByName)(const char* page);  // 1 when the page exists and became current
    void (*setOpen)(void);
    void (*setEntryText)(const char* page, const char* entry, const char* text);
};
void ManCamRel_SetMenuCalls(const ManCamRelMenuCalls* calls);
// Opens the page; a missing page (or menu) sets the level flags given
// instead. 1 when the page opened.
int ManCamRel_OpenPage(const char* page, uint32_t flagsWithoutPage);
void ManCamRel_SetEntryText(const char* page, const char* entry, int32_t value);
