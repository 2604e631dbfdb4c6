// The Direct3D object of the stand-in: one adapter, its modes, format checks,
// capabilities, and device creation.

#include "platform/direct3d/d3d8_object.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/direct3d/d3d8_internal.h"
#include "platform/direct3d/d3d8_present.h"
#include "platform/direct3d/d3d8_test.h"

namespace {

struct ModeSize {
  uint32_t width, height;
};

// 4:3 full-screen modes, smallest first.
constexpr ModeSize kModes[] = {{640, 480}, {800, 600}, {1024, 768}, {1152, 864}, {1280, 960}};
constexpr uint32_t kModeCount = sizeof kModes / sizeof kModes[0];
constexpr uint32_t kRefreshRate = 60;

// Capability bits the driver does not test by name.
constexpr uint32_t kCullCaps = 0x10 | 0x20 | 0x40;  // cull none, clockwise, counter-clockwise
constexpr uint32_t kAllCompareFuncs = 0xFF;        // NEVER .. ALWAYS
constexpr uint32_t kAllBlendFactors = 0x7FF;       // ZERO .. SRCALPHASAT
constexpr uint32_t kTextureSetsFvfCap = 8;         // texture coordinate sets per vertex

bool Is16Bit(const D3D8Answers* a) { return a->displayFormat == D3DFMT_R5G6B5; }

uint32_t ModeCount(const D3D8Answers* a) { return a->modeCount ? a->modeCount : kModeCount; }

void BuildCaps(const D3D8Answers* a, D3DCAPS8* c) {
  std::memset(c, 0, sizeof *c);
  c->DeviceType = D3DDEVTYPE_HAL;
  c->Caps2 = D3DCAPS2_CANRENDERWINDOWED;
  c->PresentationIntervals = D3DPRESENT_INTERVAL_ONE | D3DPRESENT_INTERVAL_IMMEDIATE;
  c->DevCaps = a->hardwareTnL ? (D3DDEVCAPS_HWTRANSFORMANDLIGHT | (a->pureDevice ? D3DDEVCAPS_PUREDEVICE : 0)) : 0;
  c->PrimitiveMiscCaps = kCullCaps;
  c->RasterCaps = D3DPRASTERCAPS_FOGVERTEX;
  c->ZCmpCaps = c->AlphaCmpCaps = kAllCompareFuncs;
  c->SrcBlendCaps = c->DestBlendCaps = kAllBlendFactors;
  c->TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_MIPMAP |
                   (a->pow2 ? D3DPTEXTURECAPS_POW2 : 0) |
                   (a->nonPow2Conditional ? D3DPTEXTURECAPS_NONPOW2CONDITIONAL : 0) |
                   (a->squareOnly ? D3DPTEXTURECAPS_SQUAREONLY : 0) |
                   (a->palettes ? D3DPTEXTURECAPS_ALPHAPALETTE : 0);
  c->TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MIPFPOINT |
                         D3DPTFILTERCAPS_MIPFLINEAR | D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
  c->TextureAddressCaps =
      D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP | D3DPTADDRESSCAPS_BORDER;
  c->MaxTextureWidth = c->MaxTextureHeight = a->maxTextureSize;
  c->TextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 | D3DTEXOPCAPS_SELECTARG2 |
                     D3DTEXOPCAPS_MODULATE | D3DTEXOPCAPS_ADD | D3DTEXOPCAPS_BLENDTEXTUREALPHA |
                     (a->modulate2x ? D3DTEXOPCAPS_MODULATE2X : 0) |
                     (a->multiplyAdd ? D3DTEXOPCAPS_MULTIPLYADD : 0);
  c->MaxTextureBlendStages = c->MaxSimultaneousTextures = a->blendStages;
  c->MaxActiveLights = D3D8_MAX_DRAW_LIGHTS;
  c->FVFCaps = kTextureSetsFvfCap;
  c->PixelShaderVersion = a->pixelShaders ? D3D8_PIXEL_SHADER_VERSION : 0;
}

bool AdapterOk(uint32_t adapter, uint32_t deviceType) {
  return adapter == D3DADAPTER_DEFAULT && deviceType == D3DDEVTYPE_HAL;
}

}  // namespace

int D3D8Answers_TextureFormat(const D3D8Answers* a, uint32_t format) {
  switch (format) {
    case D3DFMT_A8R8G8B8: case D3DFMT_X8R8G8B8: case D3DFMT_R5G6B5: case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: case D3DFMT_A4R4G4B4: case D3DFMT_L8:
      return 1;
    case D3DFMT_P8:
      return a->palettes ? 1 : 0;
    case D3DFMT_DXT1: case D3DFMT_DXT2: case D3DFMT_DXT3: case D3DFMT_DXT4: case D3DFMT_DXT5:
      return a->dxt ? 1 : 0;
    default:
      return 0;
  }
}

int D3D8Answers_RenderTargetFormat(const D3D8Answers* a, uint32_t format) {
  return format == D3DFMT_X8R8G8B8 || format == D3DFMT_A8R8G8B8 || (Is16Bit(a) && format == D3DFMT_R5G6B5);
}

int D3D8Answers_DepthAnswered(const D3D8Answers* a, uint32_t format) {
  if (a->depthFormatCount < 0) return format == (Is16Bit(a) ? D3DFMT_D16 : D3DFMT_D24X8);
  for (int i = 0; i < a->depthFormatCount && i < int(sizeof a->depthFormats / sizeof a->depthFormats[0]); ++i)
    if (a->depthFormats[i] == format) return 1;
  return 0;
}

int D3D8Answers_DepthFormat(const D3D8Answers* a, uint32_t format) {
  if (format == D3DFMT_D16) return 1;
  if (a->depthFormatCount < 0) return format == D3DFMT_D24X8;
  return D3D8Answers_DepthAnswered(a, format);
}

IDirect3D8* Direct3DCreate8(uint32_t sdkVersion) {
  IDirect3D8* object = nullptr;
  if (sdkVersion == D3D_SDK_VERSION) object = new (std::nothrow) IDirect3D8;
  if (object) {
    object->answers = *D3D8Test_Answers();
    D3D8Answers& a = object->answers;
    if (a.displayFormat != D3DFMT_R5G6B5) a.displayFormat = D3DFMT_X8R8G8B8;
    if (a.blendStages < 1) a.blendStages = 1;
    if (a.blendStages > D3D8_MAX_STAGES) a.blendStages = D3D8_MAX_STAGES;
    if (a.maxTextureSize < 1 || a.maxTextureSize > 8192) a.maxTextureSize = 4096;
    if (a.desktopWidth < 1 || a.desktopHeight < 1) D3D8Present_DesktopSize(&a.desktopWidth, &a.desktopHeight);
    if (a.modeCount > sizeof a.modes / sizeof a.modes[0]) a.modeCount = sizeof a.modes / sizeof a.modes[0];
    BuildCaps(&a, &object->caps);
  }
  D3D8_LOG("Direct3DCreate8(%u) = %s", sdkVersion, D3D8Name(object));
  return object;
}

uint32_t IDirect3D8::GetAdapterCount() {
  D3D8_LOG("GetAdapterCount() = 1");
  return 1;
}

D3DRESULT IDirect3D8::GetAdapterIdentifier(uint32_t adapter, uint32_t flags, D3DADAPTER_IDENTIFIER8* out) {
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (out && adapter == D3DADAPTER_DEFAULT) {
    std::memset(out, 0, sizeof *out);
    snprintf(out->Driver, sizeof out->Driver, "helm_d3d8");
    snprintf(out->Description, sizeof out->Description, "%s",
             answers.description ? answers.description : "Helm software rasteriser");
    r = D3D_OK;
  }
  D3D8_LOG("GetAdapterIdentifier(%u, %u) = 0x%x", adapter, flags, (uint32_t)r);
  return r;
}

uint32_t IDirect3D8::GetAdapterModeCount(uint32_t adapter) {
  uint32_t count = adapter == D3DADAPTER_DEFAULT ? ModeCount(&answers) : 0;
  D3D8_LOG("GetAdapterModeCount(%u) = %u", adapter, count);
  return count;
}

D3DRESULT IDirect3D8::EnumAdapterModes(uint32_t adapter, uint32_t mode, D3DDISPLAYMODE* out) {
  D3D8_LOG("EnumAdapterModes(%u, %u)", adapter, mode);
  if (!out || adapter != D3DADAPTER_DEFAULT || mode >= ModeCount(&answers)) return D3DERR_INVALIDCALL;
  if (answers.modeCount) {
    *out = answers.modes[mode];
    return D3D_OK;
  }
  out->Width = kModes[mode].width;
  out->Height = kModes[mode].height;
  out->RefreshRate = kRefreshRate;
  out->Format = answers.displayFormat;
  return D3D_OK;
}

D3DRESULT IDirect3D8::GetAdapterDisplayMode(uint32_t adapter, D3DDISPLAYMODE* mode) {
  D3D8_LOG("GetAdapterDisplayMode(%u)", adapter);
  if (!mode || adapter != D3DADAPTER_DEFAULT) return D3DERR_INVALIDCALL;
  mode->Width = answers.desktopWidth;
  mode->Height = answers.desktopHeight;
  mode->RefreshRate = kRefreshRate;
  mode->Format = answers.displayFormat;
  return D3D_OK;
}

D3DRESULT IDirect3D8::CheckDeviceFormat(uint32_t adapter, uint32_t deviceType, uint32_t adapterFormat,
                                        uint32_t usage, uint32_t resourceType, uint32_t format) {
  D3DRESULT r = D3DERR_NOTAVAILABLE;
  if (!AdapterOk(adapter, deviceType)) {
    r = D3DERR_INVALIDCALL;
  } else if (adapterFormat != answers.displayFormat) {
    r = D3DERR_NOTAVAILABLE;
  } else if (usage & D3DUSAGE_DEPTHSTENCIL) {
    if (resourceType == D3DRTYPE_SURFACE && D3D8Answers_DepthAnswered(&answers, format)) r = D3D_OK;
  } else if (usage & D3DUSAGE_RENDERTARGET) {
    if ((resourceType == D3DRTYPE_SURFACE || resourceType == D3DRTYPE_TEXTURE) &&
        D3D8Answers_RenderTargetFormat(&answers, format))
      r = D3D_OK;
  } else if (resourceType == D3DRTYPE_TEXTURE || resourceType == D3DRTYPE_SURFACE) {
    if (D3D8Answers_TextureFormat(&answers, format)) r = D3D_OK;
  }
  D3D8_LOG("CheckDeviceFormat(%u, %u, %u, 0x%x, %u, 0x%x) = 0x%x", adapter, deviceType, adapterFormat, usage,
               resourceType, format, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3D8::CheckDepthStencilMatch(uint32_t adapter, uint32_t deviceType, uint32_t adapterFormat,
                                             uint32_t renderTargetFormat, uint32_t depthFormat) {
  D3DRESULT r = D3DERR_NOTAVAILABLE;
  if (!AdapterOk(adapter, deviceType)) {
    r = D3DERR_INVALIDCALL;
  } else if (adapterFormat == answers.displayFormat && D3D8Answers_RenderTargetFormat(&answers, renderTargetFormat) &&
             D3D8Answers_DepthAnswered(&answers, depthFormat)) {
    const bool z16 = depthFormat == D3DFMT_D16 || depthFormat == D3DFMT_D15S1;
    const bool rt16 = renderTargetFormat == D3DFMT_R5G6B5;
    if (answers.depthMatchesAnyTarget || z16 == rt16) r = D3D_OK;
  }
  D3D8_LOG("CheckDepthStencilMatch(%u, %u, %u, %u, %u) = 0x%x", adapter, deviceType, adapterFormat,
               renderTargetFormat, depthFormat, (uint32_t)r);
  return r;
}

D3DRESULT IDirect3D8::GetDeviceCaps(uint32_t adapter, uint32_t deviceType, D3DCAPS8* out) {
  D3D8_LOG("GetDeviceCaps(%u, %u)", adapter, deviceType);
  if (!out || !AdapterOk(adapter, deviceType)) return D3DERR_INVALIDCALL;
  *out = caps;
  return D3D_OK;
}

D3DRESULT IDirect3D8::CreateDevice(uint32_t adapter, uint32_t deviceType, void* focusWindow,
                                   uint32_t behaviorFlags, D3DPRESENT_PARAMETERS* params,
                                   IDirect3DDevice8** device) {
  D3DRESULT r = D3DERR_INVALIDCALL;
  if (device) *device = nullptr;
  bool hardware = (behaviorFlags & D3DCREATE_HARDWARE_VERTEXPROCESSING) != 0;
  bool software = (behaviorFlags & D3DCREATE_SOFTWARE_VERTEXPROCESSING) != 0;
  bool pure = (behaviorFlags & D3DCREATE_PUREDEVICE) != 0;
  if (!device || !params || !AdapterOk(adapter, deviceType) || hardware == software) {
    // exactly one kind of vertex processing must be asked for
  } else if ((hardware || pure) && !answers.hardwareTnL) {
    r = D3DERR_NOTAVAILABLE;
  } else if (pure && !hardware) {
    r = D3DERR_INVALIDCALL;
  } else if (pure && !answers.pureDevice) {
    r = D3DERR_NOTAVAILABLE;
  } else if ((r = D3D8Test_Fault(D3D8_FAULT_CREATEDEVICE)) >= 0) {
    r = D3D8Device_Create(this, focusWindow, behaviorFlags, params, device);
  }
  D3D8_LOG("CreateDevice(%u, %u, 0x%x) = 0x%x %s", adapter, deviceType, behaviorFlags, (uint32_t)r,
               D3D8Name(device ? *device : nullptr));
  return r;
}
