// Man_CamRel: sections per pass, conversions, the object scan,
// restart and the warnings of the load.
#include <cmath>

#include "app/config.h"
#include "game/game_context.h"
#include "game/race_setup.h"
#include "modes_fixture.h"

using namespace modestest;
using entitytest::Item;
using entitytest::V;

namespace {

const char kPlayable[] =
    " forwardVelStep = 40\n maxRunSpeed = 5\n maxInAirSpeed = 3\n jumpTimeSinceGroundAllow = 0.1\n"
    " dieInAirTime = 5\n camMode0RailDist = 5\n camMode1RailDist = 5\n camMode2RailDist = 5\n"
    " camMode3RailDist = 5\n genCamData {\n  defaultDistance = 5\n }\n";

class ManCamRelLoadTest : public ModesTest {
protected:
    Object* Hero(const std::string& controlData, const std::string& more = "")
    {
        WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Man_CamRel", controlData + kPlayable, "",
                       ManCamRelAnims(), {}, more);
        Ground();
        return StartPlayer();
    }
};

TEST_F(ManCamRelLoadTest, TheLevelPassOverridesOnlyItsKeysAndAppendsItsGroups)
{
    WriteShot("Shots\\One.cfg", "STRAIGHT");
    WriteShot("Shots\\Two.cfg", "THROW");
    WriteProp("Gem", "StringVal0 = PICKUP\n FPVal1 = 4");
    PlaceProps({Item("Gem", V(5, 1, 5)), Item("Gem", V(-5, 1, 5))});
    Level_SetLevelToUnlock(3);
    Hero(
        " jumpVel = 5\n doubleJumpVel = 8\n projectiles {\n  ProjType0Config = Shots\\One.cfg\n }\n"
        " genCamData {\n  rotationSpeeds = 90, 90, 90\n }\n",
        "controlData_3 {\n jumpVel = 7\n stunPlayerAtRelAngle = 200\n frontColAngle = 90\n"
        " targetViewAngle = -30, 20\n camMode2CamTilt = 10, -20, 0\n easyScorePickupPercentReq = 75\n"
        " projectiles {\n  ProjType0Config = Shots\\Two.cfg\n }\n"
        " genCamData {\n  defaultDistance = 9\n }\n}\n");
    EXPECT_EQ(d->jumpVel, 7.0f);
    EXPECT_EQ(d->doubleJumpVel, 8.0f) << "absent from the level section: pass 0's value";
    EXPECT_EQ(d->weapons.count, 2u) << "the level's weapons are added";
    ASSERT_NE(d->camera, nullptr);
    EXPECT_EQ(d->camera->defaultDistance, 9.0f);
    EXPECT_NEAR(d->camera->rotationSpeeds.x, 1.5707964f, 1e-5f) << "the camera record is laid over";
    EXPECT_EQ(d->levelCompCount, 2u) << "the scan runs at pass 0 only";
    EXPECT_NEAR(d->cosStunPlayerAtRelAngle, -1.0f, 1e-6f) << "the level pass converts too";
    EXPECT_NEAR(d->easyScorePickupPercentReq, 0.75f, 1e-6f);
    EXPECT_EQ(d->mediumScorePickupPercentReq, 0.0f) << "percentages convert only when found";
}

TEST_F(ManCamRelLoadTest, TheScanListsCompletionPickupsCountsScoreAndHiddenOnesAndTakesTheLastEnd)
{
    WriteProp("Gem", "StringVal0 = PICKUP\n FPVal1 = 4");
    WriteProp("Coin", "StringVal0 = pick up\n FPVal1 = 5.9");
    WriteProp("Secret", "StringVal0 = PICKUP\n FPVal1 = 7");
    WriteProp("Heart", "StringVal0 = PICKUP\n FPVal1 = 3");
    WriteProp("End", "StringVal0 = ENDAREA", 4);
    PlaceProps({Item("Gem", V(1, 1, 1)), Item("Coin", V(2, 1, 1)), Item("Coin", V(3, 1, 1)),
                Item("Secret", V(4, 1, 1)), Item("Heart", V(5, 1, 1)), Item("End", V(6, 1, 1)),
                Item("End", V(7, 1, 1))});
    Hero(" levelCompPickupTotal = 1\n");
    ASSERT_EQ(d->levelCompCount, 1u);
    EXPECT_EQ(d->levelComp[0], PropAt(V(1, 1, 1)));
    EXPECT_EQ(d->scorePickupTotal, 2) << "kinds are truncated; type names skip blanks";
    EXPECT_EQ(d->hiddenTotal, 1);
    Object* last = nullptr;
    List_ForEach(
        objects,
        [](void* item, void* arg) {
            if (HitModeObject_GetTypeHash((Object*)item) == ObjectType_GetHash(OBJTYPE_ENDAREA)) *(Object**)arg = (Object*)item;
            return 0;
        },
        &last);
    EXPECT_EQ(d->levelEnd, last) << "the last one found wins";
}

TEST_F(ManCamRelLoadTest, RestartResetsTheGameOnlyFromThePlayerStart)
{
    WriteProp("Secret", "StringVal0 = PICKUP\n FPVal1 = 7");
    PlaceProps({Item("Secret", V(4, 1, 1))});
    GameSetup_SetPlayerDifficulty(0, 2);
    Game_SetHiddenFlag();
    Level_SetGameRule(RULE_SCORE_PICKUPS);
    Object* hero = Hero(
        " easyScorePickupPercentReq = 50\n hardScorePickupPercentReq = 90\n initNumLifes = 3\n"
        " initHealth = 150\n totalHealth = 80\n noSpecialAmmo = TRUE\n");
    EXPECT_EQ(d->lives, 99) << "the hidden mode gives 99 lives";
    EXPECT_NEAR(d->requiredFraction, 0.9f, 1e-6f);
    EXPECT_TRUE(d->flags & MCR_PICKUPS_MET) << "no score pickups in the level";
    EXPECT_EQ(Entity_GetHealth(Record(hero)), 80.0f) << "initHealth at most totalHealth";

    d->score = 40;
    d->lives = 5;
    d->hiddenCollected = 1;
    d->flags &= ~MCR_PICKUPS_MET;
    Entity_Respawn(hero, 0);
    EXPECT_EQ(d->score, 40);
    EXPECT_EQ(d->lives, 5);
    EXPECT_EQ(d->hiddenCollected, 1);
    Level_SetGameRule(RULE_HIDDEN_PICKUPS);
    Entity_Respawn(hero, 1);
    EXPECT_EQ(d->score, 0);
    EXPECT_EQ(d->lives, 99);
    EXPECT_EQ(d->hiddenCollected, 0);
    EXPECT_FALSE(d->flags & MCR_PICKUPS_MET) << "the level has a hidden pickup";
    EXPECT_EQ(Anim(hero), MCR_STAND);
}

TEST_F(ManCamRelLoadTest, MissingKeysWarnOncePerLoadAndABadEndObjectIsNotUsed)
{
    WriteProp("End", "StringVal0 = ENDAREA", 3);
    PlaceProps({Item("End", V(6, 1, 1))});
    WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Man_CamRel", "");
    Ground();
    entitytest::g_log.clear();
    Object* hero = StartPlayer();
    std::vector<std::string> keys = {"jumpTimeSinceGroundAllow", "forwardVelStep", "maxRunSpeed", "maxInAirSpeed",
                                     "dieInAirTime", "camMode0RailDist", "camMode3RailDist", "genCamData",
                                     "fewer than 4"};
    for (const std::string& key : keys) {
        int seen = 0;
        for (const std::string& line : entitytest::g_log) seen += line.find(key) != std::string::npos;
        EXPECT_EQ(seen, 1) << key;
    }
    EXPECT_EQ(entitytest::g_log.size(), 11u) << "pass 0 twice (levelToUnlock 0) still warns once";
    EXPECT_EQ(CamRel(hero)->levelEnd, nullptr);
}

TEST_F(ManCamRelLoadTest, UnderACompletionRuleAMismatchedEndObjectIsReportedOnceAndStillUsed)
{
    WriteProp("End", "StringVal0 = ENDAREA", 6);
    PlaceProps({Item("End", V(6, 1, 1))});
    Level_SetGameRule(RULE_COUNTDOWN);
    entitytest::g_log.clear();
    Object* hero = Hero(" levelCompPickupTotal = 2\n");
    EXPECT_TRUE(entitytest::g_log.empty()) << "no completion under this rule";
    Level_SetGameRule(RULE_BEATTIME);
    ConfigNode* reader = Config_Open("carddata\\entityconfigs\\Hero.cfg");
    Config_SetSection(reader, "vehicle");
    ManCamRelMode_Load(reader, CamRel(hero), Record(hero), hero, 0);
    ManCamRelMode_Load(reader, CamRel(hero), Record(hero), hero, 0);
    Config_Close(reader);
    ManCamRelMode_Restart(hero, Record(hero), 1);
    ASSERT_EQ(entitytest::g_log.size(), 1u);
    EXPECT_NE(entitytest::g_log[0].find("has 6 animations; levelCompPickupTotal 2 needs 8"), std::string::npos);
    EXPECT_NE(CamRel(hero)->levelEnd, nullptr);
    Entity_Respawn(hero, 1);
    EXPECT_EQ(entitytest::g_log.size(), 1u);
}

}  // namespace
