#include "game/probe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "game/game_context.h"
#include "game/level_session.h"

namespace {

std::string Probe(const char* name, bool* known = nullptr)
{
    char value[128];
    memset(value, 'x', sizeof value);
    const int ok = GameProbe_Get(name, value, sizeof value);
    if (known) *known = ok == 1;
    return value;
}

TEST(GameProbeTest, UnknownOrMalformedNamesAreRefusedWithAnEmptyValue)
{
    for (const char* name : {"", "nonsense", "state.", "progress.", "progress.150", "progress.-1", "progress.1x",
                             "progress.+1", "character.8", "save.0", "save.9", "entity.", "entity.Hero", "player.pos",
                             "player.up", "spin", "element", "score", "clock"}) {
        bool known = true;
        EXPECT_EQ(Probe(name, &known), "") << name;
        EXPECT_FALSE(known) << name;
    }
    char value[8] = "keep";
    EXPECT_EQ(GameProbe_Get(nullptr, value, sizeof value), 0);
    EXPECT_EQ(GameProbe_Get("state", nullptr, 8), 0);
    EXPECT_EQ(GameProbe_Get("state", value, 0), 0);
    EXPECT_STREQ(value, "keep");  // size 0: nothing written
}

TEST(GameProbeTest, ValuesAreCutToTheBufferAndAlwaysTerminated)
{
    Game_GetContext()->musicVolume = 0.5f;
    char value[4];
    memset(value, 'x', sizeof value);
    EXPECT_EQ(GameProbe_Get("volume.music", value, sizeof value), 1);
    EXPECT_STREQ(value, "0.5");
    char one[1] = {'x'};
    EXPECT_EQ(GameProbe_Get("volume.music", one, 1), 1);
    EXPECT_EQ(one[0], 0);
}

TEST(GameProbeTest, ContextAndCountersAreReadFromTheGamesRecords)
{
    GameContext* context = Game_GetContext();
    Progress_SetFlags(2, PROGRESS_LOCKED | PROGRESS_COMPLETED, 0);
    Progress_SetFlags(2, PROGRESS_COMPLETED, 1);
    EXPECT_EQ(Probe("progress.2"), "2");
    context->characters[7] = 5;
    EXPECT_EQ(Probe("character.7"), "5");
    context->effectsVolume = 0.25f;
    EXPECT_EQ(Probe("volume.sfx"), "0.2500");
    const unsigned before = (unsigned)std::stoul(Probe("restarts"));
    Level_Restart(0);
    Level_Restart(1);
    EXPECT_EQ(Probe("restarts"), std::to_string(before + 2));
}

TEST(GameProbeTest, OutsideALevelAndTheFrontEndTheNamesSayNone)
{
    EXPECT_EQ(Probe("state"), "none");
    EXPECT_EQ(Probe("screen"), "none");
    EXPECT_EQ(Probe("level"), "none");
    EXPECT_EQ(Probe("page"), "none");
    EXPECT_EQ(Probe("save.1"), "0");  // no save folder here
}

int FrontEndStandIn(const char* name, char* value, size_t size)
{
    if (strcmp(name, "screen")) return 0;
    snprintf(value, size, "Title");
    return 1;
}

TEST(GameProbeTest, TheFrontEndAnswersItsNamesFirstWhileItIsInstalled)
{
    GameProbe_SetFrontEndProbe(FrontEndStandIn);
    EXPECT_EQ(Probe("screen"), "Title");
    EXPECT_EQ(Probe("state"), "none");  // not its name: the game answers
    GameProbe_SetFrontEndProbe(nullptr);
    EXPECT_EQ(Probe("screen"), "none");
}

}  // namespace
