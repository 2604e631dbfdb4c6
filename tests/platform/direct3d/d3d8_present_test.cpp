#include "platform/direct3d/d3d8_present.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include "platform/direct3d/d3d8.h"
#include "platform/win32/window.h"
#include "tests/platform/direct3d/d3d8_fixture.h"
#include "tests/test_env.h"

namespace {

using Present = D3D8Fixture;

std::string TempPath(const std::string& name) { return TestTmp().string() + "/d3d8_present_" + name; }
bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// Object and device again, on `window` at its client size.
void OnWindow(D3D8Fixture& f, Window* window, bool deviceWindow) {
  f.Drop();
  f.d3d = Direct3DCreate8(D3D_SDK_VERSION);
  f.pp = raster_test::Scene::Params();
  if (deviceWindow) f.pp.hDeviceWindow = window;
  ASSERT_EQ(f.d3d->CreateDevice(0, 1, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &f.pp, &f.dev), D3D_OK);
}

TEST_F(Present, DamagedOrMissingPngIsRefusedAndCapturesOfEveryFrameAreNumbered) {
  int w, h;
  EXPECT_EQ(D3D8Present_ReadPng(TempPath("missing.png").c_str(), &w, &h), nullptr);
  // A real image cut short.
  IDirect3DSurface8* back = Back();
  dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF336699u, 1, 0);
  std::string path = TempPath("cut.png");
  ASSERT_EQ(D3D8Present_WritePng(&back->surface, nullptr, path.c_str()), 1);
  std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
  EXPECT_EQ(D3D8Present_ReadPng(path.c_str(), &w, &h), nullptr);
  // Depth surfaces are not images; nothing is written.
  IDirect3DSurface8* z = nullptr;
  dev->GetDepthStencilSurface(&z);
  EXPECT_EQ(D3D8Present_WritePng(&z->surface, nullptr, TempPath("depth.png").c_str()), 0);
  EXPECT_FALSE(Exists(TempPath("depth.png")));
  z->Release();
  std::remove(path.c_str());
  // Capturing every frame numbers the files.
  std::string pattern = TempPath("every_%d.png");
  D3D8Present_CaptureEveryFrame(pattern.c_str());
  dev->Present(nullptr, nullptr, nullptr, nullptr);
  dev->Present(nullptr, nullptr, nullptr, nullptr);
  D3D8Present_CaptureEveryFrame(nullptr);
  D3D8Test_Finish();
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(Exists(TempPath("every_" + std::to_string(i) + ".png"))) << i;
    std::remove(TempPath("every_" + std::to_string(i) + ".png").c_str());
  }
}

TEST_F(Present, TheWindowOwnersDesktopSizeIsTheAdaptersDesktopMode) {
  D3D8Test_SetAnswers(nullptr);
  D3DDISPLAYMODE mode;
  for (uint32_t w : {320u, 0u}) {
    D3D8Present_SetDesktopSize(w, 200);
    IDirect3D8* object = Direct3DCreate8(D3D_SDK_VERSION);
    object->GetAdapterDisplayMode(0, &mode);
    EXPECT_EQ(mode.Width, w ? w : 640u);
    object->Release();
  }
}

TEST_F(Present, HeadlessWindowsGiveTheirClientSizeAndShowNothing) {
  Window* window = Window_Create("d3d8", 50, 20, WINDOW_HEADLESS);
  ASSERT_NE(window, nullptr);
  OnWindow(*this, window, false);
  EXPECT_EQ(pp.BackBufferWidth, 50u);
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  // The user resizes; a reset with size 0 follows the new client area.
  Window_UserResize(window, 70, 35);
  D3DPRESENT_PARAMETERS again = raster_test::Scene::Params();
  ASSERT_EQ(dev->Reset(&again), D3D_OK);
  EXPECT_EQ(std::make_pair(again.BackBufferWidth, again.BackBufferHeight), std::make_pair(70u, 35u));
  D3DSURFACE_DESC desc;
  Back()->GetDesc(&desc);
  EXPECT_EQ(desc.Width, 70u);
  Drop();
  Window_Destroy(window);
}

}  // namespace
