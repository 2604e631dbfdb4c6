// A walking player in a level with the real physics engine, driven by
// scripted input: turning round at speed, walls, water, firing, death
// areas, completing a level, a level reload with a shot pending, and every
// mode on bad data.

#include "engine/animset.h"
#include "engine/objecttemplate.h"
#include "game/game_context.h"
#include "game/race_setup.h"
#include "modes_fixture.h"

namespace {

class WalkingLevelTest : public ModesTest {
protected:
    Object* Hero(const std::string& keys = "", std::vector<LwsWriterItem> extra = {}, const std::string& more = "",
                 const std::vector<Event>& events = {}, const std::string& vehicle = "")
    {
        WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Man_CamRel", keys + " maxRunSpeed = 6\n" + kCamRelKeys,
                       vehicle, ManCamRelAnims(), events, more);
        FlatGround();
        Object* hero = StartPlayer(extra);
        Step(20);
        return hero;
    }
    static int ShotsInUse()
    {
        int n = 0;
        for (Object* o : Items(Projectile_GetPool())) {
            const ProjectileRecord* r = Projectile_GetRecord(o);
            n += r && (r->flags & PROJ_IN_USE);
        }
        return n;
    }
};

TEST_F(WalkingLevelTest, TurnedRightRoundAtSpeedItPlaysChangeDirectionButNotWhenWalking)
{
    Object* hero = Hero(
        " changeDirTurnSpeed = 720\n changeDirHighVel = 5\n changeDirValidTurnMade = 120\n"
        " changeDirTimeAfterHighVel = 0.3\n stunPlayerAtRelAngle = 45\n runDamping = 2, 0, 2\n yVelChangePerSec = -2\n");
    script[0].stickY = 1.0f;
    Step(25);
    EXPECT_GT(Velocity(hero).z, 5.0f);
    // Turned right round at speed, it plays "changeDirection" and runs on.
    auto changes = [&](float stick) {  // frames of "changeDirection" in 0.8 s
        script[0].stickY = stick;
        int n = 0;
        for (int i = 0; i < 40; ++i, Step()) n += Anim(hero) == MCR_CHANGE_DIRECTION;
        return n;
    };
    EXPECT_GT(changes(-1.0f), 5);
    EXPECT_EQ(Anim(hero), MCR_RUN);
    EXPECT_LT(Velocity(hero).z, -5.0f);
    script[0].stickY = -0.7f;
    Step(100);
    EXPECT_EQ(changes(0.7f), 0) << "walking slower than changeDirHighVel, it turns round without";
    EXPECT_GT(Velocity(hero).z, 0.5f);
}

// Run into a wall (a fixed ball of radius 20 whose side is 3 ahead), it
// bumps, then pushes against it while pushAllow is on, else runs on the spot.
TEST_F(WalkingLevelTest, AgainstAWallAheadItPushesWhenAllowed)
{
    WriteObject("Levels\\Test\\Wall.cfg",
                "VisualModel = NOVISUAL\n PhysicalModel = SPHERE20\n Mass = 0\n CollisionGroup = 1");
    Object* wall = ObjectTemplate_Load("Levels\\Test\\Wall.cfg", nullptr, objects, 0);
    Object_Sync(wall, OBJECT_SYNC_ALL);
    const Vec3 centre = V(0, 0.5f, 23);
    PhysBody_SetPosition(wall->body, &centre);
    PhysWorld_RegisterBodyEvents(phys, wall->body);
    for (bool allowed : {true, false}) {
        // Only the blow of the run into it bumps, not the pushing.
        Object* hero = Hero(std::string(" stunColVelHor = -50\n") + (allowed ? "" : " pushAllow = FALSE\n"));
        script[0].stickY = 1.0f;
        int pushing = 0;
        for (int i = 0; i < 100; ++i) {
            Step();
            pushing += Anim(hero) == MCR_PUSH;
        }
        EXPECT_EQ(pushing > 20, allowed) << pushing;
        EXPECT_EQ(Anim(hero), allowed ? MCR_PUSH : MCR_RUN);
        EXPECT_NEAR(BodyPosition(hero).z, 2.5f, 0.01f);
        script[0].stickY = 0.0f;
        EntitySystem_Unload(0);
    }
}

TEST_F(WalkingLevelTest, ItWadesInShallowWaterSwimsWhenDeeperAndIsHurtBelowTheDamageDepth)
{
    WriteObject("Levels\\Test\\Pool.cfg", "VisualModel = NOVISUAL\n PhysicalModel = SPHERE40\n Mass = 0\n"
                                          " CollisionGroup = 1\n Constructor = Entity_Water_Constructor\n"
                                          " Destructor = Entity_Water_Destructor");
    Object* hero = Hero(" waterWadeHeight = 0.2\n waterDamageHeight = 0.5\n waterDamagePerSec = 10\n", {},
                        "Water {\n BuoyancyVelStep = 20\n BuoyancyVelMax = 2\n BuoyancySettleY = 0.5\n}\n", {},
                        "VehicleHeight = 1");
    EntityRecord* r = Record(hero);
    script[0].stickY = 1.0f;
    Step(15);
    EXPECT_EQ(Anim(hero), MCR_RUN) << "dry ground";
    Object* pool = ObjectTemplate_Load("Levels\\Test\\Pool.cfg", nullptr, objects, 0);
    ASSERT_NE(pool, nullptr);
    Vec3 surface = BodyPosition(hero);
    surface.y = 0.8f;  // 0.3 deep at the body's centre
    PhysBody_SetPosition(pool->body, &surface);
    Step(10);
    EXPECT_NEAR(r->waterDepth, 0.3f, 0.15f);
    EXPECT_EQ(Anim(hero), MCR_WADING);
    EXPECT_EQ(Entity_GetHealth(r), 100.0f) << "not deeper than 0.5 x VehicleHeight";

    surface = BodyPosition(hero);
    surface.y = 2.5f;
    PhysBody_SetPosition(pool->body, &surface);
    Step(25);
    EXPECT_EQ(Anim(hero), MCR_SWIM_FORWARD) << "lifted off the ground in deep water";
    EXPECT_LT(Entity_GetHealth(r), 98.0f);
    EXPECT_GT(Entity_GetHealth(r), 85.0f) << "about 10 per second";
    // The overlap ends before the world goes: the physics world's teardown
    // would read the pair event of a phantom body it has already freed.
    const Vec3 away = V(500, -500, 500);
    PhysBody_SetPosition(pool->body, &away);
    Step(2);
}

// "ProjType" events of the fire animation and of the second swipe (29 in
// the written list): firing spends the current weapon's shots, a swipe
// pickup's swipes (two of variant 1 with weapon 1) spend that weapon's.
TEST_F(WalkingLevelTest, TheProjTypeEventsOfFireAndSwipeAnimationsLaunchTheirWeaponsShots)
{
    WriteShot("Shots\\Bolt.cfg", "STRAIGHT", "U32Val0 = 4");
    WriteProp("Bag", "StringVal0 = PICKUP\n FPVal1 = 10\n FPVal2 = 1\n FPVal3 = 2\n FPVal4 = 1\n BoolVal10 = TRUE");
    PlaceProps({Item("Bag", V(0, 0.5f, 5))});
    Object* hero = Hero(
        " projectiles {\n  ProjType0Config = Shots\\Bolt.cfg\n  ProjType0FiringDelay = 0\n  ProjType0Ammo = 9\n"
        "  ProjType1Config = Shots\\Bolt.cfg\n  ProjType1FiringDelay = 0\n  ProjType1Ammo = 9\n }\n",
        {}, "", {{"ProjType", (uint32_t)MCR_FIRE, 0.1f, 0.15f}, {"ProjType", 29, 0.1f, 0.15f}});
    WeaponList* weapons = &CamRel(hero)->weapons;
    EXPECT_EQ(ShotsInUse(), 0);
    Press(MCR_BUTTON_FIRE);
    EXPECT_EQ(Anim(hero), MCR_FIRE);
    EXPECT_EQ(ShotsInUse(), 0);
    Step(10);
    EXPECT_EQ(ShotsInUse(), 1);
    Step(20);
    EXPECT_EQ(Anim(hero), MCR_STAND) << "fire ends in stand";
    EXPECT_EQ(ProjType_GetAmmo(weapons, 0), 8);
    Place(hero, V(0, 0.5f, 5));
    Step(2);
    for (int swipe = 1; swipe <= 2; ++swipe) {
        Press(MCR_BUTTON_ATTACK);
        EXPECT_EQ(Anim(hero), MCR_SWIPE2);
        Step(20);
        EXPECT_EQ(Anim(hero), MCR_STAND);
        EXPECT_EQ(ProjType_GetAmmo(weapons, 1), 9 - swipe);
    }
    EXPECT_EQ(ProjType_GetAmmo(weapons, 0), 8);
    Press(MCR_BUTTON_ATTACK);
    EXPECT_EQ(Anim(hero), MCR_CLOSE_ATTACK1) << "the swipes are spent";
}

// Death areas cost a life and respawn at the last checkpoint, kill areas at
// once; then two completion pickups, the end trigger and the end area's last
// animation complete the level.
TEST_F(WalkingLevelTest, DeathAreasCostALifeAndTwoPickupsTheEndTriggerAndTheLastAnimationCompleteTheLevel)
{
    WriteProp("Flag", "StringVal0 = CHECKPOINT", 3);
    WriteProp("Pit", "StringVal0 = DEATHAREA\n FPVal1 = 500\n FPVal2 = 1");
    WriteProp("Void", "StringVal0 = KILLAREA");
    WriteProp("End", "StringVal0 = ENDAREA\n S32Val0 = 32", 8);
    WriteProp("Gem", "StringVal0 = PICKUP\n FPVal1 = 4\n BoolVal10 = TRUE");
    WriteProp("Gate",
              "StringVal0 = PICKUP\n StringVal1 = ENDAREATRIGGER\n FPVal1 = 6\n BoolVal0 = TRUE\n"
              " BoolVal10 = TRUE");
    PlaceProps({Item("Flag", V(10, 0.5f, 10)), Item("Pit", V(-10, 0.5f, 10)), Item("Void", V(20, 0.5f, -10)),
                Item("End", V(0, 0.5f, 40)), Item("Gem", V(5.2f, 0.5f, 5)), Item("Gem", V(4.8f, 0.5f, 5)),
                Item("Gate", V(-5, 0.5f, 5))});
    Level_SetGameRule(RULE_SCORE_PICKUPS);
    Level_SetLevelToUnlock(7);
    Object* hero = Hero(" initNumLifes = 5\n levelCompPickupTotal = 2\n");
    Place(hero, V(10, 0.5f, 10));
    Step(3);
    Place(hero, V(-10, 0.5f, 10));
    Step();
    EXPECT_EQ(Entity_GetHealth(Record(hero)), 0.0f);
    Step(30);
    EXPECT_EQ(d->lives, 4);
    EXPECT_NEAR(BodyPosition(hero).x, 10.0f, 0.2f) << "back at the checkpoint";
    EXPECT_EQ(Entity_GetHealth(Record(hero)), 100.0f);
    Place(hero, V(20, 0.5f, -10));
    Step();
    EXPECT_EQ(Anim(hero), MCR_DIE_IN_AIR);
    EXPECT_TRUE(d->flags & MCR_KILLED_BY_AREA);
    Step();
    EXPECT_EQ(d->lives, 3) << "the next rules update respawns without waiting for the animation";
    EXPECT_NEAR(BodyPosition(hero).x, 10.0f, 0.2f);
    EXPECT_FALSE(d->flags & MCR_KILLED_BY_AREA);

    Object* gate = PropAt(V(-5, 0.5f, 5));
    ASSERT_NE(d->levelEnd, nullptr);
    Place(hero, V(5, 0.5f, 5));  // both gems in one frame: the second during the first transition
    Step();
    EXPECT_EQ(d->levelCompCollected, 2);
    for (int i = 0; i < 100 && !HitModeObject_TestState(gate, HITSTATE_ACTIVE); ++i) Step();
    ASSERT_TRUE(HitModeObject_TestState(gate, HITSTATE_ACTIVE)) << "completion activates the end trigger";
    EXPECT_EQ(HitModeObject_GetAnimIndex(d->levelEnd), 5) << "completing; 6 would follow";
    EXPECT_TRUE(g_pages.empty());
    // Points still in flight count at the end, held within the int32 range.
    d->score = INT32_MAX - 50;
    ManCamRel_AddFloatingPoints(d, 100, hero);
    Place(hero, V(-5, 0.5f, 5));
    Step();
    EXPECT_EQ(HitModeObject_GetAnimIndex(d->levelEnd), 7) << "the trigger plays the last animation";
    EXPECT_TRUE(d->texts[0].flags & MCR_TEXT_ACTIVE) << "still in flight";
    for (int i = 0; i < 30 && g_pages.empty(); ++i) Step();
    ASSERT_EQ(g_pages.size(), 1u);
    EXPECT_EQ(g_pages[0], "unlockedTimeAttack");
    EXPECT_TRUE(Progress_TestFlags(7, PROGRESS_BEATTIME_RULE));
    EXPECT_EQ(Progress_GetPlayerValue(0, 7), INT32_MAX);
    Step();
    EXPECT_TRUE(Level_TestFlags(LEVEL_ENDED));
    EXPECT_FALSE(Level_TestFlags(LEVEL_QUIT));
}

TEST_F(WalkingLevelTest, AReloadWithAShotPendingAndATargetPlaysOnInTheNewLevel)
{
    WriteShot("Shots\\Blade.cfg", "FRAME_FOLLOW", "", "");
    WriteCharacter("Levels\\Test\\Frog.cfg", "Man", " forwardVelStep = 1\n");
    Object* hero = Hero(" projectiles {\n  ProjType0Config = Shots\\Blade.cfg\n  ProjType0FiringDelay = 0\n }\n",
                        {Item("entity_Frog", V(0, 0, 5))});
    EntityRecord* r = Record(hero);
    Object* frog = nullptr;
    for (Object* o : Entities())
        if (o != hero) frog = o;
    d->target = frog;
    ManCamRelMode_Message(Entity_GetAnimSlotValue(r, 0), "ProjType", r->animSlots[0].root, 0, 0.0f, 0.0f);
    ASSERT_NE(d->pending[0].projectile, nullptr);
    EXPECT_EQ(ShotsInUse(), 1);

    ReloadLevel("Levels\\Test\\Level.lws");
    Object* again = Level_GetPlayerEntity(0);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Record(again), r) << "the player's record survives";
    EXPECT_EQ(d->pending[0].projectile, nullptr);
    EXPECT_EQ(d->target, nullptr);
    FlatGround();
    Step(20);
    script[0].stickY = 1.0f;
    Step(30);
    EXPECT_GT(Velocity(again).z, 3.0f) << "it plays on";
}

}  // namespace
