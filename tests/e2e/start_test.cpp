// The program on the demo stage: the stage every case copies, filled once
// with the caches the game makes, and the first thing a player sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "e2e_fixture.h"

namespace {

using namespace e2e;

// The level numbers the data set has ("levelN.cfg" among its sources).
std::vector<int> DemoLevels()
{
    std::vector<int> levels;
    const fs::path dir = SourceDir() / "data" / "configs" / "levels";
    std::error_code ec;
    const std::regex name("level([0-9]+)\\.cfg", std::regex::icase);
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        std::smatch m;
        const std::string file = entry.path().filename().string();
        if (std::regex_match(file, m, name)) levels.push_back(std::stoi(m[1]));
    }
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

TEST(StartTest, ADirectStartPlaysTheLevelOfTheCommandLine)
{
    E2E_REQUIRE_STAGE();
    GameRun run = LevelRun("level-start", 1, "level_start.txt");
    const Result r = RunGame(run);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(MatchGolden(r, "level1_start"), "");
    // The level itself, its HUD's corner included.
    EXPECT_EQ(MatchGolden(r, "level1_play"), "");
}

}  // namespace
