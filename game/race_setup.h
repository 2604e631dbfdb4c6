// The race set-up record: the one static record through which the front end
// (and the start menu) tells the level state what to play: the level list in
// playing order, the engine class, a mode word and per-player settings. The
// level side reads the level list and each player's difficulty; the other
// fields are written and read by the front end alone.
//
// The record lives for the whole run and starts zero-filled (every level
// entry ""), not reset: a writer calls GameSetup_Reset before filling it.
// Nothing clears it when a level ends, so replaying a list replays its
// set-up. Strings are copied bounded (cut to 1023 characters) and indices
// outside players 0..7 and entries 0..34 are ignored: the texts come from
// data files (item user data, level numbers).
#pragma once

#include <cstdint>

constexpr int GAMESETUP_PLAYERS = 8;
constexpr int GAMESETUP_LEVELS = 35;
constexpr int GAMESETUP_TEXT = 1024;  // bytes of each string slot, NUL included
constexpr int GAMESETUP_TUNINGS = 6;

// The text that ends the level list.
constexpr const char* GAMESETUP_END = "NONE";

struct GameSetupRecord {
    char vehicleConfig[GAMESETUP_PLAYERS][GAMESETUP_TEXT];  // "NONE" after a reset; read by nobody
    char levels[GAMESETUP_LEVELS][GAMESETUP_TEXT];          // paths under "levels\"; the first "NONE" ends the list
    uint32_t playerFlags[GAMESETUP_PLAYERS];  // bit 0: no human plays this slot
    uint32_t mode;                            // written by the character and tutorial screens
    float tuning[GAMESETUP_PLAYERS][GAMESETUP_TUNINGS];  // 10.0, 2.0, 0.2, 3.0, 0.25, -0.2 after a reset
    uint32_t difficulty[GAMESETUP_PLAYERS];   // 0 easy, 1 medium, 2 hard
    uint32_t playerWord[GAMESETUP_PLAYERS];   // single-player word, 0 after a reset
    uint32_t engineClass;                     // 0 50cc, 1 100cc, 2 150cc
    uint32_t demo;                            // the list is the attract demo's (see GameSetup_SetDemo)
};

// The record (read only; change it through the setters).
const GameSetupRecord* GameSetup_Get(void);

// Zero-fills the record; every player gets the vehicle config "NONE", the
// default tuning floats and single-player word 0; all 35 entries "NONE".
void GameSetup_Reset(void);

// Copies the text (null counts as "") into the slot, cut to 1023 characters.
void GameSetup_SetVehicleConfig(const char* text, int player);
void GameSetup_SetLevel(const char* text, int index);
// Entry index of the level list; "NONE" for an index outside 0..34, so a
// full list without "NONE" still ends.
const char* GameSetup_GetLevel(int index);
// 1 when entry index ends the list: outside 0..34, "NONE" or empty.
int GameSetup_IsListEnd(int index);

void GameSetup_SetPlayerFlag(int on, int player);
void GameSetup_SetMode(uint32_t mode);
uint32_t GameSetup_GetMode(void);
// One of the six tuning floats of the player, in field order.
void GameSetup_SetPlayerTuning1(int player, float value);
void GameSetup_SetPlayerTuning2(int player, float value);
void GameSetup_SetPlayerTuning3(int player, float value);
void GameSetup_SetPlayerTuning4(int player, float value);
void GameSetup_SetPlayerTuning5(int player, float value);
void GameSetup_SetPlayerTuning6(int player, float value);
void GameSetup_SetPlayerDifficulty(int player, uint32_t difficulty);
// 0 for a player outside 0..7.
uint32_t GameSetup_GetPlayerDifficulty(int player);
void GameSetup_SetPlayerWord(int player, uint32_t value);
void GameSetup_SetEngineClass(uint32_t engineClass);
uint32_t GameSetup_GetEngineClass(void);
// The attract demo's mark, set by the front end's attract timer with the
// demo's list: the level then plays without a player (no wait on its
// continue page, player 0 computer-driven) and leaves at any key or at its
// end, recording no progress. Cleared by GameSetup_Reset and by the level
// state when it leaves, so no later road plays as a demo.
void GameSetup_SetDemo(int on);
int GameSetup_IsDemo(void);
