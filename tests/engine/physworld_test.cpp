#include "engine/physworld.h"

#include <cmath>
#include <limits>

#include "common/list.h"
#include "engine/physbody.h"
#include "phys_fixture.h"
#include "physics/base/base_system.h"
#include "physics/base/phys_math.h"
#include "physics/dynamics/rigid_body.h"
#include "physics/dynamics/events.h"
#include "physics/dynamics/simulation.h"

using namespace phys_test;

namespace {

TEST_F(PhysTest, FrameTimesGiveCappedSubStepsAndTimeAdvancesAtMostATenth)
{
    PhysWorld_SetStepFunction(RecordStep);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float dt;
        int subSteps;
        double advance;
    } cases[] = {
        {0.0f, 0, 0.0},    {0.01f, 1, 0.01},  {0.016f, 1, 0.016}, {0.02f, 1, 0.02}, {0.021f, 2, 0.021},
        {0.05f, 3, 0.05},  {0.2f, 3, 0.1},    {0.5f, 3, 0.1},     {-0.1f, 0, 0.0},  {nan, 0, 0.0},
    };
    for (const Case& c : cases) {
        g_steps.clear();
        double before = world_->time;
        PhysWorld_Step(world_, c.dt);
        EXPECT_EQ(PhysWorld_SubStepCount(c.dt), c.subSteps) << c.dt;
        EXPECT_NEAR(world_->time - before, c.advance, 1e-6) << c.dt;
        if (c.subSteps == 0) {
            EXPECT_TRUE(g_steps.empty()) << c.dt;  // nothing handed down at all
        } else {
            ASSERT_EQ(g_steps.size(), 1u) << c.dt;
            EXPECT_EQ(g_steps[0].subSteps, c.subSteps) << c.dt;
            EXPECT_NEAR(g_steps[0].time, world_->time, 1e-6) << c.dt;
        }
    }
}

TEST_F(PhysTest, TenHoursOfFramesStillAdvanceByTheFrameTime)
{
    PhysWorld_SetStepFunction(RecordStep);
    world_->time = 36000.0;
    PhysWorld_Step(world_, 0.016f);
    ASSERT_EQ(g_steps.size(), 1u);
    // As whole seconds plus a fraction the step keeps its length.
    EXPECT_NEAR(g_steps[0].time - 36000.0, 0.016, 1e-6);
}

TEST(PhysWorldAxisAngle, SnapsNearIdentityAndTurnsTheAxisWithTheSignOfW)
{
    Vec3 axis;
    EXPECT_EQ(PhysWorld_QuatToAxisAngle(Quat{0, 0, 0, 1}, &axis), 0.0f);
    EXPECT_EQ(axis.y, 1.0f);
    // 0.005 rad is below the snap.
    Quat tiny = Quat_FromAxisAngle(Vec3{1, 0, 0}, 0.005f);
    EXPECT_EQ(PhysWorld_QuatToAxisAngle(tiny, &axis), 0.0f);
    EXPECT_EQ(axis.y, 1.0f);
    Quat q = Quat_FromAxisAngle(Vec3{0, 0, 1}, 1.0f);
    for (float sign : {1.0f, -1.0f}) {
        Quat s{q.x * sign, q.y * sign, q.z * sign, q.w * sign};
        EXPECT_NEAR(PhysWorld_QuatToAxisAngle(s, &axis), 1.0f, 1e-5) << sign;
        EXPECT_NEAR(axis.z, 1.0f, 1e-5) << sign;
    }
    Quat bad{std::numeric_limits<float>::quiet_NaN(), 0, 0, 0.5f};
    EXPECT_EQ(PhysWorld_QuatToAxisAngle(bad, &axis), 0.0f);
}

TEST_F(PhysTest, BodyHandlePoolHolds1024)
{
    for (int i = 0; i < 1024; ++i) ASSERT_NE(PhysBody_Create(world_, 0.5f, 1.0f), nullptr) << i;
    EXPECT_EQ(PhysBody_Create(world_, 0.5f, 1.0f), nullptr);
    EXPECT_EQ(List_Count(world_->bodyPool), 1024u);
}

TEST_F(PhysTest, TheBaseSystemRunsWhileAnyWorldLives)
{
    PhysWorld* second = PhysWorld_CreateDefault();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(PhysWorld_GetLiveCount(), 2);
    PhysWorld_Destroy(second);
    EXPECT_EQ(BaseSystem_IsStarted(), 1);
    PhysWorld_Destroy(world_);
    world_ = nullptr;
    EXPECT_EQ(BaseSystem_IsStarted(), 0);
    world_ = PhysWorld_CreateDefault();
    EXPECT_EQ(BaseSystem_IsStarted(), 1);
}

TEST_F(PhysTest, AddBodyPlacesBeforeAttachingAndListsTheBodyOnce)
{
    PhysBody* b = PhysBody_Create(world_, 0.5f, 1.0f);
    Vec3 v{3, 0, 0};
    PhysBody_SetLinearVelocity(b, &v);
    Vec3 p{1, 2, 3};
    Vec3 at{1, 0, 0}, up{0, 1, 0};
    PhysWorld_AddBody(world_, b, &p, &at, &up);
    PhysWorld_AddBody(world_, b, &p, &at, &up);
    EXPECT_EQ(List_Count(world_->bodyList), 1u);
    Vec3 got, gotAt, gotUp;
    PhysBody_GetPosition(b, &got);
    EXPECT_EQ(Dist(got, p), 0.0f);
    EXPECT_EQ(PhysBody_GetSpeed(b), 0.0f);
    PhysBody_GetAxes(b, &gotAt, &gotUp);
    EXPECT_LT(Dist(gotAt, at), 1e-5f);
    EXPECT_LT(Dist(gotUp, up), 1e-5f);
    EXPECT_NE(PhysBody_Unwrap(b)->subspace, nullptr);

    PhysWorld_RemoveBody(world_, b);
    EXPECT_EQ(List_Count(world_->bodyList), 0u);
    EXPECT_EQ(PhysBody_Unwrap(b)->subspace, nullptr);
    // Out of the world the body does not fall.
    Steps(10);
    PhysBody_GetPosition(b, &got);
    EXPECT_EQ(got.y, 2.0f);
}

TEST_F(PhysTest, GravityPullsAnAddedBodyAndCanBeChanged)
{
    PhysBody* b = Sphere(V(0, 10, 0));
    Steps(30);
    Vec3 p;
    PhysBody_GetPosition(b, &p);
    EXPECT_LT(p.y, 9.0f);
    Vec3 up{0, 9.81f, 0};
    PhysWorld_SetGravity(world_, &up);
    PhysBody_ZeroVelocities(b);
    Vec3 before = p;
    Steps(30);
    PhysBody_GetPosition(b, &p);
    EXPECT_GT(p.y, before.y);
}

TEST_F(PhysTest, GroupPairsAndIgnoredPairsDecideWhetherBodiesCollide)
{
    Vec3 zero{0, 0, 0};
    PhysWorld_SetGravity(world_, &zero);
    // Two spheres approaching head on; they pass through unless paired.
    auto run = [&](uint32_t groupA, uint32_t groupB, bool ignore) {
        PhysBody* a = Sphere(V(-2, 0, 0));
        PhysBody* b = Sphere(V(2, 0, 0));
        PhysBody_SetCollisionGroup(a, groupA);
        PhysBody_SetCollisionGroup(b, groupB);
        if (ignore) PhysWorld_IgnoreBodyPair(world_, a, b);
        Vec3 va{2, 0, 0}, vb{-2, 0, 0};
        PhysBody_SetLinearVelocity(a, &va);
        PhysBody_SetLinearVelocity(b, &vb);
        Steps(120);
        Vec3 pa;
        PhysBody_GetPosition(a, &pa);
        PhysBody_Destroy(world_, a);
        PhysBody_Destroy(world_, b);
        return pa.x < 0.0f;  // still on its own side: they met
    };
    EXPECT_TRUE(run(1, 1, false));                  // group 1 paired with itself below
    PhysWorld_PairCollisionGroups(world_, 2, 3);
    EXPECT_TRUE(run(1u << 1, 1u << 2, false));      // groups 2 and 3 paired
    EXPECT_FALSE(run(1u << 1, 1u << 3, false));     // 2 and 4 are not
    EXPECT_FALSE(run(0, 0, false));                 // the default 0 collides with nothing
    EXPECT_FALSE(run(1u << 1, 1u << 2, true));      // ignored pair
    PhysWorld_PairCollisionGroups(world_, 0, 33);   // out of range: ignored
}

// The field action, applied by hand so the forces can be read before the
// step clears them.
class PhysFieldTest : public PhysTest {
protected:
    void SetUp() override
    {
        PhysTest::SetUp();
        Vec3 zero{0, 0, 0};
        PhysWorld_SetGravity(world_, &zero);
    }
    PhysField* Field(float exponent, float cone, PhysBody* anchor = nullptr)
    {
        Vec3 centre{0, 0, 0}, axis{0, 1, 0};
        return PhysField_Create(world_, 10.0f, exponent, cone, 4.0f, &centre, &axis, anchor);
    }
    Vec3 Force(PhysBody* b) { return PhysBody_Unwrap(b)->force; }
};

TEST_F(PhysFieldTest, PullsTowardsTheCentreInsideItsCone)
{
    PhysField* f = Field(1.0f, 3.0f);
    PhysBody* inside = Sphere(V(0, 2, 0));   // r = radius / 2 on the axis
    PhysBody* outside = Sphere(V(2, 0, 0));  // 90 degrees off the axis, cone half angle 1.5
    PhysBody* far = Sphere(V(0, 5, 0));      // beyond the radius
    PhysBody* centre = Sphere(V(0, 0, 0));   // r = 0
    for (PhysBody* b : {inside, outside, far, centre}) PhysField_SetBodyInside(f, b, 1);
    PhysField_SetBodyInside(f, inside, 1);
    EXPECT_EQ(f->bodies.Count(), 4);
    f->Apply(nullptr, 0.01f);
    EXPECT_NEAR(Force(inside).y, -5.0f, 1e-5);  // strength x (1 - 0.5)^1, towards the centre
    EXPECT_EQ(Force(inside).x, 0.0f);
    EXPECT_EQ(Dist(Force(outside), V(0, 0, 0)), 0.0f);
    EXPECT_EQ(Dist(Force(far), V(0, 0, 0)), 0.0f);
    EXPECT_EQ(Dist(Force(centre), V(0, 0, 0)), 0.0f);
}

TEST_F(PhysFieldTest, WakesSleepersPushesTheAnchorBackAndMovesWithIt)
{
    PhysBody* anchor = Sphere(V(10, 0, 0));
    PhysField* f = Field(2.0f, 6.3f, anchor);
    PhysBody* b = Sphere(V(10, -1, 0));  // r = 1 from the moved centre
    PhysBody_SetActive(b, 0);
    PhysField_SetBodyInside(f, b, 1);
    f->Apply(nullptr, 0.01f);
    EXPECT_EQ(PhysBody_IsActive(b), 1);
    float expected = 10.0f * 0.75f * 0.75f;
    EXPECT_NEAR(Force(b).y, expected, 1e-5);
    EXPECT_NEAR(Force(anchor).y, -expected, 1e-5);
    PhysField_SetBodyInside(f, b, 0);
    EXPECT_EQ(f->bodies.Count(), 0);
}

TEST_F(PhysFieldTest, ADestroyedBodyLeavesEveryFieldAndItsAnchorRole)
{
    PhysBody* anchor = Sphere(V(0, 0, 0));
    PhysBody* b = Sphere(V(0, 1, 0));
    PhysField* f1 = Field(1.0f, 6.3f, anchor);
    PhysField* f2 = Field(1.0f, 6.3f);
    PhysField_SetBodyInside(f1, b, 1);
    PhysField_SetBodyInside(f2, b, 1);
    PhysField_SetBodyInside(f2, anchor, 1);
    PhysBody_Destroy(world_, b);
    PhysBody_Destroy(world_, anchor);
    EXPECT_EQ(f1->bodies.Count(), 0);
    EXPECT_EQ(f2->bodies.Count(), 0);
    EXPECT_EQ(f1->anchor, nullptr);
    Steps(5);  // the fields run over nothing that was freed
    PhysField_Destroy(world_, f2);
    EXPECT_EQ(List_Count(world_->fieldPool), 1u);
}

TEST_F(PhysFieldTest, AFieldInTheSubspacePullsDuringSteps)
{
    PhysField* f = Field(1.0f, 6.3f);
    PhysBody* b = Sphere(V(0, 2, 0));
    PhysField_SetBodyInside(f, b, 1);
    Steps(30);
    Vec3 p;
    PhysBody_GetPosition(b, &p);
    EXPECT_LT(p.y, 1.9f);
}

TEST_F(PhysTest, EventRegistrationsFollowTheBody)
{
    PhysBody* b = Sphere(V(0, 0, 0));
    PhysWorld_SetEventParam(1.5f);
    PhysWorld_RegisterBodyEvents(world_, b);
    ASSERT_EQ(world_->listener->registered.Count(), 1);
    EXPECT_EQ(world_->listener->registered[0].threshold, 1.5f);
    PhysWorld_UnregisterBodyEvents(world_, b);
    EXPECT_EQ(world_->listener->registered.Count(), 0);
    PhysWorld_SetEventParam(0.0f);
    PhysWorld_RegisterBodyEvents(world_, b);
    PhysBody_Destroy(world_, b);
    EXPECT_EQ(world_->listener->registered.Count(), 0);  // a destroyed primitive is forgotten
}

TEST(PhysMemory, TrackingRecordsLiveBlocksOnly)
{
    ASSERT_EQ(Phys_Init(), 1);
    PhysMem_SetTracking(1);
    void* a = PhysMem_Alloc16(40);
    void* b = PhysMem_Alloc(24, 8);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
    EXPECT_EQ(PhysMem_GetTrackedCount(), 2u);
    PhysMem_Free(a);
    EXPECT_EQ(PhysMem_GetTrackedCount(), 1u);
    PhysMem_SetTracking(0);
    EXPECT_EQ(PhysMem_GetTrackedCount(), 0u);
    PhysMem_Free(b);
    PhysWorlds_DestroyAll();
}

}  // namespace
