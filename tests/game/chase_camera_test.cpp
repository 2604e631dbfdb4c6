#include "game/chase_camera.h"

#include <gtest/gtest.h>

#include <cmath>

#include "entity_fixture.h"

using namespace entitytest;

namespace {

constexpr float kDegree = 0.0027777778f * 6.2831855f;

// The scripted ray: a wall at g_wall along every cast (none when negative), with the normal g_normal.
float g_wall = -1.0f;
Vec3 g_normal = {0, 0, 1};
int g_casts = 0;
void ScriptedRay(PrimitiveCollector*, const Vec3* from, const Vec3* to, PhysRayResult* out)
{
    ++g_casts;
    *out = PhysRayResult{};
    Vec3 d;
    Vec3_Sub(&d, to, from);
    float length = std::sqrt(Vec3_LengthSq(&d));
    if (g_wall < 0.0f || g_wall >= length) return;
    Vec3_Scale(&d, &d, g_wall / length);
    out->hit = 1;
    Vec3_Add(&out->point, from, &d);
    out->normal = g_normal;
    out->distance = g_wall;
}

class ChaseCameraTest : public EntityTest {
protected:
    void SetUp() override
    {
        EntityTest::SetUp();
        g_wall = -1.0f;
        g_normal = V(0, 0, 1);
        g_casts = 0;
        followed = Node_Create(ObjectWorld_GetRootNode());
        cameraNode = Node_Create(ObjectWorld_GetRootNode());
    }
    void TearDown() override
    {
        Mem_FreeSlot(&camera);
        EntityTest::TearDown();
    }
    int Load(const std::string& keys, const char* section = "controlData")
    {
        WriteConfig("Cam.cfg", std::string("vehicle {\n ") + section + " {\n  genCamData {\n" + keys + "\n  }\n }\n}\n");
        ConfigNode* reader = Config_Open("Cam.cfg");
        Config_SetSection(reader, "vehicle");
        int ok = ChaseCamera_LoadConfig(reader, &camera, (std::string(section) + "::genCamData").c_str());
        Config_Close(reader);
        return ok;
    }
    // A camera behind and level with the followed node, 6 away, rail on.
    void Basic(const std::string& more = "")
    {
        ASSERT_EQ(Load("defaultAngles = 90, 0, 0\ndefaultDistance = 6\nrailMoveSpeed = 100\nmoveToPickHit = TRUE\n"
                       "railHitMoveInSpeedDistRel = FALSE\n" +
                       more),
                  1);
        PhysRay_SetCastFunction(ScriptedRay);
        ChaseCamera_FollowObject(camera, followed);
        ChaseCamera_Reset(camera, cameraNode, nullptr, nullptr);
    }
    void Update(int frames = 1)
    {
        for (int i = 0; i < frames; ++i) {
            ChaseCamera_FollowObject(camera, followed);
            ChaseCamera_Update(camera, cameraNode, dt);
        }
    }
    Vec3 CameraPosition()
    {
        Vec3 p;
        Node_GetPosition(cameraNode, &p);
        return p;
    }

    ChaseCamera* camera = nullptr;
    Node* followed = nullptr;
    Node* cameraNode = nullptr;
};

TEST_F(ChaseCameraTest, ASnappedCameraLagsToATenthShortOfItsGoalNeverPastIt)
{
    // Camera lag without speed: only what lies beyond the maximum distances is taken up.
    ASSERT_EQ(Load("defaultAngles = 90, 0, 0\ndefaultDistance = 6\ndefaultCamLagPosDistMax = 9, 9, 9\n"
                   "defaultCamLagNegDistMax = 9, 9, 9"),
              1);
    ChaseCamera_FollowObject(camera, followed);
    ChaseCamera_Reset(camera, cameraNode, nullptr, nullptr);
    for (float ahead : {2.0f, -2.0f}) {  // in front of its goal (z = -6), then behind it
        Vec3 start = V(0, 0, -6.0f + ahead);
        Node_SetPosition(cameraNode, &start);
        ChaseCamera_SetFlags(camera, CHASECAM_SNAPPED, 1);
        Update();
        EXPECT_NEAR(CameraPosition().z, -6.0f + (ahead > 0 ? 0.1f : -0.1f), 1e-3) << ahead;
    }
}

TEST_F(ChaseCameraTest, TheRailClosesOnHitsSnapsWhenAskedAndOpensWhenClear)
{
    Basic("hitDistMultiply = 0.5\nrailHitMoveInSpeed = 2");
    // Nothing behind: the limit opens to min(target, 2 x dist x multiplier) = 6.
    Update();
    EXPECT_EQ(std::make_pair(camera->scaledHitDist, camera->distanceLimit), std::make_pair(6.0f, 6.0f));
    // A wall 4 behind: scaled hit 2; the limit moves in at 2 per second.
    g_wall = 4.0f;
    Update();
    EXPECT_FLOAT_EQ(camera->scaledHitDist, 2.0f);
    EXPECT_NEAR(camera->distanceLimit, 6.0f - 2.0f * dt, 1e-5);
    // With the gap rule (0x400) the speed is multiplied by the gap.
    ChaseCamera_SetFlags(camera, CHASECAM_HIT_SPEED_GAP, 1);
    float before = camera->distanceLimit;
    Update();
    EXPECT_NEAR(camera->distanceLimit, before - 2.0f * (before - 2.0f) * dt, 1e-4);
    EXPECT_LT(camera->distance, 6.0f) << "the camera comes in with its limit";
    ChaseCamera_SetFlags(camera, CHASECAM_HIT_SPEED_GAP, 0);
    // The wall goes: the limit opens at once to min(target 6, scaled hit).
    g_wall = -1.0f;
    Update();
    EXPECT_FALSE(camera->flags & CHASECAM_SNAPPED);
    Update();
    EXPECT_EQ(camera->distanceLimit, 6.0f);
    // A request snaps to any positive gap; every update clears it.
    g_wall = 4.0f;
    Update();
    ChaseCamera_SetFlags(camera, CHASECAM_SNAP_REQUEST, 1);
    Update();
    EXPECT_FLOAT_EQ(camera->distanceLimit, 2.0f);
    EXPECT_FALSE(camera->flags & CHASECAM_SNAP_REQUEST);
}

TEST_F(ChaseCameraTest, AnObstacleWithinReachSlidesTheCameraOffItAndHoldsItThere)
{
    Basic(
        "xSlideCam = TRUE\nySlideCam = TRUE\nslideXRotateSpeed = 90\nslideYRotateSpeed = 90\n"
        "slideXDistMultFar = 1\nslideXDistMultClose = 0.25\nslideXDistMultPower = 1\nslideYDistMultFar = 1\n"
        "slideYDistMultClose = 0.25\nslideYDistMultPower = 1\n"
        "rotationSpeeds = 90, 90, 0");
    // The view direction after frames in which the mode asks for the angles (degrees) at a high speed.
    auto View = [&](int frames, float x, float y) {
        for (int i = 0; i < frames; ++i) {
            ChaseCamera_SetAngleX(camera, x * kDegree);
            ChaseCamera_SetAngleY(camera, y * kDegree);
            ChaseCamera_SetRotateSpeedX(camera, 100.0f);
            ChaseCamera_SetRotateSpeedY(camera, 100.0f);
            Update();
        }
        Vec3 at, up;
        Node_GetOrientation(cameraNode, &at, &up);
        return at;
    };
    // A wall 3 behind the camera, facing it, turned 20 degrees about the vertical and tilted to face down
    // (s = 1) or up (s = -1).
    for (float s : {1.0f, -1.0f}) {
        SCOPED_TRACE(s);
        const Vec3 origin = V(0, 0, 0), ahead = V(0, 0, 10);
        Node_SetPosition(followed, &origin);
        ChaseCamera_Reset(camera, cameraNode, nullptr, nullptr);
        g_wall = 3.0f;
        g_normal = V(s * std::sin(20 * kDegree) * 0.866f, -s * 0.5f, std::cos(20 * kDegree) * 0.866f);
        Vec3 at = View(5, 90, 0);
        EXPECT_NEAR(at.x, 0.0f, 1e-5) << "after a reset no slide before the mode sets its distance";
        EXPECT_NEAR(at.y, 0.0f, 1e-5);
        // The camera slides along the side the wall faces, slower the nearer the wall.
        ChaseCamera_SetSlideMaxDist(camera, 20.0f);
        at = View(10, 90, 0);
        EXPECT_TRUE(-s * at.x > 0.04f && -s * at.x < 0.09f && s * at.y > 0.07f && s * at.y < 0.13f)
            << at.x << " " << at.y;
        // The wall goes out of sight: the camera may not turn back towards it ...
        g_wall = -1.0f;
        const Vec3 held = View(30, 90 - s * 30, s * 30);
        EXPECT_LT(Vec3_Distance(&held, &at), 0.05f);
        // ... until the followed node leaves it behind.
        Node_SetPosition(followed, &ahead);
        at = View(60, 90 - s * 30, s * 30);
        EXPECT_NEAR(at.x, s * 0.433f, 1e-3);
        EXPECT_NEAR(at.y, -s * 0.5f, 1e-3);
    }
}

// Tilt and roll turn the view in place at their speeds; the default limits clamp the default angles.
TEST_F(ChaseCameraTest, TiltAndRollTurnTheViewInPlaceAtTheirSpeeds)
{
    Basic("defaultCameraTiltSpeed = 90, 90, 90\nrotationSpeeds = 0, 0, 90");
    const float s10 = std::sin(10 * kDegree), s20 = std::sin(20 * kDegree), s30 = std::sin(30 * kDegree);
    const std::tuple<Vec3, float, Vec3, Vec3> cases[] = {
        // tilt and roll in degrees, then the view
        {V(10, 0, 0), 0, V(0, s10, std::cos(10 * kDegree)), V(0, std::cos(10 * kDegree), -s10)},  // looks up
        {V(0, 20, 0), 0, V(-s20, 0, std::cos(20 * kDegree)), V(0, 1, 0)},                         // turns towards -x
        {V(0, 0, 10), 20, V(0, 0, 1), V(s30, std::cos(30 * kDegree), 0)},  // the roll and the tilt's add up
    };
    for (auto [degrees, roll, wantAt, wantUp] : cases) {
        Vec3 tilt = V(degrees.x * kDegree, degrees.y * kDegree, degrees.z * kDegree), at, up;
        ChaseCamera_SetTiltTarget(camera, &tilt);
        ChaseCamera_SetAngleZ(camera, roll * kDegree);
        Update(31);
        Node_GetOrientation(cameraNode, &at, &up);
        EXPECT_LT(Vec3_Distance(&at, &wantAt) + Vec3_Distance(&up, &wantUp), 1e-4f)
            << degrees.x << degrees.y << degrees.z;
        EXPECT_NEAR(CameraPosition().z, -6.0f, 1e-4);
    }
    ASSERT_EQ(Load("defaultAngleMinLimits = 10, -30, -5\ndefaultAngleMaxLimits = 80, 30, 5\n"
                   "defaultAngles = 120, 60, -20"),
              1);
    const Vec3 clamped = V(80 * kDegree, 30 * kDegree, -5 * kDegree);
    EXPECT_LT(Vec3_Distance(&camera->angles, &clamped), 1e-5f);
}

}  // namespace
