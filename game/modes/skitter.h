// "Skitter" (control mode 2): a creature that walks, jumps and, when
// allowed, flies; fights with melee, ranged and bomb attacks; is hurt by
// projectiles, level objects and the player's attacks; dies and respawns.
// A player steers it relative to the camera; as an enemy its route slot
// (skitter_ai.cpp) fills the input record from its route and what it sees,
// exactly as a pad would.
//
// Far from player 0's camera the creature is switched off (its body leaves
// the physics world, animation slot 0 is flagged and paused) until it
// comes back in range.
//
// The data block is zero-filled and owned by the entity system; it holds
// the held FRAME_FOLLOW shots and the current target, which the detach
// slot drops when a player record survives a level reload.
#pragma once

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

// Animation ids of slot 0.
enum : int32_t {
    SKITTER_IDLE, SKITTER_WAKE, SKITTER_SLEEP, SKITTER_SPAWN, SKITTER_STAND, SKITTER_WALK, SKITTER_JUMPIN,
    SKITTER_FLY, SKITTER_LAND, SKITTER_JUMP, SKITTER_DIE, SKITTER_MELEE, SKITTER_RANGE, SKITTER_BOMB,
    SKITTER_STUNNED, SKITTER_CELEBRATE, SKITTER_ANIM_COUNT
};

// Flag word of the mode data.
enum : uint32_t {
    SKITTER_NO_INPUT = 0x1,
    SKITTER_HAS_ATTACK_TYPES = 0x2,
    SKITTER_ATTACK_ONLY_PLAYER = 0x4,
    SKITTER_DEFEND_ORIGIN = 0x8,
    SKITTER_DAMAGE_ONLY_PLAYER = 0x10,
    SKITTER_HAS_DAMAGE_TYPES = 0x20,
    SKITTER_PATH_ORIENT_BODY = 0x40,
    SKITTER_FLY_ALLOWED = 0x80,
    SKITTER_ORIENT_TO_GROUND = 0x100,
    SKITTER_RESPAWN = 0x200,
    SKITTER_RESPAWN_PENDING = 0x400,
    SKITTER_VISION_Y_ARC = 0x800,
    SKITTER_VISION_X_ARC = 0x1000,
    SKITTER_BOMB_TYPE = 0x2000,
    SKITTER_ATTACK_ON_PATH = 0x4000,
    SKITTER_PATH_CHANGE_ANIM = 0x8000,
    SKITTER_VISION_OUTSIDE_DEFENCE = 0x10000,
    SKITTER_ORIENT_TO_ANIM_ROUTE = 0x20000,
    SKITTER_BLOCKED = 0x40000,     // a contact against the facing this update
    SKITTER_HIT_PLAYER = 0x80000,  // celebrate next
    SKITTER_CLIP_ALLOWED = 0x100000,
    SKITTER_BOSS = 0x200000,
    SKITTER_DEATH_HANDLED = 0x400000,  // the player's finished "die" restarted the level (until the restart)
};

// Buttons of the input record.
enum : uint32_t {
    SKITTER_BUTTON_MELEE = 0x10,
    SKITTER_BUTTON_RANGE = 0x20,
    SKITTER_BUTTON_JUMP = 0x40,  // jump, or fly up
    SKITTER_BUTTON_RETURN = 0x80,
};

// Speed-table entry flags.
enum : uint32_t {
    SKITTER_SPEED_NON_ATTACK = 0x1,
    SKITTER_SPEED_ATTACK = 0x2,
};

// Slot 0 flag of a switched-off creature.
constexpr uint32_t SKITTER_SLOT_OFF = 0x10;
constexpr uint32_t SKITTER_OFF_GROUP = 0x100;
constexpr int SKITTER_HELD_SHOTS = 4;

struct SkitterSpeed {
    int32_t anim;
    float speed;
    uint32_t flags;  // SKITTER_SPEED_*
};

using SkitterHeldShot = ModeHeldShot;

struct SkitterData {
    float totalHealth;
    int32_t stunScore, dieScore;
    float jumpVel, walkSpeedMin, flyVelMax, flyVelMin, flyVelPerSecWithInput, flyVelPerSecNoInput;
    float aiFlyVelDistRelSpeed, turnSpeed, forwardVelStep, forwardVelStepInAir, maxRunSpeed, maxInAirSpeed;
    float cosColOrientMaxUpwardChange, colOrientSpeed;
    Vec3 noInputDamping, runDamping, inAirDamping;
    uint32_t attackMask, damageMask;
    float aiVisionRadius, aiVisionAlertRadius, aiVisionIdleRadius;
    float aiVisionXArc, aiVisionYArc, aiVisionAlertXArc, aiVisionAlertYArc, aiVisionAlertDuration;
    float aiVisionIdleXArc, aiVisionIdleYArc, aiVisionAngleXOffset, aiVisionAngleYOffset;
    float aiFollowRadius, aiDefenceNoEnemyDist, aiAttackSpeed, aiAttackDirCorrect, aiNonAttackSpeedMax;
    float aiAttackMinDist;
    uint32_t speedCount;
    SkitterSpeed* speeds;  // owned
    float aiRespawnTime, aiHeightDiffReqForJump, aiRangeAttackMaxDist, aiRangeAttackMinDist;
    float aiRangeAttackXFiringArc, aiRangeAttackYFiringArc, aiMeleeAttackMaxDist;
    ChaseCamera* camera;  // owned
    AiRoute route;        // owns its node and set
    WeaponList weapons;   // owned
    ColAreaList areas;    // owned
    float standToIdleDuration;
    uint32_t flags;  // SKITTER_*
    int32_t colPathChangeAnimNum;
    float dieInAirTime;
    // Runtime.
    float flyVel;
    Vec3 bestNormal;
    float bestUp;
    uint32_t hashDamage, hashSword, hashSpecialDamage;
    Object* target;
    float respawnTime;
    float standTime;
    float alertTime;
    Vec3 knockVel;
    float knockTime;
    SkitterHeldShot held[SKITTER_HELD_SHOTS];
    Vec3 desiredFacing;
    float flyTarget;
    float speedCap;
    float cosHeadOn;
    uint32_t hashDeathArea, hashKillArea;
    float fallTime;      // last time the vertical velocity was not negative
    float progressTime;
    float bestDistance;  // squared, to the start
    float refHeight;
    float minDamageReceived;
    // Bookkeeping.
    ModeLoadPass loadPass;
    uint32_t switchedOff;  // 1 while clipped
};

const ModeKeyTable* SkitterMode_GetKeyTable(void);
const char* const* SkitterMode_GetAnimNames(uint32_t* count);
// The mode data of an entity in this mode, or null.
SkitterData* Skitter_Data(EntityRecord* record);
// 1 when a player's pad steers the creature: a player's own Skitter, or a
// route-driven one a player took over (its route slot hands the pad on).
int Skitter_PadDriven(const EntityRecord* record);

// Slots.
void SkitterMode_Load(ConfigNode* reader, void* data, EntityRecord* record, Object* object, int32_t pass);
void SkitterMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input);
void SkitterMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord* input);
void SkitterMode_Collision(Object* object, EntityRecord* record, Object* other, uint32_t side);
void SkitterMode_Restart(Object* object, EntityRecord* record, int32_t usePlayerStart);
void SkitterMode_Free(EntityRecord* record);
void SkitterMode_Message(AnimSet* set, const char* event, Node* item, int32_t phase, float time, float span);
// The route slot: the AI (skitter_ai.cpp).
void SkitterMode_Route(Object* object, EntityRecord* record, PlayerInputRecord* input);
// Drops the held shots and the target (no release: the projectile pool is gone).
void SkitterMode_Detach(EntityRecord* record);

// A creature out of play: hidden where it is, or respawned now, or later,
// as aiRespawn and aiRespawnTime say.
void Skitter_DieOrRespawn(Object* object, EntityRecord* record, SkitterData* d);
