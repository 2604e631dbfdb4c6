// RIFF WAVE files for the sound tests, byte by byte, so that each field can
// be made to lie.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wavefile {

inline void Put(std::string& s, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; i++) s += (char)(v >> (8 * i));
}

struct Layout {
    uint16_t tag = 1;  // PCM
    uint16_t channels = 1;
    uint32_t rate = 44100;
    uint16_t bits = 16;
    uint32_t fmtSize = 16;  // the "fmt " chunk's size
    uint16_t extra = 0;     // the extra size of a record that is not PCM (fmtSize >= 18)
    bool withFmt = true;
    bool withData = true;
    int64_t claimedData = -1;  // the data chunk's size field; -1: the real size
    std::string form = "WAVE";
    std::string riff = "RIFF";
};

// A file of the layout around the sample bytes.
inline std::string Make(const Layout& layout, const std::string& samples)
{
    std::string body = layout.form, fmt;
    const uint16_t align = (uint16_t)(layout.channels * layout.bits / 8);
    for (auto [value, bytes] : {std::pair<uint32_t, int>{layout.tag, 2},
                                {layout.channels, 2},
                                {layout.rate, 4},
                                {layout.rate * align, 4},
                                {align, 2},
                                {layout.bits, 2}})
        Put(fmt, value, bytes);
    if (layout.fmtSize >= 18) Put(fmt, layout.extra, 2);
    fmt.resize(layout.fmtSize, '\0');
    if (layout.withFmt) {
        body += "fmt ";
        Put(body, layout.fmtSize, 4);
        body += fmt;
    }
    if (layout.withData) {
        body += "data";
        Put(body, layout.claimedData >= 0 ? (uint32_t)layout.claimedData : (uint32_t)samples.size(), 4);
        body += samples;
    }
    std::string file = layout.riff;
    Put(file, (uint32_t)body.size(), 4);
    return file + body;
}

// 16-bit samples as bytes.
inline std::string Samples16(const std::vector<int16_t>& values)
{
    std::string s;
    for (int16_t v : values) Put(s, (uint16_t)v, 2);
    return s;
}

}  // namespace wavefile
