#include "platform/win32/clock.h"

#include <time.h>

namespace {

struct timespec Now()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

// The start is taken on first use, so a reader running inside another
// file's static initialisation still sees a valid start...
const struct timespec& Start()
{
    static const struct timespec start = Now();
    return start;
}

// ...and at the latest while the program loads, before main.
[[maybe_unused]] const bool g_startTaken = (Start(), true);

}  // namespace

uint32_t Clock_GetMs()
{
    const struct timespec& start = Start();
    struct timespec now = Now();
    int64_t ms = (int64_t)(now.tv_sec - start.tv_sec) * 1000 +
                 (now.tv_nsec - start.tv_nsec) / 1000000;
    return (uint32_t)ms + CLOCK_BASE_MS;
}
