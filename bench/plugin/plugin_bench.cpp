// Skinned vertices deformed per second (10,100 vertices with four weights
// each over 32 bones, the palette rebuilt for every deformation as for a new
// camera update), line and sphere queries per second against a mesh of
// 20,000 triangles through its collision tree, and the build time of that
// tree.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "gfx/core/engine.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/plugin/collision/collision.h"
#include "gfx/plugin/hanim/hanim.h"
#include "gfx/plugin/matfx/matfx.h"
#include "gfx/plugin/random/random.h"
#include "gfx/plugin/skin/d3d8skin.h"
#include "gfx/plugin/skin/skin.h"
#include "gfx/world/atomic.h"
#include "gfx/world/world.h"
#include "platform/win32/window.h"
#include "tests/gfx/plugin/collision/collision_shapes.h"
#include "tests/gfx/world/world_shapes.h"

namespace {

// The engine with the world and the plugin chain, started on the driver.
struct PluginScope {
    Window* window = nullptr;
    bool ok = false;
    PluginScope()
    {
        window = Window_Create("plugin bench", 640, 480, WINDOW_HEADLESS);
        Image_InstallModule();
        Raster_InstallModule();
        Texture_InstallModule();
        D3D8_InstallDriver();
        ok = window && Engine_Init(nullptr, 0, 16u << 20) && World_PluginAttach() && Random_PluginAttach() &&
             Skin_PluginAttach() && HAnim_PluginAttach() && GeomCollision_PluginAttach() && MatFX_PluginAttach() &&
             Engine_Open(&window) && Engine_Start();
    }
    ~PluginScope()
    {
        if (ok) {
            if (D3D8_System()->inScene) D3D8_GetDevice()->EndScene();
            D3D8_System()->inScene = 0;
            Engine_Stop();
            Engine_Close();
            Engine_Term();
        }
        Engine_SetDriver(nullptr);
        Window_Destroy(window);
    }
};

constexpr int32_t kBones = 32;

void BM_SkinnedVerticesDeformed(benchmark::State& state)
{
    PluginScope scope;
    if (!scope.ok) {
        state.SkipWithError("engine did not start");
        return;
    }
    Material* material = Material_Create();
    Geometry* g = worldshapes::Grid(100, 99, 10.0f, GEOMETRY_POSITIONS | GEOMETRY_NORMALS, material);
    std::mt19937 rng(3);
    std::uniform_int_distribution<uint32_t> bone(0, kBones - 1);
    std::vector<float> weights;
    std::vector<uint32_t> bones;
    for (int32_t v = 0; v < g->numVertices; v++) {
        weights.insert(weights.end(), {0.4f, 0.3f, 0.2f, 0.1f});
        bones.push_back(bone(rng) | bone(rng) << 8 | bone(rng) << 16 | bone(rng) << 24);
    }
    std::vector<Matrix> inverse(kBones);
    for (Matrix& m : inverse) Matrix_SetIdentity(&m);
    Skin_GeometrySetSkin(g, Skin_Create(g->numVertices, kBones, weights.data(), bones.data(), inverse.data()));
    BoneHierarchy* h = HAnim_HierarchyCreate(kBones, nullptr, nullptr, 0, 0);
    for (int32_t i = 0; i < kBones; i++) {
        Matrix_SetIdentity(&h->matrixArray[i]);
        const Vec3 axis = {0, 1, 0}, move = {0.01f * (float)i, 0, 0};
        Matrix_Rotate(&h->matrixArray[i], &axis, (float)i, COMBINE_REPLACE);
        Matrix_Translate(&h->matrixArray[i], &move, COMBINE_POSTCONCAT);
    }
    Atomic* atomic = Atomic_Create();
    Atomic_SetGeometry(atomic, g, 0);
    Atomic_SetFrame(atomic, Frame_Create());
    Skin_AtomicSetHierarchy(atomic, h);
    Skin_AtomicSetType(atomic, SKIN_TYPE_GENERIC);
    D3D8_GetDevice()->BeginScene();
    D3D8_System()->inScene = 1;
    Atomic_Render(atomic);  // instances the geometry
    for (auto _ : state) {
        Engine_Instance()->renderFrame++;  // a new camera update: the palette is rebuilt
        Skin_UpdateVertices(atomic);
    }
    state.SetItemsProcessed(state.iterations() * g->numVertices);
    Frame* frame = Atomic_GetFrame(atomic);
    Atomic_SetFrame(atomic, nullptr);
    Frame_Destroy(frame);
    Atomic_Destroy(atomic);
    HAnim_HierarchyDestroy(h);
    Geometry_Destroy(g);
    Material_Destroy(material);
}
BENCHMARK(BM_SkinnedVerticesDeformed)->Unit(benchmark::kMicrosecond);

constexpr int32_t kTriangles = 20000;

// The 20,000-triangle soup as a collidable atomic.
struct CollisionScene {
    PluginScope scope;
    Material* material = nullptr;
    Atomic* atomic = nullptr;
    CollisionScene()
    {
        if (!scope.ok) return;
        material = Material_Create();
        Geometry* g = collisionshapes::ToGeometry(collisionshapes::RandomSoup(kTriangles, 17, 100, 1.5f), material);
        GeomCollision_BuildGeometryData(g);
        atomic = Atomic_Create();
        Atomic_SetGeometry(atomic, g, 0);
        Geometry_Destroy(g);
    }
    ~CollisionScene()
    {
        if (atomic) Atomic_Destroy(atomic);
        if (material) Material_Destroy(material);
    }
};

int32_t CountHits(const GeomCollisionQuery*, const GeomCollisionTriangle*, float, void* data)
{
    ++*(int64_t*)data;
    return 1;
}

void RunQueries(benchmark::State& state, bool lines)
{
    CollisionScene scene;
    if (!scene.atomic) {
        state.SkipWithError("engine did not start");
        return;
    }
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> place(-50, 50), dir(-1, 1), radius(0.5f, 4);
    std::vector<GeomCollisionQuery> queries(256);
    for (GeomCollisionQuery& q : queries) {
        const Vec3 c = {place(rng), place(rng), place(rng)};
        if (lines) {
            Vec3 d = {dir(rng), dir(rng), dir(rng)};
            Vec3_Normalise(&d);
            q.type = GEOMCOLLISION_LINE;
            q.line = CollisionLine{{c.x - 20 * d.x, c.y - 20 * d.y, c.z - 20 * d.z},
                                   {c.x + 20 * d.x, c.y + 20 * d.y, c.z + 20 * d.z}};
        } else {
            q.type = GEOMCOLLISION_SPHERE;
            q.sphere = Sphere{c, radius(rng)};
        }
    }
    int64_t hits = 0;
    size_t i = 0;
    for (auto _ : state) {
        GeomCollision_ForAllGeometryIntersections(scene.atomic, &queries[i++ & 255], CountHits, &hits);
        benchmark::DoNotOptimize(hits);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["hits/query"] = (double)hits / (double)state.iterations();
}

void BM_LineQueries(benchmark::State& state) { RunQueries(state, true); }
void BM_SphereQueries(benchmark::State& state) { RunQueries(state, false); }
BENCHMARK(BM_LineQueries);
BENCHMARK(BM_SphereQueries);

void BM_CollisionTreeBuild(benchmark::State& state)
{
    PluginScope scope;
    if (!scope.ok) {
        state.SkipWithError("engine did not start");
        return;
    }
    const collisionshapes::Soup soup = collisionshapes::RandomSoup(kTriangles, 17, 100, 1.5f);
    for (auto _ : state) {
        GeomCollisionData* data = GeomCollisionData_Create((int32_t)soup.positions.size(), soup.positions.data(),
                                                           kTriangles, soup.triangles.data());
        benchmark::DoNotOptimize(data);
        GeomCollisionData_Destroy(data);
    }
    state.SetItemsProcessed(state.iterations() * kTriangles);
}
BENCHMARK(BM_CollisionTreeBuild)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
