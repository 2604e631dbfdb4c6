// What decides whether a draw takes a fused kernel (rasteriser_kernel.h), and
// which: the draw's plan reduced to a kernel plan, or none.
#include "platform/direct3d/rasteriser.h"
#include "platform/direct3d/rasteriser_internal.h"

namespace {

constexpr uint32_t kArgComplement = 0x10;  // D3DTA_COMPLEMENT

// How a kernel samples a stage's texture: tiled, bilinear when magnified, and
// per axis clamped or wrapped on power-of-two sides at every level the
// sampler may use. 0 when the kernels cannot sample it.
int PlanSampler(const RasteriserStage& st, RasteriserKernelSampler* k)
{
    if (!st.levels[0].tiled || st.magFilter < D3DTEXF_LINEAR) return 0;
    const auto axis = [&](uint32_t mode, bool across, bool* clamp) {
        *clamp = mode == D3DTADDRESS_CLAMP;
        if (*clamp) return true;
        if (mode != D3DTADDRESS_WRAP) return false;
        for (int l = 0; l < st.levelCount; ++l) {
            const int n = across ? st.levels[l].width : st.levels[l].height;
            if (n & (n - 1)) return false;
        }
        return true;
    };
    if (!axis(st.addressU, true, &k->clampU) || !axis(st.addressV, false, &k->clampV)) return 0;
    // Rows of blocks are found by a 16-bit multiply-add, and the SSE2 kernels
    // work on texel coordinates in 16-bit lanes.
    for (int l = 0; l < st.levelCount; ++l)
        if (16 * st.levels[l].blocksPerRow >= 32768 || st.levels[l].height > 32768) return 0;
    if (!st.needLod) k->sample = RASTERISER_KERNEL_SAMPLE_BILINEAR;
    else if (st.minFilter >= D3DTEXF_LINEAR) k->sample = RASTERISER_KERNEL_SAMPLE_MIPPED;
    else return 0;
    k->texOr = st.format == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0;
    return 1;
}

// Stage 0's result as the kernels' masks: where its colour and its alpha
// come from (the texture, the diffuse colour, or their product). 0 for any
// other operation or argument.
int PlanFirstStage(const RasteriserStage& st, RasteriserKernelPlan* k)
{
    enum { NONE, TEX, DIFFUSE, PRODUCT };
    const auto arg = [](uint32_t a) {
        if (a & (kArgComplement | D3DTA_ALPHAREPLICATE)) return int(NONE);
        switch (a & D3DTA_SELECTMASK) {
        case D3DTA_DIFFUSE:
        case D3DTA_CURRENT: return int(DIFFUSE);  // stage 0's current is the diffuse colour
        case D3DTA_TEXTURE: return int(TEX);
        default: return int(NONE);
        }
    };
    const auto source = [&](uint32_t op, const uint32_t* args) {
        const int a1 = arg(args[0]), a2 = arg(args[1]);
        switch (op) {
        case D3DTOP_SELECTARG1: return a1;
        case D3DTOP_SELECTARG2: return a2;
        case D3DTOP_MODULATE:
            if (!((a1 == TEX && a2 == DIFFUSE) || (a1 == DIFFUSE && a2 == TEX))) return int(NONE);
            return st.sample ? int(PRODUCT) : int(DIFFUSE);  // white x diffuse is the diffuse colour
        default: return int(NONE);
        }
    };
    const int colour = source(st.colourOp, st.colourArg);
    const int alpha = st.alphaOp == D3DTOP_DISABLE || st.alphaOp == 0 ? int(DIFFUSE) : source(st.alphaOp, st.alphaArg);
    if (colour == NONE || alpha == NONE) return 0;
    uint32_t* const masks[4] = {nullptr, &k->texMask, &k->diffuseMask, &k->productMask};
    *masks[colour] |= 0x00FFFFFFu;
    *masks[alpha] |= 0xFF000000u;
    return 1;
}

// A second stage's colour or alpha operation as a kernel does it: the
// texture, the first stage's result or the diffuse colour, unmodified, in a
// select, a modulate (1x or 2x), an add or a blend of the texture over the
// other by its alpha; a disabled alpha operation passes the first stage's
// alpha on. 0 for anything else.
int PlanSecondStageOp(uint32_t op, const uint32_t* args, RasteriserKernelOp* k)
{
    const auto arg = [](uint32_t a, uint8_t* out) {
        if (a & (kArgComplement | D3DTA_ALPHAREPLICATE)) return false;
        switch (a & D3DTA_SELECTMASK) {
        case D3DTA_TEXTURE: *out = RASTERISER_KERNEL_ARG_TEXTURE; return true;
        case D3DTA_CURRENT: *out = RASTERISER_KERNEL_ARG_CURRENT; return true;
        case D3DTA_DIFFUSE: *out = RASTERISER_KERNEL_ARG_DIFFUSE; return true;
        default: return false;
        }
    };
    if (op == D3DTOP_DISABLE || op == 0) {
        *k = {RASTERISER_KERNEL_OP_SELECT1, RASTERISER_KERNEL_ARG_CURRENT, RASTERISER_KERNEL_ARG_CURRENT};
        return 1;
    }
    if (!arg(args[0], &k->arg1) || !arg(args[1], &k->arg2)) return 0;
    switch (op) {
    case D3DTOP_SELECTARG1: k->op = RASTERISER_KERNEL_OP_SELECT1; return 1;
    case D3DTOP_SELECTARG2: k->op = RASTERISER_KERNEL_OP_SELECT2; return 1;
    case D3DTOP_MODULATE: k->op = RASTERISER_KERNEL_OP_MODULATE; return 1;
    case D3DTOP_MODULATE2X: k->op = RASTERISER_KERNEL_OP_MODULATE2X; return 1;
    case D3DTOP_ADD: k->op = RASTERISER_KERNEL_OP_ADD; return 1;
    case D3DTOP_BLENDTEXTUREALPHA:
        k->op = RASTERISER_KERNEL_OP_BLEND_TEXTURE_ALPHA;
        return k->arg1 == RASTERISER_KERNEL_ARG_TEXTURE;
    default: return 0;
    }
}

}  // namespace

void RasteriserKernel_Plan(RasteriserPlan* P)
{
    P->kernel = nullptr;
    const int simd = Rasteriser_Simd();
    if (simd == RASTERISER_SIMD_GENERAL || P->shader || P->stencil || P->targetBytes != 4 ||
        P->writeMask != 0xFFFFFFFFu || P->stageCount > 2)
        return;
    RasteriserKernelPlan& k = P->kernelPlan;
    k = RasteriserKernelPlan{};
    k.depth = P->depthTest || P->depthWrite;
    if (k.depth && (P->depthBytes != 4 || P->depthMask != 0xFFFFFF00u)) return;
    // The usual alpha blend has its own arithmetic (the general stages'
    // lerp); the other factors multiply and add.
    k.blend = !P->blend ? RASTERISER_KERNEL_BLEND_NONE
              : P->srcBlend == D3DBLEND_SRCALPHA && P->destBlend == D3DBLEND_INVSRCALPHA
                  ? RASTERISER_KERNEL_BLEND_ALPHA
                  : RASTERISER_KERNEL_BLEND_FACTORS;
    k.srcBlend = P->srcBlend;
    k.destBlend = P->destBlend;
    if (P->stageCount == 0) {
        k.diffuseMask = 0xFFFFFFFFu;
    } else {
        const RasteriserStage& st = P->stages[0];
        if ((st.sample && !PlanSampler(st, &k.sampler[0])) || !PlanFirstStage(st, &k)) return;
        // A second stage where both sample (light maps, detail textures).
        if (P->stageCount == 2) {
            const RasteriserStage& st1 = P->stages[1];
            if (!st.sample || !st1.sample || !PlanSampler(st1, &k.sampler[1]) ||
                !PlanSecondStageOp(st1.colourOp, st1.colourArg, &k.colour1) ||
                !PlanSecondStageOp(st1.alphaOp, st1.alphaArg, &k.alpha1))
                return;
        }
    }
    P->kernel = simd == RASTERISER_SIMD_AVX2 ? RasteriserKernel_Avx2(k) : RasteriserKernel_Sse2(k);
}
