// Test harness for the Direct3D 8 rasters: the engine with the image, raster
// and texture modules, the driver's raster extension and standard functions,
// on a stand-in device with chosen capability answers.
#pragma once

#include <tuple>

#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/driver/d3d8/d3d8raster.h"
#include "gfx/driver/d3d8/d3d8rasterseam.h"
#include "platform/direct3d/d3d8_test.h"
#include "tests/gfx/core/image_fixture.h"

class D3D8RasterTest : public ImageEngineTest {
protected:
    D3D8Answers answers;
    IDirect3D8 *d3d = nullptr;
    IDirect3DDevice8 *device = nullptr;

    void InstallModules() override
    {
        Image_InstallModule();
        Raster_InstallModule();
        Texture_InstallModule();
        testdriver::g_attach = D3D8_RasterPluginAttach;
        testdriver::g_onStart = D3D8_RasterListOpen;
        testdriver::g_onStop = D3D8_RasterListClose;
        D3D8_FillRasterStandardFunctions(testdriver::g_standard);
    }
    // Tests change `answers` and call this again to get another device.
    void OpenDevice()
    {
        CloseDevice();
        D3D8Test_SetAnswers(&answers);
        d3d = Direct3DCreate8(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        const bool shallow = answers.displayFormat == D3DFMT_R5G6B5;
        D3DPRESENT_PARAMETERS params = Params();
        ASSERT_GE(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device), 0);
        D3D8DeviceState &s = *D3D8_DeviceState();
        s = D3D8DeviceState{};
        s.d3d = d3d;
        s.device = device;
        s.deviceType = D3DDEVTYPE_HAL;
        d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &s.caps);
        s.displayFormat = answers.displayFormat;
        s.displayDepth = shallow ? 16 : 32;
        s.zBufferDepth = shallow ? 16 : 32;
        s.depthFormat = params.AutoDepthStencilFormat;
        GetSurfaces();
        s.windowWidth = 64;
        s.windowHeight = 48;
    }
    D3DPRESENT_PARAMETERS Params() const
    {
        D3DPRESENT_PARAMETERS params = {};
        params.BackBufferWidth = 64;
        params.BackBufferHeight = 48;
        params.BackBufferFormat = answers.displayFormat;
        params.BackBufferCount = 1;
        params.SwapEffect = D3DSWAPEFFECT_COPY;
        params.Windowed = 1;
        params.EnableAutoDepthStencil = 1;
        params.AutoDepthStencilFormat = answers.displayFormat == D3DFMT_R5G6B5 ? D3DFMT_D16 : D3DFMT_D24X8;
        return params;
    }
    void GetSurfaces()
    {
        D3D8DeviceState& s = *D3D8_DeviceState();
        device->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &s.backBuffer);
        s.backBuffer->Release();
        device->GetDepthStencilSurface(&s.depthSurface);
        s.depthSurface->Release();
    }
    void CloseDevice()
    {
        if (device) device->Release();
        if (d3d) d3d->Release();
        device = nullptr;
        d3d = nullptr;
        *D3D8_DeviceState() = D3D8DeviceState{};
    }
    void SetUp() override
    {
        ImageEngineTest::SetUp();
        OpenDevice();
    }
    void TearDown() override
    {
        ImageEngineTest::TearDown();
        CloseDevice();
        D3D8Test_ResetAll();
    }
    static uint32_t Format(const Raster *raster) { return Raster_GetFormat(raster); }
    // A call's result and the error code it left, read after it.
    template <typename T>
    static std::tuple<T, uint32_t> AndError(T result)
    {
        return {result, TakeError()};
    }
};
