// The Skitter AI: vision, chasing and attacking, firing arcs, speed caps,
// defending the origin and the stuck respawn.
#include <cmath>

#include "modes_fixture.h"

using namespace modestest;
using entitytest::Item;
using entitytest::V;

namespace {

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
        WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Man_CamRel",
                       " forwardVelStep = 64\n maxRunSpeed = 10\n jumpTimeSinceGroundAllow = 0.1\n dieInAirTime = 50\n");
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
    SkitterData* Data() { return Skitter_Data(Record(bug)); }
    Object* bug = nullptr;
};

TEST_F(SkitterAiTest, ItSeesWithinItsRadiusAndArcAndWhenAlertOrIdleWithinTheirs)
{
    Object* hero = Level(
        " aiVisionRadius = 10\n aiVisionAlertRadius = 12\n aiVisionAlertDuration = 1\n aiVisionYArc = 30\n"
        " aiVisionIdleYArc = 180\n");
    struct Look {
        int32_t anim;
        float heroZ;
        bool away;  // the hero out of sight for 1.2 s first
        bool seen;
    } looks[] = {
        {4, 10.0f, false, false},             // exactly at the radius
        {4, 9.9f, false, true},               // seen: alert ...
        {4, 11.0f, false, true},              // ... out to the alert radius
        {4, 11.0f, true, false},              // until the alert is over
        {4, -8.0f, false, false},             // behind: outside its 30-degree arc
        {SKITTER_IDLE, -8.0f, false, true},   // idle: all round ...
        {SKITTER_IDLE, -11.0f, true, false},  // ... at the normal radius
    };
    for (const Look& l : looks) {
        if (l.away) {
            Place(hero, V(0, 0.5f, 40));
            Step(60);
        }
        Place(bug, V(0, 0.5f, 0));
        Place(hero, V(0, 0.5f, l.heroZ));
        Mode_Play(Record(bug), l.anim);
        EXPECT_NEAR(Decide().stickY, l.seen ? (l.heroZ > 0 ? 1.0f : -1.0f) : 0.0f, 1e-3f) << l.anim << " " << l.heroZ;
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
    struct Case {
        const char* outside;
        float heroZ;
        bool fires;
        float stickY;
    } cases[] = {
        {"TRUE", 8.0f, true, 0.0f},    // beyond the follow radius: shot at from home
        {"FALSE", 8.0f, false, 0.0f},  // ignored
        {"TRUE", 2.5f, true, 1.0f},    // within it: approached as well
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outside + std::to_string(c.heroZ));
        Level(std::string(
                  " aiVisionRadius = 20\n aiDefendOrigin = TRUE\n aiFollowRadius = 3\n aiRangeAttackMaxDist = 12\n"
                  " aiVisionOutsideDefence = ") +
                  c.outside + "\n",
              V(0, 0, 0), V(0, 0, c.heroZ));
        Mode_Play(Record(bug), 4);
        const PlayerInputRecord in = Decide();
        EXPECT_EQ((in.buttons & SKITTER_BUTTON_RANGE) != 0, c.fires);
        EXPECT_EQ(in.stickX, 0.0f);
        EXPECT_NEAR(in.stickY, c.stickY, 1e-3f);
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
    struct Case {
        const char* keys;
        float rise;
        Vec3 heroAt;
    } cases[] = {
        {"", 0.0f, V(0, 0, -40)},
        {" flyAllowed = TRUE\n forwardVelStepInAir = 30\n jumpVel = 4\n flyVelMax = 4\n flyVelMin = -4\n "
         "aiFlyVelDistRelSpeed = 2\n",
         6.0f, V(0, 0, -40)},
        {" aiAttackOnPath = TRUE\n aiRangeAttackMaxDist = 12\n", 0.0f, V(6, 0, 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        WriteAnimSet("Routes\\Bug", "ANIM", {{"a", 5.0f, false}});
        LwsWriterItem route = Item("Route", V(0, 0, 0));
        LwsWriterKey end;
        end.time = 5.0f;
        end.position[1] = c.rise;
        end.position[2] = 12.0f;
        route.keys.push_back(end);
        WriteScene("Routes\\Bug_a.lws", 5.0f, {route});
        Level(std::string(" aiRoutesAnim = Routes\\Bug\n aiAllowCatchUpDist = 3\n aiVisionRadius = 10\n") + c.keys,
              V(0, 0, 0), c.heroAt);
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
        EXPECT_NEAR(now.y, start.y + c.rise, 1.0f);
        EXPECT_EQ(fired, c.heroAt.z > -40.0f);
        EntitySystem_Unload(0);
    }
}

TEST_F(SkitterAiTest, ARoutelessSkitterStuckAwayFromHomeRespawnsAfterTenSecondsButNotAtHome)
{
    struct Case {
        const char* keys;
        Vec3 at;
        bool respawns;
    } cases[] = {
        {" aiDefendOrigin = TRUE\n", V(8, 0.5f, 0), true},  // cannot get nearer: it cannot move
        {"", V(8, 0.5f, 0), true},                          // left elsewhere after a chase
        {"", V(0, 0.5f, 0), false},                         // at home: no progress to make
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        Level(std::string(" aiVisionRadius = 2\n forwardVelStep = 0\n") + c.keys);
        EntityRecord* r = Record(bug);
        Place(bug, c.at);
        Step(400);
        r->flags |= ENTITY_RESPAWNED;
        Step(150);
        EXPECT_EQ((r->flags & ENTITY_RESPAWNED) == 0, c.respawns);
        if (c.respawns) {
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
    ASSERT_EQ(Data()->speedCount, 3u);
    Mode_Play(Record(bug), 5);
    Decide();
    EXPECT_EQ(Data()->speedCap, 3.0f);
    Mode_Play(Record(bug), 4);
    Decide();
    EXPECT_EQ(Data()->speedCap, 7.0f) << "entry 2 counts only when attacking";
}
