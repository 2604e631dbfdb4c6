#include "platform/direct3d/d3d8_present.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include "platform/direct3d/d3d8.h"
#include "platform/direct3d/rasteriser.h"
#include "platform/win32/gdi.h"
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

// The window's pixels are the back buffer's (alpha aside).
bool WindowShows(Window* window, IDirect3DSurface8* back) {
  SDL_Surface* screen = Window_Surface(Window_SdlWindow(window));
  D3DLOCKED_RECT lr{};
  if (!screen || back->LockRect(&lr, nullptr, D3DLOCK_READONLY) != D3D_OK) return false;
  bool same = true;
  for (int y = 0; y < screen->h; ++y)
    for (int x = 0; x < screen->w; ++x) {
      uint32_t shown, drawn;
      memcpy(&shown, static_cast<uint8_t*>(screen->pixels) + size_t(y) * size_t(screen->pitch) + size_t(x) * 4, 4);
      memcpy(&drawn, static_cast<uint8_t*>(lr.pBits) + size_t(y) * size_t(lr.Pitch) + size_t(x) * 4, 4);
      same &= ((shown ^ drawn) & 0xFFFFFFu) == 0;
    }
  back->UnlockRect();
  return same;
}

// The flush copies a presented frame into the window tile by tile, those
// its last draws left alone and a frame with no draw included; what takes
// the window's surface, sets its size or destroys it waits for that copy
// (the frame is finished and captured by then).
TEST_F(Present, TheWindowShowsEachFrameWholeAndChangesOnlyOnceItIsCopied) {
  for (int threads : {1, 8}) {
    Rasteriser_SetThreads(threads);
    Window* window = Window_Create("d3d8", 150, 100, 0);
    if (!window) GTEST_SKIP() << "no SDL video";
    OnWindow(*this, window, false);
    GdiContext* dc = Gdi_GetDC(window);
    const D3DRECT8 oneTile = {70, 10, 90, 30};
    const std::string path = TempPath("fenced.png");
    const std::function<void()> actions[] = {
        [&] { Gdi_PatBlt(dc, 0, 0, 150, 100, GDI_WHITENESS); },
        [&] { Window_UserResize(window, 120, 80); },
        [&] { Window_SetOuterSize(window, 300, 200); },
        [&] { Window_Destroy(window); },
    };
    for (const auto& action : actions) {
      D3D8Test_Finish();
      std::remove(path.c_str());
      dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF3366CCu, 1, 0);
      D3D8Present_CaptureFrame(0, path.c_str());
      ASSERT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
      D3D8Present_CaptureFrame(0, nullptr);
      action();
      EXPECT_TRUE(std::remove(path.c_str()) == 0) << threads << " threads, action " << &action - actions;
      if (&action != actions) continue;
      for (int draws : {1, 0}) {
        if (draws) dev->Clear(1, &oneTile, D3DCLEAR_TARGET, 0xFFCC6633u, 1, 0);
        dev->Present(nullptr, nullptr, nullptr, nullptr);
        D3D8Test_Finish();
        EXPECT_TRUE(WindowShows(window, Back())) << threads << " threads, " << draws << " draws";
        Gdi_PatBlt(dc, 0, 0, 150, 100, GDI_BLACKNESS);
      }
    }
    Gdi_ReleaseDC(window, dc);
    Drop();
  }
  Rasteriser_SetThreads(0);
}

}  // namespace
