// Fuzzes the game's compiled configurations: the same bytes as the level
// file, "Load.dat" and a sectioned text file, which is then stepped through
// its timing. Whatever they hold, the settings stay in their ranges.
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "game/game_context.h"
#include "game/level_file.h"
#include "game/loading_screen.h"
#include "game/race_setup.h"
#include "game/text_file.h"
#include "game_fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::StartGame();
    fuzz::Serve(data, size);
    memset(Game_GetContext(), 0, sizeof(GameContext));
    Rules_Init();
    GameSetup_Reset();
    GameSetup_SetLevel("level1.cfg", 0);
    LevelState level = {};
    Level_ResetSettings(&level);
    Level_Load(&level);
    if (level.fogType < 1 || level.fogType > 3) abort();
    if (Level_GetGameRule() >= LEVEL_RULES) abort();
    Level_GetLoadingScreenIndex(0);

    LoadingScreen_LoadData("Load.dat");
    if (Game_GetMaxPlayers() < 1 || Game_GetMaxPlayers() > 8) abort();
    for (float bytes : {0.0f, 1000.0f, 1e7f}) LoadingScreen_Advance(bytes);
    TextFile_Free(&LoadingScreen_Get()->text);

    TextFile text = {};
    FrontEnd_LoadTextFile("t.tdf", &text);
    for (int i = 0; i < 40; i++) {
        TextFile_Update(&text, 0.37f);
        if (text.sectionCount > 0) {
            float a = text.sections[text.current].alpha;
            if (!(a >= 0.0f && a <= 1.0f)) abort();
        }
    }
    text.followFocus = 1;
    text.focus = 1000;
    TextFile_Update(&text, 0.1f);
    TextFile_Free(&text);
    Rules_Shutdown();
    return 0;
}
