// Fuzzes the game's configurations, lists and saves; the first byte picks:
// 0 the level file, "Load.dat" and a sectioned text file stepped through its
// timing, whose settings stay in their ranges; 1 "Unlocked.cfg",
// "CharList.txt", "configs\logos.cfg", "streams\movies_PC.txt" and
// "Build.ver", after which only entries 1..149 unlock and one to eight
// terminated character names are listed; 2 the save record, which, resealed
// so that unpacking is reached, leaves volumes within 0..1 and rebuilds into
// one that passes both checks; 3 a save file of any size, applied only when
// it is one record with both checksums right.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>

#include "app/save.h"
#include "game/game_setup.h"
#include "game/level_file.h"
#include "game/loading_screen.h"
#include "game/race_setup.h"
#include "game/save_game.h"
#include "game/save_record.h"
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

void Record(const uint8_t* data, size_t size)
{
    if (size >= SAVE_HEADER_SIZE) {
        uint8_t header[SAVE_HEADER_SIZE];
        memcpy(header, data, sizeof header);
        Save_CheckHeader(header);
        char date[SAVE_DATE_SIZE];
        Save_GetHeaderDate(header, date);
        if (strlen(date) >= SAVE_DATE_SIZE) abort();
        Save_GetHeaderCompleted(header);
    }
    if (size < SAVE_RECORD_SIZE) return;
    uint8_t record[SAVE_RECORD_SIZE];
    memcpy(record, data, sizeof record);
    if (Save_UnpackRecord(record) && !(Save_CheckHeader(record) && Save_CheckRecord(record))) abort();
    Save_SealHeader(record);
    Save_SealRecord(record);
    if (!Save_UnpackRecord(record)) abort();
    const GameContext* ctx = Game_GetContext();
    if (!(ctx->effectsVolume >= 0.0f && ctx->effectsVolume <= 1.0f)) abort();
    if (!(ctx->musicVolume >= 0.0f && ctx->musicVolume <= 1.0f)) abort();
    uint8_t rebuilt[SAVE_RECORD_SIZE];
    Save_BuildRecord(rebuilt);
    Save_SealHeader(rebuilt);
    Save_SealRecord(rebuilt);
    if (!Save_CheckHeader(rebuilt) || !Save_CheckRecord(rebuilt)) abort();
    // The progress block survives a second trip exactly.
    if (memcmp(rebuilt + SAVE_OFFSET_PROGRESS, record + SAVE_OFFSET_PROGRESS,
               SAVE_OFFSET_RECORD_SUM - SAVE_OFFSET_PROGRESS) != 0)
        abort();
}

void File(const uint8_t* data, size_t size)
{
    char name[256];
    Save_GetFileName(0, name, sizeof name);
    static char folder[SAVE_FOLDER_MAX];
    [[maybe_unused]] static bool made = [&] {
        char storage[300];
        snprintf(storage, sizeof storage, "A%s", name);
        Save_FolderName(storage, folder);
        return std::filesystem::create_directories(std::filesystem::path("SaveGame") / folder);
    }();
    if (FILE* f = fopen((std::filesystem::path("SaveGame") / folder / name).c_str(), "wb")) {
        if (size) fwrite(data, 1, size, f);
        fclose(f);
    }
    GameContext* ctx = Game_GetContext();
    ctx->progress.flags[7] = 0x5A5A;
    uint8_t header[SAVE_HEADER_SIZE];
    if (Save_ReadGameHeader('A', name, header) && (size != SAVE_RECORD_SIZE || !Save_CheckHeader(header))) abort();
    const int read = Save_ReadGame('A', name);
    const bool whole = size == SAVE_RECORD_SIZE && Save_CheckHeader(data) && Save_CheckRecord(data);
    if (read != (whole ? 1 : 0)) abort();
    if (!read && ctx->progress.flags[7] != 0x5A5A) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static void (*const kCases[])(const uint8_t*, size_t) = {Configs, Lists, Record, File};
    return fuzz::RunCase(kCases, data, size);
}
