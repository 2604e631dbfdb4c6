// The shell on a real X display: an Xvfb server started by the test, SDL's
// x11 driver, a real window.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

#include "app/hooks.h"
#include "app/shell.h"
#include "platform/dinput/dinput.h"
#include "platform/dinput/dinput_test.h"
#include "platform/win32/message.h"
#include "platform/win32/system.h"
#include "platform/win32/window.h"
#include "tests/app/shell_fixture.h"
#include "tests/test_env.h"

namespace {

int g_frames = 0;
bool g_sawRealWindow = false;

class DisplayTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        display_ = 90 + getpid() % 100;
        std::string pidFile = (folder_ / "xvfb.pid").string();
        std::string command = "Xvfb :" + std::to_string(display_) +
                              " -nolisten tcp -screen 0 1024x768x24 >/dev/null 2>&1 & echo $! > '" + pidFile + "'";
        if (std::system(command.c_str()) != 0) return;
        std::string socket = "/tmp/.X11-unix/X" + std::to_string(display_);
        for (int i = 0; i < 50 && !std::filesystem::exists(socket); i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        started_ = std::filesystem::exists(socket);
        FILE* f = fopen(pidFile.c_str(), "r");
        if (f) {
            if (fscanf(f, "%d", &pid_) != 1) pid_ = 0;
            fclose(f);
        }
    }
    void TearDown() override
    {
        ShellTest::TearDown();
        if (pid_ > 0) std::system(("kill " + std::to_string(pid_) + " 2>/dev/null").c_str());
    }
    int display_ = 0;
    int pid_ = 0;
    bool started_ = false;
};

TEST_F(DisplayTest, OnARealDisplayTheTestScreenOpensATitledWindowAndEscapeEndsIt)
{
    if (!started_) GTEST_SKIP() << "Xvfb can't start here: the real-display run is skipped";
    ScopedEnv display("DISPLAY", (":" + std::to_string(display_)).c_str());
    ScopedEnv driver("SDL_VIDEODRIVER", "x11");
    // The private display has no session bus beside it: without this, the
    // bus library would try to launch one for it (and keep what it read).
    ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    g_frames = 0;
    g_sawRealWindow = false;
    AppHooks hooks = {};
    hooks.materialAnimTick = [](float) {
        // Frames run without waiting for a focus no window manager gives.
        if (++g_frames == 5) {
            Window* window = App_GetWindow();
            g_sawRealWindow = Window_SdlWindow(window) != nullptr && System_IsHeadless() == 0;
            EXPECT_STREQ(Window_GetTitle(window), "HELM Application");
            DInputTest_PushKey(DIK_ESCAPE, 1);
        }
        if (g_frames == 2000) {
            ADD_FAILURE() << "Escape did not end the test screen";
            Message_PostQuit(1);
        }
    };
    AppHooks_Install(&hooks);
    EXPECT_EQ(Run("-quiet"), 0);
    EXPECT_TRUE(g_sawRealWindow);
    EXPECT_GE(g_frames, 5);
    DInputTest_PushKey(DIK_ESCAPE, 0);
}

}  // namespace
