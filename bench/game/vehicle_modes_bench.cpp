// Benchmarks of the skating, rolling, flying and battling modes, each over a
// level of its own in a temporary folder (nodes-only scenes, no device):
//   BM_BattleBladesArena  one level frame (rules, physics step, entities,
//                         objects, projectiles) of an arena with a scripted
//                         player top and three computer tops, 600 frames at
//                         1/60 s per iteration; reports microseconds per frame
//                         and the share spent in the tops' slots;
//   BM_BroomStickFrame    one BroomStick entity update with 20 lock-on
//                         candidates in view and ten score pop-ups flying.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/config.h"
#include "app/file.h"
#include "app/soundbank.h"
#include "app/text.h"
#include "engine/physbody.h"
#include "engine/physray.h"
#include "engine/physshape.h"
#include "engine/physworld.h"
#include "game/entity.h"
#include "game/game_context.h"
#include "game/level_session.h"
#include "game/modes/battleblades_mode.h"
#include "game/modes/broomstick_mode.h"
#include "game/modes/vehicle_modes.h"
#include "gfx/core/engine.h"
#include "bench/game/bench_level.h"
#include "tools/lib/atfwrite.h"
#include "tools/lib/cfgc.h"
#include "tools/lib/lwswrite.h"
#include "tools/lib/rbswrite.h"

namespace {

constexpr float kDt = 1.0f / 60.0f;

using namespace benchlevel;

std::string Entity(const char* mode, const std::string& vehicle)
{
    return "Object {\n Description {\n VisualModel = NOVISUAL\n PhysicalModel = SPHERE0.5\n Mass = 1\n"
           " Active = TRUE\n CollisionGroup = 2\n RemoveFromPickList = 1\n Constructor = Entity_Constructor\n"
           " Destructor = Entity_Destructor\n Update = Entity_Update\n Collision = Entity_Collision\n }\n}\n"
           "vehicle {\n vehicleData {\n ControlMode = " +
           std::string(mode) + "\n maxVelocity = 20\n EntityType0 = 2\n }\n" + vehicle + "}\n";
}

// Time spent in the tops' slots: every slot of the row goes through a timer.
double g_slotSeconds = 0.0;
ControlModeSlots g_blades;
struct SlotTimer {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    ~SlotTimer() { g_slotSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); }
};
void TimedUpdate(Object* o, EntityRecord* r, PlayerInputRecord* i)
{
    SlotTimer t;
    g_blades.update(o, r, i);
}
void TimedRules(Object* o, EntityRecord* r, PlayerInputRecord* i)
{
    SlotTimer t;
    g_blades.rules(o, r, i);
}
void TimedRoute(Object* o, EntityRecord* r, PlayerInputRecord* i)
{
    SlotTimer t;
    g_blades.route(o, r, i);
}
void TimedCollision(Object* o, EntityRecord* r, Object* other, uint32_t side)
{
    SlotTimer t;
    g_blades.collision(o, r, other, side);
}

class Level : public BenchLevel {
public:
    Level() : BenchLevel("vehicle_modes_bench", VehicleModes_Register)
    {
        Game_SetFrameTime(kDt);
        GameContext* c = Game_GetContext();
        c->characterCount = 1;
        snprintf(c->characterNames[0], sizeof c->characterNames[0], "Hero");
        c->playerKinds[0] = PLAYER_KIND_HUMAN;
        Player_SetViewportIndex(0, 0);
        Level_SetNumPlayerEntities(1);
        Level_SetNumViewports(1);
        camera_ = Node_Create(ObjectWorld_GetRootNode());
        Level_GetSession()->viewports[0].cameraFrame = camera_;
        // A floor in the pick list.
        std::vector<uint8_t> rbs = Rbs_Write({Rbs_Box(0.0f, 60.0f, 1.0f, 60.0f)});
        PhysBody* floor = PhysShape_ParseRbs(rbs.data(), rbs.size(), modules.phys);
        const Vec3 at = {0.0f, -1.0f, 0.0f};
        PhysBody_SetCollisionGroup(floor, 1);
        PhysWorld_AddBody(modules.phys, floor, &at, nullptr, nullptr);
        PhysContacts_AddBody(floor);
    }
    void Frame(PlayerInputRecord* pad)
    {
        Rules_Update(kDt);
        if (pad) *Player_GetInputRecord(0) = *pad;
        PhysWorld_Step(modules.phys, kDt);
        Level_UpdateObjects(kDt);
        ObjectPool_Update(modules.objects, &kDt);
        Projectile_UpdatePool(kDt);
    }

private:
    Node* camera_ = nullptr;
};

const char kTopKeys[] =
    " controlData {\n forwardVelStep = 12\n damping = 0.2, 0, 0.2\n slowdown = 0.5, 0, 0.5\n dieInAirVel = -50\n"
    "  dieInAirTime = 10\n drawDamageGiven = 0.2\n winDamageGiven = 0.4\n minDamageGiven = 4\n"
    "  drawReboundVelMultiply = 0.5\n winReboundVelMultiply = 0.3\n loseReboundVelMultiply = 0.8\n"
    "  initNumIce = 3\n initNumWater = 3\n initNumFire = 3\n aiVisionRadius = 30\n aiFollowRadius = 12\n"
    "  aiDifficultyLevel = 0.7\n aiReactionTime = 2\n aiRespawn = TRUE\n aiRespawnTime = 1\n aiAttackSpeed = 6\n"
    "  aiMovementThinkTime = 0.3\n aiVirtualViewingAngle = 90\n aiVirtualViewingAngleChangeSpeed = 180\n"
    "  spinSlowdownPerSec = 0.002\n aiEntityTypeToAttack0 = 2\n camMode0RailDist = 6\n"
    "  genCamData {\n defaultDistance = 6\n rotationSpeeds = 180, 180, 180\n }\n }\n"
    " Anim0Path = Tops\\Top\n Anim0RBRelMode = 1\n Anim1Path = Tops\\Hit\n Anim1RBRelMode = 1\n";

void BM_BattleBladesArena(benchmark::State& state)
{
    Level level;
    WriteAnimSet(
        "Tops\\Top", "Anim0",
        {"iceBlade", "waterBlade", "fireBlade", "changeBlade", "iceBladeDying", "waterBladeDying", "fireBladeDying"});
    WriteAnimSet("Tops\\Hit", "Anim1", {"default", "damage"});
    WriteConfig("carddata\\entityconfigs\\Hero.cfg", Entity("BattleBlades", kTopKeys));
    WriteConfig("Levels\\Bench\\Top.cfg", Entity("BattleBlades", kTopKeys));
    WriteScene("Levels\\Bench\\Level.lws", {Item("PlayerStart_Null", 0, 1, 0), Item("entity_Top", 8, 1, 8),
                                            Item("entity_Top", -8, 1, 8), Item("entity_Top", 0, 1, -10)});
    g_blades = *ControlMode_GetSlots(MODE_BATTLEBLADES);
    ControlModeSlots timed = g_blades;
    timed.update = TimedUpdate;
    timed.rules = TimedRules;
    timed.route = TimedRoute;
    timed.collision = TimedCollision;
    ControlMode_Register(MODE_BATTLEBLADES, &timed, sizeof(BattleBladesData));
    if (Entity_CreateFromLevel("Levels\\Bench\\Level.lws") != 4) state.SkipWithError("tops not made");
    double frameSeconds = 0.0, slotSeconds = 0.0;
    int64_t frames = 0;
    float t = 0.0f;
    for (auto _ : state) {
        g_slotSeconds = 0.0;
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 600; ++i) {
            t += kDt;
            PlayerInputRecord pad{};
            pad.stickX = std::sin(t * 1.3f);
            pad.stickY = std::cos(t * 0.7f);
            pad.buttons = ((int)(t * 2.0f) % 7 == 0) ? 0x20u : 0u;
            level.Frame(&pad);
        }
        frameSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        slotSeconds += g_slotSeconds;
        frames += 600;
    }
    state.counters["us_per_frame"] = frameSeconds / (double)frames * 1e6;
    state.counters["slot_share"] = frameSeconds > 0.0 ? slotSeconds / frameSeconds : 0.0;
}
BENCHMARK(BM_BattleBladesArena)->Unit(benchmark::kMillisecond);

void BM_BroomStickFrame(benchmark::State& state)
{
    Level level;
    WriteAnimSet("Brooms\\Rider", "Anim0", {"fly", "fire", "stunned"});
    WriteAnimSet("Brooms\\Lock", "Anim1", {"on"});
    WriteAnimSet("Bench\\Idle", "Anim0", {"idle"});
    WriteConfig("Shots\\Bolt.cfg",
                "Object {\n Description {\n VisualModel = NOVISUAL\n PhysicalModel = SPHERE0.1\n"
                " Mass = 1\n StringVal0 = STRAIGHT\n Constructor = Projectile_Type_Constructor\n"
                " Destructor = Projectile_Type_Destructor\n Update = Projectile_Type_Update\n"
                " Collision = Projectile_Type_Collision\n }\n}\n");
    WriteConfig("Huds\\Broom.cfg",
                "HUD1 {\n HudText0Position = 0.1, 0.1\n HudText1Position = 0.1, 0.15\n"
                " HudText2Position = 0.9, 0.1\n}\n");
    WriteConfig("carddata\\entityconfigs\\Hero.cfg",
                Entity("BroomStick",
                       " vehicleData {\n HudPath = Huds\\Broom.cfg\n }\n controlData {\n forwardSpeedMax = 10\n"
                       "  targetViewAngle = 60, 60\n targetViewRadius = 60\n entityTypeToAttack0 = 2\n"
                       "  genCamData {\n defaultDistance = 5\n }\n"
                       "  projectiles {\n ProjType0Config = Shots\\Bolt.cfg\n }\n }\n"
                       " Anim0Path = Brooms\\Rider\n Anim0RBRelMode = 1\n Anim1Path = Brooms\\Lock\n"
                       " Anim1RBRelMode = 3\n"));
    WriteConfig("Levels\\Bench\\Bat.cfg",
                Entity("CameraMode", " controlData {\n genCamData {\n defaultDistance = 5\n }\n }\n"));
    std::vector<LwsWriterItem> items = {Item("PlayerStart_Null", 0, 20, 0)};
    for (int i = 0; i < 20; ++i)
        items.push_back(Item("entity_Bat", (float)(i % 5) * 3 - 6, 20, 10.0f + (float)(i / 5) * 4));
    WriteScene("Levels\\Bench\\Level.lws", items);
    if (Entity_CreateFromLevel("Levels\\Bench\\Level.lws") != 21) state.SkipWithError("entities not made");
    Object* broom = Level_GetPlayerEntity(0);
    EntityRecord* record = Entity_GetRecord(broom);
    auto* d = (BroomStickData*)record->modeData;
    d->stopTime = -1.0f;
    for (int i = 0; i < 30; ++i) level.Frame(nullptr);
    for (auto _ : state) {
        state.PauseTiming();
        for (BroomPopup& p : d->popups) {
            p.flags = BROOM_POPUP_ACTIVE;
            p.value = 5;
            p.x = p.y = 0.0f;
            p.depth = 20.0f;
        }
        const Vec3 still = {0, 0, 0};
        PhysBody_SetLinearVelocity(broom->body, &still);
        state.ResumeTiming();
        Entity_Update(broom, 0, (void*)&kDt);
    }
    int live = 0;
    for (const BroomTarget& t : d->live) live += t.object ? 1 : 0;
    state.counters["candidates"] = live;
}
BENCHMARK(BM_BroomStickFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
