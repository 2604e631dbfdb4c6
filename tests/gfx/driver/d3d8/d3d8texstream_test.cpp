#include "gfx/driver/d3d8/d3d8texstream.h"

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "common/bytes.h"
#include "gfx/core/stream.h"
#include "tests/gfx/driver/d3d8/d3d8_fixture.h"

namespace {

class D3D8NativeTextureTest : public D3D8RasterTest {
protected:
    StreamMemory memory = {nullptr, 0};
    void TearDown() override
    {
        if (memory.start) Engine_Free(memory.start);
        memory = {nullptr, 0};
        D3D8RasterTest::TearDown();
    }
    // A texture on a new raster whose levels hold the bytes level * 16 + i.
    Texture *MakeTexture(int32_t w, int32_t h, uint32_t word)
    {
        Raster *raster = Raster_Create(w, h, 0, word);
        if (!raster) return nullptr;
        for (int32_t level = 0; level < Raster_GetNumLevels(raster); level++) {
            uint8_t *pixels = Raster_Lock(raster, (uint32_t)level, RASTERLOCKWRITE);
            for (int32_t i = 0; i < raster->stride * raster->height; i++) pixels[i] = (uint8_t)(level * 16 + i);
            Raster_Unlock(raster);
        }
        Texture *texture = Texture_Create(raster);
        Texture_SetName(texture, "native");
        Texture_SetMaskName(texture, "native_a");
        texture->filterAddressing = 0x2304;
        return texture;
    }
    bool Write(const Texture *texture)
    {
        Stream *stream = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
        const bool ok = D3D8_NativeTextureWrite(stream, texture) != 0;
        if (memory.start) Engine_Free(memory.start);
        Stream_Close(stream, &memory);
        return ok;
    }
    Texture *Read()
    {
        Stream *stream = Stream_Open(STREAM_MEMORY, STREAM_READ, &memory);
        Texture *texture = nullptr;
        if (!D3D8_NativeTextureRead(stream, &texture)) texture = nullptr;
        Stream_Close(stream, nullptr);
        return texture;
    }
    static void Put32(uint8_t *p, uint32_t v) { Bytes_StoreU32(p, v); }
};

TEST_F(D3D8NativeTextureTest, MipmappedTextureRoundTripsByteForByte)
{
    Texture *texture = MakeTexture(64, 64, RASTERTYPETEXTURE | RASTERFORMAT565 | RASTERFORMATMIPMAP);
    ASSERT_NE(texture, nullptr);
    int32_t size = 0;
    D3D8_NativeTextureGetSize(&size, texture);
    EXPECT_EQ(size, 100 + 7 * 4 + 8192 + 2048 + 512 + 128 + 32 + 8 + 2);
    ASSERT_TRUE(Write(texture));
    EXPECT_EQ(memory.length, (uint32_t)size);
    Texture *read = Read();
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(std::tuple(std::string(read->name), std::string(read->mask), read->filterAddressing),
              std::tuple("native", "native_a", 0x2304u));
    ASSERT_EQ(Raster_GetNumLevels(read->raster), 7);
    for (uint32_t level = 0; level < 7; level++) {
        const uint8_t *a = Raster_Lock(texture->raster, level, RASTERLOCKREAD);
        const uint8_t *b = Raster_Lock(read->raster, level, RASTERLOCKREAD);
        EXPECT_EQ(memcmp(a, b, (size_t)texture->raster->stride * texture->raster->height), 0) << level;
        Raster_Unlock(read->raster);
        Raster_Unlock(texture->raster);
    }
    Texture_Destroy(read);
    Texture_Destroy(texture);
    Texture *empty = Texture_Create(nullptr);
    D3D8_NativeTextureGetSize(&size, empty);
    EXPECT_EQ(size, 84);
    Stream *stream = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    EXPECT_EQ(AndError(D3D8_NativeTextureWrite(stream, empty)), std::tuple(0, 0x80000016u));
    Stream_Close(stream, nullptr);
    Texture_Destroy(empty);
}

TEST_F(D3D8NativeTextureTest, PalettisedTextureStoresItsPalette)
{
    answers.palettes = true;
    OpenDevice();
    Texture *texture = MakeTexture(4, 4, RASTERTYPETEXTURE | RASTERFORMATPAL8 | RASTERFORMAT888);
    ASSERT_NE(texture, nullptr);
    uint8_t *palette = Raster_LockPalette(texture->raster, RASTERLOCKWRITE);
    palette[4 * 200] = 99;
    Raster_UnlockPalette(texture->raster);
    int32_t size = 0;
    D3D8_NativeTextureGetSize(&size, texture);
    EXPECT_EQ(size, 100 + 1024 + 4 + 16);
    ASSERT_TRUE(Write(texture));
    Texture *read = Read();
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(Raster_LockPalette(read->raster, RASTERLOCKREAD)[4 * 200], 99);
    Raster_UnlockPalette(read->raster);
    Texture_Destroy(read);
    // A device that holds no palettes resolves the stored format otherwise.
    answers.palettes = false;
    answers.displayFormat = D3DFMT_R5G6B5;
    Texture_Destroy(texture);
    OpenDevice();
    EXPECT_EQ(Read(), nullptr);
}

TEST_F(D3D8NativeTextureTest, RefusesOtherPlatformsLyingSizesAndMissingCompression)
{
    Texture *texture = MakeTexture(8, 8, RASTERTYPETEXTURE | RASTERFORMAT888 | RASTERFORMATMIPMAP);
    ASSERT_TRUE(Write(texture));
    Texture_Destroy(texture);
    const std::vector<uint8_t> original(memory.start, memory.start + memory.length);
    // Another platform and a 4096 x 4096 texture claimed by this small chunk
    // are refused before any device texture is made.
    const struct {
        const char* name;
        uint32_t offset, value;
        bool word, early;
    } lies[] = {{"another platform", 12, 9, true, true},
                {"a huge texture in a small chunk", 12 + 80, 4096u << 16 | 4096u, true, true},
                {"level 0 claims more than the locked level", 12 + 88, 8 * 8 * 4 + 4, true, false},
                {"level 0 has a pitch of its own", 12 + 88, 8 * 4 * 4, true, false},
                {"more levels than the raster has", 12 + 85, 9, false, false},
                {"another width than the data", 12 + 80, 16, false, false},
                {"DXT1 on a device without it", 12 + 87, 1, false, false}};
    for (const auto& lie : lies) {
        if (lie.word) Put32(memory.start + lie.offset, lie.value);
        else memory.start[lie.offset] = (uint8_t)lie.value;
        if (lie.offset == 12 + 87) Put32(memory.start + 12 + 76, 1);
        D3D8Test_StartRecording();
        Texture* read = Read();
        EXPECT_EQ(read, nullptr) << lie.name;
        EXPECT_TRUE(!lie.early || !strstr(D3D8Test_Recording(), "CreateTexture")) << lie.name;
        D3D8Test_StopRecording();
        if (read) Texture_Destroy(read);
        memcpy(memory.start, original.data(), original.size());
    }
    Texture *again = Read();
    ASSERT_NE(again, nullptr);
    Texture_Destroy(again);
    for (uint32_t cut : {0u, 11u, 40u, 100u, memory.length - 1}) {
        StreamMemory part = {memory.start, cut};
        Stream *stream = Stream_Open(STREAM_MEMORY, STREAM_READ, &part);
        Texture *none = nullptr;
        EXPECT_EQ(D3D8_NativeTextureRead(stream, &none), 0) << cut;
        Stream_Close(stream, nullptr);
    }
    Error_Get(nullptr);
}

TEST_F(D3D8NativeTextureTest, CompressedTexturesLoadOnDevicesThatHoldThem)
{
    answers.dxt = true;
    OpenDevice();
    // Built by hand: a 4 x 4 DXT1 texture of one block.
    std::vector<uint8_t> bytes(12 + 88 + 4 + 8);
    const uint32_t words[][2] = {{0, CHUNK_STRUCT},     {4, 100}, {8, 0x1400ffffu}, {12, 8}, {16, 0x1102},
                                 {84, RASTERFORMAT565}, {88, 1},  {100, 8}};
    for (const auto& w : words) Put32(&bytes[w[0]], w[1]);
    memcpy(&bytes[20], "block", 5);
    const uint8_t sizes[8] = {4, 0, 4, 0, 16, 1, RASTERTYPETEXTURE, 1};  // width, height, depth, levels, type, DXT1
    memcpy(&bytes[92], sizes, 8);
    for (int i = 0; i < 8; i++) bytes[104 + i] = (uint8_t)(i + 1);
    memory.start = (uint8_t *)Engine_Malloc(bytes.size());
    memory.length = (uint32_t)bytes.size();
    // Compressed data stored for a Z buffer, a camera or a camera texture
    // is refused before any device texture is made for it.
    for (uint8_t type : {RASTERTYPEZBUFFER, RASTERTYPECAMERA, RASTERTYPECAMERATEXTURE}) {
        memcpy(memory.start, bytes.data(), bytes.size());
        memory.start[12 + 86] = type;
        Put32(memory.start + 12 + 72, 0);  // the default format, which every type takes
        D3D8Test_StartRecording();
        EXPECT_EQ(Read(), nullptr) << (int)type;
        EXPECT_EQ(std::string(D3D8Test_Recording()).find("CreateTexture"), std::string::npos) << (int)type;
        D3D8Test_StopRecording();
    }
    memcpy(memory.start, bytes.data(), bytes.size());
    Texture *texture = Read();
    ASSERT_NE(texture, nullptr);
    EXPECT_TRUE(D3D8_RasterIsCompressed(texture->raster) && D3D8_TextureHasAlpha(texture));
    EXPECT_EQ(Image_SetFromRaster(Img(4, 4, 32, 0), texture->raster), nullptr);
    Error_Get(nullptr);
    int32_t size = 0;
    D3D8_NativeTextureGetSize(&size, texture);
    EXPECT_EQ(size, (int32_t)bytes.size());
    Texture_Destroy(texture);
}

TEST_F(D3D8NativeTextureTest, MutatedHeadersAndCountsNeverWritePastALevel)
{
    answers.palettes = true;
    OpenDevice();
    Texture *texture = MakeTexture(8, 4, RASTERTYPETEXTURE | RASTERFORMAT565 | RASTERFORMATMIPMAP);
    ASSERT_TRUE(Write(texture));
    Texture_Destroy(texture);
    const std::vector<uint8_t> original(memory.start, memory.start + memory.length);
    // Every field but the size (a lying size only costs a large texture).
    // Level 0's byte count, its first bytes, level 1's byte count.
    std::vector<uint32_t> offsets = {4, 12, 16, 84, 85, 86, 87, 88, 89, 96, 97, 98, 99, 100, 101, 100 + 4 + 64};
    for (uint32_t i = 0; i < 8; i++) offsets.push_back(100 + i);
    uint32_t seed = 5;
    for (int round = 0; round < 300; round++) {
        memcpy(memory.start, original.data(), original.size());
        seed = seed * 1664525u + 1013904223u;
        memory.start[offsets[(seed >> 8) % offsets.size()]] = (uint8_t)(seed >> 24);
        Texture *read = Read();
        if (read) Texture_Destroy(read);
    }
    Error_Get(nullptr);
}

}  // namespace
