// The render-state cache and the engine's render states on Direct3D 8.
//
// Direct3D render states (0-179) and texture-stage states (8 stages x 32)
// are never sent as they are set: a set records the wanted value and queues
// the state once; D3D8_FlushRenderStates, run before every draw, sends the
// queued states whose wanted value differs from what the device was last
// given, in the order in which they were first changed. Each slot also
// knows whether the device was ever given a value since the last open or
// reset: such a slot sends its first wanted value whatever it is.
//
// On top sit the engine's render states 1-28 (set and get through the
// device record), kept at engine level so that a device reset can rebuild
// every device state from them.
#pragma once

#include <cstdint>

struct Raster;
struct Texture;

enum : uint32_t {
    D3D8_RENDERSTATE_SLOTS = 180,
    D3D8_STAGE_COUNT = 8,
    D3D8_STAGESTATE_SLOTS = 32,
};

// Engine render-state numbers.
enum : int32_t {
    RS_TEXTURERASTER = 1,
    RS_TEXTUREADDRESS = 2,
    RS_TEXTUREADDRESSU = 3,
    RS_TEXTUREADDRESSV = 4,
    RS_TEXTUREPERSPECTIVE = 5,
    RS_ZTESTENABLE = 6,
    RS_SHADEMODE = 7,
    RS_ZWRITEENABLE = 8,
    RS_TEXTUREFILTER = 9,
    RS_SRCBLEND = 10,
    RS_DESTBLEND = 11,
    RS_VERTEXALPHAENABLE = 12,
    RS_BORDERCOLOR = 13,
    RS_FOGENABLE = 14,
    RS_FOGCOLOR = 15,
    RS_FOGTYPE = 16,
    RS_FOGDENSITY = 17,
    RS_CULLMODE = 20,
    RS_STENCILENABLE = 21,
    RS_STENCILFAIL = 22,
    RS_STENCILZFAIL = 23,
    RS_STENCILPASS = 24,
    RS_STENCILFUNCTION = 25,
    RS_STENCILREF = 26,
    RS_STENCILMASK = 27,
    RS_STENCILWRITEMASK = 28,
};

// ---- Direct3D level ----
// Record a wanted value; always 1 (states outside the table are refused with 0).
int32_t D3D8_SetRenderState(uint32_t state, uint32_t value);
void D3D8_GetRenderState(uint32_t state, uint32_t *value);
int32_t D3D8_SetTextureStageState(uint32_t stage, uint32_t type, uint32_t value);
void D3D8_GetTextureStageState(uint32_t stage, uint32_t type, uint32_t *value);
// Sends the queued changes; device results are ignored.
void D3D8_FlushRenderStates(void);

// ---- engine level ----
// The device record's render-state set and get. A set carries the value in
// the pointer itself ((void *)(uintptr_t)value; state 1 the raster, state
// 17 a pointer to the float density). A get writes through value: a
// Raster * for state 1, else a uint32_t (state 17: the density's bits).
int32_t D3D8_EngineRenderStateSet(int32_t state, void *value);
int32_t D3D8_EngineRenderStateGet(int32_t state, void *value);

int32_t D3D8_SetStageRaster(Raster *raster, uint32_t stage);
Raster *D3D8_GetStageRaster(uint32_t stage);
// A texture's raster, addressing and filter on a stage; null clears the stage.
int32_t D3D8_SetTexture(Texture *texture, uint32_t stage);
// Forgets every stage that shows texture (its raster is going away).
void D3D8_ForgetStageTexture(const void *d3dTexture);
int32_t D3D8_SetAlphaBlend(int32_t on);
int32_t D3D8_GetAlphaBlend(void);
int32_t D3D8_SetTextureFilter(uint32_t mode);
int32_t D3D8_SetTextureAddressU(uint32_t mode);
int32_t D3D8_SetTextureAddressV(uint32_t mode);
int32_t D3D8_SetSrcBlend(uint32_t mode);
int32_t D3D8_SetDestBlend(uint32_t mode);
int32_t D3D8_SetZTestEnable(uint32_t on);
int32_t D3D8_SetZWriteEnable(uint32_t on);
int32_t D3D8_SetShadeMode(uint32_t mode);
int32_t D3D8_SetBorderColor(uint32_t colour);
int32_t D3D8_SetCullMode(uint32_t mode);
int32_t D3D8_SetFogEnable(uint32_t on);
int32_t D3D8_SetFogColor(uint32_t colour);
int32_t D3D8_SetFogType(uint32_t type);
int32_t D3D8_SetFogDensity(float density);
int32_t D3D8_SetStencilEnable(uint32_t on);
int32_t D3D8_SetStencilFail(uint32_t op);
int32_t D3D8_SetStencilZFail(uint32_t op);
int32_t D3D8_SetStencilPass(uint32_t op);
int32_t D3D8_SetStencilFunction(uint32_t cmp);
int32_t D3D8_SetStencilRef(uint32_t ref);
int32_t D3D8_SetStencilMask(uint32_t mask);
int32_t D3D8_SetStencilWriteMask(uint32_t mask);

// Device start: every slot unsent, the engine defaults queued and flushed.
void D3D8_RenderStateOpen(void);
// After a device reset: every device state rebuilt from the engine values.
void D3D8_RenderStateReset(void);
