// The four fire modes of projectiles: their data loaders and callbacks.
#include "game/projectile_modes.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/config.h"
#include "common/memory.h"
#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/game_context.h"
#include "game/projectile.h"

namespace {

const Vec3 kYAxis = {0.0f, 1.0f, 0.0f};

float DegToRad(float degrees) { return degrees * 0.0027777778f * 6.2831855f; }

bool Two(ConfigNode* reader, const char* key, float* out)
{
    float v[2];
    if (!Config_GetVector2(reader, key, v)) return false;
    out[0] = v[0];
    out[1] = v[1];
    return true;
}

bool TwoAngles(ConfigNode* reader, const char* key, float* out, bool absolute)
{
    if (!Two(reader, key, out)) return false;
    for (int i = 0; i < 2; ++i) {
        out[i] = DegToRad(out[i]);
        if (absolute) out[i] = std::fabs(out[i]);
    }
    return true;
}

void TwoAbs(float* v)
{
    v[0] = std::fabs(v[0]);
    v[1] = std::fabs(v[1]);
}

// Turns at about right = up x at by -angle (the pitch grows by angle), then
// rebuilds up.
void Pitch(Vec3* at, Vec3* up, float angle)
{
    Vec3 right;
    Vec3_Cross(&right, up, at);
    Vec3_RotateAxis(at, at, &right, -angle);
    Vec3_Cross(up, at, &right);
    Vec3_Normalise(up);
}

// Turns at and up about the vertical by -angle (the heading grows by angle).
void Heading(Vec3* at, Vec3* up, float angle)
{
    Vec3_RotateAxis(at, at, &kYAxis, -angle);
    Vec3_RotateAxis(up, up, &kYAxis, -angle);
}

float Spread(float d, float factor, float min, float max)
{
    float spread = std::fabs(d) * factor;
    if (spread < min) spread = min;
    if (spread > max) spread = max;
    return spread;
}

float RandomOffset() { return (float)(Game_Rand() % 1000) * 0.001f - 0.5f; }

void SetNodeOrientation(Object* projectile, const Vec3& at, const Vec3& up)
{
    if (projectile->node) Node_SetWorldOrientation(projectile->node, &at, &up);
}

template <typename T>
int InitBlock(ProjectileRecord* record)
{
    Mem_Free(record->modeData);
    record->modeData = Mem_Calloc(sizeof(T), 16);
    record->modeDataSize = record->modeData ? sizeof(T) : 0;
    return record->modeData != nullptr;
}

int ProjThrow_Init(ProjectileRecord* record) { return InitBlock<ProjThrowData>(record); }
int ProjStraight_Init(ProjectileRecord* record) { return InitBlock<ProjStraightData>(record); }
// FRAME_FOLLOW shares this init and its block size.
int ProjHoming_Init(ProjectileRecord* record) { return InitBlock<ProjHomingData>(record); }

void Detach(ProjectileRecord*) {}
void Collision(ProjectileRecord*) {}

// ---------------------------------------------------------------- THROW

void ProjThrow_Update(Object*, ProjectileRecord*, float) {}

void ProjThrow_Fire(Object* projectile, ProjectileRecord* record, ProjLaunch* launch)
{
    auto* d = (ProjThrowData*)record->modeData;
    if (!d) return;
    if (d->pitchChange != 0.0f) {
        Vec3 right;
        Vec3_Cross(&right, &launch->up, &launch->at);
        Vec3_RotateAxis(&launch->at, &launch->at, &right, d->pitchChange);
        Vec3_Cross(&launch->up, &launch->at, &right);
        Vec3_Normalise(&launch->up);
    }
    if (d->headingChange != 0.0f) Heading(&launch->at, &launch->up, d->headingChange);
    SetNodeOrientation(projectile, launch->at, launch->up);
    PhysBody_SetOrientation(projectile->body, &launch->up, &launch->at);
    Vec3 v;
    Vec3_Scale(&v, &launch->at, d->speed);
    PhysBody_SetLinearVelocity(projectile->body, &v);
}

// ---------------------------------------------------------------- STRAIGHT

void ProjStraight_Fire(Object* projectile, ProjectileRecord* record, ProjLaunch* launch)
{
    auto* d = (ProjStraightData*)record->modeData;
    if (!d) return;
    if (launch->node && record->ownerBody && (d->aimLimit[0] != 0.0f || d->aimLimit[1] != 0.0f)) {
        Vec3 target, from, dir;
        Node_GetWorldPosition(launch->node, &target);
        PhysBody_GetPosition(record->ownerBody, &from);
        Vec3_Sub(&dir, &target, &from);
        Vec3_Normalise(&dir);
        if (d->aimLimit[0] != 0.0f) {
            float delta = Angle_Diff(Vec3_Pitch(&launch->at), Vec3_Pitch(&dir), 1, 1);
            if (std::fabs(delta) < d->aimLimit[0]) {
                float spread = Spread(delta, d->randomMultiply[0], d->randomMin[0], d->randomMax[0]);
                Pitch(&launch->at, &launch->up, delta - RandomOffset() * spread);
            }
        }
        if (d->aimLimit[1] != 0.0f) {
            float delta = Angle_Diff(Vec3_Heading(&launch->at), Vec3_Heading(&dir), 1, 1);
            if (std::fabs(delta) < d->aimLimit[1]) {
                float spread = Spread(delta, d->randomMultiply[1], d->randomMin[1], d->randomMax[1]);
                Heading(&launch->at, &launch->up, delta - RandomOffset() * spread);
            }
        }
    }
    if (!(record->flags & (PROJ_KEEP_ORIENTATION | PROJ_ORIENTATION_RESET)))
        SetNodeOrientation(projectile, launch->at, launch->up);
    Vec3_Scale(&d->velocity, &launch->at, d->speed);
}

void ProjStraight_Update(Object* projectile, ProjectileRecord* record, float)
{
    auto* d = (ProjStraightData*)record->modeData;
    if (d) PhysBody_SetLinearVelocity(projectile->body, &d->velocity);
}

// ---------------------------------------------------------------- HOMING

void ProjHoming_Fire(Object*, ProjectileRecord* record, ProjLaunch* launch)
{
    auto* d = (ProjHomingData*)record->modeData;
    if (d) d->target = launch->node;
}

float ClampDeviation(float value, float start, float maxChange)
{
    if (maxChange == 0.0f) return value;
    if (value < start - maxChange) return start - maxChange;
    if (value > start + maxChange) return start + maxChange;
    return value;
}

void ProjHoming_Update(Object* projectile, ProjectileRecord* record, float dt)
{
    auto* d = (ProjHomingData*)record->modeData;
    if (!d || !projectile->node) return;
    Vec3 at = {0.0f, 0.0f, 1.0f}, up = kYAxis;
    Node_GetWorldOrientation(projectile->node, &at, &up);
    if (d->target && (d->turnRate[0] != 0.0f || d->turnRate[1] != 0.0f)) {
        Vec3 target, position, dir;
        Node_GetWorldPosition(d->target, &target);
        PhysBody_GetPosition(projectile->body, &position);
        Vec3_Sub(&dir, &target, &position);
        if (Vec3_LengthSq(&dir) != 0.0f) Vec3_Normalise(&dir);
        if (d->turnRate[0] != 0.0f) {
            float step = Angle_Diff(Vec3_Pitch(&at), Vec3_Pitch(&dir), 1, 1);
            float limit = dt * d->turnRate[0];
            if (step > limit) step = limit;
            if (step < -limit) step = -limit;
            Pitch(&at, &up, step);
        }
        if (d->turnRate[1] != 0.0f) {
            float step = Angle_Diff(Vec3_Heading(&at), Vec3_Heading(&dir), 1, 1);
            float limit = dt * d->turnRate[1];
            if (step > limit) step = limit;
            if (step < -limit) step = -limit;
            Heading(&at, &up, step);
        }
    }
    SetNodeOrientation(projectile, at, up);
    Vec3 v;
    Vec3_Scale(&v, &at, d->speed);
    PhysBody_SetLinearVelocity(projectile->body, &v);

    if (d->speedChange != 0.0f) d->speed += dt * d->speedChange;
    d->speed = ClampDeviation(d->speed, d->startSpeed, d->maxSpeedChange);
    for (int i = 0; i < 2; ++i) {
        if (d->turnRateChange[i] != 0.0f) d->turnRate[i] += dt * d->turnRateChange[i];
        if (d->turnRate[i] < 0.0f) d->turnRate[i] = 0.0f;
        d->turnRate[i] = ClampDeviation(d->turnRate[i], d->startTurnRate[i], d->turnRateMaxChange[i]);
    }
}

// ---------------------------------------------------------------- FRAME_FOLLOW

void ProjFrameFollow_Fire(Object*, ProjectileRecord* record, ProjLaunch* launch)
{
    auto* d = (ProjFrameFollowData*)record->modeData;
    if (d) d->node = launch->node;
}

void ProjFrameFollow_Update(Object* projectile, ProjectileRecord* record, float)
{
    auto* d = (ProjFrameFollowData*)record->modeData;
    if (!d || !d->node || !projectile->body) return;
    Vec3 p, at, up;
    Node_GetWorldPosition(d->node, &p);
    Node_GetWorldOrientation(d->node, &at, &up);
    PhysBody_SetPosition(projectile->body, &p);
    PhysBody_SetOrientation(projectile->body, &up, &at);
    PhysBody_ResetMotion(projectile->body, 0);
}

const ProjModeCallbacks kCallbacks[PROJMODE_COUNT] = {
    {ProjThrow_Init, Detach, ProjThrow_Update, Collision, ProjThrow_Fire},
    {ProjStraight_Init, Detach, ProjStraight_Update, Collision, ProjStraight_Fire},
    {ProjHoming_Init, Detach, ProjHoming_Update, Collision, ProjHoming_Fire},
    {ProjHoming_Init, Detach, ProjFrameFollow_Update, Collision, ProjFrameFollow_Fire},
};

static_assert(sizeof(ProjFrameFollowData) <= sizeof(ProjHomingData), "the shared init's block holds the followed node");

}  // namespace

const ProjModeCallbacks* ProjMode_GetCallbacks(uint32_t mode) { return mode < PROJMODE_COUNT ? &kCallbacks[mode] : nullptr; }

size_t ProjMode_GetDataSize(uint32_t mode)
{
    switch (mode) {
    case PROJMODE_THROW: return sizeof(ProjThrowData);
    case PROJMODE_STRAIGHT: return sizeof(ProjStraightData);
    case PROJMODE_HOMING: return sizeof(ProjHomingData);
    case PROJMODE_FRAME_FOLLOW: return sizeof(ProjHomingData);
    default: return 0;
    }
}

ProjModeLoader ProjMode_GetLoader(uint32_t mode)
{
    switch (mode) {
    case PROJMODE_THROW: return ProjThrow_Load;
    case PROJMODE_STRAIGHT: return ProjStraight_Load;
    case PROJMODE_HOMING: return ProjHoming_Load;
    default: return nullptr;
    }
}

int ProjMode_ReadBlocks(ConfigNode* reader, uint32_t mode, void** blocks, uint32_t* count)
{
    if (!blocks || !count) return 0;
    *blocks = nullptr;
    *count = 0;
    ProjModeLoader loader = ProjMode_GetLoader(mode);
    size_t size = ProjMode_GetDataSize(mode);
    if (!reader || !loader || !size) return 0;
    uint8_t* block = (uint8_t*)Mem_Alloc(size, 16);
    uint8_t* all = nullptr;
    uint32_t n = 0;
    char section[64];
    while (block) {
        memset(block, 0, size);
        snprintf(section, sizeof section, "ProjectileModeData%u", n);
        Config_SetSection(reader, section);
        if (!loader(reader, block)) break;
        size_t total = size * (n + 1);
        auto* grown = (uint8_t*)Mem_Realloc(all, 16, total);
        if (!grown || Mem_GetSize(grown) < total) break;
        all = grown;
        memcpy(all + size * n, block, size);
        n++;
    }
    Mem_Free(block);
    *blocks = all;
    *count = n;
    return (int)n;
}

int ProjThrow_Load(ConfigNode* reader, void* block)
{
    auto* d = (ProjThrowData*)block;
    int found = 0;
    float v[2];
    if (TwoAngles(reader, "launchAngleChange", v, false)) {
        d->pitchChange = v[0];
        d->headingChange = v[1];
        found = 1;
    }
    found |= Config_GetFloat(reader, "velocity", &d->speed);
    return found;
}

int ProjStraight_Load(ConfigNode* reader, void* block)
{
    auto* d = (ProjStraightData*)block;
    int found = Config_GetFloat(reader, "velocity", &d->speed);
    found |= TwoAngles(reader, "maxAutoAngleChange", d->aimLimit, true);
    found |= TwoAngles(reader, "minRandomRange", d->randomMin, true);
    found |= TwoAngles(reader, "maxRandomRange", d->randomMax, true);
    if (Two(reader, "randomRangeMultiply", d->randomMultiply)) {
        TwoAbs(d->randomMultiply);
        found = 1;
    }
    return found ? 1 : 0;
}

int ProjHoming_Load(ConfigNode* reader, void* block)
{
    auto* d = (ProjHomingData*)block;
    int found = 0;
    if (Config_GetFloat(reader, "velocity", &d->speed)) {
        d->startSpeed = d->speed;
        found = 1;
    }
    if (TwoAngles(reader, "changeDirSpeed", d->turnRate, true)) {
        d->startTurnRate[0] = d->turnRate[0];
        d->startTurnRate[1] = d->turnRate[1];
        found = 1;
    }
    found |= TwoAngles(reader, "changeDirSpeedChangePerSecond", d->turnRateChange, false);
    found |= TwoAngles(reader, "changeDirSpeedMaxChange", d->turnRateMaxChange, true);
    found |= Config_GetFloat(reader, "velocityChangePerSecond", &d->speedChange);
    if (Config_GetFloat(reader, "maxVelocityChange", &d->maxSpeedChange)) {
        d->maxSpeedChange = std::fabs(d->maxSpeedChange);
        found = 1;
    }
    return found ? 1 : 0;
}
