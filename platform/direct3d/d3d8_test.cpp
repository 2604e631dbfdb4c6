#include "platform/direct3d/d3d8_test.h"

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <string>

#include "platform/direct3d/d3d8_internal.h"
#include "platform/direct3d/rasteriser.h"

namespace {

struct FaultScript {
  int skip = 0;
  int times = 0;
  D3DRESULT result = D3D_OK;
};

struct ValidateAnswer {
  D3DRESULT result;
  uint32_t passes;
};

// Module record of the test hooks.
struct TestHooks {
  D3D8Answers answers;
  FaultScript faults[D3D8_FAULT_COUNT];
  std::deque<ValidateAnswer> validates;
  bool recording = false;
  std::string log;
};

TestHooks& Hooks() {
  static TestHooks hooks;
  return hooks;
}

}  // namespace

void D3D8Test_SetAnswers(const D3D8Answers* answers) { Hooks().answers = answers ? *answers : D3D8Answers{}; }

const D3D8Answers* D3D8Test_Answers() { return &Hooks().answers; }

void D3D8Test_InjectFault(D3D8FaultCall call, int skip, int times, D3DRESULT result) {
  if (call < 0 || call >= D3D8_FAULT_COUNT) return;
  Hooks().faults[call] = FaultScript{skip < 0 ? 0 : skip, times < 0 ? 0 : times, result};
}

D3DRESULT D3D8Test_Fault(D3D8FaultCall call) {
  FaultScript& f = Hooks().faults[call];
  if (f.times <= 0) return D3D_OK;
  if (f.skip > 0) {
    --f.skip;
    return D3D_OK;
  }
  --f.times;
  return f.result;
}

void D3D8Test_LoseDevice(IDirect3DDevice8* device, int lostAnswers) {
  if (device) D3D8Device_Lose(device, lostAnswers);
}

void D3D8Test_Finish() { Rasteriser_Flush(); }

void D3D8Test_ScriptValidate(D3DRESULT result, uint32_t passes) { Hooks().validates.push_back({result, passes}); }

int D3D8Test_NextValidate(D3DRESULT* result, uint32_t* passes) {
  auto& q = Hooks().validates;
  if (q.empty()) return 0;
  *result = q.front().result;
  *passes = q.front().passes;
  q.pop_front();
  return 1;
}

void D3D8Test_StartRecording() {
  Hooks().recording = true;
  Hooks().log.clear();
}

void D3D8Test_StopRecording() { Hooks().recording = false; }

const char* D3D8Test_Recording() { return Hooks().log.c_str(); }

int D3D8Test_Recording_On() { return Hooks().recording ? 1 : 0; }

void D3D8Test_Log(const char* format, ...) {
  TestHooks& h = Hooks();
  if (!h.recording) return;
  char line[512];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  h.log += line;
  h.log += '\n';
}

void D3D8Test_ResetAll() {
  TestHooks& h = Hooks();
  h.answers = D3D8Answers{};
  for (FaultScript& f : h.faults) f = FaultScript{};
  h.validates.clear();
  h.recording = false;
  h.log.clear();
  h.log.shrink_to_fit();
}
