#include "game/modes/skater_mode.h"

#include "game/chase_camera.h"
#include "vehicle_fixture.h"

namespace {

const char* const kCamera =
    "genCamData {\n defaultAngles = 80, 0, 0\n defaultDistance = 4\n rotationSpeeds = 180, 180, 180\n}\n";

class SkaterTest : public VehicleTest {
protected:
    Anims ModeAnims()
    {
        return {
            {"rolling", 1.0f, true}, {"pushground", 1.0f, true}, {"lose", 0.2f, false}, {"startlevel", 0.1f, false}};
    }
    // A player skater at (0, 1, 0); its keys come first and so win.
    Object* Skater(const std::string& keys)
    {
        WriteLevel();
        WriteMode("carddata\\entityconfigs\\Hero.cfg", "Skater", ModeAnims(),
                  keys + "\n" +
                      std::string("forwardVelStep = 20\n sideVelStep = 20\n runDamping = 0.5, 0, 0.5\n"
                                  " noInputDamping = 0.5, 0, 0.5\n orientToFloorSpeed = 5\n leanRangeMax = 30\n"
                                  " leanRangePerVel = 10\n leanSpeed = 90\n leanToMiddleSpeed = 90\n initHealth = 100\n"
                                  " totalHealth = 100\n dieInAirVel = -1\n dieInAirTime = 2\n camMode0RailDist = 4\n") +
                      kCamera);
        Object* hero = Build();
        const Vec3 camera = V(0, 3, -5), at = V(0, 0, 1), up = V(0, 1, 0);
        Node_SetWorldPosition(Level_GetSession()->viewports[0].cameraFrame, &camera);
        Node_SetWorldOrientation(Level_GetSession()->viewports[0].cameraFrame, &at, &up);
        return hero;
    }
    SkaterData* D(Object* o) { return Data<SkaterData>(o); }
};

TEST_F(SkaterTest, ALevelSectionSilencesCollisionsTheLatchWaitsForAQuietFrameAndACheckpointMovesTheStart)
{
    WriteProp("Checkpoint", "StringVal0 = CHECKPOINT\n FPVal0 = -1", 3);
    Level_SetLevelToUnlock(3);
    Object* hero = Skater(
        "faintNoiseColChange = -1\n mediumNoiseColChange = -5\n loudNoiseColChange = -10\n"
        "}\ncontrolData_3 {\n forwardVelStep = 7");
    ASSERT_NE(hero, nullptr);
    SkaterData* d = D(hero);
    EXPECT_FLOAT_EQ(d->common.faintNoiseColChange, -1000.0f);
    EXPECT_FLOAT_EQ(d->common.loudNoiseColChange, -1000.0f);
    EXPECT_FLOAT_EQ(d->common.forwardVelStep, 7.0f) << "the level's section overrides";
    EXPECT_FLOAT_EQ(d->sideVelStep, 20.0f) << "keys of pass 0 survive";
    EXPECT_FLOAT_EQ(d->common.camModes[0].railDist, 4.0f);

    // The latch: one blow, however hard the next frames hit, until a frame without.
    d->common.faintNoiseColChange = -1.0f;
    d->common.mediumNoiseColChange = -5.0f;
    d->common.loudNoiseColChange = -10.0f;
    EntityRecord* r = Entity_GetRecord(hero);
    const std::tuple<uint32_t, float, uint32_t> steps[] = {// touched, speed change, latch
                                                           {ENTITY_TOUCHED, -0.05f, 1},
                                                           {ENTITY_TOUCHED, -0.5f, 1},
                                                           {0, -0.5f, 0},
                                                           {ENTITY_TOUCHED, -0.01f, 0},
                                                           {ENTITY_TOUCHED, -0.5f, 1}};
    for (auto [touched, change, latch] : steps) {
        r->flags = (r->flags & ~ENTITY_TOUCHED) | touched;
        r->hSpeedChange = change;
        r->vSpeedChange = 0.0f;
        SkaterMode_RulesUpdate(hero, r, nullptr);
        EXPECT_EQ(d->common.noiseLatch, latch) << change;
    }
    // A checkpoint moves the start once, and a full restart frees it.
    PlaceProps({Item("Checkpoint", V(5, 0, 5)), Item("Checkpoint", V(9, 0, 9))});
    Object* first = PropAt(V(5, 0, 5));
    Object* second = PropAt(V(9, 0, 9));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    SkaterMode_Collision(hero, r, nullptr, 0);  // no object, or none of the level's props: nothing
    SkaterMode_Collision(hero, r, hero, 0);
    EXPECT_EQ(Player_GetUserWord(0), nullptr);
    SkaterMode_Collision(hero, r, first, 0);
    EXPECT_EQ(Player_GetUserWord(0), first);
    EXPECT_EQ(HitModeObject_GetAnimIndex(first), 1);
    EXPECT_NEAR(r->startPosition.x, 5.0f, 1e-4f);
    // The current checkpoint again: nothing changes.
    HitModeObject_PlayIndex(first, 2, 1, 0);
    r->startPosition = V(1, 1, 1);
    SkaterMode_Collision(hero, r, first, 0);
    EXPECT_EQ(HitModeObject_GetAnimIndex(first), 2);
    EXPECT_NEAR(r->startPosition.x, 1.0f, 1e-4f);
    // A new one: it becomes the start and the previous one goes down.
    SkaterMode_Collision(hero, r, second, 0);
    EXPECT_EQ(Player_GetUserWord(0), second);
    EXPECT_NEAR(r->startPosition.x, 9.0f, 1e-4f);
    EXPECT_EQ(HitModeObject_GetAnimIndex(first), 0);
    // Back at the level's start, the last checkpoint can be taken again.
    Entity_Respawn(hero, 1);
    EXPECT_EQ(Player_GetUserWord(0), nullptr);
    EXPECT_EQ(HitModeObject_GetAnimIndex(second), 0);
}

// Pushed to one side at its top speed the model keeps to its travel frame after frame; a cut-scene holds the skater
// without a loss.
TEST_F(SkaterTest, AtTopSpeedTheModelKeepsToItsTravelAndACutSceneHoldsItWithoutALoss)
{
    WriteProp("Show", "U32Val0 = 2\n BoolVal13 = TRUE", 2);
    Floor();
    Object* hero = Skater("");
    ASSERT_TRUE(hero && Settle(hero));
    EntityRecord* r = Entity_GetRecord(hero);
    Pad(1.0f, 0.0f);
    Frame(25);
    r->maxVelocity = 4.0f;
    for (int i = 0; i < 15; ++i) {
        Frame();
        Vec3 v = Velocity(hero), at, up;
        Entity_GetAnimRootOrientation(r, 0, &at, &up);
        ASSERT_LT(std::fabs(Angle_Diff(Vec3_Heading(&at), Vec3_Heading(&v), 1, 1)), 0.06f) << i;
    }
    PlaceProps({Item("Show", V(20, 0, 20))});
    ASSERT_EQ(HitModeObject_PlayIndex(PropAt(V(20, 0, 20)), 1, 1, 1), 1);
    Frame(5);
    EXPECT_TRUE(Entity_TestFlags(r, ENTITY_HELD));
    Frame(40);  // the watched animation (0.2 s) ends and lets go
    EXPECT_FALSE(Entity_TestFlags(r, ENTITY_HELD) || r->animSlots[0].current == SKATER_ANIM_LOSE || g_restarts);
}

// A push along the model's forward is straight, across it fully sideways,
// whatever the forward's length or pitch; a forward with no horizontal part
// leaves every push sideways.
TEST(SkaterSidenessTest, OnlyTheHorizontalForwardCounts)
{
    const std::tuple<Vec3, Vec3, float> cases[] = {{V(0, 0, 1), V(0, 0.6f, 0.8f), 0.0f},
                                                   {V(1, 0, 0), V(2, 0, 0), 0.0f},
                                                   {V(1, 0, 0), V(0, 0, 3), 1.0f},
                                                   {V(0, 0, 1), V(0, 1, 0), 1.0f}};
    for (auto [direction, forward, sideness] : cases)
        EXPECT_NEAR(SkaterMode_Sideness(&direction, &forward), sideness, 1e-5f) << forward.x << forward.z;
}

}  // namespace
