// The DirectShow stand-in's decoding side: frames per second decoded and
// converted to the display format from a 640 x 480 MPEG-1 clip, as playback
// does them ahead of the clock, without a window or a clock.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/dshow/dshow_test.h"

namespace {

const std::string& ClipPath()
{
    static const std::string path = [] {
        std::string p = (std::filesystem::temp_directory_path() / "helm-video-bench.mpg").string();
        DShowClip clip;
        clip.width = 640;
        clip.height = 480;
        clip.seconds = 4.0f;
        clip.audio = false;
        return DShowTest_WriteClip(p.c_str(), clip) ? p : std::string();
    }();
    return path;
}

void DecodeAndConvert(benchmark::State& state)
{
    const std::string& path = ClipPath();
    if (path.empty()) {
        state.SkipWithError("the clip could not be written");
        return;
    }
    int64_t frames = 0;
    for (auto _ : state) {
        int32_t n = DShowTest_DecodeFrames(path.c_str());
        if (n <= 0) {
            state.SkipWithError("the clip could not be decoded");
            return;
        }
        frames += n;
    }
    state.counters["frames_per_second"] = benchmark::Counter((double)frames, benchmark::Counter::kIsRate);
}
BENCHMARK(DecodeAndConvert)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
