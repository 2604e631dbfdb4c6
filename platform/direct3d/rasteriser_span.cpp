// Pixel stage of the software rasteriser: shades rows of 2x2 pixel quads
// inside one tile (rasteriser.cpp walks the triangles' edges into them).
// Every step (depth test, interpolation, texture sampling, combiner, fog,
// alpha test, blending and writes) is a tight loop over the lanes (pixels)
// of the row, four at a time in SSE2, which every x86-64 CPU has: the same
// bits everywhere. Decisions are made per draw (the plan), per call or per
// quad, never per pixel; quads whose pixels all fail the depth test are
// dropped before any texture is read. The common draws are shaded by fused
// kernels instead (rasteriser_kernel.h), which give the same bits in one
// pass, in SSE2 or in AVX2 when the CPU has it.
//
// A quad's four pixels share one texture level: the level of detail comes
// from the differences of the texture coordinates across the quad, as on
// graphics hardware. Pixels of a quad outside the primitive or the scissor
// (helper lanes) are computed for that but never read from or written to the
// target.
#include <cpuid.h>
#include <emmintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "platform/direct3d/rasteriser.h"
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

// Keeps texel coordinates where the fixed-point conversions cannot overflow
// (NaN lands on the lower bound).
inline float ClampCoord(float v) {
  if (!(v > -4.0e6f)) return -4.0e6f;
  return v < 4.0e6f ? v : 4.0e6f;
}

// Where the lanes of a call sit relative to a primitive's reference point.
// Both coordinates are exact in float (positions snap to 1/16 pixel), so a
// pixel's values never depend on the call or the quads it is shaded with.
struct Lanes {
  int quads, lanes;
  alignas(16) float fx[RASTERISER_LANES_MAX];
  alignas(16) float fy[RASTERISER_LANES_MAX];
};

void PlaceLanes(const RasteriserSetup& S, const RasteriserQuads& Q, Lanes* L) {
  L->quads = Q.count;
  L->lanes = 4 * Q.count;
  // Four quads at a time: x - refX and y - refY, exact, then +1 for the
  // second column and row (also exact).
  const __m128 rx = _mm_set1_ps(S.refX), ry = _mm_set1_ps(S.refY), one = _mm_set1_ps(1.0f);
  for (int q = 0; q < Q.count; q += 4) {
    int64_t xs, ys;
    memcpy(&xs, Q.x + q, 8);  // the arrays have room for the last group of four
    memcpy(&ys, Q.y + q, 8);
    const __m128i xi = _mm_srai_epi32(_mm_unpacklo_epi16(_mm_cvtsi64_si128(xs), _mm_cvtsi64_si128(xs)), 16);
    const __m128i yi = _mm_srai_epi32(_mm_unpacklo_epi16(_mm_cvtsi64_si128(ys), _mm_cvtsi64_si128(ys)), 16);
    const __m128 x0 = _mm_sub_ps(_mm_cvtepi32_ps(xi), rx), y0 = _mm_sub_ps(_mm_cvtepi32_ps(yi), ry);
    const __m128 x1 = _mm_add_ps(x0, one), y1 = _mm_add_ps(y0, one);
    const __m128 xa = _mm_unpacklo_ps(x0, x1), xb = _mm_unpackhi_ps(x0, x1);  // x0 x1 of quads 0, 1 | 2, 3
    const __m128 ya = _mm_unpacklo_ps(y0, y0), yb = _mm_unpackhi_ps(y0, y0);
    const __m128 yc = _mm_unpacklo_ps(y1, y1), yd = _mm_unpackhi_ps(y1, y1);
    float* fx = L->fx + 4 * q;
    float* fy = L->fy + 4 * q;
    _mm_store_ps(fx + 0, _mm_movelh_ps(xa, xa));
    _mm_store_ps(fx + 4, _mm_movehl_ps(xa, xa));
    _mm_store_ps(fx + 8, _mm_movelh_ps(xb, xb));
    _mm_store_ps(fx + 12, _mm_movehl_ps(xb, xb));
    _mm_store_ps(fy + 0, _mm_movelh_ps(ya, yc));
    _mm_store_ps(fy + 4, _mm_movehl_ps(yc, ya));
    _mm_store_ps(fy + 8, _mm_movelh_ps(yb, yd));
    _mm_store_ps(fy + 12, _mm_movehl_ps(yd, yb));
  }
}

// out[lane] = (v0 + dy fy) + dx fx: a plane's value at every lane.
inline void PlaneLanes(const RasteriserPlane& p, const Lanes& L, float* out) {
  const __m128 v0 = _mm_set1_ps(p.v0), dx = _mm_set1_ps(p.dx), dy = _mm_set1_ps(p.dy);
  for (int j = 0; j < L.lanes; j += 4) {
    const __m128 row = _mm_add_ps(v0, _mm_mul_ps(dy, _mm_load_ps(L.fy + j)));
    _mm_store_ps(out + j, _mm_add_ps(row, _mm_mul_ps(dx, _mm_load_ps(L.fx + j))));
  }
}

// w[lane] = 1 / (1/w plane).
inline void ReciprocalLanes(const RasteriserPlane& p, const Lanes& L, float* w) {
  PlaneLanes(p, L, w);
  const __m128 one = _mm_set1_ps(1.0f);
  for (int j = 0; j < L.lanes; j += 4) _mm_store_ps(w + j, _mm_div_ps(one, _mm_load_ps(w + j)));
}

// out[lane] = ClampCoord(plane x w): a perspective-correct attribute.
inline void AttributeLanes(const RasteriserPlane& p, const Lanes& L, const float* w, float* out) {
  PlaneLanes(p, L, out);
  const __m128 lo = _mm_set1_ps(-4.0e6f), hi = _mm_set1_ps(4.0e6f);
  for (int j = 0; j < L.lanes; j += 4) {
    __m128 v = _mm_mul_ps(_mm_load_ps(out + j), _mm_load_ps(w + j));
    _mm_store_ps(out + j, _mm_min_ps(_mm_max_ps(v, lo), hi));  // max gives lo for NaN
  }
}

// Perspective-correct vertex colour (r, g, b, a planes in 0..255 x 1/w),
// rounded and clamped.
void ColourLanes(const RasteriserPlane* c, const Lanes& L, const float* w, uint32_t* out) {
  const __m128 zero = _mm_setzero_ps(), top = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f);
  __m128 v0[4], dx[4], dy[4];
  for (int k = 0; k < 4; ++k) {
    v0[k] = _mm_set1_ps(c[k].v0);
    dx[k] = _mm_set1_ps(c[k].dx);
    dy[k] = _mm_set1_ps(c[k].dy);
  }
  for (int j = 0; j < L.lanes; j += 4) {
    const __m128 fx = _mm_load_ps(L.fx + j), fy = _mm_load_ps(L.fy + j), ww = _mm_load_ps(w + j);
    auto channel = [&](int k) {
      const __m128 row = _mm_add_ps(v0[k], _mm_mul_ps(dy[k], fy));
      __m128 v = _mm_add_ps(_mm_mul_ps(_mm_add_ps(row, _mm_mul_ps(dx[k], fx)), ww), half);
      return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(v, zero), top));  // NaN reads 0
    };
    __m128i argb = _mm_or_si128(_mm_or_si128(_mm_slli_epi32(channel(3), 24), _mm_slli_epi32(channel(0), 16)),
                                _mm_or_si128(_mm_slli_epi32(channel(1), 8), channel(2)));
    _mm_store_si128(reinterpret_cast<__m128i*>(out + j), argb);
  }
}

// Depth of every lane in the depth surface's stored form, with the
// arithmetic of RasteriserFormat_DepthEncode (the 24-bit formats four lanes
// at a time).
void DepthLanes(const RasteriserPlan& P, const RasteriserPlane& p, const Lanes& L, uint32_t* out) {
  alignas(16) float z[RASTERISER_LANES_MAX];
  PlaneLanes(p, L, z);
  if (P.depthMask != 0xFFFFFF00u) {
    for (int j = 0; j < L.lanes; ++j) out[j] = RasteriserFormat_DepthEncode(P.depthFormat, z[j]);
    return;
  }
  const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f), scale = _mm_set1_ps(16777215.0f),
               half = _mm_set1_ps(0.5f);
  const __m128i carry = _mm_set1_epi32(0x1000000);
  for (int j = 0; j < L.lanes; j += 4) {
    __m128 v = _mm_min_ps(_mm_max_ps(_mm_load_ps(z + j), zero), one);  // NaN becomes 0, as in the scalar code
    __m128i e = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, scale), half));
    e = _mm_add_epi32(e, _mm_cmpeq_epi32(e, carry));  // 2^24 back to 2^24 - 1
    _mm_store_si128(reinterpret_cast<__m128i*>(out + j), _mm_slli_epi32(e, 8));
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


// Texel fetchers: the tiled A8R8G8B8 copy, 32-bit rows (render-target
// textures; X8R8G8B8 texels read their stored alpha byte and the caller sets
// alpha after filtering), or any format through RasteriserFormat_Texel.
struct FetchTiled {
  inline uint32_t operator()(const RasteriserLevel& l, const PALETTEENTRY*, int x, int y) const {
    return l.tiled[2 * (size_t((y >> 2) * l.blocksPerRow + (x >> 2)) * 16 + size_t((y & 3) << 2 | (x & 3)))];
  }
};
struct Fetch32 {
  inline uint32_t operator()(const RasteriserLevel& l, const PALETTEENTRY*, int x, int y) const {
    uint32_t v;
    memcpy(&v, l.surface->pixels + size_t(y) * size_t(l.surface->pitch) + size_t(x) * 4, 4);
    return v;
  }
};
struct FetchAny {
  inline uint32_t operator()(const RasteriserLevel& l, const PALETTEENTRY* pal, int x, int y) const {
    return RasteriserFormat_Texel(l.surface, pal, x, y);
  }
};

template <class F>
inline uint32_t SampleLevel(const RasteriserStage& st, const RasteriserLevel& l, const PALETTEENTRY* pal,
                            const F& fetch, float s, float t, bool linear) {
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
__attribute__((always_inline)) inline uint32_t WrapPoint(const RasteriserLevel& l, const PALETTEENTRY* pal,
                                                         const F& fetch, float s, float t) {
  return fetch(l, pal, PointTexel(s) & (l.width - 1), PointTexel(t) & (l.height - 1));
}

// The four texels and weights of wrapped bilinear samples for one quad's
// lanes j .. j+3 (coordinates already scaled to the level): coordinates, wrap
// masks and weights four at a time (the conversions of Fixed8), the texel
// loads one by one. c holds four arrays of RASTERISER_LANES_MAX.
template <class F>
__attribute__((always_inline)) inline void WrapGather4(const RasteriserLevel& l, const PALETTEENTRY* pal,
                                                       const F& fetch, __m128 s, __m128 t, uint32_t* c, uint32_t* wx,
                                                       uint32_t* wy, int j) {
  const __m128i mx = _mm_set1_epi32(l.width - 1), my = _mm_set1_epi32(l.height - 1), one = _mm_set1_epi32(1),
                bias = _mm_set1_epi32(128), low = _mm_set1_epi32(255);
  const __m128 scale = _mm_set1_ps(256.0f);
  __m128i fs = _mm_sub_epi32(_mm_cvtps_epi32(_mm_mul_ps(s, scale)), bias);
  __m128i ft = _mm_sub_epi32(_mm_cvtps_epi32(_mm_mul_ps(t, scale)), bias);
  alignas(16) int32_t x0[4], x1[4], y0[4], y1[4];
  __m128i vx0 = _mm_and_si128(_mm_srai_epi32(fs, 8), mx), vy0 = _mm_and_si128(_mm_srai_epi32(ft, 8), my);
  __m128i vx1 = _mm_and_si128(_mm_add_epi32(vx0, one), mx), vy1 = _mm_and_si128(_mm_add_epi32(vy0, one), my);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(wx + j), _mm_and_si128(fs, low));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(wy + j), _mm_and_si128(ft, low));
  _mm_store_si128(reinterpret_cast<__m128i*>(x0), vx0);
  _mm_store_si128(reinterpret_cast<__m128i*>(y0), vy0);
  _mm_store_si128(reinterpret_cast<__m128i*>(x1), vx1);
  _mm_store_si128(reinterpret_cast<__m128i*>(y1), vy1);
  for (int k = 0; k < 4; ++k) {
    c[j + k] = fetch(l, pal, x0[k], y0[k]);
    c[RASTERISER_LANES_MAX + j + k] = fetch(l, pal, x1[k], y0[k]);
    c[2 * RASTERISER_LANES_MAX + j + k] = fetch(l, pal, x0[k], y1[k]);
    c[3 * RASTERISER_LANES_MAX + j + k] = fetch(l, pal, x1[k], y1[k]);
  }
}

// Wrapped bilinear samples of one quad's four lanes from a level's tiled
// pairs (coordinates already scaled to the level; wrapped power-of-two
// sides): each lane's four texels arrive in two 8-byte loads, and the blend
// gives exactly the results of Bilinear() (the same weights, the same sums:
// no partial sum exceeds 255 x 256).
__attribute__((always_inline)) inline __m128i BilinearPairs(const RasteriserLevel& l, __m128 s, __m128 t) {
  const __m128i mx = _mm_set1_epi32(l.width - 1), my = _mm_set1_epi32(l.height - 1), one = _mm_set1_epi32(1),
                bias = _mm_set1_epi32(128), low = _mm_set1_epi32(255), three = _mm_set1_epi32(3),
                full = _mm_set1_epi32(256), zero = _mm_setzero_si128();
  const __m128 scale = _mm_set1_ps(256.0f);
  const __m128i fs = _mm_sub_epi32(_mm_cvtps_epi32(_mm_mul_ps(s, scale)), bias);
  const __m128i ft = _mm_sub_epi32(_mm_cvtps_epi32(_mm_mul_ps(t, scale)), bias);
  const __m128i x0 = _mm_and_si128(_mm_srai_epi32(fs, 8), mx), y0 = _mm_and_si128(_mm_srai_epi32(ft, 8), my);
  const __m128i y1 = _mm_and_si128(_mm_add_epi32(y0, one), my);
  // Pair indices: a column's part ((x / 4) x 16 + x % 4) plus a row's part
  // ((y / 4) x blocks per row x 16 + (y % 4) x 4), doubled (two words a pair).
  const __m128i rowShift = _mm_cvtsi32_si128(l.blockRowShift);
  auto row = [&](__m128i y) {
    return _mm_or_si128(_mm_sll_epi32(_mm_srli_epi32(y, 2), rowShift), _mm_slli_epi32(_mm_and_si128(y, three), 2));
  };
  const __m128i column = _mm_or_si128(_mm_slli_epi32(_mm_srli_epi32(x0, 2), 4), _mm_and_si128(x0, three));
  alignas(16) int32_t top[4], bottom[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(top), _mm_slli_epi32(_mm_add_epi32(column, row(y0)), 1));
  _mm_store_si128(reinterpret_cast<__m128i*>(bottom), _mm_slli_epi32(_mm_add_epi32(column, row(y1)), 1));
  // The weights of the four texels (each at most 256; wx x wy fits 16 bits).
  const __m128i wx = _mm_and_si128(fs, low), wy = _mm_and_si128(ft, low);
  const __m128i w11 = _mm_srli_epi32(_mm_add_epi32(_mm_mullo_epi16(wx, wy), bias), 8);
  const __m128i w10 = _mm_sub_epi32(wx, w11), w01 = _mm_sub_epi32(wy, w11);
  const __m128i w00 = _mm_add_epi32(_mm_sub_epi32(_mm_sub_epi32(full, wx), wy), w11);
  // Per lane: (w00, w10) against the top pair, (w01, w11) against the bottom,
  // each weight in the four 16-bit channels of its texel.
  const __m128i top01 = _mm_unpacklo_epi32(w00, w10), top23 = _mm_unpackhi_epi32(w00, w10);
  const __m128i bottom01 = _mm_unpacklo_epi32(w01, w11), bottom23 = _mm_unpackhi_epi32(w01, w11);
  const uint32_t* texels = l.tiled;
  auto blend = [&](int k, __m128i topW, __m128i bottomW) {
    const __m128i pair = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(texels + top[k])),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(texels + bottom[k])));
    const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(pair, zero), topW),
                                      _mm_mullo_epi16(_mm_unpackhi_epi8(pair, zero), bottomW));
    return _mm_srli_epi16(_mm_add_epi16(sum, _mm_unpackhi_epi64(sum, sum)), 8);
  };
  const __m128i r0 = blend(0, SpreadWeights(top01, false), SpreadWeights(bottom01, false));
  const __m128i r1 = blend(1, SpreadWeights(top01, true), SpreadWeights(bottom01, true));
  const __m128i r2 = blend(2, SpreadWeights(top23, false), SpreadWeights(bottom23, false));
  const __m128i r3 = blend(3, SpreadWeights(top23, true), SpreadWeights(bottom23, true));
  return _mm_packus_epi16(_mm_unpacklo_epi64(r0, r1), _mm_unpacklo_epi64(r2, r3));
}

// a + (b - a) x w / 256 per channel, one weight for the four lanes (LerpN's arithmetic).
inline __m128i LerpQuad(__m128i a, __m128i b, uint32_t w) {
  const __m128i zero = _mm_setzero_si128(), wb = _mm_set1_epi16(int16_t(w)), wa = _mm_set1_epi16(int16_t(256 - w));
  const __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), wa), _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), wb));
  const __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), wa), _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), wb));
  return _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8));
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

// Level of detail of one quad: log2 of the larger screen step of its texel
// coordinates, across (lanes 0 to 1) or down (lanes 0 to 2). -100 when the
// coordinates do not move (a point, a constant mapping).
inline float QuadLod(const float* s, const float* t) {
  const float sx = s[1] - s[0], tx = t[1] - t[0], sy = s[2] - s[0], ty = t[2] - t[0];
  const float rx = sx * sx + tx * tx, ry = sy * sy + ty * ty;
  const float r = rx > ry ? rx : ry;
  return r > 0.0f ? 0.5f * Log2Approx(r) : -100.0f;
}

// Samples one stage for every lane of `quads` quads, one level (or pair of
// levels) per quad.
template <class F>
void SampleStage(const RasteriserStage& st, const PALETTEENTRY* pal, const F& fetch, const float* s, const float* t,
                 int quads, uint32_t* out) {
  const bool magLinear = st.magFilter >= D3DTEXF_LINEAR, minLinear = st.minFilter >= D3DTEXF_LINEAR;
  const int lanes = 4 * quads;
  alignas(16) uint32_t c[4 * RASTERISER_LANES_MAX];
  alignas(16) uint32_t wx[RASTERISER_LANES_MAX], wy[RASTERISER_LANES_MAX];
  const bool pairs = std::is_same_v<F, FetchTiled> && st.wrapPow2;
  if (!st.needLod) {
    const RasteriserLevel& l = st.levels[0];
    if (pairs && magLinear) {
      for (int j = 0; j < lanes; j += 4)
        _mm_store_si128(reinterpret_cast<__m128i*>(out + j), BilinearPairs(l, _mm_load_ps(s + j), _mm_load_ps(t + j)));
    } else if (st.wrapPow2 && magLinear) {
      for (int j = 0; j < lanes; j += 4) WrapGather4(l, pal, fetch, _mm_load_ps(s + j), _mm_load_ps(t + j), c, wx, wy, j);
      BilinearN(c, c + RASTERISER_LANES_MAX, c + 2 * RASTERISER_LANES_MAX, c + 3 * RASTERISER_LANES_MAX, wx, wy, out,
                lanes);
    } else if (st.wrapPow2) {
      for (int j = 0; j < lanes; ++j) out[j] = WrapPoint(l, pal, fetch, s[j], t[j]);
    } else {
      for (int j = 0; j < lanes; ++j) out[j] = SampleLevel(st, l, pal, fetch, s[j], t[j], magLinear);
    }
    return;
  }
  // One level (and a fraction towards the next) per quad.
  const int last = st.levelCount - 1;
  int level[RASTERISER_QUADS_MAX];
  uint32_t frac[RASTERISER_QUADS_MAX];
  bool minified[RASTERISER_QUADS_MAX];
  bool anyFrac = false;
  for (int q = 0; q < quads; ++q) {
    const float d = QuadLod(s + 4 * q, t + 4 * q);
    level[q] = 0;
    frac[q] = 0;
    minified[q] = d > 0.0f;
    if (!minified[q]) continue;
    if (st.mipFilter == D3DTEXF_POINT) {
      level[q] = int(d + 0.5f);
    } else if (st.mipFilter >= D3DTEXF_LINEAR) {
      // One conversion gives level and 8-bit fraction (d x 256 is exact).
      const int fixed = int(d * 256.0f);
      level[q] = fixed >> 8;
      frac[q] = uint32_t(fixed & 255);
    }
    if (level[q] >= last) level[q] = last, frac[q] = 0;
    anyFrac |= frac[q] != 0;
  }
  if (pairs && minLinear && magLinear) {
    // Trilinear (or bilinear with mip selection), a quad at a time.
    for (int q = 0, j = 0; q < quads; ++q, j += 4) {
      const RasteriserLevel& l = st.levels[level[q]];
      const __m128 sv = _mm_load_ps(s + j), tv = _mm_load_ps(t + j);
      __m128i c = BilinearPairs(l, _mm_mul_ps(sv, _mm_set1_ps(l.scaleU)), _mm_mul_ps(tv, _mm_set1_ps(l.scaleV)));
      if (frac[q]) {
        const RasteriserLevel& l2 = st.levels[level[q] + 1];
        c = LerpQuad(c, BilinearPairs(l2, _mm_mul_ps(sv, _mm_set1_ps(l2.scaleU)), _mm_mul_ps(tv, _mm_set1_ps(l2.scaleV))),
                     frac[q]);
      }
      _mm_store_si128(reinterpret_cast<__m128i*>(out + j), c);
    }
    return;
  }
  if (st.wrapPow2 && minLinear && magLinear) {
    // Trilinear (or bilinear with mip selection): gather both levels, then
    // blend four lanes at a time. Quads without a second level gather
    // nothing there and blend with weight 0.
    alignas(16) uint32_t c2[4 * RASTERISER_LANES_MAX];
    alignas(16) uint32_t wx2[RASTERISER_LANES_MAX], wy2[RASTERISER_LANES_MAX], fracLanes[RASTERISER_LANES_MAX];
    alignas(16) uint32_t a[RASTERISER_LANES_MAX], b[RASTERISER_LANES_MAX];
    for (int q = 0, j = 0; q < quads; ++q, j += 4) {
      const RasteriserLevel& l = st.levels[level[q]];
      const __m128 sv = _mm_load_ps(s + j), tv = _mm_load_ps(t + j);
      WrapGather4(l, pal, fetch, _mm_mul_ps(sv, _mm_set1_ps(l.scaleU)), _mm_mul_ps(tv, _mm_set1_ps(l.scaleV)), c, wx,
                  wy, j);
      _mm_store_si128(reinterpret_cast<__m128i*>(fracLanes + j), _mm_set1_epi32(int(frac[q])));
      if (frac[q]) {
        const RasteriserLevel& l2 = st.levels[level[q] + 1];
        WrapGather4(l2, pal, fetch, _mm_mul_ps(sv, _mm_set1_ps(l2.scaleU)), _mm_mul_ps(tv, _mm_set1_ps(l2.scaleV)),
                    c2, wx2, wy2, j);
      } else if (anyFrac) {
        for (int k = 0; k < 4; ++k) {
          c2[j + k] = c2[RASTERISER_LANES_MAX + j + k] = c2[2 * RASTERISER_LANES_MAX + j + k] =
              c2[3 * RASTERISER_LANES_MAX + j + k] = 0;
          wx2[j + k] = wy2[j + k] = 0;
        }
      }
    }
    BilinearN(c, c + RASTERISER_LANES_MAX, c + 2 * RASTERISER_LANES_MAX, c + 3 * RASTERISER_LANES_MAX, wx, wy,
              anyFrac ? a : out, lanes);
    if (anyFrac) {
      BilinearN(c2, c2 + RASTERISER_LANES_MAX, c2 + 2 * RASTERISER_LANES_MAX, c2 + 3 * RASTERISER_LANES_MAX, wx2, wy2,
                b, lanes);
      LerpN(a, b, fracLanes, out, lanes);
    }
    return;
  }
  for (int q = 0; q < quads; ++q) {
    const bool linear = minified[q] ? minLinear : magLinear;
    const RasteriserLevel& l = st.levels[level[q]];
    for (int j = 4 * q; j < 4 * q + 4; ++j) {
      const float sj = s[j] * l.scaleU, tj = t[j] * l.scaleV;
      uint32_t v = SampleLevel(st, l, pal, fetch, sj, tj, linear);
      if (frac[q]) {
        const RasteriserLevel& l2 = st.levels[level[q] + 1];
        v = Lerp(v, SampleLevel(st, l2, pal, fetch, s[j] * l2.scaleU, t[j] * l2.scaleV, linear), frac[q]);
      }
      out[j] = v;
    }
  }
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
  uint32_t (*scratch)[RASTERISER_LANES_MAX];  // three arrays for modified arguments
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


// A target or depth surface as the quads address it. `inside`: every pixel
// of every quad of the call lies in the surface, so quads move in two 8-byte
// loads or stores (4-byte pixels); else only live pixels are touched.
// The quads' top-left pixels are found once per call and surface.
struct Pixels {
  uint8_t* base;
  size_t pitch;
  bool inside;
  const uint32_t* at;  // byte offset of each quad's top-left pixel
};
inline void PixelsOf(const D3D8DrawSurface& s, const uint32_t* at, const RasteriserQuads& Q, Pixels* p) {
  p->base = s.pixels;
  p->pitch = size_t(s.pitch);
  p->inside = Q.right < s.width && Q.bottom < s.height;
  p->at = at;
}
inline uint8_t* QuadPixel(const Pixels& p, const RasteriserQuads&, int q, int) { return p.base + p.at[q]; }
inline uint8_t* LanePixel(const Pixels& p, const RasteriserQuads& Q, int q, int k, int bytes) {
  return QuadPixel(p, Q, q, bytes) + (k >> 1) * p.pitch + size_t(k & 1) * size_t(bytes);
}

// Lane k of a quad as an all-ones 32-bit field, by mask.
alignas(16) const uint32_t kLaneMasks[16][4] = {
    {0, 0, 0, 0}, {~0u, 0, 0, 0}, {0, ~0u, 0, 0}, {~0u, ~0u, 0, 0}, {0, 0, ~0u, 0}, {~0u, 0, ~0u, 0},
    {0, ~0u, ~0u, 0}, {~0u, ~0u, ~0u, 0}, {0, 0, 0, ~0u}, {~0u, 0, 0, ~0u}, {0, ~0u, 0, ~0u}, {~0u, ~0u, 0, ~0u},
    {0, 0, ~0u, ~0u}, {~0u, 0, ~0u, ~0u}, {0, ~0u, ~0u, ~0u}, {~0u, ~0u, ~0u, ~0u}};

// The stored 32-bit pixels of the quads' lanes (dead lanes outside the
// surface read 0).
void Load32(const Pixels& p, const RasteriserQuads& Q, uint32_t* out) {
  if (p.inside) {
    for (int q = 0; q < Q.count; ++q) {
      const uint8_t* at = QuadPixel(p, Q, q, 4);
      memcpy(out + 4 * q, at, 8);
      memcpy(out + 4 * q + 2, at + p.pitch, 8);
    }
    return;
  }
  for (int q = 0; q < Q.count; ++q)
    for (int k = 0; k < 4; ++k) {
      out[4 * q + k] = 0;
      if (Q.mask[q] >> k & 1) memcpy(&out[4 * q + k], LanePixel(p, Q, q, k, 4), 4);
    }
}

// Stores the live lanes. A partly live quad is merged with what the surface
// holds and stored whole: the pixels it rewrites are its own tile's, so no
// other thread can be writing them.
void Store32(const Pixels& p, const RasteriserQuads& Q, const uint32_t* in) {
  if (!p.inside) {
    for (int q = 0; q < Q.count; ++q)
      for (int k = 0; k < 4; ++k)
        if (Q.mask[q] >> k & 1) memcpy(LanePixel(p, Q, q, k, 4), &in[4 * q + k], 4);
    return;
  }
  for (int q = 0; q < Q.count; ++q) {
    uint8_t* at = QuadPixel(p, Q, q, 4);
    const uint32_t* v = in + 4 * q;
    if (Q.mask[q] != 15) {
      alignas(16) uint32_t merged[4];
      memcpy(merged, at, 8);
      memcpy(merged + 2, at + p.pitch, 8);
      const __m128i m = _mm_load_si128(reinterpret_cast<const __m128i*>(kLaneMasks[Q.mask[q]]));
      _mm_store_si128(reinterpret_cast<__m128i*>(merged),
                      _mm_or_si128(_mm_and_si128(m, _mm_loadu_si128(reinterpret_cast<const __m128i*>(v))),
                                   _mm_andnot_si128(m, _mm_load_si128(reinterpret_cast<const __m128i*>(merged)))));
      v = merged;
      memcpy(at, v, 8);
      memcpy(at + p.pitch, v + 2, 8);
      continue;
    }
    memcpy(at, v, 8);
    memcpy(at + p.pitch, v + 2, 8);
  }
}

// Writes the shaded colours of the live lanes with blending and the
// colour-write mask.
void WriteColour(const RasteriserPlan& P, const RasteriserQuads& Q, const uint32_t* colour) {
  const uint32_t fmt = P.targetFormat;
  const int bpp = P.targetBytes;
  const bool keepDst = P.writeMask != 0xFFFFFFFFu;
  const uint32_t srcF = P.srcBlend, dstF = P.destBlend;
  const bool classic = P.blend && srcF == D3DBLEND_SRCALPHA && dstF == D3DBLEND_INVSRCALPHA;
  Pixels rows;
  PixelsOf(P.target, Q.targetAt, Q, &rows);
  const int lanes = 4 * Q.count;
  if (bpp == 4 && !keepDst && (classic || !P.blend)) {
    // The common cases on 32-bit targets: plain stores, or the usual alpha
    // blend computed four lanes at a time. This blend reads no destination
    // alpha, so the undefined alpha byte of an X8R8G8B8 target only reaches
    // the alpha byte written back.
    if (classic) {
      alignas(16) uint32_t dst[RASTERISER_LANES_MAX], out[RASTERISER_LANES_MAX];
      Load32(rows, Q, dst);
      BlendAlphaN(colour, dst, out, lanes);
      Store32(rows, Q, out);
    } else {
      Store32(rows, Q, colour);
    }
    return;
  }
  const bool additive = P.blend && srcF == D3DBLEND_ONE && dstF == D3DBLEND_ONE;
  for (int q = 0; q < Q.count; ++q)
    for (int k = 0; k < 4; ++k) {
      if (!(Q.mask[q] >> k & 1)) continue;
      uint8_t* px = LanePixel(rows, Q, q, k, bpp);
      uint32_t src = colour[4 * q + k], out = src, dst = 0;
      if (P.blend || keepDst) {
        if (bpp == 4) {
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
      if (bpp == 4)
        memcpy(px, &out, 4);
      else
        RasteriserFormat_Store(fmt, px, out);
    }
}

// The depth test on a 4-byte depth surface, four lanes at a time: unsigned
// compares of the new values with the stored ones' depth bits.
void DepthTest32(const RasteriserPlan& P, const Pixels& rows, RasteriserQuads* Q, const uint32_t* depthNew,
                 uint32_t* old) {
  Load32(rows, *Q, old);
  const __m128i bias = _mm_set1_epi32(int(0x80000000u)), mask = _mm_set1_epi32(int(P.depthMask));
  const uint32_t func = P.depthFunc;
  for (int q = 0; q < Q->count; ++q) {
    // Flipping the sign bits makes signed compares order unsigned values.
    const __m128i n = _mm_xor_si128(_mm_load_si128(reinterpret_cast<const __m128i*>(depthNew + 4 * q)), bias);
    const __m128i o = _mm_xor_si128(_mm_and_si128(_mm_load_si128(reinterpret_cast<const __m128i*>(old + 4 * q)), mask), bias);
    __m128i pass;
    switch (func) {
      case D3DCMP_NEVER: pass = _mm_setzero_si128(); break;
      case D3DCMP_LESS: pass = _mm_cmplt_epi32(n, o); break;
      case D3DCMP_EQUAL: pass = _mm_cmpeq_epi32(n, o); break;
      case D3DCMP_LESSEQUAL: pass = _mm_andnot_si128(_mm_cmpgt_epi32(n, o), _mm_set1_epi32(-1)); break;
      case D3DCMP_GREATER: pass = _mm_cmpgt_epi32(n, o); break;
      case D3DCMP_NOTEQUAL: pass = _mm_andnot_si128(_mm_cmpeq_epi32(n, o), _mm_set1_epi32(-1)); break;
      case D3DCMP_GREATEREQUAL: pass = _mm_andnot_si128(_mm_cmplt_epi32(n, o), _mm_set1_epi32(-1)); break;
      default: pass = _mm_set1_epi32(-1); break;
    }
    Q->mask[q] &= uint8_t(_mm_movemask_ps(_mm_castsi128_ps(pass)));
  }
}

// Drops the quads with no live lane left, keeping `perLane` arrays of four
// lanes per quad in step.
template <int N>
void Compact(RasteriserQuads* Q, uint32_t* const (&perLane)[N]) {
  int k = 0;
  for (int q = 0; q < Q->count; ++q) {
    if (!Q->mask[q]) continue;
    if (k != q) {
      Q->x[k] = Q->x[q];
      Q->y[k] = Q->y[q];
      Q->mask[k] = Q->mask[q];
      Q->targetAt[k] = Q->targetAt[q];
      Q->depthAt[k] = Q->depthAt[q];
      for (uint32_t* a : perLane) memcpy(a + 4 * k, a + 4 * q, 16);
    }
    ++k;
  }
  Q->count = k;
}

// ---- stencil --------------------------------------------------------------
// Draws with a stencil test take their own path through the depth test and
// the output merge (chosen per draw): the stencil and depth tests of each
// lane are read from the stored depth-stencil value, the stencil operations
// written back together with the new depth. Draws without stencil never
// come here.

enum : uint32_t { STENCIL_PASSED = 0, STENCIL_FAILED = 1, STENCIL_DEPTH_FAILED = 2 };

// The stencil value an operation makes of s (`bits`: the format's stencil bits).
inline uint32_t StencilOp(uint32_t op, uint32_t s, uint32_t ref, uint32_t bits) {
  switch (op) {
    case D3DSTENCILOP_ZERO: return 0;
    case D3DSTENCILOP_REPLACE: return ref;
    case D3DSTENCILOP_INCRSAT: return s < bits ? s + 1 : bits;
    case D3DSTENCILOP_DECRSAT: return s > 0 ? s - 1 : 0;
    case D3DSTENCILOP_INVERT: return ~s & bits;
    case D3DSTENCILOP_INCR: return (s + 1) & bits;
    case D3DSTENCILOP_DECR: return (s - 1) & bits;
    default: return s;  // KEEP
  }
}

// Writes the stencil operation of each live lane's outcome (code) into the
// depth surface, with the new depth for passing lanes when depth is written,
// and takes the lanes that failed either test out of the quads. `failedOnly`:
// only the failed lanes (the passing ones are settled after shading).
void StencilApply(const RasteriserPlan& P, RasteriserQuads* Q, const uint32_t* depthNew, const uint32_t* stored,
                  const uint32_t* code, bool failedOnly) {
  Pixels rows;
  PixelsOf(P.depth, Q->depthAt, *Q, &rows);
  const uint32_t bits = P.stencilBits, writeMask = P.stencilWriteMask;
  for (int q = 0; q < Q->count; ++q)
    for (int k = 0; k < 4; ++k) {
      const int i = 4 * q + k;
      if (!(Q->mask[q] >> k & 1) || (failedOnly && code[i] == STENCIL_PASSED)) continue;
      const uint32_t op = code[i] == STENCIL_FAILED         ? P.stencilFail
                          : code[i] == STENCIL_DEPTH_FAILED ? P.stencilZFail
                                                            : P.stencilPass;
      uint32_t v = stored[i];
      v = (v & ~writeMask) | (StencilOp(op, v & bits, P.stencilRef, bits) & writeMask);
      if (code[i] == STENCIL_PASSED && P.depthWrite) v = (v & ~P.depthMask) | depthNew[i];
      if (v != stored[i]) StoreDepth(LanePixel(rows, *Q, q, k, P.depthBytes), P.depthBytes, v);
      if (code[i] != STENCIL_PASSED) Q->mask[q] &= uint8_t(~(1u << k));
    }
}

// The stencil test, then the depth test, of every live lane: stored gets the
// lanes' depth-stencil values and code their outcomes. Without the alpha
// test the failed lanes are settled here, before any shading.
void StencilTest(const RasteriserPlan& P, RasteriserQuads* Q, const uint32_t* depthNew, uint32_t* stored,
                 uint32_t* code) {
  Pixels rows;
  PixelsOf(P.depth, Q->depthAt, *Q, &rows);
  for (int q = 0; q < Q->count; ++q)
    for (int k = 0; k < 4; ++k) {
      const int i = 4 * q + k;
      code[i] = STENCIL_PASSED;
      stored[i] = 0;
      if (!(Q->mask[q] >> k & 1)) continue;
      stored[i] = LoadDepth(LanePixel(rows, *Q, q, k, P.depthBytes), P.depthBytes);
      if (!Compare(P.stencilFunc, P.stencilRef & P.stencilMask, stored[i] & P.stencilMask))
        code[i] = STENCIL_FAILED;
      else if (P.depthTest && !Compare(P.depthFunc, depthNew[i], stored[i] & P.depthMask))
        code[i] = STENCIL_DEPTH_FAILED;
    }
  if (!P.stencilLate) StencilApply(P, Q, depthNew, stored, code, true);
}

void PlanStencil(const uint32_t* rs, RasteriserPlan* P) {
  P->stencilBits = RasteriserFormat_StencilMask(P->depthFormat);
  P->stencilFunc = rs[D3DRS_STENCILFUNC];
  P->stencilRef = rs[D3DRS_STENCILREF] & P->stencilBits;
  P->stencilMask = rs[D3DRS_STENCILMASK] & P->stencilBits;
  P->stencilWriteMask = rs[D3DRS_STENCILWRITEMASK] & P->stencilBits;
  P->stencilFail = rs[D3DRS_STENCILFAIL];
  P->stencilZFail = rs[D3DRS_STENCILZFAIL];
  P->stencilPass = rs[D3DRS_STENCILPASS];
  const auto keeps = [&](uint32_t op) {
    return P->stencilWriteMask == 0 || op == D3DSTENCILOP_KEEP || op < D3DSTENCILOP_KEEP || op > D3DSTENCILOP_DECR;
  };
  // A test that always passes and operations that change nothing: the
  // ordinary path draws the same pixels.
  const bool changes = !keeps(P->stencilFail) || (P->depthTest && !keeps(P->stencilZFail)) || !keeps(P->stencilPass);
  P->stencil = rs[D3DRS_STENCILENABLE] && P->stencilBits && P->depth.pixels &&
               (P->stencilFunc != D3DCMP_ALWAYS || changes);
  P->stencilLate = P->stencil && P->alphaTest;
}

// ---- fused kernels ---------------------------------------------------------

// 1 when the CPU and the OS (which must save the 256-bit registers) support
// AVX2: CPUID leaf 1 (OSXSAVE, AVX), XCR0 (SSE and AVX state), leaf 7 (AVX2),
// read as gfx/core/cpu.cpp reads leaf 1 for SSE.
int CpuHasAvx2() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c >> 27 & 1) || !(c >> 28 & 1)) return 0;
  unsigned xcr0, xcr0High;
  __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
  if ((xcr0 & 6) != 6) return 0;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return 0;
  return b >> 5 & 1;
}

// The CPU's best set, probed once (CPUID may trap to a hypervisor).
int BestSimd() {
  static const int best = CpuHasAvx2() ? RASTERISER_SIMD_AVX2 : RASTERISER_SIMD_SSE2;
  return best;
}

// HELM_RASTER_SIMD's choice or the best set; read once.
int DefaultSimd() {
  static const int simd = [] {
    const char* env = getenv("HELM_RASTER_SIMD");
    if (env && strcmp(env, "general") == 0) return int(RASTERISER_SIMD_GENERAL);
    if (env && strcmp(env, "sse2") == 0) return int(RASTERISER_SIMD_SSE2);
    return BestSimd();
  }();
  return simd;
}

std::atomic<int> g_simd{0};  // Rasteriser_SetSimd's choice, 0: the default

}  // namespace

void Rasteriser_SetSimd(int simd) { g_simd.store(simd, std::memory_order_relaxed); }

int Rasteriser_Simd() {
  const int simd = g_simd.load(std::memory_order_relaxed);
  if (simd == RASTERISER_SIMD_GENERAL || simd == RASTERISER_SIMD_SSE2) return simd;
  if (simd == RASTERISER_SIMD_AVX2) return BestSimd();
  return DefaultSimd();
}

int RasteriserSpan_Plan(const D3D8DrawState* s, RasteriserPlan* P) {
  // Stages past stageCount, and levels past a stage's levelCount, are never
  // read: only what is used is initialised (the plan is made per draw).
  memset(static_cast<void*>(P), 0, offsetof(RasteriserPlan, stages));
  const uint32_t* rs = s->renderStates;
  if (!RasteriserFormat_PlainColour(s->target.format)) return 0;
  P->targetFormat = s->target.format;
  P->targetBytes = RasteriserFormat_BytesPerPixel(s->target.format);

  int attr = RASTERISER_ATTR_UV;
  // With a pixel shader the stages up to its last tex are set up, each to
  // sample when the program reads it, whatever its operations say.
  const RasteriserPShader* shader = s->pixelShader;
  P->shader = shader;
  int stages = int(D3D8_MAX_STAGES);
  if (shader)
    for (stages = 0; shader->textures >> stages;) ++stages;
  for (int i = 0; i < stages; ++i) {
    const uint32_t* ss = s->stageStates[i];
    if (!shader && (ss[D3DTSS_COLOROP] == D3DTOP_DISABLE || ss[D3DTSS_COLOROP] == 0)) break;
    RasteriserStage& st = P->stages[i];
    memset(static_cast<void*>(&st), 0, offsetof(RasteriserStage, levels));
    st.colourOp = ss[D3DTSS_COLOROP];
    st.colourArg[0] = ss[D3DTSS_COLORARG1];
    st.colourArg[1] = ss[D3DTSS_COLORARG2];
    st.colourArg[2] = ss[D3DTSS_COLORARG0];
    st.alphaOp = ss[D3DTSS_ALPHAOP];
    st.alphaArg[0] = ss[D3DTSS_ALPHAARG1];
    st.alphaArg[1] = ss[D3DTSS_ALPHAARG2];
    st.alphaArg[2] = ss[D3DTSS_ALPHAARG0];
    const D3D8DrawTexture* tex = s->textures[i];
    st.sample = (!shader || (shader->textures >> i & 1)) && tex && tex->levelCount > 0 && tex->levels[0].pixels &&
                tex->levels[0].width > 0 && tex->levels[0].height > 0;
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
      st.format = tex->format;
      // A texture is tiled whole or not at all; the sampler reads either form.
      const bool tiled = tex->tiled[0] != nullptr;
      for (int l = 0; l < usable; ++l) {
        RasteriserLevel& lv = st.levels[l];
        lv.surface = &tex->levels[l];
        lv.tiled = tiled ? tex->tiled[l] : nullptr;
        lv.width = tex->levels[l].width;
        lv.height = tex->levels[l].height;
        lv.blocksPerRow = (lv.width + 3) / 4;
        lv.blockRowShift = -1;
        if (!(lv.blocksPerRow & (lv.blocksPerRow - 1)))
          for (int shift = 0; shift < 31; ++shift)
            if (lv.blocksPerRow == 1 << shift) lv.blockRowShift = shift + 4;
        lv.scaleU = float(lv.width) / float(tex->levels[0].width);
        lv.scaleV = float(lv.height) / float(tex->levels[0].height);
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
  P->palette = s->palette;

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
  P->target = s->target;
  P->depth = s->depth;
  if (!haveDepth) P->depth.pixels = nullptr;
  P->blend = rs[D3DRS_ALPHABLENDENABLE] != 0;
  P->srcBlend = rs[D3DRS_SRCBLEND];
  P->destBlend = rs[D3DRS_DESTBLEND];
  if (P->srcBlend == 12) P->srcBlend = D3DBLEND_SRCALPHA, P->destBlend = D3DBLEND_INVSRCALPHA;
  if (P->srcBlend == 13) P->srcBlend = D3DBLEND_INVSRCALPHA, P->destBlend = D3DBLEND_SRCALPHA;
  if (P->blend && P->srcBlend == D3DBLEND_ONE && P->destBlend == D3DBLEND_ZERO) P->blend = false;
  uint32_t cw = rs[D3DRS_COLORWRITEENABLE];
  P->writeMask = (cw & 1 ? 0x00FF0000u : 0) | (cw & 2 ? 0x0000FF00u : 0) | (cw & 4 ? 0x000000FFu : 0) |
                 (cw & 8 ? 0xFF000000u : 0);

  PlanStencil(rs, P);
  RasteriserKernel_Plan(P);

  // The device clips the viewport to the target; clamp again so no write can
  // land outside the target whatever the record holds.
  P->clipX0 = std::max(s->scissor.x0, 0);
  P->clipY0 = std::max(s->scissor.y0, 0);
  P->clipX1 = std::min(s->scissor.x1, s->target.width);
  P->clipY1 = std::min(s->scissor.y1, s->target.height);
  return 1;
}

void RasteriserSpan_ShadeQuads(const RasteriserPlan* plan, const RasteriserSetup* S, RasteriserQuads* Q) {
  const RasteriserPlan& P = *plan;
  // The kernels store whole quads: quads reaching past the target's last
  // column or row (odd sizes) take the general stages.
  if (P.kernel && Q->right < P.target.width && Q->bottom < P.target.height) {
    P.kernel(plan, S, Q);
    return;
  }
  alignas(16) uint32_t depthNew[RASTERISER_LANES_MAX];
  Lanes L;
  PlaceLanes(*S, *Q, &L);
  if (P.depthTest || P.depthWrite) DepthLanes(P, S->p[0], L, depthNew);
  alignas(16) uint32_t depthOld[RASTERISER_LANES_MAX];  // 4-byte depth surfaces: the stored values, once tested
  bool haveOld = false;
  alignas(16) uint32_t stencilCode[RASTERISER_LANES_MAX];  // stencil draws: each lane's outcome
  if (P.stencil) {
    StencilTest(P, Q, depthNew, depthOld, stencilCode);
    uint32_t* const perLane[5] = {depthNew, depthOld, stencilCode, reinterpret_cast<uint32_t*>(L.fx),
                                  reinterpret_cast<uint32_t*>(L.fy)};
    Compact(Q, perLane);
    if (!Q->count) return;
    L.quads = Q->count;
    L.lanes = 4 * Q->count;
  } else if (P.depthTest) {
    Pixels rows;
    PixelsOf(P.depth, Q->depthAt, *Q, &rows);
    if (P.depthBytes == 4) {
      DepthTest32(P, rows, Q, depthNew, depthOld);
      haveOld = true;
    } else {
      const uint32_t mask = P.depthMask, func = P.depthFunc;
      for (int q = 0; q < Q->count; ++q) {
        uint32_t pass = 0;
        for (int k = 0; k < 4; ++k) {
          if (!(Q->mask[q] >> k & 1)) continue;
          const uint8_t* d = LanePixel(rows, *Q, q, k, P.depthBytes);
          pass |= uint32_t(Compare(func, depthNew[4 * q + k], LoadDepth(d, P.depthBytes) & mask)) << k;
        }
        Q->mask[q] = uint8_t(pass);
      }
    }
    uint32_t* const perLane[4] = {depthNew, depthOld, reinterpret_cast<uint32_t*>(L.fx),
                                  reinterpret_cast<uint32_t*>(L.fy)};
    Compact(Q, perLane);
    if (!Q->count) return;
    L.quads = Q->count;
    L.lanes = 4 * Q->count;
  }
  const int lanes = L.lanes;

  // w per lane.
  alignas(16) float w[RASTERISER_LANES_MAX];
  if (S->perspective) {
    ReciprocalLanes(S->p[1], L, w);
  } else {
    Broadcast(w, S->w, lanes);
  }

  alignas(16) uint32_t diffuse[RASTERISER_LANES_MAX];
  if (S->flat) {
    Broadcast(diffuse, S->flatColour, lanes);
  } else {
    ColourLanes(&S->p[2 + RASTERISER_ATTR_COLOUR], L, w, diffuse);
  }

  // Combiner. Stage 0's CURRENT is the diffuse colour; with no stage at all
  // the diffuse colour passes through. Each stage writes a buffer other than
  // the one holding CURRENT.
  alignas(16) uint32_t tex[RASTERISER_LANES_MAX], stageOut[2][RASTERISER_LANES_MAX], alphaOut[RASTERISER_LANES_MAX];
  alignas(16) uint32_t scratch[3][RASTERISER_LANES_MAX], factor[RASTERISER_LANES_MAX];
  static const uint32_t kZero[RASTERISER_LANES_MAX] = {};
  if (P.stageCount) Broadcast(factor, P.textureFactor, lanes);
  uint32_t* current = diffuse;
  // With a pixel shader the stages only sample, each into its own array,
  // and the program combines them after the loop.
  alignas(16) uint32_t programTex[RASTERISER_PSHADER_TEXTURES][RASTERISER_LANES_MAX];
  const uint32_t* programTextures[RASTERISER_PSHADER_TEXTURES] = {};
  for (int si = 0; si < P.stageCount; ++si) {
    const RasteriserStage& sg = P.stages[si];
    uint32_t* const sampled = P.shader ? programTex[si] : tex;
    if (sg.sample) {
      alignas(16) float s[RASTERISER_LANES_MAX], t[RASTERISER_LANES_MAX];
      AttributeLanes(S->p[2 + sg.attr], L, w, s);
      AttributeLanes(S->p[3 + sg.attr], L, w, t);
      if (sg.levels[0].tiled) {
        SampleStage(sg, P.palette, FetchTiled{}, s, t, L.quads, sampled);
      } else if (sg.format == D3DFMT_A8R8G8B8 || sg.format == D3DFMT_X8R8G8B8) {
        SampleStage(sg, P.palette, Fetch32{}, s, t, L.quads, sampled);
      } else {
        SampleStage(sg, P.palette, FetchAny{}, s, t, L.quads, sampled);
      }
      // Filtering mixes X8R8G8B8's undefined alpha bytes; the result's alpha is 1.0.
      if (sg.format == D3DFMT_X8R8G8B8)
        for (int j = 0; j < lanes; ++j) sampled[j] |= 0xFF000000u;
    } else {
      Broadcast(tex, 0xFFFFFFFFu, lanes);
    }
    if (P.shader) {
      programTextures[si] = sg.sample ? sampled : nullptr;
      continue;
    }
    const CombineInputs in = {diffuse, current, tex, factor, kZero, scratch, lanes};
    uint32_t* colourOut = current == stageOut[0] ? stageOut[1] : stageOut[0];
    Evaluate(sg.colourOp, sg.colourArg, in, colourOut);
    if (sg.alphaOp == D3DTOP_DISABLE || sg.alphaOp == 0) {
      // Alpha passes through (stage 0: the diffuse alpha).
      for (int j = 0; j < lanes; ++j) colourOut[j] = (colourOut[j] & 0x00FFFFFFu) | (current[j] & 0xFF000000u);
    } else if (!(sg.alphaOp == sg.colourOp && sg.alphaArg[0] == sg.colourArg[0] &&
                 sg.alphaArg[1] == sg.colourArg[1] &&
                 ((sg.colourOp != D3DTOP_MULTIPLYADD && sg.colourOp != TOP_LERP) ||
                  sg.alphaArg[2] == sg.colourArg[2]))) {
      Evaluate(sg.alphaOp, sg.alphaArg, in, alphaOut);
      for (int j = 0; j < lanes; ++j) colourOut[j] = (colourOut[j] & 0x00FFFFFFu) | (alphaOut[j] & 0xFF000000u);
    }
    current = colourOut;
  }
  if (P.shader) {
    RasteriserPShader_Run(P.shader, diffuse, programTextures, lanes, stageOut[0]);
    current = stageOut[0];
  }

  if (P.fog) {
    alignas(16) float f[RASTERISER_LANES_MAX];
    AttributeLanes(S->p[2 + RASTERISER_ATTR_FOG], L, w, f);
    FogN(current, f, P.fogColour, lanes);
  }

  if (P.alphaTest) {
    for (int q = 0; q < Q->count; ++q)
      for (int k = 0; k < 4; ++k)
        if (!Compare(P.alphaFunc, current[4 * q + k] >> 24, P.alphaRef)) Q->mask[q] &= uint8_t(~(1u << k));
  }

  if (P.stencil) {
    // Depth goes with the stencil; the colour of the lanes that passed both tests.
    StencilApply(P, Q, depthNew, depthOld, stencilCode, false);
    WriteColour(P, *Q, current);
    return;
  }

  WriteColour(P, *Q, current);

  if (P.depthWrite) {
    Pixels rows;
    PixelsOf(P.depth, Q->depthAt, *Q, &rows);
    const uint32_t mask = P.depthMask;
    if (P.depthBytes == 4) {
      // The bits outside the depth (stencil, unused) are kept.
      if (!haveOld) Load32(rows, *Q, depthOld);
      const __m128i keep = _mm_set1_epi32(int(~mask));
      for (int j = 0; j < 4 * Q->count; j += 4) {
        __m128i v = _mm_or_si128(_mm_and_si128(_mm_load_si128(reinterpret_cast<const __m128i*>(depthOld + j)), keep),
                                 _mm_load_si128(reinterpret_cast<const __m128i*>(depthNew + j)));
        _mm_store_si128(reinterpret_cast<__m128i*>(depthOld + j), v);
      }
      Store32(rows, *Q, depthOld);
      return;
    }
    for (int q = 0; q < Q->count; ++q)
      for (int k = 0; k < 4; ++k) {
        if (!(Q->mask[q] >> k & 1)) continue;
        uint8_t* d = LanePixel(rows, *Q, q, k, P.depthBytes);
        StoreDepth(d, P.depthBytes, (LoadDepth(d, P.depthBytes) & ~mask) | depthNew[4 * q + k]);
      }
  }
}
