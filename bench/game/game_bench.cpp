// The game core's costs, measured inside the program: its start-up runs
// with the program's hook table and a game set-up that runs the benchmarks
// once every module is up (headless window, Direct3D 8 stand-in, dummy
// audio), in a folder of its own under the working folder.
//
//   SessionFrame/N   one level frame of N players without entities: the rules
//                    (clocks, events, every player's input) and the viewports
//                    (three views each, cleared and drawn), presented.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/main/program_hooks.h"
#include "app/shell.h"
#include "app/state.h"
#include "engine/objectworld.h"
#include "engine/view.h"
#include "game/game_context.h"
#include "game/level_session.h"
#include "game/viewports.h"
#include "platform/win32/mutex.h"

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
