#include "engine/objectscene.h"

#include <cstring>

#include "engine/node.h"
#include "objects_fixture.h"

using namespace phys_test;

namespace {

std::vector<std::string> g_hooked;
Node* g_currentSeen = nullptr;

uint32_t Place(Object* o, uint32_t, void*)
{
    g_currentSeen = ObjectScene_GetCurrentItemNode();
    Object_PlaceAtItemNode(o);
    return 0;
}

int ClaimHook(Node*, const char* base)
{
    g_hooked.push_back(base);
    return strcmp(base, "Claimed") == 0;
}

void MarkSkipped(Node* root, void*)
{
    Node* skip = Node_FindByName(root, "Skip_00");
    if (skip) skip->flags |= 2u << 24;
    Node* keep = Node_FindByName(root, "Keep_00");
    if (keep) keep->flags |= 1u << 24;
}


class ObjectSceneTest : public ObjectTest {
protected:
    void SetUp() override
    {
        ObjectTest::SetUp();
        g_hooked.clear();
        g_currentSeen = nullptr;
        CallbackRegistry_AddFn("Place", Place);
    }
    Object* Named(const char* name)
    {
        for (Object* o : PoolObjects())
            if (strcmp(o->name, name) == 0) return o;
        return nullptr;
    }
};

TEST(ObjectSceneBaseName, CutsAtTheLastUsableUnderscore)
{
    struct Case {
        const char* name;
        const char* base;
    } cases[] = {
        {"Crate_01", "Crate"}, {"Barrel_12", "Barrel"}, {"A_B_01", "A_B"}, {"Crate", "Crate"},
        {"ab", "ab"},          {"_01", "_01"},          {"x_", "x_"},     {"Lamp_1", "Lamp_1"},
        {"", ""},
    };
    char out[64];
    for (const Case& c : cases) {
        ObjectScene_BaseName(c.name, out, sizeof out);
        EXPECT_STREQ(out, c.base) << c.name;
    }
    ObjectScene_BaseName("Longer_00", out, 4);
    EXPECT_STREQ(out, "Lon");
}

TEST_F(ObjectSceneTest, ItemsOfOneNameShareOneFileAndEachBecomesAnObject)
{
    InstallObject("Level\\Crate.cfg", "Name = Crate\n PhysicalModel = SPHERE0.5\n Mass = 1\n Constructor = Place");
    LwsWriterScene scene;
    scene.items = {ScenePlace("Crate", {1, 0, 0}), ScenePlace("Crate", {-1, 0, 0}), ScenePlace("Missing", {0, 5, 0})};
    InstallScene("Level\\Map.lws", scene);
    char folder[] = "Level";
    EXPECT_EQ(ObjectScene_Load("Level\\Map.lws", folder, pool), 0);
    std::vector<Object*> objects = PoolObjects();
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(ObjectTemplate_Count(), 1u);
    // One was read from the file, the other made from it.
    EXPECT_NE(objects[0]->nameHash == 0, objects[1]->nameHash == 0);
    float xs[2];
    for (int i = 0; i < 2; ++i) {
        Vec3 p;
        PhysBody_GetPosition(objects[i]->body, &p);
        xs[i] = p.x;
        EXPECT_EQ(objects[i]->body->node, objects[i]->node);  // synced: the node follows
        EXPECT_EQ(PhysContacts_Holds(objects[i]->body, 0), 1);
        EXPECT_EQ(Node_GetParent(objects[i]->node), ObjectWorld_GetRootNode());
    }
    EXPECT_EQ(xs[0] + xs[1], 0.0f);
    EXPECT_EQ(std::fabs(xs[0]), 1.0f);
    EXPECT_NE(g_currentSeen, nullptr);
    EXPECT_EQ(ObjectScene_GetCurrentItemNode(), nullptr);  // cleared after the walk
    EXPECT_STREQ(folder, "Level");
}

TEST_F(ObjectSceneTest, HooksClaimItemsAndHighNodeFlagsSkipThem)
{
    for (const char* name : {"Level\\Claimed.cfg", "Level\\Skip.cfg", "Level\\Keep.cfg", "Level\\Plain.cfg"})
        InstallObject(name, std::string("Name = ") + name);
    LwsWriterScene scene;
    scene.items = {ScenePlace("Claimed"), ScenePlace("Skip"), ScenePlace("Keep"), ScenePlace("Plain")};
    InstallScene("Level\\Map.lws", scene);
    ObjectScene_SetCreateHook(ClaimHook);
    ObjectScene_SetAfterLoadHook(MarkSkipped);
    // A trailing back-slash on a constant text: not doubled, not written to.
    const char* folder = "Level\\";
    ObjectScene_Load("Level\\Map.lws", folder, pool);
    EXPECT_EQ(Named("Level\\Claimed.cfg"), nullptr);
    EXPECT_EQ(Named("Level\\Skip.cfg"), nullptr);
    EXPECT_NE(Named("Level\\Keep.cfg"), nullptr);
    EXPECT_NE(Named("Level\\Plain.cfg"), nullptr);
    // The hook saw the named items only (not the root), the skipped one not at all.
    EXPECT_EQ(g_hooked.size(), 3u);
    for (const std::string& b : g_hooked) EXPECT_NE(b, "Skip");
    EXPECT_EQ(ObjectTemplate_Find("Level\\Claimed.cfg"), nullptr);
}

TEST_F(ObjectSceneTest, AMissingSceneMakesNothing)
{
    EXPECT_EQ(ObjectScene_Load("Level\\Nowhere.lws", "Level", pool), 0);
    EXPECT_EQ(List_Count(pool), 0u);
}

TEST_F(ObjectSceneTest, PlacingOutsideAWalkKeepsTheNodesPose)
{
    ObjectDescription d = Describe("NOVISUAL", "SPHERE0.5");
    d.mass = 1.0f;
    Object* o = Object_Create(pool, &d);
    const Vec3 p{4, 5, 6};
    Node_SetPosition(o->node, &p);
    Object_PlaceAtItemNode(o);
    Vec3 got;
    PhysBody_GetPosition(o->body, &got);
    EXPECT_EQ(Dist(got, p), 0.0f);
    EXPECT_EQ(o->body->node, o->node);
    EXPECT_EQ(PhysContacts_Holds(o->body, 0), 1);
}

}  // namespace
