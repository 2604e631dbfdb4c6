#include "platform/win32/clock.h"

#include <time.h>

namespace {

struct timespec Now()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

// Taken while the program loads, before main.
const struct timespec g_start = Now();

}  // namespace

uint32_t Clock_GetMs()
{
    struct timespec now = Now();
    int64_t ms = (int64_t)(now.tv_sec - g_start.tv_sec) * 1000 +
                 (now.tv_nsec - g_start.tv_nsec) / 1000000;
    return (uint32_t)ms + CLOCK_BASE_MS;
}
