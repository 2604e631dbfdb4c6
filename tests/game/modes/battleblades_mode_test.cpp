#include "game/modes/battleblades_mode.h"

#include "common/hash.h"
#include "engine/objectscene.h"
#include "game/chase_camera.h"
#include "game/phys_utils.h"
#include "vehicle_fixture.h"

namespace {

const char* const kTopKeys =
    " forwardVelStep = 10\n damping = 0, 0, 0\n slowdown = 0, 0, 0\n dieInAirVel = -100\n dieInAirTime = 100\n"
    " initType = 0\n initNumIce = 1\n initNumWater = 1\n initNumFire = 1\n camMode1RailDist = 7\n"
    " genCamData {\n defaultDistance = 4\n rotationSpeeds = 180, 180, 180\n}\n";

class BladesTest : public VehicleTest {
protected:
    Anims ModeAnims()
    {
        return {{"iceBlade", 1.0f, true},       {"waterBlade", 1.0f, true},     {"fireBlade", 1.0f, true},
                {"changeBlade", 0.2f, false},   {"iceBladeDying", 0.2f, false}, {"waterBladeDying", 0.2f, false},
                {"fireBladeDying", 0.2f, false}};
    }
    // A top's file at `path`; keys given first count.
    void WriteTop(const std::string& path, const std::string& keys)
    {
        WriteAnimSet(path + "_hit", "Anim1", {{"default", 1.0f, true}, {"damage", 0.2f, false}});
        WriteMode(path, "BattleBlades", ModeAnims(), keys + "\n" + kTopKeys, "",
                  "Anim1Path = " + path + "_hit\nAnim1RBRelMode = 1\n");
    }
    // Scene tops "entity_<name>" at the positions; player 0 a top too when heroKeys is given.
    std::vector<Object*> Tops(std::vector<std::pair<std::string, Vec3>> tops, const char* heroKeys = nullptr)
    {
        std::vector<LwsWriterItem> items;
        for (auto& t : tops) items.push_back(Item(("entity_" + t.first).c_str(), t.second));
        WriteLevel(items, 0.5f);
        if (heroKeys) WriteTop("carddata\\entityconfigs\\Hero.cfg", heroKeys);
        Build();
        std::vector<Object*> out;
        for (auto& t : tops)
            for (Object* o : Entities())
                if (!Entity_GetRecord(o)->player && std::fabs(BodyPosition(o).x - t.second.x) < 0.01f &&
                    std::fabs(BodyPosition(o).z - t.second.z) < 0.01f)
                    out.push_back(o);
        return out;
    }
    BattleBladesData* D(Object* o) { return BattleBlades_GetData(o); }
};

// Clashes by matchup: the loser of a clash and both tops of a draw take the
// other top's damage (its minimum here: 10 from A, 20 from B); the winner
// takes none and rebounds by the loser's factor (given: 3 x the closing speed).
struct Clash {
    int32_t a, b;
    float healthA, healthB;
    const char* loseRebound;  // B's factor, or none
};
class BladesClashTest : public BladesTest, public ::testing::WithParamInterface<Clash> {};

TEST_P(BladesClashTest, TheLoserAndBothOfADrawTakeTheOtherTopsDamageAndTheWinnerRebounds)
{
    const Clash c = GetParam();
    Floor();
    WriteTop("Levels\\Test\\TopA.cfg",
             "drawDamageGiven = 0.01\n winDamageGiven = 0.01\n minDamageGiven = 40\n winReboundVelMultiply = 0");
    WriteTop("Levels\\Test\\TopB.cfg",
             std::string("drawDamageGiven = 0.01\n winDamageGiven = 0.01\n minDamageGiven = 80\n") +
                 (c.loseRebound ? std::string("loseReboundVelMultiply = ") + c.loseRebound : ""));
    std::vector<Object*> tops = Tops({{"TopA", V(-1.5f, 0.5f, 0)}, {"TopB", V(1.5f, 0.5f, 0)}});
    ASSERT_EQ(tops.size(), 2u);
    D(tops[0])->element = c.a;
    D(tops[1])->element = c.b;
    const Vec3 right = V(6, 0, 0), left = V(-6, 0, 0);
    PhysBody_SetLinearVelocity(tops[0]->body, &right);
    PhysBody_SetLinearVelocity(tops[1]->body, &left);
    EntityRecord* ra = Entity_GetRecord(tops[0]);
    EntityRecord* rb = Entity_GetRecord(tops[1]);
    int frames = 0;
    for (; frames < 30 && ra->health == 100.0f && rb->health == 100.0f; ++frames) Frame();
    EXPECT_FLOAT_EQ(Entity_GetHealth(ra), c.healthA);
    EXPECT_FLOAT_EQ(Entity_GetHealth(rb), c.healthB);
    if (!c.loseRebound) return;
    Frame(12 - frames);
    if (std::string(c.loseRebound) == "0") EXPECT_GT(Velocity(tops[0]).x, -8.0f);
    else EXPECT_LT(Velocity(tops[0]).x, -15.0f) << "thrown back by 3 x the closing speed";
}

INSTANTIATE_TEST_SUITE_P(
    Matchups, BladesClashTest,
    ::testing::Values(Clash{BLADE_ICE, BLADE_WATER, 100, 90, nullptr}, Clash{BLADE_WATER, BLADE_FIRE, 100, 90, nullptr},
                      Clash{BLADE_FIRE, BLADE_ICE, 100, 90, nullptr}, Clash{BLADE_WATER, BLADE_ICE, 80, 100, nullptr},
                      Clash{BLADE_FIRE, BLADE_FIRE, 80, 90, nullptr}, Clash{BLADE_ICE, BLADE_WATER, 100, 90, "0"},
                      Clash{BLADE_ICE, BLADE_WATER, 100, 90, "3"}));

TEST_F(BladesTest, NoSpinLeftKillsAFullHealthTopAndTheLevelRestartsOnce)
{
    Floor();
    std::vector<Object*> tops = Tops({}, "spinSlowdownPerSec = 5");
    Object* hero = Level_GetPlayerEntity(0);
    ASSERT_NE(hero, nullptr);
    EntityRecord* r = Entity_GetRecord(hero);
    bool dying = false;
    for (int i = 0; i < 60 && g_restarts == 0; ++i) {
        Frame();
        dying = dying || r->animSlots[0].current == BLADES_ANIM_ICE_DYING;
    }
    EXPECT_TRUE(dying);
    EXPECT_EQ(g_restarts, 1);
    Frame();
    EXPECT_EQ(g_restarts, 1);
    EXPECT_FLOAT_EQ(D(hero)->spin, 1.0f) << "restarted";
    // Only a real element other than the current one can be asked for.
    EXPECT_EQ(BattleBlades_RequestElement(r, -1) + BattleBlades_RequestElement(r, BLADE_ELEMENTS) +
                  BattleBlades_RequestElement(r, D(hero)->element),
              0);
    // Damage is kept per source, the largest only, for four sources at most.
    BattleBladesData data{};
    Object sources[5]{};
    const std::tuple<int, float, int> damage[] = {{0, 5.0f, 1}, {0, 3.0f, 0}, {0, 8.0f, 1}, {1, 1.0f, 1},
                                                  {2, 1.0f, 1}, {3, 1.0f, 1}, {4, 1.0f, 0}};
    for (auto [source, amount, kept] : damage)
        EXPECT_EQ(BattleBlades_RecordDamage(&data, amount, &sources[source]), kept) << source << " " << amount;
}

TEST_F(BladesTest, OnlyATapOfTheCameraButtonChangesThePreset)
{
    Floor();
    Tops({}, "");
    Object* hero = Level_GetPlayerEntity(0);
    ASSERT_TRUE(Settle(hero));
    // Frames held and the preset after: 24 frames = 0.48 s: a tap; 26 = 0.52 s: a hold.
    const std::pair<int, uint32_t> cases[] = {{24, 1}, {26, 1}, {3, 2}};
    for (auto [frames, mode] : cases) {
        Pad(0, 0, BLADES_BUTTON_CAMERA, 0);
        Frame();
        Pad(0, 0, BLADES_BUTTON_CAMERA, BLADES_BUTTON_CAMERA);
        Frame(frames - 1);
        Pad(0, 0, 0, BLADES_BUTTON_CAMERA);
        Frame();
        EXPECT_EQ(D(hero)->camMode, mode) << frames;
        Pad(0, 0, 0, 0);
        Frame();
    }
}

// ---------------------------------------------------------------- AI

class BladesAiTest : public BladesTest {
protected:
    // An AI top at the origin and player 0's top (fire) at `target`.
    Object* Hunter(const std::string& keys, Vec3 target)
    {
        const Vec3 at = V(0, 0, 1), up = V(0, 1, 0);
        WriteTop("Levels\\Test\\Ai.cfg", keys + "\n aiVisionRadius = 10");
        WriteTop("carddata\\entityconfigs\\Hero.cfg", "initType = 2");
        WriteScene("Levels\\Test\\Level.lws", 1.0f,
                   {Item("PlayerStart_Null", target), Item("entity_Ai", V(0, 0.5f, 0))});
        Player_SetStart(0, &target, &at, &up);
        Floor();
        Build();
        for (Object* o : Entities())
            if (!Entity_GetRecord(o)->player) return o;
        return nullptr;
    }
    PlayerInputRecord Think(Object* ai)
    {
        PlayerInputRecord input{};
        BattleBladesMode_RouteUpdate(ai, Entity_GetRecord(ai), &input);
        return input;
    }
};

// A dead computer top with respawn comes back at its start after its time;
// one moving fast away from its target brakes and turns within the stick's
// range; a defender beyond its follow radius, with the target no nearer to
// the origin, goes back home.
TEST_F(BladesAiTest, ADeadTopRespawnsAfterItsTimeAndAFastOneBrakesAndDefendsItsOrigin)
{
    Object* ai = Hunter("aiAttackSpeed = 1\n aiRespawn = TRUE\n aiRespawnTime = 0.5", V(40, 0.5f, 0));
    ASSERT_NE(ai, nullptr);
    EntityRecord* r = Entity_GetRecord(ai);
    BattleBladesData* d = D(ai);
    ASSERT_TRUE(Settle(ai));
    Entity_SetHealth(r, 0.0f, 100.0f);
    for (int i = 0; i < 30 && !(d->aiFlags & BLADES_WAITING); ++i) Frame();
    ASSERT_TRUE(d->aiFlags & BLADES_WAITING);
    EXPECT_NEAR(BodyPosition(ai).x, -9999.0f, 1.0f) << "out of play";
    const float hidden = r->clock;
    for (int i = 0; i < 60 && (d->aiFlags & BLADES_WAITING); ++i) Frame();
    EXPECT_FALSE(d->aiFlags & BLADES_WAITING);
    EXPECT_NEAR(r->clock - hidden, 0.5f, 2.0f * dt);
    EXPECT_NEAR(BodyPosition(ai).x, 0.0f, 0.1f) << "back at its start";
    EXPECT_FLOAT_EQ(Entity_GetHealth(r), 100.0f);
    const Vec3 target = V(5, 0.5f, 0), away = V(-4, 0, 0);
    PhysBody_SetPosition(Level_GetPlayerEntity(0)->body, &target);
    PhysBody_SetLinearVelocity(ai->body, &away);
    r->lastPosition = BodyPosition(ai);
    r->lastPosition.x += 0.1f;
    PlayerInputRecord in = Think(ai);
    EXPECT_FLOAT_EQ(in.stickX, 1.0f);
    EXPECT_LE(std::fabs(in.stickY), 1.0f);
    d->aiFlags |= BLADES_DEFEND_ORIGIN;
    d->aiFollowRadius = 2.0f;
    const Vec3 out = V(3, 0.5f, 0);
    PhysBody_SetPosition(ai->body, &out);
    r->lastPosition = out;
    EXPECT_LT(Think(ai).stickX, 0.0f) << "toward the origin, away from the target";
}

}  // namespace
