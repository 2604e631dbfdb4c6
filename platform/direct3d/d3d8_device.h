// The device of the Direct3D 8 stand-in: resources, targets, scene, states
// and draws. Draws are validated here and drawn by the rasteriser
// (d3d8_draw.h); presentation goes through d3d8_present.h.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/direct3d/d3d8_resource.h"
#include "platform/direct3d/d3d8_types.h"

struct D3D8DeviceImpl;

struct IDirect3DDevice8 : D3D8Unknown {
  // ---- device health and presentation ----
  // D3D_OK, D3DERR_DEVICELOST (skip the frame) or D3DERR_DEVICENOTRESET (Reset).
  D3DRESULT TestCooperativeLevel();
  uint32_t GetAvailableTextureMem();
  D3DRESULT ResourceManagerDiscardBytes(uint32_t bytes);
  D3DRESULT GetDeviceCaps(D3DCAPS8* caps);
  D3DRESULT GetDisplayMode(D3DDISPLAYMODE* mode);
  // Fails with D3DERR_INVALIDCALL while any default-pool resource (render
  // target texture, default-pool buffer, depth surface, swap chain) or pixel
  // shader is alive.
  // On success: new back buffer and depth surface (the old ones die), every
  // render and stage state at its default, no bindings, lights or palette.
  D3DRESULT Reset(D3DPRESENT_PARAMETERS* params);
  // Shows the whole back buffer in `overrideWindow` or the device window (the
  // rectangles and dirty region are not used) and captures it when asked.
  // D3DERR_DEVICELOST while the device is lost or waiting for a reset.
  D3DRESULT Present(const D3DRECT8* source, const D3DRECT8* dest, void* overrideWindow,
                    const void* dirtyRegion);
  D3DRESULT GetBackBuffer(uint32_t index, uint32_t type, IDirect3DSurface8** surface);
  D3DRESULT CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* params, IDirect3DSwapChain8** chain);

  // ---- resources ----
  // levels 0 = the full chain down to 1 x 1. RENDERTARGET textures need the
  // default pool and a render-target format.
  D3DRESULT CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                          uint32_t format, uint32_t pool, IDirect3DTexture8** texture);
  D3DRESULT CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool,
                               IDirect3DVertexBuffer8** buffer);
  D3DRESULT CreateIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool,
                              IDirect3DIndexBuffer8** buffer);
  D3DRESULT CreateDepthStencilSurface(uint32_t width, uint32_t height, uint32_t format,
                                      uint32_t multiSample, IDirect3DSurface8** surface);
  D3DRESULT CreateImageSurface(uint32_t width, uint32_t height, uint32_t format,
                               IDirect3DSurface8** surface);
  // Copies rectangles (null = the whole source) between surfaces of equal
  // format without scaling; points null = the same coordinates.
  D3DRESULT CopyRects(IDirect3DSurface8* source, const D3DRECT8* rects, uint32_t count,
                      IDirect3DSurface8* dest, const D3DPOINT8* points);

  // ---- targets and scene ----
  // Null render target keeps the current one; the viewport becomes the whole target.
  D3DRESULT SetRenderTarget(IDirect3DSurface8* target, IDirect3DSurface8* depth);
  D3DRESULT GetRenderTarget(IDirect3DSurface8** surface);
  D3DRESULT GetDepthStencilSurface(IDirect3DSurface8** surface);
  D3DRESULT BeginScene();
  D3DRESULT EndScene();
  // Clears the viewport (count 0) or the given rectangles clipped to it. Z
  // and stencil clear apart, each keeping the other; the stencil flag is
  // ignored on a depth surface without stencil bits.
  D3DRESULT Clear(uint32_t count, const D3DRECT8* rects, uint32_t flags, uint32_t color, float z,
                  uint32_t stencil);

  // ---- fixed-function state ----
  D3DRESULT SetTransform(uint32_t type, const D3DMATRIX* matrix);
  D3DRESULT GetTransform(uint32_t type, D3DMATRIX* matrix);
  D3DRESULT SetViewport(const D3DVIEWPORT8* viewport);
  D3DRESULT GetViewport(D3DVIEWPORT8* viewport);
  D3DRESULT SetMaterial(const D3DMATERIAL8* material);
  D3DRESULT GetMaterial(D3DMATERIAL8* material);
  D3DRESULT SetLight(uint32_t index, const D3DLIGHT8* light);
  D3DRESULT GetLight(uint32_t index, D3DLIGHT8* light);
  // Enabling an index never set gives it the default light (white, directional, +z).
  D3DRESULT LightEnable(uint32_t index, int32_t enable);
  D3DRESULT GetLightEnable(uint32_t index, int32_t* enable);
  D3DRESULT SetRenderState(uint32_t state, uint32_t value);
  D3DRESULT GetRenderState(uint32_t state, uint32_t* value);
  D3DRESULT SetTextureStageState(uint32_t stage, uint32_t type, uint32_t value);
  D3DRESULT GetTextureStageState(uint32_t stage, uint32_t type, uint32_t* value);
  D3DRESULT SetTexture(uint32_t stage, IDirect3DBaseTexture8* texture);
  D3DRESULT GetTexture(uint32_t stage, IDirect3DBaseTexture8** texture);
  // Answers whether the current stage set-up draws in one pass on this device.
  D3DRESULT ValidateDevice(uint32_t* passes);
  D3DRESULT SetPaletteEntries(uint32_t number, const PALETTEENTRY* entries);
  D3DRESULT GetPaletteEntries(uint32_t number, PALETTEENTRY* entries);
  D3DRESULT SetCurrentTexturePalette(uint32_t number);
  D3DRESULT GetCurrentTexturePalette(uint32_t* number);

  // ---- vertex input and draws ----
  // FVF codes only: no vertex shaders exist on this device.
  D3DRESULT SetVertexShader(uint32_t fvf);
  D3DRESULT GetVertexShader(uint32_t* fvf);
  D3DRESULT SetStreamSource(uint32_t stream, IDirect3DVertexBuffer8* buffer, uint32_t stride);
  D3DRESULT SetIndices(IDirect3DIndexBuffer8* buffer, uint32_t baseVertexIndex);
  // Draws need a scene; the vertices and indices they read must lie inside
  // the bound buffers, or the draw is refused with D3DERR_INVALIDCALL.
  D3DRESULT DrawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount);
  D3DRESULT DrawIndexedPrimitive(uint32_t type, uint32_t minIndex, uint32_t numVertices,
                                 uint32_t startIndex, uint32_t primitiveCount);
  // User-pointer draws leave stream 0 and the indices unset afterwards.
  D3DRESULT DrawPrimitiveUP(uint32_t type, uint32_t primitiveCount, const void* vertices,
                            uint32_t stride);
  D3DRESULT DrawIndexedPrimitiveUP(uint32_t type, uint32_t minIndex, uint32_t numVertices,
                                   uint32_t primitiveCount, const void* indices,
                                   uint32_t indexFormat, const void* vertices, uint32_t stride);

  // ---- pixel shaders ----
  // By default this device has none: creation answers D3DERR_NOTAVAILABLE
  // and only shader 0 can be set. Under D3D8Answers::pixelShaders a 1.0 or
  // 1.1 function that passes the check of rasteriser_pshader.h (read up to
  // its end token) gets a new non-zero handle (handles are never reused);
  // any other function is refused with D3DERR_INVALIDCALL. A bound shader
  // replaces the texture stages' operations in draws (the stages still
  // sample for its tex instructions); constants c0..c7 are device state,
  // taken by each draw as they are then. Shaders do not survive a reset:
  // Reset fails with D3DERR_INVALIDCALL while any exists, so a driver must
  // delete them first.
  D3DRESULT CreatePixelShader(const uint32_t* function, uint32_t* handle);
  D3DRESULT DeletePixelShader(uint32_t handle);  // deleting the bound shader unbinds it
  D3DRESULT SetPixelShader(uint32_t handle);
  // count registers of four floats from c<reg> on; refused past c7.
  D3DRESULT SetPixelShaderConstant(uint32_t reg, const void* data, uint32_t count);

  std::unique_ptr<D3D8DeviceImpl> impl;
  IDirect3DDevice8();
  ~IDirect3DDevice8() override;
  void Destroy() override;
};

