// Fuzzes the start menu's and the options state's reading of "Menu.cfg":
// any bytes give at most 255 entries with types inside their tables, and a
// long hold of either direction keeps the cursor and the scroll offset on
// the entries.
#include <cstdlib>

#include "frontend/start_menu.h"
#include "game_fuzz_files.h"

namespace {

void Check(StartMenuList* list, int types, int rows)
{
    if (list->count > STARTMENU_MAX_ENTRIES) abort();
    for (int i = 0; i < list->count; i++)
        if (list->entries[i].type >= types || !list->entries[i].label) abort();
    for (int pass = 0; pass < 2; pass++) {
        for (int frame = 0; frame < 600; frame++) {
            StartMenu_MoveCursor(list, pass, !pass, 0.025f, rows);
            if (list->count > 0 && list->scroll + list->cursor >= list->count) abort();
            if (rows > 0 && list->cursor >= rows) abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::StartGame();
    fuzz::Serve(data, size);
    static const char* const kTypes[8] = {
        "GameState_Type_Quit", "", "GameState_Type_Options", "", "", "GameState_Type_FrontEnd",
        "GameState_Type_Glim", ""};
    static const char* const kOptions[3] = {"", "Options_Player1_Cycle", "Options_Back"};
    StartMenuList menu = {}, options = {};
    StartMenu_ReadSection("Menu.cfg", "Menu", kTypes, 8, &menu);
    Check(&menu, 8, STARTMENU_ROWS);
    StartMenu_ReadSection("Menu.cfg", "Options", kOptions, 3, &options);
    Check(&options, 3, 0);
    StartMenu_FreeList(&menu);
    StartMenu_FreeList(&options);
    return 0;
}
