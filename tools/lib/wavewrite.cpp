#include "tools/lib/wavewrite.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "tools/lib/toolfile.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

void PutId(std::vector<uint8_t>& out, const char* id)
{
    for (int i = 0; i < 4; i++) out.push_back((uint8_t)id[i]);
}

// A small deterministic noise source (xorshift32), -1..1.
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed ? seed : 0x9E3779B9u) {}
    float Next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return (float)(state >> 8) / 8388608.0f - 1.0f;
    }
};

int16_t ToSample(double v) { return (int16_t)std::lround(std::clamp(v, -1.0, 1.0) * 32767.0); }

// Attack-decay shape: rises over `attack` seconds, then falls exponentially
// so that it is near 0 at `length`.
double Envelope(double t, double attack, double length)
{
    if (t < 0 || t >= length) return 0.0;
    if (t < attack) return t / attack;
    const double rest = (t - attack) / std::max(1e-6, length - attack);
    return std::exp(-4.0 * rest) * (1.0 - rest);
}

double Oscillator(const std::string& wave, double phase)  // phase in cycles
{
    const double f = phase - std::floor(phase);
    if (wave == "square") return f < 0.5 ? 1.0 : -1.0;
    if (wave == "triangle") return f < 0.5 ? 4.0 * f - 1.0 : 3.0 - 4.0 * f;
    if (wave == "saw") return 2.0 * f - 1.0;
    return std::sin(2.0 * kPi * f);
}

enum Effect { BLIP, CLICK, JUMP, LAND, PICKUP, HIT, WHOOSH, BOOM };
struct EffectKind {
    const char* name;
    Effect effect;
    float seconds;  // the designed length
};
const EffectKind kEffects[] = {{"blip", BLIP, 0.08f},    {"click", CLICK, 0.03f},   {"jump", JUMP, 0.25f},
                               {"land", LAND, 0.15f},    {"pickup", PICKUP, 0.35f}, {"hit", HIT, 0.25f},
                               {"whoosh", WHOOSH, 0.5f}, {"boom", BOOM, 1.2f}};

std::vector<int16_t> Fail(std::string* error, const std::string& text)
{
    if (error) *error = text;
    return {};
}

// Frequency of a note name ("C4", "F#3", "Bb5"), or a negative number when
// the token is none.
double NoteFrequency(const std::string& token)
{
    static const int kSemitone[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G from C
    if (token.size() < 2 || token.size() > 3) return -1;
    const char letter = token[0];
    if (letter < 'A' || letter > 'G') return -1;
    int semitone = kSemitone[letter - 'A'];
    size_t at = 1;
    if (token[at] == '#') semitone++, at++;
    else if (token[at] == 'b') semitone--, at++;
    if (at + 1 != token.size() || token[at] < '0' || token[at] > '8') return -1;
    const int octave = token[at] - '0';
    const int midi = 12 * (octave + 1) + semitone;
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

std::vector<std::string> Tokens(const std::string& text)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) i++;
        size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t') i++;
        if (i > start) out.push_back(text.substr(start, i - start));
    }
    return out;
}

void AddDrum(std::vector<double>& mix, size_t at, size_t room, char drum, double volume, int32_t rate, Noise& noise)
{
    const double length = std::min((double)room / rate, drum == 'k' ? 0.25 : drum == 's' ? 0.18 : 0.05);
    const size_t count = (size_t)(length * rate);
    double phase = 0;
    for (size_t i = 0; i < count && at + i < mix.size(); i++) {
        const double t = (double)i / rate;
        const double shape = Envelope(t, 0.002, length);
        double v;
        if (drum == 'k') {
            phase += (50.0 + 90.0 * std::exp(-t * 30.0)) / rate;
            v = std::sin(2 * kPi * phase);
        } else if (drum == 's') {
            v = 0.7 * noise.Next() + 0.3 * std::sin(2 * kPi * 180.0 * t);
        } else {
            v = noise.Next() * 0.5;
        }
        mix[at + i] += v * shape * volume;
    }
}

}  // namespace

std::vector<uint8_t> WaveWriter_Encode(const std::vector<int16_t>& samples, int32_t channels, int32_t rate,
                                       std::string* error)
{
    if (channels < 1 || channels > 2) {
        if (error) *error = "sounds have 1 or 2 channels";
        return {};
    }
    if (rate < WAVEWRITER_MIN_RATE || rate > WAVEWRITER_MAX_RATE) {
        if (error) *error = "sample rate out of range";
        return {};
    }
    if (samples.size() % (size_t)channels != 0) {
        if (error) *error = "the samples are not a whole number of frames";
        return {};
    }
    const uint32_t dataBytes = (uint32_t)(samples.size() * 2);
    std::vector<uint8_t> out;
    out.reserve(44 + dataBytes);
    PutId(out, "RIFF");
    ToolFile_PutU32(&out, 4 + 8 + 16 + 8 + dataBytes);
    PutId(out, "WAVE");
    PutId(out, "fmt ");
    ToolFile_PutU32(&out, 16);
    ToolFile_PutU16(&out, 1);  // PCM
    ToolFile_PutU16(&out, (uint32_t)channels);
    ToolFile_PutU32(&out, (uint32_t)rate);
    ToolFile_PutU32(&out, (uint32_t)rate * (uint32_t)channels * 2);
    ToolFile_PutU16(&out, (uint32_t)channels * 2);
    ToolFile_PutU16(&out, 16);
    PutId(out, "data");
    ToolFile_PutU32(&out, dataBytes);
    for (int16_t s : samples) ToolFile_PutU16(&out, (uint16_t)s);
    return out;
}

int WaveWriter_Write(const std::string& path, const std::vector<int16_t>& samples, int32_t channels, int32_t rate,
                     std::string* error)
{
    std::string why;
    std::vector<uint8_t> bytes = WaveWriter_Encode(samples, channels, rate, &why);
    if (bytes.empty()) {
        if (error) *error = path + ": " + why;
        return 0;
    }
    return ToolFile_Write(path, bytes, error);
}

std::vector<int16_t> WaveSynth_Effect(const std::string& kind, float seconds, float pitch, uint32_t seed, int32_t rate,
                                      std::string* error)
{
    const EffectKind* effect = nullptr;
    for (const EffectKind& e : kEffects)
        if (kind == e.name) effect = &e;
    if (!effect) return Fail(error, "unknown effect kind \"" + kind + "\"");
    if (!(seconds >= 0) || seconds > 10) return Fail(error, "effect length out of range (0..10 s)");
    if (!(pitch >= 0.1f) || pitch > 10) return Fail(error, "pitch out of range (0.1..10)");
    if (rate < WAVEWRITER_MIN_RATE || rate > WAVEWRITER_MAX_RATE) return Fail(error, "sample rate out of range");
    const double length = seconds > 0 ? seconds : effect->seconds;
    const size_t count = std::max<size_t>(1, (size_t)std::lround(length * rate));
    std::vector<int16_t> out(count);
    Noise noise(seed);
    double phase = 0, low = 0;
    for (size_t i = 0; i < count; i++) {
        const double t = (double)i / rate, u = t / length;  // u: 0..1 through the effect
        double v = 0, frequency;
        switch (effect->effect) {
        case BLIP:
            phase += 880.0 * pitch / rate;
            v = Oscillator("square", phase) * 0.5 * Envelope(t, 0.003, length);
            break;
        case CLICK: v = noise.Next() * Envelope(t, 0.001, length); break;
        case JUMP:
            frequency = (220.0 + 660.0 * u) * pitch;
            phase += frequency / rate;
            v = Oscillator("triangle", phase) * 0.6 * Envelope(t, 0.01, length);
            break;
        case LAND:
            phase += (90.0 - 40.0 * u) * pitch / rate;
            low += (noise.Next() - low) * 0.05;
            v = (0.8 * std::sin(2 * kPi * phase) + 2.0 * low) * Envelope(t, 0.002, length);
            break;
        case PICKUP:
            frequency = (u < 0.35 ? 988.0 : 1319.0) * pitch;
            phase += frequency / rate;
            v = std::sin(2 * kPi * phase) * 0.6 *
                Envelope(u < 0.35 ? t : t - 0.35 * length, 0.005, u < 0.35 ? 0.35 * length : 0.65 * length);
            break;
        case HIT:
            phase += (300.0 - 220.0 * u) * pitch / rate;
            v = (0.6 * noise.Next() + 0.4 * Oscillator("square", phase)) * Envelope(t, 0.002, length);
            break;
        case WHOOSH:
            low += (noise.Next() - low) * (0.02 + 0.2 * u * pitch);
            v = low * 3.0 * std::sin(kPi * u);
            break;
        case BOOM:
            low += (noise.Next() - low) * 0.01 * pitch;
            phase += 45.0 * pitch / rate;
            v = (4.0 * low + 0.5 * std::sin(2 * kPi * phase)) * Envelope(t, 0.01, length);
            break;
        }
        out[i] = ToSample(v * 0.8);
    }
    return out;
}

std::vector<int16_t> WaveSynth_Music(const WaveSynthMusic& music, int32_t rate, std::string* error)
{
    if (!(music.tempo >= 30) || music.tempo > 300) return Fail(error, "tempo out of range (30..300)");
    if (music.stepsPerBeat < 1 || music.stepsPerBeat > 8) return Fail(error, "steps a beat out of range (1..8)");
    if (rate < WAVEWRITER_MIN_RATE || rate > WAVEWRITER_MAX_RATE) return Fail(error, "sample rate out of range");
    if (music.voices.empty()) return Fail(error, "music needs at least one voice");
    std::vector<std::vector<std::string>> tokens;
    size_t steps = 0;
    for (size_t v = 0; v < music.voices.size(); v++) {
        const WaveSynthVoice& voice = music.voices[v];
        const std::string where = "voice " + std::to_string(v + 1);
        if (voice.wave != "square" && voice.wave != "triangle" && voice.wave != "sine" && voice.wave != "saw" &&
            voice.wave != "drums")
            return Fail(error, where + ": unknown wave \"" + voice.wave + "\"");
        if (!(voice.volume >= 0) || voice.volume > 1) return Fail(error, where + ": volume out of range (0..1)");
        tokens.push_back(Tokens(voice.notes));
        if (tokens.back().empty()) return Fail(error, where + ": no notes");
        for (size_t i = 0; i < tokens.back().size(); i++) {
            const std::string& t = tokens.back()[i];
            const bool ok = voice.wave == "drums" ? (t == "k" || t == "s" || t == "h" || t == ".")
                                                  : (t == "-" || t == "." || NoteFrequency(t) > 0);
            if (!ok) return Fail(error, where + ", step " + std::to_string(i + 1) + ": bad token \"" + t + "\"");
        }
        steps = std::max(steps, tokens.back().size());
    }
    const double stepSeconds = 60.0 / music.tempo / music.stepsPerBeat;
    if (steps * stepSeconds > 120) return Fail(error, "music longer than 120 s");
    // Step boundaries in whole samples, so the piece's length is exact and
    // the loop point falls on a step.
    auto stepStart = [&](size_t step) { return (size_t)std::llround(step * stepSeconds * rate); };
    std::vector<double> mix(stepStart(steps), 0.0);
    Noise noise(0x5EED1234u);
    for (size_t v = 0; v < music.voices.size(); v++) {
        const WaveSynthVoice& voice = music.voices[v];
        const std::vector<std::string>& list = tokens[v];
        for (size_t step = 0; step < steps; step++) {
            const std::string& t = list[step % list.size()];
            if (voice.wave == "drums") {
                if (t != ".")
                    AddDrum(mix, stepStart(step), stepStart(steps) - stepStart(step), t[0], voice.volume, rate, noise);
                continue;
            }
            if (t == "-" || t == ".") continue;
            // The note lasts through the holds after it (within this pass of
            // the list), and fades out before its last step ends.
            size_t held = 1;
            while (step + held < steps && held < list.size() && list[(step + held) % list.size()] == "-") held++;
            const size_t begin = stepStart(step), end = stepStart(step + held);
            const double frequency = NoteFrequency(t), length = (double)(end - begin) / rate;
            for (size_t i = begin; i < end; i++) {
                const double time = (double)(i - begin) / rate;
                const double release = std::min(1.0, (length - time) / 0.01);  // 10 ms to silence
                mix[i] += Oscillator(voice.wave, frequency * time) * voice.volume *
                          Envelope(time, 0.005, length * 2.0) * release;
            }
        }
    }
    std::vector<int16_t> out(mix.size());
    for (size_t i = 0; i < mix.size(); i++) out[i] = ToSample(mix[i]);
    return out;
}
