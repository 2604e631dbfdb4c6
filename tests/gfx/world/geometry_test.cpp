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
};

TEST_F(GeometryTest, CreationFlagsGiveTheTextureSetCountAndStoredFlagsWithinTheLimits)
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
}

TEST_F(GeometryTest, GeometryRoundTripsByteForByteWithTrianglesStoredAsSwappedWords)
{
    Geometry* g = Geometry_Create(5, 1, GEOMETRY_POSITIONS);
    for (int i = 0; i < 5; i++) MaterialList_AppendMaterial(&g->matList, white);
    g->triangles[0] = Triangle{{1, 2, 3}, 4};
    Geometry_Unlock(g);
    Bytes bytes = WriteGeometry(g);
    // Chunk header, struct header, 16-byte header: the triangle follows.
    const uint8_t expected[8] = {2, 0, 1, 0, 4, 0, 3, 0};
    EXPECT_EQ(memcmp(bytes.data() + 40, expected, 8), 0);
    EXPECT_EQ(bytes.size(), 12u + Geometry_StreamGetSize(g));
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
    EXPECT_EQ(back->numMorphTargets, 2);
    EXPECT_EQ(back->morphTarget[1].verts[3].y, 3.0f);
    EXPECT_EQ(back->triangles[3].matIndex, 1);
    EXPECT_EQ(WriteGeometry(back), bytes);
    Geometry_Destroy(back);
    EXPECT_EQ(Live(), before);
}

TEST_F(GeometryTest, MalformedChunksAreRefusedWithNothingLeft)
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
}

TEST_F(GeometryTest, OldStructWithSurfacePropertiesReadsWithAWarningAndRestoresTheDefault)
{
    Geometry* g = Own(MakeGrid(1, 1.0f, GEOMETRY_POSITIONS, white));
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
    Material* low = white;
    Material* high = Own(MakeMaterial(9, 9, 9));
    Geometry* g = Own(MakeGrid(1, 1.0f, GEOMETRY_POSITIONS | GEOMETRY_PRELIT, low));
    MeshHeader* header = g->mesh;
    Geometry_Lock(g, GEOMETRY_LOCK_VERTICES);
    EXPECT_EQ(g->mesh, header);
    EXPECT_EQ(g->lockedSinceLastInst, GEOMETRY_LOCK_VERTICES);
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
}

}  // namespace
