// The DirectSound stand-in: a software mixer of secondary buffers played
// through an SDL audio device, with the primary buffer's format and volume,
// a 3D listener that only answers, and buffer duplication with shared,
// reference-counted sample memory.
//
// The mixer's arithmetic (so output samples can be worked out by hand):
//   - Output is 44100 Hz stereo signed 16-bit; SDL converts when the device
//     differs.
//   - A level in hundredths of a decibel gives the gain 10^(level / 2000);
//     -10000 is silence.
//   - Pan p > 0 attenuates the left channel by p hundredths of a decibel,
//     p < 0 the right one by |p|; the other channel stays at 0 dB.
//   - 8-bit samples are unsigned: (b - 128) << 8. Mono goes to both channels.
//   - A buffer plays at its frequency (SetFrequency, 0: the format's own
//     rate), resampled linearly between neighbouring frames with a 32.32
//     fixed-point position. Past the last frame of a buffer that does not
//     loop, the last frame is held; a looping one wraps to its first.
//   - Voices are summed in float with their gains, multiplied by the
//     primary buffer's gain, rounded and saturated to int16.
//   - The play cursor advances by what the device consumed; the write
//     cursor leads it by one device period (the frames of one callback).
//   - A buffer that does not loop stops at its end, reports not playing and
//     goes back to position 0.
//   - While the window given to SetCooperativeLevel does not have the focus,
//     buffers made without DSBCAPS_GLOBALFOCUS are not heard and hold their
//     place; they go on when the window has the focus again (so a stream
//     that nobody refills meanwhile replays nothing).
//
// Threads: the mixer runs on SDL's audio thread. One lock guards the voice
// state (play, stop, volume, pan, frequency, position, duplicates,
// release) against the callback. Lock and Unlock hand out a pointer into
// the sample memory without holding it: the writer keeps to the part the
// cursors have left. Everything else is called from the main thread.
#pragma once

#include <cstdint>

#include "platform/win32/com.h"

struct Window;

constexpr HResult DS_OK = 0;
constexpr HResult DSERR_CONTROLUNAVAIL = (HResult)0x8878001Eu;
constexpr HResult DSERR_INVALIDCALL = (HResult)0x88780032u;
constexpr HResult DSERR_BADFORMAT = (HResult)0x88780064u;
constexpr HResult DSERR_NODRIVER = (HResult)0x88780078u;
constexpr HResult DSERR_INVALIDPARAM = E_INVALIDARG;
constexpr HResult DSERR_OUTOFMEMORY = E_OUTOFMEMORY;

extern const Guid IID_IDirectSound3DListener;

enum : uint32_t {
    DSSCL_NORMAL = 1,
    DSSCL_PRIORITY = 2,
    DSBCAPS_PRIMARYBUFFER = 0x1,
    DSBCAPS_STATIC = 0x2,
    DSBCAPS_CTRL3D = 0x10,
    DSBCAPS_CTRLFREQUENCY = 0x20,
    DSBCAPS_CTRLPAN = 0x40,
    DSBCAPS_CTRLVOLUME = 0x80,
    DSBCAPS_GLOBALFOCUS = 0x8000,
    DSBLOCK_FROMWRITECURSOR = 0x1,
    DSBLOCK_ENTIREBUFFER = 0x2,
    DSBPLAY_LOOPING = 0x1,
    DSBSTATUS_PLAYING = 0x1,
    DSBSTATUS_LOOPING = 0x4,
    WAVE_FORMAT_PCM = 1,
    DSOUND_OUTPUT_RATE = 44100,
};

constexpr int32_t DSBVOLUME_MIN = -10000;
constexpr int32_t DSBVOLUME_MAX = 0;
constexpr int32_t DSBPAN_LEFT = -10000;
constexpr int32_t DSBPAN_RIGHT = 10000;
constexpr uint32_t DSBFREQUENCY_MIN = 100;
constexpr uint32_t DSBFREQUENCY_MAX = 100000;

// A format record. In files it is 18 bytes (16 for PCM, then the extra
// size); in memory the extra bytes, when any, follow this record.
struct WAVEFORMATEX {
    uint16_t formatTag;
    uint16_t channels;
    uint32_t samplesPerSec;
    uint32_t avgBytesPerSec;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    uint16_t cbSize;  // extra bytes behind the record
};

struct DSBUFFERDESC {
    uint32_t size;         // sizeof(DSBUFFERDESC)
    uint32_t flags;        // DSBCAPS_*
    uint32_t bufferBytes;  // 0 for the primary buffer
    uint32_t reserved;
    const WAVEFORMATEX* format;  // null for the primary buffer
};

struct DSBCAPS {
    uint32_t size;  // 20
    uint32_t flags;
    uint32_t bufferBytes;
    uint32_t unlockTransferRate;
    uint32_t playCpuOverhead;
};

struct DSCAPS {
    uint32_t size;  // 96
    uint32_t flags;
    uint32_t minSecondarySampleRate;
    uint32_t maxSecondarySampleRate;
    uint32_t primaryBuffers;
    uint32_t reserved[19];
};
static_assert(sizeof(DSCAPS) == 96, "DSCAPS is 96 bytes");

struct DS3DLISTENER {
    uint32_t size;  // 64
    float position[3];
    float velocity[3];
    float orientFront[3];
    float orientTop[3];
    float distanceFactor;
    float rolloffFactor;
    float dopplerFactor;
};
static_assert(sizeof(DS3DLISTENER) == 64, "DS3DLISTENER is 64 bytes");

struct DSoundDevice;
struct DSoundVoice;

struct IDirectSound3DListener : ComObject {
    // Fills a record of size 64: at the origin, looking along +z.
    HResult GetAllParameters(DS3DLISTENER* parameters);
    ~IDirectSound3DListener() override;
    DSoundDevice* device = nullptr;
};

struct IDirectSoundBuffer : ComObject {
    HResult GetCaps(DSBCAPS* caps);  // caps->size must be 20
    // Byte offsets of the play and write cursors (both may be null).
    HResult GetCurrentPosition(uint32_t* play, uint32_t* write);
    HResult SetCurrentPosition(uint32_t offset);
    HResult GetStatus(uint32_t* status);
    // -10000..0; anything else is refused and changes nothing.
    HResult SetVolume(int32_t volume);
    HResult GetVolume(int32_t* volume);
    // -10000..10000.
    HResult SetPan(int32_t pan);
    HResult GetPan(int32_t* pan);
    // 0 (the format's rate) or 100..100000 Hz.
    HResult SetFrequency(uint32_t frequency);
    HResult GetFrequency(uint32_t* frequency);
    // The primary buffer's output format (kept; the output stays 44100 Hz
    // stereo 16-bit).
    HResult SetFormat(const WAVEFORMATEX* format);
    // A pointer into the sample memory: bytes from offset (wrapping into a
    // second part at the buffer's start); ENTIREBUFFER locks it all,
    // FROMWRITECURSOR starts at the write cursor.
    HResult Lock(uint32_t offset, uint32_t bytes, void** part1, uint32_t* bytes1, void** part2, uint32_t* bytes2,
                 uint32_t flags);
    HResult Unlock(void* part1, uint32_t bytes1, void* part2, uint32_t bytes2);
    // Plays from the current position; DSBPLAY_LOOPING loops.
    HResult Play(uint32_t reserved, uint32_t priority, uint32_t flags);
    // Stops, keeping the position.
    HResult Stop();
    // IID_IDirectSound3DListener on the primary buffer (with CTRL3D).
    HResult QueryInterface(const Guid& iid, void** out);
    ~IDirectSoundBuffer() override;
    DSoundDevice* device = nullptr;
    DSoundVoice* voice = nullptr;  // null for the primary buffer
    uint32_t flags = 0;
};

struct IDirectSound : ComObject {
    HResult GetCaps(DSCAPS* caps);  // caps->size must be 96
    // The window whose focus decides whether buffers without global focus
    // are heard (null: always heard).
    HResult SetCooperativeLevel(Window* window, uint32_t level);
    // The primary buffer (DSBCAPS_PRIMARYBUFFER, no size, no format) or a
    // secondary one of PCM 8- or 16-bit, mono or stereo; other formats are
    // refused with DSERR_BADFORMAT.
    HResult CreateSoundBuffer(const DSBUFFERDESC* description, IDirectSoundBuffer** out, void* outer);
    // A buffer sharing the source's sample memory, with its own position
    // and status, stopped at 0, with the source's volume, pan and frequency.
    HResult DuplicateSoundBuffer(IDirectSoundBuffer* source, IDirectSoundBuffer** out);
    ~IDirectSound() override;
    DSoundDevice* device = nullptr;
};

// The default device (guid null). DSERR_NODRIVER when no SDL audio device
// opens.
HResult DirectSoundCreate(const Guid* device, IDirectSound** out, void* outer);
// Calls back once, for the default device (guid null), when an SDL audio
// device opens; the callback returns 1 to go on.
typedef int32_t (*DSEnumCallback)(const Guid* guid, const char* description, const char* module, void* context);
HResult DirectSoundEnumerate(DSEnumCallback callback, void* context);
