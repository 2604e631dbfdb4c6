// The rasteriser's worker threads: a fixed set of threads that sleep between
// runs and take the items of a run one at a time, the calling thread taking
// items too.
//
// A run is published in one atomic word (generation, item count, next item),
// so a thread claims an item with one compare-and-swap that also proves the
// run is still the one whose job it read: a late worker can never run an
// item of a finished run, nor an item twice. One run at a time: a waited
// run (RasteriserPool_Run) or the current run of a task.
//
// A task chains its runs without a thread that waits for them: the thread
// that finishes a run's last item calls its `then`, which starts the next
// run or ends the task. So the device's thread goes back to the game while
// a flush is set up and shaded, and no step of the flush waits for a
// sleeping thread to wake; when the device's thread must wait for the task,
// it takes items like a worker (as thread 0, an index no worker has), so at
// most RasteriserPool_Threads() threads work at any time.
//
// Waiting: a thread with nothing to take spins a little before it sleeps,
// since waking a sleeping thread costs tens of microseconds on a quiet
// machine and milliseconds on a busy one. Workers spin briefly (the gaps
// between the runs of a flush are short, the game's own work between
// frames is long); a thread waiting for the last items of a run it needs
// spins longer, about as long as a tile takes.
#include "platform/direct3d/rasteriser_pool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>
#include <xmmintrin.h>

namespace {

constexpr int kMaxThreads = 64;
constexpr auto kWorkerSpin = std::chrono::microseconds(20);  // before a worker sleeps
constexpr auto kWaiterSpin = std::chrono::microseconds(200);  // before a waiting caller sleeps

// state: generation (24 bits) | item count (20 bits) | next item (20 bits).
constexpr int kCountShift = 20, kGenerationShift = 40;
constexpr uint64_t kFieldMask = (1u << 20) - 1;
constexpr int kMaxItems = int(kFieldMask);

struct Pool {
  std::mutex mutex;
  std::condition_variable wake;      // workers (and the device's thread in Wait) sleep here
  std::condition_variable finished;  // the caller of RasteriserPool_Run sleeps here
  std::vector<std::thread> workers;  // touched by the device's thread only
  int requested = 0;                 // SetThreads; 0 = the default
  bool stopping = false;             // under mutex
  std::atomic<uint64_t> state{0};
  // The current run; written only while no item of it can be claimed.
  std::atomic<void (*)(void*, int, int)> job{nullptr};
  std::atomic<void*> context{nullptr};
  std::atomic<void (*)(void*, int)> then{nullptr};
  std::atomic<int> remaining{0};  // items of the current run not finished yet
  std::atomic<bool> taskDone{true};
  bool taskLive = false;  // launched and not yet waited for; the device's thread's own
  // A program that never stops the pool (or a test binary that ends after a
  // draw) still has live workers when statics are destroyed: they are
  // stopped and joined here, since a joinable thread's destructor ends the
  // program.
  ~Pool();
};
Pool g_pool;

// The index the calling thread runs items as: 0 on the device's thread.
thread_local int t_thread = 0;

// Every thread that shades works in the draw path's floating-point mode:
// flush-to-zero and round-to-nearest (see rasteriser.h).
void SetFloatMode() { _mm_setcsr((_mm_getcsr() & ~0x6000u) | 0x8000u); }

int DefaultThreads() {
  const char* env = getenv("HELM_RASTER_THREADS");
  if (env && *env) {
    int n = atoi(env);
    if (n >= 1) return n < kMaxThreads ? n : kMaxThreads;
  }
  unsigned hw = std::thread::hardware_concurrency();
  return hw == 0 ? 1 : (hw < unsigned(kMaxThreads) ? int(hw) : kMaxThreads);
}

uint32_t GenerationOf(uint64_t state) { return uint32_t(state >> kGenerationShift); }

bool HasItems(uint64_t state) { return (state & kFieldMask) < ((state >> kCountShift) & kFieldMask); }

// Spins while `busy()` holds, for at most `budget`; false when the budget
// ran out first.
template <class Busy>
bool SpinWhile(Busy busy, std::chrono::microseconds budget) {
  const auto until = std::chrono::steady_clock::now() + budget;
  for (;;) {
    for (int i = 0; i < 16; ++i) {
      if (!busy()) return true;
      _mm_pause();
    }
    if (std::chrono::steady_clock::now() >= until) return !busy();
  }
}

// Wakes every sleeping thread after a change they wait for was published.
void WakeAll() {
  Pool& p = g_pool;
  {
    // Taken once so that a thread deciding to sleep either saw the change
    // or is already waiting when it is woken.
    std::lock_guard<std::mutex> lock(p.mutex);
  }
  p.wake.notify_all();
}

// Publishes a run (no item of the previous one is left to claim).
void Publish(const RasteriserRun& run) {
  Pool& p = g_pool;
  p.job.store(run.job, std::memory_order_relaxed);
  p.context.store(run.context, std::memory_order_relaxed);
  p.then.store(run.then, std::memory_order_relaxed);
  p.remaining.store(run.count, std::memory_order_relaxed);
  const uint32_t generation = (GenerationOf(p.state.load(std::memory_order_relaxed)) + 1) & 0xFFFFFF;
  p.state.store(uint64_t(generation) << kGenerationShift | uint64_t(run.count) << kCountShift,
                std::memory_order_release);
  WakeAll();
}

// Claims and runs items of run `generation` until none is left; the thread
// that finishes the last item runs its `then` or wakes its caller.
void RunItems(uint32_t generation, int thread) {
  Pool& p = g_pool;
  for (;;) {
    uint64_t st = p.state.load(std::memory_order_acquire);
    if (GenerationOf(st) != generation) return;
    const int count = int((st >> kCountShift) & kFieldMask), next = int(st & kFieldMask);
    if (next >= count) return;
    // Read before the claim: a successful claim proves the run was still
    // this one, so these are its job and its then (and no later run can
    // replace them before this item is counted as finished).
    auto* job = p.job.load(std::memory_order_relaxed);
    void* context = p.context.load(std::memory_order_relaxed);
    auto* then = p.then.load(std::memory_order_relaxed);
    if (!p.state.compare_exchange_weak(st, st + 1, std::memory_order_acq_rel)) continue;
    job(context, next, thread);
    if (p.remaining.fetch_sub(1, std::memory_order_acq_rel) != 1) continue;
    if (then) {
      then(context, thread);
    } else {
      std::lock_guard<std::mutex> lock(p.mutex);
      p.finished.notify_all();
    }
    return;
  }
}

// `seen`: the last run published before the worker was started.
void Worker(int thread, uint32_t seen) {
  Pool& p = g_pool;
  SetFloatMode();
  t_thread = thread;
  for (;;) {
    auto same = [&] { return GenerationOf(p.state.load(std::memory_order_acquire)) == seen; };
    if (!SpinWhile(same, kWorkerSpin)) {
      std::unique_lock<std::mutex> lock(p.mutex);
      p.wake.wait(lock, [&] { return p.stopping || !same(); });
      if (p.stopping) return;
    }
    seen = GenerationOf(p.state.load(std::memory_order_acquire));
    RunItems(seen, thread);
  }
}

void StartWorkers(int threads) {
  Pool& p = g_pool;
  if (int(p.workers.size()) == threads - 1) return;
  RasteriserPool_Stop();
  const uint32_t seen = GenerationOf(p.state.load(std::memory_order_relaxed));
  for (int i = 1; i < threads; ++i) p.workers.emplace_back(Worker, i, seen);
}

}  // namespace

int RasteriserPool_Threads() {
  static const int defaultThreads = DefaultThreads();  // the environment is read once
  return g_pool.requested ? g_pool.requested : defaultThreads;
}

void RasteriserPool_SetThreads(int threads) {
  if (threads < 0) threads = 0;
  g_pool.requested = threads < kMaxThreads ? threads : kMaxThreads;
}

void RasteriserPool_Run(const RasteriserRun& run) {
  Pool& p = g_pool;
  const int threads = RasteriserPool_Threads();
  if (threads <= 1 || run.count <= 1 || run.count > kMaxItems) {
    for (int i = 0; i < run.count; ++i) run.job(run.context, i, 0);
    return;
  }
  StartWorkers(threads);
  Publish({run.count, run.job, run.context, nullptr});
  RunItems(GenerationOf(p.state.load(std::memory_order_relaxed)), 0);
  auto busy = [&] { return p.remaining.load(std::memory_order_acquire) != 0; };
  if (SpinWhile(busy, kWaiterSpin)) return;
  std::unique_lock<std::mutex> lock(p.mutex);
  p.finished.wait(lock, [&] { return !busy(); });
}

void RasteriserPool_Launch(const RasteriserRun& run) {
  Pool& p = g_pool;
  StartWorkers(RasteriserPool_Threads());
  p.taskDone.store(false, std::memory_order_relaxed);
  p.taskLive = true;
  RasteriserPool_Then(run);
}

void RasteriserPool_Then(const RasteriserRun& run) {
  if (run.count <= 0 || run.count > kMaxItems) {
    // Nothing to spread, or more than a run holds: here and straight on.
    for (int i = 0; i < run.count; ++i) run.job(run.context, i, t_thread);
    run.then(run.context, t_thread);
  } else {
    Publish(run);
  }
}

void RasteriserPool_End() {
  Pool& p = g_pool;
  {
    std::lock_guard<std::mutex> lock(p.mutex);
    p.taskDone.store(true, std::memory_order_release);
  }
  p.wake.notify_all();
}

bool RasteriserPool_TaskDone() { return !g_pool.taskLive || g_pool.taskDone.load(std::memory_order_acquire); }

void RasteriserPool_Wait() {
  Pool& p = g_pool;
  if (!p.taskLive) return;
  while (!p.taskDone.load(std::memory_order_acquire)) {
    const uint64_t st = p.state.load(std::memory_order_acquire);
    if (HasItems(st)) {
      RunItems(GenerationOf(st), 0);
      continue;
    }
    // Until the task ends or starts another run.
    auto idle = [&] {
      return !p.taskDone.load(std::memory_order_acquire) && p.state.load(std::memory_order_acquire) == st;
    };
    if (SpinWhile(idle, kWaiterSpin)) continue;
    std::unique_lock<std::mutex> lock(p.mutex);
    p.wake.wait(lock, [&] { return !idle(); });
  }
  p.taskLive = false;
}

void RasteriserPool_Stop() {
  Pool& p = g_pool;
  RasteriserPool_Wait();
  if (p.workers.empty()) return;
  {
    std::lock_guard<std::mutex> lock(p.mutex);
    p.stopping = true;
  }
  p.wake.notify_all();
  for (std::thread& t : p.workers) t.join();
  p.workers.clear();
  std::lock_guard<std::mutex> lock(p.mutex);
  p.stopping = false;
}

Pool::~Pool() { RasteriserPool_Stop(); }
