// The BattleBlades control mode (mode 10): spinning tops battling in an
// arena. A top carries one of three elements, ice, water and fire (ice beats
// water, water beats fire, fire beats ice), with a stock of blades of each
// that it spends to change element. It loses spin over time, wobbles as the
// spin drops, and dies when spin or health runs out.
//
// Clashes between tops hurt and rebound by the matchup, always with the
// other top's factors: the loser of a clash and both tops of a draw take
// damage (the other's blow x its damage factor, within its minimum and
// maximum), the winner takes none and rebounds by the loser's
// `loseReboundVelMultiply`. Damage is recorded per source (four sources)
// and applied every 0.25 s. Bash blocks break under the element that beats
// theirs and hurt any other; pickups give blades, spin and health; the end
// area ends the level once its last animation has finished. A top belongs
// to the level's "region" magnets of the elements it does not beat.
//
// Computer tops are route-driven: their route slot (battleblades_ai.cpp)
// hunts, picks the winning element, defends the origin and respawns.
//
// Slots: load, update, restart, rules, collision, route, free.
#pragma once

#include <cstdint>

#include "common/maths.h"
#include "game/ai_route.h"
#include "game/modes/skate_common.h"

struct ChaseCamera;
struct ConfigNode;
struct EntityRecord;
struct Object;
struct PlayerInputRecord;

enum : int32_t { BLADE_ICE = 0, BLADE_WATER = 1, BLADE_FIRE = 2, BLADE_ELEMENTS = 3 };

// Matchup results of a against b.
enum : int32_t { MATCHUP_DRAW = 0, MATCHUP_WIN = 1, MATCHUP_LOSE = 2 };

// Animation ids: slot 0 (the dying animation of element e is 4 + e), slot 1.
enum : int32_t {
    BLADES_ANIM_ICE = 0,
    BLADES_ANIM_WATER,
    BLADES_ANIM_FIRE,
    BLADES_ANIM_CHANGE,
    BLADES_ANIM_ICE_DYING,
    BLADES_ANIM_WATER_DYING,
    BLADES_ANIM_FIRE_DYING,
    BLADES_ANIM_COUNT
};
enum : int32_t { BLADES_HIT_DEFAULT = 0, BLADES_HIT_DAMAGE, BLADES_HIT_COUNT };

// AI and camera flags.
enum : uint32_t {
    BLADES_DEFEND_ORIGIN = 0x1,
    BLADES_AI_RESPAWN = 0x2,
    BLADES_WAITING = 0x4,  // out of play until the respawn time
    BLADES_ATTACK_ONLY_PLAYER = 0x8,
    BLADES_DAMAGE_ONLY_PLAYER = 0x10,
    BLADES_PICKUP_COLLECT = 0x20,
    BLADES_CAM_TURN_PENDING = 0x40,  // the automatic camera swings to the stored heading once slow
    BLADES_CAM_TURNED = 0x80,
    BLADES_ATTACK_MASK = 0x100,  // aiEntityTypeToAttack keys gave a type
    BLADES_DAMAGE_MASK = 0x200,  // aiEntityTypeToDamage keys gave a type
};

enum : uint32_t {
    BLADES_BUTTON_WATER = 0x10,     // action 4
    BLADES_BUTTON_FIRE = 0x20,      // action 5
    BLADES_BUTTON_ICE = 0x80,       // action 7
    BLADES_BUTTON_AUTOCAM = 0x100,  // action 8 held: no automatic camera
    BLADES_BUTTON_CAMERA = 0x200,   // action 9: held looks around, a tap changes the preset
};

struct BladesDamage {
    float amount;
    Object* source;  // compared, never read; null: free
};

struct BattleBladesData {
    // Keys.
    float dieInAirTime, dieInAirVel, forwardVelStep;
    Vec3 damping, slowdown;                 // per-axis damping / horizontal slow-down per second
    float velRelTiltMaxAngle, velRelTilt;   // radians
    float fallingLagDistMultiply;           // read and kept
    float drawDamageGiven, winDamageGiven;  // damage per unit of blow, given to the other top
    float minDamageGiven;                   // the configured value x 0.25
    float maxDamageGiven;                   // 100 by default
    float drawReboundVelMultiply, winReboundVelMultiply, loseReboundVelMultiply;
    float damageMultiply;      // 1 by default: applied to damage taken
    float spinSlowdownPerSec;  // 0.01 by default
    float aiVisionRadius, aiFollowRadius;
    float aiDifficultyLevel;  // 0..1: the chance of choosing the winning element, and the lead
    float aiReactionTime;     // seconds between element changes (10 by default)
    float aiRespawnTime;
    float aiAttackSpeed;  // 1 by default: faster than this the AI brakes
    float aiMovementThinkTime;
    float aiVirtualViewingAngle;             // half the configured full angle, radians
    float aiVirtualViewingAngleChangeSpeed;  // radians per second
    uint32_t attackMask, damageMask;         // entity-type bits
    int32_t initNumIce, initNumWater, initNumFire;
    int32_t initType;  // element; outside 0..2 becomes 0
    uint32_t aiFlags;  // BLADES_*
    AiRoute route;
    SkateCamMode camModes[4];
    ChaseCamera* camera;  // owned
    // Level.
    Object* endArea;  // the level's "ENDAREA" hit-mode object, or null
    uint32_t endAreaHash;
    float fallStamp;
    // Run state.
    int32_t pending;  // element being changed to, -1 none
    int32_t element;
    float spin;       // 0..1
    float spinAngle;  // radians, 0..2 pi
    int32_t blades[BLADE_ELEMENTS];
    uint32_t materialHashes[BLADE_ELEMENTS];  // "MATERIAL_ICE", "MATERIAL_WATER", "MATERIAL_FIRE"
    uint32_t autoCamera;                      // 1 while action 8 is not held
    float lookPitchOffset;                    // radians
    uint32_t bashHash, pickupHash;
    float aiChangeTime;  // entity clock of the last sighting or element request
    float respawnTime;
    Vec3 lastVelocity;  // the body's at the end of every rules step
    uint32_t camMode;
    float cameraButtonTime;  // entity clock when the camera button went down
    float autoCamHeading, autoCamTime;
    float aiViewHeading, aiThinkStamp;
    BladesDamage damage[4];
    float nextDamageTick;
    uint32_t deathHandled;  // the dying animation's end was acted on; cleared by the restart
    uint32_t aiSawTarget;   // a target was in sight at the last route step
};

void BattleBladesMode_Load(ConfigNode* reader, void* modeData, EntityRecord* record, Object* object, int32_t pass);
void BattleBladesMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input);
void BattleBladesMode_Restart(Object* object, EntityRecord* record, int32_t usePlayerStart);
void BattleBladesMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord* input);
void BattleBladesMode_Collision(Object* object, EntityRecord* record, Object* other, uint32_t side);
void BattleBladesMode_Free(EntityRecord* record);
// The computer tops' route slot (battleblades_ai.cpp).
void BattleBladesMode_RouteUpdate(Object* object, EntityRecord* record, PlayerInputRecord* input);

// MATCHUP_* of element a against b (an element outside 0..2 never wins).
int32_t BattleBlades_Matchup(int32_t a, int32_t b);
// The element that beats e.
int32_t BattleBlades_Beats(int32_t e);
// The mode data of a BattleBlades entity object, or null.
BattleBladesData* BattleBlades_GetData(const Object* object);
// An element change, from the buttons or the AI: taken only for an element
// 0..2 other than the current one, while slot 0 shows one of its first four
// animations (or the entity has no slots), with a blade of it in stock and no
// change pending. Then the blade is spent, the change is pending and
// "changeBlade" plays. 1 when taken.
int BattleBlades_RequestElement(EntityRecord* record, int32_t element);
// Records damage from a source: a known source keeps the larger amount, a
// fifth source is ignored. 1 when recorded.
int BattleBlades_RecordDamage(BattleBladesData* data, float amount, Object* source);
