// Man_CamRel: the load (sections per pass, warnings, the end object), the
// movement (the freeze guard, lunges, the camera button, attacks and
// jumps), the rules (time limits and best scores, lives, falls, the target
// list, skids, animation speed, the camera pitch) and the collision slot
// (health and score shots, pickups, platforms, key events).

#include "app/shell.h"
#include "engine/animset.h"
#include "engine/font.h"
#include "engine/objecttemplate.h"
#include "game/game_context.h"
#include "game/race_setup.h"
#include "modes_fixture.h"

namespace {

class ManCamRelTest : public ModesTest {
protected:
    Object* Hero(const std::string& controlData = "", std::vector<LwsWriterItem> extra = {})
    {
        return CamRelHero(controlData + " maxRunSpeed = 100\n", extra);
    }
    Object* Mover(const std::string& controlData = "")
    {
        return CamRelHero(
            controlData +
            " maxRunSpeed = 100\n forwardVelStepInAir = 500\n doubleJumpVel = 9\n doubleJumpAllow = TRUE\n"
            " doubleJumpAllowMinYVel = -2\n doubleJumpAllowMaxYVel = 2\n camMode0RailDist = 4\n"
            " camMode1RailDist = 5\n camMode2RailDist = 6\n camMode3RailDist = 7\n camMode0XRotation = 80\n"
            " manualCamSpeed = 90, 180\n genCamData {\n  defaultDistance = 5\n }\n");
    }
    static float Horizontal(Vec3 v) { return std::sqrt(v.x * v.x + v.z * v.z); }
    std::string LastPage() const { return g_pages.empty() ? "" : g_pages.back(); }
    static int Logged(const std::string& text)  // lines of the log with the text
    {
        int seen = 0;
        for (const std::string& line : g_log) seen += line.find(text) != std::string::npos;
        return seen;
    }
};

TEST_F(ManCamRelTest, MissingKeysWarnOncePerLoadAndABadEndObjectIsNotUsed)
{
    WriteProp("End", "StringVal0 = ENDAREA", 3);
    PlaceProps({Item("End", V(6, 1, 1))});
    WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Man_CamRel", "");
    Ground();
    g_log.clear();
    Object* hero = StartPlayer();
    for (const char* key : {"jumpTimeSinceGroundAllow", "forwardVelStep", "maxRunSpeed", "maxInAirSpeed",
                            "dieInAirTime", "camMode0RailDist", "camMode3RailDist", "genCamData", "fewer than 4"})
        EXPECT_EQ(Logged(key), 1) << key;
    EXPECT_EQ(g_log.size(), 11u) << "pass 0 twice (levelToUnlock 0) still warns once";
    EXPECT_EQ(CamRel(hero)->levelEnd, nullptr);
}

// An end object whose animations do not match the completion pickups is kept
// with a warning; the player's difficulty picks the share of score pickups required.
TEST_F(ManCamRelTest, AMismatchedEndObjectWarnsAndTheDifficultyPicksTheRequiredShare)
{
    WriteProp("End", "StringVal0 = ENDAREA", 5);
    PlaceProps({Item("End", V(6, 1, 1))});
    g_log.clear();
    Object* hero = Hero(
        " levelCompPickupTotal = 2\n easyScorePickupPercentReq = 25\n mediumScorePickupPercentReq = 50\n"
        " hardScorePickupPercentReq = 75\n");
    EXPECT_NE(CamRel(hero)->levelEnd, nullptr);
    EXPECT_GE(Logged("levelCompPickupTotal 2 needs 8"), 1);
    for (uint32_t difficulty : {1u, 2u, 0u}) {
        GameSetup_SetPlayerDifficulty(0, difficulty);
        ManCamRelMode_Restart(hero, Record(hero), difficulty > 0);
        EXPECT_FLOAT_EQ(CamRel(hero)->requiredFraction, 0.25f * (float)(difficulty + 1)) << difficulty;
    }
}

TEST_F(ManCamRelTest, NothingButTheNoInputFlagHappensForThreeTenthsAfterAFreeze)
{
    Object* hero = Mover();
    Record(hero)->flags |= ENTITY_FROZEN;
    Step();
    Record(hero)->flags &= ~ENTITY_FROZEN;
    const float frozenAt = d->freezeTime;
    script[0].stickY = 1.0f;
    script[0].buttons = MCR_BUTTON_JUMP;
    int frames = 0;
    while (Entity_GetTime(Record(hero)) - frozenAt < 0.28f) {
        Step();
        script[0].buttons = 0;
        frames++;
        EXPECT_LT(Horizontal(Velocity(hero)), 0.05f);
        EXPECT_TRUE(d->flags & MCR_NO_INPUT);
        EXPECT_NE(Anim(hero), MCR_JUMPIN);
    }
    EXPECT_GE(frames, 13);
    Step(3);
    EXPECT_GT(Horizontal(Velocity(hero)), 0.5f);
}

// A close attack, and the special move while its weapon has shots, lunge
// forward from 0.05 to 0.25 s into the animation, at most at 6.
using LungeCase = std::tuple<const char*, uint32_t, int32_t, bool>;  // keys, button, animation, lunges

class ManCamRelLungeTest : public ManCamRelTest, public ::testing::WithParamInterface<LungeCase> {};

TEST_P(ManCamRelLungeTest, AttacksAndTheSpecialMoveLungeForwardInTheirWindow)
{
    const auto [keys, button, anim, lunges] = GetParam();
    WriteShot("Shots\\Bolt.cfg", "STRAIGHT");
    Object* hero =
        Mover(std::string(keys) +
              " closeAttackMoveStartTime = 0.05\n closeAttackMoveEndTime = 0.25\n closeAttackForwardVelStep = 60\n"
              " closeAttackMaxSpeed = 6\n noInputDamping = 2, 0, 2\n specialMoveProjectileNum = 1\n projectiles {\n"
              "  ProjType0Config = Shots\\Bolt.cfg\n  ProjType1Config = Shots\\Bolt.cfg\n  ProjType1Ammo = 2\n }\n");
    Press(button);
    EXPECT_EQ(Anim(hero), anim);
    float speeds[15], fastest = 0.0f;
    for (float& speed : speeds) {
        Step();
        speed = Velocity(hero).z;
        fastest = std::fmax(fastest, speed);
    }
    EXPECT_LT(speeds[0], 0.01f) << "not yet";
    EXPECT_LT(fastest, 6.01f);
    EXPECT_EQ(fastest > 5.0f, lunges);
    if (lunges) {
        EXPECT_LT(speeds[14], fastest - 0.5f) << "over";
    }
    EXPECT_NEAR(Velocity(hero).x, 0.0f, 1e-3f);
}

INSTANTIATE_TEST_SUITE_P(Moves, ManCamRelLungeTest,
                         ::testing::Values(LungeCase{"", MCR_BUTTON_ATTACK, MCR_CLOSE_ATTACK1, true},
                                           LungeCase{"", MCR_BUTTON_SPECIAL, MCR_SPECIAL_MOVE, true},
                                           LungeCase{" noSpecialAmmo = TRUE\n", MCR_BUTTON_SPECIAL, MCR_STAND, false}));

TEST_F(ManCamRelTest, ATapOfTheCameraButtonCyclesTheModeAndAHoldOnlySteers)
{
    Object* hero = Mover();
    d->camMode = 3;
    script[0].buttons = MCR_BUTTON_CAMERA;
    Step(5);
    script[0].buttons = 0;
    Step();
    EXPECT_EQ(d->camMode, 0) << "3 wraps to 0";
    EXPECT_EQ(d->camera->targetDistance, 4.0f);

    // Held, the button makes the stick steer the camera by hand: x turns
    // it towards +x, y raises it to look further down; the character stays.
    auto Steer = [&](float x, float y, int frames = 15) {
        script[0].buttons = MCR_BUTTON_CAMERA;
        script[0].stickX = x;
        script[0].stickY = y;
        Step(frames);
        EXPECT_TRUE(Horizontal(Velocity(hero)) < 0.05f);
        Vec3 at, up;
        Node_GetWorldOrientation(cameraFrame, &at, &up);
        return at;
    };
    const Vec3 still = Steer(0, 0, 60), turned = Steer(1, 0), lowered = Steer(0, 1);
    EXPECT_GT(Vec3_Heading(&turned), 0.6f);
    EXPECT_NEAR(turned.y, still.y, 0.05f);
    EXPECT_LT(lowered.y, turned.y - 0.08f);
    script[0].buttons = 0;
    script[0].stickY = 0.0f;
    Step();
    EXPECT_EQ(d->camMode, 0) << "a hold of 1.8 s is no tap";
}

TEST_F(ManCamRelTest, AttacksQueueAndTheDoubleJumpNeedsANewPressInItsWindowOncePerJump)
{
    Object* hero = Mover();
    Press(MCR_BUTTON_ATTACK);
    EXPECT_EQ(Anim(hero), MCR_CLOSE_ATTACK1);
    EXPECT_FALSE(CamRel(hero)->flags & MCR_ATTACK_QUEUED);
    Step();
    Press(MCR_BUTTON_ATTACK);
    EXPECT_TRUE(CamRel(hero)->flags & MCR_ATTACK_QUEUED);
    Press(MCR_BUTTON_FIRE);
    EXPECT_EQ(Anim(hero), MCR_CLOSE_ATTACK1) << "no firing during an attack";
    Step(20);
    EXPECT_EQ(Anim(hero), MCR_CLOSE_ATTACK2);
    Step(20);
    EXPECT_NE(Anim(hero), MCR_CLOSE_ATTACK1) << "without a queued attack the second one finishes";
    Step(20);
    Press(MCR_BUTTON_JUMP);
    EXPECT_NEAR(Velocity(hero).y, 6.0f, 0.01f);
    script[0].buttons = MCR_BUTTON_JUMP;
    Step(5);
    EXPECT_NE(Anim(hero), MCR_DOUBLEJUMP) << "held, not pressed; and 6 is outside the window";
    script[0].buttons = 0;
    while (Velocity(hero).y > 1.5f) Step();
    Press(MCR_BUTTON_JUMP);
    EXPECT_EQ(Anim(hero), MCR_DOUBLEJUMP);
    EXPECT_NEAR(Velocity(hero).y, 9.0f, 0.01f);
    Step(40);
    Press(MCR_BUTTON_JUMP);
    ASSERT_FALSE(Record(hero)->flags & ENTITY_ON_GROUND);
    EXPECT_LT(Velocity(hero).y, 9.0f - 0.2f) << "one double jump per jump";
}

TEST_F(ManCamRelTest, CountDownRecordsBestScoresAndComparesThemUnsigned)
{
    Level_SetGameRule(RULE_COUNTDOWN);
    Level_SetLevelToUnlock(3);
    Level_SetTimeAllowance(100.0f);
    Hero();
    EXPECT_TRUE(g_pages.empty());

    const std::tuple<int32_t, int32_t, const char*, int32_t, const char*> cases[] = {
        {0, 0, "newBestScore", 0, "newBestScore.bestscore=0"},  // a best of 0 records even 0
        {50, 70, "newBestScore", 70, "newBestScore.bestscore=70"},
        {70, 20, "notBeatenTopScore", 70, "notBeatenTopScore.bestscore=70|notBeatenTopScore.attemptscore=20"},
        {-5, 10, "notBeatenTopScore", -5, "notBeatenTopScore.bestscore=-5|notBeatenTopScore.attemptscore=10"},
    };
    for (auto [best, score, page, stored, expected] : cases) {
        Progress_SetPlayerValue(0, 3, best);
        d->score = score;
        g_pages.clear();
        g_entries.clear();
        Level_SetClock2(100.0f);
        Step();
        ASSERT_FALSE(g_pages.empty()) << best;
        EXPECT_EQ(std::make_pair(LastPage(), Progress_GetPlayerValue(0, 3)), std::make_pair(std::string(page), stored));
        std::string entries;
        for (const std::string& e : g_entries) entries += (entries.empty() ? "" : "|") + e;
        EXPECT_EQ(entries, expected);
    }
    // A missing page of a countdown's end leaves the level as a completion.
    g_missingPages = {"notBeatenTopScore"};
    Step();
    EXPECT_TRUE(Level_TestFlags(LEVEL_ENDED));
    EXPECT_FALSE(Level_TestFlags(LEVEL_QUIT));

    // Under beatTime the time-out page opens; without it the level is lost.
    Level_SetFlags(LEVEL_ENDED, 0);
    Level_SetGameRule(RULE_BEATTIME);
    g_pages.clear();
    Step();
    EXPECT_EQ(LastPage(), "timeOver");
    g_missingPages = {"timeOver"};
    Step();
    EXPECT_TRUE(Level_TestFlags(LEVEL_ENDED) && Level_TestFlags(LEVEL_QUIT));
}

// A fall faster than the limit kills after its time, renewed by a contact or
// slowing down; the death costs a life, and the last life's death opens the
// die menu, without which the level is lost.
TEST_F(ManCamRelTest, AFallKillsAfterItsTimeAndTheLastLifeOpensTheDieMenuOrLosesTheLevel)
{
    Object* hero = Hero(" dieInAirTime = 2.0\n dieInAirVel = -5\n initNumLifes = 1\n");
    EntityRecord* r = Record(hero);
    EXPECT_EQ(d->lives, 1);
    Place(hero, V(0, 2000, 0));
    SetVelocity(hero, V(0, -6, 0));
    Step(100);  // 2.0 s falling faster than 5
    EXPECT_GT(Entity_GetHealth(r), 0.0f);
    SetVelocity(hero, V(0, -4.8f, 0));
    Step();  // at the limit after this step's gravity: the timer starts again
    Step(99);
    EXPECT_GT(Entity_GetHealth(r), 0.0f);
    r->flags |= ENTITY_TOUCHED;  // a wall touched in this frame's step
    Step();
    Step(100);
    EXPECT_GT(Entity_GetHealth(r), 0.0f);
    Step(6);
    EXPECT_EQ(Entity_GetHealth(r), 0.0f) << "2.1 s without renewal";
    EXPECT_EQ(Anim(hero), MCR_DIE_IN_AIR);
    Step(30);
    EXPECT_EQ(d->lives, 0) << "a death with lives left respawns with one less";
    EXPECT_GT(Entity_GetHealth(r), 0.0f);
    EXPECT_TRUE(g_pages.empty());
    Entity_SetHealth(r, 0.0f, 0.0f);
    Step(30);
    ASSERT_FALSE(g_pages.empty());
    EXPECT_EQ(g_pages[0], "dieMenu");
    EXPECT_FALSE(Level_TestFlags(LEVEL_ENDED));
    g_hasMenu = false;
    Step(30);
    EXPECT_TRUE(Level_TestFlags(LEVEL_ENDED) && Level_TestFlags(LEVEL_QUIT)) << "lost: no progress";
}

TEST_F(ManCamRelTest, TheTargetListKeepsVisibleTargetsDropsLostOnesAndSkittersDuringADoubleJump)
{
    WriteShot("Shots\\Bolt.cfg", "STRAIGHT");
    WriteCharacter("Levels\\Test\\Frog.cfg", "Man", " forwardVelStep = 1\n", "EntityType0 = 2");
    WriteCharacter("Levels\\Test\\Bug.cfg", "Skitter", " totalHealth = 10\n", "EntityType0 = 2");
    Object* hero = Hero(
        " targetViewRadius = 20\n targetViewAngle = 90, 90\n entityTypeToAttack0 = 2\n"
        " projectiles {\n  ProjType0Config = Shots\\Bolt.cfg\n }\n",
        {Item("entity_Frog", V(0, 0, 6)), Item("entity_Bug", V(2, 0, 12))});
    Object *frog = nullptr, *bug = nullptr;
    for (Object* o : Entities()) {
        if (Record(o)->mode == MODE_MAN) frog = o;
        if (Record(o)->mode == MODE_SKITTER) bug = o;
        if (o != hero) PhysContacts_AddBody(o->body);
    }
    ASSERT_TRUE(frog && bug);
    PhysContacts_AddBody(hero->body);       // rays start inside the caster
    Mode_Play(Record(bug), SKITTER_STAND);  // awake: a sleeping Skitter is no target
    Step(4);
    EXPECT_EQ(d->target, frog) << "the nearest visible candidate";
    Step(40);
    EXPECT_EQ(d->target, frog) << "a visible target is kept";
    EXPECT_TRUE(d->flags & MCR_TARGET_HIDDEN) << "renewed against the hold at every scan";

    Place(frog, V(0, 0.5f, 60));
    Step(4);
    EXPECT_EQ(d->target, bug) << "out of the query: dropped when the next scan ends";

    Mode_Play(Record(hero), MCR_DOUBLEJUMP);
    Entity_SetAnimFlags(Record(hero), 0, ANIMSLOT_PLAYING, 1);
    Step();
    EXPECT_EQ(d->target, nullptr) << "a Skitter is dropped while the double jump plays";

    // Something solid between blocks the view.
    PhysBody* wall = PhysBody_Create(phys, 1.0f, 0.0f);
    const Vec3 centre = V(1, 0.5f, 6);
    PhysWorld_AddBody(phys, wall, &centre, nullptr, nullptr);
    PhysContacts_AddBody(wall);
    Mode_Play(Record(hero), MCR_STAND);
    Step(5);
    EXPECT_EQ(d->target, bug) << "taken again at once, then held out of sight";
    EXPECT_EQ(d->activeVisible[0], 0u);
    Step(240);
    EXPECT_EQ(d->target, bug);
    Step(15);
    EXPECT_EQ(d->target, nullptr) << "dropped 5 s after it went out of sight";
}

TEST_F(ManCamRelTest, WalkRunAndSkidPlayAtTheirSpeedsAndTheCameraPitchStaysFinite)
{
    Object* hero = Hero(
        " maxWalkSpeed = 5\n walkVelSpeedChange = 10\n walkMinAnimSpeedChange = 0.5\n"
        " walkMaxAnimSpeedChange = 2\n runVelSpeedChange = 0.01\n runMinAnimSpeedChange = 0.25\n"
        " runMaxAnimSpeedChange = 3\n runDamping = 0, 0, 0\n skidVel = 10\n skidPowerVal = 1\n");
    EntityRecord* r = Record(hero);
    AnimSet* set = Entity_GetAnimSlotValue(r, 0);
    script[0].stickY = 1.0f;  // 1 m/s at most: walk, factor 10 clamped to 2
    d->maxRunSpeed = 1.0f;
    Step(10);
    ASSERT_EQ(Anim(hero), MCR_WALK);
    float before = AnimSet_GetTime(set);
    Step();
    EXPECT_NEAR(AnimSet_GetTime(set) - before, 2.0f * dt, 1e-4f);
    EXPECT_TRUE(Entity_TestAnimFlags(r, 0, ANIMSLOT_PAUSED)) << "the mode advances the slot itself";
    d->maxWalkSpeed = 0.5f;  // run: (1 - 0.5) x 0.01 clamped up to 0.25
    Step(2);
    ASSERT_EQ(Anim(hero), MCR_RUN);
    before = AnimSet_GetTime(set);
    Step();
    EXPECT_NEAR(AnimSet_GetTime(set) - before, 0.25f * dt, 1e-4f);
    script[0].stickY = 0.0f;
    Step(3);
    EXPECT_FALSE(Entity_TestAnimFlags(r, 0, ANIMSLOT_PAUSED));
    d->maxRunSpeed = 100.0f;
    const float c = std::cos(0.7853982f);
    d->groundNormal = V(c, c, 0);  // 45 degrees: the threshold halves to 5
    SetVelocity(hero, V(0, 0, 8));
    Step(5);
    EXPECT_NE(Anim(hero), MCR_SKID) << "within 0.2 s";
    SetVelocity(hero, V(0, 0, 8));
    Step(10);
    EXPECT_EQ(Anim(hero), MCR_SKID);
    d->groundNormal = V(0, 1, 0);
    SetVelocity(hero, V(0, 0, 8));
    Step(20);
    EXPECT_NE(Anim(hero), MCR_SKID) << "on the flat 8 is below 10";
    for (float vy : {-20.0f, 0.0f, 15.0f}) {
        Place(hero, V(0, 100, 0));
        SetVelocity(hero, V(0, vy, 0));
        Step();
        EXPECT_EQ(d->camPitchOffset, 0.0f) << vy;
        EXPECT_TRUE(std::isfinite(d->camera->angles.x));
        Vec3 p;
        Node_GetWorldPosition(cameraFrame, &p);
        EXPECT_TRUE(Mode_IsFinite(p));
    }
}

TEST_F(ManCamRelTest, HealthShotsAddUpToTheTotalOrGiveALife)
{
    Object* hero = CamRelHero();
    EntityRecord* r = Record(hero);
    // Shots of 20 health (health, lives before and after): with 99 lives added and clamped, beyond the total
    // initHealth and a life.
    const std::tuple<float, int32_t, float, int32_t> cases[] = {{100, 99, 100, 99}, {90, 3, 100, 4}, {70, 3, 90, 3}};
    for (auto [health, lives, healthAfter, livesAfter] : cases) {
        r->health = health;
        d->lives = lives;
        Object* shot = PurposeShot(hero, "HEALTH", 20.0f);
        ASSERT_NE(shot, nullptr);
        ManCamRelMode_Collision(hero, r, shot, 0);
        EXPECT_EQ(std::make_pair(Entity_GetHealth(r), d->lives), std::make_pair(healthAfter, livesAfter)) << health;
        Projectile_Release(shot, hero);
    }
    // Scores from data are truncated and held within the int32 range.
    const std::tuple<int32_t, float, int32_t> scores[] = {
        {0, 12.9f, 12}, {2147483000, 1e6f, INT32_MAX}, {0, 5e9f, INT32_MAX}, {-5, -5e9f, INT32_MIN}};
    for (auto [before, value, after] : scores) {
        Object* shot = PurposeShot(hero, "SCORE", value);
        d->score = before;
        ManCamRelMode_Collision(hero, r, shot, 0);
        EXPECT_EQ(d->score, after) << value;
        Projectile_Release(shot, hero);
    }
    // Awarded points float up while a text is free, then go straight to the score.
    d->score = 0;
    ControlMode_AreaHelper(0, hero, nullptr, 0, 0);  // no points, nothing to show
    for (int i = 0; i <= MCR_FLOAT_TEXTS; ++i) ControlMode_AreaHelper(7, hero, nullptr, 1, 1);
    EXPECT_EQ(d->score, 7);
    EXPECT_EQ(d->killCount, MCR_FLOAT_TEXTS + 1);
    Font font{};  // the texts are added with the context's first font
    Game_GetContext()->fonts[0] = &font;
    Step();
    d->texts[0].depth = 4.0f;
    Step();
    EXPECT_FLOAT_EQ(Level_GetSession()->viewports[0].texts[r->hudTextCount].size, 4.0f) << "drawn at depth 4";
    Game_GetContext()->fonts[0] = nullptr;
    // The texts that land are held within the int32 range as well.
    d->score = INT32_MAX - 20;
    Step(300);
    EXPECT_EQ(d->score, INT32_MAX) << "every text landed";
}

// A floating text that reaches the score counter on the screen ends there,
// even while farther than 20 from its target (counting its depth): it
// never circles over the counter and the lines below it. Two texts taken
// together are drawn apart all the way.
TEST_F(ManCamRelTest, AFloatingTextEndsWhereItMeetsTheScoreCounterAndTwoKeepApart)
{
    Font font{};  // the counter and the texts are drawn with the context's first font
    Game_GetContext()->fonts[0] = &font;
    WriteConfig("Huds\\Hero.cfg",
                "HUD0 {\n HudText0Position = 0,0\n HudText1Position = 0,0\n HudText2Position = 0.75,0.06\n}\n");
    WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Man_CamRel", modestest::kCamRelKeys,
                   "HudPath = Huds\\Hero.cfg");
    Ground();
    StartPlayer();
    Level_GetSession()->viewports[0].rect[2] = Level_GetSession()->viewports[0].rect[3] = 1.0f;
    App_SetScreenSize(640, 480);  // texts measure on it
    // The counter's "0" at x 480..490; the text's "100" at 455..485 (25 to its left), or at 420..450.
    for (auto [x, score] : {std::pair{455.0f, 100}, {420.0f, 0}}) {
        d->score = 0;
        d->texts[0] = ManCamRelFloatText{100, "100", x, 28.8f, 8.0f, 0, 0, {}, MCR_TEXT_ACTIVE, 0};
        Step();
        EXPECT_EQ(d->score, score) << x;
    }
    d->score = d->texts[0].flags = 0;
    for (int i = 0; i < 2; ++i) ManCamRel_AddFloatingPoints(d, 100, Level_GetPlayerEntity(0));
    for (ManCamRelFloatText& t : d->texts) t.vx = t.vy = 0.0f;  // the same place, the same flight
    const uint32_t line = Record(Level_GetPlayerEntity(0))->hudTextCount;
    EXPECT_EQ(Overlaps(line, [&] { return d->texts[0].flags | d->texts[1].flags; }), 0);
    EXPECT_EQ(d->score, 200) << "both landed";
    Game_GetContext()->fonts[0] = nullptr;
    App_SetScreenSize(0, 0);
}

TEST_F(ManCamRelTest, AmmunitionFillsTheWeaponsOfItsTypeAndASpringboardLaunches)
{
    WriteShot("Shots\\Bolt.cfg", "STRAIGHT");
    WriteProp("Ammo", "StringVal0 = PICKUP\n FPVal1 = 11\n FPVal2 = 2\n FPVal3 = 5\n BoolVal10 = TRUE");
    WriteProp("Spring", "StringVal0 = SPRINGBOARD\n FPVal1 = 12");
    PlaceProps({Item("Ammo", V(10, 0.5f, 10)), Item("Spring", V(-10, 0.5f, 10))});
    Object* hero = CamRelHero(
        " projectiles {\n  ProjType0Config = Shots\\Bolt.cfg\n  ProjType0Ammo = 3\n  ProjType0PickupTypeReq = 2\n"
        "  ProjType1Config = Shots\\Bolt.cfg\n  ProjType1Ammo = 3\n  ProjType1PickupTypeReq = 1\n }\n");
    WeaponList* weapons = &CamRel(hero)->weapons;
    Place(hero, V(10, 0.5f, 10));
    Step(3);
    EXPECT_EQ(ProjType_GetAmmo(weapons, 0), 8) << "once";
    EXPECT_EQ(ProjType_GetAmmo(weapons, 1), 3) << "another type";
    Place(hero, V(-10, 0.5f, 10));
    float top = 0.0f;
    for (int i = 0; i < 40; ++i) {
        Step();
        top = std::fmax(top, BodyPosition(hero).y);
    }
    EXPECT_GT(top, 4.0f);
}

// A heavy ball of radius 20 spinning about +y under the rider, kept in place
// every frame: its surface under the rider moves along w x r.
class TurningPlatformTest : public ManCamRelTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TurningPlatformTest, ARiderIsCarriedAlongThePlatformSurface)
{
    WriteObject("Levels\\Test\\Wheel.cfg",
                "VisualModel = NOVISUAL\n PhysicalModel = SPHERE20\n Mass = 100000\n CollisionGroup = 1");
    const bool platformFirst = GetParam();
    Object* wheel = nullptr;
    auto makeWheel = [&] {
        wheel = ObjectTemplate_Load("Levels\\Test\\Wheel.cfg", nullptr, objects, 0);
        ASSERT_NE(wheel, nullptr);
        Object_Sync(wheel, OBJECT_SYNC_ALL);
        PhysWorld_RegisterBodyEvents(phys, wheel->body);
    };
    if (platformFirst) makeWheel();
    WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Man_CamRel", " noInputDamping = 10, 0, 10\n" + kCamRelKeys);
    Object* hero = StartPlayer({}, 40.0f);
    if (!platformFirst) makeWheel();
    const Vec3 centre = V(0, -19.6f, 0), spin = V(0, 1, 0), still = V(0, 0, 0);
    Place(hero, V(3, 0.5f, 0));
    for (int i = 0; i < 50; ++i) {
        PhysBody_SetPosition(wheel->body, &centre);
        PhysBody_SetLinearVelocity(wheel->body, &still);
        PhysBody_SetAngularVelocity(wheel->body, &spin);
        Step();
    }
    const Vec3 p = BodyPosition(hero);
    EXPECT_LT(p.z, -0.5f) << "w x r at (3, 0, 0) points to -z";
    EXPECT_LT(std::fabs(CamRel(hero)->platformVel.z + 3.0f), 1.0f);
}

INSTANTIATE_TEST_SUITE_P(BothSides, TurningPlatformTest, ::testing::Bool());

// Key events of the hero's own animations: a "ProjType" event fires the
// weapon it names, or the current one when it names none or one the list
// lacks; a "Message" event queues object events for the hero's player.
TEST_F(ManCamRelTest, KeyEventsFireTheNamedOrCurrentWeaponAndQueueMessages)
{
    WriteShot("Shots\\Bolt.cfg", "STRAIGHT", "U32Val0 = 4");  // four shots may fly
    Object* hero = CamRelHero(
        " projectiles {\n  ProjType0Config = Shots\\Bolt.cfg\n  ProjType0FiringDelay = 0\n"
        "  ProjType0Ammo = 9\n  ProjType1Config = Shots\\Bolt.cfg\n  ProjType1FiringDelay = 0\n"
        "  ProjType1Ammo = 9\n }\n");
    WriteProp("Gate", "StringVal0 = DOOR\n StringVal1 = GATES");
    PlaceProps({Item("Gate", V(30, 0.5f, 30))});
    EntityRecord* r = Record(hero);
    ASSERT_EQ(d->weapons.count, 2u);
    AnimSet* set = r->animSlots[0].set;
    Node* root = r->animSlots[0].root;
    const std::tuple<const char*, int32_t, int32_t> cases[] = {
        {"ProjType, 1", 9, 8},  {"ProjType,7", 8, 8},  // no weapon 7: the current one
        {"ProjType", 7, 8},     {"ProjType,x", 6, 8},  // not a number: weapon 0
        {"Projectile,1", 6, 8},                        // not a shot
    };
    for (auto [event, ammo0, ammo1] : cases) {
        Step();  // past the firing delay of 0
        ManCamRelMode_Message(set, event, root, 0, 0.0f, 0.1f);
        EXPECT_EQ(std::make_pair(d->weapons.weapons[0].ammo, d->weapons.weapons[1].ammo), std::make_pair(ammo0, ammo1))
            << event;
    }
    ManCamRelMode_Message(set, "Message,0,activate,GATES", root, 0, 0.0f, 0.1f);
    ASSERT_EQ(ObjectEvent_GetCount(), 1u);
    EXPECT_EQ(ObjectEvent_Get(0)->group, ObjectEvent_GroupHash("GATES"));
    EXPECT_EQ(ObjectEvent_Get(0)->player, r->player);
}

}  // namespace
