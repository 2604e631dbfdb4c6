#include "gfx/toolkit/pickray/pickray.h"

#include "tests/gfx/layer_fixture.h"

namespace {

using PickRayTest = WorldTest;

using gfxtest::ExpectNear;

// A camera turned and moved, so that no coordinate is trivially 0 or 1: raster
// corners land on frustum corners (0 1 2 3 near, 4 5 6 7 far), the centre on
// the at axis, and a camera without a frame buffer is refused.
TEST_F(PickRayTest, RasterCornersLandOnFrustumCornersAndTheCentreOnTheAtAxis)
{
    Camera* camera = Own(MakeCamera(1, 2, -3, 200, 100));
    const Vec3 axis = {0.3f, 1, 0.2f};
    Matrix_Rotate(&Camera_GetFrame(camera)->modelling, &axis, 25, COMBINE_POSTCONCAT);
    Frame_MarkDirty(Camera_GetFrame(camera));
    Camera_SetNearClipPlane(camera, 0.5f);
    Camera_SetFarClipPlane(camera, 40);
    const Vec2 window = {0.8f, 0.4f};
    Camera_SetViewWindow(camera, &window);
    const Matrix* m = Frame_GetWorldMatrix(Camera_GetFrame(camera));
    Camera_SyncFrustum(&camera->object);
    const Vec3* c = camera->frustumCorners;
    const struct {
        Vec2 pixel;
        Vec3 start, end;
    } cases[] = {{{0, 0}, c[0], c[4]},
                 {{200, 0}, c[1], c[5]},
                 {{200, 100}, c[2], c[6]},
                 {{100, 50},
                  {m->pos.x + 0.5f * m->at.x, m->pos.y + 0.5f * m->at.y, m->pos.z + 0.5f * m->at.z},
                  {m->pos.x + 40 * m->at.x, m->pos.y + 40 * m->at.y, m->pos.z + 40 * m->at.z}}};
    for (const auto& k : cases) {
        Line line = {};
        ASSERT_EQ(Camera_CalcPixelRay(camera, &line, &k.pixel), camera);
        ExpectNear(line.start, k.start, "start", 2e-3f);
        ExpectNear(line.end, k.end, "end", 2e-3f);
    }
    Raster* raster = camera->frameBuffer;
    Camera_SetRaster(camera, nullptr);
    Line line = {{9, 9, 9}, {9, 9, 9}};
    EXPECT_EQ(Camera_CalcPixelRay(camera, &line, &cases[0].pixel), nullptr);
    EXPECT_EQ(line.start.x, 9);
    EXPECT_EQ(TakeError(), (int32_t)ERR_NULL_ARGUMENT);
    Camera_SetRaster(camera, raster);
}

}  // namespace
