// Direct3D 8 raster drawing: clearing the current context raster, drawing
// one raster into it (a textured quad into camera and camera-texture
// contexts, a surface copy between textures of one format, nothing else),
// and showing a camera raster, which resets the device when the caller asks
// for another vertical-retrace wait or the device was lost.
#include "gfx/driver/d3d8/d3d8rasterdraw.h"

#include "gfx/core/error.h"
#include "gfx/core/raster.h"
#include "gfx/driver/d3d8/d3d8camera.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/driver/d3d8/d3d8im2d.h"
#include "gfx/driver/d3d8/d3d8pixel.h"
#include "gfx/driver/d3d8/d3d8raster.h"
#include "gfx/driver/d3d8/d3d8rasterseam.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"

namespace {

D3D8DeviceState& Dev() { return *D3D8_DeviceState(); }

void CombinationError() { D3D8_RaiseMessage("SRC, DST Raster render combination not supported"); }

// The level-0 colour surface behind a raster (one reference, the caller's).
IDirect3DSurface8* ColourSurface(const Raster* raster)
{
    const Raster* top = raster->parent;
    const D3D8RasterExt* ext = D3D8_RasterExt(top);
    IDirect3DSurface8* surface = nullptr;
    if (top->type == RASTERTYPECAMERA) {
        if (ext->swapChain) ext->swapChain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &surface);
        else if (Dev().device) Dev().device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &surface);
    } else if (D3D8_RasterIsTextureType(top->type) && ext->texture) {
        ext->texture->GetSurfaceLevel(0, &surface);
    }
    return surface;
}

int32_t Render(Raster* source, const RasterRect* area, bool scaled, bool blend)
{
    Raster* context = D3D8_GetCurrentContext();
    if (!context || !source) {
        CombinationError();
        return 0;
    }
    if (context->type == RASTERTYPECAMERA || context->type == RASTERTYPECAMERATEXTURE) {
        if (source->type == RASTERTYPEZBUFFER || source->type == RASTERTYPECAMERA) {
            CombinationError();
            return 0;
        }
        return D3D8_RasterRenderQuad(source, area, scaled ? 1 : 0, blend ? 1 : 0);
    }
    const bool sourceOk = source->type == RASTERTYPENORMAL || source->type == RASTERTYPECAMERA ||
                          source->type == RASTERTYPETEXTURE || source->type == RASTERTYPECAMERATEXTURE;
    const bool unscaled = !scaled || (area->w == source->width && area->h == source->height);
    if (!D3D8_RasterIsTextureType(context->type) || context->type == RASTERTYPECAMERATEXTURE || !sourceOk ||
        !unscaled || source->format != context->format) {
        CombinationError();
        return 0;
    }
    IDirect3DSurface8 *from = ColourSurface(source), *to = ColourSurface(context);
    const D3DRECT8 rect = {source->offsetX, source->offsetY, source->offsetX + source->width,
                           source->offsetY + source->height};
    const D3DPOINT8 point = {context->offsetX + area->x, context->offsetY + area->y};
    const bool copied = from && to && Dev().device->CopyRects(from, &rect, 1, to, &point) >= 0;
    if (from) from->Release();
    if (to) to->Release();
    if (!copied) CombinationError();
    return copied ? 1 : 0;
}

int32_t ClearArea(const RasterRect* area, uint32_t value)
{
    Raster* context = D3D8_GetCurrentContext();
    if (!context) {
        Error_Raise(D3D8_ERR_FORMAT);
        return 0;
    }
    RasterRect r = area ? *area : RasterRect{0, 0, context->width, context->height};
    // Clip to the context raster.
    if (r.x < 0) r.w += r.x, r.x = 0;
    if (r.y < 0) r.h += r.y, r.y = 0;
    if (r.x + r.w > context->width) r.w = context->width - r.x;
    if (r.y + r.h > context->height) r.h = context->height - r.y;
    if (r.w <= 0 || r.h <= 0) return 1;
    const D3DRECT8 rect = {context->offsetX + r.x, context->offsetY + r.y, context->offsetX + r.x + r.w,
                           context->offsetY + r.y + r.h};
    IDirect3DDevice8* device = Dev().device;
    switch (context->type) {
    case RASTERTYPECAMERA:
    case RASTERTYPECAMERATEXTURE: {
        uint8_t rgba[4];
        if (!D3D8_PixelToColour(rgba, value, Raster_GetFormat(context))) return 0;
        uint32_t colour = 0;
        D3D8_ColourToPixel(&colour, rgba, RASTERFORMAT8888);
        IDirect3DSurface8 *oldTarget = nullptr, *oldDepth = nullptr, *target = nullptr;
        if (context->type == RASTERTYPECAMERATEXTURE) {
            target = ColourSurface(context);
            device->GetRenderTarget(&oldTarget);
            device->GetDepthStencilSurface(&oldDepth);
            if (!target || device->SetRenderTarget(target, nullptr) < 0) {
                for (IDirect3DSurface8* s : {target, oldTarget, oldDepth})
                    if (s) s->Release();
                Error_Raise(D3D8_ERR_LOCKED);
                return 0;
            }
        }
        const bool cleared = device->Clear(1, &rect, D3DCLEAR_TARGET, colour, 1.0f, 0) >= 0;
        if (target) {
            device->SetRenderTarget(oldTarget, oldDepth);
            for (IDirect3DSurface8* s : {target, oldTarget, oldDepth})
                if (s) s->Release();
        }
        return cleared ? 1 : 0;
    }
    case RASTERTYPEZBUFFER: return device->Clear(1, &rect, D3DCLEAR_ZBUFFER, 0, 1.0f, 0) >= 0 ? 1 : 0;
    case RASTERTYPENORMAL:
    case RASTERTYPETEXTURE: {
        uint8_t* pixels = Raster_Lock(context, 0, RASTERLOCKWRITE);
        if (!pixels) return 0;
        const int32_t bytes = context->depth / 8;
        for (int32_t y = r.y; y < r.y + r.h; y++)
            for (int32_t x = r.x; x < r.x + r.w; x++)
                for (int32_t b = 0; b < bytes; b++)
                    pixels[(size_t)y * context->stride + (size_t)x * bytes + b] = (uint8_t)(value >> (8 * b));
        Raster_Unlock(context);
        return 1;
    }
    default: Error_Raise(D3D8_ERR_FORMAT); return 0;
    }
}

}  // namespace

int32_t D3D8_RasterClearRect(void*, void* rect, int32_t value)
{
    return ClearArea((const RasterRect*)rect, (uint32_t)value);
}
int32_t D3D8_RasterClear(void*, void*, int32_t value) { return ClearArea(nullptr, (uint32_t)value); }

int32_t D3D8_RasterRender(void* raster, void* point, int32_t)
{
    const RasterPoint* p = (const RasterPoint*)point;
    const RasterRect area = {p->x, p->y, ((Raster*)raster)->width, ((Raster*)raster)->height};
    return Render((Raster*)raster, &area, false, true);
}

int32_t D3D8_RasterRenderScaled(void* raster, void* rect, int32_t)
{
    return Render((Raster*)raster, (const RasterRect*)rect, true, true);
}

int32_t D3D8_RasterRenderFast(void* raster, void* point, int32_t)
{
    const RasterPoint* p = (const RasterPoint*)point;
    const RasterRect area = {p->x, p->y, ((Raster*)raster)->width, ((Raster*)raster)->height};
    return Render((Raster*)raster, &area, false, false);
}

namespace {

// The device's vertical-retrace wait as its presentation parameters hold it.
bool WaitsForRetrace(const D3DPRESENT_PARAMETERS& params)
{
    return params.Windowed ? params.SwapEffect == D3DSWAPEFFECT_COPY_VSYNC
                           : params.FullScreen_PresentationInterval == D3DPRESENT_INTERVAL_ONE;
}

// The device reset of the device system: release what does not survive it,
// reset, and rebuild.
bool ResetDevice()
{
    IDirect3DDevice8* device = Dev().device;
    D3D8_ReleaseDeviceResources();
    if (device->Reset(&D3D8_System()->presentParams) < 0) return false;
    D3D8_FetchDeviceSurfaces();
    return D3D8_RestoreDeviceResources() != 0;
}

}  // namespace

int32_t D3D8_RasterShow(void* raster, void*, int32_t flags)
{
    IDirect3DDevice8* device = Dev().device;
    if (!device) return 0;
    D3D8DeviceSystem* sys = D3D8_System();
    if (sys->inScene) {
        device->EndScene();
        sys->inScene = 0;
    }
    const bool wait = flags & 1;
    D3DPRESENT_PARAMETERS& params = sys->presentParams;
    if (wait != WaitsForRetrace(params)) {
        if (params.Windowed) params.SwapEffect = wait ? D3DSWAPEFFECT_COPY_VSYNC : D3DSWAPEFFECT_COPY;
        else params.FullScreen_PresentationInterval = wait ? D3DPRESENT_INTERVAL_ONE : D3DPRESENT_INTERVAL_IMMEDIATE;
        if (!ResetDevice()) return 0;
    }
    const D3D8RasterExt* ext = raster ? D3D8_RasterExt(((Raster*)raster)->parent) : nullptr;
    const D3DRESULT result = ext && ext->swapChain ? ext->swapChain->Present(nullptr, nullptr, nullptr, nullptr)
                                                   : device->Present(nullptr, nullptr, nullptr, nullptr);
    if (result < 0 && device->TestCooperativeLevel() == D3DERR_DEVICENOTRESET) ResetDevice();
    return result >= 0 ? 1 : 0;
}

// The textured quad: one raster drawn into a camera or camera-texture
// context through the 2D immediate mode.
int32_t D3D8_RasterRenderQuad(Raster* source, const RasterRect* area, int32_t scaled, int32_t blend)
{
    Raster* context = D3D8_GetCurrentContext();
    IDirect3DDevice8* device = Dev().device;
    if (!context || !device) {
        CombinationError();
        return 0;
    }
    // 1. A camera texture is drawn into directly when its surface is a
    // render target, else through the back buffer and copied back.
    IDirect3DSurface8 *surface = nullptr, *oldTarget = nullptr, *oldDepth = nullptr;
    bool viaBackBuffer = false;
    if (context->type == RASTERTYPECAMERATEXTURE) {
        surface = ColourSurface(context);
        device->GetRenderTarget(&oldTarget);
        device->GetDepthStencilSurface(&oldDepth);
        D3DSURFACE_DESC desc;
        if (surface && surface != oldTarget) {
            if (surface->GetDesc(&desc) >= 0 && (desc.Usage & D3DUSAGE_RENDERTARGET))
                device->SetRenderTarget(surface, nullptr);
            else viaBackBuffer = true;
        }
    }
    // 2. The viewport is the context's rectangle; a scene is open.
    const D3DVIEWPORT8 viewport = {(uint32_t)context->offsetX,
                                   (uint32_t)context->offsetY,
                                   (uint32_t)context->width,
                                   (uint32_t)context->height,
                                   0.0f,
                                   1.0f};
    device->SetViewport(&viewport);
    D3D8_BeginScene();
    // 3. Four screen vertices; texture coordinates cover the source's
    // rectangle of its top-level raster.
    const Raster* top = source->parent;
    const float x = (float)area->x, y = (float)area->y;
    const float w = (float)(scaled ? area->w : source->width), h = (float)(scaled ? area->h : source->height);
    const float u0 = (float)source->offsetX / (float)top->width, v0 = (float)source->offsetY / (float)top->height;
    const float u1 = (float)(source->offsetX + source->width) / (float)top->width;
    const float v1 = (float)(source->offsetY + source->height) / (float)top->height;
    struct Vertex {
        float x, y, z, rhw;
        uint32_t colour;
        float u, v;
    };
    Vertex quad[4] = {{x, y, 0, 1, 0xffffffffu, u0, v0},
                      {x, y + h, 0, 1, 0xffffffffu, u0, v1},
                      {x + w, y, 0, 1, 0xffffffffu, u1, v0},
                      {x + w, y + h, 0, 1, 0xffffffffu, u1, v1}};
    // 4. Save what the draw changes. The stage-0 colour operation and its
    // argument are kept too, so later draws are not left showing only the
    // texture.
    const int32_t saved[] = {RS_SRCBLEND,      RS_DESTBLEND,       RS_VERTEXALPHAENABLE, RS_FOGENABLE,
                             RS_TEXTUREFILTER, RS_TEXTUREADDRESSU, RS_TEXTUREADDRESSV};
    uint32_t values[7];
    for (int i = 0; i < 7; i++) D3D8_EngineRenderStateGet(saved[i], &values[i]);
    Raster* savedRaster = nullptr;
    D3D8_EngineRenderStateGet(RS_TEXTURERASTER, &savedRaster);
    uint32_t zEnable = 0, cull = 0, colourOp = 0, colourArg = 0;
    D3D8_GetRenderState(D3DRS_ZENABLE, &zEnable);
    D3D8_GetRenderState(D3DRS_CULLMODE, &cull);
    D3D8_GetTextureStageState(0, D3DTSS_COLOROP, &colourOp);
    D3D8_GetTextureStageState(0, D3DTSS_COLORARG1, &colourArg);
    D3D8_SetStageRaster(source->parent, 0);
    D3D8_SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    D3D8_SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    const bool blends = blend && D3D8_RasterExt(top)->alpha;
    D3D8_SetAlphaBlend(blends ? 1 : 0);
    if (blends) {
        D3D8_SetSrcBlend(5);
        D3D8_SetDestBlend(6);
    }
    D3D8_SetFogEnable(0);
    D3D8_SetTextureFilter(scaled ? 2 : 1);
    D3D8_SetTextureAddressU(3);
    D3D8_SetTextureAddressV(3);
    D3D8_SetRenderState(D3DRS_ZENABLE, 0);
    D3D8_SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    // 5. Draw the strip and put everything back.
    const int32_t drawn = D3D8_Im2DRenderPrimitive(4, quad, 4);
    for (int i = 0; i < 7; i++) D3D8_EngineRenderStateSet(saved[i], (void*)(uintptr_t)values[i]);
    D3D8_SetStageRaster(savedRaster, 0);
    D3D8_SetRenderState(D3DRS_ZENABLE, zEnable);
    D3D8_SetRenderState(D3DRS_CULLMODE, cull);
    D3D8_SetTextureStageState(0, D3DTSS_COLOROP, colourOp);
    D3D8_SetTextureStageState(0, D3DTSS_COLORARG1, colourArg);
    // 6. Finish a camera texture.
    if (surface) {
        if (viaBackBuffer) {
            IDirect3DSurface8* back = nullptr;
            const D3DRECT8 rect = {context->offsetX, context->offsetY, context->offsetX + context->width,
                                   context->offsetY + context->height};
            if (device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back) >= 0) {
                device->CopyRects(back, &rect, 1, surface, nullptr);
                back->Release();
            }
        } else {
            device->SetRenderTarget(oldTarget, oldDepth);
        }
    }
    for (IDirect3DSurface8* s : {surface, oldTarget, oldDepth})
        if (s) s->Release();
    return drawn ? 1 : 0;
}
