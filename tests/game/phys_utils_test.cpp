#include "game/phys_utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "entity_fixture.h"
#include "game/hit_mode_object.h"

using namespace entitytest;

namespace {

class PhysUtilsTest : public EntityTest {
protected:
    void SetUp() override
    {
        EntityTest::SetUp();
        const Vec3 none = V(0, 0, 0);
        PhysWorld_SetGravity(phys, &none);
    }
    void WriteUtility(const char* name, const char* kind, const std::string& keys, const std::string& sections,
                      const char* physical = "SPHERE0.5", const char* mass = "1", const char* visual = "NOVISUAL")
    {
        WriteConfig((std::string("Levels\\Test\\") + name + ".cfg").c_str(),
                    std::string("Object {\n Description {\n VisualModel = ") + visual + "\n PhysicalModel = " +
                        physical + "\n Mass = " + mass + "\n Active = TRUE\n CollisionGroup = 1\n" +
                        " Constructor = VavadUtils_" + kind + "_Constructor\n Destructor = VavadUtils_" + kind +
                        "_Destructor\n Update = VavadUtils_" + kind + "_Update\n" + keys + "\n }\n}\n" + sections);
    }
    Object* Place(const char* name, Vec3 at)
    {
        WriteScene("Levels\\Test\\Place.lws", 1.0f, {Item(name, at)});
        ObjectScene_Load("Levels\\Test\\Place.lws", "Levels\\Test", objects);
        Object* found = nullptr;
        List_ForEach(
            objects,
            [](void* item, void* arg) {
                *(Object**)arg = (Object*)item;
                return 0;
            },
            &found);
        return found;
    }
    void Step(int frames)
    {
        for (int i = 0; i < frames; ++i) {
            Rules_Update(dt);
            PhysWorld_Step(phys, dt);
            ObjectPool_Update(objects, &dt);
        }
    }
    float SpinZ(Object* o)
    {
        Vec3 w;
        PhysBody_GetAngularVelocity(o->body, &w);
        return w.z;
    }
};

TEST_F(PhysUtilsTest, HingeStatesCycleAndAFullCycleStopsEvenWithZeroTimes)
{
    WriteUtility("Spinner", "HingeVelChange", "",
                 "HingeVelChangeData {\n HingeVel_TargetVel0 = 2\n HingeVel_VelPerSec0 = 1000\n"
                 " HingeVel_TimeInState0 = 0.1\n HingeVel_TargetVel1 = -3\n HingeVel_VelPerSec1 = 1000\n"
                 " HingeVel_TimeInState1 = 0.2\n}\n");
    Object* spinner = Place("Spinner", V(0, 0, 0));
    auto* h = (HingeVelBlock*)Object_GetUserData(spinner);
    ASSERT_EQ(h->stateCount, 2u);
    EXPECT_NEAR(h->axis.z, 1.0f, 1e-5) << "the item's at";
    for (const auto& [frames, state, spin] : {std::tuple{2, 0u, 2.0f}, {4, 1u, -3.0f}, {10, 0u, 2.0f}}) {
        Step(frames);
        EXPECT_EQ(h->current, state) << frames;
        EXPECT_TRUE(frames == 10 || std::fabs(SpinZ(spinner) - spin) < 1e-3f) << SpinZ(spinner);
    }
    // All times 0: one pass round the cycle, then it stops.
    h->states[0].time = h->states[1].time = 0.0f;
    Step(3);
    EXPECT_EQ(h->current, 0u);
    // A block without states leaves the spin alone.
    WriteUtility("Idle", "HingeVelChange", "", "");
    Object* idle = Place("Idle", V(5, 0, 0));
    EXPECT_EQ(((HingeVelBlock*)Object_GetUserData(idle))->stateCount, 0u);
    Vec3 w = V(0, 0, 1.5f);
    PhysBody_SetAngularVelocity(idle->body, &w);
    Step(3);
    EXPECT_NEAR(SpinZ(idle), 1.5f, 1e-3);
    // The restart event puts the spinner back.
    Level_RaiseEvents(LEVEL_EVENT_RESPAWN);
    Step(2);
    EXPECT_EQ(h->current, 0u);
}

TEST_F(PhysUtilsTest, TheMovementSwitchNeedsATenthOfASecondBeyondEitherSpeed)
{
    WriteAnimSet("Levels\\Test\\Wheel", "ANIM", {{"still", 1.0f, true}, {"turning", 1.0f, true}});
    WriteUtility("Wheel", "HingeVelChange", "",
                 "HingeVelChangeData {\n HingeVel_SoundTriggerVel = 2\n HingeVel_SoundUnTriggerVel = 1\n}\n",
                 "SPHERE0.5", "1", "Levels\\Test\\Wheel");
    Object* wheel = Place("Wheel", V(0, 0, 0));
    ASSERT_NE(wheel->animSet, nullptr);
    auto* h = (HingeVelBlock*)Object_GetUserData(wheel);
    auto Spin = [&](float z, int frames) {
        for (int i = 0; i < frames; ++i) {
            Vec3 w = V(0, 0, z);
            PhysBody_SetAngularVelocity(wheel->body, &w);
            Step(1);
        }
    };
    // Five frames are 0.1 s beyond a speed, not yet more; between the two speeds nothing changes.
    for (const auto& [z, frames, moving] : {std::tuple{3.0f, 5, false},
                                            {3.0f, 2, true},
                                            {1.5f, 20, true},
                                            {0.5f, 5, true},
                                            {0.5f, 2, false},
                                            {1.5f, 20, false}}) {
        Spin(z, frames);
        EXPECT_EQ(h->moving != 0, moving) << z << " " << frames;
        EXPECT_EQ(AnimSet_GetCurrentIndex(wheel->animSet), h->moving ? 1 : 0);
    }
}

// A magnet is in the shared list while it lives and leaves it when destroyed.
TEST_F(PhysUtilsTest, AMagnetIsListedUntilItIsDestroyed)
{
    WriteUtility("Magnet", "Magnet", "StringVal0 = IRON", "MagnetData {\n}\n");
    ASSERT_NE(Place("Magnet", V(0, 0, 0)), nullptr);
    ASSERT_NE(Place("Magnet", V(5, 0, 0)), nullptr);
    ASSERT_EQ(VavadUtils_GetMagnetCount(), 2u);
    Object* first = VavadUtils_GetMagnet(0);
    Object_Destroy(VavadUtils_GetMagnet(1));
    ASSERT_EQ(VavadUtils_GetMagnetCount(), 1u);
    EXPECT_EQ(VavadUtils_GetMagnet(0), first);
    Object_Destroy(first);
    EXPECT_EQ(VavadUtils_GetMagnetCount(), 0u);
}

}  // namespace

TEST_F(PhysUtilsTest, AGenericPropReturnsToItsStartOnTheRestartEvent)
{
    WriteUtility("Crate", "GenericObject", "", "");
    Object* crate = Place("Crate", V(3, 1, 2));
    ASSERT_NE(crate, nullptr);
    EXPECT_EQ(Object_GetUserInt(crate), GENERIC_USER_INT);
    Vec3 push = V(5, 0, 0), spin = V(1, 2, 3);
    PhysBody_SetLinearVelocity(crate->body, &push);
    PhysBody_SetAngularVelocity(crate->body, &spin);
    Step(10);
    EXPECT_GT(BodyPosition(crate).x, 3.5f);
    Level_RaiseEvents(LEVEL_EVENT_RESPAWN);
    Rules_Update(dt);
    ObjectPool_Update(objects, &dt);
    EXPECT_FLOAT_EQ(BodyPosition(crate).x, 3.0f);
    EXPECT_FLOAT_EQ(BodyPosition(crate).z, 2.0f);
    Vec3 v, w;
    PhysBody_GetLinearVelocity(crate->body, &v);
    PhysBody_GetAngularVelocity(crate->body, &w);
    EXPECT_EQ(v.x, 0.0f);
    EXPECT_EQ(w.y, 0.0f);
    Quat q = PhysBody_GetRotation(crate->body);
    EXPECT_NEAR(std::fabs(q.w), 1.0f, 1e-5);
}
