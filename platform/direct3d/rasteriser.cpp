// Software rasteriser entry: the batch of deferred draws and clears, the
// front end (primitive assembly, clipping, triangle set-up) and the bins
// that hand the pixel work to screen tiles. The tiles' edge walking is in
// rasteriser_tile.cpp, the pixel work in rasteriser_span.cpp, vertex work in
// rasteriser_vertex.cpp.
//
// Conventions: pixel centres sit at integer coordinates; vertex positions
// snap to 1/16 pixel; a pixel is covered when its centre is inside the
// triangle or on a top or left edge (so triangles sharing an edge never
// both draw a pixel and never leave a gap). Clipping runs against the near
// and far planes and a guard band around the viewport; the viewport itself
// is a scissor rectangle, so split-screen views never overwrite each other.
//
// Deferred, tile-binned drawing. A draw call consumes its inputs at the
// call: it decides its pixel plan (states, target, textures) and its vertex
// plan (matrices, camera-space lights, fog and texture-coordinate set-up)
// and copies them, the vertices of its range and its indices into the
// batch; a clear is recorded the same way. Nothing is drawn until a flush,
// which works on a pool of threads (rasteriser_pool.h) in three runs:
//   1. the vertices of every draw are transformed, lit and fogged, in parts;
//   2. the primitives are clipped and set up (edge functions and attribute
//      planes) in parts, each part binned into its thread's scratch bins:
//      the 64 x 64 screen tiles each triangle may cover;
//   3. the parts and the clears are appended to the bins in submission
//      order, then every tile with commands is shaded by one thread, its
//      commands in that order; then the batch is emptied.
// Doing the front end at the flush rather than at each call costs a copy of
// the draw's vertices, and spares the threads a meeting per draw: a frame of
// many draws costs three runs of the pool.
//
// Present flushes asynchronously (Rasteriser_FlushAsync): the whole flush is
// one task on a worker, which runs the three runs on the other workers
// while the device's thread goes back to the game (its update, then the
// next frame's calls, recorded into a second batch). The device's thread
// waits for the task at its next flush and helps with the tiles meanwhile;
// the frame is shown (the task's finish) once it is shaded. Every rule
// below still holds, since whatever must see the pixels flushes, and a
// flush first waits for the launched batch: a stamp of the launched batch
// stays pending until then. The next frame's calls touch no pixels before
// their own flush, so the launched batch owns the surfaces until it is done.
//
// Why results do not depend on the threads: every pixel belongs to exactly
// one tile, a tile is shaded by one thread from its start to its end, and in
// it the commands run in the order the calls were made; every value a pixel
// gets is a function of the command's set-up (a pure function of the draw's
// copies, whichever thread made it) and the pixel's position alone, never of
// which thread, tile order or neighbouring work produced it. So the
// pictures are bit-identical at every thread count, and equal to drawing
// each call at once.
//
// What may change between a draw and its shading, and how it is handled
// (the device makes the calls, d3d8_device.cpp and d3d8_resource.cpp):
//   - vertex and index data, states, transforms, lights, material, viewport:
//     consumed at the call (copied into the batch: the vertices and indices
//     of the draw's range, the pixel and vertex plans);
//   - the palette of P8 textures: copied into the batch with the plan;
//   - the pixel shader and its constants: the program copied with the plan
//     (so it may be deleted or its constants changed at once);
//   - texture contents: a lock of a level, or a copy into it, that pending
//     draws read flushes first;
//   - a texture released while pending draws read it: flushed before it
//     dies (so it lives until those draws are shaded);
//   - a texture whose level pending draws render into (a camera texture),
//     bound as a source: flushed before the new draw is recorded; a draw
//     that samples its own target is flushed at once on one thread;
//   - render targets and depth surfaces: each command carries its own
//     surfaces, so SetRenderTarget needs no flush (a batch holds draws to
//     several targets); a lock, a CopyRects from or into them, Present and
//     a surface's release flush first, which covers Reset and the device's
//     release (they release the device's surfaces).
#include "platform/direct3d/rasteriser.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>
#include <xmmintrin.h>

#include "platform/direct3d/d3d8_fvf.h"
#include "platform/direct3d/rasteriser_internal.h"
#include "platform/direct3d/rasteriser_pool.h"

namespace {

// The tile grid covers the largest surface the stand-in makes (8192 pixels).
constexpr int kGridSide = 8192 >> RASTERISER_TILE_SHIFT;
// The batch grows in blocks of this much memory; a flush is forced beyond kMaxBinBytes.
constexpr size_t kArenaBlock = 1u << 20;
constexpr size_t kMaxBinBytes = 256u << 20;
// Draws are set up in parts of this many vertices and primitives, spread
// over the threads. Each part of the primitives is set up into its thread's
// scratch bins, and the parts are appended to the bins in submission order
// afterwards, so every tile receives the same commands in the same order as
// if one thread had set the whole batch up.
constexpr int kVertexPart = 1024, kPrimitivePart = 256;

// The bins' memory: blocks handed out in order and all given back at a flush.
struct Arena {
  std::vector<std::unique_ptr<uint8_t[]>> blocks;
  std::vector<size_t> sizes;
  size_t block = 0;   // index of the block being filled
  size_t offset = 0;  // bytes used in it
  size_t used = 0;    // bytes handed out since the last reset

  // 16-byte aligned, or null when memory runs out.
  void* Alloc(size_t bytes) {
    bytes = (bytes + 15) & ~size_t(15);
    while (block < blocks.size() && offset + bytes > sizes[block]) ++block, offset = 0;
    if (block == blocks.size()) {
      size_t size = std::max(kArenaBlock, bytes);
      uint8_t* mem = new (std::nothrow) uint8_t[size + 15];
      if (!mem) return nullptr;
      blocks.emplace_back(mem);
      sizes.push_back(size);
      offset = 0;
    }
    uint8_t* base = blocks[block].get();
    uint8_t* aligned = base + ((16 - reinterpret_cast<uintptr_t>(base) % 16) % 16);
    void* p = aligned + offset;
    offset += bytes;
    used += bytes;
    return p;
  }
  void Reset() { block = offset = used = 0; }
  void Free() {
    blocks.clear();
    sizes.clear();
    Reset();
  }
};

struct Tile {
  RasteriserBinBlock* head;
  RasteriserBinBlock* tail;
  uint32_t commands;
};

// Where set-up commands go: the bins themselves (clears), or a thread's
// scratch bins (a part of a draw), appended to the bins in order afterwards.
struct Binner {
  Arena* arena;
  Tile* tiles;                // kGridSide x kGridSide, row-major
  std::vector<int>* touched;  // tiles with commands, in first-use order
  bool failed;                // memory ran out
};

// A part's commands for one tile, to be appended to the tile's bin.
struct PartTile {
  int tile;
  RasteriserBinBlock* head;
  RasteriserBinBlock* tail;
  uint32_t commands;
};

// Tiles handed to the threads by home. Tile (tx, ty) is first offered to
// thread ty % threads, which takes its own tiles from the front of its
// group; a thread out of tiles of its own takes others' from the back of
// their groups. So a tile is shaded by the same thread frame after frame
// and its colour and depth stay in that core's caches (moving them between
// cores made a level frame at 1280 x 720 on 4 threads cost 45% more CPU
// time than on one), while no thread idles while tiles are left. A home is
// a whole row of tiles: the rows of two tiles side by side are neighbours
// in memory, and a core that clears or writes one tile's row pulls the
// lines after it (the processor fetches ahead along a page) out of the
// neighbour's core when that tile is another thread's; with homes on the
// diagonal that cost a level frame on 4 threads another tenth of CPU time.
// The rows of a thread are spread over the screen (every threads-th row),
// so an expensive region is shared. The device's thread has a
// group too: it comes to a launched flush once the game's work for the
// next frame is done, early in a frame that waits for the tiles; workers
// that run out before it comes take its tiles from the back.
struct TileRun {
  struct alignas(64) Ends {
    std::atomic<uint64_t> ends;  // front (low half) and back (high half) of a group
  };
  int groups = 0;                 // homes: threads 0 .. groups - 1
  std::vector<int> tiles;         // grouped by home; each group in the order given
  std::vector<int> start;         // group k is tiles[start[k], start[k + 1])
  std::unique_ptr<Ends[]> ends;   // per group
  int capacity = 0;               // of `ends`

  static int Home(int tile, int groups) { return (tile / kGridSide) % groups; }

  // Groups `order` (tiles of the grid) for `threads` threads; false when
  // memory ran out.
  bool Build(const std::vector<int>& order, int threads) {
    groups = std::max(1, threads);
    try {
      if (capacity < groups) {
        ends.reset(new Ends[size_t(groups)]);
        capacity = groups;
      }
      start.assign(size_t(groups) + 1, 0);
      for (int tile : order) ++start[size_t(Home(tile, groups)) + 1];
      for (int k = 0; k < groups; ++k) start[size_t(k) + 1] += start[size_t(k)];
      tiles.resize(order.size());
    } catch (const std::bad_alloc&) {
      return false;
    }
    for (int k = 0; k < groups; ++k) ends[k].ends.store(uint64_t(start[size_t(k) + 1] - start[size_t(k)]) << 32);
    std::vector<int>& next = start;  // filled group by group, then put back
    for (int tile : order) tiles[size_t(next[size_t(Home(tile, groups))]++)] = tile;
    for (int k = groups; k > 0; --k) next[size_t(k)] = next[size_t(k) - 1];
    next[0] = 0;
    return true;
  }

  // A tile for `thread`, or -1 when none is left.
  int Take(int thread) {
    if (thread < groups) {
      Ends& own = ends[thread];
      uint64_t e = own.ends.load(std::memory_order_relaxed);
      while (uint32_t(e) < uint32_t(e >> 32))
        if (own.ends.compare_exchange_weak(e, e + 1, std::memory_order_relaxed))
          return tiles[size_t(start[size_t(thread)]) + uint32_t(e)];
    }
    for (int k = 1; k <= groups; ++k) {
      const int group = (thread + k) % groups;
      Ends& other = ends[group];
      uint64_t e = other.ends.load(std::memory_order_relaxed);
      while (uint32_t(e) < uint32_t(e >> 32))
        if (other.ends.compare_exchange_weak(e, e - (uint64_t(1) << 32), std::memory_order_relaxed))
          return tiles[size_t(start[size_t(group)]) + uint32_t(e >> 32) - 1];
    }
    return -1;
  }
};

// A thread's scratch for setting up parts of draws.
struct PartScratch {
  Arena arena;  // lives until the end of the flush, like the batch's own
  std::unique_ptr<Tile[]> tiles;
  std::vector<int> touched;
};

// ---- clipping ------------------------------------------------------------------------------

enum : uint8_t {
  CLIP_NEAR = 1,
  CLIP_FAR = 2,
  CLIP_LEFT = 4,
  CLIP_RIGHT = 8,
  CLIP_BOTTOM = 16,
  CLIP_TOP = 32,
  CLIP_W = 64,
};
constexpr float kMinW = 1e-6f;
constexpr int kMaxClipped = 16;  // 3 vertices + one per plane, with room

struct Clipper {
  float guard;  // clip-space guard band (pixels for pre-transformed vertices)
  bool pretransformed;
  int attrCount;
  D3DVIEWPORT8 viewport;  // maps clipped vertices to the screen
};

inline float PlaneDistance(const RasteriserVertex& v, int plane, float g) {
  switch (plane) {
    case CLIP_NEAR: return v.cz;
    case CLIP_FAR: return v.cw - v.cz;
    case CLIP_LEFT: return v.cx + g * v.cw;
    case CLIP_RIGHT: return g * v.cw - v.cx;
    case CLIP_BOTTOM: return v.cy + g * v.cw;
    case CLIP_TOP: return g * v.cw - v.cy;
    default: return v.cw - kMinW;
  }
}

inline uint8_t Outcode(const RasteriserVertex& v, const Clipper& c) {
  uint8_t code = 0;
  for (int plane = c.pretransformed ? CLIP_LEFT : CLIP_NEAR; plane <= CLIP_W; plane <<= 1)
    if (!(PlaneDistance(v, plane, c.guard) >= 0.0f)) code |= uint8_t(plane);
  return code;
}

// Screen position of a clip-space vertex (vertices made by clipping).
void Project(RasteriserVertex& v, const Clipper& c) {
  float oow = 1.0f / v.cw;
  v.oow = oow;
  if (c.pretransformed) {
    v.sx = v.cx * oow;
    v.sy = v.cy * oow;
    v.sz = v.cz * oow;
    return;
  }
  const D3DVIEWPORT8& vp = c.viewport;
  v.sx = float(int32_t(vp.X)) + (v.cx * oow + 1.0f) * (float(vp.Width) * 0.5f);
  v.sy = float(int32_t(vp.Y)) + (1.0f - v.cy * oow) * (float(vp.Height) * 0.5f);
  v.sz = vp.MinZ + v.cz * oow * (vp.MaxZ - vp.MinZ);
}

// The point where the edge from `in` (inside) to `out` crosses the plane.
// Always computed from the inside end, so two primitives sharing the edge
// get bit-identical vertices and no crack opens along it.
void Intersect(const RasteriserVertex& in, const RasteriserVertex& out, float din, float dout, const Clipper& c,
               RasteriserVertex& r) {
  float t = din / (din - dout);
  r.cx = in.cx + t * (out.cx - in.cx);
  r.cy = in.cy + t * (out.cy - in.cy);
  r.cz = in.cz + t * (out.cz - in.cz);
  r.cw = in.cw + t * (out.cw - in.cw);
  for (int i = 0; i < c.attrCount; ++i) r.a[i] = in.a[i] + t * (out.a[i] - in.a[i]);
  Project(r, c);
}

// Clips a convex polygon against the planes in `planes`; returns the new
// vertex count (0 when nothing is left). Results live in `store`; *out
// points to the final list.
int ClipPolygon(const RasteriserVertex** poly, int n, uint8_t planes, const Clipper& c, RasteriserVertex* store,
                const RasteriserVertex** out) {
  const RasteriserVertex* listA[kMaxClipped];
  const RasteriserVertex* listB[kMaxClipped];
  const RasteriserVertex** src = listA;
  const RasteriserVertex** dst = listB;
  for (int i = 0; i < n; ++i) src[i] = poly[i];
  int used = 0;
  for (int plane = CLIP_NEAR; plane <= CLIP_W; plane <<= 1) {
    if (!(planes & plane)) continue;
    int m = 0;
    for (int i = 0; i < n; ++i) {
      const RasteriserVertex* cur = src[i];
      const RasteriserVertex* prev = src[(i + n - 1) % n];
      float dc = PlaneDistance(*cur, plane, c.guard), dp = PlaneDistance(*prev, plane, c.guard);
      bool curIn = dc >= 0.0f, prevIn = dp >= 0.0f;
      if (curIn != prevIn && m < kMaxClipped - 1 && used < 3 * kMaxClipped) {
        RasteriserVertex& r = store[used++];
        if (prevIn)
          Intersect(*prev, *cur, dp, dc, c, r);
        else
          Intersect(*cur, *prev, dc, dp, c, r);
        dst[m++] = &r;
      }
      if (curIn && m < kMaxClipped) dst[m++] = cur;
    }
    n = m;
    if (n < 3) return 0;
    const RasteriserVertex** t = src;
    src = dst;
    dst = t;
  }
  for (int i = 0; i < n; ++i) out[i] = src[i];
  return n;
}

// A draw or a clear of the batch, in submission order. A draw keeps copies
// of everything it reads (its plans, the vertices and indices it names), so
// it can be set up after the call returned.
struct Record {
  const RasteriserClear* clear;  // a clear, or null for a draw
  const RasteriserPlan* plan;
  const RasteriserVertexPlan* vertexPlan;
  const uint8_t* vertices;  // vertexCount vertices at vertexPlan->stride
  const uint8_t* indices;   // null for plain draws
  int indexSize;
  int64_t indexBase;        // the index that names vertices[0]
  uint32_t type;
  int64_t primitiveCount, vertexCount;
  Clipper clip;
  uint32_t cullMode;
  bool flat;
  // Filled at the flush.
  RasteriserVertex* processed;
  uint8_t* codes;
};

// A part of the batch's set-up: the record and the first vertex or primitive.
struct Part {
  int record;
  int64_t first;
};

// A batch: the draws and clears recorded since the last flush, and the bins
// they are set up into at the flush. Owned by the device's thread, except
// while it is launched (RasterModule::shading): the flush's threads own it
// then, and the device's thread touches none of it until it has waited.
struct Batch {
  Arena arena;                     // the batch's copies and commands
  std::vector<Record> records;
  std::unique_ptr<Tile[]> tiles;   // kGridSide x kGridSide, row-major
  std::vector<int> touched;        // tiles with commands
  std::vector<Part> vertexParts, primitiveParts;
  std::vector<std::vector<PartTile>> partTiles;  // per primitive part
  std::vector<int> order;          // tiles in shading order
  TileRun run;                     // `order` handed to the threads
  std::atomic<bool> failed{false};  // a part of the set-up ran out of memory
  // Rasteriser_FlushAsync's `after`: run by the tiles once shaded (job
  // null: none), or left for the device's thread when they cannot take it.
  RasteriserTileJob after{}, afterLeft{};
};

// Module record. Two batches: while one is shaded behind the device's back
// (launched by Rasteriser_FlushAsync), the next frame's calls are recorded
// into the other.
struct RasterModule {
  Batch batches[2];
  Batch* recording = &batches[0];
  Batch* shading = nullptr;  // launched and not yet finished, or null
  void (*finish)() = nullptr;  // runs on the device's thread once `shading` is shaded
  uint64_t batch = 1;        // the recording batch's number, bumped by every flush
  std::vector<std::unique_ptr<PartScratch>> scratch;  // per thread, used by one flush at a time
  // Rasteriser_ForEachTile's tiles and job.
  std::vector<int> eachOrder;
  TileRun each;
  void (*eachJob)(void*, int, int, int, int) = nullptr;
  void* eachContext = nullptr;
  int eachWidth = 0, eachHeight = 0;
};
RasterModule g_raster;

// ---- bins ------------------------------------------------------------------------------

void* BinAlloc(Binner& b, size_t bytes) {
  void* p = b.arena->Alloc(bytes);
  if (!p) b.failed = true;
  return p;
}

void Bin(Binner& b, int tile, const void* command) {
  Tile& t = b.tiles[size_t(tile)];
  if (!t.tail || t.tail->count == RASTERISER_BIN_BLOCK) {
    auto* block = static_cast<RasteriserBinBlock*>(BinAlloc(b, sizeof(RasteriserBinBlock)));
    if (!block) return;
    block->next = nullptr;
    block->count = 0;
    if (t.tail)
      t.tail->next = block;
    else
      t.head = block, b.touched->push_back(tile);
    t.tail = block;
  }
  t.tail->commands[t.tail->count++] = static_cast<const uint8_t*>(command);
  ++t.commands;
}

Tile* NewTileGrid() {
  Tile* tiles = new (std::nothrow) Tile[size_t(kGridSide) * kGridSide];
  if (tiles) memset(static_cast<void*>(tiles), 0, sizeof(Tile) * size_t(kGridSide) * kGridSide);
  return tiles;
}

// A copy of `bytes` bytes of `data` in the recording batch's memory, or null.
template <class T>
T* Keep(const void* data, size_t bytes) {
  void* p = g_raster.recording->arena.Alloc(bytes ? bytes : 1);
  if (p && bytes) memcpy(p, data, bytes);
  return static_cast<T*>(p);
}

// ---- set-up and binning ----------------------------------------------------------------------

inline int64_t FloorDiv(int64_t a, int64_t b) {  // b > 0
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}
inline int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

inline bool Finite(const RasteriserVertex& v) {
  return std::isfinite(v.sx) && std::isfinite(v.sy) && std::isfinite(v.sz) && std::isfinite(v.oow) &&
         std::fabs(v.sx) < 1e6f && std::fabs(v.sy) < 1e6f;
}

inline int64_t Snap(float v) { return int64_t(std::floor(double(v) * 16.0 + 0.5)); }

uint32_t PackColour(const RasteriserVertex& v) {
  auto ch = [](float f) {
    f += 0.5f;
    return f <= 0.0f ? 0u : (f >= 255.0f ? 255u : uint32_t(f));
  };
  return ch(v.a[3]) << 24 | ch(v.a[0]) << 16 | ch(v.a[1]) << 8 | ch(v.a[2]);
}

struct Context {
  const RasteriserPlan* plan;  // the draw's plan, in the bins
  Binner* bin;
  Clipper clip;
  uint32_t cullMode;
  bool flat;
};

void FillPlanes(const Context& cx, const RasteriserVertex* const* v, double x1, double y1, double x2, double y2,
                bool flat, RasteriserPlane* planes) {
  const double inv = 1.0 / (x1 * y2 - x2 * y1);
  auto plane = [&](double q0, double q1, double q2, RasteriserPlane& p) {
    double d1 = q1 - q0, d2 = q2 - q0;
    p.v0 = float(q0);
    p.dx = float((d1 * y2 - d2 * y1) * inv);
    p.dy = float((d2 * x1 - d1 * x2) * inv);
  };
  plane(v[0]->sz, v[1]->sz, v[2]->sz, planes[0]);
  plane(v[0]->oow, v[1]->oow, v[2]->oow, planes[1]);
  const RasteriserPlan& P = *cx.plan;
  int first = flat ? RASTERISER_ATTR_FOG : 0;
  for (int i = first; i < P.attrCount; ++i) {
    if (i == RASTERISER_ATTR_FOG && !P.fog) continue;
    plane(double(v[0]->a[i]) * v[0]->oow, double(v[1]->a[i]) * v[1]->oow, double(v[2]->a[i]) * v[2]->oow,
          planes[2 + i]);
  }
}

// A command of type T followed by the draw's planes (2 + attrCount), in the
// binner's memory; null when memory ran out.
template <class T>
T* NewCommand(const Context& cx, uint8_t kind, RasteriserPlane** planes) {
  const int planeCount = 2 + cx.plan->attrCount;
  auto* command = static_cast<T*>(BinAlloc(*cx.bin, sizeof(T) + size_t(planeCount) * sizeof(RasteriserPlane)));
  if (!command) return nullptr;
  command->kind = kind;
  command->plan = cx.plan;
  *planes = reinterpret_cast<RasteriserPlane*>(command + 1);
  return command;
}

// Edge steps above this make 32-bit stepping across a tile overflow.
constexpr int64_t kNarrowStep = int64_t(1) << 23;

// Sets a triangle up and bins it into the tiles it may cover.
void SetupTriangle(const Context& cx, const RasteriserVertex* a, const RasteriserVertex* b, const RasteriserVertex* c,
                   uint32_t flatColour) {
  if (!Finite(*a) || !Finite(*b) || !Finite(*c)) return;
  const RasteriserPlan& P = *cx.plan;
  int64_t X[3] = {Snap(a->sx), Snap(b->sx), Snap(c->sx)};
  int64_t Y[3] = {Snap(a->sy), Snap(b->sy), Snap(c->sy)};
  int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
  if (area == 0) return;
  // With y pointing down, a positive area runs clockwise on the target.
  if (cx.cullMode == D3DCULL_CW && area > 0) return;
  if (cx.cullMode == D3DCULL_CCW && area < 0) return;
  const RasteriserVertex* v[3] = {a, b, c};
  if (area < 0) {
    std::swap(v[1], v[2]);
    std::swap(X[1], X[2]);
    std::swap(Y[1], Y[2]);
  }

  int64_t minX = std::min(X[0], std::min(X[1], X[2])), maxX = std::max(X[0], std::max(X[1], X[2]));
  int64_t minY = std::min(Y[0], std::min(Y[1], Y[2])), maxY = std::max(Y[0], std::max(Y[1], Y[2]));
  int64_t px0 = std::max<int64_t>(CeilDiv(minX, 16), P.clipX0);
  int64_t px1 = std::min<int64_t>(FloorDiv(maxX, 16), P.clipX1 - 1);
  int64_t py0 = std::max<int64_t>(CeilDiv(minY, 16), P.clipY0);
  int64_t py1 = std::min<int64_t>(FloorDiv(maxY, 16), P.clipY1 - 1);
  if (px0 > px1 || py0 > py1) return;

  RasteriserPlane* planes;
  auto* t = NewCommand<RasteriserTriangle>(cx, RASTERISER_CMD_TRIANGLE, &planes);
  if (!t) return;
  t->x0 = int32_t(px0), t->y0 = int32_t(py0), t->x1 = int32_t(px1), t->y1 = int32_t(py1);
  // Edge i runs from v[i] to v[i+1]; inside is E >= 0 on top and left edges
  // and E > 0 on the others (E - 1 >= 0).
  t->wide = false;
  for (int i = 0; i < 3; ++i) {
    int j = (i + 1) % 3;
    int64_t dx = X[j] - X[i], dy = Y[j] - Y[i];
    int64_t A = -dy, B = dx;
    bool topLeft = (dy == 0 && dx > 0) || dy < 0;
    t->c[i] = -A * X[i] - B * Y[i] - (topLeft ? 0 : 1);
    t->a16[i] = A * 16;
    t->b16[i] = B * 16;
    if (std::abs(A * 16) >= kNarrowStep || std::abs(B * 16) >= kNarrowStep) t->wide = true;
  }
  RasteriserSetup& S = t->setup;
  S.refX = float(X[0]) / 16.0f;
  S.refY = float(Y[0]) / 16.0f;
  S.flat = cx.flat;
  S.flatColour = flatColour;
  if (!S.flat && memcmp(v[0]->a, v[1]->a, 4 * sizeof(float)) == 0 &&
      memcmp(v[0]->a, v[2]->a, 4 * sizeof(float)) == 0) {
    // One colour on all three corners (unlit white meshes, 2D quads): skip
    // interpolating it.
    S.flat = true;
    S.flatColour = PackColour(*v[0]);
  }
  FillPlanes(cx, v, double(X[1] - X[0]) / 16.0, double(Y[1] - Y[0]) / 16.0, double(X[2] - X[0]) / 16.0,
             double(Y[2] - Y[0]) / 16.0, S.flat, planes);
  S.perspective = !(v[0]->oow == v[1]->oow && v[1]->oow == v[2]->oow);
  S.w = 1.0f / v[0]->oow;
  S.p = planes;

  // Tiles of the bounding box; where it spans several tiles each way, only
  // those some part of the triangle may reach.
  const int tx0 = int(px0 >> RASTERISER_TILE_SHIFT), tx1 = int(px1 >> RASTERISER_TILE_SHIFT);
  const int ty0 = int(py0 >> RASTERISER_TILE_SHIFT), ty1 = int(py1 >> RASTERISER_TILE_SHIFT);
  const bool test = tx1 > tx0 && ty1 > ty0;
  for (int ty = ty0; ty <= ty1; ++ty)
    for (int tx = tx0; tx <= tx1; ++tx) {
      if (test) {
        // Reject the tile when one edge is negative over all of it: its
        // largest value sits at the corner its gradient points to.
        const int64_t x0 = int64_t(tx) << RASTERISER_TILE_SHIFT, y0 = int64_t(ty) << RASTERISER_TILE_SHIFT;
        const int64_t x1 = x0 + RASTERISER_TILE_SIZE - 1, y1 = y0 + RASTERISER_TILE_SIZE - 1;
        bool outside = false;
        for (int i = 0; i < 3 && !outside; ++i) {
          const int64_t A = t->a16[i], B = t->b16[i];
          outside = A * (A > 0 ? x1 : x0) + B * (B > 0 ? y1 : y0) + t->c[i] < 0;
        }
        if (outside) continue;
      }
      Bin(*cx.bin, ty * kGridSide + tx, t);
    }
}

void DrawTriangle(const Context& cx, const RasteriserVertex* a, const RasteriserVertex* b, const RasteriserVertex* c,
                  uint8_t ca, uint8_t cb, uint8_t cc) {
  if (ca & cb & cc) return;  // wholly outside one plane
  uint32_t flatColour = cx.flat ? PackColour(*a) : 0;
  if (!(ca | cb | cc)) {
    SetupTriangle(cx, a, b, c, flatColour);
    return;
  }
  RasteriserVertex store[3 * kMaxClipped];
  const RasteriserVertex* in[3] = {a, b, c};
  const RasteriserVertex* poly[kMaxClipped];
  int n = ClipPolygon(in, 3, uint8_t(ca | cb | cc), cx.clip, store, poly);
  for (int i = 1; i + 1 < n; ++i) SetupTriangle(cx, poly[0], poly[i], poly[i + 1], flatColour);
}

// One pixel with the attributes of `v` (points and line pixels), binned to
// its tile with constant planes.
void BinPixel(const Context& cx, int x, int y, const RasteriserVertex& v, uint32_t flatColour) {
  const RasteriserPlan& P = *cx.plan;
  if (x < P.clipX0 || x >= P.clipX1 || y < P.clipY0 || y >= P.clipY1) return;
  RasteriserPlane* planes;
  auto* px = NewCommand<RasteriserPixel>(cx, RASTERISER_CMD_PIXEL, &planes);
  if (!px) return;
  memset(planes, 0, size_t(2 + P.attrCount) * sizeof(RasteriserPlane));
  px->x = x;
  px->y = y;
  RasteriserSetup& S = px->setup;
  S.refX = float(x);
  S.refY = float(y);
  S.flat = cx.flat;
  S.flatColour = flatColour;
  S.perspective = false;
  S.w = 1.0f;
  planes[0].v0 = v.sz;
  planes[1].v0 = 1.0f;
  for (int i = 0; i < P.attrCount; ++i) planes[2 + i].v0 = v.a[i];
  S.p = planes;
  Bin(*cx.bin, (y >> RASTERISER_TILE_SHIFT) * kGridSide + (x >> RASTERISER_TILE_SHIFT), px);
}

void DrawPoint(const Context& cx, const RasteriserVertex& v, uint8_t code) {
  if (code || !Finite(v)) return;
  BinPixel(cx, int(std::floor(v.sx + 0.5f)), int(std::floor(v.sy + 0.5f)), v, PackColour(v));
}

// Lines are one pixel wide: one pixel per step along the major axis, the last
// pixel left out so that strips do not draw their joints twice.
void DrawLine(const Context& cx, const RasteriserVertex* a, const RasteriserVertex* b, uint8_t ca, uint8_t cb) {
  if (ca & cb) return;
  RasteriserVertex store[2];
  RasteriserVertex p = *a, q = *b;
  if (ca | cb) {
    for (int plane = CLIP_NEAR; plane <= CLIP_W; plane <<= 1) {
      if (!((ca | cb) & plane)) continue;
      float dp = PlaneDistance(p, plane, cx.clip.guard), dq = PlaneDistance(q, plane, cx.clip.guard);
      bool pin = dp >= 0.0f, qin = dq >= 0.0f;
      if (!pin && !qin) return;
      if (pin && !qin) {
        Intersect(p, q, dp, dq, cx.clip, store[0]);
        q = store[0];
      } else if (!pin && qin) {
        Intersect(q, p, dq, dp, cx.clip, store[1]);
        p = store[1];
      }
    }
  }
  if (!Finite(p) || !Finite(q)) return;
  uint32_t flatColour = cx.flat ? PackColour(*a) : 0;
  float dx = q.sx - p.sx, dy = q.sy - p.sy;
  bool xMajor = std::fabs(dx) >= std::fabs(dy);
  float start = xMajor ? p.sx : p.sy, end = xMajor ? q.sx : q.sy, len = xMajor ? dx : dy;
  if (len == 0.0f) return;
  int i0 = int(std::floor(start + 0.5f)), i1 = int(std::floor(end + 0.5f));
  int step = i1 >= i0 ? 1 : -1;
  RasteriserVertex pix;
  for (int i = i0; i != i1; i += step) {
    float t = (float(i) - start) / len;
    if (t < 0.0f) t = 0.0f;
    if (t > 1.0f) t = 1.0f;
    float minor = xMajor ? p.sy + t * dy : p.sx + t * dx;
    int mi = int(std::floor(minor + 0.5f));
    // Attributes: linear in screen space after division by w.
    float oow = p.oow + t * (q.oow - p.oow);
    float w = 1.0f / oow;
    pix.sz = p.sz + t * (q.sz - p.sz);
    for (int k = 0; k < cx.plan->attrCount; ++k)
      pix.a[k] = (p.a[k] * p.oow + t * (q.a[k] * q.oow - p.a[k] * p.oow)) * w;
    if (xMajor)
      BinPixel(cx, i, mi, pix, flatColour);
    else
      BinPixel(cx, mi, i, pix, flatColour);
  }
}

// The floating-point mode of the draw path: flush-to-zero and
// round-to-nearest, whatever the caller set, so that every float result and
// every fixed-point conversion (they round by the current mode) is the same
// on every call. The workers run in the same mode (rasteriser_pool.cpp).
struct FpModeScope {
  static constexpr unsigned kRoundingBits = 0x6000u, kFlushToZero = 0x8000u;
  unsigned saved;
  FpModeScope() : saved(_mm_getcsr()) { _mm_setcsr((saved & ~kRoundingBits) | kFlushToZero); }
  ~FpModeScope() { _mm_setcsr(saved); }
};

// Batches past this size are flushed before the next call, so a frame of
// unbounded size never holds unbounded memory. (The threads' scratch holds
// nothing between flushes.)
bool BinsFull() { return g_raster.recording->arena.used > kMaxBinBytes; }

// A draw's primitives as set-up reads them.
struct Assembly {
  uint32_t type;
  int64_t vertexCount;
  const uint8_t* idx8;  // null: not indexed
  int indexSize;
  int64_t base;         // the index that names vertices[0]
  const RasteriserVertex* verts;
  const uint8_t* codes;

  int64_t Index(int64_t k) const {
    if (!idx8) return k;
    if (indexSize == 4) {
      uint32_t v;
      memcpy(&v, idx8 + 4 * k, 4);
      return int64_t(v) - base;
    }
    return (int64_t(idx8[2 * k]) | int64_t(idx8[2 * k + 1]) << 8) - base;
  }
  bool Valid(int64_t i) const { return i >= 0 && i < vertexCount; }
};

// Sets up primitives first .. last-1.
void Assemble(Context& cx, const Assembly& a, int64_t first, int64_t last) {
  for (int64_t p = first; p < last && !cx.bin->failed; ++p) {
    switch (a.type) {
      case D3DPT_POINTLIST: {
        int64_t i = a.Index(p);
        if (a.Valid(i)) DrawPoint(cx, a.verts[i], a.codes[i]);
        break;
      }
      case D3DPT_LINELIST:
      case D3DPT_LINESTRIP: {
        int64_t k = a.type == D3DPT_LINELIST ? 2 * p : p;
        int64_t i = a.Index(k), j = a.Index(k + 1);
        if (a.Valid(i) && a.Valid(j)) DrawLine(cx, &a.verts[i], &a.verts[j], a.codes[i], a.codes[j]);
        break;
      }
      default: {
        int64_t i0, i1, i2;
        if (a.type == D3DPT_TRIANGLELIST) {
          i0 = a.Index(3 * p), i1 = a.Index(3 * p + 1), i2 = a.Index(3 * p + 2);
        } else if (a.type == D3DPT_TRIANGLESTRIP) {
          // Odd triangles swap their last two vertices to keep the winding;
          // the first vertex stays first, as flat shading takes its colour.
          i0 = a.Index(p);
          i1 = a.Index(p + 1 + (p & 1));
          i2 = a.Index(p + 2 - (p & 1));
        } else if (a.type == D3DPT_TRIANGLEFAN) {
          i0 = a.Index(p + 1), i1 = a.Index(p + 2), i2 = a.Index(0);
        } else {
          i0 = i1 = i2 = -1;
        }
        if (a.Valid(i0) && a.Valid(i1) && a.Valid(i2))
          DrawTriangle(cx, &a.verts[i0], &a.verts[i1], &a.verts[i2], a.codes[i0], a.codes[i1], a.codes[i2]);
        break;
      }
    }
  }
}

// ---- the flush: set-up on every thread, then the tiles ------------------------------------

Assembly AssemblyOf(const Record& r) {
  return Assembly{r.type, r.vertexCount, r.indices, r.indexSize, r.indexBase, r.processed, r.codes};
}

void VertexPartJob(void* context, int item, int) {
  Batch& b = *static_cast<Batch*>(context);
  const Part& part = b.vertexParts[size_t(item)];
  Record& r = b.records[size_t(part.record)];
  const int64_t n = std::min<int64_t>(kVertexPart, r.vertexCount - part.first);
  RasteriserVertex_Process(r.vertexPlan, r.vertices, int(part.first), int(n), r.processed + part.first);
  for (int64_t i = part.first; i < part.first + n; ++i) r.codes[i] = Outcode(r.processed[i], r.clip);
}

void PrimitivePartJob(void* context, int item, int thread) {
  Batch& b = *static_cast<Batch*>(context);
  const Part& part = b.primitiveParts[size_t(item)];
  const Record& r = b.records[size_t(part.record)];
  PartScratch& scratch = *g_raster.scratch[size_t(thread)];
  Binner bin{&scratch.arena, scratch.tiles.get(), &scratch.touched, false};
  Context cx;
  cx.plan = r.plan;
  cx.bin = &bin;
  cx.clip = r.clip;
  cx.cullMode = r.cullMode;
  cx.flat = r.flat;
  Assemble(cx, AssemblyOf(r), part.first, std::min<int64_t>(part.first + kPrimitivePart, r.primitiveCount));
  std::vector<PartTile>& out = b.partTiles[size_t(item)];
  try {
    out.clear();
    for (int tile : scratch.touched) {
      Tile& t = scratch.tiles[size_t(tile)];
      out.push_back({tile, t.head, t.tail, t.commands});
      t = Tile{};
    }
  } catch (const std::bad_alloc&) {
    bin.failed = true;
  }
  scratch.touched.clear();
  // Out of memory: the part is dropped whole (a draw already accepted
  // cannot fail any more), never half binned.
  if (bin.failed) {
    for (const PartTile& pt : out) scratch.tiles[size_t(pt.tile)] = Tile{};
    out.clear();
    b.failed = true;
  }
}

// Shades the tile the item names (on one thread, in order) or, on the pool,
// a tile the run hands the thread: every item takes one, so all are shaded.
void ShadeTileJob(void* context, int item, int thread) {
  Batch& b = *static_cast<Batch*>(context);
  const int tile = b.run.groups ? b.run.Take(thread) : b.order[size_t(item)];
  if (tile < 0) return;  // cannot happen: as many items as tiles
  const int x0 = (tile % kGridSide) << RASTERISER_TILE_SHIFT, y0 = (tile / kGridSide) << RASTERISER_TILE_SHIFT;
  RasteriserTile_Shade(b.tiles[size_t(tile)].head, x0, y0);
  const RasteriserTileJob& after = b.after;
  if (after.job && x0 < after.width && y0 < after.height)
    after.job(after.context, x0, y0, std::min(x0 + RASTERISER_TILE_SIZE, after.width),
              std::min(y0 + RASTERISER_TILE_SIZE, after.height));
}

// Thread scratch for every thread that may run a part.
bool EnsureScratch(int threads) {
  RasterModule& g = g_raster;
  try {
    while (int(g.scratch.size()) < threads) {
      auto scratch = std::make_unique<PartScratch>();
      scratch->tiles.reset(NewTileGrid());
      if (!scratch->tiles) return false;
      g.scratch.push_back(std::move(scratch));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// The steps of a flush, on the calling thread and the pool (Shade) or
// chained as a task on the pool (ShadeAsync). The threads' scratch is in
// place (EnsureScratch).

// The batch's draws in parts: room for their processed vertices, and the
// parts of vertices and of primitives.
void ListParts(Batch& b) {
  b.vertexParts.clear();
  b.primitiveParts.clear();
  b.failed = false;
  try {
    for (int i = 0; i < int(b.records.size()); ++i) {
      Record& r = b.records[size_t(i)];
      if (r.clear) continue;
      r.processed = static_cast<RasteriserVertex*>(b.arena.Alloc(size_t(r.vertexCount) * sizeof(RasteriserVertex)));
      r.codes = static_cast<uint8_t*>(b.arena.Alloc(size_t(r.vertexCount)));
      if (!r.processed || !r.codes) {
        r.primitiveCount = 0;  // out of memory: the draw is lost
        continue;
      }
      for (int64_t v = 0; v < r.vertexCount; v += kVertexPart) b.vertexParts.push_back({i, v});
      for (int64_t p = 0; p < r.primitiveCount; p += kPrimitivePart) b.primitiveParts.push_back({i, p});
    }
    if (b.partTiles.size() < b.primitiveParts.size()) b.partTiles.resize(b.primitiveParts.size());
  } catch (const std::bad_alloc&) {
    // Not even the lists of parts: the batch's draws are lost.
    b.vertexParts.clear();
    b.primitiveParts.clear();
  }
}

// After the parts are set up: they and the clears go into the bins in
// submission order, and the tiles with commands (and the other tiles of the
// batch's `after` picture) are put in shading order.
void BinBatch(Batch& b, bool oneThread) {
  Binner main{&b.arena, b.tiles.get(), &b.touched, false};
  size_t part = 0;
  for (const Record& r : b.records) {
    if (r.clear) {
      const RasteriserClear& c = *r.clear;
      for (int ty = c.y0 >> RASTERISER_TILE_SHIFT; ty <= (c.y1 - 1) >> RASTERISER_TILE_SHIFT; ++ty)
        for (int tx = c.x0 >> RASTERISER_TILE_SHIFT; tx <= (c.x1 - 1) >> RASTERISER_TILE_SHIFT; ++tx)
          Bin(main, ty * kGridSide + tx, r.clear);
      continue;
    }
    for (; part < b.primitiveParts.size() && &b.records[size_t(b.primitiveParts[part].record)] == &r; ++part)
      for (const PartTile& pt : b.partTiles[part]) {
        Tile& t = b.tiles[size_t(pt.tile)];
        if (t.tail)
          t.tail->next = pt.head;
        else
          t.head = pt.head, b.touched.push_back(pt.tile);
        t.tail = pt.tail;
        t.commands += pt.commands;
      }
  }
  b.order = b.touched;
  try {
    for (int ty = 0; ty << RASTERISER_TILE_SHIFT < b.after.height; ++ty)
      for (int tx = 0; tx << RASTERISER_TILE_SHIFT < b.after.width; ++tx)
        if (!b.tiles[size_t(ty * kGridSide + tx)].head) b.order.push_back(ty * kGridSide + tx);
  } catch (const std::bad_alloc&) {
    // No room to list them: the whole picture gets `after` at the finish.
    b.order.resize(b.touched.size());
    b.afterLeft = b.after;
    b.after = RasteriserTileJob{};
  }
  b.run.groups = 0;  // one thread: the tiles in `order`
  if (oneThread) return;
  // The busiest tiles first, so that no thread is left with a long one at
  // the end. (Any order gives the same pixels.)
  std::stable_sort(b.order.begin(), b.order.end(),
                   [&](int x, int y) { return b.tiles[size_t(x)].commands > b.tiles[size_t(y)].commands; });
  if (!b.run.Build(b.order, RasteriserPool_Threads())) b.run.groups = 0;
}

// After the tiles are shaded: the batch is emptied for the next frame.
void Empty(Batch& b) {
  b.after = RasteriserTileJob{};
  for (int tile : b.touched) b.tiles[size_t(tile)] = Tile{};
  b.touched.clear();
  b.records.clear();
  b.arena.Reset();
  for (auto& scratch : g_raster.scratch) scratch->arena.Reset();
}

// Runs `count` items on the pool, or on the calling thread alone.
void Run(bool oneThread, int count, void (*job)(void*, int, int), void* context) {
  if (oneThread) {
    for (int i = 0; i < count; ++i) job(context, i, 0);
  } else {
    RasteriserPool_Run({count, job, context, nullptr});
  }
}

// Sets a batch with records up, shades its tiles and empties it.
void Shade(Batch& b, bool oneThread) {
  FpModeScope fpMode;
  ListParts(b);
  Run(oneThread, int(b.vertexParts.size()), VertexPartJob, &b);
  Run(oneThread, int(b.primitiveParts.size()), PrimitivePartJob, &b);
  BinBatch(b, oneThread);
  Run(oneThread, int(b.order.size()), ShadeTileJob, &b);
  Empty(b);
}

// The same steps chained as a task: each `then` runs on the thread that
// finished the step before, so no thread waits for another to wake.
void AfterTiles(void* context, int) {
  Empty(*static_cast<Batch*>(context));
  RasteriserPool_End();
}

void AfterPrimitives(void* context, int) {
  Batch& b = *static_cast<Batch*>(context);
  BinBatch(b, false);
  RasteriserPool_Then({int(b.order.size()), ShadeTileJob, &b, AfterTiles});
}

void AfterVertices(void* context, int) {
  Batch& b = *static_cast<Batch*>(context);
  RasteriserPool_Then({int(b.primitiveParts.size()), PrimitivePartJob, &b, AfterPrimitives});
}

void ShadeAsync(Batch& b) {
  FpModeScope fpMode;  // for whatever of it runs on this thread
  ListParts(b);
  RasteriserPool_Launch({int(b.vertexParts.size()), VertexPartJob, &b, AfterVertices});
}

// A batch's `after` where its tiles did not run it (nothing was shaded, or
// memory ran out), on the whole picture; on the calling thread alone when
// memory runs out for that too.
void RunAfterLeft(Batch& b) {
  const RasteriserTileJob left = b.after.job ? b.after : b.afterLeft;
  b.after = b.afterLeft = RasteriserTileJob{};
  if (!left.job || Rasteriser_ForEachTile(left.width, left.height, left.job, left.context)) return;
  for (int y = 0; y < left.height; y += RASTERISER_TILE_SIZE)
    for (int x = 0; x < left.width; x += RASTERISER_TILE_SIZE)
      left.job(left.context, x, y, std::min(x + RASTERISER_TILE_SIZE, left.width),
               std::min(y + RASTERISER_TILE_SIZE, left.height));
}

// Waits for the launched batch, if any (taking its items meanwhile), and
// runs its finish.
void FinishShading() {
  RasterModule& g = g_raster;
  if (!g.shading) return;
  {
    FpModeScope fpMode;
    RasteriserPool_Wait();
  }
  Batch& done = *g.shading;
  g.shading = nullptr;
  RunAfterLeft(done);
  void (*finish)() = g.finish;
  g.finish = nullptr;
  if (finish) finish();
}

// Scratch for `threads` threads; false (the batch's draws are then lost)
// when memory ran out.
bool ReadyToShade(Batch& b, int threads) {
  if (EnsureScratch(threads)) return true;
  b.records.clear();
  b.arena.Reset();
  return false;
}

void Flush(bool oneThread) {
  RasterModule& g = g_raster;
  FinishShading();
  Batch& b = *g.recording;
  if (!b.records.empty() && ReadyToShade(b, oneThread ? 1 : RasteriserPool_Threads())) Shade(b, oneThread);
  b.arena.Reset();
  ++g.batch;
}

// Room for one more record; false when memory ran out.
bool Prepare() {
  RasterModule& g = g_raster;
  // A launched batch whose tiles are done is finished at the first chance,
  // so that its finish (the frame shown) waits no longer than it must.
  if (g.shading && RasteriserPool_TaskDone()) FinishShading();
  Batch& b = *g.recording;
  if (!b.tiles) b.tiles.reset(NewTileGrid());
  if (!b.tiles) return false;
  if (BinsFull()) Flush(false);
  try {
    if (b.records.size() == b.records.capacity()) b.records.reserve(2 * b.records.size() + 64);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace

int Rasteriser_Draw(const D3D8DrawState* s) {
  if (!s || !s->target.pixels || !s->vertices || s->primitiveCount <= 0 || s->stride <= 0) return 0;
  const D3D8VertexLayout& L = s->layout;
  if (L.size > s->stride) return 0;
  FpModeScope fpMode;
  RasteriserPlan plan;
  if (!RasteriserSpan_Plan(s, &plan)) return 0;
  if (plan.clipX0 >= plan.clipX1 || plan.clipY0 >= plan.clipY1) return 1;
  const uint32_t type = s->primitiveType;
  const int64_t prims = s->primitiveCount;
  int64_t count = s->indices ? int64_t(s->vertexCount) : int64_t(D3D8Fvf_BatchVertices(type, uint64_t(prims)));
  if (count > s->vertexCount) count = s->vertexCount;
  if (count <= 0) return 1;
  if (!Prepare()) return 0;

  // The draw's copies: its plans (only the stages in use, and the palette
  // when a stage reads P8), the vertices it may read (the last one only as
  // far as its format reaches) and its indices.
  Batch& b = *g_raster.recording;
  Record r{};
  bool readsPalette = false;
  for (int i = 0; i < plan.stageCount; ++i) readsPalette |= plan.stages[i].sample && plan.stages[i].format == D3DFMT_P8;
  if (readsPalette && plan.palette) {
    plan.palette = Keep<PALETTEENTRY>(plan.palette, 256 * sizeof(PALETTEENTRY));
    if (!plan.palette) return 0;
  } else {
    plan.palette = nullptr;
  }
  if (plan.shader) {
    auto* shader = Keep<RasteriserPShader>(plan.shader, RasteriserPShader_Bytes(plan.shader));
    if (!shader) return 0;
    RasteriserPShader_SetConstants(shader, s->pixelShaderConstants);
    plan.shader = shader;
  }
  r.plan = Keep<RasteriserPlan>(&plan, offsetof(RasteriserPlan, stages) + size_t(plan.stageCount) * sizeof(RasteriserStage));
  RasteriserVertexPlan* vertexPlan = static_cast<RasteriserVertexPlan*>(b.arena.Alloc(sizeof(RasteriserVertexPlan)));
  if (!r.plan || !vertexPlan) return 0;
  RasteriserVertex_Plan(s, &plan, vertexPlan);
  r.vertexPlan = vertexPlan;
  r.vertices = Keep<uint8_t>(s->vertices, size_t(count - 1) * size_t(s->stride) + size_t(L.size));
  if (!r.vertices) return 0;
  if (s->indices) {
    r.indices = Keep<uint8_t>(s->indices, size_t(D3D8Fvf_BatchVertices(type, uint64_t(prims))) * size_t(s->indexSize));
    if (!r.indices) return 0;
  }
  r.indexSize = s->indexSize;
  r.indexBase = s->indexBase;
  r.type = type;
  r.primitiveCount = prims;
  r.vertexCount = count;
  r.clip.pretransformed = L.pretransformed;
  r.clip.attrCount = plan.attrCount;
  r.clip.viewport = s->viewport;
  if (L.pretransformed) {
    r.clip.guard = 16384.0f;
  } else {
    float half = float(std::max(s->viewport.Width, s->viewport.Height)) * 0.5f;
    r.clip.guard = half > 0.0f ? std::max(1.0f, 8192.0f / half) : 1.0f;
  }
  r.cullMode = s->renderStates[D3DRS_CULLMODE];
  r.flat = s->renderStates[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
  b.records.push_back(r);
  return 1;
}

int Rasteriser_Clear(const D3D8DrawSurface* colour, uint32_t colourValue, const D3D8DrawSurface* depth,
                     uint32_t depthValue, uint32_t depthKeep, int x0, int y0, int x1, int y1) {
  if (x0 >= x1 || y0 >= y1 || (!colour && !depth)) return 1;
  if (!Prepare()) return 0;
  auto* c = static_cast<RasteriserClear*>(g_raster.recording->arena.Alloc(sizeof(RasteriserClear)));
  if (!c) return 0;
  c->kind = RASTERISER_CMD_CLEAR;
  c->x0 = x0, c->y0 = y0, c->x1 = x1, c->y1 = y1;
  c->colour = colour ? *colour : D3D8DrawSurface{};
  c->depth = depth ? *depth : D3D8DrawSurface{};
  c->colourValue = colourValue;
  c->depthValue = depthValue & ~depthKeep;
  c->depthKeep = depthKeep;
  Record r{};
  r.clear = c;
  g_raster.recording->records.push_back(r);
  return 1;
}

uint64_t Rasteriser_Batch() { return g_raster.batch; }

void Rasteriser_Finish(uint64_t batch) {
  const RasterModule& g = g_raster;
  if (batch == g.batch && !g.recording->records.empty())
    Flush(false);
  else if (g.shading && batch == g.batch - 1)
    FinishShading();
}

void Rasteriser_Flush() { Flush(false); }

void Rasteriser_FlushAsync(void (*finish)(), const RasteriserTileJob* after) {
  RasterModule& g = g_raster;
  FinishShading();
  Batch& b = *g.recording;
  if (after && after->job && after->width > 0 && after->height > 0) {
    b.after = *after;
    b.after.width = std::min(after->width, kGridSide << RASTERISER_TILE_SHIFT);
    b.after.height = std::min(after->height, kGridSide << RASTERISER_TILE_SHIFT);
  }
  const int threads = RasteriserPool_Threads();
  if (b.records.empty() || threads <= 1 || !ReadyToShade(b, threads)) {
    Flush(false);
    RunAfterLeft(b);
    if (finish) finish();
    return;
  }
  g.shading = &b;
  g.finish = finish;
  g.recording = &g.batches[&b == &g.batches[0] ? 1 : 0];
  ++g.batch;
  ShadeAsync(b);
}

void Rasteriser_Wait() { FinishShading(); }

namespace {

void EachTileJob(void*, int item, int thread) {
  RasterModule& g = g_raster;
  const int tile = g.each.groups ? g.each.Take(thread) : g.eachOrder[size_t(item)];
  if (tile < 0) return;
  const int x0 = (tile % kGridSide) << RASTERISER_TILE_SHIFT, y0 = (tile / kGridSide) << RASTERISER_TILE_SHIFT;
  g.eachJob(g.eachContext, x0, y0, std::min(x0 + RASTERISER_TILE_SIZE, g.eachWidth),
            std::min(y0 + RASTERISER_TILE_SIZE, g.eachHeight));
}

}  // namespace

int Rasteriser_ForEachTile(int width, int height, void (*job)(void*, int, int, int, int), void* context) {
  RasterModule& g = g_raster;
  FinishShading();
  if (width <= 0 || height <= 0) return 1;
  width = std::min(width, kGridSide << RASTERISER_TILE_SHIFT);
  height = std::min(height, kGridSide << RASTERISER_TILE_SHIFT);
  const int columns = (width + RASTERISER_TILE_SIZE - 1) >> RASTERISER_TILE_SHIFT;
  const int rows = (height + RASTERISER_TILE_SIZE - 1) >> RASTERISER_TILE_SHIFT;
  const int threads = RasteriserPool_Threads();
  try {
    g.eachOrder.clear();
    for (int ty = 0; ty < rows; ++ty)
      for (int tx = 0; tx < columns; ++tx) g.eachOrder.push_back(ty * kGridSide + tx);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  g.each.groups = 0;
  if (threads > 1 && !g.each.Build(g.eachOrder, threads)) g.each.groups = 0;
  g.eachJob = job;
  g.eachContext = context;
  g.eachWidth = width;
  g.eachHeight = height;
  RasteriserPool_Run({int(g.eachOrder.size()), EachTileJob, nullptr, nullptr});
  return 1;
}

void Rasteriser_FlushOnOneThread() { Flush(true); }

void Rasteriser_SetThreads(int threads) {
  Rasteriser_Flush();
  RasteriserPool_SetThreads(threads);
}

int Rasteriser_Threads() { return RasteriserPool_Threads(); }

void Rasteriser_Shutdown() {
  Rasteriser_Flush();
  RasteriserPool_Stop();
  RasterModule& g = g_raster;
  for (Batch& b : g.batches) {
    b.arena.Free();
    b.tiles.reset();
    b.records = std::vector<Record>();
    b.touched = std::vector<int>();
    b.vertexParts = std::vector<Part>();
    b.primitiveParts = std::vector<Part>();
    b.partTiles = std::vector<std::vector<PartTile>>();
    b.order = std::vector<int>();
  }
  g.scratch.clear();
  g.eachOrder = std::vector<int>();
}
