#include "platform/win32/clock.h"

#include <gtest/gtest.h>

#include <time.h>

TEST(Clock, AManualClockStandsStillBetweenStepsAndTheSystemsMovesInMilliseconds)
{
    Clock_SetManual(1);
    EXPECT_EQ(Clock_IsManual(), 1);
    EXPECT_EQ(Clock_GetMs(), CLOCK_BASE_MS);
    struct timespec pause = {0, 20 * 1000000};
    nanosleep(&pause, nullptr);
    EXPECT_EQ(Clock_GetMs(), CLOCK_BASE_MS);  // real time passing moves nothing
    Clock_Advance(20);
    Clock_Advance(20);
    EXPECT_EQ(Clock_GetMs(), CLOCK_BASE_MS + 40);
    Clock_SetManual(1);  // a new switch starts from nothing again
    EXPECT_EQ(Clock_GetMs(), CLOCK_BASE_MS);
    Clock_SetManual(0);
    EXPECT_EQ(Clock_IsManual(), 0);
    // Milliseconds of the system's monotonic time, however long the pause takes on a busy machine.
    struct timespec before, after;
    clock_gettime(CLOCK_MONOTONIC, &before);
    const uint32_t first = Clock_GetMs();
    nanosleep(&pause, nullptr);
    const uint32_t passed = Clock_GetMs() - first;
    clock_gettime(CLOCK_MONOTONIC, &after);
    EXPECT_GE(first, CLOCK_BASE_MS);
    EXPECT_TRUE(passed >= 19 &&
                passed <= (after.tv_sec - before.tv_sec) * 1000 + (after.tv_nsec - before.tv_nsec) / 1e6 + 2)
        << passed;
}
