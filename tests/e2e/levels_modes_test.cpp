// The control modes played on the demo levels, each by a script of
// tests/e2e/scripts/levels_*.txt from a direct level start. The player's
// character (and so its mode) is chosen the way the game reads it: the
// run's copy of CharList.txt lists that character only, so player 0 plays it.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <memory>

#include "e2e_fixture.h"
#include "platform/direct3d/d3d8_present.h"

namespace {

using namespace e2e;

struct ModeCase {
    const char* character;
    int level;
    const char* script;  // tests/e2e/scripts/<script>.txt
};

Result PlayAs(const ModeCase& c)
{
    GameRun run = LevelRun(std::string("levels-") + c.script, c.level, std::string(c.script) + ".txt");
    OnlyCharacter(FreshFolder(run), c.character);
    run.timeoutSeconds = 90;
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
    ASSERT_EQ(r.exitCode, 0) << c.character << " on level " << c.level << ":\n" << r.output;
    EXPECT_EQ(Faults(r), "") << "the run logged faults";
    for (const auto& capture : fs::directory_iterator(r.captures))
        EXPECT_TRUE(capture.path().filename().string().find("_whole") == std::string::npos || Whole(capture.path()))
            << capture.path().filename();
}

// What each mode does on its level is told at the head of its script.
const ModeCase kModes[] = {
    {"Hero", 1, "levels_hero_meadow"},         {"Walker", 5, "levels_walker_ledges"},
    {"Tilt", 5, "levels_tilt_ledges"},         {"Roller", 5, "levels_roller_ledges"},
    {"Skate", 3, "levels_skate_rink"},         {"Top", 4, "levels_top_arena"},
    {"Broom", 6, "levels_broom_sky"},          {"Hero", 2, "levels_possess_menagerie"},
    {"Hero", 2, "levels_butterfly_menagerie"}, {"Hero", 2, "levels_flitter_menagerie"},
    {"Hero", 2, "levels_creatures_menagerie"}, {"Hero", 2, "levels_thrusting_menagerie"},
    {"Hero", 1, "levels_fights_meadow"},       {"Critter", 1, "levels_critter_meadow"},
    {"Hero", 15, "levels_rule_timeover"},      {"Hero", 12, "levels_rule_bestscore"},
    {"Hero", 11, "levels_rule_scorepickups"},  {"Hero", 13, "levels_rule_beattime"},
    {"Hero", 14, "levels_rule_hidden"},        {"Hero", 16, "levels_rule_race"},
};

INSTANTIATE_TEST_SUITE_P(Demo, LevelsModes, ::testing::ValuesIn(kModes),
                         [](const auto& info) { return std::string(info.param.script).substr(7); });

}  // namespace
