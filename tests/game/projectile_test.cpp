#include "game/projectile.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/hash.h"
#include "entity_fixture.h"
#include "game/col_area.h"

using namespace entitytest;

namespace {

constexpr float kDegree = 0.0027777778f * 6.2831855f;

int g_random = 500;  // (500 mod 1000) x 0.001 - 0.5 = 0: no spread
int Random() { return g_random; }

class ProjectileTest : public EntityTest {
protected:
    void SetUp() override
    {
        EntityTest::SetUp();
        g_random = 500;
        Game_SetRandomSource(Random);
        WriteAnimSet("Shots\\Bolt", "ANIM",
                     {{"fired", 0.1f, false}, {"inAir", 1.0f, true}, {"hittarget", 0.2f, false}, {"expire", 0.2f, false}});
        WriteAnimSet("Shots\\Plain", "ANIM", {{"inAir", 1.0f, true}});
        WriteObject("Shooter.cfg", "VisualModel = NOVISUAL\n PhysicalModel = SPHERE0.5\n Mass = 0\n CollisionGroup = 1");
        shooter = ObjectTemplate_Load("Shooter.cfg", nullptr, objects, 0);
        ASSERT_NE(shooter, nullptr);
        Object_Sync(shooter, OBJECT_SYNC_ALL);
        PhysWorld_RegisterBodyEvents(phys, shooter->body);
    }
    void TearDown() override
    {
        ProjType_Free(&weapons);
        EntityTest::TearDown();
    }
    // A projectile configuration: fire mode, Description keys, and the mode data after the Object section.
    void WriteShot(const char* path, const char* mode, const std::string& keys = "", const std::string& data = "",
                   const char* visual = "Shots\\Bolt")
    {
        WriteConfig(path, std::string("Object {\n Description {\n VisualModel = ") + visual +
                              "\n PhysicalModel = SPHERE0.1\n Mass = 1\n CollisionGroup = 1\n StringVal0 = " + mode +
                              "\n Constructor = Projectile_Type_Constructor\n Destructor = Projectile_Type_Destructor\n"
                              " Update = Projectile_Type_Update\n Collision = Projectile_Type_Collision\n" +
                              keys + "\n }\n}\n" + data);
    }
    int LoadWeapons(const std::string& keys)
    {
        WriteConfig("Weapons.cfg", "vehicle {\n controlData {\n  projectiles {\n" + keys + "\n  }\n }\n}\n");
        ConfigNode* reader = Config_Open("Weapons.cfg");
        Config_SetSection(reader, "vehicle");
        int n = ProjType_Load(&weapons, reader, "controlData::projectiles");
        Config_Close(reader);
        return n;
    }
    Object* Fire(int weapon, Vec3 at = {0, 0, 1}, Vec3 from = {0, 0, 0}, Node* target = nullptr, bool useBody = true)
    {
        Object* shot = Projectile_Spawn(&weapons.weapons[weapon], shooter, &weapons);
        EXPECT_NE(shot, nullptr) << "weapon " << weapon;
        if (!shot) return nullptr;
        Projectile_SetLaunchNode(target);
        Vec3 up = {0, 1, 0};
        if (std::fabs(at.y) > 0.9f) up = {0, 0, -1};
        EXPECT_EQ(Projectile_Launch(shot, &from, &at, &up, shooter, useBody ? shooter->body : nullptr), 1);
        return shot;
    }
    void Frames(int n)
    {
        for (int i = 0; i < n; ++i) {
            PhysWorld_Step(phys, dt);
            ObjectPool_Update(objects, &dt);
            Projectile_UpdatePool(dt);
        }
    }
    static bool InUse(Object* shot) { return Projectile_GetRecord(shot)->flags & PROJ_IN_USE; }

    WeaponList weapons{};
    Object* shooter = nullptr;
};

TEST_F(ProjectileTest, SelectionSkipsUnselectableAndEmptyWeapons)
{
    WriteShot("Shots\\Bolt.cfg", "THROW");
    LoadWeapons("ProjType0Config = Shots\\Bolt.cfg\nProjType0Ammo = 0\nProjType0PickupTypeReq = 7\n"
                "ProjType1Config = Shots\\Bolt.cfg\nProjType1Selectable = FALSE\n"
                "ProjType2Config = Shots\\Bolt.cfg\nProjType2PickupTypeReq = 7\nProjType2Ammo = 1\n"
                "ProjType3Config = Shots\\Bolt.cfg\nProjType3PickupTypeReq = 2");
    ProjType_ResetWeapons(&weapons);
    EXPECT_EQ(weapons.current, 2) << "the lowest selectable weapon with ammunition";
    EXPECT_EQ(ProjType_GetIconIndex(&weapons), 1);
    // Steps {next, ammunition test, force, result, current}: no wrap without force; without the ammunition
    // test the empty weapon counts.
    const int steps[][5] = {{1, 1, 0, 1, 3}, {1, 1, 0, 0, 3}, {1, 1, 1, 1, 2}, {1, 0, 1, 1, 3},
                            {1, 0, 1, 1, 0}, {0, 1, 0, 0, 0}, {0, 1, 1, 1, 3}, {0, 1, 0, 1, 2}};
    for (const auto& st : steps) {
        EXPECT_EQ(st[0] ? ProjType_SelectNext(&weapons, st[1], st[2]) : ProjType_SelectPrevious(&weapons, st[1], st[2]),
                  st[3]);
        EXPECT_EQ(weapons.current, st[4]) << &st - steps;
    }
    // Ammunition for pickup type 7 reaches weapons 0 and 2 only.
    ProjType_AddAmmo(&weapons, 7, 5);
    const int ammo[][2] = {{0, 5}, {2, 6}, {3, 0}, {9, 0}};
    for (const auto& a : ammo) EXPECT_EQ(ProjType_GetAmmo(&weapons, a[0]), a[1]) << a[0];
    ProjType_AddAmmo(&weapons, 7, INT32_MAX);
    EXPECT_EQ(ProjType_GetAmmo(&weapons, 2), INT32_MAX) << "held at the top, never wrapped";
    // One weapon: a reset keeps it current, and stepping leaves it.
    ProjType_Free(&weapons);
    EXPECT_EQ(weapons.current, -1);
    LoadWeapons("ProjType0Config = Shots\\Bolt.cfg");
    ProjType_ResetWeapons(&weapons);
    EXPECT_EQ(weapons.current, 0);
    EXPECT_EQ(ProjType_SelectNext(&weapons, 1, 1), 0);
    EXPECT_EQ(ProjType_SelectPrevious(&weapons, 1, 1), 0);
    EXPECT_EQ(weapons.current, 0);
    weapons.current = -1;
    EXPECT_EQ(ProjType_SelectNext(&weapons, 1, 0), 1) << "from none every weapon is a candidate";
    EXPECT_EQ(weapons.current, 0);
    // An unknown fire mode is logged, and no shot of it spawns.
    ProjType_Free(&weapons);
    LoadWeapons("ProjType0Config = Shots\\Odd.cfg");
    g_log.clear();
    EXPECT_EQ(Projectile_Spawn(&weapons.weapons[0], shooter, &weapons), nullptr);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_NE(g_log[0].find("fire mode"), std::string::npos);
    EXPECT_EQ(weapons.weapons[0].mode, (uint32_t)PROJMODE_NONE);
}

TEST_F(ProjectileTest, TheOwnerIsIgnoredForTheGraceTimeAndAReusedShotHitsWallsAgain)
{
    // Without animations a hit returns a shot at once.
    WriteShot("Shots\\Grace.cfg", "STRAIGHT", "FPVal1 = 0.5", "ProjectileModeData0 {\n velocity = 2\n}\n", "NOVISUAL");
    WriteShot("Shots\\Rude.cfg", "STRAIGHT", "", "ProjectileModeData0 {\n velocity = 2\n}\n", "NOVISUAL");
    LoadWeapons("ProjType0Config = Shots\\Grace.cfg\nProjType0FiringDelay = 0\n"
                "ProjType1Config = Shots\\Rude.cfg\nProjType1FiringDelay = 0");
    // Launched inside the shooter: without a grace time it hits at once.
    Object* rude = Fire(1);
    Object* polite = Fire(0);
    ASSERT_TRUE(rude && polite);
    EXPECT_FALSE(InUse(rude));
    EXPECT_EQ(Projectile_GetRecord(polite)->flags & (PROJ_IN_USE | PROJ_OWNER_FILTERED),
              (uint32_t)(PROJ_IN_USE | PROJ_OWNER_FILTERED));
    Frames(10);
    EXPECT_TRUE(InUse(polite)) << "it flies out of its owner";
    Frames(20);
    EXPECT_FALSE(Projectile_GetRecord(polite)->flags & PROJ_OWNER_FILTERED);
    // The same instance fired twice at a wall hits it both times.
    PhysBody* wall = PhysBody_Create(phys, 1.0f, 0.0f);
    PhysBody_SetCollisionGroup(wall, 1);
    Vec3 at = V(10, 0, 0);
    PhysWorld_AddBody(phys, wall, &at, nullptr, nullptr);
    Projectile_ClearAll();
    for (int round = 0; round < 2; ++round) {
        Object* shot = Fire(1, V(1, 0, 0), V(6, 0, 0), nullptr, false);
        ASSERT_EQ(shot, rude) << "one instance";
        Frames(100);
        EXPECT_FALSE(InUse(shot)) << "round " << round << " hit the wall";
    }
}

TEST_F(ProjectileTest, EachFireModeFliesItsWay)
{
    WriteShot("Shots\\Throw.cfg", "THROW", "", "ProjectileModeData0 {\n velocity = 10\n launchAngleChange = 30, 0\n}\n");
    WriteShot("Shots\\Straight.cfg", "STRAIGHT", "U32Val0 = 2",
              "ProjectileModeData0 {\n velocity = 10\n maxAutoAngleChange = 20, 20\n}\n");
    WriteShot("Shots\\Homing.cfg", "HOMING", "U32Val0 = 2",
              "ProjectileModeData0 {\n velocity = 5\n changeDirSpeed = 90, 90\n changeDirSpeedChangePerSecond = -1000, 0\n"
              "}\nProjectileModeData1 {\n velocity = 5\n}\n");
    WriteShot("Shots\\Follow.cfg", "FRAME_FOLLOW");
    LoadWeapons("ProjType0Config = Shots\\Throw.cfg\nProjType1Config = Shots\\Straight.cfg\n"
                "ProjType2Config = Shots\\Homing.cfg\nProjType3Config = Shots\\Homing.cfg\nProjType3FireMode = 1\n"
                "ProjType4Config = Shots\\Follow.cfg\nProjType5Config = Shots\\Straight.cfg");
    Node* target = Node_Create(ObjectWorld_GetRootNode());
    auto Aim = [&](Vec3 t) { Node_SetPosition(target, &t); };
    const Vec3 from = V(0, 20, 0);
    // THROW: raised 30 degrees, then ballistic.
    Object* thrown = Fire(0, V(0, 0, 1), from);
    ASSERT_NE(thrown, nullptr);
    EXPECT_NEAR(Velocity(thrown).y, 10.0f * std::sin(30 * kDegree), 1e-3);
    EXPECT_NEAR(Velocity(thrown).z, 10.0f * std::cos(30 * kDegree), 1e-3);
    Frames(25);
    EXPECT_NEAR(Velocity(thrown).y, 5.0f - 9.81f * 0.5f, 0.1f) << "gravity alone moves it";
    // STRAIGHT: a target 10 degrees off is aimed at; one 30 degrees off is not.
    Aim(V(std::sin(10 * kDegree) * 10, 20, std::cos(10 * kDegree) * 10));
    Object* aimed = Fire(1, V(0, 0, 1), from, target);
    auto* sd = (ProjStraightData*)Projectile_GetRecord(aimed)->modeData;
    EXPECT_NEAR(sd->velocity.x, 10.0f * std::sin(10 * kDegree), 0.02f);
    Aim(V(std::sin(30 * kDegree) * 10, 20, std::cos(30 * kDegree) * 10));
    Object* unaimed = Fire(5, V(0, 0, 1), from, target);
    sd = (ProjStraightData*)Projectile_GetRecord(unaimed)->modeData;
    EXPECT_NEAR(sd->velocity.x, 0.0f, 1e-5);
    EXPECT_NEAR(sd->velocity.z, 10.0f, 1e-4);
    Frames(3);
    EXPECT_NEAR(Velocity(unaimed).z, 10.0f, 1e-3) << "constant velocity";
    EXPECT_NEAR(Velocity(unaimed).y, 0.0f, 1e-3);
    // HOMING: turns towards a target to the side; its pitch rate is driven below 0 and stays there; with
    // both rates 0 (block 1) it never steers.
    Aim(V(10, 20, 0));
    Object* homing = Fire(2, V(0, 0, 1), from, target);
    Object* blind = Fire(3, V(0, 0, 1), V(0, 25, 0), target);
    ASSERT_TRUE(homing && blind);
    Frames(20);
    Vec3 at, up;
    Node_GetWorldOrientation(homing->node, &at, &up);
    EXPECT_GT(at.x, 0.5f);
    auto* hd = (ProjHomingData*)Projectile_GetRecord(homing)->modeData;
    EXPECT_EQ(hd->turnRate[0], 0.0f);
    Node_GetWorldOrientation(blind->node, &at, &up);
    EXPECT_NEAR(at.x, 0.0f, 1e-5);
    EXPECT_NEAR(Velocity(blind).z, 5.0f, 1e-3);
    // FRAME_FOLLOW: no data section, glued to its node.
    Node* hand = Node_Create(ObjectWorld_GetRootNode());
    Vec3 h = V(3, 4, 5);
    Node_SetPosition(hand, &h);
    Object* follow = Fire(4, V(0, 0, 1), h, hand, false);
    ASSERT_NE(follow, nullptr);
    h = V(-3, 6, 1);
    Node_SetPosition(hand, &h);
    Frames(2);
    EXPECT_NEAR(BodyPosition(follow).x, -3.0f, 1e-4);
    EXPECT_NEAR(BodyPosition(follow).y, 6.0f, 1e-4);
}

// A shot lives through its animations back to the pool; later shots wait their delay and ammunition.
TEST_F(ProjectileTest, ShotsLiveThroughTheirAnimationsAndReturnToThePool)
{
    WriteShot("Shots\\Bolt.cfg", "STRAIGHT", "FPVal0 = 0.5\nFPVal1 = 1\nU32Val0 = 300",
              "ProjectileModeData0 {\n velocity = 4\n}\n");
    WriteShot("Shots\\Plain.cfg", "STRAIGHT", "FPVal1 = 1", "ProjectileModeData0 {\n velocity = 4\n}\n",
              "Shots\\Plain");
    g_log.clear();
    LoadWeapons("ProjType0Config = Shots\\Bolt.cfg\nProjType0Purpose = DAMAGE\nProjType0FPVal0 = 25\n"
                "ProjType0Ammo = 2\nProjType1Config = Shots\\Plain.cfg\nProjType1FiringDelay = 0");
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_NE(g_log[0].find("256"), std::string::npos);
    Object* shot = Fire(0, V(0, 1, 0), V(0, 2, 0));
    ASSERT_NE(shot, nullptr);
    EXPECT_EQ(Projectile_GetHitType(shot), 0u);
    EXPECT_EQ(Projectile_GetModeIndex(shooter), (uint32_t)PROJMODE_NONE);
    EXPECT_EQ(Projectile_Spawn(&weapons.weapons[0], shooter, &weapons), nullptr) << "the delay";
    Frames(6);
    EXPECT_STREQ(AnimSet_GetCurrentName(shot->animSet), "inAir");
    EXPECT_EQ(Projectile_GetHitType(shot), ObjectType_GetHash(OBJTYPE_DAMAGE));
    EXPECT_EQ(Projectile_GetHitValue(shot, 0), 25.0f);
    EXPECT_EQ(Projectile_GetHitValue(shot, 4), 0.0f);
    Frames(20);
    EXPECT_STREQ(AnimSet_GetCurrentName(shot->animSet), "expire");
    Frames(15);
    EXPECT_FALSE(InUse(shot));
    EXPECT_EQ(Projectile_GetHitType(shot), 0u);
    while (Projectile_GetClock() <= 1.0) Frames(1);
    shot = Fire(0, V(0, 1, 0), V(0, 2, 0));
    ASSERT_NE(shot, nullptr);
    Frames(6);
    Projectile_OnHit(shot, nullptr);  // another owner's hit and release are ignored
    Projectile_Release(shot, nullptr);
    EXPECT_STREQ(AnimSet_GetCurrentName(shot->animSet), "inAir");
    Projectile_OnHit(shot, shooter);
    EXPECT_STREQ(AnimSet_GetCurrentName(shot->animSet), "hittarget");
    Frames(13);
    EXPECT_FALSE(InUse(shot));
    Frames(60);
    EXPECT_EQ(Projectile_Spawn(&weapons.weapons[0], shooter, &weapons), nullptr) << "out of ammunition";
    // A set without "hittarget" returns to the pool on its first hit; clear all returns every shot.
    Object* plain = Fire(1, V(0, 1, 0), V(0, 2, 0));
    Projectile_OnHit(plain, shooter);
    EXPECT_FALSE(InUse(plain));
    Frames(1);
    plain = Fire(1, V(0, 1, 0), V(0, 2, 0));
    Projectile_ClearAll();
    EXPECT_FALSE(InUse(plain));
}

}  // namespace

TEST_F(ProjectileTest, KeyEventsOfAShotFireChildShots)
{
    WriteAnimSet("Shots\\Splitter", "ANIM", {{"inAir", 1.0f, true}}, {{"ProjType,child", 0, 0.1f, 0.15f}});
    WriteShot("Shots\\Parent.cfg", "STRAIGHT", "", "ProjectileModeData0 {\n velocity = 3\n}\n", "Shots\\Splitter");
    WriteShot("Shots\\Child.cfg", "STRAIGHT", "U32Val0 = 2\nFPVal1 = 1", "ProjectileModeData0 {\n velocity = 1\n}\n", "NOVISUAL");
    LoadWeapons("ProjType0Config = Shots\\Parent.cfg\nProjType1Config = Shots\\Child.cfg\nProjType1TriggerRef = CHILD\n"
                "ProjType1Selectable = FALSE");
    Object* parent = Fire(0, V(0, 1, 0), V(0, 3, 0));
    ASSERT_NE(parent, nullptr);
    Frames(10);
    int children = 0;
    List_ForEach(
        Projectile_GetPool(),
        [](void* item, void* n) {
            ProjectileRecord* r = Projectile_GetRecord((Object*)item);
            if (r && r->pathHash == Name_Hash("Shots\\Child.cfg", 0, 1) && (r->flags & PROJ_IN_USE)) ++*(int*)n;
            return 0;
        },
        &children);
    EXPECT_EQ(children, 1);
}
