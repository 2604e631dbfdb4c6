#include "game/modes/vehicle_common.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/config.h"
#include "app/soundbank.h"
#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/game_context.h"
#include "game/game_log.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/viewports.h"

namespace {

bool AllFinite(const float* v, int n)
{
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

}  // namespace

int VehicleKeys_Read(ConfigNode* reader, const char* section, const VehicleKey* keys, size_t count, void* data,
                     const char* modeName)
{
    if (!reader || !keys || !data) return 0;
    char path[256];
    int stored = 0;
    for (size_t i = 0; i < count; ++i) {
        const VehicleKey& k = keys[i];
        snprintf(path, sizeof path, "%s::%s", section ? section : "", k.name);
        unsigned char* field = (unsigned char*)data + k.offset;
        float v[3] = {0.0f, 0.0f, 0.0f};
        int n = 1;
        bool found = false;
        switch (k.kind) {
        case VKEY_INT: {
            int32_t value = 0;
            if (Config_GetInt(reader, path, &value)) {
                memcpy(field, &value, sizeof value);
                ++stored;
            }
            continue;
        }
        case VKEY_FLAG: {
            uint32_t on = 0, word = 0;
            if (Config_GetBool(reader, path, &on)) {
                memcpy(&word, field, sizeof word);
                word = on ? (word | k.bit) : (word & ~k.bit);
                memcpy(field, &word, sizeof word);
                ++stored;
            }
            continue;
        }
        case VKEY_VEC3:
        case VKEY_VEC3_ABS:
            n = 3;
            found = Config_GetVector3(reader, path, v) != 0;
            break;
        case VKEY_VEC2_DEGREES:
        case VKEY_VEC2_DEGREES_ABS:
            n = 2;
            found = Config_GetVector2(reader, path, v) != 0;
            break;
        default: found = Config_GetFloat(reader, path, v) != 0; break;
        }
        if (!found) continue;
        if (!AllFinite(v, n)) {
            GameLog_Printf("%s: %s is not a finite number; the key is ignored", modeName ? modeName : "mode", path);
            continue;
        }
        for (int j = 0; j < n; ++j) {
            switch (k.kind) {
            case VKEY_FLOAT_ABS:
            case VKEY_VEC3_ABS: v[j] = std::fabs(v[j]); break;
            case VKEY_DEGREES:
            case VKEY_VEC2_DEGREES: v[j] *= VEHICLE_DEG_TO_RAD; break;
            case VKEY_DEGREES_ABS:
            case VKEY_VEC2_DEGREES_ABS: v[j] = std::fabs(v[j]) * VEHICLE_DEG_TO_RAD; break;
            case VKEY_PERCENT: v[j] *= 0.01f; break;
            case VKEY_QUARTER: v[j] *= 0.25f; break;
            case VKEY_HALF_DEGREES: v[j] *= 0.5f * VEHICLE_DEG_TO_RAD; break;
            case VKEY_COS_DEGREES: {
                float degrees = v[j] < 0.0f ? 0.0f : (v[j] > 180.0f ? 180.0f : v[j]);
                v[j] = std::cos(degrees * VEHICLE_DEG_TO_RAD);
                break;
            }
            default: break;
            }
        }
        memcpy(field, v, sizeof(float) * (size_t)n);
        ++stored;
    }
    return stored;
}

void Vehicle_SectionName(int32_t pass, char* out, size_t size)
{
    if (pass == 0) snprintf(out, size, "controlData");
    else snprintf(out, size, "controlData_%d", pass);
}

float Vehicle_Finite(float value, float fallback) { return std::isfinite(value) ? value : fallback; }

int Vehicle_AddTypeBit(uint32_t* mask, int32_t n, const char* modeName, const char* key)
{
    if (n >= 1 && n <= 32) {
        *mask |= 1u << (n - 1);
        return 1;
    }
    GameLog_Printf("%s: %s = %d is no entity type (1..32); it sets no bit", modeName ? modeName : "mode",
                   key ? key : "?", n);
    return 0;
}

int Vehicle_ReadTypeList(ConfigNode* reader, const char* section, const char* prefix, uint32_t* mask,
                         const char* modeName)
{
    char path[256];
    int set = 0;
    for (int i = 0; i < 32; ++i) {
        snprintf(path, sizeof path, "%s::%s%d", section ? section : "", prefix, i);
        int32_t n = 0;
        if (!Config_GetInt(reader, path, &n)) break;
        set += Vehicle_AddTypeBit(mask, n, modeName, path);
    }
    return set;
}

Node* Vehicle_CameraFrame(const EntityRecord* record)
{
    return record && record->player ? Viewport_GetCameraFrame((int)record->player - 1) : nullptr;
}

View* Vehicle_WorldView(const EntityRecord* record)
{
    return record && record->player ? Viewport_GetWorldView((int)record->player - 1) : nullptr;
}

int Vehicle_PlayAnim(EntityRecord* record, int32_t id, uint32_t slot)
{
    if (!record || slot >= record->animSlotCount || record->animSlots[slot].current == id) return 0;
    if (Entity_PlayAnim(record, id, slot, 0.0f)) return 1;
    Entity_SetAnimFlags(record, slot, ANIMSLOT_PLAYING, 0);
    return 0;
}

int32_t Vehicle_CurrentAnim(const EntityRecord* record, uint32_t slot)
{
    return record && slot < record->animSlotCount ? record->animSlots[slot].current : -1;
}

int Vehicle_AnimPlaying(const EntityRecord* record, uint32_t slot)
{
    return Entity_TestAnimFlags(record, slot, ANIMSLOT_PLAYING);
}

void Vehicle_PlayRandomSound(EntityRecord* record, const char* name, uint32_t count)
{
    if (!record || count == 0) return;
    Vehicle_PlaySound(record, name, (uint32_t)Game_Rand() % count);
}

void Vehicle_PlaySound(EntityRecord* record, const char* name, uint32_t index)
{
    if (!record) return;
    SoundBank_Play(name, record->soundGroup, index, 1.0f, 0, Entity_GetAnimObject(record, 0));
}

void Vehicle_TakeCheckpoint(EntityRecord* record, Object* checkpoint)
{
    if (!record || !record->player || !checkpoint) return;
    const int player = (int)record->player - 1;
    Object* previous = (Object*)Player_GetUserWord(player);
    if (previous == checkpoint) return;
    HitModeObject_PlayIndex(checkpoint, 1, 1, record->player);
    HitModeObject_ChooseNext(checkpoint, 2);
    if (checkpoint->node) {
        Node_GetWorldPosition(checkpoint->node, &record->startPosition);
        Node_GetWorldOrientation(checkpoint->node, &record->startAt, &record->startUp);
    } else if (const HitModeRecord* r = HitModeObject_GetRecord(checkpoint)) {
        record->startPosition = r->position;
        record->startAt = r->at;
        record->startUp = r->up;
    }
    Player_SetUserWord(player, checkpoint);
    if (previous) HitModeObject_PlayIndex(previous, 0, 1, 0);
}

void Vehicle_ClearCheckpoint(EntityRecord* record)
{
    if (!record || !record->player) return;
    const int player = (int)record->player - 1;
    if (Object* checkpoint = (Object*)Player_GetUserWord(player)) HitModeObject_PlayIndex(checkpoint, 0, 1, 0);
    Player_SetUserWord(player, nullptr);
}

Vec3 Vehicle_BodyPosition(const Object* object)
{
    Vec3 p = {0.0f, 0.0f, 0.0f};
    if (object && object->body) PhysBody_GetPosition(object->body, &p);
    return p;
}

Vec3 Vehicle_BodyVelocity(const Object* object)
{
    Vec3 v = {0.0f, 0.0f, 0.0f};
    if (object && object->body) PhysBody_GetLinearVelocity(object->body, &v);
    return v;
}

Vec3 Vehicle_ObjectUp(const Object* object)
{
    Vec3 at = {0.0f, 0.0f, 1.0f}, up = {0.0f, 1.0f, 0.0f};
    if (object && object->node) {
        Node_GetWorldOrientation(object->node, &at, &up);
    } else if (const HitModeRecord* r = HitModeObject_GetRecord(object)) {
        up = r->up;
    }
    return up;
}
