// Man: the tank-style walker's key table, load and movement slots.
#include "game/modes/man_mode.h"

#include <cmath>
#include <initializer_list>

#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/entity_hud.h"
#include "game/level_session.h"
#include "game/modes/mode_common.h"

namespace {

const char* const kAnimNames[MAN_ANIM_COUNT] = {
    "stand",     "walk",        "walkBack",   "run",          "jumpin",         "land",
    "jump",      "possessIn",   "possessOut", "fire",         "runfire",        "doublejump",
    "climbRopeStill", "climbRopeUp", "climbRopeDown", "stunned", "stunRecover", "dead",
    "turnOnSpot", "sideStepLeft", "sideStepRight", "wading",  "swimForward",    "drown",
    "skid",      "dieInAir",    "bumpIntoObject",
};

#define MAN_FIELD(field) (uint32_t) offsetof(ManData, field)
#define MAN_KEY(name, field, kind) \
    {name, MAN_FIELD(field), kind, MODEKEY_RAW, MODEKEY_BASE_SECTION, MODEKEY_OPTIONAL, 0, 0.0f, nullptr}
#define MAN_FLOAT(field) MAN_KEY(#field, field, MODEKEY_FLOAT)
#define MAN_NEEDED(field, kind, why) \
    {#field, MAN_FIELD(field), kind, MODEKEY_RAW, MODEKEY_BASE_SECTION, MODEKEY_NEEDED, 0, 0.0f, why}

// Turn keys are radians (per second), as the mode uses them.
const ModeKey kKeys[] = {
    MAN_FLOAT(jumpVel),
    MAN_NEEDED(forwardVelStep, MODEKEY_FLOAT, "it cannot move (no step)"),
    MAN_FLOAT(reverseVelStep),
    MAN_NEEDED(turnVelMax, MODEKEY_FLOAT, "it cannot turn"),
    MAN_NEEDED(maxRunSpeed, MODEKEY_FLOAT, "it cannot move (a speed limit of 0)"),
    MAN_FLOAT(maxWalkSpeed),
    MAN_KEY("noInputDamping", noInputDamping, MODEKEY_VEC3),
    MAN_KEY("runDamping", runDamping, MODEKEY_VEC3),
    MAN_KEY("doubleJumpAllow", doubleJumpAllow, MODEKEY_BOOL),
    MAN_FLOAT(doubleJumpVel),
    MAN_FLOAT(doubleJumpAllowMaxYVel),
    MAN_FLOAT(doubleJumpAllowMinYVel),
    MAN_FLOAT(sideStepVelStep),
    MAN_FLOAT(sideStepMaxVel),
    MAN_FLOAT(waterDamageHeight),
    MAN_FLOAT(waterWadeHeight),
    MAN_NEEDED(joyDirIncToCenter, MODEKEY_VEC3,
               "the smoothed stick never returns to 0, so it keeps going after the stick is released"),
    MAN_NEEDED(joyDirIncFromCenter, MODEKEY_VEC3, "the smoothed stick never leaves 0, so it does not move at all"),
    MAN_FLOAT(deathColVelVer),
    MAN_FLOAT(stunColVelVer),
    MAN_FLOAT(stunColVelHor),
    MAN_FLOAT(dieInAirVel),
    MAN_NEEDED(dieInAirTime, MODEKEY_FLOAT, "a fall in \"jump\" faster than dieInAirVel kills at once"),
};

const ModeKeyTable kTable = {"Man", kKeys, (uint32_t)(sizeof kKeys / sizeof kKeys[0]), MODEKEY_NO_FLAGS};

bool In(int32_t anim, std::initializer_list<int32_t> list)
{
    for (int32_t a : list)
        if (a == anim) return true;
    return false;
}

constexpr float kTurnDeadZone = 0.5f, kDriveDeadZone = 0.2f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kRouteAim = 0.05f;  // a heading error the route slot lets stand (radians)

float DeadZone(float v, float zone) { return std::fabs(v) <= zone ? 0.0f : v; }

ManData* DataOf(EntityRecord* record)
{
    return record && record->mode == MODE_MAN ? (ManData*)record->modeData : nullptr;
}

void Flicks(ManData* d, float x, float now)
{
    if (d->flickDirection != 0.0f && now - d->flickTime > 0.5f) d->flickDirection = 0.0f;
    if (std::fabs(x) < 0.2f) d->stickCentred = 1;
    if (std::fabs(x) > 0.9f) {
        if (d->stickCentred) {
            if (d->flickDirection == 0.0f) {
                d->flickDirection = x;
                d->flickTime = now;
            } else {
                // A second flick: what it should start is not decided, so
                // it only forgets the first.
                d->flickDirection = 0.0f;
            }
        }
        d->stickCentred = 0;
    }
}

void MovementAnimation(ManData* d, EntityRecord* record, Object* object, float now, bool onGround)
{
    const int32_t anim = Mode_Anim(record);
    if (anim >= 0 &&
        !In(anim, {MAN_RUN, MAN_WALK, MAN_WALK_BACK, MAN_STAND, MAN_SKID, MAN_TURN_ON_SPOT, MAN_WADING,
                   MAN_SWIM_FORWARD, MAN_JUMP}))
        return;
    const float depth = record->waterDepth;
    const bool swimming = depth > 0.0f && depth > d->waterWadeHeight;
    const float speed = PhysBody_GetSpeed(object->body);
    if (!onGround) {
        if (swimming) Mode_Play(record, MAN_SWIM_FORWARD);
        return;
    }
    if (d->drive == 0.0f) {
        if (speed >= 0.5f && now - d->slowTime > 0.5f) {
            Mode_Play(record, MAN_SKID);
        } else {
            Mode_Play(record, d->turn == 0.0f ? MAN_STAND : MAN_TURN_ON_SPOT);
            if (speed < 0.5f) d->slowTime = now;
        }
    } else if (d->drive < 0.0f) {
        Mode_Play(record, MAN_WALK_BACK);
    } else if (depth > 0.0f && depth >= d->waterWadeHeight) {
        Mode_Play(record, MAN_WADING);
    } else {
        Mode_Play(record, d->drive >= 0.7f ? MAN_RUN : MAN_WALK);
    }
}

}  // namespace

const ModeKeyTable* ManMode_GetKeyTable(void) { return &kTable; }

const char* const* ManMode_GetAnimNames(uint32_t* count)
{
    if (count) *count = MAN_ANIM_COUNT;
    return kAnimNames;
}

float ManMode_Smooth(float value, float stick, float fromCentre, float toCentre, float dt)
{
    if (stick <= value) {
        const float rate = value > 0.0f ? toCentre : fromCentre;
        return std::fmax(value - dt * rate, stick);
    }
    const float rate = value < 0.0f ? toCentre : fromCentre;
    return std::fmin(value + dt * rate, stick);
}

void ManMode_Load(ConfigNode* reader, void* data, EntityRecord* record, Object* object, int32_t pass)
{
    ManData* d = (ManData*)data;
    if (!d || !record) return;
    if (pass == 0) ModeKeys_SetDefaults(&kTable, d);
    ControlDataCache_Acquire(kAnimNames, MAN_ANIM_COUNT, record, 0);
    if (reader) {
        ModeKeys_Read(&kTable, reader, pass, d);
        Mode_LoadRoute(reader, &d->route, object, pass);
    }
    if (ModeLoadPass_IsLast(&d->loadPass, pass)) ModeKeys_WarnMissing(&kTable, d, 0);
}

void ManMode_Route(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    ManData* d = DataOf(record);
    Vec3 steering;
    if (!d || !Mode_SteerByRoute(&d->route, object, record, input, &steering)) return;
    Vec3 at = {0, 0, 1}, up = {0, 1, 0};
    if (object->node) Node_GetWorldOrientation(object->node, &at, &up);
    const float push = std::fmin(std::sqrt(steering.x * steering.x + steering.z * steering.z), 1.0f);
    const float error = Angle_Diff(Vec3_Heading(&at), Vec3_Heading(&steering), 1, 1);
    // A turn past the stick's dead zone, harder the farther off the route's way it faces.
    if (std::fabs(error) > kRouteAim)
        input->stickX = std::copysign(std::fmin(kTurnDeadZone + 0.05f + std::fabs(error), 1.0f), error);
    input->stickY = std::fabs(error) < kHalfPi ? push * std::cos(error) : 0.0f;
}

void ManMode_Free(EntityRecord* record)
{
    if (ManData* d = DataOf(record)) Route_Free(&d->route);
}

void ManMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    ManData* d = DataOf(record);
    if (!d || !object || !input) return;
    const float dt = Mode_FrameTime();
    const float now = Entity_GetTime(record);
    const bool onGround = (record->flags & ENTITY_ON_GROUND) != 0;
    // A slot that plays nothing yet (the mode has no restart to start one)
    // counts as having no animations.
    const bool animated = Mode_Anim(record) >= 0;

    Vec3 at = {0, 0, 1}, up = {0, 1, 0};
    if (object->node) Node_GetWorldOrientation(object->node, &at, &up);
    if (onGround) d->doubleJumpUsed = 0;

    const float x = DeadZone(input->stickX, kTurnDeadZone);
    const float y = DeadZone(input->stickY, kDriveDeadZone);
    d->turn = ManMode_Smooth(d->turn, x, d->joyDirIncFromCenter.x, d->joyDirIncToCenter.x, dt);
    d->drive = ManMode_Smooth(d->drive, y, d->joyDirIncFromCenter.z, d->joyDirIncToCenter.z, dt);

    Vec3 v = {0, 0, 0};
    PhysBody_GetLinearVelocity(object->body, &v);
    if (!In(Mode_Anim(record), {MAN_DROWN, MAN_DEAD, MAN_STUNNED, MAN_STUN_RECOVER})) {
        if (d->turn != 0.0f) {
            const float angle = -(d->turnVelMax * d->turn * dt);
            at = Mode_TurnAboutUp(at, angle);
            up = Mode_TurnAboutUp(up, angle);
        }
        if (d->drive != 0.0f) {
            const Vec3 forward = Mode_Unit(Vec3{at.x, 0.0f, at.z});
            const float step = dt * d->drive * (d->drive > 0.0f ? d->forwardVelStep : d->reverseVelStep);
            Vec3 next = {v.x + forward.x * step, 0.0f, v.z + forward.z * step};
            const float length = Mode_HorizontalLength(next);
            if (length > d->maxRunSpeed) {
                const float k = d->maxRunSpeed > 0.0f ? d->maxRunSpeed / length : 0.0f;
                next.x *= k;
                next.z *= k;
            }
            next.y = v.y;
            if (Mode_IsFinite(next)) PhysBody_SetLinearVelocity(object->body, &next);
            PhysBody_DampLinearVelocity(object->body, &d->runDamping, dt);
        } else {
            PhysBody_DampLinearVelocity(object->body, &d->noInputDamping, dt);
            record->flags |= ENTITY_IDLE;
        }
    } else {
        PhysBody_DampLinearVelocity(object->body, &d->noInputDamping, dt);
    }

    Flicks(d, input->stickX, now);

    PhysBody_GetLinearVelocity(object->body, &v);
    int32_t anim = Mode_Anim(record);
    if (Mode_Held(input, MAN_BUTTON_JUMP)) {
        if (onGround && (!animated || In(anim, {MAN_STAND, MAN_WALK, MAN_WALK_BACK, MAN_RUN, MAN_TURN_ON_SPOT,
                                                MAN_WADING, MAN_LAND}))) {
            v.y = d->jumpVel;
            PhysBody_SetLinearVelocity(object->body, &v);
            Mode_Play(record, MAN_JUMPIN);
        } else if (!onGround && d->doubleJumpAllow && Mode_Pressed(input, MAN_BUTTON_JUMP) && !d->doubleJumpUsed &&
                   !(record->waterDepth > 0.0f) && anim == MAN_JUMP && v.y > d->doubleJumpAllowMinYVel &&
                   v.y < d->doubleJumpAllowMaxYVel) {
            v.y = d->doubleJumpVel;
            PhysBody_SetLinearVelocity(object->body, &v);
            Mode_Play(record, MAN_DOUBLEJUMP);
            d->doubleJumpUsed = 1;
        }
    }

    if (record->waterDepth > d->waterDamageHeight * record->vehicleHeight) Entity_AddHealth(record, -10.0f * dt);
    if (record->hSpeedChange < dt * d->stunColVelHor && (record->flags & ENTITY_TOUCHED)) Mode_Play(record, MAN_BUMP);

    PhysBody_GetLinearVelocity(object->body, &v);
    if (!onGround && Mode_Anim(record) == MAN_JUMP) {
        if (v.y >= d->dieInAirVel) d->fallTime = now;
        if (now - d->fallTime > d->dieInAirTime) Entity_SetHealth(record, 0.0f, 100.0f);
    } else {
        d->fallTime = now;
    }

    MovementAnimation(d, record, object, now, onGround);

    if (Mode_AnimFinished(record)) {
        switch (Mode_Anim(record)) {
        case MAN_DOUBLEJUMP:
        case MAN_JUMPIN:
            Mode_Play(record, MAN_JUMP);
            break;
        case MAN_BUMP:
        case MAN_LAND:
        case MAN_POSSESS_OUT:
            Mode_Play(record, MAN_STAND);
            break;
        case MAN_JUMP:
            if (onGround) Mode_Play(record, MAN_LAND);
            break;
        default:
            break;
        }
    }

    anim = Mode_Anim(record);
    if (Entity_GetHealth(record) <= 0.0f && anim != MAN_DEAD && anim != MAN_DROWN) {
        if (record->waterDepth <= d->waterDamageHeight)
            Mode_Play(record, onGround ? MAN_DEAD : MAN_DIE_IN_AIR);
        else
            Mode_Play(record, MAN_DROWN);
    }

    if (Mode_AnimFinished(record)) {
        if (Mode_Anim(record) == MAN_STUNNED)
            Mode_Play(record, MAN_STUN_RECOVER);
        else if (Mode_Anim(record) == MAN_STUN_RECOVER)
            Mode_Play(record, MAN_STAND);
    }

    if (In(Mode_Anim(record), {MAN_DEAD, MAN_DROWN, MAN_DIE_IN_AIR}) && Mode_AnimFinished(record)) {
        Mode_Play(record, MAN_STAND);
        Entity_Respawn(object, 0);
        return;
    }

    // Off a ledge: in the air a while after the last landing.
    if (!onGround && now - record->landingTime > 0.25f &&
        (!animated || In(Mode_Anim(record), {MAN_STAND, MAN_WALK, MAN_RUN, MAN_WADING, MAN_WALK_BACK})))
        Mode_Play(record, MAN_JUMP);

    anim = Mode_Anim(record);
    if (Mode_Held(input, MAN_BUTTON_POSSESS) && anim != MAN_POSSESS_IN && anim != MAN_POSSESS_OUT &&
        Entity_FindTakeOverTarget(object))
        Mode_Play(record, MAN_POSSESS_IN);
    if (Mode_AnimFinished(record)) {
        if (Mode_Anim(record) == MAN_POSSESS_IN) {
            Mode_Play(record, MAN_POSSESS_OUT);
            Entity_TakeOver(object, record->takeOverTarget);
        } else if (Mode_Anim(record) == MAN_FIRE || Mode_Anim(record) == MAN_RUNFIRE) {
            Mode_Play(record, MAN_STAND);
        }
    }

    Mode_SquareFacing(&at, &up);
    Mode_SetNodeFacing(object, &at, &up);
}
