#include "game/modes/broomstick_mode.h"

#include "game/chase_camera.h"
#include "game/entity_hud.h"
#include "game/race_setup.h"
#include "vehicle_fixture.h"

namespace {

const char* const kBroomKeys =
    " forwardSpeedMax = 10\n forwardSpeedAccelIncPerSecRangeStart = 10\n forwardSpeedAccelIncPerSecRangeEnd = 20\n"
    " forwardSpeedBreakDecPerSec = 20\n forwardSpeedNoInputDecPerSec = 1\n broomMaxXRotation = 60\n"
    " broomMinXRotation = -60\n broomMaxZRotation = 30\n broomLeanSpeedOuterPerSec = 2\n"
    " broomLeanSpeedInnerPerSec = 4\n broomPitchSpeedOuterPerSec = 2\n broomPitchSpeedInnerPerSec = 4\n"
    " broomYRotateSpeedPerSec = 90\n broomXRotatePosSpeedPerSec = 45\n broomXRotateNegSpeedPerSec = 45\n"
    " broomPitchLevelOffRotateSpeedMax = 90\n broomPitchLevelOffPower = 57.29578\n"
    " broomPitchLevelOffTimeAfterNoInput = 0.5\n broomPitchLevelOffSpeedMaxVel = 20\n stunDuration = 1\n"
    " initHealth = 50\n totalHealth = 100\n initNumLifes = 3\n levelCompPickupTotal = 2\n"
    " easyScorePickupPercentReq = 50\n targetViewAngle = 90, 90\n targetViewRadius = 30\n entityTypeToAttack0 = 2\n"
    " camMode0RailDist = 4\n camMode1RailDist = 6\n"
    " genCamData {\n defaultDistance = 4\n}\n"
    " projectiles {\n ProjType0Config = Shots\\Bolt.cfg\n ProjType0FireMode = 0\n ProjType0Purpose = DAMAGE\n"
    "  ProjType0FPVal0 = -10\n ProjType1Config = Shots\\Heal.cfg\n ProjType1Purpose = HEALTH\n ProjType1FPVal0 = 10\n"
    "  ProjType1Selectable = FALSE\n ProjType2Config = Shots\\Coin.cfg\n ProjType2Purpose = SCORE\n"
    "  ProjType2FPVal0 = 7.9\n ProjType2Selectable = FALSE\n ProjType3Config = Shots\\Beam.cfg\n"
    "  ProjType3Selectable = FALSE\n}\n";

class BroomTest : public VehicleTest {
protected:
    void SetUp() override
    {
        VehicleTest::SetUp();
        for (const char* shot : {"Bolt", "Heal", "Coin"})
            WriteShot((std::string("Shots\\") + shot + ".cfg").c_str(), "STRAIGHT");
        WriteShot("Shots\\Beam.cfg", "FRAME_FOLLOW");
        WriteAnimSet("Props\\Area", "ANIM", {});
    }
    // Player 0 on a broom at (0, 10, 0), no ground below; keys given first count.
    Object* Broom(const std::string& keys = "", const std::string& vehicleData = "",
                  std::vector<LwsWriterItem> items = {})
    {
        WriteAnimSet("Chars\\Lock", "Anim1", {{"on", 1.0f, true}});
        WriteMode("carddata\\entityconfigs\\Hero.cfg", "BroomStick",
                  {{"fly", 1.0f, true}, {"fire", 0.2f, false}, {"stunned", 0.2f, false}}, keys + "\n" + kBroomKeys,
                  vehicleData, "Anim1Path = Chars\\Lock\nAnim1RBRelMode = 3\n");
        WriteLevel(items, 10.0f);
        broom = Build();
        if (!broom) return nullptr;
        d = D(broom);
        r = Entity_GetRecord(broom);
        d->stopTime = -1.0f;  // input counts 0.3 s after the last stop; the first frames are no stop
        return broom;
    }
    Object* broom = nullptr;
    BroomStickData* d = nullptr;
    EntityRecord* r = nullptr;
    BroomStickData* D(Object* o) { return Data<BroomStickData>(o); }
    // One input step with the given stick and buttons (previous buttons as given).
    void Input(Object* o, float x, float y, uint32_t buttons = 0, uint32_t old = 0)
    {
        PlayerInputRecord in{};
        in.stickX = x;
        in.stickY = y;
        in.buttons = buttons;
        in.oldButtons = old;
        BroomStickMode_Update(o, Entity_GetRecord(o), &in);
    }
    void Hit(Object* broom, Object* other) { BroomStickMode_Collision(broom, Entity_GetRecord(broom), other, 1); }
    // A shot of the broom's weapon n, launched far away.
    Object* Shot(Object* broom, int32_t n)
    {
        Weapon* weapon = ProjType_GetWeapon(&D(broom)->weapons, n);
        weapon->hasFired = 0;  // no firing delay between the test's shots
        Object* shot = Projectile_Spawn(weapon, broom, &D(broom)->weapons);
        const Vec3 at = V(500, 0, 0), ahead = V(0, 0, 1), up = V(0, 1, 0);
        if (shot) Projectile_Launch(shot, &at, &ahead, &up, broom, nullptr);
        return shot;
    }
};

TEST_F(BroomTest, CameraTapsInputAfterAStopTheSpeedCurveAndKeyEventsOfShotsAndMessages)
{
    ASSERT_TRUE(Broom());
    for (auto [held, preset] : {std::pair{10, 1u}, std::pair{20, 1u}}) {
        Input(broom, 1.0f, 0.0f, BROOM_BUTTON_CAMERA, 0);
        for (int i = 1; i < held; ++i) {
            r->clock += dt;
            Input(broom, 1.0f, 0.0f, BROOM_BUTTON_CAMERA, BROOM_BUTTON_CAMERA);
        }
        EXPECT_FLOAT_EQ(d->lean, 0.0f) << "the stick reads zero while the button is held";
        r->clock += dt;
        Input(broom, 0.0f, 0.0f, 0, BROOM_BUTTON_CAMERA);
        EXPECT_EQ(d->camPreset, preset) << held;
    }
    EXPECT_FLOAT_EQ(d->camera->targetDistance, 6.0f);
    d->stopTime = r->clock - 0.29f;
    Input(broom, 1.0f, 0.0f, BROOM_BUTTON_ACCELERATE);
    EXPECT_FLOAT_EQ(d->lean, 0.0f) << "ignored within 0.3 s of a stop";
    d->stopTime = r->clock - 0.31f;
    Input(broom, 1.0f, 0.0f);
    EXPECT_GT(d->lean, 0.0f);
    d->speed = 0.0f;
    Input(broom, 0, 0, BROOM_BUTTON_ACCELERATE);
    EXPECT_NEAR(d->speed, dt * 10.0f, 1e-5f) << "at rest: the curve's start";
    d->speed = 5.0f;
    Input(broom, 0, 0, BROOM_BUTTON_ACCELERATE);
    EXPECT_NEAR(d->speed, 5.0f + dt * 15.0f, 1e-5f) << "half way: half way along a linear curve";
    for (int i = 0; i < 60; ++i) Input(broom, 1.0f, 0.0f);
    EXPECT_FLOAT_EQ(d->lean, 1.0f);
    Input(broom, -1.0f, 0.0f);
    EXPECT_NEAR(d->lean, -dt * 2.0f, 1e-5f) << "crossing over snaps to 0 first";
    // Key events fire held shots and queue object events.
    AnimSet* set = r->animSlots[0].set;
    Node* node = r->animSlots[0].root;
    BroomStickMode_Message(set, "ProjType,3", node, 0, 0.0f, 0.1f);
    Object* held = d->held[0].projectile;
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(Projectile_GetModeIndex(held), (uint32_t)PROJMODE_FRAME_FOLLOW);
    EXPECT_EQ(d->held[0].set, set);
    BroomStickMode_Message(set, "ProjType,3", node, 1, 0.0f, 0.0f);
    EXPECT_EQ(d->held[0].projectile, nullptr);
    EXPECT_FALSE(Projectile_GetRecord(held)->flags & PROJ_IN_USE) << "back in the pool";
    BroomStickMode_Message(set, "ProjType, 17", node, 0, 0.0f, 0.1f);
    EXPECT_EQ(d->held[0].projectile, nullptr) << "a slot not in the list fires the current weapon, not held";
    WriteProp("Gate", "StringVal1 = A");
    PlaceProps({Item("Gate", V(0, 0, 9))});
    BroomStickMode_Message(set, "Message,0,activate,A,B,C,D,E,F,G", node, 0, 0.0f, 0.1f);
    EXPECT_EQ(ObjectEvent_GetCount(), 3u) << "past six words the rest is ignored";
    // A tap of the camera button steps the preset; the brake slows the broom.
    const uint32_t preset = d->camPreset;
    Input(broom, 0, 0, BROOM_BUTTON_CAMERA);
    Input(broom, 0, 0, 0, BROOM_BUTTON_CAMERA);
    EXPECT_EQ(d->camPreset, (preset + 1) & 3);
    d->speed = 5.0f;
    Input(broom, 0, 0, BROOM_BUTTON_BRAKE);
    EXPECT_LT(d->speed, 5.0f);
}

TEST_F(BroomTest, HealingScoringPopUpsAndTypedObjects)
{
    WriteProp("Kill", "StringVal0 = KILLAREA\n FPVal0 = -1\n FPVal1 = 50");
    WriteProp("Marker", "StringVal0 = WAYPOINT\n FPVal0 = -1\n FPVal1 = 50");
    WriteProp("Spring", "StringVal0 = SPRINGBOARD\n FPVal0 = -1\n FPVal1 = 10");
    WriteProp("Fire", "StringVal0 = DEATHAREA\n FPVal0 = -1\n FPVal1 = 20\n FPVal2 = 4");
    WriteProp("Coin", "StringVal0 = PICKUP\n FPVal0 = -1\n FPVal1 = 5\n FPVal2 = 3e9", 2);
    PlaceProps({Item("Coin", V(3, 0, 5)), Item("Coin", V(4, 0, 5))});
    ASSERT_TRUE(Broom());
    // Health and lives before and after: at full health with fewer than 99 lives, back to initHealth and a life more.
    const std::tuple<float, int32_t, float, int32_t> cases[] = {
        {100, 3, 50, 4}, {50, 3, 60, 3}, {95, 3, 50, 4}, {100, 99, 100, 99}};
    for (auto [health, lives, healthAfter, livesAfter] : cases) {
        r->health = health;
        d->lives = lives;
        Object* heal = Shot(broom, 1);
        ASSERT_NE(heal, nullptr);
        Hit(broom, heal);
        EXPECT_EQ(std::make_pair(r->health, d->lives), std::make_pair(healthAfter, livesAfter))
            << health << " " << lives;
        Projectile_Release(heal, broom);
    }
    Object* coin = Shot(broom, 2);
    ASSERT_NE(coin, nullptr);
    Hit(broom, coin);
    EXPECT_EQ(d->score, 7);
    for (int i = 0; i < 11; ++i) BroomStickMode_CountHit(5, broom, broom, 1, 0);
    EXPECT_EQ(d->score, 12) << "ten pop-ups fly; the eleventh score counts at once";
    EXPECT_EQ(d->hitCount, 11);
    int flying = 0;
    for (const BroomPopup& p : d->popups) flying += (p.flags & BROOM_POPUP_ACTIVE) ? 1 : 0;
    EXPECT_EQ(flying, 10);
    Frame();
    EXPECT_EQ(d->score, 62) << "without a score counter to fly to, they land at the next frame";
    // Scores as large as an int holds, taken at once and through pop-ups,
    // stop at the limit (the sanitizer build would stop at an overflow).
    Hit(broom, PropAt(V(3, 0, 5)));
    Hit(broom, PropAt(V(4, 0, 5)));
    Frame();
    EXPECT_EQ(d->score, INT32_MAX) << "both pop-ups landed";
    for (int i = 0; i < 11; ++i) BroomStickMode_CountHit(INT32_MAX, broom, broom, 1, 0);
    Frame();
    EXPECT_EQ(d->score, INT32_MAX);

    // Typed objects hurt, push or do nothing.
    PlaceProps(
        {Item("Kill", V(0, 0, 5)), Item("Marker", V(0, 0, 6)), Item("Spring", V(0, 0, 7)), Item("Fire", V(0, 0, 8))});
    Frame(60);  // past the stun protection
    const float health = r->health;
    for (Vec3 at : {V(0, 0, 5), V(0, 0, 6)}) Hit(broom, PropAt(at));
    EXPECT_FLOAT_EQ(r->health, health) << "a kill area and a waypoint do nothing here";
    EXPECT_FALSE(d->runState & BROOM_PUSHING);

    // A springboard pushes for 0.25 s, then the flight takes over smoothly.
    Hit(broom, PropAt(V(0, 0, 7)));
    Frame();
    EXPECT_NEAR(Velocity(broom).y, 10.0f, 0.5f);
    Frame(12);
    float last = Velocity(broom).y;
    for (int i = 0; i < 20; ++i) {
        Frame();
        EXPECT_LT(std::fabs(Velocity(broom).y - last), dt * 10.0f + dt * 10.0f) << "no snap back";
        last = Velocity(broom).y;
    }
    Hit(broom, PropAt(V(0, 0, 8)));
    EXPECT_FLOAT_EQ(r->health, health - 20.0f) << "a death area hurts and stuns";
    EXPECT_EQ(r->animSlots[0].current, BROOM_ANIM_STUNNED);
    // A phantom around the broom: its overlap has no contact, so impact 0, not above its threshold of 0.
    WriteProp("Dud", "StringVal0 = PICKUP\n FPVal1 = 5\n FPVal2 = 20\n BoolVal10 = TRUE", 0,
              "SPHERE2\n Phantom = TRUE");
    PlaceProps({Item("Dud", BodyPosition(broom))});
    const int32_t collected = d->scoreCollected;
    Frame(5);
    EXPECT_EQ(d->scoreCollected, collected) << "a phantom's overlap is no hit";
}

class BroomTimeTest : public BroomTest, public ::testing::WithParamInterface<uint32_t> {};

// Time up: under "countDown" the run ends as played, on "newBestScore" (a
// first run, or a beaten best, stored) or "notBeatenTopScore"; the rules that
// must be completed end lost, on "timeOver". Without its page the level ends,
// and a lost run records nothing.
TEST_P(BroomTimeTest, TimeUpOpensTheRulesPageOrEndsTheLevel)
{
    const uint32_t rule = GetParam();
    Level_SetGameRule(rule);
    Level_SetLevelToUnlock(5);
    Level_SetTimeAllowance(0.5f);
    ASSERT_TRUE(Broom());
    struct Run {
        int32_t best, score, stored;
        const char* page;
    };
    const std::vector<Run> runs = rule == RULE_COUNTDOWN ? std::vector<Run>{{0, 0, 0, "newBestScore"},
                                                                            {0, 7, 7, "newBestScore"},
                                                                            {7, 7, 7, "notBeatenTopScore"},
                                                                            {9, 7, 9, "notBeatenTopScore"},
                                                                            {5, 7, 7, "newBestScore"}}
                                                         : std::vector<Run>{{3, 7, 3, "timeOver"}};
    for (bool menu : {true, false}) {
        for (const Run& run : runs) {
            SCOPED_TRACE(std::string(run.page) + (menu ? "" : " missing"));
            g_hasMenu = menu;
            g_pages.clear();
            g_entries.clear();
            Progress_SetPlayerValue(0, 5, run.best);
            Level_SetFlags(LEVEL_ENDED | LEVEL_QUIT, 0);
            Level_SetClock2(0.0f);
            Entity_Respawn(broom, 1);
            d->score = run.score;
            for (int i = 0; i < 40 && g_pages.empty() && !Level_TestFlags(LEVEL_ENDED); ++i) Frame();
            EXPECT_EQ(Progress_GetPlayerValue(0, 5), run.stored);
            if (menu) {
                ASSERT_EQ(g_pages.size(), 1u);
                EXPECT_EQ(g_pages[0], run.page);
                EXPECT_FALSE(Level_TestFlags(LEVEL_ENDED));
                Frame();
                EXPECT_EQ(g_pages.size(), 2u) << "while the time stays up the page comes back";
                if (rule == RULE_COUNTDOWN) {
                    const std::string shown =
                        std::string(run.page) +
                        ".bestscore=" + std::to_string(run.score > run.best || run.best == 0 ? run.score : run.best);
                    EXPECT_NE(std::find(g_entries.begin(), g_entries.end(), shown), g_entries.end());
                }
            } else {
                EXPECT_TRUE(Level_TestFlags(LEVEL_ENDED));
                EXPECT_EQ(Level_TestFlags(LEVEL_QUIT) != 0, rule != RULE_COUNTDOWN) << "a lost run records nothing";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, BroomTimeTest,
                         ::testing::Values(RULE_COUNTDOWN, RULE_BEATTIME, RULE_COUNTDOWN_MUST_COMPLETE));

// The end area of a "scorePickups" run: two completion pickups step it two
// animations each (the second taken mid-transition), one score pickup meets
// the quota, the triggered area wakes the trigger pickup, which plays the
// last animation, and the run ends when that has finished.
TEST_F(BroomTest, TheEndAreaRunsToTheEndOfAScorePickupsRun)
{
    WriteProp("End", "StringVal0 = ENDAREA\n FPVal0 = -1", 8);
    WriteProp("Comp", "StringVal0 = PICKUP\n FPVal0 = -1\n FPVal1 = 4", 2);
    WriteProp("Coin", "StringVal0 = PICKUP\n FPVal0 = -1\n FPVal1 = 5\n FPVal2 = 30", 2);
    WriteProp("Trigger",
              "StringVal0 = PICKUP\n StringVal1 = ENDAREATRIGGER\n FPVal0 = -1\n FPVal1 = 6\n BoolVal0 = TRUE", 2);
    Level_SetGameRule(RULE_SCORE_PICKUPS);
    Level_SetLevelToUnlock(5);
    PlaceProps({Item("End", V(0, 0, 30)), Item("Comp", V(1, 0, 5)), Item("Comp", V(2, 0, 5)), Item("Coin", V(3, 0, 5)),
                Item("Coin", V(4, 0, 5)), Item("Trigger", V(5, 0, 5))});
    ASSERT_TRUE(Broom());
    Object* end = PropAt(V(0, 0, 30));
    ASSERT_EQ(d->endArea, end);
    EXPECT_EQ(d->compPickupCount, 2u);
    EXPECT_EQ(d->scorePresent, 2);
    Frame();
    Hit(broom, PropAt(V(1, 0, 5)));
    EXPECT_EQ(HitModeObject_GetAnimIndex(end), 1);
    Hit(broom, PropAt(V(2, 0, 5)));  // while the area still plays animation 1
    EXPECT_EQ(HitModeObject_GetAnimIndex(end), 3);
    Frame(12);
    ASSERT_EQ(HitModeObject_GetAnimIndex(end), 4) << "waiting";
    Frame(3);
    EXPECT_EQ(HitModeObject_GetAnimIndex(end), 4) << "the quota is not met yet";
    Hit(broom, PropAt(V(3, 0, 5)));
    EXPECT_TRUE(d->flags & BROOM_REQUIREMENT);
    Frame(2);
    EXPECT_GE(HitModeObject_GetAnimIndex(end), 5) << "triggered";
    Object* trigger = PropAt(V(5, 0, 5));
    Frame(2);
    ASSERT_TRUE(HitModeObject_TestState(trigger, HITSTATE_ACTIVE)) << "woken by the queued event";
    BroomStickMode_CountHit(25, broom, broom, 0, 0);  // a pop-up still flying at the end
    Hit(broom, trigger);
    EXPECT_EQ(HitModeObject_GetAnimIndex(end), 7);
    Frame(15);
    EXPECT_TRUE(Progress_TestFlags(5, 4)) << "time attack unlocked";
    ASSERT_EQ(g_pages.size(), 1u);
    EXPECT_EQ(g_pages[0], "unlockedTimeAttack");
    EXPECT_FALSE(Level_TestFlags(LEVEL_ENDED)) << "the page shows instead";
    EXPECT_EQ(d->score, 30 + 25) << "the coin and the pop-up, each once";
    EXPECT_EQ(Progress_GetPlayerValue(0, 5), 55);
    // Completed again: time attack is unlocked already, no page, the level ends.
    g_pages.clear();
    Entity_Respawn(broom, 1);
    EXPECT_EQ(HitModeObject_GetAnimIndex(end), 0);
    HitModeObject_PlayIndex(end, 7, 1, 0);
    Frame(15);
    EXPECT_TRUE(g_pages.empty());
    EXPECT_TRUE(Level_TestFlags(LEVEL_ENDED));
}

// An end area with fewer steps than the run has pickups goes straight to its
// waiting animation and stays there; one too short for the sequence is ignored.
TEST_F(BroomTest, AShortEndAreaWaitsAtOnceAndATooShortOneIsIgnored)
{
    WriteProp("End", "StringVal0 = ENDAREA\n FPVal0 = -1", 5);
    WriteProp("Comp", "StringVal0 = PICKUP\n FPVal0 = -1\n FPVal1 = 4", 2);
    PlaceProps({Item("End", V(0, 0, 30)), Item("Comp", V(1, 0, 5)), Item("Comp", V(2, 0, 5))});
    Level_SetGameRule(RULE_SCORE_PICKUPS);
    ASSERT_TRUE(Broom());
    EXPECT_TRUE(d->flags & BROOM_REQUIREMENT) << "no score pickups to collect";
    Object* end = PropAt(V(0, 0, 30));
    ASSERT_EQ(d->endArea, end);
    Frame();
    Hit(broom, PropAt(V(1, 0, 5)));
    EXPECT_EQ(HitModeObject_GetAnimIndex(end), 1);
    Hit(broom, PropAt(V(1, 0, 5)));  // taken already
    Hit(broom, PropAt(V(2, 0, 5)));
    EXPECT_EQ(HitModeObject_GetAnimIndex(end), 1);
    // The hard share of score pickups on a hard player's restart.
    GameSetup_SetPlayerDifficulty(0, 2);
    Entity_Respawn(broom, 1);
    GameSetup_SetPlayerDifficulty(0, 0);
    EXPECT_EQ(d->scoreFractionRequired, d->scoreFraction[2]);
}

TEST_F(BroomTest, AnEndAreaTooShortForItsSequenceIsIgnoredAndAHiddenRunWithoutHiddenPickupsIsMet)
{
    WriteProp("End", "StringVal0 = ENDAREA\n FPVal0 = -1", 3);
    PlaceProps({Item("End", V(0, 0, 30))});
    Level_SetGameRule(RULE_HIDDEN_PICKUPS);
    ASSERT_TRUE(Broom());
    EXPECT_EQ(d->endArea, nullptr);
    EXPECT_TRUE(d->flags & BROOM_REQUIREMENT);
}

// Lock-on: targets in front are found, one seen at a time; the nearest
// visible one is taken; buttons switch to a nearer or farther one; a target
// that leaves the table, or stays hidden for 5 s, is dropped.
TEST_F(BroomTest, TheLockOnFindsSwitchesAndDropsTargets)
{
    WriteMode("Levels\\Test\\Bat.cfg", "Man", {{"idle", 1.0f, true}}, "", "EntityType0 = 2\n");
    ASSERT_TRUE(Broom(
        "", "", {Item("entity_Bat", V(0, 10, 5)), Item("entity_Bat", V(0, 10, 10)), Item("entity_Bat", V(0, 10, 15))}));
    std::vector<Object*> bats;
    for (Object* o : Entities())
        if (!Entity_GetRecord(o)->player) bats.push_back(o);
    ASSERT_EQ(bats.size(), 3u);
    auto at = [&](float z) {
        for (Object* b : bats)
            if (std::fabs(BodyPosition(b).z - z) < 0.5f) return b;
        return (Object*)nullptr;
    };
    // Frames with everyone held still in the air, the pad as given for the first.
    auto run = [&](int frames, uint32_t buttons = 0) {
        for (int i = 0; i < frames; ++i) {
            Pad(0, 0, i == 0 ? buttons : 0, 0);
            for (Object* b : bats) {
                const Vec3 zero = V(0, 0, 0);
                PhysBody_SetLinearVelocity(b->body, &zero);
            }
            Frame();
        }
    };
    run(6);
    ASSERT_EQ(d->target, at(5)) << "the nearest one in plain sight";
    EXPECT_TRUE(d->live[0].visible && d->live[1].visible && d->live[2].visible);
    const std::pair<uint32_t, float> switches[] = {
        {BROOM_BUTTON_FARTHER, 10}, {BROOM_BUTTON_FARTHER, 15}, {BROOM_BUTTON_NEARER, 10}};
    for (auto [button, z] : switches) {
        run(1, button);
        EXPECT_EQ(d->target, at(z)) << z;
    }

    Object* gone = at(10);
    const Vec3 behind = V(0, 10, -20);
    PhysBody_SetPosition(gone->body, &behind);
    run(6);
    EXPECT_NE(d->target, gone) << "behind the broom, out of the search: dropped at the next pass";
    EXPECT_EQ(d->target, at(5));

    // A wall hides the target: its lock runs out 5 s later.
    Box({3, 3, 0.2f}, V(0, 10, 2.5f));
    int frames = 0;
    for (; d->target == at(5) && frames < 400; ++frames) run(1);
    EXPECT_NE(d->target, at(5));
    EXPECT_GT(frames * dt, 4.5f);
    EXPECT_LT(frames * dt, 5.5f);
}

// In a quarter of a split screen a pop-up lands on the score counter of its
// view: both are drawn in the view's own frame. Two pop-ups opened together
// are drawn apart all the way.
TEST_F(BroomTest, APopUpLandsOnTheScoreCounterOfItsViewAndTwoKeepApart)
{
    Font font{};  // the HUD's texts are drawn with the context's first font
    Game_GetContext()->fonts[0] = &font;
    WriteConfig("Huds\\Broom.cfg",
                "HUD0 {\n HudText0Position = 0,0\n HudText1Position = 0,0\n HudText2Position = 0.75,0.12\n}\n");
    ASSERT_TRUE(Broom("", "HudPath = Huds\\Broom.cfg"));
    const float quarter[4] = {0.5f, 0.5f, 0.5f, 0.5f};  // the lower right
    Viewport_SetRect(0, quarter);
    BroomStickMode_CountHit(5, broom, broom, 1, 0);
    for (int i = 0; i < 500 && (d->popups[0].flags & BROOM_POPUP_ACTIVE); ++i) Frame();
    const ScreenText* texts = Level_GetSession()->viewports[0].texts;
    EXPECT_FLOAT_EQ(texts[2].x, 560.0f) << "the counter";
    EXPECT_LT(std::hypot(texts[r->hudTextCount].x - 560.0f, texts[r->hudTextCount].y - texts[2].y), 20.0f);
    App_SetScreenSize(640, 480);  // texts measure on it
    for (int i = 0; i < 2; ++i) BroomStickMode_CountHit(5, broom, broom, 1, 0);
    for (BroomPopup& p : d->popups) p.vx = p.vy = 0.0f;  // the same place, the same flight
    EXPECT_EQ(Overlaps(r->hudTextCount, [&] { return d->popups[0].flags | d->popups[1].flags; }), 0);
    EXPECT_EQ(d->score, 15) << "all three landed";
    App_SetScreenSize(0, 0);
    Game_GetContext()->fonts[0] = nullptr;
}

TEST_F(BroomTest, TheArrowPointsAtTheNearestWaitingCompletionPickup)
{
    WriteConfig("Huds\\Broom.cfg", "HUD1 {\n HudText0Position = 0.1, 0.1\n}\n");
    for (int i = 0; i < 3; ++i)
        WriteAnimSet("Huds\\Broom.cfg", ("HudAnim" + std::to_string(i)).c_str(), {{"idle", 1.0f, true}});
    WriteProp("Comp", "StringVal0 = PICKUP\n FPVal0 = -1\n FPVal1 = 4", 2);
    PlaceProps({Item("Comp", V(-5, 10, 10)), Item("Comp", V(8, 10, 20))});
    ASSERT_TRUE(Broom("levelCompArrowSpeed = 3600, 3600", "HudPath = Huds\\Broom.cfg"));
    ASSERT_GE(r->hudAnimCount, 3u);
    Node* arrow = r->hudAnims[2].node;
    Frame(3);
    EXPECT_FALSE(arrow->flags & NODE_HIDDEN);
    EXPECT_LT(d->arrowYaw, -0.2f) << "the nearer pickup, on the left";
    HitModeObject_PlayIndex(PropAt(V(-5, 10, 10)), 1, 1, 0);
    Frame(3);
    EXPECT_GT(d->arrowYaw, 0.2f) << "the one still waiting, on the right";
    HitModeObject_PlayIndex(PropAt(V(8, 10, 20)), 1, 1, 0);
    Frame();
    EXPECT_TRUE(arrow->flags & NODE_HIDDEN);
}

}  // namespace
