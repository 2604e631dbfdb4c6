// Fuzzes the save record: any bytes as a 76-byte header (the save screens'
// list) and as a whole record. A copy of the record is resealed before the
// checks so that unpacking is reached; whatever it held, the context then
// has volumes within 0..1 and a rebuilt record passes both checks.
#include <cstdlib>
#include <cstring>

#include "game/game_context.h"
#include "game/save_record.h"
#include "game_fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::StartGame();
    memset(Game_GetContext(), 0, sizeof(GameContext));
    if (size >= SAVE_HEADER_SIZE) {
        uint8_t header[SAVE_HEADER_SIZE];
        memcpy(header, data, sizeof header);
        Save_CheckHeader(header);
        char date[SAVE_DATE_SIZE];
        Save_GetHeaderDate(header, date);
        if (strlen(date) >= SAVE_DATE_SIZE) abort();
        Save_GetHeaderCompleted(header);
    }
    if (size < SAVE_RECORD_SIZE) return 0;
    uint8_t record[SAVE_RECORD_SIZE];
    memcpy(record, data, sizeof record);
    int applied = Save_UnpackRecord(record);
    if (applied && !(Save_CheckHeader(record) && Save_CheckRecord(record))) abort();
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
    return 0;
}
