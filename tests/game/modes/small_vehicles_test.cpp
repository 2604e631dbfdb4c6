// Ball, AirPlane and CameraMode.

#include "game/chase_camera.h"
#include "game/modes/airplane_mode.h"
#include "game/modes/ball_mode.h"
#include "game/modes/camera_mode.h"
#include "vehicle_fixture.h"

namespace {

constexpr float kPi = 3.14159265f;

// ---------------------------------------------------------------- Ball

class BallTest : public VehicleTest {
protected:
    // A player ball whose slot 0 fades.
    Object* Ball()
    {
        WriteMode("carddata\\entityconfigs\\Hero.cfg", "Ball", {{"roll", 1.0f, true}},
                  "forwardVelStep = 10\n noInputDamping = 2, 0, 2\n runDamping = 0, 0, 0\n dieInAirVel = -1\n"
                  " dieInAirTime = 0.3",
                  "", "Anim0GlobalTransSet = TRUE\n");
        WriteLevel({}, 0.0f);
        return Build();
    }
    Vec3 Push(Object* ball, float x, float y)
    {
        PlayerInputRecord input{};
        input.stickX = x;
        input.stickY = y;
        const Vec3 before = Velocity(ball);
        BallMode_Update(ball, Entity_GetRecord(ball), &input);
        Vec3 after = Velocity(ball);
        return *Vec3_Sub(&after, &after, &before);
    }
};

TEST_F(BallTest, TheBoardIsSteeredTowardThePushesAndNothingHappensWithoutOne)
{
    Floor();
    Object* ball = Ball();
    ASSERT_TRUE(Settle(ball));
    BallData* d = Data<BallData>(ball);
    EntityRecord* r = Entity_GetRecord(ball);
    // Many pushes: the accumulator's x and z stay within [-pi, pi).
    for (int i = 0; i < 100; ++i) Push(ball, 0.7f, 0.7f);
    EXPECT_GE(d->tilt.x, -kPi);
    EXPECT_LT(d->tilt.x, kPi);
    EXPECT_GE(d->tilt.z, -kPi);
    EXPECT_LT(d->tilt.z, kPi);
    BallMode_RulesUpdate(ball, r, nullptr);  // no board: nothing to steer, nothing breaks
    // A damping stronger than 1 / dt stops the ball; it never throws it back.
    d->noInputDamping = V(100, 0, 100);
    SetVelocity(ball, V(0, 0, 5));
    EXPECT_EQ(Push(ball, 0, 0).z, -5.0f);

    PhysBody* boardBody = PhysBody_Create(phys, 1.0f, 1.0f);
    const Vec3 at = V(0, 5, 20);
    PhysWorld_AddBody(phys, boardBody, &at, nullptr, nullptr);
    Object board{};
    board.body = boardBody;
    BallMode_SetBoard(ball, &board);
    EXPECT_EQ(d->board, nullptr) << "a board must be a live object of the object world";
    board.serial = 7;
    BallMode_SetBoard(ball, &board);
    ASSERT_EQ(d->board, &board);
    // Upright, both headings of the board's up are pi/2: the accumulator's z
    // below it raises angular velocity z, its x above it raises x.
    d->tilt = V(2.5f, 0, -1.0f);
    BallMode_RulesUpdate(ball, r, nullptr);
    Vec3 w;
    PhysBody_GetAngularVelocity(boardBody, &w);
    EXPECT_GT(w.x, 0.0f);
    EXPECT_GT(w.z, 0.0f);
    for (int i = 0; i < 200; ++i) BallMode_RulesUpdate(ball, r, nullptr);
    PhysBody_GetAngularVelocity(boardBody, &w);
    EXPECT_LE(w.x, 1.0f);
    EXPECT_LE(w.z, 1.0f);
    BallMode_SetBoard(ball, nullptr);
}

// ---------------------------------------------------------------- AirPlane

class AirPlaneTest : public VehicleTest {
protected:
    // Player 0 walks (a mode of its own) and a plane stands at (0, 5, 10).
    Object* Plane()
    {
        WriteMode("Levels\\Test\\Plane.cfg", "AirPlane", {{"land", 1.0f, true}, {"stand", 1.0f, true}},
                  "enginePowerMin = 1\n enginePowerMax = 3\n engineSpeedUpRate = 10\n engineSlowDownRate = 10\n"
                  " genCamData {\n defaultDistance = 5\n}\n");
        WriteMode("carddata\\entityconfigs\\Hero.cfg", "Man", {{"stand", 1.0f, true}}, "");
        WriteLevel({Item("entity_Plane", V(0, 5, 10))});
        Floor();
        Build();
        for (Object* o : Entities()) {
            if (Entity_GetRecord(o)->mode != MODE_AIRPLANE) continue;
            const Vec3 up = V(0, 1, 0), at = V(0, 0, 1);
            PhysBody_SetOrientation(o->body, &up, &at);
            AirPlaneMode_Restart(o, Entity_GetRecord(o), 1);
            return o;
        }
        return nullptr;
    }
};

TEST_F(AirPlaneTest, ActionSevenHandsControlBackBesideThePlaneOnlyToAHolder)
{
    Object* plane = Plane();
    Object* hero = Level_GetPlayerEntity(0);
    ASSERT_NE(plane, nullptr);
    EntityRecord* r = Entity_GetRecord(plane);
    PlayerInputRecord leave{};
    leave.buttons = AIRPLANE_BUTTON_LEAVE;
    // The engine's power stays within its limits while the stick moves the targets.
    AirPlaneData* d = Data<AirPlaneData>(plane);
    PlayerInputRecord fly{};
    fly.stickX = fly.stickY = 1.0f;
    for (uint32_t button : {AIRPLANE_BUTTON_POWER_UP, AIRPLANE_BUTTON_POWER_DOWN}) {
        fly.buttons = button;
        for (int i = 0; i < 30; ++i) AirPlaneMode_Update(plane, r, &fly);
        EXPECT_FLOAT_EQ(d->enginePower, button == AIRPLANE_BUTTON_POWER_UP ? 3.0f : 1.0f);
    }
    EXPECT_NE(d->targetHeading, 0.0f);
    AirPlaneMode_Update(plane, r, &leave);  // nobody to hand back to
    EXPECT_EQ(r->player, 0u);
    Frame(30);
    ASSERT_EQ(Entity_TakeOver(hero, plane), 1);
    Frame(30);  // the possessed clock must pass half a second
    Pad(0, 0, AIRPLANE_BUTTON_LEAVE);
    Frame();
    EXPECT_EQ(r->player, 0u);
    EXPECT_EQ(Entity_GetRecord(hero)->player, 1u);
    const Vec3 a = BodyPosition(hero), b = BodyPosition(plane);
    EXPECT_LT(Vec3_Distance(&a, &b), 5.0f) << "put down beside the plane";
}

}  // namespace
