// Flitter and Butterfly as a player's characters.
#include "modes_fixture.h"

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

TEST_F(SmallModesTest, FlitterTurnsLeftWithBothTurnButtonsAndKeepsTheTurn)
{
    Object* flitter = Player("Flitter", " maxSpeed = 10\n forwardSpeedStep = 1000\n maxTurnSpeed = 3\n turnSpeedStep = 100\n",
                             {{"stand", 1.0f, true}, {"walk", 1.0f, true}, {"run", 1.0f, true}, {"fire", 0.1f, false}});
    FlitterData* d = (FlitterData*)Record(flitter)->modeData;
    const float start = Heading(flitter);
    script[0].buttons = SMALL_BUTTON_LEFT | SMALL_BUTTON_RIGHT;
    Step(10);
    EXPECT_EQ(d->turnSpeed, -3.0f) << "left wins, clamped to maxTurnSpeed";
    EXPECT_LT(Angle_Diff(start, Heading(flitter), 1, 1), -0.3f) << "the heading falls: a left turn";
    script[0].buttons = 0;
    Step(2);
    const float turned = Heading(flitter);
    Step(10);
    EXPECT_NEAR(Heading(flitter), turned, 1e-4f) << "the turn decays at once and the body keeps it";
}

TEST_F(SmallModesTest, ButterflyGoesFromJumpinToFlyGlideAndLand)
{
    const Anims anims = {{"stand", 1.0f, true}, {"walk", 1.0f, true}, {"jumpin", 0.1f, false},
                         {"fly", 1.0f, true},   {"glide", 1.0f, true}, {"land", 0.1f, false}};
    Object* butterfly = Player("Butterfly", " walkImpulse = 5\n flyImpulse = 5\n flyUpImpulse = 30\n", anims);
    Place(butterfly, V(0, 30, 0));
    SetVelocity(butterfly, V(0, -2, 0));
    Step();
    ASSERT_FALSE(Record(butterfly)->flags & ENTITY_ON_GROUND);
    Press(SMALL_BUTTON_JUMP);
    EXPECT_EQ(Anim(butterfly), BUTTERFLY_JUMPIN);
    for (int i = 0; i < 10 && Anim(butterfly) == BUTTERFLY_JUMPIN; ++i) Step();
    EXPECT_EQ(Anim(butterfly), BUTTERFLY_FLY) << "when jumpin ends";
    Step();
    EXPECT_EQ(Anim(butterfly), BUTTERFLY_GLIDE) << "without the button";
    // Held: fly in the second frame.
    Mode_Play(Record(butterfly), BUTTERFLY_STAND);
    script[0].buttons = SMALL_BUTTON_JUMP;
    Step();
    EXPECT_EQ(Anim(butterfly), BUTTERFLY_JUMPIN);
    Step();
    EXPECT_EQ(Anim(butterfly), BUTTERFLY_FLY);
    script[0].buttons = 0;
    for (int i = 0; i < 200 && Anim(butterfly) != BUTTERFLY_STAND; ++i) Step();
    EXPECT_EQ(Anim(butterfly), BUTTERFLY_STAND) << "landed";
}

}  // namespace
