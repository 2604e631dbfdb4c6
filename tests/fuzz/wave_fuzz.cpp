// Fuzzes the RIFF WAVE reader and the sound system over it: any bytes as a
// sound held whole (through the file layer), as a looping stream (on disk),
// and a few mixed periods of both. Nothing may be lost: every sound the
// input made is gone again at the end.
#include <cstdio>
#include <cstdlib>

#include "app/sound.h"
#include "app/wave.h"
#include "common/memory.h"
#include "fuzz_files.h"
#include "platform/dsound/dsound.h"
#include "platform/dsound/dsound_test.h"
#include "platform/win32/sysfile.h"

// The two shell services the sound system asks for.
Window* App_GetWindow(void) { return nullptr; }
const char* App_GetCDDriveName(void) { return ""; }

namespace {

void Mix(int periods)
{
    int16_t out[2 * 512];
    for (int i = 0; i < periods; i++) {
        Sound_Update(0.02f);
        DSoundTest_Render(Sound_GetDirectSound(), out, 512);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = (DSoundTest_SetDirectRender(1), Sound_Init(), Sound_IsOn() != 0);
  if (!started) abort();
  fuzz::Input input(data, size);
  WaveFile* wave = nullptr;
  WAVEFORMATEX* format = nullptr;
  WaveChunk riff, chunk;
  if (Wave_Open("fuzz.wav", &wave, &format, &riff, 0)) {
    uint8_t buffer[700];
    uint32_t got = 0;
    if (Wave_FindData(wave, &chunk, &riff))
      while (Wave_Read(wave, sizeof buffer, buffer, &chunk, &got) && got) {}
    Mem_Free(format);
    Wave_Close(wave);
  }
  if (Sound* whole = Sound_Load("fuzz.wav", 0)) {
    Sound* loop = Sound_PlayLoopInstance(whole, nullptr);
    Sound_PlayOneShot(whole, nullptr);
    Sound_SetFrequency(loop, 100 + size % 90000);
    Mix(3);
    Sound_Release(loop);
    Sound_Release(whole);
  }
  if (FILE* file = SysFile_Open("fuzz-stream.wav", "wb")) {
    fwrite(data, 1, size, file);
    fclose(file);
    if (Sound* stream = Sound_Load("fuzz-stream.wav", SOUND_LOAD_STREAM | SOUND_LOAD_STREAM_LOOPS)) {
      Sound_StartNow(stream);
      Mix(4);
      Sound_Release(stream);
    }
  }
  Sound_ReleaseIdle();
  Mix(1);
  if (Sound_GetCount() != 0) abort();  // a sound the input made was lost
  return 0;
}
