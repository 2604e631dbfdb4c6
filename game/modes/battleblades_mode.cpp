#include "game/modes/battleblades_mode.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "common/hash.h"
#include "common/list.h"
#include "engine/animset.h"
#include "engine/node.h"
#include "engine/objectcollision.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physray.h"
#include "game/chase_camera.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/entity_hud.h"
#include "game/game_context.h"
#include "game/game_log.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/modes/vehicle_common.h"
#include "game/phys_utils.h"

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kDeadZone = 0.15f;
constexpr float kTapTime = 0.5f;
constexpr float kDamageTick = 0.25f;
constexpr float kLookTurn = 25.0f * VEHICLE_DEG_TO_RAD;
constexpr float kLookSpeed = 90.0f * VEHICLE_DEG_TO_RAD;
constexpr float kAutoCamSpeed = 0.7f * 20.0f * VEHICLE_DEG_TO_RAD;
constexpr float kAutoCamSwing = 1.8849558f;  // rad/s gained per second of the slow swing
constexpr float kQuarterTurn = 45.0f * VEHICLE_DEG_TO_RAD;
constexpr float kWobble = 30.0f * VEHICLE_DEG_TO_RAD;
const Vec3 kHidden = {-9999.0f, 9999.0f, -9999.0f};
const Vec3 kWorldUp = {0.0f, 1.0f, 0.0f};

const char* const kBladeAnims[BLADES_ANIM_COUNT] = {"iceBlade",      "waterBlade",      "fireBlade",     "changeBlade",
                                                    "iceBladeDying", "waterBladeDying", "fireBladeDying"};
const char* const kHitAnims[BLADES_HIT_COUNT] = {"default", "damage"};

#define BB_KEY(name, kind)                               \
    {                                                    \
#name, kind, offsetof(BattleBladesData, name), 0 \
    }
#define BB_FLAG(name, bit)                                         \
    {                                                              \
#name, VKEY_FLAG, offsetof(BattleBladesData, aiFlags), bit \
    }
const VehicleKey kKeys[] = {
    BB_KEY(forwardVelStep, VKEY_FLOAT),
    BB_KEY(damping, VKEY_VEC3),
    BB_KEY(slowdown, VKEY_VEC3),
    BB_KEY(dieInAirVel, VKEY_FLOAT),
    BB_KEY(dieInAirTime, VKEY_FLOAT),
    BB_KEY(velRelTiltMaxAngle, VKEY_DEGREES),
    BB_KEY(velRelTilt, VKEY_DEGREES),
    BB_KEY(fallingLagDistMultiply, VKEY_FLOAT),
    BB_KEY(damageMultiply, VKEY_FLOAT),
    BB_KEY(drawReboundVelMultiply, VKEY_FLOAT),
    BB_KEY(winReboundVelMultiply, VKEY_FLOAT),
    BB_KEY(loseReboundVelMultiply, VKEY_FLOAT),
    BB_KEY(drawDamageGiven, VKEY_FLOAT),
    BB_KEY(winDamageGiven, VKEY_FLOAT),
    BB_KEY(minDamageGiven, VKEY_QUARTER),
    BB_KEY(maxDamageGiven, VKEY_FLOAT),
    BB_KEY(initType, VKEY_INT),
    BB_KEY(initNumIce, VKEY_INT),
    BB_KEY(initNumWater, VKEY_INT),
    BB_KEY(initNumFire, VKEY_INT),
    BB_KEY(aiVisionRadius, VKEY_FLOAT),
    BB_KEY(aiFollowRadius, VKEY_FLOAT),
    BB_KEY(spinSlowdownPerSec, VKEY_FLOAT),
    BB_KEY(aiDifficultyLevel, VKEY_FLOAT),
    BB_KEY(aiReactionTime, VKEY_FLOAT),
    BB_FLAG(pickupCollectOn, BLADES_PICKUP_COLLECT),
    BB_FLAG(aiRespawn, BLADES_AI_RESPAWN),
    BB_KEY(aiRespawnTime, VKEY_FLOAT),
    BB_KEY(aiAttackSpeed, VKEY_FLOAT),
    BB_KEY(aiMovementThinkTime, VKEY_FLOAT),
    BB_KEY(aiVirtualViewingAngle, VKEY_HALF_DEGREES),
    BB_KEY(aiVirtualViewingAngleChangeSpeed, VKEY_DEGREES),
    BB_FLAG(defendOrigin, BLADES_DEFEND_ORIGIN),
    BB_FLAG(aiAttackOnlyPlayer, BLADES_ATTACK_ONLY_PLAYER),
    BB_FLAG(aiDamageOnlyPlayer, BLADES_DAMAGE_ONLY_PLAYER),
};
#undef BB_KEY
#undef BB_FLAG

BattleBladesData* DataOf(EntityRecord* record)
{
    return record && record->mode == MODE_BATTLEBLADES ? (BattleBladesData*)record->modeData : nullptr;
}

struct EndAreaSearch {
    uint32_t hash;
    Object* found;
};

int FindEndArea(void* item, void* arg)
{
    EndAreaSearch* s = (EndAreaSearch*)arg;
    Object* object = (Object*)item;
    if (HitModeObject_GetRecord(object) && HitModeObject_GetTypeHash(object) == s->hash) {
        s->found = object;
        return 1;
    }
    return 0;
}

// A top joins the region magnets of the elements it does not beat.
void UpdateRegions(Object* object, BattleBladesData* data)
{
    for (int32_t i = 0; i < BLADE_ELEMENTS; ++i)
        VavadUtils_MagnetSetBody(data->materialHashes[i], object->body,
                                 BattleBlades_Matchup(data->element, i) != MATCHUP_WIN);
}

// Damage, once per death: the level restarts or a player respawns; a
// computer top leaves play for good or until its respawn time.
void ActOnDeath(Object* object, EntityRecord* record, BattleBladesData* data)
{
    if (data->deathHandled) return;
    data->deathHandled = 1;
    if (record->player) {
        if (Level_GetNumPlayerEntities() < 2) Level_Restart(0);
        else Entity_Respawn(object, 0);
    } else if (!(data->aiFlags & BLADES_AI_RESPAWN)) {
        Entity_Hide(object, 1, &kHidden);
    } else if (data->aiRespawnTime == 0.0f) {
        Entity_Respawn(object, 0);
    } else if (!(data->aiFlags & BLADES_WAITING)) {
        Entity_Hide(object, 1, &kHidden);
        data->respawnTime = record->clock + data->aiRespawnTime;
        data->aiFlags |= BLADES_WAITING;
    }
}

void ApplyDamage(EntityRecord* record, BattleBladesData* data)
{
    if (record->clock <= data->nextDamageTick) return;
    for (BladesDamage& d : data->damage) {
        if (!d.source) continue;
        Entity_AddHealth(record, -d.amount * data->damageMultiply);
        d = BladesDamage{};
    }
    data->nextDamageTick += kDamageTick;
}

void ResetCamera(EntityRecord* record, BattleBladesData* data)
{
    Vec3 angles = {0.0f, 0.0f, 0.0f};
    ChaseCamera_GetVector(data->camera, &angles);
    angles.y = Vec3_Heading(&record->startAt);
    float distance = data->camModes[data->camMode & 3].railDist;
    ChaseCamera_Reset(data->camera, Vehicle_CameraFrame(record), &angles, &distance);
}

void PlayerHud(Object* object, EntityRecord* record, BattleBladesData* data, float dt)
{
    Node* cameraFrame = Vehicle_CameraFrame(record);
    if (cameraFrame) {
        ChaseCamera_FollowObject(data->camera, Entity_GetAnimObject(record, 0));
        ChaseCamera_Update(data->camera, cameraFrame, dt);
    }
    char text[16];
    for (uint32_t i = 0; i < BLADE_ELEMENTS; ++i) {
        snprintf(text, sizeof text, "%d", data->blades[i]);
        Entity_ShowTextString(record, i, text);
    }
    if (EntityHudAnimSlot* health = Entity_GetHudAnimSlot(record, 1); health && health->set) {
        float length = AnimSet_GetLength(health->set);
        if (length > 0.0f) {
            float t = Math_MoveTowards(AnimSet_GetTime(health->set) / length, Entity_GetHealth(record) * 0.01f, dt);
            t = t < 0.0f ? 0.0f : (t > 1.0f ? 1.0f : t);
            AnimSet_SetTime(health->set, t * length);
        }
    }
    if (EntityHudAnimSlot* spin = Entity_GetHudAnimSlot(record, 0); spin && spin->set)
        AnimSet_SetTime(spin->set, AnimSet_GetLength(spin->set) * data->spin);
    if (record->flags & ENTITY_ALIVE) {
        ResetCamera(record, data);
        Entity_SetFlags(record, ENTITY_ALIVE, 0);
    }
    (void)object;
}

// The top's look: up leaned into the travel direction by its speed, the
// model turned by the spin angle about it, and wobbled more as the spin
// drops, about a horizontal axis that circles with the spin.
void PoseModel(EntityRecord* record, BattleBladesData* data, float s, float heading, float dt)
{
    float tilt = 0.0f;
    if (record->maxVelocity != 0.0f) {
        tilt = s / record->maxVelocity * data->velRelTilt;
        if (tilt > data->velRelTiltMaxAngle) tilt = data->velRelTiltMaxAngle;
    }
    const Vec3 xAxis = {1.0f, 0.0f, 0.0f}, zAxis = {0.0f, 0.0f, 1.0f};
    Vec3 up, at;
    Vec3_RotateAxis(&up, &kWorldUp, &xAxis, -tilt);
    Vec3_RotateAxis(&up, &up, &kWorldUp, -heading);
    Vec3_RotateAxis(&at, &zAxis, &kWorldUp, -heading);
    Vec3_RotateAxis(&at, &at, &up, data->spinAngle);
    float slack = 1.0f - data->spin;
    float wobble = slack * slack * slack * slack * kWobble;
    if (wobble != 0.0f) {
        Vec3 axis;
        Vec3_RotateAxis(&axis, &xAxis, &kWorldUp, data->spinAngle);
        Vec3_RotateAxis(&up, &up, &axis, wobble);
        Vec3_RotateAxis(&at, &at, &axis, wobble);
    }
    Entity_SetAnimRootOrientation(record, 0, &at, &up);
    data->spinAngle = std::fmod(data->spinAngle + data->spin * 40.0f * dt, kTwoPi);
}

void AutomaticCamera(EntityRecord* record, BattleBladesData* data, float s, float heading)
{
    ChaseCamera* cam = data->camera;
    if (data->autoCamera) {
        ChaseCamera_RestoreRotateSpeeds(cam);
        ChaseCamera_AddAngleY(cam, 0.0f);
        if (s >= 0.4f) {
            ChaseCamera_SetRotateSpeedY(cam, s * kAutoCamSpeed);
            ChaseCamera_SetAngleY(cam, heading);
            data->autoCamTime = record->clock;
            float error = ChaseCamera_GetAngleYError(cam, 0);
            if (s >= 4.0f && error > kQuarterTurn) {
                // Moving fast with the camera far behind: once the top slows
                // down the camera swings round to this travel heading (the
                // heading it follows while moving, so it ends behind the
                // top; its negative would mirror the view).
                data->autoCamHeading = heading;
                data->aiFlags |= BLADES_CAM_TURN_PENDING;
            } else if (error <= kQuarterTurn) {
                data->aiFlags &= ~BLADES_CAM_TURN_PENDING;
            }
        } else if (data->aiFlags & BLADES_CAM_TURN_PENDING) {
            float speed = (record->clock - data->autoCamTime) * kAutoCamSwing;
            ChaseCamera_SetRotateSpeedY(cam, speed < kPi ? speed : kPi);
            ChaseCamera_SetAngleY(cam, data->autoCamHeading);
            if (ChaseCamera_GetAngleYError(cam, 0) <= 1e-4f) {
                data->aiFlags &= ~BLADES_CAM_TURN_PENDING;
                data->aiFlags |= BLADES_CAM_TURNED;
            }
        }
    }
    ChaseCamera_SetRotateSpeedX(cam, 4.0f * ChaseCamera_GetAngleXError(cam, 0));
}

}  // namespace

int32_t BattleBlades_Matchup(int32_t a, int32_t b)
{
    if (a == b) return MATCHUP_DRAW;
    if ((a == BLADE_ICE && b == BLADE_WATER) || (a == BLADE_WATER && b == BLADE_FIRE) ||
        (a == BLADE_FIRE && b == BLADE_ICE))
        return MATCHUP_WIN;
    return MATCHUP_LOSE;
}

int32_t BattleBlades_Beats(int32_t e) { return (e + 2) % BLADE_ELEMENTS; }

BattleBladesData* BattleBlades_GetData(const Object* object) { return DataOf(Entity_GetRecord(object)); }

int BattleBlades_RequestElement(EntityRecord* record, int32_t element)
{
    BattleBladesData* data = DataOf(record);
    if (!data || element < 0 || element >= BLADE_ELEMENTS || element == data->element) return 0;
    // A change already under way (the blade it took is spent) is not replaced.
    if (data->pending != -1) return 0;
    if (record->animSlotCount && Vehicle_CurrentAnim(record, 0) > BLADES_ANIM_CHANGE) return 0;  // dying
    if (data->blades[element] <= 0) return 0;
    data->pending = element;
    data->blades[element]--;
    Vehicle_PlayAnim(record, BLADES_ANIM_CHANGE, 0);
    return 1;
}

int BattleBlades_RecordDamage(BattleBladesData* data, float amount, Object* source)
{
    if (!data || !source || !std::isfinite(amount)) return 0;
    BladesDamage* free = nullptr;
    for (BladesDamage& d : data->damage) {
        if (d.source == source) {
            if (amount < d.amount) return 0;
            d.amount = amount;
            return 1;
        }
        if (!d.source && !free) free = &d;
    }
    if (!free) return 0;
    *free = BladesDamage{amount, source};
    return 1;
}

void BattleBladesMode_Load(ConfigNode* reader, void* modeData, EntityRecord* record, Object* object, int32_t pass)
{
    BattleBladesData* data = (BattleBladesData*)modeData;
    if (!reader || !data || !record) return;
    char section[64], path[96];
    Vehicle_SectionName(pass, section, sizeof section);
    if (pass == 0) {
        // What the fields own goes before they are zeroed.
        Mem_FreeSlot(&data->camera);
        Route_Free(&data->route);
        memset(data, 0, sizeof *data);
        data->maxDamageGiven = 100.0f;
        data->damageMultiply = 1.0f;
        data->spinSlowdownPerSec = 0.01f;
        data->aiReactionTime = 10.0f;
        data->aiAttackSpeed = 1.0f;
        data->pending = -1;
        Route_LoadConfig(reader, section, object, &data->route, 1);
        data->endAreaHash = Name_Hash("ENDAREA", 1, 1);
        EndAreaSearch search = {data->endAreaHash, nullptr};
        if (List* objects = Level_GetObjectList()) List_ForEach(objects, FindEndArea, &search);
        data->endArea = search.found;
    } else {
        Route_LoadConfig(reader, section, object, &data->route, 0);
    }
    ControlDataCache_Acquire(kBladeAnims, BLADES_ANIM_COUNT, record, 0);
    ControlDataCache_Acquire(kHitAnims, BLADES_HIT_COUNT, record, 1);
    VehicleKeys_Read(reader, section, kKeys, sizeof kKeys / sizeof kKeys[0], data, "BattleBlades");
    if (Vehicle_ReadTypeList(reader, section, "aiEntityTypeToAttack", &data->attackMask, "BattleBlades"))
        data->aiFlags |= BLADES_ATTACK_MASK;
    if (Vehicle_ReadTypeList(reader, section, "aiEntityTypeToDamage", &data->damageMask, "BattleBlades"))
        data->aiFlags |= BLADES_DAMAGE_MASK;
    data->aiDifficultyLevel =
        data->aiDifficultyLevel < 0.0f ? 0.0f : (data->aiDifficultyLevel > 1.0f ? 1.0f : data->aiDifficultyLevel);
    if (data->initType < 0 || data->initType >= BLADE_ELEMENTS) data->initType = BLADE_ICE;
    data->materialHashes[BLADE_ICE] = Name_Hash("MATERIAL_ICE", 1, 1);
    data->materialHashes[BLADE_WATER] = Name_Hash("MATERIAL_WATER", 1, 1);
    data->materialHashes[BLADE_FIRE] = Name_Hash("MATERIAL_FIRE", 1, 1);
    data->bashHash = Name_Hash("MATERIAL_BASHBLOCK", 1, 1);
    data->pickupHash = Name_Hash("PICKUP", 1, 1);
    snprintf(path, sizeof path, "%s::genCamData", section);
    ChaseCamera_LoadConfig(reader, &data->camera, path);
    for (int i = 0; i < 4; ++i) {
        char rail[32], rotation[32];
        snprintf(rail, sizeof rail, "camMode%dRailDist", i);
        snprintf(rotation, sizeof rotation, "camMode%dXRotation", i);
        const VehicleKey k[2] = {{rail, VKEY_FLOAT, 0, 0}, {rotation, VKEY_DEGREES, sizeof(float), 0}};
        VehicleKeys_Read(reader, section, k, 2, &data->camModes[i], "BattleBlades");
    }
}

void BattleBladesMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    BattleBladesData* data = DataOf(record);
    if (!data || !object->body) return;
    const float dt = Game_GetFrameTime();
    const bool routeDriven = (record->flags & ENTITY_ROUTE_DRIVEN) != 0;
    ChaseCamera* cam = data->camera;

    // 1. Spin runs down (computer tops keep theirs).
    if (!routeDriven) data->spin -= dt * data->spinSlowdownPerSec;
    data->spin = data->spin < 0.0f ? 0.0f : (data->spin > 1.0f ? 1.0f : data->spin);

    // 2. The floor's pitch and roll along the camera's heading.
    const Vec3 position = Vehicle_BodyPosition(object);
    const Vec3 down = {0.0f, -1.0f, 0.0f};
    PhysRayHit hit;
    Vec3 n = kWorldUp;
    if (PhysWorld_CastRayDir(ObjectWorld_GetPhysicsWorld(), &hit, &position, &down, 10.0f)) n = hit.normal;
    const float heading = ChaseCamera_GetAngleY(cam);
    const Vec3 zAxis = {0.0f, 0.0f, 1.0f};
    Vec3 side, along;
    Vec3_Cross(&side, &n, &zAxis);
    Vec3_Cross(&along, &side, &n);
    Vec3_RotateAxis(&along, &along, &n, -heading);
    float pitch = 0.0f;
    Math_DirToAngles(&pitch, nullptr, &along);
    const float roll = SkateCommon_CameraRoll(heading, &n);

    // 3. Element buttons (a later one overrides an earlier one).
    int32_t wanted = -1;
    if (input->buttons & BLADES_BUTTON_ICE) wanted = BLADE_ICE;
    if (input->buttons & BLADES_BUTTON_WATER) wanted = BLADE_WATER;
    if (input->buttons & BLADES_BUTTON_FIRE) wanted = BLADE_FIRE;
    if (wanted >= 0) BattleBlades_RequestElement(record, wanted);

    // 4. Camera button: held it looks around, a tap changes the preset.
    const bool cameraHeld = (input->buttons & BLADES_BUTTON_CAMERA) != 0;
    const bool cameraWasHeld = (input->oldButtons & BLADES_BUTTON_CAMERA) != 0;
    if (cameraHeld && !cameraWasHeld) data->cameraButtonTime = record->clock;
    if (!cameraHeld && cameraWasHeld && record->clock - data->cameraButtonTime < kTapTime) {
        float oldRotation = data->camModes[data->camMode & 3].xRotation;
        data->camMode = (data->camMode + 1) & 3;
        ChaseCamera_SetDistance(cam, data->camModes[data->camMode].railDist);
        if (data->camModes[data->camMode].xRotation != oldRotation) data->lookPitchOffset = 0.0f;
    }

    // 5. Push.
    const float stick = std::sqrt(input->stickX * input->stickX + input->stickY * input->stickY);
    if (stick > kDeadZone && !cameraHeld && (record->flags & ENTITY_ON_GROUND)) {
        Vec3 d = {input->stickX, 0.0f, input->stickY};
        // A computer top's stick is a world direction already.
        if (!routeDriven) Vec3_RotateAxis(&d, &d, &kWorldUp, -heading);
        d.y = 0.001f;
        Vec3_Normalise(&d);
        Vec3 v;
        PhysBody_GetLinearVelocity(object->body, &v);
        Vec3_Scale(&d, &d, dt * data->forwardVelStep * stick);
        Vec3_Add(&v, &v, &d);
        PhysBody_SetLinearVelocity(object->body, &v);
        if (data->aiFlags & BLADES_CAM_TURNED) data->aiFlags &= ~(BLADES_CAM_TURN_PENDING | BLADES_CAM_TURNED);
    }
    data->autoCamera = (input->buttons & BLADES_BUTTON_AUTOCAM) ? 0u : 1u;

    // 6. Looking around.
    const float xRotation = data->camModes[data->camMode & 3].xRotation;
    if (cameraHeld && stick > kDeadZone) {
        if (data->aiFlags & BLADES_CAM_TURNED) data->aiFlags &= ~(BLADES_CAM_TURN_PENDING | BLADES_CAM_TURNED);
        ChaseCamera_AddAngleY(cam, 0.0f);
        ChaseCamera_RestoreRotateSpeeds(cam);
        if (std::fabs(input->stickX) > kDeadZone) {
            ChaseCamera_AddAngleY(cam, input->stickX * -kLookTurn);
            ChaseCamera_SetRotateSpeedY(cam, input->stickX * -kLookSpeed);
        }
        if (std::fabs(input->stickY) > kDeadZone) {
            ChaseCamera_SetRotateSpeedX(cam, input->stickY * -kLookSpeed);
            data->lookPitchOffset += input->stickY * -kLookTurn * dt;
            float wantedPitch = pitch - xRotation + data->lookPitchOffset;
            data->lookPitchOffset += ChaseCamera_ClampAngleX(cam, wantedPitch) - wantedPitch;
        }
    }
    // 7. Camera targets.
    ChaseCamera_SetAngleX(cam, pitch - xRotation + data->lookPitchOffset);
    ChaseCamera_SetAngleZ(cam, roll);
}

void BattleBladesMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord*)
{
    BattleBladesData* data = DataOf(record);
    if (!data || !object->body) return;
    const float dt = Game_GetFrameTime();
    PhysBody* body = object->body;

    if (record->player) PlayerHud(object, record, data, dt);
    // 2. The end area's last animation has finished: the level has ended.
    if (data->endArea) {
        int32_t last = (int32_t)HitModeObject_GetAnimCount(data->endArea) - 1;
        if (last >= 0 && HitModeObject_GetAnimIndex(data->endArea) == last &&
            HitModeObject_TestState(data->endArea, HITSTATE_FINISHED))
            Level_SetFlags(LEVEL_ENDED, 1);
    }
    // 3. Damage at the tick.
    ApplyDamage(record, data);
    // 4-6. Death: a long fall or no spin left, then the dying animation.
    SkateCommon_FallingDeath(object, record, &data->fallStamp, data->dieInAirVel, data->dieInAirTime);
    if (data->spin <= 0.0f) Entity_SetHealth(record, 0.0f, 100.0f);
    const int32_t element = data->element >= 0 && data->element < BLADE_ELEMENTS ? data->element : BLADE_ICE;
    if (Entity_GetHealth(record) <= 0.0f) Vehicle_PlayAnim(record, BLADES_ANIM_ICE_DYING + element, 0);
    const int32_t current = Vehicle_CurrentAnim(record, 0);
    if (current >= BLADES_ANIM_ICE_DYING && current <= BLADES_ANIM_FIRE_DYING && !Vehicle_AnimPlaying(record, 0))
        ActOnDeath(object, record, data);
    if ((data->aiFlags & BLADES_WAITING) && record->clock > data->respawnTime) {
        Entity_Respawn(object, 0);
        return;
    }
    // 7. A finished change takes effect.
    if (current == BLADES_ANIM_CHANGE && !Vehicle_AnimPlaying(record, 0) && data->pending != -1) {
        data->element = data->pending;
        data->pending = -1;
        UpdateRegions(object, data);
        Vehicle_PlayAnim(record, data->element, 0);
    }
    if (Vehicle_CurrentAnim(record, 1) == BLADES_HIT_DAMAGE && !Vehicle_AnimPlaying(record, 1))
        Vehicle_PlayAnim(record, BLADES_HIT_DEFAULT, 1);

    // 8. Body and look.
    Vec3 w, v;
    PhysBody_GetAngularVelocity(body, &w);
    w.y *= 1.0f - 6.0f * dt;
    PhysBody_SetAngularVelocity(body, &w);
    PhysBody_ApplyFriction(body, &data->slowdown, dt);
    Entity_SetFlags(record, ENTITY_IDLE, data->spin < 0.08f);
    PhysBody_GetLinearVelocity(body, &v);
    Vec3 travel = {v.x, 0.01f, v.z};
    float s = Vec3_Length(&travel);
    if (s > record->maxVelocity) s = record->maxVelocity;
    const float heading = Vec3_Heading(&travel);
    PoseModel(record, data, s, heading, dt);
    if (record->player) AutomaticCamera(record, data, s, heading);

    // 9. Damping that grows as the spin drops.
    float slack = 1.0f - data->spin;
    float k = 10.0f * slack * slack * slack * slack;
    const Vec3 spinDamping = {k, 0.0f, k};
    PhysBody_DampLinearVelocity(body, &spinDamping, dt);
    PhysBody_DampLinearVelocity(body, &data->damping, dt);
    PhysBody_GetLinearVelocity(body, &data->lastVelocity);
}

void BattleBladesMode_Restart(Object* object, EntityRecord* record, int32_t usePlayerStart)
{
    BattleBladesData* data = DataOf(record);
    if (!data) return;
    data->element = data->initType;
    Vehicle_PlayAnim(record, data->element, 0);
    data->blades[BLADE_ICE] = data->initNumIce;
    data->blades[BLADE_WATER] = data->initNumWater;
    data->blades[BLADE_FIRE] = data->initNumFire;
    data->fallStamp = record->clock;
    data->spin = 1.0f;
    data->pending = -1;
    data->nextDamageTick = record->clock + kDamageTick;
    Entity_SetHealth(record, 100.0f, 100.0f);
    Level_SetFlags(1, 0);
    data->aiFlags &= ~BLADES_WAITING;
    data->deathHandled = 0;
    data->aiThinkStamp = -1e9f;
    Object_SetFlags(object, OBJECT_SHADOW_ALWAYS, 1);
    if (object->body) UpdateRegions(object, data);
    if (usePlayerStart && record->player && data->endArea) HitModeObject_PlayIndex(data->endArea, 0, 1, 0);
    Route_Reset(&data->route, object->body, 0);
    Entity_SetFlags(record, ENTITY_NO_QUERY, 0);
}

void BattleBladesMode_Collision(Object* object, EntityRecord* record, Object* other, uint32_t side)
{
    BattleBladesData* data = DataOf(record);
    if (!data || !object->body || !other || ObjectCollision_IsTouching()) return;
    const bool contact = ObjectCollision_GetEventType() == OBJECT_EVENT_CONTACT;
    const float impact = contact ? ObjectCollision_GetImpactSpeed() : (HitModeObject_ByProximity() ? 1.0f : 0.0f);

    if (HitModeObject_GetRecord(other)) {
        const int32_t index = HitModeObject_GetStandingIndex(other);
        if (!HitModeObject_TestHit(other, impact, record->player, record->typeMask)) return;
        const uint32_t type = HitModeObject_GetTypeHash(other);
        if (type == data->bashHash) {
            int32_t blockElement = Math_TruncToInt(HitModeObject_GetValue(other, 0));
            if (BattleBlades_Matchup(data->element, blockElement) != MATCHUP_WIN) {
                HitModeObject_PlayNamed(other, "React");
                HitModeObject_ChooseNext(other, 0);
                Vehicle_PlayAnim(record, BLADES_HIT_DAMAGE, 1);
                BattleBlades_RecordDamage(data, HitModeObject_GetValue(other, 1) * 0.25f, other);
            } else {
                HitModeObject_PlayNamed(other, "Destroyed");
                HitModeObject_SetStateBits(other, HITSTATE_DEACTIVATE_AT_END, 1);
            }
        } else if (type == data->pickupHash && (data->aiFlags & BLADES_PICKUP_COLLECT) && index == 0) {
            const float v1 = Vehicle_Finite(HitModeObject_GetValue(other, 1), 0.0f);
            switch (Math_TruncToInt(HitModeObject_GetValue(other, 0))) {
            case 1: {
                int32_t e = Math_TruncToInt(v1);
                if (e >= 0 && e < BLADE_ELEMENTS)
                    data->blades[e] =
                        Math_AddClamped(data->blades[e], Math_TruncToInt(HitModeObject_GetValue(other, 2)));
                else GameLog_Printf("BattleBlades: a blade pickup for element %d (0..2) gives no blades", e);
                data->spin += v1;
                break;
            }
            case 2: data->spin += v1; break;
            case 3: Entity_AddHealth(record, v1); break;
            case 6:
                if (record->player && data->endArea) {
                    const int32_t last = (int32_t)HitModeObject_GetAnimCount(data->endArea) - 1;
                    HitModeObject_PlayIndex(data->endArea, last, 1, 0);
                    HitModeObject_ChooseNext(data->endArea, last);  // no pending switch takes it back
                }
                break;
            default: break;
            }
            data->spin = data->spin < 0.0f ? 0.0f : (data->spin > 1.0f ? 1.0f : data->spin);
            HitModeObject_PlayIndex(other, 1, 1, record->player);
            HitModeObject_SetStateBits(other, HITSTATE_DEACTIVATE_AT_END, 1);
        }
        return;
    }

    BattleBladesData* theirs = BattleBlades_GetData(other);
    EntityRecord* otherRecord = Entity_GetRecord(other);
    if (!theirs || !contact || !otherRecord) return;
    Vec3 n;
    ObjectCollision_GetContactNormal(&n);
    if (side == 0) Vec3_Scale(&n, &n, -1.0f);
    const Vec3& ov = theirs->lastVelocity;
    Vec3 blowVector = {ov.x * n.x, ov.y * n.y, ov.z * n.z};
    const float blow = Vec3_Length(&blowVector);
    bool allowed = true;
    if ((theirs->aiFlags & BLADES_DAMAGE_ONLY_PLAYER) && !record->player) allowed = false;
    if ((theirs->aiFlags & BLADES_DAMAGE_MASK) && !(theirs->damageMask & record->typeMask)) allowed = false;

    float factor = 0.0f, rebound = 0.0f;
    switch (BattleBlades_Matchup(data->element, theirs->element)) {
    case MATCHUP_DRAW: factor = theirs->drawDamageGiven, rebound = theirs->drawReboundVelMultiply; break;
    case MATCHUP_LOSE: factor = theirs->winDamageGiven, rebound = theirs->winReboundVelMultiply; break;
    default: rebound = theirs->loseReboundVelMultiply; break;
    }
    if (allowed && factor > 0.0f) {
        float damage = blow * factor;
        if (damage < theirs->minDamageGiven) damage = theirs->minDamageGiven;
        if (damage > theirs->maxDamageGiven) damage = theirs->maxDamageGiven;
        BattleBlades_RecordDamage(data, damage, other);
        Vehicle_PlayAnim(record, BLADES_HIT_DAMAGE, 1);
    }
    // Rebound along the normal by the other's velocity relative to ours.
    Vec3 d, v;
    Vec3_Sub(&d, &ov, &data->lastVelocity);
    PhysBody_GetLinearVelocity(object->body, &v);
    v.x += std::fabs(n.x) * d.x * rebound;
    v.y += std::fabs(n.y) * d.y * rebound;
    v.z += std::fabs(n.z) * d.z * rebound;
    PhysBody_SetLinearVelocity(object->body, &v);
}

void BattleBladesMode_Free(EntityRecord* record)
{
    if (BattleBladesData* data = DataOf(record)) {
        Mem_FreeSlot(&data->camera);
        Route_Free(&data->route);
    }
}
