// Flitter, Butterfly, ScreenRel and Thrusting as a player's characters.
#include <cmath>

#include "modes_fixture.h"

using namespace modestest;
using entitytest::V;

namespace {

class SmallModesTest : public ModesTest {
protected:
    Object* Player(const char* mode, const std::string& keys, const Anims& anims)
    {
        WriteCharacter("carddata\\entityconfigs\\Hero.cfg", mode, keys, "maxAngularVelocity = 0", anims);
        FlatGround();
        Object* o = StartPlayer();
        Step(5);
        return o;
    }
};

TEST_F(SmallModesTest, FlitterTurnsLeftWithBothTurnButtonsAndItsSpeedsDecayPerFrame)
{
    Object* flitter = Player("Flitter",
                             " maxSpeed = 10\n forwardSpeedStep = 1000\n maxTurnSpeed = 3\n turnSpeedStep = 100\n"
                             " runSpeed = 5\n",
                             {{"stand", 1.0f, true}, {"walk", 1.0f, true}, {"run", 1.0f, true}, {"fire", 0.1f, false}});
    FlitterData* d = (FlitterData*)Record(flitter)->modeData;
    const float start = Heading(flitter);
    script[0].buttons = SMALL_BUTTON_LEFT | SMALL_BUTTON_RIGHT;
    Step(10);
    EXPECT_EQ(d->turnSpeed, -3.0f) << "left wins, clamped to maxTurnSpeed";
    EXPECT_LT(Angle_Diff(start, Heading(flitter), 1, 1), -0.3f) << "the heading falls: a left turn";
    script[0].buttons = 0;
    Step();
    EXPECT_NEAR(d->turnSpeed, -3.0f * 0.02f * 0.5f, 1e-6f);
    Step();
    EXPECT_NEAR(d->turnSpeed, -0.0003f, 1e-8f);

    script[0].buttons = SMALL_BUTTON_FORWARD2;
    Step(3);
    EXPECT_EQ(d->forwardSpeed, 10.0f);
    EXPECT_EQ(Anim(flitter), FLITTER_RUN);
    script[0].buttons = 0;
    Step();
    EXPECT_FLOAT_EQ(d->forwardSpeed, 1.0f);
    EXPECT_EQ(Anim(flitter), FLITTER_WALK);
    Step();
    EXPECT_EQ(d->forwardSpeed, 0.0f) << "0.1 is below 0.5";
    EXPECT_EQ(Anim(flitter), FLITTER_STAND);
    const float turned = Heading(flitter);
    Step(10);
    EXPECT_NEAR(Heading(flitter), turned, 1e-4f) << "the body keeps the turn";
}

TEST_F(SmallModesTest, ButterflyGoesFromJumpinToFlyAndGlide)
{
    const Anims anims = {{"stand", 1.0f, true}, {"walk", 1.0f, true}, {"jumpin", 0.1f, false},
                         {"fly", 1.0f, true},   {"glide", 1.0f, true}, {"land", 0.1f, false}};
    Object* butterfly = Player("Butterfly", " walkImpulse = 5\n flyImpulse = 5\n flyUpImpulse = 30\n", anims);
    Place(butterfly, V(0, 30, 0));
    SetVelocity(butterfly, V(0, -2, 0));
    Step();
    ASSERT_FALSE(Record(butterfly)->flags & ENTITY_ON_GROUND);
    // Pressed for one frame.
    Press(SMALL_BUTTON_JUMP);
    EXPECT_EQ(Anim(butterfly), BUTTERFLY_JUMPIN);
    Step(3);
    EXPECT_EQ(Anim(butterfly), BUTTERFLY_JUMPIN);
    for (int i = 0; i < 10 && Anim(butterfly) == BUTTERFLY_JUMPIN; ++i) Step();
    EXPECT_EQ(Anim(butterfly), BUTTERFLY_FLY) << "when jumpin ends";
    Step();
    EXPECT_EQ(Anim(butterfly), BUTTERFLY_GLIDE) << "without the button";
    // Held: fly in the second frame, glide on release.
    Mode_Play(Record(butterfly), BUTTERFLY_STAND);
    script[0].buttons = SMALL_BUTTON_JUMP;
    Step();
    EXPECT_EQ(Anim(butterfly), BUTTERFLY_JUMPIN);
    Step();
    EXPECT_EQ(Anim(butterfly), BUTTERFLY_FLY);
    const float vy = Velocity(butterfly).y;
    script[0].buttons = 0;
    Step();
    EXPECT_EQ(Anim(butterfly), BUTTERFLY_GLIDE);
    EXPECT_LT(Velocity(butterfly).y, vy) << "no more lift";
}

}  // namespace
