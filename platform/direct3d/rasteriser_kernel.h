// Fused pixel kernels of the software rasteriser: the common draws shaded
// without the general stages' per-operation loops. Internal to
// platform/direct3d.
//
// RasteriserSpan_ShadeQuads runs a draw's stages as loops over arrays of
// lanes, which serves every state the device has. Most pixels of a frame
// come from a few kinds of draw, though: one stage that samples a tiled,
// wrapped or clamped, bilinear (or trilinear) texture and modulates or
// selects it with the diffuse colour, perhaps a second such stage that
// combines its texture with the first's result (a light map: modulate,
// modulate 2x, add, or blend by its alpha), vertex fog, an alpha test, a
// blend or none, and a 24-bit depth test and write. RasteriserSpan_Plan
// gives such a draw a kernel made for exactly its structure (depth, blend
// and each stage's sampling are template choices, the rest is settled per
// call), so per pixel nothing is decided. It runs in three passes per call
// (coordinates, samples, colour and writes; see ShadeRun), whose results stay
// in the first-level cache.
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
// Kernels assume the quads lie inside the target (and depth) surface whole,
// and may fill the entry after the last quad (below RASTERISER_QUADS_MAX).
using RasteriserKernel = void (*)(const RasteriserPlan* plan, const RasteriserSetup* setup, RasteriserQuads* quads);

// What a fused kernel does, decided per draw by RasteriserSpan_Plan.
enum : uint8_t {
    RASTERISER_KERNEL_SAMPLE_NONE = 0,      // no texture: the texture colour is white
    RASTERISER_KERNEL_SAMPLE_BILINEAR = 1,  // bilinear from level 0 (no level of detail)
    RASTERISER_KERNEL_SAMPLE_MIPPED = 2,    // bilinear from a level (and a fraction towards the next) per quad
};
enum : uint8_t {
    RASTERISER_KERNEL_BLEND_NONE = 0,     // plain stores
    RASTERISER_KERNEL_BLEND_ALPHA = 1,    // source alpha over inverse source alpha (the general stages' lerp)
    RASTERISER_KERNEL_BLEND_FACTORS = 2,  // source x srcBlend + destination x destBlend, saturated
};
// How a kernel samples one stage's texture.
struct RasteriserKernelSampler {
    uint8_t sample;  // RASTERISER_KERNEL_SAMPLE_*
    // Per axis: texel coordinates clamped to the level, else wrapped (a
    // power-of-two side).
    bool clampU, clampV;
    uint32_t texOr;  // or'ed into every sample (X8R8G8B8 textures read alpha 1)
};
// The operations and arguments of a second stage's colour or alpha.
enum : uint8_t {
    RASTERISER_KERNEL_OP_SELECT1 = 0,
    RASTERISER_KERNEL_OP_SELECT2 = 1,
    RASTERISER_KERNEL_OP_MODULATE = 2,
    RASTERISER_KERNEL_OP_MODULATE2X = 3,
    RASTERISER_KERNEL_OP_ADD = 4,
    RASTERISER_KERNEL_OP_BLEND_TEXTURE_ALPHA = 5,  // arg1 over arg2 by the texture's alpha (arg1 is the texture)
};
enum : uint8_t {
    RASTERISER_KERNEL_ARG_TEXTURE = 0,  // the stage's sample
    RASTERISER_KERNEL_ARG_CURRENT = 1,  // the first stage's result
    RASTERISER_KERNEL_ARG_DIFFUSE = 2,
};
struct RasteriserKernelOp {
    uint8_t op, arg1, arg2;
};
struct RasteriserKernelPlan {
    bool depth;                    // a 24-bit depth surface is tested and/or written (depthTest, depthWrite)
    uint8_t blend;                 // RASTERISER_KERNEL_BLEND_*
    uint32_t srcBlend, destBlend;  // D3DBLEND_* factors for RASTERISER_KERNEL_BLEND_FACTORS
    // Stage 0's texture, and stage 1's (sample NONE: the draw has one stage).
    RasteriserKernelSampler sampler[2];
    // Stage 0's result: (texture & texMask) | (diffuse & diffuseMask) |
    // (texture x diffuse & productMask), the masks splitting colour from alpha.
    uint32_t texMask, diffuseMask, productMask;
    // Stage 1's result, with two stages: the colour channels of one
    // operation, the alpha of the other.
    RasteriserKernelOp colour1, alpha1;
};
// The kernel of each instruction set for a kernel plan.
RasteriserKernel RasteriserKernel_Sse2(const RasteriserKernelPlan& k);
RasteriserKernel RasteriserKernel_Avx2(const RasteriserKernelPlan& k);

// Chooses the draw's kernel (plan->kernel, with its kernelPlan) for the
// instruction set in use, or none (null) when some part of the draw's state
// is outside what the kernels do: the general stages then shade it
// (rasteriser_kernel.cpp).
void RasteriserKernel_Plan(RasteriserPlan* plan);
