#include "gfx/toolkit/pickray/pickray.h"

#include "gfx/core/camera.h"
#include "tests/gfx/world/world_fixture.h"

namespace {

class PickRayTest : public WorldTest {
protected:
    Camera* camera = nullptr;
    void SetUp() override
    {
        WorldTest::SetUp();
        // Turned and moved, so that no corner coordinate is trivially 0 or 1.
        camera = MakeCamera(1, 2, -3, 200, 100);
        Frame* frame = Camera_GetFrame(camera);
        const Vec3 axis = {0.3f, 1, 0.2f};
        Matrix_Rotate(&frame->modelling, &axis, 25, COMBINE_POSTCONCAT);
        Frame_MarkDirty(frame);
        Camera_SetNearClipPlane(camera, 0.5f);
        Camera_SetFarClipPlane(camera, 40);
        const Vec2 window = {0.8f, 0.4f};
        Camera_SetViewWindow(camera, &window);
        Sync();
    }
    void TearDown() override
    {
        DestroyCamera(camera);
        WorldTest::TearDown();
    }
    void Sync()
    {
        Frame_GetWorldMatrix(Camera_GetFrame(camera));
        Camera_SyncFrustum(&camera->object);
    }
    Line Ray(float x, float y)
    {
        Line line = {};
        const Vec2 pixel = {x, y};
        EXPECT_EQ(Camera_CalcPixelRay(camera, &line, &pixel), camera);
        return line;
    }
    static void ExpectNear(const Vec3& a, const Vec3& b, float tolerance = 1e-4f)
    {
        EXPECT_NEAR(a.x, b.x, tolerance);
        EXPECT_NEAR(a.y, b.y, tolerance);
        EXPECT_NEAR(a.z, b.z, tolerance);
    }
    static Vec3 Along(const Vec3& a, const Vec3& b, float t)
    {
        return Vec3{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
    }
};

TEST_F(PickRayTest, RasterCornersAndCentreMapToTheFrustumCornersAndTheirAverage)
{
    const Vec3* c = camera->frustumCorners;
    Line l = Ray(0, 0);
    ExpectNear(l.start, c[0]), ExpectNear(l.end, c[4]);
    l = Ray(200, 100);
    ExpectNear(l.start, c[2]), ExpectNear(l.end, c[6]);
    l = Ray(200, 0);
    ExpectNear(l.start, c[1]), ExpectNear(l.end, c[5]);
    l = Ray(100, 50);
    ExpectNear(l.start, Along(Along(c[0], c[1], 0.5f), Along(c[3], c[2], 0.5f), 0.5f));
    ExpectNear(l.end, Along(Along(c[4], c[5], 0.5f), Along(c[7], c[6], 0.5f), 0.5f));
}

TEST_F(PickRayTest, PixelsOutsideTheRasterExtrapolateAlongTheFrustumEdges)
{
    const Vec3* c = camera->frustumCorners;
    const Line l = Ray(-100, 150);  // u = -0.5, v = 1.5
    ExpectNear(l.start, Along(Along(c[0], c[1], -0.5f), Along(c[3], c[2], -0.5f), 1.5f), 1e-3f);
    ExpectNear(l.end, Along(Along(c[4], c[5], -0.5f), Along(c[7], c[6], -0.5f), 1.5f), 1e-3f);
}

// The centre ray runs along the camera's at axis only without a view
// offset; with one, the frustum is sheared by o = oy up - ox right, so the
// centre runs from P + o + near (A - o) along A - o.
TEST_F(PickRayTest, TheCentreRayFollowsTheAtAxisShearedByTheViewOffset)
{
    const Matrix* m = Frame_GetWorldMatrix(Camera_GetFrame(camera));
    for (const Vec2 offset : {Vec2{0, 0}, Vec2{0.3f, -0.2f}}) {
        Camera_SetViewOffset(camera, &offset);
        Sync();
        const Line l = Ray(100, 50);
        const Vec3 o = {offset.y * m->up.x - offset.x * m->right.x, offset.y * m->up.y - offset.x * m->right.y,
                        offset.y * m->up.z - offset.x * m->right.z};
        const Vec3 dir = {m->at.x - o.x, m->at.y - o.y, m->at.z - o.z};
        ExpectNear(l.start,
                   Vec3{m->pos.x + o.x + 0.5f * dir.x, m->pos.y + o.y + 0.5f * dir.y, m->pos.z + o.z + 0.5f * dir.z});
        ExpectNear(l.end, Vec3{m->pos.x + o.x + 40 * dir.x, m->pos.y + o.y + 40 * dir.y, m->pos.z + o.z + 40 * dir.z},
                   2e-3f);
    }
}

TEST_F(PickRayTest, ACameraWithoutAFrameBufferIsRefused)
{
    Raster* raster = camera->frameBuffer;
    Camera_SetRaster(camera, nullptr);
    Line line = {{9, 9, 9}, {9, 9, 9}};
    const Vec2 pixel = {1, 1};
    EXPECT_EQ(Camera_CalcPixelRay(camera, &line, &pixel), nullptr);
    EXPECT_EQ(line.start.x, 9);
    EXPECT_EQ(TakeError(), (int32_t)ERR_NULL_ARGUMENT);
    Camera_SetRaster(camera, raster);
}

}  // namespace
