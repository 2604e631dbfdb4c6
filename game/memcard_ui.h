// The save and load screens ("memory cards").
//
// Not built yet: these are the calls the root state and the level state
// make, with the behaviour of a game without save screens: nothing is set
// up, no mode is ever pending, no state is made. An autosave request is
// counted, so tests see that a level's end asked for one. The save screens
// replace this file, keeping the signatures.
#pragma once

#include <cstdint>

struct GameState;

// Save-screen modes.
enum : uint32_t {
    MEMCARD_MODE_NONE = 0,
    MEMCARD_MODE_AUTOSAVE = 4,
};

void MemCardUI_Setup(void);
// Asks for the save screens in this mode on the next level or front-end update.
void MemCardUI_SetMode(uint32_t mode);
// The mode waiting to be shown (MEMCARD_MODE_NONE for none).
uint32_t MemCardUI_GetPendingMode(void);
// The save screens' state for the pending mode, or null.
GameState* MemCardUI_CreateState(void);

// Autosave requests made so far (for tests).
uint32_t MemCardUITest_GetAutosaveRequests(void);
void MemCardUITest_Reset(void);
