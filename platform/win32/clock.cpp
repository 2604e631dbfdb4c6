#include "platform/win32/clock.h"

#include <time.h>

#include <atomic>

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

// The manual clock: on or off, and the milliseconds it has been advanced.
std::atomic<bool> g_manual{false};
std::atomic<uint32_t> g_manualMs{0};

}  // namespace

uint32_t Clock_GetMs()
{
    if (g_manual.load(std::memory_order_acquire)) return g_manualMs.load(std::memory_order_acquire) + CLOCK_BASE_MS;
    const struct timespec& start = Start();
    struct timespec now = Now();
    int64_t ms = (int64_t)(now.tv_sec - start.tv_sec) * 1000 +
                 (now.tv_nsec - start.tv_nsec) / 1000000;
    return (uint32_t)ms + CLOCK_BASE_MS;
}

void Clock_SetManual(int manual)
{
    g_manualMs.store(0, std::memory_order_release);
    g_manual.store(manual != 0, std::memory_order_release);
}

int Clock_IsManual() { return g_manual.load(std::memory_order_acquire) ? 1 : 0; }

void Clock_Advance(uint32_t ms) { g_manualMs.fetch_add(ms, std::memory_order_acq_rel); }
