// The rasteriser's worker threads. The device is called from one thread
// only; these threads are the stand-in's own (as the platform's other
// services run threads of their own) and only ever run work the rasteriser
// hands them through RasteriserPool_Run, which returns when all of it is
// done. Internal to platform/direct3d.
#pragma once

// Threads that take part in a run, the caller included: HELM_RASTER_THREADS
// when set (1..64), else one per CPU, or what RasteriserPool_SetThreads set.
int RasteriserPool_Threads();

// Sets the number of threads that take part (the caller included; 1 = no
// worker threads); 0 goes back to the default above. Must not be called
// during a run. Workers start on the next run.
void RasteriserPool_SetThreads(int threads);

// Runs job(context, item, thread) for every item in 0 .. count-1, spread
// over the workers and the calling thread; `thread` is 0 on the caller and
// 1 .. RasteriserPool_Threads()-1 on the workers, and no two items run on one
// thread at once. Returns when every item is done, with everything the items
// wrote visible to the caller. Items must not call RasteriserPool_Run.
void RasteriserPool_Run(int count, void (*job)(void* context, int item, int thread), void* context);

// Stops and joins the workers (they start again on the next run).
void RasteriserPool_Stop();
