#include "game/hit_mode_object.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "app/config.h"
#include "entity_fixture.h"
#include "game/col_area.h"

using namespace entitytest;

namespace {

class HitModeTest : public EntityTest {
protected:
    void SetUp() override
    {
        EntityTest::SetUp();
        WriteAnimSet("Props\\Door", "ANIM", {{"closed", 0.2f, false}, {"opening", 0.2f, false}, {"open", 0.2f, false}});
        WriteAnimSet("Props\\Show", "ANIM", {{"idle", 1.0f, true}, {"scene", 0.5f, false}}, {}, true);
    }
    // A hit-mode object file: keys of Description beyond the callbacks.
    void WriteProp(const char* name, const std::string& keys, const char* visual = "Props\\Door",
                   const char* physical = "NOCOLLISION")
    {
        WriteObject((std::string("Levels\\Test\\") + name + ".cfg").c_str(),
                    std::string("VisualModel = ") + visual + "\n PhysicalModel = " + physical +
                        "\n Mass = 0\n Constructor = VavadUtils_HitModeObject_Constructor\n"
                        " Destructor = VavadUtils_HitModeObject_Destructor\n"
                        " Update = VavadUtils_HitModeObject_Update\n" +
                        keys);
    }
    // Loads the props of a scene of the given items into the level's objects.
    void Place(std::vector<LwsWriterItem> items)
    {
        WriteScene("Levels\\Test\\Props.lws", 1.0f, items);
        ObjectScene_Load("Levels\\Test\\Props.lws", "Levels\\Test", objects);
    }
    void Update(int frames = 1) { Frame(frames, false); }
    // Player 0's entity at the origin.
    void Hero()
    {
        SetPlayers({1});
        WriteEntity("carddata\\entityconfigs\\Hero.cfg", "vehicleData {\n ControlMode = Man\n maxVelocity = 5\n}\n");
        WriteScene("Levels\\Test\\Level.lws", 1.0f, {Item("PlayerStart_Null", V(0, 0, 0))});
        ASSERT_EQ(Entity_CreateFromLevel("Levels\\Test\\Level.lws"), 1);
    }
    static uint32_t State(Object* o) { return HitModeObject_GetRecord(o)->state; }
    // The camera of viewport 0 at the origin, so every prop is near.
    Node* Camera(Vec3 at = {0, 0, 0})
    {
        Node* c = Level_GetSession()->viewports[0].cameraFrame;
        if (!c) c = Level_GetSession()->viewports[0].cameraFrame = Node_Create(ObjectWorld_GetRootNode());
        Node_SetPosition(c, &at);
        return c;
    }
};

TEST_F(HitModeTest, HitsNeedSpeedTypeAndAnIdleActiveProp)
{
    // A mask value outside 1..32 sets no bit.
    WriteProp("Plate", "StringVal0 = SPRINGBOARD\n FPVal0 = 2\n S32Val0 = 3\n S32Val1 = 40\n BoolVal11 = TRUE");
    WriteProp("Coin", "StringVal0 = PICKUP\n FPVal0 = -1\n BoolVal10 = TRUE", "NOVISUAL");
    WriteProp("_Bin_01", "StringVal1 = GRP", "NOVISUAL");
    Place({Item("Plate", V(0, 0, 5)), Item("Coin", V(3, 0, 5)), Item("_Bin_01", V(6, 0, 5))});
    // An item named "_..." adds its name to its group.
    ASSERT_NE(PropAt(V(6, 0, 5)), nullptr);
    EXPECT_EQ(HitModeObject_GetRecord(PropAt(V(6, 0, 5)))->groupHash, ObjectEvent_GroupHash("GRP_Bin_01"));
    Object* plate = PropAt(V(0, 0, 5));
    Object* coin = PropAt(V(3, 0, 5));
    ASSERT_TRUE(plate && coin);
    EXPECT_EQ(HitModeObject_TestHit(plate, 2.0f, 1, 4), 0) << "exactly the threshold";
    EXPECT_EQ(HitModeObject_TestHit(plate, 3.0f, 1, 3), 0) << "a disjoint hit mask";
    EXPECT_EQ(HitModeObject_TestHit(nullptr, 3.0f, 1, 4), 0);
    EXPECT_EQ(HitModeObject_GetValue(plate, 5), 0.0f);
    // Option 1024 steps the animation forward once only.
    EXPECT_EQ(HitModeObject_TestHit(plate, 3.0f, 1, 4), 1);
    EXPECT_EQ(HitModeObject_GetAnimIndex(plate), 1);
    EXPECT_EQ(HitModeObject_TestHit(plate, 3.0f, 1, 4), 1);
    EXPECT_EQ(HitModeObject_GetAnimIndex(plate), 1);
    // Option 512: the hit deactivates; a pending request blocks a second hit.
    EXPECT_EQ(HitModeObject_TestHit(coin, 0.0f, 1, 1), 1);
    EXPECT_FALSE(State(coin) & (HITSTATE_ACTIVE | HITSTATE_IN_WORLD));
    EXPECT_EQ(HitModeObject_TestHit(coin, 0.0f, 1, 1), 0);
    HitModeObject_SetStateBits(coin, HITSTATE_ACTIVE | HITSTATE_ACTIVATE_REQUEST, 1);
    EXPECT_EQ(HitModeObject_TestHit(coin, 0.0f, 1, 1), 0) << "a pending request";
    // The restart event puts a prop back: in the world, its first animation, its start values.
    HitModeObject_PlayIndex(plate, 2, 1, 0);
    HitModeObject_GetRecord(plate)->values[0] = 7.0f;
    HitModeObject_SetStateBits(coin, HITSTATE_ACTIVE | HITSTATE_IN_WORLD | HITSTATE_ACTIVATE_REQUEST, 0);
    Level_RaiseEvents(LEVEL_EVENT_RESPAWN);
    Update();
    EXPECT_EQ(State(coin) & (HITSTATE_ACTIVE | HITSTATE_IN_WORLD), (uint32_t)(HITSTATE_ACTIVE | HITSTATE_IN_WORLD));
    EXPECT_EQ(HitModeObject_GetAnimIndex(plate), 0);
    EXPECT_EQ(HitModeObject_GetValue(plate, 0), 0.0f);
}

TEST_F(HitModeTest, TargetsAreTriggeredThroughTheQueue)
{
    WriteProp("Switch", "StringVal2 = DOORS\n StringVal3 = LAMPS\n BoolVal1 = TRUE\n FPVal0 = -1\n BoolVal22 = TRUE",
              "NOVISUAL");
    WriteProp("Lever", "StringVal2 = LAMPS\n BoolVal1 = TRUE\n BoolVal7 = TRUE\n FPVal0 = -1", "NOVISUAL");
    WriteProp("Late", "StringVal2 = DOORS\n BoolVal1 = TRUE\n BoolVal2 = TRUE\n FPVal0 = -1");
    WriteProp("Door", "StringVal1 = DOORS\n BoolVal0 = TRUE");
    WriteProp("Lamp", "StringVal1 = LAMPS");
    Place({Item("Switch", V(0, 0, 1)), Item("Lever", V(0, 0, 2)), Item("Late", V(0, 0, 3)),
           Item("Door", V(0, 0, 4)), Item("Lamp", V(0, 0, 5))});
    Object *sw = PropAt(V(0, 0, 1)), *lever = PropAt(V(0, 0, 2)), *late = PropAt(V(0, 0, 3));
    Object *door = PropAt(V(0, 0, 4)), *lamp = PropAt(V(0, 0, 5));
    ASSERT_TRUE(sw && lever && late && door && lamp);
    EXPECT_FALSE(State(door) & HITSTATE_ACTIVE);
    // The switch activates the doors (BoolVal22) and deactivates the lamps.
    ASSERT_EQ(HitModeObject_TestHit(sw, 1.0f, 2, 1), 1);
    EXPECT_EQ(ObjectEvent_GetCount(), 2u);
    Update();
    EXPECT_EQ(ObjectEvent_GetCount(), 0u) << "every live prop saw each once";
    const uint32_t activated = HITSTATE_ACTIVE | HITSTATE_IN_WORLD | HITSTATE_EVENT_ACTIVATED;
    EXPECT_EQ(State(door) & activated, activated);
    EXPECT_FALSE(door->node->flags & NODE_HIDDEN);
    Update(20);
    EXPECT_FALSE(State(lamp) & HITSTATE_ACTIVE) << "deactivated when its animation ended";
    // The lever hides (BoolVal7) instead; a shown target comes back.
    HitModeObject_SetStateBits(lamp, HITSTATE_ACTIVE, 1);
    HitModeObject_SetState(lamp, 0);
    ASSERT_EQ(HitModeObject_TestHit(lever, 1.0f, 1, 1), 1);
    Update();
    EXPECT_TRUE((State(lamp) & HITSTATE_HIDDEN) && (lamp->node->flags & NODE_HIDDEN));
    ObjectEvent_Queue(ObjectEvent_GroupHash("LAMPS"), OBJECT_EVENT_HIDE, 0, 1);
    Update();
    EXPECT_FALSE((State(lamp) & HITSTATE_HIDDEN) || (lamp->node->flags & NODE_HIDDEN));
    // The late switch triggers only when its animation ends: the doors close then.
    ASSERT_EQ(HitModeObject_TestHit(late, 1.0f, 3, 1), 1);
    EXPECT_TRUE(State(late) & HITSTATE_TRIGGER_PENDING);
    EXPECT_EQ(ObjectEvent_GetCount(), 0u);
    for (int i = 0; i < 30 && (State(door) & HITSTATE_ACTIVE); ++i) Update();
    EXPECT_FALSE(State(late) & HITSTATE_TRIGGER_PENDING);
    EXPECT_FALSE(State(door) & HITSTATE_ACTIVE);
}

TEST_F(HitModeTest, TheQueueReachesEveryLivePropOnceAndOnlyThisLevel)
{
    EXPECT_EQ(ObjectEvent_Queue(7, OBJECT_EVENT_ACTIVATE, 1, 0), 0) << "no live prop";
    SetPlayers({1});  // the player on viewport 0 clips by its camera
    WriteProp("Box", "StringVal1 = BOXES\n BoolVal12 = TRUE\n BoolVal0 = TRUE");
    Place({Item("Box", V(0, 0, 1)), Item("Box", V(0, 0, 2)), Item("Box", V(0, 0, 100))});
    Camera();
    EXPECT_EQ(ObjectEvent_Queue(ObjectEvent_GroupHash("BOXES"), OBJECT_EVENT_ACTIVATE, 1, 0), 1);
    EXPECT_EQ(ObjectEvent_Queue(ObjectEvent_GroupHash("BOXES"), OBJECT_EVENT_ACTIVATE, 1, 0), 0) << "identical";
    EXPECT_EQ(ObjectEvent_Queue(ObjectEvent_GroupHash("BOXES"), OBJECT_EVENT_ACTIVATE, 1, 2), 1) << "another player";
    ASSERT_EQ(ObjectEvent_GetCount(), 2u);
    EXPECT_EQ(ObjectEvent_Get(0)->framesLeft, 3u);
    // The far box is clipped (it was never active, so first activate it by hand to clip it).
    Object* far = PropAt(V(0, 0, 100));
    HitModeObject_SetStateBits(far, HITSTATE_ACTIVE, 1);
    HitModeObject_SetState(far, 0);
    Update();
    EXPECT_TRUE(State(far) & HITSTATE_CLIPPED);
    EXPECT_EQ(ObjectEvent_GetCount(), 0u) << "the clipped box counted its visit";
    EXPECT_TRUE(State(PropAt(V(0, 0, 1))) & State(PropAt(V(0, 0, 2))) & HITSTATE_ACTIVE);
    // Messages "<command> <player, 0 the default> activate|deactivate <groups>" queue one event per group.
    const char* messages[][5] = {{"m", "0", "deactivate", "BOXES", "LAMPS"}, {"m", "3", "activate", "BOXES", nullptr},
                                 {"m", "1", "toggle", "BOXES", nullptr}, {"m", nullptr, "activate", "BOXES", nullptr}};
    const int queued[] = {2, 1, 0, 0};
    for (int m = 0; m < 4; m++) EXPECT_EQ(ObjectEvent_ParseMessage(messages[m], 5, 2), queued[m]) << m;
    EXPECT_EQ(ObjectEvent_ParseMessage(messages[1], 3, 2) + ObjectEvent_ParseMessage(nullptr, 5, 2), 0);
    EXPECT_EQ(ObjectEvent_Get(0)->player, 2u);

    // An event left in the queue at the end of a level does not act in the next.
    ObjectEvent_Queue(ObjectEvent_GroupHash("BOXES"), OBJECT_EVENT_DEACTIVATE, 1, 0);
    ReloadLevel("Levels\\Test\\Nothing.lws");
    EXPECT_EQ(ObjectEvent_GetCount(), 0u);
    EXPECT_EQ(HitModeObject_GetLiveCount(), 0u);
}

TEST_F(HitModeTest, AnEntryQueuedDuringTheWalkIsSeenByEveryPropOnce)
{
    WriteProp("Lamp", "StringVal1 = LAMPS\n StringVal2 = FLAGS\n BoolVal1 = TRUE\n BoolVal2 = TRUE\n BoolVal22 = TRUE\n"
                      " FPVal0 = -1",
              "NOVISUAL");
    WriteProp("Flag", "StringVal1 = FLAGS\n BoolVal0 = TRUE", "NOVISUAL");
    Place({Item("Lamp", V(0, 0, 1)), Item("Flag", V(0, 0, 2)), Item("Flag", V(0, 0, 3)), Item("Flag", V(0, 0, 4))});
    Object* lamp = PropAt(V(0, 0, 1));
    ASSERT_EQ(HitModeObject_TestHit(lamp, 1.0f, 1, 1), 1);
    // Without an animation the lamp's "animation" has ended at its next update.
    Update(2);
    EXPECT_EQ(ObjectEvent_GetCount(), 0u);
    int active = 0;
    for (Object* o : Items(objects))
        if (o != lamp && HitModeObject_GetRecord(o) && (State(o) & HITSTATE_ACTIVE)) active++;
    EXPECT_EQ(active, 3);
}

TEST_F(HitModeTest, ACutSceneMovesTheWatchersCameraHoldsThemAndMayBeSkipped)
{
    ASSERT_NO_FATAL_FAILURE(Hero());
    EntityRecord* hero = Entity_GetRecord(Level_GetPlayerEntity(0));
    Node* camera = Camera(V(50, 50, 50));
    for (bool byFlag : {false, true}) {
        std::string name = byFlag ? "ShowB" : "ShowA";
        WriteProp(name.c_str(), std::string("U32Val0 = 2\n BoolVal8 = TRUE\n BoolVal5 = TRUE\n BoolVal6 = TRUE\n") +
                                    (byFlag ? "BoolVal13 = TRUE" : ""),
                  "Props\\Show");
        Place({Item(name.c_str(), V(0, 0, byFlag ? 7.0f : 6.0f))});
        Object* show = PropAt(V(0, 0, byFlag ? 7.0f : 6.0f));
        Level_SetFlags(LEVEL_SKIP_PHYSICS, 0);
        ASSERT_EQ(HitModeObject_PlayIndex(show, 1, 1, 1), 1);
        Update();
        Vec3 p;
        Node_GetWorldPosition(camera, &p);
        EXPECT_NEAR(p.y, 5.0f, 1e-3) << "the animation's camera";
        EXPECT_NEAR(p.z, byFlag ? 2.0f : 1.0f, 1e-3);
        EXPECT_TRUE(Level_TestFlags(LEVEL_SKIP_PHYSICS));
        EXPECT_EQ(Entity_TestFlags(hero, byFlag ? ENTITY_HELD : ENTITY_FROZEN), 1);
        EXPECT_EQ(Entity_TestFlags(hero, byFlag ? ENTITY_FROZEN : ENTITY_HELD), 0);
        // Button 16 pressed by the watcher skips to the end; the player is released.
        scripted[0] = true;
        script[0].buttons = 16;
        Update();
        scripted[0] = false;
        EXPECT_FALSE(Entity_TestFlags(hero, ENTITY_HELD | ENTITY_FROZEN));
        EXPECT_FALSE(State(show) & HITSTATE_WATCHED);
        Update();
    }
    // A deactivation releases the watchers too, and keeps only its four bits.
    Object* show = PropAt(V(0, 0, 6));
    ASSERT_EQ(HitModeObject_PlayIndex(show, 1, 1, 1), 1);
    Update();
    ASSERT_TRUE(Entity_TestFlags(hero, ENTITY_FROZEN));
    HitModeRecord* r = HitModeObject_GetRecord(show);
    r->state |= 0xFFFF;
    HitModeObject_Deactivate(show, r);
    EXPECT_EQ(r->state & 0xFFFF, (uint32_t)(HITSTATE_FINISHED | HITSTATE_HIDDEN | HITSTATE_CLIPPED));
    EXPECT_FALSE(Entity_TestFlags(hero, ENTITY_FROZEN));
}

TEST_F(HitModeTest, ClippingFollowsTheThreeDistanceBands)
{
    WriteConfig("HitModeObject.cfg", "HitModeObject {\n objectUnclippedDist = 5\n objectClippedDist = 10\n"
                                     " objectVerticalClippedDist = 2\n visualClipDist = 20\n}\n");
    HitModeObject_LoadConfig();
    float d[4];
    HitModeObject_GetClipDistances(&d[0], &d[1], &d[2], &d[3]);
    EXPECT_EQ(std::vector<float>(d, d + 4), std::vector<float>({25, 100, 2, 400}));
    SetPlayers({1});
    WriteProp("Post", "BoolVal12 = TRUE");
    WriteProp("Pole", "");
    Place({Item("Post", V(0, 0, 0)), Item("Pole", V(0, 0, 1))});
    Object* post = PropAt(V(0, 0, 0));
    Object* pole = PropAt(V(0, 0, 1));
    Node* camera = Camera();
    // A clipped prop leaves the world; within the visual distance its visibility is still refreshed.
    const std::tuple<Vec3, bool, bool> cases[] = {
        // camera, clipped, hidden
        {V(0, 0, 4), false, false},     // within the unclipped distance
        {V(0, 1.5f, 8), false, false},  // between, low enough
        {V(0, 3, 8), true, true},       // between, too high: clipped, visibility not refreshed
        {V(0, 0, 30), true, true},      // beyond the visual distance: left as it was
        {V(0, 0, 15), true, false},     // beyond the clipped distance: refreshed
        {V(0, 0, 8), false, false},    {V(0, 0, 2), false, false},
    };
    for (auto [at, clipped, hidden] : cases) {
        Node_SetPosition(camera, &at);
        Update();
        EXPECT_EQ((State(post) & HITSTATE_CLIPPED) != 0, clipped) << at.y << " " << at.z;
        EXPECT_EQ((post->node->flags & NODE_HIDDEN) != 0, hidden) << at.y << " " << at.z;
        EXPECT_EQ((State(post) & HITSTATE_ACTIVE) != 0, !clipped);
        EXPECT_FALSE(State(pole) & HITSTATE_CLIPPED) << "without BoolVal12 never clipped";
    }
    EXPECT_EQ(HitModeObject_TestHit(post, 1.0f, 1, 1), 1);
}

// Collision areas: strict windows, the lower-numbered area decides, kinds and animation bits filter.
TEST_F(HitModeTest, CollisionAreaWindowsAreStrictAndTheLowerNumberedAreaDecides)
{
    WriteConfig("Areas.cfg",
                "vehicle {\n controlData {\n  colAreas {\n"
                "Area0Val1 = 1\nArea0Val2 = 2\nArea0AngleX = 90\nArea0RangeX = 45\nArea0AngleY = 40\n"
                "Area0RangeY = -30\nArea0DamageArea = TRUE\nArea1Val1 = 8\nArea1Val2 = 9\nArea1WeakArea = TRUE\n"
                "Area2Val1 = 3\nArea2DamageArea = TRUE\nArea2ActiveOn0 = 30\nArea2ActiveOn0RangeEnd = 40\n"
                "Area2ActiveOn1 = 70\nArea3Val1 = 5\nArea3ActiveOn0 = 3\nArea3ActiveOn0RangeEnd = 1\n  }\n }\n}\n");
    ConfigNode* reader = Config_Open("Areas.cfg");
    Config_SetSection(reader, "vehicle");
    ColAreaList list{};
    ASSERT_EQ(ColArea_Load(reader, "controlData::colAreas", &list), 4);
    Config_Close(reader);
    const float degree = 0.0027777778f * 6.2831855f;
    auto At = [&](float heading, float lift) {
        return Vec3{std::sin(heading * degree), lift, std::cos(heading * degree)};
    };
    // The other body's place, up, the kinds; the hit and v1.
    const std::tuple<Vec3, Vec3, uint32_t, float, float> cases[] = {
        {At(40, 0), {0, 1, 0}, COLAREA_DAMAGE | COLAREA_WEAK, 1, 1},
        {At(11, 0), {0, 1, 0}, COLAREA_DAMAGE, 1, 1},
        {At(69, 0), {0, 1, 0}, COLAREA_DAMAGE, 1, 1},
        {At(9, 0), {0, 1, 0}, COLAREA_DAMAGE, 0, 0},
        {At(71, 0), {0, 1, 0}, COLAREA_DAMAGE, 0, 0},
        {At(-40, 0), {0, 1, 0}, COLAREA_DAMAGE | COLAREA_WEAK, 1, 8},
        {At(40, std::tan(60 * degree)), {0, 1, 0}, COLAREA_DAMAGE, 0, 0},
        {At(40, std::tan(40 * degree)), {0, 1, 0}, COLAREA_DAMAGE, 1, 1},
        {{0, 0, 0}, {0, 1, 0}, COLAREA_WEAK, 0, 0},
        {{0, 0, 1}, {0, 0, 0}, COLAREA_WEAK, 0, 0},
        {{0, 5, 0}, {0, 1e-3f, 0}, COLAREA_WEAK, 1, 8},
        {{0, 1e20f, 0}, {0, 1, 0}, COLAREA_WEAK, 1, 8},
    };
    for (const auto& [other, up, kinds, hit, value] : cases) {
        const Vec3 own = {0, 0, 0}, facing = {0, 0, 1};
        float v1 = 0, v2 = 0;
        EXPECT_EQ(ColArea_HitTest(&list, &own, &other, &facing, &up, kinds, nullptr, &v1, &v2), (int)hit)
            << other.x << "," << other.y << "," << other.z;
        EXPECT_EQ(v1, value);
    }
    const Vec3 origin = {0, 0, 0}, ahead = {0, 0, 1}, up = {0, 1, 0}, other = At(40, 0);
    EXPECT_EQ(ColArea_HitTest(&list, &origin, &other, &ahead, &up, COLAREA_DAMAGE, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(std::make_tuple(list.areas[2].activeLow, list.areas[2].activeHigh,
                              list.areas[3].activeLow | list.areas[3].activeHigh),
              std::make_tuple(0xC0000000u, 0x800001FFu, 0u));
    ColArea_Free(&list);
    EXPECT_EQ(ColArea_HitTest(&list, nullptr, nullptr, nullptr, nullptr, COLAREA_WEAK, nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(ObjectType_GetName(OBJTYPE_SPECIAL_DAMAGE), "SPECIAL_DAMAGE");
    EXPECT_EQ(ObjectType_GetName(OBJTYPE_COUNT), nullptr);
    EXPECT_EQ(ObjectType_GetHash(OBJTYPE_COUNT), 0u);
}

}  // namespace
