// Test hooks of the DirectSound stand-in: a direct render of the mixer
// (the same code path as the audio thread, with no thread and no device),
// and a switch that makes every device fail to open.
#pragma once

#include <cstdint>

struct IDirectSound;

// While on, DirectSoundCreate opens no SDL audio device: the mixer runs
// only when DSoundTest_Render asks. Affects devices created afterwards.
void DSoundTest_SetDirectRender(int on);
// Mixes `frames` frames (44100 Hz stereo int16) into out, advancing every
// playing buffer as a device callback of that many frames would. 0 for a
// device that plays through SDL, or null arguments.
int DSoundTest_Render(IDirectSound* sound, int16_t* out, uint32_t frames);
// While off, no SDL audio device opens: DirectSoundCreate fails with
// DSERR_NODRIVER and DirectSoundEnumerate reports nothing.
void DSoundTest_SetDeviceAvailable(int available);
// Voices (secondary buffers) alive on the device.
uint32_t DSoundTest_VoiceCount(IDirectSound* sound);
