#include "gfx/core/camera.h"

#include <cmath>
#include <tuple>

#include "tests/gfx/core/image_fixture.h"

using namespace testdriver;

namespace {

// How far p lies outside plane pl (negative: inside).
float Outside(const FrustumPlane& pl, const Vec3& p)
{
    return pl.normal.x * p.x + pl.normal.y * p.y + pl.normal.z * p.z - pl.distance;
}
bool Inside(const Camera* c, const Vec3& p)
{
    for (const FrustumPlane& pl : c->frustumPlanes)
        if (Outside(pl, p) > 1e-4f) return false;
    return true;
}

// A camera on a frame of its own, in a started engine.
class CameraTest : public ::testing::Test {
protected:
    EngineScope scope;
    Frame* frame = Frame_Create();
    Camera* camera = Camera_Create();
    void SetUp() override { Camera_SetFrame(camera, frame); }
    void TearDown() override
    {
        Camera_Destroy(camera);
        Frame_Destroy(frame);
    }
};

}  // namespace

TEST_F(CameraTest, FrustaOfEveryShapeHaveUnitOutwardPlanesAndMapTheirCornersOntoTheScreen)
{
    // Frames turned 45 degrees about y, either handedness; windows of either sign; offsets.
    const struct {
        bool mirrored, negative;
        uint32_t projection;
        float ox, oy, window;
    } cases[] = {{false, false, CAMERA_PERSPECTIVE, 0, 0, 0.5f},
                 {true, false, CAMERA_PERSPECTIVE, 0, 0, 0.5f},
                 {false, true, CAMERA_PERSPECTIVE, 0, 0, 0.5f},
                 {true, true, CAMERA_PERSPECTIVE, 0, 0, 0.5f},
                 {false, false, CAMERA_PERSPECTIVE, 0.3f, -0.2f, 0.5f},
                 {false, false, CAMERA_PARALLEL, 0.3f, -0.2f, 0.5f},
                 {false, false, CAMERA_PARALLEL, 0, 0, 1.0f}};
    const float s = std::sqrt(0.5f);
    for (const auto& k : cases) {
        Matrix& m = frame->modelling;
        m.right = {k.mirrored ? -s : s, 0, k.mirrored ? s : -s};
        m.at = {s, 0, s};
        m.pos = {3, 1, -2};
        Matrix_MarkChanged(&m);
        Frame_MarkDirty(frame);
        const Vec2 window = {k.negative ? -k.window : k.window, 0.8f * k.window}, offset = {k.ox, k.oy};
        Camera_SetViewWindow(camera, &window);
        Camera_SetViewOffset(camera, &offset);
        ASSERT_EQ(Camera_SetProjection(camera, k.projection), camera);
        Frame_SyncDirtyList();
        const Camera* c = camera;
        const bool perspective = k.projection == CAMERA_PERSPECTIVE;
        SCOPED_TRACE(std::to_string(k.projection) + std::to_string(k.mirrored) + std::to_string(k.negative) + " " +
                     std::to_string(k.ox) + " " + std::to_string(k.window));
        for (const FrustumPlane& pl : c->frustumPlanes)
            EXPECT_NEAR(pl.normal.x * pl.normal.x + pl.normal.y * pl.normal.y + pl.normal.z * pl.normal.z, 1.0f, 2e-3f);
        auto along = [&](float a, float r, float u) {
            return Vec3{m.pos.x + a * m.at.x + r * m.right.x, m.pos.y + u, m.pos.z + a * m.at.z + r * m.right.z};
        };
        Vec3 centre = {0, 0, 0};
        for (const Vec3& p : c->frustumCorners) centre = {centre.x + p.x / 8, centre.y + p.y / 8, centre.z + p.z / 8};
        EXPECT_TRUE(Inside(c, centre));
        for (Vec3 out : {along(8, 10, 0), along(8, -10, 0), along(8, 0, 10), along(8, 0, -10), along(12, 0, 0)})
            EXPECT_FALSE(Inside(c, out));
        // The view matrix takes corners 0-3 and 4-7 to (0, 0), (1, 0), (1, 1), (0, 1).
        for (int i = 0; i < 8; i++) {
            Vec3 p;
            Vector3_TransformPoints(&p, &c->frustumCorners[i], 1, &c->viewMatrix);
            const float z = perspective ? p.z : 1.0f;
            EXPECT_NEAR(p.x / z, (i % 4 == 1 || i % 4 == 2) ? 1.0f : 0.0f, 1e-4f) << " corner " << i;
            EXPECT_NEAR(p.y / z, (i % 4 >= 2) ? 1.0f : 0.0f, 1e-4f) << " corner " << i;
        }
        // Perspective edges meet at the eye moved by the offset; a parallel box is sheared by it.
        const Vec3 eye = along(0, -k.ox, k.oy);
        for (int i = 0; i < 4; i++) {
            const Vec3 &a = c->frustumCorners[i], &b = c->frustumCorners[4 + i];
            if (perspective) {
                ExpectNear({b.x - eye.x, b.y - eye.y, b.z - eye.z},
                           {(a.x - eye.x) * 200, (a.y - eye.y) * 200, (a.z - eye.z) * 200}, 1e-4f);
            } else {
                const float d = 9.95f;
                ExpectNear({b.x - a.x, b.y - a.y, b.z - a.z},
                           {d * (m.at.x + k.ox * m.right.x), -d * k.oy, d * (m.at.z + k.ox * m.right.z)}, 1e-4f);
            }
        }
    }
}

TEST_F(CameraTest, SettersRefuseValuesThatDivideByZeroAndZMapsTheClipRangeIntoTheDeviceRange)
{
    Camera* loose = Camera_Create();  // no frame to mark
    EXPECT_EQ(Camera_SetFarClipPlane(loose, 20.0f), loose);
    Camera_Destroy(loose);
    EXPECT_EQ(Camera_SetNearClipPlane(camera, 0.0f), nullptr);
    EXPECT_EQ(Camera_SetFarClipPlane(camera, -1.0f), nullptr);
    EXPECT_EQ(Camera_SetFarClipPlane(camera, 0.05f), nullptr);  // the near plane's
    Vec2 zero = {0.0f, 1.0f}, negative = {-0.5f, 0.5f};
    EXPECT_EQ(Camera_SetViewWindow(camera, &zero), nullptr);
    EXPECT_EQ(camera->viewWindow.x, 1.0f);
    EXPECT_EQ(Camera_SetViewWindow(camera, &negative), camera);
    EXPECT_EQ(camera->recipViewWindow.x, -2.0f);
    EXPECT_EQ(Camera_SetProjection(camera, 3), nullptr);
    // A parallel camera may start at or behind the eye, and then stays parallel.
    ASSERT_NE(Camera_SetProjection(camera, CAMERA_PARALLEL), nullptr);
    EXPECT_NE(Camera_SetNearClipPlane(camera, -1.0f), nullptr);
    EXPECT_EQ(Camera_SetProjection(camera, CAMERA_PERSPECTIVE), nullptr);
    // Device Z runs from just above 0 at the near plane to just below 1 at the far one.
    Camera_SetNearClipPlane(camera, 1.0f);
    Camera_SetFarClipPlane(camera, 100.0f);
    ASSERT_NE(Camera_SetProjection(camera, CAMERA_PERSPECTIVE), nullptr);
    EXPECT_NEAR(camera->zScale * (1.0f / 1.0f) + camera->zShift, 0.0001f, 1e-5f);
    EXPECT_NEAR(camera->zScale * (1.0f / 100.0f) + camera->zShift, 0.9999f, 1e-5f);
}
