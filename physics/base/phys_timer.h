// Phase timers addressed by slash-separated paths ("/Timer/Physics",
// "/Timer/Physics/Solve"). A timer accumulates the time between its Start and
// Stop calls and counts the intervals; nesting is by path only, timers do not
// stop one another. Timers live until BaseSystem_Quit (PhysTimer_ResetAll).
#pragma once
#include <cstdint>

struct PhysTimer {
  char path[64];       // the full path, truncated to 63 characters
  int64_t startTicks;  // tick count at the open Start, 0 when stopped
  int64_t totalTicks;  // accumulated ticks of closed intervals
  int64_t lastTicks;   // length of the last closed interval
  int64_t count;       // closed intervals
};

// The timer of a path, created on first use; null for a null or empty path or
// when the timer table (256 timers) is full.
PhysTimer* PhysTimer_Find(const char* path);
void PhysTimer_Start(PhysTimer* timer);
void PhysTimer_Stop(PhysTimer* timer);
// Accumulated seconds of a timer (0 for null).
double PhysTimer_Seconds(const PhysTimer* timer);
// Number of timers and the i-th (in order of creation), for reports.
int PhysTimer_Count();
const PhysTimer* PhysTimer_Get(int i);
// Zeroes every timer's totals (paths stay).
void PhysTimer_ClearAll();
// Forgets every timer (pointers from PhysTimer_Find become invalid).
void PhysTimer_ResetAll();
// The high-resolution tick counter and its rate.
int64_t PhysTimer_Ticks();
double PhysTimer_TicksPerSecond();

// Times a scope; a null timer is ignored.
class PhysTimerScope {
public:
  explicit PhysTimerScope(PhysTimer* timer) : timer_(timer) { PhysTimer_Start(timer_); }
  ~PhysTimerScope() { PhysTimer_Stop(timer_); }
  PhysTimerScope(const PhysTimerScope&) = delete;
  PhysTimerScope& operator=(const PhysTimerScope&) = delete;

private:
  PhysTimer* timer_;
};
