// The stand-in's own test hooks: recording and fault scripts.
#include "platform/direct3d/d3d8_test.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/platform/direct3d/d3d8_fixture.h"

namespace {

using Hooks = D3D8Fixture;

TEST_F(Hooks, RecordingLogsEveryCallWithArgumentsAndResults) {
  D3D8Test_StartRecording();
  dev->SetRenderState(D3DRS_FOGCOLOR, 0xFF00FF00u);
  dev->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
  dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1);  // outside a scene: recorded as failed
  IDirect3DSurface8* back = nullptr;
  dev->GetBackBuffer(0, 0, &back);
  back->Release();
  D3D8Test_StopRecording();
  dev->SetRenderState(D3DRS_AMBIENT, 1);  // not recorded
  std::string log = D3D8Test_Recording();
  EXPECT_NE(log.find("SetRenderState(34, 0xff00ff00) = 0x0\n"), std::string::npos) << log;
  EXPECT_NE(log.find("SetTextureStageState(1, 11, 0x10000) = 0x0\n"), std::string::npos) << log;
  EXPECT_NE(log.find("DrawPrimitive(4, 0, 1) = 0x8876086c\n"), std::string::npos) << log;
  std::string name = "#" + std::to_string(back->id);
  EXPECT_NE(log.find("GetBackBuffer(0, 0) = 0x0 " + name), std::string::npos) << log;
  EXPECT_NE(log.find("Release(" + name + ")"), std::string::npos) << log;
  EXPECT_EQ(log.find("SetRenderState(139"), std::string::npos);
}

TEST_F(Hooks, FaultScriptsSkipThenFailThenStop) {
  D3D8Test_InjectFault(D3D8_FAULT_PRESENT, 2, 2, D3DERR_DEVICELOST);
  EXPECT_EQ(D3D8Test_Fault(D3D8_FAULT_PRESENT), D3D_OK);
  EXPECT_EQ(D3D8Test_Fault(D3D8_FAULT_PRESENT), D3D_OK);
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  // Creation scripts: the device itself and surfaces.
  D3D8Test_InjectFault(D3D8_FAULT_CREATEDEVICE, 0, 1, D3DERR_NOTAVAILABLE);
  IDirect3DDevice8* second = nullptr;
  D3DPRESENT_PARAMETERS p = Windowed();
  EXPECT_EQ(d3d->CreateDevice(0, 1, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &second),
            D3DERR_NOTAVAILABLE);
  EXPECT_EQ(second, nullptr);
  D3D8Test_InjectFault(D3D8_FAULT_CREATESURFACE, 0, 1, D3DERR_OUTOFVIDEOMEMORY);
  IDirect3DSurface8* z = nullptr;
  EXPECT_EQ(dev->CreateDepthStencilSurface(8, 8, D3DFMT_D24X8, 0, &z), D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(z, nullptr);
}

}  // namespace
