// The game's fuzz targets run over the real engine instance, whose file
// table is replaced by the in-memory files of memory_file.h before the file
// layer takes it over: every data file the game opens (levels, lists,
// "Load.dat", text files, through the hashed cache too) serves the fuzzer's
// bytes.
#pragma once

#include "app/config.h"
#include "app/file.h"
#include "app/soundbank.h"
#include "app/text.h"
#include "gfx/core/engine.h"
#include "memory_file.h"

namespace fuzz {

inline void StartGame()
{
    static bool started = false;
    if (started) return;
    started = true;
    Engine_Init(nullptr, 0, 0);
    *FileSystem_GetInterface() = FileInterface{Exists, Open, Close, Read, Write, Gets, Puts, Eof, Seek, Flush, Tell};
    File_Init();
    ConfigSys_Init();
    Text_Init();
    SoundBank_Init();
}

inline void Serve(const uint8_t* data, size_t size)
{
    g_data = data;
    g_size = size;
}

}  // namespace fuzz
