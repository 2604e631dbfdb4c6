#include "gfx/core/plugin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/stream.h"
#include "tests/gfx/core/test_driver.h"

using namespace testdriver;

namespace {

struct Thing {
    int32_t base[6];
};

std::vector<int>& Log() { static std::vector<int> log; return log; }
template <int N>
void* Ctor(void* o, int32_t, int32_t) { Log().push_back(N); return N == 3 ? nullptr : o; }
template <int N>
void* Dtor(void* o, int32_t, int32_t) { Log().push_back(-N); return o; }

// A plugin that stores one int32 at its offset and streams it.
Stream* ReadInt(Stream* s, int32_t length, void* o, int32_t offset, int32_t)
{
    if (length != 4) return nullptr;
    return Stream_ReadInt32(s, (char*)o + offset, 4);
}
Stream* WriteInt(Stream* s, int32_t, const void* o, int32_t offset, int32_t)
{
    return Stream_WriteInt32(s, (const char*)o + offset, 4);
}
int32_t SizeInt(const void* o, int32_t offset, int32_t) { return *(const int32_t*)((const char*)o + offset) ? 4 : 0; }
int32_t Refuse(void*, int32_t, int32_t) { return 0; }
// Reads more than its payload: the registry must refuse it.
Stream* Greedy(Stream* s, int32_t length, void* o, int32_t offset, int32_t)
{
    int32_t two[2];
    (void)length;
    (void)o;
    (void)offset;
    return Stream_ReadInt32(s, two, 8);
}

struct Buffer {
    StreamMemory mem = {nullptr, 0};
    ~Buffer() { Engine_Free(mem.start); }
};

}  // namespace

TEST(PluginRegistry, OffsetsFollowAttachmentOrderRoundedToEight)
{
    InitScope scope;
    PluginRegistry reg = PLUGIN_REGISTRY_INIT(sizeof(Thing));
    const int32_t B = sizeof(Thing);
    EXPECT_EQ(PluginRegistry_AddPlugin(&reg, 5, 10, nullptr, nullptr, nullptr), B);
    EXPECT_EQ(PluginRegistry_AddPlugin(&reg, 8, 11, nullptr, nullptr, nullptr), B + 8);
    EXPECT_EQ(reg.size, B + 16);
    Error_Get(nullptr);
    EXPECT_EQ(PluginRegistry_AddPlugin(&reg, 4, 10, nullptr, nullptr, nullptr), B);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_PLUGIN_REFUSED);
    EXPECT_EQ(reg.size, B + 16);
    reg.maxSize = B + 20;
    EXPECT_EQ(PluginRegistry_AddPlugin(&reg, 8, 12, nullptr, nullptr, nullptr), -1);
    // Behind a base record of odd size the first extension still starts on 8.
    PluginRegistry odd = PLUGIN_REGISTRY_INIT(13);
    EXPECT_EQ(PluginRegistry_AddPlugin(&odd, 4, 1, nullptr, nullptr, nullptr), 16);
    EXPECT_EQ(odd.size, 24);
}

TEST(PluginRegistry, RegistrationIsRefusedWhileAnInstanceIsOpen)
{
    static PluginRegistry reg = PLUGIN_REGISTRY_INIT(sizeof(Thing));
    EngineScope scope;
    Error_Get(nullptr);
    EXPECT_EQ(PluginRegistry_AddPlugin(&reg, 4, 20, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_PLUGIN_REFUSED);
}

TEST(PluginRegistry, FailingConstructorUndoesTheEarlierOnesInReverse)
{
    InitScope scope;
    PluginRegistry reg = PLUGIN_REGISTRY_INIT(sizeof(Thing));
    PluginRegistry_AddPlugin(&reg, 4, 1, Ctor<1>, Dtor<1>, nullptr);
    PluginRegistry_AddPlugin(&reg, 4, 2, Ctor<2>, Dtor<2>, nullptr);
    PluginRegistry_AddPlugin(&reg, 4, 3, Ctor<3>, Dtor<3>, nullptr);
    Thing t{};
    Log().clear();
    EXPECT_EQ(PluginRegistry_RunConstructors(&reg, &t), nullptr);
    EXPECT_EQ(Log(), (std::vector<int>{1, 2, 3, -2, -1}));
    Log().clear();
    PluginRegistry_RunDestructors(&reg, &t);
    EXPECT_EQ(Log(), (std::vector<int>{-3, -2, -1}));
}

TEST(PluginRegistry, ExtensionsRoundTripAndUnknownPluginsAreSkipped)
{
    InitScope scope;
    PluginRegistry writer = PLUGIN_REGISTRY_INIT(sizeof(Thing));
    int32_t a = PluginRegistry_AddPlugin(&writer, 4, 0x50, nullptr, nullptr, nullptr);
    int32_t b = PluginRegistry_AddPlugin(&writer, 4, 0x51, nullptr, nullptr, nullptr);
    int32_t c = PluginRegistry_AddPlugin(&writer, 4, 0x52, nullptr, nullptr, nullptr);
    PluginRegistry_AddPluginStream(&writer, 0x50, ReadInt, WriteInt, SizeInt);
    PluginRegistry_AddPluginStream(&writer, 0x51, ReadInt, WriteInt, SizeInt);
    PluginRegistry_AddPluginStream(&writer, 0x52, ReadInt, nullptr, SizeInt);  // sizes but never writes
    std::vector<char> object(writer.size, 0);
    *(int32_t*)&object[a] = 111;
    *(int32_t*)&object[b] = 222;
    *(int32_t*)&object[c] = 333;
    EXPECT_EQ(PluginRegistry_StreamGetExtensionsSize(&writer, object.data()), 2 * 16);

    Buffer buf;
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    ASSERT_EQ(PluginRegistry_StreamWriteExtensions(&writer, s, object.data()), &writer);
    Stream_Close(s, &buf.mem);
    EXPECT_EQ(buf.mem.length, 12u + 32u);

    // The reader knows only 0x51 (at another offset) and has an always callback.
    PluginRegistry reader = PLUGIN_REGISTRY_INIT(sizeof(Thing) + 8);
    int32_t rb = PluginRegistry_AddPlugin(&reader, 4, 0x51, nullptr, nullptr, nullptr);
    PluginRegistry_AddPluginStream(&reader, 0x51, ReadInt, WriteInt, SizeInt);
    std::vector<char> copy(reader.size, 0);
    s = Stream_Open(STREAM_MEMORY, STREAM_READ, &buf.mem);
    ASSERT_EQ(PluginRegistry_StreamReadExtensions(&reader, s, copy.data()), &reader);
    EXPECT_EQ(*(int32_t*)&copy[rb], 222);
    Stream_Close(s, nullptr);

    PluginRegistry_SetStreamAlwaysCallback(&reader, 0x51, Refuse);
    s = Stream_Open(STREAM_MEMORY, STREAM_READ, &buf.mem);
    EXPECT_EQ(PluginRegistry_StreamReadExtensions(&reader, s, copy.data()), nullptr);
    Stream_Close(s, nullptr);
}

TEST(PluginRegistry, ObjectWithoutExtensionDataWritesAnEmptyChunk)
{
    InitScope scope;
    PluginRegistry reg = PLUGIN_REGISTRY_INIT(sizeof(Thing));
    int32_t a = PluginRegistry_AddPlugin(&reg, 4, 0x50, nullptr, nullptr, nullptr);
    PluginRegistry_AddPluginStream(&reg, 0x50, ReadInt, WriteInt, SizeInt);
    std::vector<char> object(reg.size, 0);
    (void)a;
    Buffer buf;
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    PluginRegistry_StreamWriteExtensions(&reg, s, object.data());
    Stream_Close(s, &buf.mem);
    ASSERT_EQ(buf.mem.length, 12u);
    s = Stream_Open(STREAM_MEMORY, STREAM_READ, &buf.mem);
    uint32_t type, length;
    ASSERT_EQ(Stream_ReadChunkHeader(s, &type, &length, nullptr, nullptr), 1);
    EXPECT_EQ(type, (uint32_t)CHUNK_EXTENSION);
    EXPECT_EQ(length, 0u);
    Stream_Close(s, nullptr);
}

namespace {
int g_reads = 0;
Stream* CountedReadInt(Stream* s, int32_t length, void* o, int32_t offset, int32_t size)
{
    g_reads++;
    return ReadInt(s, length, o, offset, size);
}
}  // namespace

TEST(PluginRegistry, ACorruptSubChunkStopsTheReadBeforeTheChunkBehindIt)
{
    InitScope scope;
    PluginRegistry reg = PLUGIN_REGISTRY_INIT(sizeof(Thing));
    int32_t offset = PluginRegistry_AddPlugin(&reg, 4, 0x50, nullptr, nullptr, nullptr);
    PluginRegistry_AddPluginStream(&reg, 0x50, CountedReadInt, WriteInt, SizeInt);
    // Each extension chunk declares `chunk` bytes and holds the sub-chunk
    // headers given, a few padding bytes, then a whole sub-chunk of the known
    // plugin 0x50 holding 7: reading on past the corrupt part would reach it.
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
        Buffer buf;
        Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
        Stream_WriteChunkHeaderDefault(s, CHUNK_EXTENSION, c.chunk);
        for (auto [id, length] : c.subs) Stream_WriteChunkHeaderDefault(s, id, length);
        const uint8_t zeros[8] = {};
        Stream_Write(s, zeros, c.pad);
        const int32_t seven = 7;
        Stream_WriteChunkHeaderDefault(s, 0x50, 4);
        Stream_WriteInt32(s, &seven, 4);
        Stream_Close(s, &buf.mem);
        std::vector<char> object(reg.size, 0);
        g_reads = 0;
        s = Stream_Open(STREAM_MEMORY, STREAM_READ, &buf.mem);
        EXPECT_EQ(PluginRegistry_StreamReadExtensions(&reg, s, object.data()), nullptr) << c.what;
        Stream_Close(s, nullptr);
        EXPECT_EQ(g_reads, 0) << c.what;
        EXPECT_EQ(*(int32_t*)&object[offset], 0) << c.what;
    }
    // A plugin that reads past its own payload fails the read.
    PluginRegistry_AddPluginStream(&reg, 0x50, Greedy, WriteInt, SizeInt);
    Buffer buf;
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    Stream_WriteChunkHeaderDefault(s, CHUNK_EXTENSION, 16);
    Stream_WriteChunkHeaderDefault(s, 0x50, 4);
    const uint8_t zeros[16] = {};
    Stream_Write(s, zeros, 16);
    Stream_Close(s, &buf.mem);
    std::vector<char> object(reg.size, 0);
    s = Stream_Open(STREAM_MEMORY, STREAM_READ, &buf.mem);
    EXPECT_EQ(PluginRegistry_StreamReadExtensions(&reg, s, object.data()), nullptr);
    Stream_Close(s, nullptr);
    Error_Get(nullptr);
}

TEST(PluginRegistry, SkipPassesOverTheWholeExtensionChunk)
{
    InitScope scope;
    PluginRegistry reg = PLUGIN_REGISTRY_INIT(sizeof(Thing));
    Buffer buf;
    Stream* s = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    Stream_WriteChunkHeaderDefault(s, CHUNK_EXTENSION, 16);
    Stream_WriteChunkHeaderDefault(s, 0x50, 4);
    int32_t v = 7;
    Stream_WriteInt32(s, &v, 4);
    Stream_WriteChunkHeaderDefault(s, CHUNK_STRUCT, 0);
    Stream_Close(s, &buf.mem);
    s = Stream_Open(STREAM_MEMORY, STREAM_READ, &buf.mem);
    EXPECT_EQ(PluginRegistry_StreamSkipExtensions(&reg, s), &reg);
    uint32_t type;
    EXPECT_EQ(Stream_ReadChunkHeader(s, &type, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(type, (uint32_t)CHUNK_STRUCT);
    Stream_Close(s, nullptr);
}
