#include "engine/joints.h"

#include <cmath>
#include <cstring>

#include "engine/node.h"
#include "engine/physconstraint.h"
#include "objects_fixture.h"
#include "physics/dynamics/constraint.h"
#include "physics/dynamics/rigid_body.h"

using namespace phys_test;

namespace {

constexpr float kPi = 3.14159265f;
Vec3 g_itemAt;  // the hinge item's world at axis, as the scene has it

uint32_t Place(Object* o, uint32_t, void*)
{
    Object_PlaceAtItemNode(o);
    return 0;
}

void SeeHingeItem(Node* root, void*)
{
    Node* item = Node_FindByName(root, "Hinge_00");
    if (!item) item = Node_FindByName(root, "Rope_00");
    Vec3 up;
    if (item) Node_GetWorldOrientation(item, &g_itemAt, &up);
}

class JointTest : public ObjectTest {
protected:
    void SetUp() override
    {
        ObjectTest::SetUp();
        Point2Point_Register();
        Hinge_Register();
        CallbackRegistry_AddFn("Place", Place);
        ObjectScene_SetAfterLoadHook(SeeHingeItem);
        g_itemAt = Vec3{0, 0, 0};
        InstallShapes("Objects\\Door.lwo", {Rbs_Box(1.0f, 0.5f, 1.0f, 0.05f)});
        InstallObject("Level\\Door.cfg",
                      "Name = Door\n PhysicalModel = Objects\\Door.lwo\n Mass = 5\n Active = yes\n"
                      "CollisionGroup = 1\n Constructor = Place");
        InstallObject("Level\\Ghost.cfg", "Name = Ghost\n Constructor = Place");
    }
    // A scene of a held object with a joint item as its child, at an offset,
    // turned by heading h about the vertical.
    void Load(const char* held, const char* joint, const std::string& jointKeys, Vec3 offset = {-0.5f, 0, 0},
              float heading = 0.0f)
    {
        InstallObject(std::string("Level\\") + joint + ".cfg", jointKeys);
        LwsWriterScene scene;
        LwsWriterItem parent;
        parent.name = held;
        LwsWriterKey k;
        k.position[1] = 2.0f;
        parent.keys.push_back(k);
        LwsWriterItem child;
        child.name = joint;
        child.parentKind = LWS_PARENT_ITEM;
        child.parentIndex = 0;
        LwsWriterKey c;
        c.position[0] = offset.x;
        c.position[1] = offset.y;
        c.position[2] = offset.z;
        c.rotation[0] = heading;
        child.keys.push_back(c);
        scene.items = {parent, child};
        InstallScene("Level\\Map.lws", scene);
        ObjectScene_Load("Level\\Map.lws", "Level", pool);
        held_ = joint_ = nullptr;
        for (Object* o : PoolObjects()) (strcmp(o->name, "Joint") == 0 ? joint_ : held_) = o;
    }
    Object* held_ = nullptr;
    Object* joint_ = nullptr;
};

const char* const kHinge = "Name = Joint\n Constructor = Hinge_Constructor\n Update = Hinge_Update\n"
                           "Destructor = Hinge_Destructor\n Collision = Hinge_Collision\n";
const char* const kRope = "Name = Joint\n Constructor = Point2Point_Constructor\n Destructor = Point2Point_Destructor\n";

TEST_F(JointTest, WithoutAHeldBodyThereIsNoJointAndNothingBreaks)
{
    Load("Ghost", "Hinge", kHinge);
    ASSERT_NE(joint_, nullptr);
    ASSERT_NE(held_, nullptr);
    EXPECT_EQ(held_->body, nullptr);
    EXPECT_EQ(Joint_GetConstraint(joint_), nullptr);
    EXPECT_EQ(Object_GetUserData(joint_), nullptr);
    Step(3);
    Object_Destroy(joint_);
    // A joint item at the root of a scene: its parent is the scene's root node.
    ObjectDescription d = Describe();
    d.constructor = Point2Point_Constructor;
    d.destructor = Point2Point_Destructor;
    Object* loose = Object_Create(pool, &d);  // outside a walk: no joint
    EXPECT_EQ(Joint_GetConstraint(loose), nullptr);
    Object_Destroy(loose);
}

TEST_F(JointTest, HingeLimitsAreGivenInDegreesAndStoredInTheHingesOrder)
{
    Load("Door", "Hinge", std::string(kHinge) + "FPVal0 = -45\n FPVal1 = 45\n FPVal3 = 2\n FPVal4 = 0.5\n FPVal5 = 0.25");
    PhysConstraint* c = Joint_GetConstraint(joint_);
    ASSERT_NE(c, nullptr);
    HingeConstraint* h = static_cast<HingeConstraint*>(c->object);
    EXPECT_EQ(h->limitOn, 1);
    EXPECT_NEAR(h->limit[0], -kPi / 4, 1e-6);
    EXPECT_NEAR(h->limit[1], kPi / 4, 1e-6);
    EXPECT_EQ(h->motorOn, 1);
    EXPECT_EQ(h->motor[0], 2.0f);
    EXPECT_EQ(h->damping, 0.5f);
    EXPECT_EQ(h->strength, 0.25f);
    EXPECT_EQ(c->attached, 1);

    ObjectPool_Destroy(pool);
    pool = ObjectPool_Create();
    Load("Door", "Hinge", kHinge);
    h = static_cast<HingeConstraint*>(Joint_GetConstraint(joint_)->object);
    EXPECT_EQ(h->limitOn, 0);  // 0 and 0: a free hinge
    EXPECT_EQ(h->motorOn, 0);
    EXPECT_EQ(h->damping, 1.0f);
}

TEST_F(JointTest, TheHingeTurnsAboutTheItemsAtAxisAndHoldsTheDoorInsideItsLimits)
{
    // The hinge item turned a quarter round: its at axis lies along x.
    Load("Door", "Hinge", std::string(kHinge) + "FPVal0 = -30\n FPVal1 = 30\n FPVal2 = 4",
         Vec3{0, 1, 0}, kPi / 2);
    ASSERT_NE(Joint_GetConstraint(joint_), nullptr);
    EXPECT_NEAR(std::fabs(g_itemAt.x), 1.0f, 1e-4);
    Step(1);
    Vec3 w;
    PhysBody_GetAngularVelocity(held_->body, &w);
    // Kept at axis x FPVal2 every frame (read after the frame's update).
    EXPECT_NEAR(w.x, g_itemAt.x * 4.0f, 1e-4);
    EXPECT_NEAR(w.y, 0.0f, 1e-4);
    EXPECT_NEAR(w.z, 0.0f, 1e-4);
    HingeConstraint* h = static_cast<HingeConstraint*>(Joint_GetConstraint(joint_)->object);
    Vec3 pivot0;
    PhysBody_GetPosition(held_->body, &pivot0);
    float maxAngle = 0.0f;
    for (int i = 0; i < 120; ++i) {
        Step(1);
        maxAngle = std::max(maxAngle, std::fabs(h->Angle()));
    }
    EXPECT_GT(maxAngle, 0.4f);           // it turned
    EXPECT_LT(maxAngle, 30 * kPi / 180 + 0.05f);  // within its limits
    // The pivot point stays put: the door's top edge centre is the pivot.
    Vec3 p;
    PhysBody_GetPosition(held_->body, &p);
    EXPECT_LT(std::fabs(p.x - pivot0.x), 0.05f);
}

TEST_F(JointTest, APointToPointFactorOfOneKeepsVelocitiesAndKeepsTheBodyAwake)
{
    Load("Door", "Rope", std::string(kRope) + "FPVal0 = 1\n FPVal2 = 1", Vec3{0, 1, 0});
    ASSERT_NE(Joint_GetConstraint(joint_), nullptr);
    EXPECT_EQ(joint_->update, Point2Point_Update);
    const Vec3 v{0.3f, 0.0f, 0.7f};
    PhysBody_SetLinearVelocity(held_->body, &v);
    PhysBody_SetActive(held_->body, 0);
    PhysBody_SetLinearVelocity(held_->body, &v);
    float dt = 0.0f;
    Object_Update(joint_, &dt);
    Vec3 got;
    PhysBody_GetLinearVelocity(held_->body, &got);
    EXPECT_EQ(Dist(got, v), 0.0f);
    EXPECT_EQ(PhysBody_IsActive(held_->body), 1);
    // The rope holds: the door hangs from the pivot 1 above its origin.
    Step(120);
    Vec3 p;
    PhysBody_GetPosition(held_->body, &p);
    EXPECT_NEAR(p.y, 2.0f, 0.1f);
}

TEST_F(JointTest, AJointWhoseHeldObjectIsDestroyedLetsGo)
{
    for (const char* keys : {kHinge, kRope}) {
        Load("Door", "Joint", std::string(keys) + "FPVal2 = 1\n", Vec3{0, 1, 0});
        ASSERT_NE(Joint_GetConstraint(joint_), nullptr) << keys;
        Object_Destroy(held_);
        Step(2);  // the Update finds the serial gone
        EXPECT_EQ(Joint_GetConstraint(joint_), nullptr) << keys;
        EXPECT_EQ(List_Count(phys->constraintPool), 0u) << keys;
        // A new object in the freed record is not taken for the old one.
        ObjectDescription d = Describe("NOVISUAL", "SPHERE1");
        Object* other = Object_Create(pool, &d);
        Step(1);
        Object_Destroy(other);
        Object_Destroy(joint_);
    }
}

}  // namespace
