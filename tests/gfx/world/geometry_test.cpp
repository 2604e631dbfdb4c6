#include "tests/gfx/world/world_fixture.h"

using namespace worldtest;

namespace {

// A geometry extension that owns a block, to check that copies go through
// the copy callback (a raw byte copy would make two owners of one block).
constexpr uint32_t kOwnedPlugin = 0x7F001;
int32_t sOwnedOffset = -1;

int*& Owned(void* g) { return *(int**)((char*)g + sOwnedOffset); }
void* OwnedConstruct(void* g, int32_t, int32_t)
{
    Owned(g) = nullptr;
    return g;
}
void* OwnedDestruct(void* g, int32_t, int32_t)
{
    Engine_Free(Owned(g));
    Owned(g) = nullptr;
    return g;
}
void* OwnedCopy(void* dst, const void* src, int32_t, int32_t)
{
    int* from = Owned((void*)src);
    Owned(dst) = nullptr;
    if (from) {
        Owned(dst) = (int*)Engine_Malloc(sizeof(int));
        *Owned(dst) = *from;
    }
    return dst;
}

class GeometryTest : public WorldTest {
protected:
    void RegisterPlugins() override
    {
        sOwnedOffset =
            Geometry_RegisterPlugin((int32_t)sizeof(int*), kOwnedPlugin, OwnedConstruct, OwnedDestruct, OwnedCopy);
    }

    static Bytes Write(const Geometry* g) { return WriteGeometry(g); }
    static Geometry* Read(Bytes& bytes) { return ReadGeometry(bytes); }
    // Two morph targets, normals, prelit colours and two texture sets over a
    // 2 x 2 grid with two materials.
    Geometry* MakeRich(Material* a, Material* b)
    {
        Geometry* g = MakeGrid(
            2, 4.0f, GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT | GEOMETRY_LIGHT | GEOMETRY_TEXTURED2, a);
        Geometry_SetTriangleMaterial(g, &g->triangles[3], b);
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
        return g;
    }
};

TEST_F(GeometryTest, CreationFlagsGiveTheTextureSetCountAndStoredFlags)
{
    struct Case {
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
    for (const Case& c : cases) {
        Geometry* g = Geometry_Create(4, 2, c.flags);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->numTexCoordSets, c.sets) << std::hex << c.flags;
        EXPECT_EQ(g->flags, c.stored) << std::hex << c.flags;
        EXPECT_EQ(g->triangles[1].matIndex, -1);
        Geometry_Destroy(g);
    }
    EXPECT_EQ(Geometry_Create(4, 2, 9u << 16), nullptr);  // eight sets at most
    Geometry* biggest = Geometry_Create(65535, 0, 0);
    EXPECT_NE(biggest, nullptr);
    Geometry_Destroy(biggest);
    TakeError();
    EXPECT_EQ(Geometry_Create(65536, 0, 0), nullptr);
    ErrorRecord e;
    Error_Get(&e);
    EXPECT_EQ(e.pluginId, (int32_t)WORLD_PLUGIN_ID);
    EXPECT_EQ(e.code, (int32_t)GEOMETRY_ERR_TOO_MANY_VERTICES);
}

TEST_F(GeometryTest, TrianglesStreamAsSwappedWordsAndZeroVertexGeometryStreamsNoTrianglesNorReadsBack)
{
    Geometry* g = Geometry_Create(5, 1, GEOMETRY_POSITIONS);
    Material* m = MakeMaterial();
    for (int i = 0; i < 5; i++) MaterialList_AppendMaterial(&g->matList, m);
    g->triangles[0] = Triangle{{1, 2, 3}, 4};
    Geometry_Unlock(g);
    Bytes bytes = Write(g);
    // Chunk header, struct header, 16-byte header: the triangle follows.
    const uint8_t expected[8] = {2, 0, 1, 0, 4, 0, 3, 0};
    EXPECT_EQ(memcmp(bytes.data() + 40, expected, 8), 0);
    EXPECT_EQ(bytes.size(), 12u + Geometry_StreamGetSize(g));
    Geometry_Destroy(g);

    // Triangles without vertices store nothing that bounds their count: a
    // 104-byte chunk could ask for any number of them.
    Geometry* empty = Geometry_Create(0, 7, GEOMETRY_PRELIT | GEOMETRY_TEXTURED);
    Bytes none = Write(empty);
    EXPECT_EQ(U32(none, 16), 16u + 24u);
    PutU32(none, 28, 40000000);
    const long before = Live();
    TakeError();
    EXPECT_EQ(Read(none), nullptr);
    EXPECT_EQ(TakeError(), (int32_t)WORLD_ERR_BAD_DATA);
    EXPECT_EQ(Live(), before);
    Geometry_Destroy(empty);
    Material_Destroy(m);
}

TEST_F(GeometryTest, RichGeometryRoundTripsByteForByte)
{
    Material* a = MakeMaterial(200, 100, 50, 255);
    Material* b = MakeMaterial(1, 2, 3, 4);
    Geometry* g = MakeRich(a, b);
    Bytes bytes = Write(g);
    const long before = Live();
    Geometry* back = Read(bytes);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->numMorphTargets, 2);
    EXPECT_EQ(back->numTexCoordSets, 2);
    EXPECT_EQ(back->matList.count, 2);
    EXPECT_EQ(back->morphTarget[1].verts[3].y, 3.0f);
    EXPECT_EQ(back->triangles[3].matIndex, 1);
    EXPECT_EQ(Write(back), bytes);
    Geometry_Destroy(back);
    EXPECT_EQ(Live(), before);
    Geometry_Destroy(g);
    Material_Destroy(a);
    Material_Destroy(b);
}

TEST_F(GeometryTest, OldStructWithSurfacePropertiesReadsWithAWarningAndRestoresTheDefault)
{
    Material* a = MakeMaterial();
    Geometry* g = MakeGrid(1, 1.0f, GEOMETRY_POSITIONS, a);
    Bytes bytes = Write(g);
    // Version 0x33000 on the struct and the material list; 12 bytes of
    // surface properties after the 16-byte header.
    const uint32_t old = Stream_EncodeStamp(0x33000, 0xFFFF);
    PutU32(bytes, 20, old);
    Bytes surface(12);
    const float props[3] = {0.25f, 0.5f, 0.75f};
    memcpy(surface.data(), props, 12);
    bytes.insert(bytes.begin() + 40, surface.begin(), surface.end());
    PutU32(bytes, 16, U32(bytes, 16) + 12);
    PutU32(bytes, 4, U32(bytes, 4) + 12);
    const size_t list = 24 + U32(bytes, 16);
    ASSERT_EQ(U32(bytes, list), (uint32_t)CHUNK_MATERIAL_LIST);
    PutU32(bytes, list + 8, old);
    TakeError();
    Geometry* back = Read(bytes);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->numVertices, 4);
    EXPECT_EQ(back->morphTarget[0].verts[3].x, g->morphTarget[0].verts[3].x);
    EXPECT_EQ(TakeError(), (int32_t)ERR_BAD_VERSION);
    EXPECT_EQ(Material_GetDefaultSurfaceProperties()[1], 1.0f);
    Geometry_Destroy(back);
    Geometry_Destroy(g);
    Material_Destroy(a);
}

TEST_F(GeometryTest, LockingTrianglesRebuildsTheMeshHeaderOthersKeepIt)
{
    Material* a = MakeMaterial();
    Geometry* g = MakeGrid(2, 1.0f, GEOMETRY_POSITIONS, a);
    MeshHeader* header = g->mesh;
    Geometry_Lock(g, GEOMETRY_LOCK_VERTICES);
    EXPECT_EQ(g->mesh, header);
    EXPECT_EQ(g->lockedSinceLastInst, GEOMETRY_LOCK_VERTICES);
    const uint16_t serial = header->serialNumber;
    Geometry_Lock(g, GEOMETRY_LOCK_POLYGONS);
    EXPECT_EQ(g->mesh, nullptr);
    ASSERT_NE(Geometry_Unlock(g), nullptr);
    EXPECT_NE(g->mesh->serialNumber, serial);
    EXPECT_EQ(Geometry_Condition(g, 0.01f), g);
    Geometry_Destroy(g);
    Material_Destroy(a);
}

TEST_F(GeometryTest, SortingVerticesByMaterialSplitsSharedVerticesAndCopiesExtensions)
{
    Material* low = MakeMaterial();
    Material* high = MakeMaterial(9, 9, 9);
    Geometry* g = MakeGrid(1, 1.0f, GEOMETRY_POSITIONS | GEOMETRY_PRELIT, low);
    Geometry_SetTriangleMaterial(g, &g->triangles[0], high);  // index 1
    Owned(g) = (int*)Engine_Malloc(sizeof(int));
    *Owned(g) = 42;
    Geometry* sorted = Geometry_SortVerticesByMaterial(g, nullptr);
    ASSERT_NE(sorted, nullptr);
    EXPECT_EQ(sorted->numVertices, 6);
    EXPECT_EQ(g->numVertices, 4);
    // The lower material's vertices come first; triangles keep their order.
    EXPECT_EQ(sorted->triangles[1].matIndex, 0);
    for (uint16_t v : sorted->triangles[1].vertIndex) EXPECT_LT(v, 3);
    for (uint16_t v : sorted->triangles[0].vertIndex) EXPECT_GE(v, 3);
    for (int k = 0; k < 3; k++) {
        const Vec3& a = g->morphTarget[0].verts[g->triangles[0].vertIndex[k]];
        const Vec3& b = sorted->morphTarget[0].verts[sorted->triangles[0].vertIndex[k]];
        EXPECT_EQ(a.x, b.x);
        EXPECT_EQ(a.y, b.y);
    }
    ASSERT_NE(Owned(sorted), nullptr);
    EXPECT_NE(Owned(sorted), Owned(g));
    EXPECT_EQ(*Owned(sorted), 42);
    EXPECT_EQ(low->refCount, 3);
    Geometry_Destroy(sorted);
    Geometry_Destroy(g);
    Material_Destroy(low);
    Material_Destroy(high);
}

TEST_F(GeometryTest, MalformedChunksAreRefusedWithNothingLeft)
{
    Material* a = MakeMaterial();
    Geometry* g = MakeGrid(1, 1.0f, GEOMETRY_POSITIONS | GEOMETRY_TEXTURED, a);
    const Bytes good = Write(g);
    // Layout: struct payload at 24: header 16, uv 32, triangles 16, target 24 + 48.
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
    } cases[] = {
        {"nine texture sets", 24, 0x00090004 | GEOMETRY_POSITIONS},
        {"vertex index past the vertices", 72, 9u << 16},
        {"material index past the list", 76, 3},
        {"material index below -1", 76, 0xFFFE},
        {"normals without the normals flag", 108, 1},
        {"triangle count beyond the struct", 28, 100000},
        {"vertex count beyond the struct", 32, 60000},
        {"no morph target", 36, 0},
        {"morph targets whose positions the struct cannot hold", 36, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = good;
        PutU32(bytes, c.at, (U32(bytes, c.at) & (c.at == 72 || c.at == 76 ? 0xFFFF0000u : 0)) | c.value);
        if (c.at == 76) PutU32(bytes, 76, (U32(good, 76) & 0xFFFF0000u) | c.value);
        const long before = Live();
        TakeError();
        EXPECT_EQ(Read(bytes), nullptr);
        EXPECT_EQ(Live(), before);
        EXPECT_NE(TakeError(), (int32_t)ERR_NO_ERROR);
    }
    EXPECT_EQ(a->refCount, 2);
    Geometry_Destroy(g);
    Material_Destroy(a);
}

}  // namespace
