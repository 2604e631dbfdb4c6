#include "gfx/driver/d3d8/d3d8cache.h"

#include <string>
#include <tuple>

#include "gfx/core/matrix.h"
#include "gfx/driver/d3d8/d3d8renderstate.h"
#include "tests/gfx/driver/d3d8/d3d8driver_fixture.h"

namespace {

// Started on mode 0, on a device with hardware vertex processing and pixel
// shaders or without.
template <bool Hardware, bool Shaders>
class Started : public D3D8DriverTest {
protected:
    void SetUp() override
    {
        answers.hardwareTnL = Hardware;
        answers.pixelShaders = Shaders;
        StartEngine(0);
    }
};
using DeviceCacheTest = Started<false, false>;
using RotatingHardwareTest = Started<true, false>;
using PixelShaderTest = Started<false, true>;

TEST_F(DeviceCacheTest, LightsAreSentWhenAnyFieldChangesAndEnablesOnlyOnChange)
{
    D3DLIGHT8 light = {};
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = {1, 1, 1, 1};
    light.Range = 10;
    light.Attenuation0 = 1;
    std::string log = Record([&] {
        D3D8_SetLight(0, &light);
        D3D8_SetLight(0, &light);
        light.Attenuation1 = 0.5f;  // a change in attenuation reaches the device
        D3D8_SetLight(0, &light);
        D3D8_EnableLight(0, 1);
        D3D8_EnableLight(0, 1);
        D3D8_EnableLight(5, 1);  // never set: accepted, nothing sent
    });
    EXPECT_EQ(Count(log, "SetLight(0,"), 2) << log;
    EXPECT_EQ(Count(log, "LightEnable("), 1);
    EXPECT_EQ(D3D8_EnableLight(5, 1), 1);
    EXPECT_EQ(D3D8_GetLightCount(), 1u);
}

// Locks count vertices of stride bytes in the rotating buffers and unlocks
// them; the first vertex to draw from, or ~0 when the lock failed.
uint32_t LockAndUnlock(uint32_t stride, uint32_t count)
{
    IDirect3DVertexBuffer8 *vb = nullptr;
    uint8_t *data = nullptr;
    uint32_t first = 0;
    if (!D3D8_DynamicVertexBufferLock(stride, count, &vb, &data, &first)) return ~0u;
    D3D8_VertexBufferUnlock(vb);
    return first;
}

TEST_F(RotatingHardwareTest, LocksAppendAndRoundToTheStrideAndPooledBuffersAreReused)
{
    std::string log = Record([&] {
        EXPECT_EQ(LockAndUnlock(24, 100), 0u);
        EXPECT_EQ(LockAndUnlock(24, 100), 100u);
    });
    ExpectInOrder(log, {", 0, 2400, 0x2800)", ", 2400, 2400, 0x1800)"});

    // 1000 bytes at stride 16, then stride 24: byte 1008, vertex 42.
    D3D8_ReleaseRotatingVertexBuffers();
    ASSERT_EQ(D3D8_CreateRotatingVertexBuffers(), 1);
    EXPECT_EQ(LockAndUnlock(8, 125), 0u);
    EXPECT_EQ(LockAndUnlock(24, 10), 42u);
    EXPECT_EQ(D3D8_GetRotatingBuffer(0)->fill, 1008u + 240u);
    // A destroyed pooled buffer serves the next one of its format and size.
    IDirect3DVertexBuffer8 *a = nullptr, *b = nullptr;
    ASSERT_EQ(D3D8_CreateDynamicVertexBuffer(0x42, 1600, &a), 1);
    IDirect3DVertexBuffer8* first = a;
    D3D8_DestroyDynamicVertexBuffer(a);
    log = Record([&] { ASSERT_EQ(D3D8_CreateDynamicVertexBuffer(0x42, 1600, &b), 1); });
    EXPECT_EQ(std::tuple(b, Count(log, "CreateVertexBuffer(")), std::tuple(first, 0));
    D3D8_DestroyDynamicVertexBuffer(b);
}

TEST_F(RotatingHardwareTest, ALargeRequestReplacesTheBufferAndAFailedOneLeavesItEmpty)
{
    IDirect3DVertexBuffer8 *vb = nullptr;
    uint8_t *data = nullptr;
    uint32_t first = 0;
    ASSERT_EQ(D3D8_DynamicVertexBufferLock(30, 10000, &vb, &data, &first), 1);  // 300,000 bytes
    D3D8_VertexBufferUnlock(vb);
    EXPECT_EQ(std::tuple(D3D8_GetRotatingBuffer(D3D8_GetCurrentRotatingBuffer())->capacity, first),
              std::tuple(300000u, 0u));

    D3D8Test_InjectFault(D3D8_FAULT_CREATEBUFFER, 0, 8, D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(D3D8_DynamicVertexBufferLock(40, 20000, &vb, &data, &first), 0);  // 800,000 bytes
    const uint32_t cur = D3D8_GetCurrentRotatingBuffer();
    EXPECT_EQ(std::tuple(D3D8_GetRotatingBuffer(cur)->capacity, D3D8_GetRotatingBuffer(cur)->buffer),
              std::tuple(0u, nullptr));
    D3D8Test_InjectFault(D3D8_FAULT_CREATEBUFFER, 0, 0, D3D_OK);
    EXPECT_EQ(D3D8_DynamicVertexBufferLock(40, 20000, &vb, &data, &first), 1);  // the next one tries again
    D3D8_VertexBufferUnlock(vb);
}

// A version 1.1 pixel shader: mov r0, v0.
const uint32_t kShader[5] = {0xFFFF0101, 0x00000001, 0x800F0000, 0x90E40000, 0x0000FFFF};

TEST_F(PixelShaderTest, ShadersReachTheDeviceOnceAndReleaseAndRecreateRewriteEveryOwnersHandle)
{
    uint32_t a = 0, b = 0;
    std::string log = Record([&] { ASSERT_EQ(D3D8_CreatePixelShader(kShader, &a), 1); });
    ASSERT_NE(a, 0u);
    EXPECT_NE(log.find("CreatePixelShader(0xffff0101) = 0x0 " + std::to_string(a)), std::string::npos) << log;
    ASSERT_EQ(D3D8_CreatePixelShader(kShader, &b), 1);  // the newest record comes first
    const uint32_t oldA = a, oldB = b;
    const float constant[4] = {0.5f, 0.5f, 0.5f, 0.5f};
    log = Record([&] {
        EXPECT_EQ(D3D8_SetPixelShader(a), 1);
        EXPECT_EQ(D3D8_SetPixelShader(a), 1);
        EXPECT_EQ(D3D8_SetPixelShaderConstant(0, constant, 1), 1);
    });
    EXPECT_EQ(Count(log, "SetPixelShader(") * 10 + Count(log, "SetPixelShaderConstant(0, 1)"), 11) << log;
    log = Record([] {
        D3D8_ReleasePixelShaders();
        D3D8_ReleasePixelShaders();  // handles of 0 are skipped
    });
    EXPECT_EQ(a + b, 0u);
    EXPECT_EQ(Count(log, "DeletePixelShader("), 2) << log;
    EXPECT_EQ(Count(log, ") = 0x0"), 2) << log;  // each shader deleted once, successfully
    // While released every handle reads 0: a delete names no shader and must
    // not free whichever released record comes first (b's).
    log = Record([&] { EXPECT_EQ(D3D8_DeletePixelShader(a), 0); });
    EXPECT_EQ(Count(log, "PixelShader("), 0) << log;
    // A re-create stops at the first failure; the next one finishes the rest.
    D3D8Test_InjectFault(D3D8_FAULT_CREATESHADER, 1, 1, D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(D3D8_RecreatePixelShaders(), 0);
    EXPECT_TRUE(b && !a);
    log = Record([] {
        EXPECT_EQ(D3D8_RecreatePixelShaders(), 1);
        EXPECT_EQ(D3D8_RecreatePixelShaders(), 1);  // nothing left at 0
    });
    EXPECT_EQ(Count(log, "CreatePixelShader("), 1) << log;
    EXPECT_TRUE(a && a != b && a != oldA && b != oldB);  // the stand-in never hands a handle out twice
    // The cache forgot the bound shader at the release: the new handle is sent.
    log = Record([&] { EXPECT_EQ(D3D8_SetPixelShader(a), 1); });
    EXPECT_NE(log.find("SetPixelShader(" + std::to_string(a) + ") = 0x0"), std::string::npos) << log;
    // Deleting the bound shader unbinds it on the device; the cache forgets
    // it too, so the next set of none is sent; its record went with it.
    const std::string deleted = "DeletePixelShader(" + std::to_string(a) + ") = 0x0";
    log = Record([&] {
        EXPECT_EQ(D3D8_DeletePixelShader(a), 1);
        EXPECT_EQ(D3D8_SetPixelShader(0), 1);
    });
    EXPECT_TRUE(Before(log, deleted, "SetPixelShader(0) = 0x0")) << log;
    log = Record([] {
        D3D8_ReleasePixelShaders();
        EXPECT_EQ(D3D8_RecreatePixelShaders(), 1);
    });
    EXPECT_EQ(Count(log, "DeletePixelShader(") * 10 + Count(log, "CreatePixelShader("), 11) << log;  // b's alone
    D3D8_DestroyPixelShaders();
    EXPECT_EQ(b, 0u);
}

TEST_F(DeviceCacheTest, ValidateDeviceFlushesFirstAndPassesTheAnswerOnAndFormatChecksAskTheMode)
{
    uint32_t passes = 0;
    D3D8Test_ScriptValidate(D3D_OK, 1);
    std::string log = Record([&] {
        D3D8_SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        EXPECT_EQ(D3D8_ValidateDevice(&passes), 1);
    });
    EXPECT_EQ(passes, 1u);
    ExpectInOrder(log, {"SetRenderState(22, 0x1)", "ValidateDevice("});
    D3D8Test_ScriptValidate(D3DERR_TOOMANYOPERATIONS, 2);
    EXPECT_EQ(D3D8_ValidateDevice(nullptr), 0);
    // Format checks ask the current mode.
    EXPECT_EQ(D3D8_CheckTextureFormat(D3DFMT_A8R8G8B8), 1);
    EXPECT_EQ(D3D8_CheckZBufferFormat(D3DFMT_D24S8) || D3D8_CheckZBufferFormat(D3DFMT_D24X8), 1);
    EXPECT_EQ(D3D8_CheckTextureFormat(0x7777), 0);
    // A device without pixel shaders hands out nothing.
    const uint32_t tokens[2] = {0xFFFF0101, 0x0000FFFF};
    uint32_t handle = 77;
    EXPECT_EQ(D3D8_CreatePixelShader(tokens, &handle), 0);
    EXPECT_EQ(handle, 77u);
    D3D8_ReleasePixelShaders();
    EXPECT_EQ(D3D8_RecreatePixelShaders(), 1);
}

}  // namespace

TEST_F(DeviceCacheTest, RedundantSetsSendNothingAndFailedSetsAreSentAgain)
{
    IDirect3DVertexBuffer8 *vb = nullptr;
    ASSERT_EQ(D3D8_CreateDynamicVertexBuffer(0x142, 2400, &vb), 1);
    std::string log = Record([&] {
        for (int i = 0; i < 2; i++) {
            D3D8_SetVertexShader(0x142);
            D3D8_SetPixelShader(0);
            D3D8_SetStreamSource(i, vb, 24);  // the stream number is not compared
            D3D8_SetIndices(nullptr, 0);
        }
    });
    for (const char* call : {"SetVertexShader(", "SetPixelShader(", "SetStreamSource(", "SetIndices("})
        EXPECT_EQ(Count(log, call), 1) << call << log;
    // The stand-in refuses every pixel shader but 0, streams but 0,
    // transform states it does not have and lights of no known type.
    D3DMATRIX m = {{{2, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, 2, 0}, {0, 0, 0, 1}}};
    D3DLIGHT8 light = {};
    light.Type = 7;
    D3D8_SetStreamSource(0, nullptr, 0);
    log = Record([&] {
        for (int i = 0; i < 2; i++) {
            EXPECT_EQ(D3D8_SetPixelShader(7), 0);
            EXPECT_EQ(D3D8_SetStreamSource(1, vb, 24), 0);
            EXPECT_EQ(D3D8_SetTransform(100, &m), 0);
            EXPECT_EQ(D3D8_SetLight(0, &light), 0);
        }
    });
    for (const char* call : {"SetPixelShader(7)", "SetStreamSource(1,", "SetTransform(100,", "SetLight(0,"})
        EXPECT_EQ(Count(log, call), 2) << call << log;
    // Once a set succeeds, the same set is dropped again.
    D3D8_SetPixelShader(0);
    EXPECT_EQ(Count(Record([] { D3D8_SetPixelShader(0); }), "SetPixelShader("), 0);
    D3DMATRIX out = {};
    D3D8_GetTransform(100, &out);
    EXPECT_EQ(out.m[0][0], 1.0f);  // an emptied slot reads as the identity
    D3D8_DestroyDynamicVertexBuffer(vb);
}

TEST_F(DeviceCacheTest, IndexedDrawCountsPrimitivesFromIndices)
{
    const uint32_t rows[][4] = {{D3DPT_TRIANGLELIST, 7, 1, 2},  {D3DPT_POINTLIST, 7, 1, 0},
                                {D3DPT_POINTLIST, 7, 0, 7},     {D3DPT_LINELIST, 7, 0, 3},
                                {D3DPT_LINESTRIP, 7, 0, 6},     {D3DPT_TRIANGLEFAN, 7, 0, 5},
                                {D3DPT_TRIANGLESTRIP, 1, 0, 0}, {9, 7, 0, 0}};
    for (const auto& r : rows) EXPECT_EQ(D3D8_PrimitiveCount(r[0], r[1], r[2]), r[3]) << r[0] << "/" << r[2];
}

TEST_F(DeviceCacheTest, FrustumTestsUseTheCamerasPlanes)
{
    Camera *camera = MakeCamera();
    const Vec2 window = {1, 1};
    Camera_SetViewWindow(camera, &window);
    Camera_SetNearClipPlane(camera, 1.0f);
    Camera_SetFarClipPlane(camera, 100.0f);
    Frame_SyncDirtyList();
    const float inside[3] = {0, 0, 50}, touching[3] = {0, 0, 1.5f}, outside[3] = {0, 0, -10};
    const float boxMax[3] = {1, 1, 51}, boxMin[3] = {-1, -1, 49}, wideMax[3] = {100, 1, 51};
    EXPECT_EQ(std::tuple(D3D8_CameraIsSphereFullyInside(camera, inside, 1.0f),
                         D3D8_CameraIsSphereFullyInside(camera, touching, 1.0f),  // crosses the near plane
                         D3D8_CameraIsSphereFullyInside(camera, outside, 1.0f),
                         D3D8_CameraIsBoxFullyInside(camera, boxMax, boxMin),
                         D3D8_CameraIsBoxFullyInside(camera, wideMax, boxMin)),
              std::tuple(1, 0, 0, 1, 0));
    DestroyCamera(camera);
}

TEST_F(DeviceCacheTest, MaterialFromColourScalesByAmbientLightAndSkipsRepeats)
{
    D3D8_SetAmbientLight(0.5f, 0.25f, 1.0f);
    const uint8_t white[4] = {255, 255, 255, 255};
    const float surface[3] = {0.5f, 0.0f, 0.75f};  // ambient, specular, diffuse
    std::string log = Record([&] {
        D3D8_SetMaterialFromColor(white, surface, 1);
        D3D8_SetMaterialFromColor(white, surface, 0);  // the same material
    });
    EXPECT_EQ(Count(log, "SetMaterial("), 1);
    // Diffuse (r, g, b, a), ambient (r, g, b), specular alpha. Only the
    // ambient term takes the ambient light.
    auto expectMaterial = [&](std::initializer_list<float> values) {
        D3DMATERIAL8 m = {};
        device->GetMaterial(&m);
        const float got[8] = {m.Diffuse.r, m.Diffuse.g, m.Diffuse.b, m.Diffuse.a,
                              m.Ambient.r, m.Ambient.g, m.Ambient.b, m.Specular.a};
        for (int i = 0; i < 8; i++) EXPECT_FLOAT_EQ(got[i], values.begin()[i]) << i;
    };
    expectMaterial({0.75f, 0.75f, 0.75f, 1.0f, 0.25f, 0.125f, 0.5f, 1.0f});
    const uint8_t red[4] = {255, 0, 51, 102};
    D3D8_SetMaterialFromColor(red, surface, 1);
    expectMaterial({0.75f, 0.0f, 0.15f, 0.4f, 0.25f, 0.0f, 0.1f, 1.0f});
}
