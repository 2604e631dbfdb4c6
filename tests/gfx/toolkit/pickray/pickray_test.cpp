#include "gfx/toolkit/pickray/pickray.h"

#include "tests/gfx/layer_fixture.h"

namespace {

// A camera turned and moved, so that no corner coordinate is trivially 0 or
// 1, with a 200 x 100 raster: pixels map into its frustum, corner to corner.
class PickRayTest : public WorldTest {
protected:
    Camera* camera = nullptr;
    void SetUp() override
    {
        WorldTest::SetUp();
        camera = Own(MakeCamera(1, 2, -3, 200, 100));
        const Vec3 axis = {0.3f, 1, 0.2f};
        Matrix_Rotate(&Camera_GetFrame(camera)->modelling, &axis, 25, COMBINE_POSTCONCAT);
        Frame_MarkDirty(Camera_GetFrame(camera));
        Camera_SetNearClipPlane(camera, 0.5f);
        Camera_SetFarClipPlane(camera, 40);
        const Vec2 window = {0.8f, 0.4f};
        Camera_SetViewWindow(camera, &window);
    }
    // The ray through pixel (x, y) against the frustum point at (u, v) of the
    // near and far rectangles (corners 0 1 2 3 near, 4 5 6 7 far).
    void ExpectRay(float x, float y, float u, float v, float tolerance = 1e-3f)
    {
        Frame_GetWorldMatrix(Camera_GetFrame(camera));
        Camera_SyncFrustum(&camera->object);
        const Vec3* c = camera->frustumCorners;
        auto at = [&](int k) {
            const Vec3 &a = c[k], &b = c[k + 1], &d = c[k + 3], &e = c[k + 2];
            return Vec3{(1 - v) * (a.x + (b.x - a.x) * u) + v * (d.x + (e.x - d.x) * u),
                        (1 - v) * (a.y + (b.y - a.y) * u) + v * (d.y + (e.y - d.y) * u),
                        (1 - v) * (a.z + (b.z - a.z) * u) + v * (d.z + (e.z - d.z) * u)};
        };
        Line line = {};
        const Vec2 pixel = {x, y};
        ASSERT_EQ(Camera_CalcPixelRay(camera, &line, &pixel), camera);
        const Vec3 near = at(0), far = at(4);
        for (const auto& [got, want] : {std::pair{line.start, near}, std::pair{line.end, far}}) {
            EXPECT_NEAR(got.x, want.x, tolerance) << x << "," << y;
            EXPECT_NEAR(got.y, want.y, tolerance) << x << "," << y;
            EXPECT_NEAR(got.z, want.z, tolerance) << x << "," << y;
        }
    }
};

TEST_F(PickRayTest, PixelsMapToTheFrustumCornerToCornerAndBeyondWithAndWithoutAViewOffset)
{
    for (const Vec2 offset : {Vec2{0, 0}, Vec2{0.3f, -0.2f}}) {
        Camera_SetViewOffset(camera, &offset);
        ExpectRay(0, 0, 0, 0);
        ExpectRay(200, 100, 1, 1);
        ExpectRay(200, 0, 1, 0);
        ExpectRay(100, 50, 0.5f, 0.5f);
        ExpectRay(-100, 150, -0.5f, 1.5f);  // outside the raster: along the edges
    }
    // Without an offset the centre runs along the camera's at axis.
    const Vec2 none = {0, 0};
    Camera_SetViewOffset(camera, &none);
    ExpectRay(0, 0, 0, 0);
    const Matrix* m = Frame_GetWorldMatrix(Camera_GetFrame(camera));
    Line line = {};
    const Vec2 centre = {100, 50};
    Camera_CalcPixelRay(camera, &line, &centre);
    EXPECT_NEAR(line.end.x - line.start.x, 39.5f * m->at.x, 1e-3f);
    EXPECT_NEAR(line.end.z - line.start.z, 39.5f * m->at.z, 1e-3f);
    EXPECT_NEAR(line.start.y, m->pos.y + 0.5f * m->at.y, 1e-4f);
    // A camera without a frame buffer is refused, the line untouched.
    Raster* raster = camera->frameBuffer;
    Camera_SetRaster(camera, nullptr);
    line = {{9, 9, 9}, {9, 9, 9}};
    EXPECT_EQ(Camera_CalcPixelRay(camera, &line, &centre), nullptr);
    EXPECT_EQ(line.start.x, 9);
    EXPECT_EQ(TakeError(), (int32_t)ERR_NULL_ARGUMENT);
    Camera_SetRaster(camera, raster);
}

}  // namespace
