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

int CountVisits(Node* n, void* arg)
{
    (*(std::vector<Node*>*)arg).push_back(n);
    return 0;
}

TEST_F(NodeTest, NewNodesStartUnnamedOpaqueAndAtTheIdentity)
{
    Node* root = Node_Create(nullptr);
    Node* child = Node_Create(root);
    ASSERT_TRUE(root && child);
    EXPECT_EQ(root->nameOffset, NODE_NO_NAME);
    EXPECT_EQ(root->nameHash, 0u);
    EXPECT_EQ(root->alpha, 255.0f);
    EXPECT_EQ(root->flags, 0u);
    EXPECT_EQ(child->flags, (uint32_t)NODE_DIRTY);
    EXPECT_EQ(child->parent, root);
    char name[8] = "x";
    EXPECT_EQ(Node_GetName(root, name, sizeof name), 0);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(Node_FindByHash(root, 0), nullptr);
}

TEST_F(NodeTest, ChildrenAreListedNewestFirstAndWalkedInPreOrder)
{
    Node* root = Node_Create(nullptr);
    Node* a = Node_Create(root);
    Node* b = Node_Create(root);
    Node* a1 = Node_Create(a);
    Node_SetName(a, "Same");
    Node_SetName(b, "Same");
    std::vector<Node*> order;
    Node_ForAll(root, CountVisits, &order);
    EXPECT_EQ(order, (std::vector<Node*>{root, b, a, a1}));
    // The newest sibling is found first.
    EXPECT_EQ(Node_FindByName(root, "same"), b);
    EXPECT_EQ(Node_FindByName(a, "SAME"), a);
    EXPECT_EQ(Node_Validate(root), 1);
}

TEST_F(NodeTest, MovingANodeFlagsItsSubtreeAndReadsComputeItOnce)
{
    Node* root = Node_Create(nullptr);
    Node* parent = Node_Create(root);
    Node* child = Node_Create(parent);
    Node* grandchild = Node_Create(child);
    Vec3 p;
    Node_GetWorldPosition(grandchild, &p);
    ASSERT_EQ(grandchild->flags & NODE_DIRTY, 0u);

    const Vec3 move = {1, 2, 3};
    Node_SetPosition(parent, &move);
    for (Node* n : {parent, child, grandchild}) EXPECT_NE(n->flags & NODE_DIRTY, 0u);
    EXPECT_EQ(Node_Validate(root), 1);

    Node_GetWorldPosition(grandchild, &p);
    ExpectVec(p, 1, 2, 3);
    EXPECT_EQ(grandchild->flags & NODE_DIRTY, 0u);
    // A second read finds nothing to recompute: a world written behind its
    // back stays as it is.
    grandchild->world.m[3][0] = 99;
    Node_GetWorldPosition(grandchild, &p);
    EXPECT_EQ(p.x, 99);

    // A moved root reads back where it now is, and so do its children,
    // before any draw.
    const Vec3 rootMove = {5, 0, 0};
    Node_SetPosition(root, &rootMove);
    Node_GetWorldPosition(child, &p);
    ExpectVec(p, 6, 2, 3);
    Node_GetWorldPosition(root, &p);
    ExpectVec(p, 5, 0, 0);
}

TEST_F(NodeTest, DestroyingAParentLeavesItsChildrenAsRootsWithTheirWorlds)
{
    Node* root = Node_Create(nullptr);
    Node* parent = Node_Create(root);
    Node* child = Node_Create(parent);
    const Vec3 at = {4, 0, 0};
    Node_SetPosition(parent, &at);
    Node_Destroy(parent);  // the child's world was never read
    EXPECT_EQ(child->parent, nullptr);
    EXPECT_EQ(root->child, nullptr);
    Vec3 p;
    Node_GetWorldPosition(child, &p);
    ExpectVec(p, 4, 0, 0);
    Node_DestroyRef(&child);
    EXPECT_EQ(child, nullptr);
    Node_DestroyRef(&child);  // null is ignored
    EXPECT_EQ(List_Count(Node_GetPool()), 1u);
}

TEST_F(NodeTest, NamesSurviveExactlyOneCompactionAfterMoreThanAThousandDestroyedNames)
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
    EXPECT_STREQ(name, "Keeper_00");
    EXPECT_EQ(Node_GetNameHash(keep), Name_Hash("Keeper_00", 0, 1));
    ASSERT_EQ(Node_GetName(other, name, sizeof name), 1);
    EXPECT_STREQ(name, "Renamed");
    EXPECT_EQ(Node_GetNameHash(other), Name_Hash("RENAMED", 0, 1));

    // Clearing a name keeps the hash; a name longer than a growth step fits.
    Node_SetName(other, nullptr);
    EXPECT_EQ(Node_GetNameText(other), nullptr);
    EXPECT_EQ(Node_GetNameHash(other), Name_Hash("Renamed", 0, 1));
    const std::string longName(3000, 'L');
    ASSERT_EQ(Node_SetName(other, longName.c_str()), 1);
    EXPECT_EQ(std::string(Node_GetNameText(other)), longName);
    Node_CompactNames();
    EXPECT_EQ(std::string(Node_GetNameText(other)), longName);
    EXPECT_STREQ(Node_GetNameText(keep), "Keeper_00");
}

TEST_F(NodeTest, AlphaIsClampedAndStoredInWholeStepsOverTheSubtree)
{
    Node* root = Node_Create(nullptr);
    Node* child = Node_Create(root);
    struct Case {
        float in, stored;
    } cases[] = {{0.5f, 127}, {1.0f, 255}, {0.0f, 0}, {1.01f, 255}, {-0.01f, 0}, {NAN, 0}};
    for (const Case& c : cases) {
        Node_SetAlpha(root, c.in);
        EXPECT_EQ(root->alpha, c.stored) << c.in;
        EXPECT_EQ(child->alpha, c.stored) << c.in;
    }
}

TEST_F(NodeTest, ScaleModeZeroKeepsThePositionAndModeOneScalesIt)
{
    Node* n = Node_Create(nullptr);
    const Vec3 p = {1, 2, 3}, s = {2, 3, 4};
    const Vec3 axis = {0, 0, 1};
    Node_SetRotation(n, &axis, 0.5f);  // turned, so the node's own axes are not the world's
    Node_SetPosition(n, &p);
    Node_Scale(n, &s, 0);
    Vec3 out;
    Node_GetPosition(n, &out);
    ExpectVec(out, 1, 2, 3);
    // Mode 0 stretches each of the node's own axes (the rows) by its factor.
    for (int r = 0; r < 3; r++) {
        const float* row = n->local.m[r];
        EXPECT_NEAR(std::sqrt(row[0] * row[0] + row[1] * row[1] + row[2] * row[2]), (&s.x)[r], 1e-5f) << r;
    }
    Node_Scale(n, &s, 1);
    Node_GetPosition(n, &out);
    ExpectVec(out, 2, 6, 12);
    EXPECT_NEAR(n->local.m[2][2], 16, 1e-5f);
}

TEST_F(NodeTest, WorldSettersUnderARotatedParentRoundTrip)
{
    Node* root = Node_Create(nullptr);
    Node* parent = Node_Create(root);
    Node* child = Node_Create(parent);
    Node* grandchild = Node_Create(child);
    const Vec3 up = {0, 1, 0}, where = {5, 0, -2};
    Node_SetRotation(parent, &up, 0.7f);
    Node_SetPosition(parent, &where);

    const Vec3 target = {1, 2, 3};
    Node_SetWorldPosition(child, &target);
    EXPECT_EQ(child->flags & NODE_DIRTY, 0u);
    EXPECT_NE(grandchild->flags & NODE_DIRTY, 0u);
    Vec3 p;
    Node_GetWorldPosition(child, &p);
    ExpectVec(p, 1, 2, 3);
    // The local matrix was derived, so a recomputation gives the same place.
    child->flags |= NODE_DIRTY;
    grandchild->flags |= NODE_DIRTY;
    Node_GetWorldPosition(grandchild, &p);
    ExpectVec(p, 1, 2, 3);

    const Vec3 at = {1, 0, 0};
    Node_SetWorldOrientation(child, &at, &up);
    Vec3 worldAt, worldUp;
    Node_GetWorldOrientation(grandchild, &worldAt, &worldUp);
    ExpectVec(worldAt, 1, 0, 0, 1e-3f);
    ExpectVec(worldUp, 0, 1, 0, 1e-3f);
    Node_GetWorldPosition(child, &p);
    ExpectVec(p, 1, 2, 3);

    // Where the child lies in the parent's frame, and a point taken across.
    Vec3 rel;
    Node_GetRelativePosition(child, parent, &rel);
    Vec3 back;
    const Vec3 origin = {0, 0, 0};
    Node_TransformPointTo(parent, root, &rel, &back);
    Mat4 pw;
    Node_GetWorldMatrix(parent, &pw);
    Vec3 viaWorld;
    Mat4_TransformPoint(&viaWorld, &rel, &pw);
    ExpectVec(back, viaWorld.x, viaWorld.y, viaWorld.z, 1e-3f);
    ExpectVec(viaWorld, 1, 2, 3, 1e-3f);
    Node_TransformPointTo(child, child, &origin, &back);
    ExpectVec(back, 0, 0, 0);
}

TEST_F(NodeTest, WorldFrameMatrixIsTheWorldFlaggedAsChanged)
{
    Node* root = Node_Create(nullptr);
    Node* n = Node_Create(root);
    const Vec3 p = {3, 4, 5};
    Node_SetPosition(n, &p);
    Matrix m;
    Matrix_SetIdentity(&m);
    Node_GetWorldFrameMatrix(n, &m);
    EXPECT_EQ(m.flags & MATRIX_IDENTITY_FLAGS, 0u);
    EXPECT_EQ(m.pos.x, 3);
    EXPECT_EQ(m.right.x, 1);
    EXPECT_EQ(m.at.z, 1);
}

TEST_F(NodeTest, OrientationSettersKeepThePosition)
{
    Node* n = Node_Create(nullptr);
    const Vec3 p = {7, 8, 9}, at = {0, 0, -2}, up = {0, 3, 0}, axis = {0, 0, 1};
    Node_SetPosition(n, &p);
    Node_SetOrientation(n, &at, &up);
    Vec3 a, u, q;
    Node_GetOrientation(n, &a, &u);
    ExpectVec(a, 0, 0, -1, 1e-3f);
    ExpectVec(u, 0, 1, 0, 1e-3f);
    Node_GetPosition(n, &q);
    ExpectVec(q, 7, 8, 9);
    Node_SetRotation(n, &axis, (float)M_PI / 2);
    Node_GetPosition(n, &q);
    ExpectVec(q, 7, 8, 9);
    // The maths library turns clockwise seen from the axis: right goes to -y.
    EXPECT_NEAR(n->local.m[0][1], -1.0f, 1e-3f);
}

TEST_F(NodeTest, ReparentingFlagsTheMovedSubtreeAndValidationCatchesBrokenLinks)
{
    Node* a = Node_Create(nullptr);
    Node* b = Node_Create(nullptr);
    Node* c = Node_Create(a);
    Node* d = Node_Create(c);
    Node_UpdateWorld(d);
    Node_SetParent(c, b);
    EXPECT_EQ(c->parent, b);
    EXPECT_EQ(a->child, nullptr);
    EXPECT_NE(d->flags & NODE_DIRTY, 0u);
    EXPECT_EQ(Node_Validate(b), 1);
    c->parent = a;  // broken on purpose
    EXPECT_EQ(Node_Validate(b), 0);
    c->parent = b;
    c->flags &= ~NODE_DIRTY;
    b->flags |= NODE_DIRTY;  // a dirty node over a clean child breaks the invariant
    EXPECT_EQ(Node_Validate(b), 0);
}

TEST_F(NodeTest, CulledFlagAnywhereInTheSubtreeIsReported)
{
    Node* root = Node_Create(nullptr);
    Node* leaf = Node_Create(Node_Create(root));
    EXPECT_EQ(Node_IsCulled(root), 0);
    Node_SetFlags(leaf, NODE_CULLED, 1);
    EXPECT_EQ(Node_IsCulled(root), 1);
    Node_SetFlags(leaf, NODE_CULLED, 0);
    EXPECT_EQ(Node_IsCulled(root), 0);
}

TEST_F(NodeTest, ExhaustedPoolRefusesNewNodes)
{
    Node_Shutdown();
    ASSERT_EQ(Node_Init(), 1);
    ASSERT_EQ(List_SetBlockSize(Node_GetPool(), 2), 1);
    EXPECT_NE(Node_Create(nullptr), nullptr);
    EXPECT_NE(Node_Create(nullptr), nullptr);
    EXPECT_EQ(Node_Create(nullptr), nullptr);
}

TEST_F(NodeTest, ANameCopiedFromAnotherNodeSurvivesThePoolGrowing)
{
    // Instances name their nodes after their source's: the source name lies
    // in the pool that the copy may have to grow.
    std::vector<Node*> nodes;
    Node* source = Node_Create(nullptr);
    ASSERT_EQ(Node_SetName(source, "Source_Item_00"), 1);
    for (int i = 0; i < 400; ++i) {
        Node* copy = Node_Create(nullptr);
        ASSERT_NE(copy, nullptr);
        ASSERT_EQ(Node_SetName(copy, Node_GetNameText(source)), 1);
        EXPECT_STREQ(Node_GetNameText(copy), "Source_Item_00");
        nodes.push_back(copy);
    }
    for (Node* n : nodes) Node_Destroy(n);
    Node_Destroy(source);
}

}  // namespace
