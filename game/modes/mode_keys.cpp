// Table-driven key reading of the control modes.
#include "game/modes/mode_keys.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/config.h"
#include "common/maths.h"
#include "game/chase_camera.h"
#include "game/col_area.h"
#include "game/entity.h"
#include "game/game_log.h"
#include "game/projectile.h"

namespace {

float Convert(float v, ModeKeyConversion conversion)
{
    switch (conversion) {
    case MODEKEY_DEGREES:
        return ModeKeys_Radians(v);
    case MODEKEY_ABS:
        return std::fabs(v);
    case MODEKEY_ABS_DEGREES:
        return ModeKeys_Radians(std::fabs(v));
    case MODEKEY_PERCENT:
        return v * 0.01f;
    case MODEKEY_COSINE:
        v = v < 0.0f ? 0.0f : (v > 180.0f ? 180.0f : v);
        return std::cos(ModeKeys_Radians(v));
    case MODEKEY_UNIT:
        return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
    case MODEKEY_RAW:
        break;
    }
    return v;
}

// A component read from data: NaN refuses the whole key.
bool Usable(const float* v, int n)
{
    for (int i = 0; i < n; ++i)
        if (std::isnan(v[i])) return false;
    return true;
}

}  // namespace

float ModeKeys_Radians(float degrees) { return degrees * 6.2831855f / 360.0f; }

float ModeKeys_Finite(float value)
{
    if (std::isnan(value)) return 0.0f;
    if (value > MODEKEY_LIMIT) return MODEKEY_LIMIT;
    if (value < -MODEKEY_LIMIT) return -MODEKEY_LIMIT;
    return value;
}

void ModeKeys_SetDefaults(const ModeKeyTable* table, void* data)
{
    if (!table || !data) return;
    char* base = (char*)data;
    for (uint32_t i = 0; i < table->count; ++i) {
        const ModeKey& k = table->keys[i];
        char* field = base + k.offset;
        switch (k.kind) {
        case MODEKEY_FLOAT:
            memcpy(field, &k.defaultValue, sizeof(float));
            break;
        case MODEKEY_INT: {
            int32_t v = (int32_t)k.defaultValue;
            memcpy(field, &v, sizeof v);
            break;
        }
        case MODEKEY_BOOL: {
            uint32_t v = k.defaultValue != 0.0f ? 1u : 0u;
            memcpy(field, &v, sizeof v);
            break;
        }
        case MODEKEY_FLAG: {
            uint32_t word;
            memcpy(&word, field, sizeof word);
            word = k.defaultValue != 0.0f ? (word | k.flag) : (word & ~k.flag);
            memcpy(field, &word, sizeof word);
            break;
        }
        case MODEKEY_VEC2:
            memset(field, 0, 2 * sizeof(float));
            break;
        case MODEKEY_VEC3:
            memset(field, 0, sizeof(Vec3));
            break;
        }
    }
}

void ModeKeys_SectionName(ModeKeySection rule, int32_t pass, char* out, size_t size)
{
    if (!out || !size) return;
    if (rule == MODEKEY_LEVEL_SECTION && pass > 0)
        snprintf(out, size, "controlData_%d", (int)pass);
    else
        snprintf(out, size, "controlData");
}

int ModeKeys_ReadOne(const ModeKey* key, ConfigNode* reader, const char* section, void* data)
{
    if (!key || !reader || !section || !data) return 0;
    char path[256];
    snprintf(path, sizeof path, "%s::%s", section, key->name);
    char* field = (char*)data + key->offset;
    switch (key->kind) {
    case MODEKEY_FLOAT: {
        float v;
        if (!Config_GetFloat(reader, path, &v) || !Usable(&v, 1)) return 0;
        v = ModeKeys_Finite(Convert(ModeKeys_Finite(v), key->conversion));
        memcpy(field, &v, sizeof v);
        return 1;
    }
    case MODEKEY_INT: {
        int32_t v;
        if (!Config_GetInt(reader, path, &v)) return 0;
        memcpy(field, &v, sizeof v);
        return 1;
    }
    case MODEKEY_BOOL: {
        uint32_t v = 0;
        if (!Config_GetBool(reader, path, &v)) return 0;
        v = v ? 1u : 0u;
        memcpy(field, &v, sizeof v);
        return 1;
    }
    case MODEKEY_FLAG: {
        uint32_t v = 0, word;
        if (!Config_GetBool(reader, path, &v)) return 0;
        memcpy(&word, field, sizeof word);
        word = v ? (word | key->flag) : (word & ~key->flag);
        memcpy(field, &word, sizeof word);
        return 1;
    }
    case MODEKEY_VEC2:
    case MODEKEY_VEC3: {
        const int n = key->kind == MODEKEY_VEC2 ? 2 : 3;
        float v[3] = {0, 0, 0};
        int found = n == 2 ? Config_GetVector2(reader, path, v) : Config_GetVector3(reader, path, v);
        if (!found || !Usable(v, n)) return 0;
        for (int i = 0; i < n; ++i) v[i] = ModeKeys_Finite(Convert(ModeKeys_Finite(v[i]), key->conversion));
        memcpy(field, v, (size_t)n * sizeof(float));
        return 1;
    }
    }
    return 0;
}

int ModeKeys_Read(const ModeKeyTable* table, ConfigNode* reader, int32_t pass, void* data)
{
    if (!table || !reader || !data) return 0;
    char sections[2][64];
    ModeKeys_SectionName(MODEKEY_LEVEL_SECTION, pass, sections[MODEKEY_LEVEL_SECTION], sizeof sections[0]);
    ModeKeys_SectionName(MODEKEY_BASE_SECTION, pass, sections[MODEKEY_BASE_SECTION], sizeof sections[0]);
    int found = 0;
    for (uint32_t i = 0; i < table->count; ++i) {
        const ModeKey& k = table->keys[i];
        if (!ModeKeys_ReadOne(&k, reader, sections[k.section == MODEKEY_BASE_SECTION ? 1 : 0], data)) continue;
        found++;
        if (k.kind != MODEKEY_FLAG && k.flag && table->flagsOffset != MODEKEY_NO_FLAGS) {
            uint32_t word;
            memcpy(&word, (char*)data + table->flagsOffset, sizeof word);
            word |= k.flag;
            memcpy((char*)data + table->flagsOffset, &word, sizeof word);
        }
    }
    return found;
}

void ModeKeys_Warn(const char* mode, const char* key, const char* consequence)
{
    GameLog_Printf("%s: %s needs %s: %s", Entity_GetLoadingPath(), mode ? mode : "control mode", key ? key : "?",
                   consequence ? consequence : "the mode cannot play without it");
}

int ModeKeys_WarnMissing(const ModeKeyTable* table, const void* data, int routeDriven)
{
    if (!table || !data) return 0;
    int warnings = 0;
    const char* base = (const char*)data;
    for (uint32_t i = 0; i < table->count; ++i) {
        const ModeKey& k = table->keys[i];
        if (k.need == MODEKEY_OPTIONAL || (k.need == MODEKEY_NEEDED_BY_ROUTE && !routeDriven)) continue;
        // A vector counts as missing when no component is above 0.
        float value = 0.0f;
        if (k.kind == MODEKEY_FLOAT) {
            memcpy(&value, base + k.offset, sizeof value);
        } else if (k.kind == MODEKEY_INT) {
            int32_t v;
            memcpy(&v, base + k.offset, sizeof v);
            value = (float)v;
        } else if (k.kind == MODEKEY_VEC2 || k.kind == MODEKEY_VEC3) {
            float v[3] = {0, 0, 0};
            memcpy(v, base + k.offset, (k.kind == MODEKEY_VEC2 ? 2 : 3) * sizeof(float));
            value = std::fmax(v[0], std::fmax(v[1], v[2]));
        } else {
            continue;
        }
        if (value > 0.0f) continue;
        ModeKeys_Warn(table->mode, k.name, k.consequence);
        warnings++;
    }
    return warnings;
}

int ModeLoadPass_IsLast(ModeLoadPass* tracker, int32_t pass)
{
    if (!tracker) return 1;
    if (pass == 0 && ++tracker->firstPasses < 2) return 0;
    tracker->firstPasses = 0;
    return 1;
}

int ModeKeys_ReadTypeMask(ConfigNode* reader, const char* section, const char* format, uint32_t* mask,
                          const char* mode)
{
    if (!reader || !section || !format || !mask) return 0;
    int read = 0;
    for (int i = 0; i < 32; ++i) {
        char name[64], path[256];
        snprintf(name, sizeof name, format, i);
        snprintf(path, sizeof path, "%s::%s", section, name);
        int32_t v = 0;
        if (!Config_GetInt(reader, path, &v)) break;
        if (v != 0) read++;
        if (v >= 1 && v <= 32)
            *mask |= 1u << (v - 1);
        else if (v != 0)
            GameLog_Printf("%s: %s %s = %d is not a type number 1..32; no type bit set", Entity_GetLoadingPath(),
                           mode ? mode : "control mode", name, (int)v);
    }
    return read;
}

void ModeKeys_ReadGroups(ConfigNode* reader, const char* section, ChaseCamera** camera, WeaponList* weapons,
                         ColAreaList* areas)
{
    if (!reader || !section) return;
    char group[128];
    snprintf(group, sizeof group, "%s::genCamData", section);
    ChaseCamera_LoadConfig(reader, camera, group);
    snprintf(group, sizeof group, "%s::projectiles", section);
    ProjType_Load(weapons, reader, group);
    snprintf(group, sizeof group, "%s::colAreas", section);
    ColArea_Load(reader, group, areas);
}
