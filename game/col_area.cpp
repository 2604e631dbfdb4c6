#include "game/col_area.h"

#include <cmath>
#include <cstdio>

#include "app/config.h"
#include "common/hash.h"
#include "common/memory.h"
#include "engine/animset.h"

namespace {

// Degrees to radians in the order the data was tuned with: x 1/360, then x 2 pi.
float DegToRad(float degrees) { return degrees * 0.0027777778f * 6.2831855f; }

// Animation indices above 62 (negative ones included: the compare is unsigned) become 63.
uint32_t ClampIndex(int32_t value)
{
    uint32_t u = (uint32_t)value;
    return u > 62 ? 63 : u;
}

void SetActiveBits(ColArea* area, uint32_t first, uint32_t last)
{
    for (uint32_t i = first; i <= last; ++i) {
        if (i < 32)
            area->activeLow |= 1u << i;
        else
            area->activeHigh |= 1u << (i - 32);
    }
}

const char* const kTypeNames[OBJTYPE_COUNT] = {
    "PICKUP",        "SPRINGBOARD", "CHECKPOINT", "DEATHAREA",      "KILLAREA", "ENDAREA", "ENDAREATRIGGER",
    "HITANIMCHANGE", "WAYPOINT",    "DAMAGE",     "SPECIAL_DAMAGE", "SWORD",    "HEALTH",  "SCORE",
};

}  // namespace

int ColArea_Load(ConfigNode* reader, const char* section, ColAreaList* list)
{
    if (!reader || !list) return 0;
    if (!section) section = "";
    char key[1024];
    int added = 0;
    for (int i = 0;; ++i) {
        float val1 = 0.0f, val2 = 0.0f;
        snprintf(key, sizeof key, "%s::Area%dVal1", section, i);
        Config_GetFloat(reader, key, &val1);
        snprintf(key, sizeof key, "%s::Area%dVal2", section, i);
        Config_GetFloat(reader, key, &val2);
        if (val1 == 0.0f && val2 == 0.0f) break;

        ColArea* grown = (ColArea*)Mem_Recalloc(list->areas, 8, sizeof(ColArea) * (list->count + 1));
        if (!grown || Mem_GetSize(grown) < sizeof(ColArea) * (list->count + 1)) break;
        list->areas = grown;
        ColArea* area = &grown[list->count];
        *area = ColArea{};

        float rangeX = 0.0f, rangeY = 0.0f, angleX = 0.0f, angleY = 0.0f;
        snprintf(key, sizeof key, "%s::Area%dRangeX", section, i);
        Config_GetFloat(reader, key, &rangeX);
        snprintf(key, sizeof key, "%s::Area%dRangeY", section, i);
        Config_GetFloat(reader, key, &rangeY);
        snprintf(key, sizeof key, "%s::Area%dAngleX", section, i);
        Config_GetFloat(reader, key, &angleX);
        snprintf(key, sizeof key, "%s::Area%dAngleY", section, i);
        Config_GetFloat(reader, key, &angleY);
        if (rangeX == 0.0f) rangeX = 360.0f;
        if (rangeY == 0.0f) rangeY = 360.0f;

        uint32_t flag = 0;
        snprintf(key, sizeof key, "%s::Area%dDamageArea", section, i);
        if (Config_GetBool(reader, key, &flag)) area->kinds = flag ? (uint32_t)COLAREA_DAMAGE : 0u;
        snprintf(key, sizeof key, "%s::Area%dWeakArea", section, i);
        if (Config_GetBool(reader, key, &flag)) {
            if (flag)
                area->kinds |= COLAREA_WEAK;
            else
                area->kinds &= ~COLAREA_WEAK;
        }

        for (int j = 0;; ++j) {
            int32_t first = 0;
            snprintf(key, sizeof key, "%s::Area%dActiveOn%d", section, i, j);
            if (!Config_GetInt(reader, key, &first)) break;
            int32_t last = first;
            snprintf(key, sizeof key, "%s::Area%dActiveOn%dRangeEnd", section, i, j);
            Config_GetInt(reader, key, &last);
            SetActiveBits(area, ClampIndex(first), ClampIndex(last));
        }

        area->angleX = DegToRad(angleX);
        area->angleY = DegToRad(angleY);
        area->rangeX = DegToRad(std::fabs(rangeX));
        area->rangeY = DegToRad(std::fabs(rangeY));
        area->val1 = val1;
        area->val2 = val2;
        list->count++;
        added++;
    }
    return added;
}

int ColArea_HitTest(const ColAreaList* list, const Vec3* ownPosition, const Vec3* otherPosition, const Vec3* facing,
                    const Vec3* up, uint32_t kindMask, const AnimSet* set, float* val1, float* val2)
{
    if (!list || list->count == 0 || !list->areas) return 0;
    uint32_t bitLow = 0, bitHigh = 0;
    if (set) {
        int32_t index = AnimSet_GetCurrentIndex(set);
        if (index >= 0 && index < 32)
            bitLow = 1u << index;
        else if (index >= 32 && index < 64)
            bitHigh = 1u << (index - 32);
    }

    Vec3 d;
    Vec3_Sub(&d, otherPosition, ownPosition);
    if (d.x == 0.0f && d.y == 0.0f && d.z == 0.0f) return 0;
    Vec3 u = *up;
    if (u.x == 0.0f && u.y == 0.0f && u.z == 0.0f) return 0;
    Vec3_Normalise(&u);
    Vec3 n = d;
    Vec3_Normalise(&n);
    float cosine = Vec3_Dot(&u, &n);
    if (cosine > 1.0f) cosine = 1.0f;
    if (cosine < -1.0f) cosine = -1.0f;
    float elevation = std::acos(cosine);
    float heading = Angle_Diff(Vec3_Heading(facing), Vec3_Heading(&d), 1, 1);

    for (uint32_t i = 0; i < list->count; ++i) {
        const ColArea* area = &list->areas[i];
        if (!(area->kinds & kindMask)) continue;
        bool always = area->activeLow == 0 && area->activeHigh == 0;
        if (!always && !(area->activeLow & bitLow) && !(area->activeHigh & bitHigh)) continue;
        if (!(Angle_Diff(elevation, area->angleX, 0, 1) < area->rangeX)) continue;
        if (!(Angle_Diff(heading, area->angleY, 0, 1) < area->rangeY)) continue;
        if (val1) *val1 = area->val1;
        if (val2) *val2 = area->val2;
        return 1;
    }
    return 0;
}

void ColArea_Free(ColAreaList* list)
{
    if (!list) return;
    Mem_Free(list->areas);
    list->areas = nullptr;
    list->count = 0;
}

const char* ObjectType_GetName(uint32_t type) { return type < OBJTYPE_COUNT ? kTypeNames[type] : nullptr; }

uint32_t ObjectType_GetHash(uint32_t type)
{
    return type < OBJTYPE_COUNT ? Name_Hash(kTypeNames[type], 1, 1) : 0;
}
