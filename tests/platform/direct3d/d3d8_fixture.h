// Shared set-up for the Direct3D 8 stand-in tests: an object and a windowed
// device on a small desktop, released after each test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "platform/direct3d/d3d8.h"
#include "platform/direct3d/d3d8_test.h"
#include "tests/platform/direct3d/raster_scene.h"

struct D3D8Fixture : ::testing::Test {
  IDirect3D8* d3d = nullptr;
  IDirect3DDevice8* dev = nullptr;
  D3DPRESENT_PARAMETERS pp{};

  static D3D8Answers SmallDesktop() {
    D3D8Answers a;
    a.desktopWidth = 64;
    a.desktopHeight = 48;
    return a;
  }

  // Recreates object and device with `answers` (flags: software vertex processing).
  void Make(const D3D8Answers& answers, uint32_t format = D3DFMT_X8R8G8B8, uint32_t depth = D3DFMT_D24X8) {
    Drop();
    D3D8Test_SetAnswers(&answers);
    d3d = Direct3DCreate8(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    pp = raster_test::Scene::Params(format, depth);
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &dev), D3D_OK);
  }

  // Recreates them with the small desktop's answers as `tweak` changes them.
  void MakeWith(void (*tweak)(D3D8Answers*)) {
    D3D8Answers a = SmallDesktop();
    tweak(&a);
    Make(a);
  }

  void Drop() {
    if (dev) dev->Release();
    if (d3d) d3d->Release();
    dev = nullptr;
    d3d = nullptr;
  }

  void SetUp() override {
    D3D8Test_ResetAll();
    Make(SmallDesktop());
  }

  void TearDown() override {
    Drop();
    D3D8Test_ResetAll();
  }

  // The back buffer (no reference kept, as the driver holds it).
  IDirect3DSurface8* Back() {
    IDirect3DSurface8* s = nullptr;
    dev->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &s);
    s->Release();
    return s;
  }

  static uint32_t Pixel32(IDirect3DSurface8* s, int x, int y) {
    D3D8Test_Finish();
    uint32_t v;
    std::memcpy(&v, s->surface.pixels + (size_t)y * s->surface.pitch + (size_t)x * 4, 4);
    return v;
  }
};
