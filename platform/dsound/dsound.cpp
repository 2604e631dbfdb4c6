#include "platform/dsound/dsound.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/dsound/dsound_mixer.h"
#include "platform/dsound/dsound_test.h"
#include "platform/win32/system.h"
#include "platform/win32/window.h"

const Guid IID_IDirectSound3DListener = {0x279AFA84, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};

namespace {

constexpr uint32_t kDefaultPeriod = 1024;
constexpr uint32_t kMaxBufferBytes = 0x0FFFFFFF;

struct StandInSettings {
    bool directRender = false;
    bool available = true;
    std::vector<DSoundDevice*> devices;  // live devices, for the focus watch
    bool watching = false;               // the focus watch is installed
};

StandInSettings& Settings()
{
    static StandInSettings s;
    return s;
}

// Holds the device lock for a scope.
struct Locked {
    explicit Locked(DSoundDevice* d) : device(d) { SDL_LockMutex(device->lock); }
    ~Locked() { SDL_UnlockMutex(device->lock); }
    DSoundDevice* device;
};

void Callback(void* userdata, uint8_t* stream, int length)
{
    DSoundDevice* device = (DSoundDevice*)userdata;
    Locked lock(device);
    device->periodFrames = (uint32_t)length / 4;
    Mixer_Render(device, (int16_t*)stream, (uint32_t)length / 4);
}

void DeviceAddRef(DSoundDevice* device) { device->refs++; }

void DeviceRelease(DSoundDevice* device)
{
    if (--device->refs > 0) return;
    std::vector<DSoundDevice*>& live = Settings().devices;
    live.erase(std::remove(live.begin(), live.end(), device), live.end());
    SDL_DestroyMutex(device->lock);
    delete device;
}

// A device's cooperative-level window gains or loses the focus (called on
// the thread that pumps the events, the main one).
int FocusWatch(void*, SDL_Event* e)
{
    if (e->type != SDL_WINDOWEVENT) return 1;
    const bool lost = e->window.event == SDL_WINDOWEVENT_FOCUS_LOST;
    if (!lost && e->window.event != SDL_WINDOWEVENT_FOCUS_GAINED) return 1;
    for (DSoundDevice* device : Settings().devices) {
        if (!device->focusWindow || device->focusWindow != e->window.windowID) continue;
        Locked lock(device);
        device->unfocused = lost;
    }
    return 1;
}

// Once a process: no output opened, so sound stays silent.
void SaySilent(const char* why)
{
    static bool said = false;
    if (said) return;
    said = true;
    fprintf(stderr, "No sound device (%s): the game plays silent.\n", why && *why ? why : "none found");
}

// Opens an SDL output device for the mixer: 0 when none opens.
SDL_AudioDeviceID OpenOutput(DSoundDevice* device)
{
    if (!Settings().available) return 0;
    if (!System_StartAudio()) {
        SaySilent(SDL_GetError());
        return 0;
    }
    SDL_AudioSpec want = {}, have = {};
    want.freq = DSOUND_OUTPUT_RATE;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = (uint16_t)kDefaultPeriod;
    want.callback = device ? Callback : nullptr;
    want.userdata = device;
    // No changes allowed: SDL converts to whatever the hardware takes.
    SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0) {
        SaySilent(SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    if (id && device) device->periodFrames = have.samples ? have.samples : kDefaultPeriod;
    return id;
}

void CloseOutput(SDL_AudioDeviceID id)
{
    if (!id) return;
    SDL_CloseAudioDevice(id);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool ValidFormat(const WAVEFORMATEX* f)
{
    return f->formatTag == WAVE_FORMAT_PCM && (f->channels == 1 || f->channels == 2) &&
           (f->bitsPerSample == 8 || f->bitsPerSample == 16) && f->blockAlign == f->channels * f->bitsPerSample / 8 &&
           f->samplesPerSec >= DSBFREQUENCY_MIN && f->samplesPerSec <= DSBFREQUENCY_MAX;
}

IDirectSoundBuffer* NewBuffer(DSoundDevice* device, DSoundVoice* voice, uint32_t flags)
{
    IDirectSoundBuffer* buffer = new IDirectSoundBuffer;
    buffer->device = device;
    buffer->voice = voice;
    buffer->flags = flags;
    DeviceAddRef(device);
    if (voice) {
        Locked lock(device);
        device->voices.push_back(voice);
    }
    return buffer;
}

}  // namespace

// ---- the 3D listener ----

IDirectSound3DListener::~IDirectSound3DListener()
{
    if (device) DeviceRelease(device);
}

HResult IDirectSound3DListener::GetAllParameters(DS3DLISTENER* p)
{
    if (!p || p->size != sizeof(DS3DLISTENER)) return DSERR_INVALIDPARAM;
    *p = DS3DLISTENER{sizeof(DS3DLISTENER), {0, 0, 0}, {0, 0, 0}, {0, 0, 1}, {0, 1, 0}, 1.0f, 1.0f, 1.0f};
    return DS_OK;
}

// ---- buffers ----

IDirectSoundBuffer::~IDirectSoundBuffer()
{
    if (voice) {
        {
            Locked lock(device);
            std::vector<DSoundVoice*>& voices = device->voices;
            voices.erase(std::remove(voices.begin(), voices.end(), voice), voices.end());
        }
        SampleMemory_Release(voice->samples);
        delete voice;
    }
    DeviceRelease(device);
}

HResult IDirectSoundBuffer::GetCaps(DSBCAPS* caps)
{
    if (!caps || caps->size != sizeof(DSBCAPS)) return DSERR_INVALIDPARAM;
    caps->flags = flags;
    caps->bufferBytes = voice ? voice->frames * voice->format.blockAlign : 0;
    caps->unlockTransferRate = 0;
    caps->playCpuOverhead = 0;
    return DS_OK;
}

HResult IDirectSoundBuffer::GetCurrentPosition(uint32_t* play, uint32_t* write)
{
    if (!voice) return DSERR_INVALIDCALL;
    Locked lock(device);
    Mixer_Cursors(device, voice, play, write);
    return DS_OK;
}

HResult IDirectSoundBuffer::SetCurrentPosition(uint32_t offset)
{
    if (!voice) return DSERR_INVALIDCALL;
    if (offset >= voice->frames * voice->format.blockAlign) return DSERR_INVALIDPARAM;
    Locked lock(device);
    voice->position = (uint64_t)(offset / voice->format.blockAlign) << 32;
    return DS_OK;
}

HResult IDirectSoundBuffer::GetStatus(uint32_t* status)
{
    if (!status) return DSERR_INVALIDPARAM;
    *status = 0;
    if (!voice) return DS_OK;
    Locked lock(device);
    if (voice->playing) *status = DSBSTATUS_PLAYING | (voice->looping ? (uint32_t)DSBSTATUS_LOOPING : 0u);
    return DS_OK;
}

HResult IDirectSoundBuffer::SetVolume(int32_t volume)
{
    if (!(flags & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
    Locked lock(device);
    if (!voice) {
        device->primaryVolume = volume;
        device->primaryGain = Mixer_Gain(volume);
        return DS_OK;
    }
    voice->volume = volume;
    Mixer_UpdateGains(voice);
    return DS_OK;
}

HResult IDirectSoundBuffer::GetVolume(int32_t* volume)
{
    if (!volume) return DSERR_INVALIDPARAM;
    if (!(flags & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    Locked lock(device);
    *volume = voice ? voice->volume : device->primaryVolume;
    return DS_OK;
}

HResult IDirectSoundBuffer::SetPan(int32_t pan)
{
    if (!voice || !(flags & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
    if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) return DSERR_INVALIDPARAM;
    Locked lock(device);
    voice->pan = pan;
    Mixer_UpdateGains(voice);
    return DS_OK;
}

HResult IDirectSoundBuffer::GetPan(int32_t* pan)
{
    if (!pan) return DSERR_INVALIDPARAM;
    if (!voice || !(flags & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
    Locked lock(device);
    *pan = voice->pan;
    return DS_OK;
}

HResult IDirectSoundBuffer::SetFrequency(uint32_t frequency)
{
    if (!voice || !(flags & DSBCAPS_CTRLFREQUENCY)) return DSERR_CONTROLUNAVAIL;
    if (frequency != 0 && (frequency < DSBFREQUENCY_MIN || frequency > DSBFREQUENCY_MAX)) return DSERR_INVALIDPARAM;
    Locked lock(device);
    voice->frequency = frequency;
    return DS_OK;
}

HResult IDirectSoundBuffer::GetFrequency(uint32_t* frequency)
{
    if (!frequency) return DSERR_INVALIDPARAM;
    if (!voice || !(flags & DSBCAPS_CTRLFREQUENCY)) return DSERR_CONTROLUNAVAIL;
    Locked lock(device);
    *frequency = voice->frequency ? voice->frequency : voice->format.samplesPerSec;
    return DS_OK;
}

HResult IDirectSoundBuffer::SetFormat(const WAVEFORMATEX* format)
{
    if (voice) return DSERR_INVALIDCALL;
    if (!format || !ValidFormat(format)) return DSERR_BADFORMAT;
    device->primaryFormat = *format;
    return DS_OK;
}

HResult IDirectSoundBuffer::Lock(uint32_t offset, uint32_t bytes, void** part1, uint32_t* bytes1, void** part2,
                                 uint32_t* bytes2, uint32_t lockFlags)
{
    if (!voice) return DSERR_INVALIDCALL;
    if (!part1 || !bytes1) return DSERR_INVALIDPARAM;
    uint32_t size = voice->frames * voice->format.blockAlign;
    if (lockFlags & DSBLOCK_ENTIREBUFFER) {
        offset = 0;
        bytes = size;
    } else if (lockFlags & DSBLOCK_FROMWRITECURSOR) {
        GetCurrentPosition(nullptr, &offset);
    }
    if (offset >= size || bytes == 0 || bytes > size) return DSERR_INVALIDPARAM;
    uint32_t first = std::min(bytes, size - offset);
    *part1 = voice->samples->data + offset;
    *bytes1 = first;
    if (part2) *part2 = first < bytes ? voice->samples->data : nullptr;
    if (bytes2) *bytes2 = bytes - first;
    if (first < bytes && !part2) return DSERR_INVALIDPARAM;
    return DS_OK;
}

HResult IDirectSoundBuffer::Unlock(void* part1, uint32_t bytes1, void* part2, uint32_t bytes2)
{
    if (!voice) return DSERR_INVALIDCALL;
    uint8_t* begin = voice->samples->data;
    uint8_t* end = begin + voice->samples->bytes;
    auto inside = [&](void* p, uint32_t n) { return !p || ((uint8_t*)p >= begin && (uint8_t*)p + n <= end); };
    return inside(part1, bytes1) && inside(part2, bytes2) ? DS_OK : DSERR_INVALIDPARAM;
}

HResult IDirectSoundBuffer::Play(uint32_t, uint32_t, uint32_t playFlags)
{
    if (!voice) return DS_OK;  // the primary buffer always plays
    Locked lock(device);
    voice->playing = true;
    voice->looping = (playFlags & DSBPLAY_LOOPING) != 0;
    return DS_OK;
}

HResult IDirectSoundBuffer::Stop()
{
    if (!voice) return DS_OK;
    Locked lock(device);
    voice->playing = false;
    return DS_OK;
}

HResult IDirectSoundBuffer::QueryInterface(const Guid& iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (voice || !(flags & DSBCAPS_CTRL3D) || !Guid_Equal(iid, IID_IDirectSound3DListener)) return E_NOINTERFACE;
    IDirectSound3DListener* listener = new IDirectSound3DListener;
    listener->device = device;
    DeviceAddRef(device);
    *out = listener;
    return DS_OK;
}

// ---- the device object ----

IDirectSound::~IDirectSound()
{
    // Stop the callback first: buffers the caller still holds live on,
    // silent, until they are released.
    CloseOutput(device->audioDevice);
    {
        Locked lock(device);
        device->audioDevice = 0;
        device->closed = true;
    }
    DeviceRelease(device);
}

HResult IDirectSound::GetCaps(DSCAPS* caps)
{
    if (!caps || caps->size != sizeof(DSCAPS)) return DSERR_INVALIDPARAM;
    *caps = DSCAPS{sizeof(DSCAPS), 0, DSBFREQUENCY_MIN, DSBFREQUENCY_MAX, 1, {}};
    return DS_OK;
}

HResult IDirectSound::SetCooperativeLevel(Window* window, uint32_t level)
{
    if (level < DSSCL_NORMAL || level > 3) return DSERR_INVALIDPARAM;
    StandInSettings& settings = Settings();
    if (!settings.watching && SDL_InitSubSystem(SDL_INIT_EVENTS) == 0) {
        SDL_AddEventWatch(FocusWatch, nullptr);
        settings.watching = true;
    }
    // A window without an SDL window (headless) never loses the focus.
    SDL_Window* sdl = Window_SdlWindow(window);
    Locked lock(device);
    device->focusWindow = sdl ? SDL_GetWindowID(sdl) : 0;
    device->unfocused = device->focusWindow && !Window_IsActive(window);
    return DS_OK;
}

HResult IDirectSound::CreateSoundBuffer(const DSBUFFERDESC* d, IDirectSoundBuffer** out, void*)
{
    if (!out) return DSERR_INVALIDPARAM;
    *out = nullptr;
    if (!d || d->size != sizeof(DSBUFFERDESC)) return DSERR_INVALIDPARAM;
    if (d->flags & DSBCAPS_PRIMARYBUFFER) {
        if (d->bufferBytes != 0 || d->format) return DSERR_INVALIDPARAM;
        *out = NewBuffer(device, nullptr, d->flags);
        return DS_OK;
    }
    if (!d->format) return DSERR_INVALIDPARAM;
    if (!ValidFormat(d->format)) return DSERR_BADFORMAT;
    uint32_t frames = d->bufferBytes / d->format->blockAlign;
    if (frames == 0 || d->bufferBytes > kMaxBufferBytes) return DSERR_INVALIDPARAM;
    SampleMemory* samples = SampleMemory_Create(frames * d->format->blockAlign);
    if (!samples) return DSERR_OUTOFMEMORY;
    DSoundVoice* voice = new DSoundVoice{};
    voice->samples = samples;
    voice->format = *d->format;
    voice->format.cbSize = 0;
    voice->frames = frames;
    voice->globalFocus = (d->flags & DSBCAPS_GLOBALFOCUS) != 0;
    Mixer_UpdateGains(voice);
    *out = NewBuffer(device, voice, d->flags);
    return DS_OK;
}

HResult IDirectSound::DuplicateSoundBuffer(IDirectSoundBuffer* source, IDirectSoundBuffer** out)
{
    if (!out) return DSERR_INVALIDPARAM;
    *out = nullptr;
    if (!source || !source->voice || source->device != device) return DSERR_INVALIDPARAM;
    DSoundVoice* voice = new DSoundVoice{};
    {
        Locked lock(device);
        *voice = *source->voice;
    }
    SampleMemory_AddRef(voice->samples);
    voice->playing = false;
    voice->looping = false;
    voice->position = 0;
    *out = NewBuffer(device, voice, source->flags);
    return DS_OK;
}

HResult DirectSoundCreate(const Guid* guid, IDirectSound** out, void*)
{
    if (!out) return DSERR_INVALIDPARAM;
    *out = nullptr;
    if (guid || !Settings().available) return DSERR_NODRIVER;
    DSoundDevice* device = new DSoundDevice{};
    device->refs = 1;
    device->lock = SDL_CreateMutex();
    device->primaryGain = 1.0f;
    device->periodFrames = kDefaultPeriod;
    if (!device->lock) {
        delete device;
        return DSERR_OUTOFMEMORY;
    }
    if (!Settings().directRender) {
        device->audioDevice = OpenOutput(device);
        if (!device->audioDevice) {
            DeviceRelease(device);
            return DSERR_NODRIVER;
        }
        SDL_PauseAudioDevice(device->audioDevice, 0);
    }
    Settings().devices.push_back(device);
    IDirectSound* sound = new IDirectSound;
    sound->device = device;
    *out = sound;
    return DS_OK;
}

HResult DirectSoundEnumerate(DSEnumCallback callback, void* context)
{
    if (!callback) return DSERR_INVALIDPARAM;
    bool present = Settings().available && Settings().directRender;
    if (!present && Settings().available) {
        SDL_AudioDeviceID probe = OpenOutput(nullptr);
        present = probe != 0;
        CloseOutput(probe);
    }
    if (present) callback(nullptr, "Primary Sound Driver", "", context);
    return DS_OK;
}

// ---- test hooks ----

void DSoundTest_SetDirectRender(int on) { Settings().directRender = on != 0; }

void DSoundTest_SetDeviceAvailable(int available) { Settings().available = available != 0; }

int DSoundTest_Render(IDirectSound* sound, int16_t* out, uint32_t frames)
{
    if (!sound || !out || sound->device->audioDevice) return 0;
    Locked lock(sound->device);
    sound->device->periodFrames = frames;
    Mixer_Render(sound->device, out, frames);
    return 1;
}

uint32_t DSoundTest_VoiceCount(IDirectSound* sound)
{
    if (!sound) return 0;
    Locked lock(sound->device);
    return (uint32_t)sound->device->voices.size();
}
