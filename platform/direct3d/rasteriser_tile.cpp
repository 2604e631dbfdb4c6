// The tiles of the software rasteriser: one tile's bin run in order. A
// triangle is walked over the part of its bounding box inside the tile in
// rows of 2x2 quads; its three edge functions are evaluated once at the
// region's corner and then stepped by additions (per quad across, per quad
// row down), four lanes at a time, with no division anywhere. Edges that
// hold over the whole region are dropped first, so the inside of a large
// triangle costs no edge work at all.
#include <algorithm>
#include <cstring>
#include <emmintrin.h>

#include "platform/direct3d/rasteriser_format.h"
#include "platform/direct3d/rasteriser_internal.h"

namespace {

// Lanes of a quad in columns x and x + 1, rows y and y + 1.
constexpr uint8_t kLeftLanes = 1 | 4, kRightLanes = 2 | 8, kTopLanes = 1 | 2, kBottomLanes = 4 | 8;

// Appends a quad, shading the batch when it is full.
inline void Add(RasteriserQuads& Q, const RasteriserTriangle& t, int x, int y, uint8_t mask) {
  const RasteriserPlan& P = *t.plan;
  Q.x[Q.count] = int16_t(x);
  Q.y[Q.count] = int16_t(y);
  Q.mask[Q.count] = mask;
  Q.targetAt[Q.count] = RasteriserQuads_Offset(P.target, P.targetBytes, x, y);
  Q.depthAt[Q.count] = RasteriserQuads_Offset(P.depth, P.depthBytes, x, y);
  if (++Q.count == RASTERISER_QUADS_MAX) {
    RasteriserSpan_ShadeQuads(t.plan, &t.setup, &Q);
    Q.count = 0;
  }
}

// The quads of the region [rx0, rx1] x [ry0, ry1] (quad-aligned at qx0,
// qy0) inside the `Active` edges that cut it.
template <int Active>
void Walk(const RasteriserTriangle& t, RasteriserQuads& Q, int rx0, int ry0, int rx1, int ry1, int qx0, int qy0,
          const int32_t* e0, const int32_t* ax, const int32_t* by) {
  // Per edge: the values at the four lanes of the row's first quad, and the
  // steps one quad right and one quad row down.
  __m128i rowStart[Active > 0 ? Active : 1], step[Active > 0 ? Active : 1], down[Active > 0 ? Active : 1];
  for (int k = 0; k < Active; ++k) {
    rowStart[k] = _mm_add_epi32(_mm_set1_epi32(e0[k]), _mm_setr_epi32(0, ax[k], by[k], ax[k] + by[k]));
    step[k] = _mm_set1_epi32(2 * ax[k]);
    down[k] = _mm_set1_epi32(2 * by[k]);
  }
  // The first and last quad columns may hold a column outside the region.
  const uint8_t firstColumn = rx0 > qx0 ? kRightLanes : 15, lastColumn = (rx1 & 1) ? 15 : kLeftLanes;
  const int lastX = rx1 & ~1;
  for (int y = qy0; y <= ry1; y += 2) {
    // A row never holds more than half a batch: make room first, then
    // append every quad without branching and keep the covered ones.
    if (Q.count > RASTERISER_QUADS_MAX - RASTERISER_TILE_SIZE / 2) {
      RasteriserSpan_ShadeQuads(t.plan, &t.setup, &Q);
      Q.count = 0;
    }
    const uint8_t rows = uint8_t((y >= ry0 ? kTopLanes : 0) | (y + 1 <= ry1 ? kBottomLanes : 0));
    __m128i e[Active > 0 ? Active : 1];
    for (int k = 0; k < Active; ++k) e[k] = rowStart[k];
    int n = Q.count;
    const RasteriserPlan& P = *t.plan;
    uint32_t targetAt = RasteriserQuads_Offset(P.target, P.targetBytes, qx0, y);
    uint32_t depthAt = RasteriserQuads_Offset(P.depth, P.depthBytes, qx0, y);
    const uint32_t targetStep = uint32_t(2 * P.targetBytes), depthStep = uint32_t(2 * P.depthBytes);
    if (Active == 0) {
      // No edge cuts the region: every quad of the row is covered, four
      // appended at a time; only the first and last columns differ.
      const int count = (rx1 - qx0) / 2 + 1, first = n;
      const __m128i four = _mm_set1_epi32(4);
      __m128i xs = _mm_setr_epi32(qx0, qx0 + 2, qx0 + 4, qx0 + 6);
      __m128i ts = _mm_add_epi32(_mm_set1_epi32(int(targetAt)), _mm_mullo_epi16(_mm_setr_epi32(0, 1, 2, 3),
                                                                                 _mm_set1_epi32(int(targetStep))));
      __m128i ds = _mm_add_epi32(_mm_set1_epi32(int(depthAt)), _mm_mullo_epi16(_mm_setr_epi32(0, 1, 2, 3),
                                                                                _mm_set1_epi32(int(depthStep))));
      const __m128i tStep = _mm_set1_epi32(int(4 * targetStep)), dStep = _mm_set1_epi32(int(4 * depthStep));
      const __m128i ys = _mm_set1_epi16(int16_t(y));
      const uint32_t masks = rows * 0x01010101u;
      int i = 0;
      for (; i + 4 <= count; i += 4, n += 4) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(Q.x + n), _mm_packs_epi32(xs, xs));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(Q.y + n), ys);
        memcpy(Q.mask + n, &masks, 4);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Q.targetAt + n), ts);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Q.depthAt + n), ds);
        xs = _mm_add_epi32(xs, _mm_add_epi32(four, four));
        ts = _mm_add_epi32(ts, tStep);
        ds = _mm_add_epi32(ds, dStep);
      }
      for (; i < count; ++i, ++n) {
        Q.x[n] = int16_t(qx0 + 2 * i);
        Q.y[n] = int16_t(y);
        Q.mask[n] = rows;
        Q.targetAt[n] = targetAt + uint32_t(i) * targetStep;
        Q.depthAt[n] = depthAt + uint32_t(i) * depthStep;
      }
      Q.mask[first] &= firstColumn;
      Q.mask[n - 1] &= lastColumn;
      Q.count = n;
      continue;
    }
    for (int x = qx0; x <= rx1; x += 2) {
      __m128i outside = _mm_setzero_si128();
      for (int k = 0; k < Active; ++k) {
        outside = _mm_or_si128(outside, e[k]);
        e[k] = _mm_add_epi32(e[k], step[k]);
      }
      // A negative edge value (sign bit set) puts the lane outside.
      uint8_t mask = uint8_t(~_mm_movemask_ps(_mm_castsi128_ps(outside)) & rows);
      mask &= x == qx0 ? firstColumn : 15;
      mask &= x == lastX ? lastColumn : 15;
      Q.x[n] = int16_t(x);
      Q.y[n] = int16_t(y);
      Q.mask[n] = mask;
      Q.targetAt[n] = targetAt;
      Q.depthAt[n] = depthAt;
      targetAt += targetStep;
      depthAt += depthStep;
      n += mask != 0;
    }
    Q.count = n;
    for (int k = 0; k < Active; ++k) rowStart[k] = _mm_add_epi32(rowStart[k], down[k]);
  }
}

void ShadeTriangle(const RasteriserTriangle& t, int tileX, int tileY) {
  const int rx0 = std::max(t.x0, tileX), rx1 = std::min(t.x1, tileX + RASTERISER_TILE_SIZE - 1);
  const int ry0 = std::max(t.y0, tileY), ry1 = std::min(t.y1, tileY + RASTERISER_TILE_SIZE - 1);
  if (rx0 > rx1 || ry0 > ry1) return;
  const int qx0 = rx0 & ~1, qy0 = ry0 & ~1, qx1 = rx1 | 1, qy1 = ry1 | 1;
  // Not cleared (near a kilobyte, once per triangle and tile): only the
  // quads appended count.
  RasteriserQuads Q;
  Q.count = 0;
  Q.right = qx1;
  Q.bottom = qy1;

  if (t.wide) {
    // Steps too large for 32 bits (huge viewports only): every lane in 64 bits.
    for (int y = qy0; y <= ry1; y += 2)
      for (int x = qx0; x <= rx1; x += 2) {
        uint8_t mask = 0;
        for (int k = 0; k < 4; ++k) {
          const int64_t px = x + (k & 1), py = y + (k >> 1);
          bool in = px >= rx0 && px <= rx1 && py >= ry0 && py <= ry1;
          for (int i = 0; i < 3 && in; ++i) in = t.a16[i] * px + t.b16[i] * py + t.c[i] >= 0;
          mask |= uint8_t(in) << k;
        }
        if (mask) Add(Q, t, x, y, mask);
      }
  } else {
    // Edges that cut the quad region, as 32-bit values at its corner (they
    // stay far from overflow: see kNarrowStep in rasteriser.cpp).
    int active = 0;
    int32_t e0[3], ax[3], by[3];
    for (int i = 0; i < 3; ++i) {
      const int64_t A = t.a16[i], B = t.b16[i];
      const int64_t eMax = A * (A > 0 ? qx1 : qx0) + B * (B > 0 ? qy1 : qy0) + t.c[i];
      if (eMax < 0) return;  // the triangle misses this tile
      const int64_t eMin = A * (A > 0 ? qx0 : qx1) + B * (B > 0 ? qy0 : qy1) + t.c[i];
      if (eMin >= 0) continue;  // holds over the whole region
      e0[active] = int32_t(A * qx0 + B * qy0 + t.c[i]);
      ax[active] = int32_t(A);
      by[active] = int32_t(B);
      ++active;
    }
    switch (active) {
      case 0: Walk<0>(t, Q, rx0, ry0, rx1, ry1, qx0, qy0, e0, ax, by); break;
      case 1: Walk<1>(t, Q, rx0, ry0, rx1, ry1, qx0, qy0, e0, ax, by); break;
      case 2: Walk<2>(t, Q, rx0, ry0, rx1, ry1, qx0, qy0, e0, ax, by); break;
      default: Walk<3>(t, Q, rx0, ry0, rx1, ry1, qx0, qy0, e0, ax, by); break;
    }
  }
  if (Q.count) RasteriserSpan_ShadeQuads(t.plan, &t.setup, &Q);
}

// Fills a rectangle of a surface with one stored value of `bytes` bytes.
// The rectangle lies in one tile: one row of it is built once and copied.
void Fill(const D3D8DrawSurface& s, int x0, int y0, int x1, int y1, uint32_t value) {
  const int bytes = RasteriserFormat_BytesPerPixel(s.format);
  uint8_t row[RASTERISER_TILE_SIZE * 4];
  for (int x = 0; x < x1 - x0; ++x) memcpy(row + size_t(x) * size_t(bytes), &value, size_t(bytes));
  for (int y = y0; y < y1; ++y)
    memcpy(s.pixels + size_t(y) * size_t(s.pitch) + size_t(x0) * size_t(bytes), row, size_t(x1 - x0) * size_t(bytes));
}

void ShadeClear(const RasteriserClear& c, int tileX, int tileY) {
  const int x0 = std::max(c.x0, tileX), x1 = std::min(c.x1, tileX + RASTERISER_TILE_SIZE);
  const int y0 = std::max(c.y0, tileY), y1 = std::min(c.y1, tileY + RASTERISER_TILE_SIZE);
  if (x0 >= x1 || y0 >= y1) return;
  if (c.colour.pixels) Fill(c.colour, x0, y0, x1, y1, c.colourValue);
  if (!c.depth.pixels) return;
  if (!c.depthKeep) {
    Fill(c.depth, x0, y0, x1, y1, c.depthValue);
    return;
  }
  // Z alone or stencil alone: the other bits of every pixel stay.
  const int bytes = RasteriserFormat_BytesPerPixel(c.depth.format);
  for (int y = y0; y < y1; ++y) {
    uint8_t* p = c.depth.pixels + size_t(y) * size_t(c.depth.pitch) + size_t(x0) * size_t(bytes);
    for (int x = x0; x < x1; ++x, p += bytes) {
      uint32_t v = 0;
      memcpy(&v, p, size_t(bytes));
      v = (v & c.depthKeep) | c.depthValue;
      memcpy(p, &v, size_t(bytes));
    }
  }
}

void ShadePixel(const RasteriserPixel& p) {
  RasteriserQuads Q{};
  Q.count = 1;
  Q.right = p.x | 1;
  Q.bottom = p.y | 1;
  Q.x[0] = int16_t(p.x & ~1);
  Q.y[0] = int16_t(p.y & ~1);
  Q.targetAt[0] = RasteriserQuads_Offset(p.plan->target, p.plan->targetBytes, Q.x[0], Q.y[0]);
  Q.depthAt[0] = RasteriserQuads_Offset(p.plan->depth, p.plan->depthBytes, Q.x[0], Q.y[0]);
  Q.mask[0] = uint8_t(1u << ((p.x & 1) | (p.y & 1) << 1));
  RasteriserSpan_ShadeQuads(p.plan, &p.setup, &Q);
}

}  // namespace

void RasteriserTile_Shade(const RasteriserBinBlock* block, int x0, int y0) {
  for (; block; block = block->next)
    for (int i = 0; i < block->count; ++i) {
      const uint8_t* command = block->commands[i];
      switch (command[0]) {
        case RASTERISER_CMD_TRIANGLE:
          ShadeTriangle(*reinterpret_cast<const RasteriserTriangle*>(command), x0, y0);
          break;
        case RASTERISER_CMD_CLEAR:
          ShadeClear(*reinterpret_cast<const RasteriserClear*>(command), x0, y0);
          break;
        case RASTERISER_CMD_PIXEL:
          ShadePixel(*reinterpret_cast<const RasteriserPixel*>(command));
          break;
        default:
          break;
      }
    }
}
