#include "game/players.h"

#include <cstdio>
#include <cstring>

#include "app/pad.h"
#include "game/game_context.h"

namespace {

struct PlayerSlot {
    Pad* device;
    uint8_t preset;
    uint16_t bindings[PLAYER_ACTIONS];
};

struct Players {
    PlayerSlot slots[GAME_PLAYER_SLOTS];
};

Players g_players;

constexpr uint16_t kController[PLAYER_ACTIONS] = {2, 3, 0, 1, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25};

// Column 0 of the keyboard tables of players 0..3 (4..7 repeat them).
constexpr uint16_t kKeyboard[4][PLAYER_ACTIONS] = {
    {0xC8, 0xD0, 0xCB, 0xCD, 0x1C, 0x36, 0x9D, 0x35, 0x34, 0x33, 0x39, 0x0E, 0xD2, 0xD3},
    {0x11, 0x1F, 0x1E, 0x20, 0x1D, 0x2A, 0x10, 0x12, 0x2C, 0x2D, 0x0F, 0x02, 0x2E, 0x13},
    {0x17, 0x25, 0x24, 0x26, 0x23, 0x15, 0x16, 0x18, 0x31, 0x32, 0x08, 0x09, 0x30, 0x19},
    {0x48, 0x4C, 0x4B, 0x4D, 0x52, 0x9C, 0x47, 0x49, 0x4F, 0x51, 0x4E, 0x4A, 0x50, 0x53},
};

// Preset p binds action a to the column-0 code of action kPresetSource[p][a].
constexpr uint8_t kPresetSource[PLAYER_PRESETS][PLAYER_ACTIONS] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13},
    {0, 1, 2, 3, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13},
    {0, 1, 2, 3, 6, 7, 4, 5, 8, 9, 10, 11, 12, 13},
};

bool ValidSlot(int player) { return player >= 0 && player < GAME_PLAYER_SLOTS; }
bool ValidAction(int action) { return action >= 0 && action < PLAYER_ACTIONS; }
bool ValidPreset(int preset) { return preset >= 0 && preset < PLAYER_PRESETS; }

void ApplyColumn(int player, int preset, bool controller)
{
    PlayerSlot& slot = g_players.slots[player];
    for (int a = 0; a < PLAYER_ACTIONS; a++)
        slot.bindings[a] = controller ? Binding_GetController(a, preset) : Binding_GetKeyboard(player, a, preset);
}

}  // namespace

uint16_t Binding_GetController(int action, int preset)
{
    if (!ValidAction(action) || !ValidPreset(preset)) return 0;
    return kController[kPresetSource[preset][action]];
}

uint16_t Binding_GetKeyboard(int player, int action, int preset)
{
    if (!ValidSlot(player) || !ValidAction(action) || !ValidPreset(preset)) return 0;
    return kKeyboard[player % 4][kPresetSource[preset][action]];
}

int Binding_FindInPreset(int preset, int action)
{
    if (!ValidAction(action) || !ValidPreset(preset)) return -1;
    uint16_t code = Binding_GetController(action, 0);
    for (int a = 0; a < PLAYER_ACTIONS; a++)
        if (Binding_GetController(a, preset) == code) return a;
    return -1;
}

void Player_AssignDevices(void)
{
    const int count = (int)Game_GetMaxPlayers();
    const int joysticks = (int)Pad_GetCount(PAD_CONTROLLER);
    // Slots beyond the count keep no device of an earlier assignment.
    memset(&g_players, 0, sizeof g_players);
    for (int s = 0; s < count; s++) {
        g_players.slots[s].preset = 0;
        g_players.slots[s].device = Pad_Get(PAD_CONTROLLER, (uint32_t)s);
        ApplyColumn(s, 0, true);
    }
    if (joysticks == 4) return;
    Pad* keyboard = Pad_Get(PAD_KEYBOARD, 0);
    for (int s = joysticks; s < count; s++) {
        g_players.slots[s].device = keyboard;
        if (keyboard) ApplyColumn(s, 0, false);
    }
}

Pad* Player_GetInputDevice(int player) { return ValidSlot(player) ? g_players.slots[player].device : nullptr; }

void Player_SetBinding(int player, int action, uint16_t code)
{
    if (ValidSlot(player) && ValidAction(action)) g_players.slots[player].bindings[action] = code;
}

uint16_t Player_GetBinding(int player, int action)
{
    return ValidSlot(player) && ValidAction(action) ? g_players.slots[player].bindings[action] : 0;
}

int Player_UsesController(int player)
{
    if (!ValidSlot(player)) return 0;
    Pad* device = g_players.slots[player].device;
    return device && device == Pad_Get(PAD_CONTROLLER, (uint32_t)player);
}

uint16_t Player_GetDefaultBinding(int player, int action)
{
    return Player_UsesController(player) ? Binding_GetController(action, 0) : Binding_GetKeyboard(player, action, 0);
}

void Player_SetControlPreset(int player, int preset)
{
    if (!ValidSlot(player) || !ValidPreset(preset)) return;
    g_players.slots[player].preset = (uint8_t)preset;
    ApplyColumn(player, preset, Player_UsesController(player) != 0);
}

int Player_GetControlPreset(int player) { return ValidSlot(player) ? g_players.slots[player].preset : 0; }

char* Player_GetControllerText(int player, char* buffer, size_t size)
{
    if (!buffer || !size) return buffer;
    const char* name = "NONE";
    if (Pad* device = Player_GetInputDevice(player))
        name = Pad_GetKind(device) == PAD_CONTROLLER ? "JOYPAD" : "KEYBOARD";
    snprintf(buffer, size, "LS_CONTROLLER_%s", name);
    return buffer;
}
