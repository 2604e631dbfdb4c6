// The executable itself, run as a user runs it: without data the game says
// that its front end is missing and ends; with HELM_TEST_SCREEN the shell's
// test screen ends by itself without a display and leaves its last frame.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "app/testscreen.h"
#include "platform/direct3d/d3d8_present.h"
#include "platform/win32/mutex.h"
#include "tests/test_env.h"

namespace {

// Runs build/helm/helm headless in the folder (holding only the files given)
// with the extra environment and arguments; the exit status (-1 when it did
// not exit) and what it said.
int RunHeadless(const std::filesystem::path& folder, const std::string& environment, const std::string& arguments,
                std::string* output, const std::vector<std::pair<std::string, std::string>>& files = {})
{
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    for (const auto& [name, bytes] : files) std::ofstream(folder / name, std::ios::binary) << bytes;
    std::string command = "cd '" + folder.string() + "' && HELM_MUTEX_NAME=executable-test-" +
                          std::to_string(getpid()) + " SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy " +
                          environment + " '" + HELM_BINARY_DIR + "/helm/helm' -quiet " + arguments +
                          " > output.txt 2>&1";
    int status = std::system(command.c_str());
    std::ifstream in(folder / "output.txt");
    output->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ExecutableTest, WithoutDataTheGameSaysWhatItCannotReadAndEnds)
{
    // A damaged archive and no loose data: the archive is named, and the
    // front end without screens ends the program.
    std::string output;
    const std::string damaged = "WADH" + std::string(60, '\x7F');
    EXPECT_EQ(RunHeadless(TestTmp() / "executable-game", "", "", &output,
                          {{"DataPC.wad", damaged}}),
              0)
        << output;
    EXPECT_NE(output.find("DataPC.wad: the archive is refused: its directory runs past the end"), std::string::npos)
        << output;
    EXPECT_NE(output.find("FrontEnd\\FrontEnd.cfg could not be read"), std::string::npos) << output;
    // A direct start plays its level (here without a level file) until the
    // kill switch ends the process.
    EXPECT_EQ(RunHeadless(TestTmp() / "executable-level", "",
                          "-leveltype Glim -levelnumber 1 -kill", &output),
              0)
        << output;
    EXPECT_NE(output.find("levels\\level1.cfg"), std::string::npos) << output;
}

TEST(ExecutableTest, HeadlessItShowsTheTestScreenEndsByItselfAndWritesItsLastFrame)
{
    std::filesystem::path folder = TestTmp() / "executable";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::string command = "cd '" + folder.string() + "' && HELM_MUTEX_NAME=executable-test-" +
                          std::to_string(getpid()) + " SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy " +
                          "HELM_TEST_SCREEN=1 '" + HELM_BINARY_DIR + "/helm/helm' -quiet > output.txt 2>&1";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    int width = 0, height = 0;
    uint32_t* pixels = D3D8Present_ReadPng((folder / TEST_SCREEN_PNG).string().c_str(), &width, &height);
    ASSERT_NE(pixels, nullptr);
    ASSERT_EQ(width, 640);
    ASSERT_EQ(height, 480);
    // Drawn through the main view: the background, and the keyboard pad's
    // square where it starts, in the middle.
    EXPECT_EQ(pixels[100 * width + 600] & 0xFFFFFF, TEST_SCREEN_BACKGROUND & 0xFFFFFF);
    EXPECT_EQ(pixels[240 * width + 320] & 0xFFFFFF, TEST_SCREEN_KEYBOARD & 0xFFFFFF);
    EXPECT_EQ(pixels[240 * width + 320 + TEST_SCREEN_SQUARE] & 0xFFFFFF, TEST_SCREEN_BACKGROUND & 0xFFFFFF);
    delete[] pixels;
    std::string output;
    FILE* f = fopen((folder / "output.txt").string().c_str(), "r");
    ASSERT_NE(f, nullptr);
    char line[512];
    while (fgets(line, sizeof line, f)) output += line;
    fclose(f);
    EXPECT_NE(output.find("The game is not built yet: this is the shell's test screen (Escape quits)"), std::string::npos)
        << output;
    EXPECT_NE(output.find(TEST_SCREEN_PNG), std::string::npos) << output;
}

// A scripted run of the executable in a folder of its own: the script's
// text, the environment's extra settings; the exit status and what it said.
struct RunResult {
    int status = -1;
    std::string output;
    std::filesystem::path folder;
};

RunResult RunScripted(const std::string& name, const std::string& script, const std::string& environment = "",
                      const std::string& arguments = "")
{
    RunResult r;
    r.folder = TestTmp() / ("scripted_" + name);
    std::filesystem::remove_all(r.folder);
    std::filesystem::create_directories(r.folder);
    std::ofstream(r.folder / "script.txt") << script;
    const std::string command = "cd '" + r.folder.string() + "' && HELM_MUTEX_NAME=scripted-" + name + "-" +
                                std::to_string(getpid()) +
                                " SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy HELM_RASTER_THREADS=1 HELM_TEST_SCREEN=1 "
                                "HELM_SCRIPT=script.txt HELM_CAPTURE_DIR=frames/run " +
                                environment + " '" + HELM_BINARY_DIR + "/helm/helm' -quiet " + arguments +
                                " > output.txt 2>&1";
    const int status = std::system(command.c_str());
    if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
    std::ifstream in(r.folder / "output.txt");
    r.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return r;
}

std::string FileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ExecutableTest, AScriptDrivesTheKeysOnAFixedClockCapturesFramesAndEndsTheRun)
{
    // Right held for half a second of game time moves the keyboard's
    // square; the captures come from the frames the script names.
    const std::string script =
        "at 0.5\nhold Right 0.5\nat 1.2\ncapture moved.png\nafter 0.02\ncapture next\nend\n";
    RunResult first = RunScripted("keys", script, "HELM_RANDOM_SEED=7");
    ASSERT_EQ(first.status, 0) << first.output;
    int width = 0, height = 0;
    uint32_t* pixels = D3D8Present_ReadPng((first.folder / "frames/run/moved.png").string().c_str(), &width, &height);
    ASSERT_NE(pixels, nullptr) << first.output;
    ASSERT_EQ(width, 640);
    EXPECT_EQ(pixels[240 * width + 320] & 0xFFFFFF, TEST_SCREEN_BACKGROUND & 0xFFFFFF);  // gone from the middle
    int right = 0;
    for (int x = 321; x < width; x++)
        if ((pixels[240 * width + x] & 0xFFFFFF) == (TEST_SCREEN_KEYBOARD & 0xFFFFFF)) right = x;
    EXPECT_GT(right, 320 + 100);  // 240 pixels a second for 0.5 s
    EXPECT_LT(right, 320 + 140 + TEST_SCREEN_SQUARE);
    delete[] pixels;
    EXPECT_TRUE(std::filesystem::exists(first.folder / "frames/run/next.png"));
    EXPECT_FALSE(std::filesystem::exists(first.folder / TEST_SCREEN_PNG));  // it ended before its 5 s
    // Game time, not wall time: a second run gives the same frames.
    RunResult second = RunScripted("keys-again", script, "HELM_RANDOM_SEED=7");
    ASSERT_EQ(second.status, 0) << second.output;
    EXPECT_EQ(FileBytes(first.folder / "frames/run/moved.png"), FileBytes(second.folder / "frames/run/moved.png"));
}

TEST(ExecutableTest, AFixedStepAloneRunsTheClockAtThatStepEveryFrame)
{
    // No script: the test screen still ends after its 5 s, of game time,
    // and its bar shows the frame time the step gives (50 ms: 300 pixels).
    RunResult r = RunScripted("step", "", "HELM_SCRIPT= HELM_FIXED_STEP_MS=50");
    ASSERT_EQ(r.status, 0) << r.output;
    int width = 0, height = 0;
    uint32_t* pixels = D3D8Present_ReadPng((r.folder / TEST_SCREEN_PNG).string().c_str(), &width, &height);
    ASSERT_NE(pixels, nullptr) << r.output;
    const int y = height - 20;
    EXPECT_EQ(pixels[y * width + 16 + 295] & 0xFFFFFF, 0xE0C040u);
    EXPECT_EQ(pixels[y * width + 16 + 305] & 0xFFFFFF, TEST_SCREEN_BACKGROUND & 0xFFFFFF);
    delete[] pixels;
}

TEST(ExecutableTest, ScriptedRunsFailWithTheirLineAndExitCode)
{
    struct Case {
        const char* name;
        const char* script;
        const char* environment;
        int status;
        const char* says;
        const char* arguments = "";
        bool running = false;  // another copy holds the single-instance lock
    } cases[] = {
        // The test screen ends itself after 5 s of game time.
        {"early-end", "at 10\nend\n", "", 3, "script.txt:1: at 10: the game ended before this line"},
        {"no-probe", "at 0.1\nexpect nosuchprobe == level\nend\n", "", 3,
         "script.txt:2: expect nosuchprobe == level: the game knows no probe \"nosuchprobe\""},
        {"bad-key", "# keys\ntap Enterr\nend\n", "", 2, "script.txt:2: unknown key \"Enterr\""},
        {"bad-step", "end\n", "HELM_FIXED_STEP_MS=0", 2, "HELM_FIXED_STEP_MS: \"0\" is not a number 1..1000"},
        {"bad-seed", "end\n", "HELM_RANDOM_SEED=-4", 2, "HELM_RANDOM_SEED"},
        {"bad-save-stop", "end\n", "HELM_SAVE_STOP=soon", 2, "HELM_SAVE_STOP: \"soon\""},
        {"no-script", "end\n", "HELM_SCRIPT=missing.txt", 2, "missing.txt: can't be opened"},
        // A start that fails says which step failed and is no success; a
        // second copy leaves at once, successfully, and says why.
        {"no-window", "at 10\nend\n", "", 1, "could not start: the window of -5 x 480 pixels", "-Width -5"},
        {"no-device", "at 10\nend\n", "", 1, "could not start: the device", "-Width 100000 -Height 100000"},
        {"second-copy", "at 10\nend\n", "", 0, "The game is already running", "", true},
    };
    for (const Case& c : cases) {
        const std::string lock = std::string("scripted-") + c.name + "-" + std::to_string(getpid());
        if (c.running) {
            Mutex_SetTestName(lock.c_str());
            ASSERT_EQ(Mutex_CreateNamed("held"), MUTEX_CREATED);
        }
        RunResult r = RunScripted(c.name, c.script, c.environment, c.arguments);
        if (c.running) {
            Mutex_Release();
            Mutex_SetTestName(nullptr);
        }
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.name << ": " << r.output;
        if (c.status != 3) {
            EXPECT_EQ(r.output.find("ended before this line"), std::string::npos) << c.name;
        }
    }
}

}  // namespace
