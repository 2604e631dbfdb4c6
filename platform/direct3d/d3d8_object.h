// The Direct3D object of the stand-in: one adapter, its modes, format
// checks, capability answers and device creation.
#pragma once

#include <cstdint>

#include "platform/direct3d/d3d8_device.h"
#include "platform/direct3d/d3d8_types.h"

// The pixel shader version reported (and the highest accepted) when pixel
// shaders are switched on: 1.1, as the version token of a shader function.
constexpr uint32_t D3D8_PIXEL_SHADER_VERSION = 0xFFFF0101u;

// The capability answers an object gives. The defaults are the simplest
// correct path for the driver; tests choose others through d3d8_test.h.
struct D3D8Answers {
  uint32_t displayFormat = D3DFMT_X8R8G8B8;  // or D3DFMT_R5G6B5 (the 16-bit test display)
  // Windowed desktop mode; 0 = the size the window owner reported through
  // D3D8Present_SetDesktopSize (640 x 480 when it reported none).
  uint32_t desktopWidth = 0, desktopHeight = 0;
  bool pow2 = false;                // textures must have power-of-two sides
  bool nonPow2Conditional = false;  // ... except single-level ones
  bool squareOnly = false;
  bool palettes = false;            // P8 textures, alpha palettes, a current palette
  bool dxt = false;                 // DXT1-5 textures (stored as blocks)
  uint32_t blendStages = 1;         // MaxTextureBlendStages = MaxSimultaneousTextures
  bool multiplyAdd = false, modulate2x = false;  // texture op caps
  bool hardwareTnL = false;         // DevCaps hardware transform and lighting
  bool pureDevice = true;           // ... offered together with the pure-device bit
  // Pixel shaders 1.0 and 1.1 (PixelShaderVersion 1.1): created, bound and
  // run in place of the texture stages' operations (see d3d8_device.h).
  bool pixelShaders = false;
  // The depth-stencil formats the adapter answers for (CheckDeviceFormat
  // with D3DUSAGE_DEPTHSTENCIL and CheckDepthStencilMatch), in any order;
  // the device creates these and D16, which the driver takes unchecked.
  // -1 = the default: D24X8 on the 32-bit display, D16 on the 16-bit one,
  // and both created. 0 = none answered.
  int depthFormatCount = -1;
  uint32_t depthFormats[6] = {};
  // A listed format matches render targets of its own depth class only
  // (16-bit Z with 16-bit targets, 24- and 32-bit Z with 32-bit targets),
  // as on many cards; true lets it match every render-target format.
  bool depthMatchesAnyTarget = false;
  uint32_t maxTextureSize = 4096;
  uint32_t textureMemory = 64u << 20;  // GetAvailableTextureMem
  // The full-screen modes the adapter lists, in this order and as given;
  // modeCount 0 = the 4:3 list at 60 Hz. Lets a test offer one size at
  // several refresh rates.
  uint32_t modeCount = 0;
  D3DDISPLAYMODE modes[8] = {};
  // The adapter's description; null = "Helm software rasteriser". Must
  // outlive the objects created with these answers (a literal, say).
  const char* description = nullptr;
};

// The Direct3D object: one adapter with its modes, format checks and caps.
struct IDirect3D8 : D3D8Unknown {
  uint32_t GetAdapterCount();
  D3DRESULT GetAdapterIdentifier(uint32_t adapter, uint32_t flags, D3DADAPTER_IDENTIFIER8* id);
  // Full-screen modes, 4:3 from 640 x 480 to 1280 x 960 in the display
  // format at 60 Hz (or the answers' own list).
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
