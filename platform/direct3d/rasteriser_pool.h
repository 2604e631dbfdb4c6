// The rasteriser's worker threads. The device is called from one thread
// only; these threads are the stand-in's own (as the platform's other
// services run threads of their own) and only ever run work the rasteriser
// hands them: runs of items, either waited for by the caller
// (RasteriserPool_Run) or chained into a task that goes on behind the
// caller's back (RasteriserPool_Launch). Internal to platform/direct3d.
#pragma once

// Threads that take part in a run, the caller included: HELM_RASTER_THREADS
// when set (1..64), else one per CPU, or what RasteriserPool_SetThreads set.
int RasteriserPool_Threads();

// Sets the number of threads that take part (the caller included; 1 = no
// worker threads); 0 goes back to the default above. Must not be called
// during a run or a task. Workers start on the next run.
void RasteriserPool_SetThreads(int threads);

// What a run does: job(context, item, thread) for every item in
// 0 .. count-1, spread over the threads; `thread` is 0 on the device's
// thread and 1 .. RasteriserPool_Threads()-1 on the workers, and no two
// items run on one thread at once.
struct RasteriserRun {
  int count;
  void (*job)(void* context, int item, int thread);
  void* context;
  // In a task: runs once every item is done, on the thread that finished
  // the last one (with everything the items wrote visible to it), and must
  // either start the task's next run (RasteriserPool_Then) or end the task
  // (RasteriserPool_End).
  void (*then)(void* context, int thread);
};

// Runs every item of `run` on the workers and the calling thread (the
// device's, with no task going on); returns when all are done, with
// everything they wrote visible. `then` is not used. Items must not start
// runs.
void RasteriserPool_Run(const RasteriserRun& run);

// Starts a task with `run` as its first run and returns at once (the
// device's thread, with more than one thread and no task going on). Its
// runs are taken by the workers, and by the device's thread while it waits.
void RasteriserPool_Launch(const RasteriserRun& run);
// From a `then`: the task's next run.
void RasteriserPool_Then(const RasteriserRun& run);
// From a `then`: the task is done.
void RasteriserPool_End();

// Whether the task has ended (true when none was launched).
bool RasteriserPool_TaskDone();

// Returns once the task has ended, with everything it wrote visible;
// meanwhile the calling thread (the device's) takes items of its runs as
// thread 0. At once when no task is going on.
void RasteriserPool_Wait();

// Stops and joins the workers (they start again on the next run). Waits for
// a task first.
void RasteriserPool_Stop();
