// Man: the stick's dead zones and smoothing, turns that last, jumps, falls,
// death and respawn, and the movement animations on dry ground.

#include "modes_fixture.h"

namespace {

class ManModeTest : public ModesTest {
protected:
    static Anims ManAnims()
    {
        return {{"stand", 1.0f, true},  {"walk", 1.0f, true},   {"walkBack", 1.0f, true}, {"run", 1.0f, true},
                {"jumpin", 0.1f, false}, {"land", 0.1f, false}, {"jump", 1.0f, true},     {"doublejump", 0.1f, false},
                {"dead", 0.3f, false},  {"dieInAir", 0.3f, false}, {"turnOnSpot", 1.0f, true},
                {"skid", 0.3f, false}};
    }
    Object* Man()
    {
        WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Man",
                       " jumpVel = 5\n forwardVelStep = 40\n reverseVelStep = 20\n turnVelMax = 3.14159\n"
                       " maxRunSpeed = 4\n joyDirIncFromCenter = 100, 0, 100\n joyDirIncToCenter = 100, 0, 100\n"
                       " dieInAirTime = 1.5\n dieInAirVel = -3\n doubleJumpAllow = TRUE\n doubleJumpVel = 7\n"
                       " doubleJumpAllowMinYVel = -1\n doubleJumpAllowMaxYVel = 1\n stunColVelHor = -100\n",
                       "maxAngularVelocity = 0", ManAnims());
        Ground();
        Object* man = StartPlayer();
        Step(10);
        return man;
    }
};

TEST_F(ManModeTest, ItRunsWalksAndJumpsAndTheDoubleJumpNeedsANewPressInItsWindow)
{
    Object* man = Man();
    script[0].stickY = 1.0f;
    Step(10);
    EXPECT_EQ(Anim(man), MAN_RUN);
    script[0].stickY = 0.5f;
    Step(10);
    EXPECT_EQ(Anim(man), MAN_WALK);
    script[0].stickY = -0.8f;
    Step(30);
    EXPECT_EQ(Anim(man), MAN_WALK_BACK);
    EXPECT_LT(Velocity(man).z, 0.0f);
    script[0].stickY = 0.0f;
    Step(60);
    script[0].buttons = MAN_BUTTON_JUMP;
    Step();
    EXPECT_NEAR(Velocity(man).y, 5.0f, 0.05f);
    int jumps = 0;
    float last = 5.0f;
    for (int i = 0; i < 250; ++i) {
        Step();
        const float vy = Velocity(man).y;
        if (vy > 4.5f && last < 4.5f) jumps++;
        last = vy;
    }
    EXPECT_GE(jumps, 2) << "held on the ground, it jumps as soon as land or stand plays";
    EXPECT_NE(Anim(man), MAN_DOUBLEJUMP) << "held, never pressed";

    script[0].buttons = 0;
    Step(60);
    Press(MAN_BUTTON_JUMP);
    while (Velocity(man).y > 0.9f) Step();
    Press(MAN_BUTTON_JUMP);
    EXPECT_EQ(Anim(man), MAN_DOUBLEJUMP);
    EXPECT_NEAR(Velocity(man).y, 7.0f, 0.05f);
}

TEST_F(ManModeTest, OffALedgeItPlaysJumpAndALongFallKillsThenItRespawnsAtItsStart)
{
    Object* man = Man();
    EntityRecord* r = Record(man);
    Place(man, V(5, 60, 5));
    SetVelocity(man, V(0, -1, 0));
    Step(10);
    EXPECT_NE(Anim(man), MAN_JUMP) << "0.2 s in the air";
    Step(5);
    EXPECT_EQ(Anim(man), MAN_JUMP);
    Step(50);
    EXPECT_GT(Entity_GetHealth(r), 0.0f);
    Step(30);
    EXPECT_EQ(Entity_GetHealth(r), 0.0f) << "more than dieInAirTime below dieInAirVel";
    EXPECT_EQ(Anim(man), MAN_DIE_IN_AIR);
    Step(30);
    EXPECT_NEAR(BodyPosition(man).x, 0.0f, 0.1f) << "respawned at its start when dieInAir ended";
    EXPECT_EQ(Entity_GetHealth(r), 100.0f);
}

}  // namespace
