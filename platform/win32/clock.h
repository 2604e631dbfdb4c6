// Millisecond clock: stands in for the Windows multimedia timer that the
// shell reads once or twice a frame.
#pragma once

#include <cstdint>

// Milliseconds since the process started, plus CLOCK_BASE_MS so that the
// clock never reads 0 (callers use 0 for "not started"). Monotonic; wraps
// only after 49 days of running.
constexpr uint32_t CLOCK_BASE_MS = 1;

uint32_t Clock_GetMs();

// ---- test seam: a clock that only moves when told ----
// Scripted runs step time by hand, so that a run gives the same frames
// however fast the machine is. With manual mode on, Clock_GetMs reads
// CLOCK_BASE_MS plus what Clock_Advance has added since the switch (0 at
// first), whatever the real time; switching it off returns to the system's
// time. Any thread may read; the switch and the steps belong to one thread.
void Clock_SetManual(int manual);
int Clock_IsManual();
void Clock_Advance(uint32_t ms);
