// Fuzzes the game's configurations and lists; the first byte picks one:
// 0  the bytes as the level file, "Load.dat" and a sectioned text file,
//    which is then stepped through its timing: the settings stay in their
//    ranges.
// 1  the bytes as "Unlocked.cfg", "CharList.txt", "configs\logos.cfg",
//    "streams\movies_PC.txt" and "Build.ver": only entries 1..149 unlock and
//    the character list holds one to eight terminated names.
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "game/game_setup.h"
#include "game/level_file.h"
#include "game/loading_screen.h"
#include "game/race_setup.h"
#include "game/text_file.h"
#include "game_fuzz_files.h"

namespace {

void Configs(const uint8_t*, size_t)
{
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
}

void Lists(const uint8_t*, size_t)
{
    GameContext* ctx = Game_GetContext();
    Game_InitProgress();
    if (!Progress_IsLocked(0)) abort();
    Game_LoadCharacterList();
    if (ctx->characterCount < 1 || ctx->characterCount > GAME_CHARACTERS) abort();
    for (uint32_t c = 0; c < ctx->characterCount; c++)
        if (memchr(ctx->characterNames[c], 0, GAME_CHARACTER_NAME) == nullptr) abort();
    Game_LoadLogos();
    Game_LoadMovieList();
    Game_ReadBuildNumber();
    char version[32];
    Game_FormatVersion(version, sizeof version);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static void (*const kCases[])(const uint8_t*, size_t) = {Configs, Lists};
    return fuzz::RunCase(kCases, data, size);
}
