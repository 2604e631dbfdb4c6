#include "engine/physconstraint.h"

#include <cmath>

#include "common/list.h"
#include "phys_fixture.h"
#include "physics/dynamics/constraint.h"
#include "physics/dynamics/spring_actions.h"
#include "physics/dynamics/subspace.h"

using namespace phys_test;

namespace {

class PhysConstraintTest : public PhysTest {
protected:
    void SetUp() override
    {
        PhysTest::SetUp();
        a_ = Sphere(V(0, 0, 0));
        b_ = Sphere(V(2, 0, 0));
    }
    int InSubspace(PhysObject* o)
    {
        for (const Subspace::ActionEntry& e : world_->object->subspace->actions)
            if (e.action == o) return 1;
        return 0;
    }
    int InManager(PhysObject* o)
    {
        for (Constraint* c : world_->object->constraints->constraints)
            if (c == o) return 1;
        return 0;
    }
    PhysBody* a_ = nullptr;
    PhysBody* b_ = nullptr;
};

TEST_F(PhysConstraintTest, EveryKindAttachesDetachesAndLeavesTheOwnedSetWhenDestroyed)
{
    for (int kind = 0; kind < PHYS_JOINT_KIND_COUNT; ++kind) {
        PhysConstraint* c = PhysConstraint_Create(world_, a_, b_, kind);
        ASSERT_NE(c, nullptr) << kind;
        PhysObject* o = c->object;
        EXPECT_TRUE(PhysWorld_Owns(world_, o)) << kind;
        EXPECT_EQ(PhysConstraint_Attach(world_, c, 0), 1) << kind;
        bool joint = PhysConstraint_IsJoint(kind);
        EXPECT_EQ(InManager(o), joint ? 1 : 0) << kind;
        EXPECT_EQ(InSubspace(o), joint ? 0 : 1) << kind;
        Steps(2);
        PhysConstraint_Detach(world_, c);
        EXPECT_EQ(InManager(o) + InSubspace(o), 0) << kind;
        PhysConstraint_Destroy(world_, c);
        EXPECT_FALSE(PhysWorld_Owns(world_, o)) << kind;
        EXPECT_EQ(List_Count(world_->constraintPool), 0u) << kind;
    }
    // Kind 8 takes nothing from the pool.
    EXPECT_EQ(PhysConstraint_Create(world_, a_, b_, 8), nullptr);
    EXPECT_EQ(PhysConstraint_Create(world_, a_, b_, -1), nullptr);
    EXPECT_EQ(List_Count(world_->constraintPool), 0u);
    EXPECT_EQ(PhysConstraint_Attach(world_, PhysConstraint_Create(world_, a_, b_, 1), 5), 0);  // no subspace 5
}

TEST_F(PhysConstraintTest, KindsThatJoinTwoBodiesNeedBothAndTheOthersHoldToTheWorld)
{
    for (int kind : {1, 3, 4, 5, 6}) EXPECT_EQ(PhysConstraint_Create(world_, a_, nullptr, kind), nullptr) << kind;
    for (int kind : {0, 2, 7}) EXPECT_NE(PhysConstraint_Create(world_, a_, nullptr, kind), nullptr) << kind;
    EXPECT_EQ(PhysConstraint_Create(world_, nullptr, b_, 0), nullptr);
    EXPECT_EQ(List_Count(world_->constraintPool), 3u);
}

TEST_F(PhysConstraintTest, StrengthAndDampingGoWhereEachKindKeepsThem)
{
    for (int kind = 0; kind < PHYS_JOINT_KIND_COUNT; ++kind) {
        PhysConstraint* c = PhysConstraint_Create(world_, a_, b_, kind);
        ASSERT_NE(c, nullptr);
        PhysConstraint_SetStrength(c, 0.25f);
        PhysConstraint_SetDamping(c, 0.75f);
        if (PhysConstraint_IsJoint(kind)) {
            Constraint* j = static_cast<Constraint*>(c->object);
            EXPECT_EQ(j->strength, 0.25f) << kind;  // the second parameter
            EXPECT_EQ(j->damping, 0.75f) << kind;   // the first
            EXPECT_FALSE(j->warmValid) << kind;     // rebuilt
        } else if (kind == PHYS_JOINT_DASHPOT) {
            EXPECT_EQ(static_cast<Dashpot*>(c->object)->strength, 0.25f);
            EXPECT_EQ(static_cast<Dashpot*>(c->object)->damping, 0.1f);  // damping ignored
        } else if (kind == PHYS_JOINT_SUSPENSION_DASHPOT) {
            EXPECT_EQ(static_cast<SuspensionDashpot*>(c->object)->value, 0.25f);
        } else {
            EXPECT_EQ(static_cast<AngularSpring*>(c->object)->strength, 0.25f);
            EXPECT_EQ(static_cast<AngularSpring*>(c->object)->damping, 0.1f);
        }
    }
}

TEST_F(PhysConstraintTest, HingeSettersActOnHingesOnly)
{
    PhysConstraint* p2p = PhysConstraint_Create(world_, a_, nullptr, PHYS_JOINT_POINT2POINT);
    PhysConstraint* hinge = PhysConstraint_Create(world_, a_, nullptr, PHYS_JOINT_HINGE);
    Point2PointConstraint* pc = static_cast<Point2PointConstraint*>(p2p->object);
    HingeConstraint* hc = static_cast<HingeConstraint*>(hinge->object);
    Vec3 pivotBefore = pc->pivotA;
    Vec3 pivot{0, 1, 0}, axis{1, 0, 0};
    PhysConstraint_SetHingeLimits(p2p, 0.5f, -0.5f);
    PhysConstraint_SetHingeMotor(p2p, 2.0f);
    PhysConstraint_SetHingePivotAxis(p2p, &pivot, &axis);
    EXPECT_EQ(Dist(pc->pivotA, pivotBefore), 0.0f);
    PhysConstraint_SetPivot(hinge, &pivot);  // a point-to-point setter on a hinge

    PhysConstraint_SetHingeLimits(hinge, 0.5f, -0.25f);
    EXPECT_EQ(hc->limitOn, 1);
    EXPECT_EQ(hc->limit[0], -0.25f);  // stored (b, a)
    EXPECT_EQ(hc->limit[1], 0.5f);
    PhysConstraint_SetHingeMotor(hinge, 3.0f);
    EXPECT_EQ(hc->motorOn, 1);
    EXPECT_EQ(hc->motor[0], 3.0f);
    EXPECT_EQ(hc->motor[1], 0.0f);
    PhysConstraint_SetHingeMotor(hinge, 0.0f);
    EXPECT_EQ(hc->motorOn, 0);

    PhysConstraint_SetPivot(p2p, &pivot);
    EXPECT_LT(Dist(pc->pivotA, V(0, 1, 0)), 1e-6f);  // a's space: a sits at the origin unrotated
}

TEST_F(PhysConstraintTest, APointToPointJointHoldsABodyToTheWorld)
{
    // a hangs 1 below a pivot fixed in the world, pulled sideways.
    PhysConstraint* c = PhysConstraint_Create(world_, a_, nullptr, PHYS_JOINT_POINT2POINT);
    Vec3 pivot{0, 1, 0};
    PhysConstraint_SetPivot(c, &pivot);
    PhysConstraint_Attach(world_, c, 0);
    Vec3 v{3, 0, 0};
    PhysBody_SetLinearVelocity(a_, &v);
    for (int i = 0; i < 120; ++i) {
        Steps(1);
        Vec3 p;
        PhysBody_GetPosition(a_, &p);
        ASSERT_NEAR(Dist(p, pivot), 1.0f, 0.05f) << i;
    }
}

TEST_F(PhysConstraintTest, JointsOutliveTheirBodiesSafely)
{
    PhysConstraint* joints[PHYS_JOINT_KIND_COUNT];
    for (int kind = 0; kind < PHYS_JOINT_KIND_COUNT; ++kind) {
        joints[kind] = PhysConstraint_Create(world_, a_, b_, kind);
        PhysConstraint_Attach(world_, joints[kind], 0);
    }
    PhysBody_Destroy(world_, a_);
    Steps(3);
    for (PhysConstraint* c : joints) {
        PhysConstraint_SetStrength(c, 0.5f);
        PhysConstraint_Destroy(world_, c);
    }
    Steps(3);
}

TEST_F(PhysConstraintTest, TheWorldDestroysWhatIsLeftAttached)
{
    for (int kind = 0; kind < PHYS_JOINT_KIND_COUNT; ++kind)
        PhysConstraint_Attach(world_, PhysConstraint_Create(world_, a_, b_, kind), 0);
    Steps(2);
    PhysWorld_Destroy(world_);  // under the sanitizers: nothing leaks or dangles
    world_ = PhysWorld_CreateDefault();
}

}  // namespace
