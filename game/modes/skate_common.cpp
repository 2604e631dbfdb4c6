#include "game/modes/skate_common.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

#include "app/config.h"
#include "app/soundbank.h"
#include "common/hash.h"
#include "engine/animset.h"
#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physray.h"
#include "game/chase_camera.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/entity_hud.h"
#include "game/game_context.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/modes/vehicle_common.h"

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kFloorProbe = 10.0f;       // length of the floor ray
constexpr float kAirAlignTime = 0.25f;     // in the air this long: the model turns to world up
constexpr float kCameraFrameRate = 10.0f;  // the camera's copy of the frame turns to the floor this fast
constexpr float kSpinDamping = 6.0f;       // angular y damping per second
constexpr float kSpeedFloor = 0.01f;
constexpr float kTurnGain = 120.0f;
constexpr float kDeadZone = 0.15f;
constexpr float kLookTurn = 25.0f * VEHICLE_DEG_TO_RAD;
constexpr float kLookTurnSpeed = 90.0f * VEHICLE_DEG_TO_RAD;
constexpr float kLookPitch = 50.0f * VEHICLE_DEG_TO_RAD;
constexpr float kFollowTurnSpeed = 0.7f * 25.0f * VEHICLE_DEG_TO_RAD;
constexpr float kPushRoll = 25.0f * VEHICLE_DEG_TO_RAD;
constexpr float kPushPitch = 10.0f * VEHICLE_DEG_TO_RAD;
constexpr int32_t kHudStartSlot = 7;

const Vec3 kWorldUp = {0.0f, 1.0f, 0.0f};

#define SKATE_KEY(name, kind)                       \
    {                                               \
#name, kind, offsetof(SkateCommon, name), 0 \
    }
const VehicleKey kSharedKeys[] = {
    SKATE_KEY(forwardVelStep, VKEY_FLOAT),
    SKATE_KEY(noInputDamping, VKEY_VEC3),
    SKATE_KEY(runDamping, VKEY_VEC3),
    SKATE_KEY(dieInAirVel, VKEY_FLOAT),
    SKATE_KEY(dieInAirTime, VKEY_FLOAT),
    SKATE_KEY(stunColVelHor, VKEY_FLOAT),
    SKATE_KEY(distForEdgePanic, VKEY_FLOAT),
    SKATE_KEY(orientToFloorSpeed, VKEY_FLOAT),
    SKATE_KEY(fallingLagDistMultiply, VKEY_FLOAT),
};
const VehicleKey kNoiseKeys[] = {
    SKATE_KEY(faintNoiseColChange, VKEY_FLOAT),
    SKATE_KEY(mediumNoiseColChange, VKEY_FLOAT),
    SKATE_KEY(loudNoiseColChange, VKEY_FLOAT),
    SKATE_KEY(landColChangeReq, VKEY_FLOAT),
};
#undef SKATE_KEY

// forward rebuilt perpendicular to up: (up x forward) x up, normalised. A
// forward along up keeps the previous one.
void Reorthogonalise(Vec3* forward, const Vec3* up)
{
    Vec3 side, f;
    Vec3_Cross(&side, up, forward);
    Vec3_Cross(&f, &side, up);
    if (Vec3_LengthSq(&f) > 1e-12f) *forward = *Vec3_Normalise(&f);
}

// Turns a frame's up toward target by Vec3_MoveTowards and rebuilds its forward.
void TurnFrame(Vec3* forward, Vec3* up, const Vec3* target, float step)
{
    Vec3 u;
    Vec3_MoveTowards(&u, up, target, step);
    if (Vec3_LengthSq(&u) < 1e-12f) return;
    *up = *Vec3_Normalise(&u);
    Reorthogonalise(forward, up);
}

}  // namespace

void SkateCommon_Load(ConfigNode* reader, SkateCommon* data, EntityRecord* record, Object* object, int32_t pass,
                      const char* const* animNames, uint32_t animCount, const char* modeName)
{
    char section[64];
    Vehicle_SectionName(pass, section, sizeof section);
    if (pass == 0) {
        Route_LoadConfig(reader, section, object, &data->route, 1);
        Mem_FreeSlot(&data->camera);
    } else {
        Route_LoadConfig(reader, section, object, &data->route, 0);
    }
    ControlDataCache_Acquire(animNames, animCount, record, 0);
    VehicleKeys_Read(reader, section, kSharedKeys, sizeof kSharedKeys / sizeof kSharedKeys[0], data, modeName);
    // A section without the noise keys turns the collision noises off.
    data->faintNoiseColChange = data->mediumNoiseColChange = -1000.0f;
    data->loudNoiseColChange = data->landColChangeReq = -1000.0f;
    VehicleKeys_Read(reader, section, kNoiseKeys, sizeof kNoiseKeys / sizeof kNoiseKeys[0], data, modeName);
    char path[128];
    snprintf(path, sizeof path, "%s::genCamData", section);
    ChaseCamera_LoadConfig(reader, &data->camera, path);
    for (int i = 0; i < 4; ++i) {
        char key[64];
        snprintf(key, sizeof key, "camMode%dRailDist", i);
        VehicleKey k[2] = {{nullptr, VKEY_FLOAT, 0, 0}, {nullptr, VKEY_DEGREES, 0, 0}};
        char key2[64];
        snprintf(key2, sizeof key2, "camMode%dXRotation", i);
        k[0].name = key;
        k[1].name = key2;
        k[1].offset = sizeof(float);
        VehicleKeys_Read(reader, section, k, 2, &data->camModes[i], modeName);
    }
    data->loseCount = SoundBank_CountName("lose", record->soundGroup);
    data->winCount = SoundBank_CountName("win", record->soundGroup);
    data->impactCount = SoundBank_CountName("impact", record->soundGroup);
    data->fallCount = SoundBank_CountName("fall", record->soundGroup);
}

void SkateCommon_Free(SkateCommon* data)
{
    Mem_FreeSlot(&data->camera);
    Route_Free(&data->route);
}

float SkateCommon_CameraRoll(float heading, const Vec3* up)
{
    // Math_RotatedElevation turns the vector by minus its angle, which adds
    // the heading instead of taking it off: seen along +x or -x the roll
    // would come out mirrored. Passing the negated heading measures the up
    // vector in the camera's own side plane at every heading.
    float roll = Math_RotatedElevation(-heading, up);
    return Angle_Diff(0.0f, roll, 1, 1);
}

void SkateCommon_BeginFrame(Object* object, EntityRecord* record, SkateCommon* data, const PlayerInputRecord* input,
                            SkateFrame* f)
{
    *f = SkateFrame{};
    f->dt = Game_GetFrameTime();
    const float dt = f->dt;
    PhysBody* body = object->body;
    const Vec3 position = Vehicle_BodyPosition(object);

    // 1. The camera and the floor below.
    f->cameraFrame = Vehicle_CameraFrame(record);
    f->cameraHeading = ChaseCamera_GetAngleY(data->camera);
    if (f->cameraFrame) {
        Vec3 at, up;
        Node_GetWorldOrientation(f->cameraFrame, &at, &up);
        f->cameraHeading = Vec3_Heading(&at);
    }
    PhysRayHit hit;
    const Vec3 down = {0.0f, -1.0f, 0.0f};
    f->floorHit = PhysWorld_CastRayDir(ObjectWorld_GetPhysicsWorld(), &hit, &position, &down, kFloorProbe);
    f->floorPoint = f->floorHit ? hit.point : position;
    f->floorNormal = f->floorHit ? hit.normal : kWorldUp;

    // 2. The model turns its up to the floor (to world up after a while in
    // the air); the camera's copy of the frame turns faster and gives the
    // camera's pitch and roll along its heading.
    if (Vec3_LengthSq(&data->modelUp) < 1e-6f || Vec3_LengthSq(&data->modelAt) < 1e-6f) {
        data->modelAt = {0.0f, 0.0f, 1.0f};
        data->modelUp = kWorldUp;
    }
    const bool airborne = record->clock - record->landingTime >= kAirAlignTime;
    TurnFrame(&data->modelAt, &data->modelUp, airborne ? &kWorldUp : &f->floorNormal, dt * data->orientToFloorSpeed);
    Vec3 camUp = data->modelUp;
    Vec3 camAt = {std::sin(f->cameraHeading), 0.0f, std::cos(f->cameraHeading)};
    {
        Vec3 scratchAt = data->modelAt;
        TurnFrame(&scratchAt, &camUp, &f->floorNormal, dt * kCameraFrameRate);
    }
    Reorthogonalise(&camAt, &camUp);
    Math_DirToAngles(&f->pitch, nullptr, &camAt);
    f->roll = SkateCommon_CameraRoll(f->cameraHeading, &camUp);

    // 3. Spin about the vertical dies away.
    Vec3 w = {0.0f, 0.0f, 0.0f};
    PhysBody_GetAngularVelocity(body, &w);
    w.y *= 1.0f - kSpinDamping * dt;
    PhysBody_SetAngularVelocity(body, &w);

    // 4. The model swings toward its travel direction, faster at speed.
    PhysBody_GetLinearVelocity(body, &f->velocity);
    Vec3 h = {f->velocity.x, 0.0f, f->velocity.z};
    f->speed = std::sqrt(h.x * h.x + h.z * h.z);
    if (f->speed < kSpeedFloor) f->speed = 0.0f;
    if (f->speed != 0.0f) {
        float d = Angle_Diff(Vec3_Heading(&data->modelAt), Vec3_Heading(&h), 1, 1);
        float gain = record->maxVelocity > 0.0f ? f->speed / record->maxVelocity * dt * kTurnGain : 1.0f;
        if (gain > 1.0f) gain = 1.0f;
        Vec3 turned;
        Vec3_RotateAxis(&turned, &data->modelAt, &data->modelUp, -gain * d);
        data->modelAt = turned;
        Reorthogonalise(&data->modelAt, &data->modelUp);
    }

    // 5. Camera preset, look-around, follow.
    ChaseCamera* cam = data->camera;
    f->stickLength = std::sqrt(input->stickX * input->stickX + input->stickY * input->stickY);
    if ((input->buttons & SKATE_BUTTON_CAMERA) && !(input->oldButtons & SKATE_BUTTON_CAMERA)) {
        data->camMode = (data->camMode + 1) & 3;
        ChaseCamera_SetDistance(cam, data->camModes[data->camMode].railDist);
    }
    ChaseCamera_SetRotateSpeedX(cam, 4.0f * ChaseCamera_GetAngleXError(cam, 0));
    ChaseCamera_AddAngleY(cam, 0.0f);
    f->looking = (input->buttons & SKATE_BUTTON_LOOK) != 0;
    if (f->looking) {
        if (f->stickLength > kDeadZone) {
            if (std::fabs(input->stickX) > kDeadZone) {
                ChaseCamera_AddAngleY(cam, input->stickX * -kLookTurn);
                ChaseCamera_SetRotateSpeedY(cam, input->stickX * -kLookTurnSpeed);
            }
            if (std::fabs(input->stickY) > kDeadZone) f->pitch -= input->stickY * kLookPitch;
        }
    } else {
        ChaseCamera_SetRotateSpeedY(cam, f->speed * kFollowTurnSpeed);
        ChaseCamera_SetAngleY(cam, Vec3_Heading(&data->modelAt));
    }
}

Vec3 SkateCommon_PushDirection(const EntityRecord* record, const PlayerInputRecord* input, const SkateFrame* frame)
{
    Vec3 d = {input->stickX, 0.0f, input->stickY};
    if (!(record->flags & ENTITY_ROUTE_DRIVEN)) Vec3_RotateAxis(&d, &d, &kWorldUp, -frame->cameraHeading);
    d.y = 0.0f;
    Vec3_Normalise(&d);
    return d;
}

void SkateCommon_Push(Object* object, const EntityRecord* record, const SkateCommon* data,
                      const PlayerInputRecord* input, const Vec3* direction, float step, SkateFrame* frame)
{
    Vec3 v, push;
    PhysBody_GetLinearVelocity(object->body, &v);
    Vec3_Scale(&push, direction, frame->dt * step * frame->stickLength);
    Vec3_Add(&v, &v, &push);
    PhysBody_SetLinearVelocity(object->body, &v);
    PhysBody_DampLinearVelocity(object->body, &data->runDamping, frame->dt);
    if (!record->player || (record->flags & ENTITY_ROUTE_DRIVEN)) return;
    frame->roll -= input->stickX * kPushRoll;
    frame->pitch += input->stickY * kPushPitch;
}

void SkateCommon_SlowDown(Object* object, float dt)
{
    const Vec3 friction = {1.5f, 0.0f, 1.5f};
    PhysBody_ApplyFriction(object->body, &friction, dt);
}

void SkateCommon_EndFrame(SkateCommon* data, const SkateFrame* frame)
{
    ChaseCamera_SetAngleZ(data->camera, frame->roll);
    ChaseCamera_SetAngleX(data->camera, frame->pitch - data->camModes[data->camMode & 3].xRotation);
}

int SkateCommon_FallingDeath(Object* object, EntityRecord* record, float* fallStamp, float dieInAirVel,
                             float dieInAirTime)
{
    if (record->flags & ENTITY_ON_GROUND) {
        *fallStamp = record->clock;
        return 0;
    }
    if (Vehicle_BodyVelocity(object).y >= dieInAirVel) *fallStamp = record->clock;
    if (record->clock - *fallStamp > dieInAirTime) {
        Entity_SetHealth(record, 0.0f, 100.0f);
        return 1;
    }
    return 0;
}

namespace {

// The "start" animation of a restart after a death: HUD slot 7's set runs
// with the frame time (nothing else advances HUD sets) while the entity is
// frozen; when it ends the slot is hidden and the entity moves again.
void RunStartAnimation(Object* object, EntityRecord* record, SkateCommon* data, float dt)
{
    if (!(data->state & SKATE_START_PLAYING)) return;
    EntityHudAnimSlot* slot = Entity_GetHudAnimSlot(record, kHudStartSlot);
    if (slot && slot->set && AnimSet_Advance(slot->set, dt, ANIMSET_ADVANCE_ONCE)) return;
    if (slot && slot->node) Node_SetFlags(slot->node, NODE_HIDDEN, 1);
    data->state &= ~SKATE_START_PLAYING;
    Entity_SetPhysicsActive(object, 0);
}

}  // namespace

void SkateCommon_Rules(Object* object, EntityRecord* record, SkateCommon* data, int32_t loseAnim, uint32_t placedSlots)
{
    const float dt = Game_GetFrameTime();
    RunStartAnimation(object, record, data, dt);
    if (!record->player) return;
    ChaseCamera* cam = data->camera;
    Node* cameraFrame = Vehicle_CameraFrame(record);
    Node* model = Entity_GetAnimObject(record, 0);

    // 1. Camera.
    if (cameraFrame) {
        ChaseCamera_FollowObject(cam, model);
        ChaseCamera_Update(cam, cameraFrame, dt);
    }
    // 2. The die time has come: the lose path starts.
    if (data->dieTime != 0.0f && record->clock > data->dieTime && Vehicle_CurrentAnim(record, 0) != loseAnim)
        Entity_SetFlags(record, ENTITY_FLAGGED, 1);
    // 3. Speed gauge.
    EntityHudAnimSlot* gauge = Entity_GetHudAnimSlot(record, 0);
    if (gauge && gauge->set && record->maxVelocity > 0.0f) {
        float speed = PhysBody_GetSpeed(object->body);
        if (speed > record->maxVelocity) speed = record->maxVelocity;
        AnimSet_SetTime(gauge->set, speed / record->maxVelocity * AnimSet_GetLength(gauge->set));
    }
    // 4. Collision noise: one sound per blow, none again until a frame without one.
    float blow = record->hSpeedChange < record->vSpeedChange ? record->hSpeedChange : record->vSpeedChange;
    if ((record->flags & ENTITY_TOUCHED) && blow < dt * data->faintNoiseColChange) {
        if (!data->noiseLatch) {
            if (blow < dt * data->loudNoiseColChange) SoundBank_Play("orbHit", 1, 2, 1.0f, 0, model);
            else if (blow < dt * data->mediumNoiseColChange) SoundBank_Play("orbHit", 1, 1, 1.0f, 0, model);
        }
        data->noiseLatch = 1;
    } else {
        data->noiseLatch = 0;
    }
    // 5. HUD.
    char text[32];
    if (Level_GetNumPlayerEntities() <= 1) {
        if (data->respawnCount) {
            snprintf(text, sizeof text, "%u", data->respawnCount);
            Entity_ShowTextString(record, 1, text);
        } else {
            Entity_ShowTextString(record, 1, "");
        }
    } else {
        snprintf(text, sizeof text, "P%u", record->player);
        Entity_ShowTextString(record, 0, text);
    }
    // 6. Lose flag: the lose animation and sound, frozen.
    if (record->flags & ENTITY_FLAGGED) {
        Vehicle_PlayAnim(record, loseAnim, 0);
        Vehicle_PlayRandomSound(record, "lose", data->loseCount);
        Entity_SetPhysicsActive(object, 1);
        Entity_SetFlags(record, ENTITY_FLAGGED, 0);
    }
    // 7. Placed (creation, respawn): camera and model to the start orientation.
    if (record->flags & ENTITY_ALIVE) {
        ChaseCamera_FollowObject(cam, model);
        Vec3 angles = {0.0f, 0.0f, 0.0f};
        ChaseCamera_GetVector(cam, &angles);
        angles.y = Vec3_Heading(&record->startAt);
        float distance = data->camModes[data->camMode & 3].railDist;
        ChaseCamera_Reset(cam, cameraFrame, &angles, &distance);
        data->modelAt = record->startAt;
        data->modelUp = record->startUp;
        for (uint32_t i = 0; i < placedSlots; ++i)
            Entity_SetAnimRootOrientation(record, i, &record->startAt, &record->startUp);
        Entity_SetFlags(record, ENTITY_ALIVE, 0);
    }
    // 8. While losing the camera turns to face the model; when the animation
    // has ended the level restarts, once for this death.
    if (Vehicle_CurrentAnim(record, 0) == loseAnim) {
        Vec3 facing;
        Vec3_RotateAxis(&facing, &data->modelAt, &data->modelUp, kPi);
        float x = 0.0f, y = 0.0f;
        Math_DirToAngles(&x, &y, &facing);
        ChaseCamera_SetAngleX(cam, x);
        ChaseCamera_SetAngleY(cam, y);
        ChaseCamera_SetAngleZ(cam, SkateCommon_CameraRoll(y, &data->modelUp));
        ChaseCamera_SetRotateSpeedY(cam, kPi);
        ChaseCamera_SetRotateSpeedX(cam, kPi * 0.25f);
        ChaseCamera_SetRotateSpeedZ(cam, kPi * 0.25f);
        ChaseCamera_SetDistance(cam, 3.0f);
        const Vec3 zero = {0.0f, 0.0f, 0.0f};
        ChaseCamera_SetViewObjOffset(cam, &zero);
        if (!Vehicle_AnimPlaying(record, 0) && !(data->state & SKATE_DEATH_HANDLED)) {
            data->state |= SKATE_DEATH_HANDLED;
            Level_Restart(0);
        }
    }
}

void SkateCommon_Restart(Object* object, EntityRecord* record, SkateCommon* data, int32_t usePlayerStart,
                         int32_t startAnim)
{
    EntityHudAnimSlot* start = Entity_GetHudAnimSlot(record, kHudStartSlot);
    data->state = 0;
    if (!usePlayerStart) {
        data->respawnCount++;
        if (start) {
            if (start->node) Node_SetFlags(start->node, NODE_HIDDEN, 0);
            if (start->set) {
                AnimSet_Play(start->set, "start");
                AnimSet_SetTime(start->set, 0.0f);
            }
            Entity_SetPhysicsActive(object, 1);
            data->state |= SKATE_START_PLAYING;
        }
    } else {
        data->respawnCount = 0;
        if (start && start->node) Node_SetFlags(start->node, NODE_HIDDEN, 1);
    }
    data->fallStamp = record->clock;
    data->scratch[0] = data->scratch[1] = 0;
    Vehicle_PlayAnim(record, startAnim, 0);
    Level_SetFlags(1, 0);
    Object_SetFlags(object, OBJECT_SHADOW_ALWAYS, 1);
    data->deathAreaHash = Name_Hash("DEATH_AREA", 1, 1);
    data->dieTime = 0.0f;
    data->modelAt = record->startAt;
    data->modelUp = record->startUp;
    Route_Reset(&data->route, object->body, 0);
}

void SkateCommon_RouteStick(Object* object, SkateCommon* data, PlayerInputRecord* input)
{
    Vec3 position = Vehicle_BodyPosition(object);
    Vec3 steering = {0.0f, 0.0f, 0.0f};
    Route_Update(&steering, &data->route, &position, nullptr, nullptr, nullptr);
    input->stickX = steering.x;
    input->stickY = steering.z;
}
