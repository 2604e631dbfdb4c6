// The sound system: RIFF WAVE sounds through DirectSound.
//
// A sound is held whole in one platform buffer (effects, loaded through the
// file layer, so possibly from an archive), or streamed from a disk file
// through an 8-second ring buffer refilled by halves each frame (music).
// Loaded sounds are shared through a name cache keyed by (name, load
// flags); playing an effect makes a duplicate buffer (an instance) that is
// released by itself once it has finished. A sound attached to a scene node
// gets its volume and pan each frame from its position relative to up to
// four listener nodes and a falloff distance. Every volume, pan and the
// master volume go through one 256-entry attenuation table.
//
// When the DirectSound device can't be created, sound is off for the run:
// every function does nothing and returns 0 or null. Every function accepts
// a null sound and does nothing with it. Main thread only (the platform
// mixes on its own thread).
#pragma once

#include <cstdint>

#include "app/wave.h"

struct Node;
struct IDirectSound;
struct IDirectSoundBuffer;

// Sound_Load flags (each also part of the cache key).
enum : uint32_t {
    SOUND_LOAD_STREAM = 4,        // streamed from disk
    SOUND_LOAD_STREAM_LOOPS = 8,  // with 4: the stream loops
};

// Sound flags.
enum : uint32_t {
    SOUND_LOADED = 0x1,         // the shared record of the name cache (instances never)
    SOUND_LOOPING = 0x2,        // played with the looping flag (always for streams)
    SOUND_PAUSED = 0x4,
    SOUND_NODE_CHANGED = 0x8,
    SOUND_START_PENDING = 0x20, // the start failed or was deferred: retried every frame
    SOUND_SECOND_HALF = 0x40,   // stream: the first half was filled last
    SOUND_STREAM_LOOPS = 0x80,  // stream: rewinds at the end of its data
    SOUND_STREAM_ENDED = 0x100, // stream: the end of the data is in the ring
};

constexpr int SOUND_PATH_MAX = 260;
constexpr int SOUND_LISTENERS = 4;

struct SoundStream {
    WaveFile* wave;
    WaveChunk data;   // cksize: the bytes not read yet
    WaveChunk riff;
    uint32_t endPosition;       // ring offset where the data ended (with SOUND_STREAM_ENDED)
    uint32_t lastPlayPosition;  // play cursor at the previous refill check
};

struct Sound {
    SoundStream* stream;        // null for a sound held whole
    IDirectSoundBuffer* buffer;
    Node* node;                 // places the sound in 3D, or null
    uint32_t flags;             // SOUND_*
    float cooldown;             // an instance is only made while it is 0
    Sound* next;                // the playing list
    Sound* previous;
    float gain;                 // 0..1, multiplied into the 3D volume
};

// Builds the table, creates the device (failure: sound off), the pools and
// the cache, sets the cooperative level on the main window, creates the
// primary buffer (44100 Hz stereo 16-bit) and its listener, and reads the
// master volume from it. A failed step ends the start there.
void Sound_Init(void);
// Destroys every sound and instance outright (whatever references remain),
// the pools, the cache and the device: sound is off afterwards, so later
// releases (the sound bank's) do nothing.
void Sound_Shutdown(void);

// A sound held whole (flags 0 or 2) or a stream (4, or 12 looping); the
// cached record with one more reference when (name, flags) was loaded
// before. A "dwf" file beside the named file takes its place. Null for a
// missing or malformed file, or a format the device refuses; nothing is
// left allocated or open then.
Sound* Sound_Load(const char* name, uint32_t flags);
// "<prefix>Streams\<name>.dwf" or ".wav", in the working folder, then its
// parent, then the CD; null when none exists.
Sound* Sound_LoadStream(const char* name, int looping);
// Builds "%sStreams\%s.%s" (prefix "", "..\" or the CD's "%s:\"), and
// copies it to out (SOUND_PATH_MAX bytes) when that file opens on disk.
int Streams_FindFile(char* out, const char* name, const char* extension, int onCd, int inParent);
// One more reference on a loaded sound; returns it.
Sound* Sound_AddRef(Sound* sound);

// deferred: only mark the start pending (the next update starts it).
void Sound_Start(Sound* sound, int deferred);
void Sound_StartNow(Sound* sound);
// 1 started, 0 failed. A stream restarts from the start of its data at ring
// position 0.
int Sound_StartBuffer(Sound* sound);
// A duplicate of the sound's buffer, placed at node; without a node it
// takes the sound's volume, with one it starts at full volume (the 3D pass
// sets it). 1 made (stored through out when given), 0 not.
int Sound_PlayInstance(Sound* sound, Sound** out, Node* node, int loop);
void Sound_PlayOneShot(Sound* sound, Node* node);
// The looping instance, which the caller releases.
Sound* Sound_PlayLoopInstance(Sound* sound, Node* node);
// 1 pauses a playing sound, 0 resumes a paused one.
void Sound_Pause(Sound* sound, int pause);
// A loaded sound drops one cache reference and goes at the last; an
// instance goes at once.
void Sound_Release(Sound* sound);
// For every sound that is neither loaded, looping nor streamed: calls the
// callback (when given), then releases it unless it is paused. Instances
// still playing go too.
typedef void (*SoundIdleCallback)(Sound* sound, void* argument);
void Sound_ReleaseIdle(SoundIdleCallback callback = nullptr, void* argument = nullptr);

// v clamped to 0..1, through the level mapping.
void Sound_ApplyVolume(Sound* sound, float volume);
void Sound_SetVolume(Sound* sound, float volume);
// Stores v and sets the primary buffer's volume (v is not clamped).
void Sound_SetMasterVolume(float volume);
float Sound_GetMasterVolume(void);
void Sound_SetGain(Sound* sound, float gain);
void Sound_SetFrequency(Sound* sound, uint32_t hertz);
void Sound_SetNode(Sound* sound, Node* node);
void Sound_SetListener(Node* node, int slot);
void Sound_SetPrimaryListener(Node* node);
void Sound_SetFalloffDistance(float distance);

// Releases the finished sounds of the playing list and returns how many
// still play or are paused; then updates every sound (cooldown, pending
// start, stream refill, 3D).
int Sound_Update(float dt);
void Sound_UpdateOne(Sound* sound, float dt);
// Fills the whole buffer, or a stream's next half. 1 done, 0 failed.
int Sound_FillBuffer(Sound* sound, WaveFile* wave, WaveChunk* data, WaveChunk* riff);
void Sound_RefillStream(Sound* sound);
void Sound_Update3D(Sound* sound);

// The attenuation table (hundredths of a decibel) and the level mapping.
int32_t Sound_GetAttenuation(int index);
int32_t Sound_LevelFromVolume(float volume);
int32_t Sound_LevelFromPan(float pan);

// 1 while sound is on.
int Sound_IsOn(void);
// The device (null while sound is off).
IDirectSound* Sound_GetDirectSound(void);
// Sounds and instances alive (for tests).
uint32_t Sound_GetCount(void);
// References of a loaded sound (0 for instances).
uint32_t Sound_GetReferences(Sound* sound);
// Devices the enumeration found.
uint32_t Sound_GetDeviceCount(void);
