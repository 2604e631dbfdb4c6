#include "game/entity_anim.h"

#include <gtest/gtest.h>

#include "entity_fixture.h"

using namespace entitytest;

namespace {

class EntityAnimTest : public EntityTest {
protected:
    void SetUp() override
    {
        EntityTest::SetUp();
        SetPlayers({1});
        WriteScene("Levels\\Test\\Level.lws", 1.0f, {Item("PlayerStart_Null", V(0, 1, 0))});
        WriteAnimSet("Chars\\Hero", "Anim0", {{"stand", 1.0f, true}, {"walk", 1.0f, true}, {"jump", 0.4f, false}});
        WriteAnimSet("Chars\\Hat", "Anim1", {{"on", 1.0f, true}});
        WriteEntity("carddata\\entityconfigs\\Hero.cfg",
                    "vehicleData {\n ControlMode = Man\n maxVelocity = 5\n}\n"
                    "Anim0Path = Chars\\Hero\nAnim0ViewInMode = 2\nAnim0RBRelMode = 1\n"
                    "Anim1Path = Chars\\Hat\nAnim1RBRelMode = 2\nAnim1RBRelCopyNum = 0\nAnim1Offset = 0, 2, 0\n");
        ASSERT_EQ(Entity_CreateFromLevel("Levels\\Test\\Level.lws"), 1);
        hero = Level_GetPlayerEntity(0);
        record = Entity_GetRecord(hero);
        ASSERT_EQ(record->animSlotCount, 2u);
    }
    bool Hidden(uint32_t slot) { return (Entity_GetAnimObject(record, slot)->flags & NODE_HIDDEN) != 0; }

    Object* hero = nullptr;
    EntityRecord* record = nullptr;
};

TEST_F(EntityAnimTest, PlayRequestsKeepTheirOrderOfTests)
{
    static const char* const kNames[] = {"stand", "walk", "jump", "fly"};
    ASSERT_EQ(ControlDataCache_Acquire(kNames, 4, record, 0), 1);
    Frame(5);  // clock 0.1
    EXPECT_EQ(Entity_PlayAnim(record, 2, 0, 0.5f), 1) << "the first play, whatever its minimum interval";
    EXPECT_STREQ(AnimSet_GetCurrentName(Entity_GetAnimSlotValue(record, 0)), "jump");
    EXPECT_NEAR(Entity_GetAnimSlotFloat(record, 0), 0.1f, 1e-5);
    EXPECT_EQ(Entity_PlayAnim(record, 2, 0, 0.0f), 0) << "the current id again";
    // Within the minimum interval: refused, the current animation runs on.
    Frame(2);
    EXPECT_EQ(Entity_PlayAnim(record, 1, 0, 0.5f), 0);
    EXPECT_EQ(record->animSlots[0].current, 2);
    EXPECT_STREQ(AnimSet_GetCurrentName(Entity_GetAnimSlotValue(record, 0)), "jump");
    // A name the set lacks, or an id past the table: refused, yet the id is current.
    Frame(30);
    for (const auto& [id, interval] : {std::pair{3, 0.5f}, {9, 0.0f}}) {
        EXPECT_EQ(Entity_PlayAnim(record, id, 0, interval), 0);
        EXPECT_EQ(record->animSlots[0].current, id);
    }
    // The jump ends: the playing flag clears; a play restarts from the start.
    EXPECT_EQ(Entity_PlayAnim(record, 2, 0, 0.0f), 1);
    EXPECT_TRUE(Entity_TestAnimFlags(record, 0, ANIMSLOT_PLAYING));
    Frame(30);
    EXPECT_FALSE(Entity_TestAnimFlags(record, 0, ANIMSLOT_PLAYING));
    // A slot without a table plays by index.
    EXPECT_EQ(Entity_PlayAnim(record, 0, 1, 0.0f), 1);
    EXPECT_EQ(Entity_PlayAnim(record, 1, 1, 0.0f), 0) << "the hat's set has one animation";
    EXPECT_EQ(Entity_PlayAnim(record, 0, 7, 0.0f), 0);
}

}  // namespace
