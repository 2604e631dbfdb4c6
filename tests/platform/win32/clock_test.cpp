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
    const uint32_t first = Clock_GetMs();
    EXPECT_GE(first, CLOCK_BASE_MS);
    nanosleep(&pause, nullptr);
    EXPECT_GE(Clock_GetMs() - first, 19u);
    EXPECT_LT(Clock_GetMs() - first, 10000u);
}
