// The fused kernels in SSE2, which every x86-64 CPU has: one quad per step.
#include "platform/direct3d/rasteriser_kernel_body.h"

namespace {

template <bool Depth, int Blend, int Sample, int Sample1>
void Kernel(const RasteriserPlan* plan, const RasteriserSetup* setup, RasteriserQuads* quads)
{
    ShadeRun<V4, Depth, Blend, Sample, Sample1>(*plan, *setup, quads, 0, quads->count);
}

}  // namespace

RasteriserKernel RasteriserKernel_Sse2(const RasteriserKernelPlan& k) { return ChooseKernel(k); }
