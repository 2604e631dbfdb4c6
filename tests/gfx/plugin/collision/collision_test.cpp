#include "gfx/plugin/collision/collision.h"

#include <algorithm>
#include <random>
#include <set>

#include "tests/gfx/plugin/collision/collision_shapes.h"
#include "tests/gfx/plugin/plugin_fixture.h"

using namespace worldtest;

namespace {

class CollisionTest : public PluginTest {
protected:
    Material* material = nullptr;
    std::vector<Atomic*> atomics;
    std::vector<Frame*> frames;
    void SetUp() override
    {
        PluginTest::SetUp();
        material = MakeMaterial();
    }
    void TearDown() override
    {
        for (Atomic* a : atomics) Atomic_Destroy(a);
        for (Frame* f : frames) Frame_Destroy(f);
        Material_Destroy(material);
        PluginTest::TearDown();
    }
    Atomic* Hold(Geometry* g, Frame* frame = nullptr)
    {
        Atomic* a = Atomic_Create();
        Atomic_SetGeometry(a, g, 0);
        Geometry_Destroy(g);
        if (frame) Atomic_SetFrame(a, frame), frames.push_back(frame);
        atomics.push_back(a);
        return a;
    }
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
    static int32_t Collect(const GeomCollisionQuery*, const GeomCollisionTriangle* t, float distance, void* data)
    {
        Hits* h = (Hits*)data;
        h->list.push_back(Hit{t->index, distance, t->normal});
        return h->stopAfter < 0 || (int32_t)h->list.size() < h->stopAfter;
    }
    static GeomCollisionQuery LineQuery(Vec3 a, Vec3 b)
    {
        GeomCollisionQuery q = {};
        q.type = GEOMCOLLISION_LINE;
        q.line = CollisionLine{a, b};
        return q;
    }
    static GeomCollisionQuery SphereQuery(Vec3 c, float r)
    {
        GeomCollisionQuery q = {};
        q.type = GEOMCOLLISION_SPHERE;
        q.sphere = Sphere{c, r};
        return q;
    }
    static Hits Query(Atomic* a, const GeomCollisionQuery& q)
    {
        Hits h;
        EXPECT_EQ(GeomCollision_ForAllGeometryIntersections(a, &q, Collect, &h), a);
        return h;
    }
    // A unit quad facing +z at z = 0 (two triangles sharing the diagonal).
    Geometry* Quad()
    {
        Geometry* g = MakeGrid(1, 2.0f, GEOMETRY_POSITIONS, material);
        // The grid faces -z: turn every triangle round.
        for (int32_t i = 0; i < g->numTriangles; i++)
            std::swap(g->triangles[i].vertIndex[1], g->triangles[i].vertIndex[2]);
        return g;
    }
    static Bytes CollisionPayload(const Geometry* g) { return SubChunk(WriteGeometry(g), PLUGIN_COLLISION); }
};

TEST_F(CollisionTest, ALineHitsFrontFacesOnlyAtTheFractionOfItsWay)
{
    Geometry* g = Quad();
    ASSERT_EQ(GeomCollision_BuildGeometryData(g), g);
    Atomic* a = Hold(g);
    Hits h = Query(a, LineQuery({0.5f, -0.2f, 1}, {0.5f, -0.2f, -1}));
    ASSERT_EQ(h.list.size(), 1u);
    EXPECT_NEAR(h.list[0].distance, 0.5f, 1e-6f);
    EXPECT_NEAR(h.list[0].normal.z, 1, 1e-3f);
    EXPECT_TRUE(Query(a, LineQuery({0.5f, -0.2f, -1}, {0.5f, -0.2f, 1})).list.empty());  // from behind
    h = Query(a, LineQuery({0.5f, -0.2f, 1}, {0.5f, -0.2f, 0}));                         // ends on the quad
    ASSERT_EQ(h.list.size(), 1u);
    EXPECT_NEAR(h.list[0].distance, 1, 1e-6f);
    EXPECT_TRUE(Query(a, LineQuery({0.5f, -0.2f, 1}, {0.5f, -0.2f, 0.01f})).list.empty());
}

TEST_F(CollisionTest, TheTreeFindsExactlyWhatTestingEveryTriangleFinds)
{
    const collisionshapes::Soup soup = collisionshapes::RandomSoup(500, 42);
    Atomic* withTree = Hold(collisionshapes::ToGeometry(soup, material), worldshapes::FrameAt(3, -2, 7));
    Atomic* everyTriangle = Hold(collisionshapes::ToGeometry(soup, material), worldshapes::FrameAt(3, -2, 7));
    ASSERT_NE(GeomCollision_BuildGeometryData(withTree->geometry), nullptr);
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
        const GeomCollisionQuery line = LineQuery({c.x - 40 * d.x, c.y - 40 * d.y, c.z - 40 * d.z},
                                                  {c.x + 40 * d.x, c.y + 40 * d.y, c.z + 40 * d.z});
        const std::set<int32_t> a = Query(withTree, line).Indices(), b = Query(everyTriangle, line).Indices();
        EXPECT_EQ(a, b) << "line " << i;
        lines += !b.empty();
        const GeomCollisionQuery sphere = SphereQuery(c, radius(rng));
        const std::set<int32_t> sa = Query(withTree, sphere).Indices(), sb = Query(everyTriangle, sphere).Indices();
        EXPECT_EQ(sa, sb) << "sphere " << i;
        spheres += !sb.empty();
    }
    EXPECT_GT(lines, 50);  // the comparison saw hits, not only misses
    EXPECT_GT(spheres, 50);
}

TEST_F(CollisionTest, QueriesReportBadTypesAndStopWhenTheCallbackSays)
{
    Geometry* g = Quad();
    GeomCollision_BuildGeometryData(g);
    Atomic* a = Hold(g);
    Hits h;
    h.stopAfter = 1;
    const GeomCollisionQuery big = SphereQuery({0, 0, 0}, 5);
    EXPECT_EQ(GeomCollision_ForAllGeometryIntersections(a, &big, Collect, &h), a);
    EXPECT_EQ(h.list.size(), 1u);
    EXPECT_EQ(Query(a, big).list.size(), 2u);

    GeomCollisionQuery bad = big;
    bad.type = 2;
    EXPECT_EQ(GeomCollision_ForAllGeometryIntersections(a, &bad, Collect, &h), nullptr);
    ErrorRecord e;
    Error_Get(&e);
    EXPECT_EQ(e.pluginId, (int32_t)PLUGIN_COLLISION);
    EXPECT_EQ(e.code, (int32_t)COLLISION_ERR_BAD_QUERY);
    GeomCollisionQuery none = {};
    none.type = GEOMCOLLISION_ATOMIC;
    EXPECT_EQ(GeomCollision_ForAllGeometryIntersections(a, &none, Collect, &h), nullptr);
    Error_Get(&e);
    EXPECT_EQ(e.pluginId, 0);
    EXPECT_EQ(e.code, (int32_t)ERR_NULL_ARGUMENT);

    // Triangles without vertices, as a stream without vertex data reads
    // back: nothing to hit and nothing read (the sanitizer build watches).
    Atomic* hollow = Hold(Geometry_Create(0, 8, GEOMETRY_POSITIONS));
    EXPECT_TRUE(Query(hollow, LineQuery({-5, -4, -3}, {5, 4, 3})).list.empty());
    EXPECT_TRUE(Query(hollow, big).list.empty());

    // Another atomic's bounding sphere, in world space.
    Atomic* ball = Hold(MakeGrid(1, 0.5f, GEOMETRY_POSITIONS, material), worldshapes::FrameAt(0.5f, 0.3f, 0.1f));
    GeomCollisionQuery byAtomic = {};
    byAtomic.type = GEOMCOLLISION_ATOMIC;
    byAtomic.atomic = ball;
    EXPECT_FALSE(Query(a, byAtomic).list.empty());
}

TEST_F(CollisionTest, SpheresAreTakenIntoTheAtomicsSpaceWithTheirRadiusScaled)
{
    Frame* frame = worldshapes::FrameAt(10, 0, 0);
    const Vec3 half = {0.5f, 0.5f, 0.5f};
    Matrix_Scale(&frame->modelling, &half, COMBINE_PRECONCAT);
    Frame_MarkDirty(frame);
    Geometry* g = Quad();
    GeomCollision_BuildGeometryData(g);
    Atomic* a = Hold(g, frame);
    // 0.4 above the scaled quad in the world is 0.8 above it in its space,
    // with the radius doubled to 1: distance / radius = 0.8.
    const Hits h = Query(a, SphereQuery({10.1f, 0.1f, 0.4f}, 0.5f));
    ASSERT_FALSE(h.list.empty());
    for (const Hit& hit : h.list) EXPECT_NEAR(hit.distance, 0.8f, 1e-3f);
    EXPECT_TRUE(Query(a, SphereQuery({10.1f, 0.1f, 0.6f}, 0.5f)).list.empty());
}

TEST_F(CollisionTest, MorphingGeometryIsQueriedAtTheAtomicsBlend)
{
    Geometry* g = Quad();
    Geometry_AddMorphTarget(g);
    for (int32_t v = 0; v < g->numVertices; v++) {
        const Vec3 p = g->morphTarget[0].verts[v];
        g->morphTarget[1].verts[v] = Vec3{p.x, p.y, p.z - 2};
    }
    Atomic* a = Hold(g);
    Atomic_SetMorphBlend(a, 0, 1, 0.5f, 1.0f);
    const Hits h = Query(a, LineQuery({0.5f, -0.2f, 3}, {0.5f, -0.2f, -5}));
    ASSERT_EQ(h.list.size(), 1u);
    EXPECT_NEAR(h.list[0].distance, 0.5f, 1e-5f);  // z = -1, halfway between 3 and -5
}

TEST_F(CollisionTest, CollisionDataRoundTripsAndMalformedDataFailsTheGeometry)
{
    const collisionshapes::Soup soup = collisionshapes::RandomSoup(40, 9);
    Geometry* g = collisionshapes::ToGeometry(soup, material);
    ASSERT_NE(GeomCollision_BuildGeometryData(g), nullptr);
    const GeomCollisionData* data = GeomCollision_GetGeometryData(g);
    Bytes chunk = WriteGeometry(g);
    const Bytes payload = SubChunk(chunk, PLUGIN_COLLISION);
    const uint32_t n = data->tree->numLeaves, t = data->numTriangles;
    ASSERT_EQ(payload.size(), 20 * n - 8 + 4 * t);
    Geometry* back = ReadGeometry(chunk);
    ASSERT_NE(back, nullptr);
    const GeomCollisionData* read = GeomCollision_GetGeometryData(back);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->flags, (uint32_t)GEOMCOLLISION_ONE_BLOCK);
    EXPECT_EQ(CollisionPayload(back), payload);
    EXPECT_EQ(memcmp(read->tree->nodes, data->tree->nodes, sizeof(CollisionBspNode) * (n - 1)), 0);
    EXPECT_EQ(memcmp(read->triangleMap, data->triangleMap, 2 * t), 0);
    Geometry_Destroy(back);

    Geometry* stripped = collisionshapes::ToGeometry(soup, material);
    const Bytes plain = WriteGeometry(stripped);
    Geometry_Destroy(stripped);
    const size_t leaves = 8 + 16 * (n - 1), map = 8 + 20 * n - 16;
    auto edit = [&](size_t at, uint32_t value) { return Edited(payload, at, value); };
    struct Case {
        const char* what;
        Bytes payload;
    };
    const std::vector<Case> cases = {
        {"no leaves", edit(0, 0)},
        {"triangle count of another geometry", edit(4, t - 1)},
        {"length that does not fit", Bytes(payload.begin(), payload.end() - 4)},
        {"axis 12", edit(8, (12u << 16) | (U32(payload, 8) & 0xFFFF))},
        {"child kind 3", edit(8, (U32(payload, 8) & 0xFFFF00FF) | 0x300)},
        {"child index out of range", edit(12, 0xFFFF0000u | (U32(payload, 12) & 0xFFFF))},
        {"child before its parent", edit(12, U32(payload, 12) & 0xFFFF)},
        {"leaf run past the triangles", edit(leaves, (3u << 16) | (t - 1))},
        {"map entry past the triangles", edit(map, t)},
        {"negative map entry", edit(map + 4, 0xFFFFFFFFu)},
    };
    for (const Case& c : cases) {
        Bytes bad = AppendSubChunk(plain, PLUGIN_COLLISION, c.payload);
        const long before = Live();
        EXPECT_EQ(ReadGeometry(bad), nullptr) << c.what;
        EXPECT_EQ(Live(), before) << c.what;
    }
    Error_Get(nullptr);
    Geometry_Destroy(g);
}

// A chain of nodes deeper than the walkers' stacks, each with one leaf on
// its left: well numbered, but refused.
TEST_F(CollisionTest, AStreamedTreeDeeperThanTheWalkersCanFollowIsRefused)
{
    const collisionshapes::Soup soup = collisionshapes::RandomSoup(34, 4);
    Geometry* g = collisionshapes::ToGeometry(soup, material);
    const Bytes plain = WriteGeometry(g);
    auto chain = [&](uint32_t leaves) {
        Bytes b;
        Words(b, {leaves, 34});
        for (uint32_t i = 0; i + 1 < leaves; i++) {
            const bool last = i + 2 == leaves;
            Words(b, {(uint32_t)COLLISION_BSP_LEAF << 8 | (last ? COLLISION_BSP_LEAF : COLLISION_BSP_NODE),
                      i << 16 | (last ? i + 1 : i + 1), FloatBits(1.0f), FloatBits(0.0f)});
        }
        for (uint32_t j = 0; j < leaves; j++) Words(b, {(j + 1 < leaves ? 1u : 34u - j) << 16 | j});
        for (uint32_t k = 0; k < 34; k++) Words(b, {k});
        return b;
    };
    Bytes deep = AppendSubChunk(plain, PLUGIN_COLLISION, chain(34));  // 33 levels of nodes
    EXPECT_EQ(ReadGeometry(deep), nullptr);
    Bytes fits = AppendSubChunk(plain, PLUGIN_COLLISION, chain(33));  // 32 levels
    Geometry* back = ReadGeometry(fits);
    ASSERT_NE(back, nullptr);
    Atomic* a = Hold(back);
    EXPECT_EQ(Query(a, LineQuery({-100, -100, -100}, {100, 100, 100})).Indices(),
              Query(Hold(g), LineQuery({-100, -100, -100}, {100, 100, 100})).Indices());
    Error_Get(nullptr);
}

TEST_F(CollisionTest, GeometryTooLargeForTheMapGetsNoDataAndIsQueriedTriangleByTriangle)
{
    Geometry* g = MakeGrid(1, 2.0f, GEOMETRY_POSITIONS, material);
    const int32_t real = g->numTriangles;
    g->numTriangles = 65536;  // as far as the builder can tell
    EXPECT_EQ(GeomCollision_BuildGeometryData(g), nullptr);
    EXPECT_EQ(GeomCollision_GetGeometryData(g), nullptr);
    g->numTriangles = real;
    Atomic* a = Hold(g);
    EXPECT_EQ(Query(a, LineQuery({0.5f, -0.2f, -1}, {0.5f, -0.2f, 1})).list.size(), 1u);  // the grid faces -z
}

TEST_F(CollisionTest, SectorsCarryStreamedCollisionData)
{
    const WorldBox box = {{-1, -1, -1}, {1, 1, 1}};
    WorldSector* leaf = WorldSector_CreateLeaf(&box, 3, 1, 0);
    MaterialList list;
    MaterialList_Initialize(&list);
    MaterialList_AppendMaterial(&list, material);
    // The world owns the leaf from here on and runs its constructors.
    World* world = World_CreateWithTree(&box, leaf, &list, 0);
    ASSERT_NE(world, nullptr);
    MaterialList_Deinitialize(&list);
    Bytes payload;
    Words(payload, {1, 1, 1u << 16, 0});
    Bytes chunk = ExtensionChunk(PLUGIN_COLLISION, payload);
    ASSERT_TRUE(ReadExtensions(WorldSector_GetRegistry(), chunk, leaf));
    const GeomCollisionData* data = GeomCollision_GetWorldSectorData(leaf);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->tree->numLeaves, 1u);
    // Written back among the sector's other sub-chunks, byte for byte.
    const Bytes written = WriteExtensions(WorldSector_GetRegistry(), leaf);
    EXPECT_NE(std::search(written.begin(), written.end(), chunk.begin() + 12, chunk.end()), written.end());
    PutU32(chunk, 28, 2);  // a sector of one triangle
    EXPECT_FALSE(ReadExtensions(WorldSector_GetRegistry(), chunk, leaf));
    EXPECT_EQ(GeomCollision_GetWorldSectorData(leaf), data);  // the good data stays
    World_Destroy(world);
    Error_Get(nullptr);
}

}  // namespace
