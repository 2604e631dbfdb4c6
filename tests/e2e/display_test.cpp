// Starting the program as a player does: full screen with the opening clip
// (the script's key skips it), and on a real display (an X server started
// for the case). Both show the title screen of the windowed headless start.
#include <gtest/gtest.h>

#include "e2e_fixture.h"

namespace {

using namespace e2e;

// An X server of its own for the case, on a free display number; stopped
// when the case ends. Empty display when Xvfb can't start here.
struct XServer {
    pid_t pid = -1;
    std::string display;

    XServer()
    {
        for (int n = 90 + getpid() % 50; n < 200 && display.empty(); n += 7) {
            const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
            if (fs::exists(socket) || fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) continue;
            const std::string number = ":" + std::to_string(n);
            pid = fork();
            if (pid == 0) {
                const int null = open("/dev/null", O_WRONLY);
                dup2(null, 1);
                dup2(null, 2);
                execlp("Xvfb", "Xvfb", number.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                       (char*)nullptr);
                _exit(127);
            }
            if (pid < 0) return;
            for (int i = 0; i < 100 && !fs::exists(socket); i++) {
                int status = 0;
                if (waitpid(pid, &status, WNOHANG) == pid) {
                    pid = -1;
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            if (pid > 0 && fs::exists(socket)) display = number;
        }
    }
    ~XServer()
    {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
};

TEST(DisplayTest, AFullScreenStartAndARealDisplayShowTheTitleScreenOfTheHeadlessStart)
{
    E2E_REQUIRE_STAGE();
    if (!StageHasConfig("FrontEnd\\FrontEnd.cfg")) GTEST_SKIP() << "the stage has no front end yet";
    XServer x;
    for (const bool display : {false, true}) {
        GameRun run{display ? "display" : "fullscreen", display ? "title.txt" : "fullscreen.txt"};
        run.args = {"-fullscreen", "-Width", "640", "-Height", "480"};
        if (display) {
            if (x.display.empty()) GTEST_SKIP() << "Xvfb could not start here: the display run is skipped";
            run.args = {"-quiet"};
            run.env = {"SDL_VIDEODRIVER=x11", "DISPLAY=" + x.display,
                       "LSAN_OPTIONS=suppressions=" + (SourceDir() / "tests" / "e2e" / "display_leaks.supp").string()};
        }
        const Result r = RunGame(run);
        ASSERT_EQ(r.exitCode, 0) << run.name << ":\n" << r.output;
        EXPECT_EQ(MatchGolden(r, "title", "front-title"), "") << run.name;
    }
}

}  // namespace
