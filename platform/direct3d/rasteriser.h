// The software rasteriser behind the Direct3D 8 stand-in: the fixed-function
// pipeline from vertices to pixels. The device validates a draw and calls
// Rasteriser_Draw (declared with the draw record in d3d8_draw.h).
//
// Drawing is deferred: a draw or clear keeps copies of what it reads at the
// call, and the next flush sets the batch up, bins it into screen tiles and
// shades the tiles on a pool of threads (rasteriser.cpp explains the model
// and the device's flush points). The pictures are the same at every thread
// count.
//
// The pipeline is deterministic: the same bits on every CPU, flush-to-zero
// (as the driver runs during play) and round-to-nearest set for the duration
// of a draw and on every shading thread, whatever the caller's floating-point
// mode, and depth computed from positions alone, so identical triangles give
// bit-identical depth whatever their colours, fog or texture coordinates.
#pragma once

#include <cstdint>

#include "platform/direct3d/d3d8_draw.h"

// Records a clear of pixels x0 <= x < x1, y0 <= y < y1 (inside the
// surfaces) of `colour` to the stored value `colourValue` and of `depth` to
// `depthValue`; either surface may be null. The bits of depthKeep keep what
// each depth pixel holds (the stencil of a Z-only clear, the depth of a
// stencil-only one). Returns 0 when the batch's memory ran out (nothing is
// cleared then).
int Rasteriser_Clear(const D3D8DrawSurface* colour, uint32_t colourValue, const D3D8DrawSurface* depth,
                     uint32_t depthValue, uint32_t depthKeep, int x0, int y0, int x1, int y1);

// Writes every binned draw and clear into its surfaces and empties the bins
// (after finishing a batch that Rasteriser_FlushAsync launched). Cheap when
// nothing is binned.
void Rasteriser_Flush();

// Work on the screen tiles of a width x height picture: job(context, x0,
// y0, x1, y1) for the part x0 <= x < x1, y0 <= y < y1 of each tile inside it.
struct RasteriserTileJob {
  void (*job)(void* context, int x0, int y0, int x1, int y1);
  void* context;
  int width, height;
};

// Like Rasteriser_Flush, but with worker threads it returns at once: the
// batch is set up and shaded by the workers while the caller goes on
// recording the next one. finish() runs on the calling thread once the
// batch is shaded, at the latest when the next flush, wait, draw or clear
// begins, before anything later is shaded. With one thread (or nothing
// binned) it flushes and calls finish() before it returns. Until then the
// launched batch's stamp (below) stays unfinished. `after` (or null) runs
// on every tile of its picture, each once the batch's commands in that
// tile are done and on the thread that shaded them (the present's copy
// into the window, while the tile's pixels are in that core's caches); it
// runs on every tile before finish(), whatever the batch held.
void Rasteriser_FlushAsync(void (*finish)(), const RasteriserTileJob* after);

// Waits for the batch Rasteriser_FlushAsync launched, if any, and runs its
// finish; what was recorded since stays binned.
void Rasteriser_Wait();

// Flushes with the calling thread alone, the tiles in a fixed order: for
// draws whose picture depends on the order tiles are shaded in (a draw that
// samples its own target).
void Rasteriser_FlushOnOneThread();

// Runs job(context, x0, y0, x1, y1) for the part x0 <= x < x1, y0 <= y < y1
// of every screen tile inside a width x height picture, each tile on the
// thread that shades it in a flush when it can (so its pixels are read
// from that core's caches), the calling thread taking part. Finishes a
// launched batch first. For work on a whole frame after its flush (the
// present's copy into the window). Returns 0 (nothing done) when memory
// ran out.
int Rasteriser_ForEachTile(int width, int height, void (*job)(void* context, int x0, int y0, int x1, int y1),
                            void* context);

// The batch being binned: a number that changes at every flush. The device
// stamps a surface or texture with it when a draw or clear uses it, and
// calls Rasteriser_Finish(stamp) before a lock, copy or release: it waits
// for the launched batch when that is the stamp's, flushes when the stamp
// is the binned batch's (and that holds anything), else does nothing.
uint64_t Rasteriser_Batch();
void Rasteriser_Finish(uint64_t batch);

// Threads that shade (the caller included): HELM_RASTER_THREADS when set,
// else one per CPU. Set flushes first; 0 goes back to that default.
void Rasteriser_SetThreads(int threads);
int Rasteriser_Threads();

// How the common draws are shaded: by fused kernels in AVX2 (when the CPU
// has it) or SSE2 (every x86-64 CPU), or by the general stages alone
// (RASTERISER_SIMD_GENERAL, for tests and comparisons). The default is
// HELM_RASTER_SIMD when set ("avx2", "sse2", "general"), else the best the
// CPU has; AVX2 on a CPU without it falls back to SSE2. Set applies to draws
// made afterwards; 0 goes back to the default. The pictures are the same
// with each.
enum { RASTERISER_SIMD_GENERAL = 1, RASTERISER_SIMD_SSE2 = 2, RASTERISER_SIMD_AVX2 = 3 };
void Rasteriser_SetSimd(int simd);
int Rasteriser_Simd();

// Flushes, stops the worker threads and releases the memory the rasteriser
// keeps between draws (it grows to the largest draw and frame seen).
// Drawing again afterwards is allowed.
void Rasteriser_Shutdown();
