// Starting the program as a player does: full screen with the opening clip
// (the script's key skips it), and on a real display (an X server started
// for the case). Both show the title screen of the windowed headless start.
#include <gtest/gtest.h>

#include "e2e_fixture.h"

namespace {

using namespace e2e;

// An X server of its own for the case, on a display number it picks
// itself; stopped when the case ends. Empty display when Xvfb can't start
// here.
struct XServer {
    pid_t pid = -1;
    std::string display;

    XServer()
    {
        // Xvfb writes its display number to the pipe once it takes
        // connections, and the pipe closes empty when it fails: the wait
        // needs no time limit, however slowly it starts.
        int ready[2];
        if (pipe(ready) != 0) return;
        const std::string fd = std::to_string(ready[1]);
        pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            close(ready[0]);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                   (char*)nullptr);
            _exit(127);
        }
        close(ready[1]);
        std::string number;
        char c;
        while (pid > 0 && read(ready[0], &c, 1) == 1 && c != '\n') number += c;
        close(ready[0]);
        if (!number.empty()) display = ":" + number;
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
        run.env = kNoSoundDevice;  // the clip's sound is the first to find none
        if (display) {
            if (x.display.empty()) GTEST_SKIP() << "Xvfb could not start here: the display run is skipped";
            run.args = {"-quiet"};
            run.env = {"SDL_VIDEODRIVER=x11", "DISPLAY=" + x.display,
                       "LSAN_OPTIONS=suppressions=" + (SourceDir() / "tests" / "e2e" / "display_leaks.supp").string()};
        }
        const Result r = RunGame(run);
        ASSERT_EQ(r.exitCode, 0) << run.name << ":\n" << r.output;
        EXPECT_EQ(MatchGolden(r, "title", "front-title"), "") << run.name;
        EXPECT_TRUE(display || SaidOnlyItPlaysSilent(r)) << r.output;
    }
}

}  // namespace
