#include "gfx/core/plugin.h"

#include "gfx/core/stream.h"
#include "tests/gfx/core/image_fixture.h"

using namespace testdriver;

namespace {

constexpr int32_t kBase = 24;  // the size of the extended record

std::vector<int> ctorLog;
template <int N>
void* Ctor(void* o, int32_t, int32_t)
{
    ctorLog.push_back(N);
    return N == 3 ? nullptr : o;
}
template <int N>
void* Dtor(void* o, int32_t, int32_t)
{
    ctorLog.push_back(-N);
    return o;
}

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

TEST(PluginRegistry, ExtensionsRoundTripUnknownPluginsAreSkippedAndSkipPassesTheWholeChunk)
{
    InitScope scope;
    PluginRegistry writer = PLUGIN_REGISTRY_INIT(kBase);
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
    PluginRegistry reader = PLUGIN_REGISTRY_INIT(kBase + 8);
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
    EXPECT_EQ(type, (uint32_t)CHUNK_EXTENSION);
    EXPECT_EQ(length, 0u);
    Stream_Close(s, nullptr);
    // Skipping passes over the whole extension chunk.
    MemoryBytes two([&](Stream* s) {
        PluginRegistry_StreamWriteExtensions(&writer, s, object.data());
        Stream_WriteChunkHeaderDefault(s, CHUNK_STRUCT, 0);
    });
    s = two.Open();
    EXPECT_EQ(PluginRegistry_StreamSkipExtensions(&reader, s), &reader);
    EXPECT_EQ(Stream_ReadChunkHeader(s, &type, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(type, (uint32_t)CHUNK_STRUCT);
    Stream_Close(s, nullptr);
}

TEST(PluginRegistry, ACorruptSubChunkStopsTheReadBeforeTheChunkBehindIt)
{
    InitScope scope;
    PluginRegistry reg = PLUGIN_REGISTRY_INIT(kBase);
    int32_t offset = PluginRegistry_AddPlugin(&reg, 4, 0x50, nullptr, nullptr, nullptr);
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
    // A plugin that reads past its own payload fails the read.
    PluginRegistry_AddPluginStream(&reg, 0x50, Greedy, WriteInt, SizeInt);
    MemoryBytes buf([](Stream* s) {
        const uint8_t zeros[16] = {};
        Stream_WriteChunkHeaderDefault(s, CHUNK_EXTENSION, 16);
        Stream_WriteChunkHeaderDefault(s, 0x50, 4);
        Stream_Write(s, zeros, 16);
    });
    ReadInto(&reg, buf, false);
    Error_Get(nullptr);
}
