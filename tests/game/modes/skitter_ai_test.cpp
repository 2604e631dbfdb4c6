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
                        {"rangeAttack", 0.3f, false}, {"die", 0.3f, false}});
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

TEST_F(SkitterAiTest, ATargetExactlyAtTheVisionRadiusIsNotSeen)
{
    Object* hero = Level(" aiVisionRadius = 10\n");
    Mode_Play(Record(bug), 4);
    Place(hero, V(0, 0.5f, 10.0f));
    Place(bug, V(0, 0.5f, 0));
    Decide();
    EXPECT_EQ(Data()->target, nullptr);
    Place(hero, V(0, 0.5f, 9.9f));
    Decide();
    EXPECT_EQ(Data()->target, hero);
}

TEST_F(SkitterAiTest, AnIdleSkitterKeepsItsRadiusWithoutAnIdleRadiusButUsesTheIdleArcs)
{
    Object* hero = Level(" aiVisionRadius = 10\n aiVisionYArc = 30\n aiVisionIdleYArc = 180\n", V(0, 0, 0), V(0, 0, -8));
    Mode_Play(Record(bug), 4);  // awake: the normal arc of 30 degrees
    Decide();
    EXPECT_EQ(Data()->target, nullptr) << "behind it";
    Mode_Play(Record(bug), SKITTER_IDLE);
    Decide();
    EXPECT_EQ(Data()->target, hero) << "idle: all round, at the normal radius";
    Place(hero, V(0, 0.5f, -11));
    Decide();
    EXPECT_EQ(Data()->target, nullptr);
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

TEST_F(SkitterAiTest, ADefenderReturnsHomeAndFacesItsStart)
{
    Level(" aiVisionRadius = 2\n aiDefendOrigin = TRUE\n aiDefenceNoEnemyDist = 1\n aiNonAttackSpeedMax = 4\n",
          V(0, 0, 0));
    Mode_Play(Record(bug), 4);
    Place(bug, V(6, 0.5f, 0));
    Step(150);
    const Vec3 p = BodyPosition(bug);
    EXPECT_LT(p.x * p.x + p.z * p.z, 1.5f) << "back within its defence distance";
}

TEST_F(SkitterAiTest, AnOutsideDefenderShootsATargetBeyondItsFollowRadiusWithoutApproaching)
{
    Level(
        " aiVisionRadius = 20\n aiDefendOrigin = TRUE\n aiVisionOutsideDefence = TRUE\n aiFollowRadius = 3\n"
        " aiRangeAttackMaxDist = 12\n",
        V(0, 0, 0), V(0, 0, 8));
    Mode_Play(Record(bug), 4);
    const PlayerInputRecord in = Decide();
    EXPECT_TRUE(in.buttons & SKITTER_BUTTON_RANGE);
    EXPECT_EQ(in.stickX, 0.0f);
    EXPECT_EQ(in.stickY, 0.0f) << "it stays at home";
}

// With nobody in sight it walks its route: an item "Route" going 12 units
// ahead in 5 s, from where the Skitter stands.
TEST_F(SkitterAiTest, WithThePlayerAwayItFollowsItsRoute)
{
    WriteAnimSet("Routes\\Bug", "ANIM", {{"a", 5.0f, false}});
    LwsWriterItem route = Item("Route", V(0, 0, 0));
    LwsWriterKey end;
    end.time = 5.0f;
    end.position[2] = 12.0f;
    route.keys.push_back(end);
    WriteScene("Routes\\Bug_a.lws", 5.0f, {route});
    Level(" aiRoutesAnim = Routes\\Bug\n aiAllowCatchUpDist = 3\n aiVisionRadius = 10\n", V(0, 0, 0), V(0, 0, -40));
    ASSERT_TRUE(Record(bug)->flags & ENTITY_ROUTE_DRIVEN);
    const Vec3 start = Mode_BodyPosition(bug);
    Step(300);  // 6 s
    const Vec3 now = Mode_BodyPosition(bug);
    EXPECT_EQ(Data()->target, nullptr);
    EXPECT_GT(now.z - start.z, 9.0f) << "it walked the route";
    EXPECT_NEAR(now.x, start.x, 1.0f);
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
