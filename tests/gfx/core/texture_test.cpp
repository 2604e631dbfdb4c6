#include "gfx/core/texture.h"

#include <cstring>
#include <string>

#include "common/bytes.h"
#include "gfx/core/stream.h"
#include "gfx/toolkit/bmp/imagebmp.h"
#include "gfx/toolkit/png/imagepng.h"
#include "tests/gfx/driver/d3d8/d3d8_fixture.h"

namespace {

class TextureTest : public D3D8RasterTest {
protected:
    std::string folder;
    void SetUp() override
    {
        D3D8RasterTest::SetUp();
        folder = imagetest::TestFolder();
        Image_RegisterFileFormat("bmp", ImageBmp_Read, ImageBmp_Write);
        Image_RegisterFileFormat("png", ImagePng_Read, ImagePng_Write);
        Image_SetPath(folder.c_str());
    }
    // Writes a solid w x h PNG of the colour (r, g, b, a).
    void WritePng(const char *name, int32_t w, int32_t h, uint32_t rgba)
    {
        Image *image = MakeImage(w, h, 32, [rgba](int32_t, int32_t, uint8_t *p) {
            for (int i = 0; i < 4; i++) p[i] = (uint8_t)(rgba >> (24 - 8 * i));
        });
        ASSERT_NE(ImagePng_Write(image, (folder + name + ".png").c_str()), nullptr);
        Image_Destroy(image);
    }
    // The first pixel of a level as R, G, B, A packed big-endian.
    static uint32_t LevelColour(Raster *raster, uint32_t level)
    {
        if (!Raster_Lock(raster, level, RASTERLOCKREAD)) return 0xdeadbeef;
        Image *image = Image_Create(raster->width, raster->height, 32);
        Image_AllocatePixels(image);
        Image_SetFromRaster(image, raster);
        Raster_Unlock(raster);
        const uint8_t *p = image->pixels;
        const uint32_t v = (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3];
        Image_Destroy(image);
        return v;
    }
};

TEST_F(TextureTest, TwoReadersShareOneTextureInEitherDestructionOrder)
{
    WritePng("brick", 4, 4, 0x804020ff);
    for (bool dictionaryFirst : {false, true}) {
        TextureDictionary *dictionary = TextureDictionary_Create();
        TextureDictionary_SetCurrent(dictionary);
        Texture *first = Texture_Read("brick", nullptr);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->dictionary, dictionary);
        Texture *second = Texture_Read("brick", nullptr);
        EXPECT_EQ(second, first);
        EXPECT_EQ(first->refCount, 2);
        if (dictionaryFirst) {
            TextureDictionary_Destroy(dictionary);
            EXPECT_EQ(first->refCount, 1);
            EXPECT_EQ(first->dictionary, nullptr);
            EXPECT_EQ(TextureDictionary_GetCurrent(), nullptr);
            Texture_Destroy(first);
        } else {
            Texture_Destroy(first);
            EXPECT_EQ(first->refCount, 1);
            TextureDictionary_Destroy(dictionary);
        }
    }
}

TEST_F(TextureTest, FindFoldsLettersToUpperCaseAndAMissReportsError22)
{
    WritePng("brick", 2, 2, 0xffffffff);
    Texture *texture = Texture_Read("brick", nullptr);
    ASSERT_NE(texture, nullptr);
    EXPECT_STREQ(texture->name, "brick");
    EXPECT_EQ(Texture_Read("BRICK", nullptr), texture);
    EXPECT_EQ(texture->refCount, 2);
    Error_Get(nullptr);
    EXPECT_EQ(Texture_Read("brick_", nullptr), nullptr);
    ErrorRecord record;
    Error_Get(&record);
    EXPECT_EQ(record.code, 22);
    EXPECT_EQ(record.pluginId, 1);
    Texture_Destroy(texture);
}

TEST_F(TextureTest, WithoutCurrentDictionaryTheNewestDictionaryWins)
{
    TextureDictionary *older = TextureDictionary_Create();
    TextureDictionary *newer = TextureDictionary_Create();
    Texture *a = Texture_SetName(Texture_Create(nullptr), "a");
    Texture *b = Texture_SetName(Texture_Create(nullptr), "A");
    TextureDictionary_AddTexture(older, a);
    TextureDictionary_AddTexture(newer, b);
    TextureDictionary_SetCurrent(nullptr);
    EXPECT_EQ(Texture_DefaultFind("a"), b);
    TextureDictionary_SetCurrent(older);
    EXPECT_EQ(Texture_DefaultFind("a"), a);
    TextureDictionary_Destroy(newer);
    TextureDictionary_Destroy(older);
}

TEST_F(TextureTest, NamesKeepThirtyOneCharacters)
{
    Texture *texture = Texture_Create(nullptr);
    const std::string name31(31, 'n');
    Texture_SetName(texture, name31.c_str());
    EXPECT_EQ(TakeError(), 0x80000000u);
    EXPECT_EQ(std::string(texture->name), name31);
    Texture_SetMaskName(texture, (name31 + "x").c_str());
    EXPECT_EQ(TakeError(), 0x8000001eu);
    EXPECT_EQ(std::string(texture->mask), name31);
    Texture_Destroy(texture);
}

TEST_F(TextureTest, MaskImageBrightnessBecomesTheTexturesAlpha)
{
    WritePng("brick", 4, 4, 0x10203040);
    WritePng("brick_a", 4, 4, 0x80808080);
    Texture *texture = Texture_Read("brick", "brick_a");
    ASSERT_NE(texture, nullptr);
    EXPECT_STREQ(texture->mask, "brick_a");
    EXPECT_EQ(Raster_GetFormat(texture->raster) & RASTERFORMATPIXELFORMATMASK, (uint32_t)RASTERFORMAT8888);
    EXPECT_EQ(LevelColour(texture->raster, 0), 0x10203080u);
    Texture_Destroy(texture);
}

TEST_F(TextureTest, MipLevelNamesAppendTheLevelsHexDigit)
{
    char name[300] = "wall", mask[300] = "wall_a", empty[300] = "";
    Texture_DefaultMipLevelName(name, mask, 10, 0);
    EXPECT_STREQ(name, "wallma");
    EXPECT_STREQ(mask, "wall_ama");
    Texture_DefaultMipLevelName(name, empty, 0, 0);
    Texture_DefaultMipLevelName(name, empty, 16, 0);
    EXPECT_STREQ(name, "wallma");
    EXPECT_STREQ(empty, "");
}

TEST_F(TextureTest, MipmappedReadTakesEachLevelFromItsOwnFile)
{
    const uint32_t colours[4] = {0x102030ff, 0x405060ff, 0x708090ff, 0xa0b0c0ff};
    WritePng("wall", 8, 8, colours[0]);
    WritePng("wallm1", 4, 4, colours[1]);
    WritePng("wallm2", 3, 3, colours[2]);  // resampled to the level's 2 x 2
    WritePng("wallm3", 1, 1, colours[3]);
    Texture_SetMipmapping(1);
    Texture *texture = Texture_Read("wall", nullptr);
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(Raster_GetNumLevels(texture->raster), 4);
    for (uint32_t level = 0; level < 4; level++) EXPECT_EQ(LevelColour(texture->raster, level), colours[level]) << level;
    Texture_Destroy(texture);
    WritePng("gap", 8, 8, colours[0]);
    WritePng("gapm1", 4, 4, colours[1]);
    EXPECT_EQ(Texture_Read("gap", nullptr), nullptr);
    Texture_SetMipmapping(0);
}

TEST_F(TextureTest, AutomaticMipLevelsAreGeneratedFromLevelZero)
{
    WritePng("auto", 8, 8, 0x336699ff);
    Texture_SetMipmapping(1);
    Texture_SetAutoMipmapping(1);
    Texture *texture = Texture_Read("auto", nullptr);
    ASSERT_NE(texture, nullptr);
    EXPECT_TRUE(Raster_GetFormat(texture->raster) & RASTERFORMATAUTOMIPMAP);
    EXPECT_EQ(LevelColour(texture->raster, 3), 0x336699ffu);
    Texture_Destroy(texture);
}

// A texture chunk in memory: written by Texture_StreamWrite, or built by hand.
struct Chunk {
    StreamMemory memory = {nullptr, 0};
    ~Chunk()
    {
        if (memory.start) Engine_Free(memory.start);
    }
};

bool WriteChunks(Chunk &chunk, const std::initializer_list<const Texture *> textures)
{
    Stream *stream = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    bool ok = stream != nullptr;
    for (const Texture *t : textures) ok = ok && Texture_StreamWrite(t, stream) != nullptr;
    return Stream_Close(stream, &chunk.memory) && ok;
}

Texture *ReadChunk(Stream *stream)
{
    uint32_t length, version;
    if (!Stream_FindChunk(stream, CHUNK_TEXTURE, &length, &version)) return nullptr;
    return Texture_StreamRead(stream);
}

// The first texture chunk of the bytes, through a read stream of its own.
Texture *ReadChunkFrom(StreamMemory *memory)
{
    Stream *stream = Stream_Open(STREAM_MEMORY, STREAM_READ, memory);
    if (!stream) return nullptr;
    Texture *texture = ReadChunk(stream);
    Stream_Close(stream, nullptr);
    return texture;
}

TEST_F(TextureTest, TextureChunkRoundTripAppliesTheWordOnlyToFreshTextures)
{
    WritePng("stone", 4, 4, 0x20406080);
    Texture *texture = Texture_Read("stone", nullptr);
    ASSERT_NE(texture, nullptr);
    texture->filterAddressing = 0x0302;  // linear, U clamp, V unset
    Texture_SetMaskName(texture, "");
    Chunk chunk;
    ASSERT_TRUE(WriteChunks(chunk, {texture}));
    EXPECT_EQ(chunk.memory.length, 12u + (uint32_t)Texture_StreamGetSize(texture));
    EXPECT_EQ(Texture_StreamGetSize(texture), 52 + 8 + 4);
    Texture *found = ReadChunkFrom(&chunk.memory);
    EXPECT_EQ(found, texture);
    EXPECT_EQ(found->refCount, 2);
    EXPECT_EQ(found->filterAddressing, 0x0302u);
    Texture_Destroy(found);
    Texture_Destroy(texture);
    Texture_SetMipmapping(1);
    Texture_SetAutoMipmapping(0);
    Texture *fresh = ReadChunkFrom(&chunk.memory);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->refCount, 1);
    EXPECT_EQ(fresh->filterAddressing, 0x3302u);
    // Filter mode 2 reads no mip levels whatever the module says, and the
    // module's flags are the caller's again afterwards.
    EXPECT_FALSE(Raster_GetFormat(fresh->raster) & RASTERFORMATMIPMAP);
    EXPECT_EQ(Texture_GetMipmapping(), 1);
    EXPECT_EQ(Texture_GetAutoMipmapping(), 0);
    Texture_SetMipmapping(0);
    Texture_Destroy(fresh);
}

TEST_F(TextureTest, MipmappingFilterInTheChunkTurnsMipLevelsOn)
{
    WritePng("moss", 4, 4, 0x406080ff);
    Texture *texture = Texture_Create(nullptr);
    Texture_SetName(texture, "moss");
    texture->filterAddressing = 0x1106;
    Chunk chunk;
    ASSERT_TRUE(WriteChunks(chunk, {texture}));
    Texture_Destroy(texture);
    Texture *read = ReadChunkFrom(&chunk.memory);
    ASSERT_NE(read, nullptr);
    // Without a raster the word's bit 16 was clear: automatic levels.
    EXPECT_EQ(Raster_GetFormat(read->raster) & (RASTERFORMATMIPMAP | RASTERFORMATAUTOMIPMAP),
              (uint32_t)(RASTERFORMATMIPMAP | RASTERFORMATAUTOMIPMAP));
    EXPECT_EQ(Texture_GetMipmapping(), 0);
    Texture_Destroy(read);
}

TEST_F(TextureTest, AMipFilterOnAPictureReadWithoutLevelsReadsBackWithoutThem)
{
    // As a mesh does: the picture read plainly, then a mip filter set. No
    // level files exist, so a reader that only asked for them would lose
    // the texture.
    WritePng("floor", 4, 4, 0x604080ff);
    Texture_SetMipmapping(0);
    Texture *texture = Texture_Read("floor", nullptr);
    ASSERT_NE(texture, nullptr);
    texture->filterAddressing = 0x1106;
    Chunk chunk;
    ASSERT_TRUE(WriteChunks(chunk, {texture}));
    Texture_Destroy(texture);
    Texture *read = ReadChunkFrom(&chunk.memory);
    ASSERT_NE(read, nullptr);
    EXPECT_FALSE(Raster_GetFormat(read->raster) & RASTERFORMATMIPMAP);
    EXPECT_EQ(read->filterAddressing, 0x1106u);
    Texture_Destroy(read);
}

TEST_F(TextureTest, MissingImageLeavesTheStreamAfterTheTexture)
{
    WritePng("here", 2, 2, 0xffffffff);
    Texture *gone = Texture_SetName(Texture_Create(nullptr), "gone");
    Texture *here = Texture_SetName(Texture_Create(nullptr), "here");
    Chunk chunk;
    ASSERT_TRUE(WriteChunks(chunk, {gone, here}));
    Texture_Destroy(gone);
    Texture_Destroy(here);
    Stream *stream = Stream_Open(STREAM_MEMORY, STREAM_READ, &chunk.memory);
    EXPECT_EQ(ReadChunk(stream), nullptr);
    Error_Get(nullptr);
    Texture *read = ReadChunk(stream);
    Stream_Close(stream, nullptr);
    ASSERT_NE(read, nullptr);
    EXPECT_STREQ(read->name, "here");
    Texture_Destroy(read);
}

TEST_F(TextureTest, SixteenBitNameChunksReadLikeEightBitOnesAndLongNamesAreCut)
{
    WritePng("wide", 2, 2, 0xffffffff);
    auto put32 = [](std::vector<uint8_t> &b, uint32_t v) {
        b.resize(b.size() + 4);
        Bytes_StoreU32(&b[b.size() - 4], v);
    };
    std::vector<uint8_t> bytes;
    auto header = [&](uint32_t type, uint32_t length) {
        put32(bytes, type);
        put32(bytes, length);
        put32(bytes, 0x1400ffffu);
    };
    const char *name = "wide";
    header(CHUNK_TEXTURE, 0);  // the size is not read
    header(CHUNK_STRUCT, 4);
    put32(bytes, 0x1101);
    header(19, 8);
    for (int i = 0; i < 4; i++) bytes.insert(bytes.end(), {(uint8_t)name[i], 0});
    std::string longMask(200, 'q');
    header(CHUNK_STRING, 200);
    bytes.insert(bytes.end(), longMask.begin(), longMask.end());
    header(CHUNK_EXTENSION, 0);
    StreamMemory memory = {bytes.data(), (uint32_t)bytes.size()};
    // The mask named by 200 letters does not exist; the cut name is what
    // the reader asked for.
    EXPECT_EQ(ReadChunkFrom(&memory), nullptr);
    Error_Get(nullptr);
    bytes.erase(bytes.end() - (12 + 12 + 200), bytes.end());  // drop the long mask and the extension
    header(CHUNK_STRING, 4);
    put32(bytes, 0);
    header(CHUNK_EXTENSION, 0);
    memory = {bytes.data(), (uint32_t)bytes.size()};
    Texture *texture = ReadChunkFrom(&memory);
    ASSERT_NE(texture, nullptr);
    EXPECT_STREQ(texture->name, "wide");
    Texture_Destroy(texture);
}

TEST_F(TextureTest, ForAllTexturesMayDestroyTheTextureItIsGiven)
{
    TextureDictionary *dictionary = TextureDictionary_Create();
    for (const char *n : {"a", "b", "c"}) TextureDictionary_AddTexture(dictionary, Texture_SetName(Texture_Create(nullptr), n));
    int visited = 0;
    TextureDictionary_ForAllTextures(
        dictionary,
        [](Texture *t, void *data) -> Texture * {
            ++*(int *)data;
            Texture_Destroy(t);
            return t;
        },
        &visited);
    EXPECT_EQ(visited, 3);
    EXPECT_EQ(TextureDictionary_FindNamedTexture(dictionary, "b"), nullptr);
    TextureDictionary_Destroy(dictionary);
}

TEST_F(TextureTest, EveryLevelIsGammaCorrectedOnce)
{
    Image_BuildGammaTables(2.0f);
    WritePng("lit", 4, 4, 0x808080ff);
    WritePng("litm1", 2, 2, 0x404040ff);
    WritePng("litm2", 1, 1, 0x808080ff);
    Texture *plain = Texture_Read("lit", nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(LevelColour(plain->raster, 0), 0xb5b5b5ffu);  // 128 -> 181
    EXPECT_TRUE(plain->raster->privateFlags & RASTERGAMMACORRECTED);
    Texture_Destroy(plain);
    TextureDictionary_SetCurrent(TextureDictionary_Create());
    Texture_SetMipmapping(1);
    Texture *mipped = Texture_Read("lit", nullptr);
    ASSERT_NE(mipped, nullptr);
    EXPECT_EQ(LevelColour(mipped->raster, 0), 0xb5b5b5ffu);
    EXPECT_EQ(LevelColour(mipped->raster, 1), 0x808080ffu);  // 64 -> 128
    EXPECT_EQ(LevelColour(mipped->raster, 2), 0xb5b5b5ffu);
    Texture_SetMipmapping(0);
    TextureDictionary_Destroy(TextureDictionary_GetCurrent());
    Image_BuildGammaTables(1.0f);
}

TEST_F(TextureTest, GenerationRestoresTheAutomaticFlagOnEveryExit)
{
    Raster *raster = Raster_Create(8, 8, 0, RASTERTYPETEXTURE | RASTERFORMAT888 | RASTERFORMATMIPMAP | RASTERFORMATAUTOMIPMAP);
    ASSERT_NE(raster, nullptr);
    Image *image = MakeImage(8, 8, 32, [](int32_t, int32_t, uint8_t *p) { memset(p, 90, 4); });
    D3D8Test_InjectFault(D3D8_FAULT_LOCK, 0, 1, D3DERR_INVALIDCALL);
    EXPECT_EQ(Texture_DefaultGenerateMipLevels(raster, image), nullptr);
    EXPECT_TRUE(Raster_GetFormat(raster) & RASTERFORMATAUTOMIPMAP);
    Error_Get(nullptr);
    EXPECT_EQ(Texture_DefaultGenerateMipLevels(raster, image), raster);
    EXPECT_TRUE(Raster_GetFormat(raster) & RASTERFORMATAUTOMIPMAP);
    EXPECT_EQ(LevelColour(raster, 3) >> 8, 0x5a5a5au);
    EXPECT_EQ(image->width, 8);  // the caller's image stays the caller's
    Image_Destroy(image);
    Raster_Destroy(raster);
}

TEST_F(TextureTest, PalettisedRastersGetOneSharedPaletteForAllLevels)
{
    answers.palettes = true;
    OpenDevice();
    Image *image = MakeImage(4, 4, 8, [](int32_t x, int32_t, uint8_t *p) { *p = (uint8_t)(x & 1); });
    memset(image->palette, 0, 1024);
    const uint8_t red[4] = {200, 0, 0, 255}, blue[4] = {0, 0, 200, 255};
    memcpy(image->palette, red, 4);
    memcpy(image->palette + 4, blue, 4);
    ImagePng_Write(image, (folder + "pal.png").c_str());
    Image_Destroy(image);
    Texture_SetMipmapping(1);
    Texture_SetAutoMipmapping(1);
    Texture *texture = Texture_Read("pal", nullptr);
    Texture_SetMipmapping(0);
    Texture_SetAutoMipmapping(0);
    ASSERT_NE(texture, nullptr);
    EXPECT_TRUE(Raster_GetFormat(texture->raster) & RASTERFORMATPAL8);
    EXPECT_EQ(LevelColour(texture->raster, 0), 0xc80000ffu);
    // One level down each pixel averages red and blue: a colour of the shared palette.
    const uint32_t mixed = LevelColour(texture->raster, 1);
    EXPECT_NE(mixed, 0xc80000ffu);
    EXPECT_EQ(mixed & 0xff, 0xffu);
    Texture_Destroy(texture);
}

TEST_F(TextureTest, LongNamesAreCutAt255AndMipSuffixesStillFit)
{
    WritePng("short", 2, 2, 0xffffffff);
    Texture_SetMipmapping(1);
    for (size_t length : {(size_t)254, (size_t)255, (size_t)300}) {
        const std::string name(length, 'w');
        const std::string mask(length, 'k');
        Error_Get(nullptr);
        EXPECT_EQ(Texture_Read(name.c_str(), mask.c_str()), nullptr);
        EXPECT_EQ(TakeError(), length > 255 ? 0x8000001eu : 22u);
    }
    Texture_SetMipmapping(0);
}

}  // namespace
