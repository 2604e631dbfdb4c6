#include "tools/lib/wavewrite.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "app/wave.h"
#include "common/memory.h"
#include "platform/dsound/dsound.h"
#include "tests/app/data_fixture.h"

namespace {

// The file through the shell's own WAVE reader: its format and every sample.
void ReadBack(const std::string& path, WAVEFORMATEX* formatOut, std::vector<int16_t>* samples)
{
    WaveFile* wave = nullptr;
    WAVEFORMATEX* format = nullptr;
    WaveChunk riff, data;
    ASSERT_EQ(Wave_Open(path.c_str(), &wave, &format, &riff, 1), 1) << path;
    *formatOut = *format;
    Mem_Free(format);
    ASSERT_EQ(Wave_FindData(wave, &data, &riff), 1);
    std::vector<uint8_t> bytes(data.cksize);
    uint32_t got = 0;
    EXPECT_EQ(Wave_Read(wave, (uint32_t)bytes.size(), bytes.data(), &data, &got), 1);
    EXPECT_EQ(got, bytes.size());
    Wave_Close(wave);
    samples->resize(bytes.size() / 2);
    for (size_t i = 0; i < samples->size(); i++) (*samples)[i] = (int16_t)(bytes[2 * i] | bytes[2 * i + 1] << 8);
}

using WaveWriter = FolderTest;

int Peak(const std::vector<int16_t>& samples, size_t from = 0, size_t to = SIZE_MAX)
{
    int peak = 0;
    for (size_t i = from; i < std::min(to, samples.size()); i++) peak = std::max(peak, std::abs((int)samples[i]));
    return peak;
}

TEST_F(WaveWriter, TheShellsReaderGetsTheFormatAndEverySample)
{
    const std::string folder = folder_.string() + "/";
    // Channels, rate, frames.
    const std::tuple<int32_t, int32_t, size_t> cases[] = {
        {1, 22050, 1}, {1, 8000, 301}, {2, 44100, 1000}, {2, 96000, 3}};
    for (const auto& [channels, rate, frames] : cases) {
        std::vector<int16_t> samples(frames * (size_t)channels);
        for (size_t i = 0; i < samples.size(); i++) samples[i] = (int16_t)((int)(i * 7919) % 65536 - 32768);
        const std::string path = folder + std::to_string(rate) + ".wav";
        std::string error;
        ASSERT_EQ(WaveWriter_Write(path, samples, channels, rate, &error), 1) << error;
        WAVEFORMATEX format;
        std::vector<int16_t> read;
        ReadBack(path, &format, &read);
        EXPECT_EQ(std::make_tuple(format.formatTag, format.channels, format.samplesPerSec, format.bitsPerSample,
                                  format.blockAlign, format.avgBytesPerSec),
                  std::make_tuple(1, channels, (uint32_t)rate, 16, 2 * channels, (uint32_t)(2 * channels * rate)));
        EXPECT_EQ(read, samples);
    }
}

TEST_F(WaveWriter, BadFormatsAreRefusedAndWriteNothing)
{
    const std::string folder = folder_.string() + "/";
    const std::vector<int16_t> stereoCut = {1, 2, 3};
    const std::vector<int16_t> some = {1, 2};
    const std::tuple<const std::vector<int16_t>*, int32_t, int32_t> cases[] = {
        {&some, 0, 22050}, {&some, 3, 22050}, {&some, 1, 100}, {&some, 1, 200000}, {&stereoCut, 2, 22050}};
    for (const auto& [samples, channels, rate] : cases) {
        std::string error;
        EXPECT_EQ(WaveWriter_Write(folder + "bad.wav", *samples, channels, rate, &error), 0);
        EXPECT_NE(error.find("bad.wav"), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(folder + "bad.wav"));
    }
}

TEST(WaveSynth, EveryEffectSoundsForItsLengthAndEndsSilent)
{
    for (const char* kind : {"blip", "click", "jump", "land", "pickup", "hit", "whoosh", "boom"}) {
        std::string error;
        const std::vector<int16_t> designed = WaveSynth_Effect(kind, 0, 1, 1, 22050, &error);
        ASSERT_FALSE(designed.empty()) << kind << ": " << error;
        EXPECT_GT(Peak(designed), 3000) << kind;
        EXPECT_LT(Peak(designed, designed.size() - designed.size() / 50), 2500) << kind << " ends loud";
        const std::vector<int16_t> longer = WaveSynth_Effect(kind, 0.6f, 1.5f, 2, 22050, &error);
        EXPECT_EQ(longer.size(), (size_t)(0.6 * 22050 + 0.5)) << kind;
        // The same parameters, the same sound.
        EXPECT_EQ(WaveSynth_Effect(kind, 0.6f, 1.5f, 2, 22050, &error), longer) << kind;
    }
    std::string error;
    EXPECT_TRUE(WaveSynth_Effect("moo", 0, 1, 1, 22050, &error).empty());
    EXPECT_NE(error.find("moo"), std::string::npos);
    for (auto [seconds, pitch, rate] : {std::tuple{11, 1, 22050}, {0, 0, 22050}, {0, 1, 10}})
        EXPECT_TRUE(WaveSynth_Effect("blip", seconds, pitch, 1, rate, &error).empty()) << seconds << pitch << rate;
}

TEST(WaveSynth, MusicLastsItsStepsAndLoopsWithoutAClick)
{
    WaveSynthMusic music;
    music.tempo = 120;
    music.stepsPerBeat = 2;  // 0.25 s a step
    music.voices = {{"square", 0.25f, "C4 E4 G4 - C5 . G4 E4"},
                    {"triangle", 0.3f, "C3 - - - G2 - - -"},
                    {"drums", 0.4f, "k h s h"}};
    std::string error;
    const std::vector<int16_t> piece = WaveSynth_Music(music, 22050, &error);
    ASSERT_EQ(piece.size(), (size_t)(8 * 0.25 * 22050)) << error;
    EXPECT_GT(Peak(piece), 5000);
    // The ends meet quietly: the loop point falls where every note has faded.
    EXPECT_LT(std::abs((int)piece.front()), 500);
    EXPECT_LT(std::abs((int)piece.back()), 500);
    // The rest in step 6 of the melody leaves only the bass sounding then.
    WaveSynthMusic melody = music;
    melody.voices.resize(1);
    const std::vector<int16_t> alone = WaveSynth_Music(melody, 22050, &error);
    const size_t step = (size_t)(0.25 * 22050);
    EXPECT_LT(Peak(alone, 5 * step + 10, 6 * step), 10);
    EXPECT_GT(Peak(alone, 4 * step + 10, 5 * step), 3000);

    const std::pair<WaveSynthVoice, const char*> bad[] = {{{"square", 0.3f, "C4 H4"}, "voice 1, step 2"},
               {{"square", 0.3f, "C9"}, "step 1"},
               {{"drums", 0.3f, "k x"}, "step 2"},
               {{"organ", 0.3f, "C4"}, "wave"},
               {{"sine", 2.0f, "C4"}, "volume"},
               {{"sine", 0.5f, "  "}, "no notes"}};
    for (const auto& [voice, says] : bad) {
        WaveSynthMusic m;
        m.voices = {voice};
        EXPECT_TRUE(WaveSynth_Music(m, 22050, &error).empty()) << says;
        EXPECT_NE(error.find(says), std::string::npos) << error;
    }
}

}  // namespace
