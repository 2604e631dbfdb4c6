// The front end inside the whole program, end to end: the program's entry
// runs in-process, headless with "-quiet", its hook table and the state
// hooks filled as the executable fills them, the game's own set-up making
// the root state. Input is a script played through SDL's event queue (keys
// held across the polls of the frames between their down and up), on a
// clock that moves 20 ms a frame; the script waits on the game's probes
// (state, screen, menu page, volumes, clocks) and the save screens' message.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "helm/front_end_hooks.h"
#include "helm/program_hooks.h"
#include "app/sound.h"
#include "frontend_fixture.h"
#include "game/game_setup.h"
#include "game/memcard_ui.h"
#include "game/probe.h"
#include "game/save_record.h"
#include "platform/dinput/inputscript.h"
#include "platform/dsound/dsound.h"
#include "platform/win32/message.h"
#include "tools/lib/lwswrite.h"

namespace {

InputScript* g_script = nullptr;

// The game's probes (with the front end's, as the executable installs
// them), and two of the test's own: the save screens' message ("card") and
// the sound system's master volume ("master").
int Probe(const char* name, char* value, size_t size, void*)
{
    if (!strcmp(name, "card")) {
        const char* text = MemCardUI_Get()->message.text;
        snprintf(value, size, "%s", text ? text : "");
        return 1;
    }
    if (!strcmp(name, "master")) {
        snprintf(value, size, "%g", (double)Sound_GetMasterVolume());
        return 1;
    }
    // 1 when the level's music plays at the context's music volume.
    if (!strcmp(name, "music.applied")) {
        const GameContext* ctx = Game_GetContext();
        int32_t level = 1;
        const bool applied = ctx->music && ctx->music->buffer && ctx->music->buffer->GetVolume(&level) == DS_OK &&
                             level == Sound_LevelFromVolume(ctx->musicVolume);
        snprintf(value, size, "%d", applied ? 1 : 0);
        return 1;
    }
    return GameProbe_Get(name, value, size);
}

void Tick()
{
    // A failed check ends the run too: what follows would only wait out its time.
    if (InputScript_Tick(g_script) != INPUTSCRIPT_RUNNING) Message_PostQuit(0);
}

// The save files' names in the text table.
void WriteFileNames()
{
    std::string texts;
    for (int n = 1; n <= 8; n++)
        texts += "LS_MEMCARD_FILENAME" + std::to_string(n) + "=ROAD" + std::to_string(n) + "\n";
    gametest::WriteData("language/english.txt", texts);
}

// The bytes of the first save file named ROAD1 under "SaveGame".
std::vector<uint8_t> ReadRoad1()
{
    for (const auto& entry : std::filesystem::recursive_directory_iterator("SaveGame"))
        if (entry.is_regular_file() && entry.path().filename() == "ROAD1") {
            std::ifstream in(entry.path(), std::ios::binary);
            return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
        }
    return {};
}

// Pieces of the scripts. Main's items: PlayGame, Options, LoadSave,
// Credits, Tutorial_Levels; "/" is the bound back.
const std::string kToMain = "wait screen == Title\ntap Return\nwait screen == Main\n";
std::string Downs(int n)
{
    std::string s;
    for (int i = 0; i < n; i++) s += "after 0.1\ntap Down\n";
    return s;
}
// From Main's focused LoadSave: a save in the first place, back on LoadSave.
const std::string kSave =
    "after 0.1\ntap Return\nwait screen == LoadSave\n"
    "after 0.1\ntap Return\nwait state == savescreens\n"
    "wait card == LS_MEMCARD_MESSAGE_SAVESELECTCARD\nafter 1\ntap Return\n"
    "wait card == LS_MEMCARD_MESSAGE_SAVESELECTFILE\ntap Return\n"
    "wait card == LS_MEMCARD_SUCCESS_SAVE\nwait state == frontend\n";
// From Tutorial_Levels: the level launched and its load's page dismissed.
const std::string kPlayTutorial =
    "wait screen == Tutorial_Levels\nafter 0.1\ntap Return\n"
    "wait state == level\nexpect level == level1.cfg\n"
    "wait page == loadingScreenContinue\nafter 0.1\ntap Return\nwait page == none\n";
const std::string kOpenPause = "tap Escape\nwait page == pauseMenuMain\n";
// Back on Tutorial_Levels after the level: back to Main, where Escape ends.
const std::string kBackAndEnd =
    "wait screen == Tutorial_Levels\nafter 0.2\ntap /\nwait screen == Main\nafter 0.2\ntap Escape\nend\n";

class ProgramRunTest : public FrontEndTest {
protected:
    // Runs the program with the script, which must end it (with 0).
    void RunScript(const std::string& text)
    {
        char error[512] = "";
        g_script = InputScript_Parse(text.data(), text.size(), "road.txt", error, sizeof error);
        ASSERT_NE(g_script, nullptr) << error;
        EXPECT_EQ(InputScript_Start(g_script, INPUTSCRIPT_DEFAULT_STEP_MS, error, sizeof error), 1) << error;
        InputScript_SetProbe(g_script, Probe, nullptr);
        AppHooks hooks = ProgramHooks_Make();
        if (!hooks.gameSetup) hooks.gameSetup = [] { return Game_Setup() ? 1 : 0; };
        hooks.frameTick = Tick;
        AppHooks_Install(&hooks);
        ProgramHooks_InstallStateHooks();
        EXPECT_EQ(Run("-quiet"), 0);
        EXPECT_EQ(InputScript_GameEnded(g_script), INPUTSCRIPT_ENDED) << InputScript_GetMessage(g_script);
        InputScript_Destroy(g_script);
        g_script = nullptr;
    }
};

TEST_F(ProgramRunTest, TitleMainLoadSaveSavesLoadsAndEscapeOnMainEndsTheProgram)
{
    WriteFrontEnd();
    WriteFileNames();
    RunScript(kToMain + Downs(2) + kSave +
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
              "wait screen == Main\n"
              "after 0.1\ntap Escape\n"
              "end\n");
    // Escape ended it: no state type follows the front end.
    EXPECT_EQ(Game_GetContext()->gameStateType, (uint32_t)GAMESTATE_NONE);
    EXPECT_EQ(ReadRoad1().size(), 1936u);
}

// The level of the tutorial road (a scene of one null, no player entity)
// and the level's menus: the page that waits after the load, and the pause
// menu with its two sliders, resume (a backup), restart and quit.
void WriteTutorialLevel()
{
    LwsWriterScene scene;
    LwsWriterItem item;
    item.name = "Marker_Null";
    item.keys.push_back(LwsWriterKey{});
    scene.items.push_back(item);
    gametest::WriteData("Levels/Tutorial.lws", LwsWriter_Write(scene));
    // The level's music: one of three tracks, streams in the working folder.
    for (const char* track : {"Track1", "Track2", "Track3"})
        gametest::Write(std::string("Streams/") + track + ".wav",
                        wavefile::Make(wavefile::Layout{}, wavefile::Samples16(std::vector<int16_t>(44100, 0))));
    gametest::WriteConfig("levels\\level1.cfg",
                          "game {\n Level {\n levelscene = Levels\\Tutorial.lws\n levelToUnlock = 5\n }\n}\n");
    gametest::WriteConfig(
        "InGameMenu.cfg",
        "SOUNDS {\n SoundList {\n  moveFocus = s.wav\n  back = s.wav\n  select = s.wav\n  knob = s.wav\n }\n}\n"
        "MenuData {\n"
        " loadingScreenContinue {\n  closeDownMenuOnBackup = TRUE\n"
        "  continue {\n   MenuItem = TRUE\n   MenuItemBackup = TRUE\n  }\n }\n"
        " pauseMenuMain {\n  closeDownMenuOnBackup = TRUE\n"
        "  initialiseCallback = InGameMenu_Callbacks_PauseMenuMainInit\n"
        "  updateCallback = InGameMenu_Callbacks_PauseMenuMainUpdate\n"
        "  shutdownCallback = InGameMenu_Callbacks_PauseMenuMainShutdown\n"
        "  sfxScrollBarRange = 160, 0\n  musicScrollBarRange = 160, 0\n  sfxChangeSound = knob\n"
        "  resume {\n   MenuItem = TRUE\n   MenuItemBackup = TRUE\n  }\n"
        "  sfxVolumeSelection {\n   MenuItem = TRUE\n  }\n  musicVolumeSelection {\n   MenuItem = TRUE\n  }\n"
        "  restart {\n   MenuItem = TRUE\n   MenuSelection = restartLevel\n  }\n"
        "  quit {\n   MenuItem = TRUE\n   MenuSelection = quitToFrontend\n  }\n"
        "  next {\n   MenuItem = TRUE\n   MenuSelection = nextLevel\n  }\n"
        "  sfxVolumeAdjuster {\n   ImagePosition = 100, 50\n  }\n"
        "  musicVolumeAdjuster {\n   ImagePosition = 100, 80\n  }\n }\n}\n");
}

TEST_F(ProgramRunTest, TheTutorialLevelPausesAndComesBackToTheFrontEndWhereItWasLeft)
{
    WriteFrontEnd();
    WriteTutorialLevel();
    RunScript(kToMain + Downs(4) + "after 0.1\ntap Return\n" + kPlayTutorial + "after 1.5\nexpect ruleclock > 1\n" +
              kOpenPause +
              // Effects one sixteenth up from 0.65 (truncated), music one down from 0.35.
              Downs(1) +
              "after 0.1\ntap Right\nafter 0.2\n"
              "expect volume.sfx == 0.6875\nexpect master == 0.6875\n" +
              Downs(1) +
              "after 0.1\ntap Left\nafter 0.2\n"
              "expect volume.music == 0.25\nexpect volume.sfx == 0.6875\nexpect music.applied == 1\n" +
              // Restart closes the menu and sets the level's rule clock back.
              Downs(1) +
              "after 0.1\ntap Return\nwait page == none\n"
              "expect ruleclock < 0.5\nexpect state == level\n"
              // Back resumes.
              "after 0.2\n" +
              kOpenPause +
              "after 0.1\ntap /\nwait page == none\n"
              "after 0.5\nexpect state == level\n" +
              // Quit goes back to the screen the level was launched from.
              kOpenPause + Downs(4) +
              "after 0.1\ntap Return\n"
              "wait state == frontend timeout 20\n"
              "expect volume.music == 0.25\nexpect volume.sfx == 0.6875\n" +
              kBackAndEnd);
    EXPECT_EQ(Game_GetContext()->gameStateType, (uint32_t)GAMESTATE_NONE);
}

TEST_F(ProgramRunTest, FinishingALevelAfterASaveAutosavesItsProgressAndComesBack)
{
    WriteFrontEnd();
    WriteFileNames();
    WriteTutorialLevel();
    RunScript(kToMain + Downs(2) + kSave + "after 0.1\ntap /\nwait screen == Main\n" + Downs(2) +
              "after 0.1\ntap Return\n" + kPlayTutorial + "after 0.2\n" + kOpenPause + Downs(5) +
              "after 0.1\ntap Return\n"
              "wait card == LS_MEMCARD_SUCCESS_AUTOSAVE timeout 20\n"
              "wait state == frontend timeout 20\n" +
              kBackAndEnd);
    // The autosave wrote the level's completion over the first save.
    const std::vector<uint8_t> saved = ReadRoad1();
    ASSERT_EQ(saved.size(), (size_t)SAVE_RECORD_SIZE);
    Progress_SetFlags(5, PROGRESS_COMPLETED, 0);
    ASSERT_TRUE(Save_UnpackRecord(saved.data()));
    EXPECT_TRUE(Progress_TestFlags(5, PROGRESS_COMPLETED));
}

}  // namespace
