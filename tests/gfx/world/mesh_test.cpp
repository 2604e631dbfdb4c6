#include <array>
#include <chrono>
#include <map>

#include "tests/gfx/layer_fixture.h"

using namespace gfxtest;

namespace {

using Tri = std::array<uint16_t, 3>;

// A triangle rotated so that its smallest index comes first (same winding).
Tri Canonical(Tri t)
{
    while (t[0] > t[1] || t[0] > t[2]) t = {t[1], t[2], t[0]};
    return t;
}

// The triangles a strip draws, degenerate ones skipped, odd ones flipped.
std::multiset<Tri> DecodeStrip(const uint16_t* s, uint32_t n)
{
    std::multiset<Tri> out;
    for (uint32_t i = 0; i + 2 < n; i++)
        if (s[i] != s[i + 1] && s[i + 1] != s[i + 2] && s[i] != s[i + 2])
            out.insert(Canonical(i % 2 ? Tri{s[i + 1], s[i], s[i + 2]} : Tri{s[i], s[i + 1], s[i + 2]}));
    return out;
}

using MeshTest = WorldTest;

TEST_F(MeshTest, OpaqueMeshesComeBeforeTranslucentOnesAndKeysOrderTheRest)
{
    Material *opaqueA = white, *opaqueB = Own(MakeMaterial(0, 255, 0)), *glass = Own(MakeMaterial(255, 255, 255, 128));
    BuildMesh* build = BuildMesh_Create(3);
    // Pipeline keys put B before A; the translucent one comes first in the input.
    BuildMesh_AddTriangle(build, glass, 0, 1, 2, 2, 0, 0, 0);
    BuildMesh_AddTriangle(build, opaqueA, 3, 4, 5, 0, 0, 0, 1);
    BuildMesh_AddTriangle(build, opaqueB, 6, 7, 8, 1, 0, 0, 0);
    MeshHeader* header = Mesh_BuildFromTriangles(build, 0);
    ASSERT_NE(header, nullptr);
    ASSERT_EQ(header->numMeshes, 3);
    const Mesh* meshes = MeshHeader_Meshes(header);
    EXPECT_EQ(std::tuple(meshes[0].material, meshes[1].material, meshes[2].material, header->totalIndicesInMesh),
              std::tuple(opaqueB, opaqueA, glass, 9u));
    MeshHeader_Destroy(header);
    // Without triangles or materials a geometry shares the empty header.
    for (Geometry* g : {Geometry_Create(3, 0, GEOMETRY_POSITIONS), Geometry_Create(3, 1, GEOMETRY_POSITIONS)}) {
        ASSERT_NE(Geometry_Unlock(g), nullptr);
        EXPECT_EQ(g->mesh, MeshHeader_Empty());
        Geometry_Destroy(g);
    }
}

TEST_F(MeshTest, SpreadAndJoinKeepTrianglesAndParityAndBuildAroundOneVertexAtOnce)
{
    uint16_t indices[] = {0, 1, 2, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(MeshOp_SpreadTriangles(indices, 3), 1);  // the one sharing no vertex moves forward
    const uint16_t spread[] = {0, 1, 2, 5, 6, 7, 2, 3, 4};
    EXPECT_TRUE(std::equal(indices, indices + 9, spread));
    const struct {
        std::vector<uint16_t> a, b, joined;
    } joins[] = {{{0, 1, 2, 3}, {3, 4, 5}, {0, 1, 2, 3, 3, 4, 5}}, {{0, 1, 2}, {3, 4, 5}, {0, 1, 2, 2, 3, 3, 3, 4, 5}}};
    for (auto c : joins) {
        MeshStrip second = {c.b.data(), (uint32_t)c.b.size(), (uint32_t)c.b.size(), nullptr};
        MeshStrip first = {c.a.data(), (uint32_t)c.a.size(), (uint32_t)c.a.size(), &second}, out;
        ASSERT_EQ(MeshOp_JoinStrips(&first, 1, &out), 1);
        EXPECT_EQ(std::vector<uint16_t>(out.indices, out.indices + out.numIndices), c.joined);
        Engine_Free(out.indices);
    }
    // 100,000 triangles around vertex 0: a pass per triangle would take many seconds.
    const int32_t n = 100000;
    BuildMesh* build = BuildMesh_Create(n);
    for (int32_t i = 0; i < n; i++)
        BuildMesh_AddTriangle(build, white, 0, (uint16_t)(1 + i % 60000), (uint16_t)(2 + i % 60000), 0, 0, 0, 0);
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
}

// Strips of the triangles (material i % numMaterials) decode to exactly them; the total length.
uint32_t CheckStrips(const std::vector<Tri>& tris, Material** materials, int numMaterials, int32_t tryAll)
{
    BuildMesh* build = BuildMesh_Create((int32_t)tris.size());
    std::map<Material*, std::multiset<Tri>> expected, decoded;
    for (size_t i = 0; i < tris.size(); i++) {
        Material* m = materials[i % numMaterials];
        BuildMesh_AddTriangle(build, m, tris[i][0], tris[i][1], tris[i][2], (uint16_t)(i % numMaterials), 0, 0, 0);
        expected[m].insert(Canonical(tris[i]));
    }
    MeshHeader* header = MeshOp_BuildStrips(build, tryAll, 1);
    BuildMesh_Destroy(build);
    EXPECT_NE(header, nullptr);
    if (!header) return 0;
    EXPECT_EQ(header->flags, (uint32_t)MESH_TRIANGLE_STRIP);
    uint32_t total = 0;
    for (uint16_t m = 0; m < header->numMeshes; m++) {
        const Mesh& mesh = MeshHeader_Meshes(header)[m];
        decoded[mesh.material].merge(DecodeStrip(mesh.indices, mesh.numIndices));
        total += mesh.numIndices;
    }
    EXPECT_EQ(std::tuple(total, decoded), std::tuple(header->totalIndicesInMesh, expected));
    MeshHeader_Destroy(header);
    return total;
}

TEST_F(MeshTest, StripsDecodeToExactlyTheInputTrianglesOnRandomAndGridMeshes)
{
    Material* materials[2] = {white, Own(MakeMaterial(1, 2, 3))};
    std::mt19937 random(1234);
    for (int round = 0; round < 60; round++) {
        SCOPED_TRACE(round);
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
        std::vector<Tri> grid;
        for (int y = 0; y < n; y++)
            for (int x = 0; x < n; x++) {
                const uint16_t a = (uint16_t)(y * (n + 1) + x), b = (uint16_t)(a + 1), c = (uint16_t)(a + n + 1);
                grid.push_back({a, c, b});
                grid.push_back({b, c, (uint16_t)(c + 1)});
            }
        for (int32_t tryAll : {0, 1}) {
            const uint32_t length = CheckStrips(grid, materials, 1, tryAll);
            if (n > 1) {
                EXPECT_LT(length, 3 * grid.size());  // shorter than the list on a connected grid
            }
        }
    }
}

TEST_F(MeshTest, BinaryMeshRoundTripsAndRefusesContradictoryCounts)
{
    Geometry* g = Own(MakeGrid(3, 2.0f, GEOMETRY_POSITIONS | GEOMETRY_TRISTRIP, white));
    auto read = [&](Bytes& bytes, int32_t native) {
        Stream* r = OpenRead(bytes);
        MeshHeader* h = MeshHeader_StreamRead(r, (int32_t)bytes.size(), native, &g->matList, g->numVertices);
        Stream_Close(r, nullptr);
        return h;
    };
    Bytes good;
    for (int32_t native : {1, 0}) {
        SCOPED_TRACE(native);
        Stream* s = OpenWrite();
        ASSERT_NE(MeshHeader_StreamWrite(g->mesh, native, s, &g->matList), nullptr);
        good = CloseWrite(s);
        EXPECT_EQ(MeshHeader_StreamGetSize(g->mesh, native), (int32_t)good.size());
        EXPECT_EQ(good.size(), 12 + 8 * g->mesh->numMeshes + (native ? 0 : 4 * g->mesh->totalIndicesInMesh));
        MeshHeader* back = read(good, native);
        ASSERT_NE(back, nullptr);
        EXPECT_NE(back->serialNumber, g->mesh->serialNumber);
        EXPECT_EQ(std::tuple(back->numMeshes, MeshHeader_Meshes(back)[0].material),
                  std::tuple(g->mesh->numMeshes, white));
        const uint16_t* indices = MeshHeader_Meshes(back)[0].indices;
        if (!native) {
            EXPECT_TRUE(std::equal(indices, indices + back->totalIndicesInMesh, MeshHeader_Meshes(g->mesh)[0].indices));
        }
        MeshHeader_Destroy(back);
    }
    ExpectRefused(good,
                  {{"mesh counts above the total", 8, 1, WORLD_ERR_BAD_DATA},
                   {"material outside the list", 16, 1, WORLD_ERR_BAD_DATA},
                   {"index past the vertices", 20, 16, WORLD_ERR_BAD_DATA},
                   {"unknown primitive kind", 0, 3, WORLD_ERR_BAD_DATA},
                   {"mesh count beyond the chunk", 4, 2, WORLD_ERR_BAD_DATA},
                   {"unindexed runs past the vertices", 0, MESH_TRIANGLE_STRIP | MESH_UNINDEXED, WORLD_ERR_BAD_DATA}},
                  [&](Bytes& b) { return read(b, 0); });
}

}  // namespace
