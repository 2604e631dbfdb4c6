#include "gfx/plugin/collision/collision.h"

#include <random>
#include <set>
#include <tuple>

#include "gfx/plugin/collision/collisionbsp.h"
#include "gfx/plugin/collision/intersect.h"
#include "tests/gfx/plugin/collision/collision_shapes.h"
#include "tests/gfx/plugin/plugin_fixture.h"

using namespace plugintest;

namespace {

struct Hit {
    int32_t index;
    float distance;
    Vec3 normal;
};
struct Hits {
    std::vector<Hit> list;
    int32_t stopAfter = -1;
    std::set<int32_t> Indices() const
    {
        std::set<int32_t> out;
        for (const Hit& h : list) out.insert(h.index);
        return out;
    }
};

class CollisionTest : public PluginTest {
protected:
    static GeomCollisionQuery Line(Vec3 a, Vec3 b)
    {
        GeomCollisionQuery q = {};
        q.type = GEOMCOLLISION_LINE, q.line = CollisionLine{a, b};
        return q;
    }
    static GeomCollisionQuery Ball(Vec3 c, float r)
    {
        GeomCollisionQuery q = {};
        q.type = GEOMCOLLISION_SPHERE, q.sphere = Sphere{c, r};
        return q;
    }
    static Atomic* Query(Atomic* a, const GeomCollisionQuery& q, Hits* h)
    {
        return GeomCollision_ForAllGeometryIntersections(
            a, &q,
            [](const GeomCollisionQuery*, const GeomCollisionTriangle* t, float distance, void* data) -> int32_t {
                Hits* hits = (Hits*)data;
                hits->list.push_back(Hit{t->index, distance, t->normal});
                return hits->stopAfter < 0 || (int32_t)hits->list.size() < hits->stopAfter;
            },
            h);
    }
    static Hits Query(Atomic* a, const GeomCollisionQuery& q)
    {
        Hits h;
        EXPECT_EQ(Query(a, q, &h), a);
        return h;
    }
    // A 2 x 2 quad facing +z at z = 0 (two triangles sharing the diagonal),
    // with or without its tree, held by an owned atomic on frame.
    Atomic* Quad(bool tree = true, Frame* frame = nullptr)
    {
        Geometry* g = Own(MakeGrid(1, 2.0f, GEOMETRY_POSITIONS, white));
        for (int32_t i = 0; i < g->numTriangles; i++)
            std::swap(g->triangles[i].vertIndex[1], g->triangles[i].vertIndex[2]);
        EXPECT_TRUE(!tree || GeomCollision_BuildGeometryData(g) == g);
        return Own(MakeAtomic(g, frame));
    }
    Atomic* Soup(const collisionshapes::Soup& soup, bool tree)
    {
        Geometry* g = Own(collisionshapes::ToGeometry(soup, white));
        EXPECT_TRUE(!tree || GeomCollision_BuildGeometryData(g));
        return Own(MakeAtomic(g, Own(worldshapes::FrameAt(3, -2, 7))));
    }
};

TEST_F(CollisionTest, AMorphingGeometryIsQueriedAtTheAtomicsBlend)
{
    Atomic* a = Quad();
    Geometry* g = a->geometry;
    Geometry_AddMorphTarget(g);
    for (int32_t v = 0; v < g->numVertices; v++) {
        g->morphTarget[1].verts[v] = g->morphTarget[0].verts[v];
        g->morphTarget[1].verts[v].z -= 2;
    }
    Atomic_SetMorphBlend(a, 0, 1, 0.5f, 1.0f);
    const Hits h = Query(a, Line({0.5f, -0.2f, 3}, {0.5f, -0.2f, -5}));
    ASSERT_EQ(h.list.size(), 1u);
    EXPECT_NEAR(h.list[0].distance, 0.5f, 1e-5f);  // z = -1, halfway between 3 and -5
}

TEST_F(CollisionTest, TheTreeFindsExactlyWhatTestingEveryTriangleFinds)
{
    const collisionshapes::Soup soup = collisionshapes::RandomSoup(500, 42);
    Atomic* withTree = Soup(soup, true);
    Atomic* everyTriangle = Soup(soup, false);
    ASSERT_EQ(GeomCollision_GetGeometryData(everyTriangle->geometry), nullptr);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> inside(-9, 9), dir(-1, 1), radius(0.2f, 3);
    int lines = 0, spheres = 0;
    for (int i = 0; i < 300; i++) {
        // Lines run from far outside the mesh to far outside it, so that no
        // hit sits at a segment end's tolerance band.
        const Vec3 c = {3 + inside(rng), -2 + inside(rng), 7 + inside(rng)};
        Vec3 d = {dir(rng), dir(rng), dir(rng)};
        Vec3_Normalise(&d);
        const GeomCollisionQuery line =
            Line({c.x - 40 * d.x, c.y - 40 * d.y, c.z - 40 * d.z}, {c.x + 40 * d.x, c.y + 40 * d.y, c.z + 40 * d.z});
        const GeomCollisionQuery sphere = Ball(c, radius(rng));
        for (const auto& [q, found] : {std::pair{line, &lines}, std::pair{sphere, &spheres}}) {
            const std::set<int32_t> a = Query(withTree, q).Indices();
            EXPECT_EQ(a, Query(everyTriangle, q).Indices()) << i;
            *found += !a.empty();
        }
    }
    EXPECT_TRUE(lines > 50 && spheres > 50) << lines << " " << spheres;  // the comparison saw hits, not only misses
    // More triangles than the map can name: no data, every triangle tested.
    Geometry* g = Own(MakeGrid(1, 2.0f, GEOMETRY_POSITIONS, white));
    g->numTriangles = 65536;  // as far as the builder can tell
    EXPECT_EQ(std::tuple(GeomCollision_BuildGeometryData(g), GeomCollision_GetGeometryData(g)),
              std::tuple(nullptr, nullptr));
    g->numTriangles = 2;
    EXPECT_EQ(Query(Own(MakeAtomic(g)), Line({0.5f, -0.2f, -1}, {0.5f, -0.2f, 1})).list.size(),
              1u);  // the grid faces -z
}

TEST_F(CollisionTest, QueriesReportBadTypesStopWhenTheCallbackSaysAndTakeAtomicsBoundingSpheres)
{
    Atomic* a = Quad();
    Hits h;
    h.stopAfter = 1;
    const GeomCollisionQuery big = Ball({0, 0, 0}, 5);
    EXPECT_EQ(Query(a, big, &h), a);
    EXPECT_EQ(h.list.size() * 10 + Query(a, big).list.size(), 12u);
    GeomCollisionQuery bad = big;
    bad.type = 2;
    EXPECT_EQ(Query(a, bad, &h), nullptr);
    EXPECT_EQ(TakeErrorOf(), std::pair((int32_t)PLUGIN_COLLISION, (int32_t)COLLISION_ERR_BAD_QUERY));
    GeomCollisionQuery byAtomic = {};
    byAtomic.type = GEOMCOLLISION_ATOMIC;
    EXPECT_EQ(Query(a, byAtomic, &h), nullptr);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_NULL_ARGUMENT);
    byAtomic.atomic =
        Own(MakeAtomic(Own(MakeGrid(1, 0.5f, GEOMETRY_POSITIONS, white)), Own(worldshapes::FrameAt(0.5f, 0.3f, 0.1f))));
    EXPECT_FALSE(Query(a, byAtomic).list.empty());
    // Triangles without vertices, as a stream without vertex data reads
    // back: nothing to hit and nothing read (the sanitizer build watches).
    Atomic* hollow = Own(MakeAtomic(Own(Geometry_Create(0, 8, GEOMETRY_POSITIONS))));
    EXPECT_TRUE(Query(hollow, Line({-5, -4, -3}, {5, 4, 3})).list.empty() && Query(hollow, big).list.empty());
}

// Which step of the sphere-triangle test decides is told by what the outputs
// hold: the normal is written from step 2 on, the distance from step 3 on.
TEST_F(CollisionTest, EachStepOfTheSphereTriangleTestDecidesWhatItShould)
{
    auto touch = [](Vec3 centre, float radius, Vec3 p1 = {4, 0, 0}, Vec3 p2 = {0, 4, 0}) {
        const Sphere s = {centre, radius};
        const Vec3 p0 = {0, 0, 0};
        std::tuple<int32_t, Vec3, float> r = {0, {9, 9, 9}, 99};
        std::get<0>(r) = Intersect_TriangleTest(&s, &p0, &p1, &p2, &std::get<1>(r), &std::get<2>(r));
        return r;
    };
    const struct {
        const char* what;
        Vec3 centre;
        float radius;
        int32_t hit, written;  // 0: neither output, 1: the normal (+z), 2: both
        float distance;
    } cases[] = {
        {"beyond x by more than r: step 1", {7, 1, 0}, 2, 0, 0, 0},
        {"below every coordinate: step 1", {-3, -3, 0}, 2, 0, 0, 0},
        {"centre in the plane inside: step 4 or later", {1, 1, 0}, 0.5f, 1, 2, 0},
        {"a corner inside the sphere: step 4", {4.5f, 0, 0.5f}, 1, 1, 2, 0.5f},
        {"nearest corner's region, outside: step 5", {4.9f, -0.9f, 0}, 1.2f, 0, 2, 0},
        {"past the long edge, missing it: step 6", {2.8f, 2.8f, 0}, 0.6f, 0, 2, 0},
        {"touching the long edge: step 7", {2.2f, 2.2f, 0}, 0.6f, 1, 2, 0},
        {"below the plane, touching: distance negative", {1, 1, -0.5f}, 1, 1, 2, -0.5f},
        {"above the plane: positive", {1, 1, 0.5f}, 1, 1, 2, 0.5f},
    };
    for (const auto& c : cases) {
        const auto [hit, normal, distance] = touch(c.centre, c.radius);
        EXPECT_EQ(hit, c.hit) << c.what;
        EXPECT_EQ(normal.x == 9 ? 0 : distance == 99 ? 1 : 2, c.written) << c.what;
        EXPECT_TRUE(!c.written || std::fabs(normal.z - 1) < 1e-3f) << c.what;
        EXPECT_TRUE(!c.hit || std::fabs(distance - c.distance) < 1e-6f) << c.what;
    }
    // Off a tilted triangle's plane by more than r while every axis overlaps:
    // step 3. A triangle with two equal corners never touches.
    const auto [hit, normal, distance] = touch({3, 1, 0}, 1, {4, 0, 4});
    EXPECT_EQ(std::tuple(hit, std::round(normal.x * 1000), distance), std::tuple(0, -707.0f, 99.0f));
    EXPECT_EQ(std::get<0>(touch({0, 0, 0}, 100, {4, 0, 0}, {4, 0, 0})), 0);
}

TEST_F(CollisionTest, CollisionDataRoundTripsAndMalformedDataFailsTheGeometryOrSector)
{
    const collisionshapes::Soup soup = collisionshapes::RandomSoup(40, 9);
    Geometry* g = Own(collisionshapes::ToGeometry(soup, white));
    const Bytes plain = WriteGeometry(g);
    ASSERT_NE(GeomCollision_BuildGeometryData(g), nullptr);
    const GeomCollisionData* data = GeomCollision_GetGeometryData(g);
    Bytes chunk = WriteGeometry(g);
    const Bytes payload = SubChunk(chunk, PLUGIN_COLLISION);
    const uint32_t n = data->tree->numLeaves, t = data->numTriangles;
    ASSERT_EQ(payload.size(), 20 * n - 8 + 4 * t);
    Geometry* back = Own(ReadGeometry(chunk));
    const GeomCollisionData* read = back ? GeomCollision_GetGeometryData(back) : nullptr;
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->flags, (uint32_t)GEOMCOLLISION_ONE_BLOCK);
    EXPECT_EQ(SubChunk(WriteGeometry(back), PLUGIN_COLLISION), payload);
    EXPECT_EQ(memcmp(read->tree->nodes, data->tree->nodes, sizeof(CollisionBspNode) * (n - 1)) |
                  memcmp(read->triangleMap, data->triangleMap, 2 * t),
              0);
    const size_t leaves = 8 + 16 * (n - 1), map = 8 + 20 * n - 16;
    auto edit = [&](size_t at, uint32_t value) {
        return AppendSubChunk(plain, PLUGIN_COLLISION, Edited(payload, at, value));
    };
    for (const auto& [what, bytes] : std::vector<std::pair<const char*, Bytes>>{
             {"no leaves", edit(0, 0)},
             {"triangle count of another geometry", edit(4, t - 1)},
             {"length that does not fit",
              AppendSubChunk(plain, PLUGIN_COLLISION, Bytes(payload.begin(), payload.end() - 4))},
             {"axis 12", edit(8, (12u << 16) | (U32(payload, 8) & 0xFFFF))},
             {"child kind 3", edit(8, (U32(payload, 8) & 0xFFFF00FF) | 0x300)},
             {"child index out of range", edit(12, 0xFFFF0000u | (U32(payload, 12) & 0xFFFF))},
             {"child before its parent", edit(12, U32(payload, 12) & 0xFFFF)},
             {"leaf run past the triangles", edit(leaves, (3u << 16) | (t - 1))},
             {"map entry past the triangles", edit(map, t)},
             {"negative map entry", edit(map + 4, 0xFFFFFFFFu)}})
        ExpectRefused(bytes, {{what, kKeep, 0, 0}}, ReadGeometry);

    // A chain of nodes deeper than the walkers' stacks, each with one leaf on
    // its left, is refused; one level less reads and finds what testing
    // every triangle finds.
    Geometry* small = Own(collisionshapes::ToGeometry(collisionshapes::RandomSoup(34, 4), white));
    const Bytes flat = WriteGeometry(small);
    auto chain = [&](uint32_t count) {
        Bytes b;
        Words(b, {count, 34});
        for (uint32_t i = 0; i + 1 < count; i++)
            Words(b, {(uint32_t)COLLISION_BSP_LEAF << 8 | (i + 2 == count ? COLLISION_BSP_LEAF : COLLISION_BSP_NODE),
                      i << 16 | (i + 1), FloatBits(1.0f), 0});
        for (uint32_t j = 0; j < count; j++) Words(b, {(j + 1 < count ? 1u : 34u - j) << 16 | j});
        for (uint32_t k = 0; k < 34; k++) Words(b, {k});
        return AppendSubChunk(flat, PLUGIN_COLLISION, b);
    };
    ExpectRefused(chain(34), {{"33 levels of nodes", kKeep, 0, 0}}, ReadGeometry);
    Bytes fits = chain(33);
    Geometry* deep = Own(ReadGeometry(fits));
    ASSERT_NE(deep, nullptr);
    const GeomCollisionQuery through = Line({-100, -100, -100}, {100, 100, 100});
    EXPECT_EQ(Query(Own(MakeAtomic(deep)), through).Indices(), Query(Own(MakeAtomic(small)), through).Indices());

    // Sectors carry streamed data too, written back among their other
    // sub-chunks byte for byte; a bad one leaves the good data.
    const WorldBox box = {{-1, -1, -1}, {1, 1, 1}};
    WorldSector* leaf = WorldSector_CreateLeaf(&box, 3, 1, 0);
    MaterialList list;
    MaterialList_Initialize(&list);
    MaterialList_AppendMaterial(&list, white);
    Own(World_CreateWithTree(&box, leaf, &list, 0));  // owns the leaf and runs its constructors
    MaterialList_Deinitialize(&list);
    Bytes one;
    Words(one, {1, 1, 1u << 16, 0});
    Bytes sector = ExtensionChunk(PLUGIN_COLLISION, one);
    ASSERT_TRUE(ReadExtensions(WorldSector_GetRegistry(), sector, leaf));
    const GeomCollisionData* sectorData = GeomCollision_GetWorldSectorData(leaf);
    ASSERT_TRUE(sectorData && sectorData->tree->numLeaves == 1u);
    const Bytes written = WriteExtensions(WorldSector_GetRegistry(), leaf);
    EXPECT_NE(std::search(written.begin(), written.end(), sector.begin() + 12, sector.end()), written.end());
    PutU32(sector, 28, 2);  // a sector of one triangle
    EXPECT_FALSE(ReadExtensions(WorldSector_GetRegistry(), sector, leaf));
    EXPECT_EQ(GeomCollision_GetWorldSectorData(leaf), sectorData);
    Error_Get(nullptr);
}

TEST_F(CollisionTest, ASquareGridSplitsOnXFirstAndAPositionNotFiniteGetsNoTree)
{
    // A square grid splits equally well on x and y: x comes first.
    Geometry* grid = Own(MakeGrid(4, 4.0f, GEOMETRY_POSITIONS, nullptr));
    std::vector<uint16_t> map((size_t)grid->numTriangles);
    CollisionBsp* tree = CollisionBsp_Build(grid->numVertices, grid->morphTarget[0].verts, grid->numTriangles,
                                            grid->triangles, map.data());
    ASSERT_TRUE(tree->nodes && tree->nodes[0].axis == 0);
    CollisionBsp_Destroy(tree);
    collisionshapes::Soup bad = collisionshapes::RandomSoup(10, 3);
    bad.positions[4].y = NAN;
    EXPECT_EQ(CollisionBsp_Build(30, bad.positions.data(), 10, bad.triangles.data(), map.data()), nullptr);
    EXPECT_EQ(TakeErrorOf().first, (int32_t)PLUGIN_COLLISION);
}

}  // namespace
