#include "engine/node.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/hash.h"
#include "common/list.h"
#include "gfx/core/matrix.h"

namespace {

class NodeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Node_Init(), 1); }
    void TearDown() override { Node_Shutdown(); }
};

TEST_F(NodeTest, NamesSurviveCompactionsAndThePoolGrowing)
{
    Node* keep = Node_Create(nullptr);
    Node* other = Node_Create(nullptr);
    Node_SetName(keep, "Keeper_00");
    Node_SetName(other, "Other");
    Node_SetName(other, "Renamed");  // the old copy stays until compaction
    const uint32_t before = Node_GetCompactionCount();
    for (int i = 0; i < 1002; i++) {
        Node* n = Node_Create(nullptr);
        Node_SetName(n, ("Temp" + std::to_string(i)).c_str());
        Node_Destroy(n);
    }
    EXPECT_EQ(Node_GetCompactionCount() - before, 1u);
    char name[32];
    ASSERT_EQ(Node_GetName(keep, name, sizeof name), 1);
    EXPECT_EQ(std::string(name) + " " + Node_GetNameText(other), "Keeper_00 Renamed");
    EXPECT_TRUE(Node_GetNameHash(keep) == Name_Hash("Keeper_00", 0, 1) &&
                Node_GetNameHash(other) == Name_Hash("RENAMED", 0, 1));
    Node_SetName(other, nullptr);  // the hash stays
    EXPECT_TRUE(!Node_GetNameText(other) && Node_GetName(other, name, sizeof name) + name[0] == 0 &&
                Node_GetNameHash(other) == Name_Hash("Renamed", 0, 1));
    const std::string longName(3000, 'L');
    ASSERT_EQ(Node_SetName(other, longName.c_str()), 1);
    Node_CompactNames();
    EXPECT_EQ(std::string(Node_GetNameText(other)) + Node_GetNameText(keep), longName + "Keeper_00");
    for (int i = 0; i < 400; ++i) {
        Node* copy = Node_Create(nullptr);
        ASSERT_EQ(Node_SetName(copy, Node_GetNameText(keep)), 1);
        ASSERT_STREQ(Node_GetNameText(copy), "Keeper_00");
    }
}

TEST_F(NodeTest, ValidationCatchesBrokenLinksAndAChildLeftAsARootKeepsItsWorld)
{
    Node* root = Node_Create(nullptr);
    Node* a = Node_Create(root);
    Node* a1 = Node_Create(a);
    Node* other = Node_Create(nullptr);
    EXPECT_EQ(Node_FindByHash(root, 0), nullptr);
    Node_SetAlpha(root, 2.0f);
    Node_UpdateWorld(a1);
    Node_SetParent(a, other);
    int valid = Node_Validate(other);
    a->parent = root;
    valid = valid * 10 + Node_Validate(other);
    a->parent = other;
    a->flags &= ~NODE_DIRTY;
    other->flags |= NODE_DIRTY;
    EXPECT_EQ(valid * 10 + Node_Validate(other), 100);  // a wrong parent link, a clean child of a dirty parent
    const Vec3 at = {4, 0, 0};
    Node_SetPosition(a, &at);
    Node_Destroy(a);
    Vec3 p;
    Node_GetWorldPosition(a1, &p);
    EXPECT_EQ(std::vector<float>({p.x, (float)Node_Validate(a1)}), std::vector<float>({4, 1}));
    Node_DestroyRef(&a1);
    Node_DestroyRef(&a1);
    EXPECT_EQ(a1, nullptr);
}

TEST_F(NodeTest, ScalingByRowsKeepsThePositionAndByColumnsScalesIt)
{
    const Vec3 p{1, 1, 1}, s{2, 3, 4};
    for (int mode : {0, 1}) {
        Node* n = Node_Create(nullptr);
        Node_SetPosition(n, &p);
        Node_Scale(n, &s, mode);
        Mat4 m;
        Node_GetMatrix(n, &m);
        EXPECT_EQ(std::vector<float>({m.m[1][1], m.m[3][0], m.m[3][2]}),
                  mode ? std::vector<float>({3, 2, 4}) : std::vector<float>({3, 1, 1}));
    }
}

}  // namespace
