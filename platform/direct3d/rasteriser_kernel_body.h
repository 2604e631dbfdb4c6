// The fused kernels' template body (see rasteriser_kernel.h), included by one
// source file per instruction set: rasteriser_kernel_sse2.cpp and
// rasteriser_kernel_avx2.cpp, the latter compiled with -mavx2. Everything
// here is in an anonymous namespace and calls nothing outside it but
// intrinsics, so no out-of-line copy compiled for AVX2 can be linked into a
// caller on a CPU without it.
//
// The vectors: V4 holds one quad (4 lanes) in 128-bit registers, V8 two
// quads in 256-bit ones, quad q in the low half and q + 1 in the high half.
// Every 16-bit step (unpack, multiply, shuffle, pack) works within 128-bit
// halves on both, so the same code gives each quad the same bits on both.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "platform/direct3d/rasteriser_internal.h"
#include "platform/direct3d/rasteriser_kernel.h"

// The kernels' helpers and lambdas are inlined at every optimisation level:
// a sanitizer build (-O1) would otherwise call them per lane.
#define HELM_KERNEL_INLINE __attribute__((always_inline)) inline

namespace {

// ---- operations on 4 lanes ----------------------------------------------------

HELM_KERNEL_INLINE __m128 Add(__m128 a, __m128 b) { return _mm_add_ps(a, b); }
HELM_KERNEL_INLINE __m128 Sub(__m128 a, __m128 b) { return _mm_sub_ps(a, b); }
HELM_KERNEL_INLINE __m128 Mul(__m128 a, __m128 b) { return _mm_mul_ps(a, b); }
HELM_KERNEL_INLINE __m128 Div(__m128 a, __m128 b) { return _mm_div_ps(a, b); }
HELM_KERNEL_INLINE __m128 Min(__m128 a, __m128 b) { return _mm_min_ps(a, b); }
HELM_KERNEL_INLINE __m128 Max(__m128 a, __m128 b) { return _mm_max_ps(a, b); }
HELM_KERNEL_INLINE __m128i Round(__m128 a) { return _mm_cvtps_epi32(a); }
HELM_KERNEL_INLINE __m128i Trunc(__m128 a) { return _mm_cvttps_epi32(a); }
HELM_KERNEL_INLINE __m128i Add32(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
HELM_KERNEL_INLINE __m128i Sub32(__m128i a, __m128i b) { return _mm_sub_epi32(a, b); }
HELM_KERNEL_INLINE __m128i Add16(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
HELM_KERNEL_INLINE __m128i Sub16(__m128i a, __m128i b) { return _mm_sub_epi16(a, b); }
HELM_KERNEL_INLINE __m128i Mul16(__m128i a, __m128i b) { return _mm_mullo_epi16(a, b); }
HELM_KERNEL_INLINE __m128i And(__m128i a, __m128i b) { return _mm_and_si128(a, b); }
HELM_KERNEL_INLINE __m128i AndNot(__m128i a, __m128i b) { return _mm_andnot_si128(a, b); }
HELM_KERNEL_INLINE __m128i Or(__m128i a, __m128i b) { return _mm_or_si128(a, b); }
HELM_KERNEL_INLINE __m128i Xor(__m128i a, __m128i b) { return _mm_xor_si128(a, b); }
HELM_KERNEL_INLINE __m128i Eq32(__m128i a, __m128i b) { return _mm_cmpeq_epi32(a, b); }
HELM_KERNEL_INLINE __m128i Gt32(__m128i a, __m128i b) { return _mm_cmpgt_epi32(a, b); }
template <int N>
HELM_KERNEL_INLINE __m128i Shl32(__m128i a)
{
    return _mm_slli_epi32(a, N);
}
template <int N>
HELM_KERNEL_INLINE __m128i Shr32(__m128i a)
{
    return _mm_srli_epi32(a, N);
}
template <int N>
HELM_KERNEL_INLINE __m128i Sar32(__m128i a)
{
    return _mm_srai_epi32(a, N);
}
template <int N>
HELM_KERNEL_INLINE __m128i Shr16(__m128i a)
{
    return _mm_srli_epi16(a, N);
}
template <int N>
HELM_KERNEL_INLINE __m128i Lo16(__m128i a)
{
    return _mm_shufflelo_epi16(a, N);
}
template <int N>
HELM_KERNEL_INLINE __m128i Hi16(__m128i a)
{
    return _mm_shufflehi_epi16(a, N);
}
HELM_KERNEL_INLINE __m128i UnpackLo8(__m128i a, __m128i b) { return _mm_unpacklo_epi8(a, b); }
HELM_KERNEL_INLINE __m128i UnpackHi8(__m128i a, __m128i b) { return _mm_unpackhi_epi8(a, b); }
HELM_KERNEL_INLINE __m128i UnpackLo32(__m128i a, __m128i b) { return _mm_unpacklo_epi32(a, b); }
HELM_KERNEL_INLINE __m128i UnpackHi32(__m128i a, __m128i b) { return _mm_unpackhi_epi32(a, b); }
HELM_KERNEL_INLINE __m128i UnpackLo64(__m128i a, __m128i b) { return _mm_unpacklo_epi64(a, b); }
HELM_KERNEL_INLINE __m128i UnpackHi64(__m128i a, __m128i b) { return _mm_unpackhi_epi64(a, b); }
HELM_KERNEL_INLINE __m128i PackUs16(__m128i a, __m128i b) { return _mm_packus_epi16(a, b); }
HELM_KERNEL_INLINE int SignBits(__m128i a) { return _mm_movemask_ps(_mm_castsi128_ps(a)); }
// v clamped to 0..hi (hi >= 0): SSE4.1's signed minimum and maximum where the
// file is compiled for it, the same result from compares in SSE2.
HELM_KERNEL_INLINE __m128i Clamp32(__m128i v, __m128i hi)
{
#ifdef __SSE4_1__
    return _mm_max_epi32(_mm_min_epi32(v, hi), _mm_setzero_si128());
#else
    const __m128i above = _mm_cmpgt_epi32(v, hi);
    v = _mm_or_si128(_mm_and_si128(above, hi), _mm_andnot_si128(above, v));
    return _mm_andnot_si128(_mm_srai_epi32(v, 31), v);
#endif
}
HELM_KERNEL_INLINE __m128i Min32(__m128i a, __m128i b)
{
    const __m128i above = _mm_cmpgt_epi32(a, b);
    return _mm_or_si128(_mm_and_si128(above, b), _mm_andnot_si128(above, a));
}
HELM_KERNEL_INLINE __m128 ToFloat(__m128i a) { return _mm_cvtepi32_ps(a); }
HELM_KERNEL_INLINE __m128i MulAdd16(__m128i a, __m128i b) { return _mm_madd_epi16(a, b); }
HELM_KERNEL_INLINE __m128i AddSat8(__m128i a, __m128i b) { return _mm_adds_epu8(a, b); }
HELM_KERNEL_INLINE __m128i Bits(__m128 a) { return _mm_castps_si128(a); }
HELM_KERNEL_INLINE __m128 FromBits(__m128i a) { return _mm_castsi128_ps(a); }
HELM_KERNEL_INLINE __m128i GreaterF(__m128 a, __m128 b) { return _mm_castps_si128(_mm_cmpgt_ps(a, b)); }
template <int N>
HELM_KERNEL_INLINE __m128 ShuffleF(__m128 a)
{
    return _mm_shuffle_ps(a, a, N);
}

// Two 8-byte loads in one register: a in the low half, b in the high.
HELM_KERNEL_INLINE __m128i Load2x64(const void* a, const void* b)
{
    return _mm_castpd_si128(
        _mm_loadh_pd(_mm_castsi128_pd(_mm_loadl_epi64(static_cast<const __m128i*>(a))), static_cast<const double*>(b)));
}

// A quad's four 32-bit pixels (lanes x, x + 1 of a row, then of the next).
HELM_KERNEL_INLINE __m128i LoadQuad(const uint8_t* at, size_t pitch) { return Load2x64(at, at + pitch); }

// Lane k of a quad as an all-ones 32-bit field, by mask.
alignas(16) const uint32_t kQuadLanes[16][4] = {
    {0, 0, 0, 0},     {~0u, 0, 0, 0},     {0, ~0u, 0, 0},     {~0u, ~0u, 0, 0},    {0, 0, ~0u, 0},   {~0u, 0, ~0u, 0},
    {0, ~0u, ~0u, 0}, {~0u, ~0u, ~0u, 0}, {0, 0, 0, ~0u},     {~0u, 0, 0, ~0u},    {0, ~0u, 0, ~0u}, {~0u, ~0u, 0, ~0u},
    {0, 0, ~0u, ~0u}, {~0u, 0, ~0u, ~0u}, {0, ~0u, ~0u, ~0u}, {~0u, ~0u, ~0u, ~0u}};

// Stores the live lanes (mask) of a quad. A partly live quad is merged with
// what the surface holds now and stored whole: its pixels are its own
// tile's, so no other thread writes them.
HELM_KERNEL_INLINE void StoreQuad(uint8_t* at, size_t pitch, __m128i v, int mask)
{
    if (!mask) return;
    if (mask != 15) {
        const __m128i m = _mm_load_si128(reinterpret_cast<const __m128i*>(kQuadLanes[mask]));
        v = _mm_or_si128(_mm_and_si128(m, v), _mm_andnot_si128(m, LoadQuad(at, pitch)));
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at), v);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at + pitch), _mm_unpackhi_epi64(v, v));
}

struct V4 {
    using F = __m128;
    using I = __m128i;
    static constexpr int kQuads = 1;
    // One texture level per quad as the vectors read it: quad i's tiled pairs
    // at base[i], and per lane the last column and row (the wrap masks of
    // power-of-two sides), the pairs per row of blocks and the scale from
    // level 0's coordinates.
    struct Level {
        const uint32_t* base[2];
        I mx, my, stride;
        F scaleU, scaleV;
    };
    HELM_KERNEL_INLINE static F SetF(float v) { return _mm_set1_ps(v); }
    HELM_KERNEL_INLINE static I SetI(int v) { return _mm_set1_epi32(v); }
    HELM_KERNEL_INLINE static I SetI16(int v) { return _mm_set1_epi16(int16_t(v)); }
    HELM_KERNEL_INLINE static I Zero() { return _mm_setzero_si128(); }
    HELM_KERNEL_INLINE static F SetF4(float a, float b, float c, float d) { return _mm_setr_ps(a, b, c, d); }
    // Each quad's value in its four lanes.
    HELM_KERNEL_INLINE static F PerQuad(const float* v) { return _mm_set1_ps(v[0]); }
    HELM_KERNEL_INLINE static I PerQuadI(const int* v) { return _mm_set1_epi32(v[0]); }
    HELM_KERNEL_INLINE static I PerQuadI16(const int* v) { return _mm_set1_epi16(int16_t(v[0])); }
    HELM_KERNEL_INLINE static I Load(const uint8_t* base, const uint32_t* at, size_t pitch)
    {
        return LoadQuad(base + at[0], pitch);
    }
    HELM_KERNEL_INLINE static void Store(uint8_t* base, const uint32_t* at, size_t pitch, I v, int live)
    {
        StoreQuad(base + at[0], pitch, v, live);
    }
    // Lane k's two 8-byte texel pairs (top and bottom rows).
    HELM_KERNEL_INLINE static I Pairs(const uint32_t* const* base, const uint32_t* top, const uint32_t* bottom, int k)
    {
        return Load2x64(base[0] + 2 * size_t(top[k]), base[0] + 2 * size_t(bottom[k]));
    }
    // Lane 0 of quad i.
    HELM_KERNEL_INLINE static int QuadLane0(I v, int) { return _mm_cvtsi128_si32(v); }
    HELM_KERNEL_INLINE static I LoadI(const uint32_t* p) { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); }
    HELM_KERNEL_INLINE static F LoadF(const float* p) { return _mm_load_ps(p); }
    HELM_KERNEL_INLINE static void StoreF(float* out, F v) { _mm_store_ps(out, v); }
    HELM_KERNEL_INLINE static void StoreI(void* out, I v) { _mm_store_si128(reinterpret_cast<__m128i*>(out), v); }
    // The bilinear samples of the lanes (see BilinearSetup) in 32-bit sums,
    // one 16-bit multiply-add per row of each lane (see below).
    HELM_KERNEL_INLINE static I Fetch(const uint32_t* const* base, const uint32_t* top, const uint32_t* bottom,
                                      const uint32_t* wTop, const uint32_t* wBottom);
    HELM_KERNEL_INLINE static Level MakeLevel(const RasteriserLevel* const* l)
    {
        return {{l[0]->tiled, nullptr},           _mm_set1_epi32(l[0]->width - 1),
                _mm_set1_epi32(l[0]->height - 1), _mm_set1_epi32(16 * l[0]->blocksPerRow),
                _mm_set1_ps(l[0]->scaleU),        _mm_set1_ps(l[0]->scaleV)};
    }
};

#ifdef __AVX2__

// ---- operations on 8 lanes --------------------------------------------------

HELM_KERNEL_INLINE __m256 Add(__m256 a, __m256 b) { return _mm256_add_ps(a, b); }
HELM_KERNEL_INLINE __m256 Sub(__m256 a, __m256 b) { return _mm256_sub_ps(a, b); }
HELM_KERNEL_INLINE __m256 Mul(__m256 a, __m256 b) { return _mm256_mul_ps(a, b); }
HELM_KERNEL_INLINE __m256 Div(__m256 a, __m256 b) { return _mm256_div_ps(a, b); }
HELM_KERNEL_INLINE __m256 Min(__m256 a, __m256 b) { return _mm256_min_ps(a, b); }
HELM_KERNEL_INLINE __m256 Max(__m256 a, __m256 b) { return _mm256_max_ps(a, b); }
HELM_KERNEL_INLINE __m256i Round(__m256 a) { return _mm256_cvtps_epi32(a); }
HELM_KERNEL_INLINE __m256i Trunc(__m256 a) { return _mm256_cvttps_epi32(a); }
HELM_KERNEL_INLINE __m256i Add32(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
HELM_KERNEL_INLINE __m256i Sub32(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }
HELM_KERNEL_INLINE __m256i Add16(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
HELM_KERNEL_INLINE __m256i Sub16(__m256i a, __m256i b) { return _mm256_sub_epi16(a, b); }
HELM_KERNEL_INLINE __m256i Mul16(__m256i a, __m256i b) { return _mm256_mullo_epi16(a, b); }
HELM_KERNEL_INLINE __m256i And(__m256i a, __m256i b) { return _mm256_and_si256(a, b); }
HELM_KERNEL_INLINE __m256i AndNot(__m256i a, __m256i b) { return _mm256_andnot_si256(a, b); }
HELM_KERNEL_INLINE __m256i Or(__m256i a, __m256i b) { return _mm256_or_si256(a, b); }
HELM_KERNEL_INLINE __m256i Xor(__m256i a, __m256i b) { return _mm256_xor_si256(a, b); }
HELM_KERNEL_INLINE __m256i Eq32(__m256i a, __m256i b) { return _mm256_cmpeq_epi32(a, b); }
HELM_KERNEL_INLINE __m256i Gt32(__m256i a, __m256i b) { return _mm256_cmpgt_epi32(a, b); }
template <int N>
HELM_KERNEL_INLINE __m256i Shl32(__m256i a)
{
    return _mm256_slli_epi32(a, N);
}
template <int N>
HELM_KERNEL_INLINE __m256i Shr32(__m256i a)
{
    return _mm256_srli_epi32(a, N);
}
template <int N>
HELM_KERNEL_INLINE __m256i Sar32(__m256i a)
{
    return _mm256_srai_epi32(a, N);
}
template <int N>
HELM_KERNEL_INLINE __m256i Shr16(__m256i a)
{
    return _mm256_srli_epi16(a, N);
}
template <int N>
HELM_KERNEL_INLINE __m256i Lo16(__m256i a)
{
    return _mm256_shufflelo_epi16(a, N);
}
template <int N>
HELM_KERNEL_INLINE __m256i Hi16(__m256i a)
{
    return _mm256_shufflehi_epi16(a, N);
}
HELM_KERNEL_INLINE __m256i UnpackLo8(__m256i a, __m256i b) { return _mm256_unpacklo_epi8(a, b); }
HELM_KERNEL_INLINE __m256i UnpackHi8(__m256i a, __m256i b) { return _mm256_unpackhi_epi8(a, b); }
HELM_KERNEL_INLINE __m256i UnpackLo32(__m256i a, __m256i b) { return _mm256_unpacklo_epi32(a, b); }
HELM_KERNEL_INLINE __m256i UnpackHi32(__m256i a, __m256i b) { return _mm256_unpackhi_epi32(a, b); }
HELM_KERNEL_INLINE __m256i UnpackLo64(__m256i a, __m256i b) { return _mm256_unpacklo_epi64(a, b); }
HELM_KERNEL_INLINE __m256i UnpackHi64(__m256i a, __m256i b) { return _mm256_unpackhi_epi64(a, b); }
HELM_KERNEL_INLINE __m256i PackUs16(__m256i a, __m256i b) { return _mm256_packus_epi16(a, b); }
HELM_KERNEL_INLINE int SignBits(__m256i a) { return _mm256_movemask_ps(_mm256_castsi256_ps(a)); }
HELM_KERNEL_INLINE __m256i Clamp32(__m256i v, __m256i hi)
{
    return _mm256_max_epi32(_mm256_min_epi32(v, hi), _mm256_setzero_si256());
}
HELM_KERNEL_INLINE __m256i Min32(__m256i a, __m256i b) { return _mm256_min_epi32(a, b); }
HELM_KERNEL_INLINE __m256 ToFloat(__m256i a) { return _mm256_cvtepi32_ps(a); }
HELM_KERNEL_INLINE __m256i MulAdd16(__m256i a, __m256i b) { return _mm256_madd_epi16(a, b); }
HELM_KERNEL_INLINE __m256i AddSat8(__m256i a, __m256i b) { return _mm256_adds_epu8(a, b); }
HELM_KERNEL_INLINE __m256i Bits(__m256 a) { return _mm256_castps_si256(a); }
HELM_KERNEL_INLINE __m256 FromBits(__m256i a) { return _mm256_castsi256_ps(a); }
HELM_KERNEL_INLINE __m256i GreaterF(__m256 a, __m256 b) { return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_GT_OQ)); }
template <int N>
HELM_KERNEL_INLINE __m256 ShuffleF(__m256 a)
{
    return _mm256_shuffle_ps(a, a, N);
}

struct V8 {
    using F = __m256;
    using I = __m256i;
    static constexpr int kQuads = 2;
    // One texture level per quad as the vectors read it: quad i's tiled pairs
    // at base[i], and per lane the last column and row (the wrap masks of
    // power-of-two sides), the pairs per row of blocks and the scale from
    // level 0's coordinates.
    struct Level {
        const uint32_t* base[2];
        I mx, my, stride;
        F scaleU, scaleV;
    };
    HELM_KERNEL_INLINE static F SetF(float v) { return _mm256_set1_ps(v); }
    HELM_KERNEL_INLINE static I SetI(int v) { return _mm256_set1_epi32(v); }
    HELM_KERNEL_INLINE static I SetI16(int v) { return _mm256_set1_epi16(int16_t(v)); }
    HELM_KERNEL_INLINE static I Zero() { return _mm256_setzero_si256(); }
    HELM_KERNEL_INLINE static F SetF4(float a, float b, float c, float d)
    {
        return _mm256_setr_ps(a, b, c, d, a, b, c, d);
    }
    HELM_KERNEL_INLINE static F PerQuad(const float* v)
    {
        return _mm256_setr_m128(_mm_set1_ps(v[0]), _mm_set1_ps(v[1]));
    }
    HELM_KERNEL_INLINE static I PerQuadI(const int* v)
    {
        return _mm256_setr_m128i(_mm_set1_epi32(v[0]), _mm_set1_epi32(v[1]));
    }
    HELM_KERNEL_INLINE static I PerQuadI16(const int* v)
    {
        return _mm256_setr_m128i(_mm_set1_epi16(int16_t(v[0])), _mm_set1_epi16(int16_t(v[1])));
    }
    HELM_KERNEL_INLINE static I Load(const uint8_t* base, const uint32_t* at, size_t pitch)
    {
        return _mm256_setr_m128i(LoadQuad(base + at[0], pitch), LoadQuad(base + at[1], pitch));
    }
    HELM_KERNEL_INLINE static void Store(uint8_t* base, const uint32_t* at, size_t pitch, I v, int live)
    {
        StoreQuad(base + at[0], pitch, _mm256_castsi256_si128(v), live & 15);
        StoreQuad(base + at[1], pitch, _mm256_extracti128_si256(v, 1), live >> 4);
    }
    // Lane k of both quads: quad 0's pairs in the low half, quad 1's in the high.
    HELM_KERNEL_INLINE static I Pairs(const uint32_t* const* base, const uint32_t* top, const uint32_t* bottom, int k)
    {
        return _mm256_setr_m128i(Load2x64(base[0] + 2 * size_t(top[k]), base[0] + 2 * size_t(bottom[k])),
                                 Load2x64(base[1] + 2 * size_t(top[4 + k]), base[1] + 2 * size_t(bottom[4 + k])));
    }
    HELM_KERNEL_INLINE static I LoadI(const uint32_t* p)
    {
        return _mm256_load_si256(reinterpret_cast<const __m256i*>(p));
    }
    HELM_KERNEL_INLINE static F LoadF(const float* p) { return _mm256_load_ps(p); }
    HELM_KERNEL_INLINE static int QuadLane0(I v, int i)
    {
        return _mm_cvtsi128_si32(i ? _mm256_extracti128_si256(v, 1) : _mm256_castsi256_si128(v));
    }
    HELM_KERNEL_INLINE static void StoreF(float* out, F v) { _mm256_store_ps(out, v); }
    HELM_KERNEL_INLINE static void StoreI(void* out, I v) { _mm256_store_si256(reinterpret_cast<__m256i*>(out), v); }
    // The bilinear samples of the lanes (see BilinearSetup) in 32-bit sums:
    // a byte shuffle puts each pair's two texels channel by channel into
    // 16-bit lanes (c00.b, c10.b, c00.g, ...), and one multiply-add per pair
    // weighs both texels at once.
    HELM_KERNEL_INLINE static I Fetch(const uint32_t* const* base, const uint32_t* top, const uint32_t* bottom,
                                      const uint32_t* wTop, const uint32_t* wBottom)
    {
        const I upper = _mm256_setr_epi8(0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1,  //
                                         0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1);
        const I lower = _mm256_setr_epi8(8, -1, 12, -1, 9, -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1,  //
                                         8, -1, 12, -1, 9, -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1);
        const I wt = LoadI(wTop), wb = LoadI(wBottom);
        auto lane = [&](int k, I wtk, I wbk) __attribute__((always_inline))
        {
            const I pairs = Pairs(base, top, bottom, k);
            return _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(pairs, upper), wtk),
                                    _mm256_madd_epi16(_mm256_shuffle_epi8(pairs, lower), wbk));
        };
        const I r0 = lane(0, _mm256_shuffle_epi32(wt, 0x00), _mm256_shuffle_epi32(wb, 0x00));
        const I r1 = lane(1, _mm256_shuffle_epi32(wt, 0x55), _mm256_shuffle_epi32(wb, 0x55));
        const I r2 = lane(2, _mm256_shuffle_epi32(wt, 0xAA), _mm256_shuffle_epi32(wb, 0xAA));
        const I r3 = lane(3, _mm256_shuffle_epi32(wt, 0xFF), _mm256_shuffle_epi32(wb, 0xFF));
        return _mm256_packus_epi16(_mm256_srli_epi16(_mm256_packus_epi32(r0, r1), 8),
                                   _mm256_srli_epi16(_mm256_packus_epi32(r2, r3), 8));
    }
    HELM_KERNEL_INLINE static Level MakeLevel(const RasteriserLevel* const* l)
    {
        if (l[0] == l[1])  // the common case: both quads on one level
            return {{l[0]->tiled, l[0]->tiled},          _mm256_set1_epi32(l[0]->width - 1),
                    _mm256_set1_epi32(l[0]->height - 1), _mm256_set1_epi32(16 * l[0]->blocksPerRow),
                    _mm256_set1_ps(l[0]->scaleU),        _mm256_set1_ps(l[0]->scaleV)};
        return {{l[0]->tiled, l[1]->tiled},
                _mm256_setr_m128i(_mm_set1_epi32(l[0]->width - 1), _mm_set1_epi32(l[1]->width - 1)),
                _mm256_setr_m128i(_mm_set1_epi32(l[0]->height - 1), _mm_set1_epi32(l[1]->height - 1)),
                _mm256_setr_m128i(_mm_set1_epi32(16 * l[0]->blocksPerRow), _mm_set1_epi32(16 * l[1]->blocksPerRow)),
                _mm256_setr_m128(_mm_set1_ps(l[0]->scaleU), _mm_set1_ps(l[1]->scaleU)),
                _mm256_setr_m128(_mm_set1_ps(l[0]->scaleV), _mm_set1_ps(l[1]->scaleV))};
    }
};

#endif  // __AVX2__

// ---- the stages, per vector: the general stages' arithmetic -------------------

// Four per-pixel 32-bit weights as 16-bit lanes for two pixels: pixel 0 (or
// 2 when High) of each 128-bit half in its low four lanes, the next in the
// high four.
template <bool High, class I>
HELM_KERNEL_INLINE I SpreadWeights(I w)
{
    const I x = High ? UnpackHi32(w, w) : UnpackLo32(w, w);
    return Hi16<0xA0>(Lo16<0xA0>(x));
}

// Two lanes at a time: their pairs regrouped into the left texels (c00, c01
// of lane k, then of lane k + 1) and the right ones (c10, c11), whose bytes
// interleaved give each row channel by channel (c00.b, c10.b, c00.g, ...), so
// that one 16-bit multiply-add per row weighs both of its texels at once, as
// in V8::Fetch.
HELM_KERNEL_INLINE __m128i V4::Fetch(const uint32_t* const* base, const uint32_t* top, const uint32_t* bottom,
                                     const uint32_t* wTop, const uint32_t* wBottom)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i wt = _mm_load_si128(reinterpret_cast<const __m128i*>(wTop));
    const __m128i wb = _mm_load_si128(reinterpret_cast<const __m128i*>(wBottom));
    // Lane k's rows (texels interleaved by channel, 8 bytes each) weighed:
    // its sums per channel in 32-bit lanes, shifted to 0..255.
    auto weigh = [&](__m128i rows, __m128i wtk, __m128i wbk) __attribute__((always_inline))
    {
        const __m128i sum = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(rows, zero), wtk),
                                          _mm_madd_epi16(_mm_unpackhi_epi8(rows, zero), wbk));
        return _mm_srli_epi32(sum, 8);
    };
    auto two = [&](int k, __m128i& first, __m128i& second) __attribute__((always_inline))
    {
        const __m128 a = _mm_castsi128_ps(Pairs(base, top, bottom, k));
        const __m128 b = _mm_castsi128_ps(Pairs(base, top, bottom, k + 1));
        const __m128i left = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        const __m128i right = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        first = _mm_unpacklo_epi8(left, right), second = _mm_unpackhi_epi8(left, right);
    };
    __m128i l0, l1, l2, l3;
    two(0, l0, l1);
    two(2, l2, l3);
    const __m128i r0 = weigh(l0, _mm_shuffle_epi32(wt, 0x00), _mm_shuffle_epi32(wb, 0x00));
    const __m128i r1 = weigh(l1, _mm_shuffle_epi32(wt, 0x55), _mm_shuffle_epi32(wb, 0x55));
    const __m128i r2 = weigh(l2, _mm_shuffle_epi32(wt, 0xAA), _mm_shuffle_epi32(wb, 0xAA));
    const __m128i r3 = weigh(l3, _mm_shuffle_epi32(wt, 0xFF), _mm_shuffle_epi32(wb, 0xFF));
    return _mm_packus_epi16(_mm_packs_epi32(r0, r1), _mm_packs_epi32(r2, r3));
}

// round(a x b / 255) per channel.
template <class V>
HELM_KERNEL_INLINE typename V::I Modulate(typename V::I a, typename V::I b)
{
    using I = typename V::I;
    const I zero = V::Zero(), half = V::SetI16(128);
    I lo = Add16(Mul16(UnpackLo8(a, zero), UnpackLo8(b, zero)), half);
    I hi = Add16(Mul16(UnpackHi8(a, zero), UnpackHi8(b, zero)), half);
    lo = Shr16<8>(Add16(lo, Shr16<8>(lo)));
    hi = Shr16<8>(Add16(hi, Shr16<8>(hi)));
    return PackUs16(lo, hi);
}

// dst + (src - dst) x alpha, alpha = src alpha scaled to 0..256.
template <class V>
HELM_KERNEL_INLINE typename V::I BlendAlpha(typename V::I src, typename V::I dst)
{
    using I = typename V::I;
    const I zero = V::Zero(), full = V::SetI16(256);
    auto two = [&](I s, I d) {
        const I a = Hi16<0xFF>(Lo16<0xFF>(s));
        const I w = Add16(a, Shr16<7>(a));
        return Shr16<8>(Add16(Mul16(s, w), Mul16(d, Sub16(full, w))));
    };
    return PackUs16(two(UnpackLo8(src, zero), UnpackLo8(dst, zero)), two(UnpackHi8(src, zero), UnpackHi8(dst, zero)));
}

// A blend factor (D3DBLEND_*) for the lanes' source and destination
// colours: BlendFactor of the general stages.
template <class V>
HELM_KERNEL_INLINE typename V::I BlendFactor(uint32_t factor, typename V::I src, typename V::I dst)
{
    using I = typename V::I;
    const I ones = V::SetI(-1);
    auto alpha = [](I c) {
        const I a = Shr32<24>(c);
        return Or(Or(a, Shl32<8>(a)), Or(Shl32<16>(a), Shl32<24>(a)));
    };
    switch (factor) {
    case D3DBLEND_ZERO: return V::Zero();
    case D3DBLEND_SRCCOLOR: return src;
    case D3DBLEND_INVSRCCOLOR: return Xor(src, ones);
    case D3DBLEND_SRCALPHA: return alpha(src);
    case D3DBLEND_INVSRCALPHA: return Xor(alpha(src), ones);
    case D3DBLEND_DESTALPHA: return alpha(dst);
    case D3DBLEND_INVDESTALPHA: return Xor(alpha(dst), ones);
    case D3DBLEND_DESTCOLOR: return dst;
    case D3DBLEND_INVDESTCOLOR: return Xor(dst, ones);
    case D3DBLEND_SRCALPHASAT: {
        const I m = Min32(Shr32<24>(src), Xor(Shr32<24>(dst), V::SetI(255)));
        return Or(Or(m, Shl32<8>(m)), Or(Shl32<16>(m), V::SetI(int(0xFF000000u))));
    }
    default: return ones;  // ONE, and what the general stages read as one
    }
}

// a + (b - a) x w / 256 per channel, w (0..256) per 128-bit half as 16-bit lanes.
template <class V>
HELM_KERNEL_INLINE typename V::I LerpHalves(typename V::I a, typename V::I b, typename V::I wb)
{
    using I = typename V::I;
    const I zero = V::Zero(), wa = Sub16(V::SetI16(256), wb);
    const I lo = Add16(Mul16(UnpackLo8(a, zero), wa), Mul16(UnpackLo8(b, zero), wb));
    const I hi = Add16(Mul16(UnpackHi8(a, zero), wa), Mul16(UnpackHi8(b, zero), wb));
    return PackUs16(Shr16<8>(lo), Shr16<8>(hi));
}

// A bilinear footprint's texels in a level: its first column, its two rows,
// and, with U clamped, where its two columns are one (edge: left of the first
// column, or at or right of the last). Wrapped axes (power-of-two sides)
// mask; clamped ones clamp each row and column to the level.
template <class V>
struct Footprint {
    typename V::I x0, y0, y1, edge;
};
template <class V>
HELM_KERNEL_INLINE Footprint<V> FootprintOf(const typename V::Level& l, typename V::I xs, typename V::I ys, bool clampU,
                                            bool clampV)
{
    using I = typename V::I;
    const I one = V::SetI(1), zero = V::Zero();
    Footprint<V> f;
    f.x0 = clampU ? Clamp32(xs, l.mx) : And(xs, l.mx);
    f.y0 = clampV ? Clamp32(ys, l.my) : And(ys, l.my);
    f.y1 = clampV ? Clamp32(Add32(ys, one), l.my) : And(Add32(f.y0, one), l.my);
    f.edge = clampU ? Or(Gt32(zero, xs), Gt32(xs, Sub32(l.mx, one))) : zero;
    return f;
}
// SSE2 has no 32-bit minimum or maximum, but a 16-bit one: the columns and
// rows are clamped together in 16-bit lanes, saturated (a level's sides are
// at most 2^15, see RasteriserKernel_Plan, so saturating changes no clamped
// value), and so are their successors, which makes the edge the columns
// where a column and its successor clamp alike.
template <>
HELM_KERNEL_INLINE Footprint<V4> FootprintOf<V4>(const V4::Level& l, __m128i xs, __m128i ys, bool clampU, bool clampV)
{
    const __m128i one = _mm_set1_epi32(1), zero = _mm_setzero_si128();
    Footprint<V4> f;
    if (!clampU || !clampV) {
        f.x0 = And(xs, l.mx), f.y0 = And(ys, l.my), f.edge = zero;
        f.y1 = And(Add32(f.y0, one), l.my);
        if (!clampU && !clampV) return f;
    }
    const __m128i hi = _mm_packs_epi32(l.mx, l.my);
    const __m128i first = _mm_packs_epi32(xs, ys);
    const __m128i a = _mm_min_epi16(_mm_max_epi16(first, zero), hi);
    const __m128i b = _mm_min_epi16(_mm_max_epi16(_mm_adds_epi16(first, _mm_set1_epi16(1)), zero), hi);
    if (clampU) {
        const __m128i same = _mm_cmpeq_epi16(a, b);
        f.x0 = _mm_unpacklo_epi16(a, zero), f.edge = _mm_unpacklo_epi16(same, same);
    }
    if (clampV) f.y0 = _mm_unpackhi_epi16(a, zero), f.y1 = _mm_unpackhi_epi16(b, zero);
    return f;
}

// Where the lanes' bilinear samples read in a level's tiled pairs
// (coordinates already scaled to the level) and how they weigh them: the
// pair indices of the top and bottom rows, and the weights packed as
// w00 | w10 << 16 and w01 | w11 << 16 (each at most 256; they sum to 256, so
// no weighted sum exceeds 255 x 256 and the 32-bit sums of V::Fetch are
// those of the general stages' 16-bit blend). Kept apart from the fetch, so
// that the loads do not wait on this arithmetic.
//
// The footprint's texels as FootprintOf finds them. A pair holds a texel and
// its right neighbour, wrapping at the right edge, so where a clamped
// footprint's two columns are one (its edge) the pair's second texel is not
// the one to read: its weights go to the first, which is that column, and
// the sums are exactly those of two equal texels.
template <class V>
HELM_KERNEL_INLINE void BilinearSetup(const typename V::Level& l, typename V::F s, typename V::F t, bool clampU,
                                      bool clampV, uint32_t* top, uint32_t* bottom, uint32_t* wTop, uint32_t* wBottom)
{
    using I = typename V::I;
    const I bias = V::SetI(128), low = V::SetI(255), three = V::SetI(3), full = V::SetI(256);
    const typename V::F scale = V::SetF(256.0f);
    const I fs = Sub32(Round(Mul(s, scale)), bias), ft = Sub32(Round(Mul(t, scale)), bias);
    const I xs = Sar32<8>(fs), ys = Sar32<8>(ft);
    const Footprint<V> f = FootprintOf<V>(l, xs, ys, clampU, clampV);
    const I x0 = f.x0, y0 = f.y0, y1 = f.y1;
    // Pair indices: a column's part ((x / 4) x 16 + x % 4) plus a row's part
    // ((y / 4) x blocks per row x 16 + (y % 4) x 4); the product in one
    // 16-bit multiply-add (both factors below 2^15, see RasteriserKernel_Plan).
    auto row = [&](I y) { return Or(MulAdd16(Shr32<2>(y), l.stride), Shl32<2>(And(y, three))); };
    const I column = Or(Shl32<4>(Shr32<2>(x0)), And(x0, three));
    V::StoreI(top, Add32(column, row(y0)));
    V::StoreI(bottom, Add32(column, row(y1)));
    const I wx = And(fs, low), wy = And(ft, low);
    const I w11 = Shr32<8>(Add32(Mul16(wx, wy), bias));  // wx x wy fits 16 bits
    I w10 = Sub32(wx, w11), w01 = Sub32(wy, w11);
    I w00 = Add32(Sub32(Sub32(full, wx), wy), w11), w11e = w11;
    if (clampU) {
        const I edge = f.edge;
        w00 = Add32(w00, And(edge, w10)), w10 = AndNot(edge, w10);
        w01 = Add32(w01, And(edge, w11e)), w11e = AndNot(edge, w11e);
    }
    V::StoreI(wTop, Or(w00, Shl32<16>(w10)));
    V::StoreI(wBottom, Or(w01, Shl32<16>(w11e)));
}

// BilinearSetup of a quad in two levels a and b (a trilinear sample), both
// axes wrapped, for SSE2: past the wrap every part fits 16 bits (a level's
// sides are at most 2^15, see RasteriserKernel_Plan), so the levels'
// columns, rows and weights are worked out together in 16-bit lanes (a's in
// the low four, b's in the high four), and a pair index is one multiply-add
// of (y / 4, the column's part + (y % 4) x 4) by (blocks per row x 16, 1):
// the same sums as BilinearSetup's.
HELM_KERNEL_INLINE void BilinearSetupWrapped2(const V4::Level& a, const V4::Level& b, __m128 s, __m128 t,
                                              uint32_t* const (&top)[2], uint32_t* const (&bottom)[2],
                                              uint32_t* const (&wTop)[2], uint32_t* const (&wBottom)[2])
{
    const __m128i bias = _mm_set1_epi32(128), low = _mm_set1_epi32(255);
    const __m128i one = _mm_set1_epi16(1), three = _mm_set1_epi16(3);
    const __m128 scale = _mm_set1_ps(256.0f);
    auto fixed = [&](__m128 v) __attribute__((always_inline))
    {
        return _mm_sub_epi32(_mm_cvtps_epi32(_mm_mul_ps(v, scale)), bias);
    };
    const __m128i fsa = fixed(_mm_mul_ps(s, a.scaleU)), fta = fixed(_mm_mul_ps(t, a.scaleV));
    const __m128i fsb = fixed(_mm_mul_ps(s, b.scaleU)), ftb = fixed(_mm_mul_ps(t, b.scaleV));
    auto texel = [](__m128i fa, __m128i ma, __m128i fb, __m128i mb) __attribute__((always_inline))
    {
        return _mm_packs_epi32(_mm_and_si128(_mm_srai_epi32(fa, 8), ma), _mm_and_si128(_mm_srai_epi32(fb, 8), mb));
    };
    const __m128i x0 = texel(fsa, a.mx, fsb, b.mx), y0 = texel(fta, a.my, ftb, b.my);
    const __m128i y1 = _mm_and_si128(_mm_add_epi16(y0, one), _mm_packs_epi32(a.my, b.my));
    const __m128i column = _mm_or_si128(_mm_slli_epi16(_mm_srli_epi16(x0, 2), 4), _mm_and_si128(x0, three));
    const __m128i strides = _mm_packs_epi32(a.stride, b.stride);
    const __m128i ka = _mm_unpacklo_epi16(strides, one), kb = _mm_unpackhi_epi16(strides, one);
    auto rows = [&](__m128i y, uint32_t* const(&out)[2]) __attribute__((always_inline))
    {
        const __m128i hi = _mm_srli_epi16(y, 2);
        const __m128i lo = _mm_or_si128(column, _mm_slli_epi16(_mm_and_si128(y, three), 2));
        _mm_store_si128(reinterpret_cast<__m128i*>(out[0]), _mm_madd_epi16(_mm_unpacklo_epi16(hi, lo), ka));
        _mm_store_si128(reinterpret_cast<__m128i*>(out[1]), _mm_madd_epi16(_mm_unpackhi_epi16(hi, lo), kb));
    };
    rows(y0, top);
    rows(y1, bottom);
    const __m128i wx = _mm_packs_epi32(_mm_and_si128(fsa, low), _mm_and_si128(fsb, low));
    const __m128i wy = _mm_packs_epi32(_mm_and_si128(fta, low), _mm_and_si128(ftb, low));
    // wx x wy + 128 stays below 2^16, and the shift is a logical one.
    const __m128i w11 = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(wx, wy), _mm_set1_epi16(128)), 8);
    const __m128i w10 = _mm_sub_epi16(wx, w11), w01 = _mm_sub_epi16(wy, w11);
    const __m128i w00 = _mm_add_epi16(_mm_sub_epi16(_mm_sub_epi16(_mm_set1_epi16(256), wx), wy), w11);
    _mm_store_si128(reinterpret_cast<__m128i*>(wTop[0]), _mm_unpacklo_epi16(w00, w10));
    _mm_store_si128(reinterpret_cast<__m128i*>(wTop[1]), _mm_unpackhi_epi16(w00, w10));
    _mm_store_si128(reinterpret_cast<__m128i*>(wBottom[0]), _mm_unpacklo_epi16(w01, w11));
    _mm_store_si128(reinterpret_cast<__m128i*>(wBottom[1]), _mm_unpackhi_epi16(w01, w11));
}

// The level of detail of each quad, in its lane 0, as level x 256 plus an
// 8-bit fraction towards the next level (0 when not minified): log2 of the
// larger screen step of its texel coordinates, across (lanes 0 to 1) or down
// (lanes 0 to 2), with an exponent-plus-linear-mantissa log2; the general
// stages' QuadLod and level choice, all quads at once.
template <class V>
HELM_KERNEL_INLINE typename V::I QuadLevels(typename V::F s, typename V::F t, bool mipPoint)
{
    using F = typename V::F;
    using I = typename V::I;
    const F ds = Sub(s, ShuffleF<0x00>(s)), dt = Sub(t, ShuffleF<0x00>(t));
    const F r2 = Add(Mul(ds, ds), Mul(dt, dt));               // lane 1: across, lane 2: down
    const F r = Max(ShuffleF<0x55>(r2), ShuffleF<0xAA>(r2));  // the larger (down when not ordered)
    const I b = Bits(r);
    const F e = ToFloat(Sub32(And(Shr32<23>(b), V::SetI(255)), V::SetI(127)));
    const F mantissa = FromBits(Or(And(b, V::SetI(0x007FFFFF)), V::SetI(0x3F800000)));
    const F d = Mul(V::SetF(0.5f), Add(e, Sub(mantissa, V::SetF(1.0f))));
    const F zero = V::SetF(0.0f);
    const I minified = And(GreaterF(r, zero), GreaterF(d, zero));
    const I code = mipPoint ? Shl32<8>(Trunc(Add(d, V::SetF(0.5f)))) : Trunc(Mul(d, V::SetF(256.0f)));
    return And(code, minified);
}

// A plane's coefficients as vectors, and its value at the start of the
// current row of quads (v0 + dy y, see StartRow).
template <class V>
struct PlaneV {
    typename V::F v0, dx, dy, row;
};
template <class V>
HELM_KERNEL_INLINE PlaneV<V> MakePlane(const RasteriserPlane& p)
{
    return {V::SetF(p.v0), V::SetF(p.dx), V::SetF(p.dy), V::SetF(0.0f)};
}
template <class V>
HELM_KERNEL_INLINE void StartRow(PlaneV<V>& p, typename V::F fy)
{
    p.row = Add(p.v0, Mul(p.dy, fy));
}
// (v0 + dy y) + dx x, the row's part from StartRow.
template <class V>
HELM_KERNEL_INLINE typename V::F At(const PlaneV<V>& p, typename V::F fx)
{
    return Add(p.row, Mul(p.dx, fx));
}

// Lane compares as three masks: the function passes where a < b, a == b or
// a > b (signed 32-bit) for the masks set.
template <class V>
struct CompareV {
    typename V::I less, equal, greater;
};
template <class V>
HELM_KERNEL_INLINE CompareV<V> MakeCompare(uint32_t func)
{
    const bool l = func == D3DCMP_LESS || func == D3DCMP_LESSEQUAL || func == D3DCMP_NOTEQUAL;
    const bool e = func == D3DCMP_EQUAL || func == D3DCMP_LESSEQUAL || func == D3DCMP_GREATEREQUAL;
    const bool g = func == D3DCMP_GREATER || func == D3DCMP_NOTEQUAL || func == D3DCMP_GREATEREQUAL;
    const bool always = func < D3DCMP_NEVER || func > D3DCMP_ALWAYS || func == D3DCMP_ALWAYS;
    return {V::SetI(l || always ? -1 : 0), V::SetI(e || always ? -1 : 0), V::SetI(g || always ? -1 : 0)};
}
template <class V>
HELM_KERNEL_INLINE typename V::I Passes(const CompareV<V>& c, typename V::I a, typename V::I b)
{
    return Or(Or(And(c.less, Gt32(b, a)), And(c.equal, Eq32(a, b))), And(c.greater, Gt32(a, b)));
}

// ---- the kernel -----------------------------------------------------------------

// Stage 1's operation on its arguments (RASTERISER_KERNEL_OP_*): the general
// stages' Combine on all four channels.
template <class V>
HELM_KERNEL_INLINE typename V::I StageOp(const RasteriserKernelOp& o, typename V::I tex, typename V::I current,
                                         typename V::I diffuse)
{
    using I = typename V::I;
    auto arg = [&](uint8_t a) {
        return a == RASTERISER_KERNEL_ARG_TEXTURE ? tex : a == RASTERISER_KERNEL_ARG_CURRENT ? current : diffuse;
    };
    const I a1 = arg(o.arg1), a2 = arg(o.arg2);
    switch (o.op) {
    case RASTERISER_KERNEL_OP_SELECT2: return a2;
    case RASTERISER_KERNEL_OP_MODULATE: return Modulate<V>(a1, a2);
    case RASTERISER_KERNEL_OP_MODULATE2X: {
        const I m = Modulate<V>(a1, a2);
        return AddSat8(m, m);
    }
    case RASTERISER_KERNEL_OP_ADD: return AddSat8(a1, a2);
    case RASTERISER_KERNEL_OP_BLEND_TEXTURE_ALPHA: return BlendAlpha<V>(a1, a2);
    default: return a1;
    }
}

// Pass 2 for one stage: the texture samples of the steps with a live lane
// (live[n] per step from `begin`), from the lanes' texel coordinates into
// out.
template <class V, int Sample>
HELM_KERNEL_INLINE void SampleStage(const RasteriserStage& st, const RasteriserKernelSampler& k, const int32_t* live,
                                    const float* sLanes, const float* tLanes, int begin, int end, uint32_t* out)
{
    using I = typename V::I;
    constexpr int kStep = 4 * V::kQuads;  // lanes per step
    const int last = st.levelCount - 1;
    const bool mipPoint = st.mipFilter == D3DTEXF_POINT;
    const RasteriserLevel* const firstLevel[2] = {&st.levels[0], &st.levels[0]};
    const typename V::Level level0 = V::MakeLevel(firstLevel);
    const I texOr = V::SetI(int(k.texOr));
    // A level (and a fraction towards the next) per quad, found first.
    alignas(32) int32_t levelCode[RASTERISER_QUADS_MAX];
    if (Sample == RASTERISER_KERNEL_SAMPLE_MIPPED)
        for (int q = begin, n = 0, j = 0; q < end; q += V::kQuads, ++n, j += kStep) {
            if (!live[n]) continue;
            const I levels = QuadLevels<V>(V::LoadF(sLanes + j), V::LoadF(tLanes + j), mipPoint);
            for (int i = 0; i < V::kQuads; ++i) levelCode[q - begin + i] = V::QuadLane0(levels, i);
        }
    // Where each sample reads and its weights (a second set for the
    // steps with a quad between two levels), then the fetches.
    constexpr int kSets = Sample == RASTERISER_KERNEL_SAMPLE_MIPPED ? 2 : 1;
    alignas(32) uint32_t top[kSets][RASTERISER_LANES_MAX], bottom[kSets][RASTERISER_LANES_MAX];
    alignas(32) uint32_t wTop[kSets][RASTERISER_LANES_MAX], wBottom[kSets][RASTERISER_LANES_MAX];
    const uint32_t* base[kSets][RASTERISER_QUADS_MAX / V::kQuads][2];
    int frac[RASTERISER_QUADS_MAX / V::kQuads][2];
    // The clamping of each axis is settled outside the loop, and the levels
    // last set up are kept for the next steps (mostly on the same levels).
    auto setups = [&](auto clampU, auto clampV) __attribute__((always_inline))
    {
        const RasteriserLevel* keyA[2] = {nullptr, nullptr};
        const RasteriserLevel* keyB[2] = {nullptr, nullptr};
        typename V::Level a = level0, b = level0;
        for (int q = begin, n = 0, j = 0; q < end; q += V::kQuads, ++n, j += kStep) {
            if (!live[n]) continue;
            const typename V::F s = V::LoadF(sLanes + j), t = V::LoadF(tLanes + j);
            if (Sample == RASTERISER_KERNEL_SAMPLE_BILINEAR) {
                BilinearSetup<V>(level0, s, t, clampU, clampV, top[0] + j, bottom[0] + j, wTop[0] + j, wBottom[0] + j);
                continue;
            }
            frac[n][0] = frac[n][1] = 0;
            if ((levelCode[q - begin] | levelCode[q - begin + V::kQuads - 1]) == 0) {
                // Not minified (magnified textures, the common case): level 0.
                base[0][n][0] = base[0][n][1] = level0.base[0];
                BilinearSetup<V>(level0, s, t, clampU, clampV, top[0] + j, bottom[0] + j, wTop[0] + j, wBottom[0] + j);
                continue;
            }
            const RasteriserLevel* l[2];
            const RasteriserLevel* l2[2];
            for (int i = 0; i < V::kQuads; ++i) {
                const int code = levelCode[q - begin + i];
                int level = code >> 8;
                frac[n][i] = code & 255;
                if (level >= last) level = last, frac[n][i] = 0;
                l[i] = &st.levels[level];
                l2[i] = &st.levels[frac[n][i] ? level + 1 : level];
            }
            if (V::kQuads == 1) l[1] = l[0], l2[1] = l2[0];
            if (l[0] != keyA[0] || l[1] != keyA[1]) a = V::MakeLevel(l), keyA[0] = l[0], keyA[1] = l[1];
            base[0][n][0] = a.base[0], base[0][n][1] = a.base[1];
            const bool between = frac[n][0] | frac[n][1];
            if (between) {
                if (l2[0] != keyB[0] || l2[1] != keyB[1]) b = V::MakeLevel(l2), keyB[0] = l2[0], keyB[1] = l2[1];
                base[kSets - 1][n][0] = b.base[0], base[kSets - 1][n][1] = b.base[1];
                // Two steps: the first is settled with the kernel's width, so
                // a wide kernel never sees the narrow one's call.
                if constexpr (V::kQuads == 1) {
                    if constexpr (!decltype(clampU)::value && !decltype(clampV)::value) {
                        uint32_t* const tops[2] = {top[0] + j, top[kSets - 1] + j};
                        uint32_t* const bottoms[2] = {bottom[0] + j, bottom[kSets - 1] + j};
                        uint32_t* const wTops[2] = {wTop[0] + j, wTop[kSets - 1] + j};
                        uint32_t* const wBottoms[2] = {wBottom[0] + j, wBottom[kSets - 1] + j};
                        BilinearSetupWrapped2(a, b, s, t, tops, bottoms, wTops, wBottoms);
                        continue;
                    }
                }
            }
            BilinearSetup<V>(a, Mul(s, a.scaleU), Mul(t, a.scaleV), clampU, clampV, top[0] + j, bottom[0] + j,
                             wTop[0] + j, wBottom[0] + j);
            if (between)
                BilinearSetup<V>(b, Mul(s, b.scaleU), Mul(t, b.scaleV), clampU, clampV, top[kSets - 1] + j,
                                 bottom[kSets - 1] + j, wTop[kSets - 1] + j, wBottom[kSets - 1] + j);
        }
    };
    using Yes = std::true_type;
    using No = std::false_type;
    if (k.clampU && k.clampV) setups(Yes(), Yes());
    else if (k.clampU) setups(Yes(), No());
    else if (k.clampV) setups(No(), Yes());
    else setups(No(), No());
    for (int q = begin, n = 0, j = 0; q < end; q += V::kQuads, ++n, j += kStep) {
        if (!live[n]) continue;
        I c;
        if (Sample == RASTERISER_KERNEL_SAMPLE_BILINEAR) {
            c = V::Fetch(level0.base, top[0] + j, bottom[0] + j, wTop[0] + j, wBottom[0] + j);
        } else {
            c = V::Fetch(base[0][n], top[0] + j, bottom[0] + j, wTop[0] + j, wBottom[0] + j);
            if (frac[n][0] | frac[n][1])
                c = LerpHalves<V>(c,
                                  V::Fetch(base[kSets - 1][n], top[kSets - 1] + j, bottom[kSets - 1] + j,
                                           wTop[kSets - 1] + j, wBottom[kSets - 1] + j),
                                  V::PerQuadI16(frac[n]));
        }
        V::StoreI(out + j, Or(c, texOr));
    }
}

// The quads [begin, end) of a call, in three passes over the steps (a quad,
// or two with V8), each a short loop whose steps are independent, so that
// the processor overlaps the long chains of consecutive steps (a divide, the
// texel loads, the target's load and store); one fused pass would fill its
// reorder window with a single step. The passes hand their results on
// through arrays of the call's lanes, which stay in the first-level cache.
//   1. depth and its test, then for the steps with a live lane: w, the
//      diffuse colour, each stage's texture coordinates and the fog weight;
//   2. the texture samples, stage by stage;
//   3. the stages' colour, fog, the alpha test, the blend and the writes.
// Sample1 is stage 1's sampling, RASTERISER_KERNEL_SAMPLE_NONE for draws of
// one stage.
template <class V, bool Depth, int Blend, int Sample, int Sample1>
void ShadeRun(const RasteriserPlan& P, const RasteriserSetup& S, RasteriserQuads* Q, int begin, int end)
{
    using F = typename V::F;
    using I = typename V::I;
    constexpr int kStep = 4 * V::kQuads;  // lanes per step
    const RasteriserKernelPlan& K = P.kernelPlan;
    // Per-call choices in locals: the stores below may alias the records
    // for all the compiler knows.
    const bool depthTest = P.depthTest, depthWrite = P.depthWrite, perspective = S.perspective, flat = S.flat,
               fog = P.fog, alphaTest = P.alphaTest;
    constexpr bool sampled = Sample != RASTERISER_KERNEL_SAMPLE_NONE;
    constexpr bool twoStages = Sample1 != RASTERISER_KERNEL_SAMPLE_NONE;
    // The stages are read only when they sample: a plan without stages may
    // end before them (the bins copy the stages in use).
    const int attr0 = sampled ? P.stages[0].attr : 0, attr1 = twoStages ? P.stages[1].attr : 0;
    const F zeroF = V::SetF(0.0f), oneF = V::SetF(1.0f), halfF = V::SetF(0.5f);
    const I zero = V::Zero();

    alignas(32) int32_t live[RASTERISER_QUADS_MAX / V::kQuads];  // lane masks per step
    alignas(32) uint32_t depthNew[RASTERISER_LANES_MAX], depthOld[RASTERISER_LANES_MAX];
    alignas(32) uint32_t diffuse[RASTERISER_LANES_MAX], fogWeight[RASTERISER_LANES_MAX];
    alignas(32) uint32_t tex[twoStages ? 2 : 1][RASTERISER_LANES_MAX];
    alignas(32) float sLanes[twoStages ? 2 : 1][RASTERISER_LANES_MAX], tLanes[twoStages ? 2 : 1][RASTERISER_LANES_MAX];
    auto load = [](const void* p) { return V::LoadI(static_cast<const uint32_t*>(p)); };

    // ---- pass 1 ----
    {
        // Planes not in use read as zero.
        static const RasteriserPlane kUnused = {0.0f, 0.0f, 0.0f};
        auto plane = [&](bool used, int i) { return MakePlane<V>(used ? S.p[i] : kUnused); };
        const F refX = V::SetF(S.refX), refY = V::SetF(S.refY);
        const F laneX = V::SetF4(0.0f, 1.0f, 0.0f, 1.0f), laneY = V::SetF4(0.0f, 0.0f, 1.0f, 1.0f);
        // The planes in use, whose rows start where a step's quads have
        // another row than the previous step's.
        enum { kZ, kOow, kColour, kS = kColour + 4, kT, kS1, kT1, kFog, kPlanes };
        PlaneV<V> planes[kPlanes] = {plane(Depth, 0),
                                     plane(perspective, 1),
                                     plane(!flat, 2 + RASTERISER_ATTR_COLOUR),
                                     plane(!flat, 3 + RASTERISER_ATTR_COLOUR),
                                     plane(!flat, 4 + RASTERISER_ATTR_COLOUR),
                                     plane(!flat, 5 + RASTERISER_ATTR_COLOUR),
                                     plane(sampled, 2 + attr0),
                                     plane(sampled, 3 + attr0),
                                     plane(twoStages, 2 + attr1),
                                     plane(twoStages, 3 + attr1),
                                     plane(fog, 2 + RASTERISER_ATTR_FOG)};
        int rowY[2] = {-1, -1};  // no quad starts on an odd row
        const F constantW = V::SetF(S.w);
        const I flatColour = V::SetI(int(S.flatColour));
        const CompareV<V> depthCompare = MakeCompare<V>(depthTest ? P.depthFunc : D3DCMP_ALWAYS);
        const I depthBits = V::SetI(int(P.depthMask)), sign = V::SetI(int(0x80000000u));
        const uint8_t* const depth = P.depth.pixels;
        const size_t depthPitch = size_t(P.depth.pitch);
        for (int q = begin, n = 0, j = 0; q < end; q += V::kQuads, ++n, j += kStep) {
            int mask = Q->mask[q];
            if (V::kQuads == 2) mask |= Q->mask[q + 1] << 4;
            const float xs[2] = {float(Q->x[q]), float(Q->x[q + V::kQuads - 1])};
            // x - refX and y - refY are exact (positions snap to 1/16
            // pixel), and so is the step to the second column and row.
            const F fx = Add(Sub(V::PerQuad(xs), refX), laneX);
            if (Q->y[q] != rowY[0] || Q->y[q + V::kQuads - 1] != rowY[1]) {
                rowY[0] = Q->y[q], rowY[1] = Q->y[q + V::kQuads - 1];
                const float ys[2] = {float(rowY[0]), float(rowY[1])};
                const F fy = Add(Sub(V::PerQuad(ys), refY), laneY);
                for (PlaneV<V>& p : planes) StartRow<V>(p, fy);
            }
            if (Depth) {
                // RasteriserFormat_DepthEncode's arithmetic, then the test
                // against the stored values' depth bits.
                const F v = Min(Max(At(planes[kZ], fx), zeroF), oneF);
                I e = Trunc(Add(Mul(v, V::SetF(16777215.0f)), halfF));
                e = Add32(e, Eq32(e, V::SetI(0x1000000)));
                const I z = Shl32<8>(e);
                const I stored = V::Load(depth, Q->depthAt + q, depthPitch);
                if (depthTest) mask &= SignBits(Passes(depthCompare, Xor(z, sign), Xor(And(stored, depthBits), sign)));
                V::StoreI(depthNew + j, z);
                V::StoreI(depthOld + j, stored);
            }
            live[n] = mask;
            if (!mask) continue;
            const F w = perspective ? Div(oneF, At(planes[kOow], fx)) : constantW;
            I colour = flatColour;
            if (!flat) {
                const F top = V::SetF(255.0f);
                auto channel = [&](int k) {
                    const F v = Add(Mul(At(planes[kColour + k], fx), w), halfF);
                    return Trunc(Min(Max(v, zeroF), top));
                };
                colour = Or(Or(Shl32<24>(channel(3)), Shl32<16>(channel(0))), Or(Shl32<8>(channel(1)), channel(2)));
            }
            V::StoreI(diffuse + j, colour);
            // Attributes are clamped where the fixed-point conversions cannot
            // overflow (NaN lands on the lower bound).
            const F lo = V::SetF(-4.0e6f), hi = V::SetF(4.0e6f);
            auto coordinate = [&](const PlaneV<V>& p) { return Min(Max(Mul(At(p, fx), w), lo), hi); };
            if (sampled) {
                V::StoreF(sLanes[0] + j, coordinate(planes[kS]));
                V::StoreF(tLanes[0] + j, coordinate(planes[kT]));
            }
            if (twoStages) {
                V::StoreF(sLanes[twoStages] + j, coordinate(planes[kS1]));
                V::StoreF(tLanes[twoStages] + j, coordinate(planes[kT1]));
            }
            if (fog) {
                // The fog factor to 0..256.
                const F f = Min(Max(coordinate(planes[kFog]), zeroF), oneF);
                V::StoreI(fogWeight + j, Trunc(Add(Mul(f, V::SetF(256.0f)), halfF)));
            }
        }
    }

    // ---- pass 2 ----
    if (sampled) SampleStage<V, Sample>(P.stages[0], K.sampler[0], live, sLanes[0], tLanes[0], begin, end, tex[0]);
    if (twoStages)
        SampleStage<V, Sample1>(P.stages[1], K.sampler[1], live, sLanes[twoStages], tLanes[twoStages], begin, end,
                                tex[twoStages]);

    // ---- pass 3 ----
    {
        const I texMask = V::SetI(int(K.texMask)), diffuseMask = V::SetI(int(K.diffuseMask));
        const I productMask = V::SetI(int(K.productMask));
        const bool product = K.productMask != 0;
        const RasteriserKernelOp colour1 = K.colour1, alpha1 = K.alpha1;
        const bool sameOp1 = colour1.op == alpha1.op && colour1.arg1 == alpha1.arg1 && colour1.arg2 == alpha1.arg2;
        // Stage 1's alpha is mostly stage 0's passed on (its operation disabled).
        const bool keepAlpha1 =
            (alpha1.op == RASTERISER_KERNEL_OP_SELECT1 && alpha1.arg1 == RASTERISER_KERNEL_ARG_CURRENT) ||
            (alpha1.op == RASTERISER_KERNEL_OP_SELECT2 && alpha1.arg2 == RASTERISER_KERNEL_ARG_CURRENT);
        const I alphaBits = V::SetI(int(0xFF000000u));
        const I fogColour = UnpackLo8(V::SetI(int(P.fogColour)), zero);
        const CompareV<V> alphaCompare = MakeCompare<V>(P.alphaFunc);
        const I alphaRef = V::SetI(int(P.alphaRef));
        const I depthKeep = V::SetI(int(~P.depthMask));
        const I destOr = V::SetI(P.targetFormat == D3DFMT_X8R8G8B8 ? int(0xFF000000u) : 0);
        uint8_t* const target = P.target.pixels;
        const size_t targetPitch = size_t(P.target.pitch);
        uint8_t* const depth = P.depth.pixels;
        const size_t depthPitch = size_t(P.depth.pitch);
        for (int q = begin, n = 0, j = 0; q < end; q += V::kQuads, ++n, j += kStep) {
            int mask = live[n];
            if (!mask) continue;
            const I t = sampled ? load(tex[0] + j) : V::SetI(-1), d = load(diffuse + j);
            I colour = Or(And(t, texMask), And(d, diffuseMask));
            if (product) colour = Or(colour, And(Modulate<V>(t, d), productMask));
            if (twoStages) {
                const I t1 = load(tex[twoStages] + j);
                const I c = StageOp<V>(colour1, t1, colour, d);
                colour = sameOp1      ? c
                         : keepAlpha1 ? Or(AndNot(alphaBits, c), And(alphaBits, colour))
                                      : Or(AndNot(alphaBits, c), And(alphaBits, StageOp<V>(alpha1, t1, colour, d)));
            }
            if (fog) {
                // fog colour + (colour - fog colour) x weight, alpha kept.
                const I k = load(fogWeight + j);
                const I kl = SpreadWeights<false>(k), kh = SpreadWeights<true>(k), full = V::SetI16(256);
                const I lo = Add16(Mul16(fogColour, Sub16(full, kl)), Mul16(UnpackLo8(colour, zero), kl));
                const I hi = Add16(Mul16(fogColour, Sub16(full, kh)), Mul16(UnpackHi8(colour, zero), kh));
                colour = Or(AndNot(alphaBits, PackUs16(Shr16<8>(lo), Shr16<8>(hi))), And(alphaBits, colour));
            }
            if (alphaTest) {
                mask &= SignBits(Passes(alphaCompare, Shr32<24>(colour), alphaRef));
                if (!mask) continue;
            }
            if (Blend == RASTERISER_KERNEL_BLEND_ALPHA) {
                colour = BlendAlpha<V>(colour, V::Load(target, Q->targetAt + q, targetPitch));
            } else if (Blend == RASTERISER_KERNEL_BLEND_FACTORS) {
                // src x factor + dst x factor, saturated; an X8R8G8B8
                // target's alpha reads one.
                const I dst = Or(V::Load(target, Q->targetAt + q, targetPitch), destOr);
                const I s = K.srcBlend == D3DBLEND_ONE ? colour
                            : K.srcBlend == D3DBLEND_ZERO
                                ? zero
                                : Modulate<V>(colour, BlendFactor<V>(K.srcBlend, colour, dst));
                const I d = K.destBlend == D3DBLEND_ONE    ? dst
                            : K.destBlend == D3DBLEND_ZERO ? zero
                                                           : Modulate<V>(dst, BlendFactor<V>(K.destBlend, colour, dst));
                colour = AddSat8(s, d);
            }
            V::Store(target, Q->targetAt + q, targetPitch, colour, mask);
            if (Depth && depthWrite)
                V::Store(depth, Q->depthAt + q, depthPitch, Or(And(load(depthOld + j), depthKeep), load(depthNew + j)),
                         mask);
        }
    }
}

}  // namespace

namespace {

// Each instruction set's file defines the kernel of every structure.
template <bool Depth, int Blend, int Sample, int Sample1>
void Kernel(const RasteriserPlan* plan, const RasteriserSetup* setup, RasteriserQuads* quads);

// Stage 0's sampling by stage 1's (two stages only where stage 0 samples).
template <bool Depth, int Blend>
constexpr RasteriserKernel kSamplings[3][3] = {
    {Kernel<Depth, Blend, 0, 0>, nullptr, nullptr},
    {Kernel<Depth, Blend, 1, 0>, Kernel<Depth, Blend, 1, 1>, Kernel<Depth, Blend, 1, 2>},
    {Kernel<Depth, Blend, 2, 0>, Kernel<Depth, Blend, 2, 1>, Kernel<Depth, Blend, 2, 2>}};

RasteriserKernel ChooseKernel(const RasteriserKernelPlan& k)
{
    static constexpr const RasteriserKernel(*kTable[2][3])[3] = {
        {kSamplings<false, 0>, kSamplings<false, 1>, kSamplings<false, 2>},
        {kSamplings<true, 0>, kSamplings<true, 1>, kSamplings<true, 2>}};
    return kTable[k.depth][k.blend][k.sampler[0].sample][k.sampler[1].sample];
}

}  // namespace
