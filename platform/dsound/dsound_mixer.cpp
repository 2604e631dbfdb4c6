#include "platform/dsound/dsound_mixer.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

SampleMemory* SampleMemory_Create(uint32_t bytes)
{
    uint8_t* data = (uint8_t*)calloc(1, bytes);
    if (!data) return nullptr;
    SampleMemory* memory = new SampleMemory;
    memory->refs = 1;
    memory->bytes = bytes;
    memory->data = data;
    return memory;
}

void SampleMemory_AddRef(SampleMemory* memory) { memory->refs++; }

void SampleMemory_Release(SampleMemory* memory)
{
    if (memory && --memory->refs == 0) {
        free(memory->data);
        delete memory;
    }
}

float Mixer_Gain(int32_t level)
{
    if (level <= DSBVOLUME_MIN) return 0.0f;
    return (float)std::pow(10.0, level / 2000.0);
}

void Mixer_UpdateGains(DSoundVoice* voice)
{
    float gain = Mixer_Gain(voice->volume);
    voice->gainLeft = gain * (voice->pan > 0 ? Mixer_Gain(-voice->pan) : 1.0f);
    voice->gainRight = gain * (voice->pan < 0 ? Mixer_Gain(voice->pan) : 1.0f);
}

namespace {

// One frame of a voice as two channels in 16-bit units.
inline void Fetch(const DSoundVoice* v, uint32_t frame, float* left, float* right)
{
    const uint8_t* p = v->samples->data + (size_t)frame * v->format.blockAlign;
    if (v->format.bitsPerSample == 8) {
        *left = (float)((p[0] - 128) << 8);
        *right = v->format.channels == 2 ? (float)((p[1] - 128) << 8) : *left;
    } else {
        *left = (float)(int16_t)(p[0] | p[1] << 8);
        *right = v->format.channels == 2 ? (float)(int16_t)(p[2] | p[3] << 8) : *left;
    }
}

void MixVoice(DSoundVoice* v, float* mix, uint32_t frames)
{
    uint32_t rate = v->frequency ? v->frequency : v->format.samplesPerSec;
    uint64_t step = ((uint64_t)rate << 32) / DSOUND_OUTPUT_RATE;
    uint64_t end = (uint64_t)v->frames << 32;
    for (uint32_t i = 0; i < frames; i++) {
        uint32_t frame = (uint32_t)(v->position >> 32);
        float t = (float)(uint32_t)v->position * (1.0f / 4294967296.0f);
        uint32_t next = frame + 1 < v->frames ? frame + 1 : (v->looping ? 0 : frame);
        float l0, r0, l1, r1;
        Fetch(v, frame, &l0, &r0);
        Fetch(v, next, &l1, &r1);
        mix[2 * i] += (l0 + (l1 - l0) * t) * v->gainLeft;
        mix[2 * i + 1] += (r0 + (r1 - r0) * t) * v->gainRight;
        v->position += step;
        if (v->position >= end) {
            if (!v->looping) {
                v->playing = false;
                v->position = 0;
                return;
            }
            v->position %= end;
        }
    }
}

}  // namespace

void Mixer_Render(DSoundDevice* device, int16_t* out, uint32_t frames)
{
    std::vector<float>& mix = device->scratch;
    mix.assign((size_t)frames * 2, 0.0f);
    if (!device->closed)
        for (DSoundVoice* v : device->voices)
            if (v->playing && v->frames > 0 && (v->globalFocus || !device->unfocused)) MixVoice(v, mix.data(), frames);
    for (size_t i = 0; i < (size_t)frames * 2; i++) {
        float s = std::nearbyint(mix[i] * device->primaryGain);
        out[i] = (int16_t)(s > 32767.0f ? 32767 : s < -32768.0f ? -32768 : s);
    }
}

void Mixer_Cursors(const DSoundDevice* device, const DSoundVoice* voice, uint32_t* play, uint32_t* write)
{
    uint32_t align = voice->format.blockAlign;
    uint32_t bytes = voice->frames * align;
    uint32_t playByte = (uint32_t)(voice->position >> 32) * align;
    uint32_t rate = voice->frequency ? voice->frequency : voice->format.samplesPerSec;
    uint64_t leadFrames = ((uint64_t)device->periodFrames * rate + DSOUND_OUTPUT_RATE - 1) / DSOUND_OUTPUT_RATE;
    uint64_t lead = leadFrames * align;
    if (bytes > 0 && lead >= bytes) lead = bytes - align;
    if (play) *play = playByte;
    if (write) *write = bytes ? (uint32_t)((playByte + lead) % bytes) : 0;
}
