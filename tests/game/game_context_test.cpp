#include "game/game_context.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "game/probe.h"
#include "game_fixture.h"

namespace {

class GameContextTest : public GameTest {};

TEST_F(GameContextTest, EntriesOutsideTheTablesAnswerLockedNoAndZero)
{
    for (int bad : {-1, 150, 100000}) {
        EXPECT_EQ(Progress_IsLocked(bad), 1) << bad;
        EXPECT_EQ(Progress_SetLocked(bad, 0), 0) << bad;
        EXPECT_EQ(Progress_TestFlags(bad, 0xFFFFFFFFu), 0) << bad;
        EXPECT_EQ(Progress_GetFloat(bad), 0.0f) << bad;
        EXPECT_EQ(Progress_GetValue(bad), 0) << bad;
        EXPECT_EQ(Progress_GetPlayerValue(0, bad), 0) << bad;
        Progress_SetFlags(bad, PROGRESS_COMPLETED, 1);
        Progress_SetFloat(bad, 1.0f);
        Progress_SetPlayerValue(0, bad, 9);
    }
    for (int bad : {-1, 8, 255}) EXPECT_EQ(Character_IsLocked(bad), 1) << bad;
    for (int badPlayer : {-1, 4, 7}) {
        Progress_SetPlayerValue(badPlayer, 0, 5);
        EXPECT_EQ(Progress_GetPlayerValue(badPlayer, 0), 0);
        EXPECT_EQ(Progress_SumPlayerValues(badPlayer), 0);
    }
    EXPECT_EQ(Progress_CountCompleted(), 0u);
    EXPECT_EQ(Progress_SetLocked(149, 1), 1);
    EXPECT_EQ(Progress_IsLocked(149), 1);
}

TEST_F(GameContextTest, PlayerValuesSumExactlyTheHundredAndFiftyEntriesOfThatPlayer)
{
    for (int e = 0; e < GAME_PROGRESS_ENTRIES; e++) {
        Progress_SetPlayerValue(1, e, e);
        Progress_SetPlayerValue(2, e, 1000);
    }
    EXPECT_EQ(Progress_SumPlayerValues(1), 149 * 150 / 2);
    EXPECT_EQ(Progress_SumPlayerValues(2), 150000);
    EXPECT_EQ(Progress_SumPlayerValues(0), 0);
}

TEST_F(GameContextTest, HiddenEffectsUnlockEntriesAndCharactersCountOnlyClearLocks)
{
    for (int e = 0; e < GAME_PROGRESS_ENTRIES; e++) Progress_SetFlags(e, PROGRESS_LOCKED | 16u, 1);
    Progress_UnlockAll();
    for (int e : {0, 75, 149}) {
        EXPECT_EQ(Progress_IsLocked(e), 0);
        EXPECT_EQ(Progress_TestFlags(e, PROGRESS_COMPLETED), 0);
        EXPECT_EQ(Progress_TestFlags(e, 16u), 1);  // other bits stay
    }
    Progress_SetLocked(10, 1);
    Progress_UnlockAllComplete();
    for (int e = 0; e < GAME_PROGRESS_ENTRIES; e++) {
        EXPECT_EQ(Game_GetContext()->progress.flags[e] & 15u, 14u) << e;
    }
    EXPECT_EQ(Progress_CountCompleted(), 150u);

    Character_SetLocked(2, 1);
    Character_SetLocked(5, 1);
    Game_GetContext()->progress.characterLocks[6] = 2;  // another bit, not the lock
    EXPECT_EQ(Character_CountUnlocked(), 6);
    EXPECT_EQ(Character_IsLocked(6), 0);

    Game_SetHiddenFlag();
    EXPECT_EQ(Game_GetHiddenFlag(), 1u);
    Game_SetBuildNumber(42);
    char text[8];
    Game_ShowVersionNumber(text, sizeof text);
    EXPECT_STREQ(text, "42");
}

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

int FrontEndStandIn(const char* name, char* value, size_t size)
{
    if (strcmp(name, "screen")) return 0;
    snprintf(value, size, "Title");
    return 1;
}

TEST(GameProbeTest, OutsideALevelTheNamesSayNoneAndTheFrontEndAnswersItsOwnFirst)
{
    for (const char* name : {"state", "screen", "level", "page"}) EXPECT_EQ(Probe(name), "none") << name;
    EXPECT_EQ(Probe("save.1"), "0");  // no save folder here
    GameProbe_SetFrontEndProbe(FrontEndStandIn);
    EXPECT_EQ(Probe("screen"), "Title");
    EXPECT_EQ(Probe("state"), "none");  // not its name: the game answers
    GameProbe_SetFrontEndProbe(nullptr);
    EXPECT_EQ(Probe("screen"), "none");
}

}  // namespace
