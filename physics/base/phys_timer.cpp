#include "physics/base/phys_timer.h"

#include <chrono>
#include <cstring>

namespace {

constexpr int kMaxTimers = 256;

struct TimerModule {
  PhysTimer timers[kMaxTimers];
  int count = 0;
};
TimerModule g_timers;

}  // namespace

int64_t PhysTimer_Ticks() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double PhysTimer_TicksPerSecond() { return 1e9; }

PhysTimer* PhysTimer_Find(const char* path) {
  if (!path || !path[0]) return nullptr;
  for (int i = 0; i < g_timers.count; ++i)
    if (std::strncmp(g_timers.timers[i].path, path, sizeof(g_timers.timers[i].path) - 1) == 0)
      return &g_timers.timers[i];
  if (g_timers.count == kMaxTimers) return nullptr;
  PhysTimer* t = &g_timers.timers[g_timers.count++];
  std::memset(t, 0, sizeof(*t));
  std::strncpy(t->path, path, sizeof(t->path) - 1);
  return t;
}

void PhysTimer_Start(PhysTimer* timer) {
  if (timer) timer->startTicks = PhysTimer_Ticks();
}

void PhysTimer_Stop(PhysTimer* timer) {
  if (!timer || !timer->startTicks) return;
  timer->lastTicks = PhysTimer_Ticks() - timer->startTicks;
  timer->totalTicks += timer->lastTicks;
  timer->startTicks = 0;
  ++timer->count;
}

double PhysTimer_Seconds(const PhysTimer* timer) {
  return timer ? double(timer->totalTicks) / PhysTimer_TicksPerSecond() : 0.0;
}

int PhysTimer_Count() { return g_timers.count; }
const PhysTimer* PhysTimer_Get(int i) {
  return (i >= 0 && i < g_timers.count) ? &g_timers.timers[i] : nullptr;
}

void PhysTimer_ClearAll() {
  for (int i = 0; i < g_timers.count; ++i) {
    g_timers.timers[i].totalTicks = g_timers.timers[i].lastTicks = 0;
    g_timers.timers[i].count = 0;
    g_timers.timers[i].startTicks = 0;
  }
}

void PhysTimer_ResetAll() { g_timers.count = 0; }
