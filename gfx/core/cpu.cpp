#include "gfx/core/cpu.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <xmmintrin.h>
#define HELM_X86 1
#endif

int32_t Cpu_HasSSEFromEdx(uint32_t edx) { return (edx & 0x6000000u) != 0; }

int32_t Cpu_HasSSE(void)
{
#ifdef HELM_X86
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return 0;
    return Cpu_HasSSEFromEdx(edx);
#else
    return 0;
#endif
}

int32_t Cpu_GetFlushToZero(void)
{
#ifdef HELM_X86
    return (_mm_getcsr() & 0x8000u) != 0;
#else
    return 0;
#endif
}

int32_t Cpu_SetFlushToZero(int32_t on)
{
    int32_t was = Cpu_GetFlushToZero();
#ifdef HELM_X86
    unsigned csr = _mm_getcsr();
    _mm_setcsr(on ? (csr | 0x8000u) : (csr & ~0x8000u));
#else
    (void)on;
#endif
    return was;
}

void Math_FpuSetSinglePrecision(void) {}
void Math_FpuRestore(void) {}
void Math_FpuReapplySinglePrecision(void) {}
