// Man_CamRel's movement slot: the ground step, the camera button, the
// freeze guard, speed limits over a platform, attacks and jumps.
#include <cmath>

#include "modes_fixture.h"

using namespace modestest;

namespace {

class ManCamRelMoveTest : public ModesTest {
protected:
    Object* Hero(const std::string& controlData = "")
    {
        return CamRelHero(
            controlData +
            " maxRunSpeed = 100\n forwardVelStepInAir = 500\n doubleJumpVel = 9\n doubleJumpAllow = TRUE\n"
            " doubleJumpAllowMinYVel = -2\n doubleJumpAllowMaxYVel = 2\n camMode0RailDist = 4\n"
            " camMode1RailDist = 5\n camMode2RailDist = 6\n camMode3RailDist = 7\n camMode0XRotation = 80\n"
            " manualCamSpeed = 90, 180\n"
            " genCamData {\n  defaultDistance = 5\n }\n");
    }
    static float Horizontal(Vec3 v) { return std::sqrt(v.x * v.x + v.z * v.z); }
};

TEST_F(ManCamRelMoveTest, NothingButTheNoInputFlagHappensForThreeTenthsAfterAFreeze)
{
    Object* hero = Hero();
    Record(hero)->flags |= ENTITY_FROZEN;
    Step();
    Record(hero)->flags &= ~ENTITY_FROZEN;
    const float frozenAt = d->freezeTime;
    script[0].stickY = 1.0f;
    script[0].buttons = MCR_BUTTON_JUMP;
    int frames = 0;
    while (Entity_GetTime(Record(hero)) - frozenAt < 0.28f) {
        Step();
        script[0].buttons = 0;
        frames++;
        EXPECT_LT(Horizontal(Velocity(hero)), 0.05f);
        EXPECT_TRUE(d->flags & MCR_NO_INPUT);
        EXPECT_NE(Anim(hero), MCR_JUMPIN);
    }
    EXPECT_GE(frames, 13);
    Step(3);
    EXPECT_GT(Horizontal(Velocity(hero)), 0.5f);
}

// A close attack, and the special move while its weapon has shots, lunge
// forward from 0.05 to 0.25 s into the animation, at most at 6.
struct LungeCase {
    const char* keys;
    uint32_t button;
    int32_t anim;
    bool lunges;
};

class ManCamRelLungeTest : public ManCamRelMoveTest, public ::testing::WithParamInterface<LungeCase> {};

TEST_P(ManCamRelLungeTest, AttacksAndTheSpecialMoveLungeForwardInTheirWindow)
{
    const LungeCase& c = GetParam();
    WriteShot("Shots\\Bolt.cfg", "STRAIGHT");
    Object* hero =
        Hero(std::string(c.keys) +
             " closeAttackMoveStartTime = 0.05\n closeAttackMoveEndTime = 0.25\n closeAttackForwardVelStep = 60\n"
             " closeAttackMaxSpeed = 6\n noInputDamping = 2, 0, 2\n specialMoveProjectileNum = 1\n projectiles {\n"
             "  ProjType0Config = Shots\\Bolt.cfg\n  ProjType1Config = Shots\\Bolt.cfg\n  ProjType1Ammo = 2\n }\n");
    Press(c.button);
    EXPECT_EQ(Anim(hero), c.anim);
    float speeds[15], fastest = 0.0f;
    for (float& speed : speeds) {
        Step();
        speed = Velocity(hero).z;
        fastest = std::fmax(fastest, speed);
    }
    EXPECT_LT(speeds[0], 0.01f) << "not yet";
    EXPECT_LT(fastest, 6.01f);
    EXPECT_EQ(fastest > 5.0f, c.lunges);
    if (c.lunges) {
        EXPECT_LT(speeds[14], fastest - 0.5f) << "over";
    }
    EXPECT_NEAR(Velocity(hero).x, 0.0f, 1e-3f);
}

INSTANTIATE_TEST_SUITE_P(Moves, ManCamRelLungeTest,
                         ::testing::Values(LungeCase{"", MCR_BUTTON_ATTACK, MCR_CLOSE_ATTACK1, true},
                                           LungeCase{"", MCR_BUTTON_SPECIAL, MCR_SPECIAL_MOVE, true},
                                           LungeCase{" noSpecialAmmo = TRUE\n", MCR_BUTTON_SPECIAL, MCR_STAND, false}));

// (The jump's allowance after leaving the ground: walking_level_test.)
TEST_F(ManCamRelMoveTest, ATapOfTheCameraButtonCyclesTheModeAndAHoldOnlySteers)
{
    Object* hero = Hero();
    d->camMode = 3;
    script[0].buttons = MCR_BUTTON_CAMERA;
    Step(5);
    script[0].buttons = 0;
    Step();
    EXPECT_EQ(d->camMode, 0) << "3 wraps to 0";
    EXPECT_EQ(d->camera->targetDistance, 4.0f);

    // Held, the button makes the stick steer the camera by hand: x turns
    // it towards +x, y raises it to look further down; the character stays.
    auto Steer = [&](float x, float y, int frames = 15) {
        script[0].buttons = MCR_BUTTON_CAMERA;
        script[0].stickX = x;
        script[0].stickY = y;
        Step(frames);
        EXPECT_TRUE(Horizontal(Velocity(hero)) < 0.05f);
        Vec3 at, up;
        Node_GetWorldOrientation(cameraFrame, &at, &up);
        return at;
    };
    const Vec3 still = Steer(0, 0, 60), turned = Steer(1, 0), lowered = Steer(0, 1);
    EXPECT_GT(Vec3_Heading(&turned), 0.6f);
    EXPECT_NEAR(turned.y, still.y, 0.05f);
    EXPECT_LT(lowered.y, turned.y - 0.08f);
    script[0].buttons = 0;
    script[0].stickY = 0.0f;
    Step();
    EXPECT_EQ(d->camMode, 0) << "a hold of 1.8 s is no tap";
}

TEST_F(ManCamRelMoveTest, ASecondAttackPressDuringTheFirstQueuesTheSecondAttack)
{
    Object* hero = Hero();
    Press(MCR_BUTTON_ATTACK);
    EXPECT_EQ(Anim(hero), MCR_CLOSE_ATTACK1);
    EXPECT_FALSE(CamRel(hero)->flags & MCR_ATTACK_QUEUED);
    Step();
    Press(MCR_BUTTON_ATTACK);
    EXPECT_TRUE(CamRel(hero)->flags & MCR_ATTACK_QUEUED);
    Press(MCR_BUTTON_FIRE);
    EXPECT_EQ(Anim(hero), MCR_CLOSE_ATTACK1) << "no firing during an attack";
    Step(20);
    EXPECT_EQ(Anim(hero), MCR_CLOSE_ATTACK2);
    Step(20);
    EXPECT_NE(Anim(hero), MCR_CLOSE_ATTACK1) << "without a queued attack the second one finishes";
}

TEST_F(ManCamRelMoveTest, TheDoubleJumpNeedsANewPressInItsWindowAndComesOncePerJump)
{
    Object* hero = Hero();
    Press(MCR_BUTTON_JUMP);
    EXPECT_NEAR(Velocity(hero).y, 6.0f, 0.01f);
    // The double jump needs a new press inside the vertical-speed window.
    script[0].buttons = MCR_BUTTON_JUMP;
    Step(5);
    EXPECT_NE(Anim(hero), MCR_DOUBLEJUMP) << "held, not pressed; and 6 is outside the window";
    script[0].buttons = 0;
    while (Velocity(hero).y > 1.5f) Step();
    Press(MCR_BUTTON_JUMP);
    EXPECT_EQ(Anim(hero), MCR_DOUBLEJUMP);
    EXPECT_NEAR(Velocity(hero).y, 9.0f, 0.01f);
    Step(40);
    Press(MCR_BUTTON_JUMP);
    ASSERT_FALSE(Record(hero)->flags & ENTITY_ON_GROUND);
    EXPECT_LT(Velocity(hero).y, 9.0f - 0.2f) << "one double jump per jump";
}

}  // namespace
