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

const ModeCase kModes[] = {
    // Man_CamRel: a jump's height, score pickups, the checkpoint, the kill
    // area's lost life and return, the gate's swing, the end trigger ending
    // the level.
    {"Hero", 1, "levels_hero_meadow"},
    // Man: walks along its facing, turns (the facing survives the body's
    // sync, so the next walk goes the new way) and jumps.
    {"Walker", 5, "levels_walker_ledges"},
    // FakeTilt: walks off the ledge into the pit, whose death area makes it
    // lose and restarts the level.
    {"Tilt", 5, "levels_tilt_ledges"},
    // Ball: fades near the view's origin, rolls under a push, a long fall
    // restarts the level once.
    {"Roller", 5, "levels_roller_ledges"},
    // Skater: its up tilts on the kicker and stands upright again on the
    // flat; it pushes and steers in the bowl; the computer skater rides its
    // route.
    {"Skate", 3, "levels_skate_rink"},
    // BattleBlades on a game controller alone: the stick drives the top, the
    // computer top closes in and the clashes cost health; element changes
    // spend blades, and the spin runs down.
    {"Top", 4, "levels_top_arena"},
    // BroomStick: the accelerator carries it through the sky course's rings,
    // which score, to the end trigger, whose end area unlocks a rule.
    {"Broom", 6, "levels_broom_sky"},
    // Possession: the Hero takes over a creature of level 2, whose mode
    // (ScreenRel) then moves nothing.
    {"Hero", 2, "levels_possess_menagerie"},
    // Butterfly: climbs under 0x40, glides down, hands the Hero back.
    {"Hero", 2, "levels_butterfly_menagerie"},
    // Flitter: runs forward under 0x1 and hands the Hero back ahead of it.
    {"Hero", 2, "levels_flitter_menagerie"},
    // AirPlane turns under the stick and puts the Hero down ahead of its
    // nose; CameraMode then turns only the view.
    {"Hero", 2, "levels_creatures_menagerie"},
    // Thrusting: taken over, it stays where it is whatever the input.
    {"Hero", 2, "levels_thrusting_menagerie"},
    // The Skitter's AI against the Hero: a bolt and a close attack hurt it,
    // its bite hurts the Hero.
    {"Hero", 1, "levels_fights_meadow"},
    // Skitter as a player (the Critter): the meadow's Skitter goes for it;
    // a fall off the meadow restarts the level once.
    {"Critter", 1, "levels_critter_meadow"},
    // Rules on level 1's scene: "countDownMustComplete" left idle ends in
    // "timeOver", "countDown" in "newBestScore" and counts down again after
    // its retry; "scorePickups" and "beatTime" complete through their
    // unlock pages, "hiddenPickups" once both hidden pickups are taken
    // ("normal" completes above); "race" has no goal and is left through
    // the pause menu.
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
