// Every level of the demo data loads clean: started directly, each runs
// under its own rule with the player's mode, every named object stands
// where its scene puts it, and the game logs nothing (a missing file, an
// unbound callback, a key a mode can't do without and a refused value
// are all logged).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "e2e_fixture.h"
#include "tools/lib/cfgc.h"

namespace {

using namespace e2e;

struct LevelCase {
    const char* file;     // "levels\\level1.cfg" as the game names it
    const char* rule;     // the level's own rule
    const char* objects;  // probe lines: objects and entities by name, where the scene puts them
};

// A script that waits for the level, checks it and lets it run a moment.
std::string LoadScript(const std::string& level, const LevelCase& c)
{
    std::string s = "wait state == level timeout 30\nexpect level == " + level + "\nexpect rule == " + c.rule + "\n";
    s += "expect mode == Man_CamRel\n";
    s += c.objects;
    s += "after 0.5\ntap Return\nafter 0.5\nexpect state == level\ncapture loaded\nend\n";
    return s;
}

// Runs the level (its compiled file copied under "levels\\level<number>.cfg"
// when it has another name) and returns the run's output.
Result LoadLevel(const LevelCase& c, int number, const std::string& name)
{
    const std::string level = "level" + std::to_string(number) + ".cfg", asNamed = "levels\\" + level;
    GameRun run = LevelRun(name, number, "");
    const fs::path folder = FreshFolder(run);
    if (asNamed != c.file) {
        // The level start asks for "levelN.cfg": the track's own file takes that name.
        std::string source = c.file;
        std::replace(source.begin(), source.end(), '\\', '/');
        Result r;
        if (!CompileAs(folder, source, asNamed.c_str(), &r.output)) return r;
    }
    run.script = (folder / "load.txt").string();
    std::ofstream(run.script) << LoadScript(level, c);
    run.timeoutSeconds = 60;
    return RunGame(run);
}

constexpr const char* kMeadow =
    "expect entity.Ground.pos == 0,0,0.01 0.01\n"
    "expect entity.Checkpoint.pos == 0,0.5,2 0.01\n"
    "expect entity.KillArea.pos == -4,0.5,2 0.01\n"
    "expect entity.EndArea.pos == 0,0.05,8 0.01\n"
    "expect entity.EndTrigger.pos == 0,0.5,8 0.01\n"
    "expect entity.Springboard.pos == -5,0.5,-4 0.01\n"
    "expect entity.Water.pos == 9,0,-6 0.01\n"
    "expect entity.Ramp.pos == -7,0,4 0.01\n"
    "expect entity.Post.pos == 8,1,2 0.01\n"
    "expect entity.Gate.pos == 9.45,0.85,2 0.1\n"
    "expect entity.Platform.pos == -10,0.5,-10 1.5\n"
    "expect entity.Skitter.pos == -12,0.5,12 1.5\n"
    "expect entity.Hidden.pos != 0,0,0\n"
    "expect entity.Pickup.pos != 0,0,0\n"
    "expect player.pos == 0,0.5,-10 0.05\n";

const LevelCase kLevels[] = {
    {"levels\\level1.cfg", "normal", kMeadow},
    {"levels\\level2.cfg", "scorePickups",
     "expect entity.Flitter.pos == -7.5,0.5,3 0.2\nexpect entity.Butterfly.pos == -4.5,0.5,3 0.2\n"
     "expect entity.AirPlane.pos == -1.5,0.5,3 0.2\nexpect entity.CameraMode.pos == 1.5,0.5,3 0.2\n"
     "expect entity.ScreenRel.pos == 4.5,0.5,3 0.2\nexpect entity.Thrusting.pos == 7.5,0.5,3 0.2\n"
     "expect entity.Pen.pos == 0,0,0.01 0.01\n"},
    {"levels\\level3.cfg", "race", "expect entity.RinkBowl.pos == 0,4,0.01 0.01\nexpect entity.SkaterAI.pos != 0,0,0\n"},
    {"levels\\level4.cfg", "normal",
     "expect entity.ArenaDish.pos == 0,0,0.01 0.01\nexpect entity.Magnet.pos == 0.01,-1.4,0.01 0.01\n"
     "expect entity.TopAI.pos != 0,0,0\n"},
    {"levels\\level5.cfg", "normal",
     "expect entity.DeathArea.pos == 0.01,-9,13 0.01\nexpect entity.Ledge.pos != 0,0,0\n"
     "expect entity.Slope.pos == 0,-9.5,17 0.01\n"},
    {"levels\\level6.cfg", "beatTime",
     "expect entity.Ring.pos != 0,0,0\nexpect entity.Target.pos == 6,12.8,20 0.01\n"
     "expect entity.EndArea.pos == 0,9.5,55 0.01\n"},
    {"levels\\level11.cfg", "scorePickups", kMeadow},
    {"levels\\level12.cfg", "countDown", kMeadow},
    {"levels\\level13.cfg", "beatTime", kMeadow},
    {"levels\\level14.cfg", "hiddenPickups", kMeadow},
    {"levels\\level15.cfg", "countDownMustComplete", kMeadow},
    {"levels\\level16.cfg", "race", kMeadow},
};

class LevelsLoad : public ::testing::TestWithParam<LevelCase> {};

TEST_P(LevelsLoad, EachLevelLoadsWithEveryObjectInPlaceAndNothingLogged)
{
    E2E_REQUIRE_STAGE();
    const LevelCase& c = GetParam();
    const std::string number = std::string(c.file).substr(12, std::string(c.file).size() - 16);
    const Result r = LoadLevel(c, std::stoi(number), "levels-load-" + number);
    ASSERT_EQ(r.exitCode, 0) << c.file << ":\n" << r.output;
    EXPECT_EQ(Faults(r), "") << c.file << " logged faults";
    EXPECT_TRUE(fs::exists(r.captures / "loaded.png"));
}

INSTANTIATE_TEST_SUITE_P(Demo, LevelsLoad, ::testing::ValuesIn(kLevels), [](const auto& info) {
    std::string name = info.param.file + 7;
    return name.substr(0, name.size() - 4);
});

// The twenty race tracks: each loads under "race" with its two computer racers.
TEST(LevelsLoad, EveryTrackLoadsWithItsRacersAndNothingLogged)
{
    E2E_REQUIRE_STAGE();
    int made = 0;
    for (int track = 1; track <= 5; ++track)
        for (const char* day : {"Day", "Night"})
            for (const char* way : {"Forwards", "Backwards"}) {
                char file[128];
                snprintf(file, sizeof file, "levels\\LandScape\\Track%02d\\T%02d_%s_%s.cfg", track, track, day, way);
                const bool back = std::string(way) == "Backwards";
                const std::string racers = back ? "expect entity.SkaterRacerBack.pos != 0,0,0\n"
                                                  "expect entity.TiltRacerBack.pos != 0,0,0\n"
                                                : "expect entity.SkaterRacer.pos != 0,0,0\n"
                                                  "expect entity.TiltRacer.pos != 0,0,0\n";
                char road[64];
                snprintf(road, sizeof road, "expect entity.Road%d.pos == 0,0,0.01 0.01\n", track);
                const std::string objects =
                    racers + road + (day[0] == 'N' ? "expect fogged > 0\n" : "expect fogged == 0\n");
                const LevelCase c = {file, "race", objects.c_str()};
                const Result r = LoadLevel(c, 90 + made, "levels-track-" + std::to_string(made));
                made++;
                EXPECT_EQ(r.exitCode, 0) << file << ":\n" << r.output;
                EXPECT_EQ(Faults(r), "") << file << " logged faults";
            }
    EXPECT_EQ(made, 20);
}

}  // namespace
