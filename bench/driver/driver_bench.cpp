// Immediate-mode vertices per second through the driver, and the cost the
// render-state and device-call caches add to a draw. The stand-in device
// draws in software: the vertices here form zero-area triangles at one
// pixel so that the figures measure the driver path, not rasterisation.
#include <benchmark/benchmark.h>

#include <vector>

#include "gfx/core/engine.h"
#include "gfx/core/im3d.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8cache.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/driver/d3d8/d3d8im2d.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "platform/win32/window.h"

namespace {

// The engine started on the driver for the duration of one benchmark.
struct DriverScope {
    Window *window = nullptr;
    bool ok = false;
    DriverScope()
    {
        window = Window_Create("bench", 640, 480, WINDOW_HEADLESS);
        Image_InstallModule();
        Raster_InstallModule();
        Texture_InstallModule();
        D3D8_InstallDriver();
        ok = window && Engine_Init(nullptr, 0, 0) && Engine_Open(&window) && Engine_Start();
        if (ok) {
            D3D8_GetDevice()->BeginScene();
            D3D8_System()->inScene = 1;
        }
    }
    ~DriverScope()
    {
        if (ok) {
            D3D8_GetDevice()->EndScene();
            D3D8_System()->inScene = 0;
            Engine_Stop();
            Engine_Close();
            Engine_Term();
        }
        Engine_SetDriver(nullptr);
        Engine_SetCoreModule(MODULE_IM3D, 0, nullptr, nullptr);
        Window_Destroy(window);
    }
};

struct V2 {
    float x, y, z, rhw;
    uint32_t colour;
    float u, v;
};

void BM_Im2DVertices(benchmark::State &state)
{
    DriverScope scope;
    if (!scope.ok) {
        state.SkipWithError("driver did not start");
        return;
    }
    const int32_t n = (int32_t)state.range(0);
    std::vector<V2> v((size_t)n, V2{100, 100, 0.5f, 1, 0xFFFFFFFF, 0, 0});
    for (auto _ : state) {
        if (!D3D8_Im2DRenderPrimitive(3, v.data(), n)) state.SkipWithError("draw failed");
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Im2DVertices)->Arg(4)->Arg(100)->Arg(10000);

void BM_Im3DVertices(benchmark::State &state)
{
    DriverScope scope;
    if (!scope.ok) {
        state.SkipWithError("driver did not start");
        return;
    }
    const uint32_t n = (uint32_t)state.range(0);
    std::vector<Im3DVertex> v(n, Im3DVertex{0, 0, 5, 0, 0, 1, 0xFFFFFFFF, 0, 0});
    for (auto _ : state) {
        Im3D_Transform(v.data(), n, nullptr, IM3D_NOCLIP);
        Im3D_RenderPrimitive(3);
        Im3D_End();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Im3DVertices)->Arg(4)->Arg(100)->Arg(10000);

// A draw of one triangle after setting a handful of engine states: with
// `changing` 1 every state flips each draw (all reach the device), with 0
// they are set to the values they already hold (the caches drop them).
void BM_StateCachePerDraw(benchmark::State &state)
{
    DriverScope scope;
    if (!scope.ok) {
        state.SkipWithError("driver did not start");
        return;
    }
    const bool changing = state.range(0) != 0;
    V2 v[3] = {{100, 100, 0.5f, 1, 0, 0, 0}, {100, 100, 0.5f, 1, 0, 0, 0}, {100, 100, 0.5f, 1, 0, 0, 0}};
    uint32_t frame = 0;
    for (auto _ : state) {
        uint32_t flip = changing ? (frame++ & 1) : 0;
        D3D8_SetCullMode(1 + flip);
        D3D8_SetSrcBlend(5 + flip);
        D3D8_SetDestBlend(6 - flip);
        D3D8_SetZWriteEnable(1 - flip);
        D3D8_SetAlphaBlend((int32_t)flip);
        D3D8_SetTextureFilter(2 - flip);
        D3D8_SetTransformWorld(nullptr);
        D3D8_Im2DRenderPrimitive(3, v, 3);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StateCachePerDraw)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
