// Resources of the Direct3D 8 stand-in: reference counting, surfaces,
// textures with their mip chains, vertex and index buffers, swap chains.

#include "platform/direct3d/d3d8_resource.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/direct3d/d3d8_internal.h"
#include "platform/direct3d/d3d8_present.h"
#include "platform/direct3d/d3d8_test.h"
#include "platform/direct3d/rasteriser.h"
#include "platform/direct3d/rasteriser_format.h"

namespace {

constexpr uint32_t kMaxSurfaceSide = D3D8_MAX_SURFACE_SIDE;

uint32_t g_nextId = 1;

}  // namespace

const char* D3D8Name(const D3D8Unknown* object) {
  static char names[8][16];
  static int next = 0;
  if (!object) return "null";
  char* name = names[next];
  next = (next + 1) % 8;
  snprintf(name, sizeof names[0], "#%u", object->id);
  return name;
}

// ---- reference counting --------------------------------------------------------

D3D8Unknown::D3D8Unknown() : id(g_nextId++) {}

uint32_t D3D8Unknown::AddRef() {
  if (container) return container->AddRef();
  D3D8_LOG("AddRef(#%u) = %u", id, refs + 1);
  return ++refs;
}

uint32_t D3D8Unknown::Release() {
  if (container) return container->Release();
  // An over-release is a caller bug; keep the object rather than free it twice.
  if (refs == 0) return 0;
  uint32_t left = --refs;
  D3D8_LOG("Release(#%u) = %u", id, left);
  if (left == 0 && !held) Destroy();
  return left;
}

void D3D8Resource::Attach(IDirect3DDevice8* owner, uint32_t resourcePool, uint32_t resourceUsage) {
  pool = resourcePool;
  usage = resourceUsage;
  device = owner;
  if (device) D3D8Device_ResourceBorn(device, pool);
}

D3D8Resource::~D3D8Resource() {
  if (device) D3D8Device_ResourceDied(device, pool);
}

// ---- deferred drawing -------------------------------------------------------------

namespace {

// The batch of the resource's latest use (a texture is stamped drawn
// through its levels, without a use of its own).
uint64_t LatestUse(const D3D8Resource* r) { return r ? std::max(r->usedBatch, r->drawnBatch) : 0; }

}  // namespace

void D3D8_FinishUse(const D3D8Resource* resource) {
  if (!resource) return;
  Rasteriser_Finish(LatestUse(resource));
  Rasteriser_Finish(LatestUse(static_cast<const D3D8Resource*>(resource->container)));
}

void D3D8_MarkUse(D3D8Resource* resource, bool drawn) {
  if (!resource) return;
  const uint64_t batch = Rasteriser_Batch();
  resource->usedBatch = batch;
  if (!drawn) return;
  resource->drawnBatch = batch;
  // A level drawn into marks its texture, which a later draw may sample.
  if (resource->container) static_cast<D3D8Resource*>(resource->container)->drawnBatch = batch;
}

void D3D8Surface_Changed(IDirect3DSurface8* surface) {
  auto* texture = static_cast<IDirect3DBaseTexture8*>(surface ? surface->container : nullptr);
  if (!texture || texture->tiled.empty()) return;
  for (size_t i = 0; i < texture->levels.size(); ++i)
    if (texture->levels[i] == surface) RasteriserFormat_Tile(&surface->surface, texture->tiled[i].data());
}

// ---- surfaces ---------------------------------------------------------------------

int D3D8Surface_Pitch(uint32_t format, uint32_t width) {
  if (width == 0 || width > kMaxSurfaceSide) return 0;
  if (D3D8Format_IsBlock(format)) return (int)((width + 3) / 4) * D3D8Format_BlockBytes(format);
  return (int)width * RasteriserFormat_BytesPerPixel(format);
}

uint64_t D3D8Surface_Bytes(uint32_t format, uint32_t width, uint32_t height) {
  if (height == 0 || height > kMaxSurfaceSide) return 0;
  uint64_t rows = D3D8Format_IsBlock(format) ? (height + 3) / 4 : height;
  return (uint64_t)D3D8Surface_Pitch(format, width) * rows;
}

IDirect3DSurface8* D3D8Surface_New(IDirect3DDevice8* device, uint32_t width, uint32_t height,
                                   uint32_t format, uint32_t usage, uint32_t pool) {
  uint64_t bytes = D3D8Surface_Bytes(format, width, height);
  if (bytes == 0) return nullptr;
  IDirect3DSurface8* s = new (std::nothrow) IDirect3DSurface8;
  if (!s) return nullptr;
  try {
    s->storage.assign((size_t)bytes + 63, 0);
  } catch (...) {
    delete s;
    return nullptr;
  }
  s->surface.format = format;
  s->surface.width = (int)width;
  s->surface.height = (int)height;
  s->surface.pitch = D3D8Surface_Pitch(format, width);
  const uintptr_t at = reinterpret_cast<uintptr_t>(s->storage.data());
  s->surface.pixels = s->storage.data() + ((64 - at % 64) % 64);
  s->bytes = (size_t)bytes;
  s->Attach(device, pool, usage);
  return s;
}

// Draws not yet shaded may still write or read the surface (or, for a
// texture level, the texture).
IDirect3DSurface8::~IDirect3DSurface8() { D3D8_FinishUse(this); }

void D3D8Surface_Drop(IDirect3DSurface8* surface) {
  if (!surface) return;
  surface->held = false;
  if (surface->refs == 0) delete surface;
}

D3DRESULT IDirect3DSurface8::GetDesc(D3DSURFACE_DESC* desc) {
  D3D8_LOG("Surface::GetDesc(#%u)", id);
  if (!desc) return D3DERR_INVALIDCALL;
  desc->Format = surface.format;
  desc->Type = D3DRTYPE_SURFACE;
  desc->Usage = usage;
  desc->Pool = pool;
  desc->Size = (uint32_t)bytes;
  desc->MultiSampleType = 0;
  desc->Width = (uint32_t)surface.width;
  desc->Height = (uint32_t)surface.height;
  return D3D_OK;
}

D3DRESULT IDirect3DSurface8::LockRect(D3DLOCKED_RECT* out, const D3DRECT8* rect, uint32_t flags) {
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (out) {
    out->pBits = nullptr;
    out->Pitch = 0;
  }
  int32_t left = 0, top = 0;
  if (!out || locked) {
    // refused below
  } else if ((r = D3D8Test_Fault(D3D8_FAULT_LOCK)) < 0) {
    // scripted failure
  } else {
    // The lock sees (and may change) every draw made so far.
    D3D8_FinishUse(this);
    r = D3DERR_INVALIDCALL;
    bool ok = true;
    if (rect) {
      ok = rect->left >= 0 && rect->top >= 0 && rect->left < rect->right && rect->top < rect->bottom &&
           rect->right <= surface.width && rect->bottom <= surface.height;
      // Block formats lock whole blocks only.
      if (ok && D3D8Format_IsBlock(surface.format))
        ok = rect->left % 4 == 0 && rect->top % 4 == 0 &&
             (rect->right % 4 == 0 || rect->right == surface.width) &&
             (rect->bottom % 4 == 0 || rect->bottom == surface.height);
      if (ok) {
        left = rect->left;
        top = rect->top;
      }
    }
    if (ok) {
      size_t offset;
      if (D3D8Format_IsBlock(surface.format))
        offset = (size_t)(top / 4) * surface.pitch + (size_t)(left / 4) * D3D8Format_BlockBytes(surface.format);
      else
        offset = (size_t)top * surface.pitch + (size_t)left * RasteriserFormat_BytesPerPixel(surface.format);
      out->pBits = surface.pixels + offset;
      out->Pitch = surface.pitch;
      locked = true;
      lockFlags = flags;
      r = D3D_OK;
    }
  }
  D3D8_LOG("Surface::LockRect(#%u, %d, %d, 0x%x) = 0x%x", id, left, top, flags, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DSurface8::UnlockRect() {
  D3DRESULT r = locked ? D3D_OK : D3DERR_INVALIDCALL;
  if (locked && !(lockFlags & D3DLOCK_READONLY)) D3D8Surface_Changed(this);
  locked = false;
  D3D8_LOG("Surface::UnlockRect(#%u) = 0x%x", id, (uint32_t)r);
  return r;
}

// ---- textures ---------------------------------------------------------------------

IDirect3DBaseTexture8::~IDirect3DBaseTexture8() {
  // The first level's destructor flushes when draws not yet shaded sample
  // the texture (or draw into a level), before anything of it is freed.
  for (IDirect3DSurface8* level : levels) delete level;
}

uint32_t IDirect3DBaseTexture8::GetLevelCount() {
  D3D8_LOG("Texture::GetLevelCount(#%u) = %zu", id, levels.size());
  return (uint32_t)levels.size();
}

D3DRESULT IDirect3DTexture8::GetLevelDesc(uint32_t level, D3DSURFACE_DESC* desc) {
  D3D8_LOG("Texture::GetLevelDesc(#%u, %u)", id, level);
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->GetDesc(desc);
}

D3DRESULT IDirect3DTexture8::GetSurfaceLevel(uint32_t level, IDirect3DSurface8** surface) {
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (surface) {
    *surface = nullptr;
    if (level < levels.size()) {
      *surface = levels[level];
      levels[level]->AddRef();
      r = D3D_OK;
    }
  }
  D3D8_LOG("Texture::GetSurfaceLevel(#%u, %u) = 0x%x %s", id, level, (uint32_t)r,
               D3D8Name(surface ? *surface : nullptr));
  return r;
}

D3DRESULT IDirect3DTexture8::LockRect(uint32_t level, D3DLOCKED_RECT* locked, const D3DRECT8* rect,
                                      uint32_t flags) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->LockRect(locked, rect, flags);
}

D3DRESULT IDirect3DTexture8::UnlockRect(uint32_t level) {
  if (level >= levels.size()) return D3DERR_INVALIDCALL;
  return levels[level]->UnlockRect();
}

// ---- buffers ------------------------------------------------------------------------

D3DRESULT D3D8Buffer::Lock(uint32_t offset, uint32_t size, uint8_t** data, uint32_t flags) {
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (data) *data = nullptr;
  uint64_t end = (uint64_t)offset + (size ? size : (uint64_t)bytes.size() - offset);
  if (data && offset <= bytes.size() && end <= bytes.size()) {
    r = D3D8Test_Fault(D3D8_FAULT_LOCK);
    if (r >= 0) {
      *data = bytes.data() + offset;
      ++lockCount;
    }
  }
  D3D8_LOG("Buffer::Lock(#%u, %u, %u, 0x%x) = 0x%x", id, offset, size, flags, (uint32_t)r);
  return r;
}

D3DRESULT D3D8Buffer::Unlock() {
  D3DRESULT r = lockCount > 0 ? D3D_OK : D3DERR_INVALIDCALL;
  if (lockCount > 0) --lockCount;
  D3D8_LOG("Buffer::Unlock(#%u) = 0x%x", id, (uint32_t)r);
  return r;
}

// ---- swap chains ------------------------------------------------------------------------

IDirect3DSwapChain8::~IDirect3DSwapChain8() { D3D8Surface_Drop(backBuffer); }

D3DRESULT IDirect3DSwapChain8::Present(const D3DRECT8* source, const D3DRECT8* dest, void* overrideWindow,
                                       const void* dirtyRegion) {
  (void)source, (void)dest, (void)dirtyRegion;
  D3DRESULT r;
  if (device && D3D8Device_IsLost(device)) {
    r = D3DERR_DEVICELOST;
  } else if ((r = D3D8Test_Fault(D3D8_FAULT_PRESENT)) >= 0) {
    D3D8_FinishUse(backBuffer);
    r = D3D8Present_Show(overrideWindow ? overrideWindow : window, &backBuffer->surface) ? D3D_OK
                                                                                         : D3DERR_INVALIDCALL;
  }
  D3D8_LOG("SwapChain::Present(#%u) = 0x%x", id, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DSwapChain8::GetBackBuffer(uint32_t index, uint32_t type, IDirect3DSurface8** surface) {
  if (!surface) return D3DERR_INVALIDCALL;
  *surface = nullptr;
  if (index != 0 || type != D3DBACKBUFFER_TYPE_MONO) return D3DERR_INVALIDCALL;
  backBuffer->AddRef();
  *surface = backBuffer;
  D3D8_LOG("SwapChain::GetBackBuffer(#%u) = 0 %s", id, D3D8Name(backBuffer));
  return D3D_OK;
}
