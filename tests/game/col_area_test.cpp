#include "game/col_area.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "game_fixture.h"

namespace {

constexpr float kDegree = 0.0027777778f * 6.2831855f;

class ColAreaTest : public GameTest {
protected:
    void TearDown() override
    {
        ColArea_Free(&list);
        GameTest::TearDown();
    }
    // Loads "vehicle::controlData::colAreas" from the text of group colAreas.
    int Load(const std::string& areas, const char* group = "controlData")
    {
        WriteConfig("Areas.cfg", std::string("vehicle {\n ") + group + " {\n  colAreas {\n" + areas + "\n  }\n }\n}\n");
        ConfigNode* reader = Config_Open("Areas.cfg");
        EXPECT_NE(reader, nullptr);
        Config_SetSection(reader, "vehicle");
        int n = ColArea_Load(reader, (std::string(group) + "::colAreas").c_str(), &list);
        Config_Close(reader);
        return n;
    }
    // A hit from the origin facing +z with up +y, towards `other`.
    int Hit(Vec3 other, uint32_t kinds = COLAREA_DAMAGE | COLAREA_WEAK, float* v1 = nullptr, float* v2 = nullptr,
            Vec3 up = {0, 1, 0})
    {
        const Vec3 own = {0, 0, 0}, facing = {0, 0, 1};
        return ColArea_HitTest(&list, &own, &other, &facing, &up, kinds, nullptr, v1, v2);
    }
    ColAreaList list{};
};

TEST_F(ColAreaTest, TheListEndsAtTheFirstAreaWithoutValuesAndLaterPassesAppend)
{
    EXPECT_EQ(Load("Area0Val1 = 0\nArea1Val1 = 5\nArea1DamageArea = TRUE"), 0);
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(Hit({0, 0, 1}), 0);

    EXPECT_EQ(Load("Area0Val2 = 1\nArea1Val1 = 2\nArea3Val1 = 4"), 2);
    EXPECT_EQ(list.count, 2u);
    EXPECT_EQ(Load("Area0Val1 = 7\nArea0WeakArea = TRUE", "controlData_2"), 1);
    ASSERT_EQ(list.count, 3u);
    EXPECT_FLOAT_EQ(list.areas[2].val1, 7.0f);
    EXPECT_EQ(list.areas[2].kinds, (uint32_t)COLAREA_WEAK);
    // Missing ranges cover every direction.
    EXPECT_FLOAT_EQ(list.areas[0].rangeX, 360.0f * kDegree);
}

TEST_F(ColAreaTest, WindowsAreStrictAndTheLowerNumberedAreaDecides)
{
    // Area 0: a 30-degree heading window centred 40 degrees towards +x, level;
    // area 1: anywhere, other values.
    Load(
        "Area0Val1 = 1\nArea0Val2 = 2\nArea0AngleX = 90\nArea0RangeX = 45\nArea0AngleY = 40\nArea0RangeY = -30\n"
        "Area0DamageArea = TRUE\n"
        "Area1Val1 = 8\nArea1Val2 = 9\nArea1WeakArea = TRUE");
    ASSERT_EQ(list.count, 2u);
    EXPECT_FLOAT_EQ(list.areas[0].rangeY, 30.0f * kDegree) << "ranges are absolute";
    float v1 = 0, v2 = 0;
    auto At = [](float degrees) { return Vec3{std::sin(degrees * kDegree), 0, std::cos(degrees * kDegree)}; };
    EXPECT_EQ(Hit(At(40), COLAREA_DAMAGE | COLAREA_WEAK, &v1, &v2), 1);
    EXPECT_EQ(v1, 1.0f);
    EXPECT_EQ(v2, 2.0f);
    // Headings grow from +z towards +x: 11 and 69 degrees are inside, 9 and
    // 71 outside, and so is the mirror side; area 1 (weak) then decides.
    for (float inside : {11.0f, 69.0f}) EXPECT_EQ(Hit(At(inside), COLAREA_DAMAGE), 1) << inside;
    for (float outside : {9.0f, 71.0f, -40.0f}) EXPECT_EQ(Hit(At(outside), COLAREA_DAMAGE), 0) << outside;
    EXPECT_EQ(Hit(At(-40), COLAREA_DAMAGE | COLAREA_WEAK, &v1, &v2), 1);
    EXPECT_EQ(v1, 8.0f);
    // Exactly at the edge: the compare is strict.
    ColAreaList edge = {1, &list.areas[0]};
    ColArea saved = list.areas[0];
    list.areas[0].angleY = list.areas[0].rangeY = 0.0f;
    const Vec3 own = {0, 0, 0}, facing = {0, 0, 1}, up = {0, 1, 0}, ahead = {0, 0, 1};
    EXPECT_EQ(ColArea_HitTest(&edge, &own, &ahead, &facing, &up, COLAREA_DAMAGE, nullptr, nullptr, nullptr), 0);
    list.areas[0] = saved;
    // Elevation: above by 60 degrees is outside the 45-degree window around level.
    const Vec3 right = At(40);
    EXPECT_EQ(Hit({right.x, std::tan(60 * kDegree), right.z}, COLAREA_DAMAGE), 0);
    EXPECT_EQ(Hit({right.x, std::tan(40 * kDegree), right.z}, COLAREA_DAMAGE), 1);
}

TEST_F(ColAreaTest, KindsAnimationsAndDegeneratePositionsFilterHits)
{
    Load("Area0Val1 = 1\nArea0DamageArea = TRUE\nArea0ActiveOn0 = 2\n"
         "Area1Val1 = 2\n"
         "Area2Val1 = 3\nArea2WeakArea = TRUE");
    float v1 = 0;
    // Area 1 has neither kind and is never tested; without a set only areas
    // active in every animation are: area 2.
    EXPECT_EQ(Hit({1, 0, 0}, COLAREA_DAMAGE, &v1), 0);
    EXPECT_EQ(Hit({1, 0, 0}, COLAREA_WEAK, &v1), 1);
    EXPECT_EQ(v1, 3.0f);
    // Equal positions and a zero up vector give no hit.
    EXPECT_EQ(Hit({0, 0, 0}), 0);
    EXPECT_EQ(Hit({0, 0, 1}, COLAREA_WEAK, nullptr, nullptr, {0, 0, 0}), 0);
    // Straight above: the cosine is clamped before acos.
    EXPECT_EQ(Hit({0, 5, 0}, COLAREA_WEAK, nullptr, nullptr, {0, 1e-3f, 0}), 1);
    EXPECT_EQ(Hit({0, 1e20f, 0}, COLAREA_WEAK), 1);
}

}  // namespace
