// Set-up of the control-mode tests: the entity tests' level (game records,
// content layer, physics world, object world, entity system, projectiles and
// hit-mode objects) with the real walking modes registered, a camera frame
// for each player's viewport, a recording stand-in for the in-game menu,
// scripted pads whose previous buttons follow by themselves, and writers of
// characters, level objects and levels.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "../entity_fixture.h"
#include "app/config.h"
#include "engine/objectscene.h"
#include "game/entity_anim.h"
#include "game/entity_hud.h"
#include "game/hit_mode_object.h"
#include "game/modes/man_camrel.h"
#include "game/modes/man_mode.h"
#include "game/modes/mode_common.h"
#include "game/modes/mode_helpers.h"
#include "game/modes/skitter.h"
#include "game/modes/small_modes.h"
#include "game/modes/walking_modes.h"
#include "game/viewports.h"

namespace modestest {

using entitytest::Item;
using entitytest::V;

// The in-game menu as the modes see it: pages opened, entry texts set.
inline std::vector<std::string> g_pages;
inline std::vector<std::string> g_entries;
inline std::vector<std::string> g_missingPages;
inline bool g_hasMenu = true;
inline int RecordGoTo(const char* page)
{
    if (!g_hasMenu) return 0;
    for (const std::string& missing : g_missingPages)
        if (missing == page) return 0;
    g_pages.push_back(page);
    return 1;
}
inline void RecordOpen() {}
inline void RecordEntry(const char* page, const char* entry, const char* text)
{
    g_entries.push_back(std::string(page) + "." + entry + "=" + text);
}
inline const ManCamRelMenuCalls kRecorder = {RecordGoTo, RecordOpen, RecordEntry};

// A repeatable generator: 0, 1, 2, ... mod 20000.
inline int g_counter = 0;
inline int Counter() { return g_counter++; }

// The keys a Man_CamRel player needs to walk and jump (with a camera of its
// own: genCamData) without a warning.
inline const std::string kCamRelKeys =
    " forwardVelStep = 64\n maxRunSpeed = 10\n maxInAirSpeed = 3\n jumpTimeSinceGroundAllow = 0.1\n jumpVel = 6\n"
    " dieInAirTime = 50\n camMode0RailDist = 4\n camMode1RailDist = 4\n camMode2RailDist = 4\n camMode3RailDist = 4\n";

inline float Length(Vec3 v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

}  // namespace modestest

class ModesTest : public EntityTest {
protected:
    void SetUp() override
    {
        EntityTest::SetUp();
        ASSERT_EQ(WalkingModes_Register(), 1);
        ManCamRel_SetMenuCalls(&modestest::kRecorder);
        modestest::g_pages.clear();
        modestest::g_entries.clear();
        modestest::g_missingPages.clear();
        modestest::g_hasMenu = true;
        modestest::g_counter = 0;
        Game_SetRandomSource(modestest::Counter);
    }

    void TearDown() override
    {
        ProjType_Free(&gifts);
        ManCamRel_SetMenuCalls(nullptr);
        for (int p = 0; p < GAME_LEVEL_PLAYERS; ++p) Viewport_SetCameraFrame(p, nullptr);
        EntityTest::TearDown();
    }

    // Animation sets: each entry {name, seconds, loops}.
    using Anims = std::vector<Anim>;
    static Anims ManCamRelAnims()
    {
        return {{"stand", 1.0f, true},          {"walk", 1.0f, true},          {"walkBack", 1.0f, true},
                {"run", 1.0f, true},            {"jumpin", 0.1f, false},       {"land", 0.1f, false},
                {"jump", 1.0f, true},           {"possessIn", 0.1f, false},    {"possessOut", 0.1f, false},
                {"fire", 0.3f, false},          {"doublejump", 0.1f, false},   {"stunned", 0.3f, false},
                {"dead", 0.3f, false},          {"wading", 1.0f, true},        {"swimForward", 1.0f, true},
                {"drown", 0.3f, false},         {"skid", 0.3f, false},         {"changeDirection", 0.2f, false},
                {"dieInAir", 0.3f, false},      {"bumpIntoObject", 0.2f, false}, {"closeAttack1", 0.3f, false},
                {"closeAttack1Finish", 0.2f, false}, {"closeAttack2", 0.3f, false}, {"closeAttack2Finish", 0.2f, false},
                {"closeAttackInAir", 0.3f, false}, {"push", 1.0f, true},        {"stunnedUpwards", 0.3f, false},
                {"specialMove", 0.3f, false},   {"pickupObjectSwipe1", 0.3f, false},
                {"pickupObjectSwipe2", 0.3f, false}, {"pickupObjectSwipe3", 0.3f, false}};
    }

    // A character configuration "<path>": the control mode, extra
    // vehicleData keys, the controlData text and more of section "vehicle".
    // Animation slot 0 comes from the set "<path>" with the animations given.
    void WriteCharacter(const std::string& path, const char* mode, const std::string& controlData,
                        const std::string& vehicleData = "", const Anims& anims = ManCamRelAnims(),
                        const std::vector<Event>& events = {}, const std::string& more = "")
    {
        if (!anims.empty()) WriteAnimSet(path, "Anim0", anims, events);
        WriteEntity(path.c_str(), std::string("vehicleData {\n ControlMode = ") + mode + "\n maxVelocity = 50\n" +
                                      vehicleData + "\n}\nAnim0RBRelMode = 1\n" + more + "\ncontrolData {\n" +
                                      controlData + "\n}\n");
    }

    // A level scene: player starts at (10 p, y, 0) and the extra items.
    void WriteLevel(std::vector<LwsWriterItem> extra = {}, float y = 0.0f)
    {
        std::vector<LwsWriterItem> items;
        for (int p = 0; p < 4; ++p) items.push_back(entitytest::Item("PlayerStart_Null", entitytest::V(10.0f * p, y, 0)));
        for (auto& i : extra) items.push_back(i);
        WriteScene("Levels\\Test\\Level.lws", 1.0f, items);
    }

    // One human player playing "carddata\entityconfigs\Hero.cfg", a camera
    // frame behind the start, the level built. Returns the player's object;
    // d is its Man_CamRel data (none for other modes).
    Object* StartPlayer(std::vector<LwsWriterItem> extra = {}, float y = 0.0f)
    {
        SetPlayers({1});
        scripted[0] = true;
        cameraFrame = Node_Create(ObjectWorld_GetRootNode());
        const Vec3 p = {0, 3, -6}, at = {0, 0, 1}, up = {0, 1, 0};
        Node_SetWorldPosition(cameraFrame, &p);
        Node_SetWorldOrientation(cameraFrame, &at, &up);
        Viewport_SetCameraFrame(0, cameraFrame);
        WriteLevel(extra, y);
        Entity_CreateFromLevel("Levels\\Test\\Level.lws");
        Object* player = Level_GetPlayerEntity(0);
        d = player ? CamRel(player) : nullptr;
        return player;
    }

    // Frames with the scripted pad of player 0; the previous buttons follow.
    void Step(int frames = 1)
    {
        for (int i = 0; i < frames; ++i) {
            Frame();
            script[0].oldButtons = script[0].buttons;
        }
    }
    // One frame with the buttons pressed, then released.
    void Press(uint32_t buttons)
    {
        script[0].buttons |= buttons;
        Step();
        script[0].buttons &= ~buttons;
    }

    // A hit-mode object file "Levels\Test\<name>.cfg": its keys beyond the
    // callbacks, an animation set of `anims` animations (none: no visual)
    // and a body (NOCOLLISION: none).
    void WriteProp(const char* name, const std::string& keys, int anims = 0, const char* physical = "NOCOLLISION")
    {
        std::string visual = "NOVISUAL";
        if (anims > 0) {
            visual = std::string("Props\\") + name;
            Anims list;
            for (int i = 0; i < anims; ++i) list.push_back({"a" + std::to_string(i), 0.2f, false});
            WriteAnimSet(visual, "ANIM", list);
        }
        WriteObject((std::string("Levels\\Test\\") + name + ".cfg").c_str(),
                    "VisualModel = " + visual + "\n PhysicalModel = " + physical +
                        "\n Mass = 0\n CollisionGroup = 1\n Constructor = VavadUtils_HitModeObject_Constructor\n"
                        " Destructor = VavadUtils_HitModeObject_Destructor\n"
                        " Update = VavadUtils_HitModeObject_Update\n" +
                        keys);
    }
    // Loads the props of a scene of these items into the level's objects.
    void PlaceProps(std::vector<LwsWriterItem> items)
    {
        static int scenes = 0;
        std::string path = "Levels\\Test\\Props" + std::to_string(scenes++) + ".lws";
        WriteScene(path, 1.0f, items);
        ObjectScene_Load(path.c_str(), "Levels\\Test", objects);
    }
    // A projectile configuration of a fire mode with its mode data.
    void WriteShot(const char* path, const char* mode, const std::string& keys = "",
                   const std::string& data = "ProjectileModeData0 {\n velocity = 10\n}\n")
    {
        WriteAnimSet("Shots\\Bolt", "ANIM", {{"inAir", 1.0f, true}, {"hittarget", 0.1f, false}});
        WriteConfig(path, std::string("Object {\n Description {\n VisualModel = Shots\\Bolt\n"
                                      " PhysicalModel = SPHERE0.1\n Mass = 1\n CollisionGroup = 1\n StringVal0 = ") +
                              mode +
                              "\n Constructor = Projectile_Type_Constructor\n Destructor = Projectile_Type_Destructor\n"
                              " Update = Projectile_Type_Update\n Collision = Projectile_Type_Collision\n" +
                              keys + "\n }\n}\n" + data);
    }

    // A shot of a one-weapon list of this purpose and values (FPVal0 and
    // FPVal3), owned by owner and spawned out of the way; earlier ones go.
    Object* PurposeShot(Object* owner, const char* purpose, float v0, float v3 = 0.0f)
    {
        WriteShot("Shots\\Gift.cfg", "STRAIGHT");
        char keys[256];
        snprintf(keys, sizeof keys,
                 "vehicle {\n projectiles {\n  ProjType0Config = Shots\\Gift.cfg\n  ProjType0Purpose = %s\n"
                 "  ProjType0FPVal0 = %g\n  ProjType0FPVal3 = %g\n  ProjType0FiringDelay = 0\n }\n}\n",
                 purpose, v0, v3);
        WriteConfig("Gifts.cfg", keys);
        ConfigNode* reader = Config_Open("Gifts.cfg");
        Config_SetSection(reader, "vehicle");
        Projectile_ClearAll();
        ProjType_Free(&gifts);
        ProjType_Load(&gifts, reader, "projectiles");
        Config_Close(reader);
        Object* shot = Projectile_Spawn(&gifts.weapons[0], owner, &gifts);
        const Vec3 far = {100, 100, 100};
        if (shot) PhysBody_SetPosition(shot->body, &far);
        return shot;
    }

    // A fixed ball of radius 1000 whose top is at height 0: nearly flat
    // within a few tens of units (group 1, in the pick list).
    PhysBody* FlatGround()
    {
        PhysBody* ground = PhysBody_Create(phys, 1000.0f, 0.0f);
        PhysBody_SetCollisionGroup(ground, 1);
        const Vec3 centre = {0.0f, -1000.0f, 0.0f};
        PhysWorld_AddBody(phys, ground, &centre, nullptr, nullptr);
        PhysContacts_AddBody(ground);
        return ground;
    }

    // A Man_CamRel player able to walk and jump on a level with a ground,
    // settled after 0.4 s (past the guard of the level start). Its own keys
    // come first and so win over the shared ones.
    Object* CamRelHero(const std::string& keys = "", std::vector<LwsWriterItem> extra = {})
    {
        WriteCharacter("carddata\\entityconfigs\\Hero.cfg", "Man_CamRel",
                       keys + modestest::kCamRelKeys + " genCamData {\n  defaultDistance = 4\n }\n");
        Ground();
        Object* hero = StartPlayer(extra);
        Step(20);
        return hero;
    }

    static EntityRecord* Record(Object* o) { return Entity_GetRecord(o); }
    // Frames while `flying` (at most 300): the number of them in which the texts of lines `line` and `line + 1`
    // of viewport 0 were drawn over each other.
    template <typename F>
    int Overlaps(uint32_t line, F flying)
    {
        const ScreenText* texts = Level_GetSession()->viewports[0].texts;
        int met = 0;
        for (int frame = 0; frame < 300 && flying(); ++frame) {
            Frame();
            const float *a = texts[line].box, *b = texts[line + 1].box;
            met += a[0] < b[2] && b[0] < a[2] && a[1] < b[3] && b[1] < a[3];
        }
        return met;
    }
    static ManCamRelData* CamRel(Object* o) { return ManCamRel_Data(Entity_GetRecord(o)); }
    static int32_t Anim(Object* o) { return Mode_Anim(Entity_GetRecord(o)); }
    static float Heading(Object* o)  // of the object's node
    {
        Vec3 at, up;
        Node_GetWorldOrientation(o->node, &at, &up);
        return Vec3_Heading(&at);
    }
    static void SetVelocity(Object* o, Vec3 v) { PhysBody_SetLinearVelocity(o->body, &v); }
    static void Place(Object* o, Vec3 p) { PhysBody_SetPosition(o->body, &p); }

    Node* cameraFrame = nullptr;
    ManCamRelData* d = nullptr;
    WeaponList gifts{};
};

// The tests of this folder name the fixtures' helpers unqualified.
using namespace entitytest;
using namespace modestest;
