// The fused kernels in AVX2 (this file is compiled with -mavx2 and without
// FMA contraction): two quads per step in 256-bit registers, and an odd last
// quad with the 128-bit step. Only called when the CPU has AVX2.
#include "platform/direct3d/rasteriser_kernel_body.h"

#ifndef __AVX2__
#error "rasteriser_kernel_avx2.cpp must be compiled with -mavx2"
#endif

namespace {

template <bool Depth, int Blend, int Sample>
void Kernel(const RasteriserPlan* plan, const RasteriserSetup* setup, RasteriserQuads* quads)
{
    const int pairs = quads->count & ~1;
    ShadeRun<V8, Depth, Blend, Sample>(*plan, *setup, quads, 0, pairs);
    if (pairs < quads->count) ShadeRun<V4, Depth, Blend, Sample>(*plan, *setup, quads, pairs, quads->count);
}

}  // namespace

RasteriserKernel RasteriserKernel_Avx2(const RasteriserKernelPlan& k) { return ChooseKernel(k); }
