// The front end inside the whole program, end to end: the program's entry
// runs in-process, headless with "-quiet", its hook table and the state
// hooks filled as the executable fills them, the game's own set-up making
// the root state. Input is a script played through SDL's event queue (keys
// held across the polls of the frames between their down and up), on a
// clock that moves 20 ms a frame; the script waits on what the test's probe
// reports (the state on top of the stack, the front-end screen, the save
// screens' message).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "app/main/front_end_hooks.h"
#include "app/main/program_hooks.h"
#include "app/state.h"
#include "frontend_fixture.h"
#include "game/game_setup.h"
#include "game/memcard_ui.h"
#include "game/race_setup.h"
#include "platform/dinput/inputscript.h"
#include "platform/win32/message.h"

namespace {

InputScript* g_script = nullptr;

int Probe(const char* name, char* value, size_t size, void*)
{
    const GameState* top = State_GetCurrent();
    const char* text = nullptr;
    if (!strcmp(name, "state")) {
        text = !top                                   ? "none"
               : top->update == FrontEnd_Update       ? "frontend"
               : top->update == MemCardUI_StateUpdate ? "savescreens"
               : top->update == Game_Update           ? "root"
                                                      : "other";
    } else if (!strcmp(name, "screen")) {
        text = FrontEnd_Get() ? FrontEnd_GetScreenName(FrontEnd_Get()->current) : "none";
    } else if (!strcmp(name, "card")) {
        text = MemCardUI_Get()->message.text ? MemCardUI_Get()->message.text : "";
    } else if (!strcmp(name, "level0")) {
        text = GameSetup_GetLevel(0);
    } else {
        return 0;
    }
    snprintf(value, size, "%s", text);
    return 1;
}

void Tick()
{
    if (InputScript_Tick(g_script) == INPUTSCRIPT_ENDED) Message_PostQuit(0);
}

class ProgramRunTest : public FrontEndTest {
protected:
    // Runs the program with the script; the program's result. The script's
    // status is left in status_.
    int RunScript(const std::string& text)
    {
        char error[512] = "";
        g_script = InputScript_Parse(text.data(), text.size(), "road.txt", error, sizeof error);
        EXPECT_NE(g_script, nullptr) << error;
        if (!g_script) return -1;
        EXPECT_EQ(InputScript_Start(g_script, INPUTSCRIPT_DEFAULT_STEP_MS, error, sizeof error), 1) << error;
        InputScript_SetProbe(g_script, Probe, nullptr);
        AppHooks hooks = ProgramHooks_Make();
        if (!hooks.gameSetup) hooks.gameSetup = [] { return Game_Setup() ? 1 : 0; };
        hooks.frameTick = Tick;
        AppHooks_Install(&hooks);
        ProgramHooks_InstallStateHooks();
        const int result = Run("-quiet");
        status_ = InputScript_GameEnded(g_script);
        message_ = InputScript_GetMessage(g_script);
        InputScript_Destroy(g_script);
        g_script = nullptr;
        return result;
    }

    int32_t status_ = INPUTSCRIPT_RUNNING;
    std::string message_;
};

TEST_F(ProgramRunTest, TitleMainLoadSaveSavesLoadsAndEscapeOnMainEndsTheProgram)
{
    WriteFrontEnd();
    std::string texts;
    for (int n = 1; n <= 8; n++)
        texts += "LS_MEMCARD_FILENAME" + std::to_string(n) + "=ROAD" + std::to_string(n) + "\n";
    WriteData("language/english.txt", texts);
    const int result = RunScript(
        "wait screen == FrontEnd_Title\n"
        "tap Return\n"
        "wait screen == FrontEnd_Main\n"
        "tap Down\nafter 0.1\ntap Down\nafter 0.1\ntap Return\n"
        "wait screen == FrontEnd_LoadSave\n"
        "after 0.1\ntap Return\n"
        "wait state == savescreens\n"
        "wait card == LS_MEMCARD_MESSAGE_SAVESELECTCARD\n"
        "after 1\ntap Return\n"
        "wait card == LS_MEMCARD_MESSAGE_SAVESELECTFILE\n"
        "tap Return\n"
        "wait card == LS_MEMCARD_SUCCESS_SAVE\n"
        "wait state == frontend\n"
        "after 0.1\ntap Down\nafter 0.1\ntap Return\n"
        "wait card == LS_MEMCARD_MESSAGE_LOADSELECTCARD\n"
        "after 1\ntap Return\n"
        "wait card == LS_MEMCARD_MESSAGE_LOADSELECTFILE\n"
        "tap Return\n"
        "wait card == LS_MEMCARD_MESSAGE_LOADWARNING\n"
        "tap Left\nafter 0.1\ntap Return\n"
        "wait card == LS_MEMCARD_SUCCESS_LOAD\n"
        "wait state == frontend\n"
        "after 0.1\ntap /\n"
        "wait screen == FrontEnd_Main\n"
        "after 0.1\ntap Escape\n"
        "end\n");
    EXPECT_EQ(status_, INPUTSCRIPT_ENDED) << message_;
    EXPECT_EQ(result, 0);
    // Escape ended it: no state type follows the front end.
    EXPECT_EQ(Game_GetContext()->gameStateType, (uint32_t)GAMESTATE_NONE);
    bool saved = false;
    for (const auto& entry : std::filesystem::recursive_directory_iterator("SaveGame"))
        if (entry.is_regular_file() && entry.path().filename() == "ROAD1") saved = entry.file_size() == 1936;
    EXPECT_TRUE(saved);
}

TEST_F(ProgramRunTest, TheTutorialRoadAsksForItsLevel)
{
    WriteFrontEnd();
    const int result = RunScript(
        "wait screen == FrontEnd_Title\n"
        "tap Return\n"
        "wait screen == FrontEnd_Main\n"
        "tap Up\nafter 0.1\ntap Up\n"
        "after 0.1\ntap Down\nafter 0.1\ntap Down\nafter 0.1\ntap Down\nafter 0.1\ntap Down\n"
        "after 0.1\ntap Return\n"
        "wait screen == Tutorial_Levels\n"
        "after 0.1\ntap Return\n"
        "wait level0 == level1.cfg\n"
        "wait state != frontend\n"
        "end\n");
    EXPECT_EQ(status_, INPUTSCRIPT_ENDED) << message_;
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Game_GetContext()->playerKinds[0], (uint32_t)PLAYER_KIND_HUMAN);
}

}  // namespace
