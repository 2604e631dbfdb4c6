// RIFF WAVE files, read the way the sound system expects the platform's
// multimedia I/O to read them: a buffered file with an I/O procedure, chunk
// descriptors, descending into chunks by identifier and reading the "data"
// chunk piece by piece.
//
// Two I/O procedures: Wave_IoProc opens through the file layer (so a sound
// may come from an archive), Wave_DiskIoProc directly on disk (streams).
// Every size read from a file is checked against the file and the chunk it
// lies in; a file that lies about a size fails cleanly. The data chunk of a
// cut file may claim more than is left: reads then come up short, which the
// caller decides about.
#pragma once

#include <cstdint>

struct WAVEFORMATEX;

// A chunk descriptor: identifier, size (of a "data" chunk: the bytes not
// read yet), form type (RIFF chunks), offset of the chunk's data, flags.
struct WaveChunk {
    uint32_t ckid;
    uint32_t cksize;
    uint32_t fccType;
    uint32_t dataOffset;
    uint32_t flags;
};

constexpr uint32_t WaveFourCC(char a, char b, char c, char d)
{
    return (uint32_t)(uint8_t)a | (uint32_t)(uint8_t)b << 8 | (uint32_t)(uint8_t)c << 16 | (uint32_t)(uint8_t)d << 24;
}

// I/O procedure messages.
enum : uint32_t {
    WAVE_IO_READ = 0,   // p1 destination, p2 bytes: returns bytes read
    WAVE_IO_SEEK = 2,   // p1 offset, p2 origin (SEEK_*): returns the new offset or -1
    WAVE_IO_OPEN = 3,   // p1 the name: 0, or -1 when it can't be opened
    WAVE_IO_CLOSE = 4,
};

struct WaveIoInfo {
    void* file;        // the procedure's open file
    long diskOffset;   // the file position the procedure last reached
};
typedef intptr_t (*WaveIoProcFn)(WaveIoInfo* info, uint32_t message, intptr_t p1, intptr_t p2);

struct WaveFile;

// Opens a wave file (streamed: directly on disk, else through the file
// layer) and reads its format into a new record (*format, freed by the
// caller with Mem_Free) and its RIFF chunk. 0 with nothing left open when
// the file can't be opened or its format can't be read.
int Wave_Open(const char* name, WaveFile** out, WAVEFORMATEX** format, WaveChunk* riff, int streamed);
// Descends into the first chunk ("RIFF", form "WAVE"), then to its "fmt "
// chunk (at least 16 bytes): a PCM record, or any other with its extra
// bytes (which must lie inside the chunk). 0 (nothing allocated) on failure.
int Wave_ReadFormat(WaveFile* wave, WAVEFORMATEX** format, WaveChunk* riff);
// Seeks behind the RIFF chunk's form type and descends to its "data" chunk.
int Wave_FindData(WaveFile* wave, WaveChunk* data, const WaveChunk* riff);
// Reads min(size, data->cksize) bytes into destination; data->cksize goes
// down by what was read and *count receives it. 1 when all were read, 0 on
// a short read (a cut file).
int Wave_Read(WaveFile* wave, uint32_t size, uint8_t* destination, WaveChunk* data, uint32_t* count);
// The bytes of the file.
uint32_t Wave_GetFileSize(const WaveFile* wave);
void Wave_Close(WaveFile* wave);

// The I/O procedures: through the file layer ("rb"), and on disk.
intptr_t Wave_IoProc(WaveIoInfo* info, uint32_t message, intptr_t p1, intptr_t p2);
intptr_t Wave_DiskIoProc(WaveIoInfo* info, uint32_t message, intptr_t p1, intptr_t p2);
