#include "engine/physray.h"

#include "common/list.h"
#include "phys_fixture.h"
#include "physics/collision/collision_detection.h"
#include "physics/collision/primitive_collector.h"

using namespace phys_test;

namespace {

class PhysRayTest : public PhysTest {
protected:
    // A fixed pickable sphere of radius 1 at p, owned by `owner`.
    PhysBody* Target(Vec3 p, void* owner)
    {
        PhysBody* b = Sphere(p, 1.0f, 0.0f);
        PhysBody_SetOwner(b, owner);
        PhysContacts_AddBody(b);
        return b;
    }
    int owners_[3] = {};
};

TEST_F(PhysRayTest, TheNearestHitBelowAThousandWins)
{
    Target(V(0, 0, 30), &owners_[0]);
    Target(V(0, 0, 10), &owners_[1]);
    Target(V(0, 0, 20), &owners_[2]);
    Vec3 from{0, 0, 0}, to{0, 0, 100}, point, normal;
    EXPECT_EQ(PhysWorld_CastRay(world_, &from, &to, &point, &normal), &owners_[1]);
    EXPECT_LT(Dist(point, V(0, 0, 9)), 1e-4f);
    EXPECT_LT(Dist(normal, V(0, 0, -1)), 1e-4f);
    // From the far side, the other end of the row is nearest.
    Vec3 back{0, 0, 100};
    EXPECT_EQ(PhysWorld_CastRay(world_, &back, &from, &point, &normal), &owners_[0]);
}

TEST_F(PhysRayTest, HitsBeyondAThousandAreMissesWithTheMissOutputs)
{
    Target(V(0, 0, 1501), &owners_[0]);
    Vec3 from{0, 0, 0}, to{0, 0, 3000}, point{5, 5, 5}, normal{5, 5, 5};
    EXPECT_EQ(PhysWorld_CastRay(world_, &from, &to, &point, &normal), nullptr);
    EXPECT_EQ(Dist(point, V(0, 0, 0)), 0.0f);
    EXPECT_EQ(Dist(normal, V(0, 1, 0)), 0.0f);
    PhysRayResult r;
    EXPECT_EQ(PhysWorld_CastRayHit(world_, &from, &to, &r), 0);
    // The same body within reach is hit.
    Vec3 near{0, 0, 1000};
    EXPECT_EQ(PhysWorld_CastRay(world_, &near, &to, nullptr, nullptr), &owners_[0]);
}

TEST_F(PhysRayTest, AnOwnerlessBodyIsAHitWithoutAnObject)
{
    PhysBody* ground = Target(V(0, -5, 0), nullptr);
    (void)ground;
    Vec3 from{0, 0, 0}, to{0, -100, 0}, point;
    PhysRayResult r;
    EXPECT_EQ(PhysWorld_CastRayHit(world_, &from, &to, &r), 1);
    EXPECT_EQ(r.object, nullptr);
    EXPECT_NEAR(r.point.y, -4.0f, 1e-4);
    EXPECT_EQ(PhysWorld_CastRay(world_, &from, &to, &point, nullptr), nullptr);
    EXPECT_NEAR(point.y, -4.0f, 1e-4);  // the outputs still get the hit
}

TEST_F(PhysRayTest, DirectionalCastsFillTheRecordOrLeaveItForLengthZero)
{
    Target(V(0, 10, 0), &owners_[0]);
    Vec3 origin{0, 0, 0};
    PhysRayHit hit{{7, 7, 7}, {7, 7, 7}, 7.0f, &owners_[2]};
    EXPECT_EQ(PhysWorld_CastRayDir(world_, &hit, &origin, nullptr, 0.0f), 0);
    EXPECT_EQ(hit.distanceSq, 7.0f);
    EXPECT_EQ(hit.object, &owners_[2]);
    EXPECT_EQ(PhysWorld_CastRayDir(world_, &hit, nullptr, nullptr, 5.0f), 0);
    EXPECT_EQ(hit.distanceSq, 7.0f);
    // Up by default: the sphere's bottom at 9.
    EXPECT_EQ(PhysWorld_CastRayDir(world_, &hit, &origin, nullptr, 20.0f), 1);
    EXPECT_NEAR(hit.distanceSq, 81.0f, 1e-3);
    EXPECT_EQ(hit.object, &owners_[0]);
    // The direction is not normalised: (0, 2, 0) x 3 reaches 6 only.
    Vec3 dir{0, 2, 0};
    EXPECT_EQ(PhysWorld_CastRayDir(world_, &hit, &origin, &dir, 3.0f), 0);
    EXPECT_EQ(Dist(hit.point, V(0, 6, 0)), 0.0f);
    EXPECT_EQ(Dist(hit.normal, V(0, 1, 0)), 0.0f);
    EXPECT_EQ(hit.distanceSq, 9.0f);
    EXPECT_EQ(hit.object, nullptr);
}

TEST_F(PhysRayTest, TheListHoldsEachPrimitiveOnceAndRemovedBodiesStillCollide)
{
    PhysBody* b = Target(V(0, 0, 10), &owners_[0]);
    PhysContacts_AddBody(b);
    EXPECT_EQ(PhysContacts_GetPickList()->primitives.Count(), 1);
    EXPECT_EQ(PhysContacts_Holds(b, 0), 1);
    PhysContacts_RemoveBody(b);
    EXPECT_EQ(PhysContacts_GetPickList()->primitives.Count(), 0);
    Vec3 from{0, 0, 0}, to{0, 0, 100};
    EXPECT_EQ(PhysWorld_CastRay(world_, &from, &to, nullptr, nullptr), nullptr);
    // It still collides: a sphere dropped into it finds a contact.
    PhysBody* ball = Sphere(V(0, 0, 8.8f));
    RigidBody* rb = PhysBody_Unwrap(ball);
    CollisionRecordList lists[3];
    EXPECT_GT(CollisionDetection_GetContacts(rb->detection, rb, lists), 0);
}

TEST_F(PhysRayTest, ADestroyedBodyLeavesThePickList)
{
    PhysBody* b = Target(V(0, 0, 10), &owners_[0]);
    Target(V(0, 0, 20), &owners_[1]);
    PhysBody_Destroy(world_, b);
    EXPECT_EQ(PhysContacts_GetPickList()->primitives.Count(), 1);
    Vec3 from{0, 0, 0}, to{0, 0, 100};
    EXPECT_EQ(PhysWorld_CastRay(world_, &from, &to, nullptr, nullptr), &owners_[1]);
    // The world's destruction empties it too.
    PhysWorld_Destroy(world_);
    world_ = nullptr;
    EXPECT_EQ(PhysContacts_GetPickList()->primitives.Count(), 0);
}

TEST_F(PhysRayTest, TemporaryCollectorsCastAgainstTheirBodiesAndLetGoOfThem)
{
    PhysBody* near = Sphere(V(0, 0, 10), 1.0f, 0.0f);
    PhysBody* far = Sphere(V(0, 0, 20), 1.0f, 0.0f);
    PhysBody_SetOwner(near, &owners_[0]);
    PhysBody_SetOwner(far, &owners_[1]);
    CollisionPrimitive* nearPrimitive = PhysBody_Unwrap(near)->primitives[0];
    int dependents = nearPrimitive->dependents.Count();
    Vec3 from{0, 0, 0}, to{0, 0, 100}, point;
    // Neither is in the pick list.
    EXPECT_EQ(PhysWorld_CastRay(world_, &from, &to, nullptr, nullptr), nullptr);
    PhysBody* handles[] = {far};
    EXPECT_EQ(PhysWorld_CastRayAgainstHandles(&from, &to, handles, 1, &point, nullptr), &owners_[1]);
    EXPECT_NEAR(point.z, 19.0f, 1e-4);
    List* links = List_Create(sizeof(PhysBody*));
    *static_cast<PhysBody**>(List_Alloc(links)) = far;
    *static_cast<PhysBody**>(List_Alloc(links)) = near;
    EXPECT_EQ(PhysWorld_CastRayAgainst(&from, &to, links, nullptr, nullptr), &owners_[0]);
    EXPECT_EQ(PhysWorld_CastRayAgainstAll(world_, &from, &to, nullptr, nullptr), &owners_[0]);
    EXPECT_EQ(nearPrimitive->dependents.Count(), dependents);
    List_Destroy(links);
}

TEST_F(PhysRayTest, CastsGoThroughTheSeam)
{
    PhysRay_SetCastFunction(ScriptedRay);
    PhysRayResult scripted{};
    scripted.hit = 1;
    scripted.point = V(1, 2, 3);
    scripted.normal = V(0, 0, 1);
    scripted.object = &owners_[2];
    g_rayScript.push_back(scripted);
    Vec3 from{0, 0, 0}, to{0, -5, 0}, point, normal;
    EXPECT_EQ(PhysWorld_CastRay(world_, &from, &to, &point, &normal), &owners_[2]);
    EXPECT_EQ(Dist(point, V(1, 2, 3)), 0.0f);
    EXPECT_EQ(PhysWorld_CastRayAgainstHandles(&from, &to, nullptr, 0, &point, &normal), nullptr);
    ASSERT_EQ(g_rays.size(), 2u);
    EXPECT_EQ(g_rays[0].collector, PhysContacts_GetPickList());
    EXPECT_NE(g_rays[1].collector, PhysContacts_GetPickList());
    EXPECT_EQ(Dist(g_rays[1].to, to), 0.0f);
}

}  // namespace
