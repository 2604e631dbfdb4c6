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

// An end object whose animations do not match the completion pickups is kept
// with a warning; the player's difficulty picks the share of score pickups required.
TEST_F(ManCamRelLoadTest, AMismatchedEndObjectWarnsAndTheDifficultyPicksTheRequiredShare)
{
    WriteProp("End", "StringVal0 = ENDAREA", 5);
    PlaceProps({Item("End", V(6, 1, 1))});
    entitytest::g_log.clear();
    Object* hero = Hero(
        " levelCompPickupTotal = 2\n easyScorePickupPercentReq = 25\n"
        " mediumScorePickupPercentReq = 50\n hardScorePickupPercentReq = 75\n");
    ASSERT_NE(hero, nullptr);
    EXPECT_NE(CamRel(hero)->levelEnd, nullptr);
    int warned = 0;
    for (const std::string& line : entitytest::g_log)
        warned += line.find("levelCompPickupTotal 2 needs 8") != std::string::npos;
    EXPECT_GE(warned, 1);
    for (uint32_t difficulty : {1u, 2u, 0u}) {
        GameSetup_SetPlayerDifficulty(0, difficulty);
        ManCamRelMode_Restart(hero, Record(hero), difficulty > 0);
        EXPECT_FLOAT_EQ(CamRel(hero)->requiredFraction, 0.25f * (float)(difficulty + 1)) << difficulty;
    }
}

}  // namespace
