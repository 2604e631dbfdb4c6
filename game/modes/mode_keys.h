// Table-driven reading of a control mode's "controlData" keys.
//
// Each mode that reads keys describes them in one table: per key its name,
// the field of the mode data block it fills, the kind of value, the
// conversion applied on reading, the default put in place before the first
// pass, the section rule (which section each load pass reads) and what a
// missing key does to the mode. The loaders, the warnings about keys whose
// absence leaves a mode unplayable and the fuzz target all walk these
// tables, so a key is described exactly once.
//
// A key that is missing leaves its field untouched. Numbers are kept finite:
// a value that is not a number leaves the field untouched, and magnitudes
// beyond MODEKEY_LIMIT are clamped to it, so no later product of two fields
// overflows into infinity.
#pragma once

#include <cstddef>
#include <cstdint>

struct ChaseCamera;
struct ColAreaList;
struct ConfigNode;
struct WeaponList;

constexpr float MODEKEY_LIMIT = 1.0e6f;
constexpr uint32_t MODEKEY_NO_FLAGS = 0xFFFFFFFFu;  // a table whose keys set no flag bits

enum ModeKeyKind : uint8_t {
    MODEKEY_FLOAT,  // float
    MODEKEY_INT,    // int32_t (the configuration reader clamps to int32)
    MODEKEY_BOOL,   // uint32_t 0 / 1
    MODEKEY_FLAG,   // bit `flag` of the uint32_t flag word at the offset, changed only when the key is present
    MODEKEY_VEC2,   // two floats, "x, y"
    MODEKEY_VEC3,   // Vec3, "x, y, z"
};

enum ModeKeyConversion : uint8_t {
    MODEKEY_RAW,
    MODEKEY_DEGREES,      // degrees to radians, each component
    MODEKEY_ABS,          // absolute value, each component
    MODEKEY_ABS_DEGREES,  // absolute value, then degrees to radians
    MODEKEY_PERCENT,      // x 0.01
    MODEKEY_COSINE,       // degrees clamped to 0..180, stored as the cosine
    MODEKEY_UNIT,         // clamped to 0..1
};

// Which section each pass reads.
enum ModeKeySection : uint8_t {
    MODEKEY_LEVEL_SECTION,  // "controlData" at pass 0, "controlData_<pass>" at a later pass
    MODEKEY_BASE_SECTION,   // "controlData" at every pass
};

// What a missing key (a value at or below 0 after both passes) does.
enum ModeKeyNeed : uint8_t {
    MODEKEY_OPTIONAL,
    MODEKEY_NEEDED,          // the mode is unplayable without it
    MODEKEY_NEEDED_BY_ROUTE, // unplayable for a route-driven entity (its AI)
};

struct ModeKey {
    const char* name;
    uint32_t offset;        // of the field in the mode data block
    ModeKeyKind kind;
    ModeKeyConversion conversion;
    ModeKeySection section;
    ModeKeyNeed need;
    uint32_t flag;          // MODEKEY_FLAG: the bit; other kinds: a bit of the table's flag word set when the key is found
    float defaultValue;     // put in place by ModeKeys_SetDefaults (scalars only; a flag is set when non-zero)
    const char* consequence;  // for needed keys: what the mode does without it (for the warning)
};

struct ModeKeyTable {
    const char* mode;  // the mode's name, for warnings
    const ModeKey* keys;
    uint32_t count;
    uint32_t flagsOffset;  // of the mode's flag word (for the bits keys set when found), or MODEKEY_NO_FLAGS
};

// Puts every key's default in its field. Vectors are zeroed.
void ModeKeys_SetDefaults(const ModeKeyTable* table, void* data);
// The section name a pass reads under the rule: "controlData" or
// "controlData_<pass>". out holds size bytes.
void ModeKeys_SectionName(ModeKeySection rule, int32_t pass, char* out, size_t size);
// Reads every key of the table whose section rule gives `section` for this
// pass (reader's own section is kept; keys are read as "<section>::<key>").
// Returns the number of keys found.
int ModeKeys_Read(const ModeKeyTable* table, ConfigNode* reader, int32_t pass, void* data);
// Reads one key into its field with its conversion; 1 when found.
int ModeKeys_ReadOne(const ModeKey* key, ConfigNode* reader, const char* section, void* data);

// One warning line per needed key whose field is at or below 0 (a vector:
// no component above 0), naming the
// entity configuration (the one being loaded) and the key. routeDriven says
// whether MODEKEY_NEEDED_BY_ROUTE keys count. Returns the number of warnings.
int ModeKeys_WarnMissing(const ModeKeyTable* table, const void* data, int routeDriven);
// A warning about one thing a mode cannot do without (a key or a group),
// in the same form.
void ModeKeys_Warn(const char* mode, const char* key, const char* consequence);

// Degrees to radians as the modes convert them (x 2 pi / 360).
float ModeKeys_Radians(float degrees);
// A float read from data made finite and limited to +-MODEKEY_LIMIT (NaN: 0).
float ModeKeys_Finite(float value);

// Load passes of one entity: Entity_LoadData calls pass 0 and then pass
// levelToUnlock, which is 0 again for most levels. ModeLoadPass_IsLast says
// whether this call ends the pair (so that each entity load warns once).
struct ModeLoadPass {
    uint32_t firstPasses;  // pass-0 calls since the last completed pair
};
int ModeLoadPass_IsLast(ModeLoadPass* tracker, int32_t pass);

// Reads "<section>::<format with i>" for i = 0..31 until the first missing
// key: a value v in 1..32 sets bit v - 1 of *mask; any other non-zero value
// is logged and sets nothing. Returns the number of non-zero values read
// (a mode that names types at all restricts its targets to them).
int ModeKeys_ReadTypeMask(ConfigNode* reader, const char* section, const char* format, uint32_t* mask,
                          const char* mode);

// The groups of a section: "<section>::genCamData" laid over the camera
// record (made when a key is found), "<section>::projectiles" and
// "<section>::colAreas" appended to the weapons and the areas.
void ModeKeys_ReadGroups(ConfigNode* reader, const char* section, ChaseCamera** camera, WeaponList* weapons,
                         ColAreaList* areas);
