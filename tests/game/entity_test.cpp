#include "game/entity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "entity_fixture.h"
#include "game/entity_hud.h"

using namespace entitytest;

namespace {

class EntitySystemTest : public EntityTest {
protected:
    // A record loaded by EntityType_Load from the "vehicle" text.
    EntityRecord LoadType(const std::string& vehicle, int* result = nullptr)
    {
        WriteConfig("Types.cfg", "vehicle {\n" + vehicle + "\n}\n");
        ConfigNode* reader = Config_Open("Types.cfg");
        EntityRecord r{};
        r.mode = MODE_THRUSTING;
        int ok = EntityType_Load(reader, &r);
        if (result) *result = ok;
        Config_Close(reader);
        Mem_Free(r.modeData);
        Mem_Free(r.water);
        r.modeData = nullptr;
        r.water = nullptr;
        return r;
    }

    // A level scene with player starts 0..3 at x = 0, 10, 20, 30 and the extra items.
    void WriteLevel(std::vector<LwsWriterItem> extra = {})
    {
        std::vector<LwsWriterItem> items;
        for (int p = 0; p < 4; ++p) items.push_back(Item("PlayerStart_Null", V(10.0f * p, 1, 0)));
        for (auto& i : extra) items.push_back(i);
        WriteScene("Levels\\Test\\Level.lws", 1.0f, items);
    }

    void WriteHero(const std::string& vehicleData = "maxVelocity = 30", const std::string& more = "")
    {
        WriteAnimSet("Chars\\Hero", "Anim0", {{"stand", 1.0f, true}, {"jump", 0.5f, false}},
                     {{"ProjType,shot", 1, 0.1f, 0.3f}});
        WriteEntity("carddata\\entityconfigs\\Hero.cfg", "vehicleData {\n ControlMode = Man\n " + vehicleData +
                                                             "\n EntityType0 = 1\n}\nAnim0Path = Chars\\Hero\n" + more);
    }
};

TEST_F(EntitySystemTest, AMovingModeWithoutMaxVelocityIsLoggedAndStandsStill)
{
    LoadType("vehicleData {\n ControlMode = Man\n}");
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_NE(g_log[0].find("maxVelocity"), std::string::npos);
    g_log.clear();
    LoadType("vehicleData {\n ControlMode = Thrusting\n}");
    EXPECT_TRUE(g_log.empty()) << "a mode without an update slot needs no speed";
    LoadType("vehicleData {\n ControlMode = Nowhere\n}");
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_NE(g_log[0].find("no control mode"), std::string::npos);

    SetPlayers({1});
    WriteLevel();
    WriteHero("");
    Ground();
    ASSERT_EQ(Entity_CreateFromLevel("Levels\\Test\\Level.lws"), 1);
    Object* hero = Level_GetPlayerEntity(0);
    Vec3 push = V(5, 0, 0);
    PhysBody_SetLinearVelocity(hero->body, &push);
    Frame();
    EXPECT_FLOAT_EQ(Velocity(hero).x, 0.0f);
}

TEST_F(EntitySystemTest, EachFrameRunsRulesThenRouteOrPadThenMovementThenClamps)
{
    SetPlayers({1, 2});
    WriteLevel({Item("entity_Bird", V(0, 1, 20))});
    WriteHero();
    WriteEntity("Levels\\Test\\Bird.cfg", "vehicleData {\n ControlMode = Flitter\n maxVelocity = 50\n}\n");
    Ground();
    ASSERT_EQ(Entity_CreateFromLevel("Levels\\Test\\Level.lws"), 3);
    Object* human = Level_GetPlayerEntity(0);
    Object* bird = nullptr;
    for (Object* o : Entities())
        if (!Entity_GetRecord(o)->player) bird = o;
    ASSERT_NE(bird, nullptr);
    scripted[0] = scripted[1] = true;
    script[0].stickX = 0.7f;
    script[0].buttons = 16;
    script[1].stickX = 0.9f;  // a computer player's pad is never read
    g_routeStickX = -0.25f;
    g_trace.clear();
    g_inputs.clear();
    // Movement pushes beyond maxVelocity: the clamp comes after it.
    g_onUpdate = [](Object* o, EntityRecord*, PlayerInputRecord*) {
        Vec3 fast = V(100, 0, 0);
        PhysBody_SetLinearVelocity(o->body, &fast);
    };
    Vec3 drift = V(10, 0, 0);
    PhysBody_SetLinearVelocity(bird->body, &drift);
    Frame();
    // Per entity, in order (the pool decides the order between entities).
    auto Of = [](int player) {
        std::vector<std::string> out;
        for (const std::string& t : g_trace)
            if (t.back() == char('0' + player)) out.push_back(t.substr(0, t.find('@')));
        return out;
    };
    EXPECT_EQ(Of(1), (std::vector<std::string>{"rules", "update"}));
    EXPECT_EQ(Of(2), (std::vector<std::string>{"rules", "route", "update"}));
    EXPECT_EQ(Of(0), (std::vector<std::string>{"rules"}));
    // Rules see zeros; the movement sees the pad (human) or the route (computer).
    size_t input = 0;
    for (const std::string& t : g_trace) {
        if (t.rfind("route", 0) == 0) continue;
        ASSERT_LT(input, g_inputs.size());
        const PlayerInputRecord& seen = g_inputs[input++];
        const float stickX = t == "update@1" ? 0.7f : t == "update@2" ? -0.25f : 0.0f;
        EXPECT_EQ(seen.stickX, stickX) << t;
        EXPECT_EQ(seen.buttons, t == "update@1" ? 16u : 0u) << t;
    }
    EXPECT_NEAR(Velocity(human).x, 30.0f, 1e-3) << "the speed clamp runs after the movement slot";
    EXPECT_EQ(Entity_GetRecord(human)->flags & (ENTITY_MOVING | ENTITY_IDLE), (uint32_t)ENTITY_MOVING);
    // A scene entity without a route idles and is damped by (8, 0, 8) per second.
    EntityRecord* birdRecord = Entity_GetRecord(bird);
    EXPECT_EQ(birdRecord->flags & (ENTITY_MOVING | ENTITY_IDLE), (uint32_t)ENTITY_IDLE);
    EXPECT_LT(Velocity(bird).x, 10.0f * (1.0f - 8.0f * dt) + 1e-3f);
    EXPECT_GT(Velocity(bird).x, 0.0f);

    // Frozen: a player's clock stops, a scene entity's runs; neither moves.
    g_onUpdate = nullptr;
    Entity_SetPhysicsActive(human, 1);
    Entity_SetPhysicsActive(bird, 1);
    EXPECT_TRUE(PhysBody_Unwrap(human->body)->pinned) << "a frozen body is pinned";
    float humanClock = Entity_GetTime(Entity_GetRecord(human));
    float birdClock = Entity_GetTime(birdRecord);
    g_calls.clear();
    g_trace.clear();
    Frame(3);
    EXPECT_FLOAT_EQ(Entity_GetTime(Entity_GetRecord(human)), humanClock);
    EXPECT_NEAR(Entity_GetTime(birdRecord), birdClock + 3 * dt, 1e-5);
    EXPECT_EQ(std::count(g_calls.begin(), g_calls.end(), "update"), 3) << "only the computer player moves";
    EXPECT_EQ(std::count(g_trace.begin(), g_trace.end(), "update@1"), 0);
    Entity_SetPhysicsActive(human, 0);
    EXPECT_FALSE(PhysBody_Unwrap(human->body)->pinned);
    g_trace.clear();
    Frame();
    EXPECT_EQ(std::count(g_trace.begin(), g_trace.end(), "update@1"), 1);
}

TEST_F(EntitySystemTest, RespawnRisesOutOfSolidBodiesInHalfStepsAtMostTwentyTimes)
{
    SetPlayers({1});
    WriteLevel();
    WriteHero();
    ASSERT_EQ(Entity_CreateFromLevel("Levels\\Test\\Level.lws"), 1);
    Object* hero = Level_GetPlayerEntity(0);
    EntityRecord* r = Entity_GetRecord(hero);
    Entity_SetHealth(r, 10.0f, 100.0f);
    Player_SetStart(0, nullptr, nullptr, nullptr);
    const Vec3 at = V(50, 0, 0);
    Player_SetStart(0, &at, nullptr, nullptr);
    auto Solid = [&](float radius) {
        PhysBody* b = PhysBody_Create(phys, radius, 0.0f);
        PhysBody_SetCollisionGroup(b, 1);
        PhysWorld_AddBody(phys, b, &at, nullptr, nullptr);
        return b;
    };
    // A solid ball of radius 2 around the start: the sphere (radius 0.5) rises to the first free half step.
    PhysBody* ball = Solid(2.0f);
    Entity_Hide(hero, 0, nullptr);
    g_calls.clear();
    Entity_Respawn(hero, 1);
    EXPECT_EQ(std::make_pair(Entity_GetHealth(r), hero->node->flags & NODE_HIDDEN), std::make_pair(100.0f, 0u));
    EXPECT_EQ(g_calls, std::vector<std::string>{"restart 1"});
    EXPECT_FLOAT_EQ(BodyPosition(hero).x, 50.0f);
    EXPECT_FLOAT_EQ(BodyPosition(hero).y, 0.5f + 2.0f) << "four half steps clear the ball's top";
    PhysBody_SetPhantom(ball, 1);  // a phantom does not count
    Entity_Respawn(hero, 1);
    EXPECT_FLOAT_EQ(BodyPosition(hero).y, 0.5f);
    // A tall solid column: twenty steps and it stays there.
    PhysBody_SetPhantom(ball, 0);
    Solid(30.0f);
    Entity_Respawn(hero, 1);
    EXPECT_FLOAT_EQ(BodyPosition(hero).y, 0.5f + 10.0f);
    EXPECT_EQ(r->flags & (ENTITY_ALIVE | ENTITY_FROZEN | ENTITY_RESPAWNED), (uint32_t)ENTITY_ALIVE);
}

TEST_F(EntitySystemTest, AReloadKeepsPlayerRecordsAndDropsEveryPointerIntoTheOldLevel)
{
    SetPlayers({1, 2});
    WriteLevel({Item("entity_Frog", V(0, 1, 2))});
    WriteHero("maxVelocity = 30\n EntityTypeControl0 = 4",
              "Water {\n BuoyancyVelStep = 1\n}\ncontrolData {\n projectiles {\n"
              "  ProjType0Config = Shots\\Bolt.cfg\n }\n}\n");
    WriteEntity("Levels\\Test\\Frog.cfg", "vehicleData {\n ControlMode = Flitter\n maxVelocity = 1\n EntityType0 = 4\n}\n");
    WriteObject("Shots\\Bolt.cfg", "VisualModel = NOVISUAL\n PhysicalModel = SPHERE0.1\n Mass = 1\n CollisionGroup = 1\n"
                                    " StringVal0 = STRAIGHT\n U32Val0 = 2\n Constructor = Projectile_Type_Constructor\n"
                                    " Destructor = Projectile_Type_Destructor\n Update = Projectile_Type_Update\n"
                                    " Collision = Projectile_Type_Collision");
    WriteObject("Levels\\Test\\Pool.cfg", "VisualModel = NOVISUAL\n PhysicalModel = SPHERE4\n Mass = 0\n"
                                              " Constructor = Entity_Water_Constructor\n Destructor = Entity_Water_Destructor");
    WriteObject("Levels\\Test\\Wind.cfg",
                "VisualModel = NOVISUAL\n PhysicalModel = SPHERE4\n Mass = 0\n CollisionGroup = 1\n"
                " Constructor = Entity_AirStream_Constructor");
    Level_SetLevelToUnlock(3);
    Ground();
    ASSERT_EQ(Entity_CreateFromLevel("Levels\\Test\\Level.lws"), 3);
    Object* hero = Level_GetPlayerEntity(0);
    EntityRecord* record = Entity_GetRecord(hero);
    EntityRecord* computer = Entity_GetRecord(Level_GetPlayerEntity(1));
    ASSERT_EQ(record->animSlotCount, 1u);
    AnimSet* set = record->animSlots[0].set;
    // Possession, water, a cut-scene hold, a freeze and a projectile held in the mode's data.
    Object* frog = Entity_FindTakeOverTarget(hero);
    ASSERT_NE(frog, nullptr);
    ASSERT_EQ(Entity_TakeOver(hero, frog), 1);
    Object* pool = ObjectTemplate_Load("Levels\\Test\\Pool.cfg", nullptr, objects, 0);
    record->water->water = pool;
    record->airStream = pool;
    ASSERT_NE(ObjectTemplate_Load("Levels\\Test\\Wind.cfg", nullptr, objects, 0), nullptr);
    record->flags |= ENTITY_HELD | ENTITY_FROZEN;
    WeaponList weapons{};
    ConfigNode* reader = Config_Open("carddata\\entityconfigs\\Hero.cfg");
    Config_SetSection(reader, "vehicle");
    ASSERT_EQ(ProjType_Load(&weapons, reader, "controlData::projectiles"), 1);
    Config_Close(reader);
    Object* shot = Projectile_Spawn(&weapons.weapons[0], hero, &weapons);
    ASSERT_NE(shot, nullptr);
    ((FakeModeData*)record->modeData)->held[0] = shot;
    ((FakeModeData*)computer->modeData)->held[1] = frog;
    Frame(3);
    const uint32_t heroSerial = Object_GetSerial(hero);
    g_calls.clear();
    ReloadLevel("Levels\\Test\\Level.lws");
    ProjType_Free(&weapons);
    // Both player records survive, detached and re-attached with both passes.
    auto count = [](const char* call) { return std::count(g_calls.begin(), g_calls.end(), call); };
    EXPECT_EQ(std::vector<long>({count("detach"), count("load 0"), count("load 3")}), std::vector<long>({2, 3, 3}));
    Object* hero2 = Level_GetPlayerEntity(0);
    ASSERT_NE(hero2, nullptr);
    EXPECT_NE(Object_GetSerial(hero2), heroSerial) << "a new object";
    EXPECT_EQ(Entity_GetRecord(hero2), record);
    EXPECT_EQ(Entity_GetRecord(Level_GetPlayerEntity(1)), computer);
    EXPECT_EQ(record->animSlotCount, 1u);
    EXPECT_EQ(record->animSlots[0].set, set);
    EXPECT_EQ(AnimSet_GetObject(set), hero2);
    // The player got its own entity back, and nothing of the old level is held.
    EXPECT_EQ(std::make_pair(record->player, record->kind), std::make_pair(1u, 0u));
    const void* held[] = {record->heldFrom, record->takeOverTarget, record->water->water, record->airStream};
    for (size_t i = 0; i < std::size(held); ++i) EXPECT_EQ(held[i], nullptr) << i;
    EXPECT_FALSE(((FakeModeData*)record->modeData)->held[0] || ((FakeModeData*)computer->modeData)->held[1]);
    EXPECT_FALSE(Entity_TestFlags(record, ENTITY_HELD | ENTITY_FROZEN));
    EXPECT_EQ(((FakeModeData*)record->modeData)->loads, 4u) << "the data block survives with its record";
    Frame(5);
    EXPECT_TRUE(Entity_TestFlags(record, ENTITY_MOVING));
}
}  // namespace
