#include "gfx/toolkit/2d/toolkit2d.h"

#include "gfx/core/vector.h"
#include "tests/gfx/toolkit/2d/toolkit2d_fixture.h"

namespace toolkit2dtest {
namespace {

// Where a user point lands in camera space (the test cameras sit at the
// origin with identity frames, so world space is camera space).
Vec3 ToCamera(float x, float y)
{
    const Matrix* w = Ctm2D_GetCombined();
    EXPECT_NE(w, nullptr);
    const Vec3 p = {x, y, Toolkit2D_GetDepth()};
    Vec3 out = {NAN, NAN, NAN};
    if (w) Vector3_TransformPoints(&out, &p, 1, w);
    return out;
}

void ExpectNear(const Vec3& got, float x, float y, float z, const char* what)
{
    EXPECT_NEAR(got.x, x, 1e-4f) << what;
    EXPECT_NEAR(got.y, y, 1e-4f) << what;
    EXPECT_NEAR(got.z, z, 1e-4f) << what;
}

struct RectCase {
    int32_t rasterWidth, rasterHeight;
    float windowX, windowY;
    float x, y, w, h;
};

class DeviceRectTest : public Toolkit2DTest, public ::testing::WithParamInterface<RectCase> {};

TEST_P(DeviceRectTest, RectangleCornersLandOnTheViewWindowCornersWhateverTheRaster)
{
    const RectCase& c = GetParam();
    Camera* other = MeasuringCamera(c.rasterWidth, c.rasterHeight, c.windowX, c.windowY);
    ASSERT_EQ(Toolkit2D_SetDeviceCamera(other), 1);
    ASSERT_EQ(Toolkit2D_SetDeviceRect(c.x, c.y, c.w, c.h), 1);
    ExpectNear(ToCamera(c.x, c.y), c.windowX, -c.windowY, 1, "first corner");
    ExpectNear(ToCamera(c.x + c.w, c.y + c.h), -c.windowX, c.windowY, 1, "opposite corner");
    ExpectNear(ToCamera(c.x + c.w / 2, c.y + c.h / 2), 0, 0, 1, "centre");
    // One raster pixel, in user units, along each axis.
    Vec2 a, b;
    ASSERT_EQ(Toolkit2D_GetDeviceAxes(&a, &b, nullptr), 1);
    EXPECT_NEAR(std::fabs(a.x), c.w / c.rasterWidth, 1e-4f);
    EXPECT_NEAR(a.y, 0, 1e-6f);
    EXPECT_NEAR(std::fabs(b.y), c.h / c.rasterHeight, 1e-4f);
    EXPECT_EQ(Toolkit2D_SetDeviceCamera(camera), 1);
    DestroyCamera(other);
}

INSTANTIATE_TEST_SUITE_P(Rasters, DeviceRectTest,
                         ::testing::Values(RectCase{640, 480, 1.0f, 0.75f, 0, 0, 640, 480},
                                           RectCase{160, 120, 1.0f, 0.75f, 0, 0, 640, 480},
                                           RectCase{64, 64, 0.5f, 0.5f, 0, 0, 640, 480},
                                           RectCase{200, 100, 1.0f, 1.0f, -20, 10, 40, 5}));

TEST_F(Toolkit2DTest, StackHolds32LevelsAndAFullStackLeavesTheTopAlone)
{
    const Vec3 at30 = ToCamera(30, 0), at31 = ToCamera(31, 0);
    // Level i translates by i units.
    for (int i = 1; i < TOOLKIT2D_CTM_DEPTH; i++) {
        ASSERT_EQ(Ctm2D_Push(), 1) << i;
        Ctm2D_Translate(1, 0);
    }
    ExpectNear(ToCamera(0, 0), at31.x, at31.y, at31.z, "level 31");
    EXPECT_EQ(Ctm2D_Push(), 0);
    ExpectNear(ToCamera(0, 0), at31.x, at31.y, at31.z, "after the refused push");
    ASSERT_EQ(Ctm2D_Pop(), 1);
    ExpectNear(ToCamera(0, 0), at30.x, at30.y, at30.z, "the pop took level 31");
    for (int i = 0; i < 30; i++) EXPECT_EQ(Ctm2D_Pop(), 1);
    EXPECT_EQ(Ctm2D_Pop(), 0);
}

TEST_F(Toolkit2DTest, DeviceRectAtFullDepthKeepsTheCallersMatrixAndDepth)
{
    for (int i = 1; i < TOOLKIT2D_CTM_DEPTH; i++) ASSERT_EQ(Ctm2D_Push(), 1);
    Ctm2D_Translate(5, 7);
    ASSERT_EQ(Toolkit2D_SetDeviceRect(0, 0, 320, 240), 1);
    const Vec3 moved = ToCamera(0, 0);
    Ctm2D_SetIdentity();
    const Vec3 expected = ToCamera(5, 7);
    ExpectNear(moved, expected.x, expected.y, expected.z, "translation kept");
    // And the rectangle was measured without it.
    ExpectNear(ToCamera(0, 0), 1.0f, -0.75f, 1, "corner");
    EXPECT_EQ(Ctm2D_Push(), 0);
    for (int i = 1; i < TOOLKIT2D_CTM_DEPTH; i++) EXPECT_EQ(Ctm2D_Pop(), 1);
}

TEST_F(Toolkit2DTest, FlatnessIsHalfAPixelSquaredAndFollowsTheCtm)
{
    Camera* big = MeasuringCamera(640, 480, 1.0f, 0.75f);
    ASSERT_EQ(Toolkit2D_SetDeviceCamera(big), 1);
    ASSERT_EQ(Toolkit2D_SetDeviceRect(0, 0, 640, 480), 1);
    EXPECT_NEAR(Toolkit2D_GetFlatness(), 0.25f, 1e-6f);
    Ctm2D_Scale(2, 2);
    EXPECT_NEAR(Toolkit2D_GetFlatness(), 0.0625f, 1e-6f);
    Ctm2D_SetIdentity();
    EXPECT_NEAR(Toolkit2D_GetFlatness(), 0.25f, 1e-6f);
    // A 640-unit rectangle on the fixture's 160-pixel raster: a pixel is 4 units.
    ASSERT_EQ(Toolkit2D_SetDeviceCamera(camera), 1);
    ASSERT_EQ(Toolkit2D_SetDeviceRect(0, 0, 640, 480), 1);
    EXPECT_NEAR(Toolkit2D_GetFlatness(), 4.0f, 1e-4f);
    DestroyCamera(big);
}

TEST_F(Toolkit2DTest, RefusedCamerasAndRectanglesChangeNothing)
{
    const Vec3 before = ToCamera(10, 20);
    Camera* bare = Camera_Create();
    EXPECT_EQ(Toolkit2D_SetDeviceCamera(bare), 0);
    EXPECT_EQ(Toolkit2D_GetDeviceCamera(), camera);
    const float bad[][4] = {{0, 0, 0, 100}, {0, 0, 100, -1}, {0, 0, NAN, 100}, {INFINITY, 0, 10, 10}};
    for (const auto& r : bad) EXPECT_EQ(Toolkit2D_SetDeviceRect(r[0], r[1], r[2], r[3]), 0);
    ExpectNear(ToCamera(10, 20), before.x, before.y, before.z, "unchanged");
    Camera_Destroy(bare);
}

TEST_F(Toolkit2DTest, WithoutACameraOrItsFrameEverythingRefusesCleanly)
{
    Brush2D* brush = Brush2D_Create();
    Path2D* path = Path2D_Create();
    Path2D_MoveTo(path, 0, 0);
    Path2D_CurveTo(path, 10, 0, 10, 10, 0, 10);

    // A camera without a frame: the rectangle and axes work, nothing draws.
    Frame* frame = Camera_GetFrame(camera);
    Camera_SetFrame(camera, nullptr);
    EXPECT_EQ(Toolkit2D_SetDeviceRect(0, 0, kWidth, kHeight), 1);
    EXPECT_NEAR(Toolkit2D_GetFlatness(), 0.25f, 1e-6f);
    EXPECT_EQ(Ctm2D_GetCombined(), nullptr);
    EXPECT_EQ(Path2D_Stroke(path, brush), nullptr);
    Camera_SetFrame(camera, frame);

    // No camera at all.
    EXPECT_EQ(Toolkit2D_SetDeviceCamera(nullptr), 0);
    EXPECT_EQ(Toolkit2D_SetDeviceRect(0, 0, 640, 480), 0);
    Vec2 a = {7, 7};
    EXPECT_EQ(Toolkit2D_GetDeviceAxes(&a, nullptr, nullptr), 0);
    EXPECT_EQ(a.x, 7);
    EXPECT_EQ(Toolkit2D_GetFlatness(), 0.0f);
    EXPECT_EQ(Ctm2D_GetCombined(), nullptr);
    EXPECT_EQ(Path2D_FlattenInPlace(path), nullptr);
    EXPECT_EQ(Path2D_Stroke(path, brush), nullptr);
    Path2D_Destroy(path);
    Brush2D_Destroy(brush);

    // Closed: the same calls, and opening twice is refused.
    Toolkit2D_Close();
    EXPECT_EQ(Ctm2D_Push(), 0);
    EXPECT_EQ(Toolkit2D_SetDeviceCamera(camera), 0);
    EXPECT_EQ(Brush2D_Create(), nullptr);
    EXPECT_EQ(Path2D_Create(), nullptr);
    EXPECT_EQ(Font2D_Read("x"), nullptr);
    ASSERT_EQ(Toolkit2D_Open(camera), 1);
    EXPECT_EQ(Toolkit2D_Open(camera), 0);
}

TEST_F(Toolkit2DTest, ClosingDestroysWhatTheCallerLeftOpen)
{
    // Nothing may leak (the sanitizer build checks) and a new open starts clean.
    Path2D* path = Path2D_Create();
    Path2D_MoveTo(path, 1, 1);
    Path2D_LineTo(path, 2, 2);
    Path2D_MoveTo(path, 3, 3);
    Path2D_Lock(path);
    Brush2D* brush = Brush2D_Create();
    Texture* texture = Texture_Create(nullptr);
    Brush2D_SetTexture(brush, texture);
    Toolkit2D_Close();
    EXPECT_EQ(texture->refCount, 1);
    Texture_Destroy(texture);
    ASSERT_EQ(Toolkit2D_Open(camera), 1);
    EXPECT_EQ(Toolkit2D_GetDeviceCamera(), camera);
}

}  // namespace
}  // namespace toolkit2dtest
