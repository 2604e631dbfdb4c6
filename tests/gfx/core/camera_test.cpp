#include "gfx/core/camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "gfx/core/error.h"
#include "tests/gfx/core/test_driver.h"

using namespace testdriver;

namespace {

void ExpectNear(const Vec3& v, float x, float y, float z)
{
    EXPECT_NEAR(v.x, x, 1e-4f);
    EXPECT_NEAR(v.y, y, 1e-4f);
    EXPECT_NEAR(v.z, z, 1e-4f);
}

bool Inside(const Camera* c, const Vec3& p)
{
    for (const FrustumPlane& pl : c->frustumPlanes)
        if (pl.normal.x * p.x + pl.normal.y * p.y + pl.normal.z * p.z > pl.distance + 1e-4f) return false;
    return true;
}

struct CameraRig {
    Frame* frame = Frame_Create();
    Camera* camera = Camera_Create();
    CameraRig() { Camera_SetFrame(camera, frame); }
    ~CameraRig()
    {
        Camera_Destroy(camera);
        Frame_Destroy(frame);
    }
    void Sync() { Frame_SyncDirtyList(); }
};

}  // namespace

TEST(Camera, NewCameraHasTheDefaults)
{
    EngineScope scope;
    Camera* c = Camera_Create();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->object.header.type, FRAMEOBJECT_CAMERA);
    EXPECT_EQ(c->nearPlane, 0.05f);
    EXPECT_EQ(c->farPlane, 10.0f);
    EXPECT_EQ(c->fogPlane, 5.0f);
    EXPECT_EQ(c->viewWindow.x, 1.0f);
    EXPECT_EQ(c->viewOffset.x, 0.0f);
    EXPECT_EQ(c->projection, (uint32_t)CAMERA_PERSPECTIVE);
    Camera_Destroy(c);
}

TEST(Camera, FrustumOfACameraLookingAlongZ)
{
    EngineScope scope;
    CameraRig rig;
    rig.Sync();
    Camera* c = rig.camera;
    ExpectNear(c->frustumCorners[0], 0.05f, 0.05f, 0.05f);
    ExpectNear(c->frustumCorners[2], -0.05f, -0.05f, 0.05f);
    ExpectNear(c->frustumCorners[4], 10, 10, 10);
    ExpectNear(c->frustumCorners[6], -10, -10, 10);
    ExpectNear(c->frustumPlanes[FRUSTUM_FAR].normal, 0, 0, 1);
    EXPECT_NEAR(c->frustumPlanes[FRUSTUM_FAR].distance, 10.0f, 1e-4f);
    EXPECT_TRUE(Inside(c, {0, 0, 5}));
    EXPECT_FALSE(Inside(c, {0, 0, 11}));
    EXPECT_FALSE(Inside(c, {0, 0, 0.01f}));
    EXPECT_FALSE(Inside(c, {6, 0, 5}));
    EXPECT_EQ(c->frustumPlanes[FRUSTUM_FAR].closestZ, 1);
    EXPECT_EQ(c->frustumPlanes[FRUSTUM_NEAR].closestZ, 0);
    EXPECT_EQ(c->frustumBox.sup.x, 10.0f);
    EXPECT_EQ(c->frustumBox.inf.z, 0.05f);
    // A sphere on the axis touching the four side planes from inside: its
    // centre lies its radius inside each of them.
    const Vec3 centre = {0, 0, 5};
    for (int side : {FRUSTUM_LEFT, FRUSTUM_TOP, FRUSTUM_RIGHT, FRUSTUM_BOTTOM}) {
        const FrustumPlane& pl = c->frustumPlanes[side];
        const float distance = pl.normal.x * centre.x + pl.normal.y * centre.y + pl.normal.z * centre.z - pl.distance;
        EXPECT_NEAR(distance, -5.0f / std::sqrt(2.0f), 2e-3f) << side;
    }
}

TEST(Camera, FrustaOfEveryShapeHaveUnitOutwardPlanesAndMapTheirCornersOntoTheScreen)
{
    EngineScope scope;
    // Frames turned 45 degrees about y, right- or left-handed; windows of
    // either sign; with and without a view offset.
    const struct {
        bool mirrored, negative;
        uint32_t projection;
        float ox, oy;
    } cases[] = {{false, false, CAMERA_PERSPECTIVE, 0, 0},       {true, false, CAMERA_PERSPECTIVE, 0, 0},
                 {false, true, CAMERA_PERSPECTIVE, 0, 0},        {true, true, CAMERA_PERSPECTIVE, 0, 0},
                 {false, false, CAMERA_PERSPECTIVE, 0.3f, -0.2f}, {false, false, CAMERA_PARALLEL, 0.3f, -0.2f}};
    const float s = std::sqrt(0.5f);
    for (const auto& k : cases) {
        CameraRig rig;
        Matrix& m = rig.frame->modelling;
        m.right = {k.mirrored ? -s : s, 0, k.mirrored ? s : -s};
        m.at = {s, 0, s};
        m.pos = {3, 1, -2};
        Matrix_MarkChanged(&m);
        Frame_MarkDirty(rig.frame);
        const Vec2 window = {k.negative ? -0.5f : 0.5f, 0.4f}, offset = {k.ox, k.oy};
        Camera_SetViewWindow(rig.camera, &window);
        Camera_SetViewOffset(rig.camera, &offset);
        Camera_SetProjection(rig.camera, k.projection);
        rig.Sync();
        const Camera* c = rig.camera;
        const bool perspective = k.projection == CAMERA_PERSPECTIVE;
        const std::string what = std::to_string(k.projection) + std::to_string(k.mirrored) + std::to_string(k.negative) +
                                 " " + std::to_string(k.ox);
        for (int i = 0; i < 6; i++) {
            const Vec3& n = c->frustumPlanes[i].normal;
            EXPECT_NEAR(n.x * n.x + n.y * n.y + n.z * n.z, 1.0f, 2e-3f) << what << " plane " << i;
        }
        auto along = [&](float a, float r, float u) {
            return Vec3{m.pos.x + a * m.at.x + r * m.right.x, m.pos.y + u, m.pos.z + a * m.at.z + r * m.right.z};
        };
        Vec3 centre = {0, 0, 0};
        for (const Vec3& p : c->frustumCorners) centre = {centre.x + p.x / 8, centre.y + p.y / 8, centre.z + p.z / 8};
        EXPECT_TRUE(Inside(c, centre)) << what;
        for (Vec3 out : {along(8, 10, 0), along(8, -10, 0), along(8, 0, 10), along(8, 0, -10), along(12, 0, 0)})
            EXPECT_FALSE(Inside(c, out)) << what;
        // The view matrix takes corners 0-3 and 4-7 to the screen's corners
        // (0, 0), (1, 0), (1, 1), (0, 1).
        for (int i = 0; i < 8; i++) {
            Vec3 p;
            Vector3_TransformPoints(&p, &c->frustumCorners[i], 1, &c->viewMatrix);
            const float z = perspective ? p.z : 1.0f;
            EXPECT_NEAR(p.x / z, (i % 4 == 1 || i % 4 == 2) ? 1.0f : 0.0f, 1e-4f) << what << " corner " << i;
            EXPECT_NEAR(p.y / z, (i % 4 >= 2) ? 1.0f : 0.0f, 1e-4f) << what << " corner " << i;
        }
        // A perspective view's edges meet at the eye moved by the offset
        // (against the camera's right for +x, up for +y).
        if (perspective) {
            const Vec3 eye = along(0, -k.ox, k.oy);
            for (int i = 0; i < 4; i++) {
                const Vec3 &a = c->frustumCorners[i], &b = c->frustumCorners[4 + i];
                ExpectNear({b.x - eye.x, b.y - eye.y, b.z - eye.z}, (a.x - eye.x) * 200, (a.y - eye.y) * 200,
                           (a.z - eye.z) * 200);
            }
        }
    }
}

TEST(Camera, PointOnTheLeftOfTheViewIsClassifiedLeft)
{
    EngineScope scope;
    CameraRig rig;
    rig.Sync();
    // Camera-space left is -x for a frame with right = +x; corner 1 is the
    // near top-left corner, on the left plane.
    const Camera* c = rig.camera;
    Vec3 left = {-8, 0, 5};
    const FrustumPlane& pl = c->frustumPlanes[FRUSTUM_LEFT];
    EXPECT_GT(pl.normal.x * left.x + pl.normal.y * left.y + pl.normal.z * left.z, pl.distance);
    const FrustumPlane& pr = c->frustumPlanes[FRUSTUM_RIGHT];
    EXPECT_LT(pr.normal.x * left.x + pr.normal.y * left.y + pr.normal.z * left.z, pr.distance);
    EXPECT_LT(pl.normal.x, 0.0f);
}

TEST(Camera, ParallelProjectionBoxesTheClipRange)
{
    EngineScope scope;
    CameraRig rig;
    ASSERT_NE(Camera_SetProjection(rig.camera, CAMERA_PARALLEL), nullptr);
    rig.Sync();
    const Camera* c = rig.camera;
    ExpectNear(c->frustumCorners[0], 1, 1, 0.05f);
    ExpectNear(c->frustumCorners[6], -1, -1, 10);
    EXPECT_TRUE(Inside(c, {0.5f, -0.5f, 5}));
    EXPECT_FALSE(Inside(c, {2, 0, 5}));
    // A parallel camera may start at or behind the eye.
    EXPECT_NE(Camera_SetNearClipPlane(rig.camera, -1.0f), nullptr);
    EXPECT_EQ(Camera_SetProjection(rig.camera, CAMERA_PERSPECTIVE), nullptr);
}

TEST(Camera, SettersRefuseValuesThatDivideByZero)
{
    EngineScope scope;
    Camera* c = Camera_Create();
    EXPECT_EQ(Camera_SetNearClipPlane(c, 0.0f), nullptr);
    EXPECT_EQ(Camera_SetFarClipPlane(c, -1.0f), nullptr);
    EXPECT_EQ(Camera_SetFarClipPlane(c, 0.05f), nullptr);
    Vec2 zero = {0.0f, 1.0f};
    EXPECT_EQ(Camera_SetViewWindow(c, &zero), nullptr);
    EXPECT_EQ(c->viewWindow.x, 1.0f);
    Vec2 negative = {-0.5f, 0.5f};
    EXPECT_EQ(Camera_SetViewWindow(c, &negative), c);
    EXPECT_EQ(c->recipViewWindow.x, -2.0f);
    EXPECT_EQ(Camera_SetProjection(c, 3), nullptr);
    Camera_Destroy(c);
}

TEST(Camera, ZScaleAndShiftMapTheClipRangeIntoTheDeviceRange)
{
    EngineScope scope;
    Camera* c = Camera_Create();  // no frame: only Z values change
    Camera_SetNearClipPlane(c, 1.0f);
    Camera_SetFarClipPlane(c, 100.0f);
    float d = 0.0001f;
    EXPECT_NEAR(c->zScale * (1.0f / 1.0f) + c->zShift, 0.0f + d, 1e-5f);
    EXPECT_NEAR(c->zScale * (1.0f / 100.0f) + c->zShift, 1.0f - d, 1e-5f);
    Camera_Destroy(c);
}

TEST(Camera, UpdatesMakeTheCameraCurrentAndClearIt)
{
    EngineScope scope;
    CameraRig rig;
    Frame_MarkDirty(rig.frame);
    EXPECT_EQ(Camera_BeginUpdate(rig.camera), rig.camera);
    EXPECT_EQ(Engine_Instance()->currentCamera, rig.camera);
    EXPECT_EQ(Frame_IsDirty(rig.frame), 0u);  // frames were synchronised
    EXPECT_EQ(Camera_Clear(rig.camera, nullptr, 1), rig.camera);
    EXPECT_EQ(Camera_EndUpdate(rig.camera), rig.camera);
    EXPECT_EQ(Engine_Instance()->currentCamera, nullptr);

    RefusedStandard().insert(10);
    Camera_BeginUpdate(rig.camera);
    EXPECT_EQ(Camera_EndUpdate(rig.camera), nullptr);
    EXPECT_EQ(Engine_Instance()->currentCamera, rig.camera);
    RefusedStandard().clear();
    Camera_EndUpdate(rig.camera);
}
