// Little-endian bytes: the one place where stored multi-byte values are put
// together and taken apart. Every file and stream layout of the system is
// little-endian with fixed-width fields, read and written field by field
// (never a struct copied whole).
//
// ByteReader reads outside data: each read takes its bytes from the front of
// a bounded range and never looks past its end. A read that does not fit
// returns 0 (a copy copies nothing), empties the reader and sets `overrun`,
// so every later read fails too and a reader can check once after a group
// of reads. It makes each read safe; it does not replace checking a file's
// structure (counts, offsets, sizes) before using it.
//
// Bytes_Load* and Bytes_Store* are for memory whose bounds the caller has
// already established (a decoded block, a locked pixel row). The pointers
// need no alignment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/assert.h"

struct ByteReader {
    const uint8_t* p;  // next byte to read
    size_t left;       // bytes from p to the end of the range
    int overrun;       // 1 once a read asked for more than was left
};

// A reader over size bytes at data (null only with size 0). The bytes must
// outlive the reader; nothing is copied.
inline ByteReader ByteReader_Init(const void* data, size_t size)
{
    HELM_ASSERT(data || size == 0);
    return ByteReader{(const uint8_t*)data, data ? size : 0, 0};
}

// Takes n bytes: their address, or null (and the reader emptied) when fewer
// are left.
inline const uint8_t* ByteReader_Take(ByteReader* reader, size_t n)
{
    if (n > reader->left) {
        reader->p += reader->left;
        reader->left = 0;
        reader->overrun = 1;
        return nullptr;
    }
    const uint8_t* at = reader->p;
    reader->p += n;
    reader->left -= n;
    return at;
}

inline uint16_t Bytes_LoadU16(const void* p)
{
    const uint8_t* b = (const uint8_t*)p;
    return (uint16_t)(b[0] | b[1] << 8);
}

inline uint32_t Bytes_LoadU32(const void* p)
{
    const uint8_t* b = (const uint8_t*)p;
    return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

// IEEE-754 binary32, stored little-endian as its bit pattern.
inline float Bytes_LoadF32(const void* p)
{
    const uint32_t bits = Bytes_LoadU32(p);
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

inline void Bytes_StoreU16(void* p, uint32_t v)
{
    uint8_t* b = (uint8_t*)p;
    b[0] = (uint8_t)v;
    b[1] = (uint8_t)(v >> 8);
}

inline void Bytes_StoreU32(void* p, uint32_t v)
{
    uint8_t* b = (uint8_t*)p;
    b[0] = (uint8_t)v;
    b[1] = (uint8_t)(v >> 8);
    b[2] = (uint8_t)(v >> 16);
    b[3] = (uint8_t)(v >> 24);
}

inline void Bytes_StoreF32(void* p, float f)
{
    uint32_t bits;
    memcpy(&bits, &f, sizeof bits);
    Bytes_StoreU32(p, bits);
}

// The value at the front of the reader, or 0 past the end.
inline uint8_t ByteReader_U8(ByteReader* reader)
{
    const uint8_t* b = ByteReader_Take(reader, 1);
    return b ? b[0] : 0;
}

inline uint16_t ByteReader_U16(ByteReader* reader)
{
    const uint8_t* b = ByteReader_Take(reader, 2);
    return b ? Bytes_LoadU16(b) : 0;
}

inline uint32_t ByteReader_U32(ByteReader* reader)
{
    const uint8_t* b = ByteReader_Take(reader, 4);
    return b ? Bytes_LoadU32(b) : 0;
}

inline float ByteReader_F32(ByteReader* reader)
{
    const uint8_t* b = ByteReader_Take(reader, 4);
    return b ? Bytes_LoadF32(b) : 0.0f;
}

// Copies n bytes into out: 1, or 0 with out untouched past the end.
inline int ByteReader_Bytes(ByteReader* reader, void* out, size_t n)
{
    const uint8_t* b = ByteReader_Take(reader, n);
    if (!b) return 0;
    if (n) memcpy(out, b, n);
    return 1;
}

// Steps over n bytes: 1, or 0 past the end.
inline int ByteReader_Skip(ByteReader* reader, size_t n) { return ByteReader_Take(reader, n) != nullptr; }
