// Content-layer figures on the stand-in device (headless window):
//   ObjectParse     a 20,000-triangle ".lwo" (one layer, a UV map) parsed
//   MeshBuild       the same object parsed, its normals smoothed and built
//                   into a one-sided geometry (no cache: rebuilt each time)
//   MeshFromCache   the same mesh read back from its "dff" cache
//   SceneFromText   a version-3 scene of 200 keyed nulls parsed from ".lws"
//   SceneFromCache  the same scene read from its "lsf" cache
//   NodeWalk        the draw walk over 10,000 nodes whose world matrices are
//                   all out of date (no visuals: the walk itself)
// Everything runs in a folder of its own under the system's temp folder.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/cache.h"
#include "app/config.h"
#include "app/file.h"
#include "common/list.h"
#include "engine/lwo.h"
#include "engine/materialanim.h"
#include "engine/mesh.h"
#include "engine/node.h"
#include "engine/nodeextra.h"
#include "engine/renderobj.h"
#include "engine/scene.h"
#include "engine/scenelight.h"
#include "engine/view.h"
#include "gfx/core/engine.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/world/world.h"
#include "platform/win32/window.h"
#include "tools/lib/lwowrite.h"
#include "tests/engine/content_modules.h"
#include "tools/lib/lwswrite.h"

namespace {

constexpr int kTriangles = 20000;
constexpr int kSceneItems = 200;
constexpr int kNodes = 10000;

void Write(const std::string& name, const std::string& bytes)
{
    std::string path = "data/" + name;
    for (char& c : path)
        if (c == '\\') c = '/';
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Remove(const char* source, const char* extension)
{
    char name[CACHE_NAME_MAX];
    Cache_NameFromSource(name, source, 0, "%s", extension);
    std::string path = std::string("data/") + name;
    for (char& c : path)
        if (c == '\\') c = '/';
    std::filesystem::remove(path);
    return path;
}

// 100 x 100 quads, each as two triangles, with a UV map over the grid.
std::string BigObject()
{
    LwoWriterObject o;
    o.tags = {"Ground"};
    LwoWriterSurface s;
    s.name = "Ground";
    s.smoothingAngle = 1.2f;
    s.blocks.resize(1);
    s.blocks[0].uvMap = "UV";
    o.surfaces = {s};
    LwoWriterLayer layer;
    LwoWriterVertexMap uv = {"TXUV", 2, "UV", {}};
    const int side = 101;
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++) {
            const float h = 0.1f * (float)((x * 7 + y * 3) % 5);
            layer.points.insert(layer.points.end(), {(float)x, h, (float)y});
            uv.entries.push_back({(uint32_t)(y * side + x), -1, {x / 100.0f, y / 100.0f}});
        }
    for (int y = 0; y < 100; y++)
        for (int x = 0; x < 100; x++) {
            const uint32_t a = (uint32_t)(y * side + x), b = a + 1, c = a + side, d = c + 1;
            layer.polygons.push_back({{a, c, b}, 0});
            layer.polygons.push_back({{b, c, d}, 0});
        }
    layer.maps = {uv};
    o.layers = {layer};
    const std::vector<uint8_t> bytes = LwoWriter_Write(o);
    return std::string(bytes.begin(), bytes.end());
}

std::string BigScene()
{
    LwsWriterScene s;
    s.lastFrame = 300;
    for (int i = 0; i < kSceneItems; i++) {
        LwsWriterItem item;
        item.name = "Marker" + std::to_string(i);
        if (i % 10) item.parentKind = LWS_PARENT_ITEM, item.parentIndex = i - i % 10;
        for (int k = 0; k < 30; k++) {
            LwsWriterKey key;
            key.time = (float)k / 3.0f;
            key.position[0] = (float)(i + k);
            key.rotation[0] = 0.1f * (float)k;
            item.keys.push_back(key);
        }
        s.items.push_back(item);
    }
    return LwsWriter_Write(s);
}

struct ContentScope {
    Window* window = nullptr;
    World* world = nullptr;
    bool ok = false;
    std::filesystem::path previous;
    ContentScope()
    {
        previous = std::filesystem::current_path();
        const std::filesystem::path folder = std::filesystem::temp_directory_path() / "helm_engine_bench";
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder / "data");
        std::filesystem::current_path(folder);
        window = Window_Create("bench", 640, 480, WINDOW_HEADLESS);
        Image_InstallModule();
        Raster_InstallModule();
        Texture_InstallModule();
        D3D8_InstallDriver();
        if (!window || !Engine_Init(nullptr, 0, 8u << 20) || !ContentModules_Attach() ||
            !Engine_Open(&window) || !Engine_Start() || !File_Init() || !ContentModules_Start(&world))
            return;
        Write("Objects\\Ground.lwo", BigObject());
        Write("Scenes\\Markers.lws", BigScene());
        ok = true;
    }
    ~ContentScope()
    {
        ContentModules_Stop(world);
        File_Shutdown();
        Engine_Stop();
        Engine_Close();
        Engine_Term();
        Window_Destroy(window);
        std::filesystem::current_path(previous);
    }
};

void BM_ObjectParse(benchmark::State& state)
{
    ContentScope scope;
    if (!scope.ok) return state.SkipWithError("engine did not start");
    for (auto _ : state) {
        LwoObject* o = Lwo_Open("Objects\\Ground", -1);
        if (!o) return state.SkipWithError("object did not load");
        benchmark::DoNotOptimize(o->polygonCount);
        Lwo_Free(o);
    }
    state.SetItemsProcessed(state.iterations() * kTriangles);
    state.counters["triangles"] = kTriangles;
}
BENCHMARK(BM_ObjectParse)->Unit(benchmark::kMillisecond);

void BM_MeshBuild(benchmark::State& state)
{
    ContentScope scope;
    if (!scope.ok) return state.SkipWithError("engine did not start");
    for (auto _ : state) {
        state.PauseTiming();
        Remove("Objects\\Ground", "dff");
        state.ResumeTiming();
        RenderObj* o = Mesh_Load("Objects\\Ground", MESH_UNSHARED, nullptr);
        if (!o) return state.SkipWithError("mesh did not build");
        state.PauseTiming();
        RenderObj_Release(&o);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kTriangles);
}
BENCHMARK(BM_MeshBuild)->Unit(benchmark::kMillisecond);

void BM_MeshFromCache(benchmark::State& state)
{
    ContentScope scope;
    if (!scope.ok) return state.SkipWithError("engine did not start");
    RenderObj* first = Mesh_Load("Objects\\Ground", MESH_UNSHARED, nullptr);
    RenderObj_Release(&first);
    for (auto _ : state) {
        RenderObj* o = Mesh_Load("Objects\\Ground", MESH_UNSHARED, nullptr);
        if (!o || !(o->objectFlags & RENDEROBJ_FROM_CACHE)) return state.SkipWithError("cache not used");
        state.PauseTiming();
        RenderObj_Release(&o);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kTriangles);
}
BENCHMARK(BM_MeshFromCache)->Unit(benchmark::kMillisecond);

void SceneLoads(benchmark::State& state, bool fromCache)
{
    ContentScope scope;
    if (!scope.ok) return state.SkipWithError("engine did not start");
    const uint32_t flags = SCENE_NODES_ONLY | SCENE_NO_SHARING;
    Scene_Release(Scene_Load("Scenes\\Markers", nullptr, flags, nullptr));
    for (auto _ : state) {
        if (!fromCache) {
            state.PauseTiming();
            Remove("Scenes\\Markers.lws", "lsf");
            state.ResumeTiming();
        }
        Scene* scene = Scene_Load("Scenes\\Markers", nullptr, flags, nullptr);
        if (!scene) return state.SkipWithError("scene did not load");
        state.PauseTiming();
        Scene_Release(scene);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kSceneItems);
}
void BM_SceneFromText(benchmark::State& state) { SceneLoads(state, false); }
void BM_SceneFromCache(benchmark::State& state) { SceneLoads(state, true); }
BENCHMARK(BM_SceneFromText)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SceneFromCache)->Unit(benchmark::kMicrosecond);

void BM_NodeWalk(benchmark::State& state)
{
    if (!Node_Init()) return state.SkipWithError("no node pool");
    // A root with 100 children of 99 children each: 10,000 nodes.
    Node* root = Node_Create(nullptr);
    std::vector<Node*> branches;
    for (int i = 0; i < 100; i++) {
        Node* branch = Node_Create(root);
        const Vec3 p = {(float)i, 0, 0};
        Node_SetPosition(branch, &p);
        branches.push_back(branch);
        for (int j = 0; j < 99; j++) {
            Node* leaf = Node_Create(branch);
            const Vec3 q = {0, (float)j, 1};
            Node_SetPosition(leaf, &q);
        }
    }
    const Vec3 axis = {0, 1, 0};
    float angle = 0;
    for (auto _ : state) {
        // Every branch turns: the whole tree is out of date again.
        angle += 0.01f;
        for (Node* b : branches) Node_SetRotation(b, &axis, angle);
        Node_Render(nullptr, nullptr, root);
    }
    state.SetItemsProcessed(state.iterations() * kNodes);
    Node_Shutdown();
}
BENCHMARK(BM_NodeWalk)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
