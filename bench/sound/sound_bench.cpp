// The DirectSound stand-in's mixer: the cost of one second of 44.1 kHz
// stereo output with 32 playing voices of mixed rates and formats, through
// the direct render (the audio thread's code path, without the thread).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "platform/dsound/dsound.h"
#include "platform/dsound/dsound_test.h"

namespace {

void MixerSecond(benchmark::State& state)
{
    const uint32_t voices = (uint32_t)state.range(0);
    DSoundTest_SetDirectRender(1);
    IDirectSound* sound = nullptr;
    if (DirectSoundCreate(nullptr, &sound, nullptr) != DS_OK) {
        state.SkipWithError("no device");
        return;
    }
    // A quarter each of 8-bit mono, 16-bit mono, 8-bit stereo and 16-bit
    // stereo, at 11025, 22050, 44100 and 48000 Hz, one second each, looping,
    // and some of them panned and attenuated.
    const uint32_t rates[4] = {11025, 22050, 44100, 48000};
    std::vector<IDirectSoundBuffer*> buffers;
    for (uint32_t i = 0; i < voices; i++) {
        uint16_t channels = (uint16_t)(1 + (i / 2) % 2), bits = (uint16_t)(8 + 8 * (i % 2));
        uint32_t rate = rates[(i / 4) % 4];
        uint16_t align = (uint16_t)(channels * bits / 8);
        WAVEFORMATEX format = {WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
        DSBUFFERDESC desc = {sizeof desc, DSBCAPS_STATIC | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_CTRLFREQUENCY,
                             rate * align, 0, &format};
        IDirectSoundBuffer* b = nullptr;
        if (sound->CreateSoundBuffer(&desc, &b, nullptr) != DS_OK) continue;
        void* data = nullptr;
        uint32_t bytes = 0;
        b->Lock(0, 0, &data, &bytes, nullptr, nullptr, DSBLOCK_ENTIREBUFFER);
        for (uint32_t k = 0; k < bytes; k++) ((uint8_t*)data)[k] = (uint8_t)(k * 31 + i);
        b->Unlock(data, bytes, nullptr, 0);
        b->SetPan((int32_t)(i % 5) * 1000 - 2000);
        b->SetVolume(-(int32_t)(i % 4) * 300);
        b->Play(0, 0, DSBPLAY_LOOPING);
        buffers.push_back(b);
    }
    const uint32_t period = 1024;
    std::vector<int16_t> out(2 * period);
    for (auto _ : state) {
        for (uint32_t done = 0; done < 44100; done += period) DSoundTest_Render(sound, out.data(), period);
        benchmark::DoNotOptimize(out.data());
    }
    // The time per iteration is the time per second of output: divided by a
    // second, the share of one core the mixer takes while it plays.
    state.counters["voices"] = (double)buffers.size();
    for (IDirectSoundBuffer* b : buffers) b->Release();
    sound->Release();
    DSoundTest_SetDirectRender(0);
}
BENCHMARK(MixerSecond)->Arg(32)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
