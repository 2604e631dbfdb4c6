// Every character on the race tracks: drawn by the attract demo on each day
// track it starts with its feet on the road and the computer drives it round
// the lap on the road; started on each track backwards it stands on the road
// too, while the computer racers set off the backward way (from z = 2 towards
// -z). The demo gives the title back by itself after a minute.
#include <gtest/gtest.h>

#include <fstream>

#include "e2e_fixture.h"

namespace {

using namespace e2e;

struct Character {
    const char* name;
    const char* mode;  // the control mode it plays in
};
constexpr Character kCharacters[] = {{"Hero", "Man_CamRel"},  {"Skate", "Skater"},  {"Top", "BattleBlades"},
                                     {"Broom", "BroomStick"}, {"Tilt", "FakeTilt"}, {"Roller", "Ball"},
                                     {"Critter", "Skitter"},  {"Walker", "Man"}};
constexpr int kTracks = 5;

// The bottom of player 0's body on the ground below it, within 5 cm.
constexpr const char* kFeetOnTheRoad = "expect player.feet >= -0.05\nexpect player.feet <= 0.05\n";

// The data's source of track t's day file, forwards or backwards.
std::string DayTrack(int track, const char* way)
{
    char path[96];
    snprintf(path, sizeof path, "levels/LandScape/Track%02d/T%02d_Day_%s.cfg", track, track, way);
    return path;
}

// The run's character list: the character `copies` times, then the others.
void ListCharacter(const fs::path& folder, const char* character, int copies)
{
    std::ofstream list(folder / "DATA" / "CharList.txt", std::ios::trunc);
    for (int i = 0; i < copies; i++) list << character << "\n";
    for (const Character& other : kCharacters)
        if (copies == 1 && std::string(other.name) != character) list << other.name << "\n";
}

class Tracks : public ::testing::TestWithParam<Character> {};

TEST_P(Tracks, TheCharacterStartsWithItsFeetOnTheRoadOfEveryTrackBackwards)
{
    E2E_REQUIRE_STAGE();
    for (int track = 1; track <= kTracks; track++) {
        GameRun run = LevelRun(std::string("tracks-feet-") + GetParam().name + "-" + std::to_string(track), 90, "");
        const fs::path folder = FreshFolder(run);
        ListCharacter(folder, GetParam().name, 1);
        std::string message;
        ASSERT_TRUE(CompileAs(folder, DayTrack(track, "Backwards"), "levels\\level90.cfg", &message)) << message;
        run.script = (folder / "feet.txt").string();
        std::ofstream(run.script)
            << "wait state == level timeout 30\nexpect mode == " << GetParam().mode
            << "\nafter 0.5\ntap Return\nafter 2\n"
            << kFeetOnTheRoad
            << "expect entity.SkaterRacerBack.pos.z < 0\nexpect entity.TiltRacerBack.pos.z < 0\nend\n";
        const Result r = RunGame(run);
        EXPECT_EQ(r.exitCode, 0) << DayTrack(track, "Backwards") << ":\n" << r.output;
    }
}

// Whatever the demo draws, it draws this character (the list names it in
// every place) on this track (every day track's file is this one's). Forwards
// the lap runs from the start at (25, 0.5) by +z round the centre, through
// x < -15 and then z < -10; a key ends the demo then.
TEST_P(Tracks, TheAttractDemoDrivesTheCharacterRoundTheLapOfEachDayTrack)
{
    E2E_REQUIRE_STAGE();
    for (int track = 1; track <= kTracks; track++) {
        GameRun run{std::string("tracks-demo-") + GetParam().name + "-" + std::to_string(track), ""};
        const fs::path folder = FreshFolder(run);
        ListCharacter(folder, GetParam().name, 8);
        std::string message;
        ASSERT_TRUE(QuickAttract(folder, &message)) << message;
        for (int drawn = 1; drawn <= kTracks; drawn++) {
            char name[64];
            snprintf(name, sizeof name, "levels\\LandScape\\Track%02d\\T%02d_Day_Forwards.cfg", drawn, drawn);
            ASSERT_TRUE(CompileAs(folder, DayTrack(track, "Forwards"), name, &message)) << message;
        }
        run.script = (folder / "demo.txt").string();
        std::ofstream(run.script) << "wait screen == Title timeout 40\nwait state == level timeout 30\nexpect mode == "
                                  << GetParam().mode << "\nafter 2\n"
                                  << kFeetOnTheRoad
                                  << "wait player.pos.x < -15 timeout 20\nwait player.pos.z < -10 timeout 15\n"
                                  << kFeetOnTheRoad << "tap Space\nwait state == frontend timeout 10\nend\n";
        const Result r = RunGame(run);
        EXPECT_EQ(r.exitCode, 0) << GetParam().name << " on track " << track << ":\n" << r.output;
    }
}

INSTANTIATE_TEST_SUITE_P(Demo, Tracks, ::testing::ValuesIn(kCharacters),
                         [](const auto& info) { return std::string(info.param.name); });

// Whatever it draws, the demo plays a minute and gives the title back.
TEST(AttractDemo, EndsByItselfAfterAMinuteWhateverItDraws)
{
    E2E_REQUIRE_STAGE();
    GameRun run{"tracks-demo-end", ""};
    std::string message;
    ASSERT_TRUE(QuickAttract(FreshFolder(run), &message)) << message;
    run.script = (FolderOf(run) / "end.txt").string();
    std::ofstream(run.script) << "wait state == level timeout 40\nwait clock >= 55 timeout 60\nexpect state == level\n"
                                 "wait state == frontend timeout 10\nexpect screen == Title\nend\n";
    const Result r = RunGame(run);
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

}  // namespace
