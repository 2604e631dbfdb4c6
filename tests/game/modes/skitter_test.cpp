// Skitter: clipping by distance from player 0's camera, death by falling
// and respawn, projectiles and bosses, fights with a Man_CamRel player, the
// animation chains, and a Skitter played by a player.
#include <cmath>

#include "modes_fixture.h"

using namespace modestest;
using entitytest::Item;
using entitytest::V;

namespace {

const char kHeroKeys[] =
    " forwardVelStep = 64\n maxRunSpeed = 10\n maxInAirSpeed = 3\n jumpTimeSinceGroundAllow = 0.1\n"
    " dieInAirTime = 50\n camMode0RailDist = 4\n camMode1RailDist = 4\n camMode2RailDist = 4\n camMode3RailDist = 4\n";

class SkitterTest : public ModesTest {
protected:
    static Anims SkitterAnims()
    {
        return {{"idle", 1.0f, true},     {"wake", 0.1f, false},        {"sleep", 0.1f, false},
                {"spawn", 0.1f, false},   {"stand", 1.0f, true},        {"walk", 0.5f, true},
                {"jumpin", 0.1f, false},  {"fly", 1.0f, true},          {"land", 0.1f, false},
                {"jump", 0.2f, false},    {"die", 0.3f, false},         {"meleeAttack", 0.2f, false},
                {"rangeAttack", 0.2f, false}, {"bombExplode", 0.2f, false}, {"stunned", 0.2f, false},
                {"celebrate", 0.2f, false}};
    }
    // A Skitter "Levels\Test\Bug.cfg" and a hero, with their extra keys.
    Object* Level(const std::string& bugKeys, std::vector<LwsWriterItem> bugs, const std::string& heroKeys = "",
                  const std::string& bugVehicle = "EntityType0 = 2")
    {
        WriteCharacter("Levels\\Test\\Bug.cfg", "Skitter",
                       bugKeys + " totalHealth = 30\n forwardVelStep = 30\n maxRunSpeed = 4\n maxInAirSpeed = 4\n",
                       bugVehicle, SkitterAnims());
        WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Man_CamRel", heroKeys + kHeroKeys);
        Ground(0.0f);
        Object* hero = StartPlayer(bugs);
        Step(2);
        return hero;
    }
    std::vector<Object*> Bugs()
    {
        std::vector<Object*> out;
        for (Object* o : Entities())
            if (Record(o)->mode == MODE_SKITTER) out.push_back(o);
        return out;
    }
    static SkitterData* Bug(Object* o) { return Skitter_Data(Record(o)); }
};

TEST_F(SkitterTest, ItIsSwitchedOffFarFromPlayerZerosCameraAndBackOnWithItsGroupAndPlace)
{
    Level("", {Item("entity_Bug", V(0, 0, 34))});
    Object* bug = Bugs().at(0);
    EntityRecord* r = Record(bug);
    SkitterData* d = Bug(bug);
    const uint32_t group = PhysBody_GetCollisionGroup(bug->body);
    Step(3);
    EXPECT_FALSE(d->switchedOff) << "40 units and drawn";
    Node_SetFlags(r->animSlots[0].root, NODE_CULLED, 1);
    Step();
    EXPECT_TRUE(d->switchedOff) << "40 units and culled";
    EXPECT_TRUE(Entity_TestAnimFlags(r, 0, SKITTER_SLOT_OFF | ANIMSLOT_PAUSED));
    EXPECT_EQ(PhysBody_GetCollisionGroup(bug->body), SKITTER_OFF_GROUP);
    const Vec3 kept = r->lastPosition;
    Node_SetFlags(r->animSlots[0].root, NODE_CULLED, 0);
    Step();
    EXPECT_FALSE(d->switchedOff);
    EXPECT_EQ(PhysBody_GetCollisionGroup(bug->body), group);
    EXPECT_NEAR(BodyPosition(bug).z, kept.z, 0.05f);
    Place(bug, V(0, 0.5f, 55));  // 61 units from the camera at (0, 3, -6)
    Step();
    EXPECT_TRUE(d->switchedOff) << "always beyond 60 units";
    Step(10);
    EXPECT_NEAR(BodyPosition(bug).z, 55.0f, 0.05f) << "a switched-off body stays where it was";
    // Without a camera node every entity counts as near.
    Viewport_SetCameraFrame(0, nullptr);
    Step();
    EXPECT_FALSE(d->switchedOff);
}

struct FallCase {
    const char* keys;
    bool hidden;
    bool respawnedAtOnce;
};

class SkitterFallTest : public SkitterTest, public ::testing::WithParamInterface<FallCase> {};

TEST_P(SkitterFallTest, AFallWithoutFlightKillsAndThenItHidesOrRespawnsAsConfigured)
{
    const FallCase& c = GetParam();
    Level(std::string(" dieInAirTime = 1\n ClipAllowed = FALSE\n") + c.keys, {Item("entity_Bug", V(3, 0, 3))});
    Object* bug = Bugs().at(0);
    EntityRecord* r = Record(bug);
    Place(bug, V(3, 500, 3));
    Step(40);
    EXPECT_GT(Entity_GetHealth(r), 0.0f);
    r->flags |= ENTITY_TOUCHED;  // a wall: the timer starts again
    Step();
    Step(45);
    EXPECT_GT(Entity_GetHealth(r), 0.0f);
    Step(10);
    EXPECT_EQ((r->flags & ENTITY_FROZEN) != 0, c.hidden);
    if (c.respawnedAtOnce) {
        EXPECT_NEAR(BodyPosition(bug).y, 0.5f, 0.2f);
    }
    if (c.hidden && (Bug(bug)->flags & SKITTER_RESPAWN)) {
        Step(60);
        EXPECT_FALSE(r->flags & ENTITY_FROZEN) << "respawned after aiRespawnTime";
        EXPECT_NEAR(BodyPosition(bug).y, 0.5f, 0.2f);
    }
}

INSTANTIATE_TEST_SUITE_P(Respawns, SkitterFallTest,
                         ::testing::Values(FallCase{"", true, false}, FallCase{" aiRespawn = TRUE\n", false, true},
                                           FallCase{" aiRespawn = TRUE\n aiRespawnTime = 1\n", true, false}));

TEST_F(SkitterTest, ProjectilesHurtByTheWeakAreasFactorAndOnlySpecialDamageHurtsABoss)
{
    const std::string weak = " colAreas {\n  Area0Val1 = 0.5\n  Area0Val2 = 1\n  Area0WeakArea = TRUE\n }\n";
    Object* hero = Level(" stunScore = 3\n dieScore = 9\n" + weak, {Item("entity_Bug", V(3, 0, 3))});
    Object* bug = Bugs().at(0);
    EntityRecord* r = Record(bug);
    Mode_Play(r, SKITTER_STAND);
    SkitterMode_Collision(bug, r, PurposeShot(hero, "DAMAGE", -20.0f), 0);
    EXPECT_EQ(Entity_GetHealth(r), 20.0f) << "30 - 0.5 x 20";
    EXPECT_EQ(Anim(bug), SKITTER_STUNNED);
    EXPECT_EQ(CamRel(hero)->texts[0].value, 3) << "the shooter earns the stun score";
    Mode_Play(r, SKITTER_STAND);
    SkitterMode_Collision(bug, r, PurposeShot(hero, "SWORD", -60.0f), 0);
    EXPECT_EQ(Entity_GetHealth(r), 0.0f);
    EXPECT_EQ(CamRel(hero)->texts[1].value, 9);
    EXPECT_EQ(CamRel(hero)->killCount, 1);

    Bug(bug)->flags |= SKITTER_BOSS;
    r->health = 30.0f;
    Mode_Play(r, SKITTER_STAND);
    SkitterMode_Collision(bug, r, PurposeShot(hero, "DAMAGE", -20.0f), 0);
    SkitterMode_Collision(bug, r, PurposeShot(hero, "SWORD", -20.0f), 0);
    EXPECT_EQ(Entity_GetHealth(r), 30.0f);
    SkitterMode_Collision(bug, r, PurposeShot(hero, "SPECIAL_DAMAGE", -20.0f), 0);
    EXPECT_EQ(Entity_GetHealth(r), 20.0f);
}

TEST_F(SkitterTest, AFightHurtsBothWaysThroughWeakAndDamageAreas)
{
    // The bug bites from every side; the hero's sword hurts it during an attack.
    const std::string bugAreas = " colAreas {\n  Area0Val1 = -10\n  Area0Val2 = 3\n  Area0DamageArea = TRUE\n"
                                 "  Area1Val1 = 1\n  Area1Val2 = 2\n  Area1WeakArea = TRUE\n }\n";
    const std::string heroAreas = " colAreas {\n  Area0Val1 = 1\n  Area0Val2 = 4\n  Area0WeakArea = TRUE\n"
                                  "  Area1Val1 = -15\n  Area1Val2 = 1\n  Area1DamageArea = TRUE\n"
                                  "  Area1ActiveOn0 = 20\n  Area1ActiveOn0RangeEnd = 23\n }\n";
    Object* hero = Level(" stunScore = 5\n dieScore = 50\n" + bugAreas, {Item("entity_Bug", V(0, 0, 1.5f))},
                         " stunDuration = 0.5\n" + heroAreas);
    Object* bug = Bugs().at(0);
    Mode_Play(Record(bug), SKITTER_STAND);
    Place(hero, V(0, 0.5f, 0.6f));
    Step(3);
    EXPECT_LT(Entity_GetHealth(Record(hero)), 100.0f) << "the bite hurts through the weak area";
    EXPECT_EQ(Entity_GetHealth(Record(bug)), 30.0f) << "standing, the hero's damage area is off";
    EXPECT_GT(Length(Bug(bug)->knockVel) + Length(CamRel(hero)->forcedVel), 0.0f);

    Place(hero, V(0, 0.5f, -3));
    Step(40);
    Mode_Play(Record(hero), MCR_CLOSE_ATTACK1);
    Mode_Play(Record(bug), SKITTER_STAND);
    Place(bug, V(0, 0.5f, 1.5f));
    SetVelocity(bug, V(0, 0, 0));
    Bug(bug)->knockVel = V(0, 0, 0);
    Place(hero, V(0, 0.5f, 0.6f));
    Step();
    EXPECT_EQ(Entity_GetHealth(Record(bug)), 15.0f) << "1 x -15 through the bug's weak area";
    EXPECT_EQ(Anim(bug), SKITTER_STUNNED);
}

TEST_F(SkitterTest, AFlyingSkitterClimbsWhileJumpIsHeldAndSinksSlowlyWithoutDyingOfTheFall)
{
    WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Skitter",
                   " totalHealth = 60\n jumpVel = 6\n forwardVelStep = 40\n maxRunSpeed = 5\n maxInAirSpeed = 5\n"
                   " dieInAirTime = 0.5\n flyAllowed = TRUE\n flyVelMax = 3\n flyVelMin = -1\n"
                   " flyVelPerSecWithInput = 10\n flyVelPerSecNoInput = -5\n",
                   "EntityType0 = 1", SkitterAnims());
    Ground();
    Object* bug = StartPlayer();
    Step(10);
    script[0].buttons = SKITTER_BUTTON_JUMP;
    Step(100);
    EXPECT_GT(BodyPosition(bug).y, 5.0f) << "well above a jump's 0.9";
    EXPECT_NEAR(Velocity(bug).y, 3.0f, 1e-3) << "at its highest fly velocity";
    EXPECT_EQ(Anim(bug), SKITTER_FLY);
    script[0].buttons = 0;
    Step(150);
    EXPECT_NEAR(Velocity(bug).y, -1.0f, 1e-3) << "at its lowest";
    EXPECT_GT(BodyPosition(bug).y, 4.0f);
    EXPECT_EQ(Entity_GetHealth(Record(bug)), 60.0f) << "3 s in the air, 2.5 of them sinking";
}

TEST_F(SkitterTest, APlayersSkitterMovesRelativeToTheCameraAttacksAndGivesControlBack)
{
    WriteCharacter("Levels\\Test\\Bug.cfg", "Skitter",
                   " totalHealth = 30\n forwardVelStep = 30\n maxRunSpeed = 4\n maxInAirSpeed = 4\n turnSpeed = 720\n",
                   "EntityType0 = 2", SkitterAnims());
    WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Man_CamRel", kHeroKeys, "EntityTypeControl0 = 2");
    Ground();
    Object* hero = StartPlayer({Item("entity_Bug", V(0, 0, 2))});
    Object* bug = Bugs().at(0);
    Step(20);
    script[0].buttons = MCR_BUTTON_ATTACK;
    Step(20);
    script[0].buttons = 0;
    ASSERT_EQ(Level_GetPlayerEntity(0), bug) << "taken over";
    // The camera looks along +x: forward on the stick goes +x.
    const Vec3 at = V(1, 0, 0), up = V(0, 1, 0);
    Node_SetWorldOrientation(cameraFrame, &at, &up);
    script[0].stickY = 1.0f;
    Step(20);
    EXPECT_GT(Velocity(bug).x, 2.0f);
    EXPECT_LT(std::fabs(Velocity(bug).z), 0.5f);
    script[0].stickY = 0.0f;
    Press(SKITTER_BUTTON_MELEE);
    EXPECT_EQ(Anim(bug), SKITTER_MELEE);
    Step(15);
    Press(SKITTER_BUTTON_RANGE);
    EXPECT_EQ(Anim(bug), SKITTER_RANGE);
    Step(30);
    Press(SKITTER_BUTTON_RETURN);
    EXPECT_EQ(Level_GetPlayerEntity(0), hero) << "control goes back to the hero";
}

}  // namespace

TEST_F(SkitterTest, OnAHillsideItsUpTurnsToTheGround)
{
    // The ground is a ball of radius 100 with its top at the origin.
    Level(
        " orientToColNormal = TRUE\n colOrientMaxUpwardChange = 40\n colOrientSpeed = 10\n ClipAllowed = FALSE\n"
        " noInputDamping = 8, 0, 8\n",
        {Item("entity_Bug", V(20, -1.5f, 0))});
    Object* bug = Bugs().at(0);
    Step(100);
    Vec3 at, up, normal = BodyPosition(bug);
    normal.y += 100.0f;
    ASSERT_EQ(Entity_GetAnimRootOrientation(Record(bug), 0, &at, &up), 1);
    EXPECT_LT(std::acos(Vec3_Dot(&up, &normal) / Length(normal)), 2.0f * 0.0174533f);
}
