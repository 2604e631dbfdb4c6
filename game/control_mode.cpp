#include "game/control_mode.h"

#include "common/hash.h"

namespace {

struct ControlModeRow {
    const char* name;
    ControlModeSlots slots;
    size_t dataSize;
};

ControlModeRow g_rows[CONTROL_MODES] = {
    {"Man", {}, 0},       {"Man_CamRel", {}, 0}, {"Skitter", {}, 0},      {"Flitter", {}, 0},
    {"Butterfly", {}, 0}, {"Thrusting", {}, 0},  {"ScreenRel", {}, 0},    {"AirPlane", {}, 0},
    {"Ball", {}, 0},      {"FakeTilt", {}, 0},   {"BattleBlades", {}, 0}, {"CameraMode", {}, 0},
    {"Skater", {}, 0},    {"BroomStick", {}, 0},
};

}  // namespace

int ControlMode_Register(uint32_t mode, const ControlModeSlots* slots, size_t dataSize)
{
    if (mode >= CONTROL_MODES) return 0;
    g_rows[mode].slots = slots ? *slots : ControlModeSlots{};
    g_rows[mode].dataSize = dataSize;
    return 1;
}

const char* ControlMode_GetName(uint32_t mode) { return mode < CONTROL_MODES ? g_rows[mode].name : nullptr; }

uint32_t ControlMode_BuildNameList(uint32_t* hashes)
{
    for (uint32_t i = 0; i < CONTROL_MODES; ++i) hashes[i] = Name_Hash(g_rows[i].name, 1, 1);
    return CONTROL_MODES;
}

int32_t ControlMode_FindByHash(uint32_t hash)
{
    for (uint32_t i = 0; i < CONTROL_MODES; ++i)
        if (Name_Hash(g_rows[i].name, 1, 1) == hash) return (int32_t)i;
    return -1;
}

const ControlModeSlots* ControlMode_GetSlots(uint32_t mode)
{
    return mode < CONTROL_MODES ? &g_rows[mode].slots : nullptr;
}

size_t ControlMode_GetDataSize(uint32_t mode) { return mode < CONTROL_MODES ? g_rows[mode].dataSize : 0; }
