#include "app/sound.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "app/file.h"
#include "app/hooks.h"
#include "app/namecache.h"
#include "app/shell.h"
#include "common/list.h"
#include "common/maths.h"
#include "common/memory.h"
#include "platform/dsound/dsound.h"
#include "platform/win32/sysfile.h"

namespace {

struct SoundDeviceEntry {
    Guid guid;
    char description[128];
    uint32_t isDefault;  // the enumeration gave no guid
};

struct SoundModule {
    IDirectSound* directSound;
    IDirectSoundBuffer* primary;
    IDirectSound3DListener* listener;
    DS3DLISTENER listenerParameters;
    DSCAPS caps;
    SoundDeviceEntry* devices;
    uint32_t deviceCount;
    List* sounds;
    List* streams;
    NameCache* cache;
    Node* listeners[SOUND_LISTENERS];
    Sound* playing;
    float masterVolume;
    float falloff;
    int32_t table[256];
};

SoundModule g_sound = {};

constexpr uint32_t kRingSeconds = 8;
constexpr uint32_t kMaxBufferBytes = 0x0FFFFFFF;

// Failures of platform calls are passed here with the call's name; the
// system writes no log, so nothing happens.
void ReportError(const char* /*call*/, HResult /*code*/) {}

bool Failed(HResult result, const char* call)
{
    if (result >= 0) return false;
    ReportError(call, result);
    return true;
}

bool On() { return g_sound.directSound != nullptr; }

// One entry of the device list per device the platform reports; 1 to go on.
int32_t Sound_EnumDeviceCallback(const Guid* guid, const char* description, const char*, void*)
{
    SoundModule& m = g_sound;
    SoundDeviceEntry* grown =
        (SoundDeviceEntry*)Mem_Realloc(m.devices, 8, sizeof(SoundDeviceEntry) * (m.deviceCount + 1));
    if (Mem_GetSize(grown) < sizeof(SoundDeviceEntry) * (m.deviceCount + 1)) return 1;
    m.devices = grown;
    SoundDeviceEntry& e = m.devices[m.deviceCount++];
    e = SoundDeviceEntry{};
    if (guid) e.guid = *guid;
    e.isDefault = guid == nullptr;
    snprintf(e.description, sizeof e.description, "%s", description ? description : "");
    return 1;
}

bool IsLinked(const Sound* s) { return s->previous || g_sound.playing == s; }

void Link(Sound* s)
{
    if (IsLinked(s)) return;
    s->previous = nullptr;
    s->next = g_sound.playing;
    if (g_sound.playing) g_sound.playing->previous = s;
    g_sound.playing = s;
}

void Unlink(Sound* s)
{
    if (!IsLinked(s)) return;
    if (s->previous)
        s->previous->next = s->next;
    else
        g_sound.playing = s->next;
    if (s->next) s->next->previous = s->previous;
    s->next = s->previous = nullptr;
}

// Frees a sound record and all it holds, whatever its references.
void Destroy(Sound* s)
{
    Unlink(s);
    if (s->stream) {
        Wave_Close(s->stream->wave);
        List_Free(g_sound.streams, s->stream);
    }
    if (s->buffer) s->buffer->Release();
    List_Free(g_sound.sounds, s);
}

int DestroyEach(void* item, void*)
{
    Destroy((Sound*)item);
    return 0;
}

int32_t Level(float x, bool pan)
{
    if (std::isnan(x)) return pan ? 0 : -g_sound.table[255];  // centred and silent
    float d = pan ? std::fabs(x) : std::fabs(x - 1.0f);
    bool negative = pan ? x < 0.0f : x - 1.0f < 0.0f;
    // Infinities become the ends of the table before the index is taken: a
    // float converted to an integer out of range is undefined.
    if (!(d <= 1.0f)) d = 1.0f;
    int index = (int)(d * 255.0f);
    if (index >= 255) index = 255;
    if (index <= 0) index = 0;
    int32_t value = g_sound.table[index];
    return negative ? -value : value;
}

void BuildTable()
{
    for (int i = 0; i < 256; i++)
        g_sound.table[i] = (int32_t)std::trunc(10240.0 / std::pow(2.0, (1.0 - i * 0.00390625) * 8.0) - 40.0);
}

// The master volume a primary buffer's level means: the first index whose
// attenuation reaches |V|.
float MasterFromLevel(int32_t level)
{
    int i = 0;
    while (i < 255 && g_sound.table[i] < std::abs(level)) i++;
    return level > 0 ? 1.0f + i / 255.0f : 1.0f - i / 255.0f;
}

void SetBufferVolume(Sound* s, float volume)
{
    Failed(s->buffer->SetVolume(Level(std::clamp(volume, 0.0f, 1.0f), false)), "SetVolume");
}

// Name with its last three characters replaced by "dwf", when that file
// opens through the file layer.
bool DwfBeside(const char* name, char* out, size_t size)
{
    size_t length = strlen(name);
    if (length < 3 || length >= size || strcasecmp(name + length - 3, "dwf") == 0) return false;
    memcpy(out, name, length - 3);
    memcpy(out + length - 3, "dwf", 4);
    void* file = File_Open(out, "rb");
    if (!file) return false;
    File_Close(file);
    return true;
}

int UpdateEach(void* item, void* arg)
{
    Sound_UpdateOne((Sound*)item, *(float*)arg);
    return 0;
}

struct IdleWalk {
    SoundIdleCallback callback;
    void* argument;
};

int ReleaseIfIdle(void* item, void* arg)
{
    Sound* s = (Sound*)item;
    IdleWalk* walk = (IdleWalk*)arg;
    if ((s->flags & (SOUND_LOADED | SOUND_LOOPING)) || s->stream) return 0;
    if (walk->callback) walk->callback(s, walk->argument);
    if (!(s->flags & SOUND_PAUSED)) Sound_Release(s);
    return 0;
}

// The cursor went from `from` past `end` on its way to `to` in a ring: also
// when it wrapped to the ring's start on the way.
bool PassedEnd(uint32_t from, uint32_t to, uint32_t end)
{
    if (from <= to) return from < end && end <= to;
    return end > from || end <= to;
}

}  // namespace

void Sound_Init(void)
{
    SoundModule& m = g_sound;
    if (On()) return;
    BuildTable();
    m.falloff = 30.0f;
    DirectSoundEnumerate(Sound_EnumDeviceCallback, nullptr);
    if (Failed(DirectSoundCreate(nullptr, &m.directSound, nullptr), "DirectSoundCreate")) {
        m.directSound = nullptr;
        return;
    }
    m.sounds = List_Create(sizeof(Sound), 8);
    m.streams = List_Create(sizeof(SoundStream), 8);
    m.cache = NameCache_Create();
    if (!m.sounds || !m.streams || !m.cache) {
        Sound_Shutdown();  // without its pools the device is of no use: sound off
        return;
    }
    m.caps.size = sizeof(DSCAPS);
    if (Failed(m.directSound->GetCaps(&m.caps), "GetCaps")) return;
    if (Failed(m.directSound->SetCooperativeLevel(App_GetWindow(), DSSCL_PRIORITY), "SetCooperativeLevel")) return;
    DSBUFFERDESC primary = {sizeof(DSBUFFERDESC), DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D | DSBCAPS_CTRLVOLUME, 0, 0,
                            nullptr};
    if (Failed(m.directSound->CreateSoundBuffer(&primary, &m.primary, nullptr), "CreateSoundBuffer")) {
        m.primary = nullptr;
        return;
    }
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    if (Failed(m.primary->SetFormat(&format), "SetFormat")) return;
    if (Failed(m.primary->QueryInterface(IID_IDirectSound3DListener, (void**)&m.listener), "QueryInterface")) {
        m.listener = nullptr;
        return;
    }
    m.listenerParameters.size = sizeof(DS3DLISTENER);
    if (Failed(m.listener->GetAllParameters(&m.listenerParameters), "GetAllParameters")) return;
    int32_t level = 0;
    if (Failed(m.primary->GetVolume(&level), "GetVolume")) return;
    m.masterVolume = MasterFromLevel(level);
}

void Sound_Shutdown(void)
{
    SoundModule& m = g_sound;
    if (On()) {
        // Every record goes, shared or not: a release would drop only one
        // reference of a sound the bank and others still hold.
        if (m.sounds) List_ForEach(m.sounds, DestroyEach, nullptr);
        if (m.sounds) List_Destroy(m.sounds);
        if (m.streams) List_Destroy(m.streams);
        NameCache_Destroy(m.cache);
        if (m.listener) m.listener->Release();
        if (m.primary) m.primary->Release();
        m.directSound->Release();
    }
    Mem_Free(m.devices);
    m = SoundModule{};
}

Sound* Sound_Load(const char* name, uint32_t flags)
{
    SoundModule& m = g_sound;
    if (!On() || !name || !m.cache) return nullptr;
    char path[SOUND_PATH_MAX];
    if (!DwfBeside(name, path, sizeof path)) snprintf(path, sizeof path, "%s", name);
    uint32_t key = flags;
    if (Sound* hit = (Sound*)NameCache_Acquire(m.cache, path, &key)) return hit;

    bool streamed = (flags & SOUND_LOAD_STREAM) != 0;
    WaveFile* wave = nullptr;
    WAVEFORMATEX* format = nullptr;
    WaveChunk riff, data;
    if (!Wave_Open(path, &wave, &format, &riff, streamed)) return nullptr;
    Sound* s = nullptr;
    SoundStream* stream = nullptr;
    uint64_t size = (uint64_t)kRingSeconds * format->avgBytesPerSec;
    bool ok = Wave_FindData(wave, &data, &riff);
    if (ok && !streamed) {
        // A cut file is refused before a buffer of the size it claims is made.
        size = data.cksize;
        ok = data.dataOffset <= Wave_GetFileSize(wave) && data.cksize <= Wave_GetFileSize(wave) - data.dataOffset;
    }
    ok = ok && size > 0 && size <= kMaxBufferBytes && (s = (Sound*)List_Alloc(m.sounds)) != nullptr;
    if (ok && streamed) {
        stream = (SoundStream*)List_Alloc(m.streams);
        ok = stream != nullptr;
        if (ok) {
            *stream = SoundStream{wave, data, riff, 0, 0};
            s->stream = stream;
            s->flags |= SOUND_LOOPING | ((flags & SOUND_LOAD_STREAM_LOOPS) ? (uint32_t)SOUND_STREAM_LOOPS : 0u);
        }
    }
    if (ok) {
        DSBUFFERDESC desc = {sizeof(DSBUFFERDESC),
                             DSBCAPS_STATIC | DSBCAPS_CTRLFREQUENCY | DSBCAPS_CTRLPAN | DSBCAPS_CTRLVOLUME,
                             (uint32_t)size, 0, format};
        ok = !Failed(m.directSound->CreateSoundBuffer(&desc, &s->buffer, nullptr), "CreateSoundBuffer");
    }
    if (ok && !streamed) ok = Sound_FillBuffer(s, wave, &data, &riff) != 0;
    Mem_Free(format);
    if (!ok) {
        if (s) {
            if (s->buffer) s->buffer->Release();
            if (stream) List_Free(m.streams, stream);
            List_Free(m.sounds, s);
        }
        Wave_Close(wave);
        return nullptr;
    }
    if (!streamed) Wave_Close(wave);
    s->gain = 1.0f;
    s->flags |= SOUND_LOADED;
    NameCache_Add(m.cache, path, s, key);
    return s;
}

int Streams_FindFile(char* out, const char* name, const char* extension, int onCd, int inParent)
{
    if (!out || !name || !extension) return 0;
    char prefix[64] = "";
    if (onCd)
        snprintf(prefix, sizeof prefix, "%s:\\", App_GetCDDriveName());
    else if (inParent)
        snprintf(prefix, sizeof prefix, "..\\");
    char path[SOUND_PATH_MAX];
    int length = snprintf(path, sizeof path, "%sStreams\\%s.%s", prefix, name, extension);
    if (length < 0 || length >= (int)sizeof path) return 0;
    FILE* file = SysFile_Open(path, "r");
    if (!file) return 0;
    fclose(file);
    memcpy(out, path, (size_t)length + 1);
    return 1;
}

Sound* Sound_LoadStream(const char* name, int looping)
{
    if (!On() || !name) return nullptr;
    struct Try {
        const char* extension;
        int onCd, inParent;
    };
    static const Try kTries[] = {{"dwf", 0, 0}, {"wav", 0, 0}, {"dwf", 0, 1}, {"wav", 0, 1}, {"dwf", 1, 0}, {"wav", 1, 0}};
    char path[SOUND_PATH_MAX];
    for (const Try& t : kTries)
        if (Streams_FindFile(path, name, t.extension, t.onCd, t.inParent))
            return Sound_Load(path, looping ? SOUND_LOAD_STREAM | SOUND_LOAD_STREAM_LOOPS : SOUND_LOAD_STREAM);
    return nullptr;
}

Sound* Sound_AddRef(Sound* sound)
{
    if (!On() || !sound) return nullptr;
    NameCache_AddRef(g_sound.cache, sound);
    return sound;
}

int Sound_FillBuffer(Sound* s, WaveFile* wave, WaveChunk* data, WaveChunk* riff)
{
    if (!s || !s->buffer) return 0;
    DSBCAPS caps = {sizeof(DSBCAPS), 0, 0, 0, 0};
    if (Failed(s->buffer->GetCaps(&caps), "GetCaps")) return 0;
    uint32_t ringBytes = caps.bufferBytes;
    uint32_t offset = 0, bytes = ringBytes, lockFlags = DSBLOCK_ENTIREBUFFER;
    if (s->stream) {
        bytes = ringBytes / 2;
        lockFlags = 0;
        offset = (s->flags & SOUND_SECOND_HALF) ? bytes : 0;
        s->flags ^= SOUND_SECOND_HALF;
    }
    void* part = nullptr;
    uint32_t partBytes = 0;
    if (Failed(s->buffer->Lock(offset, bytes, &part, &partBytes, nullptr, nullptr, lockFlags), "Lock")) return 0;
    uint8_t* dest = (uint8_t*)part;
    uint32_t got = 0;
    int complete = Wave_Read(wave, partBytes, dest, data, &got);
    if (!s->stream && !complete) {
        // A sound held whole refuses a short read (a cut file).
        s->buffer->Unlock(part, partBytes, nullptr, 0);
        return 0;
    }
    if (s->stream && got < partBytes) {
        // The end of the data, or a short read, which counts as its end.
        // A looping stream starts over until the half is full; a data
        // chunk with nothing in it ends it instead of looping forever.
        if (s->flags & SOUND_STREAM_LOOPS) {
            while (got < partBytes && Wave_FindData(wave, data, riff) && data->cksize > 0) {
                uint32_t more = 0;
                Wave_Read(wave, partBytes - got, dest + got, data, &more);
                if (more == 0) break;
                got += more;
            }
        }
        if (got < partBytes) {
            s->stream->endPosition = offset + got;
            s->flags |= SOUND_STREAM_ENDED;
        }
    }
    Failed(s->buffer->Unlock(part, partBytes, nullptr, 0), "Unlock");
    return 1;
}

int Sound_StartBuffer(Sound* s)
{
    if (!On() || !s || !s->buffer) return 0;
    if (SoundStream* st = s->stream) {
        if (!Wave_FindData(st->wave, &st->data, &st->riff)) return 0;
        s->flags &= ~(SOUND_SECOND_HALF | SOUND_STREAM_ENDED);
        // From the ring's start: after a stop the position may lie anywhere,
        // and the half behind it holds old data.
        s->buffer->SetCurrentPosition(0);
        st->lastPlayPosition = 0;
        if (!Sound_FillBuffer(s, st->wave, &st->data, &st->riff)) return 0;
    }
    if (Failed(s->buffer->Play(0, 0, (s->flags & SOUND_LOOPING) ? (uint32_t)DSBPLAY_LOOPING : 0u), "Play")) return 0;
    if (!s->stream) Link(s);
    return 1;
}

void Sound_Start(Sound* sound, int deferred)
{
    if (!On() || !sound) return;
    if (deferred || !Sound_StartBuffer(sound)) sound->flags |= SOUND_START_PENDING;
}

void Sound_StartNow(Sound* sound) { Sound_Start(sound, 0); }

int Sound_PlayInstance(Sound* sound, Sound** out, Node* node, int loop)
{
    SoundModule& m = g_sound;
    if (!On() || !sound || !sound->buffer || sound->cooldown != 0.0f) return 0;
    Sound* instance = (Sound*)List_Alloc(m.sounds);
    if (!instance) return 0;
    if (Failed(m.directSound->DuplicateSoundBuffer(sound->buffer, &instance->buffer), "DuplicateSoundBuffer")) {
        List_Free(m.sounds, instance);
        return 0;
    }
    Sound_SetNode(instance, node);
    if (!node) {
        int32_t volume = 0;
        if (!Failed(sound->buffer->GetVolume(&volume), "GetVolume")) instance->buffer->SetVolume(volume);
    } else {
        Failed(instance->buffer->SetVolume(0), "SetVolume");
    }
    if (loop) instance->flags |= SOUND_LOOPING;
    if (!Sound_StartBuffer(instance)) instance->flags |= SOUND_START_PENDING;
    instance->gain = 1.0f;
    if (out) *out = instance;
    return 1;
}

void Sound_PlayOneShot(Sound* sound, Node* node) { Sound_PlayInstance(sound, nullptr, node, 0); }

Sound* Sound_PlayLoopInstance(Sound* sound, Node* node)
{
    Sound* instance = nullptr;
    return Sound_PlayInstance(sound, &instance, node, 1) ? instance : nullptr;
}

void Sound_Pause(Sound* sound, int pause)
{
    if (!On() || !sound || !sound->buffer) return;
    bool paused = (sound->flags & SOUND_PAUSED) != 0;
    if (pause == 1 && !paused) {
        if (!Failed(sound->buffer->Stop(), "Stop")) sound->flags |= SOUND_PAUSED;
    } else if (pause == 0 && paused) {
        uint32_t playFlags = (sound->flags & SOUND_LOOPING) ? (uint32_t)DSBPLAY_LOOPING : 0u;
        if (!Failed(sound->buffer->Play(0, 0, playFlags), "Play")) sound->flags &= ~SOUND_PAUSED;
    }
}

void Sound_Release(Sound* sound)
{
    if (!On() || !sound) return;
    if ((sound->flags & SOUND_LOADED) && !NameCache_Release(g_sound.cache, sound)) return;
    Destroy(sound);
}

void Sound_ReleaseIdle(SoundIdleCallback callback, void* argument)
{
    if (!On()) return;
    IdleWalk walk = {callback, argument};
    List_ForEach(g_sound.sounds, ReleaseIfIdle, &walk);
}

void Sound_ApplyVolume(Sound* sound, float volume)
{
    if (!On() || !sound || !sound->buffer) return;
    SetBufferVolume(sound, volume);
}

void Sound_SetVolume(Sound* sound, float volume) { Sound_ApplyVolume(sound, volume); }

void Sound_SetMasterVolume(float volume)
{
    SoundModule& m = g_sound;
    if (!On()) return;
    m.masterVolume = volume;
    if (m.primary) Failed(m.primary->SetVolume(Level(volume, false)), "SetVolume");
}

float Sound_GetMasterVolume(void) { return g_sound.masterVolume; }

void Sound_SetGain(Sound* sound, float gain)
{
    if (!On() || !sound) return;
    sound->gain = std::clamp(gain, 0.0f, 1.0f);
}

void Sound_SetFrequency(Sound* sound, uint32_t hertz)
{
    if (!On() || !sound || !sound->buffer) return;
    Failed(sound->buffer->SetFrequency(hertz), "SetFrequency");
}

void Sound_SetNode(Sound* sound, Node* node)
{
    if (!sound || sound->node == node) return;
    sound->node = node;
    sound->flags |= SOUND_NODE_CHANGED;
}

void Sound_SetListener(Node* node, int slot)
{
    if (slot >= 0 && slot < SOUND_LISTENERS) g_sound.listeners[slot] = node;
}

void Sound_SetPrimaryListener(Node* node)
{
    if (g_sound.listeners[0] != node) g_sound.listeners[0] = node;
}

void Sound_SetFalloffDistance(float distance) { g_sound.falloff = distance; }

int Sound_Update(float dt)
{
    if (!On()) return 0;
    int count = 0;
    for (Sound* s = g_sound.playing; s;) {
        Sound* next = s->next;
        uint32_t status = 0;
        if (!Failed(s->buffer->GetStatus(&status), "GetStatus")) {
            if (!(status & DSBSTATUS_PLAYING) && !(s->flags & SOUND_PAUSED)) {
                // A loaded sound started directly leaves the list without
                // losing a reference its owner holds.
                if (s->flags & SOUND_LOADED)
                    Unlink(s);
                else
                    Sound_Release(s);
            } else {
                count++;
            }
        }
        s = next;
    }
    List_ForEach(g_sound.sounds, UpdateEach, &dt);
    return count;
}

void Sound_UpdateOne(Sound* s, float dt)
{
    if (!On() || !s) return;
    s->cooldown = s->cooldown <= 0.0f ? 0.0f : s->cooldown - dt;
    if ((s->flags & SOUND_START_PENDING) && Sound_StartBuffer(s)) s->flags &= ~SOUND_START_PENDING;
    if (s->stream) Sound_RefillStream(s);
    Sound_Update3D(s);
}

void Sound_RefillStream(Sound* s)
{
    if (!On() || !s || !s->stream) return;
    SoundStream* st = s->stream;
    uint32_t status = 0;
    if (Failed(s->buffer->GetStatus(&status), "GetStatus") || !(status & DSBSTATUS_PLAYING)) return;
    uint32_t play = 0, write = 0;
    if (Failed(s->buffer->GetCurrentPosition(&play, &write), "GetCurrentPosition")) return;
    if (s->flags & SOUND_STREAM_ENDED) {
        // The end can lie anywhere in the ring, the cursor wrapping on the
        // way to it between two checks.
        if (PassedEnd(st->lastPlayPosition, play, st->endPosition)) Failed(s->buffer->Stop(), "Stop");
    } else {
        DSBCAPS caps = {sizeof(DSBCAPS), 0, 0, 0, 0};
        if (!Failed(s->buffer->GetCaps(&caps), "GetCaps")) {
            uint32_t half = caps.bufferBytes / 2;
            bool secondNext = (s->flags & SOUND_SECOND_HALF) != 0;
            if ((secondNext && play < half && write < half) || (!secondNext && play > half && write > half))
                Sound_FillBuffer(s, st->wave, &st->data, &st->riff);
        }
    }
    st->lastPlayPosition = play;
}

void Sound_Update3D(Sound* s)
{
    SoundModule& m = g_sound;
    if (!On() || !s || !s->node || !s->buffer) return;
    const AppHooks* h = AppHooks_Get();
    float pan = 0.0f, volume = 1.0f;
    if (h->nodeGetWorldPosition && h->nodeGetWorldMatrix) {
        Vec3 position;
        h->nodeGetWorldPosition(s->node, &position.x);
        float nearest = 100000.0f;
        int count = 0;
        for (Node* listener : m.listeners) {
            if (!listener) continue;
            Mat4 matrix, inverse;
            h->nodeGetWorldMatrix(listener, &matrix.m[0][0]);
            Mat4_InvertAffine(&inverse, &matrix);
            Vec3 local;
            Mat4_TransformPoint(&local, &position, &inverse);
            float distance = std::sqrt(local.x * local.x + local.y * local.y + local.z * local.z);
            // A sound exactly at a listener has no direction: centre, and
            // distance 0 (full volume after the shaping).
            Vec3 dir = {0.0f, 0.0f, 0.0f};
            if (distance > 0.0f) dir = Vec3{local.x / distance, local.y / distance, local.z / distance};
            float side = 1.5f * dir.x;
            pan = std::clamp(side, -1.0f, 1.0f);
            float d = distance;
            if (side < -0.75f || side > 0.75f) d *= 2.0f;
            if (dir.z < 0.0f) d *= 2.0f;
            d *= 1.0f + 2.0f * std::fabs(dir.y);
            if (d < nearest) nearest = d;
            count++;
        }
        if (count > 1) pan = 0.0f;
        if (nearest < 20.0f)
            nearest *= 2.0f * (1.0f - 0.05f * nearest) + 1.0f;
        else if (nearest >= 500.0f)
            nearest = (nearest - 500.0f) + nearest;
        volume = std::clamp(m.falloff / nearest, 0.0f, 1.0f);
        if (std::isnan(volume)) volume = 1.0f;
    }
    Failed(s->buffer->SetPan(Level(std::clamp(pan, -1.0f, 1.0f), true)), "SetPan");
    SetBufferVolume(s, volume * s->gain);
}

int32_t Sound_GetAttenuation(int index)
{
    if (g_sound.table[255] == 0) BuildTable();
    return index >= 0 && index < 256 ? g_sound.table[index] : 0;
}

int32_t Sound_LevelFromVolume(float volume)
{
    if (g_sound.table[255] == 0) BuildTable();
    return Level(volume, false);
}

int32_t Sound_LevelFromPan(float pan)
{
    if (g_sound.table[255] == 0) BuildTable();
    return Level(pan, true);
}

int Sound_IsOn(void) { return On(); }
IDirectSound* Sound_GetDirectSound(void) { return g_sound.directSound; }
uint32_t Sound_GetCount(void) { return g_sound.sounds ? List_Count(g_sound.sounds) : 0; }

uint32_t Sound_GetReferences(Sound* sound)
{
    return On() && sound && (sound->flags & SOUND_LOADED) ? NameCache_GetCount(g_sound.cache, sound) : 0;
}

uint32_t Sound_GetDeviceCount(void) { return g_sound.deviceCount; }
