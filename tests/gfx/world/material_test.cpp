#include "tests/gfx/layer_fixture.h"

using namespace gfxtest;

namespace {

using MaterialTest = WorldTest;

// The list chunk read into list; null on failure.
MaterialList* ReadList(Bytes& bytes, MaterialList* list)
{
    return ReadChunk([list](Stream* s) { return MaterialList_StreamRead(s, list); }, CHUNK_MATERIAL_LIST, bytes);
}

TEST_F(MaterialTest, ListsStreamRepeatsAsBackReferencesRestoreTheReferenceCountsAndRefuseBrokenChunks)
{
    Material* a = Own(MakeMaterial(10, 20, 30, 40));
    Material* b = Own(MakeMaterial(1, 2, 3, 255));
    MaterialList list = List({a, a, b, a});
    Bytes bytes = Written(MaterialList_StreamWrite, &list);
    // Struct: count 4, then -1, 0, -1, 1; then two material chunks.
    const uint32_t words[][2] = {{24, 4}, {28, (uint32_t)-1}, {32, 0}, {36, (uint32_t)-1}, {40, 1}};
    for (const auto& w : words) EXPECT_EQ(U32(bytes, w[0]), w[1]) << w[0];
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
    EXPECT_EQ(Written(MaterialList_StreamWrite, &read), bytes);
    MaterialList_Deinitialize(&read);

    ExpectRefused(
        bytes,
        {{"back-reference to itself", 32, 1, WORLD_ERR_BAD_DATA},
         {"back-reference below -1", 32, (uint32_t)-5, WORLD_ERR_BAD_DATA},
         {"count larger than the struct", 24, 1000, WORLD_ERR_BAD_DATA},
         {"struct version too new", 20, Stream_EncodeStamp(0x36000, 0xFFFF), (int32_t)ERR_BAD_VERSION},
         {"material struct version too old", 64, Stream_EncodeStamp(0x30000, 0xFFFF), (int32_t)ERR_BAD_VERSION}},
        [&](Bytes& edited) {
            MaterialList out;
            MaterialList* r = ReadList(edited, &out);
            EXPECT_EQ(out.count, 0);
            return r;
        });
    EXPECT_EQ(a->refCount, 4);
    MaterialList_Deinitialize(&list);
}

TEST_F(MaterialTest, StructsOfOtherLengthsAndAnEmptyRightToRenderSubChunk)
{
    Material* a = Own(MakeMaterial(9, 8, 7, 6));
    Bytes bytes = WriteMaterial(a);
    // A 16-byte struct reads its surface as zero; 8 unknown bytes more are skipped.
    Bytes shortStruct(bytes.begin(), bytes.begin() + 24 + 16);
    PutU32(shortStruct, 16, 16);
    shortStruct.insert(shortStruct.end(), bytes.begin() + 52, bytes.end());
    PutU32(shortStruct, 4, (uint32_t)shortStruct.size() - 12);
    Bytes longStruct(bytes.begin(), bytes.begin() + 52);
    longStruct.insert(longStruct.end(), 8, 0xAB);
    PutU32(longStruct, 16, 36);
    longStruct.insert(longStruct.end(), bytes.begin() + 52, bytes.end());
    for (Bytes* b : {&shortStruct, &longStruct}) {
        Material* m = ReadMaterial(*b);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(memcmp(m->colour, a->colour, 4), 0);
        const float expected = b == &shortStruct ? 0.0f : 1.0f;
        EXPECT_EQ(m->surfaceProperties[0], expected);
        EXPECT_EQ(m->surfaceProperties[2], expected);
        Material_Destroy(m);
    }
    // An empty right-to-render sub-chunk in the (empty) extension chunk is refused.
    const size_t extension = bytes.size() - 12;
    ASSERT_EQ(U32(bytes, extension), (uint32_t)CHUNK_EXTENSION);
    Words(bytes, {PLUGIN_RIGHT_TO_RENDER, 0, U32(bytes, extension + 8)});
    PutU32(bytes, extension + 4, 12);
    PutU32(bytes, 4, U32(bytes, 4) + 12);
    ExpectRefused(bytes, {{"empty right to render", kKeep, 0, (int32_t)ERR_SHORT_READ}}, ReadMaterial);
}

TEST_F(MaterialTest, TextureThatCannotBeFoundReadsUntexturedAndKeepsTheStreamAligned)
{
    Material* stone = Own(MakeMaterial(1, 1, 1, 255));
    Texture* t = Texture_Read("stone", "");
    Material_SetTexture(stone, t);
    Texture_Destroy(t);
    TextureDictionary_RemoveTexture(stone->texture);
    strcpy(stone->texture->name, "lost");  // written under a name nobody has
    Material* plain = Own(MakeMaterial(5, 5, 5, 255));
    MaterialList list = List({stone, plain});
    Bytes bytes = Written(MaterialList_StreamWrite, &list);
    MaterialList read;
    ASSERT_NE(ReadList(bytes, &read), nullptr);
    ASSERT_EQ(read.count, 2);
    EXPECT_EQ(read.materials[0]->texture, nullptr);
    EXPECT_EQ(read.materials[1]->colour[0], 5);
    MaterialList_Deinitialize(&read);
    MaterialList_Deinitialize(&list);
}

TEST_F(MaterialTest, ReferencesAreKeptRightByTextureSwapsAppendsCopiesAndSearches)
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
    EXPECT_EQ(m->refCount, 22);
    EXPECT_EQ(MaterialList_FindMaterialIndex(&list, m), 20);
    MaterialList copy;
    ASSERT_NE(MaterialList_Copy(&copy, &list), nullptr);
    EXPECT_EQ(m->refCount, 43);
    MaterialList_Deinitialize(&copy);
    MaterialList_Deinitialize(&list);
    EXPECT_EQ(m->refCount, 1);
    Material_Destroy(m);
}

}  // namespace
