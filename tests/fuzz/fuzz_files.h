// In-memory file table for the fuzz targets that link no engine: it stands
// in for the engine's table, and every open in a read mode serves the
// fuzzer's bytes, so readers run over hostile data without a disk.
#pragma once

#include "app/file.h"
#include "gfx/core/engine.h"
#include "memory_file.h"

namespace fuzz {

inline EngineInstance g_instance = [] {
  EngineInstance e{};
  e.fileFunctions = Files();
  e.memoryFunctions = MemoryFunctions{malloc, free, realloc, calloc};
  return e;
}();

// One input for the length of a fuzz call: its bytes are every file, the
// file layer is installed over the table, and the table is put back after.
struct Input {
  FileInterface saved;
  Input(const uint8_t* data, size_t size) : saved(g_instance.fileFunctions) {
    Serve(data, size);
    File_Init();
  }
  ~Input() {
    File_Shutdown();
    g_instance.fileFunctions = saved;
  }
};

}  // namespace fuzz

EngineInstance* g_engineInstance = &fuzz::g_instance;
FileInterface* FileSystem_GetInterface(void) { return &g_engineInstance->fileFunctions; }
uint32_t Engine_GetInitFlags(void) { return 0; }
