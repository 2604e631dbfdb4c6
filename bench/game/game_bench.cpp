// The game core's costs, measured inside the program: its start-up runs
// with the program's hook table and a game set-up that runs the benchmarks
// once every module is up (headless window, Direct3D 8 stand-in, dummy
// audio), in a folder of its own under the working folder.
//
//   SessionFrame/N   one level frame of N players without entities: the rules
//                    (clocks, events, every player's input) and the viewports
//                    (three views each, cleared and drawn), presented.
//   LevelLoad/cached:0|1  the level state's entry with a test level (a
//                    2,048-triangle ground with its concave body, 24 crates
//                    sharing one mesh, four player starts): cold, with the
//                    converted meshes, scene and shapes dropped from the
//                    cache before each load, or from the caches.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/cache.h"
#include "helm/program_hooks.h"
#include "app/shell.h"
#include "app/state.h"
#include "common/list.h"
#include "engine/objectworld.h"
#include "engine/view.h"
#include "game/game_context.h"
#include "game/level_session.h"
#include "game/level_state.h"
#include "game/race_setup.h"
#include "game/viewports.h"
#include "platform/win32/mutex.h"
#include "tools/lib/cfgc.h"
#include "tools/lib/lwowrite.h"
#include "tools/lib/lwswrite.h"

namespace {

void SessionFrame(benchmark::State& state)
{
    const int players = (int)state.range(0);
    ObjectWorld_Init();
    Game_ResetContext();
    Rules_Init();
    LevelSession* s = Level_GetSession();
    s->numViewports = (uint32_t)players;
    for (int p = 0; p < players; p++) {
        Game_GetContext()->playerKinds[p] = PLAYER_KIND_HUMAN;
        Player_SetViewportIndex(p, p);
        Level_GetViewportRect(players, p, s->viewports[p].rect);
    }
    if (!Level_SetupViewports(1, 0xFF000000u, 0.0f, 0.0f)) {
        state.SkipWithError("no viewports");
        return;
    }
    for (auto _ : state) {
        Rules_Update(0.016f);
        View_SetMainUpdating(1);
        Level_UpdateViewports();
        View_SetMainUpdating(0);
        View_ShowRaster();
    }
    state.counters["views"] = 3.0 * players;
    Rules_Shutdown();
    Game_ReleaseContext();
    ObjectWorld_Shutdown();
}
BENCHMARK(SessionFrame)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond);

// A data file under "data/", folders made.
void WriteData(const std::string& name, const std::string& bytes)
{
    std::string path = "data/" + name;
    for (char& c : path)
        if (c == '\\') c = '/';
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), (std::streamsize)bytes.size());
}

bool WriteConfig(const char* source, const std::string& text)
{
    std::vector<uint8_t> bytes;
    CfgcError error;
    if (!Cfgc_Compile(text.data(), text.size(), &bytes, &error)) return false;
    WriteData(Cfgc_OutputPath(source), std::string(bytes.begin(), bytes.end()));
    return true;
}

// The bytes of a one-layer object whose polygons all take one surface.
std::string ObjectBytes(const char* surfaceName, const LwoWriterLayer& layer)
{
    LwoWriterObject object;
    object.tags = {surfaceName};
    LwoWriterSurface surface;
    surface.name = surfaceName;
    object.surfaces.push_back(surface);
    object.layers.push_back(layer);
    const std::vector<uint8_t> bytes = LwoWriter_Write(object);
    return std::string(bytes.begin(), bytes.end());
}

// A flat square of cells x cells quads, two triangles each.
std::string Grid(int cells, float size)
{
    LwoWriterLayer layer;
    const float step = size / (float)cells;
    for (int z = 0; z <= cells; z++)
        for (int x = 0; x <= cells; x++)
            layer.points.insert(layer.points.end(), {x * step - size / 2, 0.0f, z * step - size / 2});
    for (int z = 0; z < cells; z++)
        for (int x = 0; x < cells; x++) {
            const uint32_t a = (uint32_t)(z * (cells + 1) + x), b = a + 1, c = a + (uint32_t)cells + 1, d = c + 1;
            layer.polygons.push_back({{a, c, b}, 0});
            layer.polygons.push_back({{b, c, d}, 0});
        }
    return ObjectBytes("Ground", layer);
}

// A cube of the given half size, twelve triangles facing out.
std::string Box(float h)
{
    LwoWriterLayer layer;
    for (int i = 0; i < 8; i++)
        layer.points.insert(layer.points.end(), {i & 1 ? h : -h, i & 2 ? h : -h, i & 4 ? h : -h});
    const uint32_t faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto& f : faces) {
        layer.polygons.push_back({{f[0], f[1], f[2]}, 0});
        layer.polygons.push_back({{f[0], f[2], f[3]}, 0});
    }
    return ObjectBytes("Crate", layer);
}

std::string ObjectFile(const char* model, const char* extra)
{
    return std::string("Object {\n Description {\n  VisualModel = ") + model + "\n  PhysicalModel = " + model + "\n" +
           extra +
           "  Constructor = GenericObject_Constructor\n  Update = GenericObject_Update\n"
           "  Destructor = GenericObject_Destructor\n  Collision = GenericObject_Collision\n }\n}\n";
}

bool WriteBenchLevel()
{
    WriteData("Levels\\Bench\\Ground.lwo", Grid(32, 64.0f));
    WriteData("Levels\\Bench\\Crate.lwo", Box(0.5f));
    LwsWriterScene scene;
    auto place = [&](LwsWriterItem::Kind kind, const char* name, float x, float z) {
        LwsWriterItem item;
        item.kind = kind;
        item.name = name;
        LwsWriterKey key;
        key.position[0] = x;
        key.position[2] = z;
        item.keys.push_back(key);
        scene.items.push_back(item);
    };
    place(LwsWriterItem::OBJECT, "Ground.lwo", 0, 0);
    for (int i = 0; i < 24; i++) place(LwsWriterItem::OBJECT, "Crate.lwo", (float)(i % 6) * 3, (float)(i / 6) * 3);
    for (int p = 0; p < 4; p++) place(LwsWriterItem::NUL, "PlayerStart_Null", (float)p * 2, -10);
    WriteData("Levels\\Bench\\Bench.lws", LwsWriter_Write(scene));
    return WriteConfig("Levels\\Bench\\Ground.cfg",
                       ObjectFile("Levels\\Bench\\Ground.lwo", "  Concave = TRUE\n  Mass = 0\n")) &&
           WriteConfig("Levels\\Bench\\Crate.cfg", ObjectFile("Levels\\Bench\\Crate.lwo", "  Mass = 0\n")) &&
           WriteConfig("levels\\bench.cfg",
                       "game {\n Level {\n levelscene = Levels\\Bench\\Bench.lws\n"
                       " levelConfigs = Levels\\Bench\n levelToUnlock = 3\n }\n}\n");
}

// Drops what the loads converted (meshes, scene, shapes), keeping the
// compiled configurations.
void DropConvertedCaches()
{
    std::error_code ec;
    std::vector<std::filesystem::path> drop;
    for (const auto& entry : std::filesystem::recursive_directory_iterator("data", ec))
        if (entry.is_regular_file() && entry.path().string().find("Cache") != std::string::npos &&
            entry.path().extension() != ".cfb")
            drop.push_back(entry.path());
    for (const auto& path : drop) std::filesystem::remove(path, ec);
}

void LevelLoad(benchmark::State& state)
{
    const bool cached = state.range(0) != 0;
    if (!WriteBenchLevel()) {
        state.SkipWithError("the level's configurations did not compile");
        return;
    }
    Cache_Init(6);
    Game_ResetContext();
    Game_RecreatePhysicsWorld();
    GameSetup_Reset();
    GameSetup_SetLevel("bench.cfg", 0);
    uint32_t objects = 0;
    auto load = [&]() { Level_Init(Level_CreateState()); };
    auto unload = [&]() {
        objects = List_Count(Level_GetObjectList());
        Level_Exit(State_GetCurrent());
        State_Reset();
        State_Init();
    };
    if (cached) {
        load();  // fills the caches
        unload();
    }
    for (auto _ : state) {
        if (!cached) {
            state.PauseTiming();
            DropConvertedCaches();
            state.ResumeTiming();
        }
        load();
        state.PauseTiming();
        unload();
        state.ResumeTiming();
    }
    state.counters["objects"] = objects;
    Game_ReleaseContext();
}
BENCHMARK(LevelLoad)->Arg(0)->Arg(1)->ArgNames({"cached"})->Unit(benchmark::kMillisecond);

int g_argc;
char** g_argv;

int RunBenchmarks()
{
    benchmark::Initialize(&g_argc, g_argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    g_argc = argc;
    g_argv = argv;
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "helm_game_bench";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "data");
    std::filesystem::current_path(folder);
    Mutex_SetTestName("helm-game-bench");  // beside a running game
    AppHooks hooks = ProgramHooks_Make();
    hooks.gameSetup = RunBenchmarks;
    AppHooks_Install(&hooks);
    static int instance;
    App_Main(&instance, nullptr, "-quiet", 1);
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(folder);
    return 0;
}
