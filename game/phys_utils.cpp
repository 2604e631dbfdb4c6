// Magnets, hinge velocity changers and generic physics props.
#include "game/phys_utils.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/config.h"
#include "app/sound.h"
#include "app/soundbank.h"
#include "common/hash.h"
#include "common/memory.h"
#include "engine/animset.h"
#include "engine/callbacks.h"
#include "engine/node.h"
#include "engine/objectscene.h"
#include "engine/objecttemplate.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physworld.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"

namespace {

float DegToRad(float degrees) { return degrees * 0.0027777778f * 6.2831855f; }

// "<level folder>\<base name>.cfg" of the object being made: its scene
// item's name without "_NN", or the object's own name outside a scene walk.
void ObjectConfigPath(Object* object, char* out, size_t size)
{
    Node* item = ObjectScene_GetCurrentItemNode();
    const char* name = item ? Node_GetNameText(item) : nullptr;
    if (!name) name = object->name;
    char base[256];
    ObjectScene_BaseName(name, base, sizeof base);
    Level_MakeConfigPath(base, out, size);
}

Quat Multiply(const Quat& a, const Quat& b)
{
    return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
            a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

// The body's rotation since creation as a rotation vector (axis x angle,
// angle in -pi..pi).
Vec3 RotationSinceStart(const HingeVelBlock* block, PhysBody* body)
{
    Quat now = PhysBody_GetRotation(body);
    Quat start = block->startRotation;
    Quat inverse = {-start.x, -start.y, -start.z, start.w};
    Quat q = Multiply(now, inverse);
    if (q.w < 0.0f) q = {-q.x, -q.y, -q.z, -q.w};
    float s = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z);
    if (s < 1e-7f) return {0.0f, 0.0f, 0.0f};
    float angle = 2.0f * std::atan2(s, q.w);
    float k = angle / s;
    return {q.x * k, q.y * k, q.z * k};
}

float& Axis(Vec3& v, int i) { return i == 0 ? v.x : (i == 1 ? v.y : v.z); }

void StopSound(HingeVelBlock* block)
{
    Sound_Release(block->sound);
    block->sound = nullptr;
}

MagnetRecord* MagnetOf(const Object* object)
{
    return object && Object_GetUserInt(object) == MAGNET_USER_INT ? (MagnetRecord*)Object_GetUserData(object)
                                                                   : nullptr;
}

HingeVelBlock* HingeOf(const Object* object)
{
    return object && Object_GetUserInt(object) == HINGEVEL_USER_INT ? (HingeVelBlock*)Object_GetUserData(object)
                                                                     : nullptr;
}

}  // namespace

void VavadUtils_RegisterPhysicsObjects(void)
{
    CallbackRegistry_AddFn("VavadUtils_Magnet_Constructor", VavadUtils_Magnet_Constructor);
    CallbackRegistry_AddFn("VavadUtils_Magnet_Destructor", VavadUtils_Magnet_Destructor);
    CallbackRegistry_AddFn("VavadUtils_Magnet_Update", VavadUtils_Magnet_Update);
    CallbackRegistry_AddFn("VavadUtils_Magnet_Collision", VavadUtils_EmptyCollision);
    CallbackRegistry_AddFn("VavadUtils_HingeVelChange_Constructor", VavadUtils_HingeVelChange_Constructor);
    CallbackRegistry_AddFn("VavadUtils_HingeVelChange_Destructor", VavadUtils_HingeVelChange_Destructor);
    CallbackRegistry_AddFn("VavadUtils_HingeVelChange_Update", VavadUtils_HingeVelChange_Update);
    CallbackRegistry_AddFn("VavadUtils_HingeVelChange_Collision", VavadUtils_EmptyCollision);
    CallbackRegistry_AddFn("VavadUtils_GenericObject_Constructor", VavadUtils_GenericObject_Constructor);
    CallbackRegistry_AddFn("VavadUtils_GenericObject_Destructor", VavadUtils_GenericObject_Destructor);
    CallbackRegistry_AddFn("VavadUtils_GenericObject_Update", VavadUtils_GenericObject_Update);
}

// ---------------------------------------------------------------- Hinge velocity

int HingeVel_Load(ConfigNode* reader, const char* section, Object* object, HingeVelBlock* block)
{
    if (!block) return 0;
    *block = HingeVelBlock{};
    block->object = object;
    block->axis = {0.0f, 0.0f, 1.0f};
    block->startRotation = {0.0f, 0.0f, 0.0f, 1.0f};
    block->startAt = {0.0f, 0.0f, 1.0f};
    block->startUp = {0.0f, 1.0f, 0.0f};
    if (object) {
        Vec3 up;
        if (object->node) Node_GetWorldOrientation(object->node, &block->axis, &up);
        if (object->body) {
            PhysBody_GetPosition(object->body, &block->startPosition);
            block->startRotation = PhysBody_GetRotation(object->body);
            PhysBody_GetAxes(object->body, &block->startAt, &block->startUp);
        }
    }
    if (!reader) return 1;
    const char* s = section ? section : "";
    char key[1024];
    auto Key = [&](const char* name, int n) -> const char* {
        char part[128];
        snprintf(part, sizeof part, name, n);
        snprintf(key, sizeof key, "%s::%s", s, part);
        return key;
    };
    Config_GetBool(reader, Key("HingeVel_HingeLimits", 0), &block->limits);
    Config_GetFloat(reader, Key("HingeVel_SoundTriggerVel", 0), &block->triggerVel);
    Config_GetFloat(reader, Key("HingeVel_SoundUnTriggerVel", 0), &block->untriggerVel);
    for (uint32_t n = 0;; ++n) {
        float velocity = 0.0f;
        if (!Config_GetFloat(reader, Key("HingeVel_TargetVel%d", (int)n), &velocity)) break;
        size_t size = sizeof(HingeVelState) * (n + 1);
        auto* grown = (HingeVelState*)Mem_Recalloc(block->states, 8, size);
        if (!grown || Mem_GetSize(grown) < size) return 0;
        block->states = grown;
        HingeVelState* state = &grown[n];
        *state = HingeVelState{};
        float angle = 0.0f;
        Config_GetFloat(reader, Key("HingeVel_TargetAngle%d", (int)n), &angle);
        Config_GetFloat(reader, Key("HingeVel_VelPerSec%d", (int)n), &state->velPerSec);
        Config_GetFloat(reader, Key("HingeVel_TimeInState%d", (int)n), &state->time);
        if (block->limits) velocity = std::fabs(velocity);
        Vec3_Scale(&state->targetAngle, &block->axis, DegToRad(angle));
        Vec3_Scale(&state->targetVelocity, &block->axis, velocity);
        block->stateCount = n + 1;
    }
    char sounds[1024];
    snprintf(sounds, sizeof sounds, s[0] ? "%s::SOUNDS" : "SOUNDS", s);
    const char* oldSection = Config_GetSection(reader);
    char saved[CONFIG_TEXT_MAX];
    snprintf(saved, sizeof saved, "%s", oldSection ? oldSection : "");
    Config_SetSection(reader, nullptr);
    SoundBank_LoadSection(reader, sounds, &block->soundGroup);
    Config_SetSection(reader, oldSection ? saved : nullptr);
    return 1;
}

void HingeVel_Step(HingeVelBlock* block, float dt)
{
    if (!block || !block->object) return;
    Object* object = block->object;
    PhysBody* body = object->body;
    Vec3 w = {0, 0, 0};
    PhysBody_GetAngularVelocity(body, &w);

    if (block->soundGroup || (object->animSet && AnimSet_GetCount(object->animSet) >= 2)) {
        Vec3 along = {w.x * block->axis.x, w.y * block->axis.y, w.z * block->axis.z};
        float speed = std::sqrt(Vec3_LengthSq(&along));
        float now = Level_GetClock();
        if (speed <= block->triggerVel) block->lastBelowTrigger = now;
        if (speed >= block->untriggerVel) block->lastAboveUntrigger = now;
        if (speed > block->triggerVel && now - block->lastBelowTrigger > 0.1f && !block->moving) {
            block->moving = 1;
            StopSound(block);
            if (block->soundGroup)
                block->sound = SoundBank_Play("movement", block->soundGroup, 0, 1.0f, 0, object->node);
            if (object->animSet) AnimSet_PlayIndex(object->animSet, 1);
        } else if (speed < block->untriggerVel && now - block->lastAboveUntrigger > 0.1f && block->moving) {
            block->moving = 0;
            StopSound(block);
            if (object->animSet) AnimSet_PlayIndex(object->animSet, 0);
        }
    }

    if (!block->stateCount) return;
    block->timeInState += dt;
    uint32_t start = block->current;
    while (block->timeInState > block->states[block->current].time) {
        block->timeInState -= block->states[block->current].time;
        block->current = (block->current + 1) % block->stateCount;
        if (block->current == start) break;
    }
    const HingeVelState& state = block->states[block->current];
    Vec3 target = state.targetVelocity;
    Vec3 step;
    Vec3_Scale(&step, &block->axis, dt * state.velPerSec);
    if (block->limits) {
        Vec3 angle = RotationSinceStart(block, body);
        Vec3 goal = state.targetAngle;
        for (int i = 0; i < 3; ++i) {
            float diff = Axis(goal, i) - Axis(angle, i);
            if (diff < 0.0f) Axis(target, i) = -Axis(target, i);
            if (std::fabs(diff) < 0.1f) Axis(target, i) *= std::fabs(diff) * 10.0f;
        }
    }
    for (int i = 0; i < 3; ++i) Axis(w, i) = Math_MoveTowards(Axis(w, i), Axis(target, i), Axis(step, i));
    PhysBody_SetAngularVelocity(body, &w);
}

void HingeVel_Reset(HingeVelBlock* block)
{
    if (!block || !block->object) return;
    PhysBody* body = block->object->body;
    PhysBody_SetPosition(body, &block->startPosition);
    PhysBody_SetOrientation(body, &block->startUp, &block->startAt);
    PhysBody_ZeroVelocities(body);
    block->current = 0;
    block->timeInState = 0.0f;
    block->moving = 0;
    StopSound(block);
}

void HingeVel_Free(HingeVelBlock* block)
{
    if (!block) return;
    StopSound(block);
    SoundBank_ReleaseGroup(block->soundGroup);
    block->soundGroup = 0;
    Mem_Free(block->states);
    block->states = nullptr;
    block->stateCount = 0;
}

// ---------------------------------------------------------------- Magnets

void Magnet_ReadParams(ConfigNode* reader, MagnetParams* p)
{
    if (!p) return;
    *p = MagnetParams{40.0f, 2.0f, 360.0f, 20.0f, {0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 0.0f}};
    if (reader) {
        float v[3];
        Config_GetFloat(reader, "MagnetData::strength", &p->strength);
        Config_GetFloat(reader, "MagnetData::falloff", &p->falloff);
        Config_GetFloat(reader, "MagnetData::angle", &p->angle);
        Config_GetFloat(reader, "MagnetData::distance", &p->distance);
        if (Config_GetVector3(reader, "MagnetData::direction", v)) p->direction = {v[0], v[1], v[2]};
        if (Config_GetVector3(reader, "MagnetData::position", v)) p->position = {v[0], v[1], v[2]};
    }
    p->angle = DegToRad(p->angle);
}

void VavadUtils_MagnetSetBody(uint32_t typeHash, PhysBody* body, int inside)
{
    for (uint32_t i = 0; i < VavadUtils_GetMagnetCount(); ++i) {
        MagnetRecord* m = MagnetOf(VavadUtils_GetMagnet(i));
        if (m && m->typeHash == typeHash && m->field) PhysField_SetBodyInside(m->field, body, inside);
    }
}

uint32_t VavadUtils_Magnet_Constructor(Object* object, uint32_t, void* arg)
{
    if (!object) return 0;
    auto* t = (ObjectTemplate*)arg;
    char path[1024];
    ObjectConfigPath(object, path, sizeof path);
    Object_PlaceAtItemNode(object);
    auto* m = (MagnetRecord*)Mem_Calloc(sizeof(MagnetRecord), 16);
    if (!m) return 0;
    m->typeHash = t ? Name_Hash(t->stringVal[0], 1, 1) : 0;
    ConfigNode* reader = Config_Open(path);
    MagnetParams params;
    Magnet_ReadParams(reader, &params);
    HingeVel_Load(reader, "MagnetData", object, &m->hinge);
    if (reader) Config_Close(reader);
    m->field = PhysField_Create(ObjectWorld_GetPhysicsWorld(), params.strength, params.falloff, params.angle,
                                params.distance, &params.position, &params.direction, object->body);
    PhysBody_SetActive(object->body, 1);
    Object_SetUserData(object, m);
    Object_SetUserInt(object, MAGNET_USER_INT);
    VavadUtils_AddMagnet(object);
    return 0;
}

uint32_t VavadUtils_Magnet_Destructor(Object* object, uint32_t, void*)
{
    MagnetRecord* m = MagnetOf(object);
    if (!m) return 0;
    VavadUtils_RemoveMagnet(object);
    PhysField_Destroy(ObjectWorld_GetPhysicsWorld(), m->field);
    HingeVel_Free(&m->hinge);
    Mem_Free(m);
    Object_SetUserData(object, nullptr);
    return 0;
}

uint32_t VavadUtils_Magnet_Update(Object* object, uint32_t, void* arg)
{
    MagnetRecord* m = MagnetOf(object);
    if (!m || !arg) return 0;
    float dt = *(const float*)arg;
    Object_AdvanceAnimation(object, dt);
    HingeVel_Step(&m->hinge, dt);
    if (Level_GetEvents() & LEVEL_EVENT_RESPAWN) HingeVel_Reset(&m->hinge);
    return 0;
}

// ---------------------------------------------------------------- Hinge velocity changers

uint32_t VavadUtils_HingeVelChange_Constructor(Object* object, uint32_t, void*)
{
    if (!object) return 0;
    char path[1024];
    ObjectConfigPath(object, path, sizeof path);
    Object_PlaceAtItemNode(object);
    auto* block = (HingeVelBlock*)Mem_Calloc(sizeof(HingeVelBlock), 16);
    if (!block) return 0;
    ConfigNode* reader = Config_Open(path);
    HingeVel_Load(reader, "HingeVelChangeData", object, block);
    if (reader) Config_Close(reader);
    Object_SetUserData(object, block);
    Object_SetUserInt(object, HINGEVEL_USER_INT);
    PhysBody_SetActive(object->body, 1);
    return 0;
}

uint32_t VavadUtils_HingeVelChange_Destructor(Object* object, uint32_t, void*)
{
    HingeVelBlock* block = HingeOf(object);
    if (!block) return 0;
    HingeVel_Free(block);
    Mem_Free(block);
    Object_SetUserData(object, nullptr);
    return 0;
}

uint32_t VavadUtils_HingeVelChange_Update(Object* object, uint32_t, void* arg)
{
    HingeVelBlock* block = HingeOf(object);
    if (!block || !arg) return 0;
    float dt = *(const float*)arg;
    Object_AdvanceAnimation(object, dt);
    HingeVel_Step(block, dt);
    if (Level_GetEvents() & LEVEL_EVENT_RESPAWN) HingeVel_Reset(block);
    return 0;
}

uint32_t VavadUtils_EmptyCollision(Object*, Object*, uint32_t) { return 0; }

// ---------------------------------------------------------------- Generic objects

uint32_t VavadUtils_GenericObject_Constructor(Object* object, uint32_t, void*)
{
    if (!object) return 0;
    Object_PlaceAtItemNode(object);
    auto* g = (GenericObjectRecord*)Mem_Calloc(sizeof(GenericObjectRecord), 16);
    if (!g) return 0;
    g->at = {0.0f, 0.0f, 1.0f};
    g->up = {0.0f, 1.0f, 0.0f};
    Object_GetTransform(object, &g->position, &g->up, &g->at);
    if (object->animSet) AnimSet_SetTime(object->animSet, 0.0f);
    Object_SetUserData(object, g);
    Object_SetUserInt(object, GENERIC_USER_INT);
    return 0;
}

uint32_t VavadUtils_GenericObject_Destructor(Object* object, uint32_t, void*)
{
    if (!object || Object_GetUserInt(object) != GENERIC_USER_INT) return 0;
    Mem_Free(Object_GetUserData(object));
    Object_SetUserData(object, nullptr);
    return 0;
}

uint32_t VavadUtils_GenericObject_Update(Object* object, uint32_t, void* arg)
{
    if (!object || !arg || Object_GetUserInt(object) != GENERIC_USER_INT) return 0;
    auto* g = (GenericObjectRecord*)Object_GetUserData(object);
    float dt = *(const float*)arg;
    uint32_t events = Level_GetEvents();
    if (!(events & LEVEL_EVENT_FREEZE)) Object_AdvanceAnimation(object, dt);
    if (!g || !object->body || !(events & LEVEL_EVENT_RESPAWN)) return 0;
    if (object->node) Node_SetFlags(object->node, NODE_HIDDEN, 0);
    PhysBody_SetPhantom(object->body, (object->flags & OBJECT_PHANTOM) ? 1 : 0);
    if (object->animSet) {
        AnimSet_PlayIndex(object->animSet, 0);
        AnimSet_SetTime(object->animSet, 0.0f);
    }
    PhysBody_SetPosition(object->body, &g->position);
    PhysBody_SetOrientation(object->body, &g->up, &g->at);
    PhysBody_ZeroVelocities(object->body);
    PhysBody_SetActive(object->body, (object->flags & OBJECT_ACTIVE) ? 1 : 0);
    return 0;
}
