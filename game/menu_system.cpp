#include "game/menu_system.h"

#include "common/hash.h"

namespace {
int g_testOpen = 0;
}

MenuSystem* Menu_Load(const char*) { return nullptr; }
void Menu_Free(MenuSystem*) {}
uint32_t Menu_Update(MenuSystem*) { return 0; }
void Menu_Render(MenuSystem*) {}
int Menu_IsOpen(MenuSystem*) { return g_testOpen; }
void Menu_SetOpen(MenuSystem*, int, int) {}
int Menu_GoToByName(MenuSystem*, const char*, int) { return 0; }
int Menu_NameMatches(const char* name, uint32_t hash) { return name && Name_Hash(name, 1, 1) == hash; }
void Menu_SetPlayer(MenuSystem*, uint8_t) {}
void Menu_SetEntryText(MenuSystem*, const char*, const char*, const char*) {}
MenuPage* Menu_FindPage(MenuSystem*, uint32_t) { return nullptr; }
MenuEntry* MenuPage_FindEntry(MenuPage*, uint32_t) { return nullptr; }
void MenuEntry_SetFlags(MenuEntry*, uint32_t, int) {}
void MenuTest_SetOpen(int open) { g_testOpen = open; }
