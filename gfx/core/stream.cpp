#include "gfx/core/stream.h"

#include <bit>
#include <cstring>

#include "common/assert.h"
#include "common/bytes.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/freelist.h"

static_assert(std::endian::native == std::endian::little, "streams copy little-endian words as they are");

namespace {

struct StreamModule {
    FreeList* streams;  // null until the module opens; records are then allocated one by one
};

StreamModule g_streams;

FileInterface* Files(void) { return &g_engineInstance->fileFunctions; }

Stream* NewRecord(void)
{
    Stream* s = nullptr;
    if (g_streams.streams) {
        s = (Stream*)FreeList_Alloc(g_streams.streams);
        if (s) {
            memset(s, 0, sizeof(*s));
            s->fromFreeList = 1;
        }
    } else {
        s = (Stream*)Engine_Malloc(sizeof(Stream));
        if (s) memset(s, 0, sizeof(*s));
    }
    if (!s) Error_Raise(ERR_OUT_OF_MEMORY);
    return s;
}

void ReleaseRecord(Stream* s)
{
    if (s->fromFreeList && g_streams.streams) FreeList_Free(g_streams.streams, s);
    else Engine_Free(s);
}

bool GrowMemory(Stream* s, uint32_t length)
{
    if (!s->memory.buffer) {
        s->memory.buffer = (uint8_t*)Engine_Malloc(512);
        if (!s->memory.buffer) {
            Error_Raise(ERR_OUT_OF_MEMORY);
            return false;
        }
        s->memory.size = 512;
    }
    if (s->memory.size - s->memory.position >= length) return true;
    uint64_t capacity = (uint64_t)s->memory.size + (length < 512 ? 512 : length);
    if (capacity > 0xFFFFFFFFu) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return false;
    }
    uint8_t* grown = (uint8_t*)Engine_Realloc(s->memory.buffer, (size_t)capacity);
    if (!grown) {
        Error_Raise(ERR_OUT_OF_MEMORY);
        return false;
    }
    s->memory.buffer = grown;
    s->memory.size = (uint32_t)capacity;
    return true;
}

}  // namespace

Stream* Stream_Open(uint32_t type, uint32_t access, const void* parameter)
{
    Stream* s = NewRecord();
    if (!s) return nullptr;
    s->type = type;
    s->access = access;
    bool ok = false;
    switch (type) {
    case STREAM_FILE:
        s->file = (void*)parameter;
        ok = parameter && Files()->tell(s->file) != -1;
        if (!ok) Error_Raise(ERR_FILE_OPEN);
        break;
    case STREAM_FILENAME: {
        const char* mode = access == STREAM_READ ? "rb" : access == STREAM_WRITE ? "wb" : access == STREAM_APPEND ? "ab" : nullptr;
        if (!mode) {
            Error_Raise(ERR_BAD_ACCESS);
            break;
        }
        s->file = parameter ? Files()->open((const char*)parameter, mode) : nullptr;
        ok = s->file != nullptr;
        if (!ok) Error_Raise(ERR_FILE_OPEN);
        break;
    }
    case STREAM_MEMORY: {
        const StreamMemory* m = (const StreamMemory*)parameter;
        if ((access == STREAM_READ || access == STREAM_APPEND) && m && !m->start && m->length) {
            Error_Raise(ERR_NULL_ARGUMENT);  // a length without bytes behind it
            break;
        }
        if (access == STREAM_READ) {
            if (!m) {
                Error_Raise(ERR_NULL_ARGUMENT);
                break;
            }
            s->memory.position = 0;
            s->memory.size = s->memory.length = m->length;
            s->memory.buffer = m->start;
            ok = true;
        } else if (access == STREAM_WRITE) {
            ok = true;
        } else if (access == STREAM_APPEND) {
            if (!m) {
                Error_Raise(ERR_NULL_ARGUMENT);
                break;
            }
            s->memory.position = s->memory.size = s->memory.length = m->length;
            s->memory.buffer = m->start;
            ok = true;
        } else {
            Error_Raise(ERR_BAD_ACCESS);
        }
        break;
    }
    case STREAM_CUSTOM:
        if (!parameter) {
            Error_Raise(ERR_NULL_ARGUMENT);
            break;
        }
        s->custom = *(const StreamCustom*)parameter;
        ok = true;
        break;
    default:
        Error_Raise(ERR_BAD_STREAM_TYPE);
        break;
    }
    if (!ok) {
        ReleaseRecord(s);
        return nullptr;
    }
    return s;
}

int32_t Stream_Close(Stream* stream, StreamMemory* memoryOut)
{
    if (!stream) return 0;
    int32_t result = 1;
    switch (stream->type) {
    case STREAM_FILE:
        break;
    case STREAM_FILENAME:
        result = Files()->close(stream->file) == 0;
        break;
    case STREAM_MEMORY:
        if (stream->access == STREAM_WRITE || stream->access == STREAM_APPEND) {
            if (memoryOut) {
                memoryOut->start = stream->memory.buffer;
                memoryOut->length = stream->memory.length;
            } else {
                // Nobody takes the buffer: do not leak it.
                Engine_Free(stream->memory.buffer);
            }
        }
        break;
    case STREAM_CUSTOM:
        if (stream->custom.close) stream->custom.close(stream->custom.data);
        break;
    default:
        Error_Raise(ERR_BAD_STREAM_TYPE);
        return 0;
    }
    ReleaseRecord(stream);
    return result;
}

uint32_t Stream_Read(Stream* stream, void* buffer, uint32_t length)
{
    HELM_ASSERT(stream && (buffer || length == 0));
    uint32_t count = 0;
    switch (stream->type) {
    case STREAM_FILE:
    case STREAM_FILENAME:
        count = (uint32_t)Files()->read(buffer, 1, length, stream->file);
        if (count < length) Error_Raise(Files()->eof(stream->file) ? (uint32_t)ERR_END_OF_STREAM : ERR_SHORT_READ);
        break;
    case STREAM_MEMORY:
        // A stream being written is read no further than its last write:
        // the rest of its block was never filled.
        count = stream->memory.length - stream->memory.position;
        if (length < count) count = length;
        if (count < length) Error_Raise(ERR_END_OF_STREAM);
        if (count) memcpy(buffer, stream->memory.buffer + stream->memory.position, count);
        stream->memory.position += count;
        break;
    case STREAM_CUSTOM:
        count = stream->custom.read ? stream->custom.read(stream->custom.data, buffer, length) : 0;
        if (count > length) count = length;  // a callback cannot claim more than it was asked for
        if (count < length) Error_Raise(ERR_SHORT_READ);
        break;
    default:
        Error_Raise(ERR_BAD_STREAM_TYPE);
        return 0;
    }
    stream->moved += count;
    return count;
}

Stream* Stream_Write(Stream* stream, const void* buffer, uint32_t length)
{
    HELM_ASSERT(stream && (buffer || length == 0));
    switch (stream->type) {
    case STREAM_FILE:
    case STREAM_FILENAME:
        if (Files()->write(buffer, 1, length, stream->file) != length) {
            Error_Raise(ERR_WRITE_FAILED);
            return nullptr;
        }
        break;
    case STREAM_MEMORY:
        // A read stream's block belongs to the caller: writing would overwrite
        // it or hand it to realloc.
        if (stream->access == STREAM_READ) {
            Error_Raise(ERR_BAD_ACCESS);
            return nullptr;
        }
        if (!GrowMemory(stream, length)) return nullptr;
        if (length) memcpy(stream->memory.buffer + stream->memory.position, buffer, length);
        stream->memory.position += length;
        if (stream->memory.position > stream->memory.length) stream->memory.length = stream->memory.position;
        break;
    case STREAM_CUSTOM:
        if (!stream->custom.write || stream->custom.write(stream->custom.data, buffer, length) <= 0) return nullptr;
        break;
    default:
        Error_Raise(ERR_BAD_STREAM_TYPE);
        return nullptr;
    }
    stream->moved += length;
    return stream;
}

Stream* Stream_Skip(Stream* stream, uint32_t length)
{
    HELM_ASSERT(stream);
    if (length == 0) return stream;
    switch (stream->type) {
    case STREAM_FILE:
    case STREAM_FILENAME:
        if (Files()->seek(stream->file, (long)length, 1) != 0) {
            if (Files()->eof(stream->file)) Error_Raise(ERR_END_OF_STREAM);
            return nullptr;
        }
        break;
    case STREAM_MEMORY:
        if ((uint64_t)stream->memory.position + length > stream->memory.length) {
            stream->memory.position = stream->memory.length;
            Error_Raise(ERR_END_OF_STREAM);
            return nullptr;
        }
        stream->memory.position += length;
        break;
    case STREAM_CUSTOM:
        if (!stream->custom.skip || stream->custom.skip(stream->custom.data, length) <= 0) return nullptr;
        break;
    default:
        Error_Raise(ERR_BAD_STREAM_TYPE);
        return nullptr;
    }
    stream->moved += length;
    return stream;
}

int32_t Stream_Remaining(Stream* stream, uint64_t* bytes)
{
    HELM_ASSERT(stream && bytes);
    if (stream->access != STREAM_READ) return 0;
    switch (stream->type) {
    case STREAM_FILE:
    case STREAM_FILENAME: {
        if (!Files()->tell || !Files()->seek) return 0;
        const long at = Files()->tell(stream->file);
        if (at < 0) return 0;
        if (stream->fileEnd == 0) {
            // Found once: the end of a file being read does not move.
            if (Files()->seek(stream->file, 0, 2) != 0) return 0;
            const long end = Files()->tell(stream->file);
            if (Files()->seek(stream->file, at, 0) != 0 || end < 0) return 0;
            stream->fileEnd = (uint64_t)end + 1;
        }
        *bytes = stream->fileEnd - 1 > (uint64_t)at ? stream->fileEnd - 1 - (uint64_t)at : 0;
        return 1;
    }
    case STREAM_MEMORY: *bytes = stream->memory.length - stream->memory.position; return 1;
    default: return 0;
    }
}

uint32_t Stream_EncodeStamp(uint32_t version, uint32_t build)
{
    return (((version + 0x10000u) >> 8) << 22) | ((version & 0x3Fu) << 16) | (build & 0xFFFFu);
}

void Stream_DecodeStamp(uint32_t stamp, uint32_t* version, uint32_t* build)
{
    uint32_t v, b;
    if (stamp < 0x10000u) {
        v = stamp << 8;
        b = 0;
    } else {
        v = ((stamp >> 14) & 0x3FF00u) + 0x30000u + ((stamp >> 16) & 0x3Fu);
        b = stamp & 0xFFFFu;
    }
    if (version) *version = v;
    if (build) *build = b;
}

int32_t Stream_ReadChunkHeader(Stream* stream, uint32_t* type, uint32_t* length, uint32_t* version,
                               uint32_t* build)
{
    uint8_t bytes[CHUNK_HEADER_SIZE];
    if (Stream_Read(stream, bytes, CHUNK_HEADER_SIZE) != CHUNK_HEADER_SIZE) {
        Error_Raise(ERR_SHORT_READ);
        return 0;
    }
    ByteReader r = ByteReader_Init(bytes, sizeof bytes);
    const uint32_t t = ByteReader_U32(&r), n = ByteReader_U32(&r), stamp = ByteReader_U32(&r);
    if (type) *type = t;
    if (length) *length = n;
    Stream_DecodeStamp(stamp, version, build);
    return 1;
}

int32_t Stream_ReadChunkHeaderInfo(Stream* stream, ChunkHeaderInfo* info)
{
    return Stream_ReadChunkHeader(stream, &info->type, &info->length, &info->version, &info->buildNum);
}

Stream* Stream_WriteChunkHeader(Stream* stream, uint32_t type, uint32_t length, uint32_t version,
                                uint32_t build)
{
    uint8_t bytes[CHUNK_HEADER_SIZE];
    Bytes_StoreU32(bytes, type);
    Bytes_StoreU32(bytes + 4, length);
    Bytes_StoreU32(bytes + 8, Stream_EncodeStamp(version, build));
    return Stream_Write(stream, bytes, CHUNK_HEADER_SIZE);
}

int32_t Stream_FindChunk(Stream* stream, uint32_t type, uint32_t* length, uint32_t* version)
{
    uint32_t t, n, v;
    if (!Stream_ReadChunkHeader(stream, &t, &n, &v, nullptr)) return 0;
    while (t != type) {
        if (!Stream_Skip(stream, n)) return 0;
        if (!Stream_ReadChunkHeader(stream, &t, &n, &v, nullptr)) return 0;
    }
    if (v < STREAM_VERSION_MIN || v > STREAM_VERSION_MAX) {
        Error_Raise(ERR_BAD_VERSION);
        return 0;
    }
    uint64_t left = 0;
    if (Stream_Remaining(stream, &left) && n > left) {
        Error_Raise(ERR_END_OF_STREAM);
        return 0;
    }
    if (v <= STREAM_VERSION_WARN) Error_Raise(ERR_BAD_VERSION);
    if (length) *length = n;
    if (version) *version = v;
    return 1;
}

Stream* Stream_WriteInt32(Stream* stream, const void* data, uint32_t bytes)
{
    return Stream_Write(stream, data, bytes);
}

Stream* Stream_ReadInt32(Stream* stream, void* data, uint32_t bytes)
{
    if (Stream_Read(stream, data, bytes) != bytes) {
        Error_Raise(ERR_SHORT_READ);
        return nullptr;
    }
    return stream;
}

// Floats are IEEE-754 binary32 little-endian on disk as in memory (see the
// endianness check at the top), so they are written as they are.
Stream* Stream_WriteReal(Stream* stream, const float* data, uint32_t bytes)
{
    return Stream_Write(stream, data, bytes);
}

Stream* Stream_ReadReal(Stream* stream, float* data, uint32_t bytes) { return Stream_ReadInt32(stream, data, bytes); }

void* Stream_ModuleOpen(void* instance, int32_t, int32_t)
{
    g_streams.streams = FreeList_CreateEx(sizeof(Stream), 16, 8, 1, nullptr);
    return g_streams.streams ? instance : nullptr;
}

void* Stream_ModuleClose(void* instance, int32_t, int32_t)
{
    FreeList_Destroy(g_streams.streams);
    g_streams.streams = nullptr;
    return instance;
}
