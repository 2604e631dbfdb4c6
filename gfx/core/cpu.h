// Processor features and the floating-point environment.
//
// On x86-64 float arithmetic runs in SSE, so the x87 precision routines have
// nothing to change and do nothing; they exist so that the driver can call
// them where the device start and each camera update expect them. Only
// flush-to-zero (MXCSR bit 15) changes results; the driver sets it at device
// start and clears it at device stop when the processor has SSE.
#pragma once
#include <cstdint>

// 1 when the processor reports SSE or SSE2 in CPUID leaf 1, else 0.
int32_t Cpu_HasSSE(void);
// The feature test on a given EDX of CPUID leaf 1 (bit 25 SSE, bit 26 SSE2).
int32_t Cpu_HasSSEFromEdx(uint32_t edx);

// Sets or clears the SSE flush-to-zero mode; returns the previous state.
int32_t Cpu_SetFlushToZero(int32_t on);
int32_t Cpu_GetFlushToZero(void);

// x87 precision control: no-ops on x86-64 (float maths does not use the x87).
void Math_FpuSetSinglePrecision(void);
void Math_FpuRestore(void);
void Math_FpuReapplySinglePrecision(void);
