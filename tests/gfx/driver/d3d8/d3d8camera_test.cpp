#include "gfx/driver/d3d8/d3d8camera.h"

#include <cstring>
#include <string>
#include <tuple>

#include "gfx/driver/d3d8/d3d8cache.h"
#include "gfx/driver/d3d8/d3d8im2d.h"
#include "gfx/driver/d3d8/d3d8im3d.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"

namespace {

class CameraUpdateTest : public D3D8DriverTest {
protected:
    Camera* camera = nullptr;
    void SetUp() override
    {
        StartEngine(0);
        camera = MakeCamera(1, 2, 3);
    }
    void TearDown() override
    {
        EndFrame();
        if (camera) DestroyCamera(camera);
        D3D8DriverTest::TearDown();
    }
    int32_t Begin(Camera *c = nullptr) { return Camera_BeginUpdate(c ? c : camera) != nullptr; }
    void End(Camera* c = nullptr) { Camera_EndUpdate(c ? c : camera); }
    static int32_t DrawTriangle()
    {
        float v[3][7] = {{10, 10, 0.5f, 1, 0, 0, 0}, {50, 10, 0.5f, 1, 0, 0, 0}, {10, 50, 0.5f, 1, 0, 0, 0}};
        return D3D8_Im2DRenderPrimitive(3, v, 3);
    }
};

TEST_F(CameraUpdateTest, TheFrameOfAResetOrARecoveryClearsAndDrawsWithTheCamerasTransformsAndViewport)
{
    // A plain frame, a lost device that can be reset at the clear, one that
    // can only be reset at the begin update, then a window resized back and
    // forth, each frame cleared before its begin update as the game does:
    // the reset comes before the clear and what the camera sets, the device
    // has the camera's view, projection and viewport (the lower half,
    // split-screen style), and of three walls across the whole view, drawn
    // with the Z test far, near, middle, the near green one covers exactly
    // that half.
    Raster *whole = camera->frameBuffer, *sub = Raster_Create(0, 0, 0, RASTERTYPECAMERA | RASTERDONTALLOCATE);
    const RasterRect lower = {0, 240, 640, 240};
    ASSERT_EQ(Raster_SubRaster(sub, whole, &lower), sub);
    Camera_SetRaster(camera, sub);
    const uint8_t black[4] = {0, 0, 0, 255};
    for (int step = 0; step < 5; step++) {
        if (step == 1 || step == 2) D3D8Test_LoseDevice(device, step - 1);
        if (step >= 3) Window_UserResize(window, step == 3 ? 600 : 640, 480);
        std::string log = Record([&] {
            EXPECT_NE(Camera_Clear(camera, (void*)black, 3), nullptr);  // colour and Z
            ASSERT_EQ(Begin(), 1);
        });
        EXPECT_EQ(Count(log, "Reset() = 0x0"), step ? 1 : 0) << step;
        EXPECT_EQ(Count(log, "Clear("), 1) << step;
        ExpectInOrder(log, {step ? "Reset() = 0x0" : "", "Clear(", "SetViewport(0, 240, 640, 240"});
        D3DMATRIX view = {}, projection = {};
        device->GetTransform(D3DTS_VIEW, &view);
        device->GetTransform(D3DTS_PROJECTION, &projection);
        D3DVIEWPORT8 vp = {};
        device->GetViewport(&vp);
        // The camera's frame at y = 2, a perspective projection.
        EXPECT_EQ(std::tie(view.m[3][1], projection.m[2][3], vp.X, vp.Y, vp.Width, vp.Height, vp.MinZ, vp.MaxZ),
                  std::make_tuple(-2.0f, 1.0f, 0u, 240u, 640u, 240u, 0.0f, 1.0f));
        D3D8_SetZTestEnable(1), D3D8_SetZWriteEnable(1), D3D8_SetCullMode(1);
        for (const auto& [z, colour] : {std::pair(9.0f, 0xFF0000FFu), {6.0f, 0xFF00FF00u}, {8.0f, 0xFFFF0000u}}) {
            Im3DVertex wall[3] = {{-99, -98, z, 0, 0, 1, colour, 0, 0},
                                  {101, -98, z, 0, 0, 1, colour, 0, 0},
                                  {1, 102, z, 0, 0, 1, colour, 0, 0}};
            const Im3DBatch batch = {3, wall, 36, 2, nullptr, 3, nullptr, 0};
            ASSERT_EQ(D3D8_Im3DSubmit(&batch), 1);
        }
        EXPECT_EQ(std::tuple(BackBufferPixel(320, 360), BackBufferPixel(320, 120)), std::tuple(0x00FF00u, 0u)) << step;
        EXPECT_EQ(Count(Record([] { EXPECT_EQ(DrawTriangle(), 1); }), "DrawPrimitive(4,"), 1);  // Im2D, moved down
        End();
        EndFrame();
    }
    Camera_SetRaster(camera, whole);
    Raster_Destroy(sub);
}

TEST_F(CameraUpdateTest, AResizeTheDeviceCannotTakePutsTheWindowBackAndAMinimisedWindowSkipsTheScene)
{
    Window_UserMaximise(window, 1);
    Window_UserResize(window, 1000, 700);
    D3D8Test_InjectFault(D3D8_FAULT_RESET, 0, 1, D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(Begin(), 1);
    WindowRect client = {};
    Window_GetClientRect(window, &client);
    EXPECT_EQ(std::tuple(client.right, client.bottom, Window_GetStyle(window) & WINDOW_STYLE_MAXIMIZE,
                         D3D8_System()->currentMode.width),
              std::tuple(640, 480, 0u, 640u));
    End();
    EndFrame();
    // A minimised window skips the scene.
    Window_UserMinimise(window, 1);
    const uint8_t colour[4] = {0, 0, 0, 255};
    std::string log = Record([&] {
        EXPECT_EQ(Begin(), 0);
        EXPECT_EQ(Camera_Clear(camera, (void*)colour, 1), nullptr);
        EXPECT_EQ(DrawTriangle(), 0);  // no scene: the device refuses it
    });
    EXPECT_EQ(Count(log, "BeginScene(") + Count(log, "Clear(") + Count(log, "Reset("), 0) << log;
    Engine_Instance()->currentCamera = nullptr;
    Window_UserMinimise(window, 0);
    EXPECT_EQ(Begin(), 1);
    End();
}

TEST_F(CameraUpdateTest, ALostDeviceSkipsFramesAndAFailedResetIsRetriedUntilEverythingIsBack)
{
    D3D8_SetCullMode(1);
    D3D8_FlushRenderStates();
    D3D8Test_LoseDevice(device, 2);
    for (int skipped = 0; skipped < 2; skipped++, End()) EXPECT_EQ(Begin(), 0);
    std::string log = Record([&] { EXPECT_EQ(Begin(), 1); });
    ExpectInOrder(log, {"TestCooperativeLevel() = 0x88760869", "Reset() = 0x0", "BeginScene() = 0x0"});
    uint32_t cull = 0;
    device->GetRenderState(D3DRS_CULLMODE, &cull);
    EXPECT_EQ(cull, 1u);
    EXPECT_EQ(DrawTriangle(), 1);
    End();
    EndFrame();
    // A reset refused as lost restores nothing; the next frame tries again.
    D3D8Test_LoseDevice(device, 0);
    D3D8Test_InjectFault(D3D8_FAULT_RESET, 0, 1, D3DERR_DEVICELOST);
    log = Record([&] { EXPECT_EQ(Begin(), 0); });
    EXPECT_EQ(Count(log, "Reset(") * 100 + Count(log, "CreateVertexBuffer(") * 10 + Count(log, "BeginScene("), 100)
        << log;
    End();
    ExpectInOrder(Record([&] { EXPECT_EQ(Begin(), 1); }), {"Reset() = 0x0", "BeginScene() = 0x0"});
    End();
    EndFrame();
    // A reset refused as an invalid call rereads the desktop and resets once more.
    D3D8Test_LoseDevice(device, 0);
    D3D8Test_InjectFault(D3D8_FAULT_RESET, 0, 1, D3DERR_INVALIDCALL);
    log = Record([&] { EXPECT_EQ(Begin(), 1); });
    EXPECT_EQ(Count(log, "Reset("), 2) << log;
    ExpectInOrder(log, {"GetAdapterDisplayMode(", "Reset() = 0x0"});
    End();
}

TEST_F(CameraUpdateTest, CameraTextureIsTheRenderTargetOrElseCopiedFromTheBackBuffer)
{
    // A camera drawing into a 64 x 64 camera texture, without a Z raster.
    Camera* texCamera = MakeCamera(0, 0, 0, 64, 64, false);
    Raster_Destroy(texCamera->frameBuffer);
    Camera_SetRaster(texCamera, Raster_Create(64, 64, 0, RASTERTYPECAMERATEXTURE));
    ASSERT_NE(texCamera->frameBuffer, nullptr);
    const uint8_t colour[4] = {9, 9, 9, 9};
    std::string log = Record([&] { Camera_Clear(texCamera, (void*)colour, 7); });
    EXPECT_NE(log.find("Clear(0, 0x1,"), std::string::npos) << log;  // colour only: it has no Z
    log = Record([&] {
        ASSERT_EQ(Begin(texCamera), 1);
        End(texCamera);
    });
    EXPECT_EQ(Count(log, "SetRenderTarget("), 2) << log;  // the texture, then the back buffer again
    ExpectInOrder(log, {"BeginScene()", "SetTransform(3,", "SetRenderTarget(", "SetViewport(0, 0, 64, 64"});
    EXPECT_EQ(D3D8_System()->copyToTexture, 0u);
    // A texture the device cannot target is drawn in the back buffer and copied.
    D3D8Test_InjectFault(D3D8_FAULT_SETRENDERTARGET, 0, 1, D3DERR_INVALIDCALL);
    ASSERT_EQ(Begin(texCamera), 1);
    EXPECT_EQ(D3D8_System()->copyToTexture, 1u);
    log = Record([&] { End(texCamera); });
    ExpectInOrder(log, {"CopyRects(", "SetRenderTarget("});
    EXPECT_EQ(D3D8_System()->copyToTexture, 0u);
    D3D8Test_InjectFault(D3D8_FAULT_SETRENDERTARGET, 0, 1, D3DERR_INVALIDCALL);
    log = Record([&] { Camera_Clear(texCamera, (void *)colour, 1); });
    ExpectInOrder(log, {"Clear(", "CopyRects("});
    DestroyCamera(texCamera);
}

TEST_F(CameraUpdateTest, ASecondWindowGetsItsOwnSwapChainRebuiltInPlace)
{
    Window *second = Window_Create("second", 320, 240, WINDOW_HEADLESS);
    ASSERT_NE(second, nullptr);
    Camera *other = Camera_Create();
    EXPECT_EQ(D3D8_CreateWindowSwapChain(other, window), 0);  // the device window itself
    ASSERT_EQ(D3D8_CreateWindowSwapChain(other, second), 1);
    Raster *fb = other->frameBuffer, *z = other->zBuffer;
    ASSERT_TRUE(fb && z);
    EXPECT_EQ(fb->width, 320);
    std::string log = Record([&] {
        ASSERT_EQ(Begin(other), 1);
        End(other);
    });
    EXPECT_EQ(Count(log, "SetRenderTarget("), 2) << log;  // the window's back buffer, then the device's again
    ExpectInOrder(log, {"BeginScene()", "SetTransform(3,", "SetRenderTarget(", "SetViewport(0, 0, 320, 240"});

    Window_UserResize(second, 400, 300);
    ASSERT_EQ(Begin(other), 1);
    End(other);
    EXPECT_EQ(std::tuple(other->frameBuffer, other->zBuffer, fb->width, z->height),
              std::tuple(fb, z, 400, 300));  // the same records, new sizes
    const uint8_t colour[4] = {1, 1, 1, 1};
    log = Record([&] { EXPECT_NE(Camera_Clear(other, (void *)colour, 3), nullptr); });
    EXPECT_NE(log.find("Clear(0, 0x3,"), std::string::npos) << log;

    // After a lost device the swap chain comes back at the next update.
    EndFrame();
    D3D8Test_LoseDevice(device, 0);
    EXPECT_EQ(Begin(), 1);
    End();
    ASSERT_EQ(Begin(other), 1);
    End(other);
    EXPECT_EQ(other->frameBuffer, fb);

    Window_UserMinimise(second, 1);
    EXPECT_EQ(Begin(other), 0);
    Engine_Instance()->currentCamera = nullptr;
    DestroyCamera(other);
    Window_Destroy(second);
}

// A hardware device that keeps pixel shaders: the reset path has pooled
// buffers and shaders to delete and re-create for their owners.
class HardwareResetTest : public CameraUpdateTest {
protected:
    const uint32_t shader[5] = {0xFFFF0101, 0x00000001, 0x800F0000, 0x90E40000, 0x0000FFFF};  // mov r0, v0
    void SetUp() override
    {
        answers.hardwareTnL = true;
        answers.pixelShaders = true;
        CameraUpdateTest::SetUp();
    }
};

TEST_F(HardwareResetTest, ALostDeviceIsReleasedResetAndRestoredInAFixedOrder)
{
    IDirect3DVertexBuffer8 *mine = nullptr;
    ASSERT_EQ(D3D8_CreateDynamicVertexBuffer(0x142, 4800, &mine), 1);
    D3DLIGHT8 light = {};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Direction = {0, 0, 1};
    D3D8_SetLight(0, &light);
    D3D8_SetLight(1, &light);
    D3D8_EnableLight(0, 1);
    // A frame skipped while the device stays lost, then the recovery.
    D3D8Test_LoseDevice(device, 1);
    EXPECT_EQ(Begin(), 0);
    End();
    std::string log = Record([&] { EXPECT_EQ(Begin(), 1); });
    // Bindings dropped before the reset; then back buffer, pooled buffers
    // (in the default pool), render states, every light (the disabled one
    // too, past the cache), the Im3D index buffer, and the scene in the
    // same frame.
    ExpectInOrder(log, {"SetTexture(7, null)", "SetStreamSource(0, null, 0)", "SetIndices(null, 0)", "Reset() = 0x0",
                        "GetBackBuffer(", "CreateVertexBuffer(4800, 0x208, 0x142, 0)", "SetRenderState(", "SetLight(0,",
                        "LightEnable(0, 1)", "SetLight(1,", "LightEnable(1, 0)", "CreateIndexBuffer(131070,",
                        "BeginScene() = 0x0"});
    EXPECT_EQ(Count(log, "Reset("), 1);
    EXPECT_EQ(D3D8_GetRotatingBuffer(3)->capacity, 0x40000u);
    uint8_t* data = nullptr;
    ASSERT_GE(mine->Lock(0, 0, &data, 0), 0);  // the handle the owner holds works
    mine->Unlock();
    EXPECT_EQ(DrawTriangle(), 1);
    End();
    D3D8_DestroyDynamicVertexBuffer(mine);
}

TEST_F(HardwareResetTest, RestoreStopsAtTheFirstFailingStepAndIsRetried)
{
    IDirect3DVertexBuffer8* buffer = nullptr;
    uint32_t handle = 0;
    ASSERT_EQ(D3D8_CreateDynamicVertexBuffer(0x42, 1600, &buffer), 1);
    ASSERT_EQ(D3D8_CreatePixelShader(shader, &handle), 1);
    for (D3D8FaultCall fault : {D3D8_FAULT_CREATEBUFFER, D3D8_FAULT_CREATESHADER}) {
        D3D8Test_LoseDevice(device, 0);
        D3D8Test_InjectFault(fault, 0, 1, D3DERR_OUTOFVIDEOMEMORY);
        std::string log = Record([&] { EXPECT_EQ(Begin(), 0); });
        // The stand-in refuses a reset while a shader lives: it was deleted
        // first. The failed step's owner holds nothing; render states and
        // lights were not rebuilt.
        ExpectInOrder(log, {"DeletePixelShader(", "Reset() = 0x0"});
        const size_t reset = log.find("Reset() = 0x0");
        EXPECT_EQ(log.find("SetRenderState(", reset), std::string::npos) << log;
        EXPECT_TRUE(fault == D3D8_FAULT_CREATEBUFFER ? buffer == nullptr : handle == 0) << fault;
        End();
        log = Record([&] { EXPECT_EQ(Begin(), 1); });
        EXPECT_EQ(Count(log, "Reset("), 0) << log;  // the reset held; only the restore is run again
        EXPECT_EQ(Count(log, "CreatePixelShader("), 1) << log;
        ExpectInOrder(log, {"CreatePixelShader(0xffff0101) = 0x0 " + std::to_string(handle), "SetRenderState(",
                            "BeginScene() = 0x0"});
        EXPECT_TRUE(buffer && handle);
        End();
        EndFrame();
    }
    D3D8_DestroyDynamicVertexBuffer(buffer);
    EXPECT_EQ(D3D8_DeletePixelShader(handle), 1);
}

}  // namespace

TEST_F(CameraUpdateTest, ViewAndProjectionTakeTheFrustumCornersToTheClipVolumeCorners)
{
    const struct {
        uint32_t projection;
        float ox, oy;
    } cases[] = {{CAMERA_PERSPECTIVE, 0, 0}, {CAMERA_PERSPECTIVE, 0.3f, -0.2f}, {CAMERA_PARALLEL, 0.3f, -0.2f}};
    Camera_SetNearClipPlane(camera, 1.0f);
    Camera_SetFarClipPlane(camera, 11.0f);
    const Vec2 window = {0.5f, 0.4f};
    Camera_SetViewWindow(camera, &window);
    for (const auto &k : cases) {
        const Vec2 offset = {k.ox, k.oy};
        Camera_SetViewOffset(camera, &offset);
        Camera_SetProjection(camera, k.projection);
        ASSERT_EQ(Begin(), 1);
        D3DMATRIX view = {}, projection = {};
        D3D8_GetTransform(D3DTS_VIEW, &view);
        D3D8_GetTransform(D3DTS_PROJECTION, &projection);
        // Corners 0-3 (near) and 4-7 (far) run +x+y, -x+y, -x-y, +x-y in the
        // engine's camera space, whose x is Direct3D's -x.
        const float cornerX[4] = {-1, 1, 1, -1}, cornerY[4] = {1, 1, -1, -1};
        for (int i = 0; i < 8; i++) {
            const Vec3 &p = camera->frustumCorners[i];
            float v[4] = {p.x, p.y, p.z, 1}, clip[4] = {};
            for (const D3DMATRIX* m : {&view, &projection}) {
                for (int c = 0; c < 4; c++)
                    clip[c] = v[0] * m->m[0][c] + v[1] * m->m[1][c] + v[2] * m->m[2][c] + v[3] * m->m[3][c];
                memcpy(v, clip, sizeof v);
            }
            const float want[3] = {cornerX[i % 4], cornerY[i % 4], i < 4 ? 0.0f : 1.0f};
            for (int c = 0; c < 3; c++)
                EXPECT_NEAR(clip[c] / clip[3], want[c], 1e-4f) << k.projection << "/" << k.ox << " corner " << i;
        }
        End();
    }
}

TEST_F(CameraUpdateTest, ClearPacksTheColourAndClearsStencilOnlyWithStencil)
{
    const uint8_t colour[4] = {1, 2, 3, 4};
    D3D8_System()->hasStencil = 1;
    std::string log = Record([&] { EXPECT_NE(Camera_Clear(camera, (void *)colour, 3), nullptr); });
    EXPECT_NE(log.find("Clear(0, 0x7, 0x04010203"), std::string::npos) << log;
    EXPECT_TRUE(Before(log, "SetViewport(0, 0, 640, 480", "Clear(")) << log;  // its own viewport
    log = Record([&] {
        Camera_Clear(camera, (void *)colour, 1);
        Camera_Clear(camera, (void *)colour, 4);
    });
    ExpectInOrder(log, {"Clear(0, 0x1, 0x04010203",
                        "Clear(0, 0x4, 0x00000000"});  // no stencil without Z or bit 2; the colour only with bit 0
    D3D8_System()->hasStencil = 0;
    log = Record([&] { Camera_Clear(camera, (void *)colour, 6); });
    EXPECT_NE(log.find("Clear(0, 0x2, 0x00000000"), std::string::npos) << log;
}
