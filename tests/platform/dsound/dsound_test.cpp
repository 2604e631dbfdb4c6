#include "platform/dsound/dsound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/dsound/dsound_test.h"
#include "platform/win32/win32_test.h"
#include "platform/win32/window.h"
#include "tests/test_env.h"

namespace {

class DSoundTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DSoundTest_SetDirectRender(1);
        ASSERT_EQ(DirectSoundCreate(nullptr, &sound, nullptr), DS_OK);
    }
    void TearDown() override
    {
        for (IDirectSoundBuffer* b : buffers) b->Release();
        sound->Release();
        DSoundTest_SetDirectRender(0);
        DSoundTest_SetDeviceAvailable(1);
    }
    IDirectSoundBuffer* Make(uint32_t bytes, uint16_t channels = 1, uint16_t bits = 16, uint32_t rate = 44100,
                             uint32_t flags = DSBCAPS_STATIC | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_CTRLFREQUENCY)
    {
        WAVEFORMATEX format = {WAVE_FORMAT_PCM, channels, rate, rate * channels * bits / 8,
                               (uint16_t)(channels * bits / 8), bits, 0};
        DSBUFFERDESC desc = {sizeof desc, flags, bytes, 0, &format};
        IDirectSoundBuffer* b = nullptr;
        if (sound->CreateSoundBuffer(&desc, &b, nullptr) != DS_OK) return nullptr;
        buffers.push_back(b);
        return b;
    }
    IDirectSound* sound = nullptr;
    std::vector<IDirectSoundBuffer*> buffers;
};

TEST_F(DSoundTest, LevelsOutsideTheirRangesMissingControlsAndFormatsTheMixerLacksAreRefused)
{
    IDirectSoundBuffer* b = Make(64);
    ASSERT_NE(b, nullptr);
    struct Case {
        HResult (IDirectSoundBuffer::*set)(int32_t);
        int32_t value;
        HResult result;
    } cases[] = {{&IDirectSoundBuffer::SetVolume, -10000, DS_OK}, {&IDirectSoundBuffer::SetVolume, 1, DSERR_INVALIDPARAM},
                 {&IDirectSoundBuffer::SetVolume, -10001, DSERR_INVALIDPARAM}, {&IDirectSoundBuffer::SetPan, 10000, DS_OK},
                 {&IDirectSoundBuffer::SetPan, -10001, DSERR_INVALIDPARAM}};
    for (const Case& c : cases) EXPECT_EQ((b->*c.set)(c.value), c.result) << c.value;
    int32_t volume = 0, pan = 0;
    b->GetVolume(&volume);
    b->GetPan(&pan);
    EXPECT_EQ(volume, -10000);  // the refused values changed nothing
    EXPECT_EQ(pan, 10000);
    EXPECT_EQ(b->SetFrequency(99), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->SetFrequency(100001), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->SetFrequency(0), DS_OK);
    uint32_t hertz = 0;
    b->GetFrequency(&hertz);
    EXPECT_EQ(hertz, 44100u);  // 0: the format's own
    IDirectSoundBuffer* plain = Make(64, 1, 16, 44100, DSBCAPS_STATIC);
    EXPECT_EQ(plain->SetVolume(0), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(plain->SetPan(0), DSERR_CONTROLUNAVAIL);
    // Only PCM of 8 or 16 bits, mono or stereo, makes a buffer.
    EXPECT_NE(Make(64, 2, 8), nullptr);
    EXPECT_EQ(Make(64, 1, 24), nullptr);
    EXPECT_EQ(Make(64, 3, 16), nullptr);
    EXPECT_EQ(Make(64, 1, 16, 50), nullptr);
    EXPECT_EQ(Make(1), nullptr);  // less than one frame
    WAVEFORMATEX floats = {3, 1, 44100, 176400, 4, 32, 0};
    DSBUFFERDESC desc = {sizeof desc, DSBCAPS_STATIC, 64, 0, &floats};
    IDirectSoundBuffer* none = nullptr;
    EXPECT_EQ(sound->CreateSoundBuffer(&desc, &none, nullptr), DSERR_BADFORMAT);
    EXPECT_EQ(none, nullptr);
}

TEST_F(DSoundTest, LocksWrapAndCursorsFollowTheRender)
{
    IDirectSoundBuffer* b = Make(4000);  // 2000 frames
    void *p1 = nullptr, *p2 = nullptr;
    uint32_t n1 = 0, n2 = 0;
    ASSERT_EQ(b->Lock(3996, 8, &p1, &n1, &p2, &n2, 0), DS_OK);
    EXPECT_EQ(n1, 4u);
    EXPECT_EQ(n2, 4u);
    EXPECT_EQ((uint8_t*)p1 - (uint8_t*)p2, 3996);  // the second part is the buffer's start
    EXPECT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
    EXPECT_EQ(b->Lock(4000, 8, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
    ASSERT_EQ(b->Lock(0, 0, &p1, &n1, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
    EXPECT_EQ(n1, 4000u);
    b->Unlock(p1, n1, nullptr, 0);

    ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
    std::vector<int16_t> out(2 * 256);
    DSoundTest_Render(sound, out.data(), 256);
    uint32_t play = 0, write = 0, status = 0;
    b->GetCurrentPosition(&play, &write);
    EXPECT_EQ(play, 512u);
    EXPECT_EQ(write, 512u + 512u);  // one device period (256 frames) ahead
    for (int i = 0; i < 8; i++) DSoundTest_Render(sound, out.data(), 256);
    b->GetStatus(&status);
    EXPECT_EQ(status, 0u);  // played to its end: stopped
    b->GetCurrentPosition(&play, nullptr);
    EXPECT_EQ(play, 0u);    // and back at the start
}

TEST_F(DSoundTest, ThePrimaryBufferHasAListenerAndDuplicatesShareSamples)
{
    DSBUFFERDESC primary = {sizeof primary, DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D | DSBCAPS_CTRLVOLUME, 0, 0, nullptr};
    IDirectSoundBuffer* p = nullptr;
    ASSERT_EQ(sound->CreateSoundBuffer(&primary, &p, nullptr), DS_OK);
    buffers.push_back(p);
    IDirectSound3DListener* listener = nullptr;
    ASSERT_EQ(p->QueryInterface(IID_IDirectSound3DListener, (void**)&listener), DS_OK);
    DS3DLISTENER parameters = {};
    EXPECT_EQ(listener->GetAllParameters(&parameters), DSERR_INVALIDPARAM);  // the size word must say 64
    parameters.size = sizeof parameters;
    EXPECT_EQ(listener->GetAllParameters(&parameters), DS_OK);
    listener->Release();

    IDirectSoundBuffer* source = Make(64);
    void* data = nullptr;
    uint32_t bytes = 0;
    source->Lock(0, 64, &data, &bytes, nullptr, nullptr, 0);
    memset(data, 0x11, bytes);
    source->SetVolume(-500);
    IDirectSoundBuffer* copy = nullptr;
    ASSERT_EQ(sound->DuplicateSoundBuffer(source, &copy), DS_OK);
    int32_t volume = 0;
    copy->GetVolume(&volume);
    EXPECT_EQ(volume, -500);
    source->Release();
    buffers.erase(std::find(buffers.begin(), buffers.end(), source));
    void* shared = nullptr;
    copy->Lock(0, 64, &shared, &bytes, nullptr, nullptr, 0);
    EXPECT_EQ(((uint8_t*)shared)[63], 0x11);  // the samples outlive their first owner
    copy->Release();
    EXPECT_EQ(DSoundTest_VoiceCount(sound), 0u);
}

TEST_F(DSoundTest, BuffersWithoutGlobalFocusHoldWhileTheWindowIsNotFocused)
{
    Window* window = Window_Create("sound", 64, 64, 0);
    if (!Window_SdlWindow(window)) {
        Window_Destroy(window);
        GTEST_SKIP() << "no SDL video";
    }
    ASSERT_EQ(sound->SetCooperativeLevel(window, DSSCL_PRIORITY), DS_OK);
    IDirectSoundBuffer* music = Make(4000);
    IDirectSoundBuffer* alarm = Make(4000, 1, 16, 44100, DSBCAPS_STATIC | DSBCAPS_GLOBALFOCUS);
    for (IDirectSoundBuffer* b : {music, alarm}) {
        void* data = nullptr;
        uint32_t bytes = 0;
        b->Lock(0, 0, &data, &bytes, nullptr, nullptr, DSBLOCK_ENTIREBUFFER);
        for (uint32_t i = 0; i < bytes / 2; i++) ((int16_t*)data)[i] = b == music ? 1000 : 10;
        b->Unlock(data, bytes, nullptr, 0);
        b->Play(0, 0, DSBPLAY_LOOPING);
    }
    // The left sample of one frame, and the music's play cursor, after a render.
    std::vector<int16_t> out(2 * 64);
    auto render = [&](uint32_t* musicAt) {
        DSoundTest_Render(sound, out.data(), 64);
        music->GetCurrentPosition(musicAt, nullptr);
        return out[0];
    };
    uint32_t at = 0, before = 0;
    EXPECT_EQ(render(&at), 1010);
    ASSERT_EQ(Win32Test_PushFocus(window, 0), 1);
    before = at;
    EXPECT_EQ(render(&at), 10);  // only the buffer with global focus is heard
    EXPECT_EQ(at, before);       // and the music holds its place
    ASSERT_EQ(Win32Test_PushFocus(window, 1), 1);
    EXPECT_EQ(render(&at), 1010);
    EXPECT_EQ(at, before + 128);
    Win32Test_ResetAll();
}

TEST(DSoundDeviceTest, WithoutAnOutputDeviceNothingIsReportedOrCreated)
{
    DSoundTest_SetDeviceAvailable(0);
    int found = 0;
    DirectSoundEnumerate([](const Guid*, const char*, const char*, void* n) -> int32_t { return ++*(int*)n; }, &found);
    EXPECT_EQ(found, 0);
    IDirectSound* sound = nullptr;
    EXPECT_EQ(DirectSoundCreate(nullptr, &sound, nullptr), DSERR_NODRIVER);
    EXPECT_EQ(sound, nullptr);
    DSoundTest_SetDeviceAvailable(1);
    DirectSoundEnumerate([](const Guid* g, const char*, const char*, void* n) -> int32_t {
        EXPECT_EQ(g, nullptr);  // the default device
        return ++*(int*)n;
    }, &found);
    EXPECT_EQ(found, 1);  // the test environment's dummy driver opens
}

// SDL's disk driver (for this test only) writes what the device plays into a
// file: the one check of the whole path, the mixer's own thread included.
TEST(DSoundDeviceTest, TheMixReachesTheDeviceThroughSdl)
{
    const std::string raw = (TestTmp() / "dsound-output.raw").string();
    remove(raw.c_str());
    {
        ScopedEnv driver("SDL_AUDIODRIVER", "disk"), file("SDL_DISKAUDIOFILE", raw.c_str()),
            delay("SDL_DISKAUDIODELAY", "5");
        IDirectSound* sound = nullptr;
        ASSERT_EQ(DirectSoundCreate(nullptr, &sound, nullptr), DS_OK);
        WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 44100, 88200, 2, 16, 0};
        DSBUFFERDESC desc = {sizeof desc, DSBCAPS_STATIC, 17640, 0, &format};  // 0.2 s
        IDirectSoundBuffer* hum = nullptr;
        ASSERT_EQ(sound->CreateSoundBuffer(&desc, &hum, nullptr), DS_OK);
        void* samples = nullptr;
        uint32_t bytes = 0, status = 1;
        ASSERT_EQ(hum->Lock(0, 0, &samples, &bytes, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
        for (uint32_t i = 0; i < bytes / 2; i++) ((int16_t*)samples)[i] = 3210;
        hum->Unlock(samples, bytes, nullptr, 0);
        ASSERT_EQ(hum->Play(0, 0, 0), DS_OK);
        for (int i = 0; i < 100 && (hum->GetStatus(&status), status); i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        hum->Release();
        sound->Release();  // closes the device: the file is complete
    }
    const std::string bytes = TestReadFile(raw);
    size_t run = 0, best = 0;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        run = (int16_t)((uint8_t)bytes[i] | (uint8_t)bytes[i + 1] << 8) == 3210 ? run + 1 : 0;
        best = std::max(best, run);
    }
    EXPECT_GE(best, 2u * 8000);  // most of the 0.2 s, both channels
}

}  // namespace
