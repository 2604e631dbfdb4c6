#include "game/level_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/hash.h"
#include "common/list.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physworld.h"
#include "game/entity.h"
#include "game/modes/vehicle_modes.h"
#include "game/modes/walking_modes.h"
#include "game/probe.h"
#include "game/projectile.h"
#include "program_fixture.h"
#include "tools/lib/lwswrite.h"

namespace {

// The time each physics step the level asked for added, through the world's stepping seam.
std::vector<double>& Steps()
{
    static std::vector<double> steps;
    return steps;
}
double g_lastTime = 0.0;
void RecordStep(DynWorld*, PhysTime time, int)
{
    const double now = PhysTime_ToSeconds(time);
    Steps().push_back(now - g_lastTime);
    g_lastTime = now;
}

// Seconds the objects of the level's list were updated with.
std::vector<float>& Updates()
{
    static std::vector<float> updates;
    return updates;
}
uint32_t CountUpdate(Object*, uint32_t, void* dt)
{
    Updates().push_back(*(const float*)dt);
    return 0;
}

// A scene of nulls: "PlayerStart_Null" items (numbered 00, 01, ... by the
// loader) at x = 10 n, z = 5, turned a quarter about y.
std::string StartScene(int starts)
{
    LwsWriterScene scene;
    for (int n = 0; n < starts; n++)
        scene.items.push_back(gametest::SceneItem("PlayerStart_Null", 10.0f * (float)n, 0, 5, 1.5707964f));
    // A start without a player number after its name belongs to nobody.
    scene.items.push_back(gametest::SceneItem("PlayerStart_Null-"));
    return LwsWriter_Write(scene);
}

// The first character: a ball walking in the Man mode, with no visual and no animations.
void WriteCharacter()
{
    gametest::WriteConfig("carddata\\entityconfigs\\Wren.cfg",
                          "Object {\n Description {\n  Name = Entity\n  VisualModel = NOVISUAL\n"
                          "  PhysicalModel = SPHERE0.5\n  Mass = 1\n  Active = TRUE\n  CollisionGroup = 2\n"
                          "  Constructor = Entity_Constructor\n  Destructor = Entity_Destructor\n"
                          "  Update = Entity_Update\n  Collision = Entity_Collision\n }\n}\n"
                          "vehicle {\n vehicleData {\n  ControlMode = Man\n  maxVelocity = 50\n }\n"
                          " controlData {\n  jumpVel = 5\n  maxRunSpeed = 4\n  forwardVelStep = 40\n  turnVelMax = 3\n"
                          "  joyDirIncFromCenter = 100, 0, 100\n  joyDirIncToCenter = 100, 0, 100\n"
                          "  dieInAirTime = 1.5\n }\n}\n");
}

class LevelStateTest : public ProgramTest {
protected:
    // Levels 1..n: "levelK.cfg" with progress entry 10 + K, loading image K
    // and the start scene; level 9 has no progress entry.
    static void WriteLevels(int n, int starts = 5)
    {
        gametest::WriteData("Levels/Starts.lws", StartScene(starts));
        for (int k = 1; k <= n; k++) {
            std::string file = "levels\\level" + std::to_string(k) + ".cfg";
            gametest::WriteConfig(file.c_str(),
                                  "game {\n Level {\n levelscene = Levels\\Starts.lws\n"
                                  " levelToUnlock = " +
                                      std::to_string(10 + k) + "\n loadingScreenIndex = " + std::to_string(k) +
                                      "\n gametimelength = 60\n levelSoundConfig = " + file + "\n }\n}\n");
        }
        gametest::WriteConfig("levels\\level9.cfg", "game {\n Level {\n levelscene = Levels\\Starts.lws\n FogType = 7\n"
                                                "FogColourRGB = 300, -4, 9\n ClippingViewAngle = 90\n"
                                                "gametimelength = 60\n DefaultGameType = none\n }\n}\n");
    }

    // The race set-up's list, the context, and the level state entered as the stack's only record.
    static LevelState* StartLevel(std::initializer_list<const char*> entries, bool demo = false)
    {
        GameSetup_Reset();
        int i = 0;
        for (const char* e : entries) GameSetup_SetLevel(e, i++);
        GameSetup_SetDemo(demo);
        Game_ResetContext();
        Game_RecreatePhysicsWorld();
        LevelTest_ClearActivations();
        Level_CreateState();
        State_Update(0.0f);  // enter, then the first update (frame time 0)
        EXPECT_NE(Level_GetState(), nullptr);
        return Level_GetState();
    }

    static int Tick(float dt = 0.02f) { return State_Update(dt); }

    // Whether the stack empties (the level state popped) within 200 frames of 0.05 s.
    static bool Leaves()
    {
        int alive = 1;
        for (int f = 0; f < 200 && alive; f++) alive = Tick(0.05f);
        return alive == 0;
    }

    // Ticks until the flag is set (or the state went); the ticks taken.
    static int TicksUntil(uint32_t flag, float dt, int most = 200)
    {
        int n = 0;
        while (n < most && Level_GetState() && !Level_TestFlags(flag)) {
            Tick(dt);
            n++;
        }
        return n;
    }

    // Pops the level state when it is still there (its exit runs); everything the test made goes.
    static void Finish()
    {
        for (GameState* state = State_GetCurrent(); state;) {
            GameState* below = state->previous;
            State_Destroy(state);
            state = below;
        }
        State_Reset();
        State_Init();  // a test may start another level
        Game_ReleaseContext();
        PhysWorlds_DestroyAll();
        Game_SetPhysicsWorld(nullptr);
        PhysWorld_SetStepFunction(nullptr);
    }
};

TEST_F(LevelStateTest, AnEndRecordsProgressAndLoadsTheNextLevelBehindItsImageButAQuitOrAReplayLeavesAndOnlyAnEndAutosaves)
{
    WriteLevels(2);
    RunProgram([] {
        GameState* levelState = nullptr;
        for (bool demo : {false, true}) {  // a quit, and the attract demo's own end: neither records anything
            StartLevel({"level1.cfg", "level2.cfg"}, demo);
            levelState = State_GetCurrent();
            MemCardUI_Get()->autosaveEnabled = 1;
            Progress_SetLocked(12, 1);
            if (demo) Level_SetFlags(LEVEL_ENDED, 1);
            else Level_OnMenuResult(nullptr, Name_Hash("quitToFrontend", 1, 1));
            Tick();
            EXPECT_EQ(MemCardUI_GetPendingMode(), (uint32_t)MEMCARD_MODE_NONE);  // no save screens over a quit
            EXPECT_EQ(State_GetCurrent(), levelState);
            EXPECT_TRUE(Leaves());
            EXPECT_EQ(Progress_TestFlags(11, PROGRESS_COMPLETED) + Progress_IsLocked(12) * 2, 2) << demo;
            EXPECT_EQ(MemCardUITest_GetAutosaveRequests() + GameSetup_IsDemo(), 0u) << demo;
            MemCardUI_Get()->autosaveEnabled = 0;
            Finish();
        }

        Progress_SetFloat(11, 42.0f);  // a best time within the length is the allowance
        Progress_SetFloat(12, 70.0f);
        LevelState* level = StartLevel({"level1.cfg", "level2.cfg"});
        ASSERT_NE(level, nullptr);
        EXPECT_EQ(Level_GetTimeAllowance(), 42.0f);
        char probed[64];
        EXPECT_EQ(GameProbe_Get("page", probed, sizeof probed) + GameProbe_Get("character.1", probed, sizeof probed), 2);
        EXPECT_EQ(GameProbe_Get("level", probed, sizeof probed), 1);
        EXPECT_STREQ(probed, "level1.cfg");
        EXPECT_STREQ(Level_GetSceneName(), "Levels\\Starts.lws");
        EXPECT_EQ(Level_GetLevelToUnlock(), 11);
        // Without a menu the wait on "loadingScreenContinue" ended at once.
        EXPECT_FALSE(Level_TestFlags(LEVEL_WAIT_CONTINUE));
        Progress_SetLocked(12, 1);
        Level_OnMenuResult(nullptr, Level_GetRuleHash(RULE_BEATTIME));
        EXPECT_EQ(Level_GetGameRule(), (uint32_t)RULE_BEATTIME);
        Level_OnMenuResult(nullptr, Name_Hash("hardPickupAmount", 1, 1));
        EXPECT_EQ(Level_GetGameRule(), (uint32_t)RULE_SCORE_PICKUPS);
        EXPECT_EQ(Game_GetDifficulty(), 2u);
        Level_OnMenuResult(nullptr, Level_GetRuleHash(RULE_NORMAL));
        EXPECT_EQ(Level_GetGameRule(), (uint32_t)RULE_NORMAL);
        for (int completed : {0, 1, 0}) {  // "startLevel": the pickups, or once completed the extra games
            Progress_SetFlags(11, PROGRESS_COMPLETED, completed);
            Level_OnMenuResult(nullptr, Name_Hash("startLevel", 1, 1));
        }

        Level_SetFlags(LEVEL_ENDED, 1);  // where a mode's rules end the level
        Tick();
        EXPECT_TRUE(Level_TestFlags(LEVEL_END_WAIT));
        EXPECT_EQ(Progress_TestFlags(11, PROGRESS_COMPLETED), 1);
        EXPECT_EQ(Progress_IsLocked(12), 0);  // read from the next level's file
        EXPECT_EQ(MemCardUITest_GetAutosaveRequests(), 1u);
        EXPECT_EQ(Game_GetContext()->music, nullptr);
        const int waited = TicksUntil(LEVEL_FADING, 0.05f);  // above 1.0 s
        EXPECT_GE(waited, 20);
        EXPECT_LE(waited, 21);
        EXPECT_FALSE(Level_TestFlags(LEVEL_ENDED | LEVEL_END_WAIT));
        EXPECT_EQ(LoadingScreen_Get()->currentIndex, 2);  // the next level's image
        EXPECT_EQ(TicksUntil(LEVEL_LOAD_NEXT, 0.05f), 8);  // 1.1 at 3 a second
        Tick(0.05f);                                       // level 2 loads in place
        EXPECT_EQ(level->levelIndex, 1);
        EXPECT_EQ(LoadingScreen_Get()->type, 2u);  // behind the next level's loading screen
        EXPECT_EQ(Level_GetLevelToUnlock(), 12);
        EXPECT_FALSE(Level_TestFlags(LEVEL_FADING | LEVEL_LOAD_NEXT | LEVEL_QUIT));
        EXPECT_EQ(MemCardUITest_GetAutosaveRequests(), 1u);

        // The last level of the list: its end leaves, and the state pops.
        Level_SetFlags(LEVEL_ENDED, 1);
        EXPECT_TRUE(Leaves());
        EXPECT_EQ(Level_GetState(), nullptr);
        EXPECT_EQ(std::make_pair(LoadingScreen_Get()->type, LoadingScreen_Get()->currentIndex), std::make_pair(1u, 0));
        EXPECT_EQ(MemCardUITest_GetAutosaveRequests(), 2u);
        Finish();

        StartLevel({"level1.cfg", "level2.cfg"});
        Progress_SetFlags(11, PROGRESS_COMPLETED, 1);
        Level_SetFlags(LEVEL_ENDED, 1);
        EXPECT_TRUE(Leaves());  // not the next level: back to the front end
        Finish();

        StartLevel({"level9.cfg", "level1.cfg"});
        EXPECT_EQ(Level_GetLevelToUnlock(), 0);
        EXPECT_EQ(Level_GetState()->fogType + Level_GetState()->fogColour, 3u + 0xFF0900FFu);
        const GameProgress before = Game_GetContext()->progress;
        Level_SetFlags(LEVEL_ENDED, 1);
        Tick();
        Progress_SetLocked(11, 1);  // compare only what the end may touch
        GameProgress after = Game_GetContext()->progress;
        after.flags[11] = before.flags[11];
        EXPECT_EQ(memcmp(&before.flags[0], &after.flags[0], sizeof before.flags), 0);
        Finish();

        StartLevel({"level1.cfg", "level2.cfg"});
        levelState = State_GetCurrent();
        MemCardUI_Get()->autosaveEnabled = 1;
        Level_SetFlags(LEVEL_ENDED, 1);
        Tick();
        EXPECT_EQ(MemCardUI_GetPendingMode(), (uint32_t)MEMCARD_MODE_AUTOSAVE);
        ASSERT_NE(State_GetCurrent(), levelState);
        EXPECT_EQ(State_GetCurrent(), MemCardUI_Get()->state);
        EXPECT_EQ(State_GetCurrent()->previous, levelState);
        Finish();
    });
}

TEST_F(LevelStateTest, AFrameAdvancesAtMostAFiftiethPhysicsCanBeSkippedOnceAndAnOpenMenuRunsOnlyTheRules)
{
    WriteLevels(1);
    RunProgram([] {
        StartLevel({"level1.cfg"});
        ObjectDescription d = {};
        strcpy(d.name, "Counter");
        d.update = CountUpdate;
        ASSERT_NE(Object_Create(Level_GetObjectList(), &d), nullptr);
        g_lastTime = ObjectWorld_GetPhysicsWorld()->time;
        Steps().clear();
        Updates().clear();
        PhysWorld_SetStepFunction(RecordStep);
        Tick(0.2f);
        ASSERT_EQ(Steps().size() + Updates().size(), 2u);
        EXPECT_NEAR(Steps()[0], 0.05, 1e-6);
        EXPECT_EQ(Updates()[0], 0.05f);
        EXPECT_EQ(Game_GetFrameTime(), 0.05f);
        Level_SetFlags(LEVEL_SKIP_PHYSICS, 1);
        Tick(0.01f);
        EXPECT_EQ(std::make_pair(Steps().size(), Updates().size()), std::make_pair(1ul, 2ul)) << "skipped, objects ran";
        EXPECT_FALSE(Level_TestFlags(LEVEL_SKIP_PHYSICS));
        Tick(0.01f);
        EXPECT_EQ(Steps().size(), 2u);
        Finish();

        MenuTest_SetOpen(1);  // the menu opened on "loadingScreenContinue"
        StartLevel({"level1.cfg"});
        Object_Create(Level_GetObjectList(), &d);
        Updates().clear();
        for (int f = 0; f < 5; f++) Tick(0.02f);
        EXPECT_TRUE(Level_TestFlags(LEVEL_WAIT_CONTINUE));  // held while the page is up
        EXPECT_TRUE(Updates().empty());
        MenuTest_SetOpen(0);
        Tick(0.02f);
        EXPECT_FALSE(Level_TestFlags(LEVEL_WAIT_CONTINUE));

        Tick(0.02f);
        EXPECT_EQ(Updates().size(), 1u);
        MenuTest_SetOpen(1);  // paused
        const float clock2 = Level_GetClock2(), clock = Level_GetClock();
        for (int f = 0; f < 5; f++) Tick(0.02f);
        EXPECT_EQ(Updates().size(), 1u);
        EXPECT_FALSE(Level_TestFlags(LEVEL_RULE_CLOCK));
        EXPECT_NEAR(Level_GetClock(), clock + 0.1f, 1e-5f);  // the rules still run
        // The rule clock ran on in the frame the menu opened, then stood.
        EXPECT_NEAR(Level_GetClock2(), clock2 + 0.02f, 1e-5f);
        EXPECT_FLOAT_EQ(Level_GetSession()->stamp, Level_GetClock());
        EXPECT_FLOAT_EQ(Level_GetSession()->stampDuration, 0.2f);
        MenuTest_SetOpen(0);
        Tick(0.02f);
        EXPECT_EQ(Updates().size(), 2u);
        Finish();
    });
}

// Ends the level and ticks until the next one has loaded in place.
void PlayToTheNextLevel()
{
    Level_SetFlags(LEVEL_ENDED, 1);
    for (int f = 0; f < 100 && Level_GetState() && !Level_TestFlags(LEVEL_LOAD_NEXT); f++) State_Update(0.05f);
    State_Update(0.05f);
}

TEST_F(LevelStateTest, PlayerEntitiesRunEachFrameAndKeepTheirRecordsOverTheNextLevelAndLeaveNothingBehind)
{
    WriteLevels(2);
    WriteCharacter();
    RunProgram([] {
        WalkingModes_Register();
        VehicleModes_Register();
        Game_ResetContext();
        Game_LoadCharacterList();
        GameContext* ctx = Game_GetContext();
        ctx->playerKinds[1] = PLAYER_KIND_HUMAN;
        ctx->characters[0] = ctx->characters[1] = 0;
        const uint32_t nodes = List_Count(Node_GetPool()), views = List_Count(View_GetPool());
        LevelState* level = StartLevel({"level1.cfg", "level2.cfg"});
        ASSERT_NE(level, nullptr);
        EXPECT_EQ(Level_GetNumPlayerEntities(), 2u);
        EntityRecord* records[2] = {};
        for (int p = 0; p < 2; p++) {
            records[p] = Level_GetPlayerEntity(p) ? Entity_GetRecord(Level_GetPlayerEntity(p)) : nullptr;
            ASSERT_NE(records[p], nullptr) << p;
            EXPECT_EQ(records[p]->mode, (uint32_t)MODE_MAN) << p;
        }
        // Without a model the pose probes read player 0's body as placed.
        char pose[64];
        float x = 9.0f, y = 9.0f, z = 9.0f;
        ASSERT_EQ(GameProbe_Get("player.up", pose, sizeof pose), 1);
        ASSERT_EQ(sscanf(pose, "%f,%f,%f", &x, &y, &z), 3) << pose;
        EXPECT_LT(std::fabs(x) + std::fabs(y - 1.0f) + std::fabs(z), 3e-3f) << pose;
        ASSERT_EQ(GameProbe_Get("player.pos", pose, sizeof pose), 1);
        EXPECT_EQ(std::string(pose).substr(0, 7), "0.0000,") << pose;
        // A long frame moves the entities' clocks by the capped step.
        const float before = Entity_GetTime(records[0]);
        Tick(0.2f);
        EXPECT_NEAR(Entity_GetTime(records[0]), before + 0.05f, 1e-5f);

        // Each viewport sees its own player by its HUD state, the others from outside.
        Player_SetHudState(0, 6);
        Player_SetHudState(1, 4);
        Level_PrepareViewportHuds(0);
        EXPECT_EQ(std::make_pair(records[0]->viewMask, records[1]->viewMask), std::make_pair(6u, 1u));
        Level_PrepareViewportHuds(1);
        EXPECT_EQ(std::make_pair(records[0]->viewMask, records[1]->viewMask), std::make_pair(1u, 4u));

        PlayToTheNextLevel();
        ASSERT_EQ(level->levelIndex, 1);
        for (int p = 0; p < 2; p++) {
            ASSERT_NE(Level_GetPlayerEntity(p), nullptr) << p;
            EXPECT_EQ(Entity_GetRecord(Level_GetPlayerEntity(p)), records[p]) << "the player's record goes on";
        }
        Tick(0.02f);

        Level_OnMenuResult(nullptr, Name_Hash("quitToFrontend", 1, 1));
        EXPECT_TRUE(Leaves());
        EXPECT_FALSE(EntitySystem_Get() || Projectile_GetPool() || Level_GetPlayerEntity(0));
        EXPECT_EQ(std::make_pair(List_Count(Node_GetPool()), List_Count(View_GetPool())), std::make_pair(nodes, views));
        EXPECT_EQ(List_Count(Game_GetPhysicsWorld()->bodyPool), 0u);
        Finish();

        // The keyboard's human on slot 1 beside a controller's computer slot 0 and two more: one player, drawn first.
        for (int p : {0, 2, 3}) ctx->playerKinds[p] = PLAYER_KIND_COMPUTER;
        ctx->playerCount = 1;
        StartLevel({"level1.cfg"});
        int viewport = -1;
        EXPECT_EQ(std::make_tuple(Player_GetViewportIndex(1, &viewport), viewport, Level_GetNumPlayerEntities()),
                  std::make_tuple(1, 0, 1u));
        EXPECT_TRUE(Level_GetPlayerEntity(1) &&
                    !(Level_GetPlayerEntity(0) || Level_GetPlayerEntity(2) || Level_GetPlayerEntity(3)));
        Finish();
    });
}

}  // namespace

TEST_F(LevelStateTest, ThePackingRunAdvancesAsSoonAsALevelHasRendered)
{
    WriteLevels(2);
    RunProgram(
        [] {
            Game_ReadSwitches();
            gametest::WriteData("streams/movies_SKY.txt", "");
            Game_LoadMovieList();  // touches every list, so each lands in the archive
            LevelState* level = StartLevel({"level1.cfg", "level2.cfg"});
            Tick();
            EXPECT_EQ(level->levelIndex, 1);  // the frame before rendered it
            EXPECT_TRUE(Leaves());
            Finish();
        },
        "-quiet -WadProcess");
}
