// Every level of the demo data loads clean: started directly, each runs
// under its own rule with the player's mode, every named object stands
// where its scene puts it (scripts/objects_<scene>.txt), and the game logs
// nothing (a missing file, an unbound callback, a key a mode can't do
// without and a refused value are all logged); a player who only holds a
// direction from the start meets no end of the level.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>

#include "e2e_fixture.h"
#include "platform/direct3d/d3d8_present.h"
#include "tools/lib/cfgc.h"

namespace {

using namespace e2e;

struct LevelCase {
    const char* file;     // "levels\\level1.cfg" as the game names it
    const char* rule;     // the level's own rule
    const char* objects;  // its scene's probe lines: objects and entities where the scene puts them
    // The directions held from the start, each for 3 s: all four on the Meadow, Up (the start's straight line)
    // on the other levels with an end, none where no end can be met (no end area, or a rule without a goal).
    const char* held = "";
    const char* character = "Hero";  // the player's, and its mode
    const char* mode = "Man_CamRel";
};

// Runs the level (its compiled file copied under "levels\\level<number>.cfg"
// when it has another name) with a script that waits for it, checks it (the
// first frame that shows the level shows the player's character), lets it
// run a moment and then plays `play`; returns the run's output.
Result LoadLevel(const LevelCase& c, int number, const std::string& name, const std::string& play = "")
{
    const std::string level = "level" + std::to_string(number) + ".cfg", asNamed = "levels\\" + level;
    GameRun run = LevelRun(name, number, "");
    const fs::path folder = FreshFolder(run);
    OnlyCharacter(folder, c.character);
    if (asNamed != c.file) {
        // The level start asks for "levelN.cfg": the track's own file takes that name.
        std::string source = c.file;
        std::replace(source.begin(), source.end(), '\\', '/');
        Result r;
        if (!CompileAs(folder, source, asNamed.c_str(), &r.output)) return r;
    }
    run.script = (folder / "load.txt").string();
    std::ofstream(run.script) << "wait state == level timeout 30\nexpect level == " << level
                              << "\nexpect rule == " << c.rule << "\nexpect mode == " << c.mode << "\n"
                              << c.objects
                              << "after 0.5\ntap Return\nwait covered == 0 timeout 1\nexpect player.inview == 1\n"
                              << "after 0.5\nexpect state == level\ncapture loaded\n"
                              << play << "end\n";
    run.cpuSeconds = 60;
    return RunGame(run);
}

// The Walker and the Roller, whose modes have no camera, see a level from
// its own camera (Ledges from the origin); the levels a held direction
// crosses keep the Hero.
const LevelCase kLevels[] = {
    {"levels\\level1.cfg", "normal", "meadow", "Up Down Left Right"},
    {"levels\\level2.cfg", "scorePickups", "menagerie", "Up"},
    {"levels\\level3.cfg", "race", "rink", "", "Walker", "Man"},
    {"levels\\level4.cfg", "normal", "arena", "", "Roller", "Ball"},
    {"levels\\level5.cfg", "normal", "ledges"},
    {"levels\\level6.cfg", "beatTime", "sky", "Up"},
    {"levels\\level11.cfg", "scorePickups", "meadow", "Up"},
    {"levels\\level12.cfg", "countDown", "meadow", "", "Walker", "Man"},
    {"levels\\level13.cfg", "beatTime", "meadow", "Up"},
    {"levels\\level14.cfg", "hiddenPickups", "meadow", "Up"},
    {"levels\\level15.cfg", "countDownMustComplete", "meadow", "", "Roller", "Ball"},
    {"levels\\level16.cfg", "race", "meadow"},
};

class LevelsLoad : public ::testing::TestWithParam<LevelCase> {};

TEST_P(LevelsLoad, EachLevelLoadsWithEveryObjectInPlaceAndNothingLogged)
{
    E2E_REQUIRE_STAGE();
    const LevelCase& c = GetParam();
    const std::string number = std::string(c.file).substr(12, std::string(c.file).size() - 16);
    const std::string objects = ReadFile(ScriptDir() / ("objects_" + std::string(c.objects) + ".txt"));
    ASSERT_NE(objects.find("expect"), std::string::npos) << c.objects;
    // Then no end is met by a direction held from the start (the level restarted from its pause menu between
    // them): no page opens and the level plays on.
    std::istringstream keys(c.held);
    std::string held, key;
    for (int restarts = 0; keys >> key; restarts++)
        held += std::string(restarts ? "tap Escape\nwait page == pauseMenuMain timeout 3\nafter 0.3\ntap Down\n"
                                       "after 0.3\ntap Return\nafter 0.5\n"
                                     : "") +
                "hold " + key + " 3\nafter 3.1\nexpect page == none\n";
    if (!held.empty()) held += "after 2.5\nexpect page == none\nexpect level == level" + number + ".cfg\n";
    LevelCase loaded = c;
    loaded.objects = objects.c_str();
    const Result r = LoadLevel(loaded, std::stoi(number), "levels-load-" + number, held);
    ASSERT_EQ(r.exitCode, 0) << c.file << ":\n" << r.output;
    EXPECT_EQ(Faults(r), "") << c.file << " logged faults";
    EXPECT_TRUE(fs::exists(r.captures / "loaded.png"));
}

INSTANTIATE_TEST_SUITE_P(Demo, LevelsLoad, ::testing::ValuesIn(kLevels), [](const auto& info) {
    std::string name = info.param.file + 7;
    return name.substr(0, name.size() - 4);
});

// The sum of the channels' distances from c of a pixel of the run's "loaded" capture.
int Apart(const Result& r, int x, int y, uint32_t c)
{
    int w = 0, h = 0, d = 0;
    std::unique_ptr<uint32_t[]> pixels(D3D8Present_ReadPng((r.captures / "loaded.png").c_str(), &w, &h));
    const uint32_t p = pixels && x < w && y < h ? pixels[(size_t)y * w + x] : 0;
    for (int shift = 0; shift < 24; shift += 8) d += std::abs((int)(p >> shift & 255) - (int)(c >> shift & 255));
    return d;
}

// The twenty race tracks: each loads under "race" with its two computer
// racers. A night track, seen from the same start as its day, has a night
// sky (dark, where the day's is blue) and its far ground (its scene's
// field and road beyond the racers, at 320, 110) drawn in its fog.
TEST(LevelsLoad, EveryTrackLoadsWithItsRacersAndNothingLogged)
{
    E2E_REQUIRE_STAGE();
    int made = 0;
    for (int track = 1; track <= 5; ++track)
        for (const char* way : {"Forwards", "Backwards"}) {
            int sky[2] = {}, ground[2] = {};  // the sky's brightness, the ground's distance from the fog
            for (const char* day : {"Day", "Night"}) {
                char file[128];
                snprintf(file, sizeof file, "levels\\LandScape\\Track%02d\\T%02d_%s_%s.cfg", track, track, day, way);
                const char* back = way[0] == 'B' ? "Back" : "";
                char objects[256];
                snprintf(objects, sizeof objects,
                         "expect entity.SkaterRacer%s.pos != 0,0,0\nexpect entity.TiltRacer%s.pos != 0,0,0\n"
                         "expect entity.Road%d.pos == 0,0,0.01 0.01\nexpect fogged %s 0\n",
                         back, back, track, day[0] == 'N' ? ">" : "==");
                const Result r = LoadLevel({file, "race", objects}, 90 + made, "levels-track-" + std::to_string(made));
                made++;
                EXPECT_EQ(r.exitCode, 0) << file << ":\n" << r.output;
                EXPECT_EQ(Faults(r), "") << file << " logged faults";
                sky[day[0] == 'N'] = Apart(r, 100, 20, 0);
                ground[day[0] == 'N'] = Apart(r, 320, 110, 0x141432);  // the night files' FogColourRGB
            }
            EXPECT_LT(sky[1] * 10, sky[0] * 6) << "track " << track << " " << way << ": " << sky[0] << " by day";
            EXPECT_LT(ground[1] * 20, ground[0] * 17)
                << "track " << track << " " << way << ": " << ground[0] << " by day";
        }
    EXPECT_EQ(made, 20);
}

}  // namespace
