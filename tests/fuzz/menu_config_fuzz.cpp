// Fuzzes Menu_Load over any bytes as "InGameMenu.cfg", then opens every
// page, moves over it, sets entry texts and frees the menu. No input device
// exists, so the frames take no input; nothing is drawn.
#include <cstdlib>
#include <cstring>

#include "game/game_context.h"
#include "game/ingame_menu.h"
#include "game/menu_system.h"
#include "game_fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::StartGame();
    fuzz::Serve(data, size);
    memset(Game_GetContext(), 0, sizeof(GameContext));
    Game_SetFrameTime(0.05f);
    MenuSystem* menu = Menu_Load("InGameMenu.cfg");
    if (!menu) return 0;
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
    return 0;
}
