// Shared set-up of the game's tests: each test runs in a folder of its own (tests run in parallel processes) with the
// engine's file table, the file layer, configurations, text tables and the sound bank in place, and the game's records
// put back to their start-up state. Data files are written into "data/" (the data layer's "DATA\"), configurations
// compiled there with the configuration compiler.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/file.h"
#include "app/shell.h"
#include "app/soundbank.h"
#include "app/text.h"
#include "app/wad.h"
#include "game/game_context.h"
#include "game/game_setup.h"
#include "game/level_session.h"
#include "game/memcard_ui.h"
#include "game/menu_system.h"
#include "game/players.h"
#include "game/race_setup.h"
#include "game/state_hooks.h"
#include "gfx/core/engine.h"
#include "platform/win32/path.h"
#include "tests/engine/engine_fixture.h"
#include "tests/test_env.h"
#include "tools/lib/cfgc.h"
#include "tools/lib/lwswrite.h"

namespace gametest {

// The game's records as a fresh process has them.
inline void ResetGame()
{
    memset(Game_GetContext(), 0, sizeof(GameContext));
    memset(Level_GetSession(), 0, sizeof(LevelSession));
    memset((void*)GameSetup_Get(), 0, sizeof(GameSetupRecord));
    Game_SetRequestedState(GAME_REQUEST_NONE);
    Game_SetMaxPlayers(4);
    Game_SetRandomSource(nullptr);
    GameStateHooks_Install(nullptr);
    MenuTest_SetOpen(0);
    MemCardUITest_Reset();
    Player_AssignDevices();  // no pads open: every slot without a device
    App_ParseCommandLine("");
    Game_ReadSwitches();     // no packing run left over from another test
}

// Writes bytes to a path relative to the working folder, making folders.
inline void Write(const std::string& path, const std::string& bytes)
{
    std::filesystem::path p(path);
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

// A data file ("Unlocked.cfg" is "data/Unlocked.cfg").
inline void WriteData(const std::string& name, const std::string& bytes)
{
    std::string path = "data/" + name;
    for (char& c : path)
        if (c == '\\') c = '/';
    Write(path, bytes);
}

// Compiles a configuration written in the compiler's text form and puts it where Config_Open finds the source name.
inline void WriteConfig(const char* sourceName, const std::string& text)
{
    std::vector<uint8_t> bytes;
    CfgcError error;
    ASSERT_EQ(Cfgc_Compile(text.data(), text.size(), &bytes, &error), 1) << error.line << ": " << error.message;
    Write("data/" + Cfgc_OutputPath(sourceName), std::string(bytes.begin(), bytes.end()));
}

// A scene item (a null unless its kind is changed) with one key at the position, turned about y.
inline LwsWriterItem SceneItem(const char* name, float x = 0, float y = 0, float z = 0, float heading = 0)
{
    LwsWriterItem item;
    item.name = name;
    item.keys.push_back(LwsWriterKey{0, {x, y, z}, {heading, 0, 0}});
    return item;
}

}  // namespace gametest

class GameTest : public ::testing::Test, protected enginetest::TestFolder {
protected:
    void SetUp() override
    {
        EnterFolder("game_");
        ASSERT_EQ(Engine_Init(nullptr, 0, 0), 1);
        for (auto init : {File_Init, ConfigSys_Init, Text_Init, Wad_Init, SoundBank_Init}) ASSERT_EQ(init(), 1);
        ResetGame();
    }

    void TearDown() override
    {
        ResetGame();
        SoundBank_Shutdown();
        Wad_Shutdown();
        Text_Shutdown();
        ConfigSys_Shutdown();
        File_Shutdown();
        File_SetClock(nullptr);
        Engine_Term();
        App_ParseCommandLine("");
        LeaveFolder();
    }

    static void ResetGame() { gametest::ResetGame(); }
    static void Write(const std::string& path, const std::string& bytes) { gametest::Write(path, bytes); }
    static void WriteData(const std::string& name, const std::string& bytes) { gametest::WriteData(name, bytes); }
    static void WriteConfig(const char* name, const std::string& text) { gametest::WriteConfig(name, text); }
};
