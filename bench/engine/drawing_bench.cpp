// Billboards drawn per second (four batches of 500 camera-facing quads a
// frame, the batch's capacity, as four split-screen views draw them), glyphs
// drawn per second (the line font and a bitmap font of the 2D toolkit), and
// animation sets evaluated per second (100 skinned models of 20 bones, each
// advanced a frame, blending now and then, and its bone palette rebuilt).
// The drawing benchmarks count wall time: each frame is presented, and the
// stand-in's rasteriser shades on worker threads.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/file.h"
#include "app/shell.h"
#include "engine/animset.h"
#include "engine/billboard.h"
#include "engine/font.h"
#include "engine/node.h"
#include "engine/sprite3d.h"
#include "engine/trigger.h"
#include "engine/view.h"
#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/renderstate.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/toolkit/2d/toolkit2d.h"
#include "gfx/toolkit/png/imagepng.h"
#include "platform/win32/window.h"
#include "tests/engine/content_modules.h"
#include "tools/lib/atfwrite.h"
#include "tools/lib/lwowrite.h"
#include "tools/lib/lwswrite.h"

namespace {

constexpr int kWidth = 640, kHeight = 480;

// The engine started on the driver with the world and the render objects'
// extension attached, the file layer over a scratch folder, and the content
// layer's modules; the main camera of the views over the window.
struct EngineScope {
    Window* window = nullptr;
    World* world = nullptr;
    std::filesystem::path folder, previous;
    bool ok = false;

    EngineScope()
    {
        folder = std::filesystem::temp_directory_path() / ("helm_drawing_bench_" + std::to_string(getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder / "data");
        previous = std::filesystem::current_path();
        std::filesystem::current_path(folder);
        window = Window_Create("drawing bench", kWidth, kHeight, WINDOW_HEADLESS);
        Image_InstallModule();
        Raster_InstallModule();
        Texture_InstallModule();
        D3D8_InstallDriver();
        ok = window && Engine_Init(nullptr, 0, 16u << 20) && ContentModules_Attach() && Engine_Open(&window) &&
             Engine_Start();
        if (!ok) return;
        Image_RegisterFileFormat("png", ImagePng_Read, ImagePng_Write);
        File_Init();
        App_SetScreenSize(kWidth, kHeight);
        ok = ContentModules_Start(&world) && View_Init() && Sprite3d_Init() && Trigger_Init() && AnimSet_Init() &&
             Toolkit2D_SetDeviceRect(0, 0, kWidth, kHeight) && Font_Init();
    }
    ~EngineScope()
    {
        AnimSet_Shutdown();
        Trigger_Shutdown();
        Font_Shutdown();
        Sprite3d_Shutdown();
        View_Shutdown();
        ContentModules_Stop(world);
        Toolkit2D_Close();
        File_Shutdown();
        if (ok) {
            if (D3D8_System()->inScene) D3D8_GetDevice()->EndScene();
            D3D8_System()->inScene = 0;
            Engine_Stop();
            Engine_Close();
            Engine_Term();
        }
        Engine_SetDriver(nullptr);
        Window_Destroy(window);
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(folder);
    }
};

void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes)
{
    std::string path = "data/" + name;
    for (char& c : path)
        if (c == '\\') c = '/';
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

void WriteFile(const std::string& name, const std::string& text)
{
    WriteFile(name, std::vector<uint8_t>(text.begin(), text.end()));
}

// A square image of a soft round spot, for the quads.
void WriteSpot(const std::string& path, int size)
{
    Image* image = Image_Create(size, size, 32);
    Image_AllocatePixels(image);
    for (int y = 0; y < size; y++)
        for (int x = 0; x < size; x++) {
            const float dx = (float)x - size * 0.5f, dy = (float)y - size * 0.5f;
            const float d = std::sqrt(dx * dx + dy * dy) / (size * 0.5f);
            uint8_t* p = image->pixels + (size_t)y * image->stride + 4 * (size_t)x;
            p[0] = p[1] = p[2] = 255;
            p[3] = (uint8_t)(d < 1.0f ? (1.0f - d) * 255.0f : 0.0f);
        }
    ImagePng_Write(image, path.c_str());
    Image_Destroy(image);
}

Mat4 Looking(Vec3 eye, Vec3 at)
{
    Mat4 m;
    const Vec3 up = {0, 1, 0};
    Mat4_FromAtUp(&m, &eye, &at, &up);
    return m;
}

void BM_BillboardsDrawn(benchmark::State& state)
{
    EngineScope scope;
    if (!scope.ok) {
        state.SkipWithError("engine did not start");
        return;
    }
    WriteSpot("data/spot.png", 32);

    Sprite3d* sprites[2] = {Sprite3d_LoadSprite("spot.png", nullptr, 32, 0),
                            Sprite3d_LoadSprite("spot.png", nullptr, 32, 2)};
    View* views[4];
    Node* eyes[4];
    for (int i = 0; i < 4; i++) {
        views[i] = View_CreateFractional(0.5f * (float)(i % 2), 0.5f * (float)(i / 2), 0.5f, 0.5f, 0.1f, 400);
        eyes[i] = Node_Create(nullptr);
        const Mat4 m = Looking({(float)(i - 2) * 3.0f, 2, -10}, {0, -0.1f, 1});
        Node_SetMatrix(eyes[i], &m);
    }
    Node* root = Node_Create(nullptr);
    srand(7);
    std::vector<Vec3> places(500);
    for (Vec3& p : places) p = {Math_RandomRange(-15, 15), Math_RandomRange(-2, 8), Math_RandomRange(5, 60)};
    const uint8_t white[4] = {255, 230, 200, 255};
    const float size[2] = {0.6f, 0.6f};
    for (auto _ : state) {
        View_SetMainUpdating(1);
        for (int v = 0; v < 4; v++) {
            Billboard_ResetCounts();
            for (size_t q = 0; q < places.size(); q++)
                Billboard_AddFacing(sprites[q % 2], &places[q], white, nullptr, size, 0);
            View_Render(views[v], root, eyes[v]);
        }
        View_SetMainUpdating(0);
        View_ShowRaster();  // the frame is finished and presented
    }
    state.SetItemsProcessed(state.iterations() * 4 * (int64_t)places.size());
    Sprite3d_Release(sprites[0]);
    Sprite3d_Release(sprites[1]);
}
BENCHMARK(BM_BillboardsDrawn)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GlyphsDrawn(benchmark::State& state)
{
    EngineScope scope;
    if (!scope.ok) {
        state.SkipWithError("engine did not start");
        return;
    }
    // A bitmap font of the codes 32..95 in 8 x 12 cells.
    std::string metrics = "METRICS1\nglyphs.png\n10\n";
    for (int c = 32; c < 96; c++)
        metrics += std::to_string(c) + " " + std::to_string((c - 32) % 16 * 8) + " " +
                   std::to_string((c - 32) / 16 * 12) + " " + std::to_string((c - 32) % 16 * 8 + 8) + " " +
                   std::to_string((c - 32) / 16 * 12 + 12) + "\n";
    WriteFile("Fonts\\Bench.met", metrics);
    WriteSpot("data/Fonts/glyphs.png", 128);
    Font* font = state.range(0) ? Font_Load("Bench", nullptr) : Font_Load(nullptr, nullptr);
    if (!font || (state.range(0) && font->flags != FONT_TOOLKIT)) {
        state.SkipWithError("font did not load");
        return;
    }
    Font_SetSize(font, 1.5f);
    const std::string line = "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 +-*/ =?!";
    for (auto _ : state) {
        View_SetMainUpdating(1);
        for (int i = 0; i < 16; i++) Font_DrawString(font, 10, 20.0f + 28.0f * (float)i, line.c_str(), 0);
        View_SetMainUpdating(0);
        View_ShowRaster();
    }
    state.SetItemsProcessed(state.iterations() * 16 * (int64_t)line.size());
    Font_Release(font);
}
BENCHMARK(BM_GlyphsDrawn)->Arg(0)->Arg(1)->ArgNames({"bitmap"})->Unit(benchmark::kMillisecond)->UseRealTime();

// A chain of `bones` triangles along +z, segment i weighted to bone i.
std::vector<uint8_t> Chain(int bones)
{
    LwoWriterObject o;
    o.tags = {"Skin"};
    LwoWriterSurface s;
    s.name = "Skin";
    o.surfaces = {s};
    LwoWriterLayer layer;
    for (int i = 0; i < bones; i++) {
        LwoWriterVertexMap map = {"WGHT", 1, "B" + std::to_string(i), {}};
        const float z = (float)i;
        const float p[9] = {0, 0, z, 0, 1, z, 0, 0, z + 1};
        layer.points.insert(layer.points.end(), p, p + 9);
        const uint32_t b = (uint32_t)(3 * i);
        layer.polygons.push_back({{b, b + 1, b + 2}, 0});
        for (uint32_t k = 0; k < 3; k++) map.entries.push_back({b + k, -1, {1.0f}});
        layer.maps.push_back(map);
    }
    o.layers = {layer};
    return LwoWriter_Write(o);
}

// The chain's skeleton bending by `angle` (pitch or heading) over 2 s.
std::string ChainScene(int bones, int axis, float angle)
{
    LwsWriterScene s;
    LwsWriterItem item;
    item.kind = LwsWriterItem::OBJECT;
    item.name = "Chain.lwo";
    item.bones.resize((size_t)bones);
    for (int i = 0; i < bones; i++) {
        LwsWriterBone& b = item.bones[(size_t)i];
        b.name = "B" + std::to_string(i);
        b.parent = i - 1;
        b.restPosition[2] = i ? 1.0f : 0.0f;
        b.restLength = 1.0f;
        b.weightMap = "B" + std::to_string(i);
        b.keys.resize(2);
        b.keys[0].position[2] = b.restPosition[2];
        b.keys[1] = b.keys[0];
        b.keys[1].rotation[axis] = angle;
        b.keys[1].time = 2.0f;
    }
    s.items = {item};
    return LwsWriter_Write(s);
}

void BM_AnimSetsEvaluated(benchmark::State& state)
{
    EngineScope scope;
    if (!scope.ok) {
        state.SkipWithError("engine did not start");
        return;
    }
    constexpr int kBones = 20, kModels = 100;
    WriteFile("Chars\\Chain.lwo", Chain(kBones));
    WriteFile("Chars\\Wave.lws", ChainScene(kBones, 0, 0.3f));
    WriteFile("Chars\\Curl.lws", ChainScene(kBones, 1, 0.4f));
    AtfWriterSet atf;
    for (const char* name : {"Wave", "Curl"}) {
        AtfWriterAnimation a;
        a.name = name;
        a.scenePath = std::string("Chars\\") + name;
        a.sceneFlags = 1;  // looping
        a.blendTime = 0.5f;
        atf.animations.push_back(a);
    }
    AtfWriter_Write(atf, AtfWriter_CacheName("Chars\\Chain").c_str());
    std::vector<AnimSet*> sets;
    std::vector<NodeExtra*> skins;
    for (int i = 0; i < kModels; i++) {
        AnimSet* set = AnimSet_Load("Chars\\Chain", "ANIM", Node_Create(nullptr), nullptr);
        if (!set || AnimSet_GetCount(set) != 2 || AnimSet_GetAnimScene(set, 0)->boneCount != kBones ||
            !Node_GetExtra(Scene_GetItemNode(AnimSet_GetAnimScene(set, 0), 0))) {
            state.SkipWithError("the set did not load");
            return;
        }
        sets.push_back(set);
        for (uint32_t a = 0; a < 2; a++)
            skins.push_back(Node_GetExtra(Scene_GetItemNode(AnimSet_GetAnimScene(set, a), 0)));
    }
    int frame = 0;
    for (auto _ : state) {
        // Every model switches animation once a second (30 frames), so a
        // blend is running a sixth of the time.
        for (int i = 0; i < kModels; i++) {
            AnimSet* set = sets[(size_t)i];
            if ((frame + i) % 30 == 0) AnimSet_PlayIndex(set, 1 - AnimSet_GetCurrentIndex(set));
            AnimSet_Advance(set, 1.0f / 30.0f, ANIMSET_ADVANCE_SCENE);
            if (NodeExtra* skin = skins[(size_t)i * 2 + (size_t)AnimSet_GetCurrentIndex(set)])
                NodeExtra_UpdateBones(skin);
        }
        frame++;
    }
    state.SetItemsProcessed(state.iterations() * kModels);
    for (AnimSet* set : sets) AnimSet_Release(set);
}
BENCHMARK(BM_AnimSetsEvaluated)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
