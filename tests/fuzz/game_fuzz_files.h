// The game's fuzz targets run over the real engine instance, whose file
// table is replaced by the in-memory files of memory_file.h before the file
// layer takes it over: every data file the game opens (through the hashed
// cache too) serves the fuzzer's bytes. The game's log is silenced.
#pragma once

#include <cstring>

#include "app/config.h"
#include "app/file.h"
#include "app/soundbank.h"
#include "app/text.h"
#include "game/game_context.h"
#include "game/game_log.h"
#include "memory_file.h"

namespace fuzz {

inline void StartGame()
{
    static bool started = false;
    if (started) return;
    started = true;
    Engine_Init(nullptr, 0, 0);
    *FileSystem_GetInterface() = Files();
    File_Init();
    ConfigSys_Init();
    Text_Init();
    SoundBank_Init();
    GameLog_SetSink([](const char*) {});
}

// Starts the game, clears its context and runs the case the first byte picks
// with the rest served as every file.
template <size_t N>
int RunCase(void (*const (&cases)[N])(const uint8_t*, size_t), const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    StartGame();
    memset(Game_GetContext(), 0, sizeof(GameContext));
    Serve(data + 1, size - 1);
    cases[data[0] % N](data + 1, size - 1);
    return 0;
}

}  // namespace fuzz
