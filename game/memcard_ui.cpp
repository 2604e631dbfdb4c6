#include "game/memcard_ui.h"

namespace {
uint32_t g_autosaveRequests = 0;
}

void MemCardUI_Setup(void) {}

void MemCardUI_SetMode(uint32_t mode)
{
    if (mode == MEMCARD_MODE_AUTOSAVE) g_autosaveRequests++;
}

uint32_t MemCardUI_GetPendingMode(void) { return MEMCARD_MODE_NONE; }
GameState* MemCardUI_CreateState(void) { return nullptr; }
uint32_t MemCardUITest_GetAutosaveRequests(void) { return g_autosaveRequests; }
void MemCardUITest_Reset(void) { g_autosaveRequests = 0; }
