// Helpers the fighting modes share: a Man_CamRel player is hurt and knocked
// back (ManCamRelMode_TakeHit), a Skitter is hurt by a player's attack or a
// level object (ControlMode_CollisionHelper), a Man_CamRel player is awarded
// points (ControlMode_AreaHelper), and the hook slot that Man_CamRel and
// BroomStick share (ControlMode_GetEntityData). They live with Man_CamRel's
// collision slot (man_camrel_collision.cpp).
#pragma once

#include <cstdint>

#include "common/maths.h"

struct EntityRecord;
struct Object;

// A Man_CamRel entity takes a hit: outside its stun protection the health
// change applies and, when it is non-zero and the entity lives, it is
// stunned ("stunnedUpwards" for a vertical push above 10) and steps back to
// its previous usable weapon. While it lives, a non-zero push forces its
// velocity to direction x push with the vertical part limited in size to
// verticalLimit, protection or not. Nothing for another mode.
void ManCamRelMode_TakeHit(Object* object, EntityRecord* record, float healthChange, const Vec3* direction, float push,
                           float verticalLimit);

// Hurts a Skitter (the victim must be an entity in mode 2; nothing
// otherwise): nothing unless healthChange <= -minDamageReceived; unless it
// plays "stunned" or "die", a non-zero change applies to a living victim,
// which is stunned (the attacker earns its stunScore) or killed (dieScore,
// counted as a kill); with award the attacker also moves on to its next
// usable weapon. A non-zero push sets the victim's knock-back velocity.
// The attacker may be null or anything: only a Man_CamRel player earns.
void ControlMode_CollisionHelper(Object* victim, EntityRecord* victimRecord, float healthChange,
                                 const Vec3* direction, float push, float verticalLimit, Object* attacker,
                                 int award);

// Awards points to a Man_CamRel player (the attacker; anything else earns
// nothing): the kill flag counts a kill, the ammo flag selects its next
// usable weapon, and non-zero points fly from the position object (may be
// null: the attacker's own place) into its score as a floating text.
void ControlMode_AreaHelper(int32_t points, Object* attacker, Object* positionObject, int kill, int ammo);

// The hook slot: fetches the object's entity record and does nothing else.
EntityRecord* ControlMode_GetEntityData(Object* object);
void ControlMode_Hook(Object* object);
