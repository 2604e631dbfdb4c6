// Pixel stage of the software rasteriser. A span of up to 64 pixels goes
// through the pipeline one step at a time (depth test, interpolation, texture
// sampling, combiner, fog, alpha test, blending and writes), each step a tight
// loop over the pixels still alive. State decisions are made per draw (the
// plan) or per span and step, never per pixel; pixels that fail the depth
// test early are dropped before any texture is read.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <emmintrin.h>

#include "platform/direct3d/rasteriser_format.h"
#include "platform/direct3d/rasteriser_internal.h"

namespace {

constexpr uint32_t TOP_MODULATE4X = 6, TOP_ADDSIGNED = 8, TOP_ADDSIGNED2X = 9, TOP_SUBTRACT = 10,
                   TOP_ADDSMOOTH = 11, TOP_BLENDDIFFUSEALPHA = 12, TOP_BLENDFACTORALPHA = 14,
                   TOP_BLENDTEXTUREALPHAPM = 15, TOP_BLENDCURRENTALPHA = 16, TOP_LERP = 26;
constexpr uint32_t TA_SPECULAR = 4, TA_COMPLEMENT = 0x10;

// Exact round(a * b / 255) for a, b in 0..255.
inline uint32_t Mul255(uint32_t a, uint32_t b) {
  uint32_t t = a * b + 128;
  return (t + (t >> 8)) >> 8;
}
inline uint32_t Sat(int v) { return v < 0 ? 0u : (v > 255 ? 255u : uint32_t(v)); }

template <class F>
inline uint32_t Map2(uint32_t a, uint32_t b, F f) {
  return f(a >> 24, b >> 24) << 24 | f((a >> 16) & 255, (b >> 16) & 255) << 16 |
         f((a >> 8) & 255, (b >> 8) & 255) << 8 | f(a & 255, b & 255);
}
template <class F>
inline uint32_t Map3(uint32_t a, uint32_t b, uint32_t c, F f) {
  return f(a >> 24, b >> 24, c >> 24) << 24 | f((a >> 16) & 255, (b >> 16) & 255, (c >> 16) & 255) << 16 |
         f((a >> 8) & 255, (b >> 8) & 255, (c >> 8) & 255) << 8 | f(a & 255, b & 255, c & 255);
}
inline uint32_t Replicate(uint32_t a) { return a * 0x01010101u; }

// Linear blend of two colours, weight w in 0..256 towards b.
inline uint32_t Lerp(uint32_t a, uint32_t b, uint32_t w) {
  uint32_t iw = 256 - w;
  uint32_t rb = (((a & 0x00FF00FFu) * iw + (b & 0x00FF00FFu) * w) >> 8) & 0x00FF00FFu;
  uint32_t ag = ((((a >> 8) & 0x00FF00FFu) * iw + ((b >> 8) & 0x00FF00FFu) * w) >> 8) & 0x00FF00FFu;
  return rb | ag << 8;
}

// SSE2 (part of every x86-64 CPU, so one code path everywhere) for the two
// per-channel operations that dominate: modulate and alpha blending. Both
// give exactly the scalar results.

// out = round(a * b / 255) per channel.
void ModulateN(const uint32_t* a, const uint32_t* b, uint32_t* out, int n) {
  const __m128i zero = _mm_setzero_si128(), half = _mm_set1_epi16(128);
  int j = 0;
  for (; j + 4 <= n; j += 4) {
    __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + j));
    __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + j));
    __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero)), half);
    __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero)), half);
    lo = _mm_srli_epi16(_mm_add_epi16(lo, _mm_srli_epi16(lo, 8)), 8);
    hi = _mm_srli_epi16(_mm_add_epi16(hi, _mm_srli_epi16(hi, 8)), 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_packus_epi16(lo, hi));
  }
  for (; j < n; ++j) out[j] = Map2(a[j], b[j], Mul255);
}

// out = dst + (src - dst) x alpha, alpha = src alpha scaled to 0..256 (the
// scalar Lerp(dst, src, a + (a >> 7))).
void BlendAlphaN(const uint32_t* src, const uint32_t* dst, uint32_t* out, int n) {
  const __m128i zero = _mm_setzero_si128(), full = _mm_set1_epi16(256);
  auto two = [&](__m128i s, __m128i d) {
    __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(s, 0xFF), 0xFF);
    __m128i w = _mm_add_epi16(a, _mm_srli_epi16(a, 7));
    __m128i sum = _mm_add_epi16(_mm_mullo_epi16(s, w), _mm_mullo_epi16(d, _mm_sub_epi16(full, w)));
    return _mm_srli_epi16(sum, 8);
  };
  int j = 0;
  for (; j + 4 <= n; j += 4) {
    __m128i vs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + j));
    __m128i vd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + j));
    __m128i lo = two(_mm_unpacklo_epi8(vs, zero), _mm_unpacklo_epi8(vd, zero));
    __m128i hi = two(_mm_unpackhi_epi8(vs, zero), _mm_unpackhi_epi8(vd, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_packus_epi16(lo, hi));
  }
  for (; j < n; ++j) {
    uint32_t al = src[j] >> 24;
    out[j] = Lerp(dst[j], src[j], al + (al >> 7));
  }
}

// Bilinear blends of gathered texels, four pixels at a time: the exact
// results of the scalar Bilinear() below.
void BilinearN(const uint32_t* c00, const uint32_t* c10, const uint32_t* c01, const uint32_t* c11,
               const uint32_t* wxs, const uint32_t* wys, uint32_t* out, int n);

// Four per-pixel 32-bit weights as 16-bit lanes for two pixels: pixel 0
// (or 2 when `high`) in the low four lanes, the next in the high four.
inline __m128i SpreadWeights(__m128i w, bool high) {
  __m128i x = high ? _mm_unpackhi_epi32(w, w) : _mm_unpacklo_epi32(w, w);
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, 0xA0), 0xA0);
}

// out = a + (b - a) x w / 256 per channel, w per pixel in 0..256.
void LerpN(const uint32_t* a, const uint32_t* b, const uint32_t* w, uint32_t* out, int n) {
  const __m128i zero = _mm_setzero_si128(), full = _mm_set1_epi16(256);
  int j = 0;
  for (; j + 4 <= n; j += 4) {
    __m128i vw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + j));
    __m128i wl = SpreadWeights(vw, false), wh = SpreadWeights(vw, true);
    __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + j));
    __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + j));
    __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(va, zero), _mm_sub_epi16(full, wl)),
                               _mm_mullo_epi16(_mm_unpacklo_epi8(vb, zero), wl));
    __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(va, zero), _mm_sub_epi16(full, wh)),
                               _mm_mullo_epi16(_mm_unpackhi_epi8(vb, zero), wh));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j),
                     _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8)));
  }
  for (; j < n; ++j) out[j] = Lerp(a[j], b[j], w[j]);
}

// Fills the first n entries (rounded up to 4) of a span array with v.
inline void Broadcast(uint32_t* out, uint32_t v, int n) {
  const __m128i vv = _mm_set1_epi32(int(v));
  for (int j = 0; j < n; j += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), vv);
}
inline void Broadcast(float* out, float v, int n) {
  const __m128 vv = _mm_set1_ps(v);
  for (int j = 0; j < n; j += 4) _mm_storeu_ps(out + j, vv);
}

// Depth of n pixels in the 24-bit formats' stored form, four at a time with
// the scalar arithmetic of RasteriserFormat_DepthEncode (same results).
inline void EncodeDepth24(float z0, float dz, uint32_t* out, int n) {
  const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f), scale = _mm_set1_ps(16777215.0f),
               half = _mm_set1_ps(0.5f), dz4 = _mm_set1_ps(dz), z04 = _mm_set1_ps(z0);
  const __m128i carry = _mm_set1_epi32(0x1000000);
  for (int i = 0; i < n; i += 4) {
    __m128 idx = _mm_cvtepi32_ps(_mm_setr_epi32(i, i + 1, i + 2, i + 3));
    __m128 z = _mm_add_ps(z04, _mm_mul_ps(dz4, idx));
    z = _mm_min_ps(_mm_max_ps(z, zero), one);  // NaN becomes 0, as in the scalar code
    __m128i v = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(z, scale), half));
    v = _mm_add_epi32(v, _mm_cmpeq_epi32(v, carry));  // 2^24 back to 2^24 - 1
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_slli_epi32(v, 8));
  }
}

// The positions of the listed pixels in a span as floats, four at a time.
inline __m128 ListPositions(const uint8_t* list, int j) {
  int32_t packed;
  memcpy(&packed, list + j, 4);
  const __m128i zero = _mm_setzero_si128();
  __m128i v = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(packed), zero), zero);
  return _mm_cvtepi32_ps(v);
}

// Keeps texel coordinates where the fixed-point conversions cannot overflow
// (NaN lands on the lower bound).
inline float ClampCoord(float v) {
  if (!(v > -4.0e6f)) return -4.0e6f;
  return v < 4.0e6f ? v : 4.0e6f;
}

// out[j] = ClampCoord((v0 + dv x list[j]) x w[j]): a perspective-correct
// texture coordinate, four pixels at a time with the scalar arithmetic.
inline void Interpolate(float v0, float dv, const uint8_t* list, const float* w, float* out, int m) {
  const __m128 lo = _mm_set1_ps(-4.0e6f), hi = _mm_set1_ps(4.0e6f), b = _mm_set1_ps(v0), d = _mm_set1_ps(dv);
  int j = 0;
  for (; j + 4 <= m; j += 4) {
    __m128 v = _mm_mul_ps(_mm_add_ps(b, _mm_mul_ps(d, ListPositions(list, j))), _mm_loadu_ps(w + j));
    _mm_storeu_ps(out + j, _mm_min_ps(_mm_max_ps(v, lo), hi));  // max gives lo for NaN
  }
  for (; j < m; ++j) out[j] = ClampCoord((v0 + dv * float(list[j])) * w[j]);
}

// w[j] = 1 / (oow0 + doow x list[j]), four pixels at a time.
inline void Reciprocal(float oow0, float doow, const uint8_t* list, float* w, int m) {
  const __m128 one = _mm_set1_ps(1.0f), b = _mm_set1_ps(oow0), d = _mm_set1_ps(doow);
  int j = 0;
  for (; j + 4 <= m; j += 4)
    _mm_storeu_ps(w + j, _mm_div_ps(one, _mm_add_ps(b, _mm_mul_ps(d, ListPositions(list, j)))));
  for (; j < m; ++j) w[j] = 1.0f / (oow0 + doow * float(list[j]));
}

// Perspective-correct vertex colour (r, g, b, a planes in 0..255 x 1/w),
// rounded and clamped, four pixels at a time.
void InterpolateColour(const float* b, const float* d, const uint8_t* list, const float* w, uint32_t* out, int m) {
  const __m128 zero = _mm_setzero_ps(), top = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f);
  auto channel = [&](int k, __m128 i, __m128 ww) {
    __m128 v = _mm_add_ps(_mm_mul_ps(_mm_add_ps(_mm_set1_ps(b[k]), _mm_mul_ps(_mm_set1_ps(d[k]), i)), ww), half);
    return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(v, zero), top));  // NaN reads 0
  };
  int j = 0;
  for (; j + 4 <= m; j += 4) {
    __m128 i = ListPositions(list, j), ww = _mm_loadu_ps(w + j);
    __m128i argb = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(channel(3, i, ww), 24), _mm_slli_epi32(channel(0, i, ww), 16)),
                                _mm_or_si128(_mm_slli_epi32(channel(1, i, ww), 8), channel(2, i, ww)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), argb);
  }
  for (; j < m; ++j) {
    float i = float(list[j]);
    auto ch = [&](int k) {
      float v = (b[k] + d[k] * i) * w[j] + 0.5f;
      return v > 0.0f ? (v < 255.0f ? uint32_t(v) : 255u) : 0u;
    };
    out[j] = ch(3) << 24 | ch(0) << 16 | ch(1) << 8 | ch(2);
  }
}

// Fog: colour = fog colour + (colour - fog colour) x factor, the factor per
// pixel in f (clamped to 0..1, NaN as 0), the colour's alpha kept.
void FogN(uint32_t* c, const float* f, uint32_t fogColour, int m) {
  const __m128i zero = _mm_setzero_si128(), full = _mm_set1_epi16(256), alpha = _mm_set1_epi32(int(0xFF000000u));
  const __m128i fc = _mm_unpacklo_epi8(_mm_set1_epi32(int(fogColour)), zero);
  const __m128 zeroF = _mm_setzero_ps(), oneF = _mm_set1_ps(1.0f), scale = _mm_set1_ps(256.0f),
               half = _mm_set1_ps(0.5f);
  int j = 0;
  for (; j + 4 <= m; j += 4) {
    __m128 v = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(f + j), zeroF), oneF);
    __m128i k = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, scale), half));
    __m128i kl = SpreadWeights(k, false), kh = SpreadWeights(k, true);
    __m128i cv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + j));
    __m128i lo = _mm_add_epi16(_mm_mullo_epi16(fc, _mm_sub_epi16(full, kl)),
                               _mm_mullo_epi16(_mm_unpacklo_epi8(cv, zero), kl));
    __m128i hi = _mm_add_epi16(_mm_mullo_epi16(fc, _mm_sub_epi16(full, kh)),
                               _mm_mullo_epi16(_mm_unpackhi_epi8(cv, zero), kh));
    __m128i out = _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8));
    out = _mm_or_si128(_mm_andnot_si128(alpha, out), _mm_and_si128(alpha, cv));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(c + j), out);
  }
  for (; j < m; ++j) {
    float v = f[j] > 0.0f ? (f[j] < 1.0f ? f[j] : 1.0f) : 0.0f;
    uint32_t k = uint32_t(v * 256.0f + 0.5f);
    c[j] = (Lerp(fogColour, c[j], k) & 0x00FFFFFFu) | (c[j] & 0xFF000000u);
  }
}

// Texel coordinates to 24.8 fixed point in one instruction (round to
// nearest: every draw sets that mode). Exact for the integer and half-texel
// positions that 1:1 mappings produce.
inline int Fixed8(float f) { return _mm_cvtss_si32(_mm_set_ss(f * 256.0f)); }

// The texel a point sample reads: the floor of the same fixed-point
// coordinate the bilinear path uses. A coordinate a rounding error below a
// texel edge (2.9999998 where the exact value is 3) lands on the edge, so
// the two triangles of a magnified quad, whose planes round differently,
// pick the same texel along their shared diagonal.
inline int PointTexel(float f) { return Fixed8(f) >> 8; }

// Bilinear blend of four texels with weights wx, wy in 0..255 (towards the
// second column and row). The four weights sum to 256, so each 16-bit field
// of the packed sums stays below 2^16.
inline uint32_t Bilinear(uint32_t c00, uint32_t c10, uint32_t c01, uint32_t c11, uint32_t wx, uint32_t wy) {
  uint32_t w11 = (wx * wy + 128) >> 8, w10 = wx - w11, w01 = wy - w11, w00 = 256 - wx - wy + w11;
  uint32_t rb = ((c00 & 0x00FF00FFu) * w00 + (c10 & 0x00FF00FFu) * w10 + (c01 & 0x00FF00FFu) * w01 +
                 (c11 & 0x00FF00FFu) * w11) >> 8;
  uint32_t ag = ((c00 >> 8) & 0x00FF00FFu) * w00 + ((c10 >> 8) & 0x00FF00FFu) * w10 +
                ((c01 >> 8) & 0x00FF00FFu) * w01 + ((c11 >> 8) & 0x00FF00FFu) * w11;
  return (rb & 0x00FF00FFu) | (ag & 0xFF00FF00u);
}

void BilinearN(const uint32_t* c00, const uint32_t* c10, const uint32_t* c01, const uint32_t* c11,
               const uint32_t* wxs, const uint32_t* wys, uint32_t* out, int n) {
  const __m128i zero = _mm_setzero_si128(), full = _mm_set1_epi16(256), half = _mm_set1_epi16(128);
  // Weights below 256: every product and sum below stays under 2^16.
  auto blend = [&](__m128i a, __m128i b, __m128i c, __m128i d, __m128i wx, __m128i wy) {
    __m128i w11 = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(wx, wy), half), 8);
    __m128i w10 = _mm_sub_epi16(wx, w11), w01 = _mm_sub_epi16(wy, w11);
    __m128i w00 = _mm_add_epi16(_mm_sub_epi16(_mm_sub_epi16(full, wx), wy), w11);
    __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(a, w00), _mm_mullo_epi16(b, w10)),
                                _mm_add_epi16(_mm_mullo_epi16(c, w01), _mm_mullo_epi16(d, w11)));
    return _mm_srli_epi16(sum, 8);
  };
  int j = 0;
  for (; j + 4 <= n; j += 4) {
    __m128i wx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(wxs + j));
    __m128i wy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(wys + j));
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c00 + j));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c10 + j));
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c01 + j));
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c11 + j));
    __m128i lo = blend(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(c, zero),
                       _mm_unpacklo_epi8(d, zero), SpreadWeights(wx, false), SpreadWeights(wy, false));
    __m128i hi = blend(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(c, zero),
                       _mm_unpackhi_epi8(d, zero), SpreadWeights(wx, true), SpreadWeights(wy, true));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_packus_epi16(lo, hi));
  }
  for (; j < n; ++j) out[j] = Bilinear(c00[j], c10[j], c01[j], c11[j], wxs[j], wys[j]);
}


inline int Address(int i, int size, uint32_t mode) {
  switch (mode) {
    case D3DTADDRESS_MIRROR: {
      int period = 2 * size;
      int r = i % period;
      if (r < 0) r += period;
      return r < size ? r : period - 1 - r;
    }
    case D3DTADDRESS_CLAMP: return i < 0 ? 0 : (i >= size ? size - 1 : i);
    case D3DTADDRESS_BORDER: return (i < 0 || i >= size) ? -1 : i;
    case 5: {  // mirror once
      int r = i < 0 ? -1 - i : i;
      return r >= size ? size - 1 : r;
    }
    default: {  // wrap
      if ((size & (size - 1)) == 0) return i & (size - 1);
      int r = i % size;
      return r < 0 ? r + size : r;
    }
  }
}

// Texel fetch, specialised for the 32-bit formats that dominate. X8R8G8B8
// texels read their stored alpha byte; the caller sets alpha after filtering.
struct Fetch32 {
  inline uint32_t operator()(const D3D8DrawSurface& l, const PALETTEENTRY*, int x, int y) const {
    uint32_t v;
    memcpy(&v, l.pixels + size_t(y) * size_t(l.pitch) + size_t(x) * 4, 4);
    return v;
  }
};
struct FetchAny {
  inline uint32_t operator()(const D3D8DrawSurface& l, const PALETTEENTRY* pal, int x, int y) const {
    return RasteriserFormat_Texel(&l, pal, x, y);
  }
};

template <class F>
inline uint32_t SampleLevel(const RasteriserStage& st, const D3D8DrawSurface& l, const PALETTEENTRY* pal, const F& fetch,
                            float s, float t, bool linear) {
  if (!linear) {
    int x = Address(PointTexel(s), l.width, st.addressU);
    int y = Address(PointTexel(t), l.height, st.addressV);
    if ((x | y) < 0) return st.border;
    return fetch(l, pal, x, y);
  }
  // Bilinear, centred on s - 0.5, with 8 bits of sub-texel weight.
  int fs = Fixed8(s) - 128, ft = Fixed8(t) - 128;
  int x0 = fs >> 8, y0 = ft >> 8;
  uint32_t wx = uint32_t(fs & 255), wy = uint32_t(ft & 255);
  int ax0 = Address(x0, l.width, st.addressU), ax1 = Address(x0 + 1, l.width, st.addressU);
  int ay0 = Address(y0, l.height, st.addressV), ay1 = Address(y0 + 1, l.height, st.addressV);
  uint32_t c00 = (ax0 | ay0) < 0 ? st.border : fetch(l, pal, ax0, ay0);
  uint32_t c10 = (ax1 | ay0) < 0 ? st.border : fetch(l, pal, ax1, ay0);
  uint32_t c01 = (ax0 | ay1) < 0 ? st.border : fetch(l, pal, ax0, ay1);
  uint32_t c11 = (ax1 | ay1) < 0 ? st.border : fetch(l, pal, ax1, ay1);
  return Bilinear(c00, c10, c01, c11, wx, wy);
}

// Wrapped addressing on power-of-two levels reduces to masks; this is the
// common case and gets its own loops with everything inlined.
template <class F>
__attribute__((always_inline)) inline uint32_t WrapBilinear(const D3D8DrawSurface& l, const PALETTEENTRY* pal,
                                                            const F& fetch, float s, float t) {
  const int mx = l.width - 1, my = l.height - 1;
  int fs = Fixed8(s) - 128, ft = Fixed8(t) - 128;
  int x0 = (fs >> 8) & mx, y0 = (ft >> 8) & my;
  int x1 = (x0 + 1) & mx, y1 = (y0 + 1) & my;
  return Bilinear(fetch(l, pal, x0, y0), fetch(l, pal, x1, y0), fetch(l, pal, x0, y1), fetch(l, pal, x1, y1),
                  uint32_t(fs & 255), uint32_t(ft & 255));
}
template <class F>
__attribute__((always_inline)) inline uint32_t WrapPoint(const D3D8DrawSurface& l, const PALETTEENTRY* pal,
                                                         const F& fetch, float s, float t) {
  return fetch(l, pal, PointTexel(s) & (l.width - 1), PointTexel(t) & (l.height - 1));
}

// Gathers the four texels and weights of a wrapped bilinear sample.
template <class F>
__attribute__((always_inline)) inline void WrapGather(const D3D8DrawSurface& l, const PALETTEENTRY* pal,
                                                      const F& fetch, float s, float t, uint32_t* c, int j,
                                                      uint32_t* wx, uint32_t* wy) {
  const int mx = l.width - 1, my = l.height - 1;
  int fs = Fixed8(s) - 128, ft = Fixed8(t) - 128;
  int x0 = (fs >> 8) & mx, y0 = (ft >> 8) & my;
  int x1 = (x0 + 1) & mx, y1 = (y0 + 1) & my;
  c[j] = fetch(l, pal, x0, y0);
  c[RASTERISER_SPAN_MAX + j] = fetch(l, pal, x1, y0);
  c[2 * RASTERISER_SPAN_MAX + j] = fetch(l, pal, x0, y1);
  c[3 * RASTERISER_SPAN_MAX + j] = fetch(l, pal, x1, y1);
  wx[j] = uint32_t(fs & 255);
  wy[j] = uint32_t(ft & 255);
}

// WrapGather for a whole span: coordinates, wrap masks and weights four at a
// time (the same conversions as Fixed8), the texel loads one by one.
template <class F>
void WrapGatherN(const D3D8DrawSurface& l, const PALETTEENTRY* pal, const F& fetch, const float* s, const float* t,
                 uint32_t* c, uint32_t* wx, uint32_t* wy, int m) {
  const __m128i mx = _mm_set1_epi32(l.width - 1), my = _mm_set1_epi32(l.height - 1), one = _mm_set1_epi32(1),
                bias = _mm_set1_epi32(128), low = _mm_set1_epi32(255);
  const __m128 scale = _mm_set1_ps(256.0f);
  int j = 0;
  for (; j + 4 <= m; j += 4) {
    __m128i fs = _mm_sub_epi32(_mm_cvtps_epi32(_mm_mul_ps(_mm_loadu_ps(s + j), scale)), bias);
    __m128i ft = _mm_sub_epi32(_mm_cvtps_epi32(_mm_mul_ps(_mm_loadu_ps(t + j), scale)), bias);
    alignas(16) int32_t x0[4], x1[4], y0[4], y1[4];
    __m128i vx0 = _mm_and_si128(_mm_srai_epi32(fs, 8), mx), vy0 = _mm_and_si128(_mm_srai_epi32(ft, 8), my);
    _mm_store_si128(reinterpret_cast<__m128i*>(x0), vx0);
    _mm_store_si128(reinterpret_cast<__m128i*>(y0), vy0);
    _mm_store_si128(reinterpret_cast<__m128i*>(x1), _mm_and_si128(_mm_add_epi32(vx0, one), mx));
    _mm_store_si128(reinterpret_cast<__m128i*>(y1), _mm_and_si128(_mm_add_epi32(vy0, one), my));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(wx + j), _mm_and_si128(fs, low));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(wy + j), _mm_and_si128(ft, low));
    for (int k = 0; k < 4; ++k) {
      c[j + k] = fetch(l, pal, x0[k], y0[k]);
      c[RASTERISER_SPAN_MAX + j + k] = fetch(l, pal, x1[k], y0[k]);
      c[2 * RASTERISER_SPAN_MAX + j + k] = fetch(l, pal, x0[k], y1[k]);
      c[3 * RASTERISER_SPAN_MAX + j + k] = fetch(l, pal, x1[k], y1[k]);
    }
  }
  for (; j < m; ++j) WrapGather(l, pal, fetch, s[j], t[j], c, j, wx, wy);
}

// Samples one stage for the listed pixels.
template <class F>
void SampleStage(const RasteriserStage& st, const PALETTEENTRY* pal, const F& fetch, const float* s, const float* t,
                 const float* lod, uint32_t* out, int m) {
  const D3D8DrawTexture& tex = *st.texture;
  const bool magLinear = st.magFilter >= D3DTEXF_LINEAR, minLinear = st.minFilter >= D3DTEXF_LINEAR;
  const int last = st.levelCount - 1;
  if (!st.needLod) {
    const D3D8DrawSurface& l = tex.levels[0];
    if (st.wrapPow2 && magLinear) {
      uint32_t c[4 * RASTERISER_SPAN_MAX], wx[RASTERISER_SPAN_MAX], wy[RASTERISER_SPAN_MAX];
      WrapGatherN(l, pal, fetch, s, t, c, wx, wy, m);
      BilinearN(c, c + RASTERISER_SPAN_MAX, c + 2 * RASTERISER_SPAN_MAX, c + 3 * RASTERISER_SPAN_MAX, wx, wy, out, m);
    } else if (st.wrapPow2) {
      for (int j = 0; j < m; ++j) out[j] = WrapPoint(l, pal, fetch, s[j], t[j]);
    } else {
      for (int j = 0; j < m; ++j) out[j] = SampleLevel(st, l, pal, fetch, s[j], t[j], magLinear);
    }
    return;
  }
  if (st.wrapPow2 && minLinear && magLinear) {
    // Trilinear (or bilinear with mip selection): gather both levels, then
    // blend four pixels at a time. Pixels without a second level gather
    // nothing there and blend with weight 0.
    uint32_t c[4 * RASTERISER_SPAN_MAX], c2[4 * RASTERISER_SPAN_MAX];
    uint32_t wx[RASTERISER_SPAN_MAX], wy[RASTERISER_SPAN_MAX], wx2[RASTERISER_SPAN_MAX], wy2[RASTERISER_SPAN_MAX];
    uint32_t frac[RASTERISER_SPAN_MAX], a[RASTERISER_SPAN_MAX], b[RASTERISER_SPAN_MAX];
    bool any = false;
    for (int j = 0; j < m; ++j) {
      float d = lod[j];
      int level = 0;
      frac[j] = 0;
      if (d > 0.0f) {
        if (st.mipFilter == D3DTEXF_POINT) {
          level = int(d + 0.5f);
        } else if (st.mipFilter >= D3DTEXF_LINEAR) {
          // One conversion gives level and 8-bit fraction (d x 256 is exact).
          int fixed = int(d * 256.0f);
          level = fixed >> 8;
          frac[j] = uint32_t(fixed & 255);
        }
        if (level >= last) level = last, frac[j] = 0;
      }
      WrapGather(tex.levels[level], pal, fetch, s[j] * st.levelScaleU[level], t[j] * st.levelScaleV[level], c, j,
                 wx, wy);
      if (frac[j]) {
        WrapGather(tex.levels[level + 1], pal, fetch, s[j] * st.levelScaleU[level + 1],
                   t[j] * st.levelScaleV[level + 1], c2, j, wx2, wy2);
        any = true;
      } else {
        c2[j] = c2[RASTERISER_SPAN_MAX + j] = c2[2 * RASTERISER_SPAN_MAX + j] = c2[3 * RASTERISER_SPAN_MAX + j] = 0;
        wx2[j] = wy2[j] = 0;
      }
    }
    BilinearN(c, c + RASTERISER_SPAN_MAX, c + 2 * RASTERISER_SPAN_MAX, c + 3 * RASTERISER_SPAN_MAX, wx, wy, any ? a : out, m);
    if (any) {
      BilinearN(c2, c2 + RASTERISER_SPAN_MAX, c2 + 2 * RASTERISER_SPAN_MAX, c2 + 3 * RASTERISER_SPAN_MAX, wx2, wy2, b, m);
      LerpN(a, b, frac, out, m);
    }
    return;
  }
  for (int j = 0; j < m; ++j) {
    float d = lod[j];
    if (!(d > 0.0f)) {
      out[j] = SampleLevel(st, tex.levels[0], pal, fetch, s[j], t[j], magLinear);
      continue;
    }
    int level = 0;
    uint32_t frac = 0;
    if (st.mipFilter == D3DTEXF_POINT) {
      level = int(d + 0.5f);
    } else if (st.mipFilter >= D3DTEXF_LINEAR) {
      level = int(d);
      frac = uint32_t((d - float(level)) * 256.0f);
    }
    if (level >= last) {
      level = last;
      frac = 0;
    }
    const D3D8DrawSurface& l = tex.levels[level];
    uint32_t c;
    if (st.wrapPow2 && minLinear) {
      c = WrapBilinear(l, pal, fetch, s[j] * st.levelScaleU[level], t[j] * st.levelScaleV[level]);
      if (frac) {
        uint32_t c2 = WrapBilinear(tex.levels[level + 1], pal, fetch, s[j] * st.levelScaleU[level + 1],
                                   t[j] * st.levelScaleV[level + 1]);
        c = Lerp(c, c2, frac);
      }
    } else {
      c = SampleLevel(st, l, pal, fetch, s[j] * st.levelScaleU[level], t[j] * st.levelScaleV[level], minLinear);
      if (frac) {
        const D3D8DrawSurface& l2 = tex.levels[level + 1];
        uint32_t c2 = SampleLevel(st, l2, pal, fetch, s[j] * st.levelScaleU[level + 1],
                                  t[j] * st.levelScaleV[level + 1], minLinear);
        c = Lerp(c, c2, frac);
      }
    }
    out[j] = c;
  }
}

// Fast log2 for level-of-detail selection: exponent plus a linear mantissa.
inline float Log2Approx(float v) {
  uint32_t b;
  memcpy(&b, &v, 4);
  float e = float(int((b >> 23) & 255) - 127);
  uint32_t mb = (b & 0x007FFFFFu) | 0x3F800000u;
  float mant;
  memcpy(&mant, &mb, 4);
  return e + (mant - 1.0f);
}

const uint32_t* Arg(uint32_t arg, const uint32_t* diffuse, const uint32_t* current, const uint32_t* tex,
                    const uint32_t* factor, const uint32_t* zero, uint32_t* scratch, int m) {
  const uint32_t* src;
  switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE: src = diffuse; break;
    case D3DTA_CURRENT: src = current; break;
    case D3DTA_TEXTURE: src = tex; break;
    case D3DTA_TFACTOR: src = factor; break;
    default: src = zero; break;  // specular and temp: not produced, read as black
  }
  if (!(arg & (TA_COMPLEMENT | D3DTA_ALPHAREPLICATE))) return src;
  for (int j = 0; j < m; ++j) {
    uint32_t v = src[j];
    if (arg & D3DTA_ALPHAREPLICATE) v = Replicate(v >> 24);
    if (arg & TA_COMPLEMENT) v = ~v;
    scratch[j] = v;
  }
  return scratch;
}

// One combiner operation over the listed pixels, all four channels.
void Combine(uint32_t op, const uint32_t* a1, const uint32_t* a2, const uint32_t* a0, const uint32_t* diffuse,
             const uint32_t* tex, const uint32_t* factor, const uint32_t* current, uint32_t* out, int m) {
  switch (op) {
    case D3DTOP_SELECTARG1: memcpy(out, a1, size_t(m) * 4); break;
    case D3DTOP_SELECTARG2: memcpy(out, a2, size_t(m) * 4); break;
    case D3DTOP_MODULATE: ModulateN(a1, a2, out, m); break;
    case D3DTOP_MODULATE2X:
      for (int j = 0; j < m; ++j)
        out[j] = Map2(a1[j], a2[j], [](uint32_t a, uint32_t b) { return Sat(int(2 * Mul255(a, b))); });
      break;
    case TOP_MODULATE4X:
      for (int j = 0; j < m; ++j)
        out[j] = Map2(a1[j], a2[j], [](uint32_t a, uint32_t b) { return Sat(int(4 * Mul255(a, b))); });
      break;
    case D3DTOP_ADD:
      for (int j = 0; j < m; ++j) out[j] = Map2(a1[j], a2[j], [](uint32_t a, uint32_t b) { return Sat(int(a + b)); });
      break;
    case TOP_ADDSIGNED:
      for (int j = 0; j < m; ++j)
        out[j] = Map2(a1[j], a2[j], [](uint32_t a, uint32_t b) { return Sat(int(a + b) - 128); });
      break;
    case TOP_ADDSIGNED2X:
      for (int j = 0; j < m; ++j)
        out[j] = Map2(a1[j], a2[j], [](uint32_t a, uint32_t b) { return Sat(2 * (int(a + b) - 128)); });
      break;
    case TOP_SUBTRACT:
      for (int j = 0; j < m; ++j)
        out[j] = Map2(a1[j], a2[j], [](uint32_t a, uint32_t b) { return Sat(int(a) - int(b)); });
      break;
    case TOP_ADDSMOOTH:
      for (int j = 0; j < m; ++j)
        out[j] = Map2(a1[j], a2[j], [](uint32_t a, uint32_t b) { return Sat(int(a + b - Mul255(a, b))); });
      break;
    case TOP_BLENDDIFFUSEALPHA:
    case D3DTOP_BLENDTEXTUREALPHA:
    case TOP_BLENDFACTORALPHA:
    case TOP_BLENDCURRENTALPHA: {
      const uint32_t* alphaSrc = op == TOP_BLENDDIFFUSEALPHA   ? diffuse
                                 : op == D3DTOP_BLENDTEXTUREALPHA ? tex
                                 : op == TOP_BLENDFACTORALPHA     ? factor
                                                                  : current;
      for (int j = 0; j < m; ++j) {
        uint32_t al = alphaSrc[j] >> 24;
        out[j] = Lerp(a2[j], a1[j], al + (al >> 7));
      }
      break;
    }
    case TOP_BLENDTEXTUREALPHAPM:
      for (int j = 0; j < m; ++j) {
        uint32_t inv = 255 - (tex[j] >> 24);
        out[j] = Map2(a1[j], a2[j], [inv](uint32_t a, uint32_t b) { return Sat(int(a + Mul255(b, inv))); });
      }
      break;
    case D3DTOP_MULTIPLYADD:
      for (int j = 0; j < m; ++j)
        out[j] = Map3(a0[j], a1[j], a2[j],
                      [](uint32_t c, uint32_t a, uint32_t b) { return Sat(int(c + Mul255(a, b))); });
      break;
    case TOP_LERP:
      for (int j = 0; j < m; ++j)
        out[j] = Map3(a0[j], a1[j], a2[j], [](uint32_t c, uint32_t a, uint32_t b) {
          return Mul255(c, a) + Mul255(255 - c, b);
        });
      break;
    default: memcpy(out, a1, size_t(m) * 4); break;
  }
}

// What a stage's arguments can name, for the listed pixels.
struct CombineInputs {
  const uint32_t* diffuse;
  const uint32_t* current;
  const uint32_t* tex;
  const uint32_t* factor;
  const uint32_t* zero;
  uint32_t (*scratch)[RASTERISER_SPAN_MAX];  // three arrays for modified arguments
  int m;
};

// One stage operation with its arguments (arg1, arg2, arg0) into out.
void Evaluate(uint32_t op, const uint32_t* args, const CombineInputs& in, uint32_t* out) {
  const uint32_t* a[3];
  for (int k = 0; k < 3; ++k) {
    bool used = k < 2 || op == D3DTOP_MULTIPLYADD || op == TOP_LERP;
    a[k] = used ? Arg(args[k], in.diffuse, in.current, in.tex, in.factor, in.zero, in.scratch[k], in.m) : in.zero;
  }
  Combine(op, a[0], a[1], a[2], in.diffuse, in.tex, in.factor, in.current, out, in.m);
}

inline uint32_t BlendFactor(uint32_t f, uint32_t src, uint32_t dst) {
  switch (f) {
    case D3DBLEND_ZERO: return 0;
    case D3DBLEND_ONE: return 0xFFFFFFFFu;
    case D3DBLEND_SRCCOLOR: return src;
    case D3DBLEND_INVSRCCOLOR: return ~src;
    case D3DBLEND_SRCALPHA: return Replicate(src >> 24);
    case D3DBLEND_INVSRCALPHA: return Replicate(255 - (src >> 24));
    case D3DBLEND_DESTALPHA: return Replicate(dst >> 24);
    case D3DBLEND_INVDESTALPHA: return Replicate(255 - (dst >> 24));
    case D3DBLEND_DESTCOLOR: return dst;
    case D3DBLEND_INVDESTCOLOR: return ~dst;
    case D3DBLEND_SRCALPHASAT: {
      uint32_t sa = src >> 24, ida = 255 - (dst >> 24);
      return 0xFF000000u | Replicate(sa < ida ? sa : ida) >> 8;
    }
    default: return 0xFFFFFFFFu;
  }
}

inline bool Compare(uint32_t func, uint32_t a, uint32_t b) {
  switch (func) {
    case D3DCMP_NEVER: return false;
    case D3DCMP_LESS: return a < b;
    case D3DCMP_EQUAL: return a == b;
    case D3DCMP_LESSEQUAL: return a <= b;
    case D3DCMP_GREATER: return a > b;
    case D3DCMP_NOTEQUAL: return a != b;
    case D3DCMP_GREATEREQUAL: return a >= b;
    default: return true;
  }
}

inline uint32_t LoadDepth(const uint8_t* p, int bytes) {
  if (bytes == 2) return uint32_t(p[0]) | uint32_t(p[1]) << 8;
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}
inline void StoreDepth(uint8_t* p, int bytes, uint32_t v) {
  if (bytes == 2) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
  } else {
    memcpy(p, &v, 4);
  }
}

// Writes the shaded colours of the listed pixels with blending and the
// colour-write mask. `contiguous`: the list is 0 .. m-1.
template <bool FAST32>
void WritePixels(const RasteriserPlan& P, uint8_t* row, int x, const uint8_t* list, bool contiguous,
                 const uint32_t* colour, int m) {
  const uint32_t fmt = P.targetFormat;
  const int bpp = P.targetBytes;
  const bool keepDst = P.writeMask != 0xFFFFFFFFu;
  const uint32_t srcF = P.srcBlend, dstF = P.destBlend;
  const bool classic = P.blend && srcF == D3DBLEND_SRCALPHA && dstF == D3DBLEND_INVSRCALPHA;
  if (FAST32 && !keepDst && (classic || !P.blend)) {
    // The common cases on 32-bit targets: plain stores, or the usual alpha
    // blend computed four pixels at a time.
    uint8_t* base = row + size_t(x) * 4;
    uint32_t out[RASTERISER_SPAN_MAX];
    if (classic) {
      // This blend reads no destination alpha, so the undefined alpha byte
      // of an X8R8G8B8 target only reaches the alpha byte written back.
      uint32_t dst[RASTERISER_SPAN_MAX];
      if (contiguous) {
        memcpy(dst, base, size_t(m) * 4);
      } else {
        for (int j = 0; j < m; ++j) memcpy(&dst[j], base + size_t(list[j]) * 4, 4);
      }
      BlendAlphaN(colour, dst, out, m);
      colour = out;
    }
    if (contiguous) {
      memcpy(base, colour, size_t(m) * 4);
    } else {
      for (int j = 0; j < m; ++j) memcpy(base + size_t(list[j]) * 4, &colour[j], 4);
    }
    return;
  }
  const bool additive = P.blend && srcF == D3DBLEND_ONE && dstF == D3DBLEND_ONE;
  for (int j = 0; j < m; ++j) {
    uint8_t* px = row + size_t(x + list[j]) * bpp;
    uint32_t src = colour[j], out = src, dst = 0;
    if (P.blend || keepDst) {
      if (FAST32) {
        memcpy(&dst, px, 4);
        if (fmt == D3DFMT_X8R8G8B8) dst |= 0xFF000000u;
      } else {
        dst = RasteriserFormat_Load(fmt, px);
      }
    }
    if (classic) {
      uint32_t a = src >> 24;
      out = Lerp(dst, src, a + (a >> 7));
    } else if (additive) {
      out = Map2(src, dst, [](uint32_t a, uint32_t b) { return Sat(int(a + b)); });
    } else if (P.blend) {
      uint32_t sf = BlendFactor(srcF, src, dst), df = BlendFactor(dstF, src, dst);
      out = Map2(src, sf, Mul255);
      uint32_t d2 = Map2(dst, df, Mul255);
      out = Map2(out, d2, [](uint32_t a, uint32_t b) { return Sat(int(a + b)); });
    }
    if (keepDst) out = (out & P.writeMask) | (dst & ~P.writeMask);
    if (FAST32) {
      memcpy(px, &out, 4);
    } else {
      RasteriserFormat_Store(fmt, px, out);
    }
  }
}

// Level of detail per pixel: log2 of the larger screen derivative of the
// texel coordinates, from the planes of s/w, t/w and 1/w.
void LevelOfDetail(const RasteriserPlane& pu, const RasteriserPlane& pv, const RasteriserPlane& po, const float* s, const float* t,
                   const float* w, float* lod, int m) {
  // Derivatives of s = (s/w) / (1/w): ds/dx = w (d(s/w)/dx - s d(1/w)/dx).
  const float dox = po.dx, doy = po.dy;
  int j = 0;
  {
    // Four at a time with the scalar arithmetic below.
    const __m128 ox = _mm_set1_ps(dox), oy = _mm_set1_ps(doy), ux = _mm_set1_ps(pu.dx),
                 uy = _mm_set1_ps(pu.dy), vx = _mm_set1_ps(pv.dx), vy = _mm_set1_ps(pv.dy),
                 zero = _mm_setzero_ps(), halfF = _mm_set1_ps(0.5f), none = _mm_set1_ps(-100.0f),
                 oneF = _mm_set1_ps(1.0f);
    const __m128i expMask = _mm_set1_epi32(255), expBias = _mm_set1_epi32(127),
                  mantMask = _mm_set1_epi32(0x007FFFFF), mantOne = _mm_set1_epi32(0x3F800000);
    for (; j + 4 <= m; j += 4) {
      __m128 wv = _mm_loadu_ps(w + j), sv = _mm_loadu_ps(s + j), tv = _mm_loadu_ps(t + j);
      __m128 sx = _mm_mul_ps(wv, _mm_sub_ps(ux, _mm_mul_ps(sv, ox)));
      __m128 tx = _mm_mul_ps(wv, _mm_sub_ps(vx, _mm_mul_ps(tv, ox)));
      __m128 sy = _mm_mul_ps(wv, _mm_sub_ps(uy, _mm_mul_ps(sv, oy)));
      __m128 ty = _mm_mul_ps(wv, _mm_sub_ps(vy, _mm_mul_ps(tv, oy)));
      __m128 rx = _mm_add_ps(_mm_mul_ps(sx, sx), _mm_mul_ps(tx, tx));
      __m128 ry = _mm_add_ps(_mm_mul_ps(sy, sy), _mm_mul_ps(ty, ty));
      __m128 r = _mm_max_ps(rx, ry);
      __m128i bits = _mm_castps_si128(r);
      __m128 e = _mm_cvtepi32_ps(_mm_sub_epi32(_mm_and_si128(_mm_srli_epi32(bits, 23), expMask), expBias));
      __m128 mant = _mm_castsi128_ps(_mm_or_si128(_mm_and_si128(bits, mantMask), mantOne));
      __m128 l = _mm_mul_ps(halfF, _mm_add_ps(e, _mm_sub_ps(mant, oneF)));
      __m128 positive = _mm_cmpgt_ps(r, zero);
      _mm_storeu_ps(lod + j, _mm_or_ps(_mm_and_ps(positive, l), _mm_andnot_ps(positive, none)));
    }
  }
  for (; j < m; ++j) {
    float sx = w[j] * (pu.dx - s[j] * dox), tx = w[j] * (pv.dx - t[j] * dox);
    float sy = w[j] * (pu.dy - s[j] * doy), ty = w[j] * (pv.dy - t[j] * doy);
    float rx = sx * sx + tx * tx, ry = sy * sy + ty * ty;
    float r = rx > ry ? rx : ry;
    lod[j] = r > 0.0f ? 0.5f * Log2Approx(r) : -100.0f;
  }
}

}  // namespace

int RasteriserSpan_Plan(const D3D8DrawState* s, RasteriserPlan* P) {
  memset(P, 0, sizeof *P);
  P->state = s;
  const uint32_t* rs = s->renderStates;
  switch (s->target.format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_L8:
      break;
    default:
      return 0;
  }
  P->targetFormat = s->target.format;
  P->targetBytes = RasteriserFormat_BytesPerPixel(s->target.format);

  int attr = RASTERISER_ATTR_UV;
  for (int i = 0; i < int(D3D8_MAX_STAGES); ++i) {
    const uint32_t* ss = s->stageStates[i];
    if (ss[D3DTSS_COLOROP] == D3DTOP_DISABLE || ss[D3DTSS_COLOROP] == 0) break;
    RasteriserStage& st = P->stages[i];
    st.colourOp = ss[D3DTSS_COLOROP];
    st.colourArg[0] = ss[D3DTSS_COLORARG1];
    st.colourArg[1] = ss[D3DTSS_COLORARG2];
    st.colourArg[2] = ss[D3DTSS_COLORARG0];
    st.alphaOp = ss[D3DTSS_ALPHAOP];
    st.alphaArg[0] = ss[D3DTSS_ALPHAARG1];
    st.alphaArg[1] = ss[D3DTSS_ALPHAARG2];
    st.alphaArg[2] = ss[D3DTSS_ALPHAARG0];
    const D3D8DrawTexture* tex = s->textures[i];
    st.texture = tex;
    st.sample = tex && tex->levelCount > 0 && tex->levels[0].pixels && tex->levels[0].width > 0 &&
                tex->levels[0].height > 0;
    if (st.sample) {
      st.attr = attr;
      attr += 2;
      st.addressU = ss[D3DTSS_ADDRESSU];
      st.addressV = ss[D3DTSS_ADDRESSV];
      st.border = ss[D3DTSS_BORDERCOLOR];
      st.magFilter = ss[D3DTSS_MAGFILTER];
      st.minFilter = ss[D3DTSS_MINFILTER];
      st.mipFilter = ss[D3DTSS_MIPFILTER];
      int levels = tex->levelCount < D3D8_MAX_MIP_LEVELS ? tex->levelCount : D3D8_MAX_MIP_LEVELS;
      int usable = 1;
      while (usable < levels && tex->levels[usable].pixels && tex->levels[usable].width > 0 &&
             tex->levels[usable].height > 0)
        ++usable;
      if (st.mipFilter == D3DTEXF_NONE) usable = 1;
      st.levelCount = usable;
      bool minLinear = st.minFilter >= D3DTEXF_LINEAR, magLinear = st.magFilter >= D3DTEXF_LINEAR;
      st.needLod = usable > 1 || minLinear != magLinear;
      for (int l = 0; l < usable; ++l) {
        st.levelScaleU[l] = float(tex->levels[l].width) / float(tex->levels[0].width);
        st.levelScaleV[l] = float(tex->levels[l].height) / float(tex->levels[0].height);
      }
      // Masks replace addressing when every usable level wraps on power-of-two sides.
      st.wrapPow2 = st.addressU == D3DTADDRESS_WRAP && st.addressV == D3DTADDRESS_WRAP;
      for (int l = 0; l < usable; ++l) {
        int w = tex->levels[l].width, h = tex->levels[l].height;
        if ((w & (w - 1)) || (h & (h - 1))) st.wrapPow2 = false;
      }
    }
    P->stageCount = i + 1;
  }
  P->attrCount = attr;
  P->textureFactor = rs[D3DRS_TEXTUREFACTOR];
  for (int j = 0; j < RASTERISER_SPAN_MAX; ++j) P->factorSpan[j] = P->textureFactor, P->zeroSpan[j] = 0;

  uint32_t fogMode = rs[D3DRS_FOGTABLEMODE] ? rs[D3DRS_FOGTABLEMODE] : rs[D3DRS_FOGVERTEXMODE];
  P->fog = rs[D3DRS_FOGENABLE] && !s->layout.pretransformed && fogMode != D3DFOG_NONE;
  P->fogColour = rs[D3DRS_FOGCOLOR];
  P->alphaTest = rs[D3DRS_ALPHATESTENABLE] != 0;
  P->alphaFunc = rs[D3DRS_ALPHAFUNC];
  P->alphaRef = rs[D3DRS_ALPHAREF] & 255;
  const bool haveDepth = s->depth.pixels && RasteriserFormat_BytesPerPixel(s->depth.format) >= 2 &&
                         s->depth.width >= s->target.width && s->depth.height >= s->target.height;
  P->depthTest = haveDepth && rs[D3DRS_ZENABLE] != 0 && rs[D3DRS_ZFUNC] != D3DCMP_ALWAYS;
  P->depthWrite = haveDepth && rs[D3DRS_ZENABLE] != 0 && rs[D3DRS_ZWRITEENABLE] != 0;
  P->depthFunc = rs[D3DRS_ZFUNC];
  P->depthFormat = s->depth.format;
  P->depthMask = RasteriserFormat_DepthMask(s->depth.format);
  P->depthBytes = haveDepth ? RasteriserFormat_BytesPerPixel(s->depth.format) : 0;
  P->blend = rs[D3DRS_ALPHABLENDENABLE] != 0;
  P->srcBlend = rs[D3DRS_SRCBLEND];
  P->destBlend = rs[D3DRS_DESTBLEND];
  if (P->srcBlend == 12) P->srcBlend = D3DBLEND_SRCALPHA, P->destBlend = D3DBLEND_INVSRCALPHA;
  if (P->srcBlend == 13) P->srcBlend = D3DBLEND_INVSRCALPHA, P->destBlend = D3DBLEND_SRCALPHA;
  if (P->blend && P->srcBlend == D3DBLEND_ONE && P->destBlend == D3DBLEND_ZERO) P->blend = false;
  uint32_t cw = rs[D3DRS_COLORWRITEENABLE];
  P->writeMask = (cw & 1 ? 0x00FF0000u : 0) | (cw & 2 ? 0x0000FF00u : 0) | (cw & 4 ? 0x000000FFu : 0) |
                 (cw & 8 ? 0xFF000000u : 0);

  // The device clips the viewport to the target; clamp again so no write can
  // land outside the target whatever the record holds.
  P->clipX0 = std::max(s->scissor.x0, 0);
  P->clipY0 = std::max(s->scissor.y0, 0);
  P->clipX1 = std::min(s->scissor.x1, s->target.width);
  P->clipY1 = std::min(s->scissor.y1, s->target.height);
  return 1;
}

void RasteriserSpan_Shade(const RasteriserPlan* plan, const RasteriserSetup* S, int x, int y, int n) {
  const RasteriserPlan& P = *plan;
  const D3D8DrawState& st = *P.state;
  const float fx = float(x) - S->refX, fy = float(y) - S->refY;
  auto base = [&](const RasteriserPlane& p) { return p.v0 + p.dx * fx + p.dy * fy; };

  uint8_t list[RASTERISER_SPAN_MAX];
  uint32_t depthNew[RASTERISER_SPAN_MAX];
  int m = 0;
  uint8_t* drow = nullptr;
  if (P.depthTest || P.depthWrite) {
    drow = st.depth.pixels + size_t(y) * size_t(st.depth.pitch) + size_t(x) * P.depthBytes;
    const float z0 = base(S->p[0]), dz = S->p[0].dx;
    if (P.depthMask == 0xFFFFFF00u) {
      EncodeDepth24(z0, dz, depthNew, n);
    } else {
      for (int i = 0; i < n; ++i) depthNew[i] = RasteriserFormat_DepthEncode(P.depthFormat, z0 + dz * float(i));
    }
  }
  if (P.depthTest) {
    const uint32_t mask = P.depthMask, func = P.depthFunc;
    if (P.depthBytes == 4 && func == D3DCMP_LESSEQUAL) {
      for (int i = 0; i < n; ++i) {
        uint32_t old;
        memcpy(&old, drow + 4 * i, 4);
        list[m] = uint8_t(i);
        m += depthNew[i] <= (old & mask);
      }
    } else {
      for (int i = 0; i < n; ++i) {
        uint32_t old = LoadDepth(drow + i * P.depthBytes, P.depthBytes) & mask;
        if (Compare(func, depthNew[i], old)) list[m++] = uint8_t(i);
      }
    }
    if (!m) return;
  } else {
    for (int i = 0; i < n; ++i) list[i] = uint8_t(i);
    m = n;
  }

  // 1/w per pixel.
  float w[RASTERISER_SPAN_MAX];
  const float oow0 = base(S->p[1]), doow = S->p[1].dx;
  if (S->perspective) {
    Reciprocal(oow0, doow, list, w, m);
  } else {
    Broadcast(w, S->w, m);
  }

  uint32_t diffuse[RASTERISER_SPAN_MAX];
  if (S->flat) {
    Broadcast(diffuse, S->flatColour, m);
  } else {
    const RasteriserPlane* c = &S->p[2 + RASTERISER_ATTR_COLOUR];
    const float b[4] = {base(c[0]), base(c[1]), base(c[2]), base(c[3])};
    const float d[4] = {c[0].dx, c[1].dx, c[2].dx, c[3].dx};
    InterpolateColour(b, d, list, w, diffuse, m);
  }

  // Combiner. Stage 0's CURRENT is the diffuse colour; with no stage at all
  // the diffuse colour passes through.
  // Each stage writes a buffer other than the one holding CURRENT.
  uint32_t tex[RASTERISER_SPAN_MAX], stageOut[2][RASTERISER_SPAN_MAX], alphaOut[RASTERISER_SPAN_MAX];
  uint32_t scratch[3][RASTERISER_SPAN_MAX];
  const uint32_t* factor = P.factorSpan;
  const uint32_t* zero = P.zeroSpan;
  uint32_t* current = diffuse;
  for (int si = 0; si < P.stageCount; ++si) {
    const RasteriserStage& sg = P.stages[si];
    if (sg.sample) {
      float s[RASTERISER_SPAN_MAX], t[RASTERISER_SPAN_MAX], lod[RASTERISER_SPAN_MAX];
      const RasteriserPlane& pu = S->p[2 + sg.attr];
      const RasteriserPlane& pv = S->p[3 + sg.attr];
      const float u0 = base(pu), v0 = base(pv);
      Interpolate(u0, pu.dx, list, w, s, m);
      Interpolate(v0, pv.dx, list, w, t, m);
      if (sg.needLod) LevelOfDetail(pu, pv, S->p[1], s, t, w, lod, m);
      const PALETTEENTRY* pal = st.palette;
      uint32_t f = sg.texture->levels[0].format;
      if (f == D3DFMT_A8R8G8B8) {
        SampleStage(sg, pal, Fetch32{}, s, t, lod, tex, m);
      } else if (f == D3DFMT_X8R8G8B8) {
        // Filtering mixes the undefined alpha bytes; the result's alpha is 1.0.
        SampleStage(sg, pal, Fetch32{}, s, t, lod, tex, m);
        for (int j = 0; j < m; ++j) tex[j] |= 0xFF000000u;
      } else
        SampleStage(sg, pal, FetchAny{}, s, t, lod, tex, m);
    } else {
      for (int j = 0; j < m; ++j) tex[j] = 0xFFFFFFFFu;
    }
    const CombineInputs in = {diffuse, current, tex, factor, zero, scratch, m};
    uint32_t* colourOut = current == stageOut[0] ? stageOut[1] : stageOut[0];
    Evaluate(sg.colourOp, sg.colourArg, in, colourOut);
    if (sg.alphaOp == D3DTOP_DISABLE || sg.alphaOp == 0) {
      // Alpha passes through (stage 0: the diffuse alpha).
      for (int j = 0; j < m; ++j) colourOut[j] = (colourOut[j] & 0x00FFFFFFu) | (current[j] & 0xFF000000u);
    } else if (!(sg.alphaOp == sg.colourOp && sg.alphaArg[0] == sg.colourArg[0] &&
                 sg.alphaArg[1] == sg.colourArg[1] &&
                 ((sg.colourOp != D3DTOP_MULTIPLYADD && sg.colourOp != TOP_LERP) ||
                  sg.alphaArg[2] == sg.colourArg[2]))) {
      Evaluate(sg.alphaOp, sg.alphaArg, in, alphaOut);
      for (int j = 0; j < m; ++j) colourOut[j] = (colourOut[j] & 0x00FFFFFFu) | (alphaOut[j] & 0xFF000000u);
    }
    current = colourOut;
  }

  if (P.fog) {
    const RasteriserPlane& pf = S->p[2 + RASTERISER_ATTR_FOG];
    const float f0 = base(pf);
    float f[RASTERISER_SPAN_MAX];
    Interpolate(f0, pf.dx, list, w, f, m);
    FogN(current, f, P.fogColour, m);
  }

  if (P.alphaTest) {
    int k = 0;
    for (int j = 0; j < m; ++j) {
      if (Compare(P.alphaFunc, current[j] >> 24, P.alphaRef)) {
        list[k] = list[j];
        current[k] = current[j];
        ++k;
      }
    }
    m = k;
    if (!m) return;
  }

  uint8_t* row = st.target.pixels + size_t(y) * size_t(st.target.pitch);
  const bool contiguous = m == n;  // nothing failed a test: the list is 0 .. n-1
  if (P.targetBytes == 4)
    WritePixels<true>(P, row, x, list, contiguous, current, m);
  else
    WritePixels<false>(P, row, x, list, contiguous, current, m);

  if (P.depthWrite) {
    const uint32_t mask = P.depthMask;
    if (contiguous && P.depthBytes == 4 && mask == 0xFFFFFF00u) {
      for (int j = 0; j < m; ++j) {
        uint32_t old;
        memcpy(&old, drow + 4 * j, 4);
        old = (old & 0xFFu) | depthNew[j];
        memcpy(drow + 4 * j, &old, 4);
      }
      return;
    }
    for (int j = 0; j < m; ++j) {
      uint8_t* d = drow + list[j] * P.depthBytes;
      uint32_t old = LoadDepth(d, P.depthBytes);
      StoreDepth(d, P.depthBytes, (old & ~mask) | depthNew[list[j]]);
    }
  }
}
