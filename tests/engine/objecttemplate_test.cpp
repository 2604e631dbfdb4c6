#include "engine/objecttemplate.h"

#include <filesystem>

#include "engine/node.h"
#include "objects_fixture.h"
#include "physics/dynamics/rigid_body.h"

using namespace phys_test;

namespace {

std::vector<std::pair<Object*, ObjectTemplate*>> g_built;

uint32_t Note(Object* o, uint32_t, void* t)
{
    g_built.push_back({o, static_cast<ObjectTemplate*>(t)});
    return 0;
}
uint32_t OtherNote(Object*, uint32_t, void*) { return 0; }
uint32_t NoteCollision(Object*, Object*, uint32_t) { return 0; }

class ObjectTemplateTest : public ObjectTest {
protected:
    void SetUp() override
    {
        ObjectTest::SetUp();
        g_built.clear();
        CallbackRegistry_AddFn("Test_Constructor", Note);
        CallbackRegistry_AddFn("Test_Update", OtherNote);
        CallbackRegistry_AddFn("Test_Destructor", OtherNote);
        CallbackRegistry_AddFn("Test_Collision", NoteCollision);
    }
};

TEST_F(ObjectTemplateTest, MissingKeysKeepTheirDefaults)
{
    InstallObject("Objects\\Empty.cfg", "Name = Empty");
    Object* o = ObjectTemplate_Load("Objects\\Empty.cfg", nullptr, pool, 0);
    ASSERT_NE(o, nullptr);
    EXPECT_STREQ(o->name, "Empty");
    EXPECT_EQ(o->visual, nullptr);
    EXPECT_EQ(o->body, nullptr);
    EXPECT_EQ(o->shadow, nullptr);
    EXPECT_EQ(o->motionFactor, 1.0f);
    EXPECT_EQ(o->rotationFactor, 1.0f);
    EXPECT_EQ(o->flags, 0u);
    EXPECT_EQ(o->ownership, uint32_t(OBJECT_OWNS_ALL));
    EXPECT_EQ(o->constructor, nullptr);
    ObjectTemplate* t = ObjectTemplate_Find("Objects\\Empty.cfg");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->object, o);
    EXPECT_EQ(ObjectTemplate_Find("empty"), t);  // by Name too
    for (int i = 0; i < TEMPLATE_VALUES; ++i) {
        EXPECT_EQ(t->fpVal[i], 0.0f);
        EXPECT_EQ(t->u32Val[i], 0u);
        EXPECT_EQ(t->s32Val[i], 0);
        EXPECT_EQ(t->vector3dVal[i].y, 0.0f);
        EXPECT_STREQ(t->stringVal[i], "");
    }
    EXPECT_EQ(t->boolVals, 0u);
    // A missing file makes nothing and takes no template.
    EXPECT_EQ(ObjectTemplate_Load("Objects\\Nothing.cfg", nullptr, pool, 0), nullptr);
    EXPECT_EQ(ObjectTemplate_Count(), 1u);
}

TEST_F(ObjectTemplateTest, EveryKeyIsRead)
{
    WriteImage("shadow.png", 0, 0, 0);
    InstallObject("Objects\\Full.cfg",
                  "Name = Full\n"
                  "VisualModel = NOVISUAL\n"
                  "PhysicalModel = SPHERE0.75\n"
                  "ShadowName = shadow.png\n"
                  "ShadowPixelHeight = 4\n"
                  "ShadowSize = 1.5,2.5\n"
                  "Mass = 3\n"
                  "Friction = 0.25\n"
                  "Restitution = -1\n"
                  "Active = yes\n"
                  "Phantom = TRUE\n"
                  "Pinned = on\n"
                  "limitSpinXAxis = 1\n"
                  "limitSpinZAxis = true\n"
                  "centreOfMassShift = 0,-0.25,0\n"
                  "CollisionGroup = -2147483647\n"
                  "RemoveFromPickList = 1\n"
                  "MotionDamping = 0.5\n"
                  "RotationDamping = 2\n"
                  "Constructor = Test_Constructor\n"
                  "Update = test_update\n"
                  "Destructor = Test_Destructor\n"
                  "Collision = Test_Collision\n"
                  "FPVal0 = 1.5\n FPVal9 = -2\n"
                  "U32Val3 = 7\n S32Val4 = -9\n"
                  "Vector3dVal2 = 1,2,3\n"
                  "StringVal5 = Routes\\Path.lws\n"
                  "BoolVal0 = yes\n BoolVal31 = 1\n BoolVal7 = no");
    Object* o = ObjectTemplate_Load("Objects\\Full.cfg", nullptr, pool, 0);
    ASSERT_NE(o, nullptr);
    ASSERT_EQ(g_built.size(), 1u);
    ObjectTemplate* t = g_built[0].second;
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->fpVal[0], 1.5f);
    EXPECT_EQ(t->fpVal[9], -2.0f);
    EXPECT_EQ(t->u32Val[3], 7u);
    EXPECT_EQ(t->s32Val[4], -9);
    EXPECT_EQ(t->vector3dVal[2].z, 3.0f);
    EXPECT_STREQ(t->stringVal[5], "Routes\\Path.lws");
    EXPECT_EQ(t->boolVals, 0x80000001u);
    EXPECT_EQ(ObjectTemplate_GetBool(t, 31), 1);
    EXPECT_EQ(ObjectTemplate_GetBool(t, 7), 0);
    EXPECT_EQ(ObjectTemplate_GetBool(t, 32), 0);
    EXPECT_EQ(ObjectTemplate_GetBool(t, -1), 0);

    RigidBody* rb = PhysBody_Unwrap(o->body);
    ASSERT_NE(rb, nullptr);
    float r;
    PhysBody_GetFirstPrimitiveValue(o->body, &r);
    EXPECT_EQ(r, 0.75f);
    EXPECT_EQ(rb->mass, 3.0f);
    EXPECT_EQ(rb->friction, 0.25f);
    EXPECT_EQ(rb->restitution, 0.0f);
    EXPECT_EQ(PhysBody_GetCollisionGroup(o->body), 0x80000001u);
    EXPECT_EQ(o->flags, uint32_t(OBJECT_SHADOW | OBJECT_PHANTOM | OBJECT_ACTIVE | OBJECT_PINNED |
                                 OBJECT_LIMIT_SPIN_X | OBJECT_LIMIT_SPIN_Z | OBJECT_NO_PICK));
    EXPECT_EQ(rb->lockedAxes, 5);
    EXPECT_EQ(rb->comOffset.y, -0.25f);
    EXPECT_EQ(o->shadowSize[1], 2.5f);
    EXPECT_EQ(o->motionFactor, 0.5f);
    EXPECT_EQ(o->rotationFactor, 0.0f);
    EXPECT_EQ(o->removeFromPickList, 1u);
    EXPECT_EQ(o->constructor, Note);
    EXPECT_EQ(o->update, OtherNote);
    EXPECT_EQ(o->destructor, OtherNote);
    EXPECT_EQ(o->collision, NoteCollision);
}

TEST_F(ObjectTemplateTest, ASecondLoadOfThePathReadsNoFileAndSharesTheTemplate)
{
    InstallObject("Objects\\Crate.cfg", "Name = Crate\n PhysicalModel = SPHERE1\n Mass = 2\n"
                                        "Constructor = Test_Constructor\n FPVal1 = 4");
    Node* given = Node_Create(nullptr);
    Object* first = ObjectTemplate_Load("Objects\\Crate.cfg", nullptr, pool, 0);
    std::filesystem::remove(DataPath(Cfgc_OutputPath("Objects\\Crate.cfg")));
    Object* second = ObjectTemplate_Load("OBJECTS\\CRATE.CFG", given, pool, 0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(g_built.size(), 2u);
    EXPECT_EQ(g_built[0].second, g_built[1].second);
    EXPECT_EQ(g_built[1].second->fpVal[1], 4.0f);
    EXPECT_EQ(ObjectTemplate_Count(), 1u);
    EXPECT_EQ(second->node, given);
    EXPECT_EQ(Node_GetParent(given), Node_GetParent(first->node));
    EXPECT_NE(second->body, first->body);
    EXPECT_EQ(PhysBody_GetMass(second->body), 2.0f);
    EXPECT_STREQ(second->name, "Crate");
    EXPECT_EQ(second->nameHash, 0u);
}

TEST_F(ObjectTemplateTest, AVisualNoInstanceCanShareMakesEveryLoadReadTheFileAfresh)
{
    InstallModel("Objects\\Box.lwo", BoxModel(0.5f));
    LwsWriterScene scene;
    scene.items.push_back(LwsWriterItem{});
    scene.items[0].name = "Spinner";
    InstallScene("Scenes\\Spin.lws", scene);
    struct Case {
        const char* keys;
        bool afresh;
    } cases[] = {
        {"VisualModel = Objects\\Box.lwo", false},
        {"VisualModel = Objects\\Box.lwo\n VisualIsWriteable = yes", true},  // a mesh of its own
        {"VisualModel = Scenes\\Spin.lws", false},
        {"VisualModel = Scenes\\Spin.lws\n VisualIsWriteable = yes", true},  // a scene kept out of the registry
    };
    int i = 0;
    for (const Case& c : cases) {
        const std::string name = "Objects\\Fresh" + std::to_string(i++) + ".cfg";
        const std::string keys = std::string(c.keys) + "\n Constructor = Test_Constructor\n FPVal0 = ";
        InstallObject(name, keys + "1");
        Object* first = ObjectTemplate_Load(name.c_str(), nullptr, pool, 0);
        ASSERT_NE(first, nullptr) << c.keys;
        EXPECT_EQ((first->flags & OBJECT_MADE_WHILE_LOADING) != 0, c.afresh) << c.keys;
        InstallObject(name, keys + "2");  // only a fresh read sees the change
        Object* second = ObjectTemplate_Load(name.c_str(), nullptr, pool, 0);
        ASSERT_NE(second, nullptr) << c.keys;
        EXPECT_EQ(g_built.back().second->fpVal[0], c.afresh ? 2.0f : 1.0f) << c.keys;
        if (first->scene) {
            EXPECT_EQ(second->scene->source == nullptr, c.afresh) << c.keys;
        }
    }
}

TEST_F(ObjectTemplateTest, ATemplateWhoseObjectWasDestroyedReadsTheFileAgain)
{
    InstallObject("Objects\\Crate.cfg", "Name = Crate\n PhysicalModel = SPHERE1");
    Object* first = ObjectTemplate_Load("Objects\\Crate.cfg", nullptr, pool, 0);
    ObjectPool_Destroy(pool);  // the level ends; the templates stay
    pool = ObjectPool_Create();
    EXPECT_EQ(ObjectTemplate_Find("Objects\\Crate.cfg")->object, nullptr);
    Object* again = ObjectTemplate_Load("Objects\\Crate.cfg", nullptr, pool, 0);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again->body, nullptr);
    EXPECT_EQ(ObjectTemplate_Count(), 1u);
    EXPECT_EQ(ObjectTemplate_Find("Objects\\Crate.cfg")->object, again);
    (void)first;
}

TEST_F(ObjectTemplateTest, SkipStaticDropsOnlyVisibleObjectsWithoutCollisionOrMass)
{
    struct Case {
        const char* keys;
        bool made;
    } cases[] = {
        {"VisualModel = Objects\\Rock.lwo\n PhysicalModel = NOCOLLISION", false},
        {"VisualModel = NOVISUAL\n PhysicalModel = NOCOLLISION", true},
        {"VisualModel = Objects\\Rock.lwo\n PhysicalModel = nocollision\n Mass = 1", true},
        {"VisualModel = Objects\\Rock.lwo\n PhysicalModel = SPHERE1", true},
    };
    int i = 0;
    for (const Case& c : cases) {
        std::string name = "Objects\\Static" + std::to_string(i++) + ".cfg";
        InstallObject(name, c.keys);
        EXPECT_EQ(ObjectTemplate_Load(name.c_str(), nullptr, pool, 1) != nullptr, c.made) << c.keys;
        EXPECT_EQ(ObjectTemplate_Load(name.c_str(), nullptr, pool, 0) != nullptr, true) << c.keys;
    }
    EXPECT_EQ(ObjectTemplate_Count(), 4u);  // a skipped file left no template behind
}

TEST_F(ObjectTemplateTest, VisualLoadFlagsComeFromTheModelKind)
{
    struct Case {
        const char* model;
        int writeable, lit, looping;
        uint32_t flags;
    } cases[] = {
        {"a.lwo", 1, 1, 1, 3},  {"A.LWO", 0, 1, 0, 2},  {"a.lws", 1, 1, 1, 11},
        {"a.LWS", 0, 0, 1, 1},  {"Hero", 1, 1, 1, 0},   {"NOVISUAL", 1, 1, 1, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ObjectTemplate_VisualFlags(c.model, c.writeable, c.lit, c.looping), c.flags) << c.model;
}

TEST_F(ObjectTemplateTest, AnUnknownCallbackNameLeavesTheSlotEmpty)
{
    InstallObject("Objects\\Odd.cfg", "Constructor = Test_Constructor\n Update = Nobody_Update\n Destructor =");
    Object* o = ObjectTemplate_Load("Objects\\Odd.cfg", nullptr, pool, 0);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->constructor, Note);
    EXPECT_EQ(o->update, nullptr);
    EXPECT_EQ(o->destructor, nullptr);
}

TEST_F(ObjectTemplateTest, AnObjectThatIsNotMadeLeavesNoTemplate)
{
    InstallObject("Objects\\A.cfg", "Name = A");
    // A constructor that destroys its object: no object, and the record goes back.
    CallbackRegistry_AddFn("Self_Destroy", +[](Object* o, uint32_t, void*) -> uint32_t {
        Object_Destroy(o);
        return 0;
    });
    InstallObject("Objects\\B.cfg", "Name = B\n Constructor = Self_Destroy");
    EXPECT_EQ(ObjectTemplate_Load("Objects\\B.cfg", nullptr, pool, 0), nullptr);
    EXPECT_EQ(ObjectTemplate_Count(), 0u);
    EXPECT_EQ(ObjectTemplate_Find("Objects\\B.cfg"), nullptr);
    EXPECT_NE(ObjectTemplate_Load("Objects\\A.cfg", nullptr, pool, 0), nullptr);
}

}  // namespace
