#include "tests/gfx/layer_fixture.h"

using namespace gfxtest;

namespace {

// A geometry extension owning a block: copies must go through its copy callback.
int32_t sOwnedOffset = -1;
int*& Owned(const void* g) { return *(int**)((char*)g + sOwnedOffset); }

class GeometryTest : public WorldTest {
protected:
    void RegisterPlugins() override
    {
        sOwnedOffset = Geometry_RegisterPlugin(
            (int32_t)sizeof(int*), 0x7F001, [](void* g, int32_t, int32_t) { return Owned(g) = nullptr, g; },
            [](void* g, int32_t, int32_t) { return Engine_Free(Owned(g)), Owned(g) = nullptr, g; },
            [](void* dst, const void* src, int32_t, int32_t) {
                Owned(dst) = Owned(src) ? (int*)Engine_Malloc(sizeof(int)) : nullptr;
                if (Owned(dst)) *Owned(dst) = *Owned(src);
                return dst;
            });
    }
    // The one textured, prelit triangle of the 424-byte example.
    static Atomic* MakeExample()
    {
        Geometry* g = Geometry_Create(3, 1, 0x4C);
        Material* m = MakeMaterial(10, 20, 30, 255);
        Texture* t = Texture_Read("brick", "");
        t->filterAddressing = 0x1102;
        Material_SetTexture(m, t);
        Texture_Destroy(t);
        const Vec3 v[3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        for (int i = 0; i < 3; i++) {
            g->morphTarget[0].verts[i] = v[i];
            g->preLitLum[i] = RGBA{(uint8_t)(50 * i), 100, 150, 255};
            g->texCoords[0][i] = TexCoords{v[i].x, v[i].y};
        }
        Geometry_SetTriangleVertexIndices(g, &g->triangles[0], 0, 1, 2);
        Geometry_SetTriangleMaterial(g, &g->triangles[0], m);
        MorphTarget_CalcBoundingSphere(&g->morphTarget[0], &g->morphTarget[0].boundingSphere);
        Geometry_Unlock(g);
        Atomic* a = MakeAtomic(g);
        Geometry_Destroy(g);
        Material_Destroy(m);
        return a;
    }
};

TEST_F(GeometryTest, CreationFlagsGiveTheTextureSetsAndGeometryRoundTripsByteForByteWithTrianglesAsSwappedWords)
{
    const struct {
        uint32_t flags;
        int32_t sets;
        uint32_t stored;
    } cases[] = {
        {GEOMETRY_TEXTURED2, 2, GEOMETRY_TEXTURED2},
        {GEOMETRY_TEXTURED, 1, GEOMETRY_TEXTURED},
        {3u << 16, 3, GEOMETRY_TEXTURED2},
        {1u << 16 | GEOMETRY_TEXTURED2, 1, GEOMETRY_TEXTURED},
        {GEOMETRY_PRELIT | GEOMETRY_NORMALS | 0x100 | 0x04000000, 0, GEOMETRY_PRELIT | GEOMETRY_NORMALS | 0x04000000},
    };
    for (const auto& c : cases) {
        Geometry* g = Geometry_Create(4, 2, c.flags);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->numTexCoordSets, c.sets) << std::hex << c.flags;
        EXPECT_EQ(g->flags, c.stored) << std::hex << c.flags;
        EXPECT_EQ(g->triangles[1].matIndex, -1);
        Geometry_Destroy(g);
    }
    EXPECT_EQ(Geometry_Create(4, 2, 9u << 16), nullptr);  // eight sets at most
    Geometry_Destroy(Geometry_Create(65535, 0, 0));
    Error_Get(nullptr);
    EXPECT_EQ(Geometry_Create(65536, 0, 0), nullptr);
    EXPECT_EQ(TakeErrorOf(), std::pair((int32_t)WORLD_PLUGIN_ID, (int32_t)GEOMETRY_ERR_TOO_MANY_VERTICES));
    // 4 vertices, a triangle on a material listed five times and one
    // without a material: its mesh reads back without one, and the second
    // write repeats the first.
    Geometry* g = Geometry_Create(4, 2, GEOMETRY_POSITIONS);
    for (int i = 0; i < 5; i++) MaterialList_AppendMaterial(&g->matList, white);
    g->triangles[0] = Triangle{{1, 2, 3}, 4};
    g->triangles[1] = Triangle{{0, 1, 2}, -1};
    Geometry_Unlock(g);
    Bytes bytes = WriteGeometry(g);
    // Chunk header, struct header, 16-byte header: the triangle follows.
    const uint8_t expected[8] = {2, 0, 1, 0, 4, 0, 3, 0};
    EXPECT_EQ(memcmp(bytes.data() + 40, expected, 8), 0);
    EXPECT_EQ(bytes.size(), 12u + Geometry_StreamGetSize(g));
    Geometry_Destroy(g);
    g = ReadGeometry(bytes);
    ASSERT_NE(g, nullptr);
    const Mesh* meshes = MeshHeader_Meshes(g->mesh);
    EXPECT_EQ(std::tuple(g->mesh->numMeshes, !meshes[0].material + !meshes[1].material), std::tuple(2u, 1));
    EXPECT_EQ(WriteGeometry(g), bytes);
    Geometry_Destroy(g);

    // Two morph targets, normals, prelit colours, two texture sets, two materials.
    g = Own(MakeGrid(
        2, 4.0f, GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT | GEOMETRY_LIGHT | GEOMETRY_TEXTURED2, white));
    Geometry_SetTriangleMaterial(g, &g->triangles[3], Own(MakeMaterial(1, 2, 3, 4)));
    Geometry_AddMorphTarget(g);
    for (int v = 0; v < g->numVertices; v++) {
        g->morphTarget[1].verts[v] = Vec3{g->morphTarget[0].verts[v].x * 2, (float)v, 1.5f};
        g->morphTarget[1].normals[v] = Vec3{0, 1, 0};
        g->preLitLum[v] = RGBA{(uint8_t)v, (uint8_t)(2 * v), 200, (uint8_t)(250 - v)};
        g->texCoords[1][v] = TexCoords{0.25f * v, -1.0f};
    }
    MorphTarget_CalcBoundingSphere(&g->morphTarget[1], &g->morphTarget[1].boundingSphere);
    Geometry_Lock(g, GEOMETRY_LOCK_POLYGONS);
    Geometry_Unlock(g);
    bytes = WriteGeometry(g);
    const long before = Live();
    Geometry* back = ReadGeometry(bytes);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::tuple(back->numMorphTargets, back->morphTarget[1].verts[3].y, back->triangles[3].matIndex),
              std::tuple(2, 3.0f, 1));
    EXPECT_EQ(WriteGeometry(back), bytes);
    Geometry_Destroy(back);
    EXPECT_EQ(Live(), before);
}

TEST_F(GeometryTest, MalformedChunksAreRefusedWithNothingLeftAndAnOldStructReadsWithAWarning)
{
    Geometry* g = Own(MakeGrid(1, 1.0f, GEOMETRY_POSITIONS | GEOMETRY_TEXTURED, white));
    const Bytes good = WriteGeometry(g);
    // Layout: struct payload at 24: header 16, uv 32, triangles 16, target 24 + 48.
    ExpectRefused(good,
                  {{"nine texture sets", 24, 0x00090004 | GEOMETRY_POSITIONS, WORLD_ERR_BAD_DATA},
                   {"vertex index past the vertices", 72, (U32(good, 72) & 0xFFFF0000u) | 9u << 16, WORLD_ERR_BAD_DATA},
                   {"material index past the list", 76, (U32(good, 76) & 0xFFFF0000u) | 3, WORLD_ERR_BAD_DATA},
                   {"material index below -1", 76, (U32(good, 76) & 0xFFFF0000u) | 0xFFFE, WORLD_ERR_BAD_DATA},
                   {"normals without the normals flag", 108, 1, WORLD_ERR_BAD_DATA},
                   {"triangle count beyond the struct", 28, 100000, WORLD_ERR_BAD_DATA},
                   {"vertex count beyond the struct", 32, 60000, WORLD_ERR_BAD_DATA},
                   {"no morph target", 36, 0, WORLD_ERR_BAD_DATA},
                   {"morph targets whose positions the struct cannot hold", 36, 2, WORLD_ERR_BAD_DATA}},
                  ReadGeometry);
    EXPECT_EQ(white->refCount, 2);
    // Nothing bounds the count of triangles without vertices but the chunk.
    const Bytes none = WriteGeometry(Own(Geometry_Create(0, 7, GEOMETRY_PRELIT | GEOMETRY_TEXTURED)));
    EXPECT_EQ(U32(none, 16), 16u + 24u);
    ExpectRefused(none, {{"40 million triangles", 28, 40000000, WORLD_ERR_BAD_DATA}}, ReadGeometry);
    g = Own(MakeGrid(1, 1.0f, GEOMETRY_POSITIONS, white));
    Bytes bytes = WriteGeometry(g);
    // Version 0x33000 struct and material list; 12 bytes of surface properties after the header.
    const uint32_t old = Stream_EncodeStamp(0x33000, 0xFFFF);
    PutU32(bytes, 20, old);
    const float props[3] = {0.25f, 0.5f, 0.75f};
    bytes.insert(bytes.begin() + 40, (const uint8_t*)props, (const uint8_t*)(props + 3));
    PutU32(bytes, 16, U32(bytes, 16) + 12);
    PutU32(bytes, 4, U32(bytes, 4) + 12);
    const size_t list = 24 + U32(bytes, 16);
    ASSERT_EQ(U32(bytes, list), (uint32_t)CHUNK_MATERIAL_LIST);
    PutU32(bytes, list + 8, old);
    TakeError();
    Geometry* back = ReadGeometry(bytes);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->morphTarget[0].verts[3].x, g->morphTarget[0].verts[3].x);
    EXPECT_EQ(TakeError(), (int32_t)ERR_BAD_VERSION);
    EXPECT_EQ(Material_GetDefaultSurfaceProperties()[1], 1.0f);
    Geometry_Destroy(back);
}

TEST_F(GeometryTest, LockingTrianglesRebuildsTheMeshHeaderAndSortingSplitsSharedVerticesCopyingExtensions)
{
    Material *low = white, *high = Own(MakeMaterial(9, 9, 9));
    Geometry* g = Own(MakeGrid(1, 1.0f, GEOMETRY_POSITIONS | GEOMETRY_PRELIT, low));
    MeshHeader* header = g->mesh;
    Geometry_Lock(g, GEOMETRY_LOCK_VERTICES);
    EXPECT_EQ(std::tuple(g->mesh, g->lockedSinceLastInst), std::tuple(header, GEOMETRY_LOCK_VERTICES));
    const uint16_t serial = header->serialNumber;
    Geometry_Lock(g, GEOMETRY_LOCK_POLYGONS);
    EXPECT_EQ(g->mesh, nullptr);
    Geometry_SetTriangleMaterial(g, &g->triangles[0], high);  // index 1
    ASSERT_NE(Geometry_Unlock(g), nullptr);
    EXPECT_NE(g->mesh->serialNumber, serial);
    EXPECT_EQ(Geometry_Condition(g, 0.01f), g);

    Owned(g) = (int*)Engine_Malloc(sizeof(int));
    *Owned(g) = 42;
    Geometry* sorted = Own(Geometry_SortVerticesByMaterial(g, nullptr));
    ASSERT_NE(sorted, nullptr);
    EXPECT_EQ(std::tuple(sorted->numVertices, g->numVertices), std::tuple(6, 4));
    // The lower material's vertices come first; triangles keep their order.
    EXPECT_EQ(sorted->triangles[1].matIndex, 0);
    for (uint16_t v : sorted->triangles[1].vertIndex) EXPECT_LT(v, 3);
    for (uint16_t v : sorted->triangles[0].vertIndex) EXPECT_GE(v, 3);
    for (int k = 0; k < 3; k++) {
        const Vec3& a = g->morphTarget[0].verts[g->triangles[0].vertIndex[k]];
        const Vec3& b = sorted->morphTarget[0].verts[sorted->triangles[0].vertIndex[k]];
        EXPECT_EQ(std::tuple(a.x, a.y), std::tuple(b.x, b.y));
    }
    ASSERT_NE(Owned(sorted), nullptr);
    EXPECT_NE(Owned(sorted), Owned(g));
    EXPECT_EQ(std::tuple(*Owned(sorted), low->refCount), std::tuple(42, 3));
}

MaterialList* ReadList(Bytes& bytes, MaterialList* list)
{
    return ReadChunk([list](Stream* s) { return MaterialList_StreamRead(s, list); }, CHUNK_MATERIAL_LIST, bytes);
}

TEST_F(GeometryTest, MaterialListsStreamRepeatsAsBackReferencesRefuseBrokenChunksAndReadLostTexturesUntextured)
{
    Material *a = Own(MakeMaterial(10, 20, 30, 40)), *b = Own(MakeMaterial(1, 2, 3, 255));
    MaterialList list = List({a, a, b, a});
    Bytes bytes = Written(MaterialList_StreamWrite, &list);
    // Struct: count 4, then -1, 0, -1, 1; then two material chunks.
    const uint32_t words[][2] = {{24, 4}, {28, (uint32_t)-1}, {32, 0}, {36, (uint32_t)-1}, {40, 1}};
    for (const auto& w : words) EXPECT_EQ(U32(bytes, w[0]), w[1]) << w[0];
    EXPECT_EQ(std::tuple(U32(bytes, 4) + 12, (int32_t)U32(bytes, 4)),
              std::tuple(bytes.size(), MaterialList_StreamGetSize(&list)));

    MaterialList read;
    ASSERT_NE(ReadList(bytes, &read), nullptr);
    ASSERT_EQ(read.count, 4);
    EXPECT_EQ(std::tuple(read.materials[0], read.materials[0], read.materials[0]->refCount, read.materials[2]->refCount,
                         memcmp(read.materials[0]->colour, a->colour, 4)),
              std::tuple(read.materials[1], read.materials[3], 3, 1, 0));
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
    Material* stone = Own(MakeMaterial(1, 1, 1, 255));
    Texture* t = Texture_Read("stone", "");
    Material_SetTexture(stone, t);
    Texture_Destroy(t);
    TextureDictionary_RemoveTexture(stone->texture);
    strcpy(stone->texture->name, "lost");  // written under a name nobody has
    Material* plain = Own(MakeMaterial(5, 5, 5, 255));
    list = List({stone, plain});
    bytes = Written(MaterialList_StreamWrite, &list);
    ASSERT_NE(ReadList(bytes, &read), nullptr);
    ASSERT_EQ(read.count, 2);
    EXPECT_EQ(std::tuple(read.materials[0]->texture, read.materials[1]->colour[0]), std::tuple(nullptr, 5));
    MaterialList_Deinitialize(&read);
    MaterialList_Deinitialize(&list);
}

TEST_F(GeometryTest, MaterialStructsOfOtherLengthsAnEmptyRightToRenderSubChunkAndReferencesKeptRight)
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
        EXPECT_EQ(std::tuple(m->surfaceProperties[0], m->surfaceProperties[2]), std::tuple(expected, expected));
        Material_Destroy(m);
    }
    // An empty right-to-render sub-chunk in the (empty) extension chunk is refused.
    const size_t extension = bytes.size() - 12;
    ASSERT_EQ(U32(bytes, extension), (uint32_t)CHUNK_EXTENSION);
    Words(bytes, {PLUGIN_RIGHT_TO_RENDER, 0, U32(bytes, extension + 8)});
    PutU32(bytes, extension + 4, 12);
    PutU32(bytes, 4, U32(bytes, 4) + 12);
    ExpectRefused(bytes, {{"empty right to render", kKeep, 0, (int32_t)ERR_SHORT_READ}}, ReadMaterial);
    Material* m = Own(MakeMaterial());
    Texture* t = Texture_Read("brick", "");
    const int32_t refs = t->refCount;
    Material_SetTexture(m, t);
    Material_SetTexture(m, t);  // the same texture again must not free it
    EXPECT_EQ(t->refCount, refs + 1);
    Material_SetTexture(m, nullptr);
    EXPECT_EQ(t->refCount, refs);
    Texture_Destroy(t);

    MaterialList list = List({});
    for (int i = 0; i < 21; i++) MaterialList_AppendMaterial(&list, m);
    EXPECT_EQ(std::tuple(m->refCount, MaterialList_FindMaterialIndex(&list, m)), std::tuple(22, 20));
    MaterialList copy;
    ASSERT_NE(MaterialList_Copy(&copy, &list), nullptr);
    EXPECT_EQ(m->refCount, 43);
    MaterialList_Deinitialize(&copy);
    MaterialList_Deinitialize(&list);
    EXPECT_EQ(m->refCount, 1);
}

TEST_F(GeometryTest, TheExampleAtomicRoundTripsAndRefusesBrokenPartsAndItsWorldSphereFollowsFramesAndMorphs)
{
    Atomic* a = MakeExample();
    const Bytes bytes = WriteAtomic(a);
    ASSERT_EQ(bytes.size(), 424u);
    const uint32_t words[][2] = {
        {0, 0x14},  {4, 412},   {8, 0x1400FFFF}, {12, 1},        {16, 16},          {32, 5},
        {40, 0x0F}, {44, 360},  {52, 1},         {56, 120},      {64, 0x0001004C},  {68, 1},
        {72, 3},    {76, 1},    {116, 1},        {120, 2 << 16}, {140, 1},          {144, 0},
        {184, 8},   {188, 160}, {196, 1},        {200, 8},       {208, 1},          {212, (uint32_t)-1},
        {216, 7},   {220, 128}, {228, 1},        {232, 28},      {252, 1},          {256, 0x3F800000},
        {268, 6},   {272, 64},  {280, 1},        {284, 4},       {292, 0x00011102}, {296, 2},
        {300, 8},   {316, 2},   {320, 4},        {328, 0},       {332, 3},          {336, 0},
        {344, 3},   {348, 0},   {356, 3},        {360, 44},      {368, 0x50E},      {372, 32},
        {380, 0},   {384, 1},   {388, 3},        {392, 3},       {396, 0},          {400, 0},
        {404, 1},   {408, 2},   {412, 3},        {416, 0},
    };
    for (const auto& w : words) EXPECT_EQ(U32(bytes, w[0]), w[1]) << "at " << w[0];
    EXPECT_EQ(memcmp(bytes.data() + 308, "brick\0\0\0", 8), 0);
    EXPECT_EQ(memcmp(bytes.data() + 244, a->geometry->matList.materials[0]->colour, 4), 0);
    Atomic_Destroy(a);

    // Read with no "brick" around: a new texture with one reference.
    const long before = Live();
    Bytes copy = bytes;
    Atomic* back = ReadAtomic(copy);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->object.header.flags, ATOMIC_COLLISION_TEST | ATOMIC_RENDER);
    EXPECT_EQ(back->geometry->refCount, 1);
    Texture* brick = back->geometry->matList.materials[0]->texture;
    ASSERT_NE(brick, nullptr);
    EXPECT_EQ(brick->refCount, 1);
    EXPECT_EQ(back->boundingSphere.radius, back->geometry->morphTarget[0].boundingSphere.radius);
    EXPECT_EQ(WriteAtomic(back), bytes);
    Atomic_Destroy(back);
    EXPECT_EQ(Live(), before);

    // An existing "brick" is shared and keeps its own filter word.
    Texture* existing = Texture_Read("brick", "");
    existing->filterAddressing = 0x1101;
    Atomic* shared = ReadAtomic(copy);
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(std::tuple(shared->geometry->matList.materials[0]->texture, existing->refCount), std::tuple(existing, 2));
    EXPECT_EQ(U32(WriteAtomic(shared), 292), 0x00011101u);
    Atomic_Destroy(shared);
    Texture_Destroy(existing);

    ExpectRefused(bytes,
                  {{"missing struct", 12, 99, ERR_END_OF_STREAM},
                   {"struct version", 20, 0x00020000, (int32_t)ERR_BAD_VERSION},
                   {"short struct read", kKeep, 0, ERR_END_OF_STREAM, 30},
                   {"geometry version", 48, 0x00020000, (int32_t)ERR_BAD_VERSION},
                   {"geometry triangle", 116, 7, WORLD_ERR_BAD_DATA},
                   {"extension sub-chunk past its chunk", 372, 40, (int32_t)ERR_SHORT_READ}},
                  ReadAtomic);
    Geometry* g = Own(MakeGrid(1, 2.0f, GEOMETRY_POSITIONS, white));
    Frame* f = Own(Frame_Create());
    a = Own(MakeAtomic(g, f));
    const Vec3 scale = {2, 1, 1}, move = {5, 0, 0};
    Matrix_Scale(&f->modelling, &scale, COMBINE_REPLACE);
    Matrix_Translate(&f->modelling, &move, COMBINE_POSTCONCAT);
    Frame_MarkDirty(f);
    Frame_SyncDirtyList();
    const Sphere* s = Atomic_GetWorldBoundingSphere(a);
    EXPECT_NEAR(s->radius, 2 * a->boundingSphere.radius, 1e-3f);
    EXPECT_NEAR(s->center.x, 5.0f, 1e-5f);
    f->modelling.pos.x = 9;  // not marked: the cached sphere stays
    EXPECT_NEAR(Atomic_GetWorldBoundingSphere(a)->center.x, 5.0f, 1e-5f);
    Frame_MarkDirty(f);
    EXPECT_NEAR(Atomic_GetWorldBoundingSphere(a)->center.x, 9.0f, 1e-5f);

    // The same geometry again keeps its one reference; KEEP_SPHERE keeps the sphere.
    Atomic_SetGeometry(a, g, 0);
    EXPECT_EQ(g->refCount, 2);
    const Sphere kept = a->boundingSphere;
    Geometry* morph = Own(Geometry_Create(3, 0, GEOMETRY_POSITIONS));
    Geometry_AddMorphTarget(morph);
    morph->morphTarget[0].boundingSphere = Sphere{{0, 0, 0}, 1};
    morph->morphTarget[1].boundingSphere = Sphere{{4, 2, 0}, 3};
    Atomic_SetGeometry(a, morph, ATOMIC_SETGEOMETRY_KEEP_SPHERE);
    EXPECT_EQ(a->boundingSphere.radius, kept.radius);
    Atomic_SetGeometry(a, morph, 0);
    Atomic_SetFrame(a, nullptr);  // the spheres below in the atomic's space
    const struct {
        int16_t start, end;
        float position;
        Sphere expected;
    } cases[] = {{0, 1, 0.5f, {{2, 1, 0}, 2}},
                 {1, 1, 0.5f, {{4, 2, 0}, 3}},
                 {0, 1, 0.0f, {{0, 0, 0}, 1}},
                 {0, 5, 0.5f, {{0, 0, 0}, 1}}};  // a target past the geometry's: target 0
    for (const auto& c : cases) {
        Atomic_SetMorphBlend(a, c.start, c.end, c.position, 1.0f);
        const Sphere* b = Atomic_GetWorldBoundingSphere(a);
        EXPECT_FLOAT_EQ(b->radius, c.expected.radius) << c.start << c.end << c.position;
        EXPECT_FLOAT_EQ(b->center.x, c.expected.center.x);
        EXPECT_FLOAT_EQ(b->center.y, c.expected.center.y);
    }
}

}  // namespace
