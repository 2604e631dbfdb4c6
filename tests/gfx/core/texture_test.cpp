#include "gfx/core/texture.h"

#include "common/bytes.h"
#include "gfx/core/stream.h"
#include "gfx/toolkit/bmp/imagebmp.h"
#include "gfx/toolkit/png/imagepng.h"
#include "tests/gfx/driver/d3d8/d3d8_fixture.h"

namespace {

class TextureTest : public D3D8RasterTest {
protected:
    std::string folder;
    StreamMemory chunk = {nullptr, 0};
    void SetUp() override
    {
        D3D8RasterTest::SetUp();
        folder = imagetest::TestFolder();
        Image_RegisterFileFormat("bmp", ImageBmp_Read, ImageBmp_Write);
        Image_RegisterFileFormat("png", ImagePng_Read, ImagePng_Write);
        Image_SetPath(folder.c_str());
    }
    void TearDown() override
    {
        Engine_Free(chunk.start);
        Texture_SetMipmapping(0);
        Texture_SetAutoMipmapping(0);
        D3D8RasterTest::TearDown();
    }
    void WritePng(const char* name, int32_t w, int32_t h, uint32_t rgba)
    {
        WriteImage(folder + name + ".png", w, h, [rgba](int32_t, int32_t) { return rgba >> 8 | rgba << 24; });
    }
    // The first pixel of a level as R, G, B, A packed big-endian.
    uint32_t LevelColour(Raster* raster, uint32_t level)
    {
        if (!Raster_Lock(raster, level, RASTERLOCKREAD)) return 0xdeadbeef;
        Image* image = Img(raster->width, raster->height, 32, 0);
        Image_SetFromRaster(image, raster);
        Raster_Unlock(raster);
        return __builtin_bswap32(Bytes_LoadU32(image->pixels));
    }
    void WriteChunks(std::initializer_list<const Texture*> textures)
    {
        Stream* stream = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
        for (const Texture* t : textures) EXPECT_NE(Texture_StreamWrite(t, stream), nullptr);
        Engine_Free(chunk.start);
        ASSERT_EQ(Stream_Close(stream, &chunk), 1);
    }
    static Texture* ReadChunk(Stream* s)
    {
        return Stream_FindChunk(s, CHUNK_TEXTURE, 0, 0) ? Texture_StreamRead(s) : 0;
    }
    Texture* ReadChunkFrom(StreamMemory* memory = nullptr)
    {
        Stream* stream = Stream_Open(STREAM_MEMORY, STREAM_READ, memory ? memory : &chunk);
        Texture* texture = ReadChunk(stream);
        Stream_Close(stream, nullptr);
        return texture;
    }
};

TEST_F(TextureTest, LevelsComeFromTheirOwnFilesOrLevelZeroAndAreGammaCorrectedOnce)
{
    const uint32_t colours[4] = {0x808080ff, 0x404040ff, 0x708090ff, 0xa0b0c0ff};
    const int sides[4] = {8, 4, 3, 1};  // the third resampled to the level's 2 x 2
    for (int l = 0; l < 4; l++)
        WritePng(l ? ("wallm" + std::to_string(l)).c_str() : "wall", sides[l], sides[l], colours[l]);
    for (int mipmapping : {0, 1})
        for (float gamma : {1.0f, 2.0f}) {
            Image_BuildGammaTables(gamma);
            Texture_SetMipmapping(mipmapping);
            Texture* texture = Texture_Read("wall", nullptr);
            ASSERT_NE(texture, nullptr);
            ASSERT_EQ(Raster_GetNumLevels(texture->raster), mipmapping ? 4 : 1);
            for (uint32_t level = 0; level < (mipmapping ? 4u : 1u); level++) {
                uint32_t expected = colours[level] & 0xff;  // alpha is not corrected
                for (int shift : {8, 16, 24})
                    expected |= Image_GetGammaTable()[colours[level] >> shift & 0xff] << shift;
                EXPECT_EQ(LevelColour(texture->raster, level), expected) << mipmapping << gamma << level;
            }
            if (gamma != 1.0f) {
                EXPECT_TRUE(texture->raster->privateFlags & RASTERGAMMACORRECTED);
            }
            Texture_Destroy(texture);
        }
    Image_BuildGammaTables(1.0f);
    // A missing level fails the read; automatic levels are made from level zero.
    WritePng("gap", 8, 8, colours[0]);
    WritePng("gapm1", 4, 4, colours[1]);
    EXPECT_EQ(Texture_Read("gap", nullptr), nullptr);
    WritePng("auto", 8, 8, colours[0]);
    Texture_SetAutoMipmapping(1);
    Texture* texture = Texture_Read("auto", nullptr);
    ASSERT_NE(texture, nullptr);
    EXPECT_TRUE(Raster_GetFormat(texture->raster) & RASTERFORMATAUTOMIPMAP);
    EXPECT_EQ(LevelColour(texture->raster, 3), colours[0]);
    Texture_Destroy(texture);
    WritePng("brick", 4, 4, 0x10203040);
    WritePng("brick_a", 4, 4, 0x80808080);
    Texture_SetMipmapping(0);
    texture = Texture_Read("brick", "brick_a");
    ASSERT_NE(texture, nullptr);
    EXPECT_STREQ(texture->mask, "brick_a");
    EXPECT_EQ(LevelColour(texture->raster, 0), 0x10203080u);
    Texture_Destroy(texture);
    // Found in the current dictionary, or any; the dictionary's end spares a held texture.
    TextureDictionary* dictionary = TextureDictionary_SetCurrent(TextureDictionary_Create());
    texture = Texture_Read("brick", nullptr);
    EXPECT_EQ(Texture_Read("brick", nullptr), texture);
    TextureDictionary_SetCurrent(nullptr);
    EXPECT_EQ(Texture_Read("brick", nullptr), texture);
    TextureDictionary_Destroy(dictionary);
    EXPECT_EQ(std::tuple(texture->refCount, texture->dictionary), std::tuple(2, nullptr));
    for (int i = 0; i < 2; i++) Texture_Destroy(texture);
}

TEST_F(TextureTest, ChunksRoundTripTheirFilterWordDecidesTheLevelsOfFreshTexturesAndNamesAreCut)
{
    WritePng("stone", 4, 4, 0x20406080);
    Texture* texture = Texture_Read("stone", nullptr);
    ASSERT_NE(texture, nullptr);
    texture->filterAddressing = 0x0302;  // linear, U clamp, V unset
    Texture_SetMaskName(texture, "");
    WriteChunks({texture});
    EXPECT_EQ(chunk.length, 12u + (uint32_t)Texture_StreamGetSize(texture));
    EXPECT_EQ(Texture_StreamGetSize(texture), 52 + 8 + 4);
    EXPECT_EQ(ReadChunkFrom(), texture);  // a texture already known is found, its word left alone
    EXPECT_EQ(texture->refCount, 2);
    Texture_Destroy(texture);
    Texture_Destroy(texture);
    // The word written, how the picture was read, the module's flags; the levels and word read.
    const uint32_t kMip = RASTERFORMATMIPMAP, kAuto = RASTERFORMATAUTOMIPMAP;
    const struct {
        const char* what;
        uint32_t word;
        bool fromFile;
        int mipmapping, autoMipmapping;
        uint32_t levels, wordRead;
    } cases[] = {
        // Filter mode 2 reads no mip levels whatever the module says.
        {"linear", 0x0302, true, 1, 0, 0, 0x3302},
        // A mip filter without a raster (bit 16 clear): automatic levels.
        {"mip filter, no raster", 0x1106, false, 0, 0, kMip | kAuto, 0x1106},
        // As a mesh does: a plain picture, then a mip filter; no level files exist.
        {"mip filter on a plain picture", 0x1106, true, 0, 0, 0, 0x1106},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Texture_SetMipmapping(0);
        texture = c.fromFile ? Texture_Read("stone", nullptr) : Texture_SetName(Texture_Create(nullptr), "stone");
        texture->filterAddressing = c.word;
        WriteChunks({texture});
        Texture_Destroy(texture);
        Texture_SetMipmapping(c.mipmapping);
        Texture_SetAutoMipmapping(c.autoMipmapping);
        Texture* read = ReadChunkFrom();
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(std::tuple(read->refCount, Raster_GetFormat(read->raster) & (kMip | kAuto)), std::tuple(1, c.levels));
        EXPECT_EQ(read->filterAddressing, c.wordRead);
        EXPECT_EQ(Texture_GetMipmapping(), c.mipmapping);
        EXPECT_EQ(Texture_GetAutoMipmapping(), c.autoMipmapping);
        Texture_Destroy(read);
    }
    texture = Texture_Create(nullptr);
    Error_Get(nullptr);
    const std::string name31(31, 'n');
    Texture_SetName(texture, name31.c_str());
    EXPECT_EQ(TakeError(), 0x80000000u);
    EXPECT_EQ(std::string(texture->name), name31);
    Texture_SetMaskName(texture, (name31 + "x").c_str());
    EXPECT_EQ(TakeError(), 0x8000001eu);
    EXPECT_EQ(std::string(texture->mask), name31);
    Texture_Destroy(texture);
    // Names the reader is given are cut at 255, and mip suffixes still fit.
    Texture_SetMipmapping(1);
    for (size_t length : {(size_t)254, (size_t)255, (size_t)300}) {
        Error_Get(nullptr);
        EXPECT_EQ(Texture_Read(std::string(length, 'w').c_str(), std::string(length, 'k').c_str()), nullptr);
        EXPECT_EQ(TakeError(), length > 255 ? 0x8000001eu : 22u);
    }
    char name[300] = "wall", mask[300] = "wall_a", empty[300] = "";
    Texture_DefaultMipLevelName(name, mask, 10, 0);
    EXPECT_EQ(std::string(name) + " " + mask, "wallma wall_ama");
    Texture_DefaultMipLevelName(name, empty, 0, 0);
    Texture_DefaultMipLevelName(name, empty, 16, 0);
    EXPECT_EQ(std::string(name) + " " + empty, "wallma ");
}

TEST_F(TextureTest, AMissingImageLeavesTheStreamAfterItsChunkAndSixteenBitNamesReadLikeEightBitOnes)
{
    WritePng("here", 2, 2, 0xffffffff);
    Texture* gone = Texture_SetName(Texture_Create(nullptr), "gone");
    Texture* here = Texture_SetName(Texture_Create(nullptr), "here");
    WriteChunks({gone, here});
    for (Texture* t : {gone, here}) Texture_Destroy(t);
    Stream* stream = Stream_Open(STREAM_MEMORY, STREAM_READ, &chunk);
    EXPECT_EQ(ReadChunk(stream), nullptr);
    Error_Get(nullptr);
    Texture* read = ReadChunk(stream);
    Stream_Close(stream, nullptr);
    ASSERT_NE(read, nullptr);
    EXPECT_STREQ(read->name, "here");
    Texture_Destroy(read);

    // A name of 16-bit characters, then a 200-letter mask name (cut before it is asked for).
    std::vector<uint8_t> bytes;
    auto put32 = [&](uint32_t v) { bytes.resize(bytes.size() + 4), Bytes_StoreU32(&bytes[bytes.size() - 4], v); };
    auto header = [&](uint32_t type, uint32_t length) { put32(type), put32(length), put32(0x1400ffffu); };
    header(CHUNK_TEXTURE, 0);  // the size is not read
    header(CHUNK_STRUCT, 4);
    put32(0x1101);
    header(19, 8);
    for (char c : std::string("here")) bytes.insert(bytes.end(), {(uint8_t)c, 0});
    const size_t prefix = bytes.size();
    header(CHUNK_STRING, 200);
    bytes.insert(bytes.end(), 200, 'q');
    header(CHUNK_EXTENSION, 0);
    StreamMemory memory = {bytes.data(), (uint32_t)bytes.size()};
    EXPECT_EQ(ReadChunkFrom(&memory), nullptr);  // no 200-letter mask exists
    Error_Get(nullptr);
    bytes.resize(prefix);
    header(CHUNK_STRING, 4);
    put32(0);
    header(CHUNK_EXTENSION, 0);
    memory = {bytes.data(), (uint32_t)bytes.size()};
    read = ReadChunkFrom(&memory);
    ASSERT_NE(read, nullptr);
    EXPECT_STREQ(read->name, "here");
    Texture_Destroy(read);
}

}  // namespace

TEST_F(TextureTest, GenerationRestoresTheAutomaticFlagOnEveryExitAndPalettisedLevelsShareOnePalette)
{
    Raster* raster =
        Raster_Create(8, 8, 0, RASTERTYPETEXTURE | RASTERFORMAT888 | RASTERFORMATMIPMAP | RASTERFORMATAUTOMIPMAP);
    Image* image = Img(8, 8, 32, 90);
    D3D8Test_InjectFault(D3D8_FAULT_LOCK, 0, 1, D3DERR_INVALIDCALL);
    EXPECT_EQ(Texture_DefaultGenerateMipLevels(raster, image), nullptr);
    EXPECT_TRUE(Raster_GetFormat(raster) & RASTERFORMATAUTOMIPMAP);
    Error_Get(nullptr);
    EXPECT_EQ(Texture_DefaultGenerateMipLevels(raster, image), raster);
    EXPECT_TRUE(Raster_GetFormat(raster) & RASTERFORMATAUTOMIPMAP);
    EXPECT_EQ(LevelColour(raster, 3) >> 8, 0x5a5a5au);
    EXPECT_EQ(image->width, 8);  // the caller's image stays the caller's
    Raster_Destroy(raster);

    answers.palettes = true;
    OpenDevice();
    image = Img(4, 4, 8, [](int32_t x, int32_t, uint8_t* p) { *p = (uint8_t)(x & 1); });
    memset(image->palette, 0, 1024);
    memcpy(image->palette, "\xc8\x00\x00\xff\x00\x00\xc8\xff", 8);  // red, blue
    ImagePng_Write(image, (folder + "pal.png").c_str());
    Texture_SetMipmapping(1);
    Texture_SetAutoMipmapping(1);
    Texture* texture = Texture_Read("pal", nullptr);
    ASSERT_NE(texture, nullptr);
    EXPECT_TRUE(Raster_GetFormat(texture->raster) & RASTERFORMATPAL8);
    EXPECT_EQ(LevelColour(texture->raster, 0), 0xc80000ffu);
    // One level down each pixel averages red and blue: a colour of the shared palette.
    EXPECT_EQ(LevelColour(texture->raster, 1), 0x640064ffu);
    Texture_Destroy(texture);
}
