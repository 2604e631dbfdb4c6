// Skitter: clipping by distance from the first view's camera, death by falling
// and respawn, projectiles and bosses, fights with a Man_CamRel player, the
// animation chains, a Skitter played by a player; and its AI: vision,
// chasing and attacking, firing arcs, speed caps, defending the origin,
// routes and the stuck respawn.

#include "modes_fixture.h"

namespace {

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
    Object* Level(const std::string& bugKeys, std::vector<LwsWriterItem> bugs, const std::string& heroKeys = "")
    {
        WriteCharacter("Levels\\Test\\Bug.cfg", "Skitter",
                       bugKeys + " totalHealth = 30\n forwardVelStep = 30\n maxRunSpeed = 4\n maxInAirSpeed = 4\n",
                       "EntityType0 = 2", SkitterAnims());
        WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Man_CamRel", heroKeys + kCamRelKeys);
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

TEST_F(SkitterTest, ItIsSwitchedOffFarFromTheFirstViewsCameraAndBackOnWithItsGroupAndPlace)
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
    // The camera is the first view's, whichever slot plays in it: the one human on slot 1.
    Player_SetViewportIndex(0, -1);
    Player_SetViewportIndex(1, 0);
    Place(bug, V(0, 0.5f, 55));  // 61 units from the camera at (0, 3, -6)
    Step();
    EXPECT_TRUE(d->switchedOff) << "always beyond 60 units";
    Step(10);
    EXPECT_NEAR(BodyPosition(bug).z, 55.0f, 0.05f) << "a switched-off body stays where it was";
    Viewport_SetCameraFrame(1, nullptr);
    Step();
    EXPECT_FALSE(d->switchedOff) << "without a camera node every entity counts as near";
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
    EXPECT_EQ(std::make_tuple(Entity_GetHealth(r), CamRel(hero)->texts[1].value, CamRel(hero)->killCount),
              std::make_tuple(0.0f, 9, 1));

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
    WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Man_CamRel", kCamRelKeys, "EntityTypeControl0 = 2");
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

class SkitterAiTest : public ModesTest {
protected:
    Object* Level(const std::string& bugKeys, Vec3 bugAt = V(0, 0, 0), Vec3 heroAt = V(0, 0, 30))
    {
        WriteCharacter("Levels\\Test\\Bug.cfg", "Skitter",
                       bugKeys +
                           " totalHealth = 30\n forwardVelStep = 30\n maxRunSpeed = 4\n maxInAirSpeed = 4\n"
                       " aiAttackSpeed = 4\n turnSpeed = 360\n ClipAllowed = FALSE\n",
                       "EntityType0 = 2",
                       {{"idle", 1.0f, true}, {"stand", 1.0f, true}, {"walk", 1.0f, true}, {"meleeAttack", 0.3f, false},
                        {"rangeAttack", 0.3f, false}, {"bombExplode", 0.2f, false}, {"die", 0.3f, false}});
        WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Man_CamRel", kCamRelKeys);
        FlatGround();
        Object* hero = StartPlayer({Item("entity_Bug", bugAt)});
        for (Object* o : Entities())
            if (Record(o)->mode == MODE_SKITTER) bug = o;
        Place(hero, V(heroAt.x, 0.5f, heroAt.z));
        Step(2);
        return hero;
    }
    // One decision of the route slot, outside a frame.
    PlayerInputRecord Decide()
    {
        PlayerInputRecord input{};
        SkitterMode_Route(bug, Record(bug), &input);
        return input;
    }
    Object* bug = nullptr;
};

TEST_F(SkitterAiTest, ItSeesWithinItsRadiusAndArcAndWhenAlertOrIdleWithinTheirs)
{
    Object* hero = Level(
        " aiVisionRadius = 10\n aiVisionAlertRadius = 12\n aiVisionAlertDuration = 1\n aiVisionYArc = 30\n"
        " aiVisionIdleYArc = 180\n");
    // The animation playing, the hero's z, the hero out of sight for 1.2 s first; seen.
    const std::tuple<int32_t, float, bool, bool> looks[] = {
        {4, 10.0f, false, false},             // exactly at the radius
        {4, 9.9f, false, true},               // seen: alert ...
        {4, 11.0f, false, true},              // ... out to the alert radius
        {4, 11.0f, true, false},              // until the alert is over
        {4, -8.0f, false, false},             // behind: outside its 30-degree arc
        {SKITTER_IDLE, -8.0f, false, true},   // idle: all round ...
        {SKITTER_IDLE, -11.0f, true, false},  // ... at the normal radius
    };
    for (const auto& [anim, heroZ, away, seen] : looks) {
        if (away) {
            Place(hero, V(0, 0.5f, 40));
            Step(60);
        }
        Place(bug, V(0, 0.5f, 0));
        Place(hero, V(0, 0.5f, heroZ));
        Mode_Play(Record(bug), anim);
        EXPECT_NEAR(Decide().stickY, seen ? (heroZ > 0 ? 1.0f : -1.0f) : 0.0f, 1e-3f) << anim << " " << heroZ;
    }
}

TEST_F(SkitterAiTest, ItChasesAndBitesWithinMeleeRangeAndFiresOnlyInsideItsArcs)
{
    Object* hero = Level(" aiVisionRadius = 20\n aiMeleeAttackMaxDist = 1.6\n aiRangeAttackMaxDist = 12\n"
                         " aiRangeAttackMinDist = 6\n aiRangeAttackYFiringArc = 20\n aiAttackMinDist = 1.2\n",
                         V(0, 0, 0), V(0, 0, 10));
    Mode_Play(Record(bug), 4);
    PlayerInputRecord in = Decide();
    EXPECT_TRUE(in.buttons & SKITTER_BUTTON_RANGE) << "10 ahead: inside the arc and the range";
    EXPECT_GT(in.stickY, 0.9f) << "towards the target in world directions";
    Place(hero, V(8, 0.5f, 8));
    in = Decide();
    EXPECT_FALSE(in.buttons & SKITTER_BUTTON_RANGE) << "45 degrees off its facing";
    Place(hero, V(0, 0.5f, 10));
    int frames = 0;
    auto gap = [&] {
        Vec3 a = BodyPosition(bug), b = BodyPosition(hero);
        return Vec3_Distance(&a, &b);
    };
    while (gap() > 1.55f && frames < 300) {
        Step();
        frames++;
    }
    EXPECT_LT(frames, 300) << "it closes in";
    Step(3);
    EXPECT_EQ(Anim(bug), SKITTER_MELEE);
}

TEST_F(SkitterAiTest, ADefenderIgnoresATargetBeyondItsFollowRadiusUnlessItShootsOutsideItsDefence)
{
    const std::tuple<const char*, float, bool, float> cases[] = {
        // outside its defence, hero z, fires, stick
        {"TRUE", 8.0f, true, 0.0f},    // beyond the follow radius: shot at from home
        {"FALSE", 8.0f, false, 0.0f},  // ignored
        {"TRUE", 2.5f, true, 1.0f},    // within it: approached as well
    };
    for (auto [outside, heroZ, fires, stickY] : cases) {
        SCOPED_TRACE(outside + std::to_string(heroZ));
        Level(std::string(
                  " aiVisionRadius = 20\n aiDefendOrigin = TRUE\n aiFollowRadius = 3\n aiRangeAttackMaxDist = 12\n"
                  " aiVisionOutsideDefence = ") +
                  outside + "\n",
              V(0, 0, 0), V(0, 0, heroZ));
        Mode_Play(Record(bug), 4);
        const PlayerInputRecord in = Decide();
        EXPECT_EQ((in.buttons & SKITTER_BUTTON_RANGE) != 0, fires);
        EXPECT_EQ(in.stickX, 0.0f);
        EXPECT_NEAR(in.stickY, stickY, 1e-3f);
        EntitySystem_Unload(0);
    }
}

TEST_F(SkitterAiTest, ABombSkitterExplodesOnSightAndIsGone)
{
    Object* hero = Level(" aiVisionRadius = 10\n aiBombType = TRUE\n aiMeleeAttackMaxDist = 3\n");
    EntityRecord* r = Record(bug);
    Mode_Play(r, 4);
    Step(10);
    EXPECT_EQ(Anim(bug), 4);
    Place(hero, V(0, 0.5f, 2));
    Step();
    EXPECT_EQ(Anim(bug), SKITTER_BOMB) << "no bite: it explodes";
    EXPECT_GT(Entity_GetHealth(r), 0.0f);
    Step(40);
    EXPECT_EQ(Entity_GetHealth(r), 0.0f);
    EXPECT_TRUE(r->flags & ENTITY_FROZEN) << "died and hidden";
}

// With nobody in sight it walks its route: an item "Route" going 12 units
// ahead in 5 s, from where the Skitter stands (and rising 6 for a flier).
// One attacking on its path keeps to it and shoots from there.
TEST_F(SkitterAiTest, WithThePlayerAwayItFollowsItsRoute)
{
    const std::tuple<const char*, float, Vec3> cases[] = {
        // keys, rise of the route, hero
        {"", 0.0f, V(0, 0, -40)},
        {" flyAllowed = TRUE\n forwardVelStepInAir = 30\n jumpVel = 4\n flyVelMax = 4\n flyVelMin = -4\n "
         "aiFlyVelDistRelSpeed = 2\n",
         6.0f, V(0, 0, -40)},
        {" aiAttackOnPath = TRUE\n aiRangeAttackMaxDist = 12\n", 0.0f, V(6, 0, 3)},
    };
    for (auto [keys, rise, heroAt] : cases) {
        SCOPED_TRACE(keys);
        WriteAnimSet("Routes\\Bug", "ANIM", {{"a", 5.0f, false}});
        LwsWriterItem route = Item("Route", V(0, 0, 0));
        LwsWriterKey end;
        end.time = 5.0f;
        end.position[1] = rise;
        end.position[2] = 12.0f;
        route.keys.push_back(end);
        WriteScene("Routes\\Bug_a.lws", 5.0f, {route});
        Level(std::string(" aiRoutesAnim = Routes\\Bug\n aiAllowCatchUpDist = 3\n aiVisionRadius = 10\n") + keys,
              V(0, 0, 0), heroAt);
        ASSERT_TRUE(Record(bug)->flags & ENTITY_ROUTE_DRIVEN);
        const Vec3 start = Mode_BodyPosition(bug);
        bool fired = false;
        for (int i = 0; i < 400; ++i) {  // 8 s: 3 s at the end
            Step();
            fired |= Anim(bug) == SKITTER_RANGE;
        }
        const Vec3 now = Mode_BodyPosition(bug);
        EXPECT_GT(now.z - start.z, 9.0f) << "it walked the route";
        EXPECT_NEAR(now.x, start.x, 1.0f);
        EXPECT_NEAR(now.y, start.y + rise, 1.0f);
        EXPECT_EQ(fired, heroAt.z > -40.0f);
        EntitySystem_Unload(0);
    }
}

TEST_F(SkitterAiTest, ARoutelessSkitterStuckAwayFromHomeRespawnsAfterTenSecondsButNotAtHome)
{
    const std::tuple<const char*, Vec3, bool> cases[] = {
        // keys, place, respawns
        {" aiDefendOrigin = TRUE\n", V(8, 0.5f, 0), true},  // cannot get nearer: it cannot move
        {"", V(8, 0.5f, 0), true},                          // left elsewhere after a chase
        {"", V(0, 0.5f, 0), false},                         // at home: no progress to make
    };
    for (auto [keys, at, respawns] : cases) {
        SCOPED_TRACE(keys);
        Level(std::string(" aiVisionRadius = 2\n forwardVelStep = 0\n") + keys);
        EntityRecord* r = Record(bug);
        Place(bug, at);
        Step(400);
        r->flags |= ENTITY_RESPAWNED;
        Step(150);
        EXPECT_EQ((r->flags & ENTITY_RESPAWNED) == 0, respawns);
        if (respawns) {
            EXPECT_LT(std::fabs(BodyPosition(bug).x), 0.1f);
        }
        EntitySystem_Unload(0);
    }
}

}  // namespace

TEST_F(SkitterAiTest, TheSpeedCapComesFromTheLastMatchingEntryForTheAnimation)
{
    Level(" aiVisionRadius = 1\n aiNonAttackSpeedMax = 7\n aiSpeed0 = 2\n aiSpeed0AnimNum = 5\n"
          " aiSpeed0OnNonAttack = TRUE\n aiSpeed1 = 3\n aiSpeed1AnimNum = 5\n aiSpeed1OnNonAttack = TRUE\n"
          " aiSpeed2 = 9\n aiSpeed2AnimNum = 4\n aiSpeed2OnAttack = TRUE\n");
    SkitterData* d = Skitter_Data(Record(bug));
    ASSERT_EQ(d->speedCount, 3u);
    Mode_Play(Record(bug), 5);
    Decide();
    EXPECT_EQ(d->speedCap, 3.0f);
    Mode_Play(Record(bug), 4);
    Decide();
    EXPECT_EQ(d->speedCap, 7.0f) << "entry 2 counts only when attacking";
}
