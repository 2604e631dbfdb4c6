// The front end as a player walks it on the demo data: every screen, a save
// loaded back by a new process and deleted by a third, a controller alone,
// the attract demo.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "e2e_fixture.h"
#include "platform/direct3d/d3d8_present.h"

namespace {

using namespace e2e;

#define FRONT_REQUIRE_DATA()                                                                    \
    do {                                                                                        \
        E2E_REQUIRE_STAGE();                                                                    \
        if (!StageHasConfig("FrontEnd\\FrontEnd.cfg") || !StageHasConfig("levels\\level1.cfg")) \
            GTEST_SKIP() << "the stage has no front end or no level 1 yet";                     \
    } while (0)

// The pixels of a capture's rows y0..y1 and columns x0..x1 brighter than `level` in every channel:
// how many, and the height of the rows they span (0 for none).
std::pair<int, int> Light(const Result& r, const std::string& capture, int x0, int y0, int y1, int level = 160,
                          int x1 = 640)
{
    int w = 0, h = 0, top = y1, bottom = y0 - 1, count = 0;
    std::unique_ptr<uint32_t[]> pixels(D3D8Present_ReadPng((r.captures / (capture + ".png")).c_str(), &w, &h));
    EXPECT_TRUE(pixels && w == 640 && h == 480) << capture;
    for (int y = y0; pixels && y < std::min(y1, h); y++)
        for (int x = x0; x < std::min(x1, w); x++) {
            const uint32_t p = pixels[(size_t)y * w + x];
            if (std::min({p & 255, p >> 8 & 255, p >> 16 & 255}) > (uint32_t)level)
                count++, top = std::min(top, y), bottom = y;
        }
    return {count, std::max(0, bottom - top)};
}

TEST(FrontEnd, EveryScreenIsReachedAndTheMainOnesLookAsBefore)
{
    FRONT_REQUIRE_DATA();
    GameRun run{"front-screens", "front_screens.txt"};
    const Result r = RunGame(run);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    // The pause menu lies over level 1, whose look is the level's own affair:
    // it is checked by its page, not by its picture. The page after its
    // load ("front-continue") is the front end's loading image.
    for (const char* capture :
         {"front-title", "front-main", "front-playerselect", "front-char-locked", "front-char-confirmed",
          "front-playerselect2", "front-levelselect2", "front-levelselect3", "front-levelselectz", "front-levelselect",
          "front-cupselect", "front-gameoptions", "front-controlleroptions", "front-controls", "front-sound",
          "front-continue"})
        EXPECT_EQ(MatchGolden(r, capture), "") << capture;
    // The controller's name (every channel above 90) stands above the first label's leader (y 110).
    EXPECT_GT(Light(r, "front-controlleroptions", 240, 60, 100, 90, 460).first, 0);
    EXPECT_EQ(Light(r, "front-controlleroptions", 240, 100, 116, 90, 460).first, 0);
    // The tour captures each screen once ("band-<screen>"). Every screen with
    // the bar (all but Launch, on the level's loading picture, and None before
    // the title) draws its text light over the darkening bar (y 400..447).
    int screens = 0;
    for (const auto& entry : fs::directory_iterator(r.captures)) {
        const std::string name = entry.path().stem().string();
        if (name.rfind("band-", 0) || name == "band-Launch") continue;
        EXPECT_GT(Light(r, name, 0, 400, 448).second, 6) << name << ": no light text in the information bar";
        screens++;
    }
    EXPECT_EQ(screens, 22);
    // The bar's text, drawn in each of the four fonts in turn, keeps its height.
    int lowest = 480, highest = 0;
    for (int n = 0; n < 4; n++) {
        const int height = Light(r, "front-infobar-" + std::to_string(n), 0, 400, 448).second;
        ASSERT_GT(height, 0) << n;
        lowest = std::min(lowest, height), highest = std::max(highest, height);
    }
    EXPECT_LE(highest - lowest, 3) << lowest << " to " << highest << " pixels";
}

TEST(FrontEnd, ASaveMadeOnTheSaveScreenLoadsInAFreshProcessAndIsDeletedInAThird)
{
    FRONT_REQUIRE_DATA();
    GameRun run{"front-save", "front_save.txt"};
    Result r = RunGame(run);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    // One save file in slot A and no temporary file beside it.
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(r.folder / "SaveGame")) {
        if (!entry.is_regular_file()) continue;
        files++;
        EXPECT_EQ(entry.path().parent_path().filename().string().find("-A"), 8u) << entry.path();
    }
    EXPECT_EQ(files, 1);
    // The slot grid's information line, the Save road's longest, stays inside
    // the panel's right border (x 556 on) in every font it cycles through.
    for (int n = 0; n < 4; n++)
        EXPECT_EQ(Light(r, "save-slots-" + std::to_string(n), 556, 385, 425, 239).first, 0) << n;
    run.script = "front_load.txt";
    run.freshFolder = false;
    r = RunGame(run);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    // A third process deletes it (the question and the message after it), then opens the boot check and the Load road.
    run.script = "front_delete.txt";
    r = RunGame(run);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    for (const char* capture : {"front-delete-ask", "front-deleted", "front-boot", "front-load-slots"})
        EXPECT_EQ(MatchGolden(r, capture), "") << capture;
    EXPECT_TRUE(fs::is_empty(r.folder / "SaveGame")) << "the save's folder went with it";
}

// A controller alone walks the menus; the keyboard's player beside a
// controller is the one the level draws and moves.
TEST(FrontEnd, ControllerScriptsPlayAsWritten)
{
    FRONT_REQUIRE_DATA();
    for (const char* script : {"front_controller", "front_keyboard_beside_controller"}) {
        GameRun run{script, std::string(script) + ".txt"};
        const Result r = RunGame(run);
        EXPECT_EQ(r.exitCode, 0) << script << ":\n" << r.output;
    }
}

// A scripted run without a seed still repeats itself: the same frames twice.
// A run with another seed shows that the frame does depend on the seed.
TEST(FrontEnd, AScriptedRunWithoutASeedPlaysTheSameWayEveryTime)
{
    FRONT_REQUIRE_DATA();
    std::string frames[3];
    for (int i = 0; i < 3; i++) {
        GameRun run{"front-replay-" + std::to_string(i), "front_replay.txt"};
        if (i == 2) run.env = {"HELM_RANDOM_SEED=3"};
        const Result r = RunGame(run);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        frames[i] = ReadFile(r.captures / "front-replay.png");
        ASSERT_FALSE(frames[i].empty()) << r.output;
    }
    EXPECT_TRUE(frames[0] == frames[1]);
    EXPECT_FALSE(frames[0] == frames[2]);
}

// With DemoWaitTime 3 (a copy of the front end's configuration compiled
// into the run's folder) the title screen left alone launches a day track,
// which plays with nobody pressing anything for a minute and gives the
// title back.
TEST(FrontEnd, TheAttractDemoPlaysADayTrackByItselfForAMinute)
{
    FRONT_REQUIRE_DATA();
    for (int t = 1; t <= 5; t++) {
        const std::string track =
            "levels\\LandScape\\Track0" + std::to_string(t) + "\\T0" + std::to_string(t) + "_Day_Forwards.cfg";
        if (!StageHasConfig(track.c_str())) GTEST_SKIP() << "the stage has no " << track << " yet";
    }
    GameRun run{"front-attract", "front_attract.txt"};
    std::string message;
    ASSERT_TRUE(QuickAttract(FreshFolder(run), &message)) << message;
    run.env = {"HELM_RANDOM_SEED=3"};
    const Result r = RunGame(run);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(MatchGolden(r, "front-attract"), "");
}

}  // namespace
