// Man_CamRel: the key table, the load slot with its scan of the level's
// objects, the restart, free and detach slots, and the shared hook.
#include <cstdio>
#include <cstring>

#include "app/config.h"
#include "common/hash.h"
#include "common/list.h"
#include "common/memory.h"
#include "engine/objectworld.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/game_context.h"
#include "game/game_log.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/modes/man_camrel.h"
#include "game/modes/mode_common.h"
#include "game/modes/mode_helpers.h"
#include "game/race_setup.h"

namespace {

const char* const kAnimNames[MCR_ANIM_COUNT] = {
    "stand",           "walk",          "walkBack",           "run",          "jumpin",
    "land",            "jump",          "possessIn",          "possessOut",   "fire",
    "doublejump",      "stunned",       "dead",               "wading",       "swimForward",
    "drown",           "skid",          "changeDirection",    "dieInAir",     "bumpIntoObject",
    "closeAttack1",    "closeAttack1Finish", "closeAttack2",  "closeAttack2Finish", "closeAttackInAir",
    "pickupObjectSwipe1", "pickupObjectSwipe2", "pickupObjectSwipe3", "push",  "stunnedUpwards",
    "specialMove",     "closeAttackCharge", "closeAttackChargeRelease",
};

const char* const kTypeNames[MCR_TYPE_COUNT] = {
    "PICKUP", "SPRINGBOARD", "CHECKPOINT", "DEATHAREA", "KILLAREA", "ENDAREA",
    "ENDAREATRIGGER", "HITANIMCHANGE", "DAMAGE", "HEALTH", "SCORE", "SPECIAL_DAMAGE",
};

#define MCR_FIELD(field) (uint32_t) offsetof(ManCamRelData, field)
#define MCR_KEY(name, field, kind, conv, def) \
    {name, MCR_FIELD(field), kind, conv, MODEKEY_LEVEL_SECTION, MODEKEY_OPTIONAL, 0, def, nullptr}
#define MCR_NEEDED(name, field, why) \
    {name, MCR_FIELD(field), MODEKEY_FLOAT, MODEKEY_RAW, MODEKEY_LEVEL_SECTION, MODEKEY_NEEDED, 0, 0.0f, why}
#define MCR_FLOAT(field) MCR_KEY(#field, field, MODEKEY_FLOAT, MODEKEY_RAW, 0.0f)
#define MCR_FLAG(name, bit, def) \
    {name, MCR_FIELD(flags), MODEKEY_FLAG, MODEKEY_RAW, MODEKEY_LEVEL_SECTION, MODEKEY_OPTIONAL, bit, def, nullptr}
#define MCR_CAMERA(i)                                                                                            \
    {"camMode" #i "RailDist", MCR_FIELD(camModes[i].railDist), MODEKEY_FLOAT, MODEKEY_RAW, MODEKEY_LEVEL_SECTION, \
     MODEKEY_NEEDED, 0, 0.0f, "the camera sits on the character"},                                               \
        MCR_KEY("camMode" #i "SlideMaxDist", camModes[i].slideMaxDist, MODEKEY_FLOAT, MODEKEY_RAW, 0.0f),        \
        MCR_KEY("camMode" #i "XRotation", camModes[i].xRotation, MODEKEY_FLOAT, MODEKEY_DEGREES, 0.0f),          \
        MCR_KEY("camMode" #i "CamTilt", camModes[i].camTilt, MODEKEY_VEC3, MODEKEY_DEGREES, 0.0f),               \
        MCR_KEY("camMode" #i "viewObjLagSpeedOnGround", camModes[i].viewObjLagSpeedOnGround, MODEKEY_VEC3,        \
                MODEKEY_ABS, 0.0f),                                                                              \
        MCR_KEY("camMode" #i "viewObjLagSpeedInAir", camModes[i].viewObjLagSpeedInAir, MODEKEY_VEC3, MODEKEY_ABS, \
                0.0f),                                                                                           \
        MCR_KEY("camMode" #i "camLagSpeedOnGround", camModes[i].camLagSpeedOnGround, MODEKEY_VEC3, MODEKEY_ABS,   \
                0.0f),                                                                                           \
        MCR_KEY("camMode" #i "camLagSpeedInAir", camModes[i].camLagSpeedInAir, MODEKEY_VEC3, MODEKEY_ABS, 0.0f)

// In the order the keys are read.
const ModeKey kKeys[] = {
    MCR_KEY("easyScorePickupPercentReq", easyScorePickupPercentReq, MODEKEY_FLOAT, MODEKEY_PERCENT, 0.0f),
    MCR_KEY("mediumScorePickupPercentReq", mediumScorePickupPercentReq, MODEKEY_FLOAT, MODEKEY_PERCENT, 0.0f),
    MCR_KEY("hardScorePickupPercentReq", hardScorePickupPercentReq, MODEKEY_FLOAT, MODEKEY_PERCENT, 0.0f),
    MCR_FLOAT(yVelChangePerSec),
    MCR_FLOAT(jumpVel),
    MCR_NEEDED("jumpTimeSinceGroundAllow", jumpTimeSinceGroundAllow,
               "it never jumps: the landing time is at least one frame old when the movement runs"),
    MCR_NEEDED("forwardVelStep", forwardVelStep, "it cannot walk (no step)"),
    MCR_FLOAT(forwardVelStepInAir),
    MCR_FLOAT(forwardVelStepInAirWithCol),
    MCR_FLOAT(reverseVelStep),
    MCR_FLOAT(turnVelMax),
    MCR_KEY("initHealth", initHealth, MODEKEY_FLOAT, MODEKEY_RAW, 100.0f),
    MCR_KEY("initNumLifes", initNumLifes, MODEKEY_INT, MODEKEY_RAW, 10.0f),
    MCR_KEY("totalHealth", totalHealth, MODEKEY_FLOAT, MODEKEY_RAW, 100.0f),
    MCR_KEY("levelCompPickupTotal", levelCompPickupTotal, MODEKEY_INT, MODEKEY_RAW, 0.0f),
    MCR_KEY("joyRelYCamSpeedMax", joyRelYCamSpeedMax, MODEKEY_FLOAT, MODEKEY_DEGREES, 0.0f),
    MCR_FLOAT(joyRelYCamSpeedMult),
    MCR_FLOAT(joyRelYCamSpeedPowerOf),
    MCR_NEEDED("maxRunSpeed", maxRunSpeed, "it cannot walk (a speed limit of 0)"),
    MCR_KEY("runMaxAnimSpeedChange", runMaxAnimSpeedChange, MODEKEY_FLOAT, MODEKEY_RAW, 1.0f),
    MCR_KEY("runMinAnimSpeedChange", runMinAnimSpeedChange, MODEKEY_FLOAT, MODEKEY_RAW, 1.0f),
    MCR_FLOAT(runVelSpeedChange),
    MCR_NEEDED("maxInAirSpeed", maxInAirSpeed, "it cannot steer in the air"),
    MCR_FLOAT(maxWalkSpeed),
    MCR_KEY("walkMaxAnimSpeedChange", walkMaxAnimSpeedChange, MODEKEY_FLOAT, MODEKEY_RAW, 1.0f),
    MCR_KEY("walkMinAnimSpeedChange", walkMinAnimSpeedChange, MODEKEY_FLOAT, MODEKEY_RAW, 1.0f),
    MCR_FLOAT(walkVelSpeedChange),
    MCR_FLOAT(pushMaxAnimSpeedChange),
    MCR_FLOAT(pushMinAnimSpeedChange),
    MCR_FLOAT(pushVelSpeedChange),
    MCR_KEY("noInputDamping", noInputDamping, MODEKEY_VEC3, MODEKEY_RAW, 0.0f),
    MCR_KEY("manualCamSpeed", manualCamSpeed, MODEKEY_VEC2, MODEKEY_DEGREES, 0.0f),
    MCR_KEY("targetViewAngle", targetViewAngle, MODEKEY_VEC2, MODEKEY_ABS_DEGREES, 0.0f),
    MCR_FLOAT(targetViewRadius),
    MCR_KEY("levelCompArrowSpeed", levelCompArrowSpeed, MODEKEY_VEC2, MODEKEY_DEGREES, 0.0f),
    MCR_KEY("runDamping", runDamping, MODEKEY_VEC3, MODEKEY_RAW, 0.0f),
    MCR_KEY("inAirDamping", inAirDamping, MODEKEY_VEC3, MODEKEY_RAW, 0.0f),
    MCR_FLAG("doubleJumpAllow", MCR_DOUBLE_JUMP_ALLOW, 0.0f),
    MCR_FLAG("swordAllow", MCR_SWORD_ALLOW, 1.0f),
    MCR_FLAG("weaponsAllow", MCR_WEAPONS_ALLOW, 1.0f),
    MCR_FLAG("camResetButtonAllow", MCR_CAM_RESET_ALLOW, 1.0f),
    MCR_FLAG("pushAllow", MCR_PUSH_ALLOW, 1.0f),
    MCR_FLAG("orientateTargetToCam", MCR_TARGET_TO_CAMERA, 0.0f),
    MCR_FLAG("noSpecialAmmo", MCR_NO_SPECIAL_AMMO, 0.0f),
    MCR_FLOAT(doubleJumpVel),
    MCR_FLOAT(doubleJumpAllowMaxYVel),
    MCR_FLOAT(doubleJumpAllowMinYVel),
    MCR_FLOAT(closeAttackMoveStartTime),
    MCR_FLOAT(closeAttackMoveEndTime),
    MCR_FLOAT(closeAttackForwardVelStep),
    MCR_FLOAT(closeAttackMaxSpeed),
    MCR_FLOAT(waterDamageHeight),
    MCR_FLOAT(waterWadeHeight),
    MCR_KEY("joyDirIncToCenter", joyDirIncToCenter, MODEKEY_VEC3, MODEKEY_RAW, 0.0f),
    MCR_KEY("joyDirIncFromCenter", joyDirIncFromCenter, MODEKEY_VEC3, MODEKEY_RAW, 0.0f),
    MCR_FLOAT(deathColVelVer),
    MCR_FLOAT(stunColVelVer),
    MCR_FLOAT(stunColVelHor),
    MCR_KEY("stunPlayerAtRelAngle", cosStunPlayerAtRelAngle, MODEKEY_FLOAT, MODEKEY_COSINE, 0.0f),
    MCR_KEY("frontColAngle", cosFrontColAngle, MODEKEY_FLOAT, MODEKEY_COSINE, 0.0f),
    MCR_FLOAT(dieInAirVel),
    MCR_NEEDED("dieInAirTime", dieInAirTime, "a fall faster than dieInAirVel kills at once"),
    MCR_KEY("skidVel", skidVel, MODEKEY_FLOAT, MODEKEY_RAW, 100.0f),
    MCR_FLOAT(skidPowerVal),
    MCR_FLOAT(waterDamagePerSec),
    MCR_KEY("changeDirTurnSpeed", changeDirTurnSpeed, MODEKEY_FLOAT, MODEKEY_DEGREES, 0.0f),
    MCR_FLAG("orientToColNormal", MCR_ORIENT_TO_GROUND, 0.0f),
    MCR_FLAG("allowCloseAttackCharge", MCR_CHARGE_ALLOW, 0.0f),
    MCR_FLOAT(changeDirHighVel),
    MCR_KEY("changeDirCheckIntervalTime", changeDirCheckIntervalTime, MODEKEY_FLOAT, MODEKEY_RAW, 0.1f),
    MCR_FLOAT(colOrientMinVel),
    MCR_KEY("changeDirValidTurnMade", changeDirValidTurnMade, MODEKEY_FLOAT, MODEKEY_DEGREES, 0.0f),
    MCR_FLOAT(changeDirTimeAfterHighVel),
    MCR_FLOAT(friction),
    MCR_FLOAT(frictionAngleRelPower),
    MCR_FLOAT(stunDuration),
    MCR_FLOAT(swordTurnStartTime),
    MCR_FLOAT(swordTurnEndTime),
    MCR_KEY("colOrientMaxUpwardChange", cosColOrientMaxUpwardChange, MODEKEY_FLOAT, MODEKEY_COSINE, 0.0f),
    MCR_FLOAT(colOrientSpeed),
    MCR_FLOAT(timeToChangeFromAirLag),
    MCR_KEY("upVelRangeForAngleChange", upVelRangeForAngleChange, MODEKEY_FLOAT, MODEKEY_ABS, 0.0f),
    MCR_KEY("upVelRangeForAngleChangeReducePerSec", upVelRangeForAngleChangeReducePerSec, MODEKEY_FLOAT,
            MODEKEY_ABS, 0.0f),
    MCR_KEY("upVelRangePowerVal", upVelRangePowerVal, MODEKEY_FLOAT, MODEKEY_ABS, 0.0f),
    MCR_KEY("upVelRelAngleRange", upVelRelAngleRange, MODEKEY_FLOAT, MODEKEY_ABS_DEGREES, 0.0f),
    MCR_KEY("downVelRangeForAngleChange", downVelRangeForAngleChange, MODEKEY_FLOAT, MODEKEY_ABS, 0.0f),
    MCR_KEY("downVelRangeForAngleChangeReducePerSec", downVelRangeForAngleChangeReducePerSec, MODEKEY_FLOAT,
            MODEKEY_ABS, 0.0f),
    MCR_KEY("downVelRangePowerVal", downVelRangePowerVal, MODEKEY_FLOAT, MODEKEY_ABS, 0.0f),
    MCR_KEY("downVelRelAngleRange", downVelRelAngleRange, MODEKEY_FLOAT, MODEKEY_ABS_DEGREES, 0.0f),
    MCR_FLOAT(platformVelLoseSpeed),
    MCR_KEY("specialMoveProjectileNum", specialMoveProjectileNum, MODEKEY_INT, MODEKEY_RAW, 0.0f),
    MCR_CAMERA(0),
    MCR_CAMERA(1),
    MCR_CAMERA(2),
    MCR_CAMERA(3),
};

const ModeKeyTable kTable = {"Man_CamRel", kKeys, (uint32_t)(sizeof kKeys / sizeof kKeys[0]), MCR_FIELD(flags)};

void FreeCompletionList(ManCamRelData* d)
{
    Mem_Free(d->levelComp);
    d->levelComp = nullptr;
    d->levelCompCount = 0;
}

void ClearCandidates(ManCamRelData* d)
{
    memset(d->active, 0, sizeof d->active);
    memset(d->activeVisible, 0, sizeof d->activeVisible);
    memset(d->scanned, 0, sizeof d->scanned);
    memset(d->scannedVisible, 0, sizeof d->scannedVisible);
    d->scanIndex = 0;
    d->target = nullptr;
}

// The level-end object is checked once per level, at the first restart: it
// needs the four animations of the end, and two per completion pickup.
void CheckLevelEnd(ManCamRelData* d)
{
    if (d->endChecked || !d->levelEnd) return;
    d->endChecked = 1;
    uint32_t n = HitModeObject_GetAnimCount(d->levelEnd);
    const char* name = d->levelEnd->name;
    if (n < 4) {
        GameLog_Printf("%s: level-end object \"%s\" has %u animations, fewer than 4; the level cannot be completed",
                       Entity_GetLoadingPath(), name, n);
        d->levelEnd = nullptr;
        return;
    }
    uint32_t rule = Level_GetGameRule();
    if (rule != RULE_NORMAL && rule != RULE_SCORE_PICKUPS && rule != RULE_BEATTIME) return;
    int64_t wanted = 2 * (int64_t)d->levelCompPickupTotal + 4;
    if ((int64_t)n != wanted)
        GameLog_Printf("%s: level-end object \"%s\" has %u animations; levelCompPickupTotal %d needs %lld",
                       Entity_GetLoadingPath(), name, n, (int)d->levelCompPickupTotal, (long long)wanted);
}

}  // namespace

const ModeKeyTable* ManCamRelMode_GetKeyTable(void) { return &kTable; }

const char* const* ManCamRelMode_GetAnimNames(uint32_t* count)
{
    if (count) *count = MCR_ANIM_COUNT;
    return kAnimNames;
}

ManCamRelData* ManCamRel_Data(EntityRecord* record)
{
    return record && record->mode == MODE_MAN_CAMREL ? (ManCamRelData*)record->modeData : nullptr;
}

void ManCamRelMode_Load(ConfigNode* reader, void* data, EntityRecord* record, Object* object, int32_t pass)
{
    ManCamRelData* d = (ManCamRelData*)data;
    if (!d || !record) return;
    char section[64];
    ModeKeys_SectionName(MODEKEY_LEVEL_SECTION, pass, section, sizeof section);

    if (pass == 0) {
        d->flags = 0;
        ModeKeys_SetDefaults(&kTable, d);
        for (uint32_t i = 0; i < MCR_TYPE_COUNT; ++i) d->typeHashes[i] = Name_Hash(kTypeNames[i], 1, 1);
        d->attackMask = 0;
        d->levelEnd = nullptr;
        if (record->player) Player_SetUserWord((int)record->player - 1, nullptr);
        ProjType_Free(&d->weapons);
        ColArea_Free(&d->areas);
        Mem_FreeSlot(&d->camera);
        FreeCompletionList(d);
        d->scorePickupTotal = d->hiddenTotal = 0;
        d->endChecked = 0;
        if (List* objects = Level_GetObjectList()) List_ForEach(objects, ManCamRelMode_CollectObject, d);
    }

    ControlDataCache_Acquire(kAnimNames, MCR_ANIM_COUNT, record, 0);
    if (reader) {
        ModeKeys_Read(&kTable, reader, pass, d);
        if (ModeKeys_ReadTypeMask(reader, section, "entityTypeToAttack%d", &d->attackMask, kTable.mode) > 0)
            d->flags |= MCR_HAS_ATTACK_TYPES;
        ModeKeys_ReadGroups(reader, section, &d->camera, &d->weapons, &d->areas);
        Mode_LoadRoute(reader, &d->route, object, pass);
    }

    if (ModeLoadPass_IsLast(&d->loadPass, pass)) {
        ModeKeys_WarnMissing(&kTable, d, 0);
        if (!d->camera)
            ModeKeys_Warn(kTable.mode, "a controlData::genCamData key",
                          "no camera record: the viewport camera stays where it is");
    }
}

int ManCamRelMode_CollectObject(void* item, void* data)
{
    Object* object = (Object*)item;
    ManCamRelData* d = (ManCamRelData*)data;
    uint32_t type = HitModeObject_GetTypeHash(object);
    if (!type) return 0;
    if (type == d->typeHashes[MCR_TYPE_PICKUP]) {
        switch (Math_TruncToInt(HitModeObject_GetValue(object, 0))) {
        case 4: {
            size_t size = sizeof(Object*) * (d->levelCompCount + 1);
            Object** grown = (Object**)Mem_Realloc(d->levelComp, 8, size);
            if (!grown || Mem_GetSize(grown) < size) break;
            d->levelComp = grown;
            d->levelComp[d->levelCompCount++] = object;
            break;
        }
        case 5:
            d->scorePickupTotal++;
            break;
        case 7:
            d->hiddenTotal++;
            break;
        default:
            break;
        }
    } else if (type == d->typeHashes[MCR_TYPE_ENDAREA]) {
        d->levelEnd = object;
    }
    return 0;
}

void ManCamRelMode_Restart(Object* object, EntityRecord* record, int32_t usePlayerStart)
{
    ManCamRelData* d = ManCamRel_Data(record);
    if (!d) return;
    const float now = Entity_GetTime(record);
    const int player = (int)record->player - 1;

    d->flags &= ~(MCR_WAS_FROZEN | MCR_KILLED_BY_AREA);
    record->flags |= ENTITY_ALIVE;
    d->fallTime = now;
    Vec3 defaults = {0, 0, 0};
    ChaseCamera_GetVector(d->camera, &defaults);
    d->camPitch = defaults.x;
    Object_SetFlags(object, 2, 1);

    d->platformVel = d->forcedVel = Vec3{0, 0, 0};
    ClearCandidates(d);

    const int32_t mode = d->camMode >= 0 && d->camMode < MCR_CAMERA_MODES ? d->camMode : 0;
    d->camMode = mode;
    ChaseCamera_SetTiltTarget(d->camera, &d->camModes[mode].camTilt);
    ChaseCamera_SetViewObjLagPosSpeed(d->camera, &d->camModes[mode].viewObjLagSpeedOnGround);
    ChaseCamera_SetViewObjLagNegSpeed(d->camera, &d->camModes[mode].viewObjLagSpeedOnGround);

    d->stunStart = -d->stunDuration;
    Entity_SetHealth(record, d->initHealth, d->totalHealth);
    ProjType_ResetWeapons(&d->weapons);
    if ((d->flags & MCR_NO_SPECIAL_AMMO) && ProjType_GetWeapon(&d->weapons, d->specialMoveProjectileNum))
        ProjType_SetAmmo(&d->weapons, d->specialMoveProjectileNum, 0);

    CheckLevelEnd(d);
    if (usePlayerStart) {
        Route_Reset(&d->route, nullptr, 0);
        d->lives = Game_GetHiddenFlag() ? 99 : d->initNumLifes;
        d->score = d->levelCompCollected = d->scorePickupsCollected = d->hiddenCollected = d->killCount = 0;
        d->flags &= ~MCR_PICKUPS_MET;
        if (d->levelEnd) HitModeObject_PlayIndex(d->levelEnd, 0, 1, 0);
    }
    if (record->player) {
        switch (GameSetup_GetPlayerDifficulty(player)) {
        case 0:
            d->requiredFraction = d->easyScorePickupPercentReq;
            break;
        case 1:
            d->requiredFraction = d->mediumScorePickupPercentReq;
            break;
        case 2:
            d->requiredFraction = d->hardScorePickupPercentReq;
            break;
        default:
            break;
        }
    }
    const uint32_t rule = Level_GetGameRule();
    if ((rule == RULE_SCORE_PICKUPS && d->scorePickupTotal == 0) || (rule == RULE_HIDDEN_PICKUPS && d->hiddenTotal == 0))
        d->flags |= MCR_PICKUPS_MET;

    Mode_ReleaseShots(d->pending, MCR_PENDING_SHOTS, object);
    if (Level_GetNumPlayerEntities() == 1) Projectile_ClearAll();

    Mode_Play(record, MCR_STAND);
    d->groundNormal = {0, 1, 0};

    if (usePlayerStart && record->player) {
        if (Object* checkpoint = (Object*)Player_GetUserWord(player)) HitModeObject_PlayIndex(checkpoint, 0, 1, 0);
        Player_SetUserWord(player, nullptr);
    }
    for (ManCamRelFloatText& t : d->texts) t.flags = 0;
}

void ManCamRelMode_Free(EntityRecord* record)
{
    ManCamRelData* d = ManCamRel_Data(record);
    if (!d) return;
    ProjType_Free(&d->weapons);
    ColArea_Free(&d->areas);
    Mem_FreeSlot(&d->camera);
    FreeCompletionList(d);
    Route_Free(&d->route);
}

void ManCamRelMode_Detach(EntityRecord* record)
{
    ManCamRelData* d = ManCamRel_Data(record);
    if (!d) return;
    memset(d->pending, 0, sizeof d->pending);
    ClearCandidates(d);
    FreeCompletionList(d);
    d->levelEnd = nullptr;
}

EntityRecord* ControlMode_GetEntityData(Object* object) { return Entity_GetRecord(object); }

void ControlMode_Hook(Object* object) { (void)ControlMode_GetEntityData(object); }
