// Atomics drawn per second (1,000 lit, textured atomics of 500 triangles,
// each about 40 x 40 pixels on a 640 x 480 screen, under four lights), geometry
// chunk reads per second from a memory stream, strip-builder triangles per
// second on a 100 x 100 grid, and meshes built around one vertex. Compare
// the first with the stand-in's own geometry scene in d3d8_raster_bench run
// on the same machine.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/world/atomic.h"
#include "gfx/world/light.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"
#include "gfx/world/worldties.h"
#include "platform/direct3d/d3d8_present.h"
#include "platform/win32/window.h"
#include "tests/gfx/world/world_shapes.h"

namespace {

constexpr int kWidth = 640, kHeight = 480;

// The engine with the world attached, started on the driver.
struct WorldScope {
    Window* window = nullptr;
    bool ok = false;
    WorldScope()
    {
        window = Window_Create("world bench", kWidth, kHeight, WINDOW_HEADLESS);
        Image_InstallModule();
        Raster_InstallModule();
        Texture_InstallModule();
        D3D8_InstallDriver();
        ok = window && Engine_Init(nullptr, 0, 16u << 20) && World_PluginAttach() && Engine_Open(&window) &&
             Engine_Start();
    }
    ~WorldScope()
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

using worldshapes::FrameAt;
using worldshapes::Grid;

void BM_AtomicsDrawn(benchmark::State& state)
{
    WorldScope scope;
    if (!scope.ok) {
        state.SkipWithError("engine did not start");
        return;
    }
    WorldBox box = {{-500, -500, -500}, {500, 500, 500}};
    World* world = World_Create(&box);
    Texture* texture = worldshapes::Checker(64, 8, 0xFFE0C080u, 0xFF4070C0u);
    Material* material = Material_Create();
    Material_SetTexture(material, texture);
    Texture_Destroy(texture);
    // Ten shapes of 25 x 10 quads: 500 triangles each.
    std::vector<Geometry*> shapes;
    for (int i = 0; i < 10; i++)
        shapes.push_back(Grid(25, 10, 1.0f,
                              GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_LIGHT | GEOMETRY_TEXTURED |
                                  GEOMETRY_MODULATE_MATERIAL_COLOR,
                              material));
    // At distance z a 1-unit atomic covers 40 pixels when the view window is
    // 0.5 wide: 640 / 2 / 0.5 / z = 40 at z = 16 for the first layer;
    // deeper layers grow in proportion so every atomic stays 40 x 40.
    std::vector<Atomic*> atomics;
    std::vector<Frame*> frames;
    for (int i = 0; i < 1000; i++) {
        const int layer = i / 192, slot = i % 192, col = slot % 16, row = slot / 16;
        const float z = 16.0f + 4.0f * (float)layer, scale = z / 16.0f;
        Atomic* a = Atomic_Create();
        Atomic_SetGeometry(a, shapes[(size_t)i % shapes.size()], 0);
        Frame* f = FrameAt(((float)col - 7.5f) * scale, ((float)row - 5.5f) * scale, z);
        const Vec3 s = {scale, scale, 1};
        Matrix_Scale(&f->modelling, &s, COMBINE_PRECONCAT);
        Frame_MarkDirty(f);
        Atomic_SetFrame(a, f);
        World_AddAtomic(world, a);
        atomics.push_back(a);
        frames.push_back(f);
    }
    Camera* camera = Camera_Create();
    Frame* cameraFrame = FrameAt(0, 0, 0);
    Camera_SetFrame(camera, cameraFrame);
    const Vec2 window = {0.5f, 0.375f};
    Camera_SetViewWindow(camera, &window);
    Camera_SetNearClipPlane(camera, 1);
    Camera_SetFarClipPlane(camera, 100);
    Camera_SetRaster(camera, Raster_Create(kWidth, kHeight, 0, RASTERTYPECAMERA));
    Camera_SetZRaster(camera, Raster_Create(kWidth, kHeight, 0, RASTERTYPEZBUFFER));
    World_AddCamera(world, camera);
    std::vector<Light*> lights;
    const Vec3 down = {0, -0.5f, 0.866f}, ahead = {0, 0, 1};
    const struct {
        uint8_t kind;
        LightColour colour;
        float x, y, z, radius;
        const Vec3* at;
    } kinds[4] = {{LIGHT_AMBIENT, {0.2f, 0.2f, 0.2f, 1}, 0, 0, 0, 0, nullptr},
                  {LIGHT_DIRECTIONAL, {0.6f, 0.6f, 0.55f, 1}, 0, 0, 0, 0, &down},
                  {LIGHT_POINT, {1.0f, 0.3f, 0.2f, 1}, -4, 2, 14, 10, nullptr},
                  {LIGHT_SPOT, {0.2f, 0.4f, 1.0f, 1}, 4, -2, 2, 40, &ahead}};
    for (const auto& k : kinds) {
        Light* l = Light_Create(k.kind);
        Light_SetColour(l, &k.colour);
        Frame* f = FrameAt(k.x, k.y, k.z, k.at);
        Light_SetFrame(l, f);
        Light_SetRadius(l, k.radius);
        if (k.kind == LIGHT_SPOT) Light_SetConeAngle(l, 0.4f);
        World_AddLight(world, l);
        lights.push_back(l);
        frames.push_back(f);
    }
    const uint8_t clear[4] = {30, 30, 40, 255};
    for (auto _ : state) {
        Camera_BeginUpdate(camera);
        Camera_Clear(camera, (void*)clear, 3);
        for (Atomic* a : atomics) Atomic_Render(a);
        Camera_EndUpdate(camera);
    }
    // HELM_WORLD_BENCH_PNG=<file> keeps the last frame, to look at the scene.
    if (const char* png = getenv("HELM_WORLD_BENCH_PNG"))
        D3D8Present_WritePng(&D3D8_DeviceState()->backBuffer->surface, nullptr, png);
    state.counters["atomics/s"] = benchmark::Counter(1000.0 * (double)state.iterations(), benchmark::Counter::kIsRate);
    state.counters["frames/s"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
    for (Atomic* a : atomics) {
        World_RemoveAtomic(world, a);
        Atomic_SetFrame(a, nullptr);
        Atomic_Destroy(a);
    }
    for (Light* l : lights) {
        World_RemoveLight(world, l);
        Light_SetFrame(l, nullptr);
        Light_Destroy(l);
    }
    World_RemoveCamera(world, camera);
    Raster* fb = camera->frameBuffer;
    Raster* zb = camera->zBuffer;
    Camera_SetFrame(camera, nullptr);
    Camera_Destroy(camera);
    Raster_Destroy(fb);
    Raster_Destroy(zb);
    Frame_Destroy(cameraFrame);
    for (Frame* f : frames) Frame_Destroy(f);
    for (Geometry* g : shapes) Geometry_Destroy(g);
    Material_Destroy(material);
    World_Destroy(world);
}
BENCHMARK(BM_AtomicsDrawn)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GeometryChunkReads(benchmark::State& state)
{
    WorldScope scope;
    if (!scope.ok) {
        state.SkipWithError("engine did not start");
        return;
    }
    Material* material = Material_Create();
    Geometry* g =
        Grid(25, 10, 1.0f, GEOMETRY_POSITIONS | GEOMETRY_NORMALS | GEOMETRY_PRELIT | GEOMETRY_TEXTURED, material);
    Stream* w = Stream_Open(STREAM_MEMORY, STREAM_WRITE, nullptr);
    Geometry_StreamWrite(g, w);
    StreamMemory bytes = {};
    Stream_Close(w, &bytes);
    for (auto _ : state) {
        Stream* s = Stream_Open(STREAM_MEMORY, STREAM_READ, &bytes);
        Stream_FindChunk(s, CHUNK_GEOMETRY, nullptr, nullptr);
        Geometry* read = Geometry_StreamRead(s);
        Stream_Close(s, nullptr);
        if (!read) {
            state.SkipWithError("read failed");
            break;
        }
        Geometry_Destroy(read);
    }
    state.counters["reads/s"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
    state.counters["bytes"] = (double)bytes.length;
    Engine_Free(bytes.start);
    Geometry_Destroy(g);
    Material_Destroy(material);
}
BENCHMARK(BM_GeometryChunkReads)->UseRealTime();

void BM_StripBuilder(benchmark::State& state)
{
    WorldScope scope;
    if (!scope.ok) {
        state.SkipWithError("engine did not start");
        return;
    }
    Material* material = Material_Create();
    const int n = 100, side = n + 1;
    for (auto _ : state) {
        BuildMesh* build = BuildMesh_Create(2 * n * n);
        for (int y = 0; y < n; y++)
            for (int x = 0; x < n; x++) {
                const uint16_t a = (uint16_t)(y * side + x), b = (uint16_t)(a + 1), c = (uint16_t)(a + side),
                               d = (uint16_t)(c + 1);
                BuildMesh_AddTriangle(build, material, a, c, b, 0, 0, 0, 0);
                BuildMesh_AddTriangle(build, material, b, c, d, 0, 0, 0, 0);
            }
        MeshHeader* header = Mesh_BuildFromTriangles(build, 1);
        benchmark::DoNotOptimize(header);
        MeshHeader_Destroy(header);
    }
    state.counters["triangles/s"] =
        benchmark::Counter(2.0 * n * n * (double)state.iterations(), benchmark::Counter::kIsRate);
    Material_Destroy(material);
}
BENCHMARK(BM_StripBuilder)->Unit(benchmark::kMillisecond)->UseRealTime();

// A fan of n triangles around one vertex, built as a list (0) and as strips
// (1): the time a triangle stays flat as n grows where the spread, the strip
// join and the edge table are linear.
void BM_MeshAroundOneVertex(benchmark::State& state)
{
    WorldScope scope;
    if (!scope.ok) {
        state.SkipWithError("engine did not start");
        return;
    }
    Material* material = Material_Create();
    const int32_t n = (int32_t)state.range(0), strips = (int32_t)state.range(1);
    for (auto _ : state) {
        BuildMesh* build = BuildMesh_Create(n);
        for (int32_t i = 0; i < n; i++)
            BuildMesh_AddTriangle(build, material, 0, (uint16_t)(1 + i % 60000), (uint16_t)(2 + i % 60000), 0, 0, 0, 0);
        MeshHeader* header = Mesh_BuildFromTriangles(build, strips);
        benchmark::DoNotOptimize(header);
        MeshHeader_Destroy(header);
    }
    state.counters["triangles/s"] =
        benchmark::Counter((double)n * (double)state.iterations(), benchmark::Counter::kIsRate);
    Material_Destroy(material);
}
BENCHMARK(BM_MeshAroundOneVertex)
    ->ArgsProduct({{25000, 100000}, {0, 1}})
    ->ArgNames({"triangles", "strips"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
