// Man_CamRel: the collision slot (ground, platforms, bumps, enemies,
// projectiles and typed level objects), the helpers shared with the enemy
// modes, and the message slot that fires weapons from animation events.
//
// The collision slot is reached three ways, each with its own impact:
//   a contact event: the contact's normal and impact speed;
//   a phantom overlap: no contact, so no normal and impact 0 (a typed
//     object with a phantom body needs a threshold below 0 to be hit);
//   the proximity walk of body-less objects, outside any event: impact 1.0,
//     and the contact steps (ground, bumps, platforms, enemies) are skipped.
// The dispatch's normal points from the second body to the first; this mode
// negates it for side 0, so here n points into the other object.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/animset.h"
#include "engine/node.h"
#include "engine/objectcollision.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/game_context.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/modes/man_camrel.h"
#include "game/modes/mode_common.h"
#include "game/modes/mode_helpers.h"
#include "game/modes/skitter.h"

namespace {

constexpr float kCarryStep = 0.07853982f;  // a 4.5-degree turn of the platform
constexpr float kCarryScale = 12.732395f;  // 1 / kCarryStep

bool Stunned(int32_t anim) { return anim == MCR_STUNNED || anim == MCR_STUNNED_UPWARDS; }
bool Dying(int32_t anim) { return anim == MCR_DIE_IN_AIR || anim == MCR_DROWN || anim == MCR_DEAD; }

Vec3 LimitedPush(const Vec3* direction, float push, float verticalLimit)
{
    Vec3 f = direction ? *direction : Vec3{0, 0, 0};
    Vec3_Scale(&f, &f, push);
    float limit = std::fabs(verticalLimit);
    if (std::fabs(f.y) > limit) f.y = f.y < 0.0f ? -limit : limit;
    return Mode_IsFinite(f) ? f : Vec3{0, 0, 0};
}

Vec3 ObjectPosition(Object* object)
{
    Vec3 p = {0, 0, 0};
    if (object) Object_GetTransform(object, &p, nullptr, nullptr);
    return p;
}

Vec3 ObjectUp(Object* object)
{
    Vec3 p, up = {0, 1, 0}, at = {0, 0, 1};
    if (object) Object_GetTransform(object, &p, &up, &at);
    return up;
}

Vec3 Direction(const Vec3& from, const Vec3& to)
{
    Vec3 d;
    Vec3_Sub(&d, &to, &from);
    return Mode_Unit(d);
}

// The velocity of a platform's surface under the rider: its linear
// velocity plus, for a spin about the vertical, where the rider's point
// goes in a 4.5-degree step of the platform, scaled back to one second.
Vec3 PlatformVelocity(Object* object, Object* other)
{
    Vec3 v = {0, 0, 0};
    if (!other || !other->body) return v;
    PhysBody_GetLinearVelocity(other->body, &v);
    Vec3 w = {0, 0, 0};
    PhysBody_GetAngularVelocity(other->body, &w);
    if (w.y == 0.0f || !std::isfinite(w.y)) return v;
    const float t = kCarryStep / std::fabs(w.y);
    const float k = std::fabs(w.y) * kCarryScale;
    Vec3 own = Mode_BodyPosition(object), centre = Mode_BodyPosition(other);
    own.y = centre.y = 0.0f;
    Vec3 offset;
    Vec3_Sub(&offset, &own, &centre);
    Vec3 r = Mode_TurnAboutUp(offset, -(t * w.y));
    Vec3 carry = {(centre.x + r.x - own.x) * k, 0.0f, (centre.z + r.z - own.z) * k};
    if (Mode_IsFinite(carry)) Vec3_Add(&v, &v, &carry);
    return v;
}

// A Skitter touched: its weak side against our damage areas hurts it; its
// weak side pushes us back in any case.
void EnemyContact(Object* object, EntityRecord* record, ManCamRelData* d, Object* other, EntityRecord* enemy)
{
    SkitterData* sd = Skitter_Data(enemy);
    if (!sd) return;
    Vec3 point;
    ObjectCollision_GetContactPoint(&point);
    const Vec3 enemyPosition = Mode_BodyPosition(other), ownPosition = Mode_BodyPosition(object);
    Vec3 enemyAt, enemyUp, ownAt, ownUp;
    Mode_Facing(other, enemy, &enemyAt, &enemyUp);
    Mode_Facing(object, record, &ownAt, &ownUp);
    float p = 0.0f, q = 0.0f;
    if (!ColArea_HitTest(&sd->areas, &enemyPosition, &point, &enemyAt, &enemyUp, COLAREA_WEAK,
                         Entity_GetAnimSlotValue(enemy, 0), &p, &q))
        return;
    const Vec3 toEnemy = Direction(ownPosition, enemyPosition);
    const Vec3 away = {-toEnemy.x, -toEnemy.y, -toEnemy.z};
    float r = 0.0f, s = 0.0f;
    if (ColArea_HitTest(&d->areas, &ownPosition, &point, &ownAt, &ownUp, COLAREA_DAMAGE,
                        Entity_GetAnimSlotValue(record, 0), &r, &s))
        ControlMode_CollisionHelper(other, enemy, p * r, &toEnemy, s, 0.0f, object, 0);
    ManCamRelMode_TakeHit(object, record, 0.0f, &away, q, 0.0f);
}

void ProjectileHit(Object* object, EntityRecord* record, ManCamRelData* d, Object* other)
{
    const uint32_t type = Projectile_GetHitType(other);
    if (!type) return;
    Object* owner = Projectile_GetOwner(other);
    if (type == d->typeHashes[MCR_TYPE_DAMAGE] || type == d->typeHashes[MCR_TYPE_SPECIAL_DAMAGE]) {
        float damage = Projectile_GetHitValue(other, 0);
        const float push = Projectile_GetHitValue(other, 1);
        const float limit = Projectile_GetHitValue(other, 2);
        if (owner == object) damage = Projectile_GetHitValue(other, 3);
        if (!other->body) return;
        const Vec3 own = Mode_BodyPosition(object), shot = Mode_BodyPosition(other);
        Vec3 at, up;
        Mode_Facing(object, record, &at, &up);
        float factor = 0.0f;
        if (!ColArea_HitTest(&d->areas, &own, &shot, &at, &up, COLAREA_WEAK, Entity_GetAnimSlotValue(record, 0),
                             &factor, nullptr))
            return;
        const Vec3 direction = Direction(shot, own);
        ManCamRelMode_TakeHit(object, record, factor * damage, &direction, push, limit);
    } else if (type == d->typeHashes[MCR_TYPE_HEALTH]) {
        const float amount = Projectile_GetHitValue(other, 0);
        if (Entity_GetHealth(record) + amount <= d->totalHealth || d->lives > 98) {
            Entity_AddHealth(record, amount);
        } else {
            Entity_SetHealth(record, d->initHealth, d->totalHealth);
            d->lives++;
        }
        Projectile_OnHit(other, owner);
    } else if (type == d->typeHashes[MCR_TYPE_SCORE]) {
        d->score = Math_AddClamped(d->score, Math_TruncToInt(Projectile_GetHitValue(other, 0)));
        Projectile_OnHit(other, owner);
    }
}

void Pickup(Object* object, EntityRecord* record, ManCamRelData* d, Object* other)
{
    const int32_t kind = Math_TruncToInt(HitModeObject_GetValue(other, 0));
    const int32_t a = Math_TruncToInt(HitModeObject_GetValue(other, 1));
    const int32_t b = Math_TruncToInt(HitModeObject_GetValue(other, 2));
    const int32_t variant = Math_TruncToInt(HitModeObject_GetValue(other, 3));
    switch (kind) {
    case 3:
        Entity_AddHealth(record, (float)a);
        break;
    case 4:
        if (d->levelCompCollected < d->levelCompPickupTotal) {
            // Pickup k moves the end object to 2k - 1 and on to 2k, whatever
            // transition still plays; after the last one it waits at 2T.
            const int32_t k = ++d->levelCompCollected;
            if (d->levelEnd) {
                HitModeObject_PlayIndex(d->levelEnd, 2 * k - 1, 1, record->player);
                HitModeObject_ChooseNext(d->levelEnd, 2 * k);
            }
        }
        break;
    case 5:
        ControlMode_AreaHelper(a, object, other, 0, 0);
        d->scorePickupsCollected++;
        if (d->scorePickupsCollected >= Math_TruncToInt((float)d->scorePickupTotal * d->requiredFraction))
            d->flags |= MCR_PICKUPS_MET;
        break;
    case 6:
        if (record->player && d->levelEnd) {
            // The last animation is the end: a switch the completion chose
            // while its transition still plays must not follow it.
            int32_t n = (int32_t)HitModeObject_GetAnimCount(d->levelEnd);
            HitModeObject_PlayIndex(d->levelEnd, n - 1, 1, record->player);
            HitModeObject_SetStateBits(d->levelEnd, HITSTATE_SWITCH_AT_END, 0);
        }
        break;
    case 7:
        ControlMode_AreaHelper(a, object, other, 0, 0);
        d->hiddenCollected++;
        if (d->hiddenCollected >= d->hiddenTotal) d->flags |= MCR_PICKUPS_MET;
        break;
    case 10:
        if (b != 0) {
            d->flags |= MCR_SWIPE_ARMED;
            d->swipeSlot = a;
            d->swipesLeft = b;
            d->swipeVariant = variant < 0 ? 0 : (variant > 2 ? 2 : variant);
        }
        break;
    case 11:
        ProjType_AddAmmo(&d->weapons, a, b);
        break;
    default:
        break;
    }
}

void Checkpoint(EntityRecord* record, Object* other)
{
    if (!record->player) return;
    const int player = (int)record->player - 1;
    Object* previous = (Object*)Player_GetUserWord(player);
    if (previous == other) return;
    HitModeObject_PlayIndex(other, 1, 1, record->player);
    HitModeObject_ChooseNext(other, 2);
    Object_GetTransform(other, &record->startPosition, &record->startUp, &record->startAt);
    Player_SetUserWord(player, other);
    if (previous) HitModeObject_PlayIndex(previous, 0, 1, 0);
}

void TypedObject(Object* object, EntityRecord* record, ManCamRelData* d, Object* other, float impact)
{
    const uint32_t type = HitModeObject_GetTypeHash(other);
    const uint32_t* h = d->typeHashes;
    const int32_t index = HitModeObject_GetStandingIndex(other);
    if (!HitModeObject_TestHit(other, impact, record->player, record->typeMask)) return;
    if (type == h[MCR_TYPE_PICKUP]) {
        if (index == 0) Pickup(object, record, d, other);
    } else if (type == h[MCR_TYPE_SPRINGBOARD]) {
        Vec3 up = ObjectUp(other);
        Vec3_Scale(&d->forcedVel, &up, HitModeObject_GetValue(other, 0));
        d->forcedVelTime = Entity_GetTime(record);
    } else if (type == h[MCR_TYPE_CHECKPOINT]) {
        Checkpoint(record, other);
    } else if (type == h[MCR_TYPE_KILLAREA]) {
        if (!(d->flags & MCR_KILLED_BY_AREA)) {
            Mode_Play(record, MCR_DIE_IN_AIR);
            d->flags |= MCR_KILLED_BY_AREA;
        }
    } else if (type == h[MCR_TYPE_DEATHAREA]) {
        const Vec3 up = ObjectUp(other);
        ManCamRelMode_TakeHit(object, record, -HitModeObject_GetValue(other, 0), &up, HitModeObject_GetValue(other, 1),
                              1000.0f);
    } else if (type == h[MCR_TYPE_HITANIMCHANGE]) {
        if (index == 0) {
            HitModeObject_PlayIndex(other, 1, 1, record->player);
            HitModeObject_ChooseNext(other, 0);
        }
    }
}

}  // namespace

void ManCamRelMode_Collision(Object* object, EntityRecord* record, Object* other, uint32_t side)
{
    ManCamRelData* d = ManCamRel_Data(record);
    if (!d || !object) return;
    if (Projectile_GetRecord(other)) {
        ProjectileHit(object, record, d, other);
        return;
    }
    const bool contact = ObjectCollision_InContact() != 0;
    const bool proximity = HitModeObject_ByProximity() != 0;
    float impact = proximity ? 1.0f : 0.0f;
    if (contact) {
        impact = ObjectCollision_GetImpactSpeed();
        const float now = Entity_GetTime(record);
        Vec3 n;
        ObjectCollision_GetContactNormal(&n);
        if (side == 0) n = {-n.x, -n.y, -n.z};
        if (d->flags & MCR_ORIENT_TO_GROUND) {
            const Vec3 ground = {-n.x, -n.y, -n.z};
            if (ground.y > d->bestUp) {
                d->bestUp = ground.y;
                d->groundNormal = ground;
            }
        }
        const int32_t anim = Mode_Anim(record);
        if (!Stunned(anim) && !Dying(anim)) {
            Vec3 at, up;
            Mode_Facing(object, record, &at, &up);
            const float facing = Vec3_Dot(&at, &n);
            if (record->hSpeedChange < Mode_FrameTime() * d->stunColVelHor && now - record->landingTime < 0.1f &&
                facing > d->cosStunPlayerAtRelAngle) {
                Mode_Play(record, MCR_BUMP);
                d->flags &= ~MCR_MOVING;
            }
            if (facing > d->cosFrontColAngle && PhysBody_GetSpeed(object->body) > 0.1f) d->frontContactTime = now;
        }
        if (n.y < -0.5f) {
            d->platformVel = PlatformVelocity(object, other);
            record->flags &= ~ENTITY_IDLE;
        }
        EntityRecord* enemy = Entity_GetRecord(other);
        if (enemy && enemy->mode == MODE_SKITTER) EnemyContact(object, record, d, other, enemy);
        if (Entity_GetRecord(object) != record) return;
    }
    if (contact && ObjectCollision_IsTouching()) return;
    if (HitModeObject_GetRecord(other)) TypedObject(object, record, d, other, impact);
}

void ManCamRelMode_TakeHit(Object* object, EntityRecord* record, float healthChange, const Vec3* direction, float push,
                           float verticalLimit)
{
    ManCamRelData* d = ManCamRel_Data(record);
    if (!d) return;
    (void)object;
    const float now = Entity_GetTime(record);
    const bool isProtected = !(now > d->stunStart + d->stunDuration);
    if (!isProtected) Entity_AddHealth(record, healthChange);
    bool pushedUp = false;
    if (Entity_GetHealth(record) > 0.0f && push != 0.0f) {
        d->forcedVel = LimitedPush(direction, push, verticalLimit);
        d->forcedVelTime = now;
        pushedUp = d->forcedVel.y > 10.0f;
    }
    if (!isProtected && healthChange != 0.0f && Entity_GetHealth(record) > 0.0f) {
        Mode_Play(record, pushedUp ? MCR_STUNNED_UPWARDS : MCR_STUNNED);
        d->flags &= ~MCR_MOVING;
        d->stunStart = now;
        ProjType_SelectPrevious(&d->weapons, 1, 0);
    }
}

void ControlMode_CollisionHelper(Object* victim, EntityRecord* victimRecord, float healthChange,
                                 const Vec3* direction, float push, float verticalLimit, Object* attacker, int award)
{
    SkitterData* sd = Skitter_Data(victimRecord);
    if (!sd) return;
    if (!(healthChange <= -sd->minDamageReceived)) return;
    const int32_t anim = Mode_Anim(victimRecord);
    if (anim != SKITTER_STUNNED && anim != SKITTER_DIE && healthChange != 0.0f &&
        Entity_GetHealth(victimRecord) != 0.0f) {
        if (Entity_AddHealth(victimRecord, healthChange) > 0.0f) {
            Mode_Play(victimRecord, SKITTER_STUNNED);
            ControlMode_AreaHelper(sd->stunScore, attacker, victim, 0, award);
        } else {
            ControlMode_AreaHelper(sd->dieScore, attacker, victim, 1, award);
        }
    }
    if (push != 0.0f) {
        sd->knockVel = LimitedPush(direction, push, verticalLimit);
        sd->knockTime = Entity_GetTime(victimRecord);
    }
}

void ControlMode_AreaHelper(int32_t points, Object* attacker, Object* positionObject, int kill, int ammo)
{
    EntityRecord* record = Entity_GetRecord(attacker);
    if (!record || !record->player) return;
    ManCamRelData* d = ManCamRel_Data(record);
    if (!d) return;
    if (kill) d->killCount++;
    if (ammo) ProjType_SelectNext(&d->weapons, 1, 0);
    if (points != 0) ManCamRel_AddFloatingPoints(d, points, positionObject ? positionObject : attacker);
}

void ManCamRel_AddFloatingPoints(ManCamRelData* d, int32_t points, Object* positionObject)
{
    if (!d) return;
    for (ManCamRelFloatText& t : d->texts) {
        if (t.flags & MCR_TEXT_ACTIVE) continue;
        t = ManCamRelFloatText{};
        t.world = ObjectPosition(positionObject);
        t.vx = Game_RandomUnit() * 20.0f;
        t.vy = Game_RandomUnit() * 20.0f;
        t.value = points;
        snprintf(t.text, sizeof t.text, "%d", (int)points);
        t.flags = MCR_TEXT_ACTIVE | MCR_TEXT_UNPROJECTED;
        t.serial = ++d->textSerial;
        return;
    }
    d->score = Math_AddClamped(d->score, points);
}

void ManCamRelMode_Message(AnimSet* set, const char* event, Node* item, int32_t phase, float, float)
{
    Object* object = (Object*)AnimSet_GetObject(set);
    EntityRecord* record = Entity_GetRecord(object);
    ManCamRelData* d = ManCamRel_Data(record);
    if (!d || !event) return;
    if (phase == 1) {
        for (ManCamRelPendingShot& shot : d->pending) {
            if (!shot.projectile || !shot.node) continue;
            Projectile_Release(shot.projectile, object);
            shot = ManCamRelPendingShot{};
            break;
        }
        return;
    }
    if (phase != 0) return;
    int32_t slot = -1;
    int named = 0;
    if (!Mode_ReadShotEvent(record, event, &d->weapons, &slot, &named)) return;
    if (!named) {
        const int32_t anim = Mode_Anim(record);
        if ((anim == MCR_SWIPE1 || anim == MCR_SWIPE2 || anim == MCR_SWIPE3) &&
            ProjType_GetWeapon(&d->weapons, d->swipeSlot))
            slot = d->swipeSlot;
    }
    Mode_FireWeapon(object, record, &d->weapons, ProjType_GetWeapon(&d->weapons, slot), set, item,
                    d->target ? d->target->node : nullptr, 1, d->pending, MCR_PENDING_SHOTS);
}
