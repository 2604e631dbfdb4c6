// The fused kernels in AVX2 (this file is compiled with -mavx2 and without
// FMA contraction): two quads per step in 256-bit registers. Only called when
// the CPU has AVX2.
#include "platform/direct3d/rasteriser_kernel_body.h"

#ifndef __AVX2__
#error "rasteriser_kernel_avx2.cpp must be compiled with -mavx2"
#endif

static_assert(RASTERISER_QUADS_MAX % 2 == 0, "an odd count of quads leaves room for a pad");

namespace {

template <bool Depth, int Blend, int Sample, int Sample1>
void Kernel(const RasteriserPlan* plan, const RasteriserSetup* setup, RasteriserQuads* quads)
{
    // An odd last quad is paired with a copy of itself that covers nothing
    // (the arrays have room: the count is below the maximum, which is even).
    const int n = quads->count;
    if (n & 1) {
        quads->x[n] = quads->x[n - 1], quads->y[n] = quads->y[n - 1], quads->mask[n] = 0;
        quads->targetAt[n] = quads->targetAt[n - 1], quads->depthAt[n] = quads->depthAt[n - 1];
    }
    ShadeRun<V8, Depth, Blend, Sample, Sample1>(*plan, *setup, quads, 0, n + (n & 1));
}

}  // namespace

RasteriserKernel RasteriserKernel_Avx2(const RasteriserKernelPlan& k) { return ChooseKernel(k); }
