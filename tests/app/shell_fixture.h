// Shared set-up of the shell's tests: a folder of its own per test as the
// working folder, a lock name of its own, and everything a run of the
// shell's entry leaves behind put back afterwards (windows, classes, the
// engine's driver, hooks, scripts, the scripted clock).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "app/hooks.h"
#include "app/shell.h"
#include "gfx/core/engine.h"
#include "platform/dinput/dinput_test.h"
#include "platform/direct3d/d3d8_test.h"
#include "platform/dsound/dsound_test.h"
#include "platform/win32/dialog.h"
#include "platform/win32/mutex.h"
#include "platform/win32/path.h"
#include "tests/test_env.h"

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        folder_ = TestTmp() / ("shell_" + name);
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_ / "data");
        std::filesystem::current_path(folder_);
        Path_Shutdown();
        lockName_ = "shell-test-" + std::to_string(getpid()) + "-" + name;
        Mutex_SetTestName(lockName_.c_str());
        App_TestReset();
        DInputTest_ResetState();
    }

    void TearDown() override
    {
        App_TestReset();
        App_SetClock(nullptr);
        AppHooks_Install(nullptr);
        Dialog_SetScript(nullptr, 0);
        Mutex_SetTestName(nullptr);
        DSoundTest_SetDirectRender(0);
        DInputTest_DetachAll();
        // The engine's driver and modules as the driver tests leave them.
        Engine_SetDriver(nullptr);
        Engine_SetCoreModule(MODULE_IM3D, 0, nullptr, nullptr);
        D3D8Test_ResetAll();
        Path_Shutdown();
        std::filesystem::current_path(TestTmp());
        std::filesystem::remove_all(folder_);
    }

    static void Write(const std::string& path, const std::string& bytes)
    {
        std::filesystem::path p(path);
        if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << bytes;
    }

    // Runs the entry as the executable does, with this command line.
    static int32_t Run(const char* commandLine)
    {
        static int instance;
        return App_Main(&instance, nullptr, commandLine, 1);
    }

    std::filesystem::path folder_;
    std::string lockName_;
};
