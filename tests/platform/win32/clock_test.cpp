#include "platform/win32/clock.h"

#include <gtest/gtest.h>

#include <time.h>

TEST(Clock, NeverReadsZeroAndMovesForwardInMilliseconds)
{
    uint32_t first = Clock_GetMs();
    EXPECT_GE(first, CLOCK_BASE_MS);
    struct timespec pause = {0, 30 * 1000000};
    nanosleep(&pause, nullptr);
    uint32_t second = Clock_GetMs();
    EXPECT_GE(second - first, 29u);
    EXPECT_LT(second - first, 10000u);
}
