// What the game's benchmarks share: a level's modules over the game's
// records in a temporary working folder, and writers for the data files a
// benchmark lays out under its "data/" folder.
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/file.h"
#include "app/soundbank.h"
#include "app/text.h"
#include "engine/scene.h"
#include "game/entity.h"
#include "game/level_session.h"
#include "gfx/core/engine.h"
#include "tests/game/entity_modules.h"
#include "tools/lib/atfwrite.h"
#include "tools/lib/cfgc.h"
#include "tools/lib/lwswrite.h"

namespace benchlevel {

// A data file by its game name (backslashes), under "data/".
inline void WriteData(std::string name, const std::string& bytes)
{
    name = "data/" + name;
    for (char& c : name)
        if (c == '\\') c = '/';
    std::filesystem::create_directories(std::filesystem::path(name).parent_path());
    std::ofstream(name, std::ios::binary) << bytes;
}

// A configuration compiled to its cache name; a fault in the text is
// printed and nothing is written.
inline void WriteConfig(const char* name, const std::string& text)
{
    std::vector<uint8_t> bytes;
    CfgcError error;
    if (Cfgc_Compile(text.data(), text.size(), &bytes, &error))
        WriteData(Cfgc_OutputPath(name), std::string(bytes.begin(), bytes.end()));
    else
        fprintf(stderr, "%s:%d: %s\n", name, error.line, error.message.c_str());
}

// A scene item standing at one place.
inline LwsWriterItem Item(const char* name, float x, float y, float z)
{
    LwsWriterItem item;
    item.name = name;
    LwsWriterKey k;
    k.position[0] = x;
    k.position[1] = y;
    k.position[2] = z;
    item.keys.push_back(k);
    return item;
}

// A scene of `seconds` at 30 frames a second; without items, one "Root".
inline void WriteScene(const std::string& name, const std::vector<LwsWriterItem>& items, float seconds = 1.0f)
{
    LwsWriterScene s;
    s.lastFrame = (int)std::lround(seconds * 30.0f);
    s.items = items.empty() ? std::vector<LwsWriterItem>{Item("Root", 0, 0, 0)} : items;
    WriteData(name, LwsWriter_Write(s));
}

// An animation set of looping one-second nodes-only animations.
inline void WriteAnimSet(const std::string& set, const char* extension, const std::vector<const char*>& names)
{
    AtfWriterSet atf;
    for (const char* n : names) {
        const std::string scene = set + "_" + n + ".lws";
        WriteScene(scene, {}, 1.0f);
        AtfWriterAnimation a;
        a.name = n;
        a.scenePath = scene;
        a.sceneFlags = SCENE_NODES_ONLY | SCENE_LOOP;
        atf.animations.push_back(a);
    }
    std::vector<uint8_t> bytes = AtfWriter_Encode(atf);
    WriteData(AtfWriter_CacheName(set.c_str(), extension), std::string(bytes.begin(), bytes.end()));
}

// The engine, the file layer, configurations, text tables, the sound bank
// and a level's modules, started in a new temporary folder that becomes
// the working folder; all stopped, every control mode unregistered and
// the folder removed again at the end. `registerModes`, when given, runs
// before the level's modules start. Configurations are looked up in
// "Levels\Bench".
class BenchLevel {
public:
    explicit BenchLevel(const char* name, int (*registerModes)(void) = nullptr)
    {
        folder_ = std::filesystem::temp_directory_path() / (std::string(name) + "_" + std::to_string(getpid()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_ / "data");
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_);
        Engine_Init(nullptr, 0, 0);
        File_Init();
        ConfigSys_Init();
        Text_Init();
        SoundBank_Init();
        if (registerModes) registerModes();
        ok = EntityModules_Start(&modules) != 0;
        Level_SetConfigDir("Levels\\Bench");
    }
    ~BenchLevel()
    {
        EntityModules_Stop(&modules);
        for (uint32_t m = 0; m < CONTROL_MODES; ++m) ControlMode_Register(m, nullptr, 0);
        SoundBank_Shutdown();
        Text_Shutdown();
        ConfigSys_Shutdown();
        File_Shutdown();
        Engine_Term();
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(folder_);
    }
    BenchLevel(const BenchLevel&) = delete;
    BenchLevel& operator=(const BenchLevel&) = delete;

    EntityModules modules;
    bool ok = false;

private:
    std::filesystem::path folder_, previous_;
};

}  // namespace benchlevel
