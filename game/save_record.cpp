#include "game/save_record.h"

#include <cmath>
#include <cstring>

#include "app/save.h"
#include "app/shell.h"
#include "app/sound.h"
#include "common/bytes.h"
#include "common/hash.h"
#include "common/strings.h"
#include "game/game_context.h"
#include "game/level_file.h"

namespace {

void DefaultTimeSource(char* date, uint32_t* milliseconds)
{
    App_GetTimeString(date);
    *milliseconds = App_GetTimeMs();
}

SaveTimeSource g_timeSource = DefaultTimeSource;

uint32_t RecordSum(const uint8_t* record)
{
    return Bytes_Hash(record, SAVE_HEADER_SIZE) +
           Bytes_Hash(record + SAVE_OFFSET_EFFECTS, SAVE_OFFSET_PROGRESS - SAVE_OFFSET_EFFECTS) +
           Bytes_Hash(record + SAVE_OFFSET_PROGRESS, SAVE_OFFSET_RECORD_SUM - SAVE_OFFSET_PROGRESS);
}

// The progress block as 458 words, in record order.
void PackProgress(uint8_t* out, const GameProgress& p)
{
    for (int i = 0; i < GAME_PROGRESS_ENTRIES; i++) {
        Bytes_StoreU32(out + 4 * i, p.flags[i]);
        Bytes_StoreF32(out + 600 + 4 * i, p.best[i]);
        Bytes_StoreU32(out + 1200 + 4 * i, (uint32_t)p.values[i]);
    }
    for (int c = 0; c < GAME_CHARACTERS; c++) Bytes_StoreU32(out + 1800 + 4 * c, p.characterLocks[c]);
}

void UnpackProgress(const uint8_t* in, GameProgress* p)
{
    for (int i = 0; i < GAME_PROGRESS_ENTRIES; i++) {
        p->flags[i] = Bytes_LoadU32(in + 4 * i);
        p->best[i] = Bytes_LoadF32(in + 600 + 4 * i);
        p->values[i] = (int32_t)Bytes_LoadU32(in + 1200 + 4 * i);
    }
    for (int c = 0; c < GAME_CHARACTERS; c++) p->characterLocks[c] = Bytes_LoadU32(in + 1800 + 4 * c);
}

}  // namespace

void Save_SetTimeSource(SaveTimeSource source) { g_timeSource = source ? source : DefaultTimeSource; }

uint32_t Save_VolumeToByte(float volume)
{
    // The round-up of v x 255, less a margin far below one step: b / 255
    // computed in float lands within a few ulps above or below b / 255, and
    // the margin absorbs that so a loaded byte saves as itself.
    double scaled = std::ceil((double)volume * 255.0 - 1.0 / 1024.0);
    if (!(scaled > 0.0)) return 0;  // NaN and negatives
    return scaled > 255.0 ? 255u : (uint32_t)scaled;
}

float Save_VolumeFromWord(uint32_t word)
{
    float v = (float)(word & 0xFFu) * (1.0f / 255.0f);
    return v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v;
}

void Save_BuildRecord(uint8_t* record)
{
    GameContext* ctx = Game_GetContext();
    memset(record, 0, SAVE_RECORD_SIZE);

    char date[SAVE_DATE_SIZE] = {};
    uint32_t stamp = 0;
    g_timeSource(date, &stamp);
    date[SAVE_DATE_SIZE - 1] = 0;
    for (size_t i = 0; i < SAVE_DATE_SIZE && date[i]; i++) record[i] = (uint8_t)String_UpperAscii(date[i]);
    Bytes_StoreU32(record + SAVE_OFFSET_TIME, stamp);

    for (int i = 0; i < GAME_PROGRESS_ENTRIES; i++) ctx->progress.values[i] = ctx->playerValues[0][i];
    Bytes_StoreU32(record + SAVE_OFFSET_COMPLETED, Progress_CountCompleted());
    PackProgress(record + SAVE_OFFSET_PROGRESS, ctx->progress);

    Bytes_StoreU32(record + SAVE_OFFSET_EFFECTS, Save_VolumeToByte(ctx->effectsVolume));
    Bytes_StoreU32(record + SAVE_OFFSET_MUSIC, Save_VolumeToByte(ctx->musicVolume));
}

void Save_SealHeader(uint8_t* header)
{
    Bytes_StoreU32(header + SAVE_OFFSET_HEADER_SUM, Bytes_Hash(header, SAVE_OFFSET_HEADER_SUM));
}

int Save_CheckHeader(const uint8_t* header)
{
    return Bytes_LoadU32(header + SAVE_OFFSET_HEADER_SUM) == Bytes_Hash(header, SAVE_OFFSET_HEADER_SUM);
}

void Save_SealRecord(uint8_t* record) { Bytes_StoreU32(record + SAVE_OFFSET_RECORD_SUM, RecordSum(record)); }

int Save_CheckRecord(const uint8_t* record) { return Bytes_LoadU32(record + SAVE_OFFSET_RECORD_SUM) == RecordSum(record); }

int Save_UnpackRecord(const uint8_t* record)
{
    if (!Save_CheckHeader(record) || !Save_CheckRecord(record)) return 0;
    GameContext* ctx = Game_GetContext();
    UnpackProgress(record + SAVE_OFFSET_PROGRESS, &ctx->progress);
    for (int i = 0; i < GAME_PROGRESS_ENTRIES; i++) ctx->playerValues[0][i] = ctx->progress.values[i];
    ctx->musicVolume = Save_VolumeFromWord(Bytes_LoadU32(record + SAVE_OFFSET_MUSIC));
    ctx->effectsVolume = Save_VolumeFromWord(Bytes_LoadU32(record + SAVE_OFFSET_EFFECTS));
    Sound_SetMasterVolume(ctx->effectsVolume);
    Level_SetMusicVolume(ctx->musicVolume);
    return 1;
}

void Save_GetHeaderDate(const uint8_t* header, char* out)
{
    memcpy(out, header, SAVE_DATE_SIZE - 1);
    out[SAVE_DATE_SIZE - 1] = 0;
    if (char* end = strchr(out, '\n')) *end = 0;
}

uint32_t Save_GetHeaderCompleted(const uint8_t* header) { return Bytes_LoadU32(header + SAVE_OFFSET_COMPLETED); }

const char* Save_GetTitle(void) { return "Quillomere - Glimfall"; }

uint32_t Save_GetSizeKB(void) { return Save_BytesToKB((uint32_t)SAVE_RECORD_SIZE); }
