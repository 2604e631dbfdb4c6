#include "gfx/driver/d3d8/d3d8camera.h"

#include "gfx/core/camera.h"
#include "gfx/core/cpu.h"
#include "gfx/core/freelist.h"
#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/raster.h"
#include "gfx/driver/d3d8/d3d8cache.h"
#include "gfx/driver/d3d8/d3d8device.h"
#include "gfx/driver/d3d8/d3d8im2d.h"
#include "gfx/driver/d3d8/d3d8im3d.h"
#include "gfx/driver/d3d8/d3d8raster.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "platform/win32/window.h"

namespace {

// Set by the release procedure and cleared by a complete restore, so that a
// restore that failed half-way is tried again on the next scene.
uint32_t sResourcesReleased = 0;

// A clear the camera asked for while the device was still lost: the reset
// that brings the device back leaves buffers nobody cleared, so the camera's
// next begin update clears them. Each clear replaces it.
struct PendingClear {
    Camera* camera;
    uint32_t colour;
    int32_t flags;
};
PendingClear sPendingClear = {};

IDirect3DDevice8 *Device() { return D3D8_GetDevice(); }

void SetViewTransform(Camera *camera)
{
    Matrix inverse;
    Frame *frame = Camera_GetFrame(camera);
    if (frame)
        Matrix_Invert(&inverse, Frame_GetWorldMatrix(frame));
    else
        Matrix_SetIdentity(&inverse);
    // The engine's camera space has x to the left of Direct3D's: negate the
    // x column.
    D3DMATRIX view = {{{-inverse.right.x, inverse.right.y, inverse.right.z, 0},
                       {-inverse.up.x, inverse.up.y, inverse.up.z, 0},
                       {-inverse.at.x, inverse.at.y, inverse.at.z, 0},
                       {-inverse.pos.x, inverse.pos.y, inverse.pos.z, 1}}};
    D3D8_SetTransform(D3DTS_VIEW, &view);
}

void SetProjectionTransform(const Camera *camera)
{
    float rw = camera->recipViewWindow.x, rh = camera->recipViewWindow.y;
    float ox = camera->viewOffset.x, oy = camera->viewOffset.y;
    float n = camera->nearPlane, f = camera->farPlane;
    float q, s, t;
    if (camera->projection == CAMERA_PARALLEL) {
        q = 1.0f / (f - n);
        s = 0.0f;
        t = 1.0f;
    } else {
        q = f / (f - n);
        s = 1.0f;
        t = 0.0f;
    }
    D3DMATRIX projection = {{{rw, 0, 0, 0}, {0, rh, 0, 0}, {ox * rw, oy * rh, q, s}, {-ox * rw, -oy * rh, -q * n, t}}};
    D3D8_SetTransform(D3DTS_PROJECTION, &projection);
}

// 1 when drawing into the device window may go on this frame.
int32_t CheckDeviceWindow(void)
{
    Window *window = D3D8_GetWindow();
    WindowRect client;
    if (!window || !Window_GetClientRect(window, &client)) return 1;
    int32_t width = client.right - client.left, height = client.bottom - client.top;
    if (width <= 0 || height <= 0 || Window_IsIconic(window)) return 0;
    D3D8DeviceSystem *sys = D3D8_System();
    if ((uint32_t)width != sys->currentMode.width || (uint32_t)height != sys->currentMode.height)
        return D3D8_WindowResize((uint32_t)width, (uint32_t)height);
    return 1;
}

// The level-0 surface of a camera-texture raster's texture (one reference), or null.
IDirect3DSurface8 *CameraTextureSurface(Raster *raster)
{
    D3D8RasterExt *ext = D3D8_RasterExt(raster->parent ? raster->parent : raster);
    IDirect3DSurface8 *surface = nullptr;
    if (!ext || !ext->texture || ext->texture->GetSurfaceLevel(0, &surface) < 0) return nullptr;
    return surface;
}

IDirect3DSurface8 *ZSurfaceOf(const Camera *camera)
{
    Raster *z = camera->zBuffer;
    if (!z) return nullptr;
    D3D8RasterExt *ext = D3D8_RasterExt(z->parent ? z->parent : z);
    return ext ? ext->surface : nullptr;
}

// Makes a camera texture's surface the render target; 1 when it became one.
int32_t TargetCameraTexture(Camera *camera, IDirect3DSurface8 *surface)
{
    if (!surface) return 0;
    D3DSURFACE_DESC desc = {};
    if (surface->GetDesc(&desc) < 0 || !(desc.Usage & D3DUSAGE_RENDERTARGET)) return 0;
    return Device()->SetRenderTarget(surface, ZSurfaceOf(camera)) >= 0;
}

void SetViewport(const Raster *raster)
{
    D3DVIEWPORT8 viewport = {(uint32_t)(int32_t)raster->offsetX, (uint32_t)(int32_t)raster->offsetY,
                             (uint32_t)raster->width, (uint32_t)raster->height, 0.0f, 1.0f};
    Device()->SetViewport(&viewport);
}

void CopyBackBufferInto(const Raster *raster, IDirect3DSurface8 *surface)
{
    D3DRECT8 rect = {raster->offsetX, raster->offsetY, raster->offsetX + raster->width,
                     raster->offsetY + raster->height};
    Device()->CopyRects(D3D8_DeviceState()->backBuffer, &rect, 1, surface, nullptr);
}

void RestoreDefaultTarget(void)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    Device()->SetRenderTarget(st->backBuffer, st->depthSurface);
}

// The camera raster's extension when it draws into a window other than the
// device window, else null.
D3D8RasterExt *OtherWindowExt(Raster *raster)
{
    D3D8RasterExt *ext = D3D8_RasterExt(raster->parent ? raster->parent : raster);
    if (!ext || !ext->window || ext->window == D3D8_DeviceState()->window) return nullptr;
    return ext;
}

// Gives a Z raster a new depth surface of width x height in place.
int32_t ResizeZRaster(Raster *z, int32_t width, int32_t height)
{
    D3D8RasterExt *ext = D3D8_RasterExt(z);
    IDirect3DSurface8 *surface = nullptr;
    if (Device()->CreateDepthStencilSurface((uint32_t)width, (uint32_t)height, D3D8_DeviceState()->depthFormat, 0,
                                            &surface) < 0)
        return 0;
    if (ext->surface && ext->surface != D3D8_DeviceState()->depthSurface) ext->surface->Release();
    ext->surface = surface;
    z->width = z->savedWidth = width;
    z->height = z->savedHeight = height;
    return 1;
}

// Checks the second window and rebuilds what its size needs. 1 when drawing
// may go on.
int32_t CheckOtherWindow(Camera* camera, D3D8RasterExt* ext)
{
    Window *window = (Window *)ext->window;
    WindowRect client;
    if (!Window_GetClientRect(window, &client)) return 0;
    int32_t width = client.right - client.left, height = client.bottom - client.top;
    if (width <= 0 || height <= 0) return 0;
    Raster *raster = camera->frameBuffer;
    if (!ext->swapChain || width != raster->width || height != raster->height) {
        if (!D3D8_CreateWindowSwapChain(camera, window)) return 0;
    } else if (camera->zBuffer && (camera->zBuffer->width != width || camera->zBuffer->height != height)) {
        ResizeZRaster(camera->zBuffer, width, height);
    }
    return 1;
}

// The second window's checks, then its back buffer as the render target.
int32_t TargetOtherWindow(Camera* camera, D3D8RasterExt* ext)
{
    if (!CheckOtherWindow(camera, ext)) return 0;
    ext = OtherWindowExt(camera->frameBuffer);
    return Device()->SetRenderTarget(ext->surface, ZSurfaceOf(camera)) >= 0;
}

int32_t ResetDevice(void)
{
    return Device()->Reset(&D3D8_System()->presentParams) >= 0;
}

// The clear itself, on a device that can be drawn into (the windows checked).
int32_t ClearCamera(Camera* camera, uint32_t colour, int32_t flags)
{
    D3D8DeviceSystem* sys = D3D8_System();
    if (D3D8RasterExt* other = OtherWindowExt(camera->frameBuffer)) {
        if (!TargetOtherWindow(camera, other)) return 0;
        Raster* r = camera->frameBuffer;
        D3DVIEWPORT8 viewport = {0, 0, (uint32_t)r->width, (uint32_t)r->height, 0.0f, 1.0f};
        Device()->SetViewport(&viewport);
        Device()->Clear(0, nullptr, (uint32_t)flags & 7, colour, 1.0f, sys->stencilClearValue);
        RestoreDefaultTarget();
        return 1;
    }
    Raster* raster = camera->frameBuffer;
    if (raster->type == RASTERTYPECAMERATEXTURE) {
        IDirect3DSurface8* surface = CameraTextureSurface(raster);
        bool targeted = TargetCameraTexture(camera, surface);
        SetViewport(raster);
        uint32_t d3dFlags = (uint32_t)flags & 7;
        if (!camera->zBuffer) d3dFlags &= D3DCLEAR_TARGET;
        Device()->Clear(0, nullptr, d3dFlags, colour, 1.0f, sys->stencilClearValue);
        if (!targeted && surface) CopyBackBufferInto(raster, surface);
        RestoreDefaultTarget();
        if (surface) surface->Release();
        return 1;
    }
    SetViewport(raster);
    uint32_t d3dFlags = 0;
    if (flags & 1) d3dFlags |= D3DCLEAR_TARGET;
    if (flags & 2) d3dFlags |= D3DCLEAR_ZBUFFER;
    if ((flags & 6) && sys->hasStencil) d3dFlags |= D3DCLEAR_STENCIL;
    Device()->Clear(0, nullptr, d3dFlags, colour, 1.0f, sys->stencilClearValue);
    return 1;
}

}  // namespace

void D3D8_FetchDeviceSurfaces(void)
{
    D3D8DeviceState *st = D3D8_DeviceState();
    st->backBuffer = nullptr;
    st->depthSurface = nullptr;
    if (!st->device) return;
    if (st->device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &st->backBuffer) >= 0) st->backBuffer->Release();
    if (st->device->GetDepthStencilSurface(&st->depthSurface) >= 0) st->depthSurface->Release();
}

void D3D8_ReleaseDeviceResources(void)
{
    IDirect3DDevice8 *device = Device();
    if (!device) return;
    D3D8_ForgetDeviceCalls();
    for (uint32_t stage = 0; stage < 8; stage++) device->SetTexture(stage, nullptr);
    device->SetStreamSource(0, nullptr, 0);
    device->SetIndices(nullptr, 0);
    D3D8_Im2DClose();
    D3D8_Im3DClose();
    D3D8_ReleasePixelShaders();
    D3D8_ReleaseRotatingVertexBuffers();
    if (D3D8_HasHardwareTnL()) D3D8_ReleaseDynamicVertexBuffers();
    D3D8_ReleaseDeviceRasters();
    FreeList_PurgeAll();
    sResourcesReleased = 1;
}

int32_t D3D8_RestoreDeviceResources(void)
{
    if (!Device()) return 0;
    D3D8_FetchDeviceSurfaces();
    if (!D3D8_RestoreDeviceRasters()) return 0;
    if (D3D8_HasHardwareTnL() && !D3D8_RecreateDynamicVertexBuffers()) return 0;
    if (!D3D8_RecreatePixelShaders()) return 0;
    D3D8_RenderStateReset();
    D3D8_ResendLights();
    if (!D3D8_Im2DOpen()) return 0;
    if (!D3D8_Im3DOpen()) return 0;
    if (!D3D8_CreateRotatingVertexBuffers()) return 0;
    sResourcesReleased = 0;
    return 1;
}

int32_t D3D8_WindowResize(uint32_t width, uint32_t height)
{
    D3D8DeviceSystem *sys = D3D8_System();
    D3DPRESENT_PARAMETERS &pp = sys->presentParams;
    // A second camera of the frame may find the window resized: a device
    // cannot be reset inside a scene, so the scene ends here and the caller
    // begins it again.
    if (sys->inScene) {
        Device()->EndScene();
        sys->inScene = 0;
    }
    D3D8_ReleaseDeviceResources();
    // Windowed, the back buffer takes the client size whatever the device's
    // state: a reset that succeeds while it is still lost must not leave the
    // old back buffer behind a current mode of the new size, which no later
    // frame would notice.
    if (pp.Windowed) {
        pp.BackBufferWidth = width;
        pp.BackBufferHeight = height;
    }
    if (ResetDevice()) {
        if (D3D8_RestoreDeviceResources()) {
            sys->currentMode.width = width;
            sys->currentMode.height = height;
            D3D8_DeviceState()->windowWidth = (int32_t)width;
            D3D8_DeviceState()->windowHeight = (int32_t)height;
            return 1;
        }
        D3D8_ReleaseDeviceResources();
    }
    if (!pp.Windowed) return 0;
    // The device cannot take the new size: go back to the old one and put
    // the window back around it.
    pp.BackBufferWidth = sys->currentMode.width;
    pp.BackBufferHeight = sys->currentMode.height;
    if (!ResetDevice()) return 0;
    Window *window = D3D8_GetWindow();
    uint32_t style = Window_GetStyle(window);
    if (style & WINDOW_STYLE_MAXIMIZE) {
        style &= ~WINDOW_STYLE_MAXIMIZE;
        Window_SetStyle(window, style);
    }
    WindowRect outer = {0, 0, (int32_t)sys->currentMode.width, (int32_t)sys->currentMode.height};
    Window_AdjustRect(&outer, style, Window_HasMenu(window), Window_GetExStyle(window));
    Window_SetOuterSize(window, outer.right - outer.left, outer.bottom - outer.top);
    D3D8_RestoreDeviceResources();
    return 1;
}

int32_t D3D8_RecoverDevice(void)
{
    D3D8DeviceSystem *sys = D3D8_System();
    IDirect3DDevice8 *device = Device();
    if (!device) return 0;
    if (sys->inScene) return 1;
    D3DRESULT state = device->TestCooperativeLevel();
    if (state == D3DERR_DEVICENOTRESET) {
        D3D8_ReleaseDeviceResources();
        D3DRESULT reset = device->Reset(&sys->presentParams);
        if (reset == D3DERR_INVALIDCALL && sys->presentParams.Windowed) {
            // The desktop format may have changed under a windowed device.
            D3D8DeviceState *st = D3D8_DeviceState();
            D3DDISPLAYMODE desktop = {};
            if (st->d3d->GetAdapterDisplayMode(st->adapter, &desktop) >= 0) {
                int32_t depth = 0;
                D3D8_FormatDepthAndCode(desktop.Format, &depth, nullptr);
                sys->currentMode.format = desktop.Format;
                sys->currentModeDepth = (uint32_t)depth;
                st->displayFormat = desktop.Format;
                st->displayDepth = depth;
                // Rebuilt for the new format, so that the depth-stencil
                // format still matches the back buffer.
                D3D8_SetPresentParameters(&sys->currentMode, &desktop);
            }
            reset = device->Reset(&sys->presentParams);
        }
        // Restoring onto a device that is still lost would only create
        // resources that fail or leak: stay released and try next frame.
        if (reset < 0) return 0;
        state = D3D_OK;
    }
    if (state < 0) return 0;
    if (sResourcesReleased && !D3D8_RestoreDeviceResources()) {
        D3D8_ReleaseDeviceResources();
        return 0;
    }
    return 1;
}

int32_t D3D8_BeginScene(void)
{
    D3D8DeviceSystem* sys = D3D8_System();
    if (!Device()) return 0;
    if (sys->inScene) return 1;
    if (!D3D8_RecoverDevice() || Device()->BeginScene() < 0) return 0;
    sys->inScene = 1;
    return 1;
}

int32_t D3D8_CameraBeginUpdate(void *, void *cameraPtr, int32_t)
{
    Camera *camera = (Camera *)cameraPtr;
    D3D8DeviceSystem *sys = D3D8_System();
    if (!camera || !Device()) return 0;
    Math_FpuReapplySinglePrecision();
    sys->currentCamera = camera;
    Raster *raster = camera->frameBuffer;
    if (!raster) return 0;
    // The window checks and the scene come first: a resize or a lost device
    // resets the device there, which brings transforms, viewport and render
    // target back to the device's defaults. What this camera sets follows,
    // so the frame of the reset draws as every other frame does.
    D3D8RasterExt* other = OtherWindowExt(raster);
    const PendingClear pending = sPendingClear;
    if (pending.camera == camera) sPendingClear = {};
    if (other ? !CheckOtherWindow(camera, other) : !CheckDeviceWindow()) return 0;
    if (!D3D8_BeginScene()) return 0;
    if (pending.camera == camera) ClearCamera(camera, pending.colour, pending.flags);
    SetViewTransform(camera);
    SetProjectionTransform(camera);
    raster = camera->frameBuffer;  // an other window's raster may have been rebuilt
    if (other) {
        if (Device()->SetRenderTarget(OtherWindowExt(raster)->surface, ZSurfaceOf(camera)) < 0) return 0;
    } else if (raster->type == RASTERTYPECAMERATEXTURE) {
        IDirect3DSurface8 *surface = CameraTextureSurface(raster);
        sys->copyToTexture = TargetCameraTexture(camera, surface) ? 0 : 1;
        if (surface) surface->Release();
    }
    SetViewport(raster);
    return 1;
}

int32_t D3D8_CameraEndUpdate(void *, void *cameraPtr, int32_t)
{
    D3D8DeviceSystem *sys = D3D8_System();
    Camera *camera = cameraPtr ? (Camera *)cameraPtr : sys->currentCamera;
    Raster *raster = camera ? camera->frameBuffer : nullptr;
    if (Device() && raster && OtherWindowExt(raster)) {
        RestoreDefaultTarget();
        sys->currentCamera = nullptr;
        return 1;
    }
    if (!Device() || !raster || raster->type != RASTERTYPECAMERATEXTURE) {
        sys->currentCamera = nullptr;
        return 1;
    }
    if (sys->copyToTexture) {
        IDirect3DSurface8 *surface = CameraTextureSurface(raster);
        if (surface) {
            CopyBackBufferInto(raster, surface);
            surface->Release();
        }
        sys->copyToTexture = 0;
    }
    RestoreDefaultTarget();
    sys->currentCamera = nullptr;
    return 1;
}

int32_t D3D8_CameraClear(void *cameraPtr, void *colourPtr, int32_t flags)
{
    Camera* camera = (Camera*)cameraPtr;
    if (!camera || !camera->frameBuffer || !Device()) return 0;
    sPendingClear = {};
    uint32_t colour = 0;
    if ((flags & 1) && colourPtr) {
        const uint8_t *rgba = (const uint8_t *)colourPtr;
        colour = ((uint32_t)rgba[3] << 24) | ((uint32_t)rgba[0] << 16) | ((uint32_t)rgba[1] << 8) | rgba[2];
    }
    // A lost device is reset before the clear, not by the begin update that
    // follows it: a reset leaves buffers that were never cleared, and a
    // clear sent to the lost device is lost with it. A device still lost
    // keeps the clear for the begin update that resets it.
    if (!OtherWindowExt(camera->frameBuffer) && !CheckDeviceWindow()) return 0;
    if (!D3D8_RecoverDevice()) {
        sPendingClear = {camera, colour, flags};
        return 1;
    }
    return ClearCamera(camera, colour, flags);
}

int32_t D3D8_CreateWindowSwapChain(Camera *camera, Window *window)
{
    D3D8DeviceSystem *sys = D3D8_System();
    if (!camera || !window || !Device() || !sys->presentParams.Windowed || (void *)window == D3D8_GetWindow())
        return 0;
    D3DPRESENT_PARAMETERS pp = sys->presentParams;
    pp.BackBufferWidth = 0;
    pp.BackBufferHeight = 0;
    pp.hDeviceWindow = window;
    pp.EnableAutoDepthStencil = 0;
    IDirect3DSwapChain8 *chain = nullptr;
    if (Device()->CreateAdditionalSwapChain(&pp, &chain) < 0) return 0;
    IDirect3DSurface8 *surface = nullptr;
    D3DSURFACE_DESC desc = {};
    if (chain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &surface) < 0 || surface->GetDesc(&desc) < 0) {
        if (surface) surface->Release();
        chain->Release();
        return 0;
    }
    const int32_t width = (int32_t)desc.Width, height = (int32_t)desc.Height;
    Raster *raster = camera->frameBuffer;
    D3D8RasterExt *ext = raster ? OtherWindowExt(raster) : nullptr;
    if (ext && ext->window == (void *)window) {
        // Rebuilt in place: the raster records stay where their owners hold them.
        if (ext->swapChain) ext->swapChain->Release();
        raster->width = raster->savedWidth = width;
        raster->height = raster->savedHeight = height;
    } else {
        raster = Raster_Create(width, height, 0, RASTERTYPECAMERA | RASTERDONTALLOCATE);
        if (!raster) {
            surface->Release();
            chain->Release();
            return 0;
        }
        ext = D3D8_RasterExt(raster);
        ext->window = window;
        Camera_SetRaster(camera, raster);
    }
    ext->swapChain = chain;
    ext->surface = surface;
    if (camera->zBuffer) {
        if (camera->zBuffer->width != width || camera->zBuffer->height != height)
            ResizeZRaster(camera->zBuffer, width, height);
    } else {
        Camera_SetZRaster(camera, Raster_Create(width, height, 0, RASTERTYPEZBUFFER));
    }
    surface->Release();  // the swap chain keeps its back buffer alive
    return 1;
}
