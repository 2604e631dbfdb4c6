#include "game/modes/broomstick_mode.h"

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/config.h"
#include "common/hash.h"
#include "common/list.h"
#include "common/memory.h"
#include "common/strings.h"
#include "engine/animset.h"
#include "engine/node.h"
#include "engine/objectcollision.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/chase_camera.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/game_context.h"
#include "game/game_log.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/modes/mode_common.h"
#include "game/modes/mode_helpers.h"
#include "game/modes/skitter.h"
#include "game/modes/vehicle_common.h"
#include "game/race_setup.h"

namespace {

constexpr float kInputDelay = 0.3f;  // after a stop, and the longest camera-button tap
constexpr float kDeadZone = 0.1f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kRouteLean = 2.0f;          // a computer player's lean per radian off the route's heading
constexpr float kRoutePitch = 1.0f;         // its wanted pitch per unit of height, and stick per radian off it
constexpr float kRouteSpeedPerUnit = 1.5f;  // its wanted speed per unit of the route point's lead
constexpr float kRouteSpeedSlack = 0.5f;    // how far off that speed it lets the speed be
constexpr float kPushTime = 0.25f;
constexpr float kSmoothRate = 10.0f;  // the smoothed velocity's change per second
constexpr float kCos45 = 0.70710677f;
const Vec3 kWorldUp = {0.0f, 1.0f, 0.0f};

const char* const kAnimNames[BROOM_ANIM_COUNT] = {"fly", "fire", "stunned"};

#define BROOM_KEY(key, field, kind)                   \
    {                                                 \
        key, kind, offsetof(BroomStickData, field), 0 \
    }
const VehicleKey kKeys[] = {
    BROOM_KEY("easyScorePickupPercentReq", scoreFraction[0], VKEY_PERCENT),
    BROOM_KEY("mediumScorePickupPercentReq", scoreFraction[1], VKEY_PERCENT),
    BROOM_KEY("hardScorePickupPercentReq", scoreFraction[2], VKEY_PERCENT),
    BROOM_KEY("initHealth", initHealth, VKEY_FLOAT),
    BROOM_KEY("initNumLifes", initNumLifes, VKEY_INT),
    BROOM_KEY("totalHealth", totalHealth, VKEY_FLOAT),
    BROOM_KEY("levelCompPickupTotal", levelCompPickupTotal, VKEY_INT),
    BROOM_KEY("targetViewAngle", targetViewAngle, VKEY_VEC2_DEGREES_ABS),
    BROOM_KEY("targetViewRadius", targetViewRadius, VKEY_FLOAT),
    BROOM_KEY("levelCompArrowSpeed", levelCompArrowSpeed, VKEY_VEC2_DEGREES),
    {"noSpecialAmmo", VKEY_FLAG, offsetof(BroomStickData, flags), BROOM_NO_SPECIAL_AMMO},
    BROOM_KEY("stunColVelVer", stunColVelVer, VKEY_FLOAT),
    BROOM_KEY("stunColVelHor", stunColVelHor, VKEY_FLOAT),
    BROOM_KEY("stunPlayerAtRelAngle", stunPlayerAtRelAngle, VKEY_COS_DEGREES),
    BROOM_KEY("stunDuration", stunDuration, VKEY_FLOAT),
    BROOM_KEY("specialMoveProjectileNum", specialMoveProjectileNum, VKEY_INT),
    BROOM_KEY("forwardSpeedAccelIncPerSecRangeStart", accelStart, VKEY_FLOAT),
    BROOM_KEY("forwardSpeedAccelIncPerSecRangeEnd", accelEnd, VKEY_FLOAT),
    BROOM_KEY("forwardSpeedAccelRangePower", accelPower, VKEY_FLOAT),
    BROOM_KEY("forwardSpeedBreakDecPerSec", brakeDec, VKEY_FLOAT),
    BROOM_KEY("forwardSpeedMax", speedMax, VKEY_FLOAT),
    BROOM_KEY("forwardSpeedNoInputDecPerSec", noInputDec, VKEY_FLOAT),
    BROOM_KEY("broomMaxXRotation", maxXRotation, VKEY_DEGREES),
    BROOM_KEY("broomMinXRotation", minXRotation, VKEY_DEGREES),
    BROOM_KEY("broomMaxZRotation", maxZRotation, VKEY_DEGREES_ABS),
    BROOM_KEY("broomLeanSpeedOuterPerSec", leanOuter, VKEY_FLOAT_ABS),
    BROOM_KEY("broomLeanSpeedInnerPerSec", leanInner, VKEY_FLOAT_ABS),
    BROOM_KEY("broomPitchSpeedOuterPerSec", pitchOuter, VKEY_FLOAT_ABS),
    BROOM_KEY("broomPitchSpeedInnerPerSec", pitchInner, VKEY_FLOAT_ABS),
    BROOM_KEY("broomSlowDescentMaxVel", descentMaxVel, VKEY_FLOAT),
    BROOM_KEY("broomSlowDescentVelPower", descentVelPower, VKEY_FLOAT),
    BROOM_KEY("broomSlowDescentForwardVelRangeMax", descentSpeedRange, VKEY_FLOAT),
    BROOM_KEY("broomYRotateSpeedPerSec", yRotateSpeed, VKEY_DEGREES),
    BROOM_KEY("broomXRotateNegSpeedPerSec", xRotateNegSpeed, VKEY_DEGREES),
    BROOM_KEY("broomXRotatePosSpeedPerSec", xRotatePosSpeed, VKEY_DEGREES),
    BROOM_KEY("broomPitchLevelOffRotateSpeedMax", levelOffRotateSpeedMax, VKEY_DEGREES),
    // Scaled like an angle, as the data was tuned: a linear curve is 57.29578.
    BROOM_KEY("broomPitchLevelOffPower", levelOffPower, VKEY_DEGREES),
    BROOM_KEY("broomPitchLevelOffTimeAfterNoInput", levelOffTimeAfterNoInput, VKEY_FLOAT),
    BROOM_KEY("broomPitchLevelOffSpeedMaxVel", levelOffSpeedMaxVel, VKEY_FLOAT),
    BROOM_KEY("broomRotateDistRelYCamSpeed", rotateDistRelYCamSpeed, VKEY_FLOAT),
};
#undef BROOM_KEY

BroomStickData* DataOf(EntityRecord* record)
{
    return record && record->mode == MODE_BROOMSTICK ? (BroomStickData*)record->modeData : nullptr;
}

float Clamp(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Speed kept within 0..max (a NaN from bad data becomes 0).
float ClampSpeed(float speed, float max)
{
    if (speed > max) speed = max;
    return speed >= 0.0f ? speed : 0.0f;
}

void ReadPresets(ConfigNode* reader, const char* section, BroomStickData* data)
{
    for (int i = 0; i < 4; ++i) {
        char rail[40], slide[40], rotation[40], viewLag[40], camLag[40];
        snprintf(rail, sizeof rail, "camMode%dRailDist", i);
        snprintf(slide, sizeof slide, "camMode%dSlideMaxDist", i);
        snprintf(rotation, sizeof rotation, "camMode%dXRotation", i);
        snprintf(viewLag, sizeof viewLag, "camMode%dviewObjLagSpeed", i);
        snprintf(camLag, sizeof camLag, "camMode%dcamLagSpeed", i);
        const VehicleKey k[5] = {
            {rail, VKEY_FLOAT, offsetof(BroomCamPreset, railDist), 0},
            {slide, VKEY_FLOAT, offsetof(BroomCamPreset, slideMaxDist), 0},
            {rotation, VKEY_DEGREES, offsetof(BroomCamPreset, xRotation), 0},
            {viewLag, VKEY_VEC3_ABS, offsetof(BroomCamPreset, viewObjLagSpeed), 0},
            {camLag, VKEY_VEC3_ABS, offsetof(BroomCamPreset, camLagSpeed), 0},
        };
        VehicleKeys_Read(reader, section, k, 5, &data->presets[i], "BroomStick");
    }
}

struct Collect {
    BroomStickData* data;
};

// Keeps the level's hit-mode pickups by kind and remembers its end area.
int BroomStickMode_CollectObject(void* item, void* arg)
{
    BroomStickData* data = ((Collect*)arg)->data;
    Object* object = (Object*)item;
    if (!HitModeObject_GetRecord(object)) return 0;
    const uint32_t type = HitModeObject_GetTypeHash(object);
    if (type == data->typeHashes[OBJTYPE_ENDAREA]) {
        data->endArea = object;
        return 0;
    }
    if (type != data->typeHashes[OBJTYPE_PICKUP]) return 0;
    switch (Math_TruncToInt(HitModeObject_GetValue(object, 0))) {
    case 4:
        if (data->compPickupCount == data->compPickupCapacity) {
            uint32_t capacity = data->compPickupCapacity ? data->compPickupCapacity * 2 : 8;
            const size_t size = sizeof(Object*) * capacity;
            Object** grown = (Object**)Mem_Realloc(data->compPickups, 8, size);
            // A failed grow hands the old block back.
            if (!grown || Mem_GetSize(grown) < size) return 0;
            data->compPickups = grown;
            data->compPickupCapacity = capacity;
        }
        data->compPickups[data->compPickupCount++] = object;
        break;
    case 5: data->scorePresent++; break;
    case 7: data->hiddenPresent++; break;
    default: break;
    }
    return 0;
}

void TakePickup(Object* object, EntityRecord* record, BroomStickData* data, Object* pickup)
{
    const float v1 = Vehicle_Finite(HitModeObject_GetValue(pickup, 1), 0.0f);
    switch (Math_TruncToInt(HitModeObject_GetValue(pickup, 0))) {
    case 3: Entity_AddHealth(record, v1); break;
    case 4:
        if (data->compCollected < data->levelCompPickupTotal) {
            data->compCollected++;
            // Stepped by the count, not from the current animation, so a
            // pickup taken while the area is still moving cannot leave it on
            // an in-between animation. An area with fewer steps than the
            // level has pickups goes no further than its waiting animation:
            // the trigger, the loop and the finish are the run's to play.
            if (Object* area = data->endArea) {
                const int32_t waiting = (int32_t)HitModeObject_GetAnimCount(area) - 4;
                const int32_t step = 2 * data->compCollected;
                if (step <= waiting) {
                    HitModeObject_PlayIndex(area, step - 1, 1, record->player);
                    HitModeObject_ChooseNext(area, step);
                } else if (HitModeObject_GetAnimIndex(area) < waiting) {
                    HitModeObject_PlayIndex(area, waiting, 1, record->player);
                }
            }
        }
        break;
    case 5: {
        Vec3 at = Vehicle_BodyPosition(pickup);
        if (pickup->node) Node_GetWorldPosition(pickup->node, &at);
        if (!BroomStick_OpenPopup(data, Math_TruncToInt(v1), &at))
            data->score = Math_AddClamped(data->score, Math_TruncToInt(v1));
        data->scoreCollected++;
        if (data->scoreCollected >= Math_TruncToInt((float)data->scorePresent * data->scoreFractionRequired))
            data->flags |= BROOM_REQUIREMENT;
        break;
    }
    case 6:
        if (data->endArea) {
            // The last animation stays: a switch still pending from the
            // trigger animation would otherwise take the area back to N - 2.
            const int32_t last = (int32_t)HitModeObject_GetAnimCount(data->endArea) - 1;
            HitModeObject_PlayIndex(data->endArea, last, 1, record->player);
            HitModeObject_ChooseNext(data->endArea, last);
        }
        break;
    case 7: {
        Vec3 at = Vehicle_BodyPosition(pickup);
        if (pickup->node) Node_GetWorldPosition(pickup->node, &at);
        if (!BroomStick_OpenPopup(data, Math_TruncToInt(v1), &at))
            data->score = Math_AddClamped(data->score, Math_TruncToInt(v1));
        data->hiddenCollected++;
        if (data->hiddenCollected >= data->hiddenPresent) data->flags |= BROOM_REQUIREMENT;
        break;
    }
    case 11:
        ProjType_AddAmmo(&data->weapons, Math_TruncToInt(v1), Math_TruncToInt(HitModeObject_GetValue(pickup, 2)));
        break;
    default: break;
    }
    (void)object;
}

// A Skitter met at a weak spot is hurt when one of our damage areas meets
// it there too, and pushes us back by its own value either way.
void FightSkitter(Object* object, EntityRecord* record, BroomStickData* data, Object* other)
{
    EntityRecord* theirs = Entity_GetRecord(other);
    SkitterData* skitter = theirs && theirs->mode == MODE_SKITTER ? Skitter_Data(theirs) : nullptr;
    if (!skitter) return;
    Vec3 contact, theirAt = {0.0f, 0.0f, 1.0f}, theirUp = {0.0f, 1.0f, 0.0f};
    ObjectCollision_GetContactPoint(&contact);
    if (!Entity_GetAnimRootOrientation(theirs, 0, &theirAt, &theirUp))
        PhysBody_GetAxes(other->body, &theirAt, &theirUp);
    const Vec3 theirPosition = Vehicle_BodyPosition(other), position = Vehicle_BodyPosition(object);
    float weak1 = 0.0f, weak2 = 0.0f;
    if (!ColArea_HitTest(&skitter->areas, &theirPosition, &contact, &theirAt, &theirUp, COLAREA_WEAK,
                         Entity_GetAnimSlotValue(theirs, 0), &weak1, &weak2))
        return;
    Vec3 at, up, toThem, toUs;
    BroomStick_Frame(data, &at, &up);
    Vec3_Sub(&toThem, &theirPosition, &position);
    Vec3_Normalise(&toThem);
    Vec3_Scale(&toUs, &toThem, -1.0f);
    float damage1 = 0.0f, damage2 = 0.0f;
    if (ColArea_HitTest(&data->areas, &position, &contact, &at, &up, COLAREA_DAMAGE, Entity_GetAnimSlotValue(record, 0),
                        &damage1, &damage2))
        ControlMode_CollisionHelper(other, theirs, weak1 * damage1, &toThem, damage2, 0.0f, object, 0);
    BroomStickMode_TakeHit(object, record, 0.0f, &toUs, weak2, 0.0f);
}

void ReleaseHeld(BroomStickData* data, Object* owner)
{
    for (BroomHeld& h : data->held) {
        if (h.projectile) Projectile_Release(h.projectile, owner);
        h = BroomHeld{};
    }
}

}  // namespace

void BroomStick_Frame(const BroomStickData* data, Vec3* at, Vec3* up)
{
    Vec3 a = {0.0f, 0.0f, 1.0f}, u = kWorldUp, right;
    Vec3_RotateAxis(&a, &a, &u, -data->yaw);
    Vec3_Cross(&right, &u, &a);
    Vec3_RotateAxis(&a, &a, &right, -data->pitch);
    Vec3_Cross(&u, &a, &right);
    Vec3_RotateAxis(&u, &u, &a, data->roll);
    *at = *Vec3_Normalise(&a);
    *up = *Vec3_Normalise(&u);
}

void BroomStick_ApplyPreset(BroomStickData* data, uint32_t preset)
{
    const BroomCamPreset& p = data->presets[preset & 3];
    ChaseCamera_SetDistance(data->camera, p.railDist);
    ChaseCamera_SetSlideMaxDist(data->camera, p.slideMaxDist);
    ChaseCamera_SetViewObjLagPosSpeed(data->camera, &p.viewObjLagSpeed);
    ChaseCamera_SetViewObjLagNegSpeed(data->camera, &p.viewObjLagSpeed);
    ChaseCamera_SetCamLagPosSpeed(data->camera, &p.camLagSpeed);
    ChaseCamera_SetCamLagNegSpeed(data->camera, &p.camLagSpeed);
}

int BroomStick_OpenPopup(BroomStickData* data, int32_t value, const Vec3* world)
{
    if (value == 0) return 1;
    for (BroomPopup& p : data->popups) {
        if (p.flags & BROOM_POPUP_ACTIVE) continue;
        p = BroomPopup{};
        p.flags = BROOM_POPUP_ACTIVE | BROOM_POPUP_PROJECT;
        p.serial = ++data->popupSerial;
        p.value = value;
        snprintf(p.text, sizeof p.text, "%d", value);
        p.vx = Game_RandomUnit() * 20.0f;
        p.vy = Game_RandomUnit() * 20.0f;
        p.world = *world;
        return 1;
    }
    return 0;
}

void BroomStickMode_Load(ConfigNode* reader, void* modeData, EntityRecord* record, Object* object, int32_t pass)
{
    BroomStickData* data = (BroomStickData*)modeData;
    if (!reader || !data || !record) return;
    char section[64], path[96];
    Vehicle_SectionName(pass, section, sizeof section);
    if (pass == 0) {
        data->initHealth = 100.0f;
        data->initNumLifes = 10;
        data->totalHealth = 100.0f;
        data->accelPower = 1.0f;
        data->descentVelPower = 1.0f;
        data->levelOffPower = 1.0f;
        for (uint32_t t = 0; t < OBJTYPE_COUNT; ++t) data->typeHashes[t] = ObjectType_GetHash(t);
        data->endTriggerHash = ObjectEvent_GroupHash("ENDAREATRIGGER");
        if (record->player) Player_SetUserWord((int)record->player - 1, nullptr);
        ProjType_Free(&data->weapons);
        ColArea_Free(&data->areas);
        Mem_FreeSlot(&data->camera);
        // The level's pickups and end area are found afresh: each counts
        // once however often the record is loaded.
        data->compPickupCount = 0;
        data->scorePresent = data->hiddenPresent = 0;
        data->endArea = nullptr;
        Collect collect = {data};
        if (List* objects = Level_GetObjectList()) List_ForEach(objects, BroomStickMode_CollectObject, &collect);
        if (data->endArea && HitModeObject_GetAnimCount(data->endArea) < 4) {
            GameLog_Printf(
                "BroomStick: the end area has %u animations, fewer than the four its sequence needs; "
                "it is ignored",
                HitModeObject_GetAnimCount(data->endArea));
            data->endArea = nullptr;
        }
    }
    ControlDataCache_Acquire(kAnimNames, BROOM_ANIM_COUNT, record, 0);
    VehicleKeys_Read(reader, section, kKeys, sizeof kKeys / sizeof kKeys[0], data, "BroomStick");
    ReadPresets(reader, section, data);
    if (Vehicle_ReadTypeList(reader, section, "entityTypeToAttack", &data->attackMask, "BroomStick"))
        data->flags |= BROOM_ATTACK_TYPES;
    snprintf(path, sizeof path, "%s::genCamData", section);
    ChaseCamera_LoadConfig(reader, &data->camera, path);
    snprintf(path, sizeof path, "%s::projectiles", section);
    ProjType_Load(&data->weapons, reader, path);
    snprintf(path, sizeof path, "%s::colAreas", section);
    ColArea_Load(reader, path, &data->areas);
    Mode_LoadRoute(reader, &data->route, object, pass);
}

void BroomStickMode_Route(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    BroomStickData* data = DataOf(record);
    Vec3 steering;
    if (!data || !Mode_SteerByRoute(&data->route, object, record, input, &steering)) return;
    Vec3 at, up, point, position = Mode_BodyPosition(object);
    BroomStick_Frame(data, &at, &up);
    Node_GetWorldPosition(data->route.item, &point);
    const float error = Angle_Diff(Vec3_Heading(&at), Vec3_Heading(&steering), 1, 1);
    input->stickX = Clamp(error * kRouteLean, -1.0f, 1.0f);
    // A pitch above 0 dives: the nose goes up while the route lies higher.
    const float pitch = Clamp(-steering.y * kRoutePitch, data->minXRotation, data->maxXRotation);
    input->stickY = Clamp((pitch - data->pitch) * kRoutePitch, -1.0f, 1.0f);
    // The speed follows the route point's distance ahead: it closes in and
    // keeps behind it, and brakes while the point lies behind.
    const float ahead = std::fabs(error) < kHalfPi ? std::hypot(point.x - position.x, point.z - position.z) : 0.0f;
    const float wanted = std::fmin(ahead * kRouteSpeedPerUnit, data->speedMax);
    if (data->speed < wanted - kRouteSpeedSlack) input->buttons |= BROOM_BUTTON_ACCELERATE;
    else if (data->speed > wanted + kRouteSpeedSlack) input->buttons |= BROOM_BUTTON_BRAKE;
}

void BroomStickMode_Update(Object*, EntityRecord* record, PlayerInputRecord* input)
{
    BroomStickData* data = DataOf(record);
    if (!data) return;
    const float dt = Game_GetFrameTime();
    if (record->clock - data->stopTime < kInputDelay) return;
    const uint32_t buttons = input->buttons, pressed = input->buttons & ~input->oldButtons;
    float stickX = input->stickX, stickY = input->stickY;

    // Camera presets: a tap of the camera button; the stick reads zero while it is held.
    if (buttons & BROOM_BUTTON_CAMERA) {
        stickX = stickY = 0.0f;
        if (pressed & BROOM_BUTTON_CAMERA) data->cameraButtonTime = record->clock;
    } else if ((input->oldButtons & BROOM_BUTTON_CAMERA) && record->clock - data->cameraButtonTime < kInputDelay) {
        data->camPreset = (data->camPreset + 1) & 3;
        BroomStick_ApplyPreset(data, data->camPreset);
    }

    // Target switching: a visible entry nearer or farther than the current target.
    if (data->target && (pressed & (BROOM_BUTTON_NEARER | BROOM_BUTTON_FARTHER))) {
        if (pressed & BROOM_BUTTON_NEARER) {
            for (int i = (int)BROOM_TARGETS - 1; i >= 0; --i) {
                const BroomTarget& t = data->live[i];
                if (t.object && t.visible && t.object != data->target && t.distanceSq < data->targetDistanceSq) {
                    data->target = t.object;
                    data->targetDistanceSq = t.distanceSq;
                    break;
                }
            }
        } else {
            for (uint32_t i = 0; i < BROOM_TARGETS; ++i) {
                const BroomTarget& t = data->live[i];
                if (t.object && t.visible && t.object != data->target && t.distanceSq > data->targetDistanceSq) {
                    data->target = t.object;
                    data->targetDistanceSq = t.distanceSq;
                    break;
                }
            }
        }
        data->flags &= ~BROOM_LOCK_TIMER;
    }

    if (pressed & BROOM_BUTTON_FIRE) Vehicle_PlayAnim(record, BROOM_ANIM_FIRE, 0);

    // Speed along the acceleration curve; the brake.
    if (data->speedMax != 0.0f) {
        if (buttons & BROOM_BUTTON_ACCELERATE) {
            float t = data->speedMax > 0.0f ? data->speed / data->speedMax : 0.0f;
            data->speed += dt * (data->accelStart + (data->accelEnd - data->accelStart) *
                                                        Math_Pow(Clamp(t, 0.0f, 1.0f), data->accelPower));
            data->flags |= BROOM_SPEED_INPUT;
        }
        if (buttons & BROOM_BUTTON_BRAKE) {
            data->speed -= dt * data->brakeDec;
            data->flags |= BROOM_SPEED_INPUT;
        }
        data->speed = ClampSpeed(data->speed, data->speedMax);
    }
    if (std::fabs(stickX) > kDeadZone || std::fabs(stickY) > kDeadZone) data->flags |= BROOM_STICK_INPUT;

    // Lean and pitch inputs follow the stick: outward at the outer rate, back
    // at the inner rate, at once to 0 when the stick crosses over.
    auto follow = [dt](float value, float stick, float outer, float inner) {
        if ((value > kDeadZone && stick < -kDeadZone) || (value < -kDeadZone && stick > kDeadZone)) value = 0.0f;
        float rate = std::fabs(stick) > std::fabs(value) ? outer : inner;
        return Clamp(Math_MoveTowards(value, stick, dt * rate), -1.0f, 1.0f);
    };
    data->lean = follow(data->lean, stickX, data->leanOuter, data->leanInner);
    data->pitchInput = follow(data->pitchInput, stickY, data->pitchOuter, data->pitchInner);
}

void BroomStick_Fly(Object* object, EntityRecord* record, BroomStickData* data, float dt)
{
    PhysBody* body = object->body;
    Vec3 at, up;
    BroomStick_Frame(data, &at, &up);

    // 1. A push holds the body for 0.25 s; the smoothed velocity takes it
    // over, so the broom hands back to its own flight smoothly afterwards.
    if (data->runState & BROOM_PUSHING) {
        if (record->clock - data->pushTime > kPushTime) {
            data->runState &= ~BROOM_PUSHING;
            data->pushVelocity = Vec3{0.0f, 0.0f, 0.0f};
        } else {
            PhysBody_SetLinearVelocity(body, &data->pushVelocity);
            PhysBody_SetFriction(body, 0.0f);
            data->smoothVelocity = data->pushVelocity;
        }
    }
    // 2. Target velocity along the broom; slow brooms sink.
    Vec3_Scale(&data->targetVelocity, &at, data->speed);
    if (data->speed < data->descentSpeedRange) {
        float t = 1.0f - data->speed / data->descentSpeedRange;
        data->targetVelocity.y -= Math_Pow(t, data->descentVelPower) * data->descentMaxVel;
    }
    // 3. The smoothed velocity moves toward it by at most 10 units/s per second.
    if (!(data->runState & BROOM_PUSHING)) {
        Vec3 d;
        Vec3_Sub(&d, &data->targetVelocity, &data->smoothVelocity);
        float length = std::sqrt(Vec3_LengthSq(&d)), step = dt * kSmoothRate;
        if (length <= step) data->smoothVelocity = data->targetVelocity;
        else Vec3_Add(&data->smoothVelocity, &data->smoothVelocity, Vec3_Scale(&d, &d, step / length));
    }
    PhysBody_SetLinearVelocity(body, &data->smoothVelocity);
    // 4. Speed runs down without input.
    if (!(data->flags & BROOM_SPEED_INPUT)) data->speed -= dt * data->noInputDec;
    data->speed = ClampSpeed(data->speed, data->speedMax);
    // 5. Pitch, yaw and roll from the inputs.
    data->pitch += dt * (data->pitchInput >= 0.0f ? data->xRotatePosSpeed : data->xRotateNegSpeed) * data->pitchInput;
    data->yaw = std::fmod(data->yaw + dt * data->yRotateSpeed * data->lean, 6.2831855f);
    data->roll = Math_MoveTowards(data->roll, data->maxZRotation * data->lean, dt);
    // 6. Levelling off a while after the last stick input, below a speed.
    if (data->flags & BROOM_STICK_INPUT) data->lastInputTime = record->clock;
    if (record->clock - data->lastInputTime > data->levelOffTimeAfterNoInput && data->levelOffSpeedMaxVel != 0.0f &&
        data->speed < data->levelOffSpeedMaxVel) {
        float t = Clamp(data->speed / data->levelOffSpeedMaxVel, 0.0f, 1.0f);
        float rate = (1.0f - Math_Pow(t, data->levelOffPower)) * data->levelOffRotateSpeedMax;
        data->pitch = Math_MoveTowards(data->pitch, 0.0f, dt * rate);
    }
    // 7. Limits.
    data->pitch = Clamp(data->pitch, data->minXRotation, data->maxXRotation);
    data->roll = Clamp(data->roll, -data->maxZRotation, data->maxZRotation);
    if (!std::isfinite(data->pitch)) data->pitch = 0.0f;
    if (!std::isfinite(data->yaw)) data->yaw = 0.0f;
    if (!std::isfinite(data->roll)) data->roll = 0.0f;
    // 8. The rider's orientation.
    BroomStick_Frame(data, &at, &up);
    if (Node* rider = Entity_GetAnimObject(record, 0)) Node_SetWorldOrientation(rider, &at, &up);
    data->flags &= ~(BROOM_SPEED_INPUT | BROOM_STICK_INPUT);
}

void BroomStickMode_TakeHit(Object* object, EntityRecord* record, float healthChange, const Vec3* direction, float push,
                            float verticalLimit)
{
    BroomStickData* data = DataOf(record);
    if (!data || !std::isfinite(healthChange)) return;
    const float now = record->clock;
    const bool stunOver = now > data->lastStunTime + data->stunDuration;
    if (stunOver) Entity_AddHealth(record, healthChange);
    const bool alive = Entity_GetHealth(record) > 0.0f;
    if (alive && push != 0.0f && direction && std::isfinite(push)) {
        Vec3_Scale(&data->pushVelocity, direction, push);
        float limit = std::fabs(verticalLimit);
        data->pushVelocity.y = Clamp(data->pushVelocity.y, -limit, limit);
        data->pushTime = now;
        data->runState |= BROOM_PUSHING;
    }
    if (stunOver && healthChange != 0.0f && alive) {
        Vehicle_PlayAnim(record, BROOM_ANIM_STUNNED, 0);
        data->lastStunTime = now;
        ProjType_SelectPrevious(&data->weapons, 1, 0);
    }
    (void)object;
}

void BroomStickMode_CountHit(int32_t score, Object* object, Object* other, int count, int weaponEvent)
{
    EntityRecord* record = Entity_GetRecord(object);
    BroomStickData* data = DataOf(record);
    if (!data || !record->player) return;
    if (count) {
        data->hitCount++;
        if (weaponEvent) ProjType_SelectNext(&data->weapons, 1, 0);
    }
    if (score == 0) return;
    Vec3 at = Vehicle_BodyPosition(other);
    if (other && other->node) Node_GetWorldPosition(other->node, &at);
    if (!BroomStick_OpenPopup(data, score, &at)) data->score = Math_AddClamped(data->score, score);
}

void BroomStickMode_Restart(Object* object, EntityRecord* record, int32_t fullRestart)
{
    BroomStickData* data = DataOf(record);
    if (!data) return;
    data->flags &= ~BROOM_RESTORE_CAMERA;
    Entity_SetFlags(record, ENTITY_ALIVE, 1);
    Object_SetFlags(object, OBJECT_SHADOW_ALWAYS, 1);
    data->runState &= ~(BROOM_PUSHING | BROOM_RUN_COMPLETE);
    data->pushVelocity = Vec3{0.0f, 0.0f, 0.0f};
    memset(data->pending, 0, sizeof data->pending);
    memset(data->live, 0, sizeof data->live);
    data->scanIndex = 0;
    data->target = nullptr;
    data->flags &= ~BROOM_LOCK_TIMER;
    const BroomCamPreset& preset = data->presets[data->camPreset & 3];
    ChaseCamera_SetViewObjLagPosSpeed(data->camera, &preset.viewObjLagSpeed);
    ChaseCamera_SetViewObjLagNegSpeed(data->camera, &preset.viewObjLagSpeed);
    data->lastStunTime = -data->stunDuration;
    Entity_SetHealth(record, data->initHealth, data->totalHealth);
    ProjType_ResetWeapons(&data->weapons);
    if (data->flags & BROOM_NO_SPECIAL_AMMO) ProjType_SetAmmo(&data->weapons, data->specialMoveProjectileNum, 0);

    const int player = (int)record->player - 1;
    if (fullRestart) {
        Route_Reset(&data->route, nullptr, 0);
        data->lives = Game_GetHiddenFlag() ? 99 : data->initNumLifes;
        data->score = 0;
        data->compCollected = 0;
        data->scoreCollected = data->hiddenCollected = 0;
        data->flags &= ~BROOM_REQUIREMENT;
        data->hitCount = 0;
        if (data->endArea) HitModeObject_PlayIndex(data->endArea, 0, 1, 0);
    }
    uint32_t difficulty = record->player ? GameSetup_GetPlayerDifficulty(player) : 0;
    data->scoreFractionRequired = difficulty == 1   ? data->scoreFraction[1]
                                  : difficulty == 2 ? data->scoreFraction[2]
                                                    : data->scoreFraction[0];
    const uint32_t rule = Level_GetGameRule();
    if ((rule == RULE_SCORE_PICKUPS && data->scorePresent == 0) ||
        (rule == RULE_HIDDEN_PICKUPS && data->hiddenPresent == 0))
        data->flags |= BROOM_REQUIREMENT;

    ReleaseHeld(data, object);
    if (Level_GetNumPlayerEntities() == 1) Projectile_ClearAll();
    Vehicle_PlayAnim(record, BROOM_ANIM_FLY, 0);
    if (fullRestart) Vehicle_ClearCheckpoint(record);
    for (BroomPopup& p : data->popups) p.flags = 0;
    data->smoothVelocity = data->targetVelocity = Vec3{0.0f, 0.0f, 0.0f};
    data->lean = data->pitchInput = 0.0f;
}

void BroomStickMode_Collision(Object* object, EntityRecord* record, Object* other, uint32_t side)
{
    BroomStickData* data = DataOf(record);
    if (!data || !other) return;
    const uint32_t* h = data->typeHashes;
    const Vec3 position = Vehicle_BodyPosition(object);
    // The impact a typed object is hit with, as Man_CamRel's: a contact's
    // speed (1.0 against a body-less object), 1.0 from the proximity walk of
    // body-less objects, and 0 from a phantom overlap, which has no contact.
    float impact = HitModeObject_ByProximity() ? 1.0f : 0.0f;

    if (!Projectile_GetRecord(other)) {
        if (ObjectCollision_GetEventType() == OBJECT_EVENT_CONTACT) {
            Vec3 n = kWorldUp;
            impact = 1.0f;
            if (other->body) {
                ObjectCollision_GetContactNormal(&n);
                impact = ObjectCollision_GetImpactSpeed();
            }
            if (side == 0) Vec3_Scale(&n, &n, -1.0f);
            Vec3 at, up;
            BroomStick_Frame(data, &at, &up);
            // Flying into a surface stops the broom.
            if (Vec3_Dot(&at, &n) > kCos45) data->speed = 0.0f;
            FightSkitter(object, record, data, other);
        }
    } else {
        const uint32_t type = Projectile_GetHitType(other);
        if (type == h[OBJTYPE_DAMAGE] || type == h[OBJTYPE_SPECIAL_DAMAGE]) {
            float damage = Projectile_GetHitValue(other, 0);
            const float push = Projectile_GetHitValue(other, 1), limit = Projectile_GetHitValue(other, 2);
            if (Projectile_GetOwner(other) == object) damage = Projectile_GetHitValue(other, 3);
            const Vec3 from = Vehicle_BodyPosition(other);
            Vec3 at, up;
            BroomStick_Frame(data, &at, &up);
            float factor = 0.0f;
            AnimSet* set = record->animSlotCount ? record->animSlots[0].set : nullptr;
            if (other->body &&
                ColArea_HitTest(&data->areas, &position, &from, &at, &up, COLAREA_WEAK, set, &factor, nullptr)) {
                Vec3 direction;
                Vec3_Sub(&direction, &position, &from);
                Vec3_Normalise(&direction);
                BroomStickMode_TakeHit(object, record, factor * damage, &direction, push, limit);
            }
        } else if (type == h[OBJTYPE_HEALTH]) {
            const float amount = Vehicle_Finite(Projectile_GetHitValue(other, 0), 0.0f);
            if (Entity_GetHealth(record) + amount <= data->totalHealth || data->lives >= 99) {
                Entity_AddHealth(record, amount);
            } else {
                Entity_SetHealth(record, data->initHealth, data->totalHealth);
                data->lives++;
            }
            Projectile_OnHit(other, Projectile_GetOwner(other));
        } else if (type == h[OBJTYPE_SCORE]) {
            data->score = Math_AddClamped(data->score, Math_TruncToInt(Projectile_GetHitValue(other, 0)));
            Projectile_OnHit(other, Projectile_GetOwner(other));
        }
    }

    // Typed level objects, on the first contact of the pair.
    if (ObjectCollision_IsTouching() || !HitModeObject_GetRecord(other)) return;
    const int32_t index = HitModeObject_GetStandingIndex(other);
    if (!HitModeObject_TestHit(other, impact, record->player, record->typeMask)) return;
    const uint32_t type = HitModeObject_GetTypeHash(other);
    if (type == h[OBJTYPE_PICKUP]) {
        if (index == 0) TakePickup(object, record, data, other);
    } else if (type == h[OBJTYPE_SPRINGBOARD]) {
        Vec3 up = Vehicle_ObjectUp(other);
        Vec3_Scale(&data->pushVelocity, &up, Vehicle_Finite(HitModeObject_GetValue(other, 0), 0.0f));
        data->pushTime = record->clock;
        data->runState |= BROOM_PUSHING;
    } else if (type == h[OBJTYPE_CHECKPOINT]) {
        Vehicle_TakeCheckpoint(record, other);
    } else if (type == h[OBJTYPE_DEATHAREA]) {
        Vec3 up = Vehicle_ObjectUp(other);
        BroomStickMode_TakeHit(object, record, -HitModeObject_GetValue(other, 0), &up, HitModeObject_GetValue(other, 1),
                               1000.0f);
    } else if (type == h[OBJTYPE_HITANIMCHANGE]) {
        if (index == 0) {
            HitModeObject_PlayIndex(other, 1, 1, record->player);
            HitModeObject_ChooseNext(other, 0);
        }
    }
}

void BroomStickMode_Free(EntityRecord* record)
{
    BroomStickData* data = DataOf(record);
    if (!data) return;
    ProjType_Free(&data->weapons);
    ColArea_Free(&data->areas);
    Mem_FreeSlot(&data->camera);
    Mem_Free(data->compPickups);
    data->compPickups = nullptr;
    data->compPickupCount = data->compPickupCapacity = 0;
    Route_Free(&data->route);
}

void BroomStickMode_Detach(EntityRecord* record)
{
    BroomStickData* data = DataOf(record);
    if (!data) return;
    // The pool these came from is gone already: forget them, release nothing.
    memset(data->held, 0, sizeof data->held);
    memset(data->pending, 0, sizeof data->pending);
    memset(data->live, 0, sizeof data->live);
    data->scanIndex = 0;
    data->target = nullptr;
    data->flags &= ~BROOM_LOCK_TIMER;
    data->compPickupCount = 0;
    data->endArea = nullptr;
}

void BroomStickMode_Message(AnimSet* set, const char* message, Node* node, int32_t phase, float, float)
{
    Object* owner = (Object*)AnimSet_GetObject(set);
    EntityRecord* record = Entity_GetRecord(owner);
    BroomStickData* data = DataOf(record);
    if (!data || !message) return;
    if (phase == 1) {
        for (BroomHeld& h : data->held) {
            if (h.projectile && h.node) {
                Projectile_Release(h.projectile, owner);
                h = BroomHeld{};
                break;
            }
        }
        return;
    }
    if (phase != 0) return;
    char copy[256];
    snprintf(copy, sizeof copy, "%s", message);
    char* words[6];
    int count = String_Tokenise(copy, words, 6, ",");
    if (count > 6) count = 6;
    for (int i = 0; i < count; ++i) {
        while (*words[i] == ' ' || *words[i] == '\t') ++words[i];
        for (size_t n = strlen(words[i]); n && (words[i][n - 1] == ' ' || words[i][n - 1] == '\t');) words[i][--n] = 0;
    }
    if (count == 0) return;
    if (strcmp(words[0], "Message") == 0) {
        ObjectEvent_ParseMessage(words, count, record->player);
        return;
    }
    if (strcmp(words[0], "ProjType") != 0) return;
    Weapon* weapon = nullptr;
    if (count > 1) {
        char* end = nullptr;
        long slot = strtol(words[1], &end, 10);
        if (end != words[1] && slot >= 0 && slot < INT32_MAX)
            weapon = ProjType_GetWeapon(&data->weapons, (int32_t)slot);
    }
    if (!weapon) weapon = ProjType_GetCurrentWeapon(&data->weapons, nullptr);
    if (!weapon) return;
    Object* shot = Projectile_Spawn(weapon, owner, &data->weapons);
    if (!shot) return;
    Vec3 position = Vehicle_BodyPosition(owner), at, up;
    BroomStick_Frame(data, &at, &up);
    if (node) {
        Node_GetWorldPosition(node, &position);
        Node_GetWorldOrientation(node, &at, &up);
    }
    if (Projectile_GetModeIndex(shot) == PROJMODE_FRAME_FOLLOW) {
        Projectile_SetLaunchNode(node);
        for (BroomHeld& h : data->held) {
            if (h.projectile) continue;
            h = BroomHeld{shot, set, node};
            break;
        }
    } else if (data->target) {
        Projectile_SetLaunchNode(data->target->node);
    }
    Projectile_Launch(shot, &position, &at, &up, owner, owner->body);
}
