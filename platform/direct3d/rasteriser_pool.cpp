// The rasteriser's worker threads: a fixed set of threads that sleep between
// runs and take the items of a run one at a time, the calling thread taking
// items too.
//
// A run is published in one atomic word (generation, item count, next item),
// so a thread claims an item with one compare-and-swap that also proves the
// run is still the one whose job it read: a late worker can never run an
// item of a finished run, nor an item twice. Workers spin briefly before
// sleeping, since a flush starts its three runs in quick succession; the
// caller does the same while it waits for the last items.
#include "platform/direct3d/rasteriser_pool.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>
#include <xmmintrin.h>

namespace {

constexpr int kMaxThreads = 64;
constexpr int kSpins = 300;  // pauses before a thread sleeps (about ten microseconds)

// state: generation (24 bits) | item count (20 bits) | next item (20 bits).
constexpr int kCountShift = 20, kGenerationShift = 40;
constexpr uint64_t kFieldMask = (1u << 20) - 1;
constexpr int kMaxItems = int(kFieldMask);

struct Pool {
  std::mutex mutex;
  std::condition_variable wake;      // workers sleep here between runs
  std::condition_variable finished;  // the caller sleeps here until a run is done
  std::vector<std::thread> workers;  // touched by the calling thread only
  int requested = 0;                 // SetThreads; 0 = the default
  bool stopping = false;             // under mutex
  std::atomic<uint64_t> state{0};
  std::atomic<void (*)(void*, int, int)> job{nullptr};
  std::atomic<void*> context{nullptr};
  std::atomic<int> remaining{0};  // items of the current run not finished yet
  // A program that never stops the pool (or a test binary that ends after a
  // draw) still has live workers when statics are destroyed: they are
  // stopped and joined here, since a joinable thread's destructor ends the
  // program.
  ~Pool();
};
Pool g_pool;

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

// Claims and runs items of run `generation` until none is left.
void RunItems(uint32_t generation, int thread) {
  Pool& p = g_pool;
  for (;;) {
    uint64_t st = p.state.load(std::memory_order_acquire);
    if (GenerationOf(st) != generation) return;
    const int count = int((st >> kCountShift) & kFieldMask), next = int(st & kFieldMask);
    if (next >= count) return;
    // Read before the claim: a successful claim proves the run was still
    // this one, so this is its job.
    auto* job = p.job.load(std::memory_order_relaxed);
    void* context = p.context.load(std::memory_order_relaxed);
    if (!p.state.compare_exchange_weak(st, st + 1, std::memory_order_acq_rel)) continue;
    job(context, next, thread);
    if (p.remaining.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      std::lock_guard<std::mutex> lock(p.mutex);
      p.finished.notify_all();
    }
  }
}

// `seen`: the last run published before the worker was started.
void Worker(int thread, uint32_t seen) {
  Pool& p = g_pool;
  SetFloatMode();
  for (;;) {
    int spins = 0;
    uint64_t st = p.state.load(std::memory_order_acquire);
    while (GenerationOf(st) == seen) {
      if (++spins < kSpins) {
        _mm_pause();
      } else {
        std::unique_lock<std::mutex> lock(p.mutex);
        if (p.stopping) return;
        if (GenerationOf(p.state.load(std::memory_order_acquire)) == seen) p.wake.wait(lock);
        if (p.stopping) return;
        spins = 0;
      }
      st = p.state.load(std::memory_order_acquire);
    }
    seen = GenerationOf(st);
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

void RasteriserPool_Run(int count, void (*job)(void*, int, int), void* context) {
  Pool& p = g_pool;
  const int threads = RasteriserPool_Threads();
  if (threads <= 1 || count <= 1 || count > kMaxItems) {
    for (int i = 0; i < count; ++i) job(context, i, 0);
    return;
  }
  StartWorkers(threads);
  p.job.store(job, std::memory_order_relaxed);
  p.context.store(context, std::memory_order_relaxed);
  p.remaining.store(count, std::memory_order_relaxed);
  const uint64_t generation = (p.state.load(std::memory_order_relaxed) >> kGenerationShift) + 1;
  const uint32_t gen24 = uint32_t(generation & 0xFFFFFF);
  p.state.store(uint64_t(gen24) << kGenerationShift | uint64_t(count) << kCountShift, std::memory_order_release);
  {
    // Taken once so that a worker deciding to sleep either saw the new run
    // or is already waiting when it is woken.
    std::lock_guard<std::mutex> lock(p.mutex);
  }
  p.wake.notify_all();
  RunItems(gen24, 0);
  for (int spins = 0; p.remaining.load(std::memory_order_acquire) != 0; ++spins) {
    if (spins < kSpins) {
      _mm_pause();
      continue;
    }
    std::unique_lock<std::mutex> lock(p.mutex);
    p.finished.wait(lock, [&] { return p.remaining.load(std::memory_order_acquire) == 0; });
  }
}

void RasteriserPool_Stop() {
  Pool& p = g_pool;
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
