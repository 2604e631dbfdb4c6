// The control modes played on the demo levels, each by a script of
// tests/e2e/scripts/levels_*.txt from a direct level start. The player's
// character (and so its mode) is chosen the way the game reads it: the
// run's copy of CharList.txt lists that character first, so player 0
// (character 0) plays it.
#include <gtest/gtest.h>

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

Result PlayAs(const ModeCase& c)
{
    GameRun run = LevelRun(std::string("levels-") + c.script, c.level, std::string(c.script) + ".txt");
    std::ofstream list(FreshFolder(run) / "DATA" / "CharList.txt", std::ios::trunc);
    list << c.character << "\n";
    for (const char* other : kCharacters)
        if (std::string(other) != c.character) list << other << "\n";
    list.close();
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

}  // namespace
