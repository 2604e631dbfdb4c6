#include "game/entity_hud.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/font.h"
#include "entity_fixture.h"

using namespace entitytest;

namespace {

class EntityHudTest : public EntityTest {
protected:
    void SetUp() override
    {
        EntityTest::SetUp();
        Game_GetContext()->fonts[0] = &kart;
        Game_GetContext()->fonts[1] = &secondary;
        WriteEntity("carddata\\entityconfigs\\Hero.cfg",
                    "vehicleData {\n ControlMode = Man\n maxVelocity = 5\n EntityTypeControl0 = 3\n"
                    " EntityTypeControl1 = 4\n}\n");
        WriteEntity("Levels\\Test\\Frog.cfg",
                    "vehicleData {\n ControlMode = Flitter\n maxVelocity = 5\n EntityType0 = 3\n hitGroundAngle = -5\n}\n");
        WriteEntity("Levels\\Test\\Toad.cfg",
                    "vehicleData {\n ControlMode = Flitter\n maxVelocity = 5\n EntityType0 = 9\n EntityType1 = 40\n"
                    " EntityType2 = 0\n hitGroundAngle = 200\n}\n");
    }
    void TearDown() override
    {
        Game_GetContext()->fonts[0] = Game_GetContext()->fonts[1] = nullptr;
        EntityTest::TearDown();
    }
    // The hero at (0, 0.5, 0) facing +z, and scene entities at the given items.
    void Build(std::vector<LwsWriterItem> items, std::vector<uint32_t> players = {1})
    {
        SetPlayers(players);
        items.insert(items.begin(), Item("PlayerStart_Null", V(0, 0, 0)));
        WriteScene("Levels\\Test\\Level.lws", 1.0f, items);
        Entity_CreateFromLevel("Levels\\Test\\Level.lws");
        hero = Level_GetPlayerEntity(0);
        ASSERT_NE(hero, nullptr);
    }
    Object* At(Vec3 p)
    {
        for (Object* o : Entities())
            if (Vec3_DistanceSq(&p, &(const Vec3&)BodyPosition(o)) < 1e-6f) return o;
        return nullptr;
    }

    Font kart{}, secondary{};
    Object* hero = nullptr;
};

TEST_F(EntityHudTest, PossessionParksTheHolderAndPlacesItBackWhenFree)
{
    Build({Item("entity_Frog", V(0, 0, 2))});
    Ground();
    Object* frog = At(V(0, 0.5f, 2));
    ASSERT_NE(frog, nullptr);
    EntityRecord* h = Entity_GetRecord(hero);
    EntityRecord* f = Entity_GetRecord(frog);
    ASSERT_EQ(Entity_FindTakeOverTarget(hero), frog);
    Frame(10);
    ASSERT_EQ(Entity_TakeOver(hero, frog), 1);
    EXPECT_EQ(std::make_pair(f->player, h->player), std::make_pair(1u, 0u));
    EXPECT_EQ(f->heldFrom, hero);
    EXPECT_FLOAT_EQ(h->takeOverTime, f->clock) << "the possessed entity's clock";
    EXPECT_EQ(Level_GetPlayerEntity(0), frog);
    // Parked far away as a hidden phantom.
    EXPECT_TRUE(PhysBody_IsPhantom(hero->body) && (hero->node->flags & NODE_HIDDEN));
    EXPECT_EQ(std::make_pair(BodyPosition(hero).x, BodyPosition(hero).y), std::make_pair(-9999.0f, 9999.0f));
    // Refused before half a second of the frog's clock (the holder's own clock runs on).
    Frame(24);
    EXPECT_EQ(Entity_PlaceHeld(hero, frog), 0);
    EXPECT_EQ(f->player, 1u);
    Frame(2);
    // Every quarter turn blocked but the last (ahead, then turned 90, 180, 270 degrees).
    Vec3 base = BodyPosition(frog);
    std::vector<PhysBody*> blocks;
    const Vec3 places[3] = {V(0, 1.5f, 1.5f), V(-1.5f, 1.5f, 0), V(0, 1.5f, -1.5f)};
    auto Block = [&](Vec3 at) {
        PhysBody* b = PhysBody_Create(phys, 0.6f, 0.0f);
        PhysBody_SetCollisionGroup(b, 1);
        PhysWorld_AddBody(phys, b, &at, nullptr, nullptr);
        return b;
    };
    for (const Vec3& d : places) blocks.push_back(Block(V(base.x + d.x, base.y + d.y, base.z + d.z)));
    ASSERT_EQ(Entity_PlaceHeld(hero, frog), 1);
    EXPECT_NEAR(BodyPosition(hero).x, base.x + 1.5f, 1e-3);
    EXPECT_NEAR(BodyPosition(hero).y, base.y + 1.5f, 1e-3);
    EXPECT_EQ(std::make_tuple(std::make_pair(f->player, h->player), f->heldFrom, Level_GetPlayerEntity(0),
                              (bool)(PhysBody_IsPhantom(hero->body) || (hero->node->flags & NODE_HIDDEN))),
              std::make_tuple(std::make_pair(0u, 1u), nullptr, hero, false));
    EXPECT_EQ(hero->update, Entity_Update);
    // Taken over again with all four places blocked: parked again, 0.
    ASSERT_EQ(Entity_TakeOver(hero, frog), 1);
    Frame(30);
    base = BodyPosition(frog);
    Block(V(base.x + 1.5f, base.y + 1.5f, base.z));
    for (size_t i = 0; i < blocks.size(); ++i) {
        Vec3 q;
        Vec3_Add(&q, &base, &places[i]);
        PhysBody_SetPosition(blocks[i], &q);
    }
    EXPECT_EQ(Entity_PlaceHeld(hero, frog), 0);
    EXPECT_FLOAT_EQ(BodyPosition(hero).x, -9999.0f);
    EXPECT_EQ(f->player, 1u);
}

TEST_F(EntityHudTest, QueriesFilterByModePlayersTypesDistanceAndArcs)
{
    Build({Item("entity_Frog", V(0, 0, 2)),      // Flitter, EntityType 3
           Item("entity_Toad", V(0, 0, 5)),      // Flitter, EntityType 9
           Item("entity_Frog", V(4, 0, 0))},     // to the side
          {1, 1});
    Object* second = Level_GetPlayerEntity(1);   // a Man at x = 0 ... its start is the origin too
    Vec3 p = V(-3, 0.5f, 0);
    PhysBody_SetPosition(second->body, &p);
    EntityQuery q{hero, ENTITY_QUERY_ANY_MODE, 0, 0, 10.0f, 0, 0, 0, 0};
    EntityQueryHit hits[20];
    ASSERT_EQ(Entity_Query(&q, hits, 20), 4);
    for (int i = 1; i < 4; ++i) EXPECT_LE(hits[i - 1].distanceSq, hits[i].distanceSq) << "nearest first";
    EXPECT_EQ(Entity_Query(&q, hits, 2), 2);
    EXPECT_FLOAT_EQ(hits[1].distanceSq, 9.0f) << "the capacity keeps the nearest";

    const std::tuple<uint32_t, uint32_t, uint32_t, float, int> cases[] = {
        // mode, bits, type mask, distance, hits
        {MODE_MAN, 0, 0, 10, 1},  // only Man entities
        {MODE_FLITTER, 0, 0, 10, 3},
        {ENTITY_QUERY_ANY_MODE, ENTITY_QUERY_PLAYERS, 0, 10, 1},
        {ENTITY_QUERY_ANY_MODE, ENTITY_QUERY_NON_PLAYERS, 0, 10, 3},
        {ENTITY_QUERY_ANY_MODE, ENTITY_QUERY_SHARED_TYPE, 4, 10, 2},  // EntityType 3 is bit 2
        {ENTITY_QUERY_ANY_MODE, 0, 0, 4, 3},                          // 4 exactly counts
        {ENTITY_QUERY_ANY_MODE, ENTITY_QUERY_HEADING_ARC, 0, 10, 2},
        {ENTITY_QUERY_ANY_MODE, ENTITY_QUERY_PITCH_ARC | ENTITY_QUERY_HEADING_ARC, 0, 10, 2},
    };
    for (auto [mode, bits, typeMask, maxDistance, count] : cases) {
        q = EntityQuery{hero, mode, bits, typeMask, maxDistance, 1.5707964f, 0.1f, 0.0f, 0.3f};
        EXPECT_EQ(Entity_Query(&q, hits, 20), count) << mode << " " << bits << " " << maxDistance;
    }
    // Entities that are no query target are skipped.
    q = EntityQuery{hero, ENTITY_QUERY_ANY_MODE, 0, 0, 10.0f, 0, 0, 0, 0};
    float distance = 0;
    Object* nearest = Entity_QueryNearest(&q, &distance);
    ASSERT_NE(nearest, nullptr);
    EXPECT_FLOAT_EQ(distance, 2.0f);
    Entity_SetFlags(Entity_GetRecord(nearest), ENTITY_NO_QUERY, 1);
    EXPECT_EQ(Entity_Query(&q, hits, 20), 3);
    EXPECT_NE(Entity_QueryNearest(&q, nullptr), nearest);
}

// HUD slots read their keys and show texts for players only; take-over targets are near, in front and free.
TEST_F(EntityHudTest, HudSlotsReadTheirKeysAndTextsReachTheScreenEveryFrame)
{
    std::string hud = "HUD0 {\n HudText0Position = 0.25, 0.5\n HudText0FontName = SECONDARY\n"
                      " HudText0LocalName = LS_SCORE\n HudText0Colour = 255:0:0:128\n HudText0Scale = 2\n"
                      " HudText0Centered = TRUE\n HudText1Position = 0.5, 0.1\n HudText1Colour = 900:255:-4\n";
    for (int i = 2; i < 22; ++i) hud += " HudText" + std::to_string(i) + "Position = 0, 0\n";
    WriteConfig("Huds\\Hero.cfg", hud + "}\n");
    WriteEntity("carddata\\entityconfigs\\Hero.cfg",
                "vehicleData {\n ControlMode = Man\n maxVelocity = 5\n EntityTypeControl0 = 3\n HudPath = Huds\\Hero.cfg\n}\n");
    Build({Item("entity_Frog", V(0, 0, 3)), Item("entity_Frog", V(1.2f, 0, 1.6f)), Item("entity_Toad", V(0, 0, 1))});
    EntityRecord* r = Entity_GetRecord(hero);
    ASSERT_EQ(r->hudTextCount, HUD_TEXT_SLOTS);
    EXPECT_FALSE(g_log.empty());
    EXPECT_EQ(std::make_pair(r->hudTexts[0].font, r->hudTexts[1].font), std::make_pair(&secondary, &kart));
    EXPECT_EQ(std::make_pair(r->hudTexts[0].colour, r->hudTexts[1].colour), std::make_pair(0x80FF0000u, 0xFFFFFF00u));
    LevelViewport* v = &Level_GetSession()->viewports[0];
    v->rect[2] = v->rect[3] = 1.0f;
    Frame();
    EXPECT_EQ(v->texts[0].size, 2.0f);
    Entity_ShowTextString(r, 5, "X3");
    EXPECT_STREQ(v->texts[5].text, "X3");
    r->player = 0;
    Entity_ShowTextString(r, 5, "gone");
    EXPECT_STREQ(v->texts[5].text, "X3");
    r->player = 1;
    Entity_ShowTextString(r, 25, "x");
    EXPECT_EQ(Entity_GetHudSlot(r, 20), nullptr);
    const uint32_t layouts[][3] = {{0, 1, 0}, {1, 2, 2}, {3, 4, 6}, {0, 0, 0}, {2, 3, 5}, {1, 7, 1}};
    for (const auto& l : layouts) EXPECT_EQ(Hud_LayoutNumber(l[0], l[1]), l[2]) << l[0] << "/" << l[1];
    // At exactly distance 3, at a cosine of exactly 0.8, without a shared type bit: none is a target.
    EXPECT_EQ(Entity_FindTakeOverTarget(hero), nullptr);
    Object* near = Entity_LoadData(nullptr, "Levels\\Test\\Frog.cfg", nullptr, 0, 1, ENTITY_ALIVE);
    Vec3 pn = V(0.1f, 0.5f, 1.0f);
    PhysBody_SetPosition(near->body, &pn);
    EXPECT_EQ(Entity_FindTakeOverTarget(hero), near);
    Entity_GetRecord(near)->kind = 0;
    EXPECT_EQ(Entity_FindTakeOverTarget(hero), nullptr) << "the kind word must be larger";
    EXPECT_EQ(Entity_TakeOver(hero, near), 0);
    Entity_GetRecord(near)->kind = 1;
    Entity_GetRecord(near)->player = 2;
    EXPECT_EQ(Entity_TakeOver(hero, near), 0) << "it has a player";
}

}  // namespace

TEST_F(EntityHudTest, OrientationHelpersKeepUpPerpendicular)
{
    Vec3 at = V(0, 0, 1), up = V(0, 1, 0), target = V(1, 0, 0);
    Orient_TurnAt(&at, &up, &target, 0.5f);
    EXPECT_NEAR(at.x, std::sin(0.5f), 1e-3);
    EXPECT_NEAR(at.z, std::cos(0.5f), 1e-3);
    EXPECT_NEAR(Vec3_Dot(&at, &up), 0.0f, 1e-4);
    Orient_TurnAt(&at, &up, &target, 2.0f);
    EXPECT_NEAR(at.x, 1.0f, 1e-3) << "never past the target";
    Vec3 same = at, sameUp = up;
    Orient_TurnAt(&at, &up, &same, 0.1f);
    EXPECT_EQ(up.y, sameUp.y);
    at = V(0, 0, 1);
    up = V(0, 1, 0);
    target = V(0, 1, 1);
    Orient_LerpAt(&at, &up, &target, 0.5f);
    EXPECT_GT(at.y, 0.0f);
    EXPECT_NEAR(Vec3_Dot(&at, &up), 0.0f, 1e-4);
    EXPECT_NEAR(Vec3_LengthSq(&up), 1.0f, 1e-3);
}
