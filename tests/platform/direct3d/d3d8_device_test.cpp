#include "platform/direct3d/d3d8_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/direct3d/d3d8_test.h"
#include "platform/direct3d/rasteriser_pshader.h"
#include "tests/platform/direct3d/d3d8_fixture.h"

namespace {

using Device = D3D8Fixture;

struct Vertex2D {  // FVF 0x144: XYZRHW | DIFFUSE | TEX1
  float x, y, z, rhw;
  uint32_t colour;
  float u, v;
};
constexpr uint32_t kDeviceFvf2D = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

const Vertex2D kTriangle[3] = {
    {0, 0, 0.5f, 1, 0xFFFFFFFFu, 0, 0}, {10, 0, 0.5f, 1, 0xFFFFFFFFu, 1, 0}, {0, 10, 0.5f, 1, 0xFFFFFFFFu, 0, 1}};

// A vertex buffer holding `count` vertices (by default copies of the
// triangle's), bound to stream 0.
IDirect3DVertexBuffer8* BindVertices(IDirect3DDevice8* dev, uint32_t count, const Vertex2D* v = nullptr) {
  IDirect3DVertexBuffer8* vb = nullptr;
  EXPECT_EQ(dev->CreateVertexBuffer(count * sizeof(Vertex2D), D3DUSAGE_WRITEONLY, kDeviceFvf2D, D3DPOOL_MANAGED, &vb),
            D3D_OK);
  uint8_t* p;
  EXPECT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
  const Vertex2D* tri = kTriangle;
  for (uint32_t i = 0; i < count; ++i) std::memcpy(p + i * sizeof(Vertex2D), v ? &v[i] : &tri[i % 3], sizeof(Vertex2D));
  vb->Unlock();
  dev->SetStreamSource(0, vb, sizeof(Vertex2D));
  dev->SetVertexShader(kDeviceFvf2D);
  return vb;
}

IDirect3DIndexBuffer8* BindIndices(IDirect3DDevice8* dev, const uint16_t* indices, uint32_t count) {
  IDirect3DIndexBuffer8* ib = nullptr;
  EXPECT_EQ(dev->CreateIndexBuffer(count * 2, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib), D3D_OK);
  uint8_t* p;
  ib->Lock(0, 0, &p, 0);
  std::memcpy(p, indices, count * 2);
  ib->Unlock();
  dev->SetIndices(ib, 0);
  return ib;
}

TEST_F(Device, ResetFailsWhileADefaultPoolResourceIsAlive) {
  IDirect3DVertexBuffer8* vb = nullptr;
  IDirect3DIndexBuffer8* managed = nullptr;
  IDirect3DTexture8* rt = nullptr;
  ASSERT_EQ(dev->CreateVertexBuffer(64, 0x208, 0, D3DPOOL_DEFAULT, &vb), D3D_OK);
  ASSERT_EQ(dev->CreateIndexBuffer(64, 8, D3DFMT_INDEX16, D3DPOOL_MANAGED, &managed), D3D_OK);
  ASSERT_EQ(dev->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &rt), D3D_OK);
  EXPECT_EQ(dev->Reset(&pp), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  vb->Release();
  EXPECT_EQ(dev->Reset(&pp), D3DERR_INVALIDCALL);
  rt->Release();
  EXPECT_EQ(dev->Reset(&pp), D3D_OK);  // managed resources survive a reset
  EXPECT_EQ(dev->TestCooperativeLevel(), D3D_OK);
  uint8_t* p;
  EXPECT_EQ(managed->Lock(0, 0, &p, 0), D3D_OK);
  managed->Unlock();
  managed->Release();

  IDirect3DSurface8* z = nullptr;
  IDirect3DSwapChain8* chain = nullptr;
  ASSERT_EQ(dev->CreateDepthStencilSurface(64, 48, D3DFMT_D24X8, 0, &z), D3D_OK);
  D3DPRESENT_PARAMETERS second = pp;
  second.BackBufferWidth = second.BackBufferHeight = 0;
  ASSERT_EQ(dev->CreateAdditionalSwapChain(&second, &chain), D3D_OK);
  EXPECT_EQ(second.BackBufferWidth, 64u);  // size 0: the (desktop-sized) client area
  EXPECT_EQ(chain->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
  IDirect3DSurface8* chainBack = nullptr;
  ASSERT_EQ(chain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &chainBack), D3D_OK);
  chainBack->Release();
  ASSERT_EQ(dev->SetRenderTarget(chainBack, z), D3D_OK);  // the second window with its own Z raster
  ASSERT_EQ(dev->SetRenderTarget(Back(), nullptr), D3D_OK);
  EXPECT_EQ(dev->Reset(&pp), D3DERR_INVALIDCALL);
  EXPECT_EQ(chain->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);  // waiting for a reset
  z->Release();
  EXPECT_EQ(dev->Reset(&pp), D3DERR_INVALIDCALL);
  chain->Release();
  EXPECT_EQ(dev->Reset(&pp), D3D_OK);

  // Released by the driver but still bound: alive, so the reset fails until unbound.
  ASSERT_EQ(dev->CreateVertexBuffer(64, 0x208, 0, D3DPOOL_DEFAULT, &vb), D3D_OK);
  ASSERT_EQ(dev->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &rt), D3D_OK);
  IDirect3DSurface8* level = nullptr;
  rt->GetSurfaceLevel(0, &level);
  dev->SetStreamSource(0, vb, 16);
  dev->SetRenderTarget(level, nullptr);
  vb->Release();
  level->Release();
  rt->Release();
  EXPECT_EQ(dev->Reset(&pp), D3DERR_INVALIDCALL);
  dev->SetStreamSource(0, nullptr, 0);
  EXPECT_EQ(dev->Reset(&pp), D3DERR_INVALIDCALL);
  dev->SetRenderTarget(Back(), nullptr);
  EXPECT_EQ(dev->Reset(&pp), D3D_OK);
}

TEST_F(Device, ResetRestoresDirect3DDefaults) {
  dev->SetRenderState(D3DRS_FOGCOLOR, 0xFF00FF00u);
  dev->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFFu);
  dev->SetTextureStageState(3, D3DTSS_TEXCOORDINDEX, 0);
  dev->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
  D3DLIGHT8 light{};
  light.Type = D3DLIGHT_POINT;
  dev->SetLight(4, &light);
  dev->LightEnable(4, 1);
  D3DVIEWPORT8 vp{4, 4, 8, 8, 0, 1};
  dev->SetViewport(&vp);
  D3DMATRIX m{};
  dev->SetTransform(D3DTS_WORLD, &m);
  ASSERT_EQ(dev->Reset(&pp), D3D_OK);

  const struct {
    uint32_t state, value;
  } defaults[] = {{D3DRS_FOGCOLOR, 0},    {D3DRS_AMBIENT, 0},       {D3DRS_ZENABLE, 1},  // an automatic depth surface
                  {D3DRS_CULLMODE, D3DCULL_CCW}, {D3DRS_LIGHTING, 1}, {D3DRS_COLORWRITEENABLE, 0xF}};
  uint32_t v;
  for (const auto& d : defaults) EXPECT_EQ((dev->GetRenderState(d.state, &v), v), d.value) << d.state;
  for (uint32_t stage = 0; stage < 8; ++stage) {
    EXPECT_EQ((dev->GetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, &v), v), stage);
    EXPECT_EQ((dev->GetTextureStageState(stage, D3DTSS_COLOROP, &v), v), stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE);
  }
  EXPECT_EQ((dev->GetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, &v), v), 0u);
  int32_t on;
  EXPECT_EQ(dev->GetLightEnable(4, &on), D3DERR_INVALIDCALL);  // lights are gone
  dev->GetViewport(&vp);
  dev->GetTransform(D3DTS_WORLD, &m);
  EXPECT_TRUE(vp.X == 0 && vp.Width == 64 && vp.Height == 48) << vp.X << " " << vp.Width << " x " << vp.Height;
  EXPECT_TRUE(m.m[0][0] == 1.0f && m.m[3][3] == 1.0f);
}

// Draws need a scene (clears do not); a user-pointer draw unsets the stream
// and the indices, so buffer draws fail after it and the buffers' last
// references are the caller's.
TEST_F(Device, DrawsNeedASceneAndUserPointerDrawsUnsetStreamAndIndices) {
  IDirect3DVertexBuffer8* vb = BindVertices(dev, 3);
  const uint16_t idx[3] = {0, 1, 2};
  IDirect3DIndexBuffer8* ib = BindIndices(dev, idx, 3);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
  const Vertex2D* tri = kTriangle;
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(Vertex2D)), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  EXPECT_EQ(dev->BeginScene(), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
  ASSERT_EQ(dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 1, idx, D3DFMT_INDEX16, tri, sizeof(Vertex2D)),
            D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 1, tri, sizeof(Vertex2D)), D3D_OK);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  EXPECT_EQ(dev->EndScene(), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 1, tri, sizeof(Vertex2D)), D3DERR_INVALIDCALL);
  EXPECT_EQ(vb->Release(), 0u);
  EXPECT_EQ(ib->Release(), 0u);
}

TEST_F(Device, DrawsThatWouldReadOutsideTheirBuffersAreRefused) {
  IDirect3DVertexBuffer8* vb = BindVertices(dev, 4);
  const uint16_t idx[6] = {0, 1, 2, 1, 2, 3};
  IDirect3DIndexBuffer8* ib = BindIndices(dev, idx, 6);
  dev->BeginScene();
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 1, 1), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 2, 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 3), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawPrimitive(0, 0, 1), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 4, 0, 2), D3D_OK);
  // Indices reaching past the bound index buffer.
  EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 4, 3, 2), D3DERR_INVALIDCALL);
  // An index (3) outside [minIndex, minIndex + numVertices).
  EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 0, 2), D3DERR_INVALIDCALL);
  // A vertex range past the vertex buffer, through the base vertex index.
  dev->SetIndices(ib, 1);
  EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 4, 0, 2), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 0, 1), D3D_OK);
  // A primitive count of 0 draws nothing and succeeds.
  EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 4, 0, 0), D3D_OK);
  // A stride shorter than the vertex format.
  dev->SetStreamSource(0, vb, 8);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_POINTLIST, 0, 1), D3DERR_INVALIDCALL);
  // No stream at all.
  dev->SetStreamSource(0, nullptr, 0);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_POINTLIST, 0, 1), D3DERR_INVALIDCALL);
  // User-pointer indices outside the vertex range.
  const Vertex2D* tri = kTriangle;
  const uint16_t bad[3] = {0, 1, 3};
  EXPECT_EQ(dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 1, bad, D3DFMT_INDEX16, tri, sizeof(Vertex2D)),
            D3DERR_INVALIDCALL);
  // Counts that no buffer bounds are capped; absurd strides are refused.
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 0x40000000u, tri, sizeof(Vertex2D)), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0xFFFFFFF0u, 0x20, 1, bad, D3DFMT_INDEX16, tri,
                                        sizeof(Vertex2D)),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->SetStreamSource(0, vb, 0x80000000u), D3DERR_INVALIDCALL);
  dev->EndScene();
  ib->Release();
  vb->Release();
}

TEST_F(Device, RenderTargetsSwitchToTextureLevelsAndBack) {
  IDirect3DTexture8* tex = nullptr;
  ASSERT_EQ(dev->CreateTexture(16, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &tex), D3D_OK);
  IDirect3DSurface8* level = nullptr;
  tex->GetSurfaceLevel(0, &level);
  ASSERT_EQ(dev->SetRenderTarget(level, nullptr), D3D_OK);
  D3DVIEWPORT8 vp;
  dev->GetViewport(&vp);
  EXPECT_EQ(std::make_pair(vp.Width, vp.Height), std::make_pair(16u, 8u));
  dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0x80112233u, 1, 0);
  EXPECT_EQ(Pixel32(level, 15, 7), 0x80112233u);
  // A depth surface smaller than the target is refused; an image surface is no target.
  IDirect3DSurface8* image = nullptr;
  ASSERT_EQ(dev->CreateImageSurface(16, 8, D3DFMT_A8R8G8B8, &image), D3D_OK);
  EXPECT_EQ(dev->SetRenderTarget(image, nullptr), D3DERR_INVALIDCALL);
  IDirect3DSurface8 *back = Back(), *z = nullptr;
  dev->GetDepthStencilSurface(&z);
  EXPECT_EQ(z, nullptr);  // none bound with the texture level
  IDirect3DSurface8* small = nullptr;
  ASSERT_EQ(dev->CreateDepthStencilSurface(8, 8, D3DFMT_D24X8, 0, &small), D3D_OK);
  EXPECT_EQ(dev->SetRenderTarget(back, small), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->SetRenderTarget(back, nullptr), D3D_OK);
  small->Release();
  image->Release();
  level->Release();
  tex->Release();
}

TEST_F(Device, LightsAreUnboundedAndEnablingAnUnsetOneGivesTheDefaultLight) {
  ASSERT_EQ(dev->LightEnable(1000000, 1), D3D_OK);
  D3DLIGHT8 light;
  ASSERT_EQ(dev->GetLight(1000000, &light), D3D_OK);
  EXPECT_EQ(std::make_tuple(light.Type, light.Diffuse.r, light.Direction.z),
            std::make_tuple(D3DLIGHT_DIRECTIONAL, 1.0f, 1.0f));
  light.Type = 9;
  EXPECT_EQ(dev->SetLight(0, &light), D3DERR_INVALIDCALL);
}

TEST_F(Device, ValidateDeviceAnswersTruthfullyForTheStagesItHas) {
  uint32_t passes = 0;
  EXPECT_EQ(dev->ValidateDevice(&passes), D3D_OK);
  EXPECT_EQ(passes, 1u);
  // The env pass: stage 1 ADD on a one-stage device.
  dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
  EXPECT_EQ(dev->ValidateDevice(&passes), D3DERR_TOOMANYOPERATIONS);
  EXPECT_EQ(passes, 0u);
  dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
  EXPECT_EQ(dev->ValidateDevice(&passes), D3DERR_UNSUPPORTEDCOLOROPERATION);

  MakeWith([](D3D8Answers* a) { a->blendStages = 2, a->modulate2x = true; });
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
  dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
  EXPECT_EQ(dev->ValidateDevice(&passes), D3D_OK);
  dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MULTIPLYADD);
  EXPECT_EQ(dev->ValidateDevice(&passes), D3DERR_UNSUPPORTEDCOLOROPERATION);
  // Scripted answers come first, in order.
  D3D8Test_ScriptValidate(D3D_OK, 1);
  D3D8Test_ScriptValidate(D3DERR_TOOMANYOPERATIONS, 0);
  EXPECT_EQ(dev->ValidateDevice(&passes), D3D_OK);
  EXPECT_EQ(dev->ValidateDevice(&passes), D3DERR_TOOMANYOPERATIONS);
  EXPECT_EQ(dev->ValidateDevice(&passes), D3DERR_UNSUPPORTEDCOLOROPERATION);
}

// The state calls refuse slots they lack and null pointers, and say so in
// the recording; WORLD1-3 are held though nothing blends with them.
TEST_F(Device, StateCallsRefuseSlotsTheyLackAndNullPointers)
{
    using namespace raster_test::ps;
    IDirect3DTexture8* other = nullptr;
    ASSERT_EQ(dev->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &other), D3D_OK);
    MakeWith([](D3D8Answers* a) { a->pixelShaders = true; });  // `other` is now another device's
    const D3DMATRIX m{};
    const D3DMATERIAL8 material{};
    const uint32_t shader[] = {D3DPS_VERSION_1_1, D3DSIO_MOV, Dst(R(0)), Src(V(0)), D3DPS_END};
    D3DMATRIX outMatrix;
    IDirect3DBaseTexture8* outTexture;
    // Checks the answer and the recording of the call just made, then records the next one.
    auto check = [](D3DRESULT answer, D3DRESULT expected, const char* start) {
        EXPECT_EQ(answer, expected) << start;
        EXPECT_EQ(std::string(D3D8Test_Recording()).rfind(start, 0), 0u) << D3D8Test_Recording();
        D3D8Test_StartRecording();
    };
    D3D8Test_StartRecording();
    check(dev->SetTransform(D3DTS_WORLD + 1, &m), D3D_OK, "SetTransform(257, ");
    check(dev->SetTransform(D3DTS_WORLD + 4, &m), D3DERR_INVALIDCALL, "SetTransform(260, ");
    check(dev->SetTransform(D3DTS_TEXTURE0 + 8, &m), D3DERR_INVALIDCALL, "SetTransform(24, ");
    check(dev->SetTransform(D3DTS_VIEW, nullptr), D3DERR_INVALIDCALL, "");
    check(dev->GetTransform(D3DTS_WORLD + 1, &outMatrix), D3DERR_INVALIDCALL, "GetTransform(257)");
    check(dev->SetMaterial(nullptr), D3DERR_INVALIDCALL, "");
    check(dev->SetMaterial(&material), D3D_OK, "SetMaterial(diffuse 0 0 0 0, ambient 0 0 0 0) = 0");
    check(dev->GetMaterial(nullptr), D3DERR_INVALIDCALL, "GetMaterial()");
    check(dev->SetLight(2, nullptr), D3DERR_INVALIDCALL, "SetLight(2, type 0) = 0x8876086c");
    check(dev->LightEnable(2, 0), D3D_OK, "LightEnable(2, 0) = 0");
    check(dev->LightEnable(2, 1), D3D_OK, "LightEnable(2, 1) = 0");
    check(dev->GetLightEnable(2, nullptr), D3DERR_INVALIDCALL, "GetLightEnable(2)");
    check(dev->SetRenderState(256, 0), D3DERR_INVALIDCALL, "SetRenderState(256, 0x0) = 0x8876086c");
    check(dev->SetTextureStageState(8, 1, 2), D3DERR_INVALIDCALL, "SetTextureStageState(8, 1, 0x2) = 0x88");
    check(dev->SetTextureStageState(0, 99, 2), D3DERR_INVALIDCALL, "SetTextureStageState(0, 99, 0x2) = 0x88");
    check(dev->GetTextureStageState(0, 1, nullptr), D3DERR_INVALIDCALL, "GetTextureStageState(0, 1)");
    check(dev->SetTexture(8, nullptr), D3DERR_INVALIDCALL, "SetTexture(8, ");
    check(dev->SetTexture(0, other), D3DERR_INVALIDCALL, "SetTexture(0, ");
    check(dev->GetTexture(8, &outTexture), D3DERR_INVALIDCALL, "GetTexture(8)");
    check(dev->SetVertexShader(0), D3DERR_INVALIDCALL, "SetVertexShader(0x0) = 0x8876086c");
    check(dev->GetVertexShader(nullptr), D3DERR_INVALIDCALL, "GetVertexShader()");
    check(dev->ValidateDevice(nullptr), D3DERR_INVALIDCALL, "ValidateDevice() = 0x8876086c 0");
    check(dev->CreatePixelShader(shader, nullptr), D3DERR_INVALIDCALL, "CreatePixelShader(0xffff0101) = 0x88");
    check(dev->SetPixelShaderConstant(0, nullptr, 1), D3DERR_INVALIDCALL, "SetPixelShaderConstant(0, 1)");
    D3D8Test_StopRecording();
    other->Release();
}

// Off by default (only the null shader binds); switched on, created, bound and drawn.
TEST_F(Device, PixelShadersAreCreatedBoundAndDrawnOnlyWhereSwitchedOn) {
  using namespace raster_test::ps;
  uint32_t handle = 7;
  const uint32_t tokens[2] = {0xFFFF0100u, 0x0000FFFFu};
  EXPECT_EQ(dev->CreatePixelShader(tokens, &handle), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(dev->SetPixelShader(0), D3D_OK);
  EXPECT_LT(dev->SetPixelShader(1), 0);
  EXPECT_EQ(dev->SetVertexShader(0x152), D3D_OK);
  EXPECT_EQ(dev->SetVertexShader(0x252), D3D_OK);
  EXPECT_LT(dev->SetVertexShader(0), 0);  // no position
  MakeWith([](D3D8Answers* a) { a->pixelShaders = true; });
  D3DCAPS8 caps;
  dev->GetDeviceCaps(&caps);
  EXPECT_EQ(caps.PixelShaderVersion, D3D8_PIXEL_SHADER_VERSION);
  const uint32_t constant[] = {D3DPS_VERSION_1_1, D3DSIO_MOV, Dst(R(0)), Src(C(0)), D3DPS_END};  // r0 = c0
  uint32_t first = 0, second = 0, refused = 9;
  D3D8Test_StartRecording();
  ASSERT_EQ(dev->CreatePixelShader(constant, &first), D3D_OK);
  D3D8Test_StopRecording();
  EXPECT_NE(std::string(D3D8Test_Recording()).find("CreatePixelShader(0xffff0101) = 0x0 " + std::to_string(first)),
            std::string::npos)
      << D3D8Test_Recording();
  ASSERT_EQ(dev->CreatePixelShader(constant, &second), D3D_OK);
  EXPECT_NE(first, 0u);
  EXPECT_NE(second, first);
  EXPECT_EQ(dev->CreatePixelShader(nullptr, &refused), D3DERR_INVALIDCALL);  // other refusals: the next test
  EXPECT_EQ(refused, 0u);
  D3D8Test_InjectFault(D3D8_FAULT_CREATESHADER, 0, 1, D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(dev->CreatePixelShader(constant, &refused), D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(refused, 0u);

  // The bound shader colours the draw with the constants of the moment;
  // deleting it unbinds it, and a deleted handle is unknown.
  IDirect3DVertexBuffer8* vb = BindVertices(dev, 3);
  dev->SetRenderState(D3DRS_ZENABLE, 0);
  const float red[4] = {1, 0, 0, 1}, green[4] = {0, 1, 0, 1};
  EXPECT_EQ(dev->SetPixelShaderConstant(0, red, 1), D3D_OK);
  EXPECT_EQ(dev->SetPixelShaderConstant(7, red, 2), D3DERR_INVALIDCALL);  // past c7
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  EXPECT_EQ(dev->SetPixelShader(second), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
  EXPECT_EQ(dev->SetPixelShaderConstant(0, green, 1), D3D_OK);
  EXPECT_EQ(Pixel32(Back(), 1, 1) & 0xFFFFFFu, 0xFF0000u);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
  EXPECT_EQ(Pixel32(Back(), 1, 1) & 0xFFFFFFu, 0x00FF00u);
  EXPECT_EQ(dev->DeletePixelShader(second), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
  EXPECT_EQ(Pixel32(Back(), 1, 1) & 0xFFFFFFu, 0xFFFFFFu);  // the stages again: white vertices
  EXPECT_EQ(dev->SetPixelShader(second), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DeletePixelShader(second), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DeletePixelShader(0), D3DERR_INVALIDCALL);
  dev->EndScene();
  vb->Release();

  // Shaders do not survive a reset: a live one blocks it.
  EXPECT_EQ(dev->Reset(&pp), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->DeletePixelShader(first), D3D_OK);
  EXPECT_EQ(dev->Reset(&pp), D3D_OK);
  uint32_t again = 0;
  ASSERT_EQ(dev->CreatePixelShader(constant, &again), D3D_OK);
  EXPECT_GT(again, second);  // handles are never reused
}

// Streams the check refuses, each in an allocation of its own size, so that
// a read past its end token shows under the sanitizers; streams without an
// end token go to the compiler with their length. Beside them, streams at
// the edges of what it accepts.
TEST_F(Device, MalformedPixelShadersAreRefused) {
  using namespace raster_test::ps;
  MakeWith([](D3D8Answers* a) { a->pixelShaders = true; });
  constexpr uint32_t V10 = D3DPS_VERSION_1_0, V11 = D3DPS_VERSION_1_1, END = D3DPS_END, MOV = D3DSIO_MOV,
                     TEX = D3DSIO_TEX, CO = D3DSI_COISSUE;
  const uint32_t r0 = Dst(R(0)), v0 = Src(V(0));
  auto repeat = [&](int n, std::vector<uint32_t> one) {
    std::vector<uint32_t> out = {V10};
    for (int i = 0; i < n; ++i) out.insert(out.end(), one.begin(), one.end());
    out.push_back(END);
    return out;
  };
  struct Case {
    const char* what;
    std::vector<uint32_t> tokens;
  };
  const Case refused[] = {
      {"version 1.4", {0xFFFF0104u, MOV, r0, v0, END}},
      {"dp3", {V10, 8, r0, v0, v0, END}},
      {"a comment", {V10, 0x0001FFFEu, 0, MOV, r0, v0, END}},
      {"tex after arithmetic", {V10, MOV, r0, v0, TEX, Dst(T(0)), END}},
      {"tex twice", {V10, TEX, Dst(T(0)), TEX, Dst(T(0)), MOV, r0, Src(T(0)), END}},
      {"tex of r0", {V10, TEX, r0, END}},
      {"tex t4", {V10, TEX, Dst(T(4)), MOV, r0, v0, END}},
      {"tex .rgb", {V10, TEX, Dst(T(0), RGB), MOV, r0, v0, END}},
      {"co-issued tex", {V10, TEX | CO, Dst(T(0)), MOV, r0, v0, END}},
      {"t1 never sampled", {V10, MOV, r0, Src(T(1)), END}},
      {"r0 never written", {V10, MOV, Dst(R(1)), v0, END}},
      {"v0 written", {V10, MOV, Dst(V(0)), v0, MOV, r0, v0, END}},
      {"c0 written", {V10, MOV, Dst(C(0)), v0, MOV, r0, v0, END}},
      {"r2", {V10, MOV, Dst(R(2)), v0, MOV, r0, v0, END}},
      {"c8", {V10, MOV, r0, Src(C(8)), END}},
      {"write mask .rg", {V10, MOV, Dst(R(0), 0x00030000u), v0, END}},
      {"selector .g", {V10, MOV, r0, Src(V(0), 0x00550000u), END}},
      {"selector .b in 1.0", {V10, MOV, r0, Src(V(0), D3DSP_REPLICATEBLUE), END}},
      {"source modifier x2", {V10, MOV, r0, Src(V(0), D3DSP_NOSWIZZLE, 7), END}},
      {"result shift x8", {V10, MOV, Dst(R(0), D3DSP_WRITEMASK_ALL, 3u << 24), v0, END}},
      {"unknown result modifier", {V10, MOV, Dst(R(0), D3DSP_WRITEMASK_ALL, 0x00200000u), v0, END}},
      {"co-issue first", {V10, MOV | CO, Dst(R(0), ALPHA), v0, MOV, Dst(R(0), RGB), v0, END}},
      {"co-issued pair both .rgb", {V10, MOV, Dst(R(0), RGB), v0, MOV | CO, Dst(R(0), RGB), v0, END}},
      {"three co-issued",
       {V10, MOV, Dst(R(0), RGB), v0, MOV | CO, Dst(R(0), ALPHA), v0, MOV | CO, Dst(R(1), ALPHA), v0, END}},
      {"nine arithmetic slots", repeat(9, {MOV, r0, v0})},
      {"a wrong length", {V10, MOV | 3u << D3DSI_INSTLENGTH_SHIFT, r0, v0, END}},
      {"control bits", {V10, MOV | 1u << 16, r0, v0, END}},
      {"a parameter where an instruction belongs", {V10, r0, END}},
      {"an instruction cut short by the end", {V10, D3DSIO_MAD, r0, v0, END}},
  };
  for (const Case& c : refused) {
    uint32_t handle = 9;
    EXPECT_EQ(dev->CreatePixelShader(c.tokens.data(), &handle), D3DERR_INVALIDCALL) << c.what;
    EXPECT_EQ(handle, 0u) << c.what;
  }
  const std::vector<uint32_t> unterminated[] = {{}, {V10}, {V10, MOV, r0, v0}, {V10, D3DSIO_MAD, r0, v0}};
  for (const std::vector<uint32_t>& tokens : unterminated) {
    RasteriserPShader program;
    const char* reason = nullptr;
    EXPECT_EQ(RasteriserPShader_Compile(tokens.data(), tokens.size(), &program, &reason), 0) << tokens.size();
    EXPECT_NE(reason, nullptr);
  }
  const Case accepted[] = {
      {"eight co-issued pairs", repeat(8, {MOV, Dst(R(0), RGB), v0, MOV | CO, Dst(R(0), ALPHA), v0})},
      {"lengths given",
       {V10, TEX | 1u << D3DSI_INSTLENGTH_SHIFT, Dst(T(0)), MOV | 2u << D3DSI_INSTLENGTH_SHIFT, r0, Src(T(0)), END}},
      {"selector .b in 1.1", {V11, MOV, r0, Src(V(0), D3DSP_REPLICATEBLUE), END}},
  };
  for (const Case& c : accepted) {
    uint32_t handle = 0;
    EXPECT_EQ(dev->CreatePixelShader(c.tokens.data(), &handle), D3D_OK) << c.what;
    EXPECT_EQ(dev->DeletePixelShader(handle), D3D_OK) << c.what;
  }
}

TEST_F(Device, LostDeviceWalksLostThenNotResetUntilAResetSucceeds) {
  IDirect3DSurface8* back = Back();
  dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1, 0);
  D3D8Test_LoseDevice(dev, 2);
  // A lost device accepts clears and draws and does nothing with them.
  EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFFu, 1, 0), D3D_OK);
  const Vertex2D* tri = kTriangle;
  dev->SetVertexShader(kDeviceFvf2D);
  dev->BeginScene();
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(Vertex2D)), D3D_OK);
  dev->EndScene();
  EXPECT_EQ(Pixel32(back, 1, 1), 0xFF000000u);
  EXPECT_EQ(dev->TestCooperativeLevel(), D3DERR_DEVICELOST);
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
  EXPECT_EQ(dev->TestCooperativeLevel(), D3DERR_DEVICELOST);
  EXPECT_EQ(dev->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  D3D8Test_InjectFault(D3D8_FAULT_RESET, 0, 1, D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->Reset(&pp), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
  EXPECT_EQ(dev->Reset(&pp), D3D_OK);
  EXPECT_EQ(dev->TestCooperativeLevel(), D3D_OK);
  EXPECT_EQ(dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
}

TEST_F(Device, ReleasingTheDeviceBeforeItsResourcesIsSafe) {
  IDirect3DTexture8* tex = nullptr;
  ASSERT_EQ(dev->CreateTexture(8, 8, 0, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, &tex), D3D_OK);
  dev->SetTexture(0, tex);
  dev->Release();
  dev = nullptr;
  // The device unbound the texture; the texture is still whole.
  D3DLOCKED_RECT lr;
  ASSERT_EQ(tex->LockRect(3, &lr, nullptr, 0), D3D_OK);
  tex->UnlockRect(3);
  EXPECT_EQ(tex->Release(), 0u);  // frees the device's memory as well (checked by the leak sanitizer)
}

}  // namespace
