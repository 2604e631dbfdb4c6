// Fuzzes the save screens' reading of save files: any bytes of any size as
// the file at a slot's first position, read as a header and as a whole
// save. A file is applied only when it is exactly one record with both
// checksums right; otherwise the progress stays as it was.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/save.h"
#include "game/game_context.h"
#include "game/save_game.h"
#include "game/save_record.h"
#include "game_fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::StartGame();
    char name[256];
    Save_GetFileName(0, name, sizeof name);
    static char folder[SAVE_FOLDER_MAX];
    static bool made = [] {
        char fileName[256];
        Save_GetFileName(0, fileName, sizeof fileName);
        char storage[300];
        snprintf(storage, sizeof storage, "A%s", fileName);
        Save_FolderName(storage, folder);
        std::filesystem::create_directories(std::filesystem::path("SaveGame") / folder);
        return true;
    }();
    (void)made;
    const std::filesystem::path path = std::filesystem::path("SaveGame") / folder / name;
    if (FILE* f = fopen(path.c_str(), "wb")) {
        if (size) fwrite(data, 1, size, f);
        fclose(f);
    }
    GameContext* ctx = Game_GetContext();
    memset(ctx, 0, sizeof(GameContext));
    ctx->progress.flags[7] = 0x5A5A;
    uint8_t header[SAVE_HEADER_SIZE];
    const int headerRead = Save_ReadGameHeader('A', name, header);
    if (headerRead && (size != SAVE_RECORD_SIZE || !Save_CheckHeader(header))) abort();
    const int read = Save_ReadGame('A', name);
    const bool whole = size == SAVE_RECORD_SIZE && Save_CheckHeader(data) && Save_CheckRecord(data);
    if (read != (whole ? 1 : 0)) abort();
    if (!read && ctx->progress.flags[7] != 0x5A5A) abort();
    return 0;
}
