#include "game/game_context.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "game/chase_camera.h"
#include "game/col_area.h"
#include "engine/node.h"
#include "game/entity.h"
#include "game/entity_anim.h"
#include "game/game_setup.h"
#include "game/level_file.h"
#include "game/level_input.h"
#include "game/level_state.h"
#include "game/level_session.h"
#include "game/memcard_ui.h"
#include "game/menu_system.h"
#include "game/player_input.h"
#include "game/probe.h"
#include "game/save_game.h"
#include "game/state_hooks.h"

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
    // Values are cut to the buffer and always terminated.
    Game_GetContext()->musicVolume = 0.5f;
    char four[4], one[1];
    EXPECT_EQ(GameProbe_Get("volume.music", four, sizeof four) + GameProbe_Get("volume.music", one, 1), 2);
    EXPECT_STREQ(four, "0.5");
    EXPECT_EQ(one[0], 0);
}

// Entries, players and characters outside the tables answer locked, no and zero and change nothing.
TEST(GameContextTest, EntriesOutsideTheTablesAnswerLockedNoAndZero)
{
    // The context's reset makes the default settings' node.
    ASSERT_TRUE(Node_Init());
    Game_ResetContext();
    for (int bad : {-1, 150, 100000}) {
        EXPECT_EQ(Progress_IsLocked(bad), 1) << bad;
        EXPECT_EQ(Progress_SetLocked(bad, 0) + Progress_TestFlags(bad, ~0u) + Progress_GetValue(bad), 0) << bad;
        EXPECT_EQ(Progress_GetFloat(bad), 0.0f) << bad;
        Progress_SetFlags(bad, PROGRESS_COMPLETED, 1);
        Progress_SetFloat(bad, 1.0f);
        Progress_SetPlayerValue(0, bad, 9);
        EXPECT_EQ(Progress_GetPlayerValue(0, bad), 0) << bad;
        EXPECT_EQ(Character_IsLocked(bad), 1) << bad;
        EXPECT_EQ(Game_GetFont(bad), nullptr);
        EXPECT_EQ(Input_ActionBit(bad) + Level_GetRuleHash((uint32_t)bad) + (uint32_t)Level_SetGameRule((uint32_t)bad) +
                      (uint32_t)PlayerInput_IsEligible(bad) + (uint32_t)MenuText_TestFlags(nullptr, 1),
                  0u);
        Progress_SetPlayerValue(bad, 0, 5);
        EXPECT_EQ(Progress_GetPlayerValue(bad, 0) + Progress_SumPlayerValues(bad), 0);
    }
    EXPECT_EQ(Progress_CountCompleted(), 0u);
    EXPECT_EQ(Level_FindRuleByHash(0) + Save_ReadGameHeader('A', "none", nullptr), -1);
    EXPECT_EQ(Math_RotatedElevation(1.0f, nullptr), 0.0f);
    Entity_SetAnimFlags(nullptr, 0, 1, 1);
    Vec3 at, up;
    EXPECT_EQ(Entity_GetAnimSlotValue(nullptr, 0), nullptr);
    EXPECT_EQ(Entity_GetAnimRootOrientation(nullptr, 0, &at, &up) + Entity_GetAnimSlotFloat(nullptr, 0), 0.0f);
    ColArea_Free(nullptr);
    std::vector<uint8_t> header(4096);
    EXPECT_EQ(Save_ReadGameHeader('A', "none", header.data()) + LevelTest_GetActivations(nullptr), 0u);
    EXPECT_EQ(Level_FogTypeFromKey(0, 1), 1u);
    const LevelPickupActivation* activations = nullptr;
    EXPECT_EQ(LevelTest_GetActivations(&activations) + MemCardUI_FindMode(nullptr), 0u);
    EXPECT_EQ(Game_StateForType(99), nullptr);
    EXPECT_EQ(Game_StateForType(GAMESTATE_OPTIONS), GameStateHooks_Get()->options);
    const int locked = Character_IsLocked(3);
    for (int on : {1, 0, locked}) {
        Character_SetLocked(3, on);
        EXPECT_EQ(Character_IsLocked(3), on);
    }
    Level_SetConfigDir("Levels\\Demo\\");  // the trailing separator goes
    EXPECT_STREQ(Level_GetConfigDir(), "Levels\\Demo");
    EXPECT_EQ(Probe("level"), "none");
    Game_GetContext()->effectsVolume = 0.25f;
    EXPECT_EQ(Probe("volume.sfx"), "0.2500");
    Level_SetRestartCallback(nullptr);
    const uint32_t restarts = Level_GetRestartCount();
    Level_Restart(0);  // counted even without a callback
    EXPECT_EQ(Level_GetRestartCount(), restarts + 1);
    for (int e = 0; e < GAME_PROGRESS_ENTRIES; e++) Progress_SetPlayerValue(1, e, e);
    EXPECT_EQ(Progress_SumPlayerValues(1), 149 * 150 / 2);
    Progress_SetFloat(3, 2.5f);
    EXPECT_EQ(Progress_GetFloat(3), 2.5f);
    for (int32_t given : {0, 9, 4}) {
        Game_SetMaxPlayers(given);
        EXPECT_EQ(Game_GetMaxPlayers(), given == 0 ? 1u : given == 9 ? 8u : 4u);
    }
    Game_ResetContext();
}

}  // namespace
