#include "gfx/core/camera.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "gfx/core/matrix.h"
#include "gfx/core/vector.h"
#include "tests/gfx/core/image_fixture.h"

using namespace testdriver;

namespace {

// Whether p lies inside (or within 1e-4 of) every plane of c's frustum.
bool Inside(const Camera* c, const Vec3& p)
{
    for (const FrustumPlane& pl : c->frustumPlanes)
        if (pl.normal.x * p.x + pl.normal.y * p.y + pl.normal.z * p.z - pl.distance > 1e-4f) return false;
    return true;
}

class CameraTest : public ::testing::Test {
protected:
    EngineScope scope;
    Frame* frame = Frame_Create();
    Camera* camera = Camera_Create();
    void SetUp() override { Camera_SetFrame(camera, frame); }
    void TearDown() override { Camera_Destroy(camera), Frame_Destroy(frame); }
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
    Camera_SetNearClipPlane(camera, 1.0f), Camera_SetFarClipPlane(camera, 100.0f);
    ASSERT_NE(Camera_SetProjection(camera, CAMERA_PERSPECTIVE), nullptr);
    EXPECT_NEAR(camera->zScale * (1.0f / 1.0f) + camera->zShift, 0.0001f, 1e-5f);
    EXPECT_NEAR(camera->zScale * (1.0f / 100.0f) + camera->zShift, 0.9999f, 1e-5f);
}

namespace {

Matrix Make(Vec3 r, Vec3 u, Vec3 a, Vec3 p, uint32_t flags = 0)
{
    Matrix m = {};
    m.right = r, m.up = u, m.at = a, m.pos = p, m.flags = flags;
    return m;
}

Matrix RandomAffine(std::mt19937& rng)
{
    std::uniform_real_distribution<float> d(-2.0f, 2.0f);
    return Make({d(rng), d(rng), d(rng)}, {d(rng), d(rng), d(rng)}, {d(rng), d(rng), d(rng)}, {d(rng), d(rng), d(rng)});
}

// Expects the rows of m to be the rows of the double-precision product a x b.
void ExpectProduct(const Matrix& m, const Matrix& a, const Matrix& b)
{
    const Vec3 *ar[4] = {&a.right, &a.up, &a.at, &a.pos}, *mr[4] = {&m.right, &m.up, &m.at, &m.pos};
    for (int i = 0; i < 4; i++) {
        const double x = ar[i]->x, y = ar[i]->y, z = ar[i]->z, w = i == 3;
        for (float Vec3::*c : {&Vec3::x, &Vec3::y, &Vec3::z})
            EXPECT_NEAR(mr[i]->*c, x * (b.right.*c) + y * (b.up.*c) + z * (b.at.*c) + w * (b.pos.*c), 1e-4);
    }
}

}  // namespace

TEST(Matrix, MultiplyMatchesADoubleReferenceAndRotateScaleTranslateCombineInTheStatedOrder)
{
    std::mt19937 rng(3);
    for (int i = 0; i < 50; i++) {
        Matrix a = RandomAffine(rng), b = RandomAffine(rng), out;
        const Matrix original = a;
        Matrix_Multiply(&out, &a, &b);
        ExpectProduct(out, original, b);
        Matrix_Multiply(&a, &a, &b);  // output is the first input
        ExpectProduct(a, original, b);
    }
    // An identity operand copies the other one, flags included.
    Matrix id, other = Make({2, 0, 0}, {0, 3, 0}, {0, 0, 4}, {1, 2, 3}, 0x40), out;
    Matrix_SetIdentity(&id);
    for (bool idFirst : {true, false}) {
        Matrix_Multiply(&out, idFirst ? &id : &other, idFirst ? &other : &id);
        EXPECT_EQ(std::tuple(out.flags, memcmp(&out.right, &other.right, sizeof(Vec3)), out.pos.z),
                  std::tuple(0x40u, 0, 3.0f));
    }
    Matrix m, post, pre;
    Matrix_SetIdentity(&m);
    Vec3 z = {0, 0, 2}, y = {0, 1, 0}, t = {1, 0, 0}, s = {2, 3, 4};  // axes are normalised inside
    Matrix_Rotate(&m, &z, 90.0f, COMBINE_REPLACE);
    ExpectNear(m.right, {0, 1, 0});
    EXPECT_EQ(m.flags, 3u);
    // About +y it takes at (+z) to +x (the engine layer's Vec3_RotateAxis: to -x).
    Matrix_Rotate(&m, &y, 90.0f, COMBINE_REPLACE);
    ExpectNear(m.at, {1, 0, 0});
    // Pre: the new transform applies first, so it leaves the translation alone.
    for (Matrix* r : {&post, &pre}) {
        Matrix_SetIdentity(r);
        Matrix_Translate(r, &t, COMBINE_REPLACE);
        Matrix_Rotate(r, &z, 90.0f, r == &pre ? COMBINE_PRECONCAT : COMBINE_POSTCONCAT);
    }
    ExpectNear(post.pos, {0, 1, 0});
    ExpectNear(pre.pos, {1, 0, 0});
    ExpectNear(pre.right, {0, 1, 0});
    Matrix_Scale(&pre, &s, COMBINE_POSTCONCAT);
    EXPECT_NEAR(pre.pos.x, 2.0f, 1e-6f);
    EXPECT_EQ(pre.flags & MATRIX_IDENTITY_FLAGS, 0u);
    Matrix_Translate(&pre, &t, COMBINE_PRECONCAT);  // along the scaled, rotated right
    EXPECT_NEAR(pre.pos.y, 3.0f, 1e-5f);
    const Matrix before = pre;
    Error_Get(nullptr);
    EXPECT_EQ(Matrix_Translate(&pre, &t, 7), nullptr);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_BAD_COMBINATION);
    EXPECT_EQ(Matrix_Scale(&pre, &s, 3), nullptr);
    EXPECT_EQ(Matrix_Rotate(&pre, &z, 1.0f, 3), nullptr);
    EXPECT_EQ(memcmp(&before, &pre, sizeof(Matrix)), 0);
    Error_Get(nullptr);
}

TEST(Vector, NormalizeTransformAndBound)
{
    Error_Get(nullptr);
    Vec3 v = {3, 0, 4}, zero = {0, 0, 0}, out[2];
    EXPECT_NEAR(Vector3_Normalize(out, &v), 5.0f, 1e-3f);
    ExpectNear(out[0], {0.6f, 0, 0.8f}, 1e-3f);
    EXPECT_EQ(Error_TakeCode(), (int32_t)ERR_NO_ERROR);
    EXPECT_EQ(Vector3_Normalize(out, &zero), 0.0f);
    EXPECT_EQ(out[0].x, 0.0f);
    EXPECT_EQ(Error_TakeCode(), ERR_ZERO_VECTOR);
    const Matrix m = Make({0, 1, 0}, {-1, 0, 0}, {0, 0, 1}, {10, 20, 30});
    const Vec3 in[2] = {{1, 0, 0}, {0, 2, 0}};
    Vector3_TransformPoints(out, in, 2, &m);
    ExpectNear(out[0], {10, 21, 30}, 0);
    ExpectNear(out[1], {8, 20, 30}, 0);
    Vector3_TransformVectors(out, in, 2, &m);
    ExpectNear(out[0], {0, 1, 0}, 0);
    ExpectNear(out[1], {-2, 0, 0}, 0);
    BoundingBox box;
    const Vec3 pts[3] = {{1, 5, -1}, {-2, 0, 3}, {0, 1, 0}};
    BoundingBox_Calculate(&box, pts, 1);
    ExpectNear(box.inf, pts[0], 0);
    ExpectNear(box.sup, pts[0], 0);
    BoundingBox_Calculate(&box, pts, 3);
    ExpectNear(box.inf, {-2, 0, -1}, 0);
    ExpectNear(box.sup, {1, 5, 3}, 0);
}
