// The mixer of the DirectSound stand-in: voices over shared sample memory
// and the render that sums them. Not for callers of the stand-in.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/dsound/dsound.h"

struct SDL_mutex;

// Sample memory shared by a buffer and its duplicates.
struct SampleMemory {
    std::atomic<uint32_t> refs;
    uint32_t bytes;
    uint8_t* data;
};

SampleMemory* SampleMemory_Create(uint32_t bytes);
void SampleMemory_AddRef(SampleMemory* memory);
void SampleMemory_Release(SampleMemory* memory);

// One secondary buffer's playing state. Fields below `samples` change only
// under the device lock.
struct DSoundVoice {
    SampleMemory* samples;
    WAVEFORMATEX format;
    uint32_t frames;        // whole frames in the buffer
    bool playing;
    bool looping;
    uint64_t position;      // 32.32 fixed point, in frames
    int32_t volume;         // hundredths of a decibel
    int32_t pan;
    uint32_t frequency;     // 0: the format's rate
    float gainLeft, gainRight;  // from volume and pan
    bool globalFocus;           // DSBCAPS_GLOBALFOCUS: heard whatever window has the focus
};

// What an IDirectSound and its buffers share. Freed when the last of them
// is released.
struct DSoundDevice {
    uint32_t refs;              // the IDirectSound and every buffer
    SDL_mutex* lock;
    uint32_t audioDevice;       // SDL's device id, 0 for a direct-render device
    bool closed;                // the IDirectSound went: nothing is mixed any more
    std::vector<DSoundVoice*> voices;
    int32_t primaryVolume;
    float primaryGain;
    uint32_t periodFrames;      // frames of one callback: the write cursor's lead
    WAVEFORMATEX primaryFormat;
    std::vector<float> scratch; // the render's sums, grown once to the largest callback
    uint32_t focusWindow;       // SDL id of the cooperative-level window, 0 none
    bool unfocused;             // that window lost the focus: buffers without global focus hold
};

// 10^(level / 2000); 0 at -10000 and below.
float Mixer_Gain(int32_t level);
// Recomputes a voice's channel gains from its volume and pan.
void Mixer_UpdateGains(DSoundVoice* voice);
// Mixes frames into out (44100 Hz stereo int16); callers hold the lock.
void Mixer_Render(DSoundDevice* device, int16_t* out, uint32_t frames);
// The play and write cursors of a voice in bytes; callers hold the lock.
void Mixer_Cursors(const DSoundDevice* device, const DSoundVoice* voice, uint32_t* play, uint32_t* write);
