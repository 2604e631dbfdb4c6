// The stand-in's own test hooks: recording and fault scripts.
#include "platform/direct3d/d3d8_test.h"

#include <gtest/gtest.h>

#include <string>

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
TEST_F(Hooks, FaultScriptsSkipThenFailThenStop) {
  const struct {
    D3D8FaultCall fault;
    D3DRESULT answer;
    D3DRESULT (*call)(Hooks& h);
  } rows[] = {
      {D3D8_FAULT_PRESENT, D3DERR_DEVICELOST, [](Hooks& h) { return h.dev->Present(nullptr, nullptr, nullptr, nullptr); }},
      {D3D8_FAULT_CREATEDEVICE, D3DERR_NOTAVAILABLE,
       [](Hooks& h) {
         IDirect3DDevice8* second = nullptr;
         D3DPRESENT_PARAMETERS p = Windowed();
         return Made(h.d3d->CreateDevice(0, 1, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &second), &second);
       }},
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
      {D3D8_FAULT_LOCK, D3DERR_INVALIDCALL,
       [](Hooks& h) {
         IDirect3DVertexBuffer8* vb = nullptr;
         EXPECT_EQ(h.dev->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, &vb), D3D_OK);
         uint8_t* p = nullptr;
         const D3DRESULT r = vb->Lock(0, 0, &p, 0);
         EXPECT_EQ(r < 0, p == nullptr);
         if (p) vb->Unlock();
         vb->Release();
         return r;
       }},
      {D3D8_FAULT_DRAW, D3DERR_INVALIDCALL,
       [](Hooks& h) {
         const float tri[3][7] = {{0, 0, 0.5f, 1}, {9, 0, 0.5f, 1}, {0, 9, 0.5f, 1}};
         h.dev->SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
         h.dev->BeginScene();
         const D3DRESULT r = h.dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, 28);
         h.dev->EndScene();
         return r;
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
