// Material-effects drawing on Direct3D 8.
//
// Every path draws one mesh record and leaves the stages in fixed states
// (see d3d8matfx.h). Binding a stage raster is skipped by the state cache
// when the raster is already bound, so a path that edits stage 0's
// operations directly marks it, and the next bind (or the end of the
// callback) rebinds the raster from scratch: a following mesh or a
// following default-pipeline draw with the same texture then gets the
// operations its binding implies, not the ones an effect left.
//
// The six pixel-shader programs are version 1.0 token streams. Each gives in
// one pass what the blended passes without shaders give, so that a device
// with shaders draws the same picture: every product is taken before its
// sum is clamped, as the frame-buffer blends take them.
#include "gfx/plugin/matfx/d3d8matfx.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "common/assert.h"
#include "gfx/core/arena.h"
#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/error.h"
#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/pipeline.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/core/vector.h"
#include "gfx/driver/d3d8/d3d8cache.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/driver/d3d8/d3d8raster.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "gfx/plugin/matfx/matfx.h"
#include "gfx/world/atomic.h"
#include "gfx/world/d3d8instance.h"
#include "gfx/world/d3d8pipelines.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/material.h"
#include "gfx/world/world.h"

namespace {

enum Shader {
    SHADER_BUMP,
    SHADER_ENV,
    SHADER_ENV_NO_BASE,
    SHADER_BUMP_ENV,
    SHADER_BUMP_ENV_FB_ALPHA_ENV,   // frame-buffer alpha, environment texture with alpha
    SHADER_BUMP_ENV_FB_OPAQUE_ENV,  // frame-buffer alpha, opaque environment texture
};

// ---- the pixel-shader programs ----

// Tokens of a register as a destination (all channels, or the write mask)
// and as a source (with a selector and a modifier).
constexpr uint32_t Reg(uint32_t type, uint32_t number) { return D3DSP_TOKEN | type << D3DSP_REGTYPE_SHIFT | number; }
constexpr uint32_t R0 = Reg(D3DSPR_TEMP, 0), R1 = Reg(D3DSPR_TEMP, 1), V0 = Reg(D3DSPR_INPUT, 0),
                   C0 = Reg(D3DSPR_CONST, 0);
constexpr uint32_t T(uint32_t n) { return Reg(D3DSPR_TEXTURE, n); }
constexpr uint32_t Dst(uint32_t reg, uint32_t mask = D3DSP_WRITEMASK_ALL) { return reg | mask; }
constexpr uint32_t Src(uint32_t reg, uint32_t selector = D3DSP_NOSWIZZLE, uint32_t modifier = D3DSPSM_NONE)
{
    return reg | selector | modifier << D3DSP_SRCMOD_SHIFT;
}
constexpr uint32_t RGB = D3DSP_WRITEMASK_COLOR, ALPHA = D3DSP_WRITEMASK_3, A = D3DSP_REPLICATEALPHA;
constexpr uint32_t PAIRED = D3DSI_COISSUE;

template <size_t... N>
constexpr std::array<uint32_t, (N + ...)> Join(const std::array<uint32_t, N>&... parts)
{
    std::array<uint32_t, (N + ...)> out{};
    size_t at = 0;
    ((std::copy(parts.begin(), parts.end(), out.begin() + at), at += N), ...);
    return out;
}
constexpr std::array<uint32_t, 1> kVersion = {D3DPS_VERSION_1_0}, kEnd = {D3DPS_END};

// clang-format off
constexpr std::array kTexBump = {D3DSIO_TEX, Dst(T(0)), D3DSIO_TEX, Dst(T(1))};
constexpr std::array kTexEnv = {D3DSIO_TEX, Dst(T(2))};
// b = t0 d (1 - t0.a) + t1 d t1.a, b.a = (t0.a + t1.a) d.a: the bumped
// texture on its own coordinates darkened by its mask, and lightened on
// the shifted ones.
constexpr std::array kBumpMath = {
    D3DSIO_MUL,          Dst(R0),        Src(T(0)), Src(V0),                      // r0 = t0 d
    D3DSIO_MUL,          Dst(R1),        Src(T(1)), Src(V0),                      // r1 = t1 d
    D3DSIO_MUL,          Dst(R0, RGB),   Src(R0),   Src(T(0), A, D3DSPSM_COMP),   // t0 d (1 - t0.a)
    D3DSIO_ADD | PAIRED, Dst(R0, ALPHA), Src(R0),   Src(R1),                      // (t0.a + t1.a) d.a
    D3DSIO_MAD,          Dst(R0, RGB),   Src(R1),   Src(T(1), A), Src(R0),        // + t1 d t1.a
};

// Indexed by Shader.
constexpr auto kBump = Join(kVersion, kTexBump, kBumpMath, kEnd);
// rgb = t0 d + t1 t1.a c0, a = t0.a d.a
constexpr auto kEnv = Join(kVersion, kTexBump, std::array{
    D3DSIO_MUL,          Dst(R0),        Src(T(0)), Src(V0),
    D3DSIO_MUL,          Dst(R1, RGB),   Src(T(1)), Src(T(1), A),
    D3DSIO_MAD,          Dst(R0, RGB),   Src(R1),   Src(C0), Src(R0)}, kEnd);
// rgb = d + t0 t0.a c0, a = d.a
constexpr auto kEnvNoBase = Join(kVersion, std::array{D3DSIO_TEX, Dst(T(0)),
    D3DSIO_MUL,          Dst(R1, RGB),   Src(T(0)), Src(T(0), A),
    D3DSIO_MOV | PAIRED, Dst(R0, ALPHA), Src(V0),
    D3DSIO_MAD,          Dst(R0, RGB),   Src(R1),   Src(C0), Src(V0)}, kEnd);
// b + t2 t2.a c0
constexpr auto kBumpEnv = Join(kVersion, kTexBump, kTexEnv, kBumpMath, std::array{
    D3DSIO_MUL,          Dst(R1, RGB),   Src(T(2)), Src(T(2), A),
    D3DSIO_MAD,          Dst(R0, RGB),   Src(R1),   Src(C0), Src(R0)}, kEnd);
// b + t2 t2.a b.a c0
constexpr auto kBumpEnvAlphaEnv = Join(kVersion, kTexBump, kTexEnv, kBumpMath, std::array{
    D3DSIO_MUL,          Dst(R1, RGB),   Src(T(2)), Src(T(2), A),
    D3DSIO_MUL | PAIRED, Dst(R1, ALPHA), Src(R0),   Src(C0),                      // b.a c0
    D3DSIO_MAD,          Dst(R0, RGB),   Src(R1),   Src(R1, A), Src(R0)}, kEnd);
// b + t2 b.a c0
constexpr auto kBumpEnvOpaqueEnv = Join(kVersion, kTexBump, kTexEnv, kBumpMath, std::array{
    D3DSIO_MUL,          Dst(R1, RGB),   Src(T(2)), Src(C0),
    D3DSIO_MAD,          Dst(R0, RGB),   Src(R1),   Src(R0, A), Src(R0)}, kEnd);
// clang-format on
const uint32_t* const kShaderTokens[MATFX_PIXEL_SHADER_COUNT] = {
    kBump.data(), kEnv.data(), kEnvNoBase.data(), kBumpEnv.data(), kBumpEnvAlphaEnv.data(), kBumpEnvOpaqueEnv.data(),
};

constexpr uint32_t kMultiplyAddCap = 0x1000000;
constexpr uint32_t kModulate2xCap = 0x10;
constexpr uint32_t kBumpFormat = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX2;  // 0x252
constexpr uint32_t kPalettised = RASTERFORMATPAL8;
// Engine blend modes.
constexpr uint32_t kZero = 1, kOne = 2, kSrcColour = 3, kSrcAlpha = 5, kInvSrcAlpha = 6, kDestColour = 9;

enum Validation { NOT_TRIED, PASSED, FAILED };

struct MatFXDraw {
    Pipeline* atomicPipeline;
    Pipeline* sectorPipeline;
    uint32_t blendStages;
    bool dualTexture, multiplyAdd, modulate2x;
    uint32_t shaders[MATFX_PIXEL_SHADER_COUNT];  // 0 = none
    Validation envAdd;                           // the single-pass additive environment set-up
    Validation modulate2xDual;
    bool stage0Dirty;  // stage 0's operations were edited behind its binding
    uint8_t* done;     // bump vertices: one byte per vertex, grown as needed
    uint32_t doneCapacity;
};

MatFXDraw sDraw;

// ---- small helpers ----

void StageState(uint32_t stage, uint32_t type, uint32_t value) { D3D8_SetTextureStageState(stage, type, value); }
void Stage0(uint32_t type, uint32_t value)
{
    D3D8_SetTextureStageState(0, type, value);
    sDraw.stage0Dirty = true;
}
// A stage's colour (D3DTSS_COLOROP) or alpha (D3DTSS_ALPHAOP) operation
// with its two arguments.
void Combine(uint32_t stage, uint32_t opState, uint32_t op, uint32_t arg1, uint32_t arg2)
{
    D3D8_SetTextureStageState(stage, opState, op);
    D3D8_SetTextureStageState(stage, opState + 1, arg1);
    D3D8_SetTextureStageState(stage, opState + 2, arg2);
    if (stage == 0) sDraw.stage0Dirty = true;
}

// The environment coefficient as drawn: clamped to 0..1 either way, so
// that 1.01 does not wrap to almost nothing and -0.5 to half strength.
float ClampedCoefficient(float c) { return !(c > 0) ? 0.0f : c > 1 ? 1.0f : c; }
uint32_t CoefficientByte(float c) { return (uint32_t)std::lround(ClampedCoefficient(c) * 255.0f); }

bool Palettised(const Texture* t) { return t && t->raster && (Raster_GetFormat(t->raster) & kPalettised); }
bool HasAlpha(const Texture* t) { return t && D3D8_TextureHasAlpha(t); }

// Binds stage 0, from scratch when a path edited its operations.
void ResetStage0(void)
{
    Raster* raster = D3D8_GetStageRaster(0);
    if (raster) {
        D3D8_SetStageRaster(nullptr, 0);
        D3D8_SetStageRaster(raster, 0);
    } else {
        // Unbinding nothing is skipped: the no-texture operations by hand.
        D3D8_SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
        D3D8_SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        D3D8_SetTextureStageState(0, D3DTSS_ALPHAOP, D3D8_GetAlphaBlend() ? D3DTOP_SELECTARG2 : D3DTOP_DISABLE);
        D3D8_SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    }
    sDraw.stage0Dirty = false;
}

void BindStage0(Texture* texture)
{
    if (sDraw.stage0Dirty) ResetStage0();
    D3D8_SetTexture(texture, 0);
}

void RebindStage0(void)
{
    if (sDraw.stage0Dirty) ResetStage0();
}

// Stage s (>= 1) with nothing on it.
void ClearStage(uint32_t s)
{
    D3D8_SetStageRaster(nullptr, s);
    StageState(s, D3DTSS_COLOROP, D3DTOP_DISABLE);
    StageState(s, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
}

void SetBlend(const D3D8MeshInstance& r)
{
    const bool blend = r.vertexAlpha || (r.material && r.material->colour[3] < 255);
    if ((D3D8_GetAlphaBlend() != 0) != blend) D3D8_SetAlphaBlend(blend ? 1 : 0);
    D3D8_SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, r.vertexAlpha ? 1 : 0);
}

bool MaterialTranslucent(const D3D8MeshInstance& r)
{
    return r.vertexAlpha || (r.material && r.material->colour[3] < 255);
}

void Draw(const D3D8MeshInstance& r)
{
    if (!r.vertexBuffer) return;
    D3D8_SetVertexShader(r.vertexShader);
    D3D8_SetStreamSource(0, r.vertexBuffer, r.stride);
    if (r.indexBuffer) {
        D3D8_SetIndices(r.indexBuffer, r.baseIndex);
        D3D8_DrawIndexedPrimitive(r.primitiveType, 0, r.numVertices, 0, r.numIndices);
    } else if (r.numIndices > 0) {
        D3D8_DrawPrimitive(r.primitiveType, r.baseIndex, r.numVertices);
    }
}

// A 2-D coordinate transform: (u, v) reach the device as (u, v, 1, 0), so
// the translation sits in the third row.
bool SetCoordinateTransform(uint32_t stage, const Matrix* m)
{
    if (!m || (m->flags & MATRIX_IDENTITY)) return false;
    D3DMATRIX t = {};
    t.m[0][0] = m->right.x, t.m[0][1] = m->right.y;
    t.m[1][0] = m->up.x, t.m[1][1] = m->up.y;
    t.m[2][0] = m->pos.x, t.m[2][1] = m->pos.y;
    t.m[2][2] = 1.0f, t.m[3][3] = 1.0f;
    StageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    D3D8_SetTransform(D3DTS_TEXTURE0 + stage, &t);
    return true;
}

D3DMATRIX ToDevice(const Matrix& m, float w)
{
    D3DMATRIX d = {};
    const Vec3* rows[4] = {&m.right, &m.up, &m.at, &m.pos};
    for (int i = 0; i < 4; i++) d.m[i][0] = rows[i]->x, d.m[i][1] = rows[i]->y, d.m[i][2] = rows[i]->z;
    d.m[3][3] = w;
    return d;
}

const Matrix* CameraWorld(void)
{
    Camera* camera = (Camera*)Engine_Instance()->currentCamera;
    Frame* frame = camera ? Camera_GetFrame(camera) : nullptr;
    return frame ? Frame_GetWorldMatrix(frame) : nullptr;
}

struct SavedBlend {
    uint32_t src, dest;
};
SavedBlend SetEngineBlend(uint32_t src, uint32_t dest)
{
    SavedBlend saved = {};
    D3D8_EngineRenderStateGet(RS_SRCBLEND, &saved.src);
    D3D8_EngineRenderStateGet(RS_DESTBLEND, &saved.dest);
    D3D8_SetSrcBlend(src);
    D3D8_SetDestBlend(dest);
    return saved;
}
void RestoreEngineBlend(const SavedBlend& saved)
{
    D3D8_SetSrcBlend(saved.src);
    D3D8_SetDestBlend(saved.dest);
}

// Saves a device render state and sets it; Restore puts the value back.
struct SavedState {
    uint32_t state, value;
};
SavedState Override(uint32_t state, uint32_t value)
{
    SavedState saved = {state, 0};
    D3D8_GetRenderState(state, &saved.value);
    D3D8_SetRenderState(state, value);
    return saved;
}
void Restore(const SavedState& saved) { D3D8_SetRenderState(saved.state, saved.value); }

bool FogOn(void)
{
    uint32_t fog = 0;
    D3D8_GetRenderState(D3DRS_FOGENABLE, &fog);
    return fog != 0;
}

// ---- plain ----

// uv: the texture-coordinate transform slot (types 5 and 6), or null.
void MatFX_RenderPlain(const D3D8MeshInstance& r, uint32_t flags, Texture* texture, const MatFXSlot* uv)
{
    const bool textured = (flags & (GEOMETRY_TEXTURED | GEOMETRY_TEXTURED2)) != 0;
    BindStage0(textured ? texture : nullptr);
    const bool transform = textured && uv && SetCoordinateTransform(0, uv->uv.baseTransform);
    SetBlend(r);
    D3D8_SetPixelShader(0);
    Draw(r);
    if (transform) StageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
}

void MatFX_RenderPlainUntextured(const D3D8MeshInstance& r)
{
    SetBlend(r);
    D3D8_SetPixelShader(0);
    Draw(r);
}

// ---- environment maps ----

// The two-pass environment pass over what was drawn: the environment
// texture blended SRCALPHA/ONE, unlit, without z-writes or fog colour.
void EnvPass(const D3D8MeshInstance& r, const MatFXEnv& env, uint32_t k)
{
    BindStage0(env.texture);
    MatFX_SetupEnvMapStage(env.texture, 0, env.frame);
    sDraw.stage0Dirty = true;
    D3D8_SetAlphaBlend(1);
    const SavedBlend blend = SetEngineBlend(kSrcAlpha, kOne);
    const uint32_t factor = k * 0x01010101u;
    if (factor == 0xFFFFFFFFu) {
        Stage0(D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        Stage0(D3DTSS_COLORARG1, D3DTA_TEXTURE);
        Stage0(D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        Stage0(D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    } else {
        D3D8_SetRenderState(D3DRS_TEXTUREFACTOR, factor);
        Combine(0, D3DTSS_COLOROP, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR);
        Combine(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_TFACTOR);
    }
    const SavedState lighting = Override(D3DRS_LIGHTING, 0);
    const SavedState zWrite = Override(D3DRS_ZWRITEENABLE, 0);
    const bool fog = FogOn();
    SavedState fogColour = {};
    if (fog) fogColour = Override(D3DRS_FOGCOLOR, 0);
    Draw(r);
    if (fog) Restore(fogColour);
    Restore(zWrite);
    Restore(lighting);
    Stage0(D3DTSS_COLOROP, D3DTOP_MODULATE);
    Stage0(D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    Stage0(D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    Stage0(D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    D3D8_SetAlphaBlend(0);
    RestoreEngineBlend(blend);
    Stage0(D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    Stage0(D3DTSS_TEXCOORDINDEX, 0);
}

void CleanStage1(void)
{
    ClearStage(1);
    StageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    StageState(1, D3DTSS_TEXCOORDINDEX, 1);
}

void CleanStage0Env(void)
{
    D3D8_SetStageRaster(nullptr, 0);
    sDraw.stage0Dirty = false;
    StageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    StageState(0, D3DTSS_TEXCOORDINDEX, 0);
}

void SetCoefficientConstant(float coefficient)
{
    const float c = ClampedCoefficient(coefficient);
    const float lanes[4] = {c, c, c, c};
    D3D8_SetPixelShaderConstant(0, lanes, 1);
}

// Single pass with the environment on stage 1: ADD for a full
// coefficient (validated by the device the first time), MULTIPLYADD by
// the coefficient otherwise. False (nothing drawn, stage 1 clean) when the
// validation fails.
bool EnvOnStage1(const D3D8MeshInstance& r, const MatFXEnv& env, uint32_t k)
{
    MatFX_SetupEnvMapStage(env.texture, 1, env.frame);
    if (k == 255) {
        Combine(1, D3DTSS_COLOROP, D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_CURRENT);
        if (sDraw.envAdd == NOT_TRIED) {
            uint32_t passes = 0;
            sDraw.envAdd = D3D8_ValidateDevice(&passes) && passes == 1 ? PASSED : FAILED;
        }
        if (sDraw.envAdd == FAILED) {
            CleanStage1();
            return false;
        }
    } else {
        D3D8_SetRenderState(D3DRS_TEXTUREFACTOR, k * 0x01010101u);
        StageState(1, D3DTSS_COLOROP, D3DTOP_MULTIPLYADD);
        StageState(1, D3DTSS_COLORARG0, D3DTA_CURRENT);
        StageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        StageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    }
    Draw(r);
    CleanStage1();
    return true;
}

void MatFX_RenderEnvMap(const D3D8MeshInstance& r, uint32_t flags, int32_t pass, Texture* base, const MatFXEnv& env,
                        const MatFXSlot* uv)
{
    const uint32_t k = CoefficientByte(env.coefficient);
    if (k == 0 || !env.texture) {
        if (pass == 0) MatFX_RenderPlain(r, flags, base, uv);
        return;
    }
    SetBlend(r);
    if (pass == 1) {
        EnvPass(r, env, k);
        return;
    }
    const bool textured = (flags & (GEOMETRY_TEXTURED | GEOMETRY_TEXTURED2)) != 0;
    Texture* stage0 = textured ? base : nullptr;
    BindStage0(stage0);
    D3D8_SetPixelShader(0);
    enum { TWO_PASS, STAGE0_ADD, STAGE1, SHADER } path = TWO_PASS;
    if (stage0 && stage0 != env.texture && Palettised(stage0) && Palettised(env.texture)) {
        path = TWO_PASS;
    } else if (!env.useFrameBufferAlpha && (MaterialTranslucent(r) || HasAlpha(stage0))) {
        path = TWO_PASS;
    } else if (!HasAlpha(env.texture)) {
        if (!stage0 && k == 255) path = STAGE0_ADD;
        else if (sDraw.blendStages >= 2 && (sDraw.multiplyAdd || (k == 255 && sDraw.envAdd != FAILED))) path = STAGE1;
    } else if (sDraw.shaders[stage0 ? SHADER_ENV : SHADER_ENV_NO_BASE]) {
        path = SHADER;
    }
    switch (path) {
    case STAGE0_ADD:
        BindStage0(env.texture);
        MatFX_SetupEnvMapStage(env.texture, 0, env.frame);
        Stage0(D3DTSS_COLOROP, D3DTOP_ADD);
        Draw(r);
        CleanStage0Env();
        return;
    case STAGE1:
        if (EnvOnStage1(r, env, k)) return;
        break;
    case SHADER:
        SetCoefficientConstant(env.coefficient);
        if (stage0) {
            MatFX_SetupEnvMapStage(env.texture, 1, env.frame);
            D3D8_SetPixelShader(sDraw.shaders[SHADER_ENV]);
            Draw(r);
            CleanStage1();
        } else {
            BindStage0(env.texture);
            MatFX_SetupEnvMapStage(env.texture, 0, env.frame);
            D3D8_SetPixelShader(sDraw.shaders[SHADER_ENV_NO_BASE]);
            Draw(r);
            CleanStage0Env();
        }
        D3D8_SetPixelShader(0);
        return;
    case TWO_PASS: break;
    }
    Draw(r);
    EnvPass(r, env, k);
}

// ---- bump maps ----

const Light* FirstLight(Frame* frame)
{
    for (EngineLink* l = frame->objects.next; l != &frame->objects; l = l->next) {
        const FrameLinkedObject* o = (const FrameLinkedObject*)((char*)l - offsetof(FrameLinkedObject, inFrame));
        if (o->header.type == FRAMEOBJECT_LIGHT) return (const Light*)o;
    }
    return nullptr;
}

// The light in object space: a direction (towards the light) for the
// directed kinds, else a point.
struct BumpLight {
    Vec3 v;
    bool direction;
};

BumpLight LightFor(const MatFXBump& bump, const Matrix* objectToWorld)
{
    Frame* frame = bump.frame;
    if (!frame) {
        Camera* camera = (Camera*)Engine_Instance()->currentCamera;
        frame = camera ? Camera_GetFrame(camera) : nullptr;
    }
    BumpLight out = {{0, 0, 0}, false};
    if (!frame) return out;
    Matrix inverse;
    if (objectToWorld) Matrix_Invert(&inverse, objectToWorld);
    else Matrix_SetIdentity(&inverse);
    const Matrix* world = Frame_GetWorldMatrix(frame);
    const Light* light = FirstLight(frame);
    const uint8_t kind = light ? Light_GetType(light) : 0;
    if (kind == LIGHT_DIRECTIONAL || kind == LIGHT_SPOT || kind == LIGHT_SOFT_SPOT) {
        const Vec3 towards = {-world->at.x, -world->at.y, -world->at.z};
        Vector3_TransformVectors(&out.v, &towards, 1, &inverse);
        out.direction = true;
    } else {
        Vector3_TransformPoints(&out.v, &world->pos, 1, &inverse);
    }
    return out;
}

Vec3 Sub(const Vec3& a, const Vec3& b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }
float Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Unit length, or zero for a vector too short to have a direction.
Vec3 UnitOrZero(const Vec3& v)
{
    const float lengthSq = Dot(v, v);
    if (!(lengthSq > 1e-20f) || !std::isfinite(lengthSq)) return Vec3{0, 0, 0};
    const float inv = 1.0f / std::sqrt(lengthSq);
    return Vec3{v.x * inv, v.y * inv, v.z * inv};
}

// Shifts vertex a's second texture set along the light from the triangle
// a b c (in winding order).
void ShiftVertex(MatFXBumpVertex* out, uint32_t a, uint32_t b, uint32_t c, const BumpLight& light, float k)
{
    MatFXBumpVertex& v = out[a];
    const Vec3 p = {v.x, v.y, v.z}, n = {v.nx, v.ny, v.nz};
    const Vec3 e1 = Sub(Vec3{out[b].x, out[b].y, out[b].z}, p), e2 = Sub(Vec3{out[c].x, out[c].y, out[c].z}, p);
    const float dv1 = out[b].v0 - v.v0, dv2 = out[c].v0 - v.v0;
    const Vec3 t = UnitOrZero(Vec3{dv2 * e1.x - dv1 * e2.x, dv2 * e1.y - dv1 * e2.y, dv2 * e1.z - dv1 * e2.z});
    const Vec3 binormal = {t.y * n.z - t.z * n.y, t.z * n.x - t.x * n.z, t.x * n.y - t.y * n.x};
    const Vec3 l = UnitOrZero(light.direction ? light.v : Sub(light.v, p));
    v.u1 = v.u0 - Dot(t, l) * k;
    v.v1 = v.v0 - Dot(binormal, l) * k;
}

void MatFX_RenderBumpMap(const D3D8MeshInstance& r, uint32_t flags, Texture* base, const MatFXSlot& bumpSlot,
                         const MatFXSlot* envSlot, const Matrix* objectToWorld)
{
    Texture* bumped = bumpSlot.bump.bumpedTexture;
    if (!bumped && !HasAlpha(base)) {
        MatFX_RenderPlain(r, flags, base, nullptr);
        return;
    }
    if (!r.vertexBuffer || r.numVertices == 0) return;
    IDirect3DVertexBuffer8* buffer = nullptr;
    uint8_t* data = nullptr;
    uint32_t first = 0;
    if (!D3D8_DynamicVertexBufferLock((uint32_t)sizeof(MatFXBumpVertex), r.numVertices, &buffer, &data, &first)) return;
    const bool built = MatFX_BuildBumpVertices(&r, r.material, objectToWorld, (MatFXBumpVertex*)data) != 0;
    D3D8_VertexBufferUnlock(buffer);
    if (!built) return;
    Texture* texture = bumped ? bumped : base;
    SetBlend(r);
    BindStage0(texture);
    D3D8_SetVertexShader(kBumpFormat);
    D3D8_SetStreamSource(0, buffer, (uint32_t)sizeof(MatFXBumpVertex));
    auto drawBump = [&] {
        if (r.indexBuffer) {
            D3D8_SetIndices(r.indexBuffer, first);
            D3D8_DrawIndexedPrimitive(r.primitiveType, 0, r.numVertices, 0, r.numIndices);
        } else {
            D3D8_DrawPrimitive(r.primitiveType, first, r.numVertices);
        }
    };
    const MatFXEnv* env = envSlot && envSlot->env.texture ? &envSlot->env : nullptr;
    bool envDrawn = false;
    if (!sDraw.shaders[SHADER_BUMP]) {
        const bool blendWas = D3D8_GetAlphaBlend() != 0;
        D3D8_SetAlphaBlend(1);
        const SavedState alphaTest = Override(D3DRS_ALPHATESTENABLE, 0);
        const SavedBlend blend = SetEngineBlend(kInvSrcAlpha, kZero);
        drawBump();
        D3D8_SetRenderState(D3DRS_ALPHATESTENABLE, 1);
        D3D8_SetSrcBlend(kSrcAlpha);
        D3D8_SetDestBlend(kOne);
        const SavedState zWrite = Override(D3DRS_ZWRITEENABLE, 0);
        Stage0(D3DTSS_TEXCOORDINDEX, 1);
        drawBump();
        Stage0(D3DTSS_TEXCOORDINDEX, 0);
        Restore(zWrite);
        RestoreEngineBlend(blend);
        Restore(alphaTest);
        D3D8_SetAlphaBlend(blendWas ? 1 : 0);
    } else {
        // One opaque pass: the shader's alpha is the frame-buffer alpha, not
        // a blend weight (a bumped texture on stage 0 would keep blending on).
        D3D8_SetAlphaBlend(0);
        const SavedState alphaTest = Override(D3DRS_ALPHATESTENABLE, 0);
        const SavedState blending = Override(D3DRS_ALPHABLENDENABLE, 0);
        // The shifted set samples as the first: same filter and addressing.
        D3D8_SetTexture(texture, 1);
        StageState(1, D3DTSS_TEXCOORDINDEX, 1);
        uint32_t shader = sDraw.shaders[SHADER_BUMP];
        if (env && CoefficientByte(env->coefficient) != 0 && sDraw.shaders[SHADER_BUMP_ENV]) {
            MatFX_SetupEnvMapStage(env->texture, 2, env->frame);
            SetCoefficientConstant(env->coefficient);
            shader = !env->useFrameBufferAlpha ? sDraw.shaders[SHADER_BUMP_ENV]
                     : HasAlpha(env->texture)  ? sDraw.shaders[SHADER_BUMP_ENV_FB_ALPHA_ENV]
                                               : sDraw.shaders[SHADER_BUMP_ENV_FB_OPAQUE_ENV];
            envDrawn = true;
        }
        D3D8_SetPixelShader(shader);
        drawBump();
        D3D8_SetPixelShader(0);
        CleanStage1();
        if (envDrawn) {
            ClearStage(2);
            StageState(2, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
            StageState(2, D3DTSS_TEXCOORDINDEX, 2);
        }
        Restore(blending);
        Restore(alphaTest);
    }
    if (env && !envDrawn) {
        // The environment pass draws the mesh's own vertices again: its
        // format, its buffer and its index base go back together.
        D3D8_SetVertexShader(r.vertexShader);
        D3D8_SetStreamSource(0, r.vertexBuffer, r.stride);
        if (r.indexBuffer) D3D8_SetIndices(r.indexBuffer, r.baseIndex);
        MatFX_RenderEnvMap(r, flags, 1, base, *env, nullptr);
    }
}

// ---- dual textures ----

bool MultiplyingPair(uint32_t src, uint32_t dst)
{
    return (src == kDestColour && dst == kZero) || (src == kZero && dst == kSrcColour) ||
           (src == kDestColour && dst == kSrcColour);
}

// The second stage of a base-textured single pass: the dual texture with
// op(arg1, CURRENT) on stage 1, and with three stages the base selected on
// stage 0 and the diffuse colour applied on stage 2.
void DualStages(Texture* base, const MatFXDual& dual, uint32_t op, uint32_t arg1, uint32_t arg0 = D3DTA_CURRENT)
{
    D3D8_SetTexture(dual.texture, 1);
    Combine(1, D3DTSS_COLOROP, op, arg1, op == D3DTOP_MULTIPLYADD ? D3DTA_DIFFUSE : D3DTA_CURRENT);
    if (op == D3DTOP_MULTIPLYADD) StageState(1, D3DTSS_COLORARG0, arg0);
    const bool threeStages = sDraw.blendStages >= 3 && op != D3DTOP_MULTIPLYADD;
    if (threeStages) {
        Stage0(D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        Stage0(D3DTSS_COLORARG1, D3DTA_TEXTURE);
        Combine(2, D3DTSS_COLOROP, D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_CURRENT);
        if (HasAlpha(base) && HasAlpha(dual.texture)) {
            for (uint32_t s = 1; s <= 2; s++) {
                StageState(s, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
                StageState(s, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
            }
        } else {
            StageState(2, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
            StageState(2, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
        }
    } else if (!HasAlpha(base)) {
        StageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    }
}

// Sets up the single pass for the slot's pair; false when the pair has
// no single-pass form on this device (nothing is left set up then).
bool SetUpDualSinglePass(Texture* base, const MatFXDual& dual)
{
    const uint32_t src = dual.srcBlend, dst = dual.dstBlend;
    const bool multiply = (src == kDestColour && dst == kZero) || (src == kZero && dst == kSrcColour);
    if (!base) {
        if (multiply || (src == kDestColour && dst == kSrcColour && sDraw.modulate2x)) {
            BindStage0(dual.texture);
            if (!multiply) Stage0(D3DTSS_COLOROP, D3DTOP_MODULATE2X);
            Stage0(D3DTSS_ALPHAOP, D3DTOP_DISABLE);
            return true;
        }
        if (src == kSrcAlpha && dst == kInvSrcAlpha) {
            BindStage0(dual.texture);
            D3D8_SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFFFFFFu);
            Combine(0, D3DTSS_COLOROP, D3DTOP_BLENDTEXTUREALPHA, D3DTA_TEXTURE, D3DTA_TFACTOR);
            Stage0(D3DTSS_ALPHAOP, D3DTOP_DISABLE);
            Combine(1, D3DTSS_COLOROP, D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_CURRENT);
            return true;
        }
        if (src == kOne && dst == kOne) {
            BindStage0(dual.texture);
            Combine(1, D3DTSS_COLOROP, D3DTOP_ADD, D3DTA_DIFFUSE, D3DTA_CURRENT);
            Stage0(D3DTSS_ALPHAOP, D3DTOP_DISABLE);
            return true;
        }
        if (src == kZero && dst == kSrcAlpha) {
            BindStage0(dual.texture);
            Combine(0, D3DTSS_COLOROP, D3DTOP_MODULATE, D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE, D3DTA_DIFFUSE);
            Stage0(D3DTSS_ALPHAOP, D3DTOP_DISABLE);
            return true;
        }
        return false;
    }
    if (multiply) {
        DualStages(base, dual, D3DTOP_MODULATE, D3DTA_TEXTURE);
        return true;
    }
    if (src == kSrcAlpha && dst == kInvSrcAlpha) {
        if (sDraw.blendStages < 3) return false;
        D3D8_SetTexture(dual.texture, 1);
        Stage0(D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        Stage0(D3DTSS_COLORARG1, D3DTA_TEXTURE);
        Combine(1, D3DTSS_COLOROP, D3DTOP_BLENDTEXTUREALPHA, D3DTA_TEXTURE, D3DTA_CURRENT);
        Combine(2, D3DTSS_COLOROP, D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_CURRENT);
        if (HasAlpha(dual.texture)) {
            Stage0(D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
            Stage0(D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
            Combine(1, D3DTSS_ALPHAOP, D3DTOP_BLENDTEXTUREALPHA, D3DTA_TEXTURE, D3DTA_CURRENT);
            Combine(2, D3DTSS_ALPHAOP, D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_CURRENT);
        }
        return true;
    }
    if (src == kDestColour && dst == kSrcColour) {
        if (!sDraw.modulate2x) return false;
        DualStages(base, dual, D3DTOP_MODULATE2X, D3DTA_TEXTURE);
        if (sDraw.modulate2xDual == NOT_TRIED) {
            uint32_t passes = 0;
            sDraw.modulate2xDual = D3D8_ValidateDevice(&passes) && passes == 1 ? PASSED : FAILED;
            // A device that cannot do it loses the capability for good.
            if (sDraw.modulate2xDual == FAILED) sDraw.modulate2x = false;
        }
        return sDraw.modulate2x;
    }
    if (src == kOne && dst == kOne) {
        if (!sDraw.multiplyAdd) return false;
        DualStages(base, dual, D3DTOP_MULTIPLYADD, D3DTA_TEXTURE);
        return true;
    }
    if (src == kZero && dst == kSrcAlpha) {
        DualStages(base, dual, D3DTOP_MODULATE, D3DTA_TEXTURE | D3DTA_ALPHAREPLICATE);
        return true;
    }
    return false;
}

void CleanDualStages(void)
{
    Combine(0, D3DTSS_COLOROP, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    ClearStage(1);
    StageState(2, D3DTSS_COLOROP, D3DTOP_DISABLE);
    StageState(2, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    StageState(1, D3DTSS_TEXCOORDINDEX, 1);
}

void MatFX_RenderDual(const D3D8MeshInstance& r, uint32_t flags, Texture* base, const MatFXDual& dual,
                      const MatFXSlot* uv)
{
    if (!dual.texture) {
        MatFX_RenderPlain(r, flags, base, uv);
        return;
    }
    const bool textured = (flags & (GEOMETRY_TEXTURED | GEOMETRY_TEXTURED2)) != 0;
    const bool twoSets = (flags & GEOMETRY_TEXTURED2) != 0;
    Texture* stage0 = textured ? base : nullptr;
    const Matrix* second = uv ? uv->uv.dualTransform : nullptr;
    bool transformed = false;
    SetBlend(r);
    D3D8_SetPixelShader(0);
    const bool singlePossible =
        sDraw.dualTexture && !(stage0 && stage0 != dual.texture && Palettised(stage0) && Palettised(dual.texture));
    BindStage0(stage0);
    if (uv) transformed |= SetCoordinateTransform(0, uv->uv.baseTransform);
    if (singlePossible && SetUpDualSinglePass(stage0, dual)) {
        const uint32_t dualStage = stage0 ? 1 : 0;
        if (dualStage == 1) {
            StageState(1, D3DTSS_TEXCOORDINDEX, twoSets ? 1 : 0);
            transformed |= SetCoordinateTransform(1, second);
        } else if (second && !(second->flags & MATRIX_IDENTITY)) {
            transformed |= SetCoordinateTransform(0, second);
            if (twoSets) Stage0(D3DTSS_TEXCOORDINDEX, 1);
        }
        Draw(r);
        CleanDualStages();
        Stage0(D3DTSS_TEXCOORDINDEX, 0);
    } else {
        CleanDualStages();
        BindStage0(stage0);
        Draw(r);
        BindStage0(dual.texture);
        StageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        transformed |= SetCoordinateTransform(0, second);
        D3D8_SetAlphaBlend(1);
        const bool multiplying = MultiplyingPair(dual.srcBlend, dual.dstBlend);
        SavedState alphaTest = {};
        if (multiplying) alphaTest = Override(D3DRS_ALPHATESTENABLE, 0);
        const SavedBlend blend = SetEngineBlend(dual.srcBlend, dual.dstBlend);
        const SavedState zWrite = Override(D3DRS_ZWRITEENABLE, 0);
        const bool fog = FogOn() && (dual.dstBlend == kOne || multiplying);
        SavedState fogColour = {};
        if (fog) fogColour = Override(D3DRS_FOGCOLOR, dual.dstBlend == kOne ? 0u : 0xFFFFFFFFu);
        if (twoSets) Stage0(D3DTSS_TEXCOORDINDEX, 1);
        Draw(r);
        if (fog) Restore(fogColour);
        Restore(zWrite);
        RestoreEngineBlend(blend);
        if (multiplying) Restore(alphaTest);
        Stage0(D3DTSS_TEXCOORDINDEX, 0);
        SetBlend(r);
    }
    if (transformed) {
        StageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        StageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    }
}

// ---- pipelines ----

Pipeline* MakePipeline(PipelineNodeDefinition* definition)
{
    Pipeline* p = Pipeline_Create();
    if (!p) return nullptr;
    p->pluginId = PLUGIN_MATFX;
    int32_t index = -1;
    PipelineNode* node = nullptr;
    if (Pipeline_BeginEdit(p) && Pipeline_AddNodeChain(p, nullptr, definition, (PipelineNodeDefinition*)nullptr) &&
        Pipeline_Compile(p))
        node = Pipeline_FindNodeByName(p, definition->name, nullptr, &index);
    if (!node) {
        Pipeline_Destroy(p);
        return nullptr;
    }
    D3D8_SetRenderCallback(node, MatFX_AtomicRenderCallback);
    return p;
}

int32_t ClippingInside(void* object, uint8_t type)
{
    const Camera* camera = (const Camera*)Engine_Instance()->currentCamera;
    if (!camera) return 0;
    if (type == D3D8_OBJECT_ATOMIC) {
        const Sphere* s = Atomic_GetWorldBoundingSphere((Atomic*)object);
        return D3D8_CameraIsSphereFullyInside(camera, &s->center.x, s->radius);
    }
    const WorldSector* sector = (const WorldSector*)object;
    return D3D8_CameraIsBoxFullyInside(camera, &sector->box.maximum.x, &sector->box.minimum.x);
}

}  // namespace

int32_t MatFX_OpenPipelines(void)
{
    MatFX_ClosePipelines();
    sDraw.atomicPipeline = MakePipeline(D3D8AtomicNode_GetDefinition());
    sDraw.sectorPipeline = MakePipeline(D3D8WorldSectorNode_GetDefinition());
    if (!sDraw.atomicPipeline || !sDraw.sectorPipeline) {
        MatFX_ClosePipelines();
        return 0;
    }
    const D3DCAPS8* caps = D3D8_GetCaps();
    sDraw.blendStages = caps->MaxTextureBlendStages;
    const bool stages = sDraw.blendStages >= 2;
    sDraw.dualTexture = stages && caps->MaxSimultaneousTextures >= 2;
    sDraw.multiplyAdd = stages && (caps->TextureOpCaps & kMultiplyAddCap);
    sDraw.modulate2x = stages && (caps->TextureOpCaps & kModulate2xCap);
    sDraw.envAdd = NOT_TRIED;
    sDraw.modulate2xDual = NOT_TRIED;
    sDraw.stage0Dirty = false;
    if ((caps->PixelShaderVersion & 0xFFFF) >= 0x100)
        for (uint32_t i = 0; i < MATFX_PIXEL_SHADER_COUNT; i++)
            D3D8_CreatePixelShader(kShaderTokens[i], &sDraw.shaders[i]);
    return 1;
}

int32_t MatFX_ClosePipelines(void)
{
    if (sDraw.atomicPipeline) Pipeline_Destroy(sDraw.atomicPipeline);
    if (sDraw.sectorPipeline) Pipeline_Destroy(sDraw.sectorPipeline);
    sDraw.atomicPipeline = sDraw.sectorPipeline = nullptr;
    for (uint32_t& shader : sDraw.shaders) {
        if (shader) D3D8_DeletePixelShader(shader);
        shader = 0;
    }
    if (sDraw.done) Engine_Free(sDraw.done);
    sDraw.done = nullptr;
    sDraw.doneCapacity = 0;
    return 1;
}

Pipeline* MatFX_GetAtomicPipeline(void) { return sDraw.atomicPipeline; }
Pipeline* MatFX_GetWorldSectorPipeline(void) { return sDraw.sectorPipeline; }

Atomic* MatFX_AtomicSetPipeline(Atomic* atomic)
{
    atomic->pipeline = sDraw.atomicPipeline;
    return atomic;
}

WorldSector* MatFX_SectorSetPipeline(WorldSector* sector)
{
    sector->pipeline = sDraw.sectorPipeline;
    return sector;
}

int32_t MatFX_SetupEnvMapStage(Texture* texture, uint32_t stage, Frame* frame)
{
    D3D8_SetTexture(texture, stage);
    const Matrix* camera = CameraWorld();
    if (texture && texture->raster && D3D8_RasterIsCubeMap(texture->raster)) {
        // Reflection vectors in camera space, taken to world space.
        Matrix m;
        if (camera) Matrix_Copy(&m, camera);
        else Matrix_SetIdentity(&m);
        m.right = Vec3{-m.right.x, -m.right.y, -m.right.z};
        m.pos = Vec3{0, 0, 0};
        const D3DMATRIX d = ToDevice(m, 1.0f);
        StageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3);
        StageState(stage, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
        D3D8_SetTransform(D3DTS_TEXTURE0 + stage, &d);
        return 1;
    }
    // Camera-space normals mapped to the texture by a half-scale matrix:
    // (0.5 nx + 0.5, -0.5 ny + 0.5).
    Matrix fixed;
    Matrix_SetIdentity(&fixed);
    fixed.right = Vec3{0.5f, 0, 0};
    fixed.up = Vec3{0, -0.5f, 0};
    fixed.at = Vec3{0, 0, 1};
    fixed.pos = Vec3{0.5f, 0.5f, 0};
    fixed.flags = 0;
    Matrix m = fixed;
    if (frame) {
        Matrix inverse, toFrame;
        Matrix_Invert(&inverse, Frame_GetWorldMatrix(frame));
        if (camera) Matrix_Multiply(&toFrame, &inverse, camera);
        else toFrame = inverse;
        toFrame.right = Vec3{-toFrame.right.x, -toFrame.right.y, -toFrame.right.z};
        toFrame.flags = 0;
        toFrame.pos = Vec3{0, 0, 0};
        Matrix_Multiply(&m, &toFrame, &fixed);
    }
    const D3DMATRIX d = ToDevice(m, 1.0f);
    StageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    StageState(stage, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    D3D8_SetTransform(D3DTS_TEXTURE0 + stage, &d);
    return 1;
}

int32_t MatFX_BuildBumpVertices(const D3D8MeshInstance* record, const Material* material, const Matrix* objectToWorld,
                                MatFXBumpVertex* out)
{
    HELM_ASSERT(record && out);
    const D3D8MeshInstance& r = *record;
    const MatFXMaterialData* data = material ? MatFX_GetMaterialData(material) : nullptr;
    const MatFXSlot* slot = nullptr;
    for (int i = 0; data && i < 2; i++)
        if (data->slots[i].kind == MATFX_SLOT_BUMP) slot = &data->slots[i];
    static const MatFXBump kNone = {};
    const MatFXBump& bump = slot ? slot->bump : kNone;
    const float k = bump.coefficient * bump.invBumpedWidth;
    const BumpLight light = LightFor(bump, objectToWorld);

    uint8_t* source = nullptr;
    if (!r.vertexBuffer || r.vertexBuffer->Lock(r.baseIndex * r.stride, r.numVertices * r.stride, &source, 0) < 0)
        return 0;
    const uint32_t fvf = r.vertexShader;
    const uint32_t normalAt = 12, colourAt = 12 + ((fvf & D3DFVF_NORMAL) ? 12 : 0);
    const uint32_t uvAt = colourAt + ((fvf & D3DFVF_DIFFUSE) ? 4 : 0);
    const bool hasUV = ((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT) > 0;
    for (uint32_t i = 0; i < r.numVertices; i++) {
        const uint8_t* v = source + (size_t)i * r.stride;
        MatFXBumpVertex& o = out[i];
        memcpy(&o.x, v, 12);
        if (fvf & D3DFVF_NORMAL) memcpy(&o.nx, v + normalAt, 12);
        else o.nx = o.ny = o.nz = 0;
        if (fvf & D3DFVF_DIFFUSE) memcpy(&o.colour, v + colourAt, 4);
        else o.colour = 0xFFFFFFFFu;
        if (hasUV) memcpy(&o.u0, v + uvAt, 8);
        else o.u0 = o.v0 = 0;
        o.u1 = o.u0, o.v1 = o.v0;
    }
    r.vertexBuffer->Unlock();

    // Each vertex is shifted once, from the first triangle that uses it.
    if (sDraw.doneCapacity < r.numVertices) {
        uint8_t* grown = (uint8_t*)Engine_Realloc(sDraw.done, r.numVertices);
        if (!grown) {
            Error_Raise(ERR_OUT_OF_MEMORY);
            return 0;
        }
        sDraw.done = grown;
        sDraw.doneCapacity = r.numVertices;
    }
    memset(sDraw.done, 0, r.numVertices);
    const uint16_t* indices = nullptr;
    uint8_t* locked = nullptr;
    if (r.indexBuffer) {
        if (r.indexBuffer->Lock(0, 0, &locked, 0) < 0) return 0;
        indices = (const uint16_t*)locked;
    }
    const uint32_t count = r.indexBuffer ? r.numIndices : r.numVertices;
    auto at = [&](uint32_t i) -> uint32_t { return indices ? indices[i] : i; };
    const bool strip = r.primitiveType == D3DPT_TRIANGLESTRIP;
    for (uint32_t i = 0; i + 2 < count; i += strip ? 1 : 3) {
        uint32_t t[3] = {at(i), at(i + 1), at(i + 2)};
        if (strip && (i & 1)) std::swap(t[0], t[1]);
        if (t[0] == t[1] || t[1] == t[2] || t[0] == t[2]) continue;
        if (t[0] >= r.numVertices || t[1] >= r.numVertices || t[2] >= r.numVertices) continue;
        for (int c = 0; c < 3; c++) {
            const uint32_t a = t[c];
            if (sDraw.done[a]) continue;
            sDraw.done[a] = 1;
            ShiftVertex(out, a, t[(c + 1) % 3], t[(c + 2) % 3], light, k);
        }
    }
    if (r.indexBuffer) r.indexBuffer->Unlock();
    return 1;
}

void MatFX_AtomicRenderCallback(ResourceArenaEntry* entry, void* object, uint8_t type, uint32_t flags)
{
    D3D8InstanceData* data = D3D8InstanceData_Get(entry);
    D3D8MeshInstance* records = D3D8InstanceData_Records(data);
    if (data->numMeshes == 0) return;
    const bool prelit = (flags & GEOMETRY_PRELIT) != 0;
    D3D8_SetRenderState(D3DRS_COLORVERTEX, prelit ? 1 : 0);
    D3D8_SetRenderState(D3DRS_EMISSIVEMATERIALSOURCE, prelit ? 1 : 0);
    D3D8_SetRenderState(D3DRS_CLIPPING, ClippingInside(object, type) ? 0 : 1);
    uint32_t lighting = 0;
    D3D8_GetRenderState(D3DRS_LIGHTING, &lighting);
    const Matrix* world = nullptr;
    if (type == D3D8_OBJECT_ATOMIC) {
        Frame* frame = Atomic_GetFrame((Atomic*)object);
        world = frame ? Frame_GetWorldMatrix(frame) : nullptr;
    }
    if (!lighting && !prelit) {
        // Drawn black: no texture, the texture factor's colour.
        BindStage0(nullptr);
        D3D8_SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF000000u);
        Stage0(D3DTSS_COLOROP, D3DTOP_SELECTARG2);
        Stage0(D3DTSS_COLORARG2, D3DTA_TFACTOR);
        for (uint32_t i = 0; i < data->numMeshes; i++) MatFX_RenderPlainUntextured(records[i]);
        Stage0(D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        RebindStage0();
        return;
    }
    static const uint8_t kWhite[4] = {255, 255, 255, 255};
    static const float kUnit[3] = {1.0f, 1.0f, 1.0f};
    for (uint32_t i = 0; i < data->numMeshes; i++) {
        const D3D8MeshInstance& r = records[i];
        Material* material = r.material;
        if (lighting)
            D3D8_SetMaterialFromColor(material ? material->colour : kWhite,
                                      material ? material->surfaceProperties : kUnit,
                                      (flags & GEOMETRY_MODULATE_MATERIAL_COLOR) ? 1 : 0);
        Texture* base = material ? material->texture : nullptr;
        const MatFXMaterialData* fx = material ? MatFX_GetMaterialData(material) : nullptr;
        switch (fx ? fx->effectType : MATFX_NONE) {
        case MATFX_BUMPMAP: MatFX_RenderBumpMap(r, flags, base, fx->slots[0], nullptr, world); break;
        case MATFX_ENVMAP: MatFX_RenderEnvMap(r, flags, 0, base, fx->slots[0].env, nullptr); break;
        case MATFX_BUMPENVMAP: MatFX_RenderBumpMap(r, flags, base, fx->slots[0], &fx->slots[1], world); break;
        case MATFX_DUAL: MatFX_RenderDual(r, flags, base, fx->slots[0].dual, nullptr); break;
        case MATFX_DUALUVTRANSFORM: MatFX_RenderDual(r, flags, base, fx->slots[1].dual, &fx->slots[0]); break;
        case MATFX_UVTRANSFORM: MatFX_RenderPlain(r, flags, base, &fx->slots[0]); break;
        default: MatFX_RenderPlain(r, flags, base, nullptr); break;
        }
    }
    RebindStage0();
}
