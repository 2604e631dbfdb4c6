#include "game/level_state.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/pad.h"
#include "common/hash.h"
#include "common/list.h"
#include "engine/mesh.h"
#include "engine/node.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physworld.h"
#include "engine/renderobj.h"
#include "engine/view.h"
#include "frame_capture.h"
#include "game/entity.h"
#include "game/game_setup.h"
#include "game/hit_mode_object.h"
#include "game/level_file.h"
#include "game/loading_screen.h"
#include "game/modes/vehicle_modes.h"
#include "game/modes/walking_modes.h"
#include "game/probe.h"
#include "game/projectile.h"
#include "physics/collision/collision_detection.h"
#include "physics/dynamics/phys_time.h"
#include "platform/dinput/dinput_test.h"
#include "program_fixture.h"
#include "tools/lib/lwowrite.h"
#include "tools/lib/lwswrite.h"

namespace {

// The physics steps the level asked for, through the world's stepping seam:
// the time each step added.
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

uint32_t g_restarts = 0;

// A scene of nulls: "PlayerStart_Null" items (numbered 00, 01, ... by the
// loader) at x = 10 n, z = 5, turned a quarter about y.
std::string StartScene(int starts)
{
    LwsWriterScene scene;
    for (int n = 0; n < starts; n++) {
        LwsWriterItem item;
        item.name = "PlayerStart_Null";
        LwsWriterKey key;
        key.position[0] = 10.0f * (float)n;
        key.position[2] = 5.0f;
        key.rotation[0] = 1.5707964f;
        item.keys.push_back(key);
        scene.items.push_back(item);
    }
    return LwsWriter_Write(scene);
}

// The first character's entity configuration: a ball walking in the Man
// mode, with no visual and no animations.
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
            gametest::WriteConfig(file.c_str(), "game {\n Level {\n levelscene = Levels\\Starts.lws\n"
                                                " levelToUnlock = " + std::to_string(10 + k) +
                                                    "\n loadingScreenIndex = " + std::to_string(k) + "\n }\n}\n");
        }
        gametest::WriteConfig("levels\\level9.cfg", "game {\n Level {\n levelscene = Levels\\Starts.lws\n }\n}\n");
    }

    // The race set-up's list, the context, and the level state entered: it
    // is the stack's only record.
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

    // Whether the stack empties (the level state popped) within 200 frames
    // of 0.05 s.
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

    // Pops the level state when it is still there (its exit runs), then
    // everything the test made goes.
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
        StartLevel({"level1.cfg", "level2.cfg"});
        GameState* levelState = State_GetCurrent();
        MemCardUI_Get()->autosaveEnabled = 1;
        Progress_SetLocked(12, 1);
        Level_OnMenuResult(nullptr, Name_Hash("quitToFrontend", 1, 1));
        EXPECT_TRUE(Level_TestFlags(LEVEL_ENDED | LEVEL_QUIT));
        Tick();
        EXPECT_EQ(MemCardUI_GetPendingMode(), (uint32_t)MEMCARD_MODE_NONE);  // no save screens over a quit
        EXPECT_EQ(State_GetCurrent(), levelState);
        EXPECT_TRUE(Leaves());
        EXPECT_EQ(Progress_TestFlags(11, PROGRESS_COMPLETED), 0);
        EXPECT_EQ(Progress_IsLocked(12), 1);
        EXPECT_EQ(MemCardUITest_GetAutosaveRequests(), 0u);
        MemCardUI_Get()->autosaveEnabled = 0;
        Finish();

        LevelState* level = StartLevel({"level1.cfg", "level2.cfg"});
        ASSERT_NE(level, nullptr);
        EXPECT_STREQ(Level_GetSceneName(), "Levels\\Starts.lws");
        EXPECT_EQ(Level_GetLevelToUnlock(), 11);
        // Without a menu the wait on "loadingScreenContinue" ended at once.
        EXPECT_FALSE(Level_TestFlags(LEVEL_WAIT_CONTINUE));
        Progress_SetLocked(12, 1);

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
        EXPECT_EQ(LoadingScreen_Get()->type, 1u);  // the front end's loading
        EXPECT_EQ(LoadingScreen_Get()->currentIndex, 0);
        EXPECT_EQ(MemCardUITest_GetAutosaveRequests(), 2u);
        Finish();

        StartLevel({"level1.cfg", "level2.cfg"});
        Progress_SetFlags(11, PROGRESS_COMPLETED, 1);
        Level_SetFlags(LEVEL_ENDED, 1);
        EXPECT_TRUE(Leaves());  // not the next level: back to the front end
        Finish();

        StartLevel({"level9.cfg", "level1.cfg"});
        EXPECT_EQ(Level_GetLevelToUnlock(), 0);
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
        ASSERT_EQ(Steps().size(), 1u);
        EXPECT_NEAR(Steps()[0], 0.05, 1e-6);
        ASSERT_EQ(Updates().size(), 1u);
        EXPECT_FLOAT_EQ(Updates()[0], 0.05f);
        EXPECT_FLOAT_EQ(Game_GetFrameTime(), 0.05f);
        Level_SetFlags(LEVEL_SKIP_PHYSICS, 1);
        Tick(0.01f);
        EXPECT_EQ(Steps().size(), 1u);  // skipped, but the objects ran
        EXPECT_EQ(Updates().size(), 2u);
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
        const LevelSession* s = Level_GetSession();
        EXPECT_FLOAT_EQ(s->stamp, Level_GetClock());
        EXPECT_FLOAT_EQ(s->stampDuration, 0.2f);
        MenuTest_SetOpen(0);
        Tick(0.02f);
        EXPECT_EQ(Updates().size(), 2u);
        Finish();
    });
}

TEST_F(LevelStateTest, MenuResultsChangeTheRuleEndOrRestartAndEachRuleSetsUpItsPickups)
{
    WriteLevels(1);
    RunProgram([] {
        StartLevel({"level1.cfg"});
        Level_SetRestartCallback([](uint32_t) { g_restarts++; });
        g_restarts = 0;
        Level_OnMenuResult(nullptr, 0);
        EXPECT_EQ(g_restarts, 0u);
        Level_OnMenuResult(nullptr, Name_Hash("noSuchEntry", 1, 1));
        EXPECT_EQ(g_restarts, 1u);

        struct Case {
            const char* name;
            uint32_t rule;
            int difficulty;  // -1: unchanged
        } rules[] = {{"countDown", RULE_COUNTDOWN, -1}, {"hardPickupAmount", RULE_SCORE_PICKUPS, 2},
                     {"beatTime", RULE_BEATTIME, -1},   {"easyPickupAmount", RULE_SCORE_PICKUPS, 0},
                     {"normal", RULE_NORMAL, -1},       {"hiddenPickups", RULE_HIDDEN_PICKUPS, -1}};
        for (const Case& c : rules) {
            Game_SetDifficulty(1);
            LevelTest_ClearActivations();
            Level_OnMenuResult(nullptr, Name_Hash(c.name, 1, 1));
            EXPECT_EQ(Level_GetGameRule(), c.rule) << c.name;
            EXPECT_EQ(Game_GetDifficulty(), c.difficulty < 0 ? 1u : (uint32_t)c.difficulty) << c.name;
            EXPECT_GT(LevelTest_GetActivations(nullptr), 0u) << c.name;  // the pickups set up again
        }
        EXPECT_EQ(g_restarts, 1u);
        // A rule that is not listed among the results restarts.
        Level_OnMenuResult(nullptr, Name_Hash("race", 1, 1));
        EXPECT_EQ(g_restarts, 2u);

        // "startLevel": a level not completed gets its pickups; a completed
        // one only loses its lock.
        Progress_SetLocked(11, 1);
        LevelTest_ClearActivations();
        Level_OnMenuResult(nullptr, Name_Hash("startLevel", 1, 1));
        EXPECT_GT(LevelTest_GetActivations(nullptr), 0u);
        EXPECT_EQ(Progress_IsLocked(11), 0);
        Progress_SetFlags(11, PROGRESS_COMPLETED | PROGRESS_LOCKED, 1);
        LevelTest_ClearActivations();
        Level_OnMenuResult(nullptr, Name_Hash("startLevel", 1, 1));
        EXPECT_EQ(LevelTest_GetActivations(nullptr), 0u);
        EXPECT_EQ(Progress_IsLocked(11), 0);

        Level_OnMenuResult(nullptr, Name_Hash("nextLevel", 1, 1));
        EXPECT_TRUE(Level_TestFlags(LEVEL_ENDED));
        EXPECT_FALSE(Level_TestFlags(LEVEL_QUIT));
        Finish();

        StartLevel({"level1.cfg"});  // with the level's own restart callback
        struct Pickups {
            uint32_t rule;
            std::vector<std::string> names;
            bool difficulty;
        } pickups[] = {
            {RULE_NORMAL, {"LEVEL_COMP"}, false},
            {RULE_SCORE_PICKUPS, {"SCORE_PICKUP", "LEVEL_COMP"}, true},
            {RULE_COUNTDOWN, {"SCORE_PICKUP"}, true},
            {RULE_BEATTIME, {"LEVEL_COMP"}, false},
            {RULE_HIDDEN_PICKUPS, {"HIDDEN_PICKUP"}, false},
            {RULE_COUNTDOWN_MUST_COMPLETE, {"SCORE_PICKUP"}, true},
            {RULE_RACE, {}, false},
        };
        for (const Pickups& c : pickups) {
            GameSetup_Reset();
            Game_SetDifficulty(2);
            Level_SetGameRule(c.rule);
            LevelTest_ClearActivations();
            Level_SetClock2(9.0f);
            Level_Restart(0);  // the restart callback: rule clock 0, then the pickups
            EXPECT_EQ(Level_GetClock2(), 0.0f);
            const LevelPickupActivation* a;
            const uint32_t n = LevelTest_GetActivations(&a);
            ASSERT_EQ(n, c.names.size()) << c.rule;
            for (uint32_t i = 0; i < n; i++) {
                EXPECT_EQ(a[i].name, c.names[i]) << c.rule;
                EXPECT_EQ(a[i].event, 8u);
            }
            for (int p = 0; p < GAMESETUP_PLAYERS; p++)
                EXPECT_EQ(GameSetup_GetPlayerDifficulty(p), c.difficulty ? 2u : 0u) << c.rule << " player " << p;
            Tick();
            EXPECT_EQ(Level_GetEvents() & LEVEL_EVENT_RESPAWN, (uint32_t)LEVEL_EVENT_RESPAWN);
        }
        Finish();
    });
}

TEST_F(LevelStateTest, ThePlayersAreTheSlotsWithAKindHumansFirstEachWithAnEntityAtItsStart)
{
    WriteLevels(1, 5);
    WriteCharacter();
    // Kinds of slots 0..3 (0 none, 1 human, 2 computer) and the context's
    // player count; each slot's start (-1: none, no entity, no view).
    const struct {
        uint32_t kinds[4];
        uint32_t count;
        int start[4];
    } cases[] = {
        {{1, 2, 0, 0}, 0, {0, 1, -1, -1}},   // a count of 0 takes every slot
        {{1, 2, 2, 2}, 1, {0, -1, -1, -1}},  // one human beside computer slots (the level grids)
        {{2, 1, 2, 2}, 1, {-1, 0, -1, -1}},  // the keyboard's human on slot 1 beside a controller
        {{1, 2, 1, 2}, 2, {0, -1, 1, -1}},   // two humans split the screen, whatever their slots
        {{2, 1, 2, 2}, 0, {1, 0, 2, 3}},
    };
    RunProgram([&cases] {
        WalkingModes_Register();
        for (const auto& c : cases) {
            Game_ResetContext();
            Game_LoadCharacterList();
            GameContext* ctx = Game_GetContext();
            for (int p = 0; p < 4; p++) {
                ctx->playerKinds[p] = c.kinds[p];
                ctx->characters[p] = 0;
            }
            ctx->playerCount = c.count;
            StartLevel({"level1.cfg"});
            uint32_t players = 0;
            for (int p = 0; p < 4; p++) {
                const int start = c.start[p];
                players += start >= 0;
                int viewport = -1;
                EXPECT_EQ(Player_GetViewportIndex(p, &viewport), start >= 0 ? 1 : 0) << p;
                Object* entity = Level_GetPlayerEntity(p);
                ASSERT_EQ(entity != nullptr, start >= 0) << p;
                if (start < 0) continue;
                EXPECT_EQ(viewport, start) << p;
                Vec3 position = {}, at = {}, up = {};
                Player_GetStart(p, &position, &at, &up);
                EXPECT_NEAR(position.x, 10.0f * start, 1e-4f) << p;
                EXPECT_NEAR(position.z, 5.0f, 1e-4f) << p;
                EXPECT_NEAR(std::fabs(at.x), 1.0f, 1e-3f) << p;  // a quarter turn
                EXPECT_NEAR(up.y, 1.0f, 1e-3f) << p;
                Node_GetWorldPosition(entity->node, &position);
                EXPECT_NEAR(position.x, 10.0f * start, 1e-3f) << p;
            }
            EXPECT_EQ(Level_GetNumPlayerEntities(), players);
            EXPECT_EQ(Level_GetNumViewports(), players);
            if (c.count == 0) {
                // Item 04 names no player of the level: consumed, and no start.
                Node* item = Node_Create(nullptr);
                Node_SetName(item, "PlayerStart_Null_04");
                EXPECT_EQ(Level_FindPlayerStarts(item, "PlayerStart_Null"), 1);
                Node_SetName(item, "PlayerStart_Null");
                EXPECT_EQ(Level_FindPlayerStarts(item, "PlayerStart_Null"), 1);
                Node_SetName(item, "Crate_01");
                EXPECT_EQ(Level_FindPlayerStarts(item, "Crate"), 0);
                Node_Destroy(item);
            }
            Finish();
        }
    });
}

int SetsFog(void* item, void* seen)
{
    const uint32_t fog = ((const RenderObj*)item)->blendFlags & RENDEROBJ_FOG;
    ((uint32_t*)seen)[fog ? 1 : 0]++;
    return 0;
}

TEST_F(LevelStateTest, MapLoadFogOnLoadsTheScenesAndTheBackDomesMeshesWithFog)
{
    // A green wall 100 ahead of the camera, as a scene object and in the back
    // dome; linear red fog from 10 to the far clip (250).
    LwoWriterObject wall;
    wall.tags = {"Green"};
    wall.surfaces.resize(1);
    wall.surfaces[0].name = "Green";
    wall.surfaces[0].colour[0] = wall.surfaces[0].colour[2] = 0.0f;
    wall.surfaces[0].colour[1] = 1.0f;
    LwoWriterLayer layer;
    layer.points = {-300, -300, 0, 300, -300, 0, 300, 300, 0, -300, 300, 0};
    layer.polygons = {{{0, 1, 2}, 0}, {{0, 2, 3}, 0}, {{2, 1, 0}, 0}, {{3, 2, 0}, 0}};  // both faces
    wall.layers = {layer};
    const std::vector<uint8_t> bytes = LwoWriter_Write(wall);
    for (const char* name : {"Levels/Fog/Wall.lwo", "Levels/Fog/Dome.lwo"})
        gametest::WriteData(name, std::string(bytes.begin(), bytes.end()));
    gametest::WriteConfig(
        "Levels\\Fog\\Wall.cfg",
        "Object {\n Description {\n  Name = Wall\n  VisualModel = Levels\\Fog\\Wall.lwo\n"
        "  PhysicalModel = NOCOLLISION\n  Mass = 0\n  Constructor = GenericObject_Constructor\n }\n}\n");
    for (const char* scene : {"Levels/Fog/Level.lws", "Levels/Fog/Dome.lws"}) {
        LwsWriterScene s;
        LwsWriterItem item;
        item.kind = strstr(scene, "Dome") ? LwsWriterItem::OBJECT : LwsWriterItem::NUL;
        item.name = strstr(scene, "Dome") ? "Dome.lwo" : "Wall";
        LwsWriterKey key;
        key.position[2] = 100.0f;
        item.keys.push_back(key);
        s.items.push_back(item);
        gametest::WriteData(scene, LwsWriter_Write(s));
    }
    for (const bool fog : {false, true}) {
        gametest::WriteConfig(fog ? "levels\\fog.cfg" : "levels\\clear.cfg",
                              std::string("game {\n Level {\n levelscene = Levels\\Fog\\Level.lws\n"
                                          " levelConfigs = Levels\\Fog\n BackDomePath = Levels\\Fog\\Dome.lws\n"
                                          " FogColourRGB = 255, 0, 0\n FogDistance = 10\n MapLoadFogOn = ") +
                                  (fog ? "TRUE" : "FALSE") + "\n }\n}\n");
    }
    RunProgram([] {
        for (const bool fog : {false, true}) {
            StartLevel({fog ? "fog.cfg" : "clear.cfg"});
            uint32_t seen[2] = {0, 0};  // render objects without and with fog
            List_ForEach(RenderObj_GetPool(), SetsFog, seen);
            EXPECT_EQ(seen[fog ? 1 : 0], 2u) << fog << ": the wall of the scene and the dome's";
            EXPECT_EQ(seen[fog ? 0 : 1], 0u) << fog;
            EXPECT_EQ(Mesh_GetFog(), 0) << "later loads go without";
            View_SetMainUpdating(1);
            Level_Render(State_GetCurrent());
            View_SetMainUpdating(0);
            // In fog the wall's green gives way to red by 90 / 240.
            const uint32_t pixel = capture::Pixel(320, 240);
            EXPECT_LE(capture::Distance(pixel, fog ? 0x609F00u : 0x00FF00u), 12) << std::hex << pixel;
            Finish();
        }
    });
}

TEST_F(LevelStateTest, TheGroupPairTableSeparatesTheGroups)
{
    RunProgram([] {
        Game_RecreatePhysicsWorld();
        ObjectWorld_Init();
        ObjectWorld_SetPhysicsWorld(Game_GetPhysicsWorld());
        Level_SetupCollisionGroups();
        const uint32_t* masks = PhysWorld_GetWorldObject(Game_GetPhysicsWorld())->detection->groupMasks;
        auto collide = [&](int a, int b) { return (masks[a - 1] >> (b - 1) & 1u) != 0; };
        for (int g = 1; g <= 7; g++) EXPECT_EQ(collide(3, g), g == 2) << "group 3 with " << g;
        for (int a : {6, 7})
            for (int b : {6, 7}) EXPECT_FALSE(collide(a, b)) << a << " with " << b;
        EXPECT_TRUE(collide(1, 1));
        EXPECT_TRUE(collide(1, 7));  // pairs are symmetric
        EXPECT_TRUE(collide(4, 6));
        int pairs = 0;
        for (int a = 1; a <= 32; a++)
            for (int b = a; b <= 32; b++) pairs += collide(a, b);
        EXPECT_EQ(pairs, 15);
        ObjectWorld_Shutdown();
        PhysWorlds_DestroyAll();
        Game_SetPhysicsWorld(nullptr);
        State_Reset();
    });
}

TEST_F(LevelStateTest, ThePackingRunAdvancesAsSoonAsALevelHasRendered)
{
    WriteLevels(2);
    RunProgram(
        [] {
            Game_ReadSwitches();
            ASSERT_EQ(Game_GetWadProcess(), 1);
            LevelState* level = StartLevel({"level1.cfg", "level2.cfg"});
            EXPECT_FALSE(Level_TestFlags(LEVEL_WAIT_CONTINUE));
            Tick();
            EXPECT_EQ(level->levelIndex, 1);  // the frame before rendered it
            int alive = 1;
            for (int f = 0; f < 5 && alive; f++) alive = Tick();
            EXPECT_EQ(alive, 0);
            Finish();
        },
        "-quiet -WadProcess");
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
            Object* hero = Level_GetPlayerEntity(p);
            ASSERT_NE(hero, nullptr) << p;
            records[p] = Entity_GetRecord(hero);
            ASSERT_NE(records[p], nullptr) << p;
            EXPECT_EQ(records[p]->mode, (uint32_t)MODE_MAN) << p;  // placed at its start: see the slots' test
        }
        // Without a model the pose probes read player 0's body as placed.
        char pose[64];
        float x = 9.0f, y = 9.0f, z = 9.0f;
        ASSERT_EQ(GameProbe_Get("player.up", pose, sizeof pose), 1);
        ASSERT_EQ(sscanf(pose, "%f,%f,%f", &x, &y, &z), 3) << pose;
        EXPECT_NEAR(x, 0.0f, 1e-3f) << pose;
        EXPECT_NEAR(y, 1.0f, 1e-3f) << pose;
        EXPECT_NEAR(z, 0.0f, 1e-3f) << pose;
        ASSERT_EQ(GameProbe_Get("player.pos", pose, sizeof pose), 1);
        EXPECT_EQ(std::string(pose).substr(0, 7), "0.0000,") << pose;
        // A long frame moves the entities' clocks by the capped step.
        const float before = Entity_GetTime(records[0]);
        Tick(0.2f);
        EXPECT_NEAR(Entity_GetTime(records[0]), before + 0.05f, 1e-5f);

        // Each viewport sees its own player by its HUD state, the others
        // from outside.
        Player_SetHudState(0, 6);
        Player_SetHudState(1, 4);
        Level_PrepareViewportHuds(0);
        EXPECT_EQ(records[0]->viewMask, 6u);
        EXPECT_EQ(records[1]->viewMask, 1u);
        Level_PrepareViewportHuds(1);
        EXPECT_EQ(records[0]->viewMask, 1u);
        EXPECT_EQ(records[1]->viewMask, 4u);

        PlayToTheNextLevel();
        ASSERT_EQ(level->levelIndex, 1);
        for (int p = 0; p < 2; p++) {
            Object* hero = Level_GetPlayerEntity(p);
            ASSERT_NE(hero, nullptr) << p;
            EXPECT_EQ(Entity_GetRecord(hero), records[p]) << "the player's record goes on";
        }
        Tick(0.02f);

        Level_OnMenuResult(nullptr, Name_Hash("quitToFrontend", 1, 1));
        EXPECT_TRUE(Leaves());
        EXPECT_EQ(EntitySystem_Get(), nullptr);
        EXPECT_EQ(Projectile_GetPool(), nullptr);
        EXPECT_EQ(Level_GetPlayerEntity(0), nullptr);
        EXPECT_EQ(List_Count(Node_GetPool()), nodes);
        EXPECT_EQ(List_Count(View_GetPool()), views);
        EXPECT_EQ(List_Count(Game_GetPhysicsWorld()->bodyPool), 0u);
        Finish();
    });
}

TEST_F(LevelStateTest, TheLevelFilesGravityPullsTheLevelsBodiesAndTheNextLevelStartsFromTheDefault)
{
    WriteLevels(1);
    gametest::WriteConfig("levels\\heavy.cfg", "game {\n Level {\n levelToUnlock = 30\n gravity = 0, -20, 0\n }\n}\n");
    RunProgram([] {
        StartLevel({"heavy.cfg", "level1.cfg"});
        ASSERT_EQ(ObjectWorld_GetPhysicsWorld(), Game_GetPhysicsWorld());
        // A ball dropped in the level falls at the level's pull.
        auto fallSpeed = [] {
            ObjectDescription d = {};
            strcpy(d.physicalModel, "SPHERE1");
            d.mass = 1.0f;
            d.active = 1;
            Object* ball = Object_Create(Level_GetObjectList(), &d);
            EXPECT_NE(ball, nullptr);
            if (!ball || !ball->body) return 0.0f;
            Object_Sync(ball, OBJECT_SYNC_ALL);  // into the world
            Tick(0.05f);
            Vec3 v = {};
            PhysBody_GetLinearVelocity(ball->body, &v);
            return -v.y;
        };
        EXPECT_NEAR(fallSpeed(), 20.0f * 0.05f, 0.05f);
        PlayToTheNextLevel();
        EXPECT_EQ(Level_GetLevelToUnlock(), 11);
        EXPECT_NEAR(fallSpeed(), 9.81f * 0.05f, 0.05f);
        Finish();
    });
}

// The pause menu of the levels: the loading page dismissed by its one
// entry, and the pause page whose first entry quits.
const char kInGameMenu[] =
    "MenuData {\n"
    " loadingScreenContinue {\n  go {\n   MenuItem = TRUE\n   MenuSelection = continue\n  }\n }\n"
    " pauseMenuMain {\n  quit {\n   MenuItem = TRUE\n   MenuItemInitSelected = TRUE\n"
    "   MenuSelection = quitToFrontend\n  }\n }\n"
    "}\n";

// One pad update with these keys down (every other key up).
void Keys(std::initializer_list<uint8_t> keys)
{
    DInputTest_ResetState();
    for (uint8_t key : keys) DInputTest_PushKey(key, 1);
    Pad_Update(0.016f);
}

TEST_F(LevelStateTest, EachLoadWaitsOnItsPageEscapeOpensThePauseMenuWhoseQuitLeavesButTheAttractDemoWaitsForNothing)
{
    WriteLevels(2);
    gametest::WriteConfig("InGameMenu.cfg", kInGameMenu);
    RunProgram([] {
        LevelState* level = StartLevel({"level1.cfg", "level2.cfg"});
        Player_AssignDevices();
        GameContext* ctx = Game_GetContext();
        for (int p = 0; p < GAME_PLAYER_SLOTS; p++) ctx->inputDevices[p] = Player_GetInputDevice(p);
        MenuSystem* menu = Level_GetInGameMenu();
        ASSERT_NE(menu, nullptr);
        for (int f = 0; f < 3; f++) Tick();
        EXPECT_TRUE(Menu_IsOpen(menu));
        EXPECT_TRUE(Level_TestFlags(LEVEL_WAIT_CONTINUE));
        Menu_SetOpen(menu, 0, 0);  // the player dismissed the page
        Tick();
        EXPECT_FALSE(Level_TestFlags(LEVEL_WAIT_CONTINUE));

        // The next level brings a menu of its own, which waits again.
        PlayToTheNextLevel();
        ASSERT_EQ(level->levelIndex, 1);
        menu = Level_GetInGameMenu();
        ASSERT_NE(menu, nullptr);
        Tick();
        EXPECT_TRUE(Menu_IsOpen(menu));
        EXPECT_TRUE(Level_TestFlags(LEVEL_WAIT_CONTINUE));
        Menu_SetOpen(menu, 0, 0);
        Tick();

        Keys({0x01});  // Escape
        Tick();
        ASSERT_TRUE(Menu_IsOpen(menu));
        EXPECT_EQ(Menu_GetCurrentPage(menu), Menu_FindPage(menu, Name_Hash("pauseMenuMain", 1, 1)));
        Keys({});
        Tick();
        EXPECT_FALSE(Level_TestFlags(LEVEL_RULE_CLOCK));  // stopped while the menu is up
        Keys({0x1C});                                     // Return on "quit"
        Tick();
        Keys({});
        EXPECT_TRUE(Level_TestFlags(LEVEL_ENDED | LEVEL_QUIT));
        EXPECT_EQ(Progress_TestFlags(12, PROGRESS_COMPLETED), 0);
        EXPECT_TRUE(Leaves());
        EXPECT_EQ(Progress_TestFlags(12, PROGRESS_COMPLETED), 0);
        Finish();

        // The attract demo plays without anyone: no page waits after its load,
        // Escape opens no pause menu, and any key or its own end leaves it as a
        // quit does (no progress, no autosave); the demo's mark goes with it.
        Progress_SetFlags(11, PROGRESS_COMPLETED, 0);
        MemCardUITest_Reset();
        const int kEnd = 0;  // no key: the level ends by itself
        for (int key : {0x01, kEnd}) {  // Escape, a key like any other here
            StartLevel({"level1.cfg", "level2.cfg"}, true);
            MenuSystem* menu = Level_GetInGameMenu();
            ASSERT_NE(menu, nullptr);
            Tick();
            EXPECT_FALSE(Menu_IsOpen(menu)) << key;
            EXPECT_FALSE(Level_TestFlags(LEVEL_WAIT_CONTINUE));
            if (key == kEnd) {
                Level_SetFlags(LEVEL_ENDED, 1);
            } else {
                Keys({(uint8_t)key});
                Tick();
                Keys({});
                EXPECT_FALSE(Menu_IsOpen(menu)) << key;
                EXPECT_TRUE(Level_TestFlags(LEVEL_ENDED | LEVEL_QUIT)) << key;
            }
            EXPECT_TRUE(Leaves()) << key;
            EXPECT_EQ(Progress_TestFlags(11, PROGRESS_COMPLETED), 0) << key;
            EXPECT_EQ(MemCardUITest_GetAutosaveRequests(), 0u) << key;
            EXPECT_EQ(GameSetup_IsDemo(), 0);
            Finish();
        }
    });
}

// A hit-mode prop of the group that starts out of play, with no visual and
// no body.
void WriteProp(const char* path, const char* group)
{
    gametest::WriteConfig(path, std::string("Object {\n Description {\n  VisualModel = NOVISUAL\n"
                                            "  PhysicalModel = NOCOLLISION\n  Mass = 0\n"
                                            "  Constructor = VavadUtils_HitModeObject_Constructor\n"
                                            "  Destructor = VavadUtils_HitModeObject_Destructor\n"
                                            "  Update = VavadUtils_HitModeObject_Update\n  BoolVal0 = TRUE\n"
                                            "  StringVal1 = ") +
                                    group + "\n }\n}\n");
}

// The level's hit-mode prop of the group, or null.
Object* PropOf(const char* group)
{
    struct Find {
        uint32_t hash;
        Object* found;
    } find = {ObjectEvent_GroupHash(group), nullptr};
    List_ForEach(
        Level_GetObjectList(),
        [](void* item, void* arg) {
            Find* f = (Find*)arg;
            const HitModeRecord* r = HitModeObject_GetRecord((Object*)item);
            if (r && r->groupHash == f->hash) f->found = (Object*)item;
            return 0;
        },
        &find);
    return find.found;
}

TEST_F(LevelStateTest, ASceneGetsItsEntitiesAndRestartsAndRuleChoicesActivateTheRulesPickups)
{
    LwsWriterScene scene;
    for (const char* name : {"PlayerStart_Null", "entity_Frog", "entity_Frog", "Coin", "Gem", "Flag"}) {
        LwsWriterItem item;
        item.name = name;
        LwsWriterKey key;
        key.position[0] = 4.0f * (float)scene.items.size();
        item.keys.push_back(key);
        scene.items.push_back(item);
    }
    gametest::WriteData("Levels/Props.lws", LwsWriter_Write(scene));
    WriteProp("Levels\\Props\\Coin.cfg", "SCORE_PICKUP");
    WriteProp("Levels\\Props\\Gem.cfg", "HIDDEN_PICKUP");
    WriteProp("Levels\\Props\\Flag.cfg", "LEVEL_COMP");
    // Scene entities: each "entity_Frog" item reads Frog.cfg from the level's configurations.
    gametest::WriteConfig("Levels\\Props\\Frog.cfg",
                          "Object {\n Description {\n VisualModel = NOVISUAL\n PhysicalModel = SPHERE0.5\n Mass = 1\n"
                          " CollisionGroup = 2\n Constructor = Entity_Constructor\n Destructor = Entity_Destructor\n"
                          " Update = Entity_Update\n Collision = Entity_Collision\n }\n}\n"
                          "vehicle {\n vehicleData {\n ControlMode = Thrusting\n maxVelocity = 20\n }\n}\n");
    WriteCharacter();
    gametest::WriteConfig("levels\\props.cfg",
                          "game {\n Level {\n levelscene = Levels\\Props.lws\n"
                          " levelConfigs = Levels\\Props\n DefaultGameType = scorePickups\n"
                          " }\n}\n");
    RunProgram([] {
        WalkingModes_Register();
        VehicleModes_Register();
        Game_ResetContext();
        Game_LoadCharacterList();
        StartLevel({"props.cfg"});
        Object* hero = Level_GetPlayerEntity(0);
        ASSERT_NE(hero, nullptr);
        EXPECT_EQ(Entity_GetRecord(hero)->mode, (uint32_t)MODE_MAN);
        EXPECT_NE(Entity_GetRecord(hero)->modeData, nullptr);  // the registered row's data block
        EXPECT_EQ(List_Count(EntitySystem_Get()->pool), 3u);   // the player and two frogs
        Object* coin = PropOf("SCORE_PICKUP");
        Object* gem = PropOf("HIDDEN_PICKUP");
        Object* flag = PropOf("LEVEL_COMP");
        ASSERT_TRUE(coin && gem && flag);
        auto active = [](Object* o) { return HitModeObject_TestState(o, HITSTATE_ACTIVE) != 0; };
        Tick();
        EXPECT_FALSE(active(coin) || active(gem) || active(flag)) << "a level starts with no pickup in play";

        Level_Restart(0);  // as a mode restarts the level
        Tick();
        Tick();
        EXPECT_TRUE(active(coin));
        EXPECT_TRUE(active(flag));
        EXPECT_FALSE(active(gem));

        Level_OnMenuResult(nullptr, Name_Hash("hiddenPickups", 1, 1));
        Tick();
        Tick();
        EXPECT_TRUE(active(gem));
        Finish();
    });
}

// A front end that leaves at once, counted.
int g_frontEnds = 0;
GameState* FakeFrontEnd()
{
    g_frontEnds++;
    GameState* state = State_Create();
    if (state) State_SetUpdate(state, [](GameState*, float) -> GameState* { return nullptr; });
    return state;
}

TEST_F(LevelStateTest, ADirectStartPlaysItsLevelOverTheRootAndThenReachesTheFrontEnd)
{
    WriteLevels(3);
    RunProgram(
        [] {
            const GameStateHooks hooks = {FakeFrontEnd, nullptr, nullptr};
            GameStateHooks_Install(&hooks);
            g_frontEnds = 0;
            GameState* root = Game_CreateRootState();
            for (int f = 0; f < 5 && !Level_GetState(); f++) State_Update(0.02f);
            ASSERT_NE(Level_GetState(), nullptr);
            Tick();
            EXPECT_STREQ(GameSetup_GetLevel(0), "level3.cfg");
            EXPECT_EQ(Level_GetLevelToUnlock(), 13);
            EXPECT_EQ(State_GetCurrent()->previous, root);

            Level_OnMenuResult(nullptr, Name_Hash("quitToFrontend", 1, 1));
            for (int f = 0; f < 200 && Level_GetState(); f++) Tick(0.05f);
            EXPECT_EQ(State_GetCurrent(), root);  // back on the root
            EXPECT_EQ(Game_GetRequestedState(), (uint32_t)GAME_REQUEST_FRONTEND);
            Tick();
            EXPECT_EQ(g_frontEnds, 1);
            Finish();
        },
        "-quiet -leveltype Glim -levelnumber 3");
}

}  // namespace
