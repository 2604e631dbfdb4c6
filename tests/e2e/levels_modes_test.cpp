// The control modes played on the demo levels, each by a script of
// tests/e2e/scripts/levels_*.txt from a direct level start. The player's
// character (and so its mode) is chosen the way the game reads it: the
// run's copy of CharList.txt lists that character first, so player 0
// (character 0) plays it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "e2e_fixture.h"

namespace {

using namespace e2e;

constexpr const char* kCharacters[] = {"Hero", "Skate", "Top", "Broom", "Tilt", "Roller", "Critter", "Walker"};

struct ModeCase {
    const char* character;
    int level;
    const char* script;  // tests/e2e/scripts/<script>.txt
};

// The run's folder, its CharList.txt listing these characters first and the others after.
fs::path WithCharacters(GameRun& run, const std::vector<std::string>& first)
{
    const fs::path folder = FreshFolder(run);
    std::ofstream list(folder / "DATA" / "CharList.txt", std::ios::trunc);
    for (const std::string& name : first) list << name << "\n";
    for (const char* other : kCharacters)
        if (std::find(first.begin(), first.end(), other) == first.end()) list << other << "\n";
    return folder;
}

Result PlayAs(const ModeCase& c)
{
    GameRun run = LevelRun(std::string("levels-") + c.script, c.level, std::string(c.script) + ".txt");
    WithCharacters(run, {c.character});
    run.timeoutSeconds = 90;
    return RunGame(run);
}

class LevelsModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(LevelsModes, TheModePlaysItsLevelAsScripted)
{
    E2E_REQUIRE_STAGE();
    const ModeCase& c = GetParam();
    const Result r = PlayAs(c);
    ASSERT_EQ(r.exitCode, 0) << c.character << " on level " << c.level << ":\n" << r.output;
    EXPECT_EQ(Faults(r), "") << "the run logged faults";
}

// What each mode does on its level is told at the head of its script.
const ModeCase kModes[] = {
    {"Hero", 1, "levels_hero_meadow"},
    {"Walker", 5, "levels_walker_ledges"},
    {"Tilt", 5, "levels_tilt_ledges"},
    {"Roller", 5, "levels_roller_ledges"},
    {"Skate", 3, "levels_skate_rink"},
    {"Top", 4, "levels_top_arena"},
    {"Broom", 6, "levels_broom_sky"},
    {"Hero", 2, "levels_possess_menagerie"},
    {"Hero", 2, "levels_butterfly_menagerie"},
    {"Hero", 2, "levels_flitter_menagerie"},
    {"Hero", 2, "levels_creatures_menagerie"},
    {"Hero", 2, "levels_thrusting_menagerie"},
    {"Hero", 1, "levels_fights_meadow"},
    {"Critter", 1, "levels_critter_meadow"},
    {"Hero", 15, "levels_rule_timeover"},
    {"Hero", 12, "levels_rule_bestscore"},
    {"Hero", 11, "levels_rule_scorepickups"},
    {"Hero", 13, "levels_rule_beattime"},
    {"Hero", 14, "levels_rule_hidden"},
    {"Hero", 16, "levels_rule_race"},
};

INSTANTIATE_TEST_SUITE_P(Demo, LevelsModes, ::testing::ValuesIn(kModes),
                         [](const auto& info) { return std::string(info.param.script).substr(7); });

// Split screens made on the front end (scripts split_<players>.txt): every
// player's view shows that player's score and lives, whole and inside the
// view: two views one above the other, and four quarters, also on a
// wide window (the texts stretched with the views; its own golden, since
// the views' fine checks and stripes fall on other pixels at another size).
TEST(SplitScreens, EveryViewShowsItsPlayersScoreAndLives)
{
    E2E_REQUIRE_STAGE();
    if (!StageHasConfig("FrontEnd\\FrontEnd.cfg")) GTEST_SKIP() << "the stage has no front end yet";
    const int rows[][3] = {{2, 640, 480}, {4, 640, 480}, {4, 1280, 720}};  // players, width, height
    std::vector<GameRun> runs;
    std::vector<pid_t> pids;
    for (const auto& [players, width, height] : rows) {
        GameRun run{"split-" + std::to_string(players) + "-" + std::to_string(width),
                    "split_" + std::to_string(players) + ".txt"};
        WithCharacters(run, {"Hero", "Broom", "Hero", "Broom"});
        run.args.insert(run.args.end(), {"-Width", std::to_string(width), "-Height", std::to_string(height)});
        runs.push_back(run);
        pids.push_back(Start(run));
    }
    for (size_t i = 0; i < runs.size(); i++) {
        const Result r = Wait(runs[i], pids[i]);
        ASSERT_EQ(r.exitCode, 0) << runs[i].name << ":\n" << r.output;
        const std::string capture = "split-" + std::to_string(rows[i][0]);
        EXPECT_EQ(MatchGolden(r, capture, capture + (rows[i][1] == 640 ? "" : "-wide")), "") << runs[i].name;
    }
}

}  // namespace
