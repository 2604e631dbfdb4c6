// Fuzzes the animation-set file reader: any bytes as an ".atf" file. Every
// string handed out is walked to its NUL and every index read, so a string
// or record outside the parsed blocks shows under the address sanitizer.
#include <cstring>

#include "engine/animfile.h"
#include "fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  AnimFile* file = AnimFile_Read("fuzz.atf");
  if (!file) return 0;
  size_t sum = 0;
  for (uint32_t i = 0; i < file->animationCount; i++) {
    sum += strlen(file->animations[i].scenePath) + strlen(file->animations[i].name);
    sum += file->animations[i].flags;
  }
  for (uint32_t i = 0; i < file->eventCount; i++) sum += strlen(file->eventNames[i]);
  for (uint32_t i = 0; i < file->keyEventCount; i++) {
    const AnimFileKeyEvent& k = file->keyEvents[i];
    if (k.item == ANIMFILE_SKIP) __builtin_trap();  // skip records are no events
    sum += k.animation + k.event;
  }
  AnimFile_Free(file);
  return sum == 1 ? 1 : 0;
}
