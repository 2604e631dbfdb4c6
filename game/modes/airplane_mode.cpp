#include "game/modes/airplane_mode.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

#include "common/hash.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/chase_camera.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/entity_hud.h"
#include "game/game_context.h"
#include "game/level_session.h"
#include "game/modes/skate_common.h"
#include "game/modes/vehicle_common.h"

namespace {

constexpr float kHalfPi = 1.5707964f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kDeadZone = 0.1f;
constexpr float kTurnThreshold = 0.1f;  // differences this small add no turn
constexpr float kCameraPitch = 10.0f * VEHICLE_DEG_TO_RAD;

const char* const kAnimNames[AIRPLANE_ANIM_COUNT] = {"stand", "thrust", "jumpin", "fly", "land", "jump"};

#define PLANE_KEY(name, kind)                        \
    {                                                \
#name, kind, offsetof(AirPlaneData, name), 0 \
    }
const VehicleKey kKeys[] = {
    PLANE_KEY(engineRelYAngVelMult, VKEY_FLOAT), PLANE_KEY(engineRelYAngVelMax, VKEY_FLOAT),
    PLANE_KEY(groundDamping, VKEY_VEC3),         PLANE_KEY(groundAngDamping, VKEY_VEC3),
    PLANE_KEY(flightDamping, VKEY_VEC3),         PLANE_KEY(flightAngDamping, VKEY_VEC3),
    PLANE_KEY(engineSlowDownRate, VKEY_FLOAT),   PLANE_KEY(engineSpeedUpRate, VKEY_FLOAT),
    PLANE_KEY(enginePowerMax, VKEY_FLOAT),       PLANE_KEY(enginePowerMin, VKEY_FLOAT),
};
#undef PLANE_KEY

AirPlaneData* DataOf(EntityRecord* record) { return record ? (AirPlaneData*)record->modeData : nullptr; }

void BodyAttitude(Object* object, float* pitch, float* heading, float* roll, Vec3* at, Vec3* up)
{
    *at = {0.0f, 0.0f, 1.0f};
    *up = {0.0f, 1.0f, 0.0f};
    PhysBody_GetAxes(object->body, at, up);
    AirPlaneMode_Attitude(at, up, pitch, heading, roll);
}

}  // namespace

void AirPlaneMode_Attitude(const Vec3* at, const Vec3* up, float* pitch, float* heading, float* roll)
{
    Math_DirToAngles(pitch, heading, at);
    *roll = SkateCommon_CameraRoll(*heading, up);
}

void AirPlaneMode_Load(ConfigNode* reader, void* modeData, EntityRecord* record, Object*, int32_t pass)
{
    AirPlaneData* data = (AirPlaneData*)modeData;
    if (!reader || !data || !record) return;
    if (pass == 0) {
        data->engineRelYAngVelMult = 1.0f;
        data->engineRelYAngVelMax = 100.0f;
        data->pickupHash = Name_Hash("PICKUP", 1, 1);
    }
    ControlDataCache_Acquire(kAnimNames, AIRPLANE_ANIM_COUNT, record, 0);
    char section[64], path[96];
    Vehicle_SectionName(pass, section, sizeof section);
    VehicleKeys_Read(reader, section, kKeys, sizeof kKeys / sizeof kKeys[0], data, "AirPlane");
    snprintf(path, sizeof path, "%s::genCamData", section);
    ChaseCamera_LoadConfig(reader, &data->camera, path);
}

void AirPlaneMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    AirPlaneData* data = DataOf(record);
    if (!data) return;
    const float dt = Game_GetFrameTime();
    Vehicle_PlayAnim(record, AIRPLANE_ANIM_LAND, 0);

    if (input->buttons & AIRPLANE_BUTTON_POWER_UP) data->enginePower += dt * data->engineSpeedUpRate;
    if (input->buttons & AIRPLANE_BUTTON_POWER_DOWN) data->enginePower -= dt * data->engineSlowDownRate;
    if (data->enginePower > data->enginePowerMax) data->enginePower = data->enginePowerMax;
    if (data->enginePower < data->enginePowerMin) data->enginePower = data->enginePowerMin;

    // The stick moves a target only while the body is within a quarter turn of it.
    if (std::fabs(input->stickX) > kDeadZone &&
        std::fabs(Angle_Diff(data->heading, data->targetHeading, 1, 1)) < kHalfPi) {
        data->targetHeading = std::fmod(data->targetHeading - dt * input->stickX, kTwoPi);
        if (data->targetHeading < 0.0f) data->targetHeading += kTwoPi;
    }
    if (std::fabs(input->stickY) > kDeadZone && std::fabs(data->pitch - data->targetPitch) < kHalfPi)
        data->targetPitch -= dt * input->stickY;

    if (input->buttons & AIRPLANE_BUTTON_LEAVE) {
        Vehicle_PlayAnim(record, AIRPLANE_ANIM_STAND, 0);
        // Only a plane that was taken over has someone to hand control back to.
        if (record->heldFrom) Entity_PlaceHeld(record->heldFrom, object);
    }
}

void AirPlaneMode_Restart(Object* object, EntityRecord* record, int32_t)
{
    AirPlaneData* data = DataOf(record);
    if (!data || !object->body) return;
    Vec3 at, up;
    BodyAttitude(object, &data->targetPitch, &data->targetHeading, &data->targetRoll, &at, &up);
}

void AirPlaneMode_RulesUpdate(Object* object, EntityRecord* record, PlayerInputRecord*)
{
    AirPlaneData* data = DataOf(record);
    if (!data || !object->body) return;
    const float dt = Game_GetFrameTime();
    Vec3 at, up;
    BodyAttitude(object, &data->pitch, &data->heading, &data->roll, &at, &up);
    ChaseCamera* cam = data->camera;
    ChaseCamera_SetAngleX(cam, data->pitch - kCameraPitch);
    ChaseCamera_SetAngleY(cam, data->heading);
    ChaseCamera_SetAngleZ(cam, data->roll);

    if (record->player) {
        Node* cameraFrame = Vehicle_CameraFrame(record);
        if (cameraFrame) {
            ChaseCamera_FollowObject(cam, Entity_GetAnimObject(record, 0));
            ChaseCamera_Update(cam, cameraFrame, dt);
        }
        if (record->flags & ENTITY_ALIVE) {
            Vec3 angles = {0.0f, 0.0f, 0.0f};
            AirPlaneMode_Attitude(&record->startAt, &record->startUp, &angles.x, &angles.y, &angles.z);
            ChaseCamera_Reset(cam, cameraFrame, &angles, nullptr);
            Entity_SetFlags(record, ENTITY_ALIVE, 0);
        }
    }

    // Angular velocity toward the target attitude, about the plane's own axes.
    Vec3 w = {0.0f, 0.0f, 0.0f}, axis, term;
    const float dPitch = data->targetPitch - data->pitch;
    const float dHeading = Angle_Diff(data->heading, data->targetHeading, 1, 1);
    const float dRoll = Angle_Diff(data->roll, data->targetRoll, 1, 1);
    if (std::fabs(dPitch) > kTurnThreshold) {
        Vec3_Cross(&axis, &up, &at);
        Vec3_Add(&w, &w, Vec3_Scale(&term, &axis, -dPitch));
    }
    // A positive angular velocity about up turns the nose from +z toward +x,
    // which raises the heading: the heading term is the difference itself
    // (its negation would turn the plane away from its target for ever).
    if (std::fabs(dHeading) > kTurnThreshold) Vec3_Add(&w, &w, Vec3_Scale(&term, &up, dHeading));
    if (std::fabs(dRoll) > kTurnThreshold) Vec3_Add(&w, &w, Vec3_Scale(&term, &at, -dRoll));
    PhysBody_SetAngularVelocity(object->body, &w);

    data->speed += (data->pitch - kHalfPi) * data->glide;
    float lift = data->speed - data->liftOffset;
    if (lift > data->liftMax) lift = data->liftMax;
    if (lift < data->liftMin) lift = data->liftMin;
    Vec3 v;
    Vec3_Scale(&v, &at, data->speed);
    v.y += lift;
    PhysBody_SetLinearVelocity(object->body, &v);
}

void AirPlaneMode_Free(EntityRecord* record)
{
    if (AirPlaneData* data = DataOf(record)) Mem_FreeSlot(&data->camera);
}
