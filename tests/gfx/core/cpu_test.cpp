#include "gfx/core/cpu.h"

#include <gtest/gtest.h>

TEST(Cpu, SseOrSse2BitAnswersYes)
{
    EXPECT_EQ(Cpu_HasSSEFromEdx(1u << 25), 1);
    EXPECT_EQ(Cpu_HasSSEFromEdx(1u << 26), 1);  // SSE2 reported without SSE
    EXPECT_EQ(Cpu_HasSSEFromEdx(~0x6000000u), 0);
#if defined(__x86_64__)
    EXPECT_EQ(Cpu_HasSSE(), 1);
#endif
}

TEST(Cpu, FlushToZeroTurnsDenormalResultsIntoZero)
{
#if defined(__x86_64__)
    volatile float tiny = 1e-30f;
    int32_t was = Cpu_SetFlushToZero(1);
    volatile float product = tiny * 1e-10f;
    EXPECT_EQ(product, 0.0f);
    EXPECT_EQ(Cpu_GetFlushToZero(), 1);
    Cpu_SetFlushToZero(0);
    product = tiny * 1e-10f;
    EXPECT_GT(product, 0.0f);
    Cpu_SetFlushToZero(was);
#endif
}
