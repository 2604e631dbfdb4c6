#include "gfx/core/stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "tests/gfx/core/test_driver.h"
#include "tests/test_env.h"

using namespace testdriver;

namespace {

struct Buffer {
    StreamMemory mem = {nullptr, 0};
    ~Buffer() { Engine_Free(mem.start); }
};

// Writes a small tree: STRUCT(4 bytes) and a parent 0x10 holding 0x11(8 bytes).
bool WriteTree(Stream* s)
{
    int32_t word = 0x11223344;
    float reals[2] = {1.5f, -2.25f};
    return Stream_WriteChunkHeaderDefault(s, CHUNK_STRUCT, 4) && Stream_WriteInt32(s, &word, 4) &&
           Stream_WriteChunkHeaderDefault(s, 0x10, 12 + 8) && Stream_WriteChunkHeaderDefault(s, 0x11, 8) &&
           Stream_WriteReal(s, reals, 8);
}

void ReadTree(Stream* s)
{
    uint32_t length = 0, version = 0;
    ASSERT_EQ(Stream_FindChunk(s, CHUNK_STRUCT, &length, &version), 1);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(version, (uint32_t)STREAM_VERSION);
    int32_t word = 0;
    ASSERT_NE(Stream_ReadInt32(s, &word, 4), nullptr);
    EXPECT_EQ(word, 0x11223344);
    ASSERT_EQ(Stream_FindChunk(s, 0x10, &length, nullptr), 1);
    EXPECT_EQ(length, 20u);
    ASSERT_EQ(Stream_FindChunk(s, 0x11, &length, nullptr), 1);
    float reals[2];
    ASSERT_NE(Stream_ReadReal(s, reals, 8), nullptr);
    EXPECT_EQ(reals[0], 1.5f);
    EXPECT_EQ(reals[1], -2.25f);
}

// A custom stream over a std::string.
struct StringStream {
    std::string bytes;
    size_t position = 0;
    bool closed = false;
};
int32_t SClose(void* d) { ((StringStream*)d)->closed = true; return 1; }
uint32_t SRead(void* d, void* buffer, uint32_t length)
{
    StringStream* s = (StringStream*)d;
    size_t n = std::min<size_t>(length, s->bytes.size() - s->position);
    memcpy(buffer, s->bytes.data() + s->position, n);
    s->position += n;
    return (uint32_t)n;
}
int32_t SWrite(void* d, const void* buffer, uint32_t length)
{
    ((StringStream*)d)->bytes.append((const char*)buffer, length);
    return 1;
}
int32_t SSkip(void* d, uint32_t length)
{
    StringStream* s = (StringStream*)d;
    if (s->position + length > s->bytes.size()) return 0;
    s->position += length;
    return 1;
}

}  // namespace

TEST(Stream, StampsEncodeAndDecode)
{
    uint32_t v, b;
    Stream_DecodeStamp(0x1400FFFF, &v, &b);
    EXPECT_EQ(v, 0x35000u);
    EXPECT_EQ(b, 0xFFFFu);
    Stream_DecodeStamp(0x0800FFFF, &v, &b);
    EXPECT_EQ(v, 0x32000u);
    Stream_DecodeStamp(0x0310, &v, &b);
    EXPECT_EQ(v, 0x31000u);
    EXPECT_EQ(b, 0u);
    EXPECT_EQ(Stream_EncodeStamp(0x34003, 0xFFFF), 0x1003FFFFu);
    EXPECT_EQ(Stream_EncodeStamp(STREAM_VERSION, STREAM_BUILD), 0x1400FFFFu);
}

TEST(Stream, ChunkTreesRoundTripOverMemoryFilesAndCallbacks)
{
    EngineScope scope;
    // Memory.
    Buffer buf;
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    ASSERT_TRUE(WriteTree(s));
    ASSERT_EQ(Stream_Close(s, &buf.mem), 1);
    EXPECT_EQ(buf.mem.length, 12u + 4 + 12 + 12 + 8);
    EXPECT_EQ(memcmp(buf.mem.start + 8, "\xFF\xFF\x00\x14", 4), 0);  // stamp 0x1400FFFF, little-endian
    s = Stream_Open(STREAM_MEMORY, STREAM_READ, &buf.mem);
    ReadTree(s);
    Stream_Close(s, nullptr);

    // Named file.
    const std::string path = (TestTmp() / "stream_tree.bin").string();
    const char* name = path.c_str();
    s = Stream_Open(STREAM_FILENAME, STREAM_WRITE, name);
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(WriteTree(s));
    ASSERT_EQ(Stream_Close(s, nullptr), 1);
    s = Stream_Open(STREAM_FILENAME, STREAM_READ, name);
    ASSERT_NE(s, nullptr);
    ReadTree(s);
    Stream_Close(s, nullptr);

    // An open file of the caller.
    void* f = FileSystem_GetInterface()->open(name, "rb");
    s = Stream_Open(STREAM_FILE, STREAM_READ, f);
    ASSERT_NE(s, nullptr);
    ReadTree(s);
    Stream_Close(s, nullptr);
    FileSystem_GetInterface()->close(f);

    // Callbacks.
    StringStream str;
    StreamCustom custom = {SClose, SRead, SWrite, SSkip, &str};
    s = Stream_Open(STREAM_CUSTOM, STREAM_WRITE, &custom);
    ASSERT_TRUE(WriteTree(s));
    Stream_Close(s, nullptr);
    EXPECT_TRUE(str.closed);
    EXPECT_EQ(str.bytes.size(), 48u);
    s = Stream_Open(STREAM_CUSTOM, STREAM_READ, &custom);
    ReadTree(s);
    Stream_Close(s, nullptr);
}

TEST(Stream, FindChunkSkipsOthersAndChecksTheVersionRange)
{
    InitScope scope;
    Buffer buf;
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    Stream_WriteChunkHeaderDefault(s, CHUNK_STRUCT, 20);
    Stream_Write(s, "01234567890123456789", 20);
    Stream_WriteChunkHeader(s, CHUNK_TEXTURE, 0, 0x32000, 0xFFFF);
    Stream_WriteChunkHeader(s, 7, 0, 0x36000, 0xFFFF);
    Stream_WriteChunkHeader(s, 8, 0, 0x30000, 0xFFFF);
    Stream_Close(s, &buf.mem);

    s = Stream_Open(STREAM_MEMORY, STREAM_READ, &buf.mem);
    Error_Get(nullptr);
    uint32_t version = 0;
    EXPECT_EQ(Stream_FindChunk(s, CHUNK_TEXTURE, nullptr, &version), 1);
    EXPECT_EQ(version, 0x32000u);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_BAD_VERSION);  // accepted with a warning
    EXPECT_EQ(Stream_FindChunk(s, 7, nullptr, nullptr), 0);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_BAD_VERSION);
    EXPECT_EQ(Stream_FindChunk(s, 8, nullptr, nullptr), 0);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_BAD_VERSION);
    EXPECT_EQ(Stream_FindChunk(s, 9, nullptr, nullptr), 0);  // end of data
    Stream_Close(s, nullptr);
    Error_Get(nullptr);
}

TEST(Stream, VersionRangeEndsAreInclusiveAndTheWarningEndsAt0x33000)
{
    InitScope scope;
    struct Case {
        uint32_t version;
        int32_t found;
        int32_t error;
    } cases[] = {
        {0x31000, 1, (int32_t)ERR_BAD_VERSION}, {0x33000, 1, (int32_t)ERR_BAD_VERSION},
        {0x33001, 1, (int32_t)ERR_NO_ERROR}, {0x35000, 1, (int32_t)ERR_NO_ERROR},
        {0x35001, 0, (int32_t)ERR_BAD_VERSION},
    };
    for (const Case& c : cases) {
        Buffer buf;
        Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
        Stream_WriteChunkHeader(s, CHUNK_STRUCT, 0, c.version, 0xFFFF);
        Stream_Close(s, &buf.mem);
        s = Stream_Open(STREAM_MEMORY, STREAM_READ, &buf.mem);
        Error_Get(nullptr);
        uint32_t version = 0;
        EXPECT_EQ(Stream_FindChunk(s, CHUNK_STRUCT, nullptr, &version), c.found) << std::hex << c.version;
        EXPECT_EQ(Error_TakeCode(), c.error) << std::hex << c.version;
        if (c.found) {
            EXPECT_EQ(version, c.version);
        }
        Stream_Close(s, nullptr);
    }
}

TEST(Stream, MemoryStreamsGrowByBlocksAndHandTheBufferBack)
{
    InitScope scope;
    std::vector<uint8_t> data(600, 0xAB);
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    Stream_Write(s, data.data(), 600);
    EXPECT_EQ(Stream_MemoryCapacity(s), 1112u);
    Stream_Close(s, nullptr);  // the buffer nobody takes is freed

    s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    for (int i = 0; i < 6; i++) Stream_Write(s, data.data(), 100);
    EXPECT_EQ(Stream_MemoryCapacity(s), 1024u);
    // Reads and skips stop at the last write, not at the block's end.
    Error_Get(nullptr);
    EXPECT_EQ(Stream_Read(s, data.data(), 4), 0u);
    EXPECT_EQ(Error_TakeCode(), ERR_END_OF_STREAM);
    EXPECT_EQ(Stream_Skip(s, 1), nullptr);
    Error_Get(nullptr);
    Buffer buf;
    Stream_Close(s, &buf.mem);
    EXPECT_EQ(buf.mem.length, 600u);

    // Append continues after the given bytes.
    s = Stream_Open(STREAM_MEMORY, STREAM_APPEND, &buf.mem);
    Stream_Write(s, "xyz", 3);
    Stream_Close(s, &buf.mem);
    EXPECT_EQ(buf.mem.length, 603u);
    EXPECT_EQ(memcmp(buf.mem.start + 600, "xyz", 3), 0);
}

TEST(Stream, ShortReadsFailWithoutReadingPastTheEnd)
{
    InitScope scope;
    uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    StreamMemory mem = {bytes, 6};
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_READ, &mem);
    Error_Get(nullptr);
    int32_t words[2] = {0, 0};
    EXPECT_EQ(Stream_ReadInt32(s, words, 8), nullptr);  // only 6 bytes there
    EXPECT_EQ(Error_TakeCode(), ERR_END_OF_STREAM);
    EXPECT_EQ(Stream_Skip(s, 1), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_END_OF_STREAM);
    Stream_Close(s, nullptr);

    // A chunk whose size runs past the end of a memory stream or a file can
    // be neither skipped nor found: no reader sizes anything by its length.
    Buffer buf;
    s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    Stream_WriteChunkHeaderDefault(s, CHUNK_STRUCT, 1000);
    Stream_WriteChunkHeaderDefault(s, CHUNK_TEXTURE, 0);
    Stream_Close(s, &buf.mem);
    const std::string path = (TestTmp() / "stream_short.bin").string();
    const char* name = path.c_str();
    FILE* f = fopen(name, "wb");
    fwrite(buf.mem.start, 1, buf.mem.length, f);
    fclose(f);
    for (uint32_t wanted : {CHUNK_TEXTURE, CHUNK_STRUCT})
        for (bool file : {false, true}) {
            s = file ? Stream_Open(STREAM_FILENAME, STREAM_READ, name)
                     : Stream_Open(STREAM_MEMORY, STREAM_READ, &buf.mem);
            EXPECT_EQ(Stream_FindChunk(s, wanted, nullptr, nullptr), 0) << wanted << file;
            EXPECT_EQ(Error_TakeCode(), ERR_END_OF_STREAM);
            Stream_Close(s, nullptr);
        }

    // A file cut inside a word: the partial read is a failure.
    f = fopen(name, "wb");
    fwrite("\x01\x02", 1, 2, f);
    fclose(f);
    s = Stream_Open(STREAM_FILENAME, STREAM_READ, name);
    EXPECT_EQ(Stream_ReadInt32(s, words, 4), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_END_OF_STREAM);
    Stream_Close(s, nullptr);
}

TEST(Stream, OpenRefusesMissingFilesAndBadKinds)
{
    InitScope scope;
    Error_Get(nullptr);
    EXPECT_EQ(Stream_Open(STREAM_FILENAME, STREAM_READ, (TestTmp() / "missing.bin").c_str()), nullptr);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_FILE_OPEN);
    EXPECT_EQ(Stream_Open(STREAM_FILENAME, 9, (TestTmp() / "x.bin").c_str()), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_BAD_ACCESS);
    EXPECT_EQ(Stream_Open(STREAM_MEMORY, 9, nullptr), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_BAD_ACCESS);
    EXPECT_EQ(Stream_Open(7, STREAM_READ, nullptr), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_BAD_STREAM_TYPE);
    StreamMemory noBytes = {nullptr, 10};
    EXPECT_EQ(Stream_Open(STREAM_MEMORY, STREAM_READ, &noBytes), nullptr);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_NULL_ARGUMENT);
}

namespace {
int32_t FailWrite(void*, const void*, uint32_t) { return 0; }
}  // namespace

TEST(Stream, FailedWritesAreReportedAsFailures)
{
    InitScope scope;
    StreamCustom custom = {nullptr, nullptr, FailWrite, nullptr, nullptr};
    Stream* s = Stream_Open(STREAM_CUSTOM, STREAM_WRITE, &custom);
    int32_t word = 1;
    EXPECT_EQ(Stream_WriteInt32(s, &word, 4), nullptr);
    float real = 1.0f;
    EXPECT_EQ(Stream_WriteReal(s, &real, 4), nullptr);
    EXPECT_EQ(Stream_WriteChunkHeaderDefault(s, 1, 0), nullptr);
    Stream_Close(s, nullptr);

    // A read stream over the caller's block neither writes into it nor grows it.
    uint8_t bytes[4] = {1, 2, 3, 4};
    StreamMemory mem = {bytes, 4};
    s = Stream_Open(STREAM_MEMORY, STREAM_READ, &mem);
    uint8_t more[600] = {};
    Error_Get(nullptr);
    EXPECT_EQ(Stream_Write(s, more, 2), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_BAD_ACCESS);
    EXPECT_EQ(Stream_Write(s, more, sizeof(more)), nullptr);
    EXPECT_EQ(bytes[0], 1);
    Stream_Close(s, nullptr);
}
