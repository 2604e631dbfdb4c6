// The configuration-driven menu system (the in-game pause menu among them).
//
// Not built yet: these are the calls the level state and the control modes
// make, with the behaviour of a level that has no menu: nothing loads,
// nothing is open, nothing is selected, no page exists. The menu system
// replaces this file, keeping the signatures. Tests open the missing menu
// with MenuTest_SetOpen to drive the level state's paused road.
#pragma once

#include <cstdint>

struct MenuSystem;
struct MenuPage;
struct MenuEntry;

enum : uint32_t {
    MENU_ENTRY_ITEM = 4,  // a selectable entry
};

// The menu of a configuration file, or null (always null for now).
MenuSystem* Menu_Load(const char* fileName);
void Menu_Free(MenuSystem* menu);
// One frame of input: the selected entry's selection hash, or 0.
uint32_t Menu_Update(MenuSystem* menu);
void Menu_Render(MenuSystem* menu);
int Menu_IsOpen(MenuSystem* menu);
void Menu_SetOpen(MenuSystem* menu, int open, int clearHistory);
// 1 when the page was found and made current.
int Menu_GoToByName(MenuSystem* menu, const char* page, int refocus);
// 1 when the name's hash (Name_Hash(name, 1, 1)) equals the hash.
int Menu_NameMatches(const char* name, uint32_t hash);
void Menu_SetPlayer(MenuSystem* menu, uint8_t player);
void Menu_SetEntryText(MenuSystem* menu, const char* page, const char* entry, const char* text);
MenuPage* Menu_FindPage(MenuSystem* menu, uint32_t hash);
MenuEntry* MenuPage_FindEntry(MenuPage* page, uint32_t hash);
void MenuEntry_SetFlags(MenuEntry* entry, uint32_t bits, int on);

// Test switch: Menu_IsOpen answers this for any menu, null included.
void MenuTest_SetOpen(int open);
