// The device of the Direct3D 8 stand-in: creation and reset, render targets,
// clears and copies, state storage with Direct3D 8's defaults, and the draw
// calls, which validate everything they will read and hand the draw record
// to the rasteriser.

#include "platform/direct3d/d3d8_device.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "platform/direct3d/d3d8_fvf.h"
#include "platform/direct3d/d3d8_internal.h"
#include "platform/direct3d/d3d8_present.h"
#include "platform/direct3d/rasteriser.h"
#include "platform/direct3d/d3d8_test.h"
#include "platform/direct3d/rasteriser_format.h"
#include "platform/direct3d/rasteriser_pshader.h"

namespace {

constexpr uint32_t kMaxBufferBytes = 256u << 20;
// Largest primitive count and vertex index one draw may name: user-pointer
// draws have no buffer to check against, and counts must stay within int.
constexpr uint32_t kMaxPrimitiveCount = 0xFFFFFF;
constexpr uint64_t kMaxVertexIndex = 0xFFFFFF;
constexpr uint32_t kMaxStride = 0xFFFF;
// Palette numbers are 16-bit in Direct3D 8; storage is created on first use.
constexpr uint32_t kMaxPalettes = 0x10000;
constexpr uint32_t kNoPalette = 0xFFFFFFFFu;

uint32_t g_transformSerial = 1;
int g_liveDevices = 0;

struct LightSlot {
  D3DLIGHT8 light;
  bool enabled;
};

struct Palette {
  PALETTEENTRY entries[256];
};

uint32_t BitsOf(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

D3DMATRIX Identity() {
  D3DMATRIX m{};
  m.m[0][0] = m.m[1][1] = m.m[2][2] = m.m[3][3] = 1.0f;
  return m;
}

template <typename T>
void Rebind(T*& slot, T* value) {
  if (slot == value) return;
  if (value) value->AddRef();
  T* old = slot;
  slot = value;
  if (old) old->Release();
}

}  // namespace

struct D3D8DeviceImpl {
  D3D8Answers answers;
  D3DCAPS8 caps{};
  uint32_t behaviorFlags = 0;
  void* focusWindow = nullptr;
  D3DPRESENT_PARAMETERS params{};

  D3D8DrawState draw{};  // kept current by every Set* call

  IDirect3DSurface8* backBuffer = nullptr;  // held by the device until Reset
  IDirect3DSurface8* autoDepth = nullptr;   // held, null without an automatic depth surface
  IDirect3DSurface8* renderTarget = nullptr;  // bound (one reference)
  IDirect3DSurface8* depth = nullptr;         // bound (one reference) or null
  IDirect3DBaseTexture8* textures[D3D8_MAX_STAGES] = {};  // bound
  IDirect3DVertexBuffer8* stream = nullptr;   // bound
  uint32_t streamStride = 0;
  IDirect3DIndexBuffer8* indices = nullptr;   // bound
  uint32_t baseVertex = 0;
  uint32_t fvf = 0;
  bool fvfValid = false;
  D3DVIEWPORT8 viewport{};

  std::map<uint32_t, LightSlot> lights;    // by index; indices are unbounded
  std::map<uint32_t, Palette> palettes;    // by palette number
  uint32_t currentPalette = kNoPalette;

  // Live shaders by handle, compiled (only under answers.pixelShaders).
  std::map<uint32_t, std::unique_ptr<RasteriserPShader>> pixelShaders;
  uint32_t nextPixelShader = 1;
  uint32_t pixelShader = 0;  // bound handle (its program is draw.pixelShader)

  bool inScene = false;
  int lostAnswers = 0;    // TestCooperativeLevel answers DEVICELOST this many times
  bool notReset = false;  // then DEVICENOTRESET until a Reset succeeds
  int liveResources = 0;
  int liveDefaultPool = 0;
  bool released = false;  // the driver let go; memory waits for the last resource
};

namespace {

D3D8DeviceImpl* Impl(IDirect3DDevice8* d) { return d->impl.get(); }

void RefreshTarget(D3D8DeviceImpl* s) {
  s->draw.target = s->renderTarget ? s->renderTarget->surface : D3D8DrawSurface{};
  s->draw.depth = s->depth ? s->depth->surface : D3D8DrawSurface{};
}

void RefreshViewport(D3D8DeviceImpl* s) {
  s->draw.viewport = s->viewport;
  int64_t x = (int32_t)s->viewport.X, y = (int32_t)s->viewport.Y;
  int64_t x1 = x + s->viewport.Width, y1 = y + s->viewport.Height;
  int64_t w = s->draw.target.width, h = s->draw.target.height;
  auto clampTo = [](int64_t v, int64_t hi) { return (int)(v < 0 ? 0 : (v > hi ? hi : v)); };
  s->draw.scissor.x0 = clampTo(x, w);
  s->draw.scissor.y0 = clampTo(y, h);
  s->draw.scissor.x1 = clampTo(x1, w);
  s->draw.scissor.y1 = clampTo(y1, h);
}

void WholeTargetViewport(D3D8DeviceImpl* s) {
  s->viewport = D3DVIEWPORT8{0, 0, (uint32_t)s->draw.target.width, (uint32_t)s->draw.target.height, 0.0f, 1.0f};
  RefreshViewport(s);
}

void RefreshLights(D3D8DeviceImpl* s) {
  int n = 0;
  for (auto& [index, slot] : s->lights) {
    if (!slot.enabled) continue;
    if (n == D3D8_MAX_DRAW_LIGHTS) break;
    s->draw.lights[n++] = slot.light;
  }
  s->draw.lightCount = n;
}

void RefreshPalette(D3D8DeviceImpl* s) {
  auto it = s->palettes.find(s->currentPalette);
  s->draw.palette = it == s->palettes.end() ? nullptr : it->second.entries;
}

// Drops stream 0 and the indices (user-pointer draws leave them so).
void UnbindStreams(D3D8DeviceImpl* s) {
  Rebind(s->stream, (IDirect3DVertexBuffer8*)nullptr);
  Rebind(s->indices, (IDirect3DIndexBuffer8*)nullptr);
  s->streamStride = s->baseVertex = 0;
}

void UnbindAll(D3D8DeviceImpl* s) {
  for (uint32_t i = 0; i < D3D8_MAX_STAGES; ++i) {
    Rebind(s->textures[i], (IDirect3DBaseTexture8*)nullptr);
    s->draw.textures[i] = nullptr;
  }
  UnbindStreams(s);
  Rebind(s->renderTarget, (IDirect3DSurface8*)nullptr);
  Rebind(s->depth, (IDirect3DSurface8*)nullptr);
  RefreshTarget(s);
}

// Direct3D 8's state after creation and after every Reset.
void DefaultStates(D3D8DeviceImpl* s) {
  D3D8DrawState& d = s->draw;
  std::memset(d.renderStates, 0, sizeof d.renderStates);
  uint32_t* rs = d.renderStates;
  rs[D3DRS_ZENABLE] = s->params.EnableAutoDepthStencil ? 1 : 0;
  rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
  rs[D3DRS_ZWRITEENABLE] = 1;
  rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  rs[D3DRS_CULLMODE] = D3DCULL_CCW;
  rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
  rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
  rs[D3DRS_FOGSTART] = BitsOf(0.0f);
  rs[D3DRS_FOGEND] = BitsOf(1.0f);
  rs[D3DRS_FOGDENSITY] = BitsOf(1.0f);
  rs[D3DRS_STENCILFAIL] = rs[D3DRS_STENCILZFAIL] = rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
  rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
  rs[D3DRS_STENCILMASK] = rs[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFFu;
  rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFFu;
  rs[D3DRS_CLIPPING] = 1;
  rs[D3DRS_LIGHTING] = 1;
  rs[D3DRS_COLORVERTEX] = 1;
  rs[D3DRS_LOCALVIEWER] = 1;
  rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
  rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
  rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
  rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
  rs[D3DRS_COLORWRITEENABLE] = 0xF;
  for (uint32_t stage = 0; stage < D3D8_MAX_STAGES; ++stage) {
    uint32_t* ts = d.stageStates[stage];
    std::memset(ts, 0, sizeof d.stageStates[stage]);
    ts[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    ts[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    ts[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    ts[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    ts[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    ts[D3DTSS_TEXCOORDINDEX] = stage;
    ts[D3DTSS_ADDRESSU] = ts[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
    ts[D3DTSS_MAGFILTER] = ts[D3DTSS_MINFILTER] = D3DTEXF_POINT;
    ts[D3DTSS_MIPFILTER] = D3DTEXF_NONE;
    ts[D3DTSS_MAXANISOTROPY] = 1;
    ts[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
    ts[D3DTSS_COLORARG0] = ts[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
  }
  d.world = d.view = d.projection = Identity();
  for (D3DMATRIX& m : d.textureTransform) m = Identity();
  d.transformSerial = g_transformSerial++;
  d.material = D3DMATERIAL8{};
  s->lights.clear();
  RefreshLights(s);
  s->palettes.clear();
  s->currentPalette = kNoPalette;
  RefreshPalette(s);
  s->fvf = 0;
  s->fvfValid = false;
  s->pixelShader = 0;
  d.pixelShader = nullptr;
  std::memset(d.pixelShaderConstants, 0, sizeof d.pixelShaderConstants);
}

// Chooses the back-buffer size and format from the parameters and creates
// the back buffer and automatic depth surface. On failure nothing changes.
D3DRESULT MakeSwapSurfaces(D3D8DeviceImpl* s, D3DPRESENT_PARAMETERS* p, IDirect3DSurface8** back,
                           IDirect3DSurface8** depth) {
  *back = *depth = nullptr;
  void* window = p->hDeviceWindow ? p->hDeviceWindow : s->focusWindow;
  uint32_t w = p->BackBufferWidth, h = p->BackBufferHeight;
  uint32_t format = p->BackBufferFormat;
  if (p->Windowed) {
    if (format == D3DFMT_UNKNOWN) format = s->answers.displayFormat;
    if (format != s->answers.displayFormat) return D3DERR_INVALIDCALL;
    if (w == 0 || h == 0) {
      uint32_t cw = s->answers.desktopWidth, ch = s->answers.desktopHeight;
      D3D8Present_ClientSize(window, &cw, &ch);
      if (w == 0) w = cw;
      if (h == 0) h = ch;
    }
  } else if (format != s->answers.displayFormat || w == 0 || h == 0) {
    return D3DERR_INVALIDCALL;
  }
  if (p->BackBufferCount > 1 || p->MultiSampleType != 0) return D3DERR_INVALIDCALL;
  if (p->EnableAutoDepthStencil && !D3D8Answers_DepthFormat(&s->answers, p->AutoDepthStencilFormat))
    return D3DERR_INVALIDCALL;
  IDirect3DSurface8* b = D3D8Surface_New(nullptr, w, h, format, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT);
  if (!b) return D3DERR_OUTOFVIDEOMEMORY;
  IDirect3DSurface8* z = nullptr;
  if (p->EnableAutoDepthStencil) {
    z = D3D8Surface_New(nullptr, w, h, p->AutoDepthStencilFormat, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT);
    if (!z) {
      delete b;
      return D3DERR_OUTOFVIDEOMEMORY;
    }
    z->refs = 0;
    z->held = true;
  }
  b->refs = 0;
  b->held = true;
  p->BackBufferWidth = w;
  p->BackBufferHeight = h;
  p->BackBufferFormat = format;
  if (p->BackBufferCount == 0) p->BackBufferCount = 1;
  if (!p->Windowed) D3D8Present_SizeWindow(window, w, h);
  *back = b;
  *depth = z;
  return D3D_OK;
}

// Installs new swap surfaces and brings every state back to its default.
void InstallSwapSurfaces(D3D8DeviceImpl* s, IDirect3DSurface8* back, IDirect3DSurface8* depth) {
  UnbindAll(s);
  D3D8Surface_Drop(s->backBuffer);
  D3D8Surface_Drop(s->autoDepth);
  s->backBuffer = back;
  s->autoDepth = depth;
  Rebind(s->renderTarget, back);
  Rebind(s->depth, depth);
  RefreshTarget(s);
  DefaultStates(s);
  WholeTargetViewport(s);
  s->inScene = false;
}

bool IsDepthFormat(uint32_t format) {
  return format == D3DFMT_D16 || format == D3DFMT_D15S1 || format == D3DFMT_D24S8 || format == D3DFMT_D24X8 ||
         format == D3DFMT_D24X4S4 || format == D3DFMT_D32;
}

bool StorableColour(uint32_t format) {
  return RasteriserFormat_BytesPerPixel(format) > 0 && format != D3DFMT_P8 && !IsDepthFormat(format);
}

// Shows the presented frame once it is shaded.
void FinishPresent() { D3D8Present_Finish(); }

// Shared tail of the four draw calls: scene, type, format and fault checks.
D3DRESULT DrawPreamble(D3D8DeviceImpl* s, uint32_t type, uint32_t primitiveCount) {
  if (!s->inScene || D3D8Fvf_BatchVertices(type, 1) == 0 || !s->fvfValid || !s->draw.target.pixels ||
      primitiveCount > kMaxPrimitiveCount)
    return D3DERR_INVALIDCALL;
  return D3D8Test_Fault(D3D8_FAULT_DRAW);
}

D3DRESULT RunDraw(D3D8DeviceImpl* s) {
  if (s->lostAnswers > 0 || s->notReset) return D3D_OK;  // a lost device draws nothing
  // A texture that draws not yet shaded render into (a camera texture) is
  // finished before it is read; then the draw's resources are stamped, so
  // that locking, copying or releasing them later waits for the draw.
  bool feedback = false;  // the draw samples the texture it draws into
  for (IDirect3DBaseTexture8* t : s->textures) {
    if (t) Rasteriser_Finish(t->drawnBatch);
    feedback |= t && s->renderTarget && (t == s->renderTarget->container || (s->depth && t == s->depth->container));
  }
  D3DRESULT r = Rasteriser_Draw(&s->draw) ? D3D_OK : D3DERR_INVALIDCALL;
  for (IDirect3DBaseTexture8* t : s->textures) D3D8_MarkUse(t, false);
  D3D8_MarkUse(s->renderTarget, true);
  D3D8_MarkUse(s->depth, true);
  // Its texels are read while its tiles are written: an undefined picture,
  // but shading it on one thread keeps it the same on every run (and free of
  // races between the threads).
  if (feedback) Rasteriser_FlushOnOneThread();
  return r;
}

// Fills the primitive part of the draw record and runs it.
// Indexed draws pass the vertex that index `indexBase` names.
D3DRESULT Submit(D3D8DeviceImpl* s, uint32_t type, uint32_t primitiveCount, const uint8_t* vertices,
                 uint64_t vertexCount, uint32_t stride, const void* indices, int indexSize, uint32_t indexBase) {
  D3D8DrawState& d = s->draw;
  d.indexBase = indexBase;
  d.primitiveType = type;
  d.primitiveCount = (int)primitiveCount;
  d.vertices = vertices;
  d.vertexCount = (int)vertexCount;
  d.stride = (int)stride;
  d.indices = indices;
  d.indexSize = indexSize;
  return RunDraw(s);
}

// Checks indices [first, first + count) of `data` against [lo, hi).
bool IndicesInRange(const void* data, int indexSize, uint64_t count, uint32_t lo, uint64_t hi) {
  const uint8_t* p = (const uint8_t*)data;
  for (uint64_t i = 0; i < count; ++i) {
    uint32_t v;
    if (indexSize == 2) {
      uint16_t half;
      std::memcpy(&half, p + 2 * i, 2);
      v = half;
    } else {
      std::memcpy(&v, p + 4 * i, 4);
    }
    if (v < lo || v >= hi) return false;
  }
  return true;
}

bool OpSupported(const D3D8Answers& a, uint32_t op) {
  switch (op) {
    case D3DTOP_DISABLE: case D3DTOP_SELECTARG1: case D3DTOP_SELECTARG2: case D3DTOP_MODULATE:
    case D3DTOP_ADD: case D3DTOP_BLENDTEXTUREALPHA:
      return true;
    case D3DTOP_MODULATE2X: return a.modulate2x;
    case D3DTOP_MULTIPLYADD: return a.multiplyAdd;
    default: return false;
  }
}

bool ArgSupported(uint32_t arg) {
  return (arg & ~(D3DTA_SELECTMASK | D3DTA_ALPHAREPLICATE)) == 0 && (arg & D3DTA_SELECTMASK) <= D3DTA_TFACTOR;
}

}  // namespace

// ---- lifetime ----------------------------------------------------------------------

IDirect3DDevice8::IDirect3DDevice8() : impl(new D3D8DeviceImpl) { ++g_liveDevices; }

IDirect3DDevice8::~IDirect3DDevice8() {
  if (--g_liveDevices == 0) Rasteriser_Shutdown();
}

void IDirect3DDevice8::Destroy() {
  D3D8DeviceImpl* s = Impl(this);
  UnbindAll(s);
  D3D8Surface_Drop(s->backBuffer);
  D3D8Surface_Drop(s->autoDepth);
  s->backBuffer = s->autoDepth = nullptr;
  s->released = true;
  if (s->liveResources == 0) delete this;
}

void D3D8Device_ResourceBorn(IDirect3DDevice8* device, uint32_t pool) {
  D3D8DeviceImpl* s = Impl(device);
  ++s->liveResources;
  if (pool == D3DPOOL_DEFAULT) ++s->liveDefaultPool;
}

void D3D8Device_ResourceDied(IDirect3DDevice8* device, uint32_t pool) {
  D3D8DeviceImpl* s = Impl(device);
  --s->liveResources;
  if (pool == D3DPOOL_DEFAULT) --s->liveDefaultPool;
  if (s->released && s->liveResources == 0) delete device;
}

void D3D8Device_Lose(IDirect3DDevice8* device, int lostAnswers) {
  D3D8DeviceImpl* s = Impl(device);
  s->lostAnswers = lostAnswers < 0 ? 0 : lostAnswers;
  s->notReset = true;
}

int D3D8Device_IsLost(IDirect3DDevice8* device) {
  D3D8DeviceImpl* s = Impl(device);
  return s->lostAnswers > 0 || s->notReset;
}

D3DRESULT D3D8Device_Create(IDirect3D8* object, void* focusWindow, uint32_t flags, D3DPRESENT_PARAMETERS* params,
                            IDirect3DDevice8** out) {
  IDirect3DDevice8* device = new (std::nothrow) IDirect3DDevice8;
  if (!device) return D3DERR_OUTOFVIDEOMEMORY;
  D3D8DeviceImpl* s = Impl(device);
  s->answers = object->answers;
  s->caps = object->caps;
  s->behaviorFlags = flags;
  s->focusWindow = focusWindow;
  D3DPRESENT_PARAMETERS p = *params;
  IDirect3DSurface8 *back, *depth;
  D3DRESULT r = MakeSwapSurfaces(s, &p, &back, &depth);
  if (r < 0) {
    delete device;
    return r;
  }
  s->params = p;
  *params = p;
  InstallSwapSurfaces(s, back, depth);
  *out = device;
  return D3D_OK;
}

// ---- health, presentation, reset -------------------------------------------------------

D3DRESULT IDirect3DDevice8::TestCooperativeLevel() {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = D3D_OK;
  if (s->lostAnswers > 0) {
    --s->lostAnswers;
    r = D3DERR_DEVICELOST;
  } else if (s->notReset) {
    r = D3DERR_DEVICENOTRESET;
  }
  D3D8_LOG("TestCooperativeLevel() = 0x%x", (uint32_t)r);
  return r;
}

uint32_t IDirect3DDevice8::GetAvailableTextureMem() {
  uint32_t bytes = Impl(this)->answers.textureMemory;
  D3D8_LOG("GetAvailableTextureMem() = %u", bytes);
  return bytes;
}

D3DRESULT IDirect3DDevice8::ResourceManagerDiscardBytes(uint32_t bytes) {
  D3D8_LOG("ResourceManagerDiscardBytes(%u) = 0", bytes);
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::GetDeviceCaps(D3DCAPS8* caps) {
  D3D8_LOG("Device::GetDeviceCaps() = 0x%x", caps ? 0u : (uint32_t)D3DERR_INVALIDCALL);
  if (!caps) return D3DERR_INVALIDCALL;
  *caps = Impl(this)->caps;
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::GetDisplayMode(D3DDISPLAYMODE* mode) {
  D3D8_LOG("GetDisplayMode() = 0x%x", mode ? 0u : (uint32_t)D3DERR_INVALIDCALL);
  if (!mode) return D3DERR_INVALIDCALL;
  D3D8DeviceImpl* s = Impl(this);
  mode->Width = s->params.Windowed ? s->answers.desktopWidth : s->params.BackBufferWidth;
  mode->Height = s->params.Windowed ? s->answers.desktopHeight : s->params.BackBufferHeight;
  mode->RefreshRate = 60;
  mode->Format = s->answers.displayFormat;
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::Reset(D3DPRESENT_PARAMETERS* params) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (!params) {
    // refused
  } else if ((r = D3D8Test_Fault(D3D8_FAULT_RESET)) < 0) {
    s->notReset = true;
  } else {
    // A default-pool resource the driver released but left bound (a stream,
    // indices, a texture stage, a render target) is still alive and blocks
    // the reset, as on real hardware: the driver's release procedure must
    // unbind them too. A failed reset changes nothing but the device's state.
    D3DPRESENT_PARAMETERS p = *params;
    IDirect3DSurface8 *back = nullptr, *depth = nullptr;
    bool blocked = s->liveDefaultPool > 0 || !s->pixelShaders.empty();
    r = blocked ? D3DERR_INVALIDCALL : MakeSwapSurfaces(s, &p, &back, &depth);
    if (r >= 0) {
      s->params = p;
      *params = p;
      InstallSwapSurfaces(s, back, depth);
      s->lostAnswers = 0;
      s->notReset = false;
    } else {
      s->notReset = true;  // like a real device, it waits for a good reset
    }
  }
  D3D8_LOG("Reset() = 0x%x", (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::Present(const D3DRECT8* source, const D3DRECT8* dest, void* overrideWindow,
                                    const void* dirtyRegion) {
  D3D8DeviceImpl* s = Impl(this);
  // Rectangles and dirty regions are not used by the driver; the whole back
  // buffer is always shown.
  (void)source, (void)dest, (void)dirtyRegion;
  D3DRESULT r;
  if (s->lostAnswers > 0 || s->notReset) {
    r = D3DERR_DEVICELOST;
  } else if ((r = D3D8Test_Fault(D3D8_FAULT_PRESENT)) >= 0) {
    void* window = overrideWindow ? overrideWindow : (s->params.hDeviceWindow ? s->params.hDeviceWindow : s->focusWindow);
    // Everything drawn so far is in the picture. It is shaded while the
    // game goes on and shown once done (see rasteriser.cpp); the back
    // buffer is stamped so that nothing changes it before then.
    r = D3D8Present_Begin(window, &s->backBuffer->surface) ? D3D_OK : D3DERR_INVALIDCALL;
    D3D8_MarkUse(s->backBuffer, false);
    RasteriserTileJob copy;
    Rasteriser_FlushAsync(FinishPresent, D3D8Present_TileCopy(&copy) ? &copy : nullptr);
  }
  D3D8_LOG("Present() = 0x%x", (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::GetBackBuffer(uint32_t index, uint32_t type, IDirect3DSurface8** surface) {
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (surface) {
    *surface = nullptr;
    if (index == 0 && type == D3DBACKBUFFER_TYPE_MONO) {
      *surface = Impl(this)->backBuffer;
      (*surface)->AddRef();
      r = D3D_OK;
    }
  }
  D3D8_LOG("GetBackBuffer(%u, %u) = 0x%x %s", index, type, (uint32_t)r, D3D8Name(surface ? *surface : nullptr));
  return r;
}

D3DRESULT IDirect3DDevice8::CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* params, IDirect3DSwapChain8** chain) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (chain) *chain = nullptr;
  if (chain && params && params->Windowed && (r = D3D8Test_Fault(D3D8_FAULT_CREATESURFACE)) >= 0) {
    D3DPRESENT_PARAMETERS p = *params;
    p.EnableAutoDepthStencil = 0;  // a swap chain has no depth surface of its own
    IDirect3DSurface8 *back, *depth;
    r = MakeSwapSurfaces(s, &p, &back, &depth);
    if (r >= 0) {
      IDirect3DSwapChain8* c = new (std::nothrow) IDirect3DSwapChain8;
      if (!c) {
        delete back;
        r = D3DERR_OUTOFVIDEOMEMORY;
      } else {
        c->backBuffer = back;
        c->window = p.hDeviceWindow ? p.hDeviceWindow : s->focusWindow;
        c->Attach(this, D3DPOOL_DEFAULT, 0);
        params->BackBufferWidth = p.BackBufferWidth;
        params->BackBufferHeight = p.BackBufferHeight;
        *chain = c;
      }
    }
  }
  D3D8_LOG("CreateAdditionalSwapChain() = 0x%x %s", (uint32_t)r, D3D8Name(chain ? *chain : nullptr));
  return r;
}

// ---- resources ------------------------------------------------------------------------------

D3DRESULT IDirect3DDevice8::CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                          uint32_t format, uint32_t pool, IDirect3DTexture8** texture) {
  D3D8DeviceImpl* s = Impl(this);
  const D3D8Answers& a = s->answers;
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (texture) *texture = nullptr;
  uint32_t fullChain = 1;
  while ((width >> fullChain) > 0 || (height >> fullChain) > 0) ++fullChain;
  auto pow2 = [](uint32_t v) { return (v & (v - 1)) == 0; };
  bool rt = (usage & D3DUSAGE_RENDERTARGET) != 0;
  bool ok = texture && width >= 1 && height >= 1 && width <= a.maxTextureSize && height <= a.maxTextureSize &&
            pool <= D3DPOOL_SYSTEMMEM && levels <= fullChain && (usage & D3DUSAGE_DEPTHSTENCIL) == 0;
  if (ok && a.pow2 && !(a.nonPow2Conditional && levels == 1)) ok = pow2(width) && pow2(height);
  if (ok && a.squareOnly) ok = width == height;
  if (ok) ok = rt ? (pool == D3DPOOL_DEFAULT && D3D8Answers_RenderTargetFormat(&a, format))
                  : D3D8Answers_TextureFormat(&a, format);
  if (ok && (r = D3D8Test_Fault(D3D8_FAULT_CREATETEXTURE)) >= 0) {
    uint32_t count = levels == 0 ? fullChain : levels;
    IDirect3DTexture8* t = new (std::nothrow) IDirect3DTexture8;
    r = t ? D3D_OK : D3DERR_OUTOFVIDEOMEMORY;
    for (uint32_t i = 0; t && i < count && r >= 0; ++i) {
      uint32_t w = width >> i ? width >> i : 1, h = height >> i ? height >> i : 1;
      IDirect3DSurface8* level = D3D8Surface_New(nullptr, w, h, format, usage, pool);
      if (!level) {
        r = D3DERR_OUTOFVIDEOMEMORY;
        break;
      }
      level->refs = 0;
      level->container = t;
      t->levels.push_back(level);
      t->chain.levels[i] = level->surface;
    }
    // The sampler's tiled copies (render targets are written as rows by the
    // rasteriser, so they are sampled as rows).
    if (r >= 0 && RasteriserFormat_PlainColour(format) && !rt) {
      try {
        t->tiled.resize(count);
        for (uint32_t i = 0; i < count; ++i) {
          const D3D8DrawSurface& level = t->levels[i]->surface;
          t->tiled[i].assign(RasteriserFormat_TiledWords(level.width, level.height), 0);
          RasteriserFormat_Tile(&level, t->tiled[i].data());
          t->chain.tiled[i] = t->tiled[i].data();
        }
      } catch (const std::bad_alloc&) {
        r = D3DERR_OUTOFVIDEOMEMORY;
      }
    }
    if (r >= 0) {
      t->chain.format = format;
      t->chain.levelCount = (int)count;
      t->Attach(this, pool, usage);
      *texture = t;
    } else {
      delete t;
    }
  }
  D3D8_LOG("CreateTexture(%u, %u, %u, 0x%x, 0x%x, %u) = 0x%x %s", width, height, levels, usage, format, pool,
               (uint32_t)r, D3D8Name(texture ? *texture : nullptr));
  return r;
}

// Shared by both buffer kinds: checks, the scripted fault, zeroed storage.
template <typename Buffer>
D3DRESULT NewBuffer(IDirect3DDevice8* device, uint32_t length, uint32_t usage, uint32_t pool, bool formatOk,
                    Buffer** out) {
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (length == 0 || length > kMaxBufferBytes || pool > D3DPOOL_SYSTEMMEM || !formatOk) return D3DERR_INVALIDCALL;
  D3DRESULT r = D3D8Test_Fault(D3D8_FAULT_CREATEBUFFER);
  if (r < 0) return r;
  Buffer* b = new (std::nothrow) Buffer;
  if (!b) return D3DERR_OUTOFVIDEOMEMORY;
  try {
    b->bytes.assign(length, 0);
  } catch (...) {
    delete b;
    return D3DERR_OUTOFVIDEOMEMORY;
  }
  b->Attach(device, pool, usage);
  *out = b;
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool,
                                               IDirect3DVertexBuffer8** buffer) {
  D3DRESULT r = NewBuffer(this, length, usage, pool, true, buffer);
  if (r >= 0) (*buffer)->fvf = fvf;
  D3D8_LOG("CreateVertexBuffer(%u, 0x%x, 0x%x, %u) = 0x%x %s", length, usage, fvf, pool, (uint32_t)r,
           D3D8Name(buffer ? *buffer : nullptr));
  return r;
}

D3DRESULT IDirect3DDevice8::CreateIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool,
                                              IDirect3DIndexBuffer8** buffer) {
  D3DRESULT r =
      NewBuffer(this, length, usage, pool, format == D3DFMT_INDEX16 || format == D3DFMT_INDEX32, buffer);
  if (r >= 0) (*buffer)->format = format;
  D3D8_LOG("CreateIndexBuffer(%u, 0x%x, %u, %u) = 0x%x %s", length, usage, format, pool, (uint32_t)r,
           D3D8Name(buffer ? *buffer : nullptr));
  return r;
}

D3DRESULT IDirect3DDevice8::CreateDepthStencilSurface(uint32_t width, uint32_t height, uint32_t format,
                                                      uint32_t multiSample, IDirect3DSurface8** surface) {
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (surface) *surface = nullptr;
  if (surface && multiSample == 0 && D3D8Answers_DepthFormat(&Impl(this)->answers, format) &&
      (r = D3D8Test_Fault(D3D8_FAULT_CREATESURFACE)) >= 0) {
    *surface = D3D8Surface_New(this, width, height, format, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT);
    r = *surface ? D3D_OK : (width && height && width <= 8192 && height <= 8192 ? D3DERR_OUTOFVIDEOMEMORY
                                                                                : D3DERR_INVALIDCALL);
  }
  D3D8_LOG("CreateDepthStencilSurface(%u, %u, %u) = 0x%x %s", width, height, format, (uint32_t)r,
               D3D8Name(surface ? *surface : nullptr));
  return r;
}

D3DRESULT IDirect3DDevice8::CreateImageSurface(uint32_t width, uint32_t height, uint32_t format,
                                               IDirect3DSurface8** surface) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (surface) *surface = nullptr;
  bool formatOk = D3D8Answers_TextureFormat(&s->answers, format) || D3D8Answers_RenderTargetFormat(&s->answers, format);
  if (surface && formatOk && (r = D3D8Test_Fault(D3D8_FAULT_CREATESURFACE)) >= 0) {
    *surface = D3D8Surface_New(this, width, height, format, 0, D3DPOOL_SYSTEMMEM);
    r = *surface ? D3D_OK : D3DERR_INVALIDCALL;
  }
  D3D8_LOG("CreateImageSurface(%u, %u, %u) = 0x%x %s", width, height, format, (uint32_t)r,
               D3D8Name(surface ? *surface : nullptr));
  return r;
}

D3DRESULT IDirect3DDevice8::CopyRects(IDirect3DSurface8* source, const D3DRECT8* rects, uint32_t count,
                                      IDirect3DSurface8* dest, const D3DPOINT8* points) {
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (source && dest && source != dest && source->surface.format == dest->surface.format &&
      !IsDepthFormat(source->surface.format) && (r = D3D8Test_Fault(D3D8_FAULT_COPYRECTS)) >= 0) {
    const D3D8DrawSurface& src = source->surface;
    const D3D8DrawSurface& dst = dest->surface;
    D3DRECT8 whole{0, 0, src.width, src.height};
    if (!rects || count == 0) {
      rects = &whole;
      count = 1;
    }
    // The copy reads and writes what every draw so far left.
    D3D8_FinishUse(source);
    D3D8_FinishUse(dest);
    bool block = D3D8Format_IsBlock(src.format);
    int unit = block ? 4 : 1;  // copies move whole blocks
    int unitBytes = block ? D3D8Format_BlockBytes(src.format) : RasteriserFormat_BytesPerPixel(src.format);
    // Check every rectangle before copying any, so a refused call changes nothing.
    for (uint32_t i = 0; i < count && r >= 0; ++i) {
      const D3DRECT8& rc = rects[i];
      int64_t dx = points ? points[i].x : rc.left, dy = points ? points[i].y : rc.top;
      int64_t w = (int64_t)rc.right - rc.left, h = (int64_t)rc.bottom - rc.top;
      bool ok = rc.left >= 0 && rc.top >= 0 && w > 0 && h > 0 && rc.right <= src.width && rc.bottom <= src.height &&
                dx >= 0 && dy >= 0 && dx + w <= dst.width && dy + h <= dst.height;
      if (ok && block)
        ok = rc.left % 4 == 0 && rc.top % 4 == 0 && dx % 4 == 0 && dy % 4 == 0 &&
             (w % 4 == 0 || rc.right == src.width) && (h % 4 == 0 || rc.bottom == src.height);
      if (!ok) r = D3DERR_INVALIDCALL;
    }
    for (uint32_t i = 0; i < count && r >= 0; ++i) {
      const D3DRECT8& rc = rects[i];
      int dx = points ? points[i].x : rc.left, dy = points ? points[i].y : rc.top;
      int cols = (rc.right - rc.left + unit - 1) / unit, rows = (rc.bottom - rc.top + unit - 1) / unit;
      for (int y = 0; y < rows; ++y) {
        const uint8_t* from = src.pixels + (size_t)(rc.top / unit + y) * src.pitch + (size_t)(rc.left / unit) * unitBytes;
        uint8_t* to = dst.pixels + (size_t)(dy / unit + y) * dst.pitch + (size_t)(dx / unit) * unitBytes;
        std::memcpy(to, from, (size_t)cols * unitBytes);
      }
    }
    if (r >= 0) D3D8Surface_Changed(dest);
  }
  D3D8_LOG("CopyRects(%s, %u, %s) = 0x%x", D3D8Name(source), count, D3D8Name(dest), (uint32_t)r);
  return r;
}

// ---- targets and scene ------------------------------------------------------------------------

D3DRESULT IDirect3DDevice8::SetRenderTarget(IDirect3DSurface8* target, IDirect3DSurface8* depth) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = D3DERR_INVALIDCALL;
  IDirect3DSurface8* t = target ? target : s->renderTarget;
  bool ok = t && (t->usage & D3DUSAGE_RENDERTARGET) && StorableColour(t->surface.format);
  if (ok && depth)
    ok = (depth->usage & D3DUSAGE_DEPTHSTENCIL) && depth->surface.width >= t->surface.width &&
         depth->surface.height >= t->surface.height;
  if (ok && (r = D3D8Test_Fault(D3D8_FAULT_SETRENDERTARGET)) >= 0) {
    Rebind(s->renderTarget, t);
    Rebind(s->depth, depth);
    RefreshTarget(s);
    WholeTargetViewport(s);
  }
  D3D8_LOG("SetRenderTarget(%s, %s) = 0x%x", D3D8Name(target), D3D8Name(depth), (uint32_t)r);
  return r;
}

// Hands out a bound surface with one added reference.
static D3DRESULT HandOut(IDirect3DSurface8* bound, IDirect3DSurface8** surface) {
  if (!surface) return D3DERR_INVALIDCALL;
  *surface = bound;
  if (!bound) return D3DERR_NOTFOUND;
  bound->AddRef();
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::GetRenderTarget(IDirect3DSurface8** surface) {
  D3DRESULT r = HandOut(Impl(this)->renderTarget, surface);
  D3D8_LOG("GetRenderTarget() = 0x%x %s", (uint32_t)r, D3D8Name(surface ? *surface : nullptr));
  return r;
}

D3DRESULT IDirect3DDevice8::GetDepthStencilSurface(IDirect3DSurface8** surface) {
  D3DRESULT r = HandOut(Impl(this)->depth, surface);
  D3D8_LOG("GetDepthStencilSurface() = 0x%x %s", (uint32_t)r, D3D8Name(surface ? *surface : nullptr));
  return r;
}

D3DRESULT IDirect3DDevice8::BeginScene() {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = s->inScene ? D3DERR_INVALIDCALL : D3D_OK;
  s->inScene = true;
  D3D8_LOG("BeginScene() = 0x%x", (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::EndScene() {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = s->inScene ? D3D_OK : D3DERR_INVALIDCALL;
  s->inScene = false;
  D3D8_LOG("EndScene() = 0x%x", (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::Clear(uint32_t count, const D3DRECT8* rects, uint32_t flags, uint32_t color, float z,
                                  uint32_t stencil) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = D3D_OK;
  if (count > 0 && !rects) r = D3DERR_INVALIDCALL;
  if (r >= 0 && s->lostAnswers == 0 && !s->notReset) {
    const auto& v = s->draw.scissor;
    D3DRECT8 whole{v.x0, v.y0, v.x1, v.y1};
    uint32_t n = count ? count : 1;
    const D3DRECT8* list = count ? rects : &whole;
    uint8_t pixel[4] = {};
    const D3D8DrawSurface &target = s->draw.target, &zs = s->draw.depth;
    bool colour = (flags & D3DCLEAR_TARGET) && target.pixels && StorableColour(target.format);
    if (colour) RasteriserFormat_Store(target.format, pixel, color);
    uint32_t colourValue;
    std::memcpy(&colourValue, pixel, 4);
    // Z and stencil share the depth surface's pixels: clearing one keeps the
    // other (and the unused bits of D24X4S4). Stencil is asked for and
    // ignored on formats without it.
    const uint32_t depthBits = zs.pixels ? RasteriserFormat_DepthMask(zs.format) : 0;
    const uint32_t stencilBits = zs.pixels ? RasteriserFormat_StencilMask(zs.format) : 0;
    uint32_t cleared = 0, depthValue = 0;
    if (flags & D3DCLEAR_ZBUFFER) cleared |= depthBits, depthValue |= RasteriserFormat_DepthEncode(zs.format, z);
    if (flags & D3DCLEAR_STENCIL) cleared |= stencilBits, depthValue |= stencil & stencilBits;
    // Formats without stencil clear whole pixels, as their bits outside the depth are unused.
    if (!stencilBits && cleared) cleared = 0xFFFFFFFFu;
    const bool depth = cleared != 0;
    const uint32_t depthKeep = ~cleared & (RasteriserFormat_BytesPerPixel(zs.format) == 2 ? 0xFFFFu : 0xFFFFFFFFu);
    // Cleared with the draws, in the tiles (rasteriser.h).
    for (uint32_t i = 0; i < n && r >= 0; ++i) {
      int x0 = list[i].left > v.x0 ? list[i].left : v.x0, y0 = list[i].top > v.y0 ? list[i].top : v.y0;
      int x1 = list[i].right < v.x1 ? list[i].right : v.x1, y1 = list[i].bottom < v.y1 ? list[i].bottom : v.y1;
      if (x0 >= x1 || y0 >= y1) continue;
      // The depth surface may be larger than the target; the rectangle is
      // already inside the target, so it is inside the depth surface too.
      if (!Rasteriser_Clear(colour ? &target : nullptr, colourValue, depth ? &zs : nullptr, depthValue, depthKeep, x0,
                            y0, x1, y1))
        r = D3DERR_OUTOFVIDEOMEMORY;
    }
    if (colour) D3D8_MarkUse(s->renderTarget, true);
    if (depth) D3D8_MarkUse(s->depth, true);
  }
  D3D8_LOG("Clear(%u, 0x%x, 0x%08x, %g, %u) = 0x%x", count, flags, color, (double)z, stencil, (uint32_t)r);
  return r;
}

// ---- fixed-function state ------------------------------------------------------------------

D3DRESULT IDirect3DDevice8::SetTransform(uint32_t type, const D3DMATRIX* matrix) {
  D3D8DrawState& d = Impl(this)->draw;
  D3DRESULT r = D3D_OK;
  D3DMATRIX* slot = nullptr;
  static D3DMATRIX unusedWorlds[3];  // WORLD1-3 are accepted; nothing blends with them
  if (type == D3DTS_VIEW) slot = &d.view;
  else if (type == D3DTS_PROJECTION) slot = &d.projection;
  else if (type >= D3DTS_TEXTURE0 && type < D3DTS_TEXTURE0 + D3D8_MAX_STAGES) slot = &d.textureTransform[type - D3DTS_TEXTURE0];
  else if (type == D3DTS_WORLD) slot = &d.world;
  else if (type > D3DTS_WORLD && type <= D3DTS_WORLD + 3) slot = &unusedWorlds[type - D3DTS_WORLD - 1];
  if (!slot || !matrix) {
    r = D3DERR_INVALIDCALL;
  } else {
    *slot = *matrix;
    if (type == D3DTS_VIEW || type == D3DTS_PROJECTION || type == D3DTS_WORLD) d.transformSerial = g_transformSerial++;
  }
  if (D3D8Test_Recording_On() && matrix) {
    const float* m = &matrix->m[0][0];
    D3D8_LOG("SetTransform(%u, [%g %g %g %g | %g %g %g %g | %g %g %g %g | %g %g %g %g]) = 0x%x", type, m[0], m[1],
                 m[2], m[3], m[4], m[5], m[6], m[7], m[8], m[9], m[10], m[11], m[12], m[13], m[14], m[15], (uint32_t)r);
  }
  return r;
}

D3DRESULT IDirect3DDevice8::GetTransform(uint32_t type, D3DMATRIX* matrix) {
  D3D8_LOG("GetTransform(%u)", type);
  D3D8DrawState& d = Impl(this)->draw;
  if (!matrix) return D3DERR_INVALIDCALL;
  if (type == D3DTS_VIEW) *matrix = d.view;
  else if (type == D3DTS_PROJECTION) *matrix = d.projection;
  else if (type >= D3DTS_TEXTURE0 && type < D3DTS_TEXTURE0 + D3D8_MAX_STAGES) *matrix = d.textureTransform[type - D3DTS_TEXTURE0];
  else if (type == D3DTS_WORLD) *matrix = d.world;
  else return D3DERR_INVALIDCALL;
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::SetViewport(const D3DVIEWPORT8* viewport) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = viewport ? D3D_OK : D3DERR_INVALIDCALL;
  if (viewport) {
    s->viewport = *viewport;
    RefreshViewport(s);
    D3D8_LOG("SetViewport(%d, %d, %u, %u, %g, %g) = 0", (int32_t)viewport->X, (int32_t)viewport->Y,
                 viewport->Width, viewport->Height, (double)viewport->MinZ, (double)viewport->MaxZ);
  }
  return r;
}

D3DRESULT IDirect3DDevice8::GetViewport(D3DVIEWPORT8* viewport) {
  D3D8_LOG("GetViewport()");
  if (!viewport) return D3DERR_INVALIDCALL;
  *viewport = Impl(this)->viewport;
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::SetMaterial(const D3DMATERIAL8* material) {
  if (!material) return D3DERR_INVALIDCALL;
  Impl(this)->draw.material = *material;
  D3D8_LOG("SetMaterial(diffuse %g %g %g %g, ambient %g %g %g %g) = 0", (double)material->Diffuse.r,
               (double)material->Diffuse.g, (double)material->Diffuse.b, (double)material->Diffuse.a,
               (double)material->Ambient.r, (double)material->Ambient.g, (double)material->Ambient.b,
               (double)material->Ambient.a);
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::GetMaterial(D3DMATERIAL8* material) {
  D3D8_LOG("GetMaterial()");
  if (!material) return D3DERR_INVALIDCALL;
  *material = Impl(this)->draw.material;
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::SetLight(uint32_t index, const D3DLIGHT8* light) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (light && light->Type >= D3DLIGHT_POINT && light->Type <= D3DLIGHT_DIRECTIONAL) {
    auto it = s->lights.find(index);
    if (it == s->lights.end()) s->lights[index] = LightSlot{*light, false};
    else it->second.light = *light;
    RefreshLights(s);
    r = D3D_OK;
  }
  D3D8_LOG("SetLight(%u, type %u) = 0x%x", index, light ? light->Type : 0, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::GetLight(uint32_t index, D3DLIGHT8* light) {
  D3D8_LOG("GetLight(%u)", index);
  D3D8DeviceImpl* s = Impl(this);
  auto it = s->lights.find(index);
  if (!light || it == s->lights.end()) return D3DERR_INVALIDCALL;
  *light = it->second.light;
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::LightEnable(uint32_t index, int32_t enable) {
  D3D8DeviceImpl* s = Impl(this);
  auto it = s->lights.find(index);
  if (it == s->lights.end()) {
    D3DLIGHT8 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = D3DCOLORVALUE{1, 1, 1, 0};
    light.Direction = D3DVECTOR{0, 0, 1};
    it = s->lights.emplace(index, LightSlot{light, false}).first;
  }
  it->second.enabled = enable != 0;
  RefreshLights(s);
  D3D8_LOG("LightEnable(%u, %d) = 0", index, enable);
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::GetLightEnable(uint32_t index, int32_t* enable) {
  D3D8_LOG("GetLightEnable(%u)", index);
  D3D8DeviceImpl* s = Impl(this);
  auto it = s->lights.find(index);
  if (!enable || it == s->lights.end()) return D3DERR_INVALIDCALL;
  *enable = it->second.enabled ? 1 : 0;
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::SetRenderState(uint32_t state, uint32_t value) {
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (state < D3D8_RENDERSTATE_COUNT) {
    Impl(this)->draw.renderStates[state] = value;
    r = D3D_OK;
  }
  D3D8_LOG("SetRenderState(%u, 0x%x) = 0x%x", state, value, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::GetRenderState(uint32_t state, uint32_t* value) {
  D3D8_LOG("GetRenderState(%u)", state);
  if (!value || state >= D3D8_RENDERSTATE_COUNT) return D3DERR_INVALIDCALL;
  *value = Impl(this)->draw.renderStates[state];
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::SetTextureStageState(uint32_t stage, uint32_t type, uint32_t value) {
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (stage < D3D8_MAX_STAGES && type < D3D8_STAGESTATE_COUNT) {
    Impl(this)->draw.stageStates[stage][type] = value;
    r = D3D_OK;
  }
  D3D8_LOG("SetTextureStageState(%u, %u, 0x%x) = 0x%x", stage, type, value, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::GetTextureStageState(uint32_t stage, uint32_t type, uint32_t* value) {
  D3D8_LOG("GetTextureStageState(%u, %u)", stage, type);
  if (!value || stage >= D3D8_MAX_STAGES || type >= D3D8_STAGESTATE_COUNT) return D3DERR_INVALIDCALL;
  *value = Impl(this)->draw.stageStates[stage][type];
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::SetTexture(uint32_t stage, IDirect3DBaseTexture8* texture) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (stage < D3D8_MAX_STAGES && !(texture && texture->device != this)) {
    Rebind(s->textures[stage], texture);
    s->draw.textures[stage] = texture ? &texture->chain : nullptr;
    r = D3D_OK;
  }
  D3D8_LOG("SetTexture(%u, %s) = 0x%x", stage, D3D8Name(texture), (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::GetTexture(uint32_t stage, IDirect3DBaseTexture8** texture) {
  D3D8_LOG("GetTexture(%u)", stage);
  if (!texture || stage >= D3D8_MAX_STAGES) return D3DERR_INVALIDCALL;
  *texture = Impl(this)->textures[stage];
  if (*texture) (*texture)->AddRef();
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::ValidateDevice(uint32_t* passes) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = D3D_OK;
  uint32_t n = 1;
  if (!passes) {
    r = D3DERR_INVALIDCALL;
  } else if (!D3D8Test_NextValidate(&r, &n)) {
    // The truthful answer: every enabled stage must exist on this device and
    // use operations and arguments the caps report.
    uint32_t textures = 0;
    for (uint32_t stage = 0; stage < D3D8_MAX_STAGES && r >= 0; ++stage) {
      const uint32_t* ts = s->draw.stageStates[stage];
      if (ts[D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
      if (stage >= s->answers.blendStages) r = D3DERR_TOOMANYOPERATIONS;
      else if (!OpSupported(s->answers, ts[D3DTSS_COLOROP])) r = D3DERR_UNSUPPORTEDCOLOROPERATION;
      else if (!OpSupported(s->answers, ts[D3DTSS_ALPHAOP])) r = D3DERR_UNSUPPORTEDALPHAOPERATION;
      else if (!ArgSupported(ts[D3DTSS_COLORARG1]) || !ArgSupported(ts[D3DTSS_COLORARG2]) ||
               !ArgSupported(ts[D3DTSS_COLORARG0]))
        r = D3DERR_UNSUPPORTEDCOLORARG;
      else if (!ArgSupported(ts[D3DTSS_ALPHAARG1]) || !ArgSupported(ts[D3DTSS_ALPHAARG2]) ||
               !ArgSupported(ts[D3DTSS_ALPHAARG0]))
        r = D3DERR_UNSUPPORTEDALPHAARG;
      if (s->textures[stage]) ++textures;
    }
    if (r >= 0 && textures > s->answers.blendStages) r = D3DERR_TOOMANYOPERATIONS;
    n = 1;
  }
  if (passes) *passes = r >= 0 ? n : 0;
  D3D8_LOG("ValidateDevice() = 0x%x %u", (uint32_t)r, passes ? *passes : 0);
  return r;
}

D3DRESULT IDirect3DDevice8::SetPaletteEntries(uint32_t number, const PALETTEENTRY* entries) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = D3DERR_INVALIDCALL;
  // Palettes are stored whatever the texture formats: only P8 textures read them.
  if (entries && number < kMaxPalettes) {
    std::memcpy(s->palettes[number].entries, entries, sizeof(Palette::entries));
    RefreshPalette(s);
    r = D3D_OK;
  }
  D3D8_LOG("SetPaletteEntries(%u) = 0x%x", number, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::GetPaletteEntries(uint32_t number, PALETTEENTRY* entries) {
  D3D8_LOG("GetPaletteEntries(%u)", number);
  D3D8DeviceImpl* s = Impl(this);
  auto it = s->palettes.find(number);
  if (!entries || it == s->palettes.end()) return D3DERR_INVALIDCALL;
  std::memcpy(entries, it->second.entries, sizeof(Palette::entries));
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::SetCurrentTexturePalette(uint32_t number) {
  D3D8DeviceImpl* s = Impl(this);
  // Selecting a palette that was never filled is refused, except 0, which
  // the driver selects when it destroys a palettised raster.
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (number < kMaxPalettes && (number == 0 || s->palettes.count(number))) {
    s->currentPalette = number;
    RefreshPalette(s);
    r = D3D_OK;
  }
  D3D8_LOG("SetCurrentTexturePalette(%u) = 0x%x", number, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::GetCurrentTexturePalette(uint32_t* number) {
  D3D8_LOG("GetCurrentTexturePalette()");
  D3D8DeviceImpl* s = Impl(this);
  if (!number || s->currentPalette == kNoPalette) return D3DERR_INVALIDCALL;
  *number = s->currentPalette;
  return D3D_OK;
}

// ---- vertex input and draws -----------------------------------------------------------------------

D3DRESULT IDirect3DDevice8::SetVertexShader(uint32_t fvf) {
  D3D8DeviceImpl* s = Impl(this);
  D3D8VertexLayout layout;
  D3DRESULT r = D3D8Fvf_Decode(fvf, &layout) ? D3D_OK : D3DERR_INVALIDCALL;
  if (r >= 0) {
    s->fvf = fvf;
    s->fvfValid = true;
    s->draw.layout = layout;
  }
  D3D8_LOG("SetVertexShader(0x%x) = 0x%x", fvf, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::GetVertexShader(uint32_t* fvf) {
  D3D8_LOG("GetVertexShader()");
  if (!fvf) return D3DERR_INVALIDCALL;
  *fvf = Impl(this)->fvf;
  return D3D_OK;
}

D3DRESULT IDirect3DDevice8::SetStreamSource(uint32_t stream, IDirect3DVertexBuffer8* buffer, uint32_t stride) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (stream == 0 && stride <= kMaxStride && !(buffer && buffer->device != this)) {
    Rebind(s->stream, buffer);
    s->streamStride = buffer ? stride : 0;
    r = D3D_OK;
  }
  D3D8_LOG("SetStreamSource(%u, %s, %u) = 0x%x", stream, D3D8Name(buffer), stride, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::SetIndices(IDirect3DIndexBuffer8* buffer, uint32_t baseVertexIndex) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (!(buffer && buffer->device != this)) {
    Rebind(s->indices, buffer);
    s->baseVertex = buffer ? baseVertexIndex : 0;
    r = D3D_OK;
  }
  D3D8_LOG("SetIndices(%s, %u) = 0x%x", D3D8Name(buffer), baseVertexIndex, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::DrawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = DrawPreamble(s, type, primitiveCount);
  if (r >= 0 && primitiveCount > 0) {
    uint64_t needed = D3D8Fvf_BatchVertices(type, primitiveCount);
    uint64_t stride = s->streamStride;
    // The last vertex only needs its FVF size, not a whole stride.
    if (!s->stream || stride < (uint64_t)s->draw.layout.size ||
        (startVertex + needed - 1) * stride + s->draw.layout.size > s->stream->bytes.size()) {
      r = D3DERR_INVALIDCALL;
    } else {
      r = Submit(s, type, primitiveCount, s->stream->bytes.data() + startVertex * stride, needed, (uint32_t)stride,
                 nullptr, 0, 0);
    }
  }
  D3D8_LOG("DrawPrimitive(%u, %u, %u) = 0x%x", type, startVertex, primitiveCount, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::DrawIndexedPrimitive(uint32_t type, uint32_t minIndex, uint32_t numVertices,
                                                 uint32_t startIndex, uint32_t primitiveCount) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = DrawPreamble(s, type, primitiveCount);
  if (r >= 0 && primitiveCount > 0) {
    uint64_t count = D3D8Fvf_BatchVertices(type, primitiveCount);
    uint64_t stride = s->streamStride;
    int indexSize = s->indices && s->indices->format == D3DFMT_INDEX32 ? 4 : 2;
    uint64_t vertexEnd = (uint64_t)s->baseVertex + minIndex + numVertices;  // vertices the range needs
    if (!s->stream || !s->indices || numVertices == 0 || stride < (uint64_t)s->draw.layout.size ||
        (startIndex + count) * indexSize > s->indices->bytes.size() ||
        (vertexEnd - 1) * stride + s->draw.layout.size > s->stream->bytes.size()) {
      r = D3DERR_INVALIDCALL;
    } else {
      const uint8_t* first = s->indices->bytes.data() + (size_t)startIndex * indexSize;
      if (!IndicesInRange(first, indexSize, count, minIndex, (uint64_t)minIndex + numVertices)) {
        r = D3DERR_INVALIDCALL;
      } else {
        r = Submit(s, type, primitiveCount, s->stream->bytes.data() + ((size_t)s->baseVertex + minIndex) * stride,
                   numVertices, (uint32_t)stride, first, indexSize, minIndex);
      }
    }
  }
  D3D8_LOG("DrawIndexedPrimitive(%u, %u, %u, %u, %u) = 0x%x", type, minIndex, numVertices, startIndex,
               primitiveCount, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::DrawPrimitiveUP(uint32_t type, uint32_t primitiveCount, const void* vertices,
                                            uint32_t stride) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = DrawPreamble(s, type, primitiveCount);
  if (r >= 0 && (!vertices || stride < (uint32_t)s->draw.layout.size || stride > kMaxStride)) r = D3DERR_INVALIDCALL;
  if (r >= 0 && primitiveCount > 0) {
    r = Submit(s, type, primitiveCount, (const uint8_t*)vertices, D3D8Fvf_BatchVertices(type, primitiveCount), stride,
               nullptr, 0, 0);
  }
  if (r >= 0) UnbindStreams(s);
  D3D8_LOG("DrawPrimitiveUP(%u, %u, %u) = 0x%x", type, primitiveCount, stride, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::DrawIndexedPrimitiveUP(uint32_t type, uint32_t minIndex, uint32_t numVertices,
                                                   uint32_t primitiveCount, const void* indices,
                                                   uint32_t indexFormat, const void* vertices, uint32_t stride) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = DrawPreamble(s, type, primitiveCount);
  if (r >= 0 && (!vertices || !indices || stride < (uint32_t)s->draw.layout.size || stride > kMaxStride ||
                 numVertices == 0 ||
                 (uint64_t)minIndex + numVertices > kMaxVertexIndex ||
                 (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32)))
    r = D3DERR_INVALIDCALL;
  if (r >= 0 && primitiveCount > 0) {
    int indexSize = indexFormat == D3DFMT_INDEX32 ? 4 : 2;
    uint64_t count = D3D8Fvf_BatchVertices(type, primitiveCount);
    if (!IndicesInRange(indices, indexSize, count, minIndex, (uint64_t)minIndex + numVertices)) {
      r = D3DERR_INVALIDCALL;
    } else {
      r = Submit(s, type, primitiveCount, (const uint8_t*)vertices + (size_t)minIndex * stride, numVertices, stride,
                 indices, indexSize, minIndex);
    }
  }
  if (r >= 0) UnbindStreams(s);
  D3D8_LOG("DrawIndexedPrimitiveUP(%u, %u, %u, %u, %u, %u) = 0x%x", type, minIndex, numVertices, primitiveCount,
               indexFormat, stride, (uint32_t)r);
  return r;
}

// ---- pixel shaders ---------------------------------------------------------------------------

D3DRESULT IDirect3DDevice8::CreatePixelShader(const uint32_t* function, uint32_t* handle) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = D3DERR_INVALIDCALL;
  uint32_t version = s->answers.pixelShaders && function ? function[0] : 0;  // the version token
  const char* reason = nullptr;
  if (handle) *handle = 0;
  if (!s->answers.pixelShaders) {
    r = D3DERR_NOTAVAILABLE;
  } else if (!handle || s->nextPixelShader == 0) {
    // refused
  } else {
    // The function has no length: the check reads up to its end token, and
    // never further than the longest program it could accept.
    std::unique_ptr<RasteriserPShader> program(new (std::nothrow) RasteriserPShader);
    if (!program) {
      r = D3DERR_OUTOFMEMORY;
    } else if (!RasteriserPShader_Compile(function, RASTERISER_PSHADER_MAX_TOKENS, program.get(), &reason)) {
      // refused
    } else if ((r = D3D8Test_Fault(D3D8_FAULT_CREATESHADER)) >= 0) {
      *handle = s->nextPixelShader++;
      s->pixelShaders[*handle] = std::move(program);
      r = D3D_OK;
    }
  }
  D3D8_LOG("CreatePixelShader(0x%x) = 0x%x %u%s%s", version, (uint32_t)r, handle ? *handle : 0u, reason ? " " : "",
           reason ? reason : "");
  return r;
}

D3DRESULT IDirect3DDevice8::DeletePixelShader(uint32_t handle) {
  D3D8DeviceImpl* s = Impl(this);
  D3DRESULT r = s->pixelShaders.erase(handle) ? D3D_OK : D3DERR_INVALIDCALL;
  if (r >= 0 && s->pixelShader == handle) {
    s->pixelShader = 0;
    s->draw.pixelShader = nullptr;
  }
  D3D8_LOG("DeletePixelShader(%u) = 0x%x", handle, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::SetPixelShader(uint32_t handle) {
  D3D8DeviceImpl* s = Impl(this);
  auto it = s->pixelShaders.find(handle);
  D3DRESULT r = handle == 0 || it != s->pixelShaders.end() ? D3D_OK : D3DERR_INVALIDCALL;
  if (r >= 0) {
    s->pixelShader = handle;
    s->draw.pixelShader = handle ? it->second.get() : nullptr;
  }
  D3D8_LOG("SetPixelShader(%u) = 0x%x", handle, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3DDevice8::SetPixelShaderConstant(uint32_t reg, const void* data, uint32_t count) {
  D3D8DeviceImpl* s = Impl(this);
  const uint32_t registers = sizeof s->draw.pixelShaderConstants / sizeof s->draw.pixelShaderConstants[0];
  D3DRESULT r = data && reg < registers && count <= registers - reg ? D3D_OK : D3DERR_INVALIDCALL;
  if (r >= 0) std::memcpy(s->draw.pixelShaderConstants[reg], data, size_t(count) * sizeof(float[4]));
  D3D8_LOG("SetPixelShaderConstant(%u, %u)", reg, count);
  return r;
}
