// Man_CamRel: the movement slot. The player's input record becomes walking
// and jumping relative to the chase camera, the camera is steered by hand,
// cycles its modes and homing targets, and the fire, close-attack,
// special-move and possession animations start here; the animation state
// machine and the damping follow in the rules slot of the next frame.
#include <cmath>
#include <initializer_list>

#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/entity_hud.h"
#include "game/level_session.h"
#include "game/modes/man_camrel.h"
#include "game/modes/mode_common.h"

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kManualCameraStep = 0.43633232f;  // 25 degrees
constexpr float kStickCameraStep = 2.0943952f;    // 120 degrees
constexpr float kCameraTap = 0.3f;
constexpr float kFreezeGuard = 0.3f;

bool In(int32_t anim, std::initializer_list<int32_t> list)
{
    for (int32_t a : list)
        if (a == anim) return true;
    return false;
}

bool IsAttackOrSwipe(int32_t anim)
{
    return In(anim, {MCR_CLOSE_ATTACK1, MCR_CLOSE_ATTACK1_FINISH, MCR_CLOSE_ATTACK2, MCR_CLOSE_ATTACK2_FINISH,
                     MCR_SWIPE1, MCR_SWIPE2, MCR_SWIPE3});
}

void SetCameraLags(ManCamRelData* d, const ManCamRelCamMode& m, bool inAir)
{
    const Vec3& view = inAir ? m.viewObjLagSpeedInAir : m.viewObjLagSpeedOnGround;
    const Vec3& cam = inAir ? m.camLagSpeedInAir : m.camLagSpeedOnGround;
    ChaseCamera_SetViewObjLagPosSpeed(d->camera, &view);
    ChaseCamera_SetViewObjLagNegSpeed(d->camera, &view);
    ChaseCamera_SetCamLagPosSpeed(d->camera, &cam);
    ChaseCamera_SetCamLagNegSpeed(d->camera, &cam);
}

// Steps 5.1 to 5.5: the camera by hand, its reset, the target choice, the
// slide limit and the camera mode.
void UpdateCamera(ManCamRelData* d, EntityRecord* record, const PlayerInputRecord* input, Node* frame,
                  const Vec3& at, float cx, float cy, float dt, float now)
{
    ChaseCamera* camera = d->camera;
    const ManCamRelCamMode& mode = d->camModes[d->camMode];

    if (std::sqrt(cx * cx + cy * cy) <= 0.1f) {
        d->camPitch += dt * 10.0f * Angle_Diff(d->camPitch, mode.xRotation, 1, 1);
    } else {
        if (std::fabs(cx) > 0.1f) {
            ChaseCamera_AddAngleY(camera, cx * kManualCameraStep);
            ChaseCamera_SetRotateSpeedY(camera, cx * d->manualCamSpeed[1]);
        }
        if (std::fabs(cy) > 0.1f) {
            d->camPitch -= dt * kManualCameraStep * cy;
            if (camera) d->camPitch = ChaseCamera_ClampAngleX(camera, d->camPitch);
            ChaseCamera_SetRotateSpeedX(camera, cy * d->manualCamSpeed[0]);
        }
        d->flags |= MCR_MANUAL_CAMERA;
    }

    if ((d->flags & MCR_CAM_RESET_ALLOW) && Mode_Pressed(input, MCR_BUTTON_CAMERA_RESET) && record->player) {
        Vec3 defaults = {0, 0, 0};
        ChaseCamera_GetVector(camera, &defaults);
        d->camPitch = defaults.x;
        float heading = 0.0f;
        Math_DirToAngles(nullptr, &heading, &at);
        Vec3 angles = {defaults.x, heading, defaults.z};
        float distance = mode.railDist;
        ChaseCamera_Reset(camera, frame, &angles, &distance);
    }

    if (d->target) {
        int chosen = -1;
        if (Mode_Pressed(input, MCR_BUTTON_TARGET_PREVIOUS)) {
            for (int i = MCR_CANDIDATES - 1; i >= 0 && chosen < 0; --i)
                if (d->active[i].object && d->activeVisible[i] && d->active[i].value < d->targetValue) chosen = i;
        } else if (Mode_Pressed(input, MCR_BUTTON_TARGET_NEXT)) {
            for (int i = 0; i < MCR_CANDIDATES && chosen < 0; ++i)
                if (d->active[i].object && d->activeVisible[i] && d->active[i].value > d->targetValue) chosen = i;
        }
        if (chosen >= 0) {
            d->target = d->active[chosen].object;
            d->targetValue = d->active[chosen].value;
            d->flags &= ~MCR_TARGET_HIDDEN;
        }
    }

    if (!(d->flags & MCR_MANUAL_CAMERA)) {
        if (record->player) {
            float distance = ChaseCamera_GetDistanceTo(camera, frame);
            if (ChaseCamera_GetSlideMaxDist(camera) < distance) {
                float limit = distance >= mode.railDist ? mode.slideMaxDist
                                                        : std::fmin(distance - 0.3f, mode.slideMaxDist);
                ChaseCamera_SetSlideMaxDist(camera, limit);
            }
        }
    } else {
        ChaseCamera_SetSlideMaxDist(camera, 0.0f);
    }

    if (!Mode_Held(input, MCR_BUTTON_CAMERA) && (input->oldButtons & MCR_BUTTON_CAMERA) &&
        now - d->camButtonTime < kCameraTap) {
        d->camMode = (d->camMode + 1) % MCR_CAMERA_MODES;
        const ManCamRelCamMode& next = d->camModes[d->camMode];
        ChaseCamera_SetDistance(camera, next.railDist);
        ChaseCamera_SetAngleX(camera, next.xRotation);
        ChaseCamera_SetSlideMaxDist(camera, next.slideMaxDist);
        ChaseCamera_SetTiltTarget(camera, &next.camTilt);
        if (!(record->flags & ENTITY_ON_GROUND)) {
            SetCameraLags(d, next, true);
            d->airLagTime = now;
        } else if (now - d->airLagTime > 0.2f) {
            SetCameraLags(d, next, false);
        }
    }
    if (Mode_Pressed(input, MCR_BUTTON_CAMERA)) d->camButtonTime = now;
}

}  // namespace

void ManCamRelMode_Route(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    ManCamRelData* d = ManCamRel_Data(record);
    Vec3 steering;
    if (d && Mode_SteerByRoute(&d->route, object, record, input, &steering))
        Mode_StickAlong(input, steering, record->player);
}

Weapon* ManCamRel_SpecialWeapon(ManCamRelData* d)
{
    Weapon* w = d ? ProjType_GetWeapon(&d->weapons, d->specialMoveProjectileNum) : nullptr;
    if (!w || ((w->flags & WEAPON_LIMITED) && w->ammo <= 0)) return nullptr;
    return w;
}

void ManCamRelMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    ManCamRelData* d = ManCamRel_Data(record);
    if (!d || !input || !object) return;
    const float dt = Mode_FrameTime();
    const float now = Entity_GetTime(record);
    const bool onGround = (record->flags & ENTITY_ON_GROUND) != 0;
    const bool animated = record->animSlotCount > 0;
    float sx = input->stickX, sy = input->stickY;
    float cx = input->stick2X, cy = input->stick2Y;
    d->flags |= MCR_NO_INPUT;
    if (d->camMode < 0 || d->camMode >= MCR_CAMERA_MODES) d->camMode = 0;

    if (now - d->freezeTime < kFreezeGuard) return;
    int32_t anim = Mode_Anim(record);
    if (anim == MCR_DIE_IN_AIR || anim == MCR_DEAD) return;

    if (Mode_Held(input, MCR_BUTTON_CAMERA)) {
        cx = sx;
        cy = sy;
        sx = sy = 0.0f;
    }

    Vec3 at, up;
    Mode_Facing(object, record, &at, &up);
    ChaseCamera_AddAngleY(d->camera, 0.0f);

    Vec3 cameraAt = {0.0f, 0.0f, 1.0f};
    if (Node* frame = Mode_CameraFrame(record->player)) {
        Vec3 cameraUp;
        Node_GetWorldOrientation(frame, &cameraAt, &cameraUp);
        UpdateCamera(d, record, input, frame, at, cx, cy, dt, now);
    }

    // Fire, close attack and special move.
    anim = Mode_Anim(record);
    if (Mode_Pressed(input, MCR_BUTTON_FIRE) && (d->flags & MCR_WEAPONS_ALLOW) && !IsAttackOrSwipe(anim) &&
        anim != MCR_SPECIAL_MOVE)
        Mode_Play(record, MCR_FIRE);
    anim = Mode_Anim(record);
    if (Mode_Pressed(input, MCR_BUTTON_ATTACK) && (d->flags & MCR_SWORD_ALLOW) && anim != MCR_FIRE &&
        anim != MCR_SPECIAL_MOVE) {
        if (!onGround) {
            Mode_Play(record, MCR_CLOSE_ATTACK_IN_AIR);
        } else if (d->flags & MCR_SWIPE_ARMED) {
            int32_t variant = d->swipeVariant < 0 ? 0 : (d->swipeVariant > 2 ? 2 : d->swipeVariant);
            Mode_Play(record, MCR_SWIPE1 + variant);
        } else if (anim != MCR_CLOSE_ATTACK1 && anim != MCR_CLOSE_ATTACK2) {
            Mode_Play(record, MCR_CLOSE_ATTACK1);
            d->flags &= ~MCR_ATTACK_QUEUED;
        } else {
            d->flags |= MCR_ATTACK_QUEUED;
        }
    }
    anim = Mode_Anim(record);
    if (Mode_Pressed(input, MCR_BUTTON_SPECIAL) && anim != MCR_SPECIAL_MOVE && ManCamRel_SpecialWeapon(d))
        Mode_Play(record, MCR_SPECIAL_MOVE);

    // Walking relative to the camera.
    anim = Mode_Anim(record);
    bool skip = In(anim, {MCR_DROWN, MCR_DEAD, MCR_CLOSE_ATTACK1_FINISH, MCR_CLOSE_ATTACK2_FINISH});
    if (In(anim, {MCR_CLOSE_ATTACK1, MCR_CLOSE_ATTACK2, MCR_SWIPE1, MCR_SWIPE2, MCR_SWIPE3, MCR_SPECIAL_MOVE})) {
        float age = Mode_AnimAge(record);
        if (!(age >= d->swordTurnStartTime && age < d->swordTurnEndTime)) skip = true;
    }
    const float s = std::sqrt(sx * sx + sy * sy);
    Vec3 v = {0, 0, 0};
    PhysBody_GetLinearVelocity(object->body, &v);
    if (!skip && s > 0.1f) {
        Vec3 direction;
        if (anim != MCR_FIRE && anim != MCR_PUSH && anim != MCR_BUMP) {
            if (std::fabs(sx) > 0.1f) {
                ChaseCamera_AddAngleY(d->camera, sx * kStickCameraStep);
                float error = ChaseCamera_GetAngleYError(d->camera, 0) / kPi;
                float speed = d->joyRelYCamSpeedMult * Math_Pow(error, d->joyRelYCamSpeedPowerOf);
                ChaseCamera_SetRotateSpeedY(d->camera, std::fmin(speed, d->joyRelYCamSpeedMax));
            }
            const Vec3 stick = {sx, 0.0f, sy};
            direction = Mode_TurnAboutUp(stick, -Vec3_Heading(&cameraAt));
            d->wantedHeading = Vec3_Heading(&direction);
            float turn = dt * d->changeDirTurnSpeed * s * Angle_Diff(Vec3_Heading(&at), d->wantedHeading, 1, 1);
            Vec3 turned;
            Vec3_RotateAxis(&turned, &at, &up, -turn);
            if (Mode_IsFinite(turned) && Vec3_LengthSq(&turned) > 0.0f) at = turned;
        } else {
            Vec3 f = at;
            if (anim == MCR_PUSH && Vec3_LengthSq(&d->pushDir) > 0.0f) f = d->pushDir;
            Vec3_Scale(&direction, &f, s);
        }
        float step;
        if (onGround)
            step = dt * d->forwardVelStep * Math_Pow(s, 6.0f);
        else if (record->flags & ENTITY_TOUCHED)
            step = dt * d->forwardVelStepInAirWithCol * s;
        else
            step = dt * d->forwardVelStepInAir * s;
        if (anim == MCR_FIRE) step = 0.0f;
        d->wantedDir = direction;

        Vec3 unit = Mode_Unit(direction);
        Vec3 next = {v.x + unit.x * step, 0.0f, v.z + unit.z * step};
        next.x -= d->platformVel.x;
        next.z -= d->platformVel.z;
        float limit = onGround ? d->maxRunSpeed : d->maxInAirSpeed;
        float length = Mode_HorizontalLength(next);
        if (length > limit) {
            float k = limit > 0.0f ? limit / length : 0.0f;
            next.x *= k;
            next.z *= k;
        }
        next.x += d->platformVel.x;
        next.z += d->platformVel.z;
        next.y = v.y;
        if (Mode_IsFinite(next)) {
            PhysBody_SetLinearVelocity(object->body, &next);
            v = next;
        }
        d->flags &= ~MCR_NO_INPUT;
    }

    // Jump and double jump.
    if (Mode_Pressed(input, MCR_BUTTON_JUMP)) {
        anim = Mode_Anim(record);
        const bool grounded = In(anim, {MCR_STAND, MCR_WALK, MCR_WALK_BACK, MCR_RUN, MCR_PUSH, MCR_WADING, MCR_LAND,
                                        MCR_SKID}) ||
                              !animated;
        if (now - record->landingTime < d->jumpTimeSinceGroundAllow && grounded) {
            v.y = d->jumpVel;
            PhysBody_SetLinearVelocity(object->body, &v);
            Mode_Play(record, MCR_JUMPIN);
            d->flags |= MCR_JUMPED;
        } else if ((d->flags & MCR_DOUBLE_JUMP_ALLOW) && (d->flags & MCR_JUMPED) && !(d->flags & MCR_DOUBLE_JUMPED) &&
                   !(record->waterDepth > 0.0f) && (anim == MCR_JUMP || anim == MCR_JUMPIN) &&
                   v.y > d->doubleJumpAllowMinYVel && v.y < d->doubleJumpAllowMaxYVel) {
            v.y = d->doubleJumpVel;
            PhysBody_SetLinearVelocity(object->body, &v);
            Mode_Play(record, MCR_DOUBLEJUMP);
            d->flags |= MCR_DOUBLE_JUMPED;
        }
    }

    // Water: damage when deep, wading and swimming.
    const float depth = record->waterDepth;
    if (depth > d->waterDamageHeight * record->vehicleHeight) Entity_AddHealth(record, -dt * d->waterDamagePerSec);
    anim = Mode_Anim(record);
    const bool waterAnims = !animated ||
                            In(anim, {MCR_STAND, MCR_WALK, MCR_WALK_BACK, MCR_RUN, MCR_LAND, MCR_JUMP, MCR_WADING,
                                      MCR_SWIM_FORWARD, MCR_SKID, MCR_PUSH}) ||
                            (anim == MCR_CHANGE_DIRECTION && Mode_AnimFinished(record));
    if (waterAnims) {
        if (onGround) {
            if (s >= 0.1f) {
                if (depth > 0.0f && depth >= d->waterWadeHeight)
                    Mode_Play(record, MCR_WADING);
                else
                    d->flags |= MCR_MOVING;
            }
        } else if (depth > 0.0f && depth > d->waterWadeHeight) {
            Mode_Play(record, MCR_SWIM_FORWARD);
        }
    }

    if (Mode_Anim(record) == MCR_CHANGE_DIRECTION && Mode_AnimFinished(record) && !(d->flags & MCR_MOVING))
        Mode_Play(record, MCR_STAND);

    anim = Mode_Anim(record);
    if (Mode_Held(input, MCR_BUTTON_ATTACK) && anim != MCR_POSSESS_IN && anim != MCR_POSSESS_OUT &&
        Entity_FindTakeOverTarget(object))
        Mode_Play(record, MCR_POSSESS_IN);

    Entity_SetAnimRootOrientation(record, 0, &at, &up);
    const Vec3 zero = {0, 0, 0};
    float lose = dt * d->platformVelLoseSpeed;
    Vec3_MoveTowards(&d->platformVel, &d->platformVel, &zero, lose > 1.0f ? 1.0f : lose);
}
