#include "app/sound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "app/hooks.h"
#include "platform/dsound/dsound.h"
#include "platform/dsound/dsound_test.h"
#include "tests/app/data_fixture.h"
#include "tests/app/wave_fixture.h"
#include "tests/test_env.h"

namespace {

using wavefile::Make;
using wavefile::Samples16;
using wavefile::Layout;

// A scene node as the sound system sees it: a world matrix.
struct FakeNode {
    float m[16];
};
FakeNode At(float x, float y, float z)
{
    return FakeNode{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1}};
}
Node* AsNode(FakeNode* n) { return (Node*)n; }

class SoundTest : public DataTest {
protected:
    void SetUp() override
    {
        DataTest::SetUp();
        AppHooks hooks = {};
        hooks.nodeGetWorldPosition = [](Node* node, float* out) {
            const FakeNode* n = (const FakeNode*)node;
            out[0] = n->m[12];
            out[1] = n->m[13];
            out[2] = n->m[14];
        };
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
    static Sound* LoadConstant(const char* name, int16_t value, uint32_t frames = 2000)
    {
        WriteDisk(std::string("data/") + name, Make(Layout{}, Samples16(std::vector<int16_t>(frames, value))));
        return Sound_Load(name, 0);
    }
    static int32_t Volume(Sound* s)
    {
        int32_t v = 1;
        s->buffer->GetVolume(&v);
        return v;
    }
    static int32_t Pan(Sound* s)
    {
        int32_t p = 1;
        s->buffer->GetPan(&p);
        return p;
    }
};

TEST(SoundLevelTest, TheAttenuationTableAndTheLevelMapping)
{
    const int index[] = {0, 1, 2, 32, 64, 127, 128, 192, 254, 255};
    const int32_t value[] = {0, 0, 1, 40, 120, 586, 600, 2520, 9765, 9980};
    for (int i = 0; i < 10; i++) EXPECT_EQ(Sound_GetAttenuation(index[i]), value[i]) << index[i];
    EXPECT_EQ(Sound_LevelFromVolume(1.0f), 0);
    EXPECT_EQ(Sound_LevelFromVolume(0.5f), -586);
    EXPECT_EQ(Sound_LevelFromVolume(0.0f), -9980);
    EXPECT_EQ(Sound_LevelFromPan(1.0f), 9980);
    EXPECT_EQ(Sound_LevelFromPan(-0.5f), -586);
    EXPECT_EQ(Sound_LevelFromPan(0.0f), 0);
    EXPECT_EQ(Sound_LevelFromPan(-1.0f), -9980);
    // Values that are no numbers map without an undefined conversion.
    EXPECT_EQ(Sound_LevelFromVolume(NAN), -9980);
    EXPECT_EQ(Sound_LevelFromPan(NAN), 0);
    EXPECT_EQ(Sound_LevelFromPan(INFINITY), 9980);
}

TEST_F(SoundTest, ALoopingStereoInstanceRepeatsItsFrames)
{
    std::vector<int16_t> frames = {1000, -1, 2000, -2, 3000, -3, 4000, -4};
    Layout layout;
    layout.channels = 2;
    WriteDisk("data/loop.wav", Make(layout, Samples16(frames)));
    Sound* sound = Sound_Load("loop.wav", 2);
    ASSERT_NE(sound, nullptr);
    Sound* instance = Sound_PlayLoopInstance(sound, nullptr);
    ASSERT_NE(instance, nullptr);
    std::vector<int16_t> out = Render(10);
    for (int i = 0; i < 10; i++) {
        EXPECT_EQ(out[2 * i], frames[2 * (i % 4)]) << i;
        EXPECT_EQ(out[2 * i + 1], frames[2 * (i % 4) + 1]) << i;
    }
    EXPECT_EQ(Sound_Update(0.016f), 1);
    Sound_Release(instance);
    EXPECT_EQ(Sound_Update(0.016f), 0);
}

TEST_F(SoundTest, AnEightBitMonoOneShotPlaysOnceAndIsReleasedByTheUpdate)
{
    Layout layout;
    layout.bits = 8;
    WriteDisk("data/blip.wav", Make(layout, std::string("\x80\xC0\x40\xFF", 4)));
    Sound* sound = Sound_Load("blip.wav", 0);
    ASSERT_NE(sound, nullptr);
    Sound_PlayOneShot(sound, nullptr);
    EXPECT_EQ(Sound_GetCount(), 2u);
    std::vector<int16_t> out = Render(8);
    const int16_t want[8] = {0, 16384, -16384, 32512, 0, 0, 0, 0};  // (b - 128) << 8 on both channels
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(out[2 * i], want[i]) << i;
        EXPECT_EQ(out[2 * i + 1], want[i]) << i;
    }
    EXPECT_EQ(Sound_Update(0.016f), 0);
    EXPECT_EQ(Sound_GetCount(), 1u);  // the finished instance went; the loaded sound stays
}

TEST_F(SoundTest, PlacedSoundsPanToTheirListenerSide)
{
    FakeNode listener = At(0, 0, 0), right = At(10, 0, 0), left = At(-10, 0, 0);
    Sound_SetListener(AsNode(&listener), 0);
    struct Case {
        FakeNode* node;
        int16_t left, right;
    } cases[] = {{&right, 0, 10000}, {&left, 10000, 0}};
    Sound* sound = LoadConstant("tone.wav", 10000);
    ASSERT_NE(sound, nullptr);
    for (const Case& c : cases) {
        Sound* instance = Sound_PlayLoopInstance(sound, AsNode(c.node));
        ASSERT_NE(instance, nullptr);
        EXPECT_EQ(Volume(instance), 0);  // placed: full volume until the 3D pass
        Sound_Update(0.016f);
        std::vector<int16_t> out = Render(16);
        EXPECT_NEAR(out[20], c.left, 1);
        EXPECT_NEAR(out[21], c.right, 1);
        Sound_Release(instance);
    }
    // Between two listeners: centred, at the nearer one's distance.
    FakeNode second = At(30, 0, 0), middle = At(10, 0, 0);
    Sound_SetListener(AsNode(&second), 1);
    Sound* instance = Sound_PlayLoopInstance(sound, AsNode(&middle));
    Sound_Update(0.016f);
    EXPECT_EQ(Pan(instance), 0);
    std::vector<int16_t> out = Render(16);
    EXPECT_NEAR(out[20], 10000, 1);
    EXPECT_NEAR(out[21], 10000, 1);
}

TEST_F(SoundTest, DistanceShapesTheVolumeAndASoundAtAListenerIsFull)
{
    FakeNode listener = At(0, 0, 0);
    Sound* sound = LoadConstant("far.wav", 1000);
    ASSERT_NE(sound, nullptr);
    struct Case {
        FakeNode node;
        int32_t volume, pan;
    } cases[] = {
        {At(0, 0, 10), 0, 0},                                // 10 in front: shaped up to 20, 30 / 20 clamps to 1
        {At(0, 0, 40), -Sound_GetAttenuation(63), 0},         // 30 / 40
        {At(0, 0, 600), -Sound_GetAttenuation(244), 0},       // from 500 the distance grows twice as fast
        {At(0, 0, -40), -Sound_GetAttenuation(159), 0},       // behind: twice as far
        {At(0, 0, 0), 0, 0},                                  // at the listener: no direction, full volume
        {At(20, 0, 0.0001f), -Sound_GetAttenuation(63), 9980},  // right: pan +1, twice as far
    };
    Sound_SetListener(AsNode(&listener), 0);
    for (Case& c : cases) {
        Sound* instance = Sound_PlayLoopInstance(sound, AsNode(&c.node));
        Sound_Update(0.016f);
        EXPECT_EQ(Volume(instance), c.volume) << c.node.m[12] << "," << c.node.m[14];
        EXPECT_EQ(Pan(instance), c.pan) << c.node.m[12] << "," << c.node.m[14];
        Sound_Release(instance);
    }
    // No listener at all: 30 / 199500 of full volume.
    Sound_SetListener(nullptr, 0);
    Sound* lonely = Sound_PlayLoopInstance(sound, AsNode(&listener));
    Sound_Update(0.016f);
    EXPECT_EQ(Volume(lonely), -9765);
}

TEST_F(SoundTest, VolumeFrequencyAndMasterVolumeScaleTheOutput)
{
    std::vector<int16_t> ramp;
    for (int i = 0; i < 64; i++) ramp.push_back((int16_t)(i * 100));
    WriteDisk("data/ramp.wav", Make(Layout{}, Samples16(ramp)));
    Sound* sound = Sound_Load("ramp.wav", 0);
    Sound* instance = Sound_PlayLoopInstance(sound, nullptr);
    ASSERT_NE(instance, nullptr);
    Sound_SetFrequency(instance, 22050);  // half speed: halfway values in between
    std::vector<int16_t> out = Render(8);
    for (int i = 0; i < 8; i++) EXPECT_EQ(out[2 * i], i * 50) << i;
    Sound_SetFrequency(instance, 0);  // the format's own rate again
    Sound_ApplyVolume(instance, 0.5f);  // -586: a gain of 10^(-0.293)
    out = Render(1);
    float gain = std::pow(10.0f, -586.0f / 2000.0f);
    EXPECT_NEAR(out[0], 400 * gain, 1.0f);
    Sound_SetMasterVolume(0.5f);
    EXPECT_EQ(Sound_GetMasterVolume(), 0.5f);
    out = Render(1);
    EXPECT_NEAR(out[0], 500 * gain * gain, 1.0f);
}

TEST_F(SoundTest, TheCacheSharesLoadsByNameAndFlagsAndPrefersDwf)
{
    Sound* a = LoadConstant("a.wav", 100);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(Sound_Load("A.WAV", 0), a);
    EXPECT_EQ(Sound_GetReferences(a), 2u);
    Sound* looping = Sound_Load("a.wav", 2);
    ASSERT_NE(looping, nullptr);
    EXPECT_NE(looping, a);
    EXPECT_EQ(Sound_GetCount(), 2u);
    Sound_Release(a);
    EXPECT_EQ(Sound_GetCount(), 2u);
    Sound_Release(a);
    EXPECT_EQ(Sound_GetCount(), 1u);  // the last release freed it

    WriteDisk("data/b.wav", Make(Layout{}, Samples16(std::vector<int16_t>(100, 1000))));
    WriteDisk("data/b.dwf", Make(Layout{}, Samples16(std::vector<int16_t>(100, 2000))));
    Sound* b = Sound_Load("b.wav", 0);
    ASSERT_NE(Sound_PlayLoopInstance(b, nullptr), nullptr);
    EXPECT_EQ(Render(1)[0], 2000);  // the "dwf" beside it took its place
    EXPECT_EQ(Sound_Load("ab", 0), nullptr);  // too short to have an extension to swap
}

TEST_F(SoundTest, MalformedFilesLoadNothingAndLeaveNothing)
{
    std::string samples = Samples16(std::vector<int16_t>(50, 7));
    struct Case {
        const char* what;
        std::string bytes;
    };
    Layout riff, form, shortFmt, noFmt, noData, cut, huge, floats, extraOutside, stereo24;
    riff.riff = "RIFX";
    form.form = "AVI ";
    shortFmt.fmtSize = 14;
    noFmt.withFmt = false;
    noData.withData = false;
    cut.claimedData = 200;
    huge.claimedData = 0xFFFFFFF0;
    floats.tag = 3;
    floats.fmtSize = 18;
    floats.bits = 32;
    extraOutside.tag = 2;
    extraOutside.fmtSize = 18;
    extraOutside.extra = 40;
    stereo24.bits = 24;
    Case cases[] = {{"no RIFF", Make(riff, samples)},     {"no WAVE", Make(form, samples)},
                    {"short fmt", Make(shortFmt, samples)}, {"no fmt", Make(noFmt, samples)},
                    {"no data", Make(noData, samples)},     {"cut data", Make(cut, samples)},
                    {"huge data", Make(huge, samples)},     {"not PCM", Make(floats, samples)},
                    {"extra bytes beyond the chunk", Make(extraOutside, samples)},
                    {"24-bit", Make(stereo24, samples)},    {"empty", std::string()},
                    {"header only", std::string("RIFF\x04\0\0\0WAVE", 12)}};
    for (const Case& c : cases) {
        WriteDisk("data/bad.wav", c.bytes);
        EXPECT_EQ(Sound_Load("bad.wav", 0), nullptr) << c.what;
        EXPECT_EQ(Sound_GetCount(), 0u) << c.what;
        EXPECT_EQ(DSoundTest_VoiceCount(Sound_GetDirectSound()), 0u) << c.what;
    }
}

TEST_F(SoundTest, DuplicatesKeepPlayingAfterTheirSourceIsReleased)
{
    Sound* sound = LoadConstant("dup.wav", 1234);
    Sound* instance = Sound_PlayLoopInstance(sound, nullptr);
    ASSERT_NE(instance, nullptr);
    Sound_Release(sound);  // the last reference: the source buffer goes
    EXPECT_EQ(DSoundTest_VoiceCount(Sound_GetDirectSound()), 1u);
    EXPECT_EQ(Render(4)[6], 1234);
}

TEST_F(SoundTest, ALoadedSoundStartedDirectlyLeavesThePlayingListWithItsReference)
{
    Sound* sound = LoadConstant("direct.wav", 500, 100);
    Sound_StartNow(sound);
    EXPECT_EQ(Sound_Update(0.016f), 1);
    Render(200);  // plays to its end
    EXPECT_EQ(Sound_Update(0.016f), 0);
    EXPECT_EQ(Sound_GetReferences(sound), 1u);
    Sound_StartNow(sound);  // and can play again
    EXPECT_EQ(Sound_Update(0.016f), 1);
}

TEST_F(SoundTest, ShutDownDestroysSharedSoundsSoLaterReleasesDoNothing)
{
    Sound* sound = LoadConstant("shared.wav", 1);
    Sound_AddRef(sound);
    Sound_PlayLoopInstance(sound, nullptr);
    Sound_Shutdown();
    EXPECT_EQ(Sound_IsOn(), 0);
    Sound_Release(sound);  // what the bank does after the sound system is gone
    Sound_ReleaseIdle();
}

TEST_F(SoundTest, WithoutADeviceEveryCallAnswersNothing)
{
    Sound_Shutdown();
    DSoundTest_SetDeviceAvailable(0);
    Sound_Init();
    ASSERT_EQ(Sound_IsOn(), 0);
    WriteDisk("data/ok.wav", Make(Layout{}, Samples16({1, 2, 3})));
    EXPECT_EQ(Sound_Load("ok.wav", 0), nullptr);
    EXPECT_EQ(Sound_LoadStream("ok", 0), nullptr);
    EXPECT_EQ(Sound_PlayLoopInstance(nullptr, nullptr), nullptr);
    EXPECT_EQ(Sound_AddRef(nullptr), nullptr);
    EXPECT_EQ(Sound_Update(0.016f), 0);
    Sound_SetMasterVolume(0.3f);
    Sound_Release(nullptr);
    Sound_Pause(nullptr, 1);
    Sound_StartNow(nullptr);
    EXPECT_EQ(Sound_GetDirectSound(), nullptr);
}

// ---- streams ----

// A pattern whose bytes differ from those half a ring (176400 bytes) and a
// whole ring earlier, so a stale half shows.
uint8_t Pattern(uint32_t i) { return (uint8_t)(i * 7 + (i >> 12)); }

std::string PatternBytes(uint32_t count)
{
    std::string bytes(count, '\0');
    for (uint32_t i = 0; i < count; i++) bytes[i] = (char)Pattern(i);
    return bytes;
}

class StreamTest : public SoundTest {
protected:
    // 44100 Hz mono 8-bit: one byte a frame, a ring of 352800 bytes.
    static void WriteStream(const char* name, uint32_t frames, int64_t claimed = -1)
    {
        Layout layout;
        layout.bits = 8;
        layout.claimedData = claimed;
        WriteDisk(std::string("Streams/") + name + ".wav", Make(layout, PatternBytes(frames)));
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
    static int16_t Expected(uint32_t i) { return (int16_t)((Pattern(i) - 128) << 8); }
    // The stream's frames exactly, then silence: the stop comes at the first
    // check after the end, within a period.
    static void ExpectWholeThenSilent(const std::vector<int16_t>& left, uint32_t frames)
    {
        uint32_t wrong = 0;
        for (uint32_t i = 0; i < frames; i++) wrong += left[i] != Expected(i);
        EXPECT_EQ(wrong, 0u);
        for (uint32_t i = frames + 2048; i < left.size(); i++) ASSERT_EQ(left[i], 0) << i;
    }
};

TEST_F(StreamTest, AStreamLongerThanTheRingPlaysWithoutGapsOrStaleHalvesAndStopsAtItsEnd)
{
    const uint32_t frames = 441000;  // 10 s
    WriteStream("music", frames);
    Sound* music = Sound_LoadStream("music", 0);
    ASSERT_NE(music, nullptr);
    Sound_StartNow(music);
    ExpectWholeThenSilent(Play(frames + 8192), frames);
    uint32_t status = 1;
    music->buffer->GetStatus(&status);
    EXPECT_EQ(status & DSBSTATUS_PLAYING, 0u);
}

TEST_F(StreamTest, AStreamEndingNearTheRingsEndStopsWhenTheCursorWrapsPastIt)
{
    // The data ends 100 bytes before the ring's end: the cursor wraps past
    // that point between two checks.
    const uint32_t frames = 352700;
    WriteStream("near", frames);
    Sound* music = Sound_LoadStream("near", 0);
    ASSERT_NE(music, nullptr);
    Sound_StartNow(music);
    ExpectWholeThenSilent(Play(frames + 8192), frames);
}

TEST_F(StreamTest, ALoopingStreamWrapsInsideAHalf)
{
    const uint32_t frames = 44100;  // one second in a four-second half
    WriteStream("loop", frames);
    Sound* music = Sound_LoadStream("loop", 1);
    ASSERT_NE(music, nullptr);
    Sound_StartNow(music);
    std::vector<int16_t> left = Play(3 * frames);
    for (uint32_t i = 0; i < 3 * frames; i++) ASSERT_EQ(left[i], Expected(i % frames)) << i;
}

TEST_F(StreamTest, ACutStreamEndsWhereItsDataEnds)
{
    WriteStream("cut", 20000, 90000);  // claims more than the file holds
    Sound* music = Sound_LoadStream("cut", 0);
    ASSERT_NE(music, nullptr);
    Sound_StartNow(music);
    ExpectWholeThenSilent(Play(30000), 20000);
}

TEST_F(StreamTest, AHalfIsFilledOnlyWhenBothCursorsAreInTheOtherHalf)
{
    WriteStream("ring", 882000);  // enough data for every fill below
    Sound* music = Sound_LoadStream("ring", 0);
    ASSERT_NE(music, nullptr);
    Sound_StartNow(music);
    EXPECT_NE(music->flags & SOUND_SECOND_HALF, 0u);  // the first half is filled, the second is next
    Sound_Update(0.016f);
    EXPECT_EQ(music->flags & SOUND_SECOND_HALF, 0u);  // both cursors in the first half: filled
    const uint32_t half = 352800 / 2;
    struct Step {
        uint32_t position;
        bool secondNext;
    } steps[] = {
        {half, false},         // exactly at the middle: nothing
        {half + 1, true},      // both cursors past it: the first half is filled
        {half - 100, true},    // play cursor before the middle, write cursor past it: nothing
        {half - 2000, false},  // both before it: the second half is filled
    };
    for (const Step& s : steps) {
        music->buffer->SetCurrentPosition(s.position);
        Sound_Update(0.016f);
        EXPECT_EQ((music->flags & SOUND_SECOND_HALF) != 0, s.secondNext) << s.position;
    }
}

// SDL's disk driver writes what the device plays into a file: the one
// check of the whole path, audio thread included.
class SoundOutputTest : public DataTest {
protected:
    void SetUp() override
    {
        remove(raw.c_str());
        DataTest::SetUp();
    }
    void TearDown() override
    {
        Sound_Shutdown();
        DataTest::TearDown();
    }
    std::string raw = (TestTmp() / "sound-output.raw").string();
    // The disk driver for this test only: the process's own comes back after it.
    ScopedEnv driver{"SDL_AUDIODRIVER", "disk"};
    ScopedEnv file{"SDL_DISKAUDIOFILE", raw.c_str()};
    ScopedEnv delay{"SDL_DISKAUDIODELAY", "5"};
};

TEST_F(SoundOutputTest, TheMixReachesTheDeviceThroughSdl)
{
    WriteDisk("data/hum.wav", Make(Layout{}, Samples16(std::vector<int16_t>(8820, 3210))));
    Sound_Init();
    ASSERT_EQ(Sound_IsOn(), 1);
    Sound* hum = Sound_Load("hum.wav", 0);
    ASSERT_NE(hum, nullptr);
    Sound_PlayOneShot(hum, nullptr);
    for (int i = 0; i < 100 && Sound_Update(0.01f) > 0; i++) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Sound_Shutdown();  // closes the device: the file is complete
    std::string bytes = ReadDisk(raw);
    size_t run = 0, best = 0;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        int16_t v = (int16_t)((uint8_t)bytes[i] | (uint8_t)bytes[i + 1] << 8);
        run = v == 3210 ? run + 1 : 0;
        best = std::max(best, run);
    }
    EXPECT_GE(best, 2u * 8000);  // most of the 0.2 s one-shot, both channels
}

}  // namespace
