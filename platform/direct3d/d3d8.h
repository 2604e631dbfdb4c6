// The Direct3D 8 stand-in: the object (adapter, modes, formats, caps, device
// creation), the device and its resources, as the graphics driver calls them.
// Everything draws in software (d3d8_draw.h is the seam to the rasteriser)
// and presents into an SDL window or nowhere (d3d8_present.h).
//
// Reference counting works as the driver expects of Direct3D 8:
//   - Create* and Get* hand out one reference; Release drops it; AddRef adds.
//   - Surfaces owned by a container (the device's back buffer and automatic
//     depth surface, a swap chain's back buffer, a texture's levels) stay
//     alive while the container holds them, even at zero references: the
//     driver releases what GetBackBuffer / GetDepthStencilSurface /
//     GetSurfaceLevel return at once and keeps the pointer. The device's own
//     surfaces live until the next Reset or the device's release.
//   - The device holds references on what is bound to it (render target,
//     depth surface, textures, stream, indices) until unbound.
//   - A released device unbinds everything, and its memory lives until the
//     last of its resources is released.
// Results: >= 0 success (D3D_OK), < 0 a D3DERR_* code. A failed call leaves
// its out-pointers null and the device as it was.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/direct3d/d3d8_draw.h"
#include "platform/direct3d/d3d8_types.h"

struct IDirect3DDevice8;
struct D3D8DeviceImpl;

// The capability answers an object gives. The defaults are the simplest
// correct path for the driver; tests choose others through d3d8_test.h.
struct D3D8Answers {
  uint32_t displayFormat = D3DFMT_X8R8G8B8;  // or D3DFMT_R5G6B5 (the 16-bit test display)
  uint32_t desktopWidth = 640, desktopHeight = 480;  // windowed desktop mode
  bool pow2 = false;                // textures must have power-of-two sides
  bool nonPow2Conditional = false;  // ... except single-level ones
  bool squareOnly = false;
  bool palettes = false;            // P8 textures, alpha palettes, a current palette
  bool dxt = false;                 // DXT1-5 textures (stored as blocks)
  uint32_t blendStages = 1;         // MaxTextureBlendStages = MaxSimultaneousTextures
  bool multiplyAdd = false, modulate2x = false;  // texture op caps
  bool hardwareTnL = false;         // DevCaps hardware transform and lighting (+ pure device)
  uint32_t maxTextureSize = 4096;
  uint32_t textureMemory = 64u << 20;  // GetAvailableTextureMem
};

// Common base: a reference count and an id that recordings print ("#id").
struct D3D8Unknown {
  uint32_t AddRef();
  // Drops one reference; the object is destroyed when none is left and no
  // container holds it. Returns the references left.
  uint32_t Release();

  uint32_t refs = 1;
  uint32_t id = 0;      // unique per process, for recordings
  bool held = false;    // a container (device, texture, swap chain) keeps it alive
  virtual ~D3D8Unknown() = default;
  // Called when the last reference goes and no container holds the object.
  virtual void Destroy() { delete this; }
  D3D8Unknown();
  D3D8Unknown(const D3D8Unknown&) = delete;
  D3D8Unknown& operator=(const D3D8Unknown&) = delete;
};

// A resource created by a device: counts towards the device's live resources
// (default-pool ones block Reset).
struct D3D8Resource : D3D8Unknown {
  IDirect3DDevice8* device = nullptr;
  uint32_t pool = D3DPOOL_MANAGED;
  uint32_t usage = 0;
  ~D3D8Resource() override;
  void Attach(IDirect3DDevice8* owner, uint32_t resourcePool, uint32_t resourceUsage);
};

struct IDirect3DSurface8 : D3D8Resource {
  D3DRESULT GetDesc(D3DSURFACE_DESC* desc);
  // Maps the surface (or `rect` of it; null = whole) for reading and writing.
  // A surface can be locked once at a time; DXT rectangles must sit on blocks.
  D3DRESULT LockRect(D3DLOCKED_RECT* locked, const D3DRECT8* rect, uint32_t flags);
  D3DRESULT UnlockRect();

  D3D8DrawSurface surface{};      // format, size, pitch, pixels (into `storage`)
  std::vector<uint8_t> storage;   // tightly packed pixels
  bool locked = false;
};

struct IDirect3DBaseTexture8 : D3D8Resource {
  uint32_t GetLevelCount();
  D3D8DrawTexture chain{};  // what the rasteriser samples
  std::vector<IDirect3DSurface8*> levels;  // held by the texture
  ~IDirect3DBaseTexture8() override;
};

struct IDirect3DTexture8 : IDirect3DBaseTexture8 {
  D3DRESULT GetLevelDesc(uint32_t level, D3DSURFACE_DESC* desc);
  // The level's surface with one added reference (stays valid while the
  // texture lives, whatever its own count).
  D3DRESULT GetSurfaceLevel(uint32_t level, IDirect3DSurface8** surface);
  D3DRESULT LockRect(uint32_t level, D3DLOCKED_RECT* locked, const D3DRECT8* rect, uint32_t flags);
  D3DRESULT UnlockRect(uint32_t level);
};

// Vertex and index buffers: every lock is a plain map of the buffer's memory,
// readable whatever the usage or flags say (WRITEONLY buffers are read back by
// the driver). Offset + size must lie inside the buffer; size 0 maps from
// offset to the end.
struct D3D8Buffer : D3D8Resource {
  D3DRESULT Lock(uint32_t offset, uint32_t size, uint8_t** data, uint32_t flags);
  D3DRESULT Unlock();
  std::vector<uint8_t> bytes;
  int lockCount = 0;
};

struct IDirect3DVertexBuffer8 : D3D8Buffer {
  uint32_t fvf = 0;
};

struct IDirect3DIndexBuffer8 : D3D8Buffer {
  uint32_t format = D3DFMT_INDEX16;
};

struct IDirect3DSwapChain8 : D3D8Resource {
  // Shows the swap chain's back buffer in its window (all arguments must be null).
  D3DRESULT Present(const D3DRECT8* source, const D3DRECT8* dest, void* overrideWindow,
                    const void* dirtyRegion);
  D3DRESULT GetBackBuffer(uint32_t index, uint32_t type, IDirect3DSurface8** surface);
  IDirect3DSurface8* backBuffer = nullptr;  // held
  void* window = nullptr;
  ~IDirect3DSwapChain8() override;
};

struct IDirect3D8;

struct IDirect3DDevice8 : D3D8Unknown {
  // ---- device health and presentation ----
  // D3D_OK, D3DERR_DEVICELOST (skip the frame) or D3DERR_DEVICENOTRESET (Reset).
  D3DRESULT TestCooperativeLevel();
  uint32_t GetAvailableTextureMem();
  D3DRESULT ResourceManagerDiscardBytes(uint32_t bytes);
  D3DRESULT GetDeviceCaps(D3DCAPS8* caps);
  D3DRESULT GetDisplayMode(D3DDISPLAYMODE* mode);
  // Fails with D3DERR_INVALIDCALL while any default-pool resource (render
  // target texture, default-pool buffer, depth surface, swap chain) is alive.
  // On success: new back buffer and depth surface (the old ones die), every
  // render and stage state at its default, no bindings, lights or palette.
  D3DRESULT Reset(D3DPRESENT_PARAMETERS* params);
  // Shows the back buffer (all arguments must be null) and captures it when asked.
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
  // Clears the viewport (count 0) or the given rectangles clipped to it.
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

  // ---- pixel shaders: this device has none ----
  D3DRESULT CreatePixelShader(const uint32_t* function, uint32_t* handle);  // D3DERR_NOTAVAILABLE
  D3DRESULT DeletePixelShader(uint32_t handle);
  D3DRESULT SetPixelShader(uint32_t handle);  // only 0 succeeds
  D3DRESULT SetPixelShaderConstant(uint32_t reg, const void* data, uint32_t count);

  std::unique_ptr<D3D8DeviceImpl> impl;
  IDirect3DDevice8();
  ~IDirect3DDevice8() override;
  void Destroy() override;
};

// The Direct3D object: one adapter with its modes, format checks and caps.
struct IDirect3D8 : D3D8Unknown {
  uint32_t GetAdapterCount();
  D3DRESULT GetAdapterIdentifier(uint32_t adapter, uint32_t flags, D3DADAPTER_IDENTIFIER8* id);
  // Full-screen modes, 4:3 from 640 x 480 to 1280 x 960 in the display format.
  uint32_t GetAdapterModeCount(uint32_t adapter);
  D3DRESULT EnumAdapterModes(uint32_t adapter, uint32_t mode, D3DDISPLAYMODE* out);
  // The desktop: the display format at the window's (configured) size.
  D3DRESULT GetAdapterDisplayMode(uint32_t adapter, D3DDISPLAYMODE* mode);
  D3DRESULT CheckDeviceFormat(uint32_t adapter, uint32_t deviceType, uint32_t adapterFormat,
                              uint32_t usage, uint32_t resourceType, uint32_t format);
  D3DRESULT CheckDepthStencilMatch(uint32_t adapter, uint32_t deviceType, uint32_t adapterFormat,
                                   uint32_t renderTargetFormat, uint32_t depthFormat);
  D3DRESULT GetDeviceCaps(uint32_t adapter, uint32_t deviceType, D3DCAPS8* caps);
  // focusWindow and params->hDeviceWindow are the window owner's handles
  // (d3d8_present.h resolves them); null draws offscreen. The device gets
  // its own copy of what it needs; params is updated with the sizes chosen.
  D3DRESULT CreateDevice(uint32_t adapter, uint32_t deviceType, void* focusWindow,
                         uint32_t behaviorFlags, D3DPRESENT_PARAMETERS* params,
                         IDirect3DDevice8** device);
  D3D8Answers answers;  // fixed at creation from D3D8Test_SetAnswers
  D3DCAPS8 caps{};      // derived from the answers
};

// Creates the object; null when sdkVersion is not D3D_SDK_VERSION (220).
IDirect3D8* Direct3DCreate8(uint32_t sdkVersion);
