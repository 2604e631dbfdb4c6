// Resources of the Direct3D 8 stand-in: the reference-counted base, surfaces,
// textures with mip chains, vertex and index buffers, swap chains.
// Reference rules are described in d3d8.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/direct3d/d3d8_draw.h"
#include "platform/direct3d/d3d8_types.h"

struct IDirect3DDevice8;

// Common base: a reference count and an id that recordings print ("#id").
struct D3D8Unknown {
  uint32_t AddRef();
  // Drops one reference; the object is destroyed when none is left and no
  // container holds it. Returns the references left.
  uint32_t Release();

  uint32_t refs = 1;
  uint32_t id = 0;      // unique per process, for recordings
  bool held = false;    // a container (device, swap chain) keeps it alive at zero references
  // Texture levels share their texture's count, as in COM: a reference to a
  // level keeps the whole texture alive. Null for everything else.
  D3D8Unknown* container = nullptr;
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
  // Rasteriser batches (Rasteriser_Batch) of the last draw or clear that
  // read or wrote the resource, and for a texture the last that drew into
  // one of its levels; while those are pending, reading or changing the
  // resource flushes first (D3D8_FinishUse).
  uint64_t usedBatch = 0;
  uint64_t drawnBatch = 0;
  ~D3D8Resource() override;
  void Attach(IDirect3DDevice8* owner, uint32_t resourcePool, uint32_t resourceUsage);
};

struct IDirect3DSurface8 : D3D8Resource {
  ~IDirect3DSurface8() override;
  D3DRESULT GetDesc(D3DSURFACE_DESC* desc);
  // Maps the surface (or `rect` of it; null = whole) for reading and writing.
  // A surface can be locked once at a time; DXT rectangles must sit on blocks.
  D3DRESULT LockRect(D3DLOCKED_RECT* locked, const D3DRECT8* rect, uint32_t flags);
  D3DRESULT UnlockRect();

  D3D8DrawSurface surface{};      // format, size, pitch, pixels (into `storage`)
  // Tightly packed pixels from the first 64-byte boundary in it, so that
  // the rows of two screen tiles (shaded by two threads) never share a
  // cache line; `bytes` long.
  std::vector<uint8_t> storage;
  size_t bytes = 0;
  bool locked = false;
  uint32_t lockFlags = 0;         // of the current lock
};

struct IDirect3DBaseTexture8 : D3D8Resource {
  uint32_t GetLevelCount();
  D3D8DrawTexture chain{};  // what the rasteriser samples
  std::vector<IDirect3DSurface8*> levels;  // owned; their references count on the texture
  // The sampler's tiled copy of each level (chain.tiled points here); empty
  // for formats and usages kept only as rows.
  std::vector<std::vector<uint32_t>> tiled;
  ~IDirect3DBaseTexture8() override;
};

struct IDirect3DTexture8 : IDirect3DBaseTexture8 {
  D3DRESULT GetLevelDesc(uint32_t level, D3DSURFACE_DESC* desc);
  // The level's surface with one added reference, which is a reference to
  // the texture: the level lives exactly as long as the texture.
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
  // Shows the whole back buffer in `overrideWindow` or the chain's window, as
  // the device's Present does.
  D3DRESULT Present(const D3DRECT8* source, const D3DRECT8* dest, void* overrideWindow,
                    const void* dirtyRegion);
  D3DRESULT GetBackBuffer(uint32_t index, uint32_t type, IDirect3DSurface8** surface);
  IDirect3DSurface8* backBuffer = nullptr;  // held
  void* window = nullptr;
  ~IDirect3DSwapChain8() override;
};

