// Fuzzes the game's text lists: the same bytes as "Unlocked.cfg",
// "CharList.txt", "configs\logos.cfg", "streams\movies_PC.txt" and
// "Build.ver". Whatever they hold, only entries 1..149 unlock and the
// character list holds one to eight terminated names.
#include <cstdlib>
#include <cstring>

#include "app/shell.h"
#include "game/game_context.h"
#include "game/game_setup.h"
#include "game_fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::StartGame();
    fuzz::Serve(data, size);
    GameContext* ctx = Game_GetContext();
    memset(ctx, 0, sizeof *ctx);
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
    return 0;
}
