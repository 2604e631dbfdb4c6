// The program on the demo stage: the stage every case copies, filled once
// with the caches the game makes, and the first thing a player sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "e2e_fixture.h"

namespace {

using namespace e2e;

// The level numbers the data set has ("levelN.cfg" among its sources).
std::vector<int> DemoLevels()
{
    std::vector<int> levels;
    for (const auto& entry : fs::directory_iterator(SourceDir() / "data" / "configs" / "levels"))
        if (int n = 0; sscanf(entry.path().filename().c_str(), "level%d.cfg", &n) == 1) levels.push_back(n);
    std::sort(levels.begin(), levels.end());
    return levels;
}

// The CTest fixture's set-up: build/stage copied, then one run on the front
// end and one per level, so every cache the game generates (meshes, scene
// and sequence lists) is made once for all cases, and the cases see the
// game as a player's second start does.
TEST(StageSetup, MakesTheCaches)
{
    const fs::path built = BinaryDir() / "stage";
    if (!fs::exists(built / "game.ver")) GTEST_SKIP() << "no demo stage at " << built;
    std::error_code ec;
    fs::remove_all(CachedStage(), ec);
    CopyTree(built, CachedStage());
    for (const auto& entry : fs::directory_iterator(TempDir()))
        if (entry.path().filename().string().rfind("run-stage-setup", 0) == 0) fs::remove_all(entry.path(), ec);
    GameRun front;
    front.name = "stage-setup";
    front.stage = CachedStage();
    front.script = "title.txt";
    const Result title = RunGame(front);
    ASSERT_EQ(title.exitCode, 0) << title.output;
    for (int level : DemoLevels()) {
        GameRun run = LevelRun("stage-setup-level" + std::to_string(level), level, "cache_level.txt");
        run.stage = CachedStage();
        const Result r = RunGame(run);
        ASSERT_EQ(r.exitCode, 0) << "level " << level << ":\n" << r.output;
    }
    // The runs' caches, back into the shared stage (saves stay out).
    for (const auto& entry : fs::directory_iterator(TempDir())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("run-stage-setup", 0) != 0) continue;
        const fs::path cache = entry.path() / "DATA" / "Cache";
        if (fs::exists(cache)) CopyTree(cache, CachedStage() / "DATA" / "Cache");
    }
    std::ofstream(CachedStage() / kStageReady) << "made by StageSetup.MakesTheCaches\n";
}

// The first screens at the window sizes the device dialog offers besides
// 640 x 480 (800 x 600 its default, and a wide 1280 x 720): everything on
// the 640 x 480 virtual screen, sprites and texts alike, shows where the
// 640 x 480 golden has it, stretched onto the window as the 3D views are.
// Each size plays the front tour's script up to its picture of Main (so the
// frames are those of its goldens) and a direct start of level 1, with its
// HUD and its pause menu. The 800 x 600 front starts through the dialog, as
// a player does who starts the program without options: nobody answers it,
// so its default, full screen, plays the clip (without a sound device).
TEST(StartTest, TheFirstScreensAndADirectStartLookAtEverySizeAsAt640x480)
{
    E2E_REQUIRE_STAGE();
    if (!StageHasConfig("FrontEnd\\FrontEnd.cfg")) GTEST_SKIP() << "the stage has no front end yet";
    const fs::path frontScript = TempDir() / "front_first_screens.txt";
    {
        std::ifstream tour(ScriptDir() / "front_screens.txt");
        std::ofstream first(frontScript);
        for (std::string line; std::getline(tour, line);) {
            first << line << "\n";
            if (line == "capture front-main") break;
        }
        first << "after 0.1\nend\n";
    }
    struct Row {
        int width, height;
    };
    const Row rows[] = {{640, 480}, {800, 600}, {1280, 720}};
    std::vector<GameRun> runs;
    for (const Row& row : rows) {
        const std::string size = std::to_string(row.width) + "x" + std::to_string(row.height);
        GameRun front{"sizes-front-" + size, frontScript.string()};
        if (row.width == 800) {
            front.args = {};
            front.env = kNoSoundDevice;
        }
        for (GameRun run : {front, LevelRun("sizes-level-" + size, 1, "level_start.txt")}) {
            run.args.insert(run.args.end(),
                            {"-Width", std::to_string(row.width), "-Height", std::to_string(row.height)});
            runs.push_back(run);
        }
    }
    std::vector<pid_t> pids;
    for (const GameRun& run : runs) pids.push_back(Start(run));
    std::vector<Result> results;
    for (size_t i = 0; i < runs.size(); i++) results.push_back(Wait(runs[i], pids[i]));
    for (size_t i = 0; i < runs.size(); i++) {
        const Result& r = results[i];
        ASSERT_EQ(r.exitCode, 0) << runs[i].name << ":\n" << r.output;
        const bool native = rows[i / 2].width == 640;
        EXPECT_TRUE(runs[i].env.empty() || SaidOnlyItPlaysSilent(r)) << r.output;
        const std::vector<std::string> captures =
            i % 2 ? std::vector<std::string>{"level1_start", "level1_play", "level1_pause"}
                  : std::vector<std::string>{"front-title", "front-main"};
        for (const std::string& capture : captures)
            EXPECT_EQ(native ? MatchGolden(r, capture) : MatchScaledGolden(r, capture), "") << runs[i].name;
    }
}

}  // namespace
