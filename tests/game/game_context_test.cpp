#include "game/game_context.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "game/probe.h"

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

}  // namespace
