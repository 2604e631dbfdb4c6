// The stand-in's own test hooks: recording and fault scripts.
#include "platform/direct3d/d3d8_test.h"

#include <gtest/gtest.h>


#include "tests/platform/direct3d/d3d8_fixture.h"

namespace {

using Hooks = D3D8Fixture;

// A creation's answer, checked to leave what it makes null when it fails;
// what it made is released.
template <class T>
D3DRESULT Made(D3DRESULT r, T** made) {
  EXPECT_EQ(r < 0, *made == nullptr);
  if (*made) (*made)->Release();
  return r;
}

// Each script skips one call, fails the next two with its answer (leaving
// what the call would make null) and then stops; other calls are untouched.
// (The driver and world tests script the device, lock and draw faults.)
TEST_F(Hooks, FaultScriptsSkipThenFailThenStop) {
  const struct {
    D3D8FaultCall fault;
    D3DRESULT answer;
    D3DRESULT (*call)(Hooks& h);
  } rows[] = {
      {D3D8_FAULT_PRESENT, D3DERR_DEVICELOST, [](Hooks& h) { return h.dev->Present(nullptr, nullptr, nullptr, nullptr); }},
      {D3D8_FAULT_CREATESURFACE, D3DERR_OUTOFVIDEOMEMORY,
       [](Hooks& h) {
         IDirect3DSurface8* z = nullptr;
         return Made(h.dev->CreateDepthStencilSurface(8, 8, D3DFMT_D24X8, 0, &z), &z);
       }},
      {D3D8_FAULT_CREATETEXTURE, D3DERR_OUTOFVIDEOMEMORY,
       [](Hooks& h) {
         IDirect3DTexture8* t = nullptr;
         return Made(h.dev->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t), &t);
       }},
  };
  for (const auto& row : rows) {
    D3D8Test_InjectFault(row.fault, 1, 2, row.answer);
    EXPECT_EQ(row.call(*this), D3D_OK) << row.fault;
    EXPECT_EQ(row.call(*this), row.answer) << row.fault;
    EXPECT_EQ(row.call(*this), row.answer) << row.fault;
    EXPECT_EQ(row.call(*this), D3D_OK) << row.fault;
  }
  EXPECT_EQ(D3D8Test_Fault(D3D8_FAULT_PRESENT), D3D_OK);
  // A failed call changes nothing: the depth surface stays bound.
  D3D8Test_InjectFault(D3D8_FAULT_SETRENDERTARGET, 0, 1, D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->SetRenderTarget(Back(), nullptr), D3DERR_INVALIDCALL);
  IDirect3DSurface8* z = nullptr;
  dev->GetDepthStencilSurface(&z);
  ASSERT_NE(z, nullptr);
  z->Release();
}

}  // namespace
