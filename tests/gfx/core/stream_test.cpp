#include "gfx/core/stream.h"

#include "gfx/core/plugin.h"
#include "tests/gfx/core/image_fixture.h"

using namespace testdriver;

namespace {

// A small tree: STRUCT(4 bytes) and a parent 0x10 holding 0x11(8 bytes).
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
    ASSERT_NE(s, nullptr);
    uint32_t length = 0, version = 0;
    ASSERT_EQ(Stream_FindChunk(s, CHUNK_STRUCT, &length, &version), 1);
    EXPECT_EQ(std::tuple(length, version), std::tuple(4u, (uint32_t)STREAM_VERSION));
    int32_t word = 0;
    ASSERT_NE(Stream_ReadInt32(s, &word, 4), nullptr);
    EXPECT_EQ(word, 0x11223344);
    ASSERT_EQ(Stream_FindChunk(s, 0x10, &length, nullptr), 1);
    EXPECT_EQ(length, 20u);
    ASSERT_EQ(Stream_FindChunk(s, 0x11, &length, nullptr), 1);
    float reals[2];
    ASSERT_NE(Stream_ReadReal(s, reals, 8), nullptr);
    EXPECT_EQ(std::pair(reals[0], reals[1]), std::pair(1.5f, -2.25f));
    Stream_Close(s, nullptr);
}

struct StringStream {
    std::string bytes;
    size_t position = 0;
    bool closed = false;
};
int32_t SClose(void* d) { return ((StringStream*)d)->closed = true; }
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
    return ((StringStream*)d)->bytes.append((const char*)buffer, length), 1;
}
int32_t SSkip(void* d, uint32_t length)
{
    StringStream* s = (StringStream*)d;
    if (s->position + length > s->bytes.size()) return 0;
    s->position += length;
    return 1;
}
int32_t FailWrite(void*, const void*, uint32_t) { return 0; }

void WriteFile(const std::string& path, const void* bytes, size_t length)
{
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(bytes, 1, length, f);
    fclose(f);
}

}  // namespace

TEST(Stream, StampsFindChunkChecksTheVersionRangeAndMemoryStreamsStopAtTheLastWriteAndAppend)
{
    InitScope scope;
    uint32_t v, b;
    Stream_DecodeStamp(0x1400FFFF, &v, &b);
    EXPECT_EQ(std::pair(v, b), std::pair(0x35000u, 0xFFFFu));
    Stream_DecodeStamp(0x0310, &v, &b);  // an old stamp-less version
    EXPECT_EQ(std::pair(v, b), std::pair(0x31000u, 0u));
    EXPECT_EQ(Stream_EncodeStamp(0x34003, 0xFFFF), 0x1003FFFFu);
    // Behind a struct chunk skipped whole: each version, found or not, warned of or not.
    const struct {
        uint32_t version;
        int32_t found;
        uint32_t error;
    } cases[] = {
        {0x30000, 0, ERR_BAD_VERSION}, {0x31000, 1, ERR_BAD_VERSION}, {0x32000, 1, ERR_BAD_VERSION},
        {0x33000, 1, ERR_BAD_VERSION}, {0x33001, 1, ERR_NO_ERROR},    {0x35000, 1, ERR_NO_ERROR},
        {0x35001, 0, ERR_BAD_VERSION}, {0x36000, 0, ERR_BAD_VERSION},
    };
    for (const auto& c : cases) {
        MemoryBytes buf([&](Stream* s) {
            Stream_WriteChunkHeaderDefault(s, CHUNK_STRUCT, 20);
            Stream_Write(s, "01234567890123456789", 20);
            Stream_WriteChunkHeader(s, CHUNK_TEXTURE, 0, c.version, 0xFFFF);
        });
        Stream* s = buf.Open();
        Error_Get(nullptr);
        uint32_t version = 0;
        EXPECT_EQ(Stream_FindChunk(s, CHUNK_TEXTURE, nullptr, &version), c.found) << std::hex << c.version;
        EXPECT_EQ(Error_TakeCode(), c.error) << std::hex << c.version;
        EXPECT_EQ(version, c.found ? c.version : 0u);
        EXPECT_EQ(Stream_FindChunk(s, 9, nullptr, nullptr), 0);  // end of data
        Stream_Close(s, nullptr);
    }
    Error_Get(nullptr);
    std::vector<uint8_t> data(600, 0xAB);
    Stream_Close(Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr), nullptr);  // nobody takes the buffer: freed
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    for (int i = 0; i < 6; i++) Stream_Write(s, data.data(), 100);
    EXPECT_GT(Stream_MemoryCapacity(s), 600u);
    // Reads and skips stop at the last write, not at the block's end.
    Error_Get(nullptr);
    EXPECT_EQ(Stream_Read(s, data.data(), 4), 0u);
    EXPECT_EQ(Error_TakeCode(), ERR_END_OF_STREAM);
    EXPECT_EQ(Stream_Skip(s, 1), nullptr);
    Error_Get(nullptr);
    MemoryBytes buf;
    Stream_Close(s, &buf.mem);
    EXPECT_EQ(buf.mem.length, 600u);
    s = Stream_Open(STREAM_MEMORY, STREAM_APPEND, &buf.mem);
    Stream_Write(s, "xyz", 3);
    Stream_Close(s, &buf.mem);
    EXPECT_EQ(buf.mem.length, 603u);
    EXPECT_EQ(memcmp(buf.mem.start + 600, "xyz", 3), 0);
    // A read stream over the caller's block neither writes into it nor grows it.
    uint8_t bytes[4] = {1, 2, 3, 4};
    StreamMemory mem = {bytes, 4};
    s = Stream_Open(STREAM_MEMORY, STREAM_READ, &mem);
    Error_Get(nullptr);
    EXPECT_EQ(Stream_Write(s, data.data(), 2), nullptr);
    EXPECT_EQ(Error_TakeCode(), ERR_BAD_ACCESS);
    EXPECT_EQ(Stream_Write(s, data.data(), 600), nullptr);
    EXPECT_EQ(bytes[0], 1);
    Stream_Close(s, nullptr);
}

TEST(Stream, ShortReadsChunksPastTheEndBadOpensAndFailedWritesAreFailures)
{
    InitScope scope;
    uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    StreamMemory mem = {bytes, 6};
    const std::string path = (TestTmp() / "stream_short.bin").string();
    WriteFile(path, bytes, 6);
    for (bool file : {false, true}) {
        Stream* s = file ? Stream_Open(STREAM_FILENAME, STREAM_READ, path.c_str())
                         : Stream_Open(STREAM_MEMORY, STREAM_READ, &mem);
        Error_Get(nullptr);
        int32_t words[2] = {0, 0};
        EXPECT_EQ(Stream_ReadInt32(s, words, 4), s);
        EXPECT_EQ(Stream_ReadInt32(s, words, 4), nullptr) << file;  // only 2 bytes left
        EXPECT_EQ(Error_TakeCode(), ERR_END_OF_STREAM);
        if (!file) {
            EXPECT_EQ(Stream_Skip(s, 3), nullptr);
            EXPECT_EQ(Error_TakeCode(), ERR_END_OF_STREAM);
        }
        Stream_Close(s, nullptr);
    }
    // A chunk running past the end can be neither skipped nor found.
    MemoryBytes buf([](Stream* s) {
        Stream_WriteChunkHeaderDefault(s, CHUNK_STRUCT, 1000);
        Stream_WriteChunkHeaderDefault(s, CHUNK_TEXTURE, 0);
    });
    WriteFile(path, buf.mem.start, buf.mem.length);
    for (uint32_t wanted : {CHUNK_TEXTURE, CHUNK_STRUCT})
        for (bool file : {false, true}) {
            Stream* s = file ? Stream_Open(STREAM_FILENAME, STREAM_READ, path.c_str()) : buf.Open();
            EXPECT_EQ(Stream_FindChunk(s, wanted, nullptr, nullptr), 0) << wanted << file;
            EXPECT_EQ(Error_TakeCode(), ERR_END_OF_STREAM);
            Stream_Close(s, nullptr);
        }
    const std::string missing = (TestTmp() / "missing.bin").string();
    StreamMemory noBytes = {nullptr, 10};
    const struct {
        uint32_t type, access;
        const void* parameter;
        uint32_t error;
    } cases[] = {
        {STREAM_FILENAME, STREAM_READ, missing.c_str(), ERR_FILE_OPEN},
        {STREAM_FILENAME, 9, missing.c_str(), ERR_BAD_ACCESS},
        {STREAM_MEMORY, 9, nullptr, ERR_BAD_ACCESS},
        {7, STREAM_READ, nullptr, ERR_BAD_STREAM_TYPE},
        {STREAM_MEMORY, STREAM_READ, &noBytes, ERR_NULL_ARGUMENT},
    };
    for (const auto& c : cases) {
        Error_Get(nullptr);
        EXPECT_EQ(Stream_Open(c.type, c.access, c.parameter), nullptr) << c.error;
        EXPECT_EQ(Error_TakeCode(), c.error);
    }
    StreamCustom custom = {nullptr, nullptr, FailWrite, nullptr, nullptr};
    Stream* s = Stream_Open(STREAM_CUSTOM, STREAM_WRITE, &custom);
    int32_t word = 1;
    float real = 1.0f;
    EXPECT_EQ(Stream_WriteInt32(s, &word, 4), nullptr);
    EXPECT_EQ(Stream_WriteReal(s, &real, 4), nullptr);
    EXPECT_EQ(Stream_WriteChunkHeaderDefault(s, 1, 0), nullptr);
    Stream_Close(s, nullptr);
}

TEST(Stream, ChunkTreesRoundTripOverMemoryFilesAndCallbacks)
{
    EngineScope scope;
    MemoryBytes buf([](Stream* s) { ASSERT_TRUE(WriteTree(s)); });
    EXPECT_EQ(buf.mem.length, 12u + 4 + 12 + 12 + 8);
    EXPECT_EQ(memcmp(buf.mem.start + 8, "\xFF\xFF\x00\x14", 4), 0);  // stamp 0x1400FFFF, little-endian
    ReadTree(buf.Open());
    const std::string path = (TestTmp() / "stream_tree.bin").string();
    Stream* s = Stream_Open(STREAM_FILENAME, STREAM_WRITE, path.c_str());
    ASSERT_TRUE(s && WriteTree(s));
    ASSERT_EQ(Stream_Close(s, nullptr), 1);
    ReadTree(Stream_Open(STREAM_FILENAME, STREAM_READ, path.c_str()));
    void* f = FileSystem_GetInterface()->open(path.c_str(), "rb");
    ReadTree(Stream_Open(STREAM_FILE, STREAM_READ, f));
    FileSystem_GetInterface()->close(f);
    StringStream str;
    StreamCustom custom = {SClose, SRead, SWrite, SSkip, &str};
    s = Stream_Open(STREAM_CUSTOM, STREAM_WRITE, &custom);
    ASSERT_TRUE(WriteTree(s));
    Stream_Close(s, nullptr);
    EXPECT_TRUE(str.closed);
    EXPECT_EQ(str.bytes, std::string((const char*)buf.mem.start, buf.mem.length));
    ReadTree(Stream_Open(STREAM_CUSTOM, STREAM_READ, &custom));
}

namespace {

constexpr int32_t kBase = 24;  // the size of the extended record

// A plugin that stores one int32 at its offset and streams it.
int g_reads = 0;
Stream* ReadInt(Stream* s, int32_t length, void* o, int32_t offset, int32_t)
{
    g_reads++;
    return length == 4 ? Stream_ReadInt32(s, (char*)o + offset, 4) : nullptr;
}
Stream* WriteInt(Stream* s, int32_t, const void* o, int32_t offset, int32_t)
{
    return Stream_WriteInt32(s, (const char*)o + offset, 4);
}
int32_t SizeInt(const void* o, int32_t offset, int32_t) { return *(const int32_t*)((const char*)o + offset) ? 4 : 0; }
int32_t Refuse(void*, int32_t, int32_t) { return 0; }
// Reads more than its payload: the registry must refuse it.
Stream* Greedy(Stream* s, int32_t, void*, int32_t, int32_t)
{
    int32_t two[2];
    return Stream_ReadInt32(s, two, 8);
}

// Reads the extensions of buf into a fresh object of reg; the object's bytes.
std::vector<char> ReadInto(PluginRegistry* reg, MemoryBytes& buf, bool expected)
{
    std::vector<char> object(reg->size, 0);
    Stream* s = buf.Open();
    EXPECT_EQ(PluginRegistry_StreamReadExtensions(reg, s, object.data()) != nullptr, expected);
    Stream_Close(s, nullptr);
    return object;
}

}  // namespace

TEST(PluginRegistry, ExtensionsRoundTripUnknownOnesAreSkippedAndACorruptSubChunkStopsTheRead)
{
    // The registries outlive the engine, whose end walks every registry.
    PluginRegistry writer = PLUGIN_REGISTRY_INIT(kBase), reader = PLUGIN_REGISTRY_INIT(kBase + 8),
                   reg = PLUGIN_REGISTRY_INIT(kBase);
    InitScope scope;
    std::vector<char> object(kBase + 24, 0);
    for (int32_t id : {0x50, 0x51, 0x52}) {
        const int32_t offset = PluginRegistry_AddPlugin(&writer, 4, id, nullptr, nullptr, nullptr);
        *(int32_t*)&object[offset] = id;
        PluginRegistry_AddPluginStream(&writer, id, ReadInt, id == 0x52 ? nullptr : WriteInt, SizeInt);
    }
    // Added again, an id keeps its first offset; an unknown id has none.
    EXPECT_EQ(PluginRegistry_AddPlugin(&writer, 4, 0x51, nullptr, nullptr, nullptr),
              PluginRegistry_GetPluginOffset(&writer, 0x51));
    EXPECT_EQ(PluginRegistry_GetPluginOffset(&writer, 0x99), -1);
    EXPECT_EQ(PluginRegistry_StreamGetExtensionsSize(&writer, object.data()), 2 * 16);  // 0x52 sizes but never writes
    MemoryBytes buf(
        [&](Stream* s) { ASSERT_EQ(PluginRegistry_StreamWriteExtensions(&writer, s, object.data()), &writer); });
    EXPECT_EQ(buf.mem.length, 12u + 32u);
    // The reader knows only 0x51 (elsewhere); then an always callback refuses the object.
    int32_t offset = PluginRegistry_AddPlugin(&reader, 4, 0x51, nullptr, nullptr, nullptr);
    PluginRegistry_AddPluginStream(&reader, 0x51, ReadInt, WriteInt, SizeInt);
    EXPECT_EQ(*(int32_t*)&ReadInto(&reader, buf, true)[offset], 0x51);
    PluginRegistry_SetStreamAlwaysCallback(&reader, 0x51, Refuse);
    ReadInto(&reader, buf, false);
    // An object without extension data writes an empty extension chunk.
    std::vector<char> empty(reader.size, 0);
    MemoryBytes none([&](Stream* s) { PluginRegistry_StreamWriteExtensions(&reader, s, empty.data()); });
    Stream* s = none.Open();
    uint32_t type, length;
    ASSERT_EQ(Stream_ReadChunkHeader(s, &type, &length, nullptr, nullptr), 1);
    EXPECT_EQ(std::tuple(type, length), std::tuple((uint32_t)CHUNK_EXTENSION, 0u));
    Stream_Close(s, nullptr);
    MemoryBytes two([&](Stream* s) {
        PluginRegistry_StreamWriteExtensions(&writer, s, object.data());
        Stream_WriteChunkHeaderDefault(s, CHUNK_STRUCT, 0);
    });
    s = two.Open();
    EXPECT_EQ(PluginRegistry_StreamSkipExtensions(&reader, s), &reader);
    EXPECT_EQ(Stream_ReadChunkHeader(s, &type, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(type, (uint32_t)CHUNK_STRUCT);
    Stream_Close(s, nullptr);
    offset = PluginRegistry_AddPlugin(&reg, 4, 0x50, nullptr, nullptr, nullptr);
    PluginRegistry_AddPluginStream(&reg, 0x50, ReadInt, WriteInt, SizeInt);
    // An extension chunk of `chunk` bytes: the sub-chunk headers, padding, then a good 0x50
    // sub-chunk holding 7 that a read on past the corrupt part would reach.
    const struct {
        const char* what;
        uint32_t chunk;
        std::vector<std::pair<uint32_t, uint32_t>> subs;
        uint32_t pad;
    } cases[] = {
        {"fewer than 12 bytes left for a header", 8, {}, 0},
        {"payload past the chunk", 12, {{0x99, 4}}, 4},
        {"payload past the chunk, wrapping", 16, {{0x99, 0xFFFFFFF8u}}, 4},
        {"payload past the chunk, known plugin", 12, {{0x50, 4}}, 4},
    };
    for (const auto& c : cases) {
        MemoryBytes buf([&](Stream* s) {
            Stream_WriteChunkHeaderDefault(s, CHUNK_EXTENSION, c.chunk);
            for (auto [id, length] : c.subs) Stream_WriteChunkHeaderDefault(s, id, length);
            const uint8_t zeros[8] = {};
            const int32_t seven = 7;
            Stream_Write(s, zeros, c.pad);
            Stream_WriteChunkHeaderDefault(s, 0x50, 4);
            Stream_WriteInt32(s, &seven, 4);
        });
        g_reads = 0;
        SCOPED_TRACE(c.what);
        EXPECT_EQ(*(int32_t*)&ReadInto(&reg, buf, false)[offset], 0);
        EXPECT_EQ(g_reads, 0);
    }
    PluginRegistry_AddPluginStream(&reg, 0x50, Greedy, WriteInt, SizeInt);
    MemoryBytes greedy([](Stream* s) {
        const uint8_t zeros[16] = {};
        Stream_WriteChunkHeaderDefault(s, CHUNK_EXTENSION, 16);
        Stream_WriteChunkHeaderDefault(s, 0x50, 4);
        Stream_Write(s, zeros, 16);
    });
    ReadInto(&reg, greedy, false);
}
