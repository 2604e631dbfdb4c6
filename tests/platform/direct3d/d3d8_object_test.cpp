#include "platform/direct3d/d3d8_object.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/direct3d/d3d8_test.h"
#include "tests/platform/direct3d/d3d8_fixture.h"

namespace {

using Object = D3D8Fixture;

TEST(ObjectCreation, RefusesAnotherSdkVersion) { EXPECT_EQ(Direct3DCreate8(219), nullptr); }

TEST_F(Object, FormatChecksAnswerTheSupportedSet) {
  // Textures, render-target textures and (the driver's depth walk on a
  // 32-bit display) depth surfaces: which formats are taken.
  const uint32_t RT = D3DUSAGE_RENDERTARGET, DS = D3DUSAGE_DEPTHSTENCIL;
  const struct {
    uint32_t usage, format;
    bool taken;
  } rows[] = {{0, D3DFMT_R5G6B5, true},  {0, D3DFMT_P8, false},      {0, D3DFMT_DXT1, false}, {RT, D3DFMT_X8R8G8B8, true},
              {RT, D3DFMT_R5G6B5, false}, {DS, D3DFMT_D24S8, false}, {DS, D3DFMT_D24X8, true}};
  for (const auto& r : rows)
    EXPECT_EQ(d3d->CheckDeviceFormat(0, 1, D3DFMT_X8R8G8B8, r.usage, r.usage == DS ? D3DRTYPE_SURFACE : D3DRTYPE_TEXTURE,
                                      r.format) >= 0,
              r.taken)
        << r.usage << " " << r.format;
  EXPECT_EQ(d3d->CheckDepthStencilMatch(0, 1, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_D24X8), D3D_OK);
  EXPECT_LT(d3d->CheckDepthStencilMatch(0, 1, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_D16), 0);
  // A check against another adapter format is not available.
  EXPECT_LT(d3d->CheckDeviceFormat(0, 1, D3DFMT_R5G6B5, 0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), 0);
  D3DCAPS8 caps;
  D3DDISPLAYMODE m;
  EXPECT_EQ(d3d->GetDeviceCaps(1, D3DDEVTYPE_HAL, &caps), D3DERR_INVALIDCALL);
  EXPECT_EQ(d3d->EnumAdapterModes(0, d3d->GetAdapterModeCount(0), &m), D3DERR_INVALIDCALL);
  // A 16-bit display takes 16-bit depth; its scripted modes replace the built-in ones (as recorded).
  D3D8Answers a;
  a.displayFormat = D3DFMT_R5G6B5;
  a.modeCount = 1;
  a.modes[0] = {512, 384, 60, D3DFMT_R5G6B5};
  D3D8Test_StartRecording();
  Make(a, D3DFMT_R5G6B5, D3DFMT_D16);
  EXPECT_EQ(d3d->GetAdapterModeCount(0), 1u);
  EXPECT_EQ((d3d->EnumAdapterModes(0, 0, &m), m.Width), 512u);
  EXPECT_EQ((d3d->GetAdapterDisplayMode(0, &m), m.Format), D3DFMT_R5G6B5);
  EXPECT_EQ(d3d->GetAdapterCount(), 1u);
  D3DADAPTER_IDENTIFIER8 id;
  EXPECT_EQ(d3d->GetAdapterIdentifier(1, 0, &id), D3DERR_INVALIDCALL);  // one adapter only
  EXPECT_EQ(d3d->EnumAdapterModes(0, 0, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(d3d->CheckDepthStencilMatch(0, 1, D3DFMT_R5G6B5, D3DFMT_R5G6B5, D3DFMT_D16), D3D_OK);
  EXPECT_EQ(d3d->CheckDeviceFormat(0, 1, D3DFMT_R5G6B5, D3DUSAGE_RENDERTARGET, D3DRTYPE_SURFACE, D3DFMT_R5G6B5), D3D_OK);
  EXPECT_LT(d3d->CheckDeviceFormat(0, 1, D3DFMT_R5G6B5, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D15S1), 0);
  D3D8Test_StopRecording();
  EXPECT_NE(std::string(D3D8Test_Recording()).find("GetAdapterModeCount(0) = 1"), std::string::npos);
}

// Vertex processing flags against the answers: software always; hardware
// with hardware T&L; pure only where the pure-device bit is offered too.
// A windowed back buffer must be in the desktop's format; windowed with size
// 0 takes the client size (with no window, the desktop's).
TEST_F(Object, CreateDeviceHonoursVertexProcessingCaps) {
  const uint32_t HW = D3DCREATE_HARDWARE_VERTEXPROCESSING, SW = D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                 PURE = D3DCREATE_PUREDEVICE;
  const struct {
    bool tnl, pure, windowed;
    uint32_t flags, format;
    D3DRESULT result;
  } rows[] = {
      {false, false, true, HW, D3DFMT_X8R8G8B8, D3DERR_NOTAVAILABLE},
      {false, false, true, 0, D3DFMT_X8R8G8B8, D3DERR_INVALIDCALL},
      {false, false, true, SW, D3DFMT_X8R8G8B8, D3D_OK},
      {false, false, true, SW, D3DFMT_R5G6B5, D3DERR_INVALIDCALL},
      {true, true, false, HW | PURE, D3DFMT_X8R8G8B8, D3D_OK},
      {true, false, false, HW | PURE, D3DFMT_X8R8G8B8, D3DERR_NOTAVAILABLE},
      {true, false, false, HW, D3DFMT_X8R8G8B8, D3D_OK},
  };
  for (const auto& r : rows) {
    D3D8Answers a;
    a.hardwareTnL = r.tnl, a.pureDevice = r.pure;
    Make(a);
    D3DCAPS8 caps;
    d3d->GetDeviceCaps(0, 1, &caps);
    EXPECT_EQ(caps.DevCaps & (D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_PUREDEVICE),
              (r.tnl ? D3DDEVCAPS_HWTRANSFORMANDLIGHT : 0u) | (r.tnl && r.pure ? D3DDEVCAPS_PUREDEVICE : 0u));
    D3DPRESENT_PARAMETERS p{};
    p.Windowed = r.windowed;
    p.BackBufferFormat = r.format;
    p.BackBufferWidth = r.windowed ? 0 : 640, p.BackBufferHeight = r.windowed ? 0 : 480;
    IDirect3DDevice8* dev = nullptr;
    const D3DRESULT got = d3d->CreateDevice(0, 1, nullptr, r.flags, &p, &dev);
    EXPECT_EQ(got, r.result) << &r - rows;
    EXPECT_EQ(dev != nullptr, got >= 0) << &r - rows;
    if (dev) {
      EXPECT_EQ(std::make_pair(p.BackBufferWidth, p.BackBufferHeight), std::make_pair(640u, 480u));
      dev->Release();
    }
  }
}

}  // namespace
