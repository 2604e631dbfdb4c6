// The front end's and the menus' costs, measured inside the program: its
// start-up runs with the program's hook table and a game set-up that runs
// the benchmarks once every module is up (headless window, Direct3D 8
// stand-in, dummy audio), in a folder of its own under the working folder.
//
//   FrontEndFrame   one frame of the front end on a screen of 24 items, each
//                   with an image, a text and four secondary images, and a
//                   text file of 20 lines: pads, update, render, present.
//   MenuFrame       one frame of a menu page of 20 entries with images and
//                   texts: update and render (no present).
//   SaveCycle       a save written (temporary file, forced to the disk,
//                   renamed) and read back and applied.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "helm/front_end_hooks.h"
#include "helm/program_hooks.h"
#include "app/shell.h"
#include "app/state.h"
#include "app/text.h"
#include "engine/view.h"
#include "frontend/front_end.h"
#include "game/game_context.h"
#include "game/menu_system.h"
#include "game/players.h"
#include "game/save_game.h"
#include "platform/win32/mutex.h"
#include "tests/frontend/image_file.h"
#include "tools/lib/cfgc.h"

namespace {

void Write(const std::string& path, const std::string& bytes)
{
    std::filesystem::path p(path);
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

void WriteConfig(const char* name, const std::string& text)
{
    std::vector<uint8_t> bytes;
    CfgcError error;
    if (!Cfgc_Compile(text.data(), text.size(), &bytes, &error)) abort();
    Write("data/" + Cfgc_OutputPath(name), std::string(bytes.begin(), bytes.end()));
}

void WriteData()
{
    std::string items;
    for (int i = 0; i < 24; i++) {
        const std::string n = std::to_string(i);
        items += " Item" + n +
                 " {\n  Style = Scale|Fade|BobHi|ScaleIcon|TextCentre\n  Pos = " + std::to_string(40 + (i % 6) * 100) +
                 ", " + std::to_string(60 + (i / 6) * 80) + "\n  ImagePos = " + std::to_string(20 + (i % 6) * 100) +
                 ", " + std::to_string(40 + (i / 6) * 80) + "\n  Image = item.bmp\n  Text = LS_ITEM" + n +
                 "\n  ScaleHi = 1.2\n  ScaleLo = 0.9\n  BobHi = 2, 3\n";
        for (int d = 0; d < 4; d++)
            items += "  SecondaryImage" + std::to_string(d) + " = second.bmp\n  SecondaryPos" + std::to_string(d) +
                     " = " + std::to_string(400 + d * 40) + ", 300\n";
        items += " }\n";
    }
    WriteConfig(FRONTEND_CONFIG,
                "Settings {\n DemoWaitTime = 0\n}\nFrontEnd_Main {\n NoScene = TRUE\n TitleText = LS_TITLE\n"
                " TextFile = bench.tdf\n" +
                    items + "}\n");
    std::string lines = "Section0 {\n DisplayTime = 100\n FadeTime = 1\n";
    for (int l = 0; l < 20; l++)
        lines += " Item" + std::to_string(l) + " = 40, " + std::to_string(20 + l * 20) + ", 0.5\n Item" +
                 std::to_string(l) + "Text = A line of the benchmark's text file\n";
    WriteConfig("bench.tdf", lines + "}\n");
    std::string entries;
    for (int e = 0; e < 20; e++)
        entries +=
            "  e" + std::to_string(e) + " {\n   MenuItem = TRUE\n   TextPosition = 320, " +
            std::to_string(40 + e * 20) +
            "\n   TextLocalName = LS_ITEM1\n   TextScale = 0.8\n   TextSelScale = 1\n   TextScaleToSelTime = 0.2\n"
            "   TextCenter = TRUE\n   ImageColour = 20:20:80:160\n   ImagePosition = 160, " +
            std::to_string(30 + e * 20) + "\n   ImageSize = 320, 18\n   ImageSelSize = 330, 20\n  }\n";
    WriteConfig("Bench.cfg", "MenuData {\n page {\n" + entries + " }\n}\n");
    std::string texts = "LS_TITLE=Benchmark\n";
    for (int i = 0; i < 24; i++) texts += "LS_ITEM" + std::to_string(i) + "=Item number " + std::to_string(i) + "\n";
    for (int n = 1; n <= 8; n++)
        texts += "LS_MEMCARD_FILENAME" + std::to_string(n) + "=BENCH" + std::to_string(n) + "\n";
    Write("data/texts.txt", texts);
}

void FrontEndFrame(benchmark::State& state)
{
    GameState* fe = FrontEnd_CreateState();
    FrontEnd_GetMemory()->visited = 1;  // straight to Main
    for (int i = 0; i < 3; i++) App_FrameStep();
    if (!FrontEnd_Get() || FrontEnd_Get()->current != FRONTEND_MAIN) {
        state.SkipWithError("the front end did not start on Main");
        return;
    }
    for (auto _ : state) {
        App_SetFrameTime(1.0f / 60.0f);
        App_FrameStep();
    }
    state.counters["items"] = FrontEnd_CurrentScreen()->itemCount;
    FrontEnd_Exit(fe);
    State_Reset();
    State_Init();
}
BENCHMARK(FrontEndFrame)->Unit(benchmark::kMicrosecond);

void MenuFrame(benchmark::State& state)
{
    MenuSystem* menu = Menu_Load("Bench.cfg");
    if (!menu || !Menu_GoToByName(menu, "page", 1)) {
        state.SkipWithError("no menu");
        return;
    }
    Menu_SetOpen(menu, 1, 1);
    for (auto _ : state) {
        Menu_Update(menu);
        View_SetMainUpdating(1);
        Menu_Render(menu);
        View_SetMainUpdating(0);
    }
    state.counters["entries"] = menu->pages[0].entryCount;
    Menu_Free(menu);
}
BENCHMARK(MenuFrame)->Unit(benchmark::kMicrosecond);

void SaveCycle(benchmark::State& state)
{
    char name[64];
    Save_GetFileName(0, name, sizeof name);
    for (auto _ : state) {
        if (!Save_WriteGame('A', name) || !Save_ReadGame('A', name)) {
            state.SkipWithError("the save failed");
            return;
        }
    }
}
BENCHMARK(SaveCycle)->Unit(benchmark::kMicrosecond);

int g_argc;
char** g_argv;

int RunBenchmarks()
{
    fetest::WriteBitmap("data/item.bmp", 32, 32, 0xC85028);
    fetest::WriteBitmap("data/second.bmp", 32, 32, 0x2850C8);
    Game_ResetContext();
    Game_LoadFonts();
    Player_AssignDevices();
    Text_ParseFile("texts.txt");
    ProgramHooks_InstallStateHooks();
    benchmark::Initialize(&g_argc, g_argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    State_Reset();
    Game_ReleaseContext();
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    g_argc = argc;
    g_argv = argv;
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "helm_frontend_bench";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "data");
    std::filesystem::current_path(folder);
    WriteData();
    Mutex_SetTestName("helm-frontend-bench");  // beside a running game
    AppHooks hooks = ProgramHooks_Make();
    hooks.gameSetup = RunBenchmarks;
    AppHooks_Install(&hooks);
    static int instance;
    App_Main(&instance, nullptr, "-quiet", 1);
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(folder);
    return 0;
}
