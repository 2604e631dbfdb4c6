#include "gfx/core/raster.h"
#include "tests/gfx/world/world_fixture.h"

using namespace worldtest;

namespace {

using MaterialTest = WorldTextureTest;

Bytes WriteList(const MaterialList* list)
{
    Stream* s = OpenWrite();
    EXPECT_NE(MaterialList_StreamWrite(list, s), nullptr);
    return CloseWrite(s);
}

// Reads a list chunk written by WriteList; null on failure.
MaterialList* ReadList(Bytes& bytes, MaterialList* list)
{
    Stream* s = OpenRead(bytes);
    uint32_t length = 0, version = 0;
    MaterialList* out =
        Stream_FindChunk(s, CHUNK_MATERIAL_LIST, &length, &version) ? MaterialList_StreamRead(s, list) : nullptr;
    Stream_Close(s, nullptr);
    return out;
}

TEST_F(MaterialTest, ListStreamsRepeatsAsBackReferencesAndRestoresTheReferenceCounts)
{
    Material* a = MakeMaterial(10, 20, 30, 40);
    Material* b = MakeMaterial(1, 2, 3, 255);
    MaterialList list;
    MaterialList_Initialize(&list);
    for (Material* m : {a, a, b, a}) MaterialList_AppendMaterial(&list, m);
    Bytes bytes = WriteList(&list);
    // Struct: count 4, then -1, 0, -1, 1; then two material chunks.
    ASSERT_EQ(U32(bytes, 24), 4u);
    EXPECT_EQ((int32_t)U32(bytes, 28), -1);
    EXPECT_EQ((int32_t)U32(bytes, 32), 0);
    EXPECT_EQ((int32_t)U32(bytes, 36), -1);
    EXPECT_EQ((int32_t)U32(bytes, 40), 1);
    EXPECT_EQ(U32(bytes, 4) + 12, bytes.size());
    EXPECT_EQ((int32_t)U32(bytes, 4), MaterialList_StreamGetSize(&list));

    MaterialList read;
    ASSERT_NE(ReadList(bytes, &read), nullptr);
    ASSERT_EQ(read.count, 4);
    EXPECT_EQ(read.materials[0], read.materials[1]);
    EXPECT_EQ(read.materials[0], read.materials[3]);
    EXPECT_EQ(read.materials[0]->refCount, 3);
    EXPECT_EQ(read.materials[2]->refCount, 1);
    EXPECT_EQ(memcmp(read.materials[0]->colour, a->colour, 4), 0);
    EXPECT_EQ(WriteList(&read), bytes);

    MaterialList_Deinitialize(&read);
    MaterialList_Deinitialize(&list);
    Material_Destroy(a);
    Material_Destroy(b);
}

TEST_F(MaterialTest, MalformedListsAndStructsAreRefusedWithoutLeaks)
{
    Material* a = MakeMaterial();
    MaterialList list;
    MaterialList_Initialize(&list);
    MaterialList_AppendMaterial(&list, a);
    MaterialList_AppendMaterial(&list, a);
    const Bytes good = WriteList(&list);
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
        int32_t error;
    } cases[] = {
        {"back-reference to itself", 32, 1, WORLD_ERR_BAD_DATA},
        {"back-reference below -1", 32, (uint32_t)-5, WORLD_ERR_BAD_DATA},
        {"count larger than the struct", 24, 1000, WORLD_ERR_BAD_DATA},
        {"struct version too new", 20, Stream_EncodeStamp(0x36000, 0xFFFF), (int32_t)ERR_BAD_VERSION},
        {"material struct version too old", 56, Stream_EncodeStamp(0x30000, 0xFFFF), (int32_t)ERR_BAD_VERSION},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = good;
        PutU32(bytes, c.at, c.value);
        const long before = Live();
        TakeError();
        MaterialList read;
        EXPECT_EQ(ReadList(bytes, &read), nullptr);
        EXPECT_EQ(read.count, 0);
        EXPECT_EQ(Live(), before);
        ErrorRecord e;
        Error_Get(&e);
        EXPECT_EQ(e.code, c.error);
    }
    EXPECT_EQ(a->refCount, 3);
    MaterialList_Deinitialize(&list);
    Material_Destroy(a);
}

TEST_F(MaterialTest, ShortStructReadsZeroSurfaceAndLongStructSkipsItsTail)
{
    Material* a = MakeMaterial(9, 8, 7, 6);
    Stream* s = OpenWrite();
    Material_StreamWrite(a, s);
    Bytes bytes = CloseWrite(s);
    // Struct header at 12, payload at 24: shorten the struct to 16 bytes.
    Bytes shortStruct(bytes.begin(), bytes.begin() + 24 + 16);
    PutU32(shortStruct, 16, 16);
    shortStruct.insert(shortStruct.end(), bytes.begin() + 52, bytes.end());
    PutU32(shortStruct, 4, (uint32_t)shortStruct.size() - 12);
    // A 36-byte struct: 8 unknown bytes after the known 28.
    Bytes longStruct(bytes.begin(), bytes.begin() + 52);
    longStruct.insert(longStruct.end(), 8, 0xAB);
    PutU32(longStruct, 16, 36);
    longStruct.insert(longStruct.end(), bytes.begin() + 52, bytes.end());
    for (Bytes* b : {&shortStruct, &longStruct}) {
        Stream* r = OpenRead(*b);
        ASSERT_TRUE(Stream_FindChunk(r, CHUNK_MATERIAL, nullptr, nullptr));
        Material* m = Material_StreamRead(r);
        Stream_Close(r, nullptr);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(memcmp(m->colour, a->colour, 4), 0);
        const float expected = b == &shortStruct ? 0.0f : 1.0f;
        EXPECT_EQ(m->surfaceProperties[0], expected);
        EXPECT_EQ(m->surfaceProperties[2], expected);
        Material_Destroy(m);
    }
    Material_Destroy(a);
}

TEST_F(MaterialTest, AnEmptyRightToRenderSubChunkIsRefusedWithAReason)
{
    Material* a = MakeMaterial();
    Stream* s = OpenWrite();
    Material_StreamWrite(a, s);
    Bytes bytes = CloseWrite(s);
    Material_Destroy(a);
    // The material ends with its (empty) extension chunk: give it a
    // right-to-render sub-chunk of no payload.
    const size_t extension = bytes.size() - 12;
    ASSERT_EQ(U32(bytes, extension), (uint32_t)CHUNK_EXTENSION);
    const uint32_t sub[3] = {PLUGIN_RIGHT_TO_RENDER, 0, U32(bytes, extension + 8)};
    for (uint32_t w : sub) bytes.insert(bytes.end(), {(uint8_t)w, (uint8_t)(w >> 8), (uint8_t)(w >> 16), (uint8_t)(w >> 24)});
    PutU32(bytes, extension + 4, 12);
    PutU32(bytes, 4, U32(bytes, 4) + 12);
    Stream* r = OpenRead(bytes);
    ASSERT_TRUE(Stream_FindChunk(r, CHUNK_MATERIAL, nullptr, nullptr));
    EXPECT_EQ(Material_StreamRead(r), nullptr);
    Stream_Close(r, nullptr);
    EXPECT_EQ(TakeError(), (int32_t)ERR_SHORT_READ);
}

TEST_F(MaterialTest, TextureThatCannotBeFoundReadsUntexturedAndKeepsTheStreamAligned)
{
    Material* stone = MakeMaterial(1, 1, 1, 255);
    Texture* t = Texture_Read("stone", "");
    Material_SetTexture(stone, t);
    Texture_Destroy(t);
    TextureDictionary_RemoveTexture(stone->texture);
    strcpy(stone->texture->name, "lost");  // written under a name nobody has
    Material* plain = MakeMaterial(5, 5, 5, 255);
    MaterialList list;
    MaterialList_Initialize(&list);
    MaterialList_AppendMaterial(&list, stone);
    MaterialList_AppendMaterial(&list, plain);
    Bytes bytes = WriteList(&list);
    MaterialList read;
    TakeError();
    ASSERT_NE(ReadList(bytes, &read), nullptr);
    ASSERT_EQ(read.count, 2);
    EXPECT_EQ(read.materials[0]->texture, nullptr);
    EXPECT_EQ(read.materials[1]->colour[0], 5);
    MaterialList_Deinitialize(&read);
    MaterialList_Deinitialize(&list);
    Material_Destroy(stone);
    Material_Destroy(plain);
}

TEST_F(MaterialTest, ReferencesAreKeptRightByTextureSwapsAppendsAndSearches)
{
    Material* m = MakeMaterial();
    Texture* t = Texture_Read("brick", "");
    const int32_t refs = t->refCount;
    Material_SetTexture(m, t);
    Material_SetTexture(m, t);  // the same texture again must not free it
    EXPECT_EQ(t->refCount, refs + 1);
    Material_SetTexture(m, nullptr);
    EXPECT_EQ(t->refCount, refs);
    Texture_Destroy(t);

    MaterialList list;
    MaterialList_Initialize(&list);
    for (int i = 0; i < 21; i++) MaterialList_AppendMaterial(&list, m);
    EXPECT_EQ(list.capacity, 40);
    EXPECT_EQ(m->refCount, 22);
    EXPECT_EQ(MaterialList_FindMaterialIndex(&list, m), 20);
    MaterialList copy;
    ASSERT_NE(MaterialList_Copy(&copy, &list), nullptr);
    EXPECT_EQ(m->refCount, 43);
    MaterialList_Deinitialize(&copy);
    MaterialList_Deinitialize(&list);
    EXPECT_EQ(m->refCount, 1);
    const long before = Live();
    Material_Destroy(m);
    EXPECT_LE(Live(), before);
}

}  // namespace
