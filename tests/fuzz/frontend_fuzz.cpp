// Fuzzes the front end's and the menus' configurations; the first byte picks
// what the rest is (it also serves every other file they open): 0
// "FrontEnd\FrontEnd.cfg", every screen entered, updated, left and asked
// back, its focus within its items; 1 "InGameMenu.cfg", every page opened,
// moved over and given entry texts; 2 "Menu.cfg", at most 255 entries with
// types inside their tables and a cursor that a long hold keeps on them;
// 3 "MemCard.cfg", set up twice. Scenes, sprites, sounds, fonts and input
// devices do not exist.
#include <cstdlib>
#include <cstring>

#include "engine/node.h"
#include "frontend/front_end.h"
#include "frontend/screen_machine.h"
#include "frontend/start_menu.h"
#include "game/ingame_menu.h"
#include "game/memcard_ui.h"
#include "game/menu_system.h"
#include "game/race_setup.h"
#include "game_fuzz_files.h"

namespace {

void ReadFrontEnd(const uint8_t*, size_t)
{
    [[maybe_unused]] static bool nodes = Node_Init() != 0;
    GameSetup_Reset();
    FrontEndMemory* memory = FrontEnd_GetMemory();
    memset(memory, 0, sizeof *memory);
    for (int32_t& slot : memory->history) slot = -1;
    FrontEnd_Init(nullptr);
    for (int32_t screen = 1; screen < FRONTEND_SCREENS && FrontEnd_Get(); screen++) {
        FrontEnd_PushScreen(screen, 1);
        for (int frame = 0; frame < 3 && FrontEnd_Get(); frame++) FrontEnd_Update(nullptr, 0.05f);
        if (!FrontEnd_Get()) break;
        FrontEndScreen* s = FrontEnd_CurrentScreen();
        if (s && s->itemCount > 0) {
            int32_t focus = FrontEnd_GetFocus(s->index);
            if (focus < 0 || focus >= s->itemCount) abort();
        }
        FrontEnd_IsItemLocked(-1);
        FrontEnd_IsItemLocked(1000);
        FrontEnd_ScreenAnimValue(screen, 1000);
        FrontEnd_PopScreen();
    }
    if (FrontEnd* left = FrontEnd_Get()) FrontEnd_Exit(left->state);
}

void ReadInGameMenu(const uint8_t*, size_t)
{
    Game_SetFrameTime(0.05f);
    MenuSystem* menu = Menu_Load("InGameMenu.cfg");
    if (!menu) return;
    static const char kLong[] = "a text longer than anything a data file could mean to put in a score line";
    for (int32_t p = 0; p < menu->pageCount; p++) {
        MenuPage* page = &menu->pages[p];
        if (!Menu_GoTo(menu, p, 1)) abort();
        if (page->entryCount > 0 && (page->focus < 0 || page->focus >= page->entryCount)) abort();
        Menu_SetOpen(menu, 1, 1);
        for (int frame = 0; frame < 3; frame++) Menu_Update(menu);
        Menu_FocusNext(menu, 0, 1);
        Menu_FocusPrev(menu);
        InGameMenu_Callbacks_PauseMenuMainInit(page, menu, nullptr);
        InGameMenu_Callbacks_PauseMenuMainUpdate(page, menu, nullptr);
        InGameMenu_Callbacks_PauseMenuMainShutdown(page, menu, nullptr);
        for (int32_t e = 0; e < page->entryCount; e++) {
            MenuEntry* entry = &page->entries[e];
            if (entry->text && entry->text->literal) {
                for (int i = 0; i < 20; i++)
                    strncat(entry->text->literal, kLong, MENU_TEXT_BUFFER - 1 - strlen(entry->text->literal));
                if (strlen(entry->text->literal) >= (size_t)MENU_TEXT_BUFFER) abort();
            }
        }
    }
    Menu_Free(menu);
}

void StartMenuSection(const char* section, const char* const* types, int count, int rows)
{
    StartMenuList list = {};
    StartMenu_ReadSection("Menu.cfg", section, types, count, &list);
    if (list.count > STARTMENU_MAX_ENTRIES) abort();
    for (int i = 0; i < list.count; i++)
        if (list.entries[i].type >= count || !list.entries[i].label) abort();
    for (int pass = 0; pass < 2; pass++) {
        for (int frame = 0; frame < 600; frame++) {
            StartMenu_MoveCursor(&list, pass, !pass, 0.025f, rows);
            if (list.count > 0 && list.scroll + list.cursor >= list.count) abort();
            if (rows > 0 && list.cursor >= rows) abort();
        }
    }
    StartMenu_FreeList(&list);
}

void ReadStartMenu(const uint8_t*, size_t)
{
    static const char* const kTypes[8] = {
        "GameState_Type_Quit", "", "GameState_Type_Options", "", "", "GameState_Type_FrontEnd",
        "GameState_Type_Glim", ""};
    static const char* const kOptions[3] = {"", "Options_Player1_Cycle", "Options_Back"};
    StartMenuSection("Menu", kTypes, 8, STARTMENU_ROWS);
    StartMenuSection("Options", kOptions, 3, 0);
}

void ReadMemCard(const uint8_t*, size_t)
{
    MemCardUI_Setup();
    MemCardUI_Setup();
    MemCardUI_Shutdown();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static void (*const kCases[])(const uint8_t*, size_t) = {ReadFrontEnd, ReadInGameMenu, ReadStartMenu, ReadMemCard};
    return fuzz::RunCase(kCases, data, size);
}
