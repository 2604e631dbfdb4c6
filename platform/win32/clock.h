// Millisecond clock: stands in for the Windows multimedia timer that the
// shell reads once or twice a frame.
#pragma once

#include <cstdint>

// Milliseconds since the process started, plus CLOCK_BASE_MS so that the
// clock never reads 0 (callers use 0 for "not started"). Monotonic; wraps
// only after 49 days of running.
constexpr uint32_t CLOCK_BASE_MS = 1;

uint32_t Clock_GetMs();
