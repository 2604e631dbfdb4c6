// The game's tests that need the whole engine run inside the program's own start-up: the shell's entry with the
// program's hook table, whose game set-up runs the test's body once every module is up (the body then owns the state
// stack; when it leaves the stack empty the program ends and shuts everything down). Each test runs in a folder of its
// own, with its data files under "data/", on a 640 x 480 headless window.
#pragma once

#include <functional>

#include "helm/program_hooks.h"
#include "app/state.h"
#include "game/loading_screen.h"
#include "game_fixture.h"
#include "tests/app/shell_fixture.h"

class ProgramTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        gametest::ResetGame();
    }
    void TearDown() override
    {
        gametest::ResetGame();
        ShellTest::TearDown();
    }

    // Runs the program with the command line; body runs as its game set-up. Returns the program's result.
    int RunProgram(const std::function<void()>& body, const char* commandLine = "-quiet")
    {
        Body() = body;
        AppHooks hooks = ProgramHooks_Make();
        hooks.gameSetup = []() {
            Body()();
            // A body cut short by a failed ASSERT leaves its states behind, which the program would run until the
            // time-out: they go, as pops would destroy them, and the program ends at once.
            if (State_GetCurrent()) {
                for (GameState* s = State_GetCurrent(); s;) {
                    GameState* below = s->previous;
                    State_Destroy(s);
                    s = below;
                }
                State_Reset();
                State_Init();
            }
            // What the game's modules hold goes before the engine does.
            LoadingScreen_End();
            LoadingScreen_Free();
            Game_ReleaseContext();
            return 1;
        };
        AppHooks_Install(&hooks);
        return Run(commandLine);
    }

    // Writes data files and configurations as the game tests do.
    static void WriteData(const std::string& name, const std::string& bytes) { gametest::WriteData(name, bytes); }
    static void WriteConfig(const char* name, const std::string& text) { gametest::WriteConfig(name, text); }

private:
    static std::function<void()>& Body()
    {
        static std::function<void()> body;
        return body;
    }
};
