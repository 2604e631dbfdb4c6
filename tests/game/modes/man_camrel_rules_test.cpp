// Man_CamRel's rules slot: time limits and best scores, floating points,
// level completion, lives, landing and falling, skids, animation speed,
// forced velocities, the target list and the camera pitch.
#include <cmath>

#include "engine/animset.h"
#include "engine/font.h"
#include "engine/physray.h"
#include "game/game_context.h"
#include "modes_fixture.h"

using namespace modestest;
using entitytest::Item;
using entitytest::V;

namespace {

class ManCamRelRulesTest : public ModesTest {
protected:
    Object* Hero(const std::string& controlData = "", std::vector<LwsWriterItem> extra = {})
    {
        return CamRelHero(controlData + " maxRunSpeed = 100\n", extra);
    }
    std::string LastPage() const { return g_pages.empty() ? "" : g_pages.back(); }
};

TEST_F(ManCamRelRulesTest, CountDownRecordsBestScoresAndComparesThemUnsigned)
{
    Level_SetGameRule(RULE_COUNTDOWN);
    Level_SetLevelToUnlock(3);
    Level_SetTimeAllowance(100.0f);
    Hero(" dieInAirTime = 50\n");
    EXPECT_TRUE(g_pages.empty());

    struct Case {
        int32_t best, score;
        const char* page;
        int32_t stored;
        const char* entries;
    } cases[] = {
        {0, 0, "newBestScore", 0, "newBestScore.bestscore=0"},  // a best of 0 records even 0
        {50, 70, "newBestScore", 70, "newBestScore.bestscore=70"},
        {70, 20, "notBeatenTopScore", 70, "notBeatenTopScore.bestscore=70|notBeatenTopScore.attemptscore=20"},
        {-5, 10, "notBeatenTopScore", -5, "notBeatenTopScore.bestscore=-5|notBeatenTopScore.attemptscore=10"},
    };
    for (const Case& c : cases) {
        Progress_SetPlayerValue(0, 3, c.best);
        d->score = c.score;
        g_pages.clear();
        g_entries.clear();
        Level_SetClock2(100.0f);
        Step();
        ASSERT_FALSE(g_pages.empty()) << c.best;
        EXPECT_EQ(LastPage(), c.page) << c.best;
        EXPECT_EQ(Progress_GetPlayerValue(0, 3), c.stored) << c.best;
        std::string entries;
        for (const std::string& e : g_entries) entries += (entries.empty() ? "" : "|") + e;
        EXPECT_EQ(entries, c.entries);
    }
    // A missing page of a countdown's end leaves the level as a completion.
    g_missingPages = {"notBeatenTopScore"};
    Step();
    EXPECT_TRUE(Level_TestFlags(LEVEL_ENDED));
    EXPECT_FALSE(Level_TestFlags(LEVEL_QUIT));

    // Under beatTime the time-out page opens; without it the level is lost.
    Level_SetFlags(LEVEL_ENDED, 0);
    Level_SetGameRule(RULE_BEATTIME);
    g_pages.clear();
    Step();
    EXPECT_EQ(LastPage(), "timeOver");
    g_missingPages = {"timeOver"};
    Step();
    EXPECT_TRUE(Level_TestFlags(LEVEL_ENDED) && Level_TestFlags(LEVEL_QUIT));
}

TEST_F(ManCamRelRulesTest, TheLastLifeOpensTheDieMenuAndWithoutItTheLevelIsLost)
{
    Object* hero = Hero(" dieInAirTime = 50\n initNumLifes = 1\n");
    EXPECT_EQ(d->lives, 1);
    Entity_SetHealth(Record(hero), 0.0f, 0.0f);
    Step(30);
    EXPECT_EQ(d->lives, 0) << "a death with lives left respawns with one less";
    EXPECT_GT(Entity_GetHealth(Record(hero)), 0.0f);
    EXPECT_TRUE(g_pages.empty());
    Entity_SetHealth(Record(hero), 0.0f, 0.0f);
    Step(30);
    ASSERT_FALSE(g_pages.empty());
    EXPECT_EQ(g_pages[0], "dieMenu");
    EXPECT_FALSE(Level_TestFlags(LEVEL_ENDED));
    g_hasMenu = false;
    Step(30);
    EXPECT_TRUE(Level_TestFlags(LEVEL_ENDED) && Level_TestFlags(LEVEL_QUIT)) << "lost: no progress";
}

TEST_F(ManCamRelRulesTest, AFallFasterThanTheLimitKillsAfterItsTimeAndContactOrSlowingRenewsIt)
{
    Object* hero = Hero(" dieInAirTime = 2.0\n dieInAirVel = -5\n");
    EntityRecord* r = Record(hero);
    Place(hero, V(0, 2000, 0));
    SetVelocity(hero, V(0, -6, 0));
    Step(100);  // 2.0 s falling faster than 5
    EXPECT_GT(Entity_GetHealth(r), 0.0f);
    SetVelocity(hero, V(0, -4.8f, 0));
    Step();  // at the limit after this step's gravity: the timer starts again
    Step(99);
    EXPECT_GT(Entity_GetHealth(r), 0.0f);
    r->flags |= ENTITY_TOUCHED;  // a wall touched in this frame's step
    Step();
    Step(100);
    EXPECT_GT(Entity_GetHealth(r), 0.0f);
    Step(6);
    EXPECT_EQ(Entity_GetHealth(r), 0.0f) << "2.1 s without renewal";
    EXPECT_EQ(Anim(hero), MCR_DIE_IN_AIR);
}

TEST_F(ManCamRelRulesTest, TheTargetListKeepsVisibleTargetsDropsLostOnesAndSkittersDuringADoubleJump)
{
    WriteShot("Shots\\Bolt.cfg", "STRAIGHT");
    WriteCharacter("Levels\\Test\\Frog.cfg", "Man", " forwardVelStep = 1\n", "EntityType0 = 2");
    WriteCharacter("Levels\\Test\\Bug.cfg", "Skitter", " totalHealth = 10\n", "EntityType0 = 2");
    Object* hero = Hero(
        " dieInAirTime = 50\n targetViewRadius = 20\n targetViewAngle = 90, 90\n entityTypeToAttack0 = 2\n"
        " projectiles {\n  ProjType0Config = Shots\\Bolt.cfg\n }\n",
        {Item("entity_Frog", V(0, 0, 6)), Item("entity_Bug", V(2, 0, 12))});
    Object *frog = nullptr, *bug = nullptr;
    for (Object* o : Entities()) {
        if (Record(o)->mode == MODE_MAN) frog = o;
        if (Record(o)->mode == MODE_SKITTER) bug = o;
        if (o != hero) PhysContacts_AddBody(o->body);
    }
    ASSERT_TRUE(frog && bug);
    PhysContacts_AddBody(hero->body);  // rays start inside the caster
    Mode_Play(Record(bug), SKITTER_STAND);  // awake: a sleeping Skitter is no target
    Step(4);
    EXPECT_EQ(d->target, frog) << "the nearest visible candidate";
    Step(40);
    EXPECT_EQ(d->target, frog) << "a visible target is kept";
    EXPECT_TRUE(d->flags & MCR_TARGET_HIDDEN) << "renewed against the hold at every scan";

    // Out of the query: dropped when the next scan ends.
    Place(frog, V(0, 0.5f, 60));
    Step(4);
    EXPECT_EQ(d->target, bug);

    // A Skitter is dropped while the double jump plays.
    Mode_Play(Record(hero), MCR_DOUBLEJUMP);
    Entity_SetAnimFlags(Record(hero), 0, ANIMSLOT_PLAYING, 1);
    Step();
    EXPECT_EQ(d->target, nullptr);

    // Something solid between blocks the view.
    PhysBody* wall = PhysBody_Create(phys, 1.0f, 0.0f);
    const Vec3 centre = V(1, 0.5f, 6);
    PhysWorld_AddBody(phys, wall, &centre, nullptr, nullptr);
    PhysContacts_AddBody(wall);
    Mode_Play(Record(hero), MCR_STAND);
    Step(5);
    EXPECT_EQ(d->target, bug) << "taken again at once, then held out of sight";
    EXPECT_EQ(d->activeVisible[0], 0u);
    Step(240);
    EXPECT_EQ(d->target, bug);
    Step(15);
    EXPECT_EQ(d->target, nullptr) << "dropped 5 s after it went out of sight";
}

TEST_F(ManCamRelRulesTest, TheCameraPitchStaysFiniteWithoutRangeKeys)
{
    Object* hero = Hero(" dieInAirTime = 50\n");
    for (float vy : {-20.0f, 0.0f, 15.0f}) {
        Place(hero, V(0, 100, 0));
        SetVelocity(hero, V(0, vy, 0));
        Step();
        EXPECT_TRUE(std::isfinite(d->camPitchOffset)) << vy;
        EXPECT_EQ(d->camPitchOffset, 0.0f) << vy;
        EXPECT_TRUE(std::isfinite(d->camera->angles.x));
        Vec3 p;
        Node_GetWorldPosition(cameraFrame, &p);
        EXPECT_TRUE(Mode_IsFinite(p));
    }
}

}  // namespace

TEST_F(ManCamRelRulesTest, ASkidNeedsMoreThanTheSlopeScaledSkidSpeedForAFifthOfASecond)
{
    Object* hero = Hero(" dieInAirTime = 50\n skidVel = 10\n skidPowerVal = 1\n");
    const float c = std::cos(0.7853982f);
    d->groundNormal = V(c, c, 0);  // 45 degrees: the threshold halves to 5
    SetVelocity(hero, V(0, 0, 8));
    Step(5);
    EXPECT_NE(Anim(hero), MCR_SKID) << "within 0.2 s";
    SetVelocity(hero, V(0, 0, 8));
    Step(10);
    EXPECT_EQ(Anim(hero), MCR_SKID);
    d->groundNormal = V(0, 1, 0);
    SetVelocity(hero, V(0, 0, 8));
    Step(20);
    EXPECT_NE(Anim(hero), MCR_SKID) << "on the flat 8 is below 10";
}

TEST_F(ManCamRelRulesTest, WalkAndRunPlayAtTheSpeedFactorClampedToTheirLimits)
{
    Object* hero = Hero(" dieInAirTime = 50\n maxWalkSpeed = 5\n walkVelSpeedChange = 10\n walkMinAnimSpeedChange = 0.5\n"
                        " walkMaxAnimSpeedChange = 2\n runVelSpeedChange = 0.01\n runMinAnimSpeedChange = 0.25\n"
                        " runMaxAnimSpeedChange = 3\n runDamping = 0, 0, 0\n");
    EntityRecord* r = Record(hero);
    AnimSet* set = Entity_GetAnimSlotValue(r, 0);
    script[0].stickY = 1.0f;  // 1 m/s at most: walk, factor 10 clamped to 2
    d->maxRunSpeed = 1.0f;
    Step(10);
    ASSERT_EQ(Anim(hero), MCR_WALK);
    float before = AnimSet_GetTime(set);
    Step();
    EXPECT_NEAR(AnimSet_GetTime(set) - before, 2.0f * dt, 1e-4f);
    EXPECT_TRUE(Entity_TestAnimFlags(r, 0, ANIMSLOT_PAUSED)) << "the mode advances the slot itself";
    d->maxWalkSpeed = 0.5f;  // run: (1 - 0.5) x 0.01 clamped up to 0.25
    Step(2);
    ASSERT_EQ(Anim(hero), MCR_RUN);
    before = AnimSet_GetTime(set);
    Step();
    EXPECT_NEAR(AnimSet_GetTime(set) - before, 0.25f * dt, 1e-4f);
    script[0].stickY = 0.0f;
    Step(3);
    EXPECT_FALSE(Entity_TestAnimFlags(r, 0, ANIMSLOT_PAUSED));
}
