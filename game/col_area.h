// Collision areas: angular windows around a fighting entity in which a
// touching object meets the entity's attack (a damage area) or its
// vulnerable side (a weak area), each optionally limited to some of the
// entity's animations. A mode reads its list when it loads, asks
// ColArea_HitTest from its collision slot and frees the list with its data.
//
// Angles: the elevation of a window is measured from the entity's up axis
// (0 straight up, pi/2 level, pi straight down), its heading from the
// entity's facing direction about the vertical (0 straight ahead). A window
// is hit when both differences are strictly below its half-widths.
//
// Keys, read under "<section>::Area<i>..." for i = 0, 1, ... until an area
// whose Val1 and Val2 are both 0 (or missing): Val1, Val2, RangeX, RangeY
// (degrees, absolute value; 0 or missing = 360), AngleX, AngleY (degrees),
// DamageArea, WeakArea (booleans), ActiveOn<j> and ActiveOn<j>RangeEnd
// (animation indices; above 62 or negative become 63; an end below its
// first sets nothing).
//
// The same modes tell the objects they meet apart by type names (the
// hit-mode objects' StringVal0, the projectiles' hit types), hashed with
// Name_Hash (name, 1, 1); ObjectType_GetHash gives the hash of each.
#pragma once

#include <cstdint>

#include "common/maths.h"

struct AnimSet;
struct ConfigNode;

enum : uint32_t {
    COLAREA_DAMAGE = 0x1,  // the area carries the entity's attack
    COLAREA_WEAK = 0x2,    // the area is the entity's vulnerable side
};

struct ColArea {
    float angleX;         // centre of the elevation window, radians from up
    float angleY;         // centre of the heading window, radians from facing
    float rangeX;         // half-width of the elevation window, radians (2 pi = no limit)
    float rangeY;         // half-width of the heading window, radians
    uint32_t kinds;       // COLAREA_*; an area of neither kind is never tested
    float val1, val2;     // the mode's values (damage, push, ...)
    uint32_t activeLow;   // animations 0..31 in which the area is active
    uint32_t activeHigh;  // animations 32..63; both 0 = active in every animation
};

// Lives in a mode's zero-filled data block; owns its array.
struct ColAreaList {
    uint32_t count;
    ColArea* areas;
};

// Appends the areas found under "<section>::Area<i>..." (areas numbered from
// 0 again in each section) to the list. Returns the number appended. When
// memory fails the areas read so far stay and the walk stops.
int ColArea_Load(ConfigNode* reader, const char* section, ColAreaList* list);
// 1 when the other position lies in an area of a kind in kindMask that is
// active in the set's current animation (no set: only areas active in every
// animation); the first such area in load order writes its values to the
// outputs given (either may be null). 0 for an empty list, equal positions or
// a zero up vector.
int ColArea_HitTest(const ColAreaList* list, const Vec3* ownPosition, const Vec3* otherPosition, const Vec3* facing,
                    const Vec3* up, uint32_t kindMask, const AnimSet* set, float* val1, float* val2);
// Frees the array; count 0. Null is ignored.
void ColArea_Free(ColAreaList* list);

// Type names of the things an entity meets, in this order.
enum ObjectTypeName : uint32_t {
    OBJTYPE_PICKUP,
    OBJTYPE_SPRINGBOARD,
    OBJTYPE_CHECKPOINT,
    OBJTYPE_DEATHAREA,
    OBJTYPE_KILLAREA,
    OBJTYPE_ENDAREA,
    OBJTYPE_ENDAREATRIGGER,
    OBJTYPE_HITANIMCHANGE,
    OBJTYPE_WAYPOINT,
    OBJTYPE_DAMAGE,
    OBJTYPE_SPECIAL_DAMAGE,
    OBJTYPE_SWORD,
    OBJTYPE_HEALTH,
    OBJTYPE_SCORE,
    OBJTYPE_COUNT
};
// "PICKUP", "SPRINGBOARD", ...; null for OBJTYPE_COUNT or more.
const char* ObjectType_GetName(uint32_t type);
// Name_Hash (name, 1, 1) of the type's name; 0 for OBJTYPE_COUNT or more.
uint32_t ObjectType_GetHash(uint32_t type);
