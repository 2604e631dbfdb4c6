// Set-up of the entity and level-object tests: the modules of entity_modules.h over the game's records, configurations
// compiled by the configuration compiler, scenes and animation sets from tools_lib's writers, and a recording fake
// control mode in place of the real ones.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "app/cache.h"
#include "common/list.h"
#include "common/memory.h"
#include "engine/objectscene.h"
#include "engine/physbody.h"
#include "entity_modules.h"
#include "game/control_mode.h"
#include "game/entity_anim.h"
#include "game/game_log.h"
#include "game/hit_mode_object.h"
#include "game/modes/vehicle_common.h"
#include "game_fixture.h"
#include "physics/dynamics/events.h"
#include "physics/dynamics/rigid_body.h"
#include "tools/lib/atfwrite.h"

namespace entitytest {

inline Vec3 V(float x, float y, float z) { return Vec3{x, y, z}; }

// Every log line since the last look.
inline std::vector<std::string> g_log;
inline void CaptureLog(const char* line) { g_log.push_back(line); }

// The recording fake control mode: every slot call is appended to g_calls ("load 0", "rules", "route",
// "update", "restart 1", "collision", ...), with the input record the rules and update slots saw.
inline std::vector<std::string> g_calls;
inline std::vector<PlayerInputRecord> g_inputs;
// "<slot>@<player number>" of the rules, route and update slots.
inline std::vector<std::string> g_trace;
inline void Traced(const char* slot, const EntityRecord* r, const PlayerInputRecord* input)
{
    g_calls.push_back(slot);
    g_trace.push_back(std::string(slot) + "@" + std::to_string(r->player));
    if (input) g_inputs.push_back(*input);
}
// What the route slot writes into the input record.
inline float g_routeStickX = 0.0f;
// Called by the update slot when set.
inline void (*g_onUpdate)(Object*, EntityRecord*, PlayerInputRecord*) = nullptr;

struct FakeModeData {
    uint32_t loads;
    Object* held[4];  // level objects a real mode would keep (projectiles, targets)
};

inline void FakeLoad(ConfigNode*, void* data, EntityRecord*, Object*, int32_t pass)
{
    ((FakeModeData*)data)->loads++;
    g_calls.push_back("load " + std::to_string(pass));
}
inline void FakeUpdate(Object* o, EntityRecord* r, PlayerInputRecord* input)
{
    Traced("update", r, input);
    if (g_onUpdate) g_onUpdate(o, r, input);
}
inline void FakeRestart(Object*, EntityRecord*, int32_t use) { g_calls.push_back("restart " + std::to_string(use)); }
inline void FakeRules(Object*, EntityRecord* r, PlayerInputRecord* input) { Traced("rules", r, input); }
inline void FakeCollision(Object*, EntityRecord*, Object*, uint32_t) { g_calls.push_back("collision"); }
inline void FakeRoute(Object*, EntityRecord* r, PlayerInputRecord* input)
{
    Traced("route", r, nullptr);
    input->stickX = g_routeStickX;
}
inline void FakeFree(EntityRecord*) { g_calls.push_back("free"); }
inline void FakeDetach(EntityRecord* r)
{
    g_calls.push_back("detach");
    memset(((FakeModeData*)r->modeData)->held, 0, sizeof(FakeModeData::held));
}

// MODE_MAN with every fake slot, MODE_FLITTER without a route slot (it reads pads), the others with none.
inline void RegisterFakeModes()
{
    ControlModeSlots all = {FakeLoad,  FakeUpdate, FakeRestart, FakeRules,   FakeCollision,
                            FakeRoute, FakeFree,   nullptr,     nullptr,     FakeDetach};
    ControlMode_Register(MODE_MAN, &all, sizeof(FakeModeData));
    ControlModeSlots noRoute = all;
    noRoute.route = nullptr;
    ControlMode_Register(MODE_FLITTER, &noRoute, sizeof(FakeModeData));
    for (uint32_t m = 0; m < CONTROL_MODES; ++m)
        if (m != MODE_MAN && m != MODE_FLITTER) ControlMode_Register(m, nullptr, 0);
}

inline LwsWriterItem Item(const char* name, Vec3 p, float heading = 0.0f)
{
    return gametest::SceneItem(name, p.x, p.y, p.z, heading);
}

}  // namespace entitytest

class EntityTest : public GameTest {
protected:
    void SetUp() override
    {
        GameTest::SetUp();
        using namespace entitytest;
        g_calls.clear();
        g_inputs.clear();
        g_trace.clear();
        g_log.clear();
        g_routeStickX = 0.0f;
        g_onUpdate = nullptr;
        GameLog_SetSink(CaptureLog);
        RegisterFakeModes();
        ASSERT_EQ(EntityModules_Start(&modules), 1);
        phys = modules.phys;
        objects = modules.objects;
        Level_SetConfigDir("Levels\\Test");
        Game_SetFrameTime(dt);
    }

    void TearDown() override
    {
        modules.phys = phys;
        EntityModules_Stop(&modules);
        GameLog_SetSink(nullptr);
        for (uint32_t m = 0; m < CONTROL_MODES; ++m) ControlMode_Register(m, nullptr, 0);
        GameTest::TearDown();
    }

    // An entity configuration: the object keys (a sphere of radius 0.5 and
    // mass 1 by default) and the text of section "vehicle".
    void WriteEntity(const char* path, const std::string& vehicle, const std::string& object = "")
    {
        std::string text = "Object {\n Description {\n"
                           "  Name = Entity\n  VisualModel = NOVISUAL\n  PhysicalModel = SPHERE0.5\n"
                           "  Mass = 1\n  Active = TRUE\n  CollisionGroup = 2\n  RemoveFromPickList = 1\n"
                           "  Constructor = Entity_Constructor\n  Destructor = Entity_Destructor\n"
                           "  Update = Entity_Update\n  Collision = Entity_Collision\n" +
                           object + " }\n}\nvehicle {\n" + vehicle + "\n}\n";
        WriteConfig(path, text);
    }

    // A level object file of the given Description keys.
    void WriteObject(const char* path, const std::string& keys)
    {
        WriteConfig(path, "Object {\n Description {\n" + keys + "\n }\n}\n");
    }

    // A nodes-only scene of one item "Root" (or the items given) lasting `seconds`.
    void WriteScene(const std::string& path, float seconds, std::vector<LwsWriterItem> items = {},
                    bool camera = false)
    {
        LwsWriterScene s;
        s.lastFrame = (int)std::lround(seconds * 30.0f);
        if (items.empty()) items.push_back(entitytest::Item("Root", entitytest::V(0, 0, 0)));
        s.items = items;
        if (camera) {
            LwsWriterItem c = entitytest::Item("Camera", entitytest::V(0, 5, -5));
            c.kind = LwsWriterItem::CAMERA;
            s.items.push_back(c);
        }
        WriteData(path, LwsWriter_Write(s));
    }

    struct Anim {
        std::string name;
        float seconds;
        bool loop;
    };
    // An animation set "<set><extension>" whose animations are nodes-only
    // scenes "<set>_<name>.lws"; events {name, animation, start, end}.
    struct Event {
        std::string name;
        uint32_t animation;
        float start, end;
    };
    void WriteAnimSet(const std::string& set, const char* extension, const std::vector<Anim>& anims,
                      const std::vector<Event>& events = {}, bool camera = false)
    {
        AtfWriterSet atf;
        for (const Anim& a : anims) {
            std::string scene = set + "_" + a.name + ".lws";
            WriteScene(scene, a.seconds, {}, camera);
            AtfWriterAnimation w;
            w.name = a.name;
            w.scenePath = scene;
            w.sceneFlags = SCENE_NODES_ONLY | (a.loop ? (uint32_t)SCENE_LOOP : 0u);
            atf.animations.push_back(w);
        }
        for (const Event& e : events) {
            atf.keyEvents.push_back({e.animation, (uint32_t)atf.events.size(), 0, e.start, e.end});
            atf.events.push_back(e.name);
        }
        std::vector<uint8_t> bytes = AtfWriter_Encode(atf);
        WriteData(AtfWriter_CacheName(set.c_str(), extension), std::string(bytes.begin(), bytes.end()));
    }

    // One level frame of the parts the entities take part in (without the
    // physics step when asked). Scripted input replaces the pads' records
    // after the rules update.
    void Frame(int frames = 1, bool physics = true)
    {
        for (int i = 0; i < frames; ++i) {
            Rules_Update(dt);
            for (int p = 0; p < GAME_LEVEL_PLAYERS; ++p)
                if (scripted[p]) *Player_GetInputRecord(p) = script[p];
            if (physics) PhysWorld_Step(phys, dt);
            Level_UpdateObjects(dt);
            ObjectPool_Update(objects, &dt);
            if (physics) Projectile_UpdatePool(dt);
        }
    }

    // Player slots with these kinds (0 none, 1 human, 2 computer), each
    // playing character `character`; viewports in slot order.
    void SetPlayers(std::vector<uint32_t> kinds, const char* character = "Hero")
    {
        GameContext* c = Game_GetContext();
        c->characterCount = 1;
        snprintf(c->characterNames[0], sizeof c->characterNames[0], "%s", character);
        uint32_t count = 0;
        for (size_t s = 0; s < kinds.size() && s < GAME_LEVEL_PLAYERS; ++s) {
            c->playerKinds[s] = kinds[s];
            c->characters[s] = 0;
            if (kinds[s]) Player_SetViewportIndex((int)s, (int)count++);
        }
        c->playerCount = count;
        Level_SetNumPlayerEntities(count);
        Level_SetNumViewports(count);
    }

    // The level's unload and the next level's content load, in the level state's order, as far as entities and level
    // objects take part: projectiles first, then the entities (player records kept), the level's objects, the shared
    // lists, a new physics world, then everything again; `props`, when given, places the next level's props before its
    // entities are made.
    void ReloadLevel(const char* scene, const std::function<void()>& props = {})
    {
        Projectile_DestroyPool();
        EntitySystem_Unload(0);
        ObjectWorld_DestroyAllPools();
        HitModeObject_FreeConfig();
        ObjectTemplate_Shutdown();
        PhysWorld_Destroy(phys);
        phys = EntityModules_MakeWorld();
        ASSERT_NE(phys, nullptr);
        ASSERT_EQ(ObjectTemplate_Init(), 1);
        ASSERT_EQ(Projectile_CreatePool(), 1);
        HitModeObject_LoadConfig();
        objects = ObjectPool_Create();
        ASSERT_NE(objects, nullptr);
        Level_SetObjectList(objects);
        if (props) props();
        Entity_CreateFromLevel(scene);
    }

    // The items of a pool of objects, in pool order.
    static std::vector<Object*> Items(List* pool)
    {
        std::vector<Object*> out;
        List_ForEach(
            pool, [](void* item, void* arg) { return ((std::vector<Object*>*)arg)->push_back((Object*)item), 0; },
            &out);
        return out;
    }
    // The level's prop at p, or none.
    Object* PropAt(Vec3 p)
    {
        for (Object* o : Items(objects)) {
            Vec3 q;
            Object_GetTransform(o, &q, nullptr, nullptr);
            if (HitModeObject_GetRecord(o) && Vec3_DistanceSq(&p, &q) < 1e-4f) return o;
        }
        return nullptr;
    }
    // The entity pool's objects, in pool order.
    static std::vector<Object*> Entities()
    {
        return EntitySystem_Get() && EntitySystem_Get()->pool ? Items(EntitySystem_Get()->pool) : std::vector<Object*>{};
    }

    static Vec3 BodyPosition(Object* o) { return Vehicle_BodyPosition(o); }
    static Vec3 Velocity(Object* o) { return Vehicle_BodyVelocity(o); }

    // A fixed sphere of radius 100 whose top is at height `top` (group 1).
    PhysBody* Ground(float top = 0.0f, float x = 0.0f)
    {
        PhysBody* ground = PhysBody_Create(phys, 100.0f, 0.0f);
        PhysBody_SetCollisionGroup(ground, 1);
        Vec3 centre = {x, top - 100.0f, 0.0f};
        PhysWorld_AddBody(phys, ground, &centre, nullptr, nullptr);
        PhysContacts_AddBody(ground);
        return ground;
    }

    EntityModules modules;
    PhysWorld* phys = nullptr;
    List* objects = nullptr;
    PlayerInputRecord script[GAME_LEVEL_PLAYERS] = {};
    bool scripted[GAME_LEVEL_PLAYERS] = {};
    float dt = 1.0f / 50.0f;
};
