// Fused pixel kernels of the software rasteriser: the common draws shaded in
// one pass per group of quads, every value in registers from the depth test
// to the write. Internal to platform/direct3d.
//
// RasteriserSpan_ShadeQuads runs a draw's stages as loops over arrays of
// lanes, which serves every state the device has. Most pixels of a frame
// come from a few kinds of draw, though: one stage that samples a tiled,
// wrapped, bilinear (or trilinear) texture and modulates or selects it with
// the diffuse colour, vertex fog, an alpha test, the usual alpha blend or
// none, and a 24-bit depth test and write. RasteriserSpan_Plan gives such a
// draw a kernel made for exactly its structure (depth, blend and sampling
// are template choices, the rest is settled per call), so per pixel nothing
// is decided and nothing goes through memory but the texels and the target.
//
// A kernel computes every lane with the general stages' arithmetic, in the
// same order (plane values as (v0 + dy y) + dx x, the same conversions, the
// same 16-bit fixed-point filters and blends), so its pictures are
// bit-identical with theirs. It exists once per instruction set: SSE2, which
// every x86-64 CPU has, one quad (4 lanes) per step; and AVX2, two quads
// (8 lanes) per step in 256-bit registers, chosen at run time when the CPU
// has it (rasteriser_kernel_sse2.cpp, rasteriser_kernel_avx2.cpp). The
// template body lives in rasteriser_kernel_body.h; only integer operations
// and the IEEE float operations that both sets round alike (add, mul, div,
// min, max, conversions) are used, and contraction into FMA is off.
#pragma once

#include <cstdint>

struct RasteriserPlan;
struct RasteriserSetup;
struct RasteriserQuads;

// Shades the quads of one call for one plan; see RasteriserSpan_ShadeQuads.
// Kernels assume the quads lie inside the target (and depth) surface whole.
using RasteriserKernel = void (*)(const RasteriserPlan* plan, const RasteriserSetup* setup, RasteriserQuads* quads);

// What a fused kernel does, decided per draw by RasteriserSpan_Plan.
enum : uint8_t {
    RASTERISER_KERNEL_SAMPLE_NONE = 0,      // no texture: the texture colour is white
    RASTERISER_KERNEL_SAMPLE_BILINEAR = 1,  // bilinear from level 0 (no level of detail)
    RASTERISER_KERNEL_SAMPLE_MIPPED = 2,    // bilinear from a level (and a fraction towards the next) per quad
};
struct RasteriserKernelPlan {
    bool depth;      // a 24-bit depth surface is tested and/or written (depthTest, depthWrite of the plan)
    bool blend;      // source alpha over inverse source alpha; else plain stores
    uint8_t sample;  // RASTERISER_KERNEL_SAMPLE_*
    // The stage's result: (texture & texMask) | (diffuse & diffuseMask) |
    // (texture x diffuse & productMask), the masks splitting colour from alpha.
    uint32_t texMask, diffuseMask, productMask;
    uint32_t texOr;  // or'ed into every sample (X8R8G8B8 textures read alpha 1)
};

// The kernel of each instruction set for a kernel plan.
RasteriserKernel RasteriserKernel_Sse2(const RasteriserKernelPlan& k);
RasteriserKernel RasteriserKernel_Avx2(const RasteriserKernelPlan& k);
