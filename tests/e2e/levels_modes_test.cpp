// The control modes played on the demo levels, each by a script of
// tests/e2e/scripts/levels_*.txt from a direct level start (or through the
// front end, the split screens). The players' characters (and so their
// modes) are chosen the way the game reads them: the run's copy of
// CharList.txt lists the case's characters first, so player 0
// (character 0) plays the first. A capture with a golden of its name
// looks as before.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "e2e_fixture.h"
#include "platform/direct3d/d3d8_present.h"

namespace {

using namespace e2e;

constexpr const char* kCharacters[] = {"Hero", "Skate", "Top", "Broom", "Tilt", "Roller", "Critter", "Walker"};

struct ModeCase {
    const char* characters;  // the first lines of CharList.txt, blank-separated
    int level;               // 0: through the front end
    const char* script;      // tests/e2e/scripts/<script>.txt
};

Result PlayAs(const ModeCase& c)
{
    const std::string name = std::string("levels-") + c.script, script = std::string(c.script) + ".txt";
    GameRun run = c.level ? LevelRun(name, c.level, script) : GameRun{name, script};
    std::istringstream first(c.characters);
    std::vector<std::string> names{std::istream_iterator<std::string>(first), {}};
    for (const char* other : kCharacters)
        if (std::find(names.begin(), names.end(), other) == names.end()) names.push_back(other);
    std::ofstream list(FreshFolder(run) / "DATA" / "CharList.txt", std::ios::trunc);
    for (const std::string& n : names) list << n << "\n";
    list.close();
    run.cpuSeconds = 90;
    return RunGame(run);
}

// A capture named "*_whole*" shows a character dressed in green whole: its
// clothes (green above red and blue) touch no edge of the picture, and skin
// (its head) shows above them.
bool Whole(const fs::path& png)
{
    int w = 0, h = 0, top = INT_MAX, head = INT_MAX, edge = 0;
    std::unique_ptr<uint32_t[]> pixels(D3D8Present_ReadPng(png.c_str(), &w, &h));
    for (int i = 0; pixels && i < w * h; i++) {
        const int r = pixels[i] >> 16 & 255, g = pixels[i] >> 8 & 255, b = pixels[i] & 255, x = i % w, y = i / w;
        if (r > 180 && r > b + 50) head = std::min(head, y);
        if (g <= r + 30 || g <= b + 30) continue;
        top = std::min(top, y);
        edge |= x == 0 || y == 0 || x == w - 1 || y == h - 1;
    }
    return top < INT_MAX && !edge && head < top;
}

class LevelsModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(LevelsModes, TheModePlaysItsLevelAsScripted)
{
    E2E_REQUIRE_STAGE();
    const ModeCase& c = GetParam();
    const Result r = PlayAs(c);
    ASSERT_EQ(r.exitCode, 0) << c.characters << " on level " << c.level << ":\n" << r.output;
    EXPECT_EQ(Faults(r), "") << "the run logged faults";
    for (const auto& f : fs::directory_iterator(r.captures)) {
        EXPECT_EQ(fs::exists(GoldenDir() / f.path().filename()) ? MatchGolden(r, f.path().stem()) : "", "");
        EXPECT_TRUE(f.path().filename().string().find("_whole") == std::string::npos || Whole(f.path()))
            << f.path().filename();
    }
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
    // Every view of a split screen shows its own player's score and lives, whole and inside it; with three
    // the fourth quarter shows the filler picture.
    {"Hero Broom Hero Broom", 0, "levels_split_2"},
    {"Hero Broom Hero Broom", 0, "levels_split_3"},
    {"Hero Broom Hero Broom", 0, "levels_split_4"},
};

INSTANTIATE_TEST_SUITE_P(Demo, LevelsModes, ::testing::ValuesIn(kModes),
                         [](const auto& info) { return std::string(info.param.script).substr(7); });

}  // namespace
