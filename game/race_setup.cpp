#include "game/race_setup.h"

#include <cstdio>
#include <cstring>

namespace {

GameSetupRecord g_setup;

constexpr float kDefaultTuning[GAMESETUP_TUNINGS] = {10.0f, 2.0f, 0.2f, 3.0f, 0.25f, -0.2f};

bool ValidPlayer(int player) { return player >= 0 && player < GAMESETUP_PLAYERS; }
bool ValidEntry(int index) { return index >= 0 && index < GAMESETUP_LEVELS; }

void CopyText(char* slot, const char* text) { snprintf(slot, GAMESETUP_TEXT, "%s", text ? text : ""); }

void SetTuning(int player, int which, float value)
{
    if (ValidPlayer(player)) g_setup.tuning[player][which] = value;
}

}  // namespace

const GameSetupRecord* GameSetup_Get(void) { return &g_setup; }

void GameSetup_Reset(void)
{
    memset(&g_setup, 0, sizeof g_setup);
    for (int p = 0; p < GAMESETUP_PLAYERS; p++) {
        CopyText(g_setup.vehicleConfig[p], GAMESETUP_END);
        memcpy(g_setup.tuning[p], kDefaultTuning, sizeof kDefaultTuning);
    }
    for (int i = 0; i < GAMESETUP_LEVELS; i++) CopyText(g_setup.levels[i], GAMESETUP_END);
}

void GameSetup_SetVehicleConfig(const char* text, int player)
{
    if (ValidPlayer(player)) CopyText(g_setup.vehicleConfig[player], text);
}

void GameSetup_SetLevel(const char* text, int index)
{
    if (ValidEntry(index)) CopyText(g_setup.levels[index], text);
}

const char* GameSetup_GetLevel(int index) { return ValidEntry(index) ? g_setup.levels[index] : GAMESETUP_END; }

int GameSetup_IsListEnd(int index)
{
    const char* entry = GameSetup_GetLevel(index);
    return entry[0] == 0 || strcmp(entry, GAMESETUP_END) == 0;
}

void GameSetup_SetPlayerFlag(int on, int player)
{
    if (!ValidPlayer(player)) return;
    if (on)
        g_setup.playerFlags[player] |= 1u;
    else
        g_setup.playerFlags[player] &= ~1u;
}

void GameSetup_SetMode(uint32_t mode) { g_setup.mode = mode; }
uint32_t GameSetup_GetMode(void) { return g_setup.mode; }
void GameSetup_SetPlayerTuning1(int player, float value) { SetTuning(player, 0, value); }
void GameSetup_SetPlayerTuning2(int player, float value) { SetTuning(player, 1, value); }
void GameSetup_SetPlayerTuning3(int player, float value) { SetTuning(player, 2, value); }
void GameSetup_SetPlayerTuning4(int player, float value) { SetTuning(player, 3, value); }
void GameSetup_SetPlayerTuning5(int player, float value) { SetTuning(player, 4, value); }
void GameSetup_SetPlayerTuning6(int player, float value) { SetTuning(player, 5, value); }

void GameSetup_SetPlayerDifficulty(int player, uint32_t difficulty)
{
    if (ValidPlayer(player)) g_setup.difficulty[player] = difficulty;
}

uint32_t GameSetup_GetPlayerDifficulty(int player) { return ValidPlayer(player) ? g_setup.difficulty[player] : 0; }

void GameSetup_SetPlayerWord(int player, uint32_t value)
{
    if (ValidPlayer(player)) g_setup.playerWord[player] = value;
}

void GameSetup_SetEngineClass(uint32_t engineClass) { g_setup.engineClass = engineClass; }
uint32_t GameSetup_GetEngineClass(void) { return g_setup.engineClass; }

void GameSetup_SetDemo(int on) { g_setup.demo = on ? 1u : 0u; }
int GameSetup_IsDemo(void) { return g_setup.demo != 0; }
