// Flitter, Butterfly, ScreenRel and Thrusting.
#include "game/modes/small_modes.h"

#include <cmath>

#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/entity_hud.h"
#include "game/level_session.h"
#include "game/modes/mode_common.h"

namespace {

const char* const kFlitterNames[FLITTER_ANIM_COUNT] = {"stand", "walk",   "run",    "jumpin",
                                                       "land",  "fire",   "charge", "glide"};
const char* const kButterflyNames[BUTTERFLY_ANIM_COUNT] = {"stand", "walk", "jumpin", "fly", "glide", "land"};

#define FL_FIELD(field) (uint32_t) offsetof(FlitterData, field)
#define BF_FIELD(field) (uint32_t) offsetof(ButterflyData, field)
#define SMALL_KEY(name, offset, kind, need, why) \
    {name, offset, kind, MODEKEY_RAW, MODEKEY_BASE_SECTION, need, 0, 0.0f, why}

// Turn keys are radians (per second), as the mode uses them.
const ModeKey kFlitterKeys[] = {
    SMALL_KEY("damping", FL_FIELD(damping), MODEKEY_VEC3, MODEKEY_OPTIONAL, nullptr),
    SMALL_KEY("turnSpeedStep", FL_FIELD(turnSpeedStep), MODEKEY_FLOAT, MODEKEY_NEEDED, "it cannot turn"),
    SMALL_KEY("maxTurnSpeed", FL_FIELD(maxTurnSpeed), MODEKEY_FLOAT, MODEKEY_NEEDED, "it cannot turn"),
    SMALL_KEY("maxSpeed", FL_FIELD(maxSpeed), MODEKEY_FLOAT, MODEKEY_NEEDED, "it cannot move"),
    SMALL_KEY("forwardSpeedStep", FL_FIELD(forwardSpeedStep), MODEKEY_FLOAT, MODEKEY_NEEDED, "it cannot move"),
    SMALL_KEY("jumpImpulse", FL_FIELD(jumpImpulse), MODEKEY_FLOAT, MODEKEY_OPTIONAL, nullptr),
    SMALL_KEY("runSpeed", FL_FIELD(runSpeed), MODEKEY_FLOAT, MODEKEY_OPTIONAL, nullptr),
};
const ModeKeyTable kFlitterTable = {"Flitter", kFlitterKeys, (uint32_t)(sizeof kFlitterKeys / sizeof kFlitterKeys[0]),
                                    MODEKEY_NO_FLAGS};

const ModeKey kButterflyKeys[] = {
    SMALL_KEY("damping", BF_FIELD(damping), MODEKEY_VEC3, MODEKEY_OPTIONAL, nullptr),
    SMALL_KEY("flyImpulse", BF_FIELD(flyImpulse), MODEKEY_FLOAT, MODEKEY_OPTIONAL, nullptr),
    SMALL_KEY("flyUpImpulse", BF_FIELD(flyUpImpulse), MODEKEY_FLOAT, MODEKEY_OPTIONAL, nullptr),
    SMALL_KEY("walkImpulse", BF_FIELD(walkImpulse), MODEKEY_FLOAT, MODEKEY_NEEDED, "it cannot walk"),
};
const ModeKeyTable kButterflyTable = {"Butterfly", kButterflyKeys,
                                      (uint32_t)(sizeof kButterflyKeys / sizeof kButterflyKeys[0]), MODEKEY_NO_FLAGS};

void LoadSmall(const ModeKeyTable* table, const char* const* names, uint32_t count, ConfigNode* reader, void* data,
               ModeLoadPass* pass, EntityRecord* record, int32_t passNumber)
{
    if (passNumber == 0) ModeKeys_SetDefaults(table, data);
    ControlDataCache_Acquire(names, count, record, 0);
    if (reader) ModeKeys_Read(table, reader, passNumber, data);
    if (ModeLoadPass_IsLast(pass, passNumber)) ModeKeys_WarnMissing(table, data, 0);
}

void NodeFacing(Object* object, Vec3* at, Vec3* up)
{
    *at = {0, 0, 1};
    *up = {0, 1, 0};
    if (object->node) Node_GetWorldOrientation(object->node, at, up);
}

bool Grounded(int32_t anim) { return anim < 0 || anim == 0 || anim == 1 || anim == 2; }

void Turn(Vec3* at, Vec3* up, float angle)
{
    *at = Mode_TurnAboutUp(*at, angle);
    *up = Mode_TurnAboutUp(*up, angle);
}

void Finish(Object* object, Vec3* at, Vec3* up, const Vec3* damping, float t)
{
    Mode_SquareFacing(at, up);
    if (Mode_IsFinite(*at) && Mode_IsFinite(*up)) Mode_SetNodeFacing(object, at, up);
    PhysBody_DampLinearVelocity(object->body, damping, t);
}

}  // namespace

const ModeKeyTable* FlitterMode_GetKeyTable(void) { return &kFlitterTable; }
const ModeKeyTable* ButterflyMode_GetKeyTable(void) { return &kButterflyTable; }

const char* const* FlitterMode_GetAnimNames(uint32_t* count)
{
    if (count) *count = FLITTER_ANIM_COUNT;
    return kFlitterNames;
}

const char* const* ButterflyMode_GetAnimNames(uint32_t* count)
{
    if (count) *count = BUTTERFLY_ANIM_COUNT;
    return kButterflyNames;
}

void FlitterMode_Load(ConfigNode* reader, void* data, EntityRecord* record, Object*, int32_t pass)
{
    FlitterData* d = (FlitterData*)data;
    if (d && record) LoadSmall(&kFlitterTable, kFlitterNames, FLITTER_ANIM_COUNT, reader, d, &d->loadPass, record, pass);
}

void ButterflyMode_Load(ConfigNode* reader, void* data, EntityRecord* record, Object*, int32_t pass)
{
    ButterflyData* d = (ButterflyData*)data;
    if (d && record)
        LoadSmall(&kButterflyTable, kButterflyNames, BUTTERFLY_ANIM_COUNT, reader, d, &d->loadPass, record, pass);
}

void FlitterMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    FlitterData* d = record && record->mode == MODE_FLITTER ? (FlitterData*)record->modeData : nullptr;
    if (!d || !object || !input) return;
    const float t = Mode_FrameTime();
    const uint32_t b = input->buttons;
    Vec3 at, up;
    NodeFacing(object, &at, &up);

    if ((b & SMALL_BUTTON_FIRE) && std::fabs(d->turnSpeed) < 0.2f) Mode_Play(record, FLITTER_FIRE);
    if (Mode_Anim(record) != FLITTER_FIRE) {
        if (b & SMALL_BUTTON_LEFT)
            d->turnSpeed -= t * d->turnSpeedStep;
        else if (b & SMALL_BUTTON_RIGHT)
            d->turnSpeed += t * d->turnSpeedStep;
        else
            d->turnSpeed = t * d->turnSpeed * 0.5f;
        d->turnSpeed = std::fmin(std::fmax(ModeKeys_Finite(d->turnSpeed), -d->maxTurnSpeed), d->maxTurnSpeed);
    }
    Turn(&at, &up, -(t * d->turnSpeed));

    if (b & (SMALL_BUTTON_FORWARD | SMALL_BUTTON_FORWARD2)) {
        d->forwardSpeed = std::fmin(d->forwardSpeed + t * d->forwardSpeedStep, d->maxSpeed);
    } else {
        d->forwardSpeed = t * d->forwardSpeed * 5.0f;
        if (d->forwardSpeed < 0.5f) d->forwardSpeed = 0.0f;
    }
    d->forwardSpeed = ModeKeys_Finite(d->forwardSpeed);

    if (Grounded(Mode_Anim(record))) {
        if (d->forwardSpeed < 0.1f)
            Mode_Play(record, FLITTER_STAND);
        else
            Mode_Play(record, d->forwardSpeed <= d->runSpeed ? FLITTER_WALK : FLITTER_RUN);
    }

    Vec3 v = {0, 0, 0};
    PhysBody_GetLinearVelocity(object->body, &v);
    Vec3 next = {at.x * d->forwardSpeed, v.y, at.z * d->forwardSpeed};
    if (Mode_IsFinite(next)) PhysBody_SetLinearVelocity(object->body, &next);

    if (Mode_Pressed(input, SMALL_BUTTON_RETURN) && record->heldFrom) Entity_PlaceHeld(record->heldFrom, object);

    const int32_t anim = Mode_Anim(record);
    if (b & SMALL_BUTTON_JUMP) {
        if (Grounded(anim)) {
            Vec3 impulse;
            Vec3_Scale(&impulse, &up, d->jumpImpulse);
            PhysBody_ApplyImpulse(object->body, &impulse);
            Mode_Play(record, FLITTER_JUMPIN);
        } else if ((anim == FLITTER_JUMPIN || anim == FLITTER_GLIDE) && Mode_AnimAge(record) > 0.5f) {
            PhysBody_GetLinearVelocity(object->body, &v);
            v.y *= 1.0f - t * 8.0f;
            PhysBody_SetLinearVelocity(object->body, &v);
            Mode_Play(record, FLITTER_GLIDE);
        }
    }

    if (record->flags & ENTITY_ON_GROUND) {
        if ((Mode_Anim(record) == FLITTER_JUMPIN && Mode_AnimAge(record) > 0.5f) || Mode_Anim(record) == FLITTER_GLIDE)
            Mode_Play(record, FLITTER_LAND);
    }
    if ((Mode_Anim(record) == FLITTER_LAND || Mode_Anim(record) == FLITTER_FIRE) && Mode_AnimFinished(record))
        Mode_Play(record, FLITTER_STAND);

    Finish(object, &at, &up, &d->damping, t);
}

void ButterflyMode_Update(Object* object, EntityRecord* record, PlayerInputRecord* input)
{
    ButterflyData* d = record && record->mode == MODE_BUTTERFLY ? (ButterflyData*)record->modeData : nullptr;
    if (!d || !object || !input) return;
    const float t = Mode_FrameTime();
    const float sx = input->stickX, sy = input->stickY;
    Vec3 at, up;
    NodeFacing(object, &at, &up);

    int32_t anim = Mode_Anim(record);
    const bool flying = anim == BUTTERFLY_FLY || anim == BUTTERFLY_GLIDE;
    if (flying) {
        // The body leans with the stick: the facing bends towards the
        // leaning up vector.
        const Vec3 y = {0, 1, 0}, z = {0, 0, 1}, x = {1, 0, 0};
        Vec3 lean, v;
        Vec3_RotateAxis(&lean, &y, &z, sy * 0.2f);
        Vec3_RotateAxis(&v, &lean, &x, sx * 0.2f);
        if (!(v.x == up.x && v.y == up.y && v.z == up.z)) {
            Vec3 mixed;
            Vec3_Lerp(&mixed, &up, &v, t * 6.0f);
            mixed = Mode_Unit(mixed);
            Vec3 side, bent;
            Vec3_Cross(&side, &mixed, &at);
            Vec3_Cross(&bent, &side, &up);
            if (Vec3_LengthSq(&bent) > 1e-8f && Mode_IsFinite(bent)) at = bent;
        }
    }
    if (std::fabs(sx) >= 0.05f) Turn(&at, &up, sx * -2.0f * t);

    if (std::fabs(sy) < 0.05f) {
        if (anim == BUTTERFLY_WALK) {
            Mode_Play(record, BUTTERFLY_STAND);
            record->flags |= ENTITY_IDLE;
        }
    } else {
        float size = flying ? sy * d->flyImpulse * t : sy * d->walkImpulse * t;
        if (!flying && sy < 0.0f) size *= 0.5f;
        Vec3 impulse = Mode_Unit(at);
        Vec3_Scale(&impulse, &impulse, size);
        if (Mode_IsFinite(impulse)) PhysBody_ApplyImpulse(object->body, &impulse);
        if (anim < 0 || anim == BUTTERFLY_STAND) Mode_Play(record, BUTTERFLY_WALK);
    }

    if (Mode_Pressed(input, SMALL_BUTTON_RETURN) && record->heldFrom) Entity_PlaceHeld(record->heldFrom, object);

    anim = Mode_Anim(record);
    if (input->buttons & SMALL_BUTTON_JUMP) {
        Vec3 impulse;
        Vec3_Scale(&impulse, &up, t * d->flyUpImpulse);
        if (Mode_IsFinite(impulse)) PhysBody_ApplyImpulse(object->body, &impulse);
        Mode_Play(record, (anim < 0 || anim == BUTTERFLY_STAND || anim == BUTTERFLY_WALK) ? BUTTERFLY_JUMPIN
                                                                                          : BUTTERFLY_FLY);
    } else if (anim == BUTTERFLY_FLY) {
        Mode_Play(record, BUTTERFLY_GLIDE);
    }

    anim = Mode_Anim(record);
    if ((record->flags & ENTITY_ON_GROUND) && (anim == BUTTERFLY_FLY || anim == BUTTERFLY_GLIDE))
        Mode_Play(record, BUTTERFLY_LAND);
    if (Mode_AnimFinished(record)) {
        if (Mode_Anim(record) == BUTTERFLY_JUMPIN)
            Mode_Play(record, BUTTERFLY_FLY);
        else if (Mode_Anim(record) == BUTTERFLY_LAND)
            Mode_Play(record, BUTTERFLY_STAND);
    }
    Finish(object, &at, &up, &d->damping, t);
}

// ScreenRel leaves its entity as the shared entity update leaves it: which
// way a stick should turn such an entity is not decided.
void ScreenRelMode_Update(Object*, EntityRecord*, PlayerInputRecord*) {}

void ThrustingMode_Update(Object*, EntityRecord*, PlayerInputRecord*) {}
