// Skitter: key table and load, movement, rules (clipping, camera, damping,
// falling, facing, the animation chains, respawn and knock-back),
// collision, restart, free, detach and message slots.
#include "game/modes/skitter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "app/config.h"
#include "common/hash.h"
#include "common/memory.h"
#include "engine/animset.h"
#include "engine/node.h"
#include "engine/objectcollision.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physworld.h"
#include "engine/trigger.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/entity_hud.h"
#include "game/game_log.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/modes/man_camrel.h"
#include "game/modes/mode_common.h"
#include "game/modes/mode_helpers.h"
#include "game/viewports.h"

namespace {

const char* const kAnimNames[SKITTER_ANIM_COUNT] = {
    "idle", "wake", "sleep", "spawn", "stand", "walk", "jumpin", "fly",
    "land", "jump", "die", "meleeAttack", "rangeAttack", "bombExplode", "stunned", "celebrate",
};

constexpr float kCos45 = 0.70710677f;
constexpr float kNearSq = 900.0f;   // 30 units
constexpr float kFarSq = 3600.0f;   // 60 units
constexpr float kCameraDrop = 0.17453294f;  // 10 degrees

#define SK_FIELD(field) (uint32_t) offsetof(SkitterData, field)
#define SK_KEY(name, field, kind, conv, def, bit) \
    {name, SK_FIELD(field), kind, conv, MODEKEY_LEVEL_SECTION, MODEKEY_OPTIONAL, bit, def, nullptr}
#define SK_FLOAT(field) SK_KEY(#field, field, MODEKEY_FLOAT, MODEKEY_RAW, 0.0f, 0)
#define SK_ANGLE(field) SK_KEY(#field, field, MODEKEY_FLOAT, MODEKEY_DEGREES, 0.0f, 0)
#define SK_NEEDED(field, need, why) \
    {#field, SK_FIELD(field), MODEKEY_FLOAT, MODEKEY_RAW, MODEKEY_LEVEL_SECTION, need, 0, 0.0f, why}
#define SK_FLAG(name, bit, def) \
    {name, SK_FIELD(flags), MODEKEY_FLAG, MODEKEY_RAW, MODEKEY_LEVEL_SECTION, MODEKEY_OPTIONAL, bit, def, nullptr}

// In the order the keys are read; the speed table, the type masks and the
// groups follow the table.
const ModeKey kKeys[] = {
    SK_NEEDED(totalHealth, MODEKEY_NEEDED, "its health is 0 after every restart, so it plays \"die\" at once"),
    SK_KEY("stunScore", stunScore, MODEKEY_INT, MODEKEY_RAW, 0.0f, 0),
    SK_KEY("dieScore", dieScore, MODEKEY_INT, MODEKEY_RAW, 0.0f, 0),
    SK_FLOAT(jumpVel),
    SK_FLOAT(walkSpeedMin),
    SK_FLOAT(flyVelMax),
    SK_FLOAT(flyVelMin),
    SK_FLOAT(flyVelPerSecNoInput),
    SK_FLOAT(flyVelPerSecWithInput),
    SK_FLOAT(aiFlyVelDistRelSpeed),
    SK_ANGLE(turnSpeed),
    SK_KEY("dieInAirTime", dieInAirTime, MODEKEY_FLOAT, MODEKEY_RAW, 15.0f, 0),
    SK_NEEDED(forwardVelStep, MODEKEY_NEEDED, "it cannot move (no step)"),
    SK_FLOAT(forwardVelStepInAir),
    SK_NEEDED(maxRunSpeed, MODEKEY_NEEDED, "it cannot move (the speed cap is the larger of the two maxima)"),
    SK_NEEDED(maxInAirSpeed, MODEKEY_NEEDED, "it cannot move (the speed cap is the larger of the two maxima)"),
    SK_KEY("noInputDamping", noInputDamping, MODEKEY_VEC3, MODEKEY_RAW, 0.0f, 0),
    SK_KEY("runDamping", runDamping, MODEKEY_VEC3, MODEKEY_RAW, 0.0f, 0),
    SK_KEY("inAirDamping", inAirDamping, MODEKEY_VEC3, MODEKEY_RAW, 0.0f, 0),
    SK_NEEDED(aiVisionRadius, MODEKEY_NEEDED_BY_ROUTE, "it sees nothing"),
    SK_FLOAT(aiVisionAlertRadius),
    SK_FLOAT(aiVisionIdleRadius),
    SK_FLOAT(aiFollowRadius),
    SK_NEEDED(aiAttackSpeed, MODEKEY_NEEDED_BY_ROUTE, "it freezes when it sees a target"),
    SK_KEY("aiNonAttackSpeedMax", aiNonAttackSpeedMax, MODEKEY_FLOAT, MODEKEY_RAW, 1000.0f, 0),
    SK_FLOAT(aiAttackMinDist),
    SK_KEY("aiDefenceNoEnemyDist", aiDefenceNoEnemyDist, MODEKEY_FLOAT, MODEKEY_RAW, 5.0f, 0),
    SK_FLOAT(aiMeleeAttackMaxDist),
    SK_FLOAT(aiRangeAttackMaxDist),
    SK_FLOAT(aiRangeAttackMinDist),
    SK_ANGLE(aiRangeAttackXFiringArc),
    SK_ANGLE(aiRangeAttackYFiringArc),
    SK_KEY("colPathChangeAnimNum", colPathChangeAnimNum, MODEKEY_INT, MODEKEY_RAW, 0.0f, SKITTER_PATH_CHANGE_ANIM),
    SK_KEY("aiVisionXArc", aiVisionXArc, MODEKEY_FLOAT, MODEKEY_DEGREES, 0.0f, SKITTER_VISION_X_ARC),
    SK_ANGLE(aiVisionAlertXArc),
    SK_ANGLE(aiVisionIdleXArc),
    SK_KEY("aiVisionYArc", aiVisionYArc, MODEKEY_FLOAT, MODEKEY_DEGREES, 0.0f, SKITTER_VISION_Y_ARC),
    SK_ANGLE(aiVisionAlertYArc),
    SK_ANGLE(aiVisionIdleYArc),
    SK_ANGLE(aiVisionAngleXOffset),
    SK_ANGLE(aiVisionAngleYOffset),
    SK_FLOAT(aiVisionAlertDuration),
    SK_FLOAT(aiHeightDiffReqForJump),
    SK_KEY("aiAttackDirCorrect", aiAttackDirCorrect, MODEKEY_FLOAT, MODEKEY_UNIT, 0.0f, 0),
    SK_FLAG("aiAttackOnPath", SKITTER_ATTACK_ON_PATH, 0.0f),
    SK_FLAG("aiVisionOutsideDefence", SKITTER_VISION_OUTSIDE_DEFENCE, 0.0f),
    SK_FLAG("aiBombType", SKITTER_BOMB_TYPE, 0.0f),
    SK_FLAG("aiDefendOrigin", SKITTER_DEFEND_ORIGIN, 0.0f),
    SK_FLAG("aiAttackOnlyPlayer", SKITTER_ATTACK_ONLY_PLAYER, 0.0f),
    SK_FLAG("aiDamageOnlyPlayer", SKITTER_DAMAGE_ONLY_PLAYER, 0.0f),
    SK_FLAG("flyAllowed", SKITTER_FLY_ALLOWED, 0.0f),
    SK_FLAG("aiPathOrientateRB", SKITTER_PATH_ORIENT_BODY, 0.0f),
    SK_FLAG("orientToColNormal", SKITTER_ORIENT_TO_GROUND, 0.0f),
    SK_FLAG("ClipAllowed", SKITTER_CLIP_ALLOWED, 1.0f),
    SK_FLAG("aiRespawn", SKITTER_RESPAWN, 0.0f),
    SK_FLAG("aiOrientateToAnimRoute", SKITTER_ORIENT_TO_ANIM_ROUTE, 0.0f),
    SK_FLOAT(aiRespawnTime),
    SK_KEY("colOrientMaxUpwardChange", cosColOrientMaxUpwardChange, MODEKEY_FLOAT, MODEKEY_COSINE, 0.0f, 0),
    SK_FLOAT(colOrientSpeed),
    SK_FLOAT(standToIdleDuration),
    SK_FLAG("Boss", SKITTER_BOSS, 0.0f),
    SK_FLOAT(minDamageReceived),
};

const ModeKeyTable kTable = {"Skitter", kKeys, (uint32_t)(sizeof kKeys / sizeof kKeys[0]), SK_FIELD(flags)};

const ModeKey* FindKey(const char* name)
{
    for (const ModeKey& k : kKeys)
        if (strcmp(k.name, name) == 0) return &k;
    return nullptr;
}

bool In(int32_t anim, std::initializer_list<int32_t> list)
{
    for (int32_t a : list)
        if (a == anim) return true;
    return false;
}

// The alert and idle arcs start as the normal arc of the section, and their
// own keys in it override.
void ReadArcs(ConfigNode* reader, const char* section, SkitterData* d)
{
    if (ModeKeys_ReadOne(FindKey("aiVisionXArc"), reader, section, d)) {
        d->aiVisionAlertXArc = d->aiVisionIdleXArc = d->aiVisionXArc;
        ModeKeys_ReadOne(FindKey("aiVisionAlertXArc"), reader, section, d);
        ModeKeys_ReadOne(FindKey("aiVisionIdleXArc"), reader, section, d);
    }
    if (ModeKeys_ReadOne(FindKey("aiVisionYArc"), reader, section, d)) {
        d->aiVisionAlertYArc = d->aiVisionIdleYArc = d->aiVisionYArc;
        ModeKeys_ReadOne(FindKey("aiVisionAlertYArc"), reader, section, d);
        ModeKeys_ReadOne(FindKey("aiVisionIdleYArc"), reader, section, d);
    }
}

// "aiSpeed<n>" for n = 0, 1, ... replaces the table when the section has
// "aiSpeed0".
void ReadSpeedTable(ConfigNode* reader, const char* section, SkitterData* d)
{
    char key[128];
    float speed = 0.0f;
    snprintf(key, sizeof key, "%s::aiSpeed0", section);
    if (!Config_GetFloat(reader, key, &speed)) return;
    Mem_Free(d->speeds);
    d->speeds = nullptr;
    d->speedCount = 0;
    for (uint32_t n = 0; n < 64; ++n) {
        snprintf(key, sizeof key, "%s::aiSpeed%u", section, n);
        if (!Config_GetFloat(reader, key, &speed)) break;
        size_t size = sizeof(SkitterSpeed) * (d->speedCount + 1);
        SkitterSpeed* grown = (SkitterSpeed*)Mem_Realloc(d->speeds, 8, size);
        if (!grown || Mem_GetSize(grown) < size) break;
        d->speeds = grown;
        SkitterSpeed& e = d->speeds[d->speedCount++];
        e = SkitterSpeed{};
        e.speed = ModeKeys_Finite(speed);
        snprintf(key, sizeof key, "%s::aiSpeed%uAnimNum", section, n);
        Config_GetInt(reader, key, &e.anim);
        uint32_t on = 0;
        snprintf(key, sizeof key, "%s::aiSpeed%uOnAttack", section, n);
        if (Config_GetBool(reader, key, &on) && on) e.flags |= SKITTER_SPEED_ATTACK;
        on = 0;
        snprintf(key, sizeof key, "%s::aiSpeed%uOnNonAttack", section, n);
        if (Config_GetBool(reader, key, &on) && on) e.flags |= SKITTER_SPEED_NON_ATTACK;
    }
}

// Looping trigger instances stopped while the creature was switched off
// start again for the key events still open in the current animation.
void RestartTriggers(AnimSet* set)
{
    if (!set || !set->events || !set->eventNames) return;
    for (uint32_t i = 0; i < set->keyEventCount; ++i) {
        const AnimSetKeyEvent& k = set->keyEvents[i];
        if (!k.open || (int32_t)k.animation != set->current || k.event >= set->eventCount) continue;
        const AnimSetEvent& e = set->events[k.event];
        if (e.handler != Trigger_Fire || e.nameOffset >= set->eventNamesSize) continue;
        Trigger_Fire(set, set->eventNames + e.nameOffset, k.item, 0, 0.0f, k.end - k.start);
    }
}

// Switches the creature off beyond 60 units from the first view's camera, or
// beyond 30 units when it was not drawn; on again when it comes closer.
void Clipping(Object* object, EntityRecord* record, SkitterData* d)
{
    if (!record->animSlotCount || !record->animSlots[0].root) return;
    if (In(Mode_Anim(record), {SKITTER_LAND, SKITTER_DIE, SKITTER_STUNNED, SKITTER_CELEBRATE})) return;
    bool off = false;
    Node* root = record->animSlots[0].root;
    if ((d->flags & SKITTER_CLIP_ALLOWED) && !record->player) {
        if (Node* camera = Viewport_GetFirstCameraFrame()) {
            // The entity's place: its body's (the node follows it).
            Vec3 c, p = Mode_BodyPosition(object);
            Node_GetWorldPosition(camera, &c);
            if (!object->body && object->node) Node_GetWorldPosition(object->node, &p);
            float d2 = Vec3_DistanceSq(&c, &p);
            off = d2 >= kNearSq && (d2 > kFarSq || Node_IsCulled(root));
        }
    }
    PhysWorld* world = ObjectWorld_GetPhysicsWorld();
    if (off) {
        if (!d->switchedOff) {
            d->switchedOff = 1;
            if (object->body) {
                PhysWorld_RemoveBody(world, object->body);
                PhysBody_SetCollisionGroup(object->body, SKITTER_OFF_GROUP);
            }
            record->animSlots[0].flags |= SKITTER_SLOT_OFF;
            for (uint32_t i = 0; i < record->animSlotCount; ++i) Trigger_ResetForAnimSet(record->animSlots[i].set);
        }
        record->animSlots[0].flags |= ANIMSLOT_PAUSED;
    } else {
        if (d->switchedOff) {
            d->switchedOff = 0;
            if (object->body) {
                PhysWorld_AddBody(world, object->body, &record->lastPosition, &record->startAt, &record->startUp);
                PhysBody_SetCollisionGroup(object->body, object->collisionGroup);
            }
            record->animSlots[0].flags &= ~SKITTER_SLOT_OFF;
            for (uint32_t i = 0; i < record->animSlotCount; ++i) RestartTriggers(record->animSlots[i].set);
        }
        record->animSlots[0].flags &= ~ANIMSLOT_PAUSED;
    }
}

void FollowCamera(EntityRecord* record, SkitterData* d, float dt)
{
    Vec3 at, up;
    if (!record->player || !Entity_GetAnimRootOrientation(record, 0, &at, &up)) return;
    float ax = 0.0f, ay = 0.0f;
    Math_DirToAngles(&ax, &ay, &at);
    const Vec3 angles = {ax - kCameraDrop, ay, Math_RotatedElevation(ay, &up)};
    ChaseCamera_SetAngles(d->camera, &angles, nullptr);
    if (Node* frame = Mode_CameraFrame(record->player)) {
        ChaseCamera_FollowObject(d->camera, record->animSlots[0].root);
        ChaseCamera_Update(d->camera, frame, dt);
    }
}

void OrientToGround(EntityRecord* record, SkitterData* d, float dt)
{
    Vec3 at, up;
    if ((d->flags & SKITTER_ORIENT_TO_GROUND) && Entity_GetAnimRootOrientation(record, 0, &at, &up)) {
        if (Vec3_Dot(&d->bestNormal, &up) > d->cosColOrientMaxUpwardChange || d->bestNormal.y > up.y) {
            Vec3 next;
            Vec3_MoveTowards(&next, &up, &d->bestNormal, dt * d->colOrientSpeed);
            next = Mode_Unit(next);
            if (Vec3_LengthSq(&next) > 0.0f) {
                Vec3 side, facing;
                Vec3_Cross(&side, &next, &at);
                Vec3_Cross(&facing, &side, &next);
                facing = Mode_Unit(facing);
                if (Vec3_LengthSq(&facing) > 0.0f) Entity_SetAnimRootOrientation(record, 0, &facing, &next);
            }
        }
    }
    d->bestNormal = {0, 1, 0};
    d->bestUp = -1.0f;
}

void TurnToDesired(EntityRecord* record, SkitterData* d, float dt)
{
    Vec3 at, up;
    if (!In(Mode_Anim(record), {SKITTER_BOMB, SKITTER_DIE, SKITTER_STUNNED, SKITTER_CELEBRATE}) &&
        Vec3_LengthSq(&d->desiredFacing) > 0.0f && Entity_GetAnimRootOrientation(record, 0, &at, &up) &&
        Vec3_LengthSq(&at) > 0.00001f) {
        float step = std::fabs(dt * d->turnSpeed);
        float diff = Angle_Diff(Vec3_Heading(&at), Vec3_Heading(&d->desiredFacing), 1, 1);
        if (diff > step) diff = step;
        if (diff < -step) diff = -step;
        Vec3 turned;
        Vec3_RotateAxis(&turned, &at, &up, -diff);
        if (Mode_IsFinite(turned) && Vec3_LengthSq(&turned) > 0.0f) Entity_SetAnimRootOrientation(record, 0, &turned, &up);
    }
    d->desiredFacing = {0, 0, 0};
}

void ReleaseFinished(EntityRecord* record, SkitterData* d, Object* object)
{
    for (SkitterHeldShot& shot : d->held) {
        if (!shot.projectile) continue;
        bool playing = false;
        for (uint32_t i = 0; i < record->animSlotCount; ++i)
            if (record->animSlots[i].set == shot.set && (record->animSlots[i].flags & ANIMSLOT_PLAYING)) playing = true;
        if (playing) continue;
        Projectile_Release(shot.projectile, object);
        shot = SkitterHeldShot{};
    }
}

}  // namespace

const ModeKeyTable* SkitterMode_GetKeyTable(void) { return &kTable; }

const char* const* SkitterMode_GetAnimNames(uint32_t* count)
{
    if (count) *count = SKITTER_ANIM_COUNT;
    return kAnimNames;
}

int Skitter_PadDriven(const EntityRecord* record)
{
    return record && record->player && (!(record->flags & ENTITY_ROUTE_DRIVEN) || record->heldFrom);
}

SkitterData* Skitter_Data(EntityRecord* record)
{
    return record && record->mode == MODE_SKITTER ? (SkitterData*)record->modeData : nullptr;
}

void SkitterMode_Load(ConfigNode* reader, void* data, EntityRecord* record, Object* object, int32_t pass)
{
    SkitterData* d = (SkitterData*)data;
    if (!d || !record) return;
    char section[64];
    ModeKeys_SectionName(MODEKEY_LEVEL_SECTION, pass, section, sizeof section);
    if (pass == 0) {
        if (reader) Route_LoadConfig(reader, section, object, &d->route, 1);
        d->flags = 0;
        ModeKeys_SetDefaults(&kTable, d);
        ProjType_Free(&d->weapons);
        ColArea_Free(&d->areas);
        Mem_FreeSlot(&d->camera);
        d->hashDamage = Name_Hash("DAMAGE", 1, 1);
        d->hashSword = Name_Hash("SWORD", 1, 1);
        d->hashDeathArea = Name_Hash("DEATHAREA", 1, 1);
        d->hashKillArea = Name_Hash("KILLAREA", 1, 1);
        d->hashSpecialDamage = Name_Hash("SPECIAL_DAMAGE", 1, 1);
        Mem_Free(d->speeds);
        d->speeds = nullptr;
        d->speedCount = 0;
        d->cosHeadOn = kCos45;
        d->attackMask = d->damageMask = 0;
    } else if (reader) {
        Route_LoadConfig(reader, section, object, &d->route, 0);
    }
    ControlDataCache_Acquire(kAnimNames, SKITTER_ANIM_COUNT, record, 0);
    if (reader) {
        ModeKeys_Read(&kTable, reader, pass, d);
        ReadArcs(reader, section, d);
        ReadSpeedTable(reader, section, d);
        if (ModeKeys_ReadTypeMask(reader, section, "aiEntityTypeToAttack%d", &d->attackMask, kTable.mode) > 0)
            d->flags |= SKITTER_HAS_ATTACK_TYPES;
        if (ModeKeys_ReadTypeMask(reader, section, "aiEntityTypeToDamage%d", &d->damageMask, kTable.mode) > 0)
            d->flags |= SKITTER_HAS_DAMAGE_TYPES;
        ModeKeys_ReadGroups(reader, section, &d->camera, &d->weapons, &d->areas);
    }
    d->speedCap = std::fmax(d->maxRunSpeed, d->maxInAirSpeed);
    if (ModeLoadPass_IsLast(&d->loadPass, pass))
        ModeKeys_WarnMissing(&kTable, d, !record->player || (record->flags & ENTITY_ROUTE_DRIVEN));
}

void SkitterMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    SkitterData* d = Skitter_Data(record);
    if (!d || !input || !object) return;
    d->flags |= SKITTER_NO_INPUT;
    if (Entity_TestAnimFlags(record, 0, SKITTER_SLOT_OFF)) return;
    const float t = Mode_FrameTime();
    const bool landed = (record->flags & ENTITY_ON_GROUND) != 0;

    float h = 0.0f;
    if (Skitter_PadDriven(record)) {
        if (Node* frame = Mode_CameraFrame(record->player)) {
            Vec3 at, up;
            Node_GetWorldOrientation(frame, &at, &up);
            h = Vec3_Heading(&at);
        }
    }
    if (Mode_Pressed(input, SKITTER_BUTTON_RETURN) && record->heldFrom) Entity_PlaceHeld(record->heldFrom, object);

    Vec3 v = {0, 0, 0};
    PhysBody_GetLinearVelocity(object->body, &v);
    int32_t anim = Mode_Anim(record);
    if (!In(anim, {SKITTER_DIE, SKITTER_STUNNED, SKITTER_CELEBRATE})) {
        const float sx = input->stickX, sy = input->stickY;
        const float m = std::sqrt(sx * sx + sy * sy);
        if (m > 0.1f) {
            d->flags &= ~SKITTER_NO_INPUT;
            const Vec3 stick = {sx, 0.0f, sy};
            Vec3 direction = Mode_TurnAboutUp(stick, -h);
            if (Vec3_LengthSq(&d->desiredFacing) == 0.0f) d->desiredFacing = direction;
            Vec3 unit = Mode_Unit(direction);
            const float step = t * (landed ? d->forwardVelStep : d->forwardVelStepInAir) * m;
            Vec3 next = {v.x + unit.x * step, v.y, v.z + unit.z * step};
            float length = Mode_HorizontalLength(next);
            const float limits[2] = {landed ? d->maxRunSpeed : d->maxInAirSpeed, d->speedCap};
            for (float limit : limits) {
                if (length <= limit) continue;
                float k = limit > 0.0f ? limit / length : 0.0f;
                next.x *= k;
                next.z *= k;
                length = limit > 0.0f ? limit : 0.0f;
            }
            if (Mode_IsFinite(next)) {
                v = next;
                PhysBody_SetLinearVelocity(object->body, &v);
            }
            if (anim < 0 || anim == SKITTER_IDLE) Mode_Play(record, SKITTER_WAKE);
        }
        if (!(d->flags & SKITTER_BOMB_TYPE)) {
            anim = Mode_Anim(record);
            if (Mode_Held(input, SKITTER_BUTTON_MELEE)) {
                if (anim != SKITTER_BOMB && !(d->flags & SKITTER_HIT_PLAYER)) Mode_Play(record, SKITTER_MELEE);
            } else if (Mode_Held(input, SKITTER_BUTTON_RANGE)) {
                if (anim != SKITTER_BOMB && anim != SKITTER_WAKE) Mode_Play(record, SKITTER_RANGE);
            } else if ((anim == SKITTER_MELEE || anim == SKITTER_RANGE) && Mode_AnimFinished(record)) {
                Mode_Play(record, SKITTER_STAND);
            }
        }
    }

    if (landed && Mode_Held(input, SKITTER_BUTTON_JUMP) && Mode_Anim(record) != SKITTER_CELEBRATE) {
        v.y = d->jumpVel;
        PhysBody_SetLinearVelocity(object->body, &v);
        Mode_Play(record, SKITTER_JUMPIN);
    }

    if (!landed && (d->flags & SKITTER_FLY_ALLOWED)) {
        v.y = d->flyVel;
        PhysBody_SetLinearVelocity(object->body, &v);
        bool climbing = true;
        if (!Skitter_PadDriven(record))
            d->flyVel = d->flyTarget;
        else if (Mode_Held(input, SKITTER_BUTTON_JUMP))
            d->flyVel += t * d->flyVelPerSecWithInput;
        else {
            d->flyVel += t * d->flyVelPerSecNoInput;
            climbing = false;
        }
        if (climbing && Mode_Anim(record) != SKITTER_CELEBRATE) {
            if (Mode_Anim(record) == SKITTER_JUMP)
                Mode_Play(record, SKITTER_FLY);
            else if (Mode_Anim(record) == SKITTER_STAND)
                Mode_Play(record, SKITTER_JUMPIN);
        }
        d->flyVel = std::fmin(std::fmax(ModeKeys_Finite(d->flyVel), d->flyVelMin), d->flyVelMax);
    }
}

void Skitter_DieOrRespawn(Object* object, EntityRecord* record, SkitterData* d)
{
    if (!(d->flags & SKITTER_RESPAWN)) {
        if (!(record->flags & ENTITY_FROZEN)) Entity_Hide(object, 1, nullptr);
    } else if (d->aiRespawnTime == 0.0f) {
        Entity_Respawn(object, 0);
    } else if (!(d->flags & SKITTER_RESPAWN_PENDING)) {
        d->flags |= SKITTER_RESPAWN_PENDING;
        d->respawnTime = Entity_GetTime(record) + d->aiRespawnTime;
        Entity_Hide(object, 1, nullptr);
    }
}

void SkitterMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord*)
{
    SkitterData* d = Skitter_Data(record);
    if (!d || !object) return;
    const float t = Mode_FrameTime();
    const float now = Entity_GetTime(record);

    Clipping(object, record, d);
    ReleaseFinished(record, d, object);
    if (d->switchedOff) return;

    FollowCamera(record, d, t);
    if (record->flags & ENTITY_ALIVE) {
        Entity_SetAnimRootOrientation(record, 0, &record->startAt, &record->startUp);
        record->flags &= ~ENTITY_ALIVE;
    }
    int32_t anim = Mode_Anim(record);
    Entity_SetFlags(record, ENTITY_NO_QUERY, anim < 0 || anim == SKITTER_IDLE);

    const bool landed = (record->flags & ENTITY_ON_GROUND) != 0;
    if (!landed) {
        PhysBody_DampLinearVelocity(object->body, &d->inAirDamping, t);
    } else if (d->flags & SKITTER_NO_INPUT) {
        PhysBody_DampLinearVelocity(object->body, &d->noInputDamping, t);
        record->flags |= ENTITY_IDLE;
    } else {
        PhysBody_DampLinearVelocity(object->body, &d->runDamping, t);
    }

    // Falling: timed from the last moment the creature did not go down,
    // renewed while it touches something or is in water.
    Vec3 v = {0, 0, 0};
    PhysBody_GetLinearVelocity(object->body, &v);
    if (!landed && !(record->flags & ENTITY_TOUCHED) && !(record->waterDepth > 0.0f) &&
        !(d->flags & SKITTER_FLY_ALLOWED)) {
        if (v.y >= 0.0f) d->fallTime = now;
        if (now - d->fallTime > d->dieInAirTime && Entity_GetHealth(record) > 0.0f) {
            Entity_SetHealth(record, 0.0f, d->totalHealth);
            Skitter_DieOrRespawn(object, record, d);
        }
    } else {
        d->fallTime = now;
    }

    OrientToGround(record, d, t);
    TurnToDesired(record, d, t);

    if (Mode_Anim(record) == SKITTER_BOMB && Mode_AnimFinished(record)) Entity_SetHealth(record, 0.0f, 0.0f);
    if (Entity_GetHealth(record) <= 0.0f && Mode_Anim(record) != SKITTER_DIE) {
        Mode_Play(record, SKITTER_DIE);
        if (d->totalHealth != 0.0f) {
            PhysBody_SetPhantom(object->body, 1);
            PhysBody_ResetMotion(object->body, 0);
        }
    }
    if (Mode_Anim(record) == SKITTER_DIE && Mode_AnimFinished(record)) {
        if (!record->player) {
            Skitter_DieOrRespawn(object, record, d);
        } else if (Level_GetNumPlayerEntities() < 2) {
            // The respawn comes with the next frame's events, after this
            // slot has seen the same finished "die" once more.
            if (!(d->flags & SKITTER_DEATH_HANDLED)) Level_Restart(0);
            d->flags |= SKITTER_DEATH_HANDLED;
        } else {
            Entity_Respawn(object, 1);
        }
    }

    anim = Mode_Anim(record);
    if (anim == SKITTER_STAND || anim == SKITTER_WALK) {
        PhysBody_GetLinearVelocity(object->body, &v);
        const float speed = std::sqrt(v.x * v.x + 0.0001f * 0.0001f + v.z * v.z);
        if (speed > d->walkSpeedMin)
            Entity_PlayAnim(record, SKITTER_WALK, 0, 0.2f);
        else if (anim == SKITTER_WALK && Mode_AnimFinished(record))
            Entity_PlayAnim(record, SKITTER_STAND, 0, 0.5f);
    }

    if (Mode_AnimFinished(record)) {
        switch (Mode_Anim(record)) {
        case SKITTER_JUMPIN:
            Mode_Play(record, SKITTER_JUMP);
            break;
        case SKITTER_JUMP:
        case SKITTER_FLY:
            if (record->flags & ENTITY_ON_GROUND) Mode_Play(record, SKITTER_LAND);
            break;
        case SKITTER_LAND:
        case SKITTER_STUNNED:
        case SKITTER_WAKE:
            Mode_Play(record, SKITTER_STAND);
            break;
        case SKITTER_SPAWN:
        case SKITTER_SLEEP:
            Mode_Play(record, SKITTER_IDLE);
            break;
        default:
            break;
        }
    }
    if (Mode_AnimFinished(record) && (d->flags & SKITTER_HIT_PLAYER)) {
        Mode_Play(record, SKITTER_CELEBRATE);
        d->flags &= ~SKITTER_HIT_PLAYER;
    } else if (Mode_Anim(record) == SKITTER_CELEBRATE && Mode_AnimFinished(record)) {
        Mode_Play(record, SKITTER_STAND);
    }

    if ((d->flags & SKITTER_RESPAWN_PENDING) && now >= d->respawnTime) {
        d->flags &= ~SKITTER_RESPAWN_PENDING;
        Entity_Respawn(object, 0);
    }

    if (Mode_Anim(record) != SKITTER_STAND)
        d->standTime = Entity_GetTime(record);
    else if (d->standToIdleDuration != 0.0f && Entity_GetTime(record) - d->standTime > d->standToIdleDuration)
        Mode_Play(record, SKITTER_SLEEP);

    if (Vec3_LengthSq(&d->knockVel) > 0.0f) {
        PhysBody_GetLinearVelocity(object->body, &v);
        Vec3_Add(&v, &v, &d->knockVel);
        if (Mode_IsFinite(v)) PhysBody_SetLinearVelocity(object->body, &v);
        if (Entity_GetTime(record) - d->knockTime > 0.25f) {
            d->knockVel = {0, 0, 0};
            record->flags &= ~ENTITY_IDLE;
        }
    }
}

void SkitterMode_Collision(Object* object, EntityRecord* record, Object* other, uint32_t side)
{
    SkitterData* d = Skitter_Data(record);
    if (!d || !object || d->switchedOff) return;
    const bool contact = ObjectCollision_InContact() != 0;
    if (contact && ObjectCollision_IsTouching()) return;
    const bool proximity = HitModeObject_ByProximity() != 0;
    const float now = Entity_GetTime(record);
    Vec3 at, up;
    Mode_Facing(object, record, &at, &up);
    const Vec3 own = Mode_BodyPosition(object);

    if (Projectile_GetRecord(other)) {
        const uint32_t type = Projectile_GetHitType(other);
        const bool boss = (d->flags & SKITTER_BOSS) != 0;
        if (!(((type == d->hashDamage || type == d->hashSword) && !boss) || type == d->hashSpecialDamage) || !type) return;
        const Vec3 shot = Mode_BodyPosition(other);
        float factor = 0.0f;
        if (ColArea_HitTest(&d->areas, &own, &shot, &at, &up, COLAREA_WEAK, Entity_GetAnimSlotValue(record, 0), &factor,
                            nullptr)) {
            Vec3 direction;
            Vec3_Sub(&direction, &own, &shot);
            direction = Mode_Unit(direction);
            ControlMode_CollisionHelper(object, record, factor * Projectile_GetHitValue(other, 0), &direction,
                                        Projectile_GetHitValue(other, 1), Projectile_GetHitValue(other, 2),
                                        Projectile_GetOwner(other), type == d->hashDamage);
        }
        d->alertTime = now;
        return;
    }

    if (contact) {
        Vec3 n;
        ObjectCollision_GetContactNormal(&n);
        if (side == 1) n = {-n.x, -n.y, -n.z};
        if (Vec3_Dot(&at, &n) < -d->cosHeadOn) d->flags |= SKITTER_BLOCKED;
        if ((d->flags & SKITTER_ORIENT_TO_GROUND) && n.y > d->bestUp) {
            d->bestUp = n.y;
            d->bestNormal = n;
        }
    }

    EntityRecord* player = Entity_GetRecord(other);
    if (player && player->mode == MODE_MAN_CAMREL) {
        d->alertTime = now;
        if (d->flags & SKITTER_PATH_CHANGE_ANIM) {
            Route_RefreshItem(&d->route, d->colPathChangeAnimNum);
            Route_SetNextIndex(&d->route, 0);
        }
        if (ManCamRel_Data(player)) {
            Vec3 point = Mode_BodyPosition(other);
            if (contact) ObjectCollision_GetContactPoint(&point);
            const Vec3 theirs = Mode_BodyPosition(other);
            Vec3 theirAt, theirUp;
            Mode_Facing(other, player, &theirAt, &theirUp);
            float weak1 = 0.0f, weak2 = 0.0f;
            if (ColArea_HitTest(&ManCamRel_Data(player)->areas, &theirs, &point, &theirAt, &theirUp, COLAREA_WEAK,
                                Entity_GetAnimSlotValue(player, 0), &weak1, &weak2)) {
                Vec3 toThem;
                Vec3_Sub(&toThem, &theirs, &own);
                toThem = Mode_Unit(toThem);
                float damage1 = 0.0f, damage2 = 0.0f;
                if (ColArea_HitTest(&d->areas, &own, &point, &at, &up, COLAREA_DAMAGE, Entity_GetAnimSlotValue(record, 0),
                                    &damage1, &damage2)) {
                    ManCamRelMode_TakeHit(other, player, weak1 * damage1, &toThem, damage2, 0.0f);
                    d->flags |= SKITTER_HIT_PLAYER;
                }
                const Vec3 away = {-toThem.x, -toThem.y, -toThem.z};
                ControlMode_CollisionHelper(object, record, 0.0f, &away, weak2, 0.0f, nullptr, 0);
            }
        }
        return;
    }

    if (!HitModeObject_GetRecord(other)) return;
    const float impact = contact ? ObjectCollision_GetImpactSpeed() : (proximity ? 1.0f : 0.0f);
    if (!HitModeObject_TestHit(other, impact, record->player, record->typeMask)) return;
    const uint32_t type = HitModeObject_GetTypeHash(other);
    if (type == d->hashDeathArea) {
        Vec3 p, otherUp = {0, 1, 0}, otherAt;
        Object_GetTransform(other, &p, &otherUp, &otherAt);
        ControlMode_CollisionHelper(object, record, -HitModeObject_GetValue(other, 0), &otherUp,
                                    HitModeObject_GetValue(other, 1), 1000.0f, nullptr, 0);
    } else if (type == d->hashKillArea) {
        const Vec3 none = {0, 0, 0};
        ControlMode_CollisionHelper(object, record, -1000.0f, &none, 0.0f, 1000.0f, nullptr, 0);
    }
}

void SkitterMode_Restart(Object* object, EntityRecord* record, int32_t)
{
    SkitterData* d = Skitter_Data(record);
    if (!d || !object) return;
    Route_Reset(&d->route, object->body, (d->flags & SKITTER_PATH_ORIENT_BODY) ? 1 : 0);
    Entity_SetHealth(record, d->totalHealth, d->totalHealth);
    d->flags &= ~(SKITTER_RESPAWN_PENDING | SKITTER_HIT_PLAYER | SKITTER_DEATH_HANDLED);
    Object_SetFlags(object, 2, 1);
    if (Mode_Anim(record) == SKITTER_DIE) Mode_Play(record, SKITTER_SPAWN);
    d->alertTime = -d->aiVisionAlertDuration;
    Mode_ReleaseShots(d->held, SKITTER_HELD_SHOTS, object);
    ProjType_ResetWeapons(&d->weapons);
    PhysBody_SetPhantom(object->body, (object->flags & OBJECT_PHANTOM) ? 1 : 0);
    PhysBody_ResetMotion(object->body, (object->flags & OBJECT_PINNED) ? 1 : 0);
    d->bestNormal = {0, 1, 0};
    d->bestUp = -1.0f;
    d->knockVel = {0, 0, 0};
    d->progressTime = Entity_GetTime(record);
    d->bestDistance = 1000000.0f;
    d->refHeight = Mode_BodyPosition(object).y;
    d->fallTime = Entity_GetTime(record);
}

void SkitterMode_Free(EntityRecord* record)
{
    SkitterData* d = Skitter_Data(record);
    if (!d) return;
    Route_Free(&d->route);
    ProjType_Free(&d->weapons);
    Mem_FreeSlot(&d->camera);
    ColArea_Free(&d->areas);
    Mem_Free(d->speeds);
    d->speeds = nullptr;
    d->speedCount = 0;
}

void SkitterMode_Detach(EntityRecord* record)
{
    SkitterData* d = Skitter_Data(record);
    if (!d) return;
    memset(d->held, 0, sizeof d->held);
    d->target = nullptr;
}

void SkitterMode_Message(AnimSet* set, const char* event, Node* item, int32_t phase, float, float)
{
    Object* object = (Object*)AnimSet_GetObject(set);
    EntityRecord* record = Entity_GetRecord(object);
    SkitterData* d = Skitter_Data(record);
    if (!d || !event || phase != 0) return;
    int32_t slot = -1;
    int named = 0;
    if (!Mode_ReadShotEvent(record, event, &d->weapons, &slot, &named)) return;
    Mode_FireWeapon(object, record, &d->weapons, ProjType_GetWeapon(&d->weapons, slot), set, item,
                    d->target ? d->target->node : nullptr, 0, d->held, SKITTER_HELD_SHOTS);
}
