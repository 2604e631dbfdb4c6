// Bitmap glyphs and stroke nodes per second, drawn by the 2D toolkit through
// the Direct3D 8 driver into a 640 x 480 camera on the software stand-in
// device, in a 640 x 480 user space: the figures include rasterisation.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/renderstate.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/toolkit/2d/brush2d.h"
#include "gfx/toolkit/2d/font2d.h"
#include "gfx/toolkit/2d/path2d.h"
#include "gfx/toolkit/2d/toolkit2d.h"
#include "platform/win32/window.h"

namespace {

// 16 glyphs of 16 x 16 pixels in one 256 x 16 image, generated on read.
Image* GlyphSheet(const char*)
{
    Image* image = Image_Create(256, 16, 32);
    if (!image || !Image_AllocatePixels(image)) return image;
    for (int32_t y = 0; y < 16; y++)
        for (int32_t x = 0; x < 256; x++) {
            uint8_t* p = image->pixels + (size_t)y * image->stride + 4 * (size_t)x;
            const bool ink = (x % 16 + y) % 5 == 0 || x % 16 == 2 || y == 13;
            memset(p, 255, 3);
            p[3] = ink ? 255 : 0;
        }
    return image;
}

// The engine started on the driver, a 640 x 480 camera inside an update, the
// toolkit open on it and a 16-pixel font read, for one benchmark.
struct ToolkitScope {
    Window* window = nullptr;
    Camera* camera = nullptr;
    Font2D* font = nullptr;
    Brush2D* brush = nullptr;
    bool ok = false;
    ToolkitScope()
    {
        window = Window_Create("bench", 640, 480, WINDOW_HEADLESS);
        Image_InstallModule();
        Raster_InstallModule();
        Texture_InstallModule();
        D3D8_InstallDriver();
        if (!window || !Engine_Init(nullptr, 0, 0) || !Engine_Open(&window) || !Engine_Start()) return;
        Image_RegisterFileFormat("sheet", GlyphSheet, nullptr);
        camera = Camera_Create();
        Camera_SetFrame(camera, Frame_Create());
        Camera_SetRaster(camera, Raster_Create(640, 480, 0, RASTERTYPECAMERA));
        Camera_SetZRaster(camera, Raster_Create(640, 480, 0, RASTERTYPEZBUFFER));
        const Vec2 view = {1.0f, 0.75f};
        Camera_SetViewWindow(camera, &view);
        if (!Toolkit2D_Open(camera) || !Toolkit2D_SetDeviceRect(0, 0, 640, 480)) return;
        const std::string folder = (std::filesystem::temp_directory_path() / "toolkit2d_bench").string() + "/";
        std::filesystem::create_directories(folder);
        std::string met = "METRICS1\nglyphs.sheet\n3\n";
        for (int code = 32; code < 127; code++) {
            const int x = (code % 16) * 16;
            met += std::to_string(code) + " " + std::to_string(x) + " 0 " + std::to_string(x + 16) + " 16\n";
        }
        // The sheet's file only has to exist: its reader makes the pixels.
        for (const auto& [name, text] : {std::pair<std::string, std::string>{"bench.met", met}, {"glyphs.sheet", ""}}) {
            FILE* f = fopen((folder + name).c_str(), "wb");
            if (!f) return;
            fwrite(text.data(), 1, text.size(), f);
            fclose(f);
        }
        Font2D_SetPath(folder.c_str());
        font = Font2D_Read("bench");
        brush = Brush2D_Create();
        ok = font && brush && Camera_BeginUpdate(camera);
        if (ok) {
            RenderState_Set(6, (void*)0);
            RenderState_Set(8, (void*)0);
            RenderState_Set(20, (void*)1);
        }
    }
    ~ToolkitScope()
    {
        if (ok) Camera_EndUpdate(camera);
        if (brush) Brush2D_Destroy(brush);
        if (font) Font2D_Destroy(font);
        Toolkit2D_Close();
        if (camera) {
            Frame* frame = Camera_GetFrame(camera);
            Raster* fb = camera->frameBuffer;
            Raster* zb = camera->zBuffer;
            Camera_SetFrame(camera, nullptr);
            Camera_Destroy(camera);
            Frame_Destroy(frame);
            Raster_Destroy(fb);
            Raster_Destroy(zb);
        }
        if (Engine_GetStatus() == ENGINE_STATUS_STARTED) {
            Engine_Stop();
            Engine_Close();
            Engine_Term();
        }
        Engine_SetDriver(nullptr);
        Engine_SetCoreModule(MODULE_IM3D, 0, nullptr, nullptr);
        Window_Destroy(window);
    }
};

// Lines of 39 glyphs, 16 pixels high, down the screen.
void BM_BitmapGlyphs(benchmark::State& state)
{
    ToolkitScope scope;
    if (!scope.ok) {
        state.SkipWithError("toolkit did not start");
        return;
    }
    const char* line = "The quick brown fox jumps over the lazy";
    const size_t glyphs = strlen(line);
    float y = 0;
    for (auto _ : state) {
        Vec2 anchor = {4, y};
        Font2D_DrawString(scope.font, line, 16, &anchor, scope.brush);
        y = y >= 460 ? 0 : y + 16;
    }
    state.SetItemsProcessed(state.iterations() * (int64_t)glyphs);
}
BENCHMARK(BM_BitmapGlyphs);

// A zigzag polyline of n nodes across the screen, 2 pixels wide.
void BM_StrokeNodes(benchmark::State& state)
{
    ToolkitScope scope;
    if (!scope.ok) {
        state.SkipWithError("toolkit did not start");
        return;
    }
    const int32_t n = (int32_t)state.range(0);
    Path2D* path = Path2D_Create();
    for (int32_t i = 0; i < n; i++) Path2D_LineTo(path, 10 + 620.0f * (float)i / (float)n, i % 2 ? 200 : 280);
    Brush2D_SetHalfWidth(scope.brush, 1);
    for (auto _ : state) Path2D_Stroke(path, scope.brush);
    state.SetItemsProcessed(state.iterations() * n);
    Path2D_Destroy(path);
}
BENCHMARK(BM_StrokeNodes)->Arg(64)->Arg(1000);

// Curves flattened while they are stroked: nodes of the flattened path.
void BM_StrokeCurves(benchmark::State& state)
{
    ToolkitScope scope;
    if (!scope.ok) {
        state.SkipWithError("toolkit did not start");
        return;
    }
    Path2D* path = Path2D_Create();
    Path2D_MoveTo(path, 20, 240);
    for (int i = 0; i < 20; i++) {
        const float x = 20 + 30.0f * (float)i;
        Path2D_CurveTo(path, x + 10, 340, x + 20, 140, x + 30, 240);
    }
    Path2D* flat = Path2D_Create();
    Path2D_Flatten(flat, path);
    const int64_t nodes = Path2D_GetNodeCount(flat);
    Path2D_Destroy(flat);
    for (auto _ : state) Path2D_Stroke(path, scope.brush);
    state.SetItemsProcessed(state.iterations() * nodes);
    state.counters["nodes"] = (double)nodes;
    Path2D_Destroy(path);
}
BENCHMARK(BM_StrokeCurves);

}  // namespace

BENCHMARK_MAIN();
