// Fuzzes the save record and the save screens' reading of save files; the
// first byte picks one:
// 0  the bytes as a 76-byte header and as a whole record. A copy of the
//    record is resealed so that unpacking is reached; whatever it held, the
//    context then has volumes within 0..1 and a rebuilt record passes both
//    checks.
// 1  the bytes, of any size, as the file at a slot's first position, read as
//    a header and as a whole save. A file is applied only when it is exactly
//    one record with both checksums right; otherwise the progress stays.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/save.h"
#include "game/save_game.h"
#include "game/save_record.h"
#include "game_fuzz_files.h"

namespace {

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
    static bool made = [&] {
        char storage[300];
        snprintf(storage, sizeof storage, "A%s", name);
        Save_FolderName(storage, folder);
        return std::filesystem::create_directories(std::filesystem::path("SaveGame") / folder);
    }();
    (void)made;
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
    static void (*const kCases[])(const uint8_t*, size_t) = {Record, File};
    return fuzz::RunCase(kCases, data, size);
}
