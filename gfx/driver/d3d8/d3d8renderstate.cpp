#include "gfx/driver/d3d8/d3d8renderstate.h"

#include <cstring>

#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/driver/d3d8/d3d8raster.h"

namespace {

struct Slot {
    uint32_t wanted;
    uint32_t lastSent;
    uint8_t queued;
    uint8_t neverSent;  // the device was not given a value since open or reset
    uint8_t wantedSet;  // somebody set a wanted value since open
};

struct StageRecord {
    Raster *raster;
    const void *texture;  // the raster's device texture, compared when a raster goes away
    uint32_t filter;
    uint32_t addressU;
    uint32_t addressV;
    uint32_t borderColour;
};

struct RenderStateCache {
    Slot states[D3D8_RENDERSTATE_SLOTS];
    uint16_t queue[D3D8_RENDERSTATE_SLOTS];
    uint32_t queueCount;
    Slot stageStates[D3D8_STAGE_COUNT][D3D8_STAGESTATE_SLOTS];
    uint16_t stageQueue[D3D8_STAGE_COUNT * D3D8_STAGESTATE_SLOTS];  // stage * 32 + type
    uint32_t stageQueueCount;
    // Engine level.
    uint32_t zWrite, zTest;
    uint32_t stencilEnable, stencilFail, stencilZFail, stencilPass, stencilFunction, stencilRef, stencilMask,
        stencilWriteMask;
    uint32_t alphaBlend, stage0HasAlpha;
    uint32_t cull, fogEnable, fogType;
    float fogDensity;
    uint32_t fogColour, shade;
    StageRecord stages[D3D8_STAGE_COUNT];
    uint32_t srcBlend, destBlend;
};

RenderStateCache c = {};

// Engine filter mode -> (MIN/MAG, MIP).
const uint32_t kFilterMinMag[7] = {D3DTEXF_NONE, D3DTEXF_POINT, D3DTEXF_LINEAR, D3DTEXF_POINT, D3DTEXF_LINEAR,
                                   D3DTEXF_POINT, D3DTEXF_LINEAR};
const uint32_t kFilterMip[7] = {D3DTEXF_NONE, D3DTEXF_NONE, D3DTEXF_NONE, D3DTEXF_POINT, D3DTEXF_POINT,
                                D3DTEXF_LINEAR, D3DTEXF_LINEAR};
// Engine fog type -> Direct3D fog mode.
const uint32_t kFogMode[4] = {D3DFOG_NONE, D3DFOG_LINEAR, D3DFOG_EXP, D3DFOG_EXP2};

// The engine's addressing, shading, blend, cull, stencil-operation and
// comparison numbers are Direct3D's own; anything outside the table's range
// is refused rather than sent.
inline bool InRange(uint32_t v, uint32_t lo, uint32_t hi) { return v >= lo && v <= hi; }

uint32_t FloatBits(float f)
{
    uint32_t u;
    memcpy(&u, &f, 4);
    return u;
}

void ResetSlots(void)
{
    for (Slot &slot : c.states) {
        slot.queued = 0;
        slot.neverSent = 1;
        slot.lastSent = 0;
    }
    for (auto &stage : c.stageStates)
        for (Slot &slot : stage) {
            slot.queued = 0;
            slot.neverSent = 1;
            slot.lastSent = 0;
        }
    c.queueCount = 0;
    c.stageQueueCount = 0;
}

bool TableFog(void)
{
    uint32_t caps = D3D8_GetCaps()->RasterCaps;
    return (caps & D3DPRASTERCAPS_FOGTABLE) && (caps & D3DPRASTERCAPS_WFOG);
}

void SetFogModes(uint32_t engineType)
{
    uint32_t mode = engineType < 4 ? kFogMode[engineType] : D3DFOG_NONE;
    if (TableFog()) {
        D3D8_SetRenderState(D3DRS_FOGTABLEMODE, mode);
        D3D8_SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_NONE);
    } else {
        D3D8_SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
        D3D8_SetRenderState(D3DRS_FOGVERTEXMODE, mode);
    }
}

void SetStageFilter(uint32_t stage, uint32_t mode)
{
    D3D8_SetTextureStageState(stage, D3DTSS_MINFILTER, kFilterMinMag[mode]);
    D3D8_SetTextureStageState(stage, D3DTSS_MAGFILTER, kFilterMinMag[mode]);
    D3D8_SetTextureStageState(stage, D3DTSS_MIPFILTER, kFilterMip[mode]);
}

void SetStageNoTexture(uint32_t stage)
{
    if (IDirect3DDevice8 *device = D3D8_GetDevice()) device->SetTexture(stage, nullptr);
    c.stages[stage].raster = nullptr;
    c.stages[stage].texture = nullptr;
}

// Stage 0's texture alpha decides blending while vertex alpha blending is
// off: a texture with alpha turns blending and the alpha test on.
void TrackStage0Alpha(bool hasAlpha)
{
    if (!hasAlpha) {
        if (c.stage0HasAlpha) {
            c.stage0HasAlpha = 0;
            if (!c.alphaBlend) {
                D3D8_SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
                D3D8_SetRenderState(D3DRS_ALPHATESTENABLE, 0);
            }
        }
    } else if (!c.stage0HasAlpha) {
        c.stage0HasAlpha = 1;
        if (!c.alphaBlend) {
            D3D8_SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
            D3D8_SetRenderState(D3DRS_ALPHATESTENABLE, 1);
        }
    }
}

// No texture on the stage, with the operations of an untextured stage:
// stage 0 passes the diffuse colour (and its alpha while blending), the
// others are disabled.
void QueueNoTexture(uint32_t stage)
{
    if (IDirect3DDevice8* device = D3D8_GetDevice()) device->SetTexture(stage, nullptr);
    if (stage == 0) {
        D3D8_SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
        D3D8_SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        if (!c.alphaBlend) {
            D3D8_SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        } else {
            D3D8_SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
            D3D8_SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        }
    } else {
        D3D8_SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
        D3D8_SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    }
}

// Stage states common to open and reset; stages 1-7 start disabled.
void QueueStageDefaults(uint32_t stage)
{
    SetStageNoTexture(stage);
    StageRecord &r = c.stages[stage];
    SetStageFilter(stage, r.filter);
    D3D8_SetTextureStageState(stage, D3DTSS_ADDRESSU, r.addressU);
    D3D8_SetTextureStageState(stage, D3DTSS_ADDRESSV, r.addressV);
    D3D8_SetTextureStageState(stage, D3DTSS_BORDERCOLOR, r.borderColour);
    D3D8_SetTextureStageState(stage, D3DTSS_MAXANISOTROPY, 1);
    if (stage > 0) {
        D3D8_SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
        D3D8_SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    }
}

void QueueMaterialDefaults(void)
{
    D3D8_SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    D3D8_SetRenderState(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL);
    D3D8_SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL);
    D3D8_SetRenderState(D3DRS_DITHERENABLE, (D3D8_GetCaps()->RasterCaps & D3DPRASTERCAPS_DITHER) ? 1 : 0);
    D3D8_SetRenderState(D3DRS_SPECULARENABLE, 0);
    D3D8_SetRenderState(D3DRS_LOCALVIEWER, 0);
    D3D8_SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFFu);
    D3D8_SetRenderState(D3DRS_NORMALIZENORMALS, 0);
}

void QueueStencil(void)
{
    D3D8_SetRenderState(D3DRS_STENCILENABLE, c.stencilEnable);
    D3D8_SetRenderState(D3DRS_STENCILFAIL, c.stencilFail);
    D3D8_SetRenderState(D3DRS_STENCILZFAIL, c.stencilZFail);
    D3D8_SetRenderState(D3DRS_STENCILPASS, c.stencilPass);
    D3D8_SetRenderState(D3DRS_STENCILFUNC, c.stencilFunction);
    D3D8_SetRenderState(D3DRS_STENCILREF, c.stencilRef);
    D3D8_SetRenderState(D3DRS_STENCILMASK, c.stencilMask);
    D3D8_SetRenderState(D3DRS_STENCILWRITEMASK, c.stencilWriteMask);
}

void FlushSlot(Slot &slot, uint32_t stage, uint32_t type, bool stageState)
{
    slot.queued = 0;
    if (!slot.neverSent && slot.wanted == slot.lastSent) return;
    IDirect3DDevice8 *device = D3D8_GetDevice();
    if (!device) return;
    if (stageState)
        device->SetTextureStageState(stage, type, slot.wanted);
    else
        device->SetRenderState(type, slot.wanted);
    slot.lastSent = slot.wanted;
    slot.neverSent = 0;
}

// Records a wanted value; true when the slot must join its queue (it is not
// queued yet and the value differs, or the device was never given one).
bool Want(Slot &slot, uint32_t value)
{
    slot.wantedSet = 1;
    bool join = !slot.queued && (value != slot.wanted || slot.neverSent);
    slot.wanted = value;
    if (join) slot.queued = 1;
    return join;
}

// Generic "store and map" setter: skip an unchanged engine value.
int32_t SetMapped(uint32_t *engineValue, uint32_t value, uint32_t d3dState)
{
    if (*engineValue == value) return 1;
    D3D8_SetRenderState(d3dState, value);
    *engineValue = value;
    return 1;
}

}  // namespace

// ---- Direct3D level ------------------------------------------------------------

int32_t D3D8_SetRenderState(uint32_t state, uint32_t value)
{
    if (state >= D3D8_RENDERSTATE_SLOTS) return 0;
    if (Want(c.states[state], value)) c.queue[c.queueCount++] = (uint16_t)state;
    return 1;
}

void D3D8_GetRenderState(uint32_t state, uint32_t *value)
{
    if (value) *value = state < D3D8_RENDERSTATE_SLOTS ? c.states[state].wanted : 0;
}

int32_t D3D8_SetTextureStageState(uint32_t stage, uint32_t type, uint32_t value)
{
    if (stage >= D3D8_STAGE_COUNT || type >= D3D8_STAGESTATE_SLOTS) return 0;
    if (Want(c.stageStates[stage][type], value))
        c.stageQueue[c.stageQueueCount++] = (uint16_t)(stage * D3D8_STAGESTATE_SLOTS + type);
    return 1;
}

void D3D8_GetTextureStageState(uint32_t stage, uint32_t type, uint32_t *value)
{
    if (!value) return;
    *value = stage < D3D8_STAGE_COUNT && type < D3D8_STAGESTATE_SLOTS ? c.stageStates[stage][type].wanted : 0;
}

void D3D8_FlushRenderStates(void)
{
    for (uint32_t i = 0; i < c.queueCount; i++) FlushSlot(c.states[c.queue[i]], 0, c.queue[i], false);
    c.queueCount = 0;
    for (uint32_t i = 0; i < c.stageQueueCount; i++) {
        uint32_t stage = c.stageQueue[i] / D3D8_STAGESTATE_SLOTS, type = c.stageQueue[i] % D3D8_STAGESTATE_SLOTS;
        FlushSlot(c.stageStates[stage][type], stage, type, true);
    }
    c.stageQueueCount = 0;
}

// ---- stage rasters -------------------------------------------------------------

int32_t D3D8_SetStageRaster(Raster *raster, uint32_t stage)
{
    if (stage >= D3D8_STAGE_COUNT) return 0;
    D3D8RasterExt *ext = raster ? D3D8_RasterExt(raster) : nullptr;
    IDirect3DTexture8 *texture = ext ? ext->texture : nullptr;
    if (stage == 0) TrackStage0Alpha(texture && ext->alpha);
    StageRecord &record = c.stages[stage];
    if (raster == record.raster) return 1;
    IDirect3DDevice8 *device = D3D8_GetDevice();
    if (!texture) {
        QueueNoTexture(stage);
    } else {
        if (device) {
            device->SetTexture(stage, texture);
            if (ext->palette) device->SetCurrentTexturePalette(ext->palette->number);
        }
        if (stage == 0) {
            D3D8_SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
            D3D8_SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            D3D8_SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
            if (c.stage0HasAlpha) {
                if (!c.alphaBlend) {
                    D3D8_SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
                    D3D8_SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
                } else {
                    D3D8_SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
                    D3D8_SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
                    D3D8_SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
                }
            } else if (!c.alphaBlend) {
                D3D8_SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
            } else {
                D3D8_SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
                D3D8_SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
            }
        } else {
            D3D8_SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_MODULATE);
            D3D8_SetTextureStageState(stage, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            D3D8_SetTextureStageState(stage, D3DTSS_COLORARG2, D3DTA_CURRENT);
            if (!c.stage0HasAlpha && !c.alphaBlend) {
                D3D8_SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
            } else if (c.stage0HasAlpha && ext->alpha) {
                D3D8_SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
                D3D8_SetTextureStageState(stage, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
                D3D8_SetTextureStageState(stage, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
            } else {
                D3D8_SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
                D3D8_SetTextureStageState(stage, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
            }
        }
    }
    record.raster = raster;
    record.texture = texture;
    return 1;
}

Raster *D3D8_GetStageRaster(uint32_t stage) { return stage < D3D8_STAGE_COUNT ? c.stages[stage].raster : nullptr; }

void D3D8_ForgetStageTexture(const void *d3dTexture)
{
    if (!d3dTexture) return;
    // Only the remembered pointer is compared: other stage rasters may be
    // gone already. The stage becomes what setting no raster makes it, so
    // that a later D3D8_SetStageRaster (null), which sees nothing to change,
    // does not leave the texture's operations behind.
    for (uint32_t stage = 0; stage < D3D8_STAGE_COUNT; stage++) {
        if (c.stages[stage].texture != d3dTexture) continue;
        if (stage == 0) TrackStage0Alpha(false);
        QueueNoTexture(stage);
        SetStageNoTexture(stage);
    }
}

int32_t D3D8_SetTexture(Texture *texture, uint32_t stage)
{
    if (stage >= D3D8_STAGE_COUNT) return 0;
    if (!texture) return D3D8_SetStageRaster(nullptr, stage);
    D3D8_SetStageRaster(texture->raster, stage);
    StageRecord &record = c.stages[stage];
    uint32_t filter = texture->filterAddressing & 0xFF;
    uint32_t u = (texture->filterAddressing >> 8) & 0xF;
    uint32_t v = (texture->filterAddressing >> 12) & 0xF;
    if (u != record.addressU && InRange(u, 1, 4)) {
        D3D8_SetTextureStageState(stage, D3DTSS_ADDRESSU, u);
        record.addressU = u;
    }
    if (v != record.addressV && InRange(v, 1, 4)) {
        D3D8_SetTextureStageState(stage, D3DTSS_ADDRESSV, v);
        record.addressV = v;
    }
    if (filter != record.filter && filter <= 6) {
        SetStageFilter(stage, filter);
        record.filter = filter;
    }
    return 1;
}

// ---- engine setters ---------------------------------------------------------------

int32_t D3D8_SetAlphaBlend(int32_t on)
{
    uint32_t want = on ? 1 : 0;
    if (want == c.alphaBlend) return 1;
    if (!want) {
        if (c.stage0HasAlpha) {
            D3D8_SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
            D3D8_SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        } else {
            D3D8_SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
            D3D8_SetRenderState(D3DRS_ALPHATESTENABLE, 0);
            D3D8_SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        }
    } else {
        if (!c.stage0HasAlpha) {
            D3D8_SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
            D3D8_SetRenderState(D3DRS_ALPHATESTENABLE, 1);
            D3D8_SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
        } else {
            D3D8_SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
            D3D8_SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        }
        D3D8_SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    }
    c.alphaBlend = want;
    return 1;
}

int32_t D3D8_GetAlphaBlend(void) { return (int32_t)c.alphaBlend; }

int32_t D3D8_SetTextureFilter(uint32_t mode)
{
    if (mode > 6) return 0;
    if (mode == c.stages[0].filter) return 1;
    SetStageFilter(0, mode);
    c.stages[0].filter = mode;
    return 1;
}

// Stage-0 addressing in one direction; the engine value is kept in *stored.
static int32_t SetAddress(uint32_t type, uint32_t *stored, uint32_t mode)
{
    if (!InRange(mode, 1, 4)) return 0;
    if (mode == *stored) return 1;
    D3D8_SetTextureStageState(0, type, mode);
    *stored = mode;
    return 1;
}

int32_t D3D8_SetTextureAddressU(uint32_t mode) { return SetAddress(D3DTSS_ADDRESSU, &c.stages[0].addressU, mode); }
int32_t D3D8_SetTextureAddressV(uint32_t mode) { return SetAddress(D3DTSS_ADDRESSV, &c.stages[0].addressV, mode); }

int32_t D3D8_SetSrcBlend(uint32_t mode)
{
    return InRange(mode, 1, 11) ? SetMapped(&c.srcBlend, mode, D3DRS_SRCBLEND) : 0;
}

int32_t D3D8_SetDestBlend(uint32_t mode)
{
    return InRange(mode, 1, 11) ? SetMapped(&c.destBlend, mode, D3DRS_DESTBLEND) : 0;
}

int32_t D3D8_SetZTestEnable(uint32_t on)
{
    on = on ? 1 : 0;
    if (on == c.zTest) return 1;
    if (!on) {
        if (!c.zWrite) D3D8_SetRenderState(D3DRS_ZENABLE, 0);
        D3D8_SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    } else {
        if (!c.zWrite) D3D8_SetRenderState(D3DRS_ZENABLE, 1);
        D3D8_SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    }
    c.zTest = on;
    return 1;
}

int32_t D3D8_SetZWriteEnable(uint32_t on)
{
    on = on ? 1 : 0;
    if (on == c.zWrite) return 1;
    if (!on) {
        if (!c.zTest) D3D8_SetRenderState(D3DRS_ZENABLE, 0);
        D3D8_SetRenderState(D3DRS_ZWRITEENABLE, 0);
    } else {
        if (!c.zTest) D3D8_SetRenderState(D3DRS_ZENABLE, 1);
        D3D8_SetRenderState(D3DRS_ZWRITEENABLE, 1);
    }
    c.zWrite = on;
    return 1;
}

int32_t D3D8_SetShadeMode(uint32_t mode) { return InRange(mode, 1, 2) ? SetMapped(&c.shade, mode, D3DRS_SHADEMODE) : 0; }

int32_t D3D8_SetBorderColor(uint32_t colour)
{
    if (colour == c.stages[0].borderColour) return 1;
    D3D8_SetTextureStageState(0, D3DTSS_BORDERCOLOR, colour);
    c.stages[0].borderColour = colour;
    return 1;
}

int32_t D3D8_SetCullMode(uint32_t mode) { return InRange(mode, 1, 3) ? SetMapped(&c.cull, mode, D3DRS_CULLMODE) : 0; }

int32_t D3D8_SetFogEnable(uint32_t on)
{
    on = on ? 1 : 0;
    if (on == c.fogEnable) return 1;
    if (on && !(D3D8_GetCaps()->RasterCaps & (D3DPRASTERCAPS_FOGVERTEX | D3DPRASTERCAPS_FOGTABLE))) return 1;
    D3D8_SetRenderState(D3DRS_FOGENABLE, on);
    c.fogEnable = on;
    return 1;
}

int32_t D3D8_SetFogColor(uint32_t colour) { return SetMapped(&c.fogColour, colour, D3DRS_FOGCOLOR); }

int32_t D3D8_SetFogType(uint32_t type)
{
    if (!InRange(type, 1, 3)) return 0;
    if (type != c.fogType) {
        SetFogModes(type);
        c.fogType = type;
    }
    Camera *camera = g_engineInstance ? (Camera *)g_engineInstance->currentCamera : nullptr;
    if (type == 1 && camera) {
        D3D8_SetRenderState(D3DRS_FOGSTART, FloatBits(camera->fogPlane));
        D3D8_SetRenderState(D3DRS_FOGEND, FloatBits(camera->farPlane));
    }
    return 1;
}

int32_t D3D8_SetFogDensity(float density)
{
    if (density == c.fogDensity) return 1;
    D3D8_SetRenderState(D3DRS_FOGDENSITY, FloatBits(density));
    c.fogDensity = density;
    return 1;
}

int32_t D3D8_SetStencilEnable(uint32_t on) { return SetMapped(&c.stencilEnable, on ? 1 : 0, D3DRS_STENCILENABLE); }
int32_t D3D8_SetStencilFail(uint32_t op) { return InRange(op, 1, 8) ? SetMapped(&c.stencilFail, op, D3DRS_STENCILFAIL) : 0; }
int32_t D3D8_SetStencilZFail(uint32_t op)
{
    return InRange(op, 1, 8) ? SetMapped(&c.stencilZFail, op, D3DRS_STENCILZFAIL) : 0;
}
int32_t D3D8_SetStencilPass(uint32_t op) { return InRange(op, 1, 8) ? SetMapped(&c.stencilPass, op, D3DRS_STENCILPASS) : 0; }
int32_t D3D8_SetStencilFunction(uint32_t cmp)
{
    return InRange(cmp, 1, 8) ? SetMapped(&c.stencilFunction, cmp, D3DRS_STENCILFUNC) : 0;
}
int32_t D3D8_SetStencilRef(uint32_t ref) { return SetMapped(&c.stencilRef, ref, D3DRS_STENCILREF); }
int32_t D3D8_SetStencilMask(uint32_t mask) { return SetMapped(&c.stencilMask, mask, D3DRS_STENCILMASK); }
int32_t D3D8_SetStencilWriteMask(uint32_t mask) { return SetMapped(&c.stencilWriteMask, mask, D3DRS_STENCILWRITEMASK); }

int32_t D3D8_EngineRenderStateSet(int32_t state, void *value)
{
    uint32_t v = (uint32_t)(uintptr_t)value;
    switch (state) {
    case RS_TEXTURERASTER: return D3D8_SetStageRaster((Raster *)value, 0);
    case RS_TEXTUREADDRESS: {
        if (!InRange(v, 1, 4)) return 0;
        D3D8_SetTextureAddressU(v);
        return D3D8_SetTextureAddressV(v);
    }
    case RS_TEXTUREADDRESSU: return D3D8_SetTextureAddressU(v);
    case RS_TEXTUREADDRESSV: return D3D8_SetTextureAddressV(v);
    case RS_TEXTUREPERSPECTIVE: return v != 0;
    case RS_ZTESTENABLE: return D3D8_SetZTestEnable(v);
    case RS_SHADEMODE: return D3D8_SetShadeMode(v);
    case RS_ZWRITEENABLE: return D3D8_SetZWriteEnable(v);
    case RS_TEXTUREFILTER: return D3D8_SetTextureFilter(v);
    case RS_SRCBLEND: return D3D8_SetSrcBlend(v);
    case RS_DESTBLEND: return D3D8_SetDestBlend(v);
    case RS_VERTEXALPHAENABLE: return D3D8_SetAlphaBlend((int32_t)v);
    case RS_BORDERCOLOR: return D3D8_SetBorderColor(v);
    case RS_FOGENABLE: return D3D8_SetFogEnable(v);
    case RS_FOGCOLOR: return D3D8_SetFogColor(v);
    case RS_FOGTYPE: return D3D8_SetFogType(v);
    case RS_FOGDENSITY: return value ? D3D8_SetFogDensity(*(const float *)value) : 0;
    case RS_CULLMODE: return D3D8_SetCullMode(v);
    case RS_STENCILENABLE: return D3D8_SetStencilEnable(v);
    case RS_STENCILFAIL: return D3D8_SetStencilFail(v);
    case RS_STENCILZFAIL: return D3D8_SetStencilZFail(v);
    case RS_STENCILPASS: return D3D8_SetStencilPass(v);
    case RS_STENCILFUNCTION: return D3D8_SetStencilFunction(v);
    case RS_STENCILREF: return D3D8_SetStencilRef(v);
    case RS_STENCILMASK: return D3D8_SetStencilMask(v);
    case RS_STENCILWRITEMASK: return D3D8_SetStencilWriteMask(v);
    default: return 0;
    }
}

int32_t D3D8_EngineRenderStateGet(int32_t state, void *value)
{
    if (!value) return 0;
    if (state == RS_TEXTURERASTER) {
        *(Raster **)value = c.stages[0].raster;
        return 1;
    }
    uint32_t *out = (uint32_t *)value;
    switch (state) {
    case RS_TEXTUREADDRESS:
        if (c.stages[0].addressU != c.stages[0].addressV) {
            *out = 0;
            return 0;
        }
        *out = c.stages[0].addressU;
        return 1;
    case RS_TEXTUREADDRESSU: *out = c.stages[0].addressU; return 1;
    case RS_TEXTUREADDRESSV: *out = c.stages[0].addressV; return 1;
    case RS_ZTESTENABLE: *out = c.zTest; return 1;
    case RS_SHADEMODE: *out = c.shade; return 1;
    case RS_ZWRITEENABLE: *out = c.zWrite; return 1;
    case RS_TEXTUREFILTER: *out = c.stages[0].filter; return 1;
    case RS_SRCBLEND: *out = c.srcBlend; return 1;
    case RS_DESTBLEND: *out = c.destBlend; return 1;
    case RS_VERTEXALPHAENABLE: *out = c.alphaBlend; return 1;
    case RS_BORDERCOLOR: *out = c.stages[0].borderColour; return 1;
    case RS_FOGENABLE: *out = c.fogEnable; return 1;
    case RS_FOGCOLOR: *out = c.fogColour; return 1;
    case RS_FOGTYPE: *out = c.fogType; return 1;
    case RS_FOGDENSITY: *out = FloatBits(c.fogDensity); return 1;
    case RS_CULLMODE: *out = c.cull; return 1;
    case RS_STENCILENABLE: *out = c.stencilEnable; return 1;
    case RS_STENCILFAIL: *out = c.stencilFail; return 1;
    case RS_STENCILZFAIL: *out = c.stencilZFail; return 1;
    case RS_STENCILPASS: *out = c.stencilPass; return 1;
    case RS_STENCILFUNCTION: *out = c.stencilFunction; return 1;
    case RS_STENCILREF: *out = c.stencilRef; return 1;
    case RS_STENCILMASK: *out = c.stencilMask; return 1;
    case RS_STENCILWRITEMASK: *out = c.stencilWriteMask; return 1;
    default: return 0;
    }
}

// ---- open and reset ------------------------------------------------------------------

void D3D8_RenderStateOpen(void)
{
    for (Slot &slot : c.states) slot = Slot{};
    for (auto &stage : c.stageStates)
        for (Slot &slot : stage) slot = Slot{};
    ResetSlots();
    c.fogEnable = 0;
    c.fogType = 1;
    c.fogDensity = 1.0f;
    c.fogColour = 0;
    // The stencil values start at the device's own defaults; the reset sends them.
    c.stencilEnable = 0;
    c.stencilFail = c.stencilZFail = c.stencilPass = D3DSTENCILOP_KEEP;
    c.stencilFunction = D3DCMP_ALWAYS;
    c.stencilRef = 0;
    c.stencilMask = c.stencilWriteMask = 0xFFFFFFFFu;

    D3D8_SetRenderState(D3DRS_FOGENABLE, 0);
    SetFogModes(c.fogType);
    D3D8_SetRenderState(D3DRS_FOGCOLOR, 0);
    D3D8_SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    c.shade = D3DSHADE_GOURAUD;
    D3D8_SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    D3D8_SetRenderState(D3DRS_ZWRITEENABLE, 1);
    D3D8_SetRenderState(D3DRS_ZENABLE, 1);
    c.zTest = c.zWrite = 1;

    uint32_t filter = (D3D8_GetCaps()->TextureFilterCaps & D3DPTFILTERCAPS_MINFLINEAR) ? 2 : 1;
    for (uint32_t stage = 0; stage < D3D8_STAGE_COUNT; stage++) {
        c.stages[stage] = StageRecord{nullptr, nullptr, filter, D3DTADDRESS_WRAP, D3DTADDRESS_WRAP, 0xFF000000u};
        QueueStageDefaults(stage);
    }
    D3D8_SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    D3D8_SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    c.srcBlend = D3DBLEND_SRCALPHA;
    c.destBlend = D3DBLEND_INVSRCALPHA;
    D3D8_SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    D3D8_SetRenderState(D3DRS_ALPHAREF, 0);
    D3D8_SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
    D3D8_SetRenderState(D3DRS_ALPHATESTENABLE, 0);
    c.alphaBlend = 0;
    c.stage0HasAlpha = 0;
    D3D8_SetRenderState(D3DRS_LIGHTING, 0);
    D3D8_SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    c.cull = D3DCULL_CW;
    D3D8_SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    D3D8_SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    D3D8_SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    D3D8_SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    QueueMaterialDefaults();
    D3D8_FlushRenderStates();
}

void D3D8_RenderStateReset(void)
{
    Slot fogStart = c.states[D3DRS_FOGSTART], fogEnd = c.states[D3DRS_FOGEND];
    ResetSlots();
    D3D8_SetRenderState(D3DRS_FOGDENSITY, FloatBits(c.fogDensity));
    D3D8_SetRenderState(D3DRS_FOGENABLE, c.fogEnable);
    SetFogModes(c.fogType);
    if (fogStart.wantedSet) D3D8_SetRenderState(D3DRS_FOGSTART, fogStart.wanted);
    if (fogEnd.wantedSet) D3D8_SetRenderState(D3DRS_FOGEND, fogEnd.wanted);
    D3D8_SetRenderState(D3DRS_FOGCOLOR, c.fogColour);
    D3D8_SetRenderState(D3DRS_SHADEMODE, c.shade);
    D3D8_SetRenderState(D3DRS_ZWRITEENABLE, c.zWrite);
    D3D8_SetRenderState(D3DRS_ZFUNC, c.zTest ? D3DCMP_LESSEQUAL : D3DCMP_ALWAYS);
    D3D8_SetRenderState(D3DRS_ZENABLE, (c.zTest || c.zWrite) ? 1 : 0);
    QueueStencil();
    for (uint32_t stage = 0; stage < D3D8_STAGE_COUNT; stage++) QueueStageDefaults(stage);
    D3D8_SetRenderState(D3DRS_SRCBLEND, c.srcBlend);
    D3D8_SetRenderState(D3DRS_DESTBLEND, c.destBlend);
    D3D8_SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    D3D8_SetRenderState(D3DRS_ALPHAREF, 0);
    D3D8_SetRenderState(D3DRS_ALPHABLENDENABLE, c.alphaBlend);
    D3D8_SetRenderState(D3DRS_ALPHATESTENABLE, c.alphaBlend);
    c.stage0HasAlpha = 0;
    D3D8_SetRenderState(D3DRS_LIGHTING, 0);
    D3D8_SetRenderState(D3DRS_CULLMODE, c.cull);
    D3D8_SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    D3D8_SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    D3D8_SetTextureStageState(0, D3DTSS_ALPHAOP, c.alphaBlend ? D3DTOP_SELECTARG2 : D3DTOP_DISABLE);
    D3D8_SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    QueueMaterialDefaults();
    D3D8_FlushRenderStates();
}
