// Skitter AI: the route slot of a computer-controlled Skitter. Every frame
// it looks for a target within its vision and either follows its route (or
// returns to its start) or turns to, approaches and attacks the target. It
// writes its decisions into the input record as a pad would (stick in world
// directions, buttons 0x10 melee, 0x20 ranged, 0x40 jump or fly up), sets
// the speed cap and the fly velocity target, and may turn the body onto the
// route; the movement and rules slots carry the decisions out.
#include <cmath>

#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/entity_hud.h"
#include "game/level_session.h"
#include "game/modes/mode_common.h"
#include "game/modes/skitter.h"

namespace {

constexpr float kHalfPi = 1.5707964f;
constexpr float kStuckTime = 10.0f;
constexpr float kFarAway = 1000000.0f;

float Clamp1(float v) { return v < -1.0f ? -1.0f : (v > 1.0f ? 1.0f : v); }

// The cap of the speed table's last entry for this animation with the flag,
// or the default.
float SpeedCap(const SkitterData* d, int32_t anim, uint32_t flag, float fallback)
{
    float cap = fallback;
    for (uint32_t i = 0; i < d->speedCount; ++i)
        if ((d->speeds[i].flags & flag) && d->speeds[i].anim == anim) cap = d->speeds[i].speed;
    return cap;
}

// The stick towards a point, in world directions (a level direction with a
// token height, each component within -1..1).
void StickTowards(PlayerInputRecord* input, const Vec3& from, const Vec3& to)
{
    Vec3 d = {to.x - from.x, 0.01f, to.z - from.z};
    d = Mode_Unit(d);
    input->stickX = Clamp1(d.x);
    input->stickY = Clamp1(d.z);
}

struct RouteStep {
    bool routed;
    Vec3 routeAt, routeUp;
};

// No target: follow the route, or go back to the start and defend it.
RouteStep FollowRoute(Object* object, EntityRecord* record, SkitterData* d, PlayerInputRecord* input, const Vec3& p,
                      int32_t anim, float now, float t)
{
    RouteStep step = {false, {0, 0, 1}, {0, 1, 0}};
    d->speedCap = SpeedCap(d, anim, SKITTER_SPEED_NON_ATTACK, d->aiNonAttackSpeedMax);
    Vec3 steering = {0, 0, 0}, direction = {0, 0, 0};
    step.routed = Route_Update(&steering, &d->route, &p, &step.routeAt, &step.routeUp, &direction) != 0;
    if (!step.routed) {
        const float d2 = Vec3_DistanceSq(&p, &record->startPosition);
        if (d->flags & SKITTER_DEFEND_ORIGIN) {
            if (d2 < d->bestDistance - 0.1f) d->progressTime = now;
            if (d2 < d->bestDistance) d->bestDistance = d2;
            if (d2 <= d->aiDefenceNoEnemyDist) {
                d->desiredFacing = record->startAt;
                d->progressTime = now;
            } else {
                StickTowards(input, p, record->startPosition);
            }
        } else if (d2 <= d->aiDefenceNoEnemyDist) {
            // At home there is nothing to make progress on.
            d->progressTime = now;
        }
    } else {
        if (!Route_IsWaiting(&d->route)) d->progressTime = now;
        if (d->flags & SKITTER_ORIENT_TO_ANIM_ROUTE) d->desiredFacing = step.routeAt;
        input->stickX = Clamp1(steering.x);
        input->stickY = Clamp1(steering.z);
        if (d->flags & SKITTER_FLY_ALLOWED) {
            d->flyTarget = Math_Lerp(d->flyTarget, steering.y * d->aiFlyVelDistRelSpeed, t * 5.0f);
            input->buttons |= SKITTER_BUTTON_JUMP;
        } else if (steering.y > d->aiHeightDiffReqForJump && (d->flags & SKITTER_BLOCKED)) {
            input->buttons |= SKITTER_BUTTON_JUMP;
        }
    }
    if (now > d->progressTime + kStuckTime) {
        const float health = Entity_GetHealth(record);
        Entity_Respawn(object, 0);
        Entity_SetHealth(record, health, d->totalHealth);
    }
    return step;
}

// Turns the body onto the route orientation by setting its spin, except
// about the axes whose spin the object limits.
void OrientBody(Object* object, const Vec3& at, const Vec3& up, float t)
{
    const uint32_t limits = OBJECT_LIMIT_SPIN_X | OBJECT_LIMIT_SPIN_Y | OBJECT_LIMIT_SPIN_Z;
    if (!object->body || (object->flags & limits) == limits || !(t > 0.0f)) return;
    Vec3 bodyAt, bodyUp;
    PhysBody_GetAxes(object->body, &bodyAt, &bodyUp);
    Vec3 a = Mode_Unit(at), u = Mode_Unit(up);
    if (Vec3_LengthSq(&a) == 0.0f || Vec3_LengthSq(&u) == 0.0f) return;
    Vec3 turnAt, turnUp, w;
    Vec3_Cross(&turnAt, &bodyAt, &a);
    Vec3_Cross(&turnUp, &bodyUp, &u);
    Vec3_Add(&w, &turnAt, &turnUp);
    Vec3_Scale(&w, &w, 0.5f / t);
    Vec3 side;
    Vec3_Cross(&side, &bodyUp, &bodyAt);
    const Vec3 axes[3] = {side, bodyUp, bodyAt};
    const uint32_t bits[3] = {OBJECT_LIMIT_SPIN_X, OBJECT_LIMIT_SPIN_Y, OBJECT_LIMIT_SPIN_Z};
    Vec3 spin = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        if (object->flags & bits[i]) continue;
        Vec3 part;
        Vec3_Scale(&part, &axes[i], Vec3_Dot(&w, &axes[i]));
        Vec3_Add(&spin, &spin, &part);
    }
    if (Mode_IsFinite(spin)) PhysBody_SetAngularVelocity(object->body, &spin);
}

}  // namespace

void SkitterMode_Route(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    SkitterData* d = Skitter_Data(record);
    if (!d || !object || !input) return;
    if (Skitter_PadDriven(record)) {
        // Taken over by a player: the pad steers, not the AI.
        if (const PlayerInputRecord* pad = Player_GetInputRecord((int)record->player - 1)) *input = *pad;
        return;
    }
    const float now = Entity_GetTime(record);
    const float t = Mode_FrameTime();
    if (d->switchedOff || Entity_TestAnimFlags(record, 0, SKITTER_SLOT_OFF)) {
        d->progressTime = now;
        d->bestDistance = kFarAway;
        d->flags &= ~SKITTER_BLOCKED;
        return;
    }

    const int32_t anim = Mode_Anim(record);
    const Vec3 p = Mode_BodyPosition(object);
    Vec3 at, up;
    Mode_Facing(object, record, &at, &up);
    Vec3 orientAt = at, orientUp = up;

    EntityQuery query = {};
    query.self = object;
    if (d->flags & SKITTER_HAS_ATTACK_TYPES) {
        query.mode = ENTITY_QUERY_ANY_MODE;
        query.bits |= ENTITY_QUERY_SHARED_TYPE;
        query.typeMask = d->attackMask;
    } else {
        query.mode = MODE_MAN_CAMREL;
    }
    if (d->flags & SKITTER_ATTACK_ONLY_PLAYER) query.bits |= ENTITY_QUERY_PLAYERS;
    const Vec3 facing = Mode_Unit(at);
    if (d->flags & SKITTER_VISION_X_ARC) {
        query.bits |= ENTITY_QUERY_PITCH_ARC;
        query.pitch = Vec3_Pitch(&facing) + d->aiVisionAngleXOffset;
    }
    if (d->flags & SKITTER_VISION_Y_ARC) {
        query.bits |= ENTITY_QUERY_HEADING_ARC;
        query.heading = Vec3_Heading(&facing) + d->aiVisionAngleYOffset;
    }

    d->target = nullptr;
    float radius = d->aiVisionRadius;
    query.pitchArc = d->aiVisionXArc;
    query.headingArc = d->aiVisionYArc;
    if (now <= d->alertTime + d->aiVisionAlertDuration) {
        if (d->aiVisionAlertRadius != 0.0f) radius = d->aiVisionAlertRadius;
        query.pitchArc = d->aiVisionAlertXArc;
        query.headingArc = d->aiVisionAlertYArc;
    }
    if (anim < 0 || anim == SKITTER_IDLE) {
        if (d->aiVisionIdleRadius != 0.0f) radius = d->aiVisionIdleRadius;
        query.pitchArc = d->aiVisionIdleXArc;
        query.headingArc = d->aiVisionIdleYArc;
    }
    query.maxDistance = radius * 1.1f;
    float distance = 0.0f;
    Object* seen = Entity_QueryNearest(&query, &distance);
    if (seen && !(distance < radius)) seen = nullptr;
    EntityRecord* seenRecord = Entity_GetRecord(seen);

    bool keepHeight = false;
    if (!seen || !seen->body || !seenRecord) {
        RouteStep step = FollowRoute(object, record, d, input, p, anim, now, t);
        if (step.routed) orientAt = step.routeAt, orientUp = step.routeUp;
    } else {
        if ((d->flags & SKITTER_BOMB_TYPE) && anim != SKITTER_DIE && anim != SKITTER_SPAWN && anim != SKITTER_BOMB)
            Mode_Play(record, SKITTER_BOMB);
        d->alertTime = now;
        d->target = seen;
        const Vec3 q = Mode_BodyPosition(seen);
        bool approach = true, stay = false, ignored = false;
        if (d->flags & SKITTER_DEFEND_ORIGIN) {
            const float ds = Vec3_Distance(&p, &record->startPosition);
            const float dq = Vec3_Distance(&q, &record->startPosition);
            if (!(d->flags & SKITTER_VISION_OUTSIDE_DEFENCE)) {
                ignored = dq > d->aiFollowRadius;
            } else if (dq > d->aiFollowRadius && dq <= d->aiRangeAttackMaxDist) {
                approach = false;
            }
            if (d->aiFollowRadius <= ds && ds <= dq) stay = true;
        }
        if (ignored) {
            d->refHeight = p.y;
            RouteStep step = FollowRoute(object, record, d, input, p, anim, now, t);
            if (step.routed) orientAt = step.routeAt, orientUp = step.routeUp;
        } else {
            d->speedCap = SpeedCap(d, anim, SKITTER_SPEED_ATTACK, d->aiAttackSpeed);
            if (distance < d->aiMeleeAttackMaxDist && approach) {
                input->buttons |= SKITTER_BUTTON_MELEE;
            } else if (distance < d->aiRangeAttackMaxDist && (distance > d->aiRangeAttackMinDist || !approach)) {
                input->buttons |= SKITTER_BUTTON_RANGE;
                Vec3 towards;
                Vec3_Sub(&towards, &q, &p);
                towards = Mode_Unit(towards);
                const float refPitch = (query.bits & ENTITY_QUERY_PITCH_ARC) ? query.pitch : Vec3_Pitch(&facing);
                const float refHeading = (query.bits & ENTITY_QUERY_HEADING_ARC) ? query.heading : Vec3_Heading(&facing);
                if (d->aiRangeAttackXFiringArc != 0.0f &&
                    Angle_Diff(refPitch, Vec3_Pitch(&towards), 0, 1) > d->aiRangeAttackXFiringArc)
                    input->buttons &= ~SKITTER_BUTTON_RANGE;
                if (d->aiRangeAttackYFiringArc != 0.0f &&
                    Angle_Diff(refHeading, Vec3_Heading(&towards), 0, 1) > d->aiRangeAttackYFiringArc)
                    input->buttons &= ~SKITTER_BUTTON_RANGE;
            }
            d->desiredFacing = Mode_Unit(Vec3{q.x - p.x, 0.01f, q.z - p.z});
            if (d->flags & SKITTER_ATTACK_ON_PATH) {
                RouteStep step = FollowRoute(object, record, d, input, p, anim, now, t);
                if (step.routed) orientAt = step.routeAt, orientUp = step.routeUp;
            } else {
                // Near enough, staying, or attacking from the defence
                // without approaching: it does not move towards the target.
                if (distance <= d->aiAttackMinDist || stay || !approach) {
                    if (d->flags & SKITTER_FLY_ALLOWED) {
                        float k = p.y < d->refHeight + 1.0f ? d->aiFlyVelDistRelSpeed
                                                             : (d->refHeight - p.y) * d->aiFlyVelDistRelSpeed;
                        d->flyTarget = Math_Lerp(d->flyTarget, k, t);
                        input->buttons |= SKITTER_BUTTON_JUMP;
                    }
                    keepHeight = true;
                } else {
                    if (d->flags & SKITTER_FLY_ALLOWED) {
                        // From below the target, climb to a little above it.
                        float rise = p.y < q.y + 1.0f ? q.y + 1.0f - p.y : q.y - p.y;
                        d->flyTarget = Math_Lerp(d->flyTarget, rise * d->aiFlyVelDistRelSpeed, t);
                        input->buttons |= SKITTER_BUTTON_JUMP;
                    } else if (q.y - p.y > d->aiHeightDiffReqForJump && (d->flags & SKITTER_BLOCKED)) {
                        input->buttons |= SKITTER_BUTTON_JUMP;
                    }
                    Vec3 direction = Mode_Unit(Vec3{q.x - p.x, 0.01f, q.z - p.z});
                    Vec3 moved;
                    Vec3_Sub(&moved, &p, &record->lastPosition);
                    moved.y = 0.0f;
                    if (Vec3_LengthSq(&moved) > 0.0f && d->aiAttackDirCorrect != 0.0f) {
                        float diff = Angle_Diff(Vec3_Heading(&direction), Vec3_Heading(&moved), 1, 1);
                        if (std::fabs(diff) < kHalfPi) direction = Mode_TurnAboutUp(direction, diff * d->aiAttackDirCorrect);
                    }
                    input->stickX = Clamp1(direction.x);
                    input->stickY = Clamp1(direction.z);
                }
                d->progressTime = now;
                d->bestDistance = kFarAway;
            }
        }
    }

    if (d->flags & SKITTER_PATH_ORIENT_BODY) OrientBody(object, orientAt, orientUp, t);
    if (!keepHeight) d->refHeight = p.y;
    d->flags &= ~SKITTER_BLOCKED;
}
