// Compares two writes of one object's chunks byte for byte, but for the words a native
// device-data block (plugin 0x510) may change between writes: its serial number and each mesh's
// base index. Free of the test framework, for the tests and the fuzz targets alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace samewrites {

inline uint32_t Load(const uint8_t* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// Sets mask[i] for those words in every native block: sub-chunk and struct headers, platform 8,
// block size, the serial number (low half), then 44-byte records whose tenth word is the base index.
inline void MaskNativeWords(const uint8_t* bytes, size_t size, std::vector<uint8_t>& mask)
{
    for (size_t at = 0; at + 36 <= size; at++) {
        if (Load(bytes + at) != 0x510 || Load(bytes + at + 12) != 1 || Load(bytes + at + 24) != 8) continue;
        const uint32_t block = Load(bytes + at + 28);
        if (block < 4 || (block - 4) % 44) continue;
        mask[at + 32] = mask[at + 33] = 1;
        for (size_t r = 0; r < (block - 4) / 44; r++) {
            const size_t word = at + 36 + 44 * r + 36;
            if (word + 4 <= size) memset(&mask[word], 1, 4);
        }
    }
}

inline bool Same(const uint8_t* a, size_t aSize, const uint8_t* b, size_t bSize)
{
    if (aSize != bSize) return false;
    std::vector<uint8_t> mask(aSize, 0);
    MaskNativeWords(a, aSize, mask);
    MaskNativeWords(b, bSize, mask);
    for (size_t i = 0; i < aSize; i++)
        if (a[i] != b[i] && !mask[i]) return false;
    return true;
}

inline bool Same(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    return Same(a.data(), a.size(), b.data(), b.size());
}

}  // namespace samewrites
