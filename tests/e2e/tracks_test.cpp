// Every character on every race track, by the scripts tracks_demo.txt (the
// attract demo drawing it on the day track forwards: the run's character
// list names it in every place, every day track's file is this one's) and
// tracks_backwards.txt (the track started backwards directly).
#include <gtest/gtest.h>

#include <fstream>

#include "e2e_fixture.h"

namespace {

using namespace e2e;

using Character = std::pair<const char*, const char*>;  // its name and the control mode it plays in
const Character kCharacters[] = {{"Hero", "Man_CamRel"},  {"Skate", "Skater"},  {"Top", "BattleBlades"},
                                 {"Broom", "BroomStick"}, {"Tilt", "FakeTilt"}, {"Roller", "Ball"},
                                 {"Critter", "Skitter"},  {"Walker", "Man"}};

class Tracks : public ::testing::TestWithParam<Character> {};

TEST_P(Tracks, TheDemoDrivesTheCharacterRoundEachDayTrackAndItStandsOnEachTrackBackwards)
{
    E2E_REQUIRE_STAGE();
    const auto [character, mode] = GetParam();
    for (int track = 1; track <= 5; track++)
        for (const char* way : {"Forwards", "Backwards"}) {
            const bool demo = way[0] == 'F';
            GameRun run = LevelRun(std::string("tracks-") + character + way + std::to_string(track), 90, "");
            if (demo) run.args = {"-quiet"};
            const fs::path folder = FreshFolder(run);
            OnlyCharacter(folder, character);
            char source[64], name[64];
            snprintf(source, sizeof source, "levels/LandScape/Track%02d/T%02d_Day_%s.cfg", track, track, way);
            std::string message;
            ASSERT_TRUE(!demo || QuickAttract(folder, &message)) << message;
            for (int drawn = 1; drawn <= 5; drawn++) {
                snprintf(name, sizeof name, "levels\\LandScape\\Track%02d\\T%02d_Day_Forwards.cfg", drawn, drawn);
                ASSERT_TRUE(CompileAs(folder, source, demo ? name : "levels\\level90.cfg", &message)) << message;
            }
            run.script = (folder / "run.txt").string();
            std::ofstream(run.script) << "wait state == level timeout 40\nexpect mode == " << mode << "\n"
                                      << ReadFile(ScriptDir() / (demo ? "tracks_demo.txt" : "tracks_backwards.txt"));
            const Result r = RunGame(run);
            EXPECT_EQ(r.exitCode, 0) << source << ":\n" << r.output;
        }
}

INSTANTIATE_TEST_SUITE_P(Demo, Tracks, ::testing::ValuesIn(kCharacters),
                         [](const auto& info) { return std::string(info.param.first); });

}  // namespace
