// Benchmarks of the walking and creature modes over a level-like set-up in a
// folder of its own (no device, animations as nodes-only scenes):
//   BM_ManCamRelEntityUpdate  one Man_CamRel player's entity update (its rules
//                             and movement slots) running on flat ground;
//   BM_ManCamRelFrame         the same with the physics step;
//   BM_SkittersChasing/0..1   20 Skitters whose AI chases the player, per
//                             frame, without (0) and with (1) the physics step;
//                             all within 30 units of the camera, so clipping
//                             switches none off;
//   BM_ManCamRelLoad          both load passes of a Man_CamRel configuration
//                             with every key of its table (about 150) set.
#include <benchmark/benchmark.h>

#include <unistd.h>

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
#include "common/memory.h"
#include "engine/node.h"
#include "engine/physbody.h"
#include "engine/physworld.h"
#include "game/entity.h"
#include "game/modes/man_camrel.h"
#include "game/modes/skitter.h"
#include "game/modes/walking_modes.h"
#include "game/viewports.h"
#include "gfx/core/engine.h"
#include "bench/game/bench_level.h"
#include "tools/lib/atfwrite.h"
#include "tools/lib/cfgc.h"
#include "tools/lib/lwswrite.h"

namespace {

constexpr float kDt = 1.0f / 50.0f;

using namespace benchlevel;

// A level with the walking modes, a ground and a camera for player 0.
class Bench : public BenchLevel {
public:
    Bench() : BenchLevel("walking_bench", WalkingModes_Register)
    {
        Game_SetFrameTime(kDt);
        PhysBody* ground = PhysBody_Create(modules.phys, 1000.0f, 0.0f);
        PhysBody_SetCollisionGroup(ground, 1);
        const Vec3 centre = {0, -1000, 0};
        PhysWorld_AddBody(modules.phys, ground, &centre, nullptr, nullptr);
        camera = Node_Create(ObjectWorld_GetRootNode());
        const Vec3 eye = {0, 4, -8};
        Node_SetWorldPosition(camera, &eye);
    }
    ~Bench() { Viewport_SetCameraFrame(0, nullptr); }

    // An animation set of the names given.
    static void AnimSet(const std::string& set, const char* const* names, uint32_t count)
    {
        WriteAnimSet(set, "Anim0", std::vector<const char*>(names, names + count));
    }
    static std::string Character(const char* mode, const std::string& controlData)
    {
        return std::string("Object {\n Description {\n VisualModel = NOVISUAL\n PhysicalModel = SPHERE0.5\n Mass = 1\n"
                           " Active = TRUE\n CollisionGroup = 2\n RemoveFromPickList = 1\n"
                           " Constructor = Entity_Constructor\n Destructor = Entity_Destructor\n"
                           " Update = Entity_Update\n Collision = Entity_Collision\n }\n}\nvehicle {\n vehicleData {\n"
                           "  ControlMode = ") +
               mode + "\n  maxVelocity = 30\n  EntityType0 = 1\n }\n Anim0RBRelMode = 1\n controlData {\n" +
               controlData + " }\n}\n";
    }
    // Player 0 playing "Hero" and the scene entities given, on the level.
    Object* Start(const std::vector<LwsWriterItem>& extra)
    {
        GameContext* c = Game_GetContext();
        c->characterCount = 1;
        snprintf(c->characterNames[0], sizeof c->characterNames[0], "Hero");
        c->playerKinds[0] = PLAYER_KIND_HUMAN;
        Player_SetViewportIndex(0, 0);
        Level_SetNumPlayerEntities(1);
        Level_SetNumViewports(1);
        Viewport_SetCameraFrame(0, camera);
        LwsWriterScene scene;
        LwsWriterItem start;
        start.name = "PlayerStart_Null";
        start.keys.push_back(LwsWriterKey{});
        scene.items.push_back(start);
        for (const LwsWriterItem& i : extra) scene.items.push_back(i);
        WriteData("Levels\\Bench\\Level.lws", LwsWriter_Write(scene));
        Entity_CreateFromLevel("Levels\\Bench\\Level.lws");
        return Level_GetPlayerEntity(0);
    }
    void Frame(bool physics)
    {
        Rules_Update(kDt);
        PlayerInputRecord* pad = Player_GetInputRecord(0);
        *pad = input;
        if (physics) PhysWorld_Step(modules.phys, kDt);
        Level_UpdateObjects(kDt);
    }

    Node* camera = nullptr;
    PlayerInputRecord input{};
};

const char kHero[] =
    "  forwardVelStep = 40\n  maxRunSpeed = 6\n  maxInAirSpeed = 3\n  jumpTimeSinceGroundAllow = 0.1\n"
    "  dieInAirTime = 10\n  changeDirTurnSpeed = 360\n  camMode0RailDist = 5\n  camMode1RailDist = 5\n  camMode2RailDist = 5\n"
    "  camMode3RailDist = 5\n  targetViewRadius = 20\n"
    "  targetViewAngle = 60, 60\n  genCamData {\n   defaultDistance = 5\n   defaultAngles = 80, 0, 0\n  }\n";

Object* Hero(Bench& b, const std::vector<LwsWriterItem>& extra = {})
{
    uint32_t count = 0;
    const char* const* names = ManCamRelMode_GetAnimNames(&count);
    Bench::AnimSet("carddata\\entityconfigs\\Hero.cfg", names, count);
    WriteConfig("carddata\\entityconfigs\\Hero.cfg", Bench::Character("Man_CamRel", kHero));
    return b.Start(extra);
}

void ManCamRel(benchmark::State& state, bool physics)
{
    Bench b;
    Object* hero = b.ok ? Hero(b) : nullptr;
    if (!hero) {
        state.SkipWithError("no player");
        return;
    }
    int frame = 0;
    for (auto _ : state) {
        // Circles with a jump now and then: rules and movement both busy.
        b.input.stickX = std::sin(frame * 0.05f);
        b.input.stickY = std::cos(frame * 0.05f);
        b.input.oldButtons = b.input.buttons;
        b.input.buttons = frame % 60 == 0 ? (uint32_t)MCR_BUTTON_JUMP : 0u;
        if (physics) {
            b.Frame(true);
        } else {
            *Player_GetInputRecord(0) = b.input;
            const float dt = kDt;
            Entity_Update(hero, 0, (void*)&dt);
        }
        frame++;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ManCamRelEntityUpdate(benchmark::State& state) { ManCamRel(state, false); }
BENCHMARK(BM_ManCamRelEntityUpdate)->Unit(benchmark::kMicrosecond);

void BM_ManCamRelFrame(benchmark::State& state) { ManCamRel(state, true); }
BENCHMARK(BM_ManCamRelFrame)->Unit(benchmark::kMicrosecond);

void BM_SkittersChasing(benchmark::State& state)
{
    Bench b;
    uint32_t count = 0;
    const char* const* names = SkitterMode_GetAnimNames(&count);
    Bench::AnimSet("Levels\\Bench\\Bug.cfg", names, count);
    WriteConfig("Levels\\Bench\\Bug.cfg",
                  Bench::Character("Skitter", "  totalHealth = 30\n  forwardVelStep = 30\n  maxRunSpeed = 4\n"
                                              "  maxInAirSpeed = 4\n  aiVisionRadius = 40\n  aiAttackSpeed = 3\n"
                                              "  aiMeleeAttackMaxDist = 1.5\n  turnSpeed = 360\n"));
    std::vector<LwsWriterItem> bugs;
    for (int i = 0; i < 20; ++i) {
        LwsWriterItem bug;
        bug.name = "entity_Bug";
        LwsWriterKey k;
        k.position[0] = std::sin(i * 0.314f) * 12.0f;
        k.position[2] = std::cos(i * 0.314f) * 12.0f;
        bug.keys.push_back(k);
        bugs.push_back(bug);
    }
    Object* hero = b.ok ? Hero(b, bugs) : nullptr;
    if (!hero) {
        state.SkipWithError("no player");
        return;
    }
    const bool physics = state.range(0) != 0;
    int frame = 0;
    for (auto _ : state) {
        // The player circles the middle; the bugs come after it.
        state.PauseTiming();
        Vec3 p = {std::sin(frame * 0.02f) * 4.0f, 0.5f, std::cos(frame * 0.02f) * 4.0f};
        PhysBody_SetPosition(hero->body, &p);
        state.ResumeTiming();
        b.Frame(physics);
        frame++;
    }
    state.SetItemsProcessed(state.iterations() * 20);
    state.counters["skitters"] = 20;
}
BENCHMARK(BM_SkittersChasing)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_ManCamRelLoad(benchmark::State& state)
{
    Bench b;
    // Every key of the table at pass 0, and again in the level's section.
    const ModeKeyTable* table = ManCamRelMode_GetKeyTable();
    std::string keys;
    for (uint32_t i = 0; i < table->count; ++i) {
        const ModeKey& k = table->keys[i];
        const char* value = k.kind == MODEKEY_VEC3 ? "1, 2, 3"
                            : k.kind == MODEKEY_VEC2 ? "10, 20"
                            : (k.kind == MODEKEY_BOOL || k.kind == MODEKEY_FLAG) ? "TRUE"
                                                                                 : "2";
        keys += std::string("  ") + k.name + " = " + value + "\n";
    }
    WriteConfig("Load.cfg", "vehicle {\n controlData {\n" + keys + "  genCamData {\n   defaultDistance = 5\n  }\n }\n"
                              " controlData_1 {\n" + keys + " }\n}\n");
    ConfigNode* reader = Config_Open("Load.cfg");
    if (!reader) {
        state.SkipWithError("no configuration");
        return;
    }
    Config_SetSection(reader, "vehicle");
    EntityRecord record{};
    record.mode = MODE_MAN_CAMREL;
    ManCamRelData* data = (ManCamRelData*)Mem_Calloc(sizeof(ManCamRelData), 16);
    record.modeData = data;
    for (auto _ : state) {
        ManCamRelMode_Load(reader, data, &record, nullptr, 0);
        ManCamRelMode_Load(reader, data, &record, nullptr, 1);
    }
    state.counters["keys"] = table->count;
    ManCamRelMode_Free(&record);
    Mem_Free(data);
    Config_Close(reader);
}
BENCHMARK(BM_ManCamRelLoad)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
