#include "gfx/driver/d3d8/d3d8renderstate.h"

#include <array>
#include <cstring>
#include <tuple>

#include "gfx/driver/d3d8/d3d8camera.h"
#include "gfx/driver/d3d8/d3d8raster.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"

namespace {

class RenderStateTest : public D3D8DriverTest {
protected:
    void SetUp() override { StartEngine(0); }
    static std::string Flushed(void (*fn)())
    {
        return Record([&] {
            fn();
            D3D8_FlushRenderStates();
        });
    }
    uint32_t DeviceState(uint32_t state)
    {
        uint32_t v = 0;
        device->GetRenderState(state, &v);
        return v;
    }
    uint32_t DeviceStage(uint32_t stage, uint32_t type)
    {
        uint32_t v = 0;
        device->GetTextureStageState(stage, type, &v);
        return v;
    }
    // Each {stage (kState: a render state), type, value} holds on the device.
    static constexpr uint32_t kState = 9;
    void ExpectOnDevice(std::initializer_list<std::array<uint32_t, 3>> list, const char* what = "")
    {
        for (const auto& e : list)
            EXPECT_EQ(e[0] == kState ? DeviceState(e[1]) : DeviceStage(e[0], e[1]), e[2])
                << what << " " << e[0] << "/" << e[1];
    }
    static int32_t Set(int32_t state, uint32_t value) { return D3D8_EngineRenderStateSet(state, (void *)(uintptr_t)value); }
    static uint32_t Get(int32_t state)
    {
        uint32_t v = 0xDEAD;
        D3D8_EngineRenderStateGet(state, &v);
        return v;
    }
};

TEST_F(RenderStateTest, FogFollowsTheCapabilitiesAndTheCameraAndEngineStatesRefuseUnknownNumbersAndStateFiveZero)
{
    // The stand-in fogs per vertex or per pixel; without caps fog stays off.
    D3D8_DeviceState()->caps.RasterCaps &= ~(D3DPRASTERCAPS_FOGVERTEX | D3DPRASTERCAPS_FOGTABLE);
    EXPECT_EQ(Set(RS_FOGENABLE, 1), 1);
    D3D8_FlushRenderStates();
    EXPECT_EQ(DeviceState(D3DRS_FOGENABLE), 0u);
    EXPECT_EQ(Get(RS_FOGENABLE), 0u);

    D3D8_DeviceState()->caps.RasterCaps |= D3DPRASTERCAPS_FOGTABLE | D3DPRASTERCAPS_WFOG;
    Set(RS_FOGENABLE, 1);
    Set(RS_FOGTYPE, 2);
    D3D8_FlushRenderStates();
    ExpectOnDevice({{kState, D3DRS_FOGENABLE, 1},
                    {kState, D3DRS_FOGTABLEMODE, D3DFOG_EXP},
                    {kState, D3DRS_FOGVERTEXMODE, D3DFOG_NONE}});

    D3D8_DeviceState()->caps.RasterCaps &= ~D3DPRASTERCAPS_WFOG;
    Camera *camera = MakeCamera();
    Camera_SetFogDistance(camera, 3.0f);
    Camera_SetFarClipPlane(camera, 40.0f);
    Engine_Instance()->currentCamera = camera;
    Set(RS_FOGTYPE, 1);
    D3D8_FlushRenderStates();
    const float range[2] = {3.0f, 40.0f};
    uint32_t bits[2];
    memcpy(bits, range, sizeof bits);
    ExpectOnDevice({{kState, D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR},
                    {kState, D3DRS_FOGTABLEMODE, D3DFOG_NONE},
                    {kState, D3DRS_FOGSTART, bits[0]},
                    {kState, D3DRS_FOGEND, bits[1]}});
    float density = 0.25f;
    EXPECT_EQ(D3D8_EngineRenderStateSet(RS_FOGDENSITY, &density), 1);
    EXPECT_EQ(Get(RS_FOGDENSITY), 0x3E800000u);
    Engine_Instance()->currentCamera = nullptr;
    DestroyCamera(camera);
    uint32_t v = 0;
    EXPECT_EQ(std::tuple(Set(5, 1), Set(5, 0), Set(0, 1), Set(18, 1), Set(29, 1), D3D8_EngineRenderStateGet(5, &v),
                         D3D8_EngineRenderStateGet(19, &v)),
              std::tuple(1, 0, 0, 0, 0, 0, 0));
    Set(RS_TEXTUREADDRESSU, 1);
    Set(RS_TEXTUREADDRESSV, 3);
    v = 9;
    EXPECT_EQ(D3D8_EngineRenderStateGet(RS_TEXTUREADDRESS, &v), 0);
    EXPECT_EQ(v, 0u);
    Set(RS_TEXTUREADDRESS, 3);
    EXPECT_EQ(D3D8_EngineRenderStateGet(RS_TEXTUREADDRESS, &v), 1);
    EXPECT_EQ(v, 3u);
}

TEST_F(RenderStateTest, StageRasterSetsOperationsByAlphaAndBlending)
{
    Raster *plain = Raster_Create(8, 8, 0, RASTERTYPETEXTURE | RASTERFORMAT888);
    Raster *alpha = Raster_Create(8, 8, 0, RASTERTYPETEXTURE | RASTERFORMAT8888);
    ASSERT_TRUE(plain && alpha);
    const struct {
        const char* what;
        Raster* raster;
        uint32_t stage;
        int blend;  // -1: left as it is
        std::initializer_list<std::array<uint32_t, 3>> device;
    } steps[] = {
        // clang-format off
        {"no texture, blending off", nullptr, 0, -1,
         {{0, D3DTSS_COLOROP, D3DTOP_SELECTARG2}, {0, D3DTSS_ALPHAOP, D3DTOP_DISABLE}}},
        {"texture without alpha", plain, 0, -1,
         {{0, D3DTSS_COLOROP, D3DTOP_MODULATE}, {0, D3DTSS_ALPHAOP, D3DTOP_DISABLE}, {kState, D3DRS_ALPHABLENDENABLE, 0}}},
        {"texture without alpha, blending on", plain, 0, 1,
         {{kState, D3DRS_ALPHABLENDENABLE, 1}, {0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2}}},
        {"texture with alpha", alpha, 0, -1, {{0, D3DTSS_ALPHAOP, D3DTOP_MODULATE}}},
        {"texture with alpha, blending off: its alpha stays in force", alpha, 0, 0,
         {{kState, D3DRS_ALPHABLENDENABLE, 1}, {0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1}, {0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE}}},
        {"stage 1 over an alpha stage 0", alpha, 1, -1,
         {{1, D3DTSS_COLOROP, D3DTOP_MODULATE}, {1, D3DTSS_COLORARG2, D3DTA_CURRENT}, {1, D3DTSS_ALPHAOP, D3DTOP_MODULATE}}},
        {"stage 1 untextured", nullptr, 1, -1, {{1, D3DTSS_COLOROP, D3DTOP_DISABLE}}},
        {"no texture: alpha test and blending go off", nullptr, 0, -1,
         {{kState, D3DRS_ALPHABLENDENABLE, 0}, {kState, D3DRS_ALPHATESTENABLE, 0}}},
        // clang-format on
    };
    for (const auto& step : steps) {
        D3D8_SetStageRaster(step.raster, step.stage);
        if (step.blend >= 0) D3D8_SetAlphaBlend(step.blend);
        D3D8_FlushRenderStates();
        ExpectOnDevice(step.device, step.what);
    }
    Raster_Destroy(plain);
    Raster_Destroy(alpha);
}

TEST_F(RenderStateTest, AResetPutsTheEngineValuesAndItsListInForceAndLeavesTheRestToTheirNextSet)
{
    auto reset = [&] {
        return Record([&] {
            D3D8_ReleaseDeviceResources();
            ASSERT_GE(device->Reset(&D3D8_System()->presentParams), 0);
            ASSERT_EQ(D3D8_RestoreDeviceResources(), 1);
        });
    };
    Set(RS_TEXTUREFILTER, 6);
    Set(RS_TEXTUREADDRESSU, 3);
    Set(RS_SRCBLEND, 2);
    Set(RS_DESTBLEND, 1);
    Set(RS_CULLMODE, 1);
    EXPECT_EQ(Get(RS_CULLMODE), 1u);
    Set(RS_BORDERCOLOR, 0xFFFFFFFFu);  // opaque white: a value an in-band marker would lose
    Set(RS_STENCILENABLE, 1);
    Set(RS_STENCILMASK, 0);
    Set(RS_FOGCOLOR, 0x00112233);
    D3D8_SetRenderState(D3DRS_CLIPPING, 0);
    D3D8_FlushRenderStates();
    std::string log = reset();
    // clang-format off
    ExpectOnDevice({{0, D3DTSS_MINFILTER, D3DTEXF_LINEAR}, {0, D3DTSS_MIPFILTER, D3DTEXF_LINEAR},
                    {0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP}, {0, D3DTSS_BORDERCOLOR, 0xFFFFFFFFu},
                    {kState, D3DRS_SRCBLEND, 2}, {kState, D3DRS_DESTBLEND, 1}, {kState, D3DRS_CULLMODE, 1},
                    {kState, D3DRS_STENCILENABLE, 1}, {kState, D3DRS_STENCILMASK, 0},
                    {kState, D3DRS_FOGCOLOR, 0x00112233}, {kState, D3DRS_LIGHTING, 0}});
    // clang-format on
    // The stencil values nobody set are the device's defaults, sent again.
    EXPECT_NE(log.find("SetRenderState(56, 0x8)"), std::string::npos) << log;
    EXPECT_NE(log.find("SetRenderState(59, 0xffffffff)"), std::string::npos) << log;
    // Not on the list; a fog range never set.
    EXPECT_EQ(Count(log, "SetRenderState(136,") + Count(log, "SetRenderState(36,") + Count(log, "SetRenderState(37,"),
              0)
        << log;
    // The same value as before the reset is still sent at its next set.
    log = Flushed([] { D3D8_SetRenderState(D3DRS_CLIPPING, 0); });
    EXPECT_EQ(Count(log, "SetRenderState(136, 0x0)"), 1) << log;

    Camera *camera = MakeCamera();
    Engine_Instance()->currentCamera = camera;
    Set(RS_FOGTYPE, 1);
    Set(RS_FOGENABLE, 1);
    D3D8_FlushRenderStates();
    Engine_Instance()->currentCamera = nullptr;
    DestroyCamera(camera);
    log = reset();
    // A fog range once set comes back.
    EXPECT_EQ(Count(log, "SetRenderState(36,") * 10 + Count(log, "SetRenderState(37,"), 11) << log;
}

TEST_F(RenderStateTest, AStageWhoseTextureWentAwayIsUntexturedAndSentAgain)
{
    Raster* raster = Raster_Create(8, 8, 0, RASTERTYPETEXTURE | RASTERFORMAT8888);
    ASSERT_NE(raster, nullptr);
    ASSERT_NE(D3D8_RasterExt(raster)->alpha, 0);
    D3D8_SetStageRaster(raster, 0);
    D3D8_SetStageRaster(raster, 1);
    D3D8_FlushRenderStates();
    D3D8_ForgetStageTexture(D3D8_RasterExt(raster)->texture);
    EXPECT_EQ(D3D8_GetStageRaster(0), nullptr);
    D3D8_SetStageRaster(nullptr, 0);  // nothing left to change
    D3D8_SetStageRaster(nullptr, 1);
    D3D8_FlushRenderStates();
    IDirect3DBaseTexture8 *bound = nullptr;
    device->GetTexture(0, &bound);
    EXPECT_EQ(bound, nullptr);
    // The texture's operations went with it: the stages are untextured, its
    // alpha no longer blends.
    ExpectOnDevice({{0, D3DTSS_COLOROP, D3DTOP_SELECTARG2},
                    {0, D3DTSS_COLORARG2, D3DTA_DIFFUSE},
                    {0, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
                    {1, D3DTSS_COLOROP, D3DTOP_DISABLE},
                    {1, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
                    {kState, D3DRS_ALPHABLENDENABLE, 0}});
    // A raster at the same address is a new binding, not a repeat.
    std::string log = Record([&] { D3D8_SetStageRaster(raster, 0); });
    EXPECT_EQ(Count(log, "SetTexture(0, #"), 1) << log;
    D3D8_SetStageRaster(nullptr, 0);
    Raster_Destroy(raster);
}

}  // namespace
