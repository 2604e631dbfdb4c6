#include "engine/physbody.h"

#include "common/list.h"
#include "phys_fixture.h"
#include "physics/collision/collision_primitive.h"
#include "physics/dynamics/rigid_body.h"

using namespace phys_test;

namespace {

TEST(PhysBodyHandle, IsFourPointerWordsOnThisMachine) { EXPECT_EQ(PhysBody_HandleSize(), 4 * sizeof(void*)); }

TEST_F(PhysTest, SphereBodiesTakeTheirDefaultsAndRefuseNoRadius)
{
    PhysBody* b = PhysBody_Create(world_, 2.5f, 3.0f);
    ASSERT_NE(b, nullptr);
    RigidBody* rb = PhysBody_Unwrap(b);
    EXPECT_EQ(rb->restitution, 0.5f);
    EXPECT_EQ(rb->friction, 1.0f);
    EXPECT_EQ(PhysBody_GetMass(b), 3.0f);
    EXPECT_TRUE(PhysWorld_Owns(world_, rb));
    float r = 0;
    EXPECT_EQ(PhysBody_GetFirstPrimitiveValue(b, &r), 1);
    EXPECT_EQ(r, 2.5f);
    EXPECT_EQ(PhysBody_GetFirstPrimitiveValue(b, nullptr), 0);
    EXPECT_EQ(PhysBody_GetPrimitiveKind(b, 0), uint32_t(PRIMITIVE_KIND_SPHERE));

    PhysBody* fixed = PhysBody_Create(world_, 1.0f, 0.0f);
    EXPECT_TRUE(PhysBody_Unwrap(fixed)->stateFlags & RB_STATE_FIXED);

    uint32_t before = List_Count(world_->bodyPool);
    EXPECT_EQ(PhysBody_Create(world_, 0.0f, 1.0f), nullptr);
    EXPECT_EQ(PhysBody_Create(world_, -1.0f, 1.0f), nullptr);
    EXPECT_EQ(List_Count(world_->bodyPool), before);

    PhysBody_Destroy(world_, b);
    EXPECT_FALSE(PhysWorld_Owns(world_, rb));
    EXPECT_EQ(List_Count(world_->bodyPool), before - 1);
}

TEST_F(PhysTest, FrictionStopsAnAxisWithoutTurningItRound)
{
    PhysBody* b = PhysBody_Create(world_, 0.5f, 1.0f);
    Vec3 d{1, 1, 1};
    // v = (3, 0, -4): n = (0.6, 0, -0.8).
    Vec3 v{3, 0, -4};
    PhysBody_SetLinearVelocity(b, &v);
    PhysBody_ApplyFriction(b, &d, 1.0f);
    Vec3 got;
    PhysBody_GetLinearVelocity(b, &got);
    EXPECT_NEAR(got.x, 2.4f, 1e-6);
    EXPECT_NEAR(got.z, -3.2f, 1e-6);
    // A rate large enough to overshoot stops both axes at exactly 0.
    PhysBody_ApplyFriction(b, &d, 100.0f);
    PhysBody_GetLinearVelocity(b, &got);
    EXPECT_EQ(got.x, 0.0f);
    EXPECT_EQ(got.z, 0.0f);
    // Only the weighted axis is slowed.
    v = Vec3{3, 0, -4};
    PhysBody_SetLinearVelocity(b, &v);
    Vec3 onlyX{1, 0, 0};
    PhysBody_ApplyFriction(b, &onlyX, 100.0f);
    PhysBody_GetLinearVelocity(b, &got);
    EXPECT_EQ(got.x, 0.0f);
    EXPECT_EQ(got.z, -4.0f);
    // A zero velocity and a null weight are left alone.
    PhysBody_ZeroVelocities(b);
    PhysBody_ApplyFriction(b, &d, 1.0f);
    PhysBody_GetLinearVelocity(b, &got);
    EXPECT_EQ(Dist(got, V(0, 0, 0)), 0.0f);
    PhysBody_ApplyFriction(b, nullptr, 1.0f);
}

TEST_F(PhysTest, SpeedClampsKeepTheDirectionAndLeaveTheLimitItself)
{
    PhysBody* b = PhysBody_Create(world_, 0.5f, 1.0f);
    Vec3 v{3, 4, 0}, got;
    PhysBody_SetLinearVelocity(b, &v);
    PhysBody_ClampLinearSpeed(b, 5.0f);
    PhysBody_GetLinearVelocity(b, &got);
    EXPECT_EQ(got.x, 3.0f);
    EXPECT_EQ(got.y, 4.0f);
    v = Vec3{0, 3.6f, 4.8f};  // |v| = 6
    PhysBody_SetLinearVelocity(b, &v);
    PhysBody_ClampLinearSpeed(b, 5.0f);
    PhysBody_GetLinearVelocity(b, &got);
    EXPECT_NEAR(got.y, 3.0f, 1e-5);
    EXPECT_NEAR(got.z, 4.0f, 1e-5);
    Vec3 w{0, 0, -10};
    PhysBody_SetAngularVelocity(b, &w);
    PhysBody_ClampAngularSpeed(b, 2.0f);
    PhysBody_GetAngularVelocity(b, &got);
    EXPECT_NEAR(got.z, -2.0f, 1e-5);
}

TEST_F(PhysTest, VelocityOperationsScaleDampAndImpulse)
{
    PhysBody* b = PhysBody_Create(world_, 0.5f, 2.0f);
    Vec3 j{4, -2, 0}, got;
    PhysBody_ApplyImpulse(b, &j);
    PhysBody_GetLinearVelocity(b, &got);
    EXPECT_EQ(got.x, 2.0f);  // J / 2
    EXPECT_EQ(got.y, -1.0f);
    EXPECT_NEAR(PhysBody_GetSpeed(b), std::sqrt(5.0f), 1e-6);
    Vec3 k{1, 2, 0};
    PhysBody_DampLinearVelocity(b, &k, 0.25f);
    PhysBody_GetLinearVelocity(b, &got);
    EXPECT_EQ(got.x, 1.5f);
    EXPECT_EQ(got.y, -0.5f);
    Vec3 w{0, 2, 0};
    PhysBody_SetAngularVelocity(b, &w);
    PhysBody_ScaleVelocities(b, 0.5f);
    PhysBody_GetAngularVelocity(b, &got);
    EXPECT_EQ(got.y, 1.0f);
    PhysBody* fixed = PhysBody_Create(world_, 0.5f, 0.0f);
    PhysBody_ApplyImpulse(fixed, &j);
    EXPECT_EQ(PhysBody_GetSpeed(fixed), 0.0f);
}

TEST_F(PhysTest, ActivationLeavesFixedBodiesAloneAndHoldsKeepBodiesAwake)
{
    PhysBody* fixed = Sphere(V(0, 0, 0), 0.5f, 0.0f);
    uint32_t flags = PhysBody_Unwrap(fixed)->stateFlags;
    PhysBody_SetActive(fixed, 1);
    EXPECT_EQ(PhysBody_Unwrap(fixed)->stateFlags, flags);
    EXPECT_EQ(PhysBody_IsActive(fixed), 0);

    PhysBody* b = Sphere(V(5, 0, 0));
    PhysBody_SetActive(b, 0);
    EXPECT_EQ(PhysBody_IsActive(b), 0);
    PhysBody_HoldActive(b, 1);
    EXPECT_EQ(PhysBody_IsActive(b), 1);
    EXPECT_EQ(PhysBody_TestStateFlag4(b), 1);
    EXPECT_EQ(PhysBody_Unwrap(b)->keepActiveCount, 1);
    PhysBody_HoldActive(b, 0);
    PhysBody_HoldActive(b, 0);
    EXPECT_EQ(PhysBody_Unwrap(b)->keepActiveCount, 0);

    PhysBody_ResetMotion(b, 1);
    EXPECT_TRUE(PhysBody_Unwrap(b)->pinned);
    PhysBody_ResetMotion(b, 0);
    EXPECT_FALSE(PhysBody_Unwrap(b)->pinned);
}

TEST_F(PhysTest, OrientationTakesUpThenAtAndAxesGiveThemBack)
{
    PhysBody* b = PhysBody_Create(world_, 0.5f, 1.0f);
    Vec3 p{1, 2, 3};
    PhysBody_SetPosition(b, &p);
    const Vec3 ups[] = {{0, 1, 0}, {1, 0, 0}, {0, 0.6f, 0.8f}};
    const Vec3 ats[] = {{0, 0, 1}, {0, 0, -1}, {0, -0.8f, 0.6f}};
    for (int i = 0; i < 3; ++i) {
        PhysBody_SetOrientation(b, &ups[i], &ats[i]);
        Vec3 at, up, pos;
        PhysBody_GetAxes(b, &at, &up);
        EXPECT_LT(Dist(at, ats[i]), 1e-5f) << i;
        EXPECT_LT(Dist(up, ups[i]), 1e-5f) << i;
        PhysBody_GetPosition(b, &pos);
        EXPECT_EQ(Dist(pos, p), 0.0f) << i;
    }
    PhysBody_GetAxes(b, nullptr, nullptr);
}

TEST_F(PhysTest, ALockedSpinAxisTakesNoSpinFromATorque)
{
    Vec3 zero{0, 0, 0};
    PhysWorld_SetGravity(world_, &zero);
    for (bool shift : {false, true}) {
        PhysBody* b = Sphere(V(0, 0, 0));
        PhysBody_LimitSpinAxis(b, 1);
        // The mass update behind a centre-of-mass shift keeps the lock.
        if (shift) PhysBody_ShiftCentreOfMass(b, 0.1f, 0.2f, 0.0f);
        PhysBody_Unwrap(b)->torque = Vec3{0, 5, 5};
        Steps(1);
        Vec3 w;
        PhysBody_GetAngularVelocity(b, &w);
        EXPECT_EQ(w.y, 0.0f) << shift;
        EXPECT_NE(w.z, 0.0f) << shift;
        PhysBody_Destroy(world_, b);
    }
    PhysBody_LimitSpinAxis(nullptr, 1);
}

TEST_F(PhysTest, CentreOfMassShiftMovesFromTheShapesCentre)
{
    PhysBody* b = PhysBody_Create(world_, 0.5f, 1.0f);
    PhysBody_ShiftCentreOfMass(b, 0.0f, -0.25f, 0.0f);
    PhysBody_ShiftCentreOfMass(b, 0.0f, -0.25f, 0.0f);  // from the shapes' centre again, not cumulative
    EXPECT_EQ(PhysBody_Unwrap(b)->comOffset.y, -0.25f);
}

TEST_F(PhysTest, ClonesCopyTheBodyButNotItsWorldPlace)
{
    PhysBody* b = Sphere(V(1, 2, 3), 0.75f, 4.0f);
    PhysBody_SetCollisionGroup(b, 6);
    PhysBody_SetPhantom(b, 1);
    PhysBody_LimitSpinAxis(b, 0);
    PhysBody_SetOwner(b, b);
    PhysBody* c = PhysBody_Clone(world_, b);
    ASSERT_NE(c, nullptr);
    RigidBody* rc = PhysBody_Unwrap(c);
    EXPECT_NE(rc, PhysBody_Unwrap(b));
    EXPECT_TRUE(PhysWorld_Owns(world_, rc));
    EXPECT_EQ(PhysBody_GetMass(c), 4.0f);
    EXPECT_EQ(PhysBody_GetCollisionGroup(c), 6u);
    EXPECT_EQ(PhysBody_IsPhantom(c), 1);
    EXPECT_EQ(rc->lockedAxes, 1);
    EXPECT_EQ(PhysBody_GetOwner(c), nullptr);
    EXPECT_EQ(rc->subspace, nullptr);
    float r;
    ASSERT_EQ(PhysBody_GetFirstPrimitiveValue(c, &r), 1);
    EXPECT_EQ(r, 0.75f);
    PhysBody_SetPhantom(c, 0);
    EXPECT_EQ(PhysBody_IsPhantom(c), 0);
}

TEST_F(PhysTest, NullHandlesAreHarmless)
{
    Vec3 v{1, 1, 1}, out{9, 9, 9};
    PhysBody_SetLinearVelocity(nullptr, &v);
    PhysBody_GetLinearVelocity(nullptr, &out);
    EXPECT_EQ(Dist(out, V(0, 0, 0)), 0.0f);
    EXPECT_EQ(PhysBody_GetMass(nullptr), 0.0f);
    EXPECT_EQ(PhysBody_IsActive(nullptr), 0);
    EXPECT_EQ(PhysBody_GetOwner(nullptr), nullptr);
    PhysBody_Destroy(world_, nullptr);
    PhysBody_SetActive(nullptr, 1);
    PhysBody_ApplyImpulse(nullptr, &v);
}

}  // namespace
