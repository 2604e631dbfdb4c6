// Binary streams and chunks.
//
// A stream reads or writes bytes over an open file of the caller, a named
// file, a memory block or caller-supplied functions. Engine objects travel as
// trees of chunks: a 12-byte little-endian header {type, payload size (nested
// headers included), library stamp} followed by the payload.
#pragma once
#include <cstddef>
#include <cstdint>

enum StreamType : uint32_t {
    STREAM_FILE = 1,      // an open file of the caller (the caller closes it)
    STREAM_FILENAME = 2,  // the stream opens and closes the named file
    STREAM_MEMORY = 3,
    STREAM_CUSTOM = 4,
};

enum StreamAccess : uint32_t {
    STREAM_READ = 1,
    STREAM_WRITE = 2,
    STREAM_APPEND = 3,
};

// Memory block for STREAM_MEMORY (parameter of Stream_Open, result of
// Stream_Close). A block to append to must come from the engine's memory
// functions, because the stream reallocates it.
struct StreamMemory {
    uint8_t* start;
    uint32_t length;
};

// Caller-supplied stream functions (parameter of Stream_Open for STREAM_CUSTOM).
struct StreamCustom {
    int32_t (*close)(void* data);
    uint32_t (*read)(void* data, void* buffer, uint32_t length);        // bytes read
    int32_t (*write)(void* data, const void* buffer, uint32_t length);  // > 0 on success
    int32_t (*skip)(void* data, uint32_t length);                       // > 0 on success
    void* data;
};

struct Stream {
    uint32_t type;    // StreamType
    uint32_t access;  // StreamAccess
    union {
        void* file;  // STREAM_FILE, STREAM_FILENAME
        struct {
            uint32_t position;
            uint32_t size;    // data size for reading, capacity for writing
            uint32_t length;  // bytes of data: the block's for reading, those written so far
                              // when writing; reads and skips stop here
            uint8_t* buffer;
        } memory;
        StreamCustom custom;
    };
    int32_t fromFreeList;  // the record goes back to the stream free list
    uint64_t moved;        // bytes read, skipped or written since the stream opened
    uint64_t fileEnd;      // a file being read: its size + 1, found at the first Stream_Remaining (0 before)
};

enum : uint32_t {
    CHUNK_STRUCT = 1,
    CHUNK_STRING = 2,
    CHUNK_EXTENSION = 3,
    CHUNK_TEXTURE = 6,
};

enum : uint32_t {
    STREAM_VERSION = 0x35000,   // written by every writer
    STREAM_BUILD = 0xFFFF,
    STREAM_VERSION_MIN = 0x31000,
    STREAM_VERSION_WARN = 0x33000,  // versions up to here are accepted with a warning
    STREAM_VERSION_MAX = 0x35000,
    CHUNK_HEADER_SIZE = 12,
};

struct ChunkHeaderInfo {
    uint32_t type;
    uint32_t length;
    uint32_t version;
    uint32_t buildNum;
};

// parameter: STREAM_FILE the file handle, STREAM_FILENAME the name,
// STREAM_MEMORY a StreamMemory (ignored for write), STREAM_CUSTOM a
// StreamCustom (copied). Null on failure (0x80000002 missing file, 13 bad
// access, 14 bad type).
Stream* Stream_Open(uint32_t type, uint32_t access, const void* parameter);
// Closes the stream and gives its record back. For a memory stream opened for
// write or append, *memoryOut (when not null) receives {buffer, bytes
// written} and the caller owns the buffer (free it with Engine_Free);
// without memoryOut the buffer is freed. 0 on failure.
int32_t Stream_Close(Stream* stream, StreamMemory* memoryOut);
// Read, write and skip need an open stream (never null) and a buffer unless
// the length is 0.
// Returns the bytes read; fewer than asked raises 5 at the end of the data,
// 0x8000001A otherwise. Never reads past the end of a memory block.
uint32_t Stream_Read(Stream* stream, void* buffer, uint32_t length);
// Null on failure; a memory stream opened for reading refuses writes.
Stream* Stream_Write(Stream* stream, const void* buffer, uint32_t length);
// Skips forward; past the end raises 5 and returns null.
Stream* Stream_Skip(Stream* stream, uint32_t length);
// The bytes a stream opened for reading still holds, so that a reader can
// refuse a count before it allocates for it. 1 with *bytes set; 0 when the
// stream cannot tell (caller-supplied functions, a file that cannot seek).
int32_t Stream_Remaining(Stream* stream, uint64_t* bytes);

uint32_t Stream_EncodeStamp(uint32_t version, uint32_t build);
void Stream_DecodeStamp(uint32_t stamp, uint32_t* version, uint32_t* build);
// Any out pointer may be null. Fails (0x8000001A) on fewer than 12 bytes.
int32_t Stream_ReadChunkHeader(Stream* stream, uint32_t* type, uint32_t* length, uint32_t* version,
                               uint32_t* build);
int32_t Stream_ReadChunkHeaderInfo(Stream* stream, ChunkHeaderInfo* info);
Stream* Stream_WriteChunkHeader(Stream* stream, uint32_t type, uint32_t length, uint32_t version,
                                uint32_t build);
// Shorthand for the version every writer uses (0x35000, 0xFFFF).
inline Stream* Stream_WriteChunkHeaderDefault(Stream* stream, uint32_t type, uint32_t length)
{
    return Stream_WriteChunkHeader(stream, type, length, STREAM_VERSION, STREAM_BUILD);
}
// Skips chunks until one of the given type; leaves the stream at its payload.
// Versions outside 0x31000..0x35000 are refused (0x80000004); versions up to
// 0x33000 are accepted with 0x80000004 left as a warning. A chunk longer
// than what the stream still holds is refused (5), so that no reader sizes
// anything by a length the data cannot back.
int32_t Stream_FindChunk(Stream* stream, uint32_t type, uint32_t* length, uint32_t* version);

// 32-bit words and floats, little-endian on disk; lengths are in bytes
// (multiples of 4). Null on failure, including a short read or write.
Stream* Stream_WriteInt32(Stream* stream, const void* data, uint32_t bytes);
Stream* Stream_ReadInt32(Stream* stream, void* data, uint32_t bytes);
Stream* Stream_WriteReal(Stream* stream, const float* data, uint32_t bytes);
Stream* Stream_ReadReal(Stream* stream, float* data, uint32_t bytes);

// Capacity of a memory stream opened for write (for tests of growth).
inline uint32_t Stream_MemoryCapacity(const Stream* stream) { return stream->memory.size; }

void* Stream_ModuleOpen(void* instance, int32_t offset, int32_t size);
void* Stream_ModuleClose(void* instance, int32_t offset, int32_t size);
