#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <random>

#include "tests/gfx/world/world_fixture.h"

using namespace worldtest;

namespace {

using Tri = std::array<uint16_t, 3>;

// A triangle rotated so that its smallest index comes first (same winding).
Tri Canonical(Tri t)
{
    while (t[0] > t[1] || t[0] > t[2]) t = {t[1], t[2], t[0]};
    return t;
}

// The triangles a strip draws, degenerate ones skipped, odd ones flipped.
std::vector<Tri> DecodeStrip(const uint16_t* s, uint32_t n)
{
    std::vector<Tri> out;
    for (uint32_t i = 0; i + 2 < n; i++) {
        const uint16_t a = s[i], b = s[i + 1], c = s[i + 2];
        if (a == b || b == c || a == c) continue;
        out.push_back(Canonical(i % 2 ? Tri{b, a, c} : Tri{a, b, c}));
    }
    return out;
}

std::multiset<Tri> AsSet(const std::vector<Tri>& v) { return std::multiset<Tri>(v.begin(), v.end()); }

class MeshTest : public WorldTest {};

TEST_F(MeshTest, OpaqueMeshesComeBeforeTranslucentOnesAndKeysOrderTheRest)
{
    Material* opaqueA = MakeMaterial();
    Material* opaqueB = MakeMaterial(0, 255, 0);
    Material* glass = MakeMaterial(255, 255, 255, 128);
    BuildMesh* build = BuildMesh_Create(3);
    // Pipeline keys put B before A; the translucent one comes first in the input.
    BuildMesh_AddTriangle(build, glass, 0, 1, 2, 2, 0, 0, 0);
    BuildMesh_AddTriangle(build, opaqueA, 3, 4, 5, 0, 0, 0, 1);
    BuildMesh_AddTriangle(build, opaqueB, 6, 7, 8, 1, 0, 0, 0);
    MeshHeader* header = Mesh_BuildFromTriangles(build, 0);
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(header->numMeshes, 3);
    const Mesh* meshes = MeshHeader_Meshes(header);
    EXPECT_EQ(meshes[0].material, opaqueB);
    EXPECT_EQ(meshes[1].material, opaqueA);
    EXPECT_EQ(meshes[2].material, glass);
    EXPECT_EQ(header->totalIndicesInMesh, 9u);
    MeshHeader_Destroy(header);
    for (Material* m : {opaqueA, opaqueB, glass}) Material_Destroy(m);
}

TEST_F(MeshTest, SpreadMovesTrianglesSharingNoVertexForwardAndBuildsAroundOneVertexAtOnce)
{
    uint16_t indices[] = {0, 1, 2, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(MeshOp_SpreadTriangles(indices, 3), 1);
    const uint16_t expected[] = {0, 1, 2, 5, 6, 7, 2, 3, 4};
    EXPECT_TRUE(std::equal(indices, indices + 9, expected));
    // 100,000 triangles around vertex 0 (a fan wound twice round): a spread
    // pass or a strip join per triangle would take many seconds.
    Material* m = MakeMaterial();
    const int32_t n = 100000;
    BuildMesh* build = BuildMesh_Create(n);
    for (int32_t i = 0; i < n; i++)
        BuildMesh_AddTriangle(build, m, 0, (uint16_t)(1 + i % 60000), (uint16_t)(2 + i % 60000), 0, 0, 0, 0);
    const auto start = std::chrono::steady_clock::now();
    for (int32_t strips : {0, 1}) {
        MeshHeader* header = strips ? MeshOp_BuildStrips(build, 0, 1) : MeshOp_BuildTriList(build, nullptr);
        ASSERT_NE(header, nullptr);
        const Mesh& mesh = MeshHeader_Meshes(header)[0];
        EXPECT_EQ(strips ? DecodeStrip(mesh.indices, mesh.numIndices).size() : mesh.numIndices / 3, (size_t)n);
        MeshHeader_Destroy(header);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    BuildMesh_Destroy(build);
    Material_Destroy(m);
}

TEST_F(MeshTest, JoinedStripsKeepTheirParity)
{
    struct Case {
        std::vector<uint16_t> a, b, joined;
    } cases[] = {
        {{0, 1, 2, 3}, {3, 4, 5}, {0, 1, 2, 3, 3, 4, 5}},
        {{0, 1, 2}, {3, 4, 5}, {0, 1, 2, 2, 3, 3, 3, 4, 5}},
    };
    for (Case& c : cases) {
        MeshStrip second = {c.b.data(), (uint32_t)c.b.size(), (uint32_t)c.b.size(), nullptr};
        MeshStrip first = {c.a.data(), (uint32_t)c.a.size(), (uint32_t)c.a.size(), &second};
        MeshStrip out;
        ASSERT_EQ(MeshOp_JoinStrips(&first, 1, &out), 1);
        EXPECT_EQ(std::vector<uint16_t>(out.indices, out.indices + out.numIndices), c.joined);
        Engine_Free(out.indices);
    }
}

// Builds strips of the triangles (one material per entry of `materials`,
// chosen by triangle index) and checks that every mesh decodes to exactly its
// input triangles with their winding. Returns the total strip length.
uint32_t CheckStrips(const std::vector<Tri>& tris, Material** materials, int numMaterials, int32_t tryAll)
{
    BuildMesh* build = BuildMesh_Create((int32_t)tris.size());
    std::map<Material*, std::vector<Tri>> expected;
    for (size_t i = 0; i < tris.size(); i++) {
        Material* m = materials[i % numMaterials];
        BuildMesh_AddTriangle(build, m, tris[i][0], tris[i][1], tris[i][2], (uint16_t)(i % numMaterials), 0, 0, 0);
        expected[m].push_back(Canonical(tris[i]));
    }
    MeshHeader* header = MeshOp_BuildStrips(build, tryAll, 1);
    BuildMesh_Destroy(build);
    EXPECT_NE(header, nullptr);
    if (!header) return 0;
    EXPECT_EQ(header->flags, (uint32_t)MESH_TRIANGLE_STRIP);
    uint32_t total = 0;
    std::map<Material*, std::vector<Tri>> decoded;
    const Mesh* meshes = MeshHeader_Meshes(header);
    for (uint16_t m = 0; m < header->numMeshes; m++) {
        std::vector<Tri> d = DecodeStrip(meshes[m].indices, meshes[m].numIndices);
        decoded[meshes[m].material].insert(decoded[meshes[m].material].end(), d.begin(), d.end());
        total += meshes[m].numIndices;
    }
    EXPECT_EQ(total, header->totalIndicesInMesh);
    for (auto& [material, list] : expected) EXPECT_EQ(AsSet(decoded[material]), AsSet(list));
    MeshHeader_Destroy(header);
    return total;
}

std::vector<Tri> Grid(int n)
{
    std::vector<Tri> out;
    const int side = n + 1;
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            const uint16_t a = (uint16_t)(y * side + x), b = (uint16_t)(a + 1), c = (uint16_t)(a + side),
                           d = (uint16_t)(c + 1);
            out.push_back({a, c, b});
            out.push_back({b, c, d});
        }
    return out;
}

TEST_F(MeshTest, StripsDecodeToExactlyTheInputTrianglesOnRandomAndGridMeshes)
{
    Material* materials[2] = {MakeMaterial(), MakeMaterial(1, 2, 3)};
    std::mt19937 random(1234);
    for (int round = 0; round < 60; round++) {
        SCOPED_TRACE(round);
        // Random triangles over few vertices share many edges in both windings.
        const int vertices = 4 + (int)(random() % 12), count = 1 + (int)(random() % 40);
        std::vector<Tri> tris;
        while ((int)tris.size() < count) {
            Tri t = {(uint16_t)(random() % vertices), (uint16_t)(random() % vertices), (uint16_t)(random() % vertices)};
            if (t[0] != t[1] && t[1] != t[2] && t[0] != t[2]) tris.push_back(t);
        }
        CheckStrips(tris, materials, 1 + round % 2, round % 3 == 0);
    }
    for (int n : {1, 2, 5, 16}) {
        SCOPED_TRACE(n);
        const std::vector<Tri> grid = Grid(n);
        for (int32_t tryAll : {0, 1}) {
            const uint32_t length = CheckStrips(grid, materials, 1, tryAll);
            if (n > 1) {
                EXPECT_LT(length, 3 * grid.size());  // shorter than the list on a connected grid
            }
        }
    }
    for (Material* m : materials) Material_Destroy(m);
}

TEST_F(MeshTest, BinaryMeshRoundTripsAndRefusesContradictoryCounts)
{
    Material* m = MakeMaterial();
    Geometry* g = MakeGrid(3, 2.0f, GEOMETRY_POSITIONS | GEOMETRY_TRISTRIP, m);
    for (int32_t native : {0, 1}) {
        SCOPED_TRACE(native);
        Stream* s = OpenWrite();
        ASSERT_NE(MeshHeader_StreamWrite(g->mesh, native, s, &g->matList), nullptr);
        Bytes bytes = CloseWrite(s);
        const int32_t size = MeshHeader_StreamGetSize(g->mesh, native);
        ASSERT_EQ((size_t)size, bytes.size());
        EXPECT_EQ(size, 12 + 8 * g->mesh->numMeshes + (native ? 0 : 4 * (int32_t)g->mesh->totalIndicesInMesh));
        Stream* r = OpenRead(bytes);
        MeshHeader* read = MeshHeader_StreamRead(r, size, native, &g->matList, g->numVertices);
        Stream_Close(r, nullptr);
        ASSERT_NE(read, nullptr);
        EXPECT_NE(read->serialNumber, g->mesh->serialNumber);
        EXPECT_EQ(read->numMeshes, g->mesh->numMeshes);
        EXPECT_EQ(MeshHeader_Meshes(read)[0].material, m);
        if (!native) {
            EXPECT_TRUE(std::equal(MeshHeader_Meshes(read)[0].indices,
                                   MeshHeader_Meshes(read)[0].indices + read->totalIndicesInMesh,
                                   MeshHeader_Meshes(g->mesh)[0].indices));
        }
        MeshHeader_Destroy(read);
    }
    Stream* s = OpenWrite();
    MeshHeader_StreamWrite(g->mesh, 0, s, &g->matList);
    const Bytes good = CloseWrite(s);
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
    } cases[] = {
        {"mesh counts above the total", 8, 1}, {"material outside the list", 16, 1},
        {"index past the vertices", 20, 16},   {"unknown primitive kind", 0, 3},
        {"mesh count beyond the chunk", 4, 2},
        {"unindexed runs past the vertices", 0, MESH_TRIANGLE_STRIP | MESH_UNINDEXED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = good;
        PutU32(bytes, c.at, c.value);
        const long before = Live();
        Stream* r = OpenRead(bytes);
        EXPECT_EQ(MeshHeader_StreamRead(r, (int32_t)bytes.size(), 0, &g->matList, g->numVertices), nullptr);
        Stream_Close(r, nullptr);
        EXPECT_EQ(Live(), before);
    }
    Geometry_Destroy(g);
    Material_Destroy(m);
}

TEST_F(MeshTest, GeometryWithoutTrianglesOrMaterialsSharesTheEmptyHeader)
{
    Geometry* empty = Geometry_Create(3, 0, GEOMETRY_POSITIONS);
    Geometry* noMaterials = Geometry_Create(3, 1, GEOMETRY_POSITIONS);
    for (Geometry* g : {empty, noMaterials}) {
        ASSERT_NE(Geometry_Unlock(g), nullptr);
        EXPECT_EQ(g->mesh, MeshHeader_Empty());
    }
    const long before = Live();
    Geometry_Destroy(empty);
    Geometry_Destroy(noMaterials);
    EXPECT_EQ(Live(), before - 4);  // each: record and morph targets only
}

}  // namespace
