#include "gfx/toolkit/2d/toolkit2d.h"

#include "gfx/core/vector.h"
#include "tests/gfx/toolkit/2d/toolkit2d_fixture.h"

namespace toolkit2dtest {
namespace {

// Where a user point lands in camera space (the test cameras sit at the
// origin with identity frames, so world space is camera space).
Vec3 ToCamera(float x, float y)
{
    const Vec3 p = {x, y, Toolkit2D_GetDepth()};
    Vec3 out = {NAN, NAN, NAN};
    if (const Matrix* w = Ctm2D_GetCombined()) Vector3_TransformPoints(&out, &p, 1, w);
    return out;
}
using gfxtest::ExpectNear;

class Toolkit2DStateTest : public Toolkit2DTest {
protected:
    // A camera whose raster is a record of the given size without pixels:
    // enough for the toolkit's measurements, never drawn.
    Camera* MeasuringCamera(int32_t w, int32_t h, float windowX, float windowY)
    {
        Camera* c = Own(MakeCamera(0, 0, 0, 1, 1, false));
        Raster_Destroy(c->frameBuffer);
        Camera_SetRaster(c, Raster_Create(w, h, 0, RASTERTYPENORMAL | RASTERDONTALLOCATE));
        const Vec2 window = {windowX, windowY};
        Camera_SetViewWindow(c, &window);
        return c;
    }
};

TEST_F(Toolkit2DStateTest, RectangleCornersLandOnTheViewWindowCornersWhateverTheRasterAndFlatnessIsHalfAPixelSquared)
{
    const struct {
        int32_t rasterWidth, rasterHeight;
        float windowX, windowY, x, y, w, h, flatness;
    } cases[] = {{640, 480, 1.0f, 0.75f, 0, 0, 640, 480, 0.25f},
                 {160, 120, 1.0f, 0.75f, 0, 0, 640, 480, 4.0f},  // a pixel is 4 units
                 {64, 64, 0.5f, 0.5f, 0, 0, 640, 480, 25.0f},
                 {200, 100, 1.0f, 1.0f, -20, 10, 40, 5, 0.01f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rasterWidth);
        ASSERT_EQ(Toolkit2D_SetDeviceCamera(MeasuringCamera(c.rasterWidth, c.rasterHeight, c.windowX, c.windowY)), 1);
        ASSERT_EQ(Toolkit2D_SetDeviceRect(c.x, c.y, c.w, c.h), 1);
        ExpectNear(ToCamera(c.x, c.y), {c.windowX, -c.windowY, 1}, "first corner");
        ExpectNear(ToCamera(c.x + c.w, c.y + c.h), {-c.windowX, c.windowY, 1}, "opposite corner");
        ExpectNear(ToCamera(c.x + c.w / 2, c.y + c.h / 2), {0, 0, 1}, "centre");
        Vec2 a, b;  // one raster pixel, in user units, along each axis
        ASSERT_EQ(Toolkit2D_GetDeviceAxes(&a, &b, nullptr), 1);
        EXPECT_NEAR(std::fabs(a.x), c.w / c.rasterWidth, 1e-4f);
        EXPECT_NEAR(a.y, 0, 1e-6f);
        EXPECT_NEAR(std::fabs(b.y), c.h / c.rasterHeight, 1e-4f);
        EXPECT_NEAR(Toolkit2D_GetFlatness(), c.flatness, c.flatness * 1e-4f);
        Ctm2D_Scale(2, 2);
        EXPECT_NEAR(Toolkit2D_GetFlatness(), c.flatness / 4, c.flatness * 1e-4f);
        Ctm2D_SetIdentity();
    }
}

TEST_F(Toolkit2DStateTest, TheStackHolds32LevelsAndAFullStackKeepsTheCallersMatrixThroughADeviceRect)
{
    const Vec3 at30 = ToCamera(30, 0), at31 = ToCamera(31, 0);
    for (int i = 1; i < TOOLKIT2D_CTM_DEPTH; i++) {
        ASSERT_EQ(Ctm2D_Push(), 1) << i;
        Ctm2D_Translate(1, 0);  // level i translates by i units
    }
    ExpectNear(ToCamera(0, 0), at31, "level 31");
    EXPECT_EQ(Ctm2D_Push(), 0);
    ExpectNear(ToCamera(0, 0), at31, "after the refused push");
    ASSERT_EQ(Ctm2D_Pop(), 1);
    ExpectNear(ToCamera(0, 0), at30, "the pop took level 31");
    ASSERT_EQ(Ctm2D_Push(), 1);
    ASSERT_EQ(Toolkit2D_SetDeviceRect(0, 0, 320, 240), 1);  // at full depth
    const Vec3 moved = ToCamera(0, 0);
    Ctm2D_SetIdentity();
    ExpectNear(moved, ToCamera(30, 0), "the caller's translation kept");
    ExpectNear(ToCamera(0, 0), {1.0f, -0.75f, 1}, "the rectangle measured without it");
    for (int i = 1; i < TOOLKIT2D_CTM_DEPTH; i++) EXPECT_EQ(Ctm2D_Pop(), 1);
    EXPECT_EQ(Ctm2D_Pop(), 0);
}

TEST_F(Toolkit2DStateTest, RefusalsChangeNothingAndWithoutACameraItsFrameOrTheToolkitNothingDraws)
{
    const Vec3 before = ToCamera(10, 20);
    Camera* bare = Camera_Create();
    EXPECT_EQ(Toolkit2D_SetDeviceCamera(bare), 0);
    Camera_Destroy(bare);
    EXPECT_EQ(Toolkit2D_GetDeviceCamera(), camera);
    const float bad[][4] = {{0, 0, 0, 100}, {0, 0, 100, -1}, {0, 0, NAN, 100}, {INFINITY, 0, 10, 10}};
    for (const auto& r : bad) EXPECT_EQ(Toolkit2D_SetDeviceRect(r[0], r[1], r[2], r[3]), 0);
    ExpectNear(ToCamera(10, 20), before, "unchanged");

    BrushScope brush;
    PathScope path;
    Path2D_MoveTo(path.path, 0, 0);
    Path2D_CurveTo(path.path, 10, 0, 10, 10, 0, 10);
    Frame* frame = Camera_GetFrame(camera);
    Camera_SetFrame(camera, nullptr);  // the rectangle and axes work, nothing draws
    EXPECT_EQ(Toolkit2D_SetDeviceRect(0, 0, kWidth, kHeight), 1);
    EXPECT_NEAR(Toolkit2D_GetFlatness(), 0.25f, 1e-6f);
    EXPECT_EQ(Ctm2D_GetCombined(), nullptr);
    EXPECT_EQ(Path2D_Stroke(path.path, brush.brush), nullptr);
    Camera_SetFrame(camera, frame);
    EXPECT_EQ(Toolkit2D_SetDeviceCamera(nullptr), 0);
    EXPECT_EQ(Toolkit2D_SetDeviceRect(0, 0, 640, 480), 0);
    Vec2 a = {7, 7};
    EXPECT_EQ(Toolkit2D_GetDeviceAxes(&a, nullptr, nullptr), 0);
    EXPECT_EQ(a.x, 7);
    EXPECT_EQ(Toolkit2D_GetFlatness(), 0.0f);
    EXPECT_EQ(Ctm2D_GetCombined(), nullptr);
    EXPECT_EQ(Path2D_FlattenInPlace(path.path), nullptr);
    EXPECT_EQ(Path2D_Stroke(path.path, brush.brush), nullptr);
}

TEST_F(Toolkit2DStateTest, ClosingDestroysWhatTheCallerLeftOpenAndAClosedToolkitRefusesEverything)
{
    // Nothing may leak (the sanitizer build checks) and a new open starts clean.
    Path2D* path = Path2D_Create();
    Path2D_MoveTo(path, 1, 1);
    Path2D_LineTo(path, 2, 2);
    Path2D_MoveTo(path, 3, 3);
    Path2D_Lock(path);
    Brush2D* brush = Brush2D_Create();
    Texture* texture = Own(Texture_Create(nullptr));
    Brush2D_SetTexture(brush, texture);
    Toolkit2D_Close();
    EXPECT_EQ(texture->refCount, 1);
    EXPECT_EQ(Ctm2D_Push(), 0);
    EXPECT_EQ(Toolkit2D_SetDeviceCamera(camera), 0);
    EXPECT_EQ(Brush2D_Create(), nullptr);
    EXPECT_EQ(Path2D_Create(), nullptr);
    EXPECT_EQ(Font2D_Read("x"), nullptr);
    ASSERT_EQ(Toolkit2D_Open(camera), 1);
    EXPECT_EQ(Toolkit2D_Open(camera), 0);
    EXPECT_EQ(Toolkit2D_GetDeviceCamera(), camera);
}

}  // namespace
}  // namespace toolkit2dtest
