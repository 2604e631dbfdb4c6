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

void ExpectVec(const Vec3& v, float x, float y, float z, float tolerance = 1e-4f)
{
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

Vec3 WorldPosition(Node* n)
{
    Vec3 p;
    Node_GetWorldPosition(n, &p);
    return p;
}

bool Dirty(const Node* n) { return n->flags & NODE_DIRTY; }

TEST_F(NodeTest, TreesListChildrenNewestFirstWalkInPreOrderAndValidate)
{
    Node* root = Node_Create(nullptr);
    Node* a = Node_Create(root);
    Node* b = Node_Create(root);
    Node* a1 = Node_Create(a);
    EXPECT_EQ(root->nameOffset, NODE_NO_NAME);
    EXPECT_EQ(root->alpha, 255.0f);
    EXPECT_EQ(root->flags, 0u);
    EXPECT_EQ(a->flags, (uint32_t)NODE_DIRTY);
    char name[8] = "x";
    EXPECT_EQ(Node_GetName(root, name, sizeof name), 0);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(Node_FindByHash(root, 0), nullptr);
    Node_SetName(a, "Same");
    Node_SetName(b, "Same");
    std::vector<Node*> order;
    Node_ForAll(
        root, [](Node* n, void* arg) { return ((std::vector<Node*>*)arg)->push_back(n), 0; }, &order);
    EXPECT_EQ(order, (std::vector<Node*>{root, b, a, a1}));
    EXPECT_EQ(Node_FindByName(root, "same"), b);  // the newest sibling first, whatever the case
    EXPECT_EQ(Node_FindByName(a, "SAME"), a);
    EXPECT_EQ(Node_FindByName(root, "Other"), nullptr);
    EXPECT_EQ(Node_Validate(root), 1);
    // A culled node anywhere in the subtree is reported.
    Node_SetFlags(a1, NODE_CULLED, 1);
    EXPECT_EQ(Node_IsCulled(root), 1);
    Node_SetFlags(a1, NODE_CULLED, 0);
    EXPECT_EQ(Node_IsCulled(root), 0);

    // Reparenting flags the moved subtree; validation catches broken links.
    Node* other = Node_Create(nullptr);
    Node_UpdateWorld(a1);
    Node_SetParent(a, other);
    EXPECT_EQ(a->parent, other);
    EXPECT_EQ(root->child, b);
    EXPECT_EQ(b->next, nullptr);
    EXPECT_TRUE(Dirty(a1));
    EXPECT_EQ(Node_Validate(other), 1);
    a->parent = root;  // broken on purpose
    EXPECT_EQ(Node_Validate(other), 0);
    a->parent = other;
    a->flags &= ~NODE_DIRTY;
    other->flags |= NODE_DIRTY;
    EXPECT_EQ(Node_Validate(other), 0);  // a clean node under a dirty one

    // Destroying a parent leaves its children as roots with their worlds.
    const Vec3 at = {4, 0, 0};
    Node_SetPosition(a, &at);
    Node_Destroy(a);  // the child's world was never read
    EXPECT_EQ(a1->parent, nullptr);
    EXPECT_EQ(other->child, nullptr);
    ExpectVec(WorldPosition(a1), 4, 0, 0);
    Node_DestroyRef(&a1);
    EXPECT_EQ(a1, nullptr);
    Node_DestroyRef(&a1);  // null is ignored
    EXPECT_EQ(List_Count(Node_GetPool()), 3u);
}

TEST_F(NodeTest, LocalSettersKeepThePositionAndScaleModesDiffer)
{
    Node* n = Node_Create(nullptr);
    const Vec3 p = {7, 8, 9}, at = {0, 0, -2}, up = {0, 3, 0}, axis = {0, 0, 1};
    Node_SetPosition(n, &p);
    Node_SetOrientation(n, &at, &up);
    Vec3 a, u, q;
    Node_GetOrientation(n, &a, &u);
    ExpectVec(a, 0, 0, -1, 1e-3f);
    ExpectVec(u, 0, 1, 0, 1e-3f);
    Node_SetRotation(n, &axis, (float)M_PI / 2);
    Node_GetPosition(n, &q);
    ExpectVec(q, 7, 8, 9);
    // The maths library turns clockwise seen from the axis: right goes to -y.
    EXPECT_NEAR(n->local.m[0][1], -1.0f, 1e-3f);

    // Mode 0 stretches each of the node's own (turned) axes and keeps the
    // position; mode 1 scales the position too.
    Node_SetRotation(n, &axis, 0.5f);
    const Vec3 s = {2, 3, 4};
    Node_Scale(n, &s, 0);
    Node_GetPosition(n, &q);
    ExpectVec(q, 7, 8, 9);
    for (int r = 0; r < 3; r++) {
        const float* row = n->local.m[r];
        EXPECT_NEAR(std::sqrt(row[0] * row[0] + row[1] * row[1] + row[2] * row[2]), (&s.x)[r], 1e-5f) << r;
    }
    Node_Scale(n, &s, 1);
    Node_GetPosition(n, &q);
    ExpectVec(q, 14, 24, 36);
    EXPECT_NEAR(n->local.m[2][2], 16, 1e-5f);
}

TEST_F(NodeTest, NamesSurviveCompactionsAndThePoolGrowing)
{
    Node* keep = Node_Create(nullptr);
    Node* other = Node_Create(nullptr);
    Node_SetName(keep, "Keeper_00");
    Node_SetName(other, "Other");
    Node_SetName(other, "Renamed");  // the old copy stays until compaction
    // Exactly one compaction after more than a thousand destroyed names.
    const uint32_t before = Node_GetCompactionCount();
    for (int i = 0; i < 1002; i++) {
        Node* n = Node_Create(nullptr);
        Node_SetName(n, ("Temp" + std::to_string(i)).c_str());
        Node_Destroy(n);
    }
    EXPECT_EQ(Node_GetCompactionCount() - before, 1u);
    char name[32];
    ASSERT_EQ(Node_GetName(keep, name, sizeof name), 1);
    EXPECT_STREQ(name, "Keeper_00");
    EXPECT_EQ(Node_GetNameHash(keep), Name_Hash("Keeper_00", 0, 1));
    EXPECT_STREQ(Node_GetNameText(other), "Renamed");
    EXPECT_EQ(Node_GetNameHash(other), Name_Hash("RENAMED", 0, 1));
    // Clearing a name keeps the hash; a name longer than a growth step fits.
    Node_SetName(other, nullptr);
    EXPECT_EQ(Node_GetNameText(other), nullptr);
    EXPECT_EQ(Node_GetNameHash(other), Name_Hash("Renamed", 0, 1));
    const std::string longName(3000, 'L');
    ASSERT_EQ(Node_SetName(other, longName.c_str()), 1);
    Node_CompactNames();
    EXPECT_EQ(std::string(Node_GetNameText(other)), longName);
    EXPECT_STREQ(Node_GetNameText(keep), "Keeper_00");
    // Instances name their nodes after their source's: the source name lies
    // in the pool that the copy may have to grow.
    for (int i = 0; i < 400; ++i) {
        Node* copy = Node_Create(nullptr);
        ASSERT_EQ(Node_SetName(copy, Node_GetNameText(keep)), 1);
        ASSERT_STREQ(Node_GetNameText(copy), "Keeper_00");
    }
}

}  // namespace
