// Shared set-up of the tests of the shell's entry: a folder of its own per
// test (with "data/") as the working folder, a lock name of its own, and
// everything a run of the entry leaves behind put back afterwards (windows,
// classes, the engine's driver, hooks, scripts, the scripted clock).
#pragma once

#include <unistd.h>

#include "app/hooks.h"
#include "app/shell.h"
#include "platform/dinput/dinput_test.h"
#include "platform/direct3d/d3d8_test.h"
#include "platform/dsound/dsound_test.h"
#include "platform/win32/dialog.h"
#include "platform/win32/mutex.h"
#include "tests/app/data_fixture.h"

class ShellTest : public FolderTest {
protected:
    void SetUp() override
    {
        FolderTest::SetUp();
        std::filesystem::create_directories("data");
        lockName_ = "shell-test-" + std::to_string(getpid()) + "-" + name_;
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
        FolderTest::TearDown();
    }
    // Runs the entry as the executable does, with this command line.
    static int32_t Run(const char* commandLine)
    {
        static int instance;
        return App_Main(&instance, nullptr, commandLine, 1);
    }

    std::string lockName_;
};
