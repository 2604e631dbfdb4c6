// Test hooks of the Direct3D 8 stand-in: other capability answers, a
// recording of every call, and scripted failures, so that the driver's
// fallbacks, user-pointer paths and reset procedure can be exercised.
// Process-wide and not thread-safe, like the device itself.
#pragma once

#include <cstdint>

#include "platform/direct3d/d3d8.h"

// Answers for objects created from now on (null = the defaults).
void D3D8Test_SetAnswers(const D3D8Answers* answers);
const D3D8Answers* D3D8Test_Answers();

// Calls whose failure can be scripted.
enum D3D8FaultCall {
  D3D8_FAULT_CREATEDEVICE,
  D3D8_FAULT_CREATETEXTURE,
  D3D8_FAULT_CREATEBUFFER,   // vertex and index buffers
  D3D8_FAULT_CREATESURFACE,  // depth and image surfaces, swap chains
  D3D8_FAULT_LOCK,           // buffer, surface and texture locks
  D3D8_FAULT_DRAW,           // the four draw calls
  D3D8_FAULT_SETRENDERTARGET,
  D3D8_FAULT_COPYRECTS,
  D3D8_FAULT_RESET,
  D3D8_FAULT_PRESENT,
  D3D8_FAULT_CREATESHADER,   // pixel shaders (when they are switched on)
  D3D8_FAULT_COUNT
};

// After `skip` successful calls of that kind, the next `times` calls fail
// with `result` (for example D3DERR_OUTOFVIDEOMEMORY on creation) and change
// nothing. Replaces an earlier script for the same call.
void D3D8Test_InjectFault(D3D8FaultCall call, int skip, int times, D3DRESULT result);

// Loses the device: TestCooperativeLevel answers D3DERR_DEVICELOST for the
// next `lostAnswers` calls, then D3DERR_DEVICENOTRESET until a Reset
// succeeds. Present answers D3DERR_DEVICELOST meanwhile; draws do nothing.
void D3D8Test_LoseDevice(IDirect3DDevice8* device, int lostAnswers);

// Queues an answer for the next ValidateDevice call (instead of the truthful one).
void D3D8Test_ScriptValidate(D3DRESULT result, uint32_t passes);

// Recording: while on, every call of the object, the device and its
// resources appends one line "Name(arg, ...) = result" (objects as "#id",
// null as "null"). The text stays valid until the next recording call.
void D3D8Test_StartRecording();
void D3D8Test_StopRecording();
const char* D3D8Test_Recording();

// Finishes every draw and clear made so far (drawing is deferred, see
// rasteriser.h): afterwards the surfaces' memory holds them. Locks, copies
// and Present do this themselves; tests that read a surface's memory
// directly call it first.
void D3D8Test_Finish();

// Back to defaults: default answers, no faults or scripts, no recording.
void D3D8Test_ResetAll();

// ---- used by the stand-in itself ----
// Consumes one call of `call`: D3D_OK, or the scripted failure.
D3DRESULT D3D8Test_Fault(D3D8FaultCall call);
// 1 and fills the answer when a ValidateDevice answer is queued.
int D3D8Test_NextValidate(D3DRESULT* result, uint32_t* passes);
// 1 while recording.
int D3D8Test_Recording_On();
// Appends one formatted line to the recording (when on).
void D3D8Test_Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
