#include "app/wave.h"

#include <cstdio>
#include <cstring>

#include "app/file.h"
#include "common/bytes.h"
#include "common/memory.h"
#include "platform/dsound/dsound.h"
#include "platform/win32/sysfile.h"

namespace {

constexpr uint32_t kRiff = WaveFourCC('R', 'I', 'F', 'F');
constexpr uint32_t kWave = WaveFourCC('W', 'A', 'V', 'E');
constexpr uint32_t kFmt = WaveFourCC('f', 'm', 't', ' ');
constexpr uint32_t kData = WaveFourCC('d', 'a', 't', 'a');
constexpr uint32_t kBufferSize = 8192;


}  // namespace

// A buffered file: reads go through `buffer`, which holds the file's bytes
// from `bufferStart` on.
struct WaveFile {
    WaveIoInfo io;
    WaveIoProcFn proc;
    uint32_t fileSize;
    uint32_t bufferStart;
    uint32_t bufferLength;
    uint32_t bufferPosition;
    uint8_t buffer[kBufferSize];
};

namespace {

uint32_t Position(const WaveFile* w) { return w->bufferStart + w->bufferPosition; }

bool Seek(WaveFile* w, uint32_t offset)
{
    if (offset > w->fileSize) return false;
    if (offset >= w->bufferStart && offset <= w->bufferStart + w->bufferLength) {
        w->bufferPosition = offset - w->bufferStart;
        return true;
    }
    if (w->proc(&w->io, WAVE_IO_SEEK, (intptr_t)offset, SEEK_SET) < 0) return false;
    w->bufferStart = offset;
    w->bufferLength = w->bufferPosition = 0;
    return true;
}

// Reads up to n bytes; returns how many came.
uint32_t Read(WaveFile* w, uint8_t* out, uint32_t n)
{
    uint32_t done = 0;
    while (done < n) {
        if (w->bufferPosition == w->bufferLength) {
            uint32_t next = Position(w);
            intptr_t got = w->proc(&w->io, WAVE_IO_READ, (intptr_t)w->buffer, kBufferSize);
            if (got <= 0) break;
            w->bufferStart = next;
            w->bufferLength = (uint32_t)got;
            w->bufferPosition = 0;
        }
        uint32_t take = w->bufferLength - w->bufferPosition;
        if (take > n - done) take = n - done;
        memcpy(out + done, w->buffer + w->bufferPosition, take);
        w->bufferPosition += take;
        done += take;
    }
    return done;
}

// Reads the header at the current position into chunk (the form type too
// for a RIFF chunk). The chunk's data must start inside the file.
bool ReadHeader(WaveFile* w, WaveChunk* chunk)
{
    uint8_t header[8];
    if (Read(w, header, 8) != 8) return false;
    ByteReader fields = ByteReader_Init(header, sizeof header);
    uint32_t id = ByteReader_U32(&fields), size = ByteReader_U32(&fields);
    *chunk = WaveChunk{id, size, 0, Position(w), 0};
    if (chunk->ckid == kRiff) {
        uint8_t type[4];
        if (chunk->cksize < 4 || Read(w, type, 4) != 4) return false;
        chunk->fccType = Bytes_LoadU32(type);
    }
    return true;
}

// Finds the chunk `id` from the current position up to `end` (the parent's
// end, never beyond the file). Chunks passed over must lie inside it.
bool Descend(WaveFile* w, uint32_t id, uint32_t end, WaveChunk* chunk)
{
    if (end > w->fileSize) end = w->fileSize;
    while ((uint64_t)Position(w) + 8 <= end) {
        if (!ReadHeader(w, chunk)) return false;
        if (chunk->ckid == id) return true;
        uint64_t next = (uint64_t)chunk->dataOffset + chunk->cksize + (chunk->cksize & 1);
        if (next > end || !Seek(w, (uint32_t)next)) return false;
    }
    return false;
}

uint32_t EndOf(const WaveChunk& chunk)
{
    uint64_t end = (uint64_t)chunk.dataOffset + chunk.cksize;
    return end > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)end;
}

}  // namespace

int Wave_Open(const char* name, WaveFile** out, WAVEFORMATEX** format, WaveChunk* riff, int streamed)
{
    if (!out || !format || !riff) return 0;
    *out = nullptr;
    *format = nullptr;
    if (!name) return 0;
    WaveFile* w = (WaveFile*)Mem_Calloc(sizeof(WaveFile), 8);
    if (!w) return 0;
    w->proc = streamed ? Wave_DiskIoProc : Wave_IoProc;
    if (w->proc(&w->io, WAVE_IO_OPEN, (intptr_t)name, 0) < 0) {
        Mem_Free(w);
        return 0;
    }
    intptr_t size = w->proc(&w->io, WAVE_IO_SEEK, 0, SEEK_END);
    if (size < 0 || size > 0x7FFFFFFF || w->proc(&w->io, WAVE_IO_SEEK, 0, SEEK_SET) < 0) {
        Wave_Close(w);
        return 0;
    }
    w->fileSize = (uint32_t)size;
    if (!Wave_ReadFormat(w, format, riff)) {
        Wave_Close(w);
        return 0;
    }
    *out = w;
    return 1;
}

int Wave_ReadFormat(WaveFile* w, WAVEFORMATEX** format, WaveChunk* riff)
{
    if (!w || !format || !riff) return 0;
    *format = nullptr;
    if (!Seek(w, 0) || !ReadHeader(w, riff) || riff->ckid != kRiff || riff->fccType != kWave) return 0;
    WaveChunk fmt;
    if (!Descend(w, kFmt, EndOf(*riff), &fmt) || fmt.cksize < 16) return 0;
    uint8_t base[16];
    if (Read(w, base, 16) != 16) return 0;
    ByteReader fields = ByteReader_Init(base, sizeof base);
    WAVEFORMATEX pcm = {};
    pcm.formatTag = ByteReader_U16(&fields);
    pcm.channels = ByteReader_U16(&fields);
    pcm.samplesPerSec = ByteReader_U32(&fields);
    pcm.avgBytesPerSec = ByteReader_U32(&fields);
    pcm.blockAlign = ByteReader_U16(&fields);
    pcm.bitsPerSample = ByteReader_U16(&fields);
    uint16_t extra = 0;
    if (pcm.formatTag != WAVE_FORMAT_PCM) {
        uint8_t size[2];
        // The extra size and the bytes it counts must lie inside the chunk.
        if (fmt.cksize < 18 || Read(w, size, 2) != 2) return 0;
        extra = Bytes_LoadU16(size);
        if (18u + extra > fmt.cksize) return 0;
    }
    WAVEFORMATEX* record = (WAVEFORMATEX*)Mem_Calloc(sizeof(WAVEFORMATEX) + extra, 8);
    if (!record) return 0;
    *record = pcm;
    record->cbSize = extra;
    if (extra && Read(w, (uint8_t*)(record + 1), extra) != extra) {
        Mem_Free(record);
        return 0;
    }
    // Ascend: behind the "fmt " chunk and its pad byte (or the file's end).
    uint64_t behind = (uint64_t)fmt.dataOffset + fmt.cksize + (fmt.cksize & 1);
    Seek(w, behind < w->fileSize ? (uint32_t)behind : w->fileSize);
    *format = record;
    return 1;
}

int Wave_FindData(WaveFile* w, WaveChunk* data, const WaveChunk* riff)
{
    if (!w || !data || !riff) return 0;
    if (!Seek(w, riff->dataOffset + 4)) return 0;
    return Descend(w, kData, EndOf(*riff), data) ? 1 : 0;
}

int Wave_Read(WaveFile* w, uint32_t size, uint8_t* destination, WaveChunk* data, uint32_t* count)
{
    if (count) *count = 0;
    if (!w || !data || (!destination && size)) return 0;
    uint32_t n = size < data->cksize ? size : data->cksize;
    uint32_t got = Read(w, destination, n);
    data->cksize -= got;
    if (count) *count = got;
    return got == n ? 1 : 0;
}

uint32_t Wave_GetFileSize(const WaveFile* w) { return w ? w->fileSize : 0; }

void Wave_Close(WaveFile* w)
{
    if (!w) return;
    w->proc(&w->io, WAVE_IO_CLOSE, 0, 0);
    Mem_Free(w);
}

intptr_t Wave_IoProc(WaveIoInfo* info, uint32_t message, intptr_t p1, intptr_t p2)
{
    switch (message) {
        case WAVE_IO_OPEN:
            info->file = File_Open((const char*)p1, "rb");
            info->diskOffset = 0;
            return info->file ? 0 : -1;
        case WAVE_IO_READ: {
            size_t got = File_Read((void*)p1, 1, (size_t)p2, info->file);
            info->diskOffset += (long)got;
            return (intptr_t)got;
        }
        case WAVE_IO_SEEK:
            if (File_Seek(info->file, (long)p1, (int)p2) != 0) return -1;
            info->diskOffset = File_Tell(info->file);
            return info->diskOffset;
        case WAVE_IO_CLOSE:
            if (info->file) File_Close(info->file);
            info->file = nullptr;
            return 0;
        default: return 0;
    }
}

intptr_t Wave_DiskIoProc(WaveIoInfo* info, uint32_t message, intptr_t p1, intptr_t p2)
{
    FILE* file = (FILE*)info->file;
    switch (message) {
        case WAVE_IO_OPEN:
            info->file = SysFile_Open((const char*)p1, "rb");
            info->diskOffset = 0;
            return info->file ? 0 : -1;
        case WAVE_IO_READ: {
            size_t got = fread((void*)p1, 1, (size_t)p2, file);
            info->diskOffset += (long)got;
            return (intptr_t)got;
        }
        case WAVE_IO_SEEK:
            if (fseek(file, (long)p1, (int)p2) != 0) return -1;
            info->diskOffset = ftell(file);
            return info->diskOffset;
        case WAVE_IO_CLOSE:
            if (file) fclose(file);
            info->file = nullptr;
            return 0;
        default: return 0;
    }
}
