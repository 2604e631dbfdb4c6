#include "game/modes/skater_mode.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "engine/node.h"
#include "engine/objectcollision.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/modes/vehicle_common.h"

namespace {

constexpr float kDeadZone = 0.15f;

const char* const kAnimNames[SKATER_ANIM_COUNT] = {
    "rolling", "pushground", "startjump", "jump", "land",       "stunned",
    "falloff", "throw",      "celebrate", "lose", "startlevel",
};

#define SKATER_KEY(name, kind)                     \
    {                                              \
#name, kind, offsetof(SkaterData, name), 0 \
    }
const VehicleKey kKeys[] = {
    SKATER_KEY(initHealth, VKEY_FLOAT),         SKATER_KEY(initNumLifes, VKEY_INT),
    SKATER_KEY(totalHealth, VKEY_FLOAT),        SKATER_KEY(levelCompPickupTotal, VKEY_INT),
    SKATER_KEY(sideVelStep, VKEY_FLOAT),        SKATER_KEY(forwardToSidePower, VKEY_FLOAT),
    SKATER_KEY(leanRangeMax, VKEY_DEGREES_ABS), SKATER_KEY(leanRangePerVel, VKEY_DEGREES_ABS),
    SKATER_KEY(leanSpeed, VKEY_DEGREES_ABS),    SKATER_KEY(leanToMiddleSpeed, VKEY_DEGREES_ABS),
};
#undef SKATER_KEY

SkaterData* DataOf(EntityRecord* record) { return record ? (SkaterData*)record->modeData : nullptr; }

// The pickup kinds of this mode's collision step.
void TakePickup(EntityRecord* record, SkaterData* data, Object* pickup)
{
    int32_t v[4];
    for (uint32_t i = 0; i < 4; ++i) v[i] = Math_TruncToInt(HitModeObject_GetValue(pickup, i));
    switch (v[0]) {
    case 3: Entity_AddHealth(record, (float)v[1]); break;
    case 4:
        if (data->pickups4 < data->levelCompPickupTotal) {
            data->pickups4++;
            if (data->gauge) {
                int32_t i = HitModeObject_GetAnimIndex(data->gauge);
                HitModeObject_PlayIndex(data->gauge, i + 1, 1, 0);
                HitModeObject_ChooseNext(data->gauge, i + 2);
            }
        }
        break;
    case 5:
        data->pickups5++;
        if (data->pickups5 >= Math_TruncToInt((float)data->total5 * data->fraction5))
            data->flags |= SKATER_QUOTA_REACHED;
        break;
    case 6:
        if (data->gauge && record->player) {
            HitModeObject_PlayIndex(data->gauge, (int32_t)HitModeObject_GetAnimCount(data->gauge) - 1, 1, 0);
            data->gaugeLength = HitModeObject_GetAnimLength(data->gauge);
        }
        break;
    case 7:
        data->pickups7++;
        if (data->pickups7 >= data->total7) data->flags |= SKATER_QUOTA_REACHED;
        break;
    case 10:
        if (v[2] != 0) {
            data->flags |= SKATER_TIMED_PICKUP;
            for (int i = 0; i < 3; ++i) data->timedPickup[i] = v[i + 1];
        }
        break;
    default: break;  // kind 11 names a launcher a Skater does not have
    }
}

}  // namespace

float SkaterMode_Sideness(const Vec3* direction, const Vec3* modelForward)
{
    Vec3 f = {modelForward->x, 0.0f, modelForward->z};
    // Normalised whenever it has a horizontal length: a forward with only x
    // or only z non-zero (or pitched, such as (0, 0.6, 0.8)) still counts a
    // push straight along it as straight.
    if (f.x != 0.0f || f.z != 0.0f) Vec3_Normalise(&f);
    float sideness = 1.0f - std::fabs(Vec3_Dot(direction, &f));
    return sideness < 0.0f ? 0.0f : (sideness > 1.0f ? 1.0f : sideness);
}

void SkaterMode_Load(ConfigNode* reader, void* modeData, EntityRecord* record, Object* object, int32_t pass)
{
    SkaterData* data = (SkaterData*)modeData;
    if (!reader || !data || !record) return;
    if (pass == 0) {
        for (uint32_t t = 0; t < OBJTYPE_COUNT; ++t) data->typeHashes[t] = ObjectType_GetHash(t);
        data->forwardToSidePower = 1.0f;
        data->leanRangeMax = data->leanSpeed = data->leanToMiddleSpeed = 0.0f;
    }
    SkateCommon_Load(reader, &data->common, record, object, pass, kAnimNames, SKATER_ANIM_COUNT, "Skater");
    char section[64];
    Vehicle_SectionName(pass, section, sizeof section);
    VehicleKeys_Read(reader, section, kKeys, sizeof kKeys / sizeof kKeys[0], data, "Skater");
    data->stunColVelHor = data->common.stunColVelHor;
}

void SkaterMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    SkaterData* data = DataOf(record);
    if (!data || !object->body) return;
    SkateCommon* c = &data->common;
    SkateFrame f;
    SkateCommon_BeginFrame(object, record, c, input, &f);
    const float dt = f.dt;
    PhysBody* body = object->body;

    float leanTarget = 0.0f, leanRate = dt * data->leanToMiddleSpeed;
    if (f.stickLength > kDeadZone && (record->flags & ENTITY_ON_GROUND) && !f.looking) {
        Vec3 direction = SkateCommon_PushDirection(record, input, &f);
        float sideness = SkaterMode_Sideness(&direction, &c->modelAt);
        // The side step's weight stays within 0..1: a negative power from data
        // would make a straight push's (sideness 0) infinite.
        const float weight = std::clamp(Math_Pow(sideness, data->forwardToSidePower), 0.0f, 1.0f);
        float step = Math_Lerp(c->forwardVelStep, data->sideVelStep, weight);
        SkateCommon_Push(object, record, c, input, &direction, step, &f);
        Vec3 v;
        PhysBody_GetLinearVelocity(body, &v);
        float horizontal = std::sqrt(v.x * v.x + v.z * v.z);
        leanTarget = horizontal * data->leanRangePerVel * sideness;
        if (leanTarget > data->leanRangeMax) leanTarget = data->leanRangeMax;
        // Pushing to the model's right leans it right (a negative lean).
        Vec3 forward = {c->modelAt.x, 0.0f, c->modelAt.z};
        Vec3 right = {forward.z, 0.0f, -forward.x};
        if (Vec3_Dot(&direction, &right) > 0.0f) leanTarget = -leanTarget;
        leanRate = dt * data->leanSpeed;
    } else {
        PhysBody_DampLinearVelocity(body, &c->noInputDamping, dt);
    }
    data->lean = Math_MoveTowards(data->lean, leanTarget, leanRate);
    SkateCommon_SlowDown(object, dt);
    SkateCommon_EndFrame(c, &f);

    if (SkateCommon_FallingDeath(object, record, &c->fallStamp, c->dieInAirVel, c->dieInAirTime) && c->dieTime == 0.0f)
        c->dieTime = record->clock;

    Entity_SetAnimRootOrientation(record, 0, &c->modelAt, &c->modelUp);
    // The lean turns the model's local up about its forward: a positive
    // angle to its left (-x), a negative one to its right.
    const Vec3 ahead = {0.0f, 0.0f, 1.0f};
    const Vec3 leanUp = {-std::sin(data->lean), std::cos(data->lean), 0.0f};
    Entity_SetAnimOffsetOrientation(record, 0, &ahead, &leanUp);
    Entity_SetAnimRootOrientation(record, 1, &c->modelAt, &c->modelUp);
}

void SkaterMode_Restart(Object* object, EntityRecord* record, int32_t usePlayerStart)
{
    SkaterData* data = DataOf(record);
    if (!data) return;
    SkateCommon_Restart(object, record, &data->common, usePlayerStart, SKATER_ANIM_STARTLEVEL);
    Entity_SetHealth(record, data->initHealth, data->totalHealth);
    data->lean = 0.0f;
    // Back at the level's start: the checkpoint last taken can be taken again.
    if (usePlayerStart) Vehicle_ClearCheckpoint(record);
}

void SkaterMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord*)
{
    SkaterData* data = DataOf(record);
    if (!data) return;
    SkateCommon_Rules(object, record, &data->common, SKATER_ANIM_LOSE, 2);
}

void SkaterMode_Collision(Object* object, EntityRecord* record, Object* other, uint32_t)
{
    SkaterData* data = DataOf(record);
    if (!data || !other || ObjectCollision_IsTouching() || !HitModeObject_GetRecord(other)) return;
    const float impact = HitModeObject_ByProximity() ? 1.0f : ObjectCollision_GetImpactSpeed();
    const int32_t index = HitModeObject_GetStandingIndex(other);
    if (!HitModeObject_TestHit(other, impact, record->player, record->typeMask)) return;
    (void)object;
    const uint32_t type = HitModeObject_GetTypeHash(other);
    const uint32_t* h = data->typeHashes;
    if (type == h[OBJTYPE_PICKUP]) {
        if (index == 0) TakePickup(record, data, other);
    } else if (type == h[OBJTYPE_SPRINGBOARD]) {
        Vec3 up = Vehicle_ObjectUp(other);
        Vec3_Scale(&data->springboardPush, &up, HitModeObject_GetValue(other, 0));
        data->springboardTime = record->clock;
    } else if (type == h[OBJTYPE_CHECKPOINT]) {
        Vehicle_TakeCheckpoint(record, other);
    } else if (type == h[OBJTYPE_KILLAREA]) {
        data->flags |= SKATER_KILL_AREA;
    } else if (type == h[OBJTYPE_DEATHAREA]) {
        // The lose path starts the area's value 0 seconds later (first contact only).
        if (data->common.dieTime == 0.0f)
            data->common.dieTime = record->clock + Vehicle_Finite(HitModeObject_GetValue(other, 0), 0.0f);
    } else if (type == h[OBJTYPE_HITANIMCHANGE]) {
        if (index == 0) {
            HitModeObject_PlayIndex(other, 1, 1, record->player);
            HitModeObject_ChooseNext(other, 0);
        }
    }
}

void SkaterMode_RouteUpdate(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    if (SkaterData* data = DataOf(record)) SkateCommon_RouteStick(object, &data->common, input);
}

void SkaterMode_Free(EntityRecord* record)
{
    if (SkaterData* data = DataOf(record)) SkateCommon_Free(&data->common);
}
