#include "game/modes/faketilt_mode.h"

#include <cmath>

#include "engine/objectcollision.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physray.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/modes/vehicle_common.h"

namespace {

constexpr float kDeadZone = 0.15f;
constexpr float kWalkSpeed = 0.8f, kRunSpeed = 5.0f, kTumbleSpeed = 20.0f;
constexpr float kStandDelay = 0.5f;  // below walking speed this long before "stand"
constexpr float kNearEdgeHold = 0.5f;
constexpr float kFallDelay = 0.2f;  // in the air this long before "fall"
constexpr float kEdgeProbe = 10.0f;
constexpr float kSlopeLimit = -0.007f;

const char* const kAnimNames[FAKETILT_ANIM_COUNT] = {
    "stand", "walk", "run", "tumble", "fall", "longfall", "land", "celebrate", "startlevel", "bump", "nearedge", "lose",
};

FakeTiltData* DataOf(EntityRecord* record) { return record ? (FakeTiltData*)record->modeData : nullptr; }

bool IsLocomotion(int32_t anim)
{
    return anim == FAKETILT_ANIM_STAND || anim == FAKETILT_ANIM_WALK || anim == FAKETILT_ANIM_RUN ||
           anim == FAKETILT_ANIM_TUMBLE;
}

// The ground ahead: a ray down and ahead of the model, 26.6 degrees from
// straight down. Safe when it hits, the drop below the ground under the body
// is less than twice the vehicle height, and the slope there would not tip
// the model's forward down too fast.
bool GroundAheadIsSafe(Object* object, EntityRecord* record, const SkateCommon* c, const SkateFrame* f)
{
    Vec3 ahead = {c->modelAt.x, 0.0f, c->modelAt.z};
    if (Vec3_LengthSq(&ahead) < 1e-12f) ahead = {0.0f, 0.0f, 1.0f};
    Vec3_Normalise(&ahead);
    Vec3 direction = {0.5f * ahead.x, -1.0f, 0.5f * ahead.z};
    Vec3_Normalise(&direction);
    const Vec3 position = Vehicle_BodyPosition(object);
    PhysRayHit hit;
    if (!PhysWorld_CastRayDir(ObjectWorld_GetPhysicsWorld(), &hit, &position, &direction, kEdgeProbe)) return false;
    const float groundY = f->floorHit ? f->floorPoint.y : position.y;
    if (groundY - hit.point.y >= 2.0f * record->vehicleHeight) return false;
    // The model's forward as it would stand on the surface ahead.
    Vec3 up, side, forward;
    Vec3_MoveTowards(&up, &c->modelUp, &hit.normal, 1.0f);
    Vec3_Normalise(&up);
    Vec3_Cross(&side, &up, &c->modelAt);
    Vec3_Cross(&forward, &side, &up);
    Vec3_Normalise(&forward);
    return (forward.y - c->modelAt.y) * f->dt >= kSlopeLimit;
}

void Animate(Object* object, EntityRecord* record, FakeTiltData* data, const SkateFrame* f)
{
    SkateCommon* c = &data->common;
    const float speed = PhysBody_GetSpeed(object->body);
    const bool onGround = (record->flags & ENTITY_ON_GROUND) != 0;
    auto current = [&] { return Vehicle_CurrentAnim(record, 0); };
    auto ended = [&] { return !Vehicle_AnimPlaying(record, 0); };

    if (current() == FAKETILT_ANIM_STARTLEVEL || current() == FAKETILT_ANIM_LOSE)
        Vehicle_PlayAnim(record, FAKETILT_ANIM_STAND, 0);
    if (onGround && record->hSpeedChange < f->dt * c->stunColVelHor) {
        if (Vehicle_PlayAnim(record, FAKETILT_ANIM_BUMP, 0)) Vehicle_PlayRandomSound(record, "impact", c->impactCount);
    }
    if (current() == FAKETILT_ANIM_BUMP && ended()) Vehicle_PlayAnim(record, FAKETILT_ANIM_STAND, 0);

    if (onGround) {
        if (current() == FAKETILT_ANIM_FALL || current() == FAKETILT_ANIM_LONGFALL) {
            Vehicle_PlayAnim(record, FAKETILT_ANIM_LAND, 0);
            if (record->vSpeedChange < f->dt * c->landColChangeReq)
                Vehicle_PlayRandomSound(record, "impact", c->impactCount);
        }
        if (current() == FAKETILT_ANIM_LAND && ended()) Vehicle_PlayAnim(record, FAKETILT_ANIM_STAND, 0);
        if (GroundAheadIsSafe(object, record, c, f)) {
            const int32_t anim = current();
            if (IsLocomotion(anim) || (anim == FAKETILT_ANIM_NEAREDGE && record->clock > data->nearEdgeHold)) {
                if (speed >= kWalkSpeed) {
                    data->locoStamp = record->clock;
                    Vehicle_PlayAnim(record, FakeTiltMode_LocomotionAnim(speed), 0);
                } else if (record->clock - data->locoStamp > kStandDelay) {
                    Vehicle_PlayAnim(record, FAKETILT_ANIM_STAND, 0);
                }
            }
        } else {
            data->nearEdgeHold = record->clock + kNearEdgeHold;
            Vehicle_PlayAnim(record, FAKETILT_ANIM_NEAREDGE, 0);
        }
    } else {
        if ((record->clock - record->landingTime > kFallDelay || current() == FAKETILT_ANIM_NEAREDGE) &&
            current() != FAKETILT_ANIM_LONGFALL)
            Vehicle_PlayAnim(record, FAKETILT_ANIM_FALL, 0);
        if (current() == FAKETILT_ANIM_FALL && ended()) {
            Vehicle_PlayAnim(record, FAKETILT_ANIM_LONGFALL, 0);
            Vehicle_PlayRandomSound(record, "fall", c->fallCount);
        }
    }
}

}  // namespace

int32_t FakeTiltMode_LocomotionAnim(float speed)
{
    if (speed >= kTumbleSpeed) return FAKETILT_ANIM_TUMBLE;
    if (speed >= kRunSpeed) return FAKETILT_ANIM_RUN;
    if (speed >= kWalkSpeed) return FAKETILT_ANIM_WALK;
    return FAKETILT_ANIM_STAND;
}

void FakeTiltMode_Load(ConfigNode* reader, void* modeData, EntityRecord* record, Object* object, int32_t pass)
{
    FakeTiltData* data = (FakeTiltData*)modeData;
    if (!reader || !data || !record) return;
    SkateCommon_Load(reader, &data->common, record, object, pass, kAnimNames, FAKETILT_ANIM_COUNT, "FakeTilt");
}

void FakeTiltMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    FakeTiltData* data = DataOf(record);
    if (!data || !object->body) return;
    SkateCommon* c = &data->common;
    SkateFrame f;
    SkateCommon_BeginFrame(object, record, c, input, &f);
    PhysBody* body = object->body;
    if (f.stickLength > kDeadZone && (record->flags & ENTITY_ON_GROUND) && !f.looking) {
        const Vec3 direction = SkateCommon_PushDirection(record, input, &f);
        SkateCommon_Push(object, record, c, input, &direction, c->forwardVelStep, &f);
    } else {
        PhysBody_DampLinearVelocity(body, &c->noInputDamping, f.dt);
    }
    SkateCommon_SlowDown(object, f.dt);
    SkateCommon_EndFrame(c, &f);
    SkateCommon_FallingDeath(object, record, &c->fallStamp, c->dieInAirVel, c->dieInAirTime);
    Animate(object, record, data, &f);

    // Dead: once per death, until the restart slot runs. A player alone
    // restarts the level; with more player entities, or for a walker of the
    // scene, only this entity starts again.
    if (Entity_GetHealth(record) <= 0.0f && !(c->state & SKATE_DEATH_HANDLED)) {
        c->state |= SKATE_DEATH_HANDLED;
        if (record->player && Level_GetNumPlayerEntities() < 2) Level_Restart(0);
        else Entity_Respawn(object, 0);
        Vehicle_PlayAnim(record, FAKETILT_ANIM_STAND, 0);
    }
    Entity_SetAnimRootOrientation(record, 0, &c->modelAt, &c->modelUp);
}

void FakeTiltMode_Restart(Object* object, EntityRecord* record, int32_t usePlayerStart)
{
    if (FakeTiltData* data = DataOf(record))
        SkateCommon_Restart(object, record, &data->common, usePlayerStart, FAKETILT_ANIM_STARTLEVEL);
}

void FakeTiltMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord*)
{
    if (FakeTiltData* data = DataOf(record)) SkateCommon_Rules(object, record, &data->common, FAKETILT_ANIM_LOSE, 1);
}

void FakeTiltMode_Collision(Object*, EntityRecord* record, Object* other, uint32_t)
{
    FakeTiltData* data = DataOf(record);
    if (!data || !other || ObjectCollision_GetEventType() != OBJECT_EVENT_CONTACT) return;
    if (!HitModeObject_GetRecord(other)) return;
    if (!HitModeObject_TestHit(other, ObjectCollision_GetImpactSpeed(), record->player, record->typeMask)) return;
    if (HitModeObject_GetTypeHash(other) == data->common.deathAreaHash && data->common.dieTime == 0.0f)
        data->common.dieTime = record->clock + Vehicle_Finite(HitModeObject_GetValue(other, 0), 0.0f);
}

void FakeTiltMode_RouteUpdate(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    if (FakeTiltData* data = DataOf(record)) SkateCommon_RouteStick(object, &data->common, input);
}

void FakeTiltMode_Free(EntityRecord* record)
{
    if (FakeTiltData* data = DataOf(record)) SkateCommon_Free(&data->common);
}
