// Sound writer of the data tools: RIFF WAVE files of 16-bit PCM, and the
// synthesis of the demo's sounds (short effects and looping music) from a
// few parameters, so no recorded sound is needed.
//
// File layout: "RIFF" <size> "WAVE", a 16-byte "fmt " chunk (PCM, channels,
// rate, byte rate, block align, 16 bits), a "data" chunk of little-endian
// samples (channels interleaved), padded to an even size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Sample rates the writers take: the sound system plays anything, the
// demo uses 22050 for effects and music.
constexpr int32_t WAVEWRITER_MIN_RATE = 4000;
constexpr int32_t WAVEWRITER_MAX_RATE = 96000;

// The file's bytes; empty (error set) for 0 or more than 2 channels, a rate
// outside the range above, or a sample count not a whole number of frames.
std::vector<uint8_t> WaveWriter_Encode(const std::vector<int16_t>& samples, int32_t channels, int32_t rate,
                                       std::string* error);
// Encodes and writes; 0 with error set ("PATH: ...") on failure.
int WaveWriter_Write(const std::string& path, const std::vector<int16_t>& samples, int32_t channels, int32_t rate,
                     std::string* error);

// ---- synthesis (mono, at the given rate) ----

// Effects by kind:
//   "blip"   a short square-wave beep (menu moves)
//   "click"  a very short noise tick (menu selection)
//   "jump"   a rising sweep
//   "land"   a low thud
//   "pickup" two rising sine notes (a chime)
//   "hit"    a noisy falling crunch
//   "whoosh" filtered noise swelling and fading
//   "boom"   a long low rumble
// `seconds` > 0 replaces the kind's length, `pitch` scales its frequencies
// (1: as designed), `seed` varies the noise. Empty (error set) for an
// unknown kind or values out of range (seconds up to 10, pitch 0.1..10).
std::vector<int16_t> WaveSynth_Effect(const std::string& kind, float seconds, float pitch, uint32_t seed, int32_t rate,
                                      std::string* error);

// Looping music: voices play their note lists side by side, one token per
// step (steps of 60 / tempo / stepsPerBeat seconds):
//   a note "C4", "F#3", "Bb5" (octave 0..8), "-" holds the note before,
//   "." rests; for the drum voice "k" kick, "s" snare, "h" hat, "." rest.
// Voices of one piece are repeated to the length of the longest. Every note
// ends inside its steps, so the piece loops without a click.
struct WaveSynthVoice {
    std::string wave = "square";  // "square", "triangle", "sine", "saw" or "drums"
    float volume = 0.3f;          // 0..1
    std::string notes;            // tokens separated by blanks
};

struct WaveSynthMusic {
    float tempo = 120.0f;      // beats a minute, 30..300
    int32_t stepsPerBeat = 2;  // 1..8
    std::vector<WaveSynthVoice> voices;
};

// The piece, mono; empty (error set) for a bad
// token (named with its voice and position) or values out of range, or a
// piece over 120 s.
std::vector<int16_t> WaveSynth_Music(const WaveSynthMusic& music, int32_t rate, std::string* error);
