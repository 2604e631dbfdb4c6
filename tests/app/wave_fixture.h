// RIFF WAVE files for the sound tests, byte by byte, so that each field can
// be made to lie.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wavefile {

inline void Put32(std::string& s, uint32_t v)
{
    for (int i = 0; i < 4; i++) s += (char)(v >> (8 * i));
}
inline void Put16(std::string& s, uint16_t v)
{
    s += (char)v;
    s += (char)(v >> 8);
}

struct Layout {
    uint16_t tag = 1;  // PCM
    uint16_t channels = 1;
    uint32_t rate = 44100;
    uint16_t bits = 16;
    uint32_t fmtSize = 16;        // the "fmt " chunk's size
    uint16_t extra = 0;           // the extra size of a record that is not PCM (fmtSize >= 18)
    bool withFmt = true;
    bool withData = true;
    int64_t claimedData = -1;     // the data chunk's size field; -1: the real size
    std::string form = "WAVE";
    std::string riff = "RIFF";
};

// A file of the layout around the sample bytes.
inline std::string Make(const Layout& layout, const std::string& samples)
{
    std::string body = layout.form;
    if (layout.withFmt) {
        body += "fmt ";
        Put32(body, layout.fmtSize);
        std::string fmt;
        uint16_t align = (uint16_t)(layout.channels * layout.bits / 8);
        Put16(fmt, layout.tag);
        Put16(fmt, layout.channels);
        Put32(fmt, layout.rate);
        Put32(fmt, layout.rate * align);
        Put16(fmt, align);
        Put16(fmt, layout.bits);
        if (layout.fmtSize >= 18) Put16(fmt, layout.extra);
        while (fmt.size() < layout.fmtSize) fmt += '\0';
        body += fmt.substr(0, layout.fmtSize);
    }
    if (layout.withData) {
        body += "data";
        Put32(body, layout.claimedData >= 0 ? (uint32_t)layout.claimedData : (uint32_t)samples.size());
        body += samples;
    }
    std::string file = layout.riff;
    Put32(file, (uint32_t)body.size());
    return file + body;
}

// 16-bit samples as bytes.
inline std::string Samples16(const std::vector<int16_t>& values)
{
    std::string s;
    for (int16_t v : values) Put16(s, (uint16_t)v);
    return s;
}

}  // namespace wavefile
