#include "app/sound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "app/hooks.h"
#include "platform/dsound/dsound.h"
#include "platform/dsound/dsound_test.h"
#include "tests/app/data_fixture.h"
#include "tests/app/wave_fixture.h"
#include "tests/test_env.h"

namespace {

using wavefile::Layout;
using wavefile::Make;
using wavefile::Samples16;

// A scene node as the sound system sees it: a world matrix.
struct FakeNode {
    float m[16];
};
FakeNode At(float x, float y, float z) { return FakeNode{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1}}; }
Node* AsNode(FakeNode* n) { return (Node*)n; }

class SoundTest : public DataTest {
protected:
    void SetUp() override
    {
        DataTest::SetUp();
        AppHooks hooks = {};
        hooks.nodeGetWorldPosition = [](Node* node, float* out) { memcpy(out, ((const FakeNode*)node)->m + 12, 12); };
        hooks.nodeGetWorldMatrix = [](Node* node, float* out) { memcpy(out, ((const FakeNode*)node)->m, 64); };
        AppHooks_Install(&hooks);
        DSoundTest_SetDirectRender(1);
        Sound_Init();
        ASSERT_EQ(Sound_IsOn(), 1);  // a test of sound must never silently test nothing
    }
    void TearDown() override
    {
        Sound_Shutdown();
        DSoundTest_SetDirectRender(0);
        DSoundTest_SetDeviceAvailable(1);
        AppHooks_Install(nullptr);
        DataTest::TearDown();
    }
    // Stereo frames of the mixer's output.
    static std::vector<int16_t> Render(uint32_t frames)
    {
        std::vector<int16_t> out(frames * 2);
        EXPECT_EQ(DSoundTest_Render(Sound_GetDirectSound(), out.data(), frames), 1);
        return out;
    }
    static Sound* Load(const char* name, const Layout& layout, const std::string& samples, uint32_t flags = 0)
    {
        WriteDisk(std::string("data/") + name, Make(layout, samples));
        return Sound_Load(name, flags);
    }
    static Sound* LoadConstant(const char* name, int16_t value, uint32_t frames = 2000)
    {
        return Load(name, Layout{}, Samples16(std::vector<int16_t>(frames, value)));
    }
    // "volume pan" of the instance's buffer.
    static std::string VolumePan(Sound* s)
    {
        int32_t v = 1, p = 1;
        s->buffer->GetVolume(&v);
        s->buffer->GetPan(&p);
        return std::to_string(v) + " " + std::to_string(p);
    }
};

TEST(SoundLevelTest, VolumesAndPansGoThroughTheAttenuationTable)
{
    EXPECT_EQ(Sound_GetAttenuation(256) + Sound_GetAttenuation(-1), 0);  // outside the table
    const std::tuple<float, int32_t, int32_t> cases[] = {
        // level, volume, pan
        {1.0f, 0, 9980}, {0.5f, -586, 586},   {0.0f, -9980, 0},
        {NAN, -9980, 0}, {-0.5f, -586, -586}, {-INFINITY, -9980, -9980},
    };
    for (const auto& [in, volume, pan] : cases) {
        if (!(in < 0)) {
            EXPECT_EQ(Sound_LevelFromVolume(in), volume) << in;  // volumes are never negative
        }
        EXPECT_EQ(Sound_LevelFromPan(in), pan) << in;
    }
}

TEST_F(SoundTest, LoadedSoundsPlayLoopedOrOnceFromASharedCache)
{
    // A looping stereo instance repeats its frames.
    const std::vector<int16_t> frames = {1000, -1, 2000, -2, 3000, -3, 4000, -4};
    Sound* loop = Load("loop.wav", Layout{.channels = 2}, Samples16(frames), 2);
    Sound* instance = Sound_PlayLoopInstance(loop, nullptr);
    ASSERT_NE(instance, nullptr);
    std::vector<int16_t> out = Render(10);
    for (int i = 0; i < 20; i++) EXPECT_EQ(out[i], frames[i % 8]) << i;
    EXPECT_EQ(Sound_Update(0.016f), 1);
    Sound_Release(instance);
    EXPECT_EQ(Sound_Update(0.016f), 0);
    // An 8-bit mono one-shot plays once, (b - 128) << 8 on both channels,
    // and the update releases the finished instance but not the sound.
    Sound* blip = Load("blip.wav", Layout{.bits = 8}, std::string("\x80\xC0\x40\xFF", 4));
    ASSERT_NE(blip, nullptr);
    Sound_PlayOneShot(blip, nullptr);
    EXPECT_EQ(Sound_GetCount(), 3u);
    out = Render(8);
    const int16_t want[8] = {0, 16384, -16384, 32512, 0, 0, 0, 0};
    for (int i = 0; i < 16; i++) EXPECT_EQ(out[i], want[i / 2]) << i;
    EXPECT_TRUE(Sound_Update(0.016f) == 0 && Sound_GetCount() == 2);
    // A sound started directly leaves the playing list at its end with its
    // reference, and can play again.
    for (int again = 0; again < 2; again++) {
        Sound_StartNow(blip);
        EXPECT_EQ(Sound_Update(0.016f), 1);
        Render(200);
        EXPECT_TRUE(Sound_Update(0.016f) == 0 && Sound_GetReferences(blip) == 1);
    }
    WriteDisk("data/b.dwf", Make(Layout{}, Samples16(std::vector<int16_t>(100, 2000))));
    Sound* b = LoadConstant("b.wav", 1000, 100);
    ASSERT_NE(Sound_PlayLoopInstance(b, nullptr), nullptr);
    EXPECT_EQ(Render(1)[0], 2000);            // the "dwf" beside the name took its place
    EXPECT_EQ(Sound_Load("ab", 0), nullptr);  // too short to have an extension to swap
}

TEST_F(SoundTest, PlacedSoundsPanAndFadeByTheirListenersSideAndDistance)
{
    FakeNode listener = At(0, 0, 0);
    Sound* sound = LoadConstant("tone.wav", 10000);
    Sound_SetListener(AsNode(&listener), 0);
    struct Case {
        FakeNode node;
        int32_t volume, pan;
        int16_t left, right;  // the mix's output; -1: not checked
    } cases[] = {
        {At(10, 0, 0), 0, 9980, 0, 10000},                       // right: pan +1, twice as far, shaped up to 20: full
        {At(-10, 0, 0), 0, -9980, 10000, 0},                     // left
        {At(0, 0, 10), 0, 0, -1, -1},                            // 10 in front: shaped up to 20, 30 / 20 clamps to 1
        {At(0, 0, 40), -Sound_GetAttenuation(63), 0, -1, -1},    // 30 / 40
        {At(0, 0, 600), -Sound_GetAttenuation(244), 0, -1, -1},  // from 500 the distance grows twice as fast
        {At(0, 0, -40), -Sound_GetAttenuation(159), 0, -1, -1},  // behind: twice as far
        {At(0, 0, 0), 0, 0, 10000, 10000},                       // at the listener: no direction, full volume
        {At(20, 0, 0.0001f), -Sound_GetAttenuation(63), 9980, -1, -1},
    };
    for (Case& c : cases) {
        Sound* instance = Sound_PlayLoopInstance(sound, AsNode(&c.node));
        ASSERT_NE(instance, nullptr);
        EXPECT_EQ(VolumePan(instance).substr(0, 2), "0 ");  // placed: full volume until the 3D pass
        Sound_Update(0.016f);
        EXPECT_EQ(VolumePan(instance), std::to_string(c.volume) + " " + std::to_string(c.pan))
            << c.node.m[12] << "," << c.node.m[14];
        std::vector<int16_t> out = Render(16);
        if (c.left >= 0) {
            EXPECT_TRUE(std::abs(out[20] - c.left) <= 1 && std::abs(out[21] - c.right) <= 1) << c.node.m[12];
        }
        Sound_Release(instance);
    }
    // Between two listeners: centred, at the nearer one's distance.
    FakeNode second = At(30, 0, 0), middle = At(10, 0, 0);
    Sound_SetListener(AsNode(&second), 1);
    Sound* instance = Sound_PlayLoopInstance(sound, AsNode(&middle));
    Sound_Update(0.016f);
    EXPECT_EQ(VolumePan(instance), "0 0");
    Sound_Release(instance);
    // No listener at all: 30 / 199500 of full volume.
    Sound_SetListener(nullptr, 0);
    Sound_SetListener(nullptr, 1);
    Sound* lonely = Sound_PlayLoopInstance(sound, AsNode(&listener));
    Sound_Update(0.016f);
    EXPECT_EQ(VolumePan(lonely), "-9765 0");
}

TEST_F(SoundTest, VolumeFrequencyAndMasterVolumeScaleTheOutput)
{
    std::vector<int16_t> ramp;
    for (int i = 0; i < 64; i++) ramp.push_back((int16_t)(i * 100));
    Sound* instance = Sound_PlayLoopInstance(Load("ramp.wav", Layout{}, Samples16(ramp)), nullptr);
    ASSERT_NE(instance, nullptr);
    Sound_SetFrequency(instance, 22050);  // half speed: halfway values in between
    std::vector<int16_t> out = Render(8);
    for (int i = 0; i < 8; i++) EXPECT_EQ(out[2 * i], i * 50) << i;
    Sound_SetFrequency(instance, 0);    // the format's own rate again
    Sound_ApplyVolume(instance, 0.5f);  // -586: a gain of 10^(-0.293)
    const float gain = std::pow(10.0f, -586.0f / 2000.0f);
    EXPECT_NEAR(Render(1)[0], 400 * gain, 1.0f);
    Sound_SetMasterVolume(0.5f);
    EXPECT_NEAR(Render(1)[0], 500 * gain * gain, 1.0f);
}

TEST_F(SoundTest, MalformedFilesLoadNothingAndLeaveNothing)
{
    const std::string samples = Samples16(std::vector<int16_t>(50, 7));
    const std::pair<const char*, std::string> cases[] = {
        {"no RIFF", Make({.riff = "RIFX"}, samples)},
        {"no WAVE", Make({.form = "AVI "}, samples)},
        {"short fmt", Make({.fmtSize = 14}, samples)},
        {"no fmt", Make({.withFmt = false}, samples)},
        {"no data", Make({.withData = false}, samples)},
        {"cut data", Make({.claimedData = 200}, samples)},
        {"huge data", Make({.claimedData = 0xFFFFFFF0}, samples)},
        {"not PCM", Make({.tag = 3, .bits = 32, .fmtSize = 18}, samples)},
        {"extra bytes beyond the chunk", Make({.tag = 2, .fmtSize = 18, .extra = 40}, samples)},
        {"24-bit", Make({.bits = 24}, samples)},
        {"empty", std::string()},
        {"header only", std::string("RIFF\x04\0\0\0WAVE", 12)},
    };
    for (const auto& [what, bytes] : cases) {
        WriteDisk("data/bad.wav", bytes);
        EXPECT_TRUE(!Sound_Load("bad.wav", 0) && Sound_GetCount() == 0 &&
                    !DSoundTest_VoiceCount(Sound_GetDirectSound()))
            << what;
    }
}

TEST_F(SoundTest, AfterShutDownOrWithoutADeviceEveryCallAnswersNothing)
{
    Sound* sound = LoadConstant("shared.wav", 1);
    Sound_AddRef(sound);
    Sound_PlayLoopInstance(sound, nullptr);
    Sound_Shutdown();  // destroys shared sounds: later releases do nothing
    EXPECT_EQ(Sound_IsOn(), 0);
    Sound_Release(sound);  // what the bank does after the sound system is gone
    Sound_ReleaseIdle();
    DSoundTest_SetDeviceAvailable(0);
    Sound_Init();
    ASSERT_EQ(Sound_IsOn(), 0);
    WriteDisk("data/ok.wav", Make(Layout{}, Samples16({1, 2, 3})));
    EXPECT_FALSE(Sound_Load("ok.wav", 0) || Sound_LoadStream("ok", 0) || Sound_PlayLoopInstance(nullptr, nullptr) ||
                 Sound_AddRef(nullptr) || Sound_Update(0.016f));
    Sound_SetMasterVolume(0.3f);
    Sound_Release(nullptr);
    Sound_Pause(nullptr, 1);
    Sound_StartNow(nullptr);
    EXPECT_EQ(Sound_GetDirectSound(), nullptr);
}

// ---- streams: 44100 Hz mono 8-bit, one byte a frame, a ring of 352800 bytes ----

// A pattern whose bytes differ from those half a ring and a whole ring
// earlier, so a stale half shows.
uint8_t Pattern(uint32_t i) { return (uint8_t)(i * 7 + (i >> 12)); }
int16_t Expected(uint32_t i) { return (int16_t)((Pattern(i) - 128) << 8); }

class StreamTest : public SoundTest {
protected:
    static Sound* Stream(const char* name, uint32_t frames, int looping = 0, int64_t claimed = -1)
    {
        const Layout layout{.bits = 8, .claimedData = claimed};
        std::string bytes(frames, '\0');
        for (uint32_t i = 0; i < frames; i++) bytes[i] = (char)Pattern(i);
        WriteDisk(std::string("Streams/") + name + ".wav", Make(layout, bytes));
        Sound* music = Sound_LoadStream(name, looping);
        EXPECT_NE(music, nullptr);
        Sound_StartNow(music);
        return music;
    }
    // Frames as the shell makes them: an update, then a device period.
    static std::vector<int16_t> Play(uint32_t frames, uint32_t period = 1024)
    {
        std::vector<int16_t> left;
        for (uint32_t done = 0; done < frames; done += period) {
            Sound_Update(0.023f);
            std::vector<int16_t> out = Render(period);
            for (uint32_t i = 0; i < period; i++) left.push_back(out[2 * i]);
        }
        return left;
    }
};

TEST_F(StreamTest, AStreamPlaysWithoutGapsOrStaleHalvesAndStopsWhereItsDataEnds)
{
    // The file, its frames, the length it claims.
    const std::tuple<const char*, uint32_t, int64_t> cases[] = {
        {"longer than the ring", 441000, -1},
        {"ending 100 bytes before the ring's end: the cursor wraps past it between two checks", 352700, -1},
        {"claiming more than the file holds", 20000, 90000},
    };
    for (const auto& [name, frames, claimed] : cases) {
        Sound* music = Stream("music", frames, 0, claimed);
        ASSERT_NE(music, nullptr);
        const std::vector<int16_t> left = Play(frames + 8192);
        // The stream's frames exactly, then silence: the stop comes at the
        // first check after the end, within a period.
        uint32_t wrong = 0;
        for (uint32_t i = 0; i < frames; i++) wrong += left[i] != Expected(i);
        EXPECT_EQ(wrong, 0u) << name;
        for (uint32_t i = frames + 2048; i < left.size(); i++) ASSERT_EQ(left[i], 0) << name << " " << i;
        uint32_t status = 1;
        music->buffer->GetStatus(&status);
        EXPECT_EQ(status & DSBSTATUS_PLAYING, 0u) << name;
        Sound_Release(music);
    }
    // A looping stream wraps inside a half: one second in a four-second half.
    Stream("loop", 44100, 1);
    const std::vector<int16_t> left = Play(3 * 44100);
    for (uint32_t i = 0; i < 3 * 44100; i++) ASSERT_EQ(left[i], Expected(i % 44100)) << i;
}

}  // namespace
