// The executable itself, run as a user runs it: without data the game says
// that its front end is missing and ends; with HELM_TEST_SCREEN the shell's
// test screen ends by itself without a display and leaves its last frame;
// scripts drive it on a fixed clock.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/testscreen.h"
#include "platform/direct3d/d3d8_present.h"
#include "platform/win32/mutex.h"
#include "tests/test_env.h"

namespace {

std::string FileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A run of build/helm/helm headless in a folder of its own holding the
// files given, with the extra environment and arguments.
struct ProgramRun {
    int status = -1;  // the exit status; -1 when it did not exit
    std::string output;
    std::filesystem::path folder;

    ProgramRun(const std::string& name, const std::string& environment, const std::string& arguments = "",
               const std::vector<std::pair<std::string, std::string>>& files = {})
        : folder(TestTmp() / ("executable_" + name))
    {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        for (const auto& [file, bytes] : files) std::ofstream(folder / file, std::ios::binary) << bytes;
        // A run that spins is killed after a minute of CPU time (its own work, not the time a busy
        // machine keeps it waiting) and fails on its status; one that waits for ever is ended after
        // ten minutes, when the case has long failed on its own limit.
        const std::string command =
            "cd '" + folder.string() + "' && ulimit -t 60 && HELM_MUTEX_NAME=executable-" + name + "-" +
            std::to_string(getpid()) + " SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy " + environment +
            " timeout -k 5 600 '" + HELM_BINARY_DIR + "/helm/helm' -quiet " + arguments + " > output.txt 2>&1";
        const int result = std::system(command.c_str());
        if (WIFEXITED(result)) status = WEXITSTATUS(result);
        output = FileBytes(folder / "output.txt");
    }
    // The picture the run wrote, or null; its width in `width`.
    std::unique_ptr<uint32_t[]> Picture(const char* name, int* width) const
    {
        int height = 0;
        return std::unique_ptr<uint32_t[]>(D3D8Present_ReadPng((folder / name).string().c_str(), width, &height));
    }
};

// A scripted run on the test screen: the script's text, extra settings.
ProgramRun Scripted(const std::string& name, const std::string& script, const std::string& environment = "",
                    const std::string& arguments = "")
{
    return ProgramRun(
        name,
        "HELM_RASTER_THREADS=1 HELM_TEST_SCREEN=1 HELM_SCRIPT=script.txt HELM_CAPTURE_DIR=frames/run " + environment,
        arguments, {{"script.txt", script}});
}

const uint32_t kBackground = TEST_SCREEN_BACKGROUND & 0xFFFFFF, kKeyboard = TEST_SCREEN_KEYBOARD & 0xFFFFFF;

TEST(ExecutableTest, WithoutDataTheGameSaysWhatItCannotReadAndWhereAndFails)
{
    // An empty folder, and a damaged archive without loose data (the
    // archive is named): the front end has no screens, and the start fails
    // naming its file and where it was looked for. The empty folder has no
    // sound device either (the audio library looks for a card that is not
    // there): its probe says nothing, the game one line.
    for (const std::string& archive : {std::string(), "WADH" + std::string(60, '\x7F')}) {
        const bool empty = archive.empty();
        ProgramRun game("game", empty ? "SDL_AUDIODRIVER=alsa AUDIODEV=hw:99" : "", "",
                        {{empty ? "none" : "DataPC.wad", archive}});
        const std::string& out = game.output;
        const std::string why =
            "The game could not start: FrontEnd\\FrontEnd.cfg could not be read (looked for in "
            "DataPC.wad and DATA in " +
            std::filesystem::canonical(game.folder).string() + ").\n";
        const size_t silent = out.find("plays silent"), none = std::string::npos;
        EXPECT_EQ(
            std::tuple(game.status, out.find(why) != none, silent != none, out.rfind("silent") == silent + 6,
                       out.find("ALSA lib") == none, out.find("refused: its directory runs past the end") != none),
            std::tuple(1, true, empty, empty, true, !empty))
            << out;
    }
    // A direct start plays its level (here without a level file) until the
    // kill switch ends the process.
    ProgramRun level("level", "", "-leveltype Glim -levelnumber 1 -kill");
    EXPECT_EQ(level.status, 0) << level.output;
    EXPECT_NE(level.output.find("levels\\level1.cfg"), std::string::npos) << level.output;
}

TEST(ExecutableTest, AScriptDrivesTheKeysOnAFixedClockCapturesFramesAndEndsTheRun)
{
    // Right held for half a second of game time moves the keyboard's
    // square; the captures come from the frames the script names.
    const std::string script = "at 0.5\nhold Right 0.5\nat 1.2\ncapture moved.png\nafter 0.02\ncapture next\nend\n";
    ProgramRun first = Scripted("keys", script, "HELM_RANDOM_SEED=7");
    ASSERT_EQ(first.status, 0) << first.output;
    int width = 0, right = 0;
    std::unique_ptr<uint32_t[]> pixels = first.Picture("frames/run/moved.png", &width);
    ASSERT_NE(pixels, nullptr) << first.output;
    EXPECT_EQ(pixels[240 * width + 320] & 0xFFFFFF, kBackground);  // gone from the middle
    for (int x = 321; x < width; x++)
        if ((pixels[240 * width + x] & 0xFFFFFF) == kKeyboard) right = x;
    EXPECT_GT(right, 320 + 100);  // 240 pixels a second for 0.5 s
    EXPECT_LT(right, 320 + 140 + TEST_SCREEN_SQUARE);
    EXPECT_TRUE(std::filesystem::exists(first.folder / "frames/run/next.png"));
    EXPECT_FALSE(std::filesystem::exists(first.folder / TEST_SCREEN_PNG));  // it ended before its 5 s
    // Game time, not wall time: a second run gives the same frames.
    ProgramRun second = Scripted("keys-again", script, "HELM_RANDOM_SEED=7");
    ASSERT_EQ(second.status, 0) << second.output;
    EXPECT_EQ(FileBytes(first.folder / "frames/run/moved.png"), FileBytes(second.folder / "frames/run/moved.png"));
    // A fixed step without a script runs the clock at that step every frame:
    // the test screen still ends by itself after its 5 s, of game time, says
    // what it is and writes its last frame, drawn through the main view: the
    // keyboard pad's square where it starts, in the middle, and a bar that
    // shows the frame time the step gives (50 ms: 300 pixels). The frame log
    // has a line a frame: wall and CPU milliseconds and the state.
    ProgramRun step = Scripted("step", "", "HELM_SCRIPT= HELM_FIXED_STEP_MS=50 HELM_FRAME_LOG=frames.log");
    ASSERT_EQ(step.status, 0) << step.output;
    EXPECT_NE(step.output.find("The game is not built yet: this is the shell's test screen (Escape quits)"),
              std::string::npos)
        << step.output;
    EXPECT_NE(step.output.find(TEST_SCREEN_PNG), std::string::npos) << step.output;
    pixels = step.Picture(TEST_SCREEN_PNG, &width);
    ASSERT_NE(pixels, nullptr) << step.output;
    ASSERT_EQ(width, 640);
    EXPECT_EQ(std::make_tuple(pixels[100 * width + 600] & 0xFFFFFF, pixels[240 * width + 320] & 0xFFFFFF,
                              pixels[240 * width + 320 + TEST_SCREEN_SQUARE] & 0xFFFFFF),
              std::make_tuple(kBackground, kKeyboard, kBackground));
    const int y = 480 - 20;
    EXPECT_EQ(pixels[y * width + 16 + 295] & 0xFFFFFF, 0xE0C040u);
    EXPECT_EQ(pixels[y * width + 16 + 305] & 0xFFFFFF, kBackground);
    std::istringstream log(FileBytes(step.folder / "frames.log"));
    double wall = 0, cpu = 0;
    std::string state;
    int frames = 0;
    while (log >> wall >> cpu >> state) frames += wall >= 0 && cpu >= 0 && cpu < 60000 && !state.empty();
    EXPECT_GE(frames, 90);  // 5 s of 50 ms steps
}

TEST(ExecutableTest, ScriptedRunsFailWithTheirLineAndExitCode)
{
    // The name, the script, the environment, the arguments; the exit code and
    // what the run says.
    const std::tuple<const char*, const char*, const char*, const char*, int, const char*> cases[] = {
        // The test screen ends itself after 5 s of game time.
        {"early-end", "at 10\nend\n", "", "", 3, "script.txt:1: at 10: the game ended before this line"},
        {"no-probe", "at 0.1\nexpect nosuchprobe == level\nend\n", "", "", 3,
         "script.txt:2: expect nosuchprobe == level: the game knows no probe \"nosuchprobe\""},
        {"bad-key", "# keys\ntap Enterr\nend\n", "", "", 2, "script.txt:2: unknown key \"Enterr\""},
        {"bad-step", "end\n", "HELM_FIXED_STEP_MS=0", "", 2, "HELM_FIXED_STEP_MS: \"0\" is not a number 1..1000"},
        {"bad-seed", "end\n", "HELM_RANDOM_SEED=-4", "", 2, "HELM_RANDOM_SEED"},
        {"bad-save-stop", "end\n", "HELM_SAVE_STOP=soon", "", 2, "HELM_SAVE_STOP: \"soon\""},
        {"no-script", "end\n", "HELM_SCRIPT=missing.txt", "", 2, "missing.txt: can't be opened"},
        {"no-log", "end\n", "HELM_FRAME_LOG=none/frames.log", "", 2, "HELM_FRAME_LOG: \"none/frames.log\" can't"},
        // A start that fails says which step failed or which value it refuses, and is no
        // success; a second copy leaves at once, successfully, and says why.
        {"bad-width", "at 10\nend\n", "", "-Width -5", 1, "could not start: -Width -5 is below the limit of 1"},
        {"bad-height", "at 10\nend\n", "", "-Height 100000", 1, "start: -Height 100000 is above the limit of 8192"},
        {"second-copy", "at 10\nend\n", "", "", 0, "The game is already running"},
    };
    for (const auto& [name, script, environment, arguments, status, says] : cases) {
        const bool running = status == 0;  // another copy holds the single-instance lock
        const std::string lock = std::string("executable-") + name + "-" + std::to_string(getpid());
        if (running) {
            Mutex_SetTestName(lock.c_str());
            ASSERT_EQ(Mutex_CreateNamed("held"), MUTEX_CREATED);
        }
        ProgramRun r = Scripted(name, script, environment, arguments);
        if (running) {
            Mutex_Release();
            Mutex_SetTestName(nullptr);
        }
        EXPECT_EQ(r.status, status) << name << ": " << r.output;
        EXPECT_NE(r.output.find(says), std::string::npos) << name << ": " << r.output;
        EXPECT_TRUE(status == 3 || r.output.find("ended before this line") == std::string::npos) << name;
    }
}

}  // namespace
