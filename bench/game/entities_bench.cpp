// Benchmarks of the entities and level objects, each over a level-like set-up
// in a folder of its own (nodes-only scenes, no device):
//   BM_EntityPoolFrame      the entity pool's update of one frame: 4 player
//                           entities and 50 scene entities on a stand-in mode
//                           whose movement slot pushes the body;
//   BM_ChaseCameraUpdate    follow and update of a chase camera with the rail
//                           and both slides against a 20,000-triangle mesh;
//   BM_ProjectilePoolFrame  the projectile pool's update with 200 shots in
//                           flight, half STRAIGHT and half HOMING;
//   BM_HitModeObjectsFrame  500 hit-mode objects updated with clipping on and
//                           20 events queued each frame.
#include <benchmark/benchmark.h>

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
#include "common/list.h"
#include "engine/animset.h"
#include "engine/callbacks.h"
#include "engine/node.h"
#include "engine/objectcollision.h"
#include "engine/objectscene.h"
#include "engine/objecttemplate.h"
#include "engine/objectworld.h"
#include "engine/physbody.h"
#include "engine/physray.h"
#include "engine/physshape.h"
#include "engine/physworld.h"
#include "engine/scene.h"
#include "engine/trigger.h"
#include "game/chase_camera.h"
#include "game/entity.h"
#include "game/game_context.h"
#include "game/hit_mode_object.h"
#include "game/level_session.h"
#include "game/projectile.h"
#include "gfx/core/engine.h"
#include "bench/game/bench_level.h"
#include "tools/lib/cfgc.h"
#include "tools/lib/lwswrite.h"
#include "tools/lib/rbswrite.h"

namespace {

constexpr float kDt = 1.0f / 50.0f;

using namespace benchlevel;

// The stand-in mode: its movement pushes the body along its stick.
void PushUpdate(Object* o, EntityRecord*, PlayerInputRecord* input)
{
    Vec3 v = {input->stickX * 3.0f + 0.5f, 0.0f, 1.0f};
    PhysBody_SetLinearVelocity(o->body, &v);
}
void StandInRules(Object*, EntityRecord*, PlayerInputRecord*) {}
void StandInRoute(Object*, EntityRecord*, PlayerInputRecord* input) { input->stickX = 0.5f; }

// The modules a level state starts, with the stand-in mode as Man.
class Level : public BenchLevel {
public:
    Level() : BenchLevel("entities_bench")
    {
        phys = modules.phys;
        objects = modules.objects;
        ControlModeSlots slots = {};
        slots.update = PushUpdate;
        slots.rules = StandInRules;
        slots.route = StandInRoute;
        ControlMode_Register(MODE_MAN, &slots, 64);
        Game_SetFrameTime(kDt);
    }

    PhysWorld* phys = nullptr;
    List* objects = nullptr;
};

const char kEntityKeys[] =
    "Object {\n Description {\n VisualModel = NOVISUAL\n PhysicalModel = SPHERE0.5\n Mass = 1\n Active = TRUE\n"
    " CollisionGroup = 2\n RemoveFromPickList = 1\n Constructor = Entity_Constructor\n"
    " Destructor = Entity_Destructor\n Update = Entity_Update\n Collision = Entity_Collision\n }\n}\n"
    "vehicle {\n vehicleData {\n ControlMode = Man\n maxVelocity = 20\n }\n}\n";

void BM_EntityPoolFrame(benchmark::State& state)
{
    Level level;
    GameContext* c = Game_GetContext();
    c->characterCount = 1;
    snprintf(c->characterNames[0], sizeof c->characterNames[0], "Hero");
    for (int s = 0; s < 4; ++s) {
        c->playerKinds[s] = s == 0 ? PLAYER_KIND_HUMAN : PLAYER_KIND_COMPUTER;
        Player_SetViewportIndex(s, s);
    }
    Level_SetNumPlayerEntities(4);
    Level_SetNumViewports(4);
    WriteConfig("carddata\\entityconfigs\\Hero.cfg", kEntityKeys);
    WriteConfig("Levels\\Bench\\Frog.cfg", kEntityKeys);
    std::vector<LwsWriterItem> items;
    for (int p = 0; p < 4; ++p) items.push_back(Item("PlayerStart_Null", 4.0f * p, 1, 0));
    for (int i = 0; i < 50; ++i) items.push_back(Item("entity_Frog", (float)(i % 10) * 3, 1, 5.0f + (float)(i / 10) * 3));
    WriteScene("Levels\\Bench\\Level.lws", items);
    if (Entity_CreateFromLevel("Levels\\Bench\\Level.lws") != 54) state.SkipWithError("entities not made");
    for (auto _ : state) Level_UpdateObjects(kDt);
    state.SetItemsProcessed(state.iterations() * 54);
    state.counters["entities"] = 54;
}
BENCHMARK(BM_EntityPoolFrame)->Unit(benchmark::kMicrosecond);

void BM_ChaseCameraUpdate(benchmark::State& state)
{
    Level level;
    // A sloped 20,000-triangle grid in the pick list.
    std::vector<uint8_t> rbs = Rbs_Write({Rbs_Grid(100, 0.5f, 0.0f)});
    PhysBody* ground = PhysShape_ParseRbs(rbs.data(), rbs.size(), level.phys);
    if (!ground) {
        state.SkipWithError("no mesh");
        return;
    }
    Vec3 at = {0.0f, -0.34202f, 0.93969f}, up = {0.0f, 0.93969f, 0.34202f}, origin = {0, 0, 0};
    PhysWorld_AddBody(level.phys, ground, &origin, &at, &up);
    PhysContacts_AddBody(ground);
    WriteConfig("Cam.cfg", "genCamData {\n defaultAngles = 80, 0, 0\n defaultDistance = 8\n railMoveSpeed = 20\n"
                           " railHitSlideMoveInSpeed = 10\n moveToPickHit = TRUE\n xSlideCam = TRUE\n ySlideCam = TRUE\n"
                           " rotationSpeeds = 180, 180, 90\n slideXRotateSpeed = 90\n slideYRotateSpeed = 90\n"
                           " slideXDistMultFar = 1\n slideYDistMultFar = 1\n moveToPickSnapDist = 0.5\n"
                           " defaultViewObjLagPosSpeed = 4, 4, 4\n defaultViewObjLagNegSpeed = 4, 4, 4\n"
                           " defaultCamLagPosSpeed = 6, 6, 6\n defaultCamLagNegSpeed = 6, 6, 6\n}\n");
    ConfigNode* reader = Config_Open("Cam.cfg");
    ChaseCamera* camera = nullptr;
    ChaseCamera_LoadConfig(reader, &camera, "genCamData");
    Config_Close(reader);
    Node* followed = Node_Create(ObjectWorld_GetRootNode());
    Node* cameraNode = Node_Create(ObjectWorld_GetRootNode());
    ChaseCamera_FollowObject(camera, followed);
    ChaseCamera_Reset(camera, cameraNode, nullptr, nullptr);
    ChaseCamera_SetSlideMaxDist(camera, 20.0f);
    int64_t hits = 0;
    float t = 0.0f;
    for (auto _ : state) {
        t += kDt;
        Vec3 p = {std::sin(t * 0.3f) * 15.0f, 1.0f + std::sin(t) * 0.5f, std::cos(t * 0.2f) * 15.0f};
        Node_SetPosition(followed, &p);
        ChaseCamera_FollowObject(camera, followed);
        ChaseCamera_SetAngleY(camera, t * 0.5f);
        ChaseCamera_Update(camera, cameraNode, kDt);
        if (camera->scaledHitDist < 15.9f) hits++;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["rayHitShare"] = benchmark::Counter((double)hits / (double)state.iterations());
    Mem_FreeSlot(&camera);
}
BENCHMARK(BM_ChaseCameraUpdate)->Unit(benchmark::kMicrosecond);

void BM_ProjectilePoolFrame(benchmark::State& state)
{
    Level level;
    const Vec3 none = {0, 0, 0};
    PhysWorld_SetGravity(level.phys, &none);
    const char* callbacks =
        " Constructor = Projectile_Type_Constructor\n Destructor = Projectile_Type_Destructor\n"
        " Update = Projectile_Type_Update\n Collision = Projectile_Type_Collision\n FPVal0 = 100000\n FPVal1 = 1\n"
        " U32Val0 = 100\n VisualModel = NOVISUAL\n PhysicalModel = SPHERE0.1\n Mass = 1\n CollisionGroup = 0\n";
    WriteConfig("Shots\\Straight.cfg", std::string("Object {\n Description {\n StringVal0 = STRAIGHT\n") + callbacks +
                                           " }\n}\nProjectileModeData0 {\n velocity = 10\n}\n");
    WriteConfig("Shots\\Homing.cfg", std::string("Object {\n Description {\n StringVal0 = HOMING\n") + callbacks +
                                         " }\n}\nProjectileModeData0 {\n velocity = 8\n changeDirSpeed = 90, 90\n"
                                         " velocityChangePerSecond = 1\n maxVelocityChange = 4\n}\n");
    WriteConfig("Weapons.cfg", "w {\n ProjType0Config = Shots\\Straight.cfg\n ProjType0FiringDelay = 0\n"
                               " ProjType1Config = Shots\\Homing.cfg\n ProjType1FiringDelay = 0\n}\n");
    ConfigNode* reader = Config_Open("Weapons.cfg");
    WeaponList weapons{0, -1, nullptr};
    ProjType_Load(&weapons, reader, "w");
    Config_Close(reader);
    Node* target = Node_Create(ObjectWorld_GetRootNode());
    Vec3 tp = {0, 50, 200};
    Node_SetPosition(target, &tp);
    Object owner{};
    int launched = 0;
    for (int i = 0; i < 200; ++i) {
        Projectile_UpdatePool(0.001f);  // past the (zero) firing delay
        Object* shot = Projectile_Spawn(&weapons.weapons[i & 1], &owner, &weapons);
        if (!shot) continue;
        Projectile_SetLaunchNode(target);
        Vec3 p = {(float)(i % 20) * 2.0f, (float)(i / 20) * 2.0f, 0}, a = {0, 0, 1}, u = {0, 1, 0};
        launched += Projectile_Launch(shot, &p, &a, &u, &owner, nullptr);
    }
    if (launched != 200) state.SkipWithError("not every shot launched");
    for (auto _ : state) Projectile_UpdatePool(kDt);
    state.SetItemsProcessed(state.iterations() * 200);
    Projectile_ClearAll();
    ProjType_Free(&weapons);
}
BENCHMARK(BM_ProjectilePoolFrame)->Unit(benchmark::kMicrosecond);

void BM_HitModeObjectsFrame(benchmark::State& state)
{
    Level level;
    GameContext* c = Game_GetContext();
    c->playerKinds[0] = PLAYER_KIND_HUMAN;
    Player_SetViewportIndex(0, 0);
    Node* camera = Node_Create(ObjectWorld_GetRootNode());
    Level_GetSession()->viewports[0].cameraFrame = camera;
    WriteConfig("Levels\\Bench\\Lamp.cfg",
                "Object {\n Description {\n VisualModel = NOVISUAL\n PhysicalModel = NOCOLLISION\n Mass = 0\n"
                " Constructor = VavadUtils_HitModeObject_Constructor\n Destructor = VavadUtils_HitModeObject_Destructor\n"
                " Update = VavadUtils_HitModeObject_Update\n StringVal1 = LAMPS\n BoolVal12 = TRUE\n }\n}\n");
    std::vector<LwsWriterItem> items;
    for (int i = 0; i < 500; ++i) items.push_back(Item("Lamp", (float)(i % 25) * 2.0f, 0.5f, (float)(i / 25) * 2.0f));
    WriteScene("Levels\\Bench\\Props.lws", items);
    ObjectScene_Load("Levels\\Bench\\Props.lws", "Levels\\Bench", level.objects);
    if (HitModeObject_GetLiveCount() != 500) state.SkipWithError("props not made");
    uint32_t groups[20];
    for (int g = 0; g < 20; ++g) {
        char name[16];
        snprintf(name, sizeof name, "G%d", g);
        groups[g] = ObjectEvent_GroupHash(name);
    }
    groups[0] = ObjectEvent_GroupHash("LAMPS");
    float t = 0.0f;
    for (auto _ : state) {
        t += kDt;
        Vec3 p = {25.0f + std::sin(t) * 20.0f, 2.0f, 20.0f + std::cos(t) * 20.0f};
        Node_SetPosition(camera, &p);
        for (int g = 0; g < 20; ++g) ObjectEvent_Queue(groups[g], (g & 1) ? 16 : 8, 1, (uint32_t)(g % 4));
        ObjectPool_Update(level.objects, &kDt);
    }
    state.SetItemsProcessed(state.iterations() * 500);
}
BENCHMARK(BM_HitModeObjectsFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
